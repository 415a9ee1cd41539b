#pragma once
// The poll conversation: a second party on the one master, for a poller that
// reads modules in the background (the trend view) beside the user's own
// requests.
//
// The line still carries one request at a time. While a poller is attached
// the master keeps a small gate:
//   - Free: nothing is awaited; a poll or a user request may go out.
//   - Poll: a poll request is on the line. A user request made now is held
//     (not lost) and goes out, in the order made, as soon as the poll's reply
//     is in or its time is up.
//   - User: a user request is on the line. The poller may not send until the
//     user's reply is in or its time is up; a further user request (a second
//     click, a handler's follow-up read) waits for it too, so that two
//     replies never meet on the line.
// Held requests go out one at a time, in the order made, each read against
// its own start register (Modbus_Reg_Addr is set back to it when it goes).
// A complete frame ends the conversation on the line (a reply that fails its
// check too: the line has fallen silent after it). A valid reply from the
// polled address with the polled function code (or its exception code) is
// the poller's; it never reaches the dispatcher, so it is never judged against
// the user's request. A reply that comes after its poll's time from the polled
// address, and that cannot be the answer to the user's latest request, is
// dropped rather than judged against a request it does not answer.
//
// When the polled module is the one selected in the tree and the poll asks
// for what its panel asks for (`mirror`), the reply also goes through the
// panel's reply handler, read against the poll's start register, so the panel
// shows the polled values; Modbus_Reg_Addr is the user's again afterwards.
//
// With no poller attached none of this exists: no gate, no extra timer, the
// same bytes at the same moments.
//
// Everything runs on the master's thread (the GUI thread), like the master.
#include <cstdint>
#include <string_view>

#include "modbus/Bytes.h"

namespace kelm {

struct PollRequest {
    std::uint8_t address = 0;
    std::uint8_t functionCode = 0;  // 1, 2, 3 or 4: polls only read
    std::uint16_t regAddr = 0;
    std::uint16_t quantity = 0;
    // Model name of the polled module; the reply is mirrored to the selected
    // module's panel only when it is that module (address and model).
    std::string_view model;
    bool mirror = false;
};

enum class PollFailure : std::uint8_t {
    NoReply,   // nothing complete came back within the time
    BadReply,  // a frame came back but failed its check
};

class IPollClient {
  public:
    virtual ~IPollClient() = default;
    // The reply to the poll in flight (an exception reply included: bit 7 of
    // the function code set). Pbuf is the reply without its check.
    virtual void OnPollReply(const PollRequest& request, const Frame& Pbuf) = 0;
    // The poll in flight ended without a usable reply.
    virtual void OnPollFailed(const PollRequest& request, PollFailure why) = 0;
    // The line has become free (a conversation ended and no user request was
    // held). The client may call SendPoll from here.
    virtual void OnLineFree() = 0;
};

enum class LineState : std::uint8_t { Free, Poll, User };

}  // namespace kelm
