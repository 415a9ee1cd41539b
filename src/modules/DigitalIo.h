#pragma once
// What the four digital panels share on the wire: function codes, the
// registers of the initial states and the output mode word, the coil values,
// the requests for states and for all outputs at once, and the reply rows
// that repeat from panel to panel with their width and names.
#include <QString>
#include <cstdint>
#include <functional>
#include <string>

#include "modules/ReplyTable.h"

class QTreeWidget;

namespace kelm {

class IInputChannelSteps;
class IMessageBoxes;
class IOutputChannelSteps;
class ModbusMaster;
struct ModuleContext;

inline constexpr std::uint8_t kFcReadCoils = 1;
inline constexpr std::uint8_t kFcReadInputs = 2;
inline constexpr std::uint8_t kFcReadHolding = 3;
inline constexpr std::uint8_t kFcWriteCoil = 5;
inline constexpr std::uint8_t kFcWriteRegister = 6;
inline constexpr std::uint8_t kFcWriteCoils = 15;
inline constexpr std::uint8_t kFcWriteRegisters = 16;

inline constexpr std::uint16_t kCoilOn = 0xFF00;
inline constexpr std::uint16_t kCoilOff = 0x0000;

inline constexpr std::uint16_t kRegInitialStates = 6;
inline constexpr std::uint16_t kRegOutputMode = 7;

// The title of every box the digital panels show.
inline const QString& NoticeTitle() {
    static const QString title = QStringLiteral("提示");
    return title;
}
// An information box titled "提示".
void ShowInformation(IMessageBoxes& boxes, const QString& text);

// Shows one lamp: the panels' Dis_..._Status(index, flag).
using LampStep = std::function<void(std::uint8_t index, bool flag)>;

// FC 01 or 02, start 0, `width` coils or inputs.
void ReadStates(ModbusMaster& master, std::uint8_t fc, int width);
// FC 05 at ch: kCoilOn when on, else kCoilOff.
void WriteCoil(ModbusMaster& master, int ch, bool on);
// FC 15 at 0 for `width` coils (8 or 16): the word's low byte, then for 16
// coils its high byte.
void WriteCoils(ModbusMaster& master, int width, std::uint16_t word);

// FC 01 or 02, any register, byte count width/8: word = byte 3 + 256 x byte 4
// (one byte for 8 channels); lamp ch gets bit ch.
ReplyRow StatesRow(std::uint8_t fc, int width, std::string what, LampStep show);
// FC 05 echo at 0 .. width-1: value (bytes 4-5) kCoilOn lights output
// Modbus_Reg_Addr, kCoilOff puts it out, any other value changes nothing. The
// output is the register of the request, not the echoed address.
ReplyRow CoilEchoRow(ModbusMaster& master, int width, LampStep show);
// FC 15 reply at 0: every lamp off, then the states read again.
ReplyRow CoilsWrittenRow(ModbusMaster& master, int width, LampStep show);
// FC 06 echo in first .. last: an information box with this text.
ReplyRow InformationEcho(IMessageBoxes& boxes, std::uint16_t first, std::uint16_t last,
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
