#include "Items.h"

#include <algorithm>
#include <cctype>
#include <ostream>

namespace kelm::cli {

namespace m = kelm::models;

namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool AllDigits(const std::string& s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Items whose values are plain 0/1 (coils, inputs and the initial-state words).
bool IsOnOff(const m::Item& item) {
    return item.choices.size() == 2 && item.choices[0].ascii == "off" &&
           item.choices[1].ascii == "on";
}

bool IsAnalogValue(const m::Model& model, const m::Item& item) {
    return !model.valueKey.empty() && item.key == model.valueKey;
}

const m::Model* ModelOf(const m::Item& item) {
    for (const m::Model& model : m::AllModels()) {
        for (const m::Item& it : model.items) {
            if (&it == &item) return &model;
        }
    }
    return nullptr;
}

}  // namespace

const m::Model* ModelByName(const std::string& name) {
    const std::string wanted = Lower(name);
    for (const m::Model& model : m::AllModels()) {
        const std::string full = Lower(std::string(model.name));
        if (wanted == full || "kelm-" + wanted == full) return &model;
    }
    return nullptr;
}

std::string ModelNames() {
    std::string out;
    for (const m::Model& model : m::AllModels()) {
        if (!out.empty()) out += ", ";
        out += model.name;
    }
    return out;
}

std::optional<std::uint64_t> ParseInteger(const std::string& text) {
    std::string t = Lower(text);
    int base = 10;
    if (t.starts_with("0x")) {
        base = 16;
        t = t.substr(2);
    }
    if (t.empty() || t.size() > 16) return std::nullopt;
    std::uint64_t v = 0;
    for (char c : t) {
        int d = -1;
        if (c >= '0' && c <= '9') d = c - '0';
        if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
        if (d < 0) return std::nullopt;
        v = v * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
    }
    return v;
}

Selection ParseSelection(const m::Model& model, const std::string& text) {
    const std::string t = Lower(text);
    const m::Item* best = nullptr;
    int channel = -1;
    for (const m::Item& it : model.items) {
        const std::string key(it.key);
        if (t == key) return {&it, -1};
        // The longest key that leaves a channel number: di_count_run1, not di_count.
        if (t.starts_with(key) && AllDigits(t.substr(key.size())) &&
            (!best || key.size() > best->key.size())) {
            best = &it;
        }
    }
    if (!best) {
        std::string keys;
        for (const m::Item& it : model.items)
            keys += (keys.empty() ? "" : ", ") + std::string(it.key);
        throw Failure{kExitUsage, "the " + std::string(model.name) + " has no \"" + text +
                                      "\" (it has " + keys + ", each also with a channel number)"};
    }
    const std::string digits = t.substr(best->key.size());
    if (digits.size() > 3 || std::stoi(digits) >= best->channels || best->channels == 1) {
        throw Failure{kExitUsage, "the " + std::string(model.name) + " has no channel " + digits +
                                      " of " + std::string(best->key) + " (channels 0-" +
                                      std::to_string(best->channels - 1) + ")"};
    }
    channel = std::stoi(digits);
    return {best, channel};
}

std::vector<Selection> SelectionsOf(const m::Model& model, const std::vector<std::string>& names) {
    std::vector<Selection> out;
    if (names.empty()) {
        for (const m::Item& it : model.items) {
            if (it.read.fc != 0) out.push_back({&it, -1});
        }
        return out;
    }
    for (const auto& n : names) out.push_back(ParseSelection(model, n));
    return out;
}

const m::Model& ResolveModel(bus::BusClient& client, const LineOptions& o,
                             const std::string& modelName) {
    if (!modelName.empty()) {
        const m::Model* model = ModelByName(modelName);
        if (!model)
            throw Failure{kExitUsage, "no model \"" + modelName + "\" (" + ModelNames() + ")"};
        return *model;
    }
    const m::Read id = m::IdentityRead();
    const auto body =
        ReadRegistersBody(static_cast<std::uint8_t>(o.address), id.start, id.quantity);
    const auto r = client.Transact(body, RequestOf(o, 1));
    RequireReply(r, "module " + std::to_string(o.address), client.Line());
    const auto regs = RegistersOf(r.body);
    if (regs.empty())
        throw Failure{kExitModule, "module " + std::to_string(o.address) + " sent a short reply"};
    const m::Model* model = m::FindModelByCode(regs[0] & 0xFF);
    if (!model) {
        throw Failure{kExitModule, "module " + std::to_string(o.address) + " has type code " +
                                       std::to_string(regs[0] & 0xFF) +
                                       ", which is no KELM model (give --model to override)"};
    }
    return *model;
}

void ThrowIo(const bus::IoStatus& s) {
    switch (s.error) {
        case bus::IoError::Timeout:
            throw Failure{kExitNoReply, s.message};
        case bus::IoError::PortLost:
            throw Failure{kExitPort, s.message};
        case bus::IoError::Refused:
            throw Failure{kExitUsage, s.message};
        default:
            throw Failure{kExitModule, s.message};
    }
}

std::vector<bus::ItemReading> ReadSelections(bus::ItemIo& io, const std::vector<Selection>& sel,
                                             const std::optional<bus::Modes>& modes) {
    std::vector<const m::Item*> items;
    for (const auto& s : sel) {
        if (std::find(items.begin(), items.end(), s.item) == items.end()) items.push_back(s.item);
    }
    std::vector<bus::ItemReading> readings;
    const bus::IoStatus st = io.Read(items, readings, modes);
    if (!st.ok()) ThrowIo(st);
    return readings;
}

std::string ChannelKey(const m::Item& item, int ch) {
    if (ch < 0 || item.channels == 1) return std::string(item.key);
    return std::string(item.key) + std::to_string(ch);
}

std::string ValueText(const m::Item& item, const bus::ChannelValue& v) {
    const m::Model* model = ModelOf(item);
    if (model && IsAnalogValue(*model, item)) {
        return v.value ? m::FormatFixed(*v.value, v.decimals) : std::to_string(v.raw);
    }
    if (IsOnOff(item)) return std::to_string(v.raw);
    if (!item.choices.empty())
        return v.choice ? std::string(v.choice->ascii) : "0x" + Hex2(static_cast<int>(v.raw));
    return std::to_string(v.raw);
}

std::string UnitText(const m::Item& item, const bus::ChannelValue& v) {
    const m::Model* model = ModelOf(item);
    if (model && IsAnalogValue(*model, item)) return v.value ? v.unit : "count";
    return std::string(item.unit);
}

Json ChannelJson(const m::Item& item, const bus::ChannelValue& v) {
    const m::Model* model = ModelOf(item);
    if (model && IsAnalogValue(*model, item)) {
        Json j;
        j["count"] = v.raw;
        // The value to the decimals its mode shows, not the binary tail of the division.
        j["value"] =
            v.value ? Json(std::stod(m::FormatFixed(*v.value, v.decimals))) : Json(nullptr);
        j["unit"] = v.value ? Json(v.unit) : Json(nullptr);
        const m::Item* modeItem = m::FindItem(*model, model->modeKey);
        if (modeItem && v.modeIndex >= 0 &&
            static_cast<std::size_t>(v.modeIndex) < modeItem->choices.size()) {
            const m::Choice& c = modeItem->choices[static_cast<std::size_t>(v.modeIndex)];
            j["mode"] = {{"label", c.label}, {"ascii", c.ascii}};
        } else {
            j["mode"] = nullptr;
        }
        return j;
    }
    if (IsOnOff(item)) return v.raw;
    if (!item.choices.empty()) {
        if (!v.choice) return {{"label", nullptr}, {"ascii", nullptr}, {"code", v.raw}};
        return {{"label", v.choice->label}, {"ascii", v.choice->ascii}, {"code", v.raw}};
    }
    return v.raw;
}

namespace {
const bus::ItemReading& ReadingOf(const std::vector<bus::ItemReading>& readings,
                                  const m::Item* item) {
    for (const auto& r : readings) {
        if (r.item == item) return r;
    }
    throw Failure{kExitModule, "no reading of " + std::string(item->key)};
}
}  // namespace

void PrintReadingsText(std::ostream& out, const std::vector<Selection>& sel,
                       const std::vector<bus::ItemReading>& readings) {
    for (const auto& s : sel) {
        const auto& r = ReadingOf(readings, s.item);
        for (const auto& v : r.channels) {
            if (s.channel >= 0 && v.channel != s.channel) continue;
            out << ChannelKey(*s.item, v.channel) << '\t' << ValueText(*s.item, v);
            const std::string unit = UnitText(*s.item, v);
            if (!unit.empty()) out << '\t' << unit;
            out << '\n';
        }
    }
}

Json ReadingsJson(const std::vector<Selection>& sel, const std::vector<bus::ItemReading>& readings,
                  Json j) {
    for (const auto& s : sel) {
        const auto& r = ReadingOf(readings, s.item);
        if (s.channel >= 0) {
            j[ChannelKey(*s.item, s.channel)] =
                ChannelJson(*s.item, r.channels.at(static_cast<std::size_t>(s.channel)));
            continue;
        }
        Json arr = Json::array();
        for (const auto& v : r.channels) arr.push_back(ChannelJson(*s.item, v));
        j[std::string(s.item->key)] = s.item->channels == 1 ? arr[0] : arr;
    }
    return j;
}

}  // namespace kelm::cli
