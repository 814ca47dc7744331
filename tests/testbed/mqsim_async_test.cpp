/* mqsim_async_test.cpp -- asynchronous consumption through the stand-in
 * MQI library: consumers called one at a time on one thread after
 * MQOP_START, MQOP_STOP waiting for a running callback, GET(DISABLED) event
 * calls, and the connection events of `mqsim break`, `mqsim stop`,
 * `mqsim stop --quiesce` and `mqsim fault QM event`. */
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/process.h"
#include "mqsim_util.h"

namespace {

/* What the callbacks saw; shared through MQCBD.CallbackArea. */
struct SEEN {
    std::mutex mu;
    std::vector<std::string> texts;
    std::vector<MQLONG> callTypes;
    std::vector<MQLONG> reasons;
    std::vector<MQHOBJ> hobjs;
    std::vector<MQLONG> returnedLengths;
    std::vector<MQLONG> dataLengths;
    std::vector<MQLONG> compCodes;
    std::set<std::thread::id> threads;
    std::atomic<int> inside{0};
    std::atomic<int> overlap{0};
    std::atomic<int> calls{0};
    /* blocking: a callback waits while hold is set */
    std::atomic<int> hold{0};
    std::atomic<int> entered{0};
    std::atomic<int> finished{0};
    /* forwarding: each message is put on with its context passed */
    MQHOBJ forwardTo = MQHO_NONE;
    std::atomic<MQLONG> forwardRc{-1};
};

void MQENTRY Consumer(MQHCONN hconn, PMQMD md, PMQGMO gmo, PMQVOID buffer, PMQCBC cbc) {
    SEEN *s = (SEEN *)cbc->CallbackArea;
    if (s->inside.fetch_add(1) != 0)
        s->overlap++;
    s->entered++;
    while (s->hold.load())
        PLSleep(1);
    {
        std::lock_guard<std::mutex> g(s->mu);
        s->threads.insert(std::this_thread::get_id());
        s->callTypes.push_back(cbc->CallType);
        s->reasons.push_back(cbc->Reason);
        s->compCodes.push_back(cbc->CompCode);
        s->hobjs.push_back(cbc->Hobj);
        s->dataLengths.push_back(cbc->DataLength);
        s->returnedLengths.push_back(gmo->ReturnedLength);
        if (cbc->CallType != MQCBCT_EVENT_CALL)
            s->texts.emplace_back((const char *)buffer, (size_t)cbc->BufferLength);
        else
            s->texts.emplace_back();
    }
    if (cbc->CallType == MQCBCT_MSG_REMOVED && s->forwardTo != MQHO_NONE) {
        MQMD fwd = MQMD_DEFAULT;
        s->forwardRc = Put(hconn, s->forwardTo, "fwd", &fwd,
                           MQPMO_NO_SYNCPOINT | MQPMO_PASS_ALL_CONTEXT, cbc->Hobj);
        (void)md;
    }
    s->finished++;
    s->inside--;
    s->calls++;
}

MQLONG Register(MQHCONN h, MQHOBJ o, SEEN *s, MQLONG type = MQCBT_MESSAGE_CONSUMER) {
    MQCBD cbd = MQCBD_DEFAULT;
    cbd.CallbackType = type;
    cbd.CallbackFunction = (MQPTR)Consumer;
    cbd.CallbackArea = s;
    MQMD md = MQMD_DEFAULT;
    MQGMO gmo = MQGMO_DEFAULT;
    gmo.Options = MQGMO_NO_SYNCPOINT | MQGMO_FAIL_IF_QUIESCING | MQGMO_CONVERT;
    MQLONG cc, rc;
    if (type == MQCBT_EVENT_HANDLER)
        MQCB(h, MQOP_REGISTER, &cbd, MQHO_NONE, nullptr, nullptr, &cc, &rc);
    else
        MQCB(h, MQOP_REGISTER, &cbd, o, &md, &gmo, &cc, &rc);
    return rc;
}

MQLONG Control(MQHCONN h, MQLONG op) {
    MQCTLO ctlo = MQCTLO_DEFAULT;
    ctlo.Options = MQCTLO_FAIL_IF_QUIESCING;
    MQLONG cc, rc;
    MQCTL(h, op, &ctlo, &cc, &rc);
    return rc;
}

class MqsimAsync : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(qm.Start("QMA", {"--mqsc", MqsimQueueManager::Sample("torvik.mqsc")}), "");
        std::string out;
        ASSERT_EQ(qm.Run({"mqsc", "QMA", "DEFINE QLOCAL(A.Q)"}, &out), 0) << out;
        ASSERT_EQ(qm.Run({"mqsc", "QMA", "DEFINE QLOCAL(B.Q)"}, &out), 0) << out;
        ASSERT_EQ(Connect("QMA", &h), 0);
    }
    void TearDown() override {
        if (h != MQHC_UNUSABLE_HCONN) {
            Control(h, MQOP_STOP);
            Disconnect(&h);
        }
    }
    MqsimQueueManager qm;
    MQHCONN h = MQHC_UNUSABLE_HCONN;
};

TEST_F(MqsimAsync, ConsumersAreCalledOneAtATimeOnOneThreadAfterStart) {
    SEEN s;
    MQHOBJ a, b, out;
    ASSERT_EQ(Open(h, "A.Q", MQOO_INPUT_SHARED | MQOO_SAVE_ALL_CONTEXT, &a), 0);
    ASSERT_EQ(Open(h, "B.Q", MQOO_INPUT_SHARED | MQOO_SAVE_ALL_CONTEXT, &b), 0);
    ASSERT_EQ(Open(h, "CORVEL.TORVIK.COMMAND.QUEUE", MQOO_OUTPUT | MQOO_PASS_ALL_CONTEXT, &out), 0);
    ASSERT_EQ(Register(h, a, &s), 0);
    ASSERT_EQ(Register(h, b, &s), 0);
    s.forwardTo = out;
    /* messages put before the start wait for it */
    MQHCONN p;
    ASSERT_EQ(Connect("QMA", &p), 0);
    for (int i = 0; i < 20; i++) {
        ASSERT_EQ(Put1(p, i % 2 ? "B.Q" : "A.Q", "msg" + std::to_string(i)), 0);
    }
    EXPECT_EQ(s.calls.load(), 0);
    ASSERT_EQ(Control(h, MQOP_START), 0);
    ASSERT_TRUE(WaitUntil([&] { return s.calls.load() == 20; })) << s.calls.load();
    /* and so do messages that arrive while consuming */
    for (int i = 20; i < 40; i++)
        ASSERT_EQ(Put1(p, i % 2 ? "B.Q" : "A.Q", "msg" + std::to_string(i)), 0);
    ASSERT_TRUE(WaitUntil([&] { return s.calls.load() == 40; })) << s.calls.load();
    EXPECT_EQ(s.overlap.load(), 0) << "never two callbacks at once";
    std::lock_guard<std::mutex> g(s.mu);
    EXPECT_EQ(s.threads.size(), 1u) << "all on one thread";
    EXPECT_EQ(s.threads.count(std::this_thread::get_id()), 0u) << "of the library's own";
    std::set<std::string> texts(s.texts.begin(), s.texts.end());
    EXPECT_EQ(texts.size(), 40u);
    for (size_t i = 0; i < s.callTypes.size(); i++) {
        EXPECT_EQ(s.callTypes[i], MQCBCT_MSG_REMOVED);
        EXPECT_EQ(s.returnedLengths[i], (MQLONG)s.texts[i].size());
        EXPECT_EQ(s.dataLengths[i], (MQLONG)s.texts[i].size());
        EXPECT_TRUE(s.hobjs[i] == a || s.hobjs[i] == b);
    }
    /* the consumer put on with MQPMO_PASS_ALL_CONTEXT from its own handle */
    EXPECT_EQ(s.forwardRc.load(), 0);
    MQHOBJ in;
    ASSERT_EQ(Open(p, "CORVEL.TORVIK.COMMAND.QUEUE", MQOO_INPUT_SHARED, &in), 0);
    MQMD fwd = MQMD_DEFAULT;
    ASSERT_EQ(Get(p, in, nullptr, &fwd), 0);
    char user[64];
    PLUserName(user, sizeof user);
    EXPECT_EQ(GetName(fwd.UserIdentifier, 12), std::string(user).substr(0, 12));
    /* MQGET on a started connection is refused outside the callbacks */
    EXPECT_EQ(Get(h, a, nullptr), MQRC_HCONN_ASYNC_ACTIVE);
    Disconnect(&p);
}

TEST_F(MqsimAsync, StopReturnsAfterTheRunningCallbackAndLeavesTheRestQueued) {
    SEEN s;
    MQHOBJ a;
    ASSERT_EQ(Open(h, "A.Q", MQOO_INPUT_SHARED, &a), 0);
    ASSERT_EQ(Register(h, a, &s), 0);
    s.hold = 1;
    for (int i = 0; i < 3; i++)
        ASSERT_EQ(Put1(h, "A.Q", "m" + std::to_string(i)), 0);
    ASSERT_EQ(Control(h, MQOP_START), 0);
    ASSERT_TRUE(WaitUntil([&] { return s.entered.load() == 1; }));
    std::atomic<int> stopCalling{0}, stopReturned{0}, finishedAtReturn{-1};
    std::atomic<MQLONG> stopRc{-1};
    std::thread stopper([&] {
        stopCalling = 1;
        stopRc = Control(h, MQOP_STOP);
        finishedAtReturn = s.finished.load();
        stopReturned = 1;
    });
    ASSERT_TRUE(WaitUntil([&] { return stopCalling.load() == 1; }));
    EXPECT_EQ(stopReturned.load(), 0);
    s.hold = 0;
    stopper.join();
    EXPECT_EQ(stopRc.load(), 0);
    EXPECT_EQ(finishedAtReturn.load(), 1) << "MQOP_STOP returned before the callback ended";
    EXPECT_EQ(s.calls.load(), 1);
    /* the two others were not consumed */
    std::string text;
    ASSERT_EQ(Get(h, a, &text), 0);
    EXPECT_EQ(text, "m1");
    ASSERT_EQ(Get(h, a, &text), 0);
    EXPECT_EQ(text, "m2");
    EXPECT_EQ(s.calls.load(), 1);
    /* consumption starts again where it left off */
    ASSERT_EQ(Put1(h, "A.Q", "again"), 0);
    ASSERT_EQ(Control(h, MQOP_START), 0);
    ASSERT_TRUE(WaitUntil([&] { return s.calls.load() == 2; }));
    std::lock_guard<std::mutex> g(s.mu);
    EXPECT_EQ(s.texts.back(), "again");
}

TEST_F(MqsimAsync, GetDisabledQueueGivesTheConsumerAnEventCall) {
    SEEN s;
    MQHOBJ a;
    ASSERT_EQ(Open(h, "A.Q", MQOO_INPUT_SHARED, &a), 0);
    ASSERT_EQ(Register(h, a, &s), 0);
    ASSERT_EQ(Control(h, MQOP_START), 0);
    std::string out;
    ASSERT_EQ(qm.Run({"mqsc", "QMA", "ALTER QLOCAL(A.Q) GET(DISABLED)"}, &out), 0) << out;
    ASSERT_TRUE(WaitUntil([&] { return s.calls.load() == 1; }));
    {
        std::lock_guard<std::mutex> g(s.mu);
        EXPECT_EQ(s.callTypes[0], MQCBCT_EVENT_CALL);
        EXPECT_EQ(s.reasons[0], MQRC_GET_INHIBITED);
        EXPECT_EQ(s.hobjs[0], a);
    }
    /* messages wait while the queue is GET(DISABLED), and come after */
    MQHCONN p;
    ASSERT_EQ(Connect("QMA", &p), 0);
    ASSERT_EQ(Put1(p, "A.Q", "held back"), 0);
    Disconnect(&p);
    ASSERT_EQ(qm.Run({"mqsc", "QMA", "ALTER QLOCAL(A.Q) GET(ENABLED)"}, &out), 0) << out;
    ASSERT_TRUE(WaitUntil([&] { return s.calls.load() == 2; }));
    std::lock_guard<std::mutex> g(s.mu);
    EXPECT_EQ(s.callTypes[1], MQCBCT_MSG_REMOVED);
    EXPECT_EQ(s.texts[1], "held back");
}

TEST_F(MqsimAsync, BreakGivesTheEventHandlerConnectionBroken) {
    SEEN consumer, events;
    MQHOBJ a;
    ASSERT_EQ(Open(h, "A.Q", MQOO_INPUT_SHARED, &a), 0);
    ASSERT_EQ(Register(h, a, &consumer), 0);
    ASSERT_EQ(Register(h, MQHO_NONE, &events, MQCBT_EVENT_HANDLER), 0);
    ASSERT_EQ(Control(h, MQOP_START), 0);
    std::string out;
    ASSERT_EQ(qm.Run({"break", "QMA"}, &out), 0) << out;
    ASSERT_TRUE(WaitUntil([&] { return events.calls.load() == 1; }));
    {
        std::lock_guard<std::mutex> g(events.mu);
        EXPECT_EQ(events.callTypes[0], MQCBCT_EVENT_CALL);
        EXPECT_EQ(events.reasons[0], MQRC_CONNECTION_BROKEN);
        EXPECT_EQ(events.threads.count(std::this_thread::get_id()), 0u);
    }
    EXPECT_EQ(consumer.calls.load(), 0) << "the event handler took the event";
    EXPECT_EQ(Put1(h, "A.Q", "x"), MQRC_CONNECTION_BROKEN);
    /* the queue manager itself goes on */
    MQHCONN h2;
    ASSERT_EQ(Connect("QMA", &h2), 0);
    EXPECT_EQ(Put1(h2, "A.Q", "after the break"), 0);
    Disconnect(&h2);
    Disconnect(&h);
    EXPECT_EQ(h, MQHC_UNUSABLE_HCONN);
}

TEST_F(MqsimAsync, WithoutAnEventHandlerTheConsumersGetConnectionEvents) {
    SEEN consumer;
    MQHOBJ a;
    ASSERT_EQ(Open(h, "A.Q", MQOO_INPUT_SHARED, &a), 0);
    ASSERT_EQ(Register(h, a, &consumer), 0);
    ASSERT_EQ(Control(h, MQOP_START), 0);
    std::string out;
    ASSERT_EQ(qm.Run({"break", "QMA"}, &out), 0) << out;
    ASSERT_TRUE(WaitUntil([&] { return consumer.calls.load() == 1; }));
    std::lock_guard<std::mutex> g(consumer.mu);
    EXPECT_EQ(consumer.callTypes[0], MQCBCT_EVENT_CALL);
    EXPECT_EQ(consumer.reasons[0], MQRC_CONNECTION_BROKEN);
}

TEST_F(MqsimAsync, FaultEventsReachEveryEventHandler) {
    SEEN events;
    ASSERT_EQ(Register(h, MQHO_NONE, &events, MQCBT_EVENT_HANDLER), 0);
    MQHCONN plain;
    ASSERT_EQ(Connect("QMA", &plain), 0);
    std::string out;
    ASSERT_EQ(qm.Run({"fault", "QMA", "event", "2202"}, &out), 0) << out;
    EXPECT_NE(out.find("sent to 1 connection"), std::string::npos) << out;
    ASSERT_TRUE(WaitUntil([&] { return events.calls.load() == 1; }));
    std::lock_guard<std::mutex> g(events.mu);
    EXPECT_EQ(events.reasons[0], MQRC_CONNECTION_QUIESCING);
    EXPECT_EQ(Put1(plain, "A.Q", "unaffected"), 0);
    Disconnect(&plain);
}

TEST_F(MqsimAsync, QuiesceWarnsEventHandlersAndFailsQuiescingCalls) {
    SEEN events;
    ASSERT_EQ(Register(h, MQHO_NONE, &events, MQCBT_EVENT_HANDLER), 0);
    int port;
    int64_t pid;
    ASSERT_TRUE(qm.PortFile("QMA", &port, &pid));
    std::string out;
    std::atomic<int> stopRc{-1};
    std::thread stopper([&] { stopRc = qm.Run({"stop", "QMA", "--quiesce"}, &out); });
    EXPECT_TRUE(WaitUntil([&] { return events.calls.load() >= 1; }));
    {
        std::lock_guard<std::mutex> g(events.mu);
        ASSERT_FALSE(events.reasons.empty());
        EXPECT_EQ(events.reasons[0], MQRC_Q_MGR_QUIESCING);
    }
    MQHOBJ o;
    EXPECT_EQ(Open(h, "A.Q", MQOO_OUTPUT | MQOO_FAIL_IF_QUIESCING, &o), MQRC_Q_MGR_QUIESCING);
    EXPECT_EQ(Open(h, "A.Q", MQOO_OUTPUT, &o), 0) << "without FAIL_IF_QUIESCING it works";
    MQHCONN late;
    EXPECT_EQ(Connect("QMA", &late), MQRC_Q_MGR_QUIESCING);
    /* once the last connection goes, the queue manager ends */
    Disconnect(&h);
    stopper.join();
    EXPECT_EQ(stopRc.load(), 0) << out;
    EXPECT_FALSE(PLProcessAlive(pid));
    EXPECT_FALSE(qm.PortFile("QMA", &port, &pid));
}

TEST_F(MqsimAsync, AnOrdinaryDisconnectRaisesNoEvent) {
    SEEN events;
    for (int i = 0; i < 20; i++) {
        MQHCONN c;
        ASSERT_EQ(Connect("QMA", &c), 0);
        ASSERT_EQ(Register(c, MQHO_NONE, &events, MQCBT_EVENT_HANDLER), 0);
        ASSERT_EQ(Put1(c, "A.Q", "x"), 0);
        ASSERT_EQ(Disconnect(&c), 0);
    }
    /* disconnecting joins the event thread: anything queued has been called */
    EXPECT_EQ(events.calls.load(), 0);
}

TEST_F(MqsimAsync, PlainStopBreaksConnections) {
    SEEN events;
    ASSERT_EQ(Register(h, MQHO_NONE, &events, MQCBT_EVENT_HANDLER), 0);
    std::string out;
    ASSERT_EQ(qm.Run({"stop", "QMA"}, &out), 0) << out;
    ASSERT_TRUE(WaitUntil([&] { return events.calls.load() == 1; }));
    std::lock_guard<std::mutex> g(events.mu);
    EXPECT_EQ(events.reasons[0], MQRC_CONNECTION_BROKEN);
    MQLONG rc = Put1(h, "A.Q", "x");
    EXPECT_TRUE(rc == MQRC_CONNECTION_BROKEN || rc == MQRC_HCONN_ERROR) << rc;
}

TEST_F(MqsimAsync, CallbackArgumentsAreChecked) {
    MQLONG cc, rc;
    MQHOBJ a;
    ASSERT_EQ(Open(h, "A.Q", MQOO_INPUT_SHARED, &a), 0);
    MQCB(h, MQOP_REGISTER, nullptr, a, nullptr, nullptr, &cc, &rc);
    EXPECT_EQ(rc, MQRC_CBD_ERROR);
    MQCBD cbd = MQCBD_DEFAULT;
    cbd.CallbackType = 7;
    cbd.CallbackFunction = (MQPTR)Consumer;
    MQCB(h, MQOP_REGISTER, &cbd, a, nullptr, nullptr, &cc, &rc);
    EXPECT_EQ(rc, MQRC_CALLBACK_TYPE_ERROR);
    cbd.CallbackType = MQCBT_MESSAGE_CONSUMER;
    cbd.CallbackFunction = nullptr;
    MQCB(h, MQOP_REGISTER, &cbd, a, nullptr, nullptr, &cc, &rc);
    EXPECT_EQ(rc, MQRC_CALLBACK_ROUTINE_ERROR);
    cbd.CallbackFunction = (MQPTR)Consumer;
    MQHOBJ outOnly;
    ASSERT_EQ(Open(h, "A.Q", MQOO_OUTPUT, &outOnly), 0);
    MQCB(h, MQOP_REGISTER, &cbd, outOnly, nullptr, nullptr, &cc, &rc);
    EXPECT_EQ(rc, MQRC_NOT_OPEN_FOR_INPUT);
    EXPECT_EQ(Control(h, MQOP_START), MQRC_NO_CALLBACKS_ACTIVE);
    MQCTLO bad = MQCTLO_DEFAULT;
    bad.StrucId[0] = 'X';
    MQCTL(h, MQOP_START, &bad, &cc, &rc);
    EXPECT_EQ(rc, MQRC_CTLO_ERROR);
    std::string out;
    ASSERT_EQ(qm.Run({"fault", "QMA", "call", "MQCB", "A.Q", "2035", "1"}, &out), 0);
    SEEN s;
    EXPECT_EQ(Register(h, a, &s), MQRC_NOT_AUTHORIZED);
    EXPECT_EQ(Register(h, a, &s), 0);
}

/* Each row: MQCTL operations from a new connection (the last one checked),
 * with or without a consumer registered first. */
TEST_F(MqsimAsync, ControlFollowsTheStoppedStartedSuspendedStates) {
    struct ROW {
        int consumer;
        std::vector<MQLONG> ops;
        MQLONG lastRc;
    };
    const ROW rows[] = {
        {0, {MQOP_SUSPEND}, MQRC_OPERATION_NOT_ALLOWED},
        {1, {MQOP_SUSPEND}, MQRC_OPERATION_NOT_ALLOWED},
        {0, {MQOP_RESUME}, MQRC_OPERATION_NOT_ALLOWED},
        {1, {MQOP_RESUME}, MQRC_OPERATION_NOT_ALLOWED},
        {1, {MQOP_START, MQOP_SUSPEND, MQOP_START}, MQRC_OPERATION_NOT_ALLOWED},
        {1, {MQOP_START, MQOP_SUSPEND, MQOP_START_WAIT}, MQRC_OPERATION_NOT_ALLOWED},
        {1, {MQOP_START, MQOP_START_WAIT}, MQRC_OPERATION_NOT_ALLOWED},
        {1, {MQOP_START, MQOP_STOP, MQOP_RESUME}, MQRC_OPERATION_NOT_ALLOWED},
        {1, {MQOP_START, MQOP_SUSPEND, MQOP_RESUME}, 0},
        {1, {MQOP_START, MQOP_SUSPEND, MQOP_STOP, MQOP_START}, 0},
    };
    for (const ROW &row : rows) {
        MQHCONN c = MQHC_UNUSABLE_HCONN;
        ASSERT_EQ(Connect("QMA", &c), 0);
        SEEN s;
        MQHOBJ a;
        ASSERT_EQ(Open(c, "A.Q", MQOO_INPUT_SHARED, &a), 0);
        if (row.consumer) {
            ASSERT_EQ(Register(c, a, &s), 0);
        }
        MQLONG rc = -1;
        for (size_t i = 0; i < row.ops.size(); i++) {
            rc = Control(c, row.ops[i]);
            if (i + 1 < row.ops.size()) {
                ASSERT_EQ(rc, 0) << "row ending in " << row.ops.back() << ", step " << i;
            }
        }
        EXPECT_EQ(rc, row.lastRc) << "operations ending in " << row.ops.back();
        Control(c, MQOP_STOP);
        Disconnect(&c);
    }
}

TEST_F(MqsimAsync, AConsumerAddedWhileSuspendedIsCalledAfterResume) {
    SEEN s;
    MQHOBJ a, b;
    ASSERT_EQ(Open(h, "A.Q", MQOO_INPUT_SHARED, &a), 0);
    ASSERT_EQ(Open(h, "B.Q", MQOO_INPUT_SHARED, &b), 0);
    ASSERT_EQ(Register(h, a, &s), 0);
    ASSERT_EQ(Control(h, MQOP_START), 0);
    ASSERT_EQ(Control(h, MQOP_SUSPEND), 0);
    ASSERT_EQ(Register(h, b, &s), 0) << "a suspended connection takes MQCB from any thread";
    ASSERT_EQ(Put1(h, "B.Q", "late"), 0);
    ASSERT_EQ(Control(h, MQOP_RESUME), 0);
    ASSERT_TRUE(WaitUntil([&] { return s.calls.load() == 1; }));
    std::lock_guard<std::mutex> g(s.mu);
    EXPECT_EQ(s.texts[0], "late");
}

/* What a callback does on its own connection: registers a consumer. */
struct INSIDE {
    MQHOBJ other = MQHO_NONE;
    SEEN *seen = nullptr;
    std::atomic<MQLONG> registerRc{-1};
};

void MQENTRY RegisteringConsumer(MQHCONN hconn, PMQMD, PMQGMO, PMQVOID, PMQCBC cbc) {
    INSIDE *in = (INSIDE *)cbc->CallbackArea;
    if (cbc->CallType == MQCBCT_MSG_REMOVED && in->registerRc.load() == -1)
        in->registerRc = Register(hconn, in->other, in->seen);
}

TEST_F(MqsimAsync, AStartedConnectionServesOnlyItsCallbacks) {
    SEEN s;
    INSIDE in;
    in.seen = &s;
    MQHOBJ a, b, spare;
    ASSERT_EQ(Open(h, "A.Q", MQOO_INPUT_SHARED, &a), 0);
    ASSERT_EQ(Open(h, "B.Q", MQOO_INPUT_SHARED, &b), 0);
    in.other = b;
    MQCBD cbd = MQCBD_DEFAULT;
    cbd.CallbackFunction = (MQPTR)RegisteringConsumer;
    cbd.CallbackArea = &in;
    MQLONG cc, rc;
    MQCB(h, MQOP_REGISTER, &cbd, a, nullptr, nullptr, &cc, &rc);
    ASSERT_EQ(rc, 0);
    ASSERT_EQ(Control(h, MQOP_START), 0);
    /* from this thread: every verb but MQCTL STOP / SUSPEND and MQDISC */
    EXPECT_EQ(Open(h, "A.Q", MQOO_OUTPUT, &spare), MQRC_HCONN_ASYNC_ACTIVE);
    EXPECT_EQ(Put1(h, "A.Q", "x"), MQRC_HCONN_ASYNC_ACTIVE);
    EXPECT_EQ(Get(h, a, nullptr), MQRC_HCONN_ASYNC_ACTIVE);
    EXPECT_EQ(Register(h, b, &s), MQRC_HCONN_ASYNC_ACTIVE);
    MQCB(h, MQOP_DEREGISTER, nullptr, a, nullptr, nullptr, &cc, &rc);
    EXPECT_EQ(rc, MQRC_HCONN_ASYNC_ACTIVE);
    EXPECT_EQ(Control(h, MQOP_START), MQRC_HCONN_ASYNC_ACTIVE);
    /* from a callback: MQCB registers */
    MQHCONN p;
    ASSERT_EQ(Connect("QMA", &p), 0);
    ASSERT_EQ(Put1(p, "A.Q", "first"), 0);
    ASSERT_EQ(Put1(p, "B.Q", "second"), 0);
    ASSERT_TRUE(WaitUntil([&] { return s.calls.load() == 1; }));
    EXPECT_EQ(in.registerRc.load(), 0);
    Disconnect(&p);
    EXPECT_EQ(Control(h, MQOP_SUSPEND), 0);
    EXPECT_EQ(Open(h, "A.Q", MQOO_OUTPUT, &spare), 0) << "suspended: any thread again";
}

TEST_F(MqsimAsync, BrowseConsumersSeeCopiesInOrderAndRemoveNothing) {
    SEEN s;
    MQHOBJ a;
    ASSERT_EQ(Open(h, "A.Q", MQOO_BROWSE | MQOO_INQUIRE, &a), 0);
    for (const char *t : {"one", "two", "three"})
        ASSERT_EQ(Put1(h, "A.Q", t), 0);
    MQCBD cbd = MQCBD_DEFAULT;
    cbd.CallbackFunction = (MQPTR)Consumer;
    cbd.CallbackArea = &s;
    MQMD md = MQMD_DEFAULT;
    MQGMO gmo = MQGMO_DEFAULT;
    gmo.Options = MQGMO_BROWSE_FIRST;
    MQLONG cc, rc;
    MQCB(h, MQOP_REGISTER, &cbd, a, &md, &gmo, &cc, &rc);
    ASSERT_EQ(rc, 0);
    ASSERT_EQ(Control(h, MQOP_START), 0);
    ASSERT_TRUE(WaitUntil([&] { return s.calls.load() == 3; }));
    ASSERT_EQ(Control(h, MQOP_STOP), 0);
    {
        std::lock_guard<std::mutex> g(s.mu);
        EXPECT_EQ(s.callTypes, std::vector<MQLONG>(3, MQCBCT_MSG_NOT_REMOVED));
        EXPECT_EQ(s.texts, (std::vector<std::string>{"one", "two", "three"}));
    }
    std::vector<MQLONG> depth;
    ASSERT_EQ(InqInts(h, a, {MQIA_CURRENT_Q_DEPTH}, &depth), 0);
    EXPECT_EQ(depth[0], 3);
    /* an input-only handle cannot browse */
    MQHOBJ in;
    ASSERT_EQ(Open(h, "A.Q", MQOO_INPUT_SHARED, &in), 0);
    MQCB(h, MQOP_REGISTER, &cbd, in, &md, &gmo, &cc, &rc);
    EXPECT_EQ(rc, MQRC_NOT_OPEN_FOR_BROWSE);
}

}  // namespace
