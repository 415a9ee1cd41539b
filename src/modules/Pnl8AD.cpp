#include "modules/Pnl8AD.h"

#include "modbus/Bytes.h"

namespace kelm {

TPnl8AD::TPnl8AD(const ModuleContext& ctx, QWidget* parent)
    : AnalogInputPanel(
          ctx, kAnalogInput8AD, QStringLiteral("Pnl_8AD"), "KELM_8AD_Event",
          IdentityNames{QStringLiteral("8AD"), QStringLiteral("8AD"), QStringLiteral("GroupBo8AD"),
                        QStringLiteral("SpeedButton2"), QStringLiteral("查询设备信息"),
                        QStringLiteral("设置参数"), ConfirmNewParameters::OnlyRegister3},
          parent) {}

void TPnl8AD::Pnl8AD_Default() {
    Default();
}

void TPnl8AD::KELM_8AD_Event(std::uint16_t Command, const Frame& Pbuf) {
    Event(Command, Pbuf);
}

}  // namespace kelm
