#include "modules/ChannelParts.h"

#include <QInputMethodEvent>
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
#include "modules/PanelTexts.h"

namespace kelm {

std::uint32_t DWordAt(const Frame& Pbuf, std::size_t i) {
    return (static_cast<std::uint32_t>(Pbuf.word(i)) << 16) | Pbuf.word(i + 2);
}

QLabel* MakeLabel(const char* name, const char* text, QWidget* parent) {
    auto* l = new QLabel(parent);
    ShowPanelText(l, text);
    l->setObjectName(QString::fromLatin1(name));
    return l;
}

QPushButton* MakeButton(const char* name, const char* text, QWidget* parent) {
    auto* b = new QPushButton(parent);
    ShowPanelText(b, text);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

void DigitsAndBackspaceOnly(QChar& Key) {
    const bool digit = Key >= QLatin1Char('0') && Key <= QLatin1Char('9');
    if (!digit && Key != QLatin1Char('\b')) Key = QChar();
}

namespace {

// A key types a character when its text holds a printable one; Delete, Tab,
// Enter, Escape and Backspace bring control characters, arrows none.
bool TypesCharacter(const QString& text) {
    for (QChar c : text)
        if (c.isPrint()) return true;
    return false;
}

}  // namespace

bool DigitsOnlyFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        // A shortcut is not a typed character.
        if (key->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) return false;
        const QString text = key->text();
        if (!TypesCharacter(text)) return false;
        for (QChar c : text) {
            keyPress_(c);
            if (c.isNull()) return true;  // discarded
        }
        return false;
    }
    if (event->type() == QEvent::InputMethod) {
        auto* im = static_cast<QInputMethodEvent*>(event);
        const QString commit = im->commitString();
        QString kept;
        for (QChar c : commit) {
            if (!c.isPrint()) continue;  // a commit brings text, never a key
            keyPress_(c);
            if (!c.isNull()) kept += c;
        }
        if (kept != commit)
            im->setCommitString(kept, im->replacementStart(), im->replacementLength());
        return false;
    }
    return QObject::eventFilter(watched, event);
}

void AcceptDigitsOnly(QLineEdit* box, KeyPressHandler keyPress) {
    box->installEventFilter(new DigitsOnlyFilter(std::move(keyPress), box));
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

namespace {
constexpr const char* kHintSource = QT_TRANSLATE_NOOP("kelm::Panels", "红色：停止；绿色：运行");
}  // namespace

const QString StateShape::kHint = QString::fromUtf8(kHintSource);
const QColor StateShape::kStopped = QColor(0xFF, 0x00, 0x00);
const QColor StateShape::kRunning = QColor(0x00, 0xC0, 0x00);

StateShape::StateShape(const QString& objectName, QWidget* parent) : QWidget(parent) {
    setObjectName(objectName);
    ShowPanelToolTip(this, kHintSource);
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

QToolButton* MakeFaceButton(const QString& objectName, const char* caption, int image,
                            QWidget* parent) {
    auto* b = new QToolButton(parent);
    b->setObjectName(objectName);
    ShowPanelText(b, caption);
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
