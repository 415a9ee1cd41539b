// Receiving, end of frame, validation and routing of replies.
#include <memory>
#include <numeric>
#include <stdexcept>

#include "MasterFixture.h"

namespace kelm::test {
namespace {

const std::string kReplyOk = "当前终端通讯响应正常!";
// Identity reply: type 10, hardware 0xA0, software 0xA1.
const ByteString kIdentity{0x01, 0x03, 0x06, 0x00, 0x0A, 0x00, 0xA0, 0x00, 0xA1};

// A read reply from `address` of exactly `total` wire bytes (RTU, CRC included).
ByteString RtuOfLength(std::uint8_t address, std::size_t total) {
    ByteString body(total - 2);
    std::iota(body.begin(), body.end(), 0x40);
    body[0] = address;
    body[1] = 0x03;
    body[2] = static_cast<std::uint8_t>(total - 5);
    return FrameRtu(body);
}

// --- end of frame -------------------------------------------------------------

TEST_F(RoutingTest, ElevenSilentTicksEndAFrame) {
    Select(1, "KELM-8I8T");
    Deliver(FrameRtu({0x01, 0x06, 0x00, 0x08, 0x0F, 0xA0}));
    EXPECT_TRUE(recTimer.Enabled());
    EXPECT_EQ(recTimer.Tick(10), 10);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(st.Recv_Timer_Count, 10);
    EXPECT_TRUE(recTimer.Tick());
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].handler, "KELM_8I8T_Event");
    EXPECT_EQ(calls[0].command, 6);
    EXPECT_EQ(calls[0].pbuf, (ByteString{0x01, 0x06, 0x00, 0x08, 0x0F, 0xA0}));
    EXPECT_TRUE(Idle());
}

TEST_F(RoutingTest, PiecesWithinTheSilenceTimeMakeOneFrame) {
    Select(1, "KELM-8I8T");
    const ByteString wire = FrameRtu(kIdentity);
    for (std::size_t i = 0; i < wire.size(); ++i) {
        Deliver({wire[i]});
        EXPECT_EQ(st.Recv_Timer_Count, 0);
        recTimer.Tick(10);
    }
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(recTimer.Starts(), 1);  // re-enabling did not restart the timer
    recTimer.Tick();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].pbuf, kIdentity);
}

TEST_F(RoutingTest, AGapOfElevenTicksSplitsAReplyAndBothHalvesFail) {
    Select(1, "KELM-8I8T");
    const ByteString wire = FrameRtu(kIdentity);
    Receive(ByteString(wire.begin(), wire.begin() + 6));
    Receive(ByteString(wire.begin() + 6, wire.end()));
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(master.DroppedFrames(), 2u);
    EXPECT_TRUE(status.history.empty());
    EXPECT_TRUE(Idle());
}

TEST_F(RoutingTest, TwoRepliesRunTogetherAreDropped) {
    Select(1, "KELM-8I8T");
    ByteString two = FrameRtu(kIdentity);
    const ByteString second = FrameRtu({0x01, 0x05, 0x00, 0x00, 0xFF, 0x00});
    two.insert(two.end(), second.begin(), second.end());
    Receive(two);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(master.DroppedFrames(), 1u);
    // The next reply on its own is handled.
    Receive(second);
    EXPECT_EQ(calls.size(), 1u);
}

TEST_F(RoutingTest, FrameLengthLimitsInRtu) {
    Select(1, "KELM-8AD");
    Receive(ByteString{0x01, 0x83, 0x02, 0xC0});  // 4 bytes
    EXPECT_TRUE(calls.empty());
    Receive(FrameRtu({0x01, 0x83, 0x02}));  // 5 bytes: an exception reply
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].command, 0x83);
    EXPECT_EQ(calls[0].pbuf.size(), 3u);
    Receive(RtuOfLength(1, 256));
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].pbuf.size(), 254u);
    Receive(RtuOfLength(1, 257));
    EXPECT_EQ(calls.size(), 2u);
    EXPECT_EQ(master.DroppedFrames(), 2u);
    EXPECT_TRUE(Idle());
}

TEST_F(RoutingTest, FrameLengthLimitsInAscii) {
    protocol.index = kProtocolAscii;
    Select(1, "KELM-8AD");
    Receive(Text(":00\r"));  // 4 characters
    EXPECT_TRUE(calls.empty());
    // 5 characters hold one byte; "01" fails its LRC of nothing, "00" is address 0.
    Receive(Text(":01\r\n"));
    EXPECT_EQ(master.DroppedFrames(), 2u);
    // 255 characters: 126 bytes, the longest ASCII reply that fits.
    ByteString body(125, 0x11);
    body[0] = 0x01;
    body[1] = 0x04;
    ByteString wire = FrameAscii(body);
    ASSERT_EQ(wire.size(), 255u);
    Receive(wire);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].pbuf.size(), 126u);
    EXPECT_EQ(calls[0].pbuf.back(), 0x00);
    // 256 characters leave an odd hex count; 257 are over the limit.
    wire.insert(wire.begin() + 1, '0');
    Receive(wire);
    body.push_back(0x22);
    wire = FrameAscii(body);
    ASSERT_EQ(wire.size(), 257u);
    Receive(wire);
    EXPECT_EQ(calls.size(), 1u);
    EXPECT_EQ(master.DroppedFrames(), 4u);
}

TEST_F(RoutingTest, EmptyDeliveryAppendsNothingAndEndsIdle) {
    master.ksComm1AfterReceive(nullptr, 12);
    master.ksComm1AfterReceive(kIdentity.data(), 0);
    EXPECT_TRUE(st.Recv_Str.empty());
    EXPECT_TRUE(recTimer.Enabled());
    EndOfFrame();
    EXPECT_TRUE(Idle());
    EXPECT_TRUE(calls.empty());
}

TEST_F(RoutingTest, ABabblingLineCannotGrowTheBuffer) {
    Select(1, "KELM-8I8T");
    ByteString noise(1000, 0x55);
    for (int i = 0; i < 200; ++i) {
        Deliver(noise);
        recTimer.Tick(5);
        ASSERT_LE(st.Recv_Str.size(), 257u);
    }
    recTimer.Tick(6);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(master.DroppedFrames(), 1u);
    EXPECT_TRUE(Idle());
    Receive(FrameRtu(kIdentity));
    EXPECT_EQ(calls.size(), 1u);
}

// --- validation ------------------------------------------------------------------

TEST_F(RoutingTest, WrongCrcChangesNothingNotEvenTheStatusText) {
    Select(1, "KELM-8I8T");
    ByteString wire = FrameRtu(kIdentity);
    wire.back() ^= 0x01;
    Receive(wire);
    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(status.history.empty());
    EXPECT_TRUE(Idle());
}

TEST_F(RoutingTest, AsciiReplyKeepsTheLrcPositionAsZero) {
    protocol.index = kProtocolAscii;
    st.Scan_Device_Flag = true;
    Receive(FrameAscii(kIdentity));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].handler, "Disposal_Modbus03_Scandevice");
    ByteString expected = kIdentity;
    expected.push_back(0x00);
    EXPECT_EQ(calls[0].pbuf, expected);
    EXPECT_EQ(status.Text(0), kReplyOk);
}

TEST_F(RoutingTest, AsciiLowerCaseAcceptedBadCharacterDropped) {
    protocol.index = kProtocolAscii;
    Select(1, "KELM-8RY");
    Receive(Text(":01050000ff00fb\r\n"));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].handler, "KELM_8R_Event");
    EXPECT_EQ(calls[0].command, 5);
    Receive(Text(":0105000GFF00FB\r\n"));
    EXPECT_EQ(calls.size(), 1u);
    EXPECT_EQ(master.DroppedFrames(), 1u);
}

TEST_F(RoutingTest, ReplyIsJudgedInTheProtocolSelectedAtEndOfFrame) {
    Select(1, "KELM-8RY");
    Receive(FrameAscii({0x01, 0x05, 0x00, 0x00, 0xFF, 0x00}));  // host is on RTU
    protocol.index = kProtocolAscii;
    Receive(FrameRtu({0x01, 0x05, 0x00, 0x00, 0xFF, 0x00}));
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(master.DroppedFrames(), 2u);
}

TEST_F(RoutingTest, NoProtocolSelectedDropsEverything) {
    protocol.index = -1;
    Select(1, "KELM-8RY");
    Receive(FrameRtu({0x01, 0x05, 0x00, 0x00, 0xFF, 0x00}));
    Receive(FrameAscii({0x01, 0x05, 0x00, 0x00, 0xFF, 0x00}));
    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(status.history.empty());
}

// --- routing -------------------------------------------------------------------------

TEST_F(RoutingTest, ScanTakesIdentityRepliesFromAnyAddress) {
    Select(1, "KELM-8I8T");
    st.Scan_Device_Flag = true;
    for (std::uint8_t addr : {1, 0, 200, 247}) {
        ByteString body = kIdentity;
        body[0] = addr;
        Receive(FrameRtu(body));
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.back().handler, "Disposal_Modbus03_Scandevice");
        EXPECT_EQ(calls.back().pbuf, body);
    }
    EXPECT_EQ(calls.size(), 4u);
    EXPECT_EQ(status.Text(0), kReplyOk);
}

TEST_F(RoutingTest, ScanRowNeedsEveryCondition) {
    Select(1, "KELM-8I8T");
    // No scan running: the selected module's handler gets the identity reply.
    Receive(FrameRtu(kIdentity));
    st.Scan_Device_Flag = true;
    // Another start register.
    st.Modbus_Reg_Addr = 3;
    Receive(FrameRtu(kIdentity));
    st.Modbus_Reg_Addr = 0;
    // Another function code, another byte count.
    ByteString f4 = kIdentity;
    f4[1] = 4;
    Receive(FrameRtu(f4));
    ByteString count4{0x01, 0x03, 0x04, 0x00, 0x0A, 0x00, 0xA0};
    Receive(FrameRtu(count4));
    ASSERT_EQ(calls.size(), 4u);
    for (const Call& c : calls) EXPECT_EQ(c.handler, "KELM_8I8T_Event");
}

TEST_F(RoutingTest, LinkCheckReplyStopsItsTimerThenRunsItsHandler) {
    const ByteString reply{0x00, 0x03, 0x06, 0x00, 0x03, 0x00, 0x05, 0x00, 0x52};
    st.Modbus_Reg_Addr = 3;
    checkTimer.SetEnabled(true);
    Receive(FrameRtu(reply));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].handler, "Disposal_Modbus03_checkcom");
    EXPECT_EQ(calls[0].pbuf, reply);
    EXPECT_FALSE(checkTimer.Enabled());
}

TEST_F(RoutingTest, LinkCheckReplyWhileRegisterIsNoLongerThreeIsIgnored) {
    const ByteString reply{0x00, 0x03, 0x06, 0x00, 0x03, 0x00, 0x05, 0x00, 0x52};
    st.Modbus_Reg_Addr = 0;
    checkTimer.SetEnabled(true);
    Receive(FrameRtu(reply));
    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(checkTimer.Enabled());  // the detection loop goes on
}

TEST_F(RoutingTest, AnyOtherReplyFromAddressZeroGoesNowhere) {
    // Even with nothing selected (address 0) and a model name set.
    Select(0, "KELM-8I8T");
    st.Modbus_Reg_Addr = 3;
    checkTimer.SetEnabled(true);
    Receive(FrameRtu({0x00, 0x03, 0x04, 0x00, 0x03, 0x00, 0x05}));  // byte count 4
    Receive(FrameRtu({0x00, 0x06, 0x00, 0x03, 0x00, 0x05}));
    Receive(FrameRtu({0x00, 0x83, 0x02}));
    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(checkTimer.Enabled());
    EXPECT_EQ(master.UnroutedFrames(), 3u);
}

TEST_F(RoutingTest, EveryModelRoutesToItsHandler) {
    const std::pair<const char*, const char*> rows[] = {
        {"KELM-8I8T", "KELM_8I8T_Event"}, {"KELM-16I", "KELM_16I_Event"},
        {"KELM-16T", "KELM_16T_Event"},   {"KELM-8RY", "KELM_8R_Event"},
        {"KELM-2AO", "KELM_2AO_Event"},   {"KELM-8AD", "KELM_8AD_Event"},
        {"KELM-8AS", "KELM_8AS_Event"},   {"KELM-8ASP", "KELM_8AS_Event"},
    };
    for (const auto& [model, handler] : rows) {
        for (int proto : {kProtocolRtu, kProtocolAscii}) {
            calls.clear();
            protocol.index = proto;
            Select(130, model);
            const ByteString body{130, 0x01, 0x01, 0xA5};
            Receive(Wire(body));
            ASSERT_EQ(calls.size(), 1u) << model;
            EXPECT_EQ(calls[0].handler, handler);
            EXPECT_EQ(calls[0].command, 1);
            ByteString expected = body;
            if (proto == kProtocolAscii) expected.push_back(0x00);
            EXPECT_EQ(calls[0].pbuf, expected);
        }
    }
}

TEST_F(RoutingTest, OtherAddressOrUnknownModelIsDroppedAfterTheStatusText) {
    Select(5, "KELM-16T");
    Receive(FrameRtu({0x07, 0x06, 0x00, 0x01, 0x00, 0x02}));
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(status.Text(0), kReplyOk);
    Select(7, "KELM-99X");
    Receive(FrameRtu({0x07, 0x06, 0x00, 0x01, 0x00, 0x02}));
    Select(7, "");
    Receive(FrameRtu({0x07, 0x06, 0x00, 0x01, 0x00, 0x02}));
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(master.UnroutedFrames(), 3u);
    EXPECT_TRUE(Idle());
}

TEST_F(RoutingTest, BeforeAnySelectionEveryNonZeroAddressIsIgnored) {
    for (int addr : {1, 5, 127, 128, 247, 255}) {
        Receive(FrameRtu({static_cast<std::uint8_t>(addr), 0x03, 0x02, 0x00, 0x01}));
    }
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(master.UnroutedFrames(), 6u);
    // Requests meanwhile go to address 0.
    master.Modbus_Send_oneWord(3, 0, 3);
    EXPECT_EQ(sink.frames.at(0).at(0), 0x00);
}

TEST_F(RoutingTest, ExceptionRepliesReachTheModelHandler) {
    Select(3, "KELM-2AO");
    Receive(FrameRtu({0x03, 0x86, 0x02}));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].handler, "KELM_2AO_Event");
    EXPECT_EQ(calls[0].command, 0x86);
}

// --- registration ---------------------------------------------------------------

TEST_F(MasterTest, UnregisteredHandlerDropsTheFrame) {
    Select(1, "KELM-16I");
    st.Scan_Device_Flag = true;
    Receive(FrameRtu(kIdentity));  // scan row, no scan handler
    st.Scan_Device_Flag = false;
    Receive(FrameRtu({0x01, 0x02, 0x02, 0xFF, 0x00}));  // model row, no model handler
    st.Modbus_Reg_Addr = 3;
    Receive(FrameRtu({0x00, 0x03, 0x06, 0, 3, 0, 5, 0, 0x52}));  // link check row
    EXPECT_EQ(master.UnroutedFrames(), 3u);
    EXPECT_TRUE(Idle());
}

TEST_F(MasterTest, HandlerNamesAreCheckedAndCanBeCleared) {
    int hits = 0;
    EXPECT_FALSE(master.SetReplyHandler("KELM_8RY_Event", [&](auto, const Frame&) { ++hits; }));
    EXPECT_FALSE(master.SetReplyHandler("", [&](auto, const Frame&) { ++hits; }));
    EXPECT_TRUE(master.SetReplyHandler("KELM_8R_Event", [&](auto, const Frame&) { ++hits; }));
    Select(2, "KELM-8RY");
    Receive(FrameRtu({0x02, 0x01, 0x01, 0x0F}));
    EXPECT_EQ(hits, 1);
    EXPECT_TRUE(master.SetReplyHandler("KELM_8R_Event", nullptr));
    Receive(FrameRtu({0x02, 0x01, 0x01, 0x0F}));
    EXPECT_EQ(hits, 1);
    EXPECT_EQ(master.UnroutedFrames(), 1u);
}

TEST_F(MasterTest, RecvFlagShutsOutDeliveriesWhileAHandlerRuns) {
    Select(4, "KELM-8AD");
    int calls = 0;
    master.SetReplyHandler("KELM_8AD_Event", [&](std::uint16_t, const Frame& f) {
        ++calls;
        EXPECT_TRUE(st.Recv_Flag);
        EXPECT_FALSE(recTimer.Enabled());
        // A modal box keeps the message loop running: a reply arrives meanwhile.
        const ByteString late = FrameRtu({0x04, 0x06, 0x00, 0x01, 0x00, 0x01});
        Deliver(late);
        EXPECT_FALSE(recTimer.Enabled());
        EXPECT_EQ(st.Recv_Timer_Count, 0);
        // The frame handed over is the handler's own, unaffected by the buffer.
        EXPECT_EQ(f.size(), 3u);
    });
    Receive(FrameRtu({0x04, 0x83, 0x02}));
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(Idle());
    // Nothing of the late reply was kept; the next reply is received normally.
    EndOfFrame();
    EXPECT_EQ(calls, 1);
    Receive(FrameRtu({0x04, 0x83, 0x03}));
    EXPECT_EQ(calls, 2);
}

TEST_F(MasterTest, AHandlerMaySendTheNextRequest) {
    Select(4, "KELM-8AD");
    master.SetReplyHandler("KELM_8AD_Event", [&](std::uint16_t, const Frame&) {
        master.Modbus_Send_oneWord(3, 6, 2);
    });
    Receive(FrameRtu({0x04, 0x06, 0x00, 0x01, 0x00, 0x01}));
    ASSERT_EQ(sink.frames.size(), 1u);
    EXPECT_EQ(st.Modbus_Reg_Addr, 6);
    EXPECT_TRUE(Idle());
}

TEST_F(MasterTest, AThrowingHandlerStillLeavesTheReceiverIdle) {
    Select(4, "KELM-8AD");
    master.SetReplyHandler("KELM_8AD_Event",
                           [](std::uint16_t, const Frame&) { throw std::runtime_error("x"); });
    Deliver(FrameRtu({0x04, 0x83, 0x02}));
    EXPECT_THROW(EndOfFrame(), std::runtime_error);
    EXPECT_TRUE(Idle());
    int hits = 0;
    master.SetReplyHandler("KELM_8AD_Event", [&](std::uint16_t, const Frame&) { ++hits; });
    Receive(FrameRtu({0x04, 0x83, 0x02}));
    EXPECT_EQ(hits, 1);
}

TEST_F(MasterTest, AHandlerMayReplaceItselfWhileRunning) {
    Select(4, "KELM-8AD");
    auto owned = std::make_shared<int>(0);
    master.SetReplyHandler("KELM_8AD_Event", [&, owned](std::uint16_t, const Frame&) {
        master.SetReplyHandler("KELM_8AD_Event", nullptr);
        ++*owned;  // still valid: the dispatcher runs a copy
    });
    Receive(FrameRtu({0x04, 0x83, 0x02}));
    EXPECT_EQ(*owned, 1);
    Receive(FrameRtu({0x04, 0x83, 0x02}));
    EXPECT_EQ(*owned, 1);
}

TEST_F(MasterTest, ALyingByteCountNeverReadsPastTheFrame) {
    // Byte count 48 in a 20-byte reply: the handler reads every announced
    // position and gets 0 past the end.
    Select(6, "KELM-8AS");
    ByteString body(18, 0x7F);
    body[0] = 6;
    body[1] = 3;
    body[2] = 48;
    std::uint32_t sum = 0;
    std::size_t seen = 0;
    master.SetReplyHandler("KELM_8AS_Event", [&](std::uint16_t, const Frame& f) {
        seen = f.size();
        for (std::size_t i = 0; i < 3u + f[2]; i += 2) sum += f.word(3 + i);
        EXPECT_EQ(f[18], 0);
        EXPECT_EQ(f.word(17), 0x7F00);
    });
    Receive(FrameRtu(body));
    EXPECT_EQ(seen, 18u);
    EXPECT_EQ(sum, 7u * 0x7F7Fu + 0x7F00u);
}

TEST(MasterLifetime, DestructionDetachesTheTimer) {
    RecordingSink sink;
    RecordingStatus status;
    FixedProtocol protocol;
    ManualTimer timer;
    {
        ModbusMaster m(sink, status, protocol, timer);
        const ByteString b{1, 2, 3};
        m.ksComm1AfterReceive(b.data(), 3);
        EXPECT_TRUE(timer.Enabled());
    }
    EXPECT_FALSE(timer.Enabled());
    EXPECT_FALSE(timer.HasCallback());
}

}  // namespace
}  // namespace kelm::test
