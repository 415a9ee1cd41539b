#include "modules/MasterTransactor.h"

#include <QEventLoop>
#include <QTimer>
#include <optional>

#include "modbus/Checks.h"
#include "modbus/ModbusMaster.h"
#include "modbus/Transaction.h"

namespace kelm {

namespace {

// How often a wait looks at whether the port is still open.
constexpr int kPortCheckMs = 50;

// The reply body (without its check) when the frame answers the request:
// the request's address, its function code (or the exception code), and the
// length the request fixes. ASCII frames still carry their LRC position.
std::optional<bus::TransactionResult> Answer(const ByteString& request, const Frame& frame,
                                             std::size_t expected) {
    if (frame.size() < kExceptionBodyLength || frame[0] != request[0]) return std::nullopt;
    const ByteString& bytes = frame.bytes();
    bus::TransactionResult r;
    if (frame[1] == (request[1] | 0x80)) {
        r.outcome = bus::Outcome::Exception;
        r.exceptionCode = frame[2];
        r.body.assign(bytes.begin(), bytes.begin() + kExceptionBodyLength);
        return r;
    }
    if (frame[1] != request[1] || frame.size() < expected || frame.size() > expected + 1)
        return std::nullopt;
    r.outcome = bus::Outcome::Reply;
    r.body.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(expected));
    return r;
}

}  // namespace

MasterTransactor::MasterTransactor(ModbusMaster& master, bus::LineSettings line,
                                   std::function<bool()> portOpen)
    : master_(master), line_(line), portOpen_(std::move(portOpen)) {}

MasterTransactor::~MasterTransactor() {
    master_.SetReplyTap({});
}

bool MasterTransactor::SwitchLine(const bus::LineSettings& line) {
    return line.baud == line_.baud && line.evenParity == line_.evenParity &&
           line.protocol == line_.protocol;
}

void MasterTransactor::Settle(std::chrono::milliseconds quiet) {
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(quiet.count()), &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

bus::TransactionResult MasterTransactor::Transact(const ByteString& requestBody,
                                                  const bus::RequestOptions& options) {
    bus::TransactionResult result;
    const auto expected = ExpectedReplyBodyLength(requestBody);
    const int protocolIndex = master_.ProtocolIndex();
    const ByteString frame = FrameForProtocol(requestBody, protocolIndex);
    if (!expected || frame.empty()) {
        // Nothing that could be answered goes out.
        result.outcome = bus::Outcome::Timeout;
        return result;
    }
    const auto timeout = options.timeout.value_or(kDefaultTimeout);
    for (int attempt = 0; attempt <= std::max(0, options.retries); ++attempt) {
        result = {};
        result.attempts = attempt + 1;
        if (!PortOpen()) {
            result.outcome = bus::Outcome::PortLost;
            return result;
        }
        QEventLoop loop;
        std::optional<bus::TransactionResult> answer;
        master_.SetReplyTap([&](const Frame& f) {
            if (answer) return;
            answer = Answer(requestBody, f, *expected);
            if (answer) loop.quit();
        });
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
        QTimer portCheck;
        bool lost = false;
        QObject::connect(&portCheck, &QTimer::timeout, &loop, [&] {
            if (!PortOpen()) {
                lost = true;
                loop.quit();
            }
        });
        // The panels' requests record their first register for their reply
        // handlers; this request records its own, so that the line's monitor
        // reads it right.
        master_.State().Modbus_Reg_Addr =
            static_cast<std::uint16_t>(requestBody[2] << 8 | requestBody[3]);
        const auto sent = std::chrono::steady_clock::now();
        master_.KELM_Uart_Send_String(frame);
        deadline.start(static_cast<int>(timeout.count()));
        portCheck.start(kPortCheckMs);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
        master_.SetReplyTap([](const Frame&) {});
        if (answer) {
            answer->attempts = attempt + 1;
            answer->replyTime = std::chrono::duration_cast<std::chrono::microseconds>(
                std::chrono::steady_clock::now() - sent);
            return *answer;
        }
        if (lost || !PortOpen()) {
            result.outcome = bus::Outcome::PortLost;
            return result;
        }
        result.outcome = bus::Outcome::Timeout;
    }
    return result;
}

}  // namespace kelm
