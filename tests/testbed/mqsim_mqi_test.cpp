/* mqsim_mqi_test.cpp -- the stand-in MQI library against a live daemon:
 * identifiers and context, gets with wait and matching, dynamic queues,
 * inquiries, remote names, the reasons of limits and bad arguments,
 * injected faults, handles and connect options. (Frames that are not
 * frames: mqsim_fuzz_test.) */
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/process.h"
#include "mqsim_util.h"

namespace {

const char CMDQ[] = "CORVEL.TORVIK.COMMAND.QUEUE";

std::string Id(const MQBYTE24 id) {
    return std::string((const char *)id, 24);
}

class MqsimMqi : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(qm.Start("QM1", {"--mqsc", MqsimQueueManager::Sample("torvik.mqsc")}), "");
        qm.Mqsc("QM1", {"DEFINE QLOCAL(T.Q) MAXDEPTH(3) MAXMSGL(100)"});
        ASSERT_EQ(Connect("QM1", &h), 0);
    }
    void TearDown() override { Disconnect(&h); }
    MqsimQueueManager qm;
    MQHCONN h = MQHC_UNUSABLE_HCONN;
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
    EXPECT_EQ(md.PutApplType, MQAT_UNIX);
    EXPECT_EQ(std::string(md.PutDate, 2), "20");
    EXPECT_NE(md.PutTime[0], ' ');
    /* a given MsgId is kept; MQPMO_NEW_MSG_ID replaces it */
    MQMD given = MQMD_DEFAULT;
    memcpy(given.MsgId, "MY-OWN-MESSAGE-ID-000001", 24);
    ASSERT_EQ(Put(h, out, "x", &given), 0);
    EXPECT_EQ(Id(given.MsgId), "MY-OWN-MESSAGE-ID-000001");
    ASSERT_EQ(Put(h, out, "y", &given, MQPMO_NEW_MSG_ID), 0);
    EXPECT_NE(Id(given.MsgId), "MY-OWN-MESSAGE-ID-000001");
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
        if (reasons.size() < 3) {
            EXPECT_EQ(len, 29) << "the message's length";
        }
        if (options == MQGMO_ACCEPT_TRUNCATED_MSG) {
            EXPECT_EQ(text, "a rat");
        }
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
    MQHCONN h2;
    ASSERT_EQ(Connect("QM1", &h2), 0);
    ASSERT_EQ(Open(h2, CMDQ, MQOO_OUTPUT | MQOO_SET_IDENTITY_CONTEXT, &o2), 0);
    MQMD req = MQMD_DEFAULT;
    memcpy(req.UserIdentifier, "alice       ", 12);
    memcpy(req.ApplIdentityData, "requester identity data         ", 32);
    ASSERT_EQ(Put(h2, o2, "request", &req, MQPMO_SET_IDENTITY_CONTEXT), 0);
    Disconnect(&h2);
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
    MQHCONN h2;
    ASSERT_EQ(Connect("QM1", &h2), 0);
    MQOD od;
    MQHOBJ dyn, other, gone;
    ASSERT_EQ(Open(h2, "SYSTEM.DEFAULT.MODEL.QUEUE", MQOO_INPUT_EXCLUSIVE | MQOO_INQUIRE, &dyn, &od,
                   "", "CORVEL.TORVIK.*"),
              0);
    std::string name = GetName(od.ObjectName, 48);
    EXPECT_EQ(name.rfind("CORVEL.TORVIK.", 0), 0u) << name;
    EXPECT_GT(name.size(), strlen("CORVEL.TORVIK.")) << "the * is replaced by a suffix";
    EXPECT_EQ(GetName(od.ResolvedQName, 48) + "@" + GetName(od.ResolvedQMgrName, 48),
              name + "@QM1");
    std::vector<MQLONG> ints;
    ASSERT_EQ(InqInts(h2, dyn, {MQIA_DEFINITION_TYPE, MQIA_Q_TYPE}, &ints), 0);
    EXPECT_EQ(ints, (std::vector<MQLONG>{MQQDT_TEMPORARY_DYNAMIC, MQQT_LOCAL}));
    /* another connection can put to it */
    ASSERT_EQ(Put1(h, name.c_str(), "reply"), 0);
    std::string text;
    ASSERT_EQ(Get(h2, dyn, &text), 0);
    EXPECT_EQ(text, "reply");
    /* it goes with its connection, though a handle of another keeps it */
    ASSERT_EQ(Open(h, name.c_str(), MQOO_OUTPUT, &other), 0);
    ASSERT_EQ(Disconnect(&h2), 0);
    EXPECT_EQ(Open(h, name.c_str(), MQOO_OUTPUT, &gone), MQRC_UNKNOWN_OBJECT_NAME);
    EXPECT_EQ(Put(h, other, "late"), MQRC_Q_DELETED);
    EXPECT_EQ(Close(h, &other), 0);
}

TEST_F(MqsimMqi, InquireAnswersQueueManagerAndQueueSelectors) {
    qm.Mqsc("QM1", {"ALTER QMGR SSLKEYR('/var/mqm/qmgrs/QM1/ssl/key') CERTLABL('qm1cert') "
                    "SSLEV(ENABLED)"});
    MQHOBJ q, t;
    ASSERT_EQ(OpenQmgr(h, &q), 0);
    MQLONG sels[5] = {MQCA_Q_MGR_NAME, MQIA_PLATFORM, MQIA_COMMAND_LEVEL, MQCA_SSL_KEY_REPOSITORY,
                      MQIA_SSL_EVENT};
    MQLONG ints[3];
    char chars[48 + 256];
    MQLONG cc, rc;
    MQINQ(h, q, 5, sels, 3, ints, (MQLONG)sizeof chars, chars, &cc, &rc);
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(std::string(chars, 48), std::string("QM1") + std::string(45, ' '));
    EXPECT_EQ(std::string(chars + 48, 25), "/var/mqm/qmgrs/QM1/ssl/ke");
    EXPECT_EQ(std::vector<MQLONG>(ints, ints + 3),
              (std::vector<MQLONG>{MQPL_UNIX, 940, MQEVR_ENABLED}));
    std::string label;
    ASSERT_EQ(InqString(h, q, MQCA_CERT_LABEL, MQ_CERT_LABEL_LENGTH, &label), 0);
    EXPECT_EQ(label, "qm1cert");
    MQINQ(h, q, 1, sels, 0, nullptr, 10, chars, &cc, &rc);
    EXPECT_EQ(cc, MQCC_WARNING);
    EXPECT_EQ(rc, MQRC_CHAR_ATTRS_TOO_SHORT);
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
    EXPECT_EQ(GetName(od.ObjectName, 48) + "@" + GetName(od.ObjectQMgrName, 48) + " " +
                  GetName(od.ResolvedQName, 48) + "@" + GetName(od.ResolvedQMgrName, 48),
              "THEIR.REPLY@QM2 THEIR.REPLY@QM2");
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

/* The reasons of limits, misuse and bad structures, each from one call. */
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
    MQLONG cc, rc, len;
    char buf[16];
    MQMD md = MQMD_DEFAULT;
    MQPMO pmo = MQPMO_DEFAULT;
    MQGMO gmo = MQGMO_DEFAULT;
    MQHCONN h2;
    auto put = [&](MQMD *m, MQPMO *p, MQLONG n, char *b) {
        MQPUT(h, t, m, p, n, b, &cc, &rc);
        return rc;
    };
    auto get = [&](MQGMO *g, MQLONG *l) {
        MQGET(h, t, &md, g, sizeof buf, buf, l, &cc, &rc);
        return rc;
    };
    auto open = [&](MQOD *od) {
        MQOPEN(h, od, MQOO_OUTPUT, &o, &cc, &rc);
        return rc;
    };
    auto inq = [&](MQHOBJ obj, MQLONG count) {
        MQLONG sel = MQIA_CURRENT_Q_DEPTH, v;
        MQINQ(h, obj, count, &sel, 1, &v, 0, nullptr, &cc, &rc);
        return rc;
    };
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
        {put(nullptr, &pmo, 1, buf), MQRC_MD_ERROR},
        {put(&md, nullptr, 1, buf), MQRC_PMO_ERROR},
        {put(&md, &pmo, -1, buf), MQRC_BUFFER_LENGTH_ERROR},
        {put(&md, &pmo, 4, nullptr), MQRC_BUFFER_ERROR},
        {get(nullptr, &len), MQRC_GMO_ERROR},
        {get(&gmo, nullptr), MQRC_DATA_LENGTH_ERROR},
        {open(nullptr), MQRC_OD_ERROR},
        {Open(h, "T.Q", MQOO_INPUT_SHARED | MQOO_INPUT_EXCLUSIVE, &o), MQRC_OPTIONS_ERROR},
        {Put(h, 12345, "x"), MQRC_HOBJ_ERROR},
        {Put(h + 1000, t, "x"), MQRC_HCONN_ERROR},
        {Put(h, qmgr, "x"), MQRC_NOT_OPEN_FOR_OUTPUT},
        {Get(h, outOnly, nullptr), MQRC_NOT_OPEN_FOR_INPUT},
        {Get(h, t, nullptr, nullptr, MQGMO_NO_SYNCPOINT | MQGMO_SYNCPOINT), MQRC_OPTIONS_ERROR},
        {inq(qmgr, 1), MQRC_SELECTOR_ERROR},
        {inq(qmgr, -1), MQRC_SELECTOR_COUNT_ERROR},
        {inq(outOnly, 1), MQRC_NOT_OPEN_FOR_INQUIRE},
    };
    for (size_t i = 0; i < sizeof rows / sizeof rows[0]; i++)
        EXPECT_EQ(rows[i].got, rows[i].reason) << "row " << i;
    /* a closed handle and a disconnected connection */
    ASSERT_EQ(Close(h, &outOnly), 0);
    EXPECT_EQ(outOnly, MQHO_UNUSABLE_HOBJ);
    ASSERT_EQ(Connect("QM1", &h2), 0);
    MQHCONN saved = h2;
    ASSERT_EQ(Disconnect(&h2), 0);
    EXPECT_EQ(h2, MQHC_UNUSABLE_HCONN);
    EXPECT_EQ(Put1(saved, "T.Q", "x"), MQRC_HCONN_ERROR);
    EXPECT_EQ(Disconnect(&saved), MQRC_HCONN_ERROR);
}

/* Each row: a fault, then calls and their reasons in order. */
TEST_F(MqsimMqi, FaultsFailExactlyTheGivenNumberOfCalls) {
    MQHOBJ t, q, o;
    ASSERT_EQ(Open(h, "T.Q", MQOO_OUTPUT, &t), 0);
    ASSERT_EQ(OpenQmgr(h, &q), 0);
    std::vector<MQLONG> v;
    MQHCONN h2;
    auto put = [&] { return Put(h, t, "x"); };
    auto put1 = [&] { return Put1(h, "T.Q", "x"); };
    auto putOther = [&] { return Put1(h, CMDQ, "x"); };
    auto open = [&] { return Open(h, "T.Q", MQOO_INPUT_SHARED, &o); };
    auto openOther = [&] { return Open(h, CMDQ, MQOO_OUTPUT, &o); };
    auto inq = [&] { return InqInts(h, q, {MQIA_PLATFORM}, &v); };
    auto connect = [&] {
        MQLONG rc = Connect("QM1", &h2);
        Disconnect(&h2);
        return rc;
    };
    const struct {
        std::vector<std::string> fault;
        std::vector<std::pair<std::function<MQLONG()>, MQLONG>> calls;
    } rows[] = {
        {{"put", "T.Q", "2053", "3"},
         {{put, 2053}, {put1, 2053}, {putOther, 0}, {put, 2053}, {put, 0}}},
        {{"call", "MQOPEN", "T.Q", "2035", "1"}, {{openOther, 0}, {open, 2035}, {open, 0}}},
        {{"call", "MQINQ", "*", "2059", "-1"}, {{inq, 2059}, {inq, 2059}, {inq, 2059}}},
        {{"clear"}, {{inq, 0}}},
        {{"call", "MQCONNX", "QMGR", "2059", "1"}, {{connect, 2059}, {connect, 0}}},
    };
    for (const auto &row : rows) {
        std::vector<std::string> args{"fault", "QM1"};
        args.insert(args.end(), row.fault.begin(), row.fault.end());
        ASSERT_EQ(qm.Run(args), 0) << row.fault[0];
        std::vector<MQLONG> want, got;
        for (const auto &call : row.calls) {
            got.push_back(call.first());
            want.push_back(call.second);
        }
        EXPECT_EQ(got, want) << row.fault[0] << " " << row.fault[1];
    }
    EXPECT_EQ(qm.Run({"fault", "QM1", "call", "MQFOO", "*", "2059"}), 1);
    EXPECT_EQ(qm.Run({"fault", "QM1", "put", "T.Q", "many"}), 1);
}

TEST_F(MqsimMqi, HandlesAreThreadBoundUnlessShared) {
    MQHCONN bound;
    ASSERT_EQ(Connect("QM1", &bound, MQCNO_NONE), 0);
    MQLONG fromOther = -1, sharedFromOther = -1;
    std::thread([&] {
        fromOther = Put1(bound, "T.Q", "x");
        sharedFromOther = Put1(h, "T.Q", "y");
    }).join();
    EXPECT_EQ(fromOther, MQRC_HCONN_ERROR);
    EXPECT_EQ(sharedFromOther, 0) << "MQCNO_HANDLE_SHARE_BLOCK works from any thread";
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

}  // namespace
