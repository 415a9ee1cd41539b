#include "modules/Pnl8I8T.h"

#include "modbus/Bytes.h"

namespace kelm {

TPnl8I8T::TPnl8I8T(const ModuleContext& ctx, QWidget* parent)
    : ModulePanel(ctx, QStringLiteral("Pnl_8I8T"), "KELM_8I8T_Event",
                  IdentityNames{QStringLiteral("8i8t"), QStringLiteral("8i8t"),
                                QStringLiteral("GroupBox1"), QStringLiteral("SpeedButton3"),
                                QStringLiteral("查询版本信息"), QStringLiteral("更新参数"), false},
                  parent) {}

void TPnl8I8T::Pnl8I8T_Default() {
    Default();
}

void TPnl8I8T::ResetModel() {}

void TPnl8I8T::KELM_8I8T_Event(std::uint16_t Command, const Frame& Pbuf) {
    Event(Command, Pbuf);
}

}  // namespace kelm
