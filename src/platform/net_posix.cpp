/* net_posix.cpp -- net.h for Linux and other POSIX systems.
 *
 * Owns: nothing global. Sockets are plain file descriptors; sends use
 * MSG_NOSIGNAL so that a vanished peer is an error code, never SIGPIPE.
 * Threads: any.
 */
#include "platform/net.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/platform.h"

static void SetNoDelay(int fd);
static int WaitFd(int fd, short events, uint32_t timeoutMs);

int PLNetStart(void) {
    return 0;
}

static void SetNoDelay(int fd) {
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

/* poll one descriptor; returns 1 ready, 0 time-out, -1 failure (errno). */
static int WaitFd(int fd, short events, uint32_t timeoutMs) {
    struct pollfd p;
    p.fd = fd;
    p.events = events;
    p.revents = 0;
    int ms = timeoutMs == PL_INFINITE ? -1 : (timeoutMs > 0x7FFFFFFF ? 0x7FFFFFFF : (int)timeoutMs);
    for (;;) {
        int n = poll(&p, 1, ms);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        return n > 0 ? 1 : 0;
    }
}

int PLListenLoopback(int port, PLSOCKET *sock, int *boundPort) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    struct sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_port = htons((uint16_t)port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, (struct sockaddr *)&a, sizeof a) != 0 || listen(fd, 128) != 0) {
        int err = errno;
        close(fd);
        return err;
    }
    socklen_t len = sizeof a;
    if (getsockname(fd, (struct sockaddr *)&a, &len) != 0) {
        int err = errno;
        close(fd);
        return err;
    }
    *sock = fd;
    if (boundPort)
        *boundPort = ntohs(a.sin_port);
    return 0;
}

int PLAcceptSocket(PLSOCKET listener, PLSOCKET *conn) {
    for (;;) {
        int fd = accept4((int)listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            SetNoDelay(fd);
            *conn = fd;
            return 0;
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        return errno;
    }
}

int PLConnectTcp(const char *ipv4, int port, uint32_t timeoutMs, PLSOCKET *sock) {
    struct sockaddr_in a;
    memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_port = htons((uint16_t)port);
    if (port <= 0 || port > 65535 || inet_pton(AF_INET, ipv4, &a.sin_addr) != 1)
        return EINVAL;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return errno;
    int rc = connect(fd, (struct sockaddr *)&a, sizeof a);
    if (rc != 0 && errno != EINPROGRESS) {
        int err = errno;
        close(fd);
        return err;
    }
    if (rc != 0) {
        int w = WaitFd(fd, POLLOUT, timeoutMs);
        if (w <= 0) {
            int err = w == 0 ? PL_NET_TIMEOUT : errno;
            close(fd);
            return err;
        }
        int soerr = 0;
        socklen_t len = sizeof soerr;
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &soerr, &len);
        if (soerr != 0) {
            close(fd);
            return soerr;
        }
    }
    int flags = fcntl(fd, F_GETFL, 0);
    fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    SetNoDelay(fd);
    *sock = fd;
    return 0;
}

int PLSendAll(PLSOCKET sock, const void *buf, size_t len) {
    const char *p = (const char *)buf;
    while (len > 0) {
        ssize_t n = send((int)sock, p, len, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
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
            int w = WaitFd((int)sock, POLLIN, timeoutMs);
            if (w == 0) {
                rc = PL_NET_TIMEOUT;
                break;
            }
            if (w < 0) {
                rc = errno;
                break;
            }
        }
        ssize_t n = recv((int)sock, p + done, len - done, 0);
        if (n == 0) {
            rc = PL_NET_CLOSED;
            break;
        }
        if (n < 0) {
            if (errno == EINTR)
                continue;
            rc = errno;
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
        int w = WaitFd((int)sock, POLLIN, timeoutMs);
        if (w == 0)
            return PL_NET_TIMEOUT;
        if (w < 0)
            return errno;
    }
    for (;;) {
        ssize_t n = recv((int)sock, buf, size, 0);
        if (n == 0)
            return PL_NET_CLOSED;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        *got = (size_t)n;
        return 0;
    }
}

int PLWaitReadable(PLSOCKET sock, uint32_t timeoutMs) {
    return WaitFd((int)sock, POLLIN, timeoutMs);
}

void PLShutdownSocket(PLSOCKET sock) {
    if (sock != PL_NO_SOCKET)
        shutdown((int)sock, SHUT_RDWR);
}

void PLShutdownSend(PLSOCKET sock) {
    if (sock != PL_NO_SOCKET)
        shutdown((int)sock, SHUT_WR);
}

void PLCloseSocket(PLSOCKET sock) {
    if (sock != PL_NO_SOCKET)
        close((int)sock);
}

int64_t PLProcessId(void) {
    return (int64_t)getpid();
}

int PLStartDetached(const char *const *argv, const char *logPath, int64_t *pid) {
    int logFd = open(logPath, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (logFd < 0)
        return errno;
    int nullFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (nullFd < 0) {
        int err = errno;
        close(logFd);
        return err;
    }
    /* A pipe closed on exec tells the parent whether exec worked. */
    int errPipe[2];
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        int err = errno;
        close(logFd);
        close(nullFd);
        return err;
    }
    pid_t child = fork();
    if (child < 0) {
        int err = errno;
        close(logFd);
        close(nullFd);
        close(errPipe[0]);
        close(errPipe[1]);
        return err;
    }
    if (child == 0) {
        setsid();
        signal(SIGPIPE, SIG_DFL);
        /* nothing of the caller's but the three standard streams */
        close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
        dup2(nullFd, 0);
        dup2(logFd, 1);
        dup2(logFd, 2);
        execv(argv[0], (char *const *)argv);
        int err = errno;
        ssize_t w = write(errPipe[1], &err, sizeof err);
        (void)w;
        _exit(127);
    }
    close(logFd);
    close(nullFd);
    close(errPipe[1]);
    int childErr = 0;
    ssize_t n;
    do {
        n = read(errPipe[0], &childErr, sizeof childErr);
    } while (n < 0 && errno == EINTR);
    close(errPipe[0]);
    if (n == (ssize_t)sizeof childErr) {
        waitpid(child, nullptr, 0);
        return childErr != 0 ? childErr : ENOEXEC;
    }
    *pid = child;
    return 0;
}

int PLProcessAlive(int64_t pid) {
    if (pid <= 0)
        return 0;
    int status;
    pid_t r = waitpid((pid_t)pid, &status, WNOHANG);
    if (r == (pid_t)pid)
        return 0; /* our child, now reaped */
    if (kill((pid_t)pid, 0) != 0)
        return errno == EPERM ? 1 : 0;
    /* An ended process that nobody has reaped yet (a zombie) is not alive. */
    char path[64], stat[256];
    snprintf(path, sizeof path, "/proc/%lld/stat", (long long)pid);
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 1;
    ssize_t n = read(fd, stat, sizeof stat - 1);
    close(fd);
    if (n <= 0)
        return 1;
    stat[n] = '\0';
    const char *paren = strrchr(stat, ')');
    if (paren != nullptr && paren[1] == ' ' && (paren[2] == 'Z' || paren[2] == 'X'))
        return 0;
    return 1;
}

int PLKillProcess(int64_t pid) {
    if (pid <= 0)
        return EINVAL;
    if (kill((pid_t)pid, SIGKILL) != 0)
        return errno;
    waitpid((pid_t)pid, nullptr, WNOHANG);
    return 0;
}

int PLTempDirectory(char *buf, size_t size) {
    const char *t = getenv("TMPDIR");
    if (t == nullptr || t[0] == '\0')
        t = "/tmp";
    size_t n = strlen(t);
    while (n > 1 && t[n - 1] == '/')
        n--;
    if (n + 1 > size) {
        if (size > 0)
            buf[0] = '\0';
        return 1;
    }
    memcpy(buf, t, n);
    buf[n] = '\0';
    return 0;
}

int PLFileExists(const char *path) {
    struct stat st;
    return stat(path, &st) == 0 ? 1 : 0;
}

int PLMakeDirectory(const char *path) {
    if (mkdir(path, 0700) == 0)
        return 0;
    int err = errno;
    struct stat st;
    if (err == EEXIST && stat(path, &st) == 0 && S_ISDIR(st.st_mode))
        return 0;
    return err;
}

int PLMakeTempDirectory(const char *prefix, char *buf, size_t size) {
    char tmp[1024];
    if (PLTempDirectory(tmp, sizeof tmp) != 0)
        return ENAMETOOLONG;
    int n = snprintf(buf, size, "%s/%sXXXXXX", tmp, prefix);
    if (n < 0 || (size_t)n >= size)
        return ENAMETOOLONG;
    if (mkdtemp(buf) == nullptr)
        return errno;
    return 0;
}

int PLSetEnv(const char *name, const char *value) {
    int rc = value != nullptr ? setenv(name, value, 1) : unsetenv(name);
    return rc == 0 ? 0 : errno;
}

uint32_t PLUserId(void) {
    return (uint32_t)getuid();
}

int PLUserName(char *buf, size_t size) {
    if (size == 0)
        return 1;
    struct passwd pw;
    struct passwd *res = nullptr;
    char tmp[1024];
    if (getpwuid_r(getuid(), &pw, tmp, sizeof tmp, &res) == 0 && res != nullptr &&
        res->pw_name != nullptr) {
        snprintf(buf, size, "%s", res->pw_name);
        return 0;
    }
    snprintf(buf, size, "%u", (unsigned)getuid());
    return 1;
}
