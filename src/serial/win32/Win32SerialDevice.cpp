#include "serial/win32/Win32SerialDevice.h"

#include <algorithm>
#include <cstring>

#include "serial/net/NetPortRouter.h"
#include "serial/win32/WinText.h"

namespace kelm {

std::unique_ptr<ISerialDevice> CreateSerialDevice() {
    // The COM ports, with the network ports (tcp://, rfc2217://, mbtcp://) beside them.
    return net::WithNetworkPorts(std::make_unique<win32::Win32SerialDevice>());
}

namespace win32 {

static_assert(sizeof(DCB) == sizeof(TDCB));

namespace {

// The system error code of the last failure on this thread, as LastError()
// reports it.
thread_local DWORD t_lastError = 0;

DWORD Fail(DWORD e) {
    t_lastError = e;
    ::SetLastError(e);
    return e;
}

DWORD FailLast() {
    return Fail(::GetLastError());
}

HANDLE MakeEvent(bool manualReset) {
    return ::CreateEventW(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr);
}

// A manual-reset event for one overlapped operation of the calling thread.
// Writes and reads come from the GUI thread, one at a time per thread.
HANDLE ThreadIoEvent() {
    struct Holder {
        HANDLE h = MakeEvent(true);
        ~Holder() {
            if (h) ::CloseHandle(h);
        }
    };
    thread_local Holder holder;
    return holder.h;
}

// Spins until the performance counter has advanced by us microseconds: the
// system's sleep is far too coarse (about 15.6 ms) for a character time.
void SpinMicroseconds(int64_t us) {
    LARGE_INTEGER f, start, now;
    ::QueryPerformanceFrequency(&f);
    ::QueryPerformanceCounter(&start);
    const int64_t ticks = us * f.QuadPart / 1000000;
    do {
        ::YieldProcessor();
        ::QueryPerformanceCounter(&now);
    } while (now.QuadPart - start.QuadPart < ticks);
}

// The result of an overlapped operation whose event has fired. Wine may set
// the event a moment before it writes the operation's status (it completes
// the record in a system call of this thread): give it that moment rather
// than take the operation for pending. 0 or the system's error code.
DWORD CompletedResult(HANDLE h, OVERLAPPED& ov, DWORD* n) {
    for (int i = 0;; ++i) {
        if (::GetOverlappedResult(h, &ov, n, FALSE)) return 0;
        const DWORD e = ::GetLastError();
        if (e != ERROR_IO_INCOMPLETE || i >= 2000) return e;
        ::Sleep(1);
    }
}

}  // namespace

Win32SerialDevice::Win32SerialDevice()
    : wakeEvent_(MakeEvent(false)), cancelEvent_(MakeEvent(true)), waitEvent_(MakeEvent(true)) {}

Win32SerialDevice::~Win32SerialDevice() {
    Close();
    for (HANDLE h : {wakeEvent_, cancelEvent_, waitEvent_})
        if (h) ::CloseHandle(h);
}

std::wstring Win32SerialDevice::DevicePath(const std::string& portName) {
    const std::wstring w = Widen(portName);
    if (w.rfind(L"\\\\", 0) == 0) return w;
    return L"\\\\.\\" + w;
}

DCB Win32SerialDevice::ToDriverDcb(const TDCB& t) {
    DCB d{};
    d.DCBlength = sizeof(DCB);
    d.BaudRate = t.BaudRate;
    d.fBinary = (t.Flags & DCB_fBinary) != 0;
    d.fParity = (t.Flags & DCB_fParity) != 0;
    d.fOutxCtsFlow = (t.Flags & DCB_fOutxCtsFlow) != 0;
    d.fOutxDsrFlow = (t.Flags & DCB_fOutxDsrFlow) != 0;
    d.fDtrControl = t.DtrControl();
    d.fDsrSensitivity = (t.Flags & DCB_fDsrSensitivity) != 0;
    d.fTXContinueOnXoff = (t.Flags & DCB_fTXContinueOnXoff) != 0;
    d.fOutX = (t.Flags & DCB_fOutX) != 0;
    d.fInX = (t.Flags & DCB_fInX) != 0;
    d.fErrorChar = (t.Flags & DCB_fErrorChar) != 0;
    d.fNull = (t.Flags & DCB_fNull) != 0;
    d.fRtsControl = t.RtsControl();
    d.fAbortOnError = (t.Flags & DCB_fAbortOnError) != 0;
    d.XonLim = t.XonLim;
    d.XoffLim = t.XoffLim;
    d.ByteSize = t.ByteSize;
    d.Parity = t.Parity;
    d.StopBits = t.StopBits;
    d.XonChar = t.XonChar;
    d.XoffChar = t.XoffChar;
    d.ErrorChar = t.ErrorChar;
    d.EofChar = t.EofChar;
    d.EvtChar = t.EvtChar;
    return d;
}

void Win32SerialDevice::FromDriverDcb(const DCB& d, TDCB& t) {
    t.DCBlength = sizeof(TDCB);
    t.BaudRate = d.BaudRate;
    uint32_t f = 0;
    if (d.fBinary) f |= DCB_fBinary;
    if (d.fParity) f |= DCB_fParity;
    if (d.fOutxCtsFlow) f |= DCB_fOutxCtsFlow;
    if (d.fOutxDsrFlow) f |= DCB_fOutxDsrFlow;
    f |= (d.fDtrControl & 3u) << 4;
    if (d.fDsrSensitivity) f |= DCB_fDsrSensitivity;
    if (d.fTXContinueOnXoff) f |= DCB_fTXContinueOnXoff;
    if (d.fOutX) f |= DCB_fOutX;
    if (d.fInX) f |= DCB_fInX;
    if (d.fErrorChar) f |= DCB_fErrorChar;
    if (d.fNull) f |= DCB_fNull;
    f |= (d.fRtsControl & 3u) << 12;
    if (d.fAbortOnError) f |= DCB_fAbortOnError;
    t.Flags = f;
    t.XonLim = d.XonLim;
    t.XoffLim = d.XoffLim;
    t.ByteSize = d.ByteSize;
    t.Parity = d.Parity;
    t.StopBits = d.StopBits;
    t.XonChar = d.XonChar;
    t.XoffChar = d.XoffChar;
    t.ErrorChar = d.ErrorChar;
    t.EofChar = d.EofChar;
    t.EvtChar = d.EvtChar;
}

std::string Win32SerialDevice::ErrorText(int code) const {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string s;
    if (n > 0 && text) s = Narrow(text, n);
    if (text) ::LocalFree(text);
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n' || s.back() == ' ')) s.pop_back();
    if (s.empty()) s = "system error " + std::to_string(code);
    return s;
}

int Win32SerialDevice::LastError() const {
    return static_cast<int>(t_lastError);
}

int Win32SerialDevice::Open(const std::string& portName) {
    std::unique_lock lock(rw_);
    if (handle_ != INVALID_HANDLE_VALUE) return static_cast<int>(Fail(ERROR_BUSY));
    // No sharing: a port another program holds fails with ERROR_ACCESS_DENIED.
    const HANDLE h = ::CreateFileW(DevicePath(portName).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) return static_cast<int>(FailLast());
    return AttachLocked(h);
}

int Win32SerialDevice::Adopt(TksHandle handle) {
    std::unique_lock lock(rw_);
    if (handle_ != INVALID_HANDLE_VALUE) return static_cast<int>(Fail(ERROR_BUSY));
    // The handle must have been opened for overlapped I/O, as our own are.
    const HANDLE h = reinterpret_cast<HANDLE>(handle);
    if (h == nullptr || h == INVALID_HANDLE_VALUE)
        return static_cast<int>(Fail(ERROR_INVALID_HANDLE));
    return AttachLocked(h);
}

// Takes ownership of an open handle (rw_ held exclusively): checks that it is
// a communications device and resets the per-handle state, or closes it.
int Win32SerialDevice::AttachLocked(HANDLE h) {
    DCB d{};
    d.DCBlength = sizeof d;
    if (!::GetCommState(h, &d)) {
        const DWORD e = ::GetLastError();
        ::CloseHandle(h);
        return static_cast<int>(Fail(e ? e : ERROR_INVALID_HANDLE));
    }
    handle_ = h;
    baud_ = d.BaudRate ? d.BaudRate : 9600;
    toggle_ = -1;
    txPending_ = false;
    polling_ = false;
    lastInQue_ = 0;
    ::ResetEvent(wakeEvent_);
    ::ResetEvent(cancelEvent_);
    if (mask_ != 0) ::SetCommMask(h, mask_);
    return 0;
}

bool Win32SerialDevice::Close() {
    // Waiting operations give up first, then the handle goes.
    ::SetEvent(cancelEvent_);
    std::unique_lock lock(rw_);
    if (handle_ == INVALID_HANDLE_VALUE) {
        ::ResetEvent(cancelEvent_);
        return false;
    }
    ::CancelIoEx(handle_, nullptr);
    ::CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    ::ResetEvent(cancelEvent_);
    return true;
}

bool Win32SerialDevice::IsOpen() const {
    std::shared_lock lock(rw_);
    return handle_ != INVALID_HANDLE_VALUE;
}

TksHandle Win32SerialDevice::NativeHandle() const {
    std::shared_lock lock(rw_);
    return handle_ != INVALID_HANDLE_VALUE ? reinterpret_cast<TksHandle>(handle_) : kInvalidHandle;
}

DWORD Win32SerialDevice::WaitOverlapped(HANDLE h, OVERLAPPED& ov, DWORD timeoutMs, DWORD* done) {
    *done = 0;
    const HANDLE waits[2] = {ov.hEvent, cancelEvent_};
    const DWORD r = ::WaitForMultipleObjects(2, waits, FALSE, timeoutMs);
    if (r != WAIT_OBJECT_0) {
        // Closing, or no end in sight: take the operation back. What it had
        // done by then still counts.
        ::CancelIoEx(h, &ov);
        ::GetOverlappedResult(h, &ov, done, TRUE);
        return r == WAIT_TIMEOUT ? ERROR_TIMEOUT : ERROR_OPERATION_ABORTED;
    }
    return CompletedResult(h, ov, done);
}

bool Win32SerialDevice::ApplyDcb(const TDCB& dcb) {
    std::shared_lock lock(rw_);
    if (handle_ == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE), false;
    DCB d = ToDriverDcb(dcb);
    // Where the driver cannot toggle RTS itself, the component drives the
    // line (EscapeCommFunction), which the driver allows only without a
    // control mode of its own; asking for the toggle would make the driver
    // refuse the whole record, baud rate included.
    if (d.fRtsControl == RTS_CONTROL_TOGGLE && toggle_ == 0) d.fRtsControl = RTS_CONTROL_DISABLE;
    baud_ = d.BaudRate ? d.BaudRate : 9600;
    if (!::SetCommState(handle_, &d)) return FailLast(), false;
    return true;
}

bool Win32SerialDevice::ReadDcb(TDCB& dcb) {
    std::shared_lock lock(rw_);
    if (handle_ == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE), false;
    DCB d{};
    d.DCBlength = sizeof d;
    if (!::GetCommState(handle_, &d)) return FailLast(), false;
    FromDriverDcb(d, dcb);
    return true;
}

bool Win32SerialDevice::SetupQueues(uint32_t inSize, uint32_t outSize) {
    std::shared_lock lock(rw_);
    if (handle_ == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE), false;
    if (!::SetupComm(handle_, inSize, outSize)) return FailLast(), false;
    return true;
}

bool Win32SerialDevice::SetTimeouts(const TCommTimeouts& t) {
    std::shared_lock lock(rw_);
    if (handle_ == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE), false;
    COMMTIMEOUTS ct{};
    ct.ReadIntervalTimeout = t.ReadIntervalTimeout;
    ct.ReadTotalTimeoutMultiplier = t.ReadTotalTimeoutMultiplier;
    ct.ReadTotalTimeoutConstant = t.ReadTotalTimeoutConstant;
    ct.WriteTotalTimeoutMultiplier = t.WriteTotalTimeoutMultiplier;
    ct.WriteTotalTimeoutConstant = t.WriteTotalTimeoutConstant;
    if (!::SetCommTimeouts(handle_, &ct)) return FailLast(), false;
    return true;
}

bool Win32SerialDevice::SupportsRs485Toggle() {
    std::shared_lock lock(rw_);
    if (handle_ == INVALID_HANDLE_VALUE) return false;
    if (toggle_ >= 0) return toggle_ == 1;
    // Only a driver that takes the toggle mode and reports it back has it:
    // some refuse the record (usbser), some take it and ignore the mode.
    DCB before{};
    before.DCBlength = sizeof before;
    if (!::GetCommState(handle_, &before)) return false;
    DCB asked = before;
    asked.fRtsControl = RTS_CONTROL_TOGGLE;
    DCB after{};
    after.DCBlength = sizeof after;
    const bool kept = ::SetCommState(handle_, &asked) && ::GetCommState(handle_, &after) &&
                      after.fRtsControl == RTS_CONTROL_TOGGLE;
    ::SetCommState(handle_, &before);
    toggle_ = kept ? 1 : 0;
    return kept;
}

bool Win32SerialDevice::SetRs485(bool enabled) {
    // The direction mode travels in the DCB (RTS_CONTROL_TOGGLE), applied
    // with the other settings; here the driver only has to have it.
    if (!enabled) return true;
    std::shared_lock lock(rw_);
    if (handle_ == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE), false;
    return toggle_ == 1;
}

bool Win32SerialDevice::DeviceAnswers(HANDLE h, DWORD* error) {
    DWORD e = 0;
    COMSTAT cs{};
    if (::ClearCommError(h, &e, &cs)) return true;
    if (error) *error = ::GetLastError();
    return false;
}

bool Win32SerialDevice::ClearError(uint32_t* errors, TComStat* stat) {
    std::shared_lock lock(rw_);
    if (handle_ == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE), false;
    DWORD e = 0;
    COMSTAT cs{};
    if (!::ClearCommError(handle_, &e, &cs)) {
        const DWORD err = FailLast();
        if (!SerialErrors::IsLost(static_cast<int>(err))) return false;
        // A removed device: the flags the component reads as a lost port.
        if (errors) *errors = CE_PORT_LOST;
        if (stat) *stat = TComStat{};
        return true;
    }
    if (errors) *errors = e & (CE_RXOVER | CE_OVERRUN | CE_RXPARITY | CE_FRAME | CE_BREAK);
    if (stat) {
        DWORD bits = 0;
        std::memcpy(&bits, &cs, sizeof bits);  // the flag bits lead the record
        stat->Flags = static_cast<uint8_t>(bits & 0xFF);
        stat->cbInQue = cs.cbInQue;
        stat->cbOutQue = cs.cbOutQue;
    }
    return true;
}

bool Win32SerialDevice::ReadNow(uint8_t* buf, uint32_t n, uint32_t* got) {
    *got = 0;
    std::shared_lock lock(rw_);
    if (handle_ == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE), false;
    if (n == 0) return true;
    DWORD e = 0;
    COMSTAT cs{};
    if (!::ClearCommError(handle_, &e, &cs)) return FailLast(), false;
    // Only what is queued already: such a read completes at once whatever
    // the time-outs say.
    const DWORD want = std::min<DWORD>(n, cs.cbInQue);
    if (want == 0) return true;
    OVERLAPPED ov{};
    ov.hEvent = ThreadIoEvent();
    ::ResetEvent(ov.hEvent);
    DWORD done = 0;
    DWORD err = 0;
    if (!::ReadFile(handle_, buf, want, &done, &ov)) {
        err = ::GetLastError();
        if (err == ERROR_IO_PENDING) err = WaitOverlapped(handle_, ov, kIdleCapMs, &done);
    } else {
        ::GetOverlappedResult(handle_, &ov, &done, FALSE);
    }
    *got = done;
    if (done > 0) consumed_ = true;
    if (err != 0 && err != ERROR_TIMEOUT) return Fail(err), done > 0;
    return true;
}

bool Win32SerialDevice::Read(uint8_t* buf, uint32_t n, uint32_t* got) {
    *got = 0;
    std::shared_lock lock(rw_);
    if (handle_ == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE), false;
    if (n == 0) return true;
    COMMTIMEOUTS ct{};
    ::GetCommTimeouts(handle_, &ct);
    // The driver ends the read by its time-outs; without any, a read that
    // does not complete within kIdleCapMs is taken back rather than hang.
    const bool driverEnds = ct.ReadIntervalTimeout != 0 || ct.ReadTotalTimeoutConstant != 0 ||
                            ct.ReadTotalTimeoutMultiplier != 0;
    OVERLAPPED ov{};
    ov.hEvent = ThreadIoEvent();
    ::ResetEvent(ov.hEvent);
    DWORD done = 0;
    DWORD err = 0;
    if (!::ReadFile(handle_, buf, n, &done, &ov)) {
        err = ::GetLastError();
        if (err == ERROR_IO_PENDING)
            err = WaitOverlapped(handle_, ov, driverEnds ? INFINITE : kIdleCapMs, &done);
    } else {
        ::GetOverlappedResult(handle_, &ov, &done, FALSE);
    }
    *got = done;
    if (done > 0) consumed_ = true;
    if (err != 0) return Fail(err), false;  // ERROR_TIMEOUT: cut short by a time-out
    if (done < n) return Fail(ERROR_TIMEOUT), false;
    return true;
}

bool Win32SerialDevice::Write(const uint8_t* buf, uint32_t n, uint32_t* written, int* lastError) {
    *written = 0;
    if (lastError) *lastError = 0;
    std::shared_lock lock(rw_);
    auto fail = [&](DWORD e) {
        Fail(e);
        if (lastError) *lastError = static_cast<int>(e);
        return false;
    };
    if (handle_ == INVALID_HANDLE_VALUE) return fail(ERROR_INVALID_HANDLE);
    if (n == 0) return true;
    COMMTIMEOUTS ct{};
    ::GetCommTimeouts(handle_, &ct);
    const bool driverEnds =
        ct.WriteTotalTimeoutConstant != 0 || ct.WriteTotalTimeoutMultiplier != 0;
    // Without a write time-out, the bytes' transmit time (about 11 bits
    // each) plus kIdleCapMs; a line held longer (flow control) fails.
    const DWORD baud = baud_.load();
    const uint64_t cap = uint64_t(n) * 11000 / (baud ? baud : 9600) + kIdleCapMs;
    OVERLAPPED ov{};
    ov.hEvent = ThreadIoEvent();
    ::ResetEvent(ov.hEvent);
    DWORD done = 0;
    DWORD err = 0;
    if (!::WriteFile(handle_, buf, n, &done, &ov)) {
        err = ::GetLastError();
        if (err == ERROR_IO_PENDING)
            err = WaitOverlapped(
                handle_, ov,
                driverEnds ? INFINITE : static_cast<DWORD>(std::min<uint64_t>(cap, 0x7FFFFFFF)),
                &done);
    } else {
        ::GetOverlappedResult(handle_, &ov, &done, FALSE);
    }
    *written = done;
    if (err != 0) return fail(err);
    if (done < n) return fail(ERROR_TIMEOUT);
    return true;
}

bool Win32SerialDevice::Purge(uint32_t flags) {
    std::shared_lock lock(rw_);
    if (handle_ == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE), false;
    if (!::PurgeComm(handle_, flags)) return FailLast(), false;
    if (flags & (PURGE_RXCLEAR | PURGE_RXABORT)) lastInQue_ = 0;
    return true;
}

bool Win32SerialDevice::Escape(uint32_t function) {
    std::shared_lock lock(rw_);
    if (handle_ == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE), false;
    if (!::EscapeCommFunction(handle_, function)) return FailLast(), false;
    return true;
}

bool Win32SerialDevice::ModemStatus(uint32_t* status) {
    *status = 0;
    std::shared_lock lock(rw_);
    if (handle_ == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE), false;
    DWORD s = 0;
    if (!::GetCommModemStatus(handle_, &s)) return FailLast(), false;
    *status = s & (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON);
    return true;
}

bool Win32SerialDevice::TransmitChar(uint8_t ch) {
    std::shared_lock lock(rw_);
    if (handle_ == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE), false;
    if (!::TransmitCommChar(handle_, static_cast<char>(ch))) return FailLast(), false;
    return true;
}

bool Win32SerialDevice::Flush() {
    std::shared_lock lock(rw_);
    if (handle_ == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE), false;
    if (!::FlushFileBuffers(handle_)) return FailLast(), false;
    return true;
}

bool Win32SerialDevice::DrainTransmitter() {
    std::shared_lock lock(rw_);
    if (handle_ == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE), false;
    const DWORD b = baud_.load();
    const DWORD baud = b ? b : 9600;
    const int64_t charUs = 11'000'000LL / baud;  // about 11 bits a character
    // The driver's queue first: a waited write completes when the driver has
    // taken the bytes, not when they have left. Bounded by the queue's
    // transmit time, so that a stuck line does not hold the sender.
    LARGE_INTEGER f, start, now;
    ::QueryPerformanceFrequency(&f);
    ::QueryPerformanceCounter(&start);
    int64_t limitUs = 20'000;
    for (;;) {
        DWORD e = 0;
        COMSTAT cs{};
        if (!::ClearCommError(handle_, &e, &cs)) {
            const DWORD err = FailLast();
            return !SerialErrors::IsLost(static_cast<int>(err));
        }
        if (cs.cbOutQue == 0) break;
        limitUs = std::max<int64_t>(limitUs, int64_t(cs.cbOutQue) * charUs * 2 + 20'000);
        ::QueryPerformanceCounter(&now);
        if ((now.QuadPart - start.QuadPart) * 1000000 / f.QuadPart > limitUs)
            return Fail(ERROR_TIMEOUT), false;
        if (::WaitForSingleObject(cancelEvent_, 0) == WAIT_OBJECT_0)
            return Fail(ERROR_OPERATION_ABORTED), false;
        ::SwitchToThread();
    }
    // Then the UART: the system does not say when its shift register is
    // empty. Two character times cover the shift register and the holding
    // register; a deep transmit FIFO takes longer, and a driver that has the
    // toggle mode (which the component then uses) knows better.
    SpinMicroseconds(std::min<int64_t>(2 * charUs, 20'000));
    return true;
}

bool Win32SerialDevice::Properties(TCommProp* prop) {
    std::shared_lock lock(rw_);
    if (handle_ == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE), false;
    COMMPROP p{};
    p.wPacketLength = sizeof p;
    if (!::GetCommProperties(handle_, &p)) return FailLast(), false;
    *prop = TCommProp{};
    prop->wPacketLength = p.wPacketLength;
    prop->wPacketVersion = p.wPacketVersion;
    prop->dwServiceMask = p.dwServiceMask;
    prop->dwMaxTxQueue = p.dwMaxTxQueue;
    prop->dwMaxRxQueue = p.dwMaxRxQueue;
    prop->dwMaxBaud = p.dwMaxBaud;
    prop->dwProvSubType = p.dwProvSubType;
    prop->dwProvCapabilities = p.dwProvCapabilities;
    prop->dwSettableParams = p.dwSettableParams;
    prop->dwSettableBaud = p.dwSettableBaud;
    prop->wSettableData = p.wSettableData;
    prop->wSettableStopParity = p.wSettableStopParity;
    prop->dwCurrentTxQueue = p.dwCurrentTxQueue;
    prop->dwCurrentRxQueue = p.dwCurrentRxQueue;
    return true;
}

void Win32SerialDevice::SetMask(uint32_t mask) {
    mask_ = mask;
    ++maskGen_;
    std::shared_lock lock(rw_);
    // Also ends a pending WaitCommEvent, which then starts again with the
    // new mask.
    if (handle_ != INVALID_HANDLE_VALUE) ::SetCommMask(handle_, mask);
}

uint32_t Win32SerialDevice::Mask() const {
    return mask_;
}

void Win32SerialDevice::Wake() {
    ::SetEvent(wakeEvent_);
}

void Win32SerialDevice::NoteTransmit() {
    // The driver reports EV_TXEMPTY by itself; the fallback wait looks for
    // the queue running empty after this.
    txPending_ = true;
}

void Win32SerialDevice::AbortPendingWait(HANDLE h) {
    // SetCommMask ends the pending wait (with an empty event mask); wine
    // needs it, as CancelIoEx leaves a WaitCommEvent pending there.
    ::SetCommMask(h, mask_);
    ::CancelIoEx(h, &waitOv_);
    if (::WaitForSingleObject(waitEvent_, kIdleCapMs) != WAIT_OBJECT_0) {
        // The driver holds on to the record: never hand it out again.
        ::CancelIoEx(h, nullptr);
    }
    DWORD n = 0;
    CompletedResult(h, waitOv_, &n);
}

ISerialDevice::WaitStatus Win32SerialDevice::PollWait(HANDLE h, uint32_t* events) {
    const HANDLE waits[2] = {wakeEvent_, cancelEvent_};
    for (;;) {
        const uint32_t mask = mask_;
        COMSTAT cs{};
        DWORD e = 0;
        if (!::ClearCommError(h, &e, &cs)) {
            // The device no longer answers (wine: ERROR_NOT_READY once the
            // tty has hung up).
            FailLast();
            return WaitStatus::Lost;
        }
        {
            uint32_t found = 0;
            // New bytes: the count changed, or someone read and the queue
            // still (or again) holds some. Bytes nobody reads are reported
            // once, as the driver's received-character event does.
            const bool consumed = consumed_.exchange(false);
            if (cs.cbInQue > 0 && (cs.cbInQue != lastInQue_ || consumed)) found |= EV_RXCHAR;
            lastInQue_ = cs.cbInQue;
            if ((mask & EV_TXEMPTY) && txPending_ && cs.cbOutQue == 0) {
                txPending_ = false;
                found |= EV_TXEMPTY;
            }
            found &= mask | EV_RXCHAR;
            if (found != 0) {
                *events = found;
                return WaitStatus::Event;
            }
        }
        const DWORD r = ::WaitForMultipleObjects(2, waits, FALSE, kFallbackPollMs);
        if (r == WAIT_OBJECT_0) return WaitStatus::Woken;
        if (r == WAIT_OBJECT_0 + 1) return WaitStatus::Closed;
    }
}

ISerialDevice::WaitStatus Win32SerialDevice::Wait(uint32_t* events) {
    *events = 0;
    std::shared_lock lock(rw_);
    const HANDLE h = handle_;
    if (h == INVALID_HANDLE_VALUE) return WaitStatus::Closed;
    if (::WaitForSingleObject(cancelEvent_, 0) == WAIT_OBJECT_0) return WaitStatus::Closed;
    if (polling_) return PollWait(h, events);
    int quickFailures = 0;
    for (;;) {
        const uint32_t gen = maskGen_;
        waitOv_ = OVERLAPPED{};
        waitOv_.hEvent = waitEvent_;
        ::ResetEvent(waitEvent_);
        waitMask_ = 0;
        DWORD err = 0;
        ULONGLONG started = ::GetTickCount64();
        if (!::WaitCommEvent(h, &waitMask_, &waitOv_)) {
            err = ::GetLastError();
            if (err == ERROR_IO_PENDING) {
                const HANDLE waits[3] = {waitEvent_, wakeEvent_, cancelEvent_};
                const DWORD r = ::WaitForMultipleObjects(3, waits, FALSE, INFINITE);
                if (r != WAIT_OBJECT_0) {
                    AbortPendingWait(h);
                    return r == WAIT_OBJECT_0 + 1 ? WaitStatus::Woken : WaitStatus::Closed;
                }
                DWORD n = 0;
                err = CompletedResult(h, waitOv_, &n);
                if (err == ERROR_IO_INCOMPLETE) {
                    // Never completed: take it back before the record is reused.
                    AbortPendingWait(h);
                    continue;
                }
            }
        }
        if (err == 0) {
            const uint32_t found = waitMask_ & (mask_ | EV_RXCHAR);
            if (found != 0) {
                *events = found;
                return WaitStatus::Event;
            }
            continue;  // ended by a mask change: wait again
        }
        Fail(err);
        if (maskGen_ != gen) continue;  // a mask change ended it (wine: aborted)
        if (err == ERROR_INVALID_HANDLE) return WaitStatus::Closed;
        if (err == ERROR_INVALID_PARAMETER && mask_ == 0) {
            // Nothing to wait for: only a wake or a close ends this.
            const HANDLE waits[2] = {wakeEvent_, cancelEvent_};
            const DWORD r = ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
            return r == WAIT_OBJECT_0 ? WaitStatus::Woken : WaitStatus::Closed;
        }
        DWORD probe = 0;
        if (!DeviceAnswers(h, &probe)) return WaitStatus::Lost;
        if (err != ERROR_OPERATION_ABORTED) return WaitStatus::Lost;
        // Aborted while the device still answers: wine ends a wait that has
        // to block when the tty has no modem lines to watch (a pty). Three
        // such ends in a row, each within moments, and the driver cannot
        // wait: look at the queues instead.
        if (::GetTickCount64() - started < 1000) {
            if (++quickFailures >= 3) {
                polling_ = true;
                COMSTAT cs{};
                DWORD e = 0;
                lastInQue_ = ::ClearCommError(h, &e, &cs) ? cs.cbInQue : 0;
                if (lastInQue_ > 0 && (mask_ & EV_RXCHAR)) {
                    *events = EV_RXCHAR;
                    return WaitStatus::Event;
                }
                return PollWait(h, events);
            }
        } else {
            quickFailures = 0;
        }
    }
}

}  // namespace win32
}  // namespace kelm
