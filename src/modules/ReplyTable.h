#pragma once
// A panel's reply handling as a table: one row per (function code, range of
// Modbus_Reg_Addr, byte count) with its action. A reply that matches no row
// (another code, register or byte count, an exception reply, or a frame that
// lacks data bytes its byte count announces) is ignored by one rule.
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "modbus/Bytes.h"

namespace kelm {

namespace models {
struct Item;
}

// Values of Modbus_Reg_Addr a row answers, both ends included.
struct RegRange {
    std::uint16_t first = 0;
    std::uint16_t last = 0;
    bool operator==(const RegRange&) const = default;
};

struct ReplyRow {
    // Byte count not looked at (write echoes and acknowledgements).
    static constexpr int kNoCount = -1;

    std::uint8_t fc = 0;
    // nullopt: every Modbus_Reg_Addr, 0xFFFF included.
    std::optional<RegRange> regs;
    int byteCount = kNoCount;  // byte 2 of a read reply
    // Bytes the frame must hold for the action to read what it reads: for a
    // row with a byte count, 3 + the count is always required as well.
    std::size_t minSize = 0;
    // What the row does, for the reader and for diagnostics ("versions").
    std::string what;
    std::function<void(const Frame& Pbuf)> action;

    bool Matches(std::uint16_t Command, std::uint16_t regAddr, const Frame& Pbuf) const;
    // "FC 03 @6 x4", "FC 06 @8-15", "FC 16 @any"
    std::string Key() const;
};

// Row builders that read like the reply tables: Row(3, 6, 4, ...) is
// "FC 03, Modbus_Reg_Addr 6, byte count 4"; Echo(6, 8, 15, ...) is
// "FC 06, Modbus_Reg_Addr 8-15", byte count not looked at.
ReplyRow Row(std::uint8_t fc, std::uint16_t reg, int byteCount, std::string what,
             std::function<void(const Frame&)> action);
ReplyRow AnyRegRow(std::uint8_t fc, int byteCount, std::string what,
                   std::function<void(const Frame&)> action);
ReplyRow Echo(std::uint8_t fc, std::uint16_t regFirst, std::uint16_t regLast, std::string what,
              std::function<void(const Frame&)> action);
ReplyRow AnyRegEcho(std::uint8_t fc, std::string what, std::function<void(const Frame&)> action);

// The same rows taken from the model description: ReadRow is the reply to the
// read the panels send for the item (its function code, start and byte
// count); ItemEcho is an echo of fc at any channel's register of the item
// (the first of a 32-bit channel's two).
ReplyRow ReadRow(const models::Item& item, std::string what,
                 std::function<void(const Frame&)> action);
ReplyRow ItemEcho(std::uint8_t fc, const models::Item& item, std::string what,
                  std::function<void(const Frame&)> action);
// Modbus_Reg_Addr of every channel of the item: first .. the last channel's register.
RegRange ChannelRegisters(const models::Item& item);

class ReplyTable {
  public:
    void Add(ReplyRow row) { rows_.push_back(std::move(row)); }
    void Add(std::vector<ReplyRow> rows) {
        for (auto& r : rows) rows_.push_back(std::move(r));
    }

    // The first row that matches; nullptr when none does (the reply is ignored).
    const ReplyRow* Find(std::uint16_t Command, std::uint16_t regAddr, const Frame& Pbuf) const;
    // Runs the first row that matches and returns it; nullptr when none does.
    const ReplyRow* Dispatch(std::uint16_t Command, std::uint16_t regAddr, const Frame& Pbuf) const;

    const std::vector<ReplyRow>& Rows() const { return rows_; }

  private:
    std::vector<ReplyRow> rows_;
};

// Bit ch of a byte or word, as the lamp and box steps read it.
inline bool Bit(unsigned value, unsigned ch) {
    return ch < 32 && ((value >> ch) & 1u) != 0;
}

}  // namespace kelm
