/* reply_consumer.cpp -- the consumer of TORVIK's reply queue: matches each
 * reply of the command server to its request by MsgId and passes it on,
 * compressed and consolidated, to the requester (or to the reply handler
 * of an internal request).
 *
 * Owns: nothing.
 * Threads: the queue manager's consumer thread, one call at a time, never
 * at the same time as OnCommandMessage. Only the table search and the busy
 * flag are handled under RequestLock.
 */
#include <cstring>

#include "config/settings.h"
#include "log/runstate.h"
#include "log/status.h"
#include "log/output.h"
#include "mqconst/mqconst.h"
#include "routing/routing.h"

void OnReplyMessage(MQHCONN hConn, MQMD *md, MQGMO *gmo, MQBYTE *buffer, MQCBC *cbc) {
    (void)hConn;
    if (cbc == nullptr)
        return;
    if (!AcceptConsumerCall(cbc, Settings.actualReplyQName))
        return;
    if (md == nullptr)
        return;

    int64_t now = CurrentTime.load(std::memory_order_relaxed);
    LastActivityTime.store(now, std::memory_order_relaxed);
    MQLONG length = ConsumerMessageLength(gmo, cbc, buffer);

    OutputMessage(3, OUTF_NORMAL, "CVLA403I Received reply message of length %d bytes\n",
                  (int)length);

    CSLockLock(&RequestLock);
    REQUEST *req = FindRequest(md->MsgId);
    if (req != nullptr)
        req->busy = 1;
    CSUnlockLock(&RequestLock);

    if (req == nullptr) {
        char hex[MSGID_HEX_SIZE];
        OutputMessage(0, OUTF_NORMAL, "CVLA302E Unrecognised reply received MsgId: %s\n",
                      FormatMsgIdHex(hex, md->MsgId));
        return;
    }

    req->replyCount++;
    req->replyBytes += length;
    req->lastActivity = now;
    CountReply(length);

    if (req->replyHandler != nullptr) {
        req->replyHandler(req, buffer, length);
        return;
    }

    /* Compression and the merge into the pending message are one walk. */
    MQLONG putRc = MQRC_NONE;
    int complete = FlagIsSet(FLAG_COMPRESS)
                       ? CompressConsolidateReply(req, md, buffer, length, 1, &putRc)
                       : ConsolidateReply(req, md, buffer, length, 1, &putRc);
    if (complete) {
        RemoveRequest(req);
        return;
    }
    CSLockLock(&RequestLock);
    req->busy = 0;
    CSUnlockLock(&RequestLock);
}

int AcceptConsumerCall(const MQCBC *cbc, const char *qName) {
    switch (cbc->CallType) {
        case MQCBCT_MSG_REMOVED:
            return 1;
        case MQCBCT_EVENT_CALL:
            if (cbc->Reason == MQRC_NONE)
                return 0;
            if (cbc->Reason == MQRC_GET_INHIBITED) {
                OutputMessage(0, OUTF_NORMAL, "CVLA120E Queue '%s' has been GET(INHIBITED)\n",
                              qName);
                SetStopFlag();
                return 0;
            }
            if (!SetStopFlagFirst())
                return 0;
            OutputMessage(0, OUTF_NORMAL, "CVLA199E TORVIK received reason code %d (%s)\n",
                          (int)cbc->Reason, ReasonText(cbc->Reason));
            return 0;
        default:
            OutputMessage(0, OUTF_NORMAL, "Calltype = %d\n", (int)cbc->CallType);
            return 0;
    }
}

MQLONG ConsumerMessageLength(const MQGMO *gmo, const MQCBC *cbc, const MQBYTE *buffer) {
    MQLONG length = gmo != nullptr ? gmo->ReturnedLength : MQRL_UNDEFINED;
    if (length == MQRL_UNDEFINED)
        length = cbc->DataLength;
    /* Never trust a length beyond the bytes actually delivered (a library
     * that leaves BufferLength 0 delivers the whole message). */
    if (cbc->BufferLength > 0 && length > cbc->BufferLength)
        length = cbc->BufferLength;
    if (length < 0 || buffer == nullptr)
        length = 0;
    return length;
}

void MQENTRY ReplyConsumer(MQHCONN hConn, PMQMD md, PMQGMO gmo, PMQVOID buffer, PMQCBC cbc) {
    OnReplyMessage(hConn, md, gmo, (MQBYTE *)buffer, cbc);
}
