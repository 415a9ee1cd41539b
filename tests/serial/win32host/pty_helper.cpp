// kelm-pty-helper -- PROGRAM [ARGS...]
//
// The Linux side of the Windows serial tests under wine. It runs PROGRAM
// (wine with the test) and, while it runs, holds pseudo-terminals whose
// slaves it maps into the wine prefix as COM ports ($WINEPREFIX/dosdevices/
// comN -> /dev/pts/M). The test talks to the port through the Windows API
// and to this helper through a TCP connection on 127.0.0.1 (the port number
// is in the child's KELM_PTY_HELPER), one command a line, one reply a line:
//
//   open N              new pty mapped as COMN      -> "ok /dev/pts/M"
//   echo N 0|1          echo what the port sends    -> "ok"
//   send N HEX          the other end sends bytes   -> "ok"
//   recv N COUNT MS     bytes the port sent, waiting up to MS for COUNT of
//                       them                        -> "ok HEX"
//   termios N           the line settings the port put on the tty
//                                                   -> "ok baud=B cs=C parenb=P cstopb=S"
//   hangup N            the other end goes away (the plug is pulled)
//   close N             hang up and remove the mapping
//   log / clearlog      the modem shim's record (lines joined by ",")
//
// The exit status is PROGRAM's. Errors answer "err <text>".
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Port {
    int master = -1;
    int slave = -1;  // held so that the master sees no hang-up between opens
    std::string slavePath;
    std::string link;
    bool echo = false;
    std::string rx;  // bytes the port sent that nobody has asked for yet
};

std::map<int, Port> g_ports;
std::string g_prefix;
std::string g_log;

std::string Hex(const std::string& bytes) {
    static const char* d = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += d[c >> 4];
        out += d[c & 15];
    }
    return out;
}

bool Unhex(const std::string& hex, std::string& out) {
    if (hex.size() % 2) return false;
    for (size_t i = 0; i < hex.size(); i += 2) {
        unsigned v = 0;
        if (std::sscanf(hex.c_str() + i, "%2x", &v) != 1) return false;
        out += static_cast<char>(v);
    }
    return true;
}

void HangUp(Port& p) {
    if (p.master >= 0) ::close(p.master);
    if (p.slave >= 0) ::close(p.slave);
    p.master = p.slave = -1;
}

// Moves what the port sent into rx (or back out, when echoing).
void Pump(Port& p) {
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(p.master, buf, sizeof buf);
        if (n <= 0) return;
        if (p.echo) {
            ssize_t off = 0;
            while (off < n) {
                const ssize_t w = ::write(p.master, buf + off, static_cast<size_t>(n - off));
                if (w <= 0) break;
                off += w;
            }
        } else {
            p.rx.append(buf, static_cast<size_t>(n));
        }
    }
}

std::string Open(int n) {
    if (g_ports.count(n)) return "err COM" + std::to_string(n) + " is open";
    Port p;
    p.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (p.master < 0 || ::grantpt(p.master) != 0 || ::unlockpt(p.master) != 0)
        return std::string("err pty: ") + std::strerror(errno);
    p.slavePath = ::ptsname(p.master);
    p.slave = ::open(p.slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (p.slave < 0) return std::string("err slave: ") + std::strerror(errno);
    termios t{};
    ::tcgetattr(p.slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(p.slave, TCSANOW, &t);
    p.link = g_prefix + "/dosdevices/com" + std::to_string(n);
    ::unlink(p.link.c_str());
    if (::symlink(p.slavePath.c_str(), p.link.c_str()) != 0) {
        HangUp(p);
        return std::string("err link: ") + std::strerror(errno);
    }
    const std::string reply = "ok " + p.slavePath;
    g_ports[n] = p;
    return reply;
}

std::string Recv(Port& p, size_t count, int ms) {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        Pump(p);
        if (p.rx.size() >= count) break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0) break;
        pollfd f{p.master, POLLIN, 0};
        ::poll(&f, 1, static_cast<int>(left.count()));
    }
    const std::string got = p.rx;
    p.rx.clear();
    return "ok " + Hex(got);
}

std::string Termios(Port& p) {
    termios t{};
    if (::tcgetattr(p.master, &t) != 0) return std::string("err ") + std::strerror(errno);
    static const std::map<speed_t, int> kBauds = {
        {B1200, 1200},     {B2400, 2400},     {B4800, 4800},   {B9600, 9600},
        {B19200, 19200},   {B38400, 38400},   {B57600, 57600}, {B115200, 115200},
        {B230400, 230400}, {B460800, 460800}, {B0, 0}};
    const auto it = kBauds.find(::cfgetospeed(&t));
    const int cs = (t.c_cflag & CSIZE) == CS5   ? 5
                   : (t.c_cflag & CSIZE) == CS6 ? 6
                   : (t.c_cflag & CSIZE) == CS7 ? 7
                                                : 8;
    std::ostringstream s;
    s << "ok baud=" << (it == kBauds.end() ? -1 : it->second) << " cs=" << cs
      << " parenb=" << ((t.c_cflag & PARENB) ? 1 : 0)
      << " cstopb=" << ((t.c_cflag & CSTOPB) ? 1 : 0);
    return s.str();
}

std::string Command(const std::string& line) {
    std::istringstream in(line);
    std::string cmd;
    int n = 0;
    in >> cmd;
    if (cmd == "log") {
        std::ifstream f(g_log);
        std::string l, out;
        while (std::getline(f, l)) out += (out.empty() ? "" : ",") + l;
        return "ok " + out;
    }
    if (cmd == "clearlog") {
        std::ofstream(g_log, std::ios::trunc);
        return "ok";
    }
    if (!(in >> n)) return "err no port number";
    if (cmd == "open") return Open(n);
    auto it = g_ports.find(n);
    if (it == g_ports.end()) return "err COM" + std::to_string(n) + " is not open";
    Port& p = it->second;
    if (cmd == "close") {
        HangUp(p);
        ::unlink(p.link.c_str());
        g_ports.erase(it);
        return "ok";
    }
    if (cmd == "hangup") {
        HangUp(p);
        return "ok";
    }
    if (p.master < 0) return "err hung up";
    if (cmd == "echo") {
        int on = 0;
        in >> on;
        p.echo = on != 0;
        if (p.echo) {
            const std::string held = p.rx;
            p.rx.clear();
            if (!held.empty()) [[maybe_unused]]
                auto w = ::write(p.master, held.data(), held.size());
        }
        return "ok";
    }
    if (cmd == "send") {
        std::string hex, bytes;
        in >> hex;
        if (!Unhex(hex, bytes)) return "err bad hex";
        if (::write(p.master, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
            return std::string("err write: ") + std::strerror(errno);
        return "ok";
    }
    if (cmd == "recv") {
        size_t count = 0;
        int ms = 0;
        in >> count >> ms;
        return Recv(p, count, ms);
    }
    if (cmd == "termios") return Termios(p);
    return "err unknown command";
}

struct Client {
    int fd;
    std::string in;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || std::strcmp(argv[1], "--") != 0) {
        std::fprintf(stderr, "usage: %s -- PROGRAM [ARGS...]\n", argv[0]);
        return 2;
    }
    const char* prefix = std::getenv("WINEPREFIX");
    if (!prefix || !*prefix) {
        std::fprintf(stderr, "kelm-pty-helper: WINEPREFIX is not set\n");
        return 2;
    }
    g_prefix = prefix;
    ::signal(SIGPIPE, SIG_IGN);
    char logTemplate[] = "/tmp/kelm-modemshim.XXXXXX";
    const int logFd = ::mkstemp(logTemplate);
    if (logFd < 0) return 2;
    ::close(logFd);
    g_log = logTemplate;

    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener, 4) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        std::perror("kelm-pty-helper: socket");
        return 2;
    }

    const pid_t child = ::fork();
    if (child == 0) {
        ::setenv("KELM_PTY_HELPER", std::to_string(ntohs(addr.sin_port)).c_str(), 1);
        ::setenv("KELM_MODEMSHIM_LOG", g_log.c_str(), 1);
        if (const char* pre = std::getenv("KELM_WINE_PRELOAD"); pre && *pre)
            ::setenv("LD_PRELOAD", pre, 1);
        ::execvp(argv[2], argv + 2);
        std::perror("kelm-pty-helper: exec");
        ::_exit(127);
    }
    if (child < 0) return 2;
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, child, 0));

    std::vector<Client> clients;
    int status = 0;
    bool running = true;
    while (running) {
        std::vector<pollfd> fds;
        fds.push_back({pidfd, POLLIN, 0});
        fds.push_back({listener, POLLIN, 0});
        for (const auto& c : clients) fds.push_back({c.fd, POLLIN, 0});
        std::vector<int> portOf;
        for (auto& [n, p] : g_ports) {
            if (p.master < 0) continue;
            fds.push_back({p.master, POLLIN, 0});
            portOf.push_back(n);
        }
        // Without a pidfd (an old kernel), look at the child now and then.
        const int r = ::poll(fds.data(), fds.size(), pidfd >= 0 ? -1 : 100);
        if (r < 0 && errno != EINTR) break;
        if (pidfd < 0 || (fds[0].revents & POLLIN)) {
            if (::waitpid(child, &status, pidfd >= 0 ? 0 : WNOHANG) == child) running = false;
        }
        if (fds[1].revents & POLLIN) {
            const int c = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (c >= 0) clients.push_back({c, {}});
        }
        const size_t firstPort = 2 + clients.size();
        for (size_t i = 0; i < portOf.size(); ++i) {
            if (fds[firstPort + i].revents & POLLIN) Pump(g_ports[portOf[i]]);
        }
        for (size_t i = 0; i < clients.size();) {
            Client& c = clients[i];
            bool gone = false;
            if (i + 2 < fds.size() && (fds[2 + i].revents & (POLLIN | POLLHUP))) {
                char buf[1024];
                const ssize_t n = ::read(c.fd, buf, sizeof buf);
                if (n <= 0)
                    gone = true;
                else
                    c.in.append(buf, static_cast<size_t>(n));
            }
            size_t nl;
            while (!gone && (nl = c.in.find('\n')) != std::string::npos) {
                std::string line = c.in.substr(0, nl);
                c.in.erase(0, nl + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                const std::string reply = Command(line) + "\n";
                if (::write(c.fd, reply.data(), reply.size()) != static_cast<ssize_t>(reply.size()))
                    gone = true;
            }
            if (gone) {
                ::close(c.fd);
                clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i));
                // fds no longer lines up with clients: look again next round.
                break;
            }
            ++i;
        }
    }
    // The wine server goes before the ptys' other ends: it would report
    // every hung-up tty it still holds.
    if (std::system("wineserver -k >/dev/null 2>&1; wineserver -w >/dev/null 2>&1") != 0) {
        // No server left to stop.
    }
    for (auto& [n, p] : g_ports) {
        HangUp(p);
        ::unlink(p.link.c_str());
    }
    ::unlink(g_log.c_str());
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}
