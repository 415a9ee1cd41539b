// A port that has no COM number of its own (an Exar or Bluetooth tty, listed
// from 4097 up) is shown as "COM" + number like every other port, and the
// main window opens it from its tree node.
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>

#include "WindowFixture.h"
#include "serial/EnumPorts.h"
#include "serial/SerialTestSupport.h"
#include "serial/posix/Pty.h"

using namespace kelm;
using namespace kelm::test;

namespace {

// The system as seen by the port list: one tty without a COM number.
class OneUnnumberedTty : public PortSource {
  public:
    explicit OneUnnumberedTty(std::string node) : node_(std::move(node)) {}
    std::vector<PortMapValue> ReadPortMap() override { return {}; }
    std::vector<PortDeviceRecord> DeviceRecords(bool) override {
        PortDeviceRecord r;
        r.PortName = node_;
        r.Description = "XR17V35X UART, " + node_;
        r.Service = "exar_serial";
        return {r};
    }

  private:
    std::string node_;
};

class HighPortNumbers : public WindowFixture {
  protected:
    void SetUp() override {
        WindowFixture::SetUp();
        pty_.HoldSlaveOpen();
        const std::string node = pty_.SlavePath();
        SetPortSourceFactory([node] { return std::make_unique<OneUnnumberedTty>(node); });
        MakeWindow();
    }
    void TearDown() override {
        WindowFixture::TearDown();
        SetPortSourceFactory({});
    }
    posix::Pty pty_;
};

}  // namespace

TEST_F(HighPortNumbers, APortPast4096IsNamedByItsNumberAndOpensFromItsNode) {
    ASSERT_EQ(Root()->childCount(), 1);
    EXPECT_EQ(Port(0)->text(0).toStdString(), "COM4097 (XR17V35X UART, " + pty_.SlavePath() + ")");
    Select(Port(0));
    EXPECT_EQ(Host().Edit_COM_Num->text(), "4097");
    OpenPort(4097);
    EXPECT_TRUE(boxes_.boxes.empty());
    EXPECT_EQ(W().ksComm1().ComPortNo(), 4097);
    EXPECT_EQ(W().ksComm1().ComName(), pty_.SlavePath());
    EXPECT_TRUE(W().StatusText(6).startsWith(QStringLiteral("COM4097 Open: ")));
    // The open port is the tty behind the node.
    W().ksComm1().SendString("K");
    EXPECT_EQ(ReadMaster(pty_.MasterFd(), 1), "K");
    Host().Sbtn_com_open->click();
    EXPECT_FALSE(W().ksComm1().Active());
}
