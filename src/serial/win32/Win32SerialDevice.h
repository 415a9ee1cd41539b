#pragma once
// The Windows backend of a serial port: the communications API on a handle
// opened with FILE_FLAG_OVERLAPPED and no sharing ("\\.\COMn").
//
// The event wait is an overlapped WaitCommEvent, blocked together with two
// event objects: wakeEvent_ (Wake) and cancelEvent_ (Close). A wait that is
// ended early is completed by SetCommMask, which ends a pending
// WaitCommEvent on Windows and under wine alike (wine's CancelIoEx does not),
// with CancelIoEx as well for drivers that need it; its OVERLAPPED record is
// not reused before the driver has let go of it.
//
// Writes and waited reads are overlapped operations with their own event,
// waited for together with cancelEvent_, so that Close() never waits behind a
// line that does not move.
//
// Locking: rw_ guards handle_ and the settings. Every operation holds it
// shared while it uses the handle (the event wait too, for as long as it is
// blocked); Close() first signals cancelEvent_, which makes every waiting
// operation give up, then takes rw_ exclusively and closes the handle.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "serial/SerialDevice.h"
// After our own names: windows.h defines the same constants (EV_RXCHAR,
// CE_*, PURGE_*, ...) as macros, with the same values.
#include <windows.h>

namespace kelm::win32 {

class Win32SerialDevice final : public ISerialDevice {
  public:
    Win32SerialDevice();
    ~Win32SerialDevice() override;
    Win32SerialDevice(const Win32SerialDevice&) = delete;
    Win32SerialDevice& operator=(const Win32SerialDevice&) = delete;

    int Open(const std::string& portName) override;
    int Adopt(TksHandle handle) override;
    bool Close() override;
    bool IsOpen() const override;
    TksHandle NativeHandle() const override;
    std::string ErrorText(int code) const override;

    bool ApplyDcb(const TDCB& dcb) override;
    bool ReadDcb(TDCB& dcb) override;
    bool SetupQueues(uint32_t inSize, uint32_t outSize) override;
    bool SetTimeouts(const TCommTimeouts& timeouts) override;
    bool SupportsRs485Toggle() override;
    bool SetRs485(bool enabled) override;

    bool ClearError(uint32_t* errors, TComStat* stat) override;
    bool ReadNow(uint8_t* buf, uint32_t n, uint32_t* got) override;
    bool Read(uint8_t* buf, uint32_t n, uint32_t* got) override;
    bool Write(const uint8_t* buf, uint32_t n, uint32_t* written, int* lastError) override;
    bool Purge(uint32_t flags) override;
    bool Escape(uint32_t function) override;
    bool ModemStatus(uint32_t* status) override;
    bool TransmitChar(uint8_t ch) override;
    bool Flush() override;
    bool DrainTransmitter() override;
    bool Properties(TCommProp* prop) override;

    void SetMask(uint32_t mask) override;
    uint32_t Mask() const override;
    WaitStatus Wait(uint32_t* events) override;
    void Wake() override;
    void NoteTransmit() override;
    int LastError() const override;

    // The path CreateFileW opens for a port name: "COM5" -> "\\.\COM5"; a
    // name that is a path already ("\\.\...", "\\?\...") is kept.
    static std::wstring DevicePath(const std::string& portName);
    // The DCB record in the driver's layout, field by field, and back.
    static DCB ToDriverDcb(const TDCB& dcb);
    static void FromDriverDcb(const DCB& d, TDCB& dcb);

    // Longest wait of a waited read or write that has no time-out of its own
    // and sees no end (ms); the write's transmit time is added to it.
    static constexpr DWORD kIdleCapMs = 5000;
    // The event wait's pause while the driver cannot wait for events (wine
    // on a tty without modem lines ends every wait at once): it then looks
    // at the queues this often.
    static constexpr DWORD kFallbackPollMs = 10;

  private:
    int AttachLocked(HANDLE h);
    // Waits for an overlapped operation on h, giving up when Close() is
    // called or after timeoutMs (INFINITE: no limit). Returns the system's
    // error code, 0 on success; *done is the byte count.
    DWORD WaitOverlapped(HANDLE h, OVERLAPPED& ov, DWORD timeoutMs, DWORD* done);
    // Ends the event wait's pending WaitCommEvent and waits until the driver
    // has released its OVERLAPPED record.
    void AbortPendingWait(HANDLE h);
    // The event wait when WaitCommEvent cannot wait (see kFallbackPollMs).
    WaitStatus PollWait(HANDLE h, uint32_t* events);
    // Whether the device still answers (ClearCommError succeeds).
    static bool DeviceAnswers(HANDLE h, DWORD* error);

    mutable std::shared_mutex rw_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    // Written by whoever applies the settings while others hold rw_ shared
    // too: atomic.
    std::atomic<DWORD> baud_{9600};
    // The driver keeps RTS_CONTROL_TOGGLE (asked once per open; -1 unknown).
    std::atomic<int> toggle_{-1};

    const HANDLE wakeEvent_;    // auto-reset: ends one Wait
    const HANDLE cancelEvent_;  // manual-reset: set while Close() runs
    const HANDLE waitEvent_;    // manual-reset: the event wait's OVERLAPPED

    OVERLAPPED waitOv_{};  // event thread only
    DWORD waitMask_ = 0;   // written by the driver when the wait completes
    std::atomic<uint32_t> mask_{0};
    // Counts mask changes: a wait ended by SetMask starts again.
    std::atomic<uint32_t> maskGen_{0};
    std::atomic<bool> txPending_{false};
    // Bytes were taken from the input queue since the fallback last looked.
    std::atomic<bool> consumed_{false};
    // The fallback's view of the queues (event thread only).
    bool polling_ = false;
    DWORD lastInQue_ = 0;
};

}  // namespace kelm::win32
