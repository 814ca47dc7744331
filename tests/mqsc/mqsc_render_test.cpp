/* mqsc_render_test.cpp -- the agent's PCF replies as MQSC text and escape
 * responses, local replies, failure responses, and the MQSC form of the
 * No-response reply. */
#include "mqsc/mqsc_render.h"

#include "mqsc/mqsc_tables.h"
#include "routing/routing_fixture.h"

using namespace rtest;

namespace {

class MqscRenderTest : public RoutingTest {
protected:
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
    /* The text RenderReplyAsMqsc makes of reply (header included). */
    std::string Render(const std::vector<MQBYTE> &reply, MQLONG type = REQTYPE_MQSC,
                       MQLONG *rc = nullptr) {
        MQBYTE *msg = const_cast<MQBYTE *>(reply.data());
        MQLONG length = (MQLONG)reply.size();
        MQLONG r = RenderReplyAsMqsc(Req(type), &msg, &length);
        if (rc != nullptr)
            *rc = r;
        if (r != 0 || msg == reply.data())
            return "<unchanged>";
        std::string text((const char *)msg, (size_t)length);
        CSFreeMem(msg);
        return text;
    }
    static Pcf Cert(MQLONG reason = 0) {
        return Pcf(9500, MQCFT_COMMAND).Control(MQCFC_LAST).CompCode(reason ? 2 : 0).Reason(reason);
    }
    static std::string Body(const PutRecord &p) {
        return std::string((const char *)p.data.data(), p.data.size());
    }
    std::vector<REQUEST *> made_;
};

const std::string Details = "CVLA700I Display Certificate details\n";

TEST_F(MqscRenderTest, EachItemAndEachErrorHasItsText) {
    const MQLONG groupHead[4] = {MQCFT_GROUP, 16, 8000, 1};
    const std::vector<MQBYTE> group((const MQBYTE *)groupHead, (const MQBYTE *)groupHead + 16);
    const MQCONSTROW *qname = ParameterRow(MQCA_Q_NAME);
    struct Case {
        const char *what;
        std::vector<MQBYTE> reply;
        std::string text;
    } cases[] = {
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
        {"group members", Cert().Raw(group).Int(20009, 2048).bytes(), Details + "KEYSIZE(2048) "},
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
        {"invalid parameter of MQ", Cert(3014).Int(1012, MQCA_Q_NAME).bytes(),
         std::string("CVLA619E Invalid Parameter (2016) ") + (qname ? qname->desc : "") + "\n"},
        {"no matching objects", Cert(3312).bytes(), "CVLA502I No Matching objects found"},
        {"unknown object", Cert(2085).bytes(), "CVLA502I No Matching objects found"},
        {"reason", Cert(2298).bytes(),
         "CVLA199E TORVIK received reason code 2298 (Function not supported)\n"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Render(c.reply), c.text) << c.what;
}

TEST_F(MqscRenderTest, EscapeRequestersGetThePrefixPcfRequestersThePcf) {
    std::string r = Render(Cert(3312).bytes(), REQTYPE_ESCAPE);
    const std::string text = "CVLA502I No Matching objects found";
    ASSERT_EQ(r.size(), 72 + text.size());
    std::vector<MQBYTE> m(r.begin(), r.end());
    const MQLONG len = (MQLONG)text.size();
    const MQLONG head[18] = {1, 36, 1,    9500, 1, 1,        2,    3312, 2,
                             3, 16, 1017, 1,    4, len + 20, 3014, 0,    len};
    EXPECT_EQ(memcmp(m.data(), head, sizeof head), 0);
    EXPECT_EQ(r.substr(72), text);

    MQLONG rc = -1;
    EXPECT_EQ(Render(Cert().bytes(), REQTYPE_PCF, &rc), "<unchanged>");
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(Render(std::vector<MQBYTE>(20, 0), REQTYPE_MQSC, &rc), "<unchanged>");
    EXPECT_EQ(rc, MQRCCF_COMMAND_FAILED);
    EXPECT_NE(Log().find("CVLA405E PCF Message failure 3016 ("), std::string::npos);
    REQUEST *req = Req(REQTYPE_MQSC);
    std::vector<MQBYTE> reply = Cert().bytes();
    MQBYTE *msg = reply.data();
    MQLONG length = (MQLONG)reply.size();
    CSSetMemFailAfter(0);
    EXPECT_EQ(RenderReplyAsMqsc(req, &msg, &length), MQRCCF_COMMAND_FAILED);
    CSSetMemFailAfter(-1);
    EXPECT_EQ(msg, reply.data());
    EXPECT_NE(Log().find("CVLA201E Can not allocate 102400 bytes"), std::string::npos);
}

TEST_F(MqscRenderTest, ARenderingThatWouldOverflowEndsAtAWholeItem) {
    Pcf reply = Cert();
    for (int i = 0; i < 30; i++)
        reply.Str(3545, std::string(4000, (char)('a' + i % 26)));
    for (MQLONG type : {REQTYPE_MQSC, REQTYPE_ESCAPE}) {
        std::string r = Render(reply.bytes(), type);
        const size_t base = type == REQTYPE_ESCAPE ? 72 : 0;
        const size_t item = 4000 + strlen("SSLPEER() ");
        ASSERT_LE(r.size(), (size_t)PCF_MESSAGE_SIZE);
        EXPECT_EQ((r.size() - base - Details.size()) % item, 0u);
        EXPECT_EQ(r.size() - base,
                  Details.size() + item * ((PCF_MESSAGE_SIZE - base - Details.size()) / item));
    }
}

TEST_F(MqscRenderTest, LocalRepliesGoOutInTheRequestersForm) {
    std::vector<MQBYTE> reply = Cert().Str(2121, "A").bytes();
    REQUEST *text = Req(REQTYPE_MQSC);
    EXPECT_EQ(SendLocalReply(text, reply.data(), (MQLONG)reply.size()), 0);
    REQUEST *pcf = Req(REQTYPE_PCF);
    EXPECT_EQ(SendLocalReply(pcf, reply.data(), (MQLONG)reply.size()), 0);
    std::vector<PutRecord> puts = PutsTo("REQ.REPLY");
    ASSERT_EQ(puts.size(), 2u);
    EXPECT_EQ(Body(puts[0]), Details + "CERT(A) ");
    EXPECT_EQ(std::string(puts[0].md.Format, 8), "MQSTR   ");
    EXPECT_EQ(puts[1].data, reply);
    EXPECT_EQ(std::string(puts[1].md.Format, 8), "MQADMIN ");
    EXPECT_EQ(puts[1].md.MsgType, MQMT_REPLY);
    EXPECT_EQ(text->complete, 1);
}

TEST_F(MqscRenderTest, FailureResponsesNameTheParameterWithoutInterpretingTheText) {
    REQUEST *req = Req(REQTYPE_PCF);
    EXPECT_EQ(PCFErrorResponse(req, 9500, 3011, 2121, "CVLA602E 50%d of '%s' is %n too long"), 0);
    std::vector<PutRecord> puts = PutsTo("REQ.REPLY");
    ASSERT_EQ(puts.size(), 1u);
    std::vector<Parm> parms = ReadParms(puts[0].data);
    ASSERT_EQ(parms.size(), 2u);
    EXPECT_EQ(parms[0].parameter, MQIACF_PARAMETER_ID);
    EXPECT_EQ(parms[0].value, 2121);
    EXPECT_EQ(parms[1].text, "CVLA602E 50%d of 'CERT' is %n too long");
    EXPECT_EQ(Get(puts[0].data, 28), 3011);

    /* PCFParmError names the parameter last read */
    fakemq::State().puts.clear();
    std::vector<MQBYTE> cmd = Cert().Str(20002, "x").bytes();
    PCFCTX ctx;
    PCFStartRead(&ctx, cmd.data(), (MQLONG)cmd.size());
    MQLONG type, id, len, count, cc, rc;
    const MQBYTE *value;
    PCFNextParm(&ctx, &type, &id, &value, &len, &count, &cc, &rc);
    REQUEST *text = Req(REQTYPE_MQSC);
    PCFParmError(text, &ctx, 3229, "CVLA606E Parameter '%s' should be a string");
    puts = PutsTo("REQ.REPLY");
    ASSERT_EQ(puts.size(), 1u);
    EXPECT_EQ(Body(puts[0]), "CVLA606E Parameter 'WHERE' should be a string");
}

TEST_F(MqscRenderTest, CommandNinetyFiveHundredIsRefusedUntilTheCertificateCommandComes) {
    RegisterMqscHandlers();
    MQMD md = MQMD_DEFAULT;
    std::vector<MQBYTE> cmd = Cert().bytes();
    REQUEST *pcf = Req(REQTYPE_PCF);
    EXPECT_EQ(CallRequestHandler(HANDLER_DISPLAY_CERT, pcf, &md, cmd.data(), (MQLONG)cmd.size()),
              0);
    REQUEST *text = Req(REQTYPE_MQSC);
    const char dis[] = "DIS CERT(*)";
    EXPECT_EQ(CallRequestHandler(HANDLER_MQSC, text, &md, (MQBYTE *)dis, (MQLONG)strlen(dis)), 0);
    std::vector<PutRecord> puts = PutsTo("REQ.REPLY");
    ASSERT_EQ(puts.size(), 2u);
    EXPECT_EQ(Get(puts[0].data, 12), 9500);
    EXPECT_EQ(Get(puts[0].data, 20), MQCFC_LAST);
    EXPECT_EQ(Get(puts[0].data, 28), MQRC_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(Body(puts[1]),
              "CVLA199E TORVIK received reason code 2298 (Function not supported)\n");
    EXPECT_EQ(pcf->complete, 1);
    EXPECT_EQ(text->complete, 1);
}

TEST_F(MqscRenderTest, TheNoResponseReplyOfAnMqscRequestIsText) {
    for (int registered = 0; registered < 2; registered++) {
        if (registered)
            RegisterMqscHandlers();
        MQMD md = MQMD_DEFAULT;
        MQBYTE *msg = nullptr;
        MQLONG length = 0;
        ASSERT_EQ(BuildNoResponseReply(Req(REQTYPE_MQSC), &md, &msg, &length), 0);
        ASSERT_NE(msg, nullptr);
        if (registered) {
            EXPECT_EQ(std::string((char *)msg, (size_t)length),
                      "CVLA501E No response from IBM MQ Command Server");
            EXPECT_EQ(std::string(md.Format, 8), "MQSTR   ");
        } else {
            EXPECT_EQ(length, 104) << "without a renderer the PCF reply stays";
            EXPECT_EQ(std::string(md.Format, 8), "MQADMIN ");
        }
        CSFreeMem(msg);
    }
}

}  // namespace
