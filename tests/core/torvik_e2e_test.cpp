/* torvik_e2e_test.cpp -- the torvik program run as a process: usage, bad
 * options, configuration errors, log files and their rotation, a trigger
 * message, simple-command mode, the orderly end with exit code 0.
 *
 * Every run uses a directory of its own: either a configuration file given
 * with -f sets logpath into it, or the program is copied into it, so that
 * the log (which goes beside the executable by default) stays there too.
 */
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/process.h"
#include "core/test_support.h"
#include "platform/platform.h"

using tvtest::CountOf;
using tvtest::FileExists;
using tvtest::ReadFile;
using tvtest::TempDir;
using tvtest::WriteFile;

namespace {

const std::string Torvik = std::string(TV_BIN_DIR) + "/torvik" + PL_EXE_SUFFIX;
const std::string Separator = "---------------------------------------\n";

struct RunResult {
    int rc = -1;
    int exitCode = -1;
    std::string out;
};

RunResult RunProgram(const std::string &program, const std::vector<std::string> &args) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    tvtest::PROGRAMRESULT result = tvtest::RunProgram(argv, 60000, "", 1 << 20);
    RunResult r;
    r.rc = result.rc;
    std::string out = result.out;
    /* A Windows program's standard output is text: its "\r\n" is a "\n". */
    for (size_t at = out.find("\r\n"); at != std::string::npos; at = out.find("\r\n", at))
        out.erase(at, 1);
    r.out = out;
    r.exitCode = result.proc.timedOut ? -2 : result.proc.exitCode;
    return r;
}

RunResult RunTorvik(const std::vector<std::string> &args) {
    return RunProgram(Torvik, args);
}

/* A copy of the program in dir, so that its own directory is dir. */
std::string CopyOfTorvik(const TempDir &dir) {
    std::string copy = dir.file(std::string("torvik") + PL_EXE_SUFFIX);
    std::filesystem::copy_file(Torvik, copy);
    return copy;
}

std::string LogFile(const std::string &dir, int n) {
    char name[32];
    snprintf(name, sizeof name, "TORVIK_Log%2.2d.txt", n);
    return (std::filesystem::path(dir) / name).string();
}

void ExpectUsage(const RunResult &r) {
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(CountOf(r.out,
                      "CVLA001I Corvel Software TORVIK : Command Server Agent for IBM MQ\n"
                      "  Version V9.4.0 Build Date:"),
              1);
    EXPECT_EQ(CountOf(r.out,
                      "CVLA006E Usage: TORVIK <Optional flags as below>\n"
                      "  [-m <Queue Manager Name>]\n"),
              1);
    EXPECT_EQ(CountOf(r.out, "CVLA099I"), 0);
    EXPECT_EQ(CountOf(r.out, "CVLA080I"), 0);
}

}  // namespace

/* The program ends after its usage text, with nothing else (the options
 * themselves are tested on the start-up module). */
TEST(TorvikProgram, UsageEndsTheProgramWithExitCodeZero) {
    RunResult r = RunTorvik({"-m", "QM1", "extra"});
    ExpectUsage(r);
    EXPECT_EQ(CountOf(r.out, "CVLA007E Unrecognised parameter 'extra'\n"), 1);
}

TEST(TorvikProgram, BadKeysAndValuesAreReportedAndTheAgentEndsInOrder) {
    TempDir dir;
    std::string cfg = dir.file("bad.cfg");
    /* Quoted: an unquoted token ends at a ':' (as in a Windows drive name). */
    WriteFile(cfg, "logpath \"" + dir.path() + "\"\nMaxAge 5\ncompress maybe\nmaxage = 30\n");
    RunResult r = RunTorvik({"-f", cfg, "-m", "TORVIK.NO.SUCH.QMGR"});
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.exitCode, 0);
    /* Before the log file opens, messages go to standard output. */
    EXPECT_EQ(CountOf(r.out, "CVLA007E Unrecognised parameter 'MaxAge'\n"), 1);
    EXPECT_EQ(CountOf(r.out, "CVLA007E Unrecognised parameter '5'\n"), 1);
    EXPECT_EQ(CountOf(r.out, "CVLA007E Unrecognised parameter 'compress = maybe'\n"), 1);
    EXPECT_EQ(CountOf(r.out, "CVLA007E"), 3);
    /* Standard output is not a terminal: nothing is echoed after that. */
    EXPECT_EQ(CountOf(r.out, "CVLA001I"), 0);
    EXPECT_EQ(CountOf(r.out, "CVLA099I"), 0);

    std::string log = ReadFile(LogFile(dir.path(), 1));
    EXPECT_EQ(CountOf(log, "CVLA001I Corvel Software TORVIK"), 1);
    /* No queue manager: the MQ library is missing (CVLA100E), or, where
     * one is installed, the connection fails (CVLA101E). */
    size_t mqFailure = log.find("CVLA100E Error loading MQAPI mqm.lib rc=");
    if (mqFailure == std::string::npos)
        mqFailure = log.find("CVLA101E MQCONN to queue manager");
    ASSERT_NE(mqFailure, std::string::npos);
    EXPECT_EQ(CountOf(log,
                      "CVLA080I TORVIK Status Report\n"
                      "                            : Since Start : Last 0Mins\n"),
              1);
    EXPECT_EQ(CountOf(log, "CVLA099I TORVIK Agent shutting down\n"), 1);
    ASSERT_GE(log.size(), Separator.size());
    EXPECT_EQ(log.substr(log.size() - Separator.size()), Separator);
    EXPECT_LT(log.find("CVLA001I"), mqFailure);
    EXPECT_LT(mqFailure, log.find("CVLA080I"));
    EXPECT_LT(log.find("CVLA080I"), log.find("CVLA099I"));
}

TEST(TorvikProgram, ConfigurationAndLogBesideTheExecutable) {
    TempDir dir;
    std::string program = CopyOfTorvik(dir);
    /* Named with -f but missing: reported, defaults kept, log beside it. */
    RunResult r = RunProgram(program, {"-f", dir.file("absent.cfg")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(
        CountOf(r.out, "CVLA203E Unable to open config file '" + dir.file("absent.cfg") + "' rc="),
        1);
    EXPECT_EQ(CountOf(ReadFile(LogFile(dir.path(), 1)), "CVLA099I"), 1);

    /* TORVIK.CFG beside the program is read without -f. */
    WriteFile(dir.file("TORVIK.CFG"), "reportint nonsense\nbogus\n");
    r = RunProgram(program, {});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(CountOf(r.out, "CVLA007E Unrecognised parameter 'bogus'\n"), 1);
    EXPECT_EQ(CountOf(ReadFile(LogFile(dir.path(), 1)), "CVLA099I"), 2);
}

TEST(TorvikProgram, SmallMaxLogSizeRotatesTheLogFiles) {
    TempDir dir;
    std::string cfg = dir.file("rotate.cfg");
    WriteFile(cfg, "logpath \"" + dir.path() + "\"\nmaxlogsize 300\nnumlogfiles 3\n");
    for (int i = 0; i < 2; i++) {
        RunResult r = RunTorvik({"-f", cfg, "-v", "High"});
        EXPECT_EQ(r.exitCode, 0);
    }
    EXPECT_TRUE(FileExists(LogFile(dir.path(), 1)));
    EXPECT_TRUE(FileExists(LogFile(dir.path(), 2)));
    EXPECT_TRUE(FileExists(LogFile(dir.path(), 3)));
    EXPECT_FALSE(FileExists(LogFile(dir.path(), 4)));
    std::string current = ReadFile(LogFile(dir.path(), 1));
    ASSERT_GE(current.size(), Separator.size());
    EXPECT_EQ(current.substr(current.size() - Separator.size()), Separator);
    std::string all;
    for (int n = 1; n <= 3; n++)
        all += ReadFile(LogFile(dir.path(), n));
    EXPECT_GE(CountOf(all, "CVLA205I Deleting old error log file '" + LogFile(dir.path(), 3) + "'"),
              1);
    EXPECT_GE(CountOf(all, "CVLA207I Renaming old error log file '" + LogFile(dir.path(), 1) +
                               "' to '" + LogFile(dir.path(), 2) + "'"),
              1);
}

TEST(TorvikProgram, ATriggerMessageStartsTheAgentWithItsNamesAndWords) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("QMT"));
    std::string cfg = dir.file("t.cfg");
    WriteFile(cfg, "logpath \"" + dir.file("+QMNAME+") + "\"\n");
    ASSERT_LT(cfg.size() + 4, 128u);

    for (const char *verbosity : {"-v High", "-v Quiet"}) {
        std::string tm(732, ' ');
        tm.replace(0, 8, "TMC    2");
        tm.replace(8, 6, "TRIG.Q");
        tm.replace(104, strlen(verbosity), verbosity);
        tm.replace(556, cfg.size() + 3, "-f " + cfg);
        tm.replace(684, 3, "QMT");
        RunResult r = RunTorvik({tm});
        EXPECT_EQ(r.rc, 0);
        EXPECT_EQ(r.exitCode, 0);
    }
    /* +QMNAME+ took the queue manager from the trigger message. */
    std::string log = ReadFile(dir.file("QMT") + PL_PATH_SEPARATOR + "TORVIK_Log01.txt");
    EXPECT_EQ(CountOf(log, "CVLA099I"), 2);
    /* Only the first run (-v High) wrote the level-1 trigger line. */
    EXPECT_EQ(CountOf(log, "CVLA003I Program Triggered\n"), 1);
    EXPECT_LT(log.find("CVLA003I"), log.find("CVLA099I"));
}

TEST(TorvikProgram, SimpleCommandModeWritesNoLogAndNoFinalReport) {
    TempDir dir;
    std::string program = CopyOfTorvik(dir);
    RunResult r = RunProgram(program, {"-c", "STOP", "-m", "TORVIK.NO.SUCH.QMGR"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(CountOf(r.out, "CVLA100E") + CountOf(r.out, "CVLA101E"), 1);
    EXPECT_EQ(CountOf(r.out, "CVLA001I"), 0);
    EXPECT_EQ(CountOf(r.out, "CVLA099I"), 0);
    EXPECT_FALSE(FileExists(LogFile(dir.path(), 1)));
}
