/* command_consumer_test.cpp -- the input-queue consumer: simple commands,
 * classification, forwarding and the reply-queue size check (its events,
 * which stop the agent, are in the fault matrix). */
#include "core/mainloop.h"
#include "routing_fixture.h"
#include "support/files.h"

using namespace rtest;
using tvtest::CountOf;

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
        CopyPadded(md.ReplyToQ, sizeof md.ReplyToQ, replyQ, ' ');
        CopyPadded(md.ReplyToQMgr, sizeof md.ReplyToQMgr, replyQMgr, ' ');
        Consume(OnCommandMessage, &md, msg);
        return md;
    }
    /* A simple command: text without a reply queue. */
    void Simple(const char *text, const char *format = MQFMT_STRING, const char *qmgr = " ") {
        Send(std::vector<MQBYTE>(text, text + strlen(text)), format, " ", qmgr);
    }

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

/* STOP on its exact text, of format MQSTR, stops; anything else is refused
 * with its first twelve bytes shown safely; all are counted, none answered. */
TEST_F(CommandConsumerTest, SimpleCommandsAreRecognisedOnTheirExactTextAndCounted) {
    Simple("stop");
    Simple("STOP ");
    Simple("STOP", MQFMT_NONE);
    Simple("A\nB\x1b[2J");
    Send(InquireQ(), MQFMT_ADMIN, "", "");
    EXPECT_FALSE(StopRequested());
    const std::string m = Log();
    for (const char *shown : {"stop", "STOP ", "STOP", "A.B.[2J", "....$......."})
        EXPECT_EQ(CountOf(m, "TORVIK does not recognise the simple command '" + std::string(shown) +
                                 "'\n"),
                  1)
            << shown << "\n"
            << m;
    EXPECT_EQ(CountOf(m, "CVLA212E"), 5);

    Simple("STOP", MQFMT_STRING, "QM1");
    EXPECT_TRUE(StopRequested());
    EXPECT_NE(Log().find("CVLA021I STOP command received\n"), std::string::npos);
    EXPECT_EQ(StatValue(STAT_SINCE_START, STAT_COMMANDS), 6);
    EXPECT_EQ(StatValue(STAT_SINCE_START, STAT_COMMAND_BYTES),
              4 + 5 + 4 + 7 + (int32_t)InquireQ().size() + 4);
    EXPECT_EQ(RequestCount.load(), 0);
    EXPECT_EQ(Puts().size(), 0u) << "a simple command never gets a reply";
}

/* (REPORT is served in the triggered start, CHECKREPL in the ageing of the
 * fault matrix, STARTCERT is seen taken in the certificate suite.) */
TEST_F(CommandConsumerTest, SimpleCommandsDoTheirWork) {
    Settings.verbosity = VERBOSITY_HIGH;
    /* CHECKHOBJ closes expired handles (one just opened, with ttl -1). */
    RoutingTest::Forwarded(7, "OLD.REPLY");
    DeliverReply(Id(7).data(), Pcf(MQCMD_INQUIRE_Q).Control(MQCFC_LAST).bytes());
    Settings.hobjTtl = -1;
    Simple("CHECKHOBJ");
    EXPECT_NE(Log().find("CVLA111I MQCLOSE of cached handle to queue 'QM1/OLD.REPLY' successful"),
              std::string::npos)
        << Log();

    LastCertCheckStart.store(0);
    Simple("STARTCERT");
    EXPECT_NE(LastCertCheckStart.load(), 0);
    EXPECT_EQ(StatValue(STAT_SINCE_START, STAT_COMMANDS), 2);
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
    EXPECT_EQ(std::string(fwd[0].md.Format, 8), MQFMT_ADMIN);
    EXPECT_EQ((std::vector<MQLONG>{fwd[0].md.Report, fwd[0].pmo.Options, fwd[0].pmo.Context}),
              (std::vector<MQLONG>{MQRO_PASS_CORREL_ID | 0x08000080, 516, FakeInputQ}));
    EXPECT_EQ(std::vector<MQBYTE>(fwd[0].md.CorrelId, fwd[0].md.CorrelId + 24), Id(0xCC));
    EXPECT_EQ(0, memcmp(md.MsgId, fwd[0].md.MsgId, 24));

    ASSERT_EQ(RequestCount.load(), 1);
    REQUEST *req = Lookup(fwd[0].md.MsgId);
    ASSERT_NE(req, nullptr);
    EXPECT_EQ(std::string(req->replyQMgrName) + "/" + req->replyQName, "QM1/REQ.REPLY");
    EXPECT_EQ(std::vector<MQBYTE>(req->msgId, req->msgId + 24), Id(0x5A));
    EXPECT_EQ(std::vector<MQBYTE>(req->correlId, req->correlId + 24), Id(0xCC));
    EXPECT_EQ((std::vector<MQLONG>{req->report, req->requestType, req->command, req->busy}),
              (std::vector<MQLONG>{MQRO_PASS_CORREL_ID, REQTYPE_PCF, MQCMD_INQUIRE_Q, 0}));

    EXPECT_EQ(StatValue(STAT_SINCE_START, STAT_COMMANDS), 1);
    EXPECT_EQ(StatValue(STAT_SINCE_START, STAT_COMMAND_BYTES), (int32_t)msg.size());
    EXPECT_NE(Log().find("CVLA401I Received PCF '" + std::string(CommandText(MQCMD_INQUIRE_Q)) +
                         "' command message of length " + std::to_string(msg.size()) + " bytes\n"),
              std::string::npos)
        << Log();

    /* The reply finds its way back and completes the request. */
    DeliverReply(fwd[0].md.MsgId, Pcf(MQCMD_INQUIRE_Q).Control(MQCFC_LAST).bytes());
    EXPECT_EQ(PutsTo("REQ.REPLY").size(), 1u);
    EXPECT_EQ(RequestCount.load(), 0);
}

TEST_F(CommandConsumerTest, RequestTypesFollowTheFormat) {
    /* A request of format MQFMT_NONE is dropped without a word. */
    long blocks = CSMemBlocksInUse();
    Send(InquireQ(), MQFMT_NONE, "REQ.REPLY");
    EXPECT_EQ(Log(), "");
    EXPECT_EQ(fakemq::State().opens.size(), 0u);
    EXPECT_EQ(CSMemBlocksInUse(), blocks);

    Settings.verbosity = VERBOSITY_MEDIUM;
    std::vector<MQBYTE> escape = Pcf(MQCMD_ESCAPE, MQCFT_COMMAND)
                                     .Int(MQIACF_ESCAPE_TYPE, MQET_MQSC)
                                     .Str(MQCACF_ESCAPE_TEXT, "DISPLAY QMGR")
                                     .bytes();
    const MQLONG n = (MQLONG)escape.size();
    EXPECT_EQ(ClassifyRequest(MQFMT_ADMIN, escape.data(), n), REQTYPE_ESCAPE);
    EXPECT_EQ(ClassifyRequest(MQFMT_ADMIN, escape.data(), 12), REQTYPE_PCF);
    for (const char *text : {MQFMT_STRING, MQFMT_COMMAND_1, MQFMT_COMMAND_2})
        EXPECT_EQ(ClassifyRequest(text, nullptr, 0), REQTYPE_MQSC);
    EXPECT_EQ(ClassifyRequest(MQFMT_NONE, escape.data(), n), REQTYPE_NONE);

    /* MQSC and escape requests go to the command server as they came; a
     * short message has no Command field to read. */
    const std::vector<MQBYTE> mqsc = {'D', 'I', 'S', 'P', 'L', 'A', 'Y', ' ', 'Q', 'M', 'G', 'R'};
    Send(mqsc, MQFMT_STRING, "REQ.REPLY");
    Send(escape, MQFMT_ADMIN, "REQ.REPLY");
    Send(std::vector<MQBYTE>(6, 0xEE), MQFMT_ADMIN, "REQ.REPLY");
    std::vector<PutRecord> fwd = Forwarded();
    ASSERT_EQ(fwd.size(), 3u);
    EXPECT_EQ(fwd[0].data, mqsc);
    EXPECT_EQ(fwd[1].data, escape);
    EXPECT_NE(Log().find("CVLA402I Received MQSC command message of length 12 bytes\n"),
              std::string::npos);
    EXPECT_EQ(RequestCount.load(), 3);
    EXPECT_EQ(StatValue(STAT_SINCE_START, STAT_COMMANDS), 3);
}

/* (The retry rules are the put module's.) */
TEST_F(CommandConsumerTest, FailedForwardDropsTheRequestAfterItsRetries) {
    Settings.retryCount = 2;
    fakemq::State().putFailures.assign(3, MQRC_Q_FULL);
    long blocks = CSMemBlocksInUse();
    Send(InquireQ(), MQFMT_ADMIN, "REQ.REPLY");
    EXPECT_EQ(Puts().size(), 3u);
    EXPECT_NE(Log().find("CVLA107E MQPUT to queue 'SYSTEM.ADMIN.COMMAND.QUEUE' failed with reason "
                         "2053 ("),
              std::string::npos);
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
    /* Off: no inquiry, no limit change. */
    ClearFlags(FLAG_REPLYQINQ);
    ForgetCachedHandles();
    Send(InquireQ(), MQFMT_ADMIN, "REQ.SMALL", "QM1", MQRO_NONE, 4);
    EXPECT_EQ(CountOf(Log(), "CVLA304I"), 1);
    EXPECT_NE(Log().find("CVLA304I ReplyQ QM1/REQ.SMALL (PERMDYN) has smaller MaxMsgLen (65536)\n"
                         "than configured maxmsgsize (1048576). Consolidation size reduced "
                         "accordingly\n"),
              std::string::npos)
        << Log();
    std::vector<PutRecord> fwd = Forwarded();
    ASSERT_EQ(fwd.size(), 4u);
    for (size_t i = 0; i < 4; i++) {
        REQUEST *req = Lookup(fwd[i].md.MsgId);
        ASSERT_NE(req, nullptr);
        EXPECT_EQ(req->maxMsgSize, i < 2 ? 65536 : 1048576) << i;
    }
}
