#pragma once
// The KELM-8RY module panel (Pnl_8RY) and its reply handler KELM_8R_Event.
#include <QWidget>
#include <cstdint>

#include "modules/ModulePanel.h"

namespace kelm {

class TPnl8RY : public ModulePanel {
    Q_OBJECT
  public:
    explicit TPnl8RY(const ModuleContext& ctx, QWidget* parent = nullptr);

    // Reset routine, run by navigation before the panel is shown: the
    // identity reset, then ResetModel.
    void Pnl8RY_Default();
    // Reply handler for every valid reply of a selected KELM-8RY module.
    void KELM_8R_Event(std::uint16_t Command, const Frame& Pbuf);

  protected:
    void ResetModel() override;
};

}  // namespace kelm
