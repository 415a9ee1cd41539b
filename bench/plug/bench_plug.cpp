// Pulled-plug benchmark: the real main window (offscreen) polls a module of
// the simulator's demo bus; while requests and replies are on the line the
// simulator's pseudo-terminal is pulled (its master side closed, its port
// link removed, as when a USB adaptor is unplugged). The port-loss question
// must come up once and is answered Cancel; the port is then published
// again, reopened, and must carry traffic again. Repeated for N cycles.
//
//   bench-plug [--cycles N] [--seed S]     (defaults 100 and 1)
//
// Prints key=value lines:
//   plug_cycles     cycles run
//   plug_survived   cycles in which the question came up exactly once, Cancel
//                   left the port closed with "COM7 File lost", the window
//                   stayed up, and the reopened port carried replies again
//   plug_questions  port-loss questions asked in all
//   fds_leaked, threads_leaked
//                   descriptors and threads beyond those before the first
//                   open, counted with the port closed after the last cycle
//                   (Qt's paint thread pool emptied first, and up to 10 s
//                   for threads on their way out); what they are goes to
//                   stderr
// Exits with 0 only when every cycle survived with one question and nothing
// leaked.
#include <QApplication>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItem>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>

#include "BenchSupport.h"
#include "app/TFMmain.h"
#include "gui/MessageBoxes.h"
#include "host/Pnl_comset.h"
#include "kelm-sim/Options.h"
#include "kelm-sim/PtyServer.h"
#include "modbus/ModbusMaster.h"
#include "modbus/Models.h"
#include "serial/VirtualPortDir.h"
#include "serial/ksComm.h"
#include "soak/RestingCounts.h"

namespace {

using namespace kelm;

constexpr unsigned kCom = 7;
constexpr std::uint8_t kModule = 2;  // the demo bus's KELM-16I

// Answers the port-loss question with Cancel and counts what was asked.
class Boxes : public IMessageBoxes {
  public:
    bool Show(const QString& title, const QString& text, MsgIcon, MsgButtons) override {
        if (title == hosttext::kWarningTitle && text == hosttext::kPortLost) {
            ++questions;
        } else {
            ++others;
            std::fprintf(stderr, "unexpected box: %s\n", text.toStdString().c_str());
        }
        return false;
    }
    void ReportConversionError(const QString& text) override {
        ++others;
        std::fprintf(stderr, "unexpected error report: %s\n", text.toStdString().c_str());
    }
    int questions = 0;
    int others = 0;
};

// Keeps requests on the line: the next one goes out as soon as a reply has
// been handled, or after 300 ms without one.
class Poller {
  public:
    explicit Poller(TFMmain& w) : w_(w) {
        timeout_.setSingleShot(true);
        QObject::connect(&timeout_, &QTimer::timeout, [this] { Send(); });
        ModulePanel* panel = w_.Modules().ForModel("KELM-16I");
        w_.Master().SetReplyHandler("KELM_16I_Event",
                                    [this, panel](std::uint16_t Command, const Frame& Pbuf) {
                                        ++replies;
                                        if (panel) panel->Event(Command, Pbuf);
                                        timeout_.stop();
                                        QTimer::singleShot(0, [this] { Send(); });
                                    });
    }
    void Start() { Send(); }

    long sent = 0;
    long replies = 0;

  private:
    void Send() {
        // Identity, inputs, and the long read of the counters (101 bytes back).
        static const struct {
            std::uint8_t fc;
            std::uint16_t reg, qty;
        } kRequests[] = {{3, 0, 3}, {2, 0, 16}, {3, 22, 48}};
        const auto& r = kRequests[sent % 3];
        ++sent;
        w_.Master().Modbus_Send_oneWord(r.fc, r.reg, r.qty);
        timeout_.start(300);
    }

    TFMmain& w_;
    QTimer timeout_;
};

void RunUntil(const std::function<bool()>& cond, int timeoutMs) {
    bench::RunUntil(cond, timeoutMs, 5);
}

void Pause(int ms) {
    RunUntil([] { return false; }, ms);
}

std::unique_ptr<sim::PtyServer> StartSimulator() {
    auto server =
        bench::PublishedBus("bench-plug", kCom, sim::DemoModules(), std::chrono::milliseconds(0));
    if (server) server->Start();
    return server;
}

}  // namespace

int main(int argc, char** argv) {
    int cycles = 100;
    unsigned seed = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--cycles") == 0 && i + 1 < argc) {
            cycles = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--seed") == 0 && i + 1 < argc) {
            seed = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        } else {
            std::fprintf(stderr, "usage: bench-plug [--cycles N] [--seed S]\n");
            return 2;
        }
    }
    bench::WindowRun run(argc, argv);
    if (!run.Valid()) return 1;
    std::mt19937 random(seed);

    auto server = StartSimulator();
    if (!server) return 1;

    int survived = 0, questions = 0, fdsLeaked = 0, threadsLeaked = 0;
    int pullsMidReply = 0, pullsAwaitingReply = 0;
    bool setupFailed = false;
    {
        Boxes boxes;
        // Device notices on: the link's removal is noticed as an unplugged
        // adaptor is, beside the component's own loss detection.
        TFMmain w(&boxes, /*watchDevices=*/true);
        w.show();
        QTreeWidgetItem* port = bench::PortNode("bench-plug", w, kCom);
        if (!port) return 1;
        const ModelInfo* model = FindModelByCode(11);
        auto* module = new QTreeWidgetItem(
            port, {QString::fromStdString(ModuleNodeText(model->name, kModule))});
        Pnl_comset& host = *w.PnlComset();
        w.TreeView1->setCurrentItem(port);
        Pause(100);
        const auto start = bench::RestingCounts::Take();

        auto open = [&] {
            w.TreeView1->setCurrentItem(port);
            host.Sbtn_com_open->click();
            w.TreeView1->setCurrentItem(module);
            return w.ksComm1().Active();
        };
        Poller poller(w);
        if (!open()) {
            std::fprintf(stderr, "bench-plug: the first open failed\n");
            setupFailed = true;
        }
        poller.Start();

        const QString lostText = QStringLiteral("COM%1 File lost").arg(kCom);
        for (int c = 0; c < cycles && !setupFailed; ++c) {
            bool ok = true;
            auto fail = [&](const char* why) {
                if (ok) std::fprintf(stderr, "cycle %d: %s\n", c + 1, why);
                ok = false;
            };
            // Traffic first.
            const long before = poller.replies;
            RunUntil([&] { return poller.replies >= before + 3; }, 5000);
            if (poller.replies < before + 3) fail("no traffic before the pull");

            // Pull the plug at some moment after a request went out: the
            // request, the module's reply or its silence is on the way.
            const long sent = poller.sent;
            RunUntil([&] { return poller.sent > sent; }, 2000);
            Pause(static_cast<int>(random() % 130));
            const int asked = boxes.questions;
            const int others = boxes.others;
            // Where the pull finds the receiver: part of a reply collected
            // (bytes on their way), or the request out and its reply not yet.
            if (w.Master().State().Recv_Str.empty())
                ++pullsAwaitingReply;
            else
                ++pullsMidReply;
            server->Stop();
            server.reset();
            VirtualPortDir::Unpublish(kCom);
            RunUntil([&] { return boxes.questions > asked; }, 5000);
            Pause(300);  // later notices must not ask again
            const int thisCycle = boxes.questions - asked;
            questions += thisCycle;
            if (thisCycle != 1) fail("not exactly one question");
            if (boxes.others != others) fail("another box came up");
            if (w.ksComm1().Active() || host.Sbtn_com_open->text() != hosttext::kOpen ||
                w.StatusText(kStatusPanelPort) != lostText)
                fail("Cancel did not leave the port closed and lost");
            if (!w.isVisible()) fail("the window went away");

            // Plugged in again: the same port number, a new line.
            server = StartSimulator();
            if (!server) {
                fail("the simulator did not come back");
                setupFailed = true;
                break;
            }
            if (!open()) fail("reopening failed");
            const long reopened = poller.replies;
            RunUntil([&] { return poller.replies > reopened; }, 5000);
            if (poller.replies <= reopened) fail("no traffic after reopening");
            if (ok) ++survived;
        }

        w.TreeView1->setCurrentItem(port);
        if (w.ksComm1().Active()) host.Sbtn_com_open->click();
        Pause(300);  // a late box is counted below
        const auto end = bench::RestingCounts::Settled(start, 10000);
        fdsLeaked = end.fds - start.fds;
        threadsLeaked = end.threads - start.threads;
        if (fdsLeaked != 0 || threadsLeaked != 0)
            std::fprintf(stderr, "left after the last close:\n%s",
                         end.snapshot.DiffFrom(start.snapshot).c_str());
        if (boxes.others != 0) std::fprintf(stderr, "unexpected boxes: %d\n", boxes.others);
    }
    if (server) server->Stop();
    server.reset();
    VirtualPortDir::Unpublish(kCom);

    std::fprintf(stderr,
                 "pulls while reply bytes were being collected: %d, while awaiting a reply: %d\n",
                 pullsMidReply, pullsAwaitingReply);
    bench::Put("plug_cycles", cycles);
    bench::Put("plug_survived", survived);
    bench::Put("plug_questions", questions);
    bench::Put("fds_leaked", fdsLeaked);
    bench::Put("threads_leaked", threadsLeaked);
    const bool met = !setupFailed && survived == cycles && questions == cycles && fdsLeaked == 0 &&
                     threadsLeaked == 0;
    return met ? 0 : 1;
}
