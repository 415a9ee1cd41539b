#include "modules/Pnl8AS.h"

#include "modbus/Bytes.h"

namespace kelm {

TPnl8AS::TPnl8AS(const ModuleContext& ctx, QWidget* parent)
    : AnalogInputPanel(ctx, kAnalogInput8AS, QStringLiteral("Pnl_8AS"), "KELM_8AS_Event",
                       IdentityNames{QStringLiteral("8AS"), QStringLiteral("8AS"),
                                     QStringLiteral("GroupBo8AS"), QStringLiteral("SpeedButton6"),
                                     QT_TRANSLATE_NOOP("kelm::Panels", "查询设备信息"),
                                     QT_TRANSLATE_NOOP("kelm::Panels", "设置参数"),
                                     ConfirmNewParameters::OnlyRegister3},
                       parent) {
    ConnectHandlers({[this] { CheckBox8AS_VI_EnableClick(); },
                     [this] { Btn8AS_Mode_ReadClick(); },
                     [this] { Btn8AS_Mode_SetClick(); },
                     [this] { Btn8AS_CH_ReadClick(); },
                     {
                         [this] { Cmb8AS_VI_CH0Change(); },
                         [this] { Cmb8AS_VI_CH1Change(); },
                         [this] { Cmb8AS_VI_CH2Change(); },
                         [this] { Cmb8AS_VI_CH3Change(); },
                         [this] { Cmb8AS_VI_CH4Change(); },
                         [this] { Cmb8AS_VI_CH5Change(); },
                         [this] { Cmb8AS_VI_CH6Change(); },
                         [this] { Cmb8AS_VI_CH7Change(); },
                     }});
}

void TPnl8AS::Pnl8AS_Default() {
    Default();
}

void TPnl8AS::KELM_8AS_Event(std::uint16_t Command, const Frame& Pbuf) {
    Event(Command, Pbuf);
}

}  // namespace kelm
