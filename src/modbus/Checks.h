#pragma once
// Modbus frame checks (CRC-16/MODBUS, LRC) and the RTU/ASCII framing rules.
//
// The master's codec and dispatcher use these functions, and so does the
// module simulator, so that both ends of the line agree byte for byte.
#include <cstdint>
#include <optional>

#include "modbus/Bytes.h"

namespace kelm {

// CRC-16/MODBUS over the first buf_len bytes: start 0xFFFF, reflected
// polynomial 0xA001, no final xor. buf_len 0 (or a null Pbuf) yields 0xFFFF.
// On the wire the result goes low byte first.
std::uint16_t Calculate_CRC16_Modbus(const std::uint8_t* Pbuf, std::uint16_t buf_len);
// Over the whole string; a string longer than 65535 bytes covers its first 65535.
std::uint16_t Calculate_CRC16_Modbus(const ByteString& Pbuf);

// Modbus LRC over the first buf_len bytes: two's complement of the 8-bit sum.
// buf_len 0 (or a null Pbuf) yields 0.
std::uint8_t Calculate_LRC_Modbus(const std::uint8_t* Pbuf, std::uint16_t buf_len);
std::uint8_t Calculate_LRC_Modbus(const ByteString& Pbuf);

// Host protocol as the item index of the protocol list.
inline constexpr int kProtocolRtu = 0;
inline constexpr int kProtocolAscii = 1;

// RTU form: body, then its CRC low byte, high byte.
ByteString FrameRtu(const ByteString& body);

// ASCII form: ":" + upper-case hex of body and its LRC + CR LF.
ByteString FrameAscii(const ByteString& body);

// The frame of body in the given protocol (kProtocolRtu / kProtocolAscii);
// empty for any other index, so nothing reaches the line.
ByteString FrameForProtocol(const ByteString& body, int protocolIndex);

// The 6-byte body of a single-word request: address, function code, register
// (high, low), value or quantity (high, low).
ByteString OneWordBody(std::uint8_t address, std::uint8_t code, std::uint16_t reg_addr,
                       std::uint16_t reg_data);

// Limits on a received frame, in bytes (RTU) or characters (ASCII): anything
// shorter or longer is dropped before it is checked.
inline constexpr std::size_t kMinReplyLength = 5;
inline constexpr std::size_t kMaxReplyLength = 256;

// ASCII validation as the dispatcher does it, without the length limits above.
// With N characters: L = N - 3 must be even; characters 1 .. N-3 must be hex
// digits (either case; the first character and the last two are not
// examined); the n = L/2 decoded bytes must end with the LRC of the n-1 before
// it. Returns the n bytes with the LRC byte replaced by 0x00, else nullopt.
// Text shorter than 5 characters (no byte to check) yields nullopt.
std::optional<ByteString> DecodeAsciiFrame(const ByteString& text);

// Why DecodeAsciiFrame rejects a text (None when it accepts it), for
// diagnostics; the first failing step wins, as in DecodeAsciiFrame.
enum class AsciiFault : std::uint8_t { None, TooShort, OddLength, NotHex, LrcMismatch };
AsciiFault AsciiFrameFault(const ByteString& text);

// RTU validation: the last two bytes must be the CRC (low, high) of the rest.
// Returns the frame without its CRC, else nullopt (also for fewer than 3 bytes).
std::optional<ByteString> CheckRtuFrame(const ByteString& frame);

}  // namespace kelm
