#include "app/TFMnetport.h"

#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/NetworkPorts.h"
#include "gui/MessageBoxes.h"

namespace kelm {

TFMnetport::TFMnetport(IMessageBoxes& boxes, std::function<bool(const net::NetAddress&)> taken,
                       QWidget* parent)
    : QDialog(parent), boxes_(boxes), taken_(std::move(taken)) {
    setObjectName(QStringLiteral("FMnetport"));
    setModal(true);

    Cmb_net_kind = new QComboBox(this);
    Cmb_net_kind->setObjectName(QStringLiteral("Cmb_net_kind"));
    Cmb_net_kind->addItems(
        {QStringLiteral("TCP (raw)"), QStringLiteral("RFC 2217"), QStringLiteral("Modbus TCP")});
    Edit_net_host = new QLineEdit(this);
    Edit_net_host->setObjectName(QStringLiteral("Edit_net_host"));
    Edit_net_host->setPlaceholderText(QStringLiteral("192.168.1.20"));
    Edit_net_host->setMinimumWidth(220);
    Edit_net_port = new QLineEdit(this);
    Edit_net_port->setObjectName(QStringLiteral("Edit_net_port"));
    Edit_net_port->setPlaceholderText(QStringLiteral("4001"));
    Edit_net_port->setMaxLength(5);

    auto* form = new QFormLayout;
    Label_kind_ = new QLabel(this);
    Label_host_ = new QLabel(this);
    Label_port_ = new QLabel(this);
    form->addRow(Label_kind_, Cmb_net_kind);
    form->addRow(Label_host_, Edit_net_host);
    form->addRow(Label_port_, Edit_net_port);

    Btn_ok = new QPushButton(this);
    Btn_ok->setObjectName(QStringLiteral("Btn_ok"));
    Btn_ok->setDefault(true);
    Btn_cancel = new QPushButton(this);
    Btn_cancel->setObjectName(QStringLiteral("Btn_cancel"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Btn_ok);
    buttons->addWidget(Btn_cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);

    connect(Btn_ok, &QPushButton::clicked, this, [this] { Btn_okClick(); });
    connect(Btn_cancel, &QPushButton::clicked, this, &QDialog::reject);
    RetranslateUi();
}

void TFMnetport::RetranslateUi() {
    setWindowTitle(tr("添加网络端口"));
    Label_kind_->setText(tr("类型："));
    Label_host_->setText(tr("主机："));
    Label_port_->setText(tr("端口："));
    Btn_ok->setText(tr("确定"));
    Btn_cancel->setText(tr("取消"));
}

void TFMnetport::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) RetranslateUi();
    QDialog::changeEvent(event);
}

void TFMnetport::Btn_okClick() {
    QString error;
    auto address = NetworkPortFromFields(Cmb_net_kind->currentIndex(), Edit_net_host->text(),
                                         Edit_net_port->text(), &error);
    if (!address) {
        boxes_.Show(tr("警告"), error, MsgIcon::Warning, MsgButtons::Ok);
        return;
    }
    if (taken_ && taken_(*address)) {
        boxes_.Show(tr("警告"), tr("该网络端口已存在：%1").arg(NetworkPortText(*address)),
                    MsgIcon::Warning, MsgButtons::Ok);
        return;
    }
    address_ = std::move(address);
    accept();
}

}  // namespace kelm
