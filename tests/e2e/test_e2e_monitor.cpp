// End to end, in process: the communication monitor of the real main window
// over the real serial component, with simulated modules on a pseudo-terminal,
// and with a scripted peer on a pty of the test's own that answers badly.
#include <poll.h>
#include <unistd.h>

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>

#include "../app/WindowFixture.h"
#include "app/TFMmonitor.h"
#include "kelm-sim/PtyServer.h"
#include "modbus/Checks.h"
#include "serial/posix/Pty.h"

using namespace kelm;
using namespace kelm::test;
using kelm::sim::ModuleConfig;
using kelm::sim::Protocol;

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE

namespace {

constexpr unsigned kSimCom = 7;
constexpr unsigned kPeerCom = 8;

// The monitor's way of writing bytes: upper-case pairs, one blank between.
QString HexText(const ByteString& b) {
    QStringList parts;
    for (std::uint8_t x : b)
        parts << QStringLiteral("%1").arg(x, 2, 16, QLatin1Char('0')).toUpper();
    return parts.join(QLatin1Char(' '));
}

}  // namespace

class MonitorEndToEnd : public WindowFixture {
  protected:
    void StartBus(std::vector<ModuleConfig> modules) {
        std::string err;
        server_ =
            sim::PtyServer::Create({std::move(modules), sim::kDefaultReplyDelay, nullptr}, &err);
        ASSERT_TRUE(server_) << err;
        server_->Start();
        Publish(kSimCom, server_->SlavePath());
        MakeWindow();
    }
    void TearDown() override {
        WindowFixture::TearDown();
        if (server_) server_->Stop();
    }

    // Opens the monitor from the toolbar.
    TFMmonitor& OpenMonitor() {
        W().ToolButton_Monitor->click();
        EXPECT_TRUE(W().Monitor() && W().Monitor()->isVisible());
        return *W().Monitor();
    }
    // A module node as the scan leaves it, selected; its panel's version query.
    void SelectModule(unsigned com, const QString& node) {
        QTreeWidgetItem* m = AddModule(PortNamed(static_cast<int>(com)), node);
        Select(m);
    }
    void QueryVersions() {
        W().PanelStack->currentWidget()->findChild<QToolButton*>("SpeedButton2")->click();
    }

    QString Cell(int row, int col) {
        const MonitorModel& m = W().Monitor()->Frames();
        return m.data(m.index(row, col), Qt::DisplayRole).toString();
    }
    int Rows() { return W().Monitor()->Frames().rowCount(); }

    std::unique_ptr<sim::PtyServer> server_;
};

TEST_F(MonitorEndToEnd, AVersionQueryAndItsReplyAreTwoRows) {
    StartBus({ModuleConfig{16, 245, 3, Protocol::Rtu}});
    OpenPort(kSimCom);
    TFMmonitor& monitor = OpenMonitor();
    SelectModule(kSimCom, "KELM-8AD(245)");
    QueryVersions();
    ASSERT_TRUE(WaitUntil([&] { return Rows() >= 2; }, 5000)) << Rows();
    QTest::qWait(300);  // nothing else comes
    ASSERT_EQ(Rows(), 2);
    EXPECT_EQ(Cell(0, MonitorModel::kColDirection), "发送");
    EXPECT_EQ(Cell(0, MonitorModel::kColBytes), HexText(FrameRtu(OneWordBody(245, 3, 0, 3))));
    EXPECT_EQ(Cell(0, MonitorModel::kColRequest), "地址245 功能码03 寄存器0");
    EXPECT_EQ(Cell(1, MonitorModel::kColDirection), "接收");
    // Type 16, hardware A1, software B3, as the simulated module reports them.
    EXPECT_EQ(Cell(1, MonitorModel::kColBytes),
              HexText(FrameRtu({245, 3, 6, 0x00, 0x10, 0x00, 0xA1, 0x00, 0xB3})));
    EXPECT_EQ(Cell(1, MonitorModel::kColLength), "11");
    EXPECT_EQ(Cell(1, MonitorModel::kColVerdict),
              "送 KELM_8AD_Event，表行 FC 03 @0 x6（versions）");
    EXPECT_EQ(Cell(1, MonitorModel::kColRequest), "地址245 功能码03 寄存器0");
    EXPECT_EQ(W().findChild<QLineEdit*>("Edit8AD_hardware")->text(), "A1");
    EXPECT_EQ(monitor.Counters().total.sent, 1u);
    EXPECT_EQ(monitor.Counters().total.accepted, 1u);
    EXPECT_EQ(monitor.Counters().perAddress.at(245).accepted, 1u);
}

TEST_F(MonitorEndToEnd, AModuleAtAnotherFormatGivesASentRowAndNoReply) {
    // The module listens at 19200 baud; the host talks at 9600.
    StartBus({ModuleConfig{16, 245, 4, Protocol::Rtu}});
    OpenPort(kSimCom);
    TFMmonitor& monitor = OpenMonitor();
    SelectModule(kSimCom, "KELM-8AD(245)");
    QueryVersions();
    ASSERT_TRUE(WaitUntil([&] { return Rows() >= 1; }, 3000));
    QTest::qWait(800);  // far longer than the module's answer would take
    ASSERT_EQ(Rows(), 1);
    EXPECT_EQ(Cell(0, MonitorModel::kColDirection), "发送");
    EXPECT_EQ(Cell(0, MonitorModel::kColVerdict), "");
    EXPECT_EQ(monitor.Counters().total.sent, 1u);
    EXPECT_EQ(monitor.Counters().total.accepted + monitor.Counters().total.Dropped(), 0u);
    EXPECT_TRUE(W().findChild<QLineEdit*>("Edit8AD_hardware")->text().isEmpty());
}

// A peer of our own on a pty reads the request and answers with a wrong CRC.
TEST_F(MonitorEndToEnd, AReplyWithABadCrcShowsItsReason) {
    posix::Pty peer;
    peer.HoldSlaveOpen();
    Publish(kPeerCom, peer.SlavePath());
    MakeWindow();
    OpenPort(kPeerCom);
    TFMmonitor& monitor = OpenMonitor();
    SelectModule(kPeerCom, "KELM-8AD(1)");
    QueryVersions();

    const ByteString request = FrameRtu(OneWordBody(1, 3, 0, 3));
    ByteString got;
    ASSERT_TRUE(WaitUntil(
        [&] {
            pollfd p{peer.MasterFd(), POLLIN, 0};
            if (poll(&p, 1, 0) > 0) {
                std::uint8_t buf[64];
                const ssize_t n = read(peer.MasterFd(), buf, sizeof buf);
                if (n > 0) got.insert(got.end(), buf, buf + n);
            }
            return got.size() >= request.size();
        },
        5000));
    EXPECT_EQ(got, request);

    ByteString reply = FrameRtu({1, 3, 6, 0x00, 0x10, 0x00, 0xA1, 0x00, 0xB3});
    const std::uint16_t crc = Calculate_CRC16_Modbus(reply.data(), 9);
    reply[9] ^= 0xFF;  // the low byte of the CRC
    ASSERT_EQ(write(peer.MasterFd(), reply.data(), reply.size()),
              static_cast<ssize_t>(reply.size()));
    ASSERT_TRUE(WaitUntil([&] { return Rows() >= 2; }, 5000));
    QTest::qWait(200);
    ASSERT_EQ(Rows(), 2);
    EXPECT_EQ(Cell(1, MonitorModel::kColDirection), "接收");
    EXPECT_EQ(Cell(1, MonitorModel::kColBytes), HexText(reply));
    const QString expectCrc =
        QStringLiteral("丢弃：CRC校验错误（收到 %1，应为 %2）")
            .arg(static_cast<unsigned>(reply[10] << 8 | reply[9]), 4, 16, QLatin1Char('0'))
            .arg(crc, 4, 16, QLatin1Char('0'))
            .toUpper();
    EXPECT_EQ(Cell(1, MonitorModel::kColVerdict), expectCrc);
    EXPECT_EQ(monitor.Counters().total.dropped[static_cast<int>(ReceiveVerdict::CrcMismatch)], 1u);
    EXPECT_EQ(monitor.Counters().perAddress.at(1).Dropped(), 1u) << "counted for the slave asked";
    // As without the monitor: nothing on the panel, not even the status text.
    EXPECT_TRUE(W().findChild<QLineEdit*>("Edit8AD_hardware")->text().isEmpty());
    EXPECT_EQ(W().StatusText(0), QStringLiteral("正在扫描终端数据......"));
}
