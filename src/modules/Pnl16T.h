#pragma once
// The KELM-16T module panel (Pnl_16T) and its reply handler KELM_16T_Event:
// sixteen output lamp buttons with their boxes in two columns, and the
// control-mode family that switches outputs one at a time or all at once and
// reads and writes the output mode word and the initial states.
#include <QWidget>
#include <cstdint>

#include "modules/ModulePanel.h"

class QGroupBox;
class QPushButton;

namespace kelm {

class DoControlMode;
class LampColumn;

class TPnl16T : public ModulePanel {
    Q_OBJECT
  public:
    static constexpr int kOutputs = 16;

    explicit TPnl16T(const ModuleContext& ctx, QWidget* parent = nullptr);

    // Reset routine, run by navigation before the panel is shown: the
    // identity reset, then ResetModel.
    void Pnl16T_Default();
    // Reply handler for every valid reply of a selected KELM-16T module.
    void KELM_16T_Event(std::uint16_t Command, const Frame& Pbuf);

    // Lamp DO<index> (0-15) on or off and its button pressed or released;
    // any other index does nothing.
    void Dis_16tdo_Status(std::uint8_t index, bool flag);

    // The output buttons, after a click has flipped the pressed state: in
    // control mode 0 they switch their output.
    void Spb16t_doClick(int ch);
    void Spb16t_do0Click() { Spb16t_doClick(0); }
    void Spb16t_do1Click() { Spb16t_doClick(1); }
    void Spb16t_do2Click() { Spb16t_doClick(2); }
    void Spb16t_do3Click() { Spb16t_doClick(3); }
    void Spb16t_do4Click() { Spb16t_doClick(4); }
    void Spb16t_do5Click() { Spb16t_doClick(5); }
    void Spb16t_do6Click() { Spb16t_doClick(6); }
    void Spb16t_do7Click() { Spb16t_doClick(7); }
    void Spb16t_do8Click() { Spb16t_doClick(8); }
    void Spb16t_do9Click() { Spb16t_doClick(9); }
    void Spb16t_do10Click() { Spb16t_doClick(10); }
    void Spb16t_do11Click() { Spb16t_doClick(11); }
    void Spb16t_do12Click() { Spb16t_doClick(12); }
    void Spb16t_do13Click() { Spb16t_doClick(13); }
    void Spb16t_do14Click() { Spb16t_doClick(14); }
    void Spb16t_do15Click() { Spb16t_doClick(15); }

    // The user changed the control mode list.
    void Cmb16t_DO_Code_indexChange();
    void Btn16t_dos_readClick();
    void Btn16t_dos_ctrlClick();
    void Btn16t_DO_mode_readClick();
    void Btn16t_Info_mode_readClick();
    void Btn16t_DO_mode_setClick();
    void Btn16t_Info_mode_setClick();

    QGroupBox* Gro16t_menu = nullptr;
    QPushButton* Btn16t_dos_read = nullptr;

    LampColumn& Outputs() const { return *outputs_; }
    DoControlMode& ControlMode() const { return *mode_; }

  protected:
    void ResetModel() override;

  private:
    // FC 03 @6 x4: the initial states and the output mode word.
    void ModeWordsReply(const Frame& Pbuf);

    LampColumn* outputs_ = nullptr;
    DoControlMode* mode_ = nullptr;
};

}  // namespace kelm
