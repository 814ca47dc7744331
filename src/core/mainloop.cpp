/* mainloop.cpp -- the main thread's loop after start-up: timed
 * housekeeping, the disconnect interval of a triggered agent, the console
 * status line and keys.
 *
 * Owns: LastCertCheckStart.
 * Threads: MainLoop on the main thread; StartCertCheck on the consumer
 * thread. Work on requests and cached handles is never done here: the loop
 * only sees that it is due and has a worker send the simple command that
 * makes the consumer thread do it.
 */
#include "core/mainloop.h"

#include <cstdio>
#include <ctime>

#include "cert/certcmd.h"
#include "config/settings.h"
#include "core/agent.h"
#include "core/status.h"
#include "core/workers.h"
#include "log/output.h"
#include "mq/hobjcache.h"
#include "mq/queues.h"
#include "platform/platform.h"
#include "routing/request.h"

std::atomic<int64_t> LastCertCheckStart{0};

static char StartCertText[] = "STARTCERT";

static int64_t CertIntervalSeconds(void);
static void SleepCycle(void);
static void ShowStatusLine(int64_t now);
static void EraseStatusText(void);

/* The start is recorded even when the check could not be started (the
 * step that failed has said why): it is tried again after certfreq, not at
 * every pass of the loop. */
void StartCertCheck(void) {
    StartCertCheckRequest();
    LastCertCheckStart.store(PLWallClockSeconds(), std::memory_order_relaxed);
}

/* ---- Timers ------------------------------------------------------------- */

/* certfreq in seconds (hours, or minutes with certfreqasmins), in 64 bits
 * so that a large value cannot overflow. */
static int64_t CertIntervalSeconds(void) {
    return static_cast<int64_t>(Settings.certFreq) * (FlagIsSet(FLAG_CERTFREQ_MINUTES) ? 60 : 3600);
}

int RunTimers(int64_t now) {
    if (now - LastAgeingPass.load(std::memory_order_relaxed) >= Settings.reqChkDelay &&
        RequestCount.load(std::memory_order_relaxed) > 0)
        AgeRequests(0);
    if (now - LastHandleCheck.load(std::memory_order_relaxed) >= Settings.hobjChkDelay)
        CheckHandleCache(0);
    if (StopRequested())
        return 1;

    if (now - LastReportTime.load(std::memory_order_relaxed) >=
        static_cast<int64_t>(Settings.reportInt) * 60)
        StatusReport(0);

    int32_t certEvent = Settings.certEvent.load(std::memory_order_relaxed);
    if (certEvent == CERTEVENT_ASQMGR || certEvent == CERTEVENT_YES) {
        int64_t lastStart = LastCertCheckStart.load(std::memory_order_relaxed);
        if (lastStart == 0 || now - lastStart > CertIntervalSeconds())
            QueueCall(PutSimpleCommandCall, StartCertText);
    }
    if (StopRequested())
        return 1;

    if (Settings.discInt != 0 && FlagIsSet(FLAG_TRIGGERED) &&
        now - LastActivityTime.load(std::memory_order_relaxed) >=
            static_cast<int64_t>(Settings.discInt) * 60) {
        OutputMessage(1, OUTF_NORMAL, Settings.logStream,
                      "CVLA020I Disconnect Interval, %d minutes, expired\n", Settings.discInt);
        return 1;
    }
    return 0;
}

/* ---- The loop ----------------------------------------------------------- */

void MainLoop(void) {
    fputs("\n", stdout);
    fflush(stdout);
    if (StopRequested())
        return;

    for (;;) {
        int64_t now = RefreshCurrentTime();
        if (RunTimers(now))
            return;
        if (FlagIsSet(FLAG_SERVICE)) {
            SleepCycle();
        } else {
            ShowStatusLine(now);
            if (!PLKeyWaiting()) {
                SleepCycle();
            } else {
                int key = PLReadKey();
                if (key <= 0)
                    SleepCycle();
                else if (HandleConsoleKey(key, PLReadKey))
                    return;
            }
        }
        if (StopRequested())
            return;
    }
}

/* Sleep sleeptime seconds, in slices, so that a stop flag set meanwhile
 * ends the loop without waiting out a long sleeptime. */
static void SleepCycle(void) {
    uint64_t total = static_cast<uint64_t>(Settings.sleepTime > 0 ? Settings.sleepTime : 0) * 1000;
    uint64_t start = PLMonotonicMs();
    for (;;) {
        uint64_t spent = PLMonotonicMs() - start;
        if (spent >= total || StopRequested())
            return;
        uint64_t left = total - spent;
        PLSleep(static_cast<uint32_t>(left < 100 ? left : 100));
    }
}

/* ---- Console ------------------------------------------------------------ */

/* Backspaces over the status text; the caller holds LogLock. */
static void BackOverStatus(int len) {
    for (int i = 0; i < len; i++)
        fputc('\b', stdout);
}

static void ShowStatusLine(int64_t now) {
    int locked = Settings.logStream.load() != nullptr;
    if (locked)
        CSLockLock(&LogLock);
    BackOverStatus(ConsoleStatusLength.load(std::memory_order_relaxed));
    struct tm lt;
    char clock[9] = "??:??:??";
    if (PLLocalTime(now, &lt) == 0)
        snprintf(clock, sizeof clock, "%2.2d:%2.2d:%2.2d", lt.tm_hour, lt.tm_min, lt.tm_sec);
    char text[128];
    int len = snprintf(text, sizeof text, "%.8s Cmd[%4d,%8d] Rep[%4d,%8d] Res[%4d,%8d]", clock,
                       static_cast<int>(StatValue(STAT_SINCE_REPORT, STAT_COMMANDS)),
                       static_cast<int>(StatValue(STAT_SINCE_REPORT, STAT_COMMAND_BYTES)),
                       static_cast<int>(StatValue(STAT_SINCE_REPORT, STAT_REPLIES)),
                       static_cast<int>(StatValue(STAT_SINCE_REPORT, STAT_REPLY_BYTES)),
                       static_cast<int>(StatValue(STAT_SINCE_REPORT, STAT_RESPONSES)),
                       static_cast<int>(StatValue(STAT_SINCE_REPORT, STAT_RESPONSE_BYTES)));
    if (len < 0)
        len = 0;
    if (len >= static_cast<int>(sizeof text))
        len = static_cast<int>(sizeof text) - 1;
    ConsoleStatusLength.store(len, std::memory_order_relaxed);
    fputs(text, stdout);
    fflush(stdout);
    if (locked)
        CSUnlockLock(&LogLock);
}

/* Remove the status text from the console; the caller holds LogLock. */
static void EraseStatusText(void) {
    int len = ConsoleStatusLength.load(std::memory_order_relaxed);
    BackOverStatus(len);
    for (int i = 0; i < len; i++)
        fputc(' ', stdout);
    BackOverStatus(len);
    ConsoleStatusLength.store(0, std::memory_order_relaxed);
}

int HandleConsoleKey(int key, int (*readKey)(void)) {
    int locked = Settings.logStream.load() != nullptr;
    if (key == 'Q') {
        if (locked)
            CSLockLock(&LogLock);
        EraseStatusText();
        fputs("Are you sure you want to quit?  ", stdout);
        fflush(stdout);
        if (locked)
            CSUnlockLock(&LogLock);
        /* Only the main thread waits here; messages of other threads are
         * written meanwhile, since LogLock is free. */
        int answer = readKey();
        if (answer == 'Y' || answer == 'y') {
            SetStopFlag();
            return 1;
        }
        return 0;
    }
    if (locked)
        CSLockLock(&LogLock);
    printf("\nUnrecognised command '%c'.\n", key);
    fflush(stdout);
    /* The status text stays behind on the line above. */
    ConsoleStatusLength.store(0, std::memory_order_relaxed);
    if (locked)
        CSUnlockLock(&LogLock);
    return 0;
}
