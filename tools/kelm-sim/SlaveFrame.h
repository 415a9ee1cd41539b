#pragma once
// The slave's side of the framing: requests as heard on the line, replies as
// sent. The checks themselves are the engine's (modbus/Checks.h), so the
// simulator and the master cannot drift apart on a CRC or an LRC.
#include <cstdint>
#include <optional>
#include <string>

#include "kelm-sim/SimTypes.h"
#include "modbus/Bytes.h"

namespace kelm::sim {

struct Request {
    std::uint8_t address = 0;
    ByteString pdu;  // function code and data, without address and check
};

// Limits of a request frame: an RTU frame holds at most 256 bytes, an ASCII
// frame at most 513 characters.
inline constexpr std::size_t kMaxRtuFrame = 256;
inline constexpr std::size_t kMaxAsciiFrame = 513;

// An RTU request: address, function code, data, CRC (low, high). nullopt when
// the frame is shorter than 4 bytes, longer than the limit or fails its CRC.
std::optional<Request> ParseRtuRequest(const ByteString& frame);

// An ASCII request: ":" then hex pairs of address, function code, data and
// LRC, then CR LF. Hex digits of either case are accepted, as slaves do.
// nullopt when the frame is malformed or fails its LRC.
std::optional<Request> ParseAsciiRequest(const ByteString& text);

std::optional<Request> ParseRequest(const ByteString& frame, Protocol p);

// The reply frame of pdu from the given address in the given protocol.
ByteString FrameReply(std::uint8_t address, const ByteString& pdu, Protocol p);

// "01 03 00 00 00 03 05 CB" for log lines.
std::string HexBytes(const ByteString& bytes);

}  // namespace kelm::sim
