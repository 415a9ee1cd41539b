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
#include "modules/PanelWidgets.h"

namespace kelm {

namespace {

constexpr std::uint8_t kFcReadHolding = 3;
constexpr std::uint8_t kFcReadInput = 4;
constexpr std::uint8_t kFcWriteMultiple = 16;
constexpr std::uint16_t kModeReg = 6;  // CH0; CH7 is 13
constexpr std::uint16_t kDataReg = 0;
constexpr int kModeByteCount = 16;
constexpr std::uint16_t kModeCodeBase = 0x30;

// Bipolar: 65535 is zero and 64000 counts one full scale either way.
constexpr AnalogRange k8AdRanges[] = {
    {"±20mA", 20, 4},  {"±10V", 10, 4},   {"±5V", 5, 5},     {"±2.5V", 2.5, 5},
    {"±1.2V", 1.2, 5}, {"±0.6V", 0.6, 5}, {"±0.3V", 0.3, 6}, {"±0.15V", 0.15, 6},
};
constexpr AnalogRange k8AsRanges[] = {
    {"电流", 20, 3},
    {"电压", 10, 3},
};

double CountsPerFullScale8AD(std::string_view) {
    return 64000.0;
}
// The KELM-8AS counts 4000 per full scale; the KELM-8ASP, and any other model
// name the panel is shown for, 64000.
double CountsPerFullScale8AS(std::string_view modelName) {
    return modelName == "KELM-8AS" ? 4000.0 : 64000.0;
}

// Adds one to a string of decimal digits.
void Increment(std::string& digits) {
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        if (*it != '9') {
            ++*it;
            return;
        }
        *it = '0';
    }
    digits.insert(digits.begin(), '1');
}

}  // namespace

const AnalogInputModel kAnalogInput8AD{
    "8AD",
    "量程值：",
    k8AdRanges,
    3,
    65535.0,
    CountsPerFullScale8AD,
    AnalogInputModel::ModeReply::AllInRange,
    AnalogInputModel::Unselected::RawCount,
    0,
};

const AnalogInputModel kAnalogInput8AS{
    "8AS",
    "工程量：",
    k8AsRanges,
    2,
    0.0,
    CountsPerFullScale8AS,
    AnalogInputModel::ModeReply::Each,
    AnalogInputModel::Unselected::Unscaled,
    3,
};

QString FormatFixed(double v, int decimals) {
    if (!std::isfinite(v)) return QString::number(v);
    if (decimals < 0) decimals = 0;
    // Fifteen significant digits are what a double holds reliably; rounding
    // those in decimal makes a value that lies exactly between two steps
    // (0.00125 at four decimals) round the same way every time, whatever
    // binary error the division left.
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.14e", std::fabs(v));
    std::string digits(1, buf[0]);
    digits.append(buf + 2, 14);
    const char* e = std::strchr(buf, 'e');
    const int exponent = e ? std::atoi(e + 1) : 0;

    // digits * 10^shift is the value times 10^decimals.
    const int shift = exponent - 14 + decimals;
    std::string scaled;
    if (shift >= 0) {
        scaled = digits + std::string(static_cast<std::size_t>(shift), '0');
    } else if (-shift <= static_cast<int>(digits.size())) {
        const std::size_t keep = digits.size() - static_cast<std::size_t>(-shift);
        scaled = digits.substr(0, keep);
        if (digits[keep] >= '5') Increment(scaled);
    }
    const std::size_t firstNonZero = scaled.find_first_not_of('0');
    const bool zero = firstNonZero == std::string::npos;
    scaled = zero ? std::string() : scaled.substr(firstNonZero);
    if (scaled.size() < static_cast<std::size_t>(decimals) + 1)
        scaled.insert(0, static_cast<std::size_t>(decimals) + 1 - scaled.size(), '0');
    if (decimals > 0) scaled.insert(scaled.size() - static_cast<std::size_t>(decimals), 1, '.');
    if (v < 0 && !zero) scaled.insert(0, 1, '-');
    return QString::fromLatin1(scaled.c_str());
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

const QString AnalogInputPanel::kModesWritten = QStringLiteral("8通道模式参数配置成功！");

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

    grid->addWidget(new QLabel(QStringLiteral("数字量："), menu_), 0, 1);
    grid->addWidget(new QLabel(QString::fromUtf8(model_.valueHeading), menu_), 0, 3);
    grid->addWidget(new QLabel(QStringLiteral("模式："), menu_), 0, 5);

    QStringList labels;
    for (const AnalogRange& r : model_.ranges) labels << QString::fromUtf8(r.label);
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
        c.mode->addItems(labels);
        c.mode->setCurrentIndex(0);
        c.mode->setEnabled(false);  // locked until the enable box is ticked

        grid->addWidget(new QLabel(QStringLiteral("CH%1:").arg(ch), menu_), row, 0);
        grid->addWidget(c.raw, row, 1);
        grid->addWidget(new QLabel(QStringLiteral("--"), menu_), row, 2);
        grid->addWidget(c.value, row, 3);
        grid->addWidget(c.unit, row, 4);
        grid->addWidget(c.mode, row, 5);

        // activated: the user's choice only; selections by program do not
        // change the unit here.
        connect(c.mode, &QComboBox::activated, this, [this, ch](int) { ModeChange(ch); });
    }

    enable_ = new QCheckBox(QStringLiteral("使能模式配置"), menu_);
    enable_->setObjectName(QStringLiteral("CheckBox%1_VI_Enable").arg(tag));
    modeRead_ = new QPushButton(QStringLiteral("读取8通道模式"), menu_);
    modeRead_->setObjectName(QStringLiteral("Btn%1_Mode_Read").arg(tag));
    modeSet_ = new QPushButton(QStringLiteral("配置8通道模式"), menu_);
    modeSet_->setObjectName(QStringLiteral("Btn%1_Mode_Set").arg(tag));
    modeSet_->setEnabled(false);
    dataRead_ = new QPushButton(QStringLiteral("读取8通道数据"), menu_);
    dataRead_->setObjectName(QStringLiteral("Btn%1_CH_Read").arg(tag));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(enable_);
    buttons->addWidget(modeRead_);
    buttons->addWidget(modeSet_);
    buttons->addWidget(dataRead_);
    outer->addLayout(buttons);
    outer->addStretch(1);
    MenuLayout()->addWidget(menu_);

    // toggled: a tick or a clear, by the user or by program, runs the click
    // handler; setting the state it already has is no change.
    connect(enable_, &QCheckBox::toggled, this, [this](bool) { EnableClick(); });
    connect(modeRead_, &QPushButton::clicked, this, [this] { ModeReadClick(); });
    connect(modeSet_, &QPushButton::clicked, this, [this] { ModeSetClick(); });
    connect(dataRead_, &QPushButton::clicked, this, [this] { DataReadClick(); });

    AddReplyRows({
        Row(kFcReadHolding, kModeReg, kModeByteCount, "channel modes",
            [this](const Frame& Pbuf) { ModeReply(Pbuf); }),
        Echo(kFcWriteMultiple, kModeReg, kModeReg, "channel modes written",
             [this](const Frame&) { Context().boxes.Information(NoticeTitle(), kModesWritten); }),
        Row(kFcReadInput, kDataReg, model_.DataByteCount(), "channel data",
            [this](const Frame& Pbuf) { DataReply(Pbuf); }),
    });
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
    Context().master.Modbus_Send_oneWord(kFcReadHolding, kModeReg, kChannels);
}

void AnalogInputPanel::ModeReply(const Frame& Pbuf) {
    const auto index = [&Pbuf](int ch) {
        return static_cast<int>(Pbuf.word(3 + 2 * static_cast<std::size_t>(ch))) - kModeCodeBase;
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
        Context().boxes.Warning(NoticeTitle(), missing.join(QStringLiteral("、")) +
                                                   QStringLiteral("未选择模式，请先选择模式！"));
        return;
    }
    ByteString data;
    for (const Channel& c : channels_) {
        data.push_back(0x00);
        data.push_back(static_cast<std::uint8_t>(kModeCodeBase + c.mode->currentIndex()));
    }
    Context().master.Modbus_Send_Buf(kFcWriteMultiple, kModeReg, kChannels, 2 * kChannels, data);
}

void AnalogInputPanel::DataReadClick() {
    for (const Channel& c : channels_) {
        c.raw->setText(QStringLiteral("0"));
        c.value->setText(QStringLiteral("0"));
    }
    Context().master.Modbus_Send_oneWord(kFcReadInput, kDataReg,
                                         static_cast<std::uint16_t>(model_.InputRegisters()));
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
