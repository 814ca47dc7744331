/* workers.h -- the pool of worker threads and its queue of calls.
 *
 * Owns: the call queue (first in, first out), the live and idle thread
 * counts, the worker lock and the work event.
 * Threads: QueueCall from any thread; the workers run the calls; the main
 * thread waits for the pool at shutdown and joins its threads.
 */
#pragma once

#include <atomic>
#include <cstdint>

#include "mqconst/mqi.h"

/* One queued call, allocated by QueueCall and freed by the worker after the
 * function has returned. The function must not free the record. */
struct WORKERCALL {
    WORKERCALL *next;                   /* under the worker lock */
    void (*function)(WORKERCALL *call); /* result not used */
    void *argument;                     /* read by the function; not freed */
};

/* Queue function(call) for a worker thread; a thread is started when none
 * is idle. Returns 0, or MQRC_STORAGE_NOT_AVAILABLE (2071) when the record
 * cannot be allocated (nothing queued, nothing written). Any thread. */
MQLONG QueueCall(void (*function)(WORKERCALL *), void *argument);

/* Start one worker thread (the caller holds the worker lock). Returns 0, or
 * 2071 when the thread cannot be created. */
MQLONG StartWorkerThread(void);

/* The body of a worker thread: runs calls until the queue is empty and the
 * stop flag is set. */
void WorkerThread(void *unused);

/* 1 while a worker thread lives or is idle or a call is queued, else 0.
 * Reads the counts without the lock. */
int WorkersBusy(void);

/* Wake one waiting worker (shutdown repeats it to reach them all). */
void SignalWorkers(void);

/* For the LoopCount line of the shutdown and for tests. */
extern std::atomic<int32_t> LiveWorkerThreads;
extern std::atomic<int32_t> IdleWorkerThreads;
WORKERCALL *FirstQueuedCall(void);

/* Wait, as the shutdown does, up to maxCycles x WORKER_WAIT_SLICE_MS for the
 * pool to end (the stop flag set), signalling the workers and writing the
 * LoopCount line at level 3 each time a worker ends or a slice passes.
 * Returns 1, once every worker thread has ended and been joined, as soon as
 * the pool has ended; 0 when it was abandoned. Main thread. */
constexpr uint32_t WORKER_WAIT_SLICE_MS = 100;
int WaitForWorkers(int maxCycles);
