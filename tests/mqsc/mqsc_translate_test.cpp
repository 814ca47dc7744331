/* mqsc_translate_test.cpp -- DISPLAY CERT in MQSC text and in escape
 * commands: the PCF message handed to the command handler (byte for byte),
 * the commands left to the command server, and the CVLA601E / CVLA603E
 * replies in the requester's form. */
#include "mqsc/mqsc_translate.h"

#include "mqsc/mqsc_render.h"
#include "mqsc/mqsc_tables.h"
#include "routing/routing_fixture.h"

using namespace rtest;

namespace {

std::vector<MQBYTE> Handed; /* the last message given to the 9500 handler */
int HandedCount = 0;

MQLONG CaptureDisplayCert(REQUEST *, MQMD *, MQBYTE *msg, MQLONG length) {
    Handed.assign(msg, msg + length);
    HandedCount++;
    return MQRC_NONE;
}

const std::string Segment =
    "CVLA601E Syntax error detected at or near end of command segment below:-\n";

class MqscTranslateTest : public RoutingTest {
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
    static Pcf Cert() { return Pcf(9500, MQCFT_COMMAND).Control(MQCFC_LAST); }
    static std::string Body(const PutRecord &p, size_t skip = 0) {
        return std::string((const char *)p.data.data() + skip, p.data.size() - skip);
    }
    static std::vector<MQBYTE> Escape(const std::string &text) {
        return Pcf(MQCMD_ESCAPE, MQCFT_COMMAND)
            .Control(MQCFC_LAST)
            .Int(MQIACF_ESCAPE_TYPE, MQET_MQSC)
            .Str(MQCACF_ESCAPE_TEXT, text)
            .bytes();
    }
    std::vector<REQUEST *> made_;
};

TEST_F(MqscTranslateTest, EveryFormBuildsExactlyItsPcfMessage) {
    struct Case {
        std::string text;
        std::vector<MQBYTE> pcf;
    } cases[] = {
        {"dis cert(MyCert)", Cert().Str(2121, "MYCERT").bytes()},
        {"DISPLAY CERT('MyCert') KEYSIZE ALL",
         Cert().Str(2121, "MyCert").IntList(20003, {20009, 1009}).bytes()},
        {"D CERT(X) WHERE(SSLPEER LK '*O=(A)*')",
         Cert().Str(2121, "X").Str(20002, "SSLPEER LK '*O=(A)*'").bytes()},
        {"DISP CERT(X) EVTTHRES(-5)", Cert().Str(2121, "X").Int(20015, -5).bytes()},
        {"DIS CERT(X) EVTTHRES('30')", Cert().Str(2121, "X").Int(20015, 30).bytes()},
        {"DIS CERT(X) CERTUSAGE(cacert)", Cert().Str(2121, "X").Int(20011, 2).bytes()},
        {"DIS CERT(X) CERTUSAGE(2)", Cert().Str(2121, "X").Int(20011, 2).bytes()},
        {"DIS CERT(X", Cert().Str(2121, "X").bytes()},
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
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        Handed.clear();
        EXPECT_EQ(Translate(c.text), 0);
        EXPECT_EQ(Handed, c.pcf);
    }
    EXPECT_TRUE(Puts().empty());
}

TEST_F(MqscTranslateTest, OtherCommandsAreLeftForTheCommandServer) {
    for (const char *text : {"DISPLAY QUEUE(X)", "DEFINE CERT(X)", "DISPLAYS CERT(X)", "DISPLAY",
                             "", "   ", "DISPLAY CERTS"}) {
        EXPECT_EQ(Translate(text), MQRC_FUNCTION_NOT_SUPPORTED) << text;
    }
    EXPECT_EQ(HandedCount, 0);
    EXPECT_TRUE(Puts().empty());
}

TEST_F(MqscTranslateTest, SyntaxErrorsShowTheSegmentThenTheHelp) {
    std::string many = "DIS CERT(X)";
    for (int i = 0; i < 1000; i++)
        many += " KEYSIZE";
    struct Case {
        std::string text;
        std::string segment;
    } cases[] = {
        {"DISPLAY CERT", "DISPLAY CERT"},
        {"DISPLAY CERT(", "DISPLAY CERT("},
        {"DISPLAY CERT(X) KEYREPOS(Y)", "DISPLAY CERT(X) K"},
        {"DIS CERT X", "DIS CERT X"},
        {"DIS CERT(X Y)", "DIS CERT(X Y"},
        {"DIS CERT(X) TRUSTED(HIGH)", "DIS CERT(X) TRUSTED("},
        {"DIS CERT(X) CERTUSAGE(MAYBE)", "DIS CERT(X) CERTUSAGE(M"},
        {"DIS CERT(X) ISSUETI(5)", "DIS CERT(X) ISSUETI("},
        {"DIS CERT(X) SSLKEYR(A B)", "DIS CERT(X) SSLKEYR(A B"},
        {"DIS CERT(X) WHERE(A = (B)", "DIS CERT(X) WHERE(A"},
        {"DIS CERT(X) WHERE(", "DIS CERT(X) WHERE("},
        {"DIS CERT(X) EVTTHRES(", "DIS CERT(X) EVTTHRES("},
        {many, many.substr(0, many.size() - 6)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text.substr(0, 60));
        fakemq::State().puts.clear();
        MQMD md = MQMD_DEFAULT;
        REQUEST *req = Req(REQTYPE_MQSC);
        EXPECT_EQ(TranslateMqscCommand(req, &md, c.text.data(), (MQLONG)c.text.size()), 0);
        EXPECT_EQ(req->complete, 1);
        std::vector<PutRecord> puts = PutsTo("REQ.REPLY");
        ASSERT_EQ(puts.size(), 2u);
        EXPECT_EQ(Body(puts[0]), Segment + c.segment + "\n");
        EXPECT_EQ(Body(puts[1]), CertHelpText);
        EXPECT_EQ(std::string(puts[0].md.Format, 8), "MQSTR   ");
        EXPECT_EQ(puts[0].md.MsgType, MQMT_REPLY);
    }
    EXPECT_EQ(HandedCount, 0);
}

TEST_F(MqscTranslateTest, BadIntegersAreAnsweredWithCvla603e) {
    for (const char *text : {"DIS CERT(X) EVTTHRES(3x)", "DIS CERT(X) EVTTHRES(-)",
                             "DIS CERT(X) EVTTHRES()", "DIS CERT(X) EVTTHRES(99999999999)"}) {
        SCOPED_TRACE(text);
        fakemq::State().puts.clear();
        EXPECT_EQ(Translate(text), 0);
        std::vector<PutRecord> puts = PutsTo("REQ.REPLY");
        ASSERT_EQ(puts.size(), 1u);
        EXPECT_EQ(Body(puts[0]), "CVLA603E Parameter 'EVTTHRES' is not a valid integer");
    }
    EXPECT_EQ(HandedCount, 0);
}

TEST_F(MqscTranslateTest, LongSegmentsKeepTheirEndWithinOneReply) {
    std::string text = "DIS CERT(X)" + std::string(200000, ' ') + "BAD";
    fakemq::State().puts.clear();
    EXPECT_EQ(Translate(text, REQTYPE_ESCAPE), 0);
    std::vector<PutRecord> puts = PutsTo("REQ.REPLY");
    ASSERT_EQ(puts.size(), 2u);
    ASSERT_EQ(puts[0].data.size(), (size_t)PCF_MESSAGE_SIZE);
    std::string body = Body(puts[0], 72);
    EXPECT_EQ(body.substr(0, Segment.size()), Segment);
    EXPECT_EQ(body.substr(body.size() - 3), " B\n");
    EXPECT_EQ(Get(puts[0].data, 68), (MQLONG)body.size());
}

TEST_F(MqscTranslateTest, EscapeCommandsAreUnwrappedOrRefused) {
    EXPECT_EQ(Unwrap(Escape("DIS CERT(A)")), 0);
    EXPECT_EQ(Handed, Cert().Str(2121, "A").bytes());
    EXPECT_EQ(
        Unwrap(Pcf(MQCMD_ESCAPE, MQCFT_COMMAND).Str(MQCACF_ESCAPE_TEXT, "DIS CERT(B)").bytes()), 0);
    EXPECT_EQ(Handed, Cert().Str(2121, "B").bytes());
    EXPECT_EQ(Unwrap(Escape("DISPLAY QMGR")), MQRC_FUNCTION_NOT_SUPPORTED);

    std::vector<MQBYTE> truncated = Escape("DIS CERT(C)");
    truncated.resize(truncated.size() - 8);
    struct Case {
        const char *what;
        std::vector<MQBYTE> msg;
    } refused[] = {
        {"another parameter", Pcf(MQCMD_ESCAPE, MQCFT_COMMAND)
                                  .Str(MQCACF_ESCAPE_TEXT, "DIS CERT(A)")
                                  .Str(MQCA_Q_NAME, "Q")
                                  .bytes()},
        {"no text", Pcf(MQCMD_ESCAPE, MQCFT_COMMAND).Int(MQIACF_ESCAPE_TYPE, 1).bytes()},
        {"not an escape",
         Pcf(MQCMD_INQUIRE_Q, MQCFT_COMMAND).Str(MQCACF_ESCAPE_TEXT, "DIS CERT(A)").bytes()},
        {"no parameters", Pcf(MQCMD_ESCAPE, MQCFT_COMMAND).bytes()},
        {"text as a list",
         Pcf(MQCMD_ESCAPE, MQCFT_COMMAND).IntList(MQCACF_ESCAPE_TEXT, {1}).bytes()},
        {"truncated", truncated},
        {"short", std::vector<MQBYTE>(20, 0)},
    };
    for (const Case &c : refused)
        EXPECT_EQ(Unwrap(c.msg), MQRCCF_UNEXPECTED_ERROR) << c.what;
    EXPECT_EQ(HandedCount, 2);
    EXPECT_TRUE(Puts().empty());
}

TEST_F(MqscTranslateTest, EscapeSyntaxErrorsComeAsTwoFailedEscapeResponsesOnlyTheSecondLast) {
    EXPECT_EQ(Unwrap(Escape("DIS CERT")), 0);
    std::vector<PutRecord> puts = PutsTo("REQ.REPLY");
    ASSERT_EQ(puts.size(), 2u);
    const std::string texts[2] = {Segment + "DIS CERT\n", CertHelpText};
    for (int i = 0; i < 2; i++) {
        const std::vector<MQBYTE> &m = puts[i].data;
        const MQLONG len = (MQLONG)texts[i].size();
        const MQLONG head[18] = {1, 36, 1,    0, i + 1, i,        2,    3008, 2,
                                 3, 16, 1017, 1, 4,     len + 20, 3014, 0,    len};
        ASSERT_EQ(m.size(), 72 + texts[i].size());
        EXPECT_EQ(memcmp(m.data(), head, sizeof head), 0);
        EXPECT_EQ(Body(puts[i], 72), texts[i]);
        EXPECT_EQ(std::string(puts[i].md.Format, 8), "MQADMIN ");
    }
}

TEST_F(MqscTranslateTest, NoWorkingStorageIsReported) {
    REQUEST *req = Req(REQTYPE_MQSC);
    MQMD md = MQMD_DEFAULT;
    CSSetMemFailAfter(0);
    EXPECT_EQ(TranslateMqscCommand(req, &md, "DIS CERT(X)", 11), MQRCCF_UNEXPECTED_ERROR);
    CSSetMemFailAfter(-1);
    EXPECT_NE(Log().find("CVLA201E Can not allocate 102400 bytes for a message!"),
              std::string::npos);
    EXPECT_EQ(HandedCount, 0);
}

}  // namespace
