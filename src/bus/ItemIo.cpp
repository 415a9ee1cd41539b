#include "bus/ItemIo.h"

#include <algorithm>

namespace kelm::bus {

namespace m = kelm::models;

namespace {

std::string ExceptionName(int code) {
    switch (code) {
        case 1:
            return "illegal function";
        case 2:
            return "illegal data address";
        case 3:
            return "illegal data value";
        case 4:
            return "slave device failure";
        default:
            return "unknown exception";
    }
}

std::string Hex2(int v) {
    static const char* digits = "0123456789ABCDEF";
    return {digits[(v >> 4) & 0xF], digits[v & 0xF]};
}

const m::Item* ModeItemOf(const m::Model* model) {
    return !model || model->modeKey.empty() ? nullptr : m::FindItem(*model, model->modeKey);
}

bool IsAnalogValueItem(const m::Model* model, const m::Item& item) {
    return model && !model->valueKey.empty() && item.key == model->valueKey;
}

}  // namespace

std::string UserUnit(const m::Choice& mode) {
    return std::string(m::InShownUnit(0, mode.unit).unit);
}

std::string DescribeStatus(const IoStatus& s) {
    return s.message;
}

ItemIo::ItemIo(Transactor& client, const m::Model& model, std::uint8_t address,
               RequestOptions options)
    : client_(client), model_(&model), address_(address), options_(options) {}

ItemIo::ItemIo(Transactor& client, std::uint8_t address, RequestOptions options)
    : client_(client), model_(nullptr), address_(address), options_(options) {}

IoStatus ItemIo::Transact(const m::Request& r, ByteString& body, const std::string& what) {
    ++requests_;
    const auto t = client_.Transact(m::RequestBody(address_, r), options_);
    const std::string who = "module " + std::to_string(address_);
    switch (t.outcome) {
        case Outcome::Reply:
            body = t.body;
            return {};
        case Outcome::Exception:
            return {IoError::Exception, t.exceptionCode,
                    who + " answered " + what + " with exception " + Hex2(t.exceptionCode) + " (" +
                        ExceptionName(t.exceptionCode) + ")"};
        case Outcome::Timeout:
            return {IoError::Timeout, 0, "no reply from " + who + " to " + what};
        case Outcome::PortLost:
            return {IoError::PortLost, 0, "the port was lost during " + what};
    }
    return {IoError::BadReply, 0, "unexpected outcome"};
}

ItemReading ItemIo::Make(const m::Item& item, const std::vector<std::uint32_t>& raw,
                         const Modes* modes) const {
    ItemReading r;
    r.item = &item;
    const m::Item* modeItem = ModeItemOf(model_);
    const bool analog = IsAnalogValueItem(model_, item) && modeItem;
    for (std::size_t ch = 0; ch < raw.size(); ++ch) {
        ChannelValue v;
        v.channel = static_cast<int>(ch);
        v.raw = raw[ch];
        if (!item.choices.empty()) v.choice = item.ChoiceByCode(raw[ch]);
        v.unit = std::string(item.unit);
        if (analog) {
            v.unit.clear();
            const int idx = modes && ch < modes->size() ? (*modes)[ch] : -1;
            v.modeIndex = idx;
            if (idx >= 0 && static_cast<std::size_t>(idx) < modeItem->choices.size()) {
                const m::Choice& c = modeItem->choices[static_cast<std::size_t>(idx)];
                if (item.table == m::Table::InputRegister) {
                    v.value = m::AnalogValue(*model_, raw[ch], idx);
                    v.unit = std::string(c.unit);
                    v.decimals = c.decimals;
                } else {
                    const m::Shown shown = m::InShownUnit(raw[ch], c.unit);
                    v.value = shown.value;
                    v.unit = std::string(shown.unit);
                    v.decimals = 3;
                }
            }
        }
        r.channels.push_back(std::move(v));
    }
    return r;
}

IoStatus ItemIo::Read(std::span<const m::Item* const> items, std::vector<ItemReading>& out,
                      const std::optional<Modes>& modes) {
    out.clear();
    const m::Item* modeItem = ModeItemOf(model_);
    bool needModes = false;
    for (const m::Item* it : items) {
        if (it && IsAnalogValueItem(model_, *it) && !modes && modeItem) needModes = true;
    }
    // The mode item goes first so that its request is the first sent.
    std::vector<const m::Item*> toRead;
    if (needModes) toRead.push_back(modeItem);
    for (const m::Item* it : items) {
        if (it && std::find(toRead.begin(), toRead.end(), it) == toRead.end()) toRead.push_back(it);
    }

    // One request per distinct read; decoded values per item.
    std::vector<std::pair<const m::Item*, std::vector<std::uint32_t>>> raw;
    std::vector<std::pair<m::Read, ByteString>> replies;
    for (const m::Item* it : toRead) {
        const auto req = m::ReadRequest(*it);
        if (!req) {
            return {IoError::Refused, 0, std::string(it->key) + " cannot be read"};
        }
        auto found = std::find_if(replies.begin(), replies.end(),
                                  [&](const auto& p) { return p.first == it->read; });
        if (found == replies.end()) {
            ByteString body;
            const IoStatus s = Transact(*req, body, "the read of " + std::string(it->key));
            if (!s.ok()) return s;
            replies.emplace_back(it->read, std::move(body));
            found = replies.end() - 1;
        }
        auto values = m::Decode(*it, it->read, found->second);
        if (!values) {
            return {IoError::BadReply, 0,
                    "module " + std::to_string(address_) + " sent a reply to the read of " +
                        std::string(it->key) + " that does not hold it (short or malformed)"};
        }
        raw.emplace_back(it, std::move(*values));
    }

    Modes channelModes;
    if (modes) {
        channelModes = *modes;
    } else if (needModes) {
        for (std::uint32_t code : raw.front().second)
            channelModes.push_back(modeItem->ChoiceIndex(code));
    }
    for (const m::Item* it : items) {
        if (!it) continue;
        const auto at =
            std::find_if(raw.begin(), raw.end(), [&](const auto& p) { return p.first == it; });
        out.push_back(Make(*it, at->second, &channelModes));
    }
    return {};
}

IoStatus ItemIo::ReadWith(const m::Read& read, std::span<const m::Item* const> items,
                          std::vector<ItemReading>& out) {
    out.clear();
    if (read.fc < 1 || read.fc > 4) return {IoError::Refused, 0, "not a read request"};
    ByteString body;
    const IoStatus s = Transact(m::Request{read.fc, read.start, read.quantity, {}}, body,
                                "the read of registers " + std::to_string(read.start) + "-" +
                                    std::to_string(read.start + read.quantity - 1));
    if (!s.ok()) return s;
    for (const m::Item* it : items) {
        if (!it) continue;
        auto values = m::Decode(*it, read, body);
        if (!values) {
            return {IoError::BadReply, 0,
                    "module " + std::to_string(address_) + " sent a reply to the read of " +
                        std::string(it->key) + " that does not hold it (short or malformed)"};
        }
        out.push_back(Make(*it, *values, nullptr));
    }
    return {};
}

IoStatus ItemIo::ReadRaw(const m::Item& item, std::vector<std::uint32_t>& values) {
    const auto req = m::ReadRequest(item);
    if (!req) return {IoError::Refused, 0, std::string(item.key) + " cannot be read"};
    ByteString body;
    IoStatus s = Transact(*req, body, "the read of " + std::string(item.key));
    if (!s.ok()) return s;
    auto v = m::Decode(item, item.read, body);
    if (!v) {
        return {IoError::BadReply, 0,
                "module " + std::to_string(address_) + " sent a reply to the read of " +
                    std::string(item.key) + " that does not hold it (short or malformed)"};
    }
    values = std::move(*v);
    return {};
}

IoStatus ItemIo::Write(const m::Item& item, int ch, std::span<const std::uint32_t> values,
                       ItemReading* after) {
    if (!item.Writable()) return {IoError::Refused, 0, std::string(item.key) + " is read-only"};
    if (ch < -1 || ch >= item.channels) {
        return {IoError::Refused, 0,
                std::string(item.key) + " has no channel " + std::to_string(ch)};
    }
    // What each channel must read back as.
    std::vector<std::uint32_t> expected;
    std::string error;
    std::optional<m::Request> request;
    const bool wholeOnly = item.encoding == m::Encoding::WordBits || item.writeOne == 0;
    if (ch >= 0 && values.size() != 1)
        return {IoError::Refused, 0, std::string(item.key) + ": one value for one channel"};
    if (ch >= 0 && wholeOnly) {
        // The others are kept as the module has them now.
        std::vector<std::uint32_t> current;
        IoStatus s = ReadRaw(item, current);
        if (!s.ok()) return s;
        current[static_cast<std::size_t>(ch)] = values[0];
        expected = current;
        request = m::WriteRequest(item, -1, current, &error);
    } else if (ch >= 0) {
        request = m::WriteRequest(item, ch, values, &error);
    } else {
        if (item.encoding == m::Encoding::WordBits && values.size() == 1) {
            for (int i = 0; i < item.channels; ++i) expected.push_back((values[0] >> i) & 1u);
        } else {
            expected.assign(values.begin(), values.end());
        }
        request = m::WriteRequest(item, -1, values, &error);
    }
    if (!request) return {IoError::Refused, 0, error};

    ByteString body;
    IoStatus s = Transact(*request, body, "the write of " + std::string(item.key));
    if (!s.ok()) return s;

    std::vector<std::uint32_t> back;
    s = ReadRaw(item, back);
    if (!s.ok()) return s;
    if (after) *after = Make(item, back, nullptr);
    std::string differs;
    for (std::size_t i = 0; i < back.size(); ++i) {
        std::uint32_t want = 0;
        if (ch >= 0 && !wholeOnly) {
            if (static_cast<int>(i) != ch) continue;
            want = values[0];
        } else {
            if (i >= expected.size()) break;
            want = expected[i];
        }
        // A switch written as "1" (start) reads back as running, "0" as stopped.
        if (back[i] != want) {
            if (!differs.empty()) differs += ", ";
            differs += m::ChannelName(item, static_cast<int>(i)) + " reads " +
                       std::to_string(back[i]) + " instead of " + std::to_string(want);
        }
    }
    if (!differs.empty()) {
        return {IoError::Mismatch, 0,
                "the read-back of " + std::string(item.key) + " differs: " + differs};
    }
    return {};
}

}  // namespace kelm::bus
