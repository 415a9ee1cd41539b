#include "modules/Pnl2AO.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <functional>

#include "gui/MessageBoxes.h"
#include "modbus/Bytes.h"
#include "modbus/ModbusMaster.h"
#include "models/ModelMap.h"
#include "modules/PanelTexts.h"
#include "modules/PanelWidgets.h"

namespace kelm {

namespace {

constexpr const char* kModesWrittenSource =
    QT_TRANSLATE_NOOP("kelm::Panels", "两路AO模式配置成功！");
constexpr const char* kValuesWrittenSource =
    QT_TRANSLATE_NOOP("kelm::Panels", "两路AO数据更新成功！");

constexpr std::uint8_t kFcWriteSingle = models::kFcWriteRegister;
constexpr std::uint8_t kFcWriteMultiple = models::kFcWriteRegisters;

const models::Item& ModeItem() {
    return *models::FindItem(*models::FindModel("KELM-2AO"), "ao_mode");
}
const models::Item& ValueItem() {
    return *models::FindItem(*models::FindModel("KELM-2AO"), "ao");
}
// AO0's registers; AO1's follow.
const std::uint16_t kModeReg = ModeItem().first;
const std::uint16_t kValueReg = ValueItem().first;

// What choosing a mode does to its channel: the mode's range on the bar, its
// lowest value in the box, its unit.
struct ModeSetting {
    std::uint8_t code;  // the mode register's character
    int barMin;
    int barMax;
    QString boxText;
    QString unit;
};
ModeSetting Setting(const models::Choice& c) {
    return {static_cast<std::uint8_t>(c.code), static_cast<int>(c.min), static_cast<int>(c.max),
            QString::number(c.min),
            QString::fromUtf8(c.unit.data(), static_cast<qsizetype>(c.unit.size()))};
}
const ModeSetting kCurrent = Setting(ModeItem().choices[0]);
const ModeSetting kVoltage = Setting(ModeItem().choices[1]);

const ModeSetting& SettingOf(TPnl2AO::AoMode mode) {
    return mode == TPnl2AO::AoMode::Current ? kCurrent : kVoltage;
}

QString ChannelText(const char* pattern, int ch) {
    return QString::fromUtf8(pattern).arg(ch);
}

// The named handlers of each channel's controls.
struct ChannelHandlers {
    void (TPnl2AO::*mode0)();
    void (TPnl2AO::*mode2)();
    void (TPnl2AO::*scroll)(int);
    void (TPnl2AO::*change)();
    void (TPnl2AO::*write)();
};
constexpr ChannelHandlers kHandlers[TPnl2AO::kChannels] = {
    {&TPnl2AO::RdB_AO0_Mode0Click, &TPnl2AO::RdB_AO0_Mode2Click, &TPnl2AO::ScrollBar_AO0Scroll,
     &TPnl2AO::Edit_AO0Change, &TPnl2AO::SBtn_Write_AO0Click},
    {&TPnl2AO::RdB_AO1_Mode0Click, &TPnl2AO::RdB_AO1_Mode2Click, &TPnl2AO::ScrollBar_AO1Scroll,
     &TPnl2AO::Edit_AO1Change, &TPnl2AO::SBtn_Write_AO1Click},
};

// A scroll bar whose own context menu ("Scroll here", the edges, the page and
// step entries) counts as the user's scrolling. "Scroll here" moves the bar
// by setValue, which no user-action signal reports, so the moves made while
// the menu is being handled are reported here. While the menu is still up
// (its popup active) a move comes from the program - a reply arriving
// meanwhile - and is no scroll.
class ContextScrollBar : public QScrollBar {
  public:
    ContextScrollBar(Qt::Orientation orientation, QWidget* parent)
        : QScrollBar(orientation, parent) {
        connect(this, &QAbstractSlider::valueChanged, this, [this](int value) {
            if (inMenu_ && !QApplication::activePopupWidget() && onMenuMove_) onMenuMove_(value);
        });
    }
    void SetOnMenuMove(std::function<void(int)> onMenuMove) { onMenuMove_ = std::move(onMenuMove); }

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override {
        inMenu_ = true;
        QScrollBar::contextMenuEvent(event);
        inMenu_ = false;
    }

  private:
    bool inMenu_ = false;
    std::function<void(int)> onMenuMove_;
};

}  // namespace

const QString TPnl2AO::kModesWritten = QString::fromUtf8(kModesWrittenSource);
const QString TPnl2AO::kValuesWritten = QString::fromUtf8(kValuesWrittenSource);

TPnl2AO::TPnl2AO(const ModuleContext& ctx, QWidget* parent)
    : ModulePanel(ctx, QStringLiteral("Pnl_2AO"), "KELM_2AO_Event",
                  IdentityNames{QStringLiteral("2AO"), QStringLiteral("2AO"),
                                QStringLiteral("GroupBo2AO"), QStringLiteral("SpeedButton5"),
                                QT_TRANSLATE_NOOP("kelm::Panels", "查询版本信息"),
                                QT_TRANSLATE_NOOP("kelm::Panels", "更新参数"),
                                ConfirmNewParameters::OnlyRegister3},
                  parent) {
    menu_ = new QGroupBox(this);
    menu_->setObjectName(QStringLiteral("Gro2AO_menu"));
    auto* menuLayout = new QVBoxLayout(menu_);
    channels_[0] = MakeChannel(0, QStringLiteral("GroupBox_ctrlAO0"), menu_);
    channels_[1] = MakeChannel(1, QStringLiteral("GroupBox2"), menu_);
    menuLayout->addWidget(channels_[0].group);
    menuLayout->addWidget(channels_[1].group);

    writeData_ = MakeTextSpeedButton(QStringLiteral("SBtn_AO_Write_Data"),
                                     QT_TRANSLATE_NOOP("kelm::Panels", "写两路AO数据"), menu_);
    writeMode_ = MakeTextSpeedButton(QStringLiteral("SBtn_AO_Write_Mode"),
                                     QT_TRANSLATE_NOOP("kelm::Panels", "写两路AO模式"), menu_);
    readMode_ = MakeTextSpeedButton(QStringLiteral("SBtn_AO_Read_Mode"),
                                    QT_TRANSLATE_NOOP("kelm::Panels", "读两路AO模式及数据"), menu_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(writeData_);
    buttons->addWidget(writeMode_);
    buttons->addWidget(readMode_);
    menuLayout->addLayout(buttons);
    menuLayout->addStretch(1);
    MenuLayout()->addWidget(menu_);

    connect(writeData_, &QToolButton::clicked, this, [this] { SBtn_AO_Write_DataClick(); });
    connect(writeMode_, &QToolButton::clicked, this, [this] { SBtn_AO_Write_ModeClick(); });
    connect(readMode_, &QToolButton::clicked, this, [this] { SBtn_AO_Read_ModeClick(); });

    AddReplyRows({
        ReadRow(ValueItem(), "modes and values", [this](const Frame& Pbuf) { ReadReply(Pbuf); }),
        Echo(kFcWriteMultiple, kModeReg, kModeReg, "both modes written",
             [this](const Frame&) {
                 Context().boxes.Information(NoticeTitle(), PanelTr(kModesWrittenSource));
             }),
        Echo(kFcWriteMultiple, kValueReg, kValueReg, "both values written",
             [this](const Frame&) {
                 Context().boxes.Information(NoticeTitle(), PanelTr(kValuesWrittenSource));
             }),
        Echo(kFcWriteSingle, kValueReg, kValueReg, "AO0 value written",
             [this](const Frame&) {
                 Context().boxes.Information(
                     NoticeTitle(),
                     PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "AO0数据更新成功！")));
             }),
        Echo(kFcWriteSingle, kValueReg + 1, kValueReg + 1, "AO1 value written",
             [this](const Frame&) {
                 Context().boxes.Information(
                     NoticeTitle(),
                     PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "AO1数据更新成功！")));
             }),
    });
}

TPnl2AO::Channel TPnl2AO::MakeChannel(int ch, const QString& groupName, QWidget* parent) {
    Channel c;
    c.valueReg = static_cast<std::uint16_t>(kValueReg + ch);
    c.group = new QGroupBox(ChannelText("AO%1:", ch), parent);
    c.group->setObjectName(groupName);
    auto* grid = new QGridLayout(c.group);

    c.mode0 = new QRadioButton(QStringLiteral("4-20mA"), c.group);
    c.mode0->setObjectName(ChannelText("RdB_AO%1_Mode0", ch));
    c.mode1 = new QRadioButton(QStringLiteral("0-10V"), c.group);
    c.mode1->setObjectName(ChannelText("RdB_AO%1_Mode1", ch));
    auto* bar = new ContextScrollBar(Qt::Horizontal, c.group);
    c.bar = bar;
    c.bar->setObjectName(ChannelText("ScrollBar_AO%1", ch));
    c.bar->setRange(0, 100);
    c.bar->setSingleStep(1);
    c.bar->setPageStep(1);
    c.bar->setValue(0);
    c.value = MakeValueBox(ChannelText("Edit_AO%1", ch), QStringLiteral("0"), c.group);
    c.unit = new QLabel(QStringLiteral("uA"), c.group);
    c.unit->setObjectName(ChannelText("Label_AO%1_unit", ch));
    c.unit->setMinimumWidth(24);
    c.write = MakeTextSpeedButton(ChannelText("SBtn_Write_AO%1", ch),
                                  QT_TRANSLATE_NOOP("kelm::Panels", "写入AO%1数据"), c.group,
                                  {QString::number(ch)});

    auto* modeLabel = new QLabel(c.group);
    ShowPanelText(modeLabel, QT_TRANSLATE_NOOP("kelm::Panels", "模式："));
    grid->addWidget(modeLabel, 0, 0);
    grid->addWidget(c.mode0, 0, 1);
    grid->addWidget(c.mode1, 0, 2);
    grid->addWidget(c.bar, 1, 0, 1, 4);
    auto* valueLabel = new QLabel(c.group);
    ShowPanelText(valueLabel, QT_TRANSLATE_NOOP("kelm::Panels", "当前值："));
    grid->addWidget(valueLabel, 2, 0);
    grid->addWidget(c.value, 2, 1, 1, 2);
    grid->addWidget(c.unit, 2, 3);
    grid->addWidget(c.write, 3, 0, 1, 4);

    // The form creates the channel in current mode without running its
    // handler: the bar keeps 0-100 until a mode is chosen.
    c.mode0->setChecked(true);

    // toggled(true) is a new selection, by the user or by program: both run
    // the mode's handler; a deselection runs nothing, and clicking the mode
    // already selected is no new choice.
    const ChannelHandlers& h = kHandlers[ch];
    connect(c.mode0, &QRadioButton::toggled, this, [this, h](bool on) {
        if (on) (this->*h.mode0)();
    });
    connect(c.mode1, &QRadioButton::toggled, this, [this, h](bool on) {
        if (on) (this->*h.mode2)();
    });
    // Only the user's scrolling writes the box; moves made by program do not
    // come through these signals. actionTriggered carries the new position
    // before the bar's value catches up.
    connect(bar, &QScrollBar::actionTriggered, this,
            [this, h, bar](int) { (this->*h.scroll)(bar->sliderPosition()); });
    connect(bar, &QScrollBar::sliderMoved, this,
            [this, h](int position) { (this->*h.scroll)(position); });
    connect(bar, &QScrollBar::sliderReleased, this,
            [this, h, bar] { (this->*h.scroll)(bar->value()); });
    bar->SetOnMenuMove([this, h](int position) { (this->*h.scroll)(position); });
    connect(c.value, &QLineEdit::textChanged, this,
            [this, h](const QString&) { (this->*h.change)(); });
    connect(c.write, &QToolButton::clicked, this, [this, h] { (this->*h.write)(); });
    return c;
}

void TPnl2AO::Pnl2AO_Default() {
    Default();
}

void TPnl2AO::KELM_2AO_Event(std::uint16_t Command, const Frame& Pbuf) {
    Event(Command, Pbuf);
}

void TPnl2AO::ModeClick(int ch, AoMode mode) {
    const Channel& c = Ch(ch);
    const ModeSetting& s = SettingOf(mode);
    // Maximum first: a minimum above the old maximum would drag it along.
    c.bar->setMaximum(s.barMax);
    c.bar->setMinimum(s.barMin);
    c.bar->setValue(0);  // raised to the minimum
    c.value->setText(s.boxText);
    c.unit->setText(s.unit);
}

void TPnl2AO::ScrollBarScroll(int ch, int position) {
    Ch(ch).value->setText(QString::number(position));
}

std::optional<std::uint16_t> TPnl2AO::BoxValue(int ch) const {
    bool ok = false;
    const qlonglong v = Ch(ch).value->text().toLongLong(&ok);
    if (!ok) return std::nullopt;
    return static_cast<std::uint16_t>(static_cast<unsigned long long>(v) & 0xFFFFu);
}

std::optional<std::uint16_t> TPnl2AO::BoxValueOrReport(int ch) const {
    const std::optional<std::uint16_t> v = BoxValue(ch);
    // The program fills the boxes with digits only; should one ever hold
    // anything else, the write stops with the toolkit's error report.
    if (!v)
        Context().boxes.ReportConversionError(
            QStringLiteral("'%1' is not a valid integer value").arg(Ch(ch).value->text()));
    return v;
}

void TPnl2AO::EditChange(int ch) {
    const std::optional<std::uint16_t> v = BoxValue(ch);
    if (!v) return;
    QScrollBar* bar = Ch(ch).bar;
    // Above the range the bar stays put; below it the bar sits at its minimum.
    if (*v <= bar->maximum()) bar->setValue(*v);
}

void TPnl2AO::WriteOneClick(int ch) {
    const std::optional<std::uint16_t> v = BoxValueOrReport(ch);
    if (!v) return;
    Context().master.Modbus_Send_oneWord(kFcWriteSingle, Ch(ch).valueReg, *v);
}

void TPnl2AO::WriteDataClick() {
    const std::optional<std::uint16_t> ao0 = BoxValueOrReport(0);
    if (!ao0) return;
    const std::optional<std::uint16_t> ao1 = BoxValueOrReport(1);
    if (!ao1) return;
    const ByteString data = {
        static_cast<std::uint8_t>(*ao0 >> 8), static_cast<std::uint8_t>(*ao0 & 0xFF),
        static_cast<std::uint8_t>(*ao1 >> 8), static_cast<std::uint8_t>(*ao1 & 0xFF)};
    Context().master.Modbus_Send_Buf(kFcWriteMultiple, kValueReg, 2, 4, data);
}

void TPnl2AO::WriteModeClick() {
    ByteString data;
    for (int ch = 0; ch < kChannels; ++ch) {
        const Channel& c = Ch(ch);
        if (!c.mode0->isChecked() && !c.mode1->isChecked()) return;
        data.push_back(0x00);
        data.push_back(SettingOf(c.mode0->isChecked() ? AoMode::Current : AoMode::Voltage).code);
    }
    Context().master.Modbus_Send_Buf(kFcWriteMultiple, kModeReg, 2, 4, data);
}

void TPnl2AO::SelectMode(int ch, AoMode mode) {
    const Channel& c = Ch(ch);
    // setChecked runs the handler through toggled when the selection is new.
    (mode == AoMode::Current ? c.mode0 : c.mode1)->setChecked(true);
}

void TPnl2AO::DeselectModes(int ch) {
    // A radio button of an exclusive set refuses to be cleared on its own.
    for (QRadioButton* b : {Ch(ch).mode0, Ch(ch).mode1}) {
        b->setAutoExclusive(false);
        b->setChecked(false);
        b->setAutoExclusive(true);
    }
}

void TPnl2AO::ReadModeClick() {
    for (int ch = 0; ch < kChannels; ++ch) {
        DeselectModes(ch);
        Ch(ch).value->setText(QStringLiteral("0"));
    }
    const models::Read read = ValueItem().read;  // the modes and the values
    Context().master.Modbus_Send_oneWord(read.fc, read.start, read.quantity);
}

void TPnl2AO::ReadReply(const Frame& Pbuf) {
    // Modes first: their handlers put "4000" or "0" in the boxes, which the
    // values read from the module then replace.
    for (int ch = 0; ch < kChannels; ++ch) {
        const std::uint16_t mode =
            Pbuf.word(3 + 2 * static_cast<std::size_t>(ModeItem().Address(ch) - kModeReg));
        SelectMode(ch, mode == kCurrent.code ? AoMode::Current : AoMode::Voltage);
    }
    for (int ch = 0; ch < kChannels; ++ch) {
        const std::uint16_t value =
            Pbuf.word(3 + 2 * static_cast<std::size_t>(ValueItem().Address(ch) - kModeReg));
        Ch(ch).value->setText(QString::number(value));
    }
}

std::vector<int> TPnl2AO::ChannelModes() const {
    std::vector<int> modes;
    for (int ch = 0; ch < kChannels; ++ch) {
        const Channel& c = Ch(ch);
        modes.push_back(c.mode0->isChecked() ? 0 : c.mode1->isChecked() ? 1 : -1);
    }
    return modes;
}

void TPnl2AO::ResetModel() {
    for (int ch = 0; ch < kChannels; ++ch) {
        const Channel& c = Ch(ch);
        DeselectModes(ch);
        c.value->setText(QStringLiteral("0"));
        c.bar->setValue(0);  // raised to the minimum; the range stays the last mode's
        c.unit->clear();
    }
}

}  // namespace kelm
