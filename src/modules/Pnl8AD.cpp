#include "modules/Pnl8AD.h"

#include "modbus/Bytes.h"

namespace kelm {

TPnl8AD::TPnl8AD(const ModuleContext& ctx, QWidget* parent)
    : AnalogInputPanel(ctx, kAnalogInput8AD, QStringLiteral("Pnl_8AD"), "KELM_8AD_Event",
                       IdentityNames{QStringLiteral("8AD"), QStringLiteral("8AD"),
                                     QStringLiteral("GroupBo8AD"), QStringLiteral("SpeedButton2"),
                                     QT_TRANSLATE_NOOP("kelm::Panels", "查询设备信息"),
                                     QT_TRANSLATE_NOOP("kelm::Panels", "设置参数"),
                                     ConfirmNewParameters::OnlyRegister3},
                       parent) {
    ConnectHandlers({[this] { CheckBox8AD_VI_EnableClick(); },
                     [this] { Btn8AD_Mode_ReadClick(); },
                     [this] { Btn8AD_Mode_SetClick(); },
                     [this] { Btn8AD_CH_ReadClick(); },
                     {
                         [this] { Cmb8AD_VI_CH0Change(); },
                         [this] { Cmb8AD_VI_CH1Change(); },
                         [this] { Cmb8AD_VI_CH2Change(); },
                         [this] { Cmb8AD_VI_CH3Change(); },
                         [this] { Cmb8AD_VI_CH4Change(); },
                         [this] { Cmb8AD_VI_CH5Change(); },
                         [this] { Cmb8AD_VI_CH6Change(); },
                         [this] { Cmb8AD_VI_CH7Change(); },
                     }});
}

void TPnl8AD::Pnl8AD_Default() {
    Default();
}

void TPnl8AD::KELM_8AD_Event(std::uint16_t Command, const Frame& Pbuf) {
    Event(Command, Pbuf);
}

}  // namespace kelm
