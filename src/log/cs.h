/* cs.h -- common services: the recursive lock, the global lock, memory and
 * the internal trap.
 *
 * Owns: the global lock (a CSLOCK), the allocation counters, the trap hook.
 * Threads: every procedure may be called from any thread.
 *
 * Every lock of TORVIK (LogLock, RequestLock, CacheLock, SecondaryLock, the
 * worker lock and the global lock) is a CSLOCK: an owner thread identifier, a recursion count
 * and a system mutex made on first use. The owner may take it again without
 * waiting and must release it as often as it took it. Declare one as
 *     CSLOCK RequestLock;            (zero-initialised: free, no mutex yet)
 * and use CSLockLock / CSUnlockLock, or CSLockIt for a bounded wait.
 */
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

struct CSLOCK {
    std::atomic<PLMUTEX> mutex{nullptr}; /* made by the first CSLockIt */
    std::atomic<uint32_t> owner{0};      /* thread that holds it; 0 when free */
    uint32_t count = 0;                  /* times the owner took it; owner only */
    std::atomic<int> unusable{0};        /* 1: no mutex could be made, lock is a no-op */
};

constexpr uint32_t CS_INFINITE = PL_INFINITE;
constexpr int CS_WAIT_OK = PL_WAIT_OK;           /* 0: the caller holds the lock */
constexpr int CS_WAIT_TIMEOUT = PL_WAIT_TIMEOUT; /* 258: held by another thread */

/* Trap numbers (programming errors, never input conditions). */
constexpr int CS_TRAP_UNLOCK_NOT_OWNER = 618; /* value: the lock's count */

/* ---- Locks -------------------------------------------------------------- */

/* Take lock, waiting at most timeoutMs (CS_INFINITE: no limit). Returns
 * CS_WAIT_OK when the calling thread holds it afterwards (the count grows by
 * one for a thread that already held it), CS_WAIT_TIMEOUT otherwise (owner
 * and count unchanged). When no system mutex can be made the lock is not
 * used: the call returns CS_WAIT_OK without excluding anyone. */
int CSLockIt(CSLOCK *lock, uint32_t timeoutMs);

/* Take lock without a time limit. */
void CSLockLock(CSLOCK *lock);

/* Release lock once; the mutex is freed when the count reaches 0. A thread
 * that does not hold the lock springs the trap CS_TRAP_UNLOCK_NOT_OWNER. */
void CSUnlockLock(CSLOCK *lock);

/* 1 when the calling thread holds lock (asserts and tests). */
int CSLockHeld(const CSLOCK *lock);

/* Take the global lock: a wait of 2,000 ms, then, if that timed out, a wait
 * without limit; the caller always ends up holding it. */
void CSLockGlobal(void);
/* Release the global lock once. */
void CSUnlockIt(void);

/* ---- Memory ------------------------------------------------------------- */

/* A block of at least size bytes (size 0 gives a valid block), or null when
 * memory is exhausted. The caller owns it and returns it with CSFreeMem.
 * Serialised by the global lock. */
void *CSGetMem(size_t size);
/* Return a block from CSGetMem. Null is accepted. */
void CSFreeMem(void *block);

/* Blocks currently handed out by CSGetMem and not yet returned (tests). */
long CSMemBlocksInUse(void);

/* Tests: make the allocation after the next `successes` allocations fail,
 * and every one after it until called again; -1 turns failures off. */
void CSSetMemFailAfter(long successes);

/* ---- Trap --------------------------------------------------------------- */

/* Record an internal-consistency failure and stop: write "cstrap line %d
 * file %s (%s) value %d" with number, module "cs", the build stamp and value
 * to PL_TRAP_FILE, then raise a breakpoint (which ends the process unless a
 * debugger is attached). With a trap hook installed, only the hook runs and
 * the call returns. */
void CSTrap(int number, int value);

/* Tests: install a hook that replaces the file and breakpoint of CSTrap.
 * Returns the previous hook; null restores the real trap. */
typedef void (*CSTRAPHOOK)(int number, int value);
CSTRAPHOOK CSSetTrapHook(CSTRAPHOOK hook);
