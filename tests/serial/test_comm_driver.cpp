// The component and the Linux backend over a pty whose tty calls are answered
// as particular drivers answer them: a 16550 UART (reads its RS-485 settings,
// refuses to set them, reports its transmitter through TIOCSERGETLSR), a UART
// with RS-485 support, and a line whose output queue does not move. Every
// call is recorded in order, so the RS-485 direction and drain order are
// pinned call by call.
#include <gtest/gtest.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <atomic>
#include <thread>

#include "SerialTestSupport.h"
#include "serial/posix/PosixSerialDevice.h"
#include "serial/posix/TtyCalls.h"

namespace kelm::test {
namespace {

// Passes everything to the pty underneath, except what the driver being
// played answers differently; records the calls that matter here.
class ScriptedDriver : public posix::TtyCalls {
  public:
    bool rs485Settable = false;     // TIOCSRS485 accepted (else ENOTTY, as a 16550)
    bool lsrSupported = true;       // TIOCSERGETLSR answered (else ENOTTY, as a pty)
    int lsrBusyReads = 2;           // reads before TIOCSER_TEMT shows after each drain
    std::atomic<int> stuckOutq{0};  // TIOCOUTQ reads this many bytes when not 0

    int Ioctl(int fd, unsigned long request, void* arg) override {
        switch (request) {
            case TIOCMBIS:
            case TIOCMBIC:
                if (*static_cast<int*>(arg) & TIOCM_RTS)
                    Record(request == TIOCMBIS ? "RTS up" : "RTS down");
                return 0;  // a UART has modem lines; the pty has none
            case TIOCGRS485:
                Record("TIOCGRS485");
                *static_cast<serial_rs485*>(arg) = serial_rs485{};
                return 0;
            case TIOCSRS485: {
                const auto* rs = static_cast<serial_rs485*>(arg);
                Record(std::string("TIOCSRS485") +
                       ((rs->flags & SER_RS485_ENABLED) ? " on" : " off"));
                if (rs485Settable) return 0;
                errno = ENOTTY;
                return -1;
            }
            case TIOCSERGETLSR: {
                Record("TIOCSERGETLSR");
                if (!lsrSupported) {
                    errno = ENOTTY;
                    return -1;
                }
                std::lock_guard l(m_);
                *static_cast<unsigned int*>(arg) = busyLeft_ > 0 ? 0u : TIOCSER_TEMT;
                if (busyLeft_ > 0) --busyLeft_;
                return 0;
            }
            case TIOCOUTQ:
                ++outqReads;
                if (stuckOutq != 0) {
                    *static_cast<int*>(arg) = stuckOutq;
                    return 0;
                }
                break;
            default:
                break;
        }
        return TtyCalls::Ioctl(fd, request, arg);
    }
    ssize_t Write(int fd, const void* buf, size_t n) override {
        Record("write " + std::string(static_cast<const char*>(buf), n));
        return TtyCalls::Write(fd, buf, n);
    }
    int Tcdrain(int fd) override {
        Record("tcdrain");
        {
            std::lock_guard l(m_);
            busyLeft_ = lsrBusyReads;  // the shift register still holds the last byte
        }
        return TtyCalls::Tcdrain(fd);
    }
    int Tcflow(int fd, int action) override {
        if (action == TCIOFF) {
            termios t{};
            TtyCalls::Tcgetattr(fd, &t);
            Record("send ahead " + std::string(1, static_cast<char>(t.c_cc[VSTOP])));
        }
        return TtyCalls::Tcflow(fd, action);
    }

    std::vector<std::string> Calls() {
        std::lock_guard l(m_);
        return calls_;
    }
    void ClearCalls() {
        std::lock_guard l(m_);
        calls_.clear();
    }
    std::atomic<int> outqReads{0};

  private:
    void Record(std::string c) {
        std::lock_guard l(m_);
        calls_.push_back(std::move(c));
    }
    std::mutex m_;
    std::vector<std::string> calls_;
    int busyLeft_ = 0;
};

class CommDriver : public ::testing::Test {
  protected:
    void Make() {
        com = std::make_unique<TksComm>(&ex, std::make_unique<posix::PosixSerialDevice>(driver));
        com->SetStreamProtocol(TStreamProtocol::spNone);
        ListPort(*com, 5, pty.SlavePath());
        com->SetComPortNo(5);
        com->SetOnCommError([this](TksBaseIO*, uint32_t, uint32_t sys, uint8_t, bool&) {
            commErrors.push_back(sys);
        });
    }
    void TearDown() override { com.reset(); }

    LoopExecutor ex;
    posix::Pty pty;
    std::shared_ptr<ScriptedDriver> driver = std::make_shared<ScriptedDriver>();
    std::unique_ptr<TksComm> com;
    std::vector<uint32_t> commErrors;
};

TEST_F(CommDriver, RS485DirectionFollowsWhetherTheDriverTakesTheMode) {
    struct Case {
        const char* what;
        bool settable, lsr;
        bool emulated;
        std::vector<std::string> open;  // calls of the open that concern RS-485
        std::vector<std::string> send;  // calls of SendString("AB")
    } cases[] = {
        {"16550: reads its settings, refuses them, reports its transmitter",
         false,
         true,
         true,
         {"TIOCGRS485", "TIOCSRS485 off"},
         {"RTS up", "write AB", "tcdrain", "TIOCSERGETLSR", "TIOCSERGETLSR", "TIOCSERGETLSR",
          "RTS down"}},
        {"no transmitter report (a USB adaptor, a pty): drained, then RTS down",
         false,
         false,
         true,
         {"TIOCGRS485", "TIOCSRS485 off"},
         {"RTS up", "write AB", "tcdrain", "TIOCSERGETLSR", "RTS down"}},
        {"a driver with RS-485 support turns the line round itself",
         true,
         true,
         false,
         {"TIOCGRS485", "TIOCSRS485 off", "TIOCGRS485", "TIOCSRS485 on"},
         {"write AB"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        driver = std::make_shared<ScriptedDriver>();
        driver->rs485Settable = c.settable;
        driver->lsrSupported = c.lsr;
        Make();
        com->SetRS485Mode(true);
        com->SetActive(true);
        ASSERT_TRUE(com->Active());
        EXPECT_EQ(com->IsNotSupportRS485(), c.emulated);
        // The transmit-empty event is watched exactly while we drive RTS.
        EXPECT_EQ((com->Device().Mask() & EV_TXEMPTY) != 0, c.emulated);
        std::vector<std::string> open;
        for (const auto& call : driver->Calls())
            if (call.rfind("TIOC", 0) == 0 && call.find("RS485") != std::string::npos)
                open.push_back(call);
        EXPECT_EQ(open, c.open);
        driver->ClearCalls();
        com->SendString("AB");
        EXPECT_EQ(driver->Calls(), c.send);
        EXPECT_EQ(ReadMaster(pty.MasterFd(), 2), "AB");
        EXPECT_TRUE(commErrors.empty());
        com.reset();
    }
}

TEST_F(CommDriver, AheadCharRaisesRtsGoesOutThroughTheFlowControlSlotAndDrains) {
    Make();
    com->SetRS485Mode(true);
    com->SetActive(true);
    ASSERT_TRUE(com->IsNotSupportRS485());
    termios before{};
    ASSERT_EQ(::tcgetattr(static_cast<int>(com->Handle()), &before), 0);
    driver->ClearCalls();
    com->SendAheadChar(0x146);
    EXPECT_EQ(driver->Calls(),
              (std::vector<std::string>{"RTS up", "send ahead F", "tcdrain", "TIOCSERGETLSR",
                                        "TIOCSERGETLSR", "TIOCSERGETLSR", "RTS down"}));
    EXPECT_EQ(ReadMaster(pty.MasterFd(), 1), "F");
    EXPECT_EQ(com->TotalSent(), 1u);
    // The borrowed control character is given back.
    termios after{};
    ASSERT_EQ(::tcgetattr(static_cast<int>(com->Handle()), &after), 0);
    EXPECT_EQ(after.c_cc[VSTOP], before.c_cc[VSTOP]);
    // NUL cannot take that slot (it disables the character): written.
    driver->ClearCalls();
    com->SendAheadChar(0);
    EXPECT_EQ(driver->Calls()[1], std::string("write ") + '\0');
    EXPECT_EQ(ReadMaster(pty.MasterFd(), 1), std::string(1, '\0'));
}

TEST_F(CommDriver, StuckOutputDoesNotWakeTheEventThreadEveryCharacterTime) {
    Make();
    com->SetBaudRate(115200);  // 10 queued bytes: about 1 ms
    com->SetTraceStates({TTraceState::tsTxEmpty});
    com->SetActive(true);
    driver->stuckOutq = 10;  // flow control holds the line
    com->SendString("x");
    // Counting how often the queue is looked at over half a second: the old
    // 1 ms round looked about 500 times.
    const int before = driver->outqReads.load();
    ex.RunFor(500ms);
    EXPECT_LT(driver->outqReads.load() - before, 60);
    // Once the line moves again the empty queue is reported.
    int sent = 0;
    com->SetOnAfterSend([&](TksBaseIO*) { ++sent; });
    driver->stuckOutq = 0;
    EXPECT_TRUE(ex.RunUntil([&] { return sent > 0; }, 5000ms));
    com->SetOnAfterSend(nullptr);
}

TEST_F(CommDriver, BaudRateChangesWhileTheEventThreadTimesTheOutput) {
    // Meant for ThreadSanitizer: the event wait reads the baud rate that the
    // GUI thread sets, while output is queued and transmit-empty is watched.
    Make();
    com->SetTraceStates({TTraceState::tsTxEmpty});
    com->SetActive(true);
    std::atomic<bool> done{false};
    std::thread outq([&] {
        for (int i = 1; !done; ++i) {
            driver->stuckOutq = 1 + i % 50;  // moving, so each look times it anew
            std::this_thread::sleep_for(1ms);
        }
    });
    com->SendString("x");
    for (uint32_t i = 0; i < 200; ++i) {
        com->SetBaudRate(i % 2 ? 9600 : 115200);
        if (i % 20 == 0) com->SendString("y");
        std::this_thread::sleep_for(1ms);
    }
    done = true;
    outq.join();
    driver->stuckOutq = 0;
    EXPECT_TRUE(com->Active());
}

}  // namespace
}  // namespace kelm::test
