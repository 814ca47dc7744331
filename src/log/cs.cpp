/* cs.cpp -- common services: recursive locks, the global lock, memory and
 * the internal trap.
 *
 * Owns: GlobalLock, the allocation counters and failure injection, the trap
 * hook.
 * Threads: any. A lock's owner and count change only in the thread that
 * holds its mutex.
 */
#include "log/cs.h"

#include <cstdio>
#include <cstdlib>

static CSLOCK GlobalLock;
static std::atomic<long> BlocksInUse{0};
static std::atomic<long> FailAfter{-1}; /* allocations left before failures; -1: never */
static std::atomic<CSTRAPHOOK> TrapHook{nullptr};

static PLMUTEX LockMutex(CSLOCK *lock);

/* The lock's mutex, made on first use. Two threads that race to make it
 * agree on one; the loser's is destroyed. Null when none can be made. */
static PLMUTEX LockMutex(CSLOCK *lock) {
    PLMUTEX m = lock->mutex.load(std::memory_order_acquire);
    if (m != nullptr)
        return m;
    PLMUTEX made = PLCreateMutex();
    if (made == nullptr)
        return nullptr;
    PLMUTEX expected = nullptr;
    if (lock->mutex.compare_exchange_strong(expected, made, std::memory_order_acq_rel)) {
        lock->unusable.store(0, std::memory_order_relaxed);
        return made;
    }
    PLDestroyMutex(made);
    return expected;
}

int CSLockIt(CSLOCK *lock, uint32_t timeoutMs) {
    PLMUTEX m = LockMutex(lock);
    if (m == nullptr) {
        lock->unusable.store(1, std::memory_order_relaxed);
        return CS_WAIT_OK;
    }
    uint32_t me = PLCurrentThreadId();
    /* Only this thread can have stored its own id, so a relaxed read is
     * enough to recognise a recursive take. */
    if (lock->owner.load(std::memory_order_relaxed) == me && lock->count != 0) {
        lock->count++;
        return CS_WAIT_OK;
    }
    int rc = PLLockMutex(m, timeoutMs);
    if (rc != PL_WAIT_OK)
        return CS_WAIT_TIMEOUT;
    lock->owner.store(me, std::memory_order_relaxed);
    lock->count = 1;
    return CS_WAIT_OK;
}

void CSLockLock(CSLOCK *lock) {
    CSLockIt(lock, CS_INFINITE);
}

void CSUnlockLock(CSLOCK *lock) {
    PLMUTEX m = lock->mutex.load(std::memory_order_acquire);
    if (m == nullptr && lock->unusable.load(std::memory_order_relaxed))
        return; /* the lock is not used */
    uint32_t me = PLCurrentThreadId();
    if (m == nullptr || lock->owner.load(std::memory_order_relaxed) != me || lock->count == 0) {
        /* Released by a thread that does not hold it. The count is read
         * only for the trap record. */
        uint32_t count = lock->owner.load(std::memory_order_relaxed) == me ? lock->count : 0;
        CSTrap(CS_TRAP_UNLOCK_NOT_OWNER, static_cast<int>(count));
        return;
    }
    if (--lock->count == 0) {
        lock->owner.store(0, std::memory_order_relaxed);
        PLUnlockMutex(m);
    }
}

int CSLockHeld(const CSLOCK *lock) {
    return lock->owner.load(std::memory_order_relaxed) == PLCurrentThreadId() && lock->count != 0;
}

void CSLockGlobal(void) {
    if (CSLockIt(&GlobalLock, 2000) != CS_WAIT_OK)
        CSLockIt(&GlobalLock, CS_INFINITE);
}

void CSUnlockIt(void) {
    CSUnlockLock(&GlobalLock);
}

void *CSGetMem(size_t size) {
    CSLockGlobal();
    void *block = nullptr;
    long left = FailAfter.load(std::memory_order_relaxed);
    if (left != 0) {
        if (left > 0)
            FailAfter.store(left - 1, std::memory_order_relaxed);
        block = malloc(size != 0 ? size : 1);
        if (block != nullptr)
            BlocksInUse.fetch_add(1, std::memory_order_relaxed);
    }
    CSUnlockIt();
    return block;
}

void CSFreeMem(void *block) {
    if (block == nullptr)
        return;
    CSLockGlobal();
    free(block);
    BlocksInUse.fetch_sub(1, std::memory_order_relaxed);
    CSUnlockIt();
}

long CSMemBlocksInUse(void) {
    return BlocksInUse.load(std::memory_order_relaxed);
}

void CSSetMemFailAfter(long successes) {
    FailAfter.store(successes < 0 ? -1 : successes, std::memory_order_relaxed);
}

void CSTrap(int number, int value) {
    CSTRAPHOOK hook = TrapHook.load(std::memory_order_acquire);
    if (hook != nullptr) {
        hook(number, value);
        return;
    }
    int err = 0;
    FILE *f = PLOpenFile(PL_TRAP_FILE, "w", &err);
    if (f != nullptr) {
        fprintf(f, "cstrap line %d file %s (%s) value %d\n", number, "cs", __DATE__ " " __TIME__,
                value);
        fclose(f);
    }
    PLBreakpoint();
}

CSTRAPHOOK CSSetTrapHook(CSTRAPHOOK hook) {
    return TrapHook.exchange(hook, std::memory_order_acq_rel);
}
