#include "serialui/TksPortConfigDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
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
const Flow kFlows[] = {{"Xon / Xoff", dcbFlagProtocolXOnXOff},
                       {"硬件", dcbFlagProtocolHardware},
                       {"无", dcbFlagProtocolNone}};

}  // namespace

TksPortConfigDialog::TksPortConfigDialog(const std::string& portName, const TCommConfig& cfg,
                                         QWidget* parent)
    : QDialog(parent), cfg_(cfg) {
    setObjectName("TksPortConfigDialog");
    setWindowTitle(QString::fromStdString(portName) + " 属性");
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
    for (const char* p : {"无", "奇", "偶", "标记", "空格"}) CmbParity_->addItem(p);
    CmbParity_->setCurrentIndex(cfg.dcb.Parity <= 4 ? cfg.dcb.Parity : 0);

    CmbStopBits_ = new QComboBox(this);
    CmbStopBits_->setObjectName("CmbStopBits");
    for (const char* s : {"1", "1.5", "2"}) CmbStopBits_->addItem(s);
    CmbStopBits_->setCurrentIndex(cfg.dcb.StopBits <= 2 ? cfg.dcb.StopBits : 0);

    CmbFlow_ = new QComboBox(this);
    CmbFlow_->setObjectName("CmbFlow");
    for (const auto& f : kFlows) CmbFlow_->addItem(QString::fromUtf8(f.text));
    const uint32_t flags = cfg.dcb.Flags;
    if ((flags & dcbFlagProtocolXOnXOff) == dcbFlagProtocolXOnXOff) {
        CmbFlow_->setCurrentIndex(0);
    } else if ((flags & dcbFlagProtocolHardware) == dcbFlagProtocolHardware) {
        CmbFlow_->setCurrentIndex(1);
    } else {
        CmbFlow_->setCurrentIndex(2);
    }

    auto* form = new QFormLayout;
    form->addRow("每秒位数(B):", CmbBaud_);
    form->addRow("数据位(D):", CmbDataBits_);
    form->addRow("奇偶校验(P):", CmbParity_);
    form->addRow("停止位(S):", CmbStopBits_);
    form->addRow("数据流控制(F):", CmbFlow_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText("确定");
    buttons->button(QDialogButtonBox::Cancel)->setText("取消");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
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
