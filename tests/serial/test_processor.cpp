// Data processors (chaining, device attachment, sends, the time-out timer,
// fatal errors, destruction in either order) and the stream log sink.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "SerialTestSupport.h"
#include "serial/ksProcessor.h"
#include "serial/ksProcessorStreamLog.h"

using namespace kelm;
using kelm::test::ErrorOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using namespace std::chrono_literals;

namespace {

// An I/O component that records what is sent through it.
class FakeIO : public TksBaseIO {
  public:
    explicit FakeIO(IExecutor* ex) : TksBaseIO(ex) {}
    std::vector<std::string> sent;  // "data:<bytes>" or "string:<bytes>"
    bool throwOnSend = false;

    int GetDeviceIndex() override { return -1; }
    void DeviceListLoad() override {}
    void SendChar(uint16_t) override {}
    void SendString(const std::string& S) override {
        if (throwOnSend) throw std::runtime_error("write failed");
        sent.push_back("string:" + S);
    }
    using TksBaseIO::SendString;
    void SendData(const uint8_t* Buff, uint32_t N) override {
        if (throwOnSend) throw std::runtime_error("write failed");
        sent.push_back("data:" + std::string(reinterpret_cast<const char*>(Buff), N));
    }
    void ClearDeviceInput() override {}
    void ClearDeviceOutput() override {}
    void ClearDeviceBuffers() override {}
    void Notify(int code) { DoNotify(code); }
};

// A log sink that keeps its lines.
class MemoryLog : public TksCustomLogFile {
  public:
    std::vector<std::string> lines;
    void Save() override {}
    void Clear() override { lines.clear(); }
    void Add(const std::string& s) override { lines.push_back(s); }
    void AddFmt(const std::string& f, const std::vector<TksFmtArg>& a) override {
        lines.push_back(KsFormat(f, a));
    }
    void AddSysInfo() override { lines.push_back("sysinfo"); }
    void AddLog(TDetailLevel l, const std::string& s) override {
        lines.push_back(std::to_string(static_cast<int>(l)) + ":" + s);
    }
    void AddLogFmt(TDetailLevel l, const std::string& f, const std::vector<TksFmtArg>& a) override {
        lines.push_back(std::to_string(static_cast<int>(l)) + ":" + KsFormat(f, a));
    }
};

// A processor that records what reaches it and can keep data out of the
// terminal.
class Recorder : public TksCustomDataProcessor {
  public:
    using TksCustomDataProcessor::TksCustomDataProcessor;
    std::vector<std::string> seen;
    TIgnoreTypes* lastSet = nullptr;
    bool hideFromTerminal = false;
    int sendCompletes = 0;

    void DoProcessing(const uint8_t* Data, uint32_t Len, TIgnoreTypes& R) override {
        seen.emplace_back(reinterpret_cast<const char*>(Data), Len);
        lastSet = &R;
        if (hideFromTerminal) R.Include(TIgnoreType::itTerminal);
        TksCustomDataProcessor::DoProcessing(Data, Len, R);
    }
    void DoAfterSendComplete(bool&) override { ++sendCompletes; }
};

class Processor : public ::testing::Test {
  protected:
    LoopExecutor ex;
};

const uint8_t kBytes[] = {0x01, 0x00, 0xFF};

}  // namespace

TEST_F(Processor, ChainSharesTheIgnoreSetAndRefusesSelfAndLoops) {
    Recorder first(&ex), second(&ex);
    first.hideFromTerminal = true;
    first.SetDataProcessor(&first);
    EXPECT_EQ(first.DataProcessor(), nullptr);
    first.SetDataProcessor(&second);
    second.SetDataProcessor(&first);  // would circle for ever
    EXPECT_EQ(second.DataProcessor(), nullptr);
    first.DataReceive(kBytes, 3);
    ASSERT_THAT(second.seen, ElementsAre(std::string("\x01\x00\xFF", 3)));
    ASSERT_NE(second.lastSet, nullptr);
    EXPECT_EQ(first.lastSet, second.lastSet);  // the very same set object
    TIgnoreTypes R;
    first.DoProcessing(kBytes, 3, R);
    EXPECT_TRUE(R.Contains(TIgnoreType::itTerminal));  // set by the first, seen by the caller
}

TEST_F(Processor, AttachingGivesTheDeviceToTheWholeChainAndListensForMediumNotices) {
    FakeIO io(&ex);
    MemoryLog log;
    Recorder first(&ex), second(&ex);
    first.SetLog(&log);
    first.SetLogPrefix("proc: ");
    io.SetDataProcessor(&first);
    EXPECT_EQ(first.Device(), &io);
    first.SetDataProcessor(&second);
    EXPECT_EQ(second.Device(), &io);
    EXPECT_EQ(io.NotifyList().Count(), 2);
    first.SetDevice(&io);  // again: still one listener each
    EXPECT_EQ(io.NotifyList().Count(), 2);

    io.Notify(csOpened);
    io.Notify(csDeviceIdChanged);  // not a medium notice
    io.Notify(csClosed);
    EXPECT_THAT(log.lines, ElementsAre("2:proc: Medium Opened", "2:proc: Medium Closed"));

    io.SetDataProcessor(nullptr);
    EXPECT_EQ(first.Device(), nullptr);
    EXPECT_EQ(io.NotifyList().Count(), 1);  // the second still serves io
}

TEST_F(Processor, DataSendGoesToTheDeviceUnlessAHandlerTakesIt) {
    FakeIO io(&ex);
    MemoryLog log;
    Recorder p(&ex);
    p.SetLog(&log);
    io.SetDataProcessor(&p);

    int calls = 0;
    bool take = false;
    p.SetOnDataSend([&](TksComponent* s, const uint8_t* b, uint32_t n, bool sync, bool& handled) {
        ++calls;
        EXPECT_EQ(s, &p);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(b), n), std::string("\x01\x00\xFF", 3));
        EXPECT_FALSE(sync);
        handled = take;
    });
    p.DoDataSend(kBytes, 0);  // nothing at all
    p.DoDataSend(nullptr, 3);
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(log.lines.empty());

    p.DoDataSend(kBytes, 3);
    EXPECT_THAT(io.sent, ElementsAre("data:" + std::string("\x01\x00\xFF", 3)));
    EXPECT_THAT(log.lines, ElementsAre("2:DoDataSend: 3 bytes"));
    // A "%" in the prefix is text, not a format code.
    p.SetLogPrefix("50%u %s> ");
    p.DoDataSend(kBytes, 3);
    EXPECT_EQ(log.lines.back(), "2:50%u %s> DoDataSend: 3 bytes");
    p.SetLogPrefix("");
    log.lines.pop_back();
    io.sent.pop_back();
    EXPECT_FALSE(p.TimerAsync().Enabled());

    // Taken over: not sent, the time-out runs, and the end of transmission
    // follows after the timer's interval.
    take = true;
    p.ResetTimeout(20);
    p.DoDataSend(kBytes, 3);
    EXPECT_EQ(io.sent.size(), 1u);
    EXPECT_TRUE(p.TimerAsync().Enabled());
    EXPECT_EQ(log.lines.size(), 2u);
    EXPECT_TRUE(ex.RunUntil([&] { return p.sendCompletes == 1; }, 2000ms));
    EXPECT_FALSE(p.TimerAsync().Enabled());
    ex.RunFor(60ms);
    EXPECT_EQ(p.sendCompletes, 1);  // once, not every interval
    p.ResetTimeout(15);
    p.ResetTimeout(0);  // zero leaves the timer off
    EXPECT_FALSE(p.TimerAsync().Enabled());
    ex.RunFor(50ms);
    EXPECT_EQ(p.sendCompletes, 1);
}

TEST_F(Processor, StringSendIsSynchronousAndFailuresAreSwallowed) {
    FakeIO io(&ex);
    Recorder p(&ex);
    io.SetDataProcessor(&p);
    bool sawSync = false;
    p.SetOnDataSend([&](TksComponent*, const uint8_t*, uint32_t n, bool sync, bool&) {
        sawSync = sync && n == 2;
    });
    p.DoStringSend("");
    EXPECT_TRUE(io.sent.empty());
    p.DoStringSend("AB");
    EXPECT_TRUE(sawSync);
    EXPECT_THAT(io.sent, ElementsAre("string:AB"));

    io.throwOnSend = true;
    EXPECT_NO_THROW(p.DoStringSend("CD"));
    EXPECT_NO_THROW(p.DoDataSend(kBytes, 3));
    p.SetOnDataSend([](TksComponent*, const uint8_t*, uint32_t, bool, bool&) {
        throw std::runtime_error("handler failed");
    });
    EXPECT_NO_THROW(p.DoStringSend("EF"));
    EXPECT_NO_THROW(p.DoDataSend(kBytes, 3));
}

TEST_F(Processor, FatalErrorsRaiseUnlessTheHandlerClearsTheFlag) {
    MemoryLog log;
    Recorder p(&ex);
    p.SetLog(&log);
    EXPECT_EQ(ErrorOf([&] { p.DoFatalErrors(1, 2, "boom"); }), "boom");
    EXPECT_THAT(log.lines, ElementsAre("0:Fatal Error: 1, 2, boom"));
    p.SetOnFatalError(
        [](TksComponent*, uint32_t, uint32_t, const std::string&, bool& raise) { raise = false; });
    EXPECT_NO_THROW(p.DoFatalErrors(3, 4, "quiet"));
    EXPECT_EQ(log.lines.back(), "0:Fatal Error: 3, 4, quiet");

    MemoryLog sink;
    EXPECT_THROW(sink.DoFatalErrors(1, 0, "sink"), EksError);
    sink.SetOnFatalError(
        [](TksComponent*, uint32_t, uint32_t, const std::string&, bool& raise) { raise = false; });
    EXPECT_NO_THROW(sink.DoFatalErrors(1, 0, "sink"));
}

TEST_F(Processor, DestructionInEitherOrderLeavesNoDanglingPointer) {
    {
        FakeIO io(&ex);
        auto p = std::make_unique<Recorder>(&ex);
        io.SetDataProcessor(p.get());
        p.reset();  // the processor goes first
        EXPECT_EQ(io.DataProcessor(), nullptr);
        EXPECT_EQ(io.NotifyList().Count(), 0);
    }
    {
        Recorder p(&ex), next(&ex);
        auto log = std::make_unique<MemoryLog>();
        p.SetLog(log.get());
        p.SetDataProcessor(&next);
        {
            FakeIO io(&ex);
            io.SetDataProcessor(&p);
        }  // the device goes first
        EXPECT_EQ(p.Device(), nullptr);
        log.reset();
        EXPECT_EQ(p.Log(), nullptr);
        p.DataReceive(kBytes, 3);  // nothing logged into a dead sink
        EXPECT_EQ(next.seen.size(), 1u);
    }
    {
        Recorder p(&ex);
        auto next = std::make_unique<Recorder>(&ex);
        p.SetDataProcessor(next.get());
        next.reset();
        EXPECT_EQ(p.DataProcessor(), nullptr);
        p.DataReceive(kBytes, 3);
    }
}

TEST(StreamLog, WritesLevelledLinesAndFilters) {
    std::ostringstream out;
    TksStreamLog log(out);
    log.AddLog(TDetailLevel::dlSimple, "The port /dev/ttyUSB0 is opened succesfully");
    log.AddLogFmt(TDetailLevel::dlDebug, "Try to send char %2Xh ...", {uint64_t{0x0A}});
    log.AddLog(TDetailLevel::dlDetail, std::string("raw\x01\x0D", 5));
    log.Add("plain");
    log.AddFmt("%d items", {int64_t{-3}});
    log.AddSysInfo();
    log.SetMaxLevel(TDetailLevel::dlDetail);
    log.AddLog(TDetailLevel::dlDebug, "filtered out");
    log.AddLog(TDetailLevel::dlDetail, "kept");
    // Bytes from 0x80 up are shown as codes: the log stays valid UTF-8.
    log.AddLog(TDetailLevel::dlDetail, "frame \x80\xC3\xA9\xFF\x7F~");
    EXPECT_EQ(log.Lines(), 8u);

    std::istringstream in(out.str());
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    ASSERT_EQ(lines.size(), 8u);
    const std::regex stamp(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} )");
    for (const auto& l : lines) EXPECT_TRUE(std::regex_search(l, stamp)) << l;
    EXPECT_THAT(lines[0], HasSubstr(" [simple] The port /dev/ttyUSB0 is opened succesfully"));
    EXPECT_THAT(lines[1], HasSubstr(" [debug] Try to send char  Ah ..."));
    EXPECT_THAT(lines[2], HasSubstr(" [detail] raw\\x01\\x0D"));
    EXPECT_THAT(lines[3], ::testing::EndsWith(" plain"));
    EXPECT_THAT(lines[4], ::testing::EndsWith(" -3 items"));
    EXPECT_THAT(lines[5], HasSubstr("[info] system: Linux"));
    EXPECT_THAT(lines[6], HasSubstr("[detail] kept"));
    EXPECT_THAT(lines[7], ::testing::EndsWith(" [detail] frame \\x80\\xC3\\xA9\\xFF\\x7F~"));
}

TEST(StreamLog, LinesFromManyThreadsStayWhole) {
    std::ostringstream out;
    TksStreamLog log(out);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&log, t] {
            for (int i = 0; i < 500; ++i) {
                log.AddLogFmt(TDetailLevel::dlDebug, "thread %d line %d", {int64_t{t}, int64_t{i}});
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(log.Lines(), 2000u);
    std::istringstream in(out.str());
    const std::regex whole(R"(^\S+ \S+ \[debug\] thread [0-3] line \d+$)");
    int n = 0;
    for (std::string l; std::getline(in, l); ++n) ASSERT_TRUE(std::regex_match(l, whole)) << l;
    EXPECT_EQ(n, 2000);
}

TEST(StreamLog, FileSinkAppendsClearsAndReportsOpenFailure) {
    namespace fs = std::filesystem;
    const fs::path file = fs::temp_directory_path() / ("kelm-log-" + std::to_string(::getpid()));
    auto content = [&] {
        std::stringstream s;
        s << std::ifstream(file).rdbuf();
        return s.str();
    };
    fs::remove(file);
    {
        TksStreamLog log(file.string());
        log.AddLog(TDetailLevel::dlSimple, "one");
        log.Save();
        EXPECT_THAT(content(), HasSubstr("one"));
        log.Clear();
        log.AddLog(TDetailLevel::dlSimple, "two");
    }
    EXPECT_THAT(content(), ::testing::Not(HasSubstr("one")));
    EXPECT_THAT(content(), HasSubstr("two"));
    fs::remove(file);
    EXPECT_THROW(TksStreamLog("/nonexistent-dir/x/log.txt"), EksError);
    // The handler given with the path is told, and may keep the sink alive
    // without a file: it then writes nothing.
    std::vector<std::string> told;
    TksStreamLog quiet(
        "/nonexistent-dir/x/log.txt", [&](TksComponent* sender, uint32_t code, uint32_t detail,
                                          const std::string& msg, bool& raise) {
            EXPECT_NE(sender, nullptr);
            told.push_back(std::to_string(code) + "," + std::to_string(detail) + "," + msg);
            raise = false;
        });
    EXPECT_EQ(
        told,
        (std::vector<std::string>{"1,0,Cannot open the log file /nonexistent-dir/x/log.txt"}));
    quiet.AddLog(TDetailLevel::dlSimple, "nowhere");
    EXPECT_EQ(quiet.Lines(), 0u);
}
