#include "modules/LampColumn.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QToolButton>

#include "gui/Pictures.h"

namespace kelm {

namespace {
constexpr int kLampSize = 50;
}  // namespace

LampColumn::LampColumn(LampColumnNames names, QWidget* parent)
    : QWidget(parent),
      iconOn_(ImageList50xIcon(kImgLampOn)),
      iconOff_(ImageList50xIcon(kImgLampOff)) {
    setObjectName(names.buttonPrefix + QStringLiteral("_lamps"));
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(2);
    const bool withBoxes = !names.boxPrefix.isEmpty();
    const int perChannel = withBoxes ? 2 : 1;
    buttons_.reserve(names.count);
    lampOn_.assign(names.count, false);
    for (int ch = 0; ch < names.count; ++ch) {
        auto* b = new QToolButton(this);
        b->setObjectName(names.buttonPrefix + QString::number(ch));
        QString caption = names.captionPrefix + QString::number(ch);
        if (caption.size() < names.captionWidth)
            caption += QString(names.captionWidth - caption.size(), QLatin1Char(' '));
        b->setText(caption);
        b->setIcon(iconOff_);
        b->setIconSize(QSize(kLampSize, kLampSize));
        b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        // The picture sits to the right of the caption.
        b->setLayoutDirection(Qt::RightToLeft);
        b->setAutoRaise(true);
        // One width for the whole column, whatever the caption.
        b->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        b->setCheckable(names.toggles);
        connect(b, &QToolButton::clicked, this, [this, ch] {
            if (onClick_) onClick_(ch);
        });
        const int row = ch % kRowsPerColumn;
        const int col = (ch / kRowsPerColumn) * (perChannel + 1);
        grid->addWidget(b, row, col);
        buttons_.push_back(b);
        if (withBoxes) {
            auto* box = new QCheckBox(this);
            box->setObjectName(names.boxPrefix + QString::number(ch));
            grid->addWidget(box, row, col + 1);
            boxes_.push_back(box);
        }
    }
    // A little air between the columns of a 16-channel panel.
    for (int c = perChannel; c < grid->columnCount(); c += perChannel + 1)
        grid->setColumnMinimumWidth(c, 12);
}

QToolButton* LampColumn::Button(int ch) const {
    return ch >= 0 && ch < Count() ? buttons_[ch] : nullptr;
}

QCheckBox* LampColumn::Box(int ch) const {
    return ch >= 0 && ch < static_cast<int>(boxes_.size()) ? boxes_[ch] : nullptr;
}

void LampColumn::SetLamp(int ch, bool on) {
    if (ch < 0 || ch >= Count()) return;
    lampOn_[ch] = on;
    buttons_[ch]->setIcon(on ? iconOn_ : iconOff_);
}

bool LampColumn::LampOn(int ch) const {
    return ch >= 0 && ch < Count() && lampOn_[ch];
}

void LampColumn::SetPressed(int ch, bool pressed) {
    if (ch < 0 || ch >= Count()) return;
    // Setting the state by program runs no click handler.
    buttons_[ch]->setChecked(pressed);
}

bool LampColumn::Pressed(int ch) const {
    return ch >= 0 && ch < Count() && buttons_[ch]->isChecked();
}

void LampColumn::AllLampsOff() {
    if (iconOff_.isNull()) return;
    for (int ch = 0; ch < Count(); ++ch) SetLamp(ch, false);
}

std::uint16_t LampColumn::BoxWord() const {
    unsigned word = 0;
    for (std::size_t ch = 0; ch < boxes_.size() && ch < 16; ++ch)
        if (boxes_[ch]->isChecked()) word |= 1u << ch;
    return static_cast<std::uint16_t>(word);
}

void LampColumn::SetBoxes(std::uint16_t word) {
    for (std::size_t ch = 0; ch < boxes_.size() && ch < 16; ++ch)
        boxes_[ch]->setChecked(((word >> ch) & 1u) != 0);
}

void LampColumn::TickBoxes(std::uint16_t word) {
    for (std::size_t ch = 0; ch < boxes_.size() && ch < 16; ++ch)
        if (((word >> ch) & 1u) != 0) boxes_[ch]->setChecked(true);
}

void LampColumn::SetBoxesVisible(bool visible) {
    for (QCheckBox* box : boxes_) box->setVisible(visible);
}

}  // namespace kelm
