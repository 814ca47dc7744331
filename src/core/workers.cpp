/* workers.cpp -- the pool of worker threads and its queue of calls.
 *
 * Owns: the call queue (first in, first out), LiveWorkerThreads,
 * IdleWorkerThreads, WorkerLock, WorkEvent, EndEvent and the handles of the
 * threads made.
 * Threads: QueueCall from any thread; each worker holds WorkerLock except
 * while it waits for WorkEvent and while it runs a call, so calls run in
 * parallel on as many threads as there are. Workers end when they find the
 * queue empty and the stop flag set; WaitForWorkers joins them, so that no
 * worker still runs when the program returns from main.
 *
 * Wake-ups: WorkEvent resets itself and several signals given before a
 * worker wakes count as one. That is safe because every worker that takes
 * a call while more are queued passes the wake-up on (or makes a thread),
 * and a worker checks the queue before every wait. The pool may therefore
 * grow past the number of idle workers a burst of calls was queued to:
 * when each of them has just taken a call, none is idle for the next.
 */
#include "core/workers.h"

#include "core/agent.h"
#include "log/cs.h"
#include "log/output.h"
#include "config/settings.h"
#include "platform/platform.h"

std::atomic<int32_t> LiveWorkerThreads{0}; /* started and not yet ended */
std::atomic<int32_t> IdleWorkerThreads{0}; /* created and not working on a call */

/* A thread of the pool, kept so that WaitForWorkers can join it. */
struct WORKERTHREAD {
    WORKERTHREAD *next; /* under WorkerLock */
    PLTHREAD thread;    /* joinable; given to PLJoinThread once */
};

static CSLOCK WorkerLock;                       /* the queue, both counts, the thread list */
static std::atomic<PLEVENT> WorkEvent{nullptr}; /* auto-reset; made by the first QueueCall */
static std::atomic<PLEVENT> EndEvent{nullptr};  /* auto-reset; a worker has ended */
/* Changed only under WorkerLock; FirstQueuedCall reads it without. */
static std::atomic<WORKERCALL *> FirstCall{nullptr};
static WORKERCALL *LastCall = nullptr;  /* under WorkerLock */
static WORKERTHREAD *Threads = nullptr; /* threads to join; under WorkerLock */

static void WorkerMain(void *unused);
static int MakeEvents(void);
static void JoinEndedWorkers(void);

MQLONG QueueCall(void (*function)(WORKERCALL *), void *argument) {
    WORKERCALL *call = static_cast<WORKERCALL *>(CSGetMem(sizeof(WORKERCALL)));
    if (call == nullptr)
        return MQRC_STORAGE_NOT_AVAILABLE;
    call->next = nullptr;
    call->function = function;
    call->argument = argument;

    CSLockLock(&WorkerLock);
    if (!MakeEvents()) {
        CSUnlockLock(&WorkerLock);
        CSFreeMem(call);
        return MQRC_STORAGE_NOT_AVAILABLE;
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

/* Make WorkEvent and EndEvent once; the caller holds WorkerLock. Returns 0
 * when either cannot be made. */
static int MakeEvents(void) {
    if (WorkEvent.load() == nullptr) {
        PLEVENT event = PLCreateEvent();
        if (event == nullptr)
            return 0;
        WorkEvent.store(event);
    }
    if (EndEvent.load() == nullptr) {
        PLEVENT event = PLCreateEvent();
        if (event == nullptr)
            return 0;
        EndEvent.store(event);
    }
    return 1;
}

MQLONG StartWorkerThread(void) {
    WORKERTHREAD *record = static_cast<WORKERTHREAD *>(CSGetMem(sizeof(WORKERTHREAD)));
    if (record == nullptr)
        return MQRC_STORAGE_NOT_AVAILABLE;
    /* Counted before it runs, so that WorkersBusy sees it at once and a
     * second call queued meanwhile does not start another. */
    IdleWorkerThreads.fetch_add(1, std::memory_order_relaxed);
    if (PLCreateThread(WorkerMain, nullptr, &record->thread) != 0) {
        IdleWorkerThreads.fetch_sub(1, std::memory_order_relaxed);
        CSFreeMem(record);
        return MQRC_STORAGE_NOT_AVAILABLE;
    }
    record->next = Threads;
    Threads = record;
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
    /* Pass the stop on to a sibling still waiting, and tell the shutdown.
     * Nothing of the pool is touched after this. */
    PLSignalEvent(WorkEvent.load());
    PLSignalEvent(EndEvent.load());
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
    uint64_t deadline = PLMonotonicMs() + static_cast<uint64_t>(maxCycles) * WORKER_WAIT_SLICE_MS;
    int left = maxCycles;
    while (WorkersBusy()) {
        uint64_t now = PLMonotonicMs();
        if (now >= deadline)
            return 0; /* abandoned: they end with the process */
        OutputMessage(3, OUTF_CONSOLE_ONLY, "LoopCount=%d WorkerThreads=%d Threads=%d pCalls=%p\n",
                      left, static_cast<int>(LiveWorkerThreads.load(std::memory_order_relaxed)),
                      static_cast<int>(IdleWorkerThreads.load(std::memory_order_relaxed)),
                      static_cast<void *>(FirstQueuedCall()));
        SignalWorkers();
        /* Woken as soon as a worker ends; the slice only bounds how long a
         * worker busy with a call goes without a look. */
        uint64_t wait = deadline - now;
        uint32_t slice =
            static_cast<uint32_t>(wait < WORKER_WAIT_SLICE_MS ? wait : WORKER_WAIT_SLICE_MS);
        PLEVENT ended = EndEvent.load();
        if (ended == nullptr || PLWaitEvent(ended, slice) == PL_WAIT_FAILED)
            PLSleep(slice);
        if (left > 1)
            left--;
    }
    JoinEndedWorkers();
    return 1;
}

/* Join every thread made so far: all have left their loop (the pool is not
 * busy), so each join waits at most for a thread's last return. */
static void JoinEndedWorkers(void) {
    CSLockLock(&WorkerLock);
    WORKERTHREAD *list = Threads;
    Threads = nullptr;
    CSUnlockLock(&WorkerLock);
    while (list != nullptr) {
        WORKERTHREAD *next = list->next;
        PLJoinThread(list->thread);
        CSFreeMem(list);
        list = next;
    }
}
