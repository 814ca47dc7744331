/* agent.h -- the agent's shared run state: the stop flag, the shared clock,
 * the usage-shown flag, and the steps of start and stop that the MQ access
 * and worker-pool modules supply.
 *
 * Owns: StopFlag, CurrentTime, LastActivityTime, StartTime, UsageShown.
 * Threads: read by every thread without a lock (relaxed atomics); the stop
 * flag is only ever set, never cleared (InitAgentState is for start-up and
 * tests only).
 */
#pragma once

#include <atomic>
#include <cstdint>

extern std::atomic<int32_t> StopFlag;         /* 1: the agent is to end */
extern std::atomic<int64_t> CurrentTime;      /* seconds since 1970, refreshed often */
extern std::atomic<int64_t> LastActivityTime; /* last message taken by a consumer */
extern std::atomic<int64_t> StartTime;        /* taken right after the banner */
extern std::atomic<int32_t> UsageShown;       /* 1: usage printed; no final report */

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

/* Clear all of the above (start of TorvikMain, tests). */
void InitAgentState(void);

/* ---- Steps supplied by the MQ access and worker-pool modules ------------
 * Defined in agent_hooks.cpp; that file is replaced when those modules come.
 */

/* Connect to the queue manager, open the command, input and reply queues,
 * report the parameters in effect, the configuration overrides (when
 * configSet is 1) and the certificate-event setting, start consumption and
 * run the main loop until the agent is to end. Returns 0 after the main
 * loop, -1 when a start-up step failed (already reported). Without MQ
 * access it reports what a failed library load reports (CVLA100E). */
int StartAgent(int configSet);

/* -c mode: put Settings.simpleCommand to the agent's input queue on the
 * secondary connection. Returns 0 or the MQ reason (already reported). */
int SendSimpleCommand(void);

/* Shutdown, first step: stop consumption and disconnect the main
 * connection (and in -c mode the secondary connection) if open. */
void ShutdownConnections(void);

/* Shutdown, last step, after the stop flag is set: queue the secondary
 * disconnect for the workers and wait up to 20 s for the worker threads. */
void ShutdownWorkers(void);
