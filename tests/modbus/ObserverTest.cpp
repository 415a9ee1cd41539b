// What an observer of the line is told: every frame sent, every frame
// received with the receiver's verdict, and the request a reply was judged
// against; and that watching changes nothing the master does.
#include <stdexcept>
#include <string>
#include <vector>

#include "MasterFixture.h"
#include "modbus/FrameObserver.h"

namespace kelm::test {
namespace {

struct Sent {
    ByteString frame;
    int protocol;
    RequestRef request;
};
struct Received {
    std::uint64_t seq;
    ByteString bytes;
    std::size_t arrived;
    int protocol;
    ReceiveVerdict verdict;
    std::string handler;
    ByteString pbuf;
    std::uint8_t selectedAddress;
    std::string selectedModel;
    RequestRef request;
};

class RecordingObserver : public IFrameObserver {
  public:
    void OnFrameSent(const SentFrameInfo& i) override {
        sent.push_back({ByteString(i.frame.begin(), i.frame.end()), i.protocol, i.request});
    }
    void OnFrameReceived(const ReceivedFrameInfo& i) override {
        received.push_back({i.seq, ByteString(i.bytes.begin(), i.bytes.end()), i.arrived,
                            i.protocol, i.verdict, std::string(i.handler),
                            ByteString(i.pbuf.begin(), i.pbuf.end()), i.selectedAddress,
                            std::string(i.selectedModel), i.request});
    }
    void OnReplyRow(const ReplyRowInfo& i) override {
        rows.push_back(i);
        rowKeys.emplace_back(i.rowKey);
    }
    std::vector<Sent> sent;
    std::vector<Received> received;
    std::vector<ReplyRowInfo> rows;
    std::vector<std::string> rowKeys;
};

const ByteString kIdentity = Hex("01 03 06 00 0A 00 A0 00 A1");

ByteString Join(ByteString a, const ByteString& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class ObserverTest : public RoutingTest {
  protected:
    RecordingObserver obs;
    void SetUp() override {
        RoutingTest::SetUp();
        master.SetFrameObserver(&obs);
    }
    const Received& Only() {
        EXPECT_EQ(obs.received.size(), 1u);
        static const Received none{};
        return obs.received.empty() ? none : obs.received.back();
    }
};

TEST_F(ObserverTest, EveryVerdictThroughTheReceiver) {
    ByteString tooLong(300, 0x11);
    ByteString badCrc = FrameRtu(kIdentity);
    badCrc.back() ^= 0x40;
    const ByteString asciiIdentity = FrameAscii(kIdentity);
    std::string badLrc(asciiIdentity.begin(), asciiIdentity.end());
    badLrc[badLrc.size() - 3] = badLrc[badLrc.size() - 3] == '0' ? '1' : '0';
    const struct {
        const char* name;
        int proto;
        std::uint8_t selected;
        const char* model;
        bool scanning;
        std::uint16_t regAddr;
        ByteString wire;
        ReceiveVerdict verdict;
        std::string handler;
        bool passedCheck;
    } rows[] = {
        {"scan identity", kProtocolRtu, 0, "", true, 0, FrameRtu(Hex("09 03 06 00 0B 00 A0 00 A1")),
         ReceiveVerdict::ToScan, "Disposal_Modbus03_Scandevice", true},
        {"link check answer", kProtocolRtu, 0, "", false, 3,
         FrameRtu(Hex("00 03 06 00 04 00 11 00 52")), ReceiveVerdict::ToCheckCom,
         "Disposal_Modbus03_checkcom", true},
        {"model reply", kProtocolRtu, 1, "KELM-8AS", false, 0, FrameRtu(kIdentity),
         ReceiveVerdict::ToModel, "KELM_8AS_Event", true},
        {"ascii model reply", kProtocolAscii, 1, "KELM-2AO", false, 0, FrameAscii(kIdentity),
         ReceiveVerdict::ToModel, "KELM_2AO_Event", true},
        {"four bytes", kProtocolRtu, 1, "KELM-8AS", false, 0, FrameRtu(Hex("01 83")),
         ReceiveVerdict::TooShort, "", false},
        {"300 bytes", kProtocolRtu, 1, "KELM-8AS", false, 0, tooLong, ReceiveVerdict::TooLong, "",
         false},
        {"crc", kProtocolRtu, 1, "KELM-8AS", false, 0, badCrc, ReceiveVerdict::CrcMismatch, "",
         false},
        {"lrc", kProtocolAscii, 1, "KELM-8AS", false, 0, Text(badLrc), ReceiveVerdict::LrcMismatch,
         "", false},
        {"odd length", kProtocolAscii, 1, "KELM-8AS", false, 0, Text(":0103060\r\n"),
         ReceiveVerdict::OddLength, "", false},
        {"not hex", kProtocolAscii, 1, "KELM-8AS", false, 0, Text(":0105000GFF00FB\r\n"),
         ReceiveVerdict::NotHex, "", false},
        {"no protocol", -1, 1, "KELM-8AS", false, 0, FrameRtu(kIdentity),
         ReceiveVerdict::NoProtocol, "", false},
        {"broadcast, not the link check's", kProtocolRtu, 1, "KELM-8AS", false, 5,
         FrameRtu(Hex("00 03 06 00 04 00 11 00 52")), ReceiveVerdict::BroadcastNotCheck, "", true},
        {"another address", kProtocolRtu, 5, "KELM-8AS", false, 0,
         FrameRtu(Hex("07 03 06 00 0A 00 A0 00 A1")), ReceiveVerdict::OtherAddress, "", true},
        {"unknown model", kProtocolRtu, 1, "KELM-99", false, 0, FrameRtu(kIdentity),
         ReceiveVerdict::NoHandler, "", true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        obs.received.clear();
        protocol.index = r.proto;
        Select(r.selected, r.model);
        st.Scan_Device_Flag = r.scanning;
        st.Modbus_Reg_Addr = r.regAddr;
        Receive(r.wire);
        ASSERT_EQ(obs.received.size(), 1u);
        const Received& got = obs.received[0];
        EXPECT_EQ(got.verdict, r.verdict);
        EXPECT_EQ(got.handler, r.handler);
        EXPECT_EQ(got.protocol, r.proto);
        EXPECT_EQ(got.arrived, r.wire.size());
        // The receiver keeps one byte past the longest frame; the rest is counted.
        const std::size_t kept = std::min<std::size_t>(r.wire.size(), kMaxReplyLength + 1);
        EXPECT_EQ(got.bytes, ByteString(r.wire.begin(), r.wire.begin() + kept));
        EXPECT_EQ(!got.pbuf.empty(), r.passedCheck);
        EXPECT_EQ(IsAccepted(got.verdict), !r.handler.empty());
        EXPECT_EQ(got.selectedAddress, r.selected);
        EXPECT_EQ(got.selectedModel, r.model);
        EXPECT_EQ(got.request.regAddr, r.regAddr);
        EXPECT_TRUE(Idle());
    }
    // The handlers saw exactly the accepted frames.
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[3].handler, "KELM_2AO_Event");
    EXPECT_EQ(calls[3].pbuf, Join(kIdentity, {0x00}));
}

TEST_F(ObserverTest, ValidFramesCarryTheirPbuf) {
    Select(1, "KELM-16I");
    Receive(FrameRtu(kIdentity));
    EXPECT_EQ(Only().pbuf, kIdentity);
    obs.received.clear();
    protocol.index = kProtocolAscii;
    Receive(FrameAscii(kIdentity));
    EXPECT_EQ(Only().pbuf, Join(kIdentity, {0x00}));
}

TEST_F(ObserverTest, ARegisteredNameWithoutAFunctionHasNoHandler) {
    master.SetReplyHandler("KELM_8AD_Event", {});
    master.SetScanHandler({});
    master.SetCheckComHandler({});
    const struct {
        std::uint8_t selected;
        const char* model;
        bool scanning;
        std::uint16_t regAddr;
        ByteString body;
        std::string handler;
    } rows[] = {
        {1, "KELM-8AD", false, 0, kIdentity, "KELM_8AD_Event"},
        {1, "KELM-8AD", true, 0, kIdentity, "Disposal_Modbus03_Scandevice"},
        {1, "KELM-8AD", false, 3, Hex("00 03 06 00 04 00 11 00 52"), "Disposal_Modbus03_checkcom"},
    };
    for (const auto& r : rows) {
        obs.received.clear();
        Select(r.selected, r.model);
        st.Scan_Device_Flag = r.scanning;
        st.Modbus_Reg_Addr = r.regAddr;
        Receive(FrameRtu(r.body));
        EXPECT_EQ(Only().verdict, ReceiveVerdict::NoHandler) << r.handler;
        EXPECT_EQ(Only().handler, r.handler);
    }
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(master.UnroutedFrames(), 3u);
}

// A handler that keeps the message loop running (a modal box) while bytes
// come in: they are reported as dropped, and a row the handler reports later
// still belongs to the frame it is handling.
TEST_F(ObserverTest, BytesDuringHandlingAreReportedAndRowsKeepTheirFrame) {
    Select(4, "KELM-8RY");
    const ByteString late = FrameRtu(Hex("04 05 00 02 FF 00"));
    master.SetReplyHandler("KELM_8R_Event", [&](std::uint16_t, const Frame&) {
        Deliver(ByteString(late.begin(), late.begin() + 3));
        Deliver(ByteString(late.begin() + 3, late.end()));
        Deliver({});  // an empty delivery says nothing
        ReplyRowInfo row;
        row.handler = "KELM_8R_Event";
        row.matched = true;
        row.rowKey = "FC 03 @0 x6";
        master.ReportReplyRow(row);
    });
    Receive(FrameRtu(Hex("04 03 06 00 0D 00 A0 00 A1")));
    ASSERT_EQ(obs.received.size(), 3u);
    EXPECT_EQ(obs.received[0].verdict, ReceiveVerdict::ToModel);
    for (int i : {1, 2}) {
        EXPECT_EQ(obs.received[i].verdict, ReceiveVerdict::WhileHandling);
        EXPECT_EQ(obs.received[i].seq, obs.received[0].seq + i);
        EXPECT_EQ(obs.received[i].request.address, 0) << "no request was sent";
    }
    EXPECT_EQ(obs.received[1].bytes, ByteString(late.begin(), late.begin() + 3));
    EXPECT_EQ(obs.received[2].bytes, ByteString(late.begin() + 3, late.end()));
    ASSERT_EQ(obs.rows.size(), 1u);
    EXPECT_EQ(obs.rows[0].seq, obs.received[0].seq);
    EXPECT_EQ(obs.rowKeys[0], "FC 03 @0 x6");
    EXPECT_TRUE(Idle());
    EXPECT_TRUE(st.Recv_Str.empty()) << "the late bytes were not collected";
}

TEST_F(ObserverTest, SentFramesAndTheRequestARepliesIsJudgedAgainst) {
    Select(1, "KELM-16T");
    master.Modbus_Send_oneWord(3, 0, 3);
    master.Modbus_Send_oneWord(6, 8, 4000);  // a newer request before the first reply
    Receive(FrameRtu(kIdentity));
    ASSERT_EQ(obs.sent.size(), 2u);
    EXPECT_EQ(obs.sent[0].frame, Hex("01 03 00 00 00 03 05 CB"));
    EXPECT_EQ(obs.sent[1].frame, Hex("01 06 00 08 0F A0 0D 80"));
    EXPECT_EQ(obs.sent[0].protocol, kProtocolRtu);
    EXPECT_EQ(obs.sent[1].request.functionCode, 6);
    EXPECT_EQ(obs.sent[1].request.regAddr, 8);
    EXPECT_EQ(obs.sent[1].request.address, 1);
    // The reply to the first is read against the second.
    const RequestRef judged = Only().request;
    EXPECT_TRUE(judged.any);
    EXPECT_EQ(judged.functionCode, 6);
    EXPECT_EQ(judged.regAddr, 8);
    EXPECT_EQ(sink.frames.size(), 2u);

    // Multiple writes, and a code Modbus_Send_Buf refuses (nothing recorded).
    const ByteString coils = {0x0F};
    EXPECT_TRUE(master.Modbus_Send_Buf(15, 16, 8, 1, coils));
    EXPECT_FALSE(master.Modbus_Send_Buf(6, 99, 1, 2, ByteString{0, 1}));
    ASSERT_EQ(obs.sent.size(), 3u);
    EXPECT_EQ(master.LastRequest().functionCode, 15);
    EXPECT_EQ(master.LastRequest().regAddr, 16);
}

TEST_F(ObserverTest, FinishedFramesAreReadForTheirAddressAndCode) {
    // The scan's request through SendFrame (status text untouched), in both
    // forms, and the link check's through KELM_Uart_Send_String.
    Select(1, "KELM-16T");
    st.Modbus_Reg_Addr = 0;
    master.SendFrame(FrameRtu(OneWordBody(9, 3, 0, 3)));
    EXPECT_TRUE(status.history.empty());
    EXPECT_EQ(master.LastRequest().address, 9);
    EXPECT_EQ(master.LastRequest().functionCode, 3);
    protocol.index = kProtocolAscii;
    master.SendFrame(FrameAscii(OneWordBody(0xC8, 4, 0, 3)));
    EXPECT_EQ(master.LastRequest().address, 0xC8);
    EXPECT_EQ(master.LastRequest().functionCode, 4);
    st.Modbus_Reg_Addr = 3;
    master.KELM_Uart_Send_String(FrameAscii(OneWordBody(0, 3, 3, 3)));
    EXPECT_EQ(master.LastRequest().address, 0);
    EXPECT_EQ(master.LastRequest().functionCode, 3);
    EXPECT_EQ(master.LastRequest().regAddr, 3);
    EXPECT_EQ(status.Text(0), "正在扫描终端数据......");
    // Nothing to send: nothing is told and the last request stays.
    master.SendFrame({});
    ASSERT_EQ(obs.sent.size(), 3u);
    EXPECT_EQ(obs.sent[1].protocol, kProtocolAscii);
    EXPECT_EQ(obs.sent[1].frame, FrameAscii(OneWordBody(0xC8, 4, 0, 3)));
    EXPECT_EQ(sink.frames.size(), 3u);
}

// The same traffic through a watched and an unwatched master: the line, the
// status bar, the handlers and the counters do not tell them apart.
TEST(ObserverOnlyWatches, WatchedAndUnwatchedMastersBehaveAlike) {
    struct Run {
        RecordingSink sink;
        RecordingStatus status;
        FixedProtocol protocol{kProtocolRtu};
        ManualTimer timer;
        ModbusMaster master{sink, status, protocol, timer};
        std::vector<std::string> calls;
        Run() {
            master.SetReplyHandler("KELM_8I8T_Event", [this](std::uint16_t c, const Frame& f) {
                calls.push_back("8i8t " + std::to_string(c) + " " + std::to_string(f.size()));
                if (c == 5) master.Modbus_Send_oneWord(1, 0, 8);  // a follow-up request
            });
            master.SetScanHandler(
                [this](const Frame& f) { calls.push_back("scan " + std::to_string(f[0])); });
        }
        void Receive(const ByteString& b) {
            master.ksComm1AfterReceive(b.data(), static_cast<std::uint32_t>(b.size()));
            timer.Tick(11);
        }
        void Script() {
            master.State().Node_Device_ID = 2;
            master.State().Node_Device_Name = "KELM-8I8T";
            master.Modbus_Send_oneWord(5, 0, 0xFF00);
            Receive(FrameRtu(Hex("02 05 00 00 FF 00")));
            Receive(FrameRtu(Hex("03 05 00 00 FF 00")));
            Receive(Hex("02 05 00"));
            protocol.index = kProtocolAscii;
            Receive(Text(":0203020001F8\r\n"));
            master.State().Scan_Device_Flag = true;
            master.SendFrame(FrameAscii(OneWordBody(7, 3, 0, 3)));
            Receive(FrameAscii(Hex("07 03 06 00 0A 00 A0 00 A1")));
        }
    };
    Run plain;
    plain.Script();
    Run watched;
    RecordingObserver obs;
    watched.master.SetFrameObserver(&obs);
    watched.Script();
    EXPECT_EQ(watched.sink.frames, plain.sink.frames);
    EXPECT_EQ(watched.status.history, plain.status.history);
    EXPECT_EQ(watched.calls, plain.calls);
    EXPECT_EQ(watched.master.DroppedFrames(), plain.master.DroppedFrames());
    EXPECT_EQ(watched.master.UnroutedFrames(), plain.master.UnroutedFrames());
    EXPECT_EQ(watched.master.State().Modbus_Reg_Addr, plain.master.State().Modbus_Reg_Addr);
    EXPECT_EQ(obs.sent.size(), plain.sink.frames.size());
    EXPECT_EQ(obs.received.size(), 5u);
    EXPECT_EQ(plain.calls.size(), 3u);
}

// An observer that throws is not allowed to break the conversation.
TEST_F(ObserverTest, AThrowingObserverKeepsFramesFlowing) {
    struct Throwing : IFrameObserver {
        void OnFrameSent(const SentFrameInfo&) override { throw std::runtime_error("sent"); }
        void OnFrameReceived(const ReceivedFrameInfo&) override { throw std::runtime_error("rx"); }
        void OnReplyRow(const ReplyRowInfo&) override { throw std::runtime_error("row"); }
    } throwing;
    master.SetFrameObserver(&throwing);
    Select(1, "KELM-16I");
    master.Modbus_Send_oneWord(3, 0, 3);
    EXPECT_EQ(sink.frames.size(), 1u);
    Receive(FrameRtu(kIdentity));
    master.ReportReplyRow({});
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_TRUE(Idle());
    master.SetFrameObserver(nullptr);
    EXPECT_EQ(master.FrameObserver(), nullptr);
}

}  // namespace
}  // namespace kelm::test
