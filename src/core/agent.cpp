/* agent.cpp -- the agent's own run state: start time, usage-shown flag.
 *
 * Owns: StartTime, UsageShown.
 * Threads: any; relaxed atomics, no lock.
 */
#include "core/agent.h"

#include "log/output.h"
#include "log/status.h"
#include "mq/queues.h"
#include "routing/routing.h"

std::atomic<int64_t> StartTime{0};
std::atomic<int32_t> UsageShown{0};

void InitAgentState(void) {
    ResetRunState();
    ResetOutputState();
    ResetStatistics();
    ResetMQAccess();
    ResetRouting();
    StartTime.store(0, std::memory_order_relaxed);
    UsageShown.store(0, std::memory_order_relaxed);
}
