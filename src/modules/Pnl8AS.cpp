#include "modules/Pnl8AS.h"

#include "modbus/Bytes.h"

namespace kelm {

TPnl8AS::TPnl8AS(const ModuleContext& ctx, QWidget* parent)
    : ModulePanel(ctx, QStringLiteral("Pnl_8AS"), "KELM_8AS_Event",
                  IdentityNames{QStringLiteral("8AS"), QStringLiteral("8AS"),
                                QStringLiteral("GroupBo8AS"), QStringLiteral("SpeedButton6"),
                                QStringLiteral("查询设备信息"), QStringLiteral("设置参数"), false},
                  parent) {}

void TPnl8AS::Pnl8AS_Default() {
    Identity().Reset();
}

void TPnl8AS::KELM_8AS_Event(std::uint16_t Command, const Frame& Pbuf) {
    // Versions (function 3 from register 0) and the new-parameter write's
    // acknowledgement; every other reply matches no branch and is ignored.
    Identity().HandleReply(Command, Pbuf);
}

}  // namespace kelm
