#include "modules/AnalogInputPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QVBoxLayout>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "gui/MessageBoxes.h"
#include "modbus/Bytes.h"
#include "modbus/ModbusMaster.h"
#include "modules/PanelTexts.h"
#include "modules/PanelWidgets.h"

namespace kelm {

namespace {

using models::kFcReadHolding;
using models::kFcReadInputRegisters;
using models::kFcWriteRegisters;
using models::kModeCharBase;

const models::Model& Model8AD() {
    return *models::FindModel("KELM-8AD");
}
const models::Model& Model8AS() {
    return *models::FindModel("KELM-8AS");
}

// Bipolar: 65535 is zero and 64000 counts one full scale either way.
double CountsPerFullScale8AD(std::string_view) {
    return Model8AD().analog.countsPerFullScale;
}
// The KELM-8AS and the KELM-8ASP differ only here; a model name the panel
// does not know converts as the KELM-8ASP.
double CountsPerFullScale8AS(std::string_view modelName) {
    const models::Model* m = modelName == "KELM-8AS" ? models::FindModel(modelName) : nullptr;
    return (m ? *m : *models::FindModel("KELM-8ASP")).analog.countsPerFullScale;
}

}  // namespace

const AnalogInputModel kAnalogInput8AD{
    "8AD",
    Model8AD(),
    QT_TRANSLATE_NOOP("kelm::Panels", "量程值："),
    Model8AD().items[0].choices,
    3,
    Model8AD().analog.zeroCount,
    CountsPerFullScale8AD,
    AnalogInputModel::ModeReply::AllInRange,
    AnalogInputModel::Unselected::RawCount,
    0,
};

const AnalogInputModel kAnalogInput8AS{
    "8AS",
    Model8AS(),
    QT_TRANSLATE_NOOP("kelm::Panels", "工程量："),
    Model8AS().items[0].choices,
    2,
    Model8AS().analog.zeroCount,
    CountsPerFullScale8AS,
    AnalogInputModel::ModeReply::Each,
    AnalogInputModel::Unselected::Unscaled,
    3,
};

QString FormatFixed(double v, int decimals) {
    return QString::fromStdString(models::FormatFixed(v, decimals));
}

QString AnalogValueText(const AnalogInputModel& model, std::uint32_t count, int modeIndex,
                        double countsPerFullScale) {
    // Divided first, then scaled: the order in which the module's
    // conversion is defined, so the last digit comes out as the module's own.
    const double perFullScale = (static_cast<double>(count) - model.zeroCount) / countsPerFullScale;
    if (modeIndex >= 0 && static_cast<std::size_t>(modeIndex) < model.ranges.size()) {
        const AnalogRange& r = model.ranges[static_cast<std::size_t>(modeIndex)];
        return FormatFixed(perFullScale * r.fullScale, r.decimals);
    }
    if (model.unselected == AnalogInputModel::Unselected::RawCount) return QString::number(count);
    return FormatFixed(perFullScale, model.unscaledDecimals);
}

namespace {
constexpr const char* kModesWrittenSource =
    QT_TRANSLATE_NOOP("kelm::Panels", "8通道模式参数配置成功！");
// A label and its kept source.
QLabel* PanelLabel(const char* source, QWidget* parent) {
    auto* label = new QLabel(parent);
    ShowPanelText(label, source);
    return label;
}
}  // namespace

const QString AnalogInputPanel::kModesWritten = QString::fromUtf8(kModesWrittenSource);

AnalogInputPanel::AnalogInputPanel(const ModuleContext& ctx, const AnalogInputModel& model,
                                   const QString& objectName, std::string_view handlerName,
                                   IdentityNames names, QWidget* parent)
    : ModulePanel(ctx, objectName, handlerName, std::move(names), parent), model_(model) {
    const QString tag = QString::fromLatin1(model_.tag);
    menu_ = new QGroupBox(this);
    menu_->setObjectName(QStringLiteral("Gro%1_menu").arg(tag));
    auto* outer = new QVBoxLayout(menu_);
    auto* grid = new QGridLayout;
    outer->addLayout(grid);

    grid->addWidget(PanelLabel(QT_TRANSLATE_NOOP("kelm::Panels", "数字量："), menu_), 0, 1);
    grid->addWidget(PanelLabel(model_.valueHeading, menu_), 0, 3);
    grid->addWidget(PanelLabel(QT_TRANSLATE_NOOP("kelm::Panels", "模式："), menu_), 0, 5);

    // The ranges' labels as the model names them ("电流" on the KELM-8AS).
    QList<QByteArray> labels;
    for (const AnalogRange& r : model_.ranges)
        labels << QByteArray(r.label.data(), static_cast<qsizetype>(r.label.size()));
    for (int ch = 0; ch < kChannels; ++ch) {
        Channel& c = channels_[static_cast<std::size_t>(ch)];
        const int row = ch + 1;
        c.raw = MakeValueBox(QStringLiteral("Edit_%1_ADC_CH%2").arg(tag).arg(ch),
                             QStringLiteral("0"), menu_);
        c.value = MakeValueBox(QStringLiteral("Edit_%1_VI_CH%2").arg(tag).arg(ch),
                               QStringLiteral("0"), menu_);
        c.unit = new QLabel(QStringLiteral("mA"), menu_);
        c.unit->setObjectName(QStringLiteral("Label_%1_CH%2").arg(tag).arg(ch));
        c.unit->setMinimumWidth(24);
        c.mode = new QComboBox(menu_);
        c.mode->setObjectName(QStringLiteral("Cmb%1_VI_CH%2").arg(tag).arg(ch));
        ShowPanelItems(c.mode, labels);
        c.mode->setCurrentIndex(0);
        c.mode->setEnabled(false);  // locked until the enable box is ticked

        grid->addWidget(new QLabel(QStringLiteral("CH%1:").arg(ch), menu_), row, 0);
        grid->addWidget(c.raw, row, 1);
        grid->addWidget(new QLabel(QStringLiteral("--"), menu_), row, 2);
        grid->addWidget(c.value, row, 3);
        grid->addWidget(c.unit, row, 4);
        grid->addWidget(c.mode, row, 5);
    }

    enable_ = new QCheckBox(menu_);
    ShowPanelText(enable_, QT_TRANSLATE_NOOP("kelm::Panels", "使能模式配置"));
    enable_->setObjectName(QStringLiteral("CheckBox%1_VI_Enable").arg(tag));
    modeRead_ = new QPushButton(menu_);
    ShowPanelText(modeRead_, QT_TRANSLATE_NOOP("kelm::Panels", "读取8通道模式"));
    modeRead_->setObjectName(QStringLiteral("Btn%1_Mode_Read").arg(tag));
    modeSet_ = new QPushButton(menu_);
    ShowPanelText(modeSet_, QT_TRANSLATE_NOOP("kelm::Panels", "配置8通道模式"));
    modeSet_->setObjectName(QStringLiteral("Btn%1_Mode_Set").arg(tag));
    modeSet_->setEnabled(false);
    dataRead_ = new QPushButton(menu_);
    ShowPanelText(dataRead_, QT_TRANSLATE_NOOP("kelm::Panels", "读取8通道数据"));
    dataRead_->setObjectName(QStringLiteral("Btn%1_CH_Read").arg(tag));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(enable_);
    buttons->addWidget(modeRead_);
    buttons->addWidget(modeSet_);
    buttons->addWidget(dataRead_);
    outer->addLayout(buttons);
    outer->addStretch(1);
    MenuLayout()->addWidget(menu_);

    AddReplyRows({
        ReadRow(model_.Modes(), "channel modes", [this](const Frame& Pbuf) { ModeReply(Pbuf); }),
        Echo(kFcWriteRegisters, model_.Modes().first, model_.Modes().first, "channel modes written",
             [this](const Frame&) {
                 Context().boxes.Information(NoticeTitle(), PanelTr(kModesWrittenSource));
             }),
        ReadRow(model_.Counts(), "channel data", [this](const Frame& Pbuf) { DataReply(Pbuf); }),
    });
}

void AnalogInputPanel::ConnectHandlers(const Handlers& h) {
    // activated: the user's choice only; selections by program do not change
    // the unit here.
    for (int ch = 0; ch < kChannels; ++ch)
        connect(Ch(ch).mode, &QComboBox::activated, this,
                [f = h.modeChange[static_cast<std::size_t>(ch)]](int) { f(); });
    // toggled: a tick or a clear, by the user or by program, runs the click
    // handler; setting the state it already has is no change.
    connect(enable_, &QCheckBox::toggled, this, [f = h.enableClick](bool) { f(); });
    connect(modeRead_, &QPushButton::clicked, this, [f = h.modeRead] { f(); });
    connect(modeSet_, &QPushButton::clicked, this, [f = h.modeSet] { f(); });
    connect(dataRead_, &QPushButton::clicked, this, [f = h.dataRead] { f(); });
}

void AnalogInputPanel::ReadItem(const models::Item& item) {
    Context().master.Modbus_Send_oneWord(item.read.fc, item.read.start, item.read.quantity);
}

std::vector<int> AnalogInputPanel::ChannelModes() const {
    std::vector<int> modes;
    for (const Channel& c : channels_) modes.push_back(c.mode->currentIndex());
    return modes;
}

void AnalogInputPanel::EnableClick() {
    const bool on = enable_->isChecked();
    for (const Channel& c : channels_) c.mode->setEnabled(on);
    modeSet_->setEnabled(on);
}

void AnalogInputPanel::UpdateUnit(int ch) {
    const Channel& c = Ch(ch);
    c.unit->setText(c.mode->currentIndex() == 0 ? QStringLiteral("mA") : QStringLiteral("V"));
}

void AnalogInputPanel::ModeChange(int ch) {
    UpdateUnit(ch);
}

void AnalogInputPanel::ModeReadClick() {
    for (const Channel& c : channels_) c.mode->setCurrentIndex(-1);
    ReadItem(model_.Modes());
}

void AnalogInputPanel::ModeReply(const Frame& Pbuf) {
    const auto index = [&Pbuf](int ch) {
        return static_cast<int>(Pbuf.word(3 + 2 * static_cast<std::size_t>(ch))) - kModeCharBase;
    };
    const int entries = static_cast<int>(model_.ranges.size());
    if (model_.modeReply == AnalogInputModel::ModeReply::AllInRange) {
        // One register that names no entry discards the whole reply, units
        // included.
        for (int ch = 0; ch < kChannels; ++ch)
            if (index(ch) < 0 || index(ch) >= entries) return;
    }
    for (int ch = 0; ch < kChannels; ++ch) {
        const int i = index(ch);
        Ch(ch).mode->setCurrentIndex(i >= 0 && i < entries ? i : -1);
    }
    for (int ch = 0; ch < kChannels; ++ch) UpdateUnit(ch);
}

void AnalogInputPanel::ModeSetClick() {
    QStringList missing;
    for (int ch = 0; ch < kChannels; ++ch)
        if (Ch(ch).mode->currentIndex() < 0) missing << QStringLiteral("CH%1").arg(ch);
    // A list without a selection has no code to send; a code outside the
    // model's list would put the module in a mode the panel cannot show.
    if (!missing.isEmpty()) {
        // One sentence per language, the channel list in its place.
        const QString list = missing.join(PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "、")));
        Context().boxes.Warning(
            NoticeTitle(),
            PanelTr(QT_TRANSLATE_NOOP("kelm::Panels", "%1未选择模式，请先选择模式！"), {list}));
        return;
    }
    ByteString data;
    for (const Channel& c : channels_) {
        data.push_back(0x00);
        data.push_back(static_cast<std::uint8_t>(kModeCharBase + c.mode->currentIndex()));
    }
    Context().master.Modbus_Send_Buf(kFcWriteRegisters, model_.Modes().first, kChannels,
                                     2 * kChannels, data);
}

void AnalogInputPanel::DataReadClick() {
    for (const Channel& c : channels_) {
        c.raw->setText(QStringLiteral("0"));
        c.value->setText(QStringLiteral("0"));
    }
    ReadItem(model_.Counts());
}

std::uint32_t AnalogInputPanel::Count(const Frame& Pbuf, int ch) const {
    const std::size_t first = 3 + model_.countBytes * static_cast<std::size_t>(ch);
    std::uint32_t count = 0;
    for (std::size_t i = 0; i < model_.countBytes; ++i) count = (count << 8) | Pbuf[first + i];
    return count;
}

void AnalogInputPanel::DataReply(const Frame& Pbuf) {
    // The conversion follows the lists as they stand now, not the module.
    const double perFullScale = model_.countsPerFullScale(State().Node_Device_Name);
    for (int ch = 0; ch < kChannels; ++ch) {
        const Channel& c = Ch(ch);
        const std::uint32_t count = Count(Pbuf, ch);
        c.raw->setText(QString::number(count));
        c.value->setText(AnalogValueText(model_, count, c.mode->currentIndex(), perFullScale));
    }
}

void AnalogInputPanel::ResetModel() {
    for (const Channel& c : channels_) {
        c.raw->setText(QStringLiteral("0"));
        c.value->setText(QStringLiteral("0"));
        c.unit->setText(QStringLiteral("mA"));
        c.mode->setCurrentIndex(0);
        c.mode->setEnabled(false);
    }
    enable_->setChecked(false);
    modeSet_->setEnabled(false);
    modeRead_->setEnabled(true);
}

}  // namespace kelm
