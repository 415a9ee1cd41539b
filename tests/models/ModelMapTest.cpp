// The eight models' maps against the modules' register tables, once: every
// item's object table, first register, channels, encoding, range, the read
// the panels send and how it is written; the channel layout of the tree; the
// requests built from the map, byte for byte; decoding with bounds checks;
// the analog conversions.
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "modbus/Checks.h"
#include "modbus/Models.h"
#include "models/ModelMap.h"

namespace kelm::models {
namespace {

using E = Encoding;
using T = Table;

struct Expected {
    const char* model;
    const char* key;
    Table table;
    Encoding encoding;
    Role role;
    int first;
    int channels;
    std::uint32_t min, max;
    Read read;
    int writeOne;
    int writeAll;
    int last;  // last coil or register of the item
};

constexpr Role C = Role::Config;
constexpr Role L = Role::Live;
constexpr std::uint32_t kMax32 = 0xFFFFFFFF;
constexpr std::uint32_t kMax24 = 0xFFFFFF;
using enum Table;
using enum Encoding;

// The register tables of the modules, as the panels use them.
// clang-format off
const Expected kMaps[] = {
    // model, key, table, encoding, role, first, channels, min, max, read, writeOne, writeAll, last
    {"KELM-8I8T", "di", DiscreteInput, Bit, L, 0, 8, 0, 1, {2, 0, 8}, 0, 0, 7},
    {"KELM-8I8T", "do", Coil, Bit, L, 0, 8, 0, 1, {1, 0, 8}, 5, 15, 7},
    {"KELM-8I8T", "do_init", Holding, WordBits, C, 6, 8, 0, 0xFF, {3, 6, 2}, 6, 0, 6},
    {"KELM-8I8T", "do_mode", Holding, WordBits, C, 7, 8, 0, 0xFF, {3, 6, 2}, 6, 0, 7},
    {"KELM-8I8T", "pulse_on", Holding, Word, C, 8, 8, 2, 65535, {3, 8, 16}, 6, 0, 15},
    {"KELM-8I8T", "pulse_off", Holding, Word, C, 16, 8, 2, 65535, {3, 8, 16}, 6, 0, 23},
    {"KELM-8I8T", "pulse_run", Holding, CharSwitch, L, 24, 8, 0x30, 0x31, {3, 24, 24}, 6, 0, 31},
    {"KELM-8I8T", "pulse_count", Holding, DWordHighFirst, L, 32, 8, 0, kMax32, {3, 24, 24}, 16, 0, 47},
    {"KELM-8I8T", "di_filter", Holding, Word, C, 48, 8, 100, 10000, {3, 48, 8}, 6, 0, 55},
    {"KELM-8I8T", "di_count_run", Holding, CharSwitch, L, 56, 8, 0x30, 0x31, {3, 56, 24}, 6, 0, 63},
    {"KELM-8I8T", "di_count", Holding, DWordHighFirst, L, 64, 8, 0, kMax32, {3, 56, 24}, 0, 0, 79},
    {"KELM-16I", "di", DiscreteInput, Bit, L, 0, 16, 0, 1, {2, 0, 16}, 0, 0, 15},
    {"KELM-16I", "di_filter", Holding, Word, C, 6, 16, 100, 10000, {3, 6, 16}, 6, 0, 21},
    {"KELM-16I", "di_count_run", Holding, CharSwitch, L, 22, 16, 0x30, 0x31, {3, 22, 48}, 6, 0, 37},
    {"KELM-16I", "di_count", Holding, DWordHighFirst, L, 38, 16, 0, kMax32, {3, 22, 48}, 0, 0, 69},
    {"KELM-16T", "do", Coil, Bit, L, 0, 16, 0, 1, {1, 0, 16}, 5, 15, 15},
    {"KELM-16T", "do_init", Holding, WordBits, C, 6, 16, 0, 0xFFFF, {3, 6, 2}, 6, 0, 6},
    {"KELM-16T", "do_mode", Holding, WordBits, C, 7, 16, 0, 0xFFFF, {3, 6, 2}, 6, 0, 7},
    {"KELM-16T", "pulse_on", Holding, Word, C, 8, 16, 2, 65535, {3, 8, 32}, 6, 0, 23},
    {"KELM-16T", "pulse_off", Holding, Word, C, 24, 16, 2, 65535, {3, 8, 32}, 6, 0, 39},
    {"KELM-16T", "pulse_run", Holding, CharSwitch, L, 40, 16, 0x30, 0x31, {3, 40, 48}, 6, 0, 55},
    {"KELM-16T", "pulse_count", Holding, DWordHighFirst, L, 56, 16, 0, kMax32, {3, 40, 48}, 16, 0, 87},
    {"KELM-8RY", "ry", Coil, Bit, L, 0, 8, 0, 1, {1, 0, 8}, 5, 15, 7},
    {"KELM-8RY", "ry_init", Holding, WordBits, C, 6, 8, 0, 0xFF, {3, 6, 1}, 6, 0, 6},
    {"KELM-2AO", "ao_mode", Holding, ModeChar, C, 6, 2, 0x30, 0x31, {3, 6, 4}, 0, 16, 7},
    {"KELM-2AO", "ao", Holding, Word, L, 8, 2, 0, 20000, {3, 6, 4}, 6, 16, 9},
    {"KELM-8AD", "ai_mode", Holding, ModeChar, C, 6, 8, 0x30, 0x37, {3, 6, 8}, 0, 16, 13},
    {"KELM-8AD", "ai", InputRegister, Packed24, L, 0, 8, 0, kMax24, {4, 0, 12}, 0, 0, 11},
    {"KELM-8AS", "ai_mode", Holding, ModeChar, C, 6, 8, 0x30, 0x31, {3, 6, 8}, 0, 16, 13},
    {"KELM-8AS", "ai", InputRegister, Word, L, 0, 8, 0, 0xFFFF, {4, 0, 8}, 0, 0, 7},
    {"KELM-8ASP", "ai_mode", Holding, ModeChar, C, 6, 8, 0x30, 0x31, {3, 6, 8}, 0, 16, 13},
    {"KELM-8ASP", "ai", InputRegister, Word, L, 0, 8, 0, 0xFFFF, {4, 0, 8}, 0, 0, 7},
};
// clang-format on

TEST(ModelMap, EveryItemMatchesTheModulesRegisterTables) {
    std::set<std::pair<std::string, std::string>> listed;
    for (const Expected& x : kMaps) {
        SCOPED_TRACE(std::string(x.model) + " " + x.key);
        const Model* m = FindModel(x.model);
        ASSERT_NE(m, nullptr);
        const Item* i = FindItem(*m, x.key);
        ASSERT_NE(i, nullptr);
        listed.insert({x.model, x.key});
        EXPECT_EQ(i->table, x.table);
        EXPECT_EQ(i->encoding, x.encoding);
        EXPECT_EQ(i->role, x.role);
        EXPECT_EQ(i->first, x.first);
        EXPECT_EQ(i->channels, x.channels);
        EXPECT_EQ(i->min, x.min);
        EXPECT_EQ(i->max, x.max);
        EXPECT_EQ(i->read, x.read);
        EXPECT_EQ(i->writeOne, x.writeOne);
        EXPECT_EQ(i->writeAll, x.writeAll);
        EXPECT_EQ(i->Last(), x.last);
        // The panel's read covers the item.
        EXPECT_GE(i->first, x.read.start);
        EXPECT_LT(i->Last(), x.read.start + x.read.quantity);
        EXPECT_EQ(i->Writable(), x.writeOne != 0 || x.writeAll != 0);
        EXPECT_FALSE(i->zh.empty());
        EXPECT_FALSE(i->en.empty());
    }
    // Nothing in the map that the tables above do not check.
    for (const Model& m : AllModels())
        for (const Item& i : m.items)
            EXPECT_TRUE(listed.count({std::string(m.name), std::string(i.key)}))
                << m.name << " " << i.key;
}

TEST(ModelMap, IdentityRegistersAreCommonToEveryModel) {
    struct Id {
        const char* key;
        int reg;
        Encoding enc;
        Role role;
        std::uint32_t min, max;
    };
    const Id ids[] = {
        {"type", 0, E::LowByte, Role::Identity, 0, 255},
        {"hw_version", 1, E::LowByte, Role::Identity, 0, 255},
        {"sw_version", 2, E::LowByte, Role::Identity, 0, 255},
        {"com_format", 3, E::FormatCode, C, 0, 15},
        {"address", 4, E::Word, C, 1, 247},
        {"protocol", 5, E::ProtocolLetter, C, 0x41, 0x52},
    };
    for (const Model& m : AllModels())
        for (const Id& id : ids) {
            const Item* i = FindItem(m, id.key);
            ASSERT_NE(i, nullptr) << m.name << " " << id.key;
            EXPECT_EQ(i->table, T::Holding);
            EXPECT_EQ(i->first, id.reg);
            EXPECT_EQ(i->encoding, id.enc);
            EXPECT_EQ(i->role, id.role);
            EXPECT_EQ(i->min, id.min);
            EXPECT_EQ(i->max, id.max);
        }
    EXPECT_EQ(IdentityRead(), (Read{3, 0, 3}));
}

TEST(ModelMap, ModelsFollowTheTypeCodesAndTheEngineNames) {
    ASSERT_EQ(AllModels().size(), 8u);
    int code = 10;
    for (const Model& m : AllModels()) {
        EXPECT_EQ(m.typeCode, code);
        const ModelInfo* info = kelm::FindModelByCode(code);
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(m.name, info->name);
        EXPECT_EQ(FindModelByCode(code), &m);
        EXPECT_EQ(FindModel(m.name), &m);
        // The tree's channel nodes the scan adds are the layout's.
        const auto names = ChannelNodeNames(m);
        ASSERT_EQ(names.size(), info->channelNodes.size()) << m.name;
        for (std::size_t i = 0; i < names.size(); ++i) EXPECT_EQ(names[i], info->channelNodes[i]);
        ++code;
    }
    EXPECT_EQ(FindModel("KELM-8as"), nullptr);
    EXPECT_EQ(FindModelByCode(18), nullptr);
}

TEST(ModelMap, ChannelLayoutOfTheTree) {
    struct Case {
        const char* model;
        int position;
        Side side;
        int channel;
    };
    const Case cases[] = {
        {"KELM-8I8T", 0, Side::Input, 0},   {"KELM-8I8T", 7, Side::Input, 7},
        {"KELM-8I8T", 8, Side::Output, 0},  {"KELM-8I8T", 15, Side::Output, 7},
        {"KELM-8I8T", 16, Side::None, -1},  {"KELM-16I", 15, Side::Input, 15},
        {"KELM-16I", 16, Side::None, -1},   {"KELM-16T", 0, Side::Output, 0},
        {"KELM-16T", 15, Side::Output, 15}, {"KELM-8RY", 0, Side::None, -1},
        {"KELM-8AD", 0, Side::None, -1},    {"KELM-16T", -1, Side::None, -1},
    };
    for (const Case& c : cases) {
        const Child child = ChildAt(*FindModel(c.model), c.position);
        EXPECT_EQ(child.side, c.side) << c.model << " " << c.position;
        EXPECT_EQ(child.channel, c.channel) << c.model << " " << c.position;
    }
}

TEST(ModelMap, ChannelNamesAndChoices) {
    EXPECT_EQ(ChannelName(*FindItem(*FindModel("KELM-8I8T"), "do"), 3), "DO3");
    struct Parse {
        const char* model;
        const char* key;
        const char* text;
        std::optional<int> channel;
    };
    const Parse parses[] = {
        {"KELM-8I8T", "do", "DO3", 3},
        {"KELM-8I8T", "do", "do7", 7},
        {"KELM-8I8T", "do", "5", 5},
        {"KELM-8I8T", "do", "DO8", std::nullopt},
        {"KELM-8I8T", "do", "DI3", std::nullopt},
        {"KELM-8I8T", "do", "DO", std::nullopt},
        {"KELM-8AD", "ai", "CH2", 2},
        {"KELM-8AD", "ai_mode", "ai2", 2},
    };
    for (const Parse& p : parses)
        EXPECT_EQ(ParseChannel(*FindItem(*FindModel(p.model), p.key), p.text), p.channel)
            << p.model << " " << p.key << " " << p.text;

    const Item& mode = *FindItem(*FindModel("KELM-8AD"), "ai_mode");
    ASSERT_EQ(mode.choices.size(), 8u);
    const char* labels[] = {"±20mA", "±10V", "±5V", "±2.5V", "±1.2V", "±0.6V", "±0.3V", "±0.15V"};
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(mode.choices[i].label, labels[i]);
        EXPECT_EQ(mode.choices[i].code, 0x30 + i);
        EXPECT_EQ(mode.choices[i].unit, i == 0 ? "mA" : "V");
    }
    EXPECT_EQ(mode.ChoiceByName("+-10v"), &mode.choices[1]);
    EXPECT_EQ(mode.ChoiceByName("±10V"), &mode.choices[1]);
    EXPECT_EQ(mode.ChoiceByName("10V"), nullptr);

    // The other models' modes: label, unit, and for the outputs the range.
    struct Mode {
        const char* model;
        const char* key;
        std::size_t index;
        const char* label;
        const char* unit;
        std::uint32_t min, max;
    };
    const Mode modes[] = {
        {"KELM-8AS", "ai_mode", 0, "电流", "mA", 0, 0},
        {"KELM-8AS", "ai_mode", 1, "电压", "V", 0, 0},
        {"KELM-2AO", "ao_mode", 0, "4-20mA", "uA", 4000, 20000},
        {"KELM-2AO", "ao_mode", 1, "0-10V", "mV", 0, 10000},
    };
    for (const Mode& m : modes) {
        SCOPED_TRACE(std::string(m.model) + " " + m.label);
        const Choice& c = FindItem(*FindModel(m.model), m.key)->choices[m.index];
        EXPECT_EQ(c.label, m.label);
        EXPECT_EQ(c.unit, m.unit);
        EXPECT_EQ(c.min, m.min);
        EXPECT_EQ(c.max, m.max);
    }
}

// The requests built from the map against the frames the panels are known to
// send (address 1): in RTU with the CRC, or the body alone.
constexpr int kItsRead = -2;  // the item's read rather than a write
constexpr int kEvery = -1;    // a write of every channel
struct Sent {
    const char* model;
    const char* key;
    int ch;
    std::vector<std::uint32_t> values;
    bool rtu;
    ByteString bytes;
};

std::vector<std::uint32_t> Bits16(std::initializer_list<int> on) {
    std::vector<std::uint32_t> v(16, 0);
    for (int i : on) v[static_cast<std::size_t>(i)] = 1;
    return v;
}

TEST(ModelMap, RequestsAreTheFramesThePanelsSend) {
    // clang-format off
    const Sent rows[] = {
        {"KELM-8AD", "type", kItsRead, {}, true, {0x01, 0x03, 0x00, 0x00, 0x00, 0x03, 0x05, 0xCB}},
        {"KELM-8AD", "ai_mode", kItsRead, {}, true,
         {0x01, 0x03, 0x00, 0x06, 0x00, 0x08, 0xA4, 0x0D}},
        {"KELM-8AD", "ai", kItsRead, {}, true, {0x01, 0x04, 0x00, 0x00, 0x00, 0x0C, 0xF0, 0x0F}},
        {"KELM-8AS", "ai", kItsRead, {}, true, {0x01, 0x04, 0x00, 0x00, 0x00, 0x08, 0xF1, 0xCC}},
        {"KELM-2AO", "ao", kItsRead, {}, true, {0x01, 0x03, 0x00, 0x06, 0x00, 0x04, 0xA4, 0x08}},
        {"KELM-8AD", "ai_mode", kEvery, {0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37}, true,
         {0x01, 0x10, 0x00, 0x06, 0x00, 0x08, 0x10, 0x00, 0x30, 0x00, 0x31, 0x00, 0x32,
          0x00, 0x33, 0x00, 0x34, 0x00, 0x35, 0x00, 0x36, 0x00, 0x37, 0x0E, 0x98}},
        {"KELM-2AO", "ao_mode", kEvery, {0x30, 0x31}, true,
         {0x01, 0x10, 0x00, 0x06, 0x00, 0x02, 0x04, 0x00, 0x30, 0x00, 0x31, 0xB2, 0x5E}},
        {"KELM-2AO", "ao", kEvery, {12000, 5000}, true,
         {0x01, 0x10, 0x00, 0x08, 0x00, 0x02, 0x04, 0x2E, 0xE0, 0x13, 0x88, 0xF7, 0x81}},
        {"KELM-2AO", "ao", 0, {12000}, true, {0x01, 0x06, 0x00, 0x08, 0x2E, 0xE0, 0x14, 0x20}},
        // Bodies of the digital writes.
        {"KELM-8I8T", "do", 3, {1}, false, {1, 5, 0, 3, 0xFF, 0x00}},
        {"KELM-8I8T", "do", kEvery, {1, 0, 0, 0, 0, 0, 0, 1}, false, {1, 15, 0, 0, 0, 8, 1, 0x81}},
        {"KELM-16T", "do", kEvery, Bits16({0, 8, 15}), false, {1, 15, 0, 0, 0, 16, 2, 0x01, 0x81}},
        {"KELM-8I8T", "pulse_count", 1, {100000}, false,
         {1, 16, 0, 34, 0, 2, 4, 0x00, 0x01, 0x86, 0xA0}},
        {"KELM-16T", "pulse_off", 2, {500}, false, {1, 6, 0, 26, 0x01, 0xF4}},
        {"KELM-16T", "do_mode", kEvery, {0x8200}, false, {1, 6, 0, 7, 0x82, 0x00}},
        {"KELM-16I", "di_count_run", 15, {0x31}, false, {1, 6, 0, 37, 0x00, 0x31}},
    };
    // clang-format on
    for (const Sent& r : rows) {
        SCOPED_TRACE(std::string(r.model) + " " + r.key + " " + std::to_string(r.ch));
        const Item& item = *FindItem(*FindModel(r.model), r.key);
        const auto request =
            r.ch == kItsRead ? ReadRequest(item) : WriteRequest(item, r.ch, r.values);
        ASSERT_TRUE(request);
        const ByteString body = RequestBody(1, *request);
        EXPECT_EQ(r.rtu ? FrameRtu(body) : body, r.bytes);
    }
}

TEST(ModelMap, WritesAreCheckedAgainstTheMap) {
    const Model& m8i8t = *FindModel("KELM-8I8T");
    struct Case {
        const char* model;
        const char* key;
        int ch;
        std::vector<std::uint32_t> values;
        const char* why;  // the reason, in English: kelm prints it as it is
    };
    const Case refused[] = {
        {"KELM-8I8T", "di_filter", 0, {99}, "di_filter: 99 is out of range 100-10000"},
        {"KELM-8I8T", "di_filter", 0, {10001}, "di_filter: 10001 is out of range 100-10000"},
        {"KELM-8I8T", "pulse_on", 0, {1}, "pulse_on: 1 is out of range 2-65535"},
        {"KELM-8I8T", "pulse_on", 0, {65536}, "pulse_on: 65536 is out of range 2-65535"},
        {"KELM-8I8T", "di", 0, {1}, "di: read-only"},
        {"KELM-8I8T", "di_count", 0, {1}, "di_count: read-only"},
        {"KELM-8I8T", "do", 8, {1}, "do: no channel 8"},
        {"KELM-8I8T", "do", 0, {2}, "do: ON (1) or OFF (0) only"},
        {"KELM-8I8T", "do_mode", 3, {1}, "do_mode: the whole word is written at once"},
        {"KELM-8I8T", "do_mode", -1, {0x100}, "do_mode: 256 is out of range 0-255"},
        {"KELM-8I8T", "pulse_run", 0, {0x32}, "pulse_run: 50 is out of range 48-49"},
        {"KELM-8AD", "ai_mode", -1, {0x38, 0, 0}, "ai_mode: needs 8 values"},
        {"KELM-8AD", "ai_mode", 2, {0x31}, "ai_mode: cannot be written one channel at a time"},
        {"KELM-8AS",
         "ai_mode",
         -1,
         {0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x32},
         "ai_mode: 50 is out of range 48-49"},
        {"KELM-2AO", "ao", 0, {20001}, "ao: 20001 is out of range 0-20000"},
        {"KELM-2AO", "ao", -1, {1}, "ao: needs 2 values"},
        {"KELM-8RY", "ry", -1, {1, 1}, "ry: needs 8 values"},
        {"KELM-8AD", "address", 0, {248}, "address: 248 is out of range 1-247"},
        {"KELM-8AD", "protocol", 0, {0x42}, "protocol: 0x0042 is not one of its choices"},
        {"KELM-16T",
         "do",
         -1,
         {1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         "do: ON (1) or OFF (0) only"},
    };
    for (const Case& c : refused) {
        std::string error;
        EXPECT_EQ(WriteRequest(*FindItem(*FindModel(c.model), c.key), c.ch, c.values, &error),
                  std::nullopt)
            << c.model << " " << c.key;
        EXPECT_EQ(error, c.why) << c.model << " " << c.key;
    }
    const std::uint32_t edge[] = {100};
    EXPECT_TRUE(WriteRequest(*FindItem(m8i8t, "di_filter"), 7, edge));
    const std::uint32_t edge2[] = {10000};
    EXPECT_TRUE(WriteRequest(*FindItem(m8i8t, "di_filter"), 0, edge2));
}

TEST(ModelMap, DecodeReadsOnlyWhatArrived) {
    const Model& m8i8t = *FindModel("KELM-8I8T");
    const Item& count = *FindItem(m8i8t, "di_count");
    const Item& run = *FindItem(m8i8t, "di_count_run");
    ByteString reply = {1, 3, 48};
    for (int i = 0; i < 8; ++i)
        reply.insert(reply.end(), {0x00, static_cast<std::uint8_t>(i == 3 ? 0x31 : 0x30)});
    for (int i = 0; i < 8; ++i) reply.insert(reply.end(), {0, 0, 0, static_cast<std::uint8_t>(i)});
    reply.insert(reply.end(), {0xFF, 0xFF, 0xFF, 0xFF});  // longer: not looked at
    const auto counts = Decode(count, count.read, reply);
    ASSERT_TRUE(counts);
    EXPECT_EQ((*counts)[5], 5u);
    const auto runs = Decode(run, run.read, reply);
    ASSERT_TRUE(runs);
    EXPECT_EQ((*runs)[3], 0x31u);
    EXPECT_EQ((*runs)[2], 0x30u);

    // Every shorter frame is refused, never read past its end.
    const ByteString full(reply.begin(), reply.begin() + 51);
    for (std::size_t n = 0; n < full.size(); ++n) {
        const ByteString shorter(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_EQ(Decode(count, count.read, shorter), std::nullopt) << n;
        EXPECT_EQ(Decode(run, run.read, shorter), std::nullopt) << n;
    }
    // Another byte count, another function code, another request.
    ByteString wrongCount = full;
    wrongCount[2] = 46;
    EXPECT_EQ(Decode(count, count.read, wrongCount), std::nullopt);
    ByteString wrongFc = full;
    wrongFc[1] = 4;
    EXPECT_EQ(Decode(count, count.read, wrongFc), std::nullopt);
    EXPECT_EQ(Decode(count, Read{3, 48, 8}, full), std::nullopt);

    // 24-bit packed counts: 01 7C FF is 97535.
    const Model& m8ad = *FindModel("KELM-8AD");
    const Item& ai = *FindItem(m8ad, "ai");
    ByteString ad = {1, 4, 24, 0x01, 0x7C, 0xFF};
    for (int i = 1; i < 8; ++i) ad.insert(ad.end(), {0x00, 0xFF, static_cast<std::uint8_t>(i)});
    const auto adCounts = Decode(ai, ai.read, ad);
    ASSERT_TRUE(adCounts);
    EXPECT_EQ((*adCounts)[0], 97535u);
    EXPECT_EQ((*adCounts)[7], 0x00FF07u);
    ad.pop_back();
    EXPECT_EQ(Decode(ai, ai.read, ad), std::nullopt);

    // Bits: 16 inputs, DI0, DI1 and DI15.
    const Item& di16 = *FindItem(*FindModel("KELM-16I"), "di");
    const auto bits = Decode(di16, di16.read, ByteString{1, 2, 2, 0x03, 0x80});
    ASSERT_TRUE(bits);
    EXPECT_EQ(*bits, (std::vector<std::uint32_t>{1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(Decode(di16, di16.read, ByteString{1, 2, 1, 0x03}), std::nullopt);
    EXPECT_EQ(Decode(di16, di16.read, ByteString{1, 2, 2, 0x03}), std::nullopt);
}

TEST(ModelMap, WhatATrendPollsAndItsUnits) {
    struct Polled {
        const char* model;
        std::vector<std::string> keys;
    };
    const Polled polled[] = {
        {"KELM-8I8T", {"di", "di_count"}},
        {"KELM-16I", {"di", "di_count"}},
        {"KELM-16T", {}},
        {"KELM-8AD", {"ai"}},
        {"KELM-8ASP", {"ai"}},
    };
    for (const Polled& p : polled) {
        std::vector<std::string> keys;
        for (const Item* i : PollItems(*FindModel(p.model))) keys.emplace_back(i->key);
        EXPECT_EQ(keys, p.keys) << p.model;
    }
    struct Unit {
        const char* model;
        const char* key;
        int mode;
        const char* unit;
    };
    const Unit units[] = {
        {"KELM-8AD", "ai", 0, "mA"},
        {"KELM-8AD", "ai", 3, "V"},
        {"KELM-8AD", "ai", -1, ""},
        {"KELM-2AO", "ao", 1, "mV"},
        {"KELM-16I", "di_filter", -1, "x0.1ms"},
    };
    for (const Unit& u : units) {
        const Model& m = *FindModel(u.model);
        EXPECT_EQ(UnitOf(m, *FindItem(m, u.key), u.mode), u.unit)
            << u.model << " " << u.key << " " << u.mode;
    }
}

TEST(ModelMap, AnalogConversions) {
    struct Case {
        const char* model;
        std::uint32_t count;
        int mode;
        const char* text;
    };
    const Case cases[] = {
        {"KELM-8AD", 97535, 0, "10.0000"},   {"KELM-8AD", 33535, 1, "-5.0000"},
        {"KELM-8AD", 129535, 7, "0.150000"}, {"KELM-8AD", 65536, 2, "0.00008"},
        {"KELM-8AD", 0, 0, "-20.4797"},      {"KELM-8AD", 1535, 3, "-2.50000"},
        {"KELM-8AD", 65535, 5, "0.00000"},   {"KELM-8AD", 97535, -1, "97535"},
        {"KELM-8AS", 2000, 0, "10.000"},     {"KELM-8ASP", 2000, 0, "0.625"},
        {"KELM-8ASP", 12345, 1, "1.929"},    {"KELM-8AS", 2000, -1, "0.500"},
        {"KELM-8AS", 2000, 2, "0.500"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AnalogText(*FindModel(c.model), c.count, c.mode), c.text)
            << c.model << " " << c.count << " " << c.mode;
    EXPECT_EQ(AnalogValue(*FindModel("KELM-2AO"), 100, 0), std::nullopt);
    EXPECT_DOUBLE_EQ(*AnalogValue(*FindModel("KELM-8AD"), 97535, 0), 10.0);
}

}  // namespace
}  // namespace kelm::models
