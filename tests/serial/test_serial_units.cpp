// The small parts of the serial library: the loop executor and its
// synchronised calls, the listener list, the timer, the device list, the
// terminal, log formatting, fatal errors, the DCB to termios translation,
// the data processor hooks and the monitor controls.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <utility>

#include "SerialTestSupport.h"
#include "serial/posix/Termios.h"

namespace kelm::test {
namespace {

// ---------------------------------------------------------------- executor

TEST(LoopExecutor, SynchronizeRunsOnTheGuiThreadWaitsAndPassesExceptions) {
    LoopExecutor ex;
    std::thread::id ranOn;
    std::atomic<bool> returned{false}, caught{false};
    std::thread worker([&] {
        EXPECT_TRUE(ex.Synchronize([&] { ranOn = std::this_thread::get_id(); }));
        returned = true;
        try {
            ex.Synchronize([] { throw std::runtime_error("boom"); });
        } catch (const std::runtime_error& e) {
            caught = std::string(e.what()) == "boom";
        }
    });
    EXPECT_TRUE(ex.RunUntil([&] { return caught.load(); }, 2000ms));
    worker.join();
    EXPECT_TRUE(returned);
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    bool inline_ran = false;  // on the GUI thread itself it runs at once
    EXPECT_TRUE(ex.Synchronize([&] { inline_ran = true; }));
    EXPECT_TRUE(inline_ran);
}

TEST(LoopExecutor, StopWithdrawsACallTheGuiThreadHasNotTaken) {
    LoopExecutor ex;
    std::atomic<int> runs{0}, result{-1};
    std::jthread worker(
        [&](std::stop_token st) { result = ex.Synchronize([&] { ++runs; }, st) ? 1 : 0; });
    std::this_thread::sleep_for(50ms);  // the call is queued, the loop does not run
    worker.request_stop();
    worker.join();  // returns without the GUI thread serving the call
    EXPECT_EQ(result.load(), 0);
    ex.RunFor(50ms);
    EXPECT_EQ(runs.load(), 0);
}

TEST(LoopExecutor, PostedCallsRunInOrderFromManyThreads) {
    LoopExecutor ex;
    std::vector<int> seen;
    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t)
        posters.emplace_back([&, t] {
            for (int i = 0; i < 250; ++i) ex.Post([&, t, i] { seen.push_back(t * 1000 + i); });
        });
    for (auto& p : posters) p.join();
    ex.ProcessEvents();
    ASSERT_EQ(seen.size(), 1000u);
    std::vector<int> last(4, -1);
    for (int v : seen) {
        EXPECT_GT(v % 1000, last[static_cast<size_t>(v / 1000)]);
        last[static_cast<size_t>(v / 1000)] = v % 1000;
    }
}

TEST(TksTimer, StopsFromItsHandlerIntervalZeroNeverFiresExceptionsAreSwallowed) {
    LoopExecutor ex;
    TksTimer timer(&ex);
    EXPECT_TRUE(timer.Enabled());
    EXPECT_EQ(timer.Interval(), 1000u);
    timer.SetInterval(5);
    int calls = 0;
    timer.SetOnTimer([&](TksTimer* sender) {
        EXPECT_EQ(sender, &timer);
        EXPECT_TRUE(ex.IsGuiThread());
        ++calls;
        sender->SetEnabled(false);  // stops from its own handler
    });
    TksTimer never(&ex);
    never.SetInterval(0);
    never.SetOnTimer([&](TksTimer*) { calls += 100; });
    int throws = 0;
    TksTimer thrower(&ex);
    thrower.SetInterval(5);
    thrower.SetOnTimer([&](TksTimer*) {
        ++throws;
        throw std::runtime_error("x");
    });
    ex.RunFor(100ms);
    EXPECT_EQ(calls, 1);
    EXPECT_GE(throws, 2);  // the timer goes on
}

// ------------------------------------------------------------ listener list

struct Listener {
    void OnNotify(TksComponent*, int code) { codes.push_back(code); }
    std::vector<int> codes;
};

TEST(TksNotifyList, OneEntryPerHandlerAndTargetAndSelfRemovalDuringACall) {
    Listener a, b;
    TksNotifyList list;
    list.Call(nullptr, 1);  // empty: nothing
    list.AddUnique(MakeNotifyEvent(&a, &Listener::OnNotify));
    list.AddUnique(MakeNotifyEvent(&a, &Listener::OnNotify));
    list.AddUnique(MakeNotifyEvent(&b, &Listener::OnNotify));
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.IndexOf(MakeNotifyEvent(&b, &Listener::OnNotify)), 1);
    list.Call(nullptr, 3);
    list.DeleteEqual(MakeNotifyEvent(&a, &Listener::OnNotify));
    EXPECT_EQ(list.IndexOf(MakeNotifyEvent(&a, &Listener::OnNotify)), -1);
    list.Call(nullptr, 2);
    EXPECT_EQ(a.codes, (std::vector<int>{3}));
    EXPECT_EQ(b.codes, (std::vector<int>{3, 2}));

    TksNotifyList selfish;
    int calls = 0;
    selfish.Add(MakeNotifyEvent(&selfish, 7, [&](TksComponent*, int) {
        ++calls;
        selfish.DeleteEqual(MakeNotifyEvent(&selfish, 7, nullptr));
    }));
    selfish.Add(MakeNotifyEvent(&calls, 8, [&](TksComponent*, int) { ++calls; }));
    selfish.Call(nullptr, 1);  // both entries present at the start are called
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(selfish.Count(), 1);
}

TEST(TksNotifyList, AListenerRemovedAndFreedByAnEarlierOneIsNotCalled) {
    TksNotifyList list;
    auto* doomed = new Listener;
    Listener last;
    const auto doomedEvent = MakeNotifyEvent(doomed, &Listener::OnNotify);
    int firstCalls = 0;
    list.Add(MakeNotifyEvent(&firstCalls, 1, [&](TksComponent*, int) {
        ++firstCalls;
        list.DeleteEqual(doomedEvent);
        delete doomed;  // its owner goes with it
        doomed = nullptr;
    }));
    list.Add(doomedEvent);
    list.Add(MakeNotifyEvent(&last, &Listener::OnNotify));
    list.Call(nullptr, 4);
    EXPECT_EQ(firstCalls, 1);
    EXPECT_EQ(last.codes, (std::vector<int>{4}));
    EXPECT_EQ(list.Count(), 2);

    // Replaced during a call: neither the old entry nor the new one is called
    // by that call; one added is called from the next call on.
    Listener replaced, added;
    TksNotifyList other;
    bool once = true;
    other.Add(MakeNotifyEvent(&replaced, 1, [&](TksComponent*, int) {
        if (!std::exchange(once, false)) return;
        other.Put(1, MakeNotifyEvent(&added, &Listener::OnNotify));
        other.Add(MakeNotifyEvent(&replaced, &Listener::OnNotify));
    }));
    other.Add(MakeNotifyEvent(&last, 2, [&](TksComponent*, int c) { last.codes.push_back(c); }));
    other.Call(nullptr, 5);
    EXPECT_EQ(last.codes, (std::vector<int>{4}));
    EXPECT_TRUE(added.codes.empty() && replaced.codes.empty());
    other.Call(nullptr, 6);
    EXPECT_EQ(added.codes, (std::vector<int>{6}));
    EXPECT_EQ(replaced.codes, (std::vector<int>{6}));
}

// ----------------------------------------------------- base: list, log, errors

TEST(TksBaseIO, DeviceListLookups) {
    LoopExecutor ex;
    TksComm com(&ex);
    EXPECT_EQ(com.GetDevice(-1), nullptr);
    EXPECT_EQ(com.GetDevice(0), nullptr);
    ListPort(com, 10, "/dev/null10");
    ListPort(com, 3, "/dev/null3");
    ASSERT_EQ(com.DeviceCount(), 2);
    EXPECT_EQ(com.GetDevice(0)->Data, 3);
    EXPECT_EQ(com.GetDevice(2), nullptr);
    EXPECT_EQ(com.IndexOfDeviceData(10), 1);
    EXPECT_EQ(com.IndexOfDeviceData(4), -1);
    EXPECT_EQ(com.IndexOfDevice(com.GetDevice(1)), 1);
    com.SetComPortNo(10);
    EXPECT_EQ(com.ComName(), "/dev/null10");
    TksDeviceList copy;
    com.GetDeviceList(&copy);
    ASSERT_EQ(copy.size(), 2u);
    EXPECT_EQ(copy[1].Text, "COM10");
    com.DeviceListClear();
    EXPECT_EQ(com.DeviceCount(), 0);
    EXPECT_EQ(copy[1].Device->PortName, "/dev/null10");  // shared records survive
    EXPECT_EQ(com.ComName(), "COM10");
}

TEST(TksBaseIO, LoggingGoesToTheSinkWithThePrefixInTheLogFormat) {
    const std::pair<std::string, std::vector<TksFmtArg>> in[] = {
        {"Try to send char %2Xh ...", {uint64_t{0x5}}},
        {"%02X|%-4d|%u|%x|%%", {uint64_t{0xA}, int64_t{7}, uint64_t{9}, uint64_t{255}}},
        {"n=%d s=%s", {int64_t{-5}, "z"}},
        {"missing %d and %s", {int64_t{1}}},
        {"trailing %", {}}};
    const char* out[] = {"Try to send char  5h ...", "0A|7   |9|ff|%", "n=-5 s=z",
                         "missing 1 and %s", "trailing %"};
    LoopExecutor ex;
    TksComm com(&ex);
    com.Logging(TDetailLevel::dlSimple, "no sink: nothing");
    {
        LogLines log;
        com.SetLog(&log);
        com.Logging(TDetailLevel::dlSimple, "");
        com.Logging(TDetailLevel::dlDetail, "hello");
        std::vector<std::string> want{"<sysinfo>", "ksComm: hello"};
        for (size_t i = 0; i < std::size(in); ++i) {
            EXPECT_EQ(KsFormat(in[i].first, in[i].second), out[i]) << in[i].first;
            com.LoggingFmt(TDetailLevel::dlDebug, in[i].first, in[i].second);
            want.push_back(std::string("ksComm: ") + out[i]);
        }
        EXPECT_EQ(log.Lines(), want);
    }
    // The sink was destroyed: the component forgot it.
    EXPECT_EQ(com.Log(), nullptr);
    com.Logging(TDetailLevel::dlSimple, "still fine");
}

TEST(TksBaseIO, APercentInTheLogPrefixIsText) {
    struct Prefixed : TksComm {
        explicit Prefixed(IExecutor* ex) : TksComm(ex) { sLogPrefix = "100%d %s: "; }
    };
    LoopExecutor ex;
    Prefixed com(&ex);
    LogLines log;
    com.SetLog(&log);
    com.LoggingFmt(TDetailLevel::dlDebug, "sent %u", {uint64_t{7}});
    com.Logging(TDetailLevel::dlDebug, "plain 5%");
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"100%d %s: sent 7", "100%d %s: plain 5%"}));
    com.SetLog(nullptr);
}

TEST(TksBaseIO, FatalErrorsWhileLoadingNeitherRaiseNorShow) {
    LoopExecutor ex;
    TksComm com(&ex);
    com.SetComPortNo(99);
    com.BeginLoading();
    com.SetActive(true);  // stored only
    EXPECT_TRUE(com.Active());
    LogLines log;
    com.SetLog(&log);
    // Applied after loading: the open fails and the failure is reported as
    // the box "error" / "Error", not raised.
    EXPECT_NO_THROW(com.Loaded());
    EXPECT_FALSE(com.Active());
    ASSERT_EQ(ex.ShownErrors().size(), 1u);
    EXPECT_EQ(ex.ShownErrors()[0], (std::pair<std::string, std::string>{"Error", "error"}));
    ASSERT_FALSE(log.Lines().empty());
    EXPECT_EQ(log.Lines().back(),
              "Fatal Error: 1, 0, Device \"COM99\" Open Error !!!\rNo such file or directory");
    com.SetLog(nullptr);
}

// ------------------------------------------------------------------ terminal

class FakeTerminal : public TksComponent, public IksTerminal {
  public:
    TksComponent* TerminalComponent() override { return this; }
    void SetDeviceIO(TksBaseIO* d) override { device = d; }
    void SetCharHook(std::function<bool(uint16_t)> h) override { hook = std::move(h); }
    void TypeChar(uint16_t ch) override { shown.push_back("char:" + std::to_string(ch)); }
    void InsertText(const std::string& t) override { shown.push_back("text:" + t); }
    // A key typed by the user: the hook decides whether it is shown.
    void UserTypes(uint16_t ch) {
        if (!hook || !hook(ch)) TypeChar(ch);
    }
    TksBaseIO* device = nullptr;
    std::function<bool(uint16_t)> hook;
    std::vector<std::string> shown;
};

class OnPty : public ::testing::Test {
  protected:
    void SetUp() override {
        ListPort(com, 5, pty.SlavePath());
        com.SetComPortNo(5);
        com.SetTerminal(&term);
        com.SetTerminalUsage(TTerminalUsage::tuBoth);
    }
    void TearDown() override {
        com.SetTerminal(nullptr);
        com.SetOnAfterReceive(nullptr);
        com.SetOnAfterSend(nullptr);
    }
    LoopExecutor ex;
    posix::Pty pty;
    TksComm com{&ex};
    FakeTerminal term;
};

TEST_F(OnPty, TerminalShowsReceivedBytesAndSendsTypedOnes) {
    EXPECT_EQ(term.device, &com);
    com.SetActive(true);
    WriteAll(pty.MasterFd(), "A\0B", 3);
    ASSERT_TRUE(ex.RunUntil([&] { return term.shown.size() >= 2; }, 2000ms));
    EXPECT_EQ(term.shown, (std::vector<std::string>{"text:A", "text:B"}));
    term.shown.clear();
    WriteAll(pty.MasterFd(), "Z", 1);
    ASSERT_TRUE(ex.RunUntil([&] { return !term.shown.empty(); }, 2000ms));
    EXPECT_EQ(term.shown, (std::vector<std::string>{"char:90"}));

    // Typing sends; without echo the character is not shown.
    term.shown.clear();
    term.UserTypes('q');
    EXPECT_TRUE(term.shown.empty());
    com.SetTerminalEcho(true);
    term.UserTypes('r');
    EXPECT_EQ(term.shown, (std::vector<std::string>{"char:114"}));
    EXPECT_EQ(ReadMaster(pty.MasterFd(), 2), "qr");

    // Receive-only: typing is not sent; send-only: nothing is shown.
    com.SetTerminalUsage(TTerminalUsage::tuReceive);
    term.UserTypes('x');
    com.SetTerminalUsage(TTerminalUsage::tuSend);
    term.shown.clear();
    WriteAll(pty.MasterFd(), "hidden", 6);
    ex.RunFor(100ms);
    EXPECT_TRUE(term.shown.empty());
    EXPECT_EQ(ReadMaster(pty.MasterFd(), 1, 100ms), "");

    com.SetTerminal(nullptr);
    EXPECT_EQ(term.device, nullptr);
    EXPECT_FALSE(term.hook);
}

// ------------------------------------------- data processor and monitor hooks

class KeepOutOfTerminal : public TksComponent, public IksDataProcessor {
  public:
    TksComponent* ProcessorComponent() override { return this; }
    void SetDevice(TksBaseIO* v) override { device = v; }
    void DoProcessing(const uint8_t* d, uint32_t n, TIgnoreTypes& R) override {
        seen.append(reinterpret_cast<const char*>(d), n);
        R.Include(TIgnoreType::itTerminal);
    }
    void DoAfterSendComplete(bool& flIgnore) override {
        ++sendCompletes;
        flIgnore = claimSendComplete;
    }
    TksBaseIO* device = nullptr;
    std::string seen;
    int sendCompletes = 0;
    bool claimSendComplete = true;
};

TEST_F(OnPty, DataProcessorSeesDataFirstAndMayClaimTheSendCompletion) {
    std::string handed;
    com.SetOnAfterReceive([&](TksBaseIO*, const uint8_t* b, uint32_t n) {
        handed.append(reinterpret_cast<const char*>(b), n);
    });
    int afterSend = 0;
    com.SetOnAfterSend([&](TksBaseIO*) { ++afterSend; });
    {
        KeepOutOfTerminal proc;
        com.SetDataProcessor(&proc);
        EXPECT_EQ(proc.device, &com);
        com.SetActive(true);
        WriteAll(pty.MasterFd(), "data", 4);
        ASSERT_TRUE(ex.RunUntil([&] { return handed == "data"; }, 2000ms));
        EXPECT_EQ(proc.seen, "data");
        EXPECT_TRUE(term.shown.empty());  // the processor kept it out

        com.SendString("w");  // no trace state asked: no send completion
        ex.RunFor(100ms);
        EXPECT_EQ(proc.sendCompletes + afterSend, 0);
        com.SetTraceStates({TTraceState::tsTxEmpty});
        com.SendString("x");
        ASSERT_TRUE(ex.RunUntil([&] { return proc.sendCompletes >= 1; }, 2000ms));
        EXPECT_EQ(afterSend, 0);  // claimed by the processor
        proc.claimSendComplete = false;
        com.SendString("y");
        ASSERT_TRUE(ex.RunUntil([&] { return afterSend >= 1; }, 2000ms));
    }
    // The processor is gone: the component forgot it and goes on.
    EXPECT_EQ(com.DataProcessor(), nullptr);
    WriteAll(pty.MasterFd(), "more", 4);
    ASSERT_TRUE(ex.RunUntil([&] { return handed == "datamore"; }, 2000ms));
    EXPECT_EQ(term.shown, (std::vector<std::string>{"text:more"}));
}

class Lamp : public TksComponent, public IksCheckable {
  public:
    void SetChecked(bool v) override { states.push_back(v); }
    std::vector<bool> states;
};

TEST(TksComm, MonitorControlsFollowTheModemLinesOnEveryReport) {
    LoopExecutor ex;
    TksComm com(&ex);
    Lamp cts, dsr, rlsd, ring;
    com.SetMonitorCTS(&cts);
    com.SetMonitorDSR(&dsr);
    com.SetMonitorRLSD(&rlsd);
    com.SetMonitorRing(&ring);
    std::vector<uint16_t> traces;
    com.SetOnTraceState([&](TksBaseIO*, TTraceStates s) { traces.push_back(s.Bits()); });
    com.SetActive(false);  // closed already: nothing
    EXPECT_TRUE(traces.empty());
    // A report with the port closed: the lines read empty.
    com.DoTraceStates(&com, {TTraceState::tsRing, TTraceState::tsCTS});
    for (Lamp* l : {&cts, &dsr, &rlsd}) EXPECT_EQ(l->states, (std::vector<bool>{false}));
    EXPECT_EQ(ring.states, (std::vector<bool>{true}));  // set, never reset
    com.DoTraceStates(&com, {TTraceState::tsTxEmpty});
    EXPECT_EQ(ring.states.size(), 1u);
    EXPECT_EQ(traces.size(), 2u);
    {
        Lamp gone;
        com.SetMonitorCTS(&gone);
    }
    EXPECT_EQ(com.MonitorCTS(), nullptr);
    com.SetOnTraceState(nullptr);
}

// ------------------------------------------------------------ DCB and termios

TDCB Dcb(uint32_t baud, uint8_t size, TParity p, TStopBits s, uint32_t flags) {
    TDCB d;
    d.BaudRate = baud;
    d.ByteSize = size;
    d.Parity = static_cast<uint8_t>(p);
    d.StopBits = static_cast<uint8_t>(s);
    d.Flags = flags;
    d.XonChar = 0x11;
    d.XoffChar = 0x13;
    return d;
}

TEST(Termios, LineSettingsTranslateAndReadBack) {
    using P = TParity;
    using S = TStopBits;
    const tcflag_t kCflags = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
    struct Case {
        TDCB dcb;
        speed_t speed;
        tcflag_t cflag;  // of kCflags
        tcflag_t iflag;  // of IXON | IXOFF
    } cases[] = {
        {Dcb(9600, 7, P::pEven, S::sbOne, dcbFlagProtocolNone | DCB_fParity), B9600, CS7 | PARENB,
         0},
        {Dcb(115200, 8, P::pNone, S::sbTwo, dcbFlagProtocolNone), B115200, CS8 | CSTOPB, 0},
        {Dcb(1200, 8, P::pOdd, S::sbOne, 0), B1200, CS8 | PARENB | PARODD, 0},
        {Dcb(2400, 8, P::pMark, S::sbOne, 0), B2400, CS8 | PARENB | PARODD | CMSPAR, 0},
        {Dcb(4800, 8, P::pSpace, S::sbOneAndHalf, 0), B4800, CS8 | PARENB | CMSPAR | CSTOPB, 0},
        {Dcb(19200, 8, P::pNone, S::sbOne, dcbFlagProtocolHardware), B19200, CS8 | CRTSCTS, 0},
        {Dcb(38400, 8, P::pNone, S::sbOne, dcbFlagProtocolXOnXOff), B38400, CS8, IXON | IXOFF},
        {Dcb(57600, 8, P::pNone, S::sbOne, dcbFlagProtocolRS485), B57600, CS8, 0},
    };
    termios t{};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dcb.BaudRate);
        ASSERT_TRUE(posix::DcbToTermios(c.dcb, t));
        EXPECT_EQ(cfgetospeed(&t), c.speed);
        EXPECT_EQ(cfgetispeed(&t), c.speed);
        EXPECT_EQ(t.c_cflag & kCflags, c.cflag);
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF), c.iflag);
        EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), CLOCAL | CREAD);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
        EXPECT_EQ(t.c_oflag & OPOST, 0u);
        EXPECT_EQ(t.c_iflag & (ICRNL | INPCK), 0u);
        if (c.iflag) {
            EXPECT_EQ(t.c_cc[VSTART] * 256 + t.c_cc[VSTOP], 0x1113);
        }
    }
    // A rate termios does not offer leaves the speed as it was.
    EXPECT_FALSE(posix::DcbToTermios(Dcb(12345, 8, P::pNone, S::sbOne, 0), t));
    EXPECT_EQ(cfgetospeed(&t), B57600);

    for (TParity p : {P::pNone, P::pOdd, P::pEven, P::pMark, P::pSpace}) {
        posix::DcbToTermios(Dcb(38400, 7, p, S::sbTwo, dcbFlagProtocolHardware), t);
        TDCB back;
        posix::TermiosToDcb(t, back);
        EXPECT_EQ(back.BaudRate, 38400u);
        EXPECT_EQ(back.ByteSize, 7);
        EXPECT_EQ(back.Parity, static_cast<uint8_t>(p));
        EXPECT_EQ(back.StopBits, 2);
        EXPECT_EQ(back.Flags & dcbFlagProtocolHardware & ~DCB_fBinary & ~0x10u,
                  DCB_fOutxCtsFlow | (RTS_CONTROL_HANDSHAKE << 12));
    }
}

}  // namespace
}  // namespace kelm::test
