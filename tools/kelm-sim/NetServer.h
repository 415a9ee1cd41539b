#pragma once
// Serves a bus of simulated modules behind a listening TCP socket, as the
// devices that put an RS-485 bus on the network do:
//  - Mode::Raw: a serial device server in "TCP server" mode. The bytes of
//    the connection are the bytes on the bus, RTU or ASCII, both ways.
//  - Mode::ModbusTcp: a Modbus TCP gateway. Each MBAP request becomes an
//    RTU frame on the bus (unit id = address); the RTU reply goes back as an
//    MBAP frame with the request's transaction id. A request nobody answers
//    gets no reply, as on the bus.
// One client at a time: a second connection is accepted and closed at once
// (logged), so that its owner sees a refusal rather than a hang.
//
// The serial line behind the socket is the server's own: it is set to the
// first module's format and protocol and follows a module that takes new
// settings, as DeviceServer does on a real port.
//
// Synchronisation as in PtyServer: mutex_ guards bus_, engine_ and the
// connection state the engine's writes use; the loop holds it while it
// feeds bytes and handles timers; WithBus() takes it. Stop() sets the atomic
// stopping_ flag, writes the wake-up eventfd and joins.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kelm-sim/LineEngine.h"
#include "kelm-sim/SimBus.h"
#include "kelm-sim/SimModule.h"

namespace kelm::sim {

class NetServer {
  public:
    enum class Mode { Raw, ModbusTcp };
    struct Config {
        Mode mode = Mode::Raw;
        std::string host = "127.0.0.1";
        std::uint16_t port = 0;  // 0: the system picks one (see Port())
        std::vector<ModuleConfig> modules;
        std::chrono::milliseconds replyDelay = kDefaultReplyDelay;
        LineEngine::LogSink log;
    };

    // Binds and listens; nullptr with a reason when the system refuses.
    static std::unique_ptr<NetServer> Create(Config config, std::string* error);
    ~NetServer();
    NetServer(const NetServer&) = delete;
    NetServer& operator=(const NetServer&) = delete;

    // The port listened on, and the port name a client opens
    // ("tcp://127.0.0.1:40123", "mbtcp://[::1]:502").
    std::uint16_t Port() const;
    std::string PortName() const;
    // The settings of the line behind the socket now.
    LineSettings Line();

    // Runs the loop on the calling thread until Stop() is called or stopFd
    // (if not -1) becomes readable.
    void Run(int stopFd = -1);
    void Start();
    void Stop();

    // Ends the current client's connection (as a server that goes away
    // would, for tests of a dropped connection), from any thread.
    void DropClient();
    // Connections accepted so far (the refused second ones not counted).
    unsigned Connections() const { return connections_; }

    template <class F>
    auto WithBus(F&& f) {
        std::lock_guard lock(mutex_);
        return f(bus_);
    }

  private:
    class Endpoint;
    NetServer(Config config, std::unique_ptr<Endpoint> port);

    Config config_;
    std::unique_ptr<Endpoint> port_;
    std::mutex mutex_;
    SimBus bus_;
    LineEngine engine_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> dropClient_{false};
    std::atomic<unsigned> connections_{0};
    std::thread thread_;
};

}  // namespace kelm::sim
