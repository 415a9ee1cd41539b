// Our RTU requests against libmodbus, an independent implementation: libmodbus
// writes its request to a pseudo-terminal and the bytes that come out of the
// other end must equal the frame our master builds for the same request.
#include <fcntl.h>
#include <modbus.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <random>
#include <string>

#include "MasterFixture.h"

namespace kelm::test {
namespace {

class LibmodbusPeer : public MasterTest {
  protected:
    int ptm = -1;
    modbus_t* ctx = nullptr;

    void SetUp() override {
        ptm = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(ptm, 0) << strerror(errno);
        ASSERT_EQ(grantpt(ptm), 0);
        ASSERT_EQ(unlockpt(ptm), 0);
        const char* name = ptsname(ptm);
        ASSERT_NE(name, nullptr);
        ctx = modbus_new_rtu(name, 9600, 'N', 8, 2);
        ASSERT_NE(ctx, nullptr);
        ASSERT_EQ(modbus_connect(ctx), 0) << modbus_strerror(errno);
        // Nobody answers; keep the wait for a reply short.
        modbus_set_response_timeout(ctx, 0, 20000);
    }
    void TearDown() override {
        if (ctx) {
            modbus_close(ctx);
            modbus_free(ctx);
        }
        if (ptm >= 0) close(ptm);
    }

    // Everything libmodbus wrote, up to `want` bytes.
    ByteString ReadFromLine(std::size_t want) {
        ByteString got;
        while (got.size() < want) {
            pollfd p{ptm, POLLIN, 0};
            if (poll(&p, 1, 2000) <= 0) break;
            std::uint8_t buf[512];
            const ssize_t n = read(ptm, buf, sizeof buf);
            if (n <= 0) break;
            got.insert(got.end(), buf, buf + n);
        }
        return got;
    }

    // What libmodbus wrote must equal the frame our master handed to the sink.
    void ExpectSameAsOurs() {
        ASSERT_EQ(sink.frames.size(), 1u);
        EXPECT_EQ(ReadFromLine(sink.frames[0].size()), sink.frames[0]);
        sink.frames.clear();
    }
    // libmodbus writes its request, then our master builds the same one.
    template <class Theirs>
    void Same(Theirs theirs, std::uint8_t code, std::uint16_t reg, std::uint16_t data) {
        theirs();
        master.Modbus_Send_oneWord(code, reg, data);
        ExpectSameAsOurs();
    }
};

TEST_F(LibmodbusPeer, RequestsMatch) {
    std::uint16_t regs[125];
    std::uint8_t bits[16];
    for (int slave : {1, 5, 127, 128, 200, 247}) {
        SCOPED_TRACE(slave);
        ASSERT_EQ(modbus_set_slave(ctx, slave), 0);
        st.Node_Device_ID = static_cast<std::uint8_t>(slave);
        // Each times out: nobody answers.
        Same([&] { modbus_read_registers(ctx, 0, 3, regs); }, 3, 0, 3);
        Same([&] { modbus_read_input_registers(ctx, 0x1F0, 16, regs); }, 4, 0x1F0, 16);
        Same([&] { modbus_read_bits(ctx, 8, 16, bits); }, 1, 8, 16);
        Same([&] { modbus_read_input_bits(ctx, 0, 8, bits); }, 2, 0, 8);
        Same([&] { modbus_write_bit(ctx, 0x0A, 1); }, 5, 0x0A, 0xFF00);
        Same([&] { modbus_write_register(ctx, 0xFFFE, 0xA0F1); }, 6, 0xFFFE, 0xA0F1);
    }
    // Coils: libmodbus takes one byte per coil, we take them packed, first coil in bit 0.
    const std::uint8_t coils[16] = {1, 0, 1, 0, 0, 1, 0, 1, 1, 0, 0, 0, 0, 0, 0, 1};
    const std::uint8_t packed[2] = {0xA5, 0x81};
    modbus_write_bits(ctx, 0, 16, coils);
    ASSERT_TRUE(master.Modbus_Send_Buf(15, 0, 16, 2, packed));
    ExpectSameAsOurs();
    modbus_write_bits(ctx, 0x20, 8, coils);
    ASSERT_TRUE(master.Modbus_Send_Buf(15, 0x20, 8, 1, packed));
    ExpectSameAsOurs();
    const std::uint16_t values[4] = {0x0FA0, 0x8001, 0xFFFF, 0x0000};
    modbus_write_registers(ctx, 0x0102, 4, values);
    ASSERT_TRUE(master.Modbus_Send_Buf(16, 0x0102, 4, 8, Hex("0FA0 8001 FFFF 0000")));
    ExpectSameAsOurs();
}

TEST_F(LibmodbusPeer, RandomBodiesGetTheSameCrc) {
    std::mt19937 rng(20261209);
    for (int round = 0; round < 200; ++round) {
        ByteString body(2 + rng() % 250);
        for (auto& b : body) b = static_cast<std::uint8_t>(rng());
        body[0] = static_cast<std::uint8_t>(rng() % 248);  // a slave id libmodbus accepts
        const int sent = modbus_send_raw_request(ctx, body.data(), static_cast<int>(body.size()));
        ASSERT_EQ(sent, static_cast<int>(body.size() + 2));
        EXPECT_EQ(ReadFromLine(body.size() + 2), FrameRtu(body)) << "round " << round;
    }
}

}  // namespace
}  // namespace kelm::test
