#include "config/ConfigFile.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "modbus/CommFormats.h"

namespace kelm::config {

namespace {

using Json = nlohmann::ordered_json;
using models::Encoding;
using models::Item;
using models::Model;

void Fail(std::string* error, std::string text) {
    if (error) *error = std::move(text);
}

std::string Hex2(int v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02X", v & 0xFF);
    return buf;
}

std::optional<int> ParseHex2(const std::string& s) {
    if (s.empty() || s.size() > 2) return std::nullopt;
    int v = 0;
    for (char c : s) {
        int d;
        if (c >= '0' && c <= '9') {
            d = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            d = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            d = c - 'A' + 10;
        } else {
            return std::nullopt;
        }
        v = v * 16 + d;
    }
    return v;
}

std::string ProtocolText(int letter) {
    if (letter == kProtocolLetterRtu) return "rtu";
    if (letter == kProtocolLetterAscii) return "ascii";
    return {};
}

// The valid values of one channel, as a text for messages.
std::string RangeText(const Item& item) {
    if (!item.choices.empty()) {
        std::string s;
        for (const auto& c : item.choices) {
            if (item.encoding != Encoding::WordBits && !item.InRange(c.code)) continue;
            if (!s.empty()) s += ", ";
            s += "\"" + std::string(c.ascii) + "\"";
        }
        return "one of " + s;
    }
    return std::to_string(item.min) + "-" + std::to_string(item.max);
}

// One channel's value out of the file; nullopt with *error naming `where`.
std::optional<std::uint32_t> ParseValue(const Item& item, const Json& v, const std::string& where,
                                        std::string* error) {
    if (!item.choices.empty()) {
        if (!v.is_string()) {
            Fail(error, where + ": expected " + RangeText(item));
            return std::nullopt;
        }
        const auto* c = item.ChoiceByName(v.get<std::string>());
        if (!c || (item.encoding != Encoding::WordBits && !item.InRange(c->code))) {
            Fail(error, where + ": \"" + v.get<std::string>() + "\" is not " + RangeText(item));
            return std::nullopt;
        }
        return c->code;
    }
    if (!v.is_number_integer()) {
        Fail(error, where + ": expected a whole number " + RangeText(item));
        return std::nullopt;
    }
    if (v.is_number_unsigned()) {
        const auto u = v.get<std::uint64_t>();
        if (u >= item.min && u <= item.max) return static_cast<std::uint32_t>(u);
    }
    Fail(error, where + ": " + v.dump() + " is outside " + RangeText(item));
    return std::nullopt;
}

Json IdentityJson(const ModuleConfig& c) {
    const Identity& id = c.identity;
    Json j;
    j["type"] = id.type;
    j["hw_version"] = Hex2(id.hardware);
    j["sw_version"] = Hex2(id.software);
    j["address"] = id.address;
    j["com_format"] = id.format;
    if (id.format >= 0 && id.format < kCommFormatCount) {
        j["baud"] = kCommFormatBauds[static_cast<std::size_t>(id.format % 8)];
        j["parity"] = id.format >= 8 ? "even" : "none";
    }
    const auto p = ProtocolText(id.protocolLetter);
    if (!p.empty()) {
        j["protocol"] = p;
    } else {
        j["protocol"] = nullptr;
    }
    j["time"] = id.time;
    return j;
}

bool ParseIdentity(const Json& j, Identity& id, std::string* error) {
    if (!j.is_object()) {
        Fail(error, "identity: expected an object");
        return false;
    }
    auto integer = [&](const char* key, int& out, int lo, int hi) {
        if (!j.contains(key)) return true;
        const auto& v = j[key];
        if (!v.is_number_integer() || v.get<std::int64_t>() < lo || v.get<std::int64_t>() > hi) {
            Fail(error, std::string("identity.") + key + ": expected a whole number " +
                            std::to_string(lo) + "-" + std::to_string(hi));
            return false;
        }
        out = v.get<int>();
        return true;
    };
    auto hex = [&](const char* key, int& out) {
        if (!j.contains(key)) return true;
        const auto& v = j[key];
        std::optional<int> h;
        if (v.is_string()) h = ParseHex2(v.get<std::string>());
        if (!h) {
            Fail(error, std::string("identity.") + key + ": expected two hex digits");
            return false;
        }
        out = *h;
        return true;
    };
    if (!integer("type", id.type, 0, 255) || !hex("hw_version", id.hardware) ||
        !hex("sw_version", id.software) || !integer("address", id.address, 0, 255) ||
        !integer("com_format", id.format, 0, 65535))
        return false;
    if (j.contains("protocol") && !j["protocol"].is_null()) {
        const auto& v = j["protocol"];
        const std::string p = v.is_string() ? v.get<std::string>() : std::string();
        if (p == "rtu") {
            id.protocolLetter = kProtocolLetterRtu;
        } else if (p == "ascii") {
            id.protocolLetter = kProtocolLetterAscii;
        } else {
            Fail(error, "identity.protocol: expected \"rtu\" or \"ascii\"");
            return false;
        }
    }
    if (j.contains("time")) {
        if (!j["time"].is_string()) {
            Fail(error, "identity.time: expected a text");
            return false;
        }
        id.time = j["time"].get<std::string>();
    }
    return true;
}

}  // namespace

const Setting* ModuleConfig::Find(std::string_view key) const {
    for (const auto& s : settings) {
        if (s.item && s.item->key == key) return &s;
    }
    return nullptr;
}

bool IsCommItem(const Item& item) {
    return item.key == "com_format" || item.key == "address" || item.key == "protocol";
}

std::vector<const Item*> ConfigItems(const Model& m) {
    std::vector<const Item*> out;
    for (const auto& item : m.items) {
        if (item.role == models::Role::Config) out.push_back(&item);
    }
    for (const auto& item : models::IdentityItems()) {
        if (item.role == models::Role::Config) out.push_back(&item);
    }
    return out;
}

std::string ValueText(const Item& item, std::uint32_t value) {
    if (const auto* c = item.ChoiceByCode(value)) return std::string(c->ascii);
    return std::to_string(value);
}

std::string SettingName(const Item& item, int channel) {
    if (item.channels <= 1) return std::string(item.key);
    return std::string(item.key) + "." + models::ChannelName(item, channel);
}

std::string ToJson(const ModuleConfig& c) {
    Json j;
    j["format"] = kFormatName;
    j["version"] = kFormatVersion;
    j["model"] = c.model ? std::string(c.model->name) : std::string();
    j["identity"] = IdentityJson(c);
    Json settings = Json::object();
    for (const auto& s : c.settings) {
        if (!s.item) continue;
        auto value = [&](std::uint32_t v) -> Json {
            if (!s.item->choices.empty() && s.item->ChoiceByCode(v))
                return std::string(s.item->ChoiceByCode(v)->ascii);
            return v;
        };
        if (s.item->channels <= 1) {
            settings[std::string(s.item->key)] = s.values.empty() ? Json() : value(s.values[0]);
        } else {
            Json per = Json::object();
            for (std::size_t ch = 0; ch < s.values.size(); ++ch)
                per[models::ChannelName(*s.item, static_cast<int>(ch))] = value(s.values[ch]);
            settings[std::string(s.item->key)] = per;
        }
    }
    j["settings"] = settings;
    return j.dump(2) + "\n";
}

std::optional<ModuleConfig> ParseConfig(std::string_view text, std::string* error) {
    Json j;
    try {
        j = Json::parse(text);
    } catch (const Json::parse_error& e) {
        Fail(error, std::string("not valid JSON: ") + e.what());
        return std::nullopt;
    }
    if (!j.is_object()) {
        Fail(error, "not a module configuration: expected a JSON object");
        return std::nullopt;
    }
    if (!j.contains("format") || !j["format"].is_string() ||
        j["format"].get<std::string>() != kFormatName) {
        Fail(error, "format: not a module configuration file (expected \"" +
                        std::string(kFormatName) + "\")");
        return std::nullopt;
    }
    if (!j.contains("version") || !j["version"].is_number_integer() ||
        j["version"].get<std::int64_t>() != kFormatVersion) {
        Fail(error, "version: " + (j.contains("version") ? j["version"].dump() : "missing") +
                        " is not a format version this program reads (" +
                        std::to_string(kFormatVersion) + ")");
        return std::nullopt;
    }
    ModuleConfig c;
    if (!j.contains("model") || !j["model"].is_string() ||
        !(c.model = models::FindModel(j["model"].get<std::string>()))) {
        Fail(error, "model: " + (j.contains("model") ? j["model"].dump() : "missing") +
                        " is not a KELM model");
        return std::nullopt;
    }
    if (j.contains("identity") && !ParseIdentity(j["identity"], c.identity, error))
        return std::nullopt;
    if (!j.contains("settings") || !j["settings"].is_object()) {
        Fail(error, "settings: expected an object of configuration items");
        return std::nullopt;
    }
    const Json& settings = j["settings"];
    const auto items = ConfigItems(*c.model);
    for (const auto& entry : settings.items()) {
        const std::string& key = entry.key();
        const bool known =
            std::any_of(items.begin(), items.end(), [&](const Item* i) { return i->key == key; });
        if (!known) {
            Fail(error, "settings." + key + ": " + std::string(c.model->name) +
                            " has no configuration item of that name");
            return std::nullopt;
        }
    }
    for (const Item* item : items) {
        const std::string key(item->key);
        if (!settings.contains(key)) continue;
        const Json& v = settings[key];
        Setting s{item, {}};
        if (item->channels <= 1) {
            auto u = ParseValue(*item, v, "settings." + key, error);
            if (!u) return std::nullopt;
            s.values.push_back(*u);
        } else {
            if (!v.is_object()) {
                Fail(error, "settings." + key + ": expected an object of channels " +
                                models::ChannelName(*item, 0) + "-" +
                                models::ChannelName(*item, item->channels - 1));
                return std::nullopt;
            }
            for (const auto& [ch, cv] : v.items()) {
                const auto n = models::ParseChannel(*item, ch);
                if (!n || models::ChannelName(*item, *n) != ch) {
                    Fail(error, "settings." + key + "." + ch + ": no such channel");
                    return std::nullopt;
                }
            }
            for (int ch = 0; ch < item->channels; ++ch) {
                const std::string name = models::ChannelName(*item, ch);
                if (!v.contains(name)) {
                    Fail(error, "settings." + key + "." + name + ": missing");
                    return std::nullopt;
                }
                auto u = ParseValue(*item, v[name], "settings." + key + "." + name, error);
                if (!u) return std::nullopt;
                s.values.push_back(*u);
            }
        }
        c.settings.push_back(std::move(s));
    }
    return c;
}

std::vector<Change> Diff(const ModuleConfig& current, const ModuleConfig& wanted) {
    std::vector<Change> out;
    for (const auto& w : wanted.settings) {
        const Setting* cur = current.Find(w.item->key);
        if (!cur) continue;
        const std::size_t n = std::min(cur->values.size(), w.values.size());
        for (std::size_t ch = 0; ch < n; ++ch) {
            if (cur->values[ch] != w.values[ch])
                out.push_back({w.item, static_cast<int>(ch), cur->values[ch], w.values[ch]});
        }
    }
    return out;
}

std::string DescribeChange(const Change& c) {
    std::string s = SettingName(*c.item, c.channel) + ": " + ValueText(*c.item, c.from) + " -> " +
                    ValueText(*c.item, c.to);
    if (!c.item->unit.empty()) s += " (" + std::string(c.item->unit) + ")";
    if (c.item->key == "com_format") {
        s += " (" + CommFormatLabel(static_cast<int>(c.from), false) + " -> " +
             CommFormatLabel(static_cast<int>(c.to), false) + ")";
    }
    return s;
}

std::optional<std::vector<Step>> PlanRestore(const ModuleConfig& current,
                                             const ModuleConfig& wanted, bool withComm,
                                             std::string* error) {
    const auto changes = Diff(current, wanted);
    std::vector<Step> steps;
    bool commDiffers = false;
    for (const auto& w : wanted.settings) {
        const Item& item = *w.item;
        if (IsCommItem(item)) continue;
        std::vector<int> changed;
        for (const auto& c : changes) {
            if (c.item == &item) changed.push_back(c.channel);
        }
        if (changed.empty()) continue;
        const bool whole = item.encoding == Encoding::WordBits || item.writeOne == 0;
        if (whole) {
            auto r = models::WriteRequest(item, -1, w.values, error);
            if (!r) return std::nullopt;
            steps.push_back({&item, -1, *r});
        } else {
            for (int ch : changed) {
                const std::uint32_t v = w.values[static_cast<std::size_t>(ch)];
                auto r = models::WriteRequest(item, ch, std::span(&v, 1), error);
                if (!r) return std::nullopt;
                steps.push_back({&item, ch, *r});
            }
        }
    }
    for (const auto& c : changes) {
        if (IsCommItem(*c.item)) commDiffers = true;
    }
    if (withComm && commDiffers) {
        auto pick = [&](std::string_view key, int fallback) {
            const Setting* s = wanted.Find(key);
            if (!s) s = current.Find(key);
            return s && !s->values.empty() ? static_cast<int>(s->values[0]) : fallback;
        };
        Step s;
        s.item = models::FindIdentityItem("com_format");
        s.comm = true;
        s.newFormat = pick("com_format", 3);
        s.newAddress = pick("address", 1);
        s.newProtocolLetter = pick("protocol", kProtocolLetterRtu);
        ByteString data;
        for (int v : {s.newFormat, s.newAddress, s.newProtocolLetter}) {
            data.push_back(static_cast<std::uint8_t>(v >> 8));
            data.push_back(static_cast<std::uint8_t>(v & 0xFF));
        }
        s.request = models::Request{models::kFcWriteRegisters, 3, 3, data};
        steps.push_back(std::move(s));
    }
    return steps;
}

std::string DescribeStep(const Step& s, const ModuleConfig& wanted) {
    if (s.comm) {
        return "communication parameters: address " + std::to_string(s.newAddress) + ", " +
               CommFormatLabel(s.newFormat, s.newProtocolLetter == kProtocolLetterAscii) + " " +
               (s.newProtocolLetter == kProtocolLetterAscii ? "ASCII" : "RTU");
    }
    const Setting* w = wanted.Find(s.item->key);
    if (s.channel >= 0) {
        const std::uint32_t v = w ? w->values[static_cast<std::size_t>(s.channel)] : 0;
        return SettingName(*s.item, s.channel) + " = " + ValueText(*s.item, v);
    }
    std::string out(s.item->key);
    out += " =";
    if (w) {
        for (std::size_t ch = 0; ch < w->values.size(); ++ch)
            out += " " + models::ChannelName(*s.item, static_cast<int>(ch)) + ":" +
                   ValueText(*s.item, w->values[ch]);
    }
    return out;
}

}  // namespace kelm::config
