#include "kelm-sim/SimModule.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kelm::sim {
namespace {

constexpr std::uint8_t kReadCoils = 1;
constexpr std::uint8_t kReadDiscreteInputs = 2;
constexpr std::uint8_t kReadHoldingRegisters = 3;
constexpr std::uint8_t kReadInputRegisters = 4;
constexpr std::uint8_t kWriteSingleCoil = 5;
constexpr std::uint8_t kWriteSingleRegister = 6;
constexpr std::uint8_t kWriteMultipleCoils = 15;
constexpr std::uint8_t kWriteMultipleRegisters = 16;

// Modbus limits on the quantity of one request.
constexpr unsigned kMaxReadBits = 2000;
constexpr unsigned kMaxReadRegisters = 125;
constexpr unsigned kMaxWriteBits = 1968;
constexpr unsigned kMaxWriteRegisters = 123;

constexpr std::uint8_t kType8I8T = 10;
constexpr std::uint8_t kType16I = 11;
constexpr std::uint8_t kType16T = 12;
constexpr std::uint8_t kType8RY = 13;
constexpr std::uint8_t kType8AS = 14;
constexpr std::uint8_t kType8ASP = 15;
constexpr std::uint8_t kType8AD = 16;
constexpr std::uint8_t kType2AO = 17;

// Full scale of the KELM-8AD ranges by mode index (mA for index 0, else V).
constexpr double k8AdFullScale[8] = {20, 10, 5, 2.5, 1.2, 0.6, 0.3, 0.15};

// Half-period of the slow square wave on digital input ch: 1 s for DI0,
// growing by 0.5 s per channel, so the lamps blink at visibly different rates.
constexpr SimTime InputHalfPeriod(unsigned ch) {
    return SimTime{500'000 * static_cast<std::int64_t>(ch + 2)};
}

// Reads of the request PDU; positions past the end read 0 (lengths are
// checked before any value is used, this only keeps every read in bounds).
std::uint8_t At(const ByteString& b, std::size_t i) {
    return i < b.size() ? b[i] : 0;
}
std::uint16_t WordAt(const ByteString& b, std::size_t i) {
    return static_cast<std::uint16_t>((At(b, i) << 8) | At(b, i + 1));
}
void PutWord(ByteString& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v >> 8));
    b.push_back(static_cast<std::uint8_t>(v & 0xFF));
}

bool InBlock(int base, unsigned count, unsigned reg, unsigned* ch) {
    if (base < 0 || reg < static_cast<unsigned>(base) || reg >= static_cast<unsigned>(base) + count)
        return false;
    *ch = reg - static_cast<unsigned>(base);
    return true;
}

}  // namespace

ByteString ExceptionReply(std::uint8_t fc, std::uint8_t code) {
    return ByteString{static_cast<std::uint8_t>(fc | 0x80), code};
}

std::optional<RegisterLayout> LayoutOf(std::uint8_t typeCode) {
    RegisterLayout l;
    switch (typeCode) {
        case kType8I8T:
            l.inputs = 8;
            l.outputs = 8;
            l.initialStates = 6;
            l.outputModes = 7;
            l.pulseOnTime = 8;
            l.pulseOffTime = 16;
            l.pulseContinuous = 24;
            l.pulseCount = 32;
            l.filterTime = 48;
            l.countControl = 56;
            l.inputCount = 64;
            l.holdingCount = 80;
            return l;
        case kType16I:
            l.inputs = 16;
            l.filterTime = 6;
            l.countControl = 22;
            l.inputCount = 38;
            l.holdingCount = 70;
            return l;
        case kType16T:
            l.outputs = 16;
            l.initialStates = 6;
            l.outputModes = 7;
            l.pulseOnTime = 8;
            l.pulseOffTime = 24;
            l.pulseContinuous = 40;
            l.pulseCount = 56;
            l.holdingCount = 88;
            return l;
        case kType8RY:
            l.outputs = 8;
            l.initialStates = 6;
            l.holdingCount = 7;
            return l;
        case kType8AS:
        case kType8ASP:
            l.analogInMode = 6;
            l.holdingCount = 14;
            l.inputRegisterCount = 8;
            return l;
        case kType8AD:
            l.analogInMode = 6;
            l.holdingCount = 14;
            l.inputRegisterCount = 12;
            return l;
        case kType2AO:
            l.analogOutMode = 6;
            l.holdingCount = 10;
            return l;
        default:
            return std::nullopt;
    }
}

SimModule::SimModule(const ModuleConfig& config, SimTime start)
    : config_(config),
      info_(FindModelByCode(config.typeCode)),
      layout_(LayoutOf(config.typeCode).value_or(RegisterLayout{})),
      start_(start) {
    if (info_ == nullptr) info_ = &Models()[0];  // unreachable: Options rejects unknown codes
    holding_.assign(layout_.holdingCount, 0);
    holding_[0] = config_.typeCode;
    holding_[1] = kHardwareVersion;
    holding_[2] = kSoftwareVersion;
    holding_[3] = config_.format;
    holding_[4] = config_.address;
    holding_[5] = ProtocolLetter(config_.protocol);
    outputs_.resize(layout_.outputs);
    inputs_.resize(layout_.inputs);
    for (unsigned ch = 0; ch < layout_.outputs; ++ch) {
        if (layout_.pulseOnTime >= 0) holding_[layout_.pulseOnTime + ch] = kDefaultPulseTime;
        if (layout_.pulseOffTime >= 0) holding_[layout_.pulseOffTime + ch] = kDefaultPulseTime;
        if (layout_.pulseContinuous >= 0) holding_[layout_.pulseContinuous + ch] = kCharStop;
    }
    for (unsigned ch = 0; ch < layout_.inputs; ++ch) {
        if (layout_.filterTime >= 0) holding_[layout_.filterTime + ch] = kDefaultFilterTime;
        if (layout_.countControl >= 0) holding_[layout_.countControl + ch] = kCharStop;
    }
    if (layout_.analogOutMode >= 0) {
        holding_[6] = kCharStop;  // "0": 4-20 mA
        holding_[7] = kCharStop;
        holding_[8] = 4000;  // 4 mA
        holding_[9] = 4000;
    }
    if (layout_.analogInMode >= 0)
        for (unsigned ch = 0; ch < 8; ++ch) holding_[6 + ch] = 0x0030;
    // Outputs come up in their power-on states (all off in a new module).
    if (layout_.initialStates >= 0)
        for (unsigned ch = 0; ch < layout_.outputs; ++ch)
            outputs_[ch].level = ((holding_[layout_.initialStates] >> ch) & 1u) != 0;
}

std::string SimModule::Name() const {
    return std::string(info_->name) + "@" + std::to_string(config_.address);
}

ByteString SimModule::Handle(const ByteString& request, SimTime now) {
    if (request.empty()) return {};
    const std::uint8_t fc = request[0];
    switch (fc) {
        case kReadCoils:
        case kReadDiscreteInputs:
            return ReadBits(fc, request, now);
        case kReadHoldingRegisters:
        case kReadInputRegisters:
            return ReadRegisters(fc, request, now);
        case kWriteSingleCoil:
            return WriteSingleCoil(request, now);
        case kWriteSingleRegister:
            return WriteSingleRegister(request, now);
        case kWriteMultipleCoils:
            return WriteMultipleCoils(request, now);
        case kWriteMultipleRegisters:
            return WriteMultipleRegisters(request, now);
        default:
            return ExceptionReply(fc, kIllegalFunction);
    }
}

void SimModule::ApplyPendingSettings() {
    if (!pending_) return;
    config_.format = pending_->format;
    config_.address = pending_->address;
    config_.protocol = pending_->protocol;
    holding_[3] = config_.format;
    holding_[4] = config_.address;
    holding_[5] = ProtocolLetter(config_.protocol);
    pending_.reset();
}

// ---- reads -----------------------------------------------------------------

ByteString SimModule::ReadBits(std::uint8_t fc, const ByteString& req, SimTime now) const {
    const unsigned count = fc == kReadCoils ? layout_.outputs : layout_.inputs;
    if (count == 0) return ExceptionReply(fc, kIllegalFunction);
    if (req.size() != 5) return ExceptionReply(fc, kIllegalDataValue);
    const unsigned start = WordAt(req, 1);
    const unsigned qty = WordAt(req, 3);
    if (qty < 1 || qty > kMaxReadBits) return ExceptionReply(fc, kIllegalDataValue);
    if (start + qty > count) return ExceptionReply(fc, kIllegalDataAddress);
    const unsigned bytes = (qty + 7) / 8;
    ByteString reply{fc, static_cast<std::uint8_t>(bytes)};
    reply.resize(2 + bytes, 0);
    for (unsigned i = 0; i < qty; ++i) {
        const bool on = fc == kReadCoils ? Coil(start + i, now) : DiscreteInput(start + i, now);
        if (on) reply[2 + i / 8] = static_cast<std::uint8_t>(reply[2 + i / 8] | (1u << (i % 8)));
    }
    return reply;
}

ByteString SimModule::ReadRegisters(std::uint8_t fc, const ByteString& req, SimTime now) const {
    const unsigned count =
        fc == kReadHoldingRegisters ? layout_.holdingCount : layout_.inputRegisterCount;
    if (count == 0) return ExceptionReply(fc, kIllegalFunction);
    if (req.size() != 5) return ExceptionReply(fc, kIllegalDataValue);
    const unsigned start = WordAt(req, 1);
    const unsigned qty = WordAt(req, 3);
    if (qty < 1 || qty > kMaxReadRegisters) return ExceptionReply(fc, kIllegalDataValue);
    if (start + qty > count) return ExceptionReply(fc, kIllegalDataAddress);
    ByteString reply{fc, static_cast<std::uint8_t>(2 * qty)};
    for (unsigned i = 0; i < qty; ++i)
        PutWord(reply, fc == kReadHoldingRegisters ? HoldingRegister(start + i, now)
                                                   : InputRegister(start + i, now));
    return reply;
}

std::uint16_t SimModule::HoldingRegister(unsigned reg, SimTime now) const {
    if (reg >= holding_.size()) return 0;
    unsigned ch = 0;
    if (InBlock(layout_.pulseContinuous, layout_.outputs, reg, &ch))
        return outputs_[ch].continuous ? kCharStart : kCharStop;
    if (InBlock(layout_.pulseCount, 2 * layout_.outputs, reg, &ch)) {
        const std::uint32_t left = PulsesRemaining(ch / 2, now);
        return static_cast<std::uint16_t>(ch % 2 == 0 ? left >> 16 : left & 0xFFFF);
    }
    if (InBlock(layout_.countControl, layout_.inputs, reg, &ch))
        return inputs_[ch].counting ? kCharStart : kCharStop;
    if (InBlock(layout_.inputCount, 2 * layout_.inputs, reg, &ch)) {
        const std::uint32_t n = InputCount(ch / 2, now);
        return static_cast<std::uint16_t>(ch % 2 == 0 ? n >> 16 : n & 0xFFFF);
    }
    return holding_[reg];
}

std::uint16_t SimModule::InputRegister(unsigned reg, SimTime now) const {
    if (reg >= layout_.inputRegisterCount) return 0;
    if (config_.typeCode == kType8AD) {
        // Eight 24-bit counts packed back to back, most significant byte first.
        auto byteAt = [&](unsigned pos) -> std::uint8_t {
            const std::uint32_t c = AnalogCount(pos / 3, now);
            return static_cast<std::uint8_t>(c >> (8 * (2 - pos % 3)));
        };
        return static_cast<std::uint16_t>((byteAt(2 * reg) << 8) | byteAt(2 * reg + 1));
    }
    return static_cast<std::uint16_t>(AnalogCount(reg, now));
}

bool SimModule::Coil(unsigned ch, SimTime now) const {
    return ch < layout_.outputs && OutputLevel(ch, now);
}

bool SimModule::DiscreteInput(unsigned ch, SimTime now) const {
    if (ch >= layout_.inputs) return false;
    // The switch input follows the line after its debounce filter time.
    const std::uint16_t filter = layout_.filterTime >= 0 ? holding_[layout_.filterTime + ch] : 0;
    const SimTime t = Elapsed(now) - SimTime{100 * static_cast<std::int64_t>(filter)};
    return t.count() >= 0 && RawInput(ch, t);
}

// ---- writes ----------------------------------------------------------------

ByteString SimModule::WriteSingleCoil(const ByteString& req, SimTime now) {
    if (layout_.outputs == 0) return ExceptionReply(kWriteSingleCoil, kIllegalFunction);
    if (req.size() != 5) return ExceptionReply(kWriteSingleCoil, kIllegalDataValue);
    const unsigned ch = WordAt(req, 1);
    const std::uint16_t value = WordAt(req, 3);
    if (value != 0xFF00 && value != 0x0000)
        return ExceptionReply(kWriteSingleCoil, kIllegalDataValue);
    if (ch >= layout_.outputs) return ExceptionReply(kWriteSingleCoil, kIllegalDataAddress);
    // An output set to pulse mode no longer obeys switch commands.
    if (PulseMode(ch)) return ExceptionReply(kWriteSingleCoil, kIllegalDataValue);
    (void)now;
    outputs_[ch].level = value == 0xFF00;
    return req;
}

ByteString SimModule::WriteMultipleCoils(const ByteString& req, SimTime now) {
    if (layout_.outputs == 0) return ExceptionReply(kWriteMultipleCoils, kIllegalFunction);
    if (req.size() < 6) return ExceptionReply(kWriteMultipleCoils, kIllegalDataValue);
    const unsigned start = WordAt(req, 1);
    const unsigned qty = WordAt(req, 3);
    const unsigned byteCount = At(req, 5);
    if (qty < 1 || qty > kMaxWriteBits || byteCount != (qty + 7) / 8 || req.size() != 6 + byteCount)
        return ExceptionReply(kWriteMultipleCoils, kIllegalDataValue);
    if (start + qty > layout_.outputs)
        return ExceptionReply(kWriteMultipleCoils, kIllegalDataAddress);
    (void)now;
    // The group write sets the switch outputs; pulse outputs keep running.
    for (unsigned i = 0; i < qty; ++i) {
        const unsigned ch = start + i;
        if (PulseMode(ch)) continue;
        outputs_[ch].level = ((At(req, 6 + i / 8) >> (i % 8)) & 1u) != 0;
    }
    return ByteString(req.begin(), req.begin() + 5);
}

ByteString SimModule::WriteSingleRegister(const ByteString& req, SimTime now) {
    if (req.size() != 5) return ExceptionReply(kWriteSingleRegister, kIllegalDataValue);
    const unsigned reg = WordAt(req, 1);
    const std::uint16_t value = WordAt(req, 3);
    if (reg >= layout_.holdingCount)
        return ExceptionReply(kWriteSingleRegister, kIllegalDataAddress);
    if (const std::uint8_t code = CheckWrite(reg, value); code != 0)
        return ExceptionReply(kWriteSingleRegister, code);
    ApplyWrites(reg, {value}, now);
    return req;
}

ByteString SimModule::WriteMultipleRegisters(const ByteString& req, SimTime now) {
    if (req.size() < 6) return ExceptionReply(kWriteMultipleRegisters, kIllegalDataValue);
    const unsigned start = WordAt(req, 1);
    const unsigned qty = WordAt(req, 3);
    const unsigned byteCount = At(req, 5);
    if (qty < 1 || qty > kMaxWriteRegisters || byteCount != 2 * qty || req.size() != 6 + byteCount)
        return ExceptionReply(kWriteMultipleRegisters, kIllegalDataValue);
    if (start + qty > layout_.holdingCount)
        return ExceptionReply(kWriteMultipleRegisters, kIllegalDataAddress);
    std::vector<std::uint16_t> values(qty);
    for (unsigned i = 0; i < qty; ++i) {
        values[i] = WordAt(req, 6 + 2 * i);
        if (const std::uint8_t code = CheckWrite(start + i, values[i]); code != 0)
            return ExceptionReply(kWriteMultipleRegisters, code);
    }
    ApplyWrites(start, values, now);
    return ByteString(req.begin(), req.begin() + 5);
}

std::uint8_t SimModule::CheckWrite(unsigned reg, std::uint16_t value) const {
    if (reg >= layout_.holdingCount || reg <= 2) return kIllegalDataAddress;
    unsigned ch = 0;
    switch (reg) {
        case 3:
            return value <= kMaxFormatCode ? 0 : kIllegalDataValue;
        case 4:
            return value >= 1 && value <= 247 ? 0 : kIllegalDataValue;
        case 5:
            return value == kLetterRtu || value == kLetterAscii ? 0 : kIllegalDataValue;
        default:
            break;
    }
    const bool startStop = value == kCharStart || value == kCharStop;
    if (InBlock(layout_.pulseOnTime, layout_.outputs, reg, &ch) ||
        InBlock(layout_.pulseOffTime, layout_.outputs, reg, &ch))
        return value >= kMinPulseTime ? 0 : kIllegalDataValue;
    if (InBlock(layout_.pulseContinuous, layout_.outputs, reg, &ch))
        return startStop ? 0 : kIllegalDataValue;
    if (InBlock(layout_.filterTime, layout_.inputs, reg, &ch))
        return value >= kMinFilterTime && value <= kMaxFilterTime ? 0 : kIllegalDataValue;
    if (InBlock(layout_.countControl, layout_.inputs, reg, &ch))
        return startStop ? 0 : kIllegalDataValue;
    if (InBlock(layout_.inputCount, 2 * layout_.inputs, reg, &ch)) return kIllegalDataAddress;
    if (InBlock(layout_.analogOutMode, 2, reg, &ch)) return startStop ? 0 : kIllegalDataValue;
    if (InBlock(layout_.analogInMode, 8, reg, &ch)) {
        const std::uint16_t last = config_.typeCode == kType8AD ? 0x0037 : 0x0031;
        return value >= 0x0030 && value <= last ? 0 : kIllegalDataValue;
    }
    return 0;  // initial states, mode word, pulse counts, analog output values
}

void SimModule::ApplyWrites(unsigned first, const std::vector<std::uint16_t>& values, SimTime now) {
    // Pulse counts span two registers; a write of either half (or both)
    // restarts the counted run with the combined value once all is written.
    std::vector<std::optional<std::uint32_t>> newCounts(layout_.outputs);
    const std::uint16_t channelMask =
        layout_.outputs >= 16 ? 0xFFFF : static_cast<std::uint16_t>((1u << layout_.outputs) - 1);
    for (std::size_t i = 0; i < values.size(); ++i) {
        const unsigned reg = first + static_cast<unsigned>(i);
        const std::uint16_t value = values[i];
        unsigned ch = 0;
        if (reg >= 3 && reg <= 5) {
            if (!pending_)
                pending_ = PendingSettings{config_.format, config_.address, config_.protocol};
            if (reg == 3) pending_->format = static_cast<std::uint8_t>(value);
            if (reg == 4) pending_->address = static_cast<std::uint8_t>(value);
            if (reg == 5)
                pending_->protocol = value == kLetterRtu ? Protocol::Rtu : Protocol::Ascii;
        } else if (static_cast<int>(reg) == layout_.initialStates) {
            holding_[reg] = value & channelMask;
        } else if (static_cast<int>(reg) == layout_.outputModes) {
            const std::uint16_t changed =
                static_cast<std::uint16_t>((holding_[reg] ^ value) & channelMask);
            holding_[reg] = value & channelMask;
            // A change of mode leaves the output off and idle in its new role.
            for (unsigned c = 0; c < layout_.outputs; ++c)
                if ((changed >> c) & 1u) {
                    StopPulses(c);
                    outputs_[c].level = false;
                }
        } else if (InBlock(layout_.pulseOnTime, layout_.outputs, reg, &ch) ||
                   InBlock(layout_.pulseOffTime, layout_.outputs, reg, &ch)) {
            RebasePulses(ch, now);  // the pulses so far were made with the old times
            holding_[reg] = value;
        } else if (InBlock(layout_.pulseContinuous, layout_.outputs, reg, &ch)) {
            Output& o = outputs_[ch];
            if (value == kCharStart) {
                o.continuous = true;
                o.total = 0;
                o.runStart = now;
            } else {
                o.continuous = false;
            }
        } else if (InBlock(layout_.pulseCount, 2 * layout_.outputs, reg, &ch)) {
            const unsigned out = ch / 2;
            std::uint32_t v = newCounts[out].value_or(PulsesRemaining(out, now));
            v = ch % 2 == 0 ? (v & 0x0000FFFFu) | (static_cast<std::uint32_t>(value) << 16)
                            : (v & 0xFFFF0000u) | value;
            newCounts[out] = v;
        } else if (InBlock(layout_.countControl, layout_.inputs, reg, &ch)) {
            Input& in = inputs_[ch];
            if (value == kCharStart) {
                // Starting clears the count.
                in.counting = true;
                in.countAtMark = 0;
                in.mark = now;
            } else {
                in.countAtMark = InputCount(ch, now);
                in.counting = false;
            }
        } else {
            holding_[reg] = value;  // filter times, analog modes and values
        }
    }
    for (unsigned out = 0; out < layout_.outputs; ++out) {
        if (!newCounts[out]) continue;
        Output& o = outputs_[out];
        o.continuous = false;
        o.total = *newCounts[out];
        o.runStart = now;
    }
}

// ---- outputs ---------------------------------------------------------------

bool SimModule::PulseMode(unsigned ch) const {
    return layout_.outputModes >= 0 && ch < 16 && ((holding_[layout_.outputModes] >> ch) & 1u) != 0;
}

SimTime SimModule::PulsePeriod(unsigned ch) const {
    const std::int64_t on = holding_[layout_.pulseOnTime + ch];
    const std::int64_t off = holding_[layout_.pulseOffTime + ch];
    return SimTime{100 * (on + off)};  // times are in 0.1 ms
}

std::uint32_t SimModule::PulsesDone(unsigned ch, SimTime now) const {
    const Output& o = outputs_[ch];
    const SimTime run = now - o.runStart;
    if (run.count() <= 0) return 0;
    const std::int64_t done = run / PulsePeriod(ch);
    return static_cast<std::uint32_t>(std::min<std::int64_t>(done, 0xFFFFFFFF));
}

std::uint32_t SimModule::PulsesRemaining(unsigned ch, SimTime now) const {
    if (ch >= outputs_.size() || layout_.pulseOnTime < 0) return 0;
    const Output& o = outputs_[ch];
    if (o.total == 0) return 0;
    // A counted run only advances while the output is in pulse mode.
    if (!PulseMode(ch)) return o.total;
    const std::uint32_t done = PulsesDone(ch, now);
    return done >= o.total ? 0 : o.total - done;
}

bool SimModule::PulseRunning(unsigned ch, SimTime now) const {
    if (!PulseMode(ch) || layout_.pulseOnTime < 0) return false;
    return outputs_[ch].continuous || PulsesRemaining(ch, now) > 0;
}

bool SimModule::OutputLevel(unsigned ch, SimTime now) const {
    if (!PulseMode(ch)) return outputs_[ch].level;
    if (!PulseRunning(ch, now)) return false;
    const SimTime run = now - outputs_[ch].runStart;
    if (run.count() < 0) return false;
    const SimTime on{100 * static_cast<std::int64_t>(holding_[layout_.pulseOnTime + ch])};
    return run % PulsePeriod(ch) < on;
}

void SimModule::StopPulses(unsigned ch) {
    outputs_[ch].continuous = false;
    outputs_[ch].total = 0;
}

void SimModule::RebasePulses(unsigned ch, SimTime now) {
    Output& o = outputs_[ch];
    if (!PulseRunning(ch, now)) return;
    if (o.total != 0) o.total = PulsesRemaining(ch, now);
    o.runStart = now;
}

// ---- inputs ----------------------------------------------------------------

SimTime SimModule::Elapsed(SimTime now) const {
    return now > start_ ? now - start_ : SimTime{0};
}

bool SimModule::RawInput(unsigned ch, SimTime t) const {
    return (t / InputHalfPeriod(ch)) % 2 == 1;
}

std::uint32_t SimModule::RisingEdges(unsigned ch, SimTime t) const {
    // The line rises at H, 3H, 5H ... (H the half-period).
    const std::int64_t halves = t / InputHalfPeriod(ch);
    return static_cast<std::uint32_t>((halves + 1) / 2);
}

std::uint32_t SimModule::InputCount(unsigned ch, SimTime now) const {
    const Input& in = inputs_[ch];
    if (!in.counting) return in.countAtMark;
    return in.countAtMark + RisingEdges(ch, Elapsed(now)) - RisingEdges(ch, Elapsed(in.mark));
}

// ---- analog ----------------------------------------------------------------

double SimModule::AnalogSignal(unsigned ch, SimTime now) const {
    const double t = std::chrono::duration<double>(Elapsed(now)).count();
    if (config_.typeCode == kType2AO) {
        if (ch >= 2) return 0;
        return holding_[8 + ch] / 1000.0;  // uA -> mA, mV -> V
    }
    if (layout_.analogInMode < 0 || ch >= 8) return 0;  // no analog inputs here
    // A slow sine, a different period and phase per channel.
    const double period = 20.0 + 2.0 * ch;
    const double s = std::sin(2 * std::numbers::pi * t / period + ch * std::numbers::pi / 4);
    const unsigned mode = static_cast<unsigned>(holding_[6 + ch] - 0x30);
    if (config_.typeCode == kType8AD) return 0.6 * k8AdFullScale[std::min(mode, 7u)] * s;
    return mode == 0 ? 12.0 + 6.0 * s  // 4-20 mA loop
                     : 5.0 + 4.0 * s;  // 0-10 V
}

std::uint32_t SimModule::AnalogCount(unsigned ch, SimTime now) const {
    const double v = AnalogSignal(ch, now);
    const unsigned mode = static_cast<unsigned>(holding_[6 + ch] - 0x30);
    if (config_.typeCode == kType8AD) {
        // Bipolar: 65535 is zero, 64000 counts one full scale.
        const double c = 65535.0 + v / k8AdFullScale[std::min(mode, 7u)] * 64000.0;
        return static_cast<std::uint32_t>(std::clamp(std::lround(c), 0L, 0xFFFFFFL));
    }
    const double fullScale = mode == 0 ? 20.0 : 10.0;
    const double perFullScale = config_.typeCode == kType8AS ? 4000.0 : 64000.0;
    return static_cast<std::uint32_t>(
        std::clamp(std::lround(v / fullScale * perFullScale), 0L, 0xFFFFL));
}

}  // namespace kelm::sim
