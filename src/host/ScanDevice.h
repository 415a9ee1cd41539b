#pragma once
// The scan's side of the device tree: the identity request for one address,
// and the identity-reply handler that adds a module node (with its channel
// nodes for the digital models) under the port node being scanned.
#include <QIcon>
#include <Qt>
#include <cstdint>
#include <functional>

#include "modbus/Bytes.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace kelm {

class ModbusMaster;
struct ScanContext;

// Tree items keep the index of their ImageList2020 picture in this role, so
// that the picture a node shows can be told without comparing icons.
inline constexpr int kTreeImageIndexRole = Qt::UserRole + 1;
inline constexpr int kImageModuleNode = 5;
inline constexpr int kImageChannelNode = 6;

// Plausibility limits of an identity reply.
inline constexpr int kScanTypeMin = 1;
inline constexpr int kScanTypeMax = 20;
inline constexpr int kScanVersionMin = 0xA0;
inline constexpr int kScanVersionMax = 0xF0;
inline constexpr int kScanFirstAddress = 1;
inline constexpr int kScanLastAddress = 247;

// Depth of a node: 0 the root "PC", 1 a port, 2 a module, 3 a channel.
int TreeNodeLevel(const QTreeWidgetItem* item);

// The identity read of address A: A 03 00 00 00 03 in the protocol of the
// given Cmb_comXY index (0 RTU with CRC, 1 ASCII with LRC); empty for any
// other index, so nothing reaches the line.
ByteString ScanRequest(std::uint8_t address, int protocolIndex);

// Disposal_Modbus03_Scandevice: an identity reply (Pbuf as the dispatcher
// hands it) for the scan. Adds the module under the tree's selected node when
// its type and versions are plausible and its model is known; otherwise
// changes nothing. Returns the module node added, or nullptr.
QTreeWidgetItem* Disposal_Modbus03_Scandevice(QTreeWidget& tree,
                                              const std::function<QIcon(int)>& picture,
                                              const Frame& Pbuf);

// Registers the handler above with the master's dispatcher.
void RegisterScanHandler(ModbusMaster& master, QTreeWidget& tree,
                         std::function<QIcon(int)> picture);

}  // namespace kelm
