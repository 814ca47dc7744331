/* fault_matrix_e2e_test.cpp -- what the agent does with PCF requests in
 * flight when something fails under it: the command server, a reply queue,
 * the queue manager, the log, the key tool or the request itself.
 *
 * One table: each fault on a queue manager and agent of its own. The
 * requests are put by the test itself (so that a thousand go at once) with
 * reply queue FM.REPLY; their replies are gathered by CorrelId. Where the
 * agent serves on, every request that the fault does not drop gets a reply
 * set ending in exactly one message with MQCFC_LAST and nothing after it
 * (gathered again after STOP), and no request is left pending at the end.
 * Where the agent must end, it ends in order with exit code 0 and reports
 * each request it drops.
 */
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "mqconst/mqi.h"
#include "mqconst/mqpcf.h"
#include "support/harness.h"
#include "support/keyrepo.h"
#include "support/pcf_builder.h"
#include "testbed/mqsim_util.h"

namespace {

using namespace tvtest;
using PCFMSG = class tvtest::Pcf; /* the builder (Pcf alone is the JSON reader) */

const char REPLY_Q[] = "FM.REPLY";
const char FAIL_Q[] = "FM.FAIL"; /* request 0's reply queue where a case says so */
const char COMMAND_Q[] = "SYSTEM.ADMIN.COMMAND.QUEUE";
const char DROPPED[] = "CVLA305E Dropping request for ReplyQ '";

class FaultMatrix;
using STEP = void (*)(FaultMatrix &);
using BODY = std::vector<MQBYTE> (*)(FaultMatrix &, int);

struct FAULT {
    const char *name;
    std::vector<std::string> qmOptions; /* mqsim start options */
    std::string config;                 /* configuration lines */
    STEP before;                        /* before the agent starts (or null) */
    BODY request;                       /* the body of request i */
    int inFlight;                       /* requests put before the fault */
    STEP fault;                         /* with the requests in flight (or null) */
    bool agentEnds;                     /* the fault ends the agent */
    std::string logged;                 /* in the log once the fault has acted */
    int loggedTimes;                    /* exactly so often (-1: at least once) */
    int unanswered;                     /* requests the fault leaves without a set */
    MQLONG reason;                      /* Reason of every last message (-1: any) */
    int messagesEach;                   /* messages in every set (0: any) */
    size_t longerThan = 0;              /* every last message is longer */
};

std::vector<MQBYTE> InquireQmgr(FaultMatrix &, int) {
    return PCFMSG(MQCMD_INQUIRE_Q_MGR, MQCFT_COMMAND).Control(MQCFC_LAST).bytes();
}
std::vector<MQBYTE> InquireQueues(FaultMatrix &, int) {
    return PCFMSG(MQCMD_INQUIRE_Q, MQCFT_COMMAND)
        .Control(MQCFC_LAST)
        .Str(MQCA_Q_NAME, "APP.*")
        .IntList(MQIACF_Q_ATTRS, {MQIACF_ALL})
        .bytes();
}

/* Where the reply sets of requests gather, by CorrelId (the request's
 * MsgId): the Control of each message in arrival order. */
struct REPLYSETS {
    std::map<std::string, std::vector<long>> controls;
    std::map<std::string, std::vector<std::string>> bodies;
};

class FaultMatrix : public AgentTest, public ::testing::WithParamInterface<FAULT> {
public:
    using AgentTest::dir;
    void TearDown() override {
        if (hConn != MQHC_UNUSABLE_HCONN)
            Disconnect(&hConn);
        AgentTest::TearDown();
    }

    void Run(const FAULT &c) {
        StartQueueManager(c.qmOptions, {"DEFINE QLOCAL(FM.REPLY)", "DEFINE QLOCAL(FM.FAIL)"});
        if (c.before != nullptr)
            c.before(*this);
        WriteConfig("certevent = no\n" + c.config);
        LaunchAgent({"-v", "Medium"});
        /* (a log that turns over at every line does not keep the start) */
        if ((c.inFlight > 0 || !c.agentEnds) && c.config.find("maxlogsize") == std::string::npos)
            WaitUntilUp();
        ASSERT_EQ(Connect(QM, &hConn), 0);
        for (int i = 0; i < c.inFlight; i++)
            Send(c.request(*this, i), i == 0 && c.request == FirstToFailQ ? FAIL_Q : REPLY_Q);
        if (c.fault != nullptr)
            c.fault(*this);
        if (c.agentEnds) {
            ExpectOrderlyEnd();
            std::string log = Log();
            if (c.loggedTimes < 0) {
                EXPECT_GE(CountOf(log, c.logged), 1) << log;
            } else {
                EXPECT_EQ(CountOf(log, c.logged), c.loggedTimes) << log;
            }
            EXPECT_LE(CountOf(log, "CVLA199E"), 1) << log;
            EXPECT_EQ(CountOf(log, DROPPED), c.inFlight) << log;
            for (const std::string &id : sent)
                EXPECT_NE(log.find(" MsgId: " + id + "\n"), std::string::npos) << log;
            return;
        }
        /* Every set that the fault leaves whole completes. */
        int whole = c.inFlight - c.unanswered;
        EXPECT_TRUE(WaitUntil([&] { return Gather() >= whole; }, 120000))
            << Gather() << " of " << whole << " sets complete " << sets.controls.size() << "\n"
            << Log().substr(0, 8000);
        const int times = c.loggedTimes < 0 ? 1 : c.loggedTimes;
        const std::string file = dir.file("log/TORVIK_Log01.txt");
        EXPECT_TRUE(WaitUntil([&] { return Logged(c) >= times || !FileExists(file); }, 60000))
            << Log();
        StopAgent();
        Gather(); /* nothing more may come */
        std::string log = Log();
        if (c.loggedTimes >= 0) {
            EXPECT_EQ(Logged(c), c.loggedTimes) << log;
        }
        EXPECT_EQ(CountOf(log, DROPPED), 0) << "no request is left pending\n" << log;
        int complete = 0;
        for (const std::string &id : sent) {
            const std::vector<long> &set = sets.controls[id];
            if (set.empty() || (set.back() & MQCFC_LAST) == 0) {
                EXPECT_EQ(CountBit(set, MQCFC_LAST), 0) << id;
                continue;
            }
            complete++;
            EXPECT_TRUE(EndsWithOneLast(set)) << "request " << id;
            const std::string &last = sets.bodies[id].back();
            if (c.reason >= 0) {
                EXPECT_EQ(LongAt(last, 28), c.reason) << "request " << id;
            }
            if (c.messagesEach > 0) {
                EXPECT_EQ((int)set.size(), c.messagesEach) << "request " << id;
            }
            EXPECT_GT(last.size(), c.longerThan) << "request " << id;
        }
        EXPECT_EQ(complete, whole);
    }

    /* Put one PCF request to the agent; its MsgId is kept. */
    void Send(const std::vector<MQBYTE> &body, const char *replyQ,
              const char *format = MQFMT_ADMIN) {
        MQMD md = MQMD_DEFAULT;
        md.MsgType = MQMT_REQUEST;
        memcpy(md.Format, format, 8);
        SetName(md.ReplyToQ, sizeof md.ReplyToQ, replyQ);
        ASSERT_EQ(Put1(hConn, INPUT_Q, std::string(body.begin(), body.end()), &md), 0);
        sent.push_back(Hex(md.MsgId));
    }

    /* Take every reply waiting on both reply queues into sets; returns the
     * number of requests whose set has a message with MQCFC_LAST. */
    int Gather() {
        for (const char *q : {REPLY_Q, FAIL_Q}) {
            MQHOBJ o = MQHO_UNUSABLE_HOBJ;
            if (Open(hConn, q, MQOO_INPUT_SHARED, &o) != 0)
                continue;
            for (;;) {
                MQMD md = MQMD_DEFAULT;
                std::string body;
                if (Get(hConn, o, &body, &md, MQGMO_NO_SYNCPOINT, 0, 4 << 20) != 0)
                    break;
                std::string id = Hex(md.CorrelId);
                sets.controls[id].push_back(body.size() >= 24 ? LongAt(body, 20) : -1);
                sets.bodies[id].push_back(body);
            }
            Close(hConn, &o);
        }
        int complete = 0;
        for (const std::string &id : sent)
            complete += CountBit(sets.controls[id], MQCFC_LAST) > 0;
        return complete;
    }

    /* The requests have reached the command queue (the command server is
     * stopped). */
    void WaitForwarded() {
        const int n = (int)sent.size();
        MQHOBJ o = MQHO_UNUSABLE_HOBJ;
        ASSERT_EQ(Open(hConn, COMMAND_Q, MQOO_INQUIRE, &o), 0);
        std::vector<MQLONG> depth;
        EXPECT_TRUE(WaitUntil(
            [&] { return InqInts(hConn, o, {MQIA_CURRENT_Q_DEPTH}, &depth) == 0 && depth[0] >= n; },
            60000));
        Close(hConn, &o);
    }
    /* The depth of queue q reached n. */
    void WaitDepth(const char *q, int n) {
        MQHOBJ o = MQHO_UNUSABLE_HOBJ;
        ASSERT_EQ(Open(hConn, q, MQOO_INQUIRE, &o), 0);
        std::vector<MQLONG> depth;
        EXPECT_TRUE(WaitUntil(
            [&] { return InqInts(hConn, o, {MQIA_CURRENT_Q_DEPTH}, &depth) == 0 && depth[0] >= n; },
            60000));
        Close(hConn, &o);
    }

    int Logged(const FAULT &c) { return CountOf(Log(), c.logged); }

    /* The log directory removed, a file in its place so that it cannot be
     * made again, and a REPORT that writes enough to need a new file. */
    void BreakTheLog() {
        std::filesystem::remove_all(dir.file("log"));
        WriteFile(dir.file("log"), "not a directory\n");
        PROGRAMRESULT r = Mqcmd({"--simple", "REPORT"});
        ASSERT_EQ(r.proc.exitCode, 0) << r.out;
    }
    void Stop(const std::vector<std::string> &args) {
        std::vector<std::string> a = args;
        for (std::string &s : a)
            s = s == "QM" ? std::string(QM) : s;
        Mqsim(a);
    }
    void UseKeyTool(bool onPath) {
        std::string path = onPath ? BIN + ":/usr/bin:/bin" : dir.file("nothing");
        PLSetEnv("PATH", path.c_str());
    }
    std::vector<MQBYTE> DisplayCert(const std::string &repository) {
        return PCFMSG(CVL_DISPLAY_CERT, MQCFT_COMMAND)
            .Control(MQCFC_LAST)
            .Str(MQCA_CERT_LABEL, "*")
            .Str(MQCA_SSL_KEY_REPOSITORY, dir.file(repository))
            .bytes();
    }

    static std::vector<MQBYTE> FirstToFailQ(FaultMatrix &t, int i) { return InquireQueues(t, i); }

    static std::string Hex(const MQBYTE *id) {
        static const char digits[] = "0123456789ABCDEF";
        std::string h;
        for (int i = 0; i < MQ_MSG_ID_LENGTH; i++) {
            h += digits[id[i] >> 4];
            h += digits[id[i] & 15];
        }
        return h;
    }
    static MQLONG LongAt(const std::string &s, size_t at) {
        MQLONG v = 0;
        if (at + 4 <= s.size())
            memcpy(&v, s.data() + at, 4);
        return v;
    }
    static int CountBit(const std::vector<long> &set, long bit) {
        int n = 0;
        for (long control : set)
            n += control >= 0 && (control & bit) != 0;
        return n;
    }

    static constexpr MQLONG CVL_DISPLAY_CERT = 9500;
    MQHCONN hConn = MQHC_UNUSABLE_HCONN;
    std::vector<std::string> sent; /* MsgIds of the requests, in hex */
    REPLYSETS sets;
};

/* Commands of a fault, in steps. */
void StopCommandServer(FaultMatrix &t) {
    t.Stop({"cmdserver", "QM", "stop"});
}

std::vector<MQBYTE> Malformed(FaultMatrix &t, int i) {
    switch (i % 4) {
        case 0: /* shorter than a header */
            return {1, 0, 0, 0, 36, 0, 0, 0, 1, 0};
        case 1: /* three parameters promised, none there */
            return PCFMSG(MQCMD_INQUIRE_Q, MQCFT_COMMAND).Control(MQCFC_LAST).Count(3).bytes();
        case 2: { /* the agent's own command with a string longer than its message */
            std::vector<MQBYTE> m = t.DisplayCert("key");
            Set(m, 36 + 16, 4000);
            return m;
        }
        default:
            return InquireQmgr(t, i);
    }
}

const FAULT FAULTS[] = {
    {"CommandServerStopped",
     {},
     "maxage = 2\nreqchkdelay = 1\n",
     StopCommandServer,
     InquireQmgr,
     3,
     nullptr,
     false,
     "CVLA303E Ageing out request for ReplyQ 'FM.REPLY'",
     3,
     0,
     3238,
     1},
    {"CommandServerSlow",
     {"--queues", "8"},
     "",
     nullptr,
     InquireQueues,
     3,
     [](FaultMatrix &t) {
         t.Stop({"cmdserver", "QM", "delay", "40"});
     },
     false,
     "CVLA404I Received 8 reply messages",
     3,
     0,
     0,
     1},
    {"ReplyQueueFull",
     {},
     "retrycount = 2\nretryint = 1\n",
     [](FaultMatrix &t) {
         t.Stop({"fault", "QM", "put", "FM.REPLY", "2053", "3"});
     },
     InquireQmgr,
     3,
     nullptr,
     false,
     "CVLA107E MQPUT to queue 'QMTEST/FM.REPLY' failed with reason 2053",
     1,
     1,
     0,
     1},
    {"ReplyQueueFailsForGoodMidSeries",
     {"--queues", "40"},
     "maxmsgsize = 4096\nretrycount = 0\n",
     [](FaultMatrix &t) {
         t.Stop({"cmdserver", "QM", "delay", "20"});
     },
     FaultMatrix::FirstToFailQ,
     3,
     [](FaultMatrix &t) {
         t.WaitDepth(FAIL_Q, 1);
         t.Stop({"fault", "QM", "put", "FM.FAIL", "2052", "-1"});
     },
     false,
     "CVLA107E MQPUT to queue 'QMTEST/FM.FAIL' failed with reason 2052",
     -1,
     1,
     0,
     0},
    {"MalformedRequests", {}, "", nullptr, Malformed, 8, nullptr, false, "CVLA401I", -1, 0, -1, 1},
    {"ReplyLongerThanMaxmsgsize",
     {"--queues", "30000"},
     "maxmsgsize = 65536\n",
     nullptr,
     [](FaultMatrix &, int) {
         return PCFMSG(MQCMD_INQUIRE_Q_NAMES, MQCFT_COMMAND)
             .Control(MQCFC_LAST)
             .Str(MQCA_Q_NAME, "APP.*")
             .bytes();
     },
     2,
     nullptr,
     false,
     "CVLA403I Received reply message of length 14400",
     2,
     0,
     0,
     1,
     65536},
    {"AThousandRequestsAtOnce",
     {},
     "",
     nullptr,
     InquireQmgr,
     1000,
     nullptr,
     false,
     "CVLA401I Received PCF",
     1000,
     0,
     0,
     1},
    {"LogDirectoryRemovedLogFailFatalNo",
     {},
     "logfailfatal = no\nmaxlogsize = 1\n",
     StopCommandServer,
     InquireQmgr,
     3,
     [](FaultMatrix &t) {
         t.WaitForwarded();
         t.BreakTheLog();
         t.Stop({"cmdserver", "QM", "start"});
     },
     false,
     "CVLA204E Unable to open error log file",
     -1,
     0,
     0,
     1},
    {"KeyToolMissingFromPath",
     {},
     "",
     [](FaultMatrix &t) { t.UseKeyTool(false); },
     [](FaultMatrix &t, int) { return t.DisplayCert("key"); },
     2,
     nullptr,
     false,
     "CVLA225E Unable to open",
     2,
     0,
     MQRC_KEY_REPOSITORY_ERROR,
     1},
    {"KeyRepositoryMissing",
     {},
     "",
     [](FaultMatrix &t) { t.UseKeyTool(true); },
     [](FaultMatrix &t, int) { return t.DisplayCert("missing"); },
     2,
     nullptr,
     false,
     "CVLA226E The key repository '",
     2,
     0,
     MQRC_KEY_REPOSITORY_ERROR,
     1},
    {"WrongStash",
     {},
     "",
     [](FaultMatrix &t) {
         t.UseKeyTool(true);
         ASSERT_EQ(MakeKeyRepository(t.dir.file("key.kdb"), {}), "");
         WriteFile(t.dir.file("key.sth"), "not the password\n");
     },
     [](FaultMatrix &t, int) { return t.DisplayCert("key"); },
     2,
     nullptr,
     false,
     "CVLA227E An invalid key repository password was encountered for '",
     2,
     0,
     MQRC_KEY_REPOSITORY_ERROR,
     1},
    /* The agent ends. */
    {"BrokenConnection",
     {},
     "",
     StopCommandServer,
     InquireQmgr,
     3,
     [](FaultMatrix &t) {
         t.WaitForwarded();
         t.Stop({"break", "QM"});
     },
     true,
     "CVLA199E TORVIK received reason code 2009 (",
     1,
     3,
     -1,
     0},
    {"QuiescingQueueManager",
     {},
     "",
     StopCommandServer,
     InquireQmgr,
     3,
     [](FaultMatrix &t) {
         t.WaitForwarded();
         t.Stop({"stop", "QM", "--quiesce"});
     },
     true,
     "CVLA199E TORVIK received reason code 2161 (",
     1,
     3,
     -1,
     0},
    {"ConnectionEvent",
     {},
     "",
     StopCommandServer,
     InquireQmgr,
     3,
     [](FaultMatrix &t) {
         t.WaitForwarded();
         t.Stop({"fault", "QM", "event", "2202"});
     },
     true,
     "CVLA199E TORVIK received reason code 2202 (",
     1,
     3,
     -1,
     0},
    {"InputQueueGetDisabled",
     {},
     "",
     StopCommandServer,
     InquireQmgr,
     3,
     [](FaultMatrix &t) {
         t.WaitForwarded();
         t.Stop({"mqsc", "QM", "ALTER QLOCAL(CORVEL.TORVIK.COMMAND.QUEUE) GET(DISABLED)"});
     },
     true,
     "CVLA120E Queue 'CORVEL.TORVIK.COMMAND.QUEUE' has been GET(INHIBITED)",
     1,
     3,
     -1,
     0},
    {"LogDirectoryRemovedLogFailFatalYes",
     {},
     "logfailfatal = yes\nmaxlogsize = 1\n",
     StopCommandServer,
     InquireQmgr,
     3,
     [](FaultMatrix &t) {
         t.WaitForwarded();
         t.BreakTheLog();
     },
     true,
     "CVLA204E Unable to open error log file",
     1,
     3,
     -1,
     0},
    {"MissingCommandQueue",
     {},
     "commandq = NO.SUCH.COMMAND.QUEUE\n",
     nullptr,
     InquireQmgr,
     0,
     nullptr,
     true,
     "CVLA104E MQOPEN of queue 'NO.SUCH.COMMAND.QUEUE' failed with reason 2085",
     1,
     0,
     -1,
     0},
    {"FailedMqctl",
     {},
     "",
     [](FaultMatrix &t) {
         t.Stop({"fault", "QM", "call", "MQCTL", "*", "2012", "1"});
     },
     InquireQmgr,
     0,
     nullptr,
     true,
     "CVLA106E MQCTL on queue manager 'QMTEST' failed with reason 2012 (",
     1,
     0,
     -1,
     0},
};

}  // namespace

TEST_P(FaultMatrix, EveryRequestEndsInOneLastReplyOrIsReported) {
    Run(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, ::testing::ValuesIn(FAULTS),
                         [](const ::testing::TestParamInfo<FAULT> &info) {
                             return std::string(info.param.name);
                         });
