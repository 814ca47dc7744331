/* request_table.cpp -- forwarded requests that still await replies, their
 * ageing and the No-response reply of an aged request.
 *
 * Owns: the REQUEST list (newest first), RequestCount, LastAgeingPass,
 * RequestLock.
 * Threads: links and count change under RequestLock. AgeRequests(0) runs
 * on the main thread; everything else on the consumer thread, or on the
 * worker a reply handler hands its request to. The busy flag of a request
 * is read by the ageing pass only under RequestLock, and the consumer sets
 * and clears it under the same lock, so a busy request's other fields are
 * never read by the main thread.
 */
#include "routing/request.h"

#include <cstring>
#include <ctime>

#include "config/settings.h"
#include "core/agent.h"
#include "core/workers.h"
#include "log/output.h"
#include "mq/mqpcf.h"
#include "mq/queues.h"
#include "mqconst/mqconst.h"

CSLOCK RequestLock;
std::atomic<MQLONG> RequestCount{0};
std::atomic<int64_t> LastAgeingPass{0};

static REQUEST *RequestTable = nullptr; /* newest first; under RequestLock */

/* The No-response reply. */
static const char NoResponseText[] = "CVLA501E No response from IBM MQ Command Server";
static const MQLONG NoResponseBufferSize = 1000;
static const MQLONG NoResponseCcsid = 850;

static int CommandIsEvent(MQLONG command);

/* ---- Records and the table -------------------------------------------- */

REQUEST *NewRequest(MQLONG command) {
    REQUEST *req = (REQUEST *)CSGetMem(sizeof(REQUEST));
    if (req == nullptr) {
        OutputMessage(0, OUTF_NORMAL, Settings.logStream,
                      "CVLA202E Can not allocate %d bytes for a '%s' structure\n",
                      (int)sizeof(REQUEST), "REQUEST");
        SetStopFlag();
        return nullptr;
    }
    memset(req, 0, sizeof(REQUEST));
    int64_t now = RefreshCurrentTime();
    req->lastActivity = now;
    req->created = now;
    req->command = command;
    req->maxMsgSize = Settings.maxMsgSize;
    return req;
}

void AddRequest(REQUEST *req, const MQBYTE *msgId) {
    memcpy(req->forwardedMsgId, msgId, MQ_MSG_ID_LENGTH);
    CSLockLock(&RequestLock);
    req->next = RequestTable;
    RequestTable = req;
    RequestCount.fetch_add(1, std::memory_order_relaxed);
    CSUnlockLock(&RequestLock);
}

REQUEST *FindRequest(const MQBYTE *msgId) {
    for (REQUEST *req = RequestTable; req != nullptr; req = req->next) {
        if (memcmp(req->forwardedMsgId, msgId, MQ_MSG_ID_LENGTH) == 0)
            return req;
    }
    return nullptr;
}

void RemoveRequest(REQUEST *req) {
    if (req == nullptr)
        return;
    CSLockLock(&RequestLock);
    for (REQUEST **link = &RequestTable; *link != nullptr; link = &(*link)->next) {
        if (*link == req) {
            *link = req->next;
            RequestCount.fetch_sub(1, std::memory_order_relaxed);
            break;
        }
    }
    CSUnlockLock(&RequestLock);
    FreeRequest(req);
}

void FreeRequest(REQUEST *req) {
    if (req == nullptr)
        return;
    if (req->releaseHandler != nullptr)
        req->releaseHandler(req);
    CSFreeMem(req->pending);
    CSFreeMem(req);
}

void ClearRequests(void) {
    CSLockLock(&RequestLock);
    REQUEST *list = RequestTable;
    RequestTable = nullptr;
    RequestCount.store(0, std::memory_order_relaxed);
    CSUnlockLock(&RequestLock);
    while (list != nullptr) {
        REQUEST *next = list->next;
        FreeRequest(list);
        list = next;
    }
}

/* ---- Ageing ----------------------------------------------------------- */

void AgeRequests(int giveUp) {
    REQUEST *aged = nullptr;
    int expired = 0;

    CSLockLock(&RequestLock);
    int64_t now = CurrentTime.load(std::memory_order_relaxed);
    REQUEST **link = &RequestTable;
    while (*link != nullptr) {
        REQUEST *req = *link;
        if (req->busy == 0 && now - req->lastActivity > (int64_t)Settings.maxAge) {
            expired++;
            if (giveUp) {
                *link = req->next;
                RequestCount.fetch_sub(1, std::memory_order_relaxed);
                req->next = aged;
                aged = req;
                continue;
            }
        }
        link = &req->next;
    }
    LastAgeingPass.store(now, std::memory_order_relaxed);
    CSUnlockLock(&RequestLock);

    if (expired == 0)
        return;
    if (giveUp) {
        ExpireRequests(aged);
        return;
    }
    /* The requests are given up on the consumer thread, which takes the
     * CHECKREPL command from the input queue; a call that cannot be queued
     * is tried again at the next pass. */
    static char checkRepl[] = "CHECKREPL";
    QueueCall(PutSimpleCommandCall, checkRepl);
}

void ExpireRequests(REQUEST *list) {
    while (list != nullptr) {
        REQUEST *req = list;
        list = list->next;
        req->next = nullptr;

        MQMD md = MQMD_DEFAULT;
        MQBYTE *msg = nullptr;
        MQLONG length = 0;

        if (req->replyQName[0] != '\0') {
            struct tm lt;
            char timeText[16] = "00:00:00";
            if (PLLocalTime(req->created, &lt) == 0)
                strftime(timeText, sizeof(timeText), "%H:%M:%S", &lt);
            char hex[MSGID_HEX_SIZE];
            FormatMsgIdHex(hex, req->msgId);
            OutputMessage(0, OUTF_NORMAL, Settings.logStream,
                          "CVLA303E Ageing out request for ReplyQ '%s' issued at %.8s MsgId: %s\n",
                          req->replyQName, timeText, hex);
            if (BuildNoResponseReply(req, &md, &msg, &length) == 0 && msg != nullptr) {
                PutReply(req, &md, msg, length, 0);
                CSFreeMem(msg);
            }
            FreeRequest(req);
        } else if (req->replyHandler != nullptr) {
            /* The handler owns the request from here, as for any reply. */
            if (BuildNoResponseReply(req, &md, &msg, &length) == 0 && msg != nullptr) {
                req->replyHandler(req, msg, length);
                CSFreeMem(msg);
            }
        } else {
            /* Neither a requester nor a handler: nobody is waiting for it. */
            FreeRequest(req);
        }
    }
}

/* ---- The No-response reply -------------------------------------------- */

MQLONG BuildNoResponseReply(REQUEST *req, MQMD *md, MQBYTE **msg, MQLONG *length) {
    *msg = nullptr;
    *length = 0;
    MQBYTE *buffer = (MQBYTE *)CSGetMem((size_t)NoResponseBufferSize);
    if (buffer == nullptr) {
        OutputMessage(0, OUTF_NORMAL, Settings.logStream,
                      "CVLA201E Can not allocate %d bytes for a message! \n",
                      (int)NoResponseBufferSize);
        SetStopFlag();
        return MQRC_STORAGE_NOT_AVAILABLE;
    }

    MQCFH cfh = MQCFH_DEFAULT;
    cfh.Type = CommandIsEvent(req->command) ? MQCFT_EVENT : MQCFT_COMMAND;
    cfh.Command = req->command;
    cfh.MsgSeqNumber = 1;
    cfh.Control = MQCFC_LAST;
    cfh.CompCode = MQCC_FAILED;
    cfh.Reason = MQRCCF_UNEXPECTED_ERROR;
    cfh.ParameterCount = 1;

    MQLONG textLength = (MQLONG)(sizeof(NoResponseText) - 1);
    MQLONG strucLength = (MQCFST_STRUC_LENGTH_FIXED + textLength + 3) & ~3;
    if (strucLength > NoResponseBufferSize - MQCFH_STRUC_LENGTH) {
        OutputMessage(0, OUTF_NORMAL, Settings.logStream, "CVLA405E PCF Message failure %d (%s)\n",
                      (int)MQRC_STORAGE_NOT_AVAILABLE, ReasonText(MQRC_STORAGE_NOT_AVAILABLE));
        CSFreeMem(buffer);
        return MQRC_STORAGE_NOT_AVAILABLE;
    }
    MQLONG cfst[5] = {MQCFT_STRING, strucLength, CVL_ATTR_ERROR_TEXT, NoResponseCcsid, textLength};
    memcpy(buffer, &cfh, sizeof(cfh));
    memcpy(buffer + MQCFH_STRUC_LENGTH, cfst, sizeof(cfst));
    MQBYTE *text = buffer + MQCFH_STRUC_LENGTH + MQCFST_STRUC_LENGTH_FIXED;
    memset(text, 0, (size_t)(strucLength - MQCFST_STRUC_LENGTH_FIXED));
    memcpy(text, NoResponseText, (size_t)textLength);

    md->MsgType = MQMT_REPLY;
    memcpy(md->Format, MQFMT_ADMIN, MQ_FORMAT_LENGTH);
    md->Encoding = MQENC_NATIVE;
    md->CodedCharSetId = MQCCSI_Q_MGR;
    md->Priority = MQPRI_PRIORITY_AS_Q_DEF;
    md->Persistence = MQPER_PERSISTENCE_AS_Q_DEF;
    md->Expiry = MQEI_UNLIMITED;
    md->Report = MQRO_NONE;

    *msg = buffer;
    *length = MQCFH_STRUC_LENGTH + strucLength;
    return RenderReplyAsMqsc(req, md, msg, length);
}

/* ---- Helpers ---------------------------------------------------------- */

/* 1 for the commands whose messages are events (the event message types),
 * whose failure reply is typed MQCFT_EVENT. */
static int CommandIsEvent(MQLONG command) {
    switch (command) {
        case MQCMD_CONFIG_EVENT:
        case MQCMD_Q_MGR_EVENT:
        case MQCMD_PERFM_EVENT:
        case MQCMD_CHANNEL_EVENT:
        case MQCMD_LOGGER_EVENT:
        case MQCMD_COMMAND_EVENT:
            return 1;
        default:
            return 0;
    }
}

const char *FormatMsgIdHex(char *out, const MQBYTE *msgId) {
    static const char digits[] = "0123456789ABCDEF";
    for (int i = 0; i < MQ_MSG_ID_LENGTH; i++) {
        out[2 * i] = digits[msgId[i] >> 4];
        out[2 * i + 1] = digits[msgId[i] & 0xF];
    }
    out[2 * MQ_MSG_ID_LENGTH] = '\0';
    return out;
}
