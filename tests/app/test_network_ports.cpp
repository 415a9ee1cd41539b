// The user's network ports in the window: the add dialog's checks, the node
// under "PC" with its own picture, the settings file that remembers it
// across a restart, its removal, the host port panel for each kind, and an
// unreachable port's open failure with its reason.

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>

#include "NetworkPortFixture.h"
#include "app/NetworkPorts.h"
#include "app/TFMnetport.h"
#include "gui/Pictures.h"
#include "host/ScanDevice.h"
#include "serial/posix/Pty.h"

using namespace kelm;
using namespace kelm::test;

namespace {

net::NetAddress Address(net::NetKind kind, const char* host, std::uint16_t port) {
    return net::NetAddress{kind, host, port};
}

}  // namespace

TEST(NetworkPortFields, GoodEntries) {
    const struct {
        int kind;
        const char* host;
        const char* port;
        const char* text;
        const char* name;
    } rows[] = {
        {0, "192.168.1.20", "4001", "TCP 192.168.1.20:4001", "tcp://192.168.1.20:4001"},
        {1, " gateway.local ", "2217", "RFC2217 gateway.local:2217",
         "rfc2217://gateway.local:2217"},
        {2, "::1", "502", "MBTCP [::1]:502", "mbtcp://[::1]:502"},
        {2, "[fe80::2]", "65535", "MBTCP [fe80::2]:65535", "mbtcp://[fe80::2]:65535"},
        {0, "10.0.0.5", "1", "TCP 10.0.0.5:1", "tcp://10.0.0.5:1"},
    };
    for (const auto& r : rows) {
        QString error;
        const auto a = NetworkPortFromFields(r.kind, QString::fromUtf8(r.host),
                                             QString::fromUtf8(r.port), &error);
        ASSERT_TRUE(a) << r.host << ": " << error.toStdString();
        EXPECT_EQ(NetworkPortText(*a), QString::fromUtf8(r.text));
        EXPECT_EQ(net::FormatNetAddress(*a), r.name);
    }
}

TEST(NetworkPortFields, BadEntriesAreRefusedWithTheirReason) {
    const struct {
        int kind;
        const char* host;
        const char* port;
        const char* message;  // what the message starts with
    } rows[] = {
        {0, "", "4001", "请输入主机名或IP地址。"},
        {0, "   ", "4001", "请输入主机名或IP地址。"},
        {0, "10.0.0.5", "", "端口号必须是1到65535之间的数字。"},
        {0, "10.0.0.5", "0", "端口号必须是1到65535之间的数字。"},
        {0, "10.0.0.5", "65536", "端口号必须是1到65535之间的数字。"},
        {0, "10.0.0.5", "40a1", "端口号必须是1到65535之间的数字。"},
        {0, "10.0.0.5", "+401", "端口号必须是1到65535之间的数字。"},
        {0, "10.0.0.5", "-1", "端口号必须是1到65535之间的数字。"},
        {1, "my host", "4001", "主机地址无效："},
        {2, "[::1", "502", "主机地址无效："},
        {0, "host\tname", "4001", "主机地址无效："},
        {3, "10.0.0.5", "4001", "请选择端口类型。"},
    };
    for (const auto& r : rows) {
        QString error;
        EXPECT_FALSE(NetworkPortFromFields(r.kind, QString::fromUtf8(r.host),
                                           QString::fromUtf8(r.port), &error))
            << r.host << ":" << r.port;
        EXPECT_TRUE(error.startsWith(QString::fromUtf8(r.message)))
            << r.host << ":" << r.port << " -> " << error.toStdString();
    }
}

TEST(NetworkPortNumbers, SmallestFreeFromTheFirst) {
    std::vector<NetworkPortEntry> ports;
    EXPECT_EQ(NextNetworkPortNumber(ports), kNetworkPortFirstNumber);
    ports.push_back({kNetworkPortFirstNumber, {}});
    ports.push_back({kNetworkPortFirstNumber + 2, {}});
    EXPECT_EQ(NextNetworkPortNumber(ports), kNetworkPortFirstNumber + 1);
}

class NetworkPortsWindow : public NetworkPortFixture {
  protected:
    // The root's context menu action, triggered while `drive` works the
    // modal add dialog.
    void WithAddDialog(const std::function<void(TFMnetport&)>& drive) {
        bool driven = false;
        QTimer::singleShot(0, [&] {
            TFMnetport* d = nullptr;
            WaitUntil([&] { return (d = W().NetPortDialog()) != nullptr && d->isVisible(); });
            if (d) {
                drive(*d);
                driven = true;
                if (d->isVisible()) d->reject();
            }
        });
        std::unique_ptr<QMenu> menu(W().TreeMenuFor(Root()));
        ASSERT_TRUE(menu);
        ASSERT_EQ(menu->actions().size(), 1);
        EXPECT_EQ(menu->actions()[0]->text(), QStringLiteral("添加网络端口..."));
        menu->actions()[0]->trigger();
        EXPECT_TRUE(driven);
        EXPECT_EQ(W().NetPortDialog(), nullptr);
    }

    static void Fill(TFMnetport& d, int kind, const QString& host, const QString& port) {
        d.Cmb_net_kind->setCurrentIndex(kind);
        d.Edit_net_host->setText(host);
        d.Edit_net_port->setText(port);
    }

    QTreeWidgetItem* NodeWithText(const QString& text) {
        for (int i = 0; i < Root()->childCount(); ++i)
            if (Root()->child(i)->text(0) == text) return Root()->child(i);
        return nullptr;
    }

    QString SettingsText() {
        QFile f(NetworkPortSettings::FilePath());
        if (!f.open(QIODevice::ReadOnly)) return {};
        return QString::fromUtf8(f.readAll());
    }
};

TEST_F(NetworkPortsWindow, TheDialogRefusesBadAddressesAndAddsAGoodOne) {
    MakeWindow();
    const int serialPorts = Root()->childCount();
    WithAddDialog([&](TFMnetport& d) {
        EXPECT_EQ(d.windowTitle(), QStringLiteral("添加网络端口"));
        Fill(d, 0, "192.168.1.20", "70000");
        d.Btn_ok->click();
        ExpectOneBox("警告", "端口号必须是1到65535之间的数字。");
        EXPECT_TRUE(d.isVisible()) << "the dialog stays for a correction";
        boxes_.Clear();
        Fill(d, 0, "", "4001");
        d.Btn_ok->click();
        ExpectOneBox("警告", "请输入主机名或IP地址。");
        boxes_.Clear();
        Fill(d, 0, "192.168.1.20", "4001");
        d.Btn_ok->click();
        EXPECT_TRUE(boxes_.boxes.empty());
    });
    ASSERT_EQ(Root()->childCount(), serialPorts + 1);
    QTreeWidgetItem* node = Root()->child(serialPorts);
    EXPECT_EQ(node->text(0), "TCP 192.168.1.20:4001");
    EXPECT_EQ(TreeNodeLevel(node), 1);
    EXPECT_EQ(node->data(0, kTreeImageIndexRole).toInt(), kImgPortClosed);
    EXPECT_EQ(node->icon(0).pixmap(20, 20).toImage(), NetworkPortPicture(false).toImage());
    EXPECT_NE(NetworkPortPicture(false).toImage(), ImageList2020(kImgPortClosed).toImage());
    EXPECT_TRUE(SettingsText().contains("tcp://192.168.1.20:4001")) << SettingsText().toStdString();

    // The same address again is refused by the dialog.
    WithAddDialog([&](TFMnetport& d) {
        Fill(d, 0, "192.168.1.20", "4001");
        d.Btn_ok->click();
        ExpectOneBox("警告", "该网络端口已存在：TCP 192.168.1.20:4001");
        EXPECT_TRUE(d.isVisible());
    });
    EXPECT_EQ(Root()->childCount(), serialPorts + 1);

    // Cancel adds nothing.
    boxes_.Clear();
    WithAddDialog([&](TFMnetport& d) {
        Fill(d, 2, "10.0.0.9", "502");
        d.Btn_cancel->click();
    });
    EXPECT_EQ(Root()->childCount(), serialPorts + 1);
    EXPECT_TRUE(boxes_.boxes.empty());
}

TEST_F(NetworkPortsWindow, RememberedAcrossARestartAndRemoved) {
    MakeWindow();
    const int serialPorts = Root()->childCount();
    ASSERT_TRUE(W().AddNetworkPort(Address(net::NetKind::Tcp, "192.168.1.20", 4001)));
    ASSERT_TRUE(W().AddNetworkPort(Address(net::NetKind::ModbusTcp, "::1", 1502)));
    ASSERT_TRUE(W().AddNetworkPort(Address(net::NetKind::Rfc2217, "dev.example", 2217)));
    EXPECT_TRUE(boxes_.boxes.empty());

    // A new window with the same settings directory.
    window_.reset();
    MakeWindow();
    ASSERT_EQ(Root()->childCount(), serialPorts + 3);
    EXPECT_EQ(Root()->child(serialPorts)->text(0), "TCP 192.168.1.20:4001");
    EXPECT_EQ(Root()->child(serialPorts + 1)->text(0), "MBTCP [::1]:1502");
    EXPECT_EQ(Root()->child(serialPorts + 2)->text(0), "RFC2217 dev.example:2217");
    EXPECT_TRUE(Root()->isExpanded());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Root()->child(serialPorts + i)->icon(0).pixmap(20, 20).toImage(),
                  NetworkPortPicture(false).toImage());

    // Serial port nodes and module nodes have no menu; network port nodes
    // have the remove action.
    if (serialPorts > 0) {
        EXPECT_EQ(W().TreeMenuFor(Root()->child(0)), nullptr);
    }
    QTreeWidgetItem* mbtcp = Root()->child(serialPorts + 1);
    EXPECT_EQ(W().TreeMenuFor(AddModule(mbtcp, "KELM-16I(3)")), nullptr);
    std::unique_ptr<QMenu> menu(W().TreeMenuFor(mbtcp));
    ASSERT_TRUE(menu);
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions()[0]->text(), QStringLiteral("删除网络端口"));
    menu->actions()[0]->trigger();
    ASSERT_EQ(Root()->childCount(), serialPorts + 2);
    EXPECT_EQ(NodeWithText("MBTCP [::1]:1502"), nullptr);
    EXPECT_FALSE(SettingsText().contains("mbtcp://")) << SettingsText().toStdString();

    menu.reset();  // a child of the window: gone before the window goes
    window_.reset();
    MakeWindow();
    ASSERT_EQ(Root()->childCount(), serialPorts + 2);
    EXPECT_EQ(Root()->child(serialPorts)->text(0), "TCP 192.168.1.20:4001");
    EXPECT_EQ(Root()->child(serialPorts + 1)->text(0), "RFC2217 dev.example:2217");
    // The component lists them under their numbers, after every serial port.
    const auto& users = W().ksComm1().UserPorts();
    ASSERT_EQ(users.size(), 2u);
    EXPECT_EQ(users[0].PortName, "tcp://192.168.1.20:4001");
    EXPECT_EQ(users[1].PortName, "rfc2217://dev.example:2217");
}

TEST_F(NetworkPortsWindow, AnEditedSettingsFileKeepsItsGoodEntriesOnly) {
    const QString path = NetworkPortSettings::FilePath();
    ASSERT_TRUE(path.startsWith(configDir_.path() + "/kelm/"));
    ASSERT_TRUE(QDir().mkpath(configDir_.path() + "/kelm"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(
        "[NetworkPorts]\n1\\port=tcp://10.0.0.5:4001\n2\\port=udp://10.0.0.5:4001\n"
        "3\\port=tcp://10.0.0.5:4001\n4\\port=mbtcp://10.0.0.6\n5\\port=mbtcp://10.0.0.6:502\n"
        "size=5\n");
    f.close();
    const auto ports = NetworkPortSettings::Load();
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0].Text(), "TCP 10.0.0.5:4001");
    EXPECT_EQ(ports[0].number, kNetworkPortFirstNumber);
    EXPECT_EQ(ports[1].Text(), "MBTCP 10.0.0.6:502");
    EXPECT_EQ(ports[1].number, kNetworkPortFirstNumber + 1);
}

TEST_F(NetworkPortsWindow, TheHostPanelShowsWhatAppliesToEachKind) {
    MakeWindow();
    ASSERT_TRUE(W().AddNetworkPort(Address(net::NetKind::Tcp, "127.0.0.1", 4001)));
    ASSERT_TRUE(W().AddNetworkPort(Address(net::NetKind::Rfc2217, "127.0.0.1", 4002)));
    ASSERT_TRUE(W().AddNetworkPort(Address(net::NetKind::ModbusTcp, "127.0.0.1", 4003)));
    const int n = Root()->childCount();
    const struct {
        int node;
        bool lineSettings;  // baud rate and parity apply
        QString note;
        QString portName;
    } rows[] = {
        {n - 3, false, hosttext::kNetNoteTcp, "tcp://127.0.0.1:4001"},
        {n - 2, true, hosttext::kNetNoteRfc2217, "rfc2217://127.0.0.1:4002"},
        {n - 1, false, hosttext::kNetNoteModbusTcp, "mbtcp://127.0.0.1:4003"},
    };
    for (const auto& r : rows) {
        Select(Root()->child(r.node));
        EXPECT_EQ(W().PanelStack->currentWidget(), W().PnlComset());
        EXPECT_TRUE(Host().Label_net_note->isVisibleTo(&Host()));
        EXPECT_EQ(Host().Label_net_note->text(), r.note);
        EXPECT_EQ(Host().Edit_COM_Num->text(), r.portName);
        EXPECT_TRUE(Host().Cmb_comXY->isEnabled());
        EXPECT_EQ(Host().Cmb_combaud->isEnabled(), r.lineSettings) << r.portName.toStdString();
        EXPECT_EQ(Host().Cmb_comcheckbit->isEnabled(), r.lineSettings);
        EXPECT_FALSE(Host().Cmb_comdatabit->isEnabled());
        EXPECT_FALSE(Host().Cmb_comstopbit->isEnabled());
    }
    // Back on a serial port node (a published pty), everything is as before.
    posix::Pty pty;
    pty.HoldSlaveOpen();
    Publish(3, pty.SlavePath());
    window_.reset();
    MakeWindow();
    Select(Root()->child(Root()->childCount() - 1));  // a network node first
    EXPECT_FALSE(Host().Cmb_combaud->isEnabled());
    Select(PortNamed(3));
    EXPECT_FALSE(Host().Label_net_note->isVisibleTo(&Host()));
    EXPECT_EQ(Host().Edit_COM_Num->text(), "3");
    EXPECT_TRUE(Host().Cmb_combaud->isEnabled());
    EXPECT_TRUE(Host().Cmb_comcheckbit->isEnabled());
}

TEST_F(NetworkPortsWindow, ModbusTcpRefusesAscii) {
    MakeWindow();
    QTreeWidgetItem* node = AddPort(net::NetKind::ModbusTcp, 4003);
    ASSERT_TRUE(node);
    Select(node);
    UserPick(Host().Cmb_comXY, 1);
    Host().Sbtn_com_open->click();
    ExpectOneBox("警告", "Modbus TCP 网关只转发 RTU 帧，不能使用 ASCII 协议。请选择 RTU 协议。");
    EXPECT_FALSE(W().ksComm1().Active());
    EXPECT_EQ(Host().Sbtn_com_open->text(), QStringLiteral("打开串口"));
}

TEST_F(NetworkPortsWindow, AnUnreachablePortFailsToOpenWithItsReason) {
    MakeWindow();
    const std::uint16_t port = FreeLoopbackPort();  // nothing listens there
    QTreeWidgetItem* node = AddPort(net::NetKind::Tcp, port);
    ASSERT_TRUE(node);
    Select(node);
    Host().Sbtn_com_open->click();
    ASSERT_EQ(boxes_.boxes.size(), 1u);
    const RecordedBox& box = boxes_.boxes[0];
    EXPECT_EQ(box.title, QStringLiteral("警告"));
    EXPECT_EQ(box.icon, MsgIcon::Warning);
    const QString name = QStringLiteral("tcp://127.0.0.1:%1").arg(port);
    EXPECT_EQ(box.text, QStringLiteral("串口不存在或被占用！\n\nDevice \"%1\" Open Error !!!\n"
                                       "connection refused")
                            .arg(name))
        << box.text.toStdString();
    EXPECT_FALSE(W().ksComm1().Active());
    EXPECT_EQ(Host().Sbtn_com_open->text(), QStringLiteral("打开串口"));
    EXPECT_EQ(node->data(0, kTreeImageIndexRole).toInt(), kImgPortClosed);
}
