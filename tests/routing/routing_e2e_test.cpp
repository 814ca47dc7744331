/* routing_e2e_test.cpp -- requests routed through a running TORVIK to the
 * stand-in queue manager's command server and back to mqcmd: reply
 * identity, consolidation limits, compression and coalescing switches, the
 * agent's parameters, small reply queues, ageing, unknown replies, requests
 * of no format, put retries and z/OS text replies.
 *
 * Each test has its own temporary directory holding mqsim's state
 * ($MQSIM_DIR), the configuration file and the log; the agent and the
 * queue manager are ended by the test even when an assertion fails.
 */
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/test_process.h"
#include "core/test_support.h"
#include "platform/net.h"
#include "platform/platform.h"
#include "mqconst/mqi.h"
#include "mqconst/mqpcf.h"
#include "testbed/mqcmd_json.h"
#include "testbed/mqsim_fixture.h"
#include "testbed/mqsim_util.h"

namespace {

const std::string BIN = TV_BIN_DIR;
const std::string LIB = TV_LIB_DIR;
const char QM[] = "QMROUTE";

using RESULT = tvtest::PROGRAMRESULT;
using Background = tvtest::BackgroundProgram;
using tvtest::RunProgram;

/* One mqcmd run in --json mode: its messages and summary. */
struct ANSWER {
    int exitCode = -1;
    std::string out;
    std::vector<JVALUE> msgs;
    JVALUE summary;
};

long Num(const JVALUE &v, const char *key) {
    const JVALUE *f = v.Get(key);
    return f == nullptr ? -999999 : (long)f->number;
}
std::string Str(const JVALUE &v, const char *key) {
    const JVALUE *f = v.Get(key);
    return f == nullptr ? "<none>" : f->text;
}
const JVALUE &Pcf(const JVALUE &msg) {
    static JVALUE none;
    const JVALUE *p = msg.Get("pcf");
    return p == nullptr ? none : *p;
}
const std::vector<JVALUE> &Params(const JVALUE &msg) {
    static std::vector<JVALUE> none;
    const JVALUE *p = Pcf(msg).Get("params");
    return p == nullptr ? none : p->items;
}
int CountParam(const JVALUE &msg, long id) {
    int n = 0;
    for (const JVALUE &p : Params(msg))
        n += Num(p, "id") == id;
    return n;
}

class RoutingEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir.path().empty());
        ASSERT_EQ(qm.Prepare(), "");
        PLSetEnv("MQM_DLL_PATH", LIB.c_str());
        PLSetEnv("MQ_INSTALLATION_PATH", nullptr);
        std::filesystem::create_directories(dir.file("log"));
    }
    void TearDown() override {
        if (agent && !agent->Done()) {
            RunProgram({BIN + "/mqcmd", "-m", QM, "--simple", "STOP"}, 30000);
            /* The agent ends in order, whatever the test did to it. */
            EXPECT_TRUE(tvtest::WaitFor([&] { return agent->Done(); }, std::chrono::seconds(30)));
            if (agent->Done()) {
                const RESULT &r = agent->Join();
                EXPECT_EQ(r.proc.exitCode, 0) << r.out.substr(0, 4000);
            }
        }
        qm.Stop(); /* an agent still running ends with its connection */
        agent.reset();
    }

    void StartQueueManager(std::vector<std::string> options = {}) {
        options.insert(options.begin(), {"--mqsc", MqsimQueueManager::Sample("torvik.mqsc")});
        ASSERT_EQ(qm.Start(QM, options), "");
    }
    void Mqsim(const std::vector<std::string> &args) {
        std::string out;
        ASSERT_EQ(qm.Run(args, &out), 0) << out;
    }
    /* Start the agent with these configuration lines; wait until it runs. */
    void StartAgent(const std::string &config, std::vector<std::string> extra = {}) {
        tvtest::WriteFile(dir.file("torvik.cfg"),
                          "logpath = \"" + dir.file("log") + "\"\n" + config);
        std::vector<std::string> args = {BIN + "/torvik",       "-m", QM, "-k", "-f",
                                         dir.file("torvik.cfg")};
        args.insert(args.end(), extra.begin(), extra.end());
        agent = std::make_unique<Background>(args);
        ASSERT_TRUE(LogHas("CVLA004I Parameters in effect:")) << Log();
    }
    /* Stop the agent with the STOP command and wait for its end. */
    void StopAgent() {
        RunProgram({BIN + "/mqcmd", "-m", QM, "--simple", "STOP"}, 30000);
        ASSERT_TRUE(tvtest::WaitFor([&] { return agent->Done(); }, std::chrono::seconds(60)));
        EXPECT_EQ(agent->Join().proc.exitCode, 0) << agent->Join().out.substr(0, 4000);
        agent.reset();
        std::filesystem::remove(dir.file("log/TORVIK_Log01.txt"));
    }
    std::string Log() { return tvtest::ReadFile(dir.file("log/TORVIK_Log01.txt")); }
    bool LogHas(const std::string &what, int seconds = 30) {
        return tvtest::WaitFor([&] { return Log().find(what) != std::string::npos; },
                               std::chrono::seconds(seconds));
    }
    /* The agent's dynamic reply queue, from its parameters. */
    std::string ActualReplyQueue() {
        std::string log = Log();
        const std::string label = "  Actual Reply Queue   : ";
        size_t at = log.find(label);
        if (at == std::string::npos)
            return "";
        at += label.size();
        return log.substr(at, log.find('\n', at) - at);
    }

    /* mqcmd --json with args against the agent (or the queue named by -q
     * in args). */
    ANSWER Ask(std::vector<std::string> args, int waitSeconds = 60) {
        args.insert(args.begin(),
                    {BIN + "/mqcmd", "-m", QM, "--json", "--wait", std::to_string(waitSeconds)});
        RESULT r = RunProgram(args, (uint32_t)(waitSeconds + 60) * 1000);
        ANSWER a;
        a.exitCode = r.rc == 0 ? r.proc.exitCode : -1;
        a.out = r.out;
        for (const std::string &line : tvtest::SplitLines(r.out)) {
            if (line.empty() || line[0] != '{')
                continue;
            JVALUE v;
            std::string err;
            if (!JsonReader::Parse(line, &v, &err)) {
                ADD_FAILURE() << err << "\n" << line.substr(0, 300);
                continue;
            }
            if (v.Get("summary") != nullptr)
                a.summary = *v.Get("summary");
            else
                a.msgs.push_back(v);
        }
        return a;
    }
    static std::vector<std::string> InquireAllQueues() {
        return {"--pcf", "INQUIRE_Q", "MQCA_Q_NAME=*", "MQIACF_Q_ATTRS=MQIACF_ALL"};
    }
    /* The queue names in a set of replies, and a check that every
     * message's ParameterCount matches its parameters. */
    static std::vector<std::string> QueueNames(const ANSWER &a) {
        std::vector<std::string> names;
        for (const JVALUE &m : a.msgs) {
            EXPECT_EQ(Num(Pcf(m), "parameterCount"), (long)Params(m).size());
            for (const JVALUE &p : Params(m))
                if (Num(p, "id") == MQCA_Q_NAME_ID)
                    names.push_back(Str(p, "value"));
        }
        return names;
    }
    static constexpr long MQCA_Q_NAME_ID = 2016;
    static constexpr long DELIMITER_ID = 40000;

    tvtest::TempDir dir;
    MqsimQueueManager qm;
    std::unique_ptr<Background> agent;
};

std::string Trim(std::string s) {
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

}  // namespace

TEST_F(RoutingEndToEnd, RepliesCarryTheIdentifiersTheRequesterAskedFor) {
    StartQueueManager({"--queues", "3"});
    StartAgent("certevent = no\n");
    const std::string msgId = "AA0102030405060708090A0B0C0D0E0F1011121314151617";
    const std::string correlId = "CC0102030405060708090A0B0C0D0E0F1011121314151617";
    struct Case {
        const char *report;
        bool passMsgId;
        bool passCorrelId;
    } cases[] = {{"", false, false},
                 {"PASS_MSG_ID", true, false},
                 {"PASS_CORREL_ID", false, true},
                 {"PASS_MSG_ID,PASS_CORREL_ID", true, true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.report);
        std::vector<std::string> args = {"--msgid", msgId, "--correlid", correlId};
        if (c.report[0] != '\0') {
            args.push_back("--report");
            args.push_back(c.report);
        }
        std::vector<std::string> q = InquireAllQueues();
        args.insert(args.end(), q.begin(), q.end());
        ANSWER a = Ask(args);
        ASSERT_EQ(a.exitCode, 0) << a.out << Log();
        ASSERT_GE(a.msgs.size(), 1u);
        for (const JVALUE &m : a.msgs) {
            if (c.passMsgId) {
                EXPECT_EQ(Str(m, "msgId"), msgId);
            } else {
                EXPECT_NE(Str(m, "msgId"), msgId);
            }
            EXPECT_EQ(Str(m, "correlId"), c.passCorrelId ? correlId : msgId);
        }
        EXPECT_GE(QueueNames(a).size(), 3u);
    }
}

TEST_F(RoutingEndToEnd, ConsolidatesHundredQueuesIntoFewMessagesUnderTheLimit) {
    StartQueueManager({"--queues", "100"});
    StartAgent("certevent = no\nmaxmsgsize = 65536\n");
    ANSWER direct = Ask([] {
        std::vector<std::string> a = {"-q", "SYSTEM.ADMIN.COMMAND.QUEUE"};
        std::vector<std::string> q = InquireAllQueues();
        a.insert(a.end(), q.begin(), q.end());
        return a;
    }());
    ASSERT_EQ(direct.exitCode, 0) << direct.out;
    ASSERT_GE(direct.msgs.size(), 100u);

    ANSWER routed = Ask(InquireAllQueues());
    ASSERT_EQ(routed.exitCode, 0) << routed.out << Log();
    EXPECT_LE(routed.msgs.size(), 6u);
    EXPECT_GE(routed.msgs.size(), 2u) << "100 replies of about 1 KB do not fit 64 KB";
    int separators = 0;
    for (const JVALUE &m : routed.msgs) {
        EXPECT_LT(Num(m, "length"), 65536);
        separators += CountParam(m, DELIMITER_ID);
        for (const JVALUE &p : Params(m)) {
            if (Num(p, "id") == DELIMITER_ID) {
                EXPECT_EQ((long)p.Get("value")->number, 2) << "the Type of the merged reply";
            }
        }
    }
    EXPECT_EQ(separators, (int)(direct.msgs.size() - routed.msgs.size()));
    /* The same queues, names without their blanks (each mqcmd run has a
     * temporary reply queue of its own, left out). */
    std::vector<std::string> want, got;
    for (const std::string &n : QueueNames(direct))
        if (n.rfind("MQCMD.", 0) != 0)
            want.push_back(Trim(n));
    for (const std::string &n : QueueNames(routed))
        if (n.rfind("MQCMD.", 0) != 0)
            got.push_back(n);
    EXPECT_EQ(got, want);
    EXPECT_EQ(QueueNames(routed).size(), QueueNames(direct).size());
    long routedBytes = Num(routed.summary, "bytes"), directBytes = Num(direct.summary, "bytes");
    EXPECT_LT(routedBytes, directBytes * 7 / 10) << "compression saves at least 30%";
    /* The last message ends the set. */
    EXPECT_EQ(Num(Pcf(routed.msgs.back()), "control") & 1, 1);
}

TEST_F(RoutingEndToEnd, CompressAndCoalesceCanBeSwitchedOff) {
    StartQueueManager({"--queues", "5"});
    Mqsim({"mqsc", QM, "DEFINE QLOCAL(ROUTE.EIGHTEEN.CHR)"});
    std::vector<std::string> one = {"--pcf", "INQUIRE_Q", "MQCA_Q_NAME=ROUTE.EIGHTEEN.CHR"};
    std::vector<std::string> apps = {"--pcf", "INQUIRE_Q", "MQCA_Q_NAME=APP.*"};

    /* Defaults: the 48-byte name is cut to its 18 characters. */
    StartAgent("certevent = no\n");
    ANSWER a = Ask(one);
    ASSERT_EQ(a.exitCode, 0) << a.out;
    ASSERT_EQ(a.msgs.size(), 1u);
    bool seen = false;
    for (const JVALUE &p : Params(a.msgs[0]))
        if (Num(p, "id") == MQCA_Q_NAME_ID) {
            EXPECT_EQ(Str(p, "value"), "ROUTE.EIGHTEEN.CHR");
            EXPECT_EQ(Num(p, "strucLength"), 40);
            seen = true;
        }
    EXPECT_TRUE(seen);
    a = Ask(apps);
    ASSERT_EQ(a.exitCode, 0) << a.out;
    EXPECT_EQ(a.msgs.size(), 1u);
    EXPECT_EQ(CountParam(a.msgs[0], DELIMITER_ID), 4);
    StopAgent();

    /* compress no: the names keep their blanks, the replies still merge. */
    StartAgent("certevent = no\ncompress = no\n");
    a = Ask(one);
    ASSERT_EQ(a.exitCode, 0) << a.out;
    ASSERT_EQ(a.msgs.size(), 1u);
    for (const JVALUE &p : Params(a.msgs[0]))
        if (Num(p, "id") == MQCA_Q_NAME_ID) {
            EXPECT_EQ(Str(p, "value"), "ROUTE.EIGHTEEN.CHR" + std::string(30, ' '));
            EXPECT_EQ(Num(p, "strucLength"), 68);
        }
    a = Ask(apps);
    ASSERT_EQ(a.exitCode, 0) << a.out;
    EXPECT_EQ(a.msgs.size(), 1u);
    StopAgent();

    /* coalesce no: one message per reply, no separators. */
    StartAgent("certevent = no\ncoalesce = no\n");
    a = Ask(apps);
    ASSERT_EQ(a.exitCode, 0) << a.out;
    ASSERT_EQ(a.msgs.size(), 5u);
    for (const JVALUE &m : a.msgs) {
        EXPECT_EQ(CountParam(m, DELIMITER_ID), 0);
        EXPECT_EQ(CountParam(m, MQCA_Q_NAME_ID), 1);
    }
    EXPECT_EQ(QueueNames(a).size(), 5u);
}

TEST_F(RoutingEndToEnd, InquireQueueManagerCarriesTheAgentParameters) {
    StartQueueManager();
    StartAgent(""); /* certevent asqmgr, the default */
    ANSWER a = Ask({"--pcf", "INQUIRE_Q_MGR"});
    ASSERT_EQ(a.exitCode, 0) << a.out;
    ASSERT_EQ(a.msgs.size(), 1u);
    long level = -1, features = -1;
    for (const JVALUE &p : Params(a.msgs[0])) {
        if (Num(p, "id") == 20000)
            level = (long)p.Get("value")->number;
        if (Num(p, "id") == 20001)
            features = (long)p.Get("value")->number;
    }
    EXPECT_EQ(level, 940);
    EXPECT_EQ(features, 30);
    EXPECT_EQ(Num(Pcf(a.msgs[0]), "parameterCount"), (long)Params(a.msgs[0]).size());
    /* Other commands get no agent parameters. */
    a = Ask({"--pcf", "INQUIRE_Q", "MQCA_Q_NAME=SYSTEM.ADMIN.COMMAND.QUEUE"});
    ASSERT_EQ(a.exitCode, 0) << a.out;
    ASSERT_EQ(a.msgs.size(), 1u);
    EXPECT_EQ(CountParam(a.msgs[0], 20000), 0);
}

TEST_F(RoutingEndToEnd, SmallReplyQueueLimitsConsolidationAndIsReportedOnce) {
    StartQueueManager({"--queues", "100"});
    Mqsim({"mqsc", QM, "DEFINE QLOCAL(SMALL.REPLY) MAXMSGL(65536)"});
    StartAgent("certevent = no\n");
    for (int run = 0; run < 2; run++) {
        std::vector<std::string> args = {"--reply-q", "SMALL.REPLY"};
        std::vector<std::string> q = InquireAllQueues();
        args.insert(args.end(), q.begin(), q.end());
        ANSWER a = Ask(args);
        ASSERT_EQ(a.exitCode, 0) << a.out << Log();
        EXPECT_GE(a.msgs.size(), 2u);
        for (const JVALUE &m : a.msgs)
            EXPECT_LE(Num(m, "length"), 65536);
        EXPECT_GE(QueueNames(a).size(), 100u);
    }
    std::string log = Log();
    EXPECT_EQ(tvtest::CountOf(log, "CVLA304I"), 1) << log;
    EXPECT_NE(log.find("CVLA304I ReplyQ " + std::string(QM) +
                       "/SMALL.REPLY (PREDEFINED) has smaller MaxMsgLen (65536)\nthan configured "
                       "maxmsgsize (1048576). Consolidation size reduced accordingly\n"),
              std::string::npos)
        << log;
}

TEST_F(RoutingEndToEnd, SilentCommandServerGivesTheNoResponseReply) {
    StartQueueManager();
    StartAgent("certevent = no\nmaxage = 2\nreqchkdelay = 1\n");
    Mqsim({"cmdserver", QM, "stop"});
    const std::string msgId = "5EED0102030405060708090A0B0C0D0E0F10111213141516";
    ANSWER a = Ask({"--msgid", msgId, "--pcf", "INQUIRE_Q_MGR"});
    ASSERT_EQ(a.exitCode, 0) << a.out << Log();
    ASSERT_EQ(a.msgs.size(), 1u);
    const JVALUE &m = a.msgs[0];
    EXPECT_EQ(Num(m, "length"), 104);
    EXPECT_EQ(Str(m, "correlId"), msgId);
    EXPECT_EQ(Num(m, "msgType"), 2);
    EXPECT_EQ(Num(Pcf(m), "type"), 1);
    EXPECT_EQ(Num(Pcf(m), "command"), 2);
    EXPECT_EQ(Num(Pcf(m), "compCode"), 2);
    EXPECT_EQ(Num(Pcf(m), "reason"), 3238);
    EXPECT_EQ(Num(Pcf(m), "control"), 1);
    ASSERT_EQ(Params(m).size(), 1u);
    EXPECT_EQ(Num(Params(m)[0], "id"), 39999);
    EXPECT_EQ(Str(Params(m)[0], "value"), "CVLA501E No response from IBM MQ Command Server");
    std::string log = Log();
    EXPECT_NE(log.find("CVLA303E Ageing out request for ReplyQ 'MQCMD."), std::string::npos) << log;
    EXPECT_NE(log.find(" MsgId: " + msgId + "\n"), std::string::npos) << log;
}

TEST_F(RoutingEndToEnd, UnknownRepliesAndRequestsOfNoFormat) {
    StartQueueManager();
    StartAgent("certevent = no\n", {"-v", "High"});

    /* A reply nobody asked for. */
    std::string replyQ = ActualReplyQueue();
    ASSERT_FALSE(replyQ.empty());
    RESULT put =
        RunProgram({BIN + "/mqcmd", "put", "-q", replyQ, "-m", QM, "--format", "MQADMIN", "stray"});
    ASSERT_EQ(put.rc, 0);
    ASSERT_EQ(put.proc.exitCode, 0) << put.out;
    size_t at = put.out.find("MsgId ");
    ASSERT_NE(at, std::string::npos) << put.out;
    std::string hex = put.out.substr(at + 6, 48);
    ASSERT_TRUE(LogHas("CVLA302E Unrecognised reply received MsgId: " + hex + "\n")) << Log();

    /* A request of format none: no reply, no message, not counted. */
    std::string before = Log();
    tvtest::WriteFile(dir.file("none.bin"), std::string(40, 'x'));
    ANSWER a = Ask({"--raw-file", dir.file("none.bin"), "--format", "NONE"}, 3);
    EXPECT_EQ(a.exitCode, 2);
    EXPECT_EQ(a.msgs.size(), 0u);
    RESULT report = RunProgram({BIN + "/mqcmd", "-m", QM, "--simple", "REPORT"});
    ASSERT_EQ(report.proc.exitCode, 0);
    ASSERT_TRUE(LogHas("CVLA080I TORVIK Status Report")) << Log();
    std::string added = Log().substr(before.size());
    EXPECT_EQ(added.find("CVLA080I"), added.find("CVLA")) << "nothing before the report: " << added;
    EXPECT_NE(added.find("  Commands Received         :           0 :           0\n"),
              std::string::npos)
        << added;
}

TEST_F(RoutingEndToEnd, RepliesToAFullQueueAreRetriedAndTheRequestStillCompletes) {
    StartQueueManager();
    Mqsim({"mqsc", QM, "DEFINE QLOCAL(RETRY.REPLY)"});
    StartAgent("certevent = no\nretrycount = 2\nretryint = 1\nmaxage = 3\nreqchkdelay = 1\n",
               {"-v", "High"});
    Mqsim({"fault", QM, "put", "RETRY.REPLY", "2053", "3"});
    ANSWER a = Ask({"--reply-q", "RETRY.REPLY", "--pcf", "INQUIRE_Q_MGR"}, 6);
    EXPECT_EQ(a.exitCode, 2);
    EXPECT_EQ(a.msgs.size(), 0u);
    const std::string name = std::string(QM) + "/RETRY.REPLY";
    ASSERT_TRUE(LogHas("CVLA107E MQPUT to queue '" + name + "' failed with reason 2053")) << Log();
    std::string log = Log();
    EXPECT_EQ(tvtest::CountOf(log, "CVLA108E MQPUT to queue '" + name +
                                       "' failed with reason "
                                       "2053"),
              2)
        << log;
    EXPECT_NE(log.find("Retry #2 after 1 seconds"), std::string::npos);

    /* The failed request was completed, not left to age: with the command
     * server stopped, a second request ages out alone. */
    Mqsim({"cmdserver", QM, "stop"});
    ANSWER b = Ask({"--pcf", "INQUIRE_Q_MGR"});
    ASSERT_EQ(b.exitCode, 0) << b.out;
    ASSERT_EQ(b.msgs.size(), 1u);
    EXPECT_EQ(Num(Pcf(b.msgs[0]), "reason"), 3238);
    EXPECT_EQ(tvtest::CountOf(Log(), "CVLA303E"), 1) << Log();
    EXPECT_EQ(tvtest::CountOf(Log(), "ReplyQ 'RETRY.REPLY'"), 0) << Log();

    RESULT report = RunProgram({BIN + "/mqcmd", "-m", QM, "--simple", "REPORT"});
    ASSERT_EQ(report.proc.exitCode, 0);
    ASSERT_TRUE(LogHas("CVLA080I TORVIK Status Report")) << Log();
    log = Log();
    EXPECT_NE(log.find("  Failed Puts               :           3 :           3\n"),
              std::string::npos)
        << log;
}

TEST_F(RoutingEndToEnd, AReplyThatCanNeverBePutDoesNotHoldUpOtherRequesters) {
    StartQueueManager();
    Mqsim({"mqsc", QM, "DEFINE QLOCAL(TINY.REPLY) MAXMSGL(100)"});
    /* Were the reply retried, the consumer would wait ten minutes. */
    StartAgent("certevent = no\nretrycount = 10\nretryint = 60\n");
    ANSWER tiny = Ask({"--reply-q", "TINY.REPLY", "--pcf", "INQUIRE_Q_MGR"}, 3);
    EXPECT_EQ(tiny.msgs.size(), 0u);
    ANSWER other = Ask({"--pcf", "PING_Q_MGR"}, 60);
    ASSERT_EQ(other.exitCode, 0) << other.out << Log();
    ASSERT_EQ(other.msgs.size(), 1u);
    std::string log = Log();
    EXPECT_EQ(tvtest::CountOf(log, "CVLA107E MQPUT to queue '" + std::string(QM) +
                                       "/TINY.REPLY' failed with reason 2030"),
              1)
        << log;
}

TEST_F(RoutingEndToEnd, DistinctReplyQueuesBeyondTheHandleLimitAreAllAnswered) {
    StartQueueManager();
    const int queues = 12;
    for (int i = 0; i <= queues; i++)
        Mqsim({"mqsc", QM, "DEFINE QLOCAL(APP.REPLY." + std::to_string(i) + ")"});
    StartAgent("certevent = no\nhobjmax = 4\n", {"-v", "High"});
    for (int i = 0; i < queues; i++) {
        ANSWER a = Ask({"--reply-q", "APP.REPLY." + std::to_string(i), "--pcf", "PING_Q_MGR"});
        ASSERT_EQ(a.exitCode, 0) << i << a.out << Log();
        ASSERT_EQ(a.msgs.size(), 1u) << i;
    }
    /* The least recently used handles were closed to stay within 4. */
    EXPECT_EQ(tvtest::CountOf(Log(), "CVLA111I MQCLOSE of cached handle"), queues - 4) << Log();

    /* The connection has no handle left when the next queue is opened:
     * idle handles are closed and the open made again. The requester has
     * its reply queue open before the opens start to fail. */
    const std::string last = "APP.REPLY." + std::to_string(queues);
    MQHCONN h = MQHC_UNUSABLE_HCONN;
    ASSERT_EQ(Connect(QM, &h), 0);
    MQHOBJ reply = MQHO_UNUSABLE_HOBJ, input = MQHO_UNUSABLE_HOBJ;
    ASSERT_EQ(Open(h, last.c_str(), MQOO_INPUT_EXCLUSIVE, &reply), 0);
    ASSERT_EQ(Open(h, "CORVEL.TORVIK.COMMAND.QUEUE", MQOO_OUTPUT, &input), 0);
    Mqsim({"fault", QM, "call", "MQOPEN", last, "2017", "2"});
    MQCFH cfh = MQCFH_DEFAULT;
    cfh.Command = MQCMD_PING_Q_MGR;
    MQMD md = MQMD_DEFAULT;
    memcpy(md.Format, MQFMT_ADMIN, 8);
    md.MsgType = MQMT_REQUEST;
    SetName(md.ReplyToQ, sizeof md.ReplyToQ, last.c_str());
    ASSERT_EQ(Put(h, input, std::string((const char *)&cfh, sizeof cfh), &md), 0);
    MQMD got = MQMD_DEFAULT;
    std::string text;
    EXPECT_EQ(Get(h, reply, &text, &got, MQGMO_NO_SYNCPOINT, 60000), 0) << Log();
    Close(h, &reply);
    Close(h, &input);
    Disconnect(&h);
    EXPECT_EQ(Log().find("CVLA104E"), std::string::npos) << Log();
}

TEST_F(RoutingEndToEnd, ADroppedReplyIsReportedOnceAndCountedAsAFailedPut) {
    StartQueueManager();
    Mqsim({"mqsc", QM, "DEFINE QLOCAL(R.Q)"});
    StartAgent("certevent = no\n");
    ANSWER a = Ask({"--reply-q", "R.Q", "--reply-qmgr", "NO.SUCH.QMGR", "--pcf", "PING_Q_MGR"}, 3);
    EXPECT_EQ(a.msgs.size(), 0u);
    ASSERT_TRUE(LogHas("CVLA104E")) << Log();
    RESULT report = RunProgram({BIN + "/mqcmd", "-m", QM, "--simple", "REPORT"});
    ASSERT_EQ(report.proc.exitCode, 0);
    ASSERT_TRUE(LogHas("CVLA080I TORVIK Status Report")) << Log();
    std::string log = Log();
    EXPECT_EQ(tvtest::CountOf(log, "CVLA104E"), 1) << log;
    EXPECT_NE(log.find("  Failed Puts               :           1 :           1\n"),
              std::string::npos)
        << log;
}

TEST_F(RoutingEndToEnd, RepliesGoThroughARemoteReplyQueueManager) {
    StartQueueManager({"--queues", "3"});
    /* REMOTEQM is reached through the transmission queue of that name. */
    Mqsim({"mqsc", QM, "DEFINE QLOCAL(REMOTEQM)"});
    Mqsim({"mqsc", QM, "DEFINE QLOCAL(R.Q)"});
    StartAgent("certevent = no\nretrycount = 0\n");
    std::vector<std::string> args = {"--reply-q", "R.Q",       "--reply-qmgr",     "REMOTEQM",
                                     "--pcf",     "INQUIRE_Q", "MQCA_Q_NAME=APP.*"};
    ANSWER a = Ask(args, 3);
    EXPECT_EQ(a.msgs.size(), 0u) << "nothing on the local R.Q";
    RESULT got =
        RunProgram({BIN + "/mqcmd", "get", "-q", "REMOTEQM", "-m", QM, "--wait", "5", "--json"});
    ASSERT_EQ(got.rc, 0);
    std::vector<JVALUE> msgs;
    for (const std::string &line : tvtest::SplitLines(got.out)) {
        JVALUE v;
        if (!line.empty() && line[0] == '{' && JsonReader::Parse(line, &v, nullptr) &&
            v.Get("summary") == nullptr)
            msgs.push_back(v);
    }
    ASSERT_EQ(msgs.size(), 1u) << got.out;
    EXPECT_EQ(CountParam(msgs[0], MQCA_Q_NAME_ID), 3);
    EXPECT_EQ(CountParam(msgs[0], DELIMITER_ID), 2);

    /* In messages the queue is named with its queue manager. */
    Mqsim({"fault", QM, "put", "REMOTEQM", "2053", "1"});
    a = Ask(args, 3);
    ASSERT_TRUE(LogHas("CVLA107E MQPUT to queue 'REMOTEQM/R.Q' failed with reason 2053")) << Log();
}

TEST_F(RoutingEndToEnd, ZosTextRepliesAreJoinedIntoOneMessage) {
    StartQueueManager({"--platform", "zos", "--queues", "3"});
    StartAgent("certevent = no\n");
    ANSWER a = Ask({"--linger", "1500", "--mqsc", "DISPLAY QUEUE(APP.*)"});
    ASSERT_EQ(a.exitCode, 0) << a.out << Log();
    ASSERT_EQ(a.msgs.size(), 1u) << a.out;
    const JVALUE *text = a.msgs[0].Get("text");
    ASSERT_NE(text, nullptr);
    std::string t = text->text;
    ASSERT_GT(t.size(), 9u);
    EXPECT_EQ(t[8], '*');
    EXPECT_EQ(t.substr(0, 8), "CSQN205I");
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t i = 0; i <= t.size(); i++)
        if (i == t.size() || t[i] == '\0') {
            parts.push_back(t.substr(start, i - start));
            start = i + 1;
        }
    ASSERT_GE(parts.size(), 5u) << "count line, three queues, completion";
    EXPECT_EQ(parts.back().substr(0, 8), "CSQ9022I");
    EXPECT_EQ(Str(a.msgs[0], "format"), "MQCMD1  ");
}

/* The acceptance: five thousand queues through the agent in at
 * most ten messages that hold every queue's attributes. */
TEST_F(RoutingEndToEnd, FiveThousandQueuesArriveInAtMostTenMessages) {
    StartQueueManager({"--queues", "5000"});
    StartAgent("certevent = no\n");
    std::vector<std::string> d = {"-q", "SYSTEM.ADMIN.COMMAND.QUEUE"};
    std::vector<std::string> q = InquireAllQueues();
    d.insert(d.end(), q.begin(), q.end());
    ANSWER direct = Ask(d, 120);
    ASSERT_EQ(direct.exitCode, 0) << direct.out.substr(0, 500);
    ANSWER routed = Ask(InquireAllQueues(), 120);
    ASSERT_EQ(routed.exitCode, 0) << routed.out.substr(0, 500) << Log();
    EXPECT_LE(routed.msgs.size(), 10u);
    long directParms = 0, routedParms = 0;
    for (const JVALUE &m : direct.msgs)
        directParms += Num(Pcf(m), "parameterCount");
    for (const JVALUE &m : routed.msgs)
        routedParms += Num(Pcf(m), "parameterCount");
    EXPECT_EQ(routedParms, directParms + (long)(direct.msgs.size() - routed.msgs.size()));
    EXPECT_EQ(QueueNames(routed).size(), QueueNames(direct).size());
    EXPECT_GE(QueueNames(routed).size(), 5000u);
}

/* Ten thousand requests put at once: every one gets exactly one reply set,
 * none is lost or answered twice. */
TEST_F(RoutingEndToEnd, FloodOfTenThousandRequestsIsAnsweredOnceEach) {
    StartQueueManager();
    StartAgent("certevent = no\nmaxage = 600\n");
    MQHCONN h = MQHC_UNUSABLE_HCONN;
    ASSERT_EQ(Connect(QM, &h), 0);
    MQHOBJ reply = MQHO_UNUSABLE_HOBJ;
    MQOD od;
    ASSERT_EQ(
        Open(h, "SYSTEM.DEFAULT.MODEL.QUEUE", MQOO_INPUT_EXCLUSIVE, &reply, &od, "", "FLOOD.*"), 0);
    std::string replyQ = GetName(od.ObjectName, sizeof od.ObjectName);
    MQHOBJ input = MQHO_UNUSABLE_HOBJ;
    ASSERT_EQ(Open(h, "CORVEL.TORVIK.COMMAND.QUEUE", MQOO_OUTPUT, &input), 0);

    /* PING_Q_MGR: one reply each, so every reply set is one message. */
    MQCFH cfh = MQCFH_DEFAULT;
    cfh.Command = MQCMD_PING_Q_MGR;
    std::string body((const char *)&cfh, sizeof cfh);
    const int n = 10000;
    std::set<std::string> sent;
    for (int i = 0; i < n; i++) {
        MQMD md = MQMD_DEFAULT;
        memcpy(md.Format, MQFMT_ADMIN, 8);
        md.MsgType = MQMT_REQUEST;
        SetName(md.ReplyToQ, sizeof md.ReplyToQ, replyQ.c_str());
        ASSERT_EQ(Put(h, input, body, &md), 0) << i;
        sent.insert(std::string((const char *)md.MsgId, 24));
    }
    /* A marker behind the flood: its reply comes after every other. */
    MQMD marker = MQMD_DEFAULT;
    memcpy(marker.Format, MQFMT_ADMIN, 8);
    marker.MsgType = MQMT_REQUEST;
    SetName(marker.ReplyToQ, sizeof marker.ReplyToQ, replyQ.c_str());
    ASSERT_EQ(Put(h, input, body, &marker), 0);
    std::string markerId((const char *)marker.MsgId, 24);

    std::multiset<std::string> answered;
    bool markerSeen = false;
    while (!markerSeen) {
        MQMD md = MQMD_DEFAULT;
        std::string text;
        MQLONG rc = Get(h, reply, &text, &md, MQGMO_NO_SYNCPOINT, 60000);
        ASSERT_EQ(rc, 0) << answered.size() << " replies so far" << Log().substr(0, 2000);
        std::string correl((const char *)md.CorrelId, 24);
        if (correl == markerId) {
            markerSeen = true;
            continue;
        }
        answered.insert(correl);
        ASSERT_GE(text.size(), sizeof(MQCFH));
        MQLONG control;
        memcpy(&control, text.data() + 20, 4);
        EXPECT_EQ(control & MQCFC_LAST, MQCFC_LAST);
    }
    EXPECT_EQ(answered.size(), (size_t)n);
    EXPECT_EQ(std::set<std::string>(answered.begin(), answered.end()), sent);
    Close(h, &reply);
    Close(h, &input);
    Disconnect(&h);
    EXPECT_EQ(Log().find("CVLA302E"), std::string::npos);
    EXPECT_EQ(Log().find("CVLA303E"), std::string::npos);
}

/* TORVIK's own command in each form: a syntax error comes back as CVLA601E
 * and the help text, as two text replies or two escape responses; other
 * escape commands still reach the command server; PCF 9500 is the agent's
 * own (here the queue manager has no key repository: 2381). */
TEST_F(RoutingEndToEnd, DisplayCertIsAnsweredByTheAgentInTheFormItCameIn) {
    StartQueueManager();
    StartAgent("certevent = no\n");
    const std::string segment =
        "CVLA601E Syntax error detected at or near end of command segment below:-\nDIS CERT\n";
    const std::string helpStart = "CVLA620E Valid syntax for the TORVIK command:\n";

    ANSWER a = Ask({"--linger", "1500", "--mqsc", "DIS CERT"});
    ASSERT_EQ(a.msgs.size(), 2u) << a.out << Log();
    EXPECT_EQ(Str(a.msgs[0], "format"), "MQSTR   ");
    EXPECT_EQ(Str(a.msgs[0], "text"), segment);
    EXPECT_EQ(Str(a.msgs[1], "text").substr(0, helpStart.size()), helpStart);

    a = Ask({"--linger", "1500", "--escape", "DIS CERT"});
    ASSERT_EQ(a.msgs.size(), 2u) << a.out;
    for (size_t i = 0; i < 2; i++) {
        EXPECT_EQ(Num(Pcf(a.msgs[i]), "reason"), 3008);
        ASSERT_EQ(Params(a.msgs[i]).size(), 2u);
        std::string text = Str(Params(a.msgs[i])[1], "value");
        EXPECT_EQ(i == 0 ? text : text.substr(0, helpStart.size()), i == 0 ? segment : helpStart);
    }

    a = Ask({"--escape", "DISPLAY QMGR"});
    ASSERT_EQ(a.exitCode, 0) << a.out;
    ASSERT_FALSE(a.msgs.empty());
    EXPECT_EQ(Num(Pcf(a.msgs[0]), "compCode"), 0) << a.out;
    EXPECT_NE(a.out.find("QMNAME"), std::string::npos) << a.out;

    a = Ask({"--pcf", "9500"});
    ASSERT_EQ(a.exitCode, 0) << a.out;
    ASSERT_EQ(a.msgs.size(), 1u) << a.out;
    EXPECT_EQ(Num(Pcf(a.msgs[0]), "command"), 9500);
    EXPECT_EQ(Num(Pcf(a.msgs[0]), "reason"), 2381);
    EXPECT_EQ(Log().find("CVLA107E"), std::string::npos) << Log();
}
