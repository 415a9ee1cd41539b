#pragma once
// The KELM-8I8T module panel (Pnl_8I8T) and its reply handler KELM_8I8T_Event:
// eight input lamps, eight output lamp buttons with their boxes, and the
// control-mode family that switches outputs one at a time or all at once and
// reads and writes the output mode word and the initial states.
#include <QWidget>
#include <cstdint>

#include "modules/ModulePanel.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QPushButton;
class QToolButton;

namespace kelm {

class DoControlMode;
class LampColumn;

class TPnl8I8T : public ModulePanel {
    Q_OBJECT
  public:
    static constexpr int kInputs = 8;
    static constexpr int kOutputs = 8;

    explicit TPnl8I8T(const ModuleContext& ctx, QWidget* parent = nullptr);

    // Reset routine, run by navigation before the panel is shown: the
    // identity reset, then ResetModel.
    void Pnl8I8T_Default();
    // Reply handler for every valid reply of a selected KELM-8I8T module.
    void KELM_8I8T_Event(std::uint16_t Command, const Frame& Pbuf);

    // Lamp DI<index> (0-7) on or off; any other index does nothing.
    void Dis_8i8tdi_Status(std::uint8_t index, bool flag);
    // Lamp DO<index> (0-7) on or off and its button pressed or released.
    void Dis_8i8tdo_Status(std::uint8_t index, bool flag);

    // The output buttons, after a click has flipped the pressed state: in
    // control mode 0 they switch their output.
    void Spb8i8t_doClick(int ch);
    void Spb8i8t_do0Click() { Spb8i8t_doClick(0); }
    void Spb8i8t_do1Click() { Spb8i8t_doClick(1); }
    void Spb8i8t_do2Click() { Spb8i8t_doClick(2); }
    void Spb8i8t_do3Click() { Spb8i8t_doClick(3); }
    void Spb8i8t_do4Click() { Spb8i8t_doClick(4); }
    void Spb8i8t_do5Click() { Spb8i8t_doClick(5); }
    void Spb8i8t_do6Click() { Spb8i8t_doClick(6); }
    void Spb8i8t_do7Click() { Spb8i8t_doClick(7); }

    // The user changed the control mode list.
    void Cmb8i8t_DO_Code_indexChange();
    void Btn8i8t_dis_readClick();
    void Btn8i8t_dos_readClick();
    void Btn8i8t_dos_ctrlClick();
    // Both "查询DO模式值" and "查询DO初始值" run this.
    void Btn8i8t_DO_mode_readClick();
    void Btn8i8t_DO_mode_setClick();
    void Btn8i8t_Info_mode_setClick();

    QGroupBox* Gro8i8t_menu = nullptr;
    QPushButton* Btn8i8t_dis_read = nullptr;
    QPushButton* Btn8i8t_dos_read = nullptr;

    LampColumn& Inputs() const { return *inputs_; }
    LampColumn& Outputs() const { return *outputs_; }
    DoControlMode& ControlMode() const { return *mode_; }

  protected:
    void ResetModel() override;

  private:
    // FC 03 @6 x4: the initial states and the output mode word.
    void ModeWordsReply(const Frame& Pbuf);

    LampColumn* inputs_ = nullptr;
    LampColumn* outputs_ = nullptr;
    DoControlMode* mode_ = nullptr;
};

}  // namespace kelm
