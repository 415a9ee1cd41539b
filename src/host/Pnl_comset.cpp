#include "host/Pnl_comset.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <exception>

#include "gui/Language.h"
#include "gui/MessageBoxes.h"
#include "modbus/Checks.h"
#include "modbus/CommFormats.h"
#include "modbus/ModbusMaster.h"
#include "serial/ksComm.h"
#include "serialui/TksDeviceBox.h"

namespace kelm {

namespace {

const QStringList kBaudItems = {"1200",  "2400",  "4800",  "9600",
                                "19200", "38400", "57600", "115200"};
constexpr int kBaudDefault = 3;

QString T(const QString& text) {
    return TrText("kelm::Pnl_comset", text);
}

// The captions of the settings' rows.
constexpr const char* kRowCaptions[] = {QT_TRANSLATE_NOOP("kelm::Pnl_comset", "串口号："),
                                        QT_TRANSLATE_NOOP("kelm::Pnl_comset", "协  议："),
                                        QT_TRANSLATE_NOOP("kelm::Pnl_comset", "波特率："),
                                        QT_TRANSLATE_NOOP("kelm::Pnl_comset", "数据位："),
                                        QT_TRANSLATE_NOOP("kelm::Pnl_comset", "停止位："),
                                        QT_TRANSLATE_NOOP("kelm::Pnl_comset", "校验位：")};

QComboBox* makeCombo(QWidget* parent, const char* name, const QStringList& items, int index) {
    auto* c = new QComboBox(parent);
    c->setObjectName(QString::fromLatin1(name));
    c->addItems(items);
    c->setCurrentIndex(index);
    return c;
}

}  // namespace

ByteString LinkCheckRequest(int protocolIndex) {
    // Read of holding registers 3-5, broadcast to address 0.
    return FrameForProtocol(OneWordBody(0, 3, 3, 3), protocolIndex);
}

LinkCheckStep LinkCheckStepAt(int step) {
    LinkCheckStep s;
    if (step < 0 || step >= kLinkCheckSteps) return s;
    // Each baud rate is tried twice with None/2 stop bits (steps 0-15), then
    // twice with Even/1 stop bit (16-31); step 32 repeats 115200 Even.
    const int half = step < 16 ? step : step - 16;
    s.baudIndex = std::min(half / 2, 7);
    if (step == 0) s.change = LinkCheckStep::Switch::NoParityTwoStop;
    if (step == 16) s.change = LinkCheckStep::Switch::EvenOneStop;
    return s;
}

QString LinkCheckFormatLine(int formatCode, int protocolLetter) {
    if (protocolLetter != kProtocolLetterRtu && protocolLetter != kProtocolLetterAscii) return {};
    const std::string label = CommFormatLabel(formatCode, protocolLetter == kProtocolLetterAscii);
    if (label.empty()) return {};
    return QCoreApplication::translate("kelm::Pnl_comset", "串口配置：%1")
        .arg(QString::fromStdString(label));
}

Pnl_comset::Pnl_comset(const HostContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("Pnl_comset"));

    Gro_comset = new QGroupBox(this);
    Gro_comset->setObjectName(QStringLiteral("Gro_comset"));
    auto* grid = new QGridLayout(Gro_comset);
    grid->setContentsMargins(16, 20, 16, 16);
    grid->setVerticalSpacing(14);
    grid->setHorizontalSpacing(10);

    Edit_COM_Num = new QLineEdit(Gro_comset);
    Edit_COM_Num->setObjectName(QStringLiteral("Edit_COM_Num"));
    Edit_COM_Num->setEnabled(false);
    Cmb_comXY = makeCombo(Gro_comset, "Cmb_comXY", {"RTU", "ASCII"}, 0);
    Cmb_combaud = makeCombo(Gro_comset, "Cmb_combaud", kBaudItems, kBaudDefault);
    Cmb_comdatabit = makeCombo(Gro_comset, "Cmb_comdatabit", {"7", "8"}, 1);
    Cmb_comdatabit->setEnabled(false);
    Cmb_comstopbit = makeCombo(Gro_comset, "Cmb_comstopbit", {"1", "2"}, 1);
    Cmb_comstopbit->setEnabled(false);
    Cmb_comcheckbit = makeCombo(Gro_comset, "Cmb_comcheckbit", {"None", "Even"}, 0);

    QWidget* const controls[] = {Edit_COM_Num,   Cmb_comXY,      Cmb_combaud,
                                 Cmb_comdatabit, Cmb_comstopbit, Cmb_comcheckbit};
    int row = 0;
    for (QWidget* control : controls) {
        auto* label = new QLabel(Gro_comset);
        rowLabels_.push_back(label);
        grid->addWidget(label, row, 0);
        control->setMinimumWidth(130);
        grid->addWidget(control, row, 1);
        ++row;
    }
    Sbtn_com_open = new QPushButton(Gro_comset);
    Sbtn_com_open->setObjectName(QStringLiteral("Sbtn_com_open"));
    btn_advanced = new QPushButton(Gro_comset);
    btn_advanced->setObjectName(QStringLiteral("btn_advanced"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Sbtn_com_open);
    buttons->addWidget(btn_advanced);
    grid->addLayout(buttons, row, 0, 1, 2);
    ++row;
    Label_net_note = new QLabel(Gro_comset);
    Label_net_note->setObjectName(QStringLiteral("Label_net_note"));
    Label_net_note->setWordWrap(true);
    Label_net_note->setMaximumWidth(260);
    Label_net_note->hide();
    grid->addWidget(Label_net_note, row, 0, 1, 2);

    Gro_com_advanced_info = new QGroupBox(this);
    Gro_com_advanced_info->setObjectName(QStringLiteral("Gro_com_advanced_info"));
    auto* adv = new QVBoxLayout(Gro_com_advanced_info);
    Memo_slavecominf = new QPlainTextEdit(Gro_com_advanced_info);
    Memo_slavecominf->setObjectName(QStringLiteral("Memo_slavecominf"));
    Memo_slavecominf->setReadOnly(true);
    Memo_slavecominf->setMinimumSize(560, 260);
    Memo_slavecominf->setLineWrapMode(QPlainTextEdit::NoWrap);
    Btn_readcominfo = new QPushButton(Gro_com_advanced_info);
    Btn_readcominfo->setObjectName(QStringLiteral("Btn_readcominfo"));
    adv->addWidget(Memo_slavecominf);
    adv->addWidget(Btn_readcominfo, 0, Qt::AlignRight);
    Gro_com_advanced_info->hide();

    // The port selector stays hidden and disabled; the tree is built from it.
    ksDeviceBox1_ = new TksDeviceBox(this);
    ksDeviceBox1_->setObjectName(QStringLiteral("ksDeviceBox1"));
    ksDeviceBox1_->setVisible(false);
    ksDeviceBox1_->setEnabled(false);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(20);
    layout->addWidget(Gro_comset, 0, Qt::AlignTop);
    layout->addWidget(Gro_com_advanced_info, 0, Qt::AlignTop);
    layout->addStretch(1);

    // Only the user's choices run the change handlers (activated is not
    // emitted for selections made by the program).
    connect(Cmb_comXY, &QComboBox::activated, this, [this] { Cmb_comXYChange(); });
    connect(Cmb_comcheckbit, &QComboBox::activated, this, [this] { Cmb_comcheckbitChange(); });
    connect(Sbtn_com_open, &QPushButton::clicked, this, [this] { Sbtn_com_openClick(); });
    connect(btn_advanced, &QPushButton::clicked, this, [this] { btn_advancedClick(); });
    connect(Btn_readcominfo, &QPushButton::clicked, this, [this] { Btn_readcominfoClick(); });

    ctx_.Timer_check_slavecom.SetEnabled(false);
    ctx_.Timer_check_slavecom.SetInterval(1000);
    ctx_.Timer_check_slavecom.SetOnTimer([this] { Timer_check_slavecomTimer(); });
    RetranslateUi();
}

void Pnl_comset::RetranslateUi() {
    Gro_comset->setTitle(tr("串口参数"));
    for (std::size_t i = 0; i < rowLabels_.size(); ++i)
        rowLabels_[i]->setText(QCoreApplication::translate("kelm::Pnl_comset", kRowCaptions[i]));
    Sbtn_com_open->setText(T(portOpen_ ? hosttext::kClose : hosttext::kOpen));
    btn_advanced->setText(T(advancedShown_ ? hosttext::kAdvancedHide : hosttext::kAdvancedShow));
    Gro_com_advanced_info->setTitle(tr("终端串口信息"));
    Btn_readcominfo->setText(tr("查询串口信息"));
    ShowNetNote();
    ShowMemo(memoKind_, memoAddress_, memoFormat_, memoLetter_);
}

void Pnl_comset::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) RetranslateUi();
    QWidget::changeEvent(event);
}

void Pnl_comset::ShowMemo(MemoKind kind, int address, int format, int letter) {
    memoKind_ = kind;
    memoAddress_ = address;
    memoFormat_ = format;
    memoLetter_ = letter;
    switch (kind) {
        case MemoKind::Intro:
            // One text, so that a translation can break its lines where it needs to.
            Memo_slavecominf->setPlainText(
                tr("\n说明：\n"
                   "1、模块默认地址为1，通讯参数为RTU/9600bps/8bit/2stop/None；\n"
                   "2、如果忘记通讯参数配置，请先选择RTU协议，单击“查询串口信息”按\n"
                   "钮自动查询，若失败后切换ASCII协议再重复操作；\n"
                   "3、使用该功能时通讯口下只能有一个模块；\n"));
            break;
        case MemoKind::Querying:
            MemoSet({T(hosttext::kQuerying)});
            break;
        case MemoKind::ClosedUnexpectedly:
            MemoSet({T(hosttext::kClosedUnexpectedly)});
            break;
        case MemoKind::NoAnswer:
            MemoSet({T(hosttext::kNoAnswer)});
            break;
        case MemoKind::Found:
            MemoSet({tr("地址：%1").arg(address), LinkCheckFormatLine(format, letter)});
            break;
    }
}

void Pnl_comset::ShowNetNote() {
    if (!netPort_) {
        Label_net_note->clear();
        return;
    }
    switch (netPort_->address.kind) {
        case net::NetKind::Tcp:
            Label_net_note->setText(T(hosttext::kNetNoteTcp));
            break;
        case net::NetKind::Rfc2217:
            Label_net_note->setText(T(hosttext::kNetNoteRfc2217));
            break;
        case net::NetKind::ModbusTcp:
            Label_net_note->setText(T(hosttext::kNetNoteModbusTcp));
            break;
    }
}

Pnl_comset::~Pnl_comset() {
    ctx_.Timer_check_slavecom.SetEnabled(false);
    ctx_.Timer_check_slavecom.SetOnTimer({});
}

int Pnl_comset::ProtocolIndex() const {
    return Cmb_comXY->currentIndex();
}

std::string Pnl_comset::ProtocolText() const {
    return Cmb_comXY->currentText().toStdString();
}

void Pnl_comset::SetComNumText(const QString& text) {
    Edit_COM_Num->setText(text);
}

void Pnl_comset::SetNetworkPort(std::optional<HostNetworkPort> port) {
    netPort_ = std::move(port);
    if (netPort_) Edit_COM_Num->setText(netPort_->portName);
    ShowNetNote();
    Label_net_note->setVisible(netPort_.has_value());
    // The lists of an open port stay locked until it is closed.
    if (!PortOpenByUser()) UpdateListStates(false);
}

void Pnl_comset::UpdateListStates(bool open) {
    // tcp:// and mbtcp:// carry no line settings: the server's own apply.
    const bool lineOnServer = netPort_ && netPort_->address.kind != net::NetKind::Rfc2217;
    Cmb_comXY->setEnabled(!open);
    Cmb_combaud->setEnabled(!open && !lineOnServer);
    Cmb_comcheckbit->setEnabled(!open && !lineOnServer);
}

QString Pnl_comset::PortText() const {
    const std::uint16_t number = ctx_.ksComm1.ComPortNo();
    if (ctx_.PortText) return ctx_.PortText(number);
    return QStringLiteral("COM%1").arg(number);
}

bool Pnl_comset::OpenPortIsNetwork() const {
    return net::IsNetworkPortName(ctx_.ksComm1.ComName());
}

bool Pnl_comset::PortOpenByUser() const {
    return portOpen_;
}

void Pnl_comset::Cmb_comXYChange() {
    // RTU frames carry 8 data bits, ASCII frames 7.
    if (Cmb_comXY->currentIndex() == 0)
        Cmb_comdatabit->setCurrentIndex(1);
    else if (Cmb_comXY->currentIndex() == 1)
        Cmb_comdatabit->setCurrentIndex(0);
}

void Pnl_comset::Cmb_comcheckbitChange() {
    // The modules pair no parity with two stop bits and even parity with one.
    if (Cmb_comcheckbit->currentIndex() == 0)
        Cmb_comstopbit->setCurrentIndex(1);
    else if (Cmb_comcheckbit->currentIndex() == 1)
        Cmb_comstopbit->setCurrentIndex(0);
}

void Pnl_comset::ApplyLineSettings() {
    ctx_.ksComm1.SetByteSize(Cmb_comdatabit->currentIndex() == 0 ? 7 : 8);
    ctx_.ksComm1.SetStopBits(Cmb_comstopbit->currentIndex() == 0 ? TStopBits::sbOne
                                                                 : TStopBits::sbTwo);
    ctx_.ksComm1.SetParity(Cmb_comcheckbit->currentIndex() == 0 ? TParity::pNone : TParity::pEven);
}

void Pnl_comset::Sbtn_com_openClick() {
    if (PortOpenByUser()) {
        Com_close();
        return;
    }
    // A Modbus TCP gateway would never carry an ASCII request: say so now
    // rather than open a port on which every request goes unanswered.
    if (netPort_ && netPort_->address.kind == net::NetKind::ModbusTcp &&
        Cmb_comXY->currentIndex() == 1) {
        ctx_.boxes.Show(T(hosttext::kWarningTitle), T(hosttext::kNetAsciiRefused), MsgIcon::Warning,
                        MsgButtons::Ok);
        return;
    }
    try {
        uint number = 0;
        if (netPort_) {
            number = netPort_->number;
        } else {
            bool ok = false;
            number = Edit_COM_Num->text().trimmed().toUInt(&ok);
            // A port number the component cannot hold is as unknown as a missing one.
            if (!ok) number = 0;
        }
        if (number == 0 || number > 0xFFFF) throw std::runtime_error("bad port number");
        ctx_.ksComm1.SetComPortNo(static_cast<std::uint16_t>(number));
        ctx_.ksComm1.SetBaudRate(Cmb_combaud->currentText().toUInt());
        ApplyLineSettings();
        ctx_.ksComm1.Update();
        ctx_.ksComm1.SetActive(true);
    } catch (const std::exception& e) {
        QString text = T(hosttext::kOpenFailed);
        // A network port has a reason worth showing (refused, timed out,
        // unknown host); a serial port keeps the one message it always had.
        if (netPort_) {
            QString why = QString::fromUtf8(e.what());
            why.replace(QLatin1Char('\r'), QLatin1Char('\n'));
            text += QStringLiteral("\n\n") + why;
        }
        ctx_.boxes.Show(T(hosttext::kWarningTitle), text, MsgIcon::Warning, MsgButtons::Ok);
        return;
    } catch (...) {
        ctx_.boxes.Show(T(hosttext::kWarningTitle), T(hosttext::kOpenFailed), MsgIcon::Warning,
                        MsgButtons::Ok);
        return;
    }
    portOpen_ = true;
    Sbtn_com_open->setText(T(hosttext::kClose));
    UpdateListStates(true);
    if (ctx_.SetScanEnabled) ctx_.SetScanEnabled(true);
    if (ctx_.RepaintPortIcon) ctx_.RepaintPortIcon();
    if (ctx_.SetPortNodeImage)
        ctx_.SetPortNodeImage(ctx_.master.State().Node_Level1_oldindex, true);
    SetPortText(OpenPortText());
}

void Pnl_comset::Com_close() {
    try {
        ctx_.ksComm1.SetActive(false);
    } catch (const std::exception& e) {
        // A plain box with the error's own text, titled like the program.
        ctx_.boxes.Show(QCoreApplication::applicationName(), QString::fromUtf8(e.what()),
                        MsgIcon::None, MsgButtons::Ok);
        return;
    } catch (...) {
        ctx_.boxes.Show(QCoreApplication::applicationName(),
                        QStringLiteral("The port could not be closed."), MsgIcon::None,
                        MsgButtons::Ok);
        return;
    }
    portOpen_ = false;
    Sbtn_com_open->setText(T(hosttext::kOpen));
    UpdateListStates(false);
    if (ctx_.SetScanEnabled) ctx_.SetScanEnabled(false);
    if (ctx_.RepaintPortIcon) ctx_.RepaintPortIcon();
    SetPortText(PortText() + QStringLiteral(" Close"));
    if (ctx_.SetPortNodeImage)
        ctx_.SetPortNodeImage(ctx_.master.State().Node_Level1_oldindex, false);
}

void Pnl_comset::btn_advancedClick() {
    advancedShown_ = !advancedShown_;
    Gro_com_advanced_info->setVisible(advancedShown_);
    btn_advanced->setText(T(advancedShown_ ? hosttext::kAdvancedHide : hosttext::kAdvancedShow));
}

void Pnl_comset::WMDeviceChange() {
    if (!PortOpenByUser()) return;
    // Notices keep arriving while the question below is open (the box runs
    // the event loop); one question at a time.
    if (askingPortLoss_) return;
    if (OpenPortIsNetwork()) {
        // A dropped connection is not dialled again behind the user's back:
        // the request in flight is gone, the server may be another by now,
        // and one that accepts and drops at once would be redialled forever.
        if (ctx_.ksComm1.Active()) return;
    } else {
        try {
            // A healthy open port makes this a no-op; a vanished one fails to reopen.
            ctx_.ksComm1.SetActive(true);
            return;
        } catch (...) {
        }
    }
    askingPortLoss_ = true;
    const bool quit = ctx_.boxes.Show(T(hosttext::kWarningTitle), T(hosttext::kPortLost),
                                      MsgIcon::Warning, MsgButtons::OkCancel);
    askingPortLoss_ = false;
    if (quit) {
        if (ctx_.CloseMainWindow) ctx_.CloseMainWindow();
        return;
    }
    Com_close();
    SetPortText(PortText() + QStringLiteral(" File lost"));
}

QString Pnl_comset::OpenPortText() const {
    // The port's name is joined, not substituted: a host may hold a '%'.
    return PortText() +
           QStringLiteral(" Open: %1\\%2\\%3\\%4\\%5")
               .arg(Cmb_comXY->currentText(), Cmb_combaud->currentText(),
                    Cmb_comdatabit->currentText(),
                    Cmb_comstopbit->currentIndex() == 0 ? QStringLiteral("1") : QStringLiteral("2"),
                    Cmb_comcheckbit->currentIndex() == 0 ? QStringLiteral("None")
                                                         : QStringLiteral("Even"));
}

void Pnl_comset::SetPortText(const QString& text) {
    ctx_.status.SetStatusText(kStatusPanelPort, text.toStdString());
}

void Pnl_comset::MemoSet(const QStringList& lines) {
    Memo_slavecominf->setPlainText(lines.join(QLatin1Char('\n')));
}

// --- link check ------------------------------------------------------------

void Pnl_comset::Btn_readcominfoClick() {
    if (!ctx_.ksComm1.Active()) {
        ctx_.boxes.Show(NoticeTitle(), T(hosttext::kNotOpen), MsgIcon::Warning, MsgButtons::Ok);
        return;
    }
    auto& st = ctx_.master.State();
    st.Modbus_Reg_Addr = 3;
    st.Send_Str = LinkCheckRequest(Cmb_comXY->currentIndex());
    ShowMemo(MemoKind::Querying);
    // The first request goes out on the first tick, a second from now; a
    // second click restarts the loop from step 0.
    ctx_.Timer_check_slavecom.SetEnabled(false);
    st.comauto_index = 0;
    ctx_.Timer_check_slavecom.SetEnabled(true);
}

void Pnl_comset::Timer_check_slavecomTimer() {
    auto& st = ctx_.master.State();
    if (!ctx_.ksComm1.Active()) {
        ctx_.Timer_check_slavecom.SetEnabled(false);
        ShowMemo(MemoKind::ClosedUnexpectedly);
        return;
    }
    if (st.comauto_index < 0 || st.comauto_index >= kLinkCheckSteps) {
        // Cannot happen through the handlers; stop rather than index past the table.
        ctx_.Timer_check_slavecom.SetEnabled(false);
        return;
    }
    const LinkCheckStep step = LinkCheckStepAt(st.comauto_index);
    try {
        if (step.change == LinkCheckStep::Switch::NoParityTwoStop) {
            Cmb_comdatabit->setCurrentIndex(Cmb_comXY->currentIndex() == 1 ? 0 : 1);
            Cmb_comcheckbit->setCurrentIndex(0);
            Cmb_comstopbit->setCurrentIndex(1);
            ApplyLineSettings();
        } else if (step.change == LinkCheckStep::Switch::EvenOneStop) {
            Cmb_comcheckbit->setCurrentIndex(1);
            Cmb_comstopbit->setCurrentIndex(0);
            ApplyLineSettings();
        }
        Cmb_combaud->setCurrentIndex(step.baudIndex);
        ctx_.ksComm1.SetBaudRate(Cmb_combaud->currentText().toUInt());
        ctx_.ksComm1.Update();
    } catch (...) {
        // The line could not be set up: the port is as good as gone.
        ctx_.Timer_check_slavecom.SetEnabled(false);
        ShowMemo(MemoKind::ClosedUnexpectedly);
        return;
    }
    ctx_.master.KELM_Uart_Send_String(st.Send_Str);
    SetPortText(OpenPortText());
    st.comauto_index += 1;
    if (st.comauto_index >= kLinkCheckSteps) {
        ctx_.Timer_check_slavecom.SetEnabled(false);
        ShowMemo(MemoKind::NoAnswer);
    }
}

void Pnl_comset::Disposal_Modbus03_checkcom(const Frame& Pbuf) {
    const int format = Pbuf.word(3);
    const int address = Pbuf.word(5);
    const int letter = Pbuf.word(7);
    if (format > 15 || address == 0 || address > 247 || (letter != 82 && letter != 65)) return;
    ShowMemo(MemoKind::Found, address, format, letter);
}

}  // namespace kelm
