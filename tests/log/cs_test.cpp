/* cs_test.cpp -- the recursive lock, the global lock, memory and the trap. */
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "log/cs.h"

namespace {

std::atomic<int> TrapNumber{0};
std::atomic<int> TrapValue{-1};
void RecordTrap(int number, int value) {
    TrapNumber.store(number);
    TrapValue.store(value);
}

/* A thread that takes a lock, reports it, and releases it when told. */
struct Holder {
    CSLOCK *lock;
    PLEVENT taken = PLCreateEvent();
    PLEVENT release = PLCreateEvent();
    std::thread thread;
    void Start() {
        thread = std::thread([this] {
            CSLockLock(lock);
            PLSignalEvent(taken);
            PLWaitEvent(release, PL_INFINITE);
            CSUnlockLock(lock);
        });
        PLWaitEvent(taken, 20000);
    }
    void Finish() {
        PLSignalEvent(release);
        thread.join();
        PLDestroyEvent(taken);
        PLDestroyEvent(release);
    }
};

}  // namespace

TEST(CSLock, TheOwnerTakesItAgainAndMustReleaseItAsOften) {
    static CSLOCK lock;
    EXPECT_EQ(CSLockIt(&lock, CS_INFINITE), CS_WAIT_OK);
    EXPECT_EQ(CSLockIt(&lock, 0), CS_WAIT_OK); /* recursion never waits */
    EXPECT_EQ(lock.count, 2u);
    CSUnlockLock(&lock);
    EXPECT_TRUE(CSLockHeld(&lock));

    /* Still held once: another thread cannot have it yet. */
    std::atomic<int> other{-1};
    std::thread t([&] { other = CSLockIt(&lock, 50); });
    t.join();
    EXPECT_EQ(other.load(), CS_WAIT_TIMEOUT);

    CSUnlockLock(&lock);
    EXPECT_FALSE(CSLockHeld(&lock));
    EXPECT_EQ(lock.owner.load(), 0u);
    std::thread u([&] {
        other = CSLockIt(&lock, 20000);
        CSUnlockLock(&lock);
    });
    u.join();
    EXPECT_EQ(other.load(), CS_WAIT_OK);
}

TEST(CSLock, ReleaseByAThreadThatDoesNotHoldItSpringsTrap618AndChangesNothing) {
    static CSLOCK lock;
    CSTRAPHOOK previous = CSSetTrapHook(RecordTrap);
    TrapNumber = 0;
    CSUnlockLock(&lock); /* never taken */
    EXPECT_EQ(TrapNumber.load(), CS_TRAP_UNLOCK_NOT_OWNER);
    EXPECT_EQ(TrapValue.load(), 0);

    Holder h;
    h.lock = &lock;
    h.Start();
    uint32_t owner = lock.owner.load();
    EXPECT_NE(owner, 0u);
    TrapNumber = 0;
    CSUnlockLock(&lock); /* held by the other thread */
    EXPECT_EQ(TrapNumber.load(), CS_TRAP_UNLOCK_NOT_OWNER);
    /* Neither that nor a timed-out wait touches the holder's claim. */
    EXPECT_EQ(CSLockIt(&lock, 20), CS_WAIT_TIMEOUT);
    EXPECT_EQ(lock.owner.load(), owner);
    EXPECT_EQ(lock.count, 1u);
    EXPECT_FALSE(CSLockHeld(&lock));
    h.Finish();
    CSSetTrapHook(previous);
    EXPECT_EQ(CSLockIt(&lock, 20000), CS_WAIT_OK);
    CSUnlockLock(&lock);
}

TEST(CSLock, SerialisesThreadsThatTakeItRecursively) {
    static CSLOCK lock;
    long total = 0; /* guarded by lock only */
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++)
        threads.emplace_back([&] {
            for (int i = 0; i < 5000; i++) {
                CSLockLock(&lock);
                CSLockLock(&lock);
                long v = total;
                total = v + 1;
                CSUnlockLock(&lock);
                CSUnlockLock(&lock);
            }
        });
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(total, 20000);
    EXPECT_EQ(lock.owner.load(), 0u);
}

TEST(GlobalLock, TakenTwiceAndReleasedTwiceLetsAWaitingThreadIn) {
    CSLockGlobal();
    CSLockGlobal();
    std::atomic<int> got{0};
    std::thread waiter([&] {
        CSLockGlobal(); /* waits until the main thread has released twice */
        got = 1;
        CSUnlockIt();
    });
    CSUnlockIt();
    EXPECT_EQ(got.load(), 0);
    CSUnlockIt();
    waiter.join();
    EXPECT_EQ(got.load(), 1);
}

TEST(Memory, BlocksOfAnySizeIncludingZeroAndForcedFailures) {
    long before = CSMemBlocksInUse();
    void *zero = CSGetMem(0);
    ASSERT_NE(zero, nullptr);
    char *big = static_cast<char *>(CSGetMem(1 << 20));
    ASSERT_NE(big, nullptr);
    big[(1 << 20) - 1] = 'x';
    EXPECT_EQ(CSMemBlocksInUse(), before + 2);
    CSFreeMem(zero);
    CSFreeMem(big);
    CSFreeMem(nullptr);
    EXPECT_EQ(CSMemBlocksInUse(), before);

    CSSetMemFailAfter(1);
    void *first = CSGetMem(10);
    void *second = CSGetMem(10);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(CSGetMem(10), nullptr);
    CSSetMemFailAfter(-1);
    void *third = CSGetMem(10);
    EXPECT_NE(third, nullptr);
    CSFreeMem(first);
    CSFreeMem(third);
    EXPECT_EQ(CSMemBlocksInUse(), before);
}
