#pragma once
// The KELM-8RY relay module panel (Pnl_8RY) and its reply handler
// KELM_8R_Event: eight relay lamp buttons, each switching its relay on every
// click, with the boxes for the multi-relay write and the power-on initial
// states.
#include <QWidget>
#include <cstdint>

#include "modules/ModulePanel.h"

class QGroupBox;
class QPushButton;

namespace kelm {

class LampColumn;

class TPnl8RY : public ModulePanel {
    Q_OBJECT
  public:
    static constexpr int kRelays = 8;

    explicit TPnl8RY(const ModuleContext& ctx, QWidget* parent = nullptr);

    // Reset routine, run by navigation before the panel is shown: the
    // identity reset, then ResetModel.
    void Pnl8RY_Default();
    // Reply handler for every valid reply of a selected KELM-8RY module.
    void KELM_8R_Event(std::uint16_t Command, const Frame& Pbuf);

    // Relay lamp RY<index> (0-7): flag 1 lamp on, any other value lamp off;
    // the button is pressed when flag is not 0. Any other index does nothing.
    void Dis_Rel07_Status(std::uint8_t index, std::uint8_t flag);

    // The relay buttons, after a click has flipped the pressed state: FC 05.
    void Spb_RLClick(int ch);
    void Spb_RL0Click() { Spb_RLClick(0); }
    void Spb_RL1Click() { Spb_RLClick(1); }
    void Spb_RL2Click() { Spb_RLClick(2); }
    void Spb_RL3Click() { Spb_RLClick(3); }
    void Spb_RL4Click() { Spb_RLClick(4); }
    void Spb_RL5Click() { Spb_RLClick(5); }
    void Spb_RL6Click() { Spb_RLClick(6); }
    void Spb_RL7Click() { Spb_RLClick(7); }

    void Btn_Rel_status_readClick();
    void Btn_Rel_status_ctrlClick();
    void Btn8R_Info_mode_readClick();
    void Btn8R_Info_mode_setClick();

    QGroupBox* Gro8r_menu = nullptr;
    QPushButton* Btn_Rel_status_read = nullptr;
    QPushButton* Btn_Rel_status_ctrl = nullptr;
    QPushButton* Btn8R_Info_mode_set = nullptr;
    QPushButton* Btn8R_Info_mode_read = nullptr;

    LampColumn& Relays() const { return *relays_; }

  protected:
    void ResetModel() override;

  private:
    LampColumn* relays_ = nullptr;
};

}  // namespace kelm
