/* mainloop.h -- the agent's run after start-up: the queue manager
 * connection and queues (start-up steps 11 to 18), the main loop with its
 * timers and console keys, and the MQ part of the shutdown.
 *
 * Owns: LastCertCheckStart.
 * Threads: main thread; StartCertCheck on the consumer thread (STARTCERT).
 */
#pragma once

#include <atomic>
#include <cstdint>

/* Time (seconds) the last certificate check started; 0 until the first. */
extern std::atomic<int64_t> LastCertCheckStart;

/* Start a certificate check (simple command STARTCERT, consumer thread):
 * forward the check's inquiry (StartCertCheckRequest) and record the start
 * time, so that the timer sends STARTCERT once per certfreq. */
void StartCertCheck(void);

/* The loop of the main thread after consumption has started: timers,
 * disconnect interval, console status line and keys. Returns when the
 * agent is to end; the caller then runs Shutdown. */
void MainLoop(void);

/* One cycle's timer work (steps 1 to 8 of a cycle) at time now. Returns 1
 * when the loop is to end. Exposed for tests. */
int RunTimers(int64_t now);

/* Handle one console key (steps 12 to 14); readKey gives the next key for
 * the Q confirmation. Returns 1 when the agent is to end. Exposed for
 * tests. */
int HandleConsoleKey(int key, int (*readKey)(void));
