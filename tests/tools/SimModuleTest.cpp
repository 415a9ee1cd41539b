// The modules' register maps, exception replies and behaviour over time, at
// the level of request and reply PDUs.
#include "kelm-sim/SimModule.h"

#include <gtest/gtest.h>

#include <cmath>

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
        const ByteString id = Ask(m, "03 00 00 00 03");
        ASSERT_EQ(id.size(), 8u);
        EXPECT_EQ(id, (ByteString{0x03, 0x06, 0x00, type, 0x00, 0xA1, 0x00, 0xB3}));
        EXPECT_EQ(Ask(m, "03 00 03 00 03"), Hex("03 06 00 0C 00 09 00 41"));
        EXPECT_EQ(Ask(m, "03 00 00 00 06"), (ByteString{0x03, 0x0C, 0x00, type, 0x00, 0xA1, 0x00,
                                                        0xB3, 0x00, 0x0C, 0x00, 0x09, 0x00, 0x41}));
    }
    SimModule rtu = Make(k16T, 5);
    EXPECT_EQ(Ask(rtu, "03 00 03 00 03"), Hex("03 06 00 03 00 05 00 52"));
}

TEST(SimModule, UnsupportedFunctionsAnswerIllegalFunction) {
    SimModule dio = Make(k8I8T);
    EXPECT_EQ(Ask(dio, "04 00 00 00 01"), Hex("84 01"));  // no input registers
    EXPECT_EQ(Ask(dio, "07"), Hex("87 01"));
    EXPECT_EQ(Ask(dio, "2B 0E 01 00"), Hex("AB 01"));
    SimModule in16 = Make(k16I);
    EXPECT_EQ(Ask(in16, "01 00 00 00 08"), Hex("81 01"));  // no coils
    EXPECT_EQ(Ask(in16, "05 00 00 FF 00"), Hex("85 01"));
    EXPECT_EQ(Ask(in16, "0F 00 00 00 08 01 FF"), Hex("8F 01"));
    SimModule out16 = Make(k16T);
    EXPECT_EQ(Ask(out16, "02 00 00 00 08"), Hex("82 01"));  // no inputs
    SimModule ao = Make(k2AO);
    EXPECT_EQ(Ask(ao, "04 00 00 00 01"), Hex("84 01"));
    EXPECT_EQ(Ask(ao, "01 00 00 00 01"), Hex("81 01"));
}

TEST(SimModule, AddressesOutsideTheMapAnswerIllegalDataAddress) {
    SimModule m = Make(k8I8T);
    EXPECT_EQ(Ask(m, "03 00 50 00 01"), Hex("83 02"));  // holding 80: past the map
    EXPECT_EQ(Ask(m, "03 00 4F 00 02"), Hex("83 02"));  // 79-80: runs past the end
    EXPECT_EQ(Ask(m, "03 00 4F 00 01").size(), 4u);     // 79 is the last register
    EXPECT_EQ(Ask(m, "01 00 00 00 09"), Hex("81 02"));  // coil 8 does not exist
    EXPECT_EQ(Ask(m, "02 00 07 00 02"), Hex("82 02"));
    EXPECT_EQ(Ask(m, "05 00 08 FF 00"), Hex("85 02"));
    EXPECT_EQ(Ask(m, "0F 00 01 00 08 01 FF"), Hex("8F 02"));
    EXPECT_EQ(Ask(m, "06 00 50 00 01"), Hex("86 02"));
    EXPECT_EQ(Ask(m, "10 00 4F 00 02 04 00 00 00 00"), Hex("90 02"));
    // Read-only registers: identity and the input counters.
    EXPECT_EQ(Ask(m, "06 00 00 00 0B"), Hex("86 02"));
    EXPECT_EQ(Ask(m, "06 00 02 00 A0"), Hex("86 02"));
    EXPECT_EQ(Ask(m, "06 00 40 00 00"), Hex("86 02"));
    EXPECT_EQ(Ask(m, "10 00 40 00 02 04 00 00 00 05"), Hex("90 02"));
    SimModule ry = Make(k8RY);
    EXPECT_EQ(Ask(ry, "03 00 06 00 02"), Hex("83 02"));  // only register 6 past the identity
}

TEST(SimModule, BadQuantitiesAndValuesAnswerIllegalDataValue) {
    SimModule m = Make(k8I8T);
    EXPECT_EQ(Ask(m, "03 00 00 00 00"), Hex("83 03"));
    EXPECT_EQ(Ask(m, "03 00 00 00 7E"), Hex("83 03"));     // 126 registers
    EXPECT_EQ(Ask(m, "03 00 00 00 03 00"), Hex("83 03"));  // a byte too many
    EXPECT_EQ(Ask(m, "03 00 00"), Hex("83 03"));
    EXPECT_EQ(Ask(m, "01 00 00 00 00"), Hex("81 03"));
    EXPECT_EQ(Ask(m, "05 00 03 12 34"), Hex("85 03"));
    EXPECT_EQ(Ask(m, "05 00 03 00 FF"), Hex("85 03"));
    EXPECT_EQ(Ask(m, "0F 00 00 00 08 02 FF 00"), Hex("8F 03"));  // byte count 2 for 8 coils
    EXPECT_EQ(Ask(m, "0F 00 00 00 08 01"), Hex("8F 03"));        // data missing
    EXPECT_EQ(Ask(m, "10 00 06 00 02 03 00 00 00"), Hex("90 03"));
    EXPECT_EQ(Ask(m, "10 00 06 00 02 04 00 00 00"), Hex("90 03"));
    EXPECT_EQ(Ask(m, "06 00 03 00 10"), Hex("86 03"));  // format 16
    EXPECT_EQ(Ask(m, "06 00 04 00 00"), Hex("86 03"));  // address 0
    EXPECT_EQ(Ask(m, "06 00 04 00 F8"), Hex("86 03"));  // address 248
    EXPECT_EQ(Ask(m, "06 00 05 00 53"), Hex("86 03"));  // "S" is no protocol
    EXPECT_EQ(Ask(m, "06 00 30 00 63"), Hex("86 03"));  // filter 99
    EXPECT_EQ(Ask(m, "06 00 30 27 11"), Hex("86 03"));  // filter 10001
    EXPECT_EQ(Ask(m, "06 00 08 00 01"), Hex("86 03"));  // pulse time 1
    EXPECT_EQ(Ask(m, "06 00 18 00 32"), Hex("86 03"));  // "2" is no start/stop
    EXPECT_EQ(Ask(m, "06 00 38 00 01"), Hex("86 03"));
    SimModule ad = Make(k8AD);
    EXPECT_EQ(Ask(ad, "06 00 06 00 38"), Hex("86 03"));
    EXPECT_EQ(Ask(ad, "06 00 06 00 37"), Hex("06 00 06 00 37"));
    SimModule as = Make(k8AS);
    EXPECT_EQ(Ask(as, "06 00 06 00 32"), Hex("86 03"));
    SimModule ao = Make(k2AO);
    EXPECT_EQ(Ask(ao, "06 00 07 00 32"), Hex("86 03"));
}

TEST(SimModule, ARefusedMultipleWriteChangesNothing) {
    SimModule m = Make(k8I8T);
    // Filter times of DI0..DI2; the third is out of range.
    EXPECT_EQ(Ask(m, "10 00 30 00 03 06 00 C8 01 2C 00 05"), Hex("90 03"));
    EXPECT_EQ(Ask(m, "03 00 30 00 03"), Hex("03 06 00 64 00 64 00 64"));
    EXPECT_EQ(Ask(m, "10 00 30 00 03 06 00 C8 01 2C 27 10"), Hex("10 00 30 00 03"));
    EXPECT_EQ(Ask(m, "03 00 30 00 03"), Hex("03 06 00 C8 01 2C 27 10"));
}

TEST(SimModule, CoilsSwitchAndReadBack) {
    SimModule m = Make(k8I8T);
    EXPECT_EQ(Ask(m, "01 00 00 00 08"), Hex("01 01 00"));
    EXPECT_EQ(Ask(m, "05 00 03 FF 00"), Hex("05 00 03 FF 00"));
    EXPECT_EQ(Ask(m, "01 00 00 00 08"), Hex("01 01 08"));
    EXPECT_EQ(Ask(m, "0F 00 00 00 08 01 81"), Hex("0F 00 00 00 08"));
    EXPECT_EQ(Ask(m, "01 00 00 00 08"), Hex("01 01 81"));
    EXPECT_EQ(Ask(m, "05 00 07 00 00"), Hex("05 00 07 00 00"));
    EXPECT_EQ(Ask(m, "01 00 00 00 08"), Hex("01 01 01"));
    EXPECT_EQ(Ask(m, "01 00 01 00 03"), Hex("01 01 00"));  // coils 1-3 off

    SimModule t = Make(k16T);
    EXPECT_EQ(Ask(t, "0F 00 00 00 10 02 01 81"), Hex("0F 00 00 00 10"));
    EXPECT_EQ(Ask(t, "01 00 00 00 10"), Hex("01 02 01 81"));
    EXPECT_EQ(Ask(t, "05 00 0C FF 00"), Hex("05 00 0C FF 00"));
    EXPECT_EQ(Ask(t, "01 00 00 00 10"), Hex("01 02 01 91"));
    EXPECT_EQ(Ask(t, "01 00 08 00 08"), Hex("01 01 91"));

    SimModule r = Make(k8RY);
    EXPECT_EQ(Ask(r, "05 00 05 FF 00"), Hex("05 00 05 FF 00"));
    EXPECT_EQ(Ask(r, "0F 00 00 00 08 01 0C"), Hex("0F 00 00 00 08"));
    EXPECT_EQ(Ask(r, "01 00 00 00 08"), Hex("01 01 0C"));
}

TEST(SimModule, InitialStatesAndModeWordsAreStored) {
    SimModule r = Make(k8RY);
    EXPECT_EQ(Ask(r, "06 00 06 00 41"), Hex("06 00 06 00 41"));
    EXPECT_EQ(Ask(r, "03 00 06 00 01"), Hex("03 02 00 41"));
    EXPECT_EQ(Ask(r, "01 00 00 00 08"), Hex("01 01 00"));  // power-on states only

    SimModule m = Make(k8I8T);
    EXPECT_EQ(Ask(m, "06 00 06 00 81"), Hex("06 00 06 00 81"));
    EXPECT_EQ(Ask(m, "06 00 07 00 06"), Hex("06 00 07 00 06"));
    EXPECT_EQ(Ask(m, "03 00 06 00 02"), Hex("03 04 00 81 00 06"));
    // An eight-channel module keeps only the low byte of its words.
    EXPECT_EQ(Ask(m, "06 00 07 FF 01"), Hex("06 00 07 FF 01"));
    EXPECT_EQ(Ask(m, "03 00 07 00 01"), Hex("03 02 00 01"));

    SimModule t = Make(k16T);
    EXPECT_EQ(Ask(t, "06 00 07 82 00"), Hex("06 00 07 82 00"));
    EXPECT_EQ(Ask(t, "03 00 06 00 02"), Hex("03 04 00 00 82 00"));
}

TEST(SimModule, PulseOutputsRefuseSwitchCommandsButNotGroupWrites) {
    SimModule m = Make(k8I8T);
    Ask(m, "05 00 02 FF 00");
    Ask(m, "06 00 07 00 02");                           // DO1 to pulse output
    EXPECT_EQ(Ask(m, "05 00 01 FF 00"), Hex("85 03"));  // no switching DO1 any more
    EXPECT_EQ(Ask(m, "05 00 02 00 00"), Hex("05 00 02 00 00"));
    EXPECT_EQ(Ask(m, "0F 00 00 00 08 01 FF"), Hex("0F 00 00 00 08"));
    EXPECT_EQ(Ask(m, "01 00 00 00 08"), Hex("01 01 FD"));  // DO1 idle, the rest on
}

TEST(SimModule, ContinuousPulseOutputRunsWithItsTimes) {
    SimModule m = Make(k8I8T);
    Ask(m, "06 00 07 00 02");  // DO1 pulse output
    Ask(m, "06 00 09 03 E8");  // ON 1000 x 0.1 ms = 100 ms
    Ask(m, "06 00 11 07 D0");  // OFF 2000 x 0.1 ms = 200 ms
    EXPECT_EQ(Ask(m, "03 00 08 00 10").size(), 34u);
    EXPECT_EQ(Ask(m, "03 00 19 00 01"), Hex("03 02 00 30"));
    const SimTime t0 = Ms(1000);
    EXPECT_EQ(Ask(m, "06 00 19 00 31", t0), Hex("06 00 19 00 31"));
    EXPECT_EQ(Ask(m, "03 00 19 00 01", t0), Hex("03 02 00 31"));
    EXPECT_TRUE(m.Coil(1, t0 + Ms(50)));
    EXPECT_FALSE(m.Coil(1, t0 + Ms(150)));
    EXPECT_FALSE(m.Coil(1, t0 + Ms(299)));
    EXPECT_TRUE(m.Coil(1, t0 + Ms(301)));
    EXPECT_TRUE(m.Coil(1, t0 + Ms(60'000 * 3 + 10)));  // still running minutes later
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
    // The state read the output panel makes: controls 24-31, counts 32-47.
    const ByteString state = Ask(m, "03 00 18 00 18", t0 + Ms(5000));
    ASSERT_EQ(state.size(), 50u);
    for (std::size_t i = 2; i < state.size(); i += 2) {
        EXPECT_EQ(state[i], 0x00);
        EXPECT_EQ(state[i + 1], i < 18 ? 0x30 : 0x00) << i;
    }
}

TEST(SimModule, ALargeCountIsKeptWholeAndZeroStopsIt) {
    SimModule m = Make(k16T);
    Ask(m, "06 00 07 80 00");  // DO15 pulse output
    const SimTime t0 = Ms(0);
    // 100000 pulses on DO15: registers 86-87.
    EXPECT_EQ(Ask(m, "10 00 56 00 02 04 00 01 86 A0", t0), Hex("10 00 56 00 02"));
    EXPECT_EQ(Count32(Ask(m, "03 00 56 00 02", t0 + Ms(10))), 100000u);
    EXPECT_EQ(Count32(Ask(m, "03 00 56 00 02", t0 + Ms(10'010))), 99990u);
    EXPECT_EQ(Ask(m, "10 00 56 00 02 04 00 00 00 00", t0 + Ms(10'010)), Hex("10 00 56 00 02"));
    EXPECT_EQ(Count32(Ask(m, "03 00 56 00 02", t0 + Ms(20'000))), 0u);
    EXPECT_FALSE(m.Coil(15, t0 + Ms(20'250)));
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
    // DI0 rises every 2 s (1 s high, 1 s low), DI1 every 3 s.
    EXPECT_EQ(Ask(m, "02 00 00 00 08", Ms(500)), Hex("02 01 00"));
    EXPECT_FALSE(m.DiscreteInput(0, Ms(1005)));  // 10 ms default filter
    EXPECT_TRUE(m.DiscreteInput(0, Ms(1011)));
    EXPECT_TRUE(m.DiscreteInput(0, Ms(2005)));
    EXPECT_FALSE(m.DiscreteInput(0, Ms(2011)));
    EXPECT_TRUE(m.DiscreteInput(1, Ms(1600)));
    EXPECT_EQ(Ask(m, "02 00 00 00 08", Ms(1600)), Hex("02 01 03"));
    // A filter of one second delays the switch input by a second.
    EXPECT_EQ(Ask(m, "06 00 30 27 10"), Hex("06 00 30 27 10"));
    EXPECT_FALSE(m.DiscreteInput(0, Ms(1999)));
    EXPECT_TRUE(m.DiscreteInput(0, Ms(2001)));
    EXPECT_TRUE(m.DiscreteInput(0, Ms(2999)));

    SimModule i16 = Make(k16I);
    const ByteString all = Ask(i16, "02 00 00 00 10", Ms(20'000));
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[1], 2);
    for (unsigned ch = 0; ch < 16; ++ch)
        EXPECT_EQ(((all[2 + ch / 8] >> (ch % 8)) & 1u) != 0, i16.DiscreteInput(ch, Ms(20'000)));
    EXPECT_EQ(Ask(i16, "02 00 00 00 11"), Hex("82 02"));
}

TEST(SimModule, StartedCountersCountRisingEdgesAndStartFromZero) {
    SimModule m = Make(k8I8T);
    auto count = [&](SimTime t) { return Count32(Ask(m, "03 00 40 00 02", t)); };
    EXPECT_EQ(Ask(m, "03 00 38 00 01"), Hex("03 02 00 30"));
    EXPECT_EQ(Ask(m, "06 00 38 00 31", Ms(500)), Hex("06 00 38 00 31"));
    EXPECT_EQ(Ask(m, "03 00 38 00 01", Ms(600)), Hex("03 02 00 31"));
    EXPECT_EQ(count(Ms(999)), 0u);
    EXPECT_EQ(count(Ms(1001)), 1u);  // DI0 rises at 1 s, 3 s, 5 s ...
    EXPECT_EQ(count(Ms(3001)), 2u);
    EXPECT_EQ(count(Ms(9001)), 5u);
    EXPECT_EQ(Ask(m, "06 00 38 00 30", Ms(9500)), Hex("06 00 38 00 30"));
    EXPECT_EQ(count(Ms(20'000)), 5u);  // stopped: kept
    EXPECT_EQ(Ask(m, "06 00 38 00 31", Ms(20'500)), Hex("06 00 38 00 31"));
    EXPECT_EQ(count(Ms(20'600)), 0u);  // started again: cleared
    EXPECT_EQ(count(Ms(21'001)), 1u);
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
    // CH3 to +-2.5 V, CH7 to +-0.15 V.
    EXPECT_EQ(Ask(ad, "10 00 06 00 08 10 00 30 00 31 00 32 00 33 00 34 00 35 00 36 00 37"),
              Hex("10 00 06 00 08"));
    EXPECT_EQ(Ask(ad, "03 00 06 00 08"),
              Hex("03 10 00 30 00 31 00 32 00 33 00 34 00 35 00 36 00 37"));
    const double fullScale[8] = {20, 10, 5, 2.5, 1.2, 0.6, 0.3, 0.15};
    bool changed = false;
    for (int s = 0; s <= 60; s += 3) {
        const ByteString r = Ask(ad, "04 00 00 00 0C", Ms(s * 1000));
        ASSERT_EQ(r.size(), 26u);
        ASSERT_EQ(r[1], 24);
        for (unsigned ch = 0; ch < 8; ++ch) {
            const std::uint32_t c = (std::uint32_t{r[2 + 3 * ch]} << 16) |
                                    (std::uint32_t{r[3 + 3 * ch]} << 8) | r[4 + 3 * ch];
            const double v = (static_cast<double>(c) - 65535) / 64000 * fullScale[ch];
            EXPECT_GE(c, 1535u);
            EXPECT_LE(c, 129535u);
            EXPECT_NEAR(v, ad.AnalogSignal(ch, Ms(s * 1000)), fullScale[ch] / 64000);
            EXPECT_LE(std::abs(v), fullScale[ch]);
        }
        const ByteString first = Ask(ad, "04 00 00 00 0C", Ms(0));
        changed = changed || first != r;
    }
    EXPECT_TRUE(changed);
    EXPECT_EQ(Ask(ad, "04 00 00 00 0D"), Hex("84 02"));

    SimModule as = Make(k8AS);
    SimModule asp = Make(k8ASP);
    Ask(as, "06 00 07 00 31");  // CH1 voltage
    for (int s = 0; s <= 60; s += 5) {
        const ByteString r = Ask(as, "04 00 00 00 08", Ms(s * 1000));
        ASSERT_EQ(r.size(), 18u);
        const unsigned ch0 = (r[2] << 8) | r[3];
        const unsigned ch1 = (r[4] << 8) | r[5];
        EXPECT_GE(ch0, 800u);   // 4 mA of 20 mA on 4000 counts
        EXPECT_LE(ch0, 4000u);  // 20 mA
        EXPECT_LE(ch1, 4000u);  // 10 V
        const ByteString p = Ask(asp, "04 00 00 00 08", Ms(s * 1000));
        const unsigned pch0 = (p[2] << 8) | p[3];
        EXPECT_GE(pch0, 12800u);  // 4 mA of 20 mA on 64000 counts
        EXPECT_LE(pch0, 64000u);
        EXPECT_NEAR(pch0 / 64000.0 * 20, asp.AnalogSignal(0, Ms(s * 1000)), 0.001);
    }
    EXPECT_EQ(Ask(as, "04 00 00 00 09"), Hex("84 02"));
}

TEST(SimModule, AnalogOutputsStoreModesAndValues) {
    SimModule ao = Make(k2AO);
    EXPECT_EQ(Ask(ao, "03 00 06 00 04"), Hex("03 08 00 30 00 30 0F A0 0F A0"));
    EXPECT_EQ(Ask(ao, "10 00 06 00 02 04 00 30 00 31"), Hex("10 00 06 00 02"));
    EXPECT_EQ(Ask(ao, "10 00 08 00 02 04 2E E0 13 88"), Hex("10 00 08 00 02"));
    EXPECT_EQ(Ask(ao, "03 00 06 00 04"), Hex("03 08 00 30 00 31 2E E0 13 88"));
    EXPECT_EQ(Ask(ao, "06 00 09 3A 98"), Hex("06 00 09 3A 98"));  // 15000 kept as written
    EXPECT_EQ(Ask(ao, "03 00 09 00 01"), Hex("03 02 3A 98"));
    EXPECT_DOUBLE_EQ(ao.AnalogSignal(0, SimTime{0}), 12.0);
    EXPECT_DOUBLE_EQ(ao.AnalogSignal(2, SimTime{0}), 0.0);
    SimModule relays = Make(k8RY);  // no analog channels at all
    for (unsigned ch = 0; ch < 10; ++ch) EXPECT_DOUBLE_EQ(relays.AnalogSignal(ch, SimTime{0}), 0.0);
    EXPECT_EQ(Ask(ao, "03 00 0A 00 01"), Hex("83 02"));
}

TEST(SimModule, NewCommunicationSettingsWaitUntilApplied) {
    SimModule m = Make(k8AD, 1);
    EXPECT_EQ(Ask(m, "10 00 03 00 03 06 00 0C 00 05 00 41"), Hex("10 00 03 00 03"));
    EXPECT_TRUE(m.HasPendingSettings());
    EXPECT_EQ(m.address(), 1);
    EXPECT_EQ(Ask(m, "03 00 03 00 03"), Hex("03 06 00 03 00 01 00 52"));
    m.ApplyPendingSettings();
    EXPECT_FALSE(m.HasPendingSettings());
    EXPECT_EQ(m.address(), 5);
    EXPECT_EQ(m.format(), 12);
    EXPECT_EQ(m.protocol(), Protocol::Ascii);
    EXPECT_EQ(Ask(m, "03 00 03 00 03"), Hex("03 06 00 0C 00 05 00 41"));
    // A single register works too; a refused one stages nothing.
    EXPECT_EQ(Ask(m, "06 00 04 00 F8"), Hex("86 03"));
    EXPECT_FALSE(m.HasPendingSettings());
    EXPECT_EQ(Ask(m, "06 00 04 00 F7"), Hex("06 00 04 00 F7"));
    m.ApplyPendingSettings();
    EXPECT_EQ(m.address(), 247);
    EXPECT_EQ(m.format(), 12);
}

}  // namespace
}  // namespace kelm::sim

namespace kelm::sim {
namespace {

// Requests of every function with random fields, lengths and values: every
// reply is a well-formed normal reply or an exception 01-03, and nothing
// reads or writes out of bounds (run under ASan/UBSan in the asan preset).
TEST(SimModule, RandomRequestsGetWellFormedReplies) {
    std::uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    const std::uint8_t functions[] = {1, 2, 3, 4, 5, 6, 15, 16, 7, 0x2B, 0, 0x81};
    int served = 0;
    for (std::uint8_t type = 10; type <= 17; ++type) {
        SimModule m(ModuleConfig{type, 1, 3, Protocol::Rtu}, SimTime{0});
        for (int i = 0; i < 10000; ++i) {
            const std::uint8_t fc = functions[next() % std::size(functions)];
            ByteString req{fc};
            if (next() % 8 == 0) {
                // Garbage of any length.
                const std::size_t len = next() % 12;
                for (std::size_t k = 0; k < len; ++k)
                    req.push_back(static_cast<std::uint8_t>(next()));
            } else {
                // A well-formed request with fields near and past the map.
                auto word = [&req](unsigned v) {
                    req.push_back(static_cast<std::uint8_t>(v >> 8));
                    req.push_back(static_cast<std::uint8_t>(v));
                };
                const RegisterLayout& l = m.layout();
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
                } else if (fc == 15 || fc == 16) {
                    word(qty);
                    const unsigned bytes = fc == 16 ? 2 * qty : (qty + 7) / 8;
                    req.push_back(static_cast<std::uint8_t>(next() % 6 ? bytes : next() % 20));
                    for (unsigned k = 0; k < bytes; ++k)
                        req.push_back(
                            static_cast<std::uint8_t>(k % 2 == 0 && fc == 16 ? 0 : next()));
                } else {
                    word(qty);
                }
            }
            const SimTime t{static_cast<std::int64_t>(i) * 7919};
            const ByteString reply = m.Handle(req, t);
            ASSERT_GE(reply.size(), 2u);
            if ((reply[0] & 0x80) != 0) {
                ASSERT_EQ(reply.size(), 2u);
                EXPECT_EQ(reply[0], req[0] | 0x80);
                EXPECT_TRUE(reply[1] >= 1 && reply[1] <= 3) << int(reply[1]);
                continue;
            }
            ASSERT_EQ(reply[0], req[0]);
            ++served;
            switch (req[0]) {
                case 1:
                case 2:
                case 3:
                case 4:
                    ASSERT_EQ(reply.size(), 2u + reply[1]);
                    break;
                case 5:
                case 6:
                    EXPECT_EQ(reply, req);
                    break;
                default:
                    EXPECT_EQ(reply, ByteString(req.begin(), req.begin() + 5));
            }
        }
        // Whatever was written, the identity is intact and the module still answers.
        const ByteString id = m.Handle(Hex("03 00 00 00 03"), Ms(60'000));
        ASSERT_EQ(id.size(), 8u);
        EXPECT_EQ(id[3], type);
    }
    EXPECT_GT(served, 6000);  // thousands of requests got through to the registers
}

}  // namespace
}  // namespace kelm::sim
