// The reply-table rule every panel relies on: a reply runs the first row whose
// function code, register range and byte count match and whose frame holds
// the bytes it reads; everything else is ignored.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modules/ReplyTable.h"

namespace kelm::test {
namespace {

struct Probe {
    std::string name;
    std::uint16_t fc;
    std::uint16_t reg;
    ByteString frame;
    const char* expected;  // row that runs, nullptr for none
};

class ReplyTableRule : public ::testing::Test {
  protected:
    std::vector<std::string> ran;
    ReplyTable table;

    void SetUp() override {
        auto note = [this](const char* what) {
            return [this, what](const Frame&) { ran.push_back(what); };
        };
        table.Add(Row(3, 0, 6, "versions", note("versions")));
        table.Add(Row(3, 6, 4, "modes", note("modes")));
        table.Add(AnyRegRow(1, 1, "coils", note("coils")));
        ReplyRow coilEcho = Echo(5, 0, 7, "coil echo", note("coil echo"));
        coilEcho.minSize = 6;
        table.Add(coilEcho);
        table.Add(Echo(6, 8, 15, "on time", note("on time")));
        table.Add(AnyRegEcho(16, "new parameters", note("new parameters")));
        // Never reached: the row above takes every function-16 reply.
        table.Add(Echo(16, 3, 3, "shadowed", note("shadowed")));
    }
};

TEST_F(ReplyTableRule, FirstMatchingRowRunsEverythingElseIsIgnored) {
    const std::vector<Probe> probes = {
        {"versions", 3, 0, {1, 3, 6, 0, 10, 0, 0xA1, 0, 0xB3}, "versions"},
        {"byte count of another row", 3, 0, {1, 3, 4, 0, 0, 0, 0}, nullptr},
        {"count announced, data missing", 3, 0, {1, 3, 6, 0, 10, 0, 0xA1}, nullptr},
        {"register of no row", 3, 7, {1, 3, 4, 0, 0, 0, 0}, nullptr},
        {"modes at their register", 3, 6, {1, 3, 4, 0, 1, 0, 2}, "modes"},
        {"any register", 1, 200, {1, 1, 1, 0x81}, "coils"},
        {"any register, wrong count", 1, 0, {1, 1, 2, 0x81, 0}, nullptr},
        {"echo in range, low edge", 5, 0, {1, 5, 0, 0, 0xFF, 0}, "coil echo"},
        {"echo in range, high edge", 5, 7, {1, 5, 0, 7, 0, 0}, "coil echo"},
        {"echo past range", 5, 8, {1, 5, 0, 8, 0xFF, 0}, nullptr},
        {"echo too short for its value", 5, 3, {1, 5, 0, 3}, nullptr},
        {"echo without minimum", 6, 15, {1, 6}, "on time"},
        {"echo below range", 6, 7, {1, 6, 0, 7, 0, 1}, nullptr},
        {"acknowledgement at any register", 16, 3, {1, 16, 0, 3, 0, 3}, "new parameters"},
        {"exception reply", 0x83, 0, {1, 0x83, 2}, nullptr},
        {"unlisted function", 4, 0, {1, 4, 2, 0, 0}, nullptr},
    };
    for (const Probe& p : probes) {
        ran.clear();
        const ReplyRow* row = table.Dispatch(p.fc, p.reg, Frame(p.frame));
        if (p.expected) {
            ASSERT_NE(row, nullptr) << p.name;
            EXPECT_EQ(row->what, p.expected) << p.name;
            EXPECT_EQ(ran, std::vector<std::string>{p.expected}) << p.name;
        } else {
            EXPECT_EQ(row, nullptr) << p.name;
            EXPECT_TRUE(ran.empty()) << p.name;
        }
    }
}

TEST(ReplyRowKey, NamesCodeRegisterAndCount) {
    EXPECT_EQ(Row(3, 6, 4, "", nullptr).Key(), "FC 03 @6 x4");
    EXPECT_EQ(Echo(6, 8, 15, "", nullptr).Key(), "FC 06 @8-15");
    EXPECT_EQ(AnyRegEcho(16, "", nullptr).Key(), "FC 16 @any");
    EXPECT_EQ(AnyRegRow(2, 2, "", nullptr).Key(), "FC 02 @any x2");
}

}  // namespace
}  // namespace kelm::test
