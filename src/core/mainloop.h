/* mainloop.h -- the main thread's loop after start-up: timed housekeeping,
 * the disconnect interval of a triggered agent, the console status line and
 * keys.
 *
 * Owns: nothing (the times it compares are their modules').
 * Threads: main thread.
 */
#pragma once

#include <cstdint>

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
