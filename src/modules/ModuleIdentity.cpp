#include "modules/ModuleIdentity.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "gui/MessageBoxes.h"
#include "modbus/Bytes.h"
#include "modbus/CommFormats.h"
#include "modbus/ModbusMaster.h"
#include "models/ModelMap.h"
#include "modules/PanelTexts.h"
#include "modules/PanelWidgets.h"

namespace kelm {

namespace {

constexpr const char* kToggleClosedSource = QT_TRANSLATE_NOOP("kelm::Panels", "更新通讯参数>>");
constexpr const char* kToggleOpenSource = QT_TRANSLATE_NOOP("kelm::Panels", "更新通讯参数<<");
constexpr const char* kConfirmSource = QT_TRANSLATE_NOOP("kelm::Panels", "通讯参数配置成功！");

constexpr int kDefaultFormatCode = 3;  // "9600/8/2/None"
constexpr int kFirstSlaveAddr = 1;
constexpr int kLastSlaveAddr = 247;
// Registers 3-5: serial format code, address, protocol letter, written together.
const models::Item& CommFormatItem() {
    return *models::FindIdentityItem("com_format");
}
constexpr std::uint16_t kCommRegisters = 3;

QString Hex2(std::uint8_t v) {
    return QStringLiteral("%1").arg(static_cast<unsigned>(v), 2, 16, QLatin1Char('0')).toUpper();
}

}  // namespace

const QString ModuleIdentity::kToggleClosed = QString::fromUtf8(kToggleClosedSource);
const QString ModuleIdentity::kToggleOpen = QString::fromUtf8(kToggleOpenSource);
const QString ModuleIdentity::kConfirmText = QString::fromUtf8(kConfirmSource);

ModuleIdentity::ModuleIdentity(const ModuleContext& ctx, IdentityNames names, QWidget* panel)
    : QObject(panel), ctx_(ctx), names_(std::move(names)) {
    setObjectName(QStringLiteral("Identity") + names_.tag);
    const QString& t = names_.tag;
    const QString& tt = names_.toggleTag;

    // Identity box: a caption-less group of four read-only fields and the
    // query and toggle buttons.
    identityBox_ = new QGroupBox(panel);
    identityBox_->setObjectName(names_.identityBox);
    auto* grid = new QGridLayout(identityBox_);
    editDeviceName_ =
        MakeValueBox(QStringLiteral("Edit%1_device_name").arg(t), QString(), identityBox_);
    editHardware_ = MakeValueBox(QStringLiteral("Edit%1_hardware").arg(t), QString(), identityBox_);
    editSoftware_ = MakeValueBox(QStringLiteral("Edit%1_software").arg(t), QString(), identityBox_);
    editSlaveAddr_ =
        MakeValueBox(QStringLiteral("Edit%1_slave_addr").arg(t), QString(), identityBox_);
    const std::pair<const char*, QLineEdit*> rows[] = {
        {QT_TRANSLATE_NOOP("kelm::Panels", "设备型号："), editDeviceName_},
        {QT_TRANSLATE_NOOP("kelm::Panels", "硬件版本："), editHardware_},
        {QT_TRANSLATE_NOOP("kelm::Panels", "软件版本："), editSoftware_},
        {QT_TRANSLATE_NOOP("kelm::Panels", "当前地址："), editSlaveAddr_},
    };
    int row = 0;
    for (const auto& [caption, edit] : rows) {
        auto* label = new QLabel(identityBox_);
        ShowPanelText(label, caption);
        grid->addWidget(label, row, 0);
        grid->addWidget(edit, row, 1);
        ++row;
    }
    queryButton_ = MakeTextSpeedButton(names_.queryButton, names_.queryCaption, identityBox_);
    toggle_ = MakeTextSpeedButton(QStringLiteral("Spb%1_newcom_info").arg(tt), kToggleClosedSource,
                                  identityBox_);
    grid->addWidget(queryButton_, row++, 0, 1, 2);
    grid->addWidget(toggle_, row++, 0, 1, 2);

    // New-parameter box, hidden until the toggle opens it.
    newComBox_ = new QGroupBox(panel);
    ShowPanelText(newComBox_, QT_TRANSLATE_NOOP("kelm::Panels", "新通讯参数"));
    newComBox_->setObjectName(QStringLiteral("Gro%1_new_comset").arg(tt));
    auto* ngrid = new QGridLayout(newComBox_);
    cmbFormat_ = new QComboBox(newComBox_);
    cmbFormat_->setObjectName(QStringLiteral("Cmb%1_new1com_index").arg(t));
    cmbSlaveAddr_ = new QComboBox(newComBox_);
    cmbSlaveAddr_->setObjectName(QStringLiteral("Cmb%1_new1slave_addr").arg(t));
    cmbProtocol_ = new QComboBox(newComBox_);
    cmbProtocol_->setObjectName(QStringLiteral("Cmb%1_new1comXY").arg(t));
    cmbProtocol_->addItems({QStringLiteral("RTU"), QStringLiteral("ASCII")});
    const std::pair<const char*, QComboBox*> nrows[] = {
        {QT_TRANSLATE_NOOP("kelm::Panels", "串口配置："), cmbFormat_},
        {QT_TRANSLATE_NOOP("kelm::Panels", "地  址："), cmbSlaveAddr_},
        {QT_TRANSLATE_NOOP("kelm::Panels", "协  议："), cmbProtocol_},
    };
    row = 0;
    for (const auto& [caption, combo] : nrows) {
        auto* label = new QLabel(newComBox_);
        ShowPanelText(label, caption);
        ngrid->addWidget(label, row, 0);
        ngrid->addWidget(combo, row, 1);
        ++row;
    }
    writeButton_ = new QPushButton(newComBox_);
    ShowPanelText(writeButton_, names_.writeCaption);
    writeButton_->setObjectName(QStringLiteral("Btn%1_newcom_set").arg(t));
    ngrid->addWidget(writeButton_, row, 0, 1, 2);

    FillSlaveAddrList();
    FillFormats(false);
    cmbFormat_->setCurrentIndex(kDefaultFormatCode);
    cmbProtocol_->setCurrentIndex(0);
    newComBox_->hide();

    connect(queryButton_, &QToolButton::clicked, this, [this] { QueryClick(); });
    connect(toggle_, &QToolButton::clicked, this, [this] { NewComInfoClick(); });
    // activated: only the user's choice refills the format list, never a
    // selection made by program.
    connect(cmbProtocol_, &QComboBox::activated, this, [this](int) { New1comXYChange(); });
    connect(writeButton_, &QPushButton::clicked, this, [this] { NewComSetClick(); });
}

void ModuleIdentity::FillFormats(bool ascii) {
    cmbFormat_->clear();
    for (int code = 0; code < kCommFormatCount; ++code)
        cmbFormat_->addItem(QString::fromStdString(CommFormatLabel(code, ascii)));
}

void ModuleIdentity::FillSlaveAddrList() {
    // One insertion for the whole list: item-by-item insertion into seven
    // 247-entry lists is a noticeable part of the program's start-up.
    static const QStringList addresses = [] {
        QStringList list;
        list.reserve(kLastSlaveAddr - kFirstSlaveAddr + 1);
        for (int a = kFirstSlaveAddr; a <= kLastSlaveAddr; ++a) list.append(QString::number(a));
        return list;
    }();
    cmbSlaveAddr_->clear();
    cmbSlaveAddr_->addItems(addresses);
    cmbSlaveAddr_->setCurrentIndex(0);
}

void ModuleIdentity::SetDeviceFields(const QString& modelName, const QString& addressText) {
    editDeviceName_->setText(modelName);
    editSlaveAddr_->setText(addressText);
}

void ModuleIdentity::QueryClick() {
    editHardware_->clear();
    editSoftware_->clear();
    const models::Read read = models::IdentityRead();
    ctx_.master.Modbus_Send_oneWord(read.fc, read.start, read.quantity);
}

void ModuleIdentity::NewComInfoClick() {
    if (toggle_->text() == PanelTr(kToggleClosedSource)) {
        ShowPanelText(toggle_, kToggleOpenSource);
        newComBox_->show();
    } else {
        ShowPanelText(toggle_, kToggleClosedSource);
        newComBox_->hide();
    }
}

void ModuleIdentity::New1comXYChange() {
    FillFormats(cmbProtocol_->currentText() != QLatin1String("RTU"));
    cmbFormat_->setCurrentIndex(0);
}

void ModuleIdentity::NewComSetClick() {
    const int code = cmbFormat_->currentIndex();
    const QString addrText = cmbSlaveAddr_->currentText();
    bool ok = false;
    const int addr = addrText.toInt(&ok);
    // The lists are filled by program, so neither check fails in use; should
    // one ever be empty, nothing half-made goes on the wire.
    if (!ok) {
        ctx_.boxes.ReportConversionError(
            QStringLiteral("'%1' is not a valid integer value").arg(addrText));
        return;
    }
    if (code < 0 || code >= kCommFormatCount || addr < kFirstSlaveAddr || addr > kLastSlaveAddr)
        return;
    const std::uint8_t protocol = cmbProtocol_->currentText() == QLatin1String("RTU")
                                      ? kProtocolLetterRtu
                                      : kProtocolLetterAscii;
    const ByteString data = {0x00, static_cast<std::uint8_t>(code),
                             0x00, static_cast<std::uint8_t>(addr),
                             0x00, protocol};
    const models::Item& format = CommFormatItem();
    ctx_.master.Modbus_Send_Buf(format.writeOne, format.first, kCommRegisters, 2 * kCommRegisters,
                                data);
}

void ModuleIdentity::Reset() {
    editDeviceName_->clear();
    editSlaveAddr_->clear();
    editHardware_->clear();
    editSoftware_->clear();
    ShowPanelText(toggle_, kToggleClosedSource);
    FillFormats(false);
    cmbSlaveAddr_->setCurrentIndex(0);
    cmbProtocol_->setCurrentIndex(0);
    cmbFormat_->setCurrentIndex(kDefaultFormatCode);
    newComBox_->hide();
}

std::vector<ReplyRow> ModuleIdentity::ReplyRows() {
    std::vector<ReplyRow> rows;
    rows.push_back(
        ReadRow(*models::FindIdentityItem("type"), "versions", [this](const Frame& Pbuf) {
            editHardware_->setText(Hex2(Pbuf[6]));
            editSoftware_->setText(Hex2(Pbuf[8]));
        }));
    auto confirm = [this](const Frame&) {
        ctx_.boxes.Information(NoticeTitle(), PanelTr(kConfirmSource));
    };
    if (names_.confirm == ConfirmNewParameters::OnAnyWrite16)
        rows.push_back(
            AnyRegEcho(models::kFcWriteRegisters, "new communication parameters", confirm));
    else
        rows.push_back(ItemEcho(models::kFcWriteRegisters, CommFormatItem(),
                                "new communication parameters", confirm));
    return rows;
}

}  // namespace kelm
