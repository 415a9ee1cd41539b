#pragma once
// The Modbus master engine: builds requests (codec), collects reply bytes until
// the line falls silent (receiver), validates the frame and routes it to the
// scan, link-check or model reply handler (dispatcher).
//
// Threading: a ModbusMaster and its MasterState are confined to one thread,
// the GUI thread. Every entry point (panel requests, the serial component's
// receive event, timer ticks) is called there; the serial component marshals
// its deliveries onto that thread. No locks are taken and none are needed;
// separate instances share no state.
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "modbus/Bytes.h"
#include "modbus/FrameObserver.h"
#include "modbus/Interfaces.h"
#include "modbus/MasterState.h"
#include "modbus/PollConversation.h"

namespace kelm {

// Status bar panel 0 shows the state of the conversation.
inline constexpr int kStatusPanelLink = 0;
inline constexpr std::string_view kStatusSending = "正在扫描终端数据......";
inline constexpr std::string_view kStatusReplyOk = "当前终端通讯响应正常!";

// End of frame: 11 ticks of a 10 ms timer without new bytes.
inline constexpr int kRecvTimerIntervalMs = 10;
inline constexpr std::int32_t kRecvSilentTicks = 10;
// The name the observer is given for frames taken by a reply tap.
inline constexpr std::string_view kReplyTapName =
    "ModuleConfig_Event";  // a frame ends when the count exceeds this

class ModbusMaster {
  public:
    // (Command = the reply's function code, Pbuf = the reply without its check)
    using ReplyHandler = std::function<void(std::uint16_t Command, const Frame& Pbuf)>;
    using FrameHandler = std::function<void(const Frame& Pbuf)>;

    // Timer_com_rec is set to 10 ms, disabled, and its ticks bound to
    // Timer_com_recTimer. All references must outlive the master.
    ModbusMaster(IFrameSink& sink, IStatusText& status, IHostProtocol& protocol,
                 ITimer& Timer_com_rec);
    ~ModbusMaster();
    ModbusMaster(const ModbusMaster&) = delete;
    ModbusMaster& operator=(const ModbusMaster&) = delete;

    MasterState& State() { return state_; }
    const MasterState& State() const { return state_; }

    // --- codec ---------------------------------------------------------------
    // Records reg_addr in Modbus_Reg_Addr (any Code), then sends
    // Node_Device_ID, Code, reg_addr, reg_data in the current protocol.
    void Modbus_Send_oneWord(std::uint8_t Code, std::uint16_t reg_addr, std::uint16_t reg_data);

    // Write multiple coils (15) or registers (16): address, Code, reg_addr,
    // 0x00, reg_num, buf_num, then buf_num bytes of pbuf. Any other Code sends
    // nothing and leaves Modbus_Reg_Addr alone. pbuf must hold buf_num bytes;
    // a null pbuf with buf_num > 0 (or, for the ByteString form, fewer than
    // buf_num bytes) sends nothing and leaves Modbus_Reg_Addr alone rather than
    // put bytes on the line that the caller never gave. Returns true when a
    // frame was handed on.
    bool Modbus_Send_Buf(std::uint8_t Code, std::uint16_t reg_addr, std::uint8_t reg_num,
                         std::uint8_t buf_num, const std::uint8_t* pbuf);
    bool Modbus_Send_Buf(std::uint8_t Code, std::uint16_t reg_addr, std::uint8_t reg_num,
                         std::uint8_t buf_num, const ByteString& pbuf);

    // Shows kStatusSending in status panel 0 and hands the frame unchanged to
    // the serial component. An empty frame (no protocol selected) is not
    // handed on and leaves the status alone: nothing was sent.
    void KELM_Uart_Send_String(const ByteString& Pbuf);

    // A finished frame that bypasses the codec (the scan's requests): handed
    // to the serial component as it is, with the status text left alone. An
    // empty frame is not handed on.
    void SendFrame(const ByteString& frame);

    // --- receiver and dispatcher -----------------------------------------------
    // The serial component's receive event. Ignored while a frame is being
    // handled (Recv_Flag); otherwise appends the bytes and (re)starts the
    // silence count. A null Buffer delivers nothing.
    void ksComm1AfterReceive(const std::uint8_t* Buffer, std::uint32_t Received);

    // Tick of Timer_com_rec: after 11 silent ticks the frame is complete and is
    // validated and dispatched.
    void Timer_com_recTimer();

    // Validates Recv_Str for the current protocol and routes it; always leaves
    // the receiver idle (Recv_Str empty, Recv_Flag false), also when a handler
    // throws.
    void Rec_Command_Event();

    // --- handler registration -------------------------------------------------
    // Registers the reply handler for one of kReplyHandlerNames
    // ("KELM_8I8T_Event" ...). Returns false for an unknown name. Replies routed
    // to a name without a handler are dropped, as for an unknown model. An
    // empty function unregisters.
    bool SetReplyHandler(std::string_view handlerName, ReplyHandler handler);
    // Disposal_Modbus03_Scandevice: identity replies during a scan.
    void SetScanHandler(FrameHandler handler);
    // Disposal_Modbus03_checkcom: the link check's broadcast reply.
    void SetCheckComHandler(FrameHandler handler);
    // Timer_check_slavecom, disabled just before the check-com handler runs.
    void SetCheckComTimer(ITimer* timer);

    // A client that carries requests of its own through the codec's send
    // path (the window's configuration transfer): while a tap is set, every
    // valid frame that is not a poll's goes to it instead of the dispatcher,
    // so no panel handler judges a reply to a request it did not make. The
    // observer hears of such a frame as routed to kReplyTapName. An empty
    // function removes the tap.
    void SetReplyTap(FrameHandler tap) { replyTap_ = std::move(tap); }
    bool HasReplyTap() const { return static_cast<bool>(replyTap_); }
    // The host's protocol index now (kProtocolRtu, kProtocolAscii, -1 none).
    int ProtocolIndex() const { return protocol_.ProtocolIndex(); }

    // Number of frames dropped by validation (length, check, protocol), and
    // number of valid frames no handler took; for diagnostics and tests.
    std::uint64_t DroppedFrames() const { return droppedFrames_; }
    std::uint64_t UnroutedFrames() const { return unroutedFrames_; }

    // --- watching the line ----------------------------------------------------
    // Attaches the observer told about every frame sent and received (one at
    // a time; nullptr detaches). It must stay alive while attached.
    void SetFrameObserver(IFrameObserver* observer) { observer_ = observer; }
    IFrameObserver* FrameObserver() const { return observer_; }
    // The most recent request: its address and function code, and the
    // current Modbus_Reg_Addr. The codec records them with Modbus_Reg_Addr;
    // frames handed on finished (scan, link check) are read for them.
    RequestRef LastRequest() const {
        RequestRef r = lastRequest_;
        r.regAddr = state_.Modbus_Reg_Addr;
        return r;
    }
    // A panel's reply table reports which row took the reply being handled;
    // the master numbers it with that frame and passes it on. Panels call it
    // only while an observer is attached (building the row's key costs).
    void ReportReplyRow(ReplyRowInfo info);

    // --- the poll conversation (PollConversation.h) -----------------------------
    // Attaches the poller and the timer that bounds each conversation while
    // it is attached (nullptr detaches; both must outlive the attachment).
    // Detaching ends a poll in flight without telling the client and sends
    // any held user request at once.
    void AttachPoller(IPollClient* client, ITimer* lineTimer);
    IPollClient* Poller() const { return poller_; }
    // How long a request may wait for its reply before the line counts as
    // free again (the end-of-frame silence included). A reply still arriving
    // when the time is up is awaited.
    void SetReplyTimeoutMs(int ms);
    int ReplyTimeoutMs() const { return replyTimeoutMs_; }
    LineState Line() const { return line_; }
    // Sends a poll request to request.address, built in the current protocol
    // (the master state, Modbus_Reg_Addr included, is left alone). Returns
    // false, sending nothing, with no poller attached, with the line busy or
    // user requests held, for a function code other than 1 to 4, or with no
    // protocol selected.
    bool SendPoll(const PollRequest& request);
    // User requests held for a conversation on the line (counted once each),
    // and poll replies dropped as late.
    std::uint64_t HeldUserRequests() const { return heldCount_; }
    std::uint64_t LatePollReplies() const { return latePolls_; }

  private:
    void Dispatch(const ByteString& pbuf);
    // One frame to the sink: status text (codec and link check only), the
    // observer, SendString. Nothing happens for an empty frame.
    void Transmit(const ByteString& frame, int protocolIndex, bool showStatus);
    void ReportSent(const ByteString& frame, int protocolIndex, const RequestRef& request);
    // Hands a frame on now: status text, observer, SendString.
    void SendNow(const ByteString& frame, int protocolIndex, bool showStatus,
                 const RequestRef& request);
    void ReportReceived(ReceiveVerdict verdict, std::string_view handler, const Frame* pbuf,
                        const RequestRef* judgedAgainst = nullptr);
    void RecCommandEventInner();
    // Poll conversation: takes a valid frame that belongs to a poll; true
    // when it did (the dispatcher must not see it).
    bool TakePollFrame(const ByteString& pbuf);
    void MirrorToPanel(const PollRequest& request, const Frame& frame);
    // After each complete frame and each time-out: frees the line, sends what
    // was held or tells the poller.
    void LineAfterFrame(bool validFrame);
    void LineTimerTick();
    void LineBecameFree();
    void StartLineTimer();
    void ReportWhileHandling(const std::uint8_t* Buffer, std::uint32_t Received);
    // Address and function code of a finished frame, for LastRequest().
    void RecordRequestOf(const ByteString& frame, int protocolIndex);

    MasterState state_;
    IFrameSink& sink_;
    IStatusText& status_;
    IHostProtocol& protocol_;
    ITimer& recTimer_;
    ITimer* checkComTimer_ = nullptr;
    std::unordered_map<std::string_view, ReplyHandler> replyHandlers_;
    FrameHandler scanHandler_;
    FrameHandler checkComHandler_;
    FrameHandler replyTap_;
    std::uint64_t droppedFrames_ = 0;
    std::uint64_t unroutedFrames_ = 0;

    IFrameObserver* observer_ = nullptr;
    RequestRef lastRequest_;
    // Bytes delivered for the frame being collected, including those the
    // buffer's limit did not keep.
    std::size_t recvArrived_ = 0;
    // Protocol the frame being judged was checked in, for the observer.
    int judgedProtocol_ = -1;
    std::uint64_t receivedSeq_ = 0;
    std::uint64_t handlingSeq_ = 0;

    // Poll conversation; all unused while poller_ is null.
    struct HeldSend {
        ByteString frame;
        int protocolIndex = -1;
        bool showStatus = false;
        RequestRef request;
    };
    IPollClient* poller_ = nullptr;
    ITimer* lineTimer_ = nullptr;
    int replyTimeoutMs_ = 500;
    LineState line_ = LineState::Free;
    PollRequest poll_;  // the poll on the line while line_ is Poll
    // What the frame being handled did to the conversation on the line.
    enum class FrameEffect : std::uint8_t { None, PollAnswered, PollBad, Late, Other };
    FrameEffect frameEffect_ = FrameEffect::None;
    // User requests waiting for the poll on the line, in the order made.
    std::deque<HeldSend> held_;
    // Polls whose time ran out, newest last: a late reply to one is dropped.
    std::deque<PollRequest> stalePolls_;
    RequestRef lastUserRequest_;  // the user's request on the line, or the last one
    std::uint64_t heldCount_ = 0;
    // A request went out and no frame has completed since: when a poller
    // attaches, that request's reply may still be coming.
    bool awaitingSinceSend_ = false;
    std::uint64_t latePolls_ = 0;
};

}  // namespace kelm
