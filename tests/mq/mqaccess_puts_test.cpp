/* mqaccess_puts_test.cpp -- puts against a scripted MQI: retry budget and
 * counters, the reply identity rule, simple commands and wake-ups on the
 * secondary connection, and the connection's event handler. */
#include <gtest/gtest.h>

#include "core/agent.h"
#include "log/status.h"
#include "core/workers.h"
#include "mq/hobjcache.h"
#include "mq/queues.h"
#include "support/fake_mqi.h"
#include "routing/request.h"
#include "routing/routing.h"

namespace {

class Puts : public ::testing::Test {
protected:
    void SetUp() override {
        InitSettings();
        InitAgentState();
        CopyField(Settings.qmgrName, sizeof Settings.qmgrName, "QM1");
        CopyField(Settings.actualReplyQName, sizeof Settings.actualReplyQName,
                  "CORVEL.TORVIK.0001");
        Settings.retryInt = 0;
        Settings.verbosity = VERBOSITY_HIGH;
        fakemq::Install();
        log.Start();
    }
    void TearDown() override {
        ForgetCachedHandles();
        SetStopFlag();
        WaitForWorkers(300);
    }
    fakemq::CapturedLog log;
};

MQBYTE Id(char c) {
    return static_cast<MQBYTE>(c);
}

REQUEST MakeRequest(MQLONG report) {
    REQUEST req;
    memset(&req, 0, sizeof req);
    strcpy(req.replyQName, "REQ.REPLY");
    strcpy(req.replyQMgrName, "QM2");
    req.report = report;
    memset(req.msgId, Id('M'), sizeof req.msgId);
    memset(req.correlId, Id('C'), sizeof req.correlId);
    return req;
}

/* Each failed attempt counts as a failed put; a success after failures as
 * one retried put. Only reasons that waiting can clear are retried, up to
 * retrycount times; a lost connection is final at once and not counted. */
TEST_F(Puts, RetryRules) {
    const struct {
        int retryCount;
        std::vector<MQLONG> failures;
        MQLONG reason;
        size_t attempts;
        int failed, retried;
    } cases[] = {
        {2, {MQRC_Q_FULL, MQRC_Q_FULL, MQRC_Q_FULL, MQRC_Q_FULL}, MQRC_Q_FULL, 3, 3, 0},
        {10, {MQRC_Q_FULL, MQRC_Q_FULL}, MQRC_NONE, 3, 2, 1},
        {0, {MQRC_Q_FULL}, MQRC_Q_FULL, 1, 1, 0},
        {10, {MQRC_HCONN_ERROR}, MQRC_HCONN_ERROR, 1, 0, 0},
        {10, {MQRC_CONNECTION_BROKEN}, MQRC_CONNECTION_BROKEN, 1, 0, 0},
        {2, {MQRC_MSG_TOO_BIG_FOR_Q}, MQRC_MSG_TOO_BIG_FOR_Q, 1, 1, 0},
        {2, {MQRC_MSG_TOO_BIG_FOR_Q_MGR}, MQRC_MSG_TOO_BIG_FOR_Q_MGR, 1, 1, 0},
        {2, {MQRC_Q_DELETED}, MQRC_Q_DELETED, 1, 1, 0},
        {2, {MQRC_UNKNOWN_OBJECT_NAME}, MQRC_UNKNOWN_OBJECT_NAME, 1, 1, 0},
        {2, {MQRC_UNKNOWN_REMOTE_Q_MGR}, MQRC_UNKNOWN_REMOTE_Q_MGR, 1, 1, 0},
        {2, {MQRC_NOT_AUTHORIZED}, MQRC_NOT_AUTHORIZED, 1, 1, 0},
        {2, {MQRC_PUT_INHIBITED, MQRC_PUT_INHIBITED}, MQRC_NONE, 3, 2, 1},
        {2, {MQRC_STORAGE_NOT_AVAILABLE}, MQRC_NONE, 2, 1, 1},
        {2, {MQRC_Q_SPACE_NOT_AVAILABLE}, MQRC_NONE, 2, 1, 1},
        {2, {MQRC_PAGESET_FULL}, MQRC_NONE, 2, 1, 1},
    };
    for (const auto &c : cases) {
        fakemq::Install();
        ResetStatistics();
        Settings.retryCount = c.retryCount;
        fakemq::State().putFailures.assign(c.failures.begin(), c.failures.end());
        MQMD md = MQMD_DEFAULT;
        MQPMO pmo = MQPMO_DEFAULT;
        MQLONG cc = 0, rc = 0;
        int reported = fakemq::CountOf(log.Text(), "CVLA108E");
        PutWithRetry(7, "CMD.Q", &md, &pmo, 3, "abc", &cc, &rc);
        SCOPED_TRACE(std::to_string(c.failures[0]) + " retrycount " + std::to_string(c.retryCount));
        /* each retry is reported */
        EXPECT_EQ(fakemq::CountOf(log.Text(), "CVLA108E") - reported, (int)c.attempts - 1);
        EXPECT_EQ(rc, c.reason);
        EXPECT_EQ(cc, c.reason == MQRC_NONE ? MQCC_OK : MQCC_FAILED);
        EXPECT_EQ(fakemq::Puts().size(), c.attempts);
        EXPECT_EQ(StatValue(STAT_SINCE_START, STAT_FAILED_PUTS), c.failed);
        EXPECT_EQ(StatValue(STAT_SINCE_REPORT, STAT_FAILED_PUTS), c.failed);
        EXPECT_EQ(StatValue(STAT_SINCE_START, STAT_RETRIED_PUTS), c.retried);
    }
    EXPECT_NE(
        log.Text().find("CVLA108E MQPUT to queue 'CMD.Q' failed with reason 2053 (Queue full) "
                        "- Retry #2 after 0 seconds"),
        std::string::npos)
        << log.Text();
}

TEST_F(Puts, RepliesCarryTheIdentifiersTheRequesterAskedFor) {
    struct {
        MQLONG report;
        char msgId;
        char correlId;
    } cases[] = {
        {MQRO_NONE, 0, 'M'},
        {MQRO_PASS_MSG_ID, 'M', 'M'},
        {MQRO_PASS_CORREL_ID, 0, 'C'},
        {MQRO_PASS_MSG_ID | MQRO_PASS_CORREL_ID, 'M', 'C'},
    };
    for (auto &c : cases) {
        REQUEST req = MakeRequest(c.report);
        MQMD md = MQMD_DEFAULT;
        memset(md.MsgId, 'x', sizeof md.MsgId);
        memset(md.CorrelId, 'y', sizeof md.CorrelId);
        EXPECT_EQ(PutReply(&req, &md, "reply", 5, 0), 0);
        auto put = fakemq::Puts().back();
        EXPECT_EQ(std::string((const char *)put.md.MsgId, 24) +
                      std::string((const char *)put.md.CorrelId, 24),
                  std::string(24, c.msgId) + std::string(24, c.correlId))
            << c.report;
        EXPECT_EQ(put.pmo.Options, MQPMO_NO_SYNCPOINT);
        EXPECT_EQ(put.text(), "reply");
    }
    /* One open serves all four replies; all four are counted. */
    EXPECT_EQ(fakemq::Opens().size(), 1u);
    EXPECT_EQ(fakemq::Opens()[0].options, 528);
    EXPECT_EQ(StatValue(STAT_SINCE_START, STAT_RESPONSES), 4);
    EXPECT_EQ(StatValue(STAT_SINCE_START, STAT_RESPONSE_BYTES), 20);
}

TEST_F(Puts, ReplyWithContextPassesTheReplyQueuesContext) {
    HObjReplyQ = 55;
    REQUEST req = MakeRequest(MQRO_NONE);
    MQMD md = MQMD_DEFAULT;
    EXPECT_EQ(PutReply(&req, &md, "r", 1, 1), 0);
    auto put = fakemq::Puts().back();
    EXPECT_EQ(put.pmo.Options, MQPMO_NO_SYNCPOINT | MQPMO_PASS_ALL_CONTEXT);
    EXPECT_EQ(put.pmo.Context, 55);
    EXPECT_EQ(put.hObj, fakemq::Opens()[0].hObj);
}

TEST_F(Puts, AReplyThatCannotBePutIsReportedWithItsQueue) {
    Settings.retryCount = 1;
    fakemq::State().putFailures = {MQRC_Q_FULL, MQRC_Q_FULL};
    REQUEST req = MakeRequest(MQRO_NONE);
    MQMD md = MQMD_DEFAULT;
    EXPECT_EQ(PutReply(&req, &md, "reply", 5, 0), MQRC_Q_FULL);
    EXPECT_NE(log.Text().find("CVLA107E MQPUT to queue 'QM2/REQ.REPLY' failed with reason 2053"),
              std::string::npos);
    EXPECT_EQ(StatValue(STAT_SINCE_START, STAT_RESPONSES), 0);
    EXPECT_EQ(StatValue(STAT_SINCE_START, STAT_FAILED_PUTS), 2);

    /* No handle: the open's reason, reported, one failed put, nothing put. */
    fakemq::State().openFailures = {MQRC_UNKNOWN_OBJECT_NAME};
    strcpy(req.replyQName, "GONE.Q");
    size_t before = fakemq::Puts().size();
    EXPECT_EQ(PutReply(&req, &md, "reply", 5, 0), MQRC_UNKNOWN_OBJECT_NAME);
    EXPECT_EQ(fakemq::Puts().size(), before);
    EXPECT_EQ(StatValue(STAT_SINCE_START, STAT_FAILED_PUTS), 3);
    EXPECT_EQ(fakemq::CountOf(log.Text(), "CVLA104E"), 1);
}

TEST_F(Puts, SimpleCommandsAndWakeUpsUseTheSecondaryConnection) {
    EXPECT_EQ(PutSimpleCommand("STOP"), 0);
    auto put = fakemq::Puts().back();
    EXPECT_EQ(put.hConn, fakemq::SECONDARY_HCONN);
    EXPECT_EQ(put.name, "CORVEL.TORVIK.COMMAND.QUEUE");
    EXPECT_EQ(put.text(), "STOP"); /* no terminating zero */
    EXPECT_EQ(std::string(put.md.Format, 8), "MQSTR   ");
    EXPECT_EQ(put.md.ReplyToQ[0], ' ');
    EXPECT_EQ(put.md.ReplyToQMgr[0], ' ');
    EXPECT_EQ(put.md.MsgType, MQMT_DATAGRAM);
    EXPECT_EQ(put.md.Persistence, MQPER_PERSISTENCE_AS_Q_DEF);
    EXPECT_EQ(put.pmo.Options, MQPMO_NO_SYNCPOINT);

    MQBYTE id[MQ_MSG_ID_LENGTH];
    for (int i = 0; i < MQ_MSG_ID_LENGTH; i++)
        id[i] = static_cast<MQBYTE>(i + 1);
    EXPECT_EQ(PutWakeUp(id), 0);
    put = fakemq::Puts().back();
    EXPECT_EQ(put.name, "CORVEL.TORVIK.0001");
    EXPECT_EQ(std::string(put.md.Format, 8), "MQADMIN ");
    EXPECT_EQ(memcmp(put.md.MsgId, id, sizeof id), 0);
    EXPECT_EQ(put.pmo.Options, MQPMO_NONE);
    /* A PCF header alone: command 0, sequence 1, the last, no parameters. */
    const MQLONG cfh[9] = {MQCFT_COMMAND, 36, 1, 0, 1, MQCFC_LAST, 0, 0, 0};
    ASSERT_EQ(put.data.size(), sizeof cfh);
    EXPECT_EQ(memcmp(put.data.data(), cfh, sizeof cfh), 0);

    /* A failed put is reported with the queue's name. */
    fakemq::State().putFailures = {MQRC_PUT_INHIBITED};
    EXPECT_EQ(PutSimpleCommand("REPORT"), MQRC_PUT_INHIBITED);
    EXPECT_NE(log.Text().find("CVLA107E MQPUT to queue 'CORVEL.TORVIK.COMMAND.QUEUE' failed with "
                              "reason 2051"),
              std::string::npos);
    EXPECT_EQ(HConnSecondary.load(), fakemq::SECONDARY_HCONN);

    DropSecondaryConnection();
    EXPECT_EQ(HConnSecondary.load(), MQHC_UNUSABLE_HCONN);
    EXPECT_EQ(fakemq::State().disconnects, 1);
    DropSecondaryConnection(); /* not connected: nothing to do */
    EXPECT_EQ(fakemq::State().disconnects, 1);
}

TEST_F(Puts, ALostSecondaryConnectionIsDroppedAndReportedOnlyBeforeTheStop) {
    fakemq::State().putFailures = {MQRC_CONNECTION_BROKEN};
    EXPECT_EQ(PutSimpleCommand("CHECKREPL"), MQRC_CONNECTION_BROKEN);
    EXPECT_EQ(HConnSecondary.load(), MQHC_UNUSABLE_HCONN);
    EXPECT_EQ(fakemq::CountOf(log.Text(), "CVLA107E"), 1);

    /* After the stop (the event handler has reported the loss) it is quiet. */
    HConnSecondary.store(fakemq::SECONDARY_HCONN);
    SetStopFlag();
    fakemq::State().putFailures = {MQRC_CONNECTION_BROKEN};
    EXPECT_EQ(PutSimpleCommand("CHECKREPL"), MQRC_CONNECTION_BROKEN);
    EXPECT_EQ(fakemq::CountOf(log.Text(), "CVLA107E"), 1);
}

TEST_F(Puts, ConnectionEventsStopTheAgentWithOneMessage) {
    MQCBC cbc = MQCBC_DEFAULT;
    cbc.CallType = MQCBCT_EVENT_CALL;
    cbc.Reason = MQRC_RECONNECTING; /* not one that stops */
    OnConnectionEvent(1, nullptr, nullptr, nullptr, &cbc);
    EXPECT_FALSE(StopRequested());
    cbc.CallType = MQCBCT_MSG_REMOVED; /* not an event */
    cbc.Reason = MQRC_CONNECTION_BROKEN;
    OnConnectionEvent(1, nullptr, nullptr, nullptr, &cbc);
    EXPECT_FALSE(StopRequested());

    cbc.CallType = MQCBCT_EVENT_CALL;
    for (MQLONG reason : {MQRC_CONNECTION_BROKEN, MQRC_Q_MGR_QUIESCING, MQRC_Q_MGR_STOPPING,
                          MQRC_CONNECTION_QUIESCING, MQRC_CONNECTION_STOPPING}) {
        ResetRunState();
        int before = fakemq::CountOf(log.Text(), "CVLA199E");
        cbc.Reason = reason;
        OnConnectionEvent(1, nullptr, nullptr, nullptr, &cbc);
        EXPECT_TRUE(StopRequested()) << reason;
        OnConnectionEvent(2, nullptr, nullptr, nullptr, &cbc); /* the other connection */
        EXPECT_EQ(fakemq::CountOf(log.Text(), "CVLA199E"), before + 1) << reason;
    }
    EXPECT_NE(log.Text().find("CVLA199E TORVIK received reason code 2202 ("), std::string::npos);
}

} /* namespace */
