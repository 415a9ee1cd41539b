#pragma once
// The reply steps of the two channel panels that the digital module handlers
// run: the KELM-8I8T and KELM-16I handlers hand the input channel panel
// (Pnl_Xi_type) its replies, the KELM-8I8T and KELM-16T handlers the output
// channel panel (Pnl_Yo_type) its replies and the output mode.
//
// The module handler decides which row a reply matches (function code,
// Modbus_Reg_Addr, byte count, data present); the channel panel does the
// step itself and reads the channel and model from the master state.
#include "modbus/Bytes.h"

namespace kelm {

class IInputChannelSteps {
  public:
    virtual ~IInputChannelSteps() = default;
    // Read of the filter times (KELM-8I8T FC 03 @48 x16, KELM-16I FC 03 @6 x32).
    virtual void FilterReply(const Frame& Pbuf) = 0;
    // Read of the counting controls and counts (FC 03 @56 x48, FC 03 @22 x96).
    virtual void CountingReply(const Frame& Pbuf) = 0;
    // FC 06 echo in the counting-control range: the counting confirmation.
    virtual void CountingConfirmation() = 0;
};

class IOutputChannelSteps {
  public:
    virtual ~IOutputChannelSteps() = default;
    // Read of the ON/OFF times (FC 03 @8 x32 or x64).
    virtual void TimesReply(const Frame& Pbuf) = 0;
    // Read of the continuous controls and counts (FC 03 @24 x48, @40 x96).
    virtual void StateReply(const Frame& Pbuf) = 0;
    // FC 06 echo in the continuous-control range.
    virtual void ContinuousConfirmation() = 0;
    // FC 16 reply in the pulse-count range.
    virtual void CountConfirmation() = 0;
    // The mode display: the module handler has read the output mode word
    // while an output channel node is selected and found the selected
    // output's bit set (pulse) or clear (switch).
    virtual void ShowOutputMode(bool pulse) = 0;
};

// Where the module handlers find the channel panels. The main window's panel
// set fills it once the channel panels exist; a null step is not run.
struct ChannelSteps {
    IInputChannelSteps* input = nullptr;
    IOutputChannelSteps* output = nullptr;
};

}  // namespace kelm
