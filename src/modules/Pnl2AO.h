#pragma once
// The KELM-2AO module panel (Pnl_2AO) and its reply handler KELM_2AO_Event.
#include <QWidget>
#include <cstdint>

#include "modules/ModulePanel.h"

namespace kelm {

class TPnl2AO : public ModulePanel {
    Q_OBJECT
  public:
    explicit TPnl2AO(const ModuleContext& ctx, QWidget* parent = nullptr);

    // Reset routine, run by navigation before the panel is shown: the
    // identity reset, then ResetModel.
    void Pnl2AO_Default();
    // Reply handler for every valid reply of a selected KELM-2AO module.
    void KELM_2AO_Event(std::uint16_t Command, const Frame& Pbuf);

  protected:
    void ResetModel() override;
};

}  // namespace kelm
