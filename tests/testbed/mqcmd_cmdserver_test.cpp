/* mqcmd_cmdserver_test.cpp -- the requester against the stand-in command server:
 * one reply per queue ending with MQCFC_LAST, errors, escape text, identifiers
 * by report options, the requester's context, a stopped command server, a
 * reply larger than the first buffer, and the z/OS text style. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mqcmd_e2e_util.h"

namespace {

std::string Padded(const std::string &s, size_t n) {
    return s + std::string(n > s.size() ? n - s.size() : 0, ' ');
}

TEST(MqcmdCommandServer, InquireQueueGivesOneReplyPerQueueAndCompletesAtTheLast) {
    MqsimQueueManager qm;
    ASSERT_EQ(qm.Start("QM1", {"--queues", "100"}), "");
    MqcmdResult r = RunMqcmd({"-m", "QM1", "-q", "SYSTEM.ADMIN.COMMAND.QUEUE", "--json", "--pcf",
                              "INQUIRE_Q", "MQCA_Q_NAME=APP.*", "MQIACF_Q_ATTRS=MQIACF_ALL"});
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_TRUE(r.notJson.empty()) << r.out;
    ASSERT_EQ(r.lines.size(), 101u) << r.out;
    for (size_t i = 0; i < 100; i++) {
        SCOPED_TRACE(i);
        const JVALUE &m = r.lines[i];
        EXPECT_EQ(m.Get("n")->number, (double)(i + 1));
        EXPECT_EQ(m.Get("format")->text, "MQADMIN ");
        EXPECT_EQ(m.Get("msgType")->number, MQMT_REPLY);
        const JVALUE *pcf = m.Get("pcf");
        ASSERT_EQ(pcf->kind, JVALUE::OBJECT);
        EXPECT_EQ(pcf->Get("command")->number, MQCMD_INQUIRE_Q);
        EXPECT_EQ(pcf->Get("compCode")->number, 0);
        EXPECT_EQ(pcf->Get("control")->number, i == 99 ? 1 : 0);
        EXPECT_EQ(pcf->Get("malformed"), nullptr);
        const JVALUE *params = pcf->Get("params");
        ASSERT_GT(params->items.size(), 10u);
        bool named = false;
        for (const JVALUE &p : params->items) {
            if (p.Get("id")->number == MQCA_Q_NAME) {
                char want[32];
                snprintf(want, sizeof want, "APP.QUEUE.%04d", (int)i + 1);
                EXPECT_EQ(p.Get("value")->text, Padded(want, 48));
                EXPECT_EQ(p.Get("strucLength")->number, 68);
                named = true;
            }
        }
        EXPECT_TRUE(named);
    }
    const JVALUE *summary = r.lines[100].Get("summary");
    ASSERT_NE(summary, nullptr);
    EXPECT_EQ(summary->Get("messages")->number, 100);
    EXPECT_TRUE(summary->Get("complete")->boolean);
}

TEST(MqcmdCommandServer, ErrorsEscapeTextIdentifiersAndContext) {
    MqsimQueueManager qm;
    ASSERT_EQ(qm.Start("QM2"), "");
    const std::string q = "SYSTEM.ADMIN.COMMAND.QUEUE";

    /* no match: one reply with CompCode 2 and 2085, text form */
    MqcmdResult r = RunMqcmd({"-m", "QM2", "-q", q, "--pcf", "INQUIRE_Q", "MQCA_Q_NAME=NONE.*"});
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("CompCode 2, Reason 2085 (MQRC_UNKNOWN_OBJECT_NAME), Control 1"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("1 messages, "), std::string::npos) << r.out;

    /* MQSC text is not a command on a distributed queue manager */
    r = RunMqcmd({"-m", "QM2", "-q", q, "--mqsc", "DISPLAY QMGR", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.out;
    ASSERT_EQ(r.lines.size(), 2u) << r.out;
    EXPECT_EQ(r.lines[0].Get("pcf")->Get("reason")->number, MQRCCF_MD_FORMAT_ERROR);

    /* escape: the MQSC engine's lines come back as escape responses */
    r = RunMqcmd({"-m", "QM2", "-q", q, "--escape", "DISPLAY QLOCAL(SYSTEM.DEFAULT.LOCAL.QUEUE)"});
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("MQCACF_ESCAPE_TEXT("), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("SYSTEM.DEFAULT.LOCAL.QUEUE"), std::string::npos) << r.out;

    /* identifiers by report options, and the requester's user as context */
    const std::string msgId = "0102030405060708090A0B0C0D0E0F101112131415161718";
    r = RunMqcmd({"-m", "QM2", "-q", q, "--json", "--report", "PASS_MSG_ID,PASS_CORREL_ID",
                  "--msgid", msgId, "--correlid", "CAFE", "--user", "bob", "--pcf", "PING_Q_MGR"});
    ASSERT_EQ(r.exitCode, 0) << r.out;
    ASSERT_EQ(r.lines.size(), 2u) << r.out;
    EXPECT_EQ(r.lines[0].Get("msgId")->text, msgId);
    EXPECT_EQ(r.lines[0].Get("correlId")->text, "CAFE" + std::string(44, '0'));
    std::string status;
    ASSERT_EQ(qm.Run({"status", "QM2"}, &status), 0) << status;
    EXPECT_NE(status.find("bob"), std::string::npos) << status;

    /* without report options: a new MsgId, CorrelId the request's MsgId */
    r = RunMqcmd({"-m", "QM2", "-q", q, "--json", "--msgid", msgId, "--pcf", "PING_Q_MGR"});
    ASSERT_EQ(r.exitCode, 0) << r.out;
    ASSERT_EQ(r.lines.size(), 2u) << r.out;
    EXPECT_NE(r.lines[0].Get("msgId")->text, msgId);
    EXPECT_EQ(r.lines[0].Get("correlId")->text, msgId);
}

TEST(MqcmdCommandServer, AStoppedCommandServerLeavesTheWaitToExpire) {
    MqsimQueueManager qm;
    ASSERT_EQ(qm.Start("QM3"), "");
    std::string out;
    ASSERT_EQ(qm.Run({"cmdserver", "QM3", "stop"}, &out), 0) << out;
    MqcmdResult r = RunMqcmd(
        {"-m", "QM3", "-q", "SYSTEM.ADMIN.COMMAND.QUEUE", "--wait", "1", "--pcf", "PING_Q_MGR"});
    EXPECT_EQ(r.exitCode, 2) << r.out;
    EXPECT_NE(r.out.find("0 messages, 0 bytes"), std::string::npos) << r.out;
}

TEST(MqcmdCommandServer, AReplyLargerThanTheFirstBufferIsReadWhole) {
    MqsimQueueManager qm;
    ASSERT_EQ(qm.Start("QM4", {"--queues", "3000"}), "");
    MqcmdResult r = RunMqcmd({"-m", "QM4", "-q", "SYSTEM.ADMIN.COMMAND.QUEUE", "--json", "--pcf",
                              "INQUIRE_Q_NAMES", "MQCA_Q_NAME=APP.*"});
    ASSERT_EQ(r.exitCode, 0) << r.out.substr(0, 2000);
    ASSERT_EQ(r.lines.size(), 2u);
    EXPECT_GT(r.lines[0].Get("length")->number, 65536);
    const JVALUE *params = r.lines[0].Get("pcf")->Get("params");
    const JVALUE *names = nullptr;
    for (const JVALUE &p : params->items)
        if (p.Get("type")->number == MQCFT_STRING_LIST)
            names = p.Get("value");
    ASSERT_NE(names, nullptr);
    EXPECT_EQ(names->items.size(), 3000u);
    EXPECT_EQ(r.lines[0].Get("pcf")->Get("malformed"), nullptr);
}

TEST(MqcmdCommandServer, ZosTextCommandsCompleteAtTheirCompletionLine) {
    MqsimQueueManager qm;
    ASSERT_EQ(qm.Start("QMZ", {"--platform", "zos", "--queues", "3"}), "");
    /* a short wait: only the completion line can complete the set in time */
    MqcmdResult r =
        RunMqcmd({"-m", "QMZ", "-q", "SYSTEM.COMMAND.INPUT", "--mqsc", "DISPLAY QLOCAL(APP.*)",
                  "--wait", "3", "--linger", "4000", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.out;
    ASSERT_GE(r.lines.size(), 3u) << r.out;
    const JVALUE &last = r.lines[r.lines.size() - 2];
    EXPECT_EQ(last.Get("format")->text, "MQCMD1  ");
    EXPECT_EQ(last.Get("text")->text.substr(0, 8), "CSQ9022I") << r.out;
    EXPECT_TRUE(r.lines.back().Get("summary")->Get("complete")->boolean);
}

} /* namespace */
