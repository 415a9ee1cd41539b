#include "modules/Pnl8I8T.h"

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
constexpr std::string_view kModel = "KELM-8I8T";
const models::Item& Item(std::string_view key) {
    return ModelItem(kModel, key);
}
}  // namespace

TPnl8I8T::TPnl8I8T(const ModuleContext& ctx, QWidget* parent)
    : ModulePanel(ctx, QStringLiteral("Pnl_8I8T"), "KELM_8I8T_Event",
                  IdentityNames{QStringLiteral("8i8t"), QStringLiteral("8i8t"),
                                QStringLiteral("GroupBox1"), QStringLiteral("SpeedButton3"),
                                QT_TRANSLATE_NOOP("kelm::Panels", "查询版本信息"),
                                QT_TRANSLATE_NOOP("kelm::Panels", "更新参数"),
                                ConfirmNewParameters::OnlyRegister3},
                  parent) {
    Gro8i8t_menu = new QGroupBox(this);
    Gro8i8t_menu->setObjectName(QStringLiteral("Gro8i8t_menu"));
    auto* row = new QHBoxLayout(Gro8i8t_menu);
    inputs_ = new LampColumn(
        {QStringLiteral("Spb8i8t_di"), QStringLiteral("DI"), 4, QString(), kInputs, false},
        Gro8i8t_menu);
    outputs_ = new LampColumn({QStringLiteral("Spb8i8t_do"), QStringLiteral("DO"), 0,
                               QStringLiteral("ChB8i8t_Status_do"), kOutputs, true},
                              Gro8i8t_menu);
    row->addWidget(inputs_, 0, Qt::AlignTop);
    row->addSpacing(16);
    row->addWidget(outputs_, 0, Qt::AlignTop);
    row->addSpacing(16);

    auto* controls = new QVBoxLayout;
    mode_ = new DoControlMode(ctx, QStringLiteral("8i8t"), *outputs_, *models::FindModel(kModel),
                              Gro8i8t_menu);
    mode_->AddModeRow(controls);
    Btn8i8t_dis_read = new QPushButton(Gro8i8t_menu);
    ShowPanelText(Btn8i8t_dis_read, QT_TRANSLATE_NOOP("kelm::Panels", "查询DI状态"));
    Btn8i8t_dis_read->setObjectName(QStringLiteral("Btn8i8t_dis_read"));
    Btn8i8t_dos_read = new QPushButton(Gro8i8t_menu);
    ShowPanelText(Btn8i8t_dos_read, QT_TRANSLATE_NOOP("kelm::Panels", "查询DO状态"));
    Btn8i8t_dos_read->setObjectName(QStringLiteral("Btn8i8t_dos_read"));
    controls->addWidget(Btn8i8t_dis_read);
    controls->addWidget(Btn8i8t_dos_read);
    mode_->AddModeButtons(controls);
    controls->addStretch(1);
    row->addLayout(controls, 1);
    MenuLayout()->addWidget(Gro8i8t_menu, 1);

    outputs_->SetOnClick([this](int ch) { Spb8i8t_doClick(ch); });
    // activated: only the user's choice changes the mode, never a selection
    // made by program.
    connect(mode_->ModeList(), &QComboBox::activated, this,
            [this](int) { Cmb8i8t_DO_Code_indexChange(); });
    connect(Btn8i8t_dis_read, &QPushButton::clicked, this, [this] { Btn8i8t_dis_readClick(); });
    connect(Btn8i8t_dos_read, &QPushButton::clicked, this, [this] { Btn8i8t_dos_readClick(); });
    connect(mode_->DosCtrl(), &QPushButton::clicked, this, [this] { Btn8i8t_dos_ctrlClick(); });
    connect(mode_->DoModeRead(), &QPushButton::clicked, this,
            [this] { Btn8i8t_DO_mode_readClick(); });
    connect(mode_->InfoModeRead(), &QPushButton::clicked, this,
            [this] { Btn8i8t_DO_mode_readClick(); });
    connect(mode_->DoModeSet(), &QPushButton::clicked, this,
            [this] { Btn8i8t_DO_mode_setClick(); });
    connect(mode_->InfoModeSet(), &QPushButton::clicked, this,
            [this] { Btn8i8t_Info_mode_setClick(); });

    ModbusMaster& master = Context().master;
    IMessageBoxes& boxes = Context().boxes;
    const LampStep outputLamp = [this](std::uint8_t i, bool on) { Dis_8i8tdo_Status(i, on); };
    const LampStep inputLamp = [this](std::uint8_t i, bool on) { Dis_8i8tdi_Status(i, on); };
    AddReplyRows({
        StatesRow(Item("do"), "output states", outputLamp),
        StatesRow(Item("di"), "input states", inputLamp),
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
        ReadRow(Item("di_filter"), "filter times",
                [this](const Frame& Pbuf) {
                    if (auto* s = InputSteps(Context())) s->FilterReply(Pbuf);
                }),
        ReadRow(Item("di_count_run"), "counting state",
                [this](const Frame& Pbuf) {
                    if (auto* s = InputSteps(Context())) s->CountingReply(Pbuf);
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
        InformationEcho(boxes, &Item("di_filter"), "filter time written",
                        QT_TRANSLATE_NOOP("kelm::Panels", "DI开关量输入滤波时间配置成功！")),
        ItemEcho(kFcWriteRegister, Item("di_count_run"), "counting confirmation",
                 [this](const Frame&) {
                     if (auto* s = InputSteps(Context())) s->CountingConfirmation();
                 }),
        CoilsWrittenRow(master, Item("do"), outputLamp),
        ItemEcho(kFcWriteRegisters, Item("pulse_count"), "pulse count confirmation",
                 [this](const Frame&) {
                     if (auto* s = OutputSteps(Context())) s->CountConfirmation();
                 }),
    });
}

void TPnl8I8T::Pnl8I8T_Default() {
    Default();
}

void TPnl8I8T::ResetModel() {
    inputs_->AllLampsOff();
    outputs_->AllLampsOff();
    // A lamp-off button left pressed from another module would switch its
    // output off on the next click, whatever the lamp shows.
    for (int ch = 0; ch < kOutputs; ++ch) outputs_->SetPressed(ch, false);
    mode_->Reset();
}

void TPnl8I8T::KELM_8I8T_Event(std::uint16_t Command, const Frame& Pbuf) {
    Event(Command, Pbuf);
}

void TPnl8I8T::Dis_8i8tdi_Status(std::uint8_t index, bool flag) {
    inputs_->SetLamp(index, flag);
}

void TPnl8I8T::Dis_8i8tdo_Status(std::uint8_t index, bool flag) {
    outputs_->SetLamp(index, flag);
    outputs_->SetPressed(index, flag);
}

void TPnl8I8T::Spb8i8t_doClick(int ch) {
    mode_->SwitchOutput(ch, outputs_->Pressed(ch));
}

void TPnl8I8T::Cmb8i8t_DO_Code_indexChange() {
    mode_->ModeChange();
}

void TPnl8I8T::Btn8i8t_dis_readClick() {
    // Unlike the reset, the query turns the lamps off whatever the picture
    // list holds: a lamp left lit would read as a state the module never sent.
    for (int ch = 0; ch < kInputs; ++ch) Dis_8i8tdi_Status(static_cast<std::uint8_t>(ch), false);
    ReadItem(Context().master, Item("di"));
}

void TPnl8I8T::Btn8i8t_dos_readClick() {
    for (int ch = 0; ch < kOutputs; ++ch) Dis_8i8tdo_Status(static_cast<std::uint8_t>(ch), false);
    ReadItem(Context().master, Item("do"));
}

void TPnl8I8T::Btn8i8t_dos_ctrlClick() {
    mode_->WriteOutputs();
}

void TPnl8I8T::Btn8i8t_DO_mode_readClick() {
    outputs_->UntickBoxes();
    mode_->ReadModeWords();
}

void TPnl8I8T::Btn8i8t_DO_mode_setClick() {
    mode_->WriteOutputModeWord();
}

void TPnl8I8T::Btn8i8t_Info_mode_setClick() {
    mode_->WriteInitialStates();
}

void TPnl8I8T::ModeWordsReply(const Frame& Pbuf) {
    MasterState& st = State();
    st.DO07_Mode = static_cast<std::uint8_t>(mode_->ModeWordsReply(Pbuf));
    // The output channel panel's mode display, when one of this module's
    // output channel nodes is selected.
    if (SelectedNodeLevel(Context().tree) != kChannelNodeLevel) return;
    const models::Child child =
        models::ChildAt(*models::FindModel(kModel), st.Node_DeviceChild_Index);
    if (child.side != models::Side::Output) return;
    if (IOutputChannelSteps* s = OutputSteps(Context()))
        s->ShowOutputMode(Bit(st.DO07_Mode, static_cast<unsigned>(child.channel)));
}

}  // namespace kelm
