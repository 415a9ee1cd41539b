#include "modules/Pnl8RY.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "modbus/Bytes.h"
#include "modbus/ModbusMaster.h"
#include "modules/DigitalIo.h"
#include "modules/LampColumn.h"
#include "modules/PanelTexts.h"

namespace kelm {

namespace {
const models::Item& Item(std::string_view key) {
    return ModelItem("KELM-8RY", key);
}
}  // namespace

TPnl8RY::TPnl8RY(const ModuleContext& ctx, QWidget* parent)
    : ModulePanel(ctx, QStringLiteral("Pnl_8RY"), "KELM_8R_Event",
                  IdentityNames{QStringLiteral("8R"), QStringLiteral("8r"),
                                QStringLiteral("Gro_slaveinfo"), QStringLiteral("SpeedButton1"),
                                QT_TRANSLATE_NOOP("kelm::Panels", "查询版本信息"),
                                QT_TRANSLATE_NOOP("kelm::Panels", "更新参数"),
                                ConfirmNewParameters::OnAnyWrite16},
                  parent) {
    Gro8r_menu = new QGroupBox(this);
    Gro8r_menu->setObjectName(QStringLiteral("Gro8r_menu"));
    auto* row = new QHBoxLayout(Gro8r_menu);
    relays_ = new LampColumn({QStringLiteral("Spb_RL"), QStringLiteral("RY"), 0,
                              QStringLiteral("ChB_Status_Rel"), kRelays, true},
                             Gro8r_menu);
    row->addWidget(relays_, 0, Qt::AlignTop);
    row->addSpacing(16);
    auto* controls = new QVBoxLayout;
    auto button = [&](const char* name, const char* caption) {
        auto* b = new QPushButton(Gro8r_menu);
        ShowPanelText(b, caption);
        b->setObjectName(QString::fromUtf8(name));
        controls->addWidget(b);
        return b;
    };
    Btn_Rel_status_read =
        button("Btn_Rel_status_read", QT_TRANSLATE_NOOP("kelm::Panels", "查询RY状态"));
    Btn_Rel_status_ctrl =
        button("Btn_Rel_status_ctrl", QT_TRANSLATE_NOOP("kelm::Panels", "多通道RY控制"));
    Btn8R_Info_mode_set =
        button("Btn8R_Info_mode_set", QT_TRANSLATE_NOOP("kelm::Panels", "设置初始值"));
    Btn8R_Info_mode_read =
        button("Btn8R_Info_mode_read", QT_TRANSLATE_NOOP("kelm::Panels", "查询初始值"));
    controls->addStretch(1);
    row->addLayout(controls, 1);
    MenuLayout()->addWidget(Gro8r_menu, 1);

    relays_->SetOnClick([this](int ch) { Spb_RLClick(ch); });
    connect(Btn_Rel_status_read, &QPushButton::clicked, this,
            [this] { Btn_Rel_status_readClick(); });
    connect(Btn_Rel_status_ctrl, &QPushButton::clicked, this,
            [this] { Btn_Rel_status_ctrlClick(); });
    connect(Btn8R_Info_mode_set, &QPushButton::clicked, this,
            [this] { Btn8R_Info_mode_setClick(); });
    connect(Btn8R_Info_mode_read, &QPushButton::clicked, this,
            [this] { Btn8R_Info_mode_readClick(); });

    ModbusMaster& master = Context().master;
    const LampStep relayLamp = [this](std::uint8_t i, bool on) { Dis_Rel07_Status(i, on ? 1 : 0); };
    AddReplyRows({
        StatesRow(Item("ry"), "relay states", relayLamp),
        ReadRow(Item("ry_init"), "initial states",
                // A 0 bit leaves its box alone; the query unticked them all.
                [this](const Frame& Pbuf) { relays_->TickBoxes(Pbuf[4]); }),
        CoilEchoRow(master, Item("ry"), relayLamp),
        // Every FC 06 echo confirms: the initial states are the panel's only
        // single-register write.
        InformationEcho(Context().boxes, nullptr, "initial states written",
                        QT_TRANSLATE_NOOP("kelm::Panels", "继电器上电初始值状态配置成功！")),
        CoilsWrittenRow(master, Item("ry"), relayLamp),
    });
}

void TPnl8RY::Pnl8RY_Default() {
    Default();
}

void TPnl8RY::ResetModel() {
    relays_->AllLampsOff();
    // A lamp-off button left pressed from another module would switch its
    // relay off on the next click, whatever the lamp shows.
    for (int ch = 0; ch < kRelays; ++ch) relays_->SetPressed(ch, false);
    relays_->UntickBoxes();
}

void TPnl8RY::KELM_8R_Event(std::uint16_t Command, const Frame& Pbuf) {
    Event(Command, Pbuf);
}

void TPnl8RY::Dis_Rel07_Status(std::uint8_t index, std::uint8_t flag) {
    relays_->SetLamp(index, flag == 1);
    relays_->SetPressed(index, flag != 0);
}

void TPnl8RY::Spb_RLClick(int ch) {
    WriteCoil(Context().master, Item("ry"), ch, relays_->Pressed(ch));
}

void TPnl8RY::Btn_Rel_status_readClick() {
    for (int ch = 0; ch < kRelays; ++ch) Dis_Rel07_Status(static_cast<std::uint8_t>(ch), 0);
    ReadItem(Context().master, Item("ry"));
}

void TPnl8RY::Btn_Rel_status_ctrlClick() {
    WriteCoils(Context().master, Item("ry"), relays_->BoxWord());
}

void TPnl8RY::Btn8R_Info_mode_readClick() {
    relays_->UntickBoxes();
    ReadItem(Context().master, Item("ry_init"));
}

void TPnl8RY::Btn8R_Info_mode_setClick() {
    Context().master.Modbus_Send_oneWord(kFcWriteRegister, Item("ry_init").first,
                                         relays_->BoxWord());
}

}  // namespace kelm
