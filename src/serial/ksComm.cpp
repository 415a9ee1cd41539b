#include "serial/ksComm.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace kelm {

namespace {
using Guard = std::lock_guard<std::recursive_mutex>;

// Marks the current thread as the one running receive processing, for as
// long as the scope lasts (scopes nest when a handler re-enters).
class ProcessingScope {
  public:
    explicit ProcessingScope(std::atomic<std::thread::id>& slot)
        : slot_(slot), previous_(slot.exchange(std::this_thread::get_id())) {}
    ~ProcessingScope() { slot_.store(previous_); }

  private:
    std::atomic<std::thread::id>& slot_;
    std::thread::id previous_;
};
}  // namespace

// ------------------------------------------------------------ TksCustomComm

TksCustomComm::TksCustomComm(IExecutor* executor) : TksCustomComm(executor, CreateSerialDevice()) {}

TksCustomComm::TksCustomComm(IExecutor* executor, std::unique_ptr<ISerialDevice> device)
    : TksBaseIO(executor),
      fDevice(std::move(device)),
      fAlive(std::make_shared<TksCustomComm*>(this)) {
    Stat = TComStat{};
    // Until a port tells otherwise the component drives RTS itself.
    fIsNotSupportRS485 = true;
    SetUseMainThread(true);
    fTraceStates = TTraceStates{};
    CommCfg.dwSize = sizeof(TCommConfig);
    CommCfg.dcb.DCBlength = sizeof(TDCB);
    fBufferInSize = 8192;
    fBufferOutSize = 8192;
}

TksCustomComm::~TksCustomComm() {
    ShutDown();
    fAlive.reset();
}

// ---- line settings

void TksCustomComm::DCBApply() {
    Guard g(fLock);
    TDCB& d = CommCfg.dcb;
    d.DCBlength = sizeof(TDCB);
    d.Flags &= dcbFlagProtocolCLEAR;
    if (fRS485Mode) {
        d.Flags |= dcbFlagProtocolRS485;
    } else {
        switch (fProtocol) {
            case TStreamProtocol::spNone:
                d.Flags |= dcbFlagProtocolNone;
                break;
            case TStreamProtocol::spXonXoff:
                d.Flags |= dcbFlagProtocolXOnXOff;
                break;
            case TStreamProtocol::spHardware:
                d.Flags |= dcbFlagProtocolHardware;
                break;
        }
    }
    d.XonLim = 80;
    d.XoffLim = 200;
    d.XonChar = 0x11;
    d.XoffChar = 0x13;
    if (Active()) {
        fDevice->ApplyDcb(d);  // like SetCommState, the result is not examined
        // A driver that refuses its RS-485 mode leaves the direction to us:
        // otherwise the transceiver would never get the line.
        if (!fIsNotSupportRS485 && !fDevice->SetRs485(fRS485Mode)) {
            fIsNotSupportRS485 = true;
            if (fRS485Mode) ApplyEventMask();  // with the transmit-empty event
        }
    }
}

uint32_t TksCustomComm::BaudRate() const {
    Guard g(fLock);
    return CommCfg.dcb.BaudRate;
}
void TksCustomComm::SetBaudRate(uint32_t Value) {
    Guard g(fLock);
    CommCfg.dcb.BaudRate = Value;
    DCBApply();
}
TParity TksCustomComm::Parity() const {
    Guard g(fLock);
    return static_cast<TParity>(CommCfg.dcb.Parity);
}
void TksCustomComm::SetParity(TParity Value) {
    Guard g(fLock);
    CommCfg.dcb.Parity = static_cast<uint8_t>(Value);
    if (Value != TParity::pNone)
        CommCfg.dcb.Flags |= DCB_fParity;
    else
        CommCfg.dcb.Flags &= ~DCB_fParity;
    DCBApply();
}
TStopBits TksCustomComm::StopBits() const {
    Guard g(fLock);
    return static_cast<TStopBits>(CommCfg.dcb.StopBits);
}
void TksCustomComm::SetStopBits(TStopBits Value) {
    Guard g(fLock);
    CommCfg.dcb.StopBits = static_cast<uint8_t>(Value);
    DCBApply();
}
uint8_t TksCustomComm::ByteSize() const {
    Guard g(fLock);
    return CommCfg.dcb.ByteSize;
}
void TksCustomComm::SetByteSize(uint8_t Value) {
    Guard g(fLock);
    CommCfg.dcb.ByteSize = (Value >= 4 && Value <= 8) ? Value : 8;
    DCBApply();
}
char TksCustomComm::EventChar() const {
    Guard g(fLock);
    return CommCfg.dcb.EvtChar;
}
void TksCustomComm::SetEventChar(char Value) {
    Guard g(fLock);
    CommCfg.dcb.EvtChar = Value;
    DCBApply();
}
TStreamProtocol TksCustomComm::StreamProtocol() const {
    Guard g(fLock);
    return fProtocol;
}
void TksCustomComm::SetStreamProtocol(TStreamProtocol Value) {
    Guard g(fLock);
    fProtocol = Value;
    DCBApply();
}
bool TksCustomComm::RS485Mode() const {
    Guard g(fLock);
    return fRS485Mode;
}
void TksCustomComm::SetRS485Mode(bool Value) {
    Guard g(fLock);
    fRS485Mode = Value;
    DCBApply();
    // The transmit-empty event belongs to the mask exactly while the
    // component drives RTS itself.
    if (Active()) ApplyEventMask();
}

// ---- trace states and modem lines

uint32_t TksCustomComm::BuildEventMask() const {
    uint32_t mask = EV_RXCHAR;
    for (unsigned i = 0; i <= static_cast<unsigned>(TTraceState::tsEvent2); ++i) {
        const auto s = static_cast<TTraceState>(i);
        if (fTraceStates.Contains(s)) mask |= TraceStateMask(s);
    }
    if (Rs485Emulated()) mask |= EV_TXEMPTY;
    return mask;
}

void TksCustomComm::ApplyEventMask() {
    fDevice->SetMask(BuildEventMask());
}

TTraceStates TksCustomComm::TraceStates() const {
    Guard g(fLock);
    return fTraceStates;
}

void TksCustomComm::SetTraceStates(TTraceStates Value) {
    Guard g(fLock);
    fTraceStates = Value;
    if (Active()) ApplyEventMask();
}

TModemSignals TksCustomComm::ModemSignals() {
    TModemSignals s;
    if (!IsHandleValid()) return s;
    uint32_t status = 0;
    if (!fDevice->ModemStatus(&status)) return s;
    if (status & MS_CTS_ON) s.Include(TModemSignal::msCTS);
    if (status & MS_DSR_ON) s.Include(TModemSignal::msDSR);
    if (status & MS_RING_ON) s.Include(TModemSignal::msRing);
    if (status & MS_RLSD_ON) s.Include(TModemSignal::msRLSD);
    return s;
}

void TksCustomComm::SetMonitor(TksComponent*& field, TksComponent* Value) {
    Guard g(fLock);
    field = Value;
    if (Value) FreeNotification(Value);
}

void TksCustomComm::SetMonitorChecked(TksComponent* control, bool value) {
    if (auto* c = dynamic_cast<IksCheckable*>(control)) c->SetChecked(value);
}

void TksCustomComm::DoTraceStates(TksBaseIO* Com, TTraceStates Event) {
    Guard g(fLock);
    const TModemSignals ms = ModemSignals();
    SetMonitorChecked(fMonitorCTS, ms.Contains(TModemSignal::msCTS));
    SetMonitorChecked(fMonitorDSR, ms.Contains(TModemSignal::msDSR));
    SetMonitorChecked(fMonitorRLSD, ms.Contains(TModemSignal::msRLSD));
    if (Event.Contains(TTraceState::tsRing)) SetMonitorChecked(fMonitorRing, true);
    if (fOnTraceState) fOnTraceState(Com, Event);
}

void TksCustomComm::Notification(TksComponent* AComponent, TOperation Operation) {
    if (Operation == TOperation::opRemove) {
        Guard g(fLock);
        for (TksComponent** m : {&fMonitorCTS, &fMonitorDSR, &fMonitorRLSD, &fMonitorRing})
            if (*m == AComponent) *m = nullptr;
    }
    TksBaseIO::Notification(AComponent, Operation);
}

// ---- buffers and time-outs

uint16_t TksCustomComm::BufferInSize() const {
    Guard g(fLock);
    return fBufferInSize;
}
void TksCustomComm::SetBufferInSize(uint16_t Value) {
    Guard g(fLock);
    if (Active()) fDevice->SetupQueues(Value, fBufferOutSize);
    fBufferInSize = Value;
}
uint16_t TksCustomComm::BufferOutSize() const {
    Guard g(fLock);
    return fBufferOutSize;
}
void TksCustomComm::SetBufferOutSize(uint16_t Value) {
    Guard g(fLock);
    if (Active()) fDevice->SetupQueues(fBufferInSize, Value);
    fBufferOutSize = Value;
}
uint32_t TksCustomComm::TimeoutRead() const {
    Guard g(fLock);
    return fCommTimeouts.ReadIntervalTimeout;
}
void TksCustomComm::SetTimeoutRead(uint32_t Value) {
    Guard g(fLock);
    fCommTimeouts.ReadIntervalTimeout = Value;
    if (Active()) fDevice->SetTimeouts(fCommTimeouts);
}
uint32_t TksCustomComm::TimeoutWrite() const {
    Guard g(fLock);
    return fCommTimeouts.WriteTotalTimeoutConstant;
}
void TksCustomComm::SetTimeoutWrite(uint32_t Value) {
    Guard g(fLock);
    fCommTimeouts.WriteTotalTimeoutConstant = Value;
    if (Active()) fDevice->SetTimeouts(fCommTimeouts);
}

uint32_t TksCustomComm::ReceiveBufferSize() const {
    Guard g(fLock);
    return static_cast<uint32_t>(glBuffer.size());
}

// ---- events

void TksCustomComm::SetOnAfterSend(TOnSent Value) {
    Guard g(fLock);
    fOnSent = std::move(Value);
}
void TksCustomComm::SetOnTraceState(TOnTraceEvent Value) {
    Guard g(fLock);
    fOnTraceState = std::move(Value);
}
void TksCustomComm::SetOnCommError(TOnCommErrorEvent Value) {
    Guard g(fLock);
    fOnCommError = std::move(Value);
}

// ---- queue state

uint32_t TksCustomComm::ReadyForRead() {
    if (!IsHandleValid()) return 0;
    uint32_t errors = 0;
    TComStat st;
    if (!fDevice->ClearError(&errors, &st)) return 0;
    return st.cbInQue;
}

uint32_t TksCustomComm::NotYetSend() {
    if (!IsHandleValid()) return 0;
    uint32_t errors = 0;
    TComStat st;
    if (!fDevice->ClearError(&errors, &st)) return 0;
    return st.cbOutQue;
}

const TCommProp* TksCustomComm::CommProp() {
    Guard g(fLock);
    if (IsHandleValid()) fDevice->Properties(&ComProp);
    return &ComProp;
}

uint32_t TksCustomComm::TotalReceived() const {
    Guard g(fLock);
    return fTotalReceived;
}

uint32_t TksCustomComm::TotalSent() const {
    Guard g(fLock);
    return fTotalSent;
}

std::string TksCustomComm::GetPortName() {
    return "Unknown";
}

// ---- sending

void TksCustomComm::Rs485RaiseRts() {
    fDevice->Escape(SETRTS);
}

void TksCustomComm::Rs485DropRts(bool drain) {
    // The last stop bit must be out of the shift register first, or the
    // transceiver cuts off the end of the frame.
    if (drain) fDevice->DrainTransmitter();
    Rs485DropRtsNow();
}

void TksCustomComm::Rs485DropRtsNow() {
    fDevice->Escape(CLRRTS);
}

bool TksCustomComm::IsLostPortError(int error) {
    return SerialErrors::IsLost(error);
}

bool TksCustomComm::WriteBytes(const uint8_t* data, uint32_t n, bool ahead) {
    const bool rs485 = Rs485Emulated();
    if (rs485) Rs485RaiseRts();
    uint32_t written = 0;
    int error = 0;
    bool ok = false;
    if (ahead) {
        ok = fDevice->TransmitChar(*data);
        written = ok ? 1 : 0;
        if (!ok) error = fDevice->LastError();
    } else {
        ok = fDevice->Write(data, n, &written, &error);
    }
    if (written > 0) fDevice->NoteTransmit();
    // The transceiver must listen again as soon as the last stop bit is
    // out: a slave answers within a few character times, long before the
    // transmit-empty event could reach the GUI thread.
    if (ok && rs485) Rs485DropRts(true);
    if (ok) {
        fTotalSent += n;
        return true;
    }
    DoCommError(0, static_cast<uint32_t>(error), 0);
    // The device has gone (an unplugged adaptor answers writes with EIO or
    // ENXIO, or on Windows with ERROR_ACCESS_DENIED and its kin): the port is lost, as when the
    // event wait finds it hung up.
    if (IsLostPortError(error)) {
        ForceHalt(false);
        fDevice->Wake();  // the event thread sees the closed handle and ends
    }
    return false;
}

void TksCustomComm::SendString(const std::string& S) {
    Guard g(fLock);
    if (!IsHandleValid() || S.empty()) return;
    LoggingFmt(TDetailLevel::dlDebug, "Try to send string %s ...", {S});
    WriteBytes(reinterpret_cast<const uint8_t*>(S.data()), static_cast<uint32_t>(S.size()));
}

void TksCustomComm::SendChar(uint16_t Ch) {
    Guard g(fLock);
    if (!IsHandleValid()) return;
    const uint8_t b = static_cast<uint8_t>(Ch & 0xFF);
    LoggingFmt(TDetailLevel::dlDebug, "Try to send char %2Xh ...", {uint64_t{b}});
    WriteBytes(&b, 1);
}

void TksCustomComm::SendData(const uint8_t* Buff, uint32_t N) {
    Guard g(fLock);
    if (!IsHandleValid()) return;
    LoggingFmt(TDetailLevel::dlDebug, "Try to send the data with %d length ...", {uint64_t{N}});
    if (Buff == nullptr || N == 0) return;
    // Handed over completely before returning: the caller's buffer is not
    // referenced after the call, whatever its lifetime.
    if (WriteBytes(Buff, N)) Logging(TDetailLevel::dlDebug, "... the data transmittion is OK!");
}

void TksCustomComm::SendAheadChar(uint16_t Ch) {
    Guard g(fLock);
    if (!IsHandleValid()) return;
    const uint8_t b = static_cast<uint8_t>(Ch & 0xFF);
    WriteBytes(&b, 1, true);
}

void TksCustomComm::ClearDeviceInput() {
    if (!IsHandleValid()) return;
    fDevice->Purge(PURGE_RXABORT | PURGE_RXCLEAR);
}

void TksCustomComm::ClearDeviceOutput() {
    if (!IsHandleValid()) return;
    fDevice->Purge(PURGE_TXABORT | PURGE_TXCLEAR);
    if (Rs485Emulated()) Rs485DropRts(false);
}

void TksCustomComm::ClearDeviceBuffers() {
    if (!IsHandleValid()) return;
    fDevice->Purge(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    // Our waited operations are not left pending on the handle, so there is
    // nothing to cancel.
    if (Rs485Emulated()) Rs485DropRts(false);
}

void TksCustomComm::DoCommError(uint32_t CommCode, uint32_t SysError, uint8_t State) {
    Guard g(fLock);
    if (Rs485Emulated()) Rs485DropRts(false);
    LoggingFmt(TDetailLevel::dlDetail, "Communication Error %d:%d %X",
               {uint64_t{CommCode}, uint64_t{SysError}, uint64_t{State}});
    bool flush = false;
    if (fOnCommError) fOnCommError(this, CommCode, SysError, State, flush);
    if (flush) ClearDeviceBuffers();
}

// ---- open and close

TksHandle TksCustomComm::OpenPortByName(const std::string& name) {
    fLastOpenError = fDevice->Open(name);
    return fLastOpenError == 0 ? fDevice->NativeHandle() : kInvalidHandle;
}

TksHandle TksCustomComm::AdoptHandle(TksHandle handle) {
    fLastOpenError = fDevice->Adopt(handle);
    return fLastOpenError == 0 ? fDevice->NativeHandle() : kInvalidHandle;
}

TksHandle TksCustomComm::RequestDeviceHandle() {
    fLastOpenError = SerialErrors::kInvalidHandle;
    return kInvalidHandle;
}

void TksCustomComm::RequestDeviceHandleClose(TksHandle /*aHandle*/) {
    fDevice->Close();
}

void TksCustomComm::InitAfterOpen() {
    uint32_t errors = 0;
    fDevice->ClearError(&errors, nullptr);
    fDevice->SetupQueues(fBufferInSize, fBufferOutSize);
    fDevice->SetTimeouts(fCommTimeouts);
    fIsNotSupportRS485 = !fDevice->SupportsRs485Toggle();
    DCBApply();
}

void TksCustomComm::Open() {
    Close();
    Guard g(fLock);
    fTotalReceived = 0;
    fTotalSent = 0;
    TksBaseIO::Open();
    if (!IsHandleValid()) {
        fLastErrorString =
            "Device \"" + ComName() + "\" Open Error !!!\r" + fDevice->ErrorText(fLastOpenError);
        DoFatalErrors(1, 0, fLastErrorString, false);
        return;
    }
    ++fOpenGen;
    glBuffer.assign(std::max<uint32_t>(fBufferInSize, CI_MIN_BUFFER_SIZE), 0);
    LoggingFmt(TDetailLevel::dlSimple, "The port %s is opened succesfully", {ComName()});
    InitAfterOpen();
    ApplyEventMask();
    ThreadStart();
    DoNotify(csOpened);
}

void TksCustomComm::Close() {
    // A port lost while nobody looked is reported closed before anything else.
    FinishLostHalt();
    if (IsHandleValid()) {
        try {
            // The threads stop before the handle closes, so that nothing of
            // theirs uses the handle or reads into the buffer afterwards.
            ThreadStop();
            ForceHalt(true);
            Logging(TDetailLevel::dlSimple, "The port is closed succesfully");
        } catch (...) {
            if (CloseHandleOnly()) RaiseOnClose();
        }
    }
    // The threads of a lost port are still there.
    ThreadStop();
    // A port lost while the threads were being stopped (the event thread
    // closed the handle just before we looked) is reported closed now,
    // before an open that may follow: a late report would close the new port
    // in the eyes of every listener.
    FinishLostHalt();
    {
        Guard g(fLock);
        glBuffer.clear();
        glBuffer.shrink_to_fit();
    }
    DoTraceStates(this, TTraceStates{TTraceState::tsTxEmpty});
}

void TksCustomComm::ForceHalt(bool byOwner) {
    Guard g(fLock);
    if (!IsHandleValid()) return;
    if (byOwner && NotYetSend() > 0) ClearDeviceBuffers();
    if (byOwner) {
        glBuffer.clear();
        glBuffer.shrink_to_fit();
    }
    // A halt from receive processing keeps the buffer: the processing that
    // found the port lost is still running on it. The next close or open
    // frees it.
    if (!CloseHandleOnly()) return;
    RaiseOnClose();
    DoNotify(csClosed);
    if (KeepConnection() && !byOwner) RestartKeepConnection();
}

void TksCustomComm::RestartKeepConnection() {
    // The timer belongs to the GUI thread, where it was (or will be) made
    // and where it fires; a lost port may be found on a worker thread.
    std::weak_ptr<TksCustomComm*> alive = fAlive;
    RunOnGuiThread([alive] {
        if (auto p = alive.lock()) (*p)->TryConnectRestart();
    });
}

void TksCustomComm::HaltLostFromEventThread(const std::shared_ptr<DispatchQueue>& q) {
    // Close the handle here so that this thread stops waiting on a hung-up
    // tty (it would keep polling readable). Someone else may have closed it.
    // Worker threads make no virtual calls: the object may be between
    // destructor levels while they are being stopped.
    if (fHandle.exchange(kInvalidHandle) == kInvalidHandle) return;
    fDevice->Close();
    fLostPending = true;
    if (UseMainThread() && fExecutor) {
        std::weak_ptr<TksCustomComm*> alive = fAlive;
        fExecutor->Post([alive] {
            if (auto p = alive.lock()) (*p)->FinishLostHalt();
        });
    } else {
        {
            std::lock_guard lock(q->mutex);
            q->lost = true;
        }
        q->cv.notify_all();
    }
}

void TksCustomComm::FinishLostHalt() {
    if (!fLostPending.exchange(false)) return;
    Guard g(fLock);
    RaiseOnClose();
    DoNotify(csClosed);
    if (KeepConnection()) RestartKeepConnection();
}

void TksCustomComm::RunOnGuiThread(std::function<void()> fn) {
    if (fExecutor && !fExecutor->IsGuiThread())
        fExecutor->Post(std::move(fn));
    else
        fn();
}

void TksCustomComm::TryConnectHandle(TksTimer* /*sender*/) {
    Logging(TDetailLevel::dlDetail, "Try to keep connection ...");
    TryConnectStop();
}

// ---- threads

void TksCustomComm::ThreadStart() {
    ThreadStop();
    auto q = std::make_shared<DispatchQueue>();
    fQueue = q;
    // The queue exists before either thread, so the event thread can post
    // from its first event on: no start-up delay is needed.
    MsgThread = std::jthread([q, this](std::stop_token st) { DispatchThreadRun(st, q, this); });
    CommThread = std::jthread([q, this](std::stop_token st) { EventThreadRun(st, q); });
}

void TksCustomComm::ThreadStop() {
    const auto self = std::this_thread::get_id();
    if (CommThread.joinable()) {
        CommThread.request_stop();
        fDevice->Wake();
        if (CommThread.get_id() == self)
            CommThread.detach();
        else
            CommThread.join();
    }
    if (MsgThread.joinable()) {
        MsgThread.request_stop();  // withdraws a call waiting for the GUI thread
        if (auto q = fQueue) {
            {
                std::lock_guard lock(q->mutex);
                q->quit = true;
            }
            q->cv.notify_all();
        }
        // From inside receive processing the dispatch thread is waiting for
        // us: let it end by itself; it touches nothing of ours once stopped.
        if (MsgThread.get_id() == self || fProcessingThread.load() == self)
            MsgThread.detach();
        else
            MsgThread.join();
    }
    fQueue.reset();
}

void TksCustomComm::PostComEvent(DispatchQueue& q, uint32_t mask) {
    {
        std::lock_guard lock(q.mutex);
        // An event not taken yet will read everything queued anyway.
        if (!q.events.empty())
            q.events.back() |= mask;
        else
            q.events.push_back(mask);
    }
    q.cv.notify_all();
}

void TksCustomComm::EventThreadRun(std::stop_token stop, std::shared_ptr<DispatchQueue> q) {
    while (!stop.stop_requested() && fHandle.load() != kInvalidHandle) {
        uint32_t events = 0;
        const auto status = fDevice->Wait(&events);
        if (stop.stop_requested()) return;
        switch (status) {
            case ISerialDevice::WaitStatus::Event:
                PostComEvent(*q, events);
                break;
            case ISerialDevice::WaitStatus::Woken:
                break;
            case ISerialDevice::WaitStatus::Lost:
                HaltLostFromEventThread(q);
                return;
            case ISerialDevice::WaitStatus::Closed:
                return;  // the handle is gone: end quietly
        }
    }
}

void TksCustomComm::DispatchThreadRun(std::stop_token stop, std::shared_ptr<DispatchQueue> q,
                                      TksCustomComm* com) {
    for (;;) {
        uint32_t mask = 0;
        bool lost = false;
        {
            std::unique_lock lock(q->mutex);
            q->cv.wait(lock, stop, [&] { return q->quit || q->lost || !q->events.empty(); });
            if (stop.stop_requested() || q->quit) return;
            if (q->lost) {
                q->lost = false;
                lost = true;
            } else {
                mask = q->events.front();
                q->events.pop_front();
            }
        }
        if (lost) {
            // Only without the GUI thread: the halt then finishes here.
            com->FinishLostHalt();
            return;
        }
        if (com->fHandle.load() == kInvalidHandle) return;
        const uint64_t gen = com->fOpenGen.load();
        try {
            if (com->UseMainThread() && com->fExecutor) {
                com->fExecutor->Synchronize([com, mask, gen] { com->WinProc(mask, gen); }, stop);
            } else {
                com->WinProc(mask, gen);
            }
        } catch (...) {
            // WinProc reports its own failures; nothing may end this loop.
        }
        // Once stopped, the component may be closing or gone: touch nothing.
        if (stop.stop_requested()) return;
    }
}

// ---- receive processing

void TksCustomComm::WinProc(uint32_t mask, uint64_t openGen) {
    Guard g(fLock);
    ProcessingScope scope(fProcessingThread);
    auto stillOpen = [this, openGen] { return IsHandleValid() && fOpenGen.load() == openGen; };
    try {
        if (!stillOpen()) return;
        uint32_t errors = 0;
        if (!fDevice->ClearError(&errors, &Stat)) return;
        if (errors == CE_PORT_LOST) {
            ForceHalt(false);
            return;
        }
        if (errors != 0) {
            DoCommError(errors, 0, Stat.Flags);
            return;  // the bytes of this event stay queued
        }
        if ((mask & EV_RXCHAR) && Stat.cbInQue > 0) {
            const bool readNeeded = fTraceStates.Contains(TTraceState::tsRxChar) || IsReadNeeded();
            // Bytes left queued are counted at every event that finds them;
            // bytes read are counted as read, so that those arriving while
            // this event reads are counted too.
            if (!readNeeded) fTotalReceived += Stat.cbInQue;
            uint32_t lateErrors = 0;
            while (readNeeded && Stat.cbInQue > 0 && !glBuffer.empty()) {
                const uint32_t want =
                    std::min<uint32_t>(Stat.cbInQue, static_cast<uint32_t>(glBuffer.size()));
                uint32_t got = 0;
                if (!fDevice->ReadNow(glBuffer.data(), want, &got) || got == 0) break;
                if (!stillOpen()) return;  // lost meanwhile
                fTotalReceived += got;
                DoInputData(glBuffer.data(), got);
                // A handler may have closed (or closed and reopened) the
                // port: nothing more is delivered then.
                if (!stillOpen()) return;
                uint32_t e = 0;
                if (!fDevice->ClearError(&e, &Stat)) break;
                if (e == CE_PORT_LOST) {
                    ForceHalt(false);
                    return;
                }
                lateErrors |= e;
            }
            // Line errors found between chunks are reported, not dropped.
            if (lateErrors != 0) DoCommError(lateErrors, 0, Stat.Flags);
        }
        if (mask & EV_TXEMPTY) {
            if (Rs485Emulated()) Rs485DropRts(false);
            if (!DoOutputData() && fTraceStates.Contains(TTraceState::tsTxEmpty) && fOnSent)
                fOnSent(this);
        }
        TTraceStates others;
        for (unsigned i = 0; i <= static_cast<unsigned>(TTraceState::tsEvent2); ++i) {
            const auto s = static_cast<TTraceState>(i);
            if (s == TTraceState::tsRxChar || s == TTraceState::tsTxEmpty) continue;
            if (mask & TraceStateMask(s)) others.Include(s);
        }
        if (!others.Empty() && stillOpen()) DoTraceStates(this, others);
    } catch (const std::exception& e) {
        DoFatalErrors(1, static_cast<uint32_t>(fDevice->LastError()), e.what(), true);
    } catch (...) {
        DoFatalErrors(1, static_cast<uint32_t>(fDevice->LastError()), "Unknown exception", true);
    }
}

// ------------------------------------------------------- TksCustomSerialComm

TksCustomSerialComm::TksCustomSerialComm(IExecutor* executor)
    : TksCustomSerialComm(executor, CreateSerialDevice()) {}

TksCustomSerialComm::TksCustomSerialComm(IExecutor* executor, std::unique_ptr<ISerialDevice> device)
    : TksCustomComm(executor, std::move(device)) {
    sLogPrefix = "ksComm: ";
    // There is no system default configuration to fetch: the record keeps
    // its zero-filled defaults, which the properties below overwrite.
    SetComPort(TComPort::cpCOM1);
    SetBaudRate(19200);
    SetByteSize(8);
    SetParity(TParity::pNone);
    SetStopBits(TStopBits::sbOne);
    SetStreamProtocol(TStreamProtocol::spHardware);
    SetEventChar(0);
}

TksCustomSerialComm::~TksCustomSerialComm() {
    ShutDown();
}

void TksCustomComm::ShutDown() {
    SetTerminal(nullptr);
    SetDataProcessor(nullptr);
    SetOnTraceState(nullptr);
    try {
        Close();
    } catch (...) {
        // Destruction goes on whatever the close met.
    }
    ThreadStop();
}

void TksCustomSerialComm::SetComPortNo(uint16_t Value) {
    const bool was = Active();
    SetActive(false);
    fComPortNo = Value;
    SetActive(was);
    DoNotify(csDeviceIdChanged);
}

TComPort TksCustomSerialComm::ComPort() const {
    if (fComPortNo >= 1 && fComPortNo <= 8) return static_cast<TComPort>(fComPortNo - 1);
    return TComPort::cpCOMxx;
}

void TksCustomSerialComm::SetComPort(TComPort Value) {
    if (Value == TComPort::cpCOMxx) return;
    SetComPortNo(static_cast<uint16_t>(static_cast<unsigned>(Value) + 1));
}

std::string TksCustomSerialComm::GetPortName() {
    const int i = IndexOfDeviceData(fComPortNo);
    if (i >= 0) {
        const TksDevice* d = GetDevice(i);
        if (d && !d->PortName.empty()) return d->PortName;
    }
    return "COM" + std::to_string(fComPortNo);
}

void TksCustomSerialComm::Update() {
    DeviceListClear();
    GetDeviceList(nullptr);
    DoNotify(csDeviceIdChanged);
}

TksHandle TksCustomSerialComm::RequestDeviceHandle() {
    if (fExtHandle != kInvalidHandle) {
        const TksHandle h = fExtHandle;
        fExtHandle = kInvalidHandle;  // used once
        return AdoptHandle(h);
    }
    return OpenPortByName(GetPortName());
}

}  // namespace kelm
