#pragma once
// Peers on the loopback interface for the network port tests: a free port,
// whether something listens there, programs we did not write run in the
// background (ser2net, a pymodbus server) and ser2net's configuration.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace kelm::test {

// 127.0.0.1:port (port 0: the system picks one when bound).
inline sockaddr_in LoopbackAddress(std::uint16_t port = 0) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

// Binds fd to a loopback port the system picks; that port.
inline std::uint16_t BindLoopback(int fd) {
    sockaddr_in a = LoopbackAddress();
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

// A port on 127.0.0.1 that nothing listens on right now (bound to port 0,
// read back, closed).
inline std::uint16_t FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const std::uint16_t port = BindLoopback(fd);
    ::close(fd);
    return port;
}

// Whether something accepts connections on the loopback port now.
inline bool AcceptsConnections(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = LoopbackAddress(port);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

// ser2net's configuration of one connection: accepter "tcp" or
// "telnet(rfc2217),tcp" on 127.0.0.1:port, in front of the serial device
// with its first settings (line, such as "9600n82").
inline std::string Ser2netYaml(const std::string& accepter, std::uint16_t port,
                               const std::string& device, const std::string& line) {
    return "connection: &bus\n  accepter: " + accepter + ",127.0.0.1," + std::to_string(port) +
           "\n  connector: serialdev," + device + "," + line + ",local\n";
}

// A program we did not write, run in the background; ended by SIGTERM.
class ChildProcess {
  public:
    explicit ChildProcess(const std::vector<std::string>& argv) {
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawnp(&pid_, args[0], &fa, nullptr, args.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
    }
    ~ChildProcess() { Stop(); }
    bool Started() const { return pid_ > 0; }
    void Stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        int status = 0;
        // A bounded wait for it to end; a program that ignores SIGTERM is
        // killed after it.
        for (int i = 0; i < 1000 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (::waitpid(pid_, &status, WNOHANG) == 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
        pid_ = -1;
    }

  private:
    pid_t pid_ = -1;
};

}  // namespace kelm::test
