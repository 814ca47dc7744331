/* mqcmd_decode_test.cpp -- the requester's PCF walk: every structure type, groups,
 * and messages that are truncated, inconsistent or corrupted at random. */
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

#include "mqcmd_decode.h"
#include "mqcmd_format.h"
#include "mqcmd_json.h"
#include "mqcmd_pcfbytes.h"

namespace {

/* A reply holding one structure of every type, with nested groups. */
PcfBytes EveryType() {
    PcfBytes m;
    m.Header(MQCFT_RESPONSE, MQCMD_INQUIRE_Q, MQCFC_LAST, 0, 0, 12);
    m.Integer(MQIA_CURRENT_Q_DEPTH, 42);
    m.String(MQCA_Q_NAME, "APP.QUEUE.0001", 819);
    m.IntList(MQIACF_Q_ATTRS, {MQCA_Q_NAME, MQIA_CURRENT_Q_DEPTH, -7});
    m.StrList(MQCACF_Q_NAMES, {"A", "BB", "CCC"}, 48);
    m.ByteString(MQBACF_CONNECTION_ID, {0x01, 0xAB, 0xFF});
    m.Integer64(MQIAMO64_BROWSE_BYTES, -5000000000LL);
    m.Int64List(MQIAMO64_GET_BYTES, {1, 9000000000LL});
    m.IntFilter(MQIA_CURRENT_Q_DEPTH, MQCFOP_GREATER, 10);
    m.StrFilter(MQCA_Q_DESC, MQCFOP_LIKE, "desc*");
    m.ByteFilter(MQBACF_CONNECTION_ID, MQCFOP_EQUAL, {0x10, 0x20});
    m.Group(MQGACF_Q_STATISTICS_DATA, 2);
    m.Integer(MQIA_MSG_ENQ_COUNT, 3);
    m.Group(MQGACF_Q_ACCOUNTING_DATA, 1);
    m.String(MQCA_Q_NAME, "INNER");
    m.Integer(MQIA_MAX_Q_DEPTH, 5000);
    return m;
}

TEST(MqcmdDecode, WalksEveryStructureTypeAndNestedGroupsInOrder) {
    PcfBytes m = EveryType();
    PCFDUMP d;
    DecodePcf(m.b.data(), m.b.size(), &d);
    ASSERT_TRUE(d.hasHeader);
    EXPECT_FALSE(d.malformed) << d.malformedText;
    EXPECT_EQ(d.type, MQCFT_RESPONSE);
    EXPECT_EQ(d.command, MQCMD_INQUIRE_Q);
    EXPECT_EQ(d.control, MQCFC_LAST);
    EXPECT_EQ(d.parameterCount, 12);
    ASSERT_EQ(d.items.size(), 15u);

    const MQBYTE *msg = m.b.data();
    const PCFITEM *it = d.items.data();
    EXPECT_EQ(it[0].type, MQCFT_INTEGER);
    EXPECT_EQ(PcfLongAt(msg, it[0].valueOffset), 42);

    EXPECT_EQ(it[1].type, MQCFT_STRING);
    EXPECT_EQ(it[1].ccsid, 819);
    EXPECT_EQ(std::string((const char *)msg + it[1].valueOffset, it[1].valueLength),
              "APP.QUEUE.0001");
    EXPECT_EQ(it[1].strucLength, 36); /* 20 + 14 rounded up */

    EXPECT_EQ(it[2].type, MQCFT_INTEGER_LIST);
    ASSERT_EQ(it[2].count, 3);
    EXPECT_EQ(PcfLongAt(msg, it[2].valueOffset + 8), -7);

    EXPECT_EQ(it[3].type, MQCFT_STRING_LIST);
    EXPECT_EQ(it[3].count, 3);
    EXPECT_EQ(it[3].itemLength, 48);
    EXPECT_EQ(it[3].valueLength, 144u);

    EXPECT_EQ(it[4].type, MQCFT_BYTE_STRING);
    EXPECT_EQ(it[4].valueLength, 3u);
    EXPECT_EQ(msg[it[4].valueOffset + 1], 0xAB);

    EXPECT_EQ(it[5].type, MQCFT_INTEGER64);
    EXPECT_EQ(PcfInt64At(msg, it[5].valueOffset), -5000000000LL);

    EXPECT_EQ(it[6].type, MQCFT_INTEGER64_LIST);
    EXPECT_EQ(it[6].count, 2);
    EXPECT_EQ(PcfInt64At(msg, it[6].valueOffset + 8), 9000000000LL);

    EXPECT_EQ(it[7].type, MQCFT_INTEGER_FILTER);
    EXPECT_EQ(it[7].op, MQCFOP_GREATER);
    EXPECT_EQ(PcfLongAt(msg, it[7].valueOffset), 10);

    EXPECT_EQ(it[8].type, MQCFT_STRING_FILTER);
    EXPECT_EQ(it[8].op, MQCFOP_LIKE);
    EXPECT_EQ(std::string((const char *)msg + it[8].valueOffset, it[8].valueLength), "desc*");

    EXPECT_EQ(it[9].type, MQCFT_BYTE_STRING_FILTER);
    EXPECT_EQ(it[9].valueLength, 2u);

    /* group nesting: depth follows the groups' ParameterCounts */
    EXPECT_EQ(it[10].type, MQCFT_GROUP);
    EXPECT_EQ(it[10].depth, 0);
    EXPECT_EQ(it[10].count, 2);
    EXPECT_EQ(it[11].depth, 1);
    EXPECT_EQ(it[12].type, MQCFT_GROUP);
    EXPECT_EQ(it[12].depth, 1);
    EXPECT_EQ(it[13].depth, 2);
    EXPECT_EQ(it[14].depth, 0);
    EXPECT_EQ(PcfLongAt(msg, it[14].valueOffset), 5000);
}

TEST(MqcmdDecode, EmptyGroupAndNoParametersAreNotFaults) {
    PcfBytes m;
    m.Header(MQCFT_RESPONSE, MQCMD_INQUIRE_Q, MQCFC_LAST, 0, 0, 2);
    m.Group(MQGACF_Q_STATISTICS_DATA, 0);
    m.Integer(MQIA_CURRENT_Q_DEPTH, 1);
    PCFDUMP d;
    DecodePcf(m.b.data(), m.b.size(), &d);
    EXPECT_FALSE(d.malformed) << d.malformedText;
    ASSERT_EQ(d.items.size(), 2u);
    EXPECT_EQ(d.items[1].depth, 0);

    PcfBytes empty;
    empty.Header(MQCFT_RESPONSE, MQCMD_PING_Q_MGR, MQCFC_LAST, 0, 0, 0);
    DecodePcf(empty.b.data(), empty.b.size(), &d);
    EXPECT_TRUE(d.hasHeader);
    EXPECT_FALSE(d.malformed);
    EXPECT_TRUE(d.items.empty());
}

TEST(MqcmdDecode, UnknownStructureTypeIsKeptWithItsBytes) {
    PcfBytes m;
    m.Header(MQCFT_RESPONSE, MQCMD_INQUIRE_Q, MQCFC_LAST, 0, 0, 2);
    m.Long(99);
    m.Long(20);
    m.Long(1234);
    m.Long(7);
    m.Long(8);
    m.Integer(MQIA_CURRENT_Q_DEPTH, 1);
    PCFDUMP d;
    DecodePcf(m.b.data(), m.b.size(), &d);
    EXPECT_FALSE(d.malformed) << d.malformedText;
    ASSERT_EQ(d.items.size(), 2u);
    EXPECT_EQ(d.items[0].type, 99);
    EXPECT_EQ(d.items[0].valueLength, 8u);
    EXPECT_EQ(d.items[1].type, MQCFT_INTEGER);
}

/* One malformed message: what it is and where the walk must stop. */
struct BadCase {
    const char *what;
    PcfBytes msg;
    size_t offset; /* expected malformedOffset */
    size_t kept;   /* items read before the fault */
    int hasHeader;
};

std::vector<BadCase> BadCases() {
    std::vector<BadCase> cases;
    {
        BadCase c{"shorter than an MQCFH", {}, 0, 0, 0};
        c.msg.Header(MQCFT_RESPONSE, 13, 1, 0, 0, 0);
        c.msg.b.resize(20);
        cases.push_back(c);
    }
    {
        BadCase c{"MQCFH StrucLength not 36", {}, 4, 0, 1};
        c.msg.Header(MQCFT_RESPONSE, 13, 1, 0, 0, 0);
        c.msg.SetLong(4, 40);
        cases.push_back(c);
    }
    {
        BadCase c{"negative ParameterCount", {}, 32, 0, 1};
        c.msg.Header(MQCFT_RESPONSE, 13, 1, 0, 0, -1);
        cases.push_back(c);
    }
    {
        BadCase c{"ParameterCount larger than the message", {}, 52, 1, 1};
        c.msg.Header(MQCFT_RESPONSE, 13, 1, 0, 0, 2);
        c.msg.Integer(MQIA_CURRENT_Q_DEPTH, 1);
        cases.push_back(c);
    }
    {
        BadCase c{"StrucLength past the end", {}, 36, 0, 1};
        c.msg.Header(MQCFT_RESPONSE, 13, 1, 0, 0, 1);
        c.msg.String(MQCA_Q_NAME, "ABCDEFGH");
        c.msg.SetLong(40, 1000);
        cases.push_back(c);
    }
    {
        BadCase c{"StrucLength below 12", {}, 52, 1, 1};
        c.msg.Header(MQCFT_RESPONSE, 13, 1, 0, 0, 2);
        c.msg.Integer(MQIA_CURRENT_Q_DEPTH, 1);
        c.msg.Integer(MQIA_CURRENT_Q_DEPTH, 1);
        c.msg.SetLong(56, 8);
        cases.push_back(c);
    }
    {
        BadCase c{"integer StrucLength too small for its value", {}, 36, 0, 1};
        c.msg.Header(MQCFT_RESPONSE, 13, 1, 0, 0, 1);
        c.msg.Integer(MQIA_CURRENT_Q_DEPTH, 1);
        c.msg.SetLong(40, 12);
        cases.push_back(c);
    }
    {
        BadCase c{"StringLength beyond StrucLength", {}, 36, 0, 1};
        c.msg.Header(MQCFT_RESPONSE, 13, 1, 0, 0, 1);
        c.msg.String(MQCA_Q_NAME, "ABCDEFGH");
        c.msg.SetLong(52, 100);
        cases.push_back(c);
    }
    {
        BadCase c{"negative StringLength", {}, 36, 0, 1};
        c.msg.Header(MQCFT_RESPONSE, 13, 1, 0, 0, 1);
        c.msg.String(MQCA_Q_NAME, "ABCDEFGH");
        c.msg.SetLong(52, -4);
        cases.push_back(c);
    }
    {
        BadCase c{"integer list Count overflowing 32 bits", {}, 36, 0, 1};
        c.msg.Header(MQCFT_RESPONSE, 13, 1, 0, 0, 1);
        c.msg.IntList(MQIACF_Q_ATTRS, {1, 2});
        c.msg.SetLong(48, 0x40000001);
        cases.push_back(c);
    }
    {
        BadCase c{"string list Count times StringLength overflowing", {}, 36, 0, 1};
        c.msg.Header(MQCFT_RESPONSE, 13, 1, 0, 0, 1);
        c.msg.StrList(MQCACF_Q_NAMES, {"A"}, 4);
        c.msg.SetLong(52, 0x10000);
        c.msg.SetLong(56, 0x10000);
        cases.push_back(c);
    }
    {
        BadCase c{"string list of empty strings with a Count past its StrucLength", {}, 36, 0, 1};
        c.msg.Header(MQCFT_RESPONSE, 13, 1, 0, 0, 1);
        c.msg.StrList(MQCACF_Q_NAMES, {"A"}, 4);
        c.msg.SetLong(52, 0x10000000);
        c.msg.SetLong(56, 0);
        cases.push_back(c);
    }
    {
        BadCase c{"bytes after the last parameter", {}, 52, 1, 1};
        c.msg.Header(MQCFT_RESPONSE, 13, 1, 0, 0, 1);
        c.msg.Integer(MQIA_CURRENT_Q_DEPTH, 1);
        c.msg.Zeros(8);
        cases.push_back(c);
    }
    {
        BadCase c{"group ParameterCount beyond the message", {}, 68, 2, 1};
        c.msg.Header(MQCFT_RESPONSE, 13, 1, 0, 0, 1);
        c.msg.Group(MQGACF_Q_STATISTICS_DATA, 5);
        c.msg.Integer(MQIA_CURRENT_Q_DEPTH, 1);
        cases.push_back(c);
    }
    {
        BadCase c{"groups nested too deep",
                  {},
                  36 + 16 * MQCMD_MAX_GROUP_DEPTH,
                  (size_t)MQCMD_MAX_GROUP_DEPTH,
                  1};
        c.msg.Header(MQCFT_RESPONSE, 13, 1, 0, 0, 1);
        for (int i = 0; i <= MQCMD_MAX_GROUP_DEPTH; i++)
            c.msg.Group(MQGACF_Q_STATISTICS_DATA, 1);
        c.msg.Integer(MQIA_CURRENT_Q_DEPTH, 1);
        cases.push_back(c);
    }
    return cases;
}

TEST(MqcmdDecode, MalformedMessagesStopAtTheFaultWithItsOffset) {
    for (const BadCase &c : BadCases()) {
        SCOPED_TRACE(c.what);
        /* an exactly sized copy, so that any read past the end is out of bounds */
        std::unique_ptr<MQBYTE[]> exact(new MQBYTE[c.msg.b.size()]);
        memcpy(exact.get(), c.msg.b.data(), c.msg.b.size());
        PCFDUMP d;
        DecodePcf(exact.get(), c.msg.b.size(), &d);
        EXPECT_TRUE(d.malformed);
        EXPECT_NE(d.malformedText[0], '\0');
        EXPECT_EQ(d.malformedOffset, c.offset) << d.malformedText;
        EXPECT_EQ(d.items.size(), c.kept);
        EXPECT_EQ(d.hasHeader, c.hasHeader);

        /* and both printed forms say so instead of failing */
        MQMD md = MQMD_DEFAULT;
        memcpy(md.Format, MQFMT_ADMIN, 8);
        std::string json, text;
        FormatMessageJson(&json, 1, &md, exact.get(), c.msg.b.size());
        FormatMessageText(&text, 1, &md, exact.get(), c.msg.b.size());
        JVALUE v;
        std::string error;
        ASSERT_TRUE(JsonReader::Parse(json, &v, &error)) << error << "\n" << json;
        const JVALUE *pcf = v.Get("pcf");
        ASSERT_NE(pcf, nullptr);
        const JVALUE *malformed =
            pcf->kind == JVALUE::OBJECT ? pcf->Get("malformed") : v.Get("malformed");
        ASSERT_NE(malformed, nullptr) << json;
        EXPECT_EQ(malformed->Get("offset")->number, (double)c.offset);
        EXPECT_NE(text.find("malformed at offset " + std::to_string(c.offset)), std::string::npos)
            << text;
    }
}

/* Every item must lie inside the message, and both printed forms must be
 * produced (JSON well-formed) whatever the bytes are. */
void CheckAnyMessage(const MQBYTE *msg, size_t len) {
    PCFDUMP d;
    DecodePcf(msg, len, &d);
    for (const PCFITEM &item : d.items) {
        ASSERT_LE(item.offset + (size_t)item.strucLength, len);
        ASSERT_LE(item.valueOffset + item.valueLength, len);
        ASSERT_GE(item.valueOffset, item.offset);
    }
    if (d.malformed) {
        ASSERT_LE(d.malformedOffset, len);
    }
    MQMD md = MQMD_DEFAULT;
    memcpy(md.Format, MQFMT_ADMIN, 8);
    std::string json, text;
    FormatMessageJson(&json, 1, &md, msg, len);
    FormatMessageText(&text, 1, &md, msg, len);
    JVALUE v;
    std::string error;
    ASSERT_TRUE(JsonReader::Parse(json, &v, &error)) << error << "\n" << json;
}

TEST(MqcmdDecode, RandomTruncationsAndCorruptionsNeverReadOutsideTheMessage) {
    const PcfBytes base = EveryType();
    std::mt19937 rng(20240611); /* fixed: a failure can be replayed */
    const MQLONG nasty[] = {0,          -1,      1,      4, 12, 16, 0x7FFFFFFF, (MQLONG)0x80000000,
                            0x40000000, 0x10000, 1000000};
    for (int round = 0; round < 20000; round++) {
        std::vector<MQBYTE> m = base.b;
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
        std::unique_ptr<MQBYTE[]> exact(new MQBYTE[m.size()]);
        if (!m.empty())
            memcpy(exact.get(), m.data(), m.size());
        SCOPED_TRACE("round " + std::to_string(round));
        CheckAnyMessage(exact.get(), m.size());
        if (HasFatalFailure())
            return;
    }
}

TEST(MqcmdDecode, EveryTruncationOfAValidMessageIsReportedNotRead) {
    const PcfBytes base = EveryType();
    for (size_t len = 0; len < base.b.size(); len++) {
        std::unique_ptr<MQBYTE[]> exact(new MQBYTE[len]);
        memcpy(exact.get(), base.b.data(), len);
        PCFDUMP d;
        DecodePcf(exact.get(), len, &d);
        EXPECT_TRUE(d.malformed) << "length " << len;
        CheckAnyMessage(exact.get(), len);
        if (HasFatalFailure())
            return;
    }
}

} /* namespace */
