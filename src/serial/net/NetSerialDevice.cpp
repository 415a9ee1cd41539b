#include "serial/net/NetSerialDevice.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace kelm::net {

// Both socket backends report errno codes (winsock's are mapped to them).
bool IsConnectionLost(int e) {
    switch (e) {
        case ECONNRESET:
        case ECONNABORTED:
        case EPIPE:
        case ETIMEDOUT:
        case EHOSTUNREACH:
        case ENETUNREACH:
        case ENETDOWN:
        case ENOTCONN:
            return true;
        default:
            return false;
    }
}

namespace {
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

thread_local int t_lastError = 0;

int Fail(int e) {
    t_lastError = e;
    return e;
}

uint8_t ParityCode(uint8_t dcbParity) {
    switch (dcbParity) {
        case 1:
            return telnet::kParityOdd;
        case 2:
            return telnet::kParityEven;
        case 3:
            return telnet::kParityMark;
        case 4:
            return telnet::kParitySpace;
        default:
            return telnet::kParityNone;
    }
}

uint8_t StopCode(uint8_t dcbStopBits) {
    switch (dcbStopBits) {
        case 1:
            return telnet::kStop15;
        case 2:
            return telnet::kStop2;
        default:
            return telnet::kStop1;
    }
}

uint8_t FlowCode(const TDCB& dcb) {
    if (dcb.Flags & DCB_fOutxCtsFlow) return telnet::kFlowHardware;
    if (dcb.Flags & (DCB_fOutX | DCB_fInX)) return telnet::kFlowXonXoff;
    return telnet::kFlowNone;
}
}  // namespace

NetSerialDevice::NetSerialDevice() : NetSerialDevice(Options{}) {}

NetSerialDevice::NetSerialDevice(Options options)
    : options_(std::move(options)),
      sock_(options_.makeSocket ? options_.makeSocket() : CreateSocket()) {}

NetSerialDevice::~NetSerialDevice() {
    Close();
}

void NetSerialDevice::SetOpenText(int code, std::string text) {
    std::lock_guard g(textMutex_);
    openCode_ = code;
    openText_ = std::move(text);
}

int NetSerialDevice::Open(const std::string& portName) {
    std::unique_lock lock(rw_);
    if (open_) return Fail(EBUSY);
    std::string why;
    const std::optional<NetAddress> address = ParseNetAddress(portName, &why);
    if (!address) {
        SetOpenText(EINVAL, "bad network address: " + why);
        return Fail(EINVAL);
    }
    kind_ = address->kind;
    sock_->ClearCancel();
    lookupCancel_.Reset();
    std::string reason;
    const int e = Connect(*address, &reason);
    if (e != 0) {
        SetOpenText(e, reason);
        return Fail(e);
    }
    {
        std::lock_guard in(inMutex_);
        inQ_.clear();
        inHead_ = 0;
        lost_ = false;
        lostReason_.clear();
    }
    {
        std::lock_guard f(fillMutex_);
        mbap_.Clear();
    }
    {
        std::lock_guard t(telnetMutex_);
        telnet_ = TelnetClient{};
        acksMissing_ = false;
    }
    transaction_ = 0;
    awaitingReply_ = false;
    txPending_ = false;
    wakeRequested_ = false;
    unreported_ = false;
    {
        std::lock_guard g(settingsMutex_);
        haveApplied_ = false;
    }
    open_ = true;
    if (kind_ == NetKind::Rfc2217) {
        if (const int n = NegotiateRfc2217(); n != 0) {
            open_ = false;
            sock_->Close();
            return Fail(n);
        }
    }
    SetOpenText(0, {});  // later failures of the same code are not the open's
    return 0;
}

int NetSerialDevice::Connect(const NetAddress& address, std::string* reason) {
    const int limitMs = options_.connectTimeoutMs;
    const auto deadline = Clock::now() + Ms(limitMs);
    const HostLookupResult found =
        LookUpWithin(options_.lookUp ? options_.lookUp : HostLookupFn(SystemHostLookup),
                     address.host, address.port, limitMs, &lookupCancel_);
    if (found.error != 0) {
        *reason = found.reason;
        return found.error;
    }
    int e = ECONNREFUSED;
    for (const std::string& numeric : found.addresses) {
        const auto left = std::chrono::duration_cast<Ms>(deadline - Clock::now()).count();
        if (left <= 0) {
            e = ETIMEDOUT;
            break;
        }
        e = sock_->Connect(numeric, address.port, static_cast<int>(left), reason);
        if (e == 0) return 0;
        if (e == ETIMEDOUT || e == ECANCELED) break;  // the time is used up
    }
    // The whole time allowed, not what was left for the last address.
    if (e == ETIMEDOUT)
        *reason = "timed out after " + (limitMs % 1000 == 0 ? std::to_string(limitMs / 1000) + " s"
                                                            : std::to_string(limitMs) + " ms");
    return e;
}

int NetSerialDevice::NegotiateRfc2217() {
    int error = 0;
    std::string start;
    {
        std::lock_guard t(telnetMutex_);
        start = telnet_.Start();
    }
    {
        std::lock_guard s(sendMutex_);
        if (!SendRaw(start, &error)) {
            SetOpenText(error, "the Telnet negotiation failed: " + sock_->ErrorText(error));
            return error;
        }
    }
    const auto deadline = Clock::now() + Ms(options_.connectTimeoutMs);
    for (;;) {
        Fill();
        {
            std::lock_guard t(telnetMutex_);
            if (telnet_.comPort() == TelnetClient::ComPortState::Accepted) return 0;
            if (telnet_.comPort() == TelnetClient::ComPortState::Refused) {
                SetOpenText(EPROTONOSUPPORT,
                            "the server refuses the COM port control option (RFC 2217); use "
                            "tcp:// for a server that passes the bytes through");
                return EPROTONOSUPPORT;
            }
        }
        {
            std::lock_guard in(inMutex_);
            if (lost_) {
                SetOpenText(ECONNRESET, "the server closed the connection (" + lostReason_ + ")");
                return ECONNRESET;
            }
        }
        const auto left = std::chrono::duration_cast<Ms>(deadline - Clock::now()).count();
        if (left <= 0) {
            SetOpenText(ETIMEDOUT, "no answer to the COM port control option (RFC 2217) within " +
                                       std::to_string(options_.connectTimeoutMs) +
                                       " ms; is the server set to Telnet with RFC 2217 (remctl)?");
            return ETIMEDOUT;
        }
        const auto r = sock_->Wait(true, false, static_cast<int>(std::min<int64_t>(left, 50)));
        if (r == ISocket::Ready::Cancelled || r == ISocket::Ready::Failed) {
            SetOpenText(ECANCELED, "cancelled");
            return ECANCELED;
        }
    }
}

int NetSerialDevice::Adopt(TksHandle) {
    // A handle opened elsewhere has no address and no protocol: only ports
    // opened by name go over the network.
    return Fail(EBADF);
}

bool NetSerialDevice::Close() {
    sock_->Cancel();  // waits and sends give up
    lookupCancel_.Cancel();
    std::unique_lock lock(rw_);
    const bool was = open_.exchange(false);
    if (was) sock_->Close();
    sock_->ClearCancel();
    lookupCancel_.Reset();
    std::lock_guard in(inMutex_);
    inQ_.clear();
    inHead_ = 0;
    return was;
}

bool NetSerialDevice::IsOpen() const {
    return open_;
}

TksHandle NetSerialDevice::NativeHandle() const {
    std::shared_lock lock(rw_);
    return open_ ? static_cast<TksHandle>(sock_->Handle()) : kInvalidHandle;
}

std::string NetSerialDevice::ErrorText(int code) const {
    std::lock_guard g(textMutex_);
    if (code == openCode_ && !openText_.empty()) return openText_;
    if (code == EPROTO && !refusal_.empty()) return refusal_;
    return sock_->ErrorText(code);
}

int NetSerialDevice::LastError() const {
    return t_lastError;
}

void NetSerialDevice::MarkLost(const std::string& reason) {
    std::lock_guard in(inMutex_);
    if (!lost_) lostReason_ = reason;
    lost_ = true;
}

bool NetSerialDevice::SendRaw(const std::string& bytes, int* error) {
    if (bytes.empty()) return true;
    return sock_->SendAll(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), kIdleCapMs,
                          error);
}

bool NetSerialDevice::Fill(bool fromWait) {
    bool queued = false;
    const bool any = FillLocked(&queued);
    // Bytes queued outside the event wait are reported by its next round,
    // which is woken in case it already sleeps on the drained socket.
    if (queued && !fromWait) {
        unreported_ = true;
        sock_->Wake();
    }
    return any;
}

bool NetSerialDevice::FillLocked(bool* queued) {
    std::lock_guard f(fillMutex_);
    bool any = false;
    uint8_t buf[4096];
    for (;;) {
        {
            std::lock_guard in(inMutex_);
            if (!open_ || lost_ || QueuedLocked() >= kMaxQueue) return any;
        }
        int error = 0;
        const long r = sock_->Receive(buf, sizeof buf, &error);
        if (r == 0) {
            MarkLost("the server closed the connection");
            return any;
        }
        if (r < 0) {
            if (error == EINTR) continue;
            if (error != EAGAIN) MarkLost(sock_->ErrorText(error));
            return any;
        }
        any = true;
        std::string data, reply;
        switch (kind_) {
            case NetKind::Tcp:
                data.assign(reinterpret_cast<const char*>(buf), static_cast<size_t>(r));
                break;
            case NetKind::Rfc2217: {
                std::lock_guard t(telnetMutex_);
                telnet_.Feed(buf, static_cast<size_t>(r), &data, &reply);
                break;
            }
            case NetKind::ModbusTcp:
                mbap_.Feed(buf, static_cast<size_t>(r));
                while (auto frame = mbap_.Next()) {
                    if (awaitingReply_ && frame->transaction == transaction_) {
                        awaitingReply_ = false;  // one reply per request
                        data += MbapToRtu(frame->unit, frame->pdu);
                    } else {
                        ++stale_;
                    }
                }
                break;
        }
        if (!reply.empty()) {
            int e = 0;
            std::lock_guard s(sendMutex_);
            SendRaw(reply, &e);  // a failure shows as a lost connection on the next read
        }
        if (!data.empty()) {
            std::lock_guard in(inMutex_);
            if (inHead_ > 0 && inHead_ >= inQ_.size() / 2) {
                inQ_.erase(0, inHead_);
                inHead_ = 0;
            }
            inQ_ += data;
            *queued = true;
        }
        if (static_cast<size_t>(r) < sizeof buf) return any;
    }
}

bool NetSerialDevice::ApplyDcb(const TDCB& dcb) {
    std::shared_lock lock(rw_);
    if (!open_) return Fail(EBADF), false;
    {
        std::lock_guard g(settingsMutex_);
        applied_ = dcb;
        haveApplied_ = true;
    }
    if (kind_ != NetKind::Rfc2217) return true;  // the line is set on the server
    Rfc2217Line line;
    line.baud = dcb.BaudRate;
    line.dataSize = dcb.ByteSize;
    line.parity = ParityCode(dcb.Parity);
    line.stopSize = StopCode(dcb.StopBits);
    uint64_t acksBefore = 0;
    bool wait = false;
    {
        std::lock_guard t(telnetMutex_);
        if (telnet_.comPort() != TelnetClient::ComPortState::Accepted) return Fail(ENOTSUP), false;
        acksBefore = telnet_.lineAcks();
        wait = !acksMissing_;
    }
    int error = 0;
    {
        std::lock_guard s(sendMutex_);
        if (!SendRaw(TelnetClient::SetLineCommands(line, FlowCode(dcb)), &error)) {
            if (IsConnectionLost(error)) MarkLost(sock_->ErrorText(error));
            return Fail(error), false;
        }
    }
    if (!wait) return true;
    // The server confirms each of the four settings; a request written
    // before that might still go out at the old ones.
    const auto deadline = Clock::now() + Ms(kAckTimeoutMs);
    for (;;) {
        if (waiters_.load() == 0) Fill();
        {
            std::lock_guard t(telnetMutex_);
            if (telnet_.lineAcks() >= acksBefore + 4) return true;
        }
        {
            std::lock_guard in(inMutex_);
            if (lost_) return Fail(EIO), false;
        }
        const auto left = std::chrono::duration_cast<Ms>(deadline - Clock::now()).count();
        if (left <= 0) {
            std::lock_guard t(telnetMutex_);
            acksMissing_ = true;
            return Fail(ETIMEDOUT), false;
        }
        // The event thread may be the one reading: look again every 5 ms.
        const auto r =
            sock_->Wait(waiters_.load() == 0, false, static_cast<int>(std::min<int64_t>(left, 5)));
        if (r == ISocket::Ready::Cancelled || r == ISocket::Ready::Failed)
            return Fail(ECANCELED), false;
    }
}

bool NetSerialDevice::ReadDcb(TDCB& dcb) {
    std::shared_lock lock(rw_);
    if (!open_) return Fail(EBADF), false;
    // The server's settings cannot be asked for: what was last sent stands.
    std::lock_guard g(settingsMutex_);
    if (haveApplied_) dcb = applied_;
    return true;
}

bool NetSerialDevice::SetupQueues(uint32_t inSize, uint32_t outSize) {
    std::lock_guard g(settingsMutex_);
    inSize_ = inSize;
    outSize_ = outSize;
    return open_;
}

bool NetSerialDevice::SetTimeouts(const TCommTimeouts& timeouts) {
    std::lock_guard g(settingsMutex_);
    timeouts_ = timeouts;
    return open_;
}

bool NetSerialDevice::SupportsRs485Toggle() {
    // The server's own transceiver control turns the bus round.
    return open_;
}

bool NetSerialDevice::SetRs485(bool) {
    return open_ ? true : (Fail(EBADF), false);
}

bool NetSerialDevice::ClearError(uint32_t* errors, TComStat* stat) {
    std::shared_lock lock(rw_);
    if (!open_) return Fail(EBADF), false;
    bool fill = false;
    {
        std::lock_guard in(inMutex_);
        fill = QueuedLocked() == 0 && waiters_.load() == 0;
    }
    if (fill) Fill();
    std::lock_guard in(inMutex_);
    const size_t queued = QueuedLocked();
    if (lost_ && queued == 0) {
        Fail(EIO);
        if (errors) *errors = CE_PORT_LOST;
        if (stat) *stat = TComStat{};
        return true;
    }
    if (errors) *errors = 0;
    if (stat) {
        stat->Flags = 0;
        stat->cbInQue = static_cast<uint32_t>(std::min<size_t>(queued, 0xFFFFFFFFu));
        stat->cbOutQue = 0;  // what TCP has taken is on its way
    }
    return true;
}

bool NetSerialDevice::ReadNow(uint8_t* buf, uint32_t n, uint32_t* got) {
    *got = 0;
    std::shared_lock lock(rw_);
    if (!open_) return Fail(EBADF), false;
    if (n == 0) return true;
    bool fill = false;
    {
        std::lock_guard in(inMutex_);
        fill = QueuedLocked() == 0 && waiters_.load() == 0;
    }
    if (fill) Fill();
    bool wasFull = false;
    {
        std::lock_guard in(inMutex_);
        const size_t queued = QueuedLocked();
        wasFull = queued >= kMaxQueue;
        const size_t take = std::min<size_t>(queued, n);
        if (take == 0 && lost_) return Fail(EIO), false;
        std::memcpy(buf, inQ_.data() + inHead_, take);
        inHead_ += take;
        if (inHead_ == inQ_.size()) {
            inQ_.clear();
            inHead_ = 0;
        }
        *got = static_cast<uint32_t>(take);
    }
    // The event wait stopped reading the socket while the queue was full.
    if (wasFull) sock_->Wake();
    return true;
}

bool NetSerialDevice::Read(uint8_t* buf, uint32_t n, uint32_t* got) {
    *got = 0;
    std::shared_lock lock(rw_);
    if (!open_) return Fail(EBADF), false;
    TCommTimeouts to;
    {
        std::lock_guard g(settingsMutex_);
        to = timeouts_;
    }
    const uint64_t total =
        uint64_t(to.ReadTotalTimeoutMultiplier) * n + to.ReadTotalTimeoutConstant;
    const auto start = Clock::now();
    auto lastByte = start;
    while (*got < n) {
        if (waiters_.load() == 0) Fill();
        {
            std::lock_guard in(inMutex_);
            const size_t take = std::min<size_t>(QueuedLocked(), n - *got);
            std::memcpy(buf + *got, inQ_.data() + inHead_, take);
            inHead_ += take;
            *got += static_cast<uint32_t>(take);
            if (take > 0) lastByte = Clock::now();
            if (*got == n) break;
            if (lost_) return Fail(EIO), false;
        }
        auto deadline = Clock::time_point::max();
        if (total != 0) deadline = start + Ms(total);
        if (to.ReadIntervalTimeout != 0 && *got > 0)
            deadline = std::min(deadline, lastByte + Ms(to.ReadIntervalTimeout));
        if (total == 0 && to.ReadIntervalTimeout == 0) deadline = lastByte + Ms(kIdleCapMs);
        const auto now = Clock::now();
        if (now >= deadline) return Fail(ETIMEDOUT), false;
        const auto left = std::chrono::duration_cast<Ms>(deadline - now).count();
        const auto r = sock_->Wait(waiters_.load() == 0, false,
                                   static_cast<int>(std::clamp<int64_t>(left, 1, 10)));
        if (r == ISocket::Ready::Cancelled || r == ISocket::Ready::Failed)
            return Fail(ECANCELED), false;
    }
    return true;
}

bool NetSerialDevice::Write(const uint8_t* buf, uint32_t n, uint32_t* written, int* lastError) {
    *written = 0;
    if (lastError) *lastError = 0;
    auto fail = [&](int e) {
        Fail(e);
        if (lastError) *lastError = e;
        return false;
    };
    std::shared_lock lock(rw_);
    if (!open_) return fail(EBADF);
    {
        std::lock_guard in(inMutex_);
        if (lost_) return fail(EIO);
    }
    if (n == 0) return true;
    std::string out;
    std::lock_guard s(sendMutex_);
    switch (kind_) {
        case NetKind::Tcp:
            out.assign(reinterpret_cast<const char*>(buf), n);
            break;
        case NetKind::Rfc2217: {
            std::lock_guard t(telnetMutex_);
            out = telnet_.EscapeData(buf, n);
            break;
        }
        case NetKind::ModbusTcp: {
            const uint16_t id = static_cast<uint16_t>(transaction_ + 1);
            std::optional<std::string> frame = RtuToMbap(buf, n, id);
            if (!frame) {
                std::lock_guard g(textMutex_);
                refusal_ = n > 0 && buf[0] == ':'
                               ? "a Modbus TCP gateway carries RTU only: the ASCII request was "
                                 "not sent (set the protocol to RTU)"
                               : "not an RTU request with a valid CRC: not sent to the Modbus "
                                 "TCP gateway";
                return fail(EPROTO);
            }
            // Set before the send: the reply may come before SendAll returns.
            transaction_ = id;
            awaitingReply_ = true;
            out = std::move(*frame);
            break;
        }
    }
    int error = 0;
    if (!SendRaw(out, &error)) {
        if (IsConnectionLost(error)) {
            MarkLost(sock_->ErrorText(error));
            error = EIO;  // what the component knows as a vanished device
        }
        return fail(error);
    }
    *written = n;
    return true;
}

bool NetSerialDevice::Purge(uint32_t flags) {
    std::shared_lock lock(rw_);
    if (!open_) return Fail(EBADF), false;
    if (flags & (PURGE_RXCLEAR | PURGE_RXABORT)) {
        std::lock_guard f(fillMutex_);
        std::lock_guard in(inMutex_);
        inQ_.clear();
        inHead_ = 0;
    }
    // What TCP has taken cannot be called back.
    return true;
}

bool NetSerialDevice::Escape(uint32_t function) {
    std::shared_lock lock(rw_);
    if (!open_) return Fail(EBADF), false;
    uint8_t control = 0;
    switch (function) {
        case SETRTS:
            control = telnet::kRtsOn;
            break;
        case CLRRTS:
            control = telnet::kRtsOff;
            break;
        case SETDTR:
            control = telnet::kDtrOn;
            break;
        case CLRDTR:
            control = telnet::kDtrOff;
            break;
        case SETBREAK:
            control = telnet::kBreakOn;
            break;
        case CLRBREAK:
            control = telnet::kBreakOff;
            break;
        case SETXON:
        case SETXOFF:
            return true;  // the server runs its own flow control
        default:
            return Fail(EINVAL), false;
    }
    if (kind_ != NetKind::Rfc2217) return true;  // no lines to drive from here
    {
        std::lock_guard t(telnetMutex_);
        if (telnet_.comPort() != TelnetClient::ComPortState::Accepted) return true;
    }
    int error = 0;
    std::lock_guard s(sendMutex_);
    if (!SendRaw(TelnetClient::ComPortCommand(telnet::kSetControl,
                                              std::string(1, static_cast<char>(control))),
                 &error))
        return Fail(error), false;
    return true;
}

bool NetSerialDevice::ModemStatus(uint32_t* status) {
    *status = 0;
    std::shared_lock lock(rw_);
    if (!open_) return Fail(EBADF), false;
    if (kind_ == NetKind::Rfc2217) {
        std::lock_guard t(telnetMutex_);
        *status = telnet_.modemState() & (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON);
    }
    return true;
}

bool NetSerialDevice::TransmitChar(uint8_t ch) {
    uint32_t written = 0;
    return Write(&ch, 1, &written, nullptr);
}

bool NetSerialDevice::Flush() {
    std::shared_lock lock(rw_);
    if (!open_) return Fail(EBADF), false;
    const auto deadline = Clock::now() + Ms(kIdleCapMs);
    while (sock_->Unsent() > 0) {
        if (Clock::now() >= deadline) return Fail(ETIMEDOUT), false;
        if (sock_->Wait(false, false, 2) == ISocket::Ready::Cancelled)
            return Fail(ECANCELED), false;
    }
    return true;
}

bool NetSerialDevice::DrainTransmitter() {
    return open_ ? true : (Fail(EBADF), false);
}

bool NetSerialDevice::Properties(TCommProp* prop) {
    std::shared_lock lock(rw_);
    if (!open_) return Fail(EBADF), false;
    *prop = TCommProp{};
    prop->wPacketLength = sizeof(TCommProp);
    prop->wPacketVersion = 2;
    prop->dwServiceMask = 1;       // SP_SERIALCOMM
    prop->dwMaxBaud = 0x10000000;  // BAUD_USER
    prop->dwProvSubType = 0x100;   // PST_NETWORK_BRIDGE
    prop->dwProvCapabilities = 0;  // no modem lines of our own
    prop->dwSettableParams = kind_ == NetKind::Rfc2217 ? 0x7F : 0;
    prop->dwSettableBaud = kind_ == NetKind::Rfc2217 ? 0x1000FFFF : 0;
    prop->wSettableData = kind_ == NetKind::Rfc2217 ? 0x000F : 0;
    prop->wSettableStopParity = kind_ == NetKind::Rfc2217 ? 0x1F07 : 0;
    std::lock_guard g(settingsMutex_);
    prop->dwCurrentTxQueue = outSize_;
    prop->dwCurrentRxQueue = inSize_;
    return true;
}

void NetSerialDevice::SetMask(uint32_t mask) {
    mask_ = mask;
    sock_->Wake();  // looks again, does not end the wait
}

uint32_t NetSerialDevice::Mask() const {
    return mask_;
}

void NetSerialDevice::Wake() {
    wakeRequested_ = true;
    sock_->Wake();
}

void NetSerialDevice::NoteTransmit() {
    txPending_ = true;
    if (mask_ & EV_TXEMPTY) sock_->Wake();
}

ISerialDevice::WaitStatus NetSerialDevice::Wait(uint32_t* events) {
    *events = 0;
    struct Waiting {
        std::atomic<int>& n;
        explicit Waiting(std::atomic<int>& c) : n(c) { ++n; }
        ~Waiting() { --n; }
    } waiting(waiters_);
    std::shared_lock lock(rw_);
    Clock::time_point lostSince{};
    for (;;) {
        if (!open_) return WaitStatus::Closed;
        if (wakeRequested_.exchange(false)) return WaitStatus::Woken;
        const uint32_t mask = mask_;
        uint32_t found = 0;
        if (unreported_.exchange(false)) {
            std::lock_guard in(inMutex_);
            if (QueuedLocked() > 0) found |= EV_RXCHAR;
        }
        // TCP has taken every write at once: the output queue is empty.
        if ((mask & EV_TXEMPTY) && txPending_.exchange(false)) found |= EV_TXEMPTY;
        if (kind_ == NetKind::Rfc2217) {
            std::lock_guard t(telnetMutex_);
            const uint8_t changed = telnet_.TakeModemChanges();
            if (changed & MS_CTS_ON) found |= EV_CTS;
            if (changed & MS_DSR_ON) found |= EV_DSR;
            if (changed & MS_RLSD_ON) found |= EV_RLSD;
            if ((changed & MS_RING_ON) && !(telnet_.modemState() & MS_RING_ON)) found |= EV_RING;
            found &= mask;
        }
        bool lost = false, full = false;
        {
            std::lock_guard in(inMutex_);
            const size_t queued = QueuedLocked();
            full = queued >= kMaxQueue;
            if (lost_) {
                // What came before the loss is read first, for a while.
                if (lostSince == Clock::time_point{}) lostSince = Clock::now();
                lost = queued == 0 || Clock::now() - lostSince >= Ms(kLostGraceMs);
            }
        }
        if (found != 0) {
            *events = found;
            return WaitStatus::Event;
        }
        if (lost) return WaitStatus::Lost;
        const bool watch = !full && lostSince == Clock::time_point{};
        const int timeout = watch ? -1 : 50;
        switch (sock_->Wait(watch, true, timeout)) {
            case ISocket::Ready::Cancelled:
            case ISocket::Ready::Failed:
                return WaitStatus::Closed;
            case ISocket::Ready::Woken:
            case ISocket::Ready::Timeout:
                continue;  // a wake-up request is seen at the top
            case ISocket::Ready::Readable:
                break;
        }
        if (Fill(true)) {
            std::lock_guard in(inMutex_);
            if (QueuedLocked() > 0) {
                *events = EV_RXCHAR;
                return WaitStatus::Event;
            }
        }
    }
}

}  // namespace kelm::net
