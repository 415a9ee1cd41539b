#include "app/TFMnetport.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
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
    setWindowTitle(QStringLiteral("添加网络端口"));
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
    form->addRow(QStringLiteral("类型："), Cmb_net_kind);
    form->addRow(QStringLiteral("主机："), Edit_net_host);
    form->addRow(QStringLiteral("端口："), Edit_net_port);

    Btn_ok = new QPushButton(QStringLiteral("确定"), this);
    Btn_ok->setObjectName(QStringLiteral("Btn_ok"));
    Btn_ok->setDefault(true);
    Btn_cancel = new QPushButton(QStringLiteral("取消"), this);
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
}

void TFMnetport::Btn_okClick() {
    QString error;
    auto address = NetworkPortFromFields(Cmb_net_kind->currentIndex(), Edit_net_host->text(),
                                         Edit_net_port->text(), &error);
    if (!address) {
        boxes_.Show(QStringLiteral("警告"), error, MsgIcon::Warning, MsgButtons::Ok);
        return;
    }
    if (taken_ && taken_(*address)) {
        boxes_.Show(QStringLiteral("警告"),
                    QStringLiteral("该网络端口已存在：%1").arg(NetworkPortText(*address)),
                    MsgIcon::Warning, MsgButtons::Ok);
        return;
    }
    address_ = std::move(address);
    accept();
}

}  // namespace kelm
