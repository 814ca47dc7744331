/* routing_e2e_test.cpp -- thousands of replies routed through a running
 * TORVIK from the stand-in's command server back to mqcmd. The rules behind
 * them are tested on the modules, faults with requests in flight in the
 * fault matrix. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/harness.h"

namespace {

using namespace tvtest;

constexpr long MQCA_Q_NAME_ID = 2016;

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
