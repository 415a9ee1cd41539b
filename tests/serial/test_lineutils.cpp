// Line utilities on real pseudo-terminals: direct reads, the polling waits on
// closed and open ports, modem line requests a pty refuses, the
// configuration record, the device connection test and handle adoption.
// Then the identification exchange and the connection test against a
// scripted device with modem lines (a pty has none): the line sequence, the
// identification bytes kept, and the settings and trace states restored.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "FakeSerialDevice.h"
#include "SerialTestSupport.h"
#include "serial/VirtualPortDir.h"
#include "serial/ksProcessorStreamLog.h"

namespace fs = std::filesystem;
using namespace kelm;
using namespace std::chrono_literals;
using namespace kelm::test;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

class LineUtils : public ::testing::Test {
  protected:
    void SetUp() override {
        ::setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
        pty_.HoldSlaveOpen();
        ASSERT_TRUE(VirtualPortDir::Publish(77, pty_.SlavePath()));
        comm_ = std::make_unique<TksComm>(&ex_);
        comm_->SetEnumPorts(TksEnumPorts::epFullPresent);
        comm_->SetStreamProtocol(TStreamProtocol::spNone);
        comm_->SetLog(&log_);
        comm_->Update();
        comm_->SetComPortNo(77);
    }
    void TearDown() override {
        comm_.reset();
        ::unsetenv("XDG_CONFIG_HOME");
    }
    // Writes bytes into the port from the far end.
    void Feed(const std::string& bytes) {
        ASSERT_EQ(::write(pty_.MasterFd(), bytes.data(), bytes.size()),
                  static_cast<ssize_t>(bytes.size()));
    }
    std::string Logged() const { return logText_.str(); }
    fs::path ConfigFile(const std::string& key, const std::string& name) const {
        return root_ / "config/kelm/registry/HKEY_CURRENT_USER" / key / name;
    }

    TempPortsDir tmp_{"lineutils"};
    const fs::path root_ = tmp_.root;
    LoopExecutor ex_;
    posix::Pty pty_;
    std::ostringstream logText_;
    TksStreamLog log_{logText_};
    std::unique_ptr<TksComm> comm_;
};

}  // namespace

TEST_F(LineUtils, ClosedPortDoesNothingAndWaitsReturnAtOnce) {
    ASSERT_FALSE(comm_->Active());
    int traces = 0;
    comm_->SetOnTraceState([&](TksBaseIO*, TTraceStates) { ++traces; });
    EXPECT_FALSE(comm_->WaitForBytes(0, 5000));
    EXPECT_FALSE(comm_->WaitForSignal(TModemSignal::msCTS, 5000));
    comm_->SetStateDTR(true);
    comm_->SetStateRTS(true);
    comm_->SetStateX(true);
    comm_->SetStateBreak(true);
    comm_->FlushOutputBuffer();
    EXPECT_EQ(traces, 0);
    uint8_t buf[4] = {9, 9, 9, 9};
    comm_->Read(buf, 4);
    EXPECT_EQ(comm_->ReadMax(buf, 4), 0);
    EXPECT_EQ(comm_->ReadString(), "");
    EXPECT_EQ(buf[0], 9);
    EXPECT_NO_THROW(comm_->InitDeviceConnect());  // closed: nothing
}

TEST_F(LineUtils, WaitForBytesSeesQueuedBytesAndRestoresTraceStates) {
    comm_->SetActive(true);
    ASSERT_TRUE(comm_->Active());
    const TTraceStates before{TTraceState::tsRxChar, TTraceState::tsBreak};
    comm_->SetTraceStates(before);
    EXPECT_TRUE(comm_->WaitForBytes(0, 0));  // holds at the first test

    Feed("hello");
    EXPECT_TRUE(comm_->WaitForBytes(5, 3000));
    EXPECT_TRUE(comm_->TraceStates() == before);
    EXPECT_FALSE(comm_->WaitForBytes(6, 50));
    EXPECT_TRUE(comm_->TraceStates() == before);

    uint8_t two[2] = {};
    EXPECT_EQ(comm_->ReadMax(two, 2), 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(two), 2), "he");
    EXPECT_EQ(comm_->ReadString(), "llo");
    EXPECT_EQ(comm_->ReadString(), "");
    Feed("abc");
    ASSERT_TRUE(comm_->WaitForBytes(3, 3000));
    uint8_t all[3] = {};
    comm_->ReadAll(all);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(all), 3), "abc");
}

TEST_F(LineUtils, WaitsKeepTheGuiThreadWorkingAndEndWhenThePortCloses) {
    comm_->SetActive(true);
    int ran = 0;
    ex_.Post([&] { ++ran; });
    EXPECT_FALSE(comm_->WaitForBytes(10, 100));
    EXPECT_EQ(ran, 1);
    std::thread([&] { ex_.Post([&] { ++ran; }); }).join();
    EXPECT_FALSE(comm_->WaitForSignal(TModemSignal::msCTS, 100));
    EXPECT_EQ(ran, 2);

    // Work run during the wait closes the port: the wait gives up then, not
    // after its time (which would run into the test's time-out).
    const TTraceStates before{TTraceState::tsRxChar};
    comm_->SetTraceStates(before);
    ex_.Post([&] { comm_->SetActive(false); });
    EXPECT_FALSE(comm_->WaitForBytes(1, 100000));
    EXPECT_FALSE(comm_->Active());
    EXPECT_TRUE(comm_->TraceStates() == before);
    comm_->SetActive(true);
    ex_.Post([&] { comm_->SetActive(false); });
    EXPECT_FALSE(comm_->WaitForSignal(TModemSignal::msDSR, 100000));
}

TEST_F(LineUtils, ModemLinesOnAPtyReadAsADeviceThatDoesNotAnswer) {
    comm_->SetActive(true);
    std::vector<uint16_t> traces;
    comm_->SetOnTraceState([&](TksBaseIO*, TTraceStates e) { traces.push_back(e.Bits()); });
    comm_->SetStateDTR(true);
    comm_->SetStateRTS(false);
    comm_->SetStateX(false);
    comm_->SetStateX(true);
    comm_->SetStateBreak(true);
    comm_->SetStateBreak(false);
    EXPECT_THAT(traces, ::testing::ElementsAre(TTraceStates{TTraceState::tsDSR}.Bits(),
                                               TTraceStates{TTraceState::tsCTS}.Bits()));
    EXPECT_FALSE(comm_->WaitForSignal(TModemSignal::msDSR, 30));
    EXPECT_TRUE(comm_->Active());

    // The connection test and the identification need DSR: a fatal error,
    // and the port stays as it was.
    EXPECT_EQ(ErrorOf([&] { comm_->InitDeviceConnect(); }), "Device Connect Initialization Error");
    EXPECT_TRUE(comm_->Active());
    comm_->SetActive(false);
    EXPECT_THROW(comm_->GetPNPDeviceString(), EksError);
    EXPECT_TRUE(comm_->Active());  // left open, as the exchange had opened it

    comm_->SetOnFatalError(
        [](TksComponent*, uint32_t, uint32_t, const std::string&, bool& r) { r = false; });
    EXPECT_EQ(comm_->GetPNPDeviceString(), "");
    comm_->SendString("data");
    comm_->FlushOutputBuffer();
    EXPECT_EQ(comm_->NotYetSend(), 0u);
}

TEST_F(LineUtils, SaveThenLoadRestoresPortDcbAndTimeouts) {
    comm_->SetBaudRate(9600);
    comm_->SetParity(TParity::pEven);
    comm_->SetStopBits(TStopBits::sbTwo);
    comm_->SetByteSize(7);
    comm_->SetTimeoutRead(15);
    comm_->SetTimeoutWrite(25);
    comm_->SetStreamProtocol(TStreamProtocol::spHardware);
    comm_->SaveConfig(TksRegRoot::CurrentUser, "Software\\KELM\\Test", "Port");
    EXPECT_THAT(Logged(), HasSubstr("Configuration was saved"));
    const fs::path file = ConfigFile("Software/KELM/Test", "Port");
    ASSERT_TRUE(fs::exists(file));
    EXPECT_EQ(fs::file_size(file), 49u);

    TksComm other(&ex_);
    other.SetStreamProtocol(TStreamProtocol::spNone);
    other.LoadConfig(TksRegRoot::CurrentUser, "Software\\KELM\\Test", "Port");
    EXPECT_EQ(other.ComPortNo(), 77);
    EXPECT_EQ(other.BaudRate(), 9600u);
    EXPECT_EQ(other.Parity(), TParity::pEven);
    EXPECT_EQ(other.StopBits(), TStopBits::sbTwo);
    EXPECT_EQ(other.ByteSize(), 7);
    EXPECT_EQ(other.TimeoutRead(), 15u);
    EXPECT_EQ(other.TimeoutWrite(), 25u);
    // The record does not change the flow control: spNone's bits, kept.
    EXPECT_EQ(other.StreamProtocol(), TStreamProtocol::spNone);
    EXPECT_EQ(other.CommConfig().dcb.Flags & 0x3315u, dcbFlagProtocolNone);
    EXPECT_TRUE(other.CommConfig().dcb.Flags & DCB_fParity);

    // All five time-outs come back, including the three no property sets.
    uint8_t rec[49];
    std::ifstream(file, std::ios::binary).read(reinterpret_cast<char*>(rec), 49);
    const TCommTimeouts five{1, 2, 3, 4, 5};
    std::memcpy(rec + 29, &five, sizeof five);
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(rec), 49);
    other.LoadConfig(TksRegRoot::CurrentUser, "Software\\KELM\\Test", "Port");
    EXPECT_EQ(std::memcmp(&other.CommTimeouts(), &five, sizeof five), 0);

    // Loaded while open: reopened with the record applied at once.
    comm_->SetBaudRate(19200);
    comm_->SetActive(true);
    std::vector<int> codes;
    const auto listener =
        MakeNotifyEvent(this, 1, [&](TksComponent*, int c) { codes.push_back(c); });
    comm_->NotifyAdd(listener);
    comm_->LoadConfig(TksRegRoot::CurrentUser, "Software\\KELM\\Test", "Port");
    EXPECT_TRUE(comm_->Active());
    EXPECT_EQ(comm_->BaudRate(), 9600u);
    EXPECT_THAT(codes, ::testing::ElementsAre(csClosed, csOpened, csDeviceIdChanged));
    comm_->NotifyDelete(listener);
}

TEST_F(LineUtils, ValuesOfAnotherSizeOrMissingChangeNothing) {
    comm_->SetBaudRate(2400);
    comm_->SaveConfig(TksRegRoot::CurrentUser, "Sizes", "Good");
    const fs::path good = ConfigFile("Sizes", "Good");
    std::string bytes(49, '\0');
    std::ifstream(good, std::ios::binary).read(bytes.data(), 49);
    std::ofstream(ConfigFile("Sizes", "Short"), std::ios::binary) << bytes.substr(0, 48);
    std::ofstream(ConfigFile("Sizes", "Long"), std::ios::binary) << bytes << 'x';

    TksComm other(&ex_);
    std::ostringstream text;
    TksStreamLog log(text);
    other.SetLog(&log);
    for (const char* name : {"Short", "Long", "Missing"}) {
        other.LoadConfig(TksRegRoot::CurrentUser, "Sizes", name);
        EXPECT_EQ(other.BaudRate(), 19200u) << name;
        EXPECT_EQ(other.ComPortNo(), 1) << name;
    }
    std::istringstream in(text.str());
    int loaded = 0;
    for (std::string l; std::getline(in, l);)
        loaded += l.find("Configuration was loaded") != std::string::npos;
    EXPECT_EQ(loaded, 3);
}

TEST_F(LineUtils, StoreFailuresAreFatalErrors) {
    EXPECT_EQ(
        ErrorOf([&] { comm_->SaveConfig(TksRegRoot::CurrentUser, "..\\..\\escape", "Port"); }),
        "Error on save config information from registry");
    EXPECT_FALSE(fs::exists(root_ / "escape"));
    EXPECT_THROW(comm_->LoadConfig(TksRegRoot::CurrentUser, "ok", "a/b"), EksError);
    // A port number that one byte cannot hold would come back as another port.
    ASSERT_TRUE(VirtualPortDir::Publish(300, pty_.SlavePath()));
    comm_->Update();
    comm_->SetComPortNo(300);
    EXPECT_THROW(comm_->SaveConfig(TksRegRoot::CurrentUser, "big", "Port"), EksError);
    EXPECT_FALSE(fs::exists(ConfigFile("big", "Port")));
    bool told = false;
    comm_->SetOnFatalError(
        [&](TksComponent*, uint32_t code, uint32_t, const std::string& m, bool& raise) {
            told = code == 1 && m == "Error on save config information from registry";
            raise = false;
        });
    EXPECT_NO_THROW(comm_->SaveConfig(TksRegRoot::CurrentUser, "big", "Port"));
    EXPECT_TRUE(told);
}

TEST_F(LineUtils, SetExtHandleAdoptsAnOpenDescriptor) {
    comm_->SetExtHandle(kInvalidHandle);
    comm_->SetExtHandle(0);
    EXPECT_FALSE(comm_->Active());
    const int fd = ::open(pty_.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    comm_->SetExtHandle(fd);
    ASSERT_TRUE(comm_->Active());
    EXPECT_EQ(comm_->Handle(), fd);
    comm_->SendString("ok");
    EXPECT_EQ(ReadMaster(pty_.MasterFd(), 2), "ok");
    comm_->SetExtHandle(kInvalidHandle);  // ignored: the port stays open
    EXPECT_TRUE(comm_->Active());
}

namespace {

class Pnp : public ::testing::Test {
  protected:
    void SetUp() override {
        script->dsr = true;
        comm = std::make_unique<TksComm>(&ex, std::make_unique<FakeSerialDevice>(script));
        comm->SetLog(&log);
        comm->SetBaudRate(19200);
        comm->SetTraceStates(TTraceStates{TTraceState::tsBreak});
    }
    // Answers with bytes after the nth time RTS is raised while DTR is up
    // (after the DTR/RTS cycles of the exchange).
    void AnswerAt(int nth, const std::string& bytes) {
        auto count = std::make_shared<int>(0);
        auto s = script;
        std::lock_guard l(script->mutex);
        script->onEscape = [s, count, nth, bytes](uint32_t fn) {
            std::lock_guard l(s->mutex);
            if (fn == SETRTS && s->dtr && ++*count == nth) s->input += bytes;
        };
    }
    void ExpectRestored() {
        EXPECT_TRUE(comm->TraceStates() == TTraceStates{TTraceState::tsBreak});
        // The component's lock is never taken while the device's is held.
        std::lock_guard lock(script->mutex);
        ASSERT_GE(script->applied.size(), 2u);
        bool sawWork = false;
        for (const auto& d : script->applied)
            sawWork |= d.BaudRate == 1200 && d.ByteSize == 7 && d.Parity == 0 && d.StopBits == 0;
        EXPECT_TRUE(sawWork);
        EXPECT_EQ(script->applied.back().BaudRate, 19200u);  // the kept settings, sent last
        EXPECT_EQ(script->applied.back().ByteSize, 8);
    }

    LoopExecutor ex;
    std::ostringstream text;
    TksStreamLog log{text};
    std::shared_ptr<FakeSerialDevice::Script> script = std::make_shared<FakeSerialDevice::Script>();
    std::unique_ptr<TksComm> comm;
};

}  // namespace

TEST_F(Pnp, ConnectionTestRaisesRtsWhenDsrAnswersAndFailsWithoutDsr) {
    comm->SetActive(true);
    script->escapes.clear();
    comm->InitDeviceConnect();
    EXPECT_THAT(script->escapes, ElementsAre(SETDTR, CLRRTS, SETRTS));
    EXPECT_THAT(script->purges, ::testing::Contains(0x0Fu));
    EXPECT_THAT(text.str(), ::testing::HasSubstr("The device connection was succesful tested"));
    comm->SetActive(false);
    // Without DSR the exchange is a fatal error and leaves the port open.
    script->dsr = false;
    EXPECT_THROW(comm->GetPNPDeviceString(), EksError);
    EXPECT_TRUE(comm->Active());
    EXPECT_TRUE(script->dtr);
    EXPECT_FALSE(script->rts);
}

TEST_F(Pnp, IdentificationMarkersCyclesAndRestoredSettings) {
    // In parentheses: ends at the first closing one; closed before, closed after.
    AnswerAt(1, std::string("(\x01\x24PNP0501)more", 15));
    EXPECT_EQ(comm->GetPNPDeviceString(), std::string("(\x01\x24PNP0501)", 11));
    ExpectRestored();
    EXPECT_FALSE(comm->Active());
    // After the second cycle with the other markers; open before, reopened after.
    comm->SetActive(true);
    AnswerAt(2, std::string("\x08KELM\x09\x09", 7));
    EXPECT_EQ(comm->GetPNPDeviceString(), std::string("\x08KELM\x09", 6));
    ExpectRestored();
    EXPECT_TRUE(comm->Active());
    comm->SetActive(false);
    // Any other first byte, or silence, gives nothing.
    AnswerAt(1, "A(x)");
    EXPECT_EQ(comm->GetPNPDeviceString(), "");
    ExpectRestored();
    {
        std::lock_guard l(script->mutex);
        script->onEscape = nullptr;
        script->applied.clear();
    }
    EXPECT_EQ(comm->GetPNPDeviceString(), "");
    ExpectRestored();
}

// Regression: a read the driver cut short once reported a full buffer.
TEST_F(Pnp, DirectReadsCutShortReportWhatArrived) {
    comm->SetActive(true);
    script->input = "abcdef";
    script->readLimit = 2;  // the driver gives fewer bytes than it said it had
    uint8_t buf[8] = {'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x'};
    EXPECT_EQ(comm->ReadMax(buf, 8), 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 3), "abx");
    EXPECT_EQ(comm->ReadString(), "cd");  // not "cd" plus four NULs
    script->readLimit = UINT32_MAX;
    EXPECT_EQ(comm->ReadString(), "ef");
}
