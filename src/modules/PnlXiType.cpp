#include "modules/PnlXiType.h"

#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
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
using models::kCharStart;  // "1": start, read back as running
using models::kCharStop;   // "0": stop
constexpr std::uint8_t kMarkerNone = 0;
constexpr std::uint8_t kMarkerCountStart = 1;
constexpr std::uint8_t kMarkerCountStop = 2;

}  // namespace

namespace {
constexpr const char* kNoteSource = QT_TRANSLATE_NOOP(
    "kelm::Panels",
    "    使用开关量输入时，可以通过调节滤波时间来扛干扰，以适应不同应用场合，脉冲计数不受此限制。");
constexpr const char* kCountingQuestionSource =
    QT_TRANSLATE_NOOP("kelm::Panels", "DI脉冲计数启动后会清除当前计数值，请选择操作？");
constexpr const char* kFilterWarningSource =
    QT_TRANSLATE_NOOP("kelm::Panels", "滤波时间值为100-10000！");
constexpr const char* kCountingStartedSource =
    QT_TRANSLATE_NOOP("kelm::Panels", "DI脉冲计数启动！");
constexpr const char* kCountingStoppedSource =
    QT_TRANSLATE_NOOP("kelm::Panels", "DI脉冲计数关闭！");
}  // namespace

const QString TPnlXiType::kNote = QString::fromUtf8(kNoteSource);
const QString TPnlXiType::kCountingQuestion = QString::fromUtf8(kCountingQuestionSource);
const QString TPnlXiType::kFilterWarning = QString::fromUtf8(kFilterWarningSource);
const QString TPnlXiType::kCountingStarted = QString::fromUtf8(kCountingStartedSource);
const QString TPnlXiType::kCountingStopped = QString::fromUtf8(kCountingStoppedSource);

TPnlXiType::TPnlXiType(const ModuleContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("Pnl_Xi_type"));
    resize(915, 582);
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(20, 16, 20, 16);
    page->setSpacing(14);

    // What the input is: both uses at once, neither can be switched off.
    Gro_Xi_mode = new QGroupBox(this);
    Gro_Xi_mode->setObjectName(QStringLiteral("Gro_Xi_mode"));
    auto* modeLayout = new QVBoxLayout(Gro_Xi_mode);
    Label_Xi_note = MakeLabel("Label_Xi_note", kNoteSource, Gro_Xi_mode);
    Label_Xi_note->setWordWrap(true);
    modeLayout->addWidget(Label_Xi_note);
    auto* checks = new QHBoxLayout;
    CheckBox1 = new QCheckBox(Gro_Xi_mode);
    ShowPanelText(CheckBox1, QT_TRANSLATE_NOOP("kelm::Panels", "开关量输入"));
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CBox_Xi_Count_Eanble = new QCheckBox(Gro_Xi_mode);
    ShowPanelText(CBox_Xi_Count_Eanble, QT_TRANSLATE_NOOP("kelm::Panels", "脉冲计数输入"));
    CBox_Xi_Count_Eanble->setObjectName(QStringLiteral("CBox_Xi_Count_Eanble"));
    for (QCheckBox* c : {CheckBox1, CBox_Xi_Count_Eanble}) {
        c->setChecked(true);
        c->setEnabled(false);
        checks->addWidget(c);
    }
    checks->addStretch(1);
    modeLayout->addLayout(checks);
    page->addWidget(Gro_Xi_mode);

    Gro_Xi_filter = new QGroupBox(this);
    ShowPanelText(Gro_Xi_filter, QT_TRANSLATE_NOOP("kelm::Panels", "开关量滤波："));
    Gro_Xi_filter->setObjectName(QStringLiteral("Gro_Xi_filter"));
    auto* filter = new QHBoxLayout(Gro_Xi_filter);
    filter->addWidget(MakeLabel("Label_Xi_filter", QT_TRANSLATE_NOOP("kelm::Panels", "滤波时间："),
                                Gro_Xi_filter));
    Edit_Xi_filter_value = new QLineEdit(QStringLiteral("0"), Gro_Xi_filter);
    Edit_Xi_filter_value->setObjectName(QStringLiteral("Edit_Xi_filter_value"));
    Edit_Xi_filter_value->setFixedWidth(120);
    AcceptDigitsOnly(Edit_Xi_filter_value,
                     [this](QChar& Key) { Edit_Xi_filter_valueKeyPress(Key); });
    filter->addWidget(Edit_Xi_filter_value);
    filter->addWidget(MakeLabel("Label_Xi_filter_unit", "x0.1ms", Gro_Xi_filter));
    filter->addSpacing(30);
    Btn_Xi_filter_read = MakeButton("Btn_Xi_filter_read",
                                    QT_TRANSLATE_NOOP("kelm::Panels", "读取配置"), Gro_Xi_filter);
    Btn_Xi_filter_set = MakeButton("Btn_Xi_filter_set",
                                   QT_TRANSLATE_NOOP("kelm::Panels", "更新配置"), Gro_Xi_filter);
    filter->addWidget(Btn_Xi_filter_read);
    filter->addWidget(Btn_Xi_filter_set);
    filter->addStretch(1);
    page->addWidget(Gro_Xi_filter);

    Gro_Xi_counter = new QGroupBox(this);
    ShowPanelText(Gro_Xi_counter, QT_TRANSLATE_NOOP("kelm::Panels", "脉冲计数："));
    Gro_Xi_counter->setObjectName(QStringLiteral("Gro_Xi_counter"));
    auto* counter = new QGridLayout(Gro_Xi_counter);
    counter->setHorizontalSpacing(12);
    Sbtn_Xi_Counter_on =
        MakeFaceButton(QStringLiteral("Sbtn_Xi_Counter_on"),
                       QT_TRANSLATE_NOOP("kelm::Panels", "启动"), kImgFaceOn, Gro_Xi_counter);
    Sbtn_Xi_Counter_off =
        MakeFaceButton(QStringLiteral("Sbtn_Xi_Counter_off"),
                       QT_TRANSLATE_NOOP("kelm::Panels", "停止"), kImgFaceOff, Gro_Xi_counter);
    counter->addWidget(Sbtn_Xi_Counter_on, 0, 0, 2, 1);
    counter->addWidget(Sbtn_Xi_Counter_off, 0, 1, 2, 1);
    counter->addWidget(
        MakeLabel("Label_Xi_state", QT_TRANSLATE_NOOP("kelm::Panels", "状态："), Gro_Xi_counter), 0,
        2);
    Shape_Counter_DI = new StateShape(QStringLiteral("Shape_Counter_DI"), Gro_Xi_counter);
    counter->addWidget(Shape_Counter_DI, 0, 3);
    counter->addWidget(
        MakeLabel("Label_Xi_count", QT_TRANSLATE_NOOP("kelm::Panels", "计数值："), Gro_Xi_counter),
        1, 2);
    Edit_Xi_counter_value = new QLineEdit(QStringLiteral("0"), Gro_Xi_counter);
    Edit_Xi_counter_value->setObjectName(QStringLiteral("Edit_Xi_counter_value"));
    Edit_Xi_counter_value->setReadOnly(true);
    QFont big = Edit_Xi_counter_value->font();
    big.setPixelSize(28);
    big.setBold(true);
    Edit_Xi_counter_value->setFont(big);
    Edit_Xi_counter_value->setMinimumWidth(220);
    counter->addWidget(Edit_Xi_counter_value, 1, 3);
    Btn_Xi_Counter_Read = MakeButton(
        "Btn_Xi_Counter_Read", QT_TRANSLATE_NOOP("kelm::Panels", "计数状态查询"), Gro_Xi_counter);
    counter->addWidget(Btn_Xi_Counter_Read, 1, 4);
    counter->setColumnStretch(5, 1);
    page->addWidget(Gro_Xi_counter);
    page->addStretch(1);

    connect(Btn_Xi_filter_read, &QPushButton::clicked, this, [this] { Btn_Xi_filter_readClick(); });
    connect(Btn_Xi_filter_set, &QPushButton::clicked, this, [this] { Btn_Xi_filter_setClick(); });
    connect(Sbtn_Xi_Counter_on, &QToolButton::clicked, this, [this] { Sbtn_Xi_Counter_onClick(); });
    connect(Sbtn_Xi_Counter_off, &QToolButton::clicked, this,
            [this] { Sbtn_Xi_Counter_offClick(); });
    connect(Btn_Xi_Counter_Read, &QPushButton::clicked, this,
            [this] { Btn_Xi_Counter_ReadClick(); });
}

void TPnlXiType::retranslate() {
    RetranslatePanelTexts(this);
}

void TPnlXiType::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) retranslate();
    QWidget::changeEvent(event);
}

MasterState& TPnlXiType::State() const {
    return ctx_.master.State();
}

const InputChannelMap* TPnlXiType::MapOf(const std::string& model) {
    // The models with input channel nodes, as the model description lays
    // them out.
    static const std::vector<InputChannelMap> maps = [] {
        std::vector<InputChannelMap> out;
        for (const models::Model& m : models::AllModels()) {
            const models::Item* filter = models::FindItem(m, "di_filter");
            const models::Item* control = models::FindItem(m, "di_count_run");
            if (m.layout.inputs == 0 || !filter || !control) continue;
            out.push_back({m.name.data(), m.layout.inputs, filter->first, control->first});
        }
        return out;
    }();
    for (const InputChannelMap& m : maps)
        if (model == m.model) return &m;
    return nullptr;
}

const InputChannelMap* TPnlXiType::Selected(unsigned* ch) const {
    const InputChannelMap* map = MapOf(State().Node_Device_Name);
    if (!map) return nullptr;
    // The inputs of a KELM-8I8T are its first eight channel nodes; a node
    // past a model's inputs names no register of this panel.
    const unsigned index = State().Node_DeviceChild_Index;
    if (index >= map->inputs) return nullptr;
    *ch = index;
    return map;
}

void TPnlXiType::Pnl_Xi_type_Default() {
    Edit_Xi_filter_value->setText(QStringLiteral("0"));
    Edit_Xi_counter_value->setText(QStringLiteral("0"));
    Shape_Counter_DI->SetRunning(false);
}

void TPnlXiType::Btn_Xi_filter_readClick() {
    Edit_Xi_filter_value->setText(QStringLiteral("0"));
    unsigned ch = 0;
    if (const InputChannelMap* map = Selected(&ch))
        ctx_.master.Modbus_Send_oneWord(kFcReadHolding, map->filter,
                                        static_cast<std::uint16_t>(map->inputs));
}

void TPnlXiType::Btn_Xi_filter_setClick() {
    const auto value = ToInt32(Edit_Xi_filter_value->text(), ctx_.boxes);
    if (!value) return;
    if (*value < kFilterMin || *value > kFilterMax) {
        ctx_.boxes.Warning(NoticeTitle(), PanelTr(kFilterWarningSource));
        return;
    }
    unsigned ch = 0;
    if (const InputChannelMap* map = Selected(&ch))
        ctx_.master.Modbus_Send_oneWord(kFcWriteSingle, map->FilterReg(ch),
                                        static_cast<std::uint16_t>(*value));
}

void TPnlXiType::CountingWrite(std::uint16_t value, std::uint8_t marker) {
    unsigned ch = 0;
    const InputChannelMap* map = Selected(&ch);
    if (!map) return;
    ctx_.master.Modbus_Send_oneWord(kFcWriteSingle, map->ControlReg(ch), value);
    State().DIDO_Button_Status = marker;
}

void TPnlXiType::Sbtn_Xi_Counter_onClick() {
    // Asked before the model is looked at; Cancel leaves everything as it was.
    if (!ctx_.boxes.Confirm(NoticeTitle(), PanelTr(kCountingQuestionSource))) return;
    CountingWrite(kCharStart, kMarkerCountStart);
}

void TPnlXiType::Sbtn_Xi_Counter_offClick() {
    CountingWrite(kCharStop, kMarkerCountStop);
}

void TPnlXiType::Btn_Xi_Counter_ReadClick() {
    Shape_Counter_DI->SetRunning(false);
    Edit_Xi_counter_value->setText(QStringLiteral("0"));
    unsigned ch = 0;
    if (const InputChannelMap* map = Selected(&ch))
        ctx_.master.Modbus_Send_oneWord(kFcReadHolding, map->control, map->CountingQuantity());
}

void TPnlXiType::Edit_Xi_filter_valueKeyPress(QChar& Key) {
    DigitsAndBackspaceOnly(Key);
}

void TPnlXiType::FilterReply(const Frame& Pbuf) {
    unsigned ch = 0;
    if (!Selected(&ch)) return;  // not an input: the reply is not this panel's
    Edit_Xi_filter_value->setText(QString::number(Pbuf.word(3 + 2 * ch)));
}

void TPnlXiType::CountingReply(const Frame& Pbuf) {
    unsigned ch = 0;
    const InputChannelMap* map = Selected(&ch);
    if (!map) return;
    Shape_Counter_DI->SetRunning(Pbuf.word(3 + 2 * ch) == kCharStart);
    Edit_Xi_counter_value->setText(QString::number(DWordAt(Pbuf, map->CountByte(ch))));
}

void TPnlXiType::CountingConfirmation() {
    // The echo's value is not looked at: the marker says what was sent.
    std::uint8_t& marker = State().DIDO_Button_Status;
    if (marker == kMarkerCountStart) {
        Shape_Counter_DI->SetRunning(true);
        ctx_.boxes.Information(NoticeTitle(), PanelTr(kCountingStartedSource));
    } else if (marker == kMarkerCountStop) {
        Shape_Counter_DI->SetRunning(false);
        ctx_.boxes.Information(NoticeTitle(), PanelTr(kCountingStoppedSource));
    }
    marker = kMarkerNone;
}

}  // namespace kelm
