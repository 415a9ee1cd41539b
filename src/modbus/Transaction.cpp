#include "modbus/Transaction.h"

#include <algorithm>

#include "modbus/Checks.h"

namespace kelm {

namespace {

constexpr std::uint8_t kExceptionBit = 0x80;

// Whether body (a reply without its check) answers requestBody.
bool Answers(const ByteString& requestBody, std::size_t expected, const ByteString& body) {
    if (body.size() != expected) return false;
    const std::uint8_t fn = requestBody[1];
    switch (fn) {
        case 1:
        case 2:
        case 3:
        case 4:
            return body[2] == expected - 3;
        case 5:
        case 6:
            return std::equal(body.begin(), body.end(), requestBody.begin());
        case 15:
        case 16:
            // The echo of the start and the quantity.
            return std::equal(body.begin() + 2, body.begin() + 6, requestBody.begin() + 2);
        default:
            return false;
    }
}

ReplyMatch Classify(const ByteString& requestBody, std::size_t expected, ByteString body) {
    ReplyMatch m;
    if (body.size() < 2 || body[0] != requestBody[0]) return m;
    if (body[1] == (requestBody[1] | kExceptionBit) && body.size() == kExceptionBodyLength) {
        m.state = ReplyState::Exception;
        m.exceptionCode = body[2];
        m.body = std::move(body);
        return m;
    }
    if (body[1] == requestBody[1] && Answers(requestBody, expected, body)) {
        m.state = ReplyState::Reply;
        m.body = std::move(body);
    }
    return m;
}

ReplyMatch MatchRtu(const ByteString& req, std::size_t expected, const ByteString& rx) {
    const std::size_t n = rx.size();
    for (std::size_t s = 0; s + 1 < n; ++s) {
        if (rx[s] != req[0]) continue;
        const std::uint8_t fn = rx[s + 1];
        std::size_t len = 0;
        if (fn == req[1]) {
            len = expected;
        } else if (fn == (req[1] | kExceptionBit)) {
            len = kExceptionBodyLength;
        } else {
            continue;
        }
        if (n - s < len + 2) continue;  // not all in yet (or not this one)
        const ByteString frame(rx.begin() + static_cast<std::ptrdiff_t>(s),
                               rx.begin() + static_cast<std::ptrdiff_t>(s + len + 2));
        auto body = CheckRtuFrame(frame);
        if (!body) continue;
        ReplyMatch m = Classify(req, expected, std::move(*body));
        if (m.state != ReplyState::Incomplete) return m;
    }
    return {};
}

ReplyMatch MatchAscii(const ByteString& req, std::size_t expected, const ByteString& rx) {
    const std::size_t n = rx.size();
    for (std::size_t s = 0; s < n; ++s) {
        if (rx[s] != ':') continue;
        // The frame ends at the first CR LF after its colon.
        std::size_t e = s + 1;
        while (e + 1 < n && !(rx[e] == '\r' && rx[e + 1] == '\n')) ++e;
        if (e + 1 >= n) break;  // no CR LF yet: nothing later can be complete either
        const ByteString text(rx.begin() + static_cast<std::ptrdiff_t>(s),
                              rx.begin() + static_cast<std::ptrdiff_t>(e + 2));
        auto decoded = DecodeAsciiFrame(text);
        if (!decoded || decoded->empty()) continue;
        decoded->pop_back();  // the LRC's place
        ReplyMatch m = Classify(req, expected, std::move(*decoded));
        if (m.state != ReplyState::Incomplete) return m;
    }
    return {};
}

}  // namespace

std::optional<std::size_t> ExpectedReplyBodyLength(const ByteString& requestBody) {
    if (requestBody.size() < 6) return std::nullopt;
    const unsigned quantity = (static_cast<unsigned>(requestBody[4]) << 8) | requestBody[5];
    switch (requestBody[1]) {
        case 1:
        case 2:
            return 3 + (quantity + 7) / 8;
        case 3:
        case 4:
            return 3 + 2 * static_cast<std::size_t>(quantity);
        case 5:
        case 6:
        case 15:
        case 16:
            return 6;
        default:
            return std::nullopt;
    }
}

ReplyMatch MatchReply(const ByteString& requestBody, const ByteString& received,
                      WireProtocol protocol) {
    const auto expected = ExpectedReplyBodyLength(requestBody);
    if (!expected) return {};
    return protocol == WireProtocol::Rtu ? MatchRtu(requestBody, *expected, received)
                                         : MatchAscii(requestBody, *expected, received);
}

LineTiming ModuleLineTiming(std::uint32_t baud, WireProtocol protocol) {
    // Both formats a module has (no parity with 2 stop bits, even parity with
    // 1) spend 3 bits beside the data bits.
    return LineTiming{baud, protocol == WireProtocol::Rtu ? 11u : 10u};
}

std::chrono::microseconds CharsTime(const LineTiming& line, std::size_t n) {
    const std::uint32_t baud = std::max<std::uint32_t>(line.baud, 1);
    const std::uint64_t bits = static_cast<std::uint64_t>(n) * line.bitsPerChar;
    return std::chrono::microseconds((bits * 1000000 + baud - 1) / baud);
}

std::chrono::microseconds InterFrameGap(const LineTiming& line) {
    const std::uint32_t baud = std::max<std::uint32_t>(line.baud, 1);
    const std::uint64_t us =
        (static_cast<std::uint64_t>(line.bitsPerChar) * 3500000 + baud - 1) / baud;
    return std::chrono::microseconds(std::max<std::uint64_t>(us, 1750));
}

std::size_t WireLength(std::size_t bodyLength, WireProtocol protocol) {
    return protocol == WireProtocol::Rtu ? bodyLength + 2 : 1 + 2 * (bodyLength + 1) + 2;
}

std::chrono::milliseconds DefaultResponseTimeout(const ByteString& requestBody,
                                                 const LineTiming& line, WireProtocol protocol) {
    const std::size_t replyBody =
        ExpectedReplyBodyLength(requestBody).value_or(kExceptionBodyLength);
    const auto total = CharsTime(line, WireLength(requestBody.size(), protocol)) +
                       std::chrono::microseconds(kModuleTurnaround) +
                       CharsTime(line, WireLength(replyBody, protocol));
    return std::chrono::ceil<std::chrono::milliseconds>(total);
}

ByteString FrameRequest(const ByteString& body, WireProtocol protocol) {
    return protocol == WireProtocol::Rtu ? FrameRtu(body) : FrameAscii(body);
}

}  // namespace kelm
