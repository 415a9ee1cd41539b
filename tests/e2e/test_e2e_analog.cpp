// End to end on the analog panels: the real window and serial component
// against simulated KELM-2AO, KELM-8AD, KELM-8AS and KELM-8ASP modules on a
// pseudo-terminal. Modes and values go to the simulator and come back; the
// readings are checked against the simulator's signal.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStackedWidget>
#include <QToolButton>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "../app/WindowFixture.h"
#include "kelm-sim/PtyServer.h"
#include "modules/AnalogInputPanel.h"
#include "modules/Pnl2AO.h"

using namespace kelm;
using namespace kelm::test;
using kelm::sim::ModuleConfig;
using kelm::sim::Protocol;
using kelm::sim::SimTime;

namespace {

constexpr unsigned kCom = 8;
constexpr std::uint8_t kType8AS = 14;
constexpr std::uint8_t kType8ASP = 15;
constexpr std::uint8_t kType8AD = 16;
constexpr std::uint8_t kType2AO = 17;

// The ranges of the two lists, as the modules define them.
constexpr double k8AdFullScale[] = {20, 10, 5, 2.5, 1.2, 0.6, 0.3, 0.15};
constexpr int k8AdDecimals[] = {4, 4, 5, 5, 5, 5, 6, 6};
constexpr double k8AsFullScale[] = {20, 10};

// Decimals of a value text ("-5.0000" has 4).
int DecimalsOf(const QString& text) {
    const int point = text.indexOf('.');
    return point < 0 ? 0 : static_cast<int>(text.size()) - point - 1;
}

}  // namespace

class AnalogEndToEnd : public WindowFixture {
  protected:
    void StartBus(std::vector<ModuleConfig> modules, int protocolIndex = 0) {
        std::string err;
        server_ =
            sim::PtyServer::Create({std::move(modules), sim::kDefaultReplyDelay, nullptr}, &err);
        ASSERT_TRUE(server_) << err;
        server_->Start();
        Publish(kCom, server_->SlavePath());
        MakeWindow();
        ASSERT_TRUE(PortNamed(kCom));
        OpenPort(kCom, protocolIndex);
    }
    void TearDown() override {
        WindowFixture::TearDown();
        if (server_) server_->Stop();
    }

    // A module node as the scan adds it, selected as the user does.
    QTreeWidgetItem* SelectModule(const QString& text) {
        QTreeWidgetItem* node = nullptr;
        QTreeWidgetItem* port = PortNamed(kCom);
        for (int i = 0; i < port->childCount(); ++i)
            if (port->child(i)->text(0) == text) node = port->child(i);
        if (!node) node = AddModule(port, text);
        Select(Root());
        Select(node);
        return node;
    }

    std::uint16_t Holding(std::uint8_t address, unsigned reg) {
        return server_->WithBus([&](sim::SimBus& bus) {
            sim::SimModule* m = bus.Find(address);
            return m ? m->HoldingRegister(reg, sim::PtyServer::Now()) : std::uint16_t{0xFFFF};
        });
    }

    // The lowest and highest signal of channel ch between t0 and t1.
    std::pair<double, double> SignalRange(std::uint8_t address, unsigned ch, SimTime t0,
                                          SimTime t1) {
        return server_->WithBus([&](sim::SimBus& bus) {
            const sim::SimModule* m = bus.Find(address);
            double lo = INFINITY, hi = -INFINITY;
            constexpr int kSamples = 400;
            for (int i = 0; i <= kSamples; ++i) {
                const SimTime t = t0 + (t1 - t0) * i / kSamples;
                const double s = m ? m->AnalogSignal(ch, t) : NAN;
                lo = std::min(lo, s);
                hi = std::max(hi, s);
            }
            return std::pair{lo, hi};
        });
    }

    // Reads the data of an analog input panel and checks every channel: the
    // value text is the count through the formula (count - zero) / perFullScale
    // * full scale at the list's range, and lies on the simulator's signal
    // between the request and the reply. slope: the signal's fastest change,
    // per second.
    void ReadAndCheckData(AnalogInputPanel& p, std::uint8_t address, double zero,
                          double perFullScale, const double* fullScale, const int* decimals,
                          double slope) {
        const SimTime t0 = sim::PtyServer::Now();
        p.DataReadButton()->click();
        ASSERT_TRUE(WaitUntil(
            [&] {
                for (int ch = 0; ch < 8; ++ch)
                    if (p.Ch(ch).raw->text() == "0") return false;
                return true;
            },
            5000));
        const SimTime t1 = sim::PtyServer::Now();
        const double seconds = std::chrono::duration<double>(t1 - t0).count();
        for (int ch = 0; ch < 8; ++ch) {
            const int mode = p.Ch(ch).mode->currentIndex();
            ASSERT_GE(mode, 0);
            bool ok = false;
            const double count = p.Ch(ch).raw->text().toDouble(&ok);
            ASSERT_TRUE(ok);
            const QString text = p.Ch(ch).value->text();
            const double shown = text.toDouble(&ok);
            ASSERT_TRUE(ok) << text.toStdString();
            const int d = decimals[mode];
            EXPECT_EQ(DecimalsOf(text), d) << "CH" << ch << " " << text.toStdString();
            const double step = std::pow(10.0, -d);
            const double expected = (count - zero) / perFullScale * fullScale[mode];
            EXPECT_LE(std::fabs(shown - expected), step / 2 + 1e-9)
                << "CH" << ch << " count " << count << " shows " << text.toStdString();
            // The count is the signal quantised to one count; the text rounds it.
            const auto [lo, hi] = SignalRange(address, static_cast<unsigned>(ch), t0, t1);
            const double margin =
                fullScale[mode] / perFullScale / 2 + step / 2 + slope * seconds / 400 + 1e-9;
            EXPECT_GE(shown, lo - margin) << "CH" << ch << " " << text.toStdString();
            EXPECT_LE(shown, hi + margin) << "CH" << ch << " " << text.toStdString();
        }
    }

    // Reads the modes and waits for the lists to show them.
    void ReadModes(AnalogInputPanel& p, const std::vector<int>& expected) {
        p.ModeReadButton()->click();
        for (int ch = 0; ch < 8; ++ch) EXPECT_EQ(p.Ch(ch).mode->currentIndex(), -1);
        ASSERT_TRUE(WaitUntil([&] { return p.Ch(7).mode->currentIndex() >= 0; }, 5000));
        for (int ch = 0; ch < 8; ++ch) {
            EXPECT_EQ(p.Ch(ch).mode->currentIndex(), expected[ch]) << "CH" << ch;
            EXPECT_EQ(p.Ch(ch).unit->text(), expected[ch] == 0 ? "mA" : "V") << "CH" << ch;
        }
    }

    // Unlocks the lists, picks the modes as the user does and writes them.
    void WriteModes(AnalogInputPanel& p, std::uint8_t address, const std::vector<int>& modes) {
        p.EnableBox()->click();
        for (int ch = 0; ch < 8; ++ch) UserPick(p.Ch(ch).mode, modes[ch]);
        boxes_.Clear();
        p.ModeSetButton()->click();
        ASSERT_TRUE(WaitUntil([&] { return boxes_.Has("提示", "8通道模式参数配置成功！"); }, 5000));
        for (int ch = 0; ch < 8; ++ch)
            EXPECT_EQ(Holding(address, 6 + ch), 0x30 + modes[ch]) << "CH" << ch;
    }

    std::unique_ptr<sim::PtyServer> server_;
};

TEST_F(AnalogEndToEnd, TwoAoModesAndValuesWrittenAndReadBack) {
    StartBus({ModuleConfig{kType2AO, 5, 3, Protocol::Rtu}});
    SelectModule("KELM-2AO(5)");
    TPnl2AO& p = *W().Modules().Pnl_2AO;
    ASSERT_EQ(W().PanelStack->currentWidget(), &p);

    p.Ch(0).mode0->click();
    p.Ch(1).mode1->click();
    boxes_.Clear();
    p.WriteModeButton()->click();
    ASSERT_TRUE(WaitUntil([&] { return boxes_.Has("提示", "两路AO模式配置成功！"); }, 5000));
    EXPECT_EQ(Holding(5, 6), 0x0030);
    EXPECT_EQ(Holding(5, 7), 0x0031);

    // The user drags both bars.
    auto drag = [](QScrollBar* bar, int position) {
        bar->setSliderDown(true);
        bar->setSliderPosition(position);
        bar->setSliderDown(false);
    };
    drag(p.Ch(0).bar, 12000);
    drag(p.Ch(1).bar, 5000);
    EXPECT_EQ(p.Ch(0).value->text(), "12000");
    EXPECT_EQ(p.Ch(1).value->text(), "5000");
    boxes_.Clear();
    p.WriteDataButton()->click();
    ASSERT_TRUE(WaitUntil([&] { return boxes_.Has("提示", "两路AO数据更新成功！"); }, 5000));
    EXPECT_EQ(Holding(5, 8), 12000);
    EXPECT_EQ(Holding(5, 9), 5000);

    drag(p.Ch(0).bar, 16000);
    boxes_.Clear();
    p.Ch(0).write->click();
    ASSERT_TRUE(WaitUntil([&] { return boxes_.Has("提示", "AO0数据更新成功！"); }, 5000));
    EXPECT_EQ(Holding(5, 8), 16000);
    drag(p.Ch(1).bar, 9999);
    boxes_.Clear();
    p.Ch(1).write->click();
    ASSERT_TRUE(WaitUntil([&] { return boxes_.Has("提示", "AO1数据更新成功！"); }, 5000));
    EXPECT_EQ(Holding(5, 9), 9999);

    // Selecting the module again resets the panel; the read brings it all back.
    SelectModule("KELM-2AO(5)");
    EXPECT_FALSE(p.Ch(0).mode0->isChecked());
    EXPECT_EQ(p.Ch(0).value->text(), "0");
    p.ReadModeButton()->click();
    ASSERT_TRUE(WaitUntil([&] { return p.Ch(1).value->text() == "9999"; }, 5000));
    EXPECT_TRUE(p.Ch(0).mode0->isChecked());
    EXPECT_TRUE(p.Ch(1).mode1->isChecked());
    EXPECT_EQ(p.Ch(0).value->text(), "16000");
    EXPECT_EQ(p.Ch(0).bar->value(), 16000);
    EXPECT_EQ(p.Ch(0).bar->minimum(), 4000);
    EXPECT_EQ(p.Ch(0).unit->text(), "uA");
    EXPECT_EQ(p.Ch(1).bar->value(), 9999);
    EXPECT_EQ(p.Ch(1).bar->maximum(), 10000);
    EXPECT_EQ(p.Ch(1).unit->text(), "mV");
}

TEST_F(AnalogEndToEnd, EightAdModesReadChangedWrittenAndDataMatchTheSignal) {
    StartBus({ModuleConfig{kType8AD, 6, 3, Protocol::Rtu}});
    SelectModule("KELM-8AD(6)");
    auto& p = *W().Modules().Pnl_8AD;
    ASSERT_EQ(W().PanelStack->currentWidget(), &p);

    ReadModes(p, {0, 0, 0, 0, 0, 0, 0, 0});
    ReadAndCheckData(p, 6, 65535, 64000, k8AdFullScale, k8AdDecimals,
                     0.6 * 20 * 2 * std::numbers::pi / 20);

    const std::vector<int> modes = {3, 1, 2, 7, 4, 5, 6, 0};
    WriteModes(p, 6, modes);
    SelectModule("KELM-8AD(6)");
    ReadModes(p, modes);
    ReadAndCheckData(p, 6, 65535, 64000, k8AdFullScale, k8AdDecimals,
                     0.6 * 20 * 2 * std::numbers::pi / 20);
}

TEST_F(AnalogEndToEnd, EightAsAndEightAspInAsciiDifferBySixteenCountsPerValue) {
    StartBus({ModuleConfig{kType8AS, 7, 3, Protocol::Ascii},
              ModuleConfig{kType8ASP, 8, 3, Protocol::Ascii}},
             1);
    auto& p = *W().Modules().Pnl_8AS;
    const int decimals[] = {3, 3};
    const std::vector<int> modes = {1, 0, 1, 1, 0, 0, 1, 0};
    struct Case {
        const char* node;
        std::uint8_t address;
        double perFullScale;
    };
    // One signal, the same on both modules: the KELM-8ASP counts it sixteen
    // times finer, and both show the same value.
    for (const Case& c : {Case{"KELM-8AS(7)", 7, 4000}, Case{"KELM-8ASP(8)", 8, 64000}}) {
        SCOPED_TRACE(c.node);
        SelectModule(c.node);
        ASSERT_EQ(W().PanelStack->currentWidget(), &p);
        ReadModes(p, {0, 0, 0, 0, 0, 0, 0, 0});
        ReadAndCheckData(p, c.address, 0, c.perFullScale, k8AsFullScale, decimals,
                         6 * 2 * std::numbers::pi / 20);
        WriteModes(p, c.address, modes);
        SelectModule(c.node);
        ReadModes(p, modes);
        ReadAndCheckData(p, c.address, 0, c.perFullScale, k8AsFullScale, decimals,
                         6 * 2 * std::numbers::pi / 20);
    }
}
