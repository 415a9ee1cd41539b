#include "live/TrendPoller.h"

#include <algorithm>
#include <limits>

#include "modbus/ModbusMaster.h"
#include "modbus/Models.h"

namespace kelm {

namespace {
// A closed port is looked at again after this long.
constexpr int kPortRetryMs = 500;

// The model's name as the master's model table holds it: poll requests keep
// a view of it while they are on the line.
std::string_view StableModelName(const std::string& model) {
    const ModelInfo* m = FindModelByName(model);
    return m != nullptr ? m->name : std::string_view{};
}
}  // namespace

TrendPoller::TrendPoller(ModbusMaster& master, ITimer& lineTimer, ITimer& waitTimer,
                         std::function<std::int64_t()> nowMs)
    : master_(master), lineTimer_(lineTimer), waitTimer_(waitTimer), nowMs_(std::move(nowMs)) {
    waitTimer_.SetEnabled(false);
    waitTimer_.SetOnTimer([this] {
        waitTimer_.SetEnabled(false);
        waiting_ = false;
        if (running_ && master_.Line() == LineState::Free) Next();
    });
}

TrendPoller::~TrendPoller() {
    Stop();
    waitTimer_.SetOnTimer({});
}

void TrendPoller::SetChannels(std::vector<ChannelId> channels) {
    chosen_ = std::move(channels);
    dirty_ = true;
}

std::string TrendPoller::UnitOf(const ChannelId& c) const {
    for (const Module& m : modules_)
        if (m.address == c.address && m.model == c.model) return kelm::UnitOf(c, m.state);
    return kelm::UnitOf(c, LiveModuleState{});
}

void TrendPoller::Rebuild() {
    channels_ = chosen_;
    std::vector<Module> old = std::move(modules_);
    modules_.clear();
    for (std::size_t i = 0; i < channels_.size(); ++i) {
        const ChannelId& c = channels_[i];
        auto it = std::find_if(modules_.begin(), modules_.end(), [&](const Module& m) {
            return m.address == c.address && m.model == c.model;
        });
        if (it == modules_.end()) {
            Module m;
            m.address = c.address;
            m.model = c.model;
            // What is known of a module stays known.
            for (const Module& o : old)
                if (o.address == m.address && o.model == m.model) m.state = o.state;
            modules_.push_back(std::move(m));
            it = modules_.end() - 1;
        }
        it->channels.push_back(i);
    }
    dirty_ = false;
}

void TrendPoller::Start() {
    if (running_) return;
    running_ = true;
    inRound_ = false;
    roundNo_ = 0;
    master_.AttachPoller(this, &lineTimer_);
    if (master_.Line() == LineState::Free) Next();
}

void TrendPoller::Stop() {
    if (!running_) return;
    running_ = false;
    inRound_ = false;
    waiting_ = false;
    waitTimer_.SetEnabled(false);
    if (master_.Poller() == this) master_.AttachPoller(nullptr, nullptr);
}

void TrendPoller::Wait(int ms) {
    waiting_ = true;
    waitTimer_.SetEnabled(false);
    waitTimer_.SetInterval(std::max(ms, 1));
    waitTimer_.SetEnabled(true);
}

void TrendPoller::StartRound() {
    if (dirty_) Rebuild();
    plan_.clear();
    pos_ = 0;
    for (std::size_t mi = 0; mi < modules_.size(); ++mi) {
        Module& m = modules_[mi];
        std::vector<ChannelKind> kinds;
        for (std::size_t ci : m.channels) kinds.push_back(channels_[ci].kind);
        for (const LiveRead& r : ReadsFor(m.model, kinds)) {
            if (r.config && m.state.modesKnown && roundNo_ % kConfigEveryRounds != 0) continue;
            plan_.push_back(Step{mi, r});
        }
    }
    round_ = LiveRound{};
    round_.timeMs = nowMs_();
    round_.values.assign(channels_.size(), std::numeric_limits<double>::quiet_NaN());
    inRound_ = true;
}

void TrendPoller::Next() {
    if (!running_ || waiting_) return;
    if (!inRound_) {
        if (portOpen_ && !portOpen_()) {
            Wait(kPortRetryMs);
            return;
        }
        StartRound();
        if (plan_.empty()) {
            // Nothing chosen yet: look again later.
            inRound_ = false;
            Wait(kPortRetryMs);
            return;
        }
    }
    if (pos_ >= plan_.size()) {
        FinishRound();
        const std::int64_t next = round_.timeMs + intervalMs_;
        const std::int64_t now = nowMs_();
        if (intervalMs_ > 0 && now < next) {
            Wait(static_cast<int>(next - now));
            return;
        }
        if (!running_) return;
        Next();
        return;
    }
    const Step& s = plan_[pos_];
    const Module& m = modules_[s.module];
    PollRequest r;
    r.address = m.address;
    r.functionCode = s.read.functionCode;
    r.regAddr = s.read.regAddr;
    r.quantity = s.read.quantity;
    r.model = StableModelName(m.model);
    r.mirror = s.read.mirror;
    // Refused while the line is busy: OnLineFree comes when it is free. With
    // no protocol selected nothing can be sent: try again later.
    if (!master_.SendPoll(r) && master_.Line() == LineState::Free) Wait(kPortRetryMs);
}

void TrendPoller::FinishRound() {
    inRound_ = false;
    ++roundNo_;
    ++rounds_;
    round_.channels = channels_;
    round_.units.resize(channels_.size());
    for (std::size_t i = 0; i < channels_.size(); ++i) round_.units[i] = UnitOf(channels_[i]);
    if (onRound) onRound(round_);
}

void TrendPoller::OnPollReply(const PollRequest& request, const Frame& Pbuf) {
    if (!inRound_ || pos_ >= plan_.size()) return;
    const Step& s = plan_[pos_];
    Module& m = modules_[s.module];
    if (request.address != m.address || request.regAddr != s.read.regAddr) return;
    ++replies_;
    ++pos_;
    if (Pbuf[1] & 0x80) {  // an exception: the module refuses the read
        ++round_.failed;
        ++failures_;
        return;
    }
    ApplyConfigReply(m.model, s.read, Pbuf, m.state);
    for (std::size_t ci : m.channels) {
        if (ci >= round_.values.size()) continue;
        LiveValue v;
        if (DecodeChannel(channels_[ci], s.read, Pbuf, m.state, &v)) round_.values[ci] = v.value;
    }
}

void TrendPoller::OnPollFailed(const PollRequest&, PollFailure) {
    if (!inRound_ || pos_ >= plan_.size()) return;
    ++pos_;
    ++round_.failed;
    ++failures_;
}

void TrendPoller::OnLineFree() {
    Next();
}

}  // namespace kelm
