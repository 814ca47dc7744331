/* delivery.cpp -- messages to waiting gets and to consumers (see delivery.h).
 *
 * Owns: nothing global. Threads: connection readers, the command server and
 * the timer, all under QMGR.lock.
 */
#include "delivery.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>

static int DeliveryWindowOpen(const CONN *c);
static int ConsumerMayTake(const CONN *c, const HANDLE *h);
static int PushToConsumer(QMGR *qm, CONN *c, HANDLE *h, MSG *m);
static MSG *NewMessageCopy(const MSG *m);

/* Results of PushToConsumer. */
constexpr int PUSH_REFUSED = 0;
constexpr int PUSH_TAKEN = 1;
constexpr int PUSH_COPIED = 2;

void InstallDeliveryHooks(QMGR *qm) {
    qm->hooks.deliverToWaiter = DeliverToWaiter;
    qm->hooks.forgetDeliveries = ForgetDeliveries;
    qm->hooks.getInhibited = NotifyGetInhibited;
    qm->hooks.getAllowed = NotifyGetAllowed;
}

/* ---- waiting gets --------------------------------------------------------------------- */

void BuildGetReply(WBUF *w, uint32_t tag, MQLONG cc, MQLONG rc, const MSG *m, MQLONG bufferLength,
                   const char *resolvedQ) {
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

void EndGetWaiter(QMGR *qm, CONN *c, MQLONG compCode, MQLONG reason, MSG *m) {
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
    if (!ConsumerMayTake(c, h) || (h->browser && m->seq <= h->browseSeq))
        return 0;
    int pushed = PushToConsumer(qm, c, h, m);
    if (pushed == PUSH_COPIED) {
        /* m stays for the waiters after w. Only w may leave the list here:
         * the others of c decline while the window is shut, and the next
         * StartDelivery clears them. */
        RemoveWaiter(qm, w);
        if (DeliveryWindowOpen(c)) {
            AddWaiter(qm, w);
        } else {
            for (size_t i = 0; i < c->idleWaiters.size(); i++) {
                if (c->idleWaiters[i] == w) {
                    c->idleWaiters.erase(c->idleWaiters.begin() + (long)i);
                    break;
                }
            }
            delete w;
        }
        return 0;
    }
    if (pushed == PUSH_REFUSED) {
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

/* Push m (visible in h's queue) to c's consumer h. Returns PUSH_TAKEN when
 * it was taken off the queue (or locked) and is in flight until
 * acknowledged; PUSH_COPIED when h browses: a copy is in flight, m stays
 * and h's browse cursor moves past it; PUSH_REFUSED when it stays (too
 * long: the consumer is told with MQCBCT_MSG_NOT_REMOVED and suspended;
 * nothing is in flight for that). Lock held. */
static int PushToConsumer(QMGR *qm, CONN *c, HANDLE *h, MSG *m) {
    (void)qm;
    QUEUE *q = h->queue;
    MQLONG maxLen = h->cbMaxMsgLength;
    int tooLong = maxLen >= 0 && m->length > maxLen;
    MSG *copy = nullptr;
    if (h->browser && !(tooLong && !(h->cbGmoOptions & MQGMO_ACCEPT_TRUNCATED_MSG))) {
        copy = NewMessageCopy(m);
        if (copy == nullptr)
            return PUSH_REFUSED; /* out of memory: it is browsed later */
    }
    MQLONG callType = h->browser ? MQCBCT_MSG_NOT_REMOVED : MQCBCT_MSG_REMOVED;
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
    WirePutBlob(&out, m->data, (uint32_t)(taken ? sendLen : 0));
    WirePutBytes(&out, h->resolvedQName, MQ_Q_NAME_LENGTH);
    int locked = taken && (h->cbGmoOptions & MQGMO_SYNCPOINT) != 0;
    WirePutI32(&out, locked); /* 1: acknowledge the callback's return too */
    if (taken) {
        DELIVERY d;
        d.seq = c->deliverySeq;
        d.msg = copy != nullptr ? copy : m;
        d.queue = q;
        d.handle = h;
        d.locked = locked;
        d.given = 0;
        d.bytes = (size_t)m->length;
        d.browse = copy != nullptr;
        if (d.browse) {
            h->browseSeq = m->seq;
        } else if (d.locked) {
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
    return !taken ? PUSH_REFUSED : copy != nullptr ? PUSH_COPIED : PUSH_TAKEN;
}

/* A copy of m for a browsing consumer (same descriptor, data and arrival
 * number; linked nowhere), or null when memory runs out. */
static MSG *NewMessageCopy(const MSG *m) {
    MSG *x = new (std::nothrow) MSG();
    if (x == nullptr)
        return nullptr;
    x->data = (MQBYTE *)malloc(m->length > 0 ? (size_t)m->length : 1);
    if (x->data == nullptr) {
        delete x;
        return nullptr;
    }
    if (m->length > 0)
        memcpy(x->data, m->data, (size_t)m->length);
    x->md = m->md;
    x->length = m->length;
    x->seq = m->seq;
    x->state = MSG_VISIBLE;
    return x;
}

void ClearIdleWaiters(QMGR *qm, CONN *c) {
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
void StartDelivery(QMGR *qm, CONN *c) {
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
            MSG *m = FindMessage(qm, h->queue, &h->cbMatch, h->cbMatchOptions,
                                 h->browser ? h->browseSeq : 0);
            if (m != nullptr) {
                c->nextConsumer = i + 1;
                pushed = PushToConsumer(qm, c, h, m) != PUSH_REFUSED;
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

int InFlight(const CONN *c, const MSG *m) {
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
void GiveBack(QMGR *qm, std::vector<DELIVERY> *back) {
    std::vector<DELIVERY> offers;
    for (DELIVERY &d : *back) {
        if (d.browse) {
            /* a copy not browsed after all: the cursor goes back before it */
            if (d.handle != nullptr && d.msg->seq <= d.handle->browseSeq)
                d.handle->browseSeq = d.msg->seq - 1;
            FreeMessage(d.msg);
            continue;
        }
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
void ReturnDeliveries(QMGR *qm, CONN *c, HANDLE *h) {
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

void DropGiven(CONN *c, HANDLE *h) {
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

/* ---- the timer ------------------------------------------------------------------------ */

void WaitTimerMain(QMGR *qm) {
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
