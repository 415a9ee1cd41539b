#pragma once
// The port configuration dialog the serial component shows from
// ConfigDialog(): bits per second, data bits, parity, stop bits and flow
// control of one port, edited on a copy of its configuration record. OK
// writes the choices into the record; Cancel leaves it untouched.
//
// The application registers it with
//   comm.SetConfigDialogProvider(MakePortConfigDialogProvider(mainWindow));
#include <QDialog>

#include "serial/ksComm.h"

class QComboBox;
class QDialogButtonBox;
class QLabel;

namespace kelm {

class TksPortConfigDialog : public QDialog {
    Q_OBJECT
  public:
    TksPortConfigDialog(const std::string& portName, const TCommConfig& cfg,
                        QWidget* parent = nullptr);

    // The record with the dialog's choices applied (what OK hands back).
    TCommConfig Result() const;

    QComboBox* CmbBaud() const { return CmbBaud_; }
    QComboBox* CmbDataBits() const { return CmbDataBits_; }
    QComboBox* CmbParity() const { return CmbParity_; }
    QComboBox* CmbStopBits() const { return CmbStopBits_; }
    QComboBox* CmbFlow() const { return CmbFlow_; }

  protected:
    void changeEvent(QEvent* event) override;

  private:
    void RetranslateUi();

    std::string portName_;
    QLabel* labels_[5] = {};
    QDialogButtonBox* buttons_ = nullptr;
    TCommConfig cfg_;
    QComboBox* CmbBaud_;
    QComboBox* CmbDataBits_;
    QComboBox* CmbParity_;
    QComboBox* CmbStopBits_;
    QComboBox* CmbFlow_;
};

// A provider for TksCustomComm::SetConfigDialogProvider: shows the dialog
// modally over parent and returns true when the user confirmed.
TksConfigDialogFn MakePortConfigDialogProvider(QWidget* parent);

}  // namespace kelm
