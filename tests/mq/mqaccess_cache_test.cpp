/* mqaccess_cache_test.cpp -- the reply-queue handle cache against a
 * scripted MQI: one open per queue, the MaxMsgLen inquiry and its
 * fall-back, expiry after hobjttl, closing on the consumer's command and
 * the failure paths. */
#include <gtest/gtest.h>

#include <algorithm>

#include "core/agent.h"
#include "core/workers.h"
#include "log/cs.h"
#include "mq/hobjcache.h"
#include "support/fake_mqi.h"

namespace {

/* A record looked up and given back at once, as a caller done with it. */
HOBJCACHE *Got(const char *qName, const char *qmgrName, MQLONG options) {
    HOBJCACHE *entry = GetReplyQueueHandle(qName, qmgrName, options);
    ReleaseReplyQueueHandle(entry);
    return entry;
}

class HandleCache : public ::testing::Test {
protected:
    void SetUp() override {
        InitSettings();
        InitAgentState();
        CopyField(Settings.qmgrName, sizeof Settings.qmgrName, "QM1");
        fakemq::Install();
        log.Start();
    }
    void TearDown() override {
        ForgetCachedHandles();
        SetStopFlag();
        WaitForWorkers(300);
        CSSetMemFailAfter(-1);
    }
    fakemq::CapturedLog log;
};

TEST_F(HandleCache, OpensEachQueueOnceAndInquiresOnlyLocalQueues) {
    HOBJCACHE *first = Got("REPLY.Q", "QM1", 528);
    ASSERT_NE(first, nullptr);
    /* A blank-padded name is the same queue. */
    HOBJCACHE *again = Got("REPLY.Q                ", "QM1", 528);
    EXPECT_EQ(again, first);
    auto opens = fakemq::Opens();
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].name, "REPLY.Q");
    EXPECT_EQ(opens[0].options, 528 | MQOO_INQUIRE);
    EXPECT_EQ(first->maxMsgLen, 65536);
    EXPECT_EQ(first->defType, MQQDT_PREDEFINED);
    EXPECT_EQ(first->options, 528);

    /* Other options are another record. */
    HOBJCACHE *output = Got("REPLY.Q", "QM1", MQOO_OUTPUT);
    ASSERT_NE(output, nullptr);
    EXPECT_NE(output, first);

    /* A queue on another queue manager is not inquired and keeps maxmsgsize. */
    HOBJCACHE *remote = Got("REPLY.Q", "QM2", 528);
    ASSERT_NE(remote, nullptr);
    opens = fakemq::Opens();
    ASSERT_EQ(opens.size(), 3u);
    EXPECT_EQ(opens[2].qmgrName, "QM2");
    EXPECT_EQ(opens[2].options, 528);
    EXPECT_EQ(remote->maxMsgLen, Settings.maxMsgSize);
    EXPECT_EQ(remote->defType, 0);
    EXPECT_EQ(fakemq::State().inquiries, 2);

    /* replyqinq off: nothing is inquired. */
    ClearFlags(FLAG_REPLYQINQ);
    HOBJCACHE *plain = Got("OTHER.Q", "QM1", 528);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(fakemq::Opens().back().options, 528);
    EXPECT_EQ(plain->maxMsgLen, Settings.maxMsgSize);
}

TEST_F(HandleCache, RetriesWithoutInquireOn2045And2035) {
    for (MQLONG reason : {MQRC_OPTION_NOT_VALID_FOR_TYPE, MQRC_NOT_AUTHORIZED}) {
        fakemq::State().openFailures.push_back(reason);
        std::string name = "ALIAS.Q." + std::to_string(reason);
        HOBJCACHE *entry = Got(name.c_str(), "QM1", 528);
        ASSERT_NE(entry, nullptr);
        auto opens = fakemq::Opens();
        ASSERT_GE(opens.size(), 2u);
        EXPECT_EQ(opens[opens.size() - 2].options, 528 | MQOO_INQUIRE);
        EXPECT_EQ(opens.back().options, 528);
        EXPECT_EQ(entry->maxMsgLen, Settings.maxMsgSize);
    }
    EXPECT_EQ(fakemq::State().inquiries, 0);
    EXPECT_EQ(log.Text().find("CVLA104E"), std::string::npos);
}

TEST_F(HandleCache, ReportsOpenAndInquiryFailures) {
    /* Any other reason is final: CVLA104E with QMGR/QUEUE, no record. */
    fakemq::State().openFailures.push_back(MQRC_UNKNOWN_OBJECT_NAME);
    MQLONG reason = 0;
    EXPECT_EQ(FindReplyQueueHandle("NO.SUCH.Q", "QM2", 528, &reason), nullptr);
    /* A probe ahead of the replies says nothing: the put will. */
    size_t logged = log.Text().size();
    fakemq::State().openFailures.push_back(MQRC_UNKNOWN_OBJECT_NAME);
    EXPECT_EQ(ProbeReplyQueueHandle("NO.SUCH.Q", "QM2", 528, &reason), nullptr);
    EXPECT_EQ(reason, MQRC_UNKNOWN_OBJECT_NAME);
    EXPECT_EQ(log.Text().size(), logged);
    EXPECT_NE(log.Text().find("CVLA104E MQOPEN of queue 'QM2/NO.SUCH.Q' failed with reason 2085"),
              std::string::npos);
    /* Only the first reason of the two retried ones is retried. */
    fakemq::State().openFailures.push_back(MQRC_NOT_AUTHORIZED);
    fakemq::State().openFailures.push_back(MQRC_NOT_AUTHORIZED);
    EXPECT_EQ(Got("LOCKED.Q", "QM1", 528), nullptr);
    EXPECT_EQ(fakemq::Opens().size(), 4u);

    /* A failed inquiry keeps the handle with the defaults. */
    fakemq::State().inqReason = MQRC_NOT_AUTHORIZED;
    HOBJCACHE *entry = Got("NOINQ.Q", "QM1", 528);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->maxMsgLen, Settings.maxMsgSize);
    EXPECT_NE(
        log.Text().find("CVLA110E MQINQ of reply queue 'QM1/NOINQ.Q' failed with reason 2035"),
        std::string::npos);
    EXPECT_EQ(Got("NOINQ.Q", "QM1", 528), entry);
}

TEST_F(HandleCache, ExhaustedMemoryStopsTheAgentAndClosesTheHandle) {
    long before = CSMemBlocksInUse();
    CSSetMemFailAfter(0);
    MQLONG reason = 0;
    EXPECT_EQ(FindReplyQueueHandle("REPLY.Q", "QM1", 528, &reason), nullptr);
    CSSetMemFailAfter(-1);
    EXPECT_EQ(reason, MQRC_STORAGE_NOT_AVAILABLE);
    EXPECT_TRUE(StopRequested());
    EXPECT_NE(log.Text().find("for a 'HOBJCACHE' structure"), std::string::npos);
    ASSERT_EQ(fakemq::Closes().size(), 1u);
    EXPECT_EQ(fakemq::Closes()[0], fakemq::Opens()[0].hObj);
    EXPECT_EQ(CSMemBlocksInUse(), before);
}

TEST_F(HandleCache, ClosesHandlesUnusedForMoreThanTtl) {
    Settings.hobjTtl = 300;
    Settings.verbosity = VERBOSITY_HIGH;
    long before = CSMemBlocksInUse();
    HOBJCACHE *old = Got("OLD.Q", "QM1", 528);
    HOBJCACHE *young = Got("YOUNG.Q", "", 528);
    ASSERT_NE(old, nullptr);
    ASSERT_NE(young, nullptr);
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
    ASSERT_EQ(fakemq::Closes().size(), 1u);
    EXPECT_EQ(fakemq::Closes()[0], oldHandle);
    EXPECT_EQ(CSMemBlocksInUse(), before + 1);
    EXPECT_NE(log.Text().find("CVLA111I MQCLOSE of cached handle to queue 'QM1/OLD.Q' successful"),
              std::string::npos);
    EXPECT_EQ(Got("YOUNG.Q", "", 528), young);
    EXPECT_EQ(fakemq::Opens().size(), 2u);

    /* A failed close is reported; the record goes anyway. */
    fakemq::State().closeReason = MQRC_HCONN_ERROR;
    CheckHandleCacheAt(1, t0 + 10000);
    EXPECT_NE(log.Text().find("CVLA109E MQCLOSE of queue 'YOUNG.Q' failed with reason 2018"),
              std::string::npos);
    EXPECT_EQ(CSMemBlocksInUse(), before);

    /* The queue is opened again on the next reply. */
    ASSERT_NE(Got("OLD.Q", "QM1", 528), nullptr);
    EXPECT_EQ(fakemq::Opens().size(), 3u);
}

TEST_F(HandleCache, MainThreadCheckOnlyAsksTheConsumerToClose) {
    Settings.hobjTtl = 10;
    HOBJCACHE *entry = Got("REPLY.Q", "QM1", 528);
    ASSERT_NE(entry, nullptr);
    int64_t t0 = entry->lastUsed;

    /* Nothing expired: nothing sent. */
    CheckHandleCacheAt(0, t0 + 10);
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
    EXPECT_EQ(Got("REPLY.Q", "QM1", 528), entry);
}

TEST(QueueDisplayName, ShowsTheQueueManagerOnlyWhenNamed) {
    char buf[MQ_DISPLAY_NAME_SIZE];
    EXPECT_STREQ(QueueDisplayName(buf, "REPLY.Q   ", "QM2   "), "QM2/REPLY.Q");
    EXPECT_STREQ(QueueDisplayName(buf, "REPLY.Q", ""), "REPLY.Q");
    EXPECT_STREQ(QueueDisplayName(buf, "REPLY.Q", "        "), "REPLY.Q");
    /* Full 48-character fields without a terminator are read to 48 only. */
    char q[MQ_Q_NAME_LENGTH], qm[MQ_Q_MGR_NAME_LENGTH];
    memset(q, 'Q', sizeof q);
    memset(qm, 'M', sizeof qm);
    std::string shown = QueueDisplayName(buf, q, qm);
    EXPECT_EQ(shown, std::string(48, 'M') + "/" + std::string(48, 'Q'));
}

} /* namespace */

TEST_F(HandleCache, KeepsAtMostHobjmaxClosingTheLeastRecentlyUsedIdleOnes) {
    Settings.hobjMax = 3;
    MQHOBJ first = Got("Q.1", "QM1", 528)->hObj;
    HOBJCACHE *second = Got("Q.2", "QM1", 528);
    HOBJCACHE *held = GetReplyQueueHandle("Q.3", "QM1", 528); /* in use */
    /* Q.1 used again: Q.2 is now the least recently used. */
    EXPECT_EQ(Got("Q.1", "QM1", 528)->hObj, first);
    MQHOBJ secondHandle = second->hObj;
    ASSERT_NE(Got("Q.4", "QM1", 528), nullptr);
    ASSERT_EQ(fakemq::Closes().size(), 1u);
    EXPECT_EQ(fakemq::Closes()[0], secondHandle);
    EXPECT_EQ(CachedHandleCount(), 3);
    /* Q.1 is next; the held Q.3 is never closed. */
    ASSERT_NE(Got("Q.5", "QM1", 528), nullptr);
    ASSERT_NE(Got("Q.6", "QM1", 528), nullptr);
    auto closes = fakemq::Closes();
    ASSERT_EQ(closes.size(), 3u);
    EXPECT_EQ(closes[1], first);
    EXPECT_EQ(std::count(closes.begin(), closes.end(), held->hObj), 0);
    ReleaseReplyQueueHandle(held);
    EXPECT_EQ(CachedHandleCount(), 3);
}

TEST_F(HandleCache, NoHandleLeftClosesIdleHandlesAndOpensAgain) {
    for (int i = 0; i < 8; i++)
        ASSERT_NE(Got(("Q." + std::to_string(i)).c_str(), "QM1", 528), nullptr);
    /* The connection has no handle left for the next queue. */
    fakemq::State().openFailures.push_back(MQRC_HANDLE_NOT_AVAILABLE);
    HOBJCACHE *entry = Got("NEW.Q", "QM1", 528);
    ASSERT_NE(entry, nullptr);
    /* A quarter of the cache, the least recently used first. */
    auto closes = fakemq::Closes();
    ASSERT_EQ(closes.size(), 2u);
    EXPECT_EQ(closes[0], fakemq::Opens()[0].hObj);
    EXPECT_EQ(closes[1], fakemq::Opens()[1].hObj);
    EXPECT_EQ(log.Text().find("CVLA104E"), std::string::npos);

    /* Still none after that: reported once. */
    fakemq::State().openFailures = {MQRC_HANDLE_NOT_AVAILABLE, MQRC_HANDLE_NOT_AVAILABLE};
    EXPECT_EQ(Got("OTHER.Q", "QM1", 528), nullptr);
    EXPECT_EQ(fakemq::CountOf(log.Text(), "CVLA104E"), 1);
}

TEST_F(HandleCache, FindsEachOfManyQueuesByName) {
    Settings.hobjMax = 5000;
    std::vector<HOBJCACHE *> entries;
    for (int i = 0; i < 2000; i++)
        entries.push_back(Got(("APP.QUEUE." + std::to_string(i)).c_str(), "QM1", 528));
    for (int i = 0; i < 2000; i++)
        EXPECT_EQ(Got(("APP.QUEUE." + std::to_string(i)).c_str(), "QM1", 528), entries[i]);
    EXPECT_EQ(fakemq::Opens().size(), 2000u);
    EXPECT_EQ(Got("APP.QUEUE.1", "QM1", MQOO_OUTPUT), Got("APP.QUEUE.1", "QM1", MQOO_OUTPUT));
    EXPECT_NE(Got("APP.QUEUE.1", "QM1", MQOO_OUTPUT), entries[1]);
}
