/* certcmd_test.cpp -- DISPLAY CERT and the expiry check on the routing
 * tests' fake MQI: parameter errors, the inquiry, selection, replies and
 * events, the asqmgr switch, and the release of the command context. */
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "cert/certcmd.h"
#include "cert/certparse.h"
#include "support/files.h"
#include "routing/routing_fixture.h"

namespace {

using namespace rtest;

constexpr int64_t DAY = 86400;

class CertCommandTest : public rtest::RoutingTest {
protected:
    void SetUp() override {
        RoutingTest::SetUp();
        baseline_ = CSMemBlocksInUse();
    }
    void TearDown() override {
        ClearRequests();
        ForgetCachedHandles();
        EXPECT_EQ(CSMemBlocksInUse(), baseline_) << "blocks left behind";
        RoutingTest::TearDown();
    }

    /* A DISPLAY CERT request of a PCF requester, not yet in the table. */
    REQUEST *CertRequester() {
        REQUEST *req = Requester();
        req->command = CVL_CMD_DISPLAY_CERTIFICATE;
        return req;
    }
    /* Run DisplayCertCommand as the consumer does, then enter or free the
     * request as the consumer would. Returns the handler's result. */
    MQLONG Display(REQUEST *req, std::vector<MQBYTE> msg) {
        MQMD md = MQMD_DEFAULT;
        memcpy(md.Format, MQFMT_ADMIN, 8);
        MQLONG rc = DisplayCertCommand(req, &md, msg.data(), (MQLONG)msg.size());
        if (rc != MQRC_NONE || req->complete)
            FreeRequest(req);
        else
            AddRequest(req, md.MsgId);
        return rc;
    }
    static Pcf Command() { return Pcf(CVL_CMD_DISPLAY_CERTIFICATE, MQCFT_COMMAND); }

    /* A certificate record on ctx's list (appended). */
    static CERTREC *AddCert(CERTCMDCTX *ctx, const char *label, int usage, int64_t secondsLeft) {
        ParseListLine(ctx, (std::string("-\t\"") + label + "\"").c_str());
        CERTREC *rec = ctx->lastCert;
        CopyField(rec->subject, sizeof rec->subject, (std::string("CN=") + label).c_str());
        rec->usage = usage;
        rec->keySize = 2048;
        rec->notBefore = 1700000000;
        rec->notAfter = 1700000000 + secondsLeft;
        rec->secondsLeft = secondsLeft;
        return rec;
    }

    long baseline_ = 0;
};

/* A failure response as "CompCode reason parameter-id text" (id 0: none). */
std::string Failure(const PutRecord &put) {
    MQLONG parmId = 0;
    std::string text;
    for (const Parm &p : ReadParms(put.data)) {
        if (p.parameter == MQIACF_PARAMETER_ID)
            parmId = p.value;
        if (p.parameter == CVL_ATTR_ERROR_TEXT)
            text = p.text;
    }
    return std::to_string(Get(put.data, 24)) + " " + std::to_string(Get(put.data, 28)) + " " +
           std::to_string(parmId) + " " + text;
}

TEST_F(CertCommandTest, AnswersEachParameterErrorWithOneResponseAndNoInquiry) {
    const std::pair<Pcf, const char *> cases[] = {
        {Command().Str(CVL_ATTR_TORVIK_LIFESPAN_THRESHOLD, "30"),
         "2 3014 20015 CVLA604E Parameter 'EVTTHRES' should be an integer"},
        {Command().Str(CVL_ATTR_TORVIK_CERT_USAGE, "1"),
         "2 3229 20011 CVLA604E Parameter 'CERTUSAGE' should be an integer"},
        {Command().Int(CVL_ATTR_TORVIK_CERT_USAGE, 4),
         "2 3229 20011 CVLA605E Parameter 'CERTUSAGE' is not a recognised value"},
        {Command().Int(CVL_ATTR_TORVIK_CERT_ATTRS, 1009), "2 3229 20003 "},
        {Command().Int(MQCA_CERT_LABEL, 1),
         "2 3229 2121 CVLA606E Parameter 'CERT' should be a string"},
        {Command().Str(MQCA_CERT_LABEL, std::string(65, 'c')),
         "2 3011 2121 CVLA602E Parameter 'CERT' is too long"},
        {Command().Str(MQCA_CERT_LABEL, "a\tb"),
         "2 3229 2121 Parameter 'CERT' contains non-printable characters."},
        {Command().Str(MQCA_SSL_KEY_REPOSITORY, std::string(257, 'k')),
         "2 3011 2049 CVLA602E Parameter 'SSLKEYR' is too long"},
        {Command().Str(MQCA_SSL_KEY_REPOSITORY, " -stashed"),
         "2 3229 2049 CVLA605E Parameter 'SSLKEYR' is not a recognised value"},
        {Command().Str(CVL_ATTR_TORVIK_WHERE, std::string(1025, 'x')),
         "2 3011 20002 CVLA602E Parameter 'WHERE' is too long"},
        {Command().Str(CVL_ATTR_TORVIK_WHERE, "NOSUCH EQ 1"),
         "2 3229 20002 CVLA610E Unknown variable 'NOSUCH'"},
        {Command().Str(MQCA_Q_NAME, "Q"), "2 3015 2016 "},
        {Command().Int(MQIA_CURRENT_Q_DEPTH, 1), "2 3014 3 "},
        {Command().IntList(MQIACF_Q_ATTRS, {1}), "2 3047 1002 "},
        {Command().StrList(MQCACF_Q_NAMES, {"A"}, 4), "2 3033 3011 "},
        {Command().Bytes(MQBACF_CONNECTION_ID, {1, 2}), "2 3256 7006 "},
    };
    for (const auto &[msg, failure] : cases) {
        fakemq::State().puts.clear();
        EXPECT_EQ(Display(CertRequester(), msg.bytes()), MQRC_NONE);
        std::vector<PutRecord> puts = rtest::Puts();
        ASSERT_EQ(puts.size(), 1u) << failure;
        EXPECT_EQ(puts[0].name + " " + Failure(puts[0]), std::string("REQ.REPLY ") + failure);
        EXPECT_EQ(RequestCount.load(), 0);
        ForgetCachedHandles();
        EXPECT_EQ(CSMemBlocksInUse(), baseline_) << failure;
    }
}

TEST_F(CertCommandTest, ForwardsTheQmgrInquiryAndKeepsTheFirst25Attributes) {
    std::vector<MQLONG> attrs;
    for (int i = 0; i < 30; i++)
        attrs.push_back(3000 + i);
    REQUEST *req = CertRequester();
    Pcf msg = Command()
                  .Str(MQCA_CERT_LABEL, "  qm*  ")
                  .Str(MQCA_SSL_KEY_REPOSITORY, "/var/ssl.d/key")
                  .Int(CVL_ATTR_TORVIK_CERT_USAGE, CERT_USAGE_CA)
                  .Int(CVL_ATTR_TORVIK_LIFESPAN_THRESHOLD, 30)
                  .IntList(CVL_ATTR_TORVIK_CERT_ATTRS, attrs);
    ASSERT_EQ(Display(req, msg.bytes()), MQRC_NONE);

    CERTCMDCTX *ctx = (CERTCMDCTX *)req->handlerContext;
    ASSERT_NE(ctx, nullptr);
    EXPECT_STREQ(ctx->labelPattern, "qm*");
    EXPECT_EQ(ctx->attrCount, 25);
    EXPECT_EQ(ctx->attrs[24], 3024);

    std::vector<PutRecord> puts = rtest::PutsTo("SYSTEM.ADMIN.COMMAND.QUEUE");
    ASSERT_EQ(puts.size(), 1u);
    EXPECT_EQ(puts[0].data, Pcf(MQCMD_INQUIRE_Q_MGR, MQCFT_COMMAND)
                                .Control(MQCFC_LAST)
                                .IntList(MQIACF_Q_MGR_ATTRS, {2049, 2121, MQIA_SSL_EVENT})
                                .bytes());
    EXPECT_EQ(fakemq::Field(puts[0].md.ReplyToQ, 48), rtest::FakeReplyQName);
    EXPECT_EQ(memcmp(puts[0].md.Format, MQFMT_ADMIN, 8), 0);
    EXPECT_EQ(memcmp(req->forwardedMsgId, puts[0].md.MsgId, 24), 0);

    /* A z/OS queue manager gets the command in its extended form. */
    SetFlags(FLAG_ZOS);
    MQBYTE zos[QMGR_INQUIRY_SIZE];
    MQLONG length = 0;
    MQMD zmd = MQMD_DEFAULT;
    ASSERT_EQ(BuildQmgrInquiry(zos, sizeof zos, &length, &zmd), MQRC_NONE);
    const std::vector<MQBYTE> z(zos, zos + length);
    EXPECT_EQ((std::vector<MQLONG>{Get(z, 0), Get(z, 8)}),
              (std::vector<MQLONG>{MQCFT_COMMAND_XR, MQCFH_VERSION_3}));
}

/* The inquiry reply of the stand-in command server: blank-padded strings. */
std::vector<MQBYTE> QmgrReply(const std::string &keyr, const std::string &label, MQLONG sslev,
                              MQLONG control = MQCFC_LAST) {
    return Pcf(MQCMD_INQUIRE_Q_MGR)
        .Control(control)
        .Padded(MQCA_SSL_KEY_REPOSITORY, keyr, keyr.size() < 256 ? 256 : keyr.size())
        .Padded(MQCA_CERT_LABEL, label, 64)
        .Int(MQIA_SSL_EVENT, sslev)
        .bytes();
}

TEST_F(CertCommandTest, AFailedInquiryGoesToTheRequesterOrEndsTheCheckWithCVLA229E) {
    REQUEST *req = CertRequester();
    ASSERT_EQ(Display(req, Command().bytes()), MQRC_NONE);
    DeliverReply(req->forwardedMsgId,
                 Pcf(MQCMD_INQUIRE_Q_MGR).Control(MQCFC_LAST).CompCode(2).Reason(2035).bytes());
    ClearFlags(FLAG_CERTDISPLAY); /* then no inquiry at all */
    EXPECT_EQ(Display(CertRequester(), Command().bytes()), MQRC_NONE);
    std::vector<PutRecord> puts = rtest::PutsTo("REQ.REPLY");
    ASSERT_EQ(puts.size(), 2u);
    EXPECT_EQ(Failure(puts[0]) + "/" + Failure(puts[1]), "2 2035 0 /2 2298 0 ");
    EXPECT_EQ(RequestCount.load(), 0);

    ASSERT_EQ(StartCertCheckRequest(), MQRC_NONE);
    ASSERT_EQ(RequestCount.load(), 1);
    std::vector<PutRecord> inq = rtest::PutsTo("SYSTEM.ADMIN.COMMAND.QUEUE");
    ASSERT_EQ(inq.size(), 2u);
    EXPECT_EQ(inq[1].md.MsgType, MQMT_REQUEST);
    EXPECT_EQ(inq[1].md.Report, MQRO_PASS_MSG_ID);
    DeliverReply(inq[1].md.MsgId, Pcf(MQCMD_INQUIRE_Q_MGR)
                                      .Control(MQCFC_LAST)
                                      .CompCode(2)
                                      .Reason(3238)
                                      .Str(CVL_ATTR_ERROR_TEXT, "CVLA501E No response")
                                      .bytes());
    EXPECT_NE(Log().find("CVLA501E No response\n"), std::string::npos) << Log();
    EXPECT_EQ(tvtest::CountOf(Log(), "CVLA229E Checking Certificates failed\n"), 1);
    EXPECT_EQ(RequestCount.load(), 0);

    /* A queue manager attribute the check cannot use ends it the same way,
     * with no reply put anywhere. */
    ASSERT_EQ(StartCertCheckRequest(), MQRC_NONE);
    inq = rtest::PutsTo("SYSTEM.ADMIN.COMMAND.QUEUE");
    size_t putsBefore = rtest::Puts().size();
    DeliverReply(inq.back().md.MsgId, QmgrReply(std::string(300, 'k'), "", 1));
    EXPECT_EQ(tvtest::CountOf(Log(), "CVLA229E Checking Certificates failed\n"), 2);
    EXPECT_EQ(rtest::Puts().size(), putsBefore);
    EXPECT_EQ(RequestCount.load(), 0);
}

TEST_F(CertCommandTest, AsqmgrSwitchReportsOnlyChangesAndEndsDisabledChecks) {
    Settings.certEvent.store(CERTEVENT_ASQMGR);
    const char disabled[] =
        "CVLA223I Certificate Expiry Events are disabled\n"
        "certevent config set to 'asqmgr' and SSLEV(DISABLED)\n";
    for (int i = 0; i < 2; i++) {
        ASSERT_EQ(StartCertCheckRequest(), MQRC_NONE);
        std::vector<PutRecord> inq = rtest::PutsTo("SYSTEM.ADMIN.COMMAND.QUEUE");
        DeliverReply(inq.back().md.MsgId, QmgrReply("/ssl/key", "", 0));
        EXPECT_EQ(RequestCount.load(), 0);
    }
    EXPECT_EQ(tvtest::CountOf(Log(), disabled), 1) << Log();
    EXPECT_TRUE(FlagIsSet(FLAG_CERTEV_DISABLED_NOTED));
    /* Enabled: the check goes on, reported once. */
    REQUEST *req = NewRequest(CVL_CMD_DISPLAY_CERTIFICATE);
    CERTCMDCTX ctx{};
    ctx.sslEvent = 1;
    EXPECT_EQ(ApplyEventSwitch(req, &ctx), 1);
    EXPECT_EQ(ApplyEventSwitch(req, &ctx), 1);
    FreeRequest(req);
    EXPECT_EQ(tvtest::CountOf(Log(), "CVLA223I Certificate Expiry Events are enabled\n"), 1);
    EXPECT_TRUE(FlagIsSet(FLAG_CERTEV_ENABLED_NOTED) && !FlagIsSet(FLAG_CERTEV_DISABLED_NOTED));
}

/* 40000 days overflow a 32-bit product. */
TEST_F(CertCommandTest, ExpiryTestIsStrictlyBelowTheThresholdIn64Bits) {
    const std::tuple<int64_t, int32_t, int> cases[] = {
        /* seconds left, days, nearing */
        {30 * DAY, 30, 0},
        {30 * DAY - 1, 30, 1},
        {-2 * DAY, 30, 1},
        {0, 1, 1},
        {-5 * DAY, 0, 0},
        {100 * 365 * DAY, 30000, 0},
        {100 * 365 * DAY, 40000, 1},
        {INT64_MIN, INT32_MAX, 1},
        {INT64_MAX, INT32_MAX, 0},
    };
    for (const auto &[left, days, nearing] : cases)
        EXPECT_EQ(CertNearingExpiry(left, days), nearing) << left << " " << days;
}

/* A requester's request that has got as far as the repository run, with
 * three certificates. */
class CertResponseTest : public CertCommandTest {
protected:
    REQUEST *Prepared(const Pcf &msg) {
        REQUEST *req = CertRequester();
        EXPECT_EQ(Display(req, msg.bytes()), MQRC_NONE);
        ctx_ = (CERTCMDCTX *)req->handlerContext;
        CopyField(ctx_->qmgrKeyRepository, sizeof ctx_->qmgrKeyRepository, "/ssl/key.kdb");
        AddCert(ctx_, "qm1cert", CERT_USAGE_PERSONAL, 10 * DAY)->isDefault = 1;
        AddCert(ctx_, "ca root", CERT_USAGE_CA, 100 * 365 * DAY)->trusted = 1;
        AddCert(ctx_, "qm2cert", CERT_USAGE_PERSONAL, -2 * DAY);
        return req;
    }
    void Process(REQUEST *req) {
        fakemq::State().puts.clear();
        req->replyHandler = ProcessRepository;
        DeliverReply(req->forwardedMsgId, Pcf(0, MQCFT_COMMAND).Control(MQCFC_LAST).bytes());
        EXPECT_EQ(RequestCount.load(), 0);
    }
    CERTCMDCTX *ctx_ = nullptr;
};

/* Each reply as "Control CompCode Reason first-text: parameter ids". */
std::string Summary(const PutRecord &put) {
    std::vector<Parm> parms = ReadParms(put.data);
    std::string s = std::to_string(Get(put.data, 20)) + " " + std::to_string(Get(put.data, 24)) +
                    " " + std::to_string(Get(put.data, 28)) + " " +
                    (parms.empty() ? "" : parms[0].text) + ":";
    for (const Parm &p : parms)
        s += " " + std::to_string(p.parameter);
    return s;
}

TEST_F(CertResponseTest, SendsTheSelectedCertificatesWithParametersInOrderOrUnknownObjectName) {
    ClearFlags(FLAG_COALESCE);
    const std::string all =
        ": 2121 20011 3545 20013 3550 2049 20006 20007 20008 20009 20010 20012 20014";
    const std::pair<Pcf, std::vector<std::string>> cases[] = {
        {Command()
             .Str(MQCA_CERT_LABEL, "qm?cert")
             .IntList(CVL_ATTR_TORVIK_CERT_ATTRS, {MQIACF_ALL}),
         {"0 0 0 qm1cert" + all, "1 0 0 qm2cert" + all}},
        {Command().Int(CVL_ATTR_TORVIK_CERT_USAGE, CERT_USAGE_CA),
         {"1 0 0 ca root: 2121 20011 20008"}},
        {Command().Str(MQCA_CERT_LABEL, "nomatch*"),
         {"1 2 " + std::to_string(MQRCCF_UNKNOWN_OBJECT_NAME) + " :"}},
    };
    for (const auto &[msg, want] : cases) {
        Process(Prepared(msg));
        std::vector<std::string> replies;
        for (const PutRecord &put : rtest::PutsTo("REQ.REPLY"))
            replies.push_back(Summary(put));
        EXPECT_EQ(replies, want);
    }
}

TEST_F(CertResponseTest, WritesEventsForEveryCertificateInsideEvtthresSelectedOrNot) {
    REQUEST *req =
        Prepared(Command().Str(MQCA_CERT_LABEL, "ca*").Int(CVL_ATTR_TORVIK_LIFESPAN_THRESHOLD, 30));
    Process(req);
    EXPECT_EQ(rtest::PutsTo("REQ.REPLY").size(), 1u);
    std::vector<PutRecord> events = rtest::PutsTo(CertEventQueueName);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_NE(Log().find("CVLA228I Certificate event written for DN 'CN=qm2cert' with -2 days "
                         "left\n"),
              std::string::npos);

    const PutRecord &e = events[0];
    EXPECT_EQ(e.md.MsgType, MQMT_DATAGRAM);
    EXPECT_EQ(memcmp(e.md.Format, MQFMT_EVENT, 8), 0);
    EXPECT_EQ(e.pmo.Options & MQPMO_NO_SYNCPOINT, MQPMO_NO_SYNCPOINT);
    EXPECT_EQ(Get(e.data, 0), MQCFT_EVENT);
    EXPECT_EQ(Get(e.data, 12), MQCMD_CHANNEL_EVENT);
    EXPECT_EQ(Summary(e), "1 1 " + std::to_string(CVLRC_CERTIFICATE_NEARING_EXPIRY) +
                              " QM1: 2015 2121 2049 3545 20013 3550 20006 20007 20015 20008 20009 "
                              "20010 20011 20012 20014");
    std::vector<Parm> parms = ReadParms(e.data);
    EXPECT_EQ(parms[1].text + parms[2].text, "qm1cert/ssl/key.kdb");
    EXPECT_EQ(parms[8].value, 30);
    EXPECT_EQ(parms[11].value, 1);
}

TEST_F(CertCommandTest, ReleasesTheContextWhenARequesterIsAgedOut) {
    Settings.maxAge = 0;
    REQUEST *req = CertRequester();
    ASSERT_EQ(Display(req, Command().Str(CVL_ATTR_TORVIK_WHERE, "KEYSIZE GT 0").bytes()),
              MQRC_NONE);
    ASSERT_NE(req->cmdData[0], nullptr);
    AddCert((CERTCMDCTX *)req->handlerContext, "a", 1, DAY);
    req->lastActivity -= 5;
    CurrentTime.store(req->lastActivity + 10);
    AgeRequests(1);
    EXPECT_EQ(RequestCount.load(), 0);
    /* TearDown checks that no block is left. */
}

}  // namespace
