#pragma once
// Watching the line without touching it. The master tells an attached
// observer about every frame it hands to the serial component and every frame
// its receiver collects, with the receiver's verdict: which handler took the
// frame, or why it was dropped. A panel's reply table adds which of its rows
// took a reply, or that none did.
//
// The observer only watches: nothing it is told can change what the master
// does, and with no observer attached the master does no extra work beyond a
// null-pointer test per frame. It is called on the master's thread (the GUI
// thread), synchronously, before the handler that takes the frame runs; the
// spans and views it receives are valid only during the call.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace kelm {

// What became of a received frame.
enum class ReceiveVerdict : std::uint8_t {
    // Taken by a handler.
    ToScan,      // the scan's identity handler
    ToCheckCom,  // the link check's handler
    ToModel,     // the reply handler of the selected module's model
    // Dropped by validation, before anything is read from the frame.
    TooShort,     // fewer than kMinReplyLength bytes or characters
    TooLong,      // more than kMaxReplyLength
    CrcMismatch,  // RTU
    LrcMismatch,  // ASCII
    OddLength,    // ASCII: an odd number of hex characters
    NotHex,       // ASCII: a character that is not a hex digit
    NoProtocol,   // no host protocol selected: nothing can be checked
    // Valid, but no handler took it.
    BroadcastNotCheck,  // address 0, but not the link check's answer
    OtherAddress,       // from another address than the selected module
    NoHandler,          // the conversation or model has no handler
    // Bytes delivered while a reply was being handled: never collected.
    WhileHandling,
    // The poll conversation (PollConversation.h), only while a poller is
    // attached.
    ToPoll,    // taken by the poller: the reply to its own request
    LatePoll,  // a poll's reply after its time: dropped, answers no open request
};
inline constexpr int kReceiveVerdictCount = static_cast<int>(ReceiveVerdict::LatePoll) + 1;

// A frame that reached a handler.
inline constexpr bool IsAccepted(ReceiveVerdict v) {
    return v == ReceiveVerdict::ToScan || v == ReceiveVerdict::ToCheckCom ||
           v == ReceiveVerdict::ToModel || v == ReceiveVerdict::ToPoll;
}

// Handler names the verdicts ToScan and ToCheckCom (and NoHandler for them)
// carry; model handlers carry their own ("KELM_8AD_Event").
inline constexpr std::string_view kScanHandlerName = "Disposal_Modbus03_Scandevice";
inline constexpr std::string_view kCheckComHandlerName = "Disposal_Modbus03_checkcom";
// The poll conversation's verdicts carry this name.
inline constexpr std::string_view kPollHandlerName = "Poll";

// The request a frame was sent as, or a reply was judged against: the most
// recent one.
struct RequestRef {
    bool any = false;               // a request has been sent since start-up
    std::uint8_t address = 0;       // its slave address
    std::uint8_t functionCode = 0;  // its function code
    std::uint16_t regAddr = 0;      // Modbus_Reg_Addr at that moment
};

struct SentFrameInfo {
    std::span<const std::uint8_t> frame;  // exactly as handed to the serial component
    int protocol = -1;                    // 0 RTU, 1 ASCII: the form it was built in
    RequestRef request;                   // this request
};

struct ReceivedFrameInfo {
    // Numbers the received frames an observer is told about, from 1; a
    // reply-row report names the frame it belongs to by it.
    std::uint64_t seq = 0;
    // The bytes as collected. The receiver keeps at most one byte more than
    // the longest frame, so for a frame too long this is its beginning.
    std::span<const std::uint8_t> bytes;
    // How many bytes arrived for it (>= bytes.size()).
    std::size_t arrived = 0;
    int protocol = -1;  // the form it was judged in: 0 RTU, 1 ASCII, -1 none
    ReceiveVerdict verdict = ReceiveVerdict::TooShort;
    // The handler it went to (or, for NoHandler, would have gone to); empty
    // otherwise.
    std::string_view handler;
    // The frame without its check, when it passed validation; empty otherwise.
    std::span<const std::uint8_t> pbuf;
    // Node_Device_ID and Node_Device_Name when it was judged.
    std::uint8_t selectedAddress = 0;
    std::string_view selectedModel;
    // The request it was judged against (regAddr is the Modbus_Reg_Addr the
    // dispatcher and the handlers read).
    RequestRef request;
};

// Which row of a panel's reply table took a reply, or that none did.
struct ReplyRowInfo {
    std::uint64_t seq = 0;     // the received frame being handled (set by the master)
    std::string_view handler;  // "KELM_8AD_Event"
    bool matched = false;
    std::string_view rowKey;   // "FC 03 @0 x6"; empty when none matched
    std::string_view rowWhat;  // what the row does ("versions")
    // What was matched against the table.
    std::uint16_t command = 0;   // the reply's function code
    std::uint16_t regAddr = 0;   // Modbus_Reg_Addr
    std::uint8_t byteCount = 0;  // byte 2 of the reply
    std::size_t size = 0;        // bytes in the frame without its check
};

class IFrameObserver {
  public:
    virtual ~IFrameObserver() = default;
    virtual void OnFrameSent(const SentFrameInfo& info) = 0;
    virtual void OnFrameReceived(const ReceivedFrameInfo& info) = 0;
    virtual void OnReplyRow(const ReplyRowInfo& info) = 0;
};

}  // namespace kelm
