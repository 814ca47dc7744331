/* compress_test.cpp -- CompressReply on hand-built replies and on replies
 * whose lengths and counts lie (the compress fuzz target holds the randomly
 * corrupted ones). */
#include "routing_fixture.h"

using namespace rtest;

namespace {

class CompressReplyTest : public RoutingTest {};

MQLONG Compress(std::vector<MQBYTE> &m) {
    MQLONG n = CompressReply(m.data(), (MQLONG)m.size());
    EXPECT_GE(n, 0);
    EXPECT_LE((size_t)n, m.size());
    m.resize((size_t)n);
    return n;
}

}  // namespace

/* Trailing blanks of strings longer than four bytes go; every other type,
 * the CodedCharSetId, the header and ParameterCount stay as they were. */
TEST_F(CompressReplyTest, TrimsTrailingBlanksOfStringsLongerThanFourBytesOnly) {
    std::vector<MQBYTE> m = Pcf(MQCMD_INQUIRE_Q)
                                .Padded(MQCA_Q_NAME, "APP.QUEUE.0007", 48)
                                .Int(MQIA_Q_TYPE, MQQT_LOCAL)
                                .Padded(MQCACH_DESC, "    ", 4)
                                .Padded(MQCA_Q_DESC, "", 64)
                                .IntList(1, {1, 2, 3})
                                .Str(MQCA_CREATION_DATE, "2024-01-01")
                                .Bytes(7000, {1, 2, 3, 4, 5})
                                .StrList(MQCACF_Q_NAMES, {"A", "BB"}, 48)
                                .Padded(MQCA_ALTERATION_TIME, "abcd", 4)
                                .bytes();
    Set(m, 36 + 12, 1208); /* CodedCharSetId of the first string */
    std::vector<MQBYTE> before = m;
    Compress(m);
    std::vector<Parm> p = ReadParms(m);
    ASSERT_EQ(p.size(), 9u);
    EXPECT_EQ(p[0].text, "APP.QUEUE.0007");
    EXPECT_EQ(p[0].strucLength, 36);
    EXPECT_EQ(Get(m, 36 + 12), 1208);
    EXPECT_EQ(p[1].value, MQQT_LOCAL);
    EXPECT_EQ(p[2].text, "    ");    /* four blanks are short enough to stay */
    EXPECT_EQ(p[3].stringLength, 0); /* all blanks: an empty string */
    EXPECT_EQ(p[3].strucLength, 20);
    EXPECT_EQ(std::vector<MQBYTE>(m.begin() + 36 + 36 + 16 + 24 + 20, m.end()),
              std::vector<MQBYTE>(before.begin() + 36 + 68 + 16 + 24 + 84, before.end()));
    EXPECT_EQ(0, memcmp(m.data(), before.data(), 36));

    /* A message without parameters, or shorter than a header, stays whole. */
    m = Pcf(MQCMD_PING_Q_MGR).Control(MQCFC_LAST).bytes();
    EXPECT_EQ(Compress(m), 36);
    EXPECT_EQ(CompressReply(m.data(), 20), 20);
    EXPECT_EQ(CompressReply(nullptr, 0), 0);
}

TEST_F(CompressReplyTest, UnknownTypeStopsTheWalkAndKeepsTheRestUnchanged) {
    std::vector<MQBYTE> m = Pcf(MQCMD_INQUIRE_Q)
                                .Padded(MQCA_Q_NAME, "Q1", 48)
                                .Int64(MQIACF_Q_TIME_INDICATOR, 42)
                                .Padded(MQCA_Q_DESC, "D", 64)
                                .bytes();
    Compress(m);
    EXPECT_NE(Log().find("CVLA301E Can not compress PCF type 23\n"), std::string::npos);
    std::vector<Parm> p = ReadParms(m);
    ASSERT_EQ(p.size(), 3u);
    EXPECT_EQ(p[0].stringLength, 2);
    EXPECT_EQ(p[2].stringLength, 64); /* after the unknown type: as it came */
}

/* Structures the PCF reader refuses end the walk in the same way (its own
 * tests hold those); a StrucLength that is not a multiple of 4 is the
 * walk's own rule. So are the bytes after the counted parameters, kept. */
TEST_F(CompressReplyTest, KeepsFromTheFirstUntrustedStructureOnAndTheBytesAfterTheCount) {
    std::vector<MQBYTE> m = Pcf(MQCMD_INQUIRE_Q)
                                .Padded(MQCA_Q_NAME, "Q1", 48)
                                .Padded(MQCA_Q_DESC, "D", 48)
                                .Padded(MQCA_Q_NAME, "Q3", 48)
                                .bytes();
    std::vector<MQBYTE> counted = m;
    Set(m, 36 + 68 + 4, 70);
    std::vector<MQBYTE> tail(m.begin() + 36 + 68, m.end());
    Compress(m);
    ASSERT_EQ(m.size(), 36u + 24u + tail.size());
    EXPECT_EQ(0, memcmp(m.data() + 60, tail.data(), tail.size()));

    Set(counted, 32, 1);
    Compress(counted);
    EXPECT_EQ(counted.size(), 36u + 24u + 2 * 68u);
    Set(counted, 32, -5);
    std::vector<MQBYTE> before = counted;
    Compress(counted);
    EXPECT_EQ(counted, before);
}
