#pragma once
// `TFMnetport`, "添加网络端口": asks for the kind (TCP raw, RFC 2217, Modbus
// TCP), the host and the port of a bus behind the network. OK is accepted
// only for a valid address that is not listed yet; otherwise a warning box
// names what is wrong and the dialog stays open.
#include <QDialog>
#include <functional>
#include <optional>

#include "serial/net/NetAddress.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kelm {

class IMessageBoxes;

class TFMnetport : public QDialog {
    Q_OBJECT
  public:
    // taken: whether an address is listed already.
    TFMnetport(IMessageBoxes& boxes, std::function<bool(const net::NetAddress&)> taken,
               QWidget* parent = nullptr);

    // Checks the fields; accepts the dialog when they are good.
    void Btn_okClick();
    // The address entered, once accepted.
    const std::optional<net::NetAddress>& Address() const { return address_; }

    QComboBox* Cmb_net_kind = nullptr;
    QLineEdit* Edit_net_host = nullptr;
    QLineEdit* Edit_net_port = nullptr;
    QPushButton* Btn_ok = nullptr;
    QPushButton* Btn_cancel = nullptr;

  protected:
    void changeEvent(QEvent* event) override;

  private:
    void RetranslateUi();

    QLabel* Label_kind_ = nullptr;
    QLabel* Label_host_ = nullptr;
    QLabel* Label_port_ = nullptr;
    IMessageBoxes& boxes_;
    std::function<bool(const net::NetAddress&)> taken_;
    std::optional<net::NetAddress> address_;
};

}  // namespace kelm
