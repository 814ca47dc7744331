/* server.cpp -- the mqsim daemon: listening, connection threads, the end.
 *
 * Owns: the listening socket, the accept and timer threads, the stop
 * request, the count of connection threads; each connection's reader
 * thread (ServeConnection) and its CONN record.
 * Threads: a reader thread handles its connection's requests one at a time
 * under the queue manager's lock; frames leave through the connection's
 * out queue in order (the reader sends its own replies directly when
 * nothing else is queued). A put on one connection hands a message to a
 * get or consumer of another by queueing a frame for it, never by writing
 * to its socket, so a slow client holds up nobody else.
 */
#include "server.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "admin.h"
#include "async.h"
#include "cmdserver.h"
#include "conn.h"
#include "control.h"
#include "delivery.h"
#include "mqverbs.h"
#include "platform/platform.h"
#include "statedir.h"

constexpr int QUIESCE_LIMIT_MS = 5000;

/* Daemon state (owned here). */
static PLSOCKET Listener = PL_NO_SOCKET;
static int ListenPort = 0;
static std::mutex DaemonMutex;           /* guards the fields below */
static std::condition_variable DaemonCv; /* stop requests, readers ending */
static int StopRequested = 0;            /* 1 plain, 2 quiesce */
static int ReadersRunning = 0;           /* connection threads alive */
static uint32_t NextConnId = 0;

static void ServeConnection(CONN *c);
static void AcceptMain(QMGR *qm);
static void RequestStop(int how);

static void RequestStop(int how) {
    std::lock_guard<std::mutex> g(DaemonMutex);
    if (StopRequested == 0 || how == 1)
        StopRequested = how;
    DaemonCv.notify_all();
}

/* ---- connection threads -------------------------------------------------------------- */

static void ServeConnection(CONN *c) {
    QMGR *qm = TheQmgr;
    WIREIN in = {};
    const uint8_t *payload = nullptr;
    WBUF w = {};
    WIREHDR h;
    int commit = 0;
    int first = 1;
    for (;;) {
        int rc = WireNextFrame(c->sock, &in, &h, &payload);
        if (rc == WIRE_CLOSED || rc == WIRE_IO_ERROR)
            break;
        if (rc != 0) {
            LogLine("connection %u: %s; connection closed", c->id,
                    rc == WIRE_BAD_FRAME ? "malformed frame" : "frame too large for memory");
            break;
        }
        RBUF r;
        WireReadInit(&r, payload, h.length);
        if (first && h.type == WIRE_T_CONTROL) {
            /* a control connection: one command, then it ends */
            CONTROLENV env = {ListenPort, RequestStop};
            HandleControl(qm, c, &h, &r, &w, &env);
            break;
        }
        first = 0;
        if (!c->connected && h.type != WIRE_T_CONNECT) {
            LogLine("connection %u: request %u before MQCONN; connection closed", c->id, h.type);
            break;
        }
        int res;
        c->replyReady = 0;
        {
            /* Handlers build their reply in w under the lock; it is sent
             * after, so that a client slow to read holds up only itself. */
            std::lock_guard<std::mutex> g(qm->lock);
            switch (h.type) {
                case WIRE_T_CONNECT:
                    res = HandleConnect(qm, c, &h, &r, &w);
                    break;
                case WIRE_T_DISC:
                    res = HandleDisc(qm, c, &h, &r, &w);
                    break;
                case WIRE_T_OPEN:
                    res = HandleOpen(qm, c, &h, &r, &w);
                    break;
                case WIRE_T_CLOSE:
                    res = HandleClose(qm, c, &h, &r, &w);
                    break;
                case WIRE_T_PUT:
                    res = HandlePut(qm, c, &h, &r, &w);
                    break;
                case WIRE_T_PUT1:
                    res = HandlePut1(qm, c, &h, &r, &w);
                    break;
                case WIRE_T_GET:
                    res = HandleGet(qm, c, &h, &r, &w);
                    break;
                case WIRE_T_INQ:
                    res = HandleInq(qm, c, &h, &r, &w);
                    break;
                case WIRE_T_SET:
                    res = HandleSet(qm, c, &h, &r, &w);
                    break;
                case WIRE_T_CB:
                    res = HandleCb(qm, c, &h, &r, &w);
                    break;
                case WIRE_T_CTL:
                    res = HandleCtl(qm, c, &h, &r, &w);
                    break;
                case WIRE_T_CMIT:
                case WIRE_T_BACK:
                    res = HandleUow(qm, c, &h, &r, &w);
                    break;
                case WIRE_T_ACK:
                    res = HandleAck(qm, c, &h, &r, &w);
                    break;
                default:
                    res = -1;
                    break;
            }
        }
        if (c->replyReady)
            SendFrame(c, &w, 1);
        RunPendingTriggers(qm);
        if (res < 0) {
            LogLine("connection %u: malformed request (type %u, %u bytes); connection closed",
                    c->id, h.type, h.length);
            break;
        }
        if (res > 0) {
            commit = 1;
            break;
        }
        if (!c->connected)
            break; /* a refused MQCONN */
    }
    {
        std::lock_guard<std::mutex> g(qm->lock);
        c->broken = 1;
        if (c->connected) {
            CleanupConnection(qm, c, commit);
            CONN **pp = &qm->conns;
            while (*pp && *pp != c)
                pp = &(*pp)->next;
            if (*pp) {
                *pp = c->next;
                qm->connCount--;
            }
            LogLine("connection %u: %s", c->id, commit ? "disconnected" : "ended");
        }
    }
    RunPendingTriggers(qm);
    {
        std::lock_guard<std::mutex> g(c->outMutex);
        c->writerStop = 1;
        c->outCv.notify_all();
    }
    c->writer.join();
    PLShutdownSocket(c->sock);
    PLCloseSocket(c->sock);
    WireFree(&w);
    WireInFree(&in);
    delete c;
    std::lock_guard<std::mutex> g(DaemonMutex);
    ReadersRunning--;
    DaemonCv.notify_all();
}

static void AcceptMain(QMGR *qm) {
    for (;;) {
        PLSOCKET s;
        if (PLAcceptSocket(Listener, &s) != 0) {
            if (qm->stopping)
                break;
            std::unique_lock<std::mutex> g(DaemonMutex);
            if (StopRequested)
                break;
            g.unlock();
            PLSleep(10); /* e.g. out of descriptors: try again shortly */
            continue;
        }
        CONN *c = new (std::nothrow) CONN();
        if (c == nullptr) {
            PLCloseSocket(s);
            continue;
        }
        c->sock = s;
        {
            std::lock_guard<std::mutex> g(DaemonMutex);
            if (StopRequested == 1 || qm->stopping) {
                PLCloseSocket(s);
                delete c;
                continue;
            }
            c->id = ++NextConnId;
            ReadersRunning++;
        }
        c->writer = std::thread(WriterMain, c);
        std::thread(ServeConnection, c).detach();
    }
}

int RunDaemon(const QMGROPTIONS *opts) {
    if (PLNetStart() != 0) {
        fprintf(stderr, "mqsim: the socket layer cannot start\n");
        return 1;
    }
    QMGR *qm = NewQmgr(opts);
    if (qm == nullptr) {
        fprintf(stderr, "mqsim: out of memory\n");
        return 1;
    }
    TheQmgr = qm;
    InstallDeliveryHooks(qm);
    if (opts->mqscFile[0] != '\0') {
        FILE *f = PLOpenFile(opts->mqscFile, "rb", nullptr);
        if (f == nullptr) {
            fprintf(stderr, "mqsim: cannot read %s\n", opts->mqscFile);
            return 1;
        }
        std::string text;
        char chunk[4096];
        size_t got;
        while ((got = fread(chunk, 1, sizeof chunk, f)) > 0 && text.size() < 16 * 1048576)
            text.append(chunk, got);
        fclose(f);
        std::vector<std::string> out;
        int failed = 0;
        RunMqscScript(qm, text.c_str(), &out, &failed);
        for (auto &l : out)
            LogLine("mqsc: %s", l.c_str());
        if (failed > 0)
            LogLine("mqsc: %d command(s) of %s failed", failed, opts->mqscFile);
    }
    int port = 0;
    int err = PLListenLoopback(0, &Listener, &port);
    if (err != 0) {
        fprintf(stderr, "mqsim: cannot listen on 127.0.0.1 (error %d)\n", err);
        return 1;
    }
    ListenPort = port;
    std::thread timer(WaitTimerMain, qm);
    std::thread acceptor(AcceptMain, qm);
    StartCommandServer(qm);
    /* The default name first: `mqsim start` returns once the port file is
     * there, and a connection with an empty name may follow at once. */
    char def[QMNAME_SIZE];
    int defRunning = 0;
    if (ReadDefaultQmgr(def, sizeof def) == 0 && strcmp(def, opts->name) != 0) {
        int p;
        int64_t pid;
        defRunning = ReadPortFile(def, &p, &pid) == 0 && PLProcessAlive(pid);
    }
    if (opts->makeDefault || !defRunning)
        WriteDefaultQmgr(opts->name);
    if (WritePortFile(opts->name, port, PLProcessId()) != 0) {
        fprintf(stderr, "mqsim: cannot write the port file of %s\n", opts->name);
        qm->stopping = 1;
        _Exit(1);
    }
    LogLine("queue manager %s running on 127.0.0.1:%d (pid %lld)", opts->name, port,
            (long long)PLProcessId());

    /* Wait for a stop request. */
    std::unique_lock<std::mutex> g(DaemonMutex);
    DaemonCv.wait(g, [] { return StopRequested != 0; });
    if (StopRequested == 2) {
        g.unlock();
        {
            std::lock_guard<std::mutex> lk(qm->lock);
            qm->quiescing = 1;
            for (CONN *c = qm->conns; c; c = c->next) {
                PushEvent(c, 0, MQCC_WARNING, MQRC_Q_MGR_QUIESCING);
                if (c->getWaiter && (c->getWaiter->gmoOptions & MQGMO_FAIL_IF_QUIESCING))
                    EndGetWaiter(qm, c, MQCC_FAILED, MQRC_Q_MGR_QUIESCING, nullptr);
            }
        }
        LogLine("quiescing");
        auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(QUIESCE_LIMIT_MS);
        g.lock();
        while (StopRequested == 2) {
            int conns;
            {
                std::lock_guard<std::mutex> lk(qm->lock);
                conns = qm->connCount;
            }
            if (conns == 0)
                break;
            if (DaemonCv.wait_until(g, deadline) == std::cv_status::timeout)
                break;
        }
    }
    g.unlock();
    /* End: no new connections, every connection severed, port file gone. */
    qm->stopping = 1;
    PLShutdownSocket(Listener);
    PLCloseSocket(Listener);
    acceptor.join();
    StopCommandServer(qm);
    {
        std::lock_guard<std::mutex> lk(qm->lock);
        for (CONN *c = qm->conns; c; c = c->next)
            PLShutdownSocket(c->sock);
        for (auto &e : qm->queues) {
            for (WAITER *w = e.second->waiters; w; w = w->next) {
                if (w->kind == WAIT_INTERNAL)
                    w->cv->notify_all();
            }
        }
        qm->timerCv.notify_all();
    }
    timer.join();
    g.lock();
    DaemonCv.wait_for(g, std::chrono::seconds(5), [] { return ReadersRunning == 0; });
    g.unlock();
    RemovePortFile(opts->name);
    LogLine("queue manager %s ended", opts->name);
    fflush(stdout);
    return 0;
}
