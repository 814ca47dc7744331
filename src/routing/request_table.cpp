/* request_table.cpp -- forwarded requests that still await replies, their
 * ageing and the No-response reply of an aged request.
 *
 * Owns: the REQUEST list (in arrival order) with its index by forwarded
 * MsgId, RequestCount, LastAgeingPass, RequestLock.
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
#include "log/runstate.h"
#include "log/output.h"
#include "mqconst/mqpcf.h"
#include "mq/queues.h"
#include "mqconst/mqconst.h"
#include "pcf/pcf.h"
#include "routing/routing.h"

CSLOCK RequestLock;
std::atomic<MQLONG> RequestCount{0};
std::atomic<int64_t> LastAgeingPass{0};

/* The table: a doubly linked list in arrival order (the ageing pass walks
 * it oldest first) and an index of chained buckets by forwarded MsgId (the
 * reply consumer's look-up). All under RequestLock. */
static REQUEST *OldestRequest = nullptr;
static REQUEST *NewestRequest = nullptr;

static const MQLONG FirstBucketCount = 256; /* a power of two */
static REQUEST *FirstBuckets[FirstBucketCount];
static REQUEST **Buckets = FirstBuckets; /* FirstBuckets, or a CSGetMem block when grown */
static MQLONG BucketCount = FirstBucketCount;

/* The No-response reply. */
static const char NoResponseText[] = "CVLA501E No response from IBM MQ Command Server";
static const MQLONG NoResponseBufferSize = 1000;
static const MQLONG NoResponseCcsid = 850;

static REQUEST **BucketOf(const MQBYTE *msgId);
static void GrowIndex(void);
static void UnlinkRequest(REQUEST *req);
static void ResetIndex(void);

/* ---- Records and the table -------------------------------------------- */

REQUEST *NewRequest(MQLONG command) {
    REQUEST *req = (REQUEST *)CSGetMem(sizeof(REQUEST));
    if (req == nullptr) {
        OutputMessage(0, OUTF_NORMAL, "CVLA202E Can not allocate %d bytes for a '%s' structure\n",
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
    if (RequestCount.load(std::memory_order_relaxed) >= BucketCount)
        GrowIndex();
    req->next = nullptr;
    req->prev = NewestRequest;
    if (NewestRequest != nullptr)
        NewestRequest->next = req;
    else
        OldestRequest = req;
    NewestRequest = req;
    REQUEST **bucket = BucketOf(msgId);
    req->hashNext = *bucket;
    *bucket = req;
    RequestCount.fetch_add(1, std::memory_order_relaxed);
    CSUnlockLock(&RequestLock);
}

REQUEST *FindRequest(const MQBYTE *msgId) {
    for (REQUEST *req = *BucketOf(msgId); req != nullptr; req = req->hashNext) {
        if (memcmp(req->forwardedMsgId, msgId, MQ_MSG_ID_LENGTH) == 0)
            return req;
    }
    return nullptr;
}

void RemoveRequest(REQUEST *req) {
    if (req == nullptr)
        return;
    CSLockLock(&RequestLock);
    UnlinkRequest(req);
    CSUnlockLock(&RequestLock);
    FreeRequest(req);
}

void FreeRequest(REQUEST *req) {
    if (req == nullptr)
        return;
    if (req->releaseHandler != nullptr)
        req->releaseHandler(req);
    ReleasePending(req);
    CSFreeMem(req);
}

void ClearRequests(void) {
    CSLockLock(&RequestLock);
    REQUEST *list = OldestRequest;
    OldestRequest = NewestRequest = nullptr;
    ResetIndex();
    RequestCount.store(0, std::memory_order_relaxed);
    CSUnlockLock(&RequestLock);
    while (list != nullptr) {
        REQUEST *next = list->next;
        FreeRequest(list);
        list = next;
    }
    FreeSparePending();
}

/* Take req out of its bucket and the arrival list when it is in the table;
 * a request not in the table is left alone. The caller holds RequestLock. */
static void UnlinkRequest(REQUEST *req) {
    REQUEST **link = BucketOf(req->forwardedMsgId);
    while (*link != nullptr && *link != req)
        link = &(*link)->hashNext;
    if (*link == nullptr)
        return;
    *link = req->hashNext;
    req->hashNext = nullptr;
    if (req->prev != nullptr)
        req->prev->next = req->next;
    else
        OldestRequest = req->next;
    if (req->next != nullptr)
        req->next->prev = req->prev;
    else
        NewestRequest = req->prev;
    req->next = req->prev = nullptr;
    RequestCount.fetch_sub(1, std::memory_order_relaxed);
    if (OldestRequest == nullptr)
        ResetIndex(); /* an emptied table gives a grown index back */
}

/* The bucket of a forwarded MsgId. A queue manager's MsgIds share a prefix
 * and differ in their last bytes, so all 24 bytes are mixed. */
static REQUEST **BucketOf(const MQBYTE *msgId) {
    uint64_t words[3];
    memcpy(words, msgId, sizeof words);
    uint64_t h = words[0] * 0x9E3779B97F4A7C15ULL;
    h = (h ^ (h >> 29) ^ words[1]) * 0xBF58476D1CE4E5B9ULL;
    h = (h ^ (h >> 31) ^ words[2]) * 0x94D049BB133111EBULL;
    h ^= h >> 32;
    return &Buckets[h & (uint64_t)(BucketCount - 1)];
}

/* Double the index; on no memory keep the one there is (longer buckets, no
 * loss). The caller holds RequestLock. */
static void GrowIndex(void) {
    if (BucketCount > 0x4000000)
        return;
    MQLONG count = BucketCount * 2;
    REQUEST **grown = (REQUEST **)CSGetMem(sizeof(REQUEST *) * (size_t)count);
    if (grown == nullptr)
        return;
    memset(grown, 0, sizeof(REQUEST *) * (size_t)count);
    REQUEST **old = Buckets;
    Buckets = grown;
    BucketCount = count;
    /* Oldest first, each at its bucket's head: newest first in the bucket,
     * as before. */
    for (REQUEST *req = OldestRequest; req != nullptr; req = req->next) {
        REQUEST **bucket = BucketOf(req->forwardedMsgId);
        req->hashNext = *bucket;
        *bucket = req;
    }
    if (old != FirstBuckets)
        CSFreeMem(old);
}

/* Empty the index and go back to the built-in buckets. The caller holds
 * RequestLock and the list is empty. */
static void ResetIndex(void) {
    if (Buckets != FirstBuckets)
        CSFreeMem(Buckets);
    Buckets = FirstBuckets;
    BucketCount = FirstBucketCount;
    memset(FirstBuckets, 0, sizeof FirstBuckets);
}

/* ---- Ageing ----------------------------------------------------------- */

void AgeRequests(int giveUp) {
    REQUEST *aged = nullptr;
    int expired = 0;

    CSLockLock(&RequestLock);
    int64_t now = CurrentTime.load(std::memory_order_relaxed);
    REQUEST **agedTail = &aged;
    for (REQUEST *req = OldestRequest, *next; req != nullptr; req = next) {
        next = req->next;
        if (req->busy == 0 && now - req->lastActivity > (int64_t)Settings.maxAge) {
            expired++;
            if (giveUp) {
                UnlinkRequest(req);
                *agedTail = req; /* answered oldest first */
                agedTail = &req->next;
            }
        }
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
    QueueSimpleCommand(checkRepl);
}

/* The operator's line for a request of a requester given up: format has
 * the reply queue, the time the request came and its MsgId. */
static void ReportRequest(const REQUEST *req, const char *format) {
    struct tm lt;
    char timeText[16] = "00:00:00";
    if (PLLocalTime(req->created, &lt) == 0)
        strftime(timeText, sizeof(timeText), "%H:%M:%S", &lt);
    char hex[MSGID_HEX_SIZE];
    FormatMsgIdHex(hex, req->msgId);
    OutputMessage(0, OUTF_NORMAL, format, req->replyQName, timeText, hex);
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
            ReportRequest(req,
                          "CVLA303E Ageing out request for ReplyQ '%s' issued at %.8s MsgId: %s\n");
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

int ReportDroppedRequests(void) {
    int dropped = 0;
    CSLockLock(&RequestLock);
    for (const REQUEST *req = OldestRequest; req != nullptr; req = req->next) {
        if (req->replyQName[0] == '\0')
            continue;
        ReportRequest(req, "CVLA305E Dropping request for ReplyQ '%s' issued at %.8s MsgId: %s\n");
        dropped++;
    }
    CSUnlockLock(&RequestLock);
    return dropped;
}

/* ---- The No-response reply -------------------------------------------- */

MQLONG BuildNoResponseReply(REQUEST *req, MQMD *md, MQBYTE **msg, MQLONG *length) {
    *msg = nullptr;
    *length = 0;
    MQBYTE *buffer = (MQBYTE *)CSGetMem((size_t)NoResponseBufferSize);
    if (buffer == nullptr) {
        OutputMessage(0, OUTF_NORMAL, "CVLA201E Can not allocate %d bytes for a message! \n",
                      (int)NoResponseBufferSize);
        SetStopFlag();
        return MQRC_STORAGE_NOT_AVAILABLE;
    }

    MQCFH cfh = MQCFH_DEFAULT;
    cfh.Type = PCFCommandIsEvent(req->command) ? MQCFT_EVENT : MQCFT_COMMAND;
    cfh.Command = req->command;
    cfh.MsgSeqNumber = 1;
    cfh.Control = MQCFC_LAST;
    cfh.CompCode = MQCC_FAILED;
    cfh.Reason = MQRCCF_UNEXPECTED_ERROR;
    cfh.ParameterCount = 1;

    MQLONG textLength = (MQLONG)(sizeof(NoResponseText) - 1);
    MQLONG strucLength = (MQCFST_STRUC_LENGTH_FIXED + textLength + 3) & ~3;
    if (strucLength > NoResponseBufferSize - MQCFH_STRUC_LENGTH) {
        OutputMessage(0, OUTF_NORMAL, "CVLA405E PCF Message failure %d (%s)\n",
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
    return RenderReplyForRequester(req, md, msg, length);
}

/* ---- Helpers ---------------------------------------------------------- */

const char *FormatMsgIdHex(char *out, const MQBYTE *msgId) {
    static const char digits[] = "0123456789ABCDEF";
    for (int i = 0; i < MQ_MSG_ID_LENGTH; i++) {
        out[2 * i] = digits[msgId[i] >> 4];
        out[2 * i + 1] = digits[msgId[i] & 0xF];
    }
    out[2 * MQ_MSG_ID_LENGTH] = '\0';
    return out;
}
