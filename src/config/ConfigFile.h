#pragma once
// A module's configuration as a file: JSON with a format name and version,
// the model, the identity it was read from, and every item the model
// description marks as configuration. Also what a restore needs before it
// sends anything: validation, the difference between two configurations,
// and the ordered writes that turn one into the other. No Qt, no I/O.
//
// File layout (format version 1):
//   {"format": "kelm-module-config", "version": 1, "model": "KELM-8I8T",
//    "identity": {"type": 10, "hw_version": "A1", "sw_version": "B3",
//                 "address": 5, "com_format": 3, "baud": 9600, "parity": "none",
//                 "protocol": "rtu", "time": "2026-12-09T19:40:00Z"},
//    "settings": {"com_format": 3, "address": 5, "protocol": "rtu",
//                 "do_init": {"DO0": "off", ...}, "pulse_on": {"DO0": 100, ...}}}
// A multi-channel item is an object of every channel; an enumerated value is
// its ASCII spelling ("on", "pulse", "+-10V"), anything else a number.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "models/ModelMap.h"

namespace kelm::config {

inline constexpr std::string_view kFormatName = "kelm-module-config";
inline constexpr int kFormatVersion = 1;

// Where a configuration was read from.
struct Identity {
    int type = 0;
    int hardware = 0;
    int software = 0;
    int address = 0;
    int format = 0;
    int protocolLetter = 0;
    std::string time;  // UTC, ISO 8601
};

// One configuration item's values, one per channel (bits of a WordBits item
// one per channel too).
struct Setting {
    const models::Item* item = nullptr;
    std::vector<std::uint32_t> values;
};

struct ModuleConfig {
    const models::Model* model = nullptr;
    Identity identity;
    std::vector<Setting> settings;  // in the model description's item order

    const Setting* Find(std::string_view key) const;
};

// The items a configuration keeps: the channel settings in the model's
// order, then the communication parameters (com_format, address, protocol).
std::vector<const models::Item*> ConfigItems(const models::Model& m);
// Communication parameters change how the module is reached: written last.
bool IsCommItem(const models::Item& item);

// The file text (pretty-printed, one trailing newline).
std::string ToJson(const ModuleConfig& c);

// Reads a file's text. Refuses (nullopt, *error names the key) text that is
// not JSON, another format or version, an unknown model, a key the model
// does not configure, a missing channel, or a value outside the item's range.
std::optional<ModuleConfig> ParseConfig(std::string_view text, std::string* error);

// The text of one value as the file spells it: "on", "+-10V", "rtu", "100".
std::string ValueText(const models::Item& item, std::uint32_t value);
// "pulse_on.DO3", or the key of a single-value item.
std::string SettingName(const models::Item& item, int channel);

// One setting that differs.
struct Change {
    const models::Item* item = nullptr;
    int channel = 0;
    std::uint32_t from = 0;
    std::uint32_t to = 0;
};

// What differs from `current` to `wanted`, setting by setting, in item
// order (communication parameters last). Items absent from either side are
// left out.
std::vector<Change> Diff(const ModuleConfig& current, const ModuleConfig& wanted);
// "pulse_on.DO3: 100 -> 250 (x0.1ms)"
std::string DescribeChange(const Change& c);

// One write of a restore.
struct Step {
    const models::Item* item = nullptr;  // for the communication step: com_format
    int channel = -1;                    // -1: every channel of the item at once
    models::Request request;
    bool comm = false;
    // The communication step: the line the module is reached on afterwards.
    int newAddress = 0;
    int newFormat = 0;
    int newProtocolLetter = 0;
};

// The writes that turn `current` into `wanted`: the channel settings that
// differ (a whole item where one register holds every channel or the item is
// written at once, else channel by channel), then, only with withComm and
// only when they differ, one write of the communication parameters (registers
// 3-5 together, as the module takes them). nullopt (with *error) when a value
// cannot be written.
std::optional<std::vector<Step>> PlanRestore(const ModuleConfig& current,
                                             const ModuleConfig& wanted, bool withComm,
                                             std::string* error);
// "pulse_on.DO3 = 250", "do_init (all channels)", "communication: address 7, ..."
std::string DescribeStep(const Step& s, const ModuleConfig& wanted);

}  // namespace kelm::config
