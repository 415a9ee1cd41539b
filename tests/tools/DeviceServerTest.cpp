// A real port served through the serial component, in process: a pty's
// slave stands in for the adaptor and the test is the master on the other
// end. The server runs on a thread of its own (its executor's thread) while
// the test looks at the bus from its own thread.
#include "kelm-sim/DeviceServer.h"

#include <termios.h>

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "SimTestUtil.h"
#include "kelm-sim/PtyServer.h"
#include "modbus/Checks.h"
#include "serial/posix/Pty.h"

namespace kelm::sim {
namespace {

using test::Exchange;
using test::Hex;

class DeviceServerTest : public ::testing::Test {
  protected:
    void StartServer(std::vector<ModuleConfig> modules) {
        std::promise<bool> opened;
        auto ready = opened.get_future();
        thread_ = std::thread([this, modules, &opened] {
            std::string error;
            auto server = DeviceServer::Open(
                {pty_.SlavePath(), modules, std::chrono::milliseconds(1), nullptr}, &error);
            server_ = server.get();
            opened.set_value(server != nullptr);
            if (server) lost_ = !server->Run();
        });
        ASSERT_TRUE(ready.get());
    }
    // Waits for the server's thread; stopping it first unless the port was lost.
    void Finish(bool stop) {
        if (stop && server_ && thread_.joinable()) server_->Stop();
        if (thread_.joinable()) thread_.join();
    }
    void TearDown() override { Finish(true); }

    posix::Pty pty_;
    std::thread thread_;
    DeviceServer* server_ = nullptr;  // owned by thread_, valid until it ends
    bool lost_ = false;               // written by thread_, read after join
};

TEST_F(DeviceServerTest, AnswersAtTheFirstModulesFormatAndFollowsANewOne) {
    StartServer({ModuleConfig{13, 4, 12, Protocol::Rtu}, ModuleConfig{10, 5, 3, Protocol::Rtu}});
    const int fd = pty_.MasterFd();
    termios t{};
    ASSERT_EQ(::tcgetattr(fd, &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), B19200);
    EXPECT_EQ(t.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(Exchange(fd, FrameRtu(Hex("04 05 00 02 FF 00"))), FrameRtu(Hex("04 05 00 02 FF 00")));
    EXPECT_TRUE(
        server_->WithBus([](SimBus& bus) { return bus.modules()[0].Coil(2, PtyServer::Now()); }));
    // The KELM-8I8T at 9600 is not heard on a 19200 line.
    EXPECT_TRUE(Exchange(fd, FrameRtu(Hex("05 03 00 00 00 03")), 250).empty());
    // The KELM-8RY moves to 57600, no parity, two stop bits (code 6): the port follows.
    EXPECT_EQ(Exchange(fd, FrameRtu(Hex("04 10 00 03 00 01 02 00 06"))),
              FrameRtu(Hex("04 10 00 03 00 01")));
    for (int i = 0; i < 50 && ::cfgetospeed(&t) != B57600; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ::tcgetattr(fd, &t);
    }
    EXPECT_EQ(::cfgetospeed(&t), B57600);
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(Exchange(fd, FrameRtu(Hex("04 03 00 03 00 01"))), FrameRtu(Hex("04 03 02 00 06")));
    Finish(true);
    EXPECT_FALSE(lost_);
}

TEST_F(DeviceServerTest, ALostPortEndsTheLoop) {
    StartServer({ModuleConfig{13, 1, 3, Protocol::Rtu}});
    EXPECT_FALSE(Exchange(pty_.MasterFd(), FrameRtu(Hex("01 03 00 00 00 03"))).empty());
    pty_.Close();  // the adaptor is pulled out
    Finish(false);
    EXPECT_TRUE(lost_);
}

}  // namespace
}  // namespace kelm::sim
