/* runstate.cpp -- the stop flag, the shared clock and the last activity
 * time.
 *
 * Owns: StopFlag, CurrentTime, LastActivityTime, StopEvent.
 * Threads: any; relaxed atomics, no lock. Only the main thread waits for
 * StopEvent.
 */
#include "log/runstate.h"

#include "platform/platform.h"

std::atomic<int32_t> StopFlag{0};
std::atomic<int64_t> CurrentTime{0};
std::atomic<int64_t> LastActivityTime{0};

/* Auto-reset; signalled by every SetStopFlag, waited for by the main
 * loop's pause. Made on first use; two threads racing agree on one. */
static std::atomic<PLEVENT> StopEvent{nullptr};

static PLEVENT GetStopEvent(void) {
    PLEVENT event = StopEvent.load(std::memory_order_acquire);
    if (event != nullptr)
        return event;
    PLEVENT made = PLCreateEvent();
    if (made == nullptr)
        return nullptr;
    PLEVENT expected = nullptr;
    if (StopEvent.compare_exchange_strong(expected, made, std::memory_order_acq_rel))
        return made;
    PLDestroyEvent(made);
    return expected;
}

void SetStopFlag(void) {
    SetStopFlagFirst();
}

int SetStopFlagFirst(void) {
    int first = StopFlag.exchange(1, std::memory_order_relaxed) == 0;
    PLSignalEvent(GetStopEvent());
    return first;
}

void PauseUnlessStopped(uint32_t ms) {
    uint64_t start = PLMonotonicMs();
    PLEVENT event = GetStopEvent();
    for (;;) {
        uint64_t spent = PLMonotonicMs() - start;
        if (spent >= ms || StopRequested())
            return;
        uint32_t left = static_cast<uint32_t>(ms - spent);
        if (left > STOP_POLL_MS)
            left = STOP_POLL_MS; /* a flag set by a signal handler wakes nobody */
        /* A signal left over from a stop flag set before the reset only
         * makes one more turn of this loop. */
        if (event == nullptr || PLWaitEvent(event, left) == PL_WAIT_FAILED)
            PLSleep(left);
    }
}

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
