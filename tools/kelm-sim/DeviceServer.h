#pragma once
// Serves a bus of simulated modules on a real serial port (a USB-RS485
// adaptor), through the serial component: the simulated modules join a real
// RS-485 bus.
//
// The port is opened at the first module's format and protocol; a real UART
// hears only one format at a time, so when a module takes new settings the
// port follows that module. A module whose format differs from the port's
// stays silent, as it would on the wire.
//
// Threads: Open and Run belong to one thread, which becomes the loop's "GUI"
// thread (the component delivers its receive event there through a
// LoopExecutor). mutex_ guards bus_, engine_ and what the engine reaches of
// the port, for WithBus() callers on other threads; the component is never
// called with mutex_ held (see Port). Stop() may be called from any thread
// (atomic flag and a posted wake-up).
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "kelm-sim/LineEngine.h"
#include "kelm-sim/SimBus.h"
#include "kelm-sim/SimModule.h"
#include "serial/LoopExecutor.h"

namespace kelm::sim {

class DeviceServer {
  public:
    struct Config {
        std::string path;  // /dev/ttyUSB0
        std::vector<ModuleConfig> modules;
        std::chrono::milliseconds replyDelay = kDefaultReplyDelay;
        LineEngine::LogSink log;
    };

    // Opens the port; nullptr with the component's reason when it cannot.
    static std::unique_ptr<DeviceServer> Open(Config config, std::string* error);
    ~DeviceServer();
    DeviceServer(const DeviceServer&) = delete;
    DeviceServer& operator=(const DeviceServer&) = delete;

    // The settings the port has now.
    LineSettings Line();

    // Serves until Stop(), until stopFd (if not -1) becomes readable, or
    // until the port is lost (then false).
    bool Run(int stopFd = -1);
    // From any thread. The owner destroys the server on the loop's thread
    // once Run has returned.
    void Stop();

    template <class F>
    auto WithBus(F&& f) {
        std::lock_guard lock(mutex_);
        return f(bus_);
    }

  private:
    class Port;
    explicit DeviceServer(Config config);

    Config config_;
    LoopExecutor executor_;
    std::unique_ptr<Port> port_;
    std::mutex mutex_;
    SimBus bus_;
    std::unique_ptr<LineEngine> engine_;
    std::atomic<bool> stopping_{false};
};

}  // namespace kelm::sim
