#pragma once
// Byte strings and the bounds-checked reply view that reply handlers read.
//
// Replies come off the wire, so nothing about their length can be trusted: a
// reply may claim 48 data bytes and carry 20. Handlers therefore never index
// the raw bytes; they read through Frame, where a position past the end reads
// as 0 (the same rule the dispatcher applies to its own reads).
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace kelm {

// Requests, replies and the receive buffer: any byte value 0x00-0xFF, no
// character conversion anywhere on the serial path.
using ByteString = std::vector<std::uint8_t>;

// A validated reply without its check, as handed to the scan, link-check and
// model handlers. Byte 0 is the address, byte 1 the function code, byte 2 the
// byte count of a read reply, data from byte 3 on. Owns its bytes, so a
// handler may keep it after the receive buffer has been emptied.
class Frame {
  public:
    Frame() = default;
    explicit Frame(ByteString bytes) : bytes_(std::move(bytes)) {}

    // Byte at position i; a position past the end reads 0.
    std::uint8_t operator[](std::size_t i) const { return i < bytes_.size() ? bytes_[i] : 0; }

    // Big-endian 16-bit value of the bytes at i and i+1; each byte past the
    // end reads 0.
    std::uint16_t word(std::size_t i) const {
        // i < size() rules out i + 1 wrapping round to byte 0.
        const std::uint8_t high = (*this)[i];
        const std::uint8_t low = i < bytes_.size() ? (*this)[i + 1] : 0;
        return static_cast<std::uint16_t>((static_cast<unsigned>(high) << 8) | low);
    }

    std::size_t size() const { return bytes_.size(); }
    bool empty() const { return bytes_.empty(); }
    const ByteString& bytes() const { return bytes_; }

  private:
    ByteString bytes_;
};

}  // namespace kelm
