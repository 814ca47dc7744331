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

const char PL_PATH_SEPARATOR = '\\';
const char PL_TRAP_FILE[] = "c:\\temp\\cstrap.txt";
const char PL_MQ_SERVER_LIBRARY[] = "mqm.dll";
const char PL_MQ_CLIENT_LIBRARY[] = "mqic.dll";
const char PL_MQ_INSTALL_LIBDIR[] = "bin64";

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

/* Append one argument to the command line with the usual quoting rules of
 * the C runtime's argument parser (backslashes doubled before a quote, each
 * quote escaped), so that the child sees exactly the text given. Writes at
 * most size - 1 characters into cmd; returns the length it needs. */
static size_t QuoteArgument(const char *arg, char *cmd, size_t at, size_t size) {
    auto put = [&](char c) {
        if (at + 1 < size)
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

/* The whole command line of argv into a new UTF-16 string (free()), or
 * null. */
static wchar_t *BuildCommandLine(const char *const *argv) {
    size_t need = 0;
    for (int i = 0; argv[i] != nullptr; i++) {
        if (i > 0)
            need++;
        need = QuoteArgument(argv[i], nullptr, need, 0);
    }
    char *cmd = static_cast<char *>(malloc(need + 1));
    if (cmd == nullptr)
        return nullptr;
    size_t at = 0;
    for (int i = 0; argv[i] != nullptr; i++) {
        if (i > 0 && at + 1 < need + 1)
            cmd[at++] = ' ';
        at = QuoteArgument(argv[i], cmd, at, need + 1);
    }
    if (at != need) {
        free(cmd);
        return nullptr;
    }
    cmd[at] = '\0';
    int wlen = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, cmd, -1, nullptr, 0);
    wchar_t *wcmd = wlen > 0 ? static_cast<wchar_t *>(malloc(sizeof(wchar_t) * wlen)) : nullptr;
    if (wcmd != nullptr &&
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, cmd, -1, wcmd, wlen) != wlen) {
        free(wcmd);
        wcmd = nullptr;
    }
    free(cmd);
    return wcmd;
}

static wchar_t *ToWide(const char *text) {
    int wlen = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    if (wlen <= 0)
        return nullptr;
    wchar_t *w = static_cast<wchar_t *>(malloc(sizeof(wchar_t) * wlen));
    if (w != nullptr &&
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, w, wlen) != wlen) {
        free(w);
        w = nullptr;
    }
    return w;
}

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
    wchar_t *cmd = BuildCommandLine(argv);
    wchar_t *dir = workDir != nullptr ? ToWide(workDir) : nullptr;
    if (cmd == nullptr || (workDir != nullptr && dir == nullptr)) {
        r.systemError = static_cast<int>(GetLastError());
        free(cmd);
        free(dir);
        if (result != nullptr)
            *result = r;
        return PL_PROC_ARGS_FAILED;
    }

    SECURITY_ATTRIBUTES sa = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE inRead = nullptr, inWrite = nullptr, outRead = nullptr, outWrite = nullptr;
    if (!CreatePipe(&inRead, &inWrite, &sa, 0) || !CreatePipe(&outRead, &outWrite, &sa, 0) ||
        !SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0) ||
        !SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0)) {
        r.systemError = static_cast<int>(GetLastError());
        if (inRead)
            CloseHandle(inRead);
        if (inWrite)
            CloseHandle(inWrite);
        if (outRead)
            CloseHandle(outRead);
        if (outWrite)
            CloseHandle(outWrite);
        free(cmd);
        free(dir);
        if (result != nullptr)
            *result = r;
        return PL_PROC_PIPE_FAILED;
    }
    CloseHandle(inWrite); /* the child's standard input: end of file at once */

    STARTUPINFOW si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = inRead;
    si.hStdOutput = outWrite;
    si.hStdError = outWrite;
    PROCESS_INFORMATION pi;
    ZeroMemory(&pi, sizeof pi);
    BOOL created = CreateProcessW(nullptr, cmd, nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                                  nullptr, dir, &si, &pi);
    DWORD createErr = GetLastError();
    free(cmd);
    free(dir);
    CloseHandle(inRead);
    CloseHandle(outWrite); /* so that end of file is seen when the child ends */
    if (!created) {
        CloseHandle(outRead);
        r.systemError = static_cast<int>(createErr);
        if (result != nullptr)
            *result = r;
        return PL_PROC_CREATE_FAILED;
    }
    CloseHandle(pi.hThread);

    int rc = 0;
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
            break;
        }
        /* Nothing to read: wait a little for the child or for more output. */
        WaitForSingleObject(pi.hProcess, 10);
    }
    CloseHandle(outRead);

    if (WaitForSingleObject(pi.hProcess, INFINITE) != WAIT_OBJECT_0) {
        if (rc == 0) {
            r.systemError = static_cast<int>(GetLastError());
            rc = PL_PROC_WAIT_FAILED;
        }
    } else {
        DWORD code = 0;
        if (GetExitCodeProcess(pi.hProcess, &code))
            r.exitCode = static_cast<int>(code);
    }
    CloseHandle(pi.hProcess);
    if (result != nullptr)
        *result = r;
    return rc;
}

/* ---- Console ------------------------------------------------------------ */

int PLStdoutIsTerminal(void) {
    return _isatty(_fileno(stdout)) ? 1 : 0;
}

int PLKeyWaiting(void) {
    if (!_isatty(_fileno(stdin)))
        return 0;
    return _kbhit() ? 1 : 0;
}

int PLReadKey(void) {
    if (!_isatty(_fileno(stdin)))
        return -1;
    return _getch() & 0xFF;
}

void PLRestoreConsole(void) {}

/* ---- Files -------------------------------------------------------------- */

FILE *PLOpenFile(const char *path, const char *mode, int *err) {
    _doserrno = 0;
    errno = 0;
    FILE *f = fopen(path, mode);
    if (f == nullptr && err != nullptr) {
        unsigned long dosErr = 0;
        _get_doserrno(&dosErr);
        *err = dosErr != 0 ? static_cast<int>(dosErr) : ERROR_OPEN_FAILED;
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
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    LARGE_INTEGER li;
    if (h == INVALID_HANDLE_VALUE || !GetFileSizeEx(h, &li))
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
