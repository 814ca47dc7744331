/* platform.h -- the one operating-system layer of TORVIK.
 *
 * Every kernel service the agent, its tools and its tests use is reached
 * through the PL procedures below: threads, mutexes, events, sleeping and
 * clocks, the executable's path, dynamic libraries, child processes, the
 * console, files and the last system error. platform_posix.cpp implements
 * them for Linux and other POSIX systems, platform_win32.cpp for Windows;
 * nothing outside src/platform/ includes a system header or tests which
 * system it is built for.
 *
 * Conventions: a procedure that can fail returns 0 on success and the
 * operating system's own error code otherwise (errno on POSIX, GetLastError
 * on Windows), unless its comment says otherwise. Every procedure may be
 * called from any thread.
 */
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>

/* printf-style format checking for procedures that take a format. */
#if defined(__MINGW32__)
#define PL_PRINTF_FORMAT(fmtArg, firstArg) __attribute__((format(gnu_printf, fmtArg, firstArg)))
#elif defined(__GNUC__)
#define PL_PRINTF_FORMAT(fmtArg, firstArg) __attribute__((format(printf, fmtArg, firstArg)))
#else
#define PL_PRINTF_FORMAT(fmtArg, firstArg)
#endif

/* ---- Waiting ------------------------------------------------------------ */

constexpr uint32_t PL_INFINITE = 0xFFFFFFFFu; /* wait without a time limit */
constexpr int PL_WAIT_OK = 0;                 /* the object was acquired or signalled */
constexpr int PL_WAIT_TIMEOUT = 258;          /* the time-out passed first */
constexpr int PL_WAIT_FAILED = -1;            /* the wait itself failed (bad handle) */

/* ---- Threads ------------------------------------------------------------ */

typedef void (*PLTHREADFN)(void *arg);
typedef struct PLTHREAD_S *PLTHREAD; /* a joinable thread */

/* Start fn(arg) on a new thread with the default stack size. With thread
 * null the thread is detached (it cleans up after itself when fn returns);
 * otherwise *thread receives a handle that PLJoinThread must be given once.
 * Returns 0, or the system error code (nothing started, *thread untouched). */
int PLCreateThread(PLTHREADFN fn, void *arg, PLTHREAD *thread);

/* Wait for a joinable thread to end and release its handle. Returns 0 or
 * the system error code. */
int PLJoinThread(PLTHREAD thread);

/* The calling thread's system identifier as a 32-bit value, never 0 (0 is
 * the "no owner" value of the locks built on it). */
uint32_t PLCurrentThreadId(void);

/* ---- Mutex (not recursive; released only by the thread that holds it) --- */

typedef struct PLMUTEX_S *PLMUTEX;

/* An unnamed mutex, not held. Returns null when the system cannot make one. */
PLMUTEX PLCreateMutex(void);
/* Wait up to timeoutMs (PL_INFINITE: no limit) for the mutex. Returns
 * PL_WAIT_OK (0) when the caller holds it, PL_WAIT_TIMEOUT (258), or
 * PL_WAIT_FAILED. */
int PLLockMutex(PLMUTEX mutex, uint32_t timeoutMs);
/* Release a mutex held by the calling thread. */
void PLUnlockMutex(PLMUTEX mutex);
/* Destroy a mutex that no thread holds or waits for. Null is accepted. */
void PLDestroyMutex(PLMUTEX mutex);

/* ---- Event with automatic reset ----------------------------------------- */

typedef struct PLEVENT_S *PLEVENT;

/* An unnamed auto-reset event, not signalled. Null when none can be made. */
PLEVENT PLCreateEvent(void);
/* Wait up to timeoutMs (PL_INFINITE: no limit) for the event; a successful
 * wait resets it, so one signal releases one waiter. Returns PL_WAIT_OK,
 * PL_WAIT_TIMEOUT or PL_WAIT_FAILED. */
int PLWaitEvent(PLEVENT event, uint32_t timeoutMs);
/* Signal the event: one waiter (or the next one to wait) is released. */
void PLSignalEvent(PLEVENT event);
/* Destroy an event nobody waits for. Null is accepted. */
void PLDestroyEvent(PLEVENT event);

/* ---- Time --------------------------------------------------------------- */

void PLSleep(uint32_t ms);
/* Seconds since 1970-01-01 00:00 UTC. */
int64_t PLWallClockSeconds(void);
/* Local time of t into *out. Returns 0, or 1 when it cannot be had. */
int PLLocalTime(int64_t t, struct tm *out);
/* Milliseconds from an arbitrary start; never goes backwards. */
uint64_t PLMonotonicMs(void);

/* ---- The running program ------------------------------------------------ */

/* Full file name of the running executable into buf (size bytes, always
 * terminated). Returns 0, or the system error code when the name cannot be
 * had or does not fit (buf is then empty). */
int PLGetExecutablePath(char *buf, size_t size);

/* Value of an environment variable, or null when it is not set. The text
 * belongs to the environment: copy it before the environment changes. */
const char *PLGetEnv(const char *name);

/* The separator of directories in file names: '\\' on Windows, '/' on POSIX. */
extern const char PL_PATH_SEPARATOR;
/* File of the internal trap: "c:\\temp\\cstrap.txt" on Windows,
 * "/tmp/cstrap.txt" on POSIX. */
extern const char PL_TRAP_FILE[];
/* File names and installation subdirectory of the IBM MQ libraries:
 * "mqm.dll", "mqic.dll", "bin64" on Windows; "libmqm_r.so", "libmqic_r.so",
 * "lib64" on POSIX. */
extern const char PL_MQ_SERVER_LIBRARY[];
extern const char PL_MQ_CLIENT_LIBRARY[];
extern const char PL_MQ_INSTALL_LIBDIR[];
/* Suffix of executable files: ".exe" on Windows, "" on POSIX. */
extern const char PL_EXE_SUFFIX[];

/* Stop in the debugger; without one attached this ends the process. */
void PLBreakpoint(void);

/* ---- Dynamic libraries -------------------------------------------------- */

typedef struct PLLIBRARY_S *PLLIBRARY;

/* Load the library at path (a bare name uses the system's search order).
 * Returns 0 with *lib set, or a non-zero system error code with errText
 * (errSize bytes, always terminated; may be null) holding the system's
 * description of the failure. */
int PLLoadLibrary(const char *path, PLLIBRARY *lib, char *errText, size_t errSize);
/* Address of an exported symbol, or null when the library has none. */
void *PLGetSymbol(PLLIBRARY lib, const char *name);
/* Unload a library loaded by PLLoadLibrary. Null is accepted. */
void PLCloseLibrary(PLLIBRARY lib);

/* ---- Child processes ---------------------------------------------------- */

/* Results of PLRunProcess other than 0. They match the failure codes the
 * certificate tool runner reports. */
constexpr int PL_PROC_PIPE_FAILED = -1;   /* a pipe could not be made */
constexpr int PL_PROC_CLOSE_FAILED = -2;  /* a handle could not be closed */
constexpr int PL_PROC_CREATE_FAILED = -3; /* the program could not be started */
constexpr int PL_PROC_READ_FAILED = -4;   /* reading its output failed */
constexpr int PL_PROC_WAIT_FAILED = -6;   /* waiting for it failed */
constexpr int PL_PROC_ARGS_FAILED = -9;   /* the command line could not be built */

struct PLPROCRESULT {
    int exitCode;    /* the child's exit code; -1 when it ended by a signal */
    size_t outLen;   /* bytes of output stored in the caller's buffer */
    int overflow;    /* 1: the output did not fit; the rest was read and dropped */
    int timedOut;    /* 1: the child outlived the time-out and was killed */
    int systemError; /* system error code behind a failure result, else 0 */
};

/* Run argv[0] with the arguments argv[1..] (argv ends with a null entry)
 * directly, never through a shell: each element reaches the child as one
 * argument, whatever characters it holds. argv[0] without a directory is
 * looked up on PATH. workDir null keeps the current directory.
 * The child's standard output and standard error go to one pipe that is
 * read while the child runs; at most outSize bytes are kept in out (not
 * terminated), the rest is read and dropped and result->overflow set. Its
 * standard input is empty (end of file at once), so it never competes for
 * console keys. A child still running after timeoutMs (PL_INFINITE: no
 * limit) is killed. Returns 0 when the child ran and ended (result filled),
 * or one of PL_PROC_* (result->systemError tells why). */
int PLRunProcess(const char *const *argv, const char *workDir, char *out, size_t outSize,
                 uint32_t timeoutMs, PLPROCRESULT *result);

/* PLRunProcess for a program found by its bare name, which on Windows may
 * be installed as a batch file. POSIX: PLRunProcess. Windows: when argv[0]
 * holds no directory or extension and no "<argv[0]>.exe" is on the search
 * path but a ".cmd" or ".bat" file is, that batch file runs through the
 * command interpreter ("cmd /d /s /c"); an argument holding one of the
 * interpreter's characters &|<>^%!"() or a line end is then refused with
 * PL_PROC_ARGS_FAILED before anything runs, since cmd would act on it. */
int PLRunProgram(const char *const *argv, const char *workDir, char *out, size_t outSize,
                 uint32_t timeoutMs, PLPROCRESULT *result);

/* ---- Console ------------------------------------------------------------ */

/* 1 when standard output is a terminal (console), else 0. */
int PLStdoutIsTerminal(void);
/* 1 when a key press is waiting at the console. POSIX: only when standard
 * input is a terminal, which is then switched to reading single keys
 * without echo (restored at exit or by PLRestoreConsole); otherwise 0. */
int PLKeyWaiting(void);
/* Read one key without echo and return its code (0..255), or -1 when there
 * is no console key to read. Waits for a key if none is waiting. */
int PLReadKey(void);
/* Put the console back as it was before PLKeyWaiting or PLReadKey. */
void PLRestoreConsole(void);

/* ---- Files -------------------------------------------------------------- */

/* Open a file with an fopen mode. Files are binary on every system (no
 * line-end translation on Windows unless the mode holds "t"), so a line ends
 * with a line feed and a size counts the bytes written. Returns the stream,
 * or null with *err (may be null) set to the system error code. */
FILE *PLOpenFile(const char *path, const char *mode, int *err);
/* Delete a file. Returns 0 or the system error code. */
int PLDeleteFile(const char *path);
/* Rename a file; the target must not exist. Returns 0 or the error code. */
int PLRenameFile(const char *from, const char *to);
/* Size in bytes of a file by name, or of an open stream. Return 0 or the
 * system error code (*size untouched). */
int PLFileSize(const char *path, int64_t *size);
int PLStreamSize(FILE *stream, int64_t *size);
/* 1 when a system error code means that the file (or its directory) does
 * not exist, else 0. */
int PLErrorIsNotFound(int err);

/* ---- Errors ------------------------------------------------------------- */

/* The calling thread's last system error code (errno / GetLastError). */
int PLLastError(void);
/* The system's text for a system error code into buf (size bytes, always
 * terminated, trailing line ends removed). Returns buf. */
const char *PLErrorText(int err, char *buf, size_t size);
/* The C library's text for an errno value (as set by fopen) into buf.
 * Returns buf. */
const char *PLCErrorText(int errnum, char *buf, size_t size);
