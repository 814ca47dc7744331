/* runstate.h -- the run state every layer reads: the stop flag, the shared
 * clock and the time of the last message a consumer took.
 *
 * Owns: StopFlag, CurrentTime, LastActivityTime, the stop event that wakes
 * the main loop's pause.
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

/* Ask the agent to end (the main loop ends it in order) and wake the main
 * loop's pause. Any thread; not from a signal handler (the wake-up takes a
 * mutex): a handler calls SetStopFlagFromSignal. */
void SetStopFlag(void);

/* The stop flag alone, lock-free, for signal handlers and the system's
 * console handler threads; the main loop's pause sees it within
 * STOP_POLL_MS. */
inline void SetStopFlagFromSignal(void) {
    StopFlag.store(1, std::memory_order_relaxed);
}

/* As SetStopFlag; returns 1 when this call set the flag, 0 when it was set
 * already (so that a reason is reported once). */
int SetStopFlagFirst(void);

/* Pause up to ms milliseconds; returns at once when the stop flag is set
 * by SetStopFlag meanwhile, within STOP_POLL_MS when it is set by
 * SetStopFlagFromSignal. Main thread. */
constexpr uint32_t STOP_POLL_MS = 100;
void PauseUnlessStopped(uint32_t ms);
inline int StopRequested(void) {
    return StopFlag.load(std::memory_order_relaxed) != 0;
}

/* Clear all of the above (start-up, tests). */
void ResetRunState(void);
