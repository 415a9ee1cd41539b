#include "kelm-sim/SimBus.h"

#include <optional>

#include "kelm-sim/SlaveFrame.h"

namespace kelm::sim {
namespace {

bool IsWrite(std::uint8_t fc) {
    return fc == 5 || fc == 6 || fc == 15 || fc == 16;
}

}  // namespace

bool IsBroadcastSettingsRead(const ByteString& pdu) {
    return pdu == ByteString{0x03, 0x00, 0x03, 0x00, 0x03};
}

SimBus::SimBus(const std::vector<ModuleConfig>& modules, SimTime start) {
    modules_.reserve(modules.size());
    for (const ModuleConfig& c : modules) modules_.emplace_back(c, start);
}

SimModule* SimBus::Find(std::uint8_t address) {
    for (SimModule& m : modules_)
        if (m.address() == address) return &m;
    return nullptr;
}

BusResult SimBus::OnFrame(const ByteString& frame, const LineSettings& line, SimTime now) {
    BusResult result;
    const std::optional<Request> parsed[2] = {ParseRtuRequest(frame), ParseAsciiRequest(frame)};
    std::vector<ByteString> answers;
    bool addressed = false;
    for (SimModule& m : modules_) {
        const std::optional<Request>& req = parsed[m.protocol() == Protocol::Rtu ? 0 : 1];
        if (!req) continue;
        const bool broadcast = req->address == 0;
        if (!broadcast && req->address != m.address()) continue;
        addressed = true;
        if (!LineMatches(line, m.format(), m.protocol())) {
            result.notes.push_back(m.Name() + " (" + FormatLabel(m.format(), m.protocol()) +
                                   ") does not hear a line at " + DescribeLine(line));
            continue;
        }
        if (broadcast) {
            if (IsBroadcastSettingsRead(req->pdu)) {
                answers.push_back(FrameReply(0, m.Handle(req->pdu, now), m.protocol()));
                result.answeredBy.push_back(m.Name());
            } else if (!req->pdu.empty() && IsWrite(req->pdu[0])) {
                // Broadcast writes are carried out and never answered.
                const ByteString r = m.Handle(req->pdu, now);
                result.notes.push_back(m.Name() + ((!r.empty() && (r[0] & 0x80) != 0)
                                                       ? " refuses the broadcast write"
                                                       : " carries out the broadcast write"));
            }
            continue;
        }
        const ByteString pdu = m.Handle(req->pdu, now);
        if (pdu.empty()) continue;
        if ((pdu[0] & 0x80) != 0 && pdu.size() >= 2)
            result.notes.push_back(m.Name() + " answers with exception " +
                                   HexBytes(ByteString{pdu[1]}));
        answers.push_back(FrameReply(m.address(), pdu, m.protocol()));
        result.answeredBy.push_back(m.Name());
    }
    if (answers.size() > 1)
        result.notes.push_back(std::to_string(answers.size()) +
                               " modules answer at once: their replies collide on the line");
    for (const ByteString& a : answers) result.reply.insert(result.reply.end(), a.begin(), a.end());
    if (answers.empty() && result.notes.empty()) {
        if (!parsed[0] && !parsed[1])
            result.notes.push_back("no answer: not a valid RTU or ASCII frame");
        else if (!addressed)
            result.notes.push_back(
                "no answer: no module at address " +
                std::to_string(parsed[0] ? parsed[0]->address : parsed[1]->address) + " in " +
                (parsed[0] ? "RTU" : "ASCII"));
        else
            result.notes.push_back("no answer: broadcast");
    }
    return result;
}

bool SimBus::HasPendingSettings() const {
    for (const SimModule& m : modules_)
        if (m.HasPendingSettings()) return true;
    return false;
}

std::vector<std::size_t> SimBus::ApplyPendingSettings() {
    std::vector<std::size_t> changed;
    for (std::size_t i = 0; i < modules_.size(); ++i) {
        if (!modules_[i].HasPendingSettings()) continue;
        modules_[i].ApplyPendingSettings();
        changed.push_back(i);
    }
    return changed;
}

}  // namespace kelm::sim
