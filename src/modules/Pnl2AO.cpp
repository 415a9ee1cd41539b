#include "modules/Pnl2AO.h"

#include "modbus/Bytes.h"

namespace kelm {

TPnl2AO::TPnl2AO(const ModuleContext& ctx, QWidget* parent)
    : ModulePanel(ctx, QStringLiteral("Pnl_2AO"), "KELM_2AO_Event",
                  IdentityNames{QStringLiteral("2AO"), QStringLiteral("2AO"),
                                QStringLiteral("GroupBo2AO"), QStringLiteral("SpeedButton5"),
                                QStringLiteral("查询版本信息"), QStringLiteral("更新参数"), false},
                  parent) {}

void TPnl2AO::Pnl2AO_Default() {
    Default();
}

void TPnl2AO::ResetModel() {}

void TPnl2AO::KELM_2AO_Event(std::uint16_t Command, const Frame& Pbuf) {
    Event(Command, Pbuf);
}

}  // namespace kelm
