#include "config/ModuleIo.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <thread>

#include "bus/ItemIo.h"
#include "modbus/CommFormats.h"

namespace kelm::config {

namespace {

using models::Item;

// A module applies new communication settings after acknowledging them.
constexpr std::chrono::milliseconds kApplyTime{50};

IoError ErrorOf(const bus::TransactionResult& r, const std::string& what) {
    switch (r.outcome) {
        case bus::Outcome::Exception:
            return {IoFailure::Exception, what + ": the module answered with exception " +
                                              std::to_string(r.exceptionCode)};
        case bus::Outcome::Timeout:
            return {IoFailure::NoReply, what + ": no reply"};
        case bus::Outcome::PortLost:
            return {IoFailure::PortLost, what + ": the port was lost"};
        case bus::Outcome::Reply:
            break;
    }
    return {};
}

// A failed read of the item reader, in the same failure classes.
IoError ErrorOfStatus(const bus::IoStatus& s) {
    switch (s.error) {
        case bus::IoError::None:
            return {};
        case bus::IoError::Exception:
            return {IoFailure::Exception, s.message};
        case bus::IoError::Timeout:
            return {IoFailure::NoReply, s.message};
        case bus::IoError::PortLost:
            return {IoFailure::PortLost, s.message};
        case bus::IoError::BadReply:
        case bus::IoError::Mismatch:
        case bus::IoError::Refused:
            break;
    }
    return {IoFailure::BadReply, s.message};
}

void SetError(IoError* out, IoError e) {
    if (out) *out = std::move(e);
}

bool SameValues(const Setting* a, const Setting* b, int channel) {
    if (!a || !b) return false;
    if (channel < 0) return a->values == b->values;
    const auto ch = static_cast<std::size_t>(channel);
    return ch < a->values.size() && ch < b->values.size() && a->values[ch] == b->values[ch];
}

}  // namespace

const char* StepStateText(StepState s) {
    switch (s) {
        case StepState::NotWritten:
            return "not written";
        case StepState::Failed:
            return "failed";
        case StepState::Written:
            return "written, not verified";
        case StepState::Verified:
            return "verified";
        case StepState::Differs:
            return "read back different";
    }
    return "";
}

std::optional<ModuleConfig> ReadConfig(bus::Transactor& client, int address,
                                       const bus::RequestOptions& request, const std::string& time,
                                       IoError* error) {
    const auto a = static_cast<std::uint8_t>(address);
    const std::string who = "module " + std::to_string(address);
    // Registers 0-5 in one request: the identity and the communication items.
    std::vector<const Item*> idItems;
    for (const auto& item : models::IdentityItems()) idItems.push_back(&item);
    std::vector<bus::ItemReading> idRead;
    bus::ItemIo identityIo(client, a, request);
    const bus::IoStatus idStatus =
        identityIo.ReadWith({models::kFcReadHolding, 0, 6}, idItems, idRead);
    if (!idStatus.ok()) {
        SetError(error, ErrorOfStatus(idStatus));
        return std::nullopt;
    }
    std::map<std::string_view, std::uint32_t> id;
    for (const auto& r : idRead) {
        if (r.channels.empty()) {
            SetError(error, {IoFailure::BadReply, who + ": a malformed identity reply"});
            return std::nullopt;
        }
        id[r.item->key] = r.channels[0].raw;
    }
    ModuleConfig c;
    c.model = models::FindModelByCode(static_cast<int>(id["type"]));
    if (!c.model) {
        SetError(error,
                 {IoFailure::Unsupported, who + ": device type " + std::to_string(id["type"]) +
                                              " is not a KELM model this program knows"});
        return std::nullopt;
    }
    c.identity = {static_cast<int>(id["type"]),
                  static_cast<int>(id["hw_version"]),
                  static_cast<int>(id["sw_version"]),
                  static_cast<int>(id["address"]),
                  static_cast<int>(id["com_format"]),
                  static_cast<int>(id["protocol"]),
                  time};
    // The rest through the item reader: items that share a read (initial
    // states and modes; ON and OFF times) take one request. Raw codes only:
    // no channel modes are needed (or read) to keep a configuration.
    const auto items = ConfigItems(*c.model);
    std::vector<const Item*> toRead;
    for (const Item* item : items) {
        if (!(item->table == models::Table::Holding && item->first < 6)) toRead.push_back(item);
    }
    std::vector<bus::ItemReading> got;
    bus::ItemIo io(client, *c.model, a, request);
    const bus::IoStatus s = io.Read(toRead, got, bus::Modes{});
    if (!s.ok()) {
        SetError(error, ErrorOfStatus(s));
        return std::nullopt;
    }
    for (const Item* item : items) {
        if (item->table == models::Table::Holding && item->first < 6) {
            c.settings.push_back({item, {id[item->key]}});
            continue;
        }
        const auto it =
            std::find_if(got.begin(), got.end(), [&](const auto& r) { return r.item == item; });
        if (it == got.end() || it->channels.size() != item->channels) {
            SetError(error, {IoFailure::BadReply,
                             who + ", " + std::string(item->key) + ": a malformed reply"});
            return std::nullopt;
        }
        std::vector<std::uint32_t> values;
        for (const auto& ch : it->channels) values.push_back(ch.raw);
        c.settings.push_back({item, std::move(values)});
    }
    return c;
}

RestoreResult ExecuteRestore(bus::Transactor& client, int address, const ModuleConfig& wanted,
                             const std::vector<Step>& plan, const bus::RequestOptions& request,
                             const std::function<void(const StepResult&)>& onStep,
                             const std::function<bool(const Step&)>& proceed) {
    RestoreResult out;
    out.address = address;
    out.line = client.Line();
    for (const auto& s : plan) out.steps.push_back({s, StepState::NotWritten, {}});
    auto tell = [&](const StepResult& s) {
        if (onStep) onStep(s);
    };
    const auto a = static_cast<std::uint8_t>(address);
    const std::string who = "module " + std::to_string(address);

    // The channel settings.
    bool failed = false;
    for (auto& s : out.steps) {
        if (s.step.comm) continue;
        if (proceed && !proceed(s.step)) {
            out.error = {IoFailure::None, "stopped before " + DescribeStep(s.step, wanted)};
            failed = true;
            break;
        }
        const auto r = client.Transact(models::RequestBody(a, s.step.request), request);
        if (r.outcome == bus::Outcome::Reply) {
            s.state = StepState::Written;
            tell(s);
            continue;
        }
        s.state = StepState::Failed;
        out.error = ErrorOf(r, who + ", " + DescribeStep(s.step, wanted));
        s.message = out.error.message;
        if (r.outcome == bus::Outcome::Timeout)
            s.message += " (the module may or may not have taken it)";
        tell(s);
        failed = true;
        break;
    }

    // Read every setting back, whatever happened: the user learns the state
    // of each write that was acknowledged.
    const bool anyWritten = std::any_of(out.steps.begin(), out.steps.end(), [](const auto& s) {
        return s.state == StepState::Written || s.state == StepState::Failed;
    });
    if (anyWritten && (!failed || out.error.failure != IoFailure::PortLost)) {
        IoError readError;
        auto after = ReadConfig(client, address, request, {}, &readError);
        if (!after) {
            if (!failed) out.error = readError;
            failed = true;
        } else {
            for (auto& s : out.steps) {
                if (s.step.comm || s.state == StepState::NotWritten) continue;
                const Setting* w = wanted.Find(s.step.item->key);
                const Setting* got = after->Find(s.step.item->key);
                const bool same = SameValues(w, got, s.step.channel);
                if (s.state == StepState::Written) {
                    s.state = same ? StepState::Verified : StepState::Differs;
                } else if (same) {
                    // No acknowledgement, but the module has the value.
                    s.state = StepState::Verified;
                    s.message.clear();
                }
                if (s.state == StepState::Differs) {
                    s.message = "reads back as";
                    if (got) {
                        const int from = s.step.channel < 0 ? 0 : s.step.channel;
                        const int to =
                            s.step.channel < 0 ? static_cast<int>(got->values.size()) : from + 1;
                        for (int ch = from; ch < to; ++ch)
                            s.message +=
                                " " + SettingName(*s.step.item, ch) + "=" +
                                ValueText(*s.step.item, got->values[static_cast<std::size_t>(ch)]);
                    }
                    if (!failed)
                        out.error = {IoFailure::BadReply,
                                     who + ": " + DescribeStep(s.step, wanted) + " " + s.message};
                    failed = true;
                }
                tell(s);
            }
        }
    }
    if (failed) return out;

    // The communication parameters, last: afterwards the module answers
    // only at its new settings.
    auto comm =
        std::find_if(out.steps.begin(), out.steps.end(), [](const auto& s) { return s.step.comm; });
    if (comm == out.steps.end()) {
        out.ok = true;
        return out;
    }
    if (proceed && !proceed(comm->step)) {
        out.error = {IoFailure::None, "stopped before " + DescribeStep(comm->step, wanted)};
        return out;
    }
    const auto w = client.Transact(models::RequestBody(a, comm->step.request), request);
    if (w.outcome == bus::Outcome::Exception || w.outcome == bus::Outcome::PortLost) {
        comm->state = StepState::Failed;
        out.error = ErrorOf(w, who + ", " + DescribeStep(comm->step, wanted));
        comm->message = out.error.message;
        tell(*comm);
        return out;
    }
    // Without an acknowledgement the module may still have taken them: look
    // for it at the new settings.
    comm->state = w.outcome == bus::Outcome::Reply ? StepState::Written : StepState::Failed;
    client.Settle(kApplyTime);
    const bool ascii = comm->step.newProtocolLetter == kProtocolLetterAscii;
    auto next = bus::LineOfFormatCode(comm->step.newFormat,
                                      ascii ? bus::WireProtocol::Ascii : bus::WireProtocol::Rtu);
    if (!next) {
        comm->state = StepState::Failed;
        out.error = {IoFailure::BadReply,
                     "format " + std::to_string(comm->step.newFormat) + " is not a serial format"};
        return out;
    }
    next->rs485 = client.Line().rs485;
    const auto oldLine = client.Line();
    if (!client.SwitchLine(*next)) {
        // The line is not ours to move (the window's port keeps the settings
        // the user chose): what was sent cannot be read back from here.
        comm->message = comm->state == StepState::Written
                            ? "acknowledged; the port keeps its settings, so it was not read "
                              "back at the new ones"
                            : "no acknowledgement; the port keeps its settings, so it was not "
                              "looked for at the new ones";
        out.error = {comm->state == StepState::Written ? IoFailure::None : IoFailure::NoReply,
                     who + ": communication parameters " + comm->message};
        out.address = comm->step.newAddress;
        tell(*comm);
        return out;
    }
    auto readReq = request;
    readReq.retries = std::max(readReq.retries, 2);
    const auto a2 = static_cast<std::uint8_t>(comm->step.newAddress);
    std::vector<const Item*> commItems;
    for (const char* key : {"com_format", "address", "protocol"})
        commItems.push_back(models::FindIdentityItem(key));
    std::vector<bus::ItemReading> commRead;
    bus::ItemIo commIo(client, a2, readReq);
    const bus::IoStatus r = commIo.ReadWith({models::kFcReadHolding, 3, 3}, commItems, commRead);
    if (r.error != bus::IoError::None && r.error != bus::IoError::BadReply) {
        // Back to the old line, so a caller can still reach a module that
        // did not take the new settings.
        client.SwitchLine(oldLine);
        comm->state = StepState::Failed;
        IoError e = ErrorOfStatus(r);
        e.message = "module " + std::to_string(comm->step.newAddress) + " at " +
                    std::to_string(next->baud) + " baud: " + e.message;
        out.error = e;
        comm->message =
            "the module does not answer at its new settings; it may still have "
            "its old ones";
        tell(*comm);
        return out;
    }
    std::vector<std::uint32_t> regs;
    for (std::size_t i = 0; i < commItems.size(); ++i) {
        regs.push_back(i < commRead.size() && !commRead[i].channels.empty()
                           ? commRead[i].channels[0].raw
                           : 0xFFFFFFFFu);
    }
    const bool same = regs[0] == static_cast<std::uint32_t>(comm->step.newFormat) &&
                      regs[1] == static_cast<std::uint32_t>(comm->step.newAddress) &&
                      regs[2] == static_cast<std::uint32_t>(comm->step.newProtocolLetter);
    comm->state = same ? StepState::Verified : StepState::Differs;
    out.address = comm->step.newAddress;
    out.line = *next;
    if (!same) {
        comm->message = "reads back as format " + std::to_string(regs[0]) + ", address " +
                        std::to_string(regs[1]) + ", protocol letter " + std::to_string(regs[2]);
        out.error = {IoFailure::BadReply, who + ": communication parameters " + comm->message};
    }
    tell(*comm);
    out.ok = same;
    return out;
}

std::string DescribeResult(const RestoreResult& r, const ModuleConfig& wanted) {
    std::string out;
    for (const auto& s : r.steps) {
        std::string state = StepStateText(s.state);
        state.resize(std::max<std::size_t>(state.size(), 22), ' ');
        out += state + " " + DescribeStep(s.step, wanted);
        if (!s.message.empty()) out += " (" + s.message + ")";
        out += "\n";
    }
    return out;
}

}  // namespace kelm::config
