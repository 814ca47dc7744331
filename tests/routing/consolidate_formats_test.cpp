/* consolidate_formats_test.cpp -- replies of one request that come in
 * different formats (as a lying or broken command server may send them):
 * text is never joined to a PCF message nor a PCF reply merged into text,
 * each message goes out in the format it came in, and nothing pending is
 * lost when a reply of no known format ends the request. */
#include "routing_fixture.h"

using namespace rtest;

namespace {

class ConsolidateFormatsTest : public RoutingTest {
protected:
    static std::vector<MQBYTE> Text(const std::string &s) {
        return std::vector<MQBYTE>(s.begin(), s.end());
    }
    /* A sound INQUIRE_Q reply whose strings need no trimming. */
    static std::vector<MQBYTE> Reply(MQLONG depth, bool last) {
        Pcf p(MQCMD_INQUIRE_Q);
        p.Control(last ? MQCFC_LAST : MQCFC_NOT_LAST);
        p.Str(MQCA_Q_NAME, "APP.QUEUE.0001");
        p.Int(MQIA_CURRENT_Q_DEPTH, depth);
        return p.bytes();
    }
    static std::string FormatOf(const PutRecord &p) { return std::string(p.md.Format, 8); }
};

}  // namespace

TEST_F(ConsolidateFormatsTest, TextIsNeverJoinedToAPendingPcfMessage) {
    Forwarded(0x51);
    std::vector<MQBYTE> pcf = Reply(7, false);
    DeliverReply(Id(0x51).data(), pcf);
    std::string count = "CSQN205I   COUNT=       1, RETURN=00000000";
    std::string done = "CSQ9022I !QM1 CSQMDRTS ' DISPLAY QUEUE' NORMAL COMPLETION";
    DeliverReply(Id(0x51).data(), Text(count), MQFMT_COMMAND_1);
    DeliverReply(Id(0x51).data(), Text(done), MQFMT_COMMAND_1);

    std::vector<PutRecord> puts = PutsTo("REQ.REPLY");
    ASSERT_EQ(puts.size(), 2u);
    EXPECT_EQ(puts[0].data, pcf) << "the PCF reply as it came, its Version untouched";
    EXPECT_EQ(FormatOf(puts[0]), MQFMT_ADMIN);
    std::string joined = count + std::string(1, '\0') + done;
    joined[8] = '*';
    EXPECT_EQ(std::string(puts[1].data.begin(), puts[1].data.end()), joined);
    EXPECT_EQ(FormatOf(puts[1]), MQFMT_COMMAND_1);
    EXPECT_EQ(RequestCount.load(), 0);
}

TEST_F(ConsolidateFormatsTest, PendingTextGoesOutAsTextWhenAPcfReplyFollows) {
    Forwarded(0x52);
    std::string count = "CSQN205I   COUNT=       1, RETURN=00000000";
    DeliverReply(Id(0x52).data(), Text(count), MQFMT_COMMAND_2);
    std::vector<MQBYTE> first = Reply(1, false), last = Reply(2, true);
    DeliverReply(Id(0x52).data(), first);
    DeliverReply(Id(0x52).data(), last);

    std::vector<PutRecord> puts = PutsTo("REQ.REPLY");
    ASSERT_EQ(puts.size(), 2u);
    EXPECT_EQ(std::string(puts[0].data.begin(), puts[0].data.end()), count);
    EXPECT_EQ(FormatOf(puts[0]), MQFMT_COMMAND_2) << "not sent as the PCF reply's format";
    EXPECT_EQ(FormatOf(puts[1]), MQFMT_ADMIN);
    std::vector<Parm> parms = ReadParms(puts[1].data);
    ASSERT_EQ(parms.size(), 5u) << "two replies merged, with their separator";
    EXPECT_EQ(parms[2].parameter, CVL_ATTR_RESPONSE_DELIMITER);
    EXPECT_EQ(RequestCount.load(), 0);
}

TEST_F(ConsolidateFormatsTest, ALastReplyOfNoKnownFormatSendsWhatIsPendingFirst) {
    Forwarded(0x53);
    std::vector<MQBYTE> pcf = Reply(3, false);
    DeliverReply(Id(0x53).data(), pcf);
    std::vector<MQBYTE> text = Text("plain text");
    DeliverReply(Id(0x53).data(), text, MQFMT_STRING);

    std::vector<PutRecord> puts = PutsTo("REQ.REPLY");
    ASSERT_EQ(puts.size(), 2u) << "the pending reply is not dropped";
    EXPECT_EQ(puts[0].data, pcf);
    EXPECT_EQ(FormatOf(puts[0]), MQFMT_ADMIN);
    EXPECT_EQ(puts[1].data, text);
    EXPECT_EQ(FormatOf(puts[1]), MQFMT_STRING);
    EXPECT_EQ(RequestCount.load(), 0);
}
