/* workers.cpp -- the pool of worker threads and its queue of calls.
 *
 * Owns: the call queue (first in, first out), LiveWorkerThreads,
 * IdleWorkerThreads, WorkerLock and WorkEvent.
 * Threads: QueueCall from any thread; each worker holds WorkerLock except
 * while it waits for WorkEvent and while it runs a call, so calls run in
 * parallel on as many threads as there are. Workers end when they find the
 * queue empty and the stop flag set; they are never joined.
 */
#include "core/workers.h"

#include "core/agent.h"
#include "log/cs.h"
#include "log/output.h"
#include "config/settings.h"
#include "platform/platform.h"

std::atomic<int32_t> LiveWorkerThreads{0}; /* started and not yet ended */
std::atomic<int32_t> IdleWorkerThreads{0}; /* created and not working on a call */

static CSLOCK WorkerLock;                       /* the queue and both counts */
static std::atomic<PLEVENT> WorkEvent{nullptr}; /* auto-reset; made by the first QueueCall */
/* Changed only under WorkerLock; FirstQueuedCall reads it without. */
static std::atomic<WORKERCALL *> FirstCall{nullptr};
static WORKERCALL *LastCall = nullptr; /* under WorkerLock */

static void WorkerMain(void *unused);

MQLONG QueueCall(void (*function)(WORKERCALL *), void *argument) {
    WORKERCALL *call = static_cast<WORKERCALL *>(CSGetMem(sizeof(WORKERCALL)));
    if (call == nullptr)
        return MQRC_STORAGE_NOT_AVAILABLE;
    call->next = nullptr;
    call->function = function;
    call->argument = argument;

    CSLockLock(&WorkerLock);
    if (WorkEvent.load() == nullptr) {
        PLEVENT event = PLCreateEvent();
        if (event == nullptr) {
            CSUnlockLock(&WorkerLock);
            CSFreeMem(call);
            return MQRC_STORAGE_NOT_AVAILABLE;
        }
        WorkEvent.store(event);
    }
    if (LastCall == nullptr)
        FirstCall.store(call, std::memory_order_relaxed);
    else
        LastCall->next = call;
    LastCall = call;

    if (IdleWorkerThreads.load(std::memory_order_relaxed) > 0) {
        CSUnlockLock(&WorkerLock);
        PLSignalEvent(WorkEvent.load());
    } else {
        /* No thread: the call stays queued until a later call makes one. */
        StartWorkerThread();
        CSUnlockLock(&WorkerLock);
    }
    return 0;
}

MQLONG StartWorkerThread(void) {
    /* Counted before it runs, so that WorkersBusy sees it at once and a
     * second call queued meanwhile does not start another. */
    IdleWorkerThreads.fetch_add(1, std::memory_order_relaxed);
    if (PLCreateThread(WorkerMain, nullptr, nullptr) != 0) {
        IdleWorkerThreads.fetch_sub(1, std::memory_order_relaxed);
        return MQRC_STORAGE_NOT_AVAILABLE;
    }
    return 0;
}

static void WorkerMain(void *unused) {
    WorkerThread(unused);
}

void WorkerThread(void *unused) {
    (void)unused;
    CSLockLock(&WorkerLock);
    LiveWorkerThreads.fetch_add(1, std::memory_order_relaxed);
    for (;;) {
        if (FirstCall.load(std::memory_order_relaxed) == nullptr) {
            if (StopRequested())
                break;
            CSUnlockLock(&WorkerLock);
            PLWaitEvent(WorkEvent.load(), PL_INFINITE);
            CSLockLock(&WorkerLock);
            continue;
        }
        WORKERCALL *call = FirstCall.load(std::memory_order_relaxed);
        FirstCall.store(call->next, std::memory_order_relaxed);
        if (call->next == nullptr)
            LastCall = nullptr;
        IdleWorkerThreads.fetch_sub(1, std::memory_order_relaxed);
        if (call->next != nullptr) {
            if (IdleWorkerThreads.load(std::memory_order_relaxed) > 0)
                PLSignalEvent(WorkEvent.load());
            else
                StartWorkerThread();
        }
        CSUnlockLock(&WorkerLock);
        call->function(call);
        CSFreeMem(call);
        CSLockLock(&WorkerLock);
        IdleWorkerThreads.fetch_add(1, std::memory_order_relaxed);
    }
    LiveWorkerThreads.fetch_sub(1, std::memory_order_relaxed);
    IdleWorkerThreads.fetch_sub(1, std::memory_order_relaxed);
    CSUnlockLock(&WorkerLock);
    /* Pass the stop on to a sibling still waiting. */
    PLSignalEvent(WorkEvent.load());
}

int WorkersBusy(void) {
    return LiveWorkerThreads.load(std::memory_order_relaxed) > 0 ||
           IdleWorkerThreads.load(std::memory_order_relaxed) > 0 || FirstQueuedCall() != nullptr;
}

WORKERCALL *FirstQueuedCall(void) {
    /* Read without the lock for the LoopCount line and WorkersBusy: an
     * address only looked at, never followed. */
    return FirstCall.load(std::memory_order_relaxed);
}

void SignalWorkers(void) {
    PLEVENT event = WorkEvent.load();
    if (event != nullptr)
        PLSignalEvent(event);
}

int WaitForWorkers(int maxCycles) {
    for (int left = maxCycles; left > 0; left--) {
        if (!WorkersBusy())
            return 1;
        OutputMessage(3, OUTF_CONSOLE_ONLY, "LoopCount=%d WorkerThreads=%d Threads=%d pCalls=%p\n",
                      left, static_cast<int>(LiveWorkerThreads.load(std::memory_order_relaxed)),
                      static_cast<int>(IdleWorkerThreads.load(std::memory_order_relaxed)),
                      static_cast<void *>(FirstQueuedCall()));
        SignalWorkers();
        PLSleep(100);
    }
    return !WorkersBusy();
}
