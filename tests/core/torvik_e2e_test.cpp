/* torvik_e2e_test.cpp -- the torvik program run as a process: usage,
 * configuration errors, log files, simple-command mode, the orderly end
 * with exit code 0. Each run uses a copy of the program in a directory of
 * its own, so that the log (beside the executable by default) stays there.
 */
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/process.h"
#include "support/files.h"
#include "platform/platform.h"

using tvtest::CountOf;
using tvtest::FileExists;
using tvtest::ReadFile;
using tvtest::TempDir;
using tvtest::WriteFile;

namespace {

const std::string Torvik = std::string(TV_BIN_DIR) + "/torvik" + PL_EXE_SUFFIX;
const char LOG1[] = "TORVIK_Log01.txt"; /* the current log file */
const std::string Separator = "---------------------------------------\n";

/* Run program to its end; a Windows program's "\r\n" is read as "\n". */
tvtest::PROGRAMRESULT RunTorvik(const std::string &program, const std::vector<std::string> &args) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    tvtest::PROGRAMRESULT r = tvtest::RunProgram(argv, 60000, "", 1 << 20);
    for (size_t at = r.out.find("\r\n"); at != std::string::npos; at = r.out.find("\r\n", at))
        r.out.erase(at, 1);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.proc.timedOut, 0);
    return r;
}

/* A copy of the program in dir, so that its own directory is dir. */
std::string CopyOfTorvik(const TempDir &dir) {
    std::string copy = dir.file(std::string("torvik") + PL_EXE_SUFFIX);
    std::filesystem::copy_file(Torvik, copy);
    return copy;
}

}  // namespace

/* The program ends after its usage text, with nothing else (the options
 * and the texts themselves are tested on the start-up module). */
TEST(TorvikProgram, UsageEndsTheProgramWithExitCodeZero) {
    tvtest::PROGRAMRESULT r = RunTorvik(Torvik, {"-m", "QM1", "extra"});
    EXPECT_EQ(r.proc.exitCode, 0);
    EXPECT_EQ(CountOf(r.out, "CVLA007E Unrecognised parameter 'extra'\n"), 1);
    EXPECT_EQ(CountOf(r.out, "CVLA006E Usage: TORVIK <Optional flags as below>\n"), 1);
    EXPECT_EQ(CountOf(r.out, "CVLA099I") + CountOf(r.out, "CVLA080I"), 0);
}

/* TORVIK.CFG beside the program is read without -f, its bad keys and values
 * reported, and the log goes beside the program; with no queue manager the
 * agent ends in order. A configuration file named with -f but missing is
 * reported and the defaults kept. */
TEST(TorvikProgram, ConfigurationErrorsLogBesideTheProgramAndTheOrderlyEnd) {
    TempDir dir;
    std::string program = CopyOfTorvik(dir);
    WriteFile(dir.file("TORVIK.CFG"), "MaxAge 5\ncompress maybe\nmaxage = 30\nbogus\n");
    tvtest::PROGRAMRESULT r = RunTorvik(program, {"-m", "TORVIK.NO.SUCH.QMGR"});
    EXPECT_EQ(r.proc.exitCode, 0);
    /* Before the log file opens, messages go to standard output (their
     * texts are tested on the configuration module); it is not a terminal:
     * nothing is echoed after that. */
    EXPECT_EQ(CountOf(r.out, "CVLA007E"), 4);
    EXPECT_EQ(CountOf(r.out, "CVLA007E Unrecognised parameter 'bogus'\n"), 1);
    EXPECT_EQ(CountOf(r.out, "CVLA001I") + CountOf(r.out, "CVLA099I"), 0);

    std::string log = ReadFile(dir.file(LOG1));
    EXPECT_EQ(CountOf(log, "CVLA001I Corvel Software TORVIK"), 1);
    /* No queue manager: the MQ library is missing (CVLA100E), or, where
     * one is installed, the connection fails (CVLA101E). */
    size_t mqFailure = log.find("CVLA100E Error loading MQAPI mqm.lib rc=");
    if (mqFailure == std::string::npos)
        mqFailure = log.find("CVLA101E MQCONN to queue manager");
    ASSERT_NE(mqFailure, std::string::npos);
    EXPECT_EQ(CountOf(log, "CVLA099I TORVIK Agent shutting down\n"), 1);
    ASSERT_GE(log.size(), Separator.size());
    EXPECT_EQ(log.substr(log.size() - Separator.size()), Separator);
    EXPECT_LT(log.find("CVLA001I"), mqFailure);
    EXPECT_LT(mqFailure, log.find("CVLA080I"));
    EXPECT_LT(log.find("CVLA080I"), log.find("CVLA099I"));

    r = RunTorvik(program, {"-f", dir.file("absent.cfg")});
    EXPECT_EQ(r.proc.exitCode, 0);
    EXPECT_EQ(
        CountOf(r.out, "CVLA203E Unable to open config file '" + dir.file("absent.cfg") + "' rc="),
        1);
    EXPECT_EQ(CountOf(ReadFile(dir.file(LOG1)), "CVLA099I"), 2);
}

TEST(TorvikProgram, SimpleCommandModeWritesNoLogAndNoFinalReport) {
    TempDir dir;
    std::string program = CopyOfTorvik(dir);
    tvtest::PROGRAMRESULT r = RunTorvik(program, {"-c", "STOP", "-m", "TORVIK.NO.SUCH.QMGR"});
    EXPECT_EQ(r.proc.exitCode, 0);
    EXPECT_EQ(CountOf(r.out, "CVLA100E") + CountOf(r.out, "CVLA101E"), 1);
    EXPECT_EQ(CountOf(r.out, "CVLA001I"), 0);
    EXPECT_EQ(CountOf(r.out, "CVLA099I"), 0);
    EXPECT_FALSE(FileExists(dir.file(LOG1)));
}
