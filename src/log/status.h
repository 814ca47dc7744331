/* status.h -- traffic statistics and the status report CVLA080I.
 *
 * Owns: Statistics (two blocks of eight counters), LastReportTime.
 * Threads: counters are increased from any thread (consumer thread, putting
 * threads) without a lock; the report runs on the main thread (timer,
 * shutdown) or the consumer thread (REPORT). Counters are 32-bit and wrap
 * past their largest value.
 */
#pragma once

#include <atomic>
#include <cstdint>

enum {
    STAT_COMMANDS = 0,   /* commands received */
    STAT_COMMAND_BYTES,  /* command bytes received */
    STAT_REPLIES,        /* replies received */
    STAT_REPLY_BYTES,    /* reply bytes received (before compression) */
    STAT_RESPONSES,      /* responses sent */
    STAT_RESPONSE_BYTES, /* response bytes sent */
    STAT_FAILED_PUTS,    /* failed put attempts */
    STAT_RETRIED_PUTS,   /* puts that succeeded after a failed attempt */
    STAT_COUNT
};

enum {
    STAT_SINCE_START = 0, /* never reset */
    STAT_SINCE_REPORT = 1 /* cleared by every report */
};

extern std::atomic<int32_t> Statistics[2][STAT_COUNT];
extern std::atomic<int64_t> LastReportTime; /* seconds; start-up and every report */

/* Count one item in both blocks. */
void CountCommand(int32_t len);  /* a simple command, or a request answered or forwarded */
void CountReply(int32_t len);    /* a reply matched to a request */
void CountResponse(int32_t len); /* a message put to a requester */
void CountFailedPut(void);
void CountRetriedPut(void);

/* Value of one counter (STAT_SINCE_START or STAT_SINCE_REPORT block). */
int32_t StatValue(int block, int counter);

/* Write CVLA080I (level 1) and start a new period. realPeriod 0: the period
 * shown is reportint; 1: the minutes since the last report. Since-report
 * counters are read and cleared in one step each, so nothing counted while
 * the report runs is lost. */
void StatusReport(int realPeriod);

/* Clear both blocks and the last report time (start-up and tests). */
void ResetStatistics(void);
