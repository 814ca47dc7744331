/* agent.h -- the agent's own run state (start time, usage-shown flag) and
 * the steps between start-up and shutdown: connect, open the queues with
 * their consumers, run the main loop, and the MQ and worker parts of the
 * shutdown. The stop flag and the shared clock are log/runstate.h's.
 *
 * Owns: StartTime, UsageShown.
 * Threads: main thread; the atomics are read by any thread without a lock.
 */
#pragma once

#include <atomic>
#include <cstdint>

#include "log/runstate.h"

extern std::atomic<int64_t> StartTime;  /* taken right after the banner */
extern std::atomic<int32_t> UsageShown; /* 1: usage printed; no final report */

/* Clear the run state of the core and, through each module's one reset, of
 * every layer below it: ResetRunState, ResetOutputState (standard output is
 * the log stream again), ResetStatistics, ResetMQAccess, ResetRouting.
 * Settings are InitSettings'. Start of TorvikMain, tests. */
void InitAgentState(void);

/* ---- Steps between start-up and shutdown (agent_hooks.cpp) -------------- */

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

/* Worker call: PutSimpleCommand(call->argument as text). */
struct WORKERCALL;
void PutSimpleCommandCall(WORKERCALL *call);

/* Shutdown, last step, after the stop flag is set: queue the secondary
 * disconnect for the workers and wait up to 20 s for the worker threads. */
void ShutdownWorkers(void);
