// The command line's Modbus master on a real pseudo-terminal against a
// scripted slave: byte-exact requests, late and stray replies, replies in
// pieces, exceptions, the line settings and a lost port.
#include <gtest/gtest.h>
#include <termios.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "bus/BusClient.h"
#include "modbus/Checks.h"
#include "support/ScriptedPeer.h"

namespace kelm::bus {
namespace {

using namespace std::chrono_literals;
using test::ScriptedPeer;

ByteString Read(std::uint8_t address, std::uint16_t first, std::uint16_t count) {
    return {address,
            3,
            static_cast<std::uint8_t>(first >> 8),
            static_cast<std::uint8_t>(first),
            static_cast<std::uint8_t>(count >> 8),
            static_cast<std::uint8_t>(count)};
}

ByteString Regs(std::uint8_t address, std::initializer_list<std::uint16_t> values) {
    ByteString b{address, 3, static_cast<std::uint8_t>(2 * values.size())};
    for (auto v : values) {
        b.push_back(static_cast<std::uint8_t>(v >> 8));
        b.push_back(static_cast<std::uint8_t>(v));
    }
    return b;
}

// A pty hands written bytes to the other side a little later: wait
// (bounded) until the client's side has them.
bool WaitInput(BusClient& client, std::size_t n) {
    const auto limit = std::chrono::steady_clock::now() + 20s;
    while (client.InputWaiting() < n) {
        if (std::chrono::steady_clock::now() > limit) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Generous: these tests check what is answered, never how fast.
const RequestOptions kPatient{std::chrono::milliseconds(3000), 0};

TEST(BusClient, RequestsAreByteExactInBothProtocols) {
    for (bool ascii : {false, true}) {
        ScriptedPeer peer(ascii);
        BusClient client;
        LineSettings line;
        line.protocol = ascii ? WireProtocol::Ascii : WireProtocol::Rtu;
        ASSERT_TRUE(client.Open(peer.SlavePath(), line).ok());
        peer.SetScript([&](const ByteString&) {
            return std::optional<ByteString>(
                FrameRequest(Regs(1, {10, 0xA1, 0xB2}), line.protocol));
        });
        const auto r = client.Transact(Read(1, 0, 3), kPatient);
        ASSERT_EQ(r.outcome, Outcome::Reply);
        EXPECT_EQ(r.body, Regs(1, {10, 0xA1, 0xB2}));
        const ByteString expected =
            ascii ? ByteString{':', '0', '1', '0', '3', '0', '0',  '0', '0',
                               '0', '0', '0', '3', 'F', '9', '\r', '\n'}
                  : ByteString{0x01, 0x03, 0x00, 0x00, 0x00, 0x03, 0x05, 0xCB};
        EXPECT_EQ(peer.Received(), expected);
    }
}

// The fault generic pollers are known for: a reply that comes after its
// request timed out must not be taken as the answer to the next request,
// even when it has the very shape that answer would have.
TEST(BusClient, LateReplyIsNotTakenAsTheNextAnswer) {
    ScriptedPeer peer;
    BusClient client;
    ASSERT_TRUE(client.Open(peer.SlavePath(), LineSettings{}).ok());
    const ByteString lateReply = FrameRtu(Regs(1, {0x1111, 0x2222, 0x3333}));

    // First request: silence, so it times out.
    peer.SetScript([](const ByteString&) { return std::nullopt; });
    auto r = client.Transact(Read(1, 0, 3), {std::chrono::milliseconds(30), 0});
    EXPECT_EQ(r.outcome, Outcome::Timeout);
    // Its reply turns up now, late (and is in before the next request).
    peer.Write(lateReply);
    ASSERT_TRUE(WaitInput(client, lateReply.size()));

    // The next request (same address and function, same reply length) is
    // not answered: the late reply must not stand in for its answer.
    r = client.Transact(Read(1, 3, 3), {std::chrono::milliseconds(300), 0});
    EXPECT_EQ(r.outcome, Outcome::Timeout);

    // Again late, and this time the module answers the next request.
    peer.Write(lateReply);
    ASSERT_TRUE(WaitInput(client, lateReply.size()));
    peer.SetScript([](const ByteString&) {
        return std::optional<ByteString>(FrameRtu(Regs(1, {3, 1, 0x52})));
    });
    r = client.Transact(Read(1, 3, 3), kPatient);
    ASSERT_EQ(r.outcome, Outcome::Reply);
    EXPECT_EQ(r.body, Regs(1, {3, 1, 0x52}));
    EXPECT_GE(client.DiscardedBytes(), 2 * lateReply.size());
}

TEST(BusClient, WhatAnswersAndWhatDoesNot) {
    struct Case {
        const char* name;
        std::vector<ByteString> chunks;  // written in this order, apart
        Outcome outcome;
        ByteString body;
        std::uint8_t exception = 0;
    };
    const ByteString good = FrameRtu(Regs(5, {12, 0xA1, 0xB3}));
    ByteString badCrc = good;
    badCrc[4] ^= 0x40;
    const Case cases[] = {
        {"the reply", {good}, Outcome::Reply, Regs(5, {12, 0xA1, 0xB3})},
        // More than the window's 110 ms of silence inside the reply.
        {"the reply in two pieces",
         {ByteString(good.begin(), good.begin() + 4), ByteString(good.begin() + 4, good.end())},
         Outcome::Reply,
         Regs(5, {12, 0xA1, 0xB3})},
        {"another address, then the reply",
         {FrameRtu(Regs(6, {1, 2, 3})), good},
         Outcome::Reply,
         Regs(5, {12, 0xA1, 0xB3})},
        {"a bad check, then the reply", {badCrc, good}, Outcome::Reply, Regs(5, {12, 0xA1, 0xB3})},
        {"an exception",
         {FrameRtu(ByteString{5, 0x83, 0x02})},
         Outcome::Exception,
         ByteString{5, 0x83, 0x02},
         2},
        {"only another address", {FrameRtu(Regs(6, {1, 2, 3}))}, Outcome::Timeout, {}},
        {"only a bad check", {badCrc}, Outcome::Timeout, {}},
    };
    ScriptedPeer peer;
    BusClient client;
    ASSERT_TRUE(client.Open(peer.SlavePath(), LineSettings{}).ok());
    for (const auto& c : cases) {
        peer.SetScript([&](const ByteString&) -> std::optional<ByteString> {
            for (std::size_t i = 0; i + 1 < c.chunks.size(); ++i) {
                peer.Write(c.chunks[i]);
                std::this_thread::sleep_for(150ms);  // a gap inside the answer, not a wait
            }
            return c.chunks.back();
        });
        const bool silent = c.outcome == Outcome::Timeout;
        const auto r = client.Transact(Read(5, 0, 3), silent ? RequestOptions{500ms, 0} : kPatient);
        EXPECT_EQ(r.outcome, c.outcome) << c.name;
        EXPECT_EQ(r.body, c.body) << c.name;
        EXPECT_EQ(r.exceptionCode, c.exception) << c.name;
        if (silent) {
            EXPECT_GT(r.strayBytes, 0u) << c.name;
        }
    }
}

TEST(BusClient, RetriesAfterATimeout) {
    ScriptedPeer peer;
    BusClient client;
    ASSERT_TRUE(client.Open(peer.SlavePath(), LineSettings{}).ok());
    // Atomic: the only order between this thread and the peer's is the pty,
    // which ThreadSanitizer cannot see.
    std::atomic<int> asked{0};
    peer.SetScript([&](const ByteString&) -> std::optional<ByteString> {
        if (++asked < 3) return std::nullopt;  // the first two get lost
        return FrameRtu(Regs(1, {1, 2, 3}));
    });
    auto r = client.Transact(Read(1, 0, 3), {100ms, 1});
    EXPECT_EQ(r.outcome, Outcome::Timeout);
    EXPECT_EQ(r.attempts, 2);
    ASSERT_TRUE(peer.WaitRequests(2));
    asked = 0;
    r = client.Transact(Read(1, 0, 3), {300ms, 2});
    EXPECT_EQ(r.outcome, Outcome::Reply);
    EXPECT_EQ(r.attempts, 3);
    ASSERT_TRUE(peer.WaitRequests(5));
    for (const auto& req : peer.Requests()) EXPECT_EQ(req, FrameRtu(Read(1, 0, 3)));
}

TEST(BusClient, LineSettingsReachTheDriver) {
    ScriptedPeer peer;
    BusClient client;
    ASSERT_TRUE(client.Open(peer.SlavePath(), LineSettings{}).ok());
    termios t{};
    ASSERT_EQ(tcgetattr(peer.MasterFd(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), B9600);
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);  // no parity: 2 stop bits
    LineSettings even;
    even.baud = 38400;
    even.evenParity = true;
    client.SetLine(even);
    ASSERT_EQ(tcgetattr(peer.MasterFd(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), B38400);
    EXPECT_EQ(t.c_cflag & CSTOPB, 0u);  // even parity: 1 stop bit
    EXPECT_EQ(FormatCodeOf(even), 13);
    EXPECT_EQ(LineOfFormatCode(13, WireProtocol::Rtu)->baud, 38400u);
    EXPECT_FALSE(LineOfFormatCode(16, WireProtocol::Rtu));
    LineSettings odd;
    odd.baud = 14400;
    EXPECT_FALSE(FormatCodeOf(odd));
}

TEST(BusClient, OpenFailuresSayWhy) {
    ScriptedPeer peer;
    BusClient first;
    ASSERT_TRUE(first.Open(peer.SlavePath(), LineSettings{}).ok());
    BusClient second;
    auto r = second.Open(peer.SlavePath(), LineSettings{});
    EXPECT_EQ(r.failure, OpenFailure::Busy);
    EXPECT_NE(DescribeOpenFailure(peer.SlavePath(), r).find("busy"), std::string::npos);
    r = second.Open("/dev/kelm-no-such-port", LineSettings{});
    EXPECT_EQ(r.failure, OpenFailure::Missing);
    r = second.Open("/dev/null", LineSettings{});
    EXPECT_EQ(r.failure, OpenFailure::NotSerial);
    // Root opens anything, so the permission case is checked on its text.
    OpenResult denied;
    denied.failure = OpenFailure::Permission;
    denied.error = EACCES;
    const std::string text = DescribeOpenFailure(peer.SlavePath(), denied);
    EXPECT_NE(text.find("permission denied"), std::string::npos) << text;
    EXPECT_NE(text.find("usermod -aG"), std::string::npos) << text;
}

// Two modules at one address: the second answer follows the first. The
// bytes that came in with the reply are reported, the rest wait for the
// caller to see them.
TEST(BusClient, ASecondAnswerAfterTheReplyIsReported) {
    ScriptedPeer peer;
    BusClient client;
    ASSERT_TRUE(client.Open(peer.SlavePath(), LineSettings{}).ok());
    const ByteString first = FrameRtu(Regs(1, {3, 1, 0x52}));
    const ByteString second = FrameRtu(Regs(1, {11, 1, 0x52}));
    peer.SetScript([&](const ByteString&) {
        ByteString both = first;
        both.insert(both.end(), second.begin(), second.end());
        return std::optional<ByteString>(both);
    });
    const auto before = client.DiscardedBytes();
    const auto r = client.Transact(Read(1, 3, 3), kPatient);
    ASSERT_EQ(r.outcome, Outcome::Reply);
    EXPECT_EQ(r.body, Regs(1, {3, 1, 0x52}));
    ASSERT_LE(r.extraBytes, second.size());
    EXPECT_EQ(client.DiscardedBytes() - before, r.extraBytes);
    ASSERT_TRUE(WaitInput(client, second.size() - r.extraBytes));
    EXPECT_EQ(r.extraBytes + client.InputWaiting(), second.size());
}

TEST(BusClient, ALostPortEndsTheWait) {
    auto peer = std::make_unique<posix::Pty>();
    BusClient client;
    ASSERT_TRUE(client.Open(peer->SlavePath(), LineSettings{}).ok());
    peer->Close();  // the adaptor is pulled
    const auto r = client.Transact(Read(1, 0, 3), {20000ms, 0});
    EXPECT_EQ(r.outcome, Outcome::PortLost);
    EXPECT_FALSE(client.IsOpen());
}

}  // namespace
}  // namespace kelm::bus
