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
 *     consumers one at a time;
 *   - the event thread calls the event handler.
 * The daemon reads ahead for started consumers: it pushes messages without
 * waiting, and the library acknowledges them in batches. A push is
 * acknowledged as delivered when the dispatch thread decides to give it to
 * a callback, as not delivered when it will not (the daemon puts it back
 * where it was in its queue). Every request goes out after the
 * acknowledgements decided before it, so when the daemon takes an MQCTL
 * STOP, MQCB SUSPEND / DEREGISTER, MQCLOSE or MQDISC, whatever it still has
 * in flight was not given to a callback: it puts that back itself, and the
 * library drops its copies on the reply.
 * Locks: callMutex serialises the calls on one connection (try-locked for
 * MQCNO_HANDLE_SHARE_NO_BLOCK); sendMutex guards writes to the socket and
 * the taking of pending acknowledgements; mu guards the rest of the record.
 * Order: callMutex, sendMutex, mu. Callbacks run with no lock held, so they
 * may call the MQI themselves.
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

#include "mqconst/mqi.h"
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

/* Acknowledgements held back before they are sent: the dispatch thread
 * sends them when it runs out of work or has this many; any request sends
 * them first. */
constexpr size_t ACK_BATCH = 16;

/* One acknowledgement: the push's number, 1 given to a callback or 0 not. */
struct ACK {
    uint32_t seq;
    int32_t delivered;
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
    int locked = 0;        /* under syncpoint: acknowledge the callback's return too */
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
    uint8_t *spare;  /* a buffer returned by the last caller */
    size_t spareCap; /* its size */
    WIREIN in;  /* the socket's reader: each call's own until readerEnabled, then the reader's */
    int broken; /* the socket is gone */
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
    std::condition_variable dispatchCv; /* pushes, consumer state changes, the end */
    std::vector<ACK> acks;              /* decided, not yet sent (taken under sendMutex) */
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
        WireInFree(&in);
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
static uint8_t *CopyReply(LCONN *c, const uint8_t *payload, size_t len);
static void ReaderMain(CONNREF c);
static void DispatchMain(CONNREF c);
static void EventsMain(CONNREF c);
static void TakeAcks(LCONN *c, WBUF *w);
static void FlushAcks(LCONN *c);
static void DropPushedMessages(LCONN *c, MQHOBJ hobj);
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
static void ReturnBuffer(LCONN *c, uint8_t *buf) {
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
static void FlushAcks(LCONN *c) {
    std::lock_guard<std::mutex> g(c->sendMutex);
    WBUF w = {};
    TakeAcks(c, &w);
    if (w.len > 0)
        WireSendFrame(c->sock, &w);
    WireFree(&w);
}

/* Forget the pushed messages not yet dispatched, of consumer hobj (or of
 * all consumers for MQHO_NONE): the daemon has put them back (mu held). */
static void DropPushedMessages(LCONN *c, MQHOBJ hobj) {
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
static void EnableReader(LCONN *c) {
    std::lock_guard<std::mutex> g(c->mu);
    if (!c->readerEnabled) {
        c->readerEnabled = 1;
        c->cv.notify_all();
    }
}

/* What the dispatch thread does with an item now (mu held). */
constexpr int DISPATCH_CALL = 0;   /* call the consumer(s) */
constexpr int DISPATCH_WAIT = 1;   /* its consumer is stopped for now: it waits in place */
constexpr int DISPATCH_DROP = 2;   /* forget it (the daemon takes back pushes itself) */
constexpr int DISPATCH_REFUSE = 3; /* a push for no consumer: acknowledge as not delivered */

/* A pushed message whose consumer is stopped, suspended or being
 * deregistered or closed waits where it is: the daemon puts it back when it
 * takes the request that stops the consumer, and the library drops it on
 * the reply; if that request fails the consumer goes on with it, in order.
 * (Refusing it one by one instead would let the pushes behind it overtake
 * it.) Events that cannot be delivered now are dropped. */
static int ClassifyItem(LCONN *c, const ITEM &it, LHANDLE **hdOut) {
    auto hit = c->handles.find(it.hobj);
    LHANDLE *hd = hit == c->handles.end() ? nullptr : &hit->second;
    *hdOut = hd;
    if (!it.isMsg) {
        /* a connection event reaches the consumers even as consumption
         * ends with a broken connection */
        if (it.hobj == 0)
            return c->dispatchStop ? DISPATCH_DROP : DISPATCH_CALL;
        int ok = c->started && !c->suspended && !c->dispatchStop && hd != nullptr && hd->consumer &&
                 hd->cbFn != nullptr;
        return ok ? DISPATCH_CALL : DISPATCH_DROP;
    }
    if (c->dispatchStop || c->broken)
        return DISPATCH_DROP;
    if (hd == nullptr || hd->cbFn == nullptr)
        return DISPATCH_REFUSE;
    if (!c->started || c->suspended || !hd->consumer || hd->suspended)
        return DISPATCH_WAIT;
    return DISPATCH_CALL;
}

/* Calls the consumers, one message or event at a time, in the order they
 * came (each consumer's messages in their order). */
static void DispatchMain(CONNREF ref) {
    LCONN *c = ref.get();
    std::unique_lock<std::mutex> g(c->mu);
    for (;;) {
        auto pos = c->dispatchQ.begin();
        int found = 0;
        LHANDLE *hd = nullptr;
        for (auto i = c->dispatchQ.begin(); i != c->dispatchQ.end();) {
            int what = ClassifyItem(c, *i, &hd);
            if (what == DISPATCH_CALL) {
                pos = i;
                found = 1;
                break;
            }
            if (what == DISPATCH_REFUSE)
                c->acks.push_back({i->seq, ACK_NOT_DELIVERED});
            if (what == DISPATCH_WAIT)
                ++i;
            else
                i = c->dispatchQ.erase(i);
        }
        if (!found) {
            if (c->dispatchStop)
                break;
            if (!c->acks.empty()) {
                /* out of work: the daemon hears what was decided */
                g.unlock();
                FlushAcks(c);
                g.lock();
                continue;
            }
            c->dispatchCv.wait(g); /* a push, a state change or the end */
            continue;
        }
        ITEM it = std::move(*pos);
        c->dispatchQ.erase(pos);
        int flush = 0;
        if (it.isMsg) {
            /* decided under mu: a request that stops this consumer after
             * now sends this acknowledgement ahead of itself */
            c->acks.push_back({it.seq, ACK_DELIVERED});
            flush = c->acks.size() >= ACK_BATCH;
        }
        /* Calls for connection events go to every consumer in turn. */
        std::vector<std::pair<MQHOBJ, LHANDLE>> targets;
        if (it.hobj == 0) {
            for (auto &e : c->handles) {
                if (e.second.consumer && e.second.cbFn)
                    targets.push_back(e);
            }
        } else if (hd != nullptr) {
            targets.push_back({it.hobj, *hd});
        }
        if (it.isMsg && hd != nullptr && it.callType == MQCBCT_MSG_REMOVED &&
            (hd->options & MQOO_SAVE_ALL_CONTEXT)) {
            hd->saved = it.md;
            hd->hasSaved = 1;
        }
        if (it.isMsg && hd != nullptr && it.callType == MQCBCT_MSG_NOT_REMOVED)
            hd->suspended = 1;
        c->callbackRunning = 1; /* from the decision on: MQOP_STOP waits for it */
        MQPTR connArea = c->connectionArea;
        g.unlock();
        if (flush)
            FlushAcks(c);
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
        g.lock();
        if (it.isMsg && it.locked)
            c->acks.push_back({it.seq, ACK_RETURNED}); /* before MQOP_STOP can go on */
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
static void ReadStatus(RBUF *r, MQLONG *cc, MQLONG *rc) {
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
static MQLONG TransactRead(LCONN *c, WBUF *w, uint8_t **reply, RBUF *r, MQLONG *cc) {
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
static void TransactStatus(LCONN *c, WBUF *w, MQLONG *cc, MQLONG *rc) {
    uint8_t *reply = nullptr;
    RBUF r;
    *rc = TransactRead(c, w, &reply, &r, cc);
    if (*rc != 0)
        return;
    ReadStatus(&r, cc, rc);
    ReturnBuffer(c, reply);
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
    RBUF r;
    MQLONG cc;
    rc = TransactRead(c, &w, &reply, &r, &cc);
    if (rc != 0) {
        SetResult(pCompCode, pReason, MQCC_FAILED, rc);
        return;
    }
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
    MQHOBJ hobj = *pHobj;
    /* A consumer on the handle takes no more messages from here on (as in
     * MQCB DEREGISTER); it is back if the close fails. */
    int wasConsumer = 0;
    {
        std::lock_guard<std::mutex> g(c->mu);
        auto it = c->handles.find(hobj);
        if (it != c->handles.end() && it->second.consumer) {
            wasConsumer = 1;
            it->second.consumer = 0;
        }
    }
    WBUF w = {};
    WireBegin(&w, WIRE_T_CLOSE, 0);
    WirePutI32(&w, hobj);
    WirePutI32(&w, Options);
    MQLONG cc;
    TransactStatus(c, &w, &cc, &rc);
    {
        std::lock_guard<std::mutex> g(c->mu);
        if (cc == MQCC_OK) {
            c->handles.erase(hobj);
            DropPushedMessages(c, hobj);
            *pHobj = MQHO_UNUSABLE_HOBJ;
        } else if (wasConsumer) {
            auto it = c->handles.find(hobj);
            if (it != c->handles.end())
                it->second.consumer = 1;
            c->dispatchCv.notify_all();
        }
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
    RBUF r;
    MQLONG cc;
    rc = TransactRead(c, &w, &reply, &r, &cc);
    if (rc != 0) {
        SetResult(pCompCode, pReason, MQCC_FAILED, rc);
        return;
    }
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
    RBUF r;
    MQLONG cc;
    rc = TransactRead(c, &w, &reply, &r, &cc);
    if (rc != 0) {
        SetResult(pCompCode, pReason, MQCC_FAILED, rc);
        return;
    }
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

/* MQINQ and MQSET start alike: the connection found and locked (*ref,
 * *call), the arguments checked, and the request in w begun with the object
 * and its selectors. Returns 0 or the reason the call fails with. */
static MQLONG BeginAttrCall(MQHCONN Hconn, uint16_t type, MQHOBJ Hobj, MQLONG SelectorCount,
                            PMQLONG pSelectors, MQLONG IntAttrCount, PMQLONG pIntAttrs,
                            MQLONG CharAttrLength, PMQCHAR pCharAttrs, CONNREF *ref,
                            std::unique_lock<std::mutex> *call, WBUF *w) {
    MQLONG rc = FindConn(Hconn, ref, call);
    if (rc == 0)
        rc = CheckAttrArgs(SelectorCount, pSelectors, IntAttrCount, pIntAttrs, CharAttrLength,
                           pCharAttrs);
    if (rc != 0)
        return rc;
    WireBegin(w, type, 0);
    WirePutI32(w, Hobj);
    WirePutI32(w, SelectorCount);
    for (MQLONG i = 0; i < SelectorCount; i++)
        WirePutI32(w, pSelectors[i]);
    return 0;
}

MQSIM_VERB MQINQ(MQHCONN Hconn, MQHOBJ Hobj, MQLONG SelectorCount, PMQLONG pSelectors,
                 MQLONG IntAttrCount, PMQLONG pIntAttrs, MQLONG CharAttrLength, PMQCHAR pCharAttrs,
                 PMQLONG pCompCode, PMQLONG pReason) {
    CONNREF ref;
    std::unique_lock<std::mutex> call;
    WBUF w = {};
    MQLONG rc = BeginAttrCall(Hconn, WIRE_T_INQ, Hobj, SelectorCount, pSelectors, IntAttrCount,
                              pIntAttrs, CharAttrLength, pCharAttrs, &ref, &call, &w);
    if (rc != 0) {
        SetResult(pCompCode, pReason, MQCC_FAILED, rc);
        return;
    }
    LCONN *c = ref.get();
    WirePutI32(&w, IntAttrCount);
    WirePutI32(&w, CharAttrLength);
    uint8_t *reply = nullptr;
    RBUF r;
    MQLONG cc;
    rc = TransactRead(c, &w, &reply, &r, &cc);
    if (rc != 0) {
        SetResult(pCompCode, pReason, MQCC_FAILED, rc);
        return;
    }
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
    WBUF w = {};
    MQLONG rc = BeginAttrCall(Hconn, WIRE_T_SET, Hobj, SelectorCount, pSelectors, IntAttrCount,
                              pIntAttrs, CharAttrLength, pCharAttrs, &ref, &call, &w);
    if (rc != 0) {
        SetResult(pCompCode, pReason, MQCC_FAILED, rc);
        return;
    }
    LCONN *c = ref.get();
    WirePutI32(&w, IntAttrCount);
    for (MQLONG i = 0; i < IntAttrCount; i++)
        WirePutI32(&w, pIntAttrs[i]);
    WirePutBlob(&w, pCharAttrs, (uint32_t)CharAttrLength);
    MQLONG cc;
    TransactStatus(c, &w, &cc, &rc);
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
    MQLONG cc;
    TransactStatus(c, &w, &cc, &rc);
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
    /* A consumer being stopped takes no more messages from here on: the
     * daemon puts back what it has in flight for it when it takes the
     * request, and the library drops its copies on the reply. */
    int stopping = 0;
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
    } else if (cbType == MQCBT_MESSAGE_CONSUMER &&
               (Operation == MQOP_DEREGISTER || Operation == MQOP_SUSPEND)) {
        std::lock_guard<std::mutex> g(c->mu);
        auto it = c->handles.find(Hobj);
        if (it != c->handles.end()) {
            stopping = 1;
            before = it->second;
            if (Operation == MQOP_DEREGISTER)
                it->second.consumer = 0;
            else
                it->second.suspended = 1;
        }
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
    MQLONG cc;
    TransactStatus(c, &w, &cc, &rc);
    if (cc != MQCC_OK && (tentative || stopping)) {
        std::lock_guard<std::mutex> g(c->mu);
        auto it = c->handles.find(Hobj);
        if (it != c->handles.end())
            it->second = before;
    }
    if (stopping && rc != MQRC_CONNECTION_BROKEN && rc != MQRC_HCONN_ERROR &&
        (cc == MQCC_OK || rc == MQRC_CALLBACK_NOT_REGISTERED)) {
        std::lock_guard<std::mutex> g(c->mu);
        DropPushedMessages(c, Hobj);
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
    c->dispatchCv.notify_all(); /* a consumer may take its messages again */
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
    int wasStarted, wasSuspended;
    {
        std::unique_lock<std::mutex> g(c->mu);
        wasStarted = c->started;
        wasSuspended = c->suspended;
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
    MQLONG cc;
    TransactStatus(c, &w, &cc, &rc);
    call.unlock();
    {
        std::lock_guard<std::mutex> g(c->mu);
        if (cc == MQCC_FAILED && starting)
            c->started = wasStarted;
        if (Operation == MQOP_RESUME && cc != MQCC_FAILED)
            c->suspended = 0;
        /* the daemon put back every push not given to a callback */
        if ((Operation == MQOP_STOP || Operation == MQOP_SUSPEND) && cc != MQCC_FAILED)
            DropPushedMessages(c, MQHO_NONE);
        /* a stop that failed leaves consumption as it was */
        if (cc == MQCC_FAILED && !c->broken && Operation == MQOP_STOP)
            c->started = wasStarted;
        if (cc == MQCC_FAILED && !c->broken && Operation == MQOP_SUSPEND)
            c->suspended = wasSuspended;
        c->cv.notify_all();
        c->dispatchCv.notify_all();
    }
    if (cc != MQCC_FAILED && Operation == MQOP_START_WAIT && me != c->dispatchId) {
        std::unique_lock<std::mutex> g(c->mu);
        c->cv.wait(g, [c] { return !c->started || c->broken; });
    }
    SetResult(pCompCode, pReason, cc, rc);
}
