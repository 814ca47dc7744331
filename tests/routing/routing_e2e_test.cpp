/* routing_e2e_test.cpp -- requests routed through a running TORVIK to the
 * stand-in queue manager's command server and back to mqcmd: consolidation
 * of thousands of replies, replies through a remote queue manager and the
 * agent's own DISPLAY CERT command in each form. The rules behind them
 * (identifiers, compression and coalescing switches, agent parameters,
 * small reply queues, z/OS joining, floods) are tested on the modules;
 * faults with requests in flight in the fault matrix.
 */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/harness.h"

namespace {

using namespace tvtest;

constexpr long MQCA_Q_NAME_ID = 2016;
constexpr long DELIMITER_ID = 40000;

const std::vector<std::string> INQUIRE_ALL_QUEUES = {"--pcf", "INQUIRE_Q", "MQCA_Q_NAME=*",
                                                     "MQIACF_Q_ATTRS=MQIACF_ALL"};

/* The queue names in a set of replies, and a check that every message's
 * ParameterCount matches its parameters. */
std::vector<std::string> QueueNames(const ANSWER &a) {
    std::vector<std::string> names;
    for (const JVALUE &m : a.msgs) {
        EXPECT_EQ(Num(Pcf(m), "parameterCount"), (long)Params(m).size());
        for (const JVALUE &p : Params(m))
            if (Num(p, "id") == MQCA_Q_NAME_ID)
                names.push_back(Str(p, "value"));
    }
    return names;
}

class RoutingEndToEnd : public AgentTest {};

}  // namespace

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
    ANSWER got = RunMqcmd({"get", "-q", "REMOTEQM", "-m", QM, "--wait", "5", "--json"});
    const std::vector<JVALUE> &msgs = got.msgs;
    ASSERT_EQ(msgs.size(), 1u) << got.out;
    EXPECT_EQ(CountParam(msgs[0], MQCA_Q_NAME_ID), 3);
    EXPECT_EQ(CountParam(msgs[0], DELIMITER_ID), 2);
}

/* The acceptance: five thousand queues through the agent in at
 * most ten messages that hold every queue's attributes. */
TEST_F(RoutingEndToEnd, FiveThousandQueuesArriveInAtMostTenMessages) {
    StartQueueManager({"--queues", "5000"});
    StartAgent("certevent = no\n");
    std::vector<std::string> d = {"-q", "SYSTEM.ADMIN.COMMAND.QUEUE"};
    d.insert(d.end(), INQUIRE_ALL_QUEUES.begin(), INQUIRE_ALL_QUEUES.end());
    ANSWER direct = Ask(d, 120);
    ASSERT_EQ(direct.exitCode, 0) << direct.out.substr(0, 500);
    ANSWER routed = Ask(INQUIRE_ALL_QUEUES, 120);
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
    EXPECT_LT(Num(routed.summary, "bytes"), Num(direct.summary, "bytes") * 7 / 10)
        << "compression saves at least 30%";
    EXPECT_TRUE(EndsWithOneLast(routed));
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
