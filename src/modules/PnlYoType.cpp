#include "modules/PnlYoType.h"

#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <vector>

#include "gui/MessageBoxes.h"
#include "gui/Pictures.h"
#include "modbus/ModbusMaster.h"
#include "models/ModelMap.h"
#include "modules/ChannelParts.h"
#include "modules/PanelTexts.h"

namespace kelm {

namespace {

using models::kFcReadHolding;
constexpr std::uint8_t kFcWriteSingle = models::kFcWriteRegister;
constexpr std::uint8_t kFcWriteMultiple = models::kFcWriteRegisters;
using models::kCharStart;  // "1": start, read back as running
using models::kCharStop;   // "0": stop
constexpr std::uint8_t kMarkerNone = 0;
constexpr std::uint8_t kMarkerPulseStart = 3;
constexpr std::uint8_t kMarkerPulseStop = 4;

QLineEdit* numberBox(const char* name, QWidget* parent, KeyPressHandler keyPress) {
    auto* e = new QLineEdit(QStringLiteral("0"), parent);
    e->setObjectName(QString::fromLatin1(name));
    e->setFixedWidth(120);
    AcceptDigitsOnly(e, std::move(keyPress));
    return e;
}

QRadioButton* radio(const char* name, const char* text, QWidget* parent) {
    auto* r = new QRadioButton(parent);
    ShowPanelText(r, text);
    r->setObjectName(QString::fromLatin1(name));
    return r;
}

}  // namespace

namespace {
constexpr const char* kTimeWarningSource =
    QT_TRANSLATE_NOOP("kelm::Panels", "脉冲输出电平时间范围2-65535！");
constexpr const char* kCountWarningSource =
    QT_TRANSLATE_NOOP("kelm::Panels", "脉冲输出数量范围0-4294967295！");
constexpr const char* kContinuousStartedSource =
    QT_TRANSLATE_NOOP("kelm::Panels", "DO脉冲持续输出已启动！");
constexpr const char* kContinuousStoppedSource =
    QT_TRANSLATE_NOOP("kelm::Panels", "DO脉冲持续输出已关闭！");
constexpr const char* kCountStartedSource =
    QT_TRANSLATE_NOOP("kelm::Panels", "脉冲数量输出已启动！");
constexpr const char* kCountStoppedSource =
    QT_TRANSLATE_NOOP("kelm::Panels", "脉冲数量输出已关闭！");
}  // namespace

const QString TPnlYoType::kTimeWarning = QString::fromUtf8(kTimeWarningSource);
const QString TPnlYoType::kCountWarning = QString::fromUtf8(kCountWarningSource);
const QString TPnlYoType::kContinuousStarted = QString::fromUtf8(kContinuousStartedSource);
const QString TPnlYoType::kContinuousStopped = QString::fromUtf8(kContinuousStoppedSource);
const QString TPnlYoType::kCountStarted = QString::fromUtf8(kCountStartedSource);
const QString TPnlYoType::kCountStopped = QString::fromUtf8(kCountStoppedSource);

TPnlYoType::TPnlYoType(const ModuleContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("Pnl_Yo_type"));
    resize(915, 582);
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(20, 16, 20, 16);
    page->setSpacing(14);

    // The mode as read from the module; ticking one by hand sends nothing.
    Gro_Yo_mode = new QGroupBox(this);
    Gro_Yo_mode->setObjectName(QStringLiteral("Gro_Yo_mode"));
    auto* mode = new QHBoxLayout(Gro_Yo_mode);
    RaB_Yo_switch =
        radio("RaB_Yo_switch", QT_TRANSLATE_NOOP("kelm::Panels", "开关量输出"), Gro_Yo_mode);
    RaB_Yo_pulse =
        radio("RaB_Yo_pulse", QT_TRANSLATE_NOOP("kelm::Panels", "脉冲输出"), Gro_Yo_mode);
    mode->addWidget(RaB_Yo_switch);
    mode->addSpacing(40);
    mode->addWidget(RaB_Yo_pulse);
    mode->addStretch(1);
    page->addWidget(Gro_Yo_mode);

    Gro_pulse_mode = new QGroupBox(this);
    ShowPanelText(Gro_pulse_mode, QT_TRANSLATE_NOOP("kelm::Panels", "脉冲输出："));
    Gro_pulse_mode->setObjectName(QStringLiteral("Gro_pulse_mode"));
    auto* pulse = new QVBoxLayout(Gro_pulse_mode);

    Gro_pulse_time = new QGroupBox(Gro_pulse_mode);
    ShowPanelText(Gro_pulse_time, QT_TRANSLATE_NOOP("kelm::Panels", "波形时间"));
    Gro_pulse_time->setObjectName(QStringLiteral("Gro_pulse_time"));
    auto* times = new QGridLayout(Gro_pulse_time);
    times->setHorizontalSpacing(12);
    Edit_pulse_timeH = numberBox("Edit_pulse_timeH", Gro_pulse_time,
                                 [this](QChar& Key) { Edit_pulse_timeHKeyPress(Key); });
    Edit_pulse_timeL = numberBox("Edit_pulse_timeL", Gro_pulse_time,
                                 [this](QChar& Key) { Edit_pulse_timeLKeyPress(Key); });
    Btn_pulse_timeON_set = MakeButton(
        "Btn_pulse_timeON_set", QT_TRANSLATE_NOOP("kelm::Panels", "更新配置"), Gro_pulse_time);
    Btn_pulse_timeOFF_set = MakeButton(
        "Btn_pulse_timeOFF_set", QT_TRANSLATE_NOOP("kelm::Panels", "更新配置"), Gro_pulse_time);
    Btn_pulse_time_read = MakeButton(
        "Btn_pulse_time_read", QT_TRANSLATE_NOOP("kelm::Panels", "读取ON/OFF配置"), Gro_pulse_time);
    times->addWidget(
        MakeLabel("Label_pulse_on", QT_TRANSLATE_NOOP("kelm::Panels", "ON电平："), Gro_pulse_time),
        0, 0);
    times->addWidget(Edit_pulse_timeH, 0, 1);
    times->addWidget(MakeLabel("Label_pulse_on_unit", "x0.1ms", Gro_pulse_time), 0, 2);
    times->addWidget(Btn_pulse_timeON_set, 0, 3);
    times->addWidget(MakeLabel("Label_pulse_off", QT_TRANSLATE_NOOP("kelm::Panels", "OFF电平："),
                               Gro_pulse_time),
                     1, 0);
    times->addWidget(Edit_pulse_timeL, 1, 1);
    times->addWidget(MakeLabel("Label_pulse_off_unit", "x0.1ms", Gro_pulse_time), 1, 2);
    times->addWidget(Btn_pulse_timeOFF_set, 1, 3);
    times->addWidget(Btn_pulse_time_read, 0, 4, 2, 1);
    times->setColumnStretch(5, 1);
    pulse->addWidget(Gro_pulse_time);

    Gro_pulse_ctrl = new QGroupBox(Gro_pulse_mode);
    ShowPanelText(Gro_pulse_ctrl, QT_TRANSLATE_NOOP("kelm::Panels", "控制及状态"));
    Gro_pulse_ctrl->setObjectName(QStringLiteral("Gro_pulse_ctrl"));
    auto* ctrl = new QGridLayout(Gro_pulse_ctrl);
    ctrl->setHorizontalSpacing(12);
    Sbtn_pulse_on =
        MakeFaceButton(QStringLiteral("Sbtn_pulse_on"), QT_TRANSLATE_NOOP("kelm::Panels", "启动"),
                       kImgFaceOn, Gro_pulse_ctrl);
    Sbtn_pulse_off =
        MakeFaceButton(QStringLiteral("Sbtn_pulse_off"), QT_TRANSLATE_NOOP("kelm::Panels", "停止"),
                       kImgFaceOff, Gro_pulse_ctrl);
    ctrl->addWidget(Sbtn_pulse_on, 0, 0, 2, 1);
    ctrl->addWidget(Sbtn_pulse_off, 0, 1, 2, 1);
    ctrl->addWidget(
        MakeLabel("Label_pulse_state", QT_TRANSLATE_NOOP("kelm::Panels", "状态："), Gro_pulse_ctrl),
        0, 2);
    Shape_Pulse_DO = new StateShape(QStringLiteral("Shape_Pulse_DO"), Gro_pulse_ctrl);
    ctrl->addWidget(Shape_Pulse_DO, 0, 3, 1, 2);
    ctrl->addWidget(
        MakeLabel("Label_pulse_mode", QT_TRANSLATE_NOOP("kelm::Panels", "模式："), Gro_pulse_ctrl),
        1, 2);
    // The two run modes exclude each other, apart from the pair above.
    RaB_pulse_out_continue =
        radio("RaB_pulse_out_continue", QT_TRANSLATE_NOOP("kelm::Panels", "连续"), Gro_pulse_ctrl);
    RaB_pulse_num_out =
        radio("RaB_pulse_num_out", QT_TRANSLATE_NOOP("kelm::Panels", "数量:"), Gro_pulse_ctrl);
    auto* runModes = new QHBoxLayout;
    runModes->addWidget(RaB_pulse_out_continue);
    runModes->addSpacing(16);
    runModes->addWidget(RaB_pulse_num_out);
    ctrl->addLayout(runModes, 1, 3);
    Edit_pulse_num = numberBox("Edit_pulse_num", Gro_pulse_ctrl,
                               [this](QChar& Key) { Edit_pulse_numKeyPress(Key); });
    Edit_pulse_num->setFixedWidth(140);
    ctrl->addWidget(Edit_pulse_num, 1, 4);
    Btn_pulse_status_read = MakeButton(
        "Btn_pulse_status_read", QT_TRANSLATE_NOOP("kelm::Panels", "控制状态查询"), Gro_pulse_ctrl);
    ctrl->addWidget(Btn_pulse_status_read, 1, 5);
    ctrl->setColumnStretch(6, 1);
    pulse->addWidget(Gro_pulse_ctrl);
    page->addWidget(Gro_pulse_mode);
    page->addStretch(1);
    Gro_pulse_mode->hide();

    connect(Btn_pulse_time_read, &QPushButton::clicked, this,
            [this] { Btn_pulse_time_readClick(); });
    connect(Btn_pulse_timeON_set, &QPushButton::clicked, this,
            [this] { Btn_pulse_timeON_setClick(); });
    connect(Btn_pulse_timeOFF_set, &QPushButton::clicked, this,
            [this] { Btn_pulse_timeOFF_setClick(); });
    connect(Sbtn_pulse_on, &QToolButton::clicked, this, [this] { Sbtn_pulse_onClick(); });
    connect(Sbtn_pulse_off, &QToolButton::clicked, this, [this] { Sbtn_pulse_offClick(); });
    connect(Btn_pulse_status_read, &QPushButton::clicked, this,
            [this] { Btn_pulse_status_readClick(); });
}

void TPnlYoType::retranslate() {
    RetranslatePanelTexts(this);
}

void TPnlYoType::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) retranslate();
    QWidget::changeEvent(event);
}

MasterState& TPnlYoType::State() const {
    return ctx_.master.State();
}

const OutputChannelMap* TPnlYoType::MapOf(const std::string& model) {
    // The models with output channel nodes, as the model description lays
    // them out.
    static const std::vector<OutputChannelMap> maps = [] {
        std::vector<OutputChannelMap> out;
        for (const models::Model& m : models::AllModels()) {
            const models::Item* on = models::FindItem(m, "pulse_on");
            const models::Item* off = models::FindItem(m, "pulse_off");
            const models::Item* run = models::FindItem(m, "pulse_run");
            const models::Item* count = models::FindItem(m, "pulse_count");
            if (m.layout.outputs == 0 || !on || !off || !run || !count) continue;
            out.push_back({m.name.data(), m.layout.outputs, m.layout.firstOutputChild, on->first,
                           off->first, run->first, count->first});
        }
        return out;
    }();
    for (const OutputChannelMap& m : maps)
        if (model == m.model) return &m;
    return nullptr;
}

const OutputChannelMap* TPnlYoType::Selected(unsigned* ch) const {
    const OutputChannelMap* map = MapOf(State().Node_Device_Name);
    if (!map) return nullptr;
    // The outputs of a KELM-8I8T are its channel nodes 8-15; any other node
    // names no register of this panel.
    const unsigned index = State().Node_DeviceChild_Index;
    if (index < map->firstNode || index >= map->firstNode + map->outputs) return nullptr;
    *ch = index - map->firstNode;
    return map;
}

void TPnlYoType::Pnl_Yo_type_Default() {
    Untick(RaB_Yo_switch);
    Untick(RaB_Yo_pulse);
    Edit_pulse_timeH->setText(QStringLiteral("0"));
    Edit_pulse_timeL->setText(QStringLiteral("0"));
    Untick(RaB_pulse_out_continue);
    Untick(RaB_pulse_num_out);
    Edit_pulse_num->setText(QStringLiteral("0"));
    Shape_Pulse_DO->SetRunning(false);
    Gro_pulse_mode->hide();
    // Its reply (the mode word) decides which mode is ticked and whether the
    // pulse group shows.
    // Sent whatever the model; both output models read the initial states and
    // the mode word with the same request.
    const models::Model* model = models::FindModel(State().Node_Device_Name);
    const models::Item* mode = model ? models::FindItem(*model, "do_mode") : nullptr;
    if (!mode) mode = models::FindItem(*models::FindModel("KELM-16T"), "do_mode");
    ctx_.master.Modbus_Send_oneWord(mode->read.fc, mode->read.start, mode->read.quantity);
}

void TPnlYoType::Btn_pulse_time_readClick() {
    Edit_pulse_timeH->setText(QStringLiteral("0"));
    Edit_pulse_timeL->setText(QStringLiteral("0"));
    unsigned ch = 0;
    if (const OutputChannelMap* map = Selected(&ch))
        ctx_.master.Modbus_Send_oneWord(kFcReadHolding, map->onTime, map->TimesQuantity());
}

void TPnlYoType::TimeWrite(QLineEdit* box, bool on) {
    const auto value = ToInt32(box->text(), ctx_.boxes);
    if (!value) return;
    if (*value < kTimeMin || *value > kTimeMax) {
        ctx_.boxes.Warning(NoticeTitle(), PanelTr(kTimeWarningSource));
        return;
    }
    unsigned ch = 0;
    if (const OutputChannelMap* map = Selected(&ch))
        ctx_.master.Modbus_Send_oneWord(kFcWriteSingle, on ? map->OnReg(ch) : map->OffReg(ch),
                                        static_cast<std::uint16_t>(*value));
}

void TPnlYoType::Btn_pulse_timeON_setClick() {
    TimeWrite(Edit_pulse_timeH, true);
}

void TPnlYoType::Btn_pulse_timeOFF_setClick() {
    TimeWrite(Edit_pulse_timeL, false);
}

void TPnlYoType::PulseWrite(bool start) {
    const std::uint8_t marker = start ? kMarkerPulseStart : kMarkerPulseStop;
    // The quantity radio is looked at first, then the continuous one.
    if (RaB_pulse_num_out->isChecked()) {
        std::int64_t count = 0;  // a stop writes zero pulses
        if (start) {
            const auto value = ToInt64(Edit_pulse_num->text(), ctx_.boxes);
            if (!value) return;
            if (*value < 0 || *value > kCountMax) {
                ctx_.boxes.Warning(NoticeTitle(), PanelTr(kCountWarningSource));
                return;
            }
            count = *value;
        }
        unsigned ch = 0;
        const OutputChannelMap* map = Selected(&ch);
        if (!map) return;
        // Most significant byte first: the high word goes to the lower register.
        const auto n = static_cast<std::uint32_t>(count);
        const ByteString bytes = {static_cast<std::uint8_t>(n >> 24),
                                  static_cast<std::uint8_t>(n >> 16),
                                  static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
        if (ctx_.master.Modbus_Send_Buf(kFcWriteMultiple, map->CountReg(ch), 2, 4, bytes))
            State().DIDO_Button_Status = marker;
    } else if (RaB_pulse_out_continue->isChecked()) {
        unsigned ch = 0;
        const OutputChannelMap* map = Selected(&ch);
        if (!map) return;
        ctx_.master.Modbus_Send_oneWord(kFcWriteSingle, map->ContinuousReg(ch),
                                        start ? kCharStart : kCharStop);
        State().DIDO_Button_Status = marker;
    }
}

void TPnlYoType::Sbtn_pulse_onClick() {
    PulseWrite(true);
}

void TPnlYoType::Sbtn_pulse_offClick() {
    PulseWrite(false);
}

void TPnlYoType::Btn_pulse_status_readClick() {
    Shape_Pulse_DO->SetRunning(false);
    Untick(RaB_pulse_out_continue);
    Untick(RaB_pulse_num_out);
    Edit_pulse_num->setText(QStringLiteral("0"));
    unsigned ch = 0;
    if (const OutputChannelMap* map = Selected(&ch))
        ctx_.master.Modbus_Send_oneWord(kFcReadHolding, map->continuous, map->StateQuantity());
}

void TPnlYoType::Edit_pulse_timeHKeyPress(QChar& Key) {
    DigitsAndBackspaceOnly(Key);
}

void TPnlYoType::Edit_pulse_timeLKeyPress(QChar& Key) {
    DigitsAndBackspaceOnly(Key);
}

void TPnlYoType::Edit_pulse_numKeyPress(QChar& Key) {
    DigitsAndBackspaceOnly(Key);
}

void TPnlYoType::TimesReply(const Frame& Pbuf) {
    unsigned ch = 0;
    const OutputChannelMap* map = Selected(&ch);
    if (!map) return;  // not an output: the reply is not this panel's
    Edit_pulse_timeH->setText(QString::number(Pbuf.word(map->OnByte(ch))));
    Edit_pulse_timeL->setText(QString::number(Pbuf.word(map->OffByte(ch))));
}

void TPnlYoType::StateReply(const Frame& Pbuf) {
    unsigned ch = 0;
    const OutputChannelMap* map = Selected(&ch);
    if (!map) return;
    if (Pbuf.word(map->ControlByte(ch)) == kCharStart) {
        RaB_pulse_out_continue->setChecked(true);
        Shape_Pulse_DO->SetRunning(true);
    }
    const std::uint32_t count = DWordAt(Pbuf, map->CountByte(ch));
    Edit_pulse_num->setText(QString::number(count));
    // A run of counted pulses wins over the continuous control.
    if (count > 0) {
        RaB_pulse_num_out->setChecked(true);
        Shape_Pulse_DO->SetRunning(true);
    }
}

void TPnlYoType::ContinuousConfirmation() {
    // The echo belongs to the continuous run only while that mode is ticked;
    // otherwise it shows nothing and the marker waits.
    if (!RaB_pulse_out_continue->isChecked()) return;
    std::uint8_t& marker = State().DIDO_Button_Status;
    if (marker == kMarkerPulseStart) {
        Shape_Pulse_DO->SetRunning(true);
        ctx_.boxes.Information(NoticeTitle(), PanelTr(kContinuousStartedSource));
    } else if (marker == kMarkerPulseStop) {
        Shape_Pulse_DO->SetRunning(false);
        ctx_.boxes.Information(NoticeTitle(), PanelTr(kContinuousStoppedSource));
    }
    marker = kMarkerNone;
}

void TPnlYoType::CountConfirmation() {
    std::uint8_t& marker = State().DIDO_Button_Status;
    if (marker == kMarkerPulseStop) {
        Shape_Pulse_DO->SetRunning(false);
        ctx_.boxes.Information(NoticeTitle(), PanelTr(kCountStoppedSource));
    } else if (marker == kMarkerPulseStart) {
        Shape_Pulse_DO->SetRunning(true);
        ctx_.boxes.Information(NoticeTitle(), PanelTr(kCountStartedSource));
    }
    marker = kMarkerNone;
}

void TPnlYoType::ShowOutputMode(bool pulse) {
    if (pulse) {
        RaB_Yo_pulse->setChecked(true);
        Gro_pulse_mode->show();
    } else {
        RaB_Yo_switch->setChecked(true);
        Gro_pulse_mode->hide();
    }
}

}  // namespace kelm
