#pragma once
// Shared pieces of the serial component tests: a component on a
// pseudo-terminal with a LoopExecutor as its GUI thread.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "serial/LoopExecutor.h"
#include "serial/ksComm.h"
#include "serial/posix/Pty.h"

namespace kelm::test {

using namespace std::chrono_literals;

// Lists a pty under a port number, as the enumeration lists a virtual port.
inline void ListPort(TksBaseIO& com, int number, const std::string& path) {
    auto d = std::make_shared<TksDevice>();
    d->Data = number;
    d->NameFriendly = "COM" + std::to_string(number);
    d->NameDeviceDos = d->NameFriendly;
    d->PortName = path;
    com.AddDeviceSorted(d);
}

// Writes all bytes to fd (the pty master), waiting while it is full.
inline bool WriteAll(int fd, const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (n > 0) {
        const ssize_t r = ::write(fd, p, n);
        if (r > 0) {
            p += r;
            n -= static_cast<size_t>(r);
            continue;
        }
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 && errno == EAGAIN) {
            pollfd pf{fd, POLLOUT, 0};
            ::poll(&pf, 1, 100);
            continue;
        }
        return false;
    }
    return true;
}

// Reads what the master receives until n bytes came or the time is up.
inline std::string ReadMaster(int fd, size_t n, std::chrono::milliseconds timeout = 2000ms) {
    std::string out;
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (out.size() < n && std::chrono::steady_clock::now() < end) {
        pollfd pf{fd, POLLIN, 0};
        if (::poll(&pf, 1, 20) <= 0) continue;
        char buf[4096];
        const ssize_t r = ::read(fd, buf, sizeof buf);
        if (r > 0) out.append(buf, static_cast<size_t>(r));
    }
    return out;
}

// The message of the EksError that f raises, or "no exception".
template <class F>
std::string ErrorOf(F f) {
    try {
        f();
    } catch (const EksError& e) {
        return e.what();
    }
    return "no exception";
}

// A log sink keeping its lines; any thread may log.
class LogLines : public TksComponent, public IksLogSink {
  public:
    TksComponent* LogComponent() override { return this; }
    void AddSysInfo() override { AddLog(TDetailLevel::dlSimple, "<sysinfo>"); }
    void AddLog(TDetailLevel, const std::string& s) override {
        std::lock_guard l(m_);
        lines_.push_back(s);
    }
    void AddLogFmt(TDetailLevel d, const std::string& f, const std::vector<TksFmtArg>& a) override {
        AddLog(d, KsFormat(f, a));
    }
    std::vector<std::string> Lines() {
        std::lock_guard l(m_);
        return lines_;
    }
    bool Has(const std::string& s) {
        const auto v = Lines();
        return std::find(v.begin(), v.end(), s) != v.end();
    }

  private:
    std::mutex m_;
    std::vector<std::string> lines_;
};

// A private virtual-port directory named by KELM_PORTS_DIR for the test's
// lifetime.
struct TempPortsDir {
    explicit TempPortsDir(const std::string& tag)
        : root(std::filesystem::temp_directory_path() /
               ("kelm-" + tag + "-" + std::to_string(::getpid()))),
          ports(root / "ports") {
        std::filesystem::remove_all(root);
        ::setenv("KELM_PORTS_DIR", ports.c_str(), 1);
    }
    ~TempPortsDir() {
        ::unsetenv("KELM_PORTS_DIR");
        std::filesystem::remove_all(root);
    }
    std::filesystem::path root, ports;
};

}  // namespace kelm::test
