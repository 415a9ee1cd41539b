#pragma once
// The control-mode family of the transistor output panels (KELM-8I8T and
// KELM-16T, 8 or 16 outputs wide): the list "控制模式：" with its four modes,
// the five mode buttons, the box word made of the output column's check
// boxes, and the requests and reply steps that go with them.
//
//   mode 0  "DO单通道控制"   each lamp button switches its own output
//   mode 1  "DO多通道控制"   the boxes set every output with one write
//   mode 2  "DO模式配置"     the boxes read and write the output mode word
//   mode 3  "DO初始化配置"   the boxes read and write the initial states
//
// The panel wires the controls to its own named handlers, which call the
// operations here.
#include <QObject>
#include <QString>
#include <cstdint>

#include "modules/ModuleContext.h"

class QBoxLayout;
class QComboBox;
class QLabel;
class QPushButton;
class QWidget;

namespace kelm {

namespace models {
struct Item;
struct Model;
}  // namespace models

class Frame;
class LampColumn;

class DoControlMode : public QObject {
    Q_OBJECT
  public:
    enum Mode : int { kSingle = 0, kMulti = 1, kOutputMode = 2, kInitialStates = 3 };

    static const QString kConfirmText;  // asked before the output mode word is written

    // tag: "8i8t" -> Cmb8i8t_DO_Code_index, Btn8i8t_dos_ctrl ...; outputs: the
    // column whose boxes make the box word (its width is the family's width);
    // model: where the outputs, the initial states and the mode word lie.
    DoControlMode(const ModuleContext& ctx, const QString& tag, LampColumn& outputs,
                  const models::Model& model, QWidget* parent);

    QLabel* ModeLabel() const { return label_; }
    QComboBox* ModeList() const { return list_; }
    QPushButton* DosCtrl() const { return dosCtrl_; }
    QPushButton* DoModeRead() const { return doModeRead_; }
    QPushButton* DoModeSet() const { return doModeSet_; }
    QPushButton* InfoModeRead() const { return infoModeRead_; }
    QPushButton* InfoModeSet() const { return infoModeSet_; }

    // Layout: the label and the list on one row; the five mode buttons in
    // their order, one under the other.
    void AddModeRow(QBoxLayout* layout) const;
    void AddModeButtons(QBoxLayout* layout) const;

    int Width() const;
    int CurrentMode() const;

    // The user changed the list: boxes unticked and shown, the five mode
    // buttons hidden, then the new mode's boxes and buttons shown.
    void ModeChange();
    // The panel reset's part: mode 0 selected without running ModeChange;
    // boxes and mode buttons hidden (the boxes keep their ticks).
    void Reset();

    // Bit ch set when box ch is ticked.
    std::uint16_t BoxWord() const;

    // FC 05 at ch: 0xFF00 when pressed, else 0x0000; in mode 0 only. Returns
    // whether it sent.
    bool SwitchOutput(int ch, bool pressed);
    // FC 15 at 0 for every output, the box word low byte first.
    void WriteOutputs();
    // FC 03 at 6, 2 registers: initial states and output mode word.
    void ReadModeWords();
    // Asks first; OK writes the box word to register 7 (FC 06), Cancel sends
    // nothing. Returns whether it sent.
    bool WriteOutputModeWord();
    // FC 06 at 6: the box word as the initial states.
    void WriteInitialStates();

    // Steps 1-3 of the reply to the read of registers 6-7: in mode 3 the boxes
    // show register 6, in mode 2 the output mode word; returns that word
    // (register 7 cut to the family's width) for the panel to keep.
    std::uint16_t ModeWordsReply(const Frame& Pbuf);

  private:
    void ShowModeButtons(int mode);
    std::uint16_t Mask() const;

    ModuleContext ctx_;
    LampColumn& outputs_;
    const models::Item& coils_;
    const models::Item& initial_;
    const models::Item& modeWord_;
    QLabel* label_ = nullptr;
    QComboBox* list_ = nullptr;
    QPushButton* dosCtrl_ = nullptr;
    QPushButton* doModeRead_ = nullptr;
    QPushButton* doModeSet_ = nullptr;
    QPushButton* infoModeRead_ = nullptr;
    QPushButton* infoModeSet_ = nullptr;
};

}  // namespace kelm
