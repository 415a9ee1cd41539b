#pragma once
// The Linux backend of a serial port: a tty opened exclusively (TIOCEXCL and
// flock), configured through termios, watched with epoll.
//
// The event wait blocks in epoll_wait on the port (edge-triggered, so that
// every arrival of characters is one event even while older ones are still
// queued, as the driver's received-character event is) and on two eventfds:
// one that ends the wait (Wake) and one that only makes it look again (a
// write was started, the mask changed). A time-out is used only while output
// is draining and EV_TXEMPTY is asked for, and while modem-line events are
// asked for (the tty reports line changes to no poll). Idle, it costs nothing.
//
// Input queue: like a serial driver's own input buffer, received bytes are
// moved out of the tty into a queue of ours as soon as they arrive (by the
// event wait, or by whoever asks for the queue state or reads). The tty's
// own buffer is small (4 KiB on a pty); emptying it at once keeps the line
// flowing while the GUI thread is busy delivering, and lets one event hand
// over everything queued. The queue holds what SetupQueues asked for, at
// least kMinInputQueue bytes; when it is full, the rest stays in the tty.
//
// Locking: rw_ guards fd_ and the settings. Every operation holds it shared
// while it uses the descriptor; Close() signals cancelFd_ so that waited reads
// and writes give up, then takes it exclusively. The event wait holds it only
// around its bookkeeping, never while blocked. icountMutex_ guards the error
// counter baselines; inMutex_ guards the input queue's indexes and lost_ (taken
// inside rw_); fillMutex_ lets one thread at a time read the tty into it.
#include <linux/serial.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "serial/SerialDevice.h"
#include "serial/posix/TtyCalls.h"

namespace kelm::posix {

class PosixSerialDevice final : public ISerialDevice {
  public:
    // calls: how the tty is reached (the system's, or a test's stand-in
    // that answers as a particular driver would).
    explicit PosixSerialDevice(std::shared_ptr<TtyCalls> calls = SystemTtyCalls());
    ~PosixSerialDevice() override;

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

    static constexpr uint32_t kMinInputQueue = 64 * 1024;
    // Longest wait without progress of a waited read or write that has no
    // time-out of its own.
    static constexpr int kIdleCapMs = 5000;
    // Longest pause of the event wait while output is queued and the
    // transmit-empty event is asked for (the pause doubles while the queue
    // does not move, as when flow control holds the line).
    static constexpr int kTxPollCapMs = 100;

  private:
    int Setup(int fd);
    int AttachLocked(int fd);
    // Moves what the tty holds into the input queue while there is room,
    // up to the first short read (untilEmpty: until the tty has nothing in
    // hand). Called with rw_ held (shared), without inMutex_. Sets lost_
    // when the tty has hung up. consumer: reads only a tty that holds bytes
    // and gives way to a filler at work instead of waiting for it.
    void Fill(bool consumer = false, bool untilEmpty = false);
    // Bytes queued: ours plus what the tty still holds. rw_ and inMutex_ held.
    uint32_t QueuedLocked();
    void ResetInputLocked();
    // Whether errno after a failed call means the device has gone.
    static bool IsLostErrno(int e);
    // Line-error flags accumulated since the given baseline; updates it.
    uint32_t TakeLineErrors(int fd, serial_icounter_struct& baseline, bool* supported);
    // Waits until fd is readable/writable, the timeout passes (-1: none) or
    // Close() cancels. Returns 1 ready, 0 timeout, -1 cancelled or failed.
    int WaitFd(int fd, short events, int timeoutMs);
    static void Drain(int efd);
    static void Kick(int efd);

    const std::shared_ptr<TtyCalls> io_;
    mutable std::shared_mutex rw_;
    int fd_ = -1;
    TCommTimeouts timeouts_{};
    uint32_t inQueue_ = 4096, outQueue_ = 4096;
    // Written by whoever applies the settings, read by the event wait and
    // the transmitter drain, both under rw_ shared only: atomic.
    std::atomic<uint32_t> baud_{9600};
    // The driver answers TIOCSERGETLSR (per open; a pty does not).
    std::atomic<bool> lsrSupported_{true};

    const int epollFd_;
    const int wakeFd_;    // ends a Wait
    const int kickFd_;    // makes a Wait look again
    const int cancelFd_;  // ends waited reads and writes while closing

    std::atomic<uint32_t> mask_{0};
    std::atomic<bool> txPending_{false};
    std::atomic<bool> outMayBeQueued_{true};
    std::atomic<int> waiters_{0};  // threads inside Wait()
    std::atomic<bool> icountSupported_{true};
    int lastModem_ = -1;  // event thread only
    // The event wait's output-queue watch: the count seen last and the
    // pause that followed it (event thread only).
    int lastOutq_ = -1;
    int txPollMs_ = 0;

    std::mutex fillMutex_;  // one reader of the tty at a time; taken before inMutex_
    std::mutex inMutex_;
    // The input queue: a ring of inCap_ bytes, inSize_ of them queued from
    // inHead_ on. Allocated at open.
    std::unique_ptr<uint8_t[]> inRing_;
    size_t inCap_ = 0, inHead_ = 0, inSize_ = 0;
    bool ttyMayHoldMore_ = false;  // the last fill stopped with the queue full
    // A consumer has read the tty since the event wait last did: what woke
    // the wait may be gone.
    std::atomic<bool> consumerRead_{false};
    bool lost_ = false;
    // Copies up to n queued bytes out. inMutex_ held.
    size_t TakeLocked(uint8_t* out, size_t n);

    std::mutex icountMutex_;
    serial_icounter_struct clearBase_{};  // ClearError's baseline
    serial_icounter_struct eventBase_{};  // the event wait's baseline
};

}  // namespace kelm::posix
