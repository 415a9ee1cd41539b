#include "serial/posix/PosixSerialDevice.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "serial/net/NetPortRouter.h"
#include "serial/posix/Termios.h"

namespace kelm {

std::unique_ptr<ISerialDevice> CreateSerialDevice() {
    // Port names such as tcp://HOST:PORT reach a bus over the network.
    return net::WithNetworkPorts(std::make_unique<posix::PosixSerialDevice>());
}

namespace posix {

namespace {
constexpr uint64_t kPortTag = 1, kWakeTag = 2, kKickTag = 3;
constexpr uint32_t kModemEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;
constexpr int kModemPollMs = 20;

// errno of the last failure on this thread, as LastError() reports it.
thread_local int t_lastError = 0;

int Fail(int e) {
    t_lastError = e;
    errno = e;
    return e;
}

int MakeEventFd() {
    return eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}
}  // namespace

PosixSerialDevice::PosixSerialDevice(std::shared_ptr<TtyCalls> calls)
    : io_(calls ? std::move(calls) : SystemTtyCalls()),
      epollFd_(epoll_create1(EPOLL_CLOEXEC)),
      wakeFd_(MakeEventFd()),
      kickFd_(MakeEventFd()),
      cancelFd_(MakeEventFd()) {
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kWakeTag;
    epoll_ctl(epollFd_, EPOLL_CTL_ADD, wakeFd_, &ev);
    ev.data.u64 = kKickTag;
    epoll_ctl(epollFd_, EPOLL_CTL_ADD, kickFd_, &ev);
}

PosixSerialDevice::~PosixSerialDevice() {
    Close();
    for (int fd : {epollFd_, wakeFd_, kickFd_, cancelFd_})
        if (fd >= 0) ::close(fd);
}

bool PosixSerialDevice::IsLostErrno(int e) {
    return e == EIO || e == ENXIO || e == ENODEV;
}

void PosixSerialDevice::Drain(int efd) {
    uint64_t v;
    while (::read(efd, &v, sizeof v) > 0) {
    }
}

void PosixSerialDevice::Kick(int efd) {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t r = ::write(efd, &one, sizeof one);
}

std::string PosixSerialDevice::ErrorText(int code) const {
    char buf[256];
    return strerror_r(code, buf, sizeof buf);
}

int PosixSerialDevice::LastError() const {
    return t_lastError;
}

int PosixSerialDevice::Setup(int fd) {
    // Exclusive use: TIOCEXCL keeps other openers out (except root), the
    // lock keeps out everyone who asks for it, root included.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int e = (errno == EWOULDBLOCK) ? EBUSY : errno;
        return e;
    }
    termios t{};
    if (io_->Tcgetattr(fd, &t) != 0) return errno;  // not a tty
    io_->Ioctl(fd, TIOCEXCL, nullptr);
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLET;
    ev.data.u64 = kPortTag;
    if (epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev) != 0) return errno;
    return 0;
}

int PosixSerialDevice::Open(const std::string& portName) {
    std::unique_lock lock(rw_);
    if (fd_ >= 0) return Fail(EBUSY);
    const int fd = ::open(portName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Fail(errno);
    return AttachLocked(fd);
}

int PosixSerialDevice::Adopt(TksHandle handle) {
    std::unique_lock lock(rw_);
    if (fd_ >= 0) return Fail(EBUSY);
    const int fd = static_cast<int>(handle);
    if (fd < 0 || fcntl(fd, F_GETFD) < 0) return Fail(EBADF);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    return AttachLocked(fd);  // closes the handed-over descriptor on failure
}

// Takes ownership of an open descriptor (rw_ held exclusively): configures it
// and resets every per-handle state, or closes it and reports why.
int PosixSerialDevice::AttachLocked(int fd) {
    if (const int e = Setup(fd); e != 0) {
        ::close(fd);
        return Fail(e);
    }
    fd_ = fd;
    Drain(wakeFd_);
    Drain(cancelFd_);
    txPending_ = false;
    outMayBeQueued_ = true;
    lsrSupported_ = true;
    lastModem_ = -1;
    lastOutq_ = -1;
    txPollMs_ = 0;
    {
        std::lock_guard in(inMutex_);
        ResetInputLocked();
    }
    std::lock_guard g(icountMutex_);
    serial_icounter_struct ic{};
    icountSupported_ = io_->Ioctl(fd, TIOCGICOUNT, &ic) == 0;
    clearBase_ = eventBase_ = ic;
    return 0;
}

bool PosixSerialDevice::Close() {
    Kick(cancelFd_);  // waited reads and writes give up
    std::unique_lock lock(rw_);
    if (fd_ < 0) return false;
    epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd_, nullptr);
    io_->Ioctl(fd_, TIOCNXCL, nullptr);  // the flag outlives us on a tty that stays open elsewhere
    flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
    Drain(cancelFd_);
    std::lock_guard in(inMutex_);
    ResetInputLocked();  // what was queued goes with the port
    return true;
}

void PosixSerialDevice::ResetInputLocked() {
    const size_t cap = std::max<size_t>(inQueue_, kMinInputQueue);
    if (inCap_ != cap) {
        inRing_ = std::make_unique<uint8_t[]>(cap);
        inCap_ = cap;
    }
    inHead_ = inSize_ = 0;
    ttyMayHoldMore_ = false;
    lost_ = false;
}

void PosixSerialDevice::Fill(bool consumer, bool untilEmpty) {
    // One filler at a time; the read itself runs without inMutex_, so that
    // consumers take bytes while the tty is being read. The region read into
    // lies outside the queued bytes, and consumers only ever free space.
    // A consumer does not wait for another filler: that one is reading the
    // bytes already, and its event follows.
    std::unique_lock f(fillMutex_, std::defer_lock);
    if (consumer) {
        if (!f.try_lock()) return;
    } else {
        f.lock();
    }
    // Reading a tty that holds nothing waits for the tty's own buffer work
    // (a pty hands its bytes over from a kernel worker). Consumers never do
    // that; the event wait only when a consumer may have taken what woke it.
    if (consumer || consumerRead_.exchange(false)) {
        int holds = 0;
        if (::ioctl(fd_, FIONREAD, &holds) != 0) {
            const int e = errno;
            std::lock_guard in(inMutex_);
            if (IsLostErrno(e)) lost_ = true;
            return;
        }
        if (holds <= 0) return;
        if (consumer) consumerRead_ = true;
    }
    for (;;) {
        size_t tail = 0, room = 0;
        {
            std::lock_guard in(inMutex_);
            if (fd_ < 0 || lost_ || !inRing_) return;
            if (inSize_ >= inCap_) {
                ttyMayHoldMore_ = true;
                return;
            }
            tail = (inHead_ + inSize_) % inCap_;
            room = (inSize_ > 0 && tail < inHead_) ? inHead_ - tail : inCap_ - tail;
        }
        const ssize_t r = ::read(fd_, inRing_.get() + tail, room);
        const int e = errno;
        std::lock_guard in(inMutex_);
        if (r > 0) {
            inSize_ += static_cast<size_t>(r);
            // A short read emptied the tty; new arrivals bring a new event.
            // The event wait reads on: the next read waits for what the
            // tty's buffer work is handing over, so a stream fills the queue
            // in one event instead of one event per tty buffer.
            if (static_cast<size_t>(r) < room && !untilEmpty) {
                ttyMayHoldMore_ = false;
                return;
            }
            continue;
        }
        if (r == 0) {
            // End of file from a hung-up tty (or "no data" from a tty that
            // someone set to VMIN 0): the hang-up shows in poll.
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
                lost_ = true;
            ttyMayHoldMore_ = false;
            return;
        }
        if (e == EINTR) continue;
        if (IsLostErrno(e)) lost_ = true;
        ttyMayHoldMore_ = false;
        return;  // EAGAIN: the tty is empty
    }
}

size_t PosixSerialDevice::TakeLocked(uint8_t* out, size_t n) {
    size_t done = 0;
    while (done < n && inSize_ > 0) {
        const size_t run = std::min({n - done, inSize_, inCap_ - inHead_});
        std::memcpy(out + done, inRing_.get() + inHead_, run);
        inHead_ = (inHead_ + run) % inCap_;
        inSize_ -= run;
        done += run;
    }
    // inHead_ stays where it is even when the queue runs empty: a fill may
    // be reading into the place after the last byte right now.
    return done;
}

uint32_t PosixSerialDevice::QueuedLocked() {
    uint64_t n = inSize_;
    int inq = 0;
    if (ttyMayHoldMore_ && io_->Ioctl(fd_, FIONREAD, &inq) == 0 && inq > 0)
        n += static_cast<uint64_t>(inq);
    return static_cast<uint32_t>(std::min<uint64_t>(n, 0xFFFFFFFFu));
}

bool PosixSerialDevice::IsOpen() const {
    std::shared_lock lock(rw_);
    return fd_ >= 0;
}

TksHandle PosixSerialDevice::NativeHandle() const {
    std::shared_lock lock(rw_);
    return fd_ >= 0 ? fd_ : kInvalidHandle;
}

bool PosixSerialDevice::ApplyDcb(const TDCB& dcb) {
    std::shared_lock lock(rw_);
    if (fd_ < 0) return Fail(EBADF), false;
    termios t{};
    if (io_->Tcgetattr(fd_, &t) != 0) return Fail(errno), false;
    DcbToTermios(dcb, t);
    baud_ = dcb.BaudRate;
    // A pty refuses some settings (EINVAL); the rest still apply.
    const bool ok = io_->Tcsetattr(fd_, TCSANOW, &t) == 0;
    if (!ok) Fail(errno);
    int bits = TIOCM_DTR;
    io_->Ioctl(fd_, dcb.DtrControl() == DTR_CONTROL_DISABLE ? TIOCMBIC : TIOCMBIS, &bits);
    bits = TIOCM_RTS;
    switch (dcb.RtsControl()) {
        case RTS_CONTROL_ENABLE:
            io_->Ioctl(fd_, TIOCMBIS, &bits);
            break;
        case RTS_CONTROL_DISABLE:
        case RTS_CONTROL_TOGGLE:  // idle low; raised around transmissions
            io_->Ioctl(fd_, TIOCMBIC, &bits);
            break;
        default:  // handshake: the driver drives it
            break;
    }
    return ok;
}

bool PosixSerialDevice::ReadDcb(TDCB& dcb) {
    std::shared_lock lock(rw_);
    if (fd_ < 0) return Fail(EBADF), false;
    termios t{};
    if (io_->Tcgetattr(fd_, &t) != 0) return Fail(errno), false;
    TermiosToDcb(t, dcb);
    int lines = 0;
    if (io_->Ioctl(fd_, TIOCMGET, &lines) == 0) {
        dcb.Flags &= ~DCB_fDtrControlMask;
        dcb.Flags |= ((lines & TIOCM_DTR) ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE) << 4;
    }
    serial_rs485 rs{};
    if (io_->Ioctl(fd_, TIOCGRS485, &rs) == 0 && (rs.flags & SER_RS485_ENABLED) != 0) {
        dcb.Flags &= ~DCB_fRtsControlMask;
        dcb.Flags |= RTS_CONTROL_TOGGLE << 12;
    }
    return true;
}

bool PosixSerialDevice::SetupQueues(uint32_t inSize, uint32_t outSize) {
    // The kernel's tty buffers have fixed sizes; the values are reported by
    // Properties only.
    std::unique_lock lock(rw_);
    inQueue_ = inSize;
    outQueue_ = outSize;
    return fd_ >= 0;
}

bool PosixSerialDevice::SetTimeouts(const TCommTimeouts& timeouts) {
    std::unique_lock lock(rw_);
    timeouts_ = timeouts;
    return fd_ >= 0;
}

bool PosixSerialDevice::SupportsRs485Toggle() {
    std::shared_lock lock(rw_);
    if (fd_ < 0) return false;
    // Reading the settings proves nothing: the serial core answers
    // TIOCGRS485 for every UART, while only drivers with RS-485 support take
    // TIOCSRS485 (a 16550 refuses it with ENOTTY). Write back what was read.
    serial_rs485 rs{};
    if (io_->Ioctl(fd_, TIOCGRS485, &rs) != 0) return false;
    return io_->Ioctl(fd_, TIOCSRS485, &rs) == 0;
}

bool PosixSerialDevice::SetRs485(bool enabled) {
    std::shared_lock lock(rw_);
    if (fd_ < 0) return Fail(EBADF), false;
    serial_rs485 rs{};
    if (io_->Ioctl(fd_, TIOCGRS485, &rs) != 0) return Fail(errno), false;
    if (enabled)
        rs.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
    else
        rs.flags &= ~SER_RS485_ENABLED;
    rs.flags &= ~SER_RS485_RTS_AFTER_SEND;
    if (io_->Ioctl(fd_, TIOCSRS485, &rs) != 0) return Fail(errno), false;
    return true;
}

uint32_t PosixSerialDevice::TakeLineErrors(int fd, serial_icounter_struct& base, bool* supported) {
    *supported = false;
    if (!icountSupported_) return 0;
    serial_icounter_struct ic{};
    if (io_->Ioctl(fd, TIOCGICOUNT, &ic) != 0) return 0;
    *supported = true;
    std::lock_guard g(icountMutex_);
    uint32_t e = 0;
    if (ic.buf_overrun != base.buf_overrun) e |= CE_RXOVER;
    if (ic.overrun != base.overrun) e |= CE_OVERRUN;
    if (ic.parity != base.parity) e |= CE_RXPARITY;
    if (ic.frame != base.frame) e |= CE_FRAME;
    if (ic.brk != base.brk) e |= CE_BREAK;
    base = ic;
    return e;
}

bool PosixSerialDevice::ClearError(uint32_t* errors, TComStat* stat) {
    std::shared_lock lock(rw_);
    if (fd_ < 0) return Fail(EBADF), false;
    uint32_t inq = 0;
    bool fill = false;
    {
        // While an event wait runs it moves every arrival into the queue;
        // reading an empty tty here would only wait for the tty's own
        // buffer work. Without a waiter, or when the queue was full, look.
        std::lock_guard in(inMutex_);
        fill = ttyMayHoldMore_ || (inSize_ == 0 && waiters_.load() == 0);
    }
    if (fill) Fill(/*consumer=*/waiters_.load() > 0);
    int ttyHolds = 0;
    {
        std::lock_guard in(inMutex_);
        if (inSize_ == 0 && !lost_) {
            if (io_->Ioctl(fd_, FIONREAD, &ttyHolds) != 0 && IsLostErrno(errno)) lost_ = true;
        }
    }
    // Bytes that reached the tty after the event wait last looked: take
    // them now rather than a round through the event and dispatch threads
    // later. Only a tty that holds bytes is read, so nothing waits here.
    if (ttyHolds > 0 && !fill) Fill(/*consumer=*/true);
    {
        std::lock_guard in(inMutex_);
        if (lost_) {
            // A vanished device: the flags the component reads as a lost port.
            Fail(EIO);
            if (errors) *errors = CE_PORT_LOST;
            if (stat) *stat = TComStat{};
            return true;
        }
        inq = QueuedLocked();
    }
    int outq = 0;
    // Output can only be queued after a write: skip the query until then.
    if (outMayBeQueued_) {
        if (io_->Ioctl(fd_, TIOCOUTQ, &outq) != 0) outq = 0;
        if (outq <= 0) outMayBeQueued_ = false;
    }
    bool supported = false;
    const uint32_t e = TakeLineErrors(fd_, clearBase_, &supported);
    if (errors) *errors = e;
    if (stat) {
        stat->Flags = 0;
        stat->cbInQue = inq;
        stat->cbOutQue = static_cast<uint32_t>(outq > 0 ? outq : 0);
    }
    return true;
}

bool PosixSerialDevice::ReadNow(uint8_t* buf, uint32_t n, uint32_t* got) {
    *got = 0;
    std::shared_lock lock(rw_);
    if (fd_ < 0) return Fail(EBADF), false;
    if (n == 0) return true;
    bool fill = false;
    {
        std::lock_guard in(inMutex_);
        fill = inSize_ == 0 && waiters_.load() == 0;
    }
    if (fill) Fill();
    {
        std::lock_guard in(inMutex_);
        const size_t take = TakeLocked(buf, n);
        if (take == 0 && lost_) return Fail(EIO), false;
        *got = static_cast<uint32_t>(take);
        fill = ttyMayHoldMore_;
    }
    // Room was made: the tty may hold what did not fit before.
    if (fill) Fill(/*consumer=*/waiters_.load() > 0);
    return true;
}

int PosixSerialDevice::WaitFd(int fd, short events, int timeoutMs) {
    pollfd p[2] = {{fd, events, 0}, {cancelFd_, POLLIN, 0}};
    for (;;) {
        const int r = ::poll(p, 2, timeoutMs);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return Fail(errno), -1;
        if (r == 0) return 0;
        if (p[1].revents != 0) return Fail(ECANCELED), -1;
        return 1;  // ready, or hung up: the next read or write tells which
    }
}

bool PosixSerialDevice::Read(uint8_t* buf, uint32_t n, uint32_t* got) {
    using Clock = std::chrono::steady_clock;
    using Ms = std::chrono::milliseconds;
    *got = 0;
    std::shared_lock lock(rw_);
    if (fd_ < 0) return Fail(EBADF), false;
    const TCommTimeouts to = timeouts_;
    // Total time-out as the driver computes it; the interval time-out runs
    // from the last character once the first has come. Without either, a
    // read that sees no byte for kIdleCapMs gives up rather than hang.
    const uint64_t total =
        uint64_t(to.ReadTotalTimeoutMultiplier) * n + to.ReadTotalTimeoutConstant;
    const auto start = Clock::now();
    auto lastByte = start;
    while (*got < n) {
        Fill();
        {
            std::lock_guard in(inMutex_);
            const size_t took = TakeLocked(buf + *got, n - *got);
            *got += static_cast<uint32_t>(took);
            if (*got == n) break;
            if (took > 0) lastByte = Clock::now();
            if (lost_) return Fail(EIO), false;
        }
        auto deadline = Clock::time_point::max();
        if (total != 0) deadline = start + Ms(total);
        if (to.ReadIntervalTimeout != 0 && *got > 0)
            deadline = std::min(deadline, lastByte + Ms(to.ReadIntervalTimeout));
        if (total == 0 && to.ReadIntervalTimeout == 0) deadline = lastByte + Ms(kIdleCapMs);
        const auto now = Clock::now();
        if (now >= deadline) return Fail(ETIMEDOUT), false;
        // The event thread may take the bytes into the queue before this
        // poll sees them: look at the queue again at least every 10 ms.
        const auto left = std::chrono::duration_cast<Ms>(deadline - now).count();
        const int slice = static_cast<int>(std::clamp<int64_t>(left, 1, 10));
        if (WaitFd(fd_, POLLIN, slice) < 0) return false;
    }
    return true;
}

bool PosixSerialDevice::Write(const uint8_t* buf, uint32_t n, uint32_t* written, int* lastError) {
    *written = 0;
    if (lastError) *lastError = 0;
    std::shared_lock lock(rw_);
    if (fd_ < 0) {
        Fail(EBADF);
        if (lastError) *lastError = EBADF;
        return false;
    }
    const uint64_t total =
        uint64_t(timeouts_.WriteTotalTimeoutMultiplier) * n + timeouts_.WriteTotalTimeoutConstant;
    const auto start = std::chrono::steady_clock::now();
    while (*written < n) {
        const ssize_t r = io_->Write(fd_, buf + *written, n - *written);
        if (r > 0) {
            outMayBeQueued_ = true;
            *written += static_cast<uint32_t>(r);
            continue;
        }
        int e = (r == 0) ? EIO : errno;
        if (e == EINTR) continue;
        if (e == EAGAIN) {
            // Without a write time-out, a line that takes nothing for
            // kIdleCapMs (flow control holding it) fails instead of hanging.
            int timeout = kIdleCapMs;
            if (total != 0) {
                const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::steady_clock::now() - start)
                                       .count();
                if (uint64_t(spent) >= total) {
                    e = ETIMEDOUT;
                } else {
                    timeout = static_cast<int>(total - uint64_t(spent));
                }
            }
            if (e == EAGAIN) {
                const int w = WaitFd(fd_, POLLOUT, timeout);
                if (w > 0) continue;
                e = (w == 0) ? ETIMEDOUT : t_lastError;
            }
        }
        Fail(e);
        if (lastError) *lastError = e;
        return false;
    }
    return true;
}

bool PosixSerialDevice::Purge(uint32_t flags) {
    std::shared_lock lock(rw_);
    if (fd_ < 0) return Fail(EBADF), false;
    const bool rx = (flags & (PURGE_RXCLEAR | PURGE_RXABORT)) != 0;
    const bool tx = (flags & (PURGE_TXCLEAR | PURGE_TXABORT)) != 0;
    int r = 0;
    if (rx && tx)
        r = tcflush(fd_, TCIOFLUSH);
    else if (rx)
        r = tcflush(fd_, TCIFLUSH);
    else if (tx)
        r = tcflush(fd_, TCOFLUSH);
    if (rx) {
        std::lock_guard f(fillMutex_);
        std::lock_guard in(inMutex_);
        inHead_ = inSize_ = 0;
        ttyMayHoldMore_ = false;
    }
    if (r != 0) return Fail(errno), false;
    return true;
}

bool PosixSerialDevice::Escape(uint32_t function) {
    std::shared_lock lock(rw_);
    if (fd_ < 0) return Fail(EBADF), false;
    int r = -1;
    int bits = 0;
    switch (function) {
        case SETRTS:
        case CLRRTS:
            bits = TIOCM_RTS;
            r = io_->Ioctl(fd_, function == SETRTS ? TIOCMBIS : TIOCMBIC, &bits);
            break;
        case SETDTR:
        case CLRDTR:
            bits = TIOCM_DTR;
            r = io_->Ioctl(fd_, function == SETDTR ? TIOCMBIS : TIOCMBIC, &bits);
            break;
        case SETBREAK:
            r = io_->Ioctl(fd_, TIOCSBRK, nullptr);
            break;
        case CLRBREAK:
            r = io_->Ioctl(fd_, TIOCCBRK, nullptr);
            break;
        case SETXON:
            r = io_->Tcflow(fd_, TCOON);
            break;
        case SETXOFF:
            r = io_->Tcflow(fd_, TCOOFF);
            break;
        default:
            return Fail(EINVAL), false;
    }
    if (r != 0) return Fail(errno), false;
    return true;
}

bool PosixSerialDevice::ModemStatus(uint32_t* status) {
    *status = 0;
    std::shared_lock lock(rw_);
    if (fd_ < 0) return Fail(EBADF), false;
    int lines = 0;
    if (io_->Ioctl(fd_, TIOCMGET, &lines) != 0) return Fail(errno), false;
    if (lines & TIOCM_CTS) *status |= MS_CTS_ON;
    if (lines & TIOCM_DSR) *status |= MS_DSR_ON;
    if (lines & TIOCM_RI) *status |= MS_RING_ON;
    if (lines & TIOCM_CD) *status |= MS_RLSD_ON;
    return true;
}

bool PosixSerialDevice::TransmitChar(uint8_t ch) {
    {
        std::shared_lock lock(rw_);
        if (fd_ < 0) return Fail(EBADF), false;
        // The tty sends its flow-control characters ahead of queued output
        // (tcflow TCIOFF hands VSTOP to the driver's send_xchar, which a
        // serial-core UART transmits before its FIFO's next byte). Borrow that
        // slot for ch: a change of the control characters alone reaches no
        // UART register. Not while the tty sends XOFF by itself (IXOFF), nor
        // for NUL, which disables the character. Drivers without send_xchar
        // (a pty, most USB adaptors) queue it like any other byte.
        termios t{};
        if (ch != _POSIX_VDISABLE && io_->Tcgetattr(fd_, &t) == 0 && (t.c_iflag & IXOFF) == 0) {
            const cc_t saved = t.c_cc[VSTOP];
            t.c_cc[VSTOP] = ch;
            if (io_->Tcsetattr(fd_, TCSANOW, &t) == 0) {
                const int r = io_->Tcflow(fd_, TCIOFF);
                const int e = errno;
                t.c_cc[VSTOP] = saved;
                io_->Tcsetattr(fd_, TCSANOW, &t);
                if (r == 0) {
                    outMayBeQueued_ = true;
                    return true;
                }
                if (IsLostErrno(e)) return Fail(e), false;
            }
        }
    }
    uint32_t written = 0;
    return Write(&ch, 1, &written, nullptr);
}

bool PosixSerialDevice::Flush() {
    std::shared_lock lock(rw_);
    if (fd_ < 0) return Fail(EBADF), false;
    // Wait for the output queue to empty, giving up when closing; tcdrain
    // would not return while hardware flow control holds the line.
    for (;;) {
        int outq = 0;
        if (io_->Ioctl(fd_, TIOCOUTQ, &outq) != 0) {
            if (IsLostErrno(errno)) return Fail(errno), false;
            return io_->Tcdrain(fd_) == 0;
        }
        if (outq <= 0) return true;
        pollfd p{cancelFd_, POLLIN, 0};
        if (::poll(&p, 1, 2) > 0) return Fail(ECANCELED), false;
    }
}

bool PosixSerialDevice::DrainTransmitter() {
    std::shared_lock lock(rw_);
    if (fd_ < 0) return Fail(EBADF), false;
    // The driver's queue first. With RS-485 there is no flow control that
    // could hold the line, so tcdrain ends within the queue's transmit time.
    if (io_->Tcdrain(fd_) != 0) {
        const int e = errno;
        if (IsLostErrno(e)) return Fail(e), false;
    }
    // Then the UART's FIFO and shift register, where the driver tells their
    // state: TIOCOUTQ and tcdrain may count only the driver's own buffer.
    if (!lsrSupported_) return true;
    using Clock = std::chrono::steady_clock;
    const uint32_t baud = baud_ ? baud_.load() : 9600;
    const long long charNs = 11'000'000'000LL / baud;  // about 11 bits a character
    // A 16550's FIFO holds 16 characters, some UARTs 128 or more; past that
    // the transmitter is stuck, and waiting longer would not help.
    const auto limit =
        Clock::now() + std::chrono::nanoseconds(std::max(charNs * 256, 20'000'000LL));
    for (;;) {
        unsigned int lsr = 0;
        if (io_->Ioctl(fd_, TIOCSERGETLSR, &lsr) != 0) {
            const int e = errno;
            if (IsLostErrno(e)) return Fail(e), false;
            lsrSupported_ = false;  // ENOTTY, EINVAL: the driver does not say
            return true;
        }
        if ((lsr & TIOCSER_TEMT) != 0) return true;
        if (Clock::now() >= limit) return Fail(ETIMEDOUT), false;
        // About one character time, so that RTS drops right after the last
        // stop bit; a slave may answer within a few character times.
        const long long ns = std::clamp<long long>(charNs, 20'000, 2'000'000);
        timespec pause{0, static_cast<long>(ns)};
        pollfd p{cancelFd_, POLLIN, 0};
        if (::ppoll(&p, 1, &pause, nullptr) > 0) return Fail(ECANCELED), false;
    }
}

bool PosixSerialDevice::Properties(TCommProp* prop) {
    std::shared_lock lock(rw_);
    if (fd_ < 0) return Fail(EBADF), false;
    *prop = TCommProp{};
    prop->wPacketLength = sizeof(TCommProp);
    prop->wPacketVersion = 2;
    prop->dwServiceMask = 1;       // SP_SERIALCOMM
    prop->dwMaxBaud = 0x10000000;  // BAUD_USER: any rate termios offers
    prop->dwProvSubType = 1;       // PST_RS232
    prop->dwProvCapabilities = 0x0001 | 0x0002 | 0x0004 | 0x0010 | 0x0020 | 0x0040 | 0x0080;
    prop->dwSettableParams = 0x7F;
    prop->dwSettableBaud = 0x1000FFFF;
    prop->wSettableData = 0x000F;        // 5 to 8 data bits
    prop->wSettableStopParity = 0x1F07;  // 1, 1.5, 2 stop bits; all parities
    prop->dwCurrentTxQueue = outQueue_;
    prop->dwCurrentRxQueue = inQueue_;
    return true;
}

void PosixSerialDevice::SetMask(uint32_t mask) {
    mask_ = mask;
    Kick(kickFd_);
}

uint32_t PosixSerialDevice::Mask() const {
    return mask_;
}

void PosixSerialDevice::Wake() {
    Kick(wakeFd_);
}

void PosixSerialDevice::NoteTransmit() {
    outMayBeQueued_ = true;
    txPending_ = true;
    if (mask_ & EV_TXEMPTY) Kick(kickFd_);
}

ISerialDevice::WaitStatus PosixSerialDevice::Wait(uint32_t* events) {
    *events = 0;
    struct Waiting {
        std::atomic<int>& n;
        explicit Waiting(std::atomic<int>& c) : n(c) { ++n; }
        ~Waiting() { --n; }
    } waiting(waiters_);
    for (;;) {
        uint32_t found = 0;
        int timeout = -1;
        const uint32_t mask = mask_;
        {
            std::shared_lock lock(rw_);
            if (fd_ < 0) return WaitStatus::Closed;
            if ((mask & EV_TXEMPTY) && txPending_) {
                int outq = 0;
                if (io_->Ioctl(fd_, TIOCOUTQ, &outq) != 0 || outq <= 0) {
                    txPending_ = false;
                    found |= EV_TXEMPTY;
                    lastOutq_ = -1;
                    txPollMs_ = 0;
                } else if (outq == lastOutq_ && txPollMs_ > 0) {
                    // Nothing left since the last look (flow control, a
                    // stalled adaptor): look again later and later rather
                    // than every character time.
                    txPollMs_ = std::min(txPollMs_ * 2, kTxPollCapMs);
                    timeout = txPollMs_;
                } else {
                    // Time for the queued characters at about 11 bits each.
                    const uint32_t baud = baud_ ? baud_.load() : 9600;
                    const uint64_t ms = uint64_t(outq) * 11000 / baud + 1;
                    txPollMs_ = static_cast<int>(std::min<uint64_t>(ms, kTxPollCapMs));
                    lastOutq_ = outq;
                    timeout = txPollMs_;
                }
            }
            if (mask & kModemEvents) {
                int lines = 0;
                if (io_->Ioctl(fd_, TIOCMGET, &lines) == 0) {
                    if (lastModem_ >= 0) {
                        const int changed = lines ^ lastModem_;
                        if ((mask & EV_CTS) && (changed & TIOCM_CTS)) found |= EV_CTS;
                        if ((mask & EV_DSR) && (changed & TIOCM_DSR)) found |= EV_DSR;
                        if ((mask & EV_RLSD) && (changed & TIOCM_CD)) found |= EV_RLSD;
                        if ((mask & EV_RING) && (changed & TIOCM_RI) && !(lines & TIOCM_RI))
                            found |= EV_RING;  // trailing edge of a ring
                    }
                    lastModem_ = lines;
                    timeout = timeout < 0 ? kModemPollMs : std::min(timeout, kModemPollMs);
                }
            }
        }
        if (found != 0) {
            *events = found;
            return WaitStatus::Event;
        }

        epoll_event evs[4];
        const int n = epoll_wait(epollFd_, evs, 4, timeout);
        if (n < 0) {
            if (errno == EINTR) continue;
            Fail(errno);
            return WaitStatus::Closed;
        }
        bool woken = false, rx = false, lost = false;
        for (int i = 0; i < n; ++i) {
            switch (evs[i].data.u64) {
                case kWakeTag:
                    Drain(wakeFd_);
                    woken = true;
                    break;
                case kKickTag:
                    Drain(kickFd_);
                    break;
                case kPortTag:
                    if (evs[i].events & (EPOLLHUP | EPOLLERR)) lost = true;
                    if (evs[i].events & EPOLLIN) rx = true;
                    break;
                default:
                    break;
            }
        }
        if (woken) return WaitStatus::Woken;
        if (lost) return WaitStatus::Lost;
        if (rx) {
            std::shared_lock lock(rw_);
            if (fd_ < 0) return WaitStatus::Closed;
            uint32_t inq = 0;
            Fill(false, true);
            {
                std::lock_guard in(inMutex_);
                if (lost_) return WaitStatus::Lost;
                inq = QueuedLocked();
            }
            if (mask & (EV_ERR | EV_BREAK)) {
                bool supported = false;
                const uint32_t e = TakeLineErrors(fd_, eventBase_, &supported);
                if ((mask & EV_BREAK) && (e & CE_BREAK)) found |= EV_BREAK;
                if ((mask & EV_ERR) && (e & (CE_FRAME | CE_OVERRUN | CE_RXPARITY))) found |= EV_ERR;
            }
            if (inq > 0) found |= EV_RXCHAR;
            found &= mask | EV_RXCHAR;
        }
        if (found != 0) {
            *events = found;
            return WaitStatus::Event;
        }
    }
}

}  // namespace posix
}  // namespace kelm
