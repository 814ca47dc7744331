/* win_platform_test.cpp -- the Windows half of the operating-system layer:
 * child processes (CreatePipe and CreateProcessW, the argument quoting
 * rule, one pipe for both output streams, the time-out), the console tests
 * of a program whose streams are pipes, library loading with the system's
 * error codes and texts, files and their Windows error codes, the
 * executable's name.
 *
 * The child is win_child.exe, built beside this test.
 */
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/files.h"
#include "support/process.h"
#include "windows/win_support.h"

using tvtest::PROGRAMRESULT;
using tvtest::RunProgram;
using wintest::Unix;

namespace {

std::string Child() {
    return wintest::Join(wintest::TestDirectory(), "win_child.exe");
}

/* The lines "[arg]" that win_child prints for its arguments. */
std::string Bracketed(const std::vector<std::string> &args) {
    std::string text = std::to_string(args.size()) + "\n";
    for (const std::string &a : args)
        text += "[" + a + "]\n";
    return text;
}

}  // namespace

TEST(WindowsProgram, ExecutablePathIsTheFullWindowsName) {
    char path[1024];
    ASSERT_EQ(PLGetExecutablePath(path, sizeof path), 0);
    std::string p(path);
    ASSERT_GT(p.size(), 3u);
    EXPECT_EQ(p[1], ':') << p;
    EXPECT_EQ(p[2], '\\') << p;
    EXPECT_EQ(p.substr(p.size() - 21), "win_platform_test.exe") << p;
    EXPECT_TRUE(tvtest::FileExists(p));
    /* A buffer that the name would fill is refused and left empty. */
    std::vector<char> exact(p.size());
    EXPECT_NE(PLGetExecutablePath(exact.data(), exact.size()), 0);
    EXPECT_EQ(exact[0], '\0');
    std::vector<char> fits(p.size() + 1);
    EXPECT_EQ(PLGetExecutablePath(fits.data(), fits.size()), 0);
    EXPECT_EQ(std::string(fits.data()), p);
}

TEST(WindowsChildProcess, EachArgumentArrivesUnchangedThroughTheQuotingRule) {
    /* Blanks, tabs, quotes, backslash runs before quotes and at the end,
     * empty arguments, a UNC name and shell characters that must stay text. */
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
                                     "%PATH% & | < > ^ ;",
                                     "C:\\MQ\\ssl\\key.kdb"};
    std::vector<std::string> argv = {Child(), "args"};
    argv.insert(argv.end(), args.begin(), args.end());
    PROGRAMRESULT run = RunProgram(argv);
    ASSERT_EQ(run.rc, 0) << run.proc.systemError;
    EXPECT_EQ(run.proc.exitCode, 0);
    EXPECT_EQ(Unix(run.out), Bracketed(args));
}

TEST(WindowsChildProcess, CollectsBothStreamsInOnePipeAndTheExitCode) {
    PROGRAMRESULT run = RunProgram({Child(), "exit", "7"});
    ASSERT_EQ(run.rc, 0);
    EXPECT_EQ(run.proc.exitCode, 7);
    EXPECT_EQ(run.out, "out\r\nerr\r\n"); /* the child writes text mode */
    EXPECT_EQ(run.proc.overflow, 0);
    EXPECT_EQ(run.proc.timedOut, 0);
}

TEST(WindowsChildProcess, ReadsWhileTheChildRunsAndKeepsOnlyWhatFits) {
    /* 4000 lines are far more than the pipe holds: a reader that waited
     * for the child first would hang. */
    PROGRAMRESULT run = RunProgram({Child(), "flood", "4000"}, 60000, "", 10240);
    ASSERT_EQ(run.rc, 0);
    EXPECT_EQ(run.proc.outLen, 10240u);
    EXPECT_EQ(run.proc.overflow, 1);
    EXPECT_EQ(run.proc.exitCode, 0);
    EXPECT_EQ(run.out.substr(0, 51), "0123456789012345678901234567890123456789012345678\r\n");

    /* Exactly what fits is no overflow. */
    run = RunProgram({Child(), "flood", "10"}, 60000, "", 510);
    ASSERT_EQ(run.rc, 0);
    EXPECT_EQ(run.proc.outLen, 510u);
    EXPECT_EQ(run.proc.overflow, 0);
}

TEST(WindowsChildProcess, StandardInputIsEmptyAndTheDirectoryIsTheGivenOne) {
    PROGRAMRESULT run = RunProgram({Child(), "stdin"});
    ASSERT_EQ(run.rc, 0);
    EXPECT_EQ(Unix(run.out), "read 0\n");

    tvtest::TempDir dir;
    run = RunProgram({Child(), "cwd"}, 60000, dir.path());
    ASSERT_EQ(run.rc, 0);
    std::string shown = Unix(run.out);
    ASSERT_FALSE(shown.empty());
    shown.pop_back();
    std::error_code ec;
    EXPECT_TRUE(std::filesystem::equivalent(shown, dir.path(), ec)) << shown << " " << dir.path();

    run = RunProgram({Child(), "cwd"}, 60000, "Z:\\no\\such\\directory\\here");
    EXPECT_EQ(run.rc, PL_PROC_CREATE_FAILED);
    EXPECT_NE(run.proc.systemError, 0);
}

TEST(WindowsChildProcess, TheChildSeesTheEnvironmentAndIsFoundWithoutItsSuffix) {
    ASSERT_EQ(PLSetEnv("TORVIK_WIN_TEST_VALUE", "seen by the child"), 0);
    PROGRAMRESULT run = RunProgram({Child(), "env", "TORVIK_WIN_TEST_VALUE"});
    ASSERT_EQ(run.rc, 0);
    EXPECT_EQ(Unix(run.out), "seen by the child\n");
    PLSetEnv("TORVIK_WIN_TEST_VALUE", nullptr);

    /* A bare name is looked up as Windows does: the directory of this
     * program first, ".exe" added. */
    run = RunProgram({"win_child", "exit", "3"});
    ASSERT_EQ(run.rc, 0) << run.proc.systemError;
    EXPECT_EQ(run.proc.exitCode, 3);
}

TEST(WindowsChildProcess, FailuresToStartAreReportedWithTheSystemCode) {
    PROGRAMRESULT run = RunProgram({"Z:\\no\\such\\dir\\torvik-no-such-tool.exe"});
    EXPECT_EQ(run.rc, PL_PROC_CREATE_FAILED);
    EXPECT_TRUE(PLErrorIsNotFound(run.proc.systemError)) << run.proc.systemError;
    char text[300];
    EXPECT_GT(strlen(PLErrorText(run.proc.systemError, text, sizeof text)), 0u);

    /* Text that is not UTF-8 cannot become a Windows command line. */
    run = RunProgram({Child(), "args", "\xC3\x28"});
    EXPECT_EQ(run.rc, PL_PROC_ARGS_FAILED);
    EXPECT_NE(run.proc.systemError, 0);
    run = RunProgram({Child(), "cwd"}, 60000, "bad\xFF");
    EXPECT_EQ(run.rc, PL_PROC_ARGS_FAILED);

    const char *empty[] = {nullptr};
    PLPROCRESULT r;
    char buf[16];
    EXPECT_EQ(PLRunProcess(empty, nullptr, buf, sizeof buf, 1000, &r), PL_PROC_ARGS_FAILED);
    const char *blank[] = {"", nullptr};
    EXPECT_EQ(PLRunProcess(blank, nullptr, buf, sizeof buf, 1000, &r), PL_PROC_ARGS_FAILED);
}

TEST(WindowsChildProcess, KillsAChildThatOutlivesTheTimeOut) {
    uint64_t start = PLMonotonicMs();
    PROGRAMRESULT run = RunProgram({Child(), "sleep", "120000"}, 500);
    ASSERT_EQ(run.rc, 0);
    EXPECT_EQ(run.proc.timedOut, 1);
    EXPECT_EQ(run.proc.exitCode, -1);
    EXPECT_EQ(Unix(run.out), "started\n");
    EXPECT_LT(PLMonotonicMs() - start, 60000u); /* it did not wait for the sleep */
}

TEST(WindowsChildProcess, ChildrenOnSeveralThreadsEachGetOnlyTheirOwnOutput) {
    /* Pipe ends are inheritable only while their own child is made: a
     * child of another thread must never hold them (it would also keep the
     * run from seeing the end of its output). */
    std::atomic<int> bad{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++) {
        threads.emplace_back([t, &bad] {
            for (int i = 0; i < 5; i++) {
                std::string mark = "thread" + std::to_string(t) + "-" + std::to_string(i);
                PROGRAMRESULT run = RunProgram({Child(), "args", mark}, 60000, "", 4096);
                if (run.rc != 0 || Unix(run.out) != "1\n[" + mark + "]\n")
                    bad++;
            }
        });
    }
    for (std::thread &th : threads)
        th.join();
    EXPECT_EQ(bad.load(), 0);
}

TEST(WindowsConsole, AProgramWhoseStreamsArePipesHasNoConsole) {
    /* The child reports what the console procedures say there. */
    PROGRAMRESULT run = RunProgram({Child(), "console"});
    ASSERT_EQ(run.rc, 0);
    EXPECT_EQ(run.proc.exitCode, 0);
    EXPECT_EQ(Unix(run.out), "terminal 0\nkey waiting 0\nkey -1\n");
}

TEST(WindowsLibraries, LoadsTheStandInMqmDllAndExplainsAFailure) {
    std::string lib = wintest::Join(wintest::BuildDirectory("lib"), "mqm.dll");
    PLLIBRARY h = nullptr;
    char text[300];
    ASSERT_EQ(PLLoadLibrary(lib.c_str(), &h, text, sizeof text), 0) << lib << ": " << text;
    /* The MQI verbs are exported under their plain names. */
    for (const char *verb : {"MQCONN", "MQCONNX", "MQDISC", "MQOPEN", "MQPUT", "MQPUT1", "MQGET",
                             "MQINQ", "MQCB", "MQCTL", "MQCLOSE"})
        EXPECT_NE(PLGetSymbol(h, verb), nullptr) << verb;
    EXPECT_EQ(PLGetSymbol(h, "MQSUB"), nullptr);
    PLCloseLibrary(h);

    h = nullptr;
    int err = PLLoadLibrary("Z:\\no\\such\\dir\\mqm.dll", &h, text, sizeof text);
    EXPECT_EQ(err, 126); /* ERROR_MOD_NOT_FOUND */
    EXPECT_EQ(h, nullptr);
    EXPECT_GT(strlen(text), 0u);
    EXPECT_NE(text[strlen(text) - 1], '\n');
}

/* Windows' own codes and texts, and binary files (the rest of the file
 * procedures: platform_test, which runs here too). */
TEST(WindowsFiles, WindowsErrorCodesAndBinaryFiles) {
    tvtest::TempDir dir;
    std::string a = dir.file("a.txt"), b = dir.file("b.txt");
    int err = 0;
    EXPECT_EQ(PLOpenFile(a.c_str(), "r", &err), nullptr);
    EXPECT_EQ(err, 2); /* ERROR_FILE_NOT_FOUND */
    EXPECT_EQ(PLOpenFile(dir.file("no\\such\\dir.txt").c_str(), "a", &err), nullptr);
    EXPECT_EQ(err, 3); /* ERROR_PATH_NOT_FOUND */
    EXPECT_TRUE(PLErrorIsNotFound(err));

    /* Files are binary: a line feed stays one byte ... */
    FILE *f = PLOpenFile(a.c_str(), "a", &err);
    ASSERT_NE(f, nullptr);
    fputs("one\ntwo\n", f);
    fclose(f);
    EXPECT_EQ(tvtest::ReadFile(a), "one\ntwo\n");
    /* ... unless the caller asks for text. */
    f = PLOpenFile(b.c_str(), "wt", &err);
    ASSERT_NE(f, nullptr);
    fputs("x\n", f);
    fclose(f);
    EXPECT_EQ(tvtest::ReadFile(b), "x\r\n");
    EXPECT_EQ(PLRenameFile(a.c_str(), b.c_str()), 183); /* ERROR_ALREADY_EXISTS */
    EXPECT_EQ(PLDeleteFile(dir.file("none").c_str()), 2);

    char text[300];
    std::string t = PLErrorText(2, text, sizeof text);
    EXPECT_FALSE(t.empty());
    EXPECT_NE(t.back(), '\n');
    EXPECT_NE(t.back(), '\r');
    char tiny[5];
    EXPECT_EQ(strlen(PLErrorText(2, tiny, sizeof tiny)), 4u);
    EXPECT_GT(strlen(PLCErrorText(ENOENT, text, sizeof text)), 0u);
}
