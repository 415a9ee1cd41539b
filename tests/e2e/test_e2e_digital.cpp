// End to end on the digital modules: the real main window and serial
// component, the four digital models simulated on a pseudo-terminal. What the
// panels show is checked against the simulated modules' own state.
#include <QCheckBox>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>
#include <functional>

#include "../app/WindowFixture.h"
#include "kelm-sim/PtyServer.h"
#include "modules/DoControlMode.h"
#include "modules/LampColumn.h"

using namespace kelm;
using namespace kelm::test;
using kelm::sim::ModuleConfig;

namespace {

constexpr unsigned kCom = 8;
constexpr int kWaitMs = 8000;

constexpr std::uint8_t kAddr8I8T = 3;
constexpr std::uint8_t kAddr16I = 4;
constexpr std::uint8_t kAddr16T = 5;
constexpr std::uint8_t kAddr8RY = 6;

unsigned Lit(const LampColumn& c) {
    unsigned w = 0;
    for (int ch = 0; ch < c.Count(); ++ch)
        if (c.LampOn(ch)) w |= 1u << ch;
    return w;
}
unsigned Pressed(const LampColumn& c) {
    unsigned w = 0;
    for (int ch = 0; ch < c.Count(); ++ch)
        if (c.Button(ch)->isChecked()) w |= 1u << ch;
    return w;
}
unsigned Ticked(const LampColumn& c) {
    unsigned w = 0;
    for (int ch = 0; ch < c.Count(); ++ch)
        if (c.Box(ch)->isChecked()) w |= 1u << ch;
    return w;
}
void Tick(LampColumn& c, unsigned word) {
    for (int ch = 0; ch < c.Count(); ++ch) c.Box(ch)->setChecked(((word >> ch) & 1u) != 0);
}
// The lamp picture a button shows, read from its icon.
bool IconLit(const LampColumn& c, int ch) {
    return c.Button(ch)->icon().cacheKey() == c.LampOnIcon().cacheKey();
}

}  // namespace

class DigitalEndToEnd : public WindowFixture {
  protected:
    void SetUp() override {
        WindowFixture::SetUp();
        std::string err;
        server_ = sim::PtyServer::Create({{ModuleConfig{10, kAddr8I8T}, ModuleConfig{11, kAddr16I},
                                           ModuleConfig{12, kAddr16T}, ModuleConfig{13, kAddr8RY}},
                                          sim::kDefaultReplyDelay,
                                          nullptr},
                                         &err);
        ASSERT_TRUE(server_) << err;
        server_->Start();
        Publish(kCom, server_->SlavePath());
        MakeWindow();
        ASSERT_TRUE(PortNamed(kCom));
        OpenPort(kCom);
    }

    void TearDown() override {
        WindowFixture::TearDown();
        if (server_) server_->Stop();
    }

    // Adds the module node as a scan would and selects it.
    void SelectModule(const char* model, std::uint8_t address, const QStringList& channels = {}) {
        QTreeWidgetItem* m = AddModule(
            PortNamed(kCom), QStringLiteral("%1(%2)").arg(QString::fromUtf8(model)).arg(address),
            channels);
        Select(m);
        ASSERT_EQ(St().Node_Device_ID, address);
    }

    sim::SimModule& Module(sim::SimBus& bus, std::uint8_t address) {
        sim::SimModule* m = bus.Find(address);
        EXPECT_NE(m, nullptr);
        return *m;
    }
    unsigned SimCoils(std::uint8_t address, int count) {
        return server_->WithBus([&](sim::SimBus& bus) {
            unsigned w = 0;
            const auto now = sim::PtyServer::Now();
            for (int ch = 0; ch < count; ++ch)
                if (Module(bus, address).Coil(ch, now)) w |= 1u << ch;
            return w;
        });
    }
    unsigned SimInputs(std::uint8_t address, int count) {
        return server_->WithBus([&](sim::SimBus& bus) {
            unsigned w = 0;
            const auto now = sim::PtyServer::Now();
            for (int ch = 0; ch < count; ++ch)
                if (Module(bus, address).DiscreteInput(ch, now)) w |= 1u << ch;
            return w;
        });
    }
    std::uint16_t SimHolding(std::uint8_t address, unsigned reg) {
        return server_->WithBus([&](sim::SimBus& bus) {
            return Module(bus, address).HoldingRegister(reg, sim::PtyServer::Now());
        });
    }

    bool ReplyHandled() {
        return WaitUntil(
            [&] { return W().StatusText(0) == QStringLiteral("当前终端通讯响应正常!"); }, kWaitMs);
    }

    // One output or relay switched on and off by its lamp button.
    void SwitchOne(LampColumn& outputs, int ch, std::uint8_t address) {
        SCOPED_TRACE(ch);
        const unsigned bit = 1u << ch;
        ASSERT_EQ(SimCoils(address, outputs.Count()) & bit, 0u);
        outputs.Button(ch)->click();
        ASSERT_TRUE(WaitUntil([&] { return outputs.LampOn(ch); }, kWaitMs));
        EXPECT_TRUE(IconLit(outputs, ch));
        EXPECT_TRUE(outputs.Button(ch)->isChecked());
        EXPECT_EQ(SimCoils(address, outputs.Count()), bit);
        outputs.Button(ch)->click();
        ASSERT_TRUE(WaitUntil([&] { return !outputs.LampOn(ch); }, kWaitMs));
        EXPECT_FALSE(IconLit(outputs, ch));
        EXPECT_FALSE(outputs.Button(ch)->isChecked());
        EXPECT_EQ(SimCoils(address, outputs.Count()), 0u);
    }

    // The input query against the simulated inputs: the inputs change by
    // themselves, so a query counts when they were the same just before it
    // was sent and just after its reply was shown.
    void QueryInputs(QPushButton* query, const LampColumn& inputs, std::uint8_t address) {
        // Some inputs on and some off, so that the lamps tell them apart (the
        // simulated inputs start off and rise after a second or more).
        const unsigned all = (1u << inputs.Count()) - 1;
        ASSERT_TRUE(WaitUntil(
            [&] {
                const unsigned now = SimInputs(address, inputs.Count());
                return now != 0 && now != all;
            },
            kWaitMs));
        bool compared = false;
        for (int attempt = 0; attempt < 10 && !compared; ++attempt) {
            const unsigned before = SimInputs(address, inputs.Count());
            query->click();
            EXPECT_EQ(Lit(inputs), 0u) << "the query puts the lamps out first";
            ASSERT_TRUE(ReplyHandled());
            const unsigned after = SimInputs(address, inputs.Count());
            if (before != after) continue;
            EXPECT_EQ(Lit(inputs), after);
            for (int ch = 0; ch < inputs.Count(); ++ch)
                EXPECT_EQ(IconLit(inputs, ch), ((after >> ch) & 1u) != 0) << ch;
            compared = true;
        }
        EXPECT_TRUE(compared) << "the inputs never held still over one query";
    }

    void PickMode(DoControlMode& mode, int index) { UserPick(mode.ModeList(), index); }

    // Multi-channel write, then the output mode word and the initial states
    // written, read back and shown, on a KELM-8I8T or KELM-16T.
    void ControlModesRoundTrip(DoControlMode& mode, LampColumn& outputs, std::uint8_t address,
                               unsigned outputsWord, unsigned initialWord, unsigned modeWord,
                               const std::function<unsigned()>& keptMode) {
        const int width = outputs.Count();
        PickMode(mode, DoControlMode::kMulti);
        Tick(outputs, outputsWord);
        mode.DosCtrl()->click();
        ASSERT_TRUE(WaitUntil([&] { return Lit(outputs) == outputsWord; }, kWaitMs));
        EXPECT_EQ(Pressed(outputs), outputsWord);
        EXPECT_EQ(SimCoils(address, width), outputsWord);

        PickMode(mode, DoControlMode::kInitialStates);
        Tick(outputs, initialWord);
        boxes_.Clear();
        mode.InfoModeSet()->click();
        ASSERT_TRUE(
            WaitUntil([&] { return boxes_.Has("提示", "DO初始状态值配置成功！"); }, kWaitMs));
        EXPECT_EQ(SimHolding(address, 6), initialWord);

        PickMode(mode, DoControlMode::kOutputMode);
        Tick(outputs, modeWord);
        boxes_.Clear();
        boxes_.answers = {true};
        mode.DoModeSet()->click();
        ASSERT_TRUE(WaitUntil([&] { return boxes_.Has("提示", "DO输出模式配置成功！"); }, kWaitMs));
        EXPECT_EQ(boxes_.boxes[0].icon, MsgIcon::Question);
        EXPECT_EQ(SimHolding(address, 7), modeWord);

        // Read back: each mode shows its own word in the boxes.
        PickMode(mode, DoControlMode::kInitialStates);
        mode.InfoModeRead()->click();
        ASSERT_TRUE(WaitUntil([&] { return Ticked(outputs) == initialWord; }, kWaitMs));
        EXPECT_EQ(keptMode(), modeWord);
        PickMode(mode, DoControlMode::kOutputMode);
        mode.DoModeRead()->click();
        ASSERT_TRUE(WaitUntil([&] { return Ticked(outputs) == modeWord; }, kWaitMs));
        EXPECT_EQ(keptMode(), modeWord);
    }

    std::unique_ptr<sim::PtyServer> server_;
};

TEST_F(DigitalEndToEnd, Kelm8I8T) {
    SelectModule("KELM-8I8T", kAddr8I8T, Channels("DI", 8) + Channels("DO", 8));
    TPnl8I8T& p = *W().Modules().Pnl_8I8T;
    EXPECT_EQ(W().PanelStack->currentWidget(), &p);
    SwitchOne(p.Outputs(), 3, kAddr8I8T);
    QueryInputs(p.Btn8i8t_dis_read, p.Inputs(), kAddr8I8T);
    ControlModesRoundTrip(p.ControlMode(), p.Outputs(), kAddr8I8T, 0x5A, 0x0F, 0x81,
                          [&] { return unsigned{St().DO07_Mode}; });
    // The output query shows the coils as the module holds them.
    p.Btn8i8t_dos_read->click();
    ASSERT_TRUE(ReplyHandled());
    EXPECT_EQ(Lit(p.Outputs()), SimCoils(kAddr8I8T, 8));
    EXPECT_EQ(Lit(p.Outputs()), 0x5Au);
}

TEST_F(DigitalEndToEnd, Kelm16I) {
    SelectModule("KELM-16I", kAddr16I, Channels("DI", 16));
    TPnl16I& p = *W().Modules().Pnl_16I;
    EXPECT_EQ(W().PanelStack->currentWidget(), &p);
    QueryInputs(p.Btn16i_dis_read, p.Inputs(), kAddr16I);
}

TEST_F(DigitalEndToEnd, Kelm16T) {
    SelectModule("KELM-16T", kAddr16T, Channels("DO", 16));
    TPnl16T& p = *W().Modules().Pnl_16T;
    EXPECT_EQ(W().PanelStack->currentWidget(), &p);
    SwitchOne(p.Outputs(), 12, kAddr16T);
    ControlModesRoundTrip(p.ControlMode(), p.Outputs(), kAddr16T, 0x8101, 0x0402, 0x8200,
                          [&] { return unsigned{St().DO15_Mode}; });
}

TEST_F(DigitalEndToEnd, Kelm8RY) {
    SelectModule("KELM-8RY", kAddr8RY);
    TPnl8RY& p = *W().Modules().Pnl_8RY;
    EXPECT_EQ(W().PanelStack->currentWidget(), &p);
    SwitchOne(p.Relays(), 5, kAddr8RY);

    Tick(p.Relays(), 0x0C);
    p.Btn_Rel_status_ctrl->click();
    ASSERT_TRUE(WaitUntil([&] { return Lit(p.Relays()) == 0x0Cu; }, kWaitMs));
    EXPECT_EQ(SimCoils(kAddr8RY, 8), 0x0Cu);

    Tick(p.Relays(), 0x41);
    boxes_.Clear();
    p.Btn8R_Info_mode_set->click();
    ASSERT_TRUE(
        WaitUntil([&] { return boxes_.Has("提示", "继电器上电初始值状态配置成功！"); }, kWaitMs));
    EXPECT_EQ(SimHolding(kAddr8RY, 6), 0x41);
    Tick(p.Relays(), 0xFF);
    p.Btn8R_Info_mode_read->click();
    EXPECT_EQ(Ticked(p.Relays()), 0u);
    ASSERT_TRUE(WaitUntil([&] { return Ticked(p.Relays()) == 0x41u; }, kWaitMs));

    p.Btn_Rel_status_read->click();
    EXPECT_EQ(Lit(p.Relays()), 0u);
    ASSERT_TRUE(WaitUntil([&] { return Lit(p.Relays()) == 0x0Cu; }, kWaitMs));
}
