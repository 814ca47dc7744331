/* mqcmd_e2e_test.cpp -- the requester as a program against a private stand-in
 * queue manager: put and get, requests answered by a responder in the test
 * (completion at the last bit, the linger interval, identifiers by report
 * options, context), a silent queue (exit code 2), --simple, failures (exit
 * code 1), and a reply larger than the first buffer from the command server.
 * When text replies complete is the reply-set rule's unit test. */
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "mqsim_util.h"
#include "support/harness.h"
#include "support/pcf_builder.h"

namespace {

using MqcmdResult = tvtest::ANSWER;
using tvtest::RunMqcmd;

std::string Hex(const MQBYTE *b, size_t n) {
    std::string s;
    for (size_t i = 0; i < n; i++)
        s += "0123456789ABCDEF"[b[i] >> 4], s += "0123456789ABCDEF"[b[i] & 15];
    return s;
}

/* One message from queue, waiting up to waitMs. Returns the reason. */
MQLONG TakeMessage(MQHCONN h, const char *queue, MQLONG waitMs, MQMD *md,
                   std::vector<MQBYTE> *body) {
    MQHOBJ o;
    MQLONG rc = Open(h, queue, MQOO_INPUT_SHARED, &o);
    if (rc != 0)
        return rc;
    std::string text;
    *md = MQMD_DEFAULT;
    rc = Get(h, o, &text, md, MQGMO_NO_SYNCPOINT, waitMs, 1 << 20);
    body->assign(text.begin(), text.end());
    Close(h, &o);
    return rc;
}

/* One reply to the request's reply-to queue with the identifiers its
 * report options ask for (unless given). */
MQLONG SendReply(MQHCONN h, const MQMD &request, const MQCHAR *format,
                 const std::vector<MQBYTE> &body, const MQBYTE *correlOverride = nullptr) {
    MQMD md = MQMD_DEFAULT;
    md.MsgType = MQMT_REPLY;
    memcpy(md.Format, format, MQ_FORMAT_LENGTH);
    if (request.Report & MQRO_PASS_MSG_ID)
        memcpy(md.MsgId, request.MsgId, sizeof md.MsgId);
    memcpy(md.CorrelId, request.Report & MQRO_PASS_CORREL_ID ? request.CorrelId : request.MsgId,
           sizeof md.CorrelId);
    if (correlOverride != nullptr)
        memcpy(md.CorrelId, correlOverride, sizeof md.CorrelId);
    return Put1(h, GetName(request.ReplyToQ, 48).c_str(), std::string(body.begin(), body.end()),
                &md, MQPMO_NO_SYNCPOINT, GetName(request.ReplyToQMgr, 48).c_str());
}

std::vector<MQBYTE> PcfReply(MQLONG control, MQLONG seq, const std::string &qname) {
    return tvtest::PcfBuilder(MQCMD_INQUIRE_Q)
        .Control(control)
        .Seq(seq)
        .Padded(MQCA_Q_NAME, qname, 48)
        .Int(MQIA_CURRENT_Q_DEPTH, seq)
        .bytes();
}

/* A responder on a thread of the test: takes one request from a queue and
 * runs the script on it. The thread is always joined. */
class Responder {
public:
    using Script = std::function<void(MQHCONN, const MQMD &, const std::vector<MQBYTE> &)>;
    Responder(const char *qm, const char *queue, Script script) {
        thread_ = std::thread([=] {
            MQHCONN h;
            MQLONG rc = Connect(qm, &h);
            if (rc != 0) {
                ADD_FAILURE() << "responder MQCONN reason " << rc;
                return;
            }
            MQMD md;
            std::vector<MQBYTE> body;
            rc = TakeMessage(h, queue, 20000, &md, &body);
            if (rc != 0)
                ADD_FAILURE() << "responder got no request: reason " << rc;
            else
                script(h, md, body);
            Disconnect(&h);
        });
    }
    ~Responder() { Join(); }
    void Join() {
        if (thread_.joinable())
            thread_.join();
    }

private:
    std::thread thread_;
};

class MqcmdE2E : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(qm_.Start("QMC"), "");
        qm_.Mqsc("QMC",
                 {"DEFINE QLOCAL(REQ.Q)", "DEFINE QLOCAL(DATA.Q)", "DEFINE QLOCAL(MY.REPLY)"});
    }
    MqsimQueueManager qm_;
};

/* How a message is printed is the format's unit test; here what reaches
 * the queue and comes back, in order, with the summary and exit codes. */
TEST_F(MqcmdE2E, PutThenGetRoundTrip) {
    MqcmdResult r = RunMqcmd({"put", "-q", "DATA.Q", "-m", "QMC", "hello\tworld"});
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("Put 11 bytes to DATA.Q"), std::string::npos) << r.out;
    r = RunMqcmd({"put", "-q", "DATA.Q", "-m", "QMC", "--format", "NONE", "second"});
    ASSERT_EQ(r.exitCode, 0) << r.out;
    r = RunMqcmd({"get", "-q", "DATA.Q", "-m", "QMC", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_TRUE(r.notJson.empty()) << r.out;
    ASSERT_EQ(r.msgs.size(), 2u) << r.out;
    EXPECT_EQ(tvtest::Str(r.msgs[0], "format"), "MQSTR   ");
    EXPECT_EQ(tvtest::Str(r.msgs[0], "text"), "hello\tworld");
    EXPECT_EQ(tvtest::Str(r.msgs[1], "format"), "        ");
    EXPECT_EQ(tvtest::Str(r.msgs[1], "text"), "second");
    EXPECT_EQ(tvtest::Num(r.summary, "bytes"), 17);
    EXPECT_TRUE(r.summary.Get("complete")->boolean);
    /* the queue is empty now: nothing, and a wait for a first message expires */
    r = RunMqcmd({"get", "-q", "DATA.Q", "-m", "QMC"});
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("0 messages, 0 bytes,"), std::string::npos) << r.out;
    EXPECT_EQ(RunMqcmd({"get", "-q", "DATA.Q", "-m", "QMC", "--wait", "0.3"}).exitCode, 2);
}

TEST_F(MqcmdE2E, RawFileRepliesCompleteAtTheLastBitAndTheLingerCatchesALateOne) {
    std::vector<MQBYTE> request = tvtest::PcfBuilder(MQCMD_INQUIRE_Q, MQCFT_COMMAND)
                                      .Control(MQCFC_LAST)
                                      .Str(MQCA_Q_NAME, "APP.*")
                                      .bytes();
    const std::string file = qm_.Dir() + "/request.bin";
    tvtest::WriteFile(file, std::string(request.begin(), request.end()));

    std::string requestMsgId;
    Responder responder(
        "QMC", "REQ.Q", [&](MQHCONN hconn, const MQMD &md, const std::vector<MQBYTE> &body) {
            EXPECT_EQ(body, request);
            EXPECT_EQ(std::string(md.Format, 8), "MQADMIN ");
            EXPECT_EQ(md.MsgType, MQMT_REQUEST);
            EXPECT_EQ(md.Report, MQRO_NONE);
            std::string replyQ = GetName(md.ReplyToQ, 48);
            EXPECT_EQ(replyQ.rfind("MQCMD.", 0), 0u) << replyQ;
            EXPECT_EQ(GetName(md.ReplyToQMgr, 48), "QMC");
            requestMsgId = Hex(md.MsgId, sizeof md.MsgId);

            static const MQBYTE other[24] = {9, 9, 9};
            EXPECT_EQ(SendReply(hconn, md, MQFMT_ADMIN, PcfReply(MQCFC_NOT_LAST, 1, "APP.1")), 0);
            EXPECT_EQ(
                SendReply(hconn, md, MQFMT_ADMIN, PcfReply(MQCFC_NOT_LAST, 9, "NOT.MINE"), other),
                0);
            EXPECT_EQ(SendReply(hconn, md, MQFMT_ADMIN, PcfReply(0x10000, 2, "APP.2")), 0);
            EXPECT_EQ(SendReply(hconn, md, MQFMT_ADMIN, PcfReply(0x10001, 3, "APP.3")), 0);
            /* once the requester has taken the set (only the stranger is left),
             * one more message: the linger interval must still catch it */
            EXPECT_TRUE(WaitUntil([&] { return Depth(hconn, replyQ.c_str()) == 1; }));
            EXPECT_EQ(SendReply(hconn, md, MQFMT_ADMIN, PcfReply(MQCFC_LAST, 4, "APP.LATE")), 0);
        });

    MqcmdResult r = RunMqcmd({"-m", "QMC", "-q", "REQ.Q", "--raw-file", file, "--json", "--linger",
                              "3000", "--wait", "30"});
    responder.Join();
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_TRUE(r.notJson.empty()) << r.out;
    ASSERT_EQ(r.msgs.size(), 4u) << r.out;
    const char *names[] = {"APP.1", "APP.2", "APP.3", "APP.LATE"};
    const double controls[] = {0, 0x10000, 0x10001, 1};
    for (int i = 0; i < 4; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(tvtest::Str(r.msgs[i], "correlId"), requestMsgId);
        EXPECT_EQ(tvtest::Pcf(r.msgs[i]).Get("control")->number, controls[i]);
        EXPECT_EQ(tvtest::Num(r.msgs[i], "n"), i + 1);
        const JVALUE *name = tvtest::Param(r.msgs[i], MQCA_Q_NAME);
        ASSERT_NE(name, nullptr);
        EXPECT_EQ(tvtest::Str(*name, "value").substr(0, strlen(names[i])), names[i]);
    }
    EXPECT_EQ(tvtest::Num(r.summary, "messages"), 4) << r.out;
    EXPECT_TRUE(r.summary.Get("complete")->boolean);
    EXPECT_EQ(r.out.find("NOT.MINE"), std::string::npos);
}

TEST_F(MqcmdE2E, ReportOptionsUserAndIdentifiersReachTheRequestAndMatchTheReplies) {
    const std::string msgId = "0102030405060708090A0B0C0D0E0F101112131415161718";
    const std::string correlId = "AABBCC";
    Responder responder(
        "QMC", "REQ.Q", [&](MQHCONN hconn, const MQMD &md, const std::vector<MQBYTE> &) {
            EXPECT_EQ(md.Report & (MQRO_PASS_MSG_ID | MQRO_PASS_CORREL_ID),
                      MQRO_PASS_MSG_ID | MQRO_PASS_CORREL_ID);
            EXPECT_EQ(Hex(md.MsgId, 24), msgId);
            EXPECT_EQ(Hex(md.CorrelId, 24), correlId + std::string(42, '0'));
            EXPECT_EQ(std::string(md.UserIdentifier, 12), "alice       ");
            EXPECT_EQ(std::string(md.Format, 8), "MQCMD1  ");
            EXPECT_EQ(GetName(md.ReplyToQ, 48), "MY.REPLY");
            /* a reply correlated on the MsgId, as without PASS_CORREL_ID: not ours */
            EXPECT_EQ(SendReply(hconn, md, MQFMT_ADMIN, PcfReply(MQCFC_LAST, 1, "WRONG"), md.MsgId),
                      0);
            EXPECT_EQ(SendReply(hconn, md, MQFMT_ADMIN, PcfReply(MQCFC_LAST, 1, "RIGHT")), 0);
        });
    MqcmdResult r = RunMqcmd(
        {"-m",           "QMC",       "-q",         "REQ.Q",    "--mqsc",
         "DISPLAY QMGR", "--format",  "MQCMD1",     "--report", "PASS_MSG_ID,PASS_CORREL_ID",
         "--msgid",      msgId,       "--correlid", correlId,   "--user",
         "alice",        "--reply-q", "MY.REPLY",   "--linger", "0",
         "--json"});
    responder.Join();
    ASSERT_EQ(r.exitCode, 0) << r.out;
    ASSERT_EQ(r.lines.size(), 2u) << r.out;
    EXPECT_EQ(r.lines[0].Get("msgId")->text, msgId);
    EXPECT_EQ(r.lines[0].Get("correlId")->text, correlId + std::string(42, '0'));
    EXPECT_EQ(r.out.find("WRONG"), std::string::npos);
    EXPECT_NE(r.out.find("RIGHT"), std::string::npos);
    /* the reply it did not match stays on the named reply queue */
    MQHCONN c;
    ASSERT_EQ(Connect("QMC", &c), 0);
    EXPECT_EQ(Depth(c, "MY.REPLY"), 1);
    Disconnect(&c);
}

TEST_F(MqcmdE2E, NothingAnsweringExpiresTheWaitWithExitCode2) {
    MqcmdResult r = RunMqcmd({"-m", "QMC", "-q", "REQ.Q", "--pcf", "PING_Q_MGR", "--wait", "1",
                              "--reply-qmgr", "FAR.QM", "--json"});
    EXPECT_EQ(r.exitCode, 2) << r.out;
    ASSERT_EQ(tvtest::Num(r.summary, "messages"), 0) << r.out;
    EXPECT_FALSE(r.summary.Get("complete")->boolean);
    EXPECT_GE(tvtest::Num(r.summary, "ms"), 1000);

    /* the request itself is there: a PCF PING_Q_MGR asking for replies on
     * the named queue manager */
    MQHCONN c;
    ASSERT_EQ(Connect("QMC", &c), 0);
    MQMD md;
    std::vector<MQBYTE> body;
    ASSERT_EQ(TakeMessage(c, "REQ.Q", 0, &md, &body), 0);
    Disconnect(&c);
    EXPECT_EQ(body,
              tvtest::PcfBuilder(MQCMD_PING_Q_MGR, MQCFT_COMMAND).Control(MQCFC_LAST).bytes());
    EXPECT_EQ(GetName(md.ReplyToQMgr, 48), "FAR.QM");
    EXPECT_EQ(GetName(md.ReplyToQ, 48).rfind("MQCMD.", 0), 0u);
}

TEST_F(MqcmdE2E, SimpleSendsWithABlankReplyToQueueAndWaitsForNothing) {
    MqcmdResult r = RunMqcmd({"-m", "QMC", "-q", "REQ.Q", "--simple", "STOP"});
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("Put 4 bytes to REQ.Q"), std::string::npos) << r.out;
    MQHCONN c;
    ASSERT_EQ(Connect("QMC", &c), 0);
    MQMD md;
    std::vector<MQBYTE> body;
    ASSERT_EQ(TakeMessage(c, "REQ.Q", 0, &md, &body), 0);
    Disconnect(&c);
    EXPECT_EQ(std::string(body.begin(), body.end()), "STOP");
    EXPECT_EQ(std::string(md.ReplyToQ, 48), std::string(48, ' '));
    EXPECT_EQ(std::string(md.Format, 8), "MQSTR   ");
    EXPECT_EQ(md.MsgType, MQMT_DATAGRAM);
}

TEST_F(MqcmdE2E, FailuresExitWithCode1AndSaySo) {
    MqcmdResult r = RunMqcmd({"-m", "QMC", "-q", "NO.SUCH.Q", "--mqsc", "DISPLAY QMGR"});
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_NE(r.out.find("2085"), std::string::npos) << r.out;

    r = RunMqcmd({"-m", "NOSUCHQM", "--mqsc", "DISPLAY QMGR"});
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_NE(r.out.find("MQCONN"), std::string::npos) << r.out;

    r = RunMqcmd({"-m", "QMC", "-q", "REQ.Q", "--raw-file", qm_.Dir() + "/missing.bin"});
    EXPECT_EQ(r.exitCode, 1) << r.out;
    r = RunMqcmd({"--nonsense"});
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_NE(r.out.find("usage: mqcmd"), std::string::npos) << r.out;

    /* none of these left a request behind */
    MQHCONN c;
    ASSERT_EQ(Connect("QMC", &c), 0);
    EXPECT_EQ(Depth(c, "REQ.Q"), 0);
    Disconnect(&c);
}

} /* namespace */

TEST(MqcmdCommandServer, AReplyLargerThanTheFirstBufferIsReadWhole) {
    MqsimQueueManager qm;
    ASSERT_EQ(qm.Start("QM4", {"--queues", "3000"}), "");
    MqcmdResult r = RunMqcmd({"-m", "QM4", "-q", "SYSTEM.ADMIN.COMMAND.QUEUE", "--json", "--pcf",
                              "INQUIRE_Q_NAMES", "MQCA_Q_NAME=APP.*"});
    ASSERT_EQ(r.exitCode, 0) << r.out.substr(0, 2000);
    ASSERT_EQ(r.msgs.size(), 1u);
    EXPECT_GT(tvtest::Num(r.msgs[0], "length"), 65536);
    const JVALUE *names = tvtest::Param(r.msgs[0], MQCACF_Q_NAMES);
    ASSERT_NE(names, nullptr);
    EXPECT_EQ(names->Get("value")->items.size(), 3000u);
    EXPECT_EQ(tvtest::Pcf(r.msgs[0]).Get("malformed"), nullptr);
}
