#include "kelm-sim/DeviceServer.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include "kelm-sim/PtyServer.h"
#include "kelm-sim/SlaveFrame.h"
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

// The engine runs under DeviceServer::mutex_, and the component takes its own
// lock when it delivers received bytes (and then we take mutex_). So that the
// two locks are never taken in the other order, the engine never calls into
// the component: writes and new settings wait in the outbox, which the loop
// carries out after it has released mutex_. The line settings are a copy
// kept here for the same reason.
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

    // Under mutex_ (engine calls):
    LineSettings Settings() override { return line_; }

    bool Write(const ByteString& bytes) override {
        outbox_.push_back(Action{bytes, std::nullopt});
        return true;
    }

    void FollowModule(std::uint8_t format, Protocol protocol) override {
        line_ = FormatLine(format, protocol);
        outbox_.push_back(Action{{}, std::make_pair(format, protocol)});
    }

    // Without mutex_, on the loop's thread: carries out the outbox in order.
    void Flush(std::vector<ByteString>* unsent) {
        for (Action& a : outbox_) {
            if (a.settings) {
                // Let the acknowledgement leave under the old settings first.
                comm_.FlushOutputBuffer();
                Configure(a.settings->first, a.settings->second);
            } else if (comm_.Active()) {
                comm_.SendData(a.bytes.data(), static_cast<std::uint32_t>(a.bytes.size()));
            } else {
                unsent->push_back(std::move(a.bytes));
            }
        }
        outbox_.clear();
    }

  private:
    struct Action {
        ByteString bytes;
        std::optional<std::pair<std::uint8_t, Protocol>> settings;
    };

    void Configure(std::uint8_t format, Protocol protocol) {
        line_ = FormatLine(format, protocol);
        comm_.SetBaudRate(line_.baud);
        comm_.SetByteSize(static_cast<std::uint8_t>(*line_.dataBits));
        comm_.SetParity(*line_.parity == Parity::Even ? TParity::pEven : TParity::pNone);
        comm_.SetStopBits(line_.stopBits == 1 ? TStopBits::sbOne : TStopBits::sbTwo);
    }

    PathComm comm_;
    // Both under mutex_ while the engine runs; Flush and Configure run on the
    // loop's thread, which is the only one that runs the engine.
    LineSettings line_;
    std::vector<Action> outbox_;
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

LineSettings DeviceServer::Line() {
    std::lock_guard lock(mutex_);
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
        {
            std::lock_guard lock(mutex_);
            engine_->OnTimer(PtyServer::Now());
        }
        std::vector<ByteString> unsent;
        port_->Flush(&unsent);
        for (const ByteString& bytes : unsent)
            if (config_.log) config_.log("tx failed: the port is closed (" + HexBytes(bytes) + ")");
    }
    return true;
}

void DeviceServer::Stop() {
    // Wake first, flag last: once the flag is set the owner may destroy the
    // server as soon as Run returns, so nothing of it is touched after that.
    // A loop that woke before the flag was set sees it within 50 ms.
    executor_.Post([] {});
    stopping_ = true;
}

}  // namespace kelm::sim
