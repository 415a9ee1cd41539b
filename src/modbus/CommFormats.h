#pragma once
// The serial format codes 0-15 a module keeps in holding register 3, and their
// labels. Code = baud index (1200 ... 115200 as 0 ... 7) + 8 for even parity;
// no parity goes with two stop bits, even parity with one. Data bits follow
// the protocol: 8 for RTU, 7 for ASCII. The link check decodes a module's
// registers by this same table, so its order must not change.
#include <array>
#include <cstdint>
#include <string>

namespace kelm {

inline constexpr int kCommFormatCount = 16;
inline constexpr std::array<std::uint32_t, 8> kCommFormatBauds = {1200,  2400,  4800,  9600,
                                                                  19200, 38400, 57600, 115200};

// Register 5's protocol letters.
inline constexpr std::uint8_t kProtocolLetterRtu = 0x52;    // 'R'
inline constexpr std::uint8_t kProtocolLetterAscii = 0x41;  // 'A'

// "9600/8/2/None" for code 3 with ascii false, "9600/7/1/Even" for code 11
// with ascii true. Empty for a code outside 0-15.
std::string CommFormatLabel(int code, bool ascii);

}  // namespace kelm
