#pragma once
// Pieces both channel panels are built from: the numeric entry boxes (typed
// digits and Backspace only, strict conversion), the state shape, the ON/OFF
// start and stop buttons and the radio buttons that can be unticked by
// program.
#include <QObject>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QToolButton;

namespace kelm {

class Frame;
class IMessageBoxes;

// The unsigned 32-bit value of Pbuf bytes i .. i+3, most significant first
// (a count: high word in the lower register); bytes past the end read 0.
std::uint32_t DWordAt(const Frame& Pbuf, std::size_t i);

// A label and a push button with their component names, showing a
// translatable source.
QLabel* MakeLabel(const char* name, const char* text, QWidget* parent);
QPushButton* MakeButton(const char* name, const char* text, QWidget* parent);

// The key handler of a numeric box, as the panels name it
// (Edit_pulse_numKeyPress): sees one typed character and discards it by
// setting it to the null character.
using KeyPressHandler = std::function<void(QChar& Key)>;

// The typed-character rule of the numeric boxes: digits and Backspace stay,
// every other character becomes the null character.
void DigitsAndBackspaceOnly(QChar& Key);

// Runs a box's key handler on every character that reaches the box: the text
// of a key press and the text an input method commits (a Chinese IME commits
// whole words without a key press). A key press whose character the handler
// discards is dropped; a commit keeps the characters the handler keeps. Keys
// that type no character (Delete "\x7f", Tab "\t", Enter "\r", arrows, Home,
// End) and shortcuts (Ctrl+V, Ctrl+A) pass untouched, so a pasted text can
// still reach the box: the conversion below is what keeps a bad value off
// the line.
class DigitsOnlyFilter : public QObject {
    Q_OBJECT
  public:
    DigitsOnlyFilter(KeyPressHandler keyPress, QObject* parent)
        : QObject(parent), keyPress_(std::move(keyPress)) {}
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    KeyPressHandler keyPress_;
};

// Installs one DigitsOnlyFilter (owned by the box) running keyPress.
void AcceptDigitsOnly(QLineEdit* box, KeyPressHandler keyPress);

// The text of a numeric box as a signed integer of the given width, read as
// the toolkit's integer conversion does: an optional sign and decimal digits,
// nothing else. An empty text, any other character or a value past the
// width's range goes to the general error report and yields nullopt.
std::optional<std::int64_t> ToInt32(const QString& text, IMessageBoxes& boxes);
std::optional<std::int64_t> ToInt64(const QString& text, IMessageBoxes& boxes);

// The state shape: a rounded bar, red while stopped, green while running.
class StateShape : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool running READ IsRunning)
  public:
    static const QString kHint;  // "红色：停止；绿色：运行"
    static const QColor kStopped;
    static const QColor kRunning;

    StateShape(const QString& objectName, QWidget* parent);

    void SetRunning(bool running);
    bool IsRunning() const { return running_; }
    QColor Colour() const { return running_ ? kRunning : kStopped; }

    QSize sizeHint() const override { return {120, 22}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    bool running_ = false;
};

// A start or stop speed button: the picture of ImageList50x above its caption.
QToolButton* MakeFaceButton(const QString& objectName, const char* caption, int image,
                            QWidget* parent);

// Unticks a radio button of an exclusive pair (Qt keeps one of a pair ticked
// otherwise).
void Untick(QRadioButton* radio);

}  // namespace kelm
