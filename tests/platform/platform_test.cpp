/* platform_test.cpp -- the operating-system layer on every system (what
 * only Windows has: tests/windows); threads and locks run in the cs and
 * workers tests. The child processes are platform_child, beside this test. */
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "support/files.h"
#include "support/process.h"
#include "windows/win_support.h"

using tvtest::PROGRAMRESULT;
using tvtest::RunProgram;
using tvtest::TempDir;
using wintest::Unix;

namespace {

/* platform_child with args, run to its end. */
PROGRAMRESULT Child(std::vector<std::string> args, uint32_t timeoutMs = 60000,
                    const std::string &dir = "", size_t maxOut = 1 << 20) {
    args.insert(args.begin(), wintest::Join(wintest::TestDirectory(),
                                            std::string("platform_child") + PL_EXE_SUFFIX));
    return RunProgram(args, timeoutMs, dir, maxOut);
}

}  // namespace

TEST(Event, ResetsAutomaticallySoOneSignalReleasesOneWait) {
    PLEVENT e = PLCreateEvent();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(PLWaitEvent(e, 0), PL_WAIT_TIMEOUT);
    PLSignalEvent(e); /* remembered until someone waits */
    EXPECT_EQ(PLWaitEvent(e, 0), PL_WAIT_OK);
    EXPECT_EQ(PLWaitEvent(e, 20), PL_WAIT_TIMEOUT);
    PLSignalEvent(e);
    PLSignalEvent(e); /* two signals with nobody waiting still release only one */
    EXPECT_EQ(PLWaitEvent(e, 0), PL_WAIT_OK);
    EXPECT_EQ(PLWaitEvent(e, 0), PL_WAIT_TIMEOUT);
    PLDestroyEvent(e);
}

TEST(ChildProcess, EachArgumentArrivesUnchangedNeverThroughAShell) {
    /* Blanks, tabs, quotes, backslash runs before quotes and at the end
     * (the Windows quoting rule), empty arguments, shell characters. */
    std::vector<std::string> args = {"plain",
                                     "two words",
                                     "",
                                     "tab\there",
                                     "say \"hi\"",
                                     "back\\slash\\",
                                     "ends with blank\\",
                                     "tail\\\"q",
                                     "\\\\server\\share\\dir",
                                     "a\\\\\\\"b",
                                     "\"",
                                     "%PATH% & | < > ^ ; $(touch x) `y` 'q' *",
                                     "C:\\MQ\\ssl\\key.kdb"};
    std::vector<std::string> argv = {"args"};
    argv.insert(argv.end(), args.begin(), args.end());
    PROGRAMRESULT run = Child(argv);
    ASSERT_EQ(run.rc, 0) << run.proc.systemError;
    EXPECT_EQ(run.proc.exitCode, 0);
    std::string shown = std::to_string(args.size()) + "\n";
    for (const std::string &a : args)
        shown += "[" + a + "]\n";
    EXPECT_EQ(Unix(run.out), shown);
}

TEST(ChildProcess, BothStreamsInOnePipeTheExitCodeEmptyInputAndTheDirectory) {
    PROGRAMRESULT run = Child({"exit", "7"});
    ASSERT_EQ(run.rc, 0);
    EXPECT_EQ(run.proc.exitCode, 7);
    EXPECT_EQ(Unix(run.out), "out\nerr\n");
    EXPECT_EQ(run.proc.overflow, 0);
    EXPECT_EQ(run.proc.timedOut, 0);

    run = Child({"stdin"});
    ASSERT_EQ(run.rc, 0);
    EXPECT_EQ(Unix(run.out), "read 0\n");

    TempDir dir;
    run = Child({"cwd"}, 60000, dir.path());
    ASSERT_EQ(run.rc, 0);
    std::string shown = Unix(run.out);
    ASSERT_FALSE(shown.empty());
    shown.pop_back();
    std::error_code ec;
    EXPECT_TRUE(std::filesystem::equivalent(shown, dir.path(), ec)) << shown << " " << dir.path();
    run = Child({"cwd"}, 60000, dir.file("no/such/directory"));
    EXPECT_EQ(run.rc, PL_PROC_CREATE_FAILED);
    EXPECT_NE(run.proc.systemError, 0);
}

TEST(ChildProcess, ReadsWhileTheChildRunsAndKeepsOnlyWhatFits) {
    /* 4000 lines are far more than a pipe holds: a reader that waited for
     * the child first would hang. */
    PROGRAMRESULT run = Child({"flood", "4000"}, 60000, "", 10240);
    ASSERT_EQ(run.rc, 0);
    EXPECT_EQ(run.proc.outLen, 10240u);
    EXPECT_EQ(run.proc.overflow, 1);
    EXPECT_EQ(run.proc.exitCode, 0);
    EXPECT_EQ(Unix(run.out.substr(0, 51)).substr(0, 50),
              "0123456789012345678901234567890123456789012345678\n");

    /* Exactly what fits is no overflow (a line ends in "\r\n" on Windows). */
    size_t line = run.out.find('\n') + 1;
    run = Child({"flood", "10"}, 60000, "", 10 * line);
    ASSERT_EQ(run.rc, 0);
    EXPECT_EQ(run.proc.outLen, 10 * line);
    EXPECT_EQ(run.proc.overflow, 0);
}

TEST(ChildProcess, KillsAChildThatOutlivesTheTimeOut) {
    uint64_t start = PLMonotonicMs();
    PROGRAMRESULT run = Child({"sleep", "120000"}, 500);
    ASSERT_EQ(run.rc, 0);
    EXPECT_EQ(run.proc.timedOut, 1);
    EXPECT_EQ(run.proc.exitCode, -1);
    EXPECT_EQ(Unix(run.out), "started\n");
    EXPECT_LT(PLMonotonicMs() - start, 60000u); /* it did not wait for the sleep */
}

TEST(ChildProcess, ReportsAProgramThatCannotBeStarted) {
    PROGRAMRESULT r = RunProgram({"/nonexistent/torvik-no-such-tool"});
    EXPECT_EQ(r.rc, PL_PROC_CREATE_FAILED);
    EXPECT_TRUE(PLErrorIsNotFound(r.proc.systemError)) << r.proc.systemError;
    char buf[16];
    for (const char *first : {(const char *)nullptr, ""}) {
        const char *argv[] = {first, nullptr};
        EXPECT_EQ(PLRunProcess(argv, nullptr, buf, sizeof buf, 1000, &r.proc), PL_PROC_ARGS_FAILED);
    }
}

TEST(ChildProcess, ChildrenOnSeveralThreadsEachGetOnlyTheirOwnOutput) {
    /* A pipe end that a child of another thread inherited would mix the
     * output and keep the run from seeing its end. */
    std::atomic<int> bad{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++)
        threads.emplace_back([t, &bad] {
            for (int i = 0; i < 5; i++) {
                std::string mark = "thread" + std::to_string(t) + "-" + std::to_string(i);
                PROGRAMRESULT run = Child({"args", mark}, 60000, "", 4096);
                bad += run.rc != 0 || Unix(run.out) != "1\n[" + mark + "]\n";
            }
        });
    for (std::thread &th : threads)
        th.join();
    EXPECT_EQ(bad.load(), 0);
}

TEST(ChildProcess, AProgramWhoseStreamsArePipesHasNoConsole) {
    PROGRAMRESULT run = Child({"console"});
    ASSERT_EQ(run.rc, 0);
    EXPECT_EQ(run.proc.exitCode, 0);
    EXPECT_EQ(Unix(run.out), "terminal 0\nkey waiting 0\nkey -1\n");
}

/* (Deleting, renaming and sizes are also what the log's rotation tests use.) */
TEST(Files, RenameRefusesAnExistingTargetAndMissingFilesAreNotFound) {
    TempDir dir;
    std::string a = dir.file("a.txt"), b = dir.file("b.txt");
    tvtest::WriteFile(a, "12345");
    tvtest::WriteFile(b, "x");
    int64_t size = -1;
    EXPECT_EQ(PLFileSize(a.c_str(), &size), 0);
    EXPECT_EQ(size, 5);
    EXPECT_NE(PLRenameFile(a.c_str(), b.c_str()), 0);
    EXPECT_EQ(tvtest::ReadFile(b), "x");
    ASSERT_EQ(PLDeleteFile(b.c_str()), 0);
    EXPECT_EQ(PLRenameFile(a.c_str(), b.c_str()), 0);
    EXPECT_EQ(tvtest::ReadFile(b), "12345");
    EXPECT_TRUE(PLErrorIsNotFound(PLDeleteFile(a.c_str())));
    EXPECT_TRUE(PLErrorIsNotFound(PLRenameFile(a.c_str(), dir.file("c").c_str())));
    int err = 0;
    EXPECT_EQ(PLOpenFile(dir.file("no/such/dir.txt").c_str(), "r", &err), nullptr);
    EXPECT_TRUE(PLErrorIsNotFound(err));
    char text[200];
    EXPECT_GT(strlen(PLErrorText(err, text, sizeof text)), 0u);
    EXPECT_FALSE(PLErrorIsNotFound(0));
}

TEST(Program, ExecutablePathFitsItsBufferOrIsRefused) {
    char path[1024];
    ASSERT_EQ(PLGetExecutablePath(path, sizeof path), 0);
    std::string p(path);
    EXPECT_TRUE(std::filesystem::path(p).is_absolute() && tvtest::FileExists(p)) << p;
    std::vector<char> exact(p.size()); /* no room for the terminator */
    EXPECT_NE(PLGetExecutablePath(exact.data(), exact.size()), 0);
    EXPECT_EQ(exact[0], '\0');
    std::vector<char> fits(p.size() + 1);
    EXPECT_EQ(PLGetExecutablePath(fits.data(), fits.size()), 0);
    EXPECT_EQ(std::string(fits.data()), p);
}

TEST(Libraries, LoadsTheStandInMqLibraryAndExplainsAFailure) {
    std::string name = wintest::Join(wintest::BuildDirectory("lib"), PL_MQ_SERVER_LIBRARY);
    PLLIBRARY lib = nullptr;
    char text[300];
    ASSERT_EQ(PLLoadLibrary(name.c_str(), &lib, text, sizeof text), 0) << name << ": " << text;
    /* The MQI verbs are exported under their plain names. */
    for (const char *verb : {"MQCONN", "MQCONNX", "MQDISC", "MQOPEN", "MQPUT", "MQPUT1", "MQGET",
                             "MQINQ", "MQCB", "MQCTL", "MQCLOSE"})
        EXPECT_NE(PLGetSymbol(lib, verb), nullptr) << verb;
    EXPECT_EQ(PLGetSymbol(lib, "MQSUB"), nullptr);
    PLCloseLibrary(lib);

    lib = nullptr;
    EXPECT_NE(PLLoadLibrary("/nonexistent/libnothing.so", &lib, text, sizeof text), 0);
    EXPECT_EQ(lib, nullptr);
    EXPECT_GT(strlen(text), 0u);
    EXPECT_NE(text[strlen(text) - 1], '\n');
}
