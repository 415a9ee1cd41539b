// Request parsing and reply framing of the slave, checked against frames
// written out by hand (their CRCs and LRCs computed independently).
#include "kelm-sim/SlaveFrame.h"

#include <gtest/gtest.h>

#include "SimTestUtil.h"

namespace kelm::sim {
namespace {

using test::Hex;
using test::Text;
constexpr Protocol kRtu = Protocol::Rtu, kAscii = Protocol::Ascii;

TEST(SlaveFrame, ParsesWellFormedRequestsAndRejectsTheRest) {
    struct Case {
        ByteString frame;
        Protocol protocol;
        int address;  // -1: rejected
        const char* pdu;
    } cases[] = {
        {Hex("01 03 00 00 00 03 05 CB"), kRtu, 1, "03 00 00 00 03"},
        {Hex("00 03 00 03 00 03 F4 1A"), kRtu, 0, "03 00 03 00 03"},
        {Hex("01 05 00 00 FF 00 8C 3A"), kRtu, 1, "05 00 00 FF 00"},
        {Hex("01 04 00 00 00 0C F0 0F"), kRtu, 1, "04 00 00 00 0C"},
        {Hex("01 10 00 03 00 03 06 00 03 00 05 00 52 C3 73"), kRtu, 1,
         "10 00 03 00 03 06 00 03 00 05 00 52"},
        {Hex("01 03 00 00 00 03 05 CC"), kRtu, -1, ""},  // CRC high byte off
        {Hex("01 03 00 00 00 03 CB 05"), kRtu, -1, ""},  // CRC bytes swapped
        {Hex("01 03 00 00 00 03 05"), kRtu, -1, ""},     // one CRC byte missing
        {Hex("01 03 00"), kRtu, -1, ""},
        {{}, kRtu, -1, ""},
        {ByteString(kMaxRtuFrame + 1, 0x11), kRtu, -1, ""},
        {Text(":010300000003F9\r\n"), kRtu, -1, ""},
        {Text(":010300000003F9\r\n"), kAscii, 1, "03 00 00 00 03"},
        {Text(":01050000ff00fb\r\n"), kAscii, 1, "05 00 00 FF 00"},  // lower case
        {Text(":000300030003F7\r\n"), kAscii, 0, "03 00 03 00 03"},
        {Text(":010300000003F8\r\n"), kAscii, -1, ""},  // wrong LRC
        {Text(":010300000003F9\r"), kAscii, -1, ""},    // no LF
        {Text(":010300000003F9"), kAscii, -1, ""},      // no CR LF
        {Text("010300000003F9\r\n"), kAscii, -1, ""},   // no colon
        {Text(";010300000003F9\r\n"), kAscii, -1, ""},  // another start
        {Text(":01030000003F9\r\n"), kAscii, -1, ""},   // odd digit count
        {Text(":0103000G0003F9\r\n"), kAscii, -1, ""},  // not a hex digit
        {Text(":01FF\r\n"), kAscii, -1, ""},            // no function code
        {Hex("01 03 00 00 00 03 05 CB"), kAscii, -1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(HexBytes(c.frame));
        const std::optional<Request> r = ParseRequest(c.frame, c.protocol);
        ASSERT_EQ(r.has_value(), c.address >= 0);
        if (!r) continue;
        EXPECT_EQ(r->address, c.address);
        EXPECT_EQ(r->pdu, Hex(c.pdu));
    }
}

TEST(SlaveFrame, FramesRepliesByteExact) {
    struct Case {
        std::uint8_t address;
        const char* pdu;
        Protocol protocol;
        ByteString frame;
    } cases[] = {
        {1, "03 06 00 0A 00 A1 00 B3", kRtu, Hex("01 03 06 00 0A 00 A1 00 B3 A9 23")},
        {0, "03 06 00 03 00 01 00 52", kRtu, Hex("00 03 06 00 03 00 01 00 52 B8 D8")},
        {5, "83 02", kRtu, Hex("05 83 02 81 30")},
        {1, "03 06 00 0A 00 A1 00 B3", kAscii, Text(":010306000A00A100B398\r\n")},
        {5, "83 02", kAscii, Text(":05830276\r\n")},
    };
    for (const Case& c : cases) EXPECT_EQ(FrameReply(c.address, Hex(c.pdu), c.protocol), c.frame);
}

}  // namespace
}  // namespace kelm::sim
