// kelm read, write and watch as a user runs them, against simulated modules
// in RTU and ASCII: output, JSON, CSV and exit statuses; bad input that sends
// nothing on a line whose peer counts the bytes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "KelmFixture.h"
#include "kelm-sim/PtyServer.h"
#include "modbus/Checks.h"
#include "support/ScriptedPeer.h"

namespace kelm::test {
namespace {

using nlohmann::json;
using sim::ModuleConfig;
using sim::Protocol;
using sim::PtyServer;

// All eight models on a pty (addresses 1-8 in type code order), in one
// protocol; kelm runs with that bus's line options.
class Items : public KelmTest {
  protected:
    void StartBus(Protocol p) {
        std::vector<ModuleConfig> modules;
        for (std::uint8_t t = 10; t <= 17; ++t)
            modules.push_back(Module(t, static_cast<std::uint8_t>(t - 9), 3, p));
        KelmTest::StartBus(std::move(modules));
        protocol_ = p == Protocol::Rtu ? "rtu" : "ascii";
    }
    // The command with the line options of the bus.
    RunResult Kelm(const std::string& cmd, int address, std::vector<std::string> args) {
        std::vector<std::string> all{
            cmd,          "--port",  server_->SlavePath(), "--address", std::to_string(address),
            "--protocol", protocol_, "--timeout",          "1000"};
        all.insert(all.end(), args.begin(), args.end());
        return KelmTest::Kelm(all);
    }
    std::string protocol_;
};

std::vector<std::string> Lines(const std::string& s) {
    std::vector<std::string> out;
    std::istringstream in(s);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

TEST_F(Items, ReadEveryModelInBothProtocols) {
    struct Case {
        int address;
        const char* model;
        std::vector<std::string> keys;  // JSON keys besides address and model
        std::size_t lines;              // text lines of a full read
    };
    const Case cases[] = {
        {1,
         "KELM-8I8T",
         {"di", "do", "do_init", "do_mode", "pulse_on", "pulse_off", "pulse_run", "pulse_count",
          "di_filter", "di_count_run", "di_count"},
         11 * 8},
        {2, "KELM-16I", {"di", "di_filter", "di_count_run", "di_count"}, 4 * 16},
        {3,
         "KELM-16T",
         {"do", "do_init", "do_mode", "pulse_on", "pulse_off", "pulse_run", "pulse_count"},
         7 * 16},
        {4, "KELM-8RY", {"ry", "ry_init"}, 16},
        {5, "KELM-8AS", {"ai_mode", "ai"}, 16},
        {6, "KELM-8ASP", {"ai_mode", "ai"}, 16},
        {7, "KELM-8AD", {"ai_mode", "ai"}, 16},
        {8, "KELM-2AO", {"ao_mode", "ao"}, 4},
    };
    for (Protocol p : {Protocol::Rtu, Protocol::Ascii}) {
        StartBus(p);
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.model) + " " + protocol_);
            auto r = Kelm("read", c.address, {});
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(Lines(r.out).size(), c.lines) << r.out;
            r = Kelm("read", c.address, {"--json"});
            ASSERT_EQ(r.status, 0) << r.err;
            const json j = json::parse(r.out);
            EXPECT_EQ(j["model"], c.model);
            EXPECT_EQ(j["address"], c.address);
            std::vector<std::string> keys;
            for (auto it = j.begin(); it != j.end(); ++it) {
                if (it.key() != "address" && it.key() != "model") keys.push_back(it.key());
            }
            auto want = c.keys;
            std::sort(keys.begin(), keys.end());
            std::sort(want.begin(), want.end());
            EXPECT_EQ(keys, want);
        }
        server_->Stop();
        server_.reset();
    }
}

TEST_F(Items, ReadNamedItemsAndChannels) {
    StartBus(Protocol::Rtu);
    // The simulated 8AD starts in +-20mA: values in mA with four decimals.
    auto r = Kelm("read", 7, {"ai2", "ai_mode2"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 2u) << r.out;
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(ai2\t-?\d+\.\d{4}\tmA)"))) << lines[0];
    EXPECT_EQ(lines[1], "ai_mode2\t+-20mA");
    r = Kelm("read", 1, {"--json", "di", "do3", "pulse_on"});
    ASSERT_EQ(r.status, 0) << r.err;
    const json j = json::parse(r.out);
    ASSERT_TRUE(j["di"].is_array());
    EXPECT_EQ(j["di"].size(), 8u);
    for (const auto& v : j["di"]) EXPECT_TRUE(v == 0 || v == 1);
    EXPECT_EQ(j["do3"], 0);
    EXPECT_TRUE(j["pulse_on"][0].is_number());
    r = Kelm("read", 7, {"--json", "ai1"});
    ASSERT_EQ(r.status, 0) << r.err;
    const json a = json::parse(r.out)["ai1"];
    EXPECT_EQ(a["unit"], "mA");
    EXPECT_EQ(a["mode"]["ascii"], "+-20mA");
    EXPECT_EQ(a["mode"]["label"], "±20mA");
    // value = (count - 65535) / 64000 x 20 mA
    EXPECT_NEAR(a["value"].get<double>(), (a["count"].get<double>() - 65535) / 64000 * 20, 1e-4);
}

TEST_F(Items, WriteEachKindReadsItBack) {
    for (Protocol p : {Protocol::Rtu, Protocol::Ascii}) {
        StartBus(p);
        SCOPED_TRACE(protocol_);
        struct Case {
            int address;
            std::vector<std::string> assignments;
            std::vector<std::string> read;  // names to read afterwards
            std::string expected;           // text output of that read
        };
        const Case cases[] = {
            {1, {"do3=on"}, {"do3"}, "do3\t1\n"},
            {1, {"do=0x81"}, {"do0", "do1", "do7"}, "do0\t1\ndo1\t0\ndo7\t1\n"},
            {4, {"ry2=on", "ry2=off", "ry5=1"}, {"ry2", "ry5"}, "ry2\t0\nry5\t1\n"},
            {1,
             {"pulse_on3=100", "di_filter5=500"},
             {"pulse_on3", "di_filter5"},
             "pulse_on3\t100\tx0.1ms\ndi_filter5\t500\tx0.1ms\n"},
            {1, {"do_mode=0x06"}, {"do_mode1", "do_mode3"}, "do_mode1\tpulse\ndo_mode3\tswitch\n"},
            {3,
             {"do_init=0x8001"},
             {"do_init0", "do_init15", "do_init1"},
             "do_init0\t1\ndo_init15\t1\ndo_init1\t0\n"},
            {4, {"ry_init3=on"}, {"ry_init3"}, "ry_init3\t1\n"},
            {1, {"pulse_count2=1000"}, {"pulse_count2"}, "pulse_count2\t1000\n"},
            {1, {"di_count_run1=on"}, {"di_count_run1"}, "di_count_run1\trun\n"},
            {7,
             {"ai2.mode=+-10V"},
             {"ai_mode1", "ai_mode2"},
             "ai_mode1\t+-20mA\nai_mode2\t+-10V\n"},
            {8,
             {"ao0.mode=0-10V", "ao0=2.5"},
             {"ao0", "ao_mode1"},
             "ao0\t2.500\tV\nao_mode1\t4-20mA\n"},
            {8, {"ao1=12.5"}, {"ao1"}, "ao1\t12.500\tmA\n"},
            {8, {"ao1.raw=4000"}, {"ao1"}, "ao1\t4.000\tmA\n"},
        };
        for (const auto& c : cases) {
            std::string what;
            for (const auto& a : c.assignments) what += a + " ";
            auto r = Kelm("write", c.address, c.assignments);
            EXPECT_EQ(r.status, 0) << what << r.err;
            EXPECT_FALSE(r.out.empty()) << what;
            r = Kelm("read", c.address, c.read);
            EXPECT_EQ(r.status, 0) << what << r.err;
            EXPECT_EQ(r.out, c.expected) << what;
        }
        // The JSON report of a write.
        const auto r = Kelm("write", 1, {"--json", "do5=on"});
        ASSERT_EQ(r.status, 0) << r.err;
        const json j = json::parse(r.out);
        EXPECT_EQ(j["written"][0]["assignment"], "do5=on");
        EXPECT_EQ(j["written"][0]["verified"], true);
        EXPECT_EQ(j["written"][0]["read_back"]["do5"], 1);
        server_->Stop();
        server_.reset();
    }
}

TEST_F(Items, WriteThatTheModuleRefusesExitsWithOne) {
    StartBus(Protocol::Rtu);
    // An output in pulse mode refuses function 5 (exception 03).
    ASSERT_EQ(Kelm("write", 3, {"do_mode=0x0001"}).status, 0);
    const auto r = Kelm("write", 3, {"do0=on"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("exception 03"), std::string::npos) << r.err;
}

TEST_F(Items, WatchCountsAndAppendsCsv) {
    for (Protocol p : {Protocol::Rtu, Protocol::Ascii}) {
        StartBus(p);
        SCOPED_TRACE(protocol_);
        auto r = Kelm("watch", 7, {"--count", "3", "ai0", "ai1"});
        ASSERT_EQ(r.status, 0) << r.err;
        const auto lines = Lines(r.out);
        ASSERT_EQ(lines.size(), 3u) << r.out;
        const std::regex line(
            R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z\tai0=-?\d+\.\d{4} mA\tai1=-?\d+\.\d{4} mA)");
        for (const auto& l : lines) EXPECT_TRUE(std::regex_match(l, line)) << l;

        const std::string csv = dir_ + "/w-" + protocol_ + ".csv";
        r = Kelm("watch", 1, {"--count", "2", "--interval", "10", "--csv", csv, "di", "do3"});
        ASSERT_EQ(r.status, 0) << r.err;
        r = Kelm("watch", 1, {"--count", "1", "--csv", csv, "di", "do3"});
        ASSERT_EQ(r.status, 0) << r.err;
        std::ifstream in(csv);
        std::stringstream ss;
        ss << in.rdbuf();
        const auto rows = Lines(ss.str());
        ASSERT_EQ(rows.size(), 4u) << ss.str();  // one header, three rows
        EXPECT_EQ(rows[0], "time,di0,di1,di2,di3,di4,di5,di6,di7,do3");
        const std::regex row(R"(\d{4}-\d\d-\d\dT[\d:.]+Z(,[01]){9})");
        for (std::size_t i = 1; i < rows.size(); ++i)
            EXPECT_TRUE(std::regex_match(rows[i], row)) << rows[i];

        r = Kelm("watch", 8, {"--count", "2", "--json", "ao"});
        ASSERT_EQ(r.status, 0) << r.err;
        for (const auto& l : Lines(r.out)) {
            const json j = json::parse(l);
            EXPECT_TRUE(j["time"].is_string());
            EXPECT_EQ(j["ao"].size(), 2u);
            EXPECT_EQ(j["ao"][0]["unit"], "mA");
        }
        server_->Stop();
        server_.reset();
    }
}

// Ctrl-C: the watch ends with status 0, after its last complete line.
TEST_F(Items, WatchEndsCleanlyOnInterrupt) {
    StartBus(Protocol::Rtu);
    int outPipe[2];
    ASSERT_EQ(pipe2(outPipe, O_CLOEXEC), 0);
    const std::vector<std::string> args{kKelm,       "watch", "--port",    server_->SlavePath(),
                                        "--address", "7",     "--timeout", "1000",
                                        "ai"};
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(outPipe[1], 1);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(kKelm.c_str(), argv.data());
        _exit(127);
    }
    close(outPipe[1]);
    // Read until three lines have come (bounded), then interrupt.
    std::string out;
    bool interrupted = false;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < limit) {
        if (!interrupted && std::count(out.begin(), out.end(), '\n') >= 3) {
            kill(pid, SIGINT);
            interrupted = true;
        }
        pollfd p{outPipe[0], POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char buf[4096];
        const ssize_t n = read(outPipe[0], buf, sizeof buf);
        if (n <= 0) break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    close(outPipe[0]);
    if (!interrupted) kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(interrupted);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.back(), '\n');
    for (const auto& l : Lines(out)) {
        EXPECT_EQ(std::count(l.begin(), l.end(), '\t'), 8) << l;  // the time and eight channels
    }
}

// Bad input: exit 2, a message, and nothing on the line (with --model), or
// only the identity read (without).
TEST_F(Items, BadInputSendsNothing) {
    ScriptedPeer peer;
    const std::string port = peer.SlavePath();
    const std::vector<std::vector<std::string>> cases = {
        {"write", "-p", port, "--model", "8I8T", "do8=on"},           // no such channel
        {"write", "-p", port, "--model", "8I8T", "ry1=on"},           // no such item
        {"write", "-p", port, "--model", "8I8T", "di3=on"},           // read-only
        {"write", "-p", port, "--model", "8I8T", "di_count2=5"},      // read-only
        {"write", "-p", port, "--model", "8I8T", "di_filter5=50"},    // below the range
        {"write", "-p", port, "--model", "8I8T", "pulse_on3=1"},      // below the range
        {"write", "-p", port, "--model", "8I8T", "pulse_on3=70000"},  // above
        {"write", "-p", port, "--model", "8I8T", "pulse_on3=12x"},    // malformed
        {"write", "-p", port, "--model", "8I8T", "do=0x100"},         // more bits than outputs
        {"write", "-p", port, "--model", "8I8T", "do3=maybe"},
        {"write", "-p", port, "--model", "8I8T", "do3"},               // no value
        {"write", "-p", port, "--model", "8I8T", "pulse_on=100"},      // one channel at a time
        {"write", "-p", port, "--model", "8I8T", "do3=on", "do9=on"},  // the second is bad
        {"write", "-p", port, "--model", "8AD", "ai2.mode=+-30V"},
        {"write", "-p", port, "--model", "8AD", "ai2=1"},    // read-only
        {"write", "-p", port, "--model", "2AO", "ao1=25"},   // above every mode
        {"write", "-p", port, "--model", "2AO", "ao1=12V"},  // above 0-10V
        {"write", "-p", port, "--model", "2AO", "ao1=2mA"},  // below 4-20mA
        {"write", "-p", port, "--model", "2AO", "ao1.raw=30000"},
        {"write", "-p", port, "--model", "2AO", "ao0.mode=5V"},
        {"write", "-p", port, "--model", "9XX", "do3=on"},
        {"read", "-p", port, "--model", "8RY", "ry8"},
        {"read", "-p", port, "--model", "8RY", "di"},
        {"watch", "-p", port, "--model", "8AD", "ai9"},
        {"watch", "-p", port, "--model", "8AD", "--count", "-1"},
        {"watch", "-p", port, "--model", "8AD", "--interval", "x"},
        {"write", "-p", port, "do3"},  // no model needed to see it
    };
    for (const auto& args : cases) {
        std::string line;
        for (const auto& a : args) line += a + " ";
        const auto r = KelmTest::Kelm(args);
        EXPECT_EQ(r.status, 2) << line << r.err;
        EXPECT_EQ(r.out, "") << line;
        EXPECT_FALSE(r.err.empty()) << line;
        // kelm speaks English, whatever the layers under it know.
        EXPECT_TRUE(std::all_of(r.err.begin(), r.err.end(),
                                [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
            << line << r.err;
    }
    EXPECT_EQ(peer.Received(), ByteString{});

    // Without --model: only the identity read goes out, then the refusal.
    peer.SetScript([](const ByteString& frame) -> std::optional<ByteString> {
        if (frame.size() < 2 || frame[1] != 3) return std::nullopt;
        return FrameRtu(ByteString{1, 3, 6, 0, 10, 0, 0xA1, 0, 0xB3});
    });
    const auto r = KelmTest::Kelm({"write", "-p", port, "pulse_on3=1", "--timeout", "1000"});
    EXPECT_EQ(r.status, 2) << r.err;
    ASSERT_TRUE(peer.WaitRequests(1));
    EXPECT_EQ(peer.Received(), FrameRtu(ByteString{1, 3, 0, 0, 0, 3}));
}

}  // namespace
}  // namespace kelm::test
