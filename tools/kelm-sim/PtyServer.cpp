// The simulator's only operating-system calls for its virtual port: the
// pseudo-terminal, its settings, poll, read and write.
#include "kelm-sim/PtyServer.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "serial/posix/Pty.h"

namespace kelm::sim {
namespace {

unsigned BaudOfSpeed(speed_t s) {
    switch (s) {
        case B50:
            return 50;
        case B75:
            return 75;
        case B110:
            return 110;
        case B134:
            return 134;
        case B150:
            return 150;
        case B200:
            return 200;
        case B300:
            return 300;
        case B600:
            return 600;
        case B1200:
            return 1200;
        case B1800:
            return 1800;
        case B2400:
            return 2400;
        case B4800:
            return 4800;
        case B9600:
            return 9600;
        case B19200:
            return 19200;
        case B38400:
            return 38400;
        case B57600:
            return 57600;
        case B115200:
            return 115200;
        case B230400:
            return 230400;
        case B460800:
            return 460800;
        case B921600:
            return 921600;
        default:
            return 0;
    }
}

std::string SystemError(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

class PtyServer::Port final : public LinePort {
  public:
    ~Port() override {
        if (wake_ >= 0) ::close(wake_);
    }

    bool Open(std::string* error) {
        try {
            pty_ = std::make_unique<posix::Pty>();
            // Holding one slave fd open keeps the master from reporting a
            // hang-up (and poll from spinning) while no application has the
            // port open.
            pty_->HoldSlaveOpen();
        } catch (const std::system_error& e) {
            if (error) *error = e.what();
            return false;
        }
        master_ = pty_->MasterFd();
        // Raw (done by Pty) and at the modules' default format until the
        // application sets its own; on a pty master this sets the slave.
        termios t{};
        if (::tcgetattr(master_, &t) != 0) return Fail(error, "tcgetattr");
        t.c_cflag |= CLOCAL | CREAD | CSTOPB;
        ::cfsetispeed(&t, B9600);
        ::cfsetospeed(&t, B9600);
        if (::tcsetattr(master_, TCSANOW, &t) != 0) return Fail(error, "tcsetattr");
        wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wake_ < 0) return Fail(error, "eventfd");
        return true;
    }

    const std::string& SlavePath() const { return pty_->SlavePath(); }

    LineSettings Settings() override {
        // On a pty master, tcgetattr reports the slave's settings: the baud
        // rate and CSTOPB the application asked for.
        termios t{};
        LineSettings s;
        if (::tcgetattr(master_, &t) != 0) return s;
        s.baud = BaudOfSpeed(::cfgetospeed(&t));
        s.stopBits = (t.c_cflag & CSTOPB) != 0 ? 2 : 1;
        return s;
    }

    bool Write(const ByteString& bytes) override {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN) {
                // Nobody drains the slave: wait a little, then give the reply up.
                pollfd p{master_, POLLOUT, 0};
                if (::poll(&p, 1, 200) > 0 && (p.revents & POLLOUT) != 0) continue;
            }
            return false;
        }
        return true;
    }

    // Waits until the master is readable, the wake-up fd or stopFd fires, or
    // the timeout passes. Returns false when the loop must end.
    enum class Event { Readable, Timeout, Stop };
    Event Wait(int timeoutMs, int stopFd, const std::atomic<bool>& stop) {
        std::array<pollfd, 3> fds{{{master_, POLLIN, 0}, {wake_, POLLIN, 0}, {stopFd, POLLIN, 0}}};
        const nfds_t n = stopFd >= 0 ? 3 : 2;
        if (hungUp_) {
            // Should the master ever report a hang-up, wait without it for a
            // while instead of spinning on it.
            fds[0].fd = -1;
            if (timeoutMs < 0 || timeoutMs > 100) timeoutMs = 100;
        }
        const int r = ::poll(fds.data(), n, timeoutMs);
        if (stop.load()) return Event::Stop;
        if (r < 0) return errno == EINTR ? Event::Timeout : Event::Stop;
        if (n == 3 && fds[2].revents != 0) return Event::Stop;
        if (fds[1].revents != 0) {
            std::uint64_t v = 0;
            [[maybe_unused]] const ssize_t ignored = ::read(wake_, &v, sizeof v);
        }
        hungUp_ = false;
        if ((fds[0].revents & POLLIN) != 0) return Event::Readable;
        if ((fds[0].revents & (POLLHUP | POLLERR)) != 0) hungUp_ = true;
        return Event::Timeout;
    }

    // Reads what is queued; 0 when nothing is.
    std::size_t Read(std::uint8_t* buf, std::size_t n) {
        const ssize_t r = ::read(master_, buf, n);
        if (r > 0) return static_cast<std::size_t>(r);
        if (r < 0 && (errno == EIO)) hungUp_ = true;
        return 0;
    }

    void Wake() {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(wake_, &one, sizeof one);
    }

  private:
    static bool Fail(std::string* error, const char* what) {
        if (error) *error = SystemError(what);
        return false;
    }

    std::unique_ptr<posix::Pty> pty_;
    int master_ = -1;  // owned by pty_
    int wake_ = -1;
    bool hungUp_ = false;
};

SimTime PtyServer::Now() {
    return std::chrono::duration_cast<SimTime>(std::chrono::steady_clock::now().time_since_epoch());
}

std::unique_ptr<PtyServer> PtyServer::Create(Config config, std::string* error) {
    auto port = std::make_unique<Port>();
    if (!port->Open(error)) return nullptr;
    return std::unique_ptr<PtyServer>(new PtyServer(std::move(config), std::move(port)));
}

PtyServer::PtyServer(Config config, std::unique_ptr<Port> port)
    : config_(std::move(config)),
      port_(std::move(port)),
      bus_(config_.modules, Now()),
      engine_(bus_, *port_, config_.replyDelay, config_.log) {}

PtyServer::~PtyServer() {
    Stop();
}

const std::string& PtyServer::SlavePath() const {
    return port_->SlavePath();
}

void PtyServer::Run(int stopFd) {
    std::array<std::uint8_t, 4096> buf{};
    for (;;) {
        int timeoutMs = -1;
        {
            std::lock_guard lock(mutex_);
            if (const std::optional<SimTime> due = engine_.NextDeadline()) {
                const SimTime left = *due - Now();
                timeoutMs = left.count() <= 0 ? 0 : static_cast<int>((left.count() + 999) / 1000);
            }
        }
        const Port::Event ev = port_->Wait(timeoutMs, stopFd, stopping_);
        if (ev == Port::Event::Stop) return;
        std::lock_guard lock(mutex_);
        if (ev == Port::Event::Readable) {
            for (;;) {
                const std::size_t n = port_->Read(buf.data(), buf.size());
                if (n == 0) break;
                engine_.OnBytes(buf.data(), n, Now());
            }
        }
        engine_.OnTimer(Now());
    }
}

void PtyServer::Start() {
    if (thread_.joinable()) return;
    stopping_ = false;
    thread_ = std::thread([this] { Run(); });
}

void PtyServer::Stop() {
    stopping_ = true;
    port_->Wake();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

int OpenStopSignalFd(std::string* error) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    if (::pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) {
        if (error) *error = "cannot block the stop signals";
        return -1;
    }
    // A log piped into a reader that quits must not kill the simulator before
    // it has removed its port link: writes to it just fail.
    ::signal(SIGPIPE, SIG_IGN);
    const int fd = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd < 0 && error) *error = SystemError("signalfd");
    return fd;
}

bool FdReadable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

}  // namespace kelm::sim
