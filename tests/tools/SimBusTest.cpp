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

ModuleConfig Module(std::uint8_t type, std::uint8_t address, std::uint8_t format = 3,
                    Protocol p = Protocol::Rtu) {
    return ModuleConfig{type, address, format, p};
}

TEST(SimBus, TheDemoBusAnswersEachAddressWithItsModel) {
    SimBus bus(DemoModules(), SimTime{0});
    ASSERT_EQ(bus.modules().size(), 8u);
    for (std::uint8_t a = 1; a <= 8; ++a) {
        const ByteString req = FrameReply(a, Hex("03 00 00 00 03"), Protocol::Rtu);
        const BusResult r = bus.OnFrame(req, k9600N2, SimTime{0});
        ASSERT_EQ(r.answeredBy.size(), 1u) << int(a);
        const std::optional<Request> reply = ParseRtuRequest(r.reply);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->address, a);
        ASSERT_EQ(reply->pdu.size(), 8u);
        EXPECT_EQ(reply->pdu[3], 9 + a);  // type codes 10..17 in order
    }
    EXPECT_EQ(bus.OnFrame(Hex("03 03 00 00 00 03 04 29"), k9600N2, SimTime{0}).reply,
              Hex("03 03 06 00 0C 00 A1 00 B3 38 43"));
}

TEST(SimBus, FramesThatAreNotForAModuleGetNoAnswer) {
    SimBus bus(DemoModules(), SimTime{0});
    EXPECT_TRUE(bus.OnFrame(Hex("03 03 00 00 00 03 04 2A"), k9600N2, SimTime{0}).reply.empty());
    EXPECT_TRUE(bus.OnFrame(Hex("07 03 00 00 00 03 05 AD"), k9600N2, SimTime{0}).reply.size() >
                0);  // the KELM-8AD is at 7 on the demo bus
    EXPECT_TRUE(
        bus.OnFrame(FrameReply(9, Hex("03 00 00 00 03"), Protocol::Rtu), k9600N2, SimTime{0})
            .reply.empty());
    // An RTU module does not answer the same request in ASCII.
    const BusResult ascii = bus.OnFrame(Text(":070300000003F3\r\n"), k9600N2, SimTime{0});
    EXPECT_TRUE(ascii.reply.empty());
    ASSERT_FALSE(ascii.notes.empty());
}

TEST(SimBus, AnAsciiModuleAnswersOnlyAsciiRequestsInAscii) {
    SimBus bus({Module(12, 5, 3, Protocol::Ascii)}, SimTime{0});
    EXPECT_TRUE(
        bus.OnFrame(FrameReply(5, Hex("03 00 00 00 03"), Protocol::Rtu), k9600N2, SimTime{0})
            .reply.empty());
    EXPECT_EQ(bus.OnFrame(Text(":050300000003F5\r\n"), k9600N2, SimTime{0}).reply,
              Text(":050306000C00A100B392\r\n"));
    EXPECT_EQ(bus.OnFrame(Text(":05040000000BEC\r\n"), k9600N2, SimTime{0}).reply,
              Text(":05840176\r\n"));
}

TEST(SimBus, AModuleHearsOnlyALineInItsFormat) {
    // 19200 baud, even parity, one stop bit.
    SimBus bus({Module(10, 1, 12)}, SimTime{0});
    const ByteString req = Hex("01 03 00 00 00 03 05 CB");
    EXPECT_TRUE(bus.OnFrame(req, PtyLine(9600, 2), SimTime{0}).reply.empty());
    EXPECT_TRUE(bus.OnFrame(req, PtyLine(19200, 2), SimTime{0}).reply.empty());
    EXPECT_TRUE(bus.OnFrame(req, PtyLine(9600, 1), SimTime{0}).reply.empty());
    EXPECT_EQ(bus.OnFrame(req, PtyLine(19200, 1), SimTime{0}).reply,
              Hex("01 03 06 00 0A 00 A1 00 B3 A9 23"));
    // On a real port parity and data bits are known and compared as well.
    EXPECT_TRUE(
        bus.OnFrame(req, LineSettings{19200, 1, Parity::None, 8}, SimTime{0}).reply.empty());
    EXPECT_TRUE(
        bus.OnFrame(req, LineSettings{19200, 1, Parity::Even, 7}, SimTime{0}).reply.empty());
    EXPECT_FALSE(
        bus.OnFrame(req, LineSettings{19200, 1, Parity::Even, 8}, SimTime{0}).reply.empty());
}

TEST(SimBus, TheBroadcastSettingsReadIsAnsweredFromAddressZero) {
    SimBus bus({Module(16, 1)}, SimTime{0});
    EXPECT_EQ(bus.OnFrame(Hex("00 03 00 03 00 03 F4 1A"), k9600N2, SimTime{0}).reply,
              Hex("00 03 06 00 03 00 01 00 52 B8 D8"));
    SimBus ascii({Module(16, 5, 12, Protocol::Ascii)}, SimTime{0});
    EXPECT_EQ(ascii.OnFrame(Text(":000300030003F7\r\n"), PtyLine(19200, 1), SimTime{0}).reply,
              Text(":000306000C00050041A5\r\n"));
    // Other broadcast reads get no answer.
    EXPECT_TRUE(
        bus.OnFrame(FrameReply(0, Hex("03 00 00 00 03"), Protocol::Rtu), k9600N2, SimTime{0})
            .reply.empty());
}

TEST(SimBus, SeveralModulesAnsweringABroadcastCollide) {
    SimBus bus({Module(16, 1), Module(13, 2)}, SimTime{0});
    const BusResult r = bus.OnFrame(Hex("00 03 00 03 00 03 F4 1A"), k9600N2, SimTime{0});
    EXPECT_EQ(r.answeredBy.size(), 2u);
    EXPECT_EQ(r.reply.size(), 22u);
    EXPECT_FALSE(ParseRtuRequest(r.reply));  // the master sees garbage
    // A module in another format stays silent and does not collide.
    SimBus mixed({Module(16, 1), Module(13, 2, 4)}, SimTime{0});
    EXPECT_EQ(mixed.OnFrame(Hex("00 03 00 03 00 03 F4 1A"), k9600N2, SimTime{0}).reply,
              Hex("00 03 06 00 03 00 01 00 52 B8 D8"));
}

TEST(SimBus, BroadcastWritesAreCarriedOutSilently) {
    SimBus bus({Module(13, 1), Module(13, 2)}, SimTime{0});
    const BusResult r =
        bus.OnFrame(FrameReply(0, Hex("05 00 02 FF 00"), Protocol::Rtu), k9600N2, SimTime{0});
    EXPECT_TRUE(r.reply.empty());
    EXPECT_TRUE(bus.modules()[0].Coil(2, SimTime{0}));
    EXPECT_TRUE(bus.modules()[1].Coil(2, SimTime{0}));
}

// A port that records what the engine writes and what it is told.
class FakePort : public LinePort {
  public:
    LineSettings Settings() override { return line; }
    bool Write(const ByteString& bytes) override {
        written.push_back(bytes);
        return true;
    }
    void FollowModule(std::uint8_t format, Protocol protocol) override {
        followed.emplace_back(format, protocol);
    }

    LineSettings line = PtyLine(9600, 2);
    std::vector<ByteString> written;
    std::vector<std::pair<std::uint8_t, Protocol>> followed;
};

TEST(LineEngine, AFrameEndsAfterSilenceAndTheReplyFollowsAfterTheDelay) {
    SimBus bus({Module(10, 1)}, SimTime{0});
    FakePort port;
    std::vector<std::string> log;
    LineEngine engine(bus, port, std::chrono::milliseconds(25),
                      [&](const std::string& l) { log.push_back(l); });
    EXPECT_FALSE(engine.NextDeadline());
    const ByteString req = Hex("01 03 00 00 00 03 05 CB");
    engine.OnBytes(req.data(), 3, Ms(100));
    engine.OnBytes(req.data() + 3, 5, Ms(105));  // a pause shorter than the silence
    ASSERT_TRUE(engine.NextDeadline());
    EXPECT_EQ(*engine.NextDeadline(), Ms(115));
    engine.OnTimer(Ms(114));
    EXPECT_EQ(engine.framesHeard(), 0u);
    engine.OnTimer(Ms(115));
    EXPECT_EQ(engine.framesHeard(), 1u);
    EXPECT_TRUE(port.written.empty());
    ASSERT_TRUE(engine.NextDeadline());
    EXPECT_EQ(*engine.NextDeadline(), Ms(140));
    engine.OnTimer(Ms(139));
    EXPECT_TRUE(port.written.empty());
    engine.OnTimer(Ms(140));
    ASSERT_EQ(port.written.size(), 1u);
    EXPECT_EQ(port.written[0], Hex("01 03 06 00 0A 00 A1 00 B3 A9 23"));
    EXPECT_FALSE(engine.NextDeadline());
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log.front(), "rx 01 03 00 00 00 03 05 CB");
    EXPECT_EQ(log.back(), "tx 01 03 06 00 0A 00 A1 00 B3 A9 23");
}

TEST(LineEngine, APauseInsideAFrameSplitsItAndNeitherHalfIsAnswered) {
    SimBus bus({Module(10, 1)}, SimTime{0});
    FakePort port;
    LineEngine engine(bus, port, std::chrono::milliseconds(0), nullptr);
    const ByteString req = Hex("01 03 00 00 00 03 05 CB");
    engine.OnBytes(req.data(), 4, Ms(0));
    engine.OnTimer(Ms(50));
    engine.OnBytes(req.data() + 4, 4, Ms(60));
    engine.OnTimer(Ms(100));
    EXPECT_EQ(engine.framesHeard(), 2u);
    EXPECT_TRUE(port.written.empty());
}

TEST(LineEngine, EndlessBytesWithoutAPauseAreDropped) {
    SimBus bus({Module(10, 1)}, SimTime{0});
    FakePort port;
    LineEngine engine(bus, port, std::chrono::milliseconds(0), nullptr);
    const ByteString noise(600, 0x55);
    engine.OnBytes(noise.data(), noise.size(), Ms(0));
    engine.OnBytes(noise.data(), noise.size(), Ms(1));
    // What follows the dropped noise is a frame of its own again.
    const ByteString req = Hex("01 03 00 00 00 03 05 CB");
    engine.OnTimer(Ms(50));
    engine.OnBytes(req.data(), req.size(), Ms(60));
    engine.OnTimer(Ms(100));
    ASSERT_EQ(port.written.size(), 1u);
}

TEST(LineEngine, NewSettingsAreAcknowledgedUnderTheOldOnesAndThenApplied) {
    SimBus bus({Module(16, 1)}, SimTime{0});
    FakePort port;
    LineEngine engine(bus, port, std::chrono::milliseconds(5), nullptr);
    auto exchange = [&](const ByteString& req, SimTime t) {
        port.written.clear();
        engine.OnBytes(req.data(), req.size(), t);
        engine.OnTimer(t + Ms(100));
        return port.written.empty() ? ByteString{} : port.written[0];
    };
    // Address 5, 19200 even 1 stop, ASCII, written to address 1 in RTU at 9600.
    EXPECT_EQ(exchange(Hex("01 10 00 03 00 03 06 00 0C 00 05 00 41 D6 BF"), Ms(0)),
              Hex("01 10 00 03 00 03 70 08"));
    ASSERT_EQ(port.followed.size(), 1u);
    EXPECT_EQ(port.followed[0].first, 12);
    EXPECT_EQ(port.followed[0].second, Protocol::Ascii);
    EXPECT_EQ(bus.modules()[0].address(), 5);
    // The old address, format and protocol no longer reach it.
    EXPECT_TRUE(exchange(Hex("01 03 00 00 00 03 05 CB"), Ms(1000)).empty());
    EXPECT_TRUE(exchange(Text(":050300000003F5\r\n"), Ms(2000)).empty());  // still 9600/2
    port.line = PtyLine(19200, 1);
    EXPECT_EQ(exchange(Text(":050300000003F5\r\n"), Ms(3000)), Text(":050306001000A100B38E\r\n"));
    EXPECT_EQ(exchange(Text(":000300030003F7\r\n"), Ms(4000)), Text(":000306000C00050041A5\r\n"));
}

TEST(LineEngine, SilenceFollowsTheBaudRateAboveTheFloor) {
    EXPECT_EQ(FrameSilence(1200), SimTime{32083});
    EXPECT_EQ(FrameSilence(2400), SimTime{16041});
    EXPECT_EQ(FrameSilence(9600), kMinSilence);
    EXPECT_EQ(FrameSilence(115200), kMinSilence);
}

}  // namespace
}  // namespace kelm::sim
