/* platform_win32.cpp -- the operating-system layer for Windows (kernel
 * objects, LoadLibraryExA, CreateProcessW with pipes, the C runtime's
 * console functions).
 *
 * Owns: nothing beyond the handles it hands out.
 * Threads: every procedure may be called from any thread.
 */
#include "platform/platform.h"

#include <windows.h>
#include <conio.h>
#include <errno.h>
#include <io.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

#include <mutex>
#include <string>

const char PL_PATH_SEPARATOR = '\\';
const char PL_TRAP_FILE[] = "c:\\temp\\cstrap.txt";
const char PL_MQ_SERVER_LIBRARY[] = "mqm.dll";
const char PL_MQ_CLIENT_LIBRARY[] = "mqic.dll";
const char PL_MQ_INSTALL_LIBDIR[] = "bin64";
const char PL_EXE_SUFFIX[] = ".exe";

static void CopyText(char *dst, size_t size, const char *src);

/* ---- Threads ------------------------------------------------------------ */

struct PLTHREAD_S {
    HANDLE handle;
};

struct THREADSTART {
    PLTHREADFN fn;
    void *arg;
};

static DWORD WINAPI ThreadTrampoline(LPVOID p) {
    THREADSTART start = *static_cast<THREADSTART *>(p);
    free(p);
    start.fn(start.arg);
    return 0;
}

int PLCreateThread(PLTHREADFN fn, void *arg, PLTHREAD *thread) {
    THREADSTART *start = static_cast<THREADSTART *>(malloc(sizeof(THREADSTART)));
    if (start == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    start->fn = fn;
    start->arg = arg;
    PLTHREAD handle = nullptr;
    if (thread != nullptr) {
        handle = static_cast<PLTHREAD>(malloc(sizeof(PLTHREAD_S)));
        if (handle == nullptr) {
            free(start);
            return ERROR_NOT_ENOUGH_MEMORY;
        }
    }
    HANDLE h = CreateThread(nullptr, 0, ThreadTrampoline, start, 0, nullptr);
    if (h == nullptr) {
        DWORD err = GetLastError();
        free(start);
        free(handle);
        return static_cast<int>(err);
    }
    if (thread == nullptr) {
        CloseHandle(h); /* detached: the thread object goes when the thread ends */
    } else {
        handle->handle = h;
        *thread = handle;
    }
    return 0;
}

int PLJoinThread(PLTHREAD thread) {
    if (thread == nullptr)
        return ERROR_INVALID_HANDLE;
    int rc = 0;
    if (WaitForSingleObject(thread->handle, INFINITE) != WAIT_OBJECT_0)
        rc = static_cast<int>(GetLastError());
    CloseHandle(thread->handle);
    free(thread);
    return rc;
}

uint32_t PLCurrentThreadId(void) {
    return static_cast<uint32_t>(GetCurrentThreadId());
}

/* ---- Mutex -------------------------------------------------------------- */

PLMUTEX PLCreateMutex(void) {
    HANDLE h = CreateMutexA(nullptr, FALSE, nullptr);
    return reinterpret_cast<PLMUTEX>(h);
}

int PLLockMutex(PLMUTEX mutex, uint32_t timeoutMs) {
    if (mutex == nullptr)
        return PL_WAIT_FAILED;
    DWORD rc = WaitForSingleObject(reinterpret_cast<HANDLE>(mutex),
                                   timeoutMs == PL_INFINITE ? INFINITE : timeoutMs);
    if (rc == WAIT_OBJECT_0 || rc == WAIT_ABANDONED)
        return PL_WAIT_OK; /* an abandoned mutex is owned by the caller now */
    if (rc == WAIT_TIMEOUT)
        return PL_WAIT_TIMEOUT;
    return PL_WAIT_FAILED;
}

void PLUnlockMutex(PLMUTEX mutex) {
    if (mutex != nullptr)
        ReleaseMutex(reinterpret_cast<HANDLE>(mutex));
}

void PLDestroyMutex(PLMUTEX mutex) {
    if (mutex != nullptr)
        CloseHandle(reinterpret_cast<HANDLE>(mutex));
}

/* ---- Event -------------------------------------------------------------- */

PLEVENT PLCreateEvent(void) {
    HANDLE h = CreateEventA(nullptr, FALSE, FALSE, nullptr); /* automatic reset */
    return reinterpret_cast<PLEVENT>(h);
}

int PLWaitEvent(PLEVENT event, uint32_t timeoutMs) {
    if (event == nullptr)
        return PL_WAIT_FAILED;
    DWORD rc = WaitForSingleObject(reinterpret_cast<HANDLE>(event),
                                   timeoutMs == PL_INFINITE ? INFINITE : timeoutMs);
    if (rc == WAIT_OBJECT_0)
        return PL_WAIT_OK;
    if (rc == WAIT_TIMEOUT)
        return PL_WAIT_TIMEOUT;
    return PL_WAIT_FAILED;
}

void PLSignalEvent(PLEVENT event) {
    if (event != nullptr)
        SetEvent(reinterpret_cast<HANDLE>(event));
}

void PLDestroyEvent(PLEVENT event) {
    if (event != nullptr)
        CloseHandle(reinterpret_cast<HANDLE>(event));
}

/* ---- Time --------------------------------------------------------------- */

void PLSleep(uint32_t ms) {
    Sleep(ms);
}

int64_t PLWallClockSeconds(void) {
    return static_cast<int64_t>(_time64(nullptr));
}

int PLLocalTime(int64_t t, struct tm *out) {
    __time64_t tt = static_cast<__time64_t>(t);
    return _localtime64_s(out, &tt) == 0 ? 0 : 1;
}

uint64_t PLMonotonicMs(void) {
    return static_cast<uint64_t>(GetTickCount64());
}

/* ---- The running program ------------------------------------------------ */

int PLGetExecutablePath(char *buf, size_t size) {
    if (buf == nullptr || size == 0)
        return ERROR_INVALID_PARAMETER;
    DWORD cap = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(size);
    DWORD n = GetModuleFileNameA(nullptr, buf, cap);
    if (n == 0) {
        buf[0] = '\0';
        return static_cast<int>(GetLastError());
    }
    if (n >= cap) {
        buf[0] = '\0';
        return ERROR_INSUFFICIENT_BUFFER; /* the name filled the buffer: cut */
    }
    buf[n] = '\0';
    return 0;
}

const char *PLGetEnv(const char *name) {
    return getenv(name);
}

void PLBreakpoint(void) {
    DebugBreak();
}

/* ---- Dynamic libraries -------------------------------------------------- */

int PLLoadLibrary(const char *path, PLLIBRARY *lib, char *errText, size_t errSize) {
    if (errText != nullptr && errSize > 0)
        errText[0] = '\0';
    HMODULE h = LoadLibraryExA(path, nullptr, 0);
    if (h == nullptr) {
        int err = static_cast<int>(GetLastError());
        if (errText != nullptr && errSize > 0)
            PLErrorText(err, errText, errSize);
        return err != 0 ? err : ERROR_MOD_NOT_FOUND;
    }
    *lib = reinterpret_cast<PLLIBRARY>(h);
    return 0;
}

void *PLGetSymbol(PLLIBRARY lib, const char *name) {
    if (lib == nullptr || name == nullptr)
        return nullptr;
    return reinterpret_cast<void *>(GetProcAddress(reinterpret_cast<HMODULE>(lib), name));
}

void PLCloseLibrary(PLLIBRARY lib) {
    if (lib != nullptr)
        FreeLibrary(reinterpret_cast<HMODULE>(lib));
}

/* ---- Child processes ---------------------------------------------------- */

/* Children inherit every inheritable handle of the parent. The pipe ends
 * meant for one child are made inheritable only under this lock, and closed
 * in the parent before it is released, so that a child started at the same
 * time on another thread never holds another run's output pipe open. */
static std::mutex SpawnMutex;

/* Append one argument at cmd[at] with the rule by which the C runtime splits
 * a command line into arguments: an argument that is empty or holds a blank,
 * tab, newline, vertical tab or double quote is enclosed in double quotes; a
 * run of backslashes is doubled when a double quote or the closing quote
 * follows it, and each double quote gets a backslash. The child then sees
 * exactly the given text. Stores only below size (cmd may be null with size
 * 0, to measure); returns the length of the line so far. */
static size_t QuoteArgument(const char *arg, char *cmd, size_t at, size_t size) {
    auto put = [&](char c) {
        if (at < size)
            cmd[at] = c;
        at++;
    };
    bool needQuotes = arg[0] == '\0' || strpbrk(arg, " \t\n\v\"") != nullptr;
    if (!needQuotes) {
        for (const char *p = arg; *p; p++)
            put(*p);
        return at;
    }
    put('"');
    for (const char *p = arg;; p++) {
        size_t backslashes = 0;
        while (*p == '\\') {
            backslashes++;
            p++;
        }
        if (*p == '\0') {
            for (size_t i = 0; i < backslashes * 2; i++)
                put('\\');
            break;
        }
        if (*p == '"') {
            for (size_t i = 0; i < backslashes * 2 + 1; i++)
                put('\\');
            put('"');
        } else {
            for (size_t i = 0; i < backslashes; i++)
                put('\\');
            put(*p);
        }
    }
    put('"');
    return at;
}

/* Write the arguments, separated by one blank, into cmd (size bytes; null
 * and 0 to measure). Returns the length, without the terminating zero. */
static size_t WriteCommandLine(const char *const *argv, char *cmd, size_t size) {
    size_t at = 0;
    for (int i = 0; argv[i] != nullptr; i++) {
        if (i > 0) {
            if (at < size)
                cmd[at] = ' ';
            at++;
        }
        at = QuoteArgument(argv[i], cmd, at, size);
    }
    return at;
}

/* UTF-8 text as a new UTF-16 string (free()), or null with the system error
 * code in *err. */
static wchar_t *ToWide(const char *text, DWORD *err) {
    int wlen = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    if (wlen <= 0) {
        *err = GetLastError();
        return nullptr;
    }
    wchar_t *w = static_cast<wchar_t *>(malloc(sizeof(wchar_t) * static_cast<size_t>(wlen)));
    if (w == nullptr) {
        *err = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, w, wlen) != wlen) {
        *err = GetLastError();
        free(w);
        return nullptr;
    }
    return w;
}

/* The whole command line of argv as a new UTF-16 string (free()), or null
 * with the system error code in *err. The measured and the written length
 * must agree, or nothing is run. */
static wchar_t *BuildCommandLine(const char *const *argv, DWORD *err) {
    size_t need = WriteCommandLine(argv, nullptr, 0);
    if (need >= 32767) { /* CreateProcessW's limit, terminator included */
        *err = ERROR_FILENAME_EXCED_RANGE;
        return nullptr;
    }
    char *cmd = static_cast<char *>(malloc(need + 1));
    if (cmd == nullptr) {
        *err = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    size_t wrote = WriteCommandLine(argv, cmd, need + 1);
    if (wrote != need) {
        free(cmd);
        *err = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    cmd[wrote] = '\0';
    wchar_t *wcmd = ToWide(cmd, err);
    free(cmd);
    return wcmd;
}

static void CloseIfOpen(HANDLE *h) {
    if (*h != nullptr) {
        CloseHandle(*h);
        *h = nullptr;
    }
}

static int RunCommandLine(wchar_t *cmd, DWORD convErr, const char *workDir, char *out,
                          size_t outSize, uint32_t timeoutMs, PLPROCRESULT *result);

int PLRunProcess(const char *const *argv, const char *workDir, char *out, size_t outSize,
                 uint32_t timeoutMs, PLPROCRESULT *result) {
    PLPROCRESULT r = {};
    r.exitCode = -1;
    if (argv == nullptr || argv[0] == nullptr || argv[0][0] == '\0') {
        r.systemError = ERROR_INVALID_PARAMETER;
        if (result != nullptr)
            *result = r;
        return PL_PROC_ARGS_FAILED;
    }
    DWORD convErr = 0;
    wchar_t *cmd = BuildCommandLine(argv, &convErr);
    return RunCommandLine(cmd, convErr, workDir, out, outSize, timeoutMs, result);
}

/* Run a whole command line as PLRunProcess runs argv. cmd comes from
 * malloc and is freed here; null means it could not be built (convErr
 * says why). */
static int RunCommandLine(wchar_t *cmd, DWORD convErr, const char *workDir, char *out,
                          size_t outSize, uint32_t timeoutMs, PLPROCRESULT *result) {
    PLPROCRESULT r = {};
    r.exitCode = -1;
    wchar_t *dir = nullptr;
    if (cmd != nullptr && workDir != nullptr)
        dir = ToWide(workDir, &convErr);
    if (cmd == nullptr || (workDir != nullptr && dir == nullptr)) {
        r.systemError = static_cast<int>(convErr);
        free(cmd);
        free(dir);
        if (result != nullptr)
            *result = r;
        return PL_PROC_ARGS_FAILED;
    }

    /* Both pipes are made without inheritance; the child's two ends become
     * inheritable under SpawnMutex only. */
    HANDLE inRead = nullptr, inWrite = nullptr, outRead = nullptr, outWrite = nullptr;
    if (!CreatePipe(&inRead, &inWrite, nullptr, 0) ||
        !CreatePipe(&outRead, &outWrite, nullptr, 65536)) {
        r.systemError = static_cast<int>(GetLastError());
        CloseIfOpen(&inRead);
        CloseIfOpen(&inWrite);
        CloseIfOpen(&outRead);
        CloseIfOpen(&outWrite);
        free(cmd);
        free(dir);
        if (result != nullptr)
            *result = r;
        return PL_PROC_PIPE_FAILED;
    }
    CloseIfOpen(&inWrite); /* the child's standard input: end of file at once */

    STARTUPINFOW si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = inRead;
    si.hStdOutput = outWrite;
    si.hStdError = outWrite;
    PROCESS_INFORMATION pi;
    ZeroMemory(&pi, sizeof pi);
    BOOL created = FALSE;
    DWORD createErr = 0;
    DWORD closeErr = 0;
    {
        std::lock_guard<std::mutex> guard(SpawnMutex);
        if (!SetHandleInformation(inRead, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT) ||
            !SetHandleInformation(outWrite, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) {
            createErr = GetLastError();
        } else {
            created = CreateProcessW(nullptr, cmd, nullptr, nullptr, TRUE,
                                     CREATE_UNICODE_ENVIRONMENT, nullptr, dir, &si, &pi);
            if (!created)
                createErr = GetLastError();
        }
        /* Closed here so that end of file is seen when the child ends. */
        if (!CloseHandle(inRead))
            closeErr = GetLastError();
        if (!CloseHandle(outWrite) && closeErr == 0)
            closeErr = GetLastError();
        inRead = outWrite = nullptr;
    }
    free(cmd);
    free(dir);
    if (!created) {
        CloseIfOpen(&outRead);
        r.systemError = static_cast<int>(createErr);
        if (result != nullptr)
            *result = r;
        return createErr == 0 ? PL_PROC_PIPE_FAILED : PL_PROC_CREATE_FAILED;
    }
    CloseHandle(pi.hThread);
    if (closeErr != 0) {
        r.systemError = static_cast<int>(closeErr);
        TerminateProcess(pi.hProcess, 1);
        WaitForSingleObject(pi.hProcess, INFINITE);
        CloseHandle(pi.hProcess);
        CloseIfOpen(&outRead);
        if (result != nullptr)
            *result = r;
        return PL_PROC_CLOSE_FAILED;
    }

    /* Read while the child runs, so that it never blocks on a full pipe. An
     * anonymous pipe cannot be waited on: look into it, and when it is empty
     * wait a few milliseconds on the child instead. */
    int rc = 0;
    int killed = 0;
    ULONGLONG start = GetTickCount64();
    char scratch[4096];
    for (;;) {
        DWORD avail = 0;
        if (!PeekNamedPipe(outRead, nullptr, 0, nullptr, &avail, nullptr)) {
            DWORD err = GetLastError();
            if (err != ERROR_BROKEN_PIPE) {
                r.systemError = static_cast<int>(err);
                rc = PL_PROC_READ_FAILED;
                TerminateProcess(pi.hProcess, 1);
                killed = 1;
            }
            break; /* broken pipe: every writer has closed */
        }
        if (avail > 0) {
            char *dst;
            DWORD room;
            if (r.outLen < outSize) {
                dst = out + r.outLen;
                size_t left = outSize - r.outLen;
                room = left > 65536 ? 65536 : static_cast<DWORD>(left);
            } else {
                dst = scratch;
                room = sizeof scratch;
            }
            DWORD n = 0;
            if (!ReadFile(outRead, dst, room < avail ? room : avail, &n, nullptr)) {
                DWORD err = GetLastError();
                if (err != ERROR_BROKEN_PIPE) {
                    r.systemError = static_cast<int>(err);
                    rc = PL_PROC_READ_FAILED;
                    TerminateProcess(pi.hProcess, 1);
                    killed = 1;
                }
                break;
            }
            if (dst == scratch)
                r.overflow = r.overflow || n > 0;
            else
                r.outLen += n;
            continue;
        }
        if (timeoutMs != PL_INFINITE && GetTickCount64() - start >= timeoutMs) {
            TerminateProcess(pi.hProcess, 1);
            r.timedOut = 1;
            killed = 1;
            break;
        }
        /* Nothing to read. Once the child has ended, a process it started
         * may still hold the pipe: then only sleep, the wait returns at once. */
        if (WaitForSingleObject(pi.hProcess, 5) == WAIT_OBJECT_0)
            Sleep(5);
    }
    CloseIfOpen(&outRead);

    /* The child may close its output and go on: the time-out still holds. */
    DWORD waitMs = INFINITE;
    if (timeoutMs != PL_INFINITE && !killed) {
        ULONGLONG elapsed = GetTickCount64() - start;
        waitMs = elapsed >= timeoutMs ? 0 : static_cast<DWORD>(timeoutMs - elapsed);
    }
    DWORD w = WaitForSingleObject(pi.hProcess, waitMs);
    if (w == WAIT_TIMEOUT) {
        TerminateProcess(pi.hProcess, 1);
        r.timedOut = 1;
        killed = 1;
        w = WaitForSingleObject(pi.hProcess, INFINITE);
    }
    if (w != WAIT_OBJECT_0) {
        if (rc == 0) {
            r.systemError = static_cast<int>(GetLastError());
            rc = PL_PROC_WAIT_FAILED;
        }
    } else if (!killed) {
        DWORD code = 0;
        if (GetExitCodeProcess(pi.hProcess, &code))
            r.exitCode = static_cast<int>(code);
    }
    CloseHandle(pi.hProcess);
    if (result != nullptr)
        *result = r;
    return rc;
}

/* Characters the command interpreter acts on even in a batch file's
 * arguments; with a line end or a double quote, an argument holding one is
 * refused rather than escaped. */
static const char CMD_METACHARACTERS[] = "&|<>^%!\"()\r\n";

int PLRunProgram(const char *const *argv, const char *workDir, char *out, size_t outSize,
                 uint32_t timeoutMs, PLPROCRESULT *result) {
    /* A bare name: an .exe on the search path runs directly, as CreateProcessW
     * itself would find it. */
    if (argv == nullptr || argv[0] == nullptr || argv[0][0] == '\0' ||
        strpbrk(argv[0], "\\/:.") != nullptr)
        return PLRunProcess(argv, workDir, out, outSize, timeoutMs, result);
    char found[MAX_PATH];
    if (SearchPathA(nullptr, argv[0], ".exe", MAX_PATH, found, nullptr) != 0)
        return PLRunProcess(argv, workDir, out, outSize, timeoutMs, result);
    DWORD n = SearchPathA(nullptr, argv[0], ".cmd", MAX_PATH, found, nullptr);
    if (n == 0 || n >= MAX_PATH)
        n = SearchPathA(nullptr, argv[0], ".bat", MAX_PATH, found, nullptr);
    if (n == 0 || n >= MAX_PATH)
        return PLRunProcess(argv, workDir, out, outSize, timeoutMs, result);

    /* Only a batch file: cmd /d /s /c ""batch" arg "arg with blank" ...". */
    PLPROCRESULT r = {};
    r.exitCode = -1;
    r.systemError = ERROR_INVALID_PARAMETER;
    std::string line = "cmd.exe /d /s /c \"\"";
    line += found;
    line += "\"";
    bool refused = strpbrk(found, "%!\"") != nullptr;
    for (int i = 1; argv[i] != nullptr && !refused; i++) {
        refused = strpbrk(argv[i], CMD_METACHARACTERS) != nullptr;
        bool quote = argv[i][0] == '\0' || strpbrk(argv[i], " \t\v") != nullptr;
        line += quote ? " \"" : " ";
        line += argv[i];
        if (quote)
            line += "\"";
    }
    line += "\"";
    if (refused || line.size() >= 32767) {
        if (result != nullptr)
            *result = r;
        return PL_PROC_ARGS_FAILED;
    }
    DWORD convErr = 0;
    wchar_t *cmd = ToWide(line.c_str(), &convErr);
    return RunCommandLine(cmd, convErr, workDir, out, outSize, timeoutMs, result);
}

/* ---- Console ------------------------------------------------------------ */

/* 1 when the C runtime's descriptor fd is a console. _isatty alone also
 * answers yes for character devices such as NUL, so the handle must accept
 * a console mode too. */
static int IsConsole(int fd, DWORD stdHandle) {
    if (!_isatty(fd))
        return 0;
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(stdHandle), &mode) ? 1 : 0;
}

int PLStdoutIsTerminal(void) {
    return IsConsole(_fileno(stdout), STD_OUTPUT_HANDLE);
}

int PLKeyWaiting(void) {
    if (!IsConsole(_fileno(stdin), STD_INPUT_HANDLE))
        return 0;
    return _kbhit() ? 1 : 0;
}

int PLReadKey(void) {
    if (!IsConsole(_fileno(stdin), STD_INPUT_HANDLE))
        return -1;
    return _getch() & 0xFF;
}

void PLRestoreConsole(void) {
    /* _getch reads without echo by itself: nothing was changed. */
}

/* ---- Files -------------------------------------------------------------- */

/* The system error code behind a failed C runtime call, from the C
 * runtime's errno when the system code was not kept. */
static int ErrnoToSystemError(int errnum) {
    switch (errnum) {
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case EACCES:
            return ERROR_ACCESS_DENIED;
        case EEXIST:
            return ERROR_FILE_EXISTS;
        case EMFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case ENOSPC:
            return ERROR_DISK_FULL;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        default:
            return ERROR_OPEN_FAILED;
    }
}

FILE *PLOpenFile(const char *path, const char *mode, int *err) {
    /* Binary unless the caller asks for text ("t"): a line ends with a line
     * feed alone, as on POSIX, and a file's size is what was written. */
    char binaryMode[16];
    size_t len = strlen(mode);
    if (len + 2 > sizeof binaryMode) {
        if (err != nullptr)
            *err = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    memcpy(binaryMode, mode, len + 1);
    if (strpbrk(mode, "bt") == nullptr) {
        binaryMode[len] = 'b';
        binaryMode[len + 1] = '\0';
    }
    _doserrno = 0;
    errno = 0;
    FILE *f = fopen(path, binaryMode);
    if (f == nullptr && err != nullptr) {
        unsigned long dosErr = _doserrno;
        *err = dosErr != 0 ? static_cast<int>(dosErr) : ErrnoToSystemError(errno);
    }
    return f;
}

int PLDeleteFile(const char *path) {
    return DeleteFileA(path) ? 0 : static_cast<int>(GetLastError());
}

int PLRenameFile(const char *from, const char *to) {
    return MoveFileA(from, to) ? 0 : static_cast<int>(GetLastError());
}

int PLFileSize(const char *path, int64_t *size) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return static_cast<int>(GetLastError());
    *size = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return 0;
}

int PLStreamSize(FILE *stream, int64_t *size) {
    if (stream == nullptr)
        return ERROR_INVALID_HANDLE;
    int fd = _fileno(stream);
    if (fd < 0)
        return ERROR_INVALID_HANDLE;
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (h == INVALID_HANDLE_VALUE)
        return ERROR_INVALID_HANDLE;
    LARGE_INTEGER li;
    if (!GetFileSizeEx(h, &li))
        return static_cast<int>(GetLastError());
    *size = static_cast<int64_t>(li.QuadPart);
    return 0;
}

int PLErrorIsNotFound(int err) {
    return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND;
}

/* ---- Errors ------------------------------------------------------------- */

int PLLastError(void) {
    return static_cast<int>(GetLastError());
}

const char *PLErrorText(int err, char *buf, size_t size) {
    if (buf == nullptr || size == 0)
        return "";
    char tmp[512];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(err), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                             tmp, sizeof tmp, nullptr);
    if (n == 0) {
        CopyText(buf, size, "Unknown error");
        return buf;
    }
    while (n > 0 && (tmp[n - 1] == '\n' || tmp[n - 1] == '\r' || tmp[n - 1] == ' '))
        n--;
    tmp[n] = '\0';
    CopyText(buf, size, tmp);
    return buf;
}

const char *PLCErrorText(int errnum, char *buf, size_t size) {
    if (buf == nullptr || size == 0)
        return "";
    if (strerror_s(buf, size, errnum) != 0)
        CopyText(buf, size, "Unknown error");
    return buf;
}

static void CopyText(char *dst, size_t size, const char *src) {
    size_t n = strlen(src);
    if (n >= size)
        n = size - 1;
    memcpy(dst, src, n);
    dst[n] = '\0';
}
