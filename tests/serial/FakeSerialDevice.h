#pragma once
// A scripted serial backend: the test queues received bytes, line errors and
// driver events, and reads back what was written and which purges ran.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "serial/SerialDevice.h"

namespace kelm::test {

class FakeSerialDevice final : public ISerialDevice {
  public:
    // State shared with the test; everything below is guarded by mutex.
    struct Script {
        std::mutex mutex;
        std::condition_variable cv;
        bool open = false;
        std::string input;            // bytes the driver holds
        uint32_t errors = 0;          // reported once by the next ClearError
        std::deque<uint32_t> events;  // driver events to report
        bool woken = false;
        std::string written;
        int writeError = 0;  // a write fails with this code when not 0
        std::vector<uint32_t> purges;
        std::vector<uint32_t> escapes;
        std::vector<TDCB> applied;
        bool dsr = false, dtr = false, rts = false;
        uint32_t readLimit = UINT32_MAX;  // a waited read delivers at most this many
        // Runs after a line change is recorded, without the mutex held.
        std::function<void(uint32_t)> onEscape;
    };

    explicit FakeSerialDevice(std::shared_ptr<Script> s) : s_(std::move(s)) {}

    void PushInput(const std::string& bytes, uint32_t event = EV_RXCHAR) {
        std::lock_guard l(s_->mutex);
        s_->input += bytes;
        if (event) s_->events.push_back(event);
        s_->cv.notify_all();
    }

    int Open(const std::string&) override {
        std::lock_guard l(s_->mutex);
        s_->open = true;
        return 0;
    }
    int Adopt(TksHandle) override { return Open({}); }
    bool Close() override {
        std::lock_guard l(s_->mutex);
        const bool was = s_->open;
        s_->open = false;
        s_->cv.notify_all();
        return was;
    }
    bool IsOpen() const override {
        std::lock_guard l(s_->mutex);
        return s_->open;
    }
    TksHandle NativeHandle() const override { return IsOpen() ? 42 : kInvalidHandle; }
    std::string ErrorText(int code) const override { return "error " + std::to_string(code); }
    bool ApplyDcb(const TDCB& dcb) override {
        std::lock_guard l(s_->mutex);
        s_->applied.push_back(dcb);
        return true;
    }
    bool ReadDcb(TDCB&) override { return true; }
    bool SetupQueues(uint32_t, uint32_t) override { return true; }
    bool SetTimeouts(const TCommTimeouts&) override { return true; }
    bool SupportsRs485Toggle() override { return false; }
    bool SetRs485(bool) override { return false; }
    bool ClearError(uint32_t* errors, TComStat* stat) override {
        std::lock_guard l(s_->mutex);
        if (!s_->open) return false;
        if (errors) *errors = s_->errors;
        s_->errors = 0;
        if (stat) {
            *stat = TComStat{};
            stat->cbInQue = static_cast<uint32_t>(s_->input.size());
        }
        return true;
    }
    bool ReadNow(uint8_t* buf, uint32_t n, uint32_t* got) override {
        std::lock_guard l(s_->mutex);
        if (!s_->open) return false;
        *got = std::min<uint32_t>(n, static_cast<uint32_t>(s_->input.size()));
        std::copy_n(s_->input.begin(), *got, buf);
        s_->input.erase(0, *got);
        return true;
    }
    bool Read(uint8_t* buf, uint32_t n, uint32_t* got) override {
        uint32_t limit;
        {
            std::lock_guard l(s_->mutex);
            limit = s_->readLimit;
        }
        return ReadNow(buf, std::min(n, limit), got) && *got == n;
    }
    bool Write(const uint8_t* buf, uint32_t n, uint32_t* written, int* lastError) override {
        std::lock_guard l(s_->mutex);
        if (s_->writeError != 0) {
            *written = 0;
            if (lastError) *lastError = s_->writeError;
            return false;
        }
        s_->written.append(reinterpret_cast<const char*>(buf), n);
        *written = n;
        return true;
    }
    bool Purge(uint32_t flags) override {
        std::lock_guard l(s_->mutex);
        s_->purges.push_back(flags);
        if (flags & PURGE_RXCLEAR) s_->input.clear();
        return true;
    }
    bool Escape(uint32_t f) override {
        std::function<void(uint32_t)> hook;
        {
            std::lock_guard l(s_->mutex);
            s_->escapes.push_back(f);
            if (f == SETDTR || f == CLRDTR) s_->dtr = f == SETDTR;
            if (f == SETRTS || f == CLRRTS) s_->rts = f == SETRTS;
            hook = s_->onEscape;
        }
        if (hook) hook(f);
        return true;
    }
    bool ModemStatus(uint32_t* status) override {
        std::lock_guard l(s_->mutex);
        *status = s_->dsr ? MS_DSR_ON : 0;
        return s_->open;
    }
    bool TransmitChar(uint8_t ch) override {
        uint32_t w;
        return Write(&ch, 1, &w, nullptr);
    }
    bool Flush() override { return true; }
    bool Properties(TCommProp*) override { return true; }
    void SetMask(uint32_t mask) override {
        std::lock_guard l(s_->mutex);
        mask_ = mask;
    }
    uint32_t Mask() const override {
        std::lock_guard l(s_->mutex);
        return mask_;
    }
    WaitStatus Wait(uint32_t* events) override {
        std::unique_lock l(s_->mutex);
        s_->cv.wait(l, [this] { return !s_->open || s_->woken || !s_->events.empty(); });
        if (s_->woken) {
            s_->woken = false;
            return WaitStatus::Woken;
        }
        if (!s_->open) return WaitStatus::Closed;
        *events = s_->events.front();
        s_->events.pop_front();
        return WaitStatus::Event;
    }
    void Wake() override {
        std::lock_guard l(s_->mutex);
        s_->woken = true;
        s_->cv.notify_all();
    }
    void NoteTransmit() override {}
    int LastError() const override { return 0; }

  private:
    std::shared_ptr<Script> s_;
    uint32_t mask_ = 0;  // guarded by s_->mutex
};

}  // namespace kelm::test
