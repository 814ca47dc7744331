/* platform_test.cpp -- the operating-system layer: threads (the mutex time-out
 * is shown through the lock of log/cs, cs_test),
 * auto-reset events, child processes with an output pipe, files, libraries.
 */
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

#include "support/files.h"
#include "platform/platform.h"
#include "support/process.h"

using tvtest::PROGRAMRESULT;
using tvtest::RunProgram;
using tvtest::TempDir;

namespace {

struct Flag {
    std::atomic<int> value{0};
    PLEVENT done = nullptr;
};

void SetFlagThread(void *arg) {
    Flag *f = static_cast<Flag *>(arg);
    f->value.store(static_cast<int>(PLCurrentThreadId()));
    PLSignalEvent(f->done);
}

/* The child-process cases below run POSIX shell scripts; the Windows ones
 * (tests/windows) start a small Windows program instead. */
bool HasPosixShell() {
    return PL_EXE_SUFFIX[0] == '\0';
}

}  // namespace

TEST(Threads, DetachedAndJoinableThreadsRunOnTheirOwnThreadIds) {
    Flag f[2];
    for (int joinable : {0, 1}) {
        f[joinable].done = PLCreateEvent();
        ASSERT_NE(f[joinable].done, nullptr);
        PLTHREAD t = nullptr;
        ASSERT_EQ(PLCreateThread(SetFlagThread, &f[joinable], joinable ? &t : nullptr), 0);
        ASSERT_EQ(joinable ? PLJoinThread(t) : PLWaitEvent(f[joinable].done, 20000), 0);
        EXPECT_NE(f[joinable].value.load(), 0);
        EXPECT_NE(static_cast<uint32_t>(f[joinable].value.load()), PLCurrentThreadId());
        PLDestroyEvent(f[joinable].done);
    }
    EXPECT_NE(f[0].value.load(), f[1].value.load());
    EXPECT_NE(PLCurrentThreadId(), 0u);
}

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

TEST(Time, ClocksAndLocalTime) {
    int64_t now = PLWallClockSeconds();
    EXPECT_GT(now, 1600000000);
    struct tm lt;
    ASSERT_EQ(PLLocalTime(now, &lt), 0);
    EXPECT_GE(lt.tm_year + 1900, 2020);
    /* The sleep lasts at least about as long as asked; the Windows clock
     * moves in ticks of about 16 ms. */
    uint64_t a = PLMonotonicMs();
    PLSleep(50);
    EXPECT_GE(PLMonotonicMs(), a + 30);
}

TEST(ChildProcess, OutputExitCodeArgumentsInputAndDirectory) {
    if (!HasPosixShell())
        GTEST_SKIP() << "POSIX shell scripts; tests/windows has the Windows cases";
    /* Both streams in one pipe, the exit code, each argument unchanged
     * (never through a shell), an empty standard input. */
    const char *nasty = "a b;$(touch x)`y` 'q' \"dq\" \\ *";
    PROGRAMRESULT r =
        RunProgram({"/bin/sh", "-c", "printf '%s|%s\\n' \"$1\" \"$2\"; cat; echo oops 1>&2; exit 3",
                    "sh", nasty, ""},
                   20000);
    ASSERT_EQ(r.rc, 0);
    EXPECT_EQ(r.proc.exitCode, 3);
    EXPECT_EQ(r.out, std::string(nasty) + "|\noops\n");
    EXPECT_EQ(r.proc.overflow, 0);
    EXPECT_EQ(r.proc.timedOut, 0);

    TempDir dir;
    r = RunProgram({"/bin/sh", "-c", "pwd -P"}, 20000, dir.path());
    ASSERT_EQ(r.rc, 0);
    EXPECT_EQ(r.out, std::filesystem::canonical(dir.path()).string() + "\n");
}

TEST(ChildProcess, ReadsWhileTheChildRunsAndKeepsOnlyWhatFits) {
    if (!HasPosixShell())
        GTEST_SKIP() << "POSIX shell scripts; tests/windows has the Windows cases";
    /* Far more than a pipe holds: a reader that waited first would hang. */
    PROGRAMRESULT r = RunProgram({"/bin/sh", "-c",
                                  "i=0; while [ $i -lt 4000 ]; do "
                                  "echo 0123456789012345678901234567890123456789012345678; "
                                  "i=$((i+1)); done; exit 0"},
                                 20000, "", 10240);
    ASSERT_EQ(r.rc, 0);
    EXPECT_EQ(r.proc.outLen, 10240u);
    EXPECT_EQ(r.proc.overflow, 1);
    EXPECT_EQ(r.proc.exitCode, 0);
    EXPECT_EQ(r.out.substr(0, 50), "0123456789012345678901234567890123456789012345678\n");
}

TEST(ChildProcess, ReportsAProgramThatCannotBeStarted) {
    PROGRAMRESULT r = RunProgram({"/nonexistent/torvik-no-such-tool"});
    EXPECT_EQ(r.rc, PL_PROC_CREATE_FAILED);
    EXPECT_TRUE(PLErrorIsNotFound(r.proc.systemError));
    const char *empty[] = {nullptr};
    char buf[16];
    EXPECT_EQ(PLRunProcess(empty, nullptr, buf, sizeof buf, 1000, &r.proc), PL_PROC_ARGS_FAILED);
}

TEST(ChildProcess, KillsAChildThatOutlivesTheTimeOut) {
    if (!HasPosixShell())
        GTEST_SKIP() << "POSIX shell scripts; tests/windows has the Windows cases";
    uint64_t start = PLMonotonicMs();
    PROGRAMRESULT r = RunProgram({"/bin/sh", "-c", "echo started; exec sleep 60"}, 300);
    ASSERT_EQ(r.rc, 0);
    EXPECT_EQ(r.proc.timedOut, 1);
    EXPECT_EQ(r.out, "started\n");
    EXPECT_LT(PLMonotonicMs() - start, 30000u); /* it did not wait for the sleep */
}

TEST(Files, DeleteRenameSizeAndNotFound) {
    TempDir dir;
    std::string a = dir.file("a.txt"), b = dir.file("b.txt");
    int err = 0;
    FILE *f = PLOpenFile(a.c_str(), "w", &err);
    ASSERT_NE(f, nullptr);
    fputs("12345", f);
    fflush(f);
    int64_t size = -1;
    EXPECT_EQ(PLStreamSize(f, &size), 0);
    EXPECT_EQ(size, 5);
    fclose(f);
    EXPECT_EQ(PLFileSize(a.c_str(), &size), 0);
    EXPECT_EQ(size, 5);

    tvtest::WriteFile(b, "x");
    EXPECT_NE(PLRenameFile(a.c_str(), b.c_str()), 0); /* the target exists: refused */
    EXPECT_EQ(tvtest::ReadFile(b), "x");
    ASSERT_EQ(PLDeleteFile(b.c_str()), 0);
    EXPECT_EQ(PLRenameFile(a.c_str(), b.c_str()), 0);
    EXPECT_EQ(tvtest::ReadFile(b), "12345");
    EXPECT_FALSE(tvtest::FileExists(a));

    int gone = PLDeleteFile(a.c_str());
    EXPECT_TRUE(PLErrorIsNotFound(gone));
    EXPECT_TRUE(PLErrorIsNotFound(PLRenameFile(a.c_str(), dir.file("c").c_str())));
    EXPECT_NE(PLFileSize(a.c_str(), &size), 0);
    EXPECT_EQ(PLOpenFile(dir.file("no/such/dir.txt").c_str(), "r", &err), nullptr);
    EXPECT_TRUE(PLErrorIsNotFound(err));
    char text[200];
    EXPECT_GT(strlen(PLErrorText(err, text, sizeof text)), 0u);
    EXPECT_FALSE(PLErrorIsNotFound(0));
}

TEST(Program, ExecutablePathAndEnvironment) {
    char path[4096];
    ASSERT_EQ(PLGetExecutablePath(path, sizeof path), 0);
    std::string p(path);
    EXPECT_NE(p.find("platform_test"), std::string::npos);
    EXPECT_TRUE(std::filesystem::path(p).is_absolute()) << p;
    EXPECT_TRUE(tvtest::FileExists(p)) << p;
    char tiny[4];
    EXPECT_NE(PLGetExecutablePath(tiny, sizeof tiny), 0);
    EXPECT_EQ(tiny[0], '\0');
    EXPECT_NE(PLGetEnv("PATH"), nullptr);
    EXPECT_EQ(PLGetEnv("TORVIK_SURELY_NOT_SET_ANYWHERE"), nullptr);
}

TEST(Libraries, LoadsALibraryFindsASymbolAndExplainsAFailure) {
    PLLIBRARY lib = nullptr;
    char text[300];
    const bool posix = HasPosixShell();
    ASSERT_EQ(PLLoadLibrary(posix ? "libm.so.6" : "kernel32.dll", &lib, text, sizeof text), 0);
    EXPECT_NE(PLGetSymbol(lib, posix ? "cos" : "GetTickCount64"), nullptr);
    EXPECT_EQ(PLGetSymbol(lib, "no_such_symbol_here"), nullptr);
    PLCloseLibrary(lib);

    lib = nullptr;
    int err = PLLoadLibrary("/nonexistent/libnothing.so", &lib, text, sizeof text);
    EXPECT_NE(err, 0);
    EXPECT_EQ(lib, nullptr);
    if (posix) { /* Windows' text for a missing module does not name it */
        EXPECT_NE(std::string(text).find("libnothing"), std::string::npos);
    }
    EXPECT_GT(strlen(text), 0u);
}
