#pragma once
// Serves a bus of simulated modules on a pseudo-terminal of its own.
//
// The master application opens the slave side (SlavePath) like any serial
// port; the server reads the master side in a poll loop, reads the line
// settings the application put on the slave (visible through the master),
// and writes the replies. The loop runs on the caller's thread (Run) or on a
// thread of its own (Start/Stop), which is how tests and the end-to-end tests
// put simulated modules on a port in process.
//
// Synchronisation: mutex_ guards bus_ and engine_. The loop holds it while it
// feeds bytes and handles timers; WithBus() takes it for callers on other
// threads. The log sink is called with mutex_ held, so it must not call back
// into the server. Stop() sets the atomic stopping_ flag, writes the wake-up
// eventfd and joins.
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kelm-sim/LineEngine.h"
#include "kelm-sim/SimBus.h"
#include "kelm-sim/SimModule.h"

namespace kelm::sim {

class PtyServer {
  public:
    struct Config {
        std::vector<ModuleConfig> modules;
        std::chrono::milliseconds replyDelay = kDefaultReplyDelay;
        LineEngine::LogSink log;  // nullptr: quiet
    };

    // Creates the pseudo-terminal; nullptr with a reason when the system refuses.
    static std::unique_ptr<PtyServer> Create(Config config, std::string* error);
    ~PtyServer();
    PtyServer(const PtyServer&) = delete;
    PtyServer& operator=(const PtyServer&) = delete;

    // The path the master application opens, such as /dev/pts/4.
    const std::string& SlavePath() const;

    // Runs the loop on the calling thread until Stop() is called or stopFd
    // (if not -1) becomes readable.
    void Run(int stopFd = -1);
    // Runs the loop on a thread of its own.
    void Start();
    // Ends the loop (from any thread) and joins the server's thread.
    void Stop();

    // Runs f(bus) with the loop held off, from any thread.
    template <class F>
    auto WithBus(F&& f) {
        std::lock_guard lock(mutex_);
        return f(bus_);
    }

    // Simulated time now (the bus's clock).
    static SimTime Now();

  private:
    class Port;
    PtyServer(Config config, std::unique_ptr<Port> port);

    Config config_;
    std::unique_ptr<Port> port_;
    std::mutex mutex_;
    SimBus bus_;
    LineEngine engine_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

// Blocks SIGINT, SIGTERM and SIGHUP for the process and returns a file
// descriptor that becomes readable when one of them arrives (Ctrl-C), for
// PtyServer::Run. Call before any thread starts, so that every thread
// inherits the mask. -1 with a reason on failure.
int OpenStopSignalFd(std::string* error);

// True when fd has something to read now (never waits).
bool FdReadable(int fd);

}  // namespace kelm::sim
