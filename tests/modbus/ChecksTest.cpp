// The bounds-checked reply view, CRC-16/LRC values and the RTU/ASCII framing
// and validation rules.
#include <optional>

#include "MasterFixture.h"

namespace kelm::test {
namespace {

TEST(Frame, PositionsAndWordsPastTheEndReadZero) {
    const Frame f(ByteString{0x12, 0x34, 0xAB});
    EXPECT_EQ(f[2], 0xAB);
    EXPECT_EQ(f.word(0), 0x1234);
    EXPECT_EQ(f.word(1), 0x34AB);
    for (std::size_t i : {std::size_t{3}, std::size_t{1000}, static_cast<std::size_t>(-1)})
        EXPECT_EQ(f[i], 0) << i;
    EXPECT_EQ(f.word(2), 0xAB00);
    EXPECT_EQ(f.word(3), 0);
    // i + 1 wraps to 0 for the largest position; it must still read 0, not byte 0.
    EXPECT_EQ(f.word(static_cast<std::size_t>(-1)), 0);
    const Frame empty;
    EXPECT_EQ(empty[0], 0);
    EXPECT_EQ(empty.word(0), 0);
}

TEST(Checks, CrcLrcAndFramingOfEmptyAndKnownInputs) {
    EXPECT_EQ(Calculate_CRC16_Modbus(ByteString{}), 0xFFFF);
    EXPECT_EQ(Calculate_LRC_Modbus(ByteString{}), 0x00);
    EXPECT_EQ(Calculate_CRC16_Modbus(nullptr, 10), 0xFFFF);  // a null buffer counts as empty
    EXPECT_EQ(Calculate_LRC_Modbus(nullptr, 4), 0);
    EXPECT_EQ(Calculate_CRC16_Modbus(Text("123456789")), 0x4B37);  // the catalogue check value
    EXPECT_EQ(Calculate_LRC_Modbus(Text("123456789")), 0x23);
    EXPECT_EQ(Calculate_LRC_Modbus(Hex("80 80")), 0x00);  // the sum wraps to 0
    EXPECT_EQ(Calculate_LRC_Modbus(Hex("01")), 0xFF);
    // Only the first buf_len bytes count.
    const std::uint8_t b[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x03, 0xDE, 0xAD};
    EXPECT_EQ(Calculate_CRC16_Modbus(b, 6), 0xCB05);
    EXPECT_EQ(Calculate_LRC_Modbus(b, 6), 0xF9);
    // The request frames themselves are pinned through the master; here the
    // corner cases the master never builds.
    EXPECT_EQ(FrameRtu({}), Hex("FF FF"));
    EXPECT_EQ(FrameAscii({}), Text(":00\r\n"));
    EXPECT_TRUE(FrameForProtocol(Hex("01 03"), -1).empty());
    EXPECT_TRUE(FrameForProtocol(Hex("01 03"), 2).empty());
}

TEST(AsciiDecode, AcceptsAndRejects) {
    const std::optional<ByteString> kBad;
    using F = AsciiFault;
    const struct {
        std::string text;
        std::optional<ByteString> decoded;  // with the LRC position cleared
        AsciiFault fault;                   // what AsciiFrameFault says of it
    } rows[] = {
        {":010306000A00A000A1AB\r\n", Hex("01 03 06 00 0A 00 A0 00 A1 00"), F::None},
        {":01050000ff00fb\r\n", Hex("01 05 00 00 FF 00 00"), F::None},  // lower-case digits
        // Only the hex between the first character and the last two counts.
        {"X01050000FF00FBab", Hex("01 05 00 00 FF 00 00"), F::None},
        // One byte is checked against the LRC of nothing, 0.
        {":00\r\n", Hex("00"), F::None},
        {":01\r\n", kBad, F::LrcMismatch},
        {":0105000GFF00FB\r\n", kBad, F::NotHex},  // "G"
        {":01050000FF00F \r\n", kBad, F::NotHex},  // space
        {":01050000FF00F\r\n", kBad, F::OddLength},
        {":01050000FF00FC\r\n", kBad, F::LrcMismatch},  // LRC off by one
        {":0G050000FF00F\r\n", kBad, F::OddLength},     // the length is looked at first
        {":\r\n", kBad, F::TooShort},
        {"", kBad, F::TooShort},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.text);
        EXPECT_EQ(DecodeAsciiFrame(Text(r.text)), r.decoded);
        EXPECT_EQ(AsciiFrameFault(Text(r.text)), r.fault);
    }
}

TEST(RtuCheck, StripsAValidCrcAndRejectsAnyFlippedBitSwapOrShortFrame) {
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
    ByteString swapped = frame;
    std::swap(swapped[5], swapped[6]);
    EXPECT_FALSE(CheckRtuFrame(swapped));
    EXPECT_FALSE(CheckRtuFrame({}));
    EXPECT_FALSE(CheckRtuFrame({0xFF, 0xFF}));
    EXPECT_EQ(CheckRtuFrame(FrameRtu({0x01})), ByteString{0x01});
}

}  // namespace
}  // namespace kelm::test
