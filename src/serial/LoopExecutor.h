#pragma once
// A ready IExecutor for programs without a GUI toolkit: the thread that
// creates it (or calls SetGuiThread) is its "GUI" thread and runs its loop
// with ProcessEvents(), RunFor() or RunUntil(). Other threads hand it work
// through a thread-safe queue. Tests, the simulator and kelm-ports use it.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "serial/Executor.h"

namespace kelm {

class LoopExecutor final : public IExecutor {
  public:
    LoopExecutor();
    ~LoopExecutor() override;
    LoopExecutor(const LoopExecutor&) = delete;
    LoopExecutor& operator=(const LoopExecutor&) = delete;

    // Makes the calling thread the GUI thread.
    void SetGuiThread();

    bool IsGuiThread() const override;
    bool Synchronize(std::function<void()> fn, std::stop_token stop = {}) override;
    void Post(std::function<void()> fn) override;
    void ProcessEvents() override;
    std::unique_ptr<IGuiTimer> CreateTimer() override;
    void ShowError(const std::string& caption, const std::string& text) override;

    // Runs the loop for the given time, sleeping while nothing is due.
    void RunFor(std::chrono::milliseconds duration);
    // Runs the loop until pred() is true or the timeout passes; pred() is
    // tested after each batch of work and at least every 10 ms. Returns
    // pred()'s last value.
    bool RunUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout);

    // Error boxes shown so far (caption, text), in order. GUI thread only.
    const std::vector<std::pair<std::string, std::string>>& ShownErrors() const {
        return shownErrors_;
    }
    // Number of calls run by the loop so far (queued calls and timer ticks).
    unsigned long long CallsRun() const;

  private:
    class Timer;
    friend class Timer;
    using Clock = std::chrono::steady_clock;

    struct TimerEntry {
        Timer* timer;
        Clock::time_point due;
    };

    // Runs due work once; returns whether anything ran.
    bool RunOnce();
    // Earliest due time of an enabled timer, or max().
    Clock::time_point NextDue() const;
    void Arm(Timer* t, bool restart);
    void Disarm(Timer* t);

    // mutex_ guards queue_, timers_ (and the timers' own state), callsRun_,
    // armGen_ and guiThread_. Calls and
    // timer handlers run without it held, so they may post or re-arm.
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    std::vector<TimerEntry> timers_;
    std::thread::id guiThread_;
    unsigned long long callsRun_ = 0;
    unsigned long long armGen_ = 0;
    std::vector<std::pair<std::string, std::string>> shownErrors_;
};

}  // namespace kelm
