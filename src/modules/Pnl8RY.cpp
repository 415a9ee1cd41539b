#include "modules/Pnl8RY.h"

#include "modbus/Bytes.h"

namespace kelm {

TPnl8RY::TPnl8RY(const ModuleContext& ctx, QWidget* parent)
    : ModulePanel(ctx, QStringLiteral("Pnl_8RY"), "KELM_8R_Event",
                  IdentityNames{QStringLiteral("8R"), QStringLiteral("8r"),
                                QStringLiteral("Gro_slaveinfo"), QStringLiteral("SpeedButton1"),
                                QStringLiteral("查询版本信息"), QStringLiteral("更新参数"), true},
                  parent) {}

void TPnl8RY::Pnl8RY_Default() {
    Default();
}

void TPnl8RY::ResetModel() {}

void TPnl8RY::KELM_8R_Event(std::uint16_t Command, const Frame& Pbuf) {
    Event(Command, Pbuf);
}

}  // namespace kelm
