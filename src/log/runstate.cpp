/* runstate.cpp -- the stop flag, the shared clock and the last activity
 * time.
 *
 * Owns: StopFlag, CurrentTime, LastActivityTime.
 * Threads: any; relaxed atomics, no lock.
 */
#include "log/runstate.h"

#include "platform/platform.h"

std::atomic<int32_t> StopFlag{0};
std::atomic<int64_t> CurrentTime{0};
std::atomic<int64_t> LastActivityTime{0};

int64_t RefreshCurrentTime(void) {
    int64_t now = PLWallClockSeconds();
    CurrentTime.store(now, std::memory_order_relaxed);
    return now;
}

void ResetRunState(void) {
    StopFlag.store(0, std::memory_order_relaxed);
    CurrentTime.store(0, std::memory_order_relaxed);
    LastActivityTime.store(0, std::memory_order_relaxed);
}
