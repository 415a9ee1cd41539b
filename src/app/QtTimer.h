#pragma once
// ITimer (the engine's timers) and IGuiTimer (the serial library's timers) on
// a QTimer: ticks run on the GUI thread that created the timer.
#include <QObject>
#include <QTimer>
#include <functional>

#include "modbus/Interfaces.h"
#include "serial/Executor.h"

namespace kelm {

class QtTimer final : public ITimer, public IGuiTimer {
  public:
    explicit QtTimer(const QString& objectName = {}, QObject* parent = nullptr);
    ~QtTimer() override;

    void SetInterval(int ms) override;
    // Enabling a running timer leaves its rhythm unchanged.
    void SetEnabled(bool enabled) override;
    bool Enabled() const override;
    void SetOnTimer(std::function<void()> onTimer) override;

    QTimer* timer() { return &timer_; }

  private:
    QTimer timer_;
    std::function<void()> onTimer_;
};

}  // namespace kelm
