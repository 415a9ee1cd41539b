#include "kelm-sim/SlaveFrame.h"

#include "modbus/Checks.h"

namespace kelm::sim {

std::optional<Request> ParseRtuRequest(const ByteString& frame) {
    if (frame.size() < 4 || frame.size() > kMaxRtuFrame) return std::nullopt;
    std::optional<ByteString> body = CheckRtuFrame(frame);
    if (!body || body->size() < 2) return std::nullopt;
    return Request{(*body)[0], ByteString(body->begin() + 1, body->end())};
}

std::optional<Request> ParseAsciiRequest(const ByteString& text) {
    // ":" + at least address, function code and LRC + CR LF.
    const std::size_t n = text.size();
    if (n < 9 || n > kMaxAsciiFrame) return std::nullopt;
    if (text[0] != ':' || text[n - 2] != '\r' || text[n - 1] != '\n') return std::nullopt;
    std::optional<ByteString> decoded = DecodeAsciiFrame(text);
    // The decoded bytes end with the LRC's position (set to 0); drop it.
    if (!decoded || decoded->size() < 3) return std::nullopt;
    return Request{(*decoded)[0], ByteString(decoded->begin() + 1, decoded->end() - 1)};
}

std::optional<Request> ParseRequest(const ByteString& frame, Protocol p) {
    return p == Protocol::Rtu ? ParseRtuRequest(frame) : ParseAsciiRequest(frame);
}

ByteString FrameReply(std::uint8_t address, const ByteString& pdu, Protocol p) {
    ByteString body;
    body.reserve(pdu.size() + 1);
    body.push_back(address);
    body.insert(body.end(), pdu.begin(), pdu.end());
    return p == Protocol::Rtu ? FrameRtu(body) : FrameAscii(body);
}

std::string HexBytes(const ByteString& bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(bytes.size() * 3);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0) s += ' ';
        s += kHex[bytes[i] >> 4];
        s += kHex[bytes[i] & 0x0F];
    }
    return s;
}

}  // namespace kelm::sim
