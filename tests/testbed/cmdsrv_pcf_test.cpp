/* cmdsrv_pcf_test.cpp -- PCF commands to the stand-in command server of a
 * distributed queue manager, each test against a daemon of its own: each
 * command's replies (counts, Control flags, padding, attribute selection),
 * error replies, report options, reply routing and the context of the last
 * command. Which fault of a command gives which reason is the parser's
 * (cmdsrv_unit_test). */
#include <gtest/gtest.h>

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
void ExpectErrorReply(const std::vector<Reply> &replies, MQLONG command, MQLONG reason,
                      MQLONG parm = 0) {
    ASSERT_EQ(replies.size(), 1u);
    ExpectReplySet(replies, command);
    PcfMsg m = replies[0].Pcf();
    EXPECT_EQ(m.h.CompCode, MQCC_FAILED);
    EXPECT_EQ(m.h.Reason, reason);
    if (parm != 0)
        EXPECT_EQ(m.Value(MQIACF_PARAMETER_ID), parm);
    else
        EXPECT_EQ(m.h.ParameterCount, 0);
}

class CmdsrvPcf : public ::testing::Test {
protected:
    void Start(std::vector<std::string> options = {}) {
        ASSERT_EQ(qm.Start("QM1", options), "");
        ASSERT_EQ(client.Open("QM1"), "");
    }
    PcfMsg One(const tvtest::Pcf &c) { return OnlyReply(client.Exchange(c)); }
    void ExpectError(const tvtest::Pcf &c, MQLONG reason, MQLONG parm = 0) {
        ExpectErrorReply(client.Exchange(c), tvtest::Get(c.bytes(), 12), reason, parm);
    }
    MqsimQueueManager qm;
    CmdClient client;
};

TEST_F(CmdsrvPcf, QueueManagerAttributesAreInquiredPaddedAndChanged) {
    Start();
    std::vector<Reply> all = client.Exchange(Cmd(MQCMD_INQUIRE_Q_MGR));
    ExpectReplySet(all, MQCMD_INQUIRE_Q_MGR);
    PcfMsg m = OnlyReply(all);
    EXPECT_EQ(m.h.CompCode, MQCC_OK);
    EXPECT_EQ(m.Text(MQCA_Q_MGR_NAME), Padded("QM1", 48));
    EXPECT_EQ(m.Value(MQIA_PLATFORM), MQPL_UNIX);
    EXPECT_EQ(m.Value(MQIA_COMMAND_LEVEL), MQCMDL_LEVEL_940);
    EXPECT_EQ(m.Text(MQCA_COMMAND_INPUT_Q_NAME), Padded("SYSTEM.ADMIN.COMMAND.QUEUE", 48));
    EXPECT_EQ(m.Text(MQCA_SSL_KEY_REPOSITORY), std::string(256, ' '));
    EXPECT_EQ(m.Text(MQCA_CERT_LABEL), std::string(64, ' '));
    EXPECT_EQ(m.Value(MQIA_SSL_EVENT), MQEVR_DISABLED);

    tvtest::Pcf change = Cmd(MQCMD_CHANGE_Q_MGR);
    change.Str(MQCA_SSL_KEY_REPOSITORY, "/var/mqm/qmgrs/QM1/ssl/key store")
        .Str(MQCA_CERT_LABEL, "ibmwebspheremqqm1")
        .Int(MQIA_SSL_EVENT, MQEVR_ENABLED);
    std::vector<Reply> r = client.Exchange(change);
    ExpectReplySet(r, MQCMD_CHANGE_Q_MGR);
    EXPECT_EQ(OnlyReply(r).h.CompCode, MQCC_OK);
    EXPECT_EQ(OnlyReply(r).h.ParameterCount, 0);
    /* a value too long or not valid, or an attribute the command does not
     * change, fails and changes nothing */
    const tvtest::Pcf label = Cmd(MQCMD_CHANGE_Q_MGR).Str(MQCA_CERT_LABEL, "new");
    ExpectError(tvtest::Pcf(label).Str(MQCA_SSL_KEY_REPOSITORY, std::string(257, 'k')),
                MQRCCF_CFST_STRING_LENGTH_ERR, MQCA_SSL_KEY_REPOSITORY);
    ExpectError(tvtest::Pcf(label).Int(MQIA_SSL_EVENT, 7), MQRCCF_PARM_VALUE_ERROR, MQIA_SSL_EVENT);
    ExpectError(Cmd(MQCMD_CHANGE_Q_MGR).Int(MQIA_MAX_HANDLES, 5), MQRCCF_CFIN_PARM_ID_ERROR,
                MQIA_MAX_HANDLES);

    /* TORVIK's certificate inquiry: the name, then the three attributes */
    m = One(Cmd(MQCMD_INQUIRE_Q_MGR)
                .IntList(MQIACF_Q_MGR_ATTRS,
                         {MQCA_SSL_KEY_REPOSITORY, MQCA_CERT_LABEL, MQIA_SSL_EVENT}));
    EXPECT_EQ(m.Ids(), (std::vector<MQLONG>{MQCA_Q_MGR_NAME, MQCA_SSL_KEY_REPOSITORY,
                                            MQCA_CERT_LABEL, MQIA_SSL_EVENT}));
    EXPECT_EQ(m.Value(MQIA_SSL_EVENT), MQEVR_ENABLED);
    EXPECT_EQ(m.Text(MQCA_CERT_LABEL), Padded("ibmwebspheremqqm1", 64));
    EXPECT_EQ(m.Text(MQCA_SSL_KEY_REPOSITORY), Padded("/var/mqm/qmgrs/QM1/ssl/key store", 256));
}

TEST_F(CmdsrvPcf, QueuesAreInquiredOnePerReplyByNameTypeAndFilter) {
    Start({"--queues", "3"});
    ASSERT_EQ(Put1(client.Hconn(), "APP.QUEUE.0002", "one"), 0);
    /* every attribute of a local queue (15 strings, 46 integers) */
    std::vector<Reply> r = client.Exchange(Cmd(MQCMD_INQUIRE_Q)
                                               .Padded(MQCA_Q_NAME, "APP.*", 48)
                                               .IntList(MQIACF_Q_ATTRS, {MQIACF_ALL}));
    ASSERT_EQ(r.size(), 3u);
    ExpectReplySet(r, MQCMD_INQUIRE_Q);
    for (size_t i = 0; i < r.size(); i++) {
        PcfMsg m = r[i].Pcf();
        EXPECT_EQ(m.Text(MQCA_Q_NAME), Padded("APP.QUEUE.000" + std::to_string(i + 1), 48));
        EXPECT_EQ(m.Value(MQIA_Q_TYPE), MQQT_LOCAL);
        EXPECT_EQ(m.Value(MQIA_MAX_Q_DEPTH), 100000);
        EXPECT_EQ(m.Value(MQIA_MAX_MSG_LENGTH), 4194304);
        EXPECT_EQ(m.h.ParameterCount, 61);
        EXPECT_EQ(r[i].data.size(), 1752u);
    }
    /* selected: the name and type always, then what was asked for */
    r = client.Exchange(Cmd(MQCMD_INQUIRE_Q)
                            .Str(MQCA_Q_NAME, "APP.QUEUE.000*")
                            .IntList(MQIACF_Q_ATTRS, {MQIA_CURRENT_Q_DEPTH}));
    ASSERT_EQ(r.size(), 3u);
    for (size_t i = 0; i < 3; i++) {
        PcfMsg m = r[i].Pcf();
        EXPECT_EQ(m.Ids(), (std::vector<MQLONG>{MQCA_Q_NAME, MQIA_Q_TYPE, MQIA_CURRENT_Q_DEPTH}));
        EXPECT_EQ(m.Value(MQIA_CURRENT_Q_DEPTH), i == 1 ? 1 : 0);
    }

    const tvtest::Pcf any = Cmd(MQCMD_INQUIRE_Q).Str(MQCA_Q_NAME, "*");
    /* a filter: only queues holding messages */
    PcfMsg m = One(tvtest::Pcf(any).IntFilter(MQIA_CURRENT_Q_DEPTH, MQCFOP_GREATER, 0));
    EXPECT_EQ(m.Text(MQCA_Q_NAME), Padded("APP.QUEUE.0002", 48));

    /* names: one reply with a string list, every name once in order; of
     * one type */
    m = One(Cmd(MQCMD_INQUIRE_Q_NAMES).Str(MQCA_Q_NAME, "APP.*"));
    ASSERT_NE(m.Find(MQCACF_Q_NAMES), nullptr);
    EXPECT_EQ(m.Find(MQCACF_Q_NAMES)->strs,
              (std::vector<std::string>{Padded("APP.QUEUE.0001", 48), Padded("APP.QUEUE.0002", 48),
                                        Padded("APP.QUEUE.0003", 48)}));
    m = One(Cmd(MQCMD_INQUIRE_Q_NAMES).Str(MQCA_Q_NAME, "*").Int(MQIA_Q_TYPE, MQQT_MODEL));
    ASSERT_NE(m.Find(MQCACF_Q_NAMES), nullptr);
    EXPECT_EQ(m.Find(MQCACF_Q_NAMES)->strs,
              (std::vector<std::string>{Padded("SYSTEM.DEFAULT.MODEL.QUEUE", 48)}));

    /* errors: an unknown operator, nothing matching (one reply, 2085), a
     * bad queue type, a name longer than a queue name can be */
    const struct {
        tvtest::Pcf cmd;
        MQLONG reason, parm;
    } errors[] = {
        {tvtest::Pcf(any).IntFilter(MQIA_CURRENT_Q_DEPTH, 99, 0), MQRCCF_CFIF_OPERATOR_ERROR,
         MQIA_CURRENT_Q_DEPTH},
        {Cmd(MQCMD_INQUIRE_Q).Str(MQCA_Q_NAME, "NO.SUCH.*"), MQRC_UNKNOWN_OBJECT_NAME, 0},
        {tvtest::Pcf(any).IntFilter(MQIA_CURRENT_Q_DEPTH, MQCFOP_GREATER, 1000),
         MQRC_UNKNOWN_OBJECT_NAME, 0},
        {Cmd(MQCMD_INQUIRE_Q_NAMES).Str(MQCA_Q_NAME, "NOTHING*"), MQRC_UNKNOWN_OBJECT_NAME, 0},
        {tvtest::Pcf(any).Int(MQIA_Q_TYPE, 42), MQRCCF_Q_TYPE_ERROR, MQIA_Q_TYPE},
        {Cmd(MQCMD_INQUIRE_Q).Str(MQCA_Q_NAME, std::string(49, 'A')), MQRCCF_CFST_STRING_LENGTH_ERR,
         MQCA_Q_NAME},
    };
    for (const auto &e : errors)
        ExpectError(e.cmd, e.reason, e.parm);
}

TEST_F(CmdsrvPcf, PingEscapeAndErrorReplies) {
    Start();
    std::vector<Reply> r = client.Exchange(Cmd(MQCMD_PING_Q_MGR));
    ExpectReplySet(r, MQCMD_PING_Q_MGR);
    EXPECT_EQ(OnlyReply(r).h.CompCode, MQCC_OK);
    EXPECT_EQ(OnlyReply(r).h.ParameterCount, 0);

    auto escape = [](const char *text) {
        return Cmd(MQCMD_ESCAPE).Int(MQIACF_ESCAPE_TYPE, MQET_MQSC).Str(MQCACF_ESCAPE_TEXT, text);
    };
    EXPECT_EQ(One(escape("DEFINE QLOCAL(ESC.Q)")).Text(MQCACF_ESCAPE_TEXT),
              "AMQ8006I: IBM MQ queue created.");
    /* one response per line of the administration engine */
    r = client.Exchange(escape("DISPLAY QLOCAL(ESC.Q) ALL"));
    ASSERT_GT(r.size(), 3u);
    ExpectReplySet(r, MQCMD_ESCAPE);
    std::string all;
    for (const Reply &x : r)
        all += x.Pcf().Text(MQCACF_ESCAPE_TEXT) + "\n";
    EXPECT_EQ(all.rfind("AMQ8409I: Display Queue details.\n", 0), 0u) << all;
    EXPECT_NE(all.find("QUEUE(ESC.Q)"), std::string::npos) << all;
    EXPECT_NE(all.find("CURDEPTH(0)"), std::string::npos) << all;
    /* a failing escape command fails every response with 3008 */
    r = client.Exchange(escape("DELETE QLOCAL(NO.SUCH.Q)"));
    ASSERT_GE(r.size(), 1u);
    ExpectReplySet(r, MQCMD_ESCAPE);
    for (const Reply &x : r)
        EXPECT_EQ(x.Pcf().h.Reason, MQRCCF_COMMAND_FAILED);
    EXPECT_NE(r[0].Pcf().Text(MQCACF_ESCAPE_TEXT).find("AMQ8147E"), std::string::npos);

    ExpectError(
        Cmd(MQCMD_ESCAPE).Int(MQIACF_ESCAPE_TYPE, 2).Str(MQCACF_ESCAPE_TEXT, "DISPLAY QMGR"),
        MQRCCF_ESCAPE_TYPE_ERROR, MQIACF_ESCAPE_TYPE);
    ExpectError(Cmd(MQCMD_ESCAPE).Int(MQIACF_ESCAPE_TYPE, MQET_MQSC), MQRCCF_PARM_COUNT_TOO_SMALL);
    ExpectError(Cmd(MQCMD_INQUIRE_CHANNEL), MQRCCF_CFH_COMMAND_ERROR);
    ExpectError(Cmd(9500), MQRCCF_CFH_COMMAND_ERROR);

    /* a malformed command: the reply names the command when the header
     * could be read, and the parameter; a message of another format is no
     * command on a distributed queue manager; the server goes on */
    auto send = [&](const std::string &bytes, const char *format = MQFMT_ADMIN) {
        EXPECT_EQ(client.Send("SYSTEM.ADMIN.COMMAND.QUEUE", bytes, nullptr, format), 0);
        return client.Collect();
    };
    ExpectErrorReply(send(std::string(20, 'x')), MQCMD_NONE, MQRCCF_MSG_LENGTH_ERROR);
    std::vector<MQBYTE> b = Cmd(MQCMD_INQUIRE_Q).Str(MQCA_Q_NAME, "*").bytes();
    tvtest::Set(b, 52, 200); /* StringLength beyond the structure */
    ExpectErrorReply(send(std::string(b.begin(), b.end())), MQCMD_INQUIRE_Q,
                     MQRCCF_CFST_STRING_LENGTH_ERR, MQCA_Q_NAME);
    ExpectErrorReply(send("DISPLAY QMGR", MQFMT_STRING), MQCMD_NONE, MQRCCF_MD_FORMAT_ERROR);
    ExpectErrorReply(send(Bytes(Cmd(MQCMD_PING_Q_MGR)), MQFMT_NONE), MQCMD_NONE,
                     MQRCCF_MD_FORMAT_ERROR);
    EXPECT_EQ(One(Cmd(MQCMD_PING_Q_MGR)).h.CompCode, MQCC_OK);
}

TEST_F(CmdsrvPcf, ReportOptionsSetTheReplyIdentifiersOnEveryReplyOfASet) {
    Start({"--queues", "3"});
    const MQBYTE correl[24] = {'C', 'O', 'R', 'R', 'E', 'L'};
    for (MQLONG report : {MQRO_NONE, MQRO_PASS_MSG_ID, MQRO_PASS_CORREL_ID,
                          MQRO_PASS_MSG_ID | MQRO_PASS_CORREL_ID}) {
        SCOPED_TRACE(report);
        MQMD md = MQMD_DEFAULT;
        SetName(md.ReplyToQ, sizeof md.ReplyToQ, client.ReplyQ().c_str());
        md.Report = report;
        md.Priority = 7;
        memcpy(md.CorrelId, correl, sizeof md.CorrelId);
        ASSERT_EQ(client.Send("SYSTEM.ADMIN.COMMAND.QUEUE",
                              Bytes(Cmd(MQCMD_INQUIRE_Q).Str(MQCA_Q_NAME, "APP.*")), &md),
                  0);
        std::vector<Reply> r = client.Collect();
        ASSERT_EQ(r.size(), 3u);
        ExpectReplySet(r, MQCMD_INQUIRE_Q);
        for (size_t i = 0; i < r.size(); i++) {
            const MQMD &rm = r[i].md;
            /* the request's MsgId passed, or a new one for each reply */
            EXPECT_EQ(memcmp(rm.MsgId, md.MsgId, 24) == 0, (report & MQRO_PASS_MSG_ID) != 0);
            EXPECT_TRUE(i == 0 || (report & MQRO_PASS_MSG_ID) != 0 ||
                        memcmp(rm.MsgId, r[i - 1].md.MsgId, 24) != 0);
            EXPECT_EQ(memcmp(rm.CorrelId, report & MQRO_PASS_CORREL_ID ? correl : md.MsgId, 24), 0);
            EXPECT_EQ(rm.Priority, 7);
            EXPECT_EQ(rm.Encoding, MQENC_NATIVE);
            EXPECT_EQ(rm.Report, MQRO_NONE);
        }
    }
}

TEST_F(CmdsrvPcf, RepliesGoToTheReplyToQueueManagerAndUndeliverableOnesAreDropped) {
    Start();
    qm.Mqsc("QM1", {"DEFINE QLOCAL(QM2) USAGE(XMITQ)"});
    /* the local queue manager by name; another through the transmission
     * queue of its name; nowhere to go: no such queue, an unknown queue
     * manager, no reply-to queue at all (a blank ReplyToQMgr became the
     * local name when the command was put) */
    const std::string targets[][2] = {{client.ReplyQ(), "QM1"},
                                      {"FAR.REPLY", "QM2"},
                                      {"NO.SUCH.QUEUE", ""},
                                      {"R", "NOWHERE"},
                                      {"", ""}};
    for (auto &t : targets) {
        MQMD md = MQMD_DEFAULT;
        SetName(md.ReplyToQ, sizeof md.ReplyToQ, t[0].c_str());
        SetName(md.ReplyToQMgr, sizeof md.ReplyToQMgr, t[1].c_str());
        memcpy(md.UserIdentifier, "alice       ", 12);
        ASSERT_EQ(client.Send("SYSTEM.ADMIN.COMMAND.QUEUE", Bytes(Cmd(MQCMD_PING_Q_MGR)), &md,
                              MQFMT_ADMIN, MQPMO_SET_IDENTITY_CONTEXT),
                  0);
    }
    EXPECT_EQ(OnlyReply(client.Collect()).h.CompCode, MQCC_OK);
    EXPECT_TRUE(WaitUntil([&] { return client.Depth("QM2") == 1; }));
    const char *const dropped[] = {"reply 1 to NO.SUCH.QUEUE on QM1 not put (reason 2085); dropped",
                                   "reply 1 to R on NOWHERE not put (reason 2087); dropped",
                                   "has no reply-to queue"};
    for (const char *line : dropped)
        EXPECT_TRUE(WaitUntil([&] { return qm.Log("QM1").find(line) != std::string::npos; }))
            << line << qm.Log("QM1");
    /* the status shows whose context the last command carried */
    std::string out;
    ASSERT_EQ(qm.Run({"status", "QM1"}, &out), 0) << out;
    EXPECT_NE(out.find("LASTCMDUSER(alice)"), std::string::npos) << out;
    EXPECT_NE(out.find("LASTCMDAPPL("), std::string::npos) << out;
    EXPECT_EQ(out.find("LASTCMDAPPL()"), std::string::npos) << out;
    EXPECT_EQ(One(Cmd(MQCMD_PING_Q_MGR)).h.CompCode, MQCC_OK); /* and the server goes on */
}

} /* namespace */
