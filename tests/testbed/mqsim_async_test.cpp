/* mqsim_async_test.cpp -- asynchronous consumption through the stand-in
 * MQI library: consumers called one at a time on one thread after
 * MQOP_START, event calls to the event handler or else the consumers, the
 * STOPPED / STARTED / SUSPENDED states of MQCTL, a started connection
 * serving only its callbacks, and read-ahead: what the daemon pushed but no
 * callback took goes back in its place when consumption stops or the
 * connection ends, so that no message is lost, duplicated or reordered. */
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
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
    std::vector<MQLONG> callTypes, reasons;
    std::vector<MQHOBJ> hobjs;
    std::set<std::thread::id> threads;
    std::atomic<int> calls{0}, inside{0}, overlap{0}, badLengths{0};
    std::atomic<int> holdAt{-1}, holding{0}, release{0};
    std::function<void(MQHCONN, MQCBC *, int)> action;
};

void MQENTRY Recorder(MQHCONN hconn, PMQMD, PMQGMO gmo, PMQVOID buffer, PMQCBC cbc) {
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
        if (cbc->CallType != MQCBCT_EVENT_CALL) {
            r->texts.emplace_back((const char *)buffer, (size_t)cbc->BufferLength);
            if (gmo->ReturnedLength != cbc->BufferLength || cbc->DataLength != cbc->BufferLength)
                r->badLengths++;
        }
    }
    if (r->action)
        r->action(hconn, cbc, n);
    r->inside--;
    r->calls++;
}

/* A message consumer on o (an event handler when o is MQHO_NONE). */
MQLONG Register(MQHCONN h, MQHOBJ o, RECORDER *r) {
    MQCBD cbd = MQCBD_DEFAULT;
    cbd.CallbackType = o == MQHO_NONE ? MQCBT_EVENT_HANDLER : MQCBT_MESSAGE_CONSUMER;
    cbd.CallbackFunction = (MQPTR)Recorder;
    cbd.CallbackArea = r;
    MQMD md = MQMD_DEFAULT;
    MQGMO gmo = MQGMO_DEFAULT;
    gmo.Options = MQGMO_NO_SYNCPOINT;
    MQLONG cc, rc;
    bool handler = o == MQHO_NONE;
    MQCB(h, MQOP_REGISTER, &cbd, o, handler ? nullptr : &md, handler ? nullptr : &gmo, &cc, &rc);
    return rc;
}

MQLONG Control(MQHCONN h, MQLONG op) {
    MQCTLO ctlo = MQCTLO_DEFAULT;
    MQLONG cc, rc;
    MQCTL(h, op, &ctlo, &cc, &rc);
    return rc;
}

/* Message i: "m000"... */
std::string Text(int i) {
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

/* A queue manager with A.Q and B.Q, h the connection under test, p a
 * producer and observer. */
class MqsimAsync : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(qm.Start("QMA", {"--mqsc", MqsimQueueManager::Sample("torvik.mqsc")}), "");
        qm.Mqsc("QMA", {"DEFINE QLOCAL(A.Q)", "DEFINE QLOCAL(B.Q)"});
        ASSERT_EQ(Connect("QMA", &h), 0);
        ASSERT_EQ(Connect("QMA", &p), 0);
    }
    void TearDown() override {
        if (h != MQHC_UNUSABLE_HCONN)
            Disconnect(&h);
        if (p != MQHC_UNUSABLE_HCONN)
            Disconnect(&p);
    }
    /* Text(from) ... Text(to - 1) on q from p; priority of message i from prio. */
    void PutMessages(const char *q, int from, int to,
                     const std::function<MQLONG(int)> &prio = nullptr) {
        MQHOBJ o;
        ASSERT_EQ(Open(p, q, MQOO_OUTPUT, &o), 0);
        for (int i = from; i < to; i++) {
            MQMD md = MQMD_DEFAULT;
            memcpy(md.Format, MQFMT_STRING, 8);
            md.Priority = prio ? prio(i) : 0;
            ASSERT_EQ(Put(p, o, Text(i), &md), 0);
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
    /* A consumer r on q of h, started. */
    void Consume(const char *q, RECORDER *r, MQHOBJ *o = nullptr) {
        MQHOBJ local;
        o = o ? o : &local;
        ASSERT_EQ(Open(h, q, MQOO_INPUT_SHARED, o), 0);
        ASSERT_EQ(Register(h, *o, r), 0);
        ASSERT_EQ(Control(h, MQOP_START), 0);
    }

    MqsimQueueManager qm;
    MQHCONN h = MQHC_UNUSABLE_HCONN;
    MQHCONN p = MQHC_UNUSABLE_HCONN;
};

TEST_F(MqsimAsync, ConsumersAreCalledOneAtATimeOnOneThreadAfterStart) {
    const int n = 100;
    RECORDER r;
    MQHOBJ a, b;
    ASSERT_EQ(Open(h, "A.Q", MQOO_INPUT_SHARED, &a), 0);
    ASSERT_EQ(Open(h, "B.Q", MQOO_INPUT_SHARED, &b), 0);
    ASSERT_EQ(Register(h, a, &r), 0);
    ASSERT_EQ(Register(h, b, &r), 0);
    /* half before the start (they wait for it), half while consuming */
    PutMessages("A.Q", 0, n / 2);
    PutMessages("B.Q", 0, n / 2);
    EXPECT_EQ(r.calls.load(), 0);
    ASSERT_EQ(Control(h, MQOP_START), 0);
    PutMessages("A.Q", n / 2, n);
    PutMessages("B.Q", n / 2, n);
    ASSERT_TRUE(WaitUntil([&] { return r.calls.load() == 2 * n; })) << r.calls.load();
    EXPECT_EQ(r.overlap.load(), 0) << "never two callbacks at once";
    EXPECT_EQ(r.badLengths.load(), 0) << "DataLength and ReturnedLength are the message's";
    std::lock_guard<std::mutex> g(r.mu);
    EXPECT_EQ(r.threads.size(), 1u) << "all on one thread";
    EXPECT_EQ(r.threads.count(std::this_thread::get_id()), 0u) << "of the library's own";
    std::map<MQHOBJ, std::vector<std::string>> byHandle;
    for (size_t i = 0; i < r.texts.size(); i++)
        byHandle[r.hobjs[i]].push_back(r.texts[i]);
    EXPECT_EQ(byHandle[a], Texts(0, n));
    EXPECT_EQ(byHandle[b], Texts(0, n));
    EXPECT_EQ(r.callTypes, std::vector<MQLONG>(2 * n, MQCBCT_MSG_REMOVED));
}

/* Each row: what happens to the queue manager, whether h has an event
 * handler (which then takes connection events; a queue's event goes to its
 * consumer), the event's reason and what a put gives afterwards (stop last). */
TEST_F(MqsimAsync, EventsReachTheEventHandlerOrElseTheConsumers) {
    const struct {
        std::vector<std::string> command;
        const char *queue;
        bool handler, toConsumer;
        MQLONG reason, putRc;
    } rows[] = {
        {{"break", "QMA"}, "A.Q", true, false, MQRC_CONNECTION_BROKEN, MQRC_CONNECTION_BROKEN},
        {{"break", "QMA"}, "A.Q", false, true, MQRC_CONNECTION_BROKEN, MQRC_CONNECTION_BROKEN},
        {{"fault", "QMA", "event", "2202"}, "A.Q", true, false, MQRC_CONNECTION_QUIESCING, 0},
        {{"mqsc", "QMA", "ALTER QLOCAL(B.Q) GET(DISABLED)"},
         "B.Q",
         true,
         true,
         MQRC_GET_INHIBITED,
         0},
        {{"stop", "QMA"}, "A.Q", true, false, MQRC_CONNECTION_BROKEN, MQRC_CONNECTION_BROKEN},
    };
    Disconnect(&h);
    for (const auto &row : rows) {
        SCOPED_TRACE(row.command[0] + " " + row.queue);
        RECORDER consumer, events;
        MQHOBJ o;
        ASSERT_EQ(Connect("QMA", &h), 0);
        if (row.handler) {
            ASSERT_EQ(Register(h, MQHO_NONE, &events), 0);
        }
        Consume(row.queue, &consumer, &o);
        std::string out;
        ASSERT_EQ(qm.Run(row.command, &out), 0) << out;
        RECORDER &got = row.toConsumer ? consumer : events;
        ASSERT_TRUE(WaitUntil([&] { return got.calls.load() == 1; }));
        {
            std::lock_guard<std::mutex> g(got.mu);
            EXPECT_EQ(got.callTypes[0], MQCBCT_EVENT_CALL);
            EXPECT_EQ(got.reasons[0], row.reason);
            EXPECT_EQ(got.hobjs[0], row.toConsumer ? o : MQHO_NONE);
        }
        EXPECT_EQ((row.toConsumer ? events : consumer).calls.load(), 0) << "one call, not two";
        Control(h, MQOP_STOP);
        MQLONG rc = Put1(h, "SYSTEM.DEFAULT.LOCAL.QUEUE", "x");
        EXPECT_TRUE(rc == row.putRc || (row.command[0] == "stop" && rc == MQRC_HCONN_ERROR)) << rc;
        Disconnect(&h);
        EXPECT_EQ(h, MQHC_UNUSABLE_HCONN);
        /* disconnecting joins the event thread: a connection that still
         * worked raised no event by its ordinary disconnect */
        EXPECT_EQ(got.calls.load(), 1);
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
        EXPECT_EQ(events.reasons, std::vector<MQLONG>{MQRC_Q_MGR_QUIESCING});
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
}

/* Each row: MQCTL operations from a new connection (the last one checked),
 * with or without a consumer registered first. */
TEST_F(MqsimAsync, ControlFollowsTheStoppedStartedSuspendedStates) {
    const struct {
        bool consumer;
        std::vector<MQLONG> ops;
        MQLONG lastRc;
    } rows[] = {
        {false, {MQOP_SUSPEND}, MQRC_OPERATION_NOT_ALLOWED},
        {true, {MQOP_SUSPEND}, MQRC_OPERATION_NOT_ALLOWED},
        {false, {MQOP_RESUME}, MQRC_OPERATION_NOT_ALLOWED},
        {true, {MQOP_START, MQOP_SUSPEND, MQOP_START}, MQRC_OPERATION_NOT_ALLOWED},
        {true, {MQOP_START, MQOP_SUSPEND, MQOP_START_WAIT}, MQRC_OPERATION_NOT_ALLOWED},
        {true, {MQOP_START, MQOP_START_WAIT}, MQRC_OPERATION_NOT_ALLOWED},
        {true, {MQOP_START, MQOP_STOP, MQOP_RESUME}, MQRC_OPERATION_NOT_ALLOWED},
        {true, {MQOP_START, MQOP_SUSPEND, MQOP_RESUME}, 0},
        {true, {MQOP_START, MQOP_SUSPEND, MQOP_STOP, MQOP_START}, 0},
        {false, {MQOP_START}, MQRC_NO_CALLBACKS_ACTIVE},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE("operations ending in " + std::to_string(row.ops.back()));
        MQHCONN c = MQHC_UNUSABLE_HCONN;
        ASSERT_EQ(Connect("QMA", &c), 0);
        RECORDER s;
        MQHOBJ a;
        ASSERT_EQ(Open(c, "A.Q", MQOO_INPUT_SHARED, &a), 0);
        if (row.consumer) {
            ASSERT_EQ(Register(c, a, &s), 0);
        }
        for (size_t i = 0; i + 1 < row.ops.size(); i++)
            ASSERT_EQ(Control(c, row.ops[i]), 0) << "step " << i;
        EXPECT_EQ(Control(c, row.ops.back()), row.lastRc);
        Disconnect(&c);
    }
}

TEST_F(MqsimAsync, AStartedConnectionServesOnlyItsCallbacks) {
    RECORDER s, other;
    MQHOBJ a, b, spare;
    ASSERT_EQ(Open(h, "B.Q", MQOO_INPUT_SHARED, &b), 0);
    /* from a callback: MQCB registers another consumer */
    std::atomic<MQLONG> registerRc{-1};
    s.action = [&](MQHCONN hc, MQCBC *, int callNo) {
        if (callNo == 0)
            registerRc = Register(hc, b, &other);
    };
    Consume("A.Q", &s, &a);
    /* from this thread: every verb but MQCTL STOP / SUSPEND and MQDISC */
    EXPECT_EQ(Open(h, "A.Q", MQOO_OUTPUT, &spare), MQRC_HCONN_ASYNC_ACTIVE);
    EXPECT_EQ(Put1(h, "A.Q", "x"), MQRC_HCONN_ASYNC_ACTIVE);
    EXPECT_EQ(Get(h, a, nullptr), MQRC_HCONN_ASYNC_ACTIVE);
    EXPECT_EQ(Register(h, b, &other), MQRC_HCONN_ASYNC_ACTIVE);
    EXPECT_EQ(Control(h, MQOP_START), MQRC_HCONN_ASYNC_ACTIVE);
    ASSERT_EQ(Put1(p, "A.Q", "first"), 0);
    ASSERT_EQ(Put1(p, "B.Q", "second"), 0);
    ASSERT_TRUE(WaitUntil([&] { return other.calls.load() == 1; }));
    EXPECT_EQ(registerRc.load(), 0);
    /* suspended: any thread again */
    EXPECT_EQ(Control(h, MQOP_SUSPEND), 0);
    EXPECT_EQ(Open(h, "A.Q", MQOO_OUTPUT, &spare), 0);
    ASSERT_EQ(Put1(p, "B.Q", "late"), 0);
    ASSERT_EQ(Control(h, MQOP_RESUME), 0);
    ASSERT_TRUE(WaitUntil([&] { return other.calls.load() == 2; }));
    std::lock_guard<std::mutex> g(other.mu);
    EXPECT_EQ(other.texts, (std::vector<std::string>{"second", "late"}));
}

/* Each row ends the consumption of n messages (every third of priority 5,
 * so first) at call 10, with more read ahead: MQOP_STOP or MQDISC from
 * another thread while that call is running, MQDISC inside it, or a network
 * failure. What the callbacks took and then what is left on the queue are
 * the queue's order, and no callback comes after the end. A break loses the
 * acknowledgements in flight, so what a callback took may come again, but
 * nothing is lost and the queue keeps its order. */
TEST_F(MqsimAsync, EndingConsumptionPutsTheReadAheadBackInOrder) {
    enum { STOP, DISC, DISC_IN_CALLBACK, BREAK };
    const int n = 150, at = 10;
    auto prio = [](int i) -> MQLONG { return i % 3 == 0 ? 5 : 0; };
    std::vector<std::string> expected;
    for (MQLONG pr : {5, 0})
        for (int i = 0; i < n; i++)
            if (prio(i) == pr)
                expected.push_back(Text(i));
    for (int how : {STOP, DISC, DISC_IN_CALLBACK, BREAK}) {
        SCOPED_TRACE("row " + std::to_string(how));
        if (h == MQHC_UNUSABLE_HCONN) {
            ASSERT_EQ(Connect("QMA", &h), 0);
        }
        RECORDER r;
        std::atomic<MQLONG> endRc{-1};
        if (how == DISC_IN_CALLBACK)
            r.action = [&](MQHCONN hc, MQCBC *, int callNo) {
                MQHCONN self = hc;
                if (callNo == at)
                    endRc = Disconnect(&self);
            };
        else
            r.holdAt = at;
        PutMessages("A.Q", 0, n, prio);
        Consume("A.Q", &r);
        if (how != DISC_IN_CALLBACK) {
            ASSERT_TRUE(WaitUntil([&] { return r.holding.load() == 1; }));
            ASSERT_TRUE(WaitUntil([&] { return Depth(p, "A.Q") < n - at - 1; }))
                << "nothing read ahead";
        }
        if (how == BREAK) {
            std::string out;
            ASSERT_EQ(qm.Run({"break", "QMA"}, &out), 0) << out;
            r.release = 1;
            Disconnect(&p); /* broken too: the checks go through a new connection */
            ASSERT_EQ(Connect("QMA", &p), 0);
            ASSERT_TRUE(WaitUntil([&] { return r.calls.load() > at; }));
            std::map<std::string, size_t> place;
            for (size_t i = 0; i < expected.size(); i++)
                place[expected[i]] = i;
            std::set<std::string> seen;
            {
                std::lock_guard<std::mutex> g(r.mu);
                seen.insert(r.texts.begin(), r.texts.end());
            }
            ASSERT_TRUE(WaitUntil([&] { return Depth(p, "A.Q") >= n - (MQLONG)seen.size(); }));
            std::vector<std::string> rest = Drain("A.Q");
            for (size_t i = 1; i < rest.size(); i++)
                EXPECT_LT(place[rest[i - 1]], place[rest[i]]) << rest[i] << " out of order";
            seen.insert(rest.begin(), rest.end());
            EXPECT_EQ(seen.size(), (size_t)n) << "messages lost";
            Disconnect(&h); /* joins the callback thread before r goes */
            break;
        }
        if (how == DISC_IN_CALLBACK) {
            ASSERT_TRUE(WaitUntil([&] { return endRc.load() != -1; }));
        } else {
            std::atomic<int> ending{0};
            std::thread ender([&] {
                ending = 1;
                endRc = how == STOP ? Control(h, MQOP_STOP) : Disconnect(&h);
            });
            ASSERT_TRUE(WaitUntil([&] { return ending.load() == 1; }));
            r.release = 1;
            ender.join();
        }
        EXPECT_EQ(endRc.load(), 0);
        const int calls = r.calls.load();
        ASSERT_GT(calls, at) << "the end came after the running callback returned";
        ASSERT_TRUE(WaitUntil([&] { return Depth(p, "A.Q") == n - calls; })) << Depth(p, "A.Q");
        {
            std::lock_guard<std::mutex> g(r.mu);
            std::vector<std::string> all = r.texts, rest = Drain("A.Q");
            all.insert(all.end(), rest.begin(), rest.end());
            EXPECT_EQ(all, expected);
        }
        EXPECT_EQ(r.calls.load(), calls) << "no callback after the end";
        if (how == STOP) { /* consumption starts again where it left off */
            ASSERT_EQ(Put1(p, "A.Q", "again"), 0);
            ASSERT_EQ(Control(h, MQOP_START), 0);
            ASSERT_TRUE(WaitUntil([&] { return r.calls.load() == calls + 1; }));
            std::lock_guard<std::mutex> g(r.mu);
            EXPECT_EQ(r.texts.back(), "again");
        }
        if (h != MQHC_UNUSABLE_HCONN && how != DISC_IN_CALLBACK)
            Disconnect(&h);
        h = MQHC_UNUSABLE_HCONN;
    }
}

}  // namespace
