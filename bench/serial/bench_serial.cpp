// Floods a pseudo-terminal with 64 MiB and measures what reaches the reader:
// the serial component (delivery to OnAfterReceive on its GUI thread), a
// plain read() loop and QSerialPort, in the same run; then the process CPU
// time of five seconds with the component's port open and idle.
// Prints key=value lines.
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "serial/LoopExecutor.h"
#include "serial/ksComm.h"
#include "serial/posix/Pty.h"

#ifdef KELM_BENCH_QSERIALPORT
#include <QCoreApplication>
#include <QSerialPort>
#include <QTimer>
#endif

using namespace kelm;
using Clock = std::chrono::steady_clock;

namespace {

constexpr size_t kTotal = 64u << 20;

// Writes kTotal bytes into the master, blocking while the tty is full.
void Flood(int master) {
    std::vector<char> block(64 * 1024);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 13);
    size_t left = kTotal;
    while (left > 0) {
        const ssize_t r = ::write(master, block.data(), std::min(left, block.size()));
        if (r > 0) {
            left -= static_cast<size_t>(r);
        } else if (r < 0 && errno == EAGAIN) {
            pollfd p{master, POLLOUT, 0};
            ::poll(&p, 1, 100);
        } else if (r < 0 && errno != EINTR) {
            std::fprintf(stderr, "flood: write failed: %d\n", errno);
            return;
        }
    }
}

double MbPerS(size_t bytes, Clock::duration d) {
    const double s = std::chrono::duration<double>(d).count();
    return s > 0 ? bytes / s / (1024.0 * 1024.0) : 0;
}

double Component() {
    LoopExecutor ex;
    posix::Pty pty;
    TksComm com(&ex);
    auto dev = std::make_shared<TksDevice>();
    dev->Data = 5;
    dev->NameFriendly = "COM5";
    dev->PortName = pty.SlavePath();
    com.AddDevice(dev);
    com.SetComPortNo(5);
    com.SetStreamProtocol(TStreamProtocol::spNone);
    com.SetBaudRate(115200);
    size_t got = 0;
    com.SetOnAfterReceive([&](TksBaseIO*, const uint8_t*, uint32_t n) { got += n; });
    com.SetActive(true);
    const auto start = Clock::now();
    std::thread writer([&] { Flood(pty.MasterFd()); });
    ex.RunUntil([&] { return got >= kTotal; }, std::chrono::seconds(120));
    const auto elapsed = Clock::now() - start;
    writer.join();
    com.SetActive(false);
    if (got < kTotal) std::fprintf(stderr, "component: only %zu bytes\n", got);
    return MbPerS(got, elapsed);
}

double RawLoop() {
    posix::Pty pty;
    const int fd = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return 0;
    posix::MakeRaw(fd);
    size_t got = 0;
    std::vector<char> buf(8192);
    const auto start = Clock::now();
    std::thread writer([&] { Flood(pty.MasterFd()); });
    while (got < kTotal) {
        const ssize_t r = ::read(fd, buf.data(), buf.size());
        if (r > 0)
            got += static_cast<size_t>(r);
        else if (r < 0 && errno != EINTR)
            break;
    }
    const auto elapsed = Clock::now() - start;
    writer.join();
    ::close(fd);
    return MbPerS(got, elapsed);
}

#ifdef KELM_BENCH_QSERIALPORT
double QtSerialPort(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    posix::Pty pty;
    QSerialPort port;
    port.setPortName(QString::fromStdString(pty.SlavePath()));
    port.setBaudRate(115200);
    port.setFlowControl(QSerialPort::NoFlowControl);
    if (!port.open(QIODevice::ReadWrite)) {
        std::fprintf(stderr, "qserialport: %s\n", port.errorString().toLocal8Bit().constData());
        return 0;
    }
    size_t got = 0;
    Clock::time_point end;
    QObject::connect(&port, &QSerialPort::readyRead, [&] {
        got += static_cast<size_t>(port.readAll().size());
        if (got >= kTotal) {
            end = Clock::now();
            app.quit();
        }
    });
    QTimer::singleShot(120000, &app, &QCoreApplication::quit);
    const auto start = Clock::now();
    std::thread writer([&] { Flood(pty.MasterFd()); });
    app.exec();
    writer.join();
    if (got < kTotal) end = Clock::now();
    return MbPerS(got, end - start);
}
#endif

double CpuMs() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec * 1e3 + ru.ru_utime.tv_usec / 1e3 + ru.ru_stime.tv_sec * 1e3 +
           ru.ru_stime.tv_usec / 1e3;
}

double IdleCpuMs() {
    LoopExecutor ex;
    posix::Pty pty;
    TksComm com(&ex);
    auto dev = std::make_shared<TksDevice>();
    dev->Data = 5;
    dev->PortName = pty.SlavePath();
    com.AddDevice(dev);
    com.SetComPortNo(5);
    com.SetStreamProtocol(TStreamProtocol::spNone);
    com.SetOnAfterReceive([](TksBaseIO*, const uint8_t*, uint32_t) {});
    com.SetActive(true);
    ex.RunFor(std::chrono::milliseconds(100));  // let the threads settle
    const double before = CpuMs();
    ex.RunFor(std::chrono::seconds(5));
    const double used = CpuMs() - before;
    com.SetActive(false);
    return used;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    // The three readers take turns, five rounds, and each reports its
    // median: a machine shared with other work slows them alike.
    constexpr int kRounds = 5;
    // KELM_BENCH_ONLY=raw|comp|qt runs one reader alone (for profiling).
    const char* only = std::getenv("KELM_BENCH_ONLY");
    auto want = [only](const char* name) { return !only || std::strcmp(only, name) == 0; };
    // Also the process CPU time each reader costs for the 64 MiB (the
    // writer included, the same for all): less sensitive to a busy machine.
    std::vector<double> raw, comp, qt, rawCpu, compCpu, qtCpu;
    for (int r = 0; r < kRounds; ++r) {
        double c0 = CpuMs();
        if (want("raw")) {
            raw.push_back(RawLoop());
            rawCpu.push_back(CpuMs() - c0);
        }
        c0 = CpuMs();
        if (want("comp")) {
            comp.push_back(Component());
            compCpu.push_back(CpuMs() - c0);
        }
#ifdef KELM_BENCH_QSERIALPORT
        c0 = CpuMs();
        if (want("qt")) {
            qt.push_back(QtSerialPort(argc, argv));
            qtCpu.push_back(CpuMs() - c0);
        }
#endif
    }
    std::printf("bytes=%zu\n", kTotal);
    std::printf("rounds=%d\n", kRounds);
    std::printf("raw_mb_s=%.1f\n", Median(raw));
    std::printf("comp_mb_s=%.1f\n", Median(comp));
#ifdef KELM_BENCH_QSERIALPORT
    std::printf("qserialport_mb_s=%.1f\n", Median(qt));
#else
    (void)argc;
    (void)argv;
    std::printf("qserialport_mb_s=unavailable\n");
#endif
    std::printf("comp_over_raw=%.2f\n", Median(raw) > 0 ? Median(comp) / Median(raw) : 0);
    std::printf("raw_cpu_ms=%.0f\n", Median(rawCpu));
    std::printf("comp_cpu_ms=%.0f\n", Median(compCpu));
    std::printf("qserialport_cpu_ms=%.0f\n", Median(qtCpu));
    std::fflush(stdout);
    std::printf("idle_cpu_ms=%.2f\n", IdleCpuMs());
    return 0;
}
