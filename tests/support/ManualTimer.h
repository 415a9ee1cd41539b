#pragma once
// ITimer driven by hand: a test calls Tick() for each 10 ms period it wants to
// pass. A tick of a disabled timer does nothing, as with a real GUI timer.
#include <functional>
#include <utility>

#include "modbus/Interfaces.h"

namespace kelm::test {

class ManualTimer : public ITimer {
  public:
    void SetInterval(int ms) override { interval_ = ms; }
    void SetEnabled(bool enabled) override {
        if (enabled && !enabled_) ++starts_;
        enabled_ = enabled;
    }
    bool Enabled() const override { return enabled_; }
    void SetOnTimer(std::function<void()> onTimer) override { onTimer_ = std::move(onTimer); }

    // One period; returns whether the callback ran.
    bool Tick() {
        if (!enabled_ || !onTimer_) return false;
        // Through a copy: the callback may replace itself.
        auto cb = onTimer_;
        cb();
        return true;
    }
    // n periods; stops early once the timer is disabled. Returns ticks delivered.
    int Tick(int n) {
        int delivered = 0;
        for (int i = 0; i < n && Tick(); ++i) ++delivered;
        return delivered;
    }

    int Interval() const { return interval_; }
    // How often the timer went from disabled to enabled.
    int Starts() const { return starts_; }
    bool HasCallback() const { return static_cast<bool>(onTimer_); }

  private:
    int interval_ = 0;
    bool enabled_ = false;
    int starts_ = 0;
    std::function<void()> onTimer_;
};

}  // namespace kelm::test
