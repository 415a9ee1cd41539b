#pragma once
// What the live view reads from each model and how it turns the replies into
// values: the channels a module offers, the read requests its panel uses, and
// the decoding and analog conversions. Registers, requests, encodings, modes
// and conversions all come from the model description (models/ModelMap.h);
// this file only maps its items onto the trend's kinds of channel.
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "modbus/Bytes.h"

namespace kelm {

enum class ChannelKind : std::uint8_t {
    AnalogIn,   // KELM-8AD/8AS/8ASP inputs, in their mode's unit
    AnalogOut,  // KELM-2AO outputs as read back
    DigitalIn,  // a step: 0 or 1
    DigitalOut,
    Relay,
    Counter,  // an input's pulse count
};

// One channel of one module.
struct ChannelId {
    std::uint8_t address = 0;
    std::string model;  // "KELM-8AD"
    ChannelKind kind = ChannelKind::AnalogIn;
    int index = 0;  // channel number within its kind

    bool operator==(const ChannelId&) const = default;
};

// "KELM-8AD(3) CH0", "KELM-8I8T(1) DI2", "KELM-8I8T(1) DI2计数".
std::string ChannelName(const ChannelId& c);
bool IsStep(ChannelKind kind);

// Every channel the live view can read back from a model.
std::vector<ChannelId> ChannelsOf(std::uint8_t address, std::string_view model);
// What adding a module node adds: its inputs (analog, digital, counters
// excepted), or for output-only modules their read-back outputs.
std::vector<ChannelId> DefaultChannelsOf(std::uint8_t address, std::string_view model);
// The channel a tree channel node stands for (position under its module
// node, as the tree numbers them); false for a position the model lacks.
bool ChannelOfNode(std::uint8_t address, std::string_view model, int position, ChannelId* out);

// One read request of a model, as its panel sends it.
struct LiveRead {
    std::uint8_t functionCode = 0;
    std::uint16_t regAddr = 0;
    std::uint16_t quantity = 0;
    // The panel reads the same and shows the reply as its own.
    bool mirror = false;
    // A configuration read (the analog modes): once at the start and then
    // only every kConfigEveryRounds rounds.
    bool config = false;
};
inline constexpr int kConfigEveryRounds = 50;

// The reads that serve these kinds of channel of the model (config reads
// first).
std::vector<LiveRead> ReadsFor(std::string_view model, const std::vector<ChannelKind>& kinds);

// What the live view knows of one module between replies: its analog modes.
struct LiveModuleState {
    bool modesKnown = false;
    int modes[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
};

// A channel's value and unit from one reply; false when the reply does not
// carry the channel (another read) or cannot be read (unknown mode, short
// reply). Pbuf is the reply without its check.
struct LiveValue {
    double value = NAN;
    std::string unit;
};
// Updates the module state from a configuration reply (call for every reply
// before reading values).
void ApplyConfigReply(std::string_view model, const LiveRead& read, const Frame& Pbuf,
                      LiveModuleState& state);
bool DecodeChannel(const ChannelId& c, const LiveRead& read, const Frame& Pbuf,
                   const LiveModuleState& state, LiveValue* out);
// The unit a channel has while its module is in the given state ("" when the
// mode is unknown).
std::string UnitOf(const ChannelId& c, const LiveModuleState& state);

}  // namespace kelm
