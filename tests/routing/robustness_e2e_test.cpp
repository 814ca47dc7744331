/* robustness_e2e_test.cpp -- no message on a queue can crash or hang TORVIK
 * or the stand-in queue manager: seeded floods of lying requests on the
 * input queue (any format, size and reply-to queue) and of lying replies to
 * pending requests on the agent's reply queue. Afterwards the agent still
 * answers and ends in order, nothing prints a sanitizer report, merged
 * replies are sound PCF within maxmsgsize. The seed is TORVIK_FUZZ_SEED when
 * set, else the clock; every failure shows it. */
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "mqconst/mqi.h"
#include "mqconst/mqpcf.h"
#include "support/harness.h"
#include "support/pcf_builder.h"
#include "testbed/mqsim_util.h"

namespace {

using namespace tvtest;
using PCFMSG = class tvtest::Pcf; /* the builder (Pcf alone reads mqcmd's JSON) */

constexpr MQLONG CONTROL_MERGED = 0x10000; /* Control bit of a merged reply */
const char *const ZOS_LINES[] = {
    "CSQN205I   COUNT=       3, RETURN=0000", "CSQ9023E", "CSQ", "", "CSQM401I ]MQ1 QUEUE(APP.Q)",
    "CSQ9022I ]MQ1 CSQMDRTS ' DISPLAY'"};

/* Messages built at random, most of them structured so that they get past
 * the first check and lie further in. */
class Liar {
public:
    explicit Liar(uint64_t seed) : rng_(seed) {}

    uint32_t Below(uint32_t n) { return n == 0 ? 0 : (uint32_t)(rng_() % n); }
    bool OneIn(uint32_t n) { return Below(n) == 0; }
    template <class T, size_t N>
    const T &Pick(const T (&table)[N]) {
        return table[Below(N)];
    }

    /* An edge value, a small one or any. */
    MQLONG Int() {
        static const MQLONG edges[] = {0,  1,          -1,    2,  4,       8,
                                       16, 20,         36,    -4, INT_MIN, INT_MAX,
                                       3,  0x7FFFFFFC, 65536, 48, 1000000, 1024};
        return OneIn(3) ? Pick(edges) : OneIn(2) ? (MQLONG)Below(100) : (MQLONG)rng_();
    }

    std::string Bytes(size_t n) {
        std::string s(n, '\0');
        for (auto &ch : s)
            ch = (char)Below(256);
        return s;
    }

    /* A string value: blanks, a name with its blanks, short, noise. */
    std::string Text(uint32_t max = 64) {
        const std::string kinds[] = {
            std::string(1 + Below(max), ' '),
            ("APP.QUEUE." + std::string(Below(20), 'X') + std::string(48, ' ')).substr(0, 48),
            std::string(Below(5), 'a'), Bytes(Below(max))};
        return Pick(kinds);
    }

    /* A PCF message with parameters of about sizeHint bytes. truthful: the
     * header and every structure are sound (integers and strings, the
     * command server's usual; strings may still need trimming); otherwise
     * parameters of any type (some unknown), words of the header or of any
     * structure lie, and the message may be cut or have bytes after it. */
    std::string Pcf(MQLONG type, MQLONG command, MQLONG control, MQLONG compCode, bool truthful,
                    size_t sizeHint) {
        PCFMSG m(command, type);
        m.Control(control).Seq(1 + (MQLONG)Below(1000)).CompCode(compCode);
        m.Reason(compCode == MQCC_OK ? 0 : 2000 + (MQLONG)Below(2000));
        for (size_t n = 1 + sizeHint / 40; n-- > 0;) {
            MQLONG id = OneIn(2) ? 2001 + (MQLONG)Below(100) : 1 + (MQLONG)Below(250);
            MQLONG op = 1 + (MQLONG)Below(20), unknown[4] = {OneIn(2) ? 77 : 1000, 16, id, 0};
            const std::function<void()> kinds[] = {
                [&] { m.Int(id, Int()); },
                [&] { m.Str(id, Text(80), OneIn(2) ? 0 : 850); },
                [&] { m.IntList(id, std::vector<MQLONG>(Below(20), Int())); },
                [&] {
                    m.StrList(id, {Text(8), Text(8)}, (MQLONG)Below(49));
                },
                [&] { m.Bytes(id, std::vector<MQBYTE>(Below(40), 0xB5)); },
                [&] { m.Int64(id, (int64_t)rng_()); },
                [&] { m.Group(id, (MQLONG)Below(4)); },
                [&] { m.IntFilter(id, op, Int()); },
                [&] { m.StrFilter(id, op, Text()); },
                [&] { m.Raw(std::vector<MQBYTE>((MQBYTE *)unknown, (MQBYTE *)unknown + 16)); }};
            kinds[truthful ? Below(2) : Below(10)]();
        }
        std::vector<MQBYTE> h = m.bytes();
        static const size_t headerWords[] = {4, 8, 32}; /* StrucLength, Version, ParameterCount */
        for (uint32_t lies = truthful ? 0 : Below(4); lies > 0; lies--) {
            size_t at = OneIn(2) ? Pick(headerWords) : 4 * Below((uint32_t)h.size() / 4);
            /* Only the agent marks a reply merged. */
            Set(h, at, at == 20 ? Int() & ~CONTROL_MERGED : Int());
        }
        std::string s(h.begin(), h.end());
        if (!truthful && OneIn(6))
            s.resize(Below((uint32_t)s.size() + 1)); /* cut anywhere */
        else if (!truthful && OneIn(6))
            s += Bytes(1 + Below(30)); /* bytes after the last structure */
        return s;
    }

    std::string Mqsc() {
        static const char *const texts[] = {"DISPLAY QLOCAL(FUZZ.*) ALL",
                                            "DEFINE QLOCAL(FUZZ.E1) DESCR('it''s') REPLACE",
                                            "ALTER QLOCAL(FUZZ.E1) MAXMSGL(99999999999)",
                                            "DELETE QLOCAL(FUZZ.E1)",
                                            "DEFINE QLOCAL(FUZZ.E3) DESCR('unended",
                                            "DISPLAY QLOCAL((((",
                                            "",
                                            "DEFINE"};
        std::string s = Pick(texts);
        if (OneIn(4))
            s += std::string(Below(3000), OneIn(2) ? ' ' : ')');
        return OneIn(6) ? s + Bytes(Below(20)) : s;
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
                                          MQCMD_CONFIG_EVENT};
        std::vector<MQBYTE> escape = PCFMSG(MQCMD_ESCAPE, MQCFT_COMMAND)
                                         .Control(MQCFC_LAST)
                                         .Int(MQIACF_ESCAPE_TYPE, OneIn(5) ? Int() : MQET_MQSC)
                                         .Str(MQCACF_ESCAPE_TEXT, Mqsc())
                                         .bytes();
        switch (Below(6)) {
            case 0:
            case 1:
                return Pcf(OneIn(4) ? Int() : MQCFT_COMMAND, OneIn(4) ? Int() : Pick(commands),
                           MQCFC_LAST, 0, OneIn(3), OneIn(8) ? 20000 + Below(30000) : Below(400));
            case 2: /* an escape command whose text reaches the MQSC engine */
                if (OneIn(4))
                    Set(escape, OneIn(2) ? 56 : 68, Int()); /* its StrucLength, StringLength */
                return std::string(escape.begin(), escape.end());
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

    /* Every message on a queue now into got, waiting at most waitMs for
     * the first. */
    void Drain(MQHOBJ o, MQLONG waitMs, std::vector<GOTMSG> *got) {
        for (GOTMSG g{MQMD_DEFAULT, ""};
             Get(hConn, o, &g.body, &g.md, MQGMO_NO_SYNCPOINT, waitMs, 1 << 20) == 0;
             g.md = MQMD_DEFAULT, waitMs = 0)
            got->push_back(g);
    }
    void ExpectEmptied(const std::string &q) {
        EXPECT_TRUE(WaitUntil([&] { return Depth(hConn, q.c_str()) == 0; }, 60000)) << q;
    }

    /* A normal INQUIRE_Q_MGR through the agent gets one whole reply with
     * the queue manager's name. */
    void ExpectAnswered() {
        ANSWER a = Ask({"--pcf", "INQUIRE_Q_MGR"});
        ASSERT_EQ(a.msgs.size(), 1u) << a.out << Log().substr(0, 3000);
        EXPECT_TRUE(EndsWithOneLast(a));
        const JVALUE *name = Param(a.msgs[0], MQCA_Q_MGR_NAME);
        ASSERT_TRUE(name != nullptr) << a.out;
        EXPECT_EQ(Str(*name, "value"), QM);
    }

    MQHCONN hConn = MQHC_UNUSABLE_HCONN;
};

}  // namespace

/* First lying requests on the input queue, then lying replies to pending
 * requests on the agent's reply queue, to one agent. */
TEST_F(RoutingRobustness, LyingRequestsAndRepliesNeitherCrashNorHangTheAgent) {
    const uint64_t seed = FuzzSeed();
    SCOPED_TRACE("TORVIK_FUZZ_SEED=" + std::to_string(seed));
    const MQLONG maxMsgSize = 32768;
    StartQueueManager({}, {"DEFINE QLOCAL(FUZZ.REPLY) MAXDEPTH(100000)",
                           "DEFINE QLOCAL(FUZZ.PENDING) MAXDEPTH(100000)",
                           "DEFINE QLOCAL(FUZZ.SMALL) MAXMSGL(100) MAXDEPTH(3)",
                           "DEFINE QLOCAL(FUZZ.NOPUT) PUT(DISABLED)", "DEFINE QLOCAL(REMOTEQM)",
                           "DEFINE QREMOTE(FUZZ.VIA) RNAME(Q) RQMNAME(REMOTEQM) XMITQ(REMOTEQM)"});
    StartAgent(
        "certevent = no\nretrycount = 0\nmaxage = 3\nreqchkdelay = 1\nhobjttl = 1\n"
        "hobjchkdelay = 1\nmaxmsgsize = " +
            std::to_string(maxMsgSize) + "\n",
        {"-v", "High"});
    ASSERT_EQ(Connect(QM, &hConn), 0);
    const std::string agentReplyQ = ActualReplyQueue(); /* the agent answers itself */
    ASSERT_FALSE(agentReplyQ.empty()) << Log();
    Liar liar(seed);

    static const std::pair<const char *, const char *> replyTos[] =
        /* queue, manager */ {{"FUZZ.REPLY", ""}, {"FUZZ.REPLY", ""},
                              {"FUZZ.REPLY", QM}, {"NO.SUCH.QUEUE", ""},
                              {"Q", "REMOTEQM"},  {"Q", "NO.SUCH.QMGR"},
                              {"FUZZ.VIA", ""},   {"FUZZ.SMALL", ""},
                              {"FUZZ.NOPUT", ""}, {"SYSTEM.DEFAULT.MODEL.QUEUE", ""},
                              {INPUT_Q, ""},      {nullptr, ""}};
    static const char *const formats[] = {MQFMT_ADMIN,  MQFMT_ADMIN,     MQFMT_ADMIN,
                                          MQFMT_STRING, MQFMT_COMMAND_1, MQFMT_COMMAND_2,
                                          MQFMT_NONE,   "mqadmin ",      "\x01\xfe\x00XYZ\t "};
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    int i = 0;
    for (; i < 600 && std::chrono::steady_clock::now() < deadline; i++) {
        MQMD md = MQMD_DEFAULT;
        md.MsgType = MQMT_REQUEST;
        memcpy(md.Format, liar.Pick(formats), 8);
        std::string body = liar.RequestBody();
        uint32_t where = liar.Below(12);
        if (where == 0) {
            /* no reply queue: one of the agent's own commands, or not */
            static const char *const simple[] = {"REPORT", "CHECKHOBJ", "CHECKREPL", "STARTCERT",
                                                 "stop",   "STOP ",     ""};
            if (liar.OneIn(2))
                body = liar.Pick(simple);
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
            auto r = liar.Pick(replyTos);
            SetName(md.ReplyToQ, sizeof md.ReplyToQ, r.first ? r.first : agentReplyQ.c_str());
            SetName(md.ReplyToQMgr, sizeof md.ReplyToQMgr, r.second);
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
    }
    EXPECT_GT(i, 50) << "the fuzzing did not get going";

    ExpectEmptied(INPUT_Q); /* the agent takes everything off its queue */
    EXPECT_NE(Log().find("CVLA212E"), std::string::npos) << "no simple command was refused";
    ExpectAnswered();

    /* Requests left pending on the stopped command server get lying
     * replies: some their last reply, others are left to age out. */
    ExpectEmptied("SYSTEM.ADMIN.COMMAND.QUEUE");
    Mqsim({"cmdserver", QM, "stop"});
    MQHOBJ commands = MQHO_UNUSABLE_HOBJ, replies = MQHO_UNUSABLE_HOBJ;
    ASSERT_EQ(Open(hConn, "SYSTEM.ADMIN.COMMAND.QUEUE", MQOO_INPUT_SHARED, &commands), 0);
    ASSERT_EQ(Open(hConn, "FUZZ.PENDING", MQOO_INPUT_SHARED, &replies), 0);

    /* Commands that are forwarded as they come (an escape command without
     * text is refused by the agent itself, so it is not among them). */
    static const MQLONG commandCodes[] = {MQCMD_INQUIRE_Q_MGR, MQCMD_INQUIRE_Q,
                                          MQCMD_INQUIRE_Q_NAMES, MQCMD_PING_Q_MGR};
    static const char *const replyFormats[] = {MQFMT_ADMIN,  MQFMT_ADMIN,     MQFMT_ADMIN,
                                               MQFMT_ADMIN,  MQFMT_COMMAND_1, MQFMT_COMMAND_2,
                                               MQFMT_STRING, MQFMT_NONE,      "\xff\x01garb\x7f"};
    auto putReply = [&](const std::string &msgId, const char *format, const std::string &body) {
        MQMD md = MQMD_DEFAULT;
        md.MsgType = MQMT_REPLY;
        memcpy(md.MsgId, msgId.data(), 24);
        memcpy(md.Format, format, 8);
        return Put1(hConn, agentReplyQ.c_str(), body, &md);
    };
    std::vector<std::string> sentReplies; /* every reply that matched a request */
    int strays = 0;                       /* replies that match nothing */
    std::vector<GOTMSG> received;
    deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    for (int round = 0; round < 60 && std::chrono::steady_clock::now() < deadline; round++) {
        /* A few requests, each left pending on the stopped command server. */
        std::vector<GOTMSG> forwarded;
        int n = 1 + (int)liar.Below(5);
        for (int i = 0; i < n; i++) {
            MQMD md = MQMD_DEFAULT;
            memcpy(md.Format, MQFMT_ADMIN, 8);
            md.MsgType = MQMT_REQUEST;
            SetName(md.ReplyToQ, sizeof md.ReplyToQ, "FUZZ.PENDING");
            if (liar.OneIn(2))
                md.Report = MQRO_PASS_MSG_ID | MQRO_PASS_CORREL_ID;
            std::string body =
                PCFMSG(liar.Pick(commandCodes), MQCFT_COMMAND).Control(MQCFC_LAST).text();
            ASSERT_EQ(Put1(hConn, INPUT_Q, body, &md), 0);
        }
        while ((int)forwarded.size() < n) {
            Drain(commands, 30000, &forwarded);
            ASSERT_FALSE(forwarded.empty()) << "the agent forwarded nothing\n" << Log();
        }
        for (int i = 0; i < n; i++) {
            int k = (int)liar.Below(7);
            for (int j = 0; j < k; j++) {
                const char *format = liar.Pick(replyFormats);
                bool last = j == k - 1 && liar.OneIn(2);
                std::string body;
                if (memcmp(format, MQFMT_ADMIN, 8) == 0) {
                    MQLONG control = last ? MQCFC_LAST : MQCFC_NOT_LAST;
                    if (liar.OneIn(10))
                        control = liar.Int() & ~CONTROL_MERGED;
                    MQLONG command = liar.OneIn(5) ? liar.Int() : Get(forwarded[i].body, 12);
                    size_t size = liar.OneIn(12)  ? maxMsgSize + liar.Below(40000)
                                  : liar.OneIn(4) ? 10000 + liar.Below(30000)
                                                  : liar.Below(2000);
                    body = liar.Pcf(MQCFT_RESPONSE, command, control,
                                    liar.OneIn(6) ? MQCC_FAILED : MQCC_OK, !liar.OneIn(3), size);
                } else if (memcmp(format, "MQCMD", 5) == 0) {
                    body = liar.Pick(ZOS_LINES);
                    if (liar.OneIn(5))
                        body += liar.Bytes(liar.OneIn(4) ? 70000 : liar.Below(100));
                } else {
                    body = liar.Bytes(liar.OneIn(10) ? 70000 : liar.Below(500));
                }
                ASSERT_EQ(putReply(std::string((char *)forwarded[i].md.MsgId, 24), format, body),
                          0);
                sentReplies.push_back(body);
            }
            if (liar.OneIn(4)) { /* a reply that matches nothing */
                std::string stray = liar.Pcf(MQCFT_RESPONSE, MQCMD_INQUIRE_Q, MQCFC_LAST, 0,
                                             liar.OneIn(2), liar.Below(3000));
                ASSERT_EQ(putReply(liar.Bytes(24), MQFMT_ADMIN, stray), 0);
                strays++;
            }
        }
        Drain(replies, 0, &received);
    }
    EXPECT_GT(sentReplies.size(), 20u) << "the fuzzing did not get going";

    /* Every request has been answered or aged out (maxage 3): the agent's
     * reply queue is empty and the table drains, which a REPORT shows. */
    ExpectEmptied(agentReplyQ);
    EXPECT_TRUE(LogHas("CVLA303E Ageing out request for ReplyQ 'FUZZ.PENDING'", 1, 30))
        << "nothing was left to age out";
    Drain(replies, 6000, &received);
    ASSERT_FALSE(received.empty());

    /* What reached the requester: merged replies are sound PCF, and only a
     * single reply that alone exceeds the limit is longer than it. */
    for (const GOTMSG &g : received) {
        const std::string &m = g.body;
        if (memcmp(g.md.Format, MQFMT_ADMIN, 8) == 0 && (Get(m, 20) & CONTROL_MERGED) != 0) {
            SCOPED_TRACE("a merged reply of " + std::to_string(m.size()) + " bytes");
            EXPECT_EQ(Get(m, 4), (MQLONG)sizeof(MQCFH));
            for (const Parm &p : ReadParms(std::vector<MQBYTE>(m.begin(), m.end())))
                EXPECT_TRUE(p.type != MQCFT_STRING ||
                            (p.stringLength >= 0 && p.stringLength <= p.strucLength - 20))
                    << "a string " << p.parameter << " longer than its structure";
        }
        if ((MQLONG)m.size() > maxMsgSize) {
            bool single = false;
            size_t head = m.size() < sizeof(MQCFH) ? m.size() : sizeof(MQCFH);
            for (const std::string &r : sentReplies)
                single |= r.size() >= m.size() && r.compare(0, head, m, 0, head) == 0;
            EXPECT_TRUE(single) << "a message of " << m.size() << " bytes, over " << maxMsgSize;
        }
    }
    EXPECT_GE(CountOf(Log(), "CVLA302E Unrecognised reply received MsgId: "), strays);

    Mqsim({"cmdserver", QM, "start"}); /* the command server back */
    Close(hConn, &replies);
    Close(hConn, &commands);
    ExpectAnswered();
    StopAgent(); /* in order (a crash or a sanitizer report fails the test anyway) */
}
