/* mqcmd_e2e_test.cpp -- the requester as a program against a private stand-in
 * queue manager, for what only a process shows: the request as put, only
 * the replies it matches taken, and the exit codes. Building, walking and
 * printing messages and the completion rule are the unit suites'; replies
 * matched on the request's MsgId and replies larger than the first buffer
 * (tests/routing/routing_e2e_test's consolidated replies), every agent
 * suite's. */
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "mqcmd_format.h"
#include "mqsim_util.h"
#include "support/harness.h"
#include "support/pcf_builder.h"

namespace {

using tvtest::ANSWER;
using tvtest::RunMqcmd;

/* The queue manager QMC with a request queue that nothing serves but the
 * test, and the test's own connection to it. */
class MqcmdE2E : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(qm.Start("QMC"), "");
        qm.Mqsc("QMC", {"DEFINE QLOCAL(REQ.Q)", "DEFINE QLOCAL(MY.REPLY)"});
        ASSERT_EQ(Connect("QMC", &h), 0);
    }
    void TearDown() override { Disconnect(&h); }

    /* The request mqcmd put, waiting up to waitMs. Returns the reason. */
    MQLONG TakeRequest(MQMD *md, std::string *body, MQLONG waitMs = 20000) {
        MQHOBJ o = MQHO_UNUSABLE_HOBJ;
        MQLONG rc = Open(h, "REQ.Q", MQOO_INPUT_SHARED, &o);
        *md = MQMD_DEFAULT;
        if (rc == 0)
            rc = Get(h, o, body, md, MQGMO_NO_SYNCPOINT, waitMs);
        Close(h, &o);
        return rc;
    }
    /* A text reply, correlated on correlId, to the request's reply-to queue. */
    void SendReply(const MQMD &request, const MQBYTE *correlId, const std::string &text) {
        MQMD md = MQMD_DEFAULT;
        md.MsgType = MQMT_REPLY;
        memcpy(md.Format, MQFMT_STRING, MQ_FORMAT_LENGTH);
        memcpy(md.CorrelId, correlId, sizeof md.CorrelId);
        EXPECT_EQ(Put1(h, GetName(request.ReplyToQ, 48).c_str(), text, &md, MQPMO_NO_SYNCPOINT,
                       GetName(request.ReplyToQMgr, 48).c_str()),
                  0);
    }

    MqsimQueueManager qm;
    MQHCONN h = MQHC_UNUSABLE_HCONN;
};

/* With PASS_CORREL_ID the replies are matched on the CorrelId given. */
TEST_F(MqcmdE2E, OptionsReachTheRequestAndChooseWhatMatches) {
    const std::string msgId = "0102030405060708090A0B0C0D0E0F101112131415161718";
    const std::string correlId = "AABBCC" + std::string(42, '0');
    std::vector<std::string> args = {std::string(TV_BIN_DIR) + "/mqcmd"};
    args.insert(
        args.end(),
        {"-m",           "QMC",       "-q",         "REQ.Q",    "--mqsc",
         "DISPLAY QMGR", "--format",  "MQCMD1",     "--report", "PASS_MSG_ID,PASS_CORREL_ID",
         "--msgid",      msgId,       "--correlid", "AABBCC",   "--user",
         "alice",        "--reply-q", "MY.REPLY",   "--linger", "0",
         "--json"});
    tvtest::BackgroundProgram run(args);
    MQMD md;
    std::string body;
    ASSERT_EQ(TakeRequest(&md, &body), 0);
    EXPECT_EQ(md.Report & (MQRO_PASS_MSG_ID | MQRO_PASS_CORREL_ID),
              MQRO_PASS_MSG_ID | MQRO_PASS_CORREL_ID);
    std::string ids;
    AppendHex(&ids, md.MsgId, 24);
    AppendHex(&ids, md.CorrelId, 24);
    EXPECT_EQ(ids, msgId + correlId);
    EXPECT_EQ(std::string(md.UserIdentifier, 12), "alice       ");
    EXPECT_EQ(std::string(md.Format, 8), "MQCMD1  ");
    EXPECT_EQ(GetName(md.ReplyToQ, 48), "MY.REPLY");
    SendReply(md, md.MsgId, "WRONG"); /* as without PASS_CORREL_ID: not ours */
    SendReply(md, md.CorrelId, "RIGHT");

    ANSWER r = tvtest::ParseAnswer(run.Join().out);
    ASSERT_EQ(run.Join().proc.exitCode, 0) << r.out;
    ASSERT_EQ(r.msgs.size(), 1u) << r.out;
    EXPECT_EQ(tvtest::Str(r.msgs[0], "correlId"), correlId);
    EXPECT_EQ(r.out.find("WRONG"), std::string::npos);
    EXPECT_NE(r.out.find("RIGHT"), std::string::npos);
    EXPECT_EQ(Depth(h, "MY.REPLY"), 1); /* the reply not matched stays */
}

TEST_F(MqcmdE2E, ExitCodesAre2WhenTheWaitExpiresAnd1OnFailure) {
    /* a file's bytes, put as a request with the default descriptor */
    const std::vector<MQBYTE> request =
        tvtest::PcfBuilder(MQCMD_INQUIRE_Q, MQCFT_COMMAND).Control(MQCFC_LAST).bytes();
    const std::string file = qm.Dir() + "/request.bin";
    tvtest::WriteFile(file, std::string(request.begin(), request.end()));
    ANSWER r = RunMqcmd({"-m", "QMC", "-q", "REQ.Q", "--raw-file", file, "--wait", "1", "--json"});
    EXPECT_EQ(r.exitCode, 2) << r.out;
    EXPECT_EQ(tvtest::Num(r.summary, "messages"), 0) << r.out;
    EXPECT_FALSE(r.summary.Get("complete")->boolean);
    EXPECT_GE(tvtest::Num(r.summary, "ms"), 1000);
    MQMD md;
    std::string body;
    ASSERT_EQ(TakeRequest(&md, &body, 0), 0);
    EXPECT_EQ(body, std::string(request.begin(), request.end()));
    EXPECT_EQ(std::string(md.Format, 8), "MQADMIN ");
    EXPECT_EQ(md.MsgType, MQMT_REQUEST);
    EXPECT_EQ(md.Report, MQRO_NONE);
    EXPECT_EQ(GetName(md.ReplyToQ, 48).rfind("MQCMD.", 0), 0u);
    EXPECT_EQ(GetName(md.ReplyToQMgr, 48), "QMC");
    EXPECT_EQ(RunMqcmd({"get", "-q", "MY.REPLY", "-m", "QMC", "--wait", "0.3"}).exitCode, 2);

    const struct {
        std::vector<std::string> args;
        const char *says;
    } failures[] = {
        {{"-m", "QMC", "-q", "NO.SUCH.Q", "--mqsc", "DISPLAY QMGR"}, "2085"},
        {{"-m", "NOSUCHQM", "--mqsc", "DISPLAY QMGR"}, "MQCONN"},
        {{"-m", "QMC", "-q", "REQ.Q", "--raw-file", qm.Dir() + "/missing.bin"}, "missing.bin"},
        {{"--nonsense"}, "usage: mqcmd"},
    };
    for (const auto &f : failures) {
        r = RunMqcmd(f.args);
        EXPECT_EQ(r.exitCode, 1) << r.out;
        EXPECT_NE(r.out.find(f.says), std::string::npos) << r.out;
    }
    EXPECT_EQ(Depth(h, "REQ.Q"), 0); /* none of these left a request behind */
}

}  // namespace
