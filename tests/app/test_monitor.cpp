// The communication monitor: one row per frame with the receiver's verdict and
// the reply row that took it, counters in all and per address, pause, clear,
// save, the bound on kept frames, and its place in the main window.
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <cstring>

#include "QtAppEnvironment.h"
#include "app/TFMmain.h"
#include "app/TFMmonitor.h"
#include "modules/ModuleRig.h"
#include "serial/VirtualPortDir.h"
#include "serial/posix/Pty.h"

// Readable failures.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE

using namespace kelm;
using namespace kelm::test;

namespace {

ByteString H(const char* hex) {
    ByteString out;
    const QByteArray bytes = QByteArray::fromHex(QByteArray(hex).replace(' ', ""));
    for (char c : bytes) out.push_back(static_cast<std::uint8_t>(c));
    return out;
}

ByteString Text(const char* s) {
    return ByteString(s, s + std::strlen(s));
}

const ByteString kVersions8AD = H("01 03 06 00 10 00 A1 00 B3");

class Monitor : public ::testing::Test {
  protected:
    ModuleRig rig;
    TFMmonitor monitor{rig.master, rig.boxes};

    void SetUp() override { rig.Select("KELM-8AD", 1); }

    QString Cell(int row, int col) const {
        const MonitorModel& m = monitor.Frames();
        return m.data(m.index(row, col), Qt::DisplayRole).toString();
    }
    int Rows() const { return monitor.Frames().rowCount(); }
    QString Verdict(int row) const { return Cell(row, MonitorModel::kColVerdict); }
    QString LastVerdict() const { return Verdict(Rows() - 1); }
};

TEST_F(Monitor, AVersionQueryAndItsReplyAreTwoRows) {
    rig.master.Modbus_Send_oneWord(3, 0, 3);
    rig.Receive(kVersions8AD);
    ASSERT_EQ(Rows(), 2);
    EXPECT_EQ(Cell(0, MonitorModel::kColDirection), "发送");
    EXPECT_EQ(Cell(0, MonitorModel::kColLength), "8");
    EXPECT_EQ(Cell(0, MonitorModel::kColBytes), "01 03 00 00 00 03 05 CB");
    EXPECT_EQ(Cell(0, MonitorModel::kColText), "");
    EXPECT_EQ(Verdict(0), "");
    EXPECT_EQ(Cell(0, MonitorModel::kColRequest), "地址1 功能码03 寄存器0");
    const ByteString wire = FrameRtu(kVersions8AD);
    EXPECT_EQ(Cell(1, MonitorModel::kColDirection), "接收");
    EXPECT_EQ(Cell(1, MonitorModel::kColLength), "11");
    EXPECT_TRUE(Cell(1, MonitorModel::kColBytes).startsWith("01 03 06 00 10 00 A1 00 B3 "));
    EXPECT_EQ(Verdict(1), "送 KELM_8AD_Event，表行 FC 03 @0 x6（versions）");
    EXPECT_EQ(Cell(1, MonitorModel::kColRequest), "地址1 功能码03 寄存器0");
    EXPECT_LE(Cell(0, MonitorModel::kColTime).toLongLong(),
              Cell(1, MonitorModel::kColTime).toLongLong());
    // The panel took it: the versions are on screen, as without the monitor.
    EXPECT_EQ(rig.panels.ForModel("KELM-8AD")->findChild<QLineEdit*>("Edit8AD_hardware")->text(),
              "A1");
    EXPECT_EQ(monitor.Counters().total.sent, 1u);
    EXPECT_EQ(monitor.Counters().total.accepted, 1u);
}

TEST_F(Monitor, VerdictsInWords) {
    ByteString badCrc = FrameRtu(kVersions8AD);
    badCrc[badCrc.size() - 1] = 0x00;
    badCrc[badCrc.size() - 2] = 0x00;
    const unsigned want = Calculate_CRC16_Modbus(badCrc.data(), 9);
    const QString wantText = QStringLiteral("%1").arg(want, 4, 16, QLatin1Char('0')).toUpper();
    const struct {
        int proto;
        std::uint16_t regAddr;
        ByteString wire;
        QString verdict;
    } rows[] = {
        {kProtocolRtu, 0, badCrc, "丢弃：CRC校验错误（收到 0000，应为 " + wantText + "）"},
        {kProtocolRtu, 0, H("01 03 00"), "丢弃：太短（3字节，至少5）"},
        {kProtocolRtu, 0, ByteString(300, 0x55), "丢弃：太长（300字节，至多256）"},
        {kProtocolRtu, 0, FrameRtu(H("07 03 06 00 10 00 A1 00 B3")),
         "丢弃：来自地址7，不是所选模块（地址1）"},
        {kProtocolRtu, 5, FrameRtu(H("00 03 06 00 03 00 01 00 52")),
         "丢弃：地址0的应答，但不是链路检测的应答"},
        // No row of the KELM-8AD table reads four bytes at register 0.
        {kProtocolRtu, 0, FrameRtu(H("01 03 04 00 10 00 A1")),
         "送 KELM_8AD_Event，无匹配表行（功能码03，寄存器0，字节数4）"},
        {kProtocolAscii, 0, Text(":0103060\r\n"),
         "丢弃：ASCII字符数为奇数（冒号与回车换行之间7个）"},
        {kProtocolAscii, 0, Text(":0105000GFF00FB\r\n"), "丢弃：含非十六进制字符（第9个字符）"},
        {kProtocolAscii, 0, Text(":01050000FF00FA\r\n"), "丢弃：LRC校验错误（收到 FA，应为 FB）"},
        {-1, 0, FrameRtu(kVersions8AD), "丢弃：未选择协议，无法校验"},
    };
    for (const auto& r : rows) {
        rig.protocol.index = r.proto;
        rig.St().Modbus_Reg_Addr = r.regAddr;
        rig.ReceiveRaw(r.wire);
        EXPECT_EQ(LastVerdict(), r.verdict);
    }
    // A model without a handler, and bytes that come while a reply is handled.
    rig.protocol.index = kProtocolRtu;
    rig.St().Node_Device_Name = "KELM-99";
    rig.Receive(kVersions8AD);
    EXPECT_EQ(LastVerdict(), "丢弃：型号“KELM-99”没有应答处理程序");
    rig.St().Recv_Flag = true;
    const ByteString flood(8192, 0xAA);
    rig.master.ksComm1AfterReceive(flood.data(), static_cast<std::uint32_t>(flood.size()));
    rig.St().Recv_Flag = false;
    EXPECT_EQ(LastVerdict(), "丢弃：在处理上一应答期间到达");
    EXPECT_EQ(Cell(Rows() - 1, MonitorModel::kColLength), "8192");
    // What a row keeps of a long delivery is bounded.
    EXPECT_EQ(monitor.Frames().At(Rows() - 1).bytes.size(), kMonitorBytesKept);
    EXPECT_TRUE(Cell(Rows() - 1, MonitorModel::kColBytes).endsWith("…（共8192字节）"));

    const MonitorCounts& t = monitor.Counters().total;
    EXPECT_EQ(t.accepted, 0u);
    EXPECT_EQ(t.Dropped(), 12u);
    EXPECT_EQ(t.dropped[kDropNoRow], 1u);
    EXPECT_EQ(t.dropped[static_cast<int>(ReceiveVerdict::CrcMismatch)], 1u);
}

TEST_F(Monitor, AsciiFramesShowTheirTextAndALateReplyItsRequest) {
    rig.protocol.index = kProtocolAscii;
    rig.master.Modbus_Send_oneWord(3, 0, 3);
    rig.master.Modbus_Send_oneWord(6, 8, 4000);  // newer than the reply that comes
    rig.Receive(kVersions8AD);
    ASSERT_EQ(Rows(), 3);
    EXPECT_EQ(Cell(0, MonitorModel::kColText), ":010300000003F9\\r\\n");
    EXPECT_EQ(Cell(0, MonitorModel::kColLength), "17");
    EXPECT_EQ(Cell(2, MonitorModel::kColRequest), "地址1 功能码06 寄存器8（应答功能码03与之不同）");
    // Read against register 8, no row of the panel takes it.
    EXPECT_EQ(Verdict(2), "送 KELM_8AD_Event，无匹配表行（功能码03，寄存器8，字节数6）");
}

TEST_F(Monitor, CountersInAllAndPerAddress) {
    rig.master.Modbus_Send_oneWord(3, 0, 3);
    rig.Receive(kVersions8AD);
    rig.master.Modbus_Send_oneWord(3, 0, 3);
    ByteString bad = FrameRtu(kVersions8AD);
    bad.back() ^= 1;
    rig.ReceiveRaw(bad);  // counted for the slave asked
    rig.Receive(H("02 03 06 00 10 00 A1 00 B3"));
    rig.Select("KELM-8AS", 3);
    rig.master.Modbus_Send_oneWord(4, 0, 8);
    monitor.RefreshCounters();

    const MonitorCounters& c = monitor.Counters();
    EXPECT_EQ(c.total.sent, 3u);
    EXPECT_EQ(c.total.accepted, 1u);
    EXPECT_EQ(c.total.Dropped(), 2u);
    ASSERT_EQ(c.perAddress.size(), 3u);
    EXPECT_EQ(c.perAddress.at(1).sent, 2u);
    EXPECT_EQ(c.perAddress.at(1).accepted, 1u);
    EXPECT_EQ(c.perAddress.at(1).dropped[static_cast<int>(ReceiveVerdict::CrcMismatch)], 1u);
    EXPECT_EQ(c.perAddress.at(2).dropped[static_cast<int>(ReceiveVerdict::OtherAddress)], 1u);
    EXPECT_EQ(c.perAddress.at(3).sent, 1u);

    EXPECT_EQ(monitor.Label_counters->text().section('\n', 0, 0),
              "发送 3 帧　接受 1 帧　丢弃 2 帧：CRC错误 1，非所选地址 1");
    QTableWidget* g = monitor.Grid_addresses;
    ASSERT_EQ(g->rowCount(), 3);
    const QStringList first = {"1", "2", "1", "1", "CRC错误 1"};
    for (int col = 0; col < 5; ++col) EXPECT_EQ(g->item(0, col)->text(), first[col]) << col;
    EXPECT_EQ(g->item(1, 4)->text(), "非所选地址 1");
}

TEST_F(Monitor, PauseClearAndSave) {
    rig.master.Modbus_Send_oneWord(3, 0, 3);
    monitor.Btn_pause->click();
    EXPECT_TRUE(monitor.Paused());
    EXPECT_EQ(monitor.Btn_pause->text(), "继续");
    rig.Receive(kVersions8AD);
    rig.master.Modbus_Send_oneWord(3, 0, 3);
    EXPECT_EQ(Rows(), 1);
    EXPECT_EQ(monitor.SkippedWhilePaused(), 2u);
    EXPECT_EQ(monitor.Counters().total.accepted, 0u) << "nothing is counted while paused";
    monitor.RefreshCounters();
    EXPECT_TRUE(monitor.Label_counters->text().contains("已暂停，未记录 2 帧"));
    monitor.Btn_pause->click();
    EXPECT_FALSE(monitor.Paused());
    EXPECT_EQ(monitor.Btn_pause->text(), "暂停");
    rig.Receive(kVersions8AD);
    ASSERT_EQ(Rows(), 2);

    QTemporaryDir dir;
    const QString path = dir.filePath("frames.txt");
    QString error;
    ASSERT_TRUE(monitor.SaveRows(path, &error)) << error.toStdString();
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    const QStringList sent = lines[0].split('\t');
    ASSERT_EQ(sent.size(), MonitorModel::kColumnCount);
    EXPECT_EQ(sent[MonitorModel::kColDirection], "发送");
    EXPECT_EQ(sent[MonitorModel::kColBytes], "01 03 00 00 00 03 05 CB");
    EXPECT_EQ(lines[1].split('\t')[MonitorModel::kColVerdict],
              "送 KELM_8AD_Event，表行 FC 03 @0 x6（versions）");
    // A place that cannot be written says why, and leaves nothing behind.
    EXPECT_FALSE(monitor.SaveRows(dir.filePath("no/such/dir/frames.txt"), &error));
    EXPECT_FALSE(error.isEmpty());

    monitor.Btn_clear->click();
    EXPECT_EQ(Rows(), 0);
    EXPECT_EQ(monitor.Counters().total.sent, 0u);
    EXPECT_TRUE(monitor.Counters().perAddress.empty());
    EXPECT_TRUE(monitor.SaveRows(path));
    QFile empty(path);
    ASSERT_TRUE(empty.open(QIODevice::ReadOnly));
    EXPECT_TRUE(empty.readAll().isEmpty());
}

// An afternoon of polling: the rows stop at the cap, the oldest go first; the
// counters go on counting.
TEST_F(Monitor, KeepsTheLastTenThousandFrames) {
    monitor.show();
    constexpr int kExtra = 50;
    for (int i = 0; i < kMonitorMaxFrames + kExtra; ++i)
        rig.master.Modbus_Send_oneWord(3, static_cast<std::uint16_t>(i), 1);
    EXPECT_EQ(Rows(), kMonitorMaxFrames);
    EXPECT_EQ(monitor.Frames().Capacity(), kMonitorMaxFrames);
    EXPECT_EQ(monitor.Frames().At(0).request.regAddr, kExtra);
    EXPECT_EQ(monitor.Frames().At(Rows() - 1).request.regAddr, kMonitorMaxFrames + kExtra - 1);
    EXPECT_EQ(monitor.Counters().total.sent,
              static_cast<std::uint64_t>(kMonitorMaxFrames + kExtra));
    // A reply row for a frame that is no longer kept changes nothing.
    ReplyRowInfo stale;
    stale.seq = 1;
    rig.master.ReportReplyRow(stale);
    EXPECT_EQ(monitor.Counters().total.Dropped(), 0u);
    QTest::qWait(300);  // the coalesced refresh
    EXPECT_TRUE(monitor.Label_counters->text().contains("显示 10000 帧"));
}

TEST_F(Monitor, DetachesWhenDestroyed) {
    EXPECT_NE(rig.master.FrameObserver(), nullptr);
    {
        TFMmonitor second(rig.master, rig.boxes);
        EXPECT_NE(rig.master.FrameObserver(), nullptr);
    }
    EXPECT_EQ(rig.master.FrameObserver(), nullptr);
    rig.master.Modbus_Send_oneWord(3, 0, 3);  // nobody watching: no call into a dead window
    EXPECT_EQ(rig.sink.frames.size(), 1u);
}

// The toolbar button opens one non-modal window, closing hides it, and it
// goes on recording; the master is not watched before it is first opened.
class MonitorInMainWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(portsDir_.isValid());
        qputenv("KELM_PORTS_DIR", portsDir_.path().toLocal8Bit());
        pty_.HoldSlaveOpen();
        ASSERT_TRUE(VirtualPortDir::Publish(3, pty_.SlavePath()));
        window_ = std::make_unique<TFMmain>(&boxes_, false);
        window_->show();
    }
    void TearDown() override {
        window_.reset();
        qunsetenv("KELM_PORTS_DIR");
    }
    QTemporaryDir portsDir_;
    posix::Pty pty_;
    RecordingMessageBoxes boxes_;
    std::unique_ptr<TFMmain> window_;
};

TEST_F(MonitorInMainWindow, ButtonOpensRaisesAndCloseHides) {
    TFMmain& w = *window_;
    QToolButton* b = w.findChild<QToolButton*>("ToolButton_Monitor");
    ASSERT_EQ(b, w.ToolButton_Monitor);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->text(), "通讯监视");
    EXPECT_TRUE(b->isEnabled());
    EXPECT_FALSE(b->icon().isNull());
    EXPECT_EQ(w.Monitor(), nullptr);
    EXPECT_EQ(w.Master().FrameObserver(), nullptr);

    b->click();
    TFMmonitor* m = w.Monitor();
    ASSERT_TRUE(m);
    EXPECT_TRUE(m->isVisible());
    EXPECT_FALSE(m->isModal());
    EXPECT_TRUE(m->isWindow());
    EXPECT_EQ(m->windowTitle(), "通讯监视");
    EXPECT_EQ(m->objectName(), "FMmonitor");
    EXPECT_TRUE(w.isEnabled()) << "the main window stays usable";

    m->close();
    EXPECT_FALSE(m->isVisible());
    // Hidden, it still records. With the port closed the request never
    // reaches the line, and its row says so.
    w.Master().State().Node_Device_ID = 4;
    w.Master().Modbus_Send_oneWord(3, 0, 3);
    ASSERT_EQ(m->Frames().rowCount(), 1);
    const MonitorModel& f = m->Frames();
    EXPECT_EQ(f.data(f.index(0, MonitorModel::kColVerdict), Qt::DisplayRole).toString(),
              "串口未打开，未发出");
    EXPECT_EQ(m->Counters().total.sent, 0u);
    b->click();
    EXPECT_EQ(w.Monitor(), m) << "the same window again";
    EXPECT_TRUE(m->isVisible());
    EXPECT_NE(w.Master().FrameObserver(), nullptr);
}

}  // namespace

// The words beside the hex: a request and the reply judged against it for
// each model, in RTU and in ASCII, the selected panel's channel modes
// converting the values, an exception reply, and "?" where nothing in the
// model's map matches.
TEST(MonitorWords, ARequestAndAReplyOfEachModelInBothProtocols) {
    struct Case {
        const char* model;
        std::uint8_t fc;
        std::uint16_t reg;
        std::uint16_t value;
        const char* reply;  // body without its check
        std::vector<int> modes;
        const char* requestWords;
        const char* replyWords;
    };
    const Case cases[] = {
        {"KELM-8I8T", 2, 0, 8, "01 02 01 05", {}, "读 DI0-7", "回复: DI0-7 ON: DI0 DI2"},
        {"KELM-8I8T", 5, 3, 0xFF00, "01 05 00 03 FF 00", {}, "写 DO3 = ON", "回复: 已写 DO3 = ON"},
        {"KELM-16I",
         6,
         11,
         200,
         "01 06 00 0B 00 C8",
         {},
         "写 DI5 滤波时间 = 200 x0.1ms",
         "回复: 已写 DI5 滤波时间 = 200 x0.1ms"},
        {"KELM-16T",
         3,
         6,
         2,
         "01 03 04 00 01 80 00",
         {},
         "读 DO0-15 初始状态、DO0-15 输出模式",
         "回复: DO0-15 初始状态 ON: DO0, DO0-15 输出模式 脉冲输出: DO15"},
        {"KELM-8RY", 1, 0, 8, "01 81 02", {}, "读 RY0-7", "回复: 异常 02"},
        {"KELM-2AO",
         6,
         8,
         12000,
         "01 06 00 08 2E E0",
         {0, 1},
         "写 AO0 = 12000 uA",
         "回复: 已写 AO0 = 12000 uA"},
        {"KELM-8AD",
         4,
         0,
         12,
         "01 04 18 01 7C FF 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01 FF FF",
         {0, 1, 2, 3, 4, 5, 6, -1},
         "读 AI0-7 测量值",
         "回复: AI0 = 10.0000 mA, AI1 = -10.2398 V, AI2 = -5.11992 V, AI3 = -2.55996 V, "
         "AI4 = -1.22878 V, AI5 = -0.61439 V, AI6 = -0.307195 V, AI7 = 131071"},
        {"KELM-8AS",
         3,
         6,
         8,
         "01 03 10 00 30 00 31 00 30 00 31 00 30 00 31 00 30 00 31",
         {},
         "读 CH0-7 模式",
         "回复: CH0 模式 = 电流, CH1 模式 = 电压, CH2 模式 = 电流, CH3 模式 = 电压, "
         "CH4 模式 = 电流, CH5 模式 = 电压, CH6 模式 = 电流, CH7 模式 = 电压"},
        {"KELM-8ASP",
         4,
         0,
         8,
         "01 04 10 07 D0 30 39 00 00 00 00 00 00 00 00 00 00 00 00",
         {0, 1},
         "读 AI0-7 测量值",
         "回复: AI0 = 0.625 mA, AI1 = 1.929 V, AI2 = 0.000, AI3 = 0.000, AI4 = 0.000, "
         "AI5 = 0.000, AI6 = 0.000, AI7 = 0.000"},
        // Nothing of the map at register 100, nor function code 43.
        {"KELM-8RY", 3, 100, 1, "01 03 02 00 01", {}, "?", "?"},
        {"KELM-8AD", 0x2B, 0x0E01, 0, "01 2B 0E 01", {}, "?", "?"},
    };
    for (int protocol : {kProtocolRtu, kProtocolAscii}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.model) + " " + c.requestWords +
                         (protocol == kProtocolAscii ? " ASCII" : " RTU"));
            ModuleRig rig;
            rig.protocol.index = protocol;
            TFMmonitor monitor{rig.master, rig.boxes};
            monitor.SetChannelModes([&c] { return c.modes; });
            rig.Select(c.model, 1);
            rig.master.Modbus_Send_oneWord(c.fc, c.reg, c.value);
            rig.Receive(H(c.reply));
            const MonitorModel& m = monitor.Frames();
            ASSERT_EQ(m.rowCount(), 2);
            auto words = [&m](int row) {
                return m.data(m.index(row, MonitorModel::kColWords), Qt::DisplayRole).toString();
            };
            EXPECT_EQ(words(0), QString::fromUtf8(c.requestWords));
            EXPECT_EQ(words(1), QString::fromUtf8(c.replyWords));
        }
    }
}

// A frame that fails its check has no words: the verdict says why.
TEST_F(Monitor, AFrameThatFailsItsCheckHasNoWords) {
    rig.master.Modbus_Send_oneWord(3, 0, 3);
    ByteString bad = FrameRtu(kVersions8AD);
    bad.back() ^= 0x01;
    rig.ReceiveRaw(bad);
    ASSERT_EQ(Rows(), 2);
    EXPECT_EQ(Cell(0, MonitorModel::kColWords), "读 型号、硬件版本、软件版本");
    EXPECT_EQ(Cell(1, MonitorModel::kColWords), "");
}
