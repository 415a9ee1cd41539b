// The bus and its line engine: who answers which frame under which line
// settings, broadcast answers, collisions, timing and the deferred change of
// address, format and protocol.
#include "kelm-sim/SimBus.h"

#include <gtest/gtest.h>

#include "SimTestUtil.h"
#include "kelm-sim/LineEngine.h"
#include "kelm-sim/Options.h"
#include "kelm-sim/SlaveFrame.h"

namespace kelm::sim {
namespace {

using test::Hex;
using test::Ms;
using test::PtyLine;
using test::Text;

const LineSettings k9600N2 = PtyLine(9600, 2);
constexpr Protocol kAscii = Protocol::Ascii;
const ByteString kBroadcastRead = Hex("00 03 00 03 00 03 F4 1A");

ModuleConfig Module(std::uint8_t type, std::uint8_t address, std::uint8_t format = 3,
                    Protocol p = Protocol::Rtu) {
    return ModuleConfig{type, address, format, p};
}

TEST(SimBus, WhoAnswersWhichFrame) {
    auto rtu = [](std::uint8_t a, const char* pdu) {
        return FrameReply(a, Hex(pdu), Protocol::Rtu);
    };
    const ByteString identity1 = Hex("01 03 00 00 00 03 05 CB");
    const ByteString identityReply1 = Hex("01 03 06 00 0A 00 A1 00 B3 A9 23");
    const ByteString settingsReply = Hex("00 03 06 00 03 00 01 00 52 B8 D8");
    const std::vector<ModuleConfig> even19200 = {Module(10, 1, 12)},
                                    ascii = {Module(12, 5, 3, kAscii)},
                                    ascii1200 = {Module(10, 1, 0, kAscii)}, ad = {Module(16, 1)};
    struct Case {
        std::vector<ModuleConfig> modules;
        LineSettings line;
        ByteString request, reply;  // empty reply: silence
    } cases[] = {
        {DemoModules(), k9600N2, rtu(9, "03 00 00 00 03"), {}},
        {DemoModules(), k9600N2, Text(":070300000003F3\r\n"), {}},  // ASCII to an RTU module
        // An ASCII module answers only ASCII, in ASCII.
        {ascii, k9600N2, rtu(5, "03 00 00 00 03"), {}},
        {ascii, k9600N2, Text(":050300000003F5\r\n"), Text(":050306000C00A100B392\r\n")},
        {ascii, k9600N2, Text(":05040000000BEC\r\n"), Text(":05840176\r\n")},
        // 19200 even, one stop bit: a pty shows baud and stop bits only, a real port all four.
        {even19200, PtyLine(9600, 2), identity1, {}},
        {even19200, PtyLine(19200, 2), identity1, {}},
        {even19200, PtyLine(9600, 1), identity1, {}},
        {even19200, PtyLine(19200, 1), identity1, identityReply1},
        {even19200, PtyLine(19200, 1), Hex("01 03 00 00 00 03 05 CC"), {}},  // bad CRC
        {even19200, LineSettings{19200, 1, Parity::None, 8}, identity1, {}},
        {even19200, LineSettings{19200, 1, Parity::Even, 7}, identity1, {}},
        {even19200, LineSettings{19200, 1, Parity::Even, 8}, identity1, identityReply1},
        // ASCII is seven data bits on a real port.
        {ascii1200, LineSettings{1200, 2, Parity::None, 8}, Text(":010300000003F9\r\n"), {}},
        {ascii1200, LineSettings{1200, 2, Parity::None, 7}, Text(":010300000003F9\r\n"),
         Text(":010306000A00A100B398\r\n")},
        // The broadcast settings read is answered from address 0, other broadcast reads not;
        // a module in another format stays silent and does not collide.
        {ad, k9600N2, kBroadcastRead, settingsReply},
        {ad, k9600N2, rtu(0, "03 00 00 00 03"), {}},
        {{Module(16, 1), Module(13, 2, 4)}, k9600N2, kBroadcastRead, settingsReply},
        {{Module(16, 5, 12, kAscii)},
         PtyLine(19200, 1),
         Text(":000300030003F7\r\n"),
         Text(":000306000C00050041A5\r\n")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(HexBytes(c.request) + " at " + DescribeLine(c.line));
        SimBus bus(c.modules, SimTime{0});
        EXPECT_EQ(bus.OnFrame(c.request, c.line, SimTime{0}).reply, c.reply);
    }
}

TEST(SimBus, BroadcastsReachEveryModuleInTheLinesFormat) {
    SimBus bus({Module(16, 1), Module(13, 2)}, SimTime{0});
    const BusResult r = bus.OnFrame(kBroadcastRead, k9600N2, SimTime{0});
    EXPECT_EQ(r.answeredBy.size(), 2u);
    EXPECT_EQ(r.reply.size(), 22u);
    EXPECT_FALSE(ParseRtuRequest(r.reply));  // two answers collide: the master sees garbage
    // Writes are carried out silently.
    SimBus relays({Module(13, 1), Module(13, 2)}, SimTime{0});
    EXPECT_TRUE(
        relays.OnFrame(FrameReply(0, Hex("05 00 02 FF 00"), Protocol::Rtu), k9600N2, SimTime{0})
            .reply.empty());
    EXPECT_TRUE(relays.modules()[0].Coil(2, SimTime{0}));
    EXPECT_TRUE(relays.modules()[1].Coil(2, SimTime{0}));
}

// A bus behind a port that records what the engine writes and what it is told.
struct Line : LinePort {
    explicit Line(std::vector<ModuleConfig> modules, int delayMs = 0,
                  LineEngine::LogSink log = nullptr)
        : bus(modules, SimTime{0}), engine(bus, *this, std::chrono::milliseconds(delayMs), log) {}
    LineSettings Settings() override { return line; }
    bool Write(const ByteString& bytes) override {
        written.push_back(bytes);
        return true;
    }
    void FollowModule(std::uint8_t format, Protocol protocol) override {
        followed.emplace_back(format, protocol);
    }
    void Send(const ByteString& bytes, SimTime t) { engine.OnBytes(bytes.data(), bytes.size(), t); }
    // One request and whatever answer follows within 100 ms.
    ByteString Exchange(const ByteString& request, SimTime t) {
        written.clear();
        Send(request, t);
        engine.OnTimer(t + Ms(100));
        return written.empty() ? ByteString{} : written[0];
    }

    LineSettings line = PtyLine(9600, 2);
    std::vector<ByteString> written;
    std::vector<std::pair<std::uint8_t, Protocol>> followed;
    SimBus bus;
    LineEngine engine;
};

TEST(LineEngine, AFrameEndsAfterSilenceAndTheReplyFollowsAfterTheDelay) {
    std::vector<std::string> log;
    Line l({Module(10, 1)}, 25, [&](const std::string& s) { log.push_back(s); });
    EXPECT_FALSE(l.engine.NextDeadline());
    const ByteString req = Hex("01 03 00 00 00 03 05 CB");
    l.engine.OnBytes(req.data(), 3, Ms(100));
    l.engine.OnBytes(req.data() + 3, 5, Ms(105));  // a pause shorter than the silence
    EXPECT_EQ(l.engine.NextDeadline(), Ms(115));
    l.engine.OnTimer(Ms(114));
    EXPECT_EQ(l.engine.framesHeard(), 0u);
    l.engine.OnTimer(Ms(115));
    EXPECT_EQ(l.engine.framesHeard(), 1u);
    EXPECT_EQ(l.engine.NextDeadline(), Ms(140));
    l.engine.OnTimer(Ms(139));
    EXPECT_TRUE(l.written.empty());
    l.engine.OnTimer(Ms(140));
    EXPECT_EQ(l.written, std::vector<ByteString>{Hex("01 03 06 00 0A 00 A1 00 B3 A9 23")});
    EXPECT_FALSE(l.engine.NextDeadline());
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log.front(), "rx 01 03 00 00 00 03 05 CB");
    EXPECT_EQ(log.back(), "tx 01 03 06 00 0A 00 A1 00 B3 A9 23");
    // 3.5 characters of 11 bits, but never under the floor.
    EXPECT_EQ(FrameSilence(1200), SimTime{32083});
    EXPECT_EQ(FrameSilence(2400), SimTime{16041});
    EXPECT_EQ(FrameSilence(9600), kMinSilence);
}

TEST(LineEngine, APauseSplitsAFrameAndEndlessBytesAreDropped) {
    Line l({Module(10, 1)});
    const ByteString req = Hex("01 03 00 00 00 03 05 CB");
    l.engine.OnBytes(req.data(), 4, Ms(0));
    l.engine.OnTimer(Ms(50));
    l.engine.OnBytes(req.data() + 4, 4, Ms(60));
    l.engine.OnTimer(Ms(100));
    EXPECT_EQ(l.engine.framesHeard(), 2u);
    EXPECT_TRUE(l.written.empty());  // neither half is answered
    const ByteString noise(600, 0x55);
    l.Send(noise, Ms(200));
    l.Send(noise, Ms(201));
    l.engine.OnTimer(Ms(250));
    // What follows the dropped noise is a frame of its own again.
    EXPECT_EQ(l.Exchange(req, Ms(260)), Hex("01 03 06 00 0A 00 A1 00 B3 A9 23"));
}

TEST(LineEngine, NewSettingsAreAcknowledgedUnderTheOldOnesAndThenApplied) {
    Line l({Module(16, 1)}, 5);
    // Address 5, 19200 even 1 stop, ASCII, written to address 1 in RTU at 9600.
    EXPECT_EQ(l.Exchange(Hex("01 10 00 03 00 03 06 00 0C 00 05 00 41 D6 BF"), Ms(0)),
              Hex("01 10 00 03 00 03 70 08"));
    EXPECT_EQ(l.followed, (std::vector<std::pair<std::uint8_t, Protocol>>{{12, kAscii}}));
    EXPECT_EQ(l.bus.modules()[0].address(), 5);
    // The old address, format and protocol no longer reach it.
    EXPECT_TRUE(l.Exchange(Hex("01 03 00 00 00 03 05 CB"), Ms(1000)).empty());
    EXPECT_TRUE(l.Exchange(Text(":050300000003F5\r\n"), Ms(2000)).empty());  // still 9600/2
    l.line = PtyLine(19200, 1);
    EXPECT_EQ(l.Exchange(Text(":050300000003F5\r\n"), Ms(3000)), Text(":050306001000A100B38E\r\n"));
    EXPECT_EQ(l.Exchange(Text(":000300030003F7\r\n"), Ms(4000)), Text(":000306000C00050041A5\r\n"));
}

}  // namespace
}  // namespace kelm::sim
