#include "host/ScanDevice.h"

#include <QPointer>
#include <QTreeWidget>
#include <QTreeWidgetItem>

#include "modbus/Checks.h"
#include "modbus/ModbusMaster.h"
#include "modbus/Models.h"
#include "models/ModelMap.h"

namespace kelm {

namespace {

constexpr std::size_t kIdentityReplyBytes = 9;  // address, 3, 6, three registers

void SetPicture(QTreeWidgetItem* item, int index, const std::function<QIcon(int)>& picture) {
    item->setData(0, kTreeImageIndexRole, index);
    if (picture) item->setIcon(0, picture(index));
}

void SetExpandedRecursive(QTreeWidgetItem* item, bool expanded) {
    item->setExpanded(expanded);
    for (int i = 0; i < item->childCount(); ++i) SetExpandedRecursive(item->child(i), expanded);
}

bool HasModuleAt(const QTreeWidgetItem* port, std::uint8_t address) {
    for (int i = 0; i < port->childCount(); ++i) {
        const auto node = ParseModuleNodeText(port->child(i)->text(0).toStdString());
        if (node && node->address == address) return true;
    }
    return false;
}

}  // namespace

int TreeNodeLevel(const QTreeWidgetItem* item) {
    if (!item) return -1;
    int level = 0;
    for (const QTreeWidgetItem* p = item->parent(); p; p = p->parent()) ++level;
    return level;
}

ByteString ScanRequest(std::uint8_t address, int protocolIndex) {
    const models::Read read = models::IdentityRead();
    return FrameForProtocol(OneWordBody(address, read.fc, read.start, read.quantity),
                            protocolIndex);
}

QTreeWidgetItem* Disposal_Modbus03_Scandevice(QTreeWidget& tree,
                                              const std::function<QIcon(int)>& picture,
                                              const Frame& Pbuf) {
    // A frame shorter than an identity reply would leave versions to be
    // guessed; it is not a module's answer.
    if (Pbuf.size() < kIdentityReplyBytes) return nullptr;
    const int type = Pbuf[4];
    const int hardware = Pbuf[6];
    const int software = Pbuf[8];
    if (!IsPlausibleTypeCode(type)) return nullptr;
    if (hardware < kScanVersionMin || hardware > kScanVersionMax) return nullptr;
    if (software < kScanVersionMin || software > kScanVersionMax) return nullptr;

    // The port node being scanned; the modal dialog keeps the selection.
    QTreeWidgetItem* parent = tree.currentItem();
    if (TreeNodeLevel(parent) != 1) return nullptr;

    const models::Model* model = models::FindModelByCode(type);
    if (!model) return nullptr;  // plausible, but no model of ours

    // Address 0 is the broadcast and 248-255 are no slave's: a node for them
    // would send every later request to the wrong place.
    const std::uint8_t address = Pbuf[0];
    if (address < kScanFirstAddress || address > kScanLastAddress) return nullptr;
    // One node per address: a second answer from the same address (a repeated
    // or late reply) must not list the module twice.
    if (HasModuleAt(parent, address)) return nullptr;

    auto* node = new QTreeWidgetItem(parent);
    node->setText(0, QString::fromStdString(ModuleNodeText(model->name, address)));
    // Inputs first, then outputs, as the model lays out its channels.
    for (const std::string& ch : models::ChannelNodeNames(*model)) {
        auto* child = new QTreeWidgetItem(node);
        child->setText(0, QString::fromStdString(ch));
        SetPicture(child, kImageChannelNode, picture);
    }
    SetPicture(node, kImageModuleNode, picture);

    // The port lists its modules, without their channels.
    SetExpandedRecursive(parent, true);
    for (int i = 0; i < parent->childCount(); ++i) SetExpandedRecursive(parent->child(i), false);
    return node;
}

void RegisterScanHandler(ModbusMaster& master, QTreeWidget& tree,
                         std::function<QIcon(int)> picture) {
    master.SetScanHandler(
        [t = QPointer<QTreeWidget>(&tree), picture = std::move(picture)](const Frame& Pbuf) {
            if (t) Disposal_Modbus03_Scandevice(*t, picture, Pbuf);
        });
}

}  // namespace kelm
