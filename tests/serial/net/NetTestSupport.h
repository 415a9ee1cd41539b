#pragma once
// Shared pieces of the network port tests: scripted TCP servers, the peers
// of support/LoopbackPeers.h (free ports, ser2net, a pymodbus server) and a
// Modbus engine wired to a serial component, as the window wires it.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "modbus/ModbusMaster.h"
#include "serial/LoopExecutor.h"
#include "serial/ksComm.h"
#include "support/LoopbackPeers.h"

namespace kelm::test {

using namespace std::chrono_literals;

// Reads from fd until n bytes came or the time is up.
inline std::string ReadSome(int fd, size_t n, std::chrono::milliseconds timeout = 10000ms) {
    std::string out;
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (out.size() < n && std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        char buf[1024];
        const ssize_t r = ::recv(fd, buf, std::min(sizeof buf, n - out.size()), 0);
        if (r <= 0) break;
        out.append(buf, static_cast<size_t>(r));
    }
    return out;
}

inline bool SendAll(int fd, const std::string& s) {
    return ::send(fd, s.data(), s.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(s.size());
}

// A TCP server on 127.0.0.1 (a port of its own) that accepts one client and
// runs script(fd) on a thread of its own; the connection is closed when the
// script returns. Stop() (or destruction) ends a script waiting in ReadSome
// by shutting the connection down.
class ScriptedServer {
  public:
    explicit ScriptedServer(std::function<void(int fd)> script, int backlog = 4)
        : listen_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        port_ = BindLoopback(listen_);
        ::listen(listen_, backlog);
        if (script)
            thread_ = std::thread([this, s = std::move(script)] {
                pollfd p{listen_, POLLIN, 0};
                while (!stop_ && ::poll(&p, 1, 20) == 0) {
                }
                if (stop_) return;
                client_ = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
                if (client_ < 0) return;
                s(client_);
                ::shutdown(client_, SHUT_RDWR);
            });
    }
    ~ScriptedServer() {
        Stop();
        if (client_ >= 0) ::close(client_);
        ::close(listen_);
    }
    void Stop() {
        stop_ = true;
        if (client_ >= 0) ::shutdown(client_, SHUT_RDWR);
        if (thread_.joinable()) thread_.join();
    }
    uint16_t Port() const { return port_; }
    int ListenFd() const { return listen_; }
    std::string Name(const std::string& scheme) const {
        return scheme + "://127.0.0.1:" + std::to_string(port_);
    }

  private:
    int listen_;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> client_{-1};
    std::thread thread_;
};

// A component opening the named port as COM<number>.
inline void ListNamedPort(TksBaseIO& com, int number, const std::string& portName) {
    auto d = std::make_shared<TksDevice>();
    d->Data = number;
    d->NameFriendly = "COM" + std::to_string(number);
    d->NameDeviceDos = d->NameFriendly;
    d->PortName = portName;
    com.AddDeviceSorted(d);
}

// The engine's end-of-frame timer on the loop executor.
class LoopTimer : public ITimer {
  public:
    explicit LoopTimer(LoopExecutor& ex) : t_(ex.CreateTimer()) {}
    void SetInterval(int ms) override { t_->SetInterval(ms); }
    void SetEnabled(bool enabled) override { t_->SetEnabled(enabled); }
    bool Enabled() const override { return t_->Enabled(); }
    void SetOnTimer(std::function<void()> fn) override { t_->SetOnTimer(std::move(fn)); }

  private:
    std::unique_ptr<IGuiTimer> t_;
};

// The Modbus engine sending through a component and receiving its replies,
// as the main window connects them. Identity reads go the scan's way.
class EngineRig : public IFrameSink, public IStatusText, public IHostProtocol {
  public:
    EngineRig(LoopExecutor& ex, TksComm& com)
        : ex_(ex), com_(com), timer_(ex), master_(*this, *this, *this, timer_) {
        com_.SetOnAfterReceive([this](TksBaseIO*, const uint8_t* b, uint32_t n) {
            master_.ksComm1AfterReceive(b, n);
        });
        master_.SetScanHandler([this](const Frame& f) { identities_.push_back(f.bytes()); });
    }
    ~EngineRig() override { com_.SetOnAfterReceive(nullptr); }

    void SendString(const ByteString& S) override {
        com_.SendString(std::string(S.begin(), S.end()));
    }
    void SetStatusText(int, const std::string&) override {}
    int ProtocolIndex() const override { return 0; }
    std::string ProtocolText() const override { return "RTU"; }

    // Reads registers 0-2 (type code and versions) of the module at
    // address; the reply as the scan receives it, or empty after timeout.
    ByteString Identity(uint8_t address, std::chrono::milliseconds timeout = 10000ms) {
        identities_.clear();
        master_.State().Scan_Device_Flag = true;
        master_.State().Node_Device_ID = address;
        master_.Modbus_Send_oneWord(3, 0, 3);
        ex_.RunUntil([this] { return !identities_.empty(); }, timeout);
        master_.State().Scan_Device_Flag = false;
        return identities_.empty() ? ByteString{} : identities_.front();
    }

    ModbusMaster& Master() { return master_; }

  private:
    LoopExecutor& ex_;
    TksComm& com_;
    LoopTimer timer_;
    ModbusMaster master_;
    std::vector<ByteString> identities_;
};

}  // namespace kelm::test
