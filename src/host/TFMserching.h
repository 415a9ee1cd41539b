#pragma once
// The scan dialog "扫描在线终端": polls every slave address from a chosen start
// address up to 247 with an identity read, one address per interval. Replies
// reach Disposal_Modbus03_Scandevice through the master's dispatcher while
// Scan_Device_Flag is set. Created for each use, shown modally, destroyed.
#include <QDialog>

#include "host/ScanContext.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;
class QWidget;

namespace kelm {

class TFMserching : public QDialog {
    Q_OBJECT
  public:
    explicit TFMserching(const ScanContext& ctx, QWidget* parent = nullptr);
    ~TFMserching() override;

    static const QString kCaption;          // "扫描在线终端"
    static const QString kIntervalWarning;  // "扫描间隔区间500-5000ms！"
    static const QString kFinished;         // "终端扫描完毕！"

    // Resets the dialog; runs whenever it is shown.
    void FormShow();
    // "开始": clears the port node's modules, checks the interval, starts.
    void Btn_startClick();
    // "停止": stops both timers; the busy picture stays where it is.
    void Btn_stopClick();
    // One tick of Timer_scan: polls scan_addr.
    void Timer_scanTimer();
    // One tick of Timer1: moves the busy picture one step round its circle.
    void Timer1Timer();

    QTimer* Timer_scan() const { return timerScan_; }
    QTimer* Timer1() const { return timer1_; }
    int ScanAddr() const { return scan_addr_; }
    int ImageIndex() const { return image_index_; }

  protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void done(int result) override;

  private:
    void RetranslateUi();
    ScanContext ctx_;
    QLineEdit* editScanTime_ = nullptr;
    QComboBox* cmbAddrStart_ = nullptr;
    QLineEdit* editAddrScan_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QPushButton* btnStart_ = nullptr;
    QPushButton* btnStop_ = nullptr;
    QLabel* image1_ = nullptr;
    QLabel* label1_ = nullptr;
    QLabel* label2_ = nullptr;
    QLabel* label3_ = nullptr;
    QTimer* timerScan_ = nullptr;
    QTimer* timer1_ = nullptr;

    int scan_addr_ = 0;
    int image_left_ = 0;
    int image_top_ = 0;
    int image_index_ = 1;
};

// ToolButton_ScanClick: opens a fresh scan dialog modally, only when the
// tree's selected node is a port node, the port is open and the link check is
// not running. When it closes, Scan_Device_Flag is cleared and the dialog
// destroyed. Returns whether the dialog was shown.
bool OpenScanDialog(const ScanContext& ctx, QWidget* parent);

}  // namespace kelm
