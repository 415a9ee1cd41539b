// The Windows serial backend under wine, on COM ports that are Linux
// pseudo-terminals held by kelm-pty-helper (see win32.cmake). The helper is
// reached over TCP; it sends, receives, reports the line settings, records
// the modem-line changes and pulls the plug on command.
#include <winsock2.h>
#include <ws2tcpip.h>
// winsock2 before windows.h (which the serial headers bring in).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/EnumPorts.h"
#include "serial/LoopExecutor.h"
#include "serial/ksComm.h"
#include "serial/win32/Win32SerialDevice.h"

using namespace kelm;
using namespace std::chrono_literals;

namespace {

// Generous bounds: the machine may be busy; a wait ends as soon as its
// condition holds.
constexpr auto kLong = 20s;

std::string Hex(const std::string& bytes) {
    static const char* d = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += d[c >> 4];
        out += d[c & 15];
    }
    return out;
}

// A test that hangs (wine once left one waiting for good on a busy machine)
// ends the program within kStuck, naming the test and the last step it
// reached, instead of running silently into ctest's limit. The exit status
// kWatchdogExit tells wine-run.sh that the run hung.
constexpr auto kStuck = 90s;
constexpr int kWatchdogExit = 86;

class Watchdog {
  public:
    static Watchdog& Instance() {
        static Watchdog* w = new Watchdog;  // never destroyed: its thread runs to the end
        return *w;
    }
    void Start(std::string test) {
        std::lock_guard g(m_);
        test_ = std::move(test);
        step_ = "set-up";
        since_ = std::chrono::steady_clock::now();
    }
    void End() {
        std::lock_guard g(m_);
        test_.clear();
    }
    void Step(std::string what) {
        std::lock_guard g(m_);
        step_ = std::move(what);
    }

  private:
    Watchdog() {
        std::thread([this] { Watch(); }).detach();
    }
    void Watch() {
        for (;;) {
            std::this_thread::sleep_for(1s);
            std::lock_guard g(m_);
            if (test_.empty() || std::chrono::steady_clock::now() - since_ < kStuck) continue;
            std::fprintf(stdout, "\nwatchdog: %s has not ended after %lld s; last step: %s\n",
                         test_.c_str(), static_cast<long long>(kStuck.count()), step_.c_str());
            std::fflush(stdout);
            std::_Exit(kWatchdogExit);
        }
    }

    std::mutex m_;
    std::string test_;
    std::string step_;
    std::chrono::steady_clock::time_point since_;
};

// Owned by the test framework; tells the watchdog when each test starts and
// ends.
class WatchdogListener : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo& t) override {
        Watchdog::Instance().Start(std::string(t.test_suite_name()) + "." + t.name());
    }
    void OnTestEnd(const ::testing::TestInfo&) override { Watchdog::Instance().End(); }
};

void Step(std::string what) {
    Watchdog::Instance().Step(std::move(what));
}

[[maybe_unused]] const bool kWatchdogInstalled = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new WatchdogListener);
    return true;
}();

class Helper {
  public:
    Helper() {
        WSADATA w;
        WSAStartup(MAKEWORD(2, 2), &w);
        const char* port = std::getenv("KELM_PTY_HELPER");
        if (!port) return;
        sock_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<u_short>(std::atoi(port)));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(sock_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            closesocket(sock_);
            sock_ = INVALID_SOCKET;
        }
    }
    ~Helper() {
        if (sock_ != INVALID_SOCKET) closesocket(sock_);
        WSACleanup();
    }
    bool Connected() const { return sock_ != INVALID_SOCKET; }

    // Sends one command and returns the reply without "ok " (empty on "ok").
    // A reply other than "ok" fails the test.
    std::string Cmd(const std::string& line) {
        Step("waiting for the helper's answer to \"" + line + "\"");
        const std::string out = line + "\n";
        send(sock_, out.data(), static_cast<int>(out.size()), 0);
        std::string reply;
        for (;;) {
            const auto nl = in_.find('\n');
            if (nl != std::string::npos) {
                reply = in_.substr(0, nl);
                in_.erase(0, nl + 1);
                break;
            }
            char buf[4096];
            const int n = recv(sock_, buf, sizeof buf, 0);
            if (n <= 0) {
                ADD_FAILURE() << "helper gone during: " << line;
                return {};
            }
            in_.append(buf, static_cast<size_t>(n));
        }
        Step("after the helper's answer to \"" + line + "\"");
        EXPECT_EQ(reply.substr(0, 2), "ok") << line << " -> " << reply;
        return reply.size() > 3 ? reply.substr(3) : std::string();
    }

  private:
    SOCKET sock_ = INVALID_SOCKET;
    std::string in_;
};

Helper& TheHelper() {
    static Helper h;
    return h;
}

// One test's port: COM<n> mapped to a fresh pty, closed again afterwards.
class PortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!TheHelper().Connected()) GTEST_SKIP() << "not under kelm-pty-helper";
    }
    void Map(int n) {
        TheHelper().Cmd("open " + std::to_string(n));
        mapped_.push_back(n);
    }
    void TearDown() override {
        Step("tear-down: closing the component");
        com_.reset();
        Step("tear-down: unmapping the ports");
        for (int n : mapped_) TheHelper().Cmd("close " + std::to_string(n));
    }
    // A component on COM<n>, events on this thread through the executor.
    TksComm& Com(int n) {
        exec_.SetGuiThread();
        com_ = std::make_unique<TksComm>(&exec_);
        com_->SetComPortNo(static_cast<uint16_t>(n));
        com_->SetStreamProtocol(TStreamProtocol::spNone);
        return *com_;
    }
    Helper& H() { return TheHelper(); }

    LoopExecutor exec_;
    std::unique_ptr<TksComm> com_;
    std::vector<int> mapped_;
};

}  // namespace

// ---- records and codes (no port needed)

TEST(Win32Records, DcbFlagWordsReachTheDriverRecordBitByBit) {
    struct Case {
        uint32_t flags;
        unsigned binary, parity, cts, dsr, dtr, dsrSens, txCont, outX, inX, rts, abort;
    } cases[] = {
        {dcbFlagProtocolRS485, 1, 0, 0, 0, DTR_CONTROL_ENABLE, 0, 0, 0, 0, RTS_CONTROL_TOGGLE, 0},
        {dcbFlagProtocolNone, 1, 0, 0, 0, DTR_CONTROL_ENABLE, 0, 0, 0, 0, RTS_CONTROL_ENABLE, 0},
        {dcbFlagProtocolXOnXOff, 1, 0, 0, 0, DTR_CONTROL_ENABLE, 0, 0, 1, 1, RTS_CONTROL_ENABLE, 0},
        {dcbFlagProtocolHardware, 1, 0, 1, 0, DTR_CONTROL_ENABLE, 0, 0, 0, 0, RTS_CONTROL_HANDSHAKE,
         0},
        {DCB_fParity | DCB_fOutxDsrFlow | DCB_fDsrSensitivity | DCB_fTXContinueOnXoff |
             DCB_fAbortOnError | (DTR_CONTROL_HANDSHAKE << 4),
         0, 1, 0, 1, DTR_CONTROL_HANDSHAKE, 1, 1, 0, 0, RTS_CONTROL_DISABLE, 1},
    };
    for (const auto& c : cases) {
        TDCB t;
        t.Flags = c.flags;
        const DCB d = win32::Win32SerialDevice::ToDriverDcb(t);
        EXPECT_EQ(d.fBinary, c.binary) << std::hex << c.flags;
        EXPECT_EQ(d.fParity, c.parity) << std::hex << c.flags;
        EXPECT_EQ(d.fOutxCtsFlow, c.cts) << std::hex << c.flags;
        EXPECT_EQ(d.fOutxDsrFlow, c.dsr) << std::hex << c.flags;
        EXPECT_EQ(d.fDtrControl, c.dtr) << std::hex << c.flags;
        EXPECT_EQ(d.fDsrSensitivity, c.dsrSens) << std::hex << c.flags;
        EXPECT_EQ(d.fTXContinueOnXoff, c.txCont) << std::hex << c.flags;
        EXPECT_EQ(d.fOutX, c.outX) << std::hex << c.flags;
        EXPECT_EQ(d.fInX, c.inX) << std::hex << c.flags;
        EXPECT_EQ(d.fRtsControl, c.rts) << std::hex << c.flags;
        EXPECT_EQ(d.fAbortOnError, c.abort) << std::hex << c.flags;
        TDCB back;
        win32::Win32SerialDevice::FromDriverDcb(d, back);
        EXPECT_EQ(back.Flags, c.flags);
    }
}

TEST(Win32Records, DcbFieldsRoundTrip) {
    TDCB t;
    t.BaudRate = 115200;
    t.Flags = dcbFlagProtocolXOnXOff | DCB_fParity | DCB_fErrorChar | DCB_fNull;
    t.XonLim = 80;
    t.XoffLim = 200;
    t.ByteSize = 7;
    t.Parity = 2;
    t.StopBits = 2;
    t.XonChar = 0x11;
    t.XoffChar = 0x13;
    t.ErrorChar = '?';
    t.EofChar = 0x1A;
    t.EvtChar = '\n';
    const DCB d = win32::Win32SerialDevice::ToDriverDcb(t);
    EXPECT_EQ(d.DCBlength, 28u);
    EXPECT_EQ(d.BaudRate, 115200u);
    EXPECT_EQ(d.ByteSize, 7);
    EXPECT_EQ(d.Parity, EVENPARITY);
    EXPECT_EQ(d.StopBits, TWOSTOPBITS);
    TDCB back;
    win32::Win32SerialDevice::FromDriverDcb(d, back);
    EXPECT_EQ(0, std::memcmp(&back, &t, sizeof t));
}

TEST(Win32Records, PortNamesBecomeDevicePaths) {
    EXPECT_EQ(win32::Win32SerialDevice::DevicePath("COM5"), L"\\\\.\\COM5");
    EXPECT_EQ(win32::Win32SerialDevice::DevicePath("COM123"), L"\\\\.\\COM123");
    EXPECT_EQ(win32::Win32SerialDevice::DevicePath("\\\\.\\COM7"), L"\\\\.\\COM7");
    EXPECT_EQ(win32::Win32SerialDevice::DevicePath("\\\\?\\FTDIBUS#VID_0403"),
              L"\\\\?\\FTDIBUS#VID_0403");
}

TEST(Win32Records, LostDeviceCodes) {
    const long lost[] = {ERROR_ACCESS_DENIED, ERROR_NOT_READY,         ERROR_BAD_COMMAND,
                         ERROR_GEN_FAILURE,   ERROR_OPERATION_ABORTED, ERROR_DEVICE_NOT_CONNECTED,
                         ERROR_DEVICE_REMOVED};
    const long notLost[] = {0,
                            ERROR_INVALID_HANDLE,
                            ERROR_INVALID_PARAMETER,
                            ERROR_TIMEOUT,
                            ERROR_IO_PENDING,
                            ERROR_FILE_NOT_FOUND};
    for (long code : lost) EXPECT_TRUE(SerialErrors::IsLost(static_cast<int>(code))) << code;
    for (long code : notLost) EXPECT_FALSE(SerialErrors::IsLost(static_cast<int>(code))) << code;
}

// ---- on a port

TEST_F(PortTest, AMissingPortFailsToOpenWithTheSystemsText) {
    TksComm& com = Com(241);
    std::vector<int> codes;
    com.NotifyAdd(MakeNotifyEvent(this, 1, [&](TksComponent*, int c) { codes.push_back(c); }));
    try {
        com.SetActive(true);
        FAIL() << "opened a port that does not exist";
    } catch (const EksError& e) {
        const std::string prefix = "Device \"COM241\" Open Error !!!\r";
        EXPECT_EQ(std::string(e.what()).substr(0, prefix.size()), prefix);
        EXPECT_GT(std::string(e.what()).size(), prefix.size());  // the system's text follows
    }
    EXPECT_FALSE(com.Active());
    EXPECT_EQ(com.Device().NativeHandle(), kInvalidHandle);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), csOpened), 0);
}

TEST_F(PortTest, LineSettingsReachTheTtyAtOpenAndWhileOpen) {
    Map(51);
    TksComm& com = Com(51);
    com.SetBaudRate(9600);
    com.SetStopBits(TStopBits::sbTwo);
    com.SetActive(true);
    ASSERT_TRUE(com.Active());
    EXPECT_EQ(H().Cmd("termios 51"), "baud=9600 cs=8 parenb=0 cstopb=1");
    com.SetBaudRate(57600);
    com.SetStopBits(TStopBits::sbOne);
    EXPECT_EQ(H().Cmd("termios 51"), "baud=57600 cs=8 parenb=0 cstopb=0");
    com.SetBaudRate(115200);
    EXPECT_EQ(H().Cmd("termios 51"), "baud=115200 cs=8 parenb=0 cstopb=0");
}

TEST_F(PortTest, EveryByteValueGoesOutAndComesBackInOrder) {
    Map(52);
    TksComm& com = Com(52);
    std::string got;
    std::atomic<int> wrongThread{0};
    const auto gui = std::this_thread::get_id();
    com.SetOnAfterReceive([&](TksBaseIO*, const uint8_t* b, uint32_t n) {
        if (std::this_thread::get_id() != gui) ++wrongThread;
        EXPECT_GE(n, 1u);
        got.append(reinterpret_cast<const char*>(b), n);
    });
    com.SetActive(true);
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    com.SendString(all);
    EXPECT_EQ(H().Cmd("recv 52 256 20000"), Hex(all));
    EXPECT_EQ(com.TotalSent(), 256u);

    H().Cmd("send 52 " + Hex(all));
    ASSERT_TRUE(exec_.RunUntil([&] { return got.size() >= 256; }, kLong));
    EXPECT_EQ(Hex(got), Hex(all));
    EXPECT_EQ(wrongThread, 0);
}

// The event thread waits in WaitCommEvent while nothing arrives: each reply
// comes after the wait has started, and each one wakes it. (Under wine this
// needs the modem shim; without it wine ends every such wait at once and
// the backend falls back to looking at the queue.)
TEST_F(PortTest, TheEventWaitWakesForEveryArrival) {
    Map(53);
    TksComm& com = Com(53);
    std::string got;
    com.SetOnAfterReceive([&](TksBaseIO*, const uint8_t* b, uint32_t n) {
        got.append(reinterpret_cast<const char*>(b), n);
    });
    com.SetActive(true);
    std::string expected;
    for (int i = 0; i < 100; ++i) {
        const std::string frame = {static_cast<char>(i), static_cast<char>(0xA5), '\r'};
        expected += frame;
        H().Cmd("send 53 " + Hex(frame));
        ASSERT_TRUE(exec_.RunUntil([&] { return got.size() >= expected.size(); }, kLong)) << i;
    }
    EXPECT_EQ(Hex(got), Hex(expected));
}

TEST_F(PortTest, ATraceStateChangeWhileWaitingKeepsTheWaitGoing) {
    Map(54);
    TksComm& com = Com(54);
    std::string got;
    com.SetOnAfterReceive([&](TksBaseIO*, const uint8_t* b, uint32_t n) {
        got.append(reinterpret_cast<const char*>(b), n);
    });
    com.SetActive(true);
    // The mask changes under a pending wait, which ends and starts again.
    com.SetTraceStates(TTraceStates{TTraceState::tsBreak});
    com.SetTraceStates(TTraceStates{});
    H().Cmd("send 54 313233");
    ASSERT_TRUE(exec_.RunUntil([&] { return got.size() >= 3; }, kLong));
    EXPECT_EQ(got, "123");
    // Closing ends the wait: the threads are joined without a hang.
    com.SetActive(false);
    EXPECT_FALSE(com.Active());
}

// Every close ends an event wait that is blocked in WaitCommEvent (Wake:
// SetCommMask under wine, where CancelIoEx leaves it pending); every open
// starts a new one that sees the next arrival.
TEST_F(PortTest, OpenCloseCyclesEndAndRestartTheEventWait) {
    Map(60);
    TksComm& com = Com(60);
    std::string got;
    com.SetOnAfterReceive([&](TksBaseIO*, const uint8_t* b, uint32_t n) {
        got.append(reinterpret_cast<const char*>(b), n);
    });
    for (int i = 0; i < 20; ++i) {
        got.clear();
        com.SetActive(true);
        ASSERT_TRUE(com.Active()) << i;
        const std::string frame = {'#', static_cast<char>('A' + i)};
        H().Cmd("send 60 " + Hex(frame));
        ASSERT_TRUE(exec_.RunUntil([&] { return got.size() >= 2; }, kLong)) << i;
        EXPECT_EQ(got, frame);
        com.SetActive(false);
        EXPECT_FALSE(com.Active());
    }
}

TEST_F(PortTest, AReadTimesOutWithWhatCame) {
    Map(55);
    win32::Win32SerialDevice dev;
    ASSERT_EQ(dev.Open("COM55"), 0);
    TCommTimeouts t;
    t.ReadTotalTimeoutConstant = 300;
    ASSERT_TRUE(dev.SetTimeouts(t));
    H().Cmd("send 55 0A0B0C");
    uint8_t buf[16] = {};
    uint32_t got = 0;
    // Three bytes of ten: the driver's total time-out ends the read; wine
    // reports it as ERROR_TIMEOUT with the bytes, which is no failure of
    // the line.
    EXPECT_FALSE(dev.Read(buf, 10, &got));
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(dev.LastError(), ERROR_TIMEOUT);
    EXPECT_EQ(buf[0], 0x0A);
    EXPECT_EQ(buf[2], 0x0C);
    EXPECT_TRUE(dev.IsOpen());
    // The whole count within the time-out is a success.
    H().Cmd("send 55 01020304");
    EXPECT_TRUE(dev.Read(buf, 4, &got));
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(buf[3], 0x04);
}

TEST_F(PortTest, ReadNowTakesOnlyWhatIsQueued) {
    Map(56);
    win32::Win32SerialDevice dev;
    ASSERT_EQ(dev.Open("COM56"), 0);
    uint8_t buf[8] = {};
    uint32_t got = 99;
    // Nothing queued, no time-outs set: returns at once with nothing.
    EXPECT_TRUE(dev.ReadNow(buf, sizeof buf, &got));
    EXPECT_EQ(got, 0u);
    H().Cmd("send 56 AABB");
    uint32_t errors = 0;
    TComStat st;
    for (int i = 0; i < 2000 && st.cbInQue < 2; ++i) {
        ASSERT_TRUE(dev.ClearError(&errors, &st));
        if (st.cbInQue < 2) Sleep(10);
    }
    ASSERT_EQ(st.cbInQue, 2u);
    EXPECT_TRUE(dev.ReadNow(buf, sizeof buf, &got));
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(buf[0], 0xAA);
    EXPECT_EQ(buf[1], 0xBB);
}

// RS-485 without the driver's toggle mode (wine has none): the component
// raises RTS, writes, waits for the bytes to leave and drops RTS.
TEST_F(PortTest, Rs485DirectionWrapsEachTransmission) {
    Map(57);
    TksComm& com = Com(57);
    com.SetRS485Mode(true);
    com.SetActive(true);
    ASSERT_TRUE(com.Active());
    ASSERT_TRUE(com.IsNotSupportRS485()) << "this driver toggles RTS by itself";
    H().Cmd("clearlog");
    com.SendString(std::string("\x01\x03\x00\x00\x00\x06\xC5\xC8", 8));
    EXPECT_EQ(H().Cmd("recv 57 8 20000"),
              "0103000000"
              "06C5C8");
    com.SendString("AB");
    EXPECT_EQ(H().Cmd("recv 57 2 20000"), "4142");
    EXPECT_EQ(H().Cmd("log"), "RTS+,W8,RTS-,RTS+,W2,RTS-");
}

// The plug is pulled: the other end of the pty goes away under an open port.
TEST_F(PortTest, APulledPlugIsReportedOnceAsALostPort) {
    Map(58);
    TksComm& com = Com(58);
    std::atomic<int> onClose{0};
    std::vector<int> codes;
    com.SetOnClose([&](TksComponent*) { ++onClose; });
    com.NotifyAdd(MakeNotifyEvent(this, 1, [&](TksComponent*, int c) { codes.push_back(c); }));
    com.SetOnAfterReceive([](TksBaseIO*, const uint8_t*, uint32_t) {});
    com.SetActive(true);
    ASSERT_TRUE(com.Active());
    H().Cmd("hangup 58");
    // Wine passes the hang-up on to the event wait; a write that follows
    // finds it too. Either way the port closes, once.
    if (!exec_.RunUntil([&] { return !com.Active(); }, 3s)) com.SendString("x");
    ASSERT_TRUE(exec_.RunUntil([&] { return !com.Active(); }, kLong));
    exec_.RunFor(200ms);  // a second report would come now
    EXPECT_EQ(onClose, 1);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), csClosed), 1);
    com.SendString("after");  // nothing happens on a closed port
    com.SetActive(false);
    EXPECT_EQ(onClose, 1);
}

// The port list comes from the registry's device map; a map entry opens by
// its port name.
TEST_F(PortTest, APortInTheDeviceMapIsListedAndOpensByName) {
    Map(59);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                              REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const wchar_t data[] = L"COM59";
    ASSERT_EQ(RegSetValueExW(key, L"\\Device\\KelmTest59", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(data), sizeof data),
              ERROR_SUCCESS);
    std::vector<PortListEntry> quick = EnumeratePorts(PortEnumMode::QuickAll);
    RegDeleteValueW(key, L"\\Device\\KelmTest59");
    RegCloseKey(key);
    const auto it = std::find_if(quick.begin(), quick.end(),
                                 [](const PortListEntry& e) { return e.Number == 59; });
    ASSERT_NE(it, quick.end());
    EXPECT_EQ(it->DisplayText, "COM59");
    EXPECT_EQ(it->PortName, "COM59");
    EXPECT_TRUE(std::is_sorted(quick.begin(), quick.end(),
                               [](const auto& a, const auto& b) { return a.Number < b.Number; }));

    win32::Win32SerialDevice dev;
    EXPECT_EQ(dev.Open(it->PortName), 0);
}

// The configuration record lives in the registry as a 49-byte binary value;
// a value of another size changes nothing.
TEST(Win32ConfigRecord, SavedToTheRegistryAndLoadedBack) {
    const std::string key = "Software\\KELM\\Test\\Record";
    {
        TksComm com;
        com.SetComPortNo(7);
        com.SetBaudRate(4800);
        com.SetParity(TParity::pEven);
        com.SetByteSize(7);
        com.SetTimeoutRead(25);
        com.SetTimeoutWrite(400);
        com.SaveConfig(TksRegRoot::CurrentUser, key, "Port");
    }
    HKEY k = nullptr;
    ASSERT_EQ(
        RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\KELM\\Test\\Record", 0, KEY_ALL_ACCESS, &k),
        ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueExW(k, L"Port", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(size, 49u);

    TksComm back;
    back.LoadConfig(TksRegRoot::CurrentUser, key, "Port");
    EXPECT_EQ(back.ComPortNo(), 7);
    EXPECT_EQ(back.BaudRate(), 4800u);
    EXPECT_EQ(back.Parity(), TParity::pEven);
    EXPECT_EQ(back.ByteSize(), 7);
    EXPECT_EQ(back.TimeoutRead(), 25u);
    EXPECT_EQ(back.TimeoutWrite(), 400u);

    const uint8_t shorter[48] = {9};
    ASSERT_EQ(RegSetValueExW(k, L"Short", 0, REG_BINARY, shorter, sizeof shorter), ERROR_SUCCESS);
    TksComm untouched;
    untouched.LoadConfig(TksRegRoot::CurrentUser, key, "Short");
    untouched.LoadConfig(TksRegRoot::CurrentUser, key, "Missing");
    EXPECT_EQ(untouched.ComPortNo(), 1);
    EXPECT_EQ(untouched.BaudRate(), 19200u);
    RegCloseKey(k);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\KELM\\Test");
}
