/* win_platform_test.cpp -- what only the Windows half of the operating-system
 * layer has: command lines that cannot be built, a bare program name looked up as Windows does, the
 * system's error codes and binary files. (The rest runs on both systems: platform_test.)
 */
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "support/files.h"
#include "support/process.h"

using tvtest::PROGRAMRESULT;
using tvtest::RunProgram;

TEST(WindowsChildProcess, ABareNameIsFoundBesideTheProgramAndBadTextIsRefused) {
    /* The directory of this program first, ".exe" added. */
    PROGRAMRESULT run = RunProgram({"platform_child", "exit", "3"});
    ASSERT_EQ(run.rc, 0) << run.proc.systemError;
    EXPECT_EQ(run.proc.exitCode, 3);

    /* Text that is not UTF-8 cannot become a Windows command line. */
    run = RunProgram({"platform_child", "args", "\xC3\x28"});
    EXPECT_EQ(run.rc, PL_PROC_ARGS_FAILED);
    EXPECT_NE(run.proc.systemError, 0);
    run = RunProgram({"platform_child", "cwd"}, 60000, "bad\xFF");
    EXPECT_EQ(run.rc, PL_PROC_ARGS_FAILED);
}

/* The log relies on binary files (win_e2e_test finds no "\r\n" in it). */
TEST(WindowsFiles, TextModeOnlyWhenAskedAndTheSystemsErrorCodesAndTexts) {
    tvtest::TempDir dir;
    int err = 0;
    FILE *f = PLOpenFile(dir.file("t.txt").c_str(), "wt", &err);
    ASSERT_NE(f, nullptr);
    fputs("x\n", f);
    fclose(f);
    EXPECT_EQ(tvtest::ReadFile(dir.file("t.txt")), "x\r\n");
    EXPECT_EQ(PLOpenFile(dir.file("no\\such\\dir.txt").c_str(), "a", &err), nullptr);
    EXPECT_EQ(err, 3); /* ERROR_PATH_NOT_FOUND */
    EXPECT_TRUE(PLErrorIsNotFound(err));
    PLLIBRARY lib = nullptr;
    char text[300];
    EXPECT_EQ(PLLoadLibrary("Z:\\no\\such\\dir\\mqm.dll", &lib, text, sizeof text), 126);
    std::string t = PLErrorText(2, text, sizeof text);
    EXPECT_TRUE(!t.empty() && t.back() != '\n' && t.back() != '\r') << t;
    char tiny[5];
    EXPECT_EQ(strlen(PLErrorText(2, tiny, sizeof tiny)), 4u);
    EXPECT_GT(strlen(PLCErrorText(ENOENT, text, sizeof text)), 0u);
}
