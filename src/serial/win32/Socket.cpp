// The network ports' TCP client connection on Windows: getaddrinfo, a
// non-blocking connect, keep-alive options, and select() on the socket and
// two loopback datagram sockets that stand for the wake-up and the cancel
// signal (select waits on sockets only, and, like poll on Linux, it lets
// several threads wait on one socket at once and see the same readiness).
//
// Error codes are given in the errno values the OS-independent part and the
// Linux backend use (ECONNREFUSED, EAGAIN, ...), so that both systems report
// a failure in the same words.
// winsock2.h first: the others build on it.
#include <winsock2.h>
//
#include <mstcpip.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "serial/net/HostLookup.h"
#include "serial/net/Socket.h"
#include "serial/win32/ErrnoText.h"

namespace kelm::net {
namespace {

using Clock = std::chrono::steady_clock;

// Socket options of Windows 10 (1703 and later) that older headers lack; an
// older system refuses them and gets the keep-alive from SIO_KEEPALIVE_VALS.
constexpr int kTcpKeepIdle = 3;    // TCP_KEEPALIVE (seconds)
constexpr int kTcpMaxRt = 5;       // TCP_MAXRT (seconds)
constexpr int kTcpKeepCount = 16;  // TCP_KEEPCNT
constexpr int kTcpKeepIntvl = 17;  // TCP_KEEPINTVL (seconds)

// SIO_TCP_INFO and its TCP_INFO_v0 record (Windows 10 1703 and later), which
// headers for older systems leave out.
constexpr DWORD kSioTcpInfo = _WSAIORW(IOC_VENDOR, 39);
struct TcpInfoV0 {
    int State;
    ULONG Mss;
    ULONG64 ConnectionTimeMs;
    BOOLEAN TimestampsEnabled;
    ULONG RttUs;
    ULONG MinRttUs;
    ULONG BytesInFlight;
    ULONG Cwnd;
    ULONG SndWnd;
    ULONG RcvWnd;
    ULONG RcvBuf;
    ULONG64 BytesOut;
    ULONG64 BytesIn;
    ULONG BytesReordered;
    ULONG BytesRetrans;
    ULONG FastRetrans;
    ULONG DupAcksIn;
    ULONG TimeoutEpisodes;
    UCHAR SynRetrans;
};

bool Started() {
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

// A winsock error as the errno value of the same meaning; codes without one
// stay as they are (they are all above 10000, clear of errno's).
int ErrnoOf(int wsa) {
    switch (wsa) {
        case WSAEWOULDBLOCK:
            return EAGAIN;
        case WSAEINTR:
            return EINTR;
        case WSAECONNREFUSED:
            return ECONNREFUSED;
        case WSAETIMEDOUT:
            return ETIMEDOUT;
        case WSAEHOSTUNREACH:
            return EHOSTUNREACH;
        case WSAENETUNREACH:
            return ENETUNREACH;
        case WSAECONNRESET:
        case WSAENETRESET:
            return ECONNRESET;
        case WSAECONNABORTED:
            return ECONNABORTED;
        case WSAENETDOWN:
            return ENETDOWN;
        case WSAENOTCONN:
            return ENOTCONN;
        case WSAESHUTDOWN:
            return EPIPE;
        case WSAEADDRNOTAVAIL:
            return EADDRNOTAVAIL;
        case WSAEADDRINUSE:
            return EADDRINUSE;
        case WSAEACCES:
            return EACCES;
        case WSAEMFILE:
            return EMFILE;
        case WSAENOBUFS:
            return ENOBUFS;
        case WSAEAFNOSUPPORT:
            return EAFNOSUPPORT;
        case WSAEINVAL:
            return EINVAL;
        default:
            return wsa;
    }
}

int LastError() {
    return ErrnoOf(::WSAGetLastError());
}

// The texts Linux gives these codes: a message reads the same on both
// systems (the C library of Windows has no words for most of them).
const char* LinuxText(int code) {
    switch (code) {
        case EAGAIN:
            return "Resource temporarily unavailable";
        case EINTR:
            return "Interrupted system call";
        case ECONNREFUSED:
            return "Connection refused";
        case ETIMEDOUT:
            return "Connection timed out";
        case EHOSTUNREACH:
            return "No route to host";
        case ENETUNREACH:
            return "Network is unreachable";
        case ECONNRESET:
            return "Connection reset by peer";
        case ECONNABORTED:
            return "Software caused connection abort";
        case ENETDOWN:
            return "Network is down";
        case ENOTCONN:
            return "Transport endpoint is not connected";
        case EPIPE:
            return "Broken pipe";
        case EADDRNOTAVAIL:
            return "Cannot assign requested address";
        case EADDRINUSE:
            return "Address already in use";
        case EACCES:
            return "Permission denied";
        case EMFILE:
            return "Too many open files";
        case ENOBUFS:
            return "No buffer space available";
        case EAFNOSUPPORT:
            return "Address family not supported by protocol";
        case EINVAL:
            return "Invalid argument";
        case ECANCELED:
            return "Operation canceled";
        case EBUSY:
            return "Device or resource busy";
        case EBADF:
            return "Bad file descriptor";
        case EPROTO:
            return "Protocol error";
        case EPROTONOSUPPORT:
            return "Protocol not supported";
        case ENOTSUP:
            return "Operation not supported";
        default:
            return nullptr;
    }
}

std::string SystemText(int code) {
    if (const char* text = LinuxText(code)) return text;
    if (code >= WSABASEERR) {
        char buf[512] = {};
        const DWORD n =
            ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(code), MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT),
                             buf, sizeof buf, nullptr);
        std::string text(buf, n);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.'))
            text.pop_back();
        if (!text.empty()) return text;
        return "socket error " + std::to_string(code);
    }
    return std::strerror(code);
}

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
        default:
            return SystemText(e);
    }
}

void SetOptions(SOCKET s) {
    const DWORD one = 1;
    const auto set = [s](int level, int name, DWORD value) {
        return ::setsockopt(s, level, name, reinterpret_cast<const char*>(&value), sizeof value) ==
               0;
    };
    set(IPPROTO_TCP, TCP_NODELAY, one);
    set(SOL_SOCKET, SO_KEEPALIVE, one);
    const bool tuned = set(IPPROTO_TCP, kTcpKeepIdle, kKeepIdleS) &&
                       set(IPPROTO_TCP, kTcpKeepIntvl, kKeepIntervalS) &&
                       set(IPPROTO_TCP, kTcpKeepCount, kKeepCount);
    if (!tuned) {
        // Idle time and interval only; the system probes ten times.
        tcp_keepalive k{};
        k.onoff = 1;
        k.keepalivetime = kKeepIdleS * 1000;
        k.keepaliveinterval = kKeepIntervalS * 1000;
        DWORD returned = 0;
        ::WSAIoctl(s, SIO_KEEPALIVE_VALS, &k, sizeof k, nullptr, 0, &returned, nullptr, nullptr);
    }
    // Unacknowledged data gives up after this long (TCP_USER_TIMEOUT on Linux).
    set(IPPROTO_TCP, kTcpMaxRt, kUserTimeoutMs / 1000);
}

bool SetNonBlocking(SOCKET s) {
    u_long on = 1;
    return ::ioctlsocket(s, FIONBIO, &on) == 0;
}

// A datagram socket connected to itself on the loopback: a datagram sent
// makes it readable until it is drained, as an eventfd is on Linux.
class Signal {
  public:
    Signal() {
        if (!Started()) return;
        s_ = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        if (s_ == INVALID_SOCKET) {
            error_ = LastError();
            return;
        }
        ::SetHandleInformation(reinterpret_cast<HANDLE>(s_), HANDLE_FLAG_INHERIT, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int len = sizeof a;
        if (::bind(s_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::getsockname(s_, reinterpret_cast<sockaddr*>(&a), &len) != 0 ||
            ::connect(s_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || !SetNonBlocking(s_)) {
            error_ = LastError();
            ::closesocket(s_);
            s_ = INVALID_SOCKET;
        }
    }
    ~Signal() {
        if (s_ != INVALID_SOCKET) ::closesocket(s_);
    }
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;

    bool Valid() const { return s_ != INVALID_SOCKET; }
    // Why it could not be made (ENETDOWN when winsock did not start).
    int Error() const { return error_ != 0 ? error_ : ENETDOWN; }
    SOCKET Get() const { return s_; }
    // A full queue is readable already: a failed send loses nothing.
    void Raise() {
        if (Valid()) ::send(s_, "!", 1, 0);
    }
    void Drain() {
        if (!Valid()) return;
        char buf[64];
        while (::recv(s_, buf, sizeof buf, 0) > 0) {
        }
    }

  private:
    SOCKET s_ = INVALID_SOCKET;
    int error_ = 0;
};

// select()'s time-out from milliseconds; nullptr (no limit) for -1.
timeval* TimeoutOf(int ms, timeval* tv) {
    if (ms < 0) return nullptr;
    tv->tv_sec = ms / 1000;
    tv->tv_usec = (ms % 1000) * 1000;
    return tv;
}

bool IsSet(SOCKET s, fd_set* set) {
    return s != INVALID_SOCKET && FD_ISSET(s, set);
}

class WinSocket final : public ISocket {
  public:
    WinSocket() = default;
    ~WinSocket() override { Close(); }

    int Connect(const std::string& host, uint16_t port, int timeoutMs,
                std::string* reason) override {
        Close();
        if (!wake_.Valid() || !cancel_.Valid()) {
            const int e = wake_.Valid() ? cancel_.Error() : wake_.Error();
            if (reason) *reason = "the network is not available (" + SystemText(e) + ")";
            return e;
        }
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_protocol = IPPROTO_TCP;
        hints.ai_flags = AI_NUMERICSERV;
        addrinfo* list = nullptr;
        const std::string service = std::to_string(port);
        const int g = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
        if (g != 0) {
            if (reason) {
                *reason = "unknown host \"" + host + "\"";
                if (g != WSAHOST_NOT_FOUND && g != WSANO_DATA)
                    *reason += " (" + SystemText(ErrnoOf(g)) + ")";
            }
            return EADDRNOTAVAIL;
        }
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        int err = ECONNREFUSED;
        for (addrinfo* ai = list; ai; ai = ai->ai_next) {
            const SOCKET s = ::socket(ai->ai_family, ai->ai_socktype, ai->ai_protocol);
            if (s == INVALID_SOCKET) {
                err = LastError();
                continue;
            }
            // Kept from the programs this one starts.
            ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
            if (!SetNonBlocking(s)) {
                err = LastError();
                ::closesocket(s);
                continue;
            }
            SetOptions(s);
            err = ConnectOne(s, ai, deadline);
            if (err == 0) {
                ::freeaddrinfo(list);
                s_ = s;
                return 0;
            }
            ::closesocket(s);
            if (err == ETIMEDOUT || err == ECANCELED) break;  // the time is used up
        }
        ::freeaddrinfo(list);
        if (reason) *reason = ConnectReason(err, timeoutMs);
        return err;
    }

    void Close() override {
        if (s_ != INVALID_SOCKET) ::closesocket(s_);
        s_ = INVALID_SOCKET;
        wake_.Drain();
    }
    bool IsOpen() const override { return s_ != INVALID_SOCKET; }
    intptr_t Handle() const override {
        return s_ == INVALID_SOCKET ? -1 : static_cast<intptr_t>(s_);
    }

    long Receive(uint8_t* buf, size_t n, int* error) override {
        const int want = static_cast<int>(std::min<size_t>(n, 1 << 30));
        for (;;) {
            const int r = ::recv(s_, reinterpret_cast<char*>(buf), want, 0);
            if (r >= 0) return r;
            const int e = LastError();
            if (e == EINTR) continue;
            *error = e;
            return -1;
        }
    }

    bool SendAll(const uint8_t* buf, size_t n, int idleTimeoutMs, int* error) override {
        size_t done = 0;
        while (done < n) {
            const int chunk = static_cast<int>(std::min<size_t>(n - done, 1 << 30));
            const int r = ::send(s_, reinterpret_cast<const char*>(buf + done), chunk, 0);
            if (r > 0) {
                done += static_cast<size_t>(r);
                continue;
            }
            const int e = r == 0 ? EPIPE : LastError();
            if (e == EINTR) continue;
            if (e != EAGAIN) return *error = e, false;
            fd_set writable, readable;
            FD_ZERO(&writable);
            FD_ZERO(&readable);
            FD_SET(s_, &writable);
            FD_SET(cancel_.Get(), &readable);
            timeval tv;
            const int w = ::select(0, &readable, &writable, nullptr, TimeoutOf(idleTimeoutMs, &tv));
            if (w == 0) return *error = ETIMEDOUT, false;
            if (w == SOCKET_ERROR) return *error = LastError(), false;
            if (IsSet(cancel_.Get(), &readable)) return *error = ECANCELED, false;
            // room, or an error the next send reports
        }
        return true;
    }

    Ready Wait(bool watchSocket, bool watchWake, int timeoutMs) override {
        for (;;) {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(cancel_.Get(), &readable);
            if (watchWake) FD_SET(wake_.Get(), &readable);
            if (watchSocket && s_ != INVALID_SOCKET) FD_SET(s_, &readable);
            timeval tv;
            const int r = ::select(0, &readable, nullptr, nullptr, TimeoutOf(timeoutMs, &tv));
            if (r == SOCKET_ERROR) {
                if (LastError() == EINTR) continue;
                return Ready::Failed;
            }
            if (r == 0) return Ready::Timeout;
            if (IsSet(cancel_.Get(), &readable)) return Ready::Cancelled;
            if (watchWake && IsSet(wake_.Get(), &readable)) {
                wake_.Drain();
                return Ready::Woken;
            }
            return Ready::Readable;  // data, end of stream or an error: Receive tells
        }
    }

    void Wake() override { wake_.Raise(); }
    void Cancel() override { cancel_.Raise(); }
    void ClearCancel() override { cancel_.Drain(); }

    uint32_t Unsent() override {
        // Bytes sent and not yet acknowledged (Windows 10 1703 and later);
        // a system without it reports nothing outstanding.
        if (s_ == INVALID_SOCKET) return 0;
        DWORD version = 0;
        TcpInfoV0 info{};
        DWORD returned = 0;
        if (::WSAIoctl(s_, kSioTcpInfo, &version, sizeof version, &info, sizeof info, &returned,
                       nullptr, nullptr) != 0 ||
            returned < sizeof info)
            return 0;
        return static_cast<uint32_t>(info.BytesInFlight);
    }

    std::string ErrorText(int code) const override { return SystemText(code); }

  private:
    // One address: a non-blocking connect, then select until it completes,
    // the deadline passes or Cancel() is called. A failed connect shows in
    // the exception set on Windows, not as writable.
    int ConnectOne(SOCKET s, const addrinfo* ai, Clock::time_point deadline) {
        if (::connect(s, ai->ai_addr, static_cast<int>(ai->ai_addrlen)) == 0) return 0;
        const int e = LastError();
        if (e != EAGAIN && e != EINTR && e != WSAEINPROGRESS) return e;
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            if (left <= 0) return ETIMEDOUT;
            fd_set writable, failed, readable;
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            FD_ZERO(&readable);
            FD_SET(s, &writable);
            FD_SET(s, &failed);
            FD_SET(cancel_.Get(), &readable);
            timeval tv;
            const int r =
                ::select(0, &readable, &writable, &failed, TimeoutOf(static_cast<int>(left), &tv));
            if (r == SOCKET_ERROR) {
                const int se = LastError();
                if (se == EINTR) continue;
                return se;
            }
            if (r == 0) return ETIMEDOUT;
            if (IsSet(cancel_.Get(), &readable)) return ECANCELED;
            int soError = 0;
            int len = sizeof soError;
            if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len) != 0)
                return LastError();
            if (IsSet(s, &failed) && soError == 0) return ECONNREFUSED;
            return ErrnoOf(soError);
        }
    }

    SOCKET s_ = INVALID_SOCKET;
    Signal wake_;
    Signal cancel_;
};

}  // namespace

HostLookupResult SystemHostLookup(const std::string& host, uint16_t port) {
    HostLookupResult r;
    if (!Started()) {
        r.error = ENETDOWN;
        r.reason = "the network is not available";
        return r;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    const int g = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
    if (g != 0) {
        r.error = EADDRNOTAVAIL;
        r.reason = "unknown host \"" + host + "\"";
        if (g != WSAHOST_NOT_FOUND && g != WSANO_DATA)
            r.reason += " (" + SystemText(ErrnoOf(g)) + ")";
        return r;
    }
    for (addrinfo* ai = list; ai; ai = ai->ai_next) {
        char text[NI_MAXHOST];
        if (::getnameinfo(ai->ai_addr, static_cast<socklen_t>(ai->ai_addrlen), text, sizeof text,
                          nullptr, 0, NI_NUMERICHOST) != 0)
            continue;
        if (std::find(r.addresses.begin(), r.addresses.end(), text) == r.addresses.end())
            r.addresses.emplace_back(text);
    }
    ::freeaddrinfo(list);
    return r;
}

std::unique_ptr<ISocket> CreateSocket() {
    return std::make_unique<WinSocket>();
}

}  // namespace kelm::net

namespace kelm::win32 {

std::string ErrnoText(int code) {
    return net::SystemText(code);
}

}  // namespace kelm::win32
