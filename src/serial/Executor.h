#pragma once
// The GUI-thread executor: how the serial library reaches the thread that owns
// the windows without knowing the toolkit. The application implements it with
// Qt; tests, the simulator and tools use LoopExecutor (serial/LoopExecutor.h).
//
// The contract that matters for closing a port: a worker thread that waits in
// Synchronize() must be able to give up a call the GUI thread has not started
// yet, so that the GUI thread can stop and join that worker without serving
// the call first. Synchronize() takes the worker's std::stop_token for that:
// a stop request withdraws a pending call (it is then never run) and wakes the
// waiter. A call that the GUI thread has already started runs to its end.
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <utility>

namespace kelm {

// A timer that fires on the GUI thread through the executor's loop. Like a
// window timer it repeats until disabled; the interval and the handler may be
// changed at any time from the GUI thread. Not for use from other threads.
class IGuiTimer {
  public:
    virtual ~IGuiTimer() = default;
    // A new interval re-arms a running timer with the new period.
    virtual void SetInterval(int ms) = 0;
    // Enabling a running timer leaves its rhythm unchanged.
    virtual void SetEnabled(bool enabled) = 0;
    virtual bool Enabled() const = 0;
    virtual void SetOnTimer(std::function<void()> onTimer) = 0;
};

// One call handed from a worker thread to the GUI thread and waited for.
// Executors queue a SyncCall and have the GUI thread call Run(); the worker
// blocks in Wait(). Shared through shared_ptr: whichever side finishes last
// frees it.
class SyncCall {
  public:
    explicit SyncCall(std::function<void()> fn) : fn_(std::move(fn)) {}

    // GUI thread: runs the function unless the waiter withdrew it. Exceptions
    // from the function are caught and handed back to the waiter.
    void Run() {
        {
            std::lock_guard lock(mutex_);
            if (state_ != State::Pending) return;  // withdrawn
            state_ = State::Running;
        }
        std::exception_ptr error;
        try {
            fn_();
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard lock(mutex_);
            error_ = std::move(error);  // the GUI thread keeps no reference to it
            state_ = State::Done;
        }
        done_.notify_all();
    }

    // Worker thread: waits until the call has run (true) or has been
    // withdrawn because stop was requested before the GUI thread took it
    // (false). A call already running is waited for. Rethrows what the
    // function threw.
    bool Wait(std::stop_token stop) {
        std::unique_lock lock(mutex_);
        done_.wait(lock, stop, [this] { return state_ == State::Done; });
        if (state_ == State::Pending) {
            state_ = State::Withdrawn;
            return false;
        }
        if (state_ == State::Running) {  // stop came while the GUI runs it
            done_.wait(lock, [this] { return state_ == State::Done; });
        }
        // The waiter takes the only reference, so the exception object dies on
        // the thread that handles it, never on the GUI thread while the waiter
        // may still be reading it.
        if (std::exception_ptr error = std::exchange(error_, nullptr)) {
            lock.unlock();
            std::rethrow_exception(error);
        }
        return true;
    }

  private:
    enum class State { Pending, Running, Done, Withdrawn };
    std::function<void()> fn_;
    // Guards state_ and error_; done_ signals Running -> Done.
    std::mutex mutex_;
    std::condition_variable_any done_;
    State state_ = State::Pending;
    std::exception_ptr error_;
};

class IExecutor {
  public:
    virtual ~IExecutor() = default;

    // True when the caller runs on the GUI thread.
    virtual bool IsGuiThread() const = 0;

    // Runs fn on the GUI thread and waits for it. On the GUI thread itself fn
    // runs at once. From another thread the call is queued; when stop is
    // requested before the GUI thread takes it, it is withdrawn and false is
    // returned (fn never runs). Returns true when fn ran. Exceptions thrown by
    // fn reach the caller.
    virtual bool Synchronize(std::function<void()> fn, std::stop_token stop = {}) = 0;

    // Queues fn to run on the GUI thread later, in posting order; never waits.
    // Callable from any thread.
    virtual void Post(std::function<void()> fn) = 0;

    // Runs what is pending for the GUI thread (queued calls, due timers) and
    // returns. GUI thread only. Used by the polling waits of the line
    // utilities.
    virtual void ProcessEvents() = 0;

    // A timer firing on the GUI thread, disabled, interval 1000 ms. Create it
    // on the GUI thread.
    virtual std::unique_ptr<IGuiTimer> CreateTimer() = 0;

    // Shows an error to the user as the application shows an unhandled
    // error (a modal message box on the GUI thread). Callable from any
    // thread; from a worker the box is posted, never waited for.
    virtual void ShowError(const std::string& caption, const std::string& text) = 0;
};

// The executor of the running application ("the application object"), or
// nullptr when there is none. Components created without an executor use it.
// Set once at start-up, before any component opens a port.
IExecutor* ApplicationExecutor();
void SetApplicationExecutor(IExecutor* executor);

}  // namespace kelm
