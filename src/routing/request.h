/* request.h -- the REQUEST record and the request table: every request
 * forwarded to the command server that still awaits replies, its ageing and
 * the No-response reply of an aged request.
 *
 * Owns: the request table (a list in arrival order and an index by
 * forwarded MsgId), RequestCount, LastAgeingPass, RequestLock.
 * Threads: the links and the count change under RequestLock; the other
 * fields of a request change on the consumer thread, or on the worker thread
 * that a reply handler has handed the request to (busy stays 1 meanwhile).
 * The main loop reads RequestCount without the lock.
 */
#pragma once

#include <atomic>
#include <cstdint>

#include "log/cs.h"
#include "mqconst/mqi.h"

/* Request types, from the request's MQMD Format. */
enum { REQTYPE_NONE = 0, REQTYPE_MQSC = 1, REQTYPE_ESCAPE = 2, REQTYPE_PCF = 3 };

struct REQUEST;

/* Reply handler of an internal request: gets every reply (and the
 * No-response reply of ageing) instead of a requester. msg is borrowed for
 * the call. The handler owns the request from then on: its busy flag, its
 * completion and its removal. */
typedef void REPLYHANDLER(REQUEST *req, MQBYTE *msg, MQLONG length);

/* Release hook of a request's handler data (handlerContext, cmdData):
 * called by FreeRequest, however the request ends. */
typedef void RELEASEHANDLER(REQUEST *req);

struct REQUEST {
    REQUEST *next;        /* next newer in the table (or next of a list of aged requests); under
                             RequestLock */
    REQUEST *prev;        /* next older in the table; under RequestLock */
    REQUEST *hashNext;    /* next in its bucket of the MsgId index; under RequestLock */
    int64_t lastActivity; /* creation, then each reply received (seconds) */
    int64_t created;      /* arrival time, shown by CVLA303E */
    MQLONG busy;          /* 1 while a consumer call or a worker uses it */
    MQLONG complete;      /* 1 once the last reply has been sent */
    char replyQName[MQ_Q_NAME_LENGTH + 1];        /* requester's ReplyToQ, zero-terminated,
                                                     empty for internal requests */
    char replyQMgrName[MQ_Q_MGR_NAME_LENGTH + 1]; /* requester's ReplyToQMgr, zero-terminated */
    MQBYTE forwardedMsgId[MQ_MSG_ID_LENGTH];      /* MsgId of the forwarded message: the
                                                     replies carry it */
    MQLONG report;                                /* requester's MQMD Report */
    MQBYTE msgId[MQ_MSG_ID_LENGTH];               /* requester's MsgId */
    MQBYTE correlId[MQ_CORREL_ID_LENGTH];         /* requester's CorrelId */
    MQBYTE *pending;                        /* reply being consolidated, owned; null at first */
    MQLONG pendingLength;                   /* bytes used in pending */
    MQLONG pendingCapacity;                 /* bytes allocated for pending */
    MQLONG maxMsgSize;                      /* consolidation limit: maxmsgsize, or the reply queue's
                                               MaxMsgLen when smaller */
    MQLONG command;                         /* MQCFH Command of the request */
    MQLONG requestType;                     /* REQTYPE_* */
    MQLONG replyCount;                      /* replies received from the command server */
    MQLONG replyBytes;                      /* their total length as received */
    REPLYHANDLER *replyHandler;             /* internal requests only, else null */
    void *handlerContext;                   /* data of the reply handler */
    RELEASEHANDLER *releaseHandler;         /* frees handlerContext and cmdData, or null */
    void *cmdData[3];                       /* DISPLAY CERT only: filter, its variables, the
                                               certificate being evaluated */
    MQLONG pendingMergeable;                /* 1 when pending is a well-formed PCF message (its
                                               structures fill it exactly): replies may be merged */
    MQCHAR pendingFormat[MQ_FORMAT_LENGTH]; /* Format of the reply pending was made from;
                                               it is sent in that format, and only
                                               replies of its kind are merged into it */
};

extern CSLOCK RequestLock;                  /* guards the table links and RequestCount */
extern std::atomic<MQLONG> RequestCount;    /* requests in the table */
extern std::atomic<int64_t> LastAgeingPass; /* time of the last AgeRequests (seconds) */

/* ---- request_table.cpp -- records and the table --------------------------- */

/* A new zeroed request for command, with lastActivity and created set to the
 * refreshed current time and maxMsgSize to maxmsgsize; not yet in the table.
 * Null when it cannot be allocated: CVLA202E is written and the stop flag
 * set. The caller owns the record until AddRequest (or FreeRequest). */
REQUEST *NewRequest(MQLONG command);

/* Record msgId (24 bytes) as the forwarded MsgId and put req at the newest
 * end of the table and into its MsgId index. Takes RequestLock. Constant
 * time (the index doubles now and then; a failed doubling only makes the
 * buckets longer). */
void AddRequest(REQUEST *req, const MQBYTE *msgId);

/* The newest request in the table whose forwarded MsgId equals the 24 bytes
 * at msgId, or null. The caller holds RequestLock. Constant time. */
REQUEST *FindRequest(const MQBYTE *msgId);

/* Unlink req from the table (if it is there) and free it with its pending
 * reply and its handler data (releaseHandler). Takes RequestLock. Constant
 * time. */
void RemoveRequest(REQUEST *req);

/* Free a request that is not in the table, with its pending reply and its
 * handler data (releaseHandler). Null is accepted. */
void FreeRequest(REQUEST *req);

/* The ageing pass. A request is expired when now - lastActivity > maxage and
 * it is not busy. giveUp 0 (main thread): only detect, and if anything is
 * expired queue one worker call sending CHECKREPL. giveUp 1 (consumer
 * thread, on CHECKREPL): unlink the expired requests and ExpireRequests them
 * outside the lock. Sets LastAgeingPass. */
void AgeRequests(int giveUp);

/* Answer and drop each request of a list already taken out of the table:
 * with a requester, CVLA303E and the No-response reply put to it, then the
 * record is freed; with a reply handler, the No-response reply goes to the
 * handler, which decides what becomes of the request. */
void ExpireRequests(REQUEST *list);

/* Build the No-response reply of req (a 104-byte PCF failure reply carrying
 * "CVLA501E No response from IBM MQ Command Server") and set md's MsgType,
 * Format, Encoding, CodedCharSetId, Priority, Persistence, Expiry and Report
 * for it. On 0 *msg is a block from CSGetMem that the caller frees and
 * *length its length (after RenderReplyForRequester). On failure *msg is null:
 * 2071 when no memory (CVLA201E written, stop flag set). */
MQLONG BuildNoResponseReply(REQUEST *req, MQMD *md, MQBYTE **msg, MQLONG *length);

/* Clear the table, freeing every request (tests and shutdown). */
void ClearRequests(void);

/* At the end of the agent, once consumption has stopped: write
 * "CVLA305E Dropping request for ReplyQ '%s' issued at %.8s MsgId: %s"
 * (level 0) for each request of a requester still waiting for replies, so
 * that no request goes unreported. The table is left as it is (a worker
 * may still hold a certificate request). Returns the number written. */
int ReportDroppedRequests(void);

/* A 24-byte message identifier as 48 upper-case hexadecimal digits and a
 * zero into out (MSGID_HEX_SIZE bytes). Returns out. */
constexpr int MSGID_HEX_SIZE = 2 * MQ_MSG_ID_LENGTH + 1;
const char *FormatMsgIdHex(char *out, const MQBYTE *msgId);

/* ---- request_hooks.cpp -- replies in the requester's form --------------- */

/* Put the reply in *msg (a CSGetMem block of *length bytes, owned by the
 * caller) into the form the requester used: for REQTYPE_MQSC and
 * REQTYPE_ESCAPE the registered renderer (SetReplyRenderer) makes MQSC
 * text, *msg / *length are replaced (the old block freed) and md->Format
 * becomes MQFMT_STRING for MQSC text (escape responses stay MQFMT_ADMIN).
 * Without a renderer, for other types, or when rendering fails, the reply
 * stays PCF, so the requester always gets an answer. Returns 0. */
MQLONG RenderReplyForRequester(REQUEST *req, MQMD *md, MQBYTE **msg, MQLONG *length);
