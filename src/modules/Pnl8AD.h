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
};

}  // namespace kelm
