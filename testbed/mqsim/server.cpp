/* server.cpp -- the mqsim daemon: connections, the MQI verbs, control commands.
 *
 * Owns: the listening socket, the accept and timer threads, every CONN and
 * HANDLE (linked from TheQmgr->conns under TheQmgr->lock), the reader and
 * writer thread of each connection.
 * Threads: a reader thread handles its connection's requests one at a time
 * under the queue manager's lock; frames leave through the connection's
 * out queue in order (the reader sends its own replies directly when
 * nothing else is queued). A put on one connection hands a message to a
 * get or consumer of another by queueing a frame for it, never by writing
 * to its socket, so a slow client holds up nobody else.
 */
#include "server.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "admin.h"
#include "cmdserver.h"
#include "platform/platform.h"
#include "queue_attrs.h"
#include "statedir.h"

constexpr size_t MAX_HANDLES_PER_CONN = 4096;
constexpr int QUIESCE_LIMIT_MS = 5000;

/* Daemon state (owned here). */
static PLSOCKET Listener = PL_NO_SOCKET;
static int ListenPort = 0;
static std::mutex DaemonMutex;           /* guards the fields below */
static std::condition_variable DaemonCv; /* stop requests, readers ending */
static int StopRequested = 0;            /* 1 plain, 2 quiesce */
static int ReadersRunning = 0;           /* connection threads alive */
static uint32_t NextConnId = 0;

/* Queue names whose trigger hook is due once the lock is released; per
 * reader thread. */
static thread_local std::vector<std::string> PendingTriggers;

static void ServeConnection(CONN *c);
static void WriterMain(CONN *c);
static void TimerMain(QMGR *qm);
static void AcceptMain(QMGR *qm);
static void SendFrame(CONN *c, WBUF *w, int fromReader);
static void QueueFrame(CONN *c, WBUF *w);
static void RunPendingTriggers(QMGR *qm);
static HANDLE *FindHandle(CONN *c, MQHOBJ hobj);
static void CloseHandleLocked(QMGR *qm, CONN *c, HANDLE *h);
static void CleanupConnection(QMGR *qm, CONN *c, int commit);
static void EndUnitOfWork(QMGR *qm, CONN *c, int commit);
static void StartDelivery(QMGR *qm, CONN *c);
static void ClearIdleWaiters(QMGR *qm, CONN *c);
static int PushToConsumer(QMGR *qm, CONN *c, HANDLE *h, MSG *m);
static int DeliveryWindowOpen(const CONN *c);
static int ConsumerMayTake(const CONN *c, const HANDLE *h);
static void GiveBack(QMGR *qm, std::vector<DELIVERY> *back);
static void ReturnDeliveries(QMGR *qm, CONN *c, HANDLE *h);
static int InFlight(const CONN *c, const MSG *m);
static void DropGiven(CONN *c, HANDLE *h);
static void PushEvent(CONN *c, MQHOBJ hobj, MQLONG compCode, MQLONG reason);
static void AddWaiter(QMGR *qm, WAITER *w);
static void EndGetWaiter(QMGR *qm, CONN *c, MQLONG compCode, MQLONG reason, MSG *m);
static void BuildGetReply(WBUF *w, uint32_t tag, MQLONG cc, MQLONG rc, const MSG *m,
                          MQLONG bufferLength, const char *resolvedQ);
static void ReplyStatus(CONN *c, WBUF *w, uint16_t type, uint32_t tag, MQLONG rc);
static int HandleConnect(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w);
static int HandleDisc(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w);
static int HandleOpen(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w);
static int HandleClose(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w);
static int HandlePut(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w);
static int HandlePut1(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w);
static int HandleGet(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w);
static int HandleInq(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w);
static int HandleSet(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w);
static int HandleCb(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w);
static int HandleCtl(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w);
static int HandleUow(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w);
static int HandleAck(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w);
static void HandleControl(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w);
static MQLONG OpenDynamicQueue(QMGR *qm, CONN *c, QUEUE *model, const char *dynName, QUEUE **out);
static MQLONG CheckPutOptions(MQLONG pmo);
static MQLONG CheckContextAuthority(MQLONG pmo, MQLONG openOptions);
static void RequestStop(int how);

/* ---- sending ------------------------------------------------------------------------ */

/* Move a finished frame into c's out queue and wake its writer. Takes the
 * buffer: w is empty afterwards. Any thread; outMutex only. */
static void QueueFrame(CONN *c, WBUF *w) {
    WireEnd(w);
    if (w->failed) {
        LogLine("connection %u: a frame could not be built (out of memory)", c->id);
        return;
    }
    OUTFRAME *f = new (std::nothrow) OUTFRAME();
    if (f == nullptr)
        return;
    f->data = w->data;
    f->len = w->len;
    w->data = nullptr;
    w->len = w->cap = 0;
    std::lock_guard<std::mutex> g(c->outMutex);
    if (c->writerStop) {
        free(f->data);
        delete f;
        return;
    }
    if (c->outTail)
        c->outTail->next = f;
    else
        c->outHead = f;
    c->outTail = f;
    if (!c->writerBusy)
        c->outCv.notify_one();
}

/* Send a frame to c. From c's own reader thread it goes straight to the
 * socket when nothing is queued before it (w is kept for reuse); otherwise
 * it is queued. */
static void SendFrame(CONN *c, WBUF *w, int fromReader) {
    if (!fromReader) {
        QueueFrame(c, w);
        return;
    }
    WireEnd(w);
    if (w->failed) {
        LogLine("connection %u: a reply could not be built (out of memory)", c->id);
        return;
    }
    {
        std::unique_lock<std::mutex> g(c->outMutex);
        if (c->outHead != nullptr || c->writerBusy) {
            g.unlock();
            QueueFrame(c, w);
            return;
        }
        c->writerBusy = 1;
    }
    if (WireSendFrame(c->sock, w) != 0)
        PLShutdownSocket(c->sock);
    std::lock_guard<std::mutex> g(c->outMutex);
    c->writerBusy = 0;
    if (c->outHead != nullptr)
        c->outCv.notify_one();
}

/* Frames up to this size are gathered into one send with the frames
 * around them; a burst of pushes then costs one system call, not one each. */
constexpr size_t GATHER_LIMIT = 65536;

static void WriterMain(CONN *c) {
    std::vector<uint8_t> gather;
    gather.reserve(GATHER_LIMIT);
    std::unique_lock<std::mutex> g(c->outMutex);
    for (;;) {
        c->outCv.wait(g,
                      [c] { return c->writerStop || (c->outHead != nullptr && !c->writerBusy); });
        if (c->outHead == nullptr && c->writerStop)
            break;
        if (c->writerBusy)
            continue;
        OUTFRAME *list = c->outHead;
        c->outHead = c->outTail = nullptr;
        c->writerBusy = 1;
        g.unlock();
        int failed = 0;
        while (list) {
            OUTFRAME *f = list;
            list = f->next;
            if (!failed && f->len < GATHER_LIMIT)
                gather.insert(gather.end(), f->data, f->data + f->len);
            /* send what is gathered when it is full, before a large frame,
             * and at the end of the list */
            int last = list == nullptr;
            int big = !failed && f->len >= GATHER_LIMIT;
            if (!failed && !gather.empty() &&
                (big || last || gather.size() + list->len > GATHER_LIMIT)) {
                if (PLSendAll(c->sock, gather.data(), gather.size()) != 0)
                    failed = 1;
                gather.clear();
            }
            if (big && !failed && PLSendAll(c->sock, f->data, f->len) != 0)
                failed = 1;
            if (failed)
                PLShutdownSocket(c->sock);
            free(f->data);
            delete f;
        }
        gather.clear();
        g.lock();
        c->writerBusy = 0;
        if (c->writerStop && c->outHead == nullptr)
            break;
    }
    /* drop whatever is left */
    while (c->outHead) {
        OUTFRAME *f = c->outHead;
        c->outHead = f->next;
        free(f->data);
        delete f;
    }
    c->outTail = nullptr;
}

static void PushEvent(CONN *c, MQHOBJ hobj, MQLONG compCode, MQLONG reason) {
    WBUF w = {};
    WireBegin(&w, WIRE_T_PUSH_EVENT, 0);
    WirePutI32(&w, hobj);
    WirePutI32(&w, compCode);
    WirePutI32(&w, reason);
    QueueFrame(c, &w);
    WireFree(&w);
}

/* Build a status-only reply; ServeConnection sends it after the lock. */
static void ReplyStatus(CONN *c, WBUF *w, uint16_t type, uint32_t tag, MQLONG rc) {
    WireBegin(w, type | WIRE_T_REPLY, tag);
    WirePutI32(w, rc == 0 ? MQCC_OK : MQCC_FAILED);
    WirePutI32(w, rc);
    c->replyReady = 1;
}

/* ---- waiters ------------------------------------------------------------------------ */

static void AddWaiter(QMGR *qm, WAITER *w) {
    WAITER **pp = &w->queue->waiters;
    while (*pp)
        pp = &(*pp)->next;
    w->next = nullptr;
    *pp = w;
    if (w->deadlineMs != 0) {
        w->nextTimed = qm->timed;
        qm->timed = w;
        qm->timerCv.notify_one();
    }
}

void RemoveWaiter(QMGR *qm, WAITER *w) {
    if (w->queue != nullptr) {
        WAITER **pp = &w->queue->waiters;
        while (*pp && *pp != w)
            pp = &(*pp)->next;
        if (*pp)
            *pp = w->next;
    }
    w->next = nullptr;
    if (w->deadlineMs != 0) {
        WAITER **pp = &qm->timed;
        while (*pp && *pp != w)
            pp = &(*pp)->nextTimed;
        if (*pp)
            *pp = w->nextTimed;
        w->nextTimed = nullptr;
    }
}

/* Answer c's waiting MQGET and end the wait (lock held). m: the message to
 * return (not freed here), or null. */
static void EndGetWaiter(QMGR *qm, CONN *c, MQLONG compCode, MQLONG reason, MSG *m) {
    WAITER *w = c->getWaiter;
    if (w == nullptr)
        return;
    RemoveWaiter(qm, w);
    c->getWaiter = nullptr;
    WBUF out = {};
    BuildGetReply(&out, w->tag, compCode, reason, m, w->bufferLength,
                  w->handle ? w->handle->resolvedQName : "");
    QueueFrame(c, &out);
    WireFree(&out);
    delete w;
}

int DeliverToWaiter(QMGR *qm, WAITER *w, MSG *m) {
    CONN *c = w->conn;
    QUEUE *q = w->queue;
    if (w->kind == WAIT_GET) {
        HANDLE *h = w->handle;
        MQLONG opts = w->gmoOptions;
        if (opts & (MQGMO_BROWSE_FIRST | MQGMO_BROWSE_NEXT)) {
            h->browseSeq = m->seq;
            EndGetWaiter(qm, c, MQCC_OK,
                         m->length > w->bufferLength ? MQRC_TRUNCATED_MSG_ACCEPTED : 0, m);
            return 0;
        }
        if (m->length > w->bufferLength && !(opts & MQGMO_ACCEPT_TRUNCATED_MSG)) {
            EndGetWaiter(qm, c, MQCC_WARNING, MQRC_TRUNCATED_MSG_FAILED, m);
            return 0;
        }
        MQLONG rc = m->length > w->bufferLength ? MQRC_TRUNCATED_MSG_ACCEPTED : 0;
        if (opts & MQGMO_SYNCPOINT) {
            m->state = MSG_UNCOMMITTED_GET;
            m->lockedBy = c;
            c->uowActive = 1;
            EndGetWaiter(qm, c, rc ? MQCC_WARNING : MQCC_OK, rc, m);
        } else {
            UnlinkMessage(q, m);
            EndGetWaiter(qm, c, rc ? MQCC_WARNING : MQCC_OK, rc, m);
            FreeMessage(m);
        }
        return 1;
    }
    /* WAIT_CONSUMER: an armed waiter of a started connection whose window
     * is open. OfferMessage goes on with the waiter after w when this one
     * declines, so only w itself may leave the list then. */
    HANDLE *h = w->handle;
    if (!ConsumerMayTake(c, h))
        return 0;
    if (!PushToConsumer(qm, c, h, m)) {
        /* too long for the consumer, which is suspended now */
        RemoveWaiter(qm, w);
        for (size_t i = 0; i < c->idleWaiters.size(); i++) {
            if (c->idleWaiters[i] == w) {
                c->idleWaiters.erase(c->idleWaiters.begin() + (long)i);
                break;
            }
        }
        delete w;
        return 0;
    }
    if (!DeliveryWindowOpen(c)) {
        ClearIdleWaiters(qm, c);
    } else {
        /* behind the other waiters of its queue: consumers of one queue on
         * several connections take turns */
        RemoveWaiter(qm, w);
        AddWaiter(qm, w);
    }
    return 1;
}

/* 1 while c may be pushed more messages: started, not suspended, and
 * fewer than the read-ahead limits in flight, none of them under syncpoint. */
static int DeliveryWindowOpen(const CONN *c) {
    return c->started && !c->suspended && !c->broken && c->inflightLocked == 0 &&
           c->inflight.size() < READ_AHEAD_MESSAGES && c->inflightBytes < READ_AHEAD_BYTES;
}

/* 1 when consumer h of c may be pushed a message now (window open; a
 * syncpoint consumer only when nothing else is in flight). */
static int ConsumerMayTake(const CONN *c, const HANDLE *h) {
    if (!DeliveryWindowOpen(c) || !h->consumer || h->consumerSuspended || h->queue->deleted)
        return 0;
    return !(h->cbGmoOptions & MQGMO_SYNCPOINT) || c->inflight.empty();
}

/* Push m (visible in h's queue) to c's consumer h. Returns 1 when it was
 * taken off the queue (or locked) and is in flight until acknowledged, 0
 * when it stays (too long: the consumer is told with MQCBCT_MSG_NOT_REMOVED
 * and suspended; nothing is in flight for that). Lock held. */
static int PushToConsumer(QMGR *qm, CONN *c, HANDLE *h, MSG *m) {
    (void)qm;
    QUEUE *q = h->queue;
    MQLONG maxLen = h->cbMaxMsgLength;
    int tooLong = maxLen >= 0 && m->length > maxLen;
    MQLONG callType = MQCBCT_MSG_REMOVED;
    MQLONG reason = 0;
    int taken = 1;
    if (tooLong && !(h->cbGmoOptions & MQGMO_ACCEPT_TRUNCATED_MSG)) {
        callType = MQCBCT_MSG_NOT_REMOVED;
        reason = MQRC_TRUNCATED_MSG_FAILED;
        taken = 0;
        h->consumerSuspended = 1;
    } else if (tooLong) {
        reason = MQRC_TRUNCATED_MSG_ACCEPTED;
    }
    MQLONG sendLen = tooLong ? maxLen : m->length;
    c->deliverySeq++;
    WBUF out = {};
    WireBegin(&out, WIRE_T_PUSH_MSG, 0);
    WireReserve(&out, 7 * 4 + sizeof m->md + 4 + (size_t)sendLen + MQ_Q_NAME_LENGTH);
    WirePutI32(&out, h->hobj);
    WirePutU32(&out, c->deliverySeq);
    WirePutI32(&out, callType);
    WirePutI32(&out, reason == 0 ? MQCC_OK : (taken ? MQCC_WARNING : MQCC_FAILED));
    WirePutI32(&out, reason);
    WirePutBytes(&out, &m->md, sizeof m->md);
    WirePutI32(&out, m->length);
    WirePutBlob(&out, m->data, (uint32_t)(callType == MQCBCT_MSG_REMOVED ? sendLen : 0));
    WirePutBytes(&out, h->resolvedQName, MQ_Q_NAME_LENGTH);
    int locked = taken && (h->cbGmoOptions & MQGMO_SYNCPOINT) != 0;
    WirePutI32(&out, locked); /* 1: acknowledge the callback's return too */
    if (taken) {
        DELIVERY d;
        d.seq = c->deliverySeq;
        d.msg = m;
        d.queue = q;
        d.handle = h;
        d.locked = locked;
        d.given = 0;
        d.bytes = (size_t)m->length;
        if (d.locked) {
            m->state = MSG_UNCOMMITTED_GET;
            m->lockedBy = c;
            c->uowActive = 1;
            c->inflightLocked++;
        } else {
            UnlinkMessage(q, m);
        }
        c->inflight.push_back(d);
        c->inflightBytes += (size_t)m->length;
    }
    QueueFrame(c, &out);
    WireFree(&out);
    return taken;
}

/* Drop the consumer waiters of the connection (lock held). */
static void ClearIdleWaiters(QMGR *qm, CONN *c) {
    for (WAITER *w : c->idleWaiters) {
        RemoveWaiter(qm, w);
        delete w;
    }
    c->idleWaiters.clear();
}

/* Fill c's read-ahead window: consumers in turn, each with its next
 * message, until the window is full or no consumer has a message; then,
 * while the window is open, every consumer that may take a message waits on
 * its queue, so that a put hands it over at once. Lock held. */
static void StartDelivery(QMGR *qm, CONN *c) {
    ClearIdleWaiters(qm, c);
    size_t n = c->handles.size();
    while (DeliveryWindowOpen(c)) {
        int pushed = 0;
        for (size_t k = 0; k < n && !pushed; k++) {
            size_t i = (c->nextConsumer + k) % n;
            HANDLE *h = c->handles[i];
            if (h == nullptr || !ConsumerMayTake(c, h) ||
                h->queue->a.inhibitGet == MQQA_GET_INHIBITED)
                continue;
            MSG *m = FindMessage(qm, h->queue, &h->cbMatch, h->cbMatchOptions, 0);
            if (m != nullptr) {
                c->nextConsumer = i + 1;
                PushToConsumer(qm, c, h, m);
                pushed = 1;
            }
        }
        if (!pushed)
            break;
    }
    if (!DeliveryWindowOpen(c))
        return;
    for (size_t i = 0; i < n; i++) {
        HANDLE *h = c->handles[i];
        if (h == nullptr || !ConsumerMayTake(c, h))
            continue;
        WAITER *w = new (std::nothrow) WAITER();
        if (w == nullptr)
            continue;
        w->kind = WAIT_CONSUMER;
        w->queue = h->queue;
        w->conn = c;
        w->handle = h;
        w->match = h->cbMatch;
        w->matchOptions = h->cbMatchOptions;
        w->gmoOptions = h->cbGmoOptions;
        AddWaiter(qm, w);
        c->idleWaiters.push_back(w);
    }
}

/* 1 when m is one of c's pushes not (yet) given to a callback. */
static int InFlight(const CONN *c, const MSG *m) {
    for (const DELIVERY &d : c->inflight) {
        if (d.msg == m && !d.given)
            return 1;
    }
    return 0;
}

/* Messages pushed but not given to a consumer go back where they were in
 * their queues (in arrival order, whatever the order of back), then are
 * offered to waiting gets and consumers oldest first; a message whose
 * queue has gone is freed. back is emptied. Lock held; the caller has
 * already taken them out of its connection's in-flight list. */
static void GiveBack(QMGR *qm, std::vector<DELIVERY> *back) {
    std::vector<DELIVERY> offers;
    for (DELIVERY &d : *back) {
        if (d.locked) {
            d.msg->state = MSG_VISIBLE;
            d.msg->lockedBy = nullptr;
        } else if (d.queue == nullptr || d.queue->deleted) {
            FreeMessage(d.msg);
            continue;
        } else {
            LinkMessage(d.queue, d.msg, 1);
        }
        offers.push_back(d);
    }
    back->clear();
    std::sort(offers.begin(), offers.end(),
              [](const DELIVERY &a, const DELIVERY &b) { return a.msg->seq < b.msg->seq; });
    for (DELIVERY &d : offers)
        OfferMessage(qm, d.queue, d.msg);
}

/* Take back every push of c to consumer h (null: to any consumer) that
 * was not given to a callback. c's waiters must be cleared first, so that
 * c does not take them again at once. Lock held. */
static void ReturnDeliveries(QMGR *qm, CONN *c, HANDLE *h) {
    std::vector<DELIVERY> back;
    for (auto it = c->inflight.begin(); it != c->inflight.end();) {
        if ((h != nullptr && it->handle != h) || it->given) {
            ++it;
            continue;
        }
        c->inflightBytes -= it->bytes;
        if (it->locked)
            c->inflightLocked--;
        back.push_back(*it);
        it = c->inflight.erase(it);
    }
    GiveBack(qm, &back);
}

/* Stop tracking c's pushes to h (null: any) that are in their callbacks:
 * their messages stay locked in the unit of work. */
static void DropGiven(CONN *c, HANDLE *h) {
    for (auto it = c->inflight.begin(); it != c->inflight.end();) {
        if (it->given && (h == nullptr || it->handle == h)) {
            c->inflightBytes -= it->bytes;
            c->inflightLocked--;
            it = c->inflight.erase(it);
        } else {
            ++it;
        }
    }
}

void ForgetDeliveries(QMGR *qm, QUEUE *q) {
    for (CONN *c = qm->conns; c; c = c->next) {
        for (auto it = c->inflight.begin(); it != c->inflight.end();) {
            if (it->queue == q && it->locked) {
                c->inflightBytes -= it->bytes;
                c->inflightLocked--;
                it = c->inflight.erase(it);
            } else {
                if (it->queue == q)
                    it->queue = nullptr; /* freed when it comes back */
                ++it;
            }
        }
    }
}

void NotifyGetInhibited(QMGR *qm, QUEUE *q) {
    for (CONN *c = qm->conns; c; c = c->next) {
        if (c->getWaiter && c->getWaiter->queue == q)
            EndGetWaiter(qm, c, MQCC_FAILED, MQRC_GET_INHIBITED, nullptr);
        for (HANDLE *h : c->handles) {
            if (h && h->consumer && h->queue == q && c->started && !h->inhibitNotified) {
                h->inhibitNotified = 1;
                PushEvent(c, h->hobj, MQCC_FAILED, MQRC_GET_INHIBITED);
            }
        }
    }
    WAITER *w = q->waiters;
    while (w) {
        WAITER *next = w->next;
        if (w->kind == WAIT_INTERNAL) {
            RemoveWaiter(qm, w);
            w->done = 1;
            w->reason = MQRC_GET_INHIBITED;
            w->cv->notify_all();
        }
        w = next;
    }
}

void NotifyGetAllowed(QMGR *qm, QUEUE *q) {
    for (CONN *c = qm->conns; c; c = c->next) {
        int affected = 0;
        for (HANDLE *h : c->handles) {
            if (h && h->queue == q) {
                h->inhibitNotified = 0;
                affected = 1;
            }
        }
        if (affected && c->started)
            StartDelivery(qm, c);
    }
}

/* ---- handles and connections ---------------------------------------------------------- */

static HANDLE *FindHandle(CONN *c, MQHOBJ hobj) {
    if (hobj < HOBJ_BASE)
        return nullptr;
    size_t i = (size_t)(hobj - HOBJ_BASE);
    return i < c->handles.size() ? c->handles[i] : nullptr;
}

/* Close h (lock held): its waiters and consumer go, counts drop, a
 * temporary dynamic queue it created is deleted. */
static void CloseHandleLocked(QMGR *qm, CONN *c, HANDLE *h) {
    if (c->getWaiter && c->getWaiter->handle == h) {
        RemoveWaiter(qm, c->getWaiter);
        delete c->getWaiter;
        c->getWaiter = nullptr;
    }
    if (h->consumer) {
        h->consumer = 0;
        ClearIdleWaiters(qm, c);
    }
    /* pushes not given to the consumer go back before the queue can go; one
     * in its callback stays in the unit of work, no longer tracked here */
    ReturnDeliveries(qm, c, h);
    DropGiven(c, h);
    if (c->started)
        StartDelivery(qm, c);
    c->handles[(size_t)(h->hobj - HOBJ_BASE)] = nullptr;
    QUEUE *q = h->kind == HANDLE_QUEUE ? h->queue : nullptr;
    QUEUE *def = h->kind == HANDLE_QUEUE ? h->defQueue : nullptr;
    if (q != nullptr) {
        if (h->options & (MQOO_INPUT_AS_Q_DEF | MQOO_INPUT_SHARED | MQOO_INPUT_EXCLUSIVE)) {
            q->a.openInputCount--;
            if (q->exclusiveInput == (int)h->hobj)
                q->exclusiveInput = 0;
        }
        if (h->options & MQOO_OUTPUT)
            q->a.openOutputCount--;
        q->openHandles--;
        if (def != nullptr && def != q)
            def->openHandles--;
        int dropTemp = h->createdDynamic && q->a.defType == MQQDT_TEMPORARY_DYNAMIC;
        if (dropTemp && !q->deleted) {
            LogLine("connection %u: temporary dynamic queue %s deleted", c->id, q->a.name);
            DeleteQueue(qm, q);
        } else if (q->deleted && q->openHandles == 0) {
            DeleteQueue(qm, q);
        }
        if (def != nullptr && def != q && def->deleted && def->openHandles == 0)
            DeleteQueue(qm, def);
    }
    delete h;
}

/* Commit (or back out) c's unit of work. Lock held. */
static void EndUnitOfWork(QMGR *qm, CONN *c, int commit) {
    if (!c->uowActive)
        return;
    c->uowActive = 0;
    std::vector<std::pair<QUEUE *, MSG *>> offers;
    for (auto &e : qm->queues) {
        QUEUE *q = e.second;
        MSG *m = q->head;
        while (m) {
            MSG *next = m->next;
            if (m->lockedBy == c && InFlight(c, m)) {
                /* pushed to a consumer under syncpoint, not yet given to it:
                 * it joins the unit of work only when it is */
                c->uowActive = 1;
            } else if (m->lockedBy == c) {
                int wasEmptyVisible = 1;
                for (MSG *p = q->head; p; p = p->next) {
                    if (p->state == MSG_VISIBLE) {
                        wasEmptyVisible = 0;
                        break;
                    }
                }
                if ((m->state == MSG_UNCOMMITTED_PUT) == (commit != 0)) {
                    m->state = MSG_VISIBLE;
                    m->lockedBy = nullptr;
                    if (!commit)
                        m->md.BackoutCount++;
                    offers.push_back({q, m});
                    if (commit && wasEmptyVisible && q->a.triggerControl == MQTC_ON)
                        PendingTriggers.push_back(q->a.name);
                } else {
                    UnlinkMessage(q, m);
                    FreeMessage(m);
                }
            }
            m = next;
        }
    }
    for (auto &o : offers)
        OfferMessage(qm, o.first, o.second);
}

/* Release everything of c (lock held): waits, the message pushed but not
 * acknowledged (back to its queue), the unit of work, the handles. */
static void CleanupConnection(QMGR *qm, CONN *c, int commit) {
    if (c->getWaiter) {
        RemoveWaiter(qm, c->getWaiter);
        delete c->getWaiter;
        c->getWaiter = nullptr;
    }
    c->started = 0;
    ClearIdleWaiters(qm, c);
    ReturnDeliveries(qm, c, nullptr);
    DropGiven(c, nullptr);
    EndUnitOfWork(qm, c, commit);
    for (HANDLE *h : c->handles) {
        if (h != nullptr)
            CloseHandleLocked(qm, c, h);
    }
    c->handles.clear();
    c->eventHandler = 0;
}

static void RunPendingTriggers(QMGR *qm) {
    if (PendingTriggers.empty())
        return;
    std::vector<std::string> names;
    names.swap(PendingTriggers);
    for (auto &n : names)
        TriggerArrival(qm, n.c_str());
}

/* ---- MQI requests ------------------------------------------------------------------- */

static int HandleConnect(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w) {
    char qmName[MQ_Q_MGR_NAME_LENGTH];
    char applName[MQ_PUT_APPL_NAME_LENGTH];
    char userId[MQ_USER_ID_LENGTH];
    MQLONG viaAddr = WireGetI32(r);
    MQLONG isConnx = WireGetI32(r);
    WireGetBytes(r, qmName, sizeof qmName);
    MQLONG cnoVersion = WireGetI32(r);
    MQLONG cnoOptions = WireGetI32(r);
    WireGetBytes(r, applName, sizeof applName);
    WireGetBytes(r, userId, sizeof userId);
    MQLONG applType = WireGetI32(r);
    if (!WireReadComplete(r))
        return -1;
    (void)cnoOptions;
    char name[QMNAME_SIZE];
    WireGetField(name, qmName, sizeof qmName);
    MQLONG rc = 0;
    if (c->connected)
        rc = MQRC_ALREADY_CONNECTED;
    else if (qm->quiescing || qm->stopping)
        rc = MQRC_Q_MGR_QUIESCING;
    else if (!viaAddr && name[0] != '\0' && strcmp(name, qm->a.name) != 0)
        rc = MQRC_Q_MGR_NAME_ERROR;
    else if ((rc = CheckFault(qm, isConnx ? "MQCONNX" : "MQCONN", "QMGR")) != 0 ||
             (rc = CheckFault(qm, isConnx ? "MQCONNX" : "MQCONN", qm->a.name)) != 0)
        ;
    else if (isConnx && cnoVersion >= MQCNO_VERSION_7 && qm->opts.refuseCnoV7)
        rc = MQRC_CNO_ERROR;
    WireBegin(w, h->type | WIRE_T_REPLY, h->tag);
    WirePutI32(w, rc == 0 ? MQCC_OK : MQCC_FAILED);
    WirePutI32(w, rc);
    char field[MQ_Q_MGR_NAME_LENGTH];
    WireSetField(field, MQ_Q_MGR_NAME_LENGTH, qm->a.name);
    WirePutBytes(w, field, MQ_Q_MGR_NAME_LENGTH);
    char chl[MQ_CHANNEL_NAME_LENGTH];
    WireSetField(chl, sizeof chl, qm->opts.clientChannel);
    WirePutBytes(w, chl, sizeof chl);
    WirePutI32(w, qm->a.platform);
    WirePutI32(w, (int32_t)c->id);
    if (rc == 0) {
        c->connected = 1;
        WireGetField(c->applName, applName, sizeof applName);
        WireGetField(c->userId, userId, sizeof userId);
        c->applType = applType;
        c->next = qm->conns;
        qm->conns = c;
        qm->connCount++;
        LogLine("connection %u: %s connected (user %s, application %s)", c->id,
                isConnx ? "MQCONNX" : "MQCONN", c->userId, c->applName);
    }
    c->replyReady = 1; /* sent once the lock is released */
    return 0;
}

static int HandleDisc(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w) {
    if (!WireReadComplete(r))
        return -1;
    CleanupConnection(qm, c, 1);
    ReplyStatus(c, w, h->type, h->tag, 0);
    return 1; /* the connection ends */
}

static MQLONG OpenDynamicQueue(QMGR *qm, CONN *c, QUEUE *model, const char *dynName, QUEUE **out) {
    char name[QNAME_SIZE];
    size_t n = strlen(dynName);
    if (n == 0)
        return MQRC_DYNAMIC_Q_NAME_ERROR;
    if (dynName[n - 1] == '*') {
        size_t prefix = n - 1;
        if (prefix > 32)
            prefix = 32;
        char hex[17];
        snprintf(hex, sizeof hex, "%016llX",
                 (unsigned long long)(qm->msgIdBase + ++qm->msgIdCounter));
        snprintf(name, sizeof name, "%.*s%s", (int)prefix, dynName, hex);
    } else {
        snprintf(name, sizeof name, "%s", dynName);
    }
    if (!ValidObjectName(name, MQ_Q_NAME_LENGTH))
        return MQRC_DYNAMIC_Q_NAME_ERROR;
    if (FindQueue(qm, name) != nullptr)
        return MQRC_OBJECT_ALREADY_EXISTS;
    QUEUE *q = NewQueue(name, MQQT_LOCAL);
    if (q == nullptr)
        return MQRC_STORAGE_NOT_AVAILABLE;
    QATTRS keep = q->a;
    q->a = model->a;
    memcpy(q->a.name, keep.name, sizeof q->a.name);
    q->a.qType = MQQT_LOCAL;
    q->a.defType = model->a.defType == MQQDT_TEMPORARY_DYNAMIC ? MQQDT_TEMPORARY_DYNAMIC
                                                               : MQQDT_PERMANENT_DYNAMIC;
    q->a.curDepth = q->a.openInputCount = q->a.openOutputCount = 0;
    memcpy(q->a.creationDate, keep.creationDate, sizeof keep.creationDate);
    memcpy(q->a.creationTime, keep.creationTime, sizeof keep.creationTime);
    q->owner = q->a.defType == MQQDT_TEMPORARY_DYNAMIC ? c : nullptr;
    AddQueue(qm, q);
    *out = q;
    return 0;
}

static int HandleOpen(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w) {
    MQLONG options = WireGetI32(r);
    MQLONG objectType = WireGetI32(r);
    char objName[MQ_Q_NAME_LENGTH], objQMgr[MQ_Q_MGR_NAME_LENGTH], dynName[MQ_Q_NAME_LENGTH];
    WireGetBytes(r, objName, sizeof objName);
    WireGetBytes(r, objQMgr, sizeof objQMgr);
    WireGetBytes(r, dynName, sizeof dynName);
    if (!WireReadComplete(r))
        return -1;
    char name[QNAME_SIZE], qmgr[QMNAME_SIZE], dyn[QNAME_SIZE];
    WireGetField(name, objName, sizeof objName);
    WireGetField(qmgr, objQMgr, sizeof objQMgr);
    WireGetField(dyn, dynName, sizeof dynName);

    MQLONG rc = 0;
    HANDLE *hd = nullptr;
    const MQLONG inputs = MQOO_INPUT_AS_Q_DEF | MQOO_INPUT_SHARED | MQOO_INPUT_EXCLUSIVE;
    int nInputs = !!(options & MQOO_INPUT_AS_Q_DEF) + !!(options & MQOO_INPUT_SHARED) +
                  !!(options & MQOO_INPUT_EXCLUSIVE);
    const MQLONG ctxOut = MQOO_PASS_IDENTITY_CONTEXT | MQOO_PASS_ALL_CONTEXT |
                          MQOO_SET_IDENTITY_CONTEXT | MQOO_SET_ALL_CONTEXT;
    int remoteQm = qmgr[0] != '\0' && strcmp(qmgr, qm->a.name) != 0;
    QUEUE *q = nullptr, *def = nullptr;
    int created = 0;
    char resQ[QNAME_SIZE] = "", resQm[QMNAME_SIZE] = "";

    if (qm->quiescing && (options & MQOO_FAIL_IF_QUIESCING))
        rc = MQRC_Q_MGR_QUIESCING;
    else if (nInputs > 1 || ((options & ctxOut) && !(options & MQOO_OUTPUT)) ||
             ((options & MQOO_SAVE_ALL_CONTEXT) && !(options & inputs)))
        rc = MQRC_OPTIONS_ERROR;
    else if (objectType == MQOT_Q_MGR) {
        if (name[0] != '\0' && strcmp(name, qm->a.name) != 0)
            rc = MQRC_UNKNOWN_OBJECT_NAME;
        else if ((rc = CheckFault(qm, "MQOPEN", "QMGR")) != 0)
            ;
        else if (options & (inputs | MQOO_BROWSE | MQOO_OUTPUT | MQOO_SET | ctxOut))
            rc = MQRC_OPTION_NOT_VALID_FOR_TYPE;
    } else if (objectType != MQOT_Q) {
        rc = MQRC_OBJECT_TYPE_ERROR;
    } else if (name[0] == '\0') {
        rc = MQRC_UNKNOWN_OBJECT_NAME;
    } else if ((rc = CheckFault(qm, "MQOPEN", name)) != 0) {
        ;
    } else if (remoteQm) {
        if (options & (inputs | MQOO_BROWSE | MQOO_INQUIRE | MQOO_SET))
            rc = MQRC_OPTION_NOT_VALID_FOR_TYPE;
        else
            rc = ResolveDestination(qm, name, qmgr, &q, resQ, resQm);
        def = q;
    } else {
        def = FindQueue(qm, name);
        if (def == nullptr) {
            rc = MQRC_UNKNOWN_OBJECT_NAME;
        } else if (def->a.qType == MQQT_MODEL) {
            rc = OpenDynamicQueue(qm, c, def, dyn, &q);
            if (rc == 0) {
                created = 1;
                def = q;
                snprintf(name, sizeof name, "%s", q->a.name);
                snprintf(resQ, sizeof resQ, "%s", q->a.name);
                snprintf(resQm, sizeof resQm, "%s", qm->a.name);
            }
        } else if (def->a.qType == MQQT_REMOTE) {
            if (options & (inputs | MQOO_BROWSE | MQOO_SET))
                rc = MQRC_OPTION_NOT_VALID_FOR_TYPE;
            else if (options & MQOO_OUTPUT)
                rc = ResolveDestination(qm, name, nullptr, &q, resQ, resQm);
            else {
                q = def;
                snprintf(resQ, sizeof resQ, "%s", def->a.remoteQName);
                snprintf(resQm, sizeof resQm, "%s", def->a.remoteQMgrName);
            }
        } else {
            q = def;
            snprintf(resQ, sizeof resQ, "%s", q->a.name);
            snprintf(resQm, sizeof resQm, "%s", qm->a.name);
        }
        if (rc == 0 && q != nullptr && (options & inputs)) {
            int wantExclusive = (options & MQOO_INPUT_EXCLUSIVE) ||
                                ((options & MQOO_INPUT_AS_Q_DEF) &&
                                 q->a.defInputOpenOption == MQOO_INPUT_EXCLUSIVE) ||
                                q->a.shareability == MQQA_NOT_SHAREABLE;
            if (q->exclusiveInput || (wantExclusive && q->a.openInputCount > 0))
                rc = MQRC_OBJECT_IN_USE;
        }
    }
    size_t slot = 0;
    if (rc == 0) {
        for (slot = 0; slot < c->handles.size(); slot++) {
            if (c->handles[slot] == nullptr)
                break;
        }
        if (slot >= MAX_HANDLES_PER_CONN)
            rc = MQRC_HANDLE_NOT_AVAILABLE;
    }
    if (rc == 0) {
        hd = new (std::nothrow) HANDLE();
        if (hd == nullptr)
            rc = MQRC_STORAGE_NOT_AVAILABLE;
    }
    if (rc != 0 && created)
        DeleteQueue(qm, q);
    if (rc == 0) {
        if (slot == c->handles.size())
            c->handles.push_back(nullptr);
        c->handles[slot] = hd;
        hd->hobj = (MQHOBJ)(HOBJ_BASE + slot);
        hd->kind = objectType == MQOT_Q_MGR ? HANDLE_QMGR : HANDLE_QUEUE;
        hd->queue = q;
        hd->defQueue = def;
        hd->options = options;
        hd->remote = remoteQm;
        hd->createdDynamic = created;
        snprintf(hd->objectName, sizeof hd->objectName, "%s",
                 objectType == MQOT_Q_MGR ? qm->a.name : name);
        snprintf(hd->resolvedQName, sizeof hd->resolvedQName, "%s", resQ);
        snprintf(hd->resolvedQMgrName, sizeof hd->resolvedQMgrName, "%s",
                 objectType == MQOT_Q_MGR ? qm->a.name : resQm);
        if (q != nullptr) {
            q->openHandles++;
            if (def != nullptr && def != q)
                def->openHandles++;
            if (options & inputs) {
                q->a.openInputCount++;
                int exclusive = (options & MQOO_INPUT_EXCLUSIVE) ||
                                ((options & MQOO_INPUT_AS_Q_DEF) &&
                                 q->a.defInputOpenOption == MQOO_INPUT_EXCLUSIVE) ||
                                q->a.shareability == MQQA_NOT_SHAREABLE;
                if (exclusive)
                    q->exclusiveInput = (int)hd->hobj;
            }
            if (options & MQOO_OUTPUT)
                q->a.openOutputCount++;
        }
    }
    WireBegin(w, h->type | WIRE_T_REPLY, h->tag);
    WirePutI32(w, rc == 0 ? MQCC_OK : MQCC_FAILED);
    WirePutI32(w, rc);
    WirePutI32(w, rc == 0 ? hd->hobj : MQHO_UNUSABLE_HOBJ);
    char f[MQ_Q_NAME_LENGTH];
    WireSetField(f, sizeof f, rc == 0 ? hd->objectName : "");
    WirePutBytes(w, f, sizeof f);
    WireSetField(f, sizeof f, rc == 0 ? hd->resolvedQName : "");
    WirePutBytes(w, f, sizeof f);
    WireSetField(f, sizeof f, rc == 0 ? hd->resolvedQMgrName : "");
    WirePutBytes(w, f, sizeof f);
    WirePutI32(w, created);
    c->replyReady = 1; /* sent once the lock is released */
    return 0;
}

static int HandleClose(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w) {
    MQHOBJ hobj = WireGetI32(r);
    MQLONG options = WireGetI32(r);
    if (!WireReadComplete(r))
        return -1;
    HANDLE *hd = FindHandle(c, hobj);
    MQLONG rc = 0;
    if (hd == nullptr)
        rc = MQRC_HOBJ_ERROR;
    else if ((rc = CheckFault(qm, "MQCLOSE", hd->kind == HANDLE_QMGR ? "QMGR" : hd->objectName)) !=
             0)
        ;
    else if (options & ~(MQCO_DELETE | MQCO_DELETE_PURGE | MQCO_QUIESCE))
        rc = MQRC_OPTIONS_ERROR;
    else if (options & (MQCO_DELETE | MQCO_DELETE_PURGE)) {
        QUEUE *q = hd->queue;
        if (hd->kind != HANDLE_QUEUE || q == nullptr || q->deleted ||
            q->a.defType == MQQDT_PREDEFINED || q->a.qType != MQQT_LOCAL)
            rc = MQRC_OPTION_NOT_VALID_FOR_TYPE;
        else if ((options & MQCO_DELETE) && q->a.curDepth > 0)
            rc = MQRC_Q_NOT_EMPTY;
        else if (q->openHandles > 1)
            rc = MQRC_OBJECT_IN_USE;
        else
            hd->createdDynamic = 1, q->a.defType = MQQDT_TEMPORARY_DYNAMIC; /* delete on close */
    }
    if (rc == 0)
        CloseHandleLocked(qm, c, hd);
    ReplyStatus(c, w, h->type, h->tag, rc);
    return 0;
}

static MQLONG CheckPutOptions(MQLONG pmo) {
    if ((pmo & MQPMO_SYNCPOINT) && (pmo & MQPMO_NO_SYNCPOINT))
        return MQRC_OPTIONS_ERROR;
    const MQLONG ctx[] = {
        MQPMO_NO_CONTEXT,       MQPMO_DEFAULT_CONTEXT,      MQPMO_PASS_IDENTITY_CONTEXT,
        MQPMO_PASS_ALL_CONTEXT, MQPMO_SET_IDENTITY_CONTEXT, MQPMO_SET_ALL_CONTEXT};
    int n = 0;
    for (MQLONG o : ctx)
        n += (pmo & o) ? 1 : 0;
    return n > 1 ? MQRC_OPTIONS_ERROR : 0;
}

/* The open options a handle needs for the context options of a put. */
static MQLONG CheckContextAuthority(MQLONG pmo, MQLONG oo) {
    if ((pmo & MQPMO_PASS_IDENTITY_CONTEXT) &&
        !(oo & (MQOO_PASS_IDENTITY_CONTEXT | MQOO_PASS_ALL_CONTEXT | MQOO_SET_IDENTITY_CONTEXT |
                MQOO_SET_ALL_CONTEXT)))
        return MQRC_NOT_OPEN_FOR_PASS_IDENT;
    if ((pmo & MQPMO_PASS_ALL_CONTEXT) && !(oo & (MQOO_PASS_ALL_CONTEXT | MQOO_SET_ALL_CONTEXT)))
        return MQRC_NOT_OPEN_FOR_PASS_ALL;
    if ((pmo & MQPMO_SET_IDENTITY_CONTEXT) &&
        !(oo & (MQOO_SET_IDENTITY_CONTEXT | MQOO_SET_ALL_CONTEXT)))
        return MQRC_NOT_OPEN_FOR_SET_IDENT;
    if ((pmo & MQPMO_SET_ALL_CONTEXT) && !(oo & MQOO_SET_ALL_CONTEXT))
        return MQRC_NOT_OPEN_FOR_SET_ALL;
    return 0;
}

static int HandlePut(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w) {
    MQHOBJ hobj = WireGetI32(r);
    MQLONG pmo = WireGetI32(r);
    MQMD md;
    WireGetBytes(r, &md, sizeof md);
    const uint8_t *data;
    uint32_t len;
    WireGetBlob(r, &data, &len);
    if (!WireReadComplete(r) || len > (uint32_t)MQSIM_LARGEST_MAXMSGL)
        return -1;
    HANDLE *hd = FindHandle(c, hobj);
    MQLONG rc = 0;
    int triggerDue = 0;
    if (hd == nullptr)
        rc = MQRC_HOBJ_ERROR;
    else if (qm->quiescing && (pmo & MQPMO_FAIL_IF_QUIESCING))
        rc = MQRC_Q_MGR_QUIESCING;
    else if (hd->kind != HANDLE_QUEUE || !(hd->options & MQOO_OUTPUT))
        rc = MQRC_NOT_OPEN_FOR_OUTPUT;
    else if (hd->queue->deleted)
        rc = MQRC_Q_DELETED;
    else if ((rc = CheckFault(qm, "MQPUT", hd->objectName)) != 0)
        ;
    else if (strcmp(hd->queue->a.name, hd->objectName) != 0 &&
             (rc = CheckFault(qm, "MQPUT", hd->queue->a.name)) != 0)
        ;
    else if ((rc = CheckPutOptions(pmo)) != 0)
        ;
    else if ((rc = CheckContextAuthority(pmo, hd->options)) != 0)
        ;
    else {
        rc = PutToQueue(qm, hd->queue, c, &md, pmo, data, (MQLONG)len, &triggerDue);
        if (rc == 0 && triggerDue)
            PendingTriggers.push_back(hd->queue->a.name);
    }
    WireBegin(w, h->type | WIRE_T_REPLY, h->tag);
    WirePutI32(w, rc == 0 ? MQCC_OK : MQCC_FAILED);
    WirePutI32(w, rc);
    WirePutBytes(w, &md, sizeof md);
    char f[MQ_Q_NAME_LENGTH];
    WireSetField(f, sizeof f, hd && rc == 0 ? hd->resolvedQName : "");
    WirePutBytes(w, f, sizeof f);
    WireSetField(f, sizeof f, hd && rc == 0 ? hd->resolvedQMgrName : "");
    WirePutBytes(w, f, sizeof f);
    c->replyReady = 1; /* sent once the lock is released */
    return 0;
}

static int HandlePut1(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w) {
    MQLONG objectType = WireGetI32(r);
    char objName[MQ_Q_NAME_LENGTH], objQMgr[MQ_Q_MGR_NAME_LENGTH];
    WireGetBytes(r, objName, sizeof objName);
    WireGetBytes(r, objQMgr, sizeof objQMgr);
    MQLONG pmo = WireGetI32(r);
    MQMD md;
    WireGetBytes(r, &md, sizeof md);
    const uint8_t *data;
    uint32_t len;
    WireGetBlob(r, &data, &len);
    if (!WireReadComplete(r) || len > (uint32_t)MQSIM_LARGEST_MAXMSGL)
        return -1;
    char name[QNAME_SIZE], qmgr[QMNAME_SIZE];
    WireGetField(name, objName, sizeof objName);
    WireGetField(qmgr, objQMgr, sizeof objQMgr);
    MQLONG rc = 0;
    QUEUE *dest = nullptr;
    char resQ[QNAME_SIZE] = "", resQm[QMNAME_SIZE] = "";
    int triggerDue = 0;
    if (qm->quiescing && (pmo & MQPMO_FAIL_IF_QUIESCING))
        rc = MQRC_Q_MGR_QUIESCING;
    else if (objectType != MQOT_Q)
        rc = MQRC_OBJECT_TYPE_ERROR;
    else if ((rc = CheckFault(qm, "MQPUT1", name)) != 0)
        ;
    else if ((rc = CheckPutOptions(pmo)) != 0)
        ;
    else if ((rc = ResolveDestination(qm, name, qmgr, &dest, resQ, resQm)) != 0)
        ;
    else {
        rc = PutToQueue(qm, dest, c, &md, pmo, data, (MQLONG)len, &triggerDue);
        if (rc == 0 && triggerDue)
            PendingTriggers.push_back(dest->a.name);
    }
    WireBegin(w, h->type | WIRE_T_REPLY, h->tag);
    WirePutI32(w, rc == 0 ? MQCC_OK : MQCC_FAILED);
    WirePutI32(w, rc);
    WirePutBytes(w, &md, sizeof md);
    char f[MQ_Q_NAME_LENGTH];
    WireSetField(f, sizeof f, rc == 0 ? resQ : "");
    WirePutBytes(w, f, sizeof f);
    WireSetField(f, sizeof f, rc == 0 ? resQm : "");
    WirePutBytes(w, f, sizeof f);
    c->replyReady = 1; /* sent once the lock is released */
    return 0;
}

/* Reply to an MQGET: status, descriptor, full length, the data that fits
 * the caller's buffer, the resolved queue name. */
static void BuildGetReply(WBUF *w, uint32_t tag, MQLONG cc, MQLONG rc, const MSG *m,
                          MQLONG bufferLength, const char *resolvedQ) {
    WireBegin(w, WIRE_T_GET | WIRE_T_REPLY, tag);
    WirePutI32(w, cc);
    WirePutI32(w, rc);
    MQMD md = m ? m->md : MQMD_DEFAULT;
    WirePutBytes(w, &md, sizeof md);
    WirePutI32(w, m ? m->length : 0);
    MQLONG n = m ? (m->length < bufferLength ? m->length : bufferLength) : 0;
    if (n < 0)
        n = 0;
    WirePutBlob(w, m ? m->data : nullptr, (uint32_t)n);
    char f[MQ_Q_NAME_LENGTH];
    WireSetField(f, sizeof f, resolvedQ);
    WirePutBytes(w, f, sizeof f);
}

static int HandleGet(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w) {
    MQHOBJ hobj = WireGetI32(r);
    MQLONG gmo = WireGetI32(r);
    MQLONG waitInterval = WireGetI32(r);
    MQLONG matchOptions = WireGetI32(r);
    MQLONG bufferLength = WireGetI32(r);
    MQMD match;
    WireGetBytes(r, &match, sizeof match);
    if (!WireReadComplete(r) || bufferLength < 0)
        return -1;
    HANDLE *hd = FindHandle(c, hobj);
    int browse = (gmo & (MQGMO_BROWSE_FIRST | MQGMO_BROWSE_NEXT)) != 0;
    MQLONG rc = 0;
    if (hd == nullptr)
        rc = MQRC_HOBJ_ERROR;
    else if (qm->quiescing && (gmo & MQGMO_FAIL_IF_QUIESCING))
        rc = MQRC_Q_MGR_QUIESCING;
    else if (hd->kind != HANDLE_QUEUE)
        rc = MQRC_NOT_OPEN_FOR_INPUT;
    else if (browse && !(hd->options & MQOO_BROWSE))
        rc = MQRC_NOT_OPEN_FOR_BROWSE;
    else if (!browse &&
             !(hd->options & (MQOO_INPUT_AS_Q_DEF | MQOO_INPUT_SHARED | MQOO_INPUT_EXCLUSIVE)))
        rc = MQRC_NOT_OPEN_FOR_INPUT;
    else if (hd->queue->deleted)
        rc = MQRC_Q_DELETED;
    else if ((rc = CheckFault(qm, "MQGET", hd->objectName)) != 0)
        ;
    else if ((gmo & MQGMO_WAIT) && waitInterval < MQWI_UNLIMITED)
        rc = MQRC_WAIT_INTERVAL_ERROR;
    else if (((gmo & MQGMO_SYNCPOINT) && (gmo & MQGMO_NO_SYNCPOINT)) ||
             ((gmo & MQGMO_BROWSE_FIRST) && (gmo & MQGMO_BROWSE_NEXT)) ||
             (gmo & (MQGMO_SET_SIGNAL | MQGMO_LOCK | MQGMO_UNLOCK | MQGMO_MSG_UNDER_CURSOR |
                     MQGMO_BROWSE_MSG_UNDER_CURSOR)))
        rc = MQRC_OPTIONS_ERROR;
    else if (hd->queue->a.inhibitGet == MQQA_GET_INHIBITED)
        rc = MQRC_GET_INHIBITED;
    else if (c->getWaiter != nullptr)
        rc = MQRC_CALL_IN_PROGRESS;
    if (rc != 0) {
        BuildGetReply(w, h->tag, MQCC_FAILED, rc, nullptr, 0, "");
        c->replyReady = 1; /* sent once the lock is released */
        return 0;
    }
    QUEUE *q = hd->queue;
    uint64_t after = (gmo & MQGMO_BROWSE_NEXT) ? hd->browseSeq : 0;
    MSG *m = FindMessage(qm, q, &match, matchOptions, after);
    if (m != nullptr) {
        MQLONG cc = MQCC_OK;
        MQLONG reason = 0;
        if (m->length > bufferLength) {
            cc = MQCC_WARNING;
            reason = (gmo & MQGMO_ACCEPT_TRUNCATED_MSG) || browse ? MQRC_TRUNCATED_MSG_ACCEPTED
                                                                  : MQRC_TRUNCATED_MSG_FAILED;
        }
        BuildGetReply(w, h->tag, cc, reason, m, bufferLength, hd->resolvedQName);
        if (browse) {
            hd->browseSeq = m->seq;
        } else if (reason != MQRC_TRUNCATED_MSG_FAILED) {
            if (gmo & MQGMO_SYNCPOINT) {
                m->state = MSG_UNCOMMITTED_GET;
                m->lockedBy = c;
                c->uowActive = 1;
            } else {
                UnlinkMessage(q, m);
                FreeMessage(m);
            }
        }
        c->replyReady = 1; /* sent once the lock is released */
        return 0;
    }
    if (!(gmo & MQGMO_WAIT) || waitInterval == 0) {
        BuildGetReply(w, h->tag, MQCC_FAILED, MQRC_NO_MSG_AVAILABLE, nullptr, 0, "");
        c->replyReady = 1; /* sent once the lock is released */
        return 0;
    }
    WAITER *wt = new (std::nothrow) WAITER();
    if (wt == nullptr) {
        BuildGetReply(w, h->tag, MQCC_FAILED, MQRC_STORAGE_NOT_AVAILABLE, nullptr, 0, "");
        c->replyReady = 1; /* sent once the lock is released */
        return 0;
    }
    wt->kind = WAIT_GET;
    wt->queue = q;
    wt->conn = c;
    wt->handle = hd;
    wt->match = match;
    wt->matchOptions = matchOptions;
    wt->gmoOptions = gmo;
    wt->bufferLength = bufferLength;
    wt->tag = h->tag;
    wt->deadlineMs = waitInterval == MQWI_UNLIMITED ? 0 : NowMs() + (uint64_t)waitInterval;
    if (browse)
        wt->matchOptions = matchOptions; /* the cursor is applied on arrival: newer messages */
    c->getWaiter = wt;
    AddWaiter(qm, wt);
    return 0;
}

/* Integer and character selectors of MQINQ / MQSET. */
struct SELINFO {
    MQLONG selector;
    MQLONG length; /* 0: integer; else character length */
    int forQmgr;   /* 1 queue manager, 0 queue */
};
static const SELINFO Selectors[] = {
    {MQCA_Q_MGR_NAME, MQ_Q_MGR_NAME_LENGTH, 1},
    {MQCA_Q_MGR_DESC, MQ_Q_MGR_DESC_LENGTH, 1},
    {MQCA_Q_MGR_IDENTIFIER, MQ_Q_MGR_IDENTIFIER_LENGTH, 1},
    {MQCA_DEAD_LETTER_Q_NAME, MQ_Q_NAME_LENGTH, 1},
    {MQCA_COMMAND_INPUT_Q_NAME, MQ_Q_NAME_LENGTH, 1},
    {MQCA_SSL_KEY_REPOSITORY, MQ_SSL_KEY_REPOSITORY_LENGTH, 1},
    {MQCA_CERT_LABEL, MQ_CERT_LABEL_LENGTH, 1},
    {MQCA_CREATION_DATE, MQ_CREATION_DATE_LENGTH, 1},
    {MQCA_CREATION_TIME, MQ_CREATION_TIME_LENGTH, 1},
    {MQCA_ALTERATION_DATE, MQ_CREATION_DATE_LENGTH, 1},
    {MQCA_ALTERATION_TIME, MQ_CREATION_TIME_LENGTH, 1},
    {MQIA_PLATFORM, 0, 1},
    {MQIA_COMMAND_LEVEL, 0, 1},
    {MQIA_CODED_CHAR_SET_ID, 0, 1},
    {MQIA_MAX_MSG_LENGTH, 0, 1},
    {MQIA_MAX_HANDLES, 0, 1},
    {MQIA_MAX_PRIORITY, 0, 1},
    {MQIA_SYNCPOINT, 0, 1},
    {MQIA_SSL_EVENT, 0, 1},
    {MQCA_Q_NAME, MQ_Q_NAME_LENGTH, 0},
    {MQCA_Q_DESC, MQ_Q_DESC_LENGTH, 0},
    {MQCA_CREATION_DATE, MQ_CREATION_DATE_LENGTH, 0},
    {MQCA_CREATION_TIME, MQ_CREATION_TIME_LENGTH, 0},
    {MQCA_ALTERATION_DATE, MQ_CREATION_DATE_LENGTH, 0},
    {MQCA_ALTERATION_TIME, MQ_CREATION_TIME_LENGTH, 0},
    {MQCA_INITIATION_Q_NAME, MQ_Q_NAME_LENGTH, 0},
    {MQCA_PROCESS_NAME, MQ_PROCESS_NAME_LENGTH, 0},
    {MQCA_TRIGGER_DATA, MQ_TRIGGER_DATA_LENGTH, 0},
    {MQCA_REMOTE_Q_NAME, MQ_Q_NAME_LENGTH, 0},
    {MQCA_REMOTE_Q_MGR_NAME, MQ_Q_MGR_NAME_LENGTH, 0},
    {MQCA_XMIT_Q_NAME, MQ_Q_NAME_LENGTH, 0},
    {MQIA_Q_TYPE, 0, 0},
    {MQIA_DEFINITION_TYPE, 0, 0},
    {MQIA_MAX_MSG_LENGTH, 0, 0},
    {MQIA_MAX_Q_DEPTH, 0, 0},
    {MQIA_CURRENT_Q_DEPTH, 0, 0},
    {MQIA_INHIBIT_GET, 0, 0},
    {MQIA_INHIBIT_PUT, 0, 0},
    {MQIA_OPEN_INPUT_COUNT, 0, 0},
    {MQIA_OPEN_OUTPUT_COUNT, 0, 0},
    {MQIA_USAGE, 0, 0},
    {MQIA_DEF_PERSISTENCE, 0, 0},
    {MQIA_DEF_PRIORITY, 0, 0},
    {MQIA_SHAREABILITY, 0, 0},
    {MQIA_DEF_INPUT_OPEN_OPTION, 0, 0},
    {MQIA_MSG_DELIVERY_SEQUENCE, 0, 0},
    {MQIA_TRIGGER_CONTROL, 0, 0},
    {MQIA_TRIGGER_TYPE, 0, 0},
    {MQIA_TRIGGER_DEPTH, 0, 0},
    {MQIA_TRIGGER_MSG_PRIORITY, 0, 0},
};

static const SELINFO *FindSelector(MQLONG sel, int forQmgr) {
    for (const SELINFO &s : Selectors) {
        if (s.selector == sel && s.forQmgr == forQmgr)
            return &s;
    }
    return nullptr;
}

/* Whether a queue selector applies to a queue of this type. */
static int SelectorApplies(MQLONG sel, MQLONG qType) {
    switch (sel) {
        case MQCA_Q_NAME:
        case MQCA_Q_DESC:
        case MQCA_CREATION_DATE:
        case MQCA_CREATION_TIME:
        case MQCA_ALTERATION_DATE:
        case MQCA_ALTERATION_TIME:
        case MQIA_Q_TYPE:
        case MQIA_INHIBIT_PUT:
        case MQIA_DEF_PERSISTENCE:
        case MQIA_DEF_PRIORITY:
            return 1;
        case MQCA_REMOTE_Q_NAME:
        case MQCA_REMOTE_Q_MGR_NAME:
        case MQCA_XMIT_Q_NAME:
            return qType == MQQT_REMOTE;
        case MQIA_CURRENT_Q_DEPTH:
        case MQIA_OPEN_INPUT_COUNT:
        case MQIA_OPEN_OUTPUT_COUNT:
            return qType == MQQT_LOCAL;
        default:
            return qType == MQQT_LOCAL || qType == MQQT_MODEL;
    }
}

/* MQINQ reads the same attribute values as the command server. The queue
 * type is checked beforehand (SelectorApplies), so the row passed on admits
 * every type. */
static MQLONG QueueInt(const QATTRS *a, MQLONG sel) {
    ATTRDEF d = {sel, 0, ATTR_LOCAL | ATTR_MODEL | ATTR_REMOTE};
    MQLONG v;
    const char *text;
    return QueueAttrValue(a, &d, &v, &text) ? v : MQIAV_NOT_APPLICABLE;
}

static const char *QueueChars(const QATTRS *a, MQLONG sel) {
    ATTRDEF d = {sel, 1, ATTR_LOCAL | ATTR_MODEL | ATTR_REMOTE};
    MQLONG v;
    const char *text = nullptr;
    return QueueAttrValue(a, &d, &v, &text) && text != nullptr ? text : "";
}

static MQLONG QmgrInt(const QMGRATTRS *a, MQLONG sel) {
    MQLONG v;
    return QmgrAttrInt(a, sel, &v) ? v : MQIAV_NOT_APPLICABLE;
}

static const char *QmgrChars(const QMGRATTRS *a, MQLONG sel) {
    const char *v = QmgrAttrString(a, sel);
    return v != nullptr ? v : "";
}

static int HandleInq(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w) {
    MQHOBJ hobj = WireGetI32(r);
    MQLONG selCount = WireGetI32(r);
    if (r->bad || selCount < 0 || selCount > 256)
        return -1;
    MQLONG sels[256];
    for (MQLONG i = 0; i < selCount; i++)
        sels[i] = WireGetI32(r);
    MQLONG intCount = WireGetI32(r);
    MQLONG charLen = WireGetI32(r);
    if (!WireReadComplete(r) || intCount < 0 || intCount > 256 || charLen < 0 || charLen > 1048576)
        return -1;
    HANDLE *hd = FindHandle(c, hobj);
    MQLONG rc = 0, cc = MQCC_OK;
    std::vector<MQLONG> ints;
    std::string chars;
    if (hd == nullptr)
        rc = MQRC_HOBJ_ERROR;
    else if (!(hd->options & MQOO_INQUIRE))
        rc = MQRC_NOT_OPEN_FOR_INQUIRE;
    else if (hd->kind == HANDLE_QUEUE && hd->defQueue->deleted)
        rc = MQRC_Q_DELETED;
    else if ((rc = CheckFault(qm, "MQINQ", hd->kind == HANDLE_QMGR ? "QMGR" : hd->objectName)) != 0)
        ;
    else {
        int forQmgr = hd->kind == HANDLE_QMGR;
        QATTRS qa;
        if (!forQmgr)
            SnapshotQueue(hd->defQueue, &qa);
        MQLONG warn = 0;
        MQLONG nInts = 0, nChars = 0;
        for (MQLONG i = 0; i < selCount && rc == 0; i++) {
            const SELINFO *s = FindSelector(sels[i], forQmgr);
            if (s == nullptr) {
                rc = MQRC_SELECTOR_ERROR;
                break;
            }
            int applies = forQmgr || SelectorApplies(s->selector, qa.qType);
            if (!applies)
                warn = MQRC_SELECTOR_NOT_FOR_TYPE;
            if (s->length == 0) {
                nInts++;
                MQLONG v = !applies  ? MQIAV_NOT_APPLICABLE
                           : forQmgr ? QmgrInt(&qm->a, s->selector)
                                     : QueueInt(&qa, s->selector);
                ints.push_back(v);
            } else {
                nChars += s->length;
                const char *v = !applies  ? ""
                                : forQmgr ? QmgrChars(&qm->a, s->selector)
                                          : QueueChars(&qa, s->selector);
                std::string field(v);
                field.resize((size_t)s->length, ' ');
                chars += field;
            }
        }
        if (rc == 0) {
            if (nInts > intCount) {
                ints.resize((size_t)intCount);
                warn = MQRC_INT_ATTR_COUNT_TOO_SMALL;
            }
            if (nChars > charLen) {
                chars.resize((size_t)charLen);
                warn = MQRC_CHAR_ATTRS_TOO_SHORT;
            }
            if (warn != 0) {
                rc = warn;
                cc = MQCC_WARNING;
            }
        }
    }
    if (rc != 0 && cc != MQCC_WARNING) {
        cc = MQCC_FAILED;
        ints.clear();
        chars.clear();
    }
    WireBegin(w, h->type | WIRE_T_REPLY, h->tag);
    WirePutI32(w, cc);
    WirePutI32(w, rc);
    WirePutI32(w, (int32_t)ints.size());
    for (MQLONG v : ints)
        WirePutI32(w, v);
    WirePutBlob(w, chars.data(), (uint32_t)chars.size());
    c->replyReady = 1; /* sent once the lock is released */
    return 0;
}

static int HandleSet(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w) {
    MQHOBJ hobj = WireGetI32(r);
    MQLONG selCount = WireGetI32(r);
    if (r->bad || selCount < 0 || selCount > 256)
        return -1;
    MQLONG sels[256];
    for (MQLONG i = 0; i < selCount; i++)
        sels[i] = WireGetI32(r);
    MQLONG intCount = WireGetI32(r);
    if (r->bad || intCount < 0 || intCount > 256)
        return -1;
    MQLONG ints[256];
    for (MQLONG i = 0; i < intCount; i++)
        ints[i] = WireGetI32(r);
    const uint8_t *chars;
    uint32_t charLen;
    WireGetBlob(r, &chars, &charLen);
    if (!WireReadComplete(r))
        return -1;
    HANDLE *hd = FindHandle(c, hobj);
    MQLONG rc = 0;
    if (hd == nullptr)
        rc = MQRC_HOBJ_ERROR;
    else if (!(hd->options & MQOO_SET))
        rc = MQRC_NOT_OPEN_FOR_SET;
    else if (hd->kind != HANDLE_QUEUE)
        rc = MQRC_SELECTOR_ERROR;
    else if (hd->defQueue->deleted)
        rc = MQRC_Q_DELETED;
    else if ((rc = CheckFault(qm, "MQSET", hd->objectName)) != 0)
        ;
    else {
        QUEUE *q = hd->defQueue;
        /* check everything first: a failed MQSET changes nothing */
        MQLONG ni = 0, nc = 0;
        for (MQLONG i = 0; i < selCount && rc == 0; i++) {
            MQLONG s = sels[i];
            if (s == MQIA_INHIBIT_GET || s == MQIA_INHIBIT_PUT || s == MQIA_TRIGGER_CONTROL ||
                s == MQIA_TRIGGER_TYPE || s == MQIA_TRIGGER_DEPTH ||
                s == MQIA_TRIGGER_MSG_PRIORITY) {
                if (ni >= intCount)
                    rc = MQRC_INT_ATTR_COUNT_TOO_SMALL;
                MQLONG v = ni < intCount ? ints[ni] : 0;
                if ((s == MQIA_INHIBIT_GET || s == MQIA_INHIBIT_PUT || s == MQIA_TRIGGER_CONTROL) &&
                    v != 0 && v != 1)
                    rc = MQRC_SELECTOR_ERROR;
                ni++;
            } else if (s == MQCA_TRIGGER_DATA) {
                nc += MQ_TRIGGER_DATA_LENGTH;
                if ((uint32_t)nc > charLen)
                    rc = MQRC_CHAR_ATTR_LENGTH_ERROR;
            } else {
                rc = MQRC_SELECTOR_ERROR;
            }
        }
        if (rc == 0 && q->a.qType != MQQT_LOCAL)
            rc = MQRC_SELECTOR_NOT_FOR_TYPE;
        ni = 0;
        nc = 0;
        for (MQLONG i = 0; i < selCount && rc == 0; i++) {
            MQLONG s = sels[i];
            if (s == MQCA_TRIGGER_DATA) {
                char f[MQ_TRIGGER_DATA_LENGTH + 1];
                WireGetField(f, (const char *)chars + nc, MQ_TRIGGER_DATA_LENGTH);
                snprintf(q->a.triggerData, sizeof q->a.triggerData, "%s", f);
                nc += MQ_TRIGGER_DATA_LENGTH;
                continue;
            }
            MQLONG v = ints[ni++];
            switch (s) {
                case MQIA_INHIBIT_GET:
                    if (v != q->a.inhibitGet) {
                        q->a.inhibitGet = v;
                        if (v == MQQA_GET_INHIBITED)
                            NotifyGetInhibited(qm, q);
                        else
                            NotifyGetAllowed(qm, q);
                    }
                    break;
                case MQIA_INHIBIT_PUT:
                    q->a.inhibitPut = v;
                    break;
                case MQIA_TRIGGER_CONTROL:
                    q->a.triggerControl = v;
                    break;
                case MQIA_TRIGGER_TYPE:
                    q->a.triggerType = v;
                    break;
                case MQIA_TRIGGER_DEPTH:
                    q->a.triggerDepth = v;
                    break;
                case MQIA_TRIGGER_MSG_PRIORITY:
                    q->a.triggerMsgPriority = v;
                    break;
            }
        }
    }
    ReplyStatus(c, w, h->type, h->tag, rc);
    return 0;
}

static int HandleCb(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w) {
    MQLONG op = WireGetI32(r);
    MQLONG cbType = WireGetI32(r);
    MQLONG cbdOptions = WireGetI32(r);
    MQHOBJ hobj = WireGetI32(r);
    MQLONG maxMsgLength = WireGetI32(r);
    MQLONG gmoOptions = WireGetI32(r);
    MQLONG matchOptions = WireGetI32(r);
    MQMD match;
    WireGetBytes(r, &match, sizeof match);
    if (!WireReadComplete(r))
        return -1;
    MQLONG rc = 0;
    HANDLE *hd = nullptr;
    if (qm->quiescing && (cbdOptions & MQCBDO_FAIL_IF_QUIESCING) && op == MQOP_REGISTER)
        rc = MQRC_Q_MGR_QUIESCING;
    else if (cbType == MQCBT_EVENT_HANDLER) {
        if ((rc = CheckFault(qm, "MQCB", "QMGR")) != 0)
            ;
        else if (op == MQOP_REGISTER)
            c->eventHandler = 1;
        else if (op == MQOP_DEREGISTER)
            c->eventHandler = 0;
        else if (op != MQOP_SUSPEND && op != MQOP_RESUME)
            rc = MQRC_OPERATION_ERROR;
    } else if (cbType == MQCBT_MESSAGE_CONSUMER) {
        hd = FindHandle(c, hobj);
        if (hd == nullptr)
            rc = MQRC_HOBJ_ERROR;
        else if ((rc = CheckFault(qm, "MQCB", hd->objectName)) != 0)
            ;
        else if (hd->kind != HANDLE_QUEUE ||
                 !(hd->options & (MQOO_INPUT_AS_Q_DEF | MQOO_INPUT_SHARED | MQOO_INPUT_EXCLUSIVE)))
            rc = MQRC_NOT_OPEN_FOR_INPUT;
        else if (op == MQOP_REGISTER) {
            hd->consumer = 1;
            hd->consumerSuspended = 0;
            hd->cbGmoOptions = gmoOptions;
            hd->cbMatchOptions = matchOptions;
            hd->cbMaxMsgLength = maxMsgLength;
            hd->cbMatch = match;
            if (c->started)
                StartDelivery(qm, c);
        } else if (op == MQOP_DEREGISTER || op == MQOP_SUSPEND) {
            /* Pushes the library has not given to this consumer come back;
             * the library drops them when it has the reply. */
            if (op == MQOP_DEREGISTER) {
                if (!hd->consumer)
                    rc = MQRC_CALLBACK_NOT_REGISTERED;
                hd->consumer = 0;
            } else {
                hd->consumerSuspended = 1;
            }
            ClearIdleWaiters(qm, c);
            ReturnDeliveries(qm, c, hd);
            if (c->started)
                StartDelivery(qm, c);
        } else if (op == MQOP_RESUME) {
            hd->consumerSuspended = 0;
            if (c->started)
                StartDelivery(qm, c);
        } else {
            rc = MQRC_OPERATION_ERROR;
        }
    } else {
        rc = MQRC_CALLBACK_TYPE_ERROR;
    }
    ReplyStatus(c, w, h->type, h->tag, rc);
    return 0;
}

static int HandleCtl(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w) {
    MQLONG op = WireGetI32(r);
    MQLONG options = WireGetI32(r);
    if (!WireReadComplete(r))
        return -1;
    MQLONG rc = 0;
    if (qm->quiescing && (options & MQCTLO_FAIL_IF_QUIESCING) &&
        (op == MQOP_START || op == MQOP_START_WAIT || op == MQOP_RESUME))
        rc = MQRC_Q_MGR_QUIESCING;
    else if ((rc = CheckFault(qm, "MQCTL", "QMGR")) != 0)
        ;
    else if (op == MQOP_START || op == MQOP_START_WAIT) {
        int consumers = 0;
        for (HANDLE *hd : c->handles)
            consumers += hd && hd->consumer ? 1 : 0;
        if (consumers == 0 && !c->eventHandler)
            rc = MQRC_NO_CALLBACKS_ACTIVE;
        else {
            c->started = 1;
            c->suspended = 0;
            for (HANDLE *hd : c->handles) {
                if (hd && hd->consumer && hd->queue->a.inhibitGet == MQQA_GET_INHIBITED &&
                    !hd->inhibitNotified) {
                    hd->inhibitNotified = 1;
                    PushEvent(c, hd->hobj, MQCC_FAILED, MQRC_GET_INHIBITED);
                }
            }
            StartDelivery(qm, c);
        }
    } else if (op == MQOP_STOP || op == MQOP_SUSPEND) {
        /* Every push the library has not given to a callback by now comes
         * back to its queue before the reply (the library acknowledged the
         * others ahead of this request and drops the rest on the reply). */
        if (op == MQOP_STOP)
            c->started = 0;
        else
            c->suspended = 1;
        ClearIdleWaiters(qm, c);
        ReturnDeliveries(qm, c, nullptr);
    } else if (op == MQOP_RESUME) {
        c->suspended = 0;
        StartDelivery(qm, c);
    } else {
        rc = MQRC_OPERATION_ERROR;
    }
    ReplyStatus(c, w, h->type, h->tag, rc);
    return 0;
}

static int HandleUow(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w) {
    if (!WireReadComplete(r))
        return -1;
    EndUnitOfWork(qm, c, h->type == WIRE_T_CMIT);
    ReplyStatus(c, w, h->type, h->tag, 0);
    return 0;
}

/* Acknowledgements of pushes, in one frame: a count, then per push its
 * number and ACK_DELIVERED when the library gave it to a callback (the
 * message is consumed; under syncpoint it joins the unit of work and is
 * followed by ACK_RETURNED when the callback has returned) or
 * ACK_NOT_DELIVERED when it did not (it goes back where it was in its
 * queue). Numbers no longer in flight (given back already) are ignored. */
static int HandleAck(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w) {
    (void)h;
    (void)w;
    uint32_t count = WireGetU32(r);
    if (r->bad || (size_t)count > (r->len - r->pos) / 8)
        return -1;
    std::vector<DELIVERY> back;
    for (uint32_t i = 0; i < count; i++) {
        uint32_t seq = WireGetU32(r);
        MQLONG delivered = WireGetI32(r);
        auto it = c->inflight.begin();
        while (it != c->inflight.end() && it->seq != seq)
            ++it;
        if (it == c->inflight.end())
            continue;
        if (it->given && delivered != ACK_RETURNED)
            continue;
        if (it->locked && delivered == ACK_DELIVERED) {
            /* in the unit of work from now on, locked until MQCMIT / MQBACK */
            it->given = 1;
            it->msg = nullptr;
            c->uowActive = 1;
            continue;
        }
        DELIVERY d = *it;
        c->inflight.erase(it);
        c->inflightBytes -= d.bytes;
        if (d.locked)
            c->inflightLocked--;
        if (delivered == ACK_NOT_DELIVERED)
            back.push_back(d);
        else if (!d.locked)
            FreeMessage(d.msg);
    }
    if (!WireReadComplete(r))
        return -1;
    GiveBack(qm, &back);
    if (c->started)
        StartDelivery(qm, c);
    return 0;
}

/* ---- control commands --------------------------------------------------------------- */

static void RequestStop(int how) {
    std::lock_guard<std::mutex> g(DaemonMutex);
    if (StopRequested == 0 || how == 1)
        StopRequested = how;
    DaemonCv.notify_all();
}

static MQLONG ParseNumber(const char *s, long long lo, long long hi, MQLONG *out) {
    char *end = nullptr;
    long long v = strtoll(s, &end, 10);
    if (end == s || *end != '\0' || v < lo || v > hi)
        return 1;
    *out = (MQLONG)v;
    return 0;
}

static void HandleControl(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w) {
    MQLONG argc = WireGetI32(r);
    std::vector<std::string> args;
    for (MQLONG i = 0; i < argc && i < 64 && !r->bad; i++) {
        const uint8_t *p;
        uint32_t n;
        WireGetBlob(r, &p, &n);
        if (!r->bad)
            args.emplace_back((const char *)p, n);
    }
    if (!WireReadComplete(r) || argc < 1 || argc > 64) {
        LogLine("control connection %u: malformed command", c->id);
        return;
    }
    for (auto &a : args) {
        if (a.find('\0') != std::string::npos) {
            LogLine("control connection %u: malformed command", c->id);
            return;
        }
    }
    std::vector<std::string> out;
    std::string error;
    int rc = 0;
    const std::string &cmd = args[0];
    size_t n = args.size();
    if (cmd == "ping") {
        out.push_back(qm->a.name);
    } else if (cmd == "mqsc" || cmd == "mqscfile") {
        if (n != 2) {
            rc = 1;
            error = "mqsc needs one text";
        } else if (cmd == "mqsc") {
            if (RunMqscCommand(qm, args[1].c_str(), &out) != 0) {
                rc = 1;
                error = "the command failed";
            }
        } else {
            int failed = 0;
            RunMqscScript(qm, args[1].c_str(), &out, &failed);
            if (failed > 0) {
                rc = 1;
                error = std::to_string(failed) + " command(s) failed";
            }
        }
    } else if (cmd == "fault") {
        std::lock_guard<std::mutex> g(qm->lock);
        MQLONG reason = 0, count = 1;
        if (n == 2 && args[1] == "clear") {
            ClearFaults(qm);
            out.push_back("faults cleared");
        } else if (n >= 4 && n <= 5 && args[1] == "put" &&
                   ParseNumber(args[3].c_str(), 1, 999999999, &reason) == 0 &&
                   (n == 4 || ParseNumber(args[4].c_str(), -1, 999999999, &count) == 0) &&
                   count != 0 && args[2].size() <= MQ_Q_NAME_LENGTH) {
            FAULT *f = new FAULT();
            snprintf(f->verb, sizeof f->verb, "MQPUT");
            snprintf(f->object, sizeof f->object, "%s", args[2].c_str());
            f->anyPut = 1;
            f->reason = reason;
            f->count = count;
            FAULT **pp = &qm->faults;
            while (*pp)
                pp = &(*pp)->next;
            *pp = f;
            out.push_back("fault set: MQPUT/MQPUT1 " + args[2] + " " + args[3]);
        } else if (n >= 5 && n <= 6 && args[1] == "call" &&
                   ParseNumber(args[4].c_str(), 1, 999999999, &reason) == 0 &&
                   (n == 5 || ParseNumber(args[5].c_str(), -1, 999999999, &count) == 0) &&
                   count != 0 && args[2].size() < 16 && args[3].size() <= MQ_Q_NAME_LENGTH) {
            static const char *verbs[] = {"MQCONN",  "MQCONNX", "MQDISC", "MQOPEN",
                                          "MQCLOSE", "MQGET",   "MQPUT",  "MQPUT1",
                                          "MQINQ",   "MQSET",   "MQCB",   "MQCTL"};
            int known = 0;
            for (const char *v : verbs)
                known |= args[2] == v;
            if (!known) {
                rc = 1;
                error = "unknown verb " + args[2];
            } else {
                FAULT *f = new FAULT();
                snprintf(f->verb, sizeof f->verb, "%s", args[2].c_str());
                snprintf(f->object, sizeof f->object, "%s", args[3].c_str());
                f->reason = reason;
                f->count = count;
                FAULT **pp = &qm->faults;
                while (*pp)
                    pp = &(*pp)->next;
                *pp = f;
                out.push_back("fault set: " + args[2] + " " + args[3] + " " + args[4]);
            }
        } else if (n == 3 && args[1] == "event" &&
                   ParseNumber(args[2].c_str(), 1, 999999999, &reason) == 0) {
            int k = 0;
            for (CONN *x = qm->conns; x; x = x->next) {
                if (x->eventHandler) {
                    PushEvent(x, 0, MQCC_WARNING, reason);
                    k++;
                }
            }
            out.push_back("event " + args[2] + " sent to " + std::to_string(k) + " connection(s)");
        } else {
            rc = 1;
            error =
                "usage: fault QM put QUEUE REASON [COUNT] | call VERB OBJECT REASON [COUNT] | "
                "event REASON | clear";
        }
    } else if (cmd == "break") {
        std::lock_guard<std::mutex> g(qm->lock);
        int k = 0;
        for (CONN *x = qm->conns; x; x = x->next) {
            PLShutdownSocket(x->sock);
            k++;
        }
        LogLine("break: %d connection(s) severed", k);
        out.push_back(std::to_string(k) + " connection(s) broken");
    } else if (cmd == "stop") {
        int quiesce = n == 2 && args[1] == "quiesce";
        LogLine("stop%s requested", quiesce ? " (quiesce)" : "");
        RequestStop(quiesce ? 2 : 1);
        out.push_back("stopping");
    } else if (cmd == "cmdserver") {
        MQLONG ms = 0;
        if (n == 2 && args[1] == "stop")
            rc = ControlCommandServer(qm, CMDSERVER_STOP, 0);
        else if (n == 2 && args[1] == "start")
            rc = ControlCommandServer(qm, CMDSERVER_START, 0);
        else if (n == 3 && args[1] == "delay" && ParseNumber(args[2].c_str(), 0, 3600000, &ms) == 0)
            rc = ControlCommandServer(qm, CMDSERVER_DELAY, ms);
        else
            rc = 1;
        if (rc != 0) {
            rc = 1;
            error = "usage: cmdserver QM stop|start|delay MS";
        } else {
            out.push_back("command server: " + args[1]);
        }
    } else if (cmd == "status") {
        std::lock_guard<std::mutex> g(qm->lock);
        const char *plat = qm->a.platform == MQPL_ZOS          ? "ZOS"
                           : qm->a.platform == MQPL_WINDOWS_NT ? "WINDOWS"
                                                               : "UNIX";
        out.push_back(std::string("QMNAME(") + qm->a.name + ")");
        out.push_back(std::string("STATUS(") + (qm->quiescing ? "QUIESCING" : "RUNNING") + ")");
        out.push_back("PORT(" + std::to_string(ListenPort) + ")");
        out.push_back("PID(" + std::to_string((long long)PLProcessId()) + ")");
        out.push_back(std::string("PLATFORM(") + plat + ")");
        out.push_back("CONNECTIONS(" + std::to_string(qm->connCount) + ")");
        out.push_back(std::string("CMDSERVER(") + (qm->cmdServerRunning ? "RUNNING" : "STOPPED") +
                      ") DELAY(" + std::to_string(qm->cmdServerDelayMs.load()) + ")");
        out.push_back(std::string("LASTCMDUSER(") + qm->lastCmdUser + ")");
        out.push_back(std::string("LASTCMDAPPL(") + qm->lastCmdApplName + ")");
        for (auto &e : qm->queues) {
            if (e.second->a.qType == MQQT_LOCAL)
                out.push_back("QUEUE(" + e.first + ") CURDEPTH(" +
                              std::to_string(e.second->a.curDepth) + ")");
        }
    } else {
        rc = 1;
        error = "unknown command " + cmd;
    }
    WireBegin(w, WIRE_T_CONTROL | WIRE_T_REPLY, h->tag);
    WirePutI32(w, rc);
    std::string text;
    for (auto &l : out) {
        text += l;
        text += '\n';
    }
    WirePutBlob(w, text.data(), (uint32_t)text.size());
    WirePutString(w, error.c_str());
    SendFrame(c, w, 1);
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
            HandleControl(qm, c, &h, &r, &w);
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

/* Ends waiting gets at their deadline with 2033. */
static void TimerMain(QMGR *qm) {
    std::unique_lock<std::mutex> g(qm->lock);
    while (!qm->stopping) {
        uint64_t now = NowMs();
        uint64_t next = 0;
        WAITER *w = qm->timed;
        while (w) {
            WAITER *nw = w->nextTimed;
            if (w->deadlineMs <= now) {
                if (w->kind == WAIT_GET && w->conn->getWaiter == w)
                    EndGetWaiter(qm, w->conn, MQCC_FAILED, MQRC_NO_MSG_AVAILABLE, nullptr);
                else
                    RemoveWaiter(qm, w);
            } else if (next == 0 || w->deadlineMs < next) {
                next = w->deadlineMs;
            }
            w = nw;
        }
        if (next == 0)
            qm->timerCv.wait(g);
        else
            qm->timerCv.wait_for(g, std::chrono::milliseconds(next - now));
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
    std::thread timer(TimerMain, qm);
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
