#include "modules/Pnl8AD.h"

#include "modbus/Bytes.h"

namespace kelm {

TPnl8AD::TPnl8AD(const ModuleContext& ctx, QWidget* parent)
    : ModulePanel(ctx, QStringLiteral("Pnl_8AD"), "KELM_8AD_Event",
                  IdentityNames{QStringLiteral("8AD"), QStringLiteral("8AD"),
                                QStringLiteral("GroupBo8AD"), QStringLiteral("SpeedButton2"),
                                QStringLiteral("查询设备信息"), QStringLiteral("设置参数"), false},
                  parent) {}

void TPnl8AD::Pnl8AD_Default() {
    Identity().Reset();
}

void TPnl8AD::KELM_8AD_Event(std::uint16_t Command, const Frame& Pbuf) {
    // Versions (function 3 from register 0) and the new-parameter write's
    // acknowledgement; every other reply matches no branch and is ignored.
    Identity().HandleReply(Command, Pbuf);
}

}  // namespace kelm
