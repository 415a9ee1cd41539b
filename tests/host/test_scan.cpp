// The bus scan: the dialog's controls and states, the identity requests byte
// for byte, the tree nodes built from replies through the dispatcher, the
// replies that must add nothing, the interval limits, stop and close.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <memory>

#include "host/ScanDevice.h"
#include "host/TFMserching.h"
#include "modbus/Checks.h"
#include "modbus/ModbusMaster.h"
#include "support/ManualTimer.h"
#include "support/ModbusDoubles.h"
#include "support/RecordingMessageBoxes.h"

namespace kelm::test {
namespace {

QString Q(const char* s) {
    return QString::fromUtf8(s);
}

QIcon Picture(int index) {
    QPixmap pm(20, 20);
    pm.fill(QColor::fromHsv(index * 30, 200, 200));
    return QIcon(pm);
}

class ScanTest : public ::testing::Test {
  protected:
    RecordingSink sink;  // panel requests through the codec (must stay unused)
    RecordingStatus status;
    FixedProtocol protocol{kProtocolRtu};
    ManualTimer recTimer;
    ModbusMaster master{sink, status, protocol, recTimer};
    RecordingMessageBoxes boxes;
    QTreeWidget tree;
    QTreeWidgetItem* root = nullptr;
    QTreeWidgetItem* port = nullptr;
    std::vector<ByteString> sent;  // SendString of the serial component
    bool portActive = true;
    bool linkCheckRunning = false;
    ScanContext ctx{master,
                    boxes,
                    tree,
                    [this](const ByteString& s) { sent.push_back(s); },
                    [this] { return protocol.index; },
                    [this] { return portActive; },
                    [this] { return linkCheckRunning; },
                    Picture,
                    QPixmap()};
    std::unique_ptr<TFMserching> dlg;

    void SetUp() override {
        root = new QTreeWidgetItem(&tree, QStringList{"PC"});
        port = new QTreeWidgetItem(root, QStringList{"COM9 (virtual, /dev/pts/3)"});
        new QTreeWidgetItem(root, QStringList{"COM10"});
        tree.setCurrentItem(port);
        RegisterScanHandler(master, tree, Picture);
        dlg = std::make_unique<TFMserching>(ctx);
        dlg->show();
    }

    template <class T>
    T* Find(const char* name) const {
        T* w = dlg->findChild<T*>(Q(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void SetInterval(const QString& text) { Find<QLineEdit>("Edit_scan_time")->setText(text); }
    void SetStart(int address) { Find<QComboBox>("Cmb_addr_start")->setCurrentIndex(address - 1); }

    void Receive(const ByteString& body) {
        const ByteString wire =
            protocol.index == kProtocolAscii ? FrameAscii(body) : FrameRtu(body);
        master.ksComm1AfterReceive(wire.data(), static_cast<std::uint32_t>(wire.size()));
        recTimer.Tick(11);
    }
    // Start a scan at 240 and receive one identity reply for it.
    void StartAndReceive(const ByteString& body) {
        SetStart(240);
        dlg->Btn_startClick();
        dlg->Timer_scanTimer();
        Receive(body);
    }
    static QStringList Channels(const QString& prefix, int count) {
        QStringList l;
        for (int i = 0; i < count; ++i) l << prefix + QString::number(i);
        return l;
    }
    QStringList Children(const QTreeWidgetItem* item) const {
        QStringList out;
        for (int i = 0; i < item->childCount(); ++i) out << item->child(i)->text(0);
        return out;
    }
};

TEST_F(ScanTest, DialogResetWhenShown) {
    EXPECT_EQ(dlg->windowTitle(), Q("扫描在线终端"));
    EXPECT_EQ(dlg->size(), QSize(394, 231));
    EXPECT_EQ(Find<QLineEdit>("Edit_scan_time")->text(), "1000");
    auto* start = Find<QComboBox>("Cmb_addr_start");
    ASSERT_EQ(start->count(), 247);
    EXPECT_EQ(start->currentText(), "1");
    auto* scanned = Find<QLineEdit>("Edit_addr_scan");
    EXPECT_EQ(scanned->text(), "0");
    EXPECT_TRUE(scanned->isReadOnly());
    auto* bar = Find<QProgressBar>("ProgressBar1");
    EXPECT_EQ(bar->minimum(), 1);
    EXPECT_EQ(bar->maximum(), 247);
    EXPECT_LT(bar->value(), bar->minimum());  // reset: no progress shown
    auto* image = Find<QLabel>("Image1");
    EXPECT_TRUE(image->isHidden());
    EXPECT_EQ(image->geometry(), QRect(270, 30, 50, 50));
    EXPECT_FALSE(dlg->Timer_scan()->isActive());
    EXPECT_EQ(dlg->Timer1()->interval(), 200);
    EXPECT_FALSE(master.State().Scan_Device_Flag);
}

TEST_F(ScanTest, ScanFrom240At500PollsToTheEndThenReports) {
    SetStart(240);
    SetInterval("500");
    dlg->Btn_startClick();
    EXPECT_TRUE(dlg->Timer_scan()->isActive());
    EXPECT_EQ(dlg->Timer_scan()->interval(), 500);
    EXPECT_TRUE(dlg->Timer1()->isActive());
    EXPECT_FALSE(Find<QLabel>("Image1")->isHidden());
    EXPECT_TRUE(master.State().Scan_Device_Flag);
    EXPECT_TRUE(sent.empty());  // the first request goes out one interval later

    for (int a = 240; a <= 247; ++a) {
        master.State().Modbus_Reg_Addr = 7;  // left by an earlier request
        dlg->Timer_scanTimer();
        EXPECT_EQ(master.State().Modbus_Reg_Addr, 0);
        ASSERT_EQ(sent.size(), static_cast<std::size_t>(a - 239));
        EXPECT_EQ(sent.back(), FrameRtu({static_cast<std::uint8_t>(a), 3, 0, 0, 0, 3}));
        EXPECT_EQ(Find<QLineEdit>("Edit_addr_scan")->text(), QString::number(a));
        EXPECT_EQ(Find<QProgressBar>("ProgressBar1")->value(), a);
        if (a < 247) {
            EXPECT_TRUE(boxes.boxes.empty());
        }
    }
    EXPECT_FALSE(dlg->Timer_scan()->isActive());
    EXPECT_FALSE(dlg->Timer1()->isActive());
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].title, Q("提示"));
    EXPECT_EQ(boxes.boxes[0].text, Q("终端扫描完毕！"));
    EXPECT_EQ(boxes.boxes[0].icon, MsgIcon::Information);
    // The scan bypasses the codec: no panel frame, no status text.
    EXPECT_TRUE(sink.frames.empty());
    EXPECT_TRUE(status.history.empty());
}

TEST_F(ScanTest, RequestBytesInBothForms) {
    EXPECT_EQ(ScanRequest(1, kProtocolRtu),
              (ByteString{0x01, 0x03, 0x00, 0x00, 0x00, 0x03, 0x05, 0xCB}));
    const std::string ascii = ":F003000000030A\r\n";
    EXPECT_EQ(ScanRequest(0xF0, kProtocolAscii), ByteString(ascii.begin(), ascii.end()));
    EXPECT_TRUE(ScanRequest(1, -1).empty());

    protocol.index = kProtocolAscii;
    SetStart(240);
    dlg->Btn_startClick();
    dlg->Timer_scanTimer();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], ByteString(ascii.begin(), ascii.end()));
    // No protocol selected: nothing reaches the line, the scan moves on.
    protocol.index = -1;
    dlg->Timer_scanTimer();
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_EQ(dlg->ScanAddr(), 242);
}

TEST_F(ScanTest, EveryModelAndItsCollapsedChannels) {
    SetStart(240);
    dlg->Btn_startClick();
    dlg->Timer_scanTimer();
    // High bytes are not looked at.
    for (std::uint8_t type = 10; type <= 16; ++type)
        Receive({static_cast<std::uint8_t>(type - 9), 3, 6, 0x7F, type, 0, 0xA0, 0xFF, 0xF0});
    protocol.index = kProtocolAscii;  // ASCII replies are accepted
    Receive({8, 3, 6, 0, 17, 0, 0xA0, 0, 0xF0});
    EXPECT_EQ(Children(port),
              QStringList({"KELM-8I8T(1)", "KELM-16I(2)", "KELM-16T(3)", "KELM-8RY(4)",
                           "KELM-8AS(5)", "KELM-8ASP(6)", "KELM-8AD(7)", "KELM-2AO(8)"}));
    QStringList c8i8t = Channels("DI", 8) + Channels("DO", 8);
    EXPECT_EQ(Children(port->child(0)), c8i8t);
    EXPECT_EQ(Children(port->child(1)), Channels("DI", 16));
    EXPECT_EQ(Children(port->child(2)), Channels("DO", 16));
    for (int i = 3; i < 8; ++i) EXPECT_EQ(port->child(i)->childCount(), 0) << i;
    EXPECT_TRUE(port->isExpanded());
    for (int i = 0; i < 8; ++i) {
        EXPECT_FALSE(port->child(i)->isExpanded()) << i;
        EXPECT_EQ(port->child(i)->data(0, kTreeImageIndexRole).toInt(), kImageModuleNode);
        EXPECT_FALSE(port->child(i)->icon(0).isNull());
    }
    EXPECT_EQ(port->child(2)->child(15)->data(0, kTreeImageIndexRole).toInt(), kImageChannelNode);
}

TEST_F(ScanTest, ImplausibleIdentitiesAddNothing) {
    SetStart(240);
    dlg->Btn_startClick();
    dlg->Timer_scanTimer();
    const ByteString rejected[] = {
        {0x05, 3, 6, 0, 0x0C, 0, 0x9F, 0, 0xA3},  // hardware version 159
        {0x05, 3, 6, 0, 0x0C, 0, 0xA0, 0, 0xF1},  // software version 241
        {0x05, 3, 6, 0, 0x12, 0, 0xA0, 0, 0xA0},  // type 18: plausible, no model
        {0x05, 3, 6, 0, 0x01, 0, 0xA0, 0, 0xA0},  // type 1: plausible, no model
        {0x05, 3, 6, 0, 0x00, 0, 0xA0, 0, 0xA0},  // type 0
        {0x05, 3, 6, 0, 0x15, 0, 0xA0, 0, 0xA0},  // type 21
        {0x00, 3, 6, 0, 0x0C, 0, 0xA0, 0, 0xA0},  // from the broadcast address
        {0xF8, 3, 6, 0, 0x0C, 0, 0xA0, 0, 0xA0},  // from address 248
        {0x05, 3, 4, 0, 0x0C, 0, 0xA0},           // byte count 4
    };
    for (const ByteString& r : rejected) Receive(r);
    // A frame with a valid check that claims six data bytes and carries five.
    EXPECT_EQ(Disposal_Modbus03_Scandevice(tree, Picture, Frame({0x05, 3, 6, 0, 0x0C, 0, 0xA0, 0})),
              nullptr);
    EXPECT_EQ(port->childCount(), 0);
    // The limits themselves pass, once per address.
    Receive({0x05, 3, 6, 0, 0x0C, 0, 0xA0, 0, 0xF0});
    Receive({0x05, 3, 6, 0, 0x0B, 0, 0xA0, 0, 0xA3});
    Receive({0xF7, 3, 6, 0, 0x0D, 0, 0xF0, 0, 0xA0});
    EXPECT_EQ(Children(port), QStringList({"KELM-16T(5)", "KELM-8RY(247)"}));
    // Nothing is added under a node that is not a port.
    tree.setCurrentItem(root);
    Receive({0x06, 3, 6, 0, 0x0D, 0, 0xA0, 0, 0xA0});
    EXPECT_EQ(root->childCount(), 2);
}

TEST_F(ScanTest, IntervalLimitsAndStartClearsEarlierResultsEvenWhenRefused) {
    // Out of limits is a warning; what is not a number is a conversion error.
    const struct {
        const char* text;
        bool conversion;
    } refused[] = {{"499", false},   {"5001", false}, {"0", false},
                   {"99999", false}, {"", true},      {"99999999999", true}};
    for (const auto& r : refused) {
        SCOPED_TRACE(r.text);
        boxes.Clear();
        SetInterval(r.text);
        dlg->Btn_startClick();
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].conversionError, r.conversion);
        if (!r.conversion) {
            EXPECT_TRUE(boxes.Has(Q("提示"), Q("扫描间隔区间500-5000ms！")));
            EXPECT_EQ(boxes.boxes[0].icon, MsgIcon::Warning);
        }
        EXPECT_FALSE(dlg->Timer_scan()->isActive());
        EXPECT_FALSE(dlg->Timer1()->isActive());
        EXPECT_FALSE(master.State().Scan_Device_Flag);
    }
    // Typing accepts digits only.
    auto* edit = Find<QLineEdit>("Edit_scan_time");
    edit->clear();
    QTest::keyClicks(edit, "5a0-0.");
    EXPECT_EQ(edit->text(), "500");
    for (int good : {500, 5000}) {
        boxes.Clear();
        SetInterval(QString::number(good));
        dlg->Btn_startClick();
        EXPECT_TRUE(boxes.boxes.empty()) << good;
        EXPECT_EQ(dlg->Timer_scan()->interval(), good);
        dlg->Btn_stopClick();
    }

    StartAndReceive({0x05, 3, 6, 0, 0x0D, 0, 0xA0, 0, 0xA0});
    ASSERT_EQ(port->childCount(), 1);
    dlg->Btn_stopClick();
    SetInterval("499");
    dlg->Btn_startClick();
    EXPECT_EQ(port->childCount(), 0) << "a refused start still clears the port's results";
    EXPECT_EQ(root->childCount(), 2) << "the other port's node is untouched";
}

TEST_F(ScanTest, StopKeepsPictureAndFlagRestartBeginsAtTheStartCloseClearsAll) {
    SetStart(100);
    dlg->Btn_startClick();
    dlg->Timer1Timer();
    dlg->Timer1Timer();
    dlg->Timer_scanTimer();
    dlg->Timer_scanTimer();
    EXPECT_EQ(dlg->ScanAddr(), 102);
    auto* image = Find<QLabel>("Image1");
    const QPoint where = image->pos();
    dlg->Btn_stopClick();
    EXPECT_FALSE(dlg->Timer_scan()->isActive());
    EXPECT_FALSE(dlg->Timer1()->isActive());
    EXPECT_FALSE(image->isHidden());
    EXPECT_EQ(image->pos(), where);
    EXPECT_TRUE(master.State().Scan_Device_Flag);
    dlg->Btn_startClick();
    EXPECT_EQ(dlg->ScanAddr(), 100);

    // Closing clears the flag and stops the timers; identity replies are no
    // longer the scan's.
    dlg->reject();
    EXPECT_FALSE(master.State().Scan_Device_Flag);
    EXPECT_FALSE(dlg->Timer_scan()->isActive());
    EXPECT_FALSE(dlg->Timer1()->isActive());
    Receive({0x05, 3, 6, 0, 0x0D, 0, 0xA0, 0, 0xA0});
    EXPECT_EQ(port->childCount(), 0);
}

TEST_F(ScanTest, BusyPictureCircles) {
    const QPoint rest(270, 30);
    const QPoint steps[12] = {{0, -10}, {6, -8}, {8, -6}, {10, 0},  {8, 6},   {6, 8},
                              {0, 8},   {-6, 8}, {-8, 6}, {-10, 0}, {-8, -6}, {-6, -8}};
    auto* image = Find<QLabel>("Image1");
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 12; ++i) {
            EXPECT_EQ(dlg->ImageIndex(), i + 1);
            dlg->Timer1Timer();
            EXPECT_EQ(image->pos(), rest + steps[i]) << "step " << i + 1;
        }
    }
    // Shown again: back to the resting place's step 1.
    dlg->hide();
    dlg->show();
    EXPECT_EQ(dlg->ImageIndex(), 1);
}

TEST_F(ScanTest, OpensOnlyOnAnOpenPortWithoutLinkCheck) {
    dlg.reset();
    tree.setCurrentItem(root);
    EXPECT_FALSE(OpenScanDialog(ctx, nullptr));
    tree.setCurrentItem(port);
    portActive = false;
    EXPECT_FALSE(OpenScanDialog(ctx, nullptr));
    portActive = true;
    linkCheckRunning = true;
    EXPECT_FALSE(OpenScanDialog(ctx, nullptr));
    for (QWidget* w : QApplication::topLevelWidgets())
        EXPECT_EQ(qobject_cast<TFMserching*>(w), nullptr);
}

}  // namespace
}  // namespace kelm::test
