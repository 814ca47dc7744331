/* mqilib.cpp -- the stand-in MQI library: connections, the socket reader,
 * MQCONN, MQCONNX and MQDISC (see mqilib.h).
 *
 * Owns: the table of connections (ConnTable, under ConnTableMutex).
 * Threads: any application thread; each connection's reader thread.
 */
#include "mqilib.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "statedir.h"

namespace {

std::mutex ConnTableMutex;
std::map<MQHCONN, CONNREF> ConnTable;
MQHCONN NextHconn = 0x01000001;

}  // namespace

static uint8_t *CopyReply(LCONN *c, const uint8_t *payload, size_t len);
static void ReaderMain(CONNREF c);
static void TakeAcks(LCONN *c, WBUF *w);
static void QueueConnectionEvent(LCONN *c, MQLONG compCode, MQLONG reason);
static int HandlePushedFrame(LCONN *c, const WIREHDR *h, const uint8_t *buf);
static void MarkBroken(LCONN *c);
static void ConnectCommon(PMQCHAR pQMgrName, PMQCNO pCno, int isConnx, PMQHCONN pHconn,
                          PMQLONG pCompCode, PMQLONG pReason);
static void ProgramName(char *out, size_t size);

void SetResult(PMQLONG cc, PMQLONG rc, MQLONG c, MQLONG r) {
    if (cc)
        *cc = c;
    if (rc)
        *rc = r;
}

MQLONG CheckMd(const MQMD *md) {
    return BadStruc(md, MQMD_STRUC_ID, MQMD_VERSION_2) ? MQRC_MD_ERROR : 0;
}

void LoadMd(MQMD *full, const MQMD *given) {
    *full = MQMD_DEFAULT;
    size_t n = given->Version >= MQMD_VERSION_2 ? sizeof(MQMD) : (size_t)MQMD_LENGTH_1;
    memcpy(full, given, n);
}

void StoreMd(MQMD *given, const MQMD *full) {
    MQLONG version = given->Version;
    size_t n = version >= MQMD_VERSION_2 ? sizeof(MQMD) : (size_t)MQMD_LENGTH_1;
    memcpy((char *)given + 8, (const char *)full + 8, n - 8);
    given->Version = version;
}

MQLONG FindConn(MQHCONN h, CONNREF *out, std::unique_lock<std::mutex> *call, int anyThread) {
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
    int callback = me == c->dispatchId || me == c->eventsId;
    if (!shared && me != c->owner && !callback)
        return MQRC_HCONN_ERROR;
    if (!anyThread && !callback) {
        std::lock_guard<std::mutex> g(c->mu);
        if (c->started && !c->suspended)
            return MQRC_HCONN_ASYNC_ACTIVE;
    }
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
MQLONG Transact(LCONN *c, WBUF *w, uint8_t **reply, size_t *len) {
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
    int rc = 0;
    {
        /* acknowledgements decided before this request go ahead of it */
        std::lock_guard<std::mutex> g(c->sendMutex);
        WBUF acks = {};
        TakeAcks(c, &acks);
        if (acks.len > 0 && w->len <= 65536) {
            /* one send for both */
            WirePutBytes(&acks, w->data, w->len);
            rc = acks.failed ? MQRC_STORAGE_NOT_AVAILABLE : PLSendAll(c->sock, acks.data, acks.len);
        } else {
            if (acks.len > 0)
                rc = WireSendFrame(c->sock, &acks);
            if (rc == 0)
                rc = WireSendFrame(c->sock, w);
        }
        WireFree(&acks);
    }
    std::unique_lock<std::mutex> g(c->mu);
    if (rc != 0) {
        c->waitTag = 0;
        return MQRC_CONNECTION_BROKEN;
    }
    if (!c->readerEnabled) {
        /* Nobody else reads the socket: take the reply (and anything pushed
         * before it) ourselves. */
        g.unlock();
        WIREHDR h;
        const uint8_t *payload = nullptr;
        for (;;) {
            int r = WireNextFrame(c->sock, &c->in, &h, &payload);
            if (r != 0) {
                g.lock();
                c->waitTag = 0;
                MarkBroken(c);
                return c->brokenReason;
            }
            if ((h.type & WIRE_T_REPLY) && h.tag == tag)
                break;
            if (HandlePushedFrame(c, &h, payload) != 0) {
                PLShutdownSocket(c->sock);
                g.lock();
                c->waitTag = 0;
                MarkBroken(c);
                return c->brokenReason;
            }
        }
        uint8_t *buf = CopyReply(c, payload, h.length);
        g.lock();
        c->waitTag = 0;
        if (buf == nullptr)
            return MQRC_STORAGE_NOT_AVAILABLE;
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

/* Reply buffers come back here; one is kept for the next reply. */
void ReturnBuffer(LCONN *c, uint8_t *buf) {
    std::lock_guard<std::mutex> g(c->mu);
    if (c->spare == nullptr && buf != nullptr) {
        c->spare = buf;
        buf = nullptr;
    }
    free(buf);
}

/* A reply's payload in a buffer of its own (the spare one when it fits),
 * for the caller to give to ReturnBuffer; null when memory ran out. The
 * spare's size is known only while it is the spare: a taken buffer comes
 * back as at least the length it was given out for. mu not held. */
static uint8_t *CopyReply(LCONN *c, const uint8_t *payload, size_t len) {
    uint8_t *buf = nullptr;
    {
        std::lock_guard<std::mutex> g(c->mu);
        if (c->spare != nullptr && c->spareCap >= len) {
            buf = c->spare;
            c->spare = nullptr;
        }
    }
    if (buf == nullptr) {
        size_t want = len < 4096 ? 4096 : len;
        buf = (uint8_t *)malloc(want);
        if (buf == nullptr)
            return nullptr;
        std::lock_guard<std::mutex> g(c->mu);
        if (c->spare == nullptr)
            c->spareCap = want; /* the size this one will have as the spare */
    }
    if (len > 0)
        memcpy(buf, payload, len);
    return buf;
}

/* Move the pending acknowledgements into one ACK frame in w (sendMutex
 * held, mu not). w stays empty (len 0) when there are none. */
static void TakeAcks(LCONN *c, WBUF *w) {
    std::vector<ACK> acks;
    {
        std::lock_guard<std::mutex> g(c->mu);
        if (c->acks.empty())
            return;
        acks.swap(c->acks);
    }
    WireBegin(w, WIRE_T_ACK, 0);
    WirePutU32(w, (uint32_t)acks.size());
    for (const ACK &a : acks) {
        WirePutU32(w, a.seq);
        WirePutI32(w, a.delivered);
    }
    WireEnd(w);
    if (w->failed)
        w->len = 0; /* out of memory: the pushes stay in flight until MQDISC */
}

/* Send the pending acknowledgements now (no lock held). */
void FlushAcks(LCONN *c) {
    std::lock_guard<std::mutex> g(c->sendMutex);
    WBUF w = {};
    TakeAcks(c, &w);
    if (w.len > 0)
        WireSendFrame(c->sock, &w);
    WireFree(&w);
}

/* Forget the pushed messages not yet dispatched, of consumer hobj (or of
 * all consumers for MQHO_NONE): the daemon has put them back (mu held). */
void DropPushedMessages(LCONN *c, MQHOBJ hobj) {
    for (auto it = c->dispatchQ.begin(); it != c->dispatchQ.end();) {
        if (it->isMsg && (hobj == MQHO_NONE || it->hobj == hobj))
            it = c->dispatchQ.erase(it);
        else
            ++it;
    }
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
    c->dispatchCv.notify_all();
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
        it.locked = WireGetI32(&r) != 0;
        if (!WireReadComplete(&r))
            return 1;
        std::lock_guard<std::mutex> g(c->mu);
        c->dispatchQ.push_back(std::move(it));
        c->dispatchCv.notify_one();
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
            c->dispatchCv.notify_one();
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
    c->dispatchCv.notify_all();
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
    WIREHDR h;
    const uint8_t *payload = nullptr;
    for (;;) {
        int rc = WireNextFrame(c->sock, &c->in, &h, &payload);
        if (rc != 0)
            break;
        if (h.type & WIRE_T_REPLY) {
            uint32_t waiting;
            {
                std::lock_guard<std::mutex> g(c->mu);
                waiting = c->waitTag;
            }
            if (waiting == 0 || h.tag != waiting)
                continue; /* a reply nobody waits for any more */
            uint8_t *buf = CopyReply(c, payload, h.length);
            if (buf == nullptr)
                break; /* out of memory: the call fails as the connection does */
            std::lock_guard<std::mutex> g(c->mu);
            if (c->waitTag != h.tag) {
                free(buf);
                continue;
            }
            c->replyBuf = buf;
            c->replyHdr = h;
            c->replyReady = 1;
            c->cv.notify_all();
            continue;
        }
        if (HandlePushedFrame(c, &h, payload) != 0)
            break; /* a frame this library does not know: the stream is not ours */
    }
    std::lock_guard<std::mutex> g(c->mu);
    MarkBroken(c);
}

/* Hand the socket to the reader thread for good (call lock held). */
void EnableReader(LCONN *c) {
    std::lock_guard<std::mutex> g(c->mu);
    if (!c->readerEnabled) {
        c->readerEnabled = 1;
        c->cv.notify_all();
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
        if (BadStruc(pCno, MQCNO_STRUC_ID, MQCNO_VERSION_8)) {
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
    c->spareCap = 0;
    c->in = WIREIN{};
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
        c->dispatchCv.notify_all();
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

/* Read the common status of a reply. A reply cut short is a failure of the
 * call (MQRC_UNEXPECTED_ERROR), never a success read from zero bytes. */
void ReadStatus(RBUF *r, MQLONG *cc, MQLONG *rc) {
    *cc = WireGetI32(r);
    *rc = WireGetI32(r);
    if (r->bad) {
        *cc = MQCC_FAILED;
        *rc = MQRC_UNEXPECTED_ERROR;
    }
}

/* Send the request in w (freed here) and set r to read its reply, from its
 * completion code on. Returns 0 with *reply (free with ReturnBuffer), or the
 * reason the connection failed with. */
MQLONG TransactRead(LCONN *c, WBUF *w, uint8_t **reply, RBUF *r, MQLONG *cc) {
    size_t len = 0;
    *cc = MQCC_FAILED;
    MQLONG rc = Transact(c, w, reply, &len);
    WireFree(w);
    if (rc == 0)
        WireReadInit(r, *reply, len);
    return rc;
}

/* Send the request in w (freed here) for a verb whose reply carries only its
 * completion code and reason: *cc and *rc get them, or MQCC_FAILED and the
 * reason the connection failed with. */
void TransactStatus(LCONN *c, WBUF *w, MQLONG *cc, MQLONG *rc) {
    uint8_t *reply = nullptr;
    RBUF r;
    *rc = TransactRead(c, w, &reply, &r, cc);
    if (*rc != 0)
        return;
    ReadStatus(&r, cc, rc);
    ReturnBuffer(c, reply);
}
