/* cmdsrv_pcf_test.cpp -- PCF commands to the stand-in command server on a
 * distributed queue manager: each command's replies (counts, Control flags,
 * padding, attribute selection), malformed commands, report options and
 * context, each against a daemon of its own. */
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "cmdsrv_util.h"
#include "support/process.h"

namespace {

/* Every reply of a set is an MQADMIN reply to command; all but the last
 * MQCFC_NOT_LAST, sequence numbers from 1. */
void ExpectReplySet(const std::vector<Reply> &replies, MQLONG command) {
    for (size_t i = 0; i < replies.size(); i++) {
        SCOPED_TRACE("reply " + std::to_string(i + 1));
        EXPECT_EQ(replies[i].Format(), MQFMT_ADMIN);
        EXPECT_EQ(replies[i].md.MsgType, MQMT_REPLY);
        PcfMsg m = replies[i].Pcf();
        EXPECT_EQ(m.h.Type, MQCFT_RESPONSE);
        EXPECT_EQ(m.h.Command, command);
        EXPECT_EQ(m.h.MsgSeqNumber, (MQLONG)(i + 1));
        EXPECT_EQ(m.h.Control, i + 1 == replies.size() ? MQCFC_LAST : MQCFC_NOT_LAST);
    }
}

/* The error reply of a one-reply set: CompCode 2 and reason, with
 * MQIACF_PARAMETER_ID = parm when parm is not 0. */
void ExpectError(const std::vector<Reply> &replies, MQLONG command, MQLONG reason,
                 MQLONG parm = 0) {
    ASSERT_EQ(replies.size(), 1u);
    ExpectReplySet(replies, command);
    PcfMsg m = replies[0].Pcf();
    EXPECT_EQ(m.h.CompCode, MQCC_FAILED);
    EXPECT_EQ(m.h.Reason, reason);
    if (parm != 0) {
        ASSERT_NE(m.Find(MQIACF_PARAMETER_ID), nullptr);
        EXPECT_EQ(m.Find(MQIACF_PARAMETER_ID)->value, parm);
    } else {
        EXPECT_EQ(m.h.ParameterCount, 0);
    }
}

class CmdsrvPcf : public ::testing::Test {
protected:
    void Start(std::vector<std::string> options = {}) {
        ASSERT_EQ(qm.Start("QM1", options), "");
        ASSERT_EQ(client.Open("QM1"), "");
    }
    MqsimQueueManager qm;
    CmdClient client;
};

TEST_F(CmdsrvPcf, InquireQmgrReturnsAllAttributesOrTheSelectedOnesPadded) {
    Start();
    std::vector<Reply> all = client.Exchange(Cmd(MQCMD_INQUIRE_Q_MGR));
    ExpectReplySet(all, MQCMD_INQUIRE_Q_MGR);
    PcfMsg m = OnlyReply(all);
    EXPECT_EQ(m.h.CompCode, MQCC_OK);
    ASSERT_NE(m.Find(MQCA_Q_MGR_NAME), nullptr);
    EXPECT_EQ(m.Find(MQCA_Q_MGR_NAME)->text, Padded("QM1", 48));
    EXPECT_EQ(m.Find(MQIA_PLATFORM)->value, MQPL_UNIX);
    EXPECT_EQ(m.Find(MQIA_COMMAND_LEVEL)->value, MQCMDL_LEVEL_940);
    EXPECT_EQ(m.Find(MQCA_COMMAND_INPUT_Q_NAME)->text, Padded("SYSTEM.ADMIN.COMMAND.QUEUE", 48));
    EXPECT_EQ(m.Find(MQCA_SSL_KEY_REPOSITORY)->text, std::string(256, ' '));
    EXPECT_EQ(m.Find(MQCA_CERT_LABEL)->text, std::string(64, ' '));
    EXPECT_EQ(m.Find(MQIA_SSL_EVENT)->value, MQEVR_DISABLED);

    /* TORVIK's certificate inquiry: the three attributes and the name */
    tvtest::Pcf sel = Cmd(MQCMD_INQUIRE_Q_MGR);
    sel.IntList(MQIACF_Q_MGR_ATTRS, {MQCA_SSL_KEY_REPOSITORY, MQCA_CERT_LABEL, MQIA_SSL_EVENT});
    m = OnlyReply(client.Exchange(sel));
    std::vector<MQLONG> ids;
    for (const tvtest::Parm &p : m.parms)
        ids.push_back(p.parameter);
    EXPECT_EQ(ids, (std::vector<MQLONG>{MQCA_Q_MGR_NAME, MQCA_SSL_KEY_REPOSITORY, MQCA_CERT_LABEL,
                                        MQIA_SSL_EVENT}));
    /* MQIACF_ALL in the list is every attribute again */
    tvtest::Pcf allSel = Cmd(MQCMD_INQUIRE_Q_MGR);
    allSel.IntList(MQIACF_Q_MGR_ATTRS, {MQIACF_ALL});
    EXPECT_EQ(OnlyReply(client.Exchange(allSel)).parms.size(), all[0].Pcf().parms.size());
}

TEST_F(CmdsrvPcf, InquireQueueGivesOneFullReplyPerQueueTheLastMarkedLast) {
    Start({"--queues", "5"});
    tvtest::Pcf c = Cmd(MQCMD_INQUIRE_Q);
    c.Padded(MQCA_Q_NAME, "APP.*", 48).IntList(MQIACF_Q_ATTRS, {MQIACF_ALL});
    std::vector<Reply> r = client.Exchange(c);
    ASSERT_EQ(r.size(), 5u);
    ExpectReplySet(r, MQCMD_INQUIRE_Q);
    for (size_t i = 0; i < r.size(); i++) {
        SCOPED_TRACE(i);
        PcfMsg m = r[i].Pcf();
        char name[32];
        snprintf(name, sizeof name, "APP.QUEUE.%04d", (int)i + 1);
        EXPECT_EQ(m.Find(MQCA_Q_NAME)->text, Padded(name, 48));
        EXPECT_EQ(m.Find(MQIA_Q_TYPE)->value, MQQT_LOCAL);
        EXPECT_EQ(m.Find(MQIA_MAX_Q_DEPTH)->value, 100000);
        EXPECT_EQ(m.Find(MQIA_MAX_MSG_LENGTH)->value, 4194304);
        /* every attribute of a local queue: 15 strings and 46 integers */
        EXPECT_EQ(m.h.ParameterCount, 61);
        EXPECT_EQ(r[i].data.size(), 1752u);
    }
    /* without an attribute list it is the same */
    tvtest::Pcf noList = Cmd(MQCMD_INQUIRE_Q);
    noList.Str(MQCA_Q_NAME, "APP.QUEUE.0003");
    PcfMsg one = OnlyReply(client.Exchange(noList));
    EXPECT_EQ(one.h.ParameterCount, 61);
    EXPECT_EQ(one.Find(MQCA_Q_NAME)->text, Padded("APP.QUEUE.0003", 48));
}

TEST_F(CmdsrvPcf, InquireQueueSelectsAttributesTypesAndFilters) {
    Start({"--queues", "3"});
    ASSERT_EQ(Put1(client.Hconn(), "APP.QUEUE.0002", "one"), 0);
    ASSERT_EQ(Put1(client.Hconn(), "APP.QUEUE.0002", "two"), 0);

    tvtest::Pcf c = Cmd(MQCMD_INQUIRE_Q);
    c.Str(MQCA_Q_NAME, "APP.QUEUE.000*").IntList(MQIACF_Q_ATTRS, {MQIA_CURRENT_Q_DEPTH});
    std::vector<Reply> r = client.Exchange(c);
    ASSERT_EQ(r.size(), 3u);
    for (size_t i = 0; i < 3; i++) {
        PcfMsg m = r[i].Pcf();
        /* the name and type always, then what was asked for */
        ASSERT_EQ(m.parms.size(), 3u);
        EXPECT_EQ(m.parms[0].parameter, MQCA_Q_NAME);
        EXPECT_EQ(m.parms[1].parameter, MQIA_Q_TYPE);
        EXPECT_EQ(m.parms[2].parameter, MQIA_CURRENT_Q_DEPTH);
        EXPECT_EQ(m.parms[2].value, i == 1 ? 2 : 0);
    }

    /* only model queues: the default model, which has no depth */
    tvtest::Pcf models = Cmd(MQCMD_INQUIRE_Q);
    models.Str(MQCA_Q_NAME, "*").Int(MQIA_Q_TYPE, MQQT_MODEL);
    PcfMsg m = OnlyReply(client.Exchange(models));
    EXPECT_EQ(m.Find(MQCA_Q_NAME)->text, Padded("SYSTEM.DEFAULT.MODEL.QUEUE", 48));
    EXPECT_EQ(m.Find(MQIA_CURRENT_Q_DEPTH), nullptr);
    EXPECT_EQ(m.Find(MQIA_DEFINITION_TYPE)->value, MQQDT_TEMPORARY_DYNAMIC);

    /* a remote queue reports where it points */
    qm.Mqsc("QM1", {"DEFINE QREMOTE(TO.FAR) RNAME(THERE) RQMNAME(QM9) XMITQ(XQ)"});
    tvtest::Pcf remote = Cmd(MQCMD_INQUIRE_Q);
    remote.Str(MQCA_Q_NAME, "TO.FAR");
    m = OnlyReply(client.Exchange(remote));
    EXPECT_EQ(m.Find(MQIA_Q_TYPE)->value, MQQT_REMOTE);
    EXPECT_EQ(m.Find(MQCA_REMOTE_Q_NAME)->text, Padded("THERE", 48));
    EXPECT_EQ(m.Find(MQCA_REMOTE_Q_MGR_NAME)->text, Padded("QM9", 48));
    EXPECT_EQ(m.Find(MQCA_XMIT_Q_NAME)->text, Padded("XQ", 48));
    EXPECT_EQ(m.Find(MQIA_MAX_Q_DEPTH), nullptr);

    /* an integer filter: only queues holding messages */
    tvtest::Pcf deep = Cmd(MQCMD_INQUIRE_Q);
    deep.Str(MQCA_Q_NAME, "*").IntFilter(MQIA_CURRENT_Q_DEPTH, MQCFOP_GREATER, 0);
    m = OnlyReply(client.Exchange(deep));
    EXPECT_EQ(m.Find(MQCA_Q_NAME)->text, Padded("APP.QUEUE.0002", 48));
    /* a string filter on the description */
    qm.Mqsc("QM1", {"ALTER QLOCAL(APP.QUEUE.0003) DESCR('urgent')"});
    tvtest::Pcf like = Cmd(MQCMD_INQUIRE_Q);
    like.Str(MQCA_Q_NAME, "APP.*").StrFilter(MQCA_Q_DESC, MQCFOP_LIKE, "urg*");
    m = OnlyReply(client.Exchange(like));
    EXPECT_EQ(m.Find(MQCA_Q_NAME)->text, Padded("APP.QUEUE.0003", 48));
    /* errors: an unknown operator, nothing matching (one reply, 2085), a
     * bad queue type, a name longer than a queue name can be */
    const tvtest::Pcf any = Cmd(MQCMD_INQUIRE_Q).Str(MQCA_Q_NAME, "*");
    const struct {
        tvtest::Pcf cmd;
        MQLONG reason, parm;
    } errors[] = {
        {tvtest::Pcf(any).IntFilter(MQIA_CURRENT_Q_DEPTH, 99, 0), MQRCCF_CFIF_OPERATOR_ERROR,
         MQIA_CURRENT_Q_DEPTH},
        {Cmd(MQCMD_INQUIRE_Q).Str(MQCA_Q_NAME, "NO.SUCH.*"), MQRC_UNKNOWN_OBJECT_NAME, 0},
        {tvtest::Pcf(any).IntFilter(MQIA_CURRENT_Q_DEPTH, MQCFOP_GREATER, 1000),
         MQRC_UNKNOWN_OBJECT_NAME, 0},
        {tvtest::Pcf(any).Int(MQIA_Q_TYPE, 42), MQRCCF_Q_TYPE_ERROR, MQIA_Q_TYPE},
        {Cmd(MQCMD_INQUIRE_Q).Str(MQCA_Q_NAME, std::string(49, 'A')), MQRCCF_CFST_STRING_LENGTH_ERR,
         MQCA_Q_NAME},
    };
    for (const auto &e : errors)
        ExpectError(client.Exchange(e.cmd), MQCMD_INQUIRE_Q, e.reason, e.parm);
}

TEST_F(CmdsrvPcf, InquireQueueNamesGivesOneStringListHoweverLargeOrUnknownObject) {
    Start({"--queues", "30000"});
    tvtest::Pcf c = Cmd(MQCMD_INQUIRE_Q_NAMES);
    c.Str(MQCA_Q_NAME, "APP.*");
    std::vector<Reply> r = client.Exchange(c);
    ExpectReplySet(r, MQCMD_INQUIRE_Q_NAMES);
    PcfMsg m = OnlyReply(r);
    ASSERT_NE(m.Find(MQCACF_Q_NAMES), nullptr);
    EXPECT_EQ(r[0].data.size(), 36u + 24u + 30000u * 48u);
    /* every queue once, in name order */
    const std::vector<std::string> &names = m.Find(MQCACF_Q_NAMES)->strs;
    ASSERT_EQ(names.size(), 30000u);
    EXPECT_EQ(names[0], Padded("APP.QUEUE.0001", 48));
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), 30000u);
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    /* all queues, of one type */
    tvtest::Pcf models = Cmd(MQCMD_INQUIRE_Q_NAMES);
    models.Str(MQCA_Q_NAME, "*").Int(MQIA_Q_TYPE, MQQT_MODEL);
    m = OnlyReply(client.Exchange(models));
    EXPECT_EQ(m.Find(MQCACF_Q_NAMES)->strs,
              (std::vector<std::string>{Padded("SYSTEM.DEFAULT.MODEL.QUEUE", 48)}));
    tvtest::Pcf none = Cmd(MQCMD_INQUIRE_Q_NAMES);
    none.Str(MQCA_Q_NAME, "NOTHING*");
    ExpectError(client.Exchange(none), MQCMD_INQUIRE_Q_NAMES, MQRC_UNKNOWN_OBJECT_NAME);
}

TEST_F(CmdsrvPcf, ChangeQmgrSetsTheKeyRepositoryLabelAndEventOrChangesNothing) {
    Start();
    tvtest::Pcf c = Cmd(MQCMD_CHANGE_Q_MGR);
    c.Str(MQCA_SSL_KEY_REPOSITORY, "/var/mqm/qmgrs/QM1/ssl/key store")
        .Str(MQCA_CERT_LABEL, "ibmwebspheremqqm1")
        .Int(MQIA_SSL_EVENT, MQEVR_ENABLED);
    std::vector<Reply> r = client.Exchange(c);
    ExpectReplySet(r, MQCMD_CHANGE_Q_MGR);
    PcfMsg m = OnlyReply(r);
    EXPECT_EQ(m.h.CompCode, MQCC_OK);
    EXPECT_EQ(m.h.ParameterCount, 0);

    /* a value too long, or not valid, fails and changes nothing */
    tvtest::Pcf tooLong = Cmd(MQCMD_CHANGE_Q_MGR);
    tooLong.Str(MQCA_CERT_LABEL, "new").Str(MQCA_SSL_KEY_REPOSITORY, std::string(257, 'k'));
    ExpectError(client.Exchange(tooLong), MQCMD_CHANGE_Q_MGR, MQRCCF_CFST_STRING_LENGTH_ERR,
                MQCA_SSL_KEY_REPOSITORY);
    tvtest::Pcf badEvent = Cmd(MQCMD_CHANGE_Q_MGR);
    badEvent.Str(MQCA_CERT_LABEL, "new").Int(MQIA_SSL_EVENT, 7);
    ExpectError(client.Exchange(badEvent), MQCMD_CHANGE_Q_MGR, MQRCCF_PARM_VALUE_ERROR,
                MQIA_SSL_EVENT);
    tvtest::Pcf asks = Cmd(MQCMD_INQUIRE_Q_MGR);
    asks.IntList(MQIACF_Q_MGR_ATTRS, {MQCA_CERT_LABEL, MQCA_SSL_KEY_REPOSITORY, MQIA_SSL_EVENT});
    m = OnlyReply(client.Exchange(asks));
    EXPECT_EQ(m.Find(MQIA_SSL_EVENT)->value, MQEVR_ENABLED);
    EXPECT_EQ(m.Find(MQCA_CERT_LABEL)->text, Padded("ibmwebspheremqqm1", 64));
    EXPECT_EQ(m.Find(MQCA_SSL_KEY_REPOSITORY)->text,
              Padded("/var/mqm/qmgrs/QM1/ssl/key store", 256));
    /* an attribute the command does not change */
    tvtest::Pcf other = Cmd(MQCMD_CHANGE_Q_MGR);
    other.Int(MQIA_MAX_HANDLES, 5);
    ExpectError(client.Exchange(other), MQCMD_CHANGE_Q_MGR, MQRCCF_CFIN_PARM_ID_ERROR,
                MQIA_MAX_HANDLES);
}

TEST_F(CmdsrvPcf, PingEscapeAndOtherCommands) {
    Start();
    std::vector<Reply> r = client.Exchange(Cmd(MQCMD_PING_Q_MGR));
    ExpectReplySet(r, MQCMD_PING_Q_MGR);
    PcfMsg m = OnlyReply(r);
    EXPECT_EQ(m.h.CompCode, MQCC_OK);
    EXPECT_EQ(m.h.ParameterCount, 0);

    /* escape: one response per line of the administration engine */
    tvtest::Pcf def = Cmd(MQCMD_ESCAPE);
    def.Int(MQIACF_ESCAPE_TYPE, MQET_MQSC).Str(MQCACF_ESCAPE_TEXT, "DEFINE QLOCAL(ESC.Q)");
    m = OnlyReply(client.Exchange(def));
    EXPECT_EQ(m.h.CompCode, MQCC_OK);
    EXPECT_EQ(m.Find(MQIACF_ESCAPE_TYPE)->value, MQET_MQSC);
    EXPECT_EQ(m.Find(MQCACF_ESCAPE_TEXT)->text, "AMQ8006I: IBM MQ queue created.");

    tvtest::Pcf disp = Cmd(MQCMD_ESCAPE);
    disp.Int(MQIACF_ESCAPE_TYPE, MQET_MQSC).Str(MQCACF_ESCAPE_TEXT, "DISPLAY QLOCAL(ESC.Q) ALL");
    r = client.Exchange(disp);
    ASSERT_GT(r.size(), 3u);
    ExpectReplySet(r, MQCMD_ESCAPE);
    EXPECT_EQ(r[0].Pcf().Find(MQCACF_ESCAPE_TEXT)->text, "AMQ8409I: Display Queue details.");
    std::string all;
    for (const Reply &x : r)
        all += x.Pcf().Find(MQCACF_ESCAPE_TEXT)->text + "\n";
    EXPECT_NE(all.find("QUEUE(ESC.Q)"), std::string::npos) << all;
    EXPECT_NE(all.find("CURDEPTH(0)"), std::string::npos) << all;

    /* a failing escape command fails every response with 3008 */
    tvtest::Pcf del = Cmd(MQCMD_ESCAPE);
    del.Int(MQIACF_ESCAPE_TYPE, MQET_MQSC).Str(MQCACF_ESCAPE_TEXT, "DELETE QLOCAL(NO.SUCH.Q)");
    r = client.Exchange(del);
    ASSERT_GE(r.size(), 1u);
    ExpectReplySet(r, MQCMD_ESCAPE);
    for (const Reply &x : r) {
        EXPECT_EQ(x.Pcf().h.CompCode, MQCC_FAILED);
        EXPECT_EQ(x.Pcf().h.Reason, MQRCCF_COMMAND_FAILED);
    }
    EXPECT_NE(r[0].Pcf().Find(MQCACF_ESCAPE_TEXT)->text.find("AMQ8147E"), std::string::npos);

    tvtest::Pcf badType = Cmd(MQCMD_ESCAPE);
    badType.Int(MQIACF_ESCAPE_TYPE, 2).Str(MQCACF_ESCAPE_TEXT, "DISPLAY QMGR");
    ExpectError(client.Exchange(badType), MQCMD_ESCAPE, MQRCCF_ESCAPE_TYPE_ERROR,
                MQIACF_ESCAPE_TYPE);
    tvtest::Pcf noText = Cmd(MQCMD_ESCAPE);
    noText.Int(MQIACF_ESCAPE_TYPE, MQET_MQSC);
    ExpectError(client.Exchange(noText), MQCMD_ESCAPE, MQRCCF_PARM_COUNT_TOO_SMALL);

    /* commands this command server does not offer */
    ExpectError(client.Exchange(Cmd(MQCMD_INQUIRE_CHANNEL)), MQCMD_INQUIRE_CHANNEL,
                MQRCCF_CFH_COMMAND_ERROR);
    ExpectError(client.Exchange(Cmd(9500)), 9500, MQRCCF_CFH_COMMAND_ERROR);
}

/* Which fault gives which reason is the parser's (cmdsrv_unit_test); here
 * the error replies: the command named when the header could be read, the
 * parameter when there is one, and the server going on. */
TEST_F(CmdsrvPcf, MalformedCommandsGetTheReasonARealCommandServerGives) {
    Start();
    auto send = [&](const std::string &bytes, const char *format = MQFMT_ADMIN) {
        EXPECT_EQ(client.Send("SYSTEM.ADMIN.COMMAND.QUEUE", bytes, nullptr, format), 0);
        return client.Collect();
    };
    ExpectError(send(std::string(20, 'x')), MQCMD_NONE, MQRCCF_MSG_LENGTH_ERROR);
    std::vector<MQBYTE> b = Cmd(MQCMD_INQUIRE_Q).Str(MQCA_Q_NAME, "*").bytes();
    tvtest::Set(b, 0, MQCFT_RESPONSE);
    ExpectError(send(std::string(b.begin(), b.end())), MQCMD_INQUIRE_Q, MQRCCF_CFH_TYPE_ERROR);
    tvtest::Set(b, 0, MQCFT_COMMAND);
    tvtest::Set(b, 52, 200); /* StringLength beyond the structure */
    ExpectError(send(std::string(b.begin(), b.end())), MQCMD_INQUIRE_Q,
                MQRCCF_CFST_STRING_LENGTH_ERR, MQCA_Q_NAME);
    ExpectError(
        send(Bytes(
            Cmd(MQCMD_INQUIRE_Q).Str(MQCA_Q_NAME, "*").Int(MQIA_Q_TYPE, 1).Int(MQIA_Q_TYPE, 1))),
        MQCMD_INQUIRE_Q, MQRCCF_CFIN_DUPLICATE_PARM, MQIA_Q_TYPE);
    /* MQSC text is not a command on a distributed queue manager, nor PCF
     * of another format */
    ExpectError(send("DISPLAY QMGR", MQFMT_STRING), MQCMD_NONE, MQRCCF_MD_FORMAT_ERROR);
    ExpectError(send(Bytes(Cmd(MQCMD_PING_Q_MGR)), MQFMT_NONE), MQCMD_NONE, MQRCCF_MD_FORMAT_ERROR);
    EXPECT_EQ(OnlyReply(client.Exchange(Cmd(MQCMD_PING_Q_MGR))).h.CompCode, MQCC_OK);
}

TEST_F(CmdsrvPcf, ReportOptionsSetTheReplyIdentifiersOnEveryReplyOfASet) {
    Start({"--queues", "3"});
    tvtest::Pcf c = Cmd(MQCMD_INQUIRE_Q);
    c.Str(MQCA_Q_NAME, "APP.*");
    const MQBYTE correl[24] = {'C', 'O', 'R', 'R', 'E', 'L'};
    for (MQLONG report : {MQRO_NONE, MQRO_PASS_MSG_ID, MQRO_PASS_CORREL_ID,
                          MQRO_PASS_MSG_ID | MQRO_PASS_CORREL_ID}) {
        SCOPED_TRACE(report);
        MQMD md = MQMD_DEFAULT;
        SetName(md.ReplyToQ, sizeof md.ReplyToQ, client.ReplyQ().c_str());
        md.Report = report;
        md.Priority = 7;
        memcpy(md.CorrelId, correl, sizeof md.CorrelId);
        ASSERT_EQ(client.Send("SYSTEM.ADMIN.COMMAND.QUEUE", Bytes(c), &md), 0);
        std::vector<Reply> r = client.Collect();
        ASSERT_EQ(r.size(), 3u);
        ExpectReplySet(r, MQCMD_INQUIRE_Q);
        for (size_t i = 0; i < r.size(); i++) {
            const MQMD &rm = r[i].md;
            /* the request's MsgId passed, or a new one for each reply */
            EXPECT_EQ(memcmp(rm.MsgId, md.MsgId, 24) == 0, (report & MQRO_PASS_MSG_ID) != 0);
            if (i > 0 && !(report & MQRO_PASS_MSG_ID)) {
                EXPECT_NE(memcmp(rm.MsgId, r[i - 1].md.MsgId, 24), 0);
            }
            EXPECT_EQ(memcmp(rm.CorrelId, report & MQRO_PASS_CORREL_ID ? correl : md.MsgId, 24), 0);
            EXPECT_EQ(rm.Priority, 7);
            EXPECT_EQ(rm.Encoding, MQENC_NATIVE);
            EXPECT_EQ(rm.Report, MQRO_NONE);
        }
    }
}

TEST_F(CmdsrvPcf, RepliesGoToTheReplyToQueueManagerAndUndeliverableOnesAreDropped) {
    Start();
    /* the local queue manager named explicitly */
    MQMD md = MQMD_DEFAULT;
    SetName(md.ReplyToQ, sizeof md.ReplyToQ, client.ReplyQ().c_str());
    SetName(md.ReplyToQMgr, sizeof md.ReplyToQMgr, "QM1");
    ASSERT_EQ(client.Send("SYSTEM.ADMIN.COMMAND.QUEUE", Bytes(Cmd(MQCMD_PING_Q_MGR)), &md), 0);
    EXPECT_EQ(OnlyReply(client.Collect()).h.CompCode, MQCC_OK);

    /* another queue manager: through the transmission queue of its name */
    qm.Mqsc("QM1", {"DEFINE QLOCAL(QM2) USAGE(XMITQ)"});
    md = MQMD_DEFAULT;
    SetName(md.ReplyToQ, sizeof md.ReplyToQ, "FAR.REPLY");
    SetName(md.ReplyToQMgr, sizeof md.ReplyToQMgr, "QM2");
    ASSERT_EQ(client.Send("SYSTEM.ADMIN.COMMAND.QUEUE", Bytes(Cmd(MQCMD_PING_Q_MGR)), &md), 0);
    EXPECT_TRUE(WaitUntil([&] { return client.Depth("QM2") == 1; }));

    /* nowhere to go: no such queue, an unknown queue manager, no reply-to
     * queue at all; the command server logs, drops and goes on (a blank
     * ReplyToQMgr became the local name when the command was put) */
    const char *targets[][2] = {{"NO.SUCH.QUEUE", ""}, {"R", "NOWHERE"}, {"", ""}};
    for (auto &t : targets) {
        md = MQMD_DEFAULT;
        SetName(md.ReplyToQ, sizeof md.ReplyToQ, t[0]);
        SetName(md.ReplyToQMgr, sizeof md.ReplyToQMgr, t[1]);
        ASSERT_EQ(client.Send("SYSTEM.ADMIN.COMMAND.QUEUE", Bytes(Cmd(MQCMD_PING_Q_MGR)), &md), 0);
    }
    EXPECT_EQ(OnlyReply(client.Exchange(Cmd(MQCMD_PING_Q_MGR))).h.CompCode, MQCC_OK);
    std::string log = qm.Log("QM1");
    EXPECT_NE(log.find("reply 1 to NO.SUCH.QUEUE on QM1 not put (reason 2085); dropped"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("reply 1 to R on NOWHERE not put (reason 2087); dropped"), std::string::npos)
        << log;
    EXPECT_NE(log.find("has no reply-to queue"), std::string::npos) << log;
}

TEST_F(CmdsrvPcf, StatusShowsTheContextOfTheLastCommandTaken) {
    Start();
    MQMD md = MQMD_DEFAULT;
    SetName(md.ReplyToQ, sizeof md.ReplyToQ, client.ReplyQ().c_str());
    memcpy(md.UserIdentifier, Padded("alice", 12).data(), 12);
    ASSERT_EQ(client.Send("SYSTEM.ADMIN.COMMAND.QUEUE", Bytes(Cmd(MQCMD_PING_Q_MGR)), &md,
                          MQFMT_ADMIN, MQPMO_SET_IDENTITY_CONTEXT),
              0);
    ASSERT_EQ(client.Collect().size(), 1u);
    std::string out;
    ASSERT_EQ(qm.Run({"status", "QM1"}, &out), 0) << out;
    EXPECT_NE(out.find("LASTCMDUSER(alice)"), std::string::npos) << out;
    EXPECT_NE(out.find("LASTCMDAPPL("), std::string::npos) << out;
    EXPECT_EQ(out.find("LASTCMDAPPL()"), std::string::npos) << out;
}

} /* namespace */
