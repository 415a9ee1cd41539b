#pragma once
// ITimer on a QTimer: the engine's end-of-frame timer and the host panel's
// link check and scan timers tick on the GUI thread that created them.
#include <QObject>
#include <QTimer>
#include <functional>

#include "modbus/Interfaces.h"

namespace kelm {

class QtTimer final : public ITimer {
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
