#pragma once
// What the four digital panels share on the wire, built from the model
// description: the requests for states and for all outputs at once, and the
// reply rows that repeat from panel to panel.
#include <QString>
#include <cstdint>
#include <functional>
#include <string>

#include "models/ModelMap.h"
#include "modules/ReplyTable.h"

class QTreeWidget;

namespace kelm {

class IInputChannelSteps;
class IMessageBoxes;
class IOutputChannelSteps;
class ModbusMaster;
struct ModuleContext;

using models::kFcReadHolding;
using models::kFcWriteRegister;
using models::kFcWriteRegisters;

// The item of a model that the panel is built for; both are constants of
// the panels, so a missing one is a programming error.
const models::Item& ModelItem(std::string_view model, std::string_view key);

// An information box titled "提示".
void ShowInformation(IMessageBoxes& boxes, const QString& text);

// Shows one lamp: the panels' Dis_..._Status(index, flag).
using LampStep = std::function<void(std::uint8_t index, bool flag)>;

// The panel's read of the item (FC 01 or 02 for the states, FC 03 ...).
void ReadItem(ModbusMaster& master, const models::Item& item);
// FC 05 at the coil of ch: on or off.
void WriteCoil(ModbusMaster& master, const models::Item& coils, int ch, bool on);
// FC 15 for all the item's coils (8 or 16): the word's low byte, then for 16
// coils its high byte.
void WriteCoils(ModbusMaster& master, const models::Item& coils, std::uint16_t word);

// The reply to the states read, any register, byte count channels/8:
// word = byte 3 + 256 x byte 4 (one byte for 8 channels); lamp ch gets bit ch.
ReplyRow StatesRow(const models::Item& states, std::string what, LampStep show);
// FC 05 echo at the item's coils: value (bytes 4-5) on lights output
// Modbus_Reg_Addr, off puts it out, any other value changes nothing. The
// output is the register of the request, not the echoed address.
ReplyRow CoilEchoRow(ModbusMaster& master, const models::Item& coils, LampStep show);
// FC 15 reply at the first coil: every lamp off, then the states read again.
ReplyRow CoilsWrittenRow(ModbusMaster& master, const models::Item& coils, LampStep show);
// FC 06 echo at the item's registers (or, with nullptr, at any register): an
// information box with this text (a translatable source, shown in the
// language chosen when the echo arrives); `what` names the row for
// diagnostics.
ReplyRow InformationEcho(IMessageBoxes& boxes, const models::Item* item, std::string what,
                         const char* text);

// Depth of the tree's selected node (the root "PC" is 0, a channel node 3);
// -1 without a tree or a selection.
int SelectedNodeLevel(const QTreeWidget* tree);
inline constexpr int kChannelNodeLevel = 3;

// The channel panels' reply steps; nullptr while there is no such panel, and
// then the step is not run.
IInputChannelSteps* InputSteps(const ModuleContext& ctx);
IOutputChannelSteps* OutputSteps(const ModuleContext& ctx);

}  // namespace kelm
