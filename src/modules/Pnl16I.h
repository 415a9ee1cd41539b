#pragma once
// The KELM-16I module panel (Pnl_16I) and its reply handler KELM_16I_Event.
#include <QWidget>
#include <cstdint>

#include "modules/ModulePanel.h"

namespace kelm {

class TPnl16I : public ModulePanel {
    Q_OBJECT
  public:
    explicit TPnl16I(const ModuleContext& ctx, QWidget* parent = nullptr);

    // Reset routine, run by navigation before the panel is shown: the
    // identity reset, then ResetModel.
    void Pnl16I_Default();
    // Reply handler for every valid reply of a selected KELM-16I module.
    void KELM_16I_Event(std::uint16_t Command, const Frame& Pbuf);

  protected:
    void ResetModel() override;
};

}  // namespace kelm
