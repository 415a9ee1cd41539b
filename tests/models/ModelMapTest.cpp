// The eight models' maps against the modules' register tables, once: every
// item's object table, first register, channels, encoding, range, the read
// the panels send and how it is written; the channel layout of the tree; the
// requests built from the map, byte for byte; decoding with bounds checks;
// the analog conversions.
#include <gtest/gtest.h>

#include <set>

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

// The register tables of the modules, as the panels use them.
const Expected kMaps[] = {
    {"KELM-8I8T", "di", T::DiscreteInput, E::Bit, L, 0, 8, 0, 1, {2, 0, 8}, 0, 0, 7},
    {"KELM-8I8T", "do", T::Coil, E::Bit, L, 0, 8, 0, 1, {1, 0, 8}, 5, 15, 7},
    {"KELM-8I8T", "do_init", T::Holding, E::WordBits, C, 6, 8, 0, 0xFF, {3, 6, 2}, 6, 0, 6},
    {"KELM-8I8T", "do_mode", T::Holding, E::WordBits, C, 7, 8, 0, 0xFF, {3, 6, 2}, 6, 0, 7},
    {"KELM-8I8T", "pulse_on", T::Holding, E::Word, C, 8, 8, 2, 65535, {3, 8, 16}, 6, 0, 15},
    {"KELM-8I8T", "pulse_off", T::Holding, E::Word, C, 16, 8, 2, 65535, {3, 8, 16}, 6, 0, 23},
    {"KELM-8I8T",
     "pulse_run",
     T::Holding,
     E::CharSwitch,
     L,
     24,
     8,
     0x30,
     0x31,
     {3, 24, 24},
     6,
     0,
     31},
    {"KELM-8I8T",
     "pulse_count",
     T::Holding,
     E::DWordHighFirst,
     L,
     32,
     8,
     0,
     0xFFFFFFFF,
     {3, 24, 24},
     16,
     0,
     47},
    {"KELM-8I8T", "di_filter", T::Holding, E::Word, C, 48, 8, 100, 10000, {3, 48, 8}, 6, 0, 55},
    {"KELM-8I8T",
     "di_count_run",
     T::Holding,
     E::CharSwitch,
     L,
     56,
     8,
     0x30,
     0x31,
     {3, 56, 24},
     6,
     0,
     63},
    {"KELM-8I8T",
     "di_count",
     T::Holding,
     E::DWordHighFirst,
     L,
     64,
     8,
     0,
     0xFFFFFFFF,
     {3, 56, 24},
     0,
     0,
     79},
    {"KELM-16I", "di", T::DiscreteInput, E::Bit, L, 0, 16, 0, 1, {2, 0, 16}, 0, 0, 15},
    {"KELM-16I", "di_filter", T::Holding, E::Word, C, 6, 16, 100, 10000, {3, 6, 16}, 6, 0, 21},
    {"KELM-16I",
     "di_count_run",
     T::Holding,
     E::CharSwitch,
     L,
     22,
     16,
     0x30,
     0x31,
     {3, 22, 48},
     6,
     0,
     37},
    {"KELM-16I",
     "di_count",
     T::Holding,
     E::DWordHighFirst,
     L,
     38,
     16,
     0,
     0xFFFFFFFF,
     {3, 22, 48},
     0,
     0,
     69},
    {"KELM-16T", "do", T::Coil, E::Bit, L, 0, 16, 0, 1, {1, 0, 16}, 5, 15, 15},
    {"KELM-16T", "do_init", T::Holding, E::WordBits, C, 6, 16, 0, 0xFFFF, {3, 6, 2}, 6, 0, 6},
    {"KELM-16T", "do_mode", T::Holding, E::WordBits, C, 7, 16, 0, 0xFFFF, {3, 6, 2}, 6, 0, 7},
    {"KELM-16T", "pulse_on", T::Holding, E::Word, C, 8, 16, 2, 65535, {3, 8, 32}, 6, 0, 23},
    {"KELM-16T", "pulse_off", T::Holding, E::Word, C, 24, 16, 2, 65535, {3, 8, 32}, 6, 0, 39},
    {"KELM-16T",
     "pulse_run",
     T::Holding,
     E::CharSwitch,
     L,
     40,
     16,
     0x30,
     0x31,
     {3, 40, 48},
     6,
     0,
     55},
    {"KELM-16T",
     "pulse_count",
     T::Holding,
     E::DWordHighFirst,
     L,
     56,
     16,
     0,
     0xFFFFFFFF,
     {3, 40, 48},
     16,
     0,
     87},
    {"KELM-8RY", "ry", T::Coil, E::Bit, L, 0, 8, 0, 1, {1, 0, 8}, 5, 15, 7},
    {"KELM-8RY", "ry_init", T::Holding, E::WordBits, C, 6, 8, 0, 0xFF, {3, 6, 1}, 6, 0, 6},
    {"KELM-2AO", "ao_mode", T::Holding, E::ModeChar, C, 6, 2, 0x30, 0x31, {3, 6, 4}, 0, 16, 7},
    {"KELM-2AO", "ao", T::Holding, E::Word, L, 8, 2, 0, 20000, {3, 6, 4}, 6, 16, 9},
    {"KELM-8AD", "ai_mode", T::Holding, E::ModeChar, C, 6, 8, 0x30, 0x37, {3, 6, 8}, 0, 16, 13},
    {"KELM-8AD", "ai", T::InputRegister, E::Packed24, L, 0, 8, 0, 0xFFFFFF, {4, 0, 12}, 0, 0, 11},
    {"KELM-8AS", "ai_mode", T::Holding, E::ModeChar, C, 6, 8, 0x30, 0x31, {3, 6, 8}, 0, 16, 13},
    {"KELM-8AS", "ai", T::InputRegister, E::Word, L, 0, 8, 0, 0xFFFF, {4, 0, 8}, 0, 0, 7},
    {"KELM-8ASP", "ai_mode", T::Holding, E::ModeChar, C, 6, 8, 0x30, 0x31, {3, 6, 8}, 0, 16, 13},
    {"KELM-8ASP", "ai", T::InputRegister, E::Word, L, 0, 8, 0, 0xFFFF, {4, 0, 8}, 0, 0, 7},
};

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
    const Model& m8i8t = *FindModel("KELM-8I8T");
    const Item& doItem = *FindItem(m8i8t, "do");
    EXPECT_EQ(ChannelName(doItem, 3), "DO3");
    EXPECT_EQ(ParseChannel(doItem, "DO3"), 3);
    EXPECT_EQ(ParseChannel(doItem, "do7"), 7);
    EXPECT_EQ(ParseChannel(doItem, "5"), 5);
    EXPECT_EQ(ParseChannel(doItem, "DO8"), std::nullopt);
    EXPECT_EQ(ParseChannel(doItem, "DI3"), std::nullopt);
    EXPECT_EQ(ParseChannel(doItem, "DO"), std::nullopt);
    const Model& m8ad = *FindModel("KELM-8AD");
    EXPECT_EQ(ParseChannel(*FindItem(m8ad, "ai"), "CH2"), 2);
    EXPECT_EQ(ParseChannel(*FindItem(m8ad, "ai_mode"), "ai2"), 2);
    const Item& mode = *FindItem(m8ad, "ai_mode");
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
    const Item& asMode = *FindItem(*FindModel("KELM-8AS"), "ai_mode");
    EXPECT_EQ(asMode.choices[0].label, "电流");
    EXPECT_EQ(asMode.choices[1].label, "电压");
    const Item& aoMode = *FindItem(*FindModel("KELM-2AO"), "ao_mode");
    EXPECT_EQ(aoMode.choices[0].label, "4-20mA");
    EXPECT_EQ(aoMode.choices[0].unit, "uA");
    EXPECT_EQ(aoMode.choices[0].min, 4000u);
    EXPECT_EQ(aoMode.choices[1].label, "0-10V");
    EXPECT_EQ(aoMode.choices[1].max, 10000u);
}

// The requests built from the map, framed in RTU, against the frames the
// panels are known to send.
TEST(ModelMap, RequestsAreTheFramesThePanelsSend) {
    auto rtu = [](const Request& r, std::uint8_t addr = 1) {
        return FrameRtu(RequestBody(addr, r));
    };
    const Model& m8ad = *FindModel("KELM-8AD");
    const Model& m8as = *FindModel("KELM-8AS");
    const Model& m2ao = *FindModel("KELM-2AO");
    const Model& m8i8t = *FindModel("KELM-8I8T");
    const Model& m16t = *FindModel("KELM-16T");
    EXPECT_EQ(rtu(*ReadRequest(*FindItem(m8ad, "type"))),
              (ByteString{0x01, 0x03, 0x00, 0x00, 0x00, 0x03, 0x05, 0xCB}));
    EXPECT_EQ(rtu(*ReadRequest(*FindItem(m8ad, "ai_mode"))),
              (ByteString{0x01, 0x03, 0x00, 0x06, 0x00, 0x08, 0xA4, 0x0D}));
    EXPECT_EQ(rtu(*ReadRequest(*FindItem(m8ad, "ai"))),
              (ByteString{0x01, 0x04, 0x00, 0x00, 0x00, 0x0C, 0xF0, 0x0F}));
    EXPECT_EQ(rtu(*ReadRequest(*FindItem(m8as, "ai"))),
              (ByteString{0x01, 0x04, 0x00, 0x00, 0x00, 0x08, 0xF1, 0xCC}));
    EXPECT_EQ(rtu(*ReadRequest(*FindItem(m2ao, "ao"))),
              (ByteString{0x01, 0x03, 0x00, 0x06, 0x00, 0x04, 0xA4, 0x08}));

    const std::uint32_t modes[] = {0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37};
    EXPECT_EQ(
        rtu(*WriteRequest(*FindItem(m8ad, "ai_mode"), -1, modes)),
        (ByteString{0x01, 0x10, 0x00, 0x06, 0x00, 0x08, 0x10, 0x00, 0x30, 0x00, 0x31, 0x00, 0x32,
                    0x00, 0x33, 0x00, 0x34, 0x00, 0x35, 0x00, 0x36, 0x00, 0x37, 0x0E, 0x98}));
    const std::uint32_t aoModes[] = {0x30, 0x31};
    EXPECT_EQ(
        rtu(*WriteRequest(*FindItem(m2ao, "ao_mode"), -1, aoModes)),
        (ByteString{0x01, 0x10, 0x00, 0x06, 0x00, 0x02, 0x04, 0x00, 0x30, 0x00, 0x31, 0xB2, 0x5E}));
    const std::uint32_t aoValues[] = {12000, 5000};
    EXPECT_EQ(
        rtu(*WriteRequest(*FindItem(m2ao, "ao"), -1, aoValues)),
        (ByteString{0x01, 0x10, 0x00, 0x08, 0x00, 0x02, 0x04, 0x2E, 0xE0, 0x13, 0x88, 0xF7, 0x81}));
    const std::uint32_t one12000[] = {12000};
    EXPECT_EQ(rtu(*WriteRequest(*FindItem(m2ao, "ao"), 0, one12000)),
              (ByteString{0x01, 0x06, 0x00, 0x08, 0x2E, 0xE0, 0x14, 0x20}));

    // Bodies (address 1) of the digital writes.
    auto body = [](const Request& r) { return RequestBody(1, r); };
    const std::uint32_t on[] = {1};
    EXPECT_EQ(body(*WriteRequest(*FindItem(m8i8t, "do"), 3, on)),
              (ByteString{1, 5, 0, 3, 0xFF, 0x00}));
    const std::uint32_t boxes[] = {1, 0, 0, 0, 0, 0, 0, 1};
    EXPECT_EQ(body(*WriteRequest(*FindItem(m8i8t, "do"), -1, boxes)),
              (ByteString{1, 15, 0, 0, 0, 8, 1, 0x81}));
    std::uint32_t boxes16[16] = {};
    boxes16[0] = boxes16[8] = boxes16[15] = 1;
    EXPECT_EQ(body(*WriteRequest(*FindItem(m16t, "do"), -1, boxes16)),
              (ByteString{1, 15, 0, 0, 0, 16, 2, 0x01, 0x81}));
    const std::uint32_t count[] = {100000};
    EXPECT_EQ(body(*WriteRequest(*FindItem(m8i8t, "pulse_count"), 1, count)),
              (ByteString{1, 16, 0, 34, 0, 2, 4, 0x00, 0x01, 0x86, 0xA0}));
    const std::uint32_t t500[] = {500};
    EXPECT_EQ(body(*WriteRequest(*FindItem(m16t, "pulse_off"), 2, t500)),
              (ByteString{1, 6, 0, 26, 0x01, 0xF4}));
    const std::uint32_t word[] = {0x8200};
    EXPECT_EQ(body(*WriteRequest(*FindItem(m16t, "do_mode"), -1, word)),
              (ByteString{1, 6, 0, 7, 0x82, 0x00}));
    const std::uint32_t start[] = {0x31};
    EXPECT_EQ(body(*WriteRequest(*FindItem(*FindModel("KELM-16I"), "di_count_run"), 15, start)),
              (ByteString{1, 6, 0, 37, 0x00, 0x31}));
}

TEST(ModelMap, WritesAreCheckedAgainstTheMap) {
    const Model& m8i8t = *FindModel("KELM-8I8T");
    struct Case {
        const char* model;
        const char* key;
        int ch;
        std::vector<std::uint32_t> values;
    };
    const Case refused[] = {
        {"KELM-8I8T", "di_filter", 0, {99}},
        {"KELM-8I8T", "di_filter", 0, {10001}},
        {"KELM-8I8T", "pulse_on", 0, {1}},
        {"KELM-8I8T", "pulse_on", 0, {65536}},
        {"KELM-8I8T", "di", 0, {1}},
        {"KELM-8I8T", "di_count", 0, {1}},
        {"KELM-8I8T", "do", 8, {1}},
        {"KELM-8I8T", "do", 0, {2}},
        {"KELM-8I8T", "do_mode", 3, {1}},
        {"KELM-8I8T", "do_mode", -1, {0x100}},
        {"KELM-8I8T", "pulse_run", 0, {0x32}},
        {"KELM-8AD", "ai_mode", -1, {0x38, 0, 0}},
        {"KELM-8AD", "ai_mode", 2, {0x31}},
        {"KELM-8AS", "ai_mode", -1, {0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x32}},
        {"KELM-2AO", "ao", 0, {20001}},
        {"KELM-2AO", "ao", -1, {1}},
        {"KELM-8RY", "ry", -1, {1, 1}},
        {"KELM-8AD", "address", 0, {248}},
        {"KELM-8AD", "protocol", 0, {0x42}},
    };
    for (const Case& c : refused) {
        std::string error;
        EXPECT_EQ(WriteRequest(*FindItem(*FindModel(c.model), c.key), c.ch, c.values, &error),
                  std::nullopt)
            << c.model << " " << c.key;
        EXPECT_FALSE(error.empty()) << c.key;
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
    auto keys = [](const char* model) {
        std::vector<std::string> out;
        for (const Item* i : PollItems(*FindModel(model))) out.emplace_back(i->key);
        return out;
    };
    EXPECT_EQ(keys("KELM-8I8T"), (std::vector<std::string>{"di", "di_count"}));
    EXPECT_EQ(keys("KELM-16I"), (std::vector<std::string>{"di", "di_count"}));
    EXPECT_EQ(keys("KELM-16T"), std::vector<std::string>{});
    EXPECT_EQ(keys("KELM-8AD"), std::vector<std::string>{"ai"});
    EXPECT_EQ(keys("KELM-8ASP"), std::vector<std::string>{"ai"});
    const Model& m8ad = *FindModel("KELM-8AD");
    EXPECT_EQ(UnitOf(m8ad, *FindItem(m8ad, "ai"), 0), "mA");
    EXPECT_EQ(UnitOf(m8ad, *FindItem(m8ad, "ai"), 3), "V");
    EXPECT_EQ(UnitOf(m8ad, *FindItem(m8ad, "ai"), -1), "");
    const Model& m2ao = *FindModel("KELM-2AO");
    EXPECT_EQ(UnitOf(m2ao, *FindItem(m2ao, "ao"), 1), "mV");
    const Model& m16i = *FindModel("KELM-16I");
    EXPECT_EQ(UnitOf(m16i, *FindItem(m16i, "di_filter"), -1), "x0.1ms");
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
