#include "live/LiveModels.h"

#include <algorithm>
#include <iterator>

#include "models/ModelMap.h"

namespace kelm {

namespace {

namespace mm = kelm::models;

// The items behind each kind of channel, by their stable keys, in the order
// the trend lists them.
struct KindKey {
    ChannelKind kind;
    std::string_view key;
};
constexpr KindKey kKindKeys[] = {
    {ChannelKind::AnalogIn, "ai"},  {ChannelKind::AnalogOut, "ao"},
    {ChannelKind::DigitalIn, "di"}, {ChannelKind::DigitalOut, "do"},
    {ChannelKind::Relay, "ry"},     {ChannelKind::Counter, "di_count"},
};

// The item a kind of channel reads on the model; nullptr when the model has
// none, or none the trend can read (no read request).
const mm::Item* ItemOf(const mm::Model& m, ChannelKind kind) {
    for (const KindKey& k : kKindKeys)
        if (k.kind == kind) {
            const mm::Item* item = mm::FindItem(m, k.key);
            return item && item->read.fc != 0 && item->role == mm::Role::Live ? item : nullptr;
        }
    return nullptr;
}

int ChannelCount(std::string_view model, ChannelKind kind) {
    const mm::Model* m = mm::FindModel(model);
    const mm::Item* item = m ? ItemOf(*m, kind) : nullptr;
    return item ? item->channels : 0;
}

LiveRead ToLive(const mm::Read& r, bool mirror, bool config) {
    return LiveRead{r.fc, r.start, r.quantity, mirror, config};
}

mm::Read ToModel(const LiveRead& r) {
    return mm::Read{r.functionCode, r.regAddr, r.quantity};
}

bool SameRead(const LiveRead& a, const LiveRead& b) {
    return a.functionCode == b.functionCode && a.regAddr == b.regAddr && a.quantity == b.quantity;
}

// The panels poll their states and measurements themselves, so those replies
// can be shown there too. Counts are not mirrored, nor the analog outputs'
// read-back: it would reset the value the user is setting on the panel.
bool Mirrored(const mm::Model& m, const mm::Item& item) {
    return item.encoding == mm::Encoding::Bit || (item.key == m.valueKey && !item.Writable());
}

std::span<const std::uint8_t> Bytes(const Frame& f) {
    return f.bytes();
}

int ModeAt(const LiveModuleState& state, int ch) {
    return ch >= 0 && ch < static_cast<int>(std::size(state.modes)) ? state.modes[ch] : -1;
}

// The unit of a value of the item in the mode: analog values in their mode's
// unit as people read it, steps as on/off, counts as counts.
std::string UnitFor(const mm::Model& m, const mm::Item& item, int mode) {
    if (item.encoding == mm::Encoding::Bit) return "开/关";
    if (item.encoding == mm::Encoding::DWordHighFirst) return "次";
    return std::string(mm::InShownUnit(0, mm::UnitOf(m, item, mode)).unit);
}

}  // namespace

std::string ChannelName(const ChannelId& c) {
    std::string n = c.model + "(" + std::to_string(c.address) + ") ";
    const mm::Model* m = mm::FindModel(c.model);
    const mm::Item* item = m ? ItemOf(*m, c.kind) : nullptr;
    if (!item) return n + std::to_string(c.index);
    // Values a mode governs are named as their modes are ("CH0" on the
    // analog input panels); a count after its input.
    const mm::Item* mode = item->key == m->valueKey ? mm::FindItem(*m, m->modeKey) : nullptr;
    n += mm::ChannelName(mode ? *mode : *item, c.index);
    return c.kind == ChannelKind::Counter ? n + "计数" : n;
}

bool IsStep(ChannelKind kind) {
    return kind == ChannelKind::DigitalIn || kind == ChannelKind::DigitalOut ||
           kind == ChannelKind::Relay;
}

std::vector<ChannelId> ChannelsOf(std::uint8_t address, std::string_view model) {
    std::vector<ChannelId> out;
    for (const KindKey& k : kKindKeys)
        for (int i = 0; i < ChannelCount(model, k.kind); ++i)
            out.push_back(ChannelId{address, std::string(model), k.kind, i});
    return out;
}

std::vector<ChannelId> DefaultChannelsOf(std::uint8_t address, std::string_view model) {
    const mm::Model* m = mm::FindModel(model);
    if (!m) return {};
    // The inputs the module is polled for, counters left out; a module
    // without inputs gives its outputs as read back.
    std::vector<const mm::Item*> inputs;
    for (const mm::Item* item : mm::PollItems(*m))
        if (item->encoding != mm::Encoding::DWordHighFirst) inputs.push_back(item);
    std::vector<ChannelId> out;
    for (const ChannelId& c : ChannelsOf(address, model)) {
        const mm::Item* item = ItemOf(*m, c.kind);
        const bool isInput = std::find(inputs.begin(), inputs.end(), item) != inputs.end();
        const bool wanted = inputs.empty() ? c.kind != ChannelKind::Counter : isInput;
        if (wanted) out.push_back(c);
    }
    return out;
}

bool ChannelOfNode(std::uint8_t address, std::string_view model, int position, ChannelId* out) {
    const mm::Model* m = mm::FindModel(model);
    if (!m) return false;
    const mm::Child child = mm::ChildAt(*m, position);
    if (child.side == mm::Side::None) return false;
    *out =
        ChannelId{address, std::string(model),
                  child.side == mm::Side::Input ? ChannelKind::DigitalIn : ChannelKind::DigitalOut,
                  child.channel};
    return true;
}

std::vector<LiveRead> ReadsFor(std::string_view model, const std::vector<ChannelKind>& kinds) {
    const mm::Model* m = mm::FindModel(model);
    if (!m) return {};
    std::vector<LiveRead> config;
    std::vector<LiveRead> data;
    const auto add = [](std::vector<LiveRead>& to, const LiveRead& r) {
        if (std::none_of(to.begin(), to.end(), [&](const LiveRead& o) { return SameRead(o, r); }))
            to.push_back(r);
    };
    for (const KindKey& k : kKindKeys) {
        if (std::find(kinds.begin(), kinds.end(), k.kind) == kinds.end()) continue;
        const mm::Item* item = ItemOf(*m, k.kind);
        if (!item) continue;
        // Values governed by a mode need the modes first, unless the same
        // read brings both.
        if (item->key == m->valueKey)
            if (const mm::Item* mode = mm::FindItem(*m, m->modeKey);
                mode && !(mode->read == item->read))
                add(config, ToLive(mode->read, false, true));
        add(data, ToLive(item->read, Mirrored(*m, *item), false));
    }
    config.insert(config.end(), data.begin(), data.end());
    return config;
}

void ApplyConfigReply(std::string_view model, const LiveRead& read, const Frame& Pbuf,
                      LiveModuleState& state) {
    const mm::Model* m = mm::FindModel(model);
    if (!m) return;
    const auto modes = mm::ModesOf(*m, ToModel(read), Bytes(Pbuf));
    if (!modes) return;
    for (std::size_t ch = 0; ch < std::size(state.modes); ++ch)
        state.modes[ch] = ch < modes->size() ? (*modes)[ch] : -1;
    state.modesKnown = std::any_of(modes->begin(), modes->end(), [](int i) { return i >= 0; });
}

std::string UnitOf(const ChannelId& c, const LiveModuleState& state) {
    const mm::Model* m = mm::FindModel(c.model);
    const mm::Item* item = m ? ItemOf(*m, c.kind) : nullptr;
    if (!item) return {};
    return UnitFor(*m, *item, ModeAt(state, c.index));
}

bool DecodeChannel(const ChannelId& c, const LiveRead& read, const Frame& Pbuf,
                   const LiveModuleState& state, LiveValue* out) {
    const mm::Model* m = mm::FindModel(c.model);
    const mm::Item* item = m ? ItemOf(*m, c.kind) : nullptr;
    // Only the item's own read carries the channel.
    if (!item || !(item->read == ToModel(read))) return false;
    if (c.index < 0 || c.index >= item->channels) return false;
    const auto values = mm::Decode(*item, item->read, Bytes(Pbuf));
    if (!values) return false;
    const std::uint32_t raw = (*values)[static_cast<std::size_t>(c.index)];
    int mode = ModeAt(state, c.index);
    if (item->key == m->valueKey && item->Writable()) {
        // The analog outputs' modes come in the same reply as their values.
        const auto modes = mm::ModesOf(*m, item->read, Bytes(Pbuf));
        mode = modes && static_cast<std::size_t>(c.index) < modes->size()
                   ? (*modes)[static_cast<std::size_t>(c.index)]
                   : -1;
    }
    LiveValue v;
    v.unit = UnitFor(*m, *item, mode);
    if (item->key == m->valueKey && !item->Writable()) {
        const auto value = mm::AnalogValue(*m, raw, mode);
        if (!value) return false;
        v.value = *value;
    } else if (item->key == m->valueKey) {
        if (mode < 0) return false;
        v.value = mm::InShownUnit(raw, mm::UnitOf(*m, *item, mode)).value;
    } else {
        v.value = raw;
    }
    *out = v;
    return true;
}

}  // namespace kelm
