#include "modules/ReplyTable.h"

#include <cstdio>

namespace kelm {

bool ReplyRow::Matches(std::uint16_t Command, std::uint16_t regAddr, const Frame& Pbuf) const {
    if (Command != fc) return false;
    if (regFirst != kAnyReg && (regAddr < regFirst || regAddr > regLast)) return false;
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
    if (regFirst == kAnyReg)
        std::snprintf(buf, sizeof buf, "FC %02u @any", static_cast<unsigned>(fc));
    else if (regFirst == regLast)
        std::snprintf(buf, sizeof buf, "FC %02u @%u", static_cast<unsigned>(fc),
                      static_cast<unsigned>(regFirst));
    else
        std::snprintf(buf, sizeof buf, "FC %02u @%u-%u", static_cast<unsigned>(fc),
                      static_cast<unsigned>(regFirst), static_cast<unsigned>(regLast));
    std::string key = buf;
    if (byteCount != kNoCount) key += " x" + std::to_string(byteCount);
    return key;
}

ReplyRow Row(std::uint8_t fc, std::uint16_t reg, int byteCount, std::string what,
             std::function<void(const Frame&)> action) {
    return ReplyRow{fc, reg, reg, byteCount, 0, std::move(what), std::move(action)};
}

ReplyRow AnyRegRow(std::uint8_t fc, int byteCount, std::string what,
                   std::function<void(const Frame&)> action) {
    return ReplyRow{fc, ReplyRow::kAnyReg, ReplyRow::kAnyReg, byteCount,
                    0,  std::move(what),   std::move(action)};
}

ReplyRow Echo(std::uint8_t fc, std::uint16_t regFirst, std::uint16_t regLast, std::string what,
              std::function<void(const Frame&)> action) {
    return ReplyRow{fc, regFirst,        regLast,          ReplyRow::kNoCount,
                    0,  std::move(what), std::move(action)};
}

ReplyRow AnyRegEcho(std::uint8_t fc, std::string what, std::function<void(const Frame&)> action) {
    return ReplyRow{fc, ReplyRow::kAnyReg, ReplyRow::kAnyReg, ReplyRow::kNoCount,
                    0,  std::move(what),   std::move(action)};
}

const ReplyRow* ReplyTable::Dispatch(std::uint16_t Command, std::uint16_t regAddr,
                                     const Frame& Pbuf) const {
    for (const ReplyRow& row : rows_) {
        if (!row.Matches(Command, regAddr, Pbuf)) continue;
        if (row.action) row.action(Pbuf);
        return &row;
    }
    return nullptr;
}

}  // namespace kelm
