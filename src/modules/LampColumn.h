#pragma once
// The lamp buttons of a digital panel: one speed button per input, output or
// relay, showing the lamp-on or lamp-off picture to the right of its caption,
// and beside each an optional caption-less check box that stands for the
// channel's bit in the words the panel writes. Written once and instantiated
// with each panel's names and width; the channels run down in columns of 8.
//
// A two-state lamp button is a checkable QToolButton: its checked state is
// the pressed state, so a click flips it before the click handler runs.
#include <QIcon>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <vector>

class QCheckBox;
class QToolButton;

namespace kelm {

struct LampColumnNames {
    QString buttonPrefix;   // "Spb8i8t_do" -> Spb8i8t_do0 ... Spb8i8t_do7
    QString captionPrefix;  // "DO" -> "DO0" ...
    // Captions are padded with blanks to this many characters ("DI0 " next
    // to "DI10"); 0 leaves them as they are.
    int captionWidth = 0;
    QString boxPrefix;  // "ChB8i8t_Status_do" -> ChB8i8t_Status_do0 ...; empty: no boxes
    int count = 8;
    bool toggles = false;  // two-state buttons; false: display only
};

class LampColumn : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kRowsPerColumn = 8;

    LampColumn(LampColumnNames names, QWidget* parent);

    int Count() const { return static_cast<int>(buttons_.size()); }
    bool HasBoxes() const { return !boxes_.empty(); }
    // nullptr outside 0 .. Count()-1 (and for boxes on a column without them).
    QToolButton* Button(int ch) const;
    QCheckBox* Box(int ch) const;

    // Runs after a user's click on lamp button ch (toggles: after the pressed
    // state has flipped).
    void SetOnClick(std::function<void(int ch)> onClick) { onClick_ = std::move(onClick); }

    // The picture of lamp ch; a channel outside the column does nothing.
    void SetLamp(int ch, bool on);
    bool LampOn(int ch) const;
    // The pressed state of a two-state button; a channel outside does nothing.
    void SetPressed(int ch, bool pressed);
    bool Pressed(int ch) const;
    // Every lamp to the lamp-off picture, when the picture list has one.
    void AllLampsOff();

    // Bit ch set when box ch is ticked.
    std::uint16_t BoxWord() const;
    // Box ch ticked when bit ch is 1 and unticked when it is 0.
    void SetBoxes(std::uint16_t word);
    // Box ch ticked when bit ch is 1; a 0 bit leaves the box as it is.
    void TickBoxes(std::uint16_t word);
    void UntickBoxes() { SetBoxes(0); }
    void SetBoxesVisible(bool visible);

    const QIcon& LampOnIcon() const { return iconOn_; }
    const QIcon& LampOffIcon() const { return iconOff_; }

  private:
    std::vector<QToolButton*> buttons_;
    std::vector<QCheckBox*> boxes_;
    std::vector<bool> lampOn_;
    QIcon iconOn_;
    QIcon iconOff_;
    std::function<void(int)> onClick_;
};

}  // namespace kelm
