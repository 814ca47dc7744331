/* hobjcache.cpp -- the cache of open reply-queue handles, keyed by queue
 * manager, queue and open options, with expiry after hobjttl seconds
 * unused.
 *
 * Owns: the HOBJCACHE list (newest first), CacheLock, LastHandleCheck.
 * Threads: lookups, opens and closes on the consumer thread; the expiry
 * check (close flag 0) on the main thread. The list changes only under
 * CacheLock; MQOPEN, MQINQ and MQCLOSE are called outside it. Two threads
 * that miss on the same key at once both open the queue; both records are
 * kept and the later one is found first.
 */
#include "mq/hobjcache.h"

#include <cstdio>
#include <cstring>

#include "config/settings.h"
#include "log/runstate.h"
#include "log/output.h"
#include "mq/connect.h"
#include "mq/mqload.h"
#include "mq/queues.h"
#include "mqconst/mqconst.h"

CSLOCK CacheLock;
std::atomic<int64_t> LastHandleCheck{0};

static HOBJCACHE *CacheList = nullptr; /* under CacheLock */

static size_t TrimmedNameLength(const char *name, size_t size);
static void NormaliseName(char *field, size_t size, const char *name);
static int SameName(const char *a, const char *b, size_t size);

/* ---- Names -------------------------------------------------------------- */

/* Length of a name of at most size characters without trailing blanks and
 * zero bytes (it may be zero-terminated earlier). */
static size_t TrimmedNameLength(const char *name, size_t size) {
    size_t len = strnlen(name, size);
    while (len > 0 && name[len - 1] == ' ')
        len--;
    return len;
}

/* A name into a fixed field: trailing blanks dropped, zero-padded. */
static void NormaliseName(char *field, size_t size, const char *name) {
    size_t len = TrimmedNameLength(name, size);
    memcpy(field, name, len);
    memset(field + len, 0, size - len);
}

/* Equal over size characters, trailing blanks and zero bytes ignored. */
static int SameName(const char *a, const char *b, size_t size) {
    size_t lenA = TrimmedNameLength(a, size);
    size_t lenB = TrimmedNameLength(b, size);
    return lenA == lenB && memcmp(a, b, lenA) == 0;
}

const char *QueueDisplayName(char *buf, const char *qName, const char *qmgrName) {
    int qLen = static_cast<int>(TrimmedNameLength(qName, MQ_Q_NAME_LENGTH));
    int qmLen = qmgrName == nullptr
                    ? 0
                    : static_cast<int>(TrimmedNameLength(qmgrName, MQ_Q_MGR_NAME_LENGTH));
    if (qmLen > 0)
        snprintf(buf, MQ_DISPLAY_NAME_SIZE, "%.*s/%.*s", qmLen, qmgrName, qLen, qName);
    else
        snprintf(buf, MQ_DISPLAY_NAME_SIZE, "%.*s", qLen, qName);
    return buf;
}

/* ---- Look-up and open --------------------------------------------------- */

HOBJCACHE *GetReplyQueueHandle(const char *qName, const char *qmgrName, MQLONG options) {
    MQLONG reason = MQRC_NONE;
    return FindReplyQueueHandle(qName, qmgrName, options, &reason);
}

HOBJCACHE *FindReplyQueueHandle(const char *qName, const char *qmgrName, MQLONG options,
                                MQLONG *reason) {
    if (qmgrName == nullptr)
        qmgrName = "";
    int64_t now = RefreshCurrentTime();
    *reason = MQRC_NONE;

    CSLockLock(&CacheLock);
    for (HOBJCACHE *entry = CacheList; entry != nullptr; entry = entry->next) {
        if (entry->options == options && SameName(entry->qName, qName, MQ_Q_NAME_LENGTH) &&
            SameName(entry->qmgrName, qmgrName, MQ_Q_MGR_NAME_LENGTH)) {
            entry->lastUsed = now;
            CSUnlockLock(&CacheLock);
            return entry;
        }
    }
    CSUnlockLock(&CacheLock);

    char display[MQ_DISPLAY_NAME_SIZE];
    QueueDisplayName(display, qName, qmgrName);

    MQLONG openOptions = options;
    int inquire = 0;
    if (FlagIsSet(FLAG_REPLYQINQ) && SameName(qmgrName, Settings.qmgrName, MQ_Q_MGR_NAME_LENGTH)) {
        openOptions |= MQOO_INQUIRE;
        inquire = 1;
    }

    MQOD od = MQOD_DEFAULT;
    NormaliseName(od.ObjectName, sizeof od.ObjectName, qName);
    NormaliseName(od.ObjectQMgrName, sizeof od.ObjectQMgrName, qmgrName);
    MQHOBJ hObj = MQHO_UNUSABLE_HOBJ;
    MQLONG compCode = MQCC_OK;
    MQEntryPoints.MQOPEN(HConnMain.load(), &od, openOptions, &hObj, &compCode, reason);
    if (compCode == MQCC_FAILED && inquire &&
        (*reason == MQRC_OPTION_NOT_VALID_FOR_TYPE || *reason == MQRC_NOT_AUTHORIZED)) {
        /* A remote or alias queue cannot be inquired, and the requester
         * may lack inquire authority: open it for output only. */
        openOptions = options;
        inquire = 0;
        NormaliseName(od.ObjectName, sizeof od.ObjectName, qName);
        NormaliseName(od.ObjectQMgrName, sizeof od.ObjectQMgrName, qmgrName);
        hObj = MQHO_UNUSABLE_HOBJ;
        MQEntryPoints.MQOPEN(HConnMain.load(), &od, openOptions, &hObj, &compCode, reason);
    }
    if (compCode == MQCC_FAILED) {
        OutputMessage(0, OUTF_NORMAL, "CVLA104E MQOPEN of queue '%s' failed with reason %d (%s)\n",
                      display, *reason, ReasonText(*reason));
        return nullptr;
    }

    HOBJCACHE *entry = static_cast<HOBJCACHE *>(CSGetMem(sizeof(HOBJCACHE)));
    if (entry == nullptr) {
        OutputMessage(0, OUTF_NORMAL, "CVLA202E Can not allocate %d bytes for a '%s' structure\n",
                      static_cast<int>(sizeof(HOBJCACHE)), "HOBJCACHE");
        SetStopFlag();
        MQLONG closeCode = MQCC_OK, closeReason = MQRC_NONE;
        MQEntryPoints.MQCLOSE(HConnMain.load(), &hObj, MQCO_NONE, &closeCode, &closeReason);
        *reason = MQRC_STORAGE_NOT_AVAILABLE;
        return nullptr;
    }
    /* The key is kept as the caller gave it, so that the next reply to the
     * same queue finds this record whatever names MQOPEN wrote back. */
    entry->next = nullptr;
    NormaliseName(entry->qmgrName, sizeof entry->qmgrName, qmgrName);
    NormaliseName(entry->qName, sizeof entry->qName, qName);
    entry->options = options;
    entry->hObj = hObj;
    entry->lastUsed = now;
    entry->maxMsgLen = Settings.maxMsgSize;
    entry->defType = 0;
    entry->reported = 0;

    if (inquire) {
        MQLONG selectors[2] = {MQIA_MAX_MSG_LENGTH, MQIA_DEFINITION_TYPE};
        MQLONG values[2] = {0, 0};
        MQLONG inqReason = MQRC_NONE;
        MQEntryPoints.MQINQ(HConnMain.load(), hObj, 2, selectors, 2, values, 0, nullptr, &compCode,
                            &inqReason);
        if (compCode == MQCC_FAILED) {
            OutputMessage(0, OUTF_NORMAL,
                          "CVLA110E MQINQ of reply queue '%s' failed with reason %d (%s)\n",
                          display, inqReason, ReasonText(inqReason));
        } else {
            entry->maxMsgLen = values[0];
            entry->defType = values[1];
        }
    }

    CSLockLock(&CacheLock);
    entry->next = CacheList;
    CacheList = entry;
    CSUnlockLock(&CacheLock);
    return entry;
}

/* ---- Expiry ------------------------------------------------------------- */

void CheckHandleCache(int closeFlag) {
    CheckHandleCacheAt(closeFlag, RefreshCurrentTime());
}

void CheckHandleCacheAt(int closeFlag, int64_t now) {
    HOBJCACHE *expired = nullptr;
    int found = 0;
    int64_t ttl = Settings.hobjTtl;

    CSLockLock(&CacheLock);
    HOBJCACHE **link = &CacheList;
    while (*link != nullptr) {
        HOBJCACHE *entry = *link;
        if (now - entry->lastUsed > ttl) {
            found = 1;
            if (closeFlag) {
                *link = entry->next;
                entry->next = expired;
                expired = entry;
                continue;
            }
        }
        link = &entry->next;
    }
    CSUnlockLock(&CacheLock);
    LastHandleCheck.store(now, std::memory_order_relaxed);

    if (!found)
        return;
    if (closeFlag) {
        CloseCachedHandles(expired);
    } else {
        /* The handles belong to the consumer thread: ask it to close them.
         * A call that cannot be queued is tried again at the next check. */
        static char checkHobj[] = "CHECKHOBJ";
        QueueSimpleCommand(checkHobj);
    }
}

void CloseCachedHandles(HOBJCACHE *list) {
    while (list != nullptr) {
        HOBJCACHE *entry = list;
        list = entry->next;
        char display[MQ_DISPLAY_NAME_SIZE];
        QueueDisplayName(display, entry->qName, entry->qmgrName);
        MQLONG compCode = MQCC_OK, reason = MQRC_NONE;
        MQEntryPoints.MQCLOSE(HConnMain.load(), &entry->hObj, MQCO_NONE, &compCode, &reason);
        if (compCode == MQCC_FAILED)
            OutputMessage(0, OUTF_NORMAL,
                          "CVLA109E MQCLOSE of queue '%s' failed with reason %d (%s)\n", display,
                          reason, ReasonText(reason));
        else
            OutputMessage(3, OUTF_NORMAL,
                          "CVLA111I MQCLOSE of cached handle to queue '%s' successful\n", display);
        CSFreeMem(entry);
    }
}

void ForgetCachedHandles(void) {
    CSLockLock(&CacheLock);
    HOBJCACHE *list = CacheList;
    CacheList = nullptr;
    CSUnlockLock(&CacheLock);
    while (list != nullptr) {
        HOBJCACHE *entry = list;
        list = entry->next;
        CSFreeMem(entry);
    }
}
