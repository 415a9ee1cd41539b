// The network ports' TCP client connection on Linux: getaddrinfo, a
// non-blocking connect with poll, keep-alive options, and poll on the socket
// and two eventfds (wake-up and cancel).
#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "serial/net/HostLookup.h"
#include "serial/net/Socket.h"

namespace kelm::net {
namespace {

using Clock = std::chrono::steady_clock;

std::string SecondsText(int ms) {
    if (ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
    return std::to_string(ms) + " ms";
}

// The reason of a failed connect in the words the open-failure message uses.
std::string ConnectReason(int e, int timeoutMs) {
    switch (e) {
        case ECONNREFUSED:
            return "connection refused";
        case ETIMEDOUT:
            return "timed out after " + SecondsText(timeoutMs);
        case EHOSTUNREACH:
            return "host unreachable";
        case ENETUNREACH:
            return "network unreachable";
        default: {
            char buf[256];
            return strerror_r(e, buf, sizeof buf);
        }
    }
}

void SetOptions(int fd) {
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepIdleS, sizeof kKeepIdleS);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepIntervalS, sizeof kKeepIntervalS);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepCount, sizeof kKeepCount);
    const unsigned userTimeout = kUserTimeoutMs;
    setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout);
}

class PosixSocket final : public ISocket {
  public:
    PosixSocket()
        : wakeFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
          cancelFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~PosixSocket() override {
        Close();
        for (int fd : {wakeFd_, cancelFd_})
            if (fd >= 0) ::close(fd);
    }

    int Connect(const std::string& host, uint16_t port, int timeoutMs,
                std::string* reason) override {
        Close();
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        // Not AI_ADDRCONFIG: it refuses ::1 on a machine whose only IPv6
        // address is the loopback (a container); every address is tried.
        hints.ai_flags = AI_NUMERICSERV;
        addrinfo* list = nullptr;
        const std::string service = std::to_string(port);
        const int g = getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
        if (g != 0) {
            if (reason) {
                *reason = "unknown host \"" + host + "\"";
                if (g != EAI_NONAME && g != EAI_NODATA)
                    *reason += std::string(" (") + gai_strerror(g) + ")";
            }
            return EADDRNOTAVAIL;
        }
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        int err = ECONNREFUSED;
        for (addrinfo* ai = list; ai; ai = ai->ai_next) {
            const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                    ai->ai_protocol);
            if (fd < 0) {
                err = errno;
                continue;
            }
            SetOptions(fd);
            err = ConnectOne(fd, ai, deadline);
            if (err == 0) {
                freeaddrinfo(list);
                fd_ = fd;
                return 0;
            }
            ::close(fd);
            if (err == ETIMEDOUT || err == ECANCELED) break;  // the time is used up
        }
        freeaddrinfo(list);
        if (reason) *reason = ConnectReason(err, timeoutMs);
        return err;
    }

    void Close() override {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        Drain(wakeFd_);
    }
    bool IsOpen() const override { return fd_ >= 0; }
    intptr_t Handle() const override { return fd_; }

    long Receive(uint8_t* buf, size_t n, int* error) override {
        for (;;) {
            const ssize_t r = ::recv(fd_, buf, n, MSG_DONTWAIT);
            if (r >= 0) return static_cast<long>(r);
            if (errno == EINTR) continue;
            *error = (errno == EWOULDBLOCK) ? EAGAIN : errno;
            return -1;
        }
    }

    bool SendAll(const uint8_t* buf, size_t n, int idleTimeoutMs, int* error) override {
        size_t done = 0;
        while (done < n) {
            const ssize_t r = ::send(fd_, buf + done, n - done, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (r > 0) {
                done += static_cast<size_t>(r);
                continue;
            }
            if (r < 0 && errno == EINTR) continue;
            if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                pollfd p[2] = {{fd_, POLLOUT, 0}, {cancelFd_, POLLIN, 0}};
                const int w = ::poll(p, 2, idleTimeoutMs);
                if (w < 0 && errno == EINTR) continue;
                if (w == 0) return *error = ETIMEDOUT, false;
                if (w < 0) return *error = errno, false;
                if (p[1].revents != 0) return *error = ECANCELED, false;
                continue;  // room, or an error the next send reports
            }
            *error = r == 0 ? EPIPE : errno;
            return false;
        }
        return true;
    }

    Ready Wait(bool watchSocket, bool watchWake, int timeoutMs) override {
        pollfd p[3] = {{cancelFd_, POLLIN, 0},
                       {watchWake ? wakeFd_ : -1, POLLIN, 0},
                       {watchSocket ? fd_ : -1, POLLIN, 0}};
        for (;;) {
            const int r = ::poll(p, 3, timeoutMs);
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) return Ready::Failed;
            if (r == 0) return Ready::Timeout;
            if (p[0].revents != 0) return Ready::Cancelled;
            if (p[1].revents != 0) {
                Drain(wakeFd_);
                return Ready::Woken;
            }
            return Ready::Readable;  // data, end of stream or an error: Receive tells
        }
    }

    void Wake() override { Kick(wakeFd_); }
    void Cancel() override { Kick(cancelFd_); }
    void ClearCancel() override { Drain(cancelFd_); }

    uint32_t Unsent() override {
        int n = 0;
        if (fd_ < 0 || ioctl(fd_, SIOCOUTQ, &n) != 0 || n < 0) return 0;
        return static_cast<uint32_t>(n);
    }

    std::string ErrorText(int code) const override {
        char buf[256];
        return strerror_r(code, buf, sizeof buf);
    }

  private:
    // One address: a non-blocking connect, then poll until it completes,
    // the deadline passes or Cancel() is called.
    int ConnectOne(int fd, const addrinfo* ai, Clock::time_point deadline) {
        if (::connect(fd, ai->ai_addr, ai->ai_addrlen) == 0) return 0;
        if (errno != EINPROGRESS && errno != EINTR) return errno;
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            if (left <= 0) return ETIMEDOUT;
            pollfd p[2] = {{fd, POLLOUT, 0}, {cancelFd_, POLLIN, 0}};
            const int r = ::poll(p, 2, static_cast<int>(left));
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) return errno;
            if (r == 0) return ETIMEDOUT;
            if (p[1].revents != 0) return ECANCELED;
            int soError = 0;
            socklen_t len = sizeof soError;
            if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) != 0) return errno;
            return soError;
        }
    }

    static void Drain(int efd) {
        uint64_t v;
        while (::read(efd, &v, sizeof v) > 0) {
        }
    }
    static void Kick(int efd) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t r = ::write(efd, &one, sizeof one);
    }

    int fd_ = -1;
    const int wakeFd_;
    const int cancelFd_;
};

}  // namespace

HostLookupResult SystemHostLookup(const std::string& host, uint16_t port) {
    HostLookupResult r;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;  // not AI_ADDRCONFIG, as in Connect
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    const int g = getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
    if (g != 0) {
        r.error = EADDRNOTAVAIL;
        r.reason = "unknown host \"" + host + "\"";
        if (g != EAI_NONAME && g != EAI_NODATA)
            r.reason += std::string(" (") + gai_strerror(g) + ")";
        return r;
    }
    for (addrinfo* ai = list; ai; ai = ai->ai_next) {
        char text[NI_MAXHOST];
        if (getnameinfo(ai->ai_addr, ai->ai_addrlen, text, sizeof text, nullptr, 0,
                        NI_NUMERICHOST) != 0)
            continue;
        bool seen = false;
        for (const auto& a : r.addresses) seen = seen || a == text;
        if (!seen) r.addresses.emplace_back(text);
    }
    freeaddrinfo(list);
    return r;
}

std::unique_ptr<ISocket> CreateSocket() {
    return std::make_unique<PosixSocket>();
}

}  // namespace kelm::net
