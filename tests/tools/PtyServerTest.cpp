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
#include "kelm-sim/SlaveFrame.h"
#include "modbus/Checks.h"

namespace kelm::sim {
namespace {

using test::Hex;
using test::Text;

speed_t SpeedOf(unsigned baud) {
    switch (baud) {
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        default:
            return B115200;
    }
}

// The master's end: the slave tty, raw, with the settings a master would set.
class TestMaster {
  public:
    explicit TestMaster(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    }
    ~TestMaster() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }

    void Set(unsigned baud, unsigned stopBits, bool evenParity = false, unsigned dataBits = 8) {
        termios t{};
        ASSERT_EQ(::tcgetattr(fd_, &t), 0);
        ::cfmakeraw(&t);
        t.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD);
        t.c_cflag |= CLOCAL | CREAD | (dataBits == 7 ? CS7 : CS8);
        if (stopBits == 2) t.c_cflag |= CSTOPB;
        if (evenParity) t.c_cflag |= PARENB;
        ::cfsetispeed(&t, SpeedOf(baud));
        ::cfsetospeed(&t, SpeedOf(baud));
        ::tcsetattr(fd_, TCSANOW,
                    &t);  // a pty may refuse 7 bits or parity; baud and stop bits stay
    }

    // Sends a frame and collects what comes back until 60 ms of silence, or
    // nothing by `wait`.
    ByteString Exchange(const ByteString& request,
                        std::chrono::milliseconds wait = std::chrono::milliseconds(400)) {
        ::tcflush(fd_, TCIFLUSH);
        EXPECT_EQ(::write(fd_, request.data(), request.size()),
                  static_cast<ssize_t>(request.size()));
        ByteString got;
        auto deadline = std::chrono::steady_clock::now() + wait;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            std::uint8_t buf[512];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n <= 0) break;
            got.insert(got.end(), buf, buf + n);
            deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(60);
        }
        return got;
    }

    int fd() const { return fd_; }

  private:
    int fd_ = -1;
};

std::unique_ptr<PtyServer> Serve(std::vector<ModuleConfig> modules,
                                 std::chrono::milliseconds delay = std::chrono::milliseconds(2)) {
    std::string error;
    auto server = PtyServer::Create(PtyServer::Config{std::move(modules), delay, nullptr}, &error);
    EXPECT_TRUE(server) << error;
    if (server) server->Start();
    return server;
}

TEST(PtyServer, AnswersOverARealTty) {
    auto server = Serve({ModuleConfig{12, 3, 3, Protocol::Rtu}});
    ASSERT_TRUE(server);
    TestMaster m(server->SlavePath());
    ASSERT_TRUE(m.ok());
    m.Set(9600, 2);
    EXPECT_EQ(m.Exchange(Hex("03 03 00 00 00 03 04 29")), Hex("03 03 06 00 0C 00 A1 00 B3 38 43"));
    EXPECT_EQ(m.Exchange(FrameRtu(Hex("03 05 00 0C FF 00"))), FrameRtu(Hex("03 05 00 0C FF 00")));
    EXPECT_EQ(m.Exchange(FrameRtu(Hex("03 01 00 00 00 10"))), FrameRtu(Hex("03 01 02 00 10")));
    EXPECT_EQ(m.Exchange(FrameRtu(Hex("03 02 00 00 00 08"))), FrameRtu(Hex("03 82 01")));
    EXPECT_TRUE(m.Exchange(Hex("03 03 00 00 00 03 04 28"), std::chrono::milliseconds(200)).empty());
    // The state is visible from this thread while the server runs.
    EXPECT_TRUE(
        server->WithBus([](SimBus& bus) { return bus.modules()[0].Coil(12, PtyServer::Now()); }));
}

TEST(PtyServer, AModuleAt19200EvenDoesNotAnswerAMasterAt9600None) {
    auto server = Serve({ModuleConfig{13, 1, 12, Protocol::Rtu}});
    ASSERT_TRUE(server);
    TestMaster m(server->SlavePath());
    ASSERT_TRUE(m.ok());
    const ByteString identity = Hex("01 03 00 00 00 03 05 CB");
    m.Set(9600, 2);
    EXPECT_TRUE(m.Exchange(identity, std::chrono::milliseconds(250)).empty());
    m.Set(19200, 2);
    EXPECT_TRUE(m.Exchange(identity, std::chrono::milliseconds(250)).empty());
    m.Set(19200, 1, true);
    EXPECT_EQ(m.Exchange(identity), FrameRtu(Hex("01 03 06 00 0D 00 A1 00 B3")));
}

TEST(PtyServer, AsciiAtSevenBitsEvenParity) {
    auto server = Serve({ModuleConfig{17, 9, 11, Protocol::Ascii}});
    ASSERT_TRUE(server);
    TestMaster m(server->SlavePath());
    ASSERT_TRUE(m.ok());
    m.Set(9600, 1, true, 7);
    EXPECT_EQ(m.Exchange(FrameAscii(Hex("09 06 00 08 2E E0"))),
              FrameAscii(Hex("09 06 00 08 2E E0")));
    EXPECT_EQ(m.Exchange(FrameAscii(Hex("09 03 00 06 00 04"))),
              FrameAscii(Hex("09 03 08 00 30 00 30 2E E0 0F A0")));
    EXPECT_TRUE(
        m.Exchange(FrameRtu(Hex("09 03 00 06 00 04")), std::chrono::milliseconds(200)).empty());
}

TEST(PtyServer, TheLinkCheckWalkFindsTheModuleAtItsFormat) {
    // One module at 38400, even parity, one stop bit (code 13), address 77.
    auto server = Serve({ModuleConfig{11, 77, 13, Protocol::Rtu}}, std::chrono::milliseconds(0));
    ASSERT_TRUE(server);
    TestMaster m(server->SlavePath());
    ASSERT_TRUE(m.ok());
    const ByteString request = Hex("00 03 00 03 00 03 F4 1A");
    int found = -1;
    ByteString reply;
    for (int step = 0; step <= 32 && found < 0; ++step) {
        const bool even = step >= 16;
        const int index = even ? std::min((step - 16) / 2, 7) : step / 2;
        m.Set(kBaudRates[index], even ? 1 : 2, even);
        reply = m.Exchange(request, std::chrono::milliseconds(90));
        if (!reply.empty()) found = step;
    }
    EXPECT_EQ(found, 26);  // 38400 is baud index 5: steps 26 and 27 with even parity
    EXPECT_EQ(reply, FrameRtu(Hex("00 03 06 00 0D 00 4D 00 52")));
}

TEST(PtyServer, NewSettingsTakeEffectAfterTheAcknowledgement) {
    auto server = Serve({ModuleConfig{10, 1, 3, Protocol::Rtu}});
    ASSERT_TRUE(server);
    TestMaster m(server->SlavePath());
    ASSERT_TRUE(m.ok());
    m.Set(9600, 2);
    // To address 5, 115200 no parity (code 7), RTU.
    EXPECT_EQ(m.Exchange(FrameRtu(Hex("01 10 00 03 00 03 06 00 07 00 05 00 52"))),
              FrameRtu(Hex("01 10 00 03 00 03")));
    EXPECT_TRUE(
        m.Exchange(FrameRtu(Hex("01 03 00 00 00 03")), std::chrono::milliseconds(200)).empty());
    EXPECT_TRUE(
        m.Exchange(FrameRtu(Hex("05 03 00 00 00 03")), std::chrono::milliseconds(200)).empty());
    m.Set(115200, 2);
    EXPECT_EQ(m.Exchange(FrameRtu(Hex("05 03 00 03 00 03"))),
              FrameRtu(Hex("05 03 06 00 07 00 05 00 52")));
}

TEST(PtyServer, ManyExchangesWhileAnotherThreadInspects) {
    auto server = Serve({ModuleConfig{12, 1, 3, Protocol::Rtu}}, std::chrono::milliseconds(0));
    ASSERT_TRUE(server);
    TestMaster m(server->SlavePath());
    ASSERT_TRUE(m.ok());
    m.Set(9600, 2);
    std::atomic<bool> done{false};
    std::atomic<unsigned> looks{0};
    std::thread inspector([&] {
        while (!done) {
            server->WithBus([](SimBus& bus) { return bus.modules()[0].Coil(0, PtyServer::Now()); });
            ++looks;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    int answered = 0;
    for (int i = 0; i < 60; ++i) {
        const ByteString value = i % 2 ? Hex("FF 00") : Hex("00 00");
        ByteString req = Hex("01 05 00 00");
        req.insert(req.end(), value.begin(), value.end());
        if (m.Exchange(FrameRtu(req)) == FrameRtu(req)) ++answered;
    }
    done = true;
    inspector.join();
    EXPECT_EQ(answered, 60);
    EXPECT_GT(looks.load(), 0u);
    EXPECT_TRUE(
        server->WithBus([](SimBus& bus) { return bus.modules()[0].Coil(0, PtyServer::Now()); }));
}

TEST(PtyServer, StoppingClosesThePortAndTheMasterSeesTheHangUp) {
    auto server = Serve({ModuleConfig{12, 1, 3, Protocol::Rtu}});
    ASSERT_TRUE(server);
    TestMaster m(server->SlavePath());
    ASSERT_TRUE(m.ok());
    m.Set(9600, 2);
    EXPECT_FALSE(m.Exchange(FrameRtu(Hex("01 03 00 00 00 03"))).empty());
    server->Stop();
    server.reset();
    pollfd p{m.fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 1000), 1);
    EXPECT_NE(p.revents & POLLHUP, 0);
}

TEST(PtyServer, RestartsAfterStopAndServesAgain) {
    auto server = Serve({ModuleConfig{12, 1, 3, Protocol::Rtu}});
    ASSERT_TRUE(server);
    TestMaster m(server->SlavePath());
    ASSERT_TRUE(m.ok());
    m.Set(9600, 2);
    server->Stop();
    EXPECT_TRUE(
        m.Exchange(FrameRtu(Hex("01 03 00 00 00 03")), std::chrono::milliseconds(150)).empty());
    server->Start();
    // The request sent while stopped was heard late; wait it out.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(m.Exchange(FrameRtu(Hex("01 03 00 00 00 03"))),
              FrameRtu(Hex("01 03 06 00 0C 00 A1 00 B3")));
}

}  // namespace
}  // namespace kelm::sim
