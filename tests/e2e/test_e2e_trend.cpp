// End to end, in process: the trend view of the real main window over the
// real serial component, polling three simulated modules of one bus, with a
// CSV log; the user's clicks on a panel while it polls; a log that cannot be
// written.
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextStream>
#include <QToolButton>
#include <cmath>
#include <random>

#include "../app/WindowFixture.h"
#include "app/TFMtrend.h"
#include "kelm-sim/PtyServer.h"
#include "live/LiveModels.h"
#include "modules/AnalogInputPanel.h"
#include "modules/Pnl8AD.h"

using namespace kelm;
using namespace kelm::test;
using kelm::sim::ModuleConfig;
using kelm::sim::SimTime;

namespace {

constexpr unsigned kCom = 6;

// Counts received frames judged against a request they do not answer, and
// the user's requests that went out.
class Judge : public IFrameObserver {
  public:
    void OnFrameSent(const SentFrameInfo& info) override {
        if (info.frame.size() >= 2 && info.frame[1] != 4) ++sentNotData;
    }
    void OnFrameReceived(const ReceivedFrameInfo& info) override {
        ++received;
        if (info.verdict == ReceiveVerdict::ToPoll) ++toPoll;
        if (info.verdict == ReceiveVerdict::ToModel) ++toModel;
        if (!IsAccepted(info.verdict) || info.pbuf.size() < 2) return;
        if (info.pbuf[0] != info.request.address ||
            (info.pbuf[1] & 0x7F) != info.request.functionCode)
            ++misjudged;
    }
    void OnReplyRow(const ReplyRowInfo&) override {}
    int received = 0, toPoll = 0, toModel = 0, misjudged = 0, sentNotData = 0;
};

}  // namespace

class TrendEndToEnd : public WindowFixture {
  protected:
    void SetUp() override {
        WindowFixture::SetUp();
        std::string err;
        // KELM-8AD at 1, KELM-16I at 2, KELM-2AO at 3; 115200 baud (format 7).
        server_ = sim::PtyServer::Create(
            {{ModuleConfig{16, 1, 7}, ModuleConfig{11, 2, 7}, ModuleConfig{17, 3, 7}},
             sim::kDefaultReplyDelay,
             nullptr},
            &err);
        ASSERT_TRUE(server_) << err;
        server_->Start();
        Publish(kCom, server_->SlavePath());
        MakeWindow();
        QTreeWidgetItem* port = PortNamed(kCom);
        ASSERT_TRUE(port);
        Select(port);
        UserPick(Host().Cmb_comXY, 0);
        UserPick(Host().Cmb_combaud, Host().Cmb_combaud->findText("115200"));
        Host().Sbtn_com_open->click();
        ASSERT_TRUE(W().ksComm1().Active());
        ASSERT_EQ(W().ksComm1().BaudRate(), 115200u);
        ad_ = AddModule(port, "KELM-8AD(1)");
        di_ = AddModule(port, "KELM-16I(2)", Channels("DI", 16));
        ao_ = AddModule(port, "KELM-2AO(3)");
    }
    void TearDown() override {
        if (window_) window_->Master().SetFrameObserver(nullptr);
        WindowFixture::TearDown();
        if (server_) server_->Stop();
    }

    // The simulated signal's range on a channel over [t0, t1].
    std::pair<double, double> SignalRange(std::uint8_t address, unsigned ch, SimTime t0,
                                          SimTime t1) {
        return server_->WithBus([&](sim::SimBus& bus) {
            const sim::SimModule* m = bus.Find(address);
            double lo = INFINITY, hi = -INFINITY;
            for (int i = 0; i <= 400; ++i) {
                const double s = m ? m->AnalogSignal(ch, t0 + (t1 - t0) * i / 400) : NAN;
                lo = std::min(lo, s);
                hi = std::max(hi, s);
            }
            return std::pair{lo, hi};
        });
    }

    std::unique_ptr<sim::PtyServer> server_;
    QTreeWidgetItem* ad_ = nullptr;
    QTreeWidgetItem* di_ = nullptr;
    QTreeWidgetItem* ao_ = nullptr;
};

TEST_F(TrendEndToEnd, ThreeModulesInOneTrendLoggedAsTheSimulatorHeldThem) {
    // From the tree: a module node adds its inputs, a channel node that one.
    W().AddNodeToTrend(ad_);
    W().AddNodeToTrend(di_->child(0));
    W().AddNodeToTrend(di_->child(5));
    W().AddNodeToTrend(ao_);
    TFMtrend* t = W().Trend();
    ASSERT_TRUE(t);
    ASSERT_TRUE(t->isVisible());
    ASSERT_EQ(t->Channels().size(), 12u);  // 8 analog inputs, 2 inputs, 2 outputs
    QTemporaryDir dir;
    const QString path = dir.filePath("trend.csv");
    ASSERT_TRUE(t->StartLog(path));

    const SimTime t0 = sim::PtyServer::Now();
    t->Btn_start->click();
    ASSERT_TRUE(WaitUntil([&] { return t->Poller().Rounds() >= 10; }, 30000));
    t->Btn_stop->click();
    const SimTime t1 = sim::PtyServer::Now();
    EXPECT_EQ(W().Master().Poller(), nullptr) << "stopped: the master is as without a trend";
    t->StopLog();

    // Every analog value lies on the simulator's signal of its channel.
    const TrendStore& s = t->Store();
    ASSERT_GE(s.Size(), 10u);
    for (int c = 0; c < 8; ++c) {
        const auto [lo, hi] = SignalRange(1, static_cast<unsigned>(c), t0, t1);
        // One count of the 24-bit conversion at the widest range, at most.
        const double margin = 20.0 / 64000 + 1e-6;
        int seen = 0;
        for (std::size_t i = 0; i < s.Size(); ++i) {
            const double v = s.Value(c, i);
            if (std::isnan(v)) continue;
            ++seen;
            EXPECT_GE(v, lo - margin) << "CH" << c;
            EXPECT_LE(v, hi + margin) << "CH" << c;
        }
        EXPECT_GE(seen, 9) << "CH" << c;
    }
    // Digital inputs are steps, and DI0 (half a period of a second) moved.
    int changes = 0;
    for (std::size_t i = 1; i < s.Size(); ++i) {
        const double a = s.Value(8, i - 1), b = s.Value(8, i);
        ASSERT_TRUE(a == 0 || a == 1 || std::isnan(a));
        if (a != b && !std::isnan(a) && !std::isnan(b)) ++changes;
    }
    EXPECT_GE(changes, 1);
    // The outputs read back what the simulator drives.
    for (int c = 0; c < 2; ++c) {
        const auto [lo, hi] = SignalRange(3, static_cast<unsigned>(c), t0, t1);
        EXPECT_NEAR(s.Value(10 + c, s.Size() - 1), lo, 1e-3);
        EXPECT_NEAR(lo, hi, 1e-9);
    }

    // The log: one header, then a row per round with the store's values.
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QStringList lines =
        QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 2);
    QString header = lines.takeFirst();
    header.remove(QChar(0xFEFF));
    EXPECT_TRUE(header.startsWith(QStringLiteral("时间,KELM-8AD(1) CH0 [")));
    EXPECT_TRUE(header.contains(QStringLiteral("KELM-16I(2) DI5 [开/关]")));
    EXPECT_TRUE(header.contains(QStringLiteral("KELM-2AO(3) AO1 [")));
    ASSERT_EQ(static_cast<std::size_t>(lines.size()), s.Size());
    for (int r = 0; r < lines.size(); ++r) {
        const QStringList fields = lines[r].split(QLatin1Char(','));
        ASSERT_EQ(fields.size(), 13) << lines[r].toStdString();
        EXPECT_TRUE(QDateTime::fromString(fields[0], Qt::ISODateWithMs).isValid())
            << fields[0].toStdString();
        for (int c = 0; c < 12; ++c) {
            const double want = s.Value(c, static_cast<std::size_t>(r));
            if (std::isnan(want)) {
                EXPECT_TRUE(fields[c + 1].isEmpty());
                continue;
            }
            EXPECT_NEAR(fields[c + 1].toDouble(), want, std::fabs(want) * 1e-6 + 1e-6);
        }
    }
    EXPECT_TRUE(boxes_.boxes.empty());
}

TEST_F(TrendEndToEnd, ClicksOnThePolledPanelAreServedAndNoReplyIsMisjudged) {
    Judge judge;
    W().Master().SetFrameObserver(&judge);
    Select(ad_);
    auto* panel = W().Modules().Pnl_8AD;
    ASSERT_TRUE(panel);
    W().AddNodeToTrend(ad_);
    W().AddNodeToTrend(di_->child(0));
    TFMtrend* t = W().Trend();
    t->Btn_start->click();
    ASSERT_TRUE(WaitUntil([&] { return t->Poller().Rounds() >= 2; }, 20000));
    // The panel shows the polled counts as its own reply.
    ASSERT_TRUE(WaitUntil([&] { return panel->Ch(0).raw->text() != "0"; }, 10000));

    // The user reads the modes at random moments while the trend polls.
    std::mt19937 rng(7);
    int clicks = 0;
    for (int i = 0; i < 12; ++i) {
        QTest::qWait(static_cast<int>(rng() % 150));
        panel->ModeReadButton()->click();
        ++clicks;
    }
    ASSERT_TRUE(WaitUntil([&] { return judge.toModel >= clicks; }, 20000))
        << "every click's request answered, to its panel";
    const std::uint64_t rounds = t->Poller().Rounds();
    ASSERT_TRUE(WaitUntil([&] { return t->Poller().Rounds() >= rounds + 2; }, 20000))
        << "polling resumes after the user's requests";
    t->Btn_stop->click();
    ASSERT_TRUE(WaitUntil([&] { return panel->Ch(7).mode->currentIndex() >= 0; }, 5000));
    EXPECT_EQ(judge.misjudged, 0);
    EXPECT_GT(judge.toPoll, 0);
    EXPECT_EQ(judge.toModel, clicks);
    EXPECT_TRUE(boxes_.boxes.empty());
}

TEST_F(TrendEndToEnd, UnwritableLogSaysSoAndTheTrendGoesOn) {
    W().AddNodeToTrend(di_);
    TFMtrend* t = W().Trend();
    EXPECT_FALSE(t->StartLog(QStringLiteral("/nonexistent-dir/x/trend.csv")));
    ASSERT_EQ(boxes_.boxes.size(), 1u);
    EXPECT_EQ(boxes_.boxes[0].title, QStringLiteral("警告"));
    EXPECT_TRUE(boxes_.boxes[0].text.contains(QStringLiteral("/nonexistent-dir/x/trend.csv")));
    // A log that fails while running (a full device) stops logging, says so
    // once, and the trend keeps reading.
    ASSERT_TRUE(t->StartLog(QStringLiteral("/dev/full")));
    t->Btn_start->click();
    ASSERT_TRUE(WaitUntil([&] { return boxes_.boxes.size() >= 2; }, 20000));
    EXPECT_FALSE(t->Logging());
    EXPECT_TRUE(boxes_.boxes[1].text.contains(QStringLiteral("趋势图继续运行")));
    const std::uint64_t rounds = t->Poller().Rounds();
    ASSERT_TRUE(WaitUntil([&] { return t->Poller().Rounds() >= rounds + 3; }, 20000));
    EXPECT_EQ(boxes_.boxes.size(), 2u);
    EXPECT_TRUE(t->Running());
    // Closing the window stops polling: the master is as without a trend.
    t->close();
    EXPECT_FALSE(t->Running());
    EXPECT_EQ(W().Master().Poller(), nullptr);
}
