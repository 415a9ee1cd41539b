#pragma once
// The eight-channel analog input panel, written once for the KELM-8AD panel
// (Pnl_8AD) and the KELM-8AS/KELM-8ASP panel (Pnl_8AS). What differs between
// them is a table, AnalogInputModel: the ranges of the mode lists, the width
// of the counts, the conversion and its format, the rule for the mode reply
// and one heading.
//
// Per channel CH0-CH7 a row: the raw count, the value in the unit of the
// label, the unit label and the mode list. For the panel: the enable box that
// unlocks the lists and the set button, the mode read (holding 6-13), the
// mode write and the data read (input registers from 0).
#include <QString>
#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "models/ModelMap.h"
#include "modules/ModulePanel.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kelm {

// One entry of a channel's mode list (label, full scale, decimals of the
// value text); the entry's index is the mode index and 0x30 plus the index
// the mode register's value.
using AnalogRange = models::Choice;

struct AnalogInputModel {
    enum class ModeReply {
        AllInRange,  // applied only when every register names an entry
        Each,        // applied register by register
    };
    enum class Unselected {
        RawCount,  // a channel without a mode shows its count
        Unscaled,  // ... or the count per full scale, with unscaledDecimals
    };

    const char* tag;  // "8AD": Edit_8AD_ADC_CH0, Cmb8AD_VI_CH0, Gro8AD_menu ...
    // The model whose registers the panel reads and writes (KELM-8ASP shares
    // the KELM-8AS's).
    const models::Model& model;
    const char* valueHeading;  // heading over the value boxes
    std::span<const AnalogRange> ranges;
    unsigned countBytes;  // 3: 24-bit counts packed in 12 registers; 2: one register each
    double zeroCount;     // the count that reads 0
    // Counts per full scale; the KELM-8AS and KELM-8ASP share a panel and
    // differ only here.
    double (*countsPerFullScale)(std::string_view modelName);
    ModeReply modeReply;
    Unselected unselected;
    int unscaledDecimals;

    const models::Item& Modes() const { return *models::FindItem(model, "ai_mode"); }
    const models::Item& Counts() const { return *models::FindItem(model, "ai"); }
    unsigned InputRegisters() const { return Counts().read.quantity; }
    int DataByteCount() const { return Counts().read.ReplyByteCount(); }
};

extern const AnalogInputModel kAnalogInput8AD;
extern const AnalogInputModel kAnalogInput8AS;

// Fixed-point text of v with `decimals` decimals and at least one integer
// digit, rounded half away from zero on the value's 15 significant digits, a
// leading minus for a negative value. A negative value that rounds to zero
// shows no minus: the text is the rounded value, and zero has no sign.
QString FormatFixed(double v, int decimals);

// The value box text of a count under mode index modeIndex (-1: the list has
// no selection), with countsPerFullScale as the model's conversion gives it.
QString AnalogValueText(const AnalogInputModel& model, std::uint32_t count, int modeIndex,
                        double countsPerFullScale);

class AnalogInputPanel : public ModulePanel {
    Q_OBJECT
  public:
    static constexpr int kChannels = 8;

    // The controls of one channel row.
    struct Channel {
        QLineEdit* raw = nullptr;    // Edit_8AD_ADC_CH0: the count in decimal
        QLineEdit* value = nullptr;  // Edit_8AD_VI_CH0: the value
        QLabel* unit = nullptr;      // Label_8AD_CH0: "mA" or "V"
        QComboBox* mode = nullptr;   // Cmb8AD_VI_CH0
    };

    static const QString kModesWritten;  // "8通道模式参数配置成功！"

    AnalogInputPanel(const ModuleContext& ctx, const AnalogInputModel& model,
                     const QString& objectName, std::string_view handlerName, IdentityNames names,
                     QWidget* parent);

    const AnalogInputModel& Model() const { return model_; }
    const Channel& Ch(int ch) const { return channels_[static_cast<std::size_t>(ch)]; }
    QGroupBox* Menu() const { return menu_; }
    QCheckBox* EnableBox() const { return enable_; }
    QPushButton* ModeReadButton() const { return modeRead_; }
    QPushButton* ModeSetButton() const { return modeSet_; }
    QPushButton* DataReadButton() const { return dataRead_; }
    // The lists' selections: what the next data reply is converted by.
    std::vector<int> ChannelModes() const override;

    // CheckBox8AD_VI_EnableClick: the enable box ticked or cleared, by the
    // user or by program, locks or unlocks the lists and the set button.
    void EnableClick();
    // Cmb8AD_VI_CH0Change and siblings, on the user's choice only: the unit
    // label follows the list; nothing is sent.
    void ModeChange(int ch);
    // Btn8AD_Mode_ReadClick: clears the lists' selections, reads 6-13.
    void ModeReadClick();
    // Btn8AD_Mode_SetClick: writes the eight modes to 6-13; refused, with a
    // notice naming the channels, while a list has no selection.
    void ModeSetClick();
    // Btn8AD_CH_ReadClick: zeroes the boxes, reads the counts.
    void DataReadClick();

  protected:
    void ResetModel() override;

  private:
    // The panel's read of the item: FC 03 for the modes, FC 04 for the counts.
    void ReadItem(const models::Item& item);
    void ModeReply(const Frame& Pbuf);
    void DataReply(const Frame& Pbuf);
    std::uint32_t Count(const Frame& Pbuf, int ch) const;
    // "mA" for mode index 0, "V" for any other, no selection included.
    void UpdateUnit(int ch);

    const AnalogInputModel& model_;
    std::array<Channel, kChannels> channels_{};
    QGroupBox* menu_ = nullptr;
    QCheckBox* enable_ = nullptr;
    QPushButton* modeRead_ = nullptr;
    QPushButton* modeSet_ = nullptr;
    QPushButton* dataRead_ = nullptr;
};

}  // namespace kelm
