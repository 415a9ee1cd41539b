// The four digital panels' controls and requests: names, captions, order and
// visibility after the reset, and every request pinned to its bytes in RTU
// and ASCII.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPixmapCache>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <functional>

#include "DigitalRig.h"
#include "gui/Pictures.h"
#include "modules/DoControlMode.h"

// The picture list's resources taken away and given back, as a build
// without its pictures would have them (at global scope: the resource
// functions are not in a namespace).
static void DropPictures() {
    (void)kelm::ImageList50x(kelm::kImgLampOff);  // loaded first, so that it can be dropped
    Q_CLEANUP_RESOURCE(pictures);
    QPixmapCache::clear();
}
static void RestorePictures() {
    Q_INIT_RESOURCE(pictures);
}

namespace kelm::test {
namespace {

QString Q(const char* s) {
    return QString::fromUtf8(s);
}

// Row and column of a lamp button or box in its column's grid.
std::pair<int, int> GridCell(const LampColumn& c, QWidget* w) {
    auto* grid = qobject_cast<QGridLayout*>(c.layout());
    int row = -1, col = -1, rs = 0, cs = 0;
    if (grid) grid->getItemPosition(grid->indexOf(w), &row, &col, &rs, &cs);
    return {row, col};
}

struct LampCase {
    const char* panel;
    const char* button;  // "Spb8i8t_di%1"
    const char* box;     // "ChB8i8t_Status_do%1" or nullptr
    int count;
    bool toggles;
    std::function<QString(int)> caption;
};

QString Padded(const char* prefix, int ch) {
    QString s = Q(prefix) + QString::number(ch);
    while (s.size() < 4) s += QLatin1Char(' ');
    return s;
}

TEST(DigitalPanels, LampButtonsAndBoxes) {
    DigitalRig d;
    const LampCase cases[] = {
        {"Pnl_8I8T", "Spb8i8t_di%1", nullptr, 8, false, [](int ch) { return Padded("DI", ch); }},
        {"Pnl_8I8T", "Spb8i8t_do%1", "ChB8i8t_Status_do%1", 8, true,
         [](int ch) { return QStringLiteral("DO%1").arg(ch); }},
        {"Pnl_16I", "Spb16i_di%1", nullptr, 16, false, [](int ch) { return Padded("DI", ch); }},
        {"Pnl_16T", "Spb16t_do%1", "ChB16t_Status_do%1", 16, true,
         [](int ch) { return Padded("DO", ch); }},
        {"Pnl_8RY", "Spb_RL%1", "ChB_Status_Rel%1", 8, true,
         [](int ch) { return QStringLiteral("RY%1").arg(ch); }},
    };
    for (const LampCase& c : cases) {
        SCOPED_TRACE(c.button);
        QWidget* panel = d.rig.stack.findChild<QWidget*>(Q(c.panel));
        ASSERT_NE(panel, nullptr);
        EXPECT_EQ(panel->findChild<QToolButton*>(Q(c.button).arg(c.count)), nullptr);
        for (int ch = 0; ch < c.count; ++ch) {
            auto* b = panel->findChild<QToolButton*>(Q(c.button).arg(ch));
            ASSERT_NE(b, nullptr) << ch;
            EXPECT_EQ(b->text(), c.caption(ch));
            EXPECT_EQ(b->isCheckable(), c.toggles);
            EXPECT_FALSE(b->isChecked());
            EXPECT_TRUE(LampDark(b));
            EXPECT_EQ(b->iconSize(), QSize(50, 50));
            EXPECT_TRUE(b->isEnabled());
            auto* column = qobject_cast<LampColumn*>(b->parentWidget());
            ASSERT_NE(column, nullptr);
            // Columns of eight, DI0-DI7 first; each box beside its button.
            const auto [row, col] = GridCell(*column, b);
            EXPECT_EQ(row, ch % 8);
            if (c.box) {
                auto* box = panel->findChild<QCheckBox*>(Q(c.box).arg(ch));
                ASSERT_NE(box, nullptr) << ch;
                EXPECT_TRUE(box->text().isEmpty());
                EXPECT_EQ(GridCell(*column, box), std::make_pair(row, col + 1));
            }
            if (ch >= 8) {
                auto* first = panel->findChild<QToolButton*>(Q(c.button).arg(ch - 8));
                EXPECT_GT(col, GridCell(*column, first).second);
            }
        }
    }
    // The relay boxes are always there; the output boxes only in their modes.
    for (int ch = 0; ch < 8; ++ch) {
        EXPECT_FALSE(d.P8ry().Relays().Box(ch)->isHidden());
        EXPECT_TRUE(d.P8i8t().Outputs().Box(ch)->isHidden());
    }
    for (int ch = 0; ch < 16; ++ch) EXPECT_TRUE(d.P16t().Outputs().Box(ch)->isHidden());
}

struct ButtonCase {
    const char* panel;
    const char* name;
    const char* caption;
    bool visibleInMode0;
};

TEST(DigitalPanels, ButtonsListsAndGroups) {
    DigitalRig d;
    const ButtonCase buttons[] = {
        {"Pnl_8I8T", "Btn8i8t_dis_read", "查询DI状态", true},
        {"Pnl_8I8T", "Btn8i8t_dos_read", "查询DO状态", true},
        {"Pnl_8I8T", "Btn8i8t_dos_ctrl", "多通道DO控制", false},
        {"Pnl_8I8T", "Btn8i8t_DO_mode_read", "查询DO模式值", false},
        {"Pnl_8I8T", "Btn8i8t_DO_mode_set", "设置DO模式值", false},
        {"Pnl_8I8T", "Btn8i8t_Info_mode_read", "查询DO初始值", false},
        {"Pnl_8I8T", "Btn8i8t_Info_mode_set", "设置DO初始值", false},
        {"Pnl_16I", "Btn16i_dis_read", "查询DI状态", true},
        {"Pnl_16T", "Btn16t_dos_read", "查询DO状态", true},
        {"Pnl_16T", "Btn16t_dos_ctrl", "多通道DO控制", false},
        {"Pnl_16T", "Btn16t_DO_mode_read", "查询DO模式值", false},
        {"Pnl_16T", "Btn16t_DO_mode_set", "设置DO模式值", false},
        {"Pnl_16T", "Btn16t_Info_mode_read", "查询DO初始值", false},
        {"Pnl_16T", "Btn16t_Info_mode_set", "设置DO初始值", false},
        {"Pnl_8RY", "Btn_Rel_status_read", "查询RY状态", true},
        {"Pnl_8RY", "Btn_Rel_status_ctrl", "多通道RY控制", true},
        {"Pnl_8RY", "Btn8R_Info_mode_set", "设置初始值", true},
        {"Pnl_8RY", "Btn8R_Info_mode_read", "查询初始值", true},
    };
    d.rig.Select("KELM-8I8T", 1);
    d.rig.Select("KELM-16T", 1);
    d.rig.Select("KELM-8RY", 1);
    for (const ButtonCase& c : buttons) {
        QWidget* panel = d.rig.stack.findChild<QWidget*>(Q(c.panel));
        auto* b = panel->findChild<QPushButton*>(Q(c.name));
        ASSERT_NE(b, nullptr) << c.name;
        EXPECT_EQ(b->text(), Q(c.caption)) << c.name;
        EXPECT_EQ(!b->isHidden(), c.visibleInMode0) << c.name;
    }
    for (const char* group : {"Gro8i8t_menu", "Gro16i_menu", "Gro16t_menu", "Gro8r_menu"})
        EXPECT_NE(d.rig.stack.findChild<QGroupBox*>(Q(group)), nullptr) << group;

    for (const char* list : {"Cmb8i8t_DO_Code_index", "Cmb16t_DO_Code_index"}) {
        auto* cmb = d.rig.stack.findChild<QComboBox*>(Q(list));
        ASSERT_NE(cmb, nullptr) << list;
        EXPECT_FALSE(cmb->isEditable());
        ASSERT_EQ(cmb->count(), 4);
        EXPECT_EQ(cmb->itemText(0), Q("DO单通道控制"));
        EXPECT_EQ(cmb->itemText(1), Q("DO多通道控制"));
        EXPECT_EQ(cmb->itemText(2), Q("DO模式配置"));
        EXPECT_EQ(cmb->itemText(3), Q("DO初始化配置"));
        EXPECT_EQ(cmb->currentIndex(), 0);
        bool labelled = false;
        for (auto* l : cmb->parentWidget()->findChildren<QLabel*>())
            labelled |= l->text() == Q("控制模式：") && l->buddy() == cmb;
        EXPECT_TRUE(labelled) << list;
    }
    EXPECT_EQ(d.rig.stack.findChild<QComboBox*>("Cmb16i_DO_Code_index"), nullptr);
}

// One request: what the user does and the frame body it sends (address 1).
struct RequestCase {
    const char* what;
    std::function<void(DigitalRig&)> act;
    ByteString body;
    std::uint16_t regAddr;
};

void Click(QWidget* root, const char* name) {
    auto* b = root->findChild<QAbstractButton*>(QString::fromUtf8(name));
    ASSERT_NE(b, nullptr) << name;
    b->click();
}

void PickMode(DoControlMode& m, int mode) {
    m.ModeList()->setCurrentIndex(mode);
    emit m.ModeList()->activated(mode);
}

const RequestCase kRequests[] = {
    // KELM-8I8T
    {"8I8T DO3 on",
     [](DigitalRig& d) { Click(&d.P8i8t(), "Spb8i8t_do3"); },
     {0x01, 0x05, 0x00, 0x03, 0xFF, 0x00},
     3},
    {"8I8T DO3 on, off",
     [](DigitalRig& d) {
         Click(&d.P8i8t(), "Spb8i8t_do3");
         Click(&d.P8i8t(), "Spb8i8t_do3");
     },
     {0x01, 0x05, 0x00, 0x03, 0x00, 0x00},
     3},
    {"8I8T DO7 named handler, button up",
     [](DigitalRig& d) { d.P8i8t().Spb8i8t_do7Click(); },
     {0x01, 0x05, 0x00, 0x07, 0x00, 0x00},
     7},
    {"8I8T DI query",
     [](DigitalRig& d) { Click(&d.P8i8t(), "Btn8i8t_dis_read"); },
     {0x01, 0x02, 0x00, 0x00, 0x00, 0x08},
     0},
    {"8I8T DO query",
     [](DigitalRig& d) { Click(&d.P8i8t(), "Btn8i8t_dos_read"); },
     {0x01, 0x01, 0x00, 0x00, 0x00, 0x08},
     0},
    {"8I8T multi-channel, boxes 0 and 7",
     [](DigitalRig& d) {
         PickMode(d.P8i8t().ControlMode(), 1);
         TickBoxes(d.P8i8t().Outputs(), 0x81);
         Click(&d.P8i8t(), "Btn8i8t_dos_ctrl");
     },
     {0x01, 0x0F, 0x00, 0x00, 0x00, 0x08, 0x01, 0x81},
     0},
    {"8I8T mode read",
     [](DigitalRig& d) {
         PickMode(d.P8i8t().ControlMode(), 2);
         Click(&d.P8i8t(), "Btn8i8t_DO_mode_read");
     },
     {0x01, 0x03, 0x00, 0x06, 0x00, 0x02},
     6},
    {"8I8T initial-value read",
     [](DigitalRig& d) {
         PickMode(d.P8i8t().ControlMode(), 3);
         Click(&d.P8i8t(), "Btn8i8t_Info_mode_read");
     },
     {0x01, 0x03, 0x00, 0x06, 0x00, 0x02},
     6},
    {"8I8T mode write, boxes 1 and 2, OK",
     [](DigitalRig& d) {
         PickMode(d.P8i8t().ControlMode(), 2);
         TickBoxes(d.P8i8t().Outputs(), 0x06);
         Click(&d.P8i8t(), "Btn8i8t_DO_mode_set");
     },
     {0x01, 0x06, 0x00, 0x07, 0x00, 0x06},
     7},
    {"8I8T initial-value write, boxes 0, 4, 7",
     [](DigitalRig& d) {
         PickMode(d.P8i8t().ControlMode(), 3);
         TickBoxes(d.P8i8t().Outputs(), 0x91);
         Click(&d.P8i8t(), "Btn8i8t_Info_mode_set");
     },
     {0x01, 0x06, 0x00, 0x06, 0x00, 0x91},
     6},
    // KELM-16I
    {"16I DI query",
     [](DigitalRig& d) { Click(&d.P16i(), "Btn16i_dis_read"); },
     {0x01, 0x02, 0x00, 0x00, 0x00, 0x10},
     0},
    // KELM-16T
    {"16T DO12 on",
     [](DigitalRig& d) { Click(&d.P16t(), "Spb16t_do12"); },
     {0x01, 0x05, 0x00, 0x0C, 0xFF, 0x00},
     12},
    {"16T DO15 named handler, button up",
     [](DigitalRig& d) { d.P16t().Spb16t_do15Click(); },
     {0x01, 0x05, 0x00, 0x0F, 0x00, 0x00},
     15},
    {"16T DO query",
     [](DigitalRig& d) { Click(&d.P16t(), "Btn16t_dos_read"); },
     {0x01, 0x01, 0x00, 0x00, 0x00, 0x10},
     0},
    {"16T multi-channel, boxes 0, 8, 15",
     [](DigitalRig& d) {
         PickMode(d.P16t().ControlMode(), 1);
         TickBoxes(d.P16t().Outputs(), 0x8101);
         Click(&d.P16t(), "Btn16t_dos_ctrl");
     },
     {0x01, 0x0F, 0x00, 0x00, 0x00, 0x10, 0x02, 0x01, 0x81},
     0},
    {"16T mode read",
     [](DigitalRig& d) {
         PickMode(d.P16t().ControlMode(), 2);
         Click(&d.P16t(), "Btn16t_DO_mode_read");
     },
     {0x01, 0x03, 0x00, 0x06, 0x00, 0x02},
     6},
    {"16T initial-value read",
     [](DigitalRig& d) {
         PickMode(d.P16t().ControlMode(), 3);
         Click(&d.P16t(), "Btn16t_Info_mode_read");
     },
     {0x01, 0x03, 0x00, 0x06, 0x00, 0x02},
     6},
    {"16T mode write, boxes 9 and 15, OK",
     [](DigitalRig& d) {
         PickMode(d.P16t().ControlMode(), 2);
         TickBoxes(d.P16t().Outputs(), 0x8200);
         Click(&d.P16t(), "Btn16t_DO_mode_set");
     },
     {0x01, 0x06, 0x00, 0x07, 0x82, 0x00},
     7},
    {"16T initial-value write, boxes 1, 10",
     [](DigitalRig& d) {
         PickMode(d.P16t().ControlMode(), 3);
         TickBoxes(d.P16t().Outputs(), 0x0402);
         Click(&d.P16t(), "Btn16t_Info_mode_set");
     },
     {0x01, 0x06, 0x00, 0x06, 0x04, 0x02},
     6},
    // KELM-8RY
    {"8RY RY5 on",
     [](DigitalRig& d) { Click(&d.P8ry(), "Spb_RL5"); },
     {0x01, 0x05, 0x00, 0x05, 0xFF, 0x00},
     5},
    {"8RY RY5 on, off",
     [](DigitalRig& d) {
         Click(&d.P8ry(), "Spb_RL5");
         Click(&d.P8ry(), "Spb_RL5");
     },
     {0x01, 0x05, 0x00, 0x05, 0x00, 0x00},
     5},
    {"8RY state query",
     [](DigitalRig& d) { Click(&d.P8ry(), "Btn_Rel_status_read"); },
     {0x01, 0x01, 0x00, 0x00, 0x00, 0x08},
     0},
    {"8RY multi-relay, boxes 2 and 3",
     [](DigitalRig& d) {
         TickBoxes(d.P8ry().Relays(), 0x0C);
         Click(&d.P8ry(), "Btn_Rel_status_ctrl");
     },
     {0x01, 0x0F, 0x00, 0x00, 0x00, 0x08, 0x01, 0x0C},
     0},
    {"8RY initial-state read",
     [](DigitalRig& d) { Click(&d.P8ry(), "Btn8R_Info_mode_read"); },
     {0x01, 0x03, 0x00, 0x06, 0x00, 0x01},
     6},
    {"8RY initial-state write, boxes 0 and 6",
     [](DigitalRig& d) {
         TickBoxes(d.P8ry().Relays(), 0x41);
         Click(&d.P8ry(), "Btn8R_Info_mode_set");
     },
     {0x01, 0x06, 0x00, 0x06, 0x00, 0x41},
     6},
};

TEST(DigitalPanels, EveryRequestInRtuAndAscii) {
    for (int protocol : {kProtocolRtu, kProtocolAscii}) {
        for (const RequestCase& c : kRequests) {
            SCOPED_TRACE(std::string(c.what) + (protocol == kProtocolRtu ? " RTU" : " ASCII"));
            DigitalRig d;
            d.rig.protocol.index = protocol;
            for (const char* model : {"KELM-8I8T", "KELM-16I", "KELM-16T", "KELM-8RY"})
                d.rig.Select(model, 1);
            d.rig.St().Modbus_Reg_Addr = 0x1234;
            c.act(d);
            ASSERT_FALSE(d.rig.sink.frames.empty());
            EXPECT_EQ(d.rig.LastSent(),
                      protocol == kProtocolRtu ? FrameRtu(c.body) : FrameAscii(c.body));
            EXPECT_EQ(d.rig.St().Modbus_Reg_Addr, c.regAddr);
        }
    }
}

TEST(DigitalPanels, RequestsPinnedToTheirWireBytes) {
    // A few frames in full, checks included, so the table above does not
    // rest on the codec alone.
    DigitalRig d;
    d.rig.Select("KELM-8I8T", 1);
    Click(&d.P8i8t(), "Spb8i8t_do3");
    EXPECT_EQ(d.rig.LastSent(), (ByteString{0x01, 0x05, 0x00, 0x03, 0xFF, 0x00, 0x7C, 0x3A}));
    PickMode(d.P8i8t().ControlMode(), 1);
    TickBoxes(d.P8i8t().Outputs(), 0x81);
    Click(&d.P8i8t(), "Btn8i8t_dos_ctrl");
    EXPECT_EQ(d.rig.LastSent(),
              (ByteString{0x01, 0x0F, 0x00, 0x00, 0x00, 0x08, 0x01, 0x81, 0x3E, 0xF5}));
    d.rig.Select("KELM-16T", 1);
    PickMode(d.P16t().ControlMode(), 1);
    TickBoxes(d.P16t().Outputs(), 0x8101);
    Click(&d.P16t(), "Btn16t_dos_ctrl");
    EXPECT_EQ(d.rig.LastSent(),
              (ByteString{0x01, 0x0F, 0x00, 0x00, 0x00, 0x10, 0x02, 0x01, 0x81, 0x23, 0xD0}));
    PickMode(d.P16t().ControlMode(), 2);
    TickBoxes(d.P16t().Outputs(), 0x8200);
    Click(&d.P16t(), "Btn16t_DO_mode_set");
    EXPECT_EQ(d.rig.LastSent(), (ByteString{0x01, 0x06, 0x00, 0x07, 0x82, 0x00, 0x58, 0xAB}));
    d.rig.Select("KELM-16I", 1);
    Click(&d.P16i(), "Btn16i_dis_read");
    EXPECT_EQ(d.rig.LastSent(), (ByteString{0x01, 0x02, 0x00, 0x00, 0x00, 0x10, 0x79, 0xC6}));

    d.rig.protocol.index = kProtocolAscii;
    d.rig.Select("KELM-8RY", 1);
    Click(&d.P8ry(), "Spb_RL5");
    const std::string relay = ":01050005FF00F6\r\n";
    EXPECT_EQ(d.rig.LastSent(), ByteString(relay.begin(), relay.end()));
    Click(&d.P8ry(), "Btn8R_Info_mode_read");
    const std::string initial = ":010300060001F5\r\n";
    EXPECT_EQ(d.rig.LastSent(), ByteString(initial.begin(), initial.end()));
}

TEST(DigitalPanels, WhatARequestDoesFirst) {
    DigitalRig d;
    d.rig.Select("KELM-8I8T", 1);
    TPnl8I8T& p = d.P8i8t();
    for (int ch = 0; ch < 8; ++ch) {
        p.Dis_8i8tdi_Status(static_cast<std::uint8_t>(ch), true);
        p.Dis_8i8tdo_Status(static_cast<std::uint8_t>(ch), true);
    }
    Click(&p, "Btn8i8t_dis_read");
    EXPECT_EQ(LitWord(p.Inputs()), 0u);
    EXPECT_EQ(LitWord(p.Outputs()), 0xFFu) << "the input query leaves the outputs alone";
    Click(&p, "Btn8i8t_dos_read");
    EXPECT_EQ(LitWord(p.Outputs()), 0u);
    EXPECT_EQ(PressedWord(p.Outputs()), 0u);

    // Both reads of the mode words untick the boxes first on the KELM-8I8T ...
    for (int mode : {2, 3}) {
        PickMode(p.ControlMode(), mode);
        TickBoxes(p.Outputs(), 0x5A);
        Click(&p, mode == 2 ? "Btn8i8t_DO_mode_read" : "Btn8i8t_Info_mode_read");
        EXPECT_EQ(TickedWord(p.Outputs()), 0u) << mode;
    }
    // ... but not on the KELM-16T.
    d.rig.Select("KELM-16T", 1);
    TPnl16T& t = d.P16t();
    for (int mode : {2, 3}) {
        PickMode(t.ControlMode(), mode);
        TickBoxes(t.Outputs(), 0xA55A);
        Click(&t, mode == 2 ? "Btn16t_DO_mode_read" : "Btn16t_Info_mode_read");
        EXPECT_EQ(TickedWord(t.Outputs()), 0xA55Au) << mode;
    }
    for (int ch = 0; ch < 16; ++ch) t.Dis_16tdo_Status(static_cast<std::uint8_t>(ch), true);
    Click(&t, "Btn16t_dos_read");
    EXPECT_EQ(LitWord(t.Outputs()), 0u);
    EXPECT_EQ(PressedWord(t.Outputs()), 0u);

    d.rig.Select("KELM-16I", 1);
    for (int ch = 0; ch < 16; ++ch) d.P16i().Dis_16idi_Status(static_cast<std::uint8_t>(ch), true);
    Click(&d.P16i(), "Btn16i_dis_read");
    EXPECT_EQ(LitWord(d.P16i().Inputs()), 0u);

    d.rig.Select("KELM-8RY", 1);
    TPnl8RY& r = d.P8ry();
    for (int ch = 0; ch < 8; ++ch) r.Dis_Rel07_Status(static_cast<std::uint8_t>(ch), 1);
    TickBoxes(r.Relays(), 0xFF);
    Click(&r, "Btn_Rel_status_read");
    EXPECT_EQ(LitWord(r.Relays()), 0u);
    EXPECT_EQ(PressedWord(r.Relays()), 0u);
    EXPECT_EQ(TickedWord(r.Relays()), 0xFFu) << "the state query keeps the boxes";
    Click(&r, "Btn8R_Info_mode_read");
    EXPECT_EQ(TickedWord(r.Relays()), 0u);
}

TEST(DigitalPanels, OutputButtonsSendOnlyInSingleChannelMode) {
    DigitalRig d;
    d.rig.Select("KELM-8I8T", 1);
    d.rig.Select("KELM-16T", 1);
    struct Panel {
        DoControlMode& mode;
        LampColumn& outputs;
    };
    for (Panel p : {Panel{d.P8i8t().ControlMode(), d.P8i8t().Outputs()},
                    Panel{d.P16t().ControlMode(), d.P16t().Outputs()}}) {
        for (int mode : {1, 2, 3}) {
            PickMode(p.mode, mode);
            const std::size_t sent = d.rig.sink.frames.size();
            p.outputs.Button(2)->click();
            EXPECT_TRUE(p.outputs.Button(2)->isChecked()) << "the click flips the look";
            p.outputs.Button(2)->click();
            EXPECT_FALSE(p.outputs.Button(2)->isChecked());
            EXPECT_EQ(d.rig.sink.frames.size(), sent) << mode;
            EXPECT_FALSE(LampLit(p.outputs.Button(2)));
        }
        PickMode(p.mode, 0);
        p.outputs.Button(2)->click();
        EXPECT_EQ(d.rig.LastSent(), FrameRtu({0x01, 0x05, 0x00, 0x02, 0xFF, 0x00}));
        EXPECT_FALSE(LampLit(p.outputs.Button(2))) << "the lamp waits for the echo";
    }
    // The input lamps are display only.
    const std::size_t sent = d.rig.sink.frames.size();
    d.P8i8t().Inputs().Button(4)->click();
    EXPECT_FALSE(d.P8i8t().Inputs().Button(4)->isChecked());
    EXPECT_EQ(d.rig.sink.frames.size(), sent);
}

TEST(DigitalPanels, ModeWriteAsksFirstAndCancelSendsNothing) {
    struct Case {
        const char* model;
        const char* button;
        unsigned boxes;
        ByteString body;
    };
    const Case cases[] = {
        {"KELM-8I8T", "Btn8i8t_DO_mode_set", 0x06, {0x01, 0x06, 0x00, 0x07, 0x00, 0x06}},
        {"KELM-16T", "Btn16t_DO_mode_set", 0x8200, {0x01, 0x06, 0x00, 0x07, 0x82, 0x00}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        DigitalRig d;
        ModulePanel* p = d.rig.Select(c.model, 1);
        auto& mode =
            c.model == std::string("KELM-8I8T") ? d.P8i8t().ControlMode() : d.P16t().ControlMode();
        PickMode(mode, 2);
        auto& outputs =
            c.model == std::string("KELM-8I8T") ? d.P8i8t().Outputs() : d.P16t().Outputs();
        TickBoxes(outputs, c.boxes);
        d.rig.St().Modbus_Reg_Addr = 24;
        d.rig.boxes.answers = {false, true};
        Click(p, c.button);
        ASSERT_EQ(d.rig.boxes.boxes.size(), 1u);
        const RecordedBox& b = d.rig.boxes.boxes[0];
        EXPECT_EQ(b.title, Q("提示"));
        EXPECT_EQ(b.text, Q("DO相关位配置为脉冲输出后无法再使用开关量输出命令控制，请确认操作？"));
        EXPECT_EQ(b.icon, MsgIcon::Question);
        EXPECT_EQ(b.buttons, MsgButtons::OkCancel);
        EXPECT_TRUE(d.rig.sink.frames.empty());
        EXPECT_EQ(d.rig.St().Modbus_Reg_Addr, 24) << "Cancel leaves the request register";
        Click(p, c.button);
        EXPECT_EQ(d.rig.boxes.boxes.size(), 2u);
        ASSERT_EQ(d.rig.sink.frames.size(), 1u);
        EXPECT_EQ(d.rig.LastSent(), FrameRtu(c.body));
    }
}

// ---- the control-mode family ------------------------------------------------

struct ModeFamilyCase {
    const char* model;
    const char* tag;
};

void PrintTo(const ModeFamilyCase& c, std::ostream* os) {
    *os << c.model;
}

class ControlModes : public ::testing::TestWithParam<ModeFamilyCase> {
  protected:
    DigitalRig d;
    const ModeFamilyCase& c = GetParam();
    DoControlMode* mode = nullptr;
    LampColumn* outputs = nullptr;

    void SetUp() override {
        d.rig.Select(c.model, 1);
        const bool is8 = std::string(c.model) == "KELM-8I8T";
        mode = is8 ? &d.P8i8t().ControlMode() : &d.P16t().ControlMode();
        outputs = is8 ? &d.P8i8t().Outputs() : &d.P16t().Outputs();
    }
    QPushButton* B(const char* pattern) const {
        return d.rig.stack.findChild<QPushButton*>(Q(pattern).arg(Q(c.tag)));
    }
    // Which of the five mode buttons are shown, in their order, as a string.
    std::string Shown() const {
        std::string s;
        for (const char* n : {"Btn%1_dos_ctrl", "Btn%1_DO_mode_read", "Btn%1_DO_mode_set",
                              "Btn%1_Info_mode_read", "Btn%1_Info_mode_set"})
            s += B(n)->isHidden() ? '-' : '+';
        return s;
    }
    int BoxesShown() const {
        int n = 0;
        for (int ch = 0; ch < outputs->Count(); ++ch) n += outputs->Box(ch)->isHidden() ? 0 : 1;
        return n;
    }
};

TEST_P(ControlModes, EachModeShowsItsBoxesAndButtonsUnticked) {
    const char* shown[] = {"-----", "+----", "-++--", "---++"};
    const int width = outputs->Count();
    for (int from = 0; from < 4; ++from) {
        for (int to = 0; to < 4; ++to) {
            SCOPED_TRACE(std::to_string(from) + " -> " + std::to_string(to));
            PickMode(*mode, from);
            TickBoxes(*outputs, 0xFFFF);
            PickMode(*mode, to);
            EXPECT_EQ(TickedWord(*outputs), 0u);
            EXPECT_EQ(BoxesShown(), to == 0 ? 0 : width);
            EXPECT_EQ(Shown(), shown[to]);
        }
    }
    // The always-visible query button stays.
    EXPECT_FALSE(B("Btn%1_dos_read")->isHidden());
    EXPECT_TRUE(d.rig.sink.frames.empty());
}

TEST_P(ControlModes, OnlyTheUsersChoiceChangesTheMode) {
    QComboBox* list = mode->ModeList();
    TickBoxes(*outputs, 0x0003);
    // A selection by program does not run the change handler.
    list->setCurrentIndex(2);
    EXPECT_EQ(BoxesShown(), 0);
    EXPECT_EQ(Shown(), "-----");
    EXPECT_EQ(TickedWord(*outputs), 0x0003u);
    list->setCurrentIndex(0);
    // The user's choice from the keyboard does.
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(list->currentIndex(), 1);
    EXPECT_EQ(Shown(), "+----");
    EXPECT_EQ(BoxesShown(), outputs->Count());
    EXPECT_EQ(TickedWord(*outputs), 0u);
}

TEST_P(ControlModes, BoxWordCarriesEveryBit) {
    PickMode(*mode, 1);
    const int width = outputs->Count();
    for (int ch = 0; ch < width; ++ch) {
        TickBoxes(*outputs, 1u << ch);
        EXPECT_EQ(mode->BoxWord(), 1u << ch);
    }
    TickBoxes(*outputs, 0xFFFF);
    EXPECT_EQ(mode->BoxWord(), width == 8 ? 0x00FFu : 0xFFFFu);
    B("Btn%1_Info_mode_set")->click();
    EXPECT_EQ(d.rig.LastSent(), FrameRtu({0x01, 0x06, 0x00, 0x06,
                                          static_cast<std::uint8_t>(width == 8 ? 0 : 0xFF), 0xFF}));
}

INSTANTIATE_TEST_SUITE_P(DigitalPanels, ControlModes,
                         ::testing::Values(ModeFamilyCase{"KELM-8I8T", "8i8t"},
                                           ModeFamilyCase{"KELM-16T", "16t"}),
                         [](const auto& info) { return std::string(info.param.tag); });

// Lamps on (bit ch) as the column holds them: without pictures no icon tells.
unsigned LampOnWord(const LampColumn& c) {
    unsigned w = 0;
    for (int ch = 0; ch < c.Count(); ++ch)
        if (c.LampOn(ch)) w |= 1u << ch;
    return w;
}

// Only the panels' resets depend on the lamp-off picture; a state query
// turns the lamps off whatever the picture list holds.
TEST(DigitalPanels, StateQueriesTurnLampsOffWithoutTheLampOffPicture) {
    DropPictures();
    struct Restore {
        ~Restore() { RestorePictures(); }
    } restore;
    ASSERT_TRUE(ImageList50x(kImgLampOff).isNull());
    DigitalRig d;  // panels built without pictures

    d.rig.Select("KELM-8I8T", 1);
    TPnl8I8T& p = d.P8i8t();
    for (int ch = 0; ch < 8; ++ch) {
        p.Dis_8i8tdi_Status(static_cast<std::uint8_t>(ch), true);
        p.Dis_8i8tdo_Status(static_cast<std::uint8_t>(ch), true);
    }
    ASSERT_EQ(LampOnWord(p.Inputs()), 0xFFu);
    Click(&p, "Btn8i8t_dis_read");
    EXPECT_EQ(LampOnWord(p.Inputs()), 0u) << "Btn8i8t_dis_read";
    Click(&p, "Btn8i8t_dos_read");
    EXPECT_EQ(LampOnWord(p.Outputs()), 0u) << "Btn8i8t_dos_read";

    d.rig.Select("KELM-16I", 1);
    for (int ch = 0; ch < 16; ++ch) d.P16i().Dis_16idi_Status(static_cast<std::uint8_t>(ch), true);
    Click(&d.P16i(), "Btn16i_dis_read");
    EXPECT_EQ(LampOnWord(d.P16i().Inputs()), 0u) << "Btn16i_dis_read";

    d.rig.Select("KELM-16T", 1);
    for (int ch = 0; ch < 16; ++ch) d.P16t().Dis_16tdo_Status(static_cast<std::uint8_t>(ch), true);
    Click(&d.P16t(), "Btn16t_dos_read");
    EXPECT_EQ(LampOnWord(d.P16t().Outputs()), 0u) << "Btn16t_dos_read";

    d.rig.Select("KELM-8RY", 1);
    for (int ch = 0; ch < 8; ++ch) d.P8ry().Dis_Rel07_Status(static_cast<std::uint8_t>(ch), 1);
    Click(&d.P8ry(), "Btn_Rel_status_read");
    EXPECT_EQ(LampOnWord(d.P8ry().Relays()), 0u) << "Btn_Rel_status_read";

    // The reset still leaves a lamp as it was when there is no picture to show.
    d.rig.Select("KELM-16I", 1);
    d.P16i().Dis_16idi_Status(3, true);
    d.rig.Select("KELM-16I", 1);
    EXPECT_EQ(LampOnWord(d.P16i().Inputs()), 0x8u);
}

}  // namespace
}  // namespace kelm::test
