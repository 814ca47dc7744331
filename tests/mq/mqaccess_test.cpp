/* mqaccess_test.cpp -- the MQ access code against a scripted MQI: the
 * reply-queue handle cache, then puts (retries, the reply identity rule,
 * simple commands and wake-ups) and the connection's event handler. */
#include <gtest/gtest.h>

#include "core/agent.h"
#include "core/workers.h"
#include "log/cs.h"
#include "log/status.h"
#include "mq/hobjcache.h"
#include "mq/queues.h"
#include "routing/request.h"
#include "routing/routing.h"
#include "support/fake_mqi.h"

namespace {

/* A record looked up and given back at once, as a caller done with it. */
HOBJCACHE *Got(const std::string &qName, const char *qmgrName = "QM1", MQLONG options = 528) {
    HOBJCACHE *entry = GetReplyQueueHandle(qName.c_str(), qmgrName, options);
    ReleaseReplyQueueHandle(entry);
    return entry;
}

/* Each open so far: "QMGR/NAME options". */
std::vector<std::string> Opened() {
    std::vector<std::string> opened;
    for (const fakemq::OPENCALL &o : fakemq::Opens())
        opened.push_back(o.qmgrName + "/" + o.name + " " + std::to_string(o.options));
    return opened;
}

using Strings = std::vector<std::string>;

class MqAccess : public ::testing::Test {
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
        CSSetMemFailAfter(-1);
    }
    bool Logged(const std::string &text) { return log.Text().find(text) != std::string::npos; }
    fakemq::CapturedLog log;
};
using HandleCache = MqAccess;
using Puts = MqAccess;

TEST_F(HandleCache, OpensEachQueueOnceAndInquiresOnlyLocalQueues) {
    HOBJCACHE *first = Got("REPLY.Q");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Got("REPLY.Q                "), first); /* a blank-padded name is the same queue */
    EXPECT_EQ(first->maxMsgLen, 65536);
    EXPECT_EQ(first->defType, MQQDT_PREDEFINED);
    EXPECT_EQ(first->options, 528);
    HOBJCACHE *output = Got("REPLY.Q", "QM1", MQOO_OUTPUT); /* other options: another record */
    ASSERT_NE(output, nullptr);
    EXPECT_NE(output, first);
    /* A queue on another queue manager is not inquired and keeps maxmsgsize. */
    HOBJCACHE *remote = Got("REPLY.Q", "QM2");
    ASSERT_NE(remote, nullptr);
    EXPECT_EQ(remote->maxMsgLen, Settings.maxMsgSize);
    EXPECT_EQ(remote->defType, 0);
    EXPECT_EQ(fakemq::State().inquiries, 2);
    /* replyqinq off: nothing is inquired. */
    ClearFlags(FLAG_REPLYQINQ);
    HOBJCACHE *plain = Got("OTHER.Q");
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->maxMsgLen, Settings.maxMsgSize);
    const std::string inquire = std::to_string(528 | MQOO_INQUIRE);
    EXPECT_EQ(Opened(), (Strings{"QM1/REPLY.Q " + inquire,
                                 "QM1/REPLY.Q " + std::to_string(MQOO_OUTPUT | MQOO_INQUIRE),
                                 "QM2/REPLY.Q 528", "QM1/OTHER.Q 528"}));
}

TEST_F(HandleCache, RetriesWithoutInquireOn2045And2035) {
    for (MQLONG reason : {MQRC_OPTION_NOT_VALID_FOR_TYPE, MQRC_NOT_AUTHORIZED}) {
        fakemq::Install();
        fakemq::State().openFailures.push_back(reason);
        HOBJCACHE *entry = Got("ALIAS.Q." + std::to_string(reason));
        ASSERT_NE(entry, nullptr);
        std::string name = "QM1/ALIAS.Q." + std::to_string(reason);
        EXPECT_EQ(Opened(),
                  (Strings{name + " " + std::to_string(528 | MQOO_INQUIRE), name + " 528"}));
        EXPECT_EQ(entry->maxMsgLen, Settings.maxMsgSize);
        EXPECT_EQ(fakemq::State().inquiries, 0);
    }
    EXPECT_FALSE(Logged("CVLA104E"));
}

TEST_F(HandleCache, ReportsOpenAndInquiryFailures) {
    /* Any other reason is final: CVLA104E with QMGR/QUEUE, no record; a
     * probe ahead of the replies says nothing (the put will). */
    MQLONG reason = 0;
    fakemq::State().openFailures = {MQRC_UNKNOWN_OBJECT_NAME, MQRC_UNKNOWN_OBJECT_NAME};
    EXPECT_EQ(ProbeReplyQueueHandle("NO.SUCH.Q", "QM2", 528, &reason), nullptr);
    EXPECT_EQ(reason, MQRC_UNKNOWN_OBJECT_NAME);
    EXPECT_EQ(log.Text(), "");
    EXPECT_EQ(FindReplyQueueHandle("NO.SUCH.Q", "QM2", 528, &reason), nullptr);
    EXPECT_TRUE(Logged("CVLA104E MQOPEN of queue 'QM2/NO.SUCH.Q' failed with reason 2085"));
    /* Only the first reason of the two retried ones is retried. */
    fakemq::State().openFailures = {MQRC_NOT_AUTHORIZED, MQRC_NOT_AUTHORIZED};
    EXPECT_EQ(Got("LOCKED.Q"), nullptr);
    EXPECT_EQ(fakemq::Opens().size(), 4u);

    /* A failed inquiry keeps the handle with the defaults. */
    fakemq::State().inqReason = MQRC_NOT_AUTHORIZED;
    HOBJCACHE *entry = Got("NOINQ.Q");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->maxMsgLen, Settings.maxMsgSize);
    EXPECT_TRUE(Logged("CVLA110E MQINQ of reply queue 'QM1/NOINQ.Q' failed with reason 2035"));
    EXPECT_EQ(Got("NOINQ.Q"), entry);
}

TEST_F(HandleCache, ExhaustedMemoryStopsTheAgentAndClosesTheHandle) {
    long before = CSMemBlocksInUse();
    CSSetMemFailAfter(0);
    MQLONG reason = 0;
    EXPECT_EQ(FindReplyQueueHandle("REPLY.Q", "QM1", 528, &reason), nullptr);
    CSSetMemFailAfter(-1);
    EXPECT_EQ(reason, MQRC_STORAGE_NOT_AVAILABLE);
    EXPECT_TRUE(StopRequested());
    EXPECT_TRUE(Logged("for a 'HOBJCACHE' structure"));
    EXPECT_EQ(fakemq::Closes(), std::vector<MQHOBJ>{fakemq::Opens()[0].hObj});
    EXPECT_EQ(CSMemBlocksInUse(), before);
}

TEST_F(HandleCache, ClosesHandlesUnusedForMoreThanTtl) {
    Settings.hobjTtl = 300;
    long before = CSMemBlocksInUse();
    HOBJCACHE *old = Got("OLD.Q");
    HOBJCACHE *young = Got("YOUNG.Q", "");
    ASSERT_TRUE(old != nullptr && young != nullptr);
    EXPECT_EQ(CSMemBlocksInUse(), before + 2);
    int64_t t0 = old->lastUsed;
    old->lastUsed = t0 - 1;
    young->lastUsed = t0;
    MQHOBJ oldHandle = old->hObj;

    /* Exactly hobjttl seconds unused is not expired. */
    CheckHandleCacheAt(1, t0 - 1 + 300);
    EXPECT_TRUE(fakemq::Closes().empty());
    EXPECT_EQ(LastHandleCheck.load(), t0 - 1 + 300);
    /* One more second: the old handle is closed and freed, the young one kept. */
    CheckHandleCacheAt(1, t0 + 300);
    EXPECT_EQ(fakemq::Closes(), std::vector<MQHOBJ>{oldHandle});
    EXPECT_EQ(CSMemBlocksInUse(), before + 1);
    EXPECT_TRUE(Logged("CVLA111I MQCLOSE of cached handle to queue 'QM1/OLD.Q' successful"));
    EXPECT_EQ(Got("YOUNG.Q", ""), young);
    /* A failed close is reported; the record goes anyway. */
    fakemq::State().closeReason = MQRC_HCONN_ERROR;
    CheckHandleCacheAt(1, t0 + 10000);
    EXPECT_TRUE(Logged("CVLA109E MQCLOSE of queue 'YOUNG.Q' failed with reason 2018"));
    EXPECT_EQ(CSMemBlocksInUse(), before);
    /* The queue is opened again on the next reply. */
    ASSERT_NE(Got("OLD.Q"), nullptr);
    EXPECT_EQ(fakemq::Opens().size(), 3u);
}

TEST_F(HandleCache, MainThreadCheckOnlyAsksTheConsumerToClose) {
    Settings.hobjTtl = 10;
    HOBJCACHE *entry = Got("REPLY.Q");
    ASSERT_NE(entry, nullptr);
    int64_t t0 = entry->lastUsed;
    CheckHandleCacheAt(0, t0 + 10); /* nothing expired: nothing sent */
    /* Expired: CHECKHOBJ goes to the input queue through a worker; the
     * handle stays open for the consumer thread to close. */
    CheckHandleCacheAt(0, t0 + 11);
    ASSERT_TRUE(fakemq::WaitUntil([] { return !fakemq::Puts().empty(); }));
    auto puts = fakemq::Puts();
    ASSERT_EQ(puts.size(), 1u);
    EXPECT_EQ(puts[0].hConn, fakemq::SECONDARY_HCONN);
    EXPECT_EQ(puts[0].name, "CORVEL.TORVIK.COMMAND.QUEUE");
    EXPECT_EQ(puts[0].text(), "CHECKHOBJ");
    EXPECT_TRUE(fakemq::Closes().empty());
    EXPECT_EQ(Got("REPLY.Q"), entry);
}

TEST_F(HandleCache, KeepsAtMostHobjmaxClosingTheLeastRecentlyUsedIdleOnes) {
    Settings.hobjMax = 3;
    MQHOBJ first = Got("Q.1")->hObj;
    MQHOBJ second = Got("Q.2")->hObj;
    HOBJCACHE *held = GetReplyQueueHandle("Q.3", "QM1", 528); /* in use */
    EXPECT_EQ(Got("Q.1")->hObj, first); /* Q.2 is now the least recently used */
    ASSERT_NE(Got("Q.4"), nullptr);
    EXPECT_EQ(fakemq::Closes(), std::vector<MQHOBJ>{second});
    EXPECT_EQ(CachedHandleCount(), 3);
    /* Q.1 is next; the held Q.3 is never closed. */
    ASSERT_NE(Got("Q.5"), nullptr);
    ASSERT_NE(Got("Q.6"), nullptr);
    MQHOBJ fourth = fakemq::Opens()[3].hObj;
    EXPECT_EQ(fakemq::Closes(), (std::vector<MQHOBJ>{second, first, fourth}));
    ReleaseReplyQueueHandle(held);
    EXPECT_EQ(CachedHandleCount(), 3);
}

TEST_F(HandleCache, NoHandleLeftClosesIdleHandlesAndOpensAgain) {
    for (int i = 0; i < 8; i++)
        ASSERT_NE(Got("Q." + std::to_string(i)), nullptr);
    /* The connection has no handle left for the next queue: a quarter of
     * the cache goes, the least recently used first. */
    fakemq::State().openFailures.push_back(MQRC_HANDLE_NOT_AVAILABLE);
    ASSERT_NE(Got("NEW.Q"), nullptr);
    auto opens = fakemq::Opens();
    EXPECT_EQ(fakemq::Closes(), (std::vector<MQHOBJ>{opens[0].hObj, opens[1].hObj}));
    EXPECT_FALSE(Logged("CVLA104E"));
    /* Still none after that: reported once. */
    fakemq::State().openFailures = {MQRC_HANDLE_NOT_AVAILABLE, MQRC_HANDLE_NOT_AVAILABLE};
    EXPECT_EQ(Got("OTHER.Q"), nullptr);
    EXPECT_EQ(fakemq::CountOf(log.Text(), "CVLA104E"), 1);
}

TEST(QueueDisplayName, LeavesOutABlankQueueManagerAndReadsFullFieldsTo48) {
    char buf[MQ_DISPLAY_NAME_SIZE];
    EXPECT_STREQ(QueueDisplayName(buf, "REPLY.Q   ", "        "), "REPLY.Q");
    char q[MQ_Q_NAME_LENGTH], qm[MQ_Q_MGR_NAME_LENGTH];
    memset(q, 'Q', sizeof q);
    memset(qm, 'M', sizeof qm);
    EXPECT_EQ(std::string(QueueDisplayName(buf, q, qm)),
              std::string(48, 'M') + "/" + std::string(48, 'Q'));
}

REQUEST MakeRequest(MQLONG report) {
    REQUEST req;
    memset(&req, 0, sizeof req);
    strcpy(req.replyQName, "REQ.REPLY");
    strcpy(req.replyQMgrName, "QM2");
    req.report = report;
    memset(req.msgId, 'M', sizeof req.msgId);
    memset(req.correlId, 'C', sizeof req.correlId);
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

TEST_F(Puts, AReplyThatCannotBePutIsReportedWithItsQueue) {
    Settings.retryCount = 1;
    fakemq::State().putFailures = {MQRC_Q_FULL, MQRC_Q_FULL};
    REQUEST req = MakeRequest(MQRO_NONE);
    MQMD md = MQMD_DEFAULT;
    EXPECT_EQ(PutReply(&req, &md, "reply", 5, 0), MQRC_Q_FULL);
    EXPECT_TRUE(Logged("CVLA107E MQPUT to queue 'QM2/REQ.REPLY' failed with reason 2053"));
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
    /* MQSTR, no reply queue, a datagram, persistence as the queue's, no syncpoint */
    EXPECT_EQ(std::string(put.md.Format, 8) + put.md.ReplyToQ[0] + put.md.ReplyToQMgr[0],
              "MQSTR     ");
    EXPECT_EQ(std::vector<MQLONG>({put.md.MsgType, put.md.Persistence, put.pmo.Options}),
              std::vector<MQLONG>({MQMT_DATAGRAM, MQPER_PERSISTENCE_AS_Q_DEF, MQPMO_NO_SYNCPOINT}));

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
    EXPECT_TRUE(
        Logged("CVLA107E MQPUT to queue 'CORVEL.TORVIK.COMMAND.QUEUE' failed with "
               "reason 2051"));
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
    EXPECT_TRUE(Logged("CVLA199E TORVIK received reason code 2202 ("));
}

} /* namespace */
