#include "modules/ModulePanels.h"

#include <QPointer>

#include "modbus/Bytes.h"
#include "modbus/ModbusMaster.h"
#include "modbus/Models.h"

namespace kelm {

ModulePanel* ModulePanels::ForModel(std::string_view modelName) const {
    const ModelInfo* model = FindModelByName(modelName);
    if (!model) return nullptr;
    for (ModulePanel* p : All())
        if (p && p->HandlerName() == model->replyHandler) return p;
    return nullptr;
}

ModulePanels CreateModulePanels(const ModuleContext& ctx, QWidget* parent) {
    ModulePanels p;
    p.Pnl_8I8T = new TPnl8I8T(ctx, parent);
    p.Pnl_16I = new TPnl16I(ctx, parent);
    p.Pnl_16T = new TPnl16T(ctx, parent);
    p.Pnl_8RY = new TPnl8RY(ctx, parent);
    p.Pnl_2AO = new TPnl2AO(ctx, parent);
    p.Pnl_8AD = new TPnl8AD(ctx, parent);
    p.Pnl_8AS = new TPnl8AS(ctx, parent);
    return p;
}

void RegisterReplyHandlers(ModbusMaster& master, const ModulePanels& panels) {
    for (ModulePanel* p : panels.All()) {
        if (!p) continue;
        // The panel may go before the master (window teardown); a reply that
        // still arrives is then dropped instead of reaching a dead panel.
        master.SetReplyHandler(p->HandlerName(), [panel = QPointer<ModulePanel>(p)](
                                                     std::uint16_t Command, const Frame& Pbuf) {
            if (panel) panel->Event(Command, Pbuf);
        });
    }
}

}  // namespace kelm
