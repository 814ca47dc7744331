/* mainloop_test.cpp -- the main loop's timers and console keys, with a
 * scripted MQI underneath: STARTCERT by certevent and certfreq, the status
 * report, the disconnect interval of a triggered agent, Q then Y. */
#include <gtest/gtest.h>

#include "core/agent.h"
#include "core/mainloop.h"
#include "log/status.h"
#include "core/workers.h"
#include "mq/hobjcache.h"
#include "support/fake_mqi.h"
#include "routing/routing.h"

namespace {

class Timers : public ::testing::Test {
protected:
    void SetUp() override {
        InitSettings();
        InitAgentState();
        fakemq::Install();
        now = RefreshCurrentTime();
        /* Nothing else due. */
        LastHandleCheck.store(now);
        LastReportTime.store(now);
        LastActivityTime.store(now);
        log.Start();
    }
    void TearDown() override {
        SetStopFlag();
        WaitForWorkers(300);
    }
    int CertPuts() {
        int n = 0;
        for (auto &put : fakemq::Puts())
            n += put.text() == "STARTCERT";
        return n;
    }
    int64_t now = 0;
    fakemq::CapturedLog log;
};

/* Only with certevent yes or as the queue manager's; one at a time. */
TEST_F(Timers, OneStartCertAtATimeUntilTheCheckHasStartedThenPerCertfreq) {
    Settings.certFreq = 2; /* hours */
    for (int32_t value : {CERTEVENT_NO, CERTEVENT_DISABLED}) {
        Settings.certEvent.store(value);
        EXPECT_EQ(RunTimers(now), 0);
        EXPECT_EQ(StartCertOutstanding.load(), 0);
    }
    Settings.certEvent.store(CERTEVENT_YES);
    EXPECT_EQ(RunTimers(now), 0);
    ASSERT_TRUE(fakemq::WaitUntil([&] { return CertPuts() == 1; }));
    EXPECT_EQ(fakemq::Puts()[0].name, "CORVEL.TORVIK.COMMAND.QUEUE");
    /* Not taken yet: later cycles send no other. */
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(RunTimers(now + i), 0);
    EXPECT_EQ(StartCertOutstanding.load(), 1);

    /* The consumer takes STARTCERT and records the start. */
    StartCertCheck();
    int64_t started = LastCertCheckStart.load();
    EXPECT_GE(started, now);
    EXPECT_EQ(RunTimers(started + 7200), 0); /* not more than certfreq yet */
    EXPECT_EQ(RunTimers(started + 7201), 0);
    ASSERT_TRUE(fakemq::WaitUntil([&] { return CertPuts() == 2; }));

    StartCertCheck();
    LastCertCheckStart.store(started);
    SetFlags(FLAG_CERTFREQ_MINUTES);
    EXPECT_EQ(RunTimers(started + 121), 0);
    ASSERT_TRUE(fakemq::WaitUntil([&] { return CertPuts() == 3; }));
    EXPECT_EQ(fakemq::Puts().size(), 3u);
}

TEST_F(Timers, AStartCertThatCouldNotBePutIsSentAgain) {
    fakemq::State().putFailures = {MQRC_Q_FULL};
    EXPECT_EQ(RunTimers(now), 0);
    ASSERT_TRUE(fakemq::WaitUntil([&] { return StartCertOutstanding.load() == 0; }));
    EXPECT_EQ(RunTimers(now), 0);
    ASSERT_TRUE(fakemq::WaitUntil([&] { return fakemq::Puts().size() == 2u; }));
    EXPECT_EQ(CertPuts(), 2);
}

TEST_F(Timers, TheReportAndTheHandleCheckComeAtTheirIntervals) {
    Settings.certEvent.store(CERTEVENT_NO);
    Settings.reportInt = 5;
    Settings.hobjChkDelay = 300;
    LastReportTime.store(now - 299);
    LastHandleCheck.store(now - 299);
    EXPECT_EQ(RunTimers(now), 0);
    EXPECT_EQ(log.Text().find("CVLA080I"), std::string::npos);
    EXPECT_EQ(LastHandleCheck.load(), now - 299);
    LastReportTime.store(now - 300);
    LastHandleCheck.store(now - 300);
    CurrentTime.store(now);
    EXPECT_EQ(RunTimers(now), 0);
    EXPECT_NE(log.Text().find("CVLA080I TORVIK Status Report"), std::string::npos);
    EXPECT_NE(log.Text().find("Last 5Mins"), std::string::npos);
    EXPECT_GE(LastReportTime.load(), now);
    EXPECT_GE(LastHandleCheck.load(), now);
}

TEST_F(Timers, ATriggeredAgentEndsAfterTheDisconnectInterval) {
    Settings.certEvent.store(CERTEVENT_NO);
    Settings.discInt = 2;
    LastActivityTime.store(now - 120);
    /* Started from a command line: never. */
    EXPECT_EQ(RunTimers(now), 0);
    SetFlags(FLAG_TRIGGERED);
    LastActivityTime.store(now - 119);
    EXPECT_EQ(RunTimers(now), 0);
    LastActivityTime.store(now - 120);
    EXPECT_EQ(RunTimers(now), 1);
    EXPECT_NE(log.Text().find("CVLA020I Disconnect Interval, 2 minutes, expired"),
              std::string::npos);
    Settings.discInt = 0;
    EXPECT_EQ(RunTimers(now), 0);
}

int Answer = 0; /* the key typed after "Are you sure...?" */

TEST(ConsoleKeys, QThenYQuitsAnythingElseDoesNot) {
    InitSettings();
    const struct {
        int key, answer, quits;
        const char *shown;
    } cases[] = {{'q', 'Y', 0, "\nUnrecognised command 'q'.\n"},
                 {'Q', 'n', 0, "Are you sure you want to quit?  "},
                 {'Q', 'y', 1, "Are you sure you want to quit?  "},
                 {'Q', 'Y', 1, "Are you sure you want to quit?  "}};
    for (const auto &c : cases) {
        InitAgentState();
        ResetRunState();
        Answer = c.answer;
        testing::internal::CaptureStdout();
        EXPECT_EQ(HandleConsoleKey(c.key, []() -> int { return Answer; }), c.quits);
        EXPECT_NE(testing::internal::GetCapturedStdout().find(c.shown), std::string::npos);
        EXPECT_EQ(StopRequested(), c.quits == 1) << (char)c.answer;
    }
}

} /* namespace */
