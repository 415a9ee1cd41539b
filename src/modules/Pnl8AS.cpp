#include "modules/Pnl8AS.h"

#include "modbus/Bytes.h"

namespace kelm {

TPnl8AS::TPnl8AS(const ModuleContext& ctx, QWidget* parent)
    : AnalogInputPanel(
          ctx, kAnalogInput8AS, QStringLiteral("Pnl_8AS"), "KELM_8AS_Event",
          IdentityNames{QStringLiteral("8AS"), QStringLiteral("8AS"), QStringLiteral("GroupBo8AS"),
                        QStringLiteral("SpeedButton6"), QStringLiteral("查询设备信息"),
                        QStringLiteral("设置参数"), ConfirmNewParameters::OnlyRegister3},
          parent) {}

void TPnl8AS::Pnl8AS_Default() {
    Default();
}

void TPnl8AS::KELM_8AS_Event(std::uint16_t Command, const Frame& Pbuf) {
    Event(Command, Pbuf);
}

}  // namespace kelm
