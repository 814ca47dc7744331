/* mqilib.cpp -- the stand-in MQI library (libmqm_r.so / mqm.dll).
 *
 * Exports the MQI verbs with IBM's published C signatures and nothing else.
 * Each MQCONN/MQCONNX opens one TCP connection to the mqsim daemon on
 * 127.0.0.1 (port from the state directory, or MQSIM_ADDR) and checks every
 * argument as the MQI documents before anything is sent.
 *
 * Owns: the table of connections (ConnTable, under ConnTableMutex) and, per
 * connection, an LCONN record with three threads of its own:
 *   - the reader takes every frame off the socket: replies go to the one
 *     call in progress, pushed messages and consumer events to the dispatch
 *     queue, connection events to the event queue;
 *   - the dispatch thread (from the first MQCTL START) calls the message
 *     consumers one at a time and acknowledges each message;
 *   - the event thread calls the event handler.
 * Locks: callMutex serialises the calls on one connection (try-locked for
 * MQCNO_HANDLE_SHARE_NO_BLOCK); mu guards the rest of the record; sendMutex
 * guards writes to the socket. Order: callMutex, then mu; sendMutex alone.
 * Callbacks run with no lock held, so they may call the MQI themselves.
 */
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mq/mqi.h"
#include "platform/net.h"
#include "platform/platform.h"
#include "statedir.h"
#include "wire.h"

namespace {

/* What the library knows of an object handle. */
struct LHANDLE {
    MQLONG options;      /* MQOO_* of the open */
    int isQmgr;          /* opened as MQOT_Q_MGR */
    int hasSaved;        /* a message was taken through it (MQOO_SAVE_ALL_CONTEXT) */
    MQMD saved;          /* that message's descriptor */
    int consumer;        /* MQCB consumer registered */
    int suspended;       /* MQOP_SUSPEND on the consumer */
    MQCB_FUNCTION *cbFn; /* the consumer */
    MQPTR cbArea;        /* MQCBD.CallbackArea */
    MQLONG cbMaxMsgLength;
    MQGMO cbGmo; /* registered get-message options */
    MQMD cbMd;   /* registered descriptor */
    char resolvedQName[MQ_Q_NAME_LENGTH];
};

/* An item for the dispatch or event thread. */
struct ITEM {
    int isMsg = 0;    /* 1 a pushed message, 0 an event */
    MQHOBJ hobj = 0;  /* 0 for a connection event */
    uint32_t seq = 0; /* delivery number to acknowledge */
    MQLONG callType = 0;
    MQLONG compCode = 0;
    MQLONG reason = 0;
    MQMD md = MQMD_DEFAULT;
    MQLONG dataLength = 0; /* the whole message */
    std::string data;      /* the bytes delivered */
    char resolvedQName[MQ_Q_NAME_LENGTH] = {};
};

struct LCONN {
    MQHCONN hconn;
    PLSOCKET sock;
    MQLONG cnoOptions;
    std::thread::id owner; /* the connecting thread */
    std::mutex callMutex;
    std::mutex sendMutex;
    std::mutex mu;
    std::condition_variable cv; /* replies, callback ends, state changes */
    uint32_t nextTag;
    uint32_t waitTag; /* tag of the call in progress, 0 none */
    int replyReady;
    uint8_t *replyBuf; /* malloc'd; handed to the caller */
    WIREHDR replyHdr;
    uint8_t *spare; /* a buffer returned by the last caller */
    int broken;     /* the socket is gone */
    MQLONG brokenReason;
    int closing;       /* MQDISC under way */
    int readerEnabled; /* the reader thread reads (else each call) */
    std::thread reader;
    std::map<MQHOBJ, LHANDLE> handles;
    /* consumers */
    int started;
    int suspended;
    int callbackRunning;
    MQPTR connectionArea;
    std::deque<ITEM> dispatchQ;
    std::thread dispatch;
    std::thread::id dispatchId;
    int dispatchStop;
    /* event handler */
    MQCB_FUNCTION *evFn;
    MQPTR evArea;
    std::deque<ITEM> eventQ;
    std::thread events;
    std::thread::id eventsId;
    int eventsStop;
    char qmName[MQ_Q_MGR_NAME_LENGTH];
    /* The socket is released with the last reference, so that a thread
     * that outlives MQDISC (a callback that disconnected its own
     * connection) never writes to a descriptor reused by then. */
    ~LCONN() {
        PLCloseSocket(sock);
        free(spare);
        free(replyBuf);
    }
};

typedef std::shared_ptr<LCONN> CONNREF;

std::mutex ConnTableMutex;
std::map<MQHCONN, CONNREF> ConnTable;
MQHCONN NextHconn = 0x01000001;

}  // namespace

static void SetResult(PMQLONG cc, PMQLONG rc, MQLONG c, MQLONG r);
static MQLONG CheckMd(const MQMD *md);
static void LoadMd(MQMD *full, const MQMD *given);
static void StoreMd(MQMD *given, const MQMD *full);
static MQLONG FindConn(MQHCONN h, CONNREF *out, std::unique_lock<std::mutex> *call);
static MQLONG Transact(LCONN *c, WBUF *w, uint8_t **reply, size_t *len);
static void ReturnBuffer(LCONN *c, uint8_t *buf);
static void ReaderMain(CONNREF c);
static void DispatchMain(CONNREF c);
static void EventsMain(CONNREF c);
static void SendAck(LCONN *c, uint32_t seq, int delivered);
static void QueueConnectionEvent(LCONN *c, MQLONG compCode, MQLONG reason);
static int HandlePushedFrame(LCONN *c, const WIREHDR *h, const uint8_t *buf);
static void MarkBroken(LCONN *c);
static void EnableReader(LCONN *c);
static void ConnectCommon(PMQCHAR pQMgrName, PMQCNO pCno, int isConnx, PMQHCONN pHconn,
                          PMQLONG pCompCode, PMQLONG pReason);
static void ProgramName(char *out, size_t size);

static void SetResult(PMQLONG cc, PMQLONG rc, MQLONG c, MQLONG r) {
    if (cc)
        *cc = c;
    if (rc)
        *rc = r;
}

static MQLONG CheckMd(const MQMD *md) {
    if (md == nullptr || memcmp(md->StrucId, MQMD_STRUC_ID, 4) != 0 ||
        (md->Version != MQMD_VERSION_1 && md->Version != MQMD_VERSION_2))
        return MQRC_MD_ERROR;
    return 0;
}

/* A caller's descriptor (version 1 or 2) as a full version-2 record. */
static void LoadMd(MQMD *full, const MQMD *given) {
    *full = MQMD_DEFAULT;
    size_t n = given->Version >= MQMD_VERSION_2 ? sizeof(MQMD) : (size_t)MQMD_LENGTH_1;
    memcpy(full, given, n);
}

/* Back into the caller's descriptor, as much as its version holds; StrucId
 * and Version stay the caller's. */
static void StoreMd(MQMD *given, const MQMD *full) {
    MQLONG version = given->Version;
    size_t n = version >= MQMD_VERSION_2 ? sizeof(MQMD) : (size_t)MQMD_LENGTH_1;
    memcpy((char *)given + 8, (const char *)full + 8, n - 8);
    given->Version = version;
}

/* Look up a connection and take its call lock (as the connect options
 * say). Returns 0, MQRC_HCONN_ERROR or MQRC_CALL_IN_PROGRESS. */
static MQLONG FindConn(MQHCONN h, CONNREF *out, std::unique_lock<std::mutex> *call) {
    {
        std::lock_guard<std::mutex> g(ConnTableMutex);
        auto it = ConnTable.find(h);
        if (it == ConnTable.end())
            return MQRC_HCONN_ERROR;
        *out = it->second;
    }
    LCONN *c = out->get();
    std::thread::id me = std::this_thread::get_id();
    int shared = (c->cnoOptions & (MQCNO_HANDLE_SHARE_BLOCK | MQCNO_HANDLE_SHARE_NO_BLOCK)) != 0;
    if (!shared && me != c->owner && me != c->dispatchId && me != c->eventsId)
        return MQRC_HCONN_ERROR;
    *call = std::unique_lock<std::mutex>(c->callMutex, std::defer_lock);
    if (c->cnoOptions & MQCNO_HANDLE_SHARE_NO_BLOCK) {
        if (!call->try_lock())
            return MQRC_CALL_IN_PROGRESS;
    } else {
        call->lock();
    }
    return 0;
}

/* Send the request in w and wait for its reply (call lock held). Returns 0
 * with *reply (free with ReturnBuffer) and *len, or the reason the
 * connection failed with. */
static MQLONG Transact(LCONN *c, WBUF *w, uint8_t **reply, size_t *len) {
    uint32_t tag;
    {
        std::lock_guard<std::mutex> g(c->mu);
        if (c->broken)
            return c->brokenReason;
        tag = ++c->nextTag;
        if (tag == 0)
            tag = ++c->nextTag;
        c->waitTag = tag;
        c->replyReady = 0;
    }
    w->data[8] = (uint8_t)tag;
    w->data[9] = (uint8_t)(tag >> 8);
    w->data[10] = (uint8_t)(tag >> 16);
    w->data[11] = (uint8_t)(tag >> 24);
    WireEnd(w);
    if (w->failed)
        return MQRC_STORAGE_NOT_AVAILABLE;
    int rc;
    {
        std::lock_guard<std::mutex> g(c->sendMutex);
        rc = WireSendFrame(c->sock, w);
    }
    std::unique_lock<std::mutex> g(c->mu);
    if (rc != 0) {
        c->waitTag = 0;
        return MQRC_CONNECTION_BROKEN;
    }
    if (!c->readerEnabled) {
        /* Nobody else reads the socket: take the reply (and anything pushed
         * before it) ourselves. */
        uint8_t *buf = c->spare;
        size_t cap = buf ? 4096 : 0;
        c->spare = nullptr;
        g.unlock();
        WIREHDR h;
        for (;;) {
            int r = WireRecvFrame(c->sock, &h, &buf, &cap);
            if (r != 0) {
                free(buf);
                g.lock();
                c->waitTag = 0;
                MarkBroken(c);
                return c->brokenReason;
            }
            if ((h.type & WIRE_T_REPLY) && h.tag == tag)
                break;
            if (HandlePushedFrame(c, &h, buf) != 0) {
                free(buf);
                PLShutdownSocket(c->sock);
                g.lock();
                c->waitTag = 0;
                MarkBroken(c);
                return c->brokenReason;
            }
        }
        g.lock();
        c->waitTag = 0;
        *reply = buf;
        *len = h.length;
        return 0;
    }
    c->cv.wait(g, [c] { return c->replyReady || c->broken; });
    c->waitTag = 0;
    if (!c->replyReady)
        return c->brokenReason;
    c->replyReady = 0;
    *reply = c->replyBuf;
    *len = c->replyHdr.length;
    c->replyBuf = nullptr;
    return 0;
}

static void ReturnBuffer(LCONN *c, uint8_t *buf) {
    std::lock_guard<std::mutex> g(c->mu);
    if (c->spare == nullptr)
        c->spare = buf;
    else
        free(buf);
}

static void SendAck(LCONN *c, uint32_t seq, int delivered) {
    WBUF w = {};
    WireBegin(&w, WIRE_T_ACK, 0);
    WirePutU32(&w, seq);
    WirePutI32(&w, delivered);
    WireEnd(&w);
    {
        std::lock_guard<std::mutex> g(c->sendMutex);
        WireSendFrame(c->sock, &w);
    }
    WireFree(&w);
}

/* A connection event: to the event handler when there is one, else to the
 * consumers (mu held). */
static void QueueConnectionEvent(LCONN *c, MQLONG compCode, MQLONG reason) {
    ITEM it;
    it.isMsg = 0;
    it.hobj = 0;
    it.seq = 0;
    it.callType = MQCBCT_EVENT_CALL;
    it.compCode = compCode;
    it.reason = reason;
    it.dataLength = 0;
    if (c->evFn != nullptr) {
        c->eventQ.push_back(it);
    } else if (c->started) {
        c->dispatchQ.push_back(it);
    }
    c->cv.notify_all();
}

/* A frame that is not the reply of the call in progress: a message or
 * event pushed by the daemon (mu not held). Returns 0, or 1 when the frame
 * is not one of ours (the connection is then given up). */
static int HandlePushedFrame(LCONN *c, const WIREHDR *h, const uint8_t *buf) {
    if (h->type & WIRE_T_REPLY)
        return 0; /* a reply nobody waits for any more */
    RBUF r;
    WireReadInit(&r, buf, h->length);
    ITEM it;
    memset(it.resolvedQName, ' ', sizeof it.resolvedQName);
    if (h->type == WIRE_T_PUSH_MSG) {
        it.isMsg = 1;
        it.hobj = WireGetI32(&r);
        it.seq = WireGetU32(&r);
        it.callType = WireGetI32(&r);
        it.compCode = WireGetI32(&r);
        it.reason = WireGetI32(&r);
        WireGetBytes(&r, &it.md, sizeof it.md);
        it.dataLength = WireGetI32(&r);
        const uint8_t *p;
        uint32_t n;
        WireGetBlob(&r, &p, &n);
        if (!r.bad)
            it.data.assign((const char *)p, n);
        WireGetBytes(&r, it.resolvedQName, sizeof it.resolvedQName);
        if (!WireReadComplete(&r))
            return 1;
        std::lock_guard<std::mutex> g(c->mu);
        c->dispatchQ.push_back(std::move(it));
        c->cv.notify_all();
        return 0;
    }
    if (h->type == WIRE_T_PUSH_EVENT) {
        it.isMsg = 0;
        it.hobj = WireGetI32(&r);
        it.compCode = WireGetI32(&r);
        it.reason = WireGetI32(&r);
        it.callType = MQCBCT_EVENT_CALL;
        if (!WireReadComplete(&r))
            return 1;
        std::lock_guard<std::mutex> g(c->mu);
        if (it.hobj == 0) {
            QueueConnectionEvent(c, it.compCode, it.reason);
        } else {
            c->dispatchQ.push_back(std::move(it));
            c->cv.notify_all();
        }
        return 0;
    }
    return 1;
}

/* The connection is gone (mu held): calls fail with 2009 from now on, and
 * unless it is being disconnected, its event handler (or consumers) hear. */
static void MarkBroken(LCONN *c) {
    if (c->broken)
        return;
    c->broken = 1;
    c->brokenReason = MQRC_CONNECTION_BROKEN;
    if (!c->closing) {
        QueueConnectionEvent(c, MQCC_FAILED, MQRC_CONNECTION_BROKEN);
        c->started = 0; /* consumption ends with the connection */
    }
    c->cv.notify_all();
}

/* Reads the socket once something asynchronous needs it: an event handler
 * or started consumers (readerEnabled). Until then each call reads its own
 * reply (Transact), which saves a thread switch per call. */
static void ReaderMain(CONNREF ref) {
    LCONN *c = ref.get();
    {
        std::unique_lock<std::mutex> g(c->mu);
        c->cv.wait(g, [c] { return c->readerEnabled || c->closing; });
        if (!c->readerEnabled)
            return;
    }
    uint8_t *buf = nullptr;
    size_t cap = 0;
    WIREHDR h;
    for (;;) {
        {
            std::lock_guard<std::mutex> g(c->mu);
            if (buf == nullptr && c->spare != nullptr) {
                buf = c->spare;
                c->spare = nullptr;
                cap = 4096; /* at least what WireRecvFrame allocated */
            }
        }
        int rc = WireRecvFrame(c->sock, &h, &buf, &cap);
        if (rc != 0)
            break;
        if (h.type & WIRE_T_REPLY) {
            std::lock_guard<std::mutex> g(c->mu);
            if (c->waitTag != 0 && h.tag == c->waitTag) {
                c->replyBuf = buf;
                c->replyHdr = h;
                c->replyReady = 1;
                buf = nullptr;
                cap = 0;
                c->cv.notify_all();
            }
            continue;
        }
        if (HandlePushedFrame(c, &h, buf) != 0)
            break; /* a frame this library does not know: the stream is not ours */
    }
    free(buf);
    std::lock_guard<std::mutex> g(c->mu);
    MarkBroken(c);
}

/* Hand the socket to the reader thread for good (call lock held). */
static void EnableReader(LCONN *c) {
    std::lock_guard<std::mutex> g(c->mu);
    if (!c->readerEnabled) {
        c->readerEnabled = 1;
        c->cv.notify_all();
    }
}

/* Calls the consumers, one message or event at a time. */
static void DispatchMain(CONNREF ref) {
    LCONN *c = ref.get();
    std::unique_lock<std::mutex> g(c->mu);
    for (;;) {
        c->cv.wait(g, [c] { return c->dispatchStop || !c->dispatchQ.empty(); });
        if (c->dispatchStop && c->dispatchQ.empty())
            break;
        ITEM it = std::move(c->dispatchQ.front());
        c->dispatchQ.pop_front();
        auto hit = c->handles.find(it.hobj);
        LHANDLE *hd = hit == c->handles.end() ? nullptr : &hit->second;
        /* a connection event reaches the consumers even as consumption ends
         * with a broken connection */
        int deliver = !it.isMsg && it.hobj == 0 ? !c->dispatchStop
                                                : c->started && !c->suspended && !c->dispatchStop;
        if (it.isMsg)
            deliver = deliver && hd != nullptr && hd->consumer && hd->cbFn != nullptr;
        else if (it.hobj != 0)
            deliver = deliver && hd != nullptr && hd->consumer && hd->cbFn != nullptr;
        if (!deliver) {
            if (it.isMsg) {
                g.unlock();
                SendAck(c, it.seq, 0);
                g.lock();
            }
            continue;
        }
        /* Calls for connection events go to every consumer in turn. */
        std::vector<std::pair<MQHOBJ, LHANDLE>> targets;
        if (it.hobj == 0) {
            for (auto &e : c->handles) {
                if (e.second.consumer && e.second.cbFn)
                    targets.push_back(e);
            }
        } else {
            targets.push_back({it.hobj, *hd});
        }
        if (it.isMsg && it.callType == MQCBCT_MSG_REMOVED &&
            (hd->options & MQOO_SAVE_ALL_CONTEXT)) {
            hd->saved = it.md;
            hd->hasSaved = 1;
        }
        if (it.isMsg && it.callType == MQCBCT_MSG_NOT_REMOVED)
            hd->suspended = 1;
        c->callbackRunning = 1;
        MQPTR connArea = c->connectionArea;
        g.unlock();
        for (auto &t : targets) {
            MQMD md = it.isMsg ? it.md : MQMD_DEFAULT;
            md.Version = MQMD_VERSION_2;
            MQGMO gmo = t.second.cbGmo;
            memcpy(gmo.ResolvedQName, it.resolvedQName, sizeof gmo.ResolvedQName);
            gmo.ReturnedLength = it.isMsg ? (MQLONG)it.data.size() : MQRL_UNDEFINED;
            MQCBC cbc = MQCBC_DEFAULT;
            cbc.Version = MQCBC_VERSION_2;
            cbc.CallType = it.callType;
            cbc.Hobj = t.first;
            cbc.CallbackArea = t.second.cbArea;
            cbc.ConnectionArea = connArea;
            cbc.CompCode = it.compCode;
            cbc.Reason = it.reason;
            cbc.State = MQCS_NONE;
            cbc.DataLength = it.isMsg ? it.dataLength : 0;
            cbc.BufferLength = it.isMsg ? (MQLONG)it.data.size() : 0;
            static char empty[1];
            void *buffer = it.isMsg && !it.data.empty() ? (void *)&it.data[0] : (void *)empty;
            t.second.cbFn(c->hconn, &md, &gmo, buffer, &cbc);
        }
        if (it.isMsg)
            SendAck(c, it.seq, 1);
        g.lock();
        c->callbackRunning = 0;
        c->cv.notify_all();
    }
}

/* Calls the event handler. */
static void EventsMain(CONNREF ref) {
    LCONN *c = ref.get();
    std::unique_lock<std::mutex> g(c->mu);
    for (;;) {
        c->cv.wait(g, [c] { return c->eventsStop || !c->eventQ.empty(); });
        if (c->eventQ.empty())
            break;
        ITEM it = std::move(c->eventQ.front());
        c->eventQ.pop_front();
        MQCB_FUNCTION *fn = c->evFn;
        MQPTR area = c->evArea;
        MQPTR connArea = c->connectionArea;
        if (fn == nullptr)
            continue;
        g.unlock();
        MQMD md = MQMD_DEFAULT;
        MQGMO gmo = MQGMO_DEFAULT;
        MQCBC cbc = MQCBC_DEFAULT;
        cbc.Version = MQCBC_VERSION_2;
        cbc.CallType = MQCBCT_EVENT_CALL;
        cbc.Hobj = MQHO_NONE;
        cbc.CallbackArea = area;
        cbc.ConnectionArea = connArea;
        cbc.CompCode = it.compCode;
        cbc.Reason = it.reason;
        static char empty[1];
        fn(c->hconn, &md, &gmo, empty, &cbc);
        g.lock();
    }
}

/* The program's file name without its directory, at most size - 1 of its
 * last characters (as MQ fills PutApplName). */
static void ProgramName(char *out, size_t size) {
    char path[1024];
    if (PLGetExecutablePath(path, sizeof path) != 0) {
        snprintf(out, size, "mqsim-client");
        return;
    }
    const char *base = path;
    for (const char *p = path; *p; p++) {
        if (*p == '/' || *p == '\\')
            base = p + 1;
    }
    size_t n = strlen(base);
    if (n >= size)
        base += n - (size - 1);
    snprintf(out, size, "%s", base);
}

static void ConnectCommon(PMQCHAR pQMgrName, PMQCNO pCno, int isConnx, PMQHCONN pHconn,
                          PMQLONG pCompCode, PMQLONG pReason) {
    if (pHconn == nullptr) {
        SetResult(pCompCode, pReason, MQCC_FAILED, MQRC_HCONN_ERROR);
        return;
    }
    MQLONG cnoVersion = MQCNO_VERSION_1, cnoOptions = 0;
    char applName[MQ_APPL_NAME_LENGTH + 1] = "";
    if (isConnx) {
        if (pCno == nullptr || memcmp(pCno->StrucId, MQCNO_STRUC_ID, 4) != 0 ||
            pCno->Version < MQCNO_VERSION_1 || pCno->Version > MQCNO_VERSION_8) {
            SetResult(pCompCode, pReason, MQCC_FAILED, MQRC_CNO_ERROR);
            return;
        }
        cnoVersion = pCno->Version;
        cnoOptions = pCno->Options;
        const MQLONG share =
            MQCNO_HANDLE_SHARE_NONE | MQCNO_HANDLE_SHARE_BLOCK | MQCNO_HANDLE_SHARE_NO_BLOCK;
        MQLONG s = cnoOptions & share;
        if (s != 0 && s != MQCNO_HANDLE_SHARE_NONE && s != MQCNO_HANDLE_SHARE_BLOCK &&
            s != MQCNO_HANDLE_SHARE_NO_BLOCK) {
            SetResult(pCompCode, pReason, MQCC_FAILED, MQRC_OPTIONS_ERROR);
            return;
        }
        if (cnoVersion >= MQCNO_VERSION_7)
            WireGetField(applName, pCno->ApplName, sizeof pCno->ApplName);
    }
    if (applName[0] == '\0')
        ProgramName(applName, sizeof applName);
    char qmName[QMGR_NAME_MAX + 1] = "";
    if (pQMgrName != nullptr)
        WireGetField(qmName, pQMgrName, MQ_Q_MGR_NAME_LENGTH);
    char ip[STATE_ADDR_SIZE];
    int port = 0;
    MQLONG rc = ResolveQmgrAddress(qmName, ip, sizeof ip, &port);
    if (rc != 0) {
        SetResult(pCompCode, pReason, MQCC_FAILED, rc);
        return;
    }
    int viaAddr = PLGetEnv("MQSIM_ADDR") != nullptr && PLGetEnv("MQSIM_ADDR")[0] != '\0';
    PLNetStart();
    PLSOCKET s;
    if (PLConnectTcp(ip, port, 5000, &s) != 0) {
        SetResult(pCompCode, pReason, MQCC_FAILED, MQRC_Q_MGR_NOT_AVAILABLE);
        return;
    }
    CONNREF ref = std::make_shared<LCONN>();
    LCONN *c = ref.get();
    c->sock = s;
    c->cnoOptions = isConnx ? cnoOptions : 0;
    c->owner = std::this_thread::get_id();
    c->nextTag = 0;
    c->waitTag = 0;
    c->replyReady = 0;
    c->replyBuf = nullptr;
    c->spare = nullptr;
    c->broken = 0;
    c->brokenReason = 0;
    c->closing = 0;
    c->readerEnabled = 0;
    c->started = c->suspended = c->callbackRunning = 0;
    c->connectionArea = nullptr;
    c->dispatchStop = c->eventsStop = 0;
    c->evFn = nullptr;
    c->evArea = nullptr;
    c->reader = std::thread(ReaderMain, ref);

    char user[64];
    PLUserName(user, sizeof user);
    char field[MQ_Q_MGR_NAME_LENGTH];
    WBUF w = {};
    WireBegin(&w, WIRE_T_CONNECT, 0);
    WirePutI32(&w, viaAddr);
    WirePutI32(&w, isConnx);
    WireSetField(field, sizeof field, qmName);
    WirePutBytes(&w, field, sizeof field);
    WirePutI32(&w, cnoVersion);
    WirePutI32(&w, cnoOptions);
    WireSetField(field, MQ_APPL_NAME_LENGTH, applName);
    WirePutBytes(&w, field, MQ_APPL_NAME_LENGTH);
    WireSetField(field, MQ_USER_ID_LENGTH, user);
    WirePutBytes(&w, field, MQ_USER_ID_LENGTH);
    WirePutI32(&w, 0); /* application type: the queue manager's platform */
    uint8_t *reply = nullptr;
    size_t len = 0;
    rc = 0;
    {
        std::lock_guard<std::mutex> call(c->callMutex);
        rc = Transact(c, &w, &reply, &len);
    }
    WireFree(&w);
    MQLONG cc = MQCC_FAILED;
    char channel[MQ_CHANNEL_NAME_LENGTH];
    MQLONG connId = 0;
    if (rc == 0) {
        RBUF r;
        WireReadInit(&r, reply, len);
        cc = WireGetI32(&r);
        rc = WireGetI32(&r);
        WireGetBytes(&r, c->qmName, sizeof c->qmName);
        WireGetBytes(&r, channel, sizeof channel);
        WireGetI32(&r); /* platform */
        connId = WireGetI32(&r);
        if (r.bad)
            cc = MQCC_FAILED, rc = MQRC_CONNECTION_BROKEN;
        free(reply);
    } else {
        rc = MQRC_Q_MGR_NOT_AVAILABLE;
    }
    if (cc == MQCC_FAILED) {
        {
            std::lock_guard<std::mutex> g(c->mu);
            c->closing = 1;
            c->cv.notify_all();
        }
        PLShutdownSocket(c->sock);
        c->reader.join();
        SetResult(pCompCode, pReason, MQCC_FAILED, rc);
        return;
    }
    /* Client connection: the channel definition gets its name. */
    char chl[MQ_CHANNEL_NAME_LENGTH + 1];
    WireGetField(chl, channel, sizeof channel);
    if (isConnx && cnoVersion >= MQCNO_VERSION_2 && chl[0] != '\0') {
        MQCD *cd = (MQCD *)pCno->ClientConnPtr;
        if (cd == nullptr && pCno->ClientConnOffset > 0)
            cd = (MQCD *)((char *)pCno + pCno->ClientConnOffset);
        if (cd != nullptr)
            WireSetField(cd->ChannelName, sizeof cd->ChannelName, chl);
    }
    if (isConnx && cnoVersion >= MQCNO_VERSION_5) {
        memset(pCno->ConnectionId, 0, sizeof pCno->ConnectionId);
        memcpy(pCno->ConnectionId, "MQCT", 4);
        memcpy(pCno->ConnectionId + 4, c->qmName, 12);
        for (int i = 0; i < 4; i++)
            pCno->ConnectionId[20 + i] = (MQBYTE)(connId >> (8 * (3 - i)));
    }
    {
        std::lock_guard<std::mutex> g(ConnTableMutex);
        c->hconn = NextHconn++;
        ConnTable[c->hconn] = ref;
    }
    *pHconn = c->hconn;
    SetResult(pCompCode, pReason, cc, rc);
}

#define MQSIM_VERB extern "C" PL_EXPORT void MQENTRY

MQSIM_VERB MQCONNX(PMQCHAR pQMgrName, PMQCNO pConnectOpts, PMQHCONN pHconn, PMQLONG pCompCode,
                   PMQLONG pReason) {
    ConnectCommon(pQMgrName, pConnectOpts, 1, pHconn, pCompCode, pReason);
}

MQSIM_VERB MQCONN(PMQCHAR pQMgrName, PMQHCONN pHconn, PMQLONG pCompCode, PMQLONG pReason) {
    ConnectCommon(pQMgrName, nullptr, 0, pHconn, pCompCode, pReason);
}

MQSIM_VERB MQDISC(PMQHCONN pHconn, PMQLONG pCompCode, PMQLONG pReason) {
    if (pHconn == nullptr) {
        SetResult(pCompCode, pReason, MQCC_FAILED, MQRC_HCONN_ERROR);
        return;
    }
    CONNREF ref;
    {
        std::lock_guard<std::mutex> g(ConnTableMutex);
        auto it = ConnTable.find(*pHconn);
        if (it == ConnTable.end()) {
            SetResult(pCompCode, pReason, MQCC_FAILED, MQRC_HCONN_ERROR);
            return;
        }
        ref = it->second;
    }
    LCONN *c = ref.get();
    std::thread::id me = std::this_thread::get_id();
    if ((c->cnoOptions & (MQCNO_HANDLE_SHARE_BLOCK | MQCNO_HANDLE_SHARE_NO_BLOCK)) == 0 &&
        me != c->owner && me != c->dispatchId && me != c->eventsId) {
        SetResult(pCompCode, pReason, MQCC_FAILED, MQRC_HCONN_ERROR);
        return;
    }
    {
        std::lock_guard<std::mutex> g(ConnTableMutex);
        if (ConnTable.erase(*pHconn) == 0) {
            SetResult(pCompCode, pReason, MQCC_FAILED, MQRC_HCONN_ERROR);
            return; /* another thread disconnected it first */
        }
    }
    /* Consumption ends after a running callback returns. */
    {
        std::unique_lock<std::mutex> g(c->mu);
        c->started = 0;
        if (me != c->dispatchId)
            c->cv.wait(g, [c] { return !c->callbackRunning; });
    }
    MQLONG rc = 0;
    {
        std::lock_guard<std::mutex> call(c->callMutex);
        {
            /* the daemon closes the socket after its reply: no event for that */
            std::lock_guard<std::mutex> g(c->mu);
            c->closing = 1;
            c->cv.notify_all();
        }
        WBUF w = {};
        WireBegin(&w, WIRE_T_DISC, 0);
        uint8_t *reply = nullptr;
        size_t len = 0;
        rc = Transact(c, &w, &reply, &len);
        WireFree(&w);
        free(reply);
    }
    PLShutdownSocket(c->sock);
    if (c->reader.joinable())
        c->reader.join();
    {
        std::lock_guard<std::mutex> g(c->mu);
        c->dispatchStop = 1;
        c->eventsStop = 1;
        c->cv.notify_all();
    }
    if (c->dispatch.joinable()) {
        if (me == c->dispatchId)
            c->dispatch.detach();
        else
            c->dispatch.join();
    }
    if (c->events.joinable()) {
        if (me == c->eventsId)
            c->events.detach();
        else
            c->events.join();
    }
    *pHconn = MQHC_UNUSABLE_HCONN;
    if (rc != 0)
        SetResult(pCompCode, pReason, MQCC_FAILED, rc);
    else
        SetResult(pCompCode, pReason, MQCC_OK, MQRC_NONE);
}

/* Read the common status of a reply. */
static void ReadStatus(RBUF *r, MQLONG *cc, MQLONG *rc) {
    *cc = WireGetI32(r);
    *rc = WireGetI32(r);
}

MQSIM_VERB MQOPEN(MQHCONN Hconn, PMQOD pObjDesc, MQLONG Options, PMQHOBJ pHobj, PMQLONG pCompCode,
                  PMQLONG pReason) {
    CONNREF ref;
    std::unique_lock<std::mutex> call;
    MQLONG rc = FindConn(Hconn, &ref, &call);
    if (rc != 0) {
        SetResult(pCompCode, pReason, MQCC_FAILED, rc);
        return;
    }
    if (pObjDesc == nullptr || memcmp(pObjDesc->StrucId, MQOD_STRUC_ID, 4) != 0 ||
        pObjDesc->Version < MQOD_VERSION_1 || pObjDesc->Version > MQOD_VERSION_4) {
        SetResult(pCompCode, pReason, MQCC_FAILED, MQRC_OD_ERROR);
        return;
    }
    if (pHobj == nullptr) {
        SetResult(pCompCode, pReason, MQCC_FAILED, MQRC_HOBJ_ERROR);
        return;
    }
    LCONN *c = ref.get();
    WBUF w = {};
    WireBegin(&w, WIRE_T_OPEN, 0);
    WirePutI32(&w, Options);
    WirePutI32(&w, pObjDesc->ObjectType);
    WirePutBytes(&w, pObjDesc->ObjectName, sizeof pObjDesc->ObjectName);
    WirePutBytes(&w, pObjDesc->ObjectQMgrName, sizeof pObjDesc->ObjectQMgrName);
    WirePutBytes(&w, pObjDesc->DynamicQName, sizeof pObjDesc->DynamicQName);
    uint8_t *reply = nullptr;
    size_t len = 0;
    rc = Transact(c, &w, &reply, &len);
    WireFree(&w);
    if (rc != 0) {
        SetResult(pCompCode, pReason, MQCC_FAILED, rc);
        return;
    }
    RBUF r;
    WireReadInit(&r, reply, len);
    MQLONG cc;
    ReadStatus(&r, &cc, &rc);
    MQHOBJ hobj = WireGetI32(&r);
    char objName[MQ_Q_NAME_LENGTH], resQ[MQ_Q_NAME_LENGTH], resQm[MQ_Q_MGR_NAME_LENGTH];
    WireGetBytes(&r, objName, sizeof objName);
    WireGetBytes(&r, resQ, sizeof resQ);
    WireGetBytes(&r, resQm, sizeof resQm);
    MQLONG created = WireGetI32(&r);
    int bad = r.bad;
    ReturnBuffer(c, reply);
    if (bad) {
        SetResult(pCompCode, pReason, MQCC_FAILED, MQRC_CONNECTION_BROKEN);
        return;
    }
    if (cc != MQCC_FAILED) {
        *pHobj = hobj;
        if (created)
            memcpy(pObjDesc->ObjectName, objName, sizeof objName);
        if (pObjDesc->Version >= MQOD_VERSION_3) {
            memcpy(pObjDesc->ResolvedQName, resQ, sizeof resQ);
            memcpy(pObjDesc->ResolvedQMgrName, resQm, sizeof resQm);
        }
        LHANDLE hd;
        memset((void *)&hd, 0, sizeof hd);
        hd.options = Options;
        hd.isQmgr = pObjDesc->ObjectType == MQOT_Q_MGR;
        memcpy(hd.resolvedQName, resQ, sizeof resQ);
        std::lock_guard<std::mutex> g(c->mu);
        c->handles[hobj] = hd;
    } else {
        *pHobj = MQHO_UNUSABLE_HOBJ;
    }
    SetResult(pCompCode, pReason, cc, rc);
}

MQSIM_VERB MQCLOSE(MQHCONN Hconn, PMQHOBJ pHobj, MQLONG Options, PMQLONG pCompCode,
                   PMQLONG pReason) {
    CONNREF ref;
    std::unique_lock<std::mutex> call;
    MQLONG rc = FindConn(Hconn, &ref, &call);
    if (rc == 0 && pHobj == nullptr)
        rc = MQRC_HOBJ_ERROR;
    if (rc != 0) {
        SetResult(pCompCode, pReason, MQCC_FAILED, rc);
        return;
    }
    LCONN *c = ref.get();
    WBUF w = {};
    WireBegin(&w, WIRE_T_CLOSE, 0);
    WirePutI32(&w, *pHobj);
    WirePutI32(&w, Options);
    uint8_t *reply = nullptr;
    size_t len = 0;
    rc = Transact(c, &w, &reply, &len);
    WireFree(&w);
    if (rc != 0) {
        SetResult(pCompCode, pReason, MQCC_FAILED, rc);
        return;
    }
    RBUF r;
    WireReadInit(&r, reply, len);
    MQLONG cc;
    ReadStatus(&r, &cc, &rc);
    ReturnBuffer(c, reply);
    if (cc == MQCC_OK) {
        std::lock_guard<std::mutex> g(c->mu);
        c->handles.erase(*pHobj);
        *pHobj = MQHO_UNUSABLE_HOBJ;
    }
    SetResult(pCompCode, pReason, cc, rc);
}

/* Copy the context of a saved message into md as MQPMO_PASS_* asks.
 * Returns 0 or MQRC_CONTEXT_HANDLE_ERROR. mu held. */
static MQLONG PassContext(LCONN *c, const MQPMO *pmo, MQMD *md) {
    if (!(pmo->Options & (MQPMO_PASS_IDENTITY_CONTEXT | MQPMO_PASS_ALL_CONTEXT)))
        return 0;
    auto it = c->handles.find(pmo->Context);
    if (it == c->handles.end() || !(it->second.options & MQOO_SAVE_ALL_CONTEXT))
        return MQRC_CONTEXT_HANDLE_ERROR;
    MQMD saved = MQMD_DEFAULT;
    if (it->second.hasSaved) {
        saved = it->second.saved;
    } else {
        /* nothing taken through it yet: the context is blank */
        WireSetField(saved.UserIdentifier, sizeof saved.UserIdentifier, "");
        WireSetField(saved.ApplIdentityData, sizeof saved.ApplIdentityData, "");
        WireSetField(saved.PutApplName, sizeof saved.PutApplName, "");
        WireSetField(saved.PutDate, sizeof saved.PutDate, "");
        WireSetField(saved.PutTime, sizeof saved.PutTime, "");
        WireSetField(saved.ApplOriginData, sizeof saved.ApplOriginData, "");
    }
    memcpy(md->UserIdentifier, saved.UserIdentifier, sizeof md->UserIdentifier);
    memcpy(md->AccountingToken, saved.AccountingToken, sizeof md->AccountingToken);
    memcpy(md->ApplIdentityData, saved.ApplIdentityData, sizeof md->ApplIdentityData);
    if (pmo->Options & MQPMO_PASS_ALL_CONTEXT) {
        md->PutApplType = saved.PutApplType;
        memcpy(md->PutApplName, saved.PutApplName, sizeof md->PutApplName);
        memcpy(md->PutDate, saved.PutDate, sizeof md->PutDate);
        memcpy(md->PutTime, saved.PutTime, sizeof md->PutTime);
        memcpy(md->ApplOriginData, saved.ApplOriginData, sizeof md->ApplOriginData);
    }
    return 0;
}

static MQLONG CheckPmo(const MQPMO *pmo) {
    if (pmo == nullptr || memcmp(pmo->StrucId, MQPMO_STRUC_ID, 4) != 0 ||
        pmo->Version < MQPMO_VERSION_1 || pmo->Version > MQPMO_VERSION_3)
        return MQRC_PMO_ERROR;
    return 0;
}

/* MQPUT and MQPUT1 after their own checks: od null for MQPUT. */
static void PutCommon(MQHCONN Hconn, MQHOBJ Hobj, PMQOD od, PMQMD pMsgDesc, PMQPMO pmo,
                      MQLONG BufferLength, PMQVOID pBuffer, PMQLONG pCompCode, PMQLONG pReason) {
    CONNREF ref;
    std::unique_lock<std::mutex> call;
    MQLONG rc = FindConn(Hconn, &ref, &call);
    if (rc == 0 && od != nullptr &&
        (memcmp(od->StrucId, MQOD_STRUC_ID, 4) != 0 || od->Version < MQOD_VERSION_1 ||
         od->Version > MQOD_VERSION_4))
        rc = MQRC_OD_ERROR;
    if (rc == 0)
        rc = CheckMd(pMsgDesc);
    if (rc == 0)
        rc = CheckPmo(pmo);
    if (rc == 0 && BufferLength < 0)
        rc = MQRC_BUFFER_LENGTH_ERROR;
    if (rc == 0 && BufferLength > 0 && pBuffer == nullptr)
        rc = MQRC_BUFFER_ERROR;
    LCONN *c = ref.get();
    MQMD md;
    if (rc == 0) {
        LoadMd(&md, pMsgDesc);
        std::lock_guard<std::mutex> g(c->mu);
        rc = PassContext(c, pmo, &md);
    }
    if (rc != 0) {
        SetResult(pCompCode, pReason, MQCC_FAILED, rc);
        return;
    }
    WBUF w = {};
    if (od == nullptr) {
        WireBegin(&w, WIRE_T_PUT, 0);
        WirePutI32(&w, Hobj);
    } else {
        WireBegin(&w, WIRE_T_PUT1, 0);
        WirePutI32(&w, od->ObjectType);
        WirePutBytes(&w, od->ObjectName, sizeof od->ObjectName);
        WirePutBytes(&w, od->ObjectQMgrName, sizeof od->ObjectQMgrName);
    }
    WirePutI32(&w, pmo->Options);
    WirePutBytes(&w, &md, sizeof md);
    WirePutBlob(&w, pBuffer, (uint32_t)BufferLength);
    uint8_t *reply = nullptr;
    size_t len = 0;
    rc = Transact(c, &w, &reply, &len);
    WireFree(&w);
    if (rc != 0) {
        SetResult(pCompCode, pReason, MQCC_FAILED, rc);
        return;
    }
    RBUF r;
    WireReadInit(&r, reply, len);
    MQLONG cc;
    ReadStatus(&r, &cc, &rc);
    MQMD out;
    WireGetBytes(&r, &out, sizeof out);
    char resQ[MQ_Q_NAME_LENGTH], resQm[MQ_Q_MGR_NAME_LENGTH];
    WireGetBytes(&r, resQ, sizeof resQ);
    WireGetBytes(&r, resQm, sizeof resQm);
    int bad = r.bad;
    ReturnBuffer(c, reply);
    if (bad) {
        SetResult(pCompCode, pReason, MQCC_FAILED, MQRC_CONNECTION_BROKEN);
        return;
    }
    if (cc != MQCC_FAILED) {
        StoreMd(pMsgDesc, &out);
        memcpy(pmo->ResolvedQName, resQ, sizeof resQ);
        memcpy(pmo->ResolvedQMgrName, resQm, sizeof resQm);
        if (od != nullptr && od->Version >= MQOD_VERSION_3) {
            memcpy(od->ResolvedQName, resQ, sizeof resQ);
            memcpy(od->ResolvedQMgrName, resQm, sizeof resQm);
        }
    }
    SetResult(pCompCode, pReason, cc, rc);
}

MQSIM_VERB MQPUT(MQHCONN Hconn, MQHOBJ Hobj, PMQMD pMsgDesc, PMQPMO pPutMsgOpts,
                 MQLONG BufferLength, PMQVOID pBuffer, PMQLONG pCompCode, PMQLONG pReason) {
    PutCommon(Hconn, Hobj, nullptr, pMsgDesc, pPutMsgOpts, BufferLength, pBuffer, pCompCode,
              pReason);
}

MQSIM_VERB MQPUT1(MQHCONN Hconn, PMQOD pObjDesc, PMQMD pMsgDesc, PMQPMO pPutMsgOpts,
                  MQLONG BufferLength, PMQVOID pBuffer, PMQLONG pCompCode, PMQLONG pReason) {
    if (pObjDesc == nullptr) {
        SetResult(pCompCode, pReason, MQCC_FAILED, MQRC_OD_ERROR);
        return;
    }
    PutCommon(Hconn, MQHO_NONE, pObjDesc, pMsgDesc, pPutMsgOpts, BufferLength, pBuffer, pCompCode,
              pReason);
}

MQSIM_VERB MQGET(MQHCONN Hconn, MQHOBJ Hobj, PMQMD pMsgDesc, PMQGMO pGetMsgOpts,
                 MQLONG BufferLength, PMQVOID pBuffer, PMQLONG pDataLength, PMQLONG pCompCode,
                 PMQLONG pReason) {
    CONNREF ref;
    std::unique_lock<std::mutex> call;
    MQLONG rc = FindConn(Hconn, &ref, &call);
    if (rc == 0)
        rc = CheckMd(pMsgDesc);
    if (rc == 0 &&
        (pGetMsgOpts == nullptr || memcmp(pGetMsgOpts->StrucId, MQGMO_STRUC_ID, 4) != 0 ||
         pGetMsgOpts->Version < MQGMO_VERSION_1 || pGetMsgOpts->Version > MQGMO_VERSION_4))
        rc = MQRC_GMO_ERROR;
    if (rc == 0 && BufferLength < 0)
        rc = MQRC_BUFFER_LENGTH_ERROR;
    if (rc == 0 && BufferLength > 0 && pBuffer == nullptr)
        rc = MQRC_BUFFER_ERROR;
    if (rc == 0 && pDataLength == nullptr)
        rc = MQRC_DATA_LENGTH_ERROR;
    LCONN *c = ref.get();
    if (rc == 0) {
        std::lock_guard<std::mutex> g(c->mu);
        if (c->started && std::this_thread::get_id() != c->dispatchId)
            rc = MQRC_HCONN_ASYNC_ACTIVE;
    }
    if (rc != 0) {
        SetResult(pCompCode, pReason, MQCC_FAILED, rc);
        return;
    }
    MQMD match;
    LoadMd(&match, pMsgDesc);
    MQLONG matchOptions = pGetMsgOpts->Version >= MQGMO_VERSION_2
                              ? pGetMsgOpts->MatchOptions
                              : (MQMO_MATCH_MSG_ID | MQMO_MATCH_CORREL_ID);
    WBUF w = {};
    WireBegin(&w, WIRE_T_GET, 0);
    WirePutI32(&w, Hobj);
    WirePutI32(&w, pGetMsgOpts->Options);
    WirePutI32(&w, pGetMsgOpts->WaitInterval);
    WirePutI32(&w, matchOptions);
    WirePutI32(&w, BufferLength);
    WirePutBytes(&w, &match, sizeof match);
    uint8_t *reply = nullptr;
    size_t len = 0;
    rc = Transact(c, &w, &reply, &len);
    WireFree(&w);
    if (rc != 0) {
        SetResult(pCompCode, pReason, MQCC_FAILED, rc);
        return;
    }
    RBUF r;
    WireReadInit(&r, reply, len);
    MQLONG cc;
    ReadStatus(&r, &cc, &rc);
    MQMD md;
    WireGetBytes(&r, &md, sizeof md);
    MQLONG dataLength = WireGetI32(&r);
    const uint8_t *data;
    uint32_t n;
    WireGetBlob(&r, &data, &n);
    char resQ[MQ_Q_NAME_LENGTH];
    WireGetBytes(&r, resQ, sizeof resQ);
    if (r.bad || n > (uint32_t)BufferLength) {
        ReturnBuffer(c, reply);
        SetResult(pCompCode, pReason, MQCC_FAILED, MQRC_CONNECTION_BROKEN);
        return;
    }
    int gotMessage = cc != MQCC_FAILED || rc == MQRC_TRUNCATED_MSG_FAILED;
    if (gotMessage) {
        if (n > 0)
            memcpy(pBuffer, data, n);
        *pDataLength = dataLength;
        StoreMd(pMsgDesc, &md);
        memcpy(pGetMsgOpts->ResolvedQName, resQ, sizeof resQ);
        if (pGetMsgOpts->Version >= MQGMO_VERSION_3)
            pGetMsgOpts->ReturnedLength = (MQLONG)n;
        int removed = rc != MQRC_TRUNCATED_MSG_FAILED &&
                      !(pGetMsgOpts->Options & (MQGMO_BROWSE_FIRST | MQGMO_BROWSE_NEXT));
        std::lock_guard<std::mutex> g(c->mu);
        auto it = c->handles.find(Hobj);
        if (removed && it != c->handles.end() && (it->second.options & MQOO_SAVE_ALL_CONTEXT)) {
            it->second.saved = md;
            it->second.hasSaved = 1;
        }
    } else {
        *pDataLength = 0;
        if (pGetMsgOpts->Version >= MQGMO_VERSION_3)
            pGetMsgOpts->ReturnedLength = MQRL_UNDEFINED;
    }
    ReturnBuffer(c, reply);
    SetResult(pCompCode, pReason, cc, rc);
}

/* MQINQ and MQSET share their argument checks. */
static MQLONG CheckAttrArgs(MQLONG SelectorCount, PMQLONG pSelectors, MQLONG IntAttrCount,
                            PMQLONG pIntAttrs, MQLONG CharAttrLength, PMQCHAR pCharAttrs) {
    if (SelectorCount < 0)
        return MQRC_SELECTOR_COUNT_ERROR;
    if (SelectorCount > 256)
        return MQRC_SELECTOR_LIMIT_EXCEEDED;
    if (SelectorCount > 0 && pSelectors == nullptr)
        return MQRC_SELECTOR_ERROR;
    if (IntAttrCount < 0 || IntAttrCount > 256)
        return MQRC_INT_ATTR_COUNT_ERROR;
    if (IntAttrCount > 0 && pIntAttrs == nullptr)
        return MQRC_INT_ATTRS_ARRAY_ERROR;
    if (CharAttrLength < 0 || CharAttrLength > 1048576)
        return MQRC_CHAR_ATTR_LENGTH_ERROR;
    if (CharAttrLength > 0 && pCharAttrs == nullptr)
        return MQRC_CHAR_ATTRS_ERROR;
    return 0;
}

MQSIM_VERB MQINQ(MQHCONN Hconn, MQHOBJ Hobj, MQLONG SelectorCount, PMQLONG pSelectors,
                 MQLONG IntAttrCount, PMQLONG pIntAttrs, MQLONG CharAttrLength, PMQCHAR pCharAttrs,
                 PMQLONG pCompCode, PMQLONG pReason) {
    CONNREF ref;
    std::unique_lock<std::mutex> call;
    MQLONG rc = FindConn(Hconn, &ref, &call);
    if (rc == 0)
        rc = CheckAttrArgs(SelectorCount, pSelectors, IntAttrCount, pIntAttrs, CharAttrLength,
                           pCharAttrs);
    if (rc != 0) {
        SetResult(pCompCode, pReason, MQCC_FAILED, rc);
        return;
    }
    LCONN *c = ref.get();
    WBUF w = {};
    WireBegin(&w, WIRE_T_INQ, 0);
    WirePutI32(&w, Hobj);
    WirePutI32(&w, SelectorCount);
    for (MQLONG i = 0; i < SelectorCount; i++)
        WirePutI32(&w, pSelectors[i]);
    WirePutI32(&w, IntAttrCount);
    WirePutI32(&w, CharAttrLength);
    uint8_t *reply = nullptr;
    size_t len = 0;
    rc = Transact(c, &w, &reply, &len);
    WireFree(&w);
    if (rc != 0) {
        SetResult(pCompCode, pReason, MQCC_FAILED, rc);
        return;
    }
    RBUF r;
    WireReadInit(&r, reply, len);
    MQLONG cc;
    ReadStatus(&r, &cc, &rc);
    MQLONG nInts = WireGetI32(&r);
    if (r.bad || nInts < 0 || nInts > IntAttrCount) {
        ReturnBuffer(c, reply);
        SetResult(pCompCode, pReason, MQCC_FAILED, MQRC_CONNECTION_BROKEN);
        return;
    }
    for (MQLONG i = 0; i < nInts; i++)
        pIntAttrs[i] = WireGetI32(&r);
    const uint8_t *chars;
    uint32_t n;
    WireGetBlob(&r, &chars, &n);
    if (r.bad || n > (uint32_t)CharAttrLength) {
        ReturnBuffer(c, reply);
        SetResult(pCompCode, pReason, MQCC_FAILED, MQRC_CONNECTION_BROKEN);
        return;
    }
    if (n > 0)
        memcpy(pCharAttrs, chars, n);
    ReturnBuffer(c, reply);
    SetResult(pCompCode, pReason, cc, rc);
}

MQSIM_VERB MQSET(MQHCONN Hconn, MQHOBJ Hobj, MQLONG SelectorCount, PMQLONG pSelectors,
                 MQLONG IntAttrCount, PMQLONG pIntAttrs, MQLONG CharAttrLength, PMQCHAR pCharAttrs,
                 PMQLONG pCompCode, PMQLONG pReason) {
    CONNREF ref;
    std::unique_lock<std::mutex> call;
    MQLONG rc = FindConn(Hconn, &ref, &call);
    if (rc == 0)
        rc = CheckAttrArgs(SelectorCount, pSelectors, IntAttrCount, pIntAttrs, CharAttrLength,
                           pCharAttrs);
    if (rc != 0) {
        SetResult(pCompCode, pReason, MQCC_FAILED, rc);
        return;
    }
    LCONN *c = ref.get();
    WBUF w = {};
    WireBegin(&w, WIRE_T_SET, 0);
    WirePutI32(&w, Hobj);
    WirePutI32(&w, SelectorCount);
    for (MQLONG i = 0; i < SelectorCount; i++)
        WirePutI32(&w, pSelectors[i]);
    WirePutI32(&w, IntAttrCount);
    for (MQLONG i = 0; i < IntAttrCount; i++)
        WirePutI32(&w, pIntAttrs[i]);
    WirePutBlob(&w, pCharAttrs, (uint32_t)CharAttrLength);
    uint8_t *reply = nullptr;
    size_t len = 0;
    rc = Transact(c, &w, &reply, &len);
    WireFree(&w);
    if (rc != 0) {
        SetResult(pCompCode, pReason, MQCC_FAILED, rc);
        return;
    }
    RBUF r;
    WireReadInit(&r, reply, len);
    MQLONG cc;
    ReadStatus(&r, &cc, &rc);
    ReturnBuffer(c, reply);
    SetResult(pCompCode, pReason, cc, rc);
}

/* MQCMIT and MQBACK. */
static void EndUow(MQHCONN Hconn, uint16_t type, PMQLONG pCompCode, PMQLONG pReason) {
    CONNREF ref;
    std::unique_lock<std::mutex> call;
    MQLONG rc = FindConn(Hconn, &ref, &call);
    if (rc != 0) {
        SetResult(pCompCode, pReason, MQCC_FAILED, rc);
        return;
    }
    LCONN *c = ref.get();
    WBUF w = {};
    WireBegin(&w, type, 0);
    uint8_t *reply = nullptr;
    size_t len = 0;
    rc = Transact(c, &w, &reply, &len);
    WireFree(&w);
    if (rc != 0) {
        SetResult(pCompCode, pReason, MQCC_FAILED, rc);
        return;
    }
    RBUF r;
    WireReadInit(&r, reply, len);
    MQLONG cc;
    ReadStatus(&r, &cc, &rc);
    ReturnBuffer(c, reply);
    SetResult(pCompCode, pReason, cc, rc);
}

MQSIM_VERB MQCMIT(MQHCONN Hconn, PMQLONG pCompCode, PMQLONG pReason) {
    EndUow(Hconn, WIRE_T_CMIT, pCompCode, pReason);
}

MQSIM_VERB MQBACK(MQHCONN Hconn, PMQLONG pCompCode, PMQLONG pReason) {
    EndUow(Hconn, WIRE_T_BACK, pCompCode, pReason);
}

MQSIM_VERB MQCB(MQHCONN Hconn, MQLONG Operation, PMQCBD pCallbackDesc, MQHOBJ Hobj, PMQMD pMsgDesc,
                PMQGMO pGetMsgOpts, PMQLONG pCompCode, PMQLONG pReason) {
    CONNREF ref;
    std::unique_lock<std::mutex> call;
    MQLONG rc = FindConn(Hconn, &ref, &call);
    if (rc != 0) {
        SetResult(pCompCode, pReason, MQCC_FAILED, rc);
        return;
    }
    LCONN *c = ref.get();
    MQLONG cbType;
    if (pCallbackDesc != nullptr) {
        if (memcmp(pCallbackDesc->StrucId, MQCBD_STRUC_ID, 4) != 0 ||
            pCallbackDesc->Version != MQCBD_VERSION_1)
            rc = MQRC_CBD_ERROR;
        cbType = pCallbackDesc->CallbackType;
    } else if (Operation == MQOP_REGISTER) {
        rc = MQRC_CBD_ERROR;
        cbType = 0;
    } else {
        cbType = Hobj == MQHO_NONE ? MQCBT_EVENT_HANDLER : MQCBT_MESSAGE_CONSUMER;
    }
    if (rc == 0 && cbType != MQCBT_MESSAGE_CONSUMER && cbType != MQCBT_EVENT_HANDLER)
        rc = MQRC_CALLBACK_TYPE_ERROR;
    if (rc == 0 && Operation != MQOP_REGISTER && Operation != MQOP_DEREGISTER &&
        Operation != MQOP_SUSPEND && Operation != MQOP_RESUME)
        rc = MQRC_OPERATION_ERROR;
    if (rc == 0 && Operation == MQOP_REGISTER) {
        if (pCallbackDesc->CallbackFunction == nullptr)
            rc = MQRC_CALLBACK_ROUTINE_ERROR;
        else if (pCallbackDesc->MaxMsgLength < MQCBD_FULL_MSG_LENGTH)
            rc = MQRC_MAX_MSG_LENGTH_ERROR;
    }
    MQMD md = MQMD_DEFAULT;
    MQGMO gmo = MQGMO_DEFAULT;
    if (rc == 0 && cbType == MQCBT_MESSAGE_CONSUMER && Operation == MQOP_REGISTER) {
        if (pMsgDesc != nullptr) {
            rc = CheckMd(pMsgDesc);
            if (rc == 0)
                LoadMd(&md, pMsgDesc);
        }
        if (rc == 0 && pGetMsgOpts != nullptr) {
            if (memcmp(pGetMsgOpts->StrucId, MQGMO_STRUC_ID, 4) != 0 ||
                pGetMsgOpts->Version < MQGMO_VERSION_1 || pGetMsgOpts->Version > MQGMO_VERSION_4)
                rc = MQRC_GMO_ERROR;
            else {
                size_t n = pGetMsgOpts->Version == 1   ? (size_t)MQGMO_LENGTH_1
                           : pGetMsgOpts->Version == 2 ? (size_t)MQGMO_LENGTH_2
                           : pGetMsgOpts->Version == 3 ? (size_t)MQGMO_LENGTH_3
                                                       : sizeof(MQGMO);
                memcpy(&gmo, pGetMsgOpts, n);
            }
        }
        if (rc == 0) {
            std::lock_guard<std::mutex> g(c->mu);
            if (c->handles.find(Hobj) == c->handles.end())
                rc = MQRC_HOBJ_ERROR;
        }
    }
    if (rc != 0) {
        SetResult(pCompCode, pReason, MQCC_FAILED, rc);
        return;
    }
    MQLONG matchOptions = gmo.Version >= MQGMO_VERSION_2
                              ? gmo.MatchOptions
                              : (MQMO_MATCH_MSG_ID | MQMO_MATCH_CORREL_ID);
    /* A consumer is in place before the daemon may push its first message
     * (on a started connection that can come ahead of the reply). */
    LHANDLE before;
    memset((void *)&before, 0, sizeof before);
    int tentative = cbType == MQCBT_MESSAGE_CONSUMER && Operation == MQOP_REGISTER;
    if (tentative) {
        std::lock_guard<std::mutex> g(c->mu);
        LHANDLE &hd = c->handles[Hobj];
        before = hd;
        hd.consumer = 1;
        hd.suspended = 0;
        hd.cbFn = (MQCB_FUNCTION *)pCallbackDesc->CallbackFunction;
        hd.cbArea = pCallbackDesc->CallbackArea;
        hd.cbMaxMsgLength = pCallbackDesc->MaxMsgLength;
        hd.cbGmo = gmo;
        hd.cbMd = md;
    }
    WBUF w = {};
    WireBegin(&w, WIRE_T_CB, 0);
    WirePutI32(&w, Operation);
    WirePutI32(&w, cbType);
    WirePutI32(&w, pCallbackDesc ? pCallbackDesc->Options : 0);
    WirePutI32(&w, cbType == MQCBT_EVENT_HANDLER ? MQHO_NONE : Hobj);
    WirePutI32(&w, pCallbackDesc ? pCallbackDesc->MaxMsgLength : MQCBD_FULL_MSG_LENGTH);
    WirePutI32(&w, gmo.Options);
    WirePutI32(&w, matchOptions);
    WirePutBytes(&w, &md, sizeof md);
    uint8_t *reply = nullptr;
    size_t len = 0;
    rc = Transact(c, &w, &reply, &len);
    WireFree(&w);
    MQLONG cc = MQCC_FAILED;
    if (rc == 0) {
        RBUF r;
        WireReadInit(&r, reply, len);
        ReadStatus(&r, &cc, &rc);
        ReturnBuffer(c, reply);
    }
    if (cc != MQCC_OK && tentative) {
        std::lock_guard<std::mutex> g(c->mu);
        auto it = c->handles.find(Hobj);
        if (it != c->handles.end())
            it->second = before;
    }
    if (cc == MQCC_OK) {
        std::lock_guard<std::mutex> g(c->mu);
        if (cbType == MQCBT_EVENT_HANDLER) {
            if (Operation == MQOP_REGISTER) {
                c->evFn = (MQCB_FUNCTION *)pCallbackDesc->CallbackFunction;
                c->evArea = pCallbackDesc->CallbackArea;
                /* events may now come at any time: the reader thread reads */
                if (!c->readerEnabled) {
                    c->readerEnabled = 1;
                    c->cv.notify_all();
                }
                if (!c->events.joinable()) {
                    c->events = std::thread(EventsMain, ref);
                    c->eventsId = c->events.get_id();
                }
            } else if (Operation == MQOP_DEREGISTER) {
                c->evFn = nullptr;
            }
        } else {
            LHANDLE &hd = c->handles[Hobj];
            if (Operation == MQOP_REGISTER) {
                hd.consumer = 1;
                hd.suspended = 0;
                hd.cbFn = (MQCB_FUNCTION *)pCallbackDesc->CallbackFunction;
                hd.cbArea = pCallbackDesc->CallbackArea;
                hd.cbMaxMsgLength = pCallbackDesc->MaxMsgLength;
                hd.cbGmo = gmo;
                hd.cbMd = md;
            } else if (Operation == MQOP_DEREGISTER) {
                hd.consumer = 0;
            } else {
                hd.suspended = Operation == MQOP_SUSPEND;
            }
        }
    }
    SetResult(pCompCode, pReason, cc, rc);
}

MQSIM_VERB MQCTL(MQHCONN Hconn, MQLONG Operation, PMQCTLO pControlOpts, PMQLONG pCompCode,
                 PMQLONG pReason) {
    CONNREF ref;
    MQLONG rc;
    {
        /* find only: STOP must not hold the call lock while it waits */
        std::unique_lock<std::mutex> probe;
        rc = FindConn(Hconn, &ref, &probe);
    }
    if (rc != 0) {
        SetResult(pCompCode, pReason, MQCC_FAILED, rc);
        return;
    }
    LCONN *c = ref.get();
    int starting = Operation == MQOP_START || Operation == MQOP_START_WAIT;
    if (Operation != MQOP_START && Operation != MQOP_START_WAIT && Operation != MQOP_STOP &&
        Operation != MQOP_SUSPEND && Operation != MQOP_RESUME) {
        SetResult(pCompCode, pReason, MQCC_FAILED, MQRC_OPERATION_ERROR);
        return;
    }
    if (pControlOpts != nullptr && (memcmp(pControlOpts->StrucId, MQCTLO_STRUC_ID, 4) != 0 ||
                                    pControlOpts->Version != MQCTLO_VERSION_1)) {
        SetResult(pCompCode, pReason, MQCC_FAILED, MQRC_CTLO_ERROR);
        return;
    }
    if (pControlOpts == nullptr && starting) {
        SetResult(pCompCode, pReason, MQCC_FAILED, MQRC_CTLO_ERROR);
        return;
    }
    std::thread::id me = std::this_thread::get_id();
    int wasStarted;
    {
        std::unique_lock<std::mutex> g(c->mu);
        wasStarted = c->started;
        if (starting) {
            /* in force before the daemon can push the first message */
            c->started = 1;
            c->suspended = 0;
            c->connectionArea = pControlOpts->ConnectionArea;
            if (!c->dispatch.joinable()) {
                c->dispatch = std::thread(DispatchMain, ref);
                c->dispatchId = c->dispatch.get_id();
            }
        } else if (Operation == MQOP_STOP || Operation == MQOP_SUSPEND) {
            if (Operation == MQOP_STOP)
                c->started = 0;
            else
                c->suspended = 1;
            if (me != c->dispatchId)
                c->cv.wait(g, [c] { return !c->callbackRunning; });
        }
    }
    std::unique_lock<std::mutex> call(c->callMutex, std::defer_lock);
    if (c->cnoOptions & MQCNO_HANDLE_SHARE_NO_BLOCK) {
        if (!call.try_lock()) {
            SetResult(pCompCode, pReason, MQCC_FAILED, MQRC_CALL_IN_PROGRESS);
            return;
        }
    } else {
        call.lock();
    }
    if (starting)
        EnableReader(c); /* pushed messages may come at any time from now on */
    WBUF w = {};
    WireBegin(&w, WIRE_T_CTL, 0);
    WirePutI32(&w, Operation);
    WirePutI32(&w, pControlOpts ? pControlOpts->Options : 0);
    uint8_t *reply = nullptr;
    size_t len = 0;
    rc = Transact(c, &w, &reply, &len);
    WireFree(&w);
    MQLONG cc = MQCC_FAILED;
    if (rc == 0) {
        RBUF r;
        WireReadInit(&r, reply, len);
        ReadStatus(&r, &cc, &rc);
        ReturnBuffer(c, reply);
    }
    call.unlock();
    {
        std::lock_guard<std::mutex> g(c->mu);
        if (cc == MQCC_FAILED && starting)
            c->started = wasStarted;
        if (Operation == MQOP_RESUME && cc != MQCC_FAILED)
            c->suspended = 0;
        c->cv.notify_all();
    }
    if (cc != MQCC_FAILED && Operation == MQOP_START_WAIT && me != c->dispatchId) {
        std::unique_lock<std::mutex> g(c->mu);
        c->cv.wait(g, [c] { return !c->started || c->broken; });
    }
    SetResult(pCompCode, pReason, cc, rc);
}
