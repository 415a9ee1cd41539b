// Item reads and writes on a real pseudo-terminal against a scripted slave
// that keeps a register map: which requests go out (grouping, the mode read
// before analog values, the read of the other channels before a whole-item
// write), how replies decode, and what a short reply, an exception and a
// read-back that differs give.
#include <gtest/gtest.h>

#include <map>

#include "bus/ItemIo.h"
#include "modbus/Checks.h"
#include "support/ScriptedPeer.h"

namespace kelm::bus {
namespace {

using namespace std::chrono_literals;
using test::ScriptedPeer;
namespace m = kelm::models;

const RequestOptions kPatient{std::chrono::milliseconds(3000), 0};

// A small slave: holding and input registers, coils and inputs by address.
struct Slave {
    std::map<int, std::uint16_t> holding, input;
    std::map<int, bool> coils, inputs;
    std::optional<std::uint8_t> exception;  // answer everything with this
    bool shortReply = false;                // one register fewer than asked (framed well)
    bool ignoreWrites = false;              // acknowledge writes, keep the old values

    static std::uint16_t Word(const ByteString& b, std::size_t at) {
        return static_cast<std::uint16_t>(b.at(at) << 8 | b.at(at + 1));
    }
    ByteString Answer(const ByteString& body) {
        const std::uint8_t fc = body.at(1);
        if (exception) return {body[0], static_cast<std::uint8_t>(fc | 0x80), *exception};
        const int start = Word(body, 2);
        const int qty = Word(body, 4);
        ByteString out{body[0], fc};
        if (fc == 1 || fc == 2) {
            auto& t = fc == 1 ? coils : inputs;
            ByteString data(static_cast<std::size_t>((qty + 7) / 8), 0);
            for (int i = 0; i < qty; ++i)
                if (t[start + i]) data[static_cast<std::size_t>(i / 8)] |= 1u << (i % 8);
            out.push_back(static_cast<std::uint8_t>(data.size()));
            out.insert(out.end(), data.begin(), data.end());
        } else if (fc == 3 || fc == 4) {
            auto& t = fc == 3 ? holding : input;
            out.push_back(static_cast<std::uint8_t>(2 * qty));
            for (int i = 0; i < qty; ++i) {
                out.push_back(static_cast<std::uint8_t>(t[start + i] >> 8));
                out.push_back(static_cast<std::uint8_t>(t[start + i]));
            }
        } else if (fc == 5 || fc == 6) {
            if (!ignoreWrites) {
                if (fc == 5)
                    coils[start] = qty == 0xFF00;
                else
                    holding[start] = static_cast<std::uint16_t>(qty);
            }
            return body;
        } else if (fc == 15 || fc == 16) {
            if (!ignoreWrites) {
                for (int i = 0; i < qty; ++i) {
                    if (fc == 15)
                        coils[start + i] =
                            (body.at(7 + static_cast<std::size_t>(i / 8)) >> (i % 8)) & 1;
                    else
                        holding[start + i] = Word(body, 7 + 2 * static_cast<std::size_t>(i));
                }
            }
            return ByteString(body.begin(), body.begin() + 6);
        }
        if (shortReply && out.size() > 4) {  // one register (or coil byte) fewer, counted so
            out.resize(out.size() - (fc <= 2 ? 1 : 2));
            out[2] = static_cast<std::uint8_t>(out.size() - 3);
        }
        return out;
    }
};

struct Rig {
    ScriptedPeer peer;
    BusClient client;
    Slave slave;
    Rig() {
        EXPECT_TRUE(client.Open(peer.SlavePath(), LineSettings{}).ok());
        peer.SetScript([this](const ByteString& frame) -> std::optional<ByteString> {
            ByteString body(frame.begin(), frame.end() - 2);
            return FrameRtu(slave.Answer(body));
        });
    }
    // Function code, start and quantity/value of every request so far.
    std::vector<std::array<int, 3>> Sent() {
        std::vector<std::array<int, 3>> out;
        for (const auto& r : peer.Requests())
            out.push_back({r.at(1), Slave::Word(r, 2), Slave::Word(r, 4)});
        return out;
    }
};

const m::Model& ModelNamed(const char* name) {
    return *m::FindModel(name);
}

TEST(ItemIo, ItemsOneRequestCoversAreReadTogether) {
    Rig rig;
    const auto& model = ModelNamed("KELM-8I8T");
    rig.slave.holding[24 + 2] = m::kCharStart;  // pulse_run DO2 running
    rig.slave.holding[32 + 2 * 3] = 0x0001;     // pulse_count DO3 = 0x00012345
    rig.slave.holding[32 + 2 * 3 + 1] = 0x2345;
    rig.slave.inputs[5] = true;
    for (int i = 0; i < 8; ++i) rig.slave.holding.emplace(24 + i, m::kCharStop);
    ItemIo io(rig.client, model, 1, kPatient);
    const m::Item* items[] = {m::FindItem(model, "pulse_run"), m::FindItem(model, "pulse_count"),
                              m::FindItem(model, "di")};
    std::vector<ItemReading> out;
    ASSERT_TRUE(io.Read(items, out).ok());
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].channels[2].raw, m::kCharStart);
    ASSERT_NE(out[0].channels[2].choice, nullptr);
    EXPECT_EQ(out[0].channels[2].choice->ascii, "run");
    EXPECT_EQ(out[0].channels[1].choice->ascii, "stop");
    EXPECT_EQ(out[1].channels[3].raw, 0x00012345u);
    EXPECT_EQ(out[2].channels[5].raw, 1u);
    EXPECT_EQ(out[2].channels[4].raw, 0u);
    ASSERT_TRUE(rig.peer.WaitRequests(2));
    const std::vector<std::array<int, 3>> expected{{3, 24, 24}, {2, 0, 8}};
    EXPECT_EQ(rig.Sent(), expected);
}

TEST(ItemIo, AnalogValuesAreConvertedByTheModesReadFirst) {
    Rig rig;
    const auto& model = ModelNamed("KELM-8AS");
    rig.slave.holding[6] = 0x30;  // CH0 current
    rig.slave.holding[7] = 0x31;  // CH1 voltage
    rig.slave.holding[8] = 0x39;  // CH2 no such mode
    rig.slave.input[0] = 2000;    // half scale
    rig.slave.input[1] = 1000;
    rig.slave.input[2] = 1234;
    ItemIo io(rig.client, model, 1, kPatient);
    const m::Item* items[] = {m::FindItem(model, "ai")};
    std::vector<ItemReading> out;
    ASSERT_TRUE(io.Read(items, out).ok());
    ASSERT_EQ(out.size(), 1u);
    const auto& ch = out[0].channels;
    EXPECT_EQ(ch[0].modeIndex, 0);
    EXPECT_DOUBLE_EQ(*ch[0].value, 10.0);
    EXPECT_EQ(ch[0].unit, "mA");
    EXPECT_EQ(ch[1].modeIndex, 1);
    EXPECT_DOUBLE_EQ(*ch[1].value, 2.5);
    EXPECT_EQ(ch[1].unit, "V");
    EXPECT_EQ(ch[2].modeIndex, -1);  // an unknown mode converts nothing
    EXPECT_FALSE(ch[2].value);
    EXPECT_EQ(ch[2].raw, 1234u);
    ASSERT_TRUE(rig.peer.WaitRequests(2));
    const std::vector<std::array<int, 3>> expected{{3, 6, 8}, {4, 0, 8}};
    EXPECT_EQ(rig.Sent(), expected);

    // Modes given: only the values are read.
    ASSERT_TRUE(io.Read(items, out, Modes(8, 1)).ok());
    EXPECT_DOUBLE_EQ(*out[0].channels[0].value, 5.0);
    ASSERT_TRUE(rig.peer.WaitRequests(3));
    EXPECT_EQ(rig.Sent().size(), 3u);
}

TEST(ItemIo, ShortReplyAndExceptionAreErrors) {
    Rig rig;
    const auto& model = ModelNamed("KELM-8AD");
    ItemIo io(rig.client, model, 1, kPatient);
    const m::Item* items[] = {m::FindItem(model, "ai")};
    std::vector<ItemReading> out;
    ItemIo quick(rig.client, model, 1, {std::chrono::milliseconds(500), 0});
    rig.slave.shortReply = true;
    // A reply shorter than the request asks for is never taken for its
    // answer: the read ends as unanswered, with nothing decoded.
    IoStatus s = quick.Read(items, out, Modes(8, 0));
    EXPECT_EQ(s.error, IoError::Timeout);
    EXPECT_TRUE(out.empty());
    rig.slave.shortReply = false;
    rig.slave.exception = 2;
    s = io.Read(items, out, Modes(8, 0));
    EXPECT_EQ(s.error, IoError::Exception);
    EXPECT_EQ(s.exceptionCode, 2);
    EXPECT_NE(s.message.find("exception 02"), std::string::npos) << s.message;
}

TEST(ItemIo, WritesAreReadBackAndCompared) {
    Rig rig;
    const auto& model = ModelNamed("KELM-8AD");
    for (int i = 0; i < 8; ++i) rig.slave.holding[6 + i] = 0x30 + static_cast<std::uint16_t>(i % 3);
    ItemIo io(rig.client, model, 1, kPatient);
    const m::Item& mode = *m::FindItem(model, "ai_mode");
    // One channel's mode: the others are read first and kept.
    const std::uint32_t v[] = {0x37};
    ItemReading after;
    ASSERT_TRUE(io.Write(mode, 2, v, &after).ok());
    ASSERT_TRUE(rig.peer.WaitRequests(3));
    const auto sent = rig.Sent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0], (std::array<int, 3>{3, 6, 8}));
    EXPECT_EQ(sent[1], (std::array<int, 3>{16, 6, 8}));
    EXPECT_EQ(sent[2], (std::array<int, 3>{3, 6, 8}));
    // Byte-exact data of the whole-item write.
    const ByteString w = rig.peer.Requests()[1];
    const ByteString data(w.begin() + 7, w.end() - 2);
    EXPECT_EQ(data,
              (ByteString{0, 0x30, 0, 0x31, 0, 0x37, 0, 0x30, 0, 0x31, 0, 0x32, 0, 0x30, 0, 0x31}));
    EXPECT_EQ(after.channels[2].raw, 0x37u);
    EXPECT_EQ(rig.slave.holding[8], 0x37);

    // A module that acknowledges and keeps its old value.
    rig.slave.ignoreWrites = true;
    const std::uint32_t back[] = {0x30};
    const IoStatus s = io.Write(mode, 2, back);
    EXPECT_EQ(s.error, IoError::Mismatch);
    EXPECT_NE(s.message.find("CH2"), std::string::npos) << s.message;
}

TEST(ItemIo, RefusedWritesSendNothing) {
    Rig rig;
    const auto& model = ModelNamed("KELM-8I8T");
    ItemIo io(rig.client, model, 1, kPatient);
    const std::uint32_t one[] = {1};
    const std::uint32_t low[] = {50};
    struct Case {
        const char* key;
        int ch;
        std::span<const std::uint32_t> values;
    } cases[] = {
        {"di", 0, one},         // read-only
        {"do", 8, one},         // no such channel
        {"di_filter", 1, low},  // below 100
        {"di_count", 0, one},   // read-only
    };
    for (const auto& c : cases) {
        const IoStatus s = io.Write(*m::FindItem(model, c.key), c.ch, c.values);
        EXPECT_EQ(s.error, IoError::Refused) << c.key;
        EXPECT_FALSE(s.message.empty()) << c.key;
    }
    EXPECT_EQ(io.Requests(), 0);
    EXPECT_TRUE(rig.peer.Received().empty());
}

TEST(ItemIo, CoilsAndWordsWrittenTheWayTheItemSays) {
    Rig rig;
    const auto& model = ModelNamed("KELM-8I8T");
    ItemIo io(rig.client, model, 1, kPatient);
    const std::uint32_t on[] = {1};
    ASSERT_TRUE(io.Write(*m::FindItem(model, "do"), 3, on).ok());
    const std::uint32_t all[] = {0x81};
    ASSERT_TRUE(io.Write(*m::FindItem(model, "do_mode"), -1, all).ok());
    const std::uint32_t count[] = {100000};
    ASSERT_TRUE(io.Write(*m::FindItem(model, "pulse_count"), 2, count).ok());
    ASSERT_TRUE(rig.peer.WaitRequests(6));
    const auto sent = rig.Sent();
    EXPECT_EQ(sent[0], (std::array<int, 3>{5, 3, 0xFF00}));
    EXPECT_EQ(sent[1], (std::array<int, 3>{1, 0, 8}));
    EXPECT_EQ(sent[2], (std::array<int, 3>{6, 7, 0x81}));
    EXPECT_EQ(sent[3], (std::array<int, 3>{3, 6, 2}));
    EXPECT_EQ(sent[4], (std::array<int, 3>{16, 36, 2}));
    EXPECT_EQ(rig.slave.holding[36], 0x0001);
    EXPECT_EQ(rig.slave.holding[37], 0x86A0);
}

}  // namespace
}  // namespace kelm::bus

namespace kelm::bus {
namespace {

// The identity in one read of registers 0-5, before the model is known; a
// request that is not a read, or a read that does not cover an item, is refused.
TEST(ItemIo, TheIdentityIsReadWithOneRequestBeforeTheModelIsKnown) {
    Rig rig;
    rig.slave.holding = {{0, 12}, {1, 0xA1}, {2, 0xB3}, {3, 3}, {4, 1}, {5, 'R'}};
    ItemIo io(rig.client, 1, kPatient);
    std::vector<const m::Item*> items;
    for (const auto& item : m::IdentityItems()) items.push_back(&item);
    std::vector<ItemReading> got;
    const IoStatus s = io.ReadWith({m::kFcReadHolding, 0, 6}, items, got);
    ASSERT_TRUE(s.ok()) << s.message;
    EXPECT_EQ(rig.Sent(), (std::vector<std::array<int, 3>>{{3, 0, 6}}));
    ASSERT_EQ(got.size(), 6u);
    const std::uint32_t want[] = {12, 0xA1, 0xB3, 3, 1, 'R'};
    for (std::size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(got[i].item->key);
        ASSERT_EQ(got[i].channels.size(), 1u);
        EXPECT_EQ(got[i].channels[0].raw, want[i]);
    }

    struct Case {
        const char* what;
        m::Read read;
        IoError error;
        std::size_t requests;  // sent by this case
    };
    const Case cases[] = {
        {"not a read", {m::kFcWriteRegister, 0, 6}, IoError::Refused, 0},
        {"does not cover protocol", {m::kFcReadHolding, 0, 5}, IoError::BadReply, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto before = rig.Sent().size();
        const IoStatus e = io.ReadWith(c.read, items, got);
        EXPECT_EQ(e.error, c.error) << e.message;
        EXPECT_EQ(rig.Sent().size() - before, c.requests);
    }
}

}  // namespace
}  // namespace kelm::bus
