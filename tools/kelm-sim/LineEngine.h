#pragma once
// The slave's timing on one line: collects bytes until the line falls
// silent, hands the frame to the bus, and sends the reply after the reply
// delay. New communication settings are applied once the acknowledgement has
// been written. Driven by its owner's loop through OnBytes / OnTimer /
// NextDeadline; it never reads a clock or touches the operating system.
// Not thread-safe: one thread drives it (PtyServer / DeviceServer).
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "kelm-sim/SimBus.h"
#include "kelm-sim/SimTypes.h"
#include "modbus/Bytes.h"

namespace kelm::sim {

// The line as the engine sees it.
class LinePort {
  public:
    virtual ~LinePort() = default;
    // How the line is set now.
    virtual LineSettings Settings() = 0;
    // Writes a reply; false when it could not be written whole.
    virtual bool Write(const ByteString& bytes) = 0;
    // A module has taken new settings. A port the simulator configures itself
    // (a real device) follows it; a pty, set by the master, does nothing.
    virtual void FollowModule(std::uint8_t format, Protocol protocol) {
        (void)format;
        (void)protocol;
    }
};

// Shortest silence that ends a frame. Modbus asks for 3.5 characters; on a
// pty or a USB adaptor bytes come in bursts whose gaps have nothing to do
// with the baud rate, so never less than this.
inline constexpr std::chrono::milliseconds kMinSilence{10};
inline constexpr std::chrono::milliseconds kDefaultReplyDelay{10};

// Silence that ends a frame at this baud rate (3.5 characters of 11 bits).
SimTime FrameSilence(unsigned baud);

class LineEngine {
  public:
    using LogSink = std::function<void(const std::string&)>;

    LineEngine(SimBus& bus, LinePort& port, std::chrono::milliseconds replyDelay, LogSink log);

    // Bytes heard at `now`.
    void OnBytes(const std::uint8_t* data, std::size_t n, SimTime now);
    // Does what is due at `now`: ends a frame after silence, sends replies.
    void OnTimer(SimTime now);
    // When OnTimer next has something to do; nullopt when idle.
    std::optional<SimTime> NextDeadline() const;

    std::size_t framesHeard() const { return framesHeard_; }
    std::size_t repliesSent() const { return repliesSent_; }

  private:
    struct PendingReply {
        SimTime due;
        ByteString bytes;
        bool applySettings;
    };

    void EndFrame(SimTime now);
    void ApplySettings();
    void Log(const std::string& line) const;

    SimBus& bus_;
    LinePort& port_;
    std::chrono::milliseconds replyDelay_;
    LogSink log_;
    ByteString frame_;
    SimTime frameEnd_{0};  // when the frame being collected counts as complete
    std::deque<PendingReply> replies_;
    std::size_t framesHeard_ = 0;
    std::size_t repliesSent_ = 0;
};

// A frame for the log: its bytes in hex, and for ASCII frames the text.
std::string DescribeFrame(const ByteString& frame);

}  // namespace kelm::sim
