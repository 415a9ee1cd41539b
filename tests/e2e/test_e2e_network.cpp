// End to end over the network: the real window with buses behind kelm-sim's
// TCP servers (a serial device server in raw mode, a Modbus TCP gateway) and
// behind ser2net in front of a simulated bus on a pty: scan, a panel action
// and the monitor; a dropped connection and an unreachable server.
#include <unistd.h>

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <thread>

#include "../app/NetworkPortFixture.h"
#include "app/TFMmonitor.h"
#include "app/TFMnetport.h"
#include "gui/Pictures.h"
#include "host/ScanDevice.h"
#include "host/TFMserching.h"
#include "kelm-sim/NetServer.h"
#include "kelm-sim/PtyServer.h"
#include "modbus/Checks.h"

using namespace kelm;
using namespace kelm::test;
using kelm::sim::ModuleConfig;
using kelm::sim::NetServer;
using kelm::sim::Protocol;

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE

namespace {

QString HexText(const ByteString& b) {
    QStringList parts;
    for (std::uint8_t x : b)
        parts << QStringLiteral("%1").arg(x, 2, 16, QLatin1Char('0')).toUpper();
    return parts.join(QLatin1Char(' '));
}

ModuleConfig module(std::uint8_t type, std::uint8_t address) {
    return ModuleConfig{type, address, 3, Protocol::Rtu};
}

}  // namespace

class NetworkEndToEnd : public NetworkPortFixture {
  protected:
    void StartServer(NetServer::Mode mode, std::vector<ModuleConfig> modules,
                     std::uint16_t port = 0) {
        std::string err;
        server_ = NetServer::Create(
            {mode, "127.0.0.1", port, std::move(modules), sim::kDefaultReplyDelay, nullptr}, &err);
        ASSERT_TRUE(server_) << err;
        server_->Start();
    }

    void TearDown() override {
        WindowFixture::TearDown();
        if (server_) server_->Stop();
    }

    void OpenNode(QTreeWidgetItem* node) {
        Select(node);
        Host().Sbtn_com_open->click();
        ASSERT_TRUE(boxes_.boxes.empty()) << boxes_.boxes[0].text.toStdString();
        ASSERT_TRUE(W().ksComm1().Active());
        ASSERT_TRUE(W().ToolButton_Scan->isEnabled());
    }

    // Scans addresses 240-247 from the toolbar's scan dialog.
    void ScanTheTop(QTreeWidgetItem* node, int expected) {
        bool driven = false;
        QTimer::singleShot(0, [&] {
            TFMserching* d = nullptr;
            WaitUntil([&] { return (d = W().ScanDialog()) != nullptr; });
            if (!d) return;
            d->findChild<QComboBox*>("Cmb_addr_start")->setCurrentIndex(239);
            d->findChild<QLineEdit*>("Edit_scan_time")->setText("500");
            d->findChild<QPushButton*>("Btn_start")->click();
            EXPECT_TRUE(WaitUntil([&] { return boxes_.Has("提示", "终端扫描完毕！"); }, 30000));
            EXPECT_TRUE(WaitUntil([&] { return node->childCount() == expected; }, 5000));
            driven = true;
            d->reject();
        });
        W().ToolButton_Scan->click();
        EXPECT_TRUE(driven);
        boxes_.Clear();
    }

    // The monitor open, the module's version query from its panel.
    void QueryVersionsWithTheMonitor(QTreeWidgetItem* moduleNode, std::uint8_t address) {
        W().ToolButton_Monitor->click();
        ASSERT_TRUE(W().Monitor());
        Select(moduleNode);
        auto* hw = W().PanelStack->currentWidget()->findChild<QLineEdit*>("Edit8AD_hardware");
        ASSERT_TRUE(hw);
        const MonitorModel& frames = W().Monitor()->Frames();
        const int before = frames.rowCount();
        W().PanelStack->currentWidget()->findChild<QToolButton*>("SpeedButton2")->click();
        ASSERT_TRUE(WaitUntil([&] { return hw->text() == "A1"; }, 10000))
            << hw->text().toStdString();
        EXPECT_EQ(W().findChild<QLineEdit*>("Edit8AD_software")->text(), "B3");
        ASSERT_TRUE(WaitUntil([&] { return frames.rowCount() >= before + 2; }, 5000));
        auto cell = [&](int row, int col) {
            return frames.data(frames.index(row, col), Qt::DisplayRole).toString();
        };
        EXPECT_EQ(cell(before, MonitorModel::kColDirection), "发送");
        EXPECT_EQ(cell(before, MonitorModel::kColBytes),
                  HexText(FrameRtu(OneWordBody(address, 3, 0, 3))));
        EXPECT_EQ(cell(before + 1, MonitorModel::kColDirection), "接收");
        EXPECT_EQ(cell(before + 1, MonitorModel::kColBytes),
                  HexText(FrameRtu({address, 3, 6, 0x00, 0x10, 0x00, 0xA1, 0x00, 0xB3})));
    }

    // Scan, a panel action and the monitor through the port of `node`.
    void ScanAndQuery(QTreeWidgetItem* node, const QString& text) {
        OpenNode(node);
        EXPECT_EQ(W().StatusText(6), text + QStringLiteral(" Open: RTU\\9600\\8\\2\\None"));
        EXPECT_EQ(node->data(0, kTreeImageIndexRole).toInt(), kImgPortOpen);
        EXPECT_EQ(node->icon(0).pixmap(20, 20).toImage(), NetworkPortPicture(true).toImage());
        ScanTheTop(node, 2);
        ASSERT_EQ(node->childCount(), 2);
        EXPECT_EQ(node->child(0)->text(0), "KELM-8AD(245)");
        EXPECT_EQ(node->child(1)->text(0), "KELM-16I(247)");
        EXPECT_EQ(node->child(1)->childCount(), 16);
        QueryVersionsWithTheMonitor(node->child(0), 245);
    }

    std::unique_ptr<NetServer> server_;
};

TEST_F(NetworkEndToEnd, RawTcpScanPanelAndMonitor) {
    StartServer(NetServer::Mode::Raw, {module(16, 245), module(11, 247)});
    MakeWindow();
    QTreeWidgetItem* node = AddPort(net::NetKind::Tcp, server_->Port());
    ASSERT_TRUE(node);
    ScanAndQuery(node, QStringLiteral("TCP 127.0.0.1:%1").arg(server_->Port()));
    Host().Sbtn_com_open->click();
    EXPECT_FALSE(W().ksComm1().Active());
    EXPECT_EQ(W().StatusText(6), QStringLiteral("TCP 127.0.0.1:%1 Close").arg(server_->Port()));
    EXPECT_EQ(node->icon(0).pixmap(20, 20).toImage(), NetworkPortPicture(false).toImage());
}

TEST_F(NetworkEndToEnd, ModbusTcpGatewayScanPanelAndMonitor) {
    StartServer(NetServer::Mode::ModbusTcp, {module(16, 245), module(11, 247)});
    MakeWindow();
    QTreeWidgetItem* node = AddPort(net::NetKind::ModbusTcp, server_->Port());
    ASSERT_TRUE(node);
    ScanAndQuery(node, QStringLiteral("MBTCP 127.0.0.1:%1").arg(server_->Port()));
}

TEST_F(NetworkEndToEnd, Ser2netInFrontOfASimulatedBus) {
    if (::access("/usr/sbin/ser2net", X_OK) != 0) GTEST_SKIP() << "ser2net is not installed";
    std::string err;
    auto bus = sim::PtyServer::Create(
        {{module(16, 245), module(11, 247)}, sim::kDefaultReplyDelay, nullptr}, &err);
    ASSERT_TRUE(bus) << err;
    bus->Start();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::uint16_t port = FreeLoopbackPort();
    const QString config = dir.filePath("ser2net.yaml");
    {
        QFile f(config);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray::fromStdString(Ser2netYaml("tcp", port, bus->SlavePath(), "9600n82")));
    }
    {
        ChildProcess ser2net({"/usr/sbin/ser2net", "-n", "-d", "-c", config.toStdString()});
        ASSERT_TRUE(ser2net.Started());
        ASSERT_TRUE(WaitUntil([&] { return AcceptsConnections(port); }, 20000));
        MakeWindow();
        QTreeWidgetItem* node = AddPort(net::NetKind::Tcp, port);
        ASSERT_TRUE(node);
        ScanAndQuery(node, QStringLiteral("TCP 127.0.0.1:%1").arg(port));
        Host().Sbtn_com_open->click();
        EXPECT_FALSE(W().ksComm1().Active());
        window_.reset();
    }
    bus->Stop();
}

TEST_F(NetworkEndToEnd, ADroppedConnectionAsksOnceAndReopeningWorks) {
    StartServer(NetServer::Mode::Raw, {module(16, 245)});
    const std::uint16_t port = server_->Port();
    MakeWindow();  // no device notices: the loss alone must bring the question
    QTreeWidgetItem* node = AddPort(net::NetKind::Tcp, port);
    ASSERT_TRUE(node);
    AddModule(node, "KELM-8AD(245)");
    OpenNode(node);
    const QString text = QStringLiteral("TCP 127.0.0.1:%1").arg(port);

    // The server ends the connection but goes on listening (once it has
    // taken the connection: a drop asked for before is not kept).
    ASSERT_TRUE(WaitUntil([&] { return server_->Connections() == 1; }, 10000));
    boxes_.answers.push_back(false);
    server_->DropClient();
    ASSERT_TRUE(WaitUntil([&] { return !boxes_.boxes.empty(); }, 30000));
    QTest::qWait(300);  // nothing asks again
    ExpectOneBox("警告", "主机串口丢失，需要手动重启，是否关闭程序？");
    EXPECT_EQ(W().StatusText(6), text + " File lost");
    EXPECT_EQ(Host().Sbtn_com_open->text(), QStringLiteral("打开串口"));
    EXPECT_FALSE(W().ToolButton_Scan->isEnabled());
    EXPECT_EQ(node->data(0, kTreeImageIndexRole).toInt(), kImgPortClosed);
    EXPECT_EQ(server_->Connections(), 1u) << "not dialled again behind the user's back";
    EXPECT_TRUE(W().isVisible());

    // Opening again reconnects, and the module answers.
    boxes_.Clear();
    OpenNode(node);
    QueryVersionsWithTheMonitor(node->child(0), 245);

    // The server is killed: asked once more; Cancel leaves the port closed.
    boxes_.Clear();
    boxes_.answers.push_back(false);
    server_->Stop();
    server_.reset();
    ASSERT_TRUE(WaitUntil([&] { return !boxes_.boxes.empty(); }, 30000));
    QTest::qWait(300);
    ExpectOneBox("警告", "主机串口丢失，需要手动重启，是否关闭程序？");
    EXPECT_FALSE(W().ksComm1().Active());

    // Nothing listens: the open fails with its reason.
    boxes_.Clear();
    Host().Sbtn_com_open->click();
    ASSERT_EQ(boxes_.boxes.size(), 1u);
    EXPECT_TRUE(boxes_.boxes[0].text.startsWith(QStringLiteral("串口不存在或被占用！\n\n")));
    EXPECT_TRUE(boxes_.boxes[0].text.endsWith(QStringLiteral("connection refused")))
        << boxes_.boxes[0].text.toStdString();
    EXPECT_FALSE(W().ksComm1().Active());

    // The server comes back on the same port: opening works again.
    boxes_.Clear();
    StartServer(NetServer::Mode::Raw, {module(16, 245)}, port);
    OpenNode(node);
    QueryVersionsWithTheMonitor(node->child(0), 245);
}

TEST_F(NetworkEndToEnd, OkInTheLossQuestionEndsTheProgram) {
    StartServer(NetServer::Mode::ModbusTcp, {module(16, 245)});
    MakeWindow();
    QTreeWidgetItem* node = AddPort(net::NetKind::ModbusTcp, server_->Port());
    ASSERT_TRUE(node);
    OpenNode(node);
    boxes_.answers.push_back(true);
    // The loss comes while the add dialog is up: OK closes it with the window.
    bool dialogClosed = false;
    QTimer::singleShot(0, [&] {
        WaitUntil([&] { return W().NetPortDialog() && W().NetPortDialog()->isVisible(); });
        EXPECT_TRUE(WaitUntil([&] { return server_->Connections() == 1; }, 10000));
        server_->DropClient();
        EXPECT_TRUE(WaitUntil([&] { return !boxes_.boxes.empty(); }, 30000));
        dialogClosed = W().NetPortDialog() && !W().NetPortDialog()->isVisible();
    });
    const int nodes = Root()->childCount();
    W().AddNetworkPortClick();
    EXPECT_TRUE(dialogClosed);
    EXPECT_EQ(W().NetPortDialog(), nullptr);
    EXPECT_EQ(Root()->childCount(), nodes) << "nothing added";
    ExpectOneBox("警告", "主机串口丢失，需要手动重启，是否关闭程序？");
    EXPECT_FALSE(W().isVisible());
}
