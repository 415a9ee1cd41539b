#pragma once
// What a module panel needs from the main window. The window owns all of it
// for the whole run; panels keep references, never ownership.
#include <functional>

class QTreeWidget;

namespace kelm {

class ModbusMaster;
class IMessageBoxes;
struct ChannelSteps;
struct ConfigHooks;

struct ModuleContext {
    // The one master: its state (Modbus_Reg_Addr, Node_Device_ID, ...) and the
    // two send entry points every panel request goes through.
    ModbusMaster& master;
    // Modal boxes: confirmations, warnings, the general error report.
    IMessageBoxes& boxes;
    // The device tree (TreeView1). Optional: the identity family does not
    // need it; the digital panels' handlers look at the selected node's level.
    QTreeWidget* tree = nullptr;
    // The channel panels' reply steps, run by the digital modules' handlers.
    // Optional, owned by the panel set; see modules/ChannelSteps.h.
    const ChannelSteps* channels = nullptr;
    // The configuration-file buttons' file dialogs, port state and line
    // (modules/ConfigTransfer.h). Optional: without it file dialogs are
    // QFileDialogs and the port counts as open at 9600 baud, RTU.
    const ConfigHooks* config = nullptr;
};

}  // namespace kelm
