#pragma once
// Vocabulary of the module simulator: simulated time, protocols, the modules'
// serial format codes and the line settings a request was heard under.
#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kelm::sim {

// Simulated time since an arbitrary origin. The models take the time as an
// argument instead of reading a clock, so tests can step it exactly.
using SimTime = std::chrono::microseconds;

enum class Protocol : std::uint8_t { Rtu, Ascii };

// Holding register 5 holds the protocol as a character code.
inline constexpr std::uint16_t kLetterRtu = 0x52;    // "R"
inline constexpr std::uint16_t kLetterAscii = 0x41;  // "A"

inline constexpr std::uint16_t ProtocolLetter(Protocol p) {
    return p == Protocol::Rtu ? kLetterRtu : kLetterAscii;
}
std::string_view ProtocolName(Protocol p);  // "RTU" / "ASCII"

enum class Parity : std::uint8_t { None, Even, Odd };

// Serial format code 0-15: baud index 0-7, plus 8 for even parity with one
// stop bit; below 8 it is no parity with two stop bits. Data bits follow the
// protocol: 8 for RTU, 7 for ASCII.
inline constexpr std::array<unsigned, 8> kBaudRates = {1200,  2400,  4800,  9600,
                                                       19200, 38400, 57600, 115200};
inline constexpr std::uint8_t kMaxFormatCode = 15;
inline constexpr std::uint8_t kDefaultFormatCode = 3;  // 9600, no parity, 2 stop bits

inline constexpr unsigned FormatBaud(std::uint8_t code) {
    return kBaudRates[code & 7u];
}
inline constexpr Parity FormatParity(std::uint8_t code) {
    return (code & 8u) != 0 ? Parity::Even : Parity::None;
}
inline constexpr unsigned FormatStopBits(std::uint8_t code) {
    return (code & 8u) != 0 ? 1u : 2u;
}
inline constexpr unsigned ProtocolDataBits(Protocol p) {
    return p == Protocol::Rtu ? 8u : 7u;
}

// "9600/8/2/None", the label the program shows for a format.
std::string FormatLabel(std::uint8_t code, Protocol p);

// How the line is set when a frame is heard. On a pseudo-terminal only the
// baud rate and the stop bits can be seen from the simulator's end (the pty
// driver forces 8 data bits and drops the parity flag), so parity and data
// bits are then unknown and not compared.
struct LineSettings {
    unsigned baud = 9600;
    unsigned stopBits = 2;
    std::optional<Parity> parity;
    std::optional<unsigned> dataBits;

    bool operator==(const LineSettings&) const = default;
};

// The full settings a module's format and protocol put on a real UART.
LineSettings FormatLine(std::uint8_t code, Protocol p);

// True when a module with this format and protocol would understand the line:
// same baud rate and stop bits, and same parity and data bits where known.
bool LineMatches(const LineSettings& line, std::uint8_t code, Protocol p);

// "9600 baud, 2 stop bits" (+ ", parity None, 8 data bits" where known).
std::string DescribeLine(const LineSettings& line);

}  // namespace kelm::sim
