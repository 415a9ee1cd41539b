#include "app/QtTimer.h"

namespace kelm {

QtTimer::QtTimer(const QString& objectName, QObject* parent) : timer_(parent) {
    timer_.setObjectName(objectName);
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        // Copy first: the handler may replace itself or stop the timer.
        auto fn = onTimer_;
        if (fn) fn();
    });
}

QtTimer::~QtTimer() {
    timer_.stop();
}

void QtTimer::SetInterval(int ms) {
    // Like a VCL timer: a new interval restarts a running timer's rhythm.
    timer_.setInterval(ms < 0 ? 0 : ms);
}

void QtTimer::SetEnabled(bool enabled) {
    if (enabled) {
        if (!timer_.isActive()) timer_.start();
    } else {
        timer_.stop();
    }
}

bool QtTimer::Enabled() const {
    return timer_.isActive();
}

void QtTimer::SetOnTimer(std::function<void()> onTimer) {
    onTimer_ = std::move(onTimer);
}

}  // namespace kelm
