// Live view benchmark: the real main window (offscreen) with its trend view
// polls the simulator's demo bus at 115200 baud, in process. Prints key=value:
//   polls_per_s          complete readings per second of a KELM-8AD's eight
//                        inputs (the floor: one request and reply plus the
//                        110 ms end-of-frame silence, about 8 a second)
//   misjudged            replies judged against another request than their
//                        own while panel buttons are pressed at random times
//   lost                 of those button presses, requests never answered
//   chart_redraw_p99_ms  one redraw (decimation, series, paint) with an hour
//                        of eight channels loaded, 99th percentile
//   chart_redraw_median_ms
//   rss_growth_kb        resident memory an hour of eight channels adds
// Usage: bench-live [--seconds N]   (N: how long each live phase runs, default 5)
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTreeWidget>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <thread>

#include "BenchSupport.h"
#include "app/TFMmain.h"
#include "app/TFMtrend.h"
#include "host/Pnl_comset.h"
#include "kelm-sim/Options.h"
#include "kelm-sim/PtyServer.h"
#include "modbus/ModbusMaster.h"
#include "modbus/Models.h"
#include "modules/AnalogInputPanel.h"
#include "modules/ModulePanels.h"
#include "modules/Pnl8AD.h"
#include "serial/VirtualPortDir.h"
#include "serial/ksComm.h"

using namespace kelm;

namespace {

constexpr unsigned kCom = 41;
constexpr std::uint8_t kFormat115200 = 7;

// Every received frame that reached a handler, against the request it was
// judged by.
class Judge : public IFrameObserver {
  public:
    void OnFrameSent(const SentFrameInfo&) override {}
    void OnFrameReceived(const ReceivedFrameInfo& info) override {
        if (info.verdict == ReceiveVerdict::ToModel) ++userReplies;
        if (!IsAccepted(info.verdict) || info.pbuf.size() < 2) return;
        if (info.pbuf[0] != info.request.address ||
            (info.pbuf[1] & 0x7F) != info.request.functionCode)
            ++misjudged;
    }
    void OnReplyRow(const ReplyRowInfo&) override {}
    long misjudged = 0;
    long userReplies = 0;
};

}  // namespace

int main(int argc, char** argv) {
    double seconds = 5;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: bench-live [--seconds N]\n");
            return 2;
        }
    }
    if (seconds <= 0) seconds = 5;
    bench::WindowRun run(argc, argv);
    if (!run.Valid()) return 1;

    std::vector<sim::ModuleConfig> bus = sim::DemoModules();
    for (sim::ModuleConfig& c : bus) c.format = kFormat115200;
    auto server = bench::PublishedBus("bench-live", kCom, bus, sim::kDefaultReplyDelay);
    if (!server) return 1;
    server->Start();

    int rc = 0;
    {
        bench::CountingBoxes boxes(/*answer=*/false);
        TFMmain w(&boxes, false);
        w.show();
        QTreeWidgetItem* port = bench::PortNode("bench-live", w, kCom);
        if (!port) {
            server->Stop();
            return 1;
        }
        w.TreeView1->setCurrentItem(port);
        Pnl_comset& host = *w.PnlComset();
        host.Cmb_comXY->setCurrentIndex(0);
        emit host.Cmb_comXY->activated(0);
        const int baud = host.Cmb_combaud->findText(QStringLiteral("115200"));
        host.Cmb_combaud->setCurrentIndex(baud);
        emit host.Cmb_combaud->activated(baud);
        host.Sbtn_com_open->click();
        if (!w.ksComm1().Active()) {
            std::fprintf(stderr, "bench-live: the port did not open\n");
            server->Stop();
            return 1;
        }
        // The demo bus as a scan lists it.
        const std::vector<QTreeWidgetItem*> nodes =
            bench::AddModuleNodes(port, bus, /*withChannels=*/false);
        QTreeWidgetItem* adNode = nullptr;
        for (std::size_t i = 0; i < bus.size(); ++i)
            if (bus[i].typeCode == 16) adNode = nodes[i];  // the KELM-8AD
        if (adNode == nullptr) {
            server->Stop();
            return 1;
        }
        Judge judge;
        w.Master().SetFrameObserver(&judge);
        w.TreeView1->setCurrentItem(adNode);
        w.AddNodeToTrend(adNode);
        TFMtrend& t = *w.Trend();

        // 1. Readings per second of the eight inputs, as fast as the line allows.
        t.Btn_start->click();
        bench::RunUntil([&] { return t.Poller().Rounds() >= 2; }, 10000, 10);
        const std::uint64_t r0 = t.Poller().Rounds();
        QElapsedTimer clock;
        clock.start();
        bench::RunUntil([] { return false; }, static_cast<int>(seconds * 1000), 50);
        const double pollsPerS =
            static_cast<double>(t.Poller().Rounds() - r0) / (clock.elapsed() / 1000.0);

        // 2. The user presses the panel's buttons at random times meanwhile.
        auto* panel = w.Modules().Pnl_8AD;
        std::mt19937 rng(2026);
        long presses = 0;
        const long repliesBefore = judge.userReplies;
        clock.restart();
        while (clock.elapsed() < seconds * 1000) {
            bench::RunUntil([] { return false; }, static_cast<int>(20 + rng() % 300), 5);
            if (rng() % 2)
                panel->ModeReadButton()->click();
            else
                panel->DataReadButton()->click();
            ++presses;
        }
        bench::RunUntil([&] { return judge.userReplies - repliesBefore >= presses; }, 30000, 10);
        const long lost = presses - (judge.userReplies - repliesBefore);
        t.Btn_stop->click();
        w.Master().SetFrameObserver(nullptr);

        // 3. An hour of eight channels: memory and redraw time.
        const long rssBefore = bench::RssKb();
        const std::vector<ChannelId> channels = t.Channels();
        const std::int64_t start =
            t.Store().Size() > 0 ? t.Store().Time(t.Store().Size() - 1) + 1000 : 0;
        const int rounds = 3600 * 8;
        LiveRound round;
        round.channels = channels;
        round.units.assign(channels.size(), "V");
        round.values.resize(channels.size());
        for (int i = 0; i < rounds; ++i) {
            round.timeMs = start + static_cast<std::int64_t>(i) * 125;
            for (std::size_t c = 0; c < channels.size(); ++c)
                round.values[c] = 5 * std::sin(i / 900.0 + static_cast<double>(c)) +
                                  0.01 * static_cast<double>(rng() % 100);
            t.AddRound(round);
        }
        t.resize(1100, 640);
        t.Follow();
        run.app.processEvents();
        const long rssAfter = bench::RssKb();
        std::vector<double> redrawMs;
        std::vector<double> seriesPartMs;  // decimation and series update, before painting
        const std::int64_t end = start + static_cast<std::int64_t>(rounds) * 125;
        for (int i = 0; i < 200; ++i) {
            // Views from the whole hour down to a minute, moving along it.
            const std::int64_t span = 3600000 >> (i % 7);
            const std::int64_t t0 = start + (end - start - span) * (i % 13) / 12;
            QElapsedTimer r;
            r.start();
            if (i % 2 == 0)
                t.Follow();
            else
                t.SetView(t0, t0 + span);
            const double seriesMs = static_cast<double>(r.nsecsElapsed()) / 1e6;
            t.ChartView->viewport()->repaint();
            redrawMs.push_back(static_cast<double>(r.nsecsElapsed()) / 1e6);
            seriesPartMs.push_back(seriesMs);
        }
        bench::Put("polls_per_s", pollsPerS, 2);
        bench::Put("misjudged", judge.misjudged);
        bench::Put("lost", lost);
        bench::Put("button_presses", presses);
        bench::Put("chart_redraw_p99_ms", bench::Percentile(redrawMs, 99), 2);
        bench::Put("chart_redraw_median_ms", bench::Percentile(redrawMs, 50), 2);
        bench::Put("chart_series_update_median_ms", bench::Percentile(seriesPartMs, 50), 2);
        bench::Put("rss_growth_kb", rssAfter - rssBefore);
        bench::Put("samples_kept", t.Store().Size());
        if (boxes.shown != 0) {
            std::fprintf(stderr, "bench-live: %ld unexpected message boxes\n", boxes.shown);
            rc = 1;
        }
    }
    server->Stop();
    return rc;
}
