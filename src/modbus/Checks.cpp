#include "modbus/Checks.h"

#include <algorithm>
#include <array>
#include <limits>

namespace kelm {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// CRC-16/MODBUS, bitwise: the byte is xored into the low 8 bits, then 8 times
// shift right, xoring 0xA001 when a 1 fell out.
constexpr std::uint16_t CrcStepByte(std::uint16_t crc) {
    for (int bit = 0; bit < 8; ++bit) {
        const bool lsb = (crc & 1u) != 0;
        crc = static_cast<std::uint16_t>(crc >> 1);
        if (lsb) crc ^= 0xA001;
    }
    return crc;
}

constexpr std::array<std::uint16_t, 256> MakeCrcTable() {
    std::array<std::uint16_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i) t[i] = CrcStepByte(static_cast<std::uint16_t>(i));
    return t;
}

constexpr auto kCrcTable = MakeCrcTable();
static_assert(kCrcTable[1] == 0xC0C1 && kCrcTable[255] == 0x4040);

std::uint16_t ClampLength(std::size_t n) {
    return static_cast<std::uint16_t>(
        std::min<std::size_t>(n, std::numeric_limits<std::uint16_t>::max()));
}

// Value of a hex digit in either case, or -1.
int HexValue(std::uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::uint16_t Calculate_CRC16_Modbus(const std::uint8_t* Pbuf, std::uint16_t buf_len) {
    std::uint16_t crc = 0xFFFF;
    if (Pbuf == nullptr) return crc;
    // One table step equals the eight shift-and-xor steps of the bitwise form.
    for (std::uint16_t i = 0; i < buf_len; ++i)
        crc = static_cast<std::uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ Pbuf[i]) & 0xFF]);
    return crc;
}

std::uint16_t Calculate_CRC16_Modbus(const ByteString& Pbuf) {
    return Calculate_CRC16_Modbus(Pbuf.data(), ClampLength(Pbuf.size()));
}

std::uint8_t Calculate_LRC_Modbus(const std::uint8_t* Pbuf, std::uint16_t buf_len) {
    if (Pbuf == nullptr) return 0;
    std::uint8_t sum = 0;
    for (std::uint16_t i = 0; i < buf_len; ++i) sum = static_cast<std::uint8_t>(sum + Pbuf[i]);
    return static_cast<std::uint8_t>(~sum + 1);
}

std::uint8_t Calculate_LRC_Modbus(const ByteString& Pbuf) {
    return Calculate_LRC_Modbus(Pbuf.data(), ClampLength(Pbuf.size()));
}

ByteString FrameRtu(const ByteString& body) {
    ByteString out;
    out.reserve(body.size() + 2);
    out.assign(body.begin(), body.end());
    const std::uint16_t crc = Calculate_CRC16_Modbus(body);
    out.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    out.push_back(static_cast<std::uint8_t>(crc >> 8));
    return out;
}

ByteString FrameAscii(const ByteString& body) {
    ByteString out;
    out.reserve(1 + 2 * (body.size() + 1) + 2);
    out.push_back(':');
    auto putHex = [&out](std::uint8_t b) {
        out.push_back(static_cast<std::uint8_t>(kHexDigits[b >> 4]));
        out.push_back(static_cast<std::uint8_t>(kHexDigits[b & 0x0F]));
    };
    for (std::uint8_t b : body) putHex(b);
    putHex(Calculate_LRC_Modbus(body));
    out.push_back('\r');
    out.push_back('\n');
    return out;
}

ByteString FrameForProtocol(const ByteString& body, int protocolIndex) {
    switch (protocolIndex) {
        case kProtocolRtu:
            return FrameRtu(body);
        case kProtocolAscii:
            return FrameAscii(body);
        default:
            return {};
    }
}

ByteString OneWordBody(std::uint8_t address, std::uint8_t code, std::uint16_t reg_addr,
                       std::uint16_t reg_data) {
    return ByteString{address,
                      code,
                      static_cast<std::uint8_t>(reg_addr >> 8),
                      static_cast<std::uint8_t>(reg_addr & 0xFF),
                      static_cast<std::uint8_t>(reg_data >> 8),
                      static_cast<std::uint8_t>(reg_data & 0xFF)};
}

std::optional<ByteString> DecodeAsciiFrame(const ByteString& text) {
    const std::size_t N = text.size();
    if (N < 3) return std::nullopt;
    const std::size_t L = N - 3;  // without ":" and CR LF
    if (L % 2 != 0) return std::nullopt;
    const std::size_t n = L / 2;
    if (n == 0) return std::nullopt;  // not even the check byte

    ByteString bytes(n);
    for (std::size_t i = 0; i < n; ++i) {
        const int hi = HexValue(text[2 * i + 1]);
        const int lo = HexValue(text[2 * i + 2]);
        if (hi < 0 || lo < 0) return std::nullopt;
        bytes[i] = static_cast<std::uint8_t>((hi << 4) | lo);
    }
    if (Calculate_LRC_Modbus(bytes.data(), ClampLength(n - 1)) != bytes[n - 1]) return std::nullopt;
    // Handlers see the LRC's position, with the value cleared.
    bytes[n - 1] = 0x00;
    return bytes;
}

AsciiFault AsciiFrameFault(const ByteString& text) {
    // The steps of DecodeAsciiFrame, in its order, without building the
    // bytes: the receiver's own path stays as fast as it was.
    const std::size_t N = text.size();
    if (N < 3) return AsciiFault::TooShort;
    const std::size_t L = N - 3;
    if (L % 2 != 0) return AsciiFault::OddLength;
    const std::size_t n = L / 2;
    if (n == 0) return AsciiFault::TooShort;
    std::uint8_t sum = 0;
    std::uint8_t last = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const int hi = HexValue(text[2 * i + 1]);
        const int lo = HexValue(text[2 * i + 2]);
        if (hi < 0 || lo < 0) return AsciiFault::NotHex;
        last = static_cast<std::uint8_t>((hi << 4) | lo);
        if (i + 1 < n) sum = static_cast<std::uint8_t>(sum + last);
    }
    if (static_cast<std::uint8_t>(~sum + 1) != last) return AsciiFault::LrcMismatch;
    return AsciiFault::None;
}

std::optional<ByteString> CheckRtuFrame(const ByteString& frame) {
    const std::size_t N = frame.size();
    if (N < 3) return std::nullopt;
    const std::uint16_t received = static_cast<std::uint16_t>((frame[N - 1] << 8) | frame[N - 2]);
    if (Calculate_CRC16_Modbus(frame.data(), ClampLength(N - 2)) != received) return std::nullopt;
    return ByteString(frame.begin(), frame.end() - 2);
}

}  // namespace kelm
