// Line control and port utilities of the serial component: direct reads,
// modem lines, polling waits, the configuration dialog, reading the
// configuration back, and handle adoption. The configuration record and the
// device identification exchange are in ksLineUtilsConfig.cpp.
//
// All of these belong to the GUI thread, like the component's other public
// operations. They take fLock only around state they read or change, never
// across a wait: the waits let the GUI thread run receive processing, which
// takes the lock itself.
#include <chrono>
#include <thread>

#include "serial/ksComm.h"

namespace kelm {

void TksCustomComm::Read(uint8_t* Buffer, uint32_t Len) {
    if (Buffer == nullptr || Len == 0 || !IsHandleValid()) return;
    uint32_t got = 0;
    fDevice->Read(Buffer, Len, &got);  // a failing direct read is not reported
}

void TksCustomComm::ReadAll(uint8_t* Buffer) {
    Read(Buffer, ReadyForRead());
}

int TksCustomComm::ReadMax(uint8_t* Buffer, int MaxLen) {
    if (Buffer == nullptr || MaxLen <= 0 || !IsHandleValid()) return 0;
    const uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(MaxLen), ReadyForRead());
    if (n == 0) return 0;
    uint32_t got = 0;
    fDevice->Read(Buffer, n, &got);
    // The count of bytes that really arrived in Buffer: a read cut short
    // must not make the caller take stale buffer contents for data.
    return static_cast<int>(got);
}

std::string TksCustomComm::ReadString() {
    std::string s(ReadyForRead(), '\0');
    if (!s.empty() && IsHandleValid()) {
        uint32_t got = 0;
        fDevice->Read(reinterpret_cast<uint8_t*>(s.data()), static_cast<uint32_t>(s.size()), &got);
        s.resize(got);
    }
    return s;
}

void TksCustomComm::FlushOutputBuffer() {
    if (!IsHandleValid()) return;
    fDevice->Flush();
}

void TksCustomComm::SetStateDTR(bool State) {
    if (!IsHandleValid()) return;
    // A tty without modem lines (a pseudo-terminal) refuses; the line then
    // reads as a device that does not answer.
    fDevice->Escape(State ? SETDTR : CLRDTR);
    DoTraceStates(this, TTraceStates{TTraceState::tsDSR});
}

void TksCustomComm::SetStateRTS(bool State) {
    if (!IsHandleValid()) return;
    fDevice->Escape(State ? SETRTS : CLRRTS);
    DoTraceStates(this, TTraceStates{TTraceState::tsCTS});
}

void TksCustomComm::SetStateX(bool State) {
    if (!IsHandleValid()) return;
    fDevice->Escape(State ? SETXON : SETXOFF);
}

void TksCustomComm::SetStateBreak(bool State) {
    if (!IsHandleValid()) return;
    fDevice->Escape(State ? SETBREAK : CLRBREAK);
}

namespace {

// Polls cond every 5 ms for up to ms milliseconds, letting the GUI thread's
// pending work run between tests (when the caller is the GUI thread of an
// executor), until cond holds (true) or the time is up or the port has
// closed (false). cond is tested once more after the last pause.
template <class Cond, class Open>
bool PollWait(IExecutor* executor, uint32_t ms, Cond cond, Open open) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    for (;;) {
        if (cond()) return true;
        if (!open() || Clock::now() - start >= std::chrono::milliseconds(ms)) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (executor && executor->IsGuiThread()) executor->ProcessEvents();
    }
}

}  // namespace

bool TksCustomComm::WaitForBytes(uint32_t Count, uint32_t Ms) {
    if (!IsHandleValid()) return false;
    const TTraceStates saved = TraceStates();
    SetTraceStates(TTraceStates(saved).Exclude(TTraceState::tsRxChar));
    bool ok = false;
    try {
        ok = PollWait(
            fExecutor, Ms, [&] { return ReadyForRead() >= Count; },
            [&] { return IsHandleValid(); });
    } catch (...) {
        SetTraceStates(saved);
        throw;
    }
    SetTraceStates(saved);
    return ok;
}

bool TksCustomComm::WaitForSignal(TModemSignal Signal, uint32_t Ms) {
    if (!IsHandleValid()) return false;
    return PollWait(
        fExecutor, Ms, [&] { return ModemSignals().Contains(Signal); },
        [&] { return IsHandleValid(); });
}

void TksCustomComm::DCBUpdate() {
    std::lock_guard lock(fLock);
    CommCfg.dwSize = sizeof(TCommConfig);
    CommCfg.dcb.DCBlength = sizeof(TDCB);
    if (IsHandleValid()) fDevice->ReadDcb(CommCfg.dcb);
    const uint32_t f = CommCfg.dcb.Flags;
    if ((f & dcbFlagProtocolXOnXOff) == dcbFlagProtocolXOnXOff) {
        fProtocol = TStreamProtocol::spXonXoff;
    } else if ((f & dcbFlagProtocolHardware) == dcbFlagProtocolHardware) {
        fProtocol = TStreamProtocol::spHardware;
    } else {
        fProtocol = TStreamProtocol::spNone;
    }
    fRS485Mode = (f & dcbFlagProtocolRS485) == dcbFlagProtocolRS485;
}

void TksCustomComm::ConfigDialog() {
    DCBUpdate();
    if (!fConfigDialog) {
        Logging(TDetailLevel::dlDetail, "No configuration dialog is registered");
        return;
    }
    TCommConfig edited;
    {
        std::lock_guard lock(fLock);
        edited = CommCfg;
    }
    // The dialog is modal and keeps the GUI thread's loop running: the lock
    // is not held while it is shown.
    if (!fConfigDialog(ComName(), edited)) return;  // cancelled: nothing changes
    {
        std::lock_guard lock(fLock);
        CommCfg.dcb = edited.dcb;
        CommCfg.dcb.DCBlength = sizeof(TDCB);
        if (IsHandleValid()) fDevice->ApplyDcb(CommCfg.dcb);
    }
    DCBUpdate();
}

void TksCustomSerialComm::SetExtHandle(TksHandle aHandle) {
    if (aHandle == 0 || aHandle == kInvalidHandle) return;
    if (Active()) SetActive(false);
    {
        std::lock_guard lock(fLock);
        fExtHandle = aHandle;
    }
    SetActive(true);
}

}  // namespace kelm
