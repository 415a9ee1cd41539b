#include "modbus/ModbusMaster.h"

#include <algorithm>
#include <string>

#include "modbus/Checks.h"
#include "modbus/Models.h"

namespace kelm {

namespace {

int HexDigitValue(std::uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

ReceiveVerdict VerdictOf(AsciiFault fault) {
    switch (fault) {
        case AsciiFault::TooShort:
            return ReceiveVerdict::TooShort;
        case AsciiFault::OddLength:
            return ReceiveVerdict::OddLength;
        case AsciiFault::NotHex:
            return ReceiveVerdict::NotHex;
        case AsciiFault::LrcMismatch:
        case AsciiFault::None:
            break;
    }
    return ReceiveVerdict::LrcMismatch;
}

// Byte count of a good reply to a poll (reads only).
std::uint8_t ExpectedByteCount(const PollRequest& r) {
    if (r.functionCode == 1 || r.functionCode == 2)
        return static_cast<std::uint8_t>((r.quantity + 7) / 8);
    return static_cast<std::uint8_t>(r.quantity * 2);
}

RequestRef RefOf(const PollRequest& r) {
    return RequestRef{true, r.address, r.functionCode, r.regAddr};
}

// Stale polls remembered for their late replies; older ones are forgotten.
constexpr std::size_t kStalePollsKept = 8;

int ProtocolOfText(const std::string& text) {
    if (text == "RTU") return kProtocolRtu;
    if (text == "ASCII") return kProtocolAscii;
    return -1;
}

}  // namespace

ModbusMaster::ModbusMaster(IFrameSink& sink, IStatusText& status, IHostProtocol& protocol,
                           ITimer& Timer_com_rec)
    : sink_(sink), status_(status), protocol_(protocol), recTimer_(Timer_com_rec) {
    recTimer_.SetInterval(kRecvTimerIntervalMs);
    recTimer_.SetEnabled(false);
    recTimer_.SetOnTimer([this] { Timer_com_recTimer(); });
}

ModbusMaster::~ModbusMaster() {
    // The timers may outlive us; they must not call back into a dead master.
    recTimer_.SetEnabled(false);
    recTimer_.SetOnTimer({});
    if (lineTimer_ != nullptr) {
        lineTimer_->SetEnabled(false);
        lineTimer_->SetOnTimer({});
    }
}

// ---------------------------------------------------------------------------
// Codec

void ModbusMaster::Modbus_Send_oneWord(std::uint8_t Code, std::uint16_t reg_addr,
                                       std::uint16_t reg_data) {
    // Recorded first and for every code: the reply is read against it.
    state_.Modbus_Reg_Addr = reg_addr;
    lastRequest_ = RequestRef{true, state_.Node_Device_ID, Code, reg_addr};
    const ByteString body = OneWordBody(state_.Node_Device_ID, Code, reg_addr, reg_data);
    const int protocolIndex = protocol_.ProtocolIndex();
    Transmit(FrameForProtocol(body, protocolIndex), protocolIndex, true);
}

bool ModbusMaster::Modbus_Send_Buf(std::uint8_t Code, std::uint16_t reg_addr, std::uint8_t reg_num,
                                   std::uint8_t buf_num, const std::uint8_t* pbuf) {
    if (Code != 15 && Code != 16) return false;
    if (buf_num > 0 && pbuf == nullptr) return false;
    state_.Modbus_Reg_Addr = reg_addr;
    lastRequest_ = RequestRef{true, state_.Node_Device_ID, Code, reg_addr};

    ByteString body;
    body.reserve(7u + buf_num);
    body = {state_.Node_Device_ID,
            Code,
            static_cast<std::uint8_t>(reg_addr >> 8),
            static_cast<std::uint8_t>(reg_addr & 0xFF),
            0x00,
            reg_num,
            buf_num};
    if (buf_num > 0) body.insert(body.end(), pbuf, pbuf + buf_num);
    const int protocolIndex = protocol_.ProtocolIndex();
    const ByteString frame = FrameForProtocol(body, protocolIndex);
    Transmit(frame, protocolIndex, true);
    return !frame.empty();
}

bool ModbusMaster::Modbus_Send_Buf(std::uint8_t Code, std::uint16_t reg_addr, std::uint8_t reg_num,
                                   std::uint8_t buf_num, const ByteString& pbuf) {
    // Sending fewer data bytes than announced, or padding them, would put a
    // request on the line the caller never meant.
    if (pbuf.size() < buf_num) return false;
    return Modbus_Send_Buf(Code, reg_addr, reg_num, buf_num, pbuf.data());
}

void ModbusMaster::KELM_Uart_Send_String(const ByteString& Pbuf) {
    if (Pbuf.empty()) return;
    const int protocolIndex = protocol_.ProtocolIndex();
    RecordRequestOf(Pbuf, protocolIndex);
    Transmit(Pbuf, protocolIndex, true);
}

void ModbusMaster::SendFrame(const ByteString& frame) {
    if (frame.empty()) return;
    const int protocolIndex = protocol_.ProtocolIndex();
    RecordRequestOf(frame, protocolIndex);
    Transmit(frame, protocolIndex, false);
}

void ModbusMaster::Transmit(const ByteString& frame, int protocolIndex, bool showStatus) {
    // No protocol selected: nothing goes out, so do not claim a request is
    // under way.
    if (frame.empty()) return;
    const RequestRef request = LastRequest();
    awaitingSinceSend_ = true;
    if (poller_ != nullptr) {
        // Another request is on the line: its reply would collide with this
        // one's. The request waits its turn; until it goes, replies are still
        // read against the user's request on the line (the codec has already
        // recorded the new one: put the one on the line back).
        if (line_ != LineState::Free || !held_.empty()) {
            held_.push_back(HeldSend{frame, protocolIndex, showStatus, request});
            ++heldCount_;
            lastRequest_ = lastUserRequest_;
            state_.Modbus_Reg_Addr = lastUserRequest_.regAddr;
            return;
        }
        lastUserRequest_ = request;
        line_ = LineState::User;
        StartLineTimer();
    }
    SendNow(frame, protocolIndex, showStatus, request);
}

void ModbusMaster::SendNow(const ByteString& frame, int protocolIndex, bool showStatus,
                           const RequestRef& request) {
    if (showStatus) status_.SetStatusText(kStatusPanelLink, std::string(kStatusSending));
    // Told before the bytes go, so that a reply can never be seen before its
    // request.
    if (observer_ != nullptr) ReportSent(frame, protocolIndex, request);
    sink_.SendString(frame);
}

void ModbusMaster::RecordRequestOf(const ByteString& frame, int protocolIndex) {
    // The frame's own address and function code; the caller has set
    // Modbus_Reg_Addr for it already.
    if (protocolIndex == kProtocolAscii) {
        if (frame.size() < 5) return;
        int digits[4];
        for (int i = 0; i < 4; ++i) {
            digits[i] = HexDigitValue(frame[1 + i]);
            if (digits[i] < 0) return;
        }
        lastRequest_ = RequestRef{true, static_cast<std::uint8_t>(digits[0] << 4 | digits[1]),
                                  static_cast<std::uint8_t>(digits[2] << 4 | digits[3]), 0};
    } else {
        if (frame.size() < 2) return;
        lastRequest_ = RequestRef{true, frame[0], frame[1], 0};
    }
}

// ---------------------------------------------------------------------------
// Receiver

void ModbusMaster::ksComm1AfterReceive(const std::uint8_t* Buffer, std::uint32_t Received) {
    // A frame is being handled (a handler's modal box keeps the message loop
    // running): these bytes cannot belong to a frame we can still judge.
    if (state_.Recv_Flag) {
        if (observer_ != nullptr) ReportWhileHandling(Buffer, Received);
        return;
    }
    state_.Recv_Timer_Count = 0;
    if (Buffer != nullptr && Received > 0) {
        recvArrived_ += Received;
        // A frame longer than kMaxReplyLength is dropped whatever follows, so
        // one byte over the limit is all that needs keeping; a babbling line
        // cannot grow the buffer without bound.
        const std::size_t room =
            kMaxReplyLength + 1 - std::min(state_.Recv_Str.size(), kMaxReplyLength + 1);
        const std::size_t take = std::min<std::size_t>(room, Received);
        state_.Recv_Str.insert(state_.Recv_Str.end(), Buffer, Buffer + take);
    }
    recTimer_.SetEnabled(true);
}

void ModbusMaster::Timer_com_recTimer() {
    ++state_.Recv_Timer_Count;
    if (state_.Recv_Timer_Count > kRecvSilentTicks) {
        recTimer_.SetEnabled(false);
        state_.Recv_Timer_Count = 0;
        state_.Recv_Flag = true;
        Rec_Command_Event();
    }
}

void ModbusMaster::Rec_Command_Event() {
    if (poller_ == nullptr) {
        RecCommandEventInner();
        return;
    }
    frameEffect_ = FrameEffect::None;
    try {
        RecCommandEventInner();
    } catch (...) {
        LineAfterFrame(false);
        throw;
    }
    LineAfterFrame(true);
}

void ModbusMaster::RecCommandEventInner() {
    awaitingSinceSend_ = false;
    // Whatever happens below (dropped, handled, unrouted, a handler throwing),
    // the receiver ends idle; a stuck Recv_Flag would deafen it for good.
    struct BackToIdle {
        ModbusMaster& m;
        ~BackToIdle() {
            m.state_.Recv_Str.clear();
            m.state_.Recv_Flag = false;
            m.recvArrived_ = 0;
        }
    } backToIdle{*this};

    const std::size_t N = state_.Recv_Str.size();
    if (N < kMinReplyLength || N > kMaxReplyLength) {
        ++droppedFrames_;
        frameEffect_ = FrameEffect::PollBad;
        if (observer_ != nullptr) {
            judgedProtocol_ = ProtocolOfText(protocol_.ProtocolText());
            ReportReceived(N < kMinReplyLength ? ReceiveVerdict::TooShort : ReceiveVerdict::TooLong,
                           {}, nullptr);
        }
        return;
    }

    std::optional<ByteString> pbuf;
    const std::string protocol = protocol_.ProtocolText();
    if (protocol == "RTU") {
        judgedProtocol_ = kProtocolRtu;
        pbuf = CheckRtuFrame(state_.Recv_Str);
    } else if (protocol == "ASCII") {
        judgedProtocol_ = kProtocolAscii;
        pbuf = DecodeAsciiFrame(state_.Recv_Str);
    } else {
        judgedProtocol_ = -1;
    }
    // With no protocol selected there is no check to pass, so nothing is
    // trusted either.
    if (!pbuf) {
        ++droppedFrames_;
        frameEffect_ = FrameEffect::PollBad;
        if (observer_ != nullptr) {
            const ReceiveVerdict why = judgedProtocol_ == kProtocolRtu ? ReceiveVerdict::CrcMismatch
                                       : judgedProtocol_ == kProtocolAscii
                                           ? VerdictOf(AsciiFrameFault(state_.Recv_Str))
                                           : ReceiveVerdict::NoProtocol;
            ReportReceived(why, {}, nullptr);
        }
        return;
    }

    status_.SetStatusText(kStatusPanelLink, std::string(kStatusReplyOk));
    if (poller_ != nullptr) {
        frameEffect_ = FrameEffect::Other;
        if (TakePollFrame(*pbuf)) return;
    }
    if (replyTap_) {
        // Through a copy: the tap may remove itself.
        FrameHandler tap = replyTap_;
        const Frame frame(*pbuf);
        if (observer_ != nullptr) ReportReceived(ReceiveVerdict::ToModel, kReplyTapName, &frame);
        tap(frame);
        return;
    }
    Dispatch(*pbuf);
}

// ---------------------------------------------------------------------------
// Dispatcher

void ModbusMaster::Dispatch(const ByteString& bytes) {
    const Frame frame(bytes);
    const std::uint8_t address = frame[0];
    const std::uint8_t command = frame[1];
    const std::uint8_t byteCount = frame[2];

    // Handlers are called through copies: a handler that re-registers (or
    // clears) its own slot must not destroy the function it is running in.
    // The observer hears of a frame before its handler runs, so that a reply
    // row reported from inside the handler belongs to a frame already shown.
    if (state_.Scan_Device_Flag && state_.Modbus_Reg_Addr == 0 && command == 3 && byteCount == 6) {
        if (FrameHandler h = scanHandler_) {
            if (observer_ != nullptr)
                ReportReceived(ReceiveVerdict::ToScan, kScanHandlerName, &frame);
            h(frame);
        } else {
            ++unroutedFrames_;
            if (observer_ != nullptr)
                ReportReceived(ReceiveVerdict::NoHandler, kScanHandlerName, &frame);
        }
        return;
    }
    if (address == 0) {
        if (command == 3 && state_.Modbus_Reg_Addr == 3 && byteCount == 6) {
            if (checkComTimer_ != nullptr) checkComTimer_->SetEnabled(false);
            if (FrameHandler h = checkComHandler_) {
                if (observer_ != nullptr)
                    ReportReceived(ReceiveVerdict::ToCheckCom, kCheckComHandlerName, &frame);
                h(frame);
                return;
            }
            ++unroutedFrames_;
            if (observer_ != nullptr)
                ReportReceived(ReceiveVerdict::NoHandler, kCheckComHandlerName, &frame);
            return;
        }
        ++unroutedFrames_;
        if (observer_ != nullptr) ReportReceived(ReceiveVerdict::BroadcastNotCheck, {}, &frame);
        return;
    }
    if (address == state_.Node_Device_ID) {
        const ModelInfo* model = FindModelByName(state_.Node_Device_Name);
        if (model != nullptr) {
            const auto it = replyHandlers_.find(model->replyHandler);
            if (it != replyHandlers_.end() && it->second) {
                ReplyHandler h = it->second;
                if (observer_ != nullptr)
                    ReportReceived(ReceiveVerdict::ToModel, model->replyHandler, &frame);
                h(command, frame);
                return;
            }
        }
        ++unroutedFrames_;
        if (observer_ != nullptr)
            ReportReceived(ReceiveVerdict::NoHandler,
                           model != nullptr ? model->replyHandler : std::string_view{}, &frame);
        return;
    }
    ++unroutedFrames_;
    if (observer_ != nullptr) ReportReceived(ReceiveVerdict::OtherAddress, {}, &frame);
}

// ---------------------------------------------------------------------------
// Observer reports. The observer only watches: an exception from it must not
// keep a frame from its handler or the receiver from going idle.

void ModbusMaster::ReportSent(const ByteString& frame, int protocolIndex,
                              const RequestRef& request) {
    SentFrameInfo info;
    info.frame = frame;
    info.protocol = protocolIndex;
    info.request = request;
    try {
        observer_->OnFrameSent(info);
    } catch (...) {
    }
}

void ModbusMaster::ReportReceived(ReceiveVerdict verdict, std::string_view handler,
                                  const Frame* pbuf, const RequestRef* judgedAgainst) {
    ReceivedFrameInfo info;
    info.seq = ++receivedSeq_;
    handlingSeq_ = info.seq;
    info.bytes = state_.Recv_Str;
    info.arrived = std::max(recvArrived_, state_.Recv_Str.size());
    info.protocol = judgedProtocol_;
    info.verdict = verdict;
    info.handler = handler;
    if (pbuf != nullptr) info.pbuf = pbuf->bytes();
    info.selectedAddress = state_.Node_Device_ID;
    info.selectedModel = state_.Node_Device_Name;
    info.request = judgedAgainst != nullptr ? *judgedAgainst : LastRequest();
    try {
        observer_->OnFrameReceived(info);
    } catch (...) {
    }
}

void ModbusMaster::ReportWhileHandling(const std::uint8_t* Buffer, std::uint32_t Received) {
    if (Buffer == nullptr || Received == 0) return;
    ReceivedFrameInfo info;
    // Numbered, but the frame being handled stays the one its rows belong to.
    info.seq = ++receivedSeq_;
    info.bytes = std::span<const std::uint8_t>(Buffer, Received);
    info.arrived = Received;
    info.protocol = ProtocolOfText(protocol_.ProtocolText());
    info.verdict = ReceiveVerdict::WhileHandling;
    info.selectedAddress = state_.Node_Device_ID;
    info.selectedModel = state_.Node_Device_Name;
    info.request = LastRequest();
    try {
        observer_->OnFrameReceived(info);
    } catch (...) {
    }
}

void ModbusMaster::ReportReplyRow(ReplyRowInfo info) {
    if (observer_ == nullptr) return;
    info.seq = handlingSeq_;
    try {
        observer_->OnReplyRow(info);
    } catch (...) {
    }
}

// ---------------------------------------------------------------------------
// Poll conversation

void ModbusMaster::AttachPoller(IPollClient* client, ITimer* lineTimer) {
    if (lineTimer_ != nullptr) {
        lineTimer_->SetEnabled(false);
        lineTimer_->SetOnTimer({});
    }
    poller_ = client;
    lineTimer_ = client != nullptr ? lineTimer : nullptr;
    if (poller_ != nullptr && lineTimer_ == nullptr) poller_ = nullptr;  // no gate without a clock
    line_ = LineState::Free;
    stalePolls_.clear();
    lastUserRequest_ = LastRequest();
    if (lineTimer_ != nullptr) {
        lineTimer_->SetEnabled(false);
        lineTimer_->SetInterval(replyTimeoutMs_);
        lineTimer_->SetOnTimer([this] { LineTimerTick(); });
    }
    // Nothing may stay held once the gate is gone (or replaced).
    auto held = std::move(held_);
    held_.clear();
    for (const HeldSend& h : held) SendNow(h.frame, h.protocolIndex, h.showStatus, h.request);
    // A user's request may be on the line already: give its reply its time.
    if (poller_ != nullptr && (awaitingSinceSend_ || !held.empty())) {
        line_ = LineState::User;
        StartLineTimer();
    }
}

void ModbusMaster::SetReplyTimeoutMs(int ms) {
    replyTimeoutMs_ = std::max(ms, 1);
    if (lineTimer_ != nullptr) lineTimer_->SetInterval(replyTimeoutMs_);
}

void ModbusMaster::StartLineTimer() {
    if (lineTimer_ == nullptr) return;
    // Restarted, so each conversation gets its full time.
    lineTimer_->SetEnabled(false);
    lineTimer_->SetInterval(replyTimeoutMs_);
    lineTimer_->SetEnabled(true);
}

bool ModbusMaster::SendPoll(const PollRequest& request) {
    if (poller_ == nullptr || line_ != LineState::Free || !held_.empty()) return false;
    if (request.functionCode < 1 || request.functionCode > 4) return false;
    const int protocolIndex = protocol_.ProtocolIndex();
    const ByteString frame = FrameForProtocol(
        OneWordBody(request.address, request.functionCode, request.regAddr, request.quantity),
        protocolIndex);
    if (frame.empty()) return false;
    poll_ = request;
    line_ = LineState::Poll;
    StartLineTimer();
    if (observer_ != nullptr) ReportSent(frame, protocolIndex, RefOf(request));
    sink_.SendString(frame);
    return true;
}

bool ModbusMaster::TakePollFrame(const ByteString& bytes) {
    const Frame frame(bytes);
    const std::uint8_t address = frame[0];
    const std::uint8_t command = frame[1];
    const std::uint8_t byteCount = frame[2];
    auto answers = [&](const PollRequest& p) {
        if (address != p.address) return false;
        if (command == (p.functionCode | 0x80)) return true;
        return command == p.functionCode && byteCount == ExpectedByteCount(p);
    };
    if (line_ == LineState::Poll && answers(poll_)) {
        frameEffect_ = FrameEffect::PollAnswered;
        const PollRequest p = poll_;
        const RequestRef ref = RefOf(p);
        if (observer_ != nullptr)
            ReportReceived(ReceiveVerdict::ToPoll, kPollHandlerName, &frame, &ref);
        poller_->OnPollReply(p, frame);
        if (p.mirror && command == p.functionCode) MirrorToPanel(p, frame);
        return true;
    }
    // A late answer to a poll whose time ran out; unless it could just as well
    // answer the user's latest request, it answers nothing still open.
    const bool userMayOwn = lastUserRequest_.any && lastUserRequest_.address == address &&
                            (command & 0x7F) == lastUserRequest_.functionCode;
    if (userMayOwn) return false;
    for (auto it = stalePolls_.begin(); it != stalePolls_.end(); ++it) {
        if (!answers(*it)) continue;
        frameEffect_ = FrameEffect::Late;
        const RequestRef ref = RefOf(*it);
        stalePolls_.erase(it);
        ++latePolls_;
        ++unroutedFrames_;
        if (observer_ != nullptr)
            ReportReceived(ReceiveVerdict::LatePoll, kPollHandlerName, &frame, &ref);
        return true;
    }
    return false;
}

void ModbusMaster::MirrorToPanel(const PollRequest& request, const Frame& frame) {
    if (request.address != state_.Node_Device_ID || request.model != state_.Node_Device_Name)
        return;
    const ModelInfo* model = FindModelByName(state_.Node_Device_Name);
    if (model == nullptr) return;
    const auto it = replyHandlers_.find(model->replyHandler);
    if (it == replyHandlers_.end() || !it->second) return;
    ReplyHandler h = it->second;
    // The panel reads the reply against the request it answers; the user's
    // own request is the latest again afterwards.
    struct Restore {
        std::uint16_t& reg;
        std::uint16_t saved;
        ~Restore() { reg = saved; }
    } restore{state_.Modbus_Reg_Addr, state_.Modbus_Reg_Addr};
    state_.Modbus_Reg_Addr = request.regAddr;
    h(frame[1], frame);
}

void ModbusMaster::LineAfterFrame(bool /*handled*/) {
    if (poller_ == nullptr) return;
    const FrameEffect effect = frameEffect_;
    frameEffect_ = FrameEffect::None;
    switch (line_) {
        case LineState::Free:
            return;
        case LineState::Poll:
            if (effect == FrameEffect::PollAnswered) break;
            if (effect == FrameEffect::PollBad) {
                const PollRequest p = poll_;
                line_ = LineState::Free;
                if (lineTimer_ != nullptr) lineTimer_->SetEnabled(false);
                poller_->OnPollFailed(p, PollFailure::BadReply);
                if (line_ != LineState::Free) return;
                break;
            }
            // Another party's frame (a late user reply, a late poll reply):
            // the poll still waits for its own.
            return;
        case LineState::User:
            if (effect == FrameEffect::Late) return;
            // A follow-up a handler sent (a write's echo that reads back)
            // was held and goes out next.
            break;
    }
    line_ = LineState::Free;
    LineBecameFree();
}

void ModbusMaster::LineTimerTick() {
    if (poller_ == nullptr || lineTimer_ == nullptr) return;
    // A reply still arriving, or being handled (a handler's message box):
    // the conversation is not over yet.
    if (!state_.Recv_Str.empty() || state_.Recv_Flag || recTimer_.Enabled()) return;
    lineTimer_->SetEnabled(false);
    if (line_ == LineState::Poll) {
        const PollRequest p = poll_;
        stalePolls_.push_back(p);
        while (stalePolls_.size() > kStalePollsKept) stalePolls_.pop_front();
        line_ = LineState::Free;
        poller_->OnPollFailed(p, PollFailure::NoReply);
        if (poller_ == nullptr || line_ != LineState::Free) return;
    }
    line_ = LineState::Free;
    LineBecameFree();
}

void ModbusMaster::LineBecameFree() {
    if (lineTimer_ != nullptr) lineTimer_->SetEnabled(false);
    if (!held_.empty()) {
        // The user's requests go out one at a time, in the order they were
        // made, each read against its own start register; the poller waits
        // until the last one's conversation has ended.
        const HeldSend h = std::move(held_.front());
        held_.pop_front();
        line_ = LineState::User;
        StartLineTimer();
        lastRequest_ = h.request;
        lastUserRequest_ = h.request;
        state_.Modbus_Reg_Addr = h.request.regAddr;
        SendNow(h.frame, h.protocolIndex, h.showStatus, h.request);
        return;
    }
    if (poller_ != nullptr) poller_->OnLineFree();
}

// ---------------------------------------------------------------------------
// Registration

bool ModbusMaster::SetReplyHandler(std::string_view handlerName, ReplyHandler handler) {
    for (std::string_view known : kReplyHandlerNames) {
        if (known == handlerName) {
            // Keyed by the table's own string, which lives for the program.
            replyHandlers_[known] = std::move(handler);
            return true;
        }
    }
    return false;
}

void ModbusMaster::SetScanHandler(FrameHandler handler) {
    scanHandler_ = std::move(handler);
}

void ModbusMaster::SetCheckComHandler(FrameHandler handler) {
    checkComHandler_ = std::move(handler);
}

void ModbusMaster::SetCheckComTimer(ITimer* timer) {
    checkComTimer_ = timer;
}

}  // namespace kelm
