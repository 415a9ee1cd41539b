// Channel modes read back from replies, by each model's rule, and the units
// values are shown in.
#include <gtest/gtest.h>

#include <vector>

#include "models/ModelMap.h"

namespace kelm::models {
namespace {

ByteString Reply(std::uint8_t fc, std::initializer_list<std::uint16_t> words) {
    ByteString b{1, fc, static_cast<std::uint8_t>(2 * words.size())};
    for (std::uint16_t w : words) {
        b.push_back(static_cast<std::uint8_t>(w >> 8));
        b.push_back(static_cast<std::uint8_t>(w));
    }
    return b;
}

struct ModesCase {
    const char* model;
    Read read;
    ByteString reply;
    std::optional<std::vector<int>> modes;
};

TEST(Modes, ReadBackByEachModelsRule) {
    const ModesCase cases[] = {
        // KELM-8AD: all eight, or nothing at all when one code is no mode.
        {"KELM-8AD",
         {3, 6, 8},
         Reply(3, {0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37}),
         std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}},
        {"KELM-8AD",
         {3, 6, 8},
         Reply(3, {0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x38}),
         std::vector<int>{-1, -1, -1, -1, -1, -1, -1, -1}},
        // KELM-8AS(P): each channel alone; the high byte counts too.
        {"KELM-8AS",
         {3, 6, 8},
         Reply(3, {0x30, 0x31, 0x32, 0x0130, 0x31, 0x30, 0x2F, 0x31}),
         std::vector<int>{0, 1, -1, -1, 1, 0, -1, 1}},
        {"KELM-8ASP",
         {3, 6, 8},
         Reply(3, {0x31, 0x31, 0x31, 0x31, 0x31, 0x31, 0x31, 0x37}),
         std::vector<int>{1, 1, 1, 1, 1, 1, 1, -1}},
        // KELM-2AO: "0" is current, every other value voltage; the modes come
        // with the values in the panel's read.
        {"KELM-2AO", {3, 6, 4}, Reply(3, {0x30, 0x31, 4000, 5000}), std::vector<int>{0, 1}},
        {"KELM-2AO", {3, 6, 4}, Reply(3, {0x0130, 0x00, 1, 2}), std::vector<int>{1, 1}},
        // Replies that do not carry the modes.
        {"KELM-8AD", {4, 0, 12}, ByteString(3 + 24, 0x30), std::nullopt},
        {"KELM-8AS", {3, 6, 4}, Reply(3, {0x30, 0x30, 0x30, 0x30}), std::nullopt},
        {"KELM-8AD", {3, 6, 8}, Reply(3, {0x30, 0x30, 0x30, 0x30}), std::nullopt},
        {"KELM-8I8T", {3, 6, 2}, Reply(3, {0x30, 0x30}), std::nullopt},
    };
    for (const ModesCase& c : cases) {
        SCOPED_TRACE(std::string(c.model) + " reply of " + std::to_string(c.reply.size()));
        const Model* m = FindModel(c.model);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(ModesOf(*m, c.read, c.reply), c.modes);
    }
}

TEST(Modes, AByteCountLongerThanTheReplyIsNotRead) {
    ByteString cut = Reply(3, {0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x30});
    cut.resize(cut.size() - 1);
    EXPECT_EQ(ModesOf(*FindModel("KELM-8AS"), {3, 6, 8}, cut), std::nullopt);
    EXPECT_EQ(ModesOf(*FindModel("KELM-2AO"), {3, 6, 4}, ByteString{1, 3, 8, 0, 0x30}),
              std::nullopt);
}

TEST(Modes, ShownUnits) {
    struct Row {
        double value;
        const char* unit;
        double shown;
        const char* shownUnit;
    } rows[] = {
        {20000, "uA", 20.0, "mA"},
        {4000, "uA", 4.0, "mA"},
        {10000, "mV", 10.0, "V"},
        {1, "mV", 0.001, "V"},
        {4.5, "mA", 4.5, "mA"},
        {2.5, "V", 2.5, "V"},
        {7, "", 7, ""},
        {3, "x0.1ms", 3, "x0.1ms"},
    };
    for (const Row& r : rows) {
        const Shown s = InShownUnit(r.value, r.unit);
        EXPECT_DOUBLE_EQ(s.value, r.shown) << r.unit;
        EXPECT_EQ(s.unit, r.shownUnit) << r.unit;
    }
}

}  // namespace
}  // namespace kelm::models
