#include "kelm-sim/DeviceServer.h"

#include <algorithm>
#include <string>

#include "kelm-sim/PtyServer.h"
#include "serial/ksComm.h"

namespace kelm::sim {
namespace {

// The component opens the port it finds under its number in the port list;
// the simulator names the device itself.
class PathComm final : public TksComm {
  public:
    PathComm(IExecutor* executor, std::string path) : TksComm(executor), path_(std::move(path)) {}
    std::string GetPortName() override { return path_; }

  private:
    std::string path_;
};

}  // namespace

class DeviceServer::Port final : public LinePort {
  public:
    Port(IExecutor* executor, const std::string& path) : comm_(executor, path) {
        comm_.SetStreamProtocol(TStreamProtocol::spNone);
        comm_.SetUseMainThread(true);
    }

    // Opens at the given module's format; false with the reason otherwise.
    bool Open(std::uint8_t format, Protocol protocol, std::string* error) {
        Configure(format, protocol);
        try {
            comm_.SetActive(true);
        } catch (const std::exception& e) {
            if (error) *error = e.what();
            return false;
        }
        if (!comm_.Active()) {
            if (error) *error = "the port did not open";
            return false;
        }
        return true;
    }

    void OnReceive(TOnReceived handler) { comm_.SetOnAfterReceive(std::move(handler)); }
    bool Active() const { return comm_.Active(); }
    void Close() {
        try {
            comm_.SetActive(false);
        } catch (const std::exception&) {
            // Closing a port that has gone away: nothing left to release.
        }
    }

    LineSettings Settings() override {
        LineSettings s;
        s.baud = comm_.BaudRate();
        s.stopBits = comm_.StopBits() == TStopBits::sbOne ? 1 : 2;
        s.parity = comm_.Parity() == TParity::pEven  ? Parity::Even
                   : comm_.Parity() == TParity::pOdd ? Parity::Odd
                                                     : Parity::None;
        s.dataBits = comm_.ByteSize();
        return s;
    }

    bool Write(const ByteString& bytes) override {
        if (!comm_.Active()) return false;
        comm_.SendData(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
        return true;
    }

    void FollowModule(std::uint8_t format, Protocol protocol) override {
        Configure(format, protocol);  // reaches the driver at once while open
    }

  private:
    void Configure(std::uint8_t format, Protocol protocol) {
        const LineSettings want = FormatLine(format, protocol);
        comm_.SetBaudRate(want.baud);
        comm_.SetByteSize(static_cast<std::uint8_t>(*want.dataBits));
        comm_.SetParity(*want.parity == Parity::Even ? TParity::pEven : TParity::pNone);
        comm_.SetStopBits(want.stopBits == 1 ? TStopBits::sbOne : TStopBits::sbTwo);
    }

    PathComm comm_;
};

std::unique_ptr<DeviceServer> DeviceServer::Open(Config config, std::string* error) {
    if (config.modules.empty()) {
        if (error) *error = "no modules";
        return nullptr;
    }
    std::unique_ptr<DeviceServer> server(new DeviceServer(std::move(config)));
    const ModuleConfig& first = server->config_.modules.front();
    if (!server->port_->Open(first.format, first.protocol, error)) return nullptr;
    return server;
}

DeviceServer::DeviceServer(Config config)
    : config_(std::move(config)), bus_(config_.modules, PtyServer::Now()) {
    executor_.SetGuiThread();
    port_ = std::make_unique<Port>(&executor_, config_.path);
    engine_ = std::make_unique<LineEngine>(bus_, *port_, config_.replyDelay, config_.log);
    port_->OnReceive([this](TksBaseIO*, const std::uint8_t* data, std::uint32_t n) {
        std::lock_guard lock(mutex_);
        engine_->OnBytes(data, n, PtyServer::Now());
    });
}

DeviceServer::~DeviceServer() {
    port_->OnReceive(nullptr);
    port_->Close();
}

LineSettings DeviceServer::Line() const {
    return port_->Settings();
}

bool DeviceServer::Run(int stopFd) {
    using std::chrono::milliseconds;
    // The loop wakes for received bytes (posted by the component), for the
    // engine's next deadline, and at least every 50 ms to look at stopFd.
    constexpr milliseconds kLongest{50};
    while (!stopping_.load()) {
        milliseconds wait = kLongest;
        {
            std::lock_guard lock(mutex_);
            if (const std::optional<SimTime> due = engine_->NextDeadline()) {
                const auto left = std::chrono::ceil<milliseconds>(*due - PtyServer::Now());
                wait = std::clamp(left, milliseconds{0}, kLongest);
            }
        }
        executor_.RunFor(wait);
        if (stopFd >= 0 && FdReadable(stopFd)) return true;
        if (!port_->Active()) {
            if (config_.log) config_.log("the port was lost");
            return false;
        }
        std::lock_guard lock(mutex_);
        engine_->OnTimer(PtyServer::Now());
    }
    return true;
}

void DeviceServer::Stop() {
    stopping_ = true;
    executor_.Post([] {});  // wakes the loop
}

}  // namespace kelm::sim
