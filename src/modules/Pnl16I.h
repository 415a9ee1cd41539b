#pragma once
// The KELM-16I module panel (Pnl_16I) and its reply handler KELM_16I_Event:
// sixteen input lamps in two columns and the query of their states.
#include <QWidget>
#include <cstdint>

#include "modules/ModulePanel.h"

class QGroupBox;
class QPushButton;

namespace kelm {

class LampColumn;

class TPnl16I : public ModulePanel {
    Q_OBJECT
  public:
    static constexpr int kInputs = 16;

    explicit TPnl16I(const ModuleContext& ctx, QWidget* parent = nullptr);

    // Reset routine, run by navigation before the panel is shown: the
    // identity reset, then ResetModel.
    void Pnl16I_Default();
    // Reply handler for every valid reply of a selected KELM-16I module.
    void KELM_16I_Event(std::uint16_t Command, const Frame& Pbuf);

    // Lamp DI<index> (0-15) on or off; any other index does nothing. The
    // pressed state is not touched.
    void Dis_16idi_Status(std::uint8_t index, bool flag);
    // All lamps off, then FC 02 for the sixteen inputs.
    void Btn16i_dis_readClick();

    QGroupBox* Gro16i_menu = nullptr;
    QPushButton* Btn16i_dis_read = nullptr;

    LampColumn& Inputs() const { return *inputs_; }

  protected:
    void ResetModel() override;

  private:
    LampColumn* inputs_ = nullptr;
};

}  // namespace kelm
