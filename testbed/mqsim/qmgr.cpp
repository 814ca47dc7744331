/* qmgr.cpp -- the stand-in queue manager's objects and messages.
 *
 * Owns: TheQmgr, TriggerHook, the log's mutex. Every procedure that says
 * "lock held" runs under TheQmgr->lock; the internal API procedures take it.
 * Threads: the daemon's connection readers, its timer, the command server.
 */
#include "qmgr.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/net.h"
#include "platform/platform.h"
#include "wire.h"

QMGR *TheQmgr = nullptr;
std::atomic<TRIGGERHOOK *> TriggerHook{nullptr};

static std::mutex LogMutex;

static void SetText(char *dst, size_t size, const char *src);
static void AddSystemQueue(QMGR *qm, const char *name, MQLONG qType, const char *descr);
static int IsZero(const MQBYTE *p, size_t n);
static void UtcPutDateTime(char *date8, char *time8);
static void FillDefaultContext(QMGR *qm, const PUTTER *who, MQMD *md, int identityToo);
static MQLONG CheckDescriptor(const MQMD *md);

/* ---- names and time ------------------------------------------------------------- */

/* Copy src into dst of size bytes, cut and terminated. */
static void SetText(char *dst, size_t size, const char *src) {
    snprintf(dst, size, "%s", src ? src : "");
}

void LogLine(const char *fmt, ...) {
    char stamp[64];
    struct tm tm;
    if (PLLocalTime(PLWallClockSeconds(), &tm) == 0)
        snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900,
                 tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    else
        snprintf(stamp, sizeof stamp, "?");
    std::lock_guard<std::mutex> g(LogMutex);
    va_list ap;
    va_start(ap, fmt);
    printf("[%s] ", stamp);
    vprintf(fmt, ap);
    printf("\n");
    fflush(stdout);
    va_end(ap);
}

int GenericMatch(const char *pattern, const char *name) {
    size_t n = strlen(pattern);
    if (n > 0 && pattern[n - 1] == '*')
        return strncmp(pattern, name, n - 1) == 0;
    return strcmp(pattern, name) == 0;
}

int ValidObjectName(const char *name, size_t maxLen) {
    size_t n = strlen(name);
    if (n == 0 || n > maxLen)
        return 0;
    for (size_t i = 0; i < n; i++) {
        char c = name[i];
        int ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 c == '.' || c == '/' || c == '_' || c == '%';
        if (!ok)
            return 0;
    }
    return 1;
}

void CurrentDateTime(char *date, char *time) {
    struct tm tm;
    memset(&tm, 0, sizeof tm);
    PLLocalTime(PLWallClockSeconds(), &tm);
    char buf[64];
    snprintf(buf, sizeof buf, "%04d-%02d-%02d", (tm.tm_year + 1900) % 10000, (tm.tm_mon + 1) % 100,
             tm.tm_mday % 100);
    snprintf(date, MQ_CREATION_DATE_LENGTH + 1, "%.10s", buf);
    snprintf(buf, sizeof buf, "%02d.%02d.%02d", tm.tm_hour % 100, tm.tm_min % 100, tm.tm_sec % 100);
    snprintf(time, MQ_CREATION_TIME_LENGTH + 1, "%.8s", buf);
}

uint64_t NowMs(void) {
    return PLMonotonicMs();
}

/* PutDate "YYYYMMDD" and PutTime "HHMMSSTH" in UTC, as MQ sets them. */
static void UtcPutDateTime(char *date8, char *time8) {
    using namespace std::chrono;
    int64_t cs = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count() / 10;
    int64_t secs = cs / 100;
    int64_t days = secs / 86400;
    int64_t rem = secs % 86400;
    /* civil date from days since 1970-01-01 */
    int64_t z = days + 719468;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t y = yoe + era * 400;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    int64_t d = doy - (153 * mp + 2) / 5 + 1;
    int64_t m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2)
        y++;
    char buf[32];
    snprintf(buf, sizeof buf, "%04d%02d%02d", (int)y, (int)m, (int)d);
    memcpy(date8, buf, 8);
    snprintf(buf, sizeof buf, "%02d%02d%02d%02d", (int)(rem / 3600), (int)(rem / 60 % 60),
             (int)(rem % 60), (int)(cs % 100));
    memcpy(time8, buf, 8);
}

void MakeUniqueId(QMGR *qm, MQBYTE *id) {
    memcpy(id, "AMQ ", 4);
    WireSetField((char *)id + 4, 12, qm->a.name);
    uint64_t v = qm->msgIdBase + ++qm->msgIdCounter;
    for (int i = 0; i < 8; i++)
        id[16 + i] = (MQBYTE)(v >> (8 * (7 - i)));
}

static int IsZero(const MQBYTE *p, size_t n) {
    for (size_t i = 0; i < n; i++) {
        if (p[i] != 0)
            return 0;
    }
    return 1;
}

/* ---- the queue manager's life --------------------------------------------------- */

QUEUE *NewQueue(const char *name, MQLONG qType) {
    QUEUE *q = new (std::nothrow) QUEUE();
    if (q == nullptr)
        return nullptr;
    QATTRS *a = &q->a;
    SetText(a->name, sizeof a->name, name);
    a->qType = qType;
    a->maxDepth = MQSIM_DEFAULT_MAXDEPTH;
    a->maxMsgLength = MQSIM_DEFAULT_MAXMSGL;
    a->inhibitGet = MQQA_GET_ALLOWED;
    a->inhibitPut = MQQA_PUT_ALLOWED;
    a->defType = qType == MQQT_MODEL ? MQQDT_TEMPORARY_DYNAMIC : MQQDT_PREDEFINED;
    a->usage = MQUS_NORMAL;
    a->defPersistence = MQPER_NOT_PERSISTENT;
    a->defPriority = 0;
    a->shareability = MQQA_SHAREABLE;
    a->defInputOpenOption = MQOO_INPUT_SHARED;
    a->msgDeliverySequence = MQMDS_PRIORITY;
    a->triggerControl = MQTC_OFF;
    a->triggerType = MQTT_FIRST;
    a->triggerDepth = 1;
    a->triggerMsgPriority = 0;
    CurrentDateTime(a->creationDate, a->creationTime);
    memcpy(a->alterationDate, a->creationDate, sizeof a->alterationDate);
    memcpy(a->alterationTime, a->creationTime, sizeof a->alterationTime);
    return q;
}

void AddQueue(QMGR *qm, QUEUE *q) {
    qm->queues[q->a.name] = q;
}

static void AddSystemQueue(QMGR *qm, const char *name, MQLONG qType, const char *descr) {
    QUEUE *q = NewQueue(name, qType);
    if (q == nullptr)
        return;
    SetText(q->a.descr, sizeof q->a.descr, descr);
    AddQueue(qm, q);
}

QMGR *NewQmgr(const QMGROPTIONS *opts) {
    QMGR *qm = new (std::nothrow) QMGR();
    if (qm == nullptr)
        return nullptr;
    qm->opts = *opts;
    QMGRATTRS *a = &qm->a;
    SetText(a->name, sizeof a->name, opts->name);
    SetText(a->descr, sizeof a->descr, "mqsim stand-in queue manager");
    a->platform = opts->platform;
    a->commandLevel = MQSIM_COMMAND_LEVEL;
    a->codedCharSetId = 1208;
    a->maxMsgLength = MQSIM_DEFAULT_MAXMSGL;
    a->maxHandles = 256;
    a->maxPriority = 9;
    a->syncpoint = MQSP_AVAILABLE;
    a->sslEvent = MQEVR_DISABLED;
    SetText(a->deadLetterQName, sizeof a->deadLetterQName, "SYSTEM.DEAD.LETTER.QUEUE");
    SetText(a->commandInputQName, sizeof a->commandInputQName,
            opts->platform == MQPL_ZOS ? "SYSTEM.COMMAND.INPUT" : "SYSTEM.ADMIN.COMMAND.QUEUE");
    CurrentDateTime(a->creationDate, a->creationTime);
    memcpy(a->alterationDate, a->creationDate, sizeof a->alterationDate);
    memcpy(a->alterationTime, a->creationTime, sizeof a->alterationTime);
    snprintf(a->identifier, sizeof a->identifier, "%.20s_%s_%s", a->name, a->creationDate,
             a->creationTime);
    using namespace std::chrono;
    qm->msgIdBase =
        (uint64_t)duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    qm->quiescing = 0;
    qm->stopping = 0;
    qm->cmdServerRunning = 1;
    qm->cmdServerDelayMs = 0;

    AddSystemQueue(qm, "SYSTEM.ADMIN.COMMAND.QUEUE", MQQT_LOCAL, "Administration command queue");
    AddSystemQueue(qm, "SYSTEM.DEFAULT.MODEL.QUEUE", MQQT_MODEL, "Default model queue");
    AddSystemQueue(qm, "SYSTEM.DEFAULT.LOCAL.QUEUE", MQQT_LOCAL, "Default local queue");
    AddSystemQueue(qm, "SYSTEM.ADMIN.CHANNEL.EVENT", MQQT_LOCAL, "Channel event queue");
    AddSystemQueue(qm, "SYSTEM.DEAD.LETTER.QUEUE", MQQT_LOCAL, "Dead-letter queue");
    if (opts->platform == MQPL_ZOS)
        AddSystemQueue(qm, "SYSTEM.COMMAND.INPUT", MQQT_LOCAL, "z/OS command input queue");
    for (int i = 1; i <= opts->queues; i++) {
        char name[QNAME_SIZE], descr[MQ_Q_DESC_LENGTH + 1];
        snprintf(name, sizeof name, "APP.QUEUE.%04d", i);
        snprintf(descr, sizeof descr, "Application queue %04d of the test bed", i);
        AddSystemQueue(qm, name, MQQT_LOCAL, descr);
    }
    return qm;
}

void FreeQmgr(QMGR *qm) {
    if (qm == nullptr)
        return;
    for (auto &e : qm->queues) {
        QUEUE *q = e.second;
        while (q->head) {
            MSG *m = q->head;
            UnlinkMessage(q, m);
            FreeMessage(m);
        }
        delete q;
    }
    for (auto &e : qm->processes)
        delete e.second;
    for (auto &e : qm->services)
        delete e.second;
    ClearFaults(qm);
    delete qm;
}

/* ---- objects ------------------------------------------------------------------------ */

QUEUE *FindQueue(QMGR *qm, const char *name) {
    auto it = qm->queues.find(name);
    return it == qm->queues.end() ? nullptr : it->second;
}

PROCESS *FindProcess(QMGR *qm, const char *name) {
    auto it = qm->processes.find(name);
    return it == qm->processes.end() ? nullptr : it->second;
}

void DeleteQueue(QMGR *qm, QUEUE *q) {
    if (qm->hooks.forgetDeliveries != nullptr)
        qm->hooks.forgetDeliveries(qm, q);
    /* Internal waiters end with "queue deleted"; others hold handles and a
     * queue with open handles is never deleted. */
    while (q->waiters) {
        WAITER *w = q->waiters;
        RemoveWaiter(qm, w);
        if (w->kind == WAIT_INTERNAL) {
            w->done = 1;
            w->reason = MQRC_Q_DELETED;
            w->cv->notify_all();
        }
    }
    while (q->head) {
        MSG *m = q->head;
        UnlinkMessage(q, m);
        FreeMessage(m);
    }
    if (!q->deleted)
        qm->queues.erase(q->a.name);
    if (q->openHandles > 0)
        q->deleted = 1;
    else
        delete q;
}

MQLONG ClearQueue(QMGR *qm, QUEUE *q) {
    (void)qm;
    for (MSG *m = q->head; m; m = m->next) {
        if (m->state != MSG_VISIBLE)
            return MQRC_OBJECT_IN_USE;
    }
    while (q->head) {
        MSG *m = q->head;
        UnlinkMessage(q, m);
        FreeMessage(m);
    }
    return 0;
}

void SnapshotQueue(const QUEUE *q, QATTRS *out) {
    *out = q->a;
}

/* ---- messages ------------------------------------------------------------------------ */

int MessageMatches(const MSG *m, const MQMD *match, MQLONG matchOptions) {
    if ((matchOptions & MQMO_MATCH_MSG_ID) && !IsZero(match->MsgId, sizeof match->MsgId) &&
        memcmp(match->MsgId, m->md.MsgId, sizeof match->MsgId) != 0)
        return 0;
    if ((matchOptions & MQMO_MATCH_CORREL_ID) && !IsZero(match->CorrelId, sizeof match->CorrelId) &&
        memcmp(match->CorrelId, m->md.CorrelId, sizeof match->CorrelId) != 0)
        return 0;
    if ((matchOptions & MQMO_MATCH_GROUP_ID) && !IsZero(match->GroupId, sizeof match->GroupId) &&
        memcmp(match->GroupId, m->md.GroupId, sizeof match->GroupId) != 0)
        return 0;
    return 1;
}

MSG *FindMessage(QMGR *qm, QUEUE *q, const MQMD *match, MQLONG matchOptions, uint64_t afterSeq) {
    (void)qm;
    uint64_t now = 0;
    MSG *m = q->head;
    while (m) {
        MSG *next = m->next;
        if (m->state == MSG_VISIBLE) {
            if (m->expiresMs != 0) {
                if (now == 0)
                    now = NowMs();
                if (now >= m->expiresMs) {
                    UnlinkMessage(q, m);
                    FreeMessage(m);
                    m = next;
                    continue;
                }
            }
            if (m->seq > afterSeq && MessageMatches(m, match, matchOptions))
                return m;
        }
        m = next;
    }
    return nullptr;
}

void UnlinkMessage(QUEUE *q, MSG *m) {
    if (m->prev)
        m->prev->next = m->next;
    else
        q->head = m->next;
    if (m->next)
        m->next->prev = m->prev;
    else
        q->tail = m->prev;
    m->next = m->prev = nullptr;
    q->a.curDepth--;
}

void LinkMessage(QUEUE *q, MSG *m, int atFront) {
    MSG *after = nullptr; /* insert after this one (null: at the head) */
    int fifo = q->a.msgDeliverySequence == MQMDS_FIFO;
    if (atFront) {
        /* back where it was: before the first message that would come after
         * it (lower priority, or the same priority and arrived later) */
        MSG *p = q->head;
        while (p && (fifo ? p->seq < m->seq
                          : p->md.Priority > m->md.Priority ||
                                (p->md.Priority == m->md.Priority && p->seq < m->seq)))
            p = p->next;
        after = p ? p->prev : q->tail;
    } else {
        after = q->tail;
        while (after && !fifo && after->md.Priority < m->md.Priority)
            after = after->prev;
    }
    m->prev = after;
    m->next = after ? after->next : q->head;
    if (m->next)
        m->next->prev = m;
    else
        q->tail = m;
    if (after)
        after->next = m;
    else
        q->head = m;
    q->a.curDepth++;
}

void FreeMessage(MSG *m) {
    if (m == nullptr)
        return;
    free(m->data);
    delete m;
}

/* Fill the context fields the queue manager makes: origin always, identity
 * when identityToo. conn null: the daemon's own context. */
static void FillDefaultContext(QMGR *qm, const PUTTER *who, MQMD *md, int identityToo) {
    const PUTTER *conn = who != nullptr && who->conn != nullptr ? who : nullptr;
    if (identityToo) {
        char user[64];
        if (conn != nullptr)
            SetText(user, sizeof user, conn->userId);
        else
            PLUserName(user, sizeof user);
        WireSetField(md->UserIdentifier, sizeof md->UserIdentifier, user);
        memset(md->AccountingToken, 0, sizeof md->AccountingToken);
        WireSetField(md->ApplIdentityData, sizeof md->ApplIdentityData, "");
    }
    MQLONG applType = qm->a.platform == MQPL_WINDOWS_NT ? MQAT_WINDOWS_NT
                      : qm->a.platform == MQPL_ZOS      ? MQAT_ZOS
                                                        : MQAT_UNIX;
    md->PutApplType = conn != nullptr && conn->applType != 0 ? conn->applType : applType;
    WireSetField(md->PutApplName, sizeof md->PutApplName,
                 conn != nullptr ? conn->applName : "mqsim");
    UtcPutDateTime(md->PutDate, md->PutTime);
    WireSetField(md->ApplOriginData, sizeof md->ApplOriginData, "");
}

/* The descriptor values MQPUT checks. Returns 0 or the reason. */
static MQLONG CheckDescriptor(const MQMD *md) {
    if (md->Persistence != MQPER_NOT_PERSISTENT && md->Persistence != MQPER_PERSISTENT &&
        md->Persistence != MQPER_PERSISTENCE_AS_Q_DEF)
        return MQRC_PERSISTENCE_ERROR;
    if (md->Priority < MQPRI_PRIORITY_AS_Q_DEF)
        return MQRC_PRIORITY_ERROR;
    if (md->Expiry <= 0 && md->Expiry != MQEI_UNLIMITED)
        return MQRC_EXPIRY_ERROR;
    MQLONG t = md->MsgType;
    if (!(t == MQMT_REQUEST || t == MQMT_REPLY || t == MQMT_REPORT || t == MQMT_DATAGRAM ||
          (t >= MQMT_APPL_FIRST && t <= MQMT_APPL_LAST) ||
          (t >= MQMT_SYSTEM_FIRST && t <= MQMT_SYSTEM_LAST)))
        return MQRC_MSG_TYPE_ERROR;
    if (memcmp(md->StrucId, MQMD_STRUC_ID, 4) != 0)
        return MQRC_MD_ERROR;
    return 0;
}

MQLONG PutToQueue(QMGR *qm, QUEUE *q, const PUTTER *who, MQMD *md, MQLONG pmoOptions,
                  const MQBYTE *data, MQLONG length, int *triggerDue) {
    *triggerDue = 0;
    if (q->a.qType != MQQT_LOCAL)
        return MQRC_Q_TYPE_ERROR;
    MQLONG rc = CheckDescriptor(md);
    if (rc != 0)
        return rc;
    if (q->a.inhibitPut == MQQA_PUT_INHIBITED)
        return MQRC_PUT_INHIBITED;
    if (length > qm->a.maxMsgLength && length > q->a.maxMsgLength)
        return MQRC_MSG_TOO_BIG_FOR_Q_MGR;
    if (length > q->a.maxMsgLength)
        return MQRC_MSG_TOO_BIG_FOR_Q;
    if (length > qm->a.maxMsgLength)
        return MQRC_MSG_TOO_BIG_FOR_Q_MGR;
    if (q->a.curDepth >= q->a.maxDepth)
        return MQRC_Q_FULL;
    int syncpoint = (pmoOptions & MQPMO_SYNCPOINT) != 0;
    CONN *conn = who != nullptr ? who->conn : nullptr;
    if (syncpoint && conn == nullptr)
        return MQRC_SYNCPOINT_NOT_AVAILABLE;

    MSG *m = new (std::nothrow) MSG();
    if (m == nullptr)
        return MQRC_STORAGE_NOT_AVAILABLE;
    m->data = (MQBYTE *)malloc(length > 0 ? (size_t)length : 1);
    if (m->data == nullptr) {
        delete m;
        return MQRC_STORAGE_NOT_AVAILABLE;
    }
    if (length > 0)
        memcpy(m->data, data, (size_t)length);
    m->length = length;

    /* Identifiers and context, as the queue manager sets them. */
    if ((pmoOptions & MQPMO_NEW_MSG_ID) || IsZero(md->MsgId, sizeof md->MsgId))
        MakeUniqueId(qm, md->MsgId);
    if (pmoOptions & MQPMO_NEW_CORREL_ID)
        MakeUniqueId(qm, md->CorrelId);
    if (pmoOptions & MQPMO_NO_CONTEXT) {
        WireSetField(md->UserIdentifier, sizeof md->UserIdentifier, "");
        memset(md->AccountingToken, 0, sizeof md->AccountingToken);
        WireSetField(md->ApplIdentityData, sizeof md->ApplIdentityData, "");
        md->PutApplType = MQAT_NO_CONTEXT;
        WireSetField(md->PutApplName, sizeof md->PutApplName, "");
        WireSetField(md->PutDate, sizeof md->PutDate, "");
        WireSetField(md->PutTime, sizeof md->PutTime, "");
        WireSetField(md->ApplOriginData, sizeof md->ApplOriginData, "");
    } else if (pmoOptions & (MQPMO_SET_ALL_CONTEXT | MQPMO_PASS_ALL_CONTEXT)) {
        /* the caller's (or the passed) context as it is */
    } else if (pmoOptions & (MQPMO_SET_IDENTITY_CONTEXT | MQPMO_PASS_IDENTITY_CONTEXT)) {
        FillDefaultContext(qm, who, md, 0);
    } else {
        FillDefaultContext(qm, who, md, 1);
    }
    char replyQ[QNAME_SIZE], replyQMgr[QMNAME_SIZE];
    WireGetField(replyQ, md->ReplyToQ, sizeof md->ReplyToQ);
    WireGetField(replyQMgr, md->ReplyToQMgr, sizeof md->ReplyToQMgr);
    if (replyQ[0] != '\0' && replyQMgr[0] == '\0')
        WireSetField(md->ReplyToQMgr, sizeof md->ReplyToQMgr, qm->a.name);

    m->md = *md;
    m->md.Version = MQMD_VERSION_2;
    if (m->md.Priority == MQPRI_PRIORITY_AS_Q_DEF)
        m->md.Priority = q->a.defPriority;
    if (m->md.Priority > 9)
        m->md.Priority = 9;
    if (m->md.Persistence == MQPER_PERSISTENCE_AS_Q_DEF)
        m->md.Persistence = q->a.defPersistence;
    m->seq = ++qm->msgSeq;
    m->expiresMs = md->Expiry > 0 ? NowMs() + (uint64_t)md->Expiry * 100 : 0;
    m->state = syncpoint ? MSG_UNCOMMITTED_PUT : MSG_VISIBLE;
    m->lockedBy = syncpoint ? conn : nullptr;

    int wasEmpty = q->a.curDepth == 0;
    LinkMessage(q, m, 0);
    if (wasEmpty && !syncpoint && q->a.triggerControl == MQTC_ON)
        *triggerDue = 1;
    if (!syncpoint)
        OfferMessage(qm, q, m);
    return 0;
}

MQLONG ResolveDestination(QMGR *qm, const char *qName, const char *qmgrName, QUEUE **dest,
                          char *resolvedQ, char *resolvedQMgr) {
    if (qmgrName != nullptr && qmgrName[0] != '\0' && strcmp(qmgrName, qm->a.name) != 0) {
        QUEUE *x = FindQueue(qm, qmgrName);
        if (x == nullptr || x->a.qType != MQQT_LOCAL)
            return MQRC_UNKNOWN_REMOTE_Q_MGR;
        *dest = x;
        if (resolvedQ)
            SetText(resolvedQ, QNAME_SIZE, qName);
        if (resolvedQMgr)
            SetText(resolvedQMgr, QMNAME_SIZE, qmgrName);
        return 0;
    }
    QUEUE *q = FindQueue(qm, qName);
    if (q == nullptr)
        return MQRC_UNKNOWN_OBJECT_NAME;
    if (q->a.qType == MQQT_LOCAL) {
        *dest = q;
        if (resolvedQ)
            SetText(resolvedQ, QNAME_SIZE, q->a.name);
        if (resolvedQMgr)
            SetText(resolvedQMgr, QMNAME_SIZE, qm->a.name);
        return 0;
    }
    if (q->a.qType == MQQT_REMOTE) {
        const char *rqm = q->a.remoteQMgrName[0] ? q->a.remoteQMgrName : qm->a.name;
        if (strcmp(rqm, qm->a.name) == 0 && q->a.xmitQName[0] == '\0') {
            QUEUE *local = FindQueue(qm, q->a.remoteQName);
            if (local == nullptr || local->a.qType != MQQT_LOCAL)
                return MQRC_UNKNOWN_OBJECT_NAME;
            *dest = local;
            if (resolvedQ)
                SetText(resolvedQ, QNAME_SIZE, local->a.name);
            if (resolvedQMgr)
                SetText(resolvedQMgr, QMNAME_SIZE, qm->a.name);
            return 0;
        }
        const char *xq = q->a.xmitQName[0] ? q->a.xmitQName : rqm;
        QUEUE *x = FindQueue(qm, xq);
        if (x == nullptr || x->a.qType != MQQT_LOCAL)
            return MQRC_UNKNOWN_XMIT_Q;
        *dest = x;
        if (resolvedQ)
            SetText(resolvedQ, QNAME_SIZE, q->a.remoteQName);
        if (resolvedQMgr)
            SetText(resolvedQMgr, QMNAME_SIZE, rqm);
        return 0;
    }
    return MQRC_Q_TYPE_ERROR;
}

void AddWaiter(QMGR *qm, WAITER *w) {
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

void NoteGetInhibitChange(QMGR *qm, QUEUE *q, int wasInhibited) {
    int inhibited = q->a.inhibitGet == MQQA_GET_INHIBITED;
    if (inhibited && !wasInhibited && qm->hooks.getInhibited != nullptr)
        qm->hooks.getInhibited(qm, q);
    else if (!inhibited && wasInhibited && qm->hooks.getAllowed != nullptr)
        qm->hooks.getAllowed(qm, q);
}

int OfferMessage(QMGR *qm, QUEUE *q, MSG *m) {
    if (q->a.inhibitGet == MQQA_GET_INHIBITED)
        return 0;
    WAITER *w = q->waiters;
    while (w) {
        WAITER *next = w->next;
        if (MessageMatches(m, &w->match, w->matchOptions)) {
            if (w->kind == WAIT_INTERNAL) {
                RemoveWaiter(qm, w);
                UnlinkMessage(q, m);
                w->msg = m;
                w->reason = 0;
                w->done = 1;
                w->cv->notify_all();
                return 1;
            }
            /* A get or consumer of a connection: it may decline (a message
             * too long for its buffer), then the next one is asked. */
            if (qm->hooks.deliverToWaiter != nullptr && qm->hooks.deliverToWaiter(qm, w, m))
                return 1;
        }
        w = next;
    }
    return 0;
}

/* ---- faults ------------------------------------------------------------------------ */

MQLONG CheckFault(QMGR *qm, const char *verb, const char *object) {
    FAULT **pp = &qm->faults;
    while (*pp) {
        FAULT *f = *pp;
        int verbOk;
        if (f->anyPut)
            verbOk = strcmp(verb, "MQPUT") == 0 || strcmp(verb, "MQPUT1") == 0;
        else
            verbOk = strcmp(f->verb, verb) == 0 ||
                     (strcmp(f->verb, "MQCONNX") == 0 && strcmp(verb, "MQCONN") == 0) ||
                     (strcmp(f->verb, "MQCONN") == 0 && strcmp(verb, "MQCONNX") == 0);
        if (verbOk && (strcmp(f->object, "*") == 0 || strcmp(f->object, object) == 0)) {
            MQLONG reason = f->reason;
            if (f->count > 0 && --f->count == 0) {
                *pp = f->next;
                delete f;
            }
            return reason;
        }
        pp = &f->next;
    }
    return 0;
}

void ClearFaults(QMGR *qm) {
    while (qm->faults) {
        FAULT *f = qm->faults;
        qm->faults = f->next;
        delete f;
    }
}

/* ---- internal API ------------------------------------------------------------------ */

void GetQmgrAttrs(QMGR *qm, QMGRATTRS *out) {
    std::lock_guard<std::mutex> g(qm->lock);
    *out = qm->a;
}

MQLONG GetQueueAttrs(QMGR *qm, const char *name, QATTRS *out) {
    std::lock_guard<std::mutex> g(qm->lock);
    QUEUE *q = FindQueue(qm, name);
    if (q == nullptr)
        return MQRC_UNKNOWN_OBJECT_NAME;
    SnapshotQueue(q, out);
    return 0;
}

MQLONG ListQueues(QMGR *qm, const char *generic, MQLONG qType, std::vector<QATTRS> *out) {
    std::lock_guard<std::mutex> g(qm->lock);
    size_t before = out->size();
    size_t n = strlen(generic);
    std::map<std::string, QUEUE *>::iterator first;
    if (n > 0 && generic[n - 1] == '*')
        first = qm->queues.lower_bound(std::string(generic, n - 1));
    else
        first = qm->queues.lower_bound(generic);
    /* Two passes: count, then copy into room made once (thousands of
     * snapshots would otherwise be copied again at every growth). */
    for (int pass = 0; pass < 2; pass++) {
        size_t count = 0;
        for (auto it = first; it != qm->queues.end(); ++it) {
            QUEUE *q = it->second;
            if (!GenericMatch(generic, q->a.name)) {
                if (n > 0 && generic[n - 1] == '*')
                    break; /* past the names with this prefix */
                if (strcmp(generic, "*") != 0)
                    break;
                continue;
            }
            if (qType != MQQT_ALL && q->a.qType != qType)
                continue;
            count++;
            if (pass == 1) {
                out->emplace_back();
                SnapshotQueue(q, &out->back());
            }
        }
        if (pass == 0)
            out->reserve(before + count);
    }
    return out->size() > before ? 0 : MQRC_UNKNOWN_OBJECT_NAME;
}

MQLONG SetQmgrString(QMGR *qm, MQLONG selector, const char *value) {
    std::lock_guard<std::mutex> g(qm->lock);
    char *field;
    size_t size;
    switch (selector) {
        case MQCA_SSL_KEY_REPOSITORY:
            field = qm->a.sslKeyRepository;
            size = sizeof qm->a.sslKeyRepository;
            break;
        case MQCA_CERT_LABEL:
            field = qm->a.certLabel;
            size = sizeof qm->a.certLabel;
            break;
        case MQCA_Q_MGR_DESC:
            field = qm->a.descr;
            size = sizeof qm->a.descr;
            break;
        default:
            return MQRC_SELECTOR_ERROR;
    }
    size_t n = strlen(value);
    while (n > 0 && value[n - 1] == ' ')
        n--;
    if (n >= size)
        return MQRC_CHAR_ATTR_LENGTH_ERROR;
    memcpy(field, value, n);
    field[n] = '\0';
    CurrentDateTime(qm->a.alterationDate, qm->a.alterationTime);
    return 0;
}

MQLONG SetQmgrInt(QMGR *qm, MQLONG selector, MQLONG value) {
    std::lock_guard<std::mutex> g(qm->lock);
    if (selector != MQIA_SSL_EVENT)
        return MQRC_SELECTOR_ERROR;
    if (value != MQEVR_ENABLED && value != MQEVR_DISABLED)
        return MQRC_SELECTOR_ERROR;
    qm->a.sslEvent = value;
    CurrentDateTime(qm->a.alterationDate, qm->a.alterationTime);
    return 0;
}

MQLONG PutMessage(QMGR *qm, const char *qName, const char *qmgrName, MQMD *md, MQLONG pmoOptions,
                  const MQBYTE *data, MQLONG length) {
    if (md == nullptr || length < 0 || (length > 0 && data == nullptr))
        return MQRC_MD_ERROR;
    char trigQ[QNAME_SIZE];
    int triggerDue = 0;
    MQLONG rc;
    {
        std::lock_guard<std::mutex> g(qm->lock);
        QUEUE *dest = nullptr;
        rc = ResolveDestination(qm, qName, qmgrName, &dest, nullptr, nullptr);
        if (rc == 0) {
            rc = PutToQueue(qm, dest, nullptr, md, pmoOptions & ~MQPMO_SYNCPOINT, data, length,
                            &triggerDue);
            SetText(trigQ, sizeof trigQ, dest->a.name);
        }
    }
    if (rc == 0 && triggerDue)
        TriggerArrival(qm, trigQ);
    return rc;
}

MQLONG GetMessageWait(QMGR *qm, const char *qName, MQLONG waitMs, MQMD *md, MQBYTE **data,
                      MQLONG *length, const std::atomic<int> *cancel) {
    *data = nullptr;
    *length = 0;
    std::unique_lock<std::mutex> g(qm->lock);
    if (qm->stopping)
        return MQRC_Q_MGR_STOPPING;
    QUEUE *q = FindQueue(qm, qName);
    if (q == nullptr || q->a.qType != MQQT_LOCAL)
        return MQRC_UNKNOWN_OBJECT_NAME;
    if (q->a.inhibitGet == MQQA_GET_INHIBITED)
        return MQRC_GET_INHIBITED;
    MQLONG matchOptions = MQMO_MATCH_MSG_ID | MQMO_MATCH_CORREL_ID;
    MSG *m = FindMessage(qm, q, md, matchOptions, 0);
    if (m != nullptr) {
        UnlinkMessage(q, m);
    } else {
        if (waitMs == 0 || (cancel != nullptr && cancel->load()))
            return MQRC_NO_MSG_AVAILABLE;
        std::condition_variable cv;
        WAITER w;
        memset((void *)&w, 0, sizeof w);
        w.kind = WAIT_INTERNAL;
        w.queue = q;
        w.match = *md;
        w.matchOptions = matchOptions;
        w.cv = &cv;
        WAITER **pp = &q->waiters;
        while (*pp)
            pp = &(*pp)->next;
        *pp = &w;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        while (!w.done && !qm->stopping && !(cancel != nullptr && cancel->load())) {
            if (waitMs == MQWI_UNLIMITED || waitMs < 0) {
                cv.wait(g);
            } else if (cv.wait_until(g, deadline) == std::cv_status::timeout) {
                break;
            }
        }
        if (!w.done) {
            RemoveWaiter(qm, &w);
            return qm->stopping ? MQRC_Q_MGR_STOPPING : MQRC_NO_MSG_AVAILABLE;
        }
        if (w.reason != 0)
            return w.reason;
        m = w.msg;
    }
    *md = m->md;
    *data = m->data;
    *length = m->length;
    m->data = nullptr;
    FreeMessage(m);
    return 0;
}

void FreeMessageData(MQBYTE *data) {
    free(data);
}

void InterruptGets(QMGR *qm) {
    std::lock_guard<std::mutex> g(qm->lock);
    for (auto &e : qm->queues) {
        WAITER *w = e.second->waiters;
        while (w) {
            WAITER *next = w->next;
            if (w->kind == WAIT_INTERNAL) {
                RemoveWaiter(qm, w);
                w->done = 1;
                w->reason = MQRC_NO_MSG_AVAILABLE;
                w->cv->notify_all();
            }
            w = next;
        }
    }
}

void NoteCommandContext(QMGR *qm, const MQMD *md) {
    std::lock_guard<std::mutex> g(qm->lock);
    WireGetField(qm->lastCmdUser, md->UserIdentifier, sizeof md->UserIdentifier);
    WireGetField(qm->lastCmdApplName, md->PutApplName, sizeof md->PutApplName);
}

void TriggerArrival(QMGR *qm, const char *qName) {
    TRIGGERHOOK *hook = TriggerHook.load();
    if (hook != nullptr)
        hook(qm, qName);
}
