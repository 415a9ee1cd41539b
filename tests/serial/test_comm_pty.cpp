// The serial component on real kernel ttys (pseudo-terminals): open and
// close, exclusive access, settings reaching the driver, traffic in both
// directions, lost ports and closing under load.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <termios.h>

#include <atomic>
#include <thread>

#include "SerialTestSupport.h"

namespace kelm::test {
namespace {

class CommPty : public ::testing::Test {
  protected:
    void SetUp() override {
        com = std::make_unique<TksComm>(&ex);
        com->SetStreamProtocol(TStreamProtocol::spNone);
        ListPort(*com, 5, pty.SlavePath());
        com->SetComPortNo(5);
        com->NotifyAdd(
            MakeNotifyEvent(this, 1, [this](TksComponent*, int code) { codes.push_back(code); }));
        com->SetOnClose([this](TksComponent*) {
            ++closes;
            closedNow = true;
        });
        com->SetOnOpen([this](TksComponent*) { closedNow = false; });
        com->SetOnTraceState([this](TksBaseIO*, TTraceStates s) { traces.push_back(s.Bits()); });
        codes.clear();
    }
    // Handlers a test set on its own locals must not outlive it.
    void TearDown() override {
        com->SetOnAfterReceive(nullptr);
        com->SetOnAfterSend(nullptr);
        com->SetOnFatalError(nullptr);
        com->SetOnOpen(nullptr);
        com.reset();
    }

    void Receive() {
        com->SetOnAfterReceive([this](TksBaseIO* c, const uint8_t* b, uint32_t n) {
            EXPECT_TRUE(ex.IsGuiThread());
            // A lost port may vanish at any moment, but once OnClose has
            // been raised nothing is delivered any more.
            EXPECT_FALSE(closedNow);
            EXPECT_EQ(c, com.get());
            EXPECT_GE(n, 1u);
            EXPECT_LE(n, com->ReceiveBufferSize());
            received.append(reinterpret_cast<const char*>(b), n);
            ++chunks;
        });
    }

    LoopExecutor ex;
    posix::Pty pty;
    std::unique_ptr<TksComm> com;
    std::vector<int> codes;
    std::vector<uint16_t> traces;
    int closes = 0;
    std::string received;
    int chunks = 0;
    int csClosedSeen = 0;
    bool closedNow = true;
};

const uint16_t kTxEmpty = TTraceStates{TTraceState::tsTxEmpty}.Bits();

TEST_F(CommPty, OpensClosesAndReopens) {
    com->SetActive(true);
    ASSERT_TRUE(com->Active());
    EXPECT_EQ(com->ComName(), pty.SlavePath());
    EXPECT_NE(com->Handle(), kInvalidHandle);
    EXPECT_EQ(com->ReceiveBufferSize(), 8192u);
    EXPECT_EQ(codes, (std::vector<int>{csOpened}));
    EXPECT_EQ(traces, (std::vector<uint16_t>{kTxEmpty}));  // the close that begins an open

    com->SetActive(true);  // already open: nothing
    EXPECT_EQ(codes.size(), 1u);
    EXPECT_EQ(traces.size(), 1u);

    com->SetActive(false);
    EXPECT_FALSE(com->Active());
    EXPECT_EQ(com->Handle(), kInvalidHandle);
    EXPECT_EQ(com->ReceiveBufferSize(), 0u);
    EXPECT_EQ(codes, (std::vector<int>{csOpened, csClosed}));
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(traces.size(), 2u);

    com->SetActive(false);  // already closed: nothing
    EXPECT_EQ(codes.size(), 2u);
    EXPECT_EQ(traces.size(), 2u);
}

TEST_F(CommPty, OpenFailureRaisesWithTheMessageAndStaysClosed) {
    bool opened = false;
    com->SetOnOpen([&](TksComponent*) {
        opened = true;
        closedNow = false;
    });
    std::vector<std::string> fatal;
    com->SetOnFatalError(
        [&](TksComponent*, uint32_t code, uint32_t detail, const std::string& m, bool& raise) {
            EXPECT_EQ(code, 1u);
            EXPECT_EQ(detail, 0u);
            EXPECT_TRUE(raise);
            fatal.push_back(m);
        });
    com->SetComPortNo(77);  // nothing listed: opened by the name "COM77"
    traces.clear();
    const std::string expected = "Device \"COM77\" Open Error !!!\rNo such file or directory";
    EXPECT_EQ(ErrorOf([&] { com->SetActive(true); }), expected);
    EXPECT_FALSE(com->Active());
    EXPECT_FALSE(opened);
    EXPECT_EQ(fatal, (std::vector<std::string>{expected}));
    EXPECT_EQ(com->LastErrorString(), expected);
    EXPECT_EQ(traces, (std::vector<uint16_t>{kTxEmpty}));
    EXPECT_EQ(com->ReceiveBufferSize(), 0u);

    // A handler that clears the flag suppresses the exception.
    com->SetOnFatalError(
        [](TksComponent*, uint32_t, uint32_t, const std::string&, bool& raise) { raise = false; });
    EXPECT_NO_THROW(com->SetActive(true));
    EXPECT_FALSE(com->Active());
}

TEST_F(CommPty, SecondOpenFailsInThisAndInAnotherProcess) {
    com->SetActive(true);
    ASSERT_TRUE(com->Active());

    TksComm other(&ex);
    ListPort(other, 5, pty.SlavePath());
    other.SetComPortNo(5);
    EXPECT_EQ(ErrorOf([&] { other.SetActive(true); }),
              "Device \"" + pty.SlavePath() + "\" Open Error !!!\rDevice or resource busy");
    EXPECT_FALSE(other.Active());

    // Another process asking the way the component asks is refused too.
    const std::string path = pty.SlavePath();
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) _exit(0);                              // refused at open (TIOCEXCL)
        _exit(flock(fd, LOCK_EX | LOCK_NB) != 0 ? 0 : 1);  // refused by the lock
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "another process got the port";

    com->SetActive(false);
    EXPECT_NO_THROW(other.SetActive(true));
    EXPECT_TRUE(other.Active());
}

TEST_F(CommPty, SettingsChangedWhileOpenReachTheDriver) {
    com->SetActive(true);
    termios t{};
    com->SetBaudRate(9600);
    com->SetStopBits(TStopBits::sbTwo);
    ASSERT_EQ(tcgetattr(pty.MasterFd(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), B9600);
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);

    com->SetBaudRate(115200);
    com->SetStopBits(TStopBits::sbOne);
    ASSERT_EQ(tcgetattr(pty.MasterFd(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), B115200);
    EXPECT_EQ(t.c_cflag & CSTOPB, 0u);

    // 7E1 is refused or reduced by a pty; the port must go on working.
    com->SetByteSize(7);
    com->SetParity(TParity::pEven);
    EXPECT_TRUE(com->Active());
    com->SendString(std::string("\x01\x7F\xFF", 3));
    EXPECT_EQ(ReadMaster(pty.MasterFd(), 3), std::string("\x01\x7F\xFF", 3));
}

TEST_F(CommPty, TrafficInBothDirectionsAtOnceEveryByteValueCounted) {
    com->SendString("ignored while closed");
    EXPECT_EQ(com->TotalSent(), 0u);
    Receive();
    com->SetActive(true);
    std::string fromPeer;
    for (int r = 0; r < 40; ++r)
        for (int i = 0; i < 256; ++i) fromPeer += static_cast<char>((i * 7 + r) & 0xFF);
    std::string all, toPeer;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    const std::string expected = all + "\xA5\x0D\x0A" + all;
    std::thread peer([&] {
        WriteAll(pty.MasterFd(), fromPeer.data(), fromPeer.size());
        toPeer = ReadMaster(pty.MasterFd(), expected.size(), 5000ms);
    });
    com->SendString(all);
    com->SendString("");
    com->SendChar(0x1A5);  // the low byte only
    com->SendString(std::vector<uint8_t>{0x0D, 0x0A});
    for (int i = 0; i < 256; ++i) {
        com->SendString(all.substr(static_cast<size_t>(i), 1));
        ex.ProcessEvents();
    }
    EXPECT_TRUE(ex.RunUntil([&] { return received.size() >= fromPeer.size(); }, 5000ms));
    peer.join();
    EXPECT_TRUE(received == fromPeer) << received.size() << " of " << fromPeer.size();
    EXPECT_EQ(com->TotalReceived(), fromPeer.size());
    EXPECT_TRUE(toPeer == expected) << toPeer.size() << " of " << expected.size();
    EXPECT_EQ(com->TotalSent(), expected.size());
    com->SetActive(false);
    com->SetActive(true);
    EXPECT_EQ(com->TotalSent(), 0u);  // counted since the last open
}

// A stream far larger than the input queue (64 KiB) and the tty's own
// buffer: the event wait reads it on as it comes, the GUI thread's receive
// processing (and, in the second case, queries of the queue state between
// deliveries, which read the tty themselves) take their share; nothing may
// be lost, doubled or reordered, whoever read it.
TEST_F(CommPty, AStreamLargerThanTheQueueArrivesWholeAndInOrder) {
    const struct {
        const char* name;
        bool queryBetween;
    } kCases[] = {{"receive processing only", false}, {"with queue queries between", true}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        received.clear();
        Receive();
        com->SetActive(true);
        ASSERT_TRUE(com->Active());
        std::string stream(4u << 20, '\0');
        for (size_t i = 0; i < stream.size(); ++i)
            stream[i] = static_cast<char>((i * 131 + i / 251) & 0xFF);
        std::thread peer([&] { WriteAll(pty.MasterFd(), stream.data(), stream.size()); });
        EXPECT_TRUE(ex.RunUntil(
            [&] {
                if (c.queryBetween) com->ReadyForRead();
                return received.size() >= stream.size();
            },
            30000ms));
        peer.join();
        EXPECT_TRUE(received == stream) << received.size() << " of " << stream.size();
        EXPECT_EQ(com->TotalReceived(), stream.size());
        com->SetActive(false);
    }
}

TEST_F(CommPty, AWriteTheLineDoesNotTakeFailsAfterTheTimeOut) {
    std::vector<uint32_t> sysErrors;
    com->SetOnCommError([&](TksBaseIO*, uint32_t code, uint32_t sys, uint8_t, bool&) {
        EXPECT_EQ(code, 0u);
        sysErrors.push_back(sys);
    });
    com->SetTimeoutWrite(200);
    com->SetActive(true);
    // Nobody reads the other end: the tty fills up and stays full.
    const std::string big(1 << 20, 'w');
    const auto start = std::chrono::steady_clock::now();
    EXPECT_NO_THROW(com->SendString(big));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_EQ(sysErrors, (std::vector<uint32_t>{ETIMEDOUT}));
    EXPECT_EQ(com->TotalSent(), 0u);
    EXPECT_TRUE(com->Active());
    com->SetOnCommError(nullptr);
}

TEST_F(CommPty, BytesWithoutAReceiverWaitForTheNextArrival) {
    com->SetActive(true);
    WriteAll(pty.MasterFd(), "0123456789", 10);
    ASSERT_TRUE(ex.RunUntil([&] { return com->TotalReceived() >= 10; }, 2000ms));
    ex.RunFor(100ms);
    EXPECT_EQ(com->ReadyForRead(), 10u);  // not read: nobody wants them
    // Every arrival event counts the whole queue (the driver may wake more
    // than once for one write).
    const uint32_t before = com->TotalReceived();
    EXPECT_EQ(before % 10, 0u);
    WriteAll(pty.MasterFd(), "abcde", 5);
    ASSERT_TRUE(ex.RunUntil([&] { return com->TotalReceived() >= before + 15; }, 2000ms));
    ex.RunFor(100ms);
    EXPECT_EQ((com->TotalReceived() - before) % 15, 0u);
    EXPECT_EQ(com->ReadyForRead(), 15u);
    Receive();
    WriteAll(pty.MasterFd(), "!", 1);
    ASSERT_TRUE(ex.RunUntil([&] { return received.size() == 16; }, 2000ms));
    EXPECT_EQ(received, "0123456789abcde!");
}

TEST_F(CommPty, ComPortNoChangeWhileOpenClosesOpensAndNotifies) {
    posix::Pty second;
    ListPort(*com, 6, second.SlavePath());
    Receive();
    com->SetActive(true);
    codes.clear();
    com->SetComPortNo(6);
    EXPECT_EQ(codes, (std::vector<int>{csClosed, csOpened, csDeviceIdChanged}));
    ASSERT_TRUE(com->Active());
    EXPECT_EQ(com->ComName(), second.SlavePath());
    WriteAll(second.MasterFd(), "six", 3);
    EXPECT_TRUE(ex.RunUntil([&] { return received == "six"; }, 2000ms));
}

TEST_F(CommPty, LostPortWhileTrafficFlowsEndsClosed) {
    Receive();
    com->NotifyAdd(MakeNotifyEvent(this, 2, [this](TksComponent*, int code) {
        if (code == csClosed) {
            EXPECT_TRUE(ex.IsGuiThread());
            ++csClosedSeen;
        }
    }));
    com->SetActive(true);
    std::atomic<bool> go{true};
    const int master = pty.ReleaseMaster();
    std::thread peer([&] {
        const std::string chunk(512, 'x');
        for (int i = 0; i < 200 && go; ++i) WriteAll(master, chunk.data(), chunk.size());
        ::close(master);  // the plug is pulled while bytes flow
    });
    EXPECT_TRUE(ex.RunUntil([&] { return !com->Active() && csClosedSeen == 1; }, 5000ms));
    go = false;
    peer.join();
    EXPECT_FALSE(com->Active());
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(csClosedSeen, 1);
    const size_t got = received.size();
    ex.RunFor(100ms);
    EXPECT_EQ(received.size(), got);  // nothing after the close

    // Closing again does nothing more; the port opens again on a new tty.
    com->SetActive(false);
    EXPECT_EQ(closes, 1);
    posix::Pty fresh;
    ListPort(*com, 7, fresh.SlavePath());
    com->SetComPortNo(7);
    com->SetActive(true);
    EXPECT_TRUE(com->Active());
}

TEST_F(CommPty, KeepConnectionTimerRunsOnceAfterALostPort) {
    LogLines sink;
    com->SetLog(&sink);
    com->SetKeepConnection(true);
    com->SetActive(true);
    EXPECT_TRUE(sink.Has("ksComm: The port " + pty.SlavePath() + " is opened succesfully"));
    pty.CloseMaster();
    ASSERT_TRUE(ex.RunUntil([&] { return closes == 1; }, 2000ms));
    ASSERT_TRUE(ex.RunUntil([&] { return com->KeepConnectionTimer() != nullptr; }, 1000ms));
    EXPECT_TRUE(com->KeepConnectionTimer()->Enabled());
    EXPECT_TRUE(
        ex.RunUntil([&] { return sink.Has("ksComm: Try to keep connection ..."); }, 4000ms));
    EXPECT_FALSE(com->KeepConnectionTimer()->Enabled());
    com->SetLog(nullptr);
}

TEST_F(CommPty, CloseWhileTheDispatchThreadWaitsForTheGuiThread) {
    Receive();
    com->SetActive(true);
    WriteAll(pty.MasterFd(), "abc", 3);
    // The loop does not run: the dispatch thread is left waiting in its
    // synchronised call.
    std::this_thread::sleep_for(200ms);
    com->SetActive(false);  // must not deadlock
    EXPECT_FALSE(com->Active());
    ex.RunFor(200ms);
    EXPECT_EQ(chunks, 0);  // the withdrawn call delivered nothing
}

TEST_F(CommPty, ReceiveOnTheDispatchThreadWithoutTheGuiThread) {
    com->SetUseMainThread(false);
    std::mutex m;
    std::string got;
    std::atomic<bool> offGui{true};
    com->SetOnAfterReceive([&](TksBaseIO*, const uint8_t* b, uint32_t n) {
        if (ex.IsGuiThread()) offGui = false;
        std::lock_guard l(m);
        got.append(reinterpret_cast<const char*>(b), n);
    });
    com->SetActive(true);
    std::string sent(20000, 'q');
    std::thread writer([&] { WriteAll(pty.MasterFd(), sent.data(), sent.size()); });
    // Meanwhile the GUI thread keeps changing what receive processing reads.
    for (int i = 0; i < 200; ++i) {
        com->SetTraceStates(i % 2 ? TTraceStates{} : TTraceStates{TTraceState::tsRing});
        com->SetBaudRate(i % 2 ? 9600 : 19200);
        (void)com->TotalReceived();
    }
    writer.join();
    EXPECT_TRUE(ex.RunUntil(
        [&] {
            std::lock_guard l(m);
            return got.size() >= sent.size();
        },
        5000ms));
    EXPECT_TRUE(offGui);
    com->SetActive(false);
    std::lock_guard l(m);
    EXPECT_TRUE(got == sent) << got.size() << " of " << sent.size();
}

// Regression: closing from a handler on the dispatch thread once left the
// thread running; both threads are shown here.
TEST_F(CommPty, CloseFromInsideTheReceiveHandlerOnEitherThread) {
    for (bool mainThread : {true, false}) {
        SCOPED_TRACE(mainThread ? "GUI thread" : "dispatch thread");
        com->SetUseMainThread(mainThread);
        std::atomic<int> calls{0}, closesSeen{0};
        // OnClose runs on the closing thread: count it atomically.
        com->SetOnClose([&](TksComponent*) { ++closesSeen; });
        com->SetOnAfterReceive([&](TksBaseIO* c, const uint8_t*, uint32_t) {
            ++calls;
            c->SetActive(false);
        });
        com->SetActive(true);
        WriteAll(pty.MasterFd(), "bye", 3);
        ASSERT_TRUE(ex.RunUntil([&] { return closesSeen.load() == 1; }, 2000ms));
        EXPECT_FALSE(com->Active());
        WriteAll(pty.MasterFd(), "more", 4);
        ex.RunFor(100ms);
        EXPECT_EQ(calls.load(), 1);
        // It opens again and delivers.
        com->SetOnAfterReceive([&](TksBaseIO*, const uint8_t*, uint32_t) { ++calls; });
        com->SetActive(true);
        WriteAll(pty.MasterFd(), "again", 5);
        EXPECT_TRUE(ex.RunUntil([&] { return calls.load() >= 2; }, 2000ms));
        com->SetActive(false);
        EXPECT_EQ(closesSeen.load(), 2);
        com->SetOnClose(nullptr);
    }
}

TEST_F(CommPty, RS485DirectionIsDrivenByTheComponentOnAPty) {
    com->SetRS485Mode(true);
    com->SetActive(true);
    EXPECT_TRUE(com->IsNotSupportRS485());  // a pty has no RS-485 mode
    EXPECT_EQ(com->CommConfig().dcb.Flags, dcbFlagProtocolRS485);
    EXPECT_EQ(com->Device().Mask() & EV_TXEMPTY, EV_TXEMPTY);
    com->SendString("485");
    EXPECT_EQ(ReadMaster(pty.MasterFd(), 3), "485");
    com->SetRS485Mode(false);
    EXPECT_EQ(com->Device().Mask(), EV_RXCHAR);
}

TEST_F(CommPty, ThousandOpenCloseCyclesUnderTraffic) {
    pty.HoldSlaveOpen();  // the peer's writes do not fail while we are closed
    std::atomic<bool> run{true};
    std::thread peer([&] {
        const std::string chunk(64, 'z');
        while (run) {
            if (::write(pty.MasterFd(), chunk.data(), chunk.size()) < 0)
                std::this_thread::sleep_for(1ms);
        }
    });
    int deliveries = 0;
    com->SetOnAfterReceive([&](TksBaseIO* c, const uint8_t*, uint32_t n) {
        EXPECT_TRUE(c->Active());
        EXPECT_GE(n, 1u);
        ++deliveries;
    });
    for (int i = 0; i < 1000; ++i) {
        com->SetActive(true);
        ASSERT_TRUE(com->Active());
        ex.ProcessEvents();
        if (i % 10 == 0) ex.RunFor(2ms);
        com->SetActive(false);
        ASSERT_FALSE(com->Active());
    }
    run = false;
    peer.join();
    ex.RunFor(50ms);
    EXPECT_GT(deliveries, 0);
    EXPECT_EQ(closes, 1000);
}

}  // namespace
}  // namespace kelm::test
