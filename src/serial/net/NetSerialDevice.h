#pragma once
// A bus behind the network, as a serial port: the device the component opens
// for the port names tcp://, rfc2217:// and mbtcp:// (NetAddress.h).
//
//  - tcp: the bytes go to and come from a serial device server as they are
//    on the wire (RTU or ASCII). The line settings live on the server:
//    ApplyDcb is accepted and has no effect.
//  - rfc2217: the same through Telnet with the COM port control option; the
//    baud rate, data bits, parity, stop bits and flow control of every
//    ApplyDcb are sent to the server, which then sets its serial line.
//    ApplyDcb waits (up to kAckTimeoutMs) for the server to confirm them, so
//    that a request sent right after a change goes out at the new settings.
//  - mbtcp: a Modbus TCP gateway. Each Write must be one RTU request with a
//    valid CRC; it is sent as an MBAP frame (transaction ids counting up,
//    unit id = the address). The reply to the latest request comes back as
//    the RTU frame the engine expects; other replies are dropped. Anything
//    else (an ASCII frame) is refused: the write fails with EPROTO, the
//    component reports a comm error whose text (ErrorText) says why, and
//    nothing is sent.
//
// A connection that drops (closed by the server, reset, or found dead by
// the keep-alive) is a lost port, reported as the tty backend reports a
// vanished device: Wait returns Lost, ClearError CE_PORT_LOST, writes EIO.
// Bytes that came before the loss are still delivered first.
//
// Locking: rw_ guards opening and closing (held shared by every operation
// on an open connection, exclusively by Open and Close; Close cancels the
// socket's waits and the host lookup first). fillMutex_ lets one thread at a time read the
// socket and run the MBAP decoder; telnetMutex_ guards the Telnet session
// state (decoded on receive, read for escaping and by ApplyDcb); inMutex_
// guards the input queue and the loss state; sendMutex_ keeps data and Telnet
// answers from interleaving on the socket; textMutex_ guards the error texts;
// settingsMutex_ the stored settings. The event wait holds rw_ shared while
// it blocks: nothing that waits for the exclusive lock may run without
// cancelling the socket first (only Open and Close take it).
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "serial/SerialDevice.h"
#include "serial/net/HostLookup.h"
#include "serial/net/Mbap.h"
#include "serial/net/NetAddress.h"
#include "serial/net/Socket.h"
#include "serial/net/Telnet.h"

namespace kelm::net {

class NetSerialDevice final : public ISerialDevice {
  public:
    struct Options {
        int connectTimeoutMs = kDefaultConnectTimeoutMs;
        // How the connection is made (a test may script it).
        std::function<std::unique_ptr<ISocket>()> makeSocket;
        // How a host name is looked up (a test may script it); the system's
        // lookup when empty. It gets the same time as the connect, in all.
        HostLookupFn lookUp;
    };

    NetSerialDevice();
    explicit NetSerialDevice(Options options);
    ~NetSerialDevice() override;

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

    // Longest wait for the server to confirm new line settings.
    static constexpr int kAckTimeoutMs = 2000;
    // Longest wait without progress of a send or a waited read without a
    // time-out of its own.
    static constexpr int kIdleCapMs = 5000;
    // Received bytes kept at most; beyond it the socket is left unread
    // (TCP then holds the server back).
    static constexpr size_t kMaxQueue = 1 << 20;
    // How long bytes that came before a loss wait to be read.
    static constexpr int kLostGraceMs = 1000;

  private:
    // Reads what the socket has into the queue through the decoders. Called
    // with rw_ held (either way). Returns whether any bytes came. fromWait:
    // called by the event wait, which reports what it queued itself.
    bool Fill(bool fromWait = false);
    bool FillLocked(bool* queued);
    // Sends bytes as they are (already encoded), with sendMutex_ held by the
    // caller. False with *error.
    bool SendRaw(const std::string& bytes, int* error);
    void MarkLost(const std::string& reason);
    size_t QueuedLocked() const { return inQ_.size() - inHead_; }
    void SetOpenText(int code, std::string text);
    // Waits for the server's answer to the COM port option (Open).
    int NegotiateRfc2217();

    // Looks the host up and connects to its addresses in turn, all within
    // the connect time-out. 0, or an error code with *reason.
    int Connect(const NetAddress& address, std::string* reason);

    const Options options_;
    std::unique_ptr<ISocket> sock_;
    HostLookupCancel lookupCancel_;  // Close ends a lookup that Open waits for

    mutable std::shared_mutex rw_;
    std::atomic<bool> open_{false};
    NetKind kind_ = NetKind::Tcp;  // set by Open (rw_ exclusive)
    // settingsMutex_ guards what is only stored (never held while waiting).
    mutable std::mutex settingsMutex_;
    TCommTimeouts timeouts_{};
    uint32_t inSize_ = 4096, outSize_ = 4096;
    TDCB applied_{};
    bool haveApplied_ = false;

    std::mutex fillMutex_;
    MbapReader mbap_;  // fillMutex_
    mutable std::mutex telnetMutex_;
    TelnetClient telnet_;       // telnetMutex_
    bool acksMissing_ = false;  // telnetMutex_: the server did not confirm once, do not wait again

    std::mutex inMutex_;
    std::string inQ_;
    size_t inHead_ = 0;
    bool lost_ = false;
    std::string lostReason_;

    std::mutex sendMutex_;
    std::atomic<uint16_t> transaction_{0};  // latest request's id
    std::atomic<bool> awaitingReply_{false};
    std::atomic<size_t> stale_{0};  // replies dropped (not the latest request's)

    std::atomic<uint32_t> mask_{0};
    std::atomic<bool> wakeRequested_{false};
    std::atomic<bool> unreported_{false};  // bytes queued outside the event wait
    std::atomic<bool> txPending_{false};
    std::atomic<int> waiters_{0};

    mutable std::mutex textMutex_;
    int openCode_ = 0;
    std::string openText_;
    std::string refusal_;  // why the last write was refused (EPROTO)

  public:
    // Replies dropped because they answered an older request (mbtcp).
    size_t StaleReplies() const { return stale_; }
};

}  // namespace kelm::net
