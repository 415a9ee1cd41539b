// The main window over real pseudo-terminals: layout and names, the tree and
// navigation, the host port panel (interlocks, open, close, port loss) and
// the link check's pieces.
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolBar>
#include <QToolButton>
#include <atomic>
#include <thread>

#include "WindowFixture.h"
#include "app/DeviceChangeNotifier.h"
#include "gui/Pictures.h"
#include "app/StatusBar.h"
#include "app/TFmabout.h"
#include "host/ScanDevice.h"
#include "modbus/Checks.h"
#include "modules/ModuleIdentity.h"
#include "serial/posix/Pty.h"

using namespace kelm;
using namespace kelm::test;

namespace {
int imageOf(QTreeWidgetItem* item) {
    return item->data(0, kTreeImageIndexRole).toInt();
}
}  // namespace

class MainWindow : public WindowFixture {
  protected:
    void SetUp() override {
        WindowFixture::SetUp();
        Publish(5, a_.SlavePath());
        Publish(12, b_.SlavePath());
        a_.HoldSlaveOpen();
        b_.HoldSlaveOpen();
        MakeWindow();
    }
    posix::Pty a_, b_;
};

TEST_F(MainWindow, LayoutNamesCaptionsAndTheStartingTree) {
    EXPECT_EQ(W().windowTitle(), QStringLiteral("KELM-Utility(V1.00)"));
    EXPECT_EQ(W().size(), QSize(1114, 631));
    EXPECT_EQ(W().minimumSize(), W().maximumSize()) << "fixed border";

    ASSERT_TRUE(W().findChild<QToolBar*>("ToolBar1"));
    const struct {
        const char* name;
        QString caption;
        bool enabled;
    } buttons[] = {{"ToolButton_Scan", QStringLiteral("扫描终端"), false},
                   {"ToolButton_About", QStringLiteral("关于"), true},
                   {"ToolButton_Close", QStringLiteral("退出"), true}};
    for (const auto& b : buttons) {
        auto* tb = W().findChild<QToolButton*>(b.name);
        ASSERT_TRUE(tb) << b.name;
        EXPECT_EQ(tb->text(), b.caption);
        EXPECT_EQ(tb->isEnabled(), b.enabled) << b.name;
        EXPECT_FALSE(tb->icon().isNull());
    }
    for (const char* name : {"Pnlmain", "Pnl_comset", "Pnl_8I8T", "Pnl_16I", "Pnl_16T", "Pnl_8RY",
                             "Pnl_2AO", "Pnl_8AD", "Pnl_8AS", "Pnl_Xi_type", "Pnl_Yo_type"}) {
        QWidget* p = W().findChild<QWidget*>(name);
        EXPECT_TRUE(p && p->parentWidget() == W().PanelStack) << name;
    }
    EXPECT_EQ(W().PanelStack->count(), 11);
    EXPECT_EQ(W().PanelStack->currentWidget(), W().Pnlmain);
    EXPECT_TRUE(W().ksComm1().UseMainThread()) << "receive events on the GUI thread";
    EXPECT_TRUE(W().ksComm1().OnAfterReceive()) << "the receive handler is assigned";

    // The host panel: the port number is chosen in the tree, the data and
    // stop bits follow the protocol and parity.
    Pnl_comset& h = Host();
    EXPECT_FALSE(h.Edit_COM_Num->isEnabled());
    EXPECT_FALSE(h.Cmb_comdatabit->isEnabled());
    EXPECT_FALSE(h.Cmb_comstopbit->isEnabled());
    EXPECT_TRUE(Memo().contains(QStringLiteral("3、使用该功能时通讯口下只能有一个模块；")));
    // The advanced toggle shows and hides the link check.
    EXPECT_TRUE(h.Gro_com_advanced_info->isHidden());
    h.btn_advanced->click();
    EXPECT_FALSE(h.Gro_com_advanced_info->isHidden());
    EXPECT_EQ(h.btn_advanced->text(), QStringLiteral("高级<<"));
    h.btn_advanced->click();
    EXPECT_TRUE(h.Gro_com_advanced_info->isHidden());
    EXPECT_EQ(h.btn_advanced->text(), QStringLiteral("高级>>"));

    // The tree starts with the ports expanded, by number, with their pictures.
    ASSERT_EQ(W().TreeView1->topLevelItemCount(), 1);
    EXPECT_EQ(Root()->text(0), "PC");
    EXPECT_EQ(imageOf(Root()), kImgRoot);
    ASSERT_GE(Root()->childCount(), 2);
    EXPECT_TRUE(Root()->isExpanded());
    ASSERT_TRUE(PortNamed(5) && PortNamed(12));
    EXPECT_LT(Root()->indexOfChild(PortNamed(5)), Root()->indexOfChild(PortNamed(12)))
        << "ports are listed by number";
    EXPECT_TRUE(PortNamed(12)->text(0).contains(QString::fromStdString(b_.SlavePath())))
        << PortNamed(12)->text(0).toStdString();
    for (int i = 0; i < Root()->childCount(); ++i) EXPECT_EQ(imageOf(Port(i)), kImgPortClosed);
    EXPECT_EQ(W().StatusText(0), QString());
}

TEST_F(MainWindow, PortNodeNavigationFillsThePortNumberAndClosesAnotherPort) {
    Select(PortNamed(12));
    EXPECT_EQ(Host().Edit_COM_Num->text(), "12");
    EXPECT_EQ(W().PanelStack->currentWidget(), W().PnlComset());
    const int index12 = Root()->indexOfChild(PortNamed(12));
    EXPECT_EQ(St().Node_Level1_newindex, index12);
    EXPECT_EQ(St().Node_Level1_oldindex, index12);
    // Moving to another port node closes the port of the old one.
    EXPECT_EQ(W().StatusText(6), "COM1 Close") << "nothing opened yet: the component's number";
    Host().Sbtn_com_openClick();
    ASSERT_TRUE(W().ksComm1().Active());
    EXPECT_EQ(W().StatusText(6), "COM12 Open: RTU\\9600\\8\\2\\None");
    EXPECT_EQ(imageOf(PortNamed(12)), kImgPortOpen);
    EXPECT_TRUE(W().ToolButton_Scan->isEnabled());

    // A module node and back to the same port: the port stays open.
    auto* m = AddModule(PortNamed(12), "KELM-16T(5)", Channels("DO", 16));
    Select(m);
    EXPECT_FALSE(W().ToolButton_Scan->isEnabled());
    Select(PortNamed(12));
    EXPECT_TRUE(W().ksComm1().Active());
    EXPECT_TRUE(W().ToolButton_Scan->isEnabled());

    Select(PortNamed(5));
    EXPECT_FALSE(W().ksComm1().Active());
    EXPECT_EQ(W().StatusText(6), "COM12 Close");
    EXPECT_EQ(imageOf(PortNamed(12)), kImgPortClosed);
    EXPECT_EQ(Host().Edit_COM_Num->text(), "5");
    EXPECT_EQ(Host().Sbtn_com_open->text(), QStringLiteral("打开串口"));
    EXPECT_FALSE(W().ToolButton_Scan->isEnabled());
}

TEST_F(MainWindow, ModuleAndChannelNavigation) {
    auto* m16i = AddModule(PortNamed(5), "KELM-16I(2)", Channels("DI", 16));
    auto* m8asp = AddModule(PortNamed(5), "KELM-8ASP(12)");
    auto* m8ry = AddModule(PortNamed(5), "KELM-8RY(7)");

    Select(m8asp);
    EXPECT_EQ(St().Node_Device_Name, "KELM-8ASP");
    EXPECT_EQ(St().Node_Device_ID, 12);
    EXPECT_EQ(W().PanelStack->currentWidget()->objectName(), "Pnl_8AS");
    EXPECT_EQ(W().findChild<QLineEdit*>("Edit8AS_device_name")->text(), "KELM-8ASP");
    EXPECT_EQ(W().findChild<QLineEdit*>("Edit8AS_slave_addr")->text(), "12");

    // An output channel's panel is shown end to end; an input channel here.
    Select(m16i->child(5));
    EXPECT_EQ(W().PanelStack->currentWidget(), W().Pnl_Xi_type);
    EXPECT_EQ(W().Gro_Xi_mode->title(), "KELM-16I(2):DI5");
    EXPECT_EQ(St().Node_Device_ID, 2);
    EXPECT_EQ(St().Node_DeviceChild_Index, 5);

    // A node of a model without channel panels changes the selection but not the panel.
    new QTreeWidgetItem(m8ry, {"X0"});
    Select(m8ry->child(0));
    EXPECT_EQ(W().PanelStack->currentWidget(), W().Pnl_Xi_type);
    EXPECT_EQ(St().Node_Device_ID, 7);

    // The root empties the activity text and keeps the request address.
    W().StatusBar()->SetPanelText(0, QStringLiteral("当前终端通讯响应正常!"));
    Select(Root());
    EXPECT_EQ(W().PanelStack->currentWidget(), W().Pnlmain);
    EXPECT_EQ(W().StatusText(0), QString());
    EXPECT_EQ(St().Node_Device_ID, 7);
    EXPECT_EQ(St().Node_Device_Name, "KELM-8RY");

    // Navigation runs the panel reset: an opened new-parameter box closes.
    auto* m8ad = AddModule(PortNamed(5), "KELM-8AD(4)");
    Select(m8ad);
    auto* toggle = W().findChild<QToolButton*>("Spb8AD_newcom_info");
    auto* box = W().findChild<QGroupBox*>("Gro8AD_new_comset");
    ASSERT_TRUE(toggle && box);
    toggle->click();
    EXPECT_FALSE(box->isHidden());
    Select(Root());
    Select(m8ad);
    EXPECT_TRUE(box->isHidden());
}

TEST_F(MainWindow, HostInterlocksRunOnlyForUserChoices) {
    Pnl_comset& h = Host();
    UserPick(h.Cmb_comXY, 1);
    EXPECT_EQ(h.Cmb_comdatabit->currentText(), "7");
    UserPick(h.Cmb_comXY, 0);
    EXPECT_EQ(h.Cmb_comdatabit->currentText(), "8");
    UserPick(h.Cmb_comcheckbit, 1);
    EXPECT_EQ(h.Cmb_comstopbit->currentText(), "1");
    UserPick(h.Cmb_comcheckbit, 0);
    EXPECT_EQ(h.Cmb_comstopbit->currentText(), "2");
    // Selections made by the program leave the followers alone.
    h.Cmb_comXY->setCurrentIndex(1);
    h.Cmb_comcheckbit->setCurrentIndex(1);
    EXPECT_EQ(h.Cmb_comdatabit->currentText(), "8");
    EXPECT_EQ(h.Cmb_comstopbit->currentText(), "2");
}

TEST_F(MainWindow, OpenAppliesTheFormatAndLocksTheLists) {
    Select(PortNamed(5));
    Pnl_comset& h = Host();
    UserPick(h.Cmb_comXY, 1);
    UserPick(h.Cmb_combaud, 4);
    UserPick(h.Cmb_comcheckbit, 1);
    h.Sbtn_com_open->click();
    ASSERT_TRUE(W().ksComm1().Active()) << boxes_.boxes.size();
    EXPECT_TRUE(boxes_.boxes.empty());
    EXPECT_EQ(W().ksComm1().ComPortNo(), 5);
    EXPECT_EQ(W().ksComm1().BaudRate(), 19200u);
    EXPECT_EQ(W().ksComm1().ByteSize(), 7);
    EXPECT_EQ(W().ksComm1().StopBits(), TStopBits::sbOne);
    EXPECT_EQ(W().ksComm1().Parity(), TParity::pEven);
    EXPECT_EQ(h.Sbtn_com_open->text(), QStringLiteral("关闭串口"));
    EXPECT_FALSE(h.Cmb_comXY->isEnabled());
    EXPECT_FALSE(h.Cmb_combaud->isEnabled());
    EXPECT_FALSE(h.Cmb_comcheckbit->isEnabled());
    EXPECT_EQ(W().StatusText(6), "COM5 Open: ASCII\\19200\\7\\1\\Even");

    // The owner-drawn panel shows the open-port picture: every opaque pixel
    // of the picture is on screen where the panel centres it.
    QImage shot(W().StatusBar()->size(), QImage::Format_ARGB32);
    W().StatusBar()->render(&shot);
    const QRect r = W().StatusBar()->PanelRect(4);
    const QImage icon =
        ImageList2020(kImgStatusOpen).toImage().convertToFormat(QImage::Format_ARGB32);
    const QPoint at(r.x() + (r.width() - 20) / 2, r.y() + (r.height() - 20) / 2);
    int opaque = 0, same = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x)
            if (qAlpha(icon.pixel(x, y)) == 255) {
                ++opaque;
                if ((shot.pixel(at.x() + x, at.y() + y) & 0xFFFFFF) ==
                    (icon.pixel(x, y) & 0xFFFFFF))
                    ++same;
            }
    EXPECT_GT(opaque, 50);
    EXPECT_EQ(same, opaque);

    h.Sbtn_com_open->click();
    EXPECT_FALSE(W().ksComm1().Active());
    EXPECT_EQ(h.Sbtn_com_open->text(), QStringLiteral("打开串口"));
    EXPECT_TRUE(h.Cmb_comXY->isEnabled());
    EXPECT_EQ(W().StatusText(6), "COM5 Close");
    EXPECT_EQ(imageOf(PortNamed(5)), kImgPortClosed);
}

TEST_F(MainWindow, FailedOpensShowTheWarningAndChangeNothing) {
    Select(PortNamed(5));
    Pnl_comset& h = Host();
    for (const QString& bad : {QString(), QStringLiteral("x1"), QStringLiteral("77"),
                               QStringLiteral("0"), QStringLiteral("70000")}) {
        boxes_.Clear();
        h.SetComNumText(bad);
        h.Sbtn_com_openClick();
        SCOPED_TRACE(bad.toStdString());
        ExpectOneBox("警告", "串口不存在或被占用！");
        EXPECT_FALSE(W().ksComm1().Active());
        EXPECT_EQ(h.Sbtn_com_open->text(), QStringLiteral("打开串口"));
        EXPECT_TRUE(h.Cmb_comXY->isEnabled());
        EXPECT_FALSE(W().ToolButton_Scan->isEnabled());
    }
}

TEST_F(MainWindow, LinkCheckNeedsAnOpenPort) {
    const QString before = Memo();
    Host().Btn_readcominfo->click();
    ExpectOneBox("提示", "串口没有打开！");
    EXPECT_EQ(Memo(), before);
}

TEST_F(MainWindow, LinkCheckStartsASecondLaterAndStopsWhenThePortCloses) {
    OpenPort(5);
    W().Master().State().Modbus_Reg_Addr = 9;
    Host().Btn_readcominfoClick();
    EXPECT_EQ(St().Modbus_Reg_Addr, 3);
    EXPECT_EQ(St().comauto_index, 0);
    EXPECT_EQ(St().Send_Str, (ByteString{0x00, 0x03, 0x00, 0x03, 0x00, 0x03, 0xF4, 0x1A}));
    EXPECT_EQ(Memo(), QStringLiteral("正在查询通讯参数..."));
    auto* timer = W().Timer_check_slavecom();
    ASSERT_TRUE(timer);
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 1000);

    // A tick sends the broadcast at step 0's setting.
    Host().Timer_check_slavecomTimer();
    EXPECT_EQ(St().comauto_index, 1);
    EXPECT_EQ(Host().Cmb_combaud->currentText(), "1200");
    EXPECT_EQ(W().ksComm1().BaudRate(), 1200u);
    EXPECT_EQ(W().StatusText(6), "COM5 Open: RTU\\1200\\8\\2\\None");
    EXPECT_EQ(W().StatusText(0), QStringLiteral("正在扫描终端数据......"));
    char buf[64] = {};
    ASSERT_TRUE(WaitUntil([&] { return ::read(a_.MasterFd(), buf, sizeof buf) == 8; }));
    EXPECT_EQ(std::string(buf, 8), std::string("\x00\x03\x00\x03\x00\x03\xF4\x1A", 8));

    // The scan button does nothing while the link check runs.
    bool dialogSeen = false;
    QTimer::singleShot(50, [&] {
        if (QWidget* d = QApplication::activeModalWidget()) {
            dialogSeen = true;
            d->close();
        }
    });
    W().ToolButton_Scan->click();
    QTest::qWait(100);
    EXPECT_FALSE(dialogSeen);
    EXPECT_FALSE(St().Scan_Device_Flag);

    // Closed behind its back: the next tick stops the loop.
    W().ksComm1().SetActive(false);
    Host().Timer_check_slavecomTimer();
    EXPECT_FALSE(timer->isActive());
    EXPECT_EQ(Memo(), QStringLiteral("串口意外关闭！"));
}

TEST_F(MainWindow, LinkCheckRunsOutAfterThirtyThreeSteps) {
    OpenPort(5, 1);
    Host().Btn_readcominfoClick();
    EXPECT_EQ(St().Send_Str, ByteString({':', '0', '0', '0', '3', '0', '0', '0', '3', '0', '0', '0',
                                         '3', 'F', '7', '\r', '\n'}));
    std::vector<std::pair<QString, QString>> seen;  // baud, stop bits per step
    for (int i = 0; i < 33; ++i) {
        Host().Timer_check_slavecomTimer();
        seen.emplace_back(Host().Cmb_combaud->currentText(), Host().Cmb_comstopbit->currentText());
        if (i == 0) {
            EXPECT_EQ(Host().Cmb_comdatabit->currentText(), "7") << "ASCII: 7 data bits";
        }
    }
    EXPECT_EQ(St().comauto_index, 33);
    EXPECT_EQ(seen[7], std::make_pair(QString("9600"), QString("2")));
    EXPECT_EQ(seen[8], std::make_pair(QString("19200"), QString("2")));
    EXPECT_EQ(seen[16], std::make_pair(QString("1200"), QString("1")));
    EXPECT_EQ(seen[32], std::make_pair(QString("115200"), QString("1")));
    EXPECT_FALSE(W().Timer_check_slavecom()->isActive());
    EXPECT_EQ(Memo(), QStringLiteral("通讯错误，需要更换主机串口协议或检查通讯连接线路！"));
    EXPECT_EQ(W().StatusText(6), "COM5 Open: ASCII\\115200\\7\\1\\Even");
    EXPECT_EQ(W().ksComm1().Parity(), TParity::pEven);
    EXPECT_EQ(W().ksComm1().StopBits(), TStopBits::sbOne);
    EXPECT_EQ(W().ksComm1().ByteSize(), 7);
}

TEST(LinkCheck, FormatLinesAndRequest) {
    EXPECT_EQ(LinkCheckFormatLine(4, 65), QStringLiteral("串口配置：19200/7/2/None"));
    EXPECT_EQ(LinkCheckFormatLine(15, 65), QStringLiteral("串口配置：115200/7/1/Even"));
    EXPECT_EQ(LinkCheckFormatLine(16, 82), QString());
    EXPECT_EQ(LinkCheckFormatLine(3, 0x53), QString());
    EXPECT_EQ(LinkCheckRequest(2), ByteString{}) << "a protocol outside the list";
}

TEST_F(MainWindow, LinkCheckReplyIsShownOnlyWhenEveryFieldIsValid) {
    Host().Memo_slavecominf->setPlainText(QStringLiteral("正在查询通讯参数..."));
    const auto reply = [](int format, int address, int letter) {
        return Frame(ByteString{0, 3, 6, std::uint8_t(format >> 8), std::uint8_t(format),
                                std::uint8_t(address >> 8), std::uint8_t(address),
                                std::uint8_t(letter >> 8), std::uint8_t(letter)});
    };
    for (auto bad : {reply(16, 1, 82), reply(3, 0, 82), reply(3, 248, 82), reply(3, 1, 66),
                     reply(0x0103, 1, 82), reply(3, 1, 0x0152)}) {
        Host().Disposal_Modbus03_checkcom(bad);
        EXPECT_EQ(Memo(), QStringLiteral("正在查询通讯参数..."));
    }
    // A short reply reads its missing bytes as 0: an address of 0, ignored.
    Host().Disposal_Modbus03_checkcom(Frame(ByteString{0, 3, 6, 0, 4}));
    EXPECT_EQ(Memo(), QStringLiteral("正在查询通讯参数..."));

    Host().Disposal_Modbus03_checkcom(reply(11, 247, 65));
    EXPECT_EQ(Memo(), QStringLiteral("地址：247\n串口配置：9600/7/1/Even"));
}

TEST_F(MainWindow, PortLossAsksAndCancelLeavesThePanelClosed) {
    OpenPort(5);
    // A notice while the port is healthy changes nothing.
    W().WMDeviceChange();
    EXPECT_TRUE(boxes_.boxes.empty());
    EXPECT_TRUE(W().ksComm1().Active());

    // Pull the plug: the pty goes away and so does its link.
    VirtualPortDir::Unpublish(5);
    a_.Close();
    boxes_.answers.push_back(false);  // Cancel
    ASSERT_TRUE(WaitUntil([&] { return !boxes_.boxes.empty(); }))
        << "the component's loss notice runs the same check";
    W().WMDeviceChange();  // a further notice does not ask again
    ExpectOneBox("警告", "主机串口丢失，需要手动重启，是否关闭程序？");
    EXPECT_EQ(boxes_.boxes[0].buttons, MsgButtons::OkCancel);
    EXPECT_EQ(W().StatusText(6), "COM5 File lost");
    EXPECT_EQ(Host().Sbtn_com_open->text(), QStringLiteral("打开串口"));
    EXPECT_FALSE(W().ksComm1().Active());
    EXPECT_FALSE(W().ToolButton_Scan->isEnabled());
    EXPECT_EQ(imageOf(PortNamed(5)), kImgPortClosed);
    EXPECT_TRUE(W().isVisible());
}

TEST_F(MainWindow, AboutBoxPerUseAndCloseButton) {
    for (int i = 0; i < 2; ++i) {
        bool seen = false;
        QTimer::singleShot(20, [&] {
            auto* box = qobject_cast<TFmabout*>(QApplication::activeModalWidget());
            seen = box && box == W().AboutBox() && box->windowTitle() == QStringLiteral("关于软件");
            if (box) box->close();
        });
        W().ToolButton_About->click();
        EXPECT_TRUE(seen);
        EXPECT_EQ(W().AboutBox(), nullptr);
        EXPECT_TRUE(W().findChildren<TFmabout*>().isEmpty());
    }
    // Close ends the window without asking.
    W().ToolButton_Close->click();
    EXPECT_FALSE(W().isVisible());
    EXPECT_TRUE(boxes_.boxes.empty());
}

TEST_F(MainWindow, OpenAndCloseWhileBytesPourInNeverHangs) {
    // Received bytes reach the GUI thread through the executor while the GUI
    // thread opens and closes the port: closing must withdraw a pending
    // delivery rather than wait for it, and nothing may arrive after close.
    Select(PortNamed(5));
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        const char chunk[16] = {1, 3, 6, 0, 10, 0, char(0xA0), 0, char(0xA1)};
        while (!stop) {
            (void)::write(a_.MasterFd(), chunk, sizeof chunk);
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    });
    int opens = 0;
    for (int i = 0; i < 40; ++i) {
        Host().Sbtn_com_openClick();
        if (W().ksComm1().Active()) ++opens;
        QCoreApplication::processEvents();
        QTest::qWait(i % 3);
        Host().Sbtn_com_openClick();
        ASSERT_FALSE(W().ksComm1().Active());
        QCoreApplication::processEvents();
    }
    stop = true;
    writer.join();
    EXPECT_EQ(opens, 40);
    EXPECT_EQ(Host().Sbtn_com_open->text(), QStringLiteral("打开串口"));
    EXPECT_TRUE(boxes_.boxes.empty());
    // Nothing is delivered once closed.
    const auto before = W().Master().State().Recv_Str.size();
    QTest::qWait(50);
    EXPECT_LE(W().Master().State().Recv_Str.size(), before);
}

TEST_F(MainWindow, DirectoryNoticesAboutAnotherPortLeaveTheOpenPortAlone) {
    window_.reset();
    MakeWindow(/*watchDevices=*/true);
    OpenPort(12);
    // The notices come from the port directory.
    int notices = 0;
    DeviceChangeNotifier notifier([&] { ++notices; });
    ASSERT_TRUE(notifier.Watching());
    posix::Pty c;
    Publish(22, c.SlavePath());
    ASSERT_TRUE(WaitUntil([&] { return notices > 0; }, 3000));
    const int afterPublish = notices;
    VirtualPortDir::Unpublish(22);
    ASSERT_TRUE(WaitUntil([&] { return notices > afterPublish; }, 3000));
    QTest::qWait(300);
    EXPECT_TRUE(boxes_.boxes.empty());
    EXPECT_TRUE(W().ksComm1().Active());
    EXPECT_EQ(Host().Sbtn_com_open->text(), QStringLiteral("关闭串口"));
    EXPECT_EQ(W().StatusText(6), "COM12 Open: RTU\\9600\\8\\2\\None");
}
