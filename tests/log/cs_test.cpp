/* cs_test.cpp -- the recursive lock, memory and the trap. */
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "log/cs.h"

namespace {

std::atomic<int> TrapNumber{0};
std::atomic<int> TrapValue{-1};
void RecordTrap(int number, int value) {
    TrapNumber.store(number);
    TrapValue.store(value);
}

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

    /* A thread takes the lock and holds it until told. */
    PLEVENT taken = PLCreateEvent(), release = PLCreateEvent();
    std::thread holder([&] {
        CSLockLock(&lock);
        PLSignalEvent(taken);
        PLWaitEvent(release, PL_INFINITE);
        CSUnlockLock(&lock);
    });
    EXPECT_EQ(PLWaitEvent(taken, 20000), PL_WAIT_OK);
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
    PLSignalEvent(release);
    holder.join();
    PLDestroyEvent(taken);
    PLDestroyEvent(release);
    CSSetTrapHook(previous);
    EXPECT_EQ(CSLockIt(&lock, 20000), CS_WAIT_OK);
    CSUnlockLock(&lock);
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
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(CSGetMem(10), nullptr);
    EXPECT_EQ(CSGetMem(10), nullptr);
    CSSetMemFailAfter(-1);
    void *third = CSGetMem(10);
    EXPECT_NE(third, nullptr);
    CSFreeMem(first);
    CSFreeMem(third);
    EXPECT_EQ(CSMemBlocksInUse(), before);
}
