#pragma once
// A TCP client connection as the network ports need it: the operating
// system's side, behind one small interface (posix/Socket.cpp on Linux; a
// winsock backend can implement the same).
//
// Thread safety: Wake() and Cancel() may be called from any thread at any
// time. Everything else is called by the owner under its own locking:
// Connect and Close never run while another call uses the socket.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kelm::net {

// How long a connect may take before it is given up.
inline constexpr int kDefaultConnectTimeoutMs = 3000;
// Keep-alive: an idle connection is probed after kKeepIdleS seconds, every
// kKeepIntervalS seconds, kKeepCount times; data not acknowledged within
// kUserTimeoutMs ends the connection. A dead server or a pulled cable is so
// noticed within about 11 seconds.
inline constexpr int kKeepIdleS = 5;
inline constexpr int kKeepIntervalS = 2;
inline constexpr int kKeepCount = 3;
inline constexpr int kUserTimeoutMs = 10000;

class ISocket {
  public:
    enum class Ready { Readable, Woken, Cancelled, Timeout, Failed };

    virtual ~ISocket() = default;

    // Resolves host and connects (each address in turn) without blocking
    // longer than timeoutMs in all; sets TCP_NODELAY and the keep-alive.
    // Returns 0, or an error code with *reason saying why in words
    // ("connection refused", "timed out after 3 s", "unknown host ...").
    virtual int Connect(const std::string& host, uint16_t port, int timeoutMs,
                        std::string* reason) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    virtual intptr_t Handle() const = 0;

    // Takes what has arrived, without waiting: > 0 bytes; 0 when the peer has
    // closed the connection; -1 with *error EAGAIN when nothing is there, or
    // another code when the connection failed.
    virtual long Receive(uint8_t* buf, size_t n, int* error) = 0;
    // Sends all n bytes, waiting for room; gives up after idleTimeoutMs
    // without progress, or when Cancel() is called. False with *error.
    virtual bool SendAll(const uint8_t* buf, size_t n, int idleTimeoutMs, int* error) = 0;
    // Waits until the socket is readable (when watchSocket), Wake() was
    // called (when watchWake; the wake-up is consumed), Cancel() was called,
    // or timeoutMs (-1: no limit) has passed.
    virtual Ready Wait(bool watchSocket, bool watchWake, int timeoutMs) = 0;
    virtual void Wake() = 0;
    // Ends waits and sends until ClearCancel().
    virtual void Cancel() = 0;
    virtual void ClearCancel() = 0;
    // Bytes handed over and not yet acknowledged by the peer.
    virtual uint32_t Unsent() = 0;

    virtual std::string ErrorText(int code) const = 0;
};

// The backend of this platform. It also provides SystemHostLookup
// (HostLookup.h), the lookup that NetSerialDevice runs within its connect
// time-out before it hands Connect the numeric addresses one by one.
std::unique_ptr<ISocket> CreateSocket();

// Whether an error code of Receive or SendAll means the connection is gone.
bool IsConnectionLost(int error);

}  // namespace kelm::net
