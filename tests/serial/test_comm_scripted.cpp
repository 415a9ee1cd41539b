// Receive processing against a scripted backend: chunking of a large queue,
// line errors, a vanished port, write failures and the defaults of a new
// component with its DCB flag masks.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include "FakeSerialDevice.h"
#include "SerialTestSupport.h"

namespace kelm::test {
namespace {

class CommScripted : public ::testing::Test {
  protected:
    void SetUp() override {
        auto dev = std::make_unique<FakeSerialDevice>(script);
        fake = dev.get();
        com = std::make_unique<TksComm>(&ex, std::move(dev));
        com->SetOnClose([this](TksComponent*) { ++closes; });
        com->SetOnCommError(
            [this](TksBaseIO*, uint32_t code, uint32_t sys, uint8_t state, bool& flush) {
                errors.push_back({code, sys, state});
                flush = flushOnError;
            });
    }
    // Handlers a test set on its own locals must not outlive it.
    void TearDown() override {
        com->SetOnTraceState(nullptr);
        com->SetOnAfterSend(nullptr);
        com->SetOnFatalError(nullptr);
        com.reset();
    }
    void Receive() {
        com->SetOnAfterReceive([this](TksBaseIO*, const uint8_t* b, uint32_t n) {
            sizes.push_back(n);
            received.append(reinterpret_cast<const char*>(b), n);
        });
    }
    struct Err {
        uint32_t code, sys;
        uint8_t state;
        bool operator==(const Err&) const = default;
    };

    LoopExecutor ex;
    std::shared_ptr<FakeSerialDevice::Script> script = std::make_shared<FakeSerialDevice::Script>();
    FakeSerialDevice* fake = nullptr;
    std::unique_ptr<TksComm> com;
    std::vector<uint32_t> sizes;
    std::string received;
    std::vector<Err> errors;
    bool flushOnError = false;
    int closes = 0;
    std::vector<int> codes;
};

TEST_F(CommScripted, QueueLargerThanTheBufferIsDeliveredInChunksOfOneEvent) {
    Receive();
    com->SetBufferInSize(1024);  // below the minimum: the buffer is still 8192
    com->SetActive(true);
    ASSERT_EQ(com->ReceiveBufferSize(), 8192u);
    std::string burst(20000, '\0');
    for (size_t i = 0; i < burst.size(); ++i) burst[i] = static_cast<char>(i * 31 % 256);
    fake->PushInput(burst);  // one driver event
    ASSERT_TRUE(ex.RunUntil([&] { return received.size() == burst.size(); }, 2000ms));
    EXPECT_EQ(sizes, (std::vector<uint32_t>{8192, 8192, 3616}));
    EXPECT_TRUE(received == burst) << received.size();
    EXPECT_EQ(com->TotalReceived(), 20000u);
}

TEST_F(CommScripted, LineErrorsAreReportedAndTheBytesStayQueued) {
    Receive();
    com->SetActive(true);
    fake->Locked([](auto& s) { s.errors = CE_FRAME | CE_RXPARITY; });
    fake->PushInput("hello");
    ASSERT_TRUE(ex.RunUntil([&] { return errors.size() == 1; }, 2000ms));
    EXPECT_EQ(errors[0], (Err{CE_FRAME | CE_RXPARITY, 0, 0}));
    EXPECT_TRUE(received.empty());
    EXPECT_EQ(com->ReadyForRead(), 5u);
    EXPECT_TRUE(com->Active());
    // The next event reads them.
    fake->PushInput("!");
    ASSERT_TRUE(ex.RunUntil([&] { return received == "hello!"; }, 2000ms));

    // A handler asking for it clears all buffers.
    flushOnError = true;
    fake->Locked([](auto& s) { s.errors = CE_OVERRUN; });
    fake->PushInput("lost");
    ASSERT_TRUE(ex.RunUntil([&] { return errors.size() == 2; }, 2000ms));
    std::lock_guard l(script->mutex);
    EXPECT_EQ(script->purges.back(), 0x0Fu);
    EXPECT_TRUE(script->input.empty());
}

TEST_F(CommScripted, AllFiveErrorFlagsCloseThePortLikeALostOne) {
    Receive();
    com->NotifyAdd(MakeNotifyEvent(this, 1, [this](TksComponent*, int c) { codes.push_back(c); }));
    com->SetActive(true);
    codes.clear();
    fake->Locked([](auto& s) { s.errors = CE_PORT_LOST; });
    fake->PushInput("x");
    ASSERT_TRUE(ex.RunUntil([&] { return !com->Active(); }, 2000ms));
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(codes, (std::vector<int>{csClosed}));
    EXPECT_TRUE(errors.empty());
    EXPECT_TRUE(received.empty());
    EXPECT_NO_THROW(com->SetActive(false));
    EXPECT_NO_THROW(com->SetActive(true));
    EXPECT_TRUE(com->Active());
}

TEST_F(CommScripted, AFailedWriteIsACommErrorNotAnException) {
    com->SetActive(true);
    fake->Locked([](auto& s) { s.writeError = ETIMEDOUT; });
    EXPECT_NO_THROW(com->SendString("abc"));
    EXPECT_EQ(errors, (std::vector<Err>{{0, ETIMEDOUT, 0}}));
    EXPECT_EQ(com->TotalSent(), 0u);
    fake->Locked([](auto& s) { s.writeError = 0; });
    com->SendString("abc");
    com->SendData(reinterpret_cast<const uint8_t*>("de"), 2);
    com->SendAheadChar(0x146);
    EXPECT_EQ(com->TotalSent(), 6u);
    std::lock_guard l(script->mutex);
    EXPECT_EQ(script->written, "abcdeF");
}

TEST_F(CommScripted, AWriteThatFindsTheDeviceGoneLosesThePort) {
    com->NotifyAdd(MakeNotifyEvent(this, 1, [this](TksComponent*, int c) { codes.push_back(c); }));
    struct Case {
        int error;
        bool lost;
    } cases[] = {{EIO, true}, {ENXIO, true}, {ETIMEDOUT, false}, {EAGAIN, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        fake->Locked([](auto& s) { s.writeError = 0; });
        com->SetActive(true);
        ASSERT_TRUE(com->Active());
        codes.clear();
        errors.clear();
        closes = 0;
        fake->Locked([&](auto& s) { s.writeError = c.error; });
        com->SendString("abc");
        // Always a comm error; a vanished device also closes the port.
        EXPECT_EQ(errors, (std::vector<Err>{{0, static_cast<uint32_t>(c.error), 0}}));
        EXPECT_EQ(com->Active(), !c.lost);
        EXPECT_EQ(closes, c.lost ? 1 : 0);
        EXPECT_EQ(codes, c.lost ? std::vector<int>{csClosed} : std::vector<int>{});
        com->SetActive(false);
    }
}

TEST_F(CommScripted, AheadCharUnderRS485EmulationRaisesRtsAndReportsAFailure) {
    com->SetRS485Mode(true);  // the scripted driver has no RS-485 mode
    com->SetActive(true);
    ASSERT_TRUE(com->IsNotSupportRS485());
    fake->Locked([](auto& s) { s.calls.clear(); });
    com->SendAheadChar(0x146);
    EXPECT_EQ(fake->Locked([](auto& s) { return s.calls; }),
              (std::vector<std::string>{"RTS up", "write F", "drain", "RTS down"}));
    EXPECT_EQ(com->TotalSent(), 1u);
    EXPECT_TRUE(errors.empty());
    fake->Locked([](auto& s) {
        s.calls.clear();
        s.writeError = ETIMEDOUT;
    });
    com->SendAheadChar('G');
    EXPECT_EQ(errors, (std::vector<Err>{{0, ETIMEDOUT, 0}}));
    // The comm error report turns the transceiver round.
    EXPECT_EQ(fake->Locked([](auto& s) { return s.calls; }),
              (std::vector<std::string>{"RTS up", "write G", "RTS down"}));
    EXPECT_EQ(com->TotalSent(), 1u);
}

TEST_F(CommScripted, APortLostWhileReopeningIsReportedClosedBeforeTheNewOpen) {
    com->NotifyAdd(MakeNotifyEvent(this, 1, [this](TksComponent*, int c) { codes.push_back(c); }));
    com->SetActive(true);
    codes.clear();
    // The event thread finds the port lost and closes it; that close is held
    // until the GUI thread, reopening, stops the threads (which wakes them).
    std::atomic<bool> held{false};
    fake->Locked([&](auto& s) {
        s.onClose = [&] {
            std::unique_lock l(script->mutex);
            script->onClose = nullptr;
            held = true;
            const int wakes = script->wakes;
            script->cv.wait(l, [&] { return script->wakes > wakes; });
        };
        s.lost = true;
        s.cv.notify_all();
    });
    ASSERT_TRUE(ex.RunUntil([&] { return held.load() && !com->Active(); }, 2000ms));
    com->SetActive(true);
    ASSERT_TRUE(com->Active());
    ex.RunFor(100ms);  // whatever the lost port left posted
    EXPECT_EQ(codes, (std::vector<int>{csClosed, csOpened}));
    EXPECT_EQ(closes, 1);
    EXPECT_TRUE(com->Active());
}

// Delegates to a LoopExecutor and records on which thread timers are made
// and started.
class TimerThreads final : public IExecutor {
  public:
    explicit TimerThreads(LoopExecutor& loop) : loop_(loop) {}
    bool IsGuiThread() const override { return loop_.IsGuiThread(); }
    bool Synchronize(std::function<void()> fn, std::stop_token stop) override {
        return loop_.Synchronize(std::move(fn), stop);
    }
    void Post(std::function<void()> fn) override { loop_.Post(std::move(fn)); }
    void ProcessEvents() override { loop_.ProcessEvents(); }
    void ShowError(const std::string& c, const std::string& t) override { loop_.ShowError(c, t); }
    std::unique_ptr<IGuiTimer> CreateTimer() override {
        Note();
        return std::make_unique<Timer>(*this, loop_.CreateTimer());
    }
    std::vector<std::thread::id> Threads() {
        std::lock_guard l(m_);
        return threads_;
    }

  private:
    class Timer final : public IGuiTimer {
      public:
        Timer(TimerThreads& owner, std::unique_ptr<IGuiTimer> t)
            : owner_(owner), t_(std::move(t)) {}
        void SetInterval(int ms) override { t_->SetInterval(ms); }
        void SetEnabled(bool on) override {
            if (on) owner_.Note();
            t_->SetEnabled(on);
        }
        bool Enabled() const override { return t_->Enabled(); }
        void SetOnTimer(std::function<void()> f) override { t_->SetOnTimer(std::move(f)); }

      private:
        TimerThreads& owner_;
        std::unique_ptr<IGuiTimer> t_;
    };
    void Note() {
        std::lock_guard l(m_);
        threads_.push_back(std::this_thread::get_id());
    }
    LoopExecutor& loop_;
    std::mutex m_;
    std::vector<std::thread::id> threads_;
};

TEST(CommKeepConnection, TimerStartsOnTheGuiThreadWhenTheLossIsSeenOnTheDispatchThread) {
    LoopExecutor loop;
    TimerThreads ex(loop);
    auto script = std::make_shared<FakeSerialDevice::Script>();
    auto dev = std::make_unique<FakeSerialDevice>(script);
    FakeSerialDevice* fake = dev.get();
    TksComm com(&ex, std::move(dev));
    com.SetUseMainThread(false);  // receive processing on the dispatch thread
    com.SetKeepConnection(true);
    com.SetOnAfterReceive([](TksBaseIO*, const uint8_t*, uint32_t) {});
    com.SetActive(true);
    fake->Locked([](auto& s) { s.errors = CE_PORT_LOST; });
    fake->PushInput("x");
    ASSERT_TRUE(loop.RunUntil([&] { return !com.Active() && !ex.Threads().empty(); }, 2000ms));
    ASSERT_NE(com.KeepConnectionTimer(), nullptr);
    EXPECT_TRUE(com.KeepConnectionTimer()->Enabled());
    for (const auto& id : ex.Threads()) EXPECT_EQ(id, std::this_thread::get_id());
    com.SetOnAfterReceive(nullptr);
}

TEST_F(CommScripted, NoReaderAndNoTraceStateLeavesBytesUnread) {
    com->SetActive(true);
    fake->PushInput("12345");
    ASSERT_TRUE(ex.RunUntil([&] { return com->TotalReceived() == 5; }, 2000ms));
    fake->PushInput("678");
    ASSERT_TRUE(ex.RunUntil([&] { return com->TotalReceived() == 13; }, 2000ms));
    EXPECT_EQ(com->ReadyForRead(), 8u);
    // tsRxChar alone makes the component read (and drop) them.
    com->SetTraceStates({TTraceState::tsRxChar});
    fake->PushInput("9");
    ASSERT_TRUE(ex.RunUntil([&] { return com->ReadyForRead() == 0; }, 2000ms));
    EXPECT_EQ(com->TotalReceived(), 22u);
}

TEST_F(CommScripted, LineEventsBecomeTraceStatesAndRS485DropsRts) {
    std::vector<uint16_t> traces;
    com->SetOnTraceState([&](TksBaseIO*, TTraceStates s) { traces.push_back(s.Bits()); });
    int sent = 0;
    com->SetOnAfterSend([&](TksBaseIO*) { ++sent; });
    com->SetRS485Mode(true);
    com->SetTraceStates({TTraceState::tsCTS, TTraceState::tsRing, TTraceState::tsRx80Full});
    com->SetActive(true);
    EXPECT_EQ(fake->Mask(), EV_RXCHAR | EV_CTS | EV_RING | EV_RX80FULL | EV_TXEMPTY);
    traces.clear();
    fake->PushInput("", EV_CTS | EV_RING | EV_RX80FULL | EV_TXEMPTY | EV_RXCHAR);
    ASSERT_TRUE(ex.RunUntil([&] { return !traces.empty(); }, 2000ms));
    EXPECT_EQ(
        traces[0],
        (TTraceStates{TTraceState::tsCTS, TTraceState::tsRing, TTraceState::tsRx80Full}.Bits()));
    EXPECT_EQ(sent, 0);  // tsTxEmpty not asked for
    {
        std::lock_guard l(script->mutex);
        ASSERT_FALSE(script->escapes.empty());
        EXPECT_EQ(script->escapes.back(), CLRRTS);
        script->escapes.clear();
    }
    com->SendString("x");  // RTS up around the write, down after it
    std::lock_guard l(script->mutex);
    EXPECT_EQ(script->escapes, (std::vector<uint32_t>{SETRTS, CLRRTS}));
}

TEST_F(CommScripted, ExceptionInAHandlerIsAFatalErrorShownNotRaised) {
    com->SetOnAfterReceive(
        [](TksBaseIO*, const uint8_t*, uint32_t) { throw std::runtime_error("handler broke"); });
    std::vector<std::string> fatal;
    com->SetOnFatalError([&](TksComponent*, uint32_t code, uint32_t, const std::string& m, bool&) {
        EXPECT_EQ(code, 1u);
        fatal.push_back(m);
    });
    com->SetActive(true);
    fake->PushInput("x");
    ASSERT_TRUE(ex.RunUntil([&] { return !ex.ShownErrors().empty(); }, 2000ms));
    EXPECT_EQ(fatal, (std::vector<std::string>{"handler broke"}));
    EXPECT_EQ(ex.ShownErrors()[0].second, "handler broke");
    EXPECT_TRUE(com->Active());
}

TEST(CommDefaults, PropertyDefaultsAndDcbFlagMasks) {
    LoopExecutor ex;
    TksComm c(&ex);
    EXPECT_FALSE(c.Active());
    EXPECT_EQ(c.BaudRate(), 19200u);
    EXPECT_EQ(c.ByteSize(), 8);
    EXPECT_EQ(c.Parity(), TParity::pNone);
    EXPECT_EQ(c.StopBits(), TStopBits::sbOne);
    EXPECT_EQ(c.StreamProtocol(), TStreamProtocol::spHardware);
    EXPECT_EQ(c.ComPortNo(), 1);
    EXPECT_EQ(c.ComPort(), TComPort::cpCOM1);
    EXPECT_TRUE(c.TraceStates().Empty() && c.ModemSignals().Empty());
    EXPECT_EQ(c.EventChar(), 0);
    EXPECT_EQ(c.BufferInSize(), 8192);
    EXPECT_EQ(c.BufferOutSize(), 8192);
    EXPECT_EQ(c.TimeoutRead() + c.TimeoutWrite(), 0u);
    EXPECT_FALSE(c.RS485Mode() || c.KeepConnection());
    EXPECT_EQ(c.EnumPorts(), TksEnumPorts::epQuickAll);
    EXPECT_TRUE(c.UseMainThread());
    EXPECT_EQ(c.TerminalUsage(), TTerminalUsage::tuNone);
    EXPECT_EQ(c.ComName(), "COM1");
    EXPECT_EQ(c.ReadyForRead() + c.NotYetSend(), 0u);
    EXPECT_EQ(c.Handle(), kInvalidHandle);
    EXPECT_EQ(c.LogPrefix(), "ksComm: ");

    const TCommConfig& cfg = c.CommConfig();
    EXPECT_EQ(cfg.dwSize, 52u);
    EXPECT_EQ(cfg.dcb.DCBlength, 28u);
    EXPECT_EQ(cfg.dcb.Flags, dcbFlagProtocolHardware);
    EXPECT_EQ(cfg.dcb.XonLim, 80);
    EXPECT_EQ(cfg.dcb.XoffLim, 200);
    EXPECT_EQ(cfg.dcb.XonChar, 0x11);
    EXPECT_EQ(cfg.dcb.XoffChar, 0x13);

    c.SetParity(TParity::pEven);
    EXPECT_EQ(cfg.dcb.Flags, dcbFlagProtocolHardware | DCB_fParity);
    EXPECT_EQ(cfg.dcb.Parity, 2);
    c.SetParity(TParity::pNone);
    EXPECT_EQ(cfg.dcb.Flags, dcbFlagProtocolHardware);
    c.SetStreamProtocol(TStreamProtocol::spNone);
    EXPECT_EQ(cfg.dcb.Flags, dcbFlagProtocolNone);
    c.SetStreamProtocol(TStreamProtocol::spXonXoff);
    EXPECT_EQ(cfg.dcb.Flags, dcbFlagProtocolXOnXOff);
    c.SetParity(TParity::pMark);  // the parity flag survives protocol changes
    c.SetRS485Mode(true);
    EXPECT_EQ(cfg.dcb.Flags, dcbFlagProtocolRS485 | DCB_fParity);
    c.SetStreamProtocol(TStreamProtocol::spHardware);  // no effect in RS-485 mode
    EXPECT_EQ(cfg.dcb.Flags, dcbFlagProtocolRS485 | DCB_fParity);
    c.SetRS485Mode(false);
    EXPECT_EQ(cfg.dcb.Flags, dcbFlagProtocolHardware | DCB_fParity);

    for (auto [in, kept] : {std::pair{3, 8}, {7, 7}, {9, 8}, {4, 4}}) {
        c.SetByteSize(static_cast<uint8_t>(in));
        EXPECT_EQ(c.ByteSize(), kept) << in;
    }
    c.SetStopBits(TStopBits::sbTwo);
    EXPECT_EQ(cfg.dcb.StopBits, 2);
    c.SetEventChar('\x7E');
    EXPECT_EQ(cfg.dcb.EvtChar, '\x7E');

    c.SetComPortNo(12);
    EXPECT_EQ(c.ComPort(), TComPort::cpCOMxx);
    EXPECT_EQ(c.ComName(), "COM12");
    c.SetComPort(TComPort::cpCOMxx);  // ignored
    EXPECT_EQ(c.ComPortNo(), 12);
    c.SetComPort(TComPort::cpCOM3);
    EXPECT_EQ(c.ComPortNo(), 3);
}

}  // namespace
}  // namespace kelm::test
