#include "modules/Pnl16T.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "modbus/Bytes.h"
#include "modbus/ModbusMaster.h"
#include "modules/ChannelSteps.h"
#include "modules/DigitalIo.h"
#include "modules/DoControlMode.h"
#include "modules/LampColumn.h"
#include "modules/PanelTexts.h"

namespace kelm {

namespace {
constexpr std::string_view kModel = "KELM-16T";
const models::Item& Item(std::string_view key) {
    return ModelItem(kModel, key);
}
}  // namespace

TPnl16T::TPnl16T(const ModuleContext& ctx, QWidget* parent)
    : ModulePanel(ctx, QStringLiteral("Pnl_16T"), "KELM_16T_Event",
                  IdentityNames{QStringLiteral("16t"), QStringLiteral("16t"),
                                QStringLiteral("GroupBox15"), QStringLiteral("SpeedButton71"),
                                QT_TRANSLATE_NOOP("kelm::Panels", "查询版本信息"),
                                QT_TRANSLATE_NOOP("kelm::Panels", "更新参数"),
                                ConfirmNewParameters::OnlyRegister3},
                  parent) {
    Gro16t_menu = new QGroupBox(this);
    Gro16t_menu->setObjectName(QStringLiteral("Gro16t_menu"));
    auto* row = new QHBoxLayout(Gro16t_menu);
    outputs_ = new LampColumn({QStringLiteral("Spb16t_do"), QStringLiteral("DO"), 4,
                               QStringLiteral("ChB16t_Status_do"), kOutputs, true},
                              Gro16t_menu);
    row->addWidget(outputs_, 0, Qt::AlignTop);
    row->addSpacing(16);

    auto* controls = new QVBoxLayout;
    mode_ = new DoControlMode(ctx, QStringLiteral("16t"), *outputs_, *models::FindModel(kModel),
                              Gro16t_menu);
    mode_->AddModeRow(controls);
    Btn16t_dos_read = new QPushButton(Gro16t_menu);
    ShowPanelText(Btn16t_dos_read, QT_TRANSLATE_NOOP("kelm::Panels", "查询DO状态"));
    Btn16t_dos_read->setObjectName(QStringLiteral("Btn16t_dos_read"));
    controls->addWidget(Btn16t_dos_read);
    mode_->AddModeButtons(controls);
    controls->addStretch(1);
    row->addLayout(controls, 1);
    MenuLayout()->addWidget(Gro16t_menu, 1);

    outputs_->SetOnClick([this](int ch) { Spb16t_doClick(ch); });
    // activated: only the user's choice changes the mode, never a selection
    // made by program.
    connect(mode_->ModeList(), &QComboBox::activated, this,
            [this](int) { Cmb16t_DO_Code_indexChange(); });
    connect(Btn16t_dos_read, &QPushButton::clicked, this, [this] { Btn16t_dos_readClick(); });
    connect(mode_->DosCtrl(), &QPushButton::clicked, this, [this] { Btn16t_dos_ctrlClick(); });
    connect(mode_->DoModeRead(), &QPushButton::clicked, this,
            [this] { Btn16t_DO_mode_readClick(); });
    connect(mode_->InfoModeRead(), &QPushButton::clicked, this,
            [this] { Btn16t_Info_mode_readClick(); });
    connect(mode_->DoModeSet(), &QPushButton::clicked, this, [this] { Btn16t_DO_mode_setClick(); });
    connect(mode_->InfoModeSet(), &QPushButton::clicked, this,
            [this] { Btn16t_Info_mode_setClick(); });

    ModbusMaster& master = Context().master;
    IMessageBoxes& boxes = Context().boxes;
    const LampStep outputLamp = [this](std::uint8_t i, bool on) { Dis_16tdo_Status(i, on); };
    AddReplyRows({
        StatesRow(Item("do"), "output states", outputLamp),
        ReadRow(Item("do_mode"), "initial states and mode word",
                [this](const Frame& Pbuf) { ModeWordsReply(Pbuf); }),
        ReadRow(Item("pulse_on"), "pulse times",
                [this](const Frame& Pbuf) {
                    if (auto* s = OutputSteps(Context())) s->TimesReply(Pbuf);
                }),
        ReadRow(Item("pulse_run"), "pulse output state",
                [this](const Frame& Pbuf) {
                    if (auto* s = OutputSteps(Context())) s->StateReply(Pbuf);
                }),
        CoilEchoRow(master, Item("do"), outputLamp),
        InformationEcho(boxes, &Item("do_init"), "initial states written",
                        QT_TRANSLATE_NOOP("kelm::Panels", "DO初始状态值配置成功！")),
        InformationEcho(boxes, &Item("do_mode"), "output mode word written",
                        QT_TRANSLATE_NOOP("kelm::Panels", "DO输出模式配置成功！")),
        InformationEcho(boxes, &Item("pulse_on"), "pulse ON time written",
                        QT_TRANSLATE_NOOP("kelm::Panels", "脉冲输出ON电平时间设置成功！")),
        InformationEcho(boxes, &Item("pulse_off"), "pulse OFF time written",
                        QT_TRANSLATE_NOOP("kelm::Panels", "脉冲输出OFF电平时间设置成功！")),
        ItemEcho(kFcWriteRegister, Item("pulse_run"), "continuous pulse confirmation",
                 [this](const Frame&) {
                     if (auto* s = OutputSteps(Context())) s->ContinuousConfirmation();
                 }),
        CoilsWrittenRow(master, Item("do"), outputLamp),
        ItemEcho(kFcWriteRegisters, Item("pulse_count"), "pulse count confirmation",
                 [this](const Frame&) {
                     if (auto* s = OutputSteps(Context())) s->CountConfirmation();
                 }),
    });
}

void TPnl16T::Pnl16T_Default() {
    Default();
}

void TPnl16T::ResetModel() {
    outputs_->AllLampsOff();
    // A lamp-off button left pressed from another module would switch its
    // output off on the next click, whatever the lamp shows.
    for (int ch = 0; ch < kOutputs; ++ch) outputs_->SetPressed(ch, false);
    mode_->Reset();
}

void TPnl16T::KELM_16T_Event(std::uint16_t Command, const Frame& Pbuf) {
    Event(Command, Pbuf);
}

void TPnl16T::Dis_16tdo_Status(std::uint8_t index, bool flag) {
    outputs_->SetLamp(index, flag);
    outputs_->SetPressed(index, flag);
}

void TPnl16T::Spb16t_doClick(int ch) {
    mode_->SwitchOutput(ch, outputs_->Pressed(ch));
}

void TPnl16T::Cmb16t_DO_Code_indexChange() {
    mode_->ModeChange();
}

void TPnl16T::Btn16t_dos_readClick() {
    for (int ch = 0; ch < kOutputs; ++ch) Dis_16tdo_Status(static_cast<std::uint8_t>(ch), false);
    ReadItem(Context().master, Item("do"));
}

void TPnl16T::Btn16t_dos_ctrlClick() {
    mode_->WriteOutputs();
}

// The two reads send the same request and, unlike the KELM-8I8T panel, keep
// the boxes: the reply sets every box in the matching mode anyway.
void TPnl16T::Btn16t_DO_mode_readClick() {
    mode_->ReadModeWords();
}

void TPnl16T::Btn16t_Info_mode_readClick() {
    mode_->ReadModeWords();
}

void TPnl16T::Btn16t_DO_mode_setClick() {
    mode_->WriteOutputModeWord();
}

void TPnl16T::Btn16t_Info_mode_setClick() {
    mode_->WriteInitialStates();
}

void TPnl16T::ModeWordsReply(const Frame& Pbuf) {
    MasterState& st = State();
    st.DO15_Mode = mode_->ModeWordsReply(Pbuf);
    // The output channel panel's mode display, when one of this module's
    // channel nodes (all outputs) is selected.
    if (SelectedNodeLevel(Context().tree) != kChannelNodeLevel) return;
    const models::Child child =
        models::ChildAt(*models::FindModel(kModel), st.Node_DeviceChild_Index);
    if (child.side != models::Side::Output) return;
    if (IOutputChannelSteps* s = OutputSteps(Context()))
        s->ShowOutputMode(Bit(st.DO15_Mode, static_cast<unsigned>(child.channel)));
}

}  // namespace kelm
