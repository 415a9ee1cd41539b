#pragma once
// One Modbus request and its reply, as a master with a response time-out sees
// it: how long the reply must be, when the bytes received so far hold it,
// and how long to wait for it. Pure logic without I/O, so that command-line
// tools, tests and fuzzers share it (the window keeps its silence rule).
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "modbus/Bytes.h"

namespace kelm {

enum class WireProtocol : std::uint8_t { Rtu, Ascii };

// Length of the reply body (address to last data byte, no check, no ASCII
// framing) that a request body asks for: 3 + byte count for reads (functions
// 1-4), 6 for the writes 5, 6, 15 and 16. nullopt for a body shorter than 6
// bytes or a function whose reply length the request does not fix.
std::optional<std::size_t> ExpectedReplyBodyLength(const ByteString& requestBody);

// The exception reply body is address, function | 0x80, exception code.
inline constexpr std::size_t kExceptionBodyLength = 3;

// What the bytes received since a request was sent amount to.
enum class ReplyState : std::uint8_t {
    Incomplete,  // nothing that answers the request yet: keep waiting
    Reply,       // the complete, checked reply
    Exception,   // a complete, checked exception reply
};

struct ReplyMatch {
    ReplyState state = ReplyState::Incomplete;
    ByteString body;  // Reply/Exception: the reply without its check
    std::uint8_t exceptionCode = 0;
};

// Looks for the answer to requestBody in received. A reply answers when it
// comes from the request's address with its function code (or the code with
// bit 7 set, an exception), has the expected length (and for reads the
// expected byte count), and its CRC (RTU) or its ":" ... LRC CR LF (ASCII)
// checks. Bytes before it (a late reply's tail, line noise) are skipped, so
// a frame from another address or with a bad check never answers, and the
// answer that follows it still does.
ReplyMatch MatchReply(const ByteString& requestBody, const ByteString& received,
                      WireProtocol protocol);

// Line timing of one serial format.
struct LineTiming {
    std::uint32_t baud = 9600;
    unsigned bitsPerChar = 11;  // start + data + parity + stop bits
};
// 1 start bit, 8 data bits (RTU) or 7 (ASCII), then even parity and 1 stop
// bit or no parity and 2 stop bits: 11 bits per character in RTU, 10 in ASCII.
LineTiming ModuleLineTiming(std::uint32_t baud, WireProtocol protocol);

// Time on the wire for n characters.
std::chrono::microseconds CharsTime(const LineTiming& line, std::size_t n);

// The silent interval a request must keep after the line's last traffic:
// 3.5 characters, but at least 1750 us (the fixed value for fast lines).
std::chrono::microseconds InterFrameGap(const LineTiming& line);

// The time a module is given to turn a request round before it answers.
inline constexpr std::chrono::milliseconds kModuleTurnaround{25};

// The default response time-out of a request, counted from when it was handed
// to the driver: the request's own time on the wire, the turnaround, and the
// expected reply's time on the wire (an exception reply's when the length is
// not known), rounded up to whole milliseconds. 47 ms for an identity read
// at 9600 baud in RTU.
std::chrono::milliseconds DefaultResponseTimeout(const ByteString& requestBody,
                                                 const LineTiming& line, WireProtocol protocol);

// Characters on the wire for a body of n bytes: n + 2 (CRC) in RTU,
// 1 + 2 (n + 1) + 2 in ASCII.
std::size_t WireLength(std::size_t bodyLength, WireProtocol protocol);

// The request frame of a body in the protocol.
ByteString FrameRequest(const ByteString& body, WireProtocol protocol);

}  // namespace kelm
