// End to end through the channel panels: the real window and serial component
// against simulated KELM-8I8T, KELM-16I and KELM-16T modules on a pty. Filter
// times, pulse counting, pulse outputs and the output mode display are
// checked against what the simulated module holds and does.
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QToolButton>

#include "../app/WindowFixture.h"
#include "kelm-sim/PtyServer.h"
#include "modules/ChannelParts.h"

using namespace kelm;
using namespace kelm::test;
using kelm::sim::ModuleConfig;

namespace {

constexpr unsigned kCom = 8;
constexpr std::uint8_t k8I8T = 3;
constexpr std::uint8_t k16I = 2;
constexpr std::uint8_t k16T = 5;
// Generous: the machine is shared and the tests wait on real time.
constexpr int kReply = 5000;

}  // namespace

class ChannelsEndToEnd : public WindowFixture {
  protected:
    void SetUp() override {
        WindowFixture::SetUp();
        std::string err;
        server_ = sim::PtyServer::Create(
            {{ModuleConfig{10, k8I8T}, ModuleConfig{11, k16I}, ModuleConfig{12, k16T}},
             sim::kDefaultReplyDelay,
             nullptr},
            &err);
        ASSERT_TRUE(server_) << err;
        server_->Start();
        Publish(kCom, server_->SlavePath());
        MakeWindow();
        OpenPort(kCom);
        // The module nodes as a scan leaves them.
        QTreeWidgetItem* port = PortNamed(kCom);
        m8i8t_ = AddModule(port, "KELM-8I8T(3)", Channels("DI", 8) + Channels("DO", 8));
        m16i_ = AddModule(port, "KELM-16I(2)", Channels("DI", 16));
        m16t_ = AddModule(port, "KELM-16T(5)", Channels("DO", 16));
    }

    void TearDown() override {
        WindowFixture::TearDown();
        if (server_) server_->Stop();
    }

    TPnlXiType& Xi() { return *W().Pnl_Xi_type; }
    TPnlYoType& Yo() { return *W().Pnl_Yo_type; }

    std::uint16_t SimRegister(std::uint8_t address, unsigned reg) {
        return server_->WithBus([&](sim::SimBus& bus) {
            sim::SimModule* m = bus.Find(address);
            return m ? m->HoldingRegister(reg, sim::PtyServer::Now()) : std::uint16_t{0};
        });
    }
    std::uint32_t SimCount(std::uint8_t address, unsigned highReg) {
        return (std::uint32_t{SimRegister(address, highReg)} << 16) |
               SimRegister(address, highReg + 1);
    }
    // The module's own output mode word, as the module panel's mode write
    // would leave it.
    void SimModeWord(std::uint8_t address, std::uint16_t word) {
        server_->WithBus([&](sim::SimBus& bus) {
            bus.Find(address)->Handle({0x06, 0x00, 0x07, static_cast<std::uint8_t>(word >> 8),
                                       static_cast<std::uint8_t>(word & 0xFF)},
                                      sim::PtyServer::Now());
        });
    }

    // Waits for an information box with this text and clears the record.
    void ExpectNotice(const QString& text) {
        EXPECT_TRUE(WaitUntil([&] { return boxes_.Has(QStringLiteral("提示"), text); }, kReply))
            << text.toStdString();
        boxes_.Clear();
    }

    // Clicks a read button and waits until its reply has passed its check
    // (the request shows the sending text, a valid reply the reply text).
    void Ask(QAbstractButton* button) {
        button->click();
        ASSERT_EQ(W().StatusText(0), QStringLiteral("正在扫描终端数据......"));
        EXPECT_TRUE(WaitUntil(
            [&] { return W().StatusText(0) == QStringLiteral("当前终端通讯响应正常!"); }, kReply))
            << button->objectName().toStdString();
    }

    // The counting query; the count it shows.
    std::uint32_t QueryCount() {
        Ask(Xi().Btn_Xi_Counter_Read);
        return Xi().Edit_Xi_counter_value->text().toUInt();
    }

    std::unique_ptr<sim::PtyServer> server_;
    QTreeWidgetItem* m8i8t_ = nullptr;
    QTreeWidgetItem* m16i_ = nullptr;
    QTreeWidgetItem* m16t_ = nullptr;
};

TEST_F(ChannelsEndToEnd, FilterTimeWrittenAndReadBack) {
    struct {
        QTreeWidgetItem* module;
        std::uint8_t address;
        unsigned reg;  // filter time of DI5
        const char* value;
    } const kCases[] = {
        {m16i_, k16I, 11, "250"},
        {m8i8t_, k8I8T, 53, "10000"},
    };
    for (const auto& c : kCases) {
        Select(c.module->child(5));
        ASSERT_EQ(W().PanelStack->currentWidget(), W().Pnl_Xi_type);
        Xi().Edit_Xi_filter_value->setText(c.value);
        Xi().Btn_Xi_filter_set->click();
        ExpectNotice(QStringLiteral("DI开关量输入滤波时间配置成功！"));
        EXPECT_EQ(SimRegister(c.address, c.reg), QString(c.value).toUInt());
        EXPECT_EQ(SimRegister(c.address, c.reg - 1), 100) << "DI4 keeps its default";

        // Another channel and back: the box starts from "0", the read fills it.
        Select(c.module->child(4));
        Select(c.module->child(5));
        EXPECT_EQ(Xi().Edit_Xi_filter_value->text(), "0");
        Ask(Xi().Btn_Xi_filter_read);
        EXPECT_EQ(Xi().Edit_Xi_filter_value->text(), c.value);
    }
}

TEST_F(ChannelsEndToEnd, CountingStartedCountsTheInputsEdgesAndStops) {
    // DI0 of the KELM-16I: the simulated line rises every 2 s.
    Select(m16i_->child(0));
    boxes_.answers = {true};
    Xi().Sbtn_Xi_Counter_on->click();
    EXPECT_EQ(boxes_.boxes.front().text, TPnlXiType::kCountingQuestion);
    ExpectNotice(TPnlXiType::kCountingStarted);
    EXPECT_TRUE(Xi().Shape_Counter_DI->IsRunning());
    EXPECT_EQ(St().DIDO_Button_Status, 0);
    EXPECT_EQ(SimRegister(k16I, 22), 0x0031);

    const std::uint32_t first = QueryCount();
    EXPECT_TRUE(Xi().Shape_Counter_DI->IsRunning()) << "the query read the control as running";
    std::uint32_t later = first;
    ASSERT_TRUE(WaitUntil(
        [&] {
            QTest::qWait(400);
            later = QueryCount();
            return later > first;
        },
        12000))
        << "the count did not grow past " << first;

    Xi().Sbtn_Xi_Counter_off->click();
    ExpectNotice(TPnlXiType::kCountingStopped);
    EXPECT_FALSE(Xi().Shape_Counter_DI->IsRunning());
    const std::uint32_t stopped = QueryCount();
    EXPECT_FALSE(Xi().Shape_Counter_DI->IsRunning());
    EXPECT_GE(stopped, later);
    EXPECT_EQ(stopped, SimCount(k16I, 38)) << "the count the module holds";
    QTest::qWait(2500);
    EXPECT_EQ(QueryCount(), stopped) << "a stopped counter keeps its count";
}

TEST_F(ChannelsEndToEnd, CountingCancelledSendsNothing) {
    Select(m8i8t_->child(2));
    boxes_.answers = {false};
    Xi().Sbtn_Xi_Counter_on->click();
    QTest::qWait(300);
    EXPECT_EQ(SimRegister(k8I8T, 58), 0x0030);
    EXPECT_EQ(boxes_.boxes.size(), 1u);
    EXPECT_EQ(St().DIDO_Button_Status, 0);
}

TEST_F(ChannelsEndToEnd, PulseOutputsContinuousAndCounted) {
    // DO1 of the KELM-8I8T and DO15 of the KELM-16T are pulse outputs.
    SimModeWord(k8I8T, 0x0002);
    SimModeWord(k16T, 0x8000);
    struct {
        QTreeWidgetItem* module;
        int node;
        std::uint8_t address;
        unsigned continuousReg, countReg;
    } const kCases[] = {
        {m8i8t_, 9, k8I8T, 25, 34},
        {m16t_, 15, k16T, 55, 86},
    };
    for (const auto& c : kCases) {
        const std::string what = std::to_string(c.address);
        Select(c.module->child(c.node));
        ASSERT_EQ(W().PanelStack->currentWidget(), W().Pnl_Yo_type);
        ASSERT_TRUE(WaitUntil([&] { return Yo().RaB_Yo_pulse->isChecked(); }, kReply)) << what;
        boxes_.Clear();
        EXPECT_FALSE(Yo().Gro_pulse_mode->isHidden());

        // 50 ms ON, 50 ms OFF: ten pulses a second.
        Yo().Edit_pulse_timeH->setText("500");
        Yo().Btn_pulse_timeON_set->click();
        ExpectNotice(QStringLiteral("脉冲输出ON电平时间设置成功！"));
        Yo().Edit_pulse_timeL->setText("500");
        Yo().Btn_pulse_timeOFF_set->click();
        ExpectNotice(QStringLiteral("脉冲输出OFF电平时间设置成功！"));
        Ask(Yo().Btn_pulse_time_read);
        EXPECT_EQ(Yo().Edit_pulse_timeH->text(), "500") << what;
        EXPECT_EQ(Yo().Edit_pulse_timeL->text(), "500") << what;

        // A continuous run.
        Yo().RaB_pulse_out_continue->setChecked(true);
        Yo().Sbtn_pulse_on->click();
        ExpectNotice(TPnlYoType::kContinuousStarted);
        EXPECT_TRUE(Yo().Shape_Pulse_DO->IsRunning());
        EXPECT_EQ(SimRegister(c.address, c.continuousReg), 0x0031) << what;
        Ask(Yo().Btn_pulse_status_read);
        EXPECT_TRUE(Yo().RaB_pulse_out_continue->isChecked());
        EXPECT_TRUE(Yo().Shape_Pulse_DO->IsRunning());
        EXPECT_EQ(Yo().Edit_pulse_num->text(), "0");
        Yo().Sbtn_pulse_off->click();
        ExpectNotice(TPnlYoType::kContinuousStopped);
        EXPECT_FALSE(Yo().Shape_Pulse_DO->IsRunning());
        EXPECT_EQ(SimRegister(c.address, c.continuousReg), 0x0030) << what;

        // A counted run of 1000 pulses: what is left goes down between queries.
        Yo().RaB_pulse_num_out->setChecked(true);
        Yo().Edit_pulse_num->setText("1000");
        Yo().Sbtn_pulse_on->click();
        ExpectNotice(TPnlYoType::kCountStarted);
        EXPECT_TRUE(Yo().Shape_Pulse_DO->IsRunning());
        auto queryLeft = [&] {
            Ask(Yo().Btn_pulse_status_read);
            EXPECT_TRUE(Yo().RaB_pulse_num_out->isChecked());
            return Yo().Edit_pulse_num->text().toUInt();
        };
        const unsigned left1 = queryLeft();
        EXPECT_TRUE(Yo().Shape_Pulse_DO->IsRunning());
        EXPECT_GT(left1, 0u);
        EXPECT_LE(left1, 1000u);
        QTest::qWait(600);
        const unsigned left2 = queryLeft();
        EXPECT_LT(left2, left1) << what;
        const std::uint32_t simLeft = SimCount(c.address, c.countReg);
        EXPECT_GE(left2, simLeft) << what << ": the module goes on counting down";
        EXPECT_LE(left2 - simLeft, 30u) << what;

        Yo().RaB_pulse_num_out->setChecked(true);
        Yo().Sbtn_pulse_off->click();
        ExpectNotice(TPnlYoType::kCountStopped);
        EXPECT_FALSE(Yo().Shape_Pulse_DO->IsRunning());
        EXPECT_EQ(SimCount(c.address, c.countReg), 0u) << what;
        Ask(Yo().Btn_pulse_status_read);
        EXPECT_EQ(Yo().Edit_pulse_num->text(), "0");
        EXPECT_FALSE(Yo().RaB_pulse_num_out->isChecked());
        EXPECT_FALSE(Yo().RaB_pulse_out_continue->isChecked());
        EXPECT_FALSE(Yo().Shape_Pulse_DO->IsRunning());
    }
}

TEST_F(ChannelsEndToEnd, ModeDisplayFollowsTheModeBit) {
    SimModeWord(k8I8T, 0x0080);  // DO7 pulse, DO6 switch
    SimModeWord(k16T, 0x0001);   // DO0 pulse, DO1 switch
    struct {
        QTreeWidgetItem* module;
        int node;
        bool pulse;
    } const kCases[] = {
        {m8i8t_, 15, true},
        {m8i8t_, 14, false},
        {m16t_, 0, true},
        {m16t_, 1, false},
    };
    for (const auto& c : kCases) {
        Select(c.module->child(c.node));
        EXPECT_FALSE(Yo().RaB_Yo_pulse->isChecked() || Yo().RaB_Yo_switch->isChecked())
            << "until the mode reply, neither is ticked";
        QRadioButton* ticked = c.pulse ? Yo().RaB_Yo_pulse : Yo().RaB_Yo_switch;
        EXPECT_TRUE(WaitUntil([&] { return ticked->isChecked(); }, kReply)) << c.node;
        EXPECT_EQ(Yo().Gro_pulse_mode->isHidden(), !c.pulse) << c.node;
    }
}
