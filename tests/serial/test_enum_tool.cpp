// kelm-ports lists a virtual port that a test publishes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "serial/VirtualPortDir.h"
#include "serial/posix/Pty.h"

namespace fs = std::filesystem;

namespace {

std::string RunTool(const std::string& args) {
    std::string out;
    FILE* p = ::popen((std::string(KELM_PORTS_BIN) + " " + args + " 2>&1").c_str(), "r");
    if (!p) return out;
    char buf[512];
    while (size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
    ::pclose(p);
    return out;
}

}  // namespace

TEST(KelmPorts, ListsAPublishedVirtualPort) {
    const fs::path dir = fs::temp_directory_path() / ("kelm-tool-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    ::setenv("KELM_PORTS_DIR", dir.c_str(), 1);
    kelm::posix::Pty pty;
    const std::string slave = pty.SlavePath();
    ASSERT_TRUE(kelm::VirtualPortDir::Publish(177, slave));

    const std::string link = (dir / "COM177").string();
    EXPECT_THAT(RunTool(""),
                ::testing::HasSubstr("177\tCOM177 (virtual port, " + slave + ")\t" + link + "\n"));
    EXPECT_THAT(RunTool("--mode quick"), ::testing::HasSubstr("177\tCOM177\t" + link + "\n"));
    EXPECT_THAT(RunTool("--mode bogus"), ::testing::HasSubstr("unknown mode"));

    pty.CloseMaster();  // the pty goes away: gone from the present list
    EXPECT_THAT(RunTool(""), ::testing::Not(::testing::HasSubstr("COM177")));
    ::unsetenv("KELM_PORTS_DIR");
    fs::remove_all(dir);
}
