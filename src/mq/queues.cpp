/* queues.cpp -- the agent's three queues and their consumers, puts with
 * retry on the main connection, and the one-off MQPUT1 of simple commands
 * and wake-ups on the secondary connection.
 *
 * Owns: HObjCommandQ, HObjInputQ, HObjReplyQ, SecondaryLock, CommandQueuer.
 * Threads: OpenQueue at start-up (main thread); PutWithRetry on the
 * consumer thread or the main thread; PutSimpleCommand, PutWakeUp
 * and DropSecondaryConnection on the main thread (-c, shutdown) or
 * workers, one at a time under SecondaryLock.
 */
#include "mq/queues.h"

#include <atomic>
#include <cstring>

#include "config/settings.h"
#include "log/runstate.h"
#include "log/status.h"
#include "log/cs.h"
#include "log/output.h"
#include "mq/connect.h"
#include "mq/hobjcache.h"
#include "mq/mqload.h"
#include "mqconst/mqpcf.h"
#include "mqconst/mqconst.h"

MQHOBJ HObjCommandQ = MQHO_UNUSABLE_HOBJ;
MQHOBJ HObjInputQ = MQHO_UNUSABLE_HOBJ;
MQHOBJ HObjReplyQ = MQHO_UNUSABLE_HOBJ;

/* Serialises every use of the secondary connection: its connect, the
 * MQPUT1 calls and its disconnect. */
static CSLOCK SecondaryLock;

static void CopyBlanks(MQCHAR *field, size_t size);
static MQHCONN SecondaryConnection(void);
static MQLONG PutOneOff(const char *qName, MQMD *md, MQPMO *pmo, MQLONG length, const void *buffer);
static int PutMayClearByWaiting(MQLONG reason);

/* ---- Queues ------------------------------------------------------------- */

MQHOBJ OpenQueue(const char *qName, char *actualName, MQLONG options, MQCB_FUNCTION *callback) {
    MQOD od = MQOD_DEFAULT;
    CopyPadded(od.ObjectName, sizeof od.ObjectName, qName, '\0');
    CopyPadded(od.DynamicQName, sizeof od.DynamicQName, Settings.tempQPrefix, '\0');

    MQHOBJ hObj = MQHO_UNUSABLE_HOBJ;
    MQLONG compCode = MQCC_OK, reason = MQRC_NONE;
    MQEntryPoints.MQOPEN(HConnMain.load(), &od, options, &hObj, &compCode, &reason);
    if (compCode == MQCC_FAILED) {
        OutputMessage(0, OUTF_NORMAL, "CVLA104E MQOPEN of queue '%s' failed with reason %d (%s)\n",
                      qName, reason, ReasonText(reason));
        return MQHO_UNUSABLE_HOBJ;
    }

    if (actualName != nullptr) {
        size_t len = 0;
        while (len < MQ_Q_NAME_LENGTH && od.ObjectName[len] != ' ' && od.ObjectName[len] != '\0')
            len++;
        memcpy(actualName, od.ObjectName, len);
        actualName[len] = '\0';
    }
    if (callback == nullptr)
        return hObj;

    MQCBD cbd = MQCBD_DEFAULT;
    cbd.CallbackType = MQCBT_MESSAGE_CONSUMER;
    cbd.Options = MQCBDO_NONE;
    cbd.CallbackFunction = reinterpret_cast<MQPTR>(callback);
    cbd.MaxMsgLength = MQCBD_FULL_MSG_LENGTH;
    MQMD md = MQMD_DEFAULT;
    MQGMO gmo = MQGMO_DEFAULT;
    gmo.Version = MQGMO_VERSION_1;
    gmo.Options = MQGMO_NO_SYNCPOINT | MQGMO_FAIL_IF_QUIESCING | MQGMO_CONVERT;
    gmo.WaitInterval = 0;
    MQEntryPoints.MQCB(HConnMain.load(), MQOP_REGISTER, &cbd, hObj, &md, &gmo, &compCode, &reason);
    if (compCode == MQCC_FAILED)
        OutputMessage(0, OUTF_NORMAL, "CVLA105E MQCB for queue '%s' failed with reason %d (%s)\n",
                      qName, reason, ReasonText(reason));
    return hObj;
}

int OpenAgentQueues(MQCB_FUNCTION *commandConsumer, MQCB_FUNCTION *replyConsumer) {
    HObjCommandQ =
        OpenQueue(Settings.commandQName, nullptr, MQOO_OUTPUT | MQOO_PASS_ALL_CONTEXT, nullptr);
    if (HObjCommandQ == MQHO_UNUSABLE_HOBJ)
        return -1;
    HObjInputQ = OpenQueue(Settings.inputQName, nullptr, MQOO_INPUT_SHARED | MQOO_SAVE_ALL_CONTEXT,
                           commandConsumer);
    if (HObjInputQ == MQHO_UNUSABLE_HOBJ)
        return -1;
    HObjReplyQ = OpenQueue(Settings.modelQName, Settings.actualReplyQName,
                           MQOO_INPUT_SHARED | MQOO_SAVE_ALL_CONTEXT, replyConsumer);
    if (HObjReplyQ == MQHO_UNUSABLE_HOBJ)
        return -1;
    return 0;
}

/* ---- Puts on the main connection ---------------------------------------- */

void PutWithRetry(MQHOBJ hObj, const char *qName, MQMD *md, MQPMO *pmo, MQLONG length,
                  const void *buffer, MQLONG *compCode, MQLONG *reason) {
    int32_t retries = Settings.retryCount;
    int32_t pause = Settings.retryInt;
    for (int32_t attempt = 0;; attempt++) {
        MQEntryPoints.MQPUT(HConnMain.load(), hObj, md, pmo, length, const_cast<void *>(buffer),
                            compCode, reason);
        if (*compCode != MQCC_FAILED) { /* a warning put the message too */
            if (attempt > 0)
                CountRetriedPut();
            return;
        }
        /* A lost connection is not retried: the event handler ends the
         * agent. */
        if (*reason == MQRC_HCONN_ERROR || *reason == MQRC_CONNECTION_BROKEN)
            return;
        CountFailedPut();
        /* A reason that waiting cannot clear (message too big, queue or
         * queue manager unknown or deleted, not authorised) is final at
         * once: retrying it would only hold up the calling thread. */
        if (attempt >= retries || !PutMayClearByWaiting(*reason))
            return;
        OutputMessage(3, OUTF_NORMAL,
                      "CVLA108E MQPUT to queue '%s' failed with reason %d (%s) - Retry #%d after "
                      "%d seconds\n",
                      qName, *reason, ReasonText(*reason), attempt + 1, pause);
        if (pause > 0)
            PLSleep(static_cast<uint32_t>(pause) * 1000u);
    }
}

/* ---- One-off puts on the secondary connection --------------------------- */

MQLONG PutSimpleCommand(const char *text) {
    MQMD md = MQMD_DEFAULT;
    memcpy(md.Format, MQFMT_STRING, sizeof md.Format);
    CopyBlanks(md.ReplyToQ, sizeof md.ReplyToQ);
    CopyBlanks(md.ReplyToQMgr, sizeof md.ReplyToQMgr);
    MQPMO pmo = MQPMO_DEFAULT;
    pmo.Options = MQPMO_NO_SYNCPOINT;
    return PutOneOff(Settings.inputQName, &md, &pmo, static_cast<MQLONG>(strlen(text)), text);
}

MQLONG PutWakeUp(const MQBYTE *msgId) {
    MQMD md = MQMD_DEFAULT;
    memcpy(md.Format, MQFMT_ADMIN, sizeof md.Format);
    memcpy(md.MsgId, msgId, sizeof md.MsgId);
    MQPMO pmo = MQPMO_DEFAULT;
    pmo.Options = MQPMO_NONE;
    MQCFH cfh = MQCFH_DEFAULT;
    cfh.Type = MQCFT_COMMAND;
    cfh.StrucLength = MQCFH_STRUC_LENGTH;
    cfh.Version = MQCFH_VERSION_1;
    cfh.Command = 0;
    cfh.MsgSeqNumber = 1;
    cfh.Control = MQCFC_LAST;
    cfh.CompCode = MQCC_OK;
    cfh.Reason = MQRC_NONE;
    cfh.ParameterCount = 0;
    return PutOneOff(Settings.actualReplyQName, &md, &pmo, MQCFH_STRUC_LENGTH, &cfh);
}

/* The agent's queuer; null until start-up registers one. */
static std::atomic<COMMANDQUEUER> CommandQueuer{nullptr};

void SetCommandQueuer(COMMANDQUEUER queuer) {
    CommandQueuer.store(queuer, std::memory_order_relaxed);
}

MQLONG QueueSimpleCommand(const char *text) {
    COMMANDQUEUER queuer = CommandQueuer.load(std::memory_order_relaxed);
    if (queuer == nullptr)
        return PutSimpleCommand(text);
    return queuer(text);
}

void DropSecondaryConnection(void) {
    CSLockLock(&SecondaryLock);
    MQHCONN hConn = HConnSecondary.load();
    if (hConn != MQHC_UNUSABLE_HCONN) {
        MQLONG compCode = MQCC_OK, reason = MQRC_NONE;
        MQEntryPoints.MQDISC(&hConn, &compCode, &reason);
        HConnSecondary.store(MQHC_UNUSABLE_HCONN);
    }
    CSUnlockLock(&SecondaryLock);
}

/* The secondary connection, made on first use. The caller holds
 * SecondaryLock. MQHC_UNUSABLE_HCONN when the connect failed (reported). */
static MQHCONN SecondaryConnection(void) {
    MQHCONN hConn = HConnSecondary.load();
    if (hConn == MQHC_UNUSABLE_HCONN) {
        hConn = ConnectQueueManager();
        HConnSecondary.store(hConn);
    }
    return hConn;
}

/* MQPUT1 to qName on the secondary connection; CVLA107E on failure. A
 * connection found lost is dropped so that the next put connects again;
 * once the stop flag is set such a loss has already been reported
 * (CVLA199E) and is not reported again. Returns the reason. */
static MQLONG PutOneOff(const char *qName, MQMD *md, MQPMO *pmo, MQLONG length,
                        const void *buffer) {
    CSLockLock(&SecondaryLock);
    MQHCONN hConn = SecondaryConnection();
    if (hConn == MQHC_UNUSABLE_HCONN) {
        CSUnlockLock(&SecondaryLock);
        return MQRC_HCONN_ERROR;
    }
    MQOD od = MQOD_DEFAULT;
    CopyPadded(od.ObjectName, sizeof od.ObjectName, qName, '\0');
    MQLONG compCode = MQCC_OK, reason = MQRC_NONE;
    MQEntryPoints.MQPUT1(hConn, &od, md, pmo, length, const_cast<void *>(buffer), &compCode,
                         &reason);
    int lost = compCode == MQCC_FAILED && ConnectionLost(reason);
    if (lost) {
        MQLONG discCode = MQCC_OK, discReason = MQRC_NONE;
        MQEntryPoints.MQDISC(&hConn, &discCode, &discReason);
        HConnSecondary.store(MQHC_UNUSABLE_HCONN);
    }
    CSUnlockLock(&SecondaryLock);
    if (compCode != MQCC_FAILED)
        return MQRC_NONE;
    if (!(lost && StopRequested()))
        OutputMessage(0, OUTF_NORMAL, "CVLA107E MQPUT to queue '%s' failed with reason %d (%s)\n",
                      qName, reason, ReasonText(reason));
    return reason;
}

/* ---- Run state ---------------------------------------------------------- */

void ResetMQAccess(void) {
    ForgetCachedHandles();
    LastHandleCheck.store(0, std::memory_order_relaxed);
    HConnMain.store(MQHC_UNUSABLE_HCONN);
    HConnSecondary.store(MQHC_UNUSABLE_HCONN);
    HObjCommandQ = HObjInputQ = HObjReplyQ = MQHO_UNUSABLE_HOBJ;
    SetCommandQueuer(nullptr);
}

/* ---- Helpers ------------------------------------------------------------ */

/* 1 for the put failures that can clear by themselves: a full or
 * put-inhibited queue, shortages of storage or space, a busy object, a
 * cluster still resolving. Every other reason is final. */
static int PutMayClearByWaiting(MQLONG reason) {
    switch (reason) {
        case MQRC_Q_FULL:
        case MQRC_PUT_INHIBITED:
        case MQRC_STORAGE_NOT_AVAILABLE:
        case MQRC_Q_SPACE_NOT_AVAILABLE:
        case MQRC_PAGESET_FULL:
        case MQRC_SYNCPOINT_LIMIT_REACHED:
        case MQRC_RESOURCE_PROBLEM:
        case MQRC_OBJECT_IN_USE:
        case MQRC_CLUSTER_RESOLUTION_ERROR:
            return 1;
        default:
            return 0;
    }
}

static void CopyBlanks(MQCHAR *field, size_t size) {
    memset(field, ' ', size);
}
