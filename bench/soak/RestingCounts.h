#pragma once
// Descriptors and threads of this process counted at rest, for the leak
// figures of the long-run benchmarks.
//
// Qt's raster paint engine hands large fills and image conversions to the
// global thread pool. Each pool thread holds an eventfd of its own, starts
// when a paint finds no idle one and ends 30 s after its last job, so how
// many exist at a given moment depends on how the scheduler interleaved the
// last paints: on a busy machine one more or one fewer than at the start.
// They are not ours to count; the pool is emptied before every count.
#include <QThreadPool>
#include <chrono>
#include <string>
#include <thread>

#include "BenchSupport.h"
#include "ProcStats.h"

namespace kelm::bench {

struct RestingCounts {
    int fds = 0;
    int threads = 0;
    ProcSnapshot snapshot;  // what they are, for the report of a difference

    // Counts after the global thread pool's threads have ended (bounded).
    static RestingCounts Take() {
        QThreadPool::globalInstance()->waitForDone(30000);
        RestingCounts c;
        // waitForDone returns once the pool's threads have finished their
        // run; each still leaves the system's thread list a moment later.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (;;) {
            c.snapshot = ProcSnapshot::Take();
            bool pooled = false;
            for (const auto& t : c.snapshot.threads) pooled |= t.second == "Thread (pooled)";
            if (!pooled || std::chrono::steady_clock::now() >= deadline) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        c.fds = static_cast<int>(c.snapshot.fds.size());
        c.threads = static_cast<int>(c.snapshot.threads.size());
        return c;
    }

    // Runs the event loop until the counts are back at start or timeoutMs
    // has passed (a thread may still be on its way out after a close), and
    // returns the last counts. Never waits longer than needed.
    static RestingCounts Settled(const RestingCounts& start, int timeoutMs) {
        RestingCounts now = Take();
        RunUntil(
            [&] {
                now = Take();
                return now.fds == start.fds && now.threads == start.threads;
            },
            timeoutMs, 20);
        return now;
    }
};

}  // namespace kelm::bench
