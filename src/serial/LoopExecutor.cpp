#include "serial/LoopExecutor.h"

#include <algorithm>
#include <cstdio>

namespace kelm {

namespace {
// The process-wide application executor. Written once at start-up, read by
// components on any thread: atomic so that the read is well defined.
std::atomic<IExecutor*> g_applicationExecutor{nullptr};
}  // namespace

IExecutor* ApplicationExecutor() {
    return g_applicationExecutor.load(std::memory_order_acquire);
}

void SetApplicationExecutor(IExecutor* executor) {
    g_applicationExecutor.store(executor, std::memory_order_release);
}

// A repeating timer in the loop's timer list. All of its state is guarded by
// the owning executor's mutex, so a handler may re-arm or disable it freely.
class LoopExecutor::Timer final : public IGuiTimer {
  public:
    explicit Timer(LoopExecutor* owner) : owner_(owner) {}
    ~Timer() override { owner_->Disarm(this); }

    void SetInterval(int ms) override {
        {
            std::lock_guard lock(owner_->mutex_);
            intervalMs_ = ms < 0 ? 0 : ms;
        }
        owner_->Arm(this, true);
    }
    void SetEnabled(bool enabled) override {
        {
            std::lock_guard lock(owner_->mutex_);
            if (enabled_ == enabled) return;
            enabled_ = enabled;
        }
        owner_->Arm(this, true);
    }
    bool Enabled() const override {
        std::lock_guard lock(owner_->mutex_);
        return enabled_;
    }
    void SetOnTimer(std::function<void()> onTimer) override {
        std::lock_guard lock(owner_->mutex_);
        onTimer_ = std::move(onTimer);
    }

    LoopExecutor* owner_;
    int intervalMs_ = 1000;
    bool enabled_ = false;
    std::function<void()> onTimer_;
};

LoopExecutor::LoopExecutor() : guiThread_(std::this_thread::get_id()) {}

LoopExecutor::~LoopExecutor() = default;

void LoopExecutor::SetGuiThread() {
    std::lock_guard lock(mutex_);
    guiThread_ = std::this_thread::get_id();
}

bool LoopExecutor::IsGuiThread() const {
    std::lock_guard lock(mutex_);
    return guiThread_ == std::this_thread::get_id();
}

bool LoopExecutor::Synchronize(std::function<void()> fn, std::stop_token stop) {
    if (IsGuiThread()) {
        fn();
        return true;
    }
    auto call = std::make_shared<SyncCall>(std::move(fn));
    Post([call] { call->Run(); });
    return call->Wait(stop);
}

void LoopExecutor::Post(std::function<void()> fn) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(fn));
    }
    wake_.notify_all();
}

std::unique_ptr<IGuiTimer> LoopExecutor::CreateTimer() {
    return std::make_unique<Timer>(this);
}

void LoopExecutor::ShowError(const std::string& caption, const std::string& text) {
    auto show = [this, caption, text] {
        shownErrors_.emplace_back(caption, text);
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    };
    if (IsGuiThread()) {
        show();
    } else {
        Post(show);
    }
}

unsigned long long LoopExecutor::CallsRun() const {
    std::lock_guard lock(mutex_);
    return callsRun_;
}

void LoopExecutor::Arm(Timer* t, bool restart) {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(timers_.begin(), timers_.end(),
                           [t](const TimerEntry& e) { return e.timer == t; });
    const bool runs = t->enabled_ && t->intervalMs_ > 0;
    if (!runs) {
        if (it != timers_.end()) timers_.erase(it);
        return;
    }
    const auto due = Clock::now() + std::chrono::milliseconds(t->intervalMs_);
    if (it == timers_.end()) {
        timers_.push_back({t, due});
    } else if (restart) {
        it->due = due;
    }
    ++armGen_;
    wake_.notify_all();
}

void LoopExecutor::Disarm(Timer* t) {
    std::lock_guard lock(mutex_);
    std::erase_if(timers_, [t](const TimerEntry& e) { return e.timer == t; });
}

LoopExecutor::Clock::time_point LoopExecutor::NextDue() const {
    auto next = Clock::time_point::max();
    for (const auto& e : timers_) next = std::min(next, e.due);
    return next;
}

bool LoopExecutor::RunOnce() {
    bool ran = false;
    // Queued calls first, only those present now: a call that posts again
    // must not starve the timers.
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard lock(mutex_);
        batch.swap(queue_);
        callsRun_ += batch.size();
    }
    for (auto& fn : batch) {
        fn();
        ran = true;
    }
    // Then every timer that is due, once each. The handler is copied out so
    // that it may delete its own timer or others.
    std::vector<Timer*> due;
    {
        std::lock_guard lock(mutex_);
        const auto now = Clock::now();
        for (const auto& e : timers_)
            if (e.due <= now) due.push_back(e.timer);
    }
    for (Timer* t : due) {
        std::function<void()> handler;
        {
            std::lock_guard lock(mutex_);
            // The timer may have been disabled or destroyed by an earlier handler.
            auto it = std::find_if(timers_.begin(), timers_.end(),
                                   [t](const TimerEntry& e) { return e.timer == t; });
            if (it == timers_.end() || it->due > Clock::now()) continue;
            it->due = Clock::now() + std::chrono::milliseconds(t->intervalMs_);
            handler = t->onTimer_;
            ++callsRun_;
        }
        ran = true;
        if (handler) {
            try {
                handler();
            } catch (...) {
                // A timer handler's exception ends that tick only.
            }
        }
    }
    return ran;
}

void LoopExecutor::ProcessEvents() {
    RunOnce();
}

void LoopExecutor::RunFor(std::chrono::milliseconds duration) {
    // Sleeps until posted work, a timer or the end: an idle loop costs nothing.
    const auto deadline = Clock::now() + duration;
    for (;;) {
        if (RunOnce()) continue;
        if (Clock::now() >= deadline) return;
        std::unique_lock lock(mutex_);
        const auto gen = armGen_;
        const auto until = std::min(deadline, NextDue());
        wake_.wait_until(lock, until, [this, gen] { return !queue_.empty() || armGen_ != gen; });
    }
}

bool LoopExecutor::RunUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (pred()) return true;
        if (RunOnce()) continue;
        const auto now = Clock::now();
        if (now >= deadline) return pred();
        std::unique_lock lock(mutex_);
        // Wake for posted work, a re-armed timer, the next due timer, or
        // after 10 ms so that a condition changed by another thread without
        // posting is seen too.
        const auto gen = armGen_;
        const auto until = std::min({deadline, NextDue(), now + std::chrono::milliseconds(10)});
        wake_.wait_until(lock, until, [this, gen] { return !queue_.empty() || armGen_ != gen; });
    }
}

}  // namespace kelm
