// The poller on a real master with hand-driven timers: rounds over several
// modules, the user's clicks between polls, pacing, and a closed port.
#include <gtest/gtest.h>

#include <cmath>

#include "live/TrendPoller.h"
#include "modbus/Checks.h"
#include "modbus/MasterFixture.h"
#include "modbus/ModbusMaster.h"
#include "support/ManualTimer.h"
#include "support/ModbusDoubles.h"

namespace kelm::test {
namespace {

class TrendPollerTest : public ::testing::Test {
  protected:
    RecordingSink sink;
    RecordingStatus status;
    FixedProtocol protocol{kProtocolRtu};
    ManualTimer recTimer, lineTimer, waitTimer;
    ModbusMaster master{sink, status, protocol, recTimer};
    std::int64_t now = 1000;
    TrendPoller poller{master, lineTimer, waitTimer, [this] { return now; }};
    std::vector<LiveRound> rounds;
    std::vector<std::pair<std::string, std::uint16_t>> panelCalls;

    void SetUp() override {
        poller.onRound = [this](const LiveRound& r) { rounds.push_back(r); };
        master.SetReplyHandler("KELM_8AD_Event", [this](std::uint16_t cmd, const Frame&) {
            panelCalls.emplace_back("8AD", master.State().Modbus_Reg_Addr);
            (void)cmd;
        });
        master.SetReplyHandler("KELM_16I_Event", [this](std::uint16_t, const Frame&) {
            panelCalls.emplace_back("16I", master.State().Modbus_Reg_Addr);
        });
    }
    void Receive(const ByteString& frame) {
        master.ksComm1AfterReceive(frame.data(), static_cast<std::uint32_t>(frame.size()));
        recTimer.Tick(11);
    }
    // The simulated bus answers the last frame sent.
    void Answer() {
        ASSERT_FALSE(sink.frames.empty());
        const ByteString req = sink.frames.back();
        const std::uint8_t a = req[0], fc = req[1];
        const std::uint16_t reg = static_cast<std::uint16_t>(req[2] << 8 | req[3]);
        const std::uint16_t q = static_cast<std::uint16_t>(req[4] << 8 | req[5]);
        ByteString body{a, fc};
        if (fc == 3 && reg == 6) {  // modes: KELM-8AD all +-10 V
            body.push_back(static_cast<std::uint8_t>(q * 2));
            for (int i = 0; i < q; ++i) body.insert(body.end(), {0x00, 0x31});
        } else if (fc == 4) {  // counts: CH n at 65535 + n * 6400 (n V)
            body.push_back(static_cast<std::uint8_t>(q * 2));
            for (int n = 0; n < 8; ++n) {
                const std::uint32_t c = 65535 + n * 6400;
                body.insert(body.end(),
                            {static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8),
                             static_cast<std::uint8_t>(c)});
            }
        } else if (fc == 2) {
            body.insert(body.end(), {2, 0x05, 0x80});
        } else {
            body.insert(body.end(), {1, 0});
        }
        Receive(FrameRtu(body));
    }
    void UseTwoModules() {
        poller.SetChannels({{1, "KELM-8AD", ChannelKind::AnalogIn, 0},
                            {1, "KELM-8AD", ChannelKind::AnalogIn, 3},
                            {2, "KELM-16I", ChannelKind::DigitalIn, 0},
                            {2, "KELM-16I", ChannelKind::DigitalIn, 15}});
    }
};

TEST_F(TrendPollerTest, RoundsReadEachModuleWithItsPanelsRequests) {
    UseTwoModules();
    poller.Start();
    for (int i = 0; i < 7; ++i) Answer();
    ASSERT_GE(rounds.size(), 2u);
    // First round: modes, counts, inputs; the second skips the modes.
    EXPECT_EQ(sink.frames[0], Hex("01 03 00 06 00 08 A4 0D"));
    EXPECT_EQ(sink.frames[1], Hex("01 04 00 00 00 0C F0 0F"));
    EXPECT_EQ(sink.frames[2], FrameRtu(Hex("02 02 00 00 00 10")));
    EXPECT_EQ(sink.frames[3], Hex("01 04 00 00 00 0C F0 0F"));
    const LiveRound& r = rounds[0];
    ASSERT_EQ(r.values.size(), 4u);
    EXPECT_NEAR(r.values[0], 0.0, 1e-9);
    EXPECT_NEAR(r.values[1], 3.0, 1e-9);
    EXPECT_EQ(r.values[2], 1);
    EXPECT_EQ(r.values[3], 1);
    EXPECT_EQ(r.units[0], "V");
    EXPECT_EQ(r.failed, 0);
    // No module was selected: no panel saw the polls.
    EXPECT_TRUE(panelCalls.empty());
    poller.Stop();
    EXPECT_EQ(master.Poller(), nullptr);
}

TEST_F(TrendPollerTest, SelectedModulesPanelSeesThePolledDataOnly) {
    master.State().Node_Device_ID = 1;
    master.State().Node_Device_Name = "KELM-8AD";
    UseTwoModules();
    poller.Start();
    for (int i = 0; i < 4; ++i) Answer();
    // The mode read is not shown on the panel; the data read is, as its own.
    ASSERT_EQ(panelCalls.size(), 2u);
    EXPECT_EQ(panelCalls[0], std::make_pair(std::string("8AD"), std::uint16_t{0}));
}

TEST_F(TrendPollerTest, UserClickBetweenPollsIsServedAndPollingResumes) {
    master.State().Node_Device_ID = 2;
    master.State().Node_Device_Name = "KELM-16I";
    UseTwoModules();
    poller.Start();
    ASSERT_EQ(sink.frames.size(), 1u);
    // The user asks the selected module's versions while the first poll is
    // out: held.
    master.Modbus_Send_oneWord(3, 0, 3);
    ASSERT_EQ(sink.frames.size(), 1u);
    Answer();  // the poll's reply: then the user's request goes
    ASSERT_EQ(sink.frames.size(), 2u);
    EXPECT_EQ(sink.frames[1], FrameRtu(Hex("02 03 00 00 00 03")));
    Receive(FrameRtu(Hex("02 03 06 00 0B 00 A0 00 A1")));
    ASSERT_EQ(panelCalls.size(), 1u);
    EXPECT_EQ(panelCalls[0].second, 0);
    // And the poller goes on where it was.
    ASSERT_EQ(sink.frames.size(), 3u);
    EXPECT_EQ(sink.frames[2], Hex("01 04 00 00 00 0C F0 0F"));
}

TEST_F(TrendPollerTest, IntervalPacesTheRoundsAndFailuresLeaveGaps) {
    poller.SetChannels({{1, "KELM-8AD", ChannelKind::AnalogIn, 0}});
    poller.SetIntervalMs(1000);
    poller.Start();
    Answer();  // modes
    now += 100;
    lineTimer.Tick();  // the data read gets no reply
    ASSERT_EQ(rounds.size(), 1u);
    EXPECT_TRUE(std::isnan(rounds[0].values[0]));
    EXPECT_EQ(rounds[0].failed, 1);
    // The next round waits for its time.
    EXPECT_TRUE(waitTimer.Enabled());
    EXPECT_EQ(waitTimer.Interval(), 900);
    const std::size_t sent = sink.frames.size();
    now += 900;
    waitTimer.Tick();
    EXPECT_EQ(sink.frames.size(), sent + 1);
    Answer();
    ASSERT_EQ(rounds.size(), 2u);
    EXPECT_NEAR(rounds[1].values[0], 0.0, 1e-9);
}

TEST_F(TrendPollerTest, ClosedPortStartsNoRound) {
    bool open = false;
    poller.SetPortOpen([&] { return open; });
    poller.SetChannels({{1, "KELM-8AD", ChannelKind::AnalogIn, 0}});
    poller.Start();
    EXPECT_TRUE(sink.frames.empty());
    EXPECT_TRUE(waitTimer.Enabled());
    waitTimer.Tick();
    EXPECT_TRUE(sink.frames.empty());
    open = true;
    waitTimer.Tick();
    EXPECT_EQ(sink.frames.size(), 1u);
}

}  // namespace
}  // namespace kelm::test
