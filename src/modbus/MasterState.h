#pragma once
// The master state: what the program knows about its one conversation on the
// bus. There are no request objects or transaction numbers; a reply is matched
// to its request only through these variables (selected address and model, and
// the start register of the most recent request).
//
// One instance lives in ModbusMaster and is shared by the codec, the
// dispatcher, the scan, the link check, the tree navigation and every panel.
// It is confined to the GUI thread: the serial component delivers received
// bytes on that thread, so no lock is needed or taken.
//
// The tree's node collection (`Nodes`) is a GUI object and stays with the
// application's main window, not here.
#include <cstdint>
#include <string>

#include "modbus/Bytes.h"

namespace kelm {

struct MasterState {
    // Start register (or coil) of the most recent request.
    std::uint16_t Modbus_Reg_Addr = 0;
    // Slave address of the module selected in the tree; 0 before any selection.
    std::uint8_t Node_Device_ID = 0;
    // Model name of the selected module (UTF-8), empty before any selection.
    std::string Node_Device_Name;
    // 0-based position of the selected channel node under its module node.
    std::uint8_t Node_DeviceChild_Index = 0;
    // A bus scan has been started and its dialog is still open.
    bool Scan_Device_Flag = false;
    // A complete reply is being validated and handled; bytes arriving meanwhile
    // are dropped.
    bool Recv_Flag = false;
    // Bytes received since the last handled frame.
    ByteString Recv_Str;
    // 10 ms end-of-frame ticks since the last received bytes.
    std::int32_t Recv_Timer_Count = 0;
    // The link check's prepared broadcast request, resent on every step.
    ByteString Send_Str;
    // Step of the link check's detection loop, 0-32, 33 when it has run out.
    std::int32_t comauto_index = 0;
    // Position of the port node selected last time and this time.
    std::int32_t Node_Level1_oldindex = 0;
    std::int32_t Node_Level1_newindex = 0;
    // Low byte of register 7 of a KELM-8I8T (bit ch set: DOch is a pulse output).
    std::uint8_t DO07_Mode = 0;
    // Register 7 of a KELM-16T (bit ch set: DOch is a pulse output).
    std::uint16_t DO15_Mode = 0;
    // Last start/stop write sent from a channel panel: 0 none, 1 input pulse
    // counting start, 2 its stop, 3 output pulse start, 4 its stop.
    std::uint8_t DIDO_Button_Status = 0;
};

}  // namespace kelm
