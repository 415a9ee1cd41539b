#include "modules/ChannelParts.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <limits>

#include "gui/MessageBoxes.h"
#include "gui/Pictures.h"
#include "modbus/Bytes.h"

namespace kelm {

std::uint32_t DWordAt(const Frame& Pbuf, std::size_t i) {
    return (static_cast<std::uint32_t>(Pbuf.word(i)) << 16) | Pbuf.word(i + 2);
}

QLabel* MakeLabel(const char* name, const QString& text, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    return l;
}

QPushButton* MakeButton(const char* name, const QString& text, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

bool DigitsOnlyFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Backspace) return false;
    // A shortcut is not a typed character.
    if (key->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) return false;
    const QString text = key->text();
    if (text.isEmpty()) return false;
    for (QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return true;  // discarded
    return false;
}

void AcceptDigitsOnly(QLineEdit* box) {
    box->installEventFilter(new DigitsOnlyFilter(box));
}

namespace {

// Sign and ASCII decimal digits only; whitespace, other scripts' digits,
// hexadecimal and separators are all refused, so what is sent is exactly
// what the box shows.
std::optional<std::int64_t> parseInteger(const QString& text, std::int64_t min, std::int64_t max) {
    qsizetype i = 0;
    bool negative = false;
    if (!text.isEmpty() && (text[0] == QLatin1Char('+') || text[0] == QLatin1Char('-'))) {
        negative = text[0] == QLatin1Char('-');
        i = 1;
    }
    if (i >= text.size()) return std::nullopt;
    const std::uint64_t limit =
        negative ? static_cast<std::uint64_t>(-(min + 1)) + 1 : static_cast<std::uint64_t>(max);
    std::uint64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
        const unsigned digit = static_cast<unsigned>(c.unicode() - u'0');
        if (magnitude > (limit - digit) / 10) return std::nullopt;  // past the range
        magnitude = magnitude * 10 + digit;
    }
    if (!negative) return static_cast<std::int64_t>(magnitude);
    return magnitude == static_cast<std::uint64_t>(max) + 1 ? min
                                                            : -static_cast<std::int64_t>(magnitude);
}

std::optional<std::int64_t> convert(const QString& text, std::int64_t min, std::int64_t max,
                                    IMessageBoxes& boxes) {
    auto value = parseInteger(text, min, max);
    if (!value)
        boxes.ReportConversionError(QStringLiteral("'%1' is not a valid integer value").arg(text));
    return value;
}

}  // namespace

std::optional<std::int64_t> ToInt32(const QString& text, IMessageBoxes& boxes) {
    return convert(text, std::numeric_limits<std::int32_t>::min(),
                   std::numeric_limits<std::int32_t>::max(), boxes);
}

std::optional<std::int64_t> ToInt64(const QString& text, IMessageBoxes& boxes) {
    return convert(text, std::numeric_limits<std::int64_t>::min(),
                   std::numeric_limits<std::int64_t>::max(), boxes);
}

const QString StateShape::kHint = QStringLiteral("红色：停止；绿色：运行");
const QColor StateShape::kStopped = QColor(0xFF, 0x00, 0x00);
const QColor StateShape::kRunning = QColor(0x00, 0xC0, 0x00);

StateShape::StateShape(const QString& objectName, QWidget* parent) : QWidget(parent) {
    setObjectName(objectName);
    setToolTip(kHint);
    setMinimumSize(80, 18);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void StateShape::SetRunning(bool running) {
    if (running_ == running) return;
    running_ = running;
    // Painted now: the colour must be on screen before a modal box that
    // follows it comes up.
    repaint();
}

void StateShape::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = r.height() / 2;
    p.setPen(QPen(Colour().darker(140), 1));
    p.setBrush(Colour());
    p.drawRoundedRect(r, radius, radius);
}

QToolButton* MakeFaceButton(const QString& objectName, const QString& caption, int image,
                            QWidget* parent) {
    auto* b = new QToolButton(parent);
    b->setObjectName(objectName);
    b->setText(caption);
    b->setIcon(ImageList50xIcon(image));
    b->setIconSize(QSize(50, 50));
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setMinimumWidth(72);
    return b;
}

void Untick(QRadioButton* radio) {
    if (!radio->isChecked()) return;
    const bool exclusive = radio->autoExclusive();
    radio->setAutoExclusive(false);
    radio->setChecked(false);
    radio->setAutoExclusive(exclusive);
}

}  // namespace kelm
