/* status.cpp -- traffic statistics and the status report CVLA080I.
 *
 * Owns: Statistics, LastReportTime.
 * Threads: counting from any thread without a lock (atomics); the report
 * from the main thread or the consumer thread.
 */
#include "log/status.h"

#include "config/settings.h"
#include "config/units.h"
#include "log/runstate.h"
#include "log/output.h"

std::atomic<int32_t> Statistics[2][STAT_COUNT];
std::atomic<int64_t> LastReportTime{0};

/* Add v to a counter in both blocks. Counters stay in 0..INT32_MAX: a sum
 * past the largest value starts again from 0 (modulo 2^31), so a long run
 * never shows negative figures. */
static void AddCounter(int counter, int32_t v) {
    uint32_t add = v > 0 ? static_cast<uint32_t>(v) : 0;
    for (int block = 0; block < 2; block++) {
        std::atomic<int32_t> &c = Statistics[block][counter];
        int32_t old = c.load(std::memory_order_relaxed);
        int32_t next;
        do {
            next = static_cast<int32_t>((static_cast<uint32_t>(old) + add) & 0x7FFFFFFFu);
        } while (!c.compare_exchange_weak(old, next, std::memory_order_relaxed));
    }
}

void CountCommand(int32_t len) {
    AddCounter(STAT_COMMANDS, 1);
    AddCounter(STAT_COMMAND_BYTES, len);
}

void CountReply(int32_t len) {
    AddCounter(STAT_REPLIES, 1);
    AddCounter(STAT_REPLY_BYTES, len);
}

void CountResponse(int32_t len) {
    AddCounter(STAT_RESPONSES, 1);
    AddCounter(STAT_RESPONSE_BYTES, len);
}

void CountFailedPut(void) {
    AddCounter(STAT_FAILED_PUTS, 1);
}

void CountRetriedPut(void) {
    AddCounter(STAT_RETRIED_PUTS, 1);
}

int32_t StatValue(int block, int counter) {
    if (block < 0 || block > 1 || counter < 0 || counter >= STAT_COUNT)
        return 0;
    return Statistics[block][counter].load(std::memory_order_relaxed);
}

/* (reply bytes - response bytes) * 100 / reply bytes, truncated toward
 * zero; 0 without reply bytes. */
static int32_t Compression(int32_t replyBytes, int32_t responseBytes) {
    if (replyBytes == 0)
        return 0;
    int64_t saved = (static_cast<int64_t>(replyBytes) - responseBytes) * 100;
    return static_cast<int32_t>(saved / replyBytes);
}

void StatusReport(int realPeriod) {
    int64_t now = CurrentTime.load(std::memory_order_relaxed);
    int64_t minutes = Settings.reportInt;
    if (realPeriod && now != 0)
        minutes = (now - LastReportTime.load(std::memory_order_relaxed)) / 60;
    char period[64];
    FormatMinutes(minutes, period, sizeof period);

    int32_t start[STAT_COUNT];
    int32_t last[STAT_COUNT];
    for (int i = 0; i < STAT_COUNT; i++) {
        start[i] = Statistics[STAT_SINCE_START][i].load(std::memory_order_relaxed);
        /* Read and clear in one step: what arrives meanwhile counts next time. */
        last[i] = Statistics[STAT_SINCE_REPORT][i].exchange(0, std::memory_order_relaxed);
    }
    LastReportTime.store(now, std::memory_order_relaxed);

    char bytes[2][3][32];
    const int byteCounters[3] = {STAT_COMMAND_BYTES, STAT_REPLY_BYTES, STAT_RESPONSE_BYTES};
    for (int k = 0; k < 3; k++) {
        FormatBytes(start[byteCounters[k]], bytes[0][k], sizeof bytes[0][k]);
        FormatBytes(last[byteCounters[k]], bytes[1][k], sizeof bytes[1][k]);
    }

    OutputMessage(1, OUTF_NORMAL,
                  "CVLA080I TORVIK Status Report\n"
                  "                            : Since Start : Last %s\n"
                  "  Commands Received         : %11d : %11d\n"
                  "  Command Bytes Received    : %11s : %11s\n"
                  "  Replies Received          : %11d : %11d\n"
                  "  Reply Bytes Received      : %11s : %11s\n"
                  "  Responses Sent            : %11d : %11d\n"
                  "  Response Bytes Sent       : %11s : %11s\n"
                  "  Compression Achieved      : %10d%% : %10d%%\n"
                  "  Failed Puts               : %11d : %11d\n"
                  "  Puts Successfully Retried : %11d : %11d\n",
                  period, start[STAT_COMMANDS], last[STAT_COMMANDS], bytes[0][0], bytes[1][0],
                  start[STAT_REPLIES], last[STAT_REPLIES], bytes[0][1], bytes[1][1],
                  start[STAT_RESPONSES], last[STAT_RESPONSES], bytes[0][2], bytes[1][2],
                  Compression(start[STAT_REPLY_BYTES], start[STAT_RESPONSE_BYTES]),
                  Compression(last[STAT_REPLY_BYTES], last[STAT_RESPONSE_BYTES]),
                  start[STAT_FAILED_PUTS], last[STAT_FAILED_PUTS], start[STAT_RETRIED_PUTS],
                  last[STAT_RETRIED_PUTS]);
}

void ResetStatistics(void) {
    for (int block = 0; block < 2; block++)
        for (int i = 0; i < STAT_COUNT; i++)
            Statistics[block][i].store(0, std::memory_order_relaxed);
    LastReportTime.store(0, std::memory_order_relaxed);
}
