// The simulator's operating-system calls for its network line: a listening
// socket, one client connection, poll, recv and send.
#include "kelm-sim/NetServer.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "kelm-sim/PtyServer.h"
#include "serial/net/Mbap.h"

namespace kelm::sim {
namespace {

std::string SystemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

std::string PeerName(const sockaddr_storage& a) {
    char host[NI_MAXHOST] = "?", serv[NI_MAXSERV] = "?";
    getnameinfo(reinterpret_cast<const sockaddr*>(&a), sizeof a, host, sizeof host, serv,
                sizeof serv, NI_NUMERICHOST | NI_NUMERICSERV);
    return std::string(host) + ":" + serv;
}

}  // namespace

class NetServer::Endpoint final : public LinePort {
  public:
    Endpoint(Mode mode, LineSettings line, LineEngine::LogSink log)
        : mode_(mode), line_(line), log_(std::move(log)) {}
    ~Endpoint() override {
        CloseClient();
        for (int fd : {listen_, wake_})
            if (fd >= 0) ::close(fd);
    }

    bool Listen(const std::string& host, std::uint16_t port, std::string* error) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
        addrinfo* list = nullptr;
        const std::string service = std::to_string(port);
        if (const int g = getaddrinfo(host.c_str(), service.c_str(), &hints, &list); g != 0) {
            if (error) *error = "unknown host \"" + host + "\" (" + gai_strerror(g) + ")";
            return false;
        }
        std::string why = "no address to listen on";
        for (addrinfo* ai = list; ai && listen_ < 0; ai = ai->ai_next) {
            const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
            if (fd < 0) {
                why = SystemError("socket");
                continue;
            }
            const int one = 1;
            setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
            if (::bind(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
                why = SystemError("bind " + host + ":" + service);
                ::close(fd);
                continue;
            }
            if (::listen(fd, 4) != 0) {
                why = SystemError("listen");
                ::close(fd);
                continue;
            }
            listen_ = fd;
        }
        freeaddrinfo(list);
        if (listen_ < 0) {
            if (error) *error = why;
            return false;
        }
        sockaddr_storage a{};
        socklen_t len = sizeof a;
        getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&a)->sin6_port
                                              : reinterpret_cast<sockaddr_in*>(&a)->sin_port);
        wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wake_ < 0) {
            if (error) *error = SystemError("eventfd");
            return false;
        }
        return true;
    }

    std::uint16_t BoundPort() const { return port_; }

    LineSettings Settings() override { return line_; }

    void FollowModule(std::uint8_t format, Protocol protocol) override {
        line_ = FormatLine(format, protocol);
    }

    bool Write(const ByteString& bytes) override {
        if (client_ < 0) return false;
        if (mode_ == Mode::Raw) return Send(bytes.data(), bytes.size());
        // Gateway: the RTU reply goes back as the answer to the latest request.
        if (!haveRequest_) return false;
        std::optional<std::string> mbap = net::RtuToMbap(bytes.data(), bytes.size(), transaction_);
        if (!mbap) {
            Log("   the reply on the bus is not one RTU frame (a collision?): not passed on");
            return false;
        }
        haveRequest_ = false;
        return Send(reinterpret_cast<const std::uint8_t*>(mbap->data()), mbap->size());
    }

    enum class Event { Accept, Readable, Timeout, Stop };
    Event Wait(int timeoutMs, int stopFd, const std::atomic<bool>& stop) {
        std::array<pollfd, 4> fds{
            {{listen_, POLLIN, 0}, {wake_, POLLIN, 0}, {client_, POLLIN, 0}, {stopFd, POLLIN, 0}}};
        const int r = ::poll(fds.data(), fds.size(), timeoutMs);
        if (stop.load()) return Event::Stop;
        if (r < 0) return errno == EINTR ? Event::Timeout : Event::Stop;
        if (fds[3].revents != 0) return Event::Stop;
        if (fds[1].revents != 0) {
            std::uint64_t v = 0;
            [[maybe_unused]] const ssize_t ignored = ::read(wake_, &v, sizeof v);
        }
        if (fds[2].revents != 0) return Event::Readable;
        if (fds[0].revents != 0) return Event::Accept;
        return Event::Timeout;
    }

    // Takes the next connection: the client, or refused when there is one.
    bool Accept() {
        sockaddr_storage a{};
        socklen_t len = sizeof a;
        const int fd =
            ::accept4(listen_, reinterpret_cast<sockaddr*>(&a), &len, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) return false;
        if (client_ >= 0) {
            Log("refused a second client (" + PeerName(a) + "): one client at a time");
            ::close(fd);
            return false;
        }
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        client_ = fd;
        reader_.Clear();
        haveRequest_ = false;
        Log("client " + PeerName(a) + " connected");
        return true;
    }

    // Reads what the client sent; returns the bytes for the bus (the RTU
    // frames of a gateway's requests).
    ByteString Read() {
        ByteString out;
        std::array<std::uint8_t, 4096> buf{};
        for (;;) {
            const ssize_t r = ::recv(client_, buf.data(), buf.size(), MSG_DONTWAIT);
            if (r > 0) {
                Take(buf.data(), static_cast<std::size_t>(r), &out);
                if (static_cast<std::size_t>(r) < buf.size()) break;
                continue;
            }
            if (r < 0 && errno == EINTR) continue;
            if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
            Log(r == 0 ? "client disconnected" : SystemError("client lost"));
            CloseClient();
            break;
        }
        return out;
    }

    void CloseClient() {
        if (client_ >= 0) ::close(client_);
        client_ = -1;
        haveRequest_ = false;
    }

    void Wake() {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(wake_, &one, sizeof one);
    }

  private:
    void Take(const std::uint8_t* p, std::size_t n, ByteString* out) {
        if (mode_ == Mode::Raw) {
            out->insert(out->end(), p, p + n);
            return;
        }
        reader_.Feed(p, n);
        const std::size_t droppedBefore = reader_.dropped();
        while (std::optional<net::MbapReader::Frame> f = reader_.Next()) {
            transaction_ = f->transaction;
            haveRequest_ = true;
            const std::string rtu = net::MbapToRtu(f->unit, f->pdu);
            out->insert(out->end(), rtu.begin(), rtu.end());
        }
        if (reader_.dropped() != droppedBefore)
            Log("rx bytes that are not an MBAP frame (protocol not 0 or a bad length): dropped");
    }

    bool Send(const std::uint8_t* p, std::size_t n) {
        std::size_t done = 0;
        while (done < n) {
            const ssize_t r = ::send(client_, p + done, n - done, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (r > 0) {
                done += static_cast<std::size_t>(r);
                continue;
            }
            if (r < 0 && errno == EINTR) continue;
            if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                // A client that reads nothing: wait a little, then give the reply up.
                pollfd pf{client_, POLLOUT, 0};
                if (::poll(&pf, 1, 200) > 0 && (pf.revents & POLLOUT) != 0) continue;
            }
            return false;
        }
        return true;
    }

    void Log(const std::string& line) const {
        if (log_) log_(line);
    }

    const Mode mode_;
    LineSettings line_;
    LineEngine::LogSink log_;
    int listen_ = -1;
    int wake_ = -1;
    int client_ = -1;
    std::uint16_t port_ = 0;
    net::MbapReader reader_;
    std::uint16_t transaction_ = 0;  // the latest request's
    bool haveRequest_ = false;       // it has not been answered yet
};

std::unique_ptr<NetServer> NetServer::Create(Config config, std::string* error) {
    if (config.modules.empty()) {
        if (error) *error = "no modules";
        return nullptr;
    }
    const ModuleConfig& first = config.modules.front();
    auto port = std::make_unique<Endpoint>(config.mode, FormatLine(first.format, first.protocol),
                                           config.log);
    if (!port->Listen(config.host, config.port, error)) return nullptr;
    return std::unique_ptr<NetServer>(new NetServer(std::move(config), std::move(port)));
}

NetServer::NetServer(Config config, std::unique_ptr<Endpoint> port)
    : config_(std::move(config)),
      port_(std::move(port)),
      bus_(config_.modules, PtyServer::Now()),
      engine_(bus_, *port_, config_.replyDelay, config_.log) {}

NetServer::~NetServer() {
    Stop();
}

std::uint16_t NetServer::Port() const {
    return port_->BoundPort();
}

std::string NetServer::PortName() const {
    const bool v6 = config_.host.find(':') != std::string::npos;
    return std::string(config_.mode == Mode::Raw ? "tcp" : "mbtcp") + "://" +
           (v6 ? "[" + config_.host + "]" : config_.host) + ":" + std::to_string(Port());
}

LineSettings NetServer::Line() {
    std::lock_guard lock(mutex_);
    return port_->Settings();
}

void NetServer::Run(int stopFd) {
    for (;;) {
        int timeoutMs = -1;
        {
            std::lock_guard lock(mutex_);
            if (const std::optional<SimTime> due = engine_.NextDeadline()) {
                const SimTime left = *due - PtyServer::Now();
                timeoutMs = left.count() <= 0 ? 0 : static_cast<int>((left.count() + 999) / 1000);
            }
        }
        const Endpoint::Event ev = port_->Wait(timeoutMs, stopFd, stopping_);
        if (ev == Endpoint::Event::Stop) return;
        std::lock_guard lock(mutex_);
        if (dropClient_.exchange(false)) port_->CloseClient();
        if (ev == Endpoint::Event::Accept && port_->Accept()) ++connections_;
        if (ev == Endpoint::Event::Readable) {
            const ByteString bytes = port_->Read();
            engine_.OnBytes(bytes.data(), bytes.size(), PtyServer::Now());
        }
        engine_.OnTimer(PtyServer::Now());
    }
}

void NetServer::Start() {
    if (thread_.joinable()) return;
    stopping_ = false;
    thread_ = std::thread([this] { Run(); });
}

void NetServer::Stop() {
    stopping_ = true;
    port_->Wake();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void NetServer::DropClient() {
    dropClient_ = true;
    port_->Wake();
}

}  // namespace kelm::sim
