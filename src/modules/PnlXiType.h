#pragma once
// The input channel panel (Pnl_Xi_type): one digital input of a KELM-8I8T or
// KELM-16I, as a switch input with its debounce filter time and as a pulse
// counter that can be started, stopped and queried.
//
// The panel keeps nothing per channel: the model (Node_Device_Name) and the
// channel (Node_DeviceChild_Index) are taken from the master state at every
// action and every reply step.
#include <QWidget>
#include <cstdint>

#include "modules/ChannelSteps.h"
#include "modules/ModuleContext.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace kelm {

class StateShape;
struct MasterState;

// Where the input registers of a model lie.
struct InputChannelMap {
    const char* model;
    unsigned inputs;        // channels of the model
    std::uint16_t filter;   // filter time of DI0; one register per input
    std::uint16_t control;  // counting control of DI0; the counts follow the controls

    std::uint16_t FilterReg(unsigned ch) const { return static_cast<std::uint16_t>(filter + ch); }
    std::uint16_t ControlReg(unsigned ch) const { return static_cast<std::uint16_t>(control + ch); }
    // The read of the controls and counts: one control and two count
    // registers per input.
    std::uint16_t CountingQuantity() const { return static_cast<std::uint16_t>(3 * inputs); }
    // Byte of Pbuf where the count of ch begins in the counting reply.
    std::size_t CountByte(unsigned ch) const { return 3 + 2 * inputs + 4 * ch; }
};

class TPnlXiType : public QWidget, public IInputChannelSteps {
    Q_OBJECT
  public:
    static const QString kNote;
    static const QString kCountingQuestion;  // "DI脉冲计数启动后会清除当前计数值，请选择操作？"
    static const QString kFilterWarning;    // "滤波时间值为100-10000！"
    static const QString kCountingStarted;  // "DI脉冲计数启动！"
    static const QString kCountingStopped;  // "DI脉冲计数关闭！"
    static constexpr int kFilterMin = 100;
    static constexpr int kFilterMax = 10000;

    explicit TPnlXiType(const ModuleContext& ctx, QWidget* parent = nullptr);

    // Reset routine, run by navigation on every selection of an input channel
    // node: both boxes "0", the shape red. Nothing is read.
    void Pnl_Xi_type_Default();

    // Click handlers.
    void Btn_Xi_filter_readClick();
    void Btn_Xi_filter_setClick();
    void Sbtn_Xi_Counter_onClick();
    void Sbtn_Xi_Counter_offClick();
    void Btn_Xi_Counter_ReadClick();

    // Key handler of the filter box: typed digits and Backspace only.
    void Edit_Xi_filter_valueKeyPress(QChar& Key);

    // Reply steps, run by the KELM-8I8T and KELM-16I handlers.
    void FilterReply(const Frame& Pbuf) override;
    void CountingReply(const Frame& Pbuf) override;
    void CountingConfirmation() override;

    // The register map of a model; nullptr for a model without inputs here.
    static const InputChannelMap* MapOf(const std::string& model);

    QGroupBox* Gro_Xi_mode = nullptr;
    QLabel* Label_Xi_note = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QCheckBox* CBox_Xi_Count_Eanble = nullptr;
    QGroupBox* Gro_Xi_filter = nullptr;
    QLineEdit* Edit_Xi_filter_value = nullptr;
    QPushButton* Btn_Xi_filter_read = nullptr;
    QPushButton* Btn_Xi_filter_set = nullptr;
    QGroupBox* Gro_Xi_counter = nullptr;
    QToolButton* Sbtn_Xi_Counter_on = nullptr;
    QToolButton* Sbtn_Xi_Counter_off = nullptr;
    StateShape* Shape_Counter_DI = nullptr;
    QLineEdit* Edit_Xi_counter_value = nullptr;
    QPushButton* Btn_Xi_Counter_Read = nullptr;

    // Every text of the panel again in the language chosen now; run on each
    // change of language.
    void retranslate();

  protected:
    void changeEvent(QEvent* event) override;

  private:
    MasterState& State() const;
    // The selected module's map and input; nullptr when the model has no
    // inputs here or the selected channel is not one of its inputs (a
    // KELM-8I8T output node).
    const InputChannelMap* Selected(unsigned* ch) const;
    void CountingWrite(std::uint16_t value, std::uint8_t marker);

    ModuleContext ctx_;
};

}  // namespace kelm
