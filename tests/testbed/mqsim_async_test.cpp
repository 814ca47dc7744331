/* mqsim_async_test.cpp -- asynchronous consumption through the stand-in
 * MQI library: consumers called one at a time on one thread after
 * MQOP_START, MQOP_STOP waiting for a running callback, GET(DISABLED) event
 * calls, the connection events of `mqsim break`, `mqsim stop`,
 * `mqsim stop --quiesce` and `mqsim fault QM event`; and read-ahead: the
 * daemon pushes a bounded window of messages without waiting for each
 * acknowledgement, and whatever was pushed but not given to a callback goes
 * back where it was in its queue when consumption stops, a consumer is
 * suspended, deregistered or closed, or the connection ends, so that no
 * message is lost, duplicated or reordered. */
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "mqsim_util.h"
#include "support/process.h"

namespace {

/* What a callback saw, through MQCBD.CallbackArea. The call numbered holdAt
 * (from 0) waits inside the callback until release is set; action, when
 * set, runs in every call after it is recorded. */
struct RECORDER {
    std::mutex mu;
    std::vector<std::string> texts; /* of the calls with a message, in call order */
    std::vector<MQLONG> callTypes, reasons, dataLengths, returnedLengths, backouts;
    std::vector<MQHOBJ> hobjs;
    std::set<std::thread::id> threads;
    std::atomic<int> calls{0}, inside{0}, overlap{0};
    std::atomic<int> holdAt{-1}, holding{0}, release{0};
    std::function<void(MQHCONN, MQCBC *, int)> action;
};

void MQENTRY Recorder(MQHCONN hconn, PMQMD md, PMQGMO gmo, PMQVOID buffer, PMQCBC cbc) {
    RECORDER *r = (RECORDER *)cbc->CallbackArea;
    if (r->inside.fetch_add(1) != 0)
        r->overlap++;
    int n = r->calls.load();
    if (n == r->holdAt.load()) {
        r->holding = 1;
        while (!r->release.load())
            PLSleep(1);
    }
    {
        std::lock_guard<std::mutex> g(r->mu);
        r->threads.insert(std::this_thread::get_id());
        r->callTypes.push_back(cbc->CallType);
        r->reasons.push_back(cbc->Reason);
        r->hobjs.push_back(cbc->Hobj);
        r->dataLengths.push_back(cbc->DataLength);
        if (cbc->CallType != MQCBCT_EVENT_CALL) {
            r->texts.emplace_back((const char *)buffer, (size_t)cbc->BufferLength);
            r->returnedLengths.push_back(gmo->ReturnedLength);
            r->backouts.push_back(md->BackoutCount);
        }
    }
    if (r->action)
        r->action(hconn, cbc, n);
    r->inside--;
    r->calls++;
}

/* A message consumer on o (an event handler when o is MQHO_NONE). */
MQLONG Register(MQHCONN h, MQHOBJ o, RECORDER *r, MQLONG gmoOptions = MQGMO_NO_SYNCPOINT) {
    MQCBD cbd = MQCBD_DEFAULT;
    cbd.CallbackType = o == MQHO_NONE ? MQCBT_EVENT_HANDLER : MQCBT_MESSAGE_CONSUMER;
    cbd.CallbackFunction = (MQPTR)Recorder;
    cbd.CallbackArea = r;
    MQMD md = MQMD_DEFAULT;
    MQGMO gmo = MQGMO_DEFAULT;
    gmo.Options = gmoOptions;
    MQLONG cc, rc;
    if (o == MQHO_NONE)
        MQCB(h, MQOP_REGISTER, &cbd, MQHO_NONE, nullptr, nullptr, &cc, &rc);
    else
        MQCB(h, MQOP_REGISTER, &cbd, o, &md, &gmo, &cc, &rc);
    return rc;
}

/* MQCB of a consumer without a descriptor: SUSPEND, RESUME, DEREGISTER. */
MQLONG Consumer(MQHCONN h, MQLONG op, MQHOBJ o) {
    MQLONG cc, rc;
    MQCB(h, op, nullptr, o, nullptr, nullptr, &cc, &rc);
    return rc;
}

MQLONG Control(MQHCONN h, MQLONG op) {
    MQCTLO ctlo = MQCTLO_DEFAULT;
    MQLONG cc, rc;
    MQCTL(h, op, &ctlo, &cc, &rc);
    return rc;
}

/* Message i: "m000"..., or size bytes of one letter. */
std::string Text(int i, size_t size = 0) {
    if (size > 0)
        return std::string(size, (char)('a' + i));
    char t[16];
    snprintf(t, sizeof t, "m%03d", i);
    return t;
}
std::vector<std::string> Texts(int from, int to) {
    std::vector<std::string> v;
    for (int i = from; i < to; i++)
        v.push_back(Text(i));
    return v;
}

/* A queue manager with A.Q, B.Q and C.Q, h the connection under test, p a
 * producer and observer. */
class MqsimAsync : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(qm.Start("QMA", {"--mqsc", MqsimQueueManager::Sample("torvik.mqsc")}), "");
        qm.Mqsc("QMA", {"DEFINE QLOCAL(A.Q)", "DEFINE QLOCAL(B.Q)", "DEFINE QLOCAL(C.Q)"});
        ASSERT_EQ(Connect("QMA", &h), 0);
        ASSERT_EQ(Connect("QMA", &p), 0);
    }
    void TearDown() override {
        if (h != MQHC_UNUSABLE_HCONN) {
            Control(h, MQOP_STOP);
            Disconnect(&h);
        }
        if (p != MQHC_UNUSABLE_HCONN)
            Disconnect(&p);
    }
    /* n messages Text(0) ... on q from p; priority of message i from prio. */
    void PutMessages(const char *q, int n, const std::function<MQLONG(int)> &prio = nullptr,
                     size_t size = 0) {
        MQHOBJ o;
        ASSERT_EQ(Open(p, q, MQOO_OUTPUT, &o), 0);
        for (int i = 0; i < n; i++) {
            MQMD md = MQMD_DEFAULT;
            memcpy(md.Format, MQFMT_STRING, 8);
            md.Priority = prio ? prio(i) : 0;
            ASSERT_EQ(Put(p, o, Text(i, size), &md), 0);
        }
        Close(p, &o);
    }
    /* Every message left on q, taken in order by p. */
    std::vector<std::string> Drain(const char *q) {
        std::vector<std::string> got;
        MQHOBJ o;
        std::string text;
        if (Open(p, q, MQOO_INPUT_SHARED, &o) != 0)
            return got;
        while (Get(p, o, &text) == 0)
            got.push_back(text);
        Close(p, &o);
        return got;
    }
    /* n messages on A.Q consumed by r, its call holdAt held, once more than
     * the callbacks took has left the queue (read ahead). */
    void StartHeld(RECORDER *r, int n, int holdAt, const std::function<MQLONG(int)> &prio = nullptr,
                   size_t size = 0) {
        PutMessages("A.Q", n, prio, size);
        r->holdAt = holdAt;
        MQHOBJ a;
        ASSERT_EQ(Open(h, "A.Q", MQOO_INPUT_SHARED, &a), 0);
        ASSERT_EQ(Register(h, a, r), 0);
        ASSERT_EQ(Control(h, MQOP_START), 0);
        if (holdAt < 0)
            return;
        ASSERT_TRUE(WaitUntil([&] { return r->holding.load() == 1; }));
        ASSERT_TRUE(WaitUntil([&] { return Depth(p, "A.Q") < n - holdAt - 1; })) << Depth(p, "A.Q");
    }
    /* What r's callbacks took, then what is left on A.Q. */
    std::vector<std::string> TakenThenLeft(RECORDER *r) {
        std::vector<std::string> all;
        {
            std::lock_guard<std::mutex> g(r->mu);
            all = r->texts;
        }
        std::vector<std::string> rest = Drain("A.Q");
        all.insert(all.end(), rest.begin(), rest.end());
        return all;
    }

    MqsimQueueManager qm;
    MQHCONN h = MQHC_UNUSABLE_HCONN;
    MQHCONN p = MQHC_UNUSABLE_HCONN;
};

TEST_F(MqsimAsync, ConsumersAreCalledOneAtATimeOnOneThreadAfterStart) {
    const int n = 300;
    RECORDER r;
    MQHOBJ a, b;
    ASSERT_EQ(Open(h, "A.Q", MQOO_INPUT_SHARED, &a), 0);
    ASSERT_EQ(Open(h, "B.Q", MQOO_INPUT_SHARED, &b), 0);
    ASSERT_EQ(Register(h, a, &r), 0);
    ASSERT_EQ(Register(h, b, &r), 0);
    /* half before the start (they wait for it), half while consuming */
    PutMessages("A.Q", n / 2);
    PutMessages("B.Q", n / 2);
    EXPECT_EQ(r.calls.load(), 0);
    ASSERT_EQ(Control(h, MQOP_START), 0);
    MQHOBJ oa, ob;
    ASSERT_EQ(Open(p, "A.Q", MQOO_OUTPUT, &oa), 0);
    ASSERT_EQ(Open(p, "B.Q", MQOO_OUTPUT, &ob), 0);
    for (int i = n / 2; i < n; i++) {
        ASSERT_EQ(Put(p, oa, Text(i)), 0);
        ASSERT_EQ(Put(p, ob, Text(i)), 0);
    }
    ASSERT_TRUE(WaitUntil([&] { return r.calls.load() == 2 * n; })) << r.calls.load();
    EXPECT_EQ(r.overlap.load(), 0) << "never two callbacks at once";
    /* MQGET on a started connection is refused outside the callbacks */
    EXPECT_EQ(Get(h, a, nullptr), MQRC_HCONN_ASYNC_ACTIVE);
    {
        std::lock_guard<std::mutex> g(r.mu);
        EXPECT_EQ(r.threads.size(), 1u) << "all on one thread";
        EXPECT_EQ(r.threads.count(std::this_thread::get_id()), 0u) << "of the library's own";
        std::vector<std::string> fromA, fromB;
        for (size_t i = 0; i < r.texts.size(); i++) {
            EXPECT_EQ(r.callTypes[i], MQCBCT_MSG_REMOVED);
            EXPECT_EQ(r.returnedLengths[i], (MQLONG)r.texts[i].size());
            EXPECT_EQ(r.dataLengths[i], (MQLONG)r.texts[i].size());
            (r.hobjs[i] == a ? fromA : fromB).push_back(r.texts[i]);
        }
        EXPECT_EQ(fromA, Texts(0, n));
        EXPECT_EQ(fromB, Texts(0, n));
    }
}

TEST_F(MqsimAsync, GetDisabledQueueGivesTheConsumerAnEventCall) {
    RECORDER s;
    MQHOBJ a;
    ASSERT_EQ(Open(h, "A.Q", MQOO_INPUT_SHARED, &a), 0);
    ASSERT_EQ(Register(h, a, &s), 0);
    ASSERT_EQ(Control(h, MQOP_START), 0);
    qm.Mqsc("QMA", {"ALTER QLOCAL(A.Q) GET(DISABLED)"});
    ASSERT_TRUE(WaitUntil([&] { return s.calls.load() == 1; }));
    {
        std::lock_guard<std::mutex> g(s.mu);
        EXPECT_EQ(s.callTypes[0], MQCBCT_EVENT_CALL);
        EXPECT_EQ(s.reasons[0], MQRC_GET_INHIBITED);
        EXPECT_EQ(s.hobjs[0], a);
    }
    /* messages wait while the queue is GET(DISABLED), and come after */
    ASSERT_EQ(Put1(p, "A.Q", "held back"), 0);
    qm.Mqsc("QMA", {"ALTER QLOCAL(A.Q) GET(ENABLED)"});
    ASSERT_TRUE(WaitUntil([&] { return s.calls.load() == 2; }));
    std::lock_guard<std::mutex> g(s.mu);
    EXPECT_EQ(s.callTypes[1], MQCBCT_MSG_REMOVED);
    EXPECT_EQ(s.texts, std::vector<std::string>{"held back"});
}

/* Each row: what happens to the queue manager, whether h has an event
 * handler (else its consumer takes the event), and the event's reason. */
TEST_F(MqsimAsync, ConnectionEventsReachTheEventHandlerOrElseTheConsumers) {
    const struct {
        std::vector<std::string> command;
        bool handler;
        MQLONG reason, putRc;
    } rows[] = {
        {{"break", "QMA"}, true, MQRC_CONNECTION_BROKEN, MQRC_CONNECTION_BROKEN},
        {{"break", "QMA"}, false, MQRC_CONNECTION_BROKEN, MQRC_CONNECTION_BROKEN},
        {{"fault", "QMA", "event", "2202"}, true, MQRC_CONNECTION_QUIESCING, 0},
        {{"stop", "QMA"}, true, MQRC_CONNECTION_BROKEN, MQRC_CONNECTION_BROKEN}, /* last */
    };
    Disconnect(&h);
    for (const auto &row : rows) {
        SCOPED_TRACE(row.command[0]);
        RECORDER consumer, events;
        MQHOBJ a;
        ASSERT_EQ(Connect("QMA", &h), 0);
        ASSERT_EQ(Open(h, "A.Q", MQOO_INPUT_SHARED, &a), 0);
        ASSERT_EQ(Register(h, a, &consumer), 0);
        if (row.handler) {
            ASSERT_EQ(Register(h, MQHO_NONE, &events), 0);
        }
        ASSERT_EQ(Control(h, MQOP_START), 0);
        std::string out;
        ASSERT_EQ(qm.Run(row.command, &out), 0) << out;
        RECORDER &got = row.handler ? events : consumer;
        ASSERT_TRUE(WaitUntil([&] { return got.calls.load() == 1; }));
        {
            std::lock_guard<std::mutex> g(got.mu);
            EXPECT_EQ(got.callTypes[0], MQCBCT_EVENT_CALL);
            EXPECT_EQ(got.reasons[0], row.reason);
        }
        if (row.handler && row.command[0] == "break") {
            EXPECT_EQ(consumer.calls.load(), 0) << "the event handler took the event";
        }
        Control(h, MQOP_STOP);
        MQLONG rc = Put1(h, "A.Q", "x");
        EXPECT_TRUE(rc == row.putRc || (row.command[0] == "stop" && rc == MQRC_HCONN_ERROR)) << rc;
        Disconnect(&h);
        EXPECT_EQ(h, MQHC_UNUSABLE_HCONN);
        /* disconnecting joins the event thread: a connection that still
         * worked raised no event by its ordinary disconnect */
        if (row.putRc == 0) {
            EXPECT_EQ(got.calls.load(), 1);
        }
    }
}

TEST_F(MqsimAsync, QuiesceWarnsEventHandlersAndFailsQuiescingCalls) {
    RECORDER events;
    ASSERT_EQ(Register(h, MQHO_NONE, &events), 0);
    Disconnect(&p);
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

TEST_F(MqsimAsync, CallbackArgumentsAreChecked) {
    MQLONG cc, rc;
    MQHOBJ a, outOnly;
    ASSERT_EQ(Open(h, "A.Q", MQOO_INPUT_SHARED, &a), 0);
    ASSERT_EQ(Open(h, "A.Q", MQOO_OUTPUT, &outOnly), 0);
    MQCB(h, MQOP_REGISTER, nullptr, a, nullptr, nullptr, &cc, &rc);
    EXPECT_EQ(rc, MQRC_CBD_ERROR);
    const struct {
        MQLONG type;
        bool function;
        MQHOBJ o;
        MQLONG reason;
    } rows[] = {{7, true, a, MQRC_CALLBACK_TYPE_ERROR},
                {MQCBT_MESSAGE_CONSUMER, false, a, MQRC_CALLBACK_ROUTINE_ERROR},
                {MQCBT_MESSAGE_CONSUMER, true, outOnly, MQRC_NOT_OPEN_FOR_INPUT}};
    for (const auto &row : rows) {
        MQCBD cbd = MQCBD_DEFAULT;
        cbd.CallbackType = row.type;
        cbd.CallbackFunction = row.function ? (MQPTR)Recorder : nullptr;
        MQCB(h, MQOP_REGISTER, &cbd, row.o, nullptr, nullptr, &cc, &rc);
        EXPECT_EQ(rc, row.reason);
    }
    EXPECT_EQ(Control(h, MQOP_START), MQRC_NO_CALLBACKS_ACTIVE);
    MQCTLO bad = MQCTLO_DEFAULT;
    bad.StrucId[0] = 'X';
    MQCTL(h, MQOP_START, &bad, &cc, &rc);
    EXPECT_EQ(rc, MQRC_CTLO_ERROR);
    std::string out;
    ASSERT_EQ(qm.Run({"fault", "QMA", "call", "MQCB", "A.Q", "2035", "1"}, &out), 0);
    RECORDER s;
    EXPECT_EQ(Register(h, a, &s), MQRC_NOT_AUTHORIZED);
    EXPECT_EQ(Register(h, a, &s), 0);
}

/* Each row: MQCTL operations from a new connection (the last one checked),
 * with or without a consumer registered first. */
TEST_F(MqsimAsync, ControlFollowsTheStoppedStartedSuspendedStates) {
    const struct {
        int consumer;
        std::vector<MQLONG> ops;
        MQLONG lastRc;
    } rows[] = {
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
    for (const auto &row : rows) {
        MQHCONN c = MQHC_UNUSABLE_HCONN;
        ASSERT_EQ(Connect("QMA", &c), 0);
        RECORDER s;
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

TEST_F(MqsimAsync, AStartedConnectionServesOnlyItsCallbacks) {
    RECORDER s, other;
    MQHOBJ a, b, spare;
    ASSERT_EQ(Open(h, "A.Q", MQOO_INPUT_SHARED, &a), 0);
    ASSERT_EQ(Open(h, "B.Q", MQOO_INPUT_SHARED, &b), 0);
    /* from a callback: MQCB registers another consumer */
    std::atomic<MQLONG> registerRc{-1};
    s.action = [&](MQHCONN hc, MQCBC *, int callNo) {
        if (callNo == 0)
            registerRc = Register(hc, b, &other);
    };
    ASSERT_EQ(Register(h, a, &s), 0);
    ASSERT_EQ(Control(h, MQOP_START), 0);
    /* from this thread: every verb but MQCTL STOP / SUSPEND and MQDISC */
    MQLONG cc, rc;
    EXPECT_EQ(Open(h, "A.Q", MQOO_OUTPUT, &spare), MQRC_HCONN_ASYNC_ACTIVE);
    EXPECT_EQ(Put1(h, "A.Q", "x"), MQRC_HCONN_ASYNC_ACTIVE);
    EXPECT_EQ(Register(h, b, &other), MQRC_HCONN_ASYNC_ACTIVE);
    MQCB(h, MQOP_DEREGISTER, nullptr, a, nullptr, nullptr, &cc, &rc);
    EXPECT_EQ(rc, MQRC_HCONN_ASYNC_ACTIVE);
    EXPECT_EQ(Control(h, MQOP_START), MQRC_HCONN_ASYNC_ACTIVE);
    ASSERT_EQ(Put1(p, "A.Q", "first"), 0);
    ASSERT_EQ(Put1(p, "B.Q", "second"), 0);
    ASSERT_TRUE(WaitUntil([&] { return other.calls.load() == 1; }));
    EXPECT_EQ(registerRc.load(), 0);
    /* suspended: any thread again, MQCB included */
    EXPECT_EQ(Control(h, MQOP_SUSPEND), 0);
    EXPECT_EQ(Open(h, "A.Q", MQOO_OUTPUT, &spare), 0);
    ASSERT_EQ(Consumer(h, MQOP_DEREGISTER, b), 0);
    ASSERT_EQ(Register(h, b, &other), 0);
    ASSERT_EQ(Put1(p, "B.Q", "late"), 0);
    ASSERT_EQ(Control(h, MQOP_RESUME), 0);
    ASSERT_TRUE(WaitUntil([&] { return other.calls.load() == 2; }));
    std::lock_guard<std::mutex> g(other.mu);
    EXPECT_EQ(other.texts, (std::vector<std::string>{"second", "late"}));
}

TEST_F(MqsimAsync, BrowseConsumersSeeCopiesInOrderAndRemoveNothing) {
    RECORDER s;
    MQHOBJ a, in;
    ASSERT_EQ(Open(h, "A.Q", MQOO_BROWSE | MQOO_INQUIRE, &a), 0);
    ASSERT_EQ(Open(h, "A.Q", MQOO_INPUT_SHARED, &in), 0);
    PutMessages("A.Q", 3);
    ASSERT_EQ(Register(h, a, &s, MQGMO_BROWSE_FIRST), 0);
    /* an input-only handle cannot browse */
    EXPECT_EQ(Register(h, in, &s, MQGMO_BROWSE_FIRST), MQRC_NOT_OPEN_FOR_BROWSE);
    ASSERT_EQ(Control(h, MQOP_START), 0);
    ASSERT_TRUE(WaitUntil([&] { return s.calls.load() == 3; }));
    ASSERT_EQ(Control(h, MQOP_STOP), 0);
    {
        std::lock_guard<std::mutex> g(s.mu);
        EXPECT_EQ(s.callTypes, std::vector<MQLONG>(3, MQCBCT_MSG_NOT_REMOVED));
        EXPECT_EQ(s.texts, Texts(0, 3));
    }
    EXPECT_EQ(Depth(p, "A.Q"), 3);
}

/* ---- Read-ahead ---------------------------------------------------------- */

TEST_F(MqsimAsync, StopMidStreamPutsTheReadAheadBackInOrder) {
    /* every third message has priority 5: they come first, each priority
     * in arrival order */
    auto prio = [](int i) -> MQLONG { return i % 3 == 0 ? 5 : 0; };
    const int n = 200;
    std::vector<std::string> expected;
    for (MQLONG pr : {5, 0})
        for (int i = 0; i < n; i++)
            if (prio(i) == pr)
                expected.push_back(Text(i));
    RECORDER r;
    StartHeld(&r, n, 10, prio);
    /* read ahead, but no more than one window beyond what was acknowledged */
    EXPECT_GE(Depth(p, "A.Q"), n - 11 - 64);

    /* MQOP_STOP from another thread: the held callback may let a few more
     * run before the stop takes effect, but none after it returns */
    std::atomic<int> stopCalling{0}, callsAtReturn{-1};
    std::atomic<MQLONG> stopRc{-1};
    std::thread stopper([&] {
        stopCalling = 1;
        stopRc = Control(h, MQOP_STOP);
        callsAtReturn = r.calls.load();
    });
    ASSERT_TRUE(WaitUntil([&] { return stopCalling.load() == 1; }));
    r.release = 1;
    stopper.join();
    EXPECT_EQ(stopRc.load(), 0);
    ASSERT_GE(callsAtReturn.load(), 11) << "MQOP_STOP returned after the running callback";
    EXPECT_EQ(Depth(p, "A.Q"), n - callsAtReturn.load()) << "everything read ahead is back";
    EXPECT_EQ(TakenThenLeft(&r), expected);
    EXPECT_EQ(r.calls.load(), callsAtReturn.load()) << "no callback after MQOP_STOP";
    /* consumption starts again where it left off */
    ASSERT_EQ(Put1(p, "A.Q", "again"), 0);
    ASSERT_EQ(Control(h, MQOP_START), 0);
    ASSERT_TRUE(WaitUntil([&] { return r.calls.load() == callsAtReturn.load() + 1; }));
    std::lock_guard<std::mutex> g(r.mu);
    EXPECT_EQ(r.texts.back(), "again");
}

TEST_F(MqsimAsync, DisconnectWithMessagesInFlightLosesAndDuplicatesNothing) {
    const int n = 150;
    RECORDER r;
    StartHeld(&r, n, 20);
    std::atomic<MQLONG> discRc{-1};
    std::atomic<int> discCalling{0};
    std::thread disconnector([&] {
        discCalling = 1;
        discRc = Disconnect(&h);
    });
    ASSERT_TRUE(WaitUntil([&] { return discCalling.load() == 1; }));
    r.release = 1;
    disconnector.join();
    EXPECT_EQ(discRc.load(), 0);
    ASSERT_GE(r.calls.load(), 21);
    EXPECT_EQ(TakenThenLeft(&r), Texts(0, n));
}

TEST_F(MqsimAsync, DisconnectingInACallbackGivesBackTheReadAhead) {
    const int n = 150;
    RECORDER r;
    std::atomic<MQLONG> discRc{-1};
    r.action = [&](MQHCONN hc, MQCBC *, int callNo) {
        if (callNo == 20) {
            MQHCONN self = hc;
            discRc = Disconnect(&self);
        }
    };
    StartHeld(&r, n, -1);
    ASSERT_TRUE(WaitUntil([&] { return discRc.load() != -1; }));
    EXPECT_EQ(discRc.load(), 0);
    h = MQHC_UNUSABLE_HCONN;
    ASSERT_TRUE(WaitUntil([&] { return Depth(p, "A.Q") == n - 21; })) << Depth(p, "A.Q");
    EXPECT_EQ(r.calls.load(), 21);
    EXPECT_EQ(Drain("A.Q"), Texts(21, n));
}

TEST_F(MqsimAsync, ABrokenConnectionGivesBackWhatItHadInFlight) {
    const int n = 150;
    RECORDER r;
    StartHeld(&r, n, 20);
    /* the network fails: acknowledgements still held back are lost with
     * it, so what the callbacks took may come again, but nothing the
     * callbacks never saw is lost, and the queue keeps its order */
    std::string out;
    ASSERT_EQ(qm.Run({"break", "QMA"}, &out), 0) << out;
    r.release = 1;
    Disconnect(&p); /* broken too: the checks go through a new connection */
    ASSERT_EQ(Connect("QMA", &p), 0);
    ASSERT_TRUE(WaitUntil([&] { return r.calls.load() >= 21; }));
    std::set<std::string> seen;
    {
        std::lock_guard<std::mutex> g(r.mu);
        seen.insert(r.texts.begin(), r.texts.end());
    }
    ASSERT_TRUE(WaitUntil([&] { return Depth(p, "A.Q") >= n - (MQLONG)seen.size(); }))
        << Depth(p, "A.Q");
    std::vector<std::string> rest = Drain("A.Q");
    EXPECT_TRUE(std::is_sorted(rest.begin(), rest.end()));
    EXPECT_EQ(std::set<std::string>(rest.begin(), rest.end()).size(), rest.size());
    for (const std::string &t : Texts(0, n))
        EXPECT_TRUE(seen.count(t) > 0 || std::find(rest.begin(), rest.end(), t) != rest.end())
            << t << " was lost";
}

TEST_F(MqsimAsync, SuspendingDeregisteringOrClosingInACallbackPutsTheReadAheadBack) {
    const int n = 100;
    const char *const queues[] = {"A.Q", "B.Q", "C.Q"};
    const int lastCall[] = {10, 5, 3};
    RECORDER r[3];
    MQHOBJ o[3];
    std::atomic<MQLONG> rc[3] = {{-1}, {-1}, {-1}};
    for (int q = 0; q < 3; q++) {
        PutMessages(queues[q], n);
        ASSERT_EQ(Open(h, queues[q], MQOO_INPUT_SHARED, &o[q]), 0);
        r[q].action = [&, q](MQHCONN hc, MQCBC *cbc, int callNo) {
            MQHOBJ self = cbc->Hobj;
            if (callNo == lastCall[q])
                rc[q] = q == 2 ? Close(hc, &self)
                               : Consumer(hc, q == 0 ? MQOP_SUSPEND : MQOP_DEREGISTER, self);
        };
        ASSERT_EQ(Register(h, o[q], &r[q]), 0);
    }
    ASSERT_EQ(Control(h, MQOP_START), 0);
    for (int q = 0; q < 3; q++) {
        SCOPED_TRACE(queues[q]);
        ASSERT_TRUE(WaitUntil([&] { return r[q].calls.load() == lastCall[q] + 1; }));
        EXPECT_EQ(rc[q].load(), 0);
        /* all but what was delivered is back on the queue */
        ASSERT_TRUE(WaitUntil([&] { return Depth(p, queues[q]) == n - lastCall[q] - 1; }))
            << Depth(p, queues[q]);
        if (q > 0) {
            EXPECT_EQ(Drain(queues[q]), Texts(lastCall[q] + 1, n));
        }
    }
    /* a started connection takes MQCB from its callbacks only */
    ASSERT_EQ(Control(h, MQOP_SUSPEND), 0);
    ASSERT_EQ(Consumer(h, MQOP_RESUME, o[0]), 0);
    ASSERT_EQ(Control(h, MQOP_RESUME), 0);
    ASSERT_TRUE(WaitUntil([&] { return r[0].calls.load() == n; })) << r[0].calls.load();
    ASSERT_EQ(Control(h, MQOP_STOP), 0);
    EXPECT_EQ(r[1].calls.load(), lastCall[1] + 1);
    std::lock_guard<std::mutex> g(r[0].mu);
    EXPECT_EQ(r[0].texts, Texts(0, n));
}

TEST_F(MqsimAsync, ASyncpointConsumerIsGivenOneMessageAtATime) {
    const int n = 20;
    PutMessages("A.Q", n);
    RECORDER r;
    r.holdAt = 3;
    r.action = [&](MQHCONN hc, MQCBC *, int callNo) {
        MQLONG cc, rc;
        if (callNo == 0)
            MQBACK(hc, &cc, &rc); /* the first message comes again */
        else
            MQCMIT(hc, &cc, &rc);
    };
    MQHOBJ a;
    ASSERT_EQ(Open(h, "A.Q", MQOO_INPUT_SHARED, &a), 0);
    ASSERT_EQ(Register(h, a, &r, MQGMO_SYNCPOINT), 0);
    ASSERT_EQ(Control(h, MQOP_START), 0);
    ASSERT_TRUE(WaitUntil([&] { return r.holding.load() == 1; }));
    /* m002 is in the callback; nothing else is locked for the consumer, so
     * another application takes the next one */
    MQHOBJ in;
    std::string text;
    ASSERT_EQ(Open(p, "A.Q", MQOO_INPUT_SHARED, &in), 0);
    ASSERT_EQ(Get(p, in, &text), 0);
    EXPECT_EQ(text, "m003");
    Close(p, &in);
    r.release = 1;
    ASSERT_TRUE(WaitUntil([&] { return r.calls.load() == n; })) << r.calls.load();
    ASSERT_TRUE(WaitUntil([&] { return Depth(p, "A.Q") == 0; })) << Depth(p, "A.Q");
    std::vector<std::string> expected = {"m000", "m000", "m001", "m002"};
    for (const std::string &t : Texts(4, n))
        expected.push_back(t);
    std::lock_guard<std::mutex> g(r.mu);
    EXPECT_EQ(r.texts, expected);
    ASSERT_GE(r.backouts.size(), 2u);
    EXPECT_EQ(r.backouts[0], 0);
    EXPECT_EQ(r.backouts[1], 1);
}

TEST_F(MqsimAsync, LargeMessagesAreReadAheadByBytesNotCount) {
    const int n = 12;
    const size_t size = 300 * 1024;
    RECORDER r;
    StartHeld(&r, n, 0, nullptr, size);
    /* read ahead, up to about 1 MB: four such messages at most */
    EXPECT_GE(Depth(p, "A.Q"), n - 4);
    r.release = 1;
    ASSERT_TRUE(WaitUntil([&] { return r.calls.load() == n; })) << r.calls.load();
    std::lock_guard<std::mutex> g(r.mu);
    ASSERT_EQ(r.texts.size(), (size_t)n);
    for (int i = 0; i < n; i++)
        EXPECT_EQ(r.texts[(size_t)i], Text(i, size)) << i;
}

}  // namespace
