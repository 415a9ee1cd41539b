// End to end, in process: the real main window, the real serial component and
// simulated modules on a pseudo-terminal that the window finds in its port list.
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>

#include "../app/WindowFixture.h"
#include "gui/Pictures.h"
#include "host/ScanDevice.h"
#include "host/TFMserching.h"
#include "kelm-sim/PtyServer.h"

using namespace kelm;
using namespace kelm::test;
using kelm::sim::ModuleConfig;
using kelm::sim::Protocol;

namespace {

constexpr unsigned kCom = 7;

ModuleConfig module(std::uint8_t type, std::uint8_t address, std::uint8_t format = 3,
                    Protocol protocol = Protocol::Rtu) {
    return ModuleConfig{type, address, format, protocol};
}

}  // namespace

class EndToEnd : public WindowFixture {
  protected:
    // Puts the modules on a pty published as COM7 and builds the window.
    void StartBus(std::vector<ModuleConfig> modules, bool watchDevices = false) {
        std::string err;
        server_ =
            sim::PtyServer::Create({std::move(modules), sim::kDefaultReplyDelay, nullptr}, &err);
        ASSERT_TRUE(server_) << err;
        server_->Start();
        Publish(kCom, server_->SlavePath());
        MakeWindow(watchDevices);
        ASSERT_TRUE(PortNamed(kCom));
    }

    void TearDown() override {
        WindowFixture::TearDown();
        if (server_) server_->Stop();
    }

    // Runs the scan dialog from the toolbar; `drive` works the dialog while it
    // is shown modally, and the dialog is closed afterwards.
    void WithScanDialog(const std::function<void(TFMserching&)>& drive) {
        bool driven = false;
        QTimer::singleShot(0, [&] {
            TFMserching* d = nullptr;
            WaitUntil([&] { return (d = W().ScanDialog()) != nullptr; });
            if (d) {
                drive(*d);
                driven = true;
                d->reject();
            }
        });
        W().ToolButton_Scan->click();
        EXPECT_TRUE(driven);
        EXPECT_EQ(W().ScanDialog(), nullptr);
        EXPECT_FALSE(St().Scan_Device_Flag);
    }

    std::unique_ptr<sim::PtyServer> server_;
};

TEST_F(EndToEnd, ScanSelectQueryAndWriteNewParameters) {
    StartBus({module(12, 241), module(10, 243), module(16, 245), module(13, 247), module(11, 10)});
    OpenPort(kCom);
    EXPECT_EQ(W().StatusText(6), "COM7 Open: RTU\\9600\\8\\2\\None");

    WithScanDialog([&](TFMserching& d) {
        auto* start = d.findChild<QComboBox*>("Cmb_addr_start");
        auto* interval = d.findChild<QLineEdit*>("Edit_scan_time");
        ASSERT_TRUE(start && interval);
        EXPECT_EQ(interval->text(), "1000");
        start->setCurrentIndex(239);  // "240"
        interval->setText("500");
        d.findChild<QPushButton*>("Btn_start")->click();
        ASSERT_TRUE(WaitUntil([&] { return boxes_.Has("提示", "终端扫描完毕！"); }, 20000));
        // Address 247 answers while the box is up.
        ASSERT_TRUE(WaitUntil([&] { return PortNamed(kCom)->childCount() == 4; }, 3000));
        EXPECT_EQ(d.findChild<QProgressBar*>("ProgressBar1")->value(), 247);
        EXPECT_EQ(d.findChild<QLineEdit*>("Edit_addr_scan")->text(), "247");
    });

    QTreeWidgetItem* port = PortNamed(kCom);
    ASSERT_EQ(port->childCount(), 4);
    const QStringList names = {"KELM-16T(241)", "KELM-8I8T(243)", "KELM-8AD(245)", "KELM-8RY(247)"};
    const int channels[] = {16, 16, 0, 0};
    for (int i = 0; i < 4; ++i) {
        QTreeWidgetItem* m = port->child(i);
        EXPECT_EQ(m->text(0), names[i]);
        EXPECT_EQ(m->childCount(), channels[i]) << i;
        EXPECT_FALSE(m->isExpanded()) << "channels are collapsed";
        EXPECT_EQ(m->data(0, kTreeImageIndexRole).toInt(), kImgModule);
    }
    EXPECT_TRUE(port->isExpanded());
    EXPECT_EQ(port->child(1)->child(8)->text(0), "DO0");
    EXPECT_EQ(port->child(1)->child(8)->data(0, kTreeImageIndexRole).toInt(), kImgChannel);

    // A channel node: the output panel with its caption and index.
    Select(port->child(1)->child(10));
    EXPECT_EQ(W().PanelStack->currentWidget(), W().Pnl_Yo_type);
    EXPECT_EQ(W().Gro_Yo_mode->title(), "KELM-8I8T(243):DO2");
    EXPECT_EQ(St().Node_DeviceChild_Index, 10);
    // Its reset reads the mode word; the next request waits for that reply.
    ASSERT_TRUE(WaitUntil([&] { return W().Pnl_Yo_type->RaB_Yo_switch->isChecked(); }, 3000));

    // The module node: its panel, its address as the request address.
    Select(port->child(2));
    EXPECT_EQ(St().Node_Device_ID, 245);
    EXPECT_EQ(St().Node_Device_Name, "KELM-8AD");
    EXPECT_EQ(W().PanelStack->currentWidget()->objectName(), "Pnl_8AD");
    auto* hw = W().findChild<QLineEdit*>("Edit8AD_hardware");
    auto* sw = W().findChild<QLineEdit*>("Edit8AD_software");
    EXPECT_EQ(W().findChild<QLineEdit*>("Edit8AD_slave_addr")->text(), "245");
    EXPECT_EQ(W().findChild<QLineEdit*>("Edit8AD_device_name")->text(), "KELM-8AD");

    W().findChild<QToolButton*>("SpeedButton2")->click();
    EXPECT_EQ(W().StatusText(0), QStringLiteral("正在扫描终端数据......"));
    ASSERT_TRUE(WaitUntil([&] { return !hw->text().isEmpty(); }, 3000));
    EXPECT_EQ(hw->text(), "A1");
    EXPECT_EQ(sw->text(), "B3");
    EXPECT_EQ(W().StatusText(0), QStringLiteral("当前终端通讯响应正常!"));

    // New parameters: address 100, same format and protocol.
    W().findChild<QToolButton*>("Spb8AD_newcom_info")->click();
    auto* addr = W().findChild<QComboBox*>("Cmb8AD_new1slave_addr");
    addr->setCurrentIndex(99);
    boxes_.Clear();
    W().findChild<QPushButton*>("Btn8AD_newcom_set")->click();
    ASSERT_TRUE(WaitUntil([&] { return boxes_.Has("提示", "通讯参数配置成功！"); }, 3000));
    EXPECT_EQ(boxes_.boxes.back().icon, MsgIcon::Information);
    const std::uint8_t newAddress = server_->WithBus([](sim::SimBus& bus) {
        for (auto& m : bus.modules())
            if (m.config().typeCode == 16) return m.address();
        return std::uint8_t{0};
    });
    EXPECT_EQ(newAddress, 100);

    // Requests still go to the old address, which no longer answers.
    W().findChild<QToolButton*>("SpeedButton2")->click();
    EXPECT_TRUE(hw->text().isEmpty());
    QTest::qWait(400);
    EXPECT_TRUE(hw->text().isEmpty());
    EXPECT_EQ(St().Node_Device_ID, 245);
}

TEST_F(EndToEnd, ScanIntervalOutsideTheLimitsIsRefused) {
    StartBus({module(11, 2)});
    OpenPort(kCom);
    new QTreeWidgetItem(PortNamed(kCom), {"KELM-16I(9)"});  // an earlier result
    WithScanDialog([&](TFMserching& d) {
        d.findChild<QLineEdit*>("Edit_scan_time")->setText("100");
        d.findChild<QPushButton*>("Btn_start")->click();
        ExpectOneBox("提示", "扫描间隔区间500-5000ms！");
        EXPECT_FALSE(d.Timer_scan()->isActive());
        EXPECT_EQ(PortNamed(kCom)->childCount(), 0) << "the old results are gone";
    });
}

TEST_F(EndToEnd, LinkCheckFindsA19200NoParityModuleAtStepEight) {
    StartBus({module(11, 17, 4)});
    OpenPort(kCom);
    Host().btn_advanced->click();
    Host().Btn_readcominfo->click();
    EXPECT_EQ(Memo(), QStringLiteral("正在查询通讯参数..."));
    ASSERT_TRUE(WaitUntil([&] { return Memo().contains(QStringLiteral("地址")); }, 20000))
        << Memo().toStdString();
    EXPECT_EQ(Memo(), QStringLiteral("地址：17\n串口配置：19200/8/2/None"));
    EXPECT_EQ(St().comauto_index, 9) << "found by the request of step 8";
    EXPECT_EQ(Host().Cmb_combaud->currentText(), "19200");
    EXPECT_FALSE(W().Timer_check_slavecom()->isActive());
    EXPECT_EQ(W().StatusText(6), "COM7 Open: RTU\\19200\\8\\2\\None");
    EXPECT_EQ(W().ksComm1().BaudRate(), 19200u);
    QTest::qWait(1200);
    EXPECT_EQ(St().comauto_index, 9) << "the loop has stopped";
}

TEST_F(EndToEnd, LinkCheckInAscii) {
    StartBus({module(13, 33, 1, Protocol::Ascii)});
    OpenPort(kCom, 1);
    Host().Btn_readcominfo->click();
    EXPECT_EQ(St().Send_Str, ByteString({':', '0', '0', '0', '3', '0', '0', '0', '3', '0', '0', '0',
                                         '3', 'F', '7', '\r', '\n'}));
    ASSERT_TRUE(WaitUntil([&] { return Memo().contains(QStringLiteral("地址")); }, 10000))
        << Memo().toStdString();
    EXPECT_EQ(Memo(), QStringLiteral("地址：33\n串口配置：2400/7/2/None"));
    EXPECT_EQ(Host().Cmb_comdatabit->currentText(), "7");
    EXPECT_EQ(W().StatusText(6), "COM7 Open: ASCII\\2400\\7\\2\\None");
}

TEST_F(EndToEnd, OpeningAPortThatHasGoneFails) {
    StartBus({module(11, 2)});
    server_->Stop();
    VirtualPortDir::Unpublish(kCom);
    server_.reset();
    Select(PortNamed(kCom));
    Host().Sbtn_com_open->click();
    ExpectOneBox("警告", "串口不存在或被占用！");
    EXPECT_FALSE(W().ksComm1().Active());
    EXPECT_EQ(Host().Sbtn_com_open->text(), QStringLiteral("打开串口"));
}

TEST_F(EndToEnd, PortLossQuestionWithCancel) {
    StartBus({module(11, 2)}, /*watchDevices=*/true);
    OpenPort(kCom);
    boxes_.answers.push_back(false);
    // The simulator goes away: its pty hangs up and its link disappears.
    server_->Stop();
    server_.reset();
    VirtualPortDir::Unpublish(kCom);
    ASSERT_TRUE(WaitUntil([&] { return !boxes_.boxes.empty(); }, 5000));
    QTest::qWait(200);  // later notices must not ask again
    ExpectOneBox("警告", "主机串口丢失，需要手动重启，是否关闭程序？");
    EXPECT_EQ(W().StatusText(6), "COM7 File lost");
    EXPECT_EQ(Host().Sbtn_com_open->text(), QStringLiteral("打开串口"));
    EXPECT_FALSE(W().ToolButton_Scan->isEnabled());
    EXPECT_TRUE(W().isVisible());
}

TEST_F(EndToEnd, PortLostDuringAScanEndsTheProgramOnOk) {
    StartBus({module(11, 2)}, /*watchDevices=*/true);
    OpenPort(kCom);
    boxes_.answers.push_back(true);
    bool dialogClosed = false;
    WithScanDialog([&](TFMserching& d) {
        d.findChild<QLineEdit*>("Edit_scan_time")->setText("500");
        d.findChild<QPushButton*>("Btn_start")->click();
        server_->Stop();
        server_.reset();
        VirtualPortDir::Unpublish(kCom);
        ASSERT_TRUE(WaitUntil([&] { return !boxes_.boxes.empty(); }, 5000));
        EXPECT_EQ(boxes_.boxes[0].text,
                  QStringLiteral("主机串口丢失，需要手动重启，是否关闭程序？"));
        dialogClosed = !d.isVisible();
    });
    EXPECT_TRUE(dialogClosed) << "OK closes the scan dialog with the window";
    EXPECT_FALSE(W().isVisible());
}
