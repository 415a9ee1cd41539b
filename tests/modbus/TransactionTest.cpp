// The transaction layer's pure logic: expected reply lengths, when received
// bytes answer a request, and the default timing.
#include <gtest/gtest.h>

#include <string>

#include "modbus/Checks.h"
#include "modbus/Transaction.h"

namespace kelm {
namespace {

ByteString Bytes(std::initializer_list<int> v) {
    ByteString b;
    for (int x : v) b.push_back(static_cast<std::uint8_t>(x));
    return b;
}

ByteString Text(const std::string& s) {
    return ByteString(s.begin(), s.end());
}

ByteString Cat(ByteString a, const ByteString& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const ByteString kIdentityRead = Bytes({0x01, 0x03, 0x00, 0x00, 0x00, 0x03});
const ByteString kIdentityReply = Bytes({0x01, 0x03, 0x06, 0x00, 0x0A, 0x00, 0xA1, 0x00, 0xB2});

TEST(Transaction, ExpectedReplyBodyLengths) {
    struct Case {
        ByteString request;
        std::optional<std::size_t> expected;
    };
    const Case cases[] = {
        {Bytes({1, 1, 0, 0, 0, 16}), 5},       // 16 coils: 2 bytes
        {Bytes({1, 1, 0, 0, 0, 17}), 6},       // 17 coils: 3 bytes
        {Bytes({1, 2, 0, 0, 0, 8}), 4},        // 8 inputs: 1 byte
        {Bytes({1, 3, 0, 0, 0, 3}), 9},        // 3 registers
        {Bytes({1, 4, 0, 0, 0, 16}), 35},      // 16 input registers
        {Bytes({1, 5, 0, 0, 0xFF, 0}), 6},     // echo
        {Bytes({1, 6, 0, 8, 0x0F, 0xA0}), 6},  // echo
        {Bytes({1, 15, 0, 0, 0, 16, 2, 0xFF, 0}), 6},
        {Bytes({1, 16, 0, 3, 0, 3, 6, 0, 3, 0, 5, 0, 0x52}), 6},
        {Bytes({1, 3, 0, 0, 0}), std::nullopt},     // short request
        {Bytes({1, 8, 0, 0, 0, 0}), std::nullopt},  // diagnostics: not ours
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExpectedReplyBodyLength(c.request), c.expected) << int(c.request[1]);
    }
}

struct MatchCase {
    const char* name;
    ByteString request;
    ByteString received;
    WireProtocol protocol;
    ReplyState state;
    ByteString body;  // expected body for Reply/Exception
    int exceptionCode = 0;
};

TEST(Transaction, MatchReplyTable) {
    const ByteString rtuReply = FrameRtu(kIdentityReply);
    const ByteString asciiReply = FrameAscii(kIdentityReply);
    ByteString badCrc = rtuReply;
    badCrc.back() ^= 0x01;
    const ByteString otherAddress =
        FrameRtu(Bytes({0x02, 0x03, 0x06, 0x00, 0x0A, 0x00, 0xA1, 0x00, 0xB2}));
    const ByteString exception = FrameRtu(Bytes({0x01, 0x83, 0x02}));
    const ByteString writeAck = FrameRtu(Bytes({0x01, 0x10, 0x00, 0x03, 0x00, 0x03}));
    const ByteString write =
        Bytes({0x01, 0x10, 0x00, 0x03, 0x00, 0x03, 0x06, 0x00, 0x03, 0x00, 0x05, 0x00, 0x52});
    std::string lower(asciiReply.begin(), asciiReply.end());
    for (auto& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    ByteString badLrc = asciiReply;
    badLrc[badLrc.size() - 3] = badLrc[badLrc.size() - 3] == '0' ? '1' : '0';

    const MatchCase cases[] = {
        {"rtu complete", kIdentityRead, rtuReply, WireProtocol::Rtu, ReplyState::Reply,
         kIdentityReply},
        {"rtu one byte short",
         kIdentityRead,
         ByteString(rtuReply.begin(), rtuReply.end() - 1),
         WireProtocol::Rtu,
         ReplyState::Incomplete,
         {}},
        {"rtu bad crc", kIdentityRead, badCrc, WireProtocol::Rtu, ReplyState::Incomplete, {}},
        {"rtu bad crc, then the reply", kIdentityRead, Cat(badCrc, rtuReply), WireProtocol::Rtu,
         ReplyState::Reply, kIdentityReply},
        {"rtu another address",
         kIdentityRead,
         otherAddress,
         WireProtocol::Rtu,
         ReplyState::Incomplete,
         {}},
        {"rtu another address, then the reply", kIdentityRead, Cat(otherAddress, rtuReply),
         WireProtocol::Rtu, ReplyState::Reply, kIdentityReply},
        {"rtu noise before the reply", kIdentityRead, Cat(Bytes({0x00, 0x01, 0xFF}), rtuReply),
         WireProtocol::Rtu, ReplyState::Reply, kIdentityReply},
        {"rtu exception", kIdentityRead, exception, WireProtocol::Rtu, ReplyState::Exception,
         Bytes({0x01, 0x83, 0x02}), 2},
        {"rtu read of another length",
         Bytes({0x01, 0x03, 0x00, 0x00, 0x00, 0x06}),
         rtuReply,
         WireProtocol::Rtu,
         ReplyState::Incomplete,
         {}},
        {"rtu write acknowledged", write, writeAck, WireProtocol::Rtu, ReplyState::Reply,
         Bytes({0x01, 0x10, 0x00, 0x03, 0x00, 0x03})},
        {"rtu write echo of another register",
         write,
         FrameRtu(Bytes({0x01, 0x10, 0x00, 0x06, 0x00, 0x03})),
         WireProtocol::Rtu,
         ReplyState::Incomplete,
         {}},
        {"rtu reply to another function",
         write,
         rtuReply,
         WireProtocol::Rtu,
         ReplyState::Incomplete,
         {}},
        {"rtu frame in ascii mode",
         kIdentityRead,
         rtuReply,
         WireProtocol::Ascii,
         ReplyState::Incomplete,
         {}},
        {"broadcast answered from 0", Bytes({0x00, 0x03, 0x00, 0x03, 0x00, 0x03}),
         FrameRtu(Bytes({0x00, 0x03, 0x06, 0x00, 0x03, 0x00, 0x01, 0x00, 0x52})), WireProtocol::Rtu,
         ReplyState::Reply, Bytes({0x00, 0x03, 0x06, 0x00, 0x03, 0x00, 0x01, 0x00, 0x52})},
        {"ascii complete", kIdentityRead, asciiReply, WireProtocol::Ascii, ReplyState::Reply,
         kIdentityReply},
        {"ascii lower case", kIdentityRead, Text(lower), WireProtocol::Ascii, ReplyState::Reply,
         kIdentityReply},
        {"ascii without its LF",
         kIdentityRead,
         ByteString(asciiReply.begin(), asciiReply.end() - 1),
         WireProtocol::Ascii,
         ReplyState::Incomplete,
         {}},
        {"ascii bad lrc", kIdentityRead, badLrc, WireProtocol::Ascii, ReplyState::Incomplete, {}},
        {"ascii bad lrc, then the reply", kIdentityRead, Cat(badLrc, asciiReply),
         WireProtocol::Ascii, ReplyState::Reply, kIdentityReply},
        {"ascii cut frame, then the reply", kIdentityRead, Cat(Text(":0103"), asciiReply),
         WireProtocol::Ascii, ReplyState::Reply, kIdentityReply},
        {"ascii exception", kIdentityRead, FrameAscii(Bytes({0x01, 0x83, 0x03})),
         WireProtocol::Ascii, ReplyState::Exception, Bytes({0x01, 0x83, 0x03}), 3},
        {"ascii frame in rtu mode",
         kIdentityRead,
         asciiReply,
         WireProtocol::Rtu,
         ReplyState::Incomplete,
         {}},
        {"nothing", kIdentityRead, {}, WireProtocol::Rtu, ReplyState::Incomplete, {}},
    };
    for (const auto& c : cases) {
        const ReplyMatch m = MatchReply(c.request, c.received, c.protocol);
        EXPECT_EQ(m.state, c.state) << c.name;
        if (c.state != ReplyState::Incomplete) {
            EXPECT_EQ(m.body, c.body) << c.name;
            EXPECT_EQ(m.exceptionCode, c.exceptionCode) << c.name;
        }
    }
}

// Every prefix of a reply but the whole is incomplete (a reply that arrives
// in pieces is waited for, never taken early).
TEST(Transaction, NoPrefixAnswers) {
    for (auto p : {WireProtocol::Rtu, WireProtocol::Ascii}) {
        const ByteString whole = FrameRequest(kIdentityReply, p);
        for (std::size_t n = 0; n < whole.size(); ++n) {
            const ByteString part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
            EXPECT_EQ(MatchReply(kIdentityRead, part, p).state, ReplyState::Incomplete) << n;
        }
        EXPECT_EQ(MatchReply(kIdentityRead, whole, p).state, ReplyState::Reply);
    }
}

TEST(Transaction, Timing) {
    const LineTiming rtu9600 = ModuleLineTiming(9600, WireProtocol::Rtu);
    EXPECT_EQ(rtu9600.bitsPerChar, 11u);
    EXPECT_EQ(ModuleLineTiming(9600, WireProtocol::Ascii).bitsPerChar, 10u);
    EXPECT_EQ(CharsTime(rtu9600, 8).count(), 9167);  // 88 bits at 9600, rounded up
    // 3.5 characters, never below 1750 us.
    EXPECT_EQ(InterFrameGap(rtu9600).count(), 4011);
    EXPECT_EQ(InterFrameGap(ModuleLineTiming(115200, WireProtocol::Rtu)).count(), 1750);
    EXPECT_EQ(WireLength(6, WireProtocol::Rtu), 8u);
    EXPECT_EQ(WireLength(6, WireProtocol::Ascii), 17u);

    struct Case {
        std::uint32_t baud;
        WireProtocol protocol;
        ByteString request;
        long ms;
    };
    const Case cases[] = {
        // 8 + 11 characters of 11 bits, plus the turnaround.
        {9600, WireProtocol::Rtu, kIdentityRead, 47},
        // Registers 0-5: 8 + 17 characters.
        {9600, WireProtocol::Rtu, Bytes({1, 3, 0, 0, 0, 6}), 54},
        // 17 + 23 characters of 10 bits.
        {9600, WireProtocol::Ascii, kIdentityRead, 67},
        {1200, WireProtocol::Rtu, kIdentityRead, 200},
        {115200, WireProtocol::Rtu, kIdentityRead, 27},
        // A function whose reply length is not known: an exception reply's.
        {9600, WireProtocol::Rtu, Bytes({1, 8, 0, 0, 0, 0}), 40},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(
            DefaultResponseTimeout(c.request, ModuleLineTiming(c.baud, c.protocol), c.protocol)
                .count(),
            c.ms)
            << c.baud;
    }
}

}  // namespace
}  // namespace kelm
