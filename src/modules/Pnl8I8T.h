#pragma once
// The KELM-8I8T module panel (Pnl_8I8T) and its reply handler KELM_8I8T_Event.
#include <QWidget>
#include <cstdint>

#include "modules/ModulePanel.h"

namespace kelm {

class TPnl8I8T : public ModulePanel {
    Q_OBJECT
  public:
    explicit TPnl8I8T(const ModuleContext& ctx, QWidget* parent = nullptr);

    // Reset routine, run by navigation before the panel is shown: the
    // identity reset, then ResetModel.
    void Pnl8I8T_Default();
    // Reply handler for every valid reply of a selected KELM-8I8T module.
    void KELM_8I8T_Event(std::uint16_t Command, const Frame& Pbuf);

  protected:
    void ResetModel() override;
};

}  // namespace kelm
