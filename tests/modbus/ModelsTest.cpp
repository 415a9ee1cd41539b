// Model lookups, channel nodes, the scan's plausibility range and node texts.
#include <gtest/gtest.h>

#include "modbus/Models.h"

namespace kelm {
namespace {

TEST(Models, ChannelNodesAndLookupMisses) {
    const auto& ch8i8t = FindModelByName("KELM-8I8T")->channelNodes;
    ASSERT_EQ(ch8i8t.size(), 16u);
    EXPECT_EQ(ch8i8t[7], "DI7");
    EXPECT_EQ(ch8i8t[8], "DO0");
    EXPECT_EQ(FindModelByName("KELM-16I")->channelNodes[10], "DI10");
    EXPECT_EQ(FindModelByName("KELM-16T")->channelNodes[15], "DO15");
    EXPECT_TRUE(FindModelByName("KELM-8AD")->channelNodes.empty());
    for (int code : {-1, 0, 9, 18}) EXPECT_EQ(FindModelByCode(code), nullptr) << code;
    for (const char* name : {"", "kelm-8i8t", "KELM-8AS "})
        EXPECT_EQ(FindModelByName(name), nullptr) << name;
}

TEST(Models, PlausibilityRange) {
    for (int code : {1, 9, 20}) EXPECT_TRUE(IsPlausibleTypeCode(code)) << code;
    for (int code : {-3, 0, 21, 255}) EXPECT_FALSE(IsPlausibleTypeCode(code)) << code;
}

TEST(NodeText, ParsesRoundTripsAndRejectsMalformedText) {
    EXPECT_EQ(ParseModuleNodeText("KELM-8ASP(12)"), (ModuleNode{"KELM-8ASP", 12}));
    EXPECT_EQ(ParseModuleNodeText("X(0)"), (ModuleNode{"X", 0}));
    EXPECT_EQ(ModuleNodeText("KELM-8I8T", 3), "KELM-8I8T(3)");
    for (const ModelInfo& m : Models()) {
        for (int a : {0, 1, 127, 128, 247, 255}) {
            const auto addr = static_cast<std::uint8_t>(a);
            EXPECT_EQ(ParseModuleNodeText(ModuleNodeText(m.name, addr)),
                      (ModuleNode{std::string(m.name), addr}));
        }
    }
    for (const char* bad :
         {"", "KELM-8I8T", "KELM-8I8T()", "(12)", "KELM-8I8T(12", "KELM-8I8T12)", "KELM-8I8T(256)",
          "KELM-8I8T(1000)", "KELM-8I8T(-1)", "KELM-8I8T(+1)", "KELM-8I8T( 1)", "KELM-8I8T(1 )",
          "KELM-8I8T(0x1)", "KELM-8I8T(1)x", "KELM-8I8T(1)(2)", "DI0", "PC", "COM3"}) {
        EXPECT_FALSE(ParseModuleNodeText(bad)) << bad;
    }
}

}  // namespace
}  // namespace kelm
