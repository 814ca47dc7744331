/* workers_test.cpp -- the worker pool: every call run once however the
 * calls come, the pool's end with the stop flag, a call that cannot be
 * queued. */
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "config/settings.h"
#include "support/process.h"
#include "core/agent.h"
#include "core/workers.h"
#include "log/cs.h"

namespace {

/* A call that blocks until its gate opens. */
struct GATE {
    std::atomic<int> entered{0};
    std::atomic<int> open{0};
    std::atomic<int> left{0}; /* calls that have stopped reading the gate */
};

void BlockingCall(WORKERCALL *call) {
    GATE *gate = static_cast<GATE *>(call->argument);
    gate->entered.fetch_add(1);
    while (!gate->open.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    gate->left.fetch_add(1);
}

class Workers : public ::testing::Test {
protected:
    void SetUp() override {
        InitSettings();
        InitAgentState();
        ASSERT_FALSE(WorkersBusy());
    }
    void TearDown() override {
        CSSetMemFailAfter(-1);
        SetStopFlag();
        EXPECT_EQ(WaitForWorkers(300), 1);
        EXPECT_FALSE(WorkersBusy());
    }
};

/* The calls of one round of the stress test, by number. */
std::mutex RoundLock;
std::vector<int> RoundCalls;

void RecordCall(WORKERCALL *call) {
    std::lock_guard<std::mutex> guard(RoundLock);
    RoundCalls.push_back(static_cast<int>(reinterpret_cast<intptr_t>(call->argument)));
}

/* Many rounds of calls queued at once, from two threads, to M idle workers:
 * every call runs exactly once. A lost wake-up would leave a call queued
 * while every worker waits. (A burst may grow the pool: each worker that
 * takes a call while more wait and none is idle makes one more.) */
TEST_F(Workers, EveryCallQueuedAtOnceToIdleWorkersRunsOnce) {
    for (int workers : {1, 2, 4}) {
        InitAgentState();
        GATE gate;
        for (int i = 0; i < workers; i++)
            ASSERT_EQ(QueueCall(BlockingCall, &gate), 0);
        ASSERT_TRUE(WaitUntil([&] { return gate.entered.load() == workers; }));
        gate.open = 1;
        ASSERT_TRUE(WaitUntil([&] { return gate.left.load() == workers; }));
        for (int round = 0; round < 400; round++) {
            ASSERT_TRUE(
                WaitUntil([] { return IdleWorkerThreads.load() == LiveWorkerThreads.load(); }));
            {
                std::lock_guard<std::mutex> guard(RoundLock);
                RoundCalls.clear();
            }
            const intptr_t calls = 2 * (1 + round % (workers + 1));
            auto queueRange = [](intptr_t from, intptr_t to) {
                for (intptr_t i = from; i < to; i++)
                    ASSERT_EQ(QueueCall(RecordCall, reinterpret_cast<void *>(i)), 0);
            };
            std::thread other(queueRange, calls / 2, calls);
            queueRange(0, calls / 2);
            other.join();
            ASSERT_TRUE(WaitUntil([&] {
                std::lock_guard<std::mutex> guard(RoundLock);
                return (intptr_t)RoundCalls.size() >= calls;
            })) << workers
                << " workers, round " << round;
            std::lock_guard<std::mutex> guard(RoundLock);
            std::sort(RoundCalls.begin(), RoundCalls.end());
            for (int n = 0; n < (int)calls; n++)
                ASSERT_EQ(RoundCalls.at((size_t)n), n) << workers << " workers, round " << round;
        }
        EXPECT_EQ(FirstQueuedCall(), nullptr);
        SetStopFlag();
        ASSERT_EQ(WaitForWorkers(300), 1);
    }
}

TEST_F(Workers, EndPromptlyOnceStoppedAndRunTheLastCall) {
    GATE gate;
    gate.open = 1;
    ASSERT_EQ(QueueCall(BlockingCall, &gate), 0);
    ASSERT_EQ(QueueCall(BlockingCall, &gate), 0);
    ASSERT_TRUE(WaitUntil([&] { return gate.entered.load() == 2; }));
    ASSERT_TRUE(WaitUntil([] { return IdleWorkerThreads.load() == LiveWorkerThreads.load(); }));

    /* As at shutdown: stop flag, one last call, then the wait. */
    SetStopFlag();
    ASSERT_EQ(QueueCall(BlockingCall, &gate), 0);
    EXPECT_EQ(WaitForWorkers(200), 1);
    EXPECT_EQ(gate.entered.load(), 3);
    EXPECT_EQ(LiveWorkerThreads.load(), 0);
    EXPECT_EQ(IdleWorkerThreads.load(), 0);
}

TEST_F(Workers, ACallThatCannotBeAllocatedIsNotQueued) {
    long before = CSMemBlocksInUse();
    CSSetMemFailAfter(0);
    GATE gate;
    EXPECT_EQ(QueueCall(BlockingCall, &gate), MQRC_STORAGE_NOT_AVAILABLE);
    CSSetMemFailAfter(-1);
    EXPECT_FALSE(WorkersBusy());
    EXPECT_EQ(CSMemBlocksInUse(), before);
    EXPECT_EQ(gate.entered.load(), 0);
}

} /* namespace */
