// The poll conversation: a poller beside the user's requests on one master.
// Replies must reach the request they answer and no other; a user's request
// is held while a poll is on the line and never lost; with no poller the
// master behaves as before.
#include <random>

#include "MasterFixture.h"

namespace kelm::test {
namespace {

struct PollEvent {
    enum Kind { Reply, Failed, Free } kind;
    PollRequest request;
    ByteString pbuf;
    PollFailure why = PollFailure::NoReply;
};

class RecordingPoller : public IPollClient {
  public:
    void OnPollReply(const PollRequest& r, const Frame& f) override {
        events.push_back({PollEvent::Reply, r, f.bytes()});
    }
    void OnPollFailed(const PollRequest& r, PollFailure why) override {
        events.push_back({PollEvent::Failed, r, {}, why});
    }
    void OnLineFree() override {
        events.push_back({PollEvent::Free, {}, {}});
        if (onFree) onFree();
    }
    int Count(PollEvent::Kind k) const {
        int n = 0;
        for (const auto& e : events) n += e.kind == k;
        return n;
    }
    std::vector<PollEvent> events;
    std::function<void()> onFree;
};

// Counts received frames judged against a request they do not answer.
class JudgeWatcher : public IFrameObserver {
  public:
    void OnFrameSent(const SentFrameInfo&) override { ++sent; }
    void OnFrameReceived(const ReceivedFrameInfo& info) override {
        ++received;
        verdicts.push_back(info.verdict);
        if (info.pbuf.size() < 2 || !info.request.any) return;
        const std::uint8_t address = info.pbuf[0];
        const std::uint8_t fc = info.pbuf[1] & 0x7F;
        if (IsAccepted(info.verdict) &&
            (address != info.request.address || fc != info.request.functionCode))
            ++misjudged;
    }
    void OnReplyRow(const ReplyRowInfo&) override {}
    int sent = 0, received = 0, misjudged = 0;
    std::vector<ReceiveVerdict> verdicts;
};

constexpr std::string_view k8AD = "KELM-8AD";
constexpr std::string_view k16I = "KELM-16I";

PollRequest Read8AD(std::uint8_t address, bool mirror = true) {
    return PollRequest{address, 4, 0, 12, k8AD, mirror};
}

// A read reply with byteCount data bytes counting up from `first`.
ByteString ReadReply(std::uint8_t address, std::uint8_t fc, std::uint8_t byteCount,
                     std::uint8_t first = 1) {
    ByteString body{address, fc, byteCount};
    for (int i = 0; i < byteCount; ++i) body.push_back(static_cast<std::uint8_t>(first + i));
    return FrameRtu(body);
}

class PollTest : public MasterTest {
  protected:
    ManualTimer lineTimer;
    RecordingPoller poller;
    JudgeWatcher watcher;
    std::vector<Call> calls;
    std::vector<std::uint16_t> regAddrSeen;

    void SetUp() override {
        for (std::string_view name : kReplyHandlerNames)
            master.SetReplyHandler(
                name, [this, n = std::string(name)](std::uint16_t cmd, const Frame& f) {
                    calls.push_back({n, cmd, f.bytes()});
                    regAddrSeen.push_back(st.Modbus_Reg_Addr);
                });
        master.SetFrameObserver(&watcher);
        master.SetReplyTimeoutMs(300);
        master.AttachPoller(&poller, &lineTimer);
        Select(3, std::string(k8AD));
    }
    void TearDown() override { EXPECT_EQ(watcher.misjudged, 0); }
};

TEST(PollDetachedTest, WithoutPollerEverythingGoesOutAtOnce) {
    RecordingSink sink;
    RecordingStatus status;
    FixedProtocol protocol{kProtocolRtu};
    ManualTimer recTimer, lineTimer;
    ModbusMaster master{sink, status, protocol, recTimer};
    EXPECT_FALSE(master.SendPoll(Read8AD(3)));
    EXPECT_TRUE(sink.frames.empty());
    master.State().Node_Device_ID = 1;
    master.Modbus_Send_oneWord(3, 0, 3);
    master.Modbus_Send_oneWord(4, 0, 12);
    ASSERT_EQ(sink.frames.size(), 2u);
    EXPECT_EQ(sink.frames[0], Hex("01 03 00 00 00 03 05 CB"));
    EXPECT_EQ(sink.frames[1], Hex("01 04 00 00 00 0C F0 0F"));
    EXPECT_EQ(master.Line(), LineState::Free);
    EXPECT_FALSE(lineTimer.Enabled());
    EXPECT_FALSE(lineTimer.HasCallback());
}

TEST_F(PollTest, PollFrameLeavesTheMasterStateAlone) {
    st.Modbus_Reg_Addr = 6;
    ASSERT_TRUE(master.SendPoll(Read8AD(5)));
    ASSERT_EQ(sink.frames.size(), 1u);
    EXPECT_EQ(sink.frames[0], FrameRtu(Hex("05 04 00 00 00 0C")));
    EXPECT_EQ(st.Modbus_Reg_Addr, 6);
    EXPECT_EQ(master.Line(), LineState::Poll);
    EXPECT_TRUE(lineTimer.Enabled());
    EXPECT_EQ(lineTimer.Interval(), 300);
    // One request at a time.
    EXPECT_FALSE(master.SendPoll(Read8AD(6)));
    EXPECT_EQ(sink.frames.size(), 1u);
}

TEST_F(PollTest, PollFrameInAscii) {
    protocol.index = kProtocolAscii;
    ASSERT_TRUE(master.SendPoll(Read8AD(1)));
    EXPECT_EQ(sink.frames.at(0), Text(":01040000000CEF\r\n"));
}

TEST_F(PollTest, UserClickDuringPollWaitsForThePollReplyThenGoes) {
    ASSERT_TRUE(master.SendPoll(Read8AD(5)));
    // The user reads the selected module's versions while the poll is out.
    master.Modbus_Send_oneWord(3, 0, 3);
    EXPECT_EQ(sink.frames.size(), 1u) << "held while the poll is on the line";
    EXPECT_EQ(st.Modbus_Reg_Addr, 0);
    EXPECT_EQ(master.HeldUserRequests(), 1u);

    Receive(ReadReply(5, 4, 24));
    ASSERT_EQ(poller.Count(PollEvent::Reply), 1);
    EXPECT_EQ(poller.events[0].pbuf.size(), 27u);
    EXPECT_TRUE(calls.empty()) << "the poll's reply is the poller's alone";
    ASSERT_EQ(sink.frames.size(), 2u) << "the held request goes out after the poll's reply";
    EXPECT_EQ(sink.frames[1], Hex("03 03 00 00 00 03 04 29"));
    EXPECT_EQ(master.Line(), LineState::User);
    EXPECT_EQ(poller.Count(PollEvent::Free), 0) << "the poller waits for the user's reply";
    EXPECT_FALSE(master.SendPoll(Read8AD(5)));

    Receive(FrameRtu(Hex("03 03 06 00 10 00 A0 00 A1")));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].handler, "KELM_8AD_Event");
    EXPECT_EQ(regAddrSeen[0], 0);
    EXPECT_EQ(poller.Count(PollEvent::Free), 1);
    EXPECT_EQ(master.Line(), LineState::Free);
    EXPECT_TRUE(Idle());
}

TEST_F(PollTest, SeveralClicksDuringAPollGoOneAtATimeEachReadAgainstItsOwnRequest) {
    ASSERT_TRUE(master.SendPoll(Read8AD(5)));
    master.Modbus_Send_oneWord(3, 0, 3);  // versions
    master.Modbus_Send_oneWord(3, 6, 8);  // modes
    EXPECT_EQ(sink.frames.size(), 1u);
    // The poll gets nothing back: its time runs out.
    lineTimer.Tick();
    ASSERT_EQ(poller.Count(PollEvent::Failed), 1);
    EXPECT_EQ(poller.events[0].why, PollFailure::NoReply);
    ASSERT_EQ(sink.frames.size(), 2u) << "one request on the line at a time";
    EXPECT_EQ(sink.frames[1], FrameRtu(Hex("03 03 00 00 00 03")));
    EXPECT_EQ(st.Modbus_Reg_Addr, 0) << "read against the request on the line";
    Receive(FrameRtu(Hex("03 03 06 00 10 00 A0 00 A1")));
    ASSERT_EQ(regAddrSeen.size(), 1u);
    EXPECT_EQ(regAddrSeen[0], 0);
    ASSERT_EQ(sink.frames.size(), 3u);
    EXPECT_EQ(sink.frames[2], FrameRtu(Hex("03 03 00 06 00 08")));
    EXPECT_EQ(st.Modbus_Reg_Addr, 6);
    EXPECT_EQ(poller.Count(PollEvent::Free), 0);
    Receive(ReadReply(3, 3, 16, 0x30));
    ASSERT_EQ(regAddrSeen.size(), 2u);
    EXPECT_EQ(regAddrSeen[1], 6);
    EXPECT_EQ(poller.Count(PollEvent::Free), 1);
    EXPECT_EQ(master.Line(), LineState::Free);
}

TEST_F(PollTest, ReplyToTheRequestOnTheLineIsReadAgainstItNotAgainstAHeldOne) {
    master.Modbus_Send_oneWord(4, 0, 12);  // the data read goes out
    master.Modbus_Send_oneWord(3, 6, 8);   // a second click waits for its reply
    ASSERT_EQ(sink.frames.size(), 1u);
    EXPECT_EQ(st.Modbus_Reg_Addr, 0);
    Receive(ReadReply(3, 4, 24));
    ASSERT_EQ(regAddrSeen.size(), 1u);
    EXPECT_EQ(regAddrSeen[0], 0);
    ASSERT_EQ(sink.frames.size(), 2u);
    EXPECT_EQ(sink.frames[1], FrameRtu(Hex("03 03 00 06 00 08")));
    EXPECT_EQ(st.Modbus_Reg_Addr, 6);
}

TEST_F(PollTest, LatePollReplyIsDroppedNotJudgedAgainstTheUsersRequest) {
    Select(5, std::string(k8AD));
    ASSERT_TRUE(master.SendPoll(Read8AD(5)));
    master.Modbus_Send_oneWord(3, 6, 8);  // the user's mode read, held
    lineTimer.Tick();                     // the poll's time is up
    ASSERT_EQ(sink.frames.size(), 2u);
    // The poll's reply comes late, while the user's request is out: same
    // module, but another function code than the user asked for.
    Receive(ReadReply(5, 4, 24));
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(master.LatePollReplies(), 1u);
    EXPECT_EQ(watcher.verdicts.back(), ReceiveVerdict::LatePoll);
    EXPECT_EQ(master.Line(), LineState::User) << "the user's reply is still awaited";
    Receive(ReadReply(5, 3, 16, 0x30));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(regAddrSeen[0], 6);
    EXPECT_EQ(master.Line(), LineState::Free);
}

TEST_F(PollTest, PollReplyMirrorsToTheSelectedModulesPanel) {
    Select(5, std::string(k8AD));
    st.Modbus_Reg_Addr = 6;  // the user's last request was the mode read
    ASSERT_TRUE(master.SendPoll(Read8AD(5)));
    Receive(ReadReply(5, 4, 24));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].handler, "KELM_8AD_Event");
    EXPECT_EQ(calls[0].command, 4);
    EXPECT_EQ(regAddrSeen[0], 0) << "read against the poll's own start register";
    EXPECT_EQ(st.Modbus_Reg_Addr, 6) << "the user's request is the latest again";
    EXPECT_EQ(poller.Count(PollEvent::Reply), 1);
}

struct MirrorCase {
    const char* name;
    std::uint8_t selected;
    std::string_view selectedModel;
    bool mirror;
    bool exception;
    bool reachesPanel;
};

class PollMirrorTable : public PollTest, public ::testing::WithParamInterface<MirrorCase> {};

TEST_P(PollMirrorTable, OnlyTheSelectedModulesOwnReadReachesItsPanel) {
    const MirrorCase& c = GetParam();
    Select(c.selected, std::string(c.selectedModel));
    ASSERT_TRUE(master.SendPoll(Read8AD(5, c.mirror)));
    Receive(c.exception ? FrameRtu(Hex("05 84 02")) : ReadReply(5, 4, 24));
    EXPECT_EQ(poller.Count(PollEvent::Reply), 1);
    EXPECT_EQ(calls.size(), c.reachesPanel ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, PollMirrorTable,
                         ::testing::Values(MirrorCase{"selected", 5, k8AD, true, false, true},
                                           MirrorCase{"not_mirrored", 5, k8AD, false, false, false},
                                           MirrorCase{"other_address", 6, k8AD, true, false, false},
                                           MirrorCase{"other_model", 5, k16I, true, false, false},
                                           MirrorCase{"exception", 5, k8AD, true, true, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PollTest, ReplyWithTheWrongByteCountIsNotThePolls) {
    Select(7, std::string(k8AD));
    ASSERT_TRUE(master.SendPoll(Read8AD(5)));
    Receive(ReadReply(5, 4, 16));  // an 8AS-sized answer: not to this request
    EXPECT_EQ(poller.Count(PollEvent::Reply), 0);
    EXPECT_EQ(master.Line(), LineState::Poll);
    EXPECT_EQ(watcher.verdicts.back(), ReceiveVerdict::OtherAddress);
}

TEST_F(PollTest, BadFrameEndsThePollAtOnce) {
    ASSERT_TRUE(master.SendPoll(Read8AD(5)));
    ByteString bad = ReadReply(5, 4, 24);
    bad.back() ^= 0x01;
    Receive(bad);
    ASSERT_EQ(poller.Count(PollEvent::Failed), 1);
    EXPECT_EQ(poller.events[0].why, PollFailure::BadReply);
    EXPECT_EQ(poller.Count(PollEvent::Free), 1);
    EXPECT_EQ(master.Line(), LineState::Free);
    EXPECT_FALSE(lineTimer.Enabled());
}

TEST_F(PollTest, ReplyStillArrivingWhenTheTimeIsUpIsAwaited) {
    ASSERT_TRUE(master.SendPoll(Read8AD(5)));
    const ByteString reply = ReadReply(5, 4, 24);
    Deliver(ByteString(reply.begin(), reply.begin() + 10));
    lineTimer.Tick();
    EXPECT_EQ(poller.Count(PollEvent::Failed), 0);
    EXPECT_EQ(master.Line(), LineState::Poll);
    Receive(ByteString(reply.begin() + 10, reply.end()));
    EXPECT_EQ(poller.Count(PollEvent::Reply), 1);
    EXPECT_EQ(master.Line(), LineState::Free);
}

TEST_F(PollTest, FollowUpSentByAHandlerKeepsTheUsersConversation) {
    Select(5, "KELM-16T");
    // A handler that reads back after a multi-coil write's echo, as the
    // output panels do.
    master.SetReplyHandler("KELM_16T_Event", [this](std::uint16_t cmd, const Frame&) {
        if (cmd == 15) master.Modbus_Send_oneWord(1, 0, 16);
    });
    master.Modbus_Send_oneWord(15, 0, 16);
    EXPECT_EQ(master.Line(), LineState::User);
    Receive(FrameRtu(Hex("05 0F 00 00 00 10")));
    EXPECT_EQ(sink.frames.size(), 2u);
    EXPECT_EQ(master.Line(), LineState::User);
    EXPECT_EQ(poller.Count(PollEvent::Free), 0);
    Receive(FrameRtu(Hex("05 01 02 00 00")));
    EXPECT_EQ(master.Line(), LineState::Free);
    EXPECT_EQ(poller.Count(PollEvent::Free), 1);
}

TEST_F(PollTest, UserRequestWithoutReplyFreesTheLineAfterItsTime) {
    master.Modbus_Send_oneWord(6, 8, 4000);
    EXPECT_FALSE(master.SendPoll(Read8AD(5)));
    lineTimer.Tick();
    EXPECT_EQ(master.Line(), LineState::Free);
    EXPECT_EQ(poller.Count(PollEvent::Free), 1);
    EXPECT_TRUE(master.SendPoll(Read8AD(5)));
}

TEST_F(PollTest, DetachingSendsWhatWasHeld) {
    ASSERT_TRUE(master.SendPoll(Read8AD(5)));
    master.Modbus_Send_oneWord(3, 0, 3);
    master.AttachPoller(nullptr, nullptr);
    ASSERT_EQ(sink.frames.size(), 2u);
    EXPECT_EQ(master.Line(), LineState::Free);
    EXPECT_FALSE(lineTimer.HasCallback());
    // And from now on, straight out.
    master.Modbus_Send_oneWord(3, 0, 3);
    EXPECT_EQ(sink.frames.size(), 3u);
}

// A scripted bus: polls of three modules back to back, user clicks at random
// moments, replies delayed at random, some lost. Every reply must be judged
// against its own request and every user request must reach the line.
TEST_F(PollTest, RandomInterleavingNeverMisjudgesNorLoses) {
    Select(2, std::string(k8AD));
    const PollRequest polls[] = {Read8AD(1, false), Read8AD(2, true),
                                 PollRequest{3, 2, 0, 16, k16I, false}};
    int next = 0;
    poller.onFree = [&] {
        if (master.SendPoll(polls[next % 3])) ++next;
    };
    poller.onFree();
    std::mt19937 rng(12345);
    int userRequests = 0;
    std::size_t answered = 0;  // frames in sink already answered (or lost)
    for (int step = 0; step < 3000; ++step) {
        const int r = static_cast<int>(rng() % 10);
        if (r == 0) {
            master.Modbus_Send_oneWord(3, 0, 3);  // the selected module's versions
            ++userRequests;
        } else if (r <= 6 && answered < sink.frames.size()) {
            // A slave answers soon or never: requests more than two behind
            // the newest are lost; of the rest, the oldest is answered.
            answered = std::max(answered, sink.frames.size() > 2 ? sink.frames.size() - 2 : 0);
            const ByteString req = sink.frames[answered++];
            if (rng() % 8 == 0) continue;
            const std::uint8_t a = req[0], fc = req[1];
            const std::uint16_t q = static_cast<std::uint16_t>(req[4] << 8 | req[5]);
            const std::uint8_t bc =
                fc <= 2 ? static_cast<std::uint8_t>((q + 7) / 8) : static_cast<std::uint8_t>(q * 2);
            Receive(ReadReply(a, fc, bc));
        } else {
            lineTimer.Tick();
        }
    }
    // Let everything outstanding finish.
    for (int i = 0; i < 10; ++i) lineTimer.Tick();
    int userFrames = 0;
    for (const ByteString& f : sink.frames)
        if (f[0] == 2 && f[1] == 3) ++userFrames;
    EXPECT_EQ(userFrames, userRequests) << "no user request lost";
    EXPECT_GT(poller.Count(PollEvent::Reply), 100);
    EXPECT_GT(userRequests, 100);
    EXPECT_EQ(watcher.misjudged, 0);
}

// The configuration transfer's requests go out through the codec like a
// click and wait behind a poll like one; their replies reach the tap, never
// a panel handler, and a poll's reply stays the poller's.
TEST_F(PollTest, AReplyTapTakesTheUsersRepliesAndLeavesThePollsToThePoller) {
    std::vector<ByteString> tapped;
    master.SetReplyTap([&](const Frame& f) { tapped.push_back(f.bytes()); });
    ASSERT_TRUE(master.SendPoll(Read8AD(5)));
    master.KELM_Uart_Send_String(FrameRtu(Hex("03 03 00 08 00 10")));
    EXPECT_EQ(sink.frames.size(), 1u) << "held while the poll is on the line";
    Receive(ReadReply(5, 4, 24));
    EXPECT_EQ(poller.Count(PollEvent::Reply), 1);
    EXPECT_TRUE(tapped.empty());
    ASSERT_EQ(sink.frames.size(), 2u);
    EXPECT_EQ(sink.frames[1], FrameRtu(Hex("03 03 00 08 00 10")));
    Receive(ReadReply(3, 3, 32));
    ASSERT_EQ(tapped.size(), 1u);
    EXPECT_EQ(tapped[0].size(), 35u);
    EXPECT_EQ(tapped[0][0], 3);
    EXPECT_TRUE(calls.empty()) << "no panel judged the transfer's reply";
    ASSERT_FALSE(watcher.verdicts.empty());
    EXPECT_EQ(watcher.verdicts.back(), ReceiveVerdict::ToModel);
    // An exception reply and another module's frame reach the tap too: the
    // transfer decides what answers it.
    Receive(FrameRtu(Hex("03 83 02")));
    EXPECT_EQ(tapped.size(), 2u);
    // Without the tap the panels have their replies again.
    master.SetReplyTap({});
    EXPECT_FALSE(master.HasReplyTap());
    master.Modbus_Send_oneWord(3, 0, 3);
    Receive(FrameRtu(Hex("03 03 06 00 0A 00 A1 00 B3")));
    EXPECT_EQ(tapped.size(), 2u);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].handler, "KELM_8AD_Event");
}

}  // namespace
}  // namespace kelm::test
