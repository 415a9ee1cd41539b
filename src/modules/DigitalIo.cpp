#include "modules/DigitalIo.h"

#include <QTreeWidget>

#include "gui/MessageBoxes.h"
#include "modbus/Bytes.h"
#include "modbus/ModbusMaster.h"
#include "modules/ChannelSteps.h"
#include "modules/ModuleContext.h"

namespace kelm {

namespace {
// FC 05 echo: address, code, register (2), value (2).
constexpr std::size_t kCoilEchoSize = 6;
}  // namespace

void ShowInformation(IMessageBoxes& boxes, const QString& text) {
    boxes.Information(NoticeTitle(), text);
}

void ReadStates(ModbusMaster& master, std::uint8_t fc, int width) {
    master.Modbus_Send_oneWord(fc, 0, static_cast<std::uint16_t>(width));
}

void WriteCoil(ModbusMaster& master, int ch, bool on) {
    master.Modbus_Send_oneWord(kFcWriteCoil, static_cast<std::uint16_t>(ch),
                               on ? kCoilOn : kCoilOff);
}

void WriteCoils(ModbusMaster& master, int width, std::uint16_t word) {
    ByteString data{static_cast<std::uint8_t>(word & 0xFF)};
    if (width > 8) data.push_back(static_cast<std::uint8_t>(word >> 8));
    master.Modbus_Send_Buf(kFcWriteCoils, 0, static_cast<std::uint8_t>(width),
                           static_cast<std::uint8_t>(data.size()), data);
}

ReplyRow StatesRow(std::uint8_t fc, int width, std::string what, LampStep show) {
    return AnyRegRow(fc, width / 8, std::move(what), [width, show](const Frame& Pbuf) {
        const unsigned word = width > 8 ? Pbuf[3] + 256u * Pbuf[4] : Pbuf[3];
        for (int ch = 0; ch < width; ++ch)
            show(static_cast<std::uint8_t>(ch), Bit(word, static_cast<unsigned>(ch)));
    });
}

ReplyRow CoilEchoRow(ModbusMaster& master, int width, LampStep show) {
    ReplyRow row = Echo(kFcWriteCoil, 0, static_cast<std::uint16_t>(width - 1), "switch echo",
                        [&master, show](const Frame& Pbuf) {
                            const std::uint16_t value = Pbuf.word(4);
                            const auto ch =
                                static_cast<std::uint8_t>(master.State().Modbus_Reg_Addr);
                            if (value == kCoilOn)
                                show(ch, true);
                            else if (value == kCoilOff)
                                show(ch, false);
                        });
    // The value is read, so it must be there.
    row.minSize = kCoilEchoSize;
    return row;
}

ReplyRow CoilsWrittenRow(ModbusMaster& master, int width, LampStep show) {
    return Echo(kFcWriteCoils, 0, 0, "all outputs written", [&master, width, show](const Frame&) {
        for (int ch = 0; ch < width; ++ch) show(static_cast<std::uint8_t>(ch), false);
        ReadStates(master, kFcReadCoils, width);
    });
}

ReplyRow InformationEcho(IMessageBoxes& boxes, std::uint16_t first, std::uint16_t last,
                         const char* text) {
    const QString message = QString::fromUtf8(text);
    return Echo(kFcWriteRegister, first, last, text,
                [&boxes, message](const Frame&) { ShowInformation(boxes, message); });
}

IInputChannelSteps* InputSteps(const ModuleContext& ctx) {
    return ctx.channels ? ctx.channels->input : nullptr;
}

IOutputChannelSteps* OutputSteps(const ModuleContext& ctx) {
    return ctx.channels ? ctx.channels->output : nullptr;
}

int SelectedNodeLevel(const QTreeWidget* tree) {
    if (!tree) return -1;
    const QTreeWidgetItem* node = tree->currentItem();
    if (!node) return -1;
    int level = 0;
    for (const QTreeWidgetItem* p = node->parent(); p; p = p->parent()) ++level;
    return level;
}

}  // namespace kelm
