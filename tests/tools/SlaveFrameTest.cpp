// Request parsing and reply framing of the slave, checked against frames
// written out by hand (their CRCs and LRCs computed independently).
#include "kelm-sim/SlaveFrame.h"

#include <gtest/gtest.h>

#include "SimTestUtil.h"

namespace kelm::sim {
namespace {

using test::Hex;
using test::Text;

TEST(SlaveFrame, ParsesTheRequestsThePanelsSendInRtu) {
    struct Case {
        const char* frame;
        std::uint8_t address;
        const char* pdu;
    } cases[] = {
        {"01 03 00 00 00 03 05 CB", 1, "03 00 00 00 03"},
        {"00 03 00 03 00 03 F4 1A", 0, "03 00 03 00 03"},
        {"01 06 00 08 0F A0 0D 80", 1, "06 00 08 0F A0"},
        {"01 05 00 00 FF 00 8C 3A", 1, "05 00 00 FF 00"},
        {"01 10 00 03 00 03 06 00 03 00 05 00 52 C3 73", 1, "10 00 03 00 03 06 00 03 00 05 00 52"},
        {"01 10 00 06 00 02 04 00 30 00 31 B2 5E", 1, "10 00 06 00 02 04 00 30 00 31"},
        {"01 04 00 00 00 0C F0 0F", 1, "04 00 00 00 0C"},
        {"01 04 00 00 00 08 F1 CC", 1, "04 00 00 00 08"},
        {"01 03 00 06 00 08 A4 0D", 1, "03 00 06 00 08"},
    };
    for (const Case& c : cases) {
        const std::optional<Request> r = ParseRtuRequest(Hex(c.frame));
        ASSERT_TRUE(r) << c.frame;
        EXPECT_EQ(r->address, c.address) << c.frame;
        EXPECT_EQ(r->pdu, Hex(c.pdu)) << c.frame;
    }
}

TEST(SlaveFrame, RejectsRtuFramesThatFailTheirCheckOrLength) {
    EXPECT_FALSE(ParseRtuRequest(Hex("01 03 00 00 00 03 05 CC")));  // CRC high byte off
    EXPECT_FALSE(ParseRtuRequest(Hex("01 03 00 00 00 03 CB 05")));  // CRC bytes swapped
    EXPECT_FALSE(ParseRtuRequest(Hex("01 03 00 00 00 03 05")));     // one CRC byte missing
    EXPECT_FALSE(ParseRtuRequest(Hex("01 03 00")));
    EXPECT_FALSE(ParseRtuRequest({}));
    ByteString tooLong(kMaxRtuFrame + 1, 0x11);
    EXPECT_FALSE(ParseRtuRequest(tooLong));
}

TEST(SlaveFrame, ParsesAsciiRequestsInEitherCase) {
    std::optional<Request> r = ParseAsciiRequest(Text(":010300000003F9\r\n"));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->address, 1);
    EXPECT_EQ(r->pdu, Hex("03 00 00 00 03"));

    r = ParseAsciiRequest(Text(":01050000ff00fb\r\n"));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->pdu, Hex("05 00 00 FF 00"));

    r = ParseAsciiRequest(Text(":000300030003F7\r\n"));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->address, 0);
}

TEST(SlaveFrame, RejectsMalformedAsciiRequests) {
    EXPECT_FALSE(ParseAsciiRequest(Text(":010300000003F8\r\n")));  // wrong LRC
    EXPECT_FALSE(ParseAsciiRequest(Text(":010300000003F9\r")));    // no LF
    EXPECT_FALSE(ParseAsciiRequest(Text(":010300000003F9")));      // no CR LF
    EXPECT_FALSE(ParseAsciiRequest(Text("010300000003F9\r\n")));   // no colon
    EXPECT_FALSE(ParseAsciiRequest(Text(";010300000003F9\r\n")));  // another start
    EXPECT_FALSE(ParseAsciiRequest(Text(":01030000003F9\r\n")));   // odd digit count
    EXPECT_FALSE(ParseAsciiRequest(Text(":0103000G0003F9\r\n")));  // not a hex digit
    EXPECT_FALSE(ParseAsciiRequest(Text(":01FF\r\n")));            // no function code
    // An RTU frame is no ASCII frame and the other way round.
    EXPECT_FALSE(ParseAsciiRequest(Hex("01 03 00 00 00 03 05 CB")));
    EXPECT_FALSE(ParseRtuRequest(Text(":010300000003F9\r\n")));
}

TEST(SlaveFrame, FramesRepliesByteExact) {
    EXPECT_EQ(FrameReply(1, Hex("03 06 00 0A 00 A1 00 B3"), Protocol::Rtu),
              Hex("01 03 06 00 0A 00 A1 00 B3 A9 23"));
    EXPECT_EQ(FrameReply(0, Hex("03 06 00 03 00 01 00 52"), Protocol::Rtu),
              Hex("00 03 06 00 03 00 01 00 52 B8 D8"));
    EXPECT_EQ(FrameReply(5, Hex("83 02"), Protocol::Rtu), Hex("05 83 02 81 30"));
    EXPECT_EQ(FrameReply(1, Hex("03 06 00 0A 00 A1 00 B3"), Protocol::Ascii),
              Text(":010306000A00A100B398\r\n"));
    EXPECT_EQ(FrameReply(5, Hex("83 02"), Protocol::Ascii), Text(":05830276\r\n"));
}

TEST(SlaveFrame, HexBytesIsUpperCaseAndSpaced) {
    EXPECT_EQ(HexBytes(Hex("01 A0 ff 00")), "01 A0 FF 00");
    EXPECT_EQ(HexBytes({}), "");
}

}  // namespace
}  // namespace kelm::sim
