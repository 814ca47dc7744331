/* net.h -- TCP sockets on the loopback address, background processes and
 * the few file-system facts the stand-in queue manager needs.
 *
 * The stand-in queue manager (mqsim) and its MQI library talk over TCP on
 * 127.0.0.1 only; these procedures are their one way to the system's socket
 * layer. net_posix.cpp implements them with BSD sockets, net_win32.cpp with
 * Winsock; nothing else tests which system it is built for.
 *
 * Conventions: as in platform.h, a procedure that can fail returns 0 on
 * success and the system's error code otherwise, unless its comment says
 * otherwise. Every procedure may be called from any thread. A socket is used
 * by at most one reader and one writer thread at a time; PLShutdownSocket may
 * be called from any thread to wake both.
 */
#pragma once

#include <cstddef>
#include <cstdint>

/* Marks a procedure exported from a shared library built with hidden
 * symbols (the MQI verbs of the stand-in library). */
#if defined(_WIN32)
#define PL_EXPORT __declspec(dllexport)
#else
#define PL_EXPORT __attribute__((visibility("default")))
#endif

/* ---- Sockets ------------------------------------------------------------ */

typedef intptr_t PLSOCKET;
constexpr PLSOCKET PL_NO_SOCKET = -1;

/* Results of PLRecvAll and PLWaitReadable besides 0 and error codes. */
constexpr int PL_NET_TIMEOUT = 258; /* the time-out passed first */
constexpr int PL_NET_CLOSED = -2;   /* the peer closed the connection (end of stream) */

/* Prepare the socket layer (Winsock start-up on Windows); cheap to repeat.
 * Returns 0 or the system error code. */
int PLNetStart(void);

/* A listening socket on 127.0.0.1. port 0 takes an ephemeral port; *boundPort
 * receives the port actually bound. Returns 0 with *sock set, or the error. */
int PLListenLoopback(int port, PLSOCKET *sock, int *boundPort);

/* Wait for and accept one connection on a listening socket. The new socket
 * sends without delay (no Nagle). Returns 0 with *conn set, or the error code
 * (also when the listener was shut down or closed by another thread). */
int PLAcceptSocket(PLSOCKET listener, PLSOCKET *conn);

/* Connect to ipv4:port (dotted decimal, e.g. "127.0.0.1"), waiting at most
 * timeoutMs. The socket sends without delay. Returns 0 with *sock set, or the
 * error code (PL_NET_TIMEOUT when the time passed). */
int PLConnectTcp(const char *ipv4, int port, uint32_t timeoutMs, PLSOCKET *sock);

/* Send all len bytes, however many system calls it takes. A peer that has
 * gone gives an error code, never a signal. Returns 0 or the error code. */
int PLSendAll(PLSOCKET sock, const void *buf, size_t len);

/* Receive exactly len bytes. timeoutMs bounds the wait for each piece
 * (PL_INFINITE from platform.h: no limit). Returns 0; PL_NET_CLOSED when the
 * stream ended first (*got, if given, tells how many bytes came);
 * PL_NET_TIMEOUT; or the error code. */
int PLRecvAll(PLSOCKET sock, void *buf, size_t len, uint32_t timeoutMs, size_t *got);

/* Receive what is there, at most size bytes, waiting at most timeoutMs for
 * the first. Returns 0 with *got > 0; PL_NET_CLOSED; PL_NET_TIMEOUT; or the
 * error code. */
int PLRecvSome(PLSOCKET sock, void *buf, size_t size, uint32_t timeoutMs, size_t *got);

/* Wait until the socket is readable (data, end of stream or error). Returns
 * 1 when readable, 0 when timeoutMs passed, -1 on failure. */
int PLWaitReadable(PLSOCKET sock, uint32_t timeoutMs);

/* End both directions of a connection: a thread blocked reading or accepting
 * on it returns. The socket stays allocated until PLCloseSocket. */
void PLShutdownSocket(PLSOCKET sock);

/* End the sending direction only: the peer reads end of stream, and this
 * side can still read what the peer sends. */
void PLShutdownSend(PLSOCKET sock);

/* Release a socket. PL_NO_SOCKET is accepted. */
void PLCloseSocket(PLSOCKET sock);

/* ---- Processes ---------------------------------------------------------- */

/* This process's identifier. */
int64_t PLProcessId(void);

/* Start argv[0] (a full path) with argv[1..] (null-terminated vector; never a
 * shell) in the background, detached from the caller's session and console:
 * standard input empty, standard output and error appended to logPath. The
 * caller does not wait for it. Returns 0 with *pid set, or the error code. */
int PLStartDetached(const char *const *argv, const char *logPath, int64_t *pid);

/* 1 when a process with this identifier exists (and, for a child of the
 * caller, has not yet ended), else 0. Reaps an ended child of the caller. */
int PLProcessAlive(int64_t pid);

/* End a process at once (SIGKILL / TerminateProcess). Returns 0 or the error. */
int PLKillProcess(int64_t pid);

/* ---- Files and the user ------------------------------------------------- */

/* The system's directory for temporary files (TMPDIR, else /tmp; Windows:
 * GetTempPath), without a trailing separator, into buf (size bytes, always
 * terminated). Returns 0, or 1 when it does not fit. */
int PLTempDirectory(char *buf, size_t size);

/* 1 when something exists at path, else 0. */
int PLFileExists(const char *path);

/* Make a directory readable only by its owner; an existing directory is
 * success. Returns 0 or the error code. */
int PLMakeDirectory(const char *path);

/* Make a new, empty directory "<temp>/<prefix>XXXXXX" readable only by its
 * owner; its path into buf (size bytes). Returns 0 or the error code. */
int PLMakeTempDirectory(const char *prefix, char *buf, size_t size);

/* Set (value not null) or remove (value null) an environment variable of
 * this process; children started later inherit it. Returns 0 or the error. */
int PLSetEnv(const char *name, const char *value);

/* The real user's numeric identifier (POSIX uid; on Windows the session id).
 */
uint32_t PLUserId(void);

/* The login name of the user running this process into buf (size bytes,
 * always terminated; cut when longer). Returns 0, or 1 when no name is known
 * (buf then holds the numeric identifier). */
int PLUserName(char *buf, size_t size);
