#pragma once
// What the bus scan needs from the main window. The window owns all of it for
// the whole run; the scan dialog, created for each use, keeps references.
#include <QIcon>
#include <QPixmap>
#include <functional>

#include "modbus/Bytes.h"

class QTreeWidget;

namespace kelm {

class ModbusMaster;
class IMessageBoxes;

struct ScanContext {
    ModbusMaster& master;
    IMessageBoxes& boxes;
    // TreeView1; the port node being scanned is its selected node.
    QTreeWidget& tree;
    // The serial component's SendString: the scan requests bypass the codec
    // (and so leave the status text alone).
    std::function<void(const ByteString&)> SendString;
    // Item index of the host protocol list Cmb_comXY: 0 RTU, 1 ASCII.
    std::function<int()> ProtocolIndex;
    // Whether the serial component's port is open.
    std::function<bool()> PortActive;
    // Whether the link check timer Timer_check_slavecom is running.
    std::function<bool()> LinkCheckRunning;
    // ImageList2020 by index (5 module node, 6 channel node).
    std::function<QIcon(int)> Picture;
    // The dialog's busy picture (50 x 50); a plain one is drawn when null.
    QPixmap BusyPicture;
};

}  // namespace kelm
