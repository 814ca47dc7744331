/* command_consumer_test.cpp -- the input-queue consumer: events, simple
 * commands, classification, forwarding and the reply-queue size check. */
#include <algorithm>

#include "core/mainloop.h"
#include "routing_fixture.h"
#include "support/files.h"

using namespace rtest;

namespace {

class CommandConsumerTest : public RoutingTest {
protected:
    /* Hand one message to OnCommandMessage as the queue manager would;
     * returns the descriptor as the consumer left it. */
    MQMD Send(const std::vector<MQBYTE> &msg, const char *format, const char *replyQ,
              const char *replyQMgr = "QM1", MQLONG report = MQRO_NONE, MQBYTE idByte = 0x5A) {
        MQMD md = MQMD_DEFAULT;
        memcpy(md.Format, format, 8);
        md.MsgType = MQMT_REQUEST;
        md.Report = report;
        memset(md.MsgId, idByte, sizeof md.MsgId);
        memset(md.CorrelId, 0xCC, sizeof md.CorrelId);
        Fill(md.ReplyToQ, sizeof md.ReplyToQ, replyQ);
        Fill(md.ReplyToQMgr, sizeof md.ReplyToQMgr, replyQMgr);
        MQGMO gmo = MQGMO_DEFAULT;
        gmo.ReturnedLength = (MQLONG)msg.size();
        MQCBC cbc = MessageCall((MQLONG)msg.size());
        std::vector<MQBYTE> buffer(msg);
        OnCommandMessage(FakeHConnMain, &md, &gmo, buffer.empty() ? nullptr : buffer.data(), &cbc);
        return md;
    }

    static void Fill(MQCHAR *field, size_t size, const char *text) {
        memset(field, ' ', size);
        memcpy(field, text, std::min(size, strlen(text)));
    }

    static void Event(MQLONG reason, MQLONG callType = MQCBCT_EVENT_CALL) {
        MQCBC cbc = MQCBC_DEFAULT;
        cbc.CallType = callType;
        cbc.Reason = reason;
        cbc.CompCode = MQCC_FAILED;
        OnCommandMessage(FakeHConnMain, nullptr, nullptr, nullptr, &cbc);
    }

    static std::vector<MQBYTE> Text(const char *t) { return std::vector<MQBYTE>(t, t + strlen(t)); }

    static std::vector<MQBYTE> InquireQ() {
        return Pcf(MQCMD_INQUIRE_Q, MQCFT_COMMAND)
            .Control(MQCFC_LAST)
            .Str(MQCA_Q_NAME, "*")
            .IntList(MQIACF_Q_ATTRS, {MQIACF_ALL})
            .bytes();
    }

    static std::vector<PutRecord> Forwarded() { return PutsTo("SYSTEM.ADMIN.COMMAND.QUEUE"); }
};

}  // namespace

TEST_F(CommandConsumerTest, EventsStopTheAgentAndAreReportedOnce) {
    Event(MQRC_NONE);
    EXPECT_FALSE(StopRequested());
    EXPECT_EQ(Log(), "");

    Event(MQRC_GET_INHIBITED);
    EXPECT_TRUE(StopRequested());
    EXPECT_NE(Log().find("CVLA120E Queue 'CORVEL.TORVIK.COMMAND.QUEUE' has been GET(INHIBITED)\n"),
              std::string::npos);

    ResetRunState();
    Event(MQRC_CONNECTION_BROKEN);
    Event(MQRC_Q_MGR_STOPPING);
    EXPECT_TRUE(StopRequested());
    EXPECT_EQ(tvtest::CountOf(Log(), "CVLA199E"), 1);
    EXPECT_NE(Log().find("CVLA199E TORVIK received reason code 2009 ("), std::string::npos);

    Event(0, MQCBCT_START_CALL);
    EXPECT_NE(Log().find("Calltype = 1\n"), std::string::npos);
}

TEST_F(CommandConsumerTest, StopIsRecognisedOnItsExactTextAndCounted) {
    Send(Text("stop"), MQFMT_STRING, " ", " ");
    Send(Text("STOP "), MQFMT_STRING, " ", " ");
    Send(Text("STOP"), MQFMT_NONE, " ", " ");
    EXPECT_FALSE(StopRequested());
    EXPECT_NE(Log().find("CVLA212E TORVIK does not recognise the simple command 'stop'\n"),
              std::string::npos);
    EXPECT_NE(Log().find("CVLA212E TORVIK does not recognise the simple command 'STOP '\n"),
              std::string::npos);
    EXPECT_EQ(tvtest::CountOf(Log(), "CVLA212E"), 3);

    Send(Text("STOP"), MQFMT_STRING, " ", "QM1");
    EXPECT_TRUE(StopRequested());
    EXPECT_NE(Log().find("CVLA021I STOP command received\n"), std::string::npos);
    EXPECT_EQ(StatValue(STAT_SINCE_START, STAT_COMMANDS), 4);
    EXPECT_EQ(StatValue(STAT_SINCE_START, STAT_COMMAND_BYTES), 4 + 5 + 4 + 4);
    EXPECT_EQ(Puts().size(), 0u) << "a simple command never gets a reply";
}

TEST_F(CommandConsumerTest, PcfWithoutReplyQueueShowsItsFirstTwelveBytesSafely) {
    std::vector<MQBYTE> pcf = InquireQ();
    Send(pcf, MQFMT_ADMIN, "", "");
    /* Type 1, StrucLength 36, Version 1: control bytes shown as dots. */
    EXPECT_NE(Log().find("the simple command '....$.......'\n"), std::string::npos) << Log();
    Send(Text("A\nB\x1b[2J"), MQFMT_STRING, " ", " ");
    EXPECT_NE(Log().find("the simple command 'A.B.[2J'\n"), std::string::npos) << Log();
    EXPECT_EQ(StatValue(STAT_SINCE_START, STAT_COMMANDS), 2);
    EXPECT_EQ(RequestCount.load(), 0);
}

TEST_F(CommandConsumerTest, SimpleCommandsDoTheirWork) {
    Settings.verbosity = VERBOSITY_HIGH;
    Send(Text("REPORT"), MQFMT_STRING, " ", " ");
    EXPECT_NE(Log().find("CVLA080I TORVIK Status Report"), std::string::npos);

    /* CHECKREPL gives up expired requests. */
    REQUEST *req = Requester("OLD.REPLY");
    MQBYTE id[MQ_MSG_ID_LENGTH] = {7};
    AddRequest(req, id);
    req->lastActivity = 0;
    Send(Text("CHECKREPL"), MQFMT_STRING, " ", " ");
    EXPECT_EQ(RequestCount.load(), 0);
    EXPECT_EQ(PutsTo("OLD.REPLY").size(), 1u);

    /* CHECKHOBJ closes expired handles (the one just opened, with ttl -1). */
    Settings.hobjTtl = -1;
    Send(Text("CHECKHOBJ"), MQFMT_STRING, " ", " ");
    EXPECT_NE(Log().find("CVLA111I MQCLOSE of cached handle to queue 'QM1/OLD.REPLY' successful"),
              std::string::npos)
        << Log();

    LastCertCheckStart.store(0);
    Send(Text("STARTCERT"), MQFMT_STRING, " ", " ");
    EXPECT_NE(LastCertCheckStart.load(), 0);
    EXPECT_EQ(StatValue(STAT_SINCE_START, STAT_COMMANDS), 4);
}

TEST_F(CommandConsumerTest, RequestIsForwardedWithTheRequestersContextAndRecorded) {
    Settings.verbosity = VERBOSITY_MEDIUM;
    std::vector<MQBYTE> msg = InquireQ();
    MQMD md = Send(msg, MQFMT_ADMIN, "REQ.REPLY", "QM1", MQRO_PASS_CORREL_ID, 0x5A);

    std::vector<PutRecord> fwd = Forwarded();
    ASSERT_EQ(fwd.size(), 1u);
    EXPECT_EQ(fwd[0].data, msg) << "the body goes unchanged";
    EXPECT_EQ(fakemq::Field(fwd[0].md.ReplyToQ, 48), FakeReplyQName);
    EXPECT_EQ(fwd[0].md.ReplyToQMgr[0], '\0');
    EXPECT_EQ(fwd[0].md.Report, MQRO_PASS_CORREL_ID | 0x08000080);
    EXPECT_EQ(fwd[0].pmo.Options, 516);
    EXPECT_EQ(fwd[0].pmo.Context, FakeInputQ);
    EXPECT_EQ(0, memcmp(fwd[0].md.Format, MQFMT_ADMIN, 8));
    MQBYTE cc[24];
    memset(cc, 0xCC, sizeof cc);
    EXPECT_EQ(0, memcmp(fwd[0].md.CorrelId, cc, 24)) << "CorrelId unchanged";

    ASSERT_EQ(RequestCount.load(), 1);
    REQUEST *req = Lookup(fwd[0].md.MsgId);
    ASSERT_NE(req, nullptr);
    EXPECT_STREQ(req->replyQName, "REQ.REPLY");
    EXPECT_STREQ(req->replyQMgrName, "QM1");
    MQBYTE m[24];
    memset(m, 0x5A, sizeof m);
    EXPECT_EQ(0, memcmp(req->msgId, m, 24));
    EXPECT_EQ(0, memcmp(req->correlId, cc, 24));
    EXPECT_EQ(req->report, MQRO_PASS_CORREL_ID);
    EXPECT_EQ(req->requestType, REQTYPE_PCF);
    EXPECT_EQ(req->command, MQCMD_INQUIRE_Q);
    EXPECT_EQ(req->busy, 0);
    EXPECT_EQ(0, memcmp(md.MsgId, fwd[0].md.MsgId, 24));

    EXPECT_EQ(StatValue(STAT_SINCE_START, STAT_COMMANDS), 1);
    EXPECT_EQ(StatValue(STAT_SINCE_START, STAT_COMMAND_BYTES), (int32_t)msg.size());
    char line[200];
    snprintf(line, sizeof line, "CVLA401I Received PCF '%s' command message of length %d bytes\n",
             CommandText(MQCMD_INQUIRE_Q), (int)msg.size());
    EXPECT_NE(Log().find(line), std::string::npos) << Log();

    /* The reply finds its way back and completes the request. */
    DeliverReply(fwd[0].md.MsgId, Pcf(MQCMD_INQUIRE_Q).Control(MQCFC_LAST).bytes());
    std::vector<PutRecord> replies = PutsTo("REQ.REPLY");
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(0, memcmp(replies[0].md.CorrelId, cc, 24));
    EXPECT_EQ(RequestCount.load(), 0);
}

TEST_F(CommandConsumerTest, RequestTypesFollowTheFormat) {
    Settings.verbosity = VERBOSITY_MEDIUM;
    std::vector<MQBYTE> escape = Pcf(MQCMD_ESCAPE, MQCFT_COMMAND)
                                     .Int(MQIACF_ESCAPE_TYPE, MQET_MQSC)
                                     .Str(MQCACF_ESCAPE_TEXT, "DISPLAY QMGR")
                                     .bytes();
    EXPECT_EQ(ClassifyRequest(MQFMT_ADMIN, escape.data(), (MQLONG)escape.size()), REQTYPE_ESCAPE);
    EXPECT_EQ(ClassifyRequest(MQFMT_ADMIN, escape.data(), 12), REQTYPE_PCF);
    EXPECT_EQ(ClassifyRequest(MQFMT_STRING, nullptr, 0), REQTYPE_MQSC);
    EXPECT_EQ(ClassifyRequest(MQFMT_COMMAND_1, nullptr, 0), REQTYPE_MQSC);
    EXPECT_EQ(ClassifyRequest(MQFMT_COMMAND_2, nullptr, 0), REQTYPE_MQSC);
    EXPECT_EQ(ClassifyRequest(MQFMT_NONE, escape.data(), (MQLONG)escape.size()), REQTYPE_NONE);

    /* MQSC and escape requests go to the command server as they came. */
    Send(Text("DISPLAY QMGR"), MQFMT_STRING, "REQ.REPLY");
    Send(escape, MQFMT_ADMIN, "REQ.REPLY");
    std::vector<PutRecord> fwd = Forwarded();
    ASSERT_EQ(fwd.size(), 2u);
    EXPECT_EQ(fwd[0].data, Text("DISPLAY QMGR"));
    EXPECT_EQ(fwd[1].data, escape);
    EXPECT_NE(Log().find("CVLA402I Received MQSC command message of length 12 bytes\n"),
              std::string::npos);
    EXPECT_EQ(RequestCount.load(), 2);

    /* A short message has no Command field to read. */
    Send(std::vector<MQBYTE>(6, 0xEE), MQFMT_ADMIN, "REQ.REPLY");
    EXPECT_EQ(RequestCount.load(), 3);
}

TEST_F(CommandConsumerTest, RequestOfFormatNoneIsDroppedSilently) {
    long blocks = CSMemBlocksInUse();
    Send(InquireQ(), MQFMT_NONE, "REQ.REPLY");
    EXPECT_EQ(Puts().size(), 0u);
    EXPECT_EQ(RequestCount.load(), 0);
    EXPECT_EQ(StatValue(STAT_SINCE_START, STAT_COMMANDS), 0);
    EXPECT_EQ(Log(), "");
    EXPECT_EQ(CSMemBlocksInUse(), blocks);
    EXPECT_EQ(fakemq::State().opens.size(), 0u);
}

TEST_F(CommandConsumerTest, FailedForwardDropsTheRequestAfterItsRetries) {
    Settings.retryCount = 2;
    Settings.verbosity = VERBOSITY_HIGH;
    fakemq::State().putFailures.assign(3, MQRC_Q_FULL);
    long blocks = CSMemBlocksInUse();
    Send(InquireQ(), MQFMT_ADMIN, "REQ.REPLY");
    EXPECT_EQ(Puts().size(), 3u);
    EXPECT_EQ(tvtest::CountOf(Log(), "CVLA108E"), 2);
    EXPECT_NE(Log().find("CVLA107E MQPUT to queue 'SYSTEM.ADMIN.COMMAND.QUEUE' failed with reason "
                         "2053 ("),
              std::string::npos);
    EXPECT_EQ(StatValue(STAT_SINCE_START, STAT_FAILED_PUTS), 3);
    EXPECT_EQ(StatValue(STAT_SINCE_START, STAT_COMMANDS), 0);
    EXPECT_EQ(RequestCount.load(), 0);
    ForgetCachedHandles(); /* the reply queue's handle stays cached */
    EXPECT_EQ(CSMemBlocksInUse(), blocks);
}

TEST_F(CommandConsumerTest, SmallReplyQueueLowersTheLimitAndIsReportedOnce) {
    Settings.maxMsgSize = 1048576;
    fakemq::State().maxMsgLength["REQ.SMALL"] = 65536;
    fakemq::State().defType["REQ.SMALL"] = MQQDT_PERMANENT_DYNAMIC;
    Send(InquireQ(), MQFMT_ADMIN, "REQ.SMALL", "QM1", MQRO_NONE, 1);
    Send(InquireQ(), MQFMT_ADMIN, "REQ.SMALL", "QM1", MQRO_NONE, 2);
    Send(InquireQ(), MQFMT_ADMIN, "REQ.BIG", "QM1", MQRO_NONE, 3);
    EXPECT_EQ(tvtest::CountOf(Log(), "CVLA304I"), 1);
    EXPECT_NE(Log().find("CVLA304I ReplyQ QM1/REQ.SMALL (PERMDYN) has smaller MaxMsgLen (65536)\n"
                         "than configured maxmsgsize (1048576). Consolidation size reduced "
                         "accordingly\n"),
              std::string::npos)
        << Log();
    std::vector<PutRecord> fwd = Forwarded();
    ASSERT_EQ(fwd.size(), 3u);
    for (size_t i = 0; i < 3; i++) {
        REQUEST *req = Lookup(fwd[i].md.MsgId);
        ASSERT_NE(req, nullptr);
        EXPECT_EQ(req->maxMsgSize, i < 2 ? 65536 : 1048576);
    }

    /* Off: no inquiry, no limit change. */
    ClearFlags(FLAG_REPLYQINQ);
    ForgetCachedHandles();
    Send(InquireQ(), MQFMT_ADMIN, "REQ.SMALL", "QM1", MQRO_NONE, 4);
    fwd = Forwarded();
    REQUEST *req = Lookup(fwd.back().md.MsgId);
    ASSERT_NE(req, nullptr);
    EXPECT_EQ(req->maxMsgSize, 1048576);
}
