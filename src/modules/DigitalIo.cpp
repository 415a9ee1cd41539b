#include "modules/DigitalIo.h"

#include <QTreeWidget>
#include <cstdlib>

#include "gui/MessageBoxes.h"
#include "modbus/Bytes.h"
#include "modbus/ModbusMaster.h"
#include "modules/ChannelSteps.h"
#include "modules/ModuleContext.h"
#include "modules/PanelTexts.h"

namespace kelm {

namespace {
// FC 05 echo: address, code, register (2), value (2).
constexpr std::size_t kCoilEchoSize = 6;
}  // namespace

void ShowInformation(IMessageBoxes& boxes, const QString& text) {
    boxes.Information(NoticeTitle(), text);
}

const models::Item& ModelItem(std::string_view model, std::string_view key) {
    const models::Model* m = models::FindModel(model);
    const models::Item* item = m ? models::FindItem(*m, key) : nullptr;
    if (!item) std::abort();  // the panels name their own model's items
    return *item;
}

void ReadItem(ModbusMaster& master, const models::Item& item) {
    master.Modbus_Send_oneWord(item.read.fc, item.read.start, item.read.quantity);
}

void WriteCoil(ModbusMaster& master, const models::Item& coils, int ch, bool on) {
    master.Modbus_Send_oneWord(models::kFcWriteCoil, coils.Address(ch),
                               on ? models::kCoilOn : models::kCoilOff);
}

void WriteCoils(ModbusMaster& master, const models::Item& coils, std::uint16_t word) {
    ByteString data{static_cast<std::uint8_t>(word & 0xFF)};
    if (coils.channels > 8) data.push_back(static_cast<std::uint8_t>(word >> 8));
    master.Modbus_Send_Buf(models::kFcWriteCoils, coils.first, coils.channels,
                           static_cast<std::uint8_t>(data.size()), data);
}

ReplyRow StatesRow(const models::Item& states, std::string what, LampStep show) {
    const int width = states.channels;
    return AnyRegRow(states.read.fc, states.read.ReplyByteCount(), std::move(what),
                     [width, show](const Frame& Pbuf) {
                         const unsigned word = width > 8 ? Pbuf[3] + 256u * Pbuf[4] : Pbuf[3];
                         for (int ch = 0; ch < width; ++ch)
                             show(static_cast<std::uint8_t>(ch),
                                  Bit(word, static_cast<unsigned>(ch)));
                     });
}

ReplyRow CoilEchoRow(ModbusMaster& master, const models::Item& coils, LampStep show) {
    const std::uint16_t first = coils.first;
    ReplyRow row = ItemEcho(
        models::kFcWriteCoil, coils, "switch echo", [&master, show, first](const Frame& Pbuf) {
            const std::uint16_t value = Pbuf.word(4);
            const auto ch = static_cast<std::uint8_t>(master.State().Modbus_Reg_Addr - first);
            if (value == models::kCoilOn)
                show(ch, true);
            else if (value == models::kCoilOff)
                show(ch, false);
        });
    // The value is read, so it must be there.
    row.minSize = kCoilEchoSize;
    return row;
}

ReplyRow CoilsWrittenRow(ModbusMaster& master, const models::Item& coils, LampStep show) {
    const models::Item* item = &coils;
    return Echo(models::kFcWriteCoils, coils.first, coils.first, "all outputs written",
                [&master, item, show](const Frame&) {
                    for (int ch = 0; ch < item->channels; ++ch)
                        show(static_cast<std::uint8_t>(ch), false);
                    ReadItem(master, *item);
                });
}

ReplyRow InformationEcho(IMessageBoxes& boxes, const models::Item* item, std::string what,
                         const char* text) {
    auto action = [&boxes, text](const Frame&) { ShowInformation(boxes, PanelTr(text)); };
    if (!item) return AnyRegEcho(models::kFcWriteRegister, std::move(what), action);
    return ItemEcho(models::kFcWriteRegister, *item, std::move(what), action);
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
