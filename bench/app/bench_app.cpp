// Start-up benchmark: time from process start to the main window shown, and
// resident memory at rest, for the program and for a minimal Qt window, each
// measured in fresh child processes of this one.
//
//   bench-app [--runs N]        prints app_start_ms, app_rss_kb,
//                               minimal_start_ms, minimal_rss_kb (medians),
//                               and the same for a minimal window that shows
//                               one line of Chinese text (minimal_text_*):
//                               what any window of this program pays for its
//                               CJK font before it has a single control
//   bench-app --child app|minimal|minimal_text   (internal) one measured start
//
// The program is a desktop program, so it is measured on an X server: the
// given DISPLAY, or an Xvfb of its own when there is none (offscreen when
// Xvfb is missing too; the platform used is printed).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>
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

int childMinimalText(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget w;
    w.setWindowTitle(QStringLiteral("minimal"));
    w.resize(1114, 631);
    auto* layout = new QVBoxLayout(&w);
    layout->addWidget(new QLabel(QStringLiteral("支持型号：KELM-8I8T"), &w));
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

// Starts an Xvfb of our own and points DISPLAY at it; -1 when there is none.
pid_t startXvfb() {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const std::string fd = std::to_string(fds[1]);
    char* args[] = {const_cast<char*>("Xvfb"),
                    const_cast<char*>("-displayfd"),
                    const_cast<char*>(fd.c_str()),
                    const_cast<char*>("-screen"),
                    const_cast<char*>("0"),
                    const_cast<char*>("1280x800x24"),
                    const_cast<char*>("-nolisten"),
                    const_cast<char*>("tcp"),
                    nullptr};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    posix_spawn_file_actions_addopen(&fa, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, "Xvfb", &fa, nullptr, args, environ);
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        return -1;
    }
    // Xvfb writes its display number once it accepts clients.
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        return -1;
    }
    setenv("DISPLAY", (":" + number).c_str(), 1);
    return pid;
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
        if (std::strcmp(argv[2], "minimal_text") == 0) return childMinimalText(qargc, argv);
        return childApp(qargc, argv);
    }
    int runs = 5;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
    pid_t xvfb = -1;
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) xvfb = startXvfb();
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const char* platform = std::getenv("QT_QPA_PLATFORM");

    char self[4096];
    const ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
    if (len <= 0) return 1;
    self[len] = 0;

    // Alternate the two so that both see the same machine state; one warm-up
    // run each fills the file cache.
    runChild(self, "minimal");
    runChild(self, "minimal_text");
    runChild(self, "app");
    std::vector<double> appMs, minMs, txtMs;
    std::vector<long> appKb, minKb, txtKb;
    bool failed = false;
    for (int i = 0; i < runs && !failed; ++i) {
        const Sample m = runChild(self, "minimal");
        const Sample t = runChild(self, "minimal_text");
        const Sample a = runChild(self, "app");
        for (const Sample& s : {m, t, a})
            if (s.startMs < 0 || s.rss < 0) failed = true;
        minMs.push_back(m.startMs);
        txtMs.push_back(t.startMs);
        appMs.push_back(a.startMs);
        minKb.push_back(m.rss);
        txtKb.push_back(t.rss);
        appKb.push_back(a.rss);
    }
    if (xvfb > 0) {
        kill(xvfb, SIGTERM);
        waitpid(xvfb, nullptr, 0);
    }
    if (failed) {
        std::fprintf(stderr, "a child run failed\n");
        return 1;
    }
    const double am = median(appMs), mm = median(minMs), tm = median(txtMs);
    const long ak = median(appKb), mk = median(minKb), tk = median(txtKb);
    std::printf("platform=%s\n", platform ? platform : "default");
    std::printf("runs=%d\n", runs);
    std::printf("app_start_ms=%.1f\n", am);
    std::printf("app_rss_kb=%ld\n", ak);
    std::printf("minimal_start_ms=%.1f\n", mm);
    std::printf("minimal_rss_kb=%ld\n", mk);
    std::printf("minimal_text_start_ms=%.1f\n", tm);
    std::printf("minimal_text_rss_kb=%ld\n", tk);
    std::printf("start_ratio=%.2f\n", mm > 0 ? am / mm : 0.0);
    std::printf("rss_ratio=%.2f\n", mk > 0 ? double(ak) / double(mk) : 0.0);
    std::printf("start_ratio_text=%.2f\n", tm > 0 ? am / tm : 0.0);
    std::printf("rss_ratio_text=%.2f\n", tk > 0 ? double(ak) / double(tk) : 0.0);
    return 0;
}
