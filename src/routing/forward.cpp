/* forward.cpp -- the road of a request to the command server and of its
 * replies back: the requester's identity fields are kept in its REQUEST,
 * the descriptor is pointed at TORVIK's reply queue, the unchanged message
 * is put to the command queue with the requester's context, and replies go
 * to the requester's reply-to queue with the identifiers it asked for.
 *
 * Owns: nothing.
 * Threads: the consumer thread (and the worker of an internal request).
 */
#include <cstring>

#include "config/settings.h"
#include "log/output.h"
#include "log/status.h"
#include "mq/hobjcache.h"
#include "mq/queues.h"
#include "mqconst/mqconst.h"
#include "routing/routing.h"

static void CopyName(char *dst, const MQCHAR *src, int fieldLength);

void PrepareForward(REQUEST *req, MQMD *md) {
    CopyName(req->replyQName, md->ReplyToQ, MQ_Q_NAME_LENGTH);
    CopyName(req->replyQMgrName, md->ReplyToQMgr, MQ_Q_MGR_NAME_LENGTH);
    memcpy(req->msgId, md->MsgId, MQ_MSG_ID_LENGTH);
    memcpy(req->correlId, md->CorrelId, MQ_CORREL_ID_LENGTH);
    req->report = md->Report;

    /* Replies come back to our reply queue on the local queue manager. */
    CopyPadded(md->ReplyToQ, MQ_Q_NAME_LENGTH, Settings.actualReplyQName, ' ');
    memset(md->ReplyToQMgr, 0, MQ_Q_MGR_NAME_LENGTH);
    /* A new MsgId from the put; the command server passes it on to its
     * replies, and the queue manager discards the command rather than
     * dead-lettering it if it cannot be delivered. */
    memset(md->MsgId, 0, MQ_MSG_ID_LENGTH);
    md->Report |= MQRO_PASS_MSG_ID | MQRO_DISCARD_MSG;
}

MQLONG ForwardCommand(MQMD *md, MQBYTE *msg, MQLONG len) {
    MQPMO pmo = MQPMO_DEFAULT;
    pmo.Version = MQPMO_VERSION_1;
    pmo.Options = MQPMO_NO_SYNCPOINT | MQPMO_PASS_ALL_CONTEXT;
    pmo.Context = HObjInputQ; /* its last message is the request being forwarded */
    pmo.Timeout = -1;

    MQLONG compCode = MQCC_OK;
    MQLONG reason = MQRC_NONE;
    PutWithRetry(HObjCommandQ, Settings.commandQName, md, &pmo, len, msg, &compCode, &reason);
    if (reason == MQRC_NONE && compCode == MQCC_FAILED)
        reason = MQRCCF_UNEXPECTED_ERROR;
    if (reason != MQRC_NONE && compCode == MQCC_FAILED) {
        OutputMessage(0, OUTF_NORMAL, "CVLA107E MQPUT to queue '%s' failed with reason %d (%s)\n",
                      Settings.commandQName, (int)reason, ReasonText(reason));
        return reason;
    }
    return MQRC_NONE;
}

MQLONG PutReply(REQUEST *req, MQMD *md, const void *buffer, MQLONG length, int passContext) {
    char display[MQ_DISPLAY_NAME_SIZE];
    QueueDisplayName(display, req->replyQName, req->replyQMgrName);

    if (req->report & MQRO_PASS_MSG_ID)
        memcpy(md->MsgId, req->msgId, sizeof md->MsgId);
    else
        memset(md->MsgId, 0, sizeof md->MsgId); /* MQMI_NONE: a new identifier */
    if (req->report & MQRO_PASS_CORREL_ID)
        memcpy(md->CorrelId, req->correlId, sizeof md->CorrelId);
    else
        memcpy(md->CorrelId, req->msgId, sizeof md->CorrelId);

    MQLONG reason = MQRC_NONE;
    HOBJCACHE *entry = FindReplyQueueHandle(req->replyQName, req->replyQMgrName,
                                            MQOO_OUTPUT | MQOO_PASS_ALL_CONTEXT, &reason);
    if (entry == nullptr) {
        CountFailedPut(); /* the reply is dropped: the cache has said why */
        return reason;
    }

    MQPMO pmo = MQPMO_DEFAULT;
    pmo.Version = MQPMO_VERSION_1;
    pmo.Timeout = -1;
    pmo.Options = MQPMO_NO_SYNCPOINT;
    if (passContext) {
        pmo.Options = MQPMO_NO_SYNCPOINT | MQPMO_PASS_ALL_CONTEXT;
        pmo.Context = HObjReplyQ;
    }
    MQLONG compCode = MQCC_OK;
    PutWithRetry(entry->hObj, display, md, &pmo, length, buffer, &compCode, &reason);
    ReleaseReplyQueueHandle(entry);
    if (compCode != MQCC_FAILED) {
        CountResponse(length);
        return MQRC_NONE;
    }
    OutputMessage(0, OUTF_NORMAL, "CVLA107E MQPUT to queue '%s' failed with reason %d (%s)\n",
                  display, reason, ReasonText(reason));
    return reason;
}

/* Copy an MQ name field of fieldLength bytes into dst (fieldLength + 1
 * bytes), cut at the first blank or zero byte, terminated. */
static void CopyName(char *dst, const MQCHAR *src, int fieldLength) {
    int n = 0;
    while (n < fieldLength && src[n] != ' ' && src[n] != '\0') {
        dst[n] = src[n];
        n++;
    }
    dst[n] = '\0';
}
