// Receiving, end of frame, validation and routing of replies.
#include <memory>
#include <numeric>
#include <optional>
#include <stdexcept>

#include "MasterFixture.h"

namespace kelm::test {
namespace {

const std::string kReplyOk = "当前终端通讯响应正常!";
// Identity reply: type 10, hardware 0xA0, software 0xA1.
const ByteString kIdentity = Hex("01 03 06 00 0A 00 A0 00 A1");

ByteString Join(ByteString a, const ByteString& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(RoutingTest, PiecesWithinTheSilenceTimeMakeOneFrameEndedByElevenTicks) {
    Select(1, "KELM-8I8T");
    const ByteString wire = FrameRtu(kIdentity);
    for (std::uint8_t byte : wire) {
        Deliver({byte});
        EXPECT_TRUE(recTimer.Enabled());
        EXPECT_EQ(st.Recv_Timer_Count, 0);
        EXPECT_EQ(recTimer.Tick(10), 10);
    }
    EXPECT_EQ(st.Recv_Timer_Count, 10);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(recTimer.Starts(), 1);  // re-enabling did not restart the timer
    EXPECT_TRUE(recTimer.Tick());
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].handler, "KELM_8I8T_Event");
    EXPECT_EQ(calls[0].command, 3);
    EXPECT_EQ(calls[0].pbuf, kIdentity);
    EXPECT_TRUE(Idle());
}

TEST_F(RoutingTest, LengthLimitsChecksAndFrameBoundariesInBothProtocols) {
    // RTU read replies of exactly 256 and 257 wire bytes.
    ByteString long256(254);
    std::iota(long256.begin(), long256.end(), 0x40);
    long256[0] = 1;
    long256[1] = 3;
    long256[2] = 251;
    const ByteString long257 = Join(long256, {0x99});
    // ASCII: 255 characters hold 126 bytes, the longest reply that fits.
    ByteString ascii125(125, 0x11);
    ascii125[0] = 1;
    ascii125[1] = 4;
    ByteString ascii256 = FrameAscii(ascii125);
    ascii256.insert(ascii256.begin() + 1, '0');  // an odd hex count
    ASSERT_EQ(ascii256.size(), 256u);
    const ByteString identity = FrameRtu(kIdentity);
    ByteString badCrc = identity;
    badCrc.back() ^= 0x01;
    const struct {
        int proto;
        ByteString wire;
        std::optional<ByteString> pbuf;  // nullopt: dropped
    } rows[] = {
        {kProtocolRtu, FrameRtu(Hex("01 83")), std::nullopt},  // 4 bytes, the CRC right
        {kProtocolRtu, FrameRtu(Hex("01 83 02")), Hex("01 83 02")},
        {kProtocolRtu, FrameRtu(long256), long256},
        {kProtocolRtu, FrameRtu(long257), std::nullopt},
        {kProtocolRtu, badCrc, std::nullopt},
        // A gap of eleven ticks splits a reply and both halves fail; two run together fail.
        {kProtocolRtu, ByteString(identity.begin(), identity.begin() + 6), std::nullopt},
        {kProtocolRtu, ByteString(identity.begin() + 6, identity.end()), std::nullopt},
        {kProtocolRtu, Join(identity, FrameRtu(Hex("01 05 00 00 FF 00"))), std::nullopt},
        {kProtocolRtu, FrameAscii(kIdentity), std::nullopt},
        {kProtocolAscii, Text(":00\r"), std::nullopt},  // 4 characters
        {kProtocolAscii, Text(":01\r\n"), std::nullopt},
        {kProtocolAscii, FrameAscii(ascii125), Join(ascii125, {0x00})},
        {kProtocolAscii, ascii256, std::nullopt},
        {kProtocolAscii, FrameAscii(Join(ascii125, {0x22})), std::nullopt},  // 257
        {kProtocolAscii, Text(":01050000ff00fb\r\n"), Hex("01 05 00 00 FF 00 00")},
        {kProtocolAscii, Text(":0105000GFF00FB\r\n"), std::nullopt},
        {kProtocolAscii, FrameRtu(kIdentity), std::nullopt},
        {-1, FrameRtu(kIdentity), std::nullopt},
        {-1, FrameAscii(kIdentity), std::nullopt},
    };
    Select(1, "KELM-8AD");
    for (const auto& r : rows) {
        SCOPED_TRACE(::testing::Message() << r.proto << " " << r.wire.size() << " bytes");
        calls.clear();
        status.history.clear();
        protocol.index = r.proto;  // judged in the protocol selected at the end of the frame
        const auto dropped = master.DroppedFrames();
        Receive(r.wire);
        EXPECT_TRUE(Idle());
        if (!r.pbuf) {
            EXPECT_TRUE(calls.empty());
            EXPECT_TRUE(status.history.empty());  // not even the status text changes
            EXPECT_EQ(master.DroppedFrames(), dropped + 1);
            continue;
        }
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].pbuf, *r.pbuf);
        EXPECT_EQ(calls[0].command, (*r.pbuf)[1]);
        EXPECT_EQ(status.Text(0), kReplyOk);
    }
}

TEST_F(RoutingTest, EmptyDeliveriesAndABabblingLine) {
    master.ksComm1AfterReceive(nullptr, 12);
    master.ksComm1AfterReceive(kIdentity.data(), 0);
    EXPECT_TRUE(st.Recv_Str.empty());
    EndOfFrame();
    EXPECT_TRUE(Idle());
    // Noise without a pause cannot grow the buffer, and the next reply is heard.
    Select(1, "KELM-8I8T");
    const ByteString noise(1000, 0x55);
    for (int i = 0; i < 200; ++i) {
        Deliver(noise);
        recTimer.Tick(5);
        ASSERT_LE(st.Recv_Str.size(), 257u);
    }
    recTimer.Tick(6);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(master.DroppedFrames(), 2u);
    EXPECT_TRUE(Idle());
    Receive(FrameRtu(kIdentity));
    EXPECT_EQ(calls.size(), 1u);
}

TEST_F(RoutingTest, EveryRoutingRowInBothProtocols) {
    const char* kScan = "Disposal_Modbus03_Scandevice";
    const char* kCheck = "Disposal_Modbus03_checkcom";
    struct Row {
        std::uint8_t selected;
        std::string model;
        bool scanning;
        std::uint16_t reg;
        ByteString body;
        const char* handler;  // nullptr: goes nowhere
    };
    const ByteString linkReply = Hex("00 03 06 00 03 00 05 00 52");
    std::vector<Row> rows = {
        // The scan takes identity replies from any address.
        {1, "KELM-8I8T", true, 0, kIdentity, kScan},
        {1, "KELM-8I8T", true, 0, Hex("00 03 06 00 0A 00 A0 00 A1"), kScan},
        {1, "KELM-8I8T", true, 0, Hex("C8 03 06 00 0A 00 A0 00 A1"), kScan},
        {1, "KELM-8I8T", true, 0, Hex("F7 03 06 00 0A 00 A0 00 A1"), kScan},
        // ... only when every condition holds; otherwise the selected module's handler.
        {1, "KELM-8I8T", false, 0, kIdentity, "KELM_8I8T_Event"},
        {1, "KELM-8I8T", true, 3, kIdentity, "KELM_8I8T_Event"},
        {1, "KELM-8I8T", true, 0, Hex("01 04 06 00 0A 00 A0 00 A1"), "KELM_8I8T_Event"},
        {1, "KELM-8I8T", true, 0, Hex("01 03 04 00 0A 00 A0"), "KELM_8I8T_Event"},
        // The link check's reply, only while register 3 is being read.
        {0, "", false, 3, linkReply, kCheck},
        {0, "", false, 0, linkReply, nullptr},
        // Any other reply from address 0 goes nowhere, even with a model set.
        {0, "KELM-8I8T", false, 3, Hex("00 03 04 00 03 00 05"), nullptr},
        {0, "KELM-8I8T", false, 3, Hex("00 06 00 03 00 05"), nullptr},
        {0, "KELM-8I8T", false, 3, Hex("00 83 02"), nullptr},
        // Exception replies reach the model handler.
        {3, "KELM-2AO", false, 0, Hex("03 86 02"), "KELM_2AO_Event"},
        // Another address, an unknown model or none at all.
        {5, "KELM-16T", false, 0, Hex("07 06 00 01 00 02"), nullptr},
        {7, "KELM-99X", false, 0, Hex("07 06 00 01 00 02"), nullptr},
        {7, "", false, 0, Hex("07 06 00 01 00 02"), nullptr},
    };
    const struct {
        int code;
        const char* model;
        const char* handler;
    } models[] = {
        {10, "KELM-8I8T", "KELM_8I8T_Event"}, {11, "KELM-16I", "KELM_16I_Event"},
        {12, "KELM-16T", "KELM_16T_Event"},   {13, "KELM-8RY", "KELM_8R_Event"},
        {14, "KELM-8AS", "KELM_8AS_Event"},   {15, "KELM-8ASP", "KELM_8AS_Event"},
        {16, "KELM-8AD", "KELM_8AD_Event"},   {17, "KELM-2AO", "KELM_2AO_Event"},
    };
    for (const auto& m : models) {
        EXPECT_EQ(FindModelByName(m.model), FindModelByCode(m.code)) << m.model;
        rows.push_back({130, m.model, false, 0, Hex("82 01 01 A5"), m.handler});
    }
    // Before any selection, every non-zero address is ignored.
    for (std::uint8_t addr : {1, 5, 127, 128, 247, 255})
        rows.push_back({0, "", false, 0, {addr, 0x03, 0x02, 0x00, 0x01}, nullptr});

    for (const Row& r : rows) {
        for (int proto : {kProtocolRtu, kProtocolAscii}) {
            SCOPED_TRACE(::testing::Message()
                         << r.model << " " << (r.handler ? r.handler : "-") << " "
                         << ::testing::PrintToString(r.body) << (proto ? " ASCII" : " RTU"));
            calls.clear();
            status.history.clear();
            protocol.index = proto;
            Select(r.selected, r.model);
            st.Scan_Device_Flag = r.scanning;
            st.Modbus_Reg_Addr = r.reg;
            checkTimer.SetEnabled(true);
            const auto unrouted = master.UnroutedFrames();
            Receive(FrameForProtocol(r.body, proto));
            EXPECT_EQ(status.Text(0), kReplyOk);
            EXPECT_TRUE(Idle());
            // Only the link check's own reply ends its detection loop.
            EXPECT_EQ(checkTimer.Enabled(), r.handler != kCheck);
            if (!r.handler) {
                EXPECT_TRUE(calls.empty());
                EXPECT_EQ(master.UnroutedFrames(), unrouted + 1);
                continue;
            }
            ASSERT_EQ(calls.size(), 1u);
            EXPECT_EQ(calls[0].handler, r.handler);
            ByteString pbuf = r.body;
            if (proto == kProtocolAscii) pbuf.push_back(0x00);  // the LRC position
            EXPECT_EQ(calls[0].pbuf, pbuf);
            const bool system = r.handler == kScan || r.handler == kCheck;  // they get no command
            EXPECT_EQ(calls[0].command, system ? 0 : r.body[1]);
        }
    }
}

TEST_F(MasterTest, UnregisteredOrClearedHandlersDropTheFrame) {
    Select(1, "KELM-16I");
    st.Scan_Device_Flag = true;
    Receive(FrameRtu(kIdentity));  // scan row, no scan handler
    st.Scan_Device_Flag = false;
    Receive(FrameRtu(Hex("01 02 02 FF 00")));  // model row, no model handler
    st.Modbus_Reg_Addr = 3;
    Receive(FrameRtu(Hex("00 03 06 00 03 00 05 00 52")));  // link check row
    EXPECT_EQ(master.UnroutedFrames(), 3u);
    EXPECT_TRUE(Idle());
    int hits = 0;
    const auto count = [&](std::uint16_t, const Frame&) { ++hits; };
    EXPECT_FALSE(master.SetReplyHandler("KELM_8RY_Event", count));
    EXPECT_FALSE(master.SetReplyHandler("", count));
    EXPECT_TRUE(master.SetReplyHandler("KELM_8R_Event", count));
    Select(2, "KELM-8RY");
    Receive(FrameRtu(Hex("02 01 01 0F")));
    EXPECT_EQ(hits, 1);
    EXPECT_TRUE(master.SetReplyHandler("KELM_8R_Event", nullptr));
    Receive(FrameRtu(Hex("02 01 01 0F")));
    EXPECT_EQ(hits, 1);
    EXPECT_EQ(master.UnroutedFrames(), 4u);
}

TEST_F(MasterTest, RecvFlagShutsOutDeliveriesWhileAHandlerRuns) {
    Select(4, "KELM-8AD");
    int calls = 0;
    master.SetReplyHandler("KELM_8AD_Event", [&](std::uint16_t, const Frame& f) {
        ++calls;
        EXPECT_TRUE(st.Recv_Flag);
        EXPECT_FALSE(recTimer.Enabled());
        // A modal box keeps the message loop running: a reply arrives meanwhile.
        Deliver(FrameRtu(Hex("04 06 00 01 00 01")));
        EXPECT_FALSE(recTimer.Enabled());
        EXPECT_EQ(st.Recv_Timer_Count, 0);
        // The frame handed over is the handler's own, unaffected by the buffer.
        EXPECT_EQ(f.size(), 3u);
    });
    Receive(FrameRtu(Hex("04 83 02")));
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(Idle());
    // Nothing of the late reply was kept; the next reply is received normally.
    EndOfFrame();
    EXPECT_EQ(calls, 1);
    Receive(FrameRtu(Hex("04 83 03")));
    EXPECT_EQ(calls, 2);
}

TEST_F(MasterTest, HandlersMaySendReplaceThemselvesOrThrow) {
    Select(4, "KELM-8AD");
    const ByteString reply = FrameRtu(Hex("04 83 02"));
    // The next request, sent from within the handler.
    master.SetReplyHandler("KELM_8AD_Event", [&](std::uint16_t, const Frame&) {
        master.Modbus_Send_oneWord(3, 6, 2);
    });
    Receive(reply);
    ASSERT_EQ(sink.frames.size(), 1u);
    EXPECT_EQ(st.Modbus_Reg_Addr, 6);
    EXPECT_TRUE(Idle());
    // Clearing its own slot while running: the dispatcher runs a copy.
    auto owned = std::make_shared<int>(0);
    master.SetReplyHandler("KELM_8AD_Event", [&, owned](std::uint16_t, const Frame&) {
        master.SetReplyHandler("KELM_8AD_Event", nullptr);
        ++*owned;
    });
    Receive(reply);
    Receive(reply);
    EXPECT_EQ(*owned, 1);
    // A throwing handler still leaves the receiver idle and able to hear the next reply.
    master.SetReplyHandler("KELM_8AD_Event",
                           [](std::uint16_t, const Frame&) { throw std::runtime_error("x"); });
    Deliver(reply);
    EXPECT_THROW(EndOfFrame(), std::runtime_error);
    EXPECT_TRUE(Idle());
    int hits = 0;
    master.SetReplyHandler("KELM_8AD_Event", [&](std::uint16_t, const Frame&) { ++hits; });
    Receive(reply);
    EXPECT_EQ(hits, 1);
}

TEST_F(MasterTest, ALyingByteCountNeverReadsPastTheFrame) {
    // Byte count 48 in a 20-byte reply: every announced position past the end reads 0.
    Select(6, "KELM-8AS");
    ByteString body(18, 0x7F);
    body[0] = 6;
    body[1] = 3;
    body[2] = 48;
    std::uint32_t sum = 0;
    master.SetReplyHandler("KELM_8AS_Event", [&](std::uint16_t, const Frame& f) {
        EXPECT_EQ(f.size(), 18u);
        for (std::size_t i = 0; i < 3u + f[2]; i += 2) sum += f.word(3 + i);
    });
    Receive(FrameRtu(body));
    EXPECT_EQ(sum, 7u * 0x7F7Fu + 0x7F00u);
}

TEST(MasterLifetime, DestructionDetachesTheTimer) {
    RecordingSink sink;
    RecordingStatus status;
    FixedProtocol protocol;
    ManualTimer timer;
    {
        ModbusMaster m(sink, status, protocol, timer);
        EXPECT_EQ(timer.Interval(), 10);
        const ByteString b{1, 2, 3};
        m.ksComm1AfterReceive(b.data(), 3);
        EXPECT_TRUE(timer.Enabled());
    }
    EXPECT_FALSE(timer.Enabled());
    EXPECT_FALSE(timer.HasCallback());
}

}  // namespace
}  // namespace kelm::test
