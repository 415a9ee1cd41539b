#pragma once
// Runs the Qt event loop until a condition holds or a time-out passes, looking
// at the condition every pollMs without spinning. Shared by the long-run
// benchmarks.
#include <QEventLoop>
#include <QObject>
#include <QTimer>
#include <functional>

namespace kelm::bench {

inline void RunUntil(const std::function<bool()>& cond, int timeoutMs, int pollMs) {
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (cond()) loop.quit();
    });
    check.start(pollMs);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (!cond()) loop.exec();
}

}  // namespace kelm::bench
