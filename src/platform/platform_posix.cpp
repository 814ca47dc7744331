/* platform_posix.cpp -- the operating-system layer for Linux and other
 * POSIX systems (pthreads, dlopen, fork/exec with pipes, termios).
 *
 * Owns: the saved terminal settings of the console key reader.
 * Threads: every procedure may be called from any thread.
 */
#include "platform/platform.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>

extern char **environ;

const char PL_PATH_SEPARATOR = '/';
const char PL_TRAP_FILE[] = "/tmp/cstrap.txt";
const char PL_MQ_SERVER_LIBRARY[] = "libmqm_r.so";
const char PL_MQ_CLIENT_LIBRARY[] = "libmqic_r.so";
const char PL_MQ_INSTALL_LIBDIR[] = "lib64";
const char PL_EXE_SUFFIX[] = "";

static void CopyText(char *dst, size_t size, const char *src);
static void DeadlineAfter(uint32_t timeoutMs, struct timespec *ts);
static int TimedLockMutex(pthread_mutex_t *mutex, uint32_t timeoutMs);

/* ---- Threads ------------------------------------------------------------ */

struct PLTHREAD_S {
    pthread_t id;
};

struct THREADSTART {
    PLTHREADFN fn;
    void *arg;
};

static void *ThreadTrampoline(void *p) {
    THREADSTART start = *static_cast<THREADSTART *>(p);
    free(p);
    start.fn(start.arg);
    return nullptr;
}

int PLCreateThread(PLTHREADFN fn, void *arg, PLTHREAD *thread) {
    THREADSTART *start = static_cast<THREADSTART *>(malloc(sizeof(THREADSTART)));
    if (start == nullptr)
        return ENOMEM;
    start->fn = fn;
    start->arg = arg;
    PLTHREAD handle = nullptr;
    if (thread != nullptr) {
        handle = static_cast<PLTHREAD>(malloc(sizeof(PLTHREAD_S)));
        if (handle == nullptr) {
            free(start);
            return ENOMEM;
        }
    }
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    if (thread == nullptr)
        pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t id;
    int rc = pthread_create(&id, &attr, ThreadTrampoline, start);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        free(start);
        free(handle);
        return rc;
    }
    if (thread != nullptr) {
        handle->id = id;
        *thread = handle;
    }
    return 0;
}

int PLJoinThread(PLTHREAD thread) {
    if (thread == nullptr)
        return EINVAL;
    int rc = pthread_join(thread->id, nullptr);
    free(thread);
    return rc;
}

uint32_t PLCurrentThreadId(void) {
#if defined(SYS_gettid)
    static thread_local uint32_t tid = static_cast<uint32_t>(syscall(SYS_gettid));
    return tid;
#else
    /* A per-thread number handed out on first use, starting at 1. */
    static std::atomic<uint32_t> next{1};
    static thread_local uint32_t tid = next.fetch_add(1);
    return tid;
#endif
}

/* ---- Mutex -------------------------------------------------------------- */

struct PLMUTEX_S {
    pthread_mutex_t mutex;
};

PLMUTEX PLCreateMutex(void) {
    PLMUTEX m = static_cast<PLMUTEX>(malloc(sizeof(PLMUTEX_S)));
    if (m == nullptr)
        return nullptr;
    if (pthread_mutex_init(&m->mutex, nullptr) != 0) {
        free(m);
        return nullptr;
    }
    return m;
}

int PLLockMutex(PLMUTEX mutex, uint32_t timeoutMs) {
    if (mutex == nullptr)
        return PL_WAIT_FAILED;
    int rc;
    if (timeoutMs == PL_INFINITE) {
        rc = pthread_mutex_lock(&mutex->mutex);
    } else if (timeoutMs == 0) {
        rc = pthread_mutex_trylock(&mutex->mutex);
        if (rc == EBUSY)
            return PL_WAIT_TIMEOUT;
    } else {
        rc = TimedLockMutex(&mutex->mutex, timeoutMs);
    }
    if (rc == 0)
        return PL_WAIT_OK;
    if (rc == ETIMEDOUT)
        return PL_WAIT_TIMEOUT;
    return PL_WAIT_FAILED;
}

/* pthread_mutex_timedlock for up to timeoutMs (not 0, not PL_INFINITE).
 * Its deadline is on the wall clock, the one clock every thread tool
 * (ThreadSanitizer and the other sanitizer runtimes) understands for timed
 * locks; the time-out itself is measured on the monotonic clock, so a wall
 * clock set forward during the wait does not end it early. (Set back, it
 * lengthens the wait by the step.) Returns 0, ETIMEDOUT or an error code. */
static int TimedLockMutex(pthread_mutex_t *mutex, uint32_t timeoutMs) {
    struct timespec end;
    DeadlineAfter(timeoutMs, &end);
    for (;;) {
        struct timespec now, wall;
        clock_gettime(CLOCK_MONOTONIC, &now);
        int64_t leftNs = (static_cast<int64_t>(end.tv_sec) - now.tv_sec) * 1000000000LL +
                         (end.tv_nsec - now.tv_nsec);
        if (leftNs <= 0)
            return ETIMEDOUT;
        clock_gettime(CLOCK_REALTIME, &wall);
        int64_t ns = wall.tv_nsec + leftNs;
        wall.tv_sec += static_cast<time_t>(ns / 1000000000LL);
        wall.tv_nsec = static_cast<long>(ns % 1000000000LL);
        int rc = pthread_mutex_timedlock(mutex, &wall);
        if (rc != ETIMEDOUT)
            return rc;
    }
}

void PLUnlockMutex(PLMUTEX mutex) {
    if (mutex != nullptr)
        pthread_mutex_unlock(&mutex->mutex);
}

void PLDestroyMutex(PLMUTEX mutex) {
    if (mutex == nullptr)
        return;
    pthread_mutex_destroy(&mutex->mutex);
    free(mutex);
}

/* ---- Event -------------------------------------------------------------- */

struct PLEVENT_S {
    pthread_mutex_t mutex;
    pthread_cond_t cond; /* waits on CLOCK_MONOTONIC */
    int signalled;       /* under mutex */
};

PLEVENT PLCreateEvent(void) {
    PLEVENT e = static_cast<PLEVENT>(malloc(sizeof(PLEVENT_S)));
    if (e == nullptr)
        return nullptr;
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    if (pthread_mutex_init(&e->mutex, nullptr) != 0) {
        pthread_condattr_destroy(&attr);
        free(e);
        return nullptr;
    }
    if (pthread_cond_init(&e->cond, &attr) != 0) {
        pthread_condattr_destroy(&attr);
        pthread_mutex_destroy(&e->mutex);
        free(e);
        return nullptr;
    }
    pthread_condattr_destroy(&attr);
    e->signalled = 0;
    return e;
}

int PLWaitEvent(PLEVENT event, uint32_t timeoutMs) {
    if (event == nullptr)
        return PL_WAIT_FAILED;
    struct timespec deadline;
    if (timeoutMs != PL_INFINITE)
        DeadlineAfter(timeoutMs, &deadline);
    int result = PL_WAIT_OK;
    pthread_mutex_lock(&event->mutex);
    while (!event->signalled) {
        int rc = (timeoutMs == PL_INFINITE)
                     ? pthread_cond_wait(&event->cond, &event->mutex)
                     : pthread_cond_timedwait(&event->cond, &event->mutex, &deadline);
        if (rc == ETIMEDOUT) {
            result = PL_WAIT_TIMEOUT;
            break;
        }
        if (rc != 0) {
            result = PL_WAIT_FAILED;
            break;
        }
    }
    if (result == PL_WAIT_OK)
        event->signalled = 0; /* automatic reset: this waiter consumed the signal */
    pthread_mutex_unlock(&event->mutex);
    return result;
}

void PLSignalEvent(PLEVENT event) {
    if (event == nullptr)
        return;
    pthread_mutex_lock(&event->mutex);
    event->signalled = 1;
    pthread_cond_signal(&event->cond);
    pthread_mutex_unlock(&event->mutex);
}

void PLDestroyEvent(PLEVENT event) {
    if (event == nullptr)
        return;
    pthread_cond_destroy(&event->cond);
    pthread_mutex_destroy(&event->mutex);
    free(event);
}

/* ---- Time --------------------------------------------------------------- */

void PLSleep(uint32_t ms) {
    struct timespec ts;
    ts.tv_sec = ms / 1000;
    ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

int64_t PLWallClockSeconds(void) {
    return static_cast<int64_t>(time(nullptr));
}

int PLLocalTime(int64_t t, struct tm *out) {
    time_t tt = static_cast<time_t>(t);
    return localtime_r(&tt, out) != nullptr ? 0 : 1;
}

uint64_t PLMonotonicMs(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

/* Absolute CLOCK_MONOTONIC time timeoutMs from now. */
static void DeadlineAfter(uint32_t timeoutMs, struct timespec *ts) {
    clock_gettime(CLOCK_MONOTONIC, ts);
    uint64_t ns = static_cast<uint64_t>(ts->tv_nsec) + (timeoutMs % 1000) * 1000000ull;
    ts->tv_sec += timeoutMs / 1000 + static_cast<time_t>(ns / 1000000000ull);
    ts->tv_nsec = static_cast<long>(ns % 1000000000ull);
}

/* ---- The running program ------------------------------------------------ */

int PLGetExecutablePath(char *buf, size_t size) {
    if (buf == nullptr || size == 0)
        return EINVAL;
    buf[0] = '\0';
    ssize_t n = readlink("/proc/self/exe", buf, size);
    if (n < 0) {
        int err = errno;
        buf[0] = '\0';
        return err;
    }
    if (static_cast<size_t>(n) >= size) {
        buf[0] = '\0';
        return ENAMETOOLONG;
    }
    buf[n] = '\0';
    return 0;
}

const char *PLGetEnv(const char *name) {
    return getenv(name);
}

void PLBreakpoint(void) {
    raise(SIGTRAP);
}

/* ---- Dynamic libraries -------------------------------------------------- */

int PLLoadLibrary(const char *path, PLLIBRARY *lib, char *errText, size_t errSize) {
    if (errText != nullptr && errSize > 0)
        errText[0] = '\0';
    errno = 0;
    void *handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        int err = errno != 0 ? errno : ENOENT;
        const char *text = dlerror();
        if (errText != nullptr && errSize > 0)
            CopyText(errText, errSize, text != nullptr ? text : "cannot load library");
        return err;
    }
    *lib = static_cast<PLLIBRARY>(handle);
    return 0;
}

void *PLGetSymbol(PLLIBRARY lib, const char *name) {
    if (lib == nullptr || name == nullptr)
        return nullptr;
    return dlsym(static_cast<void *>(lib), name);
}

void PLCloseLibrary(PLLIBRARY lib) {
    if (lib != nullptr)
        dlclose(static_cast<void *>(lib));
}

/* ---- Child processes ---------------------------------------------------- */

/* Close a descriptor; 0 or errno. EINTR counts as closed (Linux). */
static int CloseFd(int fd) {
    if (fd < 0)
        return 0;
    if (close(fd) != 0 && errno != EINTR)
        return errno;
    return 0;
}

int PLRunProcess(const char *const *argv, const char *workDir, char *out, size_t outSize,
                 uint32_t timeoutMs, PLPROCRESULT *result) {
    PLPROCRESULT r = {};
    r.exitCode = -1;
    if (argv == nullptr || argv[0] == nullptr || argv[0][0] == '\0') {
        r.systemError = EINVAL;
        if (result != nullptr)
            *result = r;
        return PL_PROC_ARGS_FAILED;
    }

    int outPipe[2] = {-1, -1};
    int inPipe[2] = {-1, -1};
    int execPipe[2] = {-1, -1}; /* carries exec's errno from the child; closed on exec */
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(inPipe, O_CLOEXEC) != 0 ||
        pipe2(execPipe, O_CLOEXEC) != 0) {
        r.systemError = errno;
        CloseFd(outPipe[0]);
        CloseFd(outPipe[1]);
        CloseFd(inPipe[0]);
        CloseFd(inPipe[1]);
        CloseFd(execPipe[0]);
        CloseFd(execPipe[1]);
        if (result != nullptr)
            *result = r;
        return PL_PROC_PIPE_FAILED;
    }

    pid_t pid = fork();
    if (pid == 0) {
        /* Child: only async-signal-safe calls from here to exec. */
        dup2(inPipe[0], 0);
        dup2(outPipe[1], 1);
        dup2(outPipe[1], 2);
        if (workDir != nullptr && chdir(workDir) != 0) {
            int err = errno;
            ssize_t w = write(execPipe[1], &err, sizeof err);
            (void)w;
            _exit(127);
        }
        execvp(argv[0], const_cast<char *const *>(argv));
        int err = errno;
        ssize_t w = write(execPipe[1], &err, sizeof err);
        (void)w;
        _exit(127);
    }
    int forkErr = errno;
    CloseFd(inPipe[0]);
    CloseFd(inPipe[1]); /* the child's standard input: end of file at once */
    CloseFd(outPipe[1]);
    CloseFd(execPipe[1]);
    if (pid < 0) {
        CloseFd(outPipe[0]);
        CloseFd(execPipe[0]);
        r.systemError = forkErr;
        if (result != nullptr)
            *result = r;
        return PL_PROC_CREATE_FAILED;
    }

    /* Did exec work? The pipe closes on a successful exec with nothing in it. */
    int execErr = 0;
    ssize_t got;
    do {
        got = read(execPipe[0], &execErr, sizeof execErr);
    } while (got < 0 && errno == EINTR);
    CloseFd(execPipe[0]);
    if (got == static_cast<ssize_t>(sizeof execErr)) {
        CloseFd(outPipe[0]);
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        r.systemError = execErr;
        if (result != nullptr)
            *result = r;
        return PL_PROC_CREATE_FAILED;
    }

    /* Read while the child runs, so that it never blocks on a full pipe. */
    int rc = 0;
    uint64_t start = PLMonotonicMs();
    char scratch[4096];
    for (;;) {
        int waitMs = -1;
        if (timeoutMs != PL_INFINITE) {
            uint64_t elapsed = PLMonotonicMs() - start;
            if (elapsed >= timeoutMs) {
                kill(pid, SIGKILL);
                r.timedOut = 1;
                break;
            }
            waitMs = static_cast<int>(timeoutMs - elapsed);
        }
        struct pollfd pfd = {outPipe[0], POLLIN, 0};
        int pr = poll(&pfd, 1, waitMs);
        if (pr < 0) {
            if (errno == EINTR)
                continue;
            r.systemError = errno;
            rc = PL_PROC_READ_FAILED;
            kill(pid, SIGKILL);
            break;
        }
        if (pr == 0)
            continue; /* the time-out is tested at the top */
        char *dst;
        size_t room;
        if (r.outLen < outSize) {
            dst = out + r.outLen;
            room = outSize - r.outLen;
        } else {
            dst = scratch;
            room = sizeof scratch;
        }
        ssize_t n = read(outPipe[0], dst, room);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            r.systemError = errno;
            rc = PL_PROC_READ_FAILED;
            kill(pid, SIGKILL);
            break;
        }
        if (n == 0)
            break; /* every writer has closed: the child ended (or closed its output) */
        if (dst == scratch)
            r.overflow = 1;
        else
            r.outLen += static_cast<size_t>(n);
    }
    CloseFd(outPipe[0]);

    int status = 0;
    pid_t w;
    do {
        w = waitpid(pid, &status, 0);
    } while (w < 0 && errno == EINTR);
    if (w < 0) {
        if (rc == 0) {
            r.systemError = errno;
            rc = PL_PROC_WAIT_FAILED;
        }
    } else if (WIFEXITED(status)) {
        r.exitCode = WEXITSTATUS(status);
    } else {
        r.exitCode = -1;
    }
    if (result != nullptr)
        *result = r;
    return rc;
}

/* No batch files here: a program found on PATH runs directly. */
int PLRunProgram(const char *const *argv, const char *workDir, char *out, size_t outSize,
                 uint32_t timeoutMs, PLPROCRESULT *result) {
    return PLRunProcess(argv, workDir, out, outSize, timeoutMs, result);
}

/* ---- Console ------------------------------------------------------------ */

static std::mutex ConsoleMutex;
static int ConsoleRaw = 0; /* 1 while stdin is switched to single keys; under ConsoleMutex */
static struct termios ConsoleSaved;

static void RestoreConsoleAtExit(void) {
    PLRestoreConsole();
}

/* Switch a terminal stdin to non-canonical input without echo, once.
 * Returns 1 when stdin is a terminal in that mode and this process is in
 * the terminal's foreground process group: a background process that
 * changed or read the terminal would be stopped by the kernel. */
static int ConsoleKeysReady(void) {
    std::lock_guard<std::mutex> guard(ConsoleMutex);
    if (!isatty(0) || tcgetpgrp(0) != getpgrp())
        return 0;
    if (ConsoleRaw)
        return 1;
    struct termios t;
    if (tcgetattr(0, &t) != 0)
        return 0;
    ConsoleSaved = t;
    t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(0, TCSANOW, &t) != 0)
        return 0;
    static int registered = 0;
    if (!registered) {
        registered = 1;
        atexit(RestoreConsoleAtExit);
    }
    ConsoleRaw = 1;
    return 1;
}

int PLStdoutIsTerminal(void) {
    return isatty(1) ? 1 : 0;
}

int PLKeyWaiting(void) {
    if (!ConsoleKeysReady())
        return 0;
    struct pollfd pfd = {0, POLLIN, 0};
    return poll(&pfd, 1, 0) > 0 && (pfd.revents & POLLIN) ? 1 : 0;
}

int PLReadKey(void) {
    if (!ConsoleKeysReady())
        return -1;
    unsigned char c;
    ssize_t n;
    do {
        n = read(0, &c, 1);
    } while (n < 0 && errno == EINTR);
    return n == 1 ? c : -1;
}

void PLRestoreConsole(void) {
    std::lock_guard<std::mutex> guard(ConsoleMutex);
    if (ConsoleRaw) {
        tcsetattr(0, TCSANOW, &ConsoleSaved);
        ConsoleRaw = 0;
    }
}

/* ---- Stop requests ------------------------------------------------------ */

static std::atomic<void (*)(void)> StopCallback{nullptr};

static void OnStopSignal(int) {
    int saved = errno;
    void (*stop)(void) = StopCallback.load();
    if (stop != nullptr)
        stop();
    errno = saved;
}

int PLHandleStopRequests(void (*stop)(void)) {
    StopCallback.store(stop);
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    if (sigaction(SIGTERM, &sa, nullptr) != 0)
        return errno;
    struct sigaction old;
    if (sigaction(SIGINT, nullptr, &old) == 0 && old.sa_handler != SIG_IGN &&
        sigaction(SIGINT, &sa, nullptr) != 0)
        return errno;
    struct sigaction ignore;
    memset(&ignore, 0, sizeof ignore);
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    if (sigaction(SIGTTOU, &ignore, nullptr) != 0)
        return errno;
    return 0;
}

/* ---- Files -------------------------------------------------------------- */

FILE *PLOpenFile(const char *path, const char *mode, int *err) {
    errno = 0;
    FILE *f = fopen(path, mode);
    if (f == nullptr && err != nullptr)
        *err = errno != 0 ? errno : EIO;
    return f;
}

int PLCreateDirectories(const char *path) {
    std::string buf(path);
    int lastError = 0;
    for (size_t i = 1; i <= buf.size(); i++) {
        if (i < buf.size() && buf[i] != '/')
            continue;
        if (buf[i - 1] == '/')
            continue; /* a doubled separator */
        /* A parent may exist without our leave to create it: only the
         * result counts. */
        std::string part = buf.substr(0, i);
        if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
            lastError = errno;
    }
    struct stat st;
    if (buf.empty() || (stat(buf.c_str(), &st) == 0 && S_ISDIR(st.st_mode)))
        return 0;
    return lastError != 0 ? lastError : ENOTDIR;
}

int PLDeleteFile(const char *path) {
    return unlink(path) == 0 ? 0 : errno;
}

int PLRenameFile(const char *from, const char *to) {
    /* rename() would replace an existing target; refuse as Windows does. */
    struct stat st;
    if (lstat(to, &st) == 0)
        return EEXIST;
    return rename(from, to) == 0 ? 0 : errno;
}

int PLFileSize(const char *path, int64_t *size) {
    struct stat st;
    if (stat(path, &st) != 0)
        return errno;
    *size = static_cast<int64_t>(st.st_size);
    return 0;
}

int PLStreamSize(FILE *stream, int64_t *size) {
    if (stream == nullptr)
        return EBADF;
    int fd = fileno(stream);
    if (fd < 0)
        return errno != 0 ? errno : EBADF;
    struct stat st;
    if (fstat(fd, &st) != 0)
        return errno;
    *size = static_cast<int64_t>(st.st_size);
    return 0;
}

int PLErrorIsNotFound(int err) {
    return err == ENOENT || err == ENOTDIR;
}

/* ---- Errors ------------------------------------------------------------- */

int PLLastError(void) {
    return errno;
}

const char *PLErrorText(int err, char *buf, size_t size) {
    if (buf == nullptr || size == 0)
        return "";
    char tmp[256];
    tmp[0] = '\0';
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
    const char *text = strerror_r(err, tmp, sizeof tmp); /* GNU form */
#else
    const char *text = strerror_r(err, tmp, sizeof tmp) == 0 ? tmp : "Unknown error";
#endif
    CopyText(buf, size, text != nullptr ? text : "Unknown error");
    return buf;
}

const char *PLCErrorText(int errnum, char *buf, size_t size) {
    return PLErrorText(errnum, buf, size);
}

/* Copy src into dst (size bytes), cut and always terminated. */
static void CopyText(char *dst, size_t size, const char *src) {
    size_t n = strlen(src);
    if (n >= size)
        n = size - 1;
    memcpy(dst, src, n);
    dst[n] = '\0';
}
