#pragma once
// Helpers shared by the simulator's tests.
#include <chrono>
#include <cstdint>
#include <sstream>
#include <string>

#include "kelm-sim/SimTypes.h"
#include "modbus/Bytes.h"

namespace kelm::sim::test {

// "01 03 00 00" -> bytes.
inline ByteString Hex(const std::string& text) {
    ByteString out;
    std::istringstream in(text);
    std::string byte;
    while (in >> byte) out.push_back(static_cast<std::uint8_t>(std::stoul(byte, nullptr, 16)));
    return out;
}

// Characters of a text, as sent on the line.
inline ByteString Text(const std::string& text) {
    return ByteString(text.begin(), text.end());
}

inline constexpr SimTime Ms(std::int64_t ms) {
    return SimTime{ms * 1000};
}

// Line settings as seen on a pty (parity and data bits unknown).
inline LineSettings PtyLine(unsigned baud, unsigned stopBits) {
    return LineSettings{baud, stopBits, std::nullopt, std::nullopt};
}

}  // namespace kelm::sim::test
