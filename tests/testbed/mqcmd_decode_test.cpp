/* mqcmd_decode_test.cpp -- the requester's PCF walk and printed forms: every
 * structure type and group nesting in JSON, messages that are truncated,
 * inconsistent or corrupted at random, the descriptor's fields, text
 * messages and JSON string escapes. */
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

#include "mqcmd_decode.h"
#include "mqcmd_format.h"
#include "mqcmd_json.h"
#include "support/pcf_builder.h"

namespace {

using tvtest::Pcf;

/* A reply holding one structure of every type, an empty group, one of an
 * unknown type (kept with its bytes) and nested groups. */
std::vector<MQBYTE> EveryType() {
    return Pcf(MQCMD_INQUIRE_Q)
        .Control(MQCFC_LAST)
        .Int(MQIA_CURRENT_Q_DEPTH, 42)
        .Str(MQCA_Q_NAME, "APP.QUEUE.0001", 819)
        .IntList(MQIACF_Q_ATTRS, {MQCA_Q_NAME, MQIA_CURRENT_Q_DEPTH, -7})
        .StrList(MQCACF_Q_NAMES, {"A", "BB", "CCC"}, 48)
        .Bytes(MQBACF_CONNECTION_ID, {0x01, 0xAB, 0xFF})
        .Int64(MQIAMO64_BROWSE_BYTES, -5000000000LL)
        .Int64List(MQIAMO64_GET_BYTES, {1, 9000000000LL})
        .IntFilter(MQIA_CURRENT_Q_DEPTH, MQCFOP_GREATER, 10)
        .StrFilter(MQCA_Q_DESC, MQCFOP_LIKE, "desc*")
        .ByteFilter(MQBACF_CONNECTION_ID, MQCFOP_EQUAL, {0x10, 0x20})
        .Group(MQGACF_Q_STATISTICS_DATA, 0)
        .Raw({99, 0, 0, 0, 20, 0, 0, 0, 0xD2, 4, 0, 0, 7, 0, 0, 0, 8, 0, 0, 0}) /* unknown type */
        .Group(MQGACF_Q_STATISTICS_DATA, 2)
        .Int(MQIA_MSG_ENQ_COUNT, 3)
        .Group(MQGACF_Q_ACCOUNTING_DATA, 1)
        .Str(MQCA_Q_NAME, "INNER")
        .Int(MQIA_MAX_Q_DEPTH, 5000)
        .Count(14)
        .bytes();
}

/* The walk and the JSON form at once: every structure in order with its
 * value, and group nesting from the groups' ParameterCounts. */
TEST(MqcmdDecode, EveryStructureTypeIsWalkedInOrderAndPrinted) {
    std::vector<MQBYTE> m = EveryType();
    MQMD md = MQMD_DEFAULT;
    memcpy(md.Format, MQFMT_ADMIN, 8);
    std::string json;
    FormatMessageJson(&json, 1, &md, m.data(), m.size());
    EXPECT_EQ(
        json.substr(json.find("\"parameterCount\":")),
        "\"parameterCount\":14,\"params\":["
        "{\"id\":3,\"name\":\"MQIA_CURRENT_Q_DEPTH\",\"type\":3,\"strucLength\":16,\"value\":42},"
        "{\"id\":2016,\"name\":\"MQCA_Q_NAME\",\"type\":4,\"strucLength\":36,"
        "\"value\":\"APP.QUEUE.0001\"},"
        "{\"id\":1002,\"name\":\"MQIACF_Q_ATTRS\",\"type\":5,\"strucLength\":28,"
        "\"value\":[2016,3,-7]},"
        "{\"id\":3011,\"name\":\"MQCACF_Q_NAMES\",\"type\":6,\"strucLength\":168,\"value\":[\"A" +
            std::string(47, ' ') + "\",\"BB" + std::string(46, ' ') + "\",\"CCC" +
            std::string(45, ' ') +
            "\"]},"
            "{\"id\":7006,\"name\":\"MQBACF_CONNECTION_ID\",\"type\":9,\"strucLength\":20,"
            "\"value\":\"01ABFF\"},"
            "{\"id\":745,\"name\":\"MQIAMO64_BROWSE_BYTES\",\"type\":23,\"strucLength\":24,"
            "\"value\":-5000000000},"
            "{\"id\":747,\"name\":\"MQIAMO64_GET_BYTES\",\"type\":25,\"strucLength\":32,"
            "\"value\":[1,9000000000]},"
            "{\"id\":3,\"name\":\"MQIA_CURRENT_Q_DEPTH\",\"type\":13,\"strucLength\":20,"
            "\"operator\":4,\"value\":10},"
            "{\"id\":2013,\"name\":\"MQCA_Q_DESC\",\"type\":14,\"strucLength\":32,"
            "\"operator\":18,\"value\":\"desc*\"},"
            "{\"id\":7006,\"name\":\"MQBACF_CONNECTION_ID\",\"type\":15,\"strucLength\":24,"
            "\"operator\":2,\"value\":\"1020\"},"
            "{\"id\":8011,\"name\":\"MQGACF_Q_STATISTICS_DATA\",\"type\":20,\"strucLength\":16,"
            "\"params\":[]},"
            "{\"id\":1234,\"name\":\"MQIACF_ROUTE_DETAIL\",\"type\":99,\"strucLength\":20,"
            "\"value\":\"0700000008000000\"},"
            "{\"id\":8011,\"name\":\"MQGACF_Q_STATISTICS_DATA\",\"type\":20,\"strucLength\":16,"
            "\"params\":[{\"id\":37,\"name\":\"MQIA_MSG_ENQ_COUNT\",\"type\":3,\"strucLength\":16,"
            "\"value\":3},"
            "{\"id\":8010,\"name\":\"MQGACF_Q_ACCOUNTING_DATA\",\"type\":20,\"strucLength\":16,"
            "\"params\":[{\"id\":2016,\"name\":\"MQCA_Q_NAME\",\"type\":4,\"strucLength\":28,"
            "\"value\":\"INNER\"}]}]},"
            "{\"id\":15,\"name\":\"MQIA_MAX_Q_DEPTH\",\"type\":3,\"strucLength\":16,"
            "\"value\":5000}]},\"text\":null}\n");
}

/* One malformed message: what it is and where the walk must stop. */
struct BadCase {
    const char *what;
    std::vector<MQBYTE> msg;
    size_t offset; /* expected malformedOffset */
    size_t kept;   /* items read before the fault */
    int hasHeader;
};

/* m with the 4 bytes at each offset set to its value. */
std::vector<MQBYTE> Lie(const Pcf &m, std::vector<std::pair<size_t, MQLONG>> lies) {
    std::vector<MQBYTE> b = m.bytes();
    for (auto &l : lies)
        tvtest::Set(b, l.first, l.second);
    return b;
}

std::vector<BadCase> BadCases() {
    const Pcf none(13), one = Pcf(13).Int(MQIA_CURRENT_Q_DEPTH, 1),
                        two = Pcf(13).Int(MQIA_CURRENT_Q_DEPTH, 1).Int(MQIA_CURRENT_Q_DEPTH, 1),
                        str = Pcf(13).Str(MQCA_Q_NAME, "ABCDEFGH"),
                        list = Pcf(13).IntList(MQIACF_Q_ATTRS, {1, 2}),
                        strs = Pcf(13).StrList(MQCACF_Q_NAMES, {"A"}, 4);
    std::vector<MQBYTE> shortMsg = none.bytes(), extra = one.bytes();
    shortMsg.resize(20);
    extra.insert(extra.end(), 8, 0);
    Pcf deep(13);
    for (int i = 0; i <= MQCMD_MAX_GROUP_DEPTH; i++)
        deep.Group(MQGACF_Q_STATISTICS_DATA, 1);
    deep.Int(MQIA_CURRENT_Q_DEPTH, 1).Count(1);
    return {
        {"shorter than an MQCFH", shortMsg, 0, 0, 0},
        {"MQCFH StrucLength not 36", Lie(none, {{4, 40}}), 4, 0, 1},
        {"negative ParameterCount", Lie(none, {{32, -1}}), 32, 0, 1},
        {"ParameterCount larger than the message", Lie(one, {{32, 2}}), 52, 1, 1},
        {"StrucLength past the end", Lie(str, {{40, 1000}}), 36, 0, 1},
        {"StrucLength below 12", Lie(two, {{56, 8}}), 52, 1, 1},
        {"integer StrucLength too small for its value", Lie(one, {{40, 12}}), 36, 0, 1},
        {"StringLength beyond StrucLength", Lie(str, {{52, 100}}), 36, 0, 1},
        {"negative StringLength", Lie(str, {{52, -4}}), 36, 0, 1},
        {"integer list Count overflowing 32 bits", Lie(list, {{48, 0x40000001}}), 36, 0, 1},
        {"string list Count times StringLength overflowing",
         Lie(strs, {{52, 0x10000}, {56, 0x10000}}), 36, 0, 1},
        {"string list of empty strings with a Count past its StrucLength",
         Lie(strs, {{52, 0x10000000}, {56, 0}}), 36, 0, 1},
        {"bytes after the last parameter", extra, 52, 1, 1},
        {"group ParameterCount beyond the message",
         Pcf(13).Group(MQGACF_Q_STATISTICS_DATA, 5).Int(MQIA_CURRENT_Q_DEPTH, 1).Count(1).bytes(),
         68, 2, 1},
        {"groups nested too deep", deep.bytes(), 36 + 16 * MQCMD_MAX_GROUP_DEPTH,
         (size_t)MQCMD_MAX_GROUP_DEPTH, 1},
    };
}

/* Walk and print m from an exactly sized copy (so that any read past its end
 * is out of bounds): every item lies inside it, and both printed forms are
 * made (the JSON well-formed) whatever the bytes are. */
PCFDUMP CheckAnyMessage(const std::vector<MQBYTE> &m) {
    std::unique_ptr<MQBYTE[]> exact(new MQBYTE[m.size()]);
    if (!m.empty())
        memcpy(exact.get(), m.data(), m.size());
    PCFDUMP d;
    DecodePcf(exact.get(), m.size(), &d);
    for (const PCFITEM &item : d.items) {
        EXPECT_LE(item.offset + (size_t)item.strucLength, m.size());
        EXPECT_LE(item.valueOffset + item.valueLength, m.size());
        EXPECT_GE(item.valueOffset, item.offset);
    }
    EXPECT_TRUE(!d.malformed || d.malformedOffset <= m.size());
    MQMD md = MQMD_DEFAULT;
    memcpy(md.Format, MQFMT_ADMIN, 8);
    std::string json, text;
    FormatMessageJson(&json, 1, &md, exact.get(), m.size());
    FormatMessageText(&text, 1, &md, exact.get(), m.size());
    JVALUE v;
    std::string error;
    EXPECT_TRUE(JsonReader::Parse(json, &v, &error)) << error;
    /* and both forms say where a malformed message stops */
    const std::string at = std::to_string(d.malformedOffset);
    EXPECT_TRUE(!d.malformed ||
                json.find("\"malformed\":{\"offset\":" + at + ",") != std::string::npos)
        << json;
    EXPECT_TRUE(!d.malformed || text.find("malformed at offset " + at) != std::string::npos)
        << text;
    return d;
}

TEST(MqcmdDecode, MalformedMessagesStopAtTheFaultWithItsOffset) {
    for (const BadCase &c : BadCases()) {
        SCOPED_TRACE(c.what);
        PCFDUMP d = CheckAnyMessage(c.msg);
        EXPECT_TRUE(d.malformed);
        EXPECT_NE(d.malformedText[0], '\0');
        EXPECT_EQ(d.malformedOffset, c.offset) << d.malformedText;
        EXPECT_EQ(d.items.size(), c.kept);
        EXPECT_EQ(d.hasHeader, c.hasHeader);
    }
}

TEST(MqcmdDecode, RandomTruncationsAndCorruptionsNeverReadOutsideTheMessage) {
    const std::vector<MQBYTE> base = EveryType();
    std::mt19937 rng(20240611); /* fixed: a failure can be replayed */
    const MQLONG nasty[] = {0,          -1,      1,      4, 12, 16, 0x7FFFFFFF, (MQLONG)0x80000000,
                            0x40000000, 0x10000, 1000000};
    for (int round = 0; round < 20000 && !HasFailure(); round++) {
        std::vector<MQBYTE> m = base;
        int how = (int)(rng() % 4);
        if (how == 0 || how == 3) { /* cut it short */
            m.resize(rng() % (m.size() + 1));
        }
        if (how >= 1 && !m.empty()) { /* change some bytes or whole fields */
            int changes = 1 + (int)(rng() % 4);
            for (int i = 0; i < changes; i++) {
                size_t at = rng() % m.size();
                if (rng() % 2 == 0 && at + 4 <= m.size()) {
                    at &= ~(size_t)3;
                    MQLONG v = nasty[rng() % (sizeof nasty / sizeof nasty[0])];
                    memcpy(m.data() + at, &v, 4);
                } else {
                    m[at] = (MQBYTE)rng();
                }
            }
        }
        SCOPED_TRACE("round " + std::to_string(round));
        CheckAnyMessage(m);
    }
}

TEST(MqcmdDecode, EveryTruncationOfAValidMessageIsReportedNotRead) {
    const std::vector<MQBYTE> base = EveryType();
    for (size_t len = 0; len < base.size() && !HasFailure(); len++)
        EXPECT_TRUE(
            CheckAnyMessage(std::vector<MQBYTE>(base.begin(), base.begin() + len)).malformed)
            << "length " << len;
}

/* ---- the printed forms ---- */

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
    EXPECT_EQ(text.substr(0, 47) + text.substr(text.find('\n')),
              "Message 2: length 42, format MQCMD1, CompCode -\n"
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
