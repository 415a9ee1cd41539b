// kelm on buses reached over the network (loopback only): kelm-sim's serial
// device server and Modbus TCP gateway, ser2net in front of a simulated bus
// on a pty (raw and RFC 2217), a pymodbus Modbus TCP server, and addresses
// that cannot work, refused with the reason and without hanging.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "KelmFixture.h"
#include "kelm-sim/NetServer.h"
#include "support/LoopbackPeers.h"

namespace kelm::test {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using sim::NetServer;
using sim::PtyServer;

bool Executable(const char* path) {
    return ::access(path, X_OK) == 0;
}

// Whether output ch of the module at address is on, as the simulated bus
// holds it (a PtyServer's or a NetServer's).
template <class Server>
bool CoilOn(Server& server, std::uint8_t address, unsigned ch) {
    return server.WithBus([&](sim::SimBus& bus) {
        const auto* m = bus.Find(address);
        return m && m->Coil(ch, PtyServer::Now());
    });
}

class NetCli : public KelmTest {
  protected:
    void StartNet(NetServer::Mode mode, std::vector<sim::ModuleConfig> modules) {
        NetServer::Config config;
        config.mode = mode;
        config.modules = std::move(modules);
        std::string error;
        net_ = NetServer::Create(std::move(config), &error);
        ASSERT_TRUE(net_) << error;
        net_->Start();
    }
    void TearDown() override {
        if (net_) net_->Stop();
        KelmTest::TearDown();
    }

    // ser2net in front of the pty bus on a free loopback port; accepter "tcp"
    // or "telnet(rfc2217),tcp"; line: how ser2net first sets the pty.
    std::unique_ptr<ChildProcess> Ser2net(const std::string& accepter, const std::string& line,
                                          uint16_t* port) {
        *port = FreeLoopbackPort();
        std::ofstream(Path("ser2net.yaml"))
            << Ser2netYaml(accepter, *port, server_->SlavePath(), line);
        return std::make_unique<ChildProcess>(
            std::vector<std::string>{"/usr/sbin/ser2net", "-n", "-d", "-c", Path("ser2net.yaml")});
    }

    // kelm until the server behind port has come up: a program started in
    // the background refuses connections for a moment (exit status 3).
    RunResult KelmWhenUp(const std::vector<std::string>& args) {
        const auto end = std::chrono::steady_clock::now() + 30s;
        RunResult r = Kelm(args);
        while (r.status == 3 && r.err.find("connection refused") != std::string::npos &&
               std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(50ms);  // a poll interval, not a wait for speed
            r = Kelm(args);
        }
        return r;
    }

    std::unique_ptr<NetServer> net_;
};

// Scan, info, write and read through kelm-sim's server as a plain byte pipe
// (RTU and ASCII go through unchanged) and as a Modbus TCP gateway.
TEST_F(NetCli, ScanInfoReadWriteThroughTcpAndModbusTcp) {
    struct Case {
        NetServer::Mode mode;
        sim::Protocol protocol;
        const char* scheme;
        const char* protocolName;
    };
    const std::vector<Case> cases = {
        {NetServer::Mode::Raw, sim::Protocol::Rtu, "tcp", "rtu"},
        {NetServer::Mode::Raw, sim::Protocol::Ascii, "tcp", "ascii"},
        {NetServer::Mode::ModbusTcp, sim::Protocol::Rtu, "mbtcp", "rtu"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.scheme) + " " + c.protocolName);
        StartNet(c.mode, {Module(12, 3, 3, c.protocol), Module(14, 5, 3, c.protocol),
                          Module(10, 9, 3, c.protocol)});
        const std::string port = net_->PortName();
        ASSERT_EQ(port.rfind(std::string(c.scheme) + "://127.0.0.1:", 0), 0u) << port;
        const std::vector<std::string> line{"--port",       port,        "--protocol",
                                            c.protocolName, "--timeout", kSlowOk};

        auto args = line;
        args.insert(args.begin(), {"scan", "--to", "10"});
        auto r = Kelm(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out,
                  "3\tKELM-16T\t12\tA1\tB3\n5\tKELM-8AS\t14\tA1\tB3\n9\tKELM-8I8T\t10\tA1\tB3\n");

        args = line;
        args.insert(args.begin(), {"info", "--address", "5", "--json"});
        r = Kelm(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const json info = json::parse(r.out);
        EXPECT_EQ(info["model"], "KELM-8AS");
        EXPECT_EQ(info["address"], 5);
        EXPECT_EQ(info["hardware"], "A1");
        EXPECT_EQ(info["protocol"], c.protocolName);

        args = line;
        args.insert(args.begin(), {"write", "--address", "3", "--json", "do5=on"});
        r = Kelm(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const json written = json::parse(r.out);
        EXPECT_EQ(written["written"][0]["verified"], true);
        // The module behind the socket has it, not just kelm's report.
        EXPECT_TRUE(CoilOn(*net_, 3, 5));

        args = line;
        args.insert(args.begin(), {"read", "--address", "3", "do4", "do5"});
        r = Kelm(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "do4\t0\ndo5\t1\n");

        // An address nobody has: no reply, as on a serial bus.
        args = line;
        args.erase(args.end() - 2, args.end());
        args.insert(args.begin(), {"info", "--address", "4", "--timeout", "300"});
        r = Kelm(args);
        EXPECT_EQ(r.status, 4) << r.err;
        EXPECT_NE(r.err.find("no reply from module 4"), std::string::npos) << r.err;

        net_->Stop();
        net_.reset();
    }
}

// ASCII cannot travel through a Modbus TCP gateway: kelm says so as a bad
// command line and does not even connect.
TEST_F(NetCli, AsciiThroughModbusTcpIsRefused) {
    StartNet(NetServer::Mode::ModbusTcp, {Module(12, 3)});
    for (const char* cmd : {"info", "scan"}) {
        SCOPED_TRACE(cmd);
        const auto r = Kelm({cmd, "--port", net_->PortName(), "--protocol", "ascii"});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, "kelm: cannot use --protocol ascii on " + net_->PortName() +
                             ": a Modbus TCP gateway carries RTU only (use tcp:// for a server "
                             "that passes ASCII through)\n");
    }
    EXPECT_EQ(net_->Connections(), 0u);
}

TEST_F(NetCli, ScanAndWriteThroughSer2netRaw) {
    if (!Executable("/usr/sbin/ser2net")) GTEST_SKIP() << "ser2net is not installed";
    StartBus({Module(12, 3), Module(16, 7)});
    uint16_t tcpPort = 0;
    auto ser2net = Ser2net("tcp", "9600n82", &tcpPort);
    ASSERT_TRUE(ser2net->Started());
    const std::string port = "tcp://127.0.0.1:" + std::to_string(tcpPort);

    auto r = KelmWhenUp({"scan", "--port", port, "--from", "2", "--to", "8", "--timeout", kSlowOk});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "3\tKELM-16T\t12\tA1\tB3\n7\tKELM-8AD\t16\tA1\tB3\n");

    r = KelmWhenUp({"write", "--port", port, "--address", "3", "--timeout", kSlowOk, "do2=on"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(CoilOn(*server_, 3, 2));
}

// ser2net opens the pty at 9600 baud; the module runs at 19200 and the
// simulator answers only when the pty's settings match it. kelm's baud rate
// reaches the pty through RFC 2217: at 19200 the module answers, at 9600
// (ser2net's own setting) it does not.
TEST_F(NetCli, Rfc2217SetsTheBaudRateOfThePty) {
    if (!Executable("/usr/sbin/ser2net")) GTEST_SKIP() << "ser2net is not installed";
    StartBus({Module(12, 3, 4)});  // format 4: 19200, no parity, 2 stop bits
    uint16_t tcpPort = 0;
    auto ser2net = Ser2net("telnet(rfc2217),tcp", "9600n82", &tcpPort);
    ASSERT_TRUE(ser2net->Started());
    const std::string port = "rfc2217://127.0.0.1:" + std::to_string(tcpPort);

    auto r = KelmWhenUp({"scan", "--port", port, "--baud", "19200", "--from", "2", "--to", "4",
                         "--timeout", kSlowOk});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "3\tKELM-16T\t12\tA1\tB3\n");

    r = KelmWhenUp(
        {"info", "--port", port, "--baud", "9600", "--address", "3", "--timeout", "300"});
    EXPECT_EQ(r.status, 4) << r.err;

    r = KelmWhenUp({"write", "--port", port, "--baud", "19200", "--address", "3", "--timeout",
                    kSlowOk, "do6=on"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(CoilOn(*server_, 3, 6));
}

// A Modbus stack we did not write: kelm reads the values the pymodbus server
// holds, converted by the channels' modes.
TEST_F(NetCli, ReadFromAPymodbusServer) {
    if (!Executable("/usr/bin/python3")) GTEST_SKIP() << "/usr/bin/python3 is not installed";
    const uint16_t tcpPort = FreeLoopbackPort();
    ChildProcess server({"/usr/bin/python3", KELM_PYMODBUS_TCP_SERVER, std::to_string(tcpPort)});
    ASSERT_TRUE(server.Started());
    const std::string port = "mbtcp://127.0.0.1:" + std::to_string(tcpPort);
    auto r = KelmWhenUp(
        {"read", "--port", port, "--address", "9", "--timeout", kSlowOk, "--json", "ai"});
    ASSERT_EQ(r.status, 0) << r.err;
    const json got = json::parse(r.out);
    EXPECT_EQ(got["model"], "KELM-8AS");
    std::vector<int> counts;
    std::vector<double> values;
    std::vector<std::string> units;
    for (const auto& a : got["ai"]) {
        counts.push_back(a["count"].get<int>());
        values.push_back(a["value"].get<double>());
        units.push_back(a["unit"].get<std::string>());
    }
    EXPECT_EQ(counts, (std::vector<int>{1000, 3000, 4000, 0, 2000, 400, 123, 3998}));
    EXPECT_EQ(values, (std::vector<double>{5.0, 7.5, 20.0, 0.0, 10.0, 1.0, 0.615, 9.995}));
    EXPECT_EQ(units, (std::vector<std::string>{"mA", "V", "mA", "V", "mA", "V", "mA", "V"}));

    r = KelmWhenUp({"read", "--port", port, "--address", "9", "--timeout", kSlowOk, "ai1", "ai6"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "ai1\t7.500\tV\nai6\t0.615\tmA\n");
}

// Addresses that cannot work: exit status 3 with the reason, never a hang
// (RunProgram kills a program after 60 s, which would show as status -1).
TEST_F(NetCli, BadAddressesAreRefusedWithTheReason) {
    const std::string nobody = std::to_string(FreeLoopbackPort());
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"tcp://", "cannot open tcp://: bad network address: \"tcp://\": no port"},
        {"tcp://127.0.0.1",
         "cannot open tcp://127.0.0.1: bad network address: "
         "\"tcp://127.0.0.1\": no port (HOST:PORT, such as 127.0.0.1:4001)"},
        {"rfc2217://127.0.0.1:0", "the port must be a number from 1 to 65535"},
        {"mbtcp://[::1", "the IPv6 address has no closing bracket"},
        {"udp://127.0.0.1:502", "unknown scheme \"udp\" (tcp, rfc2217 or mbtcp)"},
        {"tcp://nosuchhost.invalid:502", "cannot open tcp://nosuchhost.invalid:502: "},
        {"tcp://127.0.0.1:" + nobody,
         "cannot open tcp://127.0.0.1:" + nobody + ": connection refused"},
        {"mbtcp://[::1]:" + nobody, "connection refused"},
        {"rfc2217://127.0.0.1:" + nobody, "connection refused"},
    };
    for (const auto& [port, message] : cases) {
        SCOPED_TRACE(port);
        auto r = Kelm({"scan", "--port", port, "--to", "2"});
        EXPECT_EQ(r.status, 3) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        r = Kelm({"read", "--port", port, "--address", "1", "--model", "8I8T", "do"});
        EXPECT_EQ(r.status, 3) << r.err;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    }
    // An unknown host is named as such (or as a lookup that took too long,
    // where a name server is configured but does not answer).
    const auto r = Kelm({"info", "--port", "tcp://nosuchhost.invalid:502"});
    EXPECT_EQ(r.status, 3);
    EXPECT_TRUE(r.err.find("unknown host \"nosuchhost.invalid\"") != std::string::npos ||
                r.err.find("looking up host \"nosuchhost.invalid\" took longer") !=
                    std::string::npos)
        << r.err;
}

}  // namespace
}  // namespace kelm::test
