#pragma once
// The operating-system side of a serial port, behind one small interface: the
// component calls nothing else of the system. posix/PosixSerialDevice is the
// Linux backend (termios, poll, ioctl); a Windows backend would implement the
// same operations with the communications API.
//
// Thread safety: every operation may be called from any thread. Operations
// on an open port run concurrently (the GUI thread writes while the event
// thread waits); Close() waits until operations in progress have returned and
// then closes, so no operation ever uses a closed or reused descriptor.
#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>

#include "serial/ksTypes.h"

namespace kelm {

// Error codes the component tells apart (the system's numbers underneath).
struct SerialErrors {
    static constexpr int kInvalidHandle = 6;  // ERROR_INVALID_HANDLE
    // Whether a write's (or a wait's) system error code means that the
    // device has gone: an unplugged adaptor.
    static constexpr bool IsLost(int code) {
#ifdef _WIN32
        // ERROR_ACCESS_DENIED, ERROR_NOT_READY, ERROR_BAD_COMMAND,
        // ERROR_GEN_FAILURE, ERROR_OPERATION_ABORTED, ERROR_DEVICE_NOT_CONNECTED,
        // ERROR_DEVICE_REMOVED: what the serial and USB serial drivers (and
        // wine on a hung-up tty) answer once their device is removed.
        return code == 5 || code == 21 || code == 22 || code == 31 || code == 995 || code == 1167 ||
               code == 1617;
#else
        return code == EIO || code == ENXIO;
#endif
    }
};

class ISerialDevice {
  public:
    enum class WaitStatus {
        Event,   // *events holds what occurred (not 0)
        Woken,   // Wake() was called
        Lost,    // the device has vanished (hang-up, EIO/ENXIO)
        Closed,  // the port is not open
    };

    virtual ~ISerialDevice() = default;

    // Opens the port by name with exclusive access. Returns 0, or the
    // system's error code (ErrorText gives its text).
    virtual int Open(const std::string& portName) = 0;
    // Adopts a handle opened elsewhere (ownership passes to the device).
    virtual int Adopt(TksHandle handle) = 0;
    // Closes the port; true when it was open. Waits for operations in
    // progress, never for the event wait (wake it first or let it see Closed).
    virtual bool Close() = 0;
    virtual bool IsOpen() const = 0;
    virtual TksHandle NativeHandle() const = 0;
    virtual std::string ErrorText(int code) const = 0;

    // Line settings: the DCB translated for the driver. The result is not
    // examined by the component (a pseudo-terminal refuses some settings).
    virtual bool ApplyDcb(const TDCB& dcb) = 0;
    // Reads the driver's settings back into dcb (fields it cannot express are
    // left as they are).
    virtual bool ReadDcb(TDCB& dcb) = 0;
    virtual bool SetupQueues(uint32_t inSize, uint32_t outSize) = 0;
    virtual bool SetTimeouts(const TCommTimeouts& timeouts) = 0;
    // The driver toggles RTS for RS-485 by itself (true), or the component
    // must drive RTS around each transmission (false). Asked after Open.
    // True only when the driver accepts the RS-485 settings, not merely
    // reports them (a 16550 UART reports them and refuses to set them).
    virtual bool SupportsRs485Toggle() = 0;
    // Switches the driver's RS-485 mode; false when the driver refuses.
    virtual bool SetRs485(bool enabled) = 0;

    // Fetches and clears the line-error flags (CE_*) and the queue status.
    // A vanished device reports CE_PORT_LOST. False when the query failed.
    virtual bool ClearError(uint32_t* errors, TComStat* stat) = 0;

    // Reads up to n bytes that are queued now, without waiting. False on
    // failure (a lost device included).
    virtual bool ReadNow(uint8_t* buf, uint32_t n, uint32_t* got) = 0;
    // A waited read of exactly n bytes under the time-outs set, ended early
    // by a time-out, Close() or a lost device. False when fewer came.
    virtual bool Read(uint8_t* buf, uint32_t n, uint32_t* got) = 0;
    // Writes all n bytes, waiting until the driver has taken them (or the
    // write time-out passes). False on failure; *lastError holds the code.
    virtual bool Write(const uint8_t* buf, uint32_t n, uint32_t* written, int* lastError) = 0;
    virtual bool Purge(uint32_t flags) = 0;
    virtual bool Escape(uint32_t function) = 0;
    virtual bool ModemStatus(uint32_t* status) = 0;
    // Sends one byte ahead of any output still queued where the driver can
    // (it sends flow-control characters that way); elsewhere it is written
    // like any other byte.
    virtual bool TransmitChar(uint8_t ch) = 0;
    // Waits until all output has gone out on the line.
    virtual bool Flush() = 0;
    // Waits until the last byte written has left the transmitter: the
    // driver's queue drained and, where the driver reports it, the UART's
    // FIFO and shift register empty. What RS-485 direction control needs
    // before it turns the transceiver round.
    virtual bool DrainTransmitter() = 0;
    virtual bool Properties(TCommProp* prop) = 0;

    // The event wait. SetMask chooses the events (EV_* bits); Wait blocks,
    // without any time-out while nothing but received characters is watched,
    // until an event occurs, Wake() is called or the device is lost.
    virtual void SetMask(uint32_t mask) = 0;
    virtual uint32_t Mask() const = 0;
    virtual WaitStatus Wait(uint32_t* events) = 0;
    virtual void Wake() = 0;
    // A write has been handed to the driver: the next time the output queue
    // runs empty is reported as EV_TXEMPTY when that is in the mask.
    virtual void NoteTransmit() = 0;

    // The system error code of the last failed operation on this thread.
    virtual int LastError() const = 0;
};

// The backend of this platform.
std::unique_ptr<ISerialDevice> CreateSerialDevice();

}  // namespace kelm
