// The network ports against programs we did not write: ser2net in front of
// kelm-sim's pseudo-terminal, raw and with RFC 2217 (the baud rate set
// through the component reaches the pty), and a pymodbus Modbus TCP server
// read through mbtcp://.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "NetTestSupport.h"
#include "kelm-sim/PtyServer.h"

namespace kelm::test {
namespace {

namespace fs = std::filesystem;

bool Executable(const char* path) {
    return ::access(path, X_OK) == 0;
}

// Opens the port, retrying while the server is still starting up.
bool OpenWhenUp(LoopExecutor& ex, TksComm& com, std::chrono::milliseconds timeout = 20000ms) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        try {
            com.SetActive(true);
            return true;
        } catch (const EksError&) {
            ex.RunFor(50ms);
        }
    }
    return false;
}

class Peers : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("kelm-net-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        com = std::make_unique<TksComm>(&ex);
        com->SetStreamProtocol(TStreamProtocol::spNone);
    }
    void TearDown() override {
        rig.reset();
        com.reset();
        fs::remove_all(dir);
    }

    // A simulated bus on a pty with ser2net in front of it on a free port.
    // accepter: "tcp" or "telnet(rfc2217),tcp"; line: ser2net's initial
    // settings of the pty.
    std::unique_ptr<ChildProcess> Ser2net(const std::string& accepter, const std::string& pty,
                                          const std::string& line, uint16_t* port) {
        *port = FreeLoopbackPort();
        const fs::path config = dir / "ser2net.yaml";
        std::ofstream(config) << Ser2netYaml(accepter, *port, pty, line);
        return std::make_unique<ChildProcess>(
            std::vector<std::string>{"/usr/sbin/ser2net", "-n", "-d", "-c", config.string()});
    }

    fs::path dir;
    LoopExecutor ex;
    std::unique_ptr<TksComm> com;
    std::unique_ptr<EngineRig> rig;
};

std::unique_ptr<sim::PtyServer> StartBus(std::vector<sim::ModuleConfig> modules) {
    std::string error;
    auto bus =
        sim::PtyServer::Create({std::move(modules), std::chrono::milliseconds(0), nullptr}, &error);
    EXPECT_NE(bus, nullptr) << error;
    if (bus) bus->Start();
    return bus;
}

TEST_F(Peers, Ser2netRawTcpInFrontOfThePty) {
    if (!Executable("/usr/sbin/ser2net")) GTEST_SKIP() << "ser2net is not installed";
    auto bus = StartBus({{16, 5, 3, sim::Protocol::Rtu}, {13, 6, 3, sim::Protocol::Rtu}});
    ASSERT_NE(bus, nullptr);
    uint16_t port = 0;
    auto ser2net = Ser2net("tcp", bus->SlavePath(), "9600n82", &port);
    ASSERT_TRUE(ser2net->Started());
    ListNamedPort(*com, 40, "tcp://127.0.0.1:" + std::to_string(port));
    com->SetComPortNo(40);
    ASSERT_TRUE(OpenWhenUp(ex, *com));
    rig = std::make_unique<EngineRig>(ex, *com);
    const ByteString a = rig->Identity(5);
    ASSERT_EQ(a.size(), 9u);
    EXPECT_EQ(a[4], 16);
    const ByteString b = rig->Identity(6);
    ASSERT_EQ(b.size(), 9u);
    EXPECT_EQ(b[4], 13);
    com->SetActive(false);
}

// The module runs at 19200 baud; ser2net opens the pty at 9600. Only once
// the component's baud rate has reached the pty through RFC 2217 does the
// module answer.
TEST_F(Peers, Ser2netRfc2217SetsTheBaudRateOfThePty) {
    if (!Executable("/usr/sbin/ser2net")) GTEST_SKIP() << "ser2net is not installed";
    auto bus = StartBus({{16, 5, 4, sim::Protocol::Rtu}});  // format 4: 19200, no parity, 2 stop
    ASSERT_NE(bus, nullptr);
    uint16_t port = 0;
    auto ser2net = Ser2net("telnet(rfc2217),tcp", bus->SlavePath(), "9600n82", &port);
    ASSERT_TRUE(ser2net->Started());
    ListNamedPort(*com, 41, "rfc2217://127.0.0.1:" + std::to_string(port));
    com->SetComPortNo(41);
    com->SetBaudRate(4800);
    com->SetStopBits(TStopBits::sbTwo);
    ASSERT_TRUE(OpenWhenUp(ex, *com));
    rig = std::make_unique<EngineRig>(ex, *com);
    // At the wrong baud rate the module stays silent.
    EXPECT_TRUE(rig->Identity(5, 1500ms).empty());
    com->SetBaudRate(19200);
    const ByteString a = rig->Identity(5);
    ASSERT_EQ(a.size(), 9u);
    EXPECT_EQ(a[4], 16);
    // And silent again when the stop bits no longer match.
    com->SetStopBits(TStopBits::sbOne);
    EXPECT_TRUE(rig->Identity(5, 1500ms).empty());
    com->SetStopBits(TStopBits::sbTwo);
    EXPECT_EQ(rig->Identity(5).size(), 9u);
    com->SetActive(false);
}

TEST_F(Peers, PymodbusServerThroughModbusTcp) {
    if (!Executable("/usr/bin/python3")) GTEST_SKIP() << "/usr/bin/python3 is not installed";
    const uint16_t port = FreeLoopbackPort();
    ChildProcess server({"/usr/bin/python3", KELM_PYMODBUS_SERVER, std::to_string(port)});
    ASSERT_TRUE(server.Started());
    ListNamedPort(*com, 42, "mbtcp://127.0.0.1:" + std::to_string(port));
    com->SetComPortNo(42);
    ASSERT_TRUE(OpenWhenUp(ex, *com));
    rig = std::make_unique<EngineRig>(ex, *com);
    // Registers 0-2 of unit 7: type code 10, versions 0xA1 and 0xB3.
    EXPECT_EQ(rig->Identity(7), (ByteString{7, 3, 6, 0, 10, 0, 0xA1, 0, 0xB3}));
    // The engine checks the CRC the transport added: the reply is whole.
    EXPECT_EQ(rig->Master().DroppedFrames(), 0u);
    com->SetActive(false);
}

}  // namespace
}  // namespace kelm::test
