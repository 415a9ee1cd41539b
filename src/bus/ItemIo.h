#pragma once
// Reading and writing a module's items by their keys, with the requests the
// panels send: items that one request covers (pulse_run and pulse_count) are
// read together, values are decoded through the model description, analog
// counts are converted by their channel's mode, and every write is read back
// and compared. No Qt; used by the command line and configuration files.
//
// An ItemIo is used from the thread that owns its Transactor.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "bus/BusClient.h"
#include "models/ModelMap.h"

namespace kelm::bus {

enum class IoError : std::uint8_t {
    None,
    Exception,  // the module answered with an exception
    Timeout,    // no reply
    PortLost,   // the port went away
    BadReply,   // a reply that does not hold what was asked (short, other shape)
    Mismatch,   // the read-back differs from what was written
    Refused,    // a value or channel the item does not take; nothing was sent
};

struct IoStatus {
    IoError error = IoError::None;
    std::uint8_t exceptionCode = 0;
    std::string message;  // empty when ok
    bool ok() const { return error == IoError::None; }
};

// One channel of an item (channel 0 for a single value).
struct ChannelValue {
    int channel = 0;
    std::uint32_t raw = 0;                   // the decoded code or number
    const models::Choice* choice = nullptr;  // enumerated items: the value's choice
    int modeIndex = -1;                      // analog items: the channel's mode, -1 none
    std::optional<double> value;             // analog items: converted to `unit`
    std::string unit;                        // analog: "mA", "V"; else the item's unit
    int decimals = 0;                        // analog: decimals of the value text
};

struct ItemReading {
    const models::Item* item = nullptr;
    std::vector<ChannelValue> channels;
};

// Mode index of each channel of an analog item (-1 when unknown).
using Modes = std::vector<int>;

// The user's unit of a mode, as models::InShownUnit shows its values.
std::string UserUnit(const models::Choice& mode);  // "uA" -> "mA", "mV" -> "V"

class ItemIo {
  public:
    ItemIo(Transactor& client, const models::Model& model, std::uint8_t address,
           RequestOptions options = {});
    // Before the model is known: reads of the identity items only (Model()
    // must not be called, and no analog item is read).
    ItemIo(Transactor& client, std::uint8_t address, RequestOptions options = {});

    const models::Model& Model() const { return *model_; }

    // Reads the items in the order given, one request per distinct read
    // request. For the analog item (ai, ao) the channel modes come from
    // `modes` when given, else the mode item is read first (once).
    IoStatus Read(std::span<const models::Item* const> items, std::vector<ItemReading>& out,
                  const std::optional<Modes>& modes = std::nullopt);

    // Reads items that one request covers with that request (the identity,
    // registers 0-5, in one read), in the order given; no analog conversion.
    IoStatus ReadWith(const models::Read& read, std::span<const models::Item* const> items,
                      std::vector<ItemReading>& out);

    // Writes one channel (ch >= 0) or every channel (ch == -1) of an item,
    // then reads it back. For every-channel writes `values` has one value
    // per channel (WordBits items: one word). A channel of an item that is
    // only written whole (the mode items, the WordBits words) is written
    // whole with the other channels as the module has them now. On
    // success `after` holds the item as read back.
    IoStatus Write(const models::Item& item, int ch, std::span<const std::uint32_t> values,
                   ItemReading* after = nullptr);

    // Requests sent so far (for tests and the bench).
    int Requests() const { return requests_; }

  private:
    IoStatus Transact(const models::Request& r, ByteString& body, const std::string& what);
    IoStatus ReadRaw(const models::Item& item, std::vector<std::uint32_t>& values);
    ItemReading Make(const models::Item& item, const std::vector<std::uint32_t>& raw,
                     const Modes* modes) const;

    Transactor& client_;
    const models::Model* model_;
    std::uint8_t address_;
    RequestOptions options_;
    int requests_ = 0;
};

// "exception 02 (illegal data address)", "no reply", ... for messages.
std::string DescribeStatus(const IoStatus& s);

}  // namespace kelm::bus
