#pragma once
// The output channel panel (Pnl_Yo_type): one transistor output of a
// KELM-8I8T or KELM-16T. It shows whether the output is a switch or a pulse
// output (the mode is written from the module panel, only read here), and
// for a pulse output reads and sets the ON and OFF level times, starts and
// stops a continuous or a counted pulse train and queries the state.
//
// The panel keeps nothing per channel: the model (Node_Device_Name) and the
// channel (from Node_DeviceChild_Index) are taken from the master state at
// every action and every reply step.
#include <QWidget>
#include <cstdint>
#include <string>

#include "modules/ChannelSteps.h"
#include "modules/ModuleContext.h"

class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QToolButton;

namespace kelm {

class StateShape;
struct MasterState;

// Where the output registers of a model lie.
struct OutputChannelMap {
    const char* model;
    unsigned outputs;          // channels of the model
    unsigned firstNode;        // channel node position of DO0 under the module node
    std::uint16_t onTime;      // ON-level time of DO0; one register per output
    std::uint16_t offTime;     // OFF-level time of DO0
    std::uint16_t continuous;  // continuous control of DO0; the counts follow
    std::uint16_t count;       // pulse count of DO0, two registers per output

    std::uint16_t OnReg(unsigned ch) const { return static_cast<std::uint16_t>(onTime + ch); }
    std::uint16_t OffReg(unsigned ch) const { return static_cast<std::uint16_t>(offTime + ch); }
    std::uint16_t ContinuousReg(unsigned ch) const {
        return static_cast<std::uint16_t>(continuous + ch);
    }
    std::uint16_t CountReg(unsigned ch) const { return static_cast<std::uint16_t>(count + 2 * ch); }
    // The read of the times covers the ON block and the OFF block.
    std::uint16_t TimesQuantity() const { return static_cast<std::uint16_t>(2 * outputs); }
    // The read of the state: one control and two count registers per output.
    std::uint16_t StateQuantity() const { return static_cast<std::uint16_t>(3 * outputs); }
    // Bytes of Pbuf in the times reply (first register onTime) and the state
    // reply (first register continuous).
    std::size_t OnByte(unsigned ch) const { return 3 + 2 * ch; }
    std::size_t OffByte(unsigned ch) const { return 3 + 2 * (offTime - onTime + ch); }
    std::size_t ControlByte(unsigned ch) const { return 3 + 2 * ch; }
    std::size_t CountByte(unsigned ch) const { return 3 + 2 * outputs + 4 * ch; }
};

class TPnlYoType : public QWidget, public IOutputChannelSteps {
    Q_OBJECT
  public:
    static const QString kTimeWarning;        // "脉冲输出电平时间范围2-65535！"
    static const QString kCountWarning;       // "脉冲输出数量范围0-4294967295！"
    static const QString kContinuousStarted;  // "DO脉冲持续输出已启动！"
    static const QString kContinuousStopped;  // "DO脉冲持续输出已关闭！"
    static const QString kCountStarted;       // "脉冲数量输出已启动！"
    static const QString kCountStopped;       // "脉冲数量输出已关闭！"
    static constexpr int kTimeMin = 2;
    static constexpr int kTimeMax = 65535;
    static constexpr std::int64_t kCountMax = 4294967295LL;

    explicit TPnlYoType(const ModuleContext& ctx, QWidget* parent = nullptr);

    // Reset routine, run by navigation on every selection of an output
    // channel node: everything unticked, "0" and red, the pulse group hidden,
    // then the read of registers 6-7 whose reply makes the mode display.
    void Pnl_Yo_type_Default();

    // Click handlers.
    void Btn_pulse_time_readClick();
    void Btn_pulse_timeON_setClick();
    void Btn_pulse_timeOFF_setClick();
    void Sbtn_pulse_onClick();
    void Sbtn_pulse_offClick();
    void Btn_pulse_status_readClick();

    // Key handlers of the time and count boxes: typed digits and Backspace only.
    void Edit_pulse_timeHKeyPress(QChar& Key);
    void Edit_pulse_timeLKeyPress(QChar& Key);
    void Edit_pulse_numKeyPress(QChar& Key);

    // Reply steps, run by the KELM-8I8T and KELM-16T handlers.
    void TimesReply(const Frame& Pbuf) override;
    void StateReply(const Frame& Pbuf) override;
    void ContinuousConfirmation() override;
    void CountConfirmation() override;
    void ShowOutputMode(bool pulse) override;

    // The register map of a model; nullptr for a model without outputs here.
    static const OutputChannelMap* MapOf(const std::string& model);

    QGroupBox* Gro_Yo_mode = nullptr;
    QRadioButton* RaB_Yo_switch = nullptr;
    QRadioButton* RaB_Yo_pulse = nullptr;
    QGroupBox* Gro_pulse_mode = nullptr;
    QGroupBox* Gro_pulse_time = nullptr;
    QLineEdit* Edit_pulse_timeH = nullptr;
    QLineEdit* Edit_pulse_timeL = nullptr;
    QPushButton* Btn_pulse_timeON_set = nullptr;
    QPushButton* Btn_pulse_timeOFF_set = nullptr;
    QPushButton* Btn_pulse_time_read = nullptr;
    QGroupBox* Gro_pulse_ctrl = nullptr;
    QToolButton* Sbtn_pulse_on = nullptr;
    QToolButton* Sbtn_pulse_off = nullptr;
    StateShape* Shape_Pulse_DO = nullptr;
    QRadioButton* RaB_pulse_out_continue = nullptr;
    QRadioButton* RaB_pulse_num_out = nullptr;
    QLineEdit* Edit_pulse_num = nullptr;
    QPushButton* Btn_pulse_status_read = nullptr;

    // Every text of the panel again in the language chosen now; run on each
    // change of language.
    void retranslate();

  protected:
    void changeEvent(QEvent* event) override;

  private:
    MasterState& State() const;
    // The selected module's map and output; nullptr when the model has no
    // outputs here or the selected channel is not one of its outputs (a
    // KELM-8I8T input node).
    const OutputChannelMap* Selected(unsigned* ch) const;
    void TimeWrite(QLineEdit* box, bool on);
    void PulseWrite(bool start);

    ModuleContext ctx_;
};

}  // namespace kelm
