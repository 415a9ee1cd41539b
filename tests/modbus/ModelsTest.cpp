// The model table, its lookups, the scan's plausibility range and node texts.
#include <gtest/gtest.h>

#include <set>

#include "modbus/Models.h"

namespace kelm {
namespace {

TEST(Models, TableRowsInCodeOrder) {
    struct Row {
        int code;
        const char* name;
        std::size_t channels;
        const char* panel;
        const char* reset;
        const char* handler;
    };
    const Row rows[] = {
        {10, "KELM-8I8T", 16, "Pnl_8I8T", "Pnl8I8T_Default", "KELM_8I8T_Event"},
        {11, "KELM-16I", 16, "Pnl_16I", "Pnl16I_Default", "KELM_16I_Event"},
        {12, "KELM-16T", 16, "Pnl_16T", "Pnl16T_Default", "KELM_16T_Event"},
        {13, "KELM-8RY", 0, "Pnl_8RY", "Pnl8RY_Default", "KELM_8R_Event"},
        {14, "KELM-8AS", 0, "Pnl_8AS", "Pnl8AS_Default", "KELM_8AS_Event"},
        {15, "KELM-8ASP", 0, "Pnl_8AS", "Pnl8AS_Default", "KELM_8AS_Event"},
        {16, "KELM-8AD", 0, "Pnl_8AD", "Pnl8AD_Default", "KELM_8AD_Event"},
        {17, "KELM-2AO", 0, "Pnl_2AO", "Pnl2AO_Default", "KELM_2AO_Event"},
    };
    ASSERT_EQ(Models().size(), std::size(rows));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const ModelInfo& m = Models()[i];
        EXPECT_EQ(m.typeCode, rows[i].code);
        EXPECT_EQ(m.name, rows[i].name);
        EXPECT_EQ(m.channelNodes.size(), rows[i].channels) << m.name;
        EXPECT_EQ(m.panel, rows[i].panel);
        EXPECT_EQ(m.resetRoutine, rows[i].reset);
        EXPECT_EQ(m.replyHandler, rows[i].handler);
        EXPECT_EQ(FindModelByCode(rows[i].code), &m);
        EXPECT_EQ(FindModelByName(rows[i].name), &m);
    }
}

TEST(Models, ChannelNodesInTreeOrder) {
    const auto ch8i8t = FindModelByName("KELM-8I8T")->channelNodes;
    EXPECT_EQ(ch8i8t[0], "DI0");
    EXPECT_EQ(ch8i8t[7], "DI7");
    EXPECT_EQ(ch8i8t[8], "DO0");
    EXPECT_EQ(ch8i8t[15], "DO7");
    const auto ch16i = FindModelByName("KELM-16I")->channelNodes;
    EXPECT_EQ(ch16i[10], "DI10");
    EXPECT_EQ(ch16i[15], "DI15");
    const auto ch16t = FindModelByName("KELM-16T")->channelNodes;
    EXPECT_EQ(ch16t[0], "DO0");
    EXPECT_EQ(ch16t[15], "DO15");
}

TEST(Models, EveryHandlerNameIsKnownAndEveryKnownNameIsUsed) {
    std::set<std::string_view> used;
    for (const ModelInfo& m : Models()) used.insert(m.replyHandler);
    const std::set<std::string_view> known(kReplyHandlerNames.begin(), kReplyHandlerNames.end());
    EXPECT_EQ(used, known);
}

TEST(Models, LookupMissesGiveNull) {
    EXPECT_EQ(FindModelByCode(9), nullptr);
    EXPECT_EQ(FindModelByCode(18), nullptr);
    EXPECT_EQ(FindModelByCode(0), nullptr);
    EXPECT_EQ(FindModelByCode(-1), nullptr);
    EXPECT_EQ(FindModelByName(""), nullptr);
    EXPECT_EQ(FindModelByName("kelm-8i8t"), nullptr);
    EXPECT_EQ(FindModelByName("KELM-8AS "), nullptr);
}

TEST(Models, PlausibilityRange) {
    EXPECT_FALSE(IsPlausibleTypeCode(0));
    EXPECT_TRUE(IsPlausibleTypeCode(1));
    EXPECT_TRUE(IsPlausibleTypeCode(9));
    EXPECT_TRUE(IsPlausibleTypeCode(20));
    EXPECT_FALSE(IsPlausibleTypeCode(21));
    EXPECT_FALSE(IsPlausibleTypeCode(255));
    EXPECT_FALSE(IsPlausibleTypeCode(-3));
}

TEST(NodeText, ParsesNameAndAddress) {
    EXPECT_EQ(ParseModuleNodeText("KELM-8ASP(12)"), (ModuleNode{"KELM-8ASP", 12}));
    EXPECT_EQ(ParseModuleNodeText("KELM-8I8T(3)"), (ModuleNode{"KELM-8I8T", 3}));
    EXPECT_EQ(ParseModuleNodeText("KELM-16T(247)"), (ModuleNode{"KELM-16T", 247}));
    EXPECT_EQ(ParseModuleNodeText("X(0)"), (ModuleNode{"X", 0}));
    EXPECT_EQ(ParseModuleNodeText("X(255)"), (ModuleNode{"X", 255}));
}

TEST(NodeText, MalformedTextYieldsNothing) {
    for (const char* bad :
         {"", "KELM-8I8T", "KELM-8I8T()", "(12)", "KELM-8I8T(12", "KELM-8I8T12)", "KELM-8I8T(256)",
          "KELM-8I8T(1000)", "KELM-8I8T(-1)", "KELM-8I8T(+1)", "KELM-8I8T( 1)", "KELM-8I8T(1 )",
          "KELM-8I8T(0x1)", "KELM-8I8T(1)x", "KELM-8I8T(1)(2)", "DI0", "PC", "COM3"}) {
        EXPECT_FALSE(ParseModuleNodeText(bad)) << bad;
    }
}

TEST(NodeText, InverseRoundTrips) {
    EXPECT_EQ(ModuleNodeText("KELM-8I8T", 3), "KELM-8I8T(3)");
    for (const ModelInfo& m : Models()) {
        for (int a : {0, 1, 99, 127, 128, 247, 255}) {
            const auto addr = static_cast<std::uint8_t>(a);
            EXPECT_EQ(ParseModuleNodeText(ModuleNodeText(m.name, addr)),
                      (ModuleNode{std::string(m.name), addr}));
        }
    }
}

}  // namespace
}  // namespace kelm
