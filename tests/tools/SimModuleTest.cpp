// The modules' register maps, exception replies and behaviour over time, at
// the level of request and reply PDUs.
#include "kelm-sim/SimModule.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>

#include "SimTestUtil.h"

namespace kelm::sim {
namespace {

using test::Hex;
using test::Ms;

constexpr std::uint8_t k8I8T = 10, k16I = 11, k16T = 12, k8RY = 13, k8AS = 14, k8ASP = 15,
                       k8AD = 16, k2AO = 17;

SimModule Make(std::uint8_t type, std::uint8_t address = 1, std::uint8_t format = 3,
               Protocol p = Protocol::Rtu) {
    return SimModule(ModuleConfig{type, address, format, p}, SimTime{0});
}

ByteString Ask(SimModule& m, const char* pdu, SimTime t = SimTime{0}) {
    return m.Handle(Hex(pdu), t);
}

// Sends each request in turn and expects its reply.
void Walk(SimModule& m, std::initializer_list<std::pair<const char*, const char*>> steps) {
    for (const auto& [request, reply] : steps) {
        SCOPED_TRACE(request);
        EXPECT_EQ(Ask(m, request), Hex(reply));
    }
}

std::uint32_t Count32(const ByteString& reply) {
    // Reply to a read of two registers: fc, byte count, 4 data bytes.
    EXPECT_EQ(reply.size(), 6u);
    if (reply.size() < 6) return 0;
    return (std::uint32_t{reply[2]} << 24) | (std::uint32_t{reply[3]} << 16) |
           (std::uint32_t{reply[4]} << 8) | reply[5];
}

TEST(SimModule, IdentityAndCommunicationRegistersOfEveryModel) {
    for (std::uint8_t type = 10; type <= 17; ++type) {
        SimModule m = Make(type, 9, 12, Protocol::Ascii);
        EXPECT_EQ(Ask(m, "03 00 00 00 06"), (ByteString{0x03, 0x0C, 0x00, type, 0x00, 0xA1, 0x00,
                                                        0xB3, 0x00, 0x0C, 0x00, 0x09, 0x00, 0x41}));
        EXPECT_EQ(Ask(m, "03 00 03 00 03"), Hex("03 06 00 0C 00 09 00 41"));
    }
}

TEST(SimModule, RefusedRequestsGetTheExceptionReply) {
    struct Case {
        std::uint8_t type, code;
        std::vector<const char*> requests;
    } cases[] = {
        // 01: functions the model lacks.
        {k8I8T, 1, {"04 00 00 00 01", "07", "2B 0E 01 00"}},
        {k16I, 1, {"01 00 00 00 08", "05 00 00 FF 00", "0F 00 00 00 08 01 FF"}},
        {k16T, 1, {"02 00 00 00 08"}},
        {k2AO, 1, {"04 00 00 00 01", "01 00 00 00 01"}},
        // 02: holding 80 and reads running past 79, coil and input 8, the read-only
        // identity and input counters, and the last channels of each model.
        {k8I8T,
         2,
         {"03 00 50 00 01", "03 00 4F 00 02", "01 00 00 00 09", "02 00 07 00 02", "05 00 08 FF 00",
          "0F 00 01 00 08 01 FF", "06 00 50 00 01", "10 00 4F 00 02 04 00 00 00 00",
          "06 00 00 00 0B", "06 00 02 00 A0", "06 00 40 00 00", "10 00 40 00 02 04 00 00 00 05"}},
        {k8RY, 2, {"03 00 06 00 02"}},
        {k16I, 2, {"02 00 00 00 11"}},
        {k8AD, 2, {"04 00 00 00 0D"}},
        {k8AS, 2, {"04 00 00 00 09"}},
        {k2AO, 2, {"03 00 0A 00 01"}},
        // 03: quantities 0 and 126, lengths off, coil values other than FF00 and 0000,
        // byte counts that disagree with the quantity or the data.
        {k8I8T,
         3,
         {"03 00 00 00 00", "03 00 00 00 7E", "03 00 00 00 03 00", "03 00 00", "01 00 00 00 00",
          "05 00 03 12 34", "05 00 03 00 FF", "0F 00 00 00 08 02 FF 00", "0F 00 00 00 08 01",
          "10 00 06 00 02 03 00 00 00", "10 00 06 00 02 04 00 00 00"}},
        // 03: format 16, addresses 0 and 248, protocol "S", filters 99 and 10001, pulse
        // time 1, "2" as start or stop, and modes past each model's range.
        {k8I8T,
         3,
         {"06 00 03 00 10", "06 00 04 00 00", "06 00 04 00 F8", "06 00 05 00 53", "06 00 30 00 63",
          "06 00 30 27 11", "06 00 08 00 01", "06 00 18 00 32", "06 00 38 00 01"}},
        {k8AD, 3, {"06 00 06 00 38"}},
        {k8AS, 3, {"06 00 06 00 32"}},
        {k2AO, 3, {"06 00 07 00 32"}},
    };
    for (const Case& c : cases) {
        SimModule m = Make(c.type);
        for (const char* request : c.requests) {
            SCOPED_TRACE(request);
            const std::uint8_t fc = Hex(request)[0] | 0x80;
            EXPECT_EQ(Ask(m, request), (ByteString{fc, c.code}));
        }
    }
}

TEST(SimModule, WritesTakeEffectAndARefusedOneChangesNothing) {
    SimModule m = Make(k8I8T);
    Walk(m, {{"01 00 00 00 08", "01 01 00"},
             {"05 00 03 FF 00", "05 00 03 FF 00"},
             {"01 00 00 00 08", "01 01 08"},
             {"0F 00 00 00 08 01 81", "0F 00 00 00 08"},
             {"05 00 07 00 00", "05 00 07 00 00"},
             {"01 00 00 00 08", "01 01 01"},
             {"01 00 01 00 03", "01 01 00"},
             {"03 00 4F 00 01", "03 02 00 00"},  // 79 is the last register
             // Initial states, and DO1 as a pulse output: only the low byte is kept.
             {"06 00 06 00 81", "06 00 06 00 81"},
             {"06 00 07 FF 02", "06 00 07 FF 02"},
             {"03 00 06 00 02", "03 04 00 81 00 02"},
             // A pulse output refuses switching, but not a group write.
             {"05 00 01 FF 00", "85 03"},
             {"0F 00 00 00 08 01 FF", "0F 00 00 00 08"},
             {"01 00 00 00 08", "01 01 FD"},
             // Filter times of DI0..DI2; the third is out of range the first time.
             {"10 00 30 00 03 06 00 C8 01 2C 00 05", "90 03"},
             {"03 00 30 00 03", "03 06 00 64 00 64 00 64"},
             {"10 00 30 00 03 06 00 C8 01 2C 27 10", "10 00 30 00 03"},
             {"03 00 30 00 03", "03 06 00 C8 01 2C 27 10"}});
    SimModule t = Make(k16T);
    Walk(t, {{"0F 00 00 00 10 02 01 81", "0F 00 00 00 10"},
             {"05 00 0C FF 00", "05 00 0C FF 00"},
             {"01 00 00 00 10", "01 02 01 91"},
             {"01 00 08 00 08", "01 01 91"},
             {"06 00 07 82 00", "06 00 07 82 00"},
             {"03 00 06 00 02", "03 04 00 00 82 00"}});
    SimModule r = Make(k8RY);
    Walk(r, {{"06 00 06 00 41", "06 00 06 00 41"},
             {"03 00 06 00 01", "03 02 00 41"},
             {"01 00 00 00 08", "01 01 00"},  // initial states act at power-on only
             {"05 00 05 FF 00", "05 00 05 FF 00"},
             {"0F 00 00 00 08 01 0C", "0F 00 00 00 08"},
             {"01 00 00 00 08", "01 01 0C"}});
    SimModule ao = Make(k2AO);
    Walk(ao, {{"03 00 06 00 04", "03 08 00 30 00 30 0F A0 0F A0"},
              {"10 00 06 00 02 04 00 30 00 31", "10 00 06 00 02"},
              {"10 00 08 00 02 04 2E E0 13 88", "10 00 08 00 02"},
              {"06 00 09 3A 98", "06 00 09 3A 98"},  // 15000 kept as written
              {"03 00 06 00 04", "03 08 00 30 00 31 2E E0 3A 98"}});
    EXPECT_DOUBLE_EQ(ao.AnalogSignal(0, SimTime{0}), 12.0);
    EXPECT_DOUBLE_EQ(ao.AnalogSignal(2, SimTime{0}), 0.0);
    // Regression: a model without analog channels read past its registers here.
    SimModule relays = Make(k8RY);
    for (unsigned ch = 0; ch < 10; ++ch) EXPECT_DOUBLE_EQ(relays.AnalogSignal(ch, SimTime{0}), 0.0);
}

TEST(SimModule, ContinuousPulseOutputRunsWithItsTimesUntilStopped) {
    SimModule m = Make(k8I8T);
    Ask(m, "06 00 07 00 02");  // DO1 pulse output
    Ask(m, "06 00 09 03 E8");  // ON 1000 x 0.1 ms = 100 ms
    Ask(m, "06 00 11 07 D0");  // OFF 2000 x 0.1 ms = 200 ms
    const SimTime t0 = Ms(1000);
    EXPECT_EQ(Ask(m, "06 00 19 00 31", t0), Hex("06 00 19 00 31"));
    EXPECT_EQ(Ask(m, "03 00 19 00 01", t0), Hex("03 02 00 31"));
    // Still running minutes later.
    for (auto [ms, on] :
         {std::pair{50, true}, {150, false}, {299, false}, {301, true}, {60'000 * 3 + 10, true}})
        EXPECT_EQ(m.Coil(1, t0 + Ms(ms)), on) << ms;
    EXPECT_EQ(Ask(m, "01 00 00 00 08", t0 + Ms(3050)), Hex("01 01 02"));
    EXPECT_EQ(Ask(m, "06 00 19 00 30", t0 + Ms(3050)), Hex("06 00 19 00 30"));
    EXPECT_FALSE(m.Coil(1, t0 + Ms(3060)));
    EXPECT_FALSE(m.Coil(1, t0 + Ms(3350)));
    EXPECT_EQ(Ask(m, "03 00 19 00 01", t0 + Ms(3050)), Hex("03 02 00 30"));
}

TEST(SimModule, CountedPulseOutputCountsDownAndStopsAtZero) {
    SimModule m = Make(k8I8T);
    Ask(m, "06 00 07 00 02");  // DO1 pulse output, 500 ms + 500 ms by default
    const SimTime t0 = Ms(2000);
    // Three pulses on DO1: registers 34-35.
    EXPECT_EQ(Ask(m, "10 00 22 00 02 04 00 00 00 03", t0), Hex("10 00 22 00 02"));
    EXPECT_EQ(Count32(Ask(m, "03 00 22 00 02", t0 + Ms(250))), 3u);
    EXPECT_TRUE(m.Coil(1, t0 + Ms(250)));
    EXPECT_FALSE(m.Coil(1, t0 + Ms(750)));
    EXPECT_EQ(Count32(Ask(m, "03 00 22 00 02", t0 + Ms(1250))), 2u);
    EXPECT_EQ(Count32(Ask(m, "03 00 22 00 02", t0 + Ms(2250))), 1u);
    EXPECT_TRUE(m.Coil(1, t0 + Ms(2250)));
    EXPECT_EQ(Count32(Ask(m, "03 00 22 00 02", t0 + Ms(3000))), 0u);
    for (int ms = 3000; ms < 10000; ms += 125) EXPECT_FALSE(m.Coil(1, t0 + Ms(ms))) << ms;
    // The state read the output panel makes: controls 24-31 stopped, counts 32-47 zero.
    ByteString want = Hex("03 30");
    for (int reg = 24; reg < 48; ++reg)
        want.insert(want.end(), {0x00, std::uint8_t(reg < 32 ? 0x30 : 0x00)});
    EXPECT_EQ(Ask(m, "03 00 18 00 18", t0 + Ms(5000)), want);
}

TEST(SimModule, ALargeCountIsKeptWholeAndZeroStopsIt) {
    SimModule m = Make(k16T);
    Ask(m, "06 00 07 80 00");  // DO15 pulse output
    // 100000 pulses on DO15: registers 86-87.
    EXPECT_EQ(Ask(m, "10 00 56 00 02 04 00 01 86 A0"), Hex("10 00 56 00 02"));
    EXPECT_EQ(Count32(Ask(m, "03 00 56 00 02", Ms(10))), 100000u);
    EXPECT_EQ(Count32(Ask(m, "03 00 56 00 02", Ms(10'010))), 99990u);
    EXPECT_EQ(Ask(m, "10 00 56 00 02 04 00 00 00 00", Ms(10'010)), Hex("10 00 56 00 02"));
    EXPECT_EQ(Count32(Ask(m, "03 00 56 00 02", Ms(20'000))), 0u);
    EXPECT_FALSE(m.Coil(15, Ms(20'250)));
}

TEST(SimModule, ACountWaitsWhileTheOutputIsASwitchAndAModeChangeStopsARun) {
    SimModule m = Make(k8I8T);
    Ask(m, "10 00 20 00 02 04 00 00 00 05");  // DO0: 5 pulses, but DO0 is a switch
    EXPECT_EQ(Count32(Ask(m, "03 00 20 00 02", Ms(5000))), 5u);
    EXPECT_FALSE(m.Coil(0, Ms(250)));
    Ask(m, "05 00 00 FF 00", Ms(5000));
    EXPECT_TRUE(m.Coil(0, Ms(5250)));
    // Turning it into a pulse output leaves it off and idle.
    Ask(m, "06 00 07 00 01", Ms(6000));
    EXPECT_FALSE(m.Coil(0, Ms(6250)));
    EXPECT_EQ(Count32(Ask(m, "03 00 20 00 02", Ms(6000))), 0u);
    Ask(m, "06 00 18 00 31", Ms(7000));
    EXPECT_TRUE(m.Coil(0, Ms(7250)));
    Ask(m, "06 00 07 00 00", Ms(8000));  // back to switch: the train stops
    EXPECT_FALSE(m.Coil(0, Ms(8250)));
    EXPECT_EQ(Ask(m, "03 00 18 00 01", Ms(8000)), Hex("03 02 00 30"));
}

TEST(SimModule, NewPulseTimesTakeEffectWithoutLosingPulses) {
    SimModule m = Make(k8I8T);
    Ask(m, "06 00 07 00 01");
    Ask(m, "10 00 20 00 02 04 00 00 00 0A", Ms(0));  // 10 pulses of 1 s
    // After 3.5 s: 3 done, 7 left; halve the times.
    Ask(m, "06 00 08 03 E8", Ms(3500));
    Ask(m, "06 00 10 03 E8", Ms(3500));
    EXPECT_EQ(Count32(Ask(m, "03 00 20 00 02", Ms(3500))), 7u);
    EXPECT_EQ(Count32(Ask(m, "03 00 20 00 02", Ms(3500 + 200 * 3 + 50))), 4u);
    EXPECT_EQ(Count32(Ask(m, "03 00 20 00 02", Ms(3500 + 200 * 7 + 1))), 0u);
}

TEST(SimModule, DigitalInputsFollowASlowPatternThroughTheirFilter) {
    SimModule m = Make(k8I8T);
    // DI0 rises every 2 s (1 s high, 1 s low), DI1 every 3 s; 10 ms filter by default.
    EXPECT_EQ(Ask(m, "02 00 00 00 08", Ms(500)), Hex("02 01 00"));
    EXPECT_EQ(Ask(m, "02 00 00 00 08", Ms(1600)), Hex("02 01 03"));
    for (auto [ms, on] : {std::pair{1005, false}, {1011, true}, {2005, true}, {2011, false}})
        EXPECT_EQ(m.DiscreteInput(0, Ms(ms)), on) << ms;
    // A filter of one second delays the switch input by a second.
    EXPECT_EQ(Ask(m, "06 00 30 27 10"), Hex("06 00 30 27 10"));
    for (auto [ms, on] : {std::pair{1999, false}, {2001, true}, {2999, true}})
        EXPECT_EQ(m.DiscreteInput(0, Ms(ms)), on) << ms;

    SimModule i16 = Make(k16I);
    const ByteString all = Ask(i16, "02 00 00 00 10", Ms(20'000));
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[1], 2);
    for (unsigned ch = 0; ch < 16; ++ch)
        EXPECT_EQ(((all[2 + ch / 8] >> (ch % 8)) & 1u) != 0, i16.DiscreteInput(ch, Ms(20'000)));
}

TEST(SimModule, StartedCountersCountRisingEdgesAndStartFromZero) {
    SimModule m = Make(k8I8T);
    auto count = [&](int ms) { return Count32(Ask(m, "03 00 40 00 02", Ms(ms))); };
    EXPECT_EQ(Ask(m, "03 00 38 00 01"), Hex("03 02 00 30"));
    EXPECT_EQ(Ask(m, "06 00 38 00 31", Ms(500)), Hex("06 00 38 00 31"));
    EXPECT_EQ(Ask(m, "03 00 38 00 01", Ms(600)), Hex("03 02 00 31"));
    // DI0 rises at 1 s, 3 s, 5 s ...
    for (auto [ms, n] : {std::pair{999, 0u}, {1001, 1u}, {3001, 2u}, {9001, 5u}})
        EXPECT_EQ(count(ms), n) << ms;
    EXPECT_EQ(Ask(m, "06 00 38 00 30", Ms(9500)), Hex("06 00 38 00 30"));
    EXPECT_EQ(count(20'000), 5u);  // stopped: kept
    EXPECT_EQ(Ask(m, "06 00 38 00 31", Ms(20'500)), Hex("06 00 38 00 31"));
    EXPECT_EQ(count(20'600), 0u);  // started again: cleared
    EXPECT_EQ(count(21'001), 1u);
    // The counting read of the input panel: controls 56-63, counts 64-79.
    const ByteString block = Ask(m, "03 00 38 00 18", Ms(21'001));
    ASSERT_EQ(block.size(), 50u);
    EXPECT_EQ(block[3], 0x31);
    EXPECT_EQ(block[5], 0x30);
    EXPECT_EQ(block[2 + 16 + 3], 1);  // low byte of DI0's count

    SimModule i16 = Make(k16I);
    Ask(i16, "06 00 25 00 31", Ms(0));  // DI15: 22 + 15; rises every 17 s
    EXPECT_EQ(Count32(Ask(i16, "03 00 44 00 02", Ms(8'499))), 0u);
    EXPECT_EQ(Count32(Ask(i16, "03 00 44 00 02", Ms(8'501))), 1u);
    const ByteString all = Ask(i16, "03 00 16 00 30", Ms(8'501));
    ASSERT_EQ(all.size(), 98u);
    EXPECT_EQ(all[2 + 30 + 1], 0x31);  // control of DI15
}

TEST(SimModule, AnalogInputsGiveCountsOfASignalInTheConfiguredRange) {
    SimModule ad = Make(k8AD);
    // CH0 to +-20 V ... CH7 to +-0.15 V.
    EXPECT_EQ(Ask(ad, "10 00 06 00 08 10 00 30 00 31 00 32 00 33 00 34 00 35 00 36 00 37"),
              Hex("10 00 06 00 08"));
    EXPECT_EQ(Ask(ad, "03 00 06 00 08"),
              Hex("03 10 00 30 00 31 00 32 00 33 00 34 00 35 00 36 00 37"));
    const double fullScale[8] = {20, 10, 5, 2.5, 1.2, 0.6, 0.3, 0.15};
    const ByteString first = Ask(ad, "04 00 00 00 0C", Ms(0));
    bool changed = false;
    for (int s = 0; s <= 60; s += 3) {
        const ByteString r = Ask(ad, "04 00 00 00 0C", Ms(s * 1000));
        ASSERT_EQ(r.size(), 26u);
        ASSERT_EQ(r[1], 24);
        for (unsigned ch = 0; ch < 8; ++ch) {
            // 24-bit offset binary: 65535 is zero, 64000 counts full scale.
            const std::uint32_t c = (std::uint32_t{r[2 + 3 * ch]} << 16) |
                                    (std::uint32_t{r[3 + 3 * ch]} << 8) | r[4 + 3 * ch];
            const double v = (static_cast<double>(c) - 65535) / 64000 * fullScale[ch];
            EXPECT_NEAR(v, ad.AnalogSignal(ch, Ms(s * 1000)), fullScale[ch] / 64000);
            EXPECT_LE(std::abs(v), fullScale[ch]);
        }
        changed = changed || first != r;
    }
    EXPECT_TRUE(changed);

    SimModule as = Make(k8AS);
    SimModule asp = Make(k8ASP);
    Ask(as, "06 00 07 00 31");  // CH1 voltage
    for (int s = 0; s <= 60; s += 5) {
        const ByteString r = Ask(as, "04 00 00 00 08", Ms(s * 1000));
        const ByteString p = Ask(asp, "04 00 00 00 08", Ms(s * 1000));
        ASSERT_EQ(r.size(), 18u);
        ASSERT_EQ(p.size(), 18u);
        const unsigned ch0 = (r[2] << 8) | r[3], ch1 = (r[4] << 8) | r[5],
                       pch0 = (p[2] << 8) | p[3];
        EXPECT_TRUE(ch0 >= 800 && ch0 <= 4000) << ch0;        // 4-20 mA on 4000 counts
        EXPECT_LE(ch1, 4000u);                                // 10 V
        EXPECT_TRUE(pch0 >= 12800 && pch0 <= 64000) << pch0;  // 4-20 mA on 64000 counts
        EXPECT_NEAR(pch0 / 64000.0 * 20, asp.AnalogSignal(0, Ms(s * 1000)), 0.001);
    }
}

// The whole exchange, acknowledged under the old settings, is in the line engine's test.
TEST(SimModule, NewCommunicationSettingsWaitUntilApplied) {
    SimModule m = Make(k8AD, 1);
    EXPECT_EQ(Ask(m, "10 00 03 00 03 06 00 0C 00 05 00 41"), Hex("10 00 03 00 03"));
    EXPECT_EQ(Ask(m, "03 00 03 00 03"), Hex("03 06 00 03 00 01 00 52"));  // not yet
    m.ApplyPendingSettings();
    EXPECT_EQ(Ask(m, "03 00 03 00 03"), Hex("03 06 00 0C 00 05 00 41"));
    // A refused single register stages nothing; an accepted one is enough.
    EXPECT_EQ(Ask(m, "06 00 04 00 F8"), Hex("86 03"));
    EXPECT_FALSE(m.HasPendingSettings());
    EXPECT_EQ(Ask(m, "06 00 04 00 F7"), Hex("06 00 04 00 F7"));
    m.ApplyPendingSettings();
    EXPECT_EQ(Ask(m, "03 00 03 00 03"), Hex("03 06 00 0C 00 F7 00 41"));
}

// Requests of every function with random fields, lengths and values: every
// reply is a well-formed normal reply or an exception 01-03, and nothing
// reads or writes out of bounds (run under ASan/UBSan in the asan preset).
TEST(SimModule, RandomRequestsGetWellFormedReplies) {
    std::uint32_t seed = 12345;
    auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
    const std::uint8_t functions[] = {1, 2, 3, 4, 5, 6, 15, 16, 7, 0x2B, 0, 0x81};
    int served = 0;
    for (std::uint8_t type = 10; type <= 17; ++type) {
        SimModule m = Make(type);
        const RegisterLayout& l = m.layout();
        for (int i = 0; i < 10000; ++i) {
            const std::uint8_t fc = functions[next() % std::size(functions)];
            ByteString req{fc};
            auto word = [&req](unsigned v) {
                req.insert(req.end(), {std::uint8_t(v >> 8), std::uint8_t(v)});
            };
            if (next() % 8 == 0) {
                for (std::size_t k = next() % 12; k > 0; --k) req.push_back(std::uint8_t(next()));
            } else {
                // A well-formed request with fields near and past the map.
                const unsigned span = fc == 1 || fc == 5 || fc == 15 ? l.outputs
                                      : fc == 2                      ? l.inputs
                                      : fc == 4                      ? l.inputRegisterCount
                                                                     : l.holdingCount;
                const unsigned address = next() % (span + 3);
                const unsigned qty = next() % (std::min(span, 12u) + 2);
                word(address);
                if (fc == 5) {
                    const unsigned pick = next() % 3;
                    word(pick == 0 ? 0xFF00 : pick == 1 ? 0x0000 : next() & 0xFFFF);
                } else if (fc == 6) {
                    word(next() % 2 ? 0x30 + next() % 3 : next() & 0xFFFF);
                } else {
                    word(qty);
                }
                if (fc == 15 || fc == 16) {
                    const unsigned bytes = fc == 16 ? 2 * qty : (qty + 7) / 8;
                    req.push_back(std::uint8_t(next() % 6 ? bytes : next() % 20));
                    for (unsigned k = 0; k < bytes; ++k)
                        req.push_back(std::uint8_t(k % 2 == 0 && fc == 16 ? 0 : next()));
                }
            }
            const ByteString reply = m.Handle(req, SimTime{i * 7919});
            ASSERT_GE(reply.size(), 2u);
            if ((reply[0] & 0x80) != 0) {
                ASSERT_EQ(reply.size(), 2u);
                EXPECT_EQ(reply[0], req[0] | 0x80);
                EXPECT_TRUE(reply[1] >= 1 && reply[1] <= 3) << int(reply[1]);
                continue;
            }
            ASSERT_EQ(reply[0], req[0]);
            ++served;
            if (fc <= 4)
                ASSERT_EQ(reply.size(), 2u + reply[1]);
            else if (fc <= 6)
                EXPECT_EQ(reply, req);
            else
                EXPECT_EQ(reply, ByteString(req.begin(), req.begin() + 5));
        }
        // Whatever was written, the identity is intact and the module still answers.
        const ByteString id = Ask(m, "03 00 00 00 03", Ms(60'000));
        ASSERT_EQ(id.size(), 8u);
        EXPECT_EQ(id[3], type);
    }
    EXPECT_GT(served, 6000);  // thousands of requests got through to the registers
}

}  // namespace
}  // namespace kelm::sim
