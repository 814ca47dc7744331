/* cmdserver.cpp -- the stand-in queue manager's command server.
 *
 * One thread takes the commands off the command queue one at a time with
 * GetMessageWait and answers each completely before it takes the next, as
 * IBM MQ's command server does. Replies are built one at a time in one
 * buffer and put as they are made; a distributed reply set holds back one
 * reply so that the last can carry MQCFC_LAST.
 *
 * Owns: the CMDSERVER record (QMGR.cmdServerData, set before the daemon
 * writes its port file, so before any control connection can reach it, and
 * kept to the end of the process) and its lock, which guards paused, inGet
 * and ending; QMGR.cmdServerRunning and cmdServerDelayMs (atomics, read
 * without a lock).
 * Threads: the daemon's main thread (start, stop), control connections
 * (ControlCommandServer), the command server thread (everything else).
 */
#include "cmdserver.h"

#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "admin.h"
#include "mqconst/mqpcf.h"
#include "pcfcmd.h"
#include "platform/net.h"
#include "queue_attrs.h"
#include "trigger.h"
#include "wire.h"

/* How long the server waits before it looks at its queue again when the
 * queue cannot be read (GET(DISABLED), deleted). */
constexpr int UNREADABLE_RETRY_MS = 1000;
/* Length of a z/OS response set identifier (MQBACF_RESPONSE_ID). */
constexpr MQLONG RESPONSE_ID_LENGTH = 24;

struct CMDSERVER {
    QMGR *qm;
    std::thread thread;
    std::mutex lock;
    std::condition_variable cv;         /* paused, inGet or ending changed */
    int paused;                         /* under lock: `cmdserver stop` in force */
    int inGet;                          /* under lock: the thread is inside GetMessageWait */
    int ending;                         /* under lock: StopCommandServer was called */
    std::atomic<int> cancel;            /* set (under lock, relaxed) while paused or ending: ends
                                         * GetMessageWait, which reads it under QMGR.lock */
    char queueName[QNAME_SIZE];         /* the command queue */
    char userId[MQ_USER_ID_LENGTH + 1]; /* the daemon's user: identity of the replies */
};

/* One command being answered (command server thread only). */
struct REPLYCTX {
    CMDSERVER *cs;
    QMGR *qm;
    MQMD cmdMd;                            /* the command's descriptor */
    char replyQ[QNAME_SIZE];               /* ReplyToQ, empty: no reply can be sent */
    char replyQMgr[QMNAME_SIZE];           /* ReplyToQMgr, empty: the local queue manager */
    char qmName[QMNAME_SIZE];              /* this queue manager */
    MQLONG ccsid;                          /* the queue manager's CCSID, for the replies */
    int xr;                                /* z/OS: MQCFT_XR_ITEM replies and a summary */
    MQLONG command;                        /* MQCFH.Command of the replies */
    MQLONG seq;                            /* MsgSeqNumber of the last reply sent */
    PCFREPLY item;                         /* the reply being built */
    PCFREPLY held;                         /* distributed: the reply held back */
    int holding;                           /* held has a reply */
    MQBYTE responseId[RESPONSE_ID_LENGTH]; /* z/OS: identifies the reply set */
    int sent;                              /* replies put */
    int dropped;                           /* replies that could not be put */
    int aborted;                           /* the daemon is ending: no more replies */
};

static void ServerMain(CMDSERVER *cs);
static void ServeCommand(CMDSERVER *cs, const MQMD *md, const MQBYTE *data, MQLONG length);
static void ServePcf(REPLYCTX *ctx, const MQBYTE *data, MQLONG length, MQLONG *result);
static void ServeText(REPLYCTX *ctx, const MQBYTE *data, MQLONG length, MQLONG *result);
static MQLONG InquireQmgr(REPLYCTX *ctx, const CMDMSG *cmd, MQLONG *badParm);
static MQLONG InquireQueues(REPLYCTX *ctx, const CMDMSG *cmd, MQLONG *badParm);
static MQLONG InquireQueueNames(REPLYCTX *ctx, const CMDMSG *cmd, MQLONG *badParm);
static MQLONG ChangeQmgr(REPLYCTX *ctx, const CMDMSG *cmd, MQLONG *badParm);
static MQLONG Escape(REPLYCTX *ctx, const CMDMSG *cmd, MQLONG *badParm);
static MQLONG CheckCommandParms(REPLYCTX *ctx, const CMDMSG *cmd, const PARMRULE *rules,
                                size_t count, int (*filterOk)(MQLONG, MQLONG), MQLONG *badParm);
static int QueueFilterOk(MQLONG id, MQLONG type);
static int PassesFilter(const QATTRS *a, const CMDPARM *filter);
static MQLONG CheckQueueSelection(const CMDMSG *cmd, std::string *name, MQLONG *qType,
                                  MQLONG *badParm);
static MQLONG SelectQueues(REPLYCTX *ctx, const CMDMSG *cmd, const PARMRULE *rules, size_t count,
                           int (*filterOk)(MQLONG, MQLONG), std::vector<QATTRS> *list,
                           MQLONG *badParm);
static int Wanted(const CMDPARM *attrs, MQLONG selector);
static void BeginItem(REPLYCTX *ctx, MQLONG compCode, MQLONG reason);
static void EmitItem(REPLYCTX *ctx);
static void FinishReplies(REPLYCTX *ctx, MQLONG compCode, MQLONG reason, MQLONG badParm);
static void SendPcf(REPLYCTX *ctx, PCFREPLY *r, MQLONG control);
static void SendReply(REPLYCTX *ctx, const void *data, size_t length, const char *format);
static int WaitDelay(CMDSERVER *cs);
static void AddResponseId(REPLYCTX *ctx, PCFREPLY *r);
static std::vector<std::string> ZosItems(const std::vector<std::string> &lines, const char *cpf);
static void MakePrintable(char *text);

/* ---- Life of the command server -------------------------------------------------- */

void StartCommandServer(QMGR *qm) {
    if (qm->cmdServerData != nullptr)
        return;
    CMDSERVER *cs = new (std::nothrow) CMDSERVER();
    if (cs == nullptr) {
        LogLine("cmdserver: no memory; the command server does not run");
        return;
    }
    cs->qm = qm;
    cs->paused = qm->cmdServerRunning.load(std::memory_order_relaxed) ? 0 : 1;
    cs->inGet = 0;
    cs->ending = 0;
    cs->cancel.store(cs->paused, std::memory_order_relaxed);
    QMGRATTRS a;
    GetQmgrAttrs(qm, &a);
    snprintf(cs->queueName, sizeof cs->queueName, "%s",
             a.platform == MQPL_ZOS ? "SYSTEM.COMMAND.INPUT" : "SYSTEM.ADMIN.COMMAND.QUEUE");
    char user[256];
    PLUserName(user, sizeof user);
    snprintf(cs->userId, sizeof cs->userId, "%.*s", MQ_USER_ID_LENGTH, user);
    qm->cmdServerData = cs;
    cs->thread = std::thread(ServerMain, cs);
    LogLine("cmdserver: serving %s%s", cs->queueName, cs->paused ? " (stopped)" : "");
    StartTriggerMonitor(qm);
}

void StopCommandServer(QMGR *qm) {
    StopTriggerMonitor(qm);
    CMDSERVER *cs = (CMDSERVER *)qm->cmdServerData;
    if (cs == nullptr)
        return;
    {
        std::lock_guard<std::mutex> g(cs->lock);
        cs->ending = 1;
        cs->cancel.store(1, std::memory_order_relaxed);
        cs->cv.notify_all();
    }
    InterruptGets(qm);
    if (cs->thread.joinable())
        cs->thread.join();
    /* The record stays until the process ends: a control connection still
     * being served may reach it. */
}

int ControlCommandServer(QMGR *qm, int op, MQLONG delayMs) {
    CMDSERVER *cs = (CMDSERVER *)qm->cmdServerData;
    switch (op) {
        case CMDSERVER_STOP:
            qm->cmdServerRunning.store(0, std::memory_order_relaxed);
            if (cs != nullptr) {
                {
                    std::lock_guard<std::mutex> g(cs->lock);
                    cs->paused = 1;
                    cs->cancel.store(1, std::memory_order_relaxed);
                }
                InterruptGets(qm);
                /* A get that began before the flag was set may still be taking a
                 * message put before this call; once it is over, nothing more is
                 * taken until start. */
                std::unique_lock<std::mutex> g(cs->lock);
                cs->cv.wait(g, [cs] { return cs->inGet == 0; });
            }
            LogLine("cmdserver: stopped");
            return 0;
        case CMDSERVER_START:
            qm->cmdServerRunning.store(1, std::memory_order_relaxed);
            if (cs != nullptr) {
                std::lock_guard<std::mutex> g(cs->lock);
                cs->paused = 0;
                cs->cancel.store(cs->ending, std::memory_order_relaxed);
                cs->cv.notify_all();
            }
            LogLine("cmdserver: started");
            return 0;
        case CMDSERVER_DELAY:
            if (delayMs < 0)
                return 1;
            qm->cmdServerDelayMs.store(delayMs, std::memory_order_relaxed);
            LogLine("cmdserver: %ld ms before each reply", (long)delayMs);
            return 0;
        default:
            return 1;
    }
}

static void ServerMain(CMDSERVER *cs) {
    QMGR *qm = cs->qm;
    MQLONG lastFailure = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> g(cs->lock);
            cs->cv.wait(g, [cs] { return cs->ending || !cs->paused; });
            if (cs->ending)
                break;
            cs->inGet = 1;
        }
        MQMD md = MQMD_DEFAULT; /* no MsgId or CorrelId: the next message */
        MQBYTE *data = nullptr;
        MQLONG length = 0;
        MQLONG rc =
            GetMessageWait(qm, cs->queueName, MQWI_UNLIMITED, &md, &data, &length, &cs->cancel);
        {
            std::lock_guard<std::mutex> g(cs->lock);
            cs->inGet = 0;
            cs->cv.notify_all();
        }
        if (rc == 0) {
            lastFailure = 0;
            ServeCommand(cs, &md, data, length);
            FreeMessageData(data);
            continue;
        }
        if (rc == MQRC_NO_MSG_AVAILABLE)
            continue; /* stopped, ending, or interrupted: look at the flags again */
        if (rc == MQRC_Q_MGR_STOPPING)
            break;
        if (rc != lastFailure)
            LogLine("cmdserver: cannot read %s (reason %ld); retrying", cs->queueName, (long)rc);
        lastFailure = rc;
        std::unique_lock<std::mutex> g(cs->lock);
        cs->cv.wait_for(g, std::chrono::milliseconds(UNREADABLE_RETRY_MS),
                        [cs] { return cs->ending != 0; });
    }
}

/* Replace every byte of a zero-terminated text that is not printable
 * ASCII with '?', so that a name taken from a message cannot break the
 * log's lines. */
static void MakePrintable(char *text) {
    for (; *text != '\0'; text++) {
        unsigned char c = (unsigned char)*text;
        if (c < ' ' || c > '~')
            *text = '?';
    }
}

/* ---- One command ---------------------------------------------------------------------- */

static void ServeCommand(CMDSERVER *cs, const MQMD *md, const MQBYTE *data, MQLONG length) {
    QMGR *qm = cs->qm;
    NoteCommandContext(qm, md);
    REPLYCTX *ctx = new (std::nothrow) REPLYCTX();
    if (ctx == nullptr) {
        LogLine("cmdserver: no memory to answer a command; dropped");
        return;
    }
    ctx->cs = cs;
    ctx->qm = qm;
    ctx->cmdMd = *md;
    WireGetField(ctx->replyQ, md->ReplyToQ, sizeof md->ReplyToQ);
    WireGetField(ctx->replyQMgr, md->ReplyToQMgr, sizeof md->ReplyToQMgr);
    QMGRATTRS a;
    GetQmgrAttrs(qm, &a);
    snprintf(ctx->qmName, sizeof ctx->qmName, "%s", a.name);
    ctx->ccsid = a.codedCharSetId;
    ctx->xr = a.platform == MQPL_ZOS;
    {
        std::lock_guard<std::mutex> g(qm->lock);
        MakeUniqueId(qm, ctx->responseId);
    }
    char format[MQ_FORMAT_LENGTH + 1];
    memcpy(format, md->Format, MQ_FORMAT_LENGTH);
    format[MQ_FORMAT_LENGTH] = '\0';
    MQLONG result = 0;
    const char *kind;
    if (memcmp(md->Format, MQFMT_ADMIN, MQ_FORMAT_LENGTH) == 0) {
        kind = "PCF";
        ServePcf(ctx, data, length, &result);
    } else if (a.platform == MQPL_ZOS) {
        kind = "MQSC";
        ServeText(ctx, data, length, &result);
    } else {
        /* MQSC text goes in escape commands on distributed platforms. */
        kind = "non-PCF";
        result = MQRCCF_MD_FORMAT_ERROR;
        ctx->command = MQCMD_NONE;
        FinishReplies(ctx, MQCC_FAILED, result, 0);
    }
    /* The descriptor's fields as they came: printable for the log. */
    char user[MQ_USER_ID_LENGTH + 1], replyQ[QNAME_SIZE], replyQMgr[QMNAME_SIZE];
    WireGetField(user, md->UserIdentifier, sizeof md->UserIdentifier);
    MakePrintable(user);
    MakePrintable(format);
    snprintf(replyQ, sizeof replyQ, "%s", ctx->replyQ);
    MakePrintable(replyQ);
    snprintf(replyQMgr, sizeof replyQMgr, "%s", ctx->replyQMgr);
    MakePrintable(replyQMgr);
    if (ctx->replyQ[0] == '\0')
        LogLine(
            "cmdserver: %s command %ld (format '%s', user '%s') has no reply-to queue: "
            "reason %ld, no reply sent",
            kind, (long)ctx->command, format, user, (long)result);
    else
        LogLine(
            "cmdserver: %s command %ld (format '%s', user '%s'): reason %ld, %d replies to "
            "%s%s%s%s",
            kind, (long)ctx->command, format, user, (long)result, ctx->sent, replyQ,
            replyQMgr[0] ? " on " : "", replyQMgr, ctx->dropped ? ", some dropped" : "");
    delete ctx;
}

/* ---- PCF commands ---------------------------------------------------------------------- */

static void ServePcf(REPLYCTX *ctx, const MQBYTE *data, MQLONG length, MQLONG *result) {
    CMDMSG cmd;
    int cfhRead = 0;
    MQLONG badParm = 0;
    MQLONG rc = ParseCommand(data, length > 0 ? (size_t)length : 0, &cmd, &cfhRead, &badParm);
    ctx->command = cfhRead ? cmd.cfh.Command : MQCMD_NONE;
    if (rc == 0) {
        switch (cmd.cfh.Command) {
            case MQCMD_INQUIRE_Q_MGR:
                rc = InquireQmgr(ctx, &cmd, &badParm);
                break;
            case MQCMD_INQUIRE_Q:
                rc = InquireQueues(ctx, &cmd, &badParm);
                break;
            case MQCMD_INQUIRE_Q_NAMES:
                rc = InquireQueueNames(ctx, &cmd, &badParm);
                break;
            case MQCMD_CHANGE_Q_MGR:
                rc = ChangeQmgr(ctx, &cmd, &badParm);
                break;
            case MQCMD_PING_Q_MGR:
                rc = CheckCommandParms(ctx, &cmd, nullptr, 0, nullptr, &badParm);
                break;
            case MQCMD_ESCAPE:
                rc = Escape(ctx, &cmd, &badParm);
                break;
            default:
                rc = MQRCCF_CFH_COMMAND_ERROR;
                break;
        }
    }
    *result = rc;
    FinishReplies(ctx, rc == 0 ? MQCC_OK : MQCC_FAILED, rc, rc == 0 ? 0 : badParm);
}

/* CheckParms with the parameters every z/OS command may carry besides its
 * own: the command scope and the queue-sharing group disposition. */
static MQLONG CheckCommandParms(REPLYCTX *ctx, const CMDMSG *cmd, const PARMRULE *rules,
                                size_t count, int (*filterOk)(MQLONG, MQLONG), MQLONG *badParm) {
    std::vector<PARMRULE> all(rules, rules + count);
    if (ctx->xr) {
        all.push_back({MQCACF_COMMAND_SCOPE, MQCFT_STRING, 0});
        all.push_back({MQIA_QSG_DISP, MQCFT_INTEGER, 0});
    }
    return CheckParms(cmd, all.data(), all.size(), filterOk, badParm);
}

/* 1 when an attribute list asks for selector: no list, MQIACF_ALL in it,
 * or selector itself. */
static int Wanted(const CMDPARM *attrs, MQLONG selector) {
    if (attrs == nullptr)
        return 1;
    for (MQLONG i = 0; i < attrs->count; i++) {
        MQLONG v = ParmListValue(attrs, i);
        if (v == MQIACF_ALL || v == selector)
            return 1;
    }
    return 0;
}

static MQLONG InquireQmgr(REPLYCTX *ctx, const CMDMSG *cmd, MQLONG *badParm) {
    static const PARMRULE rules[] = {{MQIACF_Q_MGR_ATTRS, MQCFT_INTEGER_LIST, 0}};
    MQLONG rc = CheckCommandParms(ctx, cmd, rules, 1, nullptr, badParm);
    if (rc != 0)
        return rc;
    const CMDPARM *attrs = FindParm(cmd, MQIACF_Q_MGR_ATTRS);
    QMGRATTRS a;
    GetQmgrAttrs(ctx->qm, &a);
    BeginItem(ctx, MQCC_OK, 0);
    for (size_t i = 0; i < QmgrAttrCount; i++) {
        const ATTRDEF *d = &QmgrAttrDefs[i];
        if (d->selector != MQCA_Q_MGR_NAME && !Wanted(attrs, d->selector))
            continue;
        MQLONG v;
        if (d->length > 0) {
            const char *s = QmgrAttrString(&a, d->selector);
            if (s != nullptr)
                ReplyAddString(&ctx->item, d->selector, s, strlen(s), d->length);
        } else if (QmgrAttrInt(&a, d->selector, &v)) {
            ReplyAddInt(&ctx->item, d->selector, v);
        }
    }
    EmitItem(ctx);
    return 0;
}

/* Filters of INQUIRE_Q: an integer filter on an integer queue attribute, a
 * string filter on a string one. */
static int QueueFilterOk(MQLONG id, MQLONG type) {
    const ATTRDEF *d = FindQueueAttr(id);
    if (d == nullptr)
        return 0;
    return (type == MQCFT_INTEGER_FILTER && d->length == 0) ||
           (type == MQCFT_STRING_FILTER && d->length > 0);
}

/* The queue name, type and filter of INQUIRE_Q and INQUIRE_Q_NAMES, checked. */
static MQLONG CheckQueueSelection(const CMDMSG *cmd, std::string *name, MQLONG *qType,
                                  MQLONG *badParm) {
    const CMDPARM *p = FindParm(cmd, MQCA_Q_NAME);
    *name = ParmString(p);
    if (name->size() > MQ_Q_NAME_LENGTH) {
        *badParm = MQCA_Q_NAME;
        return MQRCCF_CFST_STRING_LENGTH_ERR;
    }
    *qType = MQQT_ALL;
    p = FindParm(cmd, MQIA_Q_TYPE);
    if (p != nullptr) {
        MQLONG t = p->value;
        if (t != MQQT_ALL && t != MQQT_LOCAL && t != MQQT_MODEL && t != MQQT_ALIAS &&
            t != MQQT_REMOTE && t != MQQT_CLUSTER) {
            *badParm = MQIA_Q_TYPE;
            return MQRCCF_Q_TYPE_ERROR;
        }
        *qType = t;
    }
    for (const CMDPARM &f : cmd->parms) {
        if (f.depth != 0)
            continue;
        if (f.type == MQCFT_INTEGER_FILTER && (f.op < MQCFOP_LESS || f.op > MQCFOP_NOT_LESS)) {
            *badParm = f.id;
            return MQRCCF_CFIF_OPERATOR_ERROR;
        }
        if (f.type == MQCFT_STRING_FILTER && (f.op < MQCFOP_LESS || f.op > MQCFOP_NOT_LESS) &&
            f.op != MQCFOP_LIKE && f.op != MQCFOP_NOT_LIKE) {
            *badParm = f.id;
            return MQRCCF_CFSF_OPERATOR_ERROR;
        }
    }
    return 0;
}

/* 1 when queue a passes filter (null: no filter). A queue without the
 * filtered attribute does not pass. */
static int PassesFilter(const QATTRS *a, const CMDPARM *filter) {
    if (filter == nullptr)
        return 1;
    int cmp;
    if (filter->type == MQCFT_INTEGER_FILTER) {
        MQLONG v;
        if (!QueueAttrInt(a, filter->id, &v))
            return 0;
        cmp = v < filter->value ? -1 : v > filter->value ? 1 : 0;
    } else {
        const char *s = QueueAttrString(a, filter->id);
        if (s == nullptr)
            return 0;
        std::string want = ParmString(filter);
        if (filter->op == MQCFOP_LIKE || filter->op == MQCFOP_NOT_LIKE)
            return GenericMatch(want.c_str(), s) == (filter->op == MQCFOP_LIKE);
        cmp = strcmp(s, want.c_str());
    }
    switch (filter->op) {
        case MQCFOP_LESS:
            return cmp < 0;
        case MQCFOP_EQUAL:
            return cmp == 0;
        case MQCFOP_GREATER:
            return cmp > 0;
        case MQCFOP_NOT_LESS:
            return cmp >= 0;
        case MQCFOP_NOT_EQUAL:
            return cmp != 0;
        case MQCFOP_NOT_GREATER:
            return cmp <= 0;
        default:
            return 0;
    }
}

/* INQUIRE_Q and INQUIRE_Q_NAMES: the parameters checked against rules, then
 * the queues the name and type select. */
static MQLONG SelectQueues(REPLYCTX *ctx, const CMDMSG *cmd, const PARMRULE *rules, size_t count,
                           int (*filterOk)(MQLONG, MQLONG), std::vector<QATTRS> *list,
                           MQLONG *badParm) {
    MQLONG rc = CheckCommandParms(ctx, cmd, rules, count, filterOk, badParm);
    std::string name;
    MQLONG qType = MQQT_ALL;
    if (rc == 0)
        rc = CheckQueueSelection(cmd, &name, &qType, badParm);
    if (rc != 0)
        return rc;
    if (ListQueues(ctx->qm, name.c_str(), qType, list) != 0)
        return MQRC_UNKNOWN_OBJECT_NAME;
    return 0;
}

static MQLONG InquireQueues(REPLYCTX *ctx, const CMDMSG *cmd, MQLONG *badParm) {
    static const PARMRULE rules[] = {{MQCA_Q_NAME, MQCFT_STRING, 1},
                                     {MQIA_Q_TYPE, MQCFT_INTEGER, 0},
                                     {MQIACF_Q_ATTRS, MQCFT_INTEGER_LIST, 0}};
    std::vector<QATTRS> list;
    MQLONG rc = SelectQueues(ctx, cmd, rules, 3, QueueFilterOk, &list, badParm);
    if (rc != 0)
        return rc;
    const CMDPARM *attrs = FindParm(cmd, MQIACF_Q_ATTRS);
    const CMDPARM *filter = nullptr;
    for (const CMDPARM &p : cmd->parms) {
        if (p.depth == 0 && (p.type == MQCFT_INTEGER_FILTER || p.type == MQCFT_STRING_FILTER))
            filter = &p;
    }
    int matched = 0;
    for (const QATTRS &a : list) {
        if (ctx->aborted)
            break;
        if (!PassesFilter(&a, filter))
            continue;
        matched++;
        unsigned bit = QueueTypeBit(a.qType);
        BeginItem(ctx, MQCC_OK, 0);
        for (size_t i = 0; i < QueueAttrCount; i++) {
            const ATTRDEF *d = &QueueAttrDefs[i];
            if ((d->qtypes & bit) == 0)
                continue;
            if (d->selector != MQCA_Q_NAME && d->selector != MQIA_Q_TYPE &&
                !Wanted(attrs, d->selector))
                continue;
            MQLONG v = 0;
            const char *s = nullptr;
            if (!QueueAttrValue(&a, d, &v, &s))
                continue;
            if (s != nullptr)
                ReplyAddString(&ctx->item, d->selector, s, strlen(s), d->length);
            else
                ReplyAddInt(&ctx->item, d->selector, v);
        }
        EmitItem(ctx);
    }
    return matched > 0 ? 0 : MQRC_UNKNOWN_OBJECT_NAME;
}

static MQLONG InquireQueueNames(REPLYCTX *ctx, const CMDMSG *cmd, MQLONG *badParm) {
    static const PARMRULE rules[] = {{MQCA_Q_NAME, MQCFT_STRING, 1},
                                     {MQIA_Q_TYPE, MQCFT_INTEGER, 0}};
    std::vector<QATTRS> list;
    MQLONG rc = SelectQueues(ctx, cmd, rules, 2, nullptr, &list, badParm);
    if (rc != 0)
        return rc;
    std::vector<const char *> names;
    names.reserve(list.size());
    for (const QATTRS &a : list)
        names.push_back(a.name);
    BeginItem(ctx, MQCC_OK, 0);
    ReplyAddStringList(&ctx->item, MQCACF_Q_NAMES, names.data(), (MQLONG)names.size(),
                       MQ_Q_NAME_LENGTH);
    EmitItem(ctx);
    return 0;
}

static MQLONG ChangeQmgr(REPLYCTX *ctx, const CMDMSG *cmd, MQLONG *badParm) {
    static const PARMRULE rules[] = {{MQCA_SSL_KEY_REPOSITORY, MQCFT_STRING, 0},
                                     {MQCA_CERT_LABEL, MQCFT_STRING, 0},
                                     {MQCA_Q_MGR_DESC, MQCFT_STRING, 0},
                                     {MQIA_SSL_EVENT, MQCFT_INTEGER, 0},
                                     {MQIACF_FORCE, MQCFT_INTEGER, 0}};
    MQLONG rc = CheckCommandParms(ctx, cmd, rules, 5, nullptr, badParm);
    if (rc != 0)
        return rc;
    /* Every value is checked before the first is changed. */
    for (const CMDPARM &p : cmd->parms) {
        if (p.depth != 0)
            continue;
        const ATTRDEF *d = FindQmgrAttr(p.id);
        if (p.type == MQCFT_STRING && d != nullptr && ParmString(&p).size() > (size_t)d->length) {
            *badParm = p.id;
            return MQRCCF_CFST_STRING_LENGTH_ERR;
        }
        if (p.id == MQIA_SSL_EVENT && p.value != MQEVR_ENABLED && p.value != MQEVR_DISABLED) {
            *badParm = p.id;
            return MQRCCF_PARM_VALUE_ERROR;
        }
    }
    for (const CMDPARM &p : cmd->parms) {
        if (p.depth != 0 || p.id == MQIACF_FORCE)
            continue;
        MQLONG set = p.type == MQCFT_STRING ? SetQmgrString(ctx->qm, p.id, ParmString(&p).c_str())
                                            : SetQmgrInt(ctx->qm, p.id, p.value);
        if (set != 0) {
            *badParm = p.id;
            return MQRCCF_PARM_VALUE_ERROR;
        }
    }
    return 0;
}

static MQLONG Escape(REPLYCTX *ctx, const CMDMSG *cmd, MQLONG *badParm) {
    static const PARMRULE rules[] = {{MQIACF_ESCAPE_TYPE, MQCFT_INTEGER, 1},
                                     {MQCACF_ESCAPE_TEXT, MQCFT_STRING, 1}};
    MQLONG rc = CheckCommandParms(ctx, cmd, rules, 2, nullptr, badParm);
    if (rc != 0)
        return rc;
    if (FindParm(cmd, MQIACF_ESCAPE_TYPE)->value != MQET_MQSC) {
        *badParm = MQIACF_ESCAPE_TYPE;
        return MQRCCF_ESCAPE_TYPE_ERROR;
    }
    std::string text = ParmString(FindParm(cmd, MQCACF_ESCAPE_TEXT));
    std::vector<std::string> out;
    MQLONG failed = RunMqscCommand(ctx->qm, text.c_str(), &out);
    MQLONG cc = failed ? MQCC_FAILED : MQCC_OK;
    MQLONG reason = failed ? MQRCCF_COMMAND_FAILED : 0;
    if (out.empty())
        out.push_back("");
    for (const std::string &line : out) {
        if (ctx->aborted)
            break;
        BeginItem(ctx, cc, reason);
        ReplyAddInt(&ctx->item, MQIACF_ESCAPE_TYPE, MQET_MQSC);
        ReplyAddString(&ctx->item, MQCACF_ESCAPE_TEXT, line.data(), line.size(), 0);
        EmitItem(ctx);
    }
    return reason;
}

/* ---- z/OS text commands ------------------------------------------------------------------ */

/* The engine's response lines as z/OS items: a line that is not indented
 * starts an item, indented lines (DISPLAY attributes) join it; the heading
 * of a DISPLAY becomes the z/OS message of that display with the command
 * prefix. */
static std::vector<std::string> ZosItems(const std::vector<std::string> &lines, const char *cpf) {
    static const struct {
        const char *amq;
        const char *csq;
    } headings[] = {{"AMQ8409I", "CSQM401I"}, {"AMQ8408I", "CSQM409I"}, {"AMQ8407I", "CSQM408I"}};
    std::vector<std::string> items;
    for (const std::string &line : lines) {
        if (!line.empty() && line[0] == ' ' && !items.empty()) {
            size_t b = line.find_first_not_of(' ');
            if (b == std::string::npos)
                continue;
            size_t e = line.find_last_not_of(' ');
            std::string part = line.substr(b, e - b + 1);
            /* two items on a line are separated by a run of blanks */
            std::string joined;
            for (size_t i = 0; i < part.size(); i++) {
                if (part[i] == ' ' && i > 0 && part[i - 1] == ' ')
                    continue;
                joined += part[i];
            }
            items.back() += " " + joined;
            continue;
        }
        std::string item = line;
        for (auto &h : headings) {
            if (line.compare(0, 8, h.amq) == 0) {
                item = std::string(h.csq) + " " + cpf;
                break;
            }
        }
        items.push_back(item);
    }
    return items;
}

static void ServeText(REPLYCTX *ctx, const MQBYTE *data, MQLONG length, MQLONG *result) {
    /* The command text: up to a zero byte, control characters as blanks. */
    std::string text;
    for (MQLONG i = 0; i < length && data[i] != 0; i++)
        text += (data[i] < ' ' || data[i] == 0x7F) ? ' ' : (char)data[i];
    size_t b = text.find_first_not_of(' ');
    text = b == std::string::npos ? "" : text.substr(b, text.find_last_not_of(' ') - b + 1);
    std::vector<std::string> out;
    MQLONG rc = RunMqscCommand(ctx->qm, text.c_str(), &out);
    *result = rc;
    std::string cpf = std::string("!") + ctx->qmName;
    std::vector<std::string> items = ZosItems(out, cpf.c_str());
    /* The verb and object type for the completion message: ' DISPLAY QLOCAL'. */
    std::string verb;
    int words = 0;
    for (size_t i = 0; i < text.size() && words < 2;) {
        while (i < text.size() && text[i] == ' ')
            i++;
        size_t s = i;
        while (i < text.size() && text[i] != ' ' && text[i] != '(')
            i++;
        if (i > s) {
            verb += " ";
            for (size_t k = s; k < i; k++)
                verb += (char)toupper((unsigned char)text[k]);
            words++;
        }
        while (i < text.size() && text[i] != ' ')
            i++;
    }
    int display = verb.compare(0, 4, " DIS") == 0;
    char line[512];
    snprintf(line, sizeof line, "CSQN205I   COUNT=%8d, RETURN=%08X, REASON=%08X",
             (int)items.size() + 2, rc == 0 ? 0u : 8u, rc == 0 ? 0u : (unsigned)rc);
    SendReply(ctx, line, strlen(line), MQFMT_COMMAND_1);
    for (const std::string &item : items) {
        if (ctx->aborted)
            return;
        SendReply(ctx, item.data(), item.size(), MQFMT_COMMAND_1);
    }
    snprintf(line, sizeof line, "%s %s %s '%s' %s", rc == 0 ? "CSQ9022I" : "CSQ9023E", cpf.c_str(),
             display ? "CSQMDRTS" : "CSQMMSGP", verb.c_str(),
             rc == 0 ? "NORMAL COMPLETION" : "ABNORMAL COMPLETION");
    SendReply(ctx, line, strlen(line), MQFMT_COMMAND_1);
}

/* ---- Reply sets -------------------------------------------------------------------------- */

/* The two parameters that identify a z/OS reply set in each of its messages. */
static void AddResponseId(REPLYCTX *ctx, PCFREPLY *r) {
    ReplyAddBytes(r, MQBACF_RESPONSE_ID, ctx->responseId, RESPONSE_ID_LENGTH);
    ReplyAddString(r, MQCACF_RESPONSE_Q_MGR_NAME, ctx->qmName, strlen(ctx->qmName),
                   MQ_Q_MGR_NAME_LENGTH);
}

/* Start a data reply in ctx->item. */
static void BeginItem(REPLYCTX *ctx, MQLONG compCode, MQLONG reason) {
    if (ctx->xr) {
        ReplyBegin(&ctx->item, MQCFT_XR_ITEM, MQCFH_VERSION_3, ctx->command, compCode, reason);
        AddResponseId(ctx, &ctx->item);
    } else {
        ReplyBegin(&ctx->item, MQCFT_RESPONSE, MQCFH_VERSION_1, ctx->command, compCode, reason);
    }
}

/* Send ctx->item, or on a distributed platform hold it back (sending the
 * one held before) until it is known whether it is the last. */
static void EmitItem(REPLYCTX *ctx) {
    if (ctx->xr) {
        SendPcf(ctx, &ctx->item, MQCFC_NOT_LAST);
        return;
    }
    if (ctx->holding)
        SendPcf(ctx, &ctx->held, MQCFC_NOT_LAST);
    std::swap(ctx->held.data, ctx->item.data);
    ctx->holding = 1;
}

/* End the reply set: z/OS sends the summary with the command's result; a
 * distributed platform marks the reply held back as the last, or, when
 * there is none, sends one reply with the result. badParm non-zero adds
 * MQIACF_PARAMETER_ID to the reply that carries the result. */
static void FinishReplies(REPLYCTX *ctx, MQLONG compCode, MQLONG reason, MQLONG badParm) {
    if (ctx->xr) {
        ReplyBegin(&ctx->item, MQCFT_XR_SUMMARY, MQCFH_VERSION_3, ctx->command, compCode, reason);
        AddResponseId(ctx, &ctx->item);
    } else if (ctx->holding && compCode == MQCC_OK) {
        ctx->holding = 0;
        SendPcf(ctx, &ctx->held, MQCFC_LAST);
        return;
    } else {
        if (ctx->holding) {
            ctx->holding = 0;
            if (ReplyHeader(&ctx->held).CompCode == compCode) {
                SendPcf(ctx, &ctx->held, MQCFC_LAST);
                return;
            }
            SendPcf(ctx, &ctx->held, MQCFC_NOT_LAST);
        }
        ReplyBegin(&ctx->item, MQCFT_RESPONSE, MQCFH_VERSION_1, ctx->command, compCode, reason);
    }
    if (badParm != 0)
        ReplyAddInt(&ctx->item, MQIACF_PARAMETER_ID, badParm);
    SendPcf(ctx, &ctx->item, MQCFC_LAST);
}

static void SendPcf(REPLYCTX *ctx, PCFREPLY *r, MQLONG control) {
    ReplySetSequence(r, ctx->seq + 1, control);
    SendReply(ctx, r->data.data(), r->data.size(), MQFMT_ADMIN);
}

/* Wait the reply delay of `mqsim cmdserver delay`. Returns 1 when the
 * daemon is ending (no more replies). */
static int WaitDelay(CMDSERVER *cs) {
    MQLONG ms = cs->qm->cmdServerDelayMs.load(std::memory_order_relaxed);
    std::unique_lock<std::mutex> g(cs->lock);
    if (ms > 0)
        cs->cv.wait_for(g, std::chrono::milliseconds(ms), [cs] { return cs->ending != 0; });
    return cs->ending;
}

/* Put one reply to the command's reply-to queue with the identifiers its
 * report options ask for. A reply that cannot be put is logged and
 * dropped; the set goes on. */
static void SendReply(REPLYCTX *ctx, const void *data, size_t length, const char *format) {
    ctx->seq++;
    if (ctx->replyQ[0] == '\0' || ctx->aborted)
        return;
    if (WaitDelay(ctx->cs)) {
        ctx->aborted = 1;
        return;
    }
    const MQMD *cmd = &ctx->cmdMd;
    MQMD md = MQMD_DEFAULT;
    md.Version = MQMD_VERSION_2;
    md.MsgType = MQMT_REPLY;
    md.Encoding = MQENC_NATIVE;
    md.CodedCharSetId = ctx->ccsid;
    memcpy(md.Format, format, MQ_FORMAT_LENGTH);
    md.Priority = cmd->Priority;
    md.Persistence = cmd->Persistence;
    if (cmd->Report & MQRO_PASS_DISCARD_AND_EXPIRY) {
        md.Expiry = cmd->Expiry;
        md.Report = cmd->Report & MQRO_DISCARD_MSG;
    }
    if (cmd->Report & MQRO_PASS_MSG_ID)
        memcpy(md.MsgId, cmd->MsgId, sizeof md.MsgId);
    else
        memset(md.MsgId, 0, sizeof md.MsgId); /* a new one */
    if (cmd->Report & MQRO_PASS_CORREL_ID)
        memcpy(md.CorrelId, cmd->CorrelId, sizeof md.CorrelId);
    else
        memcpy(md.CorrelId, cmd->MsgId, sizeof md.CorrelId);
    /* The identity is the daemon's, looked up once; the queue manager adds
     * the rest of the context. */
    WireSetField(md.UserIdentifier, sizeof md.UserIdentifier, ctx->cs->userId);
    MQLONG rc = PutMessage(ctx->qm, ctx->replyQ, ctx->replyQMgr, &md, MQPMO_SET_IDENTITY_CONTEXT,
                           (const MQBYTE *)data, (MQLONG)length);
    if (rc == 0) {
        ctx->sent++;
        return;
    }
    if (ctx->dropped++ == 0) {
        char replyQ[QNAME_SIZE], replyQMgr[QMNAME_SIZE];
        snprintf(replyQ, sizeof replyQ, "%s", ctx->replyQ);
        MakePrintable(replyQ);
        snprintf(replyQMgr, sizeof replyQMgr, "%s", ctx->replyQMgr);
        MakePrintable(replyQMgr);
        LogLine("cmdserver: reply %ld to %s%s%s not put (reason %ld); dropped", (long)ctx->seq,
                replyQ, replyQMgr[0] ? " on " : "", replyQMgr, (long)rc);
    }
}
