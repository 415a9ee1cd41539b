// The two eight-channel analog input panels (KELM-8AD; KELM-8AS and
// KELM-8ASP): their controls, the requests byte for byte, the conversion of
// counts to the character, the two mode-reply rules, the refused mode write
// and the lock of the mode lists.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTest>
#include <array>
#include <ostream>
#include <string>

#include "ModuleRig.h"
#include "modules/AnalogInputPanel.h"

namespace kelm::test {
namespace {

ByteString Ascii(const std::string& s) {
    return ByteString(s.begin(), s.end());
}

TEST(FormatFixed, RoundsHalfAwayFromZeroWithALeadingMinus) {
    struct Case {
        double v;
        int decimals;
        const char* text;
    };
    const Case cases[] = {
        {10, 4, "10.0000"},
        {-5, 4, "-5.0000"},
        {0.15, 6, "0.150000"},
        {0.000078125, 5, "0.00008"},
        {-20.4796875, 4, "-20.4797"},
        {0, 3, "0.000"},
        {0.00125, 4, "0.0013"},  // exactly between two steps
        {-0.00125, 4, "-0.0013"},
        {0.9999996, 6, "1.000000"},  // the carry reaches the integer
                                     // digit
        {999.9995, 3, "1000.000"},
        {-0.00004, 4, "0.0000"},  // a negative value that rounds to
                                  // zero shows no minus
        {-0.00005, 4, "-0.0001"},
        {1234567.5, 0, "1234568"},
    };
    for (const Case& c : cases) EXPECT_EQ(FormatFixed(c.v, c.decimals), c.text) << c.v;
}

// The eight counts of a data reply, as the model packs them.
ByteString DataReply(unsigned countBytes, const std::array<std::uint32_t, 8>& counts) {
    ByteString body = {0x01, 0x04, static_cast<std::uint8_t>(8 * countBytes)};
    for (std::uint32_t n : counts)
        for (unsigned i = countBytes; i-- > 0;)
            body.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
    return body;
}

// The mode read reply with these eight registers.
ByteString ModeReply(const std::array<std::uint16_t, 8>& regs) {
    ByteString body = {0x01, 0x03, 0x10};
    for (std::uint16_t r : regs) {
        body.push_back(static_cast<std::uint8_t>(r >> 8));
        body.push_back(static_cast<std::uint8_t>(r));
    }
    return body;
}

// One panel under test with its model's names.
struct PanelCase {
    const char* model;
    const char* tag;
    const char* valueHeading;
    std::vector<const char*> labels;
    ByteString dataRequest;  // RTU, address 1
    const char* dataRequestAscii;
};

const PanelCase k8AD{"KELM-8AD",
                     "8AD",
                     "量程值：",
                     {"±20mA", "±10V", "±5V", "±2.5V", "±1.2V", "±0.6V", "±0.3V", "±0.15V"},
                     {0x01, 0x04, 0x00, 0x00, 0x00, 0x0C, 0xF0, 0x0F},
                     ":01040000000CEF\r\n"};
const PanelCase k8AS{"KELM-8AS",
                     "8AS",
                     "工程量：",
                     {"电流", "电压"},
                     {0x01, 0x04, 0x00, 0x00, 0x00, 0x08, 0xF1, 0xCC},
                     ":010400000008F3\r\n"};

void PrintTo(const PanelCase& c, std::ostream* os) {
    *os << c.model;
}

class AnalogInput : public ::testing::TestWithParam<PanelCase> {
  protected:
    ModuleRig rig;
    const PanelCase& c = GetParam();
    AnalogInputPanel* p = nullptr;

    void SetUp() override {
        p = qobject_cast<AnalogInputPanel*>(rig.Select(c.model, 1));
        ASSERT_NE(p, nullptr);
    }
    const AnalogInputPanel::Channel& Ch(int ch) const { return p->Ch(ch); }
    QString Unit(int ch) const { return Ch(ch).unit->text(); }
    int Mode(int ch) const { return Ch(ch).mode->currentIndex(); }

    // The user picks entry index of channel ch's list (keyboard on the
    // closed list, which runs the change handler as a mouse choice does).
    void UserPicks(int ch, int index) {
        QComboBox* m = Ch(ch).mode;
        ASSERT_TRUE(m->isEnabled());
        m->setFocus();
        if (m->currentIndex() < 0) QTest::keyClick(m, Qt::Key_Home);
        while (m->currentIndex() < index) QTest::keyClick(m, Qt::Key_Down);
        while (m->currentIndex() > index) QTest::keyClick(m, Qt::Key_Up);
    }
};

TEST_P(AnalogInput, ControlsAndTheirStateAfterReset) {
    const QString t = c.tag;
    EXPECT_EQ(p->Menu()->objectName(), "Gro" + t + "_menu");
    QStringList labels;
    for (QLabel* l : p->Menu()->findChildren<QLabel*>()) labels << l->text();
    for (const char* heading : {"数字量：", "模式：", "--", "CH0:", "CH7:"})
        EXPECT_TRUE(labels.contains(QString::fromUtf8(heading))) << heading;
    EXPECT_TRUE(labels.contains(QString::fromUtf8(c.valueHeading)));
    for (int ch = 0; ch < 8; ++ch) {
        const QString n = QString::number(ch);
        const auto& row = Ch(ch);
        EXPECT_EQ(row.raw->objectName(), "Edit_" + t + "_ADC_CH" + n);
        EXPECT_EQ(row.value->objectName(), "Edit_" + t + "_VI_CH" + n);
        EXPECT_EQ(row.unit->objectName(), "Label_" + t + "_CH" + n);
        EXPECT_EQ(row.mode->objectName(), "Cmb" + t + "_VI_CH" + n);
        EXPECT_EQ(p->findChild<QComboBox*>("Cmb" + t + "_VI_CH" + n), row.mode);
        EXPECT_EQ(row.raw->text(), "0");
        EXPECT_EQ(row.value->text(), "0");
        EXPECT_FALSE(row.raw->isEnabled());
        EXPECT_FALSE(row.value->isEnabled());
        EXPECT_EQ(row.unit->text(), "mA");
        ASSERT_EQ(row.mode->count(), static_cast<int>(c.labels.size()));
        for (int i = 0; i < row.mode->count(); ++i)
            EXPECT_EQ(row.mode->itemText(i), QString::fromUtf8(c.labels[i]));
        EXPECT_EQ(row.mode->currentIndex(), 0);
        EXPECT_FALSE(row.mode->isEnabled());
    }
    EXPECT_EQ(p->EnableBox()->objectName(), "CheckBox" + t + "_VI_Enable");
    EXPECT_EQ(p->EnableBox()->text(), QStringLiteral("使能模式配置"));
    EXPECT_FALSE(p->EnableBox()->isChecked());
    const std::pair<QPushButton*, const char*> buttons[] = {
        {p->ModeReadButton(), "读取8通道模式"},
        {p->ModeSetButton(), "配置8通道模式"},
        {p->DataReadButton(), "读取8通道数据"},
    };
    for (const auto& [b, caption] : buttons) EXPECT_EQ(b->text(), QString::fromUtf8(caption));
    EXPECT_EQ(p->ModeReadButton()->objectName(), "Btn" + t + "_Mode_Read");
    EXPECT_EQ(p->ModeSetButton()->objectName(), "Btn" + t + "_Mode_Set");
    EXPECT_EQ(p->DataReadButton()->objectName(), "Btn" + t + "_CH_Read");
    EXPECT_FALSE(p->ModeSetButton()->isEnabled());
    EXPECT_TRUE(p->ModeReadButton()->isEnabled());
    EXPECT_TRUE(p->DataReadButton()->isEnabled());
}

TEST_P(AnalogInput, EnableBoxLocksAndUnlocksTheListsAndTheSetButton) {
    p->EnableBox()->click();
    for (int ch = 0; ch < 8; ++ch) EXPECT_TRUE(Ch(ch).mode->isEnabled());
    EXPECT_TRUE(p->ModeSetButton()->isEnabled());
    p->EnableBox()->click();
    for (int ch = 0; ch < 8; ++ch) EXPECT_FALSE(Ch(ch).mode->isEnabled());
    EXPECT_FALSE(p->ModeSetButton()->isEnabled());
    EXPECT_TRUE(p->ModeReadButton()->isEnabled());
    EXPECT_TRUE(p->DataReadButton()->isEnabled());

    // A reset while unlocked clears the box and locks again, choices undone.
    p->EnableBox()->click();
    UserPicks(2, 1);
    rig.Select(c.model, 1);
    EXPECT_FALSE(p->EnableBox()->isChecked());
    EXPECT_FALSE(Ch(2).mode->isEnabled());
    EXPECT_FALSE(p->ModeSetButton()->isEnabled());
    EXPECT_EQ(Mode(2), 0);
    EXPECT_EQ(Unit(2), "mA");
    EXPECT_TRUE(rig.sink.frames.empty());
}

TEST_P(AnalogInput, UserChoiceSetsTheUnitAndGovernsTheNextConversion) {
    p->EnableBox()->click();
    UserPicks(3, 1);
    EXPECT_EQ(Unit(3), "V");
    UserPicks(3, 0);
    EXPECT_EQ(Unit(3), "mA");
    // A selection by program does not run the change handler.
    Ch(4).mode->setCurrentIndex(1);
    EXPECT_EQ(Unit(4), "mA");
    EXPECT_TRUE(rig.sink.frames.empty());  // the module learns nothing
}

TEST_P(AnalogInput, RequestsRtuAndAscii) {
    p->ModeReadButton()->click();
    EXPECT_EQ(rig.LastSent(), (ByteString{0x01, 0x03, 0x00, 0x06, 0x00, 0x08, 0xA4, 0x0D}));
    EXPECT_EQ(rig.St().Modbus_Reg_Addr, 6);
    p->DataReadButton()->click();
    EXPECT_EQ(rig.LastSent(), c.dataRequest);
    EXPECT_EQ(rig.St().Modbus_Reg_Addr, 0);

    rig.protocol.index = kProtocolAscii;
    p->ModeReadButton()->click();
    EXPECT_EQ(rig.LastSent(), Ascii(":010300060008EE\r\n"));
    p->DataReadButton()->click();
    EXPECT_EQ(rig.LastSent(), Ascii(c.dataRequestAscii));
}

TEST_P(AnalogInput, ModeReadClearsTheListsButNotTheUnits) {
    p->EnableBox()->click();
    UserPicks(5, 1);
    p->ModeReadButton()->click();
    for (int ch = 0; ch < 8; ++ch) EXPECT_EQ(Mode(ch), -1) << ch;
    EXPECT_EQ(Unit(5), "V");
    EXPECT_EQ(Unit(0), "mA");
}

TEST_P(AnalogInput, ModeRepliesThatMustBeIgnored) {
    p->ModeReadClick();
    // Byte count other than 16.
    rig.Receive({0x01, 0x03, 0x02, 0x00, 0x31});
    // Announces 16 data bytes, carries 4.
    rig.Receive({0x01, 0x03, 0x10, 0x00, 0x31, 0x00, 0x31});
    // Exception reply.
    rig.Receive({0x01, 0x83, 0x02});
    // Right reply, judged against a later request's register.
    rig.master.Modbus_Send_oneWord(3, 0, 8);
    rig.Receive(ModeReply({0x31, 0x31, 0x31, 0x31, 0x31, 0x31, 0x31, 0x31}));
    for (int ch = 0; ch < 8; ++ch) {
        EXPECT_EQ(Mode(ch), -1) << ch;
        EXPECT_EQ(Unit(ch), "mA") << ch;
    }
}

TEST_P(AnalogInput, DataRepliesThatMustBeIgnored) {
    p->DataReadClick();
    const int n = p->Model().DataByteCount();
    ByteString full = {0x01, 0x04, static_cast<std::uint8_t>(n)};
    for (int i = 0; i < n; ++i) full.push_back(0x11);
    ByteString wrongCount = full;
    wrongCount[2] = static_cast<std::uint8_t>(n == 24 ? 16 : 24);
    ByteString shortFrame(full.begin(), full.end() - 2);  // two data bytes short
    rig.Receive(wrongCount);
    rig.Receive(shortFrame);
    rig.Receive({0x01, 0x84, 0x02});
    for (int ch = 0; ch < 8; ++ch) {
        EXPECT_EQ(Ch(ch).raw->text(), "0") << ch;
        EXPECT_EQ(Ch(ch).value->text(), "0") << ch;
    }
    rig.Receive(full);
    EXPECT_NE(Ch(7).raw->text(), "0") << "the complete frame is shown";
}

TEST_P(AnalogInput, ModeWriteSendsTheEightCodesAndIsConfirmed) {
    p->EnableBox()->click();
    const int entries = static_cast<int>(c.labels.size());
    ByteString body = {0x01, 0x10, 0x00, 0x06, 0x00, 0x08, 0x10};
    for (int ch = 0; ch < 8; ++ch) {
        UserPicks(ch, ch % entries);
        body.push_back(0x00);
        body.push_back(static_cast<std::uint8_t>(0x30 + ch % entries));
    }
    p->ModeSetButton()->click();
    EXPECT_EQ(rig.LastSent(), FrameRtu(body));
    EXPECT_EQ(rig.St().Modbus_Reg_Addr, 6);
    EXPECT_TRUE(rig.boxes.boxes.empty());

    rig.Receive({0x01, 0x10, 0x00, 0x06, 0x00, 0x08});
    ASSERT_EQ(rig.boxes.boxes.size(), 1u);
    EXPECT_EQ(rig.boxes.boxes[0].title, QStringLiteral("提示"));
    EXPECT_EQ(rig.boxes.boxes[0].text, QStringLiteral("8通道模式参数配置成功！"));
    EXPECT_EQ(rig.boxes.boxes[0].icon, MsgIcon::Information);

    // The write of register 3 shows the communication message instead, and a
    // function-16 reply to any other register nothing.
    rig.boxes.Clear();
    rig.St().Modbus_Reg_Addr = 3;
    rig.Receive({0x01, 0x10, 0x00, 0x06, 0x00, 0x08});
    ASSERT_EQ(rig.boxes.boxes.size(), 1u);
    EXPECT_EQ(rig.boxes.boxes[0].text, QStringLiteral("通讯参数配置成功！"));
    rig.boxes.Clear();
    rig.St().Modbus_Reg_Addr = 7;
    rig.Receive({0x01, 0x10, 0x00, 0x06, 0x00, 0x08});
    EXPECT_TRUE(rig.boxes.boxes.empty());
}

TEST_P(AnalogInput, ModeWriteWithAListWithoutSelectionIsRefused) {
    p->EnableBox()->click();
    p->ModeReadButton()->click();  // no valid reply follows
    rig.sink.frames.clear();
    p->ModeSetButton()->click();
    EXPECT_TRUE(rig.sink.frames.empty());
    ASSERT_EQ(rig.boxes.boxes.size(), 1u);
    EXPECT_EQ(rig.boxes.boxes[0].title, QStringLiteral("提示"));
    EXPECT_EQ(rig.boxes.boxes[0].icon, MsgIcon::Warning);
    EXPECT_EQ(rig.boxes.boxes[0].text,
              QStringLiteral("CH0、CH1、CH2、CH3、CH4、CH5、CH6、CH7未选择模式，请先选择模式！"));

    for (int ch = 0; ch < 8; ++ch)
        if (ch != 3) UserPicks(ch, 0);
    rig.boxes.Clear();
    p->ModeSetButton()->click();
    EXPECT_TRUE(rig.sink.frames.empty());
    ASSERT_EQ(rig.boxes.boxes.size(), 1u);
    EXPECT_EQ(rig.boxes.boxes[0].text, QStringLiteral("CH3未选择模式，请先选择模式！"));

    UserPicks(3, 1);
    p->ModeSetButton()->click();
    EXPECT_EQ(rig.sink.frames.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(BothPanels, AnalogInput, ::testing::Values(k8AD, k8AS),
                         [](const auto& info) { return std::string(info.param.tag); });

TEST(AnalogInput8AD, CountsConvertedToTheCharacter) {
    ModuleRig rig;
    auto* p = rig.panels.Pnl_8AD;
    rig.Select("KELM-8AD", 1);
    p->EnableBox()->click();
    struct Case {
        int mode;
        std::uint32_t count;
        const char* text;
    };
    const std::array<Case, 8> cases = {{
        {0, 97535, "10.0000"},  // bytes 01 7C FF
        {1, 33535, "-5.0000"},
        {7, 129535, "0.150000"},
        {2, 65536, "0.00008"},
        {0, 0, "-20.4797"},
        {6, 65536, "0.000005"},
        {0, 65539, "0.0013"},  // 0.00125: between two steps, rounded away from zero
        {7, 0xFFFFFF, "39.168000"},
    }};
    std::array<std::uint32_t, 8> counts{};
    for (int ch = 0; ch < 8; ++ch) {
        p->Ch(ch).mode->setCurrentIndex(cases[ch].mode);
        counts[ch] = cases[ch].count;
    }
    p->DataReadButton()->click();
    const ByteString reply = DataReply(3, counts);
    ASSERT_EQ((ByteString(reply.begin() + 3, reply.begin() + 6)), (ByteString{0x01, 0x7C, 0xFF}));
    rig.Receive(reply);
    for (int ch = 0; ch < 8; ++ch) {
        EXPECT_EQ(p->Ch(ch).raw->text(), QString::number(cases[ch].count)) << ch;
        EXPECT_EQ(p->Ch(ch).value->text(), cases[ch].text) << ch;
        EXPECT_EQ(p->Ch(ch).unit->text(), "mA") << "the data reply leaves the units alone";
    }

    // The whole range of a ±20mA channel, one count either side of zero.
    EXPECT_EQ(AnalogValueText(kAnalogInput8AD, 65534, 0, 64000), "-0.0003");
    EXPECT_EQ(AnalogValueText(kAnalogInput8AD, 65531, 0, 64000), "-0.0013");
    EXPECT_EQ(AnalogValueText(kAnalogInput8AD, 65535, 5, 64000), "0.00000");
    EXPECT_EQ(AnalogValueText(kAnalogInput8AD, 1535, 3, 64000), "-2.50000");
}

TEST(AnalogInput8AD, ModeReplyAppliesOnlyWhenAllEightAreInRange) {
    ModuleRig rig;
    auto* p = rig.panels.Pnl_8AD;
    rig.Select("KELM-8AD", 1);
    // One register outside 0x0030-0x0037: nothing changes, units included.
    const std::array<std::uint16_t, 8> outside[] = {
        {0x31, 0x31, 0x31, 0x31, 0x31, 0x31, 0x31, 0x38},
        {0x2F, 0x31, 0x31, 0x31, 0x31, 0x31, 0x31, 0x31},
        {0x31, 0x31, 0x31, 0x0131, 0x31, 0x31, 0x31, 0x31},  // low byte in range, register not
    };
    for (const auto& regs : outside) {
        p->ModeReadClick();
        rig.Receive(ModeReply(regs));
        for (int ch = 0; ch < 8; ++ch) {
            EXPECT_EQ(p->Ch(ch).mode->currentIndex(), -1) << ch;
            EXPECT_EQ(p->Ch(ch).unit->text(), "mA") << ch;
        }
    }
    // A data reply now shows every count as it came.
    rig.master.Modbus_Send_oneWord(4, 0, 12);
    rig.Receive(DataReply(3, {97535, 0, 1, 65535, 65536, 129535, 1535, 0xFFFFFF}));
    EXPECT_EQ(p->Ch(0).value->text(), "97535");
    EXPECT_EQ(p->Ch(1).value->text(), "0");
    EXPECT_EQ(p->Ch(7).value->text(), "16777215");

    p->ModeReadClick();
    rig.Receive(ModeReply({0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37}));
    for (int ch = 0; ch < 8; ++ch) {
        EXPECT_EQ(p->Ch(ch).mode->currentIndex(), ch);
        EXPECT_EQ(p->Ch(ch).unit->text(), ch == 0 ? "mA" : "V");
    }
}

TEST(AnalogInput8AS, SameCountSixteenTimesApartOnThe8ASAndThe8ASP) {
    ModuleRig rig;
    auto* p = rig.panels.Pnl_8AS;
    struct Case {
        const char* model;
        int mode;  // -1: no selection
        std::uint16_t count;
        const char* text;
    };
    const Case cases[] = {
        {"KELM-8AS", 0, 2000, "10.000"},   {"KELM-8ASP", 0, 2000, "0.625"},
        {"KELM-8ASP", 1, 12345, "1.929"},  {"KELM-8AS", 1, 12345, "30.863"},
        {"KELM-8AS", 0, 65535, "327.675"}, {"KELM-8ASP", 1, 0, "0.000"},
        {"KELM-8AS", -1, 2000, "0.500"},   // unscaled: count / 4000
        {"KELM-8ASP", -1, 2000, "0.031"},  // count / 64000
    };
    for (const Case& c : cases) {
        rig.Select(c.model, 1);
        for (int ch = 0; ch < 8; ++ch) p->Ch(ch).mode->setCurrentIndex(c.mode);
        p->DataReadClick();
        std::array<std::uint32_t, 8> counts;
        counts.fill(c.count);
        rig.Receive(DataReply(2, counts));
        for (int ch = 0; ch < 8; ++ch) {
            EXPECT_EQ(p->Ch(ch).raw->text(), QString::number(c.count));
            EXPECT_EQ(p->Ch(ch).value->text(), c.text) << c.model << " " << c.mode;
        }
    }
}

TEST(AnalogInput8AS, ModeReplyAppliesRegisterByRegister) {
    ModuleRig rig;
    auto* p = rig.panels.Pnl_8AS;
    rig.Select("KELM-8ASP", 1);
    p->ModeReadClick();
    rig.Receive(ModeReply({0x31, 0x31, 0x31, 0x31, 0x31, 0x31, 0x31, 0x38}));
    for (int ch = 0; ch < 7; ++ch) EXPECT_EQ(p->Ch(ch).mode->currentText(), QStringLiteral("电压"));
    EXPECT_EQ(p->Ch(7).mode->currentIndex(), -1);
    for (int ch = 0; ch < 8; ++ch) EXPECT_EQ(p->Ch(ch).unit->text(), "V") << ch;

    rig.Receive(ModeReply({0x30, 0x00, 0x0130, 0xFFFF, 0x31, 0x32, 0x2F, 0x30}));
    const int expected[] = {0, -1, -1, -1, 1, -1, -1, 0};
    for (int ch = 0; ch < 8; ++ch) {
        EXPECT_EQ(p->Ch(ch).mode->currentIndex(), expected[ch]) << ch;
        EXPECT_EQ(p->Ch(ch).unit->text(), expected[ch] == 0 ? "mA" : "V") << ch;
    }
}

// The handlers by their names, on both panels, each doing its control's work.
template <typename Panel>
void ExpectNamedHandlers(ModuleRig& rig, Panel& p, const char* model, void (Panel::*enable)(),
                         void (Panel::*modeRead)(), void (Panel::*modeSet)(),
                         void (Panel::*dataRead)(), const std::array<void (Panel::*)(), 8>& change,
                         std::uint8_t registers) {
    SCOPED_TRACE(model);
    ASSERT_EQ(rig.Select(model, 2), &p);
    {
        const QSignalBlocker quiet(p.EnableBox());
        p.EnableBox()->setChecked(true);
    }
    EXPECT_FALSE(p.ModeSetButton()->isEnabled());
    (p.*enable)();
    EXPECT_TRUE(p.ModeSetButton()->isEnabled());
    for (int ch = 0; ch < 8; ++ch) {
        p.Ch(ch).mode->setCurrentIndex(1);  // by program: no handler
        ASSERT_EQ(p.Ch(ch).unit->text(), "mA");
        (p.*change[static_cast<std::size_t>(ch)])();
        EXPECT_EQ(p.Ch(ch).unit->text(), "V") << ch;
    }
    (p.*modeSet)();
    ByteString set{0x02, 0x10, 0x00, 0x06, 0x00, 0x08, 0x10};
    for (int ch = 0; ch < 8; ++ch) set.insert(set.end(), {0x00, 0x31});
    EXPECT_EQ(rig.LastSent(), FrameRtu(set));
    (p.*modeRead)();
    EXPECT_EQ(rig.LastSent(), FrameRtu({0x02, 0x03, 0x00, 0x06, 0x00, 0x08}));
    EXPECT_EQ(p.Ch(0).mode->currentIndex(), -1);
    p.Ch(5).raw->setText("7");
    (p.*dataRead)();
    EXPECT_EQ(rig.LastSent(), FrameRtu({0x02, 0x04, 0x00, 0x00, 0x00, registers}));
    EXPECT_EQ(p.Ch(5).raw->text(), "0");
}

TEST(AnalogInputHandlers, NamedHandlersOfBothPanels) {
    ModuleRig rig;
    ExpectNamedHandlers<TPnl8AD>(rig, *rig.panels.Pnl_8AD, "KELM-8AD",
                                 &TPnl8AD::CheckBox8AD_VI_EnableClick,
                                 &TPnl8AD::Btn8AD_Mode_ReadClick, &TPnl8AD::Btn8AD_Mode_SetClick,
                                 &TPnl8AD::Btn8AD_CH_ReadClick,
                                 {&TPnl8AD::Cmb8AD_VI_CH0Change, &TPnl8AD::Cmb8AD_VI_CH1Change,
                                  &TPnl8AD::Cmb8AD_VI_CH2Change, &TPnl8AD::Cmb8AD_VI_CH3Change,
                                  &TPnl8AD::Cmb8AD_VI_CH4Change, &TPnl8AD::Cmb8AD_VI_CH5Change,
                                  &TPnl8AD::Cmb8AD_VI_CH6Change, &TPnl8AD::Cmb8AD_VI_CH7Change},
                                 12);
    ExpectNamedHandlers<TPnl8AS>(rig, *rig.panels.Pnl_8AS, "KELM-8AS",
                                 &TPnl8AS::CheckBox8AS_VI_EnableClick,
                                 &TPnl8AS::Btn8AS_Mode_ReadClick, &TPnl8AS::Btn8AS_Mode_SetClick,
                                 &TPnl8AS::Btn8AS_CH_ReadClick,
                                 {&TPnl8AS::Cmb8AS_VI_CH0Change, &TPnl8AS::Cmb8AS_VI_CH1Change,
                                  &TPnl8AS::Cmb8AS_VI_CH2Change, &TPnl8AS::Cmb8AS_VI_CH3Change,
                                  &TPnl8AS::Cmb8AS_VI_CH4Change, &TPnl8AS::Cmb8AS_VI_CH5Change,
                                  &TPnl8AS::Cmb8AS_VI_CH6Change, &TPnl8AS::Cmb8AS_VI_CH7Change},
                                 8);
}

}  // namespace
}  // namespace kelm::test
