// The simulator on a real pseudo-terminal: a master opens the slave side
// like a serial port, sets its line, and exchanges frames. Also runs the
// link check's walk over the formats, and inspection from another thread
// while the server works (for ThreadSanitizer).
#include "kelm-sim/PtyServer.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "SimTestUtil.h"
#include "modbus/Checks.h"

namespace kelm::sim {
namespace {

using test::Exchange;
using test::Hex;

// The master's end: the slave tty, raw, with the settings a master would set.
struct Master {
    explicit Master(const std::string& path)
        : fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {}
    ~Master() {
        if (fd >= 0) ::close(fd);
    }
    void Set(unsigned baud, unsigned stopBits, bool evenParity = false, unsigned dataBits = 8) {
        termios t{};
        ASSERT_EQ(::tcgetattr(fd, &t), 0);
        ::cfmakeraw(&t);
        t.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD);
        t.c_cflag |= CLOCAL | CREAD | (dataBits == 7 ? CS7 : CS8);
        if (stopBits == 2) t.c_cflag |= CSTOPB;
        if (evenParity) t.c_cflag |= PARENB;
        ASSERT_EQ(::cfsetspeed(&t, baud), 0);  // glibc takes plain rates as well as B9600
        ::tcsetattr(fd, TCSANOW, &t);  // a pty may refuse 7 bits or parity; baud and stop bits stay
    }
    int fd;
};

// A server on a fresh pty, started, and a master on it at 9600, two stop bits.
struct Bench {
    explicit Bench(std::vector<ModuleConfig> modules, int delayMs = 2)
        : server(PtyServer::Create(
              {std::move(modules), std::chrono::milliseconds(delayMs), nullptr}, &error)),
          m(server ? server->SlavePath() : "") {
        if (server) server->Start();
        if (m.fd >= 0) m.Set(9600, 2);
    }
    bool ok() const { return server && m.fd >= 0; }
    ByteString Ask(const ByteString& request, int waitMs = 500) {
        return Exchange(m.fd, request, waitMs);
    }

    std::string error;
    std::unique_ptr<PtyServer> server;
    Master m;
};

bool CoilOf(PtyServer& server, unsigned ch) {
    return server.WithBus(
        [ch](SimBus& bus) { return bus.modules()[0].Coil(ch, PtyServer::Now()); });
}

TEST(PtyServer, AnswersOverARealTtyAndAppliesNewSettingsAfterTheAcknowledgement) {
    Bench b({ModuleConfig{12, 3, 3, Protocol::Rtu}, ModuleConfig{10, 1, 3, Protocol::Rtu},
             ModuleConfig{17, 9, 11, Protocol::Ascii}});
    ASSERT_TRUE(b.ok()) << b.error;
    EXPECT_EQ(b.Ask(Hex("03 03 00 00 00 03 04 29")), Hex("03 03 06 00 0C 00 A1 00 B3 38 43"));
    EXPECT_EQ(b.Ask(FrameRtu(Hex("03 05 00 0C FF 00"))), FrameRtu(Hex("03 05 00 0C FF 00")));
    EXPECT_EQ(b.Ask(FrameRtu(Hex("03 01 00 00 00 10"))), FrameRtu(Hex("03 01 02 00 10")));
    EXPECT_EQ(b.Ask(FrameRtu(Hex("03 02 00 00 00 08"))), FrameRtu(Hex("03 82 01")));
    EXPECT_TRUE(b.Ask(Hex("03 03 00 00 00 03 04 28"), 200).empty());  // bad CRC
    EXPECT_TRUE(CoilOf(*b.server, 12));  // the state is visible from this thread
    // The KELM-8I8T moves to address 5, 115200 no parity (code 7), RTU.
    EXPECT_EQ(b.Ask(FrameRtu(Hex("01 10 00 03 00 03 06 00 07 00 05 00 52"))),
              FrameRtu(Hex("01 10 00 03 00 03")));
    EXPECT_TRUE(b.Ask(FrameRtu(Hex("01 03 00 00 00 03")), 200).empty());
    EXPECT_TRUE(b.Ask(FrameRtu(Hex("05 03 00 00 00 03")), 200).empty());
    b.m.Set(115200, 2);
    EXPECT_EQ(b.Ask(FrameRtu(Hex("05 03 00 03 00 03"))),
              FrameRtu(Hex("05 03 06 00 07 00 05 00 52")));
    // The KELM-2AO speaks ASCII at 9600, seven bits, even parity, one stop bit.
    b.m.Set(9600, 1, true, 7);
    EXPECT_EQ(b.Ask(FrameAscii(Hex("09 06 00 08 2E E0"))), FrameAscii(Hex("09 06 00 08 2E E0")));
    EXPECT_EQ(b.Ask(FrameAscii(Hex("09 03 00 06 00 04"))),
              FrameAscii(Hex("09 03 08 00 30 00 30 2E E0 0F A0")));
    EXPECT_TRUE(b.Ask(FrameRtu(Hex("09 03 00 06 00 04")), 200).empty());
}

TEST(PtyServer, TheLinkCheckWalkFindsTheModuleOnlyAtItsFormat) {
    // One module at 19200, even parity, one stop bit (code 12), address 77.
    Bench b({ModuleConfig{11, 77, 12, Protocol::Rtu}}, 0);
    ASSERT_TRUE(b.ok()) << b.error;
    int found = -1;
    ByteString reply;
    for (int step = 0; step <= 32 && found < 0; ++step) {
        const bool even = step >= 16;
        const int index = even ? std::min((step - 16) / 2, 7) : step / 2;
        b.m.Set(kBaudRates[index], even ? 1 : 2, even);
        reply = b.Ask(Hex("00 03 00 03 00 03 F4 1A"), 90);
        if (!reply.empty()) found = step;
    }
    // 19200 is baud index 4: silent at steps 8 and 9 with two stop bits, found at 24.
    EXPECT_EQ(found, 24);
    EXPECT_EQ(reply, FrameRtu(Hex("00 03 06 00 0C 00 4D 00 52")));
}

TEST(PtyServer, ManyExchangesWhileAnotherThreadInspects) {
    Bench b({ModuleConfig{12, 1, 3, Protocol::Rtu}}, 0);
    ASSERT_TRUE(b.ok()) << b.error;
    std::atomic<bool> done{false};
    std::atomic<unsigned> looks{0};
    std::thread inspector([&] {
        for (; !done; ++looks) {
            CoilOf(*b.server, 0);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    int answered = 0;
    for (int i = 0; i < 60; ++i) {
        const ByteString req = FrameRtu(Hex(i % 2 ? "01 05 00 00 FF 00" : "01 05 00 00 00 00"));
        answered += b.Ask(req, 400) == req;
    }
    done = true;
    inspector.join();
    EXPECT_EQ(answered, 60);
    EXPECT_GT(looks.load(), 0u);
    EXPECT_TRUE(CoilOf(*b.server, 0));
}

TEST(PtyServer, StopsRestartsAndClosesThePortSoTheMasterSeesTheHangUp) {
    Bench b({ModuleConfig{12, 1, 3, Protocol::Rtu}});
    ASSERT_TRUE(b.ok()) << b.error;
    const ByteString identity = FrameRtu(Hex("01 03 00 00 00 03"));
    const ByteString reply = FrameRtu(Hex("01 03 06 00 0C 00 A1 00 B3"));
    EXPECT_EQ(b.Ask(identity), reply);
    b.server->Stop();
    EXPECT_TRUE(b.Ask(identity, 150).empty());
    b.server->Start();
    // The request sent while stopped was heard late; wait it out.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(b.Ask(identity), reply);
    b.server->Stop();
    b.server.reset();
    pollfd p{b.m.fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 1000), 1);
    EXPECT_NE(p.revents & POLLHUP, 0);
}

}  // namespace
}  // namespace kelm::sim
