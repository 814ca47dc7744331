/* mqverbs.cpp -- MQCONN, MQDISC, MQOPEN, MQCLOSE, MQPUT, MQPUT1, MQGET,
 * MQINQ, MQSET, MQCMIT and MQBACK of a connection (see mqverbs.h).
 *
 * Owns: nothing global. Threads: connection readers, QMGR.lock held.
 */
#include "mqverbs.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "delivery.h"
#include "queue_attrs.h"

static void CloseHandleLocked(QMGR *qm, CONN *c, HANDLE *h);
static void EndUnitOfWork(QMGR *qm, CONN *c, int commit);
static MQLONG OpenDynamicQueue(QMGR *qm, CONN *c, QUEUE *model, const char *dynName, QUEUE **out);
static MQLONG CheckPutOptions(MQLONG pmo);
static MQLONG CheckContextAuthority(MQLONG pmo, MQLONG openOptions);
static const ATTRDEF *FindSelector(MQLONG sel, int forQmgr);
static MQLONG QueueInt(const QATTRS *a, const ATTRDEF *d);
static const char *QueueChars(const QATTRS *a, const ATTRDEF *d);

/* ---- handles and units of work ----------------------------------------------------- */

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
    c->handleCount--;
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
                        AddPendingTrigger(q->a.name);
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
void CleanupConnection(QMGR *qm, CONN *c, int commit) {
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
    c->handleCount = 0;
    c->eventHandler = 0;
}

/* ---- MQI requests ------------------------------------------------------------------- */

int HandleConnect(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w) {
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

int HandleDisc(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w) {
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

int HandleOpen(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w) {
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
        /* MAXHANDS bounds the handles a connection has open at once */
        if (c->handleCount >= (size_t)(qm->a.maxHandles > 0 ? qm->a.maxHandles : 0))
            rc = MQRC_HANDLE_NOT_AVAILABLE;
        for (slot = 0; slot < c->handles.size(); slot++) {
            if (c->handles[slot] == nullptr)
                break;
        }
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
        c->handleCount++;
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

int HandleClose(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w) {
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

int HandlePut(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w) {
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
        PUTTER who = {c, c->userId, c->applName, c->applType};
        rc = PutToQueue(qm, hd->queue, &who, &md, pmo, data, (MQLONG)len, &triggerDue);
        if (rc == 0 && (pmo & MQPMO_SYNCPOINT))
            c->uowActive = 1;
        if (rc == 0 && triggerDue)
            AddPendingTrigger(hd->queue->a.name);
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

int HandlePut1(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w) {
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
        PUTTER who = {c, c->userId, c->applName, c->applType};
        rc = PutToQueue(qm, dest, &who, &md, pmo, data, (MQLONG)len, &triggerDue);
        if (rc == 0 && (pmo & MQPMO_SYNCPOINT))
            c->uowActive = 1;
        if (rc == 0 && triggerDue)
            AddPendingTrigger(dest->a.name);
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
int HandleGet(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w) {
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

/* MQINQ and MQSET know the selectors the command server reports, from the
 * same tables; a queue selector applies to the queue types its row names. */
static const ATTRDEF *FindSelector(MQLONG sel, int forQmgr) {
    return forQmgr ? FindQmgrAttr(sel) : FindQueueAttr(sel);
}

static MQLONG QueueInt(const QATTRS *a, const ATTRDEF *d) {
    MQLONG v;
    const char *text;
    return QueueAttrValue(a, d, &v, &text) ? v : MQIAV_NOT_APPLICABLE;
}

static const char *QueueChars(const QATTRS *a, const ATTRDEF *d) {
    MQLONG v;
    const char *text = nullptr;
    return QueueAttrValue(a, d, &v, &text) && text != nullptr ? text : "";
}

static MQLONG QmgrInt(const QMGRATTRS *a, MQLONG sel) {
    MQLONG v;
    return QmgrAttrInt(a, sel, &v) ? v : MQIAV_NOT_APPLICABLE;
}

static const char *QmgrChars(const QMGRATTRS *a, MQLONG sel) {
    const char *v = QmgrAttrString(a, sel);
    return v != nullptr ? v : "";
}

int HandleInq(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w) {
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
            const ATTRDEF *s = FindSelector(sels[i], forQmgr);
            if (s == nullptr) {
                rc = MQRC_SELECTOR_ERROR;
                break;
            }
            int applies = forQmgr || (s->qtypes & QueueTypeBit(qa.qType)) != 0;
            if (!applies)
                warn = MQRC_SELECTOR_NOT_FOR_TYPE;
            if (s->length == 0) {
                nInts++;
                MQLONG v = !applies  ? MQIAV_NOT_APPLICABLE
                           : forQmgr ? QmgrInt(&qm->a, s->selector)
                                     : QueueInt(&qa, s);
                ints.push_back(v);
            } else {
                nChars += s->length;
                const char *v = !applies  ? ""
                                : forQmgr ? QmgrChars(&qm->a, s->selector)
                                          : QueueChars(&qa, s);
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

int HandleSet(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w) {
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

int HandleUow(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w) {
    if (!WireReadComplete(r))
        return -1;
    EndUnitOfWork(qm, c, h->type == WIRE_T_CMIT);
    ReplyStatus(c, w, h->type, h->tag, 0);
    return 0;
}
