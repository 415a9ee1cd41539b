#include "modules/Pnl16T.h"

#include "modbus/Bytes.h"

namespace kelm {

TPnl16T::TPnl16T(const ModuleContext& ctx, QWidget* parent)
    : ModulePanel(ctx, QStringLiteral("Pnl_16T"), "KELM_16T_Event",
                  IdentityNames{QStringLiteral("16t"), QStringLiteral("16t"),
                                QStringLiteral("GroupBox15"), QStringLiteral("SpeedButton71"),
                                QStringLiteral("查询版本信息"), QStringLiteral("更新参数"), false},
                  parent) {}

void TPnl16T::Pnl16T_Default() {
    Default();
}

void TPnl16T::ResetModel() {}

void TPnl16T::KELM_16T_Event(std::uint16_t Command, const Frame& Pbuf) {
    Event(Command, Pbuf);
}

}  // namespace kelm
