/* cmdsrv_control_test.cpp -- `mqsim cmdserver QM stop|start|delay MS`: a
 * stopped command server leaves commands on its queue, a started one answers
 * them, a delay holds back each reply, and a queue manager ends even while a
 * reply is being held. */
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "cmdsrv_util.h"
#include "support/process.h"

namespace {

TEST(CmdsrvControl, StopStartAndDelayTheCommandServer) {
    MqsimQueueManager qm;
    ASSERT_EQ(qm.Start("QM1", {"--queues", "3"}), "");
    CmdClient client;
    ASSERT_EQ(client.Open("QM1"), "");
    auto mqsim = [&](std::vector<std::string> args, int rc = 0) {
        std::string out;
        EXPECT_EQ(qm.Run(args, &out), rc) << out;
        return out;
    };
    mqsim({"cmdserver", "QM1", "stop"});
    EXPECT_NE(mqsim({"status", "QM1"}).find("CMDSERVER(STOPPED)"), std::string::npos);
    /* the command waits on the queue, unanswered, until a start */
    ASSERT_EQ(client.Send("SYSTEM.ADMIN.COMMAND.QUEUE", Bytes(Cmd(MQCMD_PING_Q_MGR))), 0);
    Reply r;
    EXPECT_EQ(client.GetReply(&r, 1000), MQRC_NO_MSG_AVAILABLE);
    EXPECT_EQ(client.Depth("SYSTEM.ADMIN.COMMAND.QUEUE"), 1);
    mqsim({"cmdserver", "QM1", "start"});
    EXPECT_EQ(OnlyReply(client.Collect()).h.Command, MQCMD_PING_Q_MGR);
    EXPECT_NE(mqsim({"status", "QM1"}).find("CMDSERVER(RUNNING)"), std::string::npos);

    for (int i = 0; i < 5; i++) { /* in quick succession: it is left answering */
        mqsim({"cmdserver", "QM1", "stop"});
        mqsim({"cmdserver", "QM1", "start"});
    }
    mqsim({"cmdserver", "QM1", "delay", "-5"}, 1);
    mqsim({"cmdserver", "QM1", "slower"}, 1);
    mqsim({"cmdserver", "QM1", "delay", "300"});
    EXPECT_NE(mqsim({"status", "QM1"}).find("DELAY(300)"), std::string::npos);
    /* three replies, each held back 300 ms: no sooner than 900 ms */
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(client.Exchange(Cmd(MQCMD_INQUIRE_Q).Str(MQCA_Q_NAME, "APP.*")).size(), 3u);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(900));

    /* the queue manager ends while the server holds a reply */
    mqsim({"cmdserver", "QM1", "delay", "600000"});
    ASSERT_EQ(client.Send("SYSTEM.ADMIN.COMMAND.QUEUE", Bytes(Cmd(MQCMD_PING_Q_MGR))), 0);
    ASSERT_TRUE(WaitUntil([&] { return client.Depth("SYSTEM.ADMIN.COMMAND.QUEUE") == 0; }));
    int port;
    int64_t pid;
    ASSERT_TRUE(qm.PortFile("QM1", &port, &pid));
    mqsim({"stop", "QM1"});
    EXPECT_FALSE(PLProcessAlive(pid));
}

} /* namespace */
