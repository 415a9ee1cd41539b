#pragma once
// A master wired to recording doubles, the seven module panels on it, and the
// helpers to select a module and feed it a reply through the dispatcher.
#include <QWidget>
#include <string>

#include "modbus/Checks.h"
#include "modbus/ModbusMaster.h"
#include "modules/ModulePanels.h"
#include "support/ManualTimer.h"
#include "support/ModbusDoubles.h"
#include "support/RecordingMessageBoxes.h"

namespace kelm::test {

struct ModuleRig {
    RecordingSink sink;
    RecordingStatus status;
    FixedProtocol protocol{kProtocolRtu};
    ManualTimer recTimer;
    ModbusMaster master{sink, status, protocol, recTimer};
    RecordingMessageBoxes boxes;
    ModuleContext ctx{master, boxes};
    QWidget stack;
    ModulePanels panels = CreateModulePanels(ctx, &stack);

    // tree and channels: what the digital panels' handlers look at (the
    // selected node's level, the channel panels' reply steps); both optional.
    explicit ModuleRig(QTreeWidget* tree = nullptr, const ChannelSteps* channels = nullptr)
        : ctx{master, boxes, tree, channels} {
        RegisterReplyHandlers(master, panels);
    }

    MasterState& St() { return master.State(); }

    // What navigation does for a module node: state, reset, the two fields.
    ModulePanel* Select(const std::string& model, std::uint8_t address) {
        St().Node_Device_Name = model;
        St().Node_Device_ID = address;
        ModulePanel* p = panels.ForModel(model);
        if (p) {
            p->Default();
            p->SetDeviceFields(QString::fromStdString(model), QString::number(address));
        }
        return p;
    }

    // A reply body in the host's current form, delivered and ended by silence.
    ByteString Wire(const ByteString& body) const {
        return protocol.index == kProtocolAscii ? FrameAscii(body) : FrameRtu(body);
    }
    void ReceiveRaw(const ByteString& bytes) {
        master.ksComm1AfterReceive(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
        recTimer.Tick(11);
    }
    void Receive(const ByteString& body) { ReceiveRaw(Wire(body)); }

    ByteString LastSent() const { return sink.frames.empty() ? ByteString{} : sink.frames.back(); }
};

}  // namespace kelm::test
