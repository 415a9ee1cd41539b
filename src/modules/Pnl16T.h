#pragma once
// The KELM-16T module panel (Pnl_16T) and its reply handler KELM_16T_Event.
#include <QWidget>
#include <cstdint>

#include "modules/ModulePanel.h"

namespace kelm {

class TPnl16T : public ModulePanel {
    Q_OBJECT
  public:
    explicit TPnl16T(const ModuleContext& ctx, QWidget* parent = nullptr);

    // Reset routine, run by navigation before the panel is shown: the
    // identity reset, then ResetModel.
    void Pnl16T_Default();
    // Reply handler for every valid reply of a selected KELM-16T module.
    void KELM_16T_Event(std::uint16_t Command, const Frame& Pbuf);

  protected:
    void ResetModel() override;
};

}  // namespace kelm
