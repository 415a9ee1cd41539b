#pragma once
// What the benchmark programs share: resident memory, percentiles of samples
// and key=value lines; for the programs that drive the window (built with
// KELM_BENCH_WINDOW) an offscreen application, an event loop run until a
// condition holds and message boxes that are counted, not shown; for those
// that also run the simulator (KELM_BENCH_SIM) the demo bus on a published
// virtual port and its nodes in the window's tree.
#include <algorithm>
#include <cmath>
#include <concepts>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#ifdef KELM_BENCH_WINDOW
#include <QApplication>
#include <QEventLoop>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

#include "app/AppSetup.h"
#include "gui/MessageBoxes.h"
#endif

#ifdef KELM_BENCH_SIM
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QTreeWidgetItem>
#include <chrono>
#include <memory>

#include "app/TFMmain.h"
#include "kelm-sim/Options.h"
#include "kelm-sim/PtyServer.h"
#include "modbus/Models.h"
#include "serial/VirtualPortDir.h"
#endif

namespace kelm::bench {

// Resident memory of this process in kB; -1 when /proc cannot be read.
inline long RssKb() {
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

// Nearest-rank percentile (percent from 0 to 100) of the samples; ifEmpty
// when there are none.
inline double Percentile(std::vector<double> samples, double percent, double ifEmpty = 0) {
    if (samples.empty()) return ifEmpty;
    std::sort(samples.begin(), samples.end());
    const auto rank =
        static_cast<std::size_t>(std::ceil(percent / 100.0 * static_cast<double>(samples.size())));
    return samples[std::clamp<std::size_t>(rank, 1, samples.size()) - 1];
}

// One key=value line of a benchmark's figures.
template <std::integral T>
void Put(const char* key, T value) {
    std::printf("%s=%s\n", key, std::to_string(value).c_str());
}
inline void Put(const char* key, double value, int decimals) {
    std::printf("%s=%.*f\n", key, decimals, value);
}
inline void Put(const char* key, const char* value) {
    std::printf("%s=%s\n", key, value);
}

#ifdef KELM_BENCH_WINDOW

// Before the QApplication: offscreen unless a platform is named.
inline void PreferOffscreen() {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
}

// The program's fonts and settings; closing a window does not end the run.
inline void SetUpApplication(QApplication& app) {
    ConfigureApplication(app);
    app.setQuitOnLastWindowClosed(false);
}

// Runs the event loop until cond holds or timeoutMs passes, looking at cond
// every pollMs without spinning.
inline void RunUntil(const std::function<bool()>& cond, int timeoutMs, int pollMs) {
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (cond()) loop.quit();
    });
    check.start(pollMs);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (!cond()) loop.exec();
}

// Message boxes are counted, never shown, so that nothing stops an unattended
// run; each gives `answer`, and with `report` its text goes to stderr.
class CountingBoxes : public IMessageBoxes {
  public:
    explicit CountingBoxes(bool answer, bool report = false) : answer_(answer), report_(report) {}
    bool Show(const QString&, const QString& text, MsgIcon, MsgButtons) override {
        ++shown;
        if (report_) std::fprintf(stderr, "box: %s\n", text.toStdString().c_str());
        return answer_;
    }
    void ReportConversionError(const QString& text) override {
        ++shown;
        if (report_) std::fprintf(stderr, "conversion error: %s\n", text.toStdString().c_str());
    }
    long shown = 0;

  private:
    bool answer_;
    bool report_;
};

#endif  // KELM_BENCH_WINDOW

#ifdef KELM_BENCH_SIM

// Virtual ports go to a directory of the run's own, so the demo bus never
// meets a real session's ports. Call before the main window lists its ports.
class PrivatePorts {
  public:
    PrivatePorts() {
        if (dir_.isValid()) qputenv("KELM_PORTS_DIR", dir_.path().toLocal8Bit());
    }
    bool Valid() const { return dir_.isValid(); }

  private:
    QTemporaryDir dir_;
};

// The simulator's modules on a pseudo-terminal published as COM<com>, its
// loop not yet running (Start() or Run() on a thread of the caller's); null,
// with the reason on stderr after `who`, when it cannot be set up.
inline std::unique_ptr<sim::PtyServer> PublishedBus(const char* who, unsigned com,
                                                    std::vector<sim::ModuleConfig> modules,
                                                    std::chrono::milliseconds replyDelay) {
    std::string err;
    auto server = sim::PtyServer::Create({std::move(modules), replyDelay, nullptr}, &err);
    if (!server) {
        std::fprintf(stderr, "%s: %s\n", who, err.c_str());
        return nullptr;
    }
    if (!VirtualPortDir::Publish(com, server->SlavePath(), &err)) {
        std::fprintf(stderr, "%s: %s\n", who, err.c_str());
        return nullptr;
    }
    return server;
}

// The tree node of port COM<com>, or null (and a line on stderr after `who`).
inline QTreeWidgetItem* PortNode(const char* who, TFMmain& w, unsigned com) {
    QTreeWidgetItem* root = w.TreeView1->topLevelItem(0);
    for (int i = 0; root && i < root->childCount(); ++i)
        if (root->child(i)->text(0).startsWith(QStringLiteral("COM%1 ").arg(com)))
            return root->child(i);
    std::fprintf(stderr, "%s: COM%u is not in the port list\n", who, com);
    return nullptr;
}

// The modules under the port's node as a scan lists them (with their
// channel nodes when asked); the module nodes in bus order.
inline std::vector<QTreeWidgetItem*> AddModuleNodes(QTreeWidgetItem* port,
                                                    const std::vector<sim::ModuleConfig>& bus,
                                                    bool withChannels) {
    std::vector<QTreeWidgetItem*> nodes;
    for (const sim::ModuleConfig& c : bus) {
        const ModelInfo* model = FindModelByCode(c.typeCode);
        if (model == nullptr) {
            nodes.push_back(nullptr);
            continue;
        }
        auto* node = new QTreeWidgetItem(
            port, {QString::fromStdString(ModuleNodeText(model->name, c.address))});
        if (withChannels)
            for (std::string_view ch : model->channelNodes)
                new QTreeWidgetItem(node,
                                    {QString::fromUtf8(ch.data(), static_cast<int>(ch.size()))});
        nodes.push_back(node);
    }
    return nodes;
}

// A window benchmark's process: offscreen unless a platform is named (or
// told otherwise), the application set up, virtual ports of its own.
struct WindowRun {
    WindowRun(int& argc, char** argv, bool offscreenByDefault = true)
        : offscreenByDefault(ChoosePlatform(offscreenByDefault)), app(argc, argv) {
        SetUpApplication(app);
    }
    bool Valid() const { return ports.Valid(); }

    // The application reads the platform once, when it is made.
    static bool ChoosePlatform(bool offscreen) {
        if (offscreen) PreferOffscreen();
        return offscreen;
    }

    bool offscreenByDefault;
    QApplication app;
    PrivatePorts ports;
};

#endif  // KELM_BENCH_SIM

}  // namespace kelm::bench
