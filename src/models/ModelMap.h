#pragma once
// What the program knows about each KELM module model, in one place: every
// coil, input and register range it reads or writes, how each is encoded,
// which request reads it and how it is written, the channel layout under the
// module's tree node, and the analog conversions. Plain tables and small pure
// functions, no Qt and no I/O, so the panels, the command-line tool, the
// communication monitor and configuration backups all read the same map.
//
// Item keys are stable ASCII names (see README "The model description"):
//   identity   type, hw_version, sw_version, com_format, address, protocol
//   KELM-8I8T  di, do, do_init, do_mode, pulse_on, pulse_off, pulse_run,
//              pulse_count, di_filter, di_count_run, di_count
//   KELM-16I   di, di_filter, di_count_run, di_count
//   KELM-16T   do, do_init, do_mode, pulse_on, pulse_off, pulse_run, pulse_count
//   KELM-8RY   ry, ry_init
//   KELM-2AO   ao_mode, ao
//   KELM-8AD, KELM-8AS, KELM-8ASP   ai_mode, ai
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "modbus/Bytes.h"

namespace kelm::models {

inline constexpr std::uint8_t kFcReadCoils = 1;
inline constexpr std::uint8_t kFcReadInputs = 2;
inline constexpr std::uint8_t kFcReadHolding = 3;
inline constexpr std::uint8_t kFcReadInputRegisters = 4;
inline constexpr std::uint8_t kFcWriteCoil = 5;
inline constexpr std::uint8_t kFcWriteRegister = 6;
inline constexpr std::uint8_t kFcWriteCoils = 15;
inline constexpr std::uint8_t kFcWriteRegisters = 16;

inline constexpr std::uint16_t kCoilOn = 0xFF00;
inline constexpr std::uint16_t kCoilOff = 0x0000;
// Switch-type registers hold characters: "1" starts (reads back as running),
// "0" stops; channel modes are "0" plus the mode index.
inline constexpr std::uint16_t kCharStart = 0x0031;
inline constexpr std::uint16_t kCharStop = 0x0030;
inline constexpr std::uint16_t kModeCharBase = 0x0030;

// Modbus object tables.
enum class Table : std::uint8_t { Coil, DiscreteInput, Holding, InputRegister };

enum class Access : std::uint8_t { Read, Write, ReadWrite };

enum class Encoding : std::uint8_t {
    Bit,             // one coil or discrete input per channel: bit ch of the data bytes
    Word,            // unsigned 16-bit, one register per channel
    DWordHighFirst,  // unsigned 32-bit, two registers per channel, high word in the lower
    Packed24,        // unsigned 24-bit counts packed back to back, most significant byte first
    WordBits,        // one register for all channels: bit ch is channel ch
    CharSwitch,      // 0x0031 start / running, 0x0030 stop
    ModeChar,        // 0x0030 + mode index
    ProtocolLetter,  // 0x0052 "R" Modbus RTU, 0x0041 "A" Modbus ASCII
    FormatCode,      // serial format code 0-15 (baud index, +8 for even parity)
    LowByte,         // the low byte of the register (type code, versions)
};

// What a configuration backup keeps (Config), what it leaves (Live, the
// module's present state), and the identity it only checks.
enum class Role : std::uint8_t { Identity, Config, Live };

// A read request: function code, first coil/register, quantity.
struct Read {
    std::uint8_t fc = 0;  // 0: the item is not read
    std::uint16_t start = 0;
    std::uint16_t quantity = 0;

    // Byte count of the reply: one bit per coil or input, two bytes per register.
    int ReplyByteCount() const;
    bool operator==(const Read&) const = default;
};

// One value of an enumerated item: a mode, a switch state, a bit's meaning.
struct Choice {
    std::string_view label;  // as the panels show it: "±10V", "电流", "ON"
    std::string_view ascii;  // for typing: "+-10V", "current", "on"
    std::uint16_t code;      // the register value (or bit value)
    std::string_view unit;   // analog modes: unit of the values ("mA", "V", "uA", "mV")
    double fullScale = 0;    // analog input modes
    int decimals = 0;        // analog input modes: decimals of the value text
    std::uint32_t min = 0;   // analog output modes: valid values
    std::uint32_t max = 0;
};

struct Item {
    std::string_view key;     // "do_mode"
    std::string_view prefix;  // channel names: "DO" -> DO0, DO1 ...; empty for a single value
    Table table;
    Access access;
    Encoding encoding;
    Role role;
    std::uint16_t first;    // coil or register of channel 0
    std::uint8_t channels;  // 1 for a single value
    std::uint32_t min;      // valid values (for a mode: the codes)
    std::uint32_t max;
    std::string_view unit;  // "x0.1ms"; empty when none or when the mode decides
    std::string_view zh;    // short name: "脉冲ON时间"
    std::string_view en;    // "pulse ON time"
    Read read;              // the request the panels read it with
    std::uint8_t writeOne;  // function code writing one channel (5, 6 or 16), 0 none
    std::uint8_t writeAll;  // function code writing every channel at once (15, 16), 0 none
    std::span<const Choice> choices{};

    // Registers (or coils) per channel: 0 for WordBits (all share one).
    int Stride() const;
    // Coil or register of channel ch (the first of its two for 32-bit values).
    std::uint16_t Address(int ch) const;
    // The last coil or register the item occupies.
    std::uint16_t Last() const;
    // Registers or coils the item spans.
    int Span() const { return Last() - first + 1; }
    bool Writable() const { return access != Access::Read; }
    // The value lies in the item's valid range.
    bool InRange(std::uint32_t v) const { return v >= min && v <= max; }
    const Choice* ChoiceByCode(std::uint32_t code) const;
    // By label or ASCII spelling (ASCII case-insensitive); nullptr when none.
    const Choice* ChoiceByName(std::string_view name) const;
    // Index of the choice with this code, -1 when none.
    int ChoiceIndex(std::uint32_t code) const;
};

// Which tree children of a module node are inputs and which outputs.
struct ChannelLayout {
    std::uint8_t inputs = 0;            // children 0 .. inputs-1 are inputs DI0 ...
    std::uint8_t firstOutputChild = 0;  // outputs DO0 ... start at this child
    std::uint8_t outputs = 0;
};

// The analog input conversion of a model (none when countsPerFullScale is 0):
// value = (count - zeroCount) / countsPerFullScale x full scale of the mode.
struct AnalogInput {
    double zeroCount = 0;
    double countsPerFullScale = 0;
    // A channel without a mode shows the raw count (true) or the count per
    // full scale with unscaledDecimals.
    bool unselectedShowsCount = false;
    int unscaledDecimals = 0;
};

// How a module's channel modes read back.
enum class ModeReadBack : std::uint8_t {
    PerChannel,    // each register alone: a code that is no mode leaves its channel unknown
    AllOrNone,     // one code that is no mode makes the whole reply say nothing (KELM-8AD)
    FirstOrOther,  // the first mode's code, and every other value is the second mode (KELM-2AO)
};

struct Model {
    std::string_view name;  // "KELM-8I8T"
    std::uint8_t typeCode;  // low byte of holding register 0
    ChannelLayout layout;
    std::span<const Item> items;  // the model's own items, after the identity items
    AnalogInput analog;
    std::string_view modeKey;   // the item whose choice governs values ("ai_mode"), or empty
    std::string_view valueKey;  // the item it governs ("ai")
    ModeReadBack modeReadBack = ModeReadBack::PerChannel;
};

// The eight models, type codes 10-17 in order.
std::span<const Model> AllModels();
const Model* FindModel(std::string_view name);
const Model* FindModelByCode(int typeCode);

// Holding registers 0-5, common to every model.
std::span<const Item> IdentityItems();
// An identity item by key ("com_format"); nullptr when there is none.
const Item* FindIdentityItem(std::string_view key);
// The identity items, then the model's own.
std::vector<const Item*> Items(const Model& m);
const Item* FindItem(const Model& m, std::string_view key);
// The identity read the version query and the bus scan send: FC 03, 0, 3.
Read IdentityRead();

// What a live trend polls: the module's inputs (read-only live items: input
// states, counts, analog measurements), in map order.
std::vector<const Item*> PollItems(const Model& m);
// The unit of the item's values on a channel in mode modeIndex: the mode's
// unit for the values the model's mode governs ("mA", "V", "uA", "mV"), else
// the item's own unit; empty when there is none (or no mode is known).
std::string_view UnitOf(const Model& m, const Item& item, int modeIndex);

// ---- channels

enum class Side : std::uint8_t { None, Input, Output };
struct Child {
    Side side = Side::None;
    int channel = -1;  // input or output number
};
// What the tree child at position is; Side::None for a model without channel
// nodes or a position past them.
Child ChildAt(const Model& m, int position);
// The channel node texts in order: "DI0" ... then "DO0" ...
std::vector<std::string> ChannelNodeNames(const Model& m);
// "DO3"; for a single value the item's key.
std::string ChannelName(const Item& item, int ch);
// "DO3", "do3", "3" -> 3 (the AI channels also answer to "CH2"); nullopt
// when it names no channel of the item.
std::optional<int> ParseChannel(const Item& item, std::string_view text);

// ---- requests

// A request as the panels send it: for FC 01-06 `value` is the quantity or
// the value written; for FC 15 and 16 `value` is the quantity and `data` the
// data bytes.
struct Request {
    std::uint8_t fc = 0;
    std::uint16_t start = 0;
    std::uint16_t value = 0;
    ByteString data;
    bool operator==(const Request&) const = default;
};

// The panel's read of the item.
std::optional<Request> ReadRequest(const Item& item);
// Address, function code and PDU: the body the codec frames (RTU or ASCII).
ByteString RequestBody(std::uint8_t address, const Request& r);

// The write of one channel (ch >= 0) or, with ch == -1, of every channel with
// one value each. Values are checked against the item's range (and the
// choices of an enumerated item); on failure nullopt with the reason in
// *error, in English ("do: no channel 8"): kelm prints it as it is.
std::optional<Request> WriteRequest(const Item& item, int ch, std::span<const std::uint32_t> values,
                                    std::string* error = nullptr);

// ---- replies

// The item's values (one per channel) out of a read reply frame without its
// check (address, function code, byte count, data), given the request the
// reply answers. nullopt when the frame does not answer that request with
// this item inside it, or holds fewer bytes than its byte count announces.
std::optional<std::vector<std::uint32_t>> Decode(const Item& item, const Read& request,
                                                 std::span<const std::uint8_t> pbuf);

// The channel modes a reply reports, as indexes of the mode item's choices
// (-1: not known), one per channel, read by the model's ModeReadBack; nullopt
// when the model has no modes or the reply does not answer a read holding
// them.
std::optional<std::vector<int>> ModesOf(const Model& m, const Read& request,
                                        std::span<const std::uint8_t> pbuf);

// ---- analog

// A value in the unit people read: the analog outputs travel in uA and mV and
// are shown in mA and V; every other unit stays as it is.
struct Shown {
    double value = 0;
    std::string_view unit;
};
Shown InShownUnit(double value, std::string_view unit);

// Fixed-point text of v with `decimals` decimals and at least one integer
// digit, rounded half away from zero on the value's 15 significant digits, a
// leading minus for a negative value that does not round to zero.
std::string FormatFixed(double v, int decimals);
// The value of an analog input count under mode index modeIndex; nullopt for
// a model without analog inputs or a mode that is not one of the item's.
std::optional<double> AnalogValue(const Model& m, std::uint32_t count, int modeIndex);
// The value text the panel shows: converted and formatted by the mode; with
// no such mode, the raw count (KELM-8AD) or the unscaled quotient (KELM-8AS).
std::string AnalogText(const Model& m, std::uint32_t count, int modeIndex);

// ---- words for the line

// The language of the words: Chinese, as the window is written, or English
// (the items' English names, the choices' ASCII spellings).
enum class TextLanguage : std::uint8_t { Chinese, English };

// A request frame body (address first, no check) in words: "读 DI0-7",
// "写 DO3 = ON", "写 CH2 模式 = ±10V" (in English "Read DI0-7", "Write DO3 =
// ON", "Write CH2 mode = ±10V"); "?" when it matches nothing in the map.
// model may be null (no module selected): only the identity map is known.
// modes: as for DescribeReply, for the units of values written.
std::string DescribeRequest(const Model* model, std::span<const std::uint8_t> body,
                            std::span<const int> modes = {},
                            TextLanguage lang = TextLanguage::Chinese);

// The same for a whole request frame as it goes on the line, RTU (with its
// CRC) or ASCII (":" ... LRC CR LF) by protocol (0 RTU, 1 ASCII); "?" for a
// frame that fails its check.
std::string DescribeRequestFrame(const Model* model, std::span<const std::uint8_t> frame,
                                 int protocol, std::span<const int> modes = {},
                                 TextLanguage lang = TextLanguage::Chinese);

// A reply frame without its check (ASCII: with the LRC position, as the
// dispatcher hands it on) in words, judged against the request's start
// register regAddr: "回复: AI0 = 4.012 mA", "回复: 异常 02" (in English
// "Reply: AI0 = 4.012 mA", "Reply: exception 02"). modes are the
// channel modes that convert values (the mode indexes the panel has
// selected, -1 for none); empty when unknown. "?" when nothing matches.
std::string DescribeReply(const Model* model, std::uint16_t regAddr,
                          std::span<const std::uint8_t> pbuf, std::span<const int> modes = {},
                          TextLanguage lang = TextLanguage::Chinese);

}  // namespace kelm::models
