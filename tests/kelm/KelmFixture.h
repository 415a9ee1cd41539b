#pragma once
// What the kelm program tests share: the program's path, simulated modules
// on a pseudo-terminal, and a fixture with a scratch directory (which also
// stands in for the virtual-port directory) that runs kelm there.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "RunProgram.h"
#include "kelm-sim/PtyServer.h"

namespace kelm::test {

inline const std::string kKelm = KELM_PROGRAM;

// A busy machine may be slow to answer: correctness runs take generous
// time-outs (speed is the benchmarks' business).
inline const std::string kSlowOk = "1000";

inline sim::ModuleConfig Module(std::uint8_t type, std::uint8_t address, std::uint8_t format = 3,
                                sim::Protocol protocol = sim::Protocol::Rtu) {
    sim::ModuleConfig m;
    m.typeCode = type;
    m.address = address;
    m.format = format;
    m.protocol = protocol;
    return m;
}

// Simulated modules on a pseudo-terminal, served on a thread of their own;
// nullptr (with a test failure) when the system refuses a pty.
inline std::unique_ptr<sim::PtyServer> StartPtyBus(std::vector<sim::ModuleConfig> modules) {
    sim::PtyServer::Config config;
    config.modules = std::move(modules);
    std::string error;
    auto server = sim::PtyServer::Create(std::move(config), &error);
    EXPECT_TRUE(server) << error;
    if (server) server->Start();
    return server;
}

class KelmTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/kelm-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        if (server_) server_->Stop();
        std::filesystem::remove_all(dir_);
    }
    // Replaces the bus with these modules on a new pty.
    void StartBus(std::vector<sim::ModuleConfig> modules) {
        if (server_) server_->Stop();
        server_ = StartPtyBus(std::move(modules));
        ASSERT_TRUE(server_);
    }
    void StopBus() {
        if (server_) server_->Stop();
        server_.reset();
    }
    // kelm with these arguments, the scratch directory as its port directory.
    RunResult Kelm(std::vector<std::string> args,
                   std::vector<std::pair<std::string, std::string>> env = {}) {
        env.emplace_back("KELM_PORTS_DIR", dir_);
        return RunProgram(kKelm, args, env);
    }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

    std::string dir_;
    std::unique_ptr<sim::PtyServer> server_;
};

}  // namespace kelm::test
