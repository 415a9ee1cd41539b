#include "serial/net/Mbap.h"

namespace kelm::net {

uint16_t Crc16Modbus(const uint8_t* p, size_t n) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int b = 0; b < 8; ++b)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    return crc;
}

std::optional<std::string> RtuToMbap(const uint8_t* p, size_t n, uint16_t transaction) {
    // Address, function code and CRC at least; at most 256 bytes.
    if (p == nullptr || n < 4 || n > kMaxPdu + 3) return std::nullopt;
    const uint16_t crc = Crc16Modbus(p, n - 2);
    if (p[n - 2] != (crc & 0xFF) || p[n - 1] != (crc >> 8)) return std::nullopt;
    const size_t length = n - 2;  // unit id + PDU
    std::string out;
    out.reserve(kMbapHeader + n);
    out.push_back(static_cast<char>(transaction >> 8));
    out.push_back(static_cast<char>(transaction & 0xFF));
    out.push_back(0);
    out.push_back(0);
    out.push_back(static_cast<char>(length >> 8));
    out.push_back(static_cast<char>(length & 0xFF));
    out.append(reinterpret_cast<const char*>(p), n - 2);  // unit id = address, then the PDU
    return out;
}

void MbapReader::Feed(const uint8_t* p, size_t n) {
    buf_.append(reinterpret_cast<const char*>(p), n);
}

std::optional<MbapReader::Frame> MbapReader::Next() {
    if (buf_.size() < kMbapHeader) return std::nullopt;
    auto at = [&](size_t i) { return static_cast<uint8_t>(buf_[i]); };
    const uint16_t protocol = static_cast<uint16_t>(at(2) << 8 | at(3));
    const size_t length = static_cast<size_t>(at(4) << 8 | at(5));
    if (protocol != 0 || length < 2 || length > kMaxPdu + 1) {
        // No way to find the next frame's start in a stream out of step.
        dropped_ += buf_.size();
        buf_.clear();
        return std::nullopt;
    }
    if (buf_.size() < 6 + length) return std::nullopt;
    Frame f;
    f.transaction = static_cast<uint16_t>(at(0) << 8 | at(1));
    f.unit = at(6);
    f.pdu = buf_.substr(kMbapHeader, length - 1);
    buf_.erase(0, 6 + length);
    return f;
}

std::string MbapToRtu(uint8_t unit, const std::string& pdu) {
    std::string out;
    out.reserve(pdu.size() + 3);
    out.push_back(static_cast<char>(unit));
    out += pdu;
    const uint16_t crc = Crc16Modbus(reinterpret_cast<const uint8_t*>(out.data()), out.size());
    out.push_back(static_cast<char>(crc & 0xFF));
    out.push_back(static_cast<char>(crc >> 8));
    return out;
}

}  // namespace kelm::net
