/* async.cpp -- MQCB, MQCTL and acknowledgements of pushes (see async.h).
 *
 * Owns: nothing global. Threads: connection readers, QMGR.lock held.
 */
#include "async.h"

#include <vector>

#include "delivery.h"

static MQLONG CheckConsumerOptions(const HANDLE *hd, MQLONG gmo);

/* The get-message options of a consumer registered on hd: a browsing
 * consumer needs MQOO_BROWSE (2036), any other an input open (2037); the
 * browse and cursor options a consumer cannot use are 2046. */
static MQLONG CheckConsumerOptions(const HANDLE *hd, MQLONG gmo) {
    const MQLONG inputs = MQOO_INPUT_AS_Q_DEF | MQOO_INPUT_SHARED | MQOO_INPUT_EXCLUSIVE;
    int browse = (gmo & (MQGMO_BROWSE_FIRST | MQGMO_BROWSE_NEXT)) != 0;
    if (hd->kind != HANDLE_QUEUE)
        return browse ? MQRC_NOT_OPEN_FOR_BROWSE : MQRC_NOT_OPEN_FOR_INPUT;
    if (((gmo & MQGMO_BROWSE_FIRST) && (gmo & MQGMO_BROWSE_NEXT)) ||
        (browse && (gmo & MQGMO_SYNCPOINT)) ||
        (gmo & (MQGMO_MSG_UNDER_CURSOR | MQGMO_BROWSE_MSG_UNDER_CURSOR | MQGMO_LOCK | MQGMO_UNLOCK |
                MQGMO_SET_SIGNAL)))
        return MQRC_OPTIONS_ERROR;
    if (browse)
        return (hd->options & MQOO_BROWSE) ? 0 : MQRC_NOT_OPEN_FOR_BROWSE;
    return (hd->options & inputs) ? 0 : MQRC_NOT_OPEN_FOR_INPUT;
}

int HandleCb(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w) {
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
        else if (op == MQOP_REGISTER && (rc = CheckConsumerOptions(hd, gmoOptions)) != 0)
            ;
        else if (op == MQOP_REGISTER) {
            /* a browsing consumer starts at the first message with
             * BROWSE_FIRST, or after the handle's browse cursor */
            hd->browser = (gmoOptions & (MQGMO_BROWSE_FIRST | MQGMO_BROWSE_NEXT)) != 0;
            if (gmoOptions & MQGMO_BROWSE_FIRST)
                hd->browseSeq = 0;
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

int HandleCtl(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w) {
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
    else if ((op == MQOP_START || op == MQOP_START_WAIT) && c->started &&
             (op == MQOP_START_WAIT || c->suspended))
        rc = MQRC_OPERATION_NOT_ALLOWED; /* started or suspended: RESUME is the way */
    else if ((op == MQOP_SUSPEND || op == MQOP_RESUME) && !c->started)
        rc = MQRC_OPERATION_NOT_ALLOWED; /* stopped */
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
            c->started = c->suspended = 0;
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

/* Acknowledgements of pushes, in one frame: a count, then per push its
 * number and ACK_DELIVERED when the library gave it to a callback (the
 * message is consumed; under syncpoint it joins the unit of work and is
 * followed by ACK_RETURNED when the callback has returned) or
 * ACK_NOT_DELIVERED when it did not (it goes back where it was in its
 * queue). Numbers no longer in flight (given back already) are ignored. */
int HandleAck(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w) {
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
