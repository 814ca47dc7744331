/* mqiasync.cpp -- the stand-in MQI library's asynchronous consumption:
 * MQCB, MQCTL and the dispatch and event threads that call back.
 *
 * A connection is STOPPED (new), STARTED or SUSPENDED; while it is STARTED
 * only its callbacks may use it, apart from MQCTL STOP / SUSPEND and
 * MQDISC. Owns: nothing global.
 */
#include "mqilib.h"

#include <cstring>

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
void DispatchMain(CONNREF ref) {
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
        /* a message too long for the consumer stops it (a browsing
         * consumer's copies come as not removed too, and go on) */
        if (it.isMsg && hd != nullptr && it.callType == MQCBCT_MSG_NOT_REMOVED &&
            it.reason == MQRC_TRUNCATED_MSG_FAILED)
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
void EventsMain(CONNREF ref) {
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
        if (BadStruc(pCallbackDesc, MQCBD_STRUC_ID, MQCBD_VERSION_1))
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
            if (BadStruc(pGetMsgOpts, MQGMO_STRUC_ID, MQGMO_VERSION_4))
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
        rc = FindConn(Hconn, &ref, &probe, 1);
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
    if (pControlOpts != nullptr && BadStruc(pControlOpts, MQCTLO_STRUC_ID, MQCTLO_VERSION_1)) {
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
        /* STOPPED -> START(_WAIT) -> STARTED <-> SUSPEND / RESUME -> SUSPENDED;
         * STOP from any state. Anything else is refused, changing nothing. */
        int allowed = starting ? !c->started || (Operation == MQOP_START && !c->suspended)
                      : Operation == MQOP_STOP ? 1
                                               : c->started;
        /* a started connection: START and RESUME only from its callbacks */
        int fromOther = me != c->dispatchId && me != c->eventsId && c->started && !c->suspended &&
                        Operation != MQOP_STOP && Operation != MQOP_SUSPEND;
        if (!allowed || fromOther) {
            g.unlock();
            SetResult(pCompCode, pReason, MQCC_FAILED,
                      allowed ? MQRC_HCONN_ASYNC_ACTIVE : MQRC_OPERATION_NOT_ALLOWED);
            return;
        }
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
        if (cc == MQCC_FAILED && starting) {
            c->started = wasStarted;
            c->suspended = wasSuspended;
        }
        if (Operation == MQOP_STOP && cc != MQCC_FAILED)
            c->suspended = 0;
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
