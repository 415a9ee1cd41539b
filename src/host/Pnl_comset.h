#pragma once
// `Pnl_comset`: the host port panel. The host's protocol and serial format,
// opening and closing the port on ksComm1, the check of the open port on
// device changes, and the link check that finds a single module's address and
// serial format by walking the host through every format the modules know.
#include <QString>
#include <QWidget>
#include <cstdint>
#include <optional>
#include <vector>

#include "host/HostContext.h"
#include "modbus/Bytes.h"
#include "modbus/Interfaces.h"
#include "serial/net/NetAddress.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace kelm {

class TksDeviceBox;

// Captions and messages of the panel, as written; shown through
// TrText("kelm::Pnl_comset", ...).
namespace hosttext {
inline const QString kOpen = QStringLiteral(QT_TRANSLATE_NOOP("kelm::Pnl_comset", "打开串口"));
inline const QString kClose = QStringLiteral(QT_TRANSLATE_NOOP("kelm::Pnl_comset", "关闭串口"));
inline const QString kAdvancedShow =
    QStringLiteral(QT_TRANSLATE_NOOP("kelm::Pnl_comset", "高级>>"));
inline const QString kAdvancedHide =
    QStringLiteral(QT_TRANSLATE_NOOP("kelm::Pnl_comset", "高级<<"));
inline const QString kWarningTitle = QStringLiteral(QT_TRANSLATE_NOOP("kelm::Pnl_comset", "警告"));
inline const QString kOpenFailed =
    QStringLiteral(QT_TRANSLATE_NOOP("kelm::Pnl_comset", "串口不存在或被占用！"));
inline const QString kPortLost = QStringLiteral(
    QT_TRANSLATE_NOOP("kelm::Pnl_comset", "主机串口丢失，需要手动重启，是否关闭程序？"));
inline const QString kNotOpen =
    QStringLiteral(QT_TRANSLATE_NOOP("kelm::Pnl_comset", "串口没有打开！"));
inline const QString kQuerying =
    QStringLiteral(QT_TRANSLATE_NOOP("kelm::Pnl_comset", "正在查询通讯参数..."));
inline const QString kClosedUnexpectedly =
    QStringLiteral(QT_TRANSLATE_NOOP("kelm::Pnl_comset", "串口意外关闭！"));
inline const QString kNoAnswer = QStringLiteral(
    QT_TRANSLATE_NOOP("kelm::Pnl_comset", "通讯错误，需要更换主机串口协议或检查通讯连接线路！"));
// Network ports.
inline const QString kNetNoteTcp = QStringLiteral(QT_TRANSLATE_NOOP(
    "kelm::Pnl_comset", "网络端口（TCP 透传）：波特率和校验位在设备服务器上设置，此处不起作用。"));
inline const QString kNetNoteRfc2217 = QStringLiteral(QT_TRANSLATE_NOOP(
    "kelm::Pnl_comset", "网络端口（RFC 2217）：串口参数通过网络发送到设备服务器。"));
inline const QString kNetNoteModbusTcp = QStringLiteral(QT_TRANSLATE_NOOP(
    "kelm::Pnl_comset",
    "网络端口（Modbus TCP 网关）：串口参数在网关上设置，此处不起作用；只支持 RTU 协议。"));
inline const QString kNetAsciiRefused = QStringLiteral(QT_TRANSLATE_NOOP(
    "kelm::Pnl_comset", "Modbus TCP 网关只转发 RTU 帧，不能使用 ASCII 协议。请选择 RTU 协议。"));
}  // namespace hosttext

// The network port a port node stands for.
struct HostNetworkPort {
    std::uint16_t number = 0;  // the component's port number for it
    net::NetAddress address;
    QString portName;  // "tcp://10.0.0.5:4001"
};

// Status bar panel that shows the port text.
inline constexpr int kStatusPanelPort = 6;
// Steps of the link check's detection loop.
inline constexpr int kLinkCheckSteps = 33;

// The link check's broadcast read of registers 3-5 in the given protocol
// (0 RTU, 1 ASCII); empty for any other index.
ByteString LinkCheckRequest(int protocolIndex);

// Host setting of one detection step: baud index 0-7, and whether the step
// first switches the format (step 0: data bits by protocol, None, 2 stop bits;
// step 16: Even, 1 stop bit).
struct LinkCheckStep {
    int baudIndex = 0;
    enum class Switch { None, NoParityTwoStop, EvenOneStop } change = Switch::None;
};
LinkCheckStep LinkCheckStepAt(int step);

// The memo line naming a module's serial format ("串口配置：19200/8/2/None"), or
// an empty string for a code above 15 or a letter other than 'R'/'A'.
QString LinkCheckFormatLine(int formatCode, int protocolLetter);

class Pnl_comset : public QWidget, public IHostProtocol {
    Q_OBJECT
  public:
    explicit Pnl_comset(const HostContext& ctx, QWidget* parent = nullptr);
    ~Pnl_comset() override;

    // IHostProtocol: Cmb_comXY as the codec and the dispatcher read it.
    int ProtocolIndex() const override;
    std::string ProtocolText() const override;

    // The hidden port selector bound to ksComm1; the tree's port nodes are
    // built from its items.
    TksDeviceBox* ksDeviceBox1() const { return ksDeviceBox1_; }

    // Navigation puts the port number of the selected node here.
    void SetComNumText(const QString& text);
    // Navigation to a network port node: the port it opens, or nullopt for
    // a serial port node (then SetComNumText gives the number). Shows which
    // settings apply to the kind of port.
    void SetNetworkPort(std::optional<HostNetworkPort> port);
    const std::optional<HostNetworkPort>& NetworkPort() const { return netPort_; }

    // User changes of the lists (programmatic selections do not run these).
    void Cmb_comXYChange();
    void Cmb_comcheckbitChange();
    void Sbtn_com_openClick();
    // Closes the port and resets the panel; runs whether or not it was open.
    void Com_close();
    void btn_advancedClick();
    // The system's notice that devices were added or removed: checks the open
    // port and asks what to do when it has vanished.
    void WMDeviceChange();

    // Link check.
    void Btn_readcominfoClick();
    void Timer_check_slavecomTimer();
    void Disposal_Modbus03_checkcom(const Frame& Pbuf);

    // "COM3 Open: RTU\9600\8\2\None" for the setting in force.
    QString OpenPortText() const;
    // Whether the open/close button says the user has the port open.
    bool PortOpenByUser() const;

    // Widgets, for the window and for tests (also reachable by object name).
    QLineEdit* Edit_COM_Num = nullptr;
    QComboBox* Cmb_comXY = nullptr;
    QComboBox* Cmb_combaud = nullptr;
    QComboBox* Cmb_comdatabit = nullptr;
    QComboBox* Cmb_comstopbit = nullptr;
    QComboBox* Cmb_comcheckbit = nullptr;
    QPushButton* Sbtn_com_open = nullptr;
    QPushButton* btn_advanced = nullptr;
    QGroupBox* Gro_comset = nullptr;
    QGroupBox* Gro_com_advanced_info = nullptr;
    QPlainTextEdit* Memo_slavecominf = nullptr;
    QPushButton* Btn_readcominfo = nullptr;
    // Which settings apply to a network port; hidden for serial ports.
    QLabel* Label_net_note = nullptr;

  protected:
    void changeEvent(QEvent* event) override;

  private:
    // What the memo shows; kept so that it is shown again in another language.
    enum class MemoKind { Intro, Querying, ClosedUnexpectedly, NoAnswer, Found };
    void ShowMemo(MemoKind kind, int address = 0, int format = 0, int letter = 0);
    void RetranslateUi();
    // Enables the user's lists for the closed or open state and the kind of
    // the selected port.
    void UpdateListStates(bool open);
    // The status texts' name of the component's port.
    QString PortText() const;
    // Whether the component's port is a network port.
    bool OpenPortIsNetwork() const;
    // Copies the four line settings of the lists into ksComm1.
    void ApplyLineSettings();
    void MemoSet(const QStringList& lines);
    void SetPortText(const QString& text);
    void ShowNetNote();

    HostContext ctx_;
    TksDeviceBox* ksDeviceBox1_ = nullptr;
    bool askingPortLoss_ = false;
    // The open/close button's and the advanced button's states, which their
    // captions show.
    bool portOpen_ = false;
    bool advancedShown_ = false;
    std::vector<QLabel*> rowLabels_;
    MemoKind memoKind_ = MemoKind::Intro;
    int memoAddress_ = 0;
    int memoFormat_ = 0;
    int memoLetter_ = 0;
    std::optional<HostNetworkPort> netPort_;
};

}  // namespace kelm
