#include "modbus/ModbusMaster.h"

#include <algorithm>
#include <string>

#include "modbus/Checks.h"
#include "modbus/Models.h"

namespace kelm {

ModbusMaster::ModbusMaster(IFrameSink& sink, IStatusText& status, IHostProtocol& protocol,
                           ITimer& Timer_com_rec)
    : sink_(sink), status_(status), protocol_(protocol), recTimer_(Timer_com_rec) {
    recTimer_.SetInterval(kRecvTimerIntervalMs);
    recTimer_.SetEnabled(false);
    recTimer_.SetOnTimer([this] { Timer_com_recTimer(); });
}

ModbusMaster::~ModbusMaster() {
    // The timer may outlive us; it must not call back into a dead master.
    recTimer_.SetEnabled(false);
    recTimer_.SetOnTimer({});
}

// ---------------------------------------------------------------------------
// Codec

void ModbusMaster::Modbus_Send_oneWord(std::uint8_t Code, std::uint16_t reg_addr,
                                       std::uint16_t reg_data) {
    // Recorded first and for every code: the reply is read against it.
    state_.Modbus_Reg_Addr = reg_addr;
    const ByteString body = OneWordBody(state_.Node_Device_ID, Code, reg_addr, reg_data);
    KELM_Uart_Send_String(FrameForProtocol(body, protocol_.ProtocolIndex()));
}

bool ModbusMaster::Modbus_Send_Buf(std::uint8_t Code, std::uint16_t reg_addr, std::uint8_t reg_num,
                                   std::uint8_t buf_num, const std::uint8_t* pbuf) {
    if (Code != 15 && Code != 16) return false;
    if (buf_num > 0 && pbuf == nullptr) return false;
    state_.Modbus_Reg_Addr = reg_addr;

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
    const ByteString frame = FrameForProtocol(body, protocol_.ProtocolIndex());
    KELM_Uart_Send_String(frame);
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
    // No protocol selected: nothing goes out, so do not claim a request is
    // under way.
    if (Pbuf.empty()) return;
    status_.SetStatusText(kStatusPanelLink, std::string(kStatusSending));
    sink_.SendString(Pbuf);
}

// ---------------------------------------------------------------------------
// Receiver

void ModbusMaster::ksComm1AfterReceive(const std::uint8_t* Buffer, std::uint32_t Received) {
    // A frame is being handled (a handler's modal box keeps the message loop
    // running): these bytes cannot belong to a frame we can still judge.
    if (state_.Recv_Flag) return;
    state_.Recv_Timer_Count = 0;
    if (Buffer != nullptr && Received > 0) {
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
    // Whatever happens below (dropped, handled, unrouted, a handler throwing),
    // the receiver ends idle; a stuck Recv_Flag would deafen it for good.
    struct BackToIdle {
        MasterState& s;
        ~BackToIdle() {
            s.Recv_Str.clear();
            s.Recv_Flag = false;
        }
    } backToIdle{state_};

    const std::size_t N = state_.Recv_Str.size();
    if (N < kMinReplyLength || N > kMaxReplyLength) {
        ++droppedFrames_;
        return;
    }

    std::optional<ByteString> pbuf;
    const std::string protocol = protocol_.ProtocolText();
    if (protocol == "RTU") {
        pbuf = CheckRtuFrame(state_.Recv_Str);
    } else if (protocol == "ASCII") {
        pbuf = DecodeAsciiFrame(state_.Recv_Str);
    }
    // With no protocol selected there is no check to pass, so nothing is
    // trusted either.
    if (!pbuf) {
        ++droppedFrames_;
        return;
    }

    status_.SetStatusText(kStatusPanelLink, std::string(kStatusReplyOk));
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
    if (state_.Scan_Device_Flag && state_.Modbus_Reg_Addr == 0 && command == 3 && byteCount == 6) {
        if (FrameHandler h = scanHandler_) {
            h(frame);
        } else {
            ++unroutedFrames_;
        }
        return;
    }
    if (address == 0) {
        if (command == 3 && state_.Modbus_Reg_Addr == 3 && byteCount == 6) {
            if (checkComTimer_ != nullptr) checkComTimer_->SetEnabled(false);
            if (FrameHandler h = checkComHandler_) {
                h(frame);
                return;
            }
        }
        ++unroutedFrames_;
        return;
    }
    if (address == state_.Node_Device_ID) {
        if (const ModelInfo* model = FindModelByName(state_.Node_Device_Name)) {
            const auto it = replyHandlers_.find(model->replyHandler);
            if (it != replyHandlers_.end() && it->second) {
                ReplyHandler h = it->second;
                h(command, frame);
                return;
            }
        }
    }
    ++unroutedFrames_;
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
