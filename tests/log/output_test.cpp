/* output_test.cpp -- OutputMessage levels, flags, time stamps, date lines
 * and echo; log file names with +QMNAME+; rotation and its failures.
 */
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "config/settings.h"
#include "core/agent.h"
#include "support/files.h"
#include "log/output.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;
using tvtest::CountOf;
using tvtest::ReadFile;
using tvtest::SplitLines;
using tvtest::TempDir;

namespace {

const std::regex StampedLine(R"(\[\d\d:\d\d:\d\d\] .*)");
const std::regex DateLine(R"( {11}CVLA002I Current Date: (Sun|Mon|Tue|Wed|Thu|Fri|Sat) )"
                          R"((Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 1-3]\d \d{4})");

class Output : public ::testing::Test {
protected:
    TempDir dir;

    void SetUp() override {
        InitSettings();
        InitAgentState();
        SetLogPath(dir.path());
        SetFlags(FLAG_SERVICE); /* no echo unless a test asks for it */
    }
    void TearDown() override {
        InitSettings();
        InitAgentState();
    }
    void SetLogPath(const std::string &path) {
        CopyField(Settings.logPath, sizeof Settings.logPath, path.c_str());
    }
    void SetQmgr(const char *name) { CopyField(Settings.qmgrName, sizeof Settings.qmgrName, name); }
    std::string LogName(int n) {
        char name[LOG_PATH_SIZE];
        BuildLogFileName(name, sizeof name, n);
        return name;
    }
    std::string Log(int n) { return ReadFile(LogName(n)); }
    /* The lines of log file n: "DATE" for a date line, the text of a time
     * stamped line, "?" and the line for anything else. */
    std::vector<std::string> Texts(int n) {
        std::vector<std::string> texts;
        for (const std::string &line : SplitLines(Log(n)))
            texts.push_back(std::regex_match(line, DateLine)      ? "DATE"
                            : std::regex_match(line, StampedLine) ? line.substr(11)
                                                                  : "?" + line);
        return texts;
    }
    /* A message of 150 bytes and more, over a small maxlogsize. */
    void Big(const char *id) {
        OutputMessage(0, OUTF_NORMAL, "%s %s\n", id, std::string(150, 'x').c_str());
    }
};

using Lines = std::vector<std::string>;

}  // namespace

TEST_F(Output, LevelsAboveTheVerbosityAreDroppedAndLinesAreTimeStamped) {
    Settings.verbosity = VERBOSITY_LOW;
    ASSERT_EQ(OpenLogFile(), 0);
    OutputMessage(2, OUTF_NORMAL, "CVLA900I medium detail\n");
    OutputMessage(1, OUTF_NORMAL, "CVLA901I low detail %d\n", 7);
    OutputMessage(0, OUTF_NORMAL, "CVLA902I always\n");
    Settings.verbosity = VERBOSITY_QUIET;
    OutputMessage(1, OUTF_NORMAL, "CVLA903I quiet hides me\n");
    OutputMessage(0, OUTF_NORMAL, "CVLA904I quiet shows me\n");
    /* A text longer than a line is cut and still ends its line. */
    OutputMessage(0, OUTF_NORMAL, "CVLA940I %s\n", std::string(5000, 'x').c_str());
    EXPECT_EQ(Texts(1),
              (Lines{"DATE", "CVLA901I low detail 7", "CVLA902I always", "CVLA904I quiet shows me",
                     "CVLA940I " + std::string(OUT_TEXT_SIZE - 2 - 9, 'x')}));
    EXPECT_GT(CurrentTime.load(), 0); /* every message refreshes the shared clock */
}

TEST_F(Output, EchoRulesForConsoleLogAndService) {
    ClearFlags(FLAG_SERVICE);
    ASSERT_EQ(OpenLogFile(), 0);
    CaptureStdout();
    OutputMessage(0, OUTF_NORMAL, "CVLA910I both\n");
    OutputMessage(0, OUTF_NO_ECHO, "CVLA911I log only\n");
    OutputMessage(0, OUTF_CONSOLE_ONLY, "CVLA912I console only\n");
    SetFlags(FLAG_SERVICE);
    OutputMessage(0, OUTF_NORMAL, "CVLA913I service: log only\n");
    std::string console = GetCapturedStdout();
    std::string log = Log(1);

    /* message, times in the log, times on the console */
    for (auto c : std::vector<std::tuple<const char *, int, int>>{
             {"CVLA910I", 1, 1}, {"CVLA911I", 1, 0}, {"CVLA912I", 0, 1}, {"CVLA913I", 1, 0}}) {
        EXPECT_EQ(CountOf(log, std::get<0>(c)), std::get<1>(c)) << std::get<0>(c);
        EXPECT_EQ(CountOf(console, std::get<0>(c)), std::get<2>(c)) << std::get<0>(c);
    }
    EXPECT_EQ(CountOf(console, "CVLA002I"), 0); /* the date line is never echoed */
}

/* Without a log file a line appears once on standard output, after the
 * console status text is erased; the main loop owns the status count. */
TEST_F(Output, WithoutALogFileALineAppearsOnceOnStandardOutput) {
    ClearFlags(FLAG_SERVICE);
    CaptureStdout();
    OutputMessage(0, OUTF_CONSOLE_ONLY | OUTF_NO_DATE, "CVLA921I never\n");
    ConsoleStatusLength.store(3);
    OutputMessage(0, OUTF_NORMAL | OUTF_NO_DATE, "CVLA920I once\n");
    std::string console = GetCapturedStdout();
    EXPECT_EQ(console.substr(0, 9), "\b\b\b   \b\b\b");
    EXPECT_EQ(console.substr(9 + 11), "CVLA920I once\n");
    EXPECT_EQ(ConsoleStatusLength.load(), 3);
}

TEST_F(Output, ADateLineComesFirstAndAgainWhenTheDayChanges) {
    ASSERT_EQ(OpenLogFile(), 0);
    OutputMessage(0, OUTF_NORMAL, "CVLA930I one\n");
    /* Pretend the last date line was written on another day. */
    struct tm other = {};
    struct tm today;
    ASSERT_EQ(PLLocalTime(PLWallClockSeconds(), &today), 0);
    other.tm_mday = today.tm_mday % 28 + 1;
    WriteDateLine(nullptr, &other);
    OutputMessage(0, OUTF_NORMAL | OUTF_NO_DATE, "CVLA932I no date\n");
    OutputMessage(0, OUTF_NORMAL, "CVLA933I new day\n");
    OutputMessage(0, OUTF_NORMAL, "CVLA934I same day\n");
    EXPECT_EQ(Texts(1), (Lines{"DATE", "CVLA930I one", "CVLA932I no date", "DATE",
                               "CVLA933I new day", "CVLA934I same day"}));
}

TEST_F(Output, LogFileNamesAndTheQueueManagerToken) {
    const std::string sep(1, PL_PATH_SEPARATOR);
    SetQmgr("QM1");
    CopyField(Settings.programDir, sizeof Settings.programDir, "/opt/torvik/bin");
    const struct {
        const char *logPath;
        int n;
        std::string name;
    } cases[] = {
        {"D:/+QMNAME+/logs", 12, "D:/QM1/logs" + sep + "TORVIK_Log12.txt"},
        {"/var/log/+QMNAME", 2, "/var/log/+QMNAME" + sep + "TORVIK_Log02.txt"},
        {"", 3, "/opt/torvik/bin" + sep + "TORVIK_Log03.txt"}, /* the program's directory */
    };
    for (const auto &c : cases) {
        SetLogPath(c.logPath);
        EXPECT_EQ(LogName(c.n), c.name);
    }
    /* A buffer too small for the path gets a cut, terminated name. */
    char small[10];
    EXPECT_EQ(BuildLogFileName(small, sizeof small, 3), static_cast<int>(cases[2].name.size()));
    EXPECT_EQ(strlen(small), sizeof small - 1);
}

TEST_F(Output, AMessageOverMaxLogSizeRotatesTheFilesFirstReportingEachStep) {
    Settings.maxLogSize = 100;
    Settings.verbosity = VERBOSITY_HIGH;
    for (int files : {3, 1}) {
        Settings.numLogFiles = files;
        SetLogPath(dir.file(std::to_string(files)));
        std::filesystem::create_directories(dir.file(std::to_string(files)));
        tvtest::WriteFile(LogName(2), "old two\n"); /* no file 3: its deletion is no error */
        ASSERT_EQ(OpenLogFile(), 0);
        Big("CVLA950I");
        OutputMessage(0, OUTF_NORMAL, "CVLA951I second\n");
        std::string last = Log(files);
        std::string deleting = "CVLA205I Deleting old error log file '" + LogName(files) + "'";
        if (files == 1) { /* the note goes to the new file */
            EXPECT_EQ(last.find("CVLA950I"), std::string::npos);
            ASSERT_NE(last.find(deleting), std::string::npos) << last;
            EXPECT_LT(last.find(deleting), last.find("CVLA951I second"));
            continue;
        }
        EXPECT_EQ(last, "old two\n");
        std::string two = Log(2);
        EXPECT_NE(two.find("CVLA950I"), std::string::npos);
        EXPECT_NE(two.find(deleting), std::string::npos);
        for (int n : {2, 1})
            EXPECT_NE(two.find("CVLA207I Renaming old error log file '" + LogName(n) + "' to '" +
                               LogName(n + 1) + "'"),
                      std::string::npos)
                << two;
        EXPECT_EQ(Texts(1), Lines{"CVLA951I second"});
        EXPECT_EQ(CountOf(two + Log(1), "CVLA206E") + CountOf(two + Log(1), "CVLA208E"), 0);
        EXPECT_FALSE(tvtest::FileExists(LogName(4)));
    }
    EXPECT_FALSE(StopRequested());
}

/* File 3 cannot be deleted: no message is lost, the agent stops only when
 * log failures are fatal. (A log that cannot be opened again is a row of
 * the fault matrix, tests/routing.) */
TEST_F(Output, AFailedRotationLosesNoMessageAndStopsOnlyWhenFatal) {
    Settings.maxLogSize = 100;
    Settings.numLogFiles = 3;
    for (bool fatal : {true, false}) {
        InitAgentState();
        fatal ? SetFlags(FLAG_LOGFAILFATAL) : ClearFlags(FLAG_LOGFAILFATAL);
        SetLogPath(dir.file(fatal ? "fatal" : "lenient"));
        std::filesystem::create_directories(LogName(3) + "/busy");
        ASSERT_EQ(OpenLogFile(), 0);
        Big("CVLA960I");
        OutputMessage(0, OUTF_NORMAL, "CVLA961I after failure\n");
        std::string one = Log(1);
        EXPECT_NE(one.find("CVLA206E Unable to delete old error log file '" + LogName(3) + "' rc="),
                  std::string::npos);
        EXPECT_NE(one.find("CVLA960I"), std::string::npos);
        EXPECT_NE(one.find("CVLA961I after failure"), std::string::npos);
        EXPECT_EQ(StopRequested(), fatal);
        EXPECT_FALSE(tvtest::FileExists(LogName(2)));
    }
}

TEST_F(Output, AMissingLogDirectoryIsCreated) {
    /* +QMNAME+ before the queue manager's name is known, then after. */
    SetLogPath(dir.file("+QMNAME+/logs"));
    Settings.maxLogSize = 100;
    ASSERT_EQ(OpenLogFile(), 0);
    Big("CVLA975I");
    SetQmgr("QM1");
    OutputMessage(0, OUTF_NORMAL, "CVLA976I in the named directory\n");
    EXPECT_NE(ReadFile(dir.file("QM1/logs/TORVIK_Log01.txt")).find("CVLA976I"), std::string::npos);
    EXPECT_FALSE(StopRequested());

    /* A plain logpath that is not there yet. */
    ResetOutputState();
    SetLogPath(dir.file("new/deeper"));
    ASSERT_EQ(OpenLogFile(), 0);
    OutputMessage(0, OUTF_NORMAL, "CVLA977I new directory\n");
    EXPECT_NE(ReadFile(dir.file("new/deeper/TORVIK_Log01.txt")).find("CVLA977I"),
              std::string::npos);
}

TEST_F(Output, ThreadsWritingThroughRotationsLoseNoLine) {
    Settings.maxLogSize = 4000;
    Settings.numLogFiles = 99;
    ASSERT_EQ(OpenLogFile(), 0);
    const int threads = 4, each = 300;
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; t++)
        pool.emplace_back([t] {
            for (int i = 0; i < each; i++)
                OutputMessage(0, OUTF_NORMAL, "CVLA980I thread %d message %d\n", t, i);
        });
    for (auto &th : pool)
        th.join();

    int found = 0, files = 0;
    for (; tvtest::FileExists(LogName(files + 1)); files++)
        for (const std::string &text : Texts(files + 1)) {
            EXPECT_NE(text[0], '?') << text;
            found += text.find("CVLA980I") != std::string::npos;
        }
    EXPECT_EQ(found, threads * each);
    EXPECT_GT(files, 3);
    EXPECT_FALSE(StopRequested());
}
