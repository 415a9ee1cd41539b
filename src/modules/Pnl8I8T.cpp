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
    Identity().Reset();
}

void TPnl8I8T::KELM_8I8T_Event(std::uint16_t Command, const Frame& Pbuf) {
    // Versions (function 3 from register 0) and the new-parameter write's
    // acknowledgement; every other reply matches no branch and is ignored.
    Identity().HandleReply(Command, Pbuf);
}

}  // namespace kelm
