#pragma once
// Modbus TCP framing for a gateway in front of an RTU bus: an RTU request
// (address, PDU, CRC) becomes an MBAP frame (transaction id, protocol 0,
// length, unit id = the address, PDU, no CRC), and a reply comes back as the
// RTU frame the engine expects (address, PDU, CRC added). Pure functions.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace kelm::net {

inline constexpr size_t kMbapHeader = 7;
// The longest PDU Modbus allows (an RTU frame is at most 256 bytes).
inline constexpr size_t kMaxPdu = 253;

uint16_t Crc16Modbus(const uint8_t* p, size_t n);

// The MBAP frame of an RTU request; nullopt when the bytes are not one RTU
// frame with a valid CRC.
std::optional<std::string> RtuToMbap(const uint8_t* p, size_t n, uint16_t transaction);

// Collects MBAP frames from a byte stream.
class MbapReader {
  public:
    struct Frame {
        uint16_t transaction = 0;
        uint8_t unit = 0;
        std::string pdu;
    };
    // Takes bytes; complete frames can then be taken with Next().
    void Feed(const uint8_t* p, size_t n);
    // The next complete frame, if any. A header that cannot start a frame
    // (protocol not 0, a length outside 2..254) makes the stream unreadable:
    // what is buffered is dropped and counted in dropped().
    std::optional<Frame> Next();
    size_t dropped() const { return dropped_; }
    void Clear() { buf_.clear(); }

  private:
    std::string buf_;
    size_t dropped_ = 0;
};

// The RTU frame of a reply: unit, PDU, CRC (low byte first).
std::string MbapToRtu(uint8_t unit, const std::string& pdu);

}  // namespace kelm::net
