// Line utilities on real pseudo-terminals: direct reads, the polling waits on
// closed and open ports, modem line requests a pty refuses, the
// configuration record, the device connection test, the configuration dialog
// and handle adoption.
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

#include "serial/LoopExecutor.h"
#include "serial/VirtualPortDir.h"
#include "serial/ksComm.h"
#include "serial/ksProcessorStreamLog.h"
#include "serial/posix/Pty.h"

namespace fs = std::filesystem;
using namespace kelm;
using namespace std::chrono_literals;
using ::testing::HasSubstr;

namespace {

class LineUtils : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("kelm-lineutils-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        ::setenv("KELM_PORTS_DIR", (root_ / "ports").c_str(), 1);
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
        ::unsetenv("KELM_PORTS_DIR");
        ::unsetenv("XDG_CONFIG_HOME");
        fs::remove_all(root_);
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

    fs::path root_;
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
    try {
        comm_->InitDeviceConnect();
        FAIL() << "no exception";
    } catch (const EksError& e) {
        EXPECT_STREQ(e.what(), "Device Connect Initialization Error");
    }
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
}

TEST_F(LineUtils, LoadWhileOpenReopensAndAppliesAtOnce) {
    comm_->SetBaudRate(4800);
    comm_->SaveConfig(TksRegRoot::CurrentUser, "k", "v");
    comm_->SetBaudRate(19200);
    comm_->SetActive(true);
    std::vector<int> codes;
    const auto listener =
        MakeNotifyEvent(this, 1, [&](TksComponent*, int c) { codes.push_back(c); });
    comm_->NotifyAdd(listener);
    comm_->LoadConfig(TksRegRoot::CurrentUser, "k", "v");
    EXPECT_TRUE(comm_->Active());
    EXPECT_EQ(comm_->BaudRate(), 4800u);
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
    try {
        comm_->SaveConfig(TksRegRoot::CurrentUser, "..\\..\\escape", "Port");
        FAIL() << "no exception";
    } catch (const EksError& e) {
        EXPECT_STREQ(e.what(), "Error on save config information from registry");
    }
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

TEST_F(LineUtils, ConfigDialogAppliesWhatTheUserConfirms) {
    comm_->SetActive(true);
    comm_->ConfigDialog();  // no dialog registered: nothing changes
    EXPECT_EQ(comm_->BaudRate(), 19200u);
    std::string shownFor;
    comm_->SetConfigDialogProvider([&](const std::string& port, TCommConfig& cfg) {
        shownFor = port;
        cfg.dcb.BaudRate = 4800;
        cfg.dcb.Flags = (cfg.dcb.Flags & dcbFlagProtocolCLEAR) | dcbFlagProtocolXOnXOff;
        return false;  // cancelled
    });
    comm_->ConfigDialog();
    EXPECT_EQ(shownFor, (root_ / "ports/COM77").string());
    EXPECT_EQ(comm_->BaudRate(), 19200u);
    EXPECT_EQ(comm_->StreamProtocol(), TStreamProtocol::spNone);
    comm_->SetConfigDialogProvider([&](const std::string&, TCommConfig& cfg) {
        cfg.dcb.BaudRate = 4800;
        cfg.dcb.Flags = (cfg.dcb.Flags & dcbFlagProtocolCLEAR) | dcbFlagProtocolXOnXOff;
        return true;
    });
    comm_->ConfigDialog();
    EXPECT_EQ(comm_->BaudRate(), 4800u);
    EXPECT_EQ(comm_->StreamProtocol(), TStreamProtocol::spXonXoff);
    EXPECT_FALSE(comm_->RS485Mode());
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
    pollfd p{pty_.MasterFd(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 2000), 1);
    char buf[2];
    EXPECT_EQ(::read(pty_.MasterFd(), buf, 2), 2);
    EXPECT_EQ(std::string(buf, 2), "ok");
    comm_->SetExtHandle(kInvalidHandle);  // ignored: the port stays open
    EXPECT_TRUE(comm_->Active());
}
