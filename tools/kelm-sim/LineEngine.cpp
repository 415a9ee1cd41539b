#include "kelm-sim/LineEngine.h"

#include <algorithm>

#include "kelm-sim/SlaveFrame.h"

namespace kelm::sim {
namespace {

// More than this without silence is not a Modbus frame; it is dropped rather
// than kept growing.
constexpr std::size_t kMaxCollect = 2 * kMaxAsciiFrame;

}  // namespace

SimTime FrameSilence(unsigned baud) {
    const SimTime chars{baud == 0 ? 0 : 3'500'000LL * 11 / baud};
    return std::max<SimTime>(chars, kMinSilence);
}

std::string DescribeFrame(const ByteString& frame) {
    std::string s = HexBytes(frame);
    const bool text = !frame.empty() && frame[0] == ':' &&
                      std::all_of(frame.begin(), frame.end(), [](std::uint8_t c) {
                          return (c >= 0x20 && c < 0x7F) || c == '\r' || c == '\n';
                      });
    if (text) {
        s += "  \"";
        for (std::uint8_t c : frame) {
            if (c == '\r')
                s += "\\r";
            else if (c == '\n')
                s += "\\n";
            else
                s += static_cast<char>(c);
        }
        s += '"';
    }
    return s;
}

LineEngine::LineEngine(SimBus& bus, LinePort& port, std::chrono::milliseconds replyDelay,
                       LogSink log)
    : bus_(bus), port_(port), replyDelay_(replyDelay), log_(std::move(log)) {}

void LineEngine::Log(const std::string& line) const {
    if (log_) log_(line);
}

void LineEngine::OnBytes(const std::uint8_t* data, std::size_t n, SimTime now) {
    if (n == 0) return;
    if (frame_.size() + n > kMaxCollect) {
        Log("rx " + std::to_string(frame_.size() + n) +
            " bytes without a pause: not a Modbus frame, dropped");
        frame_.clear();
        return;
    }
    frame_.insert(frame_.end(), data, data + n);
    frameEnd_ = now + FrameSilence(port_.Settings().baud);
}

std::optional<SimTime> LineEngine::NextDeadline() const {
    std::optional<SimTime> next;
    if (!frame_.empty()) next = frameEnd_;
    if (!replies_.empty() && (!next || replies_.front().due < *next)) next = replies_.front().due;
    return next;
}

void LineEngine::OnTimer(SimTime now) {
    if (!frame_.empty() && now >= frameEnd_) EndFrame(now);
    while (!replies_.empty() && now >= replies_.front().due) {
        PendingReply r = std::move(replies_.front());
        replies_.pop_front();
        if (port_.Write(r.bytes)) {
            ++repliesSent_;
            Log("tx " + DescribeFrame(r.bytes));
        } else {
            Log("tx failed: the reply could not be written (" + HexBytes(r.bytes) + ")");
        }
        if (r.applySettings) ApplySettings();
    }
}

void LineEngine::EndFrame(SimTime now) {
    ByteString frame;
    frame.swap(frame_);
    // The delay counts from the end of the frame, even when this call is late.
    const SimTime ended = frameEnd_;
    ++framesHeard_;
    Log("rx " + DescribeFrame(frame));
    BusResult result = bus_.OnFrame(frame, port_.Settings(), now);
    for (const std::string& note : result.notes) Log("   " + note);
    const bool settings = bus_.HasPendingSettings();
    if (result.reply.empty()) {
        // Nothing to acknowledge (a broadcast write): new settings apply at once.
        if (settings) ApplySettings();
        return;
    }
    replies_.push_back(PendingReply{ended + replyDelay_, std::move(result.reply), settings});
}

void LineEngine::ApplySettings() {
    for (std::size_t i : bus_.ApplyPendingSettings()) {
        const SimModule& m = bus_.modules()[i];
        Log("   " + m.Name() + " now uses " + FormatLabel(m.format(), m.protocol()) + " " +
            std::string(ProtocolName(m.protocol())));
        port_.FollowModule(m.format(), m.protocol());
    }
}

}  // namespace kelm::sim
