#include "bus/BusClient.h"

#include <cerrno>
#include <cstring>

#include "modbus/CommFormats.h"
#include "serial/EnumPorts.h"
#include "serial/LoopExecutor.h"
#include "serial/ksComm.h"
#include "serial/ksTypes.h"

namespace kelm::bus {

// The component, opened by the name it is given rather than by a number of
// the port list (device paths, by-id links, and names the library resolves).
class BusClient::Port final : public TksComm {
  public:
    explicit Port(IExecutor* executor) : TksComm(executor) {}
    ~Port() override { ShutDown(); }
    void SetName(std::string name) { name_ = std::move(name); }
    std::string GetPortName() override { return name_; }
    int LastOpenError() const { return fLastOpenError; }

  private:
    std::string name_;
};

std::optional<int> FormatCodeOf(const LineSettings& line) {
    for (std::size_t i = 0; i < kCommFormatBauds.size(); ++i) {
        if (kCommFormatBauds[i] == line.baud)
            return static_cast<int>(i) + (line.evenParity ? 8 : 0);
    }
    return std::nullopt;
}

std::optional<LineSettings> LineOfFormatCode(int code, WireProtocol protocol) {
    if (code < 0 || code >= kCommFormatCount) return std::nullopt;
    LineSettings line;
    line.baud = kCommFormatBauds[static_cast<std::size_t>(code % 8)];
    line.evenParity = code >= 8;
    line.protocol = protocol;
    return line;
}

std::string DescribeOpenFailure(const std::string& portName, const OpenResult& result) {
    const std::string sys = std::strerror(result.error);
    // A network port's device says why in words of its own (a malformed
    // address, an unknown host, a refused connection, a time-out); the
    // codes it returns would read as a tty's faults.
    if (result.failure != OpenFailure::None && portName.find("://") != std::string::npos) {
        const std::size_t cr = result.systemText.find('\r');
        const std::string why =
            cr == std::string::npos ? std::string() : result.systemText.substr(cr + 1);
        return "cannot open " + portName + ": " + (why.empty() ? sys : why);
    }
    switch (result.failure) {
        case OpenFailure::None:
            return {};
        case OpenFailure::Busy:
            return "cannot open " + portName + ": the port is busy (" + sys +
                   "): another program has it open; close it (fuser " + portName + " names it)";
        case OpenFailure::Permission: {
            const PortAccess access = CheckPortAccess(portName);
            const std::string group = access.group.empty() ? "dialout" : access.group;
            return "cannot open " + portName + ": permission denied (" + sys +
                   "): the port belongs to group " + group + "; run sudo usermod -aG " + group +
                   " $USER, then log out and in again";
        }
        case OpenFailure::Missing:
            return "cannot open " + portName + ": the port is missing (" + sys +
                   "); kelm ports lists the ports there are";
        case OpenFailure::NotSerial:
            return "cannot open " + portName + ": not a serial port (" + sys + ")";
        case OpenFailure::Other:
            break;
    }
    return "cannot open " + portName + ": " + sys;
}

BusClient::BusClient() : executor_(std::make_unique<LoopExecutor>()) {}

BusClient::~BusClient() {
    Close();
}

OpenResult BusClient::Open(const std::string& portName, const LineSettings& line) {
    Close();
    port_ = std::make_unique<Port>(executor_.get());
    port_->SetName(portName);
    port_->SetBufferInSize(8192);
    port_->SetBufferOutSize(8192);
    port_->SetTimeoutRead(0);
    port_->SetTimeoutWrite(0);
    port_->SetStreamProtocol(TStreamProtocol::spNone);
    port_->SetUseMainThread(true);
    port_->SetKeepConnection(false);
    line_ = line;
    ApplyLine();
    port_->SetOnAfterReceive([this](TksBaseIO*, const std::uint8_t* data, std::uint32_t n) {
        if (data != nullptr && n > 0) received_.insert(received_.end(), data, data + n);
        lastTraffic_ = Clock::now();
    });
    port_->SetOnClose([this](TksComponent*) { lost_ = true; });
    // The message comes back in the result; nothing is printed by the component.
    port_->SetOnFatalError([](TksComponent*, std::uint32_t, std::uint32_t, const std::string&,
                              bool& raise) { raise = false; });
    lost_ = false;
    received_.clear();
    port_->SetActive(true);
    OpenResult result;
    if (!port_->Active()) {
        result.error = port_->LastOpenError();
        result.systemText = port_->LastErrorString();
        switch (result.error) {
            case EBUSY:
            case EWOULDBLOCK:
                result.failure = OpenFailure::Busy;
                break;
            case EACCES:
            case EPERM:
                result.failure = OpenFailure::Permission;
                break;
            case ENOENT:
            case ENODEV:
            case ENXIO:
            case ENOTDIR:
                result.failure = OpenFailure::Missing;
                break;
            case ENOTTY:
            case EINVAL:
            case EISDIR:
                result.failure = OpenFailure::NotSerial;
                break;
            default:
                result.failure = OpenFailure::Other;
                break;
        }
        port_->SetOnAfterReceive(nullptr);
        port_->SetOnClose(nullptr);
        port_.reset();
        return result;
    }
    lost_ = false;  // the close that begins an open is no loss
    lastTraffic_ = Clock::now();
    return result;
}

void BusClient::Close() {
    if (!port_) return;
    port_->SetOnAfterReceive(nullptr);
    port_->SetOnClose(nullptr);
    port_->SetActive(false);
    port_.reset();
}

bool BusClient::IsOpen() const {
    return port_ && port_->Active() && !lost_;
}

void BusClient::ApplyLine() {
    port_->SetBaudRate(line_.baud);
    port_->SetByteSize(line_.protocol == WireProtocol::Rtu ? 8 : 7);
    port_->SetParity(line_.evenParity ? TParity::pEven : TParity::pNone);
    port_->SetStopBits(line_.evenParity ? TStopBits::sbOne : TStopBits::sbTwo);
    port_->SetRS485Mode(line_.rs485);
}

void BusClient::SetLine(const LineSettings& line) {
    line_ = line;
    if (!port_) return;
    executor_->ProcessEvents();
    DropReceived();
    ApplyLine();
    discarded_ += port_->ReadyForRead();
    port_->ClearDeviceInput();
    lastTraffic_ = Clock::now();
}

void BusClient::DropReceived() {
    discarded_ += received_.size();
    received_.clear();
}

void BusClient::DiscardUntil(Clock::time_point until) {
    for (;;) {
        executor_->ProcessEvents();
        DropReceived();
        const auto now = Clock::now();
        if (now >= until) return;
        executor_->RunFor(std::chrono::ceil<std::chrono::milliseconds>(until - now));
    }
}

void BusClient::Settle(std::chrono::milliseconds quiet) {
    if (!port_) return;
    DiscardUntil(Clock::now() + quiet);
}

std::size_t BusClient::InputWaiting() {
    if (!port_) return 0;
    executor_->ProcessEvents();
    return received_.size() + port_->ReadyForRead();
}

std::chrono::milliseconds BusClient::DefaultTimeout(const ByteString& requestBody) const {
    return DefaultResponseTimeout(requestBody, ModuleLineTiming(line_.baud, line_.protocol),
                                  line_.protocol);
}

TransactionResult BusClient::Transact(const ByteString& requestBody,
                                      const RequestOptions& options) {
    TransactionResult result;
    const LineTiming timing = ModuleLineTiming(line_.baud, line_.protocol);
    const auto timeout = options.timeout.value_or(DefaultTimeout(requestBody));
    const ByteString frame = FrameRequest(requestBody, line_.protocol);
    const int attempts = 1 + std::max(options.retries, 0);
    for (int attempt = 0; attempt < attempts; ++attempt) {
        result.attempts = attempt + 1;
        if (!IsOpen()) {
            result.outcome = Outcome::PortLost;
            return result;
        }
        // Whatever came in since the last answer is no answer to this request.
        executor_->ProcessEvents();
        DropReceived();
        discarded_ += port_->ReadyForRead();
        port_->ClearDeviceInput();
        // Keep the inter-frame gap after the line's last traffic; a line that
        // keeps talking is given up on after a second, and we send anyway.
        const auto gap = InterFrameGap(timing);
        const auto giveUp = Clock::now() + std::chrono::seconds(1);
        while (Clock::now() < lastTraffic_ + gap && Clock::now() < giveUp) {
            DiscardUntil(std::min(lastTraffic_ + gap, giveUp));
        }
        received_.clear();
        const auto sent = Clock::now();
        port_->SendData(frame.data(), static_cast<std::uint32_t>(frame.size()));
        lastTraffic_ = sent + CharsTime(timing, frame.size());
        ReplyMatch match;
        executor_->RunUntil(
            [&] {
                if (lost_) return true;
                match = MatchReply(requestBody, received_, line_.protocol);
                return match.state != ReplyState::Incomplete;
            },
            timeout);
        if (lost_ || !port_->Active()) {
            result.outcome = Outcome::PortLost;
            return result;
        }
        if (match.state != ReplyState::Incomplete) {
            result.replyTime =
                std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - sent);
            result.outcome = match.state == ReplyState::Reply ? Outcome::Reply : Outcome::Exception;
            result.body = std::move(match.body);
            result.exceptionCode = match.exceptionCode;
            result.strayBytes = 0;
            const std::size_t frameSize = line_.protocol == WireProtocol::Ascii
                                              ? 2 * result.body.size() + 5  // ':' hex LRC CR LF
                                              : result.body.size() + 2;     // CRC
            result.extraBytes = received_.size() > frameSize ? received_.size() - frameSize : 0;
            discarded_ += result.extraBytes;
            received_.clear();
            return result;
        }
        result.strayBytes = received_.size();
        DropReceived();
    }
    result.outcome = Outcome::Timeout;
    return result;
}

}  // namespace kelm::bus
