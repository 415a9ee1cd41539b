// Start-up benchmark: time from process start to the main window shown, and
// resident memory at rest, for the program and for a minimal Qt window, each
// measured in fresh child processes of this one; then the time from a click
// in the device tree to the right-hand panel painted.
//
//   bench-app [--runs N]        prints app_start_ms, app_rss_kb,
//                               minimal_start_ms, minimal_rss_kb (medians),
//                               and the same for a minimal window that shows
//                               one line of Chinese text (minimal_text_*):
//                               what any window of this program pays for its
//                               CJK font before it has a single control;
//                               click_to_panel_p50_ms, click_to_panel_p99_ms
//                               and click_to_panel_samples: a left click on
//                               each module node of the simulator's demo bus
//                               (all eight models) and on each of their
//                               channel nodes, with the port open, N rounds,
//                               each click coming from the port's node, timed
//                               from the button press to the end of the first
//                               repaint that paints the panel shown
//   bench-app --child app|minimal|minimal_text|click   (internal) one run
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
#include <QEventLoop>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItem>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "app/Startup.h"
#include "app/TFMmain.h"
#ifdef KELM_BENCH_CLICK
#include "host/Pnl_comset.h"
#include "kelm-sim/Options.h"
#include "kelm-sim/PtyServer.h"
#include "modbus/Models.h"
#include "serial/VirtualPortDir.h"
#include "serial/ksComm.h"
#endif

extern char** environ;

namespace {

constexpr int kRestMs = 1500;

long long monotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// Child side: report when shown, then the memory after a rest, then quit.
void report(long long shownNs) {
    kelm::bench::Put("shown_ns", shownNs);
    std::fflush(stdout);
    QTimer::singleShot(kRestMs, [] {
        kelm::bench::Put("rss_kb", kelm::bench::RssKb());
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

// Nearest-rank percentile, -1 without samples.
double percentile(const std::vector<double>& samples, double p) {
    return kelm::bench::Percentile(samples, p, -1);
}

#ifdef KELM_BENCH_CLICK

// Watches the panels of the stack for their paint events: armed before a
// click, it notes the end of the first repaint that paints the panel then
// shown (a zero timer started from its paint event runs once the whole
// window's repaint has been done and flushed).
class PaintWatch : public QObject {
  public:
    explicit PaintWatch(QStackedWidget* stack) : stack_(stack) {
        for (int i = 0; i < stack->count(); ++i) stack->widget(i)->installEventFilter(this);
    }
    void Arm() {
        armed_ = true;
        doneNs = -1;
    }
    long long doneNs = -1;
    QEventLoop* loop = nullptr;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (armed_ && event->type() == QEvent::Paint && watched == stack_->currentWidget()) {
            armed_ = false;
            QTimer::singleShot(0, this, [this] {
                doneNs = monotonicNs();
                if (loop) loop->quit();
            });
        }
        return false;
    }

  private:
    QStackedWidget* stack_;
    bool armed_ = false;
};

// Clicks the node as a mouse does and runs the event loop until the panel
// has been painted (at most 10 s); the time in ms, or -1. A node that is
// current already changes nothing: 0. *handlerMs (when given) receives the
// part spent handling the click itself, before the event loop runs.
double clickAndWait(QTreeWidget* tree, QTreeWidgetItem* item, PaintWatch& watch,
                    double* handlerMs = nullptr) {
    if (tree->currentItem() == item) return 0;
    tree->scrollToItem(item);
    QCoreApplication::processEvents();  // earlier repaints are not counted
    QWidget* vp = tree->viewport();
    // On the start of the node's text, as a user points at it.
    const QRect rect = tree->visualItemRect(item);
    const QPoint pos(rect.left() + std::min(8, rect.width() / 2), rect.center().y());
    QMouseEvent press(QEvent::MouseButtonPress, pos, vp->mapToGlobal(pos), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, pos, vp->mapToGlobal(pos), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    watch.Arm();
    const long long t0 = monotonicNs();
    QCoreApplication::sendEvent(vp, &press);
    QCoreApplication::sendEvent(vp, &release);
    if (handlerMs) *handlerMs = (monotonicNs() - t0) / 1e6;
    if (watch.doneNs < 0) {
        QEventLoop loop;
        watch.loop = &loop;
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
        watch.loop = nullptr;
    }
    if (tree->currentItem() != item) return -1;
    return watch.doneNs < 0 ? -1 : (watch.doneNs - t0) / 1e6;
}

// Child side of the click measurement: prints click_p50_ms, click_p99_ms,
// click_samples (and the slowest node on stderr).
int childClick(int argc, char** argv, int rounds) {
    using namespace kelm;
    constexpr unsigned kCom = 7;
    // The platform is the parent's choice.
    bench::WindowRun run(argc, argv, /*offscreenByDefault=*/false);
    if (!run.Valid()) return 1;
    const std::vector<sim::ModuleConfig> bus = sim::DemoModules();
    auto server = bench::PublishedBus("bench-app", kCom, bus, sim::kDefaultReplyDelay);
    if (!server) return 1;
    server->Start();
    int rc = 0;
    {
        // Any box during the clicks is a fault of the run: counted, answered No.
        bench::CountingBoxes boxes(/*answer=*/false, /*report=*/true);
        TFMmain w(&boxes, /*watchDevices=*/false);
        w.show();
        QTreeWidgetItem* port = bench::PortNode("bench-app", w, kCom);
        if (!port) return 1;
        // The demo bus as a scan lists it: module nodes with their channels,
        // clicked in the tree's order.
        std::vector<QTreeWidgetItem*> nodes;
        for (QTreeWidgetItem* module : bench::AddModuleNodes(port, bus, /*withChannels=*/true)) {
            if (!module) continue;
            nodes.push_back(module);
            for (int i = 0; i < module->childCount(); ++i) nodes.push_back(module->child(i));
        }
        w.TreeView1->expandAll();
        PaintWatch watch(w.PanelStack);
        if (clickAndWait(w.TreeView1, port, watch) < 0) {
            std::fprintf(stderr, "bench-app: the port's panel was not shown\n");
            return 1;
        }
        w.PnlComset()->Sbtn_com_open->click();
        if (!w.ksComm1().Active()) {
            std::fprintf(stderr, "bench-app: COM%u did not open\n", kCom);
            return 1;
        }
        std::vector<double> samples, firstRound, laterRounds, handler;
        double worst = -1;
        QString worstNode;
        for (int r = 0; r < rounds && rc == 0; ++r) {
            for (QTreeWidgetItem* node : nodes) {
                // From another panel each time: the port's.
                const double back = clickAndWait(w.TreeView1, port, watch);
                double handlerMs = 0;
                const double ms = clickAndWait(w.TreeView1, node, watch, &handlerMs);
                if (back < 0 || ms < 0) {
                    std::fprintf(stderr, "bench-app: no panel painted for %s\n",
                                 node->text(0).toStdString().c_str());
                    rc = 1;
                    break;
                }
                samples.push_back(ms);
                handler.push_back(handlerMs);
                (r == 0 ? firstRound : laterRounds).push_back(ms);
                if (ms > worst) {
                    worst = ms;
                    worstNode = node->text(0);
                }
            }
        }
        if (w.ksComm1().Active()) {
            w.TreeView1->setCurrentItem(port);
            w.PnlComset()->Sbtn_com_open->click();
        }
        if (boxes.shown != 0) rc = 1;
        bench::Put("click_p50_ms", percentile(samples, 50), 2);
        bench::Put("click_p99_ms", percentile(samples, 99), 2);
        bench::Put("click_samples", samples.size());
        std::fflush(stdout);
        std::fprintf(stderr, "slowest click: %.2f ms on %s\n", worst,
                     worstNode.toStdString().c_str());
        std::fprintf(stderr, "of which the click's own handling: p50 %.2f ms, p99 %.2f ms\n",
                     percentile(handler, 50), percentile(handler, 99));
        // Each panel's first showing against the later ones.
        std::fprintf(stderr,
                     "first round: p50 %.2f ms, max %.2f ms; later rounds: p50 %.2f ms, p99 %.2f "
                     "ms\n",
                     percentile(firstRound, 50), percentile(firstRound, 100),
                     percentile(laterRounds, 50), percentile(laterRounds, 99));
    }
    server->Stop();
    VirtualPortDir::Unpublish(kCom);
    return rc;
}
#endif

struct Sample {
    double startMs = -1;
    long rss = -1;
};

// Runs `self --child <args...>` and collects its standard output; *t0 is
// the time just before the spawn. False when it could not start or failed.
bool spawnChild(const char* self, const std::vector<std::string>& childArgs, std::string* out,
                long long* t0) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    std::vector<char*> args{const_cast<char*>(self), const_cast<char*>("--child")};
    for (const std::string& a : childArgs) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    *t0 = monotonicNs();
    const int rc = posix_spawn(&pid, self, &fa, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        return false;
    }
    char buf[256];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) out->append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The number after "key=" in a child's output, or -1.
double childValue(const std::string& out, const std::string& key) {
    const auto p = out.find(key + "=");
    return p == std::string::npos ? -1 : std::strtod(out.c_str() + p + key.size() + 1, nullptr);
}

// Starts `self --child kind`, timing from just before the spawn.
Sample runChild(const char* self, const char* kind) {
    std::string out;
    long long t0 = 0;
    Sample s;
    spawnChild(self, {kind}, &out, &t0);
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
#ifdef KELM_BENCH_CLICK
        if (std::strcmp(argv[2], "click") == 0)
            return childClick(qargc, argv, argc >= 4 ? std::max(1, std::atoi(argv[3])) : 5);
#endif
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
#ifdef KELM_BENCH_CLICK
    std::string clickOut;
    long long clickT0 = 0;
    if (!failed && !spawnChild(self, {"click", std::to_string(runs)}, &clickOut, &clickT0)) {
        std::fprintf(stderr, "the click run failed\n");
        failed = true;
    }
#endif
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
    using kelm::bench::Put;
    Put("platform", platform ? platform : "default");
    Put("runs", runs);
    Put("app_start_ms", am, 1);
    Put("app_rss_kb", ak);
    Put("minimal_start_ms", mm, 1);
    Put("minimal_rss_kb", mk);
    Put("minimal_text_start_ms", tm, 1);
    Put("minimal_text_rss_kb", tk);
    Put("start_ratio", mm > 0 ? am / mm : 0.0, 2);
    Put("rss_ratio", mk > 0 ? double(ak) / double(mk) : 0.0, 2);
    Put("start_ratio_text", tm > 0 ? am / tm : 0.0, 2);
    Put("rss_ratio_text", tk > 0 ? double(ak) / double(tk) : 0.0, 2);
#ifdef KELM_BENCH_CLICK
    Put("click_to_panel_p50_ms", childValue(clickOut, "click_p50_ms"), 2);
    Put("click_to_panel_p99_ms", childValue(clickOut, "click_p99_ms"), 2);
    Put("click_to_panel_samples", childValue(clickOut, "click_samples"), 0);
#else
    Put("click_to_panel_p50_ms", "unavailable");
    Put("click_to_panel_p99_ms", "unavailable");
#endif
    return 0;
}
