// kelm backup, restore, clone and provision run as a user runs them against
// simulated modules, bad files against a scripted slave that records every
// request, and a restore whose port is pulled midway.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "KelmFixture.h"
#include "bus/BusClient.h"
#include "config/ConfigFile.h"
#include "config/ModuleIo.h"
#include "kelm-sim/PtyServer.h"
#include "modbus/Checks.h"
#include "models/ModelMap.h"
#include "serial/posix/Pty.h"
#include "support/ScriptedPeer.h"

namespace kelm::test {
namespace {

using nlohmann::ordered_json;
using sim::ModuleConfig;
using sim::PtyServer;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteAll(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

class ConfigCli : public KelmTest {
  protected:
    std::vector<std::string> Line(const std::string& port, int address) {
        return {"--port", port, "--address", std::to_string(address), "--timeout", kSlowOk};
    }
};

// Every configuration value of a backup moved to another valid value, the
// communication parameters left alone.
ordered_json Changed(const ordered_json& backup) {
    const auto* model = models::FindModel(backup["model"].get<std::string>());
    ordered_json out = backup;
    for (auto& [key, value] : out["settings"].items()) {
        const auto* item = models::FindItem(*model, key);
        if (config::IsCommItem(*item)) continue;
        int ch = 0;
        for (auto& [name, v] : value.items()) {
            if (!item->choices.empty()) {
                // The next valid choice after the present one.
                std::vector<std::string> valid;
                for (const auto& c : item->choices)
                    if (item->encoding == models::Encoding::WordBits || item->InRange(c.code))
                        valid.emplace_back(c.ascii);
                const auto at = std::find(valid.begin(), valid.end(), v.get<std::string>());
                v = valid[static_cast<std::size_t>(at - valid.begin() + 1 + ch) % valid.size()];
            } else {
                v = item->min + 1 + static_cast<std::uint32_t>(ch) * 7;
            }
            ++ch;
            (void)name;
        }
    }
    return out;
}

ordered_json WithoutIdentity(ordered_json j) {
    j.erase("identity");
    j["settings"].erase("address");
    return j;
}

TEST_F(ConfigCli, EveryModelRoundTripsThroughBackupAndRestore) {
    for (const auto& model : models::AllModels()) {
        SCOPED_TRACE(std::string(model.name));
        StartBus({Module(model.typeCode, 3), Module(model.typeCode, 4)});
        const std::string port = server_->SlavePath();
        auto args = Line(port, 3);
        args.insert(args.begin(), "backup");
        args.insert(args.end(), {"-o", Path("factory.json")});
        auto r = Kelm(args);
        ASSERT_EQ(r.status, 0) << r.err;

        // Configure A: every setting away from where the module left the factory.
        const auto wanted = Changed(ordered_json::parse(ReadAll(Path("factory.json"))));
        WriteAll(Path("wanted.json"), wanted.dump(2));
        args = Line(port, 3);
        args.insert(args.begin(), "restore");
        args.push_back(Path("wanted.json"));
        r = Kelm(args);
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(r.out.find("not written"), std::string::npos) << r.out;

        // Back A up, restore it into B, back B up.
        args = Line(port, 3);
        args.insert(args.begin(), "backup");
        r = Kelm(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const auto a = ordered_json::parse(r.out);
        EXPECT_EQ(a["settings"], wanted["settings"]);
        WriteAll(Path("a.json"), r.out);
        args = Line(port, 4);
        args.insert(args.begin(), "restore");
        args.push_back(Path("a.json"));
        r = Kelm(args);
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_NE(r.out.find("change address: 4 -> 3 [not written"), std::string::npos) << r.out;
        args = Line(port, 4);
        args.insert(args.begin(), "backup");
        r = Kelm(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const auto b = ordered_json::parse(r.out);
        EXPECT_EQ(b["settings"]["address"], 4);
        EXPECT_EQ(b["identity"]["address"], 4);
        EXPECT_EQ(WithoutIdentity(a), WithoutIdentity(b));
    }
}

TEST_F(ConfigCli, CloneAndTheCommunicationParametersLast) {
    StartBus({Module(12, 3), Module(12, 4)});
    const std::string port = server_->SlavePath();
    auto args = Line(port, 3);
    args.insert(args.begin(), "backup");
    auto r = Kelm(args);
    ASSERT_EQ(r.status, 0) << r.err;
    auto wanted = Changed(ordered_json::parse(r.out));
    wanted["settings"]["address"] = 20;
    wanted["settings"]["com_format"] = 11;  // 9600 even
    WriteAll(Path("w.json"), wanted.dump());

    // --dry-run: the difference and nothing else.
    args = Line(port, 3);
    args.insert(args.begin(), "restore");
    args.insert(args.end(), {Path("w.json"), "--with-comm", "--dry-run"});
    r = Kelm(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("change pulse_on.DO0: 5000 -> 3 (x0.1ms)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("change com_format: 3 -> 11"), std::string::npos) << r.out;
    server_->WithBus([](sim::SimBus& bus) { EXPECT_NE(bus.Find(3), nullptr); });

    args[args.size() - 1] = "--with-comm";
    args.pop_back();
    r = Kelm(args);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("verified               communication parameters: address 20"),
              std::string::npos)
        << r.out;
    server_->WithBus([](sim::SimBus& bus) {
        ASSERT_NE(bus.Find(20), nullptr);
        EXPECT_EQ(bus.Find(20)->format(), 11);
    });

    // Module 20 (now at 9600 even) into module 4 would need two lines: the
    // clone runs on one, so put 4 on the same format first.
    args = {"set", "--port", port, "--address", "4", "--timeout", kSlowOk, "--new-parity", "even"};
    r = Kelm(args);
    ASSERT_EQ(r.status, 0) << r.err;
    r = Kelm({"clone", "--port", port, "--address", "20", "--to", "4", "--parity", "even",
              "--timeout", kSlowOk});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    r = Kelm(
        {"backup", "--port", port, "--address", "4", "--parity", "even", "--timeout", kSlowOk});
    ASSERT_EQ(r.status, 0) << r.err;
    auto b = ordered_json::parse(r.out);
    EXPECT_EQ(b["settings"]["address"], 4);  // the target keeps its own
    b["settings"]["address"] = 20;
    EXPECT_EQ(b["settings"], wanted["settings"]);
}

// A slave that answers every read as a KELM-8I8T (or the given type) and
// records every request.
std::optional<ByteString> AnswerReads(const ByteString& req, int type) {
    if (req.size() < 8 || req[1] != 3) return ByteString(FrameRtu({req[0], req[1], 0, 0, 0, 0}));
    const int start = req[2] << 8 | req[3];
    const int count = req[4] << 8 | req[5];
    ByteString body{req[0], 3, static_cast<std::uint8_t>(2 * count)};
    for (int r = start; r < start + count; ++r) {
        int v = 100;
        if (r == 0) v = type;
        if (r == 1) v = 0xA1;
        if (r == 2) v = 0xB3;
        if (r == 3) v = 3;
        if (r == 4) v = req[0];
        if (r == 5) v = 0x52;
        if (r == 6 || r == 7) v = 0;
        body.push_back(static_cast<std::uint8_t>(v >> 8));
        body.push_back(static_cast<std::uint8_t>(v));
    }
    return FrameRtu(body);
}

bool AnyWrite(const std::vector<ByteString>& requests) {
    for (const auto& r : requests)
        if (r.size() > 1 && (r[1] == 5 || r[1] == 6 || r[1] == 15 || r[1] == 16)) return true;
    return false;
}

TEST_F(ConfigCli, BadFilesAreRefusedBeforeAnyWrite) {
    ScriptedPeer peer;
    peer.SetScript([](const ByteString& r) { return AnswerReads(r, 10); });
    auto args = Line(peer.SlavePath(), 2);
    args.insert(args.begin(), "backup");
    auto r = Kelm(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string good = r.out;
    const auto readsForBackup = peer.Requests().size();
    ASSERT_GT(readsForBackup, 0u);
    auto edit = [&](auto f) {
        auto j = ordered_json::parse(good);
        f(j);
        return j.dump();
    };
    const struct {
        const char* what;
        std::string text;
        const char* message;
    } cases[] = {
        {"not JSON", "{\"format\": ", "not valid JSON"},
        {"version", edit([](auto& j) { j["version"] = 7; }), "version: 7"},
        {"range", edit([](auto& j) { j["settings"]["di_filter"]["DI5"] = 99; }),
         "settings.di_filter.DI5: 99 is outside 100-10000"},
        {"unknown key", edit([](auto& j) { j["settings"]["ry_init"] = 1; }), "settings.ry_init"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto before = peer.Requests().size();
        WriteAll(Path("bad.json"), c.text);
        auto a = Line(peer.SlavePath(), 2);
        a.insert(a.begin(), "restore");
        a.insert(a.end(), {Path("bad.json"), "--with-comm"});
        r = Kelm(a);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("nothing was sent"), std::string::npos) << r.err;
        EXPECT_EQ(peer.Requests().size(), before);  // not even a read
    }
    // Another model: the module is read, and nothing is written.
    peer.SetScript([](const ByteString& q) { return AnswerReads(q, 13); });
    WriteAll(Path("good.json"), good);
    auto a = Line(peer.SlavePath(), 2);
    a.insert(a.begin(), "restore");
    a.insert(a.end(), {Path("good.json"), "--with-comm"});
    r = Kelm(a);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("model: the configuration is for KELM-8I8T, the module at address 2 is "
                         "a KELM-8RY; nothing was written"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(AnyWrite(peer.Requests()));
}

// A slave of holding registers on a pty that it closes (the plug is
// pulled) when the n-th write arrives, without answering it.
class PluggedSlave {
  public:
    explicit PluggedSlave(int pullAtWrite) : pullAt_(pullAtWrite) {
        regs_.fill(100);
        regs_[0] = 10;
        regs_[1] = 0xA1;
        regs_[2] = 0xB3;
        regs_[3] = 3;
        regs_[4] = 1;
        regs_[5] = 0x52;
        regs_[6] = regs_[7] = 0;
        pty_.HoldSlaveOpen();
        thread_ = std::thread([this] { Run(); });
    }
    ~PluggedSlave() {
        stop_ = true;
        thread_.join();
    }
    const std::string& SlavePath() const { return pty_.SlavePath(); }
    int Writes() const { return writes_; }

  private:
    void Run() {
        ByteString pending;
        while (!stop_ && !pulled_) {
            pollfd p{pty_.MasterFd(), POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            std::uint8_t chunk[512];
            const ssize_t n = ::read(pty_.MasterFd(), chunk, sizeof chunk);
            if (n <= 0) continue;
            pending.insert(pending.end(), chunk, chunk + n);
            for (;;) {
                if (pending.size() < 8) break;
                std::size_t len = 8;
                if (pending[1] == 16) {
                    if (pending.size() < 7) break;
                    len = 9u + pending[6];
                }
                if (pending.size() < len) break;
                const ByteString q(pending.begin(), pending.begin() + static_cast<long>(len));
                pending.erase(pending.begin(), pending.begin() + static_cast<long>(len));
                Answer(q);
                if (pulled_) break;
            }
        }
    }
    void Answer(const ByteString& q) {
        const int start = q[2] << 8 | q[3];
        const int value = q[4] << 8 | q[5];
        ByteString body{q[0], q[1]};
        if (q[1] == 6 || q[1] == 16) {
            if (++writes_ == pullAt_) {
                pty_.Close();
                pulled_ = true;
                return;
            }
            if (q[1] == 6) {
                regs_[static_cast<std::size_t>(start)] = static_cast<std::uint16_t>(value);
            } else {
                for (int i = 0; i < value; ++i)
                    regs_[static_cast<std::size_t>(start + i)] =
                        static_cast<std::uint16_t>(q[7 + 2 * i] << 8 | q[8 + 2 * i]);
            }
            body.insert(body.end(), q.begin() + 2, q.begin() + 6);
        } else {
            body.push_back(static_cast<std::uint8_t>(2 * value));
            for (int r = start; r < start + value; ++r) {
                body.push_back(static_cast<std::uint8_t>(regs_[static_cast<std::size_t>(r)] >> 8));
                body.push_back(static_cast<std::uint8_t>(regs_[static_cast<std::size_t>(r)]));
            }
        }
        const auto frame = FrameRtu(body);
        (void)!::write(pty_.MasterFd(), frame.data(), frame.size());
    }

    posix::Pty pty_;
    std::array<std::uint16_t, 128> regs_{};
    int pullAt_;
    std::atomic<int> writes_{0};
    std::atomic<bool> pulled_{false};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST_F(ConfigCli, APulledPlugMidwayNamesWhatWasAndWasNotWritten) {
    PluggedSlave slave(3);
    bus::BusClient client;
    ASSERT_TRUE(client.Open(slave.SlavePath(), {}).ok());
    const bus::RequestOptions req{std::chrono::milliseconds(2000), 0};
    config::IoError error;
    const auto current = config::ReadConfig(client, 1, req, "t", &error);
    ASSERT_TRUE(current) << error.message;
    auto wanted = *current;
    for (auto& s : wanted.settings) {
        if (s.item->key == "pulse_on") s.values = {10, 11, 12, 13, 100, 100, 100, 100};
        if (s.item->key == "address") s.values = {9};
    }
    std::string planError;
    const auto plan = config::PlanRestore(*current, wanted, true, &planError);
    ASSERT_TRUE(plan) << planError;
    ASSERT_EQ(plan->size(), 5u);  // four channels, then the communication write
    const auto result = config::ExecuteRestore(client, 1, wanted, *plan, req);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error.failure, config::IoFailure::PortLost);
    using config::StepState;
    const std::vector<StepState> expect{StepState::Written, StepState::Written, StepState::Failed,
                                        StepState::NotWritten, StepState::NotWritten};
    ASSERT_EQ(result.steps.size(), expect.size());
    for (std::size_t i = 0; i < expect.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(result.steps[i].state, expect[i]);
    }
    EXPECT_TRUE(result.steps.back().step.comm);
    EXPECT_EQ(slave.Writes(), 3);
    const auto text = config::DescribeResult(result, wanted);
    EXPECT_NE(text.find("written, not verified  pulse_on.DO0 = 10"), std::string::npos) << text;
    EXPECT_NE(text.find("failed                 pulse_on.DO2 = 12 (module 1, pulse_on.DO2 = "
                        "12: the port was lost)"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("not written            communication parameters: address 9"),
              std::string::npos)
        << text;
}

TEST_F(ConfigCli, AFailedReadBackKeepsTheCommunicationParameters) {
    // The module refuses the third write: what came before is read back and
    // verified; the communication write is never sent.
    ScriptedPeer peer;
    std::atomic<int> writes{0};
    peer.SetScript([&](const ByteString& q) -> std::optional<ByteString> {
        if (q[1] == 6 && ++writes == 2) return FrameRtu({q[0], 0x86, 3});
        if (q[1] == 6) return q;  // the echo
        return AnswerReads(q, 10);
    });
    bus::BusClient client;
    ASSERT_TRUE(client.Open(peer.SlavePath(), {}).ok());
    const bus::RequestOptions req{std::chrono::milliseconds(2000), 0};
    config::IoError error;
    const auto current = config::ReadConfig(client, 1, req, "t", &error);
    ASSERT_TRUE(current) << error.message;
    auto wanted = *current;
    for (auto& s : wanted.settings) {
        if (s.item->key == "di_filter") s.values[0] = s.values[1] = 200;
        if (s.item->key == "address") s.values = {9};
    }
    std::string planError;
    const auto plan = config::PlanRestore(*current, wanted, true, &planError);
    ASSERT_TRUE(plan);
    const auto result = config::ExecuteRestore(client, 1, wanted, *plan, req);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error.failure, config::IoFailure::Exception);
    ASSERT_EQ(result.steps.size(), 3u);
    // The scripted module never stores anything: the acknowledged write
    // reads back different.
    EXPECT_EQ(result.steps[0].state, config::StepState::Differs);
    EXPECT_EQ(result.steps[1].state, config::StepState::Failed);
    EXPECT_EQ(result.steps[2].state, config::StepState::NotWritten);
    for (const auto& q : peer.Requests()) EXPECT_NE(q[1], 16) << "communication write sent";
}

TEST_F(ConfigCli, ProvisionsThreeNewModulesOneAfterAnother) {
    StartBus({});
    const std::string port = server_->SlavePath();
    // Row 2 takes a configuration file: pulse times of a KELM-16T.
    config::ModuleConfig file;
    file.model = models::FindModel("KELM-16T");
    const auto* pulseOn = models::FindItem(*file.model, "pulse_on");
    file.settings.push_back({pulseOn, std::vector<std::uint32_t>(16, 40)});
    WriteAll(Path("valves.json"), config::ToJson(file));
    WriteAll(Path("plan.csv"),
             "address,baud,parity,protocol,config,label\n"
             "11,9600,none,rtu,,pumps\n"
             "12,19200,even,rtu,valves.json,\"valves, east\"\n"
             "13,9600,none,ascii,,\n");
    auto run = std::async(std::launch::async, [&] {
        return Kelm({"provision", "--port", port, "--timeout", kSlowOk, "--yes", "--wait", "60",
                     "--report", Path("report.csv"), Path("plan.csv")});
    });
    // Each new module arrives at the factory setting once the one before it
    // has left address 1.
    const std::uint8_t types[] = {10, 12, 17};
    for (std::uint8_t type : types) {
        server_->WithBus([&](sim::SimBus& bus) {
            bus.modules().emplace_back(Module(type, 1), PtyServer::Now());
        });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        bool moved = false;
        while (!moved && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            moved = server_->WithBus([](sim::SimBus& bus) { return bus.Find(1) == nullptr; });
        }
        ASSERT_TRUE(moved) << "module of type " << int(type) << " not provisioned";
    }
    const auto r = run.get();
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    server_->WithBus([](sim::SimBus& bus) {
        ASSERT_NE(bus.Find(11), nullptr);
        ASSERT_NE(bus.Find(12), nullptr);
        ASSERT_NE(bus.Find(13), nullptr);
        EXPECT_EQ(bus.Find(11)->format(), 3);
        EXPECT_EQ(bus.Find(12)->format(), 12);
        EXPECT_EQ(bus.Find(13)->config().protocol, sim::Protocol::Ascii);
    });
    const std::string report = ReadAll(Path("report.csv"));
    std::vector<std::string> lines;
    std::istringstream in(report);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    ASSERT_EQ(lines.size(), 4u) << report;
    EXPECT_EQ(lines[0], "time,label,model,hardware,software,old settings,new settings,result");
    EXPECT_NE(lines[1].find(",pumps,KELM-8I8T,"), std::string::npos) << lines[1];
    EXPECT_NE(
        lines[1].find(",\"address 1, 9600/8/2/None RTU\",\"address 11, 9600/8/2/None RTU\",ok"),
        std::string::npos)
        << lines[1];
    EXPECT_NE(lines[2].find(",\"valves, east\",KELM-16T,"), std::string::npos) << lines[2];
    EXPECT_NE(lines[2].find("address 12, 19200/8/1/Even RTU\",ok"), std::string::npos) << lines[2];
    EXPECT_NE(lines[3].find(",KELM-2AO,"), std::string::npos) << lines[3];
    EXPECT_NE(lines[3].find("address 13, 9600/7/2/None ASCII\",ok"), std::string::npos) << lines[3];
    // The configuration file went into the second module.
    const auto b = Kelm({"backup", "--port", port, "--address", "12", "--baud", "19200", "--parity",
                         "even", "--timeout", kSlowOk});
    ASSERT_EQ(b.status, 0) << b.err;
    EXPECT_EQ(ordered_json::parse(b.out)["settings"]["pulse_on"]["DO15"], 40);
}

TEST_F(ConfigCli, ProvisionStopsWhenTwoNewModulesAnswer) {
    StartBus({Module(10, 1), Module(13, 1)});
    WriteAll(Path("plan.csv"), "11,9600,none,rtu\n12,9600,none,rtu\n");
    const auto r = Kelm({"provision", "--port", server_->SlavePath(), "--timeout", kSlowOk, "--yes",
                         "--wait", "5", "--report", Path("report.csv"), Path("plan.csv")});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("more than one module answers"), std::string::npos) << r.err;
    server_->WithBus([](sim::SimBus& bus) { EXPECT_EQ(bus.Find(11), nullptr); });
}

}  // namespace
}  // namespace kelm::test
