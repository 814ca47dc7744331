/* cmdsrv_control_test.cpp -- `mqsim cmdserver QM stop|start|delay MS`: a
 * stopped command server leaves commands on its queue (and mqcmd's wait
 * expires with exit code 2), a started one answers them, a delay holds back
 * each reply, and a queue manager ends even while a reply is being held. */
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "cmdsrv_util.h"
#include "support/process.h"

namespace {

TEST(CmdsrvControl, AStoppedCommandServerLeavesCommandsOnItsQueueUntilStarted) {
    MqsimQueueManager qm;
    ASSERT_EQ(qm.Start("QM1"), "");
    CmdClient client;
    ASSERT_EQ(client.Open("QM1"), "");
    std::string out;
    ASSERT_EQ(qm.Run({"cmdserver", "QM1", "stop"}, &out), 0) << out;
    ASSERT_EQ(qm.Run({"status", "QM1"}, &out), 0) << out;
    EXPECT_NE(out.find("CMDSERVER(STOPPED)"), std::string::npos) << out;

    /* the command waits on the queue, unanswered, until a start */
    ASSERT_EQ(client.Send("SYSTEM.ADMIN.COMMAND.QUEUE", Bytes(Cmd(MQCMD_PING_Q_MGR))), 0);
    Reply r;
    EXPECT_EQ(client.GetReply(&r, 1000), MQRC_NO_MSG_AVAILABLE);
    EXPECT_EQ(client.Depth("SYSTEM.ADMIN.COMMAND.QUEUE"), 1);
    ASSERT_EQ(qm.Run({"cmdserver", "QM1", "start"}, &out), 0) << out;
    PcfMsg m = OnlyReply(client.Collect());
    EXPECT_EQ(m.h.Command, MQCMD_PING_Q_MGR);
    EXPECT_EQ(m.h.CompCode, MQCC_OK);
    EXPECT_TRUE(WaitUntil([&] { return client.Depth("SYSTEM.ADMIN.COMMAND.QUEUE") == 0; }));
    ASSERT_EQ(qm.Run({"status", "QM1"}, &out), 0) << out;
    EXPECT_NE(out.find("CMDSERVER(RUNNING)"), std::string::npos) << out;

    /* a stop and a start in quick succession leave it answering */
    for (int i = 0; i < 5; i++) {
        ASSERT_EQ(qm.Run({"cmdserver", "QM1", "stop"}, &out), 0) << out;
        ASSERT_EQ(qm.Run({"cmdserver", "QM1", "start"}, &out), 0) << out;
    }
    EXPECT_EQ(OnlyReply(client.Exchange(Cmd(MQCMD_PING_Q_MGR))).h.CompCode, MQCC_OK);
}

TEST(CmdsrvControl, ADelayHoldsBackEveryReply) {
    MqsimQueueManager qm;
    ASSERT_EQ(qm.Start("QM1", {"--queues", "3"}), "");
    CmdClient client;
    ASSERT_EQ(client.Open("QM1"), "");
    std::string out;
    EXPECT_EQ(qm.Run({"cmdserver", "QM1", "delay", "-5"}, &out), 1) << out;
    EXPECT_EQ(qm.Run({"cmdserver", "QM1", "slower"}, &out), 1) << out;
    ASSERT_EQ(qm.Run({"cmdserver", "QM1", "delay", "300"}, &out), 0) << out;
    ASSERT_EQ(qm.Run({"status", "QM1"}, &out), 0) << out;
    EXPECT_NE(out.find("DELAY(300)"), std::string::npos) << out;

    auto t0 = std::chrono::steady_clock::now();
    auto c = Cmd(MQCMD_INQUIRE_Q);
    c.Str(MQCA_Q_NAME, "APP.*");
    std::vector<Reply> r = client.Exchange(c);
    ASSERT_EQ(r.size(), 3u);
    /* three replies, each held back 300 ms: no sooner than 900 ms */
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(900));

    ASSERT_EQ(qm.Run({"cmdserver", "QM1", "delay", "0"}, &out), 0) << out;
    EXPECT_EQ(OnlyReply(client.Exchange(Cmd(MQCMD_PING_Q_MGR))).h.CompCode, MQCC_OK);
}

TEST(CmdsrvControl, TheQueueManagerEndsWhileAReplyIsHeldBack) {
    MqsimQueueManager qm;
    ASSERT_EQ(qm.Start("QM1"), "");
    CmdClient client;
    ASSERT_EQ(client.Open("QM1"), "");
    std::string out;
    ASSERT_EQ(qm.Run({"cmdserver", "QM1", "delay", "600000"}, &out), 0) << out;
    ASSERT_EQ(client.Send("SYSTEM.ADMIN.COMMAND.QUEUE", Bytes(Cmd(MQCMD_PING_Q_MGR))), 0);
    /* the command was taken: the server is holding its reply */
    ASSERT_TRUE(WaitUntil([&] { return client.Depth("SYSTEM.ADMIN.COMMAND.QUEUE") == 0; }));
    int port;
    int64_t pid;
    ASSERT_TRUE(qm.PortFile("QM1", &port, &pid));
    EXPECT_EQ(qm.Run({"stop", "QM1"}, &out), 0) << out;
    EXPECT_FALSE(PLProcessAlive(pid));
}

} /* namespace */
