// The kelm program itself, run as a user runs it, against simulated modules
// on a pseudo-terminal (in RTU and ASCII) and against scripted slaves: its
// output, its JSON and its exit statuses.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "KelmFixture.h"
#include "bus/BusClient.h"
#include "kelm-sim/PtyServer.h"
#include "modbus/Checks.h"
#include "support/ScriptedPeer.h"

namespace kelm::test {
namespace {

using nlohmann::json;
using sim::ModuleConfig;
using sim::Protocol;
using sim::PtyServer;

// Simulated modules on a pty; the scratch directory is kelm's port directory.
using Cli = KelmTest;

TEST_F(Cli, ScanListsTheModulesInBothProtocols) {
    for (Protocol p : {Protocol::Rtu, Protocol::Ascii}) {
        SCOPED_TRACE(p == Protocol::Rtu ? "rtu" : "ascii");
        StartBus({Module(12, 3, 3, p), Module(16, 5, 3, p), Module(17, 9, 3, p)});
        const std::string proto = p == Protocol::Rtu ? "rtu" : "ascii";
        auto r = Kelm({"scan", "--port", server_->SlavePath(), "--to", "10", "--protocol", proto,
                       "--timeout", "300"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out,
                  "3\tKELM-16T\t12\tA1\tB3\n5\tKELM-8AD\t16\tA1\tB3\n9\tKELM-2AO\t17\tA1\tB3\n");
        EXPECT_EQ(r.err, "");  // no progress bar without a terminal

        r = Kelm({"scan", "--port", server_->SlavePath(), "--from", "4", "--to", "6", "--json",
                  "--protocol", proto, "--timeout", "300"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(json::parse(r.out),
                  json::parse(R"({"modules":[{"address":5,"model":"KELM-8AD","type":16,)"
                              R"("hardware":"A1","software":"B3"}]})"));

        // Modules in the other protocol do not answer.
        r = Kelm({"scan", "--port", server_->SlavePath(), "--to", "5", "--protocol",
                  p == Protocol::Rtu ? "ascii" : "rtu", "--timeout", "100"});
        EXPECT_EQ(r.status, 4);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("no module answered"), std::string::npos) << r.err;
        server_->Stop();
        server_.reset();
    }
}

// On a terminal the scan draws its progress on stderr, in place, and clears
// it; stdout keeps the result alone.
TEST_F(Cli, ScanDrawsItsProgressOnATerminal) {
    StartBus({Module(12, 3)});
    posix::Pty terminal;
    terminal.HoldSlaveOpen();  // the text stays readable after the program is gone
    const int err = ::open(terminal.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(err, 0);
    const auto r = RunProgram(
        kKelm,
        {"scan", "--port", server_->SlavePath(), "--from", "2", "--to", "5", "--timeout", "300"},
        {{"KELM_PORTS_DIR", dir_}}, std::chrono::seconds(60), err);
    ::close(err);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "3\tKELM-16T\t12\tA1\tB3\n");
    // The terminal passes the text on a little later: read until the clearing
    // sequence that ends it (bounded).
    std::string shown;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!shown.ends_with("\r\033[K") && std::chrono::steady_clock::now() < limit) {
        pollfd p{terminal.MasterFd(), POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        char buf[4096];
        const ssize_t n = ::read(terminal.MasterFd(), buf, sizeof buf);
        if (n > 0) shown.append(buf, static_cast<std::size_t>(n));
    }
    EXPECT_NE(shown.find("] 0/4  0 found"), std::string::npos) << shown;
    EXPECT_NE(shown.find("] 2/4  1 found"), std::string::npos) << shown;
    EXPECT_TRUE(shown.ends_with("\r\033[K")) << shown;
}

TEST_F(Cli, FindReportsTheModulesSettings) {
    struct Case {
        ModuleConfig module;
        std::vector<std::string> args;
        int status;
        std::string json;
    };
    const Case cases[] = {
        {Module(16, 17, 13, Protocol::Ascii),
         {},
         0,
         R"({"address":17,"baud":38400,"parity":"even","protocol":"ascii","format":13})"},
        {Module(10, 247, 0, Protocol::Rtu),
         {},
         0,
         R"({"address":247,"baud":1200,"parity":"none","protocol":"rtu","format":0})"},
        {Module(13, 1, 15, Protocol::Rtu),
         {"--protocol", "rtu"},
         0,
         R"({"address":1,"baud":115200,"parity":"even","protocol":"rtu","format":15})"},
        // Addressed rather than broadcast.
        {Module(13, 8, 4, Protocol::Rtu),
         {"--address", "8"},
         0,
         R"({"address":8,"baud":19200,"parity":"none","protocol":"rtu","format":4})"},
        {Module(16, 17, 13, Protocol::Ascii), {"--protocol", "rtu", "--timeout", "100"}, 4, ""},
        {Module(13, 8, 4, Protocol::Rtu), {"--address", "9", "--timeout", "100"}, 4, ""},
    };
    for (const auto& c : cases) {
        StartBus({c.module});
        std::vector<std::string> args{"find", "--port", server_->SlavePath(), "--json"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        if (c.status == 0) args.insert(args.end(), {"--timeout", "300"});
        const auto r = Kelm(args);
        EXPECT_EQ(r.status, c.status) << c.json << r.err;
        if (c.status == 0) {
            EXPECT_EQ(json::parse(r.out), json::parse(c.json));
        } else {
            EXPECT_EQ(r.out, "");
            EXPECT_NE(r.err.find("no module answered in any format"), std::string::npos) << r.err;
        }
        server_->Stop();
        server_.reset();
    }
}

TEST_F(Cli, InfoInBothProtocols) {
    StartBus({Module(15, 12, 3, Protocol::Rtu), Module(11, 30, 3, Protocol::Ascii)});
    auto r = Kelm({"info", "--port", server_->SlavePath(), "--address", "12", "--json", "--timeout",
                   kSlowOk});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(json::parse(r.out),
              json::parse(R"({"address":12,"model":"KELM-8ASP","type":15,"hardware":"A1",)"
                          R"("software":"B3","format":3,"baud":9600,"parity":"none",)"
                          R"("protocol":"rtu"})"));
    r = Kelm({"info", "-p", server_->SlavePath(), "-a", "30", "--protocol", "ASCII", "--timeout",
              kSlowOk});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "address=30\nmodel=KELM-16I\ntype=11\nhardware=A1\nsoftware=B3\n"
              "format=3 (9600/7/2/None)\nbaud=9600\nparity=none\nprotocol=ascii\n");
    // At the wrong format the modules keep silent.
    r = Kelm(
        {"info", "-p", server_->SlavePath(), "-a", "12", "--baud", "19200", "--timeout", "200"});
    EXPECT_EQ(r.status, 4);
    EXPECT_NE(r.err.find("no reply from module 12 at 19200/8/2/None RTU"), std::string::npos)
        << r.err;
}

TEST_F(Cli, SetMovesTheModuleAndReadsItBack) {
    StartBus({Module(16, 5, 3, Protocol::Rtu)});
    auto r = Kelm({"set", "--port", server_->SlavePath(), "--address", "5", "--new-address", "9",
                   "--new-baud", "19200", "--new-parity", "even", "--new-protocol", "ascii",
                   "--json", "--timeout", kSlowOk});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(json::parse(r.out),
              json::parse(R"({"address":9,"model":"KELM-8AD","type":16,"hardware":"A1",)"
                          R"("software":"B3","format":12,"baud":19200,"parity":"even",)"
                          R"("protocol":"ascii"})"));
    server_->WithBus([](sim::SimBus& bus) {
        ASSERT_EQ(bus.modules().size(), 1u);
        const auto& c = bus.modules()[0].config();
        EXPECT_EQ(c.address, 9);
        EXPECT_EQ(c.format, 12);
        EXPECT_EQ(c.protocol, Protocol::Ascii);
    });
    // Only the protocol changes back; the rest stays as the module has it.
    r = Kelm({"set", "--port", server_->SlavePath(), "--address", "9", "--baud", "19200",
              "--parity", "even", "--protocol", "ascii", "--new-protocol", "rtu", "--timeout",
              kSlowOk});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("format=12 (19200/8/1/Even)\n"), std::string::npos) << r.out;
    server_->WithBus([](sim::SimBus& bus) {
        const auto& c = bus.modules()[0].config();
        EXPECT_EQ(c.address, 9);
        EXPECT_EQ(c.format, 12);
        EXPECT_EQ(c.protocol, Protocol::Rtu);
    });
}

ByteString Regs(std::uint8_t address, std::vector<std::uint16_t> values) {
    ByteString b{address, 3, static_cast<std::uint8_t>(2 * values.size())};
    for (auto v : values) {
        b.push_back(static_cast<std::uint8_t>(v >> 8));
        b.push_back(static_cast<std::uint8_t>(v));
    }
    return FrameRtu(b);
}

// A module that refuses to read six registers at once is read in two parts.
TEST_F(Cli, InfoReadsInPartsWhenTheModuleAsksForIt) {
    ScriptedPeer peer;
    peer.SetScript([](const ByteString& req) -> std::optional<ByteString> {
        if (req[5] != 3) return FrameRtu(ByteString{req[0], 0x83, 0x03});
        if (req[3] == 0) return Regs(req[0], {13, 0x21, 0x07});
        return Regs(req[0], {8, 6, 0x52});
    });
    const auto r =
        Kelm({"info", "-p", peer.SlavePath(), "-a", "6", "--json", "--timeout", kSlowOk});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(json::parse(r.out),
              json::parse(R"({"address":6,"model":"KELM-8RY","type":13,"hardware":"21",)"
                          R"("software":"07","format":8,"baud":1200,"parity":"even",)"
                          R"("protocol":"rtu"})"));
}

TEST_F(Cli, ModuleFaultsExitWithOne) {
    ScriptedPeer peer;
    // An exception to the identity read.
    peer.SetScript([](const ByteString& req) -> std::optional<ByteString> {
        return FrameRtu(ByteString{req[0], 0x83, 0x02});
    });
    auto r = Kelm({"info", "-p", peer.SlavePath(), "-a", "4", "--timeout", kSlowOk});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("module 4 answered with exception 02 (illegal data address)"),
              std::string::npos)
        << r.err;

    // A module that acknowledges the write but keeps its old settings.
    peer.SetScript([](const ByteString& req) -> std::optional<ByteString> {
        if (req[1] == 16) return FrameRtu(ByteString(req.begin(), req.begin() + 6));
        if (req[3] == 3) return Regs(req[0], {3, 4, 0x52});
        return Regs(req[0], {10, 0xA1, 0xB3, 3, 4, 0x52});
    });
    r = Kelm({"set", "-p", peer.SlavePath(), "-a", "4", "--new-address", "4", "--new-parity",
              "even", "--timeout", kSlowOk});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("read-back differs"), std::string::npos) << r.err;
    // The write was registers 3-5 of module 4: format 11, address 4, "R".
    bool wrote = false;
    for (const auto& req : peer.Requests()) {
        if (req == FrameRtu(ByteString{4, 16, 0, 3, 0, 3, 6, 0, 11, 0, 4, 0, 0x52})) wrote = true;
    }
    EXPECT_TRUE(wrote);
}

// Answers whose values no module has: find says so (exit 1), scan leaves the
// address out.
TEST_F(Cli, ImplausibleAnswers) {
    ScriptedPeer peer;
    peer.SetScript([](const ByteString& req) -> std::optional<ByteString> {
        if (req[0] == 0) return Regs(0, {16, 1, 0x52});    // format 16
        if (req[0] == 2) return Regs(2, {0, 0xA1, 0xB3});  // type code 0
        if (req[0] == 3) return Regs(3, {10, 0xA1, 0xB3});
        return std::nullopt;
    });
    auto r = Kelm({"find", "-p", peer.SlavePath(), "--protocol", "rtu", "--timeout", kSlowOk});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("with format 16, address 1, protocol letter 82"), std::string::npos)
        << r.err;
    r = Kelm({"scan", "-p", peer.SlavePath(), "--to", "3", "--timeout", kSlowOk});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "3\tKELM-8I8T\t10\tA1\tB3\n");
    EXPECT_NE(r.err.find("address 2 answered with type code 0"), std::string::npos) << r.err;
}

TEST_F(Cli, PortFailuresExitWithThree) {
    ScriptedPeer peer;
    bus::BusClient holder;  // another program has the port
    ASSERT_TRUE(holder.Open(peer.SlavePath(), bus::LineSettings{}).ok());
    struct Case {
        std::string port;
        std::string says;
    };
    const Case cases[] = {
        {peer.SlavePath(), "busy"},
        {"/dev/kelm-no-such-port", "missing"},
        {"COM199", "missing"},
        {"/dev/null", "not a serial port"},
    };
    for (const auto& c : cases) {
        const auto r = Kelm({"info", "--port", c.port});
        EXPECT_EQ(r.status, 3) << c.port;
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
}

TEST_F(Cli, BadInputExitsWithTwoAndSendsNothing) {
    ScriptedPeer peer;
    const std::string port = peer.SlavePath();
    const std::vector<std::vector<std::string>> cases = {
        {"info", "-p", port, "--address", "0"},
        {"info", "-p", port, "--address", "248"},
        {"info", "-p", port, "--address", "12x"},
        {"info", "-p", port, "--address", ""},
        {"info", "-p", port, "--baud", "14400"},
        {"info", "-p", port, "--baud", "fast"},
        {"info", "-p", port, "--parity", "odd"},
        {"info", "-p", port, "--protocol", "tcp"},
        {"info", "-p", port, "--timeout", "0"},
        {"info", "-p", port, "--retries", "-1"},
        {"info", "-p", port, "--bogus"},
        {"info"},  // no port
        {"scan", "-p", port, "--from", "0"},
        {"scan", "-p", port, "--to", "248"},
        {"scan", "-p", port, "--from", "9", "--to", "3"},
        {"find", "-p", port, "--address", "248"},
        {"find", "-p", port, "--baud", "9600"},  // find searches the format itself
        {"set", "-p", port},                     // nothing to set
        {"set", "-p", port, "--new-address", "0"},
        {"set", "-p", port, "--new-address", "248"},
        {"set", "-p", port, "--new-baud", "300"},
        {"set", "-p", port, "--new-parity", "odd"},
        {"set", "-p", port, "--new-protocol", "tcp"},
        {"read"},  // not a command (yet)
        {},
    };
    for (const auto& args : cases) {
        std::string line;
        for (const auto& a : args) line += a + " ";
        const auto r = Kelm(args);
        EXPECT_EQ(r.status, 2) << line << r.err;
        EXPECT_EQ(r.out, "") << line;
        EXPECT_FALSE(r.err.empty()) << line;
    }
    // One request that may go out, then everything the peer saw: only that.
    peer.SetScript([](const ByteString&) { return std::nullopt; });
    const auto r = Kelm({"info", "-p", port, "-a", "7", "--timeout", "50", "--retries", "0"});
    EXPECT_EQ(r.status, 4);
    ASSERT_TRUE(peer.WaitRequests(1));
    EXPECT_EQ(peer.Received(), FrameRtu(ByteString{7, 3, 0, 0, 0, 6}));
}

TEST_F(Cli, ComNamesAndThePortVariable) {
    StartBus({Module(13, 2)});
    // Published as kelm-sim publishes its port, in the directory of this test.
    std::filesystem::create_symlink(server_->SlavePath(), dir_ + "/COM207");
    auto r = Kelm({"ports", "--json"});
    EXPECT_EQ(r.status, 0) << r.err;
    bool listed = false;
    const json ports = json::parse(r.out);
    for (const auto& p : ports["ports"]) {
        if (p["name"] == "COM207") {
            listed = true;
            EXPECT_EQ(p["number"], 207);
            EXPECT_TRUE(p["access"].get<bool>());
        }
    }
    EXPECT_TRUE(listed) << r.out;
    r = Kelm({"ports"});
    EXPECT_NE(r.out.find("COM207\t"), std::string::npos) << r.out;

    r = Kelm({"info", "--port", "com207", "-a", "2", "--timeout", kSlowOk});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("model=KELM-8RY\n"), std::string::npos);
    r = Kelm({"info", "-a", "2", "--timeout", kSlowOk}, {{"KELM_PORT", "COM207"}});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("model=KELM-8RY\n"), std::string::npos);
}

}  // namespace
}  // namespace kelm::test
