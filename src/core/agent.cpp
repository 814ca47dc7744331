/* agent.cpp -- the agent's shared run state: stop flag, shared clock,
 * start time, usage-shown flag.
 *
 * Owns: StopFlag, CurrentTime, LastActivityTime, StartTime, UsageShown.
 * Threads: any; relaxed atomics, no lock.
 */
#include "core/agent.h"

#include "platform/platform.h"

std::atomic<int32_t> StopFlag{0};
std::atomic<int64_t> CurrentTime{0};
std::atomic<int64_t> LastActivityTime{0};
std::atomic<int64_t> StartTime{0};
std::atomic<int32_t> UsageShown{0};

int64_t RefreshCurrentTime(void) {
    int64_t now = PLWallClockSeconds();
    CurrentTime.store(now, std::memory_order_relaxed);
    return now;
}

void InitAgentState(void) {
    StopFlag.store(0, std::memory_order_relaxed);
    CurrentTime.store(0, std::memory_order_relaxed);
    LastActivityTime.store(0, std::memory_order_relaxed);
    StartTime.store(0, std::memory_order_relaxed);
    UsageShown.store(0, std::memory_order_relaxed);
}
