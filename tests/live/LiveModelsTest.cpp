// Reading values out of replies: the analog conversions by mode, the digital
// bits, the counters, and replies that must not yield a value.
#include <gtest/gtest.h>

#include "live/LiveModels.h"
#include "modbus/Checks.h"

namespace kelm {
namespace {

Frame Reply(std::uint8_t fc, ByteString data) {
    ByteString b{1, fc, static_cast<std::uint8_t>(data.size())};
    b.insert(b.end(), data.begin(), data.end());
    return Frame(b);
}

ByteString Words(std::initializer_list<std::uint16_t> w) {
    ByteString b;
    for (std::uint16_t v : w) {
        b.push_back(static_cast<std::uint8_t>(v >> 8));
        b.push_back(static_cast<std::uint8_t>(v));
    }
    return b;
}

LiveModuleState Modes(std::string_view model, std::initializer_list<std::uint16_t> regs) {
    LiveModuleState st;
    ApplyConfigReply(model, LiveRead{3, 6, 8, false, true}, Reply(3, Words(regs)), st);
    return st;
}

struct AnalogCase {
    const char* model;
    int mode;
    std::uint32_t count;
    double value;
    const char* unit;
};

class AnalogTable : public ::testing::TestWithParam<AnalogCase> {};

TEST_P(AnalogTable, CountToValueInTheModesUnit) {
    const AnalogCase& c = GetParam();
    const bool ad = std::string_view(c.model) == "KELM-8AD";
    const auto mode = static_cast<std::uint16_t>(0x30 + c.mode);
    const LiveModuleState st = Modes(c.model, {mode, mode, mode, mode, mode, mode, mode, mode});
    ASSERT_TRUE(st.modesKnown);
    // CH5 carries the count; the others zero.
    ByteString data(ad ? 24 : 16, 0);
    if (ad) {
        data[15] = static_cast<std::uint8_t>(c.count >> 16);
        data[16] = static_cast<std::uint8_t>(c.count >> 8);
        data[17] = static_cast<std::uint8_t>(c.count);
    } else {
        data[10] = static_cast<std::uint8_t>(c.count >> 8);
        data[11] = static_cast<std::uint8_t>(c.count);
    }
    const LiveRead read{4, 0, static_cast<std::uint16_t>(ad ? 12 : 8), true, false};
    LiveValue v;
    ASSERT_TRUE(
        DecodeChannel({1, c.model, ChannelKind::AnalogIn, 5}, read, Reply(4, data), st, &v));
    EXPECT_NEAR(v.value, c.value, 1e-9);
    EXPECT_EQ(v.unit, c.unit);
}

INSTANTIATE_TEST_SUITE_P(Cases, AnalogTable,
                         ::testing::Values(AnalogCase{"KELM-8AD", 0, 97535, 10.0, "mA"},
                                           AnalogCase{"KELM-8AD", 1, 33535, -5.0, "V"},
                                           AnalogCase{"KELM-8AD", 7, 129535, 0.15, "V"},
                                           AnalogCase{"KELM-8AD", 0, 0, -20.4796875, "mA"},
                                           AnalogCase{"KELM-8AS", 0, 2000, 10.0, "mA"},
                                           AnalogCase{"KELM-8ASP", 0, 2000, 0.625, "mA"},
                                           AnalogCase{"KELM-8ASP", 1, 12345, 1.92890625, "V"}));

TEST(LiveModels, AnalogWithoutAValidModeHasNoValue) {
    // One mode out of range makes a KELM-8AD's whole mode reply unusable.
    const LiveModuleState st = Modes("KELM-8AD", {0x31, 0x31, 0x31, 0x31, 0x31, 0x31, 0x31, 0x38});
    EXPECT_FALSE(st.modesKnown);
    LiveValue v;
    EXPECT_FALSE(DecodeChannel({1, "KELM-8AD", ChannelKind::AnalogIn, 0},
                               LiveRead{4, 0, 12, true, false}, Reply(4, ByteString(24, 1)), st,
                               &v));
    // A KELM-8AS takes the valid ones one by one.
    const LiveModuleState as = Modes("KELM-8AS", {0x31, 0x31, 0x31, 0x31, 0x31, 0x31, 0x31, 0x38});
    EXPECT_TRUE(as.modesKnown);
    EXPECT_EQ(as.modes[0], 1);
    EXPECT_EQ(as.modes[7], -1);
}

TEST(LiveModels, RepliesThatDoNotFitYieldNothing) {
    const LiveModuleState st = Modes("KELM-8AD", {0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30});
    const ChannelId ch{1, "KELM-8AD", ChannelKind::AnalogIn, 7};
    LiveValue v;
    const LiveRead data{4, 0, 12, true, false};
    // Wrong byte count, and a frame shorter than its byte count says.
    EXPECT_FALSE(DecodeChannel(ch, data, Reply(4, ByteString(16, 0)), st, &v));
    Frame cut(ByteString{1, 4, 24, 0, 0, 0});
    EXPECT_FALSE(DecodeChannel(ch, data, cut, st, &v));
    // The config read does not carry values.
    EXPECT_FALSE(
        DecodeChannel(ch, LiveRead{3, 6, 8, false, true}, Reply(3, ByteString(16, 0x30)), st, &v));
}

TEST(LiveModels, AnalogOutputsAsReadBack) {
    const LiveRead read{3, 6, 4, false, false};
    const Frame f = Reply(3, Words({0x30, 0x31, 12000, 5000}));
    LiveValue v;
    ASSERT_TRUE(DecodeChannel({1, "KELM-2AO", ChannelKind::AnalogOut, 0}, read, f, {}, &v));
    EXPECT_DOUBLE_EQ(v.value, 12.0);
    EXPECT_EQ(v.unit, "mA");
    ASSERT_TRUE(DecodeChannel({1, "KELM-2AO", ChannelKind::AnalogOut, 1}, read, f, {}, &v));
    EXPECT_DOUBLE_EQ(v.value, 5.0);
    EXPECT_EQ(v.unit, "V");
}

TEST(LiveModels, DigitalBitsAndCounters) {
    LiveValue v;
    // KELM-16I: first byte DI0-DI7, second DI8-DI15.
    const LiveRead di{2, 0, 16, true, false};
    const Frame f = Reply(2, ByteString{0x01, 0x80});
    const std::pair<int, double> bits[] = {{0, 1}, {1, 0}, {8, 0}, {15, 1}};
    for (auto [ch, want] : bits) {
        ASSERT_TRUE(DecodeChannel({1, "KELM-16I", ChannelKind::DigitalIn, ch}, di, f, {}, &v));
        EXPECT_EQ(v.value, want) << ch;
    }
    // KELM-8I8T counter DI3: registers 70-71 of the read from 56.
    ByteString data(48, 0);
    data[16 + 12] = 0x00;
    data[16 + 13] = 0x01;
    data[16 + 14] = 0x00;
    data[16 + 15] = 0x02;
    ASSERT_TRUE(DecodeChannel({1, "KELM-8I8T", ChannelKind::Counter, 3},
                              LiveRead{3, 56, 24, false, false}, Reply(3, data), {}, &v));
    EXPECT_EQ(v.value, 65538.0);
    // KELM-16I counter DI15: registers 68-69 of the read from 22.
    ByteString d16(96, 0);
    d16[32 + 60 + 3] = 7;
    ASSERT_TRUE(DecodeChannel({1, "KELM-16I", ChannelKind::Counter, 15},
                              LiveRead{3, 22, 48, false, false}, Reply(3, d16), {}, &v));
    EXPECT_EQ(v.value, 7.0);
}

TEST(LiveModels, ChannelsReadsAndNames) {
    EXPECT_EQ(ChannelName({3, "KELM-8AD", ChannelKind::AnalogIn, 0}), "KELM-8AD(3) CH0");
    EXPECT_EQ(ChannelName({1, "KELM-8I8T", ChannelKind::Counter, 2}), "KELM-8I8T(1) DI2计数");
    EXPECT_EQ(DefaultChannelsOf(1, "KELM-8I8T").size(), 8u);  // its inputs
    EXPECT_EQ(DefaultChannelsOf(1, "KELM-16T").size(), 16u);  // no inputs: its outputs
    EXPECT_EQ(ChannelsOf(1, "KELM-8I8T").size(), 24u);
    ChannelId c;
    ASSERT_TRUE(ChannelOfNode(3, "KELM-8I8T", 10, &c));
    EXPECT_EQ(c.kind, ChannelKind::DigitalOut);
    EXPECT_EQ(c.index, 2);
    EXPECT_FALSE(ChannelOfNode(3, "KELM-8AD", 0, &c));
    const auto reads = ReadsFor("KELM-8AD", {ChannelKind::AnalogIn});
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_TRUE(reads[0].config);
    EXPECT_EQ(reads[1].functionCode, 4);
    EXPECT_EQ(reads[1].quantity, 12);
    EXPECT_TRUE(reads[1].mirror);
    EXPECT_EQ(ReadsFor("KELM-8I8T", {ChannelKind::DigitalIn}).size(), 1u);
}

// What each model offers the trend and what it is read with, as the panels
// read it: the reads of every kind of channel (modes first), the channels,
// and what adding the module node adds.
struct ModelRow {
    const char* model;
    std::vector<LiveRead> reads;
    std::size_t channels;
    std::size_t defaults;
    ChannelKind firstDefault;
};

TEST(LiveModels, EveryModelsReadsChannelsAndDefaults) {
    const std::vector<ChannelKind> all{ChannelKind::AnalogIn,  ChannelKind::AnalogOut,
                                       ChannelKind::DigitalIn, ChannelKind::DigitalOut,
                                       ChannelKind::Relay,     ChannelKind::Counter};
    const ModelRow rows[] = {
        {"KELM-8I8T",
         {{2, 0, 8, true, false}, {1, 0, 8, true, false}, {3, 56, 24, false, false}},
         24,
         8,
         ChannelKind::DigitalIn},
        {"KELM-16I",
         {{2, 0, 16, true, false}, {3, 22, 48, false, false}},
         32,
         16,
         ChannelKind::DigitalIn},
        {"KELM-16T", {{1, 0, 16, true, false}}, 16, 16, ChannelKind::DigitalOut},
        {"KELM-8RY", {{1, 0, 8, true, false}}, 8, 8, ChannelKind::Relay},
        {"KELM-8AS", {{3, 6, 8, false, true}, {4, 0, 8, true, false}}, 8, 8, ChannelKind::AnalogIn},
        {"KELM-8ASP",
         {{3, 6, 8, false, true}, {4, 0, 8, true, false}},
         8,
         8,
         ChannelKind::AnalogIn},
        {"KELM-8AD",
         {{3, 6, 8, false, true}, {4, 0, 12, true, false}},
         8,
         8,
         ChannelKind::AnalogIn},
        {"KELM-2AO", {{3, 6, 4, false, false}}, 2, 2, ChannelKind::AnalogOut},
    };
    for (const ModelRow& r : rows) {
        SCOPED_TRACE(r.model);
        const auto reads = ReadsFor(r.model, all);
        ASSERT_EQ(reads.size(), r.reads.size());
        for (std::size_t i = 0; i < reads.size(); ++i) {
            EXPECT_EQ(reads[i].functionCode, r.reads[i].functionCode) << i;
            EXPECT_EQ(reads[i].regAddr, r.reads[i].regAddr) << i;
            EXPECT_EQ(reads[i].quantity, r.reads[i].quantity) << i;
            EXPECT_EQ(reads[i].mirror, r.reads[i].mirror) << i;
            EXPECT_EQ(reads[i].config, r.reads[i].config) << i;
        }
        EXPECT_EQ(ChannelsOf(9, r.model).size(), r.channels);
        const auto defaults = DefaultChannelsOf(9, r.model);
        ASSERT_EQ(defaults.size(), r.defaults);
        for (const ChannelId& c : defaults) EXPECT_EQ(c.kind, r.firstDefault);
        // Every channel is carried by one of the reads, and by no other.
        const LiveModuleState anyModes =
            Modes(r.model, {0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30});
        for (const ChannelId& c : ChannelsOf(9, r.model)) {
            int carriers = 0;
            for (const LiveRead& read : reads) {
                const bool bits = read.functionCode <= 2;
                const auto count =
                    static_cast<std::size_t>(bits ? (read.quantity + 7) / 8 : 2 * read.quantity);
                ByteString data(count, 0x30);
                LiveValue v;
                carriers += DecodeChannel(c, read, Reply(read.functionCode, data), anyModes, &v);
            }
            EXPECT_EQ(carriers, 1) << ChannelName(c);
        }
    }
    EXPECT_TRUE(ReadsFor("KELM-XX", all).empty());
    EXPECT_TRUE(ChannelsOf(9, "KELM-XX").empty());
}

}  // namespace
}  // namespace kelm
