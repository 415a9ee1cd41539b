// The command line that users and scripts write.
#include "kelm-sim/Options.h"

#include <gtest/gtest.h>

#include <tuple>

namespace kelm::sim {
namespace {

TEST(Options, ModulesWithDefaultsSettingsAndShortNames) {
    const ParseResult r = ParseArgs(
        {"--com", "9", "--module", "16T@5", "--module", "KELM-8AD@247,format=12,protocol=ascii",
         "--module", "kelm-8asp@3,protocol=RTU,format=0", "--module", "8i8t@5,format=11"});
    ASSERT_TRUE(r.options) << r.error;
    const SimOptions& o = *r.options;
    EXPECT_EQ(o.com, 9u);
    EXPECT_FALSE(o.device);
    EXPECT_EQ(o.delay, kDefaultReplyDelay);
    EXPECT_FALSE(o.quiet);
    // Two modules may share an address when their formats differ.
    using Module = std::tuple<int, int, int, Protocol>;
    std::vector<Module> modules;
    for (const ModuleConfig& m : o.modules)
        modules.emplace_back(m.typeCode, m.address, m.format, m.protocol);
    EXPECT_EQ(modules, (std::vector<Module>{{12, 5, 3, Protocol::Rtu},
                                            {16, 247, 12, Protocol::Ascii},
                                            {15, 3, 0, Protocol::Rtu},
                                            {10, 5, 11, Protocol::Rtu}}));
    EXPECT_EQ(ModelCodeOfName("8RY"), 13);
    EXPECT_EQ(ModelCodeOfName("KELM-2AO"), 17);
    // Log labels: ASCII is seven data bits.
    EXPECT_EQ(FormatLabel(3, Protocol::Rtu), "9600/8/2/None");
    EXPECT_EQ(FormatLabel(12, Protocol::Ascii), "19200/7/1/Even");
}

TEST(Options, TheDemoOption) {
    // The demo bus itself is walked address by address in the command line peer test.
    const ParseResult r = ParseArgs({"--demo", "--com=9", "--quiet", "--delay", "0"});
    ASSERT_TRUE(r.options) << r.error;
    EXPECT_EQ(r.options->modules.size(), DemoModules().size());
    EXPECT_TRUE(r.options->quiet);
    EXPECT_EQ(r.options->delay.count(), 0);
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
        {{"--module", "8R@1"}, "unknown model"},
        {{"--module", "KELM-@1"}, "unknown model"},
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
        {{"--demo", "--tcp"}, "--tcp needs HOST:PORT"},
        {{"--demo", "--tcp", "127.0.0.1"}, "no port"},
        {{"--demo", "--mbtcp", "127.0.0.1:65536"}, "0 to 65535"},
        {{"--demo", "--mbtcp", "::1:502"}, "brackets"},
        {{"--demo", "--tcp", ":502"}, "no host"},
        {{"--demo", "--tcp", "127.0.0.1:4001", "--com", "3"}, "only one line"},
        {{"--demo", "--tcp", "127.0.0.1:4001", "--mbtcp", "127.0.0.1:502"}, "only one line"},
        {{"--demo", "--device", "/dev/ttyUSB0", "--mbtcp", "127.0.0.1:502"}, "only one line"},
    };
    for (const Case& c : cases) {
        const ParseResult r = ParseArgs(c.args);
        EXPECT_FALSE(r.options) << c.mentions;
        EXPECT_NE(r.error.find(c.mentions), std::string::npos)
            << "error \"" << r.error << "\" should mention \"" << c.mentions << "\"";
    }
}

TEST(Options, NetworkLines) {
    const ParseResult t = ParseArgs({"--demo", "--tcp", "127.0.0.1:0"});
    ASSERT_TRUE(t.options) << t.error;
    ASSERT_TRUE(t.options->tcp);
    EXPECT_EQ(t.options->tcp->host, "127.0.0.1");
    EXPECT_EQ(t.options->tcp->port, 0);  // the system picks one
    EXPECT_FALSE(t.options->mbtcp);
    const ParseResult m = ParseArgs({"--module", "16T@5", "--mbtcp=[::1]:1502"});
    ASSERT_TRUE(m.options) << m.error;
    ASSERT_TRUE(m.options->mbtcp);
    EXPECT_EQ(m.options->mbtcp->host, "::1");
    EXPECT_EQ(m.options->mbtcp->port, 1502);
    EXPECT_EQ(m.options->mbtcp->kind, net::NetKind::ModbusTcp);
}

TEST(Options, HelpNeedsNothingElseAndDocumentsEveryOption) {
    const ParseResult r = ParseArgs({"--help"});
    ASSERT_TRUE(r.options);
    EXPECT_TRUE(r.options->help);
    for (const char* word :
         {"--com", "--device", "--tcp", "--mbtcp", "--module", "--demo", "--delay", "--quiet",
          "format=CODE", "protocol=rtu|ascii", "KELM-8ASP"})
        EXPECT_NE(UsageText().find(word), std::string::npos) << word;
}

}  // namespace
}  // namespace kelm::sim
