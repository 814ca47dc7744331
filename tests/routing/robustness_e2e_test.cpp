/* robustness_e2e_test.cpp -- no message on a queue can crash or hang TORVIK
 * or the stand-in queue manager under it.
 *
 * A running agent is given many seeded random and structured-but-lying
 * messages: on its input queue every format, lengths from nothing to tens
 * of kilobytes, PCF headers and parameters whose counts and lengths lie,
 * any Command value, reply-to queues that are missing, remote, full or
 * 48 characters without a blank; on its dynamic reply queue lying replies
 * that carry the MsgId of a pending request (the command server is stopped
 * and the forwarded command is taken off its queue) and replies that match
 * nothing. Afterwards the agent still answers a normal INQUIRE_Q_MGR
 * correctly and ends in order with exit code 0, the queue manager still
 * serves, and neither prints a sanitizer report. What the agent sent to
 * the requester is checked too: a merged reply is a sound PCF message, and
 * nothing is longer than the request's maximum size unless it is a single
 * reply that alone was longer.
 *
 * The random generator is seeded from TORVIK_FUZZ_SEED when that is set,
 * else from the clock; every failure shows the seed. Each test has its own
 * temporary directory (mqsim's state, the configuration and the log), and
 * ends the agent and the queue manager even when an assertion fails.
 */
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "mqconst/mqi.h"
#include "mqconst/mqpcf.h"
#include "support/harness.h"
#include "testbed/mqsim_util.h"

namespace {

using namespace tvtest;

const char COMMAND_Q[] = "SYSTEM.ADMIN.COMMAND.QUEUE";

constexpr MQLONG PARM_RESPONSE_DELIMITER = 40000;
constexpr MQLONG PARM_TORVIK_CMDLEVEL = 20000;
constexpr MQLONG CONTROL_MERGED = 0x10000; /* Control bit of a merged reply */

MQLONG LongAt(const std::string &s, size_t at) {
    MQLONG v = 0;
    if (at + 4 <= s.size())
        memcpy(&v, s.data() + at, 4);
    return v;
}

/* The first bytes of a message in hexadecimal, 4 bytes a group. */
std::string Hex(const std::string &m, size_t max = 256) {
    static const char digits[] = "0123456789ABCDEF";
    std::string h;
    for (size_t i = 0; i < m.size() && i < max; i++) {
        if (i > 0 && i % 4 == 0)
            h += ' ';
        h += digits[(unsigned char)m[i] >> 4];
        h += digits[(unsigned char)m[i] & 15];
    }
    return h;
}

void AddLong(std::string *s, MQLONG v) {
    s->append((const char *)&v, 4);
}

/* 1 when m is a PCF message whose header is 36 bytes and whose
 * ParameterCount structures (and the members of their groups) lie within
 * it, each at least 8 bytes long and a multiple of 4, and end exactly at
 * its end. */
bool SoundPcf(const std::string &m) {
    if (m.size() < sizeof(MQCFH) || LongAt(m, 4) != (MQLONG)sizeof(MQCFH))
        return false;
    int64_t toRead = LongAt(m, 32);
    if (toRead < 0)
        return false;
    size_t pos = sizeof(MQCFH);
    while (toRead > 0) {
        if (m.size() - pos < 8)
            return false;
        MQLONG type = LongAt(m, pos);
        MQLONG sl = LongAt(m, pos + 4);
        if (sl < 8 || (sl & 3) != 0 || (size_t)sl > m.size() - pos)
            return false;
        if (type == MQCFT_GROUP) {
            if (sl < 16 || LongAt(m, pos + 12) < 0)
                return false;
            toRead += LongAt(m, pos + 12);
        }
        pos += (size_t)sl;
        toRead--;
    }
    return pos == m.size();
}

/* Messages built at random, most of them structured so that they get past
 * the first check and lie further in. */
class Liar {
public:
    explicit Liar(uint64_t seed) : rng_(seed) {}

    uint32_t Below(uint32_t n) { return n == 0 ? 0 : (uint32_t)(rng_() % n); }
    bool OneIn(uint32_t n) { return Below(n) == 0; }

    MQLONG Int() {
        static const MQLONG edges[] = {0,          1,     -1, 2,       4,       8,
                                       16,         20,    36, INT_MIN, INT_MAX, -4,
                                       0x7FFFFFFC, 65536, 48, 1000000, 3,       1024};
        switch (Below(3)) {
            case 0:
                return edges[Below(sizeof edges / sizeof edges[0])];
            case 1:
                return (MQLONG)Below(100);
            default:
                return (MQLONG)rng_();
        }
    }

    std::string Bytes(size_t n) {
        std::string s(n, '\0');
        for (auto &ch : s)
            ch = (char)Below(256);
        return s;
    }

    /* A string value: a name with its blanks, all blanks, short, noise. */
    std::string Text(size_t max = 64) {
        switch (Below(5)) {
            case 0:
                return std::string(1 + Below((uint32_t)max), ' ');
            case 1:
                return std::string("APP.QUEUE.")
                    .append(Below(20), 'X')
                    .append(48, ' ')
                    .substr(0, 48);
            case 2:
                return std::string(Below(5), 'a');
            case 3:
                return Bytes(Below((uint32_t)max));
            default: {
                std::string s = "DESCR " + std::to_string(Below(1000));
                s.resize(Below((uint32_t)max) + s.size(), ' ');
                return s;
            }
        }
    }

    /* One parameter structure, true to its type or lying about a length
     * or a count. */
    std::string Parm() {
        static const MQLONG types[] = {MQCFT_INTEGER,
                                       MQCFT_STRING,
                                       MQCFT_STRING,
                                       MQCFT_STRING,
                                       MQCFT_INTEGER_LIST,
                                       MQCFT_STRING_LIST,
                                       MQCFT_BYTE_STRING,
                                       MQCFT_GROUP,
                                       MQCFT_INTEGER64,
                                       MQCFT_INTEGER_FILTER,
                                       MQCFT_STRING_FILTER,
                                       1000,
                                       1001,
                                       77};
        MQLONG type = types[Below(sizeof types / sizeof types[0])];
        MQLONG id = OneIn(3) ? Int() : (MQLONG)(OneIn(2) ? 2001 + Below(100) : 1 + Below(250));
        std::string s;
        std::string value;
        MQLONG count = 1;
        switch (type) {
            case MQCFT_INTEGER:
                AddLong(&value, Int());
                break;
            case MQCFT_STRING:
            case MQCFT_STRING_FILTER: {
                std::string t = Text();
                if (type == MQCFT_STRING_FILTER)
                    AddLong(&value, 1 + (MQLONG)Below(20)); /* Operator */
                AddLong(&value, OneIn(2) ? 0 : 850);        /* CodedCharSetId */
                AddLong(&value, OneIn(8) ? Int() : (MQLONG)t.size());
                value += t;
                break;
            }
            case MQCFT_INTEGER_LIST: {
                count = (MQLONG)Below(20);
                AddLong(&value, OneIn(6) ? Int() : count);
                for (MQLONG i = 0; i < count; i++)
                    AddLong(&value, Int());
                break;
            }
            case MQCFT_STRING_LIST: {
                count = (MQLONG)Below(6);
                MQLONG len = (MQLONG)Below(49);
                AddLong(&value, 0);
                AddLong(&value, OneIn(6) ? Int() : count);
                AddLong(&value, OneIn(6) ? Int() : len);
                for (MQLONG i = 0; i < count; i++)
                    value += std::string((size_t)len, 'L');
                break;
            }
            case MQCFT_BYTE_STRING: {
                std::string b = Bytes(Below(40));
                AddLong(&value, OneIn(8) ? Int() : (MQLONG)b.size());
                value += b;
                break;
            }
            case MQCFT_GROUP:
                AddLong(&value, OneIn(3) ? Int() : (MQLONG)Below(4));
                break;
            case MQCFT_INTEGER64:
                AddLong(&value, 0);
                value += Bytes(8);
                break;
            case MQCFT_INTEGER_FILTER:
                AddLong(&value, 1 + (MQLONG)Below(20));
                AddLong(&value, Int());
                break;
            default:
                value = Bytes(Below(40));
                break;
        }
        while ((value.size() + 12) % 4 != 0)
            value += '\0';
        MQLONG strucLength = (MQLONG)(12 + value.size());
        if (OneIn(10)) {
            static const MQLONG lies[] = {0, 4, 8, 12, -4, -1, INT_MAX, 0x7FFFFFFC, 2, 1 << 20};
            strucLength = OneIn(2) ? lies[Below(sizeof lies / sizeof lies[0])]
                                   : strucLength + 4 * ((MQLONG)Below(9) - 4);
        }
        AddLong(&s, type);
        AddLong(&s, strucLength);
        AddLong(&s, id);
        s += value;
        return s;
    }

    /* A PCF message: an MQCFH and parameters. truthful: the header and
     * every structure are sound (strings may still need trimming);
     * otherwise anything may lie. */
    std::string Pcf(MQLONG type, MQLONG command, MQLONG control, MQLONG compCode, bool truthful,
                    size_t sizeHint) {
        std::string parms;
        MQLONG n = 0;
        while (parms.size() < sizeHint && n < 5000) {
            std::string p;
            if (truthful) {
                /* integers and strings, the command server's usual */
                MQLONG id = 2001 + (MQLONG)Below(100);
                if (OneIn(2)) {
                    AddLong(&p, MQCFT_INTEGER);
                    AddLong(&p, 16);
                    AddLong(&p, id);
                    AddLong(&p, Int());
                } else {
                    std::string t = Text(80);
                    size_t sl = (20 + t.size() + 3) & ~(size_t)3;
                    AddLong(&p, MQCFT_STRING);
                    AddLong(&p, (MQLONG)sl);
                    AddLong(&p, id);
                    AddLong(&p, 0);
                    AddLong(&p, (MQLONG)t.size());
                    p += t;
                    p.resize(sl, '\0');
                }
            } else {
                p = Parm();
            }
            parms += p;
            n++;
        }
        MQCFH cfh = MQCFH_DEFAULT;
        cfh.Type = type;
        cfh.Command = command;
        cfh.MsgSeqNumber = 1 + (MQLONG)Below(1000);
        cfh.Control = control;
        cfh.CompCode = compCode;
        cfh.Reason = compCode == MQCC_OK ? 0 : 2000 + (MQLONG)Below(2000);
        cfh.ParameterCount = n;
        if (!truthful) {
            if (OneIn(3))
                cfh.ParameterCount = OneIn(2) ? Int() : n + (MQLONG)Below(5) - 2;
            if (OneIn(10))
                cfh.StrucLength = Int();
            if (OneIn(10))
                cfh.Version = Int();
        }
        std::string m((const char *)&cfh, sizeof cfh);
        m += parms;
        if (!truthful) {
            if (OneIn(6))
                m.resize(Below((uint32_t)m.size() + 1)); /* cut anywhere */
            else if (OneIn(6))
                m += Bytes(1 + Below(30)); /* bytes after the last structure */
        }
        return m;
    }

    /* A 48-character MQ name field. */
    static std::string Field(const std::string &name) {
        std::string f = name.substr(0, 48);
        f.resize(48, ' ');
        return f;
    }

    std::string Mqsc() {
        static const char *const texts[] = {"DISPLAY QMGR",
                                            "DISPLAY QLOCAL(*) CURDEPTH",
                                            "DISPLAY QLOCAL(FUZZ.*) ALL",
                                            "DEFINE QLOCAL(FUZZ.E1) DESCR('it''s') REPLACE",
                                            "DEFINE QLOCAL(FUZZ.E2) MAXDEPTH(-1)",
                                            "ALTER QLOCAL(FUZZ.E1) MAXMSGL(99999999999)",
                                            "DELETE QLOCAL(FUZZ.E1)",
                                            "CLEAR QLOCAL(FUZZ.E2)",
                                            "DEFINE QLOCAL(FUZZ.E3) DESCR('unended",
                                            "DISPLAY QLOCAL((((",
                                            "",
                                            "*",
                                            "DEFINE"};
        std::string s = texts[Below(sizeof texts / sizeof texts[0])];
        if (OneIn(4))
            s += std::string(Below(3000), OneIn(2) ? ' ' : ')');
        if (OneIn(6))
            s += Bytes(Below(20));
        return s;
    }

    /* A body for the input queue: a PCF command (often lying), an escape
     * with MQSC text, MQSC text, or bytes; empty to tens of kilobytes. */
    std::string RequestBody() {
        static const MQLONG commands[] = {MQCMD_INQUIRE_Q_MGR,
                                          MQCMD_INQUIRE_Q,
                                          MQCMD_INQUIRE_Q_NAMES,
                                          MQCMD_CHANGE_Q_MGR,
                                          MQCMD_PING_Q_MGR,
                                          MQCMD_ESCAPE,
                                          9500,
                                          MQCMD_NONE,
                                          MQCMD_CONFIG_EVENT,
                                          -1};
        switch (Below(6)) {
            case 0:
            case 1: {
                MQLONG command =
                    OneIn(4) ? Int() : commands[Below(sizeof commands / sizeof commands[0])];
                return Pcf(OneIn(4) ? Int() : MQCFT_COMMAND, command, MQCFC_LAST, 0, OneIn(3),
                           OneIn(8) ? 20000 + Below(30000) : Below(400));
            }
            case 2: { /* an escape command whose text reaches the MQSC engine */
                std::string text = Mqsc();
                MQCFH cfh = MQCFH_DEFAULT;
                cfh.Command = MQCMD_ESCAPE;
                cfh.ParameterCount = 2;
                std::string m((const char *)&cfh, sizeof cfh);
                AddLong(&m, MQCFT_INTEGER);
                AddLong(&m, 16);
                AddLong(&m, MQIACF_ESCAPE_TYPE);
                AddLong(&m, OneIn(5) ? Int() : MQET_MQSC);
                size_t sl = (20 + text.size() + 3) & ~(size_t)3;
                AddLong(&m, MQCFT_STRING);
                AddLong(&m, OneIn(8) ? Int() : (MQLONG)sl);
                AddLong(&m, MQCACF_ESCAPE_TEXT);
                AddLong(&m, 0);
                AddLong(&m, OneIn(8) ? Int() : (MQLONG)text.size());
                m += text;
                m.resize(m.size() + (sl - 20 - text.size()), '\0');
                return m;
            }
            case 3:
                return Mqsc();
            case 4:
                return Bytes(OneIn(6) ? 20000 + Below(40000) : Below(200));
            default:
                return std::string(Below(60), OneIn(2) ? ' ' : 'x');
        }
    }

    std::mt19937_64 rng_;
};

/* One message taken off a queue. */
struct GOTMSG {
    MQMD md;
    std::string body;
};

class RoutingRobustness : public AgentTest {
protected:
    void TearDown() override {
        if (hConn != MQHC_UNUSABLE_HCONN)
            Disconnect(&hConn);
        AgentTest::TearDown();
    }

    /* The agent at high detail, then the test's own connection. */
    void StartAgentAndConnect(const std::string &config) {
        StartAgent(config, {"-v", "High"});
        ASSERT_EQ(Connect(QM, &hConn), 0);
    }
    /* Every message on a queue now, waiting at most waitMs for the first. */
    std::vector<GOTMSG> Drain(MQHOBJ o, MQLONG waitMs) {
        std::vector<GOTMSG> got;
        for (;;) {
            GOTMSG g;
            g.md = MQMD_DEFAULT;
            MQLONG rc = Get(hConn, o, &g.body, &g.md, MQGMO_NO_SYNCPOINT, waitMs, 1048576);
            if (rc != 0)
                return got;
            got.push_back(g);
            waitMs = 0;
        }
    }

    /* A normal INQUIRE_Q_MGR through the agent gets one whole, correct
     * reply that carries the queue manager's name and the agent's level. */
    void ExpectInquireQmgrAnswered() {
        ANSWER a = Ask({"--pcf", "INQUIRE_Q_MGR"});
        ASSERT_EQ(a.exitCode, 0) << a.out << Log().substr(0, 3000);
        ASSERT_EQ(a.msgs.size(), 1u) << a.out;
        EXPECT_TRUE(EndsWithOneLast(a));
        EXPECT_EQ(Num(Pcf(a.msgs[0]), "compCode"), MQCC_OK);
        const JVALUE *name = Param(a.msgs[0], MQCA_Q_MGR_NAME);
        const JVALUE *level = Param(a.msgs[0], PARM_TORVIK_CMDLEVEL);
        ASSERT_TRUE(name != nullptr && level != nullptr) << a.out;
        EXPECT_EQ(Str(*name, "value"), QM);
        EXPECT_EQ(Num(*level, "value"), 940);
    }

    /* The queue manager still serves and the agent ends in order on STOP
     * (a crash or sanitizer report of either fails the test anyway). */
    void ExpectOrderlyEnd() {
        ASSERT_FALSE(agent->Done()) << agent->Join().out.substr(0, 20000);
        std::string out;
        ASSERT_EQ(qm.Run({"status", QM}, &out), 0) << out;
        EXPECT_NE(out.find("RUNNING"), std::string::npos) << out;
        Disconnect(&hConn);
        StopAgent();
    }

    MQHCONN hConn = MQHC_UNUSABLE_HCONN;
};

/* Where a request asks its replies to go. */
struct REPLYTO {
    const char *q;
    const char *qmgr;
};

}  // namespace

TEST_F(RoutingRobustness, LyingRequestsOnTheInputQueueNeitherCrashNorHangTheAgent) {
    const uint64_t seed = FuzzSeed();
    SCOPED_TRACE("TORVIK_FUZZ_SEED=" + std::to_string(seed));
    StartQueueManager({}, {"DEFINE QLOCAL(FUZZ.REPLY) MAXDEPTH(100000)",
                           "DEFINE QLOCAL(FUZZ.SMALL) MAXMSGL(100) MAXDEPTH(3)",
                           "DEFINE QLOCAL(FUZZ.NOPUT) PUT(DISABLED)", "DEFINE QLOCAL(REMOTEQM)",
                           "DEFINE QREMOTE(FUZZ.VIA) RNAME(Q) RQMNAME(REMOTEQM) XMITQ(REMOTEQM)"});
    StartAgentAndConnect(
        "certevent = no\nretrycount = 0\nmaxage = 2\nreqchkdelay = 1\nhobjttl = 1\n"
        "hobjchkdelay = 1\nmaxmsgsize = 32768\n");

    static const REPLYTO replyTos[] = {{"FUZZ.REPLY", ""}, {"FUZZ.REPLY", ""},
                                       {"FUZZ.REPLY", QM}, {"NO.SUCH.QUEUE", ""},
                                       {"Q", "REMOTEQM"},  {"Q", "NO.SUCH.QMGR"},
                                       {"FUZZ.VIA", ""},   {"FUZZ.SMALL", ""},
                                       {"FUZZ.NOPUT", ""}, {"SYSTEM.DEFAULT.MODEL.QUEUE", ""},
                                       {INPUT_Q, ""},      {nullptr, ""}};
    const std::string agentReplyQ = ActualReplyQueue(); /* the agent answers itself */
    ASSERT_FALSE(agentReplyQ.empty());
    static const char *const formats[] = {MQFMT_ADMIN,  MQFMT_ADMIN,     MQFMT_ADMIN,
                                          MQFMT_STRING, MQFMT_COMMAND_1, MQFMT_COMMAND_2,
                                          MQFMT_NONE,   "mqadmin ",      "\x01\xfe\x00XYZ\t "};
    Liar liar(seed);
    const int maxMessages = 600;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    int sent = 0;
    for (int i = 0; i < maxMessages && std::chrono::steady_clock::now() < deadline; i++) {
        MQMD md = MQMD_DEFAULT;
        md.MsgType = MQMT_REQUEST;
        memcpy(md.Format, formats[liar.Below(sizeof formats / sizeof formats[0])], 8);
        std::string body = liar.RequestBody();
        uint32_t where = liar.Below(12);
        if (where == 0) {
            /* no reply queue: one of the agent's own commands, or not */
            static const char *const simple[] = {"REPORT", "CHECKHOBJ", "CHECKREPL", "STARTCERT",
                                                 "stop",   "STOP ",     ""};
            if (liar.OneIn(2))
                body = simple[liar.Below(sizeof simple / sizeof simple[0])];
            if (body == "STOP")
                body = "STOP?";
            if (liar.OneIn(2))
                memcpy(md.Format, MQFMT_STRING, 8);
            memset(md.ReplyToQ, liar.OneIn(2) ? ' ' : '\0', sizeof md.ReplyToQ);
        } else if (where == 1) {
            /* 48 characters without a blank or a zero, both names */
            memset(md.ReplyToQ, 'Q', sizeof md.ReplyToQ);
            memset(md.ReplyToQMgr, liar.OneIn(2) ? 'M' : 'Q', sizeof md.ReplyToQMgr);
        } else {
            const REPLYTO &r = replyTos[liar.Below(sizeof replyTos / sizeof replyTos[0])];
            SetName(md.ReplyToQ, sizeof md.ReplyToQ, r.q != nullptr ? r.q : agentReplyQ.c_str());
            SetName(md.ReplyToQMgr, sizeof md.ReplyToQMgr, r.qmgr);
        }
        if (liar.OneIn(3))
            md.Report = liar.OneIn(2) ? (MQRO_PASS_MSG_ID | MQRO_PASS_CORREL_ID) : liar.Int();
        if (liar.OneIn(3))
            memcpy(md.MsgId, liar.Bytes(24).data(), 24);
        if (liar.OneIn(4))
            memcpy(md.CorrelId, liar.Bytes(24).data(), 24);
        if (liar.OneIn(5))
            md.Expiry = 1 + (MQLONG)liar.Below(100);
        MQLONG rc = Put1(hConn, INPUT_Q, body, &md);
        if (rc == MQRC_OPTIONS_ERROR || rc == MQRC_MD_ERROR || rc == MQRC_REPORT_OPTIONS_ERROR ||
            rc == MQRC_EXPIRY_ERROR) {
            md.Report = MQRO_NONE; /* the queue manager refused the descriptor */
            rc = Put1(hConn, INPUT_Q, body, &md);
        }
        ASSERT_EQ(rc, 0) << "put " << i;
        sent++;
        if (i % 100 == 99) {
            ASSERT_FALSE(agent->Done()) << "after " << i << " messages\n"
                                        << agent->Join().out.substr(0, 20000);
        }
    }
    EXPECT_GT(sent, 50) << "the fuzzing did not get going";

    /* The agent takes everything off its queue. */
    MQHOBJ input = MQHO_UNUSABLE_HOBJ;
    ASSERT_EQ(Open(hConn, INPUT_Q, MQOO_INQUIRE, &input), 0);
    std::vector<MQLONG> depth;
    EXPECT_TRUE(WaitUntil(
        [&] { return InqInts(hConn, input, {MQIA_CURRENT_Q_DEPTH}, &depth) == 0 && depth[0] == 0; },
        60000))
        << "depth " << (depth.empty() ? -1 : depth[0]);
    Close(hConn, &input);

    ExpectInquireQmgrAnswered(); /* it still answers a normal request */

    std::string log = Log();
    EXPECT_NE(log.find("CVLA212E"), std::string::npos) << "no simple command was refused";
    ExpectOrderlyEnd();
}

TEST_F(RoutingRobustness, LyingRepliesToPendingRequestsNeitherCrashNorHangTheAgent) {
    const uint64_t seed = FuzzSeed();
    SCOPED_TRACE("TORVIK_FUZZ_SEED=" + std::to_string(seed));
    const MQLONG maxMsgSize = 65536;
    StartQueueManager({}, {"DEFINE QLOCAL(FUZZ.REPLY) MAXDEPTH(100000)"});
    StartAgentAndConnect(
        "certevent = no\nretrycount = 0\nmaxage = 3\nreqchkdelay = 1\nmaxmsgsize = " +
        std::to_string(maxMsgSize) + "\n");
    const std::string agentReplyQ = ActualReplyQueue();
    ASSERT_FALSE(agentReplyQ.empty()) << Log();
    Mqsim({"cmdserver", QM, "stop"});

    MQHOBJ commands = MQHO_UNUSABLE_HOBJ, replies = MQHO_UNUSABLE_HOBJ;
    ASSERT_EQ(Open(hConn, COMMAND_Q, MQOO_INPUT_SHARED, &commands), 0);
    ASSERT_EQ(Open(hConn, "FUZZ.REPLY", MQOO_INPUT_SHARED, &replies), 0);

    /* Commands that are forwarded as they come (an escape command without
     * text is refused by the agent itself, so it is not among them). */
    static const MQLONG commandCodes[] = {MQCMD_INQUIRE_Q_MGR, MQCMD_INQUIRE_Q,
                                          MQCMD_INQUIRE_Q_NAMES, MQCMD_PING_Q_MGR};
    static const char *const formats[] = {MQFMT_ADMIN,  MQFMT_ADMIN,     MQFMT_ADMIN,
                                          MQFMT_ADMIN,  MQFMT_COMMAND_1, MQFMT_COMMAND_2,
                                          MQFMT_STRING, MQFMT_NONE,      "\xff\x01garb\x7f"};
    Liar liar(seed);
    std::vector<std::string> sentReplies; /* every reply that matched a request */
    int strays = 0;                       /* replies that match nothing */
    std::vector<GOTMSG> received;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    for (int round = 0; round < 60 && std::chrono::steady_clock::now() < deadline; round++) {
        /* A few requests, each left pending on the stopped command server. */
        std::vector<std::string> forwarded;
        std::vector<MQLONG> commandOf;
        int n = 1 + (int)liar.Below(5);
        for (int i = 0; i < n; i++) {
            MQLONG command = commandCodes[liar.Below(sizeof commandCodes / sizeof commandCodes[0])];
            MQCFH cfh = MQCFH_DEFAULT;
            cfh.Command = command;
            MQMD md = MQMD_DEFAULT;
            memcpy(md.Format, MQFMT_ADMIN, 8);
            md.MsgType = MQMT_REQUEST;
            SetName(md.ReplyToQ, sizeof md.ReplyToQ, "FUZZ.REPLY");
            if (liar.OneIn(2))
                md.Report = MQRO_PASS_MSG_ID | MQRO_PASS_CORREL_ID;
            ASSERT_EQ(Put1(hConn, INPUT_Q, std::string((const char *)&cfh, sizeof cfh), &md), 0);
            commandOf.push_back(command);
        }
        for (int i = 0; i < n; i++) {
            GOTMSG cmd;
            cmd.md = MQMD_DEFAULT;
            ASSERT_EQ(Get(hConn, commands, &cmd.body, &cmd.md, MQGMO_NO_SYNCPOINT, 30000), 0)
                << "the agent forwarded nothing\n"
                << Log().substr(0, 3000);
            forwarded.push_back(std::string((const char *)cmd.md.MsgId, 24));
        }
        /* Lying replies for each; some requests get their last reply,
         * others are left to age out. */
        for (int i = 0; i < n; i++) {
            int k = (int)liar.Below(7);
            for (int j = 0; j < k; j++) {
                MQMD md = MQMD_DEFAULT;
                md.MsgType = MQMT_REPLY;
                memcpy(md.MsgId, forwarded[i].data(), 24);
                const char *format = formats[liar.Below(sizeof formats / sizeof formats[0])];
                memcpy(md.Format, format, 8);
                bool last = j == k - 1 && liar.OneIn(2);
                std::string body;
                if (memcmp(format, MQFMT_ADMIN, 8) == 0) {
                    MQLONG control = last ? MQCFC_LAST : MQCFC_NOT_LAST;
                    if (liar.OneIn(10))
                        control = liar.Int() & ~CONTROL_MERGED;
                    MQLONG command = liar.OneIn(5) ? liar.Int() : commandOf[i];
                    size_t size = liar.OneIn(12)  ? maxMsgSize + liar.Below(40000)
                                  : liar.OneIn(4) ? 10000 + liar.Below(30000)
                                                  : liar.Below(2000);
                    body = liar.Pcf(MQCFT_RESPONSE, command, control,
                                    liar.OneIn(6) ? MQCC_FAILED : MQCC_OK, !liar.OneIn(3), size);
                } else if (memcmp(format, "MQCMD", 5) == 0) {
                    static const char *const lines[] = {"CSQN205I   COUNT=       3, RETURN=0000",
                                                        "CSQM401I ]MQ1 QUEUE(APP.Q) TYPE(QLOCAL)",
                                                        "CSQ9022I ]MQ1 CSQMDRTS ' DISPLAY' NORMAL",
                                                        "CSQ9023E",
                                                        "CSQ",
                                                        ""};
                    body = lines[liar.Below(sizeof lines / sizeof lines[0])];
                    if (liar.OneIn(5))
                        body += liar.Bytes(liar.OneIn(4) ? 70000 : liar.Below(100));
                } else {
                    body = liar.Bytes(liar.OneIn(10) ? 70000 : liar.Below(500));
                }
                ASSERT_EQ(Put1(hConn, agentReplyQ.c_str(), body, &md), 0);
                sentReplies.push_back(body);
            }
            if (liar.OneIn(4)) {
                /* a reply that matches nothing */
                MQMD md = MQMD_DEFAULT;
                md.MsgType = MQMT_REPLY;
                memcpy(md.MsgId, liar.Bytes(24).data(), 24);
                memcpy(md.Format, MQFMT_ADMIN, 8);
                std::string stray = liar.Pcf(MQCFT_RESPONSE, MQCMD_INQUIRE_Q, MQCFC_LAST, 0,
                                             liar.OneIn(2), liar.Below(3000));
                ASSERT_EQ(Put1(hConn, agentReplyQ.c_str(), stray, &md), 0);
                strays++;
            }
        }
        std::vector<GOTMSG> now = Drain(replies, 0);
        received.insert(received.end(), now.begin(), now.end());
        ASSERT_FALSE(agent->Done()) << "in round " << round << "\n"
                                    << agent->Join().out.substr(0, 20000);
    }
    EXPECT_GT(sentReplies.size(), 20u) << "the fuzzing did not get going";

    /* Every request has been answered or aged out (maxage 3): the agent's
     * reply queue is empty and the table drains, which a REPORT shows. */
    MQHOBJ agentQ = MQHO_UNUSABLE_HOBJ;
    ASSERT_EQ(Open(hConn, agentReplyQ.c_str(), MQOO_INQUIRE, &agentQ), 0);
    std::vector<MQLONG> depth;
    EXPECT_TRUE(WaitUntil(
        [&] {
            return InqInts(hConn, agentQ, {MQIA_CURRENT_Q_DEPTH}, &depth) == 0 && depth[0] == 0;
        },
        60000));
    Close(hConn, &agentQ);
    EXPECT_TRUE(LogHas("CVLA303E Ageing out request", 30)) << "nothing was left to age out";
    std::vector<GOTMSG> rest = Drain(replies, 6000);
    received.insert(received.end(), rest.begin(), rest.end());
    ASSERT_FALSE(received.empty());

    /* What reached the requester: merged replies are sound PCF, and only a
     * single reply that alone exceeds the limit is longer than it. */
    for (const GOTMSG &g : received) {
        const std::string &m = g.body;
        bool admin = memcmp(g.md.Format, MQFMT_ADMIN, 8) == 0;
        if (admin && m.size() >= sizeof(MQCFH) && (LongAt(m, 20) & CONTROL_MERGED) != 0) {
            EXPECT_TRUE(SoundPcf(m)) << "a merged reply of " << m.size() << " bytes: " << Hex(m);
        }
        if ((MQLONG)m.size() > maxMsgSize) {
            bool single = false;
            size_t head = m.size() < sizeof(MQCFH) ? m.size() : sizeof(MQCFH);
            for (const std::string &r : sentReplies)
                single |= r.size() >= m.size() && r.compare(0, head, m, 0, head) == 0;
            EXPECT_TRUE(single) << "a message of " << m.size() << " bytes, over " << maxMsgSize;
        }
    }
    std::string log = Log();
    EXPECT_GE(CountOf(log, "CVLA302E Unrecognised reply received MsgId: "), strays);

    /* The command server back: a normal request is answered correctly. */
    Mqsim({"cmdserver", QM, "start"});
    ExpectInquireQmgrAnswered();
    Close(hConn, &replies);
    Close(hConn, &commands);
    ExpectOrderlyEnd();
}
