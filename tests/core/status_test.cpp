/* status_test.cpp -- the statistics counters and the status report. */
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "config/settings.h"
#include "core/agent.h"
#include "log/status.h"
#include "log/output.h"
#include "support/fake_mqi.h"

namespace {

class Status : public ::testing::Test {
protected:
    fakemq::CapturedLog log;
    const int64_t T = 1700000000;

    void SetUp() override {
        InitSettings();
        InitAgentState();
        SetFlags(FLAG_SERVICE);
        log.Start();
    }
    /* Run a report at the shared time now; the report's text without the
     * time stamp of its first line. */
    std::string Report(int realPeriod, int64_t now) {
        size_t before = log.Text().size();
        CurrentTime.store(now);
        StatusReport(realPeriod);
        std::string text = log.Text().substr(before);
        size_t at = text.find("CVLA080I");
        return at == std::string::npos ? "" : text.substr(at);
    }
};

}  // namespace

TEST_F(Status, FiguresCompressionAndANewPeriod) {
    LastReportTime.store(T);
    CountCommand(100);
    CountCommand(100);
    CountReply(4000);
    CountResponse(3000);
    for (int i = 0; i < 3; i++)
        CountFailedPut();
    CountRetriedPut();
    std::string r = Report(1, T + 300);
    EXPECT_EQ(r,
              "CVLA080I TORVIK Status Report\n"
              "                            : Since Start : Last 5Mins\n"
              "  Commands Received         :           2 :           2\n"
              "  Command Bytes Received    :        200B :        200B\n"
              "  Replies Received          :           1 :           1\n"
              "  Reply Bytes Received      :      3.91KB :      3.91KB\n"
              "  Responses Sent            :           1 :           1\n"
              "  Response Bytes Sent       :      2.93KB :      2.93KB\n"
              "  Compression Achieved      :         25% :         25%\n"
              "  Failed Puts               :           3 :           3\n"
              "  Puts Successfully Retried :           1 :           1\n");

    /* The report started a new period: the second column begins at 0. */
    EXPECT_EQ(LastReportTime.load(), T + 300);
    EXPECT_EQ(StatValue(STAT_SINCE_REPORT, STAT_COMMANDS), 0);
    EXPECT_EQ(StatValue(STAT_SINCE_START, STAT_COMMANDS), 2);

    CountReply(100);
    CountResponse(150); /* more sent than received: negative compression */
    r = Report(1, T + 300 + 3600 + 120);
    EXPECT_NE(r.find("Last 1Hr 2Mins\n"), std::string::npos);
    EXPECT_NE(r.find("  Commands Received         :           2 :           0\n"),
              std::string::npos);
    EXPECT_NE(r.find("  Compression Achieved      :         23% :        -50%\n"),
              std::string::npos);
}

/* The period is the real one, or reportint without one (a timer report,
 * or no shared time); equal bytes are no compression. */
TEST_F(Status, ThePeriodAndEqualBytes) {
    CountReply(2048);
    CountResponse(2048);
    std::string r = Report(0, T);
    for (const char *line :
         {"Last 1Hr\n", "  Reply Bytes Received      :         2KB :         2KB\n",
          "  Compression Achieved      :          0% :          0%\n"})
        EXPECT_NE(r.find(line), std::string::npos) << line;
    Settings.reportInt = 90;
    EXPECT_NE(Report(0, T).find("Last 1Hr 30Mins\n"), std::string::npos);
    EXPECT_NE(Report(1, 0).find("Last 1Hr 30Mins\n"), std::string::npos);
}

/* Written from Low detail up; without traffic, zeros (no division by zero). */
TEST_F(Status, TheReportIsWrittenAtLowDetail) {
    Settings.verbosity = VERBOSITY_QUIET;
    EXPECT_EQ(Report(1, T), "");
    Settings.verbosity = VERBOSITY_LOW;
    std::string r = Report(1, T);
    EXPECT_NE(r.find("  Reply Bytes Received      :          0B :          0B\n"),
              std::string::npos);
    EXPECT_NE(r.find("  Compression Achieved      :          0% :          0%\n"),
              std::string::npos);
}

TEST_F(Status, CountersWrapToZeroInsteadOfGoingNegative) {
    CountCommand(INT_MAX);
    CountCommand(5);
    CountReply(-3); /* a negative length counts nothing */
    EXPECT_EQ(StatValue(STAT_SINCE_START, STAT_COMMANDS), 2);
    EXPECT_EQ(StatValue(STAT_SINCE_START, STAT_COMMAND_BYTES), 4);
    EXPECT_EQ(StatValue(STAT_SINCE_REPORT, STAT_COMMAND_BYTES), 4);
    EXPECT_EQ(StatValue(STAT_SINCE_START, STAT_REPLY_BYTES), 0);
    EXPECT_EQ(StatValue(STAT_SINCE_START, STAT_REPLIES), 1);
}
