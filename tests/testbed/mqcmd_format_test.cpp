/* mqcmd_format_test.cpp -- the requester's printed forms: the JSON Lines layout
 * field by field, group nesting, value types, text messages, the text form. */
#include <gtest/gtest.h>

#include <string>

#include "mqcmd_decode.h"
#include "mqcmd_format.h"
#include "mqcmd_json.h"
#include "support/pcf_builder.h"

namespace {

MQMD ReplyMd(const char *format) {
    MQMD md = MQMD_DEFAULT;
    memcpy(md.Format, format, 8);
    md.MsgType = MQMT_REPLY;
    for (int i = 0; i < 24; i++) {
        md.MsgId[i] = (MQBYTE)(0x41 + i);
        md.CorrelId[i] = (MQBYTE)i;
    }
    memcpy(md.PutApplName, "mqsim                       ", 28);
    memcpy(md.UserIdentifier, "alice       ", 12);
    return md;
}

JVALUE ParseLine(const std::string &line) {
    JVALUE v;
    std::string error;
    EXPECT_TRUE(JsonReader::Parse(line, &v, &error)) << error << "\n" << line;
    return v;
}

TEST(MqcmdFormat, JsonLineHasItsFieldsInOrder) {
    std::vector<MQBYTE> m = tvtest::Pcf(MQCMD_INQUIRE_Q)
                                .Seq(3)
                                .Padded(MQCA_Q_NAME, "APP.QUEUE.0001", 48)
                                .Int(MQIA_CURRENT_Q_DEPTH, 7)
                                .bytes();
    MQMD md = ReplyMd(MQFMT_ADMIN);
    std::string out;
    FormatMessageJson(&out, 4, &md, m.data(), m.size());

    const std::string expected =
        "{\"n\":4,\"length\":120,\"format\":\"MQADMIN \",\"msgType\":2,"
        "\"msgId\":\"4142434445464748494A4B4C4D4E4F505152535455565758\","
        "\"correlId\":\"000102030405060708090A0B0C0D0E0F1011121314151617\","
        "\"putApplName\":\"mqsim                       \",\"userIdentifier\":\"alice       \","
        "\"pcf\":{\"type\":2,\"command\":13,\"msgSeqNumber\":3,\"control\":0,\"compCode\":0,"
        "\"reason\":0,\"parameterCount\":2,\"params\":["
        "{\"id\":2016,\"name\":\"MQCA_Q_NAME\",\"type\":4,\"strucLength\":68,"
        "\"value\":\"APP.QUEUE.0001                                  \"},"
        "{\"id\":3,\"name\":\"MQIA_CURRENT_Q_DEPTH\",\"type\":3,\"strucLength\":16,\"value\":7}]},"
        "\"text\":null}\n";
    EXPECT_EQ(out, expected);
}

TEST(MqcmdFormat, JsonKeepsGroupNestingAndGivesEachTypeItsForm) {
    std::vector<MQBYTE> m = tvtest::Pcf(MQCMD_INQUIRE_Q)
                                .IntList(MQIACF_Q_ATTRS, {2016, 3})
                                .StrList(MQCACF_Q_NAMES, {"Q1", "Q2"}, 4)
                                .Bytes(MQBACF_CONNECTION_ID, {0x00, 0x7F, 0xFF})
                                .Int64(MQIAMO64_BROWSE_BYTES, 9000000000LL)
                                .Int64List(MQIAMO64_GET_BYTES, {-1, 2})
                                .StrFilter(MQCA_Q_DESC, MQCFOP_LIKE, "x*")
                                .Group(MQGACF_Q_STATISTICS_DATA, 2)
                                .Group(MQGACF_Q_ACCOUNTING_DATA, 1)
                                .Int(MQIA_MSG_ENQ_COUNT, 5)
                                .Int(MQIA_MAX_Q_DEPTH, 6)
                                .Int(99999, 1) /* no name in the tables */
                                .Count(8)
                                .bytes();
    MQMD md = ReplyMd(MQFMT_ADMIN);
    std::string out;
    FormatMessageJson(&out, 1, &md, m.data(), m.size());
    JVALUE v = ParseLine(out);
    const JVALUE *params = v.Get("pcf")->Get("params");
    ASSERT_NE(params, nullptr);
    ASSERT_EQ(params->items.size(), 8u);

    const JVALUE &list = params->items[0];
    EXPECT_EQ(list.Get("type")->number, MQCFT_INTEGER_LIST);
    ASSERT_EQ(list.Get("value")->kind, JVALUE::ARRAY);
    EXPECT_EQ(list.Get("value")->items[1].number, 3);

    const JVALUE &strs = params->items[1];
    ASSERT_EQ(strs.Get("value")->items.size(), 2u);
    EXPECT_EQ(strs.Get("value")->items[1].text, "Q2  ");

    EXPECT_EQ(params->items[2].Get("value")->text, "007FFF");
    EXPECT_EQ(params->items[3].Get("value")->number, 9000000000.0);
    EXPECT_EQ(params->items[4].Get("value")->items[0].number, -1);
    EXPECT_EQ(params->items[5].Get("operator")->number, MQCFOP_LIKE);
    EXPECT_EQ(params->items[5].Get("value")->text, "x*");

    /* group { group { int }, int } then a top-level int */
    const JVALUE &outer = params->items[6];
    EXPECT_EQ(outer.Get("name")->text, "MQGACF_Q_STATISTICS_DATA");
    EXPECT_EQ(outer.Get("value"), nullptr);
    const JVALUE *outerParams = outer.Get("params");
    ASSERT_NE(outerParams, nullptr);
    ASSERT_EQ(outerParams->items.size(), 2u);
    const JVALUE *innerParams = outerParams->items[0].Get("params");
    ASSERT_NE(innerParams, nullptr);
    ASSERT_EQ(innerParams->items.size(), 1u);
    EXPECT_EQ(innerParams->items[0].Get("value")->number, 5);
    EXPECT_EQ(outerParams->items[1].Get("value")->number, 6);

    const JVALUE &unnamed = params->items[7];
    EXPECT_EQ(unnamed.Get("id")->number, 99999);
    EXPECT_EQ(unnamed.Get("name")->kind, JVALUE::NUL);
}

TEST(MqcmdFormat, TextMessagesGiveNullPcfAndTheirBytesAsText) {
    const char body[] = "CSQN205I COUNT=3\0CSQ9022I \"quoted\" \\ done\n";
    MQMD md = ReplyMd(MQFMT_COMMAND_1);
    std::string out;
    FormatMessageJson(&out, 2, &md, (const MQBYTE *)body, sizeof body - 1);
    JVALUE v = ParseLine(out);
    EXPECT_EQ(v.Get("pcf")->kind, JVALUE::NUL);
    EXPECT_EQ(v.Get("text")->text, std::string(body, sizeof body - 1));
    EXPECT_EQ(v.Get("format")->text, "MQCMD1  ");

    std::string text;
    FormatMessageText(&text, 2, &md, (const MQBYTE *)body, sizeof body - 1);
    EXPECT_EQ(text.substr(0, text.find('\n')),
              "Message 2: length " + std::to_string(sizeof body - 1) +
                  ", format MQCMD1, CompCode -, Reason -, Control -, MsgId "
                  "4142434445464748494A4B4C4D4E4F505152535455565758, CorrelId "
                  "000102030405060708090A0B0C0D0E0F1011121314151617");
    /* the zero byte between joined replies ends a line */
    EXPECT_NE(text.find("\nCSQN205I COUNT=3\nCSQ9022I \"quoted\" \\ done\n"), std::string::npos)
        << text;
}

TEST(MqcmdFormat, TextFormShowsNamesTrimmedValuesGroupsAndReasonNames) {
    std::vector<MQBYTE> m = tvtest::Pcf(MQCMD_INQUIRE_Q)
                                .Control(MQCFC_LAST)
                                .CompCode(MQCC_FAILED)
                                .Reason(MQRC_UNKNOWN_OBJECT_NAME)
                                .Padded(MQCA_Q_NAME, "APP.QUEUE.0001", 48)
                                .IntList(MQIACF_Q_ATTRS, {1, 2})
                                .Group(MQGACF_Q_STATISTICS_DATA, 1)
                                .Int(MQIA_MSG_ENQ_COUNT, 5)
                                .Int(4242, -3)
                                .Count(4)
                                .bytes();
    MQMD md = ReplyMd(MQFMT_ADMIN);
    std::string text;
    FormatMessageText(&text, 1, &md, m.data(), m.size());
    EXPECT_NE(text.find("format MQADMIN, CompCode 2, Reason 2085 (MQRC_UNKNOWN_OBJECT_NAME), "
                        "Control 1, MsgId "),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\n  MQCA_Q_NAME(APP.QUEUE.0001)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\n  MQIACF_Q_ATTRS(1,2)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\n  MQGACF_Q_STATISTICS_DATA (group of 1)\n    MQIA_MSG_ENQ_COUNT(5)\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\n  4242(-3)\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("malformed"), std::string::npos);
}

TEST(MqcmdFormat, JsonStringsEscapeControlsAndInvalidUtf8ButKeepValidUtf8) {
    std::string out;
    const char in[] = "a\"b\\c\x01\x7F\t\xC3\xA9\xFF\xE2\x82";
    AppendJsonString(&out, in, sizeof in - 1);
    EXPECT_EQ(out, "\"a\\\"b\\\\c\\u0001\\u007F\\t\xC3\xA9\\u00FF\\u00E2\\u0082\"");

    out.clear();
    AppendJsonString(&out, "\xED\xA0\x80", 3); /* a UTF-16 surrogate is not valid UTF-8 */
    EXPECT_EQ(out, "\"\\u00ED\\u00A0\\u0080\"");

    out.clear();
    AppendJsonString(&out, "\xC0\xAF", 2); /* an overlong form is not either */
    EXPECT_EQ(out, "\"\\u00C0\\u00AF\"");
}

TEST(MqcmdFormat, PcfFormatsAreAdminEventAndPcf) {
    for (const char *f : {MQFMT_ADMIN, MQFMT_EVENT, MQFMT_PCF})
        EXPECT_TRUE(IsPcfFormat(f)) << f;
    for (const char *f : {MQFMT_STRING, MQFMT_COMMAND_1, MQFMT_NONE})
        EXPECT_FALSE(IsPcfFormat(f)) << f;
}

} /* namespace */
