/* mqsim_mqi_test.cpp -- the stand-in MQI library against a live daemon:
 * identifiers and context, gets with wait and matching, dynamic queues,
 * inquiries, remote names, the reasons of limits and misuse, injected
 * faults, handles; and asynchronous consumption: consumers called one at a
 * time on one thread after MQOP_START, event calls, the states of MQCTL, a
 * started connection serving only its callbacks, and read-ahead given back
 * in order when consumption ends. (Frames that are not frames:
 * mqsim_fuzz_test.) */
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

const char CMDQ[] = "CORVEL.TORVIK.COMMAND.QUEUE";

std::string Id(const MQBYTE24 id) {
    return std::string((const char *)id, 24);
}

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

/* QM1 with T.Q (MAXDEPTH 3, MAXMSGL 100), A.Q and B.Q; h the connection
 * under test, p another (a producer and observer). */
class MqsimMqi : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(qm.Start("QM1", {"--mqsc", MqsimQueueManager::Sample("torvik.mqsc")}), "");
        qm.Mqsc("QM1", {"DEFINE QLOCAL(T.Q) MAXDEPTH(3) MAXMSGL(100)", "DEFINE QLOCAL(A.Q)",
                        "DEFINE QLOCAL(B.Q)"});
        ASSERT_EQ(Connect("QM1", &h), 0);
        ASSERT_EQ(Connect("QM1", &p), 0);
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

TEST_F(MqsimMqi, PutMakesUniqueMsgIdsAndFillsContextAndReplyToQMgr) {
    MQHOBJ out, in;
    ASSERT_EQ(Open(h, CMDQ, MQOO_OUTPUT, &out), 0);
    ASSERT_EQ(Open(h, CMDQ, MQOO_INPUT_SHARED, &in), 0);
    std::set<std::string> ids;
    for (int i = 0; i < 20; i++) {
        MQMD md = MQMD_DEFAULT;
        SetName(md.ReplyToQ, sizeof md.ReplyToQ, "MY.REPLY");
        ASSERT_EQ(Put(h, out, "m" + std::to_string(i), &md), 0);
        EXPECT_EQ(Id(md.MsgId).substr(0, 4), "AMQ ");
        ids.insert(Id(md.MsgId));
        /* a blank ReplyToQMgr is the local queue manager's name, returned */
        EXPECT_EQ(GetName(md.ReplyToQMgr, 48), "QM1");
    }
    EXPECT_EQ(ids.size(), 20u);
    MQMD md = MQMD_DEFAULT;
    std::string text;
    ASSERT_EQ(Get(h, in, &text, &md), 0);
    EXPECT_EQ(text, "m0");
    EXPECT_EQ(ids.count(Id(md.MsgId)), 1u);
    EXPECT_EQ(GetName(md.ReplyToQ, 48) + "@" + GetName(md.ReplyToQMgr, 48), "MY.REPLY@QM1");
    /* default context: the user and program, a put date and time */
    char user[64];
    PLUserName(user, sizeof user);
    EXPECT_EQ(GetName(md.UserIdentifier, 12), std::string(user).substr(0, 12));
    EXPECT_EQ(GetName(md.PutApplName, 28), "mqsim_test");
    EXPECT_EQ(std::string(md.PutDate, 2) + std::to_string(md.PutApplType),
              "20" + std::to_string(MQAT_UNIX));
    /* a given MsgId is kept */
    MQMD given = MQMD_DEFAULT;
    memcpy(given.MsgId, "MY-OWN-MESSAGE-ID-000001", 24);
    ASSERT_EQ(Put(h, out, "x", &given), 0);
    EXPECT_EQ(Id(given.MsgId), "MY-OWN-MESSAGE-ID-000001");
}

TEST_F(MqsimMqi, GetMatchesIdsWaitsAndReportsTruncation) {
    MQHOBJ out, in;
    ASSERT_EQ(Open(h, CMDQ, MQOO_OUTPUT, &out), 0);
    ASSERT_EQ(Open(h, CMDQ, MQOO_INPUT_EXCLUSIVE, &in), 0);
    MQMD a = MQMD_DEFAULT, b = MQMD_DEFAULT, c = MQMD_DEFAULT;
    memcpy(b.CorrelId, "CORREL-B-000000000000000", 24);
    ASSERT_EQ(Put(h, out, "first", &a), 0);
    ASSERT_EQ(Put(h, out, "second", &b), 0);
    ASSERT_EQ(Put(h, out, "a rather longer third message", &c), 0);
    MQMD match = MQMD_DEFAULT;
    memcpy(match.CorrelId, b.CorrelId, 24);
    std::string text;
    ASSERT_EQ(Get(h, in, &text, &match), 0);
    EXPECT_EQ(text, "second");
    /* too long for the buffer: 2080 and the message stays, unless accepted */
    std::vector<MQLONG> reasons;
    for (MQLONG options : {MQGMO_NO_SYNCPOINT, MQGMO_ACCEPT_TRUNCATED_MSG, MQGMO_NO_SYNCPOINT}) {
        MQLONG len = 0;
        match = MQMD_DEFAULT;
        memcpy(match.MsgId, c.MsgId, 24);
        reasons.push_back(Get(h, in, &text, &match, options, 0, 5, &len));
        EXPECT_EQ(text + " " + std::to_string(len), reasons.size() < 3 ? "a rat 29" : " 0");
    }
    EXPECT_EQ(reasons, (std::vector<MQLONG>{MQRC_TRUNCATED_MSG_FAILED, MQRC_TRUNCATED_MSG_ACCEPTED,
                                            MQRC_NO_MSG_AVAILABLE}));
    ASSERT_EQ(Get(h, in, &text), 0);
    EXPECT_EQ(text, "first");
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(Get(h, in, nullptr, nullptr, MQGMO_NO_SYNCPOINT, 300), MQRC_NO_MSG_AVAILABLE);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(250));
}

TEST_F(MqsimMqi, PassAllContextCopiesTheContextOfTheLastMessageTaken) {
    MQHOBJ in, out, any, o2;
    ASSERT_EQ(Open(h, CMDQ, MQOO_INPUT_SHARED | MQOO_SAVE_ALL_CONTEXT, &in), 0);
    ASSERT_EQ(Open(h, "T.Q", MQOO_OUTPUT | MQOO_PASS_ALL_CONTEXT, &out), 0);
    ASSERT_EQ(Open(h, "T.Q", MQOO_INPUT_SHARED, &any), 0);
    /* the requester's message, with an identity set by the requester */
    ASSERT_EQ(Open(p, CMDQ, MQOO_OUTPUT | MQOO_SET_IDENTITY_CONTEXT, &o2), 0);
    MQMD req = MQMD_DEFAULT;
    memcpy(req.UserIdentifier, "alice       ", 12);
    memcpy(req.ApplIdentityData, "requester identity data         ", 32);
    ASSERT_EQ(Put(p, o2, "request", &req, MQPMO_SET_IDENTITY_CONTEXT), 0);
    MQMD got = MQMD_DEFAULT, fwd = MQMD_DEFAULT, back = MQMD_DEFAULT;
    std::string text;
    ASSERT_EQ(Get(h, in, &text, &got), 0);
    ASSERT_EQ(Put(h, out, "forwarded", &fwd, MQPMO_NO_SYNCPOINT | MQPMO_PASS_ALL_CONTEXT, in), 0);
    ASSERT_EQ(Get(h, any, &text, &back), 0);
    EXPECT_EQ(text, "forwarded");
    EXPECT_EQ(GetName(back.UserIdentifier, 12), "alice");
    EXPECT_EQ(std::string(back.ApplIdentityData, 32), "requester identity data         ");
    /* PutApplName, PutDate, PutTime: contiguous in the descriptor */
    EXPECT_EQ(std::string(back.PutApplName, 28 + 8 + 8), std::string(got.PutApplName, 28 + 8 + 8));
    EXPECT_NE(Id(back.MsgId), Id(got.MsgId));
}

TEST_F(MqsimMqi, ModelQueuesMakeDynamicQueuesThatGoWithTheirConnection) {
    MQOD od;
    MQHOBJ dyn, other, gone;
    ASSERT_EQ(Open(p, "SYSTEM.DEFAULT.MODEL.QUEUE", MQOO_INPUT_EXCLUSIVE | MQOO_INQUIRE, &dyn, &od,
                   "", "CORVEL.TORVIK.*"),
              0);
    std::string name = GetName(od.ObjectName, 48);
    EXPECT_EQ(name.rfind("CORVEL.TORVIK.", 0), 0u) << name;
    EXPECT_GT(name.size(), strlen("CORVEL.TORVIK.")) << "the * is replaced by a suffix";
    EXPECT_EQ(GetName(od.ResolvedQName, 48) + "@" + GetName(od.ResolvedQMgrName, 48),
              name + "@QM1");
    std::vector<MQLONG> ints;
    ASSERT_EQ(InqInts(p, dyn, {MQIA_DEFINITION_TYPE, MQIA_Q_TYPE}, &ints), 0);
    EXPECT_EQ(ints, (std::vector<MQLONG>{MQQDT_TEMPORARY_DYNAMIC, MQQT_LOCAL}));
    /* another connection can put to it */
    ASSERT_EQ(Put1(h, name.c_str(), "reply"), 0);
    std::string text;
    ASSERT_EQ(Get(p, dyn, &text), 0);
    EXPECT_EQ(text, "reply");
    /* it goes with its connection, though a handle of another keeps it */
    ASSERT_EQ(Open(h, name.c_str(), MQOO_OUTPUT, &other), 0);
    ASSERT_EQ(Disconnect(&p), 0);
    EXPECT_EQ(Open(h, name.c_str(), MQOO_OUTPUT, &gone), MQRC_UNKNOWN_OBJECT_NAME);
    EXPECT_EQ(Put(h, other, "late"), MQRC_Q_DELETED);
    EXPECT_EQ(Close(h, &other), 0);
}

TEST_F(MqsimMqi, InquireAnswersQueueManagerAndQueueSelectors) {
    MQHOBJ q, t;
    ASSERT_EQ(OpenQmgr(h, &q), 0);
    MQLONG sels[3] = {MQCA_Q_MGR_NAME, MQIA_PLATFORM, MQIA_COMMAND_LEVEL}, ints[2], cc, rc;
    char name[48];
    MQINQ(h, q, 3, sels, 2, ints, (MQLONG)sizeof name, name, &cc, &rc);
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(std::string(name, 48), std::string("QM1") + std::string(45, ' '));
    EXPECT_EQ(std::vector<MQLONG>(ints, ints + 2), (std::vector<MQLONG>{MQPL_UNIX, 940}));
    ASSERT_EQ(Open(h, "T.Q", MQOO_INQUIRE | MQOO_OUTPUT, &t), 0);
    ASSERT_EQ(Put(h, t, "abc"), 0);
    std::vector<MQLONG> v;
    ASSERT_EQ(InqInts(h, t,
                      {MQIA_MAX_MSG_LENGTH, MQIA_MAX_Q_DEPTH, MQIA_CURRENT_Q_DEPTH,
                       MQIA_DEFINITION_TYPE, MQIA_Q_TYPE, MQIA_OPEN_OUTPUT_COUNT},
                      &v),
              0);
    EXPECT_EQ(v, (std::vector<MQLONG>{100, 3, 1, MQQDT_PREDEFINED, MQQT_LOCAL, 1}));
}

TEST_F(MqsimMqi, QueuesOfOtherQueueManagersResolveToTheTransmissionQueue) {
    qm.Mqsc("QM1",
            {"DEFINE QLOCAL(QM2) USAGE(XMITQ)", "DEFINE QREMOTE(R.Q) RNAME(FAR.Q) RQMNAME(QM2)"});
    MQOD od;
    MQHOBJ o, r, x;
    ASSERT_EQ(Open(h, "THEIR.REPLY", MQOO_OUTPUT, &o, &od, "QM2"), 0);
    EXPECT_EQ(GetName(od.ObjectName, 48) + "@" + GetName(od.ResolvedQMgrName, 48),
              "THEIR.REPLY@QM2");
    ASSERT_EQ(Put(h, o, "to qm2"), 0);
    ASSERT_EQ(Open(h, "R.Q", MQOO_OUTPUT, &r, &od), 0);
    EXPECT_EQ(GetName(od.ResolvedQName, 48), "FAR.Q");
    ASSERT_EQ(Put(h, r, "via definition"), 0);
    ASSERT_EQ(Put1(h, "X.Y", "put1 remote", nullptr, MQPMO_NO_SYNCPOINT, "QM2"), 0);
    ASSERT_EQ(Open(h, "QM2", MQOO_INPUT_SHARED, &x), 0);
    for (const char *want : {"to qm2", "via definition", "put1 remote"}) {
        std::string text;
        ASSERT_EQ(Get(h, x, &text), 0);
        EXPECT_EQ(text, want);
    }
    /* the local name counts as local */
    ASSERT_EQ(Open(h, "T.Q", MQOO_OUTPUT | MQOO_INQUIRE, &o, &od, "QM1"), 0);
}

/* The reasons of limits and misuse, each from one call. */
TEST_F(MqsimMqi, LimitsAndBadArgumentsGiveThePublishedReasons) {
    qm.Mqsc("QM1", {"DEFINE QLOCAL(FULL.Q) MAXDEPTH(1)", "DEFINE QLOCAL(QM2) USAGE(XMITQ)",
                    "DEFINE QLOCAL(OFF.Q) PUT(DISABLED) GET(DISABLED)"});
    ASSERT_EQ(Put1(h, "FULL.Q", "fill"), 0);
    MQHOBJ t, outOnly, qmgr, off, save, pass, o;
    ASSERT_EQ(Open(h, "T.Q", MQOO_OUTPUT | MQOO_INPUT_SHARED, &t), 0);
    ASSERT_EQ(Open(h, "T.Q", MQOO_OUTPUT | MQOO_PASS_ALL_CONTEXT, &pass), 0);
    ASSERT_EQ(Open(h, "T.Q", MQOO_OUTPUT, &outOnly), 0);
    ASSERT_EQ(Open(h, "OFF.Q", MQOO_OUTPUT | MQOO_INPUT_SHARED, &off), 0);
    ASSERT_EQ(Open(h, CMDQ, MQOO_INPUT_SHARED | MQOO_SAVE_ALL_CONTEXT, &save), 0);
    ASSERT_EQ(OpenQmgr(h, &qmgr), 0);
    std::vector<MQLONG> v;
    const struct {
        MQLONG got, reason;
    } rows[] = {
        {Put(h, t, std::string(101, 'x')), MQRC_MSG_TOO_BIG_FOR_Q},
        {Put(h, t, std::string(100, 'x')), 0},
        {Put1(h, "FULL.Q", "one too many"), MQRC_Q_FULL},
        {Put(h, off, "x"), MQRC_PUT_INHIBITED},
        {Get(h, off, nullptr), MQRC_GET_INHIBITED},
        {Open(h, "NO.SUCH.QUEUE", MQOO_OUTPUT, &o), MQRC_UNKNOWN_OBJECT_NAME},
        {Open(h, "THEIR.REPLY", MQOO_OUTPUT | MQOO_INQUIRE, &o, nullptr, "QM2"),
         MQRC_OPTION_NOT_VALID_FOR_TYPE},
        {Open(h, "THEIR.REPLY", MQOO_OUTPUT, &o, nullptr, "NOWHERE"), MQRC_UNKNOWN_REMOTE_Q_MGR},
        {Put(h, pass, "x", nullptr, MQPMO_PASS_ALL_CONTEXT, t), MQRC_CONTEXT_HANDLE_ERROR},
        {Put(h, outOnly, "x", nullptr, MQPMO_PASS_ALL_CONTEXT, save), MQRC_NOT_OPEN_FOR_PASS_ALL},
        {Put(h, outOnly, "x", nullptr, MQPMO_SET_IDENTITY_CONTEXT), MQRC_NOT_OPEN_FOR_SET_IDENT},
        {Put(h, outOnly, "x", nullptr, MQPMO_PASS_ALL_CONTEXT | MQPMO_NO_CONTEXT, save),
         MQRC_OPTIONS_ERROR},
        {Open(h, "T.Q", MQOO_INPUT_SHARED | MQOO_INPUT_EXCLUSIVE, &o), MQRC_OPTIONS_ERROR},
        {Put(h, 12345, "x"), MQRC_HOBJ_ERROR},
        {Put(h + 1000, t, "x"), MQRC_HCONN_ERROR},
        {Put(h, qmgr, "x"), MQRC_NOT_OPEN_FOR_OUTPUT},
        {Get(h, outOnly, nullptr), MQRC_NOT_OPEN_FOR_INPUT},
        {Get(h, t, nullptr, nullptr, MQGMO_NO_SYNCPOINT | MQGMO_SYNCPOINT), MQRC_OPTIONS_ERROR},
        {InqInts(h, qmgr, {MQIA_CURRENT_Q_DEPTH}, &v), MQRC_SELECTOR_ERROR},
        {InqInts(h, outOnly, {MQIA_Q_TYPE}, &v), MQRC_NOT_OPEN_FOR_INQUIRE},
    };
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; i++)
        EXPECT_EQ(rows[i].got, rows[i].reason) << "row " << i;
    /* a closed handle and a disconnected connection */
    ASSERT_EQ(Close(h, &outOnly), 0);
    EXPECT_EQ(outOnly, MQHO_UNUSABLE_HOBJ);
    MQHCONN saved = p;
    ASSERT_EQ(Disconnect(&p), 0);
    EXPECT_EQ(p, MQHC_UNUSABLE_HCONN);
    EXPECT_EQ(Put1(saved, "T.Q", "x"), MQRC_HCONN_ERROR);
    EXPECT_EQ(Disconnect(&saved), MQRC_HCONN_ERROR);
}

/* Each row: a fault, then calls and their reasons in order. */
TEST_F(MqsimMqi, FaultsFailExactlyTheGivenNumberOfCalls) {
    MQHOBJ t, q, o;
    ASSERT_EQ(Open(h, "T.Q", MQOO_OUTPUT, &t), 0);
    ASSERT_EQ(OpenQmgr(h, &q), 0);
    std::vector<MQLONG> v;
    auto put = [&] { return Put(h, t, "x"); };
    auto put1 = [&] { return Put1(h, "T.Q", "x"); };
    auto putOther = [&] { return Put1(h, CMDQ, "x"); };
    auto open = [&] { return Open(h, "T.Q", MQOO_INPUT_SHARED, &o); };
    auto openOther = [&] { return Open(h, CMDQ, MQOO_OUTPUT, &o); };
    auto inq = [&] { return InqInts(h, q, {MQIA_PLATFORM}, &v); };
    const struct {
        std::vector<std::string> fault;
        std::vector<std::pair<std::function<MQLONG()>, MQLONG>> calls;
    } rows[] = {
        {{"fault", "QM1", "put", "T.Q", "2053", "3"},
         {{put, 2053}, {put1, 2053}, {putOther, 0}, {put, 2053}, {put, 0}}},
        {{"fault", "QM1", "call", "MQOPEN", "T.Q", "2035", "1"},
         {{openOther, 0}, {open, 2035}, {open, 0}}},
        {{"fault", "QM1", "call", "MQINQ", "*", "2059", "-1"}, {{inq, 2059}, {inq, 2059}}},
        {{"fault", "QM1", "clear"}, {{inq, 0}}},
    };
    for (const auto &row : rows) {
        ASSERT_EQ(qm.Run(row.fault), 0) << row.fault[2];
        std::vector<MQLONG> want, got;
        for (const auto &call : row.calls) {
            got.push_back(call.first());
            want.push_back(call.second);
        }
        EXPECT_EQ(got, want) << row.fault[2] << " " << row.fault[3];
    }
    EXPECT_EQ(qm.Run({"fault", "QM1", "call", "MQFOO", "*", "2059"}), 1);
    EXPECT_EQ(qm.Run({"fault", "QM1", "put", "T.Q", "many"}), 1);
}

TEST_F(MqsimMqi, HandlesAreThreadBoundUnlessShared) {
    MQHCONN bound;
    ASSERT_EQ(Connect("QM1", &bound, MQCNO_NONE), 0);
    std::vector<MQLONG> fromOther;
    std::thread([&] { fromOther = {Put1(bound, "T.Q", "x"), Put1(h, "T.Q", "y")}; }).join();
    EXPECT_EQ(fromOther, (std::vector<MQLONG>{MQRC_HCONN_ERROR, 0})) << "MQCNO_HANDLE_SHARE_BLOCK";
    EXPECT_EQ(Put1(bound, "T.Q", "x"), 0);
    Disconnect(&bound);
}

TEST_F(MqsimMqi, MaxHandsBoundsTheHandlesOfAConnection) {
    std::vector<MQHOBJ> objs(256);
    for (MQHOBJ &o : objs)
        ASSERT_EQ(Open(h, "T.Q", MQOO_OUTPUT, &o), 0);
    MQHOBJ more;
    EXPECT_EQ(Open(h, "T.Q", MQOO_OUTPUT, &more), MQRC_HANDLE_NOT_AVAILABLE) << "default 256";
    std::string out = qm.Mqsc("QM1", {"ALTER QMGR MAXHANDS(257)", "DISPLAY QMGR MAXHANDS"});
    EXPECT_NE(out.find("MAXHANDS(257)"), std::string::npos) << out;
    EXPECT_EQ(Open(h, "T.Q", MQOO_OUTPUT, &more), 0);
    EXPECT_EQ(Close(h, &objs[0]), 0);
    EXPECT_EQ(Open(h, "T.Q", MQOO_OUTPUT, &objs[0]), 0) << "a closed handle frees its place";
}

TEST_F(MqsimMqi, ConsumersAreCalledOneAtATimeOnOneThreadAfterStart) {
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
TEST_F(MqsimMqi, EventsReachTheEventHandlerOrElseTheConsumers) {
    const struct {
        std::vector<std::string> command;
        const char *queue;
        bool handler, toConsumer;
        MQLONG reason, putRc;
    } rows[] = {
        {{"break", "QM1"}, "A.Q", true, false, MQRC_CONNECTION_BROKEN, MQRC_CONNECTION_BROKEN},
        {{"break", "QM1"}, "A.Q", false, true, MQRC_CONNECTION_BROKEN, MQRC_CONNECTION_BROKEN},
        {{"fault", "QM1", "event", "2202"}, "A.Q", true, false, MQRC_CONNECTION_QUIESCING, 0},
        {{"mqsc", "QM1", "ALTER QL(B.Q) GET(DISABLED)"}, "B.Q", true, true, MQRC_GET_INHIBITED, 0},
        {{"stop", "QM1"}, "A.Q", true, false, MQRC_CONNECTION_BROKEN, MQRC_CONNECTION_BROKEN},
    };
    Disconnect(&h);
    for (const auto &row : rows) {
        SCOPED_TRACE(row.command[0] + " " + row.queue);
        RECORDER consumer, events;
        MQHOBJ o;
        ASSERT_EQ(Connect("QM1", &h), 0);
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

/* Each row: MQCTL operations from a new connection (the last one checked),
 * with or without a consumer registered first. */
TEST_F(MqsimMqi, ControlFollowsTheStoppedStartedSuspendedStates) {
    const struct {
        bool consumer;
        std::vector<MQLONG> ops;
        MQLONG lastRc;
    } rows[] = {
        {false, {MQOP_SUSPEND}, MQRC_OPERATION_NOT_ALLOWED},
        {false, {MQOP_RESUME}, MQRC_OPERATION_NOT_ALLOWED},
        {true, {MQOP_START, MQOP_SUSPEND, MQOP_START}, MQRC_OPERATION_NOT_ALLOWED},
        {true, {MQOP_START, MQOP_START_WAIT}, MQRC_OPERATION_NOT_ALLOWED},
        {true, {MQOP_START, MQOP_STOP, MQOP_RESUME}, MQRC_OPERATION_NOT_ALLOWED},
        {true, {MQOP_START, MQOP_SUSPEND, MQOP_RESUME}, 0},
        {false, {MQOP_START}, MQRC_NO_CALLBACKS_ACTIVE},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE("operations ending in " + std::to_string(row.ops.back()));
        MQHCONN c = MQHC_UNUSABLE_HCONN;
        ASSERT_EQ(Connect("QM1", &c), 0);
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

TEST_F(MqsimMqi, AStartedConnectionServesOnlyItsCallbacks) {
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
    /* stopped: any thread again */
    EXPECT_EQ(Control(h, MQOP_STOP), 0);
    EXPECT_EQ(Open(h, "A.Q", MQOO_OUTPUT, &spare), 0);
}

/* Each row ends the consumption of n messages (every third of priority 5,
 * so first) with MQOP_STOP or MQDISC from another thread while call 10 is
 * running and more was read ahead. What the callbacks took and then what is
 * left on the queue are the queue's order, and no callback comes after the
 * end; after MQOP_STOP consumption starts again where it left off. */
TEST_F(MqsimMqi, EndingConsumptionPutsTheReadAheadBackInOrder) {
    const int n = 150, at = 10;
    auto prio = [](int i) -> MQLONG { return i % 3 == 0 ? 5 : 0; };
    std::vector<std::string> expected;
    for (MQLONG pr : {5, 0})
        for (int i = 0; i < n; i++)
            if (prio(i) == pr)
                expected.push_back(Text(i));
    for (bool stop : {true, false}) {
        SCOPED_TRACE(stop ? "MQOP_STOP" : "MQDISC");
        RECORDER r;
        r.holdAt = at;
        PutMessages("A.Q", 0, n, prio);
        Consume("A.Q", &r);
        ASSERT_TRUE(WaitUntil([&] { return r.holding.load() == 1; }));
        ASSERT_TRUE(WaitUntil([&] { return Depth(p, "A.Q") < n - at - 1; })) << "no read-ahead";
        std::atomic<MQLONG> endRc{-1};
        std::atomic<int> ending{0};
        std::thread ender([&] {
            ending = 1;
            endRc = stop ? Control(h, MQOP_STOP) : Disconnect(&h);
        });
        ASSERT_TRUE(WaitUntil([&] { return ending.load() == 1; }));
        r.release = 1;
        ender.join();
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
        if (stop) {
            ASSERT_EQ(Put1(p, "A.Q", "again"), 0);
            ASSERT_EQ(Control(h, MQOP_START), 0);
            ASSERT_TRUE(WaitUntil([&] { return r.calls.load() == calls + 1; }));
            std::lock_guard<std::mutex> g(r.mu);
            EXPECT_EQ(r.texts.back(), "again");
        }
        Disconnect(&h);
        ASSERT_EQ(Connect("QM1", &h), 0);
    }
}

}  // namespace
