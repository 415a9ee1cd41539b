#pragma once
// The seven module panels as a set: created together for the main window's
// stack, looked up by model name for navigation, and registered with the
// master as the seven reply handlers.
#include <QString>
#include <array>
#include <string_view>

#include "modules/ModuleContext.h"
#include "modules/Pnl16I.h"
#include "modules/Pnl16T.h"
#include "modules/Pnl2AO.h"
#include "modules/Pnl8AD.h"
#include "modules/Pnl8AS.h"
#include "modules/Pnl8I8T.h"
#include "modules/Pnl8RY.h"

namespace kelm {

struct ModulePanels {
    TPnl8I8T* Pnl_8I8T = nullptr;
    TPnl16I* Pnl_16I = nullptr;
    TPnl16T* Pnl_16T = nullptr;
    TPnl8RY* Pnl_8RY = nullptr;
    TPnl2AO* Pnl_2AO = nullptr;
    TPnl8AD* Pnl_8AD = nullptr;
    TPnl8AS* Pnl_8AS = nullptr;

    std::array<ModulePanel*, 7> All() const {
        return {Pnl_8I8T, Pnl_16I, Pnl_16T, Pnl_8RY, Pnl_2AO, Pnl_8AD, Pnl_8AS};
    }
    // The panel of a model name ("KELM-8ASP" -> Pnl_8AS); nullptr for a name
    // no panel serves.
    ModulePanel* ForModel(std::string_view modelName) const;
};

// Creates the seven panels as children of parent (the main window's stack),
// each in its initial state with its new-address list filled.
ModulePanels CreateModulePanels(const ModuleContext& ctx, QWidget* parent);

// Registers each panel's reply handler with the master under its handler
// name (KELM_8I8T_Event ... KELM_8AS_Event). A panel destroyed before the
// master only leaves its handler dropping replies.
void RegisterReplyHandlers(ModbusMaster& master, const ModulePanels& panels);

}  // namespace kelm
