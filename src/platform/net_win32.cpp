/* net_win32.cpp -- net.h for Windows: Winsock on the loopback address,
 * detached processes with CreateProcessW, GetTempPath, the session id.
 *
 * Owns: the Winsock start-up (once per process). Threads: any.
 */
#include "platform/net.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

#include "platform/platform.h"

static int WaitSocket(SOCKET s, int forWrite, uint32_t timeoutMs);
static std::wstring Widen(const char *s);
static void AppendQuoted(std::wstring *cmd, const std::wstring &arg);

static INIT_ONCE NetOnce = INIT_ONCE_STATIC_INIT;
static int NetStartResult = 0;

static BOOL CALLBACK StartWinsock(PINIT_ONCE, PVOID, PVOID *) {
    WSADATA data;
    NetStartResult = WSAStartup(MAKEWORD(2, 2), &data);
    return TRUE;
}

int PLNetStart(void) {
    InitOnceExecuteOnce(&NetOnce, StartWinsock, nullptr, nullptr);
    return NetStartResult;
}

static void SetNoDelay(SOCKET s) {
    BOOL one = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, (const char *)&one, sizeof one);
}

/* select() on one socket; 1 ready, 0 time-out, -1 failure. */
static int WaitSocket(SOCKET s, int forWrite, uint32_t timeoutMs) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv;
    timeval *ptv = nullptr;
    if (timeoutMs != PL_INFINITE) {
        tv.tv_sec = (long)(timeoutMs / 1000);
        tv.tv_usec = (long)(timeoutMs % 1000) * 1000;
        ptv = &tv;
    }
    int n = forWrite ? select(0, nullptr, &set, &set, ptv) : select(0, &set, nullptr, nullptr, ptv);
    if (n == SOCKET_ERROR)
        return -1;
    return n > 0 ? 1 : 0;
}

int PLListenLoopback(int port, PLSOCKET *sock, int *boundPort) {
    PLNetStart();
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return WSAGetLastError();
    BOOL excl = TRUE;
    setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, (const char *)&excl, sizeof excl);
    sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_port = htons((u_short)port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(s, (sockaddr *)&a, sizeof a) != 0 || listen(s, 128) != 0) {
        int err = WSAGetLastError();
        closesocket(s);
        return err;
    }
    int len = sizeof a;
    if (getsockname(s, (sockaddr *)&a, &len) != 0) {
        int err = WSAGetLastError();
        closesocket(s);
        return err;
    }
    *sock = (PLSOCKET)s;
    if (boundPort)
        *boundPort = ntohs(a.sin_port);
    return 0;
}

int PLAcceptSocket(PLSOCKET listener, PLSOCKET *conn) {
    SOCKET s = accept((SOCKET)listener, nullptr, nullptr);
    if (s == INVALID_SOCKET)
        return WSAGetLastError();
    SetNoDelay(s);
    *conn = (PLSOCKET)s;
    return 0;
}

int PLConnectTcp(const char *ipv4, int port, uint32_t timeoutMs, PLSOCKET *sock) {
    PLNetStart();
    sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_port = htons((u_short)port);
    if (port <= 0 || port > 65535 || inet_pton(AF_INET, ipv4, &a.sin_addr) != 1)
        return WSAEINVAL;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return WSAGetLastError();
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    if (connect(s, (sockaddr *)&a, sizeof a) != 0) {
        int err = WSAGetLastError();
        if (err != WSAEWOULDBLOCK) {
            closesocket(s);
            return err;
        }
        int w = WaitSocket(s, 1, timeoutMs);
        int soerr = 0;
        int len = sizeof soerr;
        getsockopt(s, SOL_SOCKET, SO_ERROR, (char *)&soerr, &len);
        if (w <= 0 || soerr != 0) {
            closesocket(s);
            return w == 0 ? PL_NET_TIMEOUT : (soerr != 0 ? soerr : WSAGetLastError());
        }
    }
    nonBlocking = 0;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    SetNoDelay(s);
    *sock = (PLSOCKET)s;
    return 0;
}

int PLSendAll(PLSOCKET sock, const void *buf, size_t len) {
    const char *p = (const char *)buf;
    while (len > 0) {
        int chunk = len > 0x40000000 ? 0x40000000 : (int)len;
        int n = send((SOCKET)sock, p, chunk, 0);
        if (n == SOCKET_ERROR)
            return WSAGetLastError();
        p += n;
        len -= (size_t)n;
    }
    return 0;
}

int PLRecvAll(PLSOCKET sock, void *buf, size_t len, uint32_t timeoutMs, size_t *got) {
    char *p = (char *)buf;
    size_t done = 0;
    int rc = 0;
    while (done < len) {
        if (timeoutMs != PL_INFINITE) {
            int w = WaitSocket((SOCKET)sock, 0, timeoutMs);
            if (w == 0) {
                rc = PL_NET_TIMEOUT;
                break;
            }
            if (w < 0) {
                rc = WSAGetLastError();
                break;
            }
        }
        size_t want = len - done;
        int chunk = want > 0x40000000 ? 0x40000000 : (int)want;
        int n = recv((SOCKET)sock, p + done, chunk, 0);
        if (n == 0) {
            rc = PL_NET_CLOSED;
            break;
        }
        if (n == SOCKET_ERROR) {
            rc = WSAGetLastError();
            break;
        }
        done += (size_t)n;
    }
    if (got)
        *got = done;
    return rc;
}

int PLRecvSome(PLSOCKET sock, void *buf, size_t size, uint32_t timeoutMs, size_t *got) {
    *got = 0;
    if (timeoutMs != PL_INFINITE) {
        int w = WaitSocket((SOCKET)sock, 0, timeoutMs);
        if (w == 0)
            return PL_NET_TIMEOUT;
        if (w < 0)
            return WSAGetLastError();
    }
    int chunk = size > 0x40000000 ? 0x40000000 : (int)size;
    int n = recv((SOCKET)sock, (char *)buf, chunk, 0);
    if (n == 0)
        return PL_NET_CLOSED;
    if (n == SOCKET_ERROR)
        return WSAGetLastError();
    *got = (size_t)n;
    return 0;
}

int PLWaitReadable(PLSOCKET sock, uint32_t timeoutMs) {
    return WaitSocket((SOCKET)sock, 0, timeoutMs);
}

void PLShutdownSocket(PLSOCKET sock) {
    if (sock != PL_NO_SOCKET)
        shutdown((SOCKET)sock, SD_BOTH);
}

void PLShutdownSend(PLSOCKET sock) {
    if (sock != PL_NO_SOCKET)
        shutdown((SOCKET)sock, SD_SEND);
}

void PLCloseSocket(PLSOCKET sock) {
    if (sock != PL_NO_SOCKET)
        closesocket((SOCKET)sock);
}

int64_t PLProcessId(void) {
    return (int64_t)GetCurrentProcessId();
}

static std::wstring Widen(const char *s) {
    int n = MultiByteToWideChar(CP_UTF8, 0, s, -1, nullptr, 0);
    if (n <= 0)
        return std::wstring();
    std::wstring w((size_t)n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s, -1, &w[0], n);
    w.resize((size_t)n - 1);
    return w;
}

/* Quote one argument the way the C runtime's command-line parser reads it. */
static void AppendQuoted(std::wstring *cmd, const std::wstring &arg) {
    if (!cmd->empty())
        *cmd += L' ';
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) {
        *cmd += arg;
        return;
    }
    *cmd += L'"';
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            backslashes++;
        } else if (c == L'"') {
            cmd->append(backslashes * 2 + 1, L'\\');
            *cmd += L'"';
            backslashes = 0;
        } else {
            cmd->append(backslashes, L'\\');
            *cmd += c;
            backslashes = 0;
        }
    }
    cmd->append(backslashes * 2, L'\\');
    *cmd += L'"';
}

int PLStartDetached(const char *const *argv, const char *logPath, int64_t *pid) {
    std::wstring cmd;
    for (int i = 0; argv[i] != nullptr; i++)
        AppendQuoted(&cmd, Widen(argv[i]));
    SECURITY_ATTRIBUTES sa;
    sa.nLength = sizeof sa;
    sa.lpSecurityDescriptor = nullptr;
    sa.bInheritHandle = TRUE;
    HANDLE log =
        CreateFileW(Widen(logPath).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &sa, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE)
        return (int)GetLastError();
    HANDLE nul = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                             OPEN_EXISTING, 0, nullptr);
    /* Only the log and NUL are inherited: a caller reading our output
     * through a pipe must see it end when we do, not when the daemon does. */
    HANDLE inherit[2] = {log, nul};
    SIZE_T attrSize = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &attrSize);
    std::vector<char> attrBuf(attrSize);
    LPPROC_THREAD_ATTRIBUTE_LIST attrs = (LPPROC_THREAD_ATTRIBUTE_LIST)attrBuf.data();
    BOOL haveAttrs =
        InitializeProcThreadAttributeList(attrs, 1, 0, &attrSize) &&
        UpdateProcThreadAttribute(attrs, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherit,
                                  nul != INVALID_HANDLE_VALUE ? 2 * sizeof(HANDLE) : sizeof(HANDLE),
                                  nullptr, nullptr);
    STARTUPINFOEXW si;
    memset(&si, 0, sizeof si);
    si.StartupInfo.cb = sizeof si;
    si.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    si.StartupInfo.hStdInput = nul;
    si.StartupInfo.hStdOutput = log;
    si.StartupInfo.hStdError = log;
    si.lpAttributeList = haveAttrs ? attrs : nullptr;
    PROCESS_INFORMATION pi;
    std::vector<wchar_t> line(cmd.begin(), cmd.end());
    line.push_back(L'\0');
    DWORD flags = DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP |
                  (haveAttrs ? EXTENDED_STARTUPINFO_PRESENT : 0);
    BOOL ok = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                             &si.StartupInfo, &pi);
    if (haveAttrs)
        DeleteProcThreadAttributeList(attrs);
    DWORD err = ok ? 0 : GetLastError();
    CloseHandle(log);
    if (nul != INVALID_HANDLE_VALUE)
        CloseHandle(nul);
    if (!ok)
        return (int)err;
    *pid = (int64_t)pi.dwProcessId;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return 0;
}

int PLProcessAlive(int64_t pid) {
    if (pid <= 0)
        return 0;
    HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, (DWORD)pid);
    if (h == nullptr)
        return GetLastError() == ERROR_ACCESS_DENIED ? 1 : 0;
    DWORD code = 0;
    BOOL ok = GetExitCodeProcess(h, &code);
    CloseHandle(h);
    return ok && code == STILL_ACTIVE ? 1 : 0;
}

int PLKillProcess(int64_t pid) {
    HANDLE h = OpenProcess(PROCESS_TERMINATE, FALSE, (DWORD)pid);
    if (h == nullptr)
        return (int)GetLastError();
    BOOL ok = TerminateProcess(h, 1);
    DWORD err = ok ? 0 : GetLastError();
    CloseHandle(h);
    return (int)err;
}

int PLTempDirectory(char *buf, size_t size) {
    char tmp[MAX_PATH + 1];
    DWORD n = GetTempPathA(sizeof tmp, tmp);
    if (n == 0 || n > MAX_PATH)
        return 1;
    while (n > 3 && (tmp[n - 1] == '\\' || tmp[n - 1] == '/'))
        n--;
    if ((size_t)n + 1 > size) {
        if (size > 0)
            buf[0] = '\0';
        return 1;
    }
    memcpy(buf, tmp, n);
    buf[n] = '\0';
    return 0;
}

int PLFileExists(const char *path) {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES ? 1 : 0;
}

int PLMakeDirectory(const char *path) {
    if (CreateDirectoryA(path, nullptr))
        return 0;
    DWORD err = GetLastError();
    DWORD attrs = GetFileAttributesA(path);
    if (err == ERROR_ALREADY_EXISTS && attrs != INVALID_FILE_ATTRIBUTES &&
        (attrs & FILE_ATTRIBUTE_DIRECTORY))
        return 0;
    return (int)err;
}

int PLMakeTempDirectory(const char *prefix, char *buf, size_t size) {
    char tmp[MAX_PATH + 1];
    if (PLTempDirectory(tmp, sizeof tmp) != 0)
        return ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 100; attempt++) {
        unsigned r = (unsigned)GetTickCount() ^ (unsigned)GetCurrentProcessId() ^
                     ((unsigned)attempt * 2654435761u);
        int n = snprintf(buf, size, "%s\\%s%06x", tmp, prefix, r & 0xFFFFFF);
        if (n < 0 || (size_t)n >= size)
            return ERROR_BUFFER_OVERFLOW;
        if (CreateDirectoryA(buf, nullptr))
            return 0;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return (int)GetLastError();
    }
    return ERROR_ALREADY_EXISTS;
}

int PLSetEnv(const char *name, const char *value) {
    if (_putenv_s(name, value != nullptr ? value : "") != 0)
        return EINVAL;
    return 0;
}

uint32_t PLUserId(void) {
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return (uint32_t)session;
}

int PLUserName(char *buf, size_t size) {
    if (size == 0)
        return 1;
    char name[256];
    DWORD n = sizeof name;
    if (GetUserNameA(name, &n)) {
        snprintf(buf, size, "%s", name);
        return 0;
    }
    snprintf(buf, size, "%u", (unsigned)PLUserId());
    return 1;
}
