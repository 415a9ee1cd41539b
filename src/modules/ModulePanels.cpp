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
    ModuleContext c = ctx;
    p.Pnl_Xi_type = new TPnlXiType(c, parent);
    p.Pnl_Yo_type = new TPnlYoType(c, parent);
    if (!c.channels) {
        auto steps = std::make_shared<ChannelSteps>();
        steps->input = p.Pnl_Xi_type;
        steps->output = p.Pnl_Yo_type;
        // A channel panel that goes first leaves its steps unrun, not dangling.
        QObject::connect(p.Pnl_Xi_type, &QObject::destroyed, [steps] { steps->input = nullptr; });
        QObject::connect(p.Pnl_Yo_type, &QObject::destroyed, [steps] { steps->output = nullptr; });
        p.ownChannels = steps;
        c.channels = steps.get();
    }
    p.Pnl_8I8T = new TPnl8I8T(c, parent);
    p.Pnl_16I = new TPnl16I(c, parent);
    p.Pnl_16T = new TPnl16T(c, parent);
    p.Pnl_8RY = new TPnl8RY(c, parent);
    p.Pnl_2AO = new TPnl2AO(c, parent);
    p.Pnl_8AD = new TPnl8AD(c, parent);
    p.Pnl_8AS = new TPnl8AS(c, parent);
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
