#pragma once
// A Modbus master for programs without a GUI toolkit: one serial line opened
// through the serial component (exclusive open, line settings, RS-485
// direction, loss detection), one request at a time, each with a response
// time-out and retries. The window does not use it; it keeps its own
// receiver.
//
// Threads: the component's event and dispatch threads hand every received
// chunk to the thread that created the client (a LoopExecutor), and only
// while that thread waits inside Transact() or Settle(); everything the
// client keeps is touched by that thread alone. A client is used from one
// thread.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "modbus/Bytes.h"
#include "modbus/Transaction.h"

namespace kelm {
class LoopExecutor;
}

namespace kelm::bus {

using kelm::WireProtocol;

// A module's line: the baud rate, the parity (stop bits follow it: none with
// 2, even with 1) and the protocol (data bits follow it: 8 RTU, 7 ASCII).
struct LineSettings {
    std::uint32_t baud = 9600;
    bool evenParity = false;
    WireProtocol protocol = WireProtocol::Rtu;
    // Have the component switch the transceiver by RTS around each request.
    bool rs485 = false;
};

// The module serial format code of a line (baud index + 8 for even parity),
// nullopt for a baud rate the modules do not have.
std::optional<int> FormatCodeOf(const LineSettings& line);
// The line of a format code 0-15 in a protocol, nullopt outside 0-15.
std::optional<LineSettings> LineOfFormatCode(int code, WireProtocol protocol);

enum class OpenFailure : std::uint8_t { None, Busy, Permission, Missing, NotSerial, Other };

struct OpenResult {
    OpenFailure failure = OpenFailure::None;
    int error = 0;           // errno of the failed open
    std::string systemText;  // the component's open-failure message
    bool ok() const { return failure == OpenFailure::None; }
};

// What a user should read about a failed open of portName: the cause, and
// what to do about it (the dialout group, the other program, the port list).
std::string DescribeOpenFailure(const std::string& portName, const OpenResult& result);

struct RequestOptions {
    // nullopt: DefaultResponseTimeout() for the request and the line.
    std::optional<std::chrono::milliseconds> timeout;
    int retries = 0;  // further attempts after a time-out
};

enum class Outcome : std::uint8_t { Reply, Exception, Timeout, PortLost };

struct TransactionResult {
    Outcome outcome = Outcome::Timeout;
    ByteString body;  // Reply and Exception: the reply without its check
    std::uint8_t exceptionCode = 0;
    int attempts = 0;
    // Bytes received during the last attempt that answered nothing (another
    // module's frame, a collision, noise).
    std::size_t strayBytes = 0;
    // Reply/Exception: bytes that came in with the answer and are not part of
    // it (noise before it, or a second module answering the same address).
    std::size_t extraBytes = 0;
    // From the last request's hand-over to its reply (Reply/Exception).
    std::chrono::microseconds replyTime{0};
};

// One request at a time to the modules of a line, whoever carries it: the
// command line's BusClient, or the window's master (which keeps its own port
// settings). Item reads and writes and configuration restores go through it.
class Transactor {
  public:
    virtual ~Transactor() = default;
    // Sends one request body and waits for its answer (see BusClient).
    virtual TransactionResult Transact(const ByteString& requestBody,
                                       const RequestOptions& options) = 0;
    virtual const LineSettings& Line() const = 0;
    // Moves to other line settings; false (and nothing changed) where the
    // line's settings are not this client's to change.
    virtual bool SwitchLine(const LineSettings& line) = 0;
    // Lets the line go quiet for the given time.
    virtual void Settle(std::chrono::milliseconds quiet) = 0;
};

class BusClient : public Transactor {
  public:
    BusClient();
    ~BusClient() override;
    BusClient(const BusClient&) = delete;
    BusClient& operator=(const BusClient&) = delete;

    // Opens portName (a device path, a /dev/serial/by-id link or any name the
    // serial component opens) with the line settings.
    OpenResult Open(const std::string& portName, const LineSettings& line);
    void Close();
    bool IsOpen() const;

    // Changes the line settings of the open port; bytes received under the
    // old settings are dropped.
    void SetLine(const LineSettings& line);
    const LineSettings& Line() const override { return line_; }
    bool SwitchLine(const LineSettings& line) override {
        SetLine(line);
        return true;
    }

    // Sends one request body (address, function, data; the check and the
    // framing are added here) and waits for its answer. Bytes received before
    // the request goes out (a late reply to an earlier request) are dropped,
    // and the request keeps the inter-frame gap after the last traffic. A
    // broadcast (address 0) is answered from address 0, as the modules do.
    TransactionResult Transact(const ByteString& requestBody,
                               const RequestOptions& options = {}) override;

    // The time-out Transact() uses for a request without its own.
    std::chrono::milliseconds DefaultTimeout(const ByteString& requestBody) const;

    // Lets the line go quiet for the given time, dropping what arrives.
    void Settle(std::chrono::milliseconds quiet) override;

    // Bytes received and not yet taken by a request (after running what the
    // component has queued): in the client's buffer and in the driver's.
    std::size_t InputWaiting();

    // Bytes dropped so far because they arrived while no request waited
    // (read and dropped, or purged from the driver).
    std::uint64_t DiscardedBytes() const { return discarded_; }

  private:
    class Port;
    using Clock = std::chrono::steady_clock;

    void ApplyLine();
    // Runs the loop until now is at least `until`, dropping what arrives.
    void DiscardUntil(Clock::time_point until);
    void DropReceived();

    std::unique_ptr<LoopExecutor> executor_;
    std::unique_ptr<Port> port_;
    LineSettings line_;
    ByteString received_;
    bool lost_ = false;
    Clock::time_point lastTraffic_{};
    std::uint64_t discarded_ = 0;
};

}  // namespace kelm::bus
