#pragma once
// What the host port panel needs from the main window. The window owns all of
// it for the whole run; the panel keeps references, never ownership.
#include <QString>
#include <cstdint>
#include <functional>

namespace kelm {

class ModbusMaster;
class IMessageBoxes;
class IStatusText;
class ITimer;
class TksComm;

struct HostContext {
    // ksComm1, the one serial port component.
    TksComm& ksComm1;
    // The master: its state (Node_Level1_oldindex, Send_Str, comauto_index,
    // Modbus_Reg_Addr) and KELM_Uart_Send_String.
    ModbusMaster& master;
    IMessageBoxes& boxes;
    // Status bar panels (0 activity, 6 port text).
    IStatusText& status;
    // Timer_check_slavecom: the link check's one-second step.
    ITimer& Timer_check_slavecom;
    // Enables or disables the toolbar's ToolButton_Scan.
    std::function<void(bool)> SetScanEnabled;
    // Gives the port node at `index` among the root's children the open (image
    // 1) or closed (image 2) picture; an index with no node changes nothing.
    std::function<void(int index, bool open)> SetPortNodeImage;
    // Redraws the status bar's port icon from the component's state.
    std::function<void()> RepaintPortIcon;
    // Closes the main window, which ends the program.
    std::function<void()> CloseMainWindow;
    // The name the status texts give port `number`: "COM3" for a serial
    // port, the node text ("TCP 10.0.0.5:4001") for a network port. Unset,
    // every port is "COM" and its number.
    std::function<QString(std::uint16_t number)> PortText;
};

}  // namespace kelm
