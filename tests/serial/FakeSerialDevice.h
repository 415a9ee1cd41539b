#pragma once
// A scripted serial backend: the test queues received bytes, line errors and
// driver events, sets the modem lines, and reads back what was written, which
// purges and line changes ran and which settings were applied.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "serial/SerialDevice.h"

namespace kelm::test {

class FakeSerialDevice final : public ISerialDevice {
  public:
    // State shared with the test; everything below is guarded by mutex.
    struct Script {
        std::mutex mutex;
        std::condition_variable cv;
        bool open = false, woken = false;
        std::string input;            // bytes the driver holds
        uint32_t errors = 0;          // reported once by the next ClearError
        std::deque<uint32_t> events;  // driver events to report
        std::string written;
        int writeError = 0;  // a write fails with this code when not 0
        std::vector<uint32_t> purges, escapes;
        std::vector<TDCB> applied;
        bool dsr = false, dtr = false, rts = false;
        uint32_t readLimit = UINT32_MAX;  // a waited read delivers at most this many
        uint32_t mask = 0;
        // Runs after a line change is recorded, without the mutex held.
        std::function<void(uint32_t)> onEscape;
        // Writes, line changes and drains in the order they came.
        std::vector<std::string> calls;
        int wakes = 0;      // Wake() calls
        bool lost = false;  // the next Wait reports the device lost
        // Runs at the start of Close(), without the mutex held.
        std::function<void()> onClose;
    };

    explicit FakeSerialDevice(std::shared_ptr<Script> s) : s_(std::move(s)) {}
    // Runs f on the script under its lock.
    template <class F>
    auto Locked(F f) const {
        std::lock_guard l(s_->mutex);
        return f(*s_);
    }

    void PushInput(const std::string& bytes, uint32_t event = EV_RXCHAR) {
        Locked([&](Script& s) {
            s.input += bytes;
            if (event) s.events.push_back(event);
            s.cv.notify_all();
        });
    }

    int Open(const std::string&) override {
        return Locked([](Script& s) { s.open = true; }), 0;
    }
    int Adopt(TksHandle) override { return Open({}); }
    bool Close() override {
        if (auto hook = Locked([](Script& s) { return s.onClose; })) hook();
        return Locked([](Script& s) {
            s.cv.notify_all();
            return std::exchange(s.open, false);
        });
    }
    bool IsOpen() const override {
        return Locked([](Script& s) { return s.open; });
    }
    TksHandle NativeHandle() const override { return IsOpen() ? 42 : kInvalidHandle; }
    std::string ErrorText(int code) const override { return "error " + std::to_string(code); }
    bool ApplyDcb(const TDCB& dcb) override {
        return Locked([&](Script& s) { s.applied.push_back(dcb); }), true;
    }
    bool ReadDcb(TDCB&) override { return true; }
    bool SetupQueues(uint32_t, uint32_t) override { return true; }
    bool SetTimeouts(const TCommTimeouts&) override { return true; }
    bool SupportsRs485Toggle() override { return false; }
    bool SetRs485(bool) override { return false; }
    bool ClearError(uint32_t* errors, TComStat* stat) override {
        return Locked([&](Script& s) {
            if (!s.open) return false;
            if (errors) *errors = std::exchange(s.errors, 0);
            if (stat) *stat = TComStat{}, stat->cbInQue = static_cast<uint32_t>(s.input.size());
            return true;
        });
    }
    bool ReadNow(uint8_t* buf, uint32_t n, uint32_t* got) override {
        return Locked([&](Script& s) {
            *got = std::min<uint32_t>(n, static_cast<uint32_t>(s.input.size()));
            std::copy_n(s.input.begin(), *got, buf);
            s.input.erase(0, *got);
            return s.open;
        });
    }
    bool Read(uint8_t* buf, uint32_t n, uint32_t* got) override {
        const uint32_t limit = Locked([](Script& s) { return s.readLimit; });
        return ReadNow(buf, std::min(n, limit), got) && *got == n;
    }
    bool Write(const uint8_t* buf, uint32_t n, uint32_t* written, int* lastError) override {
        return Locked([&](Script& s) {
            if (lastError) *lastError = s.writeError;
            s.calls.push_back("write " + std::string(reinterpret_cast<const char*>(buf), n));
            if (s.writeError == 0) s.written.append(reinterpret_cast<const char*>(buf), n);
            *written = s.writeError == 0 ? n : 0;
            return s.writeError == 0;
        });
    }
    bool Purge(uint32_t flags) override {
        Locked([&](Script& s) {
            s.purges.push_back(flags);
            if (flags & PURGE_RXCLEAR) s.input.clear();
        });
        return true;
    }
    bool Escape(uint32_t f) override {
        auto hook = Locked([&](Script& s) {
            s.escapes.push_back(f);
            if (f == SETRTS || f == CLRRTS) s.calls.push_back(f == SETRTS ? "RTS up" : "RTS down");
            if (f == SETDTR || f == CLRDTR) s.dtr = f == SETDTR;
            if (f == SETRTS || f == CLRRTS) s.rts = f == SETRTS;
            return s.onEscape;
        });
        if (hook) hook(f);
        return true;
    }
    bool ModemStatus(uint32_t* status) override {
        return Locked([&](Script& s) { return *status = s.dsr ? MS_DSR_ON : 0, s.open; });
    }
    bool TransmitChar(uint8_t ch) override {
        uint32_t w;
        return Write(&ch, 1, &w, nullptr);
    }
    bool Flush() override { return true; }
    bool DrainTransmitter() override {
        return Locked([](Script& s) { return s.calls.push_back("drain"), true; });
    }
    bool Properties(TCommProp*) override { return true; }
    void SetMask(uint32_t mask) override {
        Locked([&](Script& s) { s.mask = mask; });
    }
    uint32_t Mask() const override {
        return Locked([](Script& s) { return s.mask; });
    }
    WaitStatus Wait(uint32_t* events) override {
        std::unique_lock l(s_->mutex);
        s_->cv.wait(l,
                    [this] { return !s_->open || s_->woken || s_->lost || !s_->events.empty(); });
        if (std::exchange(s_->woken, false)) return WaitStatus::Woken;
        if (!s_->open) return WaitStatus::Closed;
        if (std::exchange(s_->lost, false)) return WaitStatus::Lost;
        *events = s_->events.front();
        s_->events.pop_front();
        return WaitStatus::Event;
    }
    void Wake() override {
        Locked([](Script& s) {
            s.woken = true;
            ++s.wakes;
            s.cv.notify_all();
        });
    }
    void NoteTransmit() override {}
    int LastError() const override {
        return Locked([](Script& s) { return s.writeError; });
    }

  private:
    std::shared_ptr<Script> s_;
};

}  // namespace kelm::test
