#pragma once
// Helpers shared by the simulator's tests.
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

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

// The master's side of an exchange on a tty: sends a frame and collects what
// comes back until 60 ms of silence, or nothing by `waitMs`.
inline ByteString Exchange(int fd, const ByteString& request, int waitMs = 500) {
    ::tcflush(fd, TCIFLUSH);
    EXPECT_EQ(::write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
    ByteString got;
    for (int wait = waitMs;; wait = 60) {
        pollfd p{fd, POLLIN, 0};
        std::uint8_t buf[512];
        if (::poll(&p, 1, wait) <= 0) break;
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) break;
        got.insert(got.end(), buf, buf + n);
    }
    return got;
}

}  // namespace kelm::sim::test
