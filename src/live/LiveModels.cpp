#include "live/LiveModels.h"

#include <algorithm>

namespace kelm {

namespace {

// TO BE REPLACED by the shared per-model description: the registers and
// conversions below mirror what the panels read.
constexpr double k8AdFullScale[8] = {20, 10, 5, 2.5, 1.2, 0.6, 0.3, 0.15};
constexpr double k8AsFullScale[2] = {20, 10};

struct KindRead {
    ChannelKind kind;
    LiveRead read;
};

bool IsAnalogInModel(std::string_view m) {
    return m == "KELM-8AD" || m == "KELM-8AS" || m == "KELM-8ASP";
}

std::vector<KindRead> KindReadsOf(std::string_view m) {
    if (m == "KELM-8AD")
        return {{ChannelKind::AnalogIn, {3, 6, 8, false, true}},
                {ChannelKind::AnalogIn, {4, 0, 12, true, false}}};
    if (m == "KELM-8AS" || m == "KELM-8ASP")
        return {{ChannelKind::AnalogIn, {3, 6, 8, false, true}},
                {ChannelKind::AnalogIn, {4, 0, 8, true, false}}};
    // The panel's own read would reset what the user is setting on the
    // output panel, so the read-back is not shown there.
    if (m == "KELM-2AO") return {{ChannelKind::AnalogOut, {3, 6, 4, false, false}}};
    if (m == "KELM-8I8T")
        return {{ChannelKind::DigitalIn, {2, 0, 8, true, false}},
                {ChannelKind::DigitalOut, {1, 0, 8, true, false}},
                {ChannelKind::Counter, {3, 56, 24, false, false}}};
    if (m == "KELM-16I")
        return {{ChannelKind::DigitalIn, {2, 0, 16, true, false}},
                {ChannelKind::Counter, {3, 22, 48, false, false}}};
    if (m == "KELM-16T") return {{ChannelKind::DigitalOut, {1, 0, 16, true, false}}};
    if (m == "KELM-8RY") return {{ChannelKind::Relay, {1, 0, 8, true, false}}};
    return {};
}

int ChannelCount(std::string_view m, ChannelKind k) {
    switch (k) {
        case ChannelKind::AnalogIn:
            return IsAnalogInModel(m) ? 8 : 0;
        case ChannelKind::AnalogOut:
            return m == "KELM-2AO" ? 2 : 0;
        case ChannelKind::DigitalIn:
            return m == "KELM-8I8T" ? 8 : m == "KELM-16I" ? 16 : 0;
        case ChannelKind::DigitalOut:
            return m == "KELM-8I8T" ? 8 : m == "KELM-16T" ? 16 : 0;
        case ChannelKind::Relay:
            return m == "KELM-8RY" ? 8 : 0;
        case ChannelKind::Counter:
            return m == "KELM-8I8T" ? 8 : m == "KELM-16I" ? 16 : 0;
    }
    return 0;
}

std::uint8_t ByteCountOf(const LiveRead& r) {
    if (r.functionCode == 1 || r.functionCode == 2)
        return static_cast<std::uint8_t>((r.quantity + 7) / 8);
    return static_cast<std::uint8_t>(r.quantity * 2);
}

bool SameRead(const LiveRead& a, const LiveRead& b) {
    return a.functionCode == b.functionCode && a.regAddr == b.regAddr && a.quantity == b.quantity;
}

// The data read that carries a channel of this kind (not a config read).
bool DataReadOf(std::string_view m, ChannelKind k, LiveRead* out) {
    for (const KindRead& kr : KindReadsOf(m))
        if (kr.kind == k && !kr.read.config) {
            *out = kr.read;
            return true;
        }
    return false;
}

// A good reply to the read: its function code and byte count, and all its
// data present.
bool ReplyFits(const LiveRead& r, const Frame& Pbuf) {
    const std::uint8_t bc = ByteCountOf(r);
    return Pbuf[1] == r.functionCode && Pbuf[2] == bc && Pbuf.size() >= 3u + bc;
}

std::uint16_t Reg(const Frame& f, std::size_t dataOffset) {
    return static_cast<std::uint16_t>(f[3 + dataOffset] << 8 | f[4 + dataOffset]);
}

}  // namespace

std::string ChannelName(const ChannelId& c) {
    std::string n = c.model + "(" + std::to_string(c.address) + ") ";
    const std::string i = std::to_string(c.index);
    switch (c.kind) {
        case ChannelKind::AnalogIn:
            return n + "CH" + i;
        case ChannelKind::AnalogOut:
            return n + "AO" + i;
        case ChannelKind::DigitalIn:
            return n + "DI" + i;
        case ChannelKind::DigitalOut:
            return n + "DO" + i;
        case ChannelKind::Relay:
            return n + "RY" + i;
        case ChannelKind::Counter:
            return n + "DI" + i + "计数";
    }
    return n;
}

bool IsStep(ChannelKind kind) {
    return kind == ChannelKind::DigitalIn || kind == ChannelKind::DigitalOut ||
           kind == ChannelKind::Relay;
}

std::vector<ChannelId> ChannelsOf(std::uint8_t address, std::string_view model) {
    std::vector<ChannelId> out;
    for (ChannelKind k : {ChannelKind::AnalogIn, ChannelKind::AnalogOut, ChannelKind::DigitalIn,
                          ChannelKind::DigitalOut, ChannelKind::Relay, ChannelKind::Counter})
        for (int i = 0; i < ChannelCount(model, k); ++i)
            out.push_back(ChannelId{address, std::string(model), k, i});
    return out;
}

std::vector<ChannelId> DefaultChannelsOf(std::uint8_t address, std::string_view model) {
    std::vector<ChannelId> all = ChannelsOf(address, model);
    const bool hasInputs = std::any_of(all.begin(), all.end(), [](const ChannelId& c) {
        return c.kind == ChannelKind::AnalogIn || c.kind == ChannelKind::DigitalIn;
    });
    std::vector<ChannelId> out;
    for (const ChannelId& c : all) {
        if (c.kind == ChannelKind::Counter) continue;
        if (hasInputs && c.kind != ChannelKind::AnalogIn && c.kind != ChannelKind::DigitalIn)
            continue;
        out.push_back(c);
    }
    return out;
}

bool ChannelOfNode(std::uint8_t address, std::string_view model, int position, ChannelId* out) {
    ChannelId c{address, std::string(model), ChannelKind::DigitalIn, position};
    if (model == "KELM-8I8T" && position >= 0 && position < 16) {
        if (position >= 8) {
            c.kind = ChannelKind::DigitalOut;
            c.index = position - 8;
        }
    } else if (model == "KELM-16I" && position >= 0 && position < 16) {
        c.kind = ChannelKind::DigitalIn;
    } else if (model == "KELM-16T" && position >= 0 && position < 16) {
        c.kind = ChannelKind::DigitalOut;
    } else {
        return false;
    }
    *out = c;
    return true;
}

std::vector<LiveRead> ReadsFor(std::string_view model, const std::vector<ChannelKind>& kinds) {
    std::vector<LiveRead> out;
    for (const KindRead& kr : KindReadsOf(model))
        if (std::find(kinds.begin(), kinds.end(), kr.kind) != kinds.end()) out.push_back(kr.read);
    std::stable_partition(out.begin(), out.end(), [](const LiveRead& r) { return r.config; });
    return out;
}

void ApplyConfigReply(std::string_view model, const LiveRead& read, const Frame& Pbuf,
                      LiveModuleState& state) {
    if (!ReplyFits(read, Pbuf)) return;
    if (IsAnalogInModel(model) && read.functionCode == 3 && read.regAddr == 6) {
        const bool is8AD = model == "KELM-8AD";
        const int count = is8AD ? 8 : 2;
        bool all = true;
        int modes[8];
        for (int ch = 0; ch < 8; ++ch) {
            const int m = static_cast<int>(Reg(Pbuf, 2u * ch)) - 0x30;
            modes[ch] = (m >= 0 && m < count) ? m : -1;
            all = all && modes[ch] >= 0;
        }
        // A KELM-8AD reply with any mode out of range says nothing reliable.
        if (is8AD && !all)
            for (int& m : modes) m = -1;
        std::copy(std::begin(modes), std::end(modes), state.modes);
        state.modesKnown =
            std::any_of(std::begin(modes), std::end(modes), [](int m) { return m >= 0; });
    } else if (model == "KELM-2AO" && read.functionCode == 3 && read.regAddr == 6) {
        for (int ch = 0; ch < 2; ++ch) state.modes[ch] = Reg(Pbuf, 2u * ch) == 0x0030 ? 0 : 1;
        state.modesKnown = true;
    }
}

std::string UnitOf(const ChannelId& c, const LiveModuleState& state) {
    switch (c.kind) {
        case ChannelKind::AnalogIn:
        case ChannelKind::AnalogOut: {
            if (c.index < 0 || c.index >= 8) return {};
            const int m = state.modes[c.index];
            if (m < 0) return {};
            return m == 0 ? "mA" : "V";
        }
        case ChannelKind::DigitalIn:
        case ChannelKind::DigitalOut:
        case ChannelKind::Relay:
            return "开/关";
        case ChannelKind::Counter:
            return "次";
    }
    return {};
}

bool DecodeChannel(const ChannelId& c, const LiveRead& read, const Frame& Pbuf,
                   const LiveModuleState& state, LiveValue* out) {
    LiveRead want;
    if (!DataReadOf(c.model, c.kind, &want) || !SameRead(want, read)) return false;
    if (!ReplyFits(read, Pbuf) || c.index < 0 || c.index >= ChannelCount(c.model, c.kind))
        return false;
    const int ch = c.index;
    LiveValue v;
    v.unit = UnitOf(c, state);
    switch (c.kind) {
        case ChannelKind::AnalogIn: {
            const int m = state.modes[ch];
            if (m < 0) return false;
            if (c.model == "KELM-8AD") {
                const std::size_t o = 3 + 3u * ch;
                const std::uint32_t count =
                    static_cast<std::uint32_t>(Pbuf[o] << 16 | Pbuf[o + 1] << 8 | Pbuf[o + 2]);
                v.value = (static_cast<double>(count) - 65535.0) / 64000.0 * k8AdFullScale[m];
            } else {
                const double d = c.model == "KELM-8AS" ? 4000.0 : 64000.0;
                v.value = Reg(Pbuf, 2u * ch) / d * k8AsFullScale[m];
            }
            break;
        }
        case ChannelKind::AnalogOut: {
            // Modes and values come in the same reply.
            const bool current = Reg(Pbuf, 2u * ch) == 0x0030;
            v.unit = current ? "mA" : "V";
            v.value = Reg(Pbuf, 4u + 2u * ch) / 1000.0;  // uA -> mA, mV -> V
            break;
        }
        case ChannelKind::DigitalIn:
        case ChannelKind::DigitalOut:
        case ChannelKind::Relay: {
            const std::uint8_t byte = Pbuf[3 + static_cast<std::size_t>(ch / 8)];
            v.value = (byte >> (ch % 8)) & 1;
            break;
        }
        case ChannelKind::Counter: {
            // 8I8T: counts from register 64 (data byte 16); 16I: from 38 (32).
            const std::size_t first = c.model == "KELM-8I8T" ? 16 : 32;
            const std::size_t o = first + 4u * ch;
            v.value = static_cast<double>(static_cast<std::uint32_t>(Reg(Pbuf, o)) << 16 |
                                          Reg(Pbuf, o + 2));
            break;
        }
    }
    *out = v;
    return true;
}

}  // namespace kelm
