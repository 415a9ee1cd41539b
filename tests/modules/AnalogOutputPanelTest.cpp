// The KELM-2AO panel: its controls, the mode choices, the bar and the value
// box following each other, the requests byte for byte, the read reply
// (modes first, then values) and the confirmations.
#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <string>

#include "ModuleRig.h"

namespace kelm::test {
namespace {

using AoMode = TPnl2AO::AoMode;

ByteString Ascii(const std::string& s) {
    return ByteString(s.begin(), s.end());
}

// The user clicks one of the bar's arrows.
void ClickArrow(QScrollBar* bar, bool up) {
    bar->resize(200, 20);
    QTest::mouseClick(bar, Qt::LeftButton, {}, QPoint(up ? bar->width() - 3 : 3, 10));
}

// The user opens the bar's own context menu at x and, once it is up, does
// `inMenu` (the program may act meanwhile: replies keep arriving), then picks
// `entry` ("" closes the menu without a choice).
void ContextMenu(QScrollBar* bar, int x, const QString& entry,
                 const std::function<void()>& inMenu = {}) {
    bar->resize(200, 20);
    bool seen = false;
    QElapsedTimer waited;
    waited.start();
    auto* poll = new QTimer(bar);
    QObject::connect(poll, &QTimer::timeout, bar, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) {
            if (waited.elapsed() > 20000) poll->stop();  // never came up: the test fails below
            return;
        }
        poll->stop();
        seen = true;
        if (inMenu) inMenu();
        QAction* pick = nullptr;
        for (QAction* a : menu->actions())
            if (!entry.isEmpty() && a->text() == entry) pick = a;
        if (!entry.isEmpty() && !pick) ADD_FAILURE() << "no entry " << entry.toStdString();
        if (pick) {
            menu->setActiveAction(pick);
            QTest::keyClick(menu, Qt::Key_Return);
        } else {
            QTest::keyClick(menu, Qt::Key_Escape);
        }
    });
    poll->start(10);
    const QPoint at(x, 10);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, bar->mapToGlobal(at));
    QApplication::sendEvent(bar, &event);
    delete poll;
    EXPECT_TRUE(seen) << "the context menu did not come up";
}

class AnalogOutput : public ::testing::Test {
  protected:
    ModuleRig rig;
    TPnl2AO& p = *rig.panels.Pnl_2AO;

    void SetUp() override { ASSERT_EQ(rig.Select("KELM-2AO", 1), &p); }

    const TPnl2AO::Channel& Ch(int ch) const { return p.Ch(ch); }
    QString Box(int ch) const { return Ch(ch).value->text(); }
    int Bar(int ch) const { return Ch(ch).bar->value(); }
    void ExpectRange(int ch, int min, int max) const {
        EXPECT_EQ(Ch(ch).bar->minimum(), min) << "AO" << ch;
        EXPECT_EQ(Ch(ch).bar->maximum(), max) << "AO" << ch;
    }
    // The read reply for the given mode registers and values.
    void ReadReply(std::uint16_t mode0, std::uint16_t mode1, std::uint16_t v0, std::uint16_t v1) {
        rig.Receive({0x01, 0x03, 0x08, static_cast<std::uint8_t>(mode0 >> 8),
                     static_cast<std::uint8_t>(mode0), static_cast<std::uint8_t>(mode1 >> 8),
                     static_cast<std::uint8_t>(mode1), static_cast<std::uint8_t>(v0 >> 8),
                     static_cast<std::uint8_t>(v0), static_cast<std::uint8_t>(v1 >> 8),
                     static_cast<std::uint8_t>(v1)});
    }
};

TEST(AnalogOutputCreation, ControlsAsTheFormCreatesThem) {
    ModuleRig rig;  // no module selected: the panel as created, before any reset
    TPnl2AO& p = *rig.panels.Pnl_2AO;
    ASSERT_NE(p.findChild<QGroupBox*>("Gro2AO_menu"), nullptr);
    const char* groups[] = {"GroupBox_ctrlAO0", "GroupBox2"};
    for (int ch = 0; ch < 2; ++ch) {
        const TPnl2AO::Channel& c = p.Ch(ch);
        const QString n = QString::number(ch);
        EXPECT_EQ(c.group->objectName(), groups[ch]);
        EXPECT_EQ(c.group->title(), "AO" + n + ":");
        EXPECT_EQ(c.group->parent(), p.Menu());
        EXPECT_EQ(c.mode0->objectName(), "RdB_AO" + n + "_Mode0");
        EXPECT_EQ(c.mode0->text(), "4-20mA");
        EXPECT_EQ(c.mode1->objectName(), "RdB_AO" + n + "_Mode1");
        EXPECT_EQ(c.mode1->text(), "0-10V");
        EXPECT_TRUE(c.mode0->isChecked());
        EXPECT_FALSE(c.mode1->isChecked());
        EXPECT_EQ(c.bar->objectName(), "ScrollBar_AO" + n);
        EXPECT_EQ(c.bar->orientation(), Qt::Horizontal);
        EXPECT_EQ(c.bar->minimum(), 0);
        EXPECT_EQ(c.bar->maximum(), 100);
        EXPECT_EQ(c.bar->value(), 0);
        EXPECT_EQ(c.bar->singleStep(), 1);
        EXPECT_EQ(c.bar->pageStep(), 1);
        EXPECT_EQ(c.value->objectName(), "Edit_AO" + n);
        EXPECT_EQ(c.value->text(), "0");
        EXPECT_FALSE(c.value->isEnabled());
        EXPECT_EQ(c.unit->objectName(), "Label_AO" + n + "_unit");
        EXPECT_EQ(c.unit->text(), "uA");
        EXPECT_EQ(c.write->objectName(), "SBtn_Write_AO" + n);
        EXPECT_EQ(c.write->text(), QStringLiteral("写入AO%1数据").arg(ch));
        QStringList labels;
        for (QLabel* l : c.group->findChildren<QLabel*>()) labels << l->text();
        EXPECT_TRUE(labels.contains(QStringLiteral("模式：")));
        EXPECT_TRUE(labels.contains(QStringLiteral("当前值：")));
    }
    EXPECT_EQ(p.WriteDataButton()->objectName(), "SBtn_AO_Write_Data");
    EXPECT_EQ(p.WriteDataButton()->text(), QStringLiteral("写两路AO数据"));
    EXPECT_EQ(p.WriteModeButton()->objectName(), "SBtn_AO_Write_Mode");
    EXPECT_EQ(p.WriteModeButton()->text(), QStringLiteral("写两路AO模式"));
    EXPECT_EQ(p.ReadModeButton()->objectName(), "SBtn_AO_Read_Mode");
    EXPECT_EQ(p.ReadModeButton()->text(), QStringLiteral("读两路AO模式及数据"));
    // The three panel buttons in this order, after the two channel groups.
    const QObjectList& kids = p.Menu()->children();
    EXPECT_LT(kids.indexOf(p.Ch(1).group), kids.indexOf(p.WriteDataButton()));
    EXPECT_LT(kids.indexOf(p.WriteDataButton()), kids.indexOf(p.WriteModeButton()));
    EXPECT_LT(kids.indexOf(p.WriteModeButton()), kids.indexOf(p.ReadModeButton()));
    EXPECT_TRUE(rig.sink.frames.empty());
}

TEST_F(AnalogOutput, ResetClearsModesValuesAndUnitsButKeepsTheRange) {
    for (int ch = 0; ch < 2; ++ch) {
        EXPECT_FALSE(Ch(ch).mode0->isChecked());
        EXPECT_FALSE(Ch(ch).mode1->isChecked());
        EXPECT_EQ(Box(ch), "0");
        EXPECT_TRUE(Ch(ch).unit->text().isEmpty());
        ExpectRange(ch, 0, 100);  // no mode has been chosen yet
    }
    Ch(0).mode0->click();
    Ch(0).value->setText("9000");
    Ch(1).mode1->click();
    p.Pnl2AO_Default();
    EXPECT_FALSE(Ch(0).mode0->isChecked());
    EXPECT_EQ(Box(0), "0");
    EXPECT_EQ(Bar(0), 4000) << "position 0 is raised to the current-mode minimum";
    ExpectRange(0, 4000, 20000);
    ExpectRange(1, 0, 10000);
    EXPECT_TRUE(Ch(0).unit->text().isEmpty());
    EXPECT_TRUE(rig.sink.frames.empty());
}

TEST_F(AnalogOutput, ModeChoicesSetRangeValueAndUnit) {
    for (int ch = 0; ch < 2; ++ch) {
        Ch(ch).mode0->click();
        ExpectRange(ch, 4000, 20000);
        EXPECT_EQ(Bar(ch), 4000);
        EXPECT_EQ(Box(ch), "4000");
        EXPECT_EQ(Ch(ch).unit->text(), "uA");

        ClickArrow(Ch(ch).bar, true);
        EXPECT_EQ(Box(ch), "4001");
        Ch(ch).mode1->click();
        ExpectRange(ch, 0, 10000);
        EXPECT_EQ(Bar(ch), 0);
        EXPECT_EQ(Box(ch), "0");
        EXPECT_EQ(Ch(ch).unit->text(), "mV");

        // Clicking the mode already chosen is no new choice.
        Ch(ch).value->setText("700");
        Ch(ch).mode1->click();
        EXPECT_EQ(Box(ch), "700");
    }
    // The other channel was not touched by AO0's choices.
    EXPECT_TRUE(rig.sink.frames.empty());
}

TEST_F(AnalogOutput, UserScrollWritesTheBoxProgramMovesDoNot) {
    Ch(0).mode1->click();
    QScrollBar* bar = Ch(0).bar;
    bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(Box(0), "1");
    bar->triggerAction(QAbstractSlider::SliderToMaximum);
    EXPECT_EQ(Box(0), "10000");
    ClickArrow(bar, false);
    EXPECT_EQ(Box(0), "9999");
    // A drag: the box follows the slider while pressed and ends at its position.
    bar->setSliderDown(true);
    bar->setSliderPosition(2500);
    EXPECT_EQ(Box(0), "2500");
    bar->setSliderDown(false);
    EXPECT_EQ(Box(0), "2500");
    EXPECT_EQ(bar->value(), 2500);

    bar->setValue(300);  // by program
    EXPECT_EQ(Box(0), "2500");
    EXPECT_EQ(Box(1), "0");
}

TEST_F(AnalogOutput, ValueBoxMovesTheBarWithinItsRange) {
    struct Case {
        AoMode mode;
        const char* text;
        int bar;  // expected position, from a start of 5000
    };
    const Case cases[] = {
        {AoMode::Current, "12000", 12000}, {AoMode::Current, "20000", 20000},
        {AoMode::Current, "20001", 5000},  // above the maximum: the bar stays
        {AoMode::Current, "100", 4000},    // below the minimum: at the minimum
        {AoMode::Current, "0", 4000},      {AoMode::Current, "70000", 4464},  // low 16 bits
        {AoMode::Voltage, "65536", 0},                                        // low 16 bits: 0
        {AoMode::Voltage, "15000", 5000},  {AoMode::Voltage, "10000", 10000},
    };
    for (const Case& c : cases) {
        p.ModeClick(0, c.mode);
        Ch(0).value->setText("5000");
        ASSERT_EQ(Bar(0), 5000);
        Ch(0).value->setText(c.text);
        EXPECT_EQ(Bar(0), c.bar) << c.text;
        EXPECT_EQ(Box(0), c.text) << "the box is never rewritten by its own handler";
    }
}

TEST_F(AnalogOutput, ReadSendsAfterClearingModesAndValues) {
    Ch(0).mode0->click();
    Ch(1).mode1->click();
    Ch(1).value->setText("1234");
    p.ReadModeButton()->click();
    EXPECT_EQ(rig.LastSent(), (ByteString{0x01, 0x03, 0x00, 0x06, 0x00, 0x04, 0xA4, 0x08}));
    EXPECT_EQ(rig.St().Modbus_Reg_Addr, 6);
    for (int ch = 0; ch < 2; ++ch) {
        EXPECT_FALSE(Ch(ch).mode0->isChecked());
        EXPECT_FALSE(Ch(ch).mode1->isChecked());
        EXPECT_EQ(Box(ch), "0");
    }
    rig.protocol.index = kProtocolAscii;
    p.ReadModeButton()->click();
    EXPECT_EQ(rig.LastSent(), Ascii(":010300060004F2\r\n"));
}

TEST_F(AnalogOutput, ReadReplySelectsModesFirstThenShowsValues) {
    struct Case {
        std::uint16_t mode;
        std::uint16_t value;
        bool current;
        int bar;
        const char* unit;
    };
    const Case cases[] = {
        {0x0030, 12000, true, 12000, "uA"},  // not the mode handler's 4000
        {0x0030, 0, true, 4000, "uA"},
        {0x0031, 15000, false, 0, "mV"},  // above the range: the bar stays at 0
        {0x0031, 7500, false, 7500, "mV"},
        {0x0000, 5000, false, 5000, "mV"},
        {0x0032, 65535, false, 0, "mV"},
        {0x3030, 9000, false, 9000, "mV"},  // only 0x0030 is current
    };
    for (const Case& c : cases) {
        p.ReadModeClick();
        ReadReply(c.mode, 0x0030, c.value, 4321);
        EXPECT_EQ(Ch(0).mode0->isChecked(), c.current) << c.mode;
        EXPECT_EQ(Ch(0).mode1->isChecked(), !c.current) << c.mode;
        EXPECT_EQ(Box(0), QString::number(c.value));
        EXPECT_EQ(Bar(0), c.bar) << c.mode << " " << c.value;
        EXPECT_EQ(Ch(0).unit->text(), c.unit);
        ExpectRange(0, c.current ? 4000 : 0, c.current ? 20000 : 10000);
        EXPECT_TRUE(Ch(1).mode0->isChecked());
        EXPECT_EQ(Box(1), "4321");
        EXPECT_EQ(Bar(1), 4321);
    }
    EXPECT_TRUE(rig.boxes.boxes.empty());
}

TEST_F(AnalogOutput, ReadRepliesThatMustBeIgnored) {
    p.ReadModeClick();
    // Byte count other than 8.
    rig.Receive({0x01, 0x03, 0x04, 0x00, 0x30, 0x00, 0x31});
    // Announces 8 data bytes, carries 6.
    rig.Receive({0x01, 0x03, 0x08, 0x00, 0x30, 0x00, 0x31, 0x2E, 0xE0});
    // Exception reply.
    rig.Receive({0x01, 0x83, 0x02});
    // The right reply judged against a later request's register.
    rig.master.Modbus_Send_oneWord(3, 8, 4);
    ReadReply(0x0030, 0x0031, 12000, 5000);
    for (int ch = 0; ch < 2; ++ch) {
        EXPECT_FALSE(Ch(ch).mode0->isChecked());
        EXPECT_FALSE(Ch(ch).mode1->isChecked());
        EXPECT_EQ(Box(ch), "0");
    }
}

TEST_F(AnalogOutput, WriteModesOnlyWithBothChosen) {
    p.WriteModeButton()->click();  // right after selecting the module
    Ch(0).mode0->click();
    p.WriteModeButton()->click();  // AO1 still without a mode
    EXPECT_TRUE(rig.sink.frames.empty());
    EXPECT_TRUE(rig.boxes.boxes.empty());

    Ch(1).mode1->click();
    p.WriteModeButton()->click();
    EXPECT_EQ(rig.LastSent(), (ByteString{0x01, 0x10, 0x00, 0x06, 0x00, 0x02, 0x04, 0x00, 0x30,
                                          0x00, 0x31, 0xB2, 0x5E}));
    EXPECT_EQ(rig.St().Modbus_Reg_Addr, 6);
    rig.protocol.index = kProtocolAscii;
    p.WriteModeButton()->click();
    EXPECT_EQ(rig.LastSent(), Ascii(":011000060002040030003182\r\n"));
}

TEST_F(AnalogOutput, WriteValuesAsTheBoxesShowThem) {
    // Not compared with the modes: 12000 goes out even in voltage mode.
    Ch(0).mode1->click();
    Ch(0).value->setText("12000");
    Ch(1).value->setText("5000");
    p.WriteDataButton()->click();
    EXPECT_EQ(rig.LastSent(), (ByteString{0x01, 0x10, 0x00, 0x08, 0x00, 0x02, 0x04, 0x2E, 0xE0,
                                          0x13, 0x88, 0xF7, 0x81}));
    EXPECT_EQ(rig.St().Modbus_Reg_Addr, 8);
    Ch(0).write->click();
    EXPECT_EQ(rig.LastSent(), (ByteString{0x01, 0x06, 0x00, 0x08, 0x2E, 0xE0, 0x14, 0x20}));
    EXPECT_EQ(rig.St().Modbus_Reg_Addr, 8);
    Ch(1).write->click();
    EXPECT_EQ(rig.LastSent(), (ByteString{0x01, 0x06, 0x00, 0x09, 0x13, 0x88, 0x54, 0x9E}));
    EXPECT_EQ(rig.St().Modbus_Reg_Addr, 9);

    rig.protocol.index = kProtocolAscii;
    p.WriteDataButton()->click();
    EXPECT_EQ(rig.LastSent(), Ascii(":011000080002042EE0138838\r\n"));
    Ch(0).write->click();
    EXPECT_EQ(rig.LastSent(), Ascii(":010600082EE0E3\r\n"));

    // Low 16 bits of what the box holds.
    rig.protocol.index = kProtocolRtu;
    Ch(0).value->setText("70000");
    Ch(0).write->click();
    EXPECT_EQ(rig.LastSent(), FrameRtu({0x01, 0x06, 0x00, 0x08, 0x11, 0x70}));
    EXPECT_TRUE(rig.boxes.boxes.empty());
}

TEST_F(AnalogOutput, ABoxThatIsNoNumberStopsTheWrite) {
    Ch(1).value->setText("");
    p.WriteDataButton()->click();
    Ch(1).write->click();
    EXPECT_TRUE(rig.sink.frames.empty());
    ASSERT_EQ(rig.boxes.boxes.size(), 2u);
    EXPECT_TRUE(rig.boxes.boxes[0].conversionError);
}

TEST_F(AnalogOutput, ConfirmationsByFunctionAndRegister) {
    struct Case {
        std::uint8_t fc;
        std::uint16_t reg;  // Modbus_Reg_Addr of the last request
        const char* text;   // nullptr: nothing shown
    };
    const Case cases[] = {
        {16, 6, "两路AO模式配置成功！"},
        {16, 8, "两路AO数据更新成功！"},
        {6, 8, "AO0数据更新成功！"},
        {6, 9, "AO1数据更新成功！"},
        {16, 3, "通讯参数配置成功！"},
        {6, 6, nullptr},
        {16, 7, nullptr},
        {16, 9, nullptr},
        {6, 7, nullptr},
    };
    for (const Case& c : cases) {
        rig.boxes.Clear();
        rig.St().Modbus_Reg_Addr = c.reg;
        // The echo's own register field is not what tells the replies apart.
        rig.Receive({0x01, c.fc, 0x00, 0x00, 0x00, 0x01});
        if (!c.text) {
            EXPECT_TRUE(rig.boxes.boxes.empty()) << int(c.fc) << " @" << c.reg;
            continue;
        }
        ASSERT_EQ(rig.boxes.boxes.size(), 1u) << int(c.fc) << " @" << c.reg;
        EXPECT_EQ(rig.boxes.boxes[0].title, QStringLiteral("提示"));
        EXPECT_EQ(rig.boxes.boxes[0].text, QString::fromUtf8(c.text));
        EXPECT_EQ(rig.boxes.boxes[0].icon, MsgIcon::Information);
        EXPECT_EQ(rig.boxes.boxes[0].buttons, MsgButtons::Ok);
    }
}

// Qt's own context menu on a bar: each of its entries is a user's scroll, so
// the value box follows and the write sends what the bar shows.
TEST_F(AnalogOutput, ContextMenuMovesAreUserScrolls) {
    struct Case {
        int ch;
        AoMode mode;
        const char* entry;
        int x;
        const char* expected;  // nullptr: wherever "Scroll here" put the bar
    };
    const Case cases[] = {
        {0, AoMode::Voltage, "Scroll here", 150, nullptr},
        {1, AoMode::Current, "Scroll here", 60, nullptr},
        {0, AoMode::Voltage, "Right edge", 10, "10000"},
        {1, AoMode::Current, "Right edge", 10, "20000"},
        {1, AoMode::Current, "Left edge", 10, "4000"},
        {0, AoMode::Current, "Page right", 10, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.entry) + " AO" + std::to_string(c.ch));
        p.ModeClick(c.ch, c.mode);
        QScrollBar* bar = Ch(c.ch).bar;
        if (std::string(c.entry) == "Left edge") Ch(c.ch).value->setText("12000");
        const int before = bar->value();
        ContextMenu(bar, c.x, QString::fromUtf8(c.entry));
        ASSERT_NE(bar->value(), before) << "the entry did not move the bar";
        if (c.expected) {
            EXPECT_EQ(bar->value(), QString::fromUtf8(c.expected).toInt());
        }
        EXPECT_EQ(Box(c.ch), QString::number(bar->value()));
        Ch(c.ch).write->click();
        const auto v = static_cast<std::uint16_t>(bar->value());
        EXPECT_EQ(rig.LastSent(),
                  FrameRtu({0x01, 0x06, 0x00, static_cast<std::uint8_t>(8 + c.ch),
                            static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)}));
    }
}

TEST_F(AnalogOutput, ProgramMovesWhileTheContextMenuIsUpAreNotScrolls) {
    p.ModeClick(0, AoMode::Voltage);
    QScrollBar* bar = Ch(0).bar;
    // A read reply arrives while the menu is open; then the user closes it.
    p.ReadModeButton()->click();
    ContextMenu(bar, 150, QString(), [&] { ReadReply(0x0031, 0x0030, 7000, 9000); });
    EXPECT_EQ(Box(0), "7000");
    EXPECT_EQ(Bar(0), 7000);
    ContextMenu(bar, 150, QString(), [&] { bar->setValue(300); });
    EXPECT_EQ(Box(0), "7000") << "a move by program is no scroll";
    EXPECT_EQ(Box(1), "9000");
}

// The handlers by their names, each doing its control's work.
TEST_F(AnalogOutput, NamedHandlers) {
    p.RdB_AO0_Mode2Click();
    ExpectRange(0, 0, 10000);
    EXPECT_EQ(Ch(0).unit->text(), "mV");
    p.RdB_AO1_Mode0Click();
    ExpectRange(1, 4000, 20000);
    EXPECT_EQ(Box(1), "4000");
    p.RdB_AO0_Mode0Click();
    ExpectRange(0, 4000, 20000);
    EXPECT_EQ(Ch(0).unit->text(), "uA");
    p.RdB_AO1_Mode2Click();
    ExpectRange(1, 0, 10000);
    EXPECT_EQ(Box(1), "0");

    p.ScrollBar_AO0Scroll(12000);
    EXPECT_EQ(Box(0), "12000");
    EXPECT_EQ(Bar(0), 12000);
    p.ScrollBar_AO1Scroll(5000);
    EXPECT_EQ(Box(1), "5000");
    for (int ch = 0; ch < 2; ++ch) {
        const QSignalBlocker quiet(Ch(ch).value);
        Ch(ch).value->setText(ch == 0 ? "15000" : "6000");
    }
    p.Edit_AO0Change();
    EXPECT_EQ(Bar(0), 15000);
    p.Edit_AO1Change();
    EXPECT_EQ(Bar(1), 6000);

    p.SBtn_Write_AO0Click();
    EXPECT_EQ(rig.LastSent(), FrameRtu({0x01, 0x06, 0x00, 0x08, 0x3A, 0x98}));
    p.SBtn_Write_AO1Click();
    EXPECT_EQ(rig.LastSent(), FrameRtu({0x01, 0x06, 0x00, 0x09, 0x17, 0x70}));
    p.SBtn_AO_Write_DataClick();
    EXPECT_EQ(rig.LastSent(),
              FrameRtu({0x01, 0x10, 0x00, 0x08, 0x00, 0x02, 0x04, 0x3A, 0x98, 0x17, 0x70}));
    p.SBtn_AO_Write_ModeClick();  // a handler run by name selects no button
    EXPECT_EQ(rig.LastSent(),
              FrameRtu({0x01, 0x10, 0x00, 0x08, 0x00, 0x02, 0x04, 0x3A, 0x98, 0x17, 0x70}));
    Ch(0).mode0->setChecked(true);
    Ch(1).mode1->setChecked(true);
    p.SBtn_AO_Write_ModeClick();
    EXPECT_EQ(rig.LastSent(),
              FrameRtu({0x01, 0x10, 0x00, 0x06, 0x00, 0x02, 0x04, 0x00, 0x30, 0x00, 0x31}));
    p.SBtn_AO_Read_ModeClick();
    EXPECT_EQ(rig.LastSent(), (ByteString{0x01, 0x03, 0x00, 0x06, 0x00, 0x04, 0xA4, 0x08}));
    EXPECT_FALSE(Ch(0).mode0->isChecked());
    EXPECT_EQ(Box(0), "0");
    EXPECT_EQ(Box(1), "0");
}

}  // namespace
}  // namespace kelm::test
