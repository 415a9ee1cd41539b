#include "serialui/TksPortConfigDialog.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFormLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace kelm {

namespace {

const uint32_t kBauds[] = {110,   300,   600,   1200,   2400,   4800,   9600,  14400,
                           19200, 38400, 57600, 115200, 230400, 460800, 921600};

// Flow control entries and the DCB flag masks they stand for.
struct Flow {
    const char* text;
    uint32_t mask;
};
const Flow kFlows[] = {
    {"Xon / Xoff", dcbFlagProtocolXOnXOff},
    {QT_TRANSLATE_NOOP("kelm::TksPortConfigDialog", "硬件"), dcbFlagProtocolHardware},
    {QT_TRANSLATE_NOOP("kelm::TksPortConfigDialog", "无"), dcbFlagProtocolNone}};

const char* const kParities[] = {QT_TRANSLATE_NOOP("kelm::TksPortConfigDialog", "无"),
                                 QT_TRANSLATE_NOOP("kelm::TksPortConfigDialog", "奇"),
                                 QT_TRANSLATE_NOOP("kelm::TksPortConfigDialog", "偶"),
                                 QT_TRANSLATE_NOOP("kelm::TksPortConfigDialog", "标记"),
                                 QT_TRANSLATE_NOOP("kelm::TksPortConfigDialog", "空格")};

const char* const kCaptions[] = {QT_TRANSLATE_NOOP("kelm::TksPortConfigDialog", "每秒位数(B):"),
                                 QT_TRANSLATE_NOOP("kelm::TksPortConfigDialog", "数据位(D):"),
                                 QT_TRANSLATE_NOOP("kelm::TksPortConfigDialog", "奇偶校验(P):"),
                                 QT_TRANSLATE_NOOP("kelm::TksPortConfigDialog", "停止位(S):"),
                                 QT_TRANSLATE_NOOP("kelm::TksPortConfigDialog", "数据流控制(F):")};

QString Tr(const char* text) {
    return QCoreApplication::translate("kelm::TksPortConfigDialog", text);
}

}  // namespace

TksPortConfigDialog::TksPortConfigDialog(const std::string& portName, const TCommConfig& cfg,
                                         QWidget* parent)
    : QDialog(parent), portName_(portName), cfg_(cfg) {
    setObjectName("TksPortConfigDialog");
    setModal(true);

    CmbBaud_ = new QComboBox(this);
    CmbBaud_->setObjectName("CmbBaud");
    for (uint32_t b : kBauds) CmbBaud_->addItem(QString::number(b), b);
    // A rate the list lacks is kept as it is, not replaced by another.
    if (CmbBaud_->findData(cfg.dcb.BaudRate) < 0) {
        CmbBaud_->addItem(QString::number(cfg.dcb.BaudRate), cfg.dcb.BaudRate);
    }
    CmbBaud_->setCurrentIndex(CmbBaud_->findData(cfg.dcb.BaudRate));

    CmbDataBits_ = new QComboBox(this);
    CmbDataBits_->setObjectName("CmbDataBits");
    for (int bits = 5; bits <= 8; ++bits) CmbDataBits_->addItem(QString::number(bits), bits);
    const int bitsIndex = CmbDataBits_->findData(static_cast<int>(cfg.dcb.ByteSize));
    CmbDataBits_->setCurrentIndex(bitsIndex >= 0 ? bitsIndex : 3);

    CmbParity_ = new QComboBox(this);
    CmbParity_->setObjectName("CmbParity");
    for (std::size_t i = 0; i < std::size(kParities); ++i) CmbParity_->addItem(QString());
    CmbParity_->setCurrentIndex(cfg.dcb.Parity <= 4 ? cfg.dcb.Parity : 0);

    CmbStopBits_ = new QComboBox(this);
    CmbStopBits_->setObjectName("CmbStopBits");
    for (const char* s : {"1", "1.5", "2"}) CmbStopBits_->addItem(s);
    CmbStopBits_->setCurrentIndex(cfg.dcb.StopBits <= 2 ? cfg.dcb.StopBits : 0);

    CmbFlow_ = new QComboBox(this);
    CmbFlow_->setObjectName("CmbFlow");
    for (std::size_t i = 0; i < std::size(kFlows); ++i) CmbFlow_->addItem(QString());
    const uint32_t flags = cfg.dcb.Flags;
    if ((flags & dcbFlagProtocolXOnXOff) == dcbFlagProtocolXOnXOff) {
        CmbFlow_->setCurrentIndex(0);
    } else if ((flags & dcbFlagProtocolHardware) == dcbFlagProtocolHardware) {
        CmbFlow_->setCurrentIndex(1);
    } else {
        CmbFlow_->setCurrentIndex(2);
    }

    auto* form = new QFormLayout;
    QComboBox* const rows[] = {CmbBaud_, CmbDataBits_, CmbParity_, CmbStopBits_, CmbFlow_};
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        labels_[i] = new QLabel(this);
        form->addRow(labels_[i], rows[i]);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons_ = buttons;
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    RetranslateUi();
}

void TksPortConfigDialog::RetranslateUi() {
    setWindowTitle(Tr(QT_TRANSLATE_NOOP("kelm::TksPortConfigDialog", "%1 属性"))
                       .arg(QString::fromStdString(portName_)));
    for (std::size_t i = 0; i < std::size(kCaptions); ++i) labels_[i]->setText(Tr(kCaptions[i]));
    for (std::size_t i = 0; i < std::size(kParities); ++i)
        CmbParity_->setItemText(static_cast<int>(i), Tr(kParities[i]));
    for (std::size_t i = 0; i < std::size(kFlows); ++i)
        CmbFlow_->setItemText(static_cast<int>(i), Tr(kFlows[i].text));
    buttons_->button(QDialogButtonBox::Ok)
        ->setText(Tr(QT_TRANSLATE_NOOP("kelm::TksPortConfigDialog", "确定")));
    buttons_->button(QDialogButtonBox::Cancel)
        ->setText(Tr(QT_TRANSLATE_NOOP("kelm::TksPortConfigDialog", "取消")));
}

void TksPortConfigDialog::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) RetranslateUi();
    QDialog::changeEvent(event);
}

TCommConfig TksPortConfigDialog::Result() const {
    TCommConfig out = cfg_;
    TDCB& d = out.dcb;
    d.BaudRate = CmbBaud_->currentData().toUInt();
    d.ByteSize = static_cast<uint8_t>(CmbDataBits_->currentData().toInt());
    d.Parity = static_cast<uint8_t>(CmbParity_->currentIndex());
    d.StopBits = static_cast<uint8_t>(CmbStopBits_->currentIndex());
    d.Flags &= ~DCB_fParity;
    if (d.Parity != 0) d.Flags |= DCB_fParity;
    const int flow = CmbFlow_->currentIndex();
    if (flow >= 0 && flow < static_cast<int>(std::size(kFlows))) {
        d.Flags = (d.Flags & dcbFlagProtocolCLEAR) | kFlows[flow].mask;
    }
    return out;
}

TksConfigDialogFn MakePortConfigDialogProvider(QWidget* parent) {
    QPointer<QWidget> owner(parent);
    return [owner](const std::string& portName, TCommConfig& cfg) {
        TksPortConfigDialog dialog(portName, cfg, owner.data());
        if (dialog.exec() != QDialog::Accepted) return false;
        cfg = dialog.Result();
        return true;
    };
}

}  // namespace kelm
