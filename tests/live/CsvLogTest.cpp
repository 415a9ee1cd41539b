// The CSV log: header and rows as written, a continued file, a changed set of
// channels, and files that cannot be written.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

#include "live/CsvLog.h"

namespace kelm {
namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

class CsvLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("kelm-csv-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        path_ = (dir_ / "log.csv").string();
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::filesystem::path dir_;
    std::string path_;
};

TEST_F(CsvLogTest, HeaderThenOneFlushedRowPerRound) {
    CsvLog log;
    std::string err;
    ASSERT_TRUE(log.Open(path_, &err)) << err;
    const std::vector<std::string> cols = {"KELM-8AD(1) CH0 [mA]", "KELM-16I(2) DI0 [开/关]"};
    ASSERT_TRUE(log.WriteRow(cols, 0, {1.5, 1}, &err)) << err;
    // Flushed: another reader sees the row while the log is still open.
    std::string text = ReadAll(path_);
    EXPECT_EQ(text.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_NE(text.find("时间,KELM-8AD(1) CH0 [mA],KELM-16I(2) DI0 [开/关]\r\n"),
              std::string::npos);
    ASSERT_TRUE(log.WriteRow(cols, 1000, {std::numeric_limits<double>::quiet_NaN(), 0}, &err));
    text = ReadAll(path_);
    std::vector<std::string> lines;
    std::stringstream ss(text);
    for (std::string l; std::getline(ss, l);) lines.push_back(l);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[1].find(",1.5,1\r"), std::string::npos);
    EXPECT_NE(lines[2].find(",,0\r"), std::string::npos) << "a missing value is an empty field";
    EXPECT_EQ(lines[1].substr(4, 1), "-");
    EXPECT_EQ(lines[1].substr(10, 1), "T");
    EXPECT_EQ(log.RowsWritten(), 2u);
}

TEST_F(CsvLogTest, ContinuedFileKeepsItsHeaderAndANewSetGetsOne) {
    const std::vector<std::string> a = {"A [V]"};
    const std::vector<std::string> ab = {"A [V]", "B, \"x\" [mA]"};
    std::string err;
    {
        CsvLog log;
        ASSERT_TRUE(log.Open(path_, &err));
        ASSERT_TRUE(log.WriteRow(a, 0, {1}, &err));
    }
    CsvLog log;
    ASSERT_TRUE(log.Open(path_, &err));
    ASSERT_TRUE(log.WriteRow(a, 1, {2}, &err));
    ASSERT_TRUE(log.WriteRow(ab, 2, {3, 4}, &err));
    const std::string text = ReadAll(path_);
    std::size_t headers = 0;
    for (std::size_t p = 0; (p = text.find("时间,", p)) != std::string::npos; ++p) ++headers;
    EXPECT_EQ(headers, 2u);
    EXPECT_NE(text.find("时间,A [V],\"B, \"\"x\"\" [mA]\"\r\n"), std::string::npos);
    EXPECT_EQ(text.find("\xEF\xBB\xBF", 3), std::string::npos) << "one byte-order mark";
}

TEST_F(CsvLogTest, UnwritablePlacesSayWhy) {
    CsvLog log;
    std::string err;
    EXPECT_FALSE(log.Open((dir_ / "no-such-dir" / "x.csv").string(), &err));
    EXPECT_FALSE(err.empty());
    EXPECT_FALSE(log.IsOpen());
    err.clear();
    EXPECT_FALSE(log.WriteRow({"A"}, 0, {1}, &err));
    EXPECT_FALSE(err.empty());
    // A device that takes no data: the write fails, the log says so.
    if (std::filesystem::exists("/dev/full")) {
        CsvLog full;
        ASSERT_TRUE(full.Open("/dev/full", &err));
        err.clear();
        EXPECT_FALSE(full.WriteRow({"A"}, 0, {1}, &err));
        EXPECT_FALSE(err.empty());
    }
}

TEST(CsvFormat, FieldsValuesAndTimes) {
    EXPECT_EQ(CsvField("plain"), "plain");
    EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
    EXPECT_EQ(CsvValue(0.15), "0.15");
    EXPECT_EQ(CsvValue(4294967295.0), "4294967295");
    EXPECT_EQ(CsvValue(std::nan("")), "");
    const std::string t = IsoTimeLocal(1700000000123);
    ASSERT_EQ(t.size(), 29u) << t;  // 2023-11-14T22:13:20.123+00:00
    EXPECT_EQ(t.substr(19, 4), ".123");
    EXPECT_EQ(t[26], ':');
}

}  // namespace
}  // namespace kelm
