/* mqsc_test.cpp -- DISPLAY CERT in MQSC text and escape commands (the PCF
 * message handed on, byte for byte; the syntax error replies), and the
 * agent's PCF replies as MQSC text and escape responses. */
#include <tuple>

#include "mqsc/mqsc_render.h"
#include "mqsc/mqsc_tables.h"
#include "mqsc/mqsc_translate.h"
#include "routing/routing_fixture.h"

using namespace rtest;

namespace {

TEST(MqscTables, FindClosingParenSkipsQuotesAndNesting) {
    /* the text after the opening '(', the offset of the closing ')' (-1 none) */
    const std::pair<const char *, int> cases[] = {
        {"A)", 1},
        {"A (B) C) D", 7},
        {"'x)' )", 5},
        {"\"it's)\" )", -1},
        /* the apostrophe opens a run of its own */ {"'a\"b)\"c)' )", 10},
        {"(unclosed", -1},
        {"'quote)", -1},
    };
    for (const auto &[text, at] : cases) {
        const char *got = FindClosingParen(text, text + strlen(text));
        EXPECT_EQ(got == nullptr ? -1 : (int)(got - text), at) << text;
    }
    /* quoted runs nested a million deep cost no machine stack */
    std::string opens, closes;
    for (int i = 0; i < 500000; i++) {
        opens += "'\"";
        closes += "\"'";
    }
    const std::string deep = opens + closes + ")";
    EXPECT_EQ(FindClosingParen(deep.data(), deep.data() + deep.size()), &deep.back());
}

std::vector<MQBYTE> Handed; /* the last message given to the 9500 handler */
int HandedCount = 0;

MQLONG CaptureDisplayCert(REQUEST *, MQMD *, MQBYTE *msg, MQLONG length) {
    Handed.assign(msg, msg + length);
    HandedCount++;
    return MQRC_NONE;
}

const std::string Segment =
    "CVLA601E Syntax error detected at or near end of command segment below:-\n";
const std::string Details = "CVLA700I Display Certificate details\n";

class MqscTest : public RoutingTest {
protected:
    void SetUp() override {
        RoutingTest::SetUp();
        SetRequestHandler(HANDLER_DISPLAY_CERT, CaptureDisplayCert);
        Handed.clear();
        HandedCount = 0;
    }
    void TearDown() override {
        for (REQUEST *r : made_)
            FreeRequest(r);
        RoutingTest::TearDown();
    }
    REQUEST *Req(MQLONG type) {
        REQUEST *r = Requester();
        r->requestType = type;
        made_.push_back(r);
        return r;
    }
    MQLONG Translate(const std::string &text, MQLONG type = REQTYPE_MQSC) {
        MQMD md = MQMD_DEFAULT;
        std::vector<char> copy(text.begin(), text.end()); /* no NUL after it */
        return TranslateMqscCommand(Req(type), &md, copy.data(), (MQLONG)copy.size());
    }
    MQLONG Unwrap(std::vector<MQBYTE> msg) {
        MQMD md = MQMD_DEFAULT;
        return UnwrapEscapeCommand(Req(REQTYPE_ESCAPE), &md, msg.data(), (MQLONG)msg.size());
    }
    /* The text RenderReplyAsMqsc makes of reply (header included), or
     * "reason N", or "<unchanged>". */
    std::string Render(const std::vector<MQBYTE> &reply, MQLONG type = REQTYPE_MQSC) {
        MQBYTE *msg = const_cast<MQBYTE *>(reply.data());
        MQLONG length = (MQLONG)reply.size();
        MQLONG r = RenderReplyAsMqsc(Req(type), &msg, &length);
        if (r != 0 || msg == reply.data())
            return r != 0 ? "reason " + std::to_string(r) : "<unchanged>";
        std::string text((const char *)msg, (size_t)length);
        CSFreeMem(msg);
        return text;
    }
    static Pcf Cert(MQLONG reason = 0) {
        return Pcf(9500, MQCFT_COMMAND).Control(MQCFC_LAST).CompCode(reason ? 2 : 0).Reason(reason);
    }
    static std::vector<MQBYTE> Escape(const std::string &text) {
        return Pcf(MQCMD_ESCAPE, MQCFT_COMMAND)
            .Control(MQCFC_LAST)
            .Int(MQIACF_ESCAPE_TYPE, MQET_MQSC)
            .Str(MQCACF_ESCAPE_TEXT, text)
            .bytes();
    }
    /* m is an escape response of command with reason carrying text, the
     * seq-th of its set and the last one unless last is 0. */
    static void ExpectEscape(const std::vector<MQBYTE> &m, MQLONG command, MQLONG reason,
                             const std::string &text, MQLONG seq = 1, MQLONG last = 1) {
        MQBYTE head[PCF_ESCAPE_HEADER_SIZE];
        PCFEscapeHeader(head, (MQLONG)text.size(), command, reason);
        memcpy(head + offsetof(MQCFH, MsgSeqNumber), &seq, sizeof seq);
        memcpy(head + offsetof(MQCFH, Control), &last, sizeof last);
        ASSERT_EQ(m.size(), PCF_ESCAPE_HEADER_SIZE + text.size());
        EXPECT_EQ(memcmp(m.data(), head, sizeof head), 0);
        EXPECT_EQ(std::string(m.begin() + PCF_ESCAPE_HEADER_SIZE, m.end()), text);
    }
    std::vector<REQUEST *> made_;
};

TEST_F(MqscTest, EveryFormBuildsExactlyItsPcfMessage) {
    const std::pair<std::string, std::vector<MQBYTE>> cases[] = {
        {"dis cert(MyCert)", Cert().Str(2121, "MYCERT").bytes()},
        {"DISPLAY CERT('MyCert') KEYSIZE ALL",
         Cert().Str(2121, "MyCert").IntList(20003, {20009, 1009}).bytes()},
        {"D CERT(X) WHERE(SSLPEER LK '*O=(A)*')",
         Cert().Str(2121, "X").Str(20002, "SSLPEER LK '*O=(A)*'").bytes()},
        {"DISP CERT(X) EVTTHRES(-5)", Cert().Str(2121, "X").Int(20015, -5).bytes()},
        {"DIS CERT(X) EVTTHRES('30')", Cert().Str(2121, "X").Int(20015, 30).bytes()},
        {"DIS CERT(X) CERTUSAGE(cacert)", Cert().Str(2121, "X").Int(20011, 2).bytes()},
        {"DIS CERT(X) CERTUSAGE('2')", Cert().Str(2121, "X").Int(20011, 2).bytes()},
        {"DIS CERT(X) CERTUSAGE(-1)", Cert().Str(2121, "X").Int(20011, -1).bytes()},
        {"DIS CERT(X", Cert().Str(2121, "X").bytes()},
        {std::string("DIS CERT(X) KEYSIZE\0SERIAL", 26),
         Cert().Str(2121, "X").IntList(20003, {20009}).bytes()},
        {"DIS CERT(X) SSLKEYR(c:\\var\\k", Cert().Str(2121, "X").Str(2049, "C:\\VAR\\K").bytes()},
        {"dis\tcert(abc*)\nsslkeyr('/var/Key') certusage sslkeyr serial serial",
         Cert()
             .Str(2121, "ABC*")
             .Str(2049, "/var/Key")
             .IntList(20003, {20011, 2049, 20013, 20013})
             .bytes()},
        {"DIS CERT() SSLKEYR()", Cert().Str(2121, "").Str(2049, "").bytes()},
        {"DIS CERT(\"Dq\")", Cert().Str(2121, "\"DQ\"").bytes()},
        {"DIS CERT(X) WHERE(KEYSIZE > 1024) EXPIRYTI",
         Cert().Str(2121, "X").Str(20002, "KEYSIZE > 1024").IntList(20003, {20007}).bytes()},
    };
    for (const auto &[text, pcf] : cases) {
        Handed.clear();
        EXPECT_EQ(Translate(text), 0) << text;
        EXPECT_EQ(Handed, pcf) << text;
    }
    for (const char *text : {"DISPLAY QUEUE(X)", "DEFINE CERT(X)", "DISPLAYS CERT(X)", "DISPLAY",
                             "", "   ", "DISPLAY CERTS"}) {
        EXPECT_EQ(Translate(text), MQRC_FUNCTION_NOT_SUPPORTED) << text;
    }
    EXPECT_EQ(HandedCount, (int)(sizeof cases / sizeof cases[0]));
    EXPECT_TRUE(Puts().empty());
}

TEST_F(MqscTest, SyntaxErrorsShowTheSegmentThenTheHelpAndBadIntegersCvla603e) {
    std::string many = "DIS CERT(X)";
    for (int i = 0; i < 1000; i++)
        many += " KEYSIZE";
    const std::string badInteger = "CVLA603E Parameter 'EVTTHRES' is not a valid integer";
    /* the text, and the segment shown (empty: the CVLA603E reply alone) */
    const std::pair<std::string, std::string> cases[] = {
        {"DISPLAY CERT", "DISPLAY CERT"},
        {"DISPLAY CERT(", "DISPLAY CERT("},
        {"DISPLAY CERT(X) KEYREPOS(Y)", "DISPLAY CERT(X) K"},
        {"DIS CERT X", "DIS CERT X"},
        {"DIS CERT(X Y)", "DIS CERT(X Y"},
        {"DIS CERT(X);KEYSIZE", "DIS CERT(X);"},
        {"DIS CERT(X) TRUSTED(HIGH)", "DIS CERT(X) TRUSTED("},
        {"DIS CERT(X) CERTUSAGE(MAYBE)", "DIS CERT(X) CERTUSAGE(M"},
        {"DIS CERT(X) CERTUSAGE(CACER)", "DIS CERT(X) CERTUSAGE(C"},
        {"DIS CERT(X) CERTUSAGE(7)", "DIS CERT(X) CERTUSAGE(7"},
        {"DIS CERT(X) CERTUSAGE(99999999999999999999)", "DIS CERT(X) CERTUSAGE(9"},
        {"DIS CERT(X) WHERE(A = (B)", "DIS CERT(X) WHERE(A"},
        {many, many.substr(0, many.size() - 6)},
        {"DIS CERT(X) EVTTHRES(3x)", ""},
        {"DIS CERT(X) EVTTHRES(-)", ""},
        {"DIS CERT(X) EVTTHRES()", ""},
        {"DIS CERT(X) EVTTHRES(99999999999)", ""},
    };
    for (const auto &[text, segment] : cases) {
        SCOPED_TRACE(text.substr(0, 60));
        fakemq::State().puts.clear();
        MQMD md = MQMD_DEFAULT;
        REQUEST *req = Req(REQTYPE_MQSC);
        EXPECT_EQ(TranslateMqscCommand(req, &md, text.data(), (MQLONG)text.size()), 0);
        EXPECT_EQ(req->complete, 1);
        std::vector<std::string> bodies;
        for (const PutRecord &p : PutsTo("REQ.REPLY"))
            bodies.push_back(std::string(p.md.Format, 8) + std::to_string(p.md.MsgType) + p.text());
        const std::string head = "MQSTR   " + std::to_string(MQMT_REPLY);
        std::vector<std::string> want = {head + Segment + segment + "\n", head + CertHelpText};
        if (segment.empty())
            want = {head + badInteger};
        EXPECT_EQ(bodies, want);
    }
    EXPECT_EQ(HandedCount, 0);
}

TEST_F(MqscTest, LongSegmentsKeepTheirEndWithinOneReply) {
    std::string text = "DIS CERT(X)" + std::string(200000, ' ') + "BAD";
    EXPECT_EQ(Translate(text, REQTYPE_ESCAPE), 0);
    std::vector<PutRecord> puts = PutsTo("REQ.REPLY");
    ASSERT_EQ(puts.size(), 2u);
    ASSERT_EQ(puts[0].data.size(), (size_t)PCF_MESSAGE_SIZE);
    std::string body(puts[0].data.begin() + 72, puts[0].data.end());
    EXPECT_EQ(body.substr(0, Segment.size()), Segment);
    EXPECT_EQ(body.substr(body.size() - 3), " B\n");
    EXPECT_EQ(Get(puts[0].data, 68), (MQLONG)body.size());
}

TEST_F(MqscTest, EscapeCommandsAreUnwrappedOrRefused) {
    EXPECT_EQ(Unwrap(Escape("DIS CERT(A)")), 0);
    EXPECT_EQ(Handed, Cert().Str(2121, "A").bytes());
    EXPECT_EQ(
        Unwrap(Pcf(MQCMD_ESCAPE, MQCFT_COMMAND).Str(MQCACF_ESCAPE_TEXT, "DIS CERT(B)").bytes()), 0);
    EXPECT_EQ(Handed, Cert().Str(2121, "B").bytes());
    EXPECT_EQ(Unwrap(Escape("DISPLAY QMGR")), MQRC_FUNCTION_NOT_SUPPORTED);

    std::vector<MQBYTE> truncated = Escape("DIS CERT(C)");
    truncated.resize(truncated.size() - 8);
    const std::pair<const char *, std::vector<MQBYTE>> refused[] = {
        {"another parameter", Pcf(MQCMD_ESCAPE, MQCFT_COMMAND)
                                  .Str(MQCACF_ESCAPE_TEXT, "DIS CERT(A)")
                                  .Str(MQCA_Q_NAME, "Q")
                                  .bytes()},
        {"no text", Pcf(MQCMD_ESCAPE, MQCFT_COMMAND).Int(MQIACF_ESCAPE_TYPE, 1).bytes()},
        {"not an escape",
         Pcf(MQCMD_INQUIRE_Q, MQCFT_COMMAND).Str(MQCACF_ESCAPE_TEXT, "DIS CERT(A)").bytes()},
        {"text as a list",
         Pcf(MQCMD_ESCAPE, MQCFT_COMMAND).IntList(MQCACF_ESCAPE_TEXT, {1}).bytes()},
        {"truncated", truncated},
        {"short", std::vector<MQBYTE>(20, 0)},
    };
    for (const auto &[what, msg] : refused)
        EXPECT_EQ(Unwrap(msg), MQRCCF_UNEXPECTED_ERROR) << what;
    EXPECT_EQ(HandedCount, 2);
    EXPECT_TRUE(Puts().empty());

    /* a syntax error: two failed escape responses, only the second the last */
    EXPECT_EQ(Unwrap(Escape("DIS CERT")), 0);
    std::vector<PutRecord> puts = PutsTo("REQ.REPLY");
    ASSERT_EQ(puts.size(), 2u);
    ExpectEscape(puts[0].data, 0, MQRCCF_COMMAND_FAILED, Segment + "DIS CERT\n", 1, MQCFC_NOT_LAST);
    ExpectEscape(puts[1].data, 0, MQRCCF_COMMAND_FAILED, CertHelpText, 2);
    EXPECT_EQ(std::string(puts[0].md.Format, 8), "MQADMIN ");
}

TEST_F(MqscTest, EachItemAndEachErrorHasItsText) {
    const std::tuple<const char *, std::vector<MQBYTE>, std::string> cases[] = {
        {"items",
         Cert()
             .Str(2121, "MyCert  ")
             .Int(20011, 1)
             .Int(20012, 2)
             .Int(20012, 7)
             .Int(4711, -5)
             .Str(3545, "")
             .Int64(20008, -86400)
             .IntList(20003, {1})
             .bytes(),
         Details + "CERT(MyCert  ) CERTUSAGE(PERSONAL) TRUSTED(HIGH) TRUSTED(7) ATTR4711(-5) "
                   "SSLPEER( ) LIFESPAN(-86400) "},
        {"times",
         Cert()
             .Int64(20007, 0)
             .Int64(20007, 951782400)
             .Int64(20007, 32535215999LL)
             .Int64(20006, 32535216000LL)
             .Int64(20006, -1)
             .bytes(),
         Details + "EXPIRYTI(1970-01-01 00:00:00 (UTC)) EXPIRYTI(2000-02-29 00:00:00 (UTC)) "
                   "EXPIRYTI(3000-12-31 23:59:59 (UTC)) ISSUETI(Unknown) ISSUETI(Unknown) "},
        {"group members", Cert().Group(8000, 1).Int(20009, 2048).Count(1).bytes(),
         Details + "KEYSIZE(2048) "},
        {"no command row", Pcf(MQCMD_INQUIRE_Q).Int(20, 5).bytes(), "ATTR20(5) "},
        {"stops at a broken parameter",
         Cert().Int(20009, 1).Raw({4, 0, 0, 0, 99, 0, 0, 0}).Count(2).bytes(),
         Details + "KEYSIZE(1) "},
        {"error text",
         Pcf(MQCMD_INQUIRE_Q)
             .CompCode(2)
             .Reason(3238)
             .Str(39999, "first")
             .Str(39999, "CVLA501E No response from IBM MQ Command Server")
             .bytes(),
         "CVLA501E No response from IBM MQ Command Server"},
        {"invalid parameter", Cert(3015).Int(1012, 20002).bytes(),
         "CVLA619E Invalid Parameter (20002) WHERE\n"},
        {"no matching objects", Cert(3312).bytes(), "CVLA502I No Matching objects found"},
        {"unknown object", Cert(2085).bytes(), "CVLA502I No Matching objects found"},
        {"reason", Cert(2298).bytes(),
         "CVLA199E TORVIK received reason code 2298 (Function not supported)\n"},
        {"too short", std::vector<MQBYTE>(20, 0),
         "reason " + std::to_string(MQRCCF_COMMAND_FAILED)},
    };
    for (const auto &[what, reply, text] : cases)
        EXPECT_EQ(Render(reply), text) << what;
    EXPECT_NE(Log().find("CVLA405E PCF Message failure 3016 ("), std::string::npos);
    EXPECT_EQ(Render(Cert().bytes(), REQTYPE_PCF), "<unchanged>");
    std::string r = Render(Cert(3312).bytes(), REQTYPE_ESCAPE);
    ExpectEscape(std::vector<MQBYTE>(r.begin(), r.end()), 9500, 3312,
                 "CVLA502I No Matching objects found");
}

TEST_F(MqscTest, NoWorkingStorageIsReportedAndTheReplyLeftAsItWas) {
    REQUEST *text = Req(REQTYPE_MQSC), *reply = Req(REQTYPE_MQSC);
    MQMD md = MQMD_DEFAULT;
    std::vector<MQBYTE> cert = Cert().bytes();
    MQBYTE *msg = cert.data();
    MQLONG length = (MQLONG)cert.size();
    CSSetMemFailAfter(0); /* (the requests are made before) */
    EXPECT_EQ(TranslateMqscCommand(text, &md, "DIS CERT(X)", 11), MQRCCF_UNEXPECTED_ERROR);
    EXPECT_EQ(RenderReplyAsMqsc(reply, &msg, &length), MQRCCF_COMMAND_FAILED);
    CSSetMemFailAfter(-1);
    EXPECT_EQ(msg, cert.data());
    EXPECT_EQ(tvtest::CountOf(Log(), "CVLA201E Can not allocate 102400 bytes for a message!"), 2);
    EXPECT_EQ(HandedCount, 0);
}

TEST_F(MqscTest, ARenderingThatWouldOverflowEndsAtAWholeItem) {
    Pcf reply = Cert();
    for (int i = 0; i < 30; i++)
        reply.Str(3545, std::string(4000, (char)('a' + i % 26)));
    for (MQLONG type : {REQTYPE_MQSC, REQTYPE_ESCAPE}) {
        std::string r = Render(reply.bytes(), type);
        const size_t base = type == REQTYPE_ESCAPE ? 72 : 0;
        const size_t item = 4000 + strlen("SSLPEER() ");
        ASSERT_LE(r.size(), (size_t)PCF_MESSAGE_SIZE);
        EXPECT_EQ(r.size() - base,
                  Details.size() + item * ((PCF_MESSAGE_SIZE - base - Details.size()) / item));
    }
}

/* A failure response names the parameter without reading its text as a
 * format; the No-response reply of an MQSC request is text. */
TEST_F(MqscTest, RepliesTheAgentMakesItself) {
    EXPECT_EQ(PCFErrorResponse(Req(REQTYPE_PCF), 9500, 3011, 2121,
                               "CVLA602E 50%d of '%s' is %n too long"),
              0);
    std::vector<PutRecord> puts = PutsTo("REQ.REPLY");
    ASSERT_EQ(puts.size(), 1u);
    EXPECT_EQ(puts[0].data, Cert(3011)
                                .Int(MQIACF_PARAMETER_ID, 2121)
                                .Str(CVL_ATTR_ERROR_TEXT, "CVLA602E 50%d of 'CERT' is %n too long")
                                .bytes());
    RegisterMqscHandlers();
    MQMD md = MQMD_DEFAULT;
    MQBYTE *msg = nullptr;
    MQLONG length = 0;
    ASSERT_EQ(BuildNoResponseReply(Req(REQTYPE_MQSC), &md, &msg, &length), 0);
    EXPECT_EQ(std::string(md.Format, 8) + std::string((char *)msg, (size_t)length),
              "MQSTR   CVLA501E No response from IBM MQ Command Server");
    CSFreeMem(msg);
}

}  // namespace
