/* hobjcache.h -- the cache of open reply-queue handles, at most hobjmax
 * of them, found through a hash index and closed least recently used first.
 *
 * Owns: the HOBJCACHE list (most recently used first) and its hash index,
 * CacheLock, LastHandleCheck.
 * Threads: lookups and closing on the queue manager's consumer thread, the
 * expiry check on the main thread; the list changes only under CacheLock.
 * MQOPEN, MQINQ and MQCLOSE are called outside the lock.
 */
#pragma once

#include <atomic>
#include <cstdint>

#include "log/cs.h"
#include "mq/mqi.h"

struct HOBJCACHE {                       /* one open reply-queue handle */
    HOBJCACHE *next;                     /* less recently used; under CacheLock */
    HOBJCACHE *prev;                     /* more recently used; under CacheLock */
    HOBJCACHE *hashNext;                 /* same hash bucket; under CacheLock */
    uint32_t hash;                       /* of the key: names and options */
    int32_t holds;                       /* callers using hObj now; under CacheLock */
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
 * Before a new handle is cached beyond hobjmax, and when MQOPEN fails with
 * 2017 (no handle left on the connection), the least recently used idle
 * handles are closed (and 2017 opens again once).
 * Returns the record held for the caller, who gives it back with
 * ReleaseReplyQueueHandle as soon as it is done with hObj; a held record is
 * never closed. Null after CVLA104E or, when memory is exhausted, CVLA202E
 * and the stop flag. Consumer thread (or a worker a request is handed to). */
HOBJCACHE *GetReplyQueueHandle(const char *qName, const char *qmgrName, MQLONG options);

/* GetReplyQueueHandle that also gives the reason of a failure in *reason
 * (0 with a record; the failed MQOPEN's reason, or 2071 for memory). */
HOBJCACHE *FindReplyQueueHandle(const char *qName, const char *qmgrName, MQLONG options,
                                MQLONG *reason);

/* FindReplyQueueHandle without CVLA104E for a failed open: for a look-up
 * ahead of the replies, whose put reports the failure when it happens. */
HOBJCACHE *ProbeReplyQueueHandle(const char *qName, const char *qmgrName, MQLONG options,
                                 MQLONG *reason);

/* Give back a record from the three look-ups above (null is ignored). */
void ReleaseReplyQueueHandle(HOBJCACHE *entry);

/* Number of records cached now (tests and the report). */
int CachedHandleCount(void);

/* Look for idle records unused for more than hobjttl seconds. closeFlag 1
 * (consumer thread, CHECKHOBJ): unlink and close them. closeFlag 0 (main
 * thread): if any has expired, queue a worker call that sends CHECKHOBJ.
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
