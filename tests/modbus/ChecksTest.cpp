// CRC-16/LRC values and the RTU/ASCII framing and validation rules.
#include <gtest/gtest.h>

#include <string>

#include "modbus/Checks.h"

namespace kelm {
namespace {

ByteString Text(const std::string& s) {
    return ByteString(s.begin(), s.end());
}

TEST(Checks, CrcOfNothingIsInitialValue) {
    EXPECT_EQ(Calculate_CRC16_Modbus(ByteString{}), 0xFFFF);
    const std::uint8_t b[] = {0x01, 0x02};
    EXPECT_EQ(Calculate_CRC16_Modbus(b, 0), 0xFFFF);
    EXPECT_EQ(Calculate_CRC16_Modbus(nullptr, 10), 0xFFFF);
}

TEST(Checks, CrcKnownValues) {
    // The catalogue check value of CRC-16/MODBUS.
    EXPECT_EQ(Calculate_CRC16_Modbus(Text("123456789")), 0x4B37);
    // Identity read of slave 1: CRC bytes 05 CB on the wire, low first.
    EXPECT_EQ(Calculate_CRC16_Modbus(ByteString{0x01, 0x03, 0x00, 0x00, 0x00, 0x03}), 0xCB05);
    EXPECT_EQ(Calculate_CRC16_Modbus(ByteString{0x00, 0x03, 0x00, 0x03, 0x00, 0x03}), 0x1AF4);
    EXPECT_EQ(Calculate_CRC16_Modbus(ByteString{0x01, 0x05, 0x00, 0x00, 0xFF, 0x00}), 0x3A8C);
}

TEST(Checks, CrcReadsOnlyTheFirstBufLenBytes) {
    const std::uint8_t b[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x03, 0xDE, 0xAD};
    EXPECT_EQ(Calculate_CRC16_Modbus(b, 6), 0xCB05);
}

TEST(Checks, LrcOfNothingAndOfZeroSumIsZero) {
    EXPECT_EQ(Calculate_LRC_Modbus(ByteString{}), 0);
    EXPECT_EQ(Calculate_LRC_Modbus(nullptr, 4), 0);
    EXPECT_EQ(Calculate_LRC_Modbus(ByteString{0x80, 0x80}), 0);  // sum wraps to 0
}

TEST(Checks, LrcKnownValues) {
    EXPECT_EQ(Calculate_LRC_Modbus(ByteString{0x01, 0x03, 0x00, 0x00, 0x00, 0x03}), 0xF9);
    EXPECT_EQ(Calculate_LRC_Modbus(ByteString{0x00, 0x03, 0x00, 0x03, 0x00, 0x03}), 0xF7);
    EXPECT_EQ(Calculate_LRC_Modbus(ByteString{0x01, 0x05, 0x00, 0x00, 0xFF, 0x00}), 0xFB);
    EXPECT_EQ(Calculate_LRC_Modbus(ByteString{0x01}), 0xFF);
    const std::uint8_t b[] = {0x10, 0x20, 0x99};
    EXPECT_EQ(Calculate_LRC_Modbus(b, 2), 0xD0);
}

TEST(Framing, RtuAppendsCrcLowThenHigh) {
    EXPECT_EQ(FrameRtu({0x01, 0x03, 0x00, 0x00, 0x00, 0x03}),
              (ByteString{0x01, 0x03, 0x00, 0x00, 0x00, 0x03, 0x05, 0xCB}));
    EXPECT_EQ(FrameRtu({0x01, 0x06, 0x00, 0x08, 0x0F, 0xA0}),
              (ByteString{0x01, 0x06, 0x00, 0x08, 0x0F, 0xA0, 0x0D, 0x80}));
    EXPECT_EQ(FrameRtu({}), (ByteString{0xFF, 0xFF}));
}

TEST(Framing, AsciiIsUpperCaseHexWithLrcAndCrLf) {
    EXPECT_EQ(FrameAscii({0x01, 0x03, 0x00, 0x00, 0x00, 0x03}), Text(":010300000003F9\r\n"));
    EXPECT_EQ(FrameAscii({0x01, 0x05, 0x00, 0x00, 0xFF, 0x00}), Text(":01050000FF00FB\r\n"));
    // High bytes are written as two upper-case digits, never lower case.
    EXPECT_EQ(FrameAscii({0xA0, 0xBC, 0xDE, 0xF0}), Text(":A0BCDEF0D6\r\n"));
}

TEST(Framing, ForProtocolPicksFormOrNothing) {
    const ByteString body{0x00, 0x03, 0x00, 0x03, 0x00, 0x03};
    EXPECT_EQ(FrameForProtocol(body, kProtocolRtu),
              (ByteString{0x00, 0x03, 0x00, 0x03, 0x00, 0x03, 0xF4, 0x1A}));
    EXPECT_EQ(FrameForProtocol(body, kProtocolAscii), Text(":000300030003F7\r\n"));
    EXPECT_TRUE(FrameForProtocol(body, -1).empty());
    EXPECT_TRUE(FrameForProtocol(body, 2).empty());
}

TEST(Framing, OneWordBodyIsBigEndian) {
    EXPECT_EQ(OneWordBody(0xF7, 0x10, 0xABCD, 0x1234),
              (ByteString{0xF7, 0x10, 0xAB, 0xCD, 0x12, 0x34}));
}

TEST(AsciiDecode, ReturnsBytesWithLrcPositionCleared) {
    // Identity reply of slave 1: type 10, versions 0xA0 and 0xA1.
    const ByteString body{0x01, 0x03, 0x06, 0x00, 0x0A, 0x00, 0xA0, 0x00, 0xA1};
    const auto decoded = DecodeAsciiFrame(FrameAscii(body));
    ASSERT_TRUE(decoded);
    ByteString expected = body;
    expected.push_back(0x00);
    EXPECT_EQ(*decoded, expected);
}

TEST(AsciiDecode, AcceptsLowerCaseDigits) {
    const auto decoded = DecodeAsciiFrame(Text(":01050000ff00fb\r\n"));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, (ByteString{0x01, 0x05, 0x00, 0x00, 0xFF, 0x00, 0x00}));
}

TEST(AsciiDecode, RejectsNonHexOddLengthAndBadLrc) {
    EXPECT_FALSE(DecodeAsciiFrame(Text(":0105000GFF00FB\r\n")));  // "G"
    EXPECT_FALSE(DecodeAsciiFrame(Text(":01050000FF00F \r\n")));  // space
    EXPECT_FALSE(DecodeAsciiFrame(Text(":01050000FF00F\r\n")));   // odd
    EXPECT_FALSE(DecodeAsciiFrame(Text(":01050000FF00FC\r\n")));  // LRC off by one
    EXPECT_FALSE(DecodeAsciiFrame(Text(":\r\n")));                // nothing to check
    EXPECT_FALSE(DecodeAsciiFrame(Text("")));
}

TEST(AsciiDecode, FirstCharacterAndLastTwoAreNotExamined) {
    // Only the hex between them counts; a peer's framing characters may vary.
    const auto decoded = DecodeAsciiFrame(Text("X01050000FF00FBab"));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->size(), 7u);
}

TEST(AsciiDecode, SingleByteFrameChecksAgainstLrcOfNothing) {
    // n = 1: the LRC of zero bytes is 0, so only "00" passes.
    EXPECT_EQ(DecodeAsciiFrame(Text(":00\r\n")), ByteString{0x00});
    EXPECT_FALSE(DecodeAsciiFrame(Text(":01\r\n")));
}

TEST(RtuCheck, StripsAValidCrcAndRejectsAnyFlippedBit) {
    const ByteString body{0x05, 0x03, 0x02, 0x80, 0xFF};
    const ByteString frame = FrameRtu(body);
    EXPECT_EQ(CheckRtuFrame(frame), body);
    for (std::size_t i = 0; i < frame.size(); ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            ByteString bad = frame;
            bad[i] = static_cast<std::uint8_t>(bad[i] ^ (1u << bit));
            EXPECT_FALSE(CheckRtuFrame(bad)) << "byte " << i << " bit " << bit;
        }
    }
}

TEST(RtuCheck, SwappedCrcBytesAreRejected) {
    ByteString frame = FrameRtu({0x01, 0x03, 0x00, 0x00, 0x00, 0x03});
    std::swap(frame[6], frame[7]);
    EXPECT_FALSE(CheckRtuFrame(frame));
}

TEST(RtuCheck, TooShortIsRejected) {
    EXPECT_FALSE(CheckRtuFrame({}));
    EXPECT_FALSE(CheckRtuFrame({0xFF, 0xFF}));
    EXPECT_EQ(CheckRtuFrame(FrameRtu({0x01})), ByteString{0x01});
}

}  // namespace
}  // namespace kelm
