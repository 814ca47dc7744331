/* fault_matrix_e2e_test.cpp -- PCF requests in flight when something fails
 * under the agent (command server, reply queue, queue manager, log, key
 * tool, its start, the request itself); each fault on a queue manager and
 * agent of its own. Where the agent serves on, every request the fault
 * does not drop gets a reply set ending in exactly one MQCFC_LAST message
 * and nothing after it, and none is left pending; where it must end, it
 * ends in order and reports each request it drops. */
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
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
using PCFMSG = class tvtest::Pcf; /* the builder (Pcf alone reads mqcmd's JSON) */

const char DROPPED[] = "CVLA305E Dropping request for ReplyQ '";

/* Steps are separated by ';': "forwarded" (the requests wait on the
 * command queue), "depth Q" (a message is on Q), "log" (the log directory
 * removed, a file in its place, then a REPORT to write), "keytool" or
 * "nokeytool" (on PATH or not), "badstash" (key.kdb with a wrong stash),
 * else an mqsim command ("QM" the queue manager; after "mqsc QM" one
 * command text). Requests: "qmgr", "queues" (APP.*, all attributes),
 * "names" (APP.*), "cert FILE" (DISPLAY CERT of repository FILE),
 * "malformed" (four kinds in turn). Request 0 goes to FM.FAIL when the
 * fault names that queue. */
struct FAULT {
    const char *name;
    const char *qmOptions; /* mqsim start options */
    const char *config;    /* configuration lines */
    const char *before;    /* steps before the agent starts */
    const char *request;
    int inFlight;       /* requests put before the fault */
    const char *fault;  /* steps with the requests in flight */
    bool agentEnds;     /* the fault ends the agent */
    const char *logged; /* in the log once the fault has acted... */
    int loggedTimes;    /* ...exactly so often (-1: at least once) */
    int unanswered;     /* requests the fault leaves without a whole set */
    MQLONG reason;      /* Reason of every last message (-1: any) */
    int messagesEach;   /* messages in every set (0: any) */
    size_t longerThan;  /* every last message is longer */
};

void PrintTo(const FAULT &f, std::ostream *os) {
    *os << f.name; /* the name alone in test listings */
}

std::vector<std::string> Words(const std::string &text, char separator = ' ') {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string w; std::getline(in, w, separator);)
        if (!w.empty())
            words.push_back(w[0] == ' ' ? w.substr(1) : w);
    return words;
}

class FaultMatrix : public AgentTest, public ::testing::WithParamInterface<FAULT> {
protected:
    void TearDown() override {
        if (hConn != MQHC_UNUSABLE_HCONN)
            Disconnect(&hConn);
        PLSetEnv("PATH", path.c_str());
        AgentTest::TearDown();
    }

    void Run(const FAULT &c) {
        StartQueueManager(Words(c.qmOptions),
                          {"DEFINE QLOCAL(FM.REPLY)", "DEFINE QLOCAL(FM.FAIL)"});
        Steps(c.before);
        WriteConfig(std::string("certevent = no\n") + c.config);
        LaunchAgent({"-v", "Medium"});
        /* (a log that turns over at every line does not keep the start) */
        if ((c.inFlight > 0 || !c.agentEnds) && strstr(c.config, "maxlogsize") == nullptr)
            WaitUntilUp();
        ASSERT_EQ(Connect(QM, &hConn), 0);
        for (int i = 0; i < c.inFlight; i++) { /* the MsgId of each is kept */
            std::vector<MQBYTE> body = Request(c.request, i);
            MQMD md = MQMD_DEFAULT;
            md.MsgType = MQMT_REQUEST;
            memcpy(md.Format, MQFMT_ADMIN, 8);
            SetName(md.ReplyToQ, sizeof md.ReplyToQ,
                    i == 0 && strstr(c.fault, "FM.FAIL") ? "FM.FAIL" : "FM.REPLY");
            ASSERT_EQ(Put1(hConn, INPUT_Q, std::string(body.begin(), body.end()), &md), 0);
            sent.push_back(Hex(md.MsgId));
        }
        Steps(c.fault);
        auto logged = [&] { return CountOf(Log(), c.logged); };
        if (c.agentEnds) {
            ExpectOrderlyEnd();
            std::string log = Log();
            EXPECT_EQ(logged(), c.loggedTimes) << log;
            EXPECT_LE(CountOf(log, "CVLA199E"), 1) << log;
            EXPECT_EQ(CountOf(log, DROPPED), c.inFlight) << log;
            for (const std::string &id : sent)
                EXPECT_NE(log.find(" MsgId: " + id + "\n"), std::string::npos) << log;
            return;
        }
        int whole = c.inFlight - c.unanswered;
        EXPECT_TRUE(WaitUntil([&] { return Gather() >= whole; }, 120000))
            << Gather() << " of " << whole << " sets whole\n"
            << Log().substr(0, 8000);
        const std::string file = dir.file("log/TORVIK_Log01.txt");
        int times = c.loggedTimes < 0 ? 1 : c.loggedTimes;
        EXPECT_TRUE(WaitUntil([&] { return logged() >= times || !FileExists(file); }, 60000));
        StopAgent();
        Gather(); /* nothing more may come */
        std::string log = Log();
        EXPECT_TRUE(c.loggedTimes < 0 ? logged() >= 1 : logged() == c.loggedTimes) << log;
        EXPECT_EQ(CountOf(log, DROPPED), 0) << "no request is left pending\n" << log;
        int complete = 0;
        for (const std::string &id : sent) {
            const std::vector<long> &set = controls[id];
            if (set.empty() || (set.back() & MQCFC_LAST) == 0) {
                for (long control : set)
                    EXPECT_EQ(control & MQCFC_LAST, 0) << "request " << id;
                continue;
            }
            complete++;
            EXPECT_TRUE(EndsWithOneLast(set)) << "request " << id;
            const std::string &last = bodies[id].back();
            EXPECT_TRUE(c.reason < 0 || Get(last, 28) == c.reason) << Get(last, 28);
            EXPECT_TRUE(c.messagesEach == 0 || (int)set.size() == c.messagesEach) << set.size();
            EXPECT_GT(last.size(), c.longerThan) << "request " << id;
        }
        EXPECT_EQ(complete, whole);
    }

    void Steps(const char *steps) {
        for (const std::string &step : Words(steps, ';')) {
            std::vector<std::string> w = Words(step);
            if (w[0] == "forwarded" || w[0] == "depth") {
                const char *q = w[0] == "depth" ? w[1].c_str() : "SYSTEM.ADMIN.COMMAND.QUEUE";
                MQLONG n = w[0] == "depth" ? 1 : (MQLONG)sent.size();
                EXPECT_TRUE(WaitUntil([&] { return Depth(hConn, q) >= n; }, 60000)) << q;
            } else if (w[0] == "log") { /* a file where the log directory was, then a REPORT */
                std::filesystem::remove_all(dir.file("log"));
                WriteFile(dir.file("log"), "not a directory\n");
                ASSERT_EQ(Mqcmd({"--simple", "REPORT"}).proc.exitCode, 0);
            } else if (w[0] == "keytool" || w[0] == "nokeytool")
                PLSetEnv("PATH", (w[0] == "keytool" ? BIN + ":" + path : dir.file("none")).c_str());
            else if (w[0] == "badstash") {
                ASSERT_EQ(MakeKeyRepository(dir.file("key.kdb"), {}), "");
                WriteFile(dir.file("key.sth"), "not the password\n");
            } else {
                for (std::string &a : w)
                    a = a == "QM" ? std::string(QM) : a;
                if (w[0] == "mqsc")
                    w = {"mqsc", QM, step.substr(step.find("QM ") + 3)};
                Mqsim(w);
            }
        }
    }

    std::vector<MQBYTE> Request(const std::string &kind, int i) {
        PCFMSG queues(MQCMD_INQUIRE_Q, MQCFT_COMMAND), cert(9500, MQCFT_COMMAND);
        cert.Control(MQCFC_LAST).Str(MQCA_CERT_LABEL, "*");
        cert.Str(MQCA_SSL_KEY_REPOSITORY, dir.file(kind.size() > 5 ? kind.substr(5) : "key"));
        if (kind == "queues")
            return queues.Control(MQCFC_LAST)
                .Str(MQCA_Q_NAME, "APP.*")
                .IntList(MQIACF_Q_ATTRS, {MQIACF_ALL})
                .bytes();
        if (kind == "names")
            return PCFMSG(MQCMD_INQUIRE_Q_NAMES, MQCFT_COMMAND)
                .Control(MQCFC_LAST)
                .Str(MQCA_Q_NAME, "APP.*")
                .bytes();
        if (kind.rfind("cert", 0) == 0)
            return cert.bytes();
        if (kind == "malformed" && i % 4 == 0) /* shorter than a header */
            return {1, 0, 0, 0, 36, 0, 0, 0, 1, 0};
        if (kind == "malformed" && i % 4 == 1) /* three parameters promised, none there */
            return queues.Control(MQCFC_LAST).Count(3).bytes();
        if (kind == "malformed" && i % 4 == 2) { /* a string longer than its message */
            std::vector<MQBYTE> m = cert.bytes();
            Set(m, 36 + 16, 4000);
            return m;
        }
        return PCFMSG(MQCMD_INQUIRE_Q_MGR, MQCFT_COMMAND).Control(MQCFC_LAST).bytes();
    }

    /* Take every reply waiting on the reply queues into the sets; returns
     * the number of requests whose set has a message with MQCFC_LAST. */
    int Gather() {
        for (const char *q : {"FM.REPLY", "FM.FAIL"}) {
            MQHOBJ o = MQHO_UNUSABLE_HOBJ;
            if (Open(hConn, q, MQOO_INPUT_SHARED, &o) != 0)
                continue;
            MQMD md = MQMD_DEFAULT;
            std::string body;
            while (Get(hConn, o, &body, &md, MQGMO_NO_SYNCPOINT, 0, 4 << 20) == 0) {
                controls[Hex(md.CorrelId)].push_back(body.size() >= 24 ? Get(body, 20) : -1);
                bodies[Hex(md.CorrelId)].push_back(body);
                md = MQMD_DEFAULT;
            }
            Close(hConn, &o);
        }
        int whole = 0;
        for (const std::string &id : sent)
            for (long control : controls[id])
                whole += control >= 0 && (control & MQCFC_LAST) != 0;
        return whole;
    }

    static std::string Hex(const MQBYTE *id) {
        char h[2 * MQ_MSG_ID_LENGTH + 1];
        for (int i = 0; i < MQ_MSG_ID_LENGTH; i++)
            snprintf(h + 2 * i, 3, "%02X", id[i]);
        return h;
    }

    const std::string path = getenv("PATH") != nullptr ? getenv("PATH") : "/usr/bin:/bin";
    MQHCONN hConn = MQHC_UNUSABLE_HCONN;
    std::vector<std::string> sent;                          /* MsgIds of the requests, in hex */
    std::map<std::string, std::vector<long>> controls;      /* by CorrelId, in order */
    std::map<std::string, std::vector<std::string>> bodies; /* the same messages */
};

const char AGED[] = "CVLA303E Ageing out request for ReplyQ 'FM.REPLY'";
const char LOG_LOST[] = "CVLA204E Unable to open error log file";

const FAULT FAULTS[] = {
    /* The agent serves on. */
    {"CommandServerStopped", "", "maxage = 2\nreqchkdelay = 1\n", "cmdserver QM stop", "qmgr", 3,
     "", false, AGED, 3, 0, 3238, 1, 0},
    {"CommandServerSlow", "--queues 8", "", "cmdserver QM delay 40", "queues", 3, "", false,
     "CVLA404I Received 8 reply messages", 3, 0, 0, 1, 0},
    {"ReplyQueueFull", "", "retrycount = 2\nretryint = 1\n", "fault QM put FM.REPLY 2053 3", "qmgr",
     3, "", false, "CVLA107E MQPUT to queue 'QMTEST/FM.REPLY' failed with reason 2053", 1, 1, 0, 1,
     0},
    {"ReplyQueueFailsForGoodMidSeries", "--queues 40", "maxmsgsize = 4096\nretrycount = 0\n",
     "cmdserver QM delay 20", "queues", 3, "depth FM.FAIL; fault QM put FM.FAIL 2052 -1", false,
     "CVLA107E MQPUT to queue 'QMTEST/FM.FAIL' failed with reason 2052", -1, 1, 0, 0, 0},
    {"MalformedRequests", "", "", "", "malformed", 8, "", false, "CVLA401I", -1, 0, -1, 1, 0},
    {"ReplyLongerThanMaxmsgsize", "--queues 30000", "maxmsgsize = 65536\n", "", "names", 2, "",
     false, "CVLA403I Received reply message of length 14400", 2, 0, 0, 1, 65536},
    {"AThousandRequestsAtOnce", "", "", "", "qmgr", 1000, "", false, "CVLA401I Received PCF", 1000,
     0, 0, 1, 0},
    {"LogDirectoryRemovedLogFailFatalNo", "", "logfailfatal = no\nmaxlogsize = 1\n",
     "cmdserver QM stop", "qmgr", 3, "forwarded; log; cmdserver QM start", false, LOG_LOST, 1, 0, 0,
     1, 0},
    {"KeyToolMissingFromPath", "", "", "nokeytool", "cert key", 2, "", false,
     "CVLA225E Unable to open", 2, 0, MQRC_KEY_REPOSITORY_ERROR, 1, 0},
    {"KeyRepositoryMissing", "", "", "keytool", "cert missing", 2, "", false,
     "CVLA226E The key repository '", 2, 0, MQRC_KEY_REPOSITORY_ERROR, 1, 0},
    {"WrongStash", "", "", "keytool; badstash", "cert key", 2, "", false,
     "CVLA227E An invalid key repository password", 2, 0, MQRC_KEY_REPOSITORY_ERROR, 1, 0},
    /* Troubles at start-up that the agent reports (or gets past). */
    {"ConnectVersion7Refused", "--refuse-cno-v7", "", "", "qmgr", 3, "", false, "CVLA101E", 0, 0, 0,
     1, 0},
    {"ZosCommandQueue", "--platform zos", "commandq = NO.SUCH.COMMAND.QUEUE\n", "", "qmgr", 3, "",
     false, "CVLA104E", 0, 0, 0, 0, 0},
    {"QueueManagerOpenFails", "", "", "fault QM call MQOPEN QMGR 2035 1", "qmgr", 3, "", false,
     "CVLA102E MQOPEN of queue manager object failed with reason 2035 (", 1, 0, 0, 1, 0},
    {"QueueManagerInquiryFails", "", "", "fault QM call MQINQ QMGR 2035 1", "qmgr", 3, "", false,
     "CVLA103E MQINQ of queue manager object failed with reason 2035 (", 1, 0, 0, 1, 0},
    {"ConfigurationErrorOfAService", "", "maxmsgsize 64 KB\n", "", "qmgr", 3, "", false,
     "CVLA007E Unrecognised parameter 'KB'", 1, 0, 0, 1, 0},
    /* The agent ends. */
    {"BrokenConnection", "", "", "cmdserver QM stop", "qmgr", 3, "forwarded; break QM", true,
     "CVLA199E TORVIK received reason code 2009 (", 1, 3, -1, 0, 0},
    {"QuiescingQueueManager", "", "", "cmdserver QM stop", "qmgr", 3,
     "forwarded; stop QM --quiesce", true, "CVLA199E TORVIK received reason code 2161 (", 1, 3, -1,
     0, 0},
    {"ConnectionEvent", "", "", "cmdserver QM stop", "qmgr", 3, "forwarded; fault QM event 2202",
     true, "CVLA199E TORVIK received reason code 2202 (", 1, 3, -1, 0, 0},
    {"InputQueueGetDisabled", "", "", "cmdserver QM stop", "qmgr", 3,
     "forwarded; mqsc QM ALTER QLOCAL(CORVEL.TORVIK.COMMAND.QUEUE) GET(DISABLED)", true,
     "CVLA120E Queue 'CORVEL.TORVIK.COMMAND.QUEUE' has been GET(INHIBITED)", 1, 3, -1, 0, 0},
    {"LogDirectoryRemovedLogFailFatalYes", "", "logfailfatal = yes\nmaxlogsize = 1\n",
     "cmdserver QM stop", "qmgr", 3, "forwarded; log", true, LOG_LOST, 1, 3, -1, 0, 0},
    {"MissingCommandQueue", "", "commandq = NO.SUCH.COMMAND.QUEUE\n", "", "qmgr", 0, "", true,
     "CVLA104E MQOPEN of queue 'NO.SUCH.COMMAND.QUEUE' failed with reason 2085", 1, 0, -1, 0, 0},
    {"FailedMqctl", "", "", "fault QM call MQCTL * 2012 1", "qmgr", 0, "", true,
     "CVLA106E MQCTL on queue manager 'QMTEST' failed with reason 2012 (", 1, 0, -1, 0, 0},
};

}  // namespace

TEST_P(FaultMatrix, EveryRequestEndsInOneLastReplyOrIsReported) {
    Run(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, ::testing::ValuesIn(FAULTS),
                         [](const ::testing::TestParamInfo<FAULT> &info) {
                             return std::string(info.param.name);
                         });
