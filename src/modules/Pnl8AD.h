#pragma once
// The KELM-8AD module panel (Pnl_8AD) and its reply handler KELM_8AD_Event: the
// eight-channel analog input panel with this model's table.
#include <QWidget>
#include <cstdint>

#include "modules/AnalogInputPanel.h"

namespace kelm {

class TPnl8AD : public AnalogInputPanel {
    Q_OBJECT
  public:
    explicit TPnl8AD(const ModuleContext& ctx, QWidget* parent = nullptr);

    // Reset routine, run by navigation before the panel is shown: the
    // identity reset, then the channel rows'.
    void Pnl8AD_Default();
    // Reply handler for every valid reply of a selected KELM-8AD module.
    void KELM_8AD_Event(std::uint16_t Command, const Frame& Pbuf);

    // The controls' handlers.
    void CheckBox8AD_VI_EnableClick() { EnableClick(); }
    void Btn8AD_Mode_ReadClick() { ModeReadClick(); }
    void Btn8AD_Mode_SetClick() { ModeSetClick(); }
    void Btn8AD_CH_ReadClick() { DataReadClick(); }
    void Cmb8AD_VI_CH0Change() { ModeChange(0); }
    void Cmb8AD_VI_CH1Change() { ModeChange(1); }
    void Cmb8AD_VI_CH2Change() { ModeChange(2); }
    void Cmb8AD_VI_CH3Change() { ModeChange(3); }
    void Cmb8AD_VI_CH4Change() { ModeChange(4); }
    void Cmb8AD_VI_CH5Change() { ModeChange(5); }
    void Cmb8AD_VI_CH6Change() { ModeChange(6); }
    void Cmb8AD_VI_CH7Change() { ModeChange(7); }
};

}  // namespace kelm
