/* hobjcache.h -- the cache of open reply-queue handles.
 *
 * Owns: the HOBJCACHE list (newest first), CacheLock, LastHandleCheck.
 * Threads: lookups and closing on the queue manager's consumer thread, the
 * expiry check on the main thread; the list changes only under CacheLock.
 * MQOPEN, MQINQ and MQCLOSE are called outside the lock.
 */
#pragma once

#include <atomic>
#include <cstdint>

#include "log/cs.h"
#include "mqconst/mqi.h"

struct HOBJCACHE {                       /* one open reply-queue handle */
    HOBJCACHE *next;                     /* newest first; under CacheLock */
    char qmgrName[MQ_Q_MGR_NAME_LENGTH]; /* 48 bytes as MQOPEN returned it, no NUL */
    char qName[MQ_Q_NAME_LENGTH];        /* 48 bytes as MQOPEN returned it, no NUL */
    MQLONG options;                      /* the caller's options (MQOO_INQUIRE not added) */
    MQHOBJ hObj;                         /* on the main connection */
    int64_t lastUsed;                    /* seconds; creation and every hit */
    MQLONG maxMsgLen;                    /* maxmsgsize, or the queue's MAXMSGL when inquired */
    MQLONG defType;                      /* 0 not inquired, else MQQDT_* */
    MQLONG reported;                     /* 1 once CVLA304I was written for it */
};

extern CSLOCK CacheLock;
extern std::atomic<int64_t> LastHandleCheck; /* seconds; time of the last CheckHandleCache */

/* The cached handle for qName on qmgrName (each up to 48 characters, blank
 * or zero padded, or zero-terminated shorter) opened with options; opened
 * and cached on a miss (MQOO_INQUIRE added for a queue of the agent's own
 * queue manager when replyqinq is on, dropped again on 2045 or 2035).
 * Returns the record (owned by the cache: valid until CheckHandleCache(1)
 * closes it on the consumer thread), or null after CVLA104E or, when memory
 * is exhausted, CVLA202E and the stop flag. Consumer thread. */
HOBJCACHE *GetReplyQueueHandle(const char *qName, const char *qmgrName, MQLONG options);

/* GetReplyQueueHandle that also gives the reason of a failure in *reason
 * (0 with a record; the failed MQOPEN's reason, or 2071 for memory). */
HOBJCACHE *FindReplyQueueHandle(const char *qName, const char *qmgrName, MQLONG options,
                                MQLONG *reason);

/* Look for records unused for more than hobjttl seconds. closeFlag 1
 * (consumer thread, CHECKHOBJ): unlink and close them. closeFlag 0 (main
 * thread): if any has expired, have CHECKHOBJ sent from another thread
 * (QueueSimpleCommand).
 * Sets LastHandleCheck. */
void CheckHandleCache(int closeFlag);
/* The same with the time given (tests). */
void CheckHandleCacheAt(int closeFlag, int64_t now);

/* MQCLOSE and free every record of a private list (CVLA111I / CVLA109E). */
void CloseCachedHandles(HOBJCACHE *list);

/* Display name of a queue for messages: "QMGR/QUEUE", or "QUEUE" when the
 * queue manager name is empty; each name up to 48 characters without
 * trailing blanks and zero bytes. buf holds at least MQ_DISPLAY_NAME_SIZE
 * bytes. Returns buf. */
constexpr int MQ_DISPLAY_NAME_SIZE = MQ_Q_MGR_NAME_LENGTH + 1 + MQ_Q_NAME_LENGTH + 1;
const char *QueueDisplayName(char *buf, const char *qName, const char *qmgrName);

/* Tests and shutdown: unlink every record without closing it (the handles
 * die with their connection) and free them. */
void ForgetCachedHandles(void);
