// The device identification exchange and the connection test against a
// scripted device with modem lines (a pty has none): the line sequence, the
// identification bytes kept, and the line settings and trace states
// restored afterwards.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <sstream>

#include "serial/LoopExecutor.h"
#include "serial/ksComm.h"
#include "serial/ksProcessorStreamLog.h"

using namespace kelm;
using ::testing::HasSubstr;

namespace {

// A serial device with DSR and a script that answers line changes.
class ScriptedDevice : public ISerialDevice {
  public:
    // Everything below is guarded by mutex; onEscape runs without it.
    std::mutex mutex;
    std::condition_variable_any cv;
    bool open = false, woken = false, dsr = true, dtr = false, rts = false;
    std::deque<uint8_t> input;
    std::vector<uint32_t> escapes;
    std::vector<TDCB> applied;
    std::vector<uint32_t> purges;
    std::function<void(ScriptedDevice&, uint32_t)> onEscape;
    uint32_t mask = 0;
    uint32_t readLimit = UINT32_MAX;  // a waited read delivers at most this many

    void Queue(const std::string& bytes) {
        std::lock_guard lock(mutex);
        input.insert(input.end(), bytes.begin(), bytes.end());
    }

    int Open(const std::string&) override {
        std::lock_guard lock(mutex);
        open = true;
        return 0;
    }
    int Adopt(TksHandle) override { return Open(""); }
    bool Close() override {
        std::lock_guard lock(mutex);
        const bool was = open;
        open = false;
        cv.notify_all();
        return was;
    }
    bool IsOpen() const override { return open; }
    TksHandle NativeHandle() const override { return 1000; }
    std::string ErrorText(int) const override { return "scripted"; }
    bool ApplyDcb(const TDCB& dcb) override {
        std::lock_guard lock(mutex);
        applied.push_back(dcb);
        return true;
    }
    bool ReadDcb(TDCB&) override { return true; }
    bool SetupQueues(uint32_t, uint32_t) override { return true; }
    bool SetTimeouts(const TCommTimeouts&) override { return true; }
    bool SupportsRs485Toggle() override { return true; }
    bool SetRs485(bool) override { return true; }
    bool ClearError(uint32_t* errors, TComStat* stat) override {
        std::lock_guard lock(mutex);
        if (errors) *errors = 0;
        if (stat) stat->cbInQue = static_cast<uint32_t>(input.size());
        return open;
    }
    bool ReadNow(uint8_t* buf, uint32_t n, uint32_t* got) override {
        std::lock_guard lock(mutex);
        *got = 0;
        while (*got < n && !input.empty()) {
            buf[(*got)++] = input.front();
            input.pop_front();
        }
        return open;
    }
    bool Read(uint8_t* buf, uint32_t n, uint32_t* got) override {
        const uint32_t want = n;
        {
            std::lock_guard lock(mutex);
            n = std::min(n, readLimit);
        }
        return ReadNow(buf, n, got) && *got == want;
    }
    bool Write(const uint8_t*, uint32_t n, uint32_t* written, int* lastError) override {
        *written = n;
        *lastError = 0;
        return true;
    }
    bool Purge(uint32_t flags) override {
        std::lock_guard lock(mutex);
        purges.push_back(flags);
        if (flags & PURGE_RXCLEAR) input.clear();
        return true;
    }
    bool Escape(uint32_t fn) override {
        {
            std::lock_guard lock(mutex);
            escapes.push_back(fn);
            if (fn == SETDTR) dtr = true;
            if (fn == CLRDTR) dtr = false;
            if (fn == SETRTS) rts = true;
            if (fn == CLRRTS) rts = false;
        }
        if (onEscape) onEscape(*this, fn);
        return true;
    }
    bool ModemStatus(uint32_t* status) override {
        std::lock_guard lock(mutex);
        *status = dsr ? MS_DSR_ON : 0;
        return true;
    }
    bool TransmitChar(uint8_t) override { return true; }
    bool Flush() override { return true; }
    bool Properties(TCommProp*) override { return true; }
    void SetMask(uint32_t m) override {
        std::lock_guard lock(mutex);
        mask = m;
    }
    uint32_t Mask() const override { return mask; }
    WaitStatus Wait(uint32_t*) override {
        std::unique_lock lock(mutex);
        cv.wait(lock, [&] { return woken || !open; });
        if (!open) return WaitStatus::Closed;
        woken = false;
        return WaitStatus::Woken;
    }
    void Wake() override {
        std::lock_guard lock(mutex);
        woken = true;
        cv.notify_all();
    }
    void NoteTransmit() override {}
    int LastError() const override { return 0; }
};

class ScriptedComm : public TksComm {
  public:
    ScriptedComm(IExecutor* ex, std::unique_ptr<ScriptedDevice> d) : TksComm(ex) {
        device = d.get();
        fDevice = std::move(d);
    }
    ScriptedDevice* device;
};

class Pnp : public ::testing::Test {
  protected:
    void SetUp() override {
        comm = std::make_unique<ScriptedComm>(&ex, std::make_unique<ScriptedDevice>());
        dev = comm->device;
        comm->SetLog(&log);
        comm->SetBaudRate(19200);
        comm->SetTraceStates(TTraceStates{TTraceState::tsBreak});
    }
    // Answers with bytes after the nth time RTS is raised while DTR is up
    // (after the DTR/RTS cycles of the exchange).
    void AnswerAt(int nth, const std::string& bytes) {
        auto count = std::make_shared<int>(0);
        dev->onEscape = [count, nth, bytes](ScriptedDevice& d, uint32_t fn) {
            bool up;
            {
                std::lock_guard lock(d.mutex);
                up = d.dtr;
            }
            if (fn == SETRTS && up && ++*count == nth) d.Queue(bytes);
        };
    }
    void ExpectRestored() {
        EXPECT_TRUE(comm->TraceStates() == TTraceStates{TTraceState::tsBreak});
        // The component's lock is never taken while the device's is held.
        std::lock_guard lock(dev->mutex);
        ASSERT_GE(dev->applied.size(), 2u);
        bool sawWork = false;
        for (const auto& d : dev->applied) {
            sawWork |= d.BaudRate == 1200 && d.ByteSize == 7 && d.Parity == 0 && d.StopBits == 0;
        }
        EXPECT_TRUE(sawWork);
        EXPECT_EQ(dev->applied.back().BaudRate, 19200u);  // the kept settings, sent last
        EXPECT_EQ(dev->applied.back().ByteSize, 8);
    }

    LoopExecutor ex;
    std::ostringstream text;
    TksStreamLog log{text};
    std::unique_ptr<ScriptedComm> comm;
    ScriptedDevice* dev = nullptr;
};

}  // namespace

TEST_F(Pnp, ConnectionTestRaisesRtsWhenDsrAnswers) {
    comm->SetActive(true);
    dev->escapes.clear();
    comm->InitDeviceConnect();
    EXPECT_THAT(dev->escapes, ::testing::ElementsAre(SETDTR, CLRRTS, SETRTS));
    EXPECT_THAT(dev->purges, ::testing::Contains(0x0Fu));
    EXPECT_THAT(text.str(), HasSubstr("The device connection was succesful tested"));
}

TEST_F(Pnp, IdentificationInParenthesesEndsAtTheFirstClosingOne) {
    AnswerAt(1, std::string("(\x01\x24PNP0501)more", 15));
    EXPECT_EQ(comm->GetPNPDeviceString(), std::string("(\x01\x24PNP0501)", 11));
    ExpectRestored();
    EXPECT_FALSE(comm->Active());  // closed before the call, closed after
}

TEST_F(Pnp, IdentificationAfterTheSecondCycleWithTheOtherMarkers) {
    comm->SetActive(true);
    AnswerAt(2, std::string("\x08KELM\x09\x09", 7));
    EXPECT_EQ(comm->GetPNPDeviceString(), std::string("\x08KELM\x09", 6));
    ExpectRestored();
    EXPECT_TRUE(comm->Active());  // open before, reopened after
}

TEST_F(Pnp, AnyOtherFirstByteOrSilenceGivesNothing) {
    AnswerAt(1, "A(x)");
    EXPECT_EQ(comm->GetPNPDeviceString(), "");
    ExpectRestored();
    dev->onEscape = nullptr;
    dev->applied.clear();
    EXPECT_EQ(comm->GetPNPDeviceString(), "");
    ExpectRestored();
}

TEST_F(Pnp, WithoutDsrTheExchangeIsAFatalErrorAndLeavesThePortOpen) {
    dev->dsr = false;
    EXPECT_THROW(comm->GetPNPDeviceString(), EksError);
    EXPECT_TRUE(comm->Active());
    EXPECT_TRUE(dev->dtr);
    EXPECT_FALSE(dev->rts);
}

TEST_F(Pnp, DirectReadsCutShortReportWhatArrived) {
    comm->SetActive(true);
    dev->Queue("abcdef");
    dev->readLimit = 2;  // the driver gives fewer bytes than it said it had
    uint8_t buf[8] = {'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x'};
    EXPECT_EQ(comm->ReadMax(buf, 8), 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 3), "abx");
    EXPECT_EQ(comm->ReadString(), "cd");  // not "cd" plus four NULs
    dev->readLimit = UINT32_MAX;
    EXPECT_EQ(comm->ReadString(), "ef");
}
