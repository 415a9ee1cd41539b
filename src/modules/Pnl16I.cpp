#include "modules/Pnl16I.h"

#include "modbus/Bytes.h"

namespace kelm {

TPnl16I::TPnl16I(const ModuleContext& ctx, QWidget* parent)
    : ModulePanel(ctx, QStringLiteral("Pnl_16I"), "KELM_16I_Event",
                  IdentityNames{QStringLiteral("16i"), QStringLiteral("16i"),
                                QStringLiteral("GroupBox9"), QStringLiteral("SpeedButton37"),
                                QStringLiteral("查询版本信息"), QStringLiteral("更新参数"), true},
                  parent) {}

void TPnl16I::Pnl16I_Default() {
    Default();
}

void TPnl16I::ResetModel() {}

void TPnl16I::KELM_16I_Event(std::uint16_t Command, const Frame& Pbuf) {
    Event(Command, Pbuf);
}

}  // namespace kelm
