// kelm write: outputs, relays, modes, times, counters and analog outputs by
// name (do3=on, do=0x81, ao1=12.5, ai2.mode=+-10V, pulse_on3=100), in the
// order given, each read back and compared. Every assignment is parsed and
// checked before the first request goes out.
#include <cmath>
#include <iostream>
#include <memory>

#include "Items.h"

namespace kelm::cli {

namespace m = kelm::models;

namespace {

struct WriteOptions {
    LineOptions line;
    std::string model;
    std::vector<std::string> assignments;
};

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// One assignment, parsed and checked against the model.
struct Planned {
    std::string text;  // as typed
    Selection sel;
    std::vector<std::uint32_t> values;  // one per channel written (WordBits whole: the word)
    // An analog output value in the user's unit: converted once the
    // channel's mode is known.
    bool analogValue = false;
    double userValue = 0;
    std::string userUnit;  // "mA"/"V" when typed, else empty
};

[[noreturn]] void Bad(const std::string& text, const std::string& why) {
    throw Failure{kExitUsage, "\"" + text + "\": " + why + "; nothing was sent"};
}

std::string ChoiceList(const m::Item& item) {
    std::string out;
    for (const auto& c : item.choices) out += (out.empty() ? "" : ", ") + std::string(c.ascii);
    return out;
}

bool IsOnOff(const m::Item& item) {
    return item.choices.size() == 2 && item.choices[0].ascii == "off" &&
           item.choices[1].ascii == "on";
}

std::optional<std::uint32_t> OnOffValue(const std::string& v) {
    const std::string l = Lower(v);
    if (l == "on" || l == "1" || l == "true") return 1;
    if (l == "off" || l == "0" || l == "false") return 0;
    return std::nullopt;
}

// The value of one channel of an item other than the analog output.
std::uint32_t ChannelValue(const std::string& text, const m::Item& item, const std::string& v) {
    if (IsOnOff(item)) {
        if (auto b = OnOffValue(v)) return *b;
        Bad(text, std::string(item.key) + " takes on or off (1 or 0)");
    }
    if (item.encoding == m::Encoding::CharSwitch) {
        const std::string l = Lower(v);
        if (l == "run" || l == "on" || l == "start" || l == "1") return m::kCharStart;
        if (l == "stop" || l == "off" || l == "0") return m::kCharStop;
        Bad(text, std::string(item.key) + " takes run or stop (on or off)");
    }
    if (!item.choices.empty()) {
        if (const m::Choice* c = item.ChoiceByName(v)) return c->code;
        if (item.encoding == m::Encoding::WordBits) {
            const auto n = ParseInteger(v);
            if (n && *n <= 1) return static_cast<std::uint32_t>(*n);
        }
        Bad(text, std::string(item.key) + " takes " + ChoiceList(item));
    }
    const auto n = ParseInteger(v);
    if (!n) Bad(text, "\"" + v + "\" is not a number");
    if (*n > 0xFFFFFFFFull || !item.InRange(static_cast<std::uint32_t>(*n))) {
        Bad(text, std::string(item.key) + " takes " + std::to_string(item.min) + " to " +
                      std::to_string(item.max) +
                      (item.unit.empty() ? std::string() : " (" + std::string(item.unit) + ")"));
    }
    return static_cast<std::uint32_t>(*n);
}

const m::Choice* ModeByUserUnit(const m::Item& modeItem, const std::string& unit) {
    for (const auto& c : modeItem.choices) {
        if (Lower(bus::UserUnit(c)) == Lower(unit)) return &c;
    }
    return nullptr;
}

Planned Parse(const m::Model& model, const std::string& text) {
    const auto eq = text.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == text.size())
        Bad(text, "give NAME=VALUE (do3=on, ao1=12.5, ai2.mode=+-10V)");
    std::string lhs = Lower(text.substr(0, eq));
    const std::string rhs = text.substr(eq + 1);
    Planned p;
    p.text = text;
    bool raw = false;
    if (lhs.ends_with(".mode")) {
        lhs.resize(lhs.size() - 5);
        Selection s = ParseSelection(model, lhs);
        if (model.modeKey.empty() || s.item->key != model.valueKey)
            Bad(text, "only analog channels have a .mode");
        p.sel = {m::FindItem(model, model.modeKey), s.channel};
    } else if (lhs.ends_with(".raw")) {
        lhs.resize(lhs.size() - 4);
        p.sel = ParseSelection(model, lhs);
        raw = true;
    } else {
        p.sel = ParseSelection(model, lhs);
    }
    const m::Item& item = *p.sel.item;
    if (!item.Writable()) Bad(text, std::string(item.key) + " is read-only");
    const bool analogOut = !model.valueKey.empty() && item.key == model.valueKey;
    if (raw && !analogOut) Bad(text, ".raw is for analog outputs (ao1.raw=12500)");

    if (analogOut && !raw) {
        // A number in mA or V, optionally with its unit.
        std::string num = rhs;
        std::string unit;
        const std::string l = Lower(rhs);
        if (l.ends_with("ma")) {
            unit = "mA";
            num = rhs.substr(0, rhs.size() - 2);
        } else if (l.ends_with("v")) {
            unit = "V";
            num = rhs.substr(0, rhs.size() - 1);
        }
        std::size_t used = 0;
        double v = 0;
        try {
            v = std::stod(num, &used);
        } catch (...) {
            used = 0;
        }
        if (used == 0 || used != num.size() || !std::isfinite(v))
            Bad(text, "\"" + rhs + "\" is not a number (in mA or V, e.g. 12.5 or 5V)");
        const double code = std::round(v * 1000.0);
        if (code < item.min || code > item.max)
            Bad(text, std::string(item.key) + " takes 0 to " + std::to_string(item.max / 1000) +
                          " (mA or V by the channel's mode)");
        if (!unit.empty()) {
            const m::Choice* mode = ModeByUserUnit(*m::FindItem(model, model.modeKey), unit);
            if (!mode) Bad(text, "no mode of " + std::string(model.name) + " is in " + unit);
            if (code < mode->min || code > mode->max)
                Bad(text, "the " + std::string(mode->ascii) + " mode takes " +
                              m::FormatFixed(mode->min / 1000.0, 3) + " to " +
                              m::FormatFixed(mode->max / 1000.0, 3) + " " + unit);
        }
        if (p.sel.channel < 0) Bad(text, "give one channel (" + std::string(item.key) + "0=...)");
        p.analogValue = true;
        p.userValue = v;
        p.userUnit = unit;
        p.values = {static_cast<std::uint32_t>(code)};
        return p;
    }

    if (p.sel.channel >= 0) {
        p.values = {ChannelValue(text, item, rhs)};
        return p;
    }
    // The whole item.
    if (item.encoding == m::Encoding::Bit) {
        if (auto b = OnOffValue(rhs); b && !ParseInteger(rhs).has_value()) {
            p.values.assign(item.channels, *b);
            return p;
        }
        const auto n = ParseInteger(rhs);
        if (!n) Bad(text, "give a number whose bits are the channels (0x81), or on or off");
        if (*n >> item.channels)
            Bad(text, std::string(item.key) + " has " + std::to_string(item.channels) +
                          " channels (0 to 0x" + (item.channels == 8 ? "FF" : "FFFF") + ")");
        for (int i = 0; i < item.channels; ++i) p.values.push_back((*n >> i) & 1u);
        return p;
    }
    if (item.encoding == m::Encoding::WordBits) {
        const auto n = ParseInteger(rhs);
        if (!n || *n > 0xFFFF || !item.InRange(static_cast<std::uint32_t>(*n)))
            Bad(text, std::string(item.key) + " takes a number whose bits are the channels, 0 to " +
                          std::to_string(item.max));
        p.values = {static_cast<std::uint32_t>(*n)};
        return p;
    }
    if (item.writeAll != 0) {
        p.values.assign(item.channels, ChannelValue(text, item, rhs));
        return p;
    }
    Bad(text, std::string(item.key) + " is written one channel at a time (" +
                  std::string(item.key) + "0=...)");
}

}  // namespace

Command AddWriteCommand(CLI::App& app) {
    auto* cmd = app.add_subcommand(
        "write",
        "write outputs, relays, modes, times, counters and analog outputs by name (do3=on, "
        "do=0x81, ry2=off, ao1=12.5, ao1.raw=12500, ao0.mode=0-10V, ai2.mode=+-10V, "
        "pulse_on3=100, di_filter5=500, do_mode=0x06, pulse_run2=on), in the order given, each "
        "read back and compared. Every assignment is checked before the first request: bad "
        "input sends nothing (without --model only the identity read goes out). An analog "
        "output value is in mA or V by the channel's mode (uA or mV on the wire); a bare "
        "number needs the mode, which is read first");
    auto o = std::make_shared<WriteOptions>();
    AddLineOptions(cmd, o->line, true);
    AddModelOption(cmd, o->model);
    cmd->add_option("assignments", o->assignments, "NAME=VALUE, one or more")->required();
    return {cmd, [o]() {
                const m::Model* given = nullptr;
                if (!o->model.empty()) {
                    given = ModelByName(o->model);
                    if (!given)
                        throw Failure{kExitUsage,
                                      "no model \"" + o->model + "\" (" + ModelNames() + ")"};
                    for (const auto& a : o->assignments) Parse(*given, a);
                } else {
                    // What needs no model is checked before the port opens.
                    for (const auto& a : o->assignments) {
                        const auto eq = a.find('=');
                        if (eq == std::string::npos || eq == 0 || eq + 1 == a.size())
                            Bad(a, "give NAME=VALUE (do3=on, ao1=12.5, ai2.mode=+-10V)");
                    }
                }
                bus::BusClient client;
                OpenLine(client, o->line);
                const m::Model& model = ResolveModel(client, o->line, o->model);
                std::vector<Planned> plan;
                for (const auto& a : o->assignments) plan.push_back(Parse(model, a));

                bus::ItemIo io(client, model, static_cast<std::uint8_t>(o->line.address),
                               RequestOf(o->line, 1));
                // Analog output values need their channel's mode: read once,
                // followed through the mode writes of this call, and every
                // value checked against it before anything is written.
                const m::Item* modeItem =
                    model.modeKey.empty() ? nullptr : m::FindItem(model, model.modeKey);
                bus::Modes modes;
                bool needModes = false;
                for (const auto& p : plan) needModes = needModes || p.analogValue;
                if (needModes) {
                    std::vector<bus::ItemReading> r;
                    const m::Item* items[] = {modeItem};
                    const bus::IoStatus s = io.Read(items, r);
                    if (!s.ok()) ThrowIo(s);
                    for (const auto& v : r[0].channels)
                        modes.push_back(modeItem->ChoiceIndex(v.raw));
                }
                std::vector<bus::Modes> modesAt;  // the modes each assignment sees
                {
                    bus::Modes now = modes;
                    for (auto& p : plan) {
                        if (needModes && p.sel.item == modeItem) {
                            for (int ch = 0; ch < modeItem->channels; ++ch) {
                                if (p.sel.channel >= 0 && ch != p.sel.channel) continue;
                                const std::uint32_t code =
                                    p.values.size() == 1 ? p.values[0]
                                                         : p.values[static_cast<std::size_t>(ch)];
                                now[static_cast<std::size_t>(ch)] = modeItem->ChoiceIndex(code);
                            }
                        }
                        modesAt.push_back(now);
                        if (!p.analogValue) continue;
                        const int idx = now[static_cast<std::size_t>(p.sel.channel)];
                        if (idx < 0)
                            Bad(p.text, "the channel has no valid mode; set it first (" +
                                            std::string(modeItem->key) + "...) or give .raw");
                        const m::Choice& c = modeItem->choices[static_cast<std::size_t>(idx)];
                        const std::string unit = bus::UserUnit(c);
                        if (!p.userUnit.empty() && Lower(p.userUnit) != Lower(unit))
                            Bad(p.text, "the channel is in the " + std::string(c.ascii) +
                                            " mode, whose values are in " + unit);
                        if (p.values[0] < c.min || p.values[0] > c.max)
                            Bad(p.text, "the " + std::string(c.ascii) + " mode takes " +
                                            m::FormatFixed(c.min / 1000.0, 3) + " to " +
                                            m::FormatFixed(c.max / 1000.0, 3) + " " + unit);
                    }
                }

                Json done = Json::array();
                for (std::size_t i = 0; i < plan.size(); ++i) {
                    const auto& p = plan[i];
                    bus::ItemReading after;
                    const bus::IoStatus s = io.Write(*p.sel.item, p.sel.channel, p.values, &after);
                    if (s.error == bus::IoError::None || s.error == bus::IoError::Mismatch) {
                        // Analog outputs shown in the user's unit by the mode.
                        if (p.sel.item->key == model.valueKey && modeItem) {
                            for (auto& v : after.channels) {
                                const auto& ms = modesAt[i];
                                const int idx = static_cast<std::size_t>(v.channel) < ms.size()
                                                    ? ms[static_cast<std::size_t>(v.channel)]
                                                    : -1;
                                if (idx < 0) continue;
                                const auto& c = modeItem->choices[static_cast<std::size_t>(idx)];
                                v.modeIndex = idx;
                                const m::Shown shown = m::InShownUnit(v.raw, c.unit);
                                v.value = shown.value;
                                v.unit = std::string(shown.unit);
                                v.decimals = 3;
                            }
                        }
                        const std::vector<Selection> sel{p.sel};
                        const std::vector<bus::ItemReading> r{after};
                        if (o->line.json) {
                            Json j;
                            j["assignment"] = p.text;
                            j["verified"] = s.ok();
                            j["read_back"] = ReadingsJson(sel, r);
                            done.push_back(j);
                        } else {
                            PrintReadingsText(std::cout, sel, r);
                        }
                    }
                    if (!s.ok()) {
                        if (o->line.json) {
                            std::cout << Json{{"address", o->line.address},
                                              {"model", model.name},
                                              {"written", done}}
                                             .dump()
                                      << '\n';
                        }
                        std::cout.flush();
                        ThrowIo(s);
                    }
                }
                if (o->line.json) {
                    std::cout << Json{{"address", o->line.address},
                                      {"model", model.name},
                                      {"written", done}}
                                     .dump()
                              << '\n';
                }
                return kExitOk;
            }};
}

}  // namespace kelm::cli
