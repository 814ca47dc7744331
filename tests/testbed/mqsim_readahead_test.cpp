/* mqsim_readahead_test.cpp -- read-ahead for asynchronous consumers: the
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

#include "support/process.h"
#include "mqsim_util.h"

namespace {

/* What the consumer saw, through MQCBD.CallbackArea. The call numbered
 * holdAt (from 0) waits inside the callback until release is set; action,
 * when set, runs in every call after the message is recorded. */
struct RECORDER {
    std::mutex mu;
    std::vector<std::string> texts; /* MQCBCT_MSG_REMOVED calls, in call order */
    std::vector<MQHOBJ> hobjs;
    std::vector<MQLONG> backouts;
    std::set<std::thread::id> threads;
    std::atomic<int> calls{0};
    std::atomic<int> inside{0};
    std::atomic<int> overlap{0};
    std::atomic<int> holdAt{-1};
    std::atomic<int> holding{0};
    std::atomic<int> release{0};
    std::function<void(MQHCONN, MQCBC *, int)> action;
};

void MQENTRY Recorder(MQHCONN hconn, PMQMD md, PMQGMO gmo, PMQVOID buffer, PMQCBC cbc) {
    (void)gmo;
    RECORDER *r = (RECORDER *)cbc->CallbackArea;
    if (r->inside.fetch_add(1) != 0)
        r->overlap++;
    int n = r->calls.load();
    if (n == r->holdAt.load()) {
        r->holding = 1;
        while (!r->release.load())
            PLSleep(1);
    }
    if (cbc->CallType == MQCBCT_MSG_REMOVED) {
        std::lock_guard<std::mutex> g(r->mu);
        r->texts.emplace_back((const char *)buffer, (size_t)cbc->BufferLength);
        r->hobjs.push_back(cbc->Hobj);
        r->backouts.push_back(md->BackoutCount);
        r->threads.insert(std::this_thread::get_id());
    }
    if (r->action)
        r->action(hconn, cbc, n);
    r->inside--;
    r->calls++;
}

MQLONG Register(MQHCONN h, MQHOBJ o, RECORDER *r, MQLONG gmoOptions = MQGMO_NO_SYNCPOINT) {
    MQCBD cbd = MQCBD_DEFAULT;
    cbd.CallbackType = MQCBT_MESSAGE_CONSUMER;
    cbd.CallbackFunction = (MQPTR)Recorder;
    cbd.CallbackArea = r;
    MQMD md = MQMD_DEFAULT;
    MQGMO gmo = MQGMO_DEFAULT;
    gmo.Options = gmoOptions;
    MQLONG cc, rc;
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

std::string Text(int i) {
    char t[16];
    snprintf(t, sizeof t, "m%03d", i);
    return t;
}

class MqsimReadAhead : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(qm.Start("QMR"), "");
        std::string out;
        ASSERT_EQ(qm.Run({"mqsc", "QMR", "DEFINE QLOCAL(A.Q)"}, &out), 0) << out;
        ASSERT_EQ(qm.Run({"mqsc", "QMR", "DEFINE QLOCAL(B.Q)"}, &out), 0) << out;
        ASSERT_EQ(Connect("QMR", &h), 0);
        ASSERT_EQ(Connect("QMR", &p), 0);
    }
    void TearDown() override {
        if (h != MQHC_UNUSABLE_HCONN) {
            Control(h, MQOP_STOP);
            Disconnect(&h);
        }
        if (p != MQHC_UNUSABLE_HCONN)
            Disconnect(&p);
    }

    /* n messages Text(0) ... on q from the producer connection; priority
     * of message i from prio (all 0 without it). */
    void PutMessages(const char *q, int n, const std::function<MQLONG(int)> &prio = nullptr) {
        MQHOBJ o;
        ASSERT_EQ(Open(p, q, MQOO_OUTPUT, &o), 0);
        for (int i = 0; i < n; i++) {
            MQMD md = MQMD_DEFAULT;
            memcpy(md.Format, MQFMT_STRING, 8);
            md.Priority = prio ? prio(i) : 0;
            ASSERT_EQ(Put(p, o, Text(i), &md), 0);
        }
        Close(p, &o);
    }

    /* CURDEPTH of q, as another application sees it (-1 on failure). */
    MQLONG Depth(const char *q) {
        MQHOBJ o;
        if (Open(p, q, MQOO_INQUIRE, &o) != 0)
            return -1;
        std::vector<MQLONG> v;
        MQLONG rc = InqInts(p, o, {MQIA_CURRENT_Q_DEPTH}, &v);
        Close(p, &o);
        return rc == 0 ? v[0] : -1;
    }

    /* Every message left on q, taken in order by the producer connection. */
    std::vector<std::string> Drain(const char *q) {
        std::vector<std::string> got;
        MQHOBJ o;
        if (Open(p, q, MQOO_INPUT_SHARED, &o) != 0)
            return got;
        std::string text;
        while (Get(p, o, &text) == 0)
            got.push_back(text);
        Close(p, &o);
        return got;
    }

    MqsimQueueManager qm;
    MQHCONN h = MQHC_UNUSABLE_HCONN; /* the consuming connection */
    MQHCONN p = MQHC_UNUSABLE_HCONN; /* producer and observer */
};

TEST_F(MqsimReadAhead, StopMidStreamPutsTheReadAheadBackInOrder) {
    /* every third message has priority 5: they come first, each priority
     * in arrival order */
    auto prio = [](int i) -> MQLONG { return i % 3 == 0 ? 5 : 0; };
    const int n = 200;
    PutMessages("A.Q", n, prio);
    std::vector<std::string> expected;
    for (MQLONG pr : {5, 0}) {
        for (int i = 0; i < n; i++) {
            if (prio(i) == pr)
                expected.push_back(Text(i));
        }
    }
    RECORDER r;
    r.holdAt = 10;
    MQHOBJ a;
    ASSERT_EQ(Open(h, "A.Q", MQOO_INPUT_SHARED, &a), 0);
    ASSERT_EQ(Register(h, a, &r), 0);
    ASSERT_EQ(Control(h, MQOP_START), 0);
    ASSERT_TRUE(WaitUntil([&] { return r.holding.load() == 1; }));
    /* more than the callbacks took has left the queue (read ahead), but no
     * more than one window beyond what was acknowledged */
    ASSERT_TRUE(WaitUntil([&] { return Depth("A.Q") < n - 11; })) << Depth("A.Q");
    EXPECT_GE(Depth("A.Q"), n - 11 - 64);

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
    EXPECT_EQ(Depth("A.Q"), n - callsAtReturn.load()) << "everything read ahead is back at once";

    std::vector<std::string> all;
    {
        std::lock_guard<std::mutex> g(r.mu);
        all = r.texts;
    }
    std::vector<std::string> rest = Drain("A.Q");
    EXPECT_EQ(r.calls.load(), callsAtReturn.load()) << "no callback after MQOP_STOP";
    all.insert(all.end(), rest.begin(), rest.end());
    EXPECT_EQ(all, expected);
}

TEST_F(MqsimReadAhead, DisconnectWithMessagesInFlightLosesAndDuplicatesNothing) {
    const int n = 150;
    PutMessages("A.Q", n);
    RECORDER r;
    r.holdAt = 20;
    MQHOBJ a;
    ASSERT_EQ(Open(h, "A.Q", MQOO_INPUT_SHARED, &a), 0);
    ASSERT_EQ(Register(h, a, &r), 0);
    ASSERT_EQ(Control(h, MQOP_START), 0);
    ASSERT_TRUE(WaitUntil([&] { return r.holding.load() == 1; }));
    ASSERT_TRUE(WaitUntil([&] { return Depth("A.Q") < n - 21; })) << Depth("A.Q");
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

    std::vector<std::string> all;
    {
        std::lock_guard<std::mutex> g(r.mu);
        all = r.texts;
    }
    std::vector<std::string> rest = Drain("A.Q");
    all.insert(all.end(), rest.begin(), rest.end());
    std::vector<std::string> expected;
    for (int i = 0; i < n; i++)
        expected.push_back(Text(i));
    EXPECT_EQ(all, expected);
}

TEST_F(MqsimReadAhead, DisconnectingInACallbackGivesBackTheReadAhead) {
    const int n = 150;
    PutMessages("A.Q", n);
    RECORDER r;
    std::atomic<MQLONG> discRc{-1};
    r.action = [&](MQHCONN hc, MQCBC *cbc, int callNo) {
        (void)cbc;
        if (callNo == 20) {
            MQHCONN self = hc;
            discRc = Disconnect(&self);
        }
    };
    MQHOBJ a;
    ASSERT_EQ(Open(h, "A.Q", MQOO_INPUT_SHARED, &a), 0);
    ASSERT_EQ(Register(h, a, &r), 0);
    ASSERT_EQ(Control(h, MQOP_START), 0);
    ASSERT_TRUE(WaitUntil([&] { return discRc.load() != -1; }));
    EXPECT_EQ(discRc.load(), 0);
    h = MQHC_UNUSABLE_HCONN;
    ASSERT_TRUE(WaitUntil([&] { return Depth("A.Q") == n - 21; })) << Depth("A.Q");
    EXPECT_EQ(r.calls.load(), 21);
    std::vector<std::string> rest = Drain("A.Q");
    ASSERT_EQ(rest.size(), (size_t)(n - 21));
    for (int i = 21; i < n; i++)
        EXPECT_EQ(rest[(size_t)(i - 21)], Text(i));
}

TEST_F(MqsimReadAhead, ABrokenConnectionGivesBackWhatItHadInFlight) {
    const int n = 150;
    PutMessages("A.Q", n);
    RECORDER r;
    r.holdAt = 20;
    MQHOBJ a;
    ASSERT_EQ(Open(h, "A.Q", MQOO_INPUT_SHARED, &a), 0);
    ASSERT_EQ(Register(h, a, &r), 0);
    ASSERT_EQ(Control(h, MQOP_START), 0);
    ASSERT_TRUE(WaitUntil([&] { return r.holding.load() == 1; }));
    ASSERT_TRUE(WaitUntil([&] { return Depth("A.Q") < n - 21; })) << Depth("A.Q");
    /* the network fails: acknowledgements still held back are lost with
     * it, so what the callbacks took may come again, but nothing the
     * callbacks never saw is lost, and the queue keeps its order */
    std::string out;
    ASSERT_EQ(qm.Run({"break", "QMR"}, &out), 0) << out;
    r.release = 1;
    Disconnect(&p); /* broken too: the checks go through a new connection */
    ASSERT_EQ(Connect("QMR", &p), 0);
    ASSERT_TRUE(WaitUntil([&] { return r.calls.load() >= 21; }));
    std::set<std::string> seen;
    {
        std::lock_guard<std::mutex> g(r.mu);
        seen.insert(r.texts.begin(), r.texts.end());
    }
    ASSERT_TRUE(WaitUntil([&] { return Depth("A.Q") >= n - (MQLONG)seen.size(); })) << Depth("A.Q");
    std::vector<std::string> rest = Drain("A.Q");
    EXPECT_TRUE(std::is_sorted(rest.begin(), rest.end()));
    EXPECT_EQ(std::set<std::string>(rest.begin(), rest.end()).size(), rest.size());
    for (int i = 0; i < n; i++) {
        bool found =
            seen.count(Text(i)) > 0 || std::find(rest.begin(), rest.end(), Text(i)) != rest.end();
        EXPECT_TRUE(found) << Text(i) << " was lost";
    }
}

TEST_F(MqsimReadAhead, TwoConsumersOnOneConnectionAreStillCalledOneAtATime) {
    const int n = 300;
    RECORDER r;
    MQHOBJ a, b;
    ASSERT_EQ(Open(h, "A.Q", MQOO_INPUT_SHARED, &a), 0);
    ASSERT_EQ(Open(h, "B.Q", MQOO_INPUT_SHARED, &b), 0);
    ASSERT_EQ(Register(h, a, &r), 0);
    ASSERT_EQ(Register(h, b, &r), 0);
    /* half before the start, half while the consumers run */
    PutMessages("A.Q", n / 2);
    PutMessages("B.Q", n / 2);
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
    std::lock_guard<std::mutex> g(r.mu);
    EXPECT_EQ(r.threads.size(), 1u) << "all on one thread";
    std::vector<std::string> fromA, fromB;
    for (size_t i = 0; i < r.texts.size(); i++)
        (r.hobjs[i] == a ? fromA : fromB).push_back(r.texts[i]);
    std::vector<std::string> expected;
    for (int i = 0; i < n; i++)
        expected.push_back(Text(i));
    EXPECT_EQ(fromA, expected);
    EXPECT_EQ(fromB, expected);
    EXPECT_EQ(Depth("A.Q"), 0);
    EXPECT_EQ(Depth("B.Q"), 0);
}

TEST_F(MqsimReadAhead, SuspendingAConsumerInItsCallbackPutsTheReadAheadBack) {
    const int n = 100;
    PutMessages("A.Q", n);
    RECORDER r;
    MQHOBJ a;
    ASSERT_EQ(Open(h, "A.Q", MQOO_INPUT_SHARED, &a), 0);
    std::atomic<MQLONG> suspendRc{-1};
    r.action = [&](MQHCONN hc, MQCBC *cbc, int callNo) {
        if (callNo == 10)
            suspendRc = Consumer(hc, MQOP_SUSPEND, cbc->Hobj);
    };
    ASSERT_EQ(Register(h, a, &r), 0);
    ASSERT_EQ(Control(h, MQOP_START), 0);
    ASSERT_TRUE(WaitUntil([&] { return r.calls.load() == 11; }));
    EXPECT_EQ(suspendRc.load(), 0);
    /* all but the eleven delivered are back on the queue */
    ASSERT_TRUE(WaitUntil([&] { return Depth("A.Q") == n - 11; })) << Depth("A.Q");
    EXPECT_EQ(r.calls.load(), 11);
    /* a started connection takes MQCB from its callbacks only */
    ASSERT_EQ(Control(h, MQOP_SUSPEND), 0);
    ASSERT_EQ(Consumer(h, MQOP_RESUME, a), 0);
    ASSERT_EQ(Control(h, MQOP_RESUME), 0);
    ASSERT_TRUE(WaitUntil([&] { return r.calls.load() == n; })) << r.calls.load();
    std::vector<std::string> expected;
    for (int i = 0; i < n; i++)
        expected.push_back(Text(i));
    std::lock_guard<std::mutex> g(r.mu);
    EXPECT_EQ(r.texts, expected);
}

TEST_F(MqsimReadAhead, DeregisteringOrClosingInACallbackLeavesTheRestQueuedInOrder) {
    const int n = 100;
    PutMessages("A.Q", n);
    PutMessages("B.Q", n);
    RECORDER ra, rb;
    MQHOBJ a, b;
    ASSERT_EQ(Open(h, "A.Q", MQOO_INPUT_SHARED, &a), 0);
    ASSERT_EQ(Open(h, "B.Q", MQOO_INPUT_SHARED, &b), 0);
    std::atomic<MQLONG> deregRc{-1}, closeRc{-1};
    ra.action = [&](MQHCONN hc, MQCBC *cbc, int callNo) {
        if (callNo == 10)
            deregRc = Consumer(hc, MQOP_DEREGISTER, cbc->Hobj);
    };
    rb.action = [&](MQHCONN hc, MQCBC *cbc, int callNo) {
        if (callNo == 5) {
            MQHOBJ o = cbc->Hobj;
            closeRc = Close(hc, &o);
        }
    };
    ASSERT_EQ(Register(h, a, &ra), 0);
    ASSERT_EQ(Register(h, b, &rb), 0);
    ASSERT_EQ(Control(h, MQOP_START), 0);
    ASSERT_TRUE(WaitUntil([&] { return ra.calls.load() == 11 && rb.calls.load() == 6; }));
    EXPECT_EQ(deregRc.load(), 0);
    EXPECT_EQ(closeRc.load(), 0);
    ASSERT_TRUE(WaitUntil([&] { return Depth("A.Q") == n - 11 && Depth("B.Q") == n - 6; }))
        << Depth("A.Q") << " " << Depth("B.Q");
    ASSERT_EQ(Control(h, MQOP_STOP), 0);
    EXPECT_EQ(ra.calls.load(), 11);
    EXPECT_EQ(rb.calls.load(), 6);
    std::vector<std::string> restA = Drain("A.Q"), restB = Drain("B.Q");
    ASSERT_EQ(restA.size(), (size_t)(n - 11));
    ASSERT_EQ(restB.size(), (size_t)(n - 6));
    for (int i = 11; i < n; i++)
        EXPECT_EQ(restA[(size_t)(i - 11)], Text(i));
    for (int i = 6; i < n; i++)
        EXPECT_EQ(restB[(size_t)(i - 6)], Text(i));
}

TEST_F(MqsimReadAhead, ASyncpointConsumerIsGivenOneMessageAtATime) {
    const int n = 20;
    PutMessages("A.Q", n);
    RECORDER r;
    r.holdAt = 3;
    r.action = [&](MQHCONN hc, MQCBC *cbc, int callNo) {
        (void)cbc;
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
    ASSERT_EQ(Open(p, "A.Q", MQOO_INPUT_SHARED, &in), 0);
    std::string text;
    ASSERT_EQ(Get(p, in, &text), 0);
    EXPECT_EQ(text, "m003");
    Close(p, &in);
    r.release = 1;
    ASSERT_TRUE(WaitUntil([&] { return r.calls.load() == n; })) << r.calls.load();
    ASSERT_TRUE(WaitUntil([&] { return Depth("A.Q") == 0; })) << Depth("A.Q");
    std::vector<std::string> expected = {"m000", "m000", "m001", "m002"};
    for (int i = 4; i < n; i++)
        expected.push_back(Text(i));
    std::lock_guard<std::mutex> g(r.mu);
    EXPECT_EQ(r.texts, expected);
    ASSERT_GE(r.backouts.size(), 2u);
    EXPECT_EQ(r.backouts[0], 0);
    EXPECT_EQ(r.backouts[1], 1);
}

TEST_F(MqsimReadAhead, LargeMessagesAreReadAheadByBytesNotCount) {
    const int n = 12;
    const size_t size = 300 * 1024;
    MQHOBJ o;
    ASSERT_EQ(Open(p, "A.Q", MQOO_OUTPUT, &o), 0);
    for (int i = 0; i < n; i++)
        ASSERT_EQ(Put(p, o, std::string(size, (char)('a' + i))), 0);
    Close(p, &o);
    RECORDER r;
    r.holdAt = 0;
    MQHOBJ a;
    ASSERT_EQ(Open(h, "A.Q", MQOO_INPUT_SHARED, &a), 0);
    ASSERT_EQ(Register(h, a, &r), 0);
    ASSERT_EQ(Control(h, MQOP_START), 0);
    ASSERT_TRUE(WaitUntil([&] { return r.holding.load() == 1; }));
    /* read ahead, up to about 1 MB: four such messages at most */
    ASSERT_TRUE(WaitUntil([&] { return Depth("A.Q") < n - 1; })) << Depth("A.Q");
    EXPECT_GE(Depth("A.Q"), n - 4);
    r.release = 1;
    ASSERT_TRUE(WaitUntil([&] { return r.calls.load() == n; })) << r.calls.load();
    std::lock_guard<std::mutex> g(r.mu);
    ASSERT_EQ(r.texts.size(), (size_t)n);
    for (int i = 0; i < n; i++)
        EXPECT_EQ(r.texts[(size_t)i], std::string(size, (char)('a' + i))) << i;
}

}  // namespace
