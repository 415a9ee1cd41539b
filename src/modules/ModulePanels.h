#pragma once
// The seven module panels and the two channel panels as a set: created
// together for the main window's stack, looked up by model name for
// navigation, and registered with the master as the seven reply handlers.
#include <QString>
#include <array>
#include <memory>
#include <string_view>

#include "modules/ChannelSteps.h"

#include "modules/ModuleContext.h"
#include "modules/Pnl16I.h"
#include "modules/Pnl16T.h"
#include "modules/Pnl2AO.h"
#include "modules/Pnl8AD.h"
#include "modules/Pnl8AS.h"
#include "modules/Pnl8I8T.h"
#include "modules/Pnl8RY.h"
#include "modules/PnlXiType.h"
#include "modules/PnlYoType.h"

namespace kelm {

struct ModulePanels {
    TPnl8I8T* Pnl_8I8T = nullptr;
    TPnl16I* Pnl_16I = nullptr;
    TPnl16T* Pnl_16T = nullptr;
    TPnl8RY* Pnl_8RY = nullptr;
    TPnl2AO* Pnl_2AO = nullptr;
    TPnl8AD* Pnl_8AD = nullptr;
    TPnl8AS* Pnl_8AS = nullptr;
    // The input and output channel panels, reached from the channel nodes.
    TPnlXiType* Pnl_Xi_type = nullptr;
    TPnlYoType* Pnl_Yo_type = nullptr;
    // The reply steps the module handlers reach the channel panels through,
    // when the caller's context brought none; shared so that it stays where
    // the module panels point whichever copy of the set lives on.
    std::shared_ptr<ChannelSteps> ownChannels;

    std::array<ModulePanel*, 7> All() const {
        return {Pnl_8I8T, Pnl_16I, Pnl_16T, Pnl_8RY, Pnl_2AO, Pnl_8AD, Pnl_8AS};
    }
    // The panel of a model name ("KELM-8ASP" -> Pnl_8AS); nullptr for a name
    // no panel serves.
    ModulePanel* ForModel(std::string_view modelName) const;
};

// Creates the nine panels as children of parent (the main window's stack),
// each in its initial state with its new-address list filled. Without
// ctx.channels the module handlers run the steps of the set's own channel
// panels; with it (a test's fakes), those steps.
ModulePanels CreateModulePanels(const ModuleContext& ctx, QWidget* parent);

// Registers each panel's reply handler with the master under its handler
// name (KELM_8I8T_Event ... KELM_8AS_Event). A panel destroyed before the
// master only leaves its handler dropping replies.
void RegisterReplyHandlers(ModbusMaster& master, const ModulePanels& panels);

}  // namespace kelm
