// The bounds-checked reply view.
#include <gtest/gtest.h>

#include "modbus/Bytes.h"

namespace kelm {
namespace {

TEST(Frame, PositionsPastTheEndReadZero) {
    const Frame f(ByteString{0x01, 0x03, 0xFF});
    EXPECT_EQ(f.size(), 3u);
    EXPECT_EQ(f[0], 0x01);
    EXPECT_EQ(f[2], 0xFF);
    EXPECT_EQ(f[3], 0);
    EXPECT_EQ(f[1000], 0);
    EXPECT_EQ(f[static_cast<std::size_t>(-1)], 0);
}

TEST(Frame, WordsAreBigEndianAndHalfPastTheEndReadsZero) {
    const Frame f(ByteString{0x12, 0x34, 0xAB});
    EXPECT_EQ(f.word(0), 0x1234);
    EXPECT_EQ(f.word(1), 0x34AB);
    EXPECT_EQ(f.word(2), 0xAB00);
    EXPECT_EQ(f.word(3), 0);
    // i + 1 wraps to 0 for the largest position; it must still read 0, not byte 0.
    EXPECT_EQ(f.word(static_cast<std::size_t>(-1)), 0);
}

TEST(Frame, EmptyFrameReadsZeroEverywhere) {
    const Frame f;
    EXPECT_TRUE(f.empty());
    EXPECT_EQ(f[0], 0);
    EXPECT_EQ(f.word(0), 0);
}

}  // namespace
}  // namespace kelm
