/* runstate.h -- the run state every layer reads: the stop flag, the shared
 * clock and the time of the last message a consumer took.
 *
 * Owns: StopFlag, CurrentTime, LastActivityTime.
 * Threads: read by every thread without a lock (relaxed atomics); the stop
 * flag is only ever set, never cleared (ResetRunState is for start-up and
 * tests only).
 */
#pragma once

#include <atomic>
#include <cstdint>

extern std::atomic<int32_t> StopFlag;         /* 1: the agent is to end */
extern std::atomic<int64_t> CurrentTime;      /* seconds since 1970, refreshed often */
extern std::atomic<int64_t> LastActivityTime; /* last message taken by a consumer */

/* Take the wall clock into CurrentTime and return it. */
int64_t RefreshCurrentTime(void);

/* Ask the agent to end (the main loop ends it in order). */
inline void SetStopFlag(void) {
    StopFlag.store(1, std::memory_order_relaxed);
}
inline int StopRequested(void) {
    return StopFlag.load(std::memory_order_relaxed) != 0;
}

/* Clear all of the above (start-up, tests). */
void ResetRunState(void);
