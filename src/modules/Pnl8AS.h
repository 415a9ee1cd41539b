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
};

}  // namespace kelm
