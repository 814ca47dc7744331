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
        std::string out;
        ASSERT_EQ(qm_.Run({"mqsc", "QMC", "DEFINE QLOCAL(REQ.Q)"}, &out), 0) << out;
        ASSERT_EQ(qm_.Run({"mqsc", "QMC", "DEFINE QLOCAL(DATA.Q)"}, &out), 0) << out;
    }
    std::string WriteFile(const std::string &name, const std::vector<MQBYTE> &bytes) {
        std::string path = qm_.Dir() + "/" + name;
        FILE *f = PLOpenFile(path.c_str(), "wb", nullptr);
        EXPECT_NE(f, nullptr);
        if (f != nullptr) {
            fwrite(bytes.data(), 1, bytes.size(), f);
            fclose(f);
        }
        return path;
    }
    MqsimQueueManager qm_;
};

TEST_F(MqcmdE2E, PutThenGetRoundTrip) {
    MqcmdResult put = RunMqcmd({"put", "-q", "DATA.Q", "-m", "QMC", "hello\tworld"});
    ASSERT_EQ(put.exitCode, 0) << put.out;
    EXPECT_NE(put.out.find("Put 11 bytes to DATA.Q"), std::string::npos) << put.out;
    put = RunMqcmd({"put", "-q", "DATA.Q", "-m", "QMC", "--format", "NONE", "second"});
    ASSERT_EQ(put.exitCode, 0) << put.out;

    MqcmdResult get = RunMqcmd({"get", "-q", "DATA.Q", "-m", "QMC", "--json"});
    ASSERT_EQ(get.exitCode, 0) << get.out;
    EXPECT_TRUE(get.notJson.empty()) << get.out;
    ASSERT_EQ(get.lines.size(), 3u) << get.out;
    EXPECT_EQ(get.lines[0].Get("format")->text, "MQSTR   ");
    EXPECT_EQ(get.lines[0].Get("msgType")->number, MQMT_DATAGRAM);
    EXPECT_EQ(get.lines[0].Get("pcf")->kind, JVALUE::NUL);
    EXPECT_EQ(get.lines[0].Get("text")->text, "hello\tworld");
    EXPECT_EQ(get.lines[1].Get("format")->text, "        ");
    EXPECT_EQ(get.lines[1].Get("text")->text, "second");
    EXPECT_EQ(get.lines[1].Get("n")->number, 2);
    const JVALUE *summary = &get.summary;
    ASSERT_EQ(tvtest::Num(*summary, "messages"), 2) << get.out;
    EXPECT_EQ(summary->Get("bytes")->number, 17);
    EXPECT_TRUE(summary->Get("complete")->boolean);

    /* the queue is empty now; text form and its summary line */
    get = RunMqcmd({"get", "-q", "DATA.Q", "-m", "QMC"});
    ASSERT_EQ(get.exitCode, 0) << get.out;
    EXPECT_NE(get.out.find("0 messages, 0 bytes,"), std::string::npos) << get.out;

    /* waiting for a first message that never comes is an expired wait */
    get = RunMqcmd({"get", "-q", "DATA.Q", "-m", "QMC", "--wait", "0.3"});
    EXPECT_EQ(get.exitCode, 2) << get.out;
}

TEST_F(MqcmdE2E, RawFileRepliesCompleteAtTheLastBitAndTheLingerCatchesALateOne) {
    std::vector<MQBYTE> request = tvtest::PcfBuilder(MQCMD_INQUIRE_Q, MQCFT_COMMAND)
                                      .Control(MQCFC_LAST)
                                      .Str(MQCA_Q_NAME, "APP.*")
                                      .bytes();
    std::string file = WriteFile("request.bin", request);

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
    ASSERT_EQ(r.lines.size(), 5u) << r.out;
    const char *names[] = {"APP.1", "APP.2", "APP.3", "APP.LATE"};
    const double controls[] = {0, 0x10000, 0x10001, 1};
    for (int i = 0; i < 4; i++) {
        SCOPED_TRACE(i);
        const JVALUE &m = r.lines[i];
        EXPECT_EQ(m.Get("n")->number, i + 1);
        EXPECT_EQ(m.Get("correlId")->text, requestMsgId);
        EXPECT_EQ(m.Get("msgType")->number, MQMT_REPLY);
        const JVALUE *pcf = m.Get("pcf");
        ASSERT_EQ(pcf->kind, JVALUE::OBJECT);
        EXPECT_EQ(pcf->Get("control")->number, controls[i]);
        const JVALUE *params = pcf->Get("params");
        ASSERT_EQ(params->items.size(), 2u);
        EXPECT_EQ(params->items[0].Get("name")->text, "MQCA_Q_NAME");
        EXPECT_EQ(params->items[0].Get("value")->text.substr(0, strlen(names[i])), names[i]);
        EXPECT_EQ(params->items[0].Get("value")->text.size(), 48u);
    }
    const JVALUE *summary = &r.summary;
    ASSERT_EQ(tvtest::Num(*summary, "messages"), 4) << r.out;
    EXPECT_TRUE(summary->Get("complete")->boolean);
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
    std::string out;
    ASSERT_EQ(qm_.Run({"mqsc", "QMC", "DEFINE QLOCAL(MY.REPLY)"}, &out), 0) << out;
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
    ASSERT_EQ(r.lines.size(), 1u) << r.out;
    const JVALUE *summary = &r.summary;
    ASSERT_EQ(tvtest::Num(*summary, "messages"), 0) << r.out;
    EXPECT_FALSE(summary->Get("complete")->boolean);
    EXPECT_GE(summary->Get("ms")->number, 1000);

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
