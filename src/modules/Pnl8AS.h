#pragma once
// The KELM-8AS/KELM-8ASP module panel (Pnl_8AS) and its reply handler KELM_8AS_Event: the
// eight-channel analog input panel with this model's table.
#include <QWidget>
#include <cstdint>

#include "modules/AnalogInputPanel.h"

namespace kelm {

class TPnl8AS : public AnalogInputPanel {
    Q_OBJECT
  public:
    explicit TPnl8AS(const ModuleContext& ctx, QWidget* parent = nullptr);

    // Reset routine, run by navigation before the panel is shown: the
    // identity reset, then the channel rows'.
    void Pnl8AS_Default();
    // Reply handler for every valid reply of a selected KELM-8AS or KELM-8ASP module.
    void KELM_8AS_Event(std::uint16_t Command, const Frame& Pbuf);

    // The controls' handlers.
    void CheckBox8AS_VI_EnableClick() { EnableClick(); }
    void Btn8AS_Mode_ReadClick() { ModeReadClick(); }
    void Btn8AS_Mode_SetClick() { ModeSetClick(); }
    void Btn8AS_CH_ReadClick() { DataReadClick(); }
    void Cmb8AS_VI_CH0Change() { ModeChange(0); }
    void Cmb8AS_VI_CH1Change() { ModeChange(1); }
    void Cmb8AS_VI_CH2Change() { ModeChange(2); }
    void Cmb8AS_VI_CH3Change() { ModeChange(3); }
    void Cmb8AS_VI_CH4Change() { ModeChange(4); }
    void Cmb8AS_VI_CH5Change() { ModeChange(5); }
    void Cmb8AS_VI_CH6Change() { ModeChange(6); }
    void Cmb8AS_VI_CH7Change() { ModeChange(7); }
};

}  // namespace kelm
