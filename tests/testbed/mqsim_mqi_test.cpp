/* mqsim_mqi_test.cpp -- the stand-in MQI library against a live daemon:
 * identifiers and context, gets with wait and matching, dynamic queues,
 * inquiries, remote names, units of work, argument checks, faults, two
 * clients at once. (Frames that are not frames: mqsim_fuzz_test.) */
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/process.h"
#include "mqsim_util.h"
#include "wire.h"

namespace {

class MqsimMqi : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(qm.Start("QM1", {"--mqsc", MqsimQueueManager::Sample("torvik.mqsc")}), "");
        qm.Mqsc("QM1", {"DEFINE QLOCAL(T.Q) MAXDEPTH(3) MAXMSGL(100)"});
        ASSERT_EQ(Connect("QM1", &h), 0);
    }
    void TearDown() override {
        if (h != MQHC_UNUSABLE_HCONN)
            Disconnect(&h);
    }
    MqsimQueueManager qm;
    MQHCONN h = MQHC_UNUSABLE_HCONN;
};

TEST_F(MqsimMqi, PutMakesUniqueMsgIdsAndFillsContextAndReplyToQMgr) {
    MQHOBJ out, in;
    ASSERT_EQ(Open(h, "CORVEL.TORVIK.COMMAND.QUEUE", MQOO_OUTPUT, &out), 0);
    ASSERT_EQ(Open(h, "CORVEL.TORVIK.COMMAND.QUEUE", MQOO_INPUT_SHARED, &in), 0);
    std::set<std::string> ids;
    for (int i = 0; i < 50; i++) {
        MQMD md = MQMD_DEFAULT;
        SetName(md.ReplyToQ, sizeof md.ReplyToQ, "MY.REPLY");
        ASSERT_EQ(Put(h, out, "m" + std::to_string(i), &md), 0);
        std::string id((const char *)md.MsgId, 24);
        EXPECT_EQ(id.substr(0, 4), "AMQ ");
        ids.insert(id);
        /* a blank ReplyToQMgr is the local queue manager's name, returned */
        EXPECT_EQ(GetName(md.ReplyToQMgr, 48), "QM1");
    }
    EXPECT_EQ(ids.size(), 50u);
    MQMD md = MQMD_DEFAULT;
    std::string text;
    ASSERT_EQ(Get(h, in, &text, &md), 0);
    EXPECT_EQ(text, "m0");
    EXPECT_EQ(ids.count(std::string((const char *)md.MsgId, 24)), 1u);
    EXPECT_EQ(GetName(md.ReplyToQ, 48), "MY.REPLY");
    EXPECT_EQ(GetName(md.ReplyToQMgr, 48), "QM1");
    /* default context: the user and program, a put date and time */
    char user[64];
    PLUserName(user, sizeof user);
    EXPECT_EQ(GetName(md.UserIdentifier, 12), std::string(user).substr(0, 12));
    EXPECT_EQ(GetName(md.PutApplName, 28), std::string("mqsim_test").substr(0, 28));
    EXPECT_EQ(md.PutApplType, MQAT_UNIX);
    EXPECT_EQ(std::string(md.PutDate, 2), "20");
    EXPECT_NE(md.PutTime[0], ' ');

    /* a given MsgId is kept; MQPMO_NEW_MSG_ID replaces it */
    MQMD given = MQMD_DEFAULT;
    memcpy(given.MsgId, "MY-OWN-MESSAGE-ID-000001", 24);
    ASSERT_EQ(Put(h, out, "x", &given), 0);
    EXPECT_EQ(std::string((const char *)given.MsgId, 24), "MY-OWN-MESSAGE-ID-000001");
    ASSERT_EQ(Put(h, out, "y", &given, MQPMO_NEW_MSG_ID), 0);
    EXPECT_NE(std::string((const char *)given.MsgId, 24), "MY-OWN-MESSAGE-ID-000001");
}

TEST_F(MqsimMqi, GetMatchesMsgIdAndCorrelIdAndReportsTruncation) {
    MQHOBJ out, in;
    ASSERT_EQ(Open(h, "CORVEL.TORVIK.COMMAND.QUEUE", MQOO_OUTPUT, &out), 0);
    ASSERT_EQ(Open(h, "CORVEL.TORVIK.COMMAND.QUEUE", MQOO_INPUT_EXCLUSIVE, &in), 0);
    MQMD a = MQMD_DEFAULT, b = MQMD_DEFAULT, c = MQMD_DEFAULT;
    memcpy(b.CorrelId, "CORREL-B-000000000000000", 24);
    ASSERT_EQ(Put(h, out, "first", &a), 0);
    ASSERT_EQ(Put(h, out, "second", &b), 0);
    ASSERT_EQ(Put(h, out, "a rather longer third message", &c), 0);

    MQMD match = MQMD_DEFAULT;
    memcpy(match.CorrelId, "CORREL-B-000000000000000", 24);
    std::string text;
    ASSERT_EQ(Get(h, in, &text, &match), 0);
    EXPECT_EQ(text, "second");
    match = MQMD_DEFAULT;
    memcpy(match.MsgId, c.MsgId, 24);
    MQLONG len = 0;
    /* too long for the buffer: 2080, the message stays, DataLength tells */
    EXPECT_EQ(Get(h, in, &text, &match, MQGMO_NO_SYNCPOINT, 0, 5, &len), MQRC_TRUNCATED_MSG_FAILED);
    EXPECT_EQ(len, 29);
    match = MQMD_DEFAULT;
    memcpy(match.MsgId, c.MsgId, 24);
    EXPECT_EQ(Get(h, in, &text, &match, MQGMO_ACCEPT_TRUNCATED_MSG, 0, 5, &len),
              MQRC_TRUNCATED_MSG_ACCEPTED);
    EXPECT_EQ(text, "a rat");
    EXPECT_EQ(len, 29);
    match = MQMD_DEFAULT;
    memcpy(match.MsgId, c.MsgId, 24);
    EXPECT_EQ(Get(h, in, &text, &match), MQRC_NO_MSG_AVAILABLE) << "it was removed";
    ASSERT_EQ(Get(h, in, &text), 0);
    EXPECT_EQ(text, "first");
    EXPECT_EQ(Get(h, in, &text), MQRC_NO_MSG_AVAILABLE);
}

/* (A wait ended by another connection's put: mqcmd's replies in
 * mqcmd_e2e_test.) */
TEST_F(MqsimMqi, GetWaitsForTheWaitInterval) {
    MQHOBJ in;
    ASSERT_EQ(Open(h, "CORVEL.TORVIK.COMMAND.QUEUE", MQOO_INPUT_SHARED, &in), 0);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(Get(h, in, nullptr, nullptr, MQGMO_NO_SYNCPOINT, 300), MQRC_NO_MSG_AVAILABLE);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(250));
}

TEST_F(MqsimMqi, PassAllContextCopiesTheContextOfTheLastMessageTaken) {
    MQHOBJ in, out, any;
    ASSERT_EQ(
        Open(h, "CORVEL.TORVIK.COMMAND.QUEUE", MQOO_INPUT_SHARED | MQOO_SAVE_ALL_CONTEXT, &in), 0);
    ASSERT_EQ(Open(h, "T.Q", MQOO_OUTPUT | MQOO_PASS_ALL_CONTEXT | MQOO_INQUIRE, &out), 0);
    ASSERT_EQ(Open(h, "T.Q", MQOO_INPUT_SHARED, &any), 0);
    /* the requester's message, with an identity set by the requester */
    MQHCONN h2;
    ASSERT_EQ(Connect("QM1", &h2), 0);
    MQHOBJ o2;
    ASSERT_EQ(Open(h2, "CORVEL.TORVIK.COMMAND.QUEUE", MQOO_OUTPUT | MQOO_SET_IDENTITY_CONTEXT, &o2),
              0);
    MQMD req = MQMD_DEFAULT;
    memcpy(req.UserIdentifier, "alice       ", 12);
    memcpy(req.ApplIdentityData, "requester identity data         ", 32);
    ASSERT_EQ(Put(h2, o2, "request", &req, MQPMO_SET_IDENTITY_CONTEXT), 0);
    EXPECT_EQ(GetName(req.UserIdentifier, 12), "alice");
    /* without the open option the identity cannot be set */
    MQHOBJ plain;
    ASSERT_EQ(Open(h2, "CORVEL.TORVIK.COMMAND.QUEUE", MQOO_OUTPUT, &plain), 0);
    EXPECT_EQ(Put(h2, plain, "x", &req, MQPMO_SET_IDENTITY_CONTEXT), MQRC_NOT_OPEN_FOR_SET_IDENT);
    Disconnect(&h2);

    MQMD got = MQMD_DEFAULT;
    std::string text;
    ASSERT_EQ(Get(h, in, &text, &got), 0);
    MQMD fwd = MQMD_DEFAULT;
    ASSERT_EQ(Put(h, out, "forwarded", &fwd, MQPMO_NO_SYNCPOINT | MQPMO_PASS_ALL_CONTEXT, in), 0);
    MQMD back = MQMD_DEFAULT;
    ASSERT_EQ(Get(h, any, &text, &back), 0);
    EXPECT_EQ(text, "forwarded");
    EXPECT_EQ(GetName(back.UserIdentifier, 12), "alice");
    EXPECT_EQ(std::string(back.ApplIdentityData, 32), "requester identity data         ");
    EXPECT_EQ(std::string(back.PutApplName, 28), std::string(got.PutApplName, 28));
    EXPECT_EQ(std::string(back.PutDate, 8), std::string(got.PutDate, 8));
    EXPECT_EQ(std::string(back.PutTime, 8), std::string(got.PutTime, 8));
    EXPECT_NE(std::string((const char *)back.MsgId, 24), std::string((const char *)got.MsgId, 24));

    /* the context handle must be one that saves context; the put handle
     * must allow passing */
    EXPECT_EQ(Put(h, out, "x", nullptr, MQPMO_PASS_ALL_CONTEXT, any), MQRC_CONTEXT_HANDLE_ERROR);
    MQHOBJ noPass;
    ASSERT_EQ(Open(h, "T.Q", MQOO_OUTPUT, &noPass), 0);
    EXPECT_EQ(Put(h, noPass, "x", nullptr, MQPMO_PASS_ALL_CONTEXT, in), MQRC_NOT_OPEN_FOR_PASS_ALL);
    EXPECT_EQ(Put(h, noPass, "x", nullptr, MQPMO_PASS_ALL_CONTEXT | MQPMO_NO_CONTEXT, in),
              MQRC_OPTIONS_ERROR);
}

TEST_F(MqsimMqi, ModelQueuesMakeDynamicQueuesThatGoWithTheirConnection) {
    MQHCONN h2;
    ASSERT_EQ(Connect("QM1", &h2), 0);
    MQOD od;
    MQHOBJ dyn;
    ASSERT_EQ(Open(h2, "SYSTEM.DEFAULT.MODEL.QUEUE", MQOO_INPUT_EXCLUSIVE | MQOO_INQUIRE, &dyn, &od,
                   "", "CORVEL.TORVIK.*"),
              0);
    std::string name = GetName(od.ObjectName, 48);
    EXPECT_EQ(name.rfind("CORVEL.TORVIK.", 0), 0u) << name;
    EXPECT_GT(name.size(), strlen("CORVEL.TORVIK.")) << "the * is replaced by a suffix";
    EXPECT_EQ(GetName(od.ResolvedQName, 48), name);
    EXPECT_EQ(GetName(od.ResolvedQMgrName, 48), "QM1");
    std::vector<MQLONG> ints;
    ASSERT_EQ(InqInts(h2, dyn, {MQIA_DEFINITION_TYPE, MQIA_Q_TYPE}, &ints), 0);
    EXPECT_EQ(ints[0], MQQDT_TEMPORARY_DYNAMIC);
    EXPECT_EQ(ints[1], MQQT_LOCAL);
    /* another connection can put to it */
    ASSERT_EQ(Put1(h, name.c_str(), "reply"), 0);
    std::string text;
    ASSERT_EQ(Get(h2, dyn, &text), 0);
    EXPECT_EQ(text, "reply");
    /* an explicit name is taken as it is; it cannot be made twice */
    MQHOBJ exact;
    ASSERT_EQ(Open(h2, "SYSTEM.DEFAULT.MODEL.QUEUE", MQOO_INPUT_SHARED, &exact, &od, "",
                   "EXACT.DYN.NAME"),
              0);
    EXPECT_EQ(GetName(od.ObjectName, 48), "EXACT.DYN.NAME");
    MQHOBJ again;
    EXPECT_EQ(
        Open(h, "SYSTEM.DEFAULT.MODEL.QUEUE", MQOO_INPUT_SHARED, &again, &od, "", "EXACT.DYN.NAME"),
        MQRC_OBJECT_ALREADY_EXISTS);
    /* a handle of another connection keeps a deleted queue's record alive */
    MQHOBJ other;
    ASSERT_EQ(Open(h, name.c_str(), MQOO_OUTPUT, &other), 0);
    ASSERT_EQ(Disconnect(&h2), 0);
    MQHOBJ gone;
    EXPECT_EQ(Open(h, name.c_str(), MQOO_OUTPUT, &gone), MQRC_UNKNOWN_OBJECT_NAME);
    EXPECT_EQ(Open(h, "EXACT.DYN.NAME", MQOO_OUTPUT, &gone), MQRC_UNKNOWN_OBJECT_NAME);
    EXPECT_EQ(Put(h, other, "late"), MQRC_Q_DELETED);
    EXPECT_EQ(Close(h, &other), 0);
}

TEST_F(MqsimMqi, InquireAnswersQueueManagerAndQueueSelectors) {
    qm.Mqsc("QM1", {"ALTER QMGR SSLKEYR('/var/mqm/qmgrs/QM1/ssl/key') CERTLABL('qm1cert') "
                    "SSLEV(ENABLED)"});
    MQHOBJ q;
    ASSERT_EQ(OpenQmgr(h, &q), 0);
    MQLONG sels[5] = {MQCA_Q_MGR_NAME, MQIA_PLATFORM, MQIA_COMMAND_LEVEL, MQCA_SSL_KEY_REPOSITORY,
                      MQIA_SSL_EVENT};
    MQLONG ints[3];
    char chars[48 + 256];
    MQLONG cc, rc;
    MQINQ(h, q, 5, sels, 3, ints, (MQLONG)sizeof chars, chars, &cc, &rc);
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(std::string(chars, 48), std::string("QM1") + std::string(45, ' '));
    EXPECT_EQ(ints[0], MQPL_UNIX);
    EXPECT_EQ(ints[1], 940);
    EXPECT_EQ(std::string(chars + 48, 25), "/var/mqm/qmgrs/QM1/ssl/ke");
    EXPECT_EQ(ints[2], MQEVR_ENABLED);
    std::string label;
    ASSERT_EQ(InqString(h, q, MQCA_CERT_LABEL, MQ_CERT_LABEL_LENGTH, &label), 0);
    EXPECT_EQ(label, "qm1cert");
    /* a queue selector on the queue manager; too little room */
    std::vector<MQLONG> v;
    EXPECT_EQ(InqInts(h, q, {MQIA_CURRENT_Q_DEPTH}, &v), MQRC_SELECTOR_ERROR);
    MQINQ(h, q, 1, sels, 0, nullptr, 10, chars, &cc, &rc);
    EXPECT_EQ(cc, MQCC_WARNING);
    EXPECT_EQ(rc, MQRC_CHAR_ATTRS_TOO_SHORT);
    MQINQ(h, q, -1, sels, 0, nullptr, 0, nullptr, &cc, &rc);
    EXPECT_EQ(rc, MQRC_SELECTOR_COUNT_ERROR);

    MQHOBJ t;
    ASSERT_EQ(Open(h, "T.Q", MQOO_INQUIRE | MQOO_OUTPUT, &t), 0);
    ASSERT_EQ(Put(h, t, "abc"), 0);
    ASSERT_EQ(InqInts(h, t,
                      {MQIA_MAX_MSG_LENGTH, MQIA_MAX_Q_DEPTH, MQIA_CURRENT_Q_DEPTH,
                       MQIA_DEFINITION_TYPE, MQIA_Q_TYPE, MQIA_OPEN_OUTPUT_COUNT},
                      &v),
              0);
    EXPECT_EQ(v, (std::vector<MQLONG>{100, 3, 1, MQQDT_PREDEFINED, MQQT_LOCAL, 1}));
    MQHOBJ noInq;
    ASSERT_EQ(Open(h, "T.Q", MQOO_OUTPUT, &noInq), 0);
    EXPECT_EQ(InqInts(h, noInq, {MQIA_Q_TYPE}, &v), MQRC_NOT_OPEN_FOR_INQUIRE);
    EXPECT_EQ(InqInts(h, 4711, {MQIA_Q_TYPE}, &v), MQRC_HOBJ_ERROR);
}

TEST_F(MqsimMqi, PutLimitsGiveQueueFullTooBigAndPutInhibited) {
    MQHOBJ t;
    ASSERT_EQ(Open(h, "T.Q", MQOO_OUTPUT | MQOO_INPUT_SHARED, &t), 0);
    for (int i = 0; i < 3; i++)
        ASSERT_EQ(Put(h, t, "fill"), 0);
    EXPECT_EQ(Put(h, t, "one too many"), MQRC_Q_FULL);
    EXPECT_EQ(Put1(h, "T.Q", "one too many"), MQRC_Q_FULL);
    ASSERT_EQ(Get(h, t, nullptr), 0);
    EXPECT_EQ(Put(h, t, std::string(101, 'x')), MQRC_MSG_TOO_BIG_FOR_Q);
    EXPECT_EQ(Put(h, t, std::string(100, 'x')), 0);
    qm.Mqsc("QM1", {"ALTER QLOCAL(T.Q) PUT(DISABLED) GET(DISABLED)"});
    EXPECT_EQ(Put(h, t, "x"), MQRC_PUT_INHIBITED);
    EXPECT_EQ(Get(h, t, nullptr), MQRC_GET_INHIBITED);
    EXPECT_EQ(Open(h, "NO.SUCH.QUEUE", MQOO_OUTPUT, &t), MQRC_UNKNOWN_OBJECT_NAME);
}

TEST_F(MqsimMqi, QueuesOfOtherQueueManagersResolveToTheTransmissionQueue) {
    qm.Mqsc("QM1",
            {"DEFINE QLOCAL(QM2) USAGE(XMITQ)", "DEFINE QREMOTE(R.Q) RNAME(FAR.Q) RQMNAME(QM2)"});
    MQOD od;
    MQHOBJ o;
    ASSERT_EQ(Open(h, "THEIR.REPLY", MQOO_OUTPUT, &o, &od, "QM2"), 0);
    EXPECT_EQ(GetName(od.ObjectName, 48), "THEIR.REPLY") << "left as given";
    EXPECT_EQ(GetName(od.ObjectQMgrName, 48), "QM2");
    EXPECT_EQ(GetName(od.ResolvedQName, 48), "THEIR.REPLY");
    EXPECT_EQ(GetName(od.ResolvedQMgrName, 48), "QM2");
    ASSERT_EQ(Put(h, o, "to qm2"), 0);
    MQHOBJ r;
    ASSERT_EQ(Open(h, "R.Q", MQOO_OUTPUT, &r, &od), 0);
    EXPECT_EQ(GetName(od.ResolvedQName, 48), "FAR.Q");
    ASSERT_EQ(Put(h, r, "via definition"), 0);
    ASSERT_EQ(Put1(h, "X.Y", "put1 remote", nullptr, MQPMO_NO_SYNCPOINT, "QM2"), 0);
    MQHOBJ x;
    ASSERT_EQ(Open(h, "QM2", MQOO_INPUT_SHARED, &x), 0);
    std::string text;
    ASSERT_EQ(Get(h, x, &text), 0);
    EXPECT_EQ(text, "to qm2");
    ASSERT_EQ(Get(h, x, &text), 0);
    EXPECT_EQ(text, "via definition");
    ASSERT_EQ(Get(h, x, &text), 0);
    EXPECT_EQ(text, "put1 remote");
    /* inquiring a queue of another queue manager is not possible */
    EXPECT_EQ(Open(h, "THEIR.REPLY", MQOO_OUTPUT | MQOO_INQUIRE, &o, &od, "QM2"),
              MQRC_OPTION_NOT_VALID_FOR_TYPE);
    EXPECT_EQ(Open(h, "THEIR.REPLY", MQOO_OUTPUT, &o, &od, "NOWHERE"), MQRC_UNKNOWN_REMOTE_Q_MGR);
    /* the local name counts as local */
    ASSERT_EQ(Open(h, "T.Q", MQOO_OUTPUT | MQOO_INQUIRE, &o, &od, "QM1"), 0);
}

TEST_F(MqsimMqi, SyncpointPutsAndGetsWaitForCommitOrBackOut) {
    MQHOBJ t, in2;
    ASSERT_EQ(Open(h, "T.Q", MQOO_OUTPUT | MQOO_INPUT_SHARED, &t), 0);
    MQHCONN h2;
    ASSERT_EQ(Connect("QM1", &h2), 0);
    ASSERT_EQ(Open(h2, "T.Q", MQOO_INPUT_SHARED, &in2), 0);
    ASSERT_EQ(Put(h, t, "uow", nullptr, MQPMO_SYNCPOINT), 0);
    EXPECT_EQ(Get(h2, in2, nullptr), MQRC_NO_MSG_AVAILABLE) << "not yet committed";
    MQLONG cc, rc;
    MQCMIT(h, &cc, &rc);
    ASSERT_EQ(rc, 0);
    MQMD md = MQMD_DEFAULT;
    std::string text;
    ASSERT_EQ(Get(h2, in2, &text, &md, MQGMO_SYNCPOINT), 0);
    EXPECT_EQ(text, "uow");
    MQBACK(h2, &cc, &rc);
    ASSERT_EQ(rc, 0);
    md = MQMD_DEFAULT;
    ASSERT_EQ(Get(h, t, &text, &md), 0) << "backed out: available again";
    EXPECT_EQ(md.BackoutCount, 1);
    ASSERT_EQ(Put(h, t, "dropped", nullptr, MQPMO_SYNCPOINT), 0);
    MQBACK(h, &cc, &rc);
    EXPECT_EQ(Get(h2, in2, nullptr), MQRC_NO_MSG_AVAILABLE);
    Disconnect(&h2);
}

TEST_F(MqsimMqi, BadArgumentsGiveThePublishedReasons) {
    MQHOBJ t, outOnly, qmgr, o;
    ASSERT_EQ(Open(h, "T.Q", MQOO_OUTPUT | MQOO_INPUT_SHARED, &t), 0);
    ASSERT_EQ(Open(h, "T.Q", MQOO_OUTPUT, &outOnly), 0);
    ASSERT_EQ(OpenQmgr(h, &qmgr), 0);
    MQLONG cc, rc, len;
    char buf[16];
    MQMD md = MQMD_DEFAULT, mdId = md, mdV3 = md;
    mdId.StrucId[0] = 'X';
    mdV3.Version = 3;
    MQPMO pmo = MQPMO_DEFAULT, pmoV9 = pmo;
    pmoV9.Version = 9;
    MQGMO gmo = MQGMO_DEFAULT, gmoId = gmo;
    memcpy(gmoId.StrucId, "GMX ", 4);
    MQOD odV5 = MQOD_DEFAULT;
    odV5.Version = 5;
    MQCNO cnoV9 = MQCNO_DEFAULT;
    cnoV9.Version = 9;
    MQCHAR48 name;
    SetName(name, sizeof name, "QM1");
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
    auto connx = [&](MQCNO *cno) {
        MQCONNX(name, cno, &h2, &cc, &rc);
        return rc;
    };
    const struct {
        MQLONG got, reason;
    } rows[] = {
        {put(nullptr, &pmo, 1, buf), MQRC_MD_ERROR},
        {put(&mdId, &pmo, 1, buf), MQRC_MD_ERROR},
        {put(&mdV3, &pmo, 1, buf), MQRC_MD_ERROR},
        {put(&md, nullptr, 1, buf), MQRC_PMO_ERROR},
        {put(&md, &pmoV9, 1, buf), MQRC_PMO_ERROR},
        {put(&md, &pmo, -1, buf), MQRC_BUFFER_LENGTH_ERROR},
        {put(&md, &pmo, 4, nullptr), MQRC_BUFFER_ERROR},
        {get(nullptr, &len), MQRC_GMO_ERROR},
        {get(&gmoId, &len), MQRC_GMO_ERROR},
        {get(&gmo, nullptr), MQRC_DATA_LENGTH_ERROR},
        {open(&odV5), MQRC_OD_ERROR},
        {open(nullptr), MQRC_OD_ERROR},
        {Open(h, "T.Q", MQOO_INPUT_SHARED | MQOO_INPUT_EXCLUSIVE, &o), MQRC_OPTIONS_ERROR},
        {Put(h, 12345, "x"), MQRC_HOBJ_ERROR},
        {Put(h + 1000, t, "x"), MQRC_HCONN_ERROR},
        {Put(h, qmgr, "x"), MQRC_NOT_OPEN_FOR_OUTPUT},
        {Get(h, outOnly, nullptr), MQRC_NOT_OPEN_FOR_INPUT},
        {Get(h, t, nullptr, nullptr, MQGMO_NO_SYNCPOINT | MQGMO_SYNCPOINT), MQRC_OPTIONS_ERROR},
        {connx(&cnoV9), MQRC_CNO_ERROR},
        {connx(nullptr), MQRC_CNO_ERROR},
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

TEST_F(MqsimMqi, FaultsFailExactlyTheGivenNumberOfCalls) {
    std::string out;
    ASSERT_EQ(qm.Run({"fault", "QM1", "put", "T.Q", "2053", "3"}, &out), 0) << out;
    MQHOBJ t;
    ASSERT_EQ(Open(h, "T.Q", MQOO_OUTPUT, &t), 0);
    EXPECT_EQ(Put(h, t, "1"), MQRC_Q_FULL);
    EXPECT_EQ(Put1(h, "T.Q", "2"), MQRC_Q_FULL) << "MQPUT1 counts too";
    EXPECT_EQ(Put(h, t, "3"), MQRC_Q_FULL);
    EXPECT_EQ(Put(h, t, "4"), 0);
    EXPECT_EQ(Put1(h, "CORVEL.TORVIK.COMMAND.QUEUE", "other queue"), 0);

    ASSERT_EQ(qm.Run({"fault", "QM1", "call", "MQOPEN", "T.Q", "2035", "1"}, &out), 0) << out;
    MQHOBJ o;
    EXPECT_EQ(Open(h, "CORVEL.TORVIK.COMMAND.QUEUE", MQOO_OUTPUT, &o), 0);
    EXPECT_EQ(Open(h, "T.Q", MQOO_OUTPUT, &o), MQRC_NOT_AUTHORIZED);
    EXPECT_EQ(Open(h, "T.Q", MQOO_OUTPUT, &o), 0);

    ASSERT_EQ(qm.Run({"fault", "QM1", "call", "MQINQ", "*", "2059", "-1"}, &out), 0);
    MQHOBJ q;
    ASSERT_EQ(OpenQmgr(h, &q), 0);
    std::vector<MQLONG> v;
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(InqInts(h, q, {MQIA_PLATFORM}, &v), 2059);
    ASSERT_EQ(qm.Run({"fault", "QM1", "clear"}, &out), 0);
    EXPECT_EQ(InqInts(h, q, {MQIA_PLATFORM}, &v), 0);

    ASSERT_EQ(qm.Run({"fault", "QM1", "call", "MQCONNX", "QMGR", "2059", "1"}, &out), 0);
    MQHCONN h2;
    EXPECT_EQ(Connect("QM1", &h2), 2059);
    EXPECT_EQ(Connect("QM1", &h2), 0);
    Disconnect(&h2);
    EXPECT_EQ(qm.Run({"fault", "QM1", "call", "MQFOO", "*", "2059"}, &out), 1);
    EXPECT_EQ(qm.Run({"fault", "QM1", "put", "T.Q", "many"}, &out), 1);
}

TEST_F(MqsimMqi, TwoClientsAtOnceLoseNothing) {
    const int perThread = 300;
    std::atomic<int> failures{0};
    auto producer = [&](int id) {
        MQHCONN c;
        if (Connect("QM1", &c) != 0) {
            failures++;
            return;
        }
        MQHOBJ o;
        if (Open(c, "CORVEL.TORVIK.COMMAND.QUEUE", MQOO_OUTPUT, &o) != 0)
            failures++;
        for (int i = 0; i < perThread; i++) {
            if (Put(c, o, std::to_string(id) + ":" + std::to_string(i)) != 0)
                failures++;
        }
        Disconnect(&c);
    };
    std::thread a(producer, 1), b(producer, 2);
    MQHOBJ in;
    ASSERT_EQ(Open(h, "CORVEL.TORVIK.COMMAND.QUEUE", MQOO_INPUT_SHARED, &in), 0);
    std::vector<int> next(3, 0);
    int got = 0;
    while (got < 2 * perThread) {
        std::string text;
        MQLONG rc = Get(h, in, &text, nullptr, MQGMO_NO_SYNCPOINT, 20000);
        if (rc != 0)
            break;
        int id = text[0] - '0';
        ASSERT_TRUE(id == 1 || id == 2) << text;
        /* each producer's messages arrive in its order */
        EXPECT_EQ(std::stoi(text.substr(2)), next[id]++);
        got++;
    }
    a.join();
    b.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(got, 2 * perThread);
}

TEST_F(MqsimMqi, HandlesAreThreadBoundUnlessShared) {
    MQHCONN bound;
    ASSERT_EQ(Connect("QM1", &bound, MQCNO_NONE), 0);
    MQLONG fromOther = -1;
    std::thread t([&] { fromOther = Put1(bound, "T.Q", "x"); });
    t.join();
    EXPECT_EQ(fromOther, MQRC_HCONN_ERROR);
    EXPECT_EQ(Put1(bound, "T.Q", "x"), 0);
    Disconnect(&bound);
    std::thread t2([&] { fromOther = Put1(h, "T.Q", "y"); });
    t2.join();
    EXPECT_EQ(fromOther, 0) << "MQCNO_HANDLE_SHARE_BLOCK works from any thread";
}

TEST_F(MqsimMqi, ClientChannelAndRefusedConnectOptions) {
    ASSERT_EQ(qm.Start("QMCC", {"--client-channel", "SYSTEM.DEF.SVRCONN", "--refuse-cno-v7"}), "");
    MQCD cd = MQCD_CLIENT_CONN_DEFAULT;
    MQCNO cno = MQCNO_DEFAULT;
    cno.Version = MQCNO_VERSION_7;
    cno.Options = MQCNO_HANDLE_SHARE_BLOCK | MQCNO_CD_FOR_OUTPUT_ONLY;
    cno.ClientConnPtr = &cd;
    MQCHAR48 name;
    SetName(name, sizeof name, "QMCC");
    MQHCONN c;
    MQLONG cc, rc;
    MQCONNX(name, &cno, &c, &cc, &rc);
    EXPECT_EQ(rc, MQRC_CNO_ERROR) << "version 7 is refused";
    cno.Version = MQCNO_VERSION_2;
    MQCONNX(name, &cno, &c, &cc, &rc);
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(std::string(cd.ChannelName, 20), "SYSTEM.DEF.SVRCONN  ");
    Disconnect(&c);
    /* a server connection leaves the channel definition as it was */
    MQCD cd2 = MQCD_CLIENT_CONN_DEFAULT;
    cno.Version = MQCNO_VERSION_7;
    cno.ClientConnPtr = &cd2;
    SetName(name, sizeof name, "QM1");
    MQCONNX(name, &cno, &c, &cc, &rc);
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(std::string(cd2.ChannelName, 20), std::string(20, ' '));
    Disconnect(&c);
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
