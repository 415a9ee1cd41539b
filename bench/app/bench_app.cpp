// Start-up benchmark: time from process start to the main window shown, and
// resident memory at rest, for the program and for a minimal Qt window, each
// measured in fresh child processes of this one.
//
//   bench-app [--runs N]        prints app_start_ms, app_rss_kb,
//                               minimal_start_ms, minimal_rss_kb (medians)
//   bench-app --child app|minimal   (internal) one measured start
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "app/Startup.h"
#include "app/TFMmain.h"

extern char** environ;

namespace {

constexpr int kRestMs = 1500;

long long monotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

long rssKb() {
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

// Child side: report when shown, then the memory after a rest, then quit.
void report(long long shownNs) {
    std::printf("shown_ns=%lld\n", shownNs);
    std::fflush(stdout);
    QTimer::singleShot(kRestMs, [] {
        std::printf("rss_kb=%ld\n", rssKb());
        std::fflush(stdout);
        QCoreApplication::quit();
    });
}

int childMinimal(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget w;
    w.setWindowTitle(QStringLiteral("minimal"));
    w.resize(1114, 631);
    w.show();
    QTimer::singleShot(0, [] { report(monotonicNs()); });
    return app.exec();
}

int childApp(int argc, char** argv) {
    return kelm::RunApplication(argc, argv, [](kelm::TFMmain& w) {
        report(monotonicNs());
        // Close after the rest so the loop ends the way the program ends.
        QTimer::singleShot(kRestMs + 50, &w, [&w] { w.close(); });
    });
}

struct Sample {
    double startMs = -1;
    long rss = -1;
};

// Starts `self --child kind`, timing from just before the spawn.
Sample runChild(const char* self, const char* kind) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    char* args[] = {const_cast<char*>(self), const_cast<char*>("--child"), const_cast<char*>(kind),
                    nullptr};
    pid_t pid = 0;
    const long long t0 = monotonicNs();
    const int rc = posix_spawn(&pid, self, &fa, nullptr, args, environ);
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    Sample s;
    if (rc != 0) {
        close(fds[0]);
        return s;
    }
    std::string out;
    char buf[256];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (auto p = out.find("shown_ns="); p != std::string::npos)
        s.startMs = (std::strtoll(out.c_str() + p + 9, nullptr, 10) - t0) / 1e6;
    if (auto p = out.find("rss_kb="); p != std::string::npos)
        s.rss = std::strtol(out.c_str() + p + 7, nullptr, 10);
    return s;
}

template <class T>
T median(std::vector<T> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? T{} : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "--child") == 0) {
        int qargc = 1;
        if (std::strcmp(argv[2], "minimal") == 0) return childMinimal(qargc, argv);
        return childApp(qargc, argv);
    }
    int runs = 5;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
    // Headless unless a display is given.
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 0);

    char self[4096];
    const ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
    if (len <= 0) return 1;
    self[len] = 0;

    // Alternate the two so that both see the same machine state; one warm-up
    // run each fills the file cache.
    runChild(self, "minimal");
    runChild(self, "app");
    std::vector<double> appMs, minMs;
    std::vector<long> appKb, minKb;
    for (int i = 0; i < runs; ++i) {
        const Sample m = runChild(self, "minimal");
        const Sample a = runChild(self, "app");
        if (m.startMs < 0 || a.startMs < 0 || m.rss < 0 || a.rss < 0) {
            std::fprintf(stderr, "a child run failed\n");
            return 1;
        }
        minMs.push_back(m.startMs);
        appMs.push_back(a.startMs);
        minKb.push_back(m.rss);
        appKb.push_back(a.rss);
    }
    const double am = median(appMs), mm = median(minMs);
    const long ak = median(appKb), mk = median(minKb);
    std::printf("runs=%d\n", runs);
    std::printf("app_start_ms=%.1f\n", am);
    std::printf("app_rss_kb=%ld\n", ak);
    std::printf("minimal_start_ms=%.1f\n", mm);
    std::printf("minimal_rss_kb=%ld\n", mk);
    std::printf("start_ratio=%.2f\n", mm > 0 ? am / mm : 0.0);
    std::printf("rss_ratio=%.2f\n", mk > 0 ? double(ak) / double(mk) : 0.0);
    return 0;
}
