/* routing_fixture.h -- the fixture of the unit tests of the routing module
 * and the modules above it: defaults, the fake MQI (tests/support), empty
 * tables, a captured log, and requests and replies made to order.
 */
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config/settings.h"
#include "core/agent.h"
#include "log/cs.h"
#include "log/output.h"
#include "log/status.h"
#include "mq/connect.h"
#include "mq/hobjcache.h"
#include "mq/queues.h"
#include "mqconst/mqconst.h"
#include "routing/request.h"
#include "routing/routing.h"
#include "support/fake_mqi.h"
#include "support/pcf_builder.h"

namespace rtest {

using fakemq::Puts;
using fakemq::PutsTo;
using PutRecord = fakemq::PUTCALL;
using tvtest::Get;
using tvtest::Parm;
using tvtest::Pcf;
using tvtest::ReadParms;
using tvtest::Set;

constexpr MQHCONN FakeHConnMain = fakemq::MAIN_HCONN;
constexpr MQHOBJ FakeCommandQ = 101;
constexpr MQHOBJ FakeInputQ = 102;
constexpr MQHOBJ FakeReplyQ = 103;
constexpr const char *FakeReplyQName = "CORVEL.TORVIK.4F2A000000000001";

/* Every routing unit test starts from defaults, the fake MQI, empty tables
 * and a captured log. */
class RoutingTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitSettings();
        InitAgentState();
        fakemq::Install();
        {
            std::lock_guard<std::mutex> g(fakemq::State().lock);
            fakemq::State().assignMsgIds = true;
            fakemq::State().inqMaxMsgLen = 4194304;
            fakemq::State().nextHObj = 500;
            fakemq::State().handleNames[FakeCommandQ] = "SYSTEM.ADMIN.COMMAND.QUEUE";
        }
        HObjCommandQ = FakeCommandQ;
        HObjInputQ = FakeInputQ;
        HObjReplyQ = FakeReplyQ;
        CopyField(Settings.qmgrName, sizeof Settings.qmgrName, "QM1");
        CopyField(Settings.actualReplyQName, sizeof Settings.actualReplyQName, FakeReplyQName);
        Settings.retryInt = 0;
        SetFlags(FLAG_SERVICE); /* no echo of the log to the console */
        log_.Start();
        RefreshCurrentTime();
    }

    void TearDown() override {
        ClearRequests();
        ForgetCachedHandles();
        LogStream.store(stdout); /* nothing closes the captured log but its owner */
        CSSetMemFailAfter(-1);
    }

    /* Everything written to the log so far. */
    std::string Log() { return log_.Text(); }

    /* A request of a requester on reply queue replyQ, not yet in the table. */
    REQUEST *Requester(const char *replyQ = "REQ.REPLY", MQLONG report = MQRO_NONE) {
        REQUEST *req = NewRequest(MQCMD_INQUIRE_Q);
        EXPECT_NE(req, nullptr);
        CopyField(req->replyQName, sizeof req->replyQName, replyQ);
        CopyField(req->replyQMgrName, sizeof req->replyQMgrName, "QM1");
        memset(req->msgId, 0xA1, sizeof req->msgId);
        memset(req->correlId, 0xC1, sizeof req->correlId);
        req->report = report;
        req->requestType = REQTYPE_PCF;
        return req;
    }

    /* A forwarded request in the table, its forwarded MsgId filled with b. */
    REQUEST *Forwarded(MQBYTE b, const char *replyQ = "REQ.REPLY",
                       MQLONG command = MQCMD_INQUIRE_Q) {
        REQUEST *req = Requester(replyQ);
        req->command = command;
        MQBYTE id[MQ_MSG_ID_LENGTH];
        memset(id, b, sizeof id);
        AddRequest(req, id);
        return req;
    }
    static std::vector<MQBYTE> Id(MQBYTE b) { return std::vector<MQBYTE>(MQ_MSG_ID_LENGTH, b); }

    /* The request in the table under forwarded MsgId id, or null. */
    static REQUEST *Lookup(const MQBYTE *id) {
        CSLockLock(&RequestLock);
        REQUEST *req = FindRequest(id);
        CSUnlockLock(&RequestLock);
        return req;
    }

    /* Forget the puts recorded so far. */
    static void ClearPuts() {
        std::lock_guard<std::mutex> g(fakemq::State().lock);
        fakemq::State().puts.clear();
    }

    /* Hand msg to a consumer (OnReplyMessage, OnCommandMessage) as the
     * queue manager would, in a buffer of exactly its size. */
    static void Consume(void (*consumer)(MQHCONN, MQMD *, MQGMO *, MQBYTE *, MQCBC *), MQMD *md,
                        const std::vector<MQBYTE> &msg) {
        MQGMO gmo = MQGMO_DEFAULT;
        gmo.ReturnedLength = (MQLONG)msg.size();
        MQCBC cbc = MQCBC_DEFAULT;
        cbc.CallType = MQCBCT_MSG_REMOVED;
        cbc.DataLength = cbc.BufferLength = (MQLONG)msg.size();
        std::vector<MQBYTE> buffer(msg);
        consumer(FakeHConnMain, md, &gmo, buffer.empty() ? nullptr : buffer.data(), &cbc);
    }
    /* One reply with MsgId msgId to OnReplyMessage. */
    static void DeliverReply(const MQBYTE *msgId, const std::vector<MQBYTE> &msg,
                             const char *format = MQFMT_ADMIN) {
        MQMD md = MQMD_DEFAULT;
        memcpy(md.Format, format, 8);
        md.MsgType = MQMT_REPLY;
        memcpy(md.MsgId, msgId, MQ_MSG_ID_LENGTH);
        Consume(OnReplyMessage, &md, msg);
    }

    fakemq::CapturedLog log_;
};

}  // namespace rtest
