#pragma once
// The identity box and the new-communication-parameter box that every module
// panel carries. Written once and instantiated on each panel with that panel's
// component names and captions.
//
// Identity box: model name, current address, and - after a query - the
// hardware and software versions (registers 1 and 2). New-parameter box: a new
// serial format, slave address and protocol, written to registers 3-5 with one
// function-16 request.
#include <QObject>
#include <QString>
#include <cstdint>

#include <vector>

#include "modules/ModuleContext.h"
#include "modules/ReplyTable.h"

class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QToolButton;
class QWidget;

namespace kelm {

class Frame;

// Which function-16 replies confirm the new communication parameters.
enum class ConfirmNewParameters {
    // Only the reply to the write of register 3: the panel makes other
    // function-16 writes.
    OnlyRegister3,
    // Every function-16 reply, at any Modbus_Reg_Addr: the panel makes no
    // other function-16 write.
    OnAnyWrite16,
};

// One panel's names and captions for the family.
struct IdentityNames {
    QString tag;               // component tag: "8AD" -> Edit8AD_device_name, Cmb8AD_new1comXY ...
    QString toggleTag;         // tag of the toggle and the box: "8r" on the relay panel, else tag
    QString identityBox;       // "GroupBo8AD"
    QString queryButton;       // "SpeedButton2"
    const char* queryCaption;  // "查询设备信息" or "查询版本信息" (translatable source)
    const char* writeCaption;  // "设置参数" or "更新参数"
    ConfirmNewParameters confirm = ConfirmNewParameters::OnlyRegister3;
};

class ModuleIdentity : public QObject {
    Q_OBJECT
  public:
    // Creates both boxes as children of panel, in their initial state (box
    // hidden, RTU formats with "9600/8/2/None", address "1", protocol "RTU").
    ModuleIdentity(const ModuleContext& ctx, IdentityNames names, QWidget* panel);

    static const QString kToggleClosed;  // "更新通讯参数>>"
    static const QString kToggleOpen;    // "更新通讯参数<<"
    static const QString kConfirmText;   // "通讯参数配置成功！"

    const IdentityNames& Names() const { return names_; }

    // The two boxes, for the panel to lay out.
    QGroupBox* IdentityBox() const { return identityBox_; }
    QGroupBox* NewComBox() const { return newComBox_; }

    QLineEdit* EditDeviceName() const { return editDeviceName_; }
    QLineEdit* EditHardware() const { return editHardware_; }
    QLineEdit* EditSoftware() const { return editSoftware_; }
    QLineEdit* EditSlaveAddr() const { return editSlaveAddr_; }
    QToolButton* QueryButton() const { return queryButton_; }
    QToolButton* NewComToggle() const { return toggle_; }
    QComboBox* CmbFormat() const { return cmbFormat_; }
    QComboBox* CmbSlaveAddr() const { return cmbSlaveAddr_; }
    QComboBox* CmbProtocol() const { return cmbProtocol_; }
    QPushButton* WriteButton() const { return writeButton_; }

    // The query button: empties the two version edits and reads registers 0-2.
    void QueryClick();
    // The toggle: opens or closes the new-parameter box; its caption is the
    // only record of the state (whichever language it is shown in).
    void NewComInfoClick();
    // The user picked a protocol: the format list is refilled for it and its
    // first entry selected. Selections made by program do not come here.
    void New1comXYChange();
    // The write button: writes format code, address and protocol letter to
    // registers 3-5.
    void NewComSetClick();

    // The family's part of the panel reset routine: edits emptied, toggle
    // closed, RTU formats, "9600/8/2/None" / "1" / "RTU" selected, box hidden.
    void Reset();
    // Fills the new-address list with "1" ... "247" and selects "1".
    void FillSlaveAddrList();
    // What navigation writes after the reset: the model name and the address
    // as the tree node shows it.
    void SetDeviceFields(const QString& modelName, const QString& addressText);

    // The family's reply rows, which every panel's table puts ahead of its
    // own: FC 03 @0 x6 shows the versions; FC 16 @3 (or @any on panels that
    // make no other function-16 write) confirms the new parameters.
    std::vector<ReplyRow> ReplyRows();

  private:
    void FillFormats(bool ascii);

    ModuleContext ctx_;
    IdentityNames names_;
    QGroupBox* identityBox_ = nullptr;
    QGroupBox* newComBox_ = nullptr;
    QLineEdit* editDeviceName_ = nullptr;
    QLineEdit* editHardware_ = nullptr;
    QLineEdit* editSoftware_ = nullptr;
    QLineEdit* editSlaveAddr_ = nullptr;
    QToolButton* queryButton_ = nullptr;
    QToolButton* toggle_ = nullptr;
    QComboBox* cmbFormat_ = nullptr;
    QComboBox* cmbSlaveAddr_ = nullptr;
    QComboBox* cmbProtocol_ = nullptr;
    QPushButton* writeButton_ = nullptr;
};

}  // namespace kelm
