/* cmdsrv_test.cpp -- the stand-in command server and trigger monitor, each
 * test against a daemon of its own, commands put through the MQI library:
 * each command's replies, error replies, report options, reply routing, the
 * last command's context, a delay, the z/OS command queue, triggered starts.
 * Which fault of a malformed command gives which reason is the unit test's. */
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "mqcmd_replyset.h"
#include "mqconst/mqi.h"
#include "mqconst/mqpcf.h"
#include "mqsim_util.h"
#include "support/files.h"
#include "support/pcf_builder.h"
#include "support/process.h"

namespace {

/* A PCF command: header of type and version, Control MQCFC_LAST. */
tvtest::Pcf Cmd(MQLONG command, MQLONG type = MQCFT_COMMAND, MQLONG version = 1) {
    return tvtest::Pcf(command, type).Control(MQCFC_LAST).Version(version);
}
std::string Padded(const std::string &s, size_t n) {
    return s + std::string(n > s.size() ? n - s.size() : 0, ' ');
}

/* A reply, with its PCF header and parameters when it is an MQADMIN reply
 * (one that is not sound PCF fails the test). Text and Value give
 * "<missing>" and -999 for a parameter the reply lacks. */
struct Reply {
    MQMD md = MQMD_DEFAULT;
    std::string data;
    MQCFH h = {};
    std::vector<tvtest::Parm> parms;
    std::string Format() const { return std::string(md.Format, 8); }
    const tvtest::Parm *Find(MQLONG id) const {
        for (const tvtest::Parm &p : parms)
            if (p.parameter == id)
                return &p;
        return nullptr;
    }
    std::string Text(MQLONG id) const { return Find(id) ? Find(id)->text : "<missing>"; }
    MQLONG Value(MQLONG id) const { return Find(id) ? Find(id)->value : -999; }
    std::vector<MQLONG> Ids() const {
        std::vector<MQLONG> ids;
        for (const tvtest::Parm &p : parms)
            ids.push_back(p.parameter);
        return ids;
    }
};

/* The one reply of a reply set that should hold exactly one. */
Reply OnlyReply(const std::vector<Reply> &replies) {
    EXPECT_EQ(replies.size(), 1u);
    return replies.empty() ? Reply() : replies[0];
}

/* Every reply of a set is an MQADMIN reply (its header is read only then)
 * to command; all but the last MQCFC_NOT_LAST, sequence numbers from 1. */
void ExpectReplySet(const std::vector<Reply> &replies, MQLONG command) {
    for (size_t i = 0; i < replies.size(); i++) {
        const MQCFH &h = replies[i].h;
        const MQLONG control = i + 1 == replies.size() ? MQCFC_LAST : MQCFC_NOT_LAST;
        EXPECT_EQ(
            std::vector<MQLONG>(
                {replies[i].md.MsgType, h.Type, h.Command, h.MsgSeqNumber, h.Control}),
            std::vector<MQLONG>({MQMT_REPLY, MQCFT_RESPONSE, command, (MQLONG)i + 1, control}))
            << "reply " << i + 1;
    }
}

/* The error reply of a one-reply set: CompCode 2 and reason, with
 * MQIACF_PARAMETER_ID = parm when parm is not 0. */
void ExpectErrorReply(const std::vector<Reply> &replies, MQLONG command, MQLONG reason,
                      MQLONG parm = 0) {
    ASSERT_EQ(replies.size(), 1u);
    ExpectReplySet(replies, command);
    const Reply &m = replies[0];
    EXPECT_EQ(m.h.CompCode, MQCC_FAILED);
    EXPECT_EQ(m.h.Reason, reason);
    if (parm != 0)
        EXPECT_EQ(m.Value(MQIACF_PARAMETER_ID), parm);
    else
        EXPECT_EQ(m.h.ParameterCount, 0);
}

/* A queue manager of the test's own and a connection to it with a
 * temporary reply queue; commands go to SYSTEM.ADMIN.COMMAND.QUEUE unless
 * another queue is named. */
class Cmdsrv : public ::testing::Test {
protected:
    void TearDown() override { Disconnect(&h); }
    void Start(std::vector<std::string> options = {}, const char *name = "QM1") {
        ASSERT_EQ(qm.Start(name, options), "");
        ASSERT_EQ(Connect(name, &h), 0);
        MQOD od;
        ASSERT_EQ(::Open(h, "SYSTEM.DEFAULT.MODEL.QUEUE", MQOO_INPUT_EXCLUSIVE, &replyObj, &od, "",
                         "CMDSRV.TEST.*"),
                  0);
        replyQ = GetName(od.ObjectName, sizeof od.ObjectName);
    }
    /* Put data as a command in format, ReplyToQ ours unless md says
     * otherwise (md may be null; on return it holds the command's
     * descriptor as put). Returns the reason. */
    MQLONG Send(const std::string &queue, const std::string &data, MQMD *mdInOut = nullptr,
                const char *format = MQFMT_ADMIN, MQLONG pmoOptions = MQPMO_NO_SYNCPOINT) {
        MQMD md = MQMD_DEFAULT;
        if (mdInOut != nullptr)
            md = *mdInOut;
        else
            SetName(md.ReplyToQ, sizeof md.ReplyToQ, replyQ.c_str());
        memcpy(md.Format, format, 8);
        /* a request needs a reply-to queue; without one it is a datagram */
        md.MsgType = md.ReplyToQ[0] != '\0' && md.ReplyToQ[0] != ' ' ? MQMT_REQUEST : MQMT_DATAGRAM;
        MQLONG rc = Put1(h, queue.c_str(), data, &md, pmoOptions);
        if (mdInOut != nullptr)
            *mdInOut = md;
        return rc;
    }
    /* Replies until one completes the set (mqcmd's rule: the MQCFC_LAST
     * bit, or a z/OS completion line) or none comes for 20 seconds. */
    std::vector<Reply> Collect() {
        std::vector<Reply> out;
        for (Reply r; Get(h, replyObj, &r.data, &r.md, MQGMO_NO_SYNCPOINT, 20000, 4 << 20) == 0;
             r = Reply()) {
            if (r.Format() == MQFMT_ADMIN) {
                memcpy(&r.h, r.data.data(), std::min(r.data.size(), sizeof r.h));
                r.parms = tvtest::ReadParms(std::vector<MQBYTE>(r.data.begin(), r.data.end()));
            }
            out.push_back(r);
            if (ReplyCompletesSet(r.md.Format, (const MQBYTE *)r.data.data(), r.data.size()))
                break;
        }
        return out;
    }
    /* Send a PCF command and collect its replies (none when the put failed). */
    std::vector<Reply> Exchange(const tvtest::Pcf &cmd,
                                const char *queue = "SYSTEM.ADMIN.COMMAND.QUEUE") {
        return Send(queue, cmd.text()) == 0 ? Collect() : std::vector<Reply>();
    }
    Reply One(const tvtest::Pcf &c, const char *queue = "SYSTEM.ADMIN.COMMAND.QUEUE") {
        return OnlyReply(Exchange(c, queue));
    }
    void ExpectError(const tvtest::Pcf &c, MQLONG reason, MQLONG parm = 0) {
        ExpectErrorReply(Exchange(c), tvtest::Get(c.bytes(), 12), reason, parm);
    }
    MqsimQueueManager qm;
    MQHCONN h = MQHC_UNUSABLE_HCONN;
    MQHOBJ replyObj = MQHO_NONE;
    std::string replyQ;
};

TEST_F(Cmdsrv, QueueManagerAttributesAreInquiredPaddedAndChanged) {
    Start();
    std::vector<Reply> all = Exchange(Cmd(MQCMD_INQUIRE_Q_MGR));
    ExpectReplySet(all, MQCMD_INQUIRE_Q_MGR);
    Reply m = OnlyReply(all);
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
    std::vector<Reply> r = Exchange(change);
    ExpectReplySet(r, MQCMD_CHANGE_Q_MGR);
    EXPECT_EQ(OnlyReply(r).h.CompCode, MQCC_OK);
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

TEST_F(Cmdsrv, QueuesAreInquiredOnePerReplyOrAsOneListOfNames) {
    Start({"--queues", "3"});
    /* every attribute of a local queue (15 strings, 46 integers) */
    std::vector<Reply> r = Exchange(Cmd(MQCMD_INQUIRE_Q)
                                        .Padded(MQCA_Q_NAME, "APP.*", 48)
                                        .IntList(MQIACF_Q_ATTRS, {MQIACF_ALL}));
    ASSERT_EQ(r.size(), 3u);
    ExpectReplySet(r, MQCMD_INQUIRE_Q);
    for (size_t i = 0; i < r.size(); i++) {
        const Reply &m = r[i];
        EXPECT_EQ(m.Text(MQCA_Q_NAME), Padded("APP.QUEUE.000" + std::to_string(i + 1), 48));
        EXPECT_EQ(m.Value(MQIA_Q_TYPE), MQQT_LOCAL);
        EXPECT_EQ(m.Value(MQIA_MAX_Q_DEPTH), 100000);
        EXPECT_EQ(m.Value(MQIA_MAX_MSG_LENGTH), 4194304);
        EXPECT_EQ(m.h.ParameterCount, 61);
    }
    /* names: one reply with a string list, every name once in order */
    Reply m = One(Cmd(MQCMD_INQUIRE_Q_NAMES).Str(MQCA_Q_NAME, "APP.*"));
    ASSERT_NE(m.Find(MQCACF_Q_NAMES), nullptr);
    EXPECT_EQ(m.Find(MQCACF_Q_NAMES)->strs,
              (std::vector<std::string>{Padded("APP.QUEUE.0001", 48), Padded("APP.QUEUE.0002", 48),
                                        Padded("APP.QUEUE.0003", 48)}));

    /* errors: nothing matching (one reply, 2085), a bad queue type, a name
     * twice or not at all, a name longer than a queue name can be */
    const tvtest::Pcf any = Cmd(MQCMD_INQUIRE_Q).Str(MQCA_Q_NAME, "*");
    const struct {
        tvtest::Pcf cmd;
        MQLONG reason, parm;
    } errors[] = {
        {Cmd(MQCMD_INQUIRE_Q).Str(MQCA_Q_NAME, "NO.SUCH.*"), MQRC_UNKNOWN_OBJECT_NAME, 0},
        {Cmd(MQCMD_INQUIRE_Q_NAMES).Str(MQCA_Q_NAME, "NOTHING*"), MQRC_UNKNOWN_OBJECT_NAME, 0},
        {tvtest::Pcf(any).Int(MQIA_Q_TYPE, 42), MQRCCF_Q_TYPE_ERROR, MQIA_Q_TYPE},
        {tvtest::Pcf(any).Str(MQCA_Q_NAME, "A*"), MQRCCF_CFST_DUPLICATE_PARM, MQCA_Q_NAME},
        {Cmd(MQCMD_INQUIRE_Q).Int(MQIA_Q_TYPE, MQQT_LOCAL), MQRCCF_PARM_MISSING, MQCA_Q_NAME},
        {Cmd(MQCMD_INQUIRE_Q).Str(MQCA_Q_NAME, std::string(49, 'A')), MQRCCF_CFST_STRING_LENGTH_ERR,
         MQCA_Q_NAME},
    };
    for (const auto &e : errors)
        ExpectError(e.cmd, e.reason, e.parm);
}

TEST_F(Cmdsrv, PingEscapeAndErrorReplies) {
    Start();
    std::vector<Reply> r = Exchange(Cmd(MQCMD_PING_Q_MGR));
    ExpectReplySet(r, MQCMD_PING_Q_MGR);
    EXPECT_EQ(OnlyReply(r).h.CompCode, MQCC_OK);
    EXPECT_EQ(OnlyReply(r).h.ParameterCount, 0);

    auto escape = [](const char *text) {
        return Cmd(MQCMD_ESCAPE).Int(MQIACF_ESCAPE_TYPE, MQET_MQSC).Str(MQCACF_ESCAPE_TEXT, text);
    };
    /* one response per line of the administration engine */
    r = Exchange(escape("DISPLAY QMGR"));
    ASSERT_GT(r.size(), 3u);
    ExpectReplySet(r, MQCMD_ESCAPE);
    EXPECT_EQ(r[0].Text(MQCACF_ESCAPE_TEXT), "AMQ8408I: Display Queue Manager details.");
    EXPECT_EQ(r[1].Text(MQCACF_ESCAPE_TEXT).substr(0, 16), "   QMNAME(QM1)  ");
    /* a failing escape command fails with 3008 */
    Reply failed = One(escape("DELETE QLOCAL(NO.SUCH.Q)"));
    EXPECT_EQ(failed.h.Reason, MQRCCF_COMMAND_FAILED);
    EXPECT_EQ(failed.Text(MQCACF_ESCAPE_TEXT).substr(0, 8), "AMQ8147E");

    ExpectError(
        Cmd(MQCMD_ESCAPE).Int(MQIACF_ESCAPE_TYPE, 2).Str(MQCACF_ESCAPE_TEXT, "DISPLAY QMGR"),
        MQRCCF_ESCAPE_TYPE_ERROR, MQIACF_ESCAPE_TYPE);
    ExpectError(Cmd(MQCMD_ESCAPE).Int(MQIACF_ESCAPE_TYPE, MQET_MQSC), MQRCCF_PARM_COUNT_TOO_SMALL);
    ExpectError(Cmd(MQCMD_INQUIRE_CHANNEL), MQRCCF_CFH_COMMAND_ERROR);
    ExpectError(Cmd(9500), MQRCCF_CFH_COMMAND_ERROR);

    /* a malformed command (which fault gives which reason is the unit
     * test's); a message of another format is no command on a distributed
     * queue manager; the server goes on */
    auto send = [&](const std::string &bytes, const char *format = MQFMT_ADMIN) {
        EXPECT_EQ(Send("SYSTEM.ADMIN.COMMAND.QUEUE", bytes, nullptr, format), 0);
        return Collect();
    };
    ExpectErrorReply(send(std::string(20, 'x')), MQCMD_NONE, MQRCCF_MSG_LENGTH_ERROR);
    ExpectErrorReply(send("DISPLAY QMGR", MQFMT_STRING), MQCMD_NONE, MQRCCF_MD_FORMAT_ERROR);
    ExpectErrorReply(send(Cmd(MQCMD_PING_Q_MGR).text(), MQFMT_NONE), MQCMD_NONE,
                     MQRCCF_MD_FORMAT_ERROR);
    EXPECT_EQ(One(Cmd(MQCMD_PING_Q_MGR)).h.CompCode, MQCC_OK);
}

TEST_F(Cmdsrv, ReportOptionsSetTheReplyIdentifiersOnEveryReplyOfASet) {
    Start({"--queues", "3"});
    const MQBYTE correl[24] = {'C', 'O', 'R', 'R', 'E', 'L'};
    for (MQLONG report : {MQRO_NONE, MQRO_PASS_MSG_ID, MQRO_PASS_CORREL_ID,
                          MQRO_PASS_MSG_ID | MQRO_PASS_CORREL_ID}) {
        SCOPED_TRACE(report);
        MQMD md = MQMD_DEFAULT;
        SetName(md.ReplyToQ, sizeof md.ReplyToQ, replyQ.c_str());
        md.Report = report;
        md.Priority = 7;
        memcpy(md.CorrelId, correl, sizeof md.CorrelId);
        ASSERT_EQ(Send("SYSTEM.ADMIN.COMMAND.QUEUE",
                       Cmd(MQCMD_INQUIRE_Q).Str(MQCA_Q_NAME, "APP.*").text(), &md),
                  0);
        std::vector<Reply> r = Collect();
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
        }
    }
}

TEST_F(Cmdsrv, RepliesGoToTheReplyToQueueManagerAndUndeliverableOnesAreDropped) {
    Start();
    qm.Mqsc("QM1", {"DEFINE QLOCAL(QM2) USAGE(XMITQ)"});
    /* the local queue manager by name; another through the transmission
     * queue of its name; nowhere to go: no such queue, an unknown queue
     * manager, no reply-to queue at all (a blank ReplyToQMgr became the
     * local name when the command was put) */
    const std::string targets[][2] = {
        {replyQ, "QM1"}, {"FAR.REPLY", "QM2"}, {"NO.SUCH.QUEUE", ""}, {"R", "NOWHERE"}, {"", ""}};
    for (auto &t : targets) {
        MQMD md = MQMD_DEFAULT;
        SetName(md.ReplyToQ, sizeof md.ReplyToQ, t[0].c_str());
        SetName(md.ReplyToQMgr, sizeof md.ReplyToQMgr, t[1].c_str());
        memcpy(md.UserIdentifier, "alice       ", 12);
        ASSERT_EQ(Send("SYSTEM.ADMIN.COMMAND.QUEUE", Cmd(MQCMD_PING_Q_MGR).text(), &md, MQFMT_ADMIN,
                       MQPMO_SET_IDENTITY_CONTEXT),
                  0);
    }
    EXPECT_EQ(OnlyReply(Collect()).h.CompCode, MQCC_OK);
    EXPECT_TRUE(WaitUntil([&] { return Depth(h, "QM2") == 1; }));
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

/* A stopped command server leaves commands on its queue until started
 * (what the fault matrix's CommandServerStopped rows rely on); here a delay
 * holds back each reply, and the queue manager ends while one is held. */
TEST_F(Cmdsrv, ADelayHoldsBackEachReply) {
    Start({"--queues", "3"});
    std::string out;
    EXPECT_EQ(qm.Run({"cmdserver", "QM1", "delay", "-5"}, &out), 1);
    ASSERT_EQ(qm.Run({"cmdserver", "QM1", "delay", "300"}, &out), 0) << out;
    /* three replies, each held back 300 ms: no sooner than 900 ms */
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(Exchange(Cmd(MQCMD_INQUIRE_Q).Str(MQCA_Q_NAME, "APP.*")).size(), 3u);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(900));

    /* the queue manager ends while the server holds a reply */
    ASSERT_EQ(qm.Run({"cmdserver", "QM1", "delay", "600000"}, &out), 0) << out;
    ASSERT_EQ(Send("SYSTEM.ADMIN.COMMAND.QUEUE", Cmd(MQCMD_PING_Q_MGR).text()), 0);
    ASSERT_TRUE(WaitUntil([&] { return Depth(h, "SYSTEM.ADMIN.COMMAND.QUEUE") == 0; }));
    int port;
    int64_t pid;
    ASSERT_TRUE(qm.PortFile("QM1", &port, &pid));
    EXPECT_EQ(qm.Run({"stop", "QM1"}, &out), 0) << out;
    EXPECT_FALSE(PLProcessAlive(pid));
}

/* MQSC text on SYSTEM.COMMAND.INPUT gets "MQCMD1  " lines: CSQN205I first,
 * one per item, CSQ9022I or CSQ9023E last; PCF commands get MQCFT_XR_ITEM
 * replies and an MQCFT_XR_SUMMARY. */
TEST_F(Cmdsrv, TheZosCommandQueueAnswersTextAndPcf) {
    Start({"--platform", "zos", "--queues", "3"}, "QMZ");
    const char *const zosQueue = "SYSTEM.COMMAND.INPUT";
    auto text = [&](const std::string &command) {
        EXPECT_EQ(Send(zosQueue, command, nullptr, MQFMT_STRING), 0);
        std::vector<std::string> lines;
        for (const Reply &r : Collect()) {
            EXPECT_EQ(r.Format(), MQFMT_COMMAND_1);
            EXPECT_EQ(r.md.MsgType, MQMT_REPLY);
            EXPECT_EQ(r.data.find('\n'), std::string::npos) << r.data;
            lines.push_back(r.data);
        }
        return lines;
    };
    std::vector<std::string> lines = text("DISPLAY QLOCAL(APP.*) CURDEPTH");
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "CSQN205I   COUNT=       5, RETURN=00000000, REASON=00000000");
    for (int i = 1; i <= 3; i++)
        EXPECT_EQ(
            lines[i].substr(0, 13) + "|" + lines[i].substr(lines[i].find("QUEUE(")),
            "CSQM401I !QMZ|QUEUE(APP.QUEUE.000" + std::to_string(i) + ") TYPE(QLOCAL) CURDEPTH(0)");
    EXPECT_EQ(lines[4], "CSQ9022I !QMZ CSQMDRTS ' DISPLAY QLOCAL' NORMAL COMPLETION");
    lines = text("delete qlocal(NO.SUCH.Q)");
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(0, 26), "CSQN205I   COUNT=       3,");
    EXPECT_EQ(lines.back(), "CSQ9023E !QMZ CSQMMSGP ' DELETE QLOCAL' ABNORMAL COMPLETION");

    for (MQLONG type : {MQCFT_COMMAND, MQCFT_COMMAND_XR}) {
        SCOPED_TRACE(type);
        tvtest::Pcf c = Cmd(MQCMD_INQUIRE_Q_MGR, type, type == MQCFT_COMMAND_XR ? 3 : 1);
        c.IntList(MQIACF_Q_MGR_ATTRS, {MQCA_SSL_KEY_REPOSITORY, MQCA_CERT_LABEL, MQIA_SSL_EVENT});
        std::vector<Reply> r = Exchange(c, zosQueue);
        ASSERT_EQ(r.size(), 2u);
        Reply item = r[0], summary = r[1];
        EXPECT_EQ(std::vector<MQLONG>({item.h.Type, item.h.Control, item.h.MsgSeqNumber}),
                  std::vector<MQLONG>({MQCFT_XR_ITEM, MQCFC_NOT_LAST, 1}));
        EXPECT_EQ(item.Find(MQIA_PLATFORM), nullptr); /* only what was asked for */
        EXPECT_NE(item.Find(MQIA_SSL_EVENT), nullptr);
        EXPECT_EQ(std::vector<MQLONG>({summary.h.Type, summary.h.Control, summary.h.MsgSeqNumber,
                                       summary.h.CompCode}),
                  std::vector<MQLONG>({MQCFT_XR_SUMMARY, MQCFC_LAST, 2, MQCC_OK}));
        /* both carry the same reply-set identifier */
        EXPECT_EQ(item.Text(MQBACF_RESPONSE_ID).size(), 24u);
        EXPECT_EQ(item.Text(MQBACF_RESPONSE_ID), summary.Text(MQBACF_RESPONSE_ID));
        EXPECT_EQ(summary.Text(MQCACF_RESPONSE_Q_MGR_NAME), Padded("QMZ", 48));
    }
    /* one item per queue, then the summary */
    std::vector<MQLONG> types;
    for (const Reply &x :
         Exchange(Cmd(MQCMD_INQUIRE_Q, MQCFT_COMMAND_XR, 3).Str(MQCA_Q_NAME, "APP.*"), zosQueue))
        types.push_back(x.h.Type);
    EXPECT_EQ(types,
              (std::vector<MQLONG>{MQCFT_XR_ITEM, MQCFT_XR_ITEM, MQCFT_XR_ITEM, MQCFT_XR_SUMMARY}));
    /* errors: the summary alone carries them; a command may carry a scope */
    Reply s = One(Cmd(MQCMD_INQUIRE_Q, MQCFT_COMMAND_XR, 3).Str(MQCA_Q_NAME, "NONE.*"), zosQueue);
    EXPECT_EQ(s.h.Type, MQCFT_XR_SUMMARY);
    EXPECT_EQ(s.h.Reason, MQRC_UNKNOWN_OBJECT_NAME);
    s = One(Cmd(MQCMD_PING_Q_MGR, MQCFT_COMMAND_XR, 3).Str(MQCACF_COMMAND_SCOPE, ""), zosQueue);
    EXPECT_EQ(s.h.CompCode, MQCC_OK);
    /* the distributed command queue is not served */
    ASSERT_EQ(Send("SYSTEM.ADMIN.COMMAND.QUEUE", Cmd(MQCMD_PING_Q_MGR).text()), 0);
    EXPECT_EQ(One(Cmd(MQCMD_PING_Q_MGR), zosQueue).h.Type, MQCFT_XR_SUMMARY);
    EXPECT_EQ(Depth(h, "SYSTEM.ADMIN.COMMAND.QUEUE"), 1);
}

/* A message arriving on an empty TRIGGER TRIGTYPE(FIRST) queue starts the
 * process's program with the 732-byte trigger message as its one argument;
 * no start while the queue holds messages or an application has it open for
 * input; the program's output goes to the daemon's log. */
TEST_F(Cmdsrv, AFirstMessageStartsTheProcessWithTheTriggerMessage) {
    Start();
    /* the program: a line per start, its arguments' count and the first
     * argument, written whole (renamed into place) for the test to poll */
    const std::string out = qm.Dir() + "/started.txt", child = qm.Dir() + "/child.sh";
    tvtest::WriteFile(
        child, "#!/bin/sh\n{ cat '" + out + "' 2>/dev/null; printf '%s\\n' \"$#:$1\"; } >'" + out +
                   ".tmp'\nmv '" + out + ".tmp' '" + out + "' && echo trigger child started\n");
    std::filesystem::permissions(child, std::filesystem::perms::owner_all);
    qm.Mqsc("QM1", {"DEFINE PROCESS(TEST.PROC) APPLICID('" + child + "')",
                    "DEFINE QLOCAL(TRIG.Q) TRIGGER TRIGTYPE(FIRST) PROCESS(TEST.PROC) "
                    "INITQ(SYSTEM.DEFAULT.INITIATION.QUEUE)"});
    auto starts = [&] { return tvtest::CountOf(tvtest::ReadFile(out), "\n"); };
    ASSERT_EQ(Put1(h, "TRIG.Q", "first"), 0);
    ASSERT_TRUE(WaitUntil([&] { return starts() == 1; })) << qm.Log("QM1");
    const std::string line = tvtest::ReadFile(out);
    ASSERT_EQ(line.size(), 2u + 732u + 1u) << line;
    EXPECT_EQ(line.substr(0, 2), "1:");
    /* the layout is the unit test's, the values of the definitions reach the
     * agent in tests/core/trigger_e2e_test; here the queue and the output */
    EXPECT_EQ(line.substr(2 + 8, 48), Padded("TRIG.Q", 48));
    EXPECT_TRUE(WaitUntil([&] {
        return qm.Log("QM1").find("trigger child started") != std::string::npos;
    })) << qm.Log("QM1");

    /* a second message on the non-empty queue starts nothing; once the
     * queue was emptied, the next one does; while an application has the
     * queue open for input, none does. Trigger decisions are logged in the
     * order of the puts, so when a start is seen, a start for an earlier
     * message would have been logged before it. */
    ASSERT_EQ(Put1(h, "TRIG.Q", "second"), 0);
    MQHOBJ in;
    std::string text;
    for (int n = 2; n <= 3; n++) {
        ASSERT_EQ(Open(h, "TRIG.Q", MQOO_INPUT_SHARED, &in), 0);
        while (Get(h, in, &text) == 0) {
        }
        if (n == 3) {
            ASSERT_EQ(Put1(h, "TRIG.Q", "served"), 0);
            ASSERT_EQ(Get(h, in, &text), 0);
        }
        ASSERT_EQ(Close(h, &in), 0);
        ASSERT_EQ(Put1(h, "TRIG.Q", "next"), 0);
        ASSERT_TRUE(WaitUntil([&] { return starts() == n; })) << qm.Log("QM1");
        EXPECT_EQ(tvtest::CountOf(qm.Log("QM1"), "trigger: queue TRIG.Q triggered"), n);
    }
}

} /* namespace */
