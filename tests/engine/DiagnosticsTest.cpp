// The engine's log file, warnings, trace, result checks and the driver callback.
#include "engine/dddd_log.h"
#include "forms/Halt.h"
#include "platform/SysUtils.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Halted {};

class DiagnosticsTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = std::filesystem::temp_directory_path() /
                 ("zelka-log-" + std::to_string(getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        SetDebugLogFolderForTests(folder.string());
    }
    void TearDown() override {
        SetDebugLogFolderForTests("");
        SetTraceSinkForTests(nullptr);
        std::filesystem::remove_all(folder);
    }
    std::string LogBytes() const {
        std::ifstream in(folder / "dddd.debug", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    bool LogExists() const { return std::filesystem::exists(folder / "dddd.debug"); }
    std::filesystem::path folder;
    ScopedHaltAction halt{[] { throw Halted{}; }};
};

TEST_F(DiagnosticsTest, LinesAreNumberedFromOneAndTheFirstOfARunReplacesTheFile) {
    {
        std::ofstream old(folder / "dddd.debug", std::ios::binary);
        old << "left over from the last run\r\n";
    }
    WriteDebugLog("first");
    EXPECT_EQ(LogBytes(), "debug#00001 ... first\r\n");
    LogWarning("second");
    EXPECT_EQ(LogBytes(), "debug#00001 ... first\r\ndebug#00002 ... second\r\n");
    EXPECT_EQ(LogLineCount, 2);
}

TEST_F(DiagnosticsTest, NumbersGrowPastFiveDigits) {
    struct Case {
        std::int32_t before;
        const char* line;
    };
    for (const Case& c : std::vector<Case>{{8, "debug#00009 ... x\r\n"},
                                           {99998, "debug#99999 ... x\r\n"},
                                           {99999, "debug#100000 ... x\r\n"},
                                           {1234566, "debug#1234567 ... x\r\n"}}) {
        LogLineCount = c.before;
        std::filesystem::remove(folder / "dddd.debug");
        WriteDebugLog("x");
        EXPECT_EQ(LogBytes(), c.line);
    }
}

TEST_F(DiagnosticsTest, TextIsWrittenAsShiftJis) {
    WriteDebugLog("サーフェスがロックできません");
    const std::string expected = "debug#00001 ... "
                                 "\x83\x54\x81\x5B\x83\x74\x83\x46\x83\x58\x82\xAA\x83\x8D\x83\x62"
                                 "\x83\x4E\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1\r\n";
    EXPECT_EQ(LogBytes(), expected);
}

TEST_F(DiagnosticsTest, CheckResultPassesZeroAndLogsAndHaltsOnAnythingElse) {
    EXPECT_EQ(CheckResult(0, "never"), 0);
    EXPECT_FALSE(LogExists());
    struct Case {
        int code;
        const char* message;
        const char* line;
    };
    const std::vector<Case> cases = {
        {static_cast<int>(0x887601C2u), "surface",
         "debug#00001 ... surface(Error Code(887601C2))\r\n"},
        {1, "palette", "debug#00002 ... palette(Error Code(1))\r\n"},
        {0xABC, "count", "debug#00003 ... count(Error Code(ABC))\r\n"},
        {-1, "", "debug#00004 ... (Error Code(FFFFFFFF))\r\n"},
    };
    std::string expected;
    for (const Case& c : cases) {
        EXPECT_THROW(CheckResult(c.code, c.message), Halted);
        expected += c.line;
        EXPECT_EQ(LogBytes(), expected); // on disk before the halt
    }
}

TEST_F(DiagnosticsTest, CheckResultTextKeepsTheMessageBytes) {
    EXPECT_THROW(CheckResult(1, "パレットが更新できませんでした"), Halted);
    const std::string bytes = LogBytes();
    const std::string suffix = "(Error Code(1))\r\n";
    ASSERT_GT(bytes.size(), suffix.size());
    EXPECT_EQ(bytes.substr(bytes.size() - suffix.size()), suffix);
    // 15 characters of two bytes each, "パ" first, directly before the code.
    EXPECT_EQ(bytes.substr(0, 18), "debug#00001 ... \x83\x70");
    EXPECT_EQ(bytes.size(), 16 + 30 + suffix.size());
}

TEST_F(DiagnosticsTest, TraceNeverTouchesTheLog) {
    Trace("Enumerated DDraw Driver ... nothing");
    EXPECT_FALSE(LogExists());
    EXPECT_EQ(LogLineCount, 0);
    std::vector<std::string> seen;
    SetTraceSinkForTests([&](const std::string& text) { seen.push_back(text); });
    Trace("visible to tests");
    EXPECT_EQ(seen, std::vector<std::string>{"visible to tests"});
    EXPECT_FALSE(LogExists());
}

TEST_F(DiagnosticsTest, ALogThatCannotBeWrittenGoesToStandardErrorAndTheEngineGoesOn) {
    const std::string missing = (folder / "missing" / "deeper").string();
    SetDebugLogFolderForTests(missing);
    // A warning returns; a fatal report still halts, its reason told on standard error.
    ::testing::internal::CaptureStderr();
    EXPECT_NO_THROW(LogWarning("lost"));
    EXPECT_THROW(CheckResult(0x887601C2, "パレットが更新できませんでした"), Halted);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "zelka: cannot write " + missing +
                       "/dddd.debug (No such file or directory): debug#00001 ... lost\n"
                       "zelka: cannot write " +
                       missing +
                       "/dddd.debug (No such file or directory): debug#00001 ... "
                       "パレットが更新できませんでした(Error Code(887601C2))\n"
                       "zelka: halted: パレットが更新できませんでした(Error Code(887601C2))\n");
    EXPECT_EQ(HaltReason(), "パレットが更新できませんでした(Error Code(887601C2))");
    EXPECT_EQ(LogLineCount, 0);
    SetDebugLogFolderForTests(folder.string());
    WriteDebugLog("kept");
    EXPECT_EQ(LogBytes(), "debug#00001 ... kept\r\n");
}

TEST_F(DiagnosticsTest, AnUnwritableDataFolderMovesTheLogToTheStateFolder) {
    SetDebugLogFolderForTests("");
    SetProgramFolderForTests((folder / "no-such-folder").string() + "/");
    const char* saved = std::getenv("XDG_STATE_HOME");
    const std::string previous = saved ? saved : "";
    setenv("XDG_STATE_HOME", (folder / "state").c_str(), 1);
    WriteDebugLog("one");
    WriteDebugLog("two");
    const std::filesystem::path moved = folder / "state" / "zelka" / "dddd.debug";
    EXPECT_EQ(DebugLogPath(), moved.string());
    std::ifstream in(moved, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
              "debug#00001 ... one\r\ndebug#00002 ... two\r\n");
    EXPECT_FALSE(std::filesystem::exists(folder / "no-such-folder"));
    if (saved)
        setenv("XDG_STATE_HOME", previous.c_str(), 1);
    else
        unsetenv("XDG_STATE_HOME");
    SetProgramFolderForTests("");
}

TEST_F(DiagnosticsTest, DriverCallbackListsEveryDriverAsDescriptionAndName) {
    std::vector<std::string> drivers;
    std::vector<std::string> traces;
    SetTraceSinkForTests([&](const std::string& text) { traces.push_back(text); });
    char description[] = "Card", first[] = "one", second[] = "two";
    GUID guid{};
    EXPECT_EQ(EnumDriverCallback(nullptr, description, first, &drivers), TRUE);
    EXPECT_EQ(EnumDriverCallback(&guid, description, second, &drivers), TRUE);
    EXPECT_EQ(drivers, (std::vector<std::string>{"Card (one)", "Card (two)"}));
    EXPECT_EQ(traces[1], "Enumerated DDraw Driver ... Card (two)");
    // Through the real enumeration: the primary driver.
    drivers.clear();
    ASSERT_EQ(DirectDrawEnumerateA(EnumDriverCallback, &drivers), DD_OK);
    EXPECT_EQ(drivers, std::vector<std::string>{"Primary Display Driver (display)"});
}

} // namespace
