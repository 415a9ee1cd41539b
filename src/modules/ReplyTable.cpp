#include "modules/ReplyTable.h"

#include <cstdio>

#include "models/ModelMap.h"

namespace kelm {

bool ReplyRow::Matches(std::uint16_t Command, std::uint16_t regAddr, const Frame& Pbuf) const {
    if (Command != fc) return false;
    if (regs && (regAddr < regs->first || regAddr > regs->last)) return false;
    if (byteCount != kNoCount) {
        if (Pbuf[2] != byteCount) return false;
        // A frame that announces more data than it carries is not shown as
        // zeros the module never sent.
        if (Pbuf.size() < 3 + static_cast<std::size_t>(byteCount)) return false;
    }
    return Pbuf.size() >= minSize;
}

std::string ReplyRow::Key() const {
    char buf[48];
    if (!regs)
        std::snprintf(buf, sizeof buf, "FC %02u @any", static_cast<unsigned>(fc));
    else if (regs->first == regs->last)
        std::snprintf(buf, sizeof buf, "FC %02u @%u", static_cast<unsigned>(fc),
                      static_cast<unsigned>(regs->first));
    else
        std::snprintf(buf, sizeof buf, "FC %02u @%u-%u", static_cast<unsigned>(fc),
                      static_cast<unsigned>(regs->first), static_cast<unsigned>(regs->last));
    std::string key = buf;
    if (byteCount != kNoCount) key += " x" + std::to_string(byteCount);
    return key;
}

ReplyRow Row(std::uint8_t fc, std::uint16_t reg, int byteCount, std::string what,
             std::function<void(const Frame&)> action) {
    return ReplyRow{fc, RegRange{reg, reg}, byteCount, 0, std::move(what), std::move(action)};
}

ReplyRow AnyRegRow(std::uint8_t fc, int byteCount, std::string what,
                   std::function<void(const Frame&)> action) {
    return ReplyRow{fc, std::nullopt, byteCount, 0, std::move(what), std::move(action)};
}

ReplyRow Echo(std::uint8_t fc, std::uint16_t regFirst, std::uint16_t regLast, std::string what,
              std::function<void(const Frame&)> action) {
    return ReplyRow{
        fc, RegRange{regFirst, regLast}, ReplyRow::kNoCount, 0, std::move(what), std::move(action)};
}

ReplyRow AnyRegEcho(std::uint8_t fc, std::string what, std::function<void(const Frame&)> action) {
    return ReplyRow{fc, std::nullopt, ReplyRow::kNoCount, 0, std::move(what), std::move(action)};
}

ReplyRow ReadRow(const models::Item& item, std::string what,
                 std::function<void(const Frame&)> action) {
    return Row(item.read.fc, item.read.start, item.read.ReplyByteCount(), std::move(what),
               std::move(action));
}

RegRange ChannelRegisters(const models::Item& item) {
    return RegRange{item.first, item.Address(item.channels - 1)};
}

ReplyRow ItemEcho(std::uint8_t fc, const models::Item& item, std::string what,
                  std::function<void(const Frame&)> action) {
    const RegRange r = ChannelRegisters(item);
    return Echo(fc, r.first, r.last, std::move(what), std::move(action));
}

const ReplyRow* ReplyTable::Find(std::uint16_t Command, std::uint16_t regAddr,
                                 const Frame& Pbuf) const {
    for (const ReplyRow& row : rows_)
        if (row.Matches(Command, regAddr, Pbuf)) return &row;
    return nullptr;
}

const ReplyRow* ReplyTable::Dispatch(std::uint16_t Command, std::uint16_t regAddr,
                                     const Frame& Pbuf) const {
    const ReplyRow* row = Find(Command, regAddr, Pbuf);
    if (row && row->action) row->action(Pbuf);
    return row;
}

}  // namespace kelm
