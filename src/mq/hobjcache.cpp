/* hobjcache.cpp -- the cache of open reply-queue handles, keyed by queue
 * manager, queue and open options, with expiry after hobjttl seconds
 * unused and a limit of hobjmax handles (a queue manager gives a
 * connection only so many, MAXHANDS, 256 by default): beyond it, and when
 * MQOPEN finds none left (2017), the least recently used idle handles are
 * closed.
 *
 * Owns: the HOBJCACHE list (most recently used first), its hash index,
 * CacheCount, CacheLock, LastHandleCheck.
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

/* Hash buckets: a power of two well above any sensible hobjmax, so that a
 * chain holds about one record. */
static const uint32_t CACHE_BUCKETS = 4096;

static HOBJCACHE *CacheList = nullptr;                   /* MRU first; under CacheLock */
static HOBJCACHE *CacheTail = nullptr;                   /* LRU; under CacheLock */
static HOBJCACHE *CacheIndex[CACHE_BUCKETS] = {nullptr}; /* under CacheLock */
static int CacheCount = 0;                               /* under CacheLock */

static void NormaliseName(char *field, size_t size, const char *name);
static int SameName(const char *a, const char *b, size_t size);
static uint32_t KeyHash(const char *qName, const char *qmgrName, MQLONG options);
static void LinkEntry(HOBJCACHE *entry);
static void UnlinkEntry(HOBJCACHE *entry);
static void MoveToFront(HOBJCACHE *entry);
static int CacheLimit(void);
static int CloseIdleHandles(int keep, int atLeast);
static HOBJCACHE *LookUpHandle(const char *qName, const char *qmgrName, MQLONG options,
                               MQLONG *reason, int report);
static void OpenReplyQueue(MQOD *od, const char *qName, const char *qmgrName, MQLONG options,
                           MQHOBJ *hObj, MQLONG *compCode, MQLONG *reason);

/* ---- Names -------------------------------------------------------------- */

/* A name into a fixed field: trailing blanks dropped, zero-padded. */
static void NormaliseName(char *field, size_t size, const char *name) {
    size_t len = FieldLength(name, size);
    memcpy(field, name, len);
    memset(field + len, 0, size - len);
}

/* Equal over size characters, trailing blanks and zero bytes ignored. */
static int SameName(const char *a, const char *b, size_t size) {
    size_t lenA = FieldLength(a, size);
    size_t lenB = FieldLength(b, size);
    return lenA == lenB && memcmp(a, b, lenA) == 0;
}

/* FNV-1a over the trimmed names and the options. */
static uint32_t KeyHash(const char *qName, const char *qmgrName, MQLONG options) {
    uint32_t h = 2166136261u;
    size_t len = FieldLength(qName, MQ_Q_NAME_LENGTH);
    for (size_t i = 0; i < len; i++)
        h = (h ^ static_cast<unsigned char>(qName[i])) * 16777619u;
    h = (h ^ 0xFFu) * 16777619u; /* separates the two names */
    len = FieldLength(qmgrName, MQ_Q_MGR_NAME_LENGTH);
    for (size_t i = 0; i < len; i++)
        h = (h ^ static_cast<unsigned char>(qmgrName[i])) * 16777619u;
    uint32_t o = static_cast<uint32_t>(options);
    for (int i = 0; i < 4; i++, o >>= 8)
        h = (h ^ (o & 0xFFu)) * 16777619u;
    return h;
}

/* ---- List and index (caller holds CacheLock) ----------------------------- */

/* At the front of the list and of its bucket. */
static void LinkEntry(HOBJCACHE *entry) {
    entry->prev = nullptr;
    entry->next = CacheList;
    if (CacheList != nullptr)
        CacheList->prev = entry;
    CacheList = entry;
    if (CacheTail == nullptr)
        CacheTail = entry;
    HOBJCACHE **bucket = &CacheIndex[entry->hash & (CACHE_BUCKETS - 1)];
    entry->hashNext = *bucket;
    *bucket = entry;
    CacheCount++;
}

static void UnlinkEntry(HOBJCACHE *entry) {
    if (entry->prev != nullptr)
        entry->prev->next = entry->next;
    else
        CacheList = entry->next;
    if (entry->next != nullptr)
        entry->next->prev = entry->prev;
    else
        CacheTail = entry->prev;
    HOBJCACHE **link = &CacheIndex[entry->hash & (CACHE_BUCKETS - 1)];
    while (*link != nullptr && *link != entry)
        link = &(*link)->hashNext;
    if (*link == entry)
        *link = entry->hashNext;
    entry->next = entry->prev = entry->hashNext = nullptr;
    CacheCount--;
}

static void MoveToFront(HOBJCACHE *entry) {
    if (CacheList == entry)
        return;
    entry->prev->next = entry->next;
    if (entry->next != nullptr)
        entry->next->prev = entry->prev;
    else
        CacheTail = entry->prev;
    entry->prev = nullptr;
    entry->next = CacheList;
    CacheList->prev = entry;
    CacheList = entry;
}

/* hobjmax, at least 1. */
static int CacheLimit(void) {
    return Settings.hobjMax < 1 ? 1 : Settings.hobjMax;
}

/* Close least recently used idle handles until at most keep records remain,
 * and at least atLeast of them (when there are so many idle). Returns the
 * number closed. No lock held on entry. */
static int CloseIdleHandles(int keep, int atLeast) {
    HOBJCACHE *victims = nullptr; /* least recently used first */
    HOBJCACHE **end = &victims;
    int closed = 0;
    CSLockLock(&CacheLock);
    HOBJCACHE *entry = CacheTail;
    while (entry != nullptr && (CacheCount > keep || closed < atLeast)) {
        HOBJCACHE *more = entry->prev;
        if (entry->holds == 0) {
            UnlinkEntry(entry);
            *end = entry;
            end = &entry->next;
            closed++;
        }
        entry = more;
    }
    CSUnlockLock(&CacheLock);
    CloseCachedHandles(victims);
    return closed;
}

const char *QueueDisplayName(char *buf, const char *qName, const char *qmgrName) {
    int qLen = static_cast<int>(FieldLength(qName, MQ_Q_NAME_LENGTH));
    int qmLen =
        qmgrName == nullptr ? 0 : static_cast<int>(FieldLength(qmgrName, MQ_Q_MGR_NAME_LENGTH));
    if (qmLen > 0)
        snprintf(buf, MQ_DISPLAY_NAME_SIZE, "%.*s/%.*s", qmLen, qmgrName, qLen, qName);
    else
        snprintf(buf, MQ_DISPLAY_NAME_SIZE, "%.*s", qLen, qName);
    return buf;
}

/* ---- Look-up and open --------------------------------------------------- */

HOBJCACHE *GetReplyQueueHandle(const char *qName, const char *qmgrName, MQLONG options) {
    MQLONG reason = MQRC_NONE;
    return LookUpHandle(qName, qmgrName, options, &reason, 1);
}

HOBJCACHE *FindReplyQueueHandle(const char *qName, const char *qmgrName, MQLONG options,
                                MQLONG *reason) {
    return LookUpHandle(qName, qmgrName, options, reason, 1);
}

HOBJCACHE *ProbeReplyQueueHandle(const char *qName, const char *qmgrName, MQLONG options,
                                 MQLONG *reason) {
    return LookUpHandle(qName, qmgrName, options, reason, 0);
}

void ReleaseReplyQueueHandle(HOBJCACHE *entry) {
    if (entry == nullptr)
        return;
    CSLockLock(&CacheLock);
    if (entry->holds > 0)
        entry->holds--;
    CSUnlockLock(&CacheLock);
}

int CachedHandleCount(void) {
    CSLockLock(&CacheLock);
    int count = CacheCount;
    CSUnlockLock(&CacheLock);
    return count;
}

/* MQOPEN of the reply queue on the main connection. When the connection
 * has no handle left (2017), the least recently used idle handles (a
 * quarter of the cache, at least one) are closed and the open is made once
 * more. */
static void OpenReplyQueue(MQOD *od, const char *qName, const char *qmgrName, MQLONG options,
                           MQHOBJ *hObj, MQLONG *compCode, MQLONG *reason) {
    for (int attempt = 0;; attempt++) {
        NormaliseName(od->ObjectName, sizeof od->ObjectName, qName);
        NormaliseName(od->ObjectQMgrName, sizeof od->ObjectQMgrName, qmgrName);
        *hObj = MQHO_UNUSABLE_HOBJ;
        MQEntryPoints.MQOPEN(HConnMain.load(), od, options, hObj, compCode, reason);
        if (*compCode != MQCC_FAILED || *reason != MQRC_HANDLE_NOT_AVAILABLE || attempt > 0)
            return;
        int count = CachedHandleCount();
        if (CloseIdleHandles(count, count / 4 > 0 ? count / 4 : 1) == 0)
            return;
    }
}

static HOBJCACHE *LookUpHandle(const char *qName, const char *qmgrName, MQLONG options,
                               MQLONG *reason, int report) {
    if (qmgrName == nullptr)
        qmgrName = "";
    int64_t now = RefreshCurrentTime();
    uint32_t hash = KeyHash(qName, qmgrName, options);
    *reason = MQRC_NONE;

    CSLockLock(&CacheLock);
    for (HOBJCACHE *entry = CacheIndex[hash & (CACHE_BUCKETS - 1)]; entry != nullptr;
         entry = entry->hashNext) {
        if (entry->hash == hash && entry->options == options &&
            SameName(entry->qName, qName, MQ_Q_NAME_LENGTH) &&
            SameName(entry->qmgrName, qmgrName, MQ_Q_MGR_NAME_LENGTH)) {
            entry->lastUsed = now;
            entry->holds++;
            MoveToFront(entry);
            CSUnlockLock(&CacheLock);
            return entry;
        }
    }
    CSUnlockLock(&CacheLock);

    /* Room for the new handle within hobjmax. */
    CloseIdleHandles(CacheLimit() - 1, 0);

    char display[MQ_DISPLAY_NAME_SIZE];
    QueueDisplayName(display, qName, qmgrName);

    MQLONG openOptions = options;
    int inquire = 0;
    if (FlagIsSet(FLAG_REPLYQINQ) && SameName(qmgrName, Settings.qmgrName, MQ_Q_MGR_NAME_LENGTH)) {
        openOptions |= MQOO_INQUIRE;
        inquire = 1;
    }

    MQOD od = MQOD_DEFAULT;
    MQHOBJ hObj = MQHO_UNUSABLE_HOBJ;
    MQLONG compCode = MQCC_OK;
    OpenReplyQueue(&od, qName, qmgrName, openOptions, &hObj, &compCode, reason);
    if (compCode == MQCC_FAILED && inquire &&
        (*reason == MQRC_OPTION_NOT_VALID_FOR_TYPE || *reason == MQRC_NOT_AUTHORIZED)) {
        /* A remote or alias queue cannot be inquired, and the requester
         * may lack inquire authority: open it for output only. */
        openOptions = options;
        inquire = 0;
        OpenReplyQueue(&od, qName, qmgrName, openOptions, &hObj, &compCode, reason);
    }
    if (compCode == MQCC_FAILED) {
        if (report)
            OutputMessage(0, OUTF_NORMAL,
                          "CVLA104E MQOPEN of queue '%s' failed with reason %d (%s)\n", display,
                          *reason, ReasonText(*reason));
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
    memset(entry, 0, sizeof *entry);
    NormaliseName(entry->qmgrName, sizeof entry->qmgrName, qmgrName);
    NormaliseName(entry->qName, sizeof entry->qName, qName);
    entry->hash = hash;
    entry->holds = 1;
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
    LinkEntry(entry);
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
    HOBJCACHE *entry = CacheList;
    while (entry != nullptr) {
        HOBJCACHE *older = entry->next;
        if (entry->holds == 0 && now - entry->lastUsed > ttl) {
            found = 1;
            if (!closeFlag)
                break;
            UnlinkEntry(entry);
            entry->next = expired;
            expired = entry;
        }
        entry = older;
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
    CacheTail = nullptr;
    CacheCount = 0;
    memset(CacheIndex, 0, sizeof CacheIndex);
    CSUnlockLock(&CacheLock);
    while (list != nullptr) {
        HOBJCACHE *entry = list;
        list = entry->next;
        CSFreeMem(entry);
    }
}
