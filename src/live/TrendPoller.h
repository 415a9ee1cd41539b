#pragma once
// The live view's poller: reads each chosen module in turn with the requests
// its panel uses, one request at a time, through the master's poll
// conversation (modbus/PollConversation.h), and hands over one round of
// values after every pass over the modules.
//
// Runs on the master's thread (the GUI thread); no Qt.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "live/LiveModels.h"
#include "modbus/Interfaces.h"
#include "modbus/PollConversation.h"

namespace kelm {

class ModbusMaster;

struct LiveRound {
    std::int64_t timeMs = 0;          // the clock at the start of the round
    std::vector<ChannelId> channels;  // the channels read in this round
    std::vector<double> values;       // per channel, in channel order; NaN missing
    std::vector<std::string> units;
    int failed = 0;  // requests of the round that got no usable reply
};

class TrendPoller : public IPollClient {
  public:
    // lineTimer bounds each conversation on the line (the master's gate);
    // waitTimer paces the rounds. nowMs is a monotonic clock in ms.
    TrendPoller(ModbusMaster& master, ITimer& lineTimer, ITimer& waitTimer,
                std::function<std::int64_t()> nowMs);
    ~TrendPoller() override;
    TrendPoller(const TrendPoller&) = delete;
    TrendPoller& operator=(const TrendPoller&) = delete;

    // The channels; a round under way finishes with the old set, the next
    // one reads the new.
    void SetChannels(std::vector<ChannelId> channels);
    const std::vector<ChannelId>& Channels() const { return chosen_; }
    // Time from the start of one round to the next; 0: as fast as the line
    // allows.
    void SetIntervalMs(int ms) { intervalMs_ = ms < 0 ? 0 : ms; }
    int IntervalMs() const { return intervalMs_; }
    // Whether the port is open; while it is not, no round is started.
    void SetPortOpen(std::function<bool()> portOpen) { portOpen_ = std::move(portOpen); }

    // Attaches to the master and starts reading; Stop detaches (a user
    // request held for the poll goes out at once).
    void Start();
    void Stop();
    bool Running() const { return running_; }

    std::function<void(const LiveRound&)> onRound;

    std::uint64_t Rounds() const { return rounds_; }
    std::uint64_t Replies() const { return replies_; }
    std::uint64_t Failures() const { return failures_; }
    // The unit a channel has now ("" until its mode is known).
    std::string UnitOf(const ChannelId& channel) const;

  private:
    void OnPollReply(const PollRequest& request, const Frame& Pbuf) override;
    void OnPollFailed(const PollRequest& request, PollFailure why) override;
    void OnLineFree() override;

    struct Module {
        std::uint8_t address = 0;
        std::string model;
        LiveModuleState state;
        std::vector<std::size_t> channels;  // indexes into channels_
    };
    struct Step {
        std::size_t module = 0;
        LiveRead read;
    };
    void Rebuild();
    void StartRound();
    void Next();
    void FinishRound();
    void Wait(int ms);

    ModbusMaster& master_;
    ITimer& lineTimer_;
    ITimer& waitTimer_;
    std::function<std::int64_t()> nowMs_;
    std::function<bool()> portOpen_;
    std::vector<ChannelId> chosen_;    // as last set
    std::vector<ChannelId> channels_;  // read in the current round
    std::vector<Module> modules_;
    bool dirty_ = true;
    int intervalMs_ = 0;
    bool running_ = false;
    bool waiting_ = false;  // for the wait timer
    bool inRound_ = false;
    std::vector<Step> plan_;
    std::size_t pos_ = 0;
    LiveRound round_;
    std::uint64_t roundNo_ = 0;
    std::uint64_t rounds_ = 0;
    std::uint64_t replies_ = 0;
    std::uint64_t failures_ = 0;
};

}  // namespace kelm
