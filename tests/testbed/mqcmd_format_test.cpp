/* mqcmd_format_test.cpp -- the requester's printed forms: the JSON Lines layout
 * field by field, group nesting, value types, text messages, the text form. */
#include <gtest/gtest.h>

#include <string>

#include "mqcmd_decode.h"
#include "mqcmd_format.h"
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

/* Every type's printed forms are the decoder's test (EveryType); here the
 * descriptor's fields, the header and a parameter without a name. */
TEST(MqcmdFormat, AReplyInJsonAndText) {
    std::vector<MQBYTE> m = tvtest::Pcf(MQCMD_INQUIRE_Q)
                                .Seq(3)
                                .CompCode(MQCC_FAILED)
                                .Reason(MQRC_UNKNOWN_OBJECT_NAME)
                                .Padded(MQCA_Q_NAME, "APP.QUEUE.0001", 48)
                                .Int(4242, -3)
                                .bytes();
    MQMD md = ReplyMd(MQFMT_ADMIN);
    std::string out;
    FormatMessageJson(&out, 4, &md, m.data(), m.size());
    EXPECT_EQ(
        out,
        "{\"n\":4,\"length\":120,\"format\":\"MQADMIN \",\"msgType\":2,"
        "\"msgId\":\"4142434445464748494A4B4C4D4E4F505152535455565758\","
        "\"correlId\":\"000102030405060708090A0B0C0D0E0F1011121314151617\","
        "\"putApplName\":\"mqsim                       \",\"userIdentifier\":\"alice       \","
        "\"pcf\":{\"type\":2,\"command\":13,\"msgSeqNumber\":3,\"control\":0,\"compCode\":2,"
        "\"reason\":2085,\"parameterCount\":2,\"params\":["
        "{\"id\":2016,\"name\":\"MQCA_Q_NAME\",\"type\":4,\"strucLength\":68,"
        "\"value\":\"APP.QUEUE.0001                                  \"},"
        "{\"id\":4242,\"name\":null,\"type\":3,\"strucLength\":16,\"value\":-3}]},"
        "\"text\":null}\n");
    out.clear();
    FormatMessageText(&out, 4, &md, m.data(), m.size());
    EXPECT_EQ(out,
              "Message 4: length 120, format MQADMIN, CompCode 2, Reason 2085 "
              "(MQRC_UNKNOWN_OBJECT_NAME), Control 0, MsgId "
              "4142434445464748494A4B4C4D4E4F505152535455565758, CorrelId "
              "000102030405060708090A0B0C0D0E0F1011121314151617\n"
              "  MQCA_Q_NAME(APP.QUEUE.0001)\n  4242(-3)\n");
}

/* Zero bytes (between replies an agent joined) show as \u0000 in JSON and
 * end a line in text. */
TEST(MqcmdFormat, TextMessagesGiveNullPcfAndTheirBytesAsText) {
    const std::string body("CSQN205I COUNT=3\0CSQ9022I \"quoted\" \\ done\n", 42);
    MQMD md = ReplyMd(MQFMT_COMMAND_1);
    std::string json, text;
    FormatMessageJson(&json, 2, &md, (const MQBYTE *)body.data(), body.size());
    EXPECT_EQ(
        json.substr(json.find("\"pcf\"")),
        "\"pcf\":null,\"text\":\"CSQN205I COUNT=3\\u0000CSQ9022I \\\"quoted\\\" \\\\ done\\n\"}\n");
    FormatMessageText(&text, 2, &md, (const MQBYTE *)body.data(), body.size());
    EXPECT_EQ(text,
              "Message 2: length 42, format MQCMD1, CompCode -, Reason -, Control -, MsgId "
              "4142434445464748494A4B4C4D4E4F505152535455565758, CorrelId "
              "000102030405060708090A0B0C0D0E0F1011121314151617\n"
              "CSQN205I COUNT=3\nCSQ9022I \"quoted\" \\ done\n");
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

} /* namespace */
