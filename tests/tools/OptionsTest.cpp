// The command line that users and scripts write.
#include "kelm-sim/Options.h"

#include <gtest/gtest.h>

#include <set>

namespace kelm::sim {
namespace {

ParseResult Parse(std::vector<std::string> args) {
    return ParseArgs(args);
}

TEST(Options, ModulesWithDefaultsAndSettings) {
    const ParseResult r = Parse({"--com", "9", "--module", "16T@5", "--module",
                                 "KELM-8AD@247,format=12,protocol=ascii", "--module",
                                 "kelm-8asp@3,protocol=RTU,format=0"});
    ASSERT_TRUE(r.options) << r.error;
    const SimOptions& o = *r.options;
    EXPECT_EQ(o.com, 9u);
    EXPECT_FALSE(o.device);
    ASSERT_EQ(o.modules.size(), 3u);
    EXPECT_EQ(o.modules[0].typeCode, 12);
    EXPECT_EQ(o.modules[0].address, 5);
    EXPECT_EQ(o.modules[0].format, 3);
    EXPECT_EQ(o.modules[0].protocol, Protocol::Rtu);
    EXPECT_EQ(o.modules[1].typeCode, 16);
    EXPECT_EQ(o.modules[1].address, 247);
    EXPECT_EQ(o.modules[1].format, 12);
    EXPECT_EQ(o.modules[1].protocol, Protocol::Ascii);
    EXPECT_EQ(o.modules[2].typeCode, 15);
    EXPECT_EQ(o.modules[2].format, 0);
    EXPECT_EQ(o.delay, kDefaultReplyDelay);
    EXPECT_FALSE(o.quiet);
}

TEST(Options, TheDemoHasAllEightModelsAtDistinctAddresses) {
    const ParseResult r = Parse({"--demo", "--com=9", "--quiet", "--delay", "0"});
    ASSERT_TRUE(r.options) << r.error;
    const SimOptions& o = *r.options;
    ASSERT_EQ(o.modules.size(), 8u);
    std::set<int> types, addresses;
    for (const ModuleConfig& m : o.modules) {
        types.insert(m.typeCode);
        addresses.insert(m.address);
        EXPECT_EQ(m.format, 3);
        EXPECT_EQ(m.protocol, Protocol::Rtu);
    }
    EXPECT_EQ(types, (std::set<int>{10, 11, 12, 13, 14, 15, 16, 17}));
    EXPECT_EQ(addresses.size(), 8u);
    EXPECT_TRUE(o.quiet);
    EXPECT_EQ(o.delay.count(), 0);
}

TEST(Options, ModelNamesAndShortForms) {
    EXPECT_EQ(ModelCodeOfName("KELM-8I8T"), 10);
    EXPECT_EQ(ModelCodeOfName("8i8t"), 10);
    EXPECT_EQ(ModelCodeOfName("8RY"), 13);
    EXPECT_EQ(ModelCodeOfName("2AO"), 17);
    EXPECT_FALSE(ModelCodeOfName("8R"));
    EXPECT_FALSE(ModelCodeOfName("KELM-"));
    EXPECT_FALSE(ModelCodeOfName(""));
}

TEST(Options, BadArgumentsAreRefusedWithAReason) {
    struct Case {
        std::vector<std::string> args;
        const char* mentions;
    } cases[] = {
        {{}, "no modules"},
        {{"--com", "9"}, "no modules"},
        {{"--demo", "--com"}, "--com needs"},
        {{"--demo", "--com", "0"}, "port number"},
        {{"--demo", "--com", "x9"}, "port number"},
        {{"--demo", "--com", "4097"}, "port number"},
        {{"--demo", "--com", "3", "--device", "/dev/ttyUSB0"}, "not both"},
        {{"--module", "16T"}, "MODEL@ADDRESS"},
        {{"--module", "16Q@1"}, "unknown model"},
        {{"--module", "16T@0"}, "1 to 247"},
        {{"--module", "16T@248"}, "1 to 247"},
        {{"--module", "16T@-1"}, "1 to 247"},
        {{"--module", "16T@5,format=16"}, "0 to 15"},
        {{"--module", "16T@5,format="}, "0 to 15"},
        {{"--module", "16T@5,protocol=tcp"}, "rtu or ascii"},
        {{"--module", "16T@5,speed=9600"}, "unknown setting"},
        {{"--module", "16T@5,"}, "expected format"},
        {{"--module", "16T@5", "--module", "8RY@5"}, "address 5"},
        {{"--demo", "--module", "16T@1"}, "address 1"},
        {{"--demo", "--delay", "10001"}, "delay"},
        {{"--demo", "--delay", "-5"}, "delay"},
        {{"--demo", "--frobnicate"}, "unknown argument"},
        {{"--demo=yes"}, "takes no value"},
        {{"--demo", "--device", ""}, "--device needs"},
    };
    for (const Case& c : cases) {
        const ParseResult r = Parse(c.args);
        EXPECT_FALSE(r.options) << c.mentions;
        EXPECT_NE(r.error.find(c.mentions), std::string::npos)
            << "error \"" << r.error << "\" should mention \"" << c.mentions << "\"";
    }
}

TEST(Options, TwoModulesMayShareAnAddressInDifferentFormats) {
    const ParseResult r = Parse({"--module", "16T@5", "--module", "8RY@5,format=11"});
    ASSERT_TRUE(r.options) << r.error;
    EXPECT_EQ(r.options->modules.size(), 2u);
}

TEST(Options, HelpNeedsNothingElse) {
    const ParseResult r = Parse({"--help"});
    ASSERT_TRUE(r.options);
    EXPECT_TRUE(r.options->help);
    const std::string usage = UsageText();
    for (const char* word : {"--com", "--device", "--module", "--demo", "--delay", "--quiet",
                             "format=CODE", "protocol=rtu|ascii", "KELM-8ASP"})
        EXPECT_NE(usage.find(word), std::string::npos) << word;
}

TEST(Options, FormatLabelsAndLines) {
    EXPECT_EQ(FormatLabel(3, Protocol::Rtu), "9600/8/2/None");
    EXPECT_EQ(FormatLabel(12, Protocol::Ascii), "19200/7/1/Even");
    EXPECT_EQ(FormatLabel(15, Protocol::Rtu), "115200/8/1/Even");
    EXPECT_EQ(FormatLabel(0, Protocol::Ascii), "1200/7/2/None");
    EXPECT_TRUE(
        LineMatches(LineSettings{115200, 1, std::nullopt, std::nullopt}, 15, Protocol::Rtu));
    EXPECT_FALSE(
        LineMatches(LineSettings{115200, 2, std::nullopt, std::nullopt}, 15, Protocol::Rtu));
    EXPECT_TRUE(LineMatches(LineSettings{1200, 2, Parity::None, 7}, 0, Protocol::Ascii));
    EXPECT_FALSE(LineMatches(LineSettings{1200, 2, Parity::None, 8}, 0, Protocol::Ascii));
}

}  // namespace
}  // namespace kelm::sim
