#include "models/ModelMap.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "modbus/Checks.h"
#include "modbus/CommFormats.h"

namespace kelm::models {

namespace {

using enum Table;
using enum Encoding;
using enum Role;

constexpr Choice kOnOff[] = {{"OFF", "off", 0, {}}, {"ON", "on", 1, {}}};
constexpr Choice kOutputModes[] = {{"开关量输出", "switch", 0, {}}, {"脉冲输出", "pulse", 1, {}}};
constexpr Choice kRunStop[] = {{"停止", "stop", kCharStop, {}}, {"运行", "run", kCharStart, {}}};
constexpr Choice kProtocols[] = {{"RTU", "rtu", kProtocolLetterRtu, {}},
                                 {"ASCII", "ascii", kProtocolLetterAscii, {}}};
// Bipolar ranges of the KELM-8AD: full scale and the decimals of the value.
constexpr Choice k8ADModes[] = {
    {"±20mA", "+-20mA", 0x30, "mA", 20, 4}, {"±10V", "+-10V", 0x31, "V", 10, 4},
    {"±5V", "+-5V", 0x32, "V", 5, 5},       {"±2.5V", "+-2.5V", 0x33, "V", 2.5, 5},
    {"±1.2V", "+-1.2V", 0x34, "V", 1.2, 5}, {"±0.6V", "+-0.6V", 0x35, "V", 0.6, 5},
    {"±0.3V", "+-0.3V", 0x36, "V", 0.3, 6}, {"±0.15V", "+-0.15V", 0x37, "V", 0.15, 6},
};
constexpr Choice k8ASModes[] = {
    {"电流", "current", 0x30, "mA", 20, 3},
    {"电压", "voltage", 0x31, "V", 10, 3},
};
// Analog outputs: microamperes in current mode, millivolts in voltage mode.
constexpr Choice kAOModes[] = {
    {"4-20mA", "4-20mA", 0x30, "uA", 0, 0, 4000, 20000},
    {"0-10V", "0-10V", 0x31, "mV", 0, 0, 0, 10000},
};

constexpr std::uint32_t kU32Max = 0xFFFFFFFFu;

// clang-format off
constexpr Item kIdentity[] = {
    {"type", {}, Holding, Access::Read, LowByte, Identity, 0, 1, 0, 255, {}, "型号",
     "device type", {kFcReadHolding, 0, 3}, 0, 0},
    {"hw_version", {}, Holding, Access::Read, LowByte, Identity, 1, 1, 0, 255, {}, "硬件版本",
     "hardware version", {kFcReadHolding, 0, 3}, 0, 0},
    {"sw_version", {}, Holding, Access::Read, LowByte, Identity, 2, 1, 0, 255, {}, "软件版本",
     "software version", {kFcReadHolding, 0, 3}, 0, 0},
    // Registers 3-5 are read by the link check's broadcast and written
    // together by the new-parameter write.
    {"com_format", {}, Holding, Access::ReadWrite, FormatCode, Config, 3, 1, 0, 15, {}, "串口格式",
     "serial format", {kFcReadHolding, 3, 3}, kFcWriteRegisters, 0},
    {"address", {}, Holding, Access::ReadWrite, Word, Config, 4, 1, 1, 247, {}, "地址",
     "slave address", {kFcReadHolding, 3, 3}, kFcWriteRegisters, 0},
    {"protocol", {}, Holding, Access::ReadWrite, ProtocolLetter, Config, 5, 1,
     kProtocolLetterAscii, kProtocolLetterRtu, {}, "协议", "protocol", {kFcReadHolding, 3, 3},
     kFcWriteRegisters, 0, kProtocols},
};
// clang-format on

// clang-format off
constexpr Item k8I8T[] = {
    {"di", "DI", DiscreteInput, Access::Read, Bit, Live, 0, 8, 0, 1, {}, "输入状态", "input state",
     {kFcReadInputs, 0, 8}, 0, 0, kOnOff},
    {"do", "DO", Coil, Access::ReadWrite, Bit, Live, 0, 8, 0, 1, {}, "输出状态", "output state",
     {kFcReadCoils, 0, 8}, kFcWriteCoil, kFcWriteCoils, kOnOff},
    {"do_init", "DO", Holding, Access::ReadWrite, WordBits, Config, 6, 8, 0, 0xFF, {}, "初始状态",
     "initial output states", {kFcReadHolding, 6, 2}, kFcWriteRegister, 0, kOnOff},
    {"do_mode", "DO", Holding, Access::ReadWrite, WordBits, Config, 7, 8, 0, 0xFF, {}, "输出模式",
     "output mode", {kFcReadHolding, 6, 2}, kFcWriteRegister, 0, kOutputModes},
    {"pulse_on", "DO", Holding, Access::ReadWrite, Word, Config, 8, 8, 2, 65535, "x0.1ms",
     "脉冲ON时间", "pulse ON time", {kFcReadHolding, 8, 16}, kFcWriteRegister, 0},
    {"pulse_off", "DO", Holding, Access::ReadWrite, Word, Config, 16, 8, 2, 65535, "x0.1ms",
     "脉冲OFF时间", "pulse OFF time", {kFcReadHolding, 8, 16}, kFcWriteRegister, 0},
    {"pulse_run", "DO", Holding, Access::ReadWrite, CharSwitch, Live, 24, 8, kCharStop,
     kCharStart, {}, "连续脉冲", "continuous pulse output", {kFcReadHolding, 24, 24},
     kFcWriteRegister, 0, kRunStop},
    {"pulse_count", "DO", Holding, Access::ReadWrite, DWordHighFirst, Live, 32, 8, 0, kU32Max,
     {}, "脉冲数量", "pulse count", {kFcReadHolding, 24, 24}, kFcWriteRegisters, 0},
    {"di_filter", "DI", Holding, Access::ReadWrite, Word, Config, 48, 8, 100, 10000, "x0.1ms",
     "滤波时间", "filter time", {kFcReadHolding, 48, 8}, kFcWriteRegister, 0},
    {"di_count_run", "DI", Holding, Access::ReadWrite, CharSwitch, Live, 56, 8, kCharStop,
     kCharStart, {}, "脉冲计数", "pulse counting", {kFcReadHolding, 56, 24}, kFcWriteRegister, 0,
     kRunStop},
    {"di_count", "DI", Holding, Access::Read, DWordHighFirst, Live, 64, 8, 0, kU32Max, {},
     "计数值", "pulse count", {kFcReadHolding, 56, 24}, 0, 0},
};
// clang-format on

// clang-format off
constexpr Item k16I[] = {
    {"di", "DI", DiscreteInput, Access::Read, Bit, Live, 0, 16, 0, 1, {}, "输入状态", "input state",
     {kFcReadInputs, 0, 16}, 0, 0, kOnOff},
    {"di_filter", "DI", Holding, Access::ReadWrite, Word, Config, 6, 16, 100, 10000, "x0.1ms",
     "滤波时间", "filter time", {kFcReadHolding, 6, 16}, kFcWriteRegister, 0},
    {"di_count_run", "DI", Holding, Access::ReadWrite, CharSwitch, Live, 22, 16, kCharStop,
     kCharStart, {}, "脉冲计数", "pulse counting", {kFcReadHolding, 22, 48}, kFcWriteRegister, 0,
     kRunStop},
    {"di_count", "DI", Holding, Access::Read, DWordHighFirst, Live, 38, 16, 0, kU32Max, {},
     "计数值", "pulse count", {kFcReadHolding, 22, 48}, 0, 0},
};
// clang-format on

// clang-format off
constexpr Item k16T[] = {
    {"do", "DO", Coil, Access::ReadWrite, Bit, Live, 0, 16, 0, 1, {}, "输出状态", "output state",
     {kFcReadCoils, 0, 16}, kFcWriteCoil, kFcWriteCoils, kOnOff},
    {"do_init", "DO", Holding, Access::ReadWrite, WordBits, Config, 6, 16, 0, 0xFFFF, {},
     "初始状态", "initial output states", {kFcReadHolding, 6, 2}, kFcWriteRegister, 0, kOnOff},
    {"do_mode", "DO", Holding, Access::ReadWrite, WordBits, Config, 7, 16, 0, 0xFFFF, {},
     "输出模式", "output mode", {kFcReadHolding, 6, 2}, kFcWriteRegister, 0, kOutputModes},
    {"pulse_on", "DO", Holding, Access::ReadWrite, Word, Config, 8, 16, 2, 65535, "x0.1ms",
     "脉冲ON时间", "pulse ON time", {kFcReadHolding, 8, 32}, kFcWriteRegister, 0},
    {"pulse_off", "DO", Holding, Access::ReadWrite, Word, Config, 24, 16, 2, 65535, "x0.1ms",
     "脉冲OFF时间", "pulse OFF time", {kFcReadHolding, 8, 32}, kFcWriteRegister, 0},
    {"pulse_run", "DO", Holding, Access::ReadWrite, CharSwitch, Live, 40, 16, kCharStop,
     kCharStart, {}, "连续脉冲", "continuous pulse output", {kFcReadHolding, 40, 48},
     kFcWriteRegister, 0, kRunStop},
    {"pulse_count", "DO", Holding, Access::ReadWrite, DWordHighFirst, Live, 56, 16, 0, kU32Max,
     {}, "脉冲数量", "pulse count", {kFcReadHolding, 40, 48}, kFcWriteRegisters, 0},
};
// clang-format on

// clang-format off
constexpr Item k8RY[] = {
    {"ry", "RY", Coil, Access::ReadWrite, Bit, Live, 0, 8, 0, 1, {}, "继电器状态", "relay state",
     {kFcReadCoils, 0, 8}, kFcWriteCoil, kFcWriteCoils, kOnOff},
    {"ry_init", "RY", Holding, Access::ReadWrite, WordBits, Config, 6, 8, 0, 0xFF, {}, "上电初始状态",
     "power-on initial states", {kFcReadHolding, 6, 1}, kFcWriteRegister, 0, kOnOff},
};
// clang-format on

// clang-format off
constexpr Item k2AO[] = {
    // Written as a pair (FC 16 at 6, two registers), like the panel does.
    {"ao_mode", "AO", Holding, Access::ReadWrite, ModeChar, Config, 6, 2, 0x30, 0x31, {}, "模式",
     "mode", {kFcReadHolding, 6, 4}, 0, kFcWriteRegisters, kAOModes},
    // uA in current mode, mV in voltage mode: the mode's choice has the range.
    {"ao", "AO", Holding, Access::ReadWrite, Word, Live, 8, 2, 0, 20000, {}, "输出值",
     "output value", {kFcReadHolding, 6, 4}, kFcWriteRegister, kFcWriteRegisters},
};
// clang-format on

// clang-format off
constexpr Item k8AD[] = {
    {"ai_mode", "CH", Holding, Access::ReadWrite, ModeChar, Config, 6, 8, 0x30, 0x37, {}, "模式",
     "mode", {kFcReadHolding, 6, 8}, 0, kFcWriteRegisters, k8ADModes},
    {"ai", "AI", InputRegister, Access::Read, Packed24, Live, 0, 8, 0, 0xFFFFFF, {}, "测量值",
     "measurement", {kFcReadInputRegisters, 0, 12}, 0, 0},
};
// clang-format on

// clang-format off
constexpr Item k8AS[] = {
    {"ai_mode", "CH", Holding, Access::ReadWrite, ModeChar, Config, 6, 8, 0x30, 0x31, {}, "模式",
     "mode", {kFcReadHolding, 6, 8}, 0, kFcWriteRegisters, k8ASModes},
    {"ai", "AI", InputRegister, Access::Read, Word, Live, 0, 8, 0, 0xFFFF, {}, "测量值",
     "measurement", {kFcReadInputRegisters, 0, 8}, 0, 0},
};
// clang-format on

constexpr AnalogInput kBipolar24{65535.0, 64000.0, true, 0};
constexpr AnalogInput k8ASInput{0.0, 4000.0, false, 3};
constexpr AnalogInput k8ASPInput{0.0, 64000.0, false, 3};

constexpr Model kModels[] = {
    {"KELM-8I8T", 10, {8, 8, 8}, k8I8T, {}, {}, {}},
    {"KELM-16I", 11, {16, 0, 0}, k16I, {}, {}, {}},
    {"KELM-16T", 12, {0, 0, 16}, k16T, {}, {}, {}},
    {"KELM-8RY", 13, {}, k8RY, {}, {}, {}},
    {"KELM-8AS", 14, {}, k8AS, k8ASInput, "ai_mode", "ai"},
    {"KELM-8ASP", 15, {}, k8AS, k8ASPInput, "ai_mode", "ai"},
    {"KELM-8AD", 16, {}, k8AD, kBipolar24, "ai_mode", "ai", ModeReadBack::AllOrNone},
    {"KELM-2AO", 17, {}, k2AO, {}, "ao_mode", "ao", ModeReadBack::FirstOrOther},
};

Table TableOf(std::uint8_t fc) {
    switch (fc) {
        case kFcReadCoils:
        case kFcWriteCoil:
        case kFcWriteCoils:
            return Coil;
        case kFcReadInputs:
            return DiscreteInput;
        case kFcReadInputRegisters:
            return InputRegister;
        default:
            return Holding;
    }
}

bool IsBitTable(Table t) {
    return t == Coil || t == DiscreteInput;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string Hex2(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02X", v & 0xFFu);
    return buf;
}

std::string Hex4(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%04X", v & 0xFFFFu);
    return buf;
}

std::uint16_t Be16(std::span<const std::uint8_t> b, std::size_t i) {
    return static_cast<std::uint16_t>(b[i] << 8 | b[i + 1]);
}

void Fail(std::string* error, std::string text) {
    if (error) *error = std::move(text);
}

// Adds one to a string of decimal digits.
void Increment(std::string& digits) {
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        if (*it != '9') {
            ++*it;
            return;
        }
        *it = '0';
    }
    digits.insert(digits.begin(), '1');
}

}  // namespace

// ---- items

int Read::ReplyByteCount() const {
    if (IsBitTable(TableOf(fc))) return (quantity + 7) / 8;
    return 2 * quantity;
}

int Item::Stride() const {
    switch (encoding) {
        case WordBits:
            return 0;
        case DWordHighFirst:
            return 2;
        default:
            return 1;
    }
}

std::uint16_t Item::Address(int ch) const {
    if (encoding == Packed24) return static_cast<std::uint16_t>(first + (3 * ch) / 2);
    return static_cast<std::uint16_t>(first + Stride() * ch);
}

std::uint16_t Item::Last() const {
    if (encoding == Packed24) return static_cast<std::uint16_t>(first + (3 * channels + 1) / 2 - 1);
    if (encoding == WordBits) return first;
    return static_cast<std::uint16_t>(first + Stride() * channels - 1);
}

const Choice* Item::ChoiceByCode(std::uint32_t code) const {
    for (const Choice& c : choices)
        if (c.code == code) return &c;
    return nullptr;
}

const Choice* Item::ChoiceByName(std::string_view name) const {
    for (const Choice& c : choices)
        if (c.label == name || Lower(c.ascii) == Lower(name)) return &c;
    return nullptr;
}

int Item::ChoiceIndex(std::uint32_t code) const {
    for (std::size_t i = 0; i < choices.size(); ++i)
        if (choices[i].code == code) return static_cast<int>(i);
    return -1;
}

std::span<const Model> AllModels() {
    return kModels;
}

const Model* FindModel(std::string_view name) {
    for (const Model& m : kModels)
        if (m.name == name) return &m;
    return nullptr;
}

const Model* FindModelByCode(int typeCode) {
    for (const Model& m : kModels)
        if (m.typeCode == typeCode) return &m;
    return nullptr;
}

std::span<const Item> IdentityItems() {
    return kIdentity;
}

const Item* FindIdentityItem(std::string_view key) {
    for (const Item& i : kIdentity)
        if (i.key == key) return &i;
    return nullptr;
}

std::vector<const Item*> Items(const Model& m) {
    std::vector<const Item*> out;
    for (const Item& i : kIdentity) out.push_back(&i);
    for (const Item& i : m.items) out.push_back(&i);
    return out;
}

const Item* FindItem(const Model& m, std::string_view key) {
    for (const Item* i : Items(m))
        if (i->key == key) return i;
    return nullptr;
}

std::vector<const Item*> PollItems(const Model& m) {
    std::vector<const Item*> out;
    for (const Item& i : m.items)
        if (i.role == Live && i.access == Access::Read) out.push_back(&i);
    return out;
}

Read IdentityRead() {
    return kIdentity[0].read;
}

// ---- channels

Child ChildAt(const Model& m, int position) {
    const ChannelLayout& l = m.layout;
    if (position >= 0 && position < l.inputs) return {Side::Input, position};
    if (position >= l.firstOutputChild && position < l.firstOutputChild + l.outputs)
        return {Side::Output, position - l.firstOutputChild};
    return {};
}

std::vector<std::string> ChannelNodeNames(const Model& m) {
    std::vector<std::string> names;
    for (int i = 0; i < m.layout.inputs; ++i) names.push_back("DI" + std::to_string(i));
    for (int i = 0; i < m.layout.outputs; ++i) names.push_back("DO" + std::to_string(i));
    return names;
}

std::string ChannelName(const Item& item, int ch) {
    if (item.prefix.empty()) return std::string(item.key);
    return std::string(item.prefix) + std::to_string(ch);
}

std::optional<int> ParseChannel(const Item& item, std::string_view text) {
    const std::string t = Lower(text);
    std::string_view digits = t;
    const std::string prefix = Lower(item.prefix);
    if (!prefix.empty() && digits.starts_with(prefix))
        digits.remove_prefix(prefix.size());
    else if ((item.prefix == "AI" || item.prefix == "CH") &&
             (digits.starts_with("ai") || digits.starts_with("ch")))
        digits.remove_prefix(2);
    if (digits.empty() || digits.size() > 2) return std::nullopt;
    int ch = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        ch = ch * 10 + (c - '0');
    }
    if (ch >= item.channels) return std::nullopt;
    return ch;
}

// ---- requests

std::optional<Request> ReadRequest(const Item& item) {
    if (item.read.fc == 0) return std::nullopt;
    return Request{item.read.fc, item.read.start, item.read.quantity, {}};
}

ByteString RequestBody(std::uint8_t address, const Request& r) {
    ByteString body = OneWordBody(address, r.fc, r.start, r.value);
    if (r.fc == kFcWriteCoils || r.fc == kFcWriteRegisters) {
        body.push_back(static_cast<std::uint8_t>(r.data.size()));
        body.insert(body.end(), r.data.begin(), r.data.end());
    }
    return body;
}

namespace {

bool CheckValue(const Item& item, std::uint32_t v, std::string* error) {
    if (!item.InRange(v)) {
        Fail(error, std::string(item.key) + ": " + std::to_string(v) + " is out of range " +
                        std::to_string(item.min) + "-" + std::to_string(item.max));
        return false;
    }
    // Enumerated registers take only their codes.
    const bool enumerated =
        item.encoding == ModeChar || item.encoding == CharSwitch || item.encoding == ProtocolLetter;
    if (enumerated && !item.ChoiceByCode(v)) {
        Fail(error, std::string(item.key) + ": " + Hex4(v) + " is not one of its choices");
        return false;
    }
    return true;
}

void PushWord(ByteString& data, std::uint32_t v) {
    data.push_back(static_cast<std::uint8_t>(v >> 8));
    data.push_back(static_cast<std::uint8_t>(v));
}

}  // namespace

std::optional<Request> WriteRequest(const Item& item, int ch, std::span<const std::uint32_t> values,
                                    std::string* error) {
    if (!item.Writable()) {
        Fail(error, std::string(item.key) + ": read-only");
        return std::nullopt;
    }
    if (ch >= item.channels || ch < -1) {
        Fail(error, std::string(item.key) + ": no channel " + std::to_string(ch));
        return std::nullopt;
    }
    if (item.encoding == WordBits) {
        // One register holds every channel: a single bit cannot be written
        // without the others.
        std::uint32_t word = 0;
        if (ch == -1 && values.size() == 1) {
            word = values[0];
        } else if (ch == -1 && values.size() == item.channels) {
            for (std::size_t i = 0; i < values.size(); ++i) {
                if (values[i] > 1) {
                    Fail(error, std::string(item.key) + ": each channel is 0 or 1");
                    return std::nullopt;
                }
                word |= values[i] << i;
            }
        } else {
            Fail(error, std::string(item.key) + ": the whole word is written at once");
            return std::nullopt;
        }
        if (!CheckValue(item, word, error)) return std::nullopt;
        return Request{kFcWriteRegister, item.first, static_cast<std::uint16_t>(word), {}};
    }
    if (ch >= 0) {
        if (values.size() != 1 || item.writeOne == 0) {
            Fail(error, std::string(item.key) + ": cannot be written one channel at a time");
            return std::nullopt;
        }
        const std::uint32_t v = values[0];
        const std::uint16_t at = item.Address(ch);
        if (item.encoding == Bit) {
            if (v > 1) {
                Fail(error, std::string(item.key) + ": ON (1) or OFF (0) only");
                return std::nullopt;
            }
            return Request{kFcWriteCoil, at, v ? kCoilOn : kCoilOff, {}};
        }
        if (!CheckValue(item, v, error)) return std::nullopt;
        if (item.encoding == DWordHighFirst) {
            // Most significant byte first: the high word goes to the lower register.
            ByteString data;
            PushWord(data, v >> 16);
            PushWord(data, v & 0xFFFF);
            return Request{kFcWriteRegisters, at, 2, data};
        }
        if (item.writeOne == kFcWriteRegisters)
            return Request{kFcWriteRegisters, at, 1, [&] {
                               ByteString d;
                               PushWord(d, v);
                               return d;
                           }()};
        return Request{kFcWriteRegister, at, static_cast<std::uint16_t>(v), {}};
    }
    if (values.size() != item.channels || item.writeAll == 0) {
        Fail(error, std::string(item.key) + ": needs " + std::to_string(item.channels) + " values");
        return std::nullopt;
    }
    ByteString data;
    if (item.encoding == Bit) {
        data.assign((item.channels + 7) / 8, 0);
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (values[i] > 1) {
                Fail(error, std::string(item.key) + ": ON (1) or OFF (0) only");
                return std::nullopt;
            }
            if (values[i]) data[i / 8] = static_cast<std::uint8_t>(data[i / 8] | 1u << (i % 8));
        }
        return Request{kFcWriteCoils, item.first, item.channels, data};
    }
    for (std::uint32_t v : values) {
        if (!CheckValue(item, v, error)) return std::nullopt;
        if (item.encoding == DWordHighFirst) PushWord(data, v >> 16);
        PushWord(data, v & 0xFFFF);
    }
    return Request{kFcWriteRegisters, item.first, static_cast<std::uint16_t>(data.size() / 2),
                   data};
}

// ---- replies

std::optional<std::vector<std::uint32_t>> Decode(const Item& item, const Read& request,
                                                 std::span<const std::uint8_t> pbuf) {
    if (request.fc == 0 || TableOf(request.fc) != item.table) return std::nullopt;
    if (request.fc > kFcReadInputRegisters) return std::nullopt;
    if (pbuf.size() < 3 || pbuf[1] != request.fc) return std::nullopt;
    const std::size_t count = pbuf[2];
    if (static_cast<int>(count) != request.ReplyByteCount()) return std::nullopt;
    // Never read past what arrived, whatever the byte count claims.
    if (pbuf.size() < 3 + count) return std::nullopt;
    if (item.first < request.start || item.Last() >= request.start + request.quantity)
        return std::nullopt;
    const std::span<const std::uint8_t> data = pbuf.subspan(3, count);
    std::vector<std::uint32_t> out;
    out.reserve(item.channels);
    const std::size_t base = item.first - request.start;
    for (int ch = 0; ch < item.channels; ++ch) {
        switch (item.encoding) {
            case Bit: {
                const std::size_t bit = base + static_cast<std::size_t>(ch);
                out.push_back((data[bit / 8] >> (bit % 8)) & 1u);
                break;
            }
            case WordBits:
                out.push_back((Be16(data, 2 * base) >> ch) & 1u);
                break;
            case DWordHighFirst: {
                const std::size_t at = 2 * (base + 2 * static_cast<std::size_t>(ch));
                out.push_back(static_cast<std::uint32_t>(Be16(data, at)) << 16 |
                              Be16(data, at + 2));
                break;
            }
            case Packed24: {
                const std::size_t at = 2 * base + 3 * static_cast<std::size_t>(ch);
                out.push_back(static_cast<std::uint32_t>(data[at]) << 16 |
                              static_cast<std::uint32_t>(data[at + 1]) << 8 | data[at + 2]);
                break;
            }
            case LowByte:
                out.push_back(data[2 * (base + static_cast<std::size_t>(ch)) + 1]);
                break;
            default:
                out.push_back(Be16(data, 2 * (base + static_cast<std::size_t>(ch))));
                break;
        }
    }
    return out;
}

std::optional<std::vector<int>> ModesOf(const Model& m, const Read& request,
                                        std::span<const std::uint8_t> pbuf) {
    const Item* mode = m.modeKey.empty() ? nullptr : FindItem(m, m.modeKey);
    if (!mode) return std::nullopt;
    const auto codes = Decode(*mode, request, pbuf);
    if (!codes) return std::nullopt;
    std::vector<int> out;
    out.reserve(codes->size());
    for (std::uint32_t code : *codes) {
        int index = mode->ChoiceIndex(code);
        if (index < 0 && m.modeReadBack == ModeReadBack::FirstOrOther && mode->choices.size() > 1)
            index = 1;
        out.push_back(index);
    }
    if (m.modeReadBack == ModeReadBack::AllOrNone &&
        std::any_of(out.begin(), out.end(), [](int i) { return i < 0; }))
        std::fill(out.begin(), out.end(), -1);
    return out;
}

// ---- analog

Shown InShownUnit(double value, std::string_view unit) {
    if (unit == "uA") return {value / 1000.0, "mA"};
    if (unit == "mV") return {value / 1000.0, "V"};
    return {value, unit};
}

std::string FormatFixed(double v, int decimals) {
    if (!std::isfinite(v)) return std::isnan(v) ? "nan" : (v < 0 ? "-inf" : "inf");
    if (decimals < 0) decimals = 0;
    // Fifteen significant digits are what a double holds reliably; rounding
    // those in decimal makes a value that lies exactly between two steps
    // (0.00125 at four decimals) round the same way every time, whatever
    // binary error the division left.
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.14e", std::fabs(v));
    std::string digits(1, buf[0]);
    digits.append(buf + 2, 14);
    const char* e = std::strchr(buf, 'e');
    const int exponent = e ? std::atoi(e + 1) : 0;

    // digits * 10^shift is the value times 10^decimals.
    const int shift = exponent - 14 + decimals;
    std::string scaled;
    if (shift >= 0) {
        scaled = digits + std::string(static_cast<std::size_t>(shift), '0');
    } else if (-shift <= static_cast<int>(digits.size())) {
        const std::size_t keep = digits.size() - static_cast<std::size_t>(-shift);
        scaled = digits.substr(0, keep);
        if (digits[keep] >= '5') Increment(scaled);
    }
    const std::size_t firstNonZero = scaled.find_first_not_of('0');
    const bool zero = firstNonZero == std::string::npos;
    scaled = zero ? std::string() : scaled.substr(firstNonZero);
    if (scaled.size() < static_cast<std::size_t>(decimals) + 1)
        scaled.insert(0, static_cast<std::size_t>(decimals) + 1 - scaled.size(), '0');
    if (decimals > 0) scaled.insert(scaled.size() - static_cast<std::size_t>(decimals), 1, '.');
    if (v < 0 && !zero) scaled.insert(0, 1, '-');
    return scaled;
}

namespace {
const Item* ModeItem(const Model& m) {
    return m.modeKey.empty() ? nullptr : FindItem(m, m.modeKey);
}
const Choice* ModeChoice(const Model& m, int modeIndex) {
    const Item* mode = ModeItem(m);
    if (!mode || modeIndex < 0 || static_cast<std::size_t>(modeIndex) >= mode->choices.size())
        return nullptr;
    return &mode->choices[static_cast<std::size_t>(modeIndex)];
}
}  // namespace

std::string_view UnitOf(const Model& m, const Item& item, int modeIndex) {
    if (item.key != m.valueKey) return item.unit;
    const Choice* c = ModeChoice(m, modeIndex);
    return c ? c->unit : std::string_view{};
}

std::optional<double> AnalogValue(const Model& m, std::uint32_t count, int modeIndex) {
    const Choice* c = ModeChoice(m, modeIndex);
    if (m.analog.countsPerFullScale == 0 || !c) return std::nullopt;
    // Divided first, then scaled: the order in which the module's conversion
    // is defined, so the last digit comes out as the module's own.
    const double perFullScale =
        (static_cast<double>(count) - m.analog.zeroCount) / m.analog.countsPerFullScale;
    return perFullScale * c->fullScale;
}

std::string AnalogText(const Model& m, std::uint32_t count, int modeIndex) {
    if (m.analog.countsPerFullScale == 0) return std::to_string(count);
    if (const auto v = AnalogValue(m, count, modeIndex))
        return FormatFixed(*v, ModeChoice(m, modeIndex)->decimals);
    if (m.analog.unselectedShowsCount) return std::to_string(count);
    const double perFullScale =
        (static_cast<double>(count) - m.analog.zeroCount) / m.analog.countsPerFullScale;
    return FormatFixed(perFullScale, m.analog.unscaledDecimals);
}

// ---- words

namespace {

int ModeAt(std::span<const int> modes, int ch) {
    return ch >= 0 && static_cast<std::size_t>(ch) < modes.size()
               ? modes[static_cast<std::size_t>(ch)]
               : -1;
}

bool English(TextLanguage lang) {
    return lang == TextLanguage::English;
}

// The item's short name in the language.
std::string Name(const Item& item, TextLanguage lang) {
    return std::string(English(lang) && !item.en.empty() ? item.en : item.zh);
}

// A choice's label in the language: in English the label when it is written
// without Chinese ("±10V", "ON"), else the typed spelling ("current").
std::string Label(const Choice& c, TextLanguage lang) {
    if (English(lang) && !c.ascii.empty()) {
        // UTF-8 lead bytes from 0xE0 on start the three- and four-byte
        // characters, Chinese among them; "±" takes two bytes.
        for (const char b : c.label)
            if (static_cast<unsigned char>(b) >= 0xE0) return std::string(c.ascii);
    }
    return std::string(c.label);
}

struct Words {
    const Model* model;
    std::span<const int> modes;
    bool ascii = false;  // the protocol that goes with a format code
    TextLanguage lang = TextLanguage::Chinese;

    // The text of one value of the item's channel ch.
    std::string Value(const Item& item, int ch, std::uint32_t v) const {
        switch (item.encoding) {
            case Bit:
                return v ? "ON" : "OFF";
            case CharSwitch:
            case ModeChar:
            case ProtocolLetter:
                if (const Choice* c = item.ChoiceByCode(v)) return Label(*c, lang);
                return Hex4(v);
            case FormatCode:
                if (v < static_cast<std::uint32_t>(kCommFormatCount))
                    return CommFormatLabel(static_cast<int>(v), ascii);
                return std::to_string(v);
            case LowByte:
                if (item.key == "type") {
                    const Model* m = FindModelByCode(static_cast<int>(v));
                    return std::to_string(v) + (m ? " (" + std::string(m->name) + ")" : "");
                }
                return Hex2(v);
            default:
                break;
        }
        if (model && item.key == model->valueKey) {
            const Choice* c = ModeChoice(*model, ModeAt(modes, ch));
            if (model->analog.countsPerFullScale != 0) {
                const std::string text = AnalogText(*model, v, ModeAt(modes, ch));
                return c ? text + " " + std::string(c->unit) : text;
            }
            return c ? std::to_string(v) + " " + std::string(c->unit) : std::to_string(v);
        }
        std::string text = std::to_string(v);
        if (!item.unit.empty()) text += " " + std::string(item.unit);
        return text;
    }

    // "DO0-7", "DO3", or the item's name for a single value.
    static std::string Range(const Item& item, int from, int to, TextLanguage lang) {
        if (item.prefix.empty()) return Name(item, lang);
        std::string r = ChannelName(item, from);
        if (to > from) r += "-" + std::to_string(to);
        return r;
    }

    bool Named(const Item& item) const {
        return item.encoding != Bit && !(model && item.key == model->valueKey);
    }

    // A name and its values: "DO0-7 ON: DO0 DO7", "AI0 = 4.012 mA, AI1 = ...".
    std::string Values(const Item& item, int from, std::span<const std::uint32_t> values) const {
        const int to = from + static_cast<int>(values.size()) - 1;
        std::string head = Range(item, from, to, lang);
        if (!item.prefix.empty() && Named(item)) head += " " + Name(item, lang);
        if (item.encoding == Bit || item.encoding == WordBits) {
            const Choice& set = item.choices.size() > 1 ? item.choices[1] : kOnOff[1];
            std::string on;
            for (std::size_t i = 0; i < values.size(); ++i)
                if (values[i]) on += " " + ChannelName(item, from + static_cast<int>(i));
            const char* none = English(lang) ? " none" : " 无";
            return head + " " + Label(set, lang) + ":" + (on.empty() ? none : on);
        }
        const bool perChannel = item.encoding == ModeChar || (model && item.key == model->valueKey);
        if (values.size() == 1 || perChannel) {
            std::string out;
            for (std::size_t i = 0; i < values.size(); ++i) {
                const int ch = from + static_cast<int>(i);
                if (!out.empty()) out += ", ";
                std::string name = item.prefix.empty() ? Name(item, lang) : ChannelName(item, ch);
                if (!item.prefix.empty() && Named(item)) name += " " + Name(item, lang);
                out += name + " = " + Value(item, ch, values[i]);
            }
            return out;
        }
        std::string list;
        for (std::size_t i = 0; i < values.size(); ++i) {
            std::string v = Value(item, from + static_cast<int>(i), values[i]);
            // One unit for the row of numbers.
            if (!item.unit.empty() && v.ends_with(" " + std::string(item.unit)))
                v.resize(v.size() - item.unit.size() - 1);
            list += (i ? " " : "") + v;
        }
        if (!item.unit.empty()) list += " " + std::string(item.unit);
        return head + " = " + list;
    }
};

std::vector<const Item*> Known(const Model* model) {
    if (model) return Items(*model);
    std::vector<const Item*> out;
    for (const Item& i : kIdentity) out.push_back(&i);
    return out;
}

// Channels [from, to] of the item that lie in the registers or coils
// [start, start + quantity); false when none does.
bool Overlap(const Item& item, std::uint32_t start, std::uint32_t quantity, int* from, int* to) {
    *from = -1;
    *to = -1;
    if (item.encoding == WordBits) {
        if (item.first < start || item.first >= start + quantity) return false;
        *from = 0;
        *to = item.channels - 1;
        return true;
    }
    for (int ch = 0; ch < item.channels; ++ch) {
        std::uint32_t a = item.Address(ch);
        std::uint32_t b = a + static_cast<std::uint32_t>(item.Stride()) - 1;
        if (item.encoding == Packed24) {
            // Three bytes: a register and a half.
            a = item.first + (3u * static_cast<std::uint32_t>(ch)) / 2;
            b = item.first + (3u * static_cast<std::uint32_t>(ch) + 2) / 2;
        }
        if (a >= start && b < start + quantity) {
            if (*from < 0) *from = ch;
            *to = ch;
        }
    }
    return *from >= 0;
}

// The register or coil's item and channel.
const Item* ItemAt(const Model* model, Table table, std::uint16_t address, int* ch) {
    for (const Item* item : Known(model)) {
        if (item->table != table || address < item->first || address > item->Last()) continue;
        *ch = item->Stride() == 0 ? -1 : (address - item->first) / item->Stride();
        return item;
    }
    return nullptr;
}

bool FrameIsAscii(const Model* model, std::span<const std::uint8_t> data, std::uint16_t start) {
    // The protocol letter in the same write or reply decides the format's labels.
    (void)model;
    if (start <= 5 && 5 < start + data.size() / 2)
        return Be16(data, 2 * (5 - start)) == kProtocolLetterAscii;
    return false;
}

// Values written by FC 16 or read by FC 03/04 from start on, item by item.
std::string RegisterBlock(const Model* model, Table table, std::uint16_t start,
                          std::span<const std::uint8_t> data, std::span<const int> modes,
                          TextLanguage lang) {
    const std::uint32_t quantity = static_cast<std::uint32_t>(data.size() / 2);
    // Modes in the same block convert the values that follow them.
    std::vector<int> blockModes(modes.begin(), modes.end());
    if (const Item* mode = model ? ModeItem(*model) : nullptr; mode && mode->table == table) {
        int from = 0, to = 0;
        if (Overlap(*mode, start, quantity, &from, &to)) {
            if (blockModes.size() < mode->channels) blockModes.resize(mode->channels, -1);
            for (int ch = from; ch <= to; ++ch)
                blockModes[static_cast<std::size_t>(ch)] =
                    mode->ChoiceIndex(Be16(data, 2 * (mode->Address(ch) - start)));
        }
    }
    Words words{model, blockModes, table == Holding && FrameIsAscii(model, data, start), lang};
    std::string out;
    for (const Item* item : Known(model)) {
        if (item->table != table) continue;
        int from = 0, to = 0;
        if (!Overlap(*item, start, quantity, &from, &to)) continue;
        // Read what lies in the block, as a read of it would.
        std::vector<std::uint8_t> frame = {0, static_cast<std::uint8_t>(table == Holding ? 3 : 4),
                                           static_cast<std::uint8_t>(data.size())};
        frame.insert(frame.end(), data.begin(), data.end());
        const Read read{static_cast<std::uint8_t>(table == Holding ? 3 : 4), start,
                        static_cast<std::uint16_t>(quantity)};
        std::vector<std::uint32_t> values;
        if (item->encoding == WordBits) {
            const auto v = Decode(*item, read, frame);
            if (!v) continue;
            values = *v;
        } else {
            // Only the channels inside the block.
            for (int ch = from; ch <= to; ++ch) {
                const std::size_t at = 2 * (item->Address(ch) - start);
                std::uint32_t v = 0;
                if (item->encoding == DWordHighFirst)
                    v = static_cast<std::uint32_t>(Be16(data, at)) << 16 | Be16(data, at + 2);
                else if (item->encoding == Packed24) {
                    const std::size_t b =
                        2 * (item->first - start) + 3 * static_cast<std::size_t>(ch);
                    v = static_cast<std::uint32_t>(data[b]) << 16 |
                        static_cast<std::uint32_t>(data[b + 1]) << 8 | data[b + 2];
                } else if (item->encoding == LowByte)
                    v = data[at + 1];
                else
                    v = Be16(data, at);
                values.push_back(v);
            }
        }
        if (!out.empty()) out += ", ";
        out += words.Values(*item, item->encoding == WordBits ? 0 : from, values);
    }
    return out;
}

std::string BitBlock(const Model* model, Table table, std::uint16_t start, std::uint32_t quantity,
                     std::span<const std::uint8_t> data, TextLanguage lang) {
    Words words{model, {}, false, lang};
    std::string out;
    for (const Item* item : Known(model)) {
        if (item->table != table) continue;
        int from = 0, to = 0;
        if (!Overlap(*item, start, quantity, &from, &to)) continue;
        std::vector<std::uint32_t> values;
        for (int ch = from; ch <= to; ++ch) {
            const std::size_t bit = item->Address(ch) - start;
            if (bit / 8 >= data.size()) break;
            values.push_back((data[bit / 8] >> (bit % 8)) & 1u);
        }
        if (values.empty()) continue;
        if (!out.empty()) out += ", ";
        out += words.Values(*item, from, values);
    }
    return out;
}

// What a read of [start, start + quantity) covers: "DI0-7", "DO0-7 脉冲ON时间".
std::string ReadTargets(const Model* model, Table table, std::uint16_t start,
                        std::uint32_t quantity, TextLanguage lang) {
    std::string out;
    for (const Item* item : Known(model)) {
        if (item->table != table) continue;
        int from = 0, to = 0;
        if (!Overlap(*item, start, quantity, &from, &to)) continue;
        if (!out.empty()) out += English(lang) ? ", " : "、";
        if (item->prefix.empty()) {
            out += Name(*item, lang);
            continue;
        }
        out += Words::Range(*item, from, to, lang);
        if (item->encoding != Bit) out += " " + Name(*item, lang);
    }
    return out;
}

// One value written by FC 05 or 06.
std::string SingleWrite(const Model* model, std::uint8_t fc, std::uint16_t address,
                        std::uint16_t value, std::span<const int> modes, TextLanguage lang) {
    int ch = 0;
    const Item* item = ItemAt(model, TableOf(fc), address, &ch);
    if (!item) return {};
    Words words{model, modes, false, lang};
    if (fc == kFcWriteCoil) {
        const std::string v = value == kCoilOn ? "ON" : value == kCoilOff ? "OFF" : Hex4(value);
        return ChannelName(*item, ch) + " = " + v;
    }
    if (item->encoding == WordBits) {
        std::vector<std::uint32_t> bits;
        for (int i = 0; i < item->channels; ++i) bits.push_back((value >> i) & 1u);
        return words.Values(*item, 0, bits);
    }
    if (item->encoding == DWordHighFirst || item->encoding == Packed24) return {};
    const std::uint32_t v = value;
    return words.Values(*item, ch, std::span<const std::uint32_t>(&v, 1));
}

}  // namespace

std::string DescribeRequest(const Model* model, std::span<const std::uint8_t> body,
                            std::span<const int> modes, TextLanguage lang) {
    const std::string read = English(lang) ? "Read " : "读 ";
    const std::string write = English(lang) ? "Write " : "写 ";
    if (body.size() < 6) return "?";
    const std::uint8_t fc = body[1];
    const std::uint16_t start = Be16(body, 2);
    const std::uint16_t value = Be16(body, 4);
    std::string words;
    switch (fc) {
        case kFcReadCoils:
        case kFcReadInputs:
        case kFcReadHolding:
        case kFcReadInputRegisters:
            words = ReadTargets(model, TableOf(fc), start, value, lang);
            return words.empty() ? "?" : read + words;
        case kFcWriteCoil:
        case kFcWriteRegister:
            words = SingleWrite(model, fc, start, value, modes, lang);
            return words.empty() ? "?" : write + words;
        case kFcWriteCoils:
        case kFcWriteRegisters: {
            if (body.size() < 7) return "?";
            const std::size_t count = body[6];
            if (body.size() < 7 + count) return "?";
            const auto data = body.subspan(7, count);
            if (fc == kFcWriteCoils)
                words = BitBlock(model, Coil, start, value, data, lang);
            else
                words = RegisterBlock(model, Holding, start,
                                      data.first(2 * std::min<std::size_t>(value, count / 2)),
                                      modes, lang);
            return words.empty() ? "?" : write + words;
        }
        default:
            return "?";
    }
}

std::string DescribeRequestFrame(const Model* model, std::span<const std::uint8_t> frame,
                                 int protocol, std::span<const int> modes, TextLanguage lang) {
    const ByteString bytes(frame.begin(), frame.end());
    std::optional<ByteString> body;
    if (protocol == kProtocolRtu) {
        body = CheckRtuFrame(bytes);
    } else if (protocol == kProtocolAscii) {
        body = DecodeAsciiFrame(bytes);
        if (body && !body->empty()) body->pop_back();  // the LRC's place
    }
    if (!body) return "?";
    return DescribeRequest(model, *body, modes, lang);
}

std::string DescribeReply(const Model* model, std::uint16_t regAddr,
                          std::span<const std::uint8_t> pbuf, std::span<const int> modes,
                          TextLanguage lang) {
    const std::string reply = English(lang) ? "Reply: " : "回复: ";
    const std::string wrote = English(lang) ? "wrote " : "已写 ";
    if (pbuf.size() < 2) return "?";
    const std::uint8_t fc = pbuf[1];
    if (fc & 0x80) {
        if (pbuf.size() < 3) return "?";
        return reply + (English(lang) ? "exception " : "异常 ") + Hex2(pbuf[2]);
    }
    std::string words;
    switch (fc) {
        case kFcReadCoils:
        case kFcReadInputs: {
            if (pbuf.size() < 3) return "?";
            const std::size_t count = pbuf[2];
            if (pbuf.size() < 3 + count) return "?";
            words = BitBlock(model, TableOf(fc), regAddr, static_cast<std::uint32_t>(8 * count),
                             pbuf.subspan(3, count), lang);
            break;
        }
        case kFcReadHolding:
        case kFcReadInputRegisters: {
            if (pbuf.size() < 3) return "?";
            const std::size_t count = pbuf[2];
            if (count % 2 != 0 || pbuf.size() < 3 + count) return "?";
            words = RegisterBlock(model, TableOf(fc), regAddr, pbuf.subspan(3, count), modes, lang);
            break;
        }
        case kFcWriteCoil:
        case kFcWriteRegister:
            if (pbuf.size() < 6) return "?";
            words = SingleWrite(model, fc, regAddr, Be16(pbuf, 4), modes, lang);
            if (!words.empty()) words = wrote + words;
            break;
        case kFcWriteCoils:
        case kFcWriteRegisters: {
            if (pbuf.size() < 6) return "?";
            words = ReadTargets(model, TableOf(fc), regAddr, Be16(pbuf, 4), lang);
            if (!words.empty()) words = wrote + words;
            break;
        }
        default:
            break;
    }
    return words.empty() ? "?" : reply + words;
}

}  // namespace kelm::models
