#pragma once
// The KELM-2AO module panel (Pnl_2AO) and its reply handler KELM_2AO_Event.
//
// Two analog outputs, AO0 and AO1, each 4-20 mA (current) or 0-10 V
// (voltage). Per channel: two mode radio buttons, a scroll bar and a value
// box that follow each other, a unit label and a write button; for the panel
// the writes of both values and both modes and the read of all four
// registers (modes 6-7, values 8-9).
#include <QWidget>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "modules/ModulePanel.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QScrollBar;
class QToolButton;

namespace kelm {

class TPnl2AO : public ModulePanel {
    Q_OBJECT
  public:
    static constexpr int kChannels = 2;
    enum class AoMode { Current, Voltage };

    // The controls of one output channel.
    struct Channel {
        QGroupBox* group = nullptr;     // GroupBox_ctrlAO0 / GroupBox2
        QRadioButton* mode0 = nullptr;  // RdB_AO0_Mode0: "4-20mA"
        QRadioButton* mode1 = nullptr;  // RdB_AO0_Mode1: "0-10V"
        QScrollBar* bar = nullptr;      // ScrollBar_AO0
        QLineEdit* value = nullptr;     // Edit_AO0, the only holder of the value
        QLabel* unit = nullptr;         // Label_AO0_unit
        QToolButton* write = nullptr;   // SBtn_Write_AO0
        std::uint16_t valueReg = 0;     // 8 / 9
    };

    static const QString kModesWritten;   // "两路AO模式配置成功！"
    static const QString kValuesWritten;  // "两路AO数据更新成功！"

    explicit TPnl2AO(const ModuleContext& ctx, QWidget* parent = nullptr);

    // Reset routine, run by navigation before the panel is shown: the
    // identity reset, then ResetModel.
    void Pnl2AO_Default();
    // Reply handler for every valid reply of a selected KELM-2AO module.
    void KELM_2AO_Event(std::uint16_t Command, const Frame& Pbuf);

    const Channel& Ch(int ch) const { return channels_[static_cast<std::size_t>(ch)]; }
    QGroupBox* Menu() const { return menu_; }
    QToolButton* WriteDataButton() const { return writeData_; }
    QToolButton* WriteModeButton() const { return writeMode_; }
    QToolButton* ReadModeButton() const { return readMode_; }
    // Per channel 0 (current), 1 (voltage) or -1 (no mode selected).
    std::vector<int> ChannelModes() const override;

    // A mode chosen for channel ch, by the user or by a read reply
    // (RdB_AO0_Mode0Click, RdB_AO0_Mode2Click and their AO1 twins): the
    // bar's range, the value box and the unit.
    void ModeClick(int ch, AoMode mode);
    // The user scrolled channel ch's bar (ScrollBar_AO0Scroll): the value box
    // takes the bar's position.
    void ScrollBarScroll(int ch, int position);
    // The value box of channel ch changed (Edit_AO0Change), whoever changed
    // it: the bar follows, within its range.
    void EditChange(int ch);
    // SBtn_Write_AO0Click / SBtn_Write_AO1Click: one value, function 06.
    void WriteOneClick(int ch);
    // SBtn_AO_Write_DataClick: both values, function 16 to registers 8-9.
    void WriteDataClick();
    // SBtn_AO_Write_ModeClick: both modes, function 16 to registers 6-7;
    // sends nothing while a channel has no mode selected.
    void WriteModeClick();
    // SBtn_AO_Read_ModeClick: clears the modes and values, reads 6-9.
    void ReadModeClick();

  protected:
    void ResetModel() override;

  private:
    Channel MakeChannel(int ch, const QString& groupName, QWidget* parent);
    // Selection by program: a new selection runs the mode's handler, as a
    // user's would.
    void SelectMode(int ch, AoMode mode);
    void DeselectModes(int ch);
    // The value box as the module's 16-bit value: the integer's low 16 bits.
    std::optional<std::uint16_t> BoxValue(int ch) const;
    std::optional<std::uint16_t> BoxValueOrReport(int ch) const;
    void ReadReply(const Frame& Pbuf);

    std::array<Channel, kChannels> channels_{};
    QGroupBox* menu_ = nullptr;
    QToolButton* writeData_ = nullptr;
    QToolButton* writeMode_ = nullptr;
    QToolButton* readMode_ = nullptr;
};

}  // namespace kelm
