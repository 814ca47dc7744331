/* mqcmd_replyset_test.cpp -- the completion rule on a simulated clock: the
 * MQCFC_LAST bit, z/OS completion lines, the linger interval, silent text
 * replies and the wait deadline. */
#include <gtest/gtest.h>

#include <string>

#include "mqcmd_replyset.h"
#include "support/pcf_builder.h"

namespace {

std::string PcfReply(MQLONG control) {
    std::vector<MQBYTE> m = tvtest::Pcf(MQCMD_INQUIRE_Q).Control(control).bytes();
    return std::string(m.begin(), m.end());
}

void Note(REPLYSET *set, uint64_t now, const std::string &body, const char *format) {
    NoteReply(set, now, format, (const MQBYTE *)body.data(), body.size());
}

/* NextReplyWait as "WAIT ms", "DONE" or "EXPIRED". */
std::string Next(REPLYSET *set, uint64_t now) {
    uint64_t wait = 0;
    int r = NextReplyWait(set, now, &wait);
    return r == REPLYSET_WAIT      ? "WAIT " + std::to_string(wait)
           : r == REPLYSET_DONE    ? "DONE"
           : r == REPLYSET_EXPIRED ? "EXPIRED"
                                   : "?";
}

TEST(MqcmdReplySet, WhichReplyCompletesASet) {
    const struct {
        const char *format;
        std::string body;
        bool completes;
    } rows[] = {
        {MQFMT_ADMIN, PcfReply(MQCFC_LAST), true},
        {MQFMT_ADMIN, PcfReply(0x10001), true}, /* an agent's merged reply: more bits set */
        {MQFMT_ADMIN, PcfReply(0x10000), false},
        {MQFMT_ADMIN, PcfReply(MQCFC_LAST).substr(0, 35), false}, /* too short for its header */
        {MQFMT_STRING, PcfReply(MQCFC_LAST), false},              /* the same bytes as text */
        {MQFMT_COMMAND_1, "CSQ9022I QM1 CSQMDRTS ' DISPLAY QUEUE' NORMAL COMPLETION", true},
        {MQFMT_COMMAND_1, "CSQ9023E QM1 CSQMDRTS ' DISPLAY QUEUE' ABNORMAL COMPLETION", true},
        {MQFMT_COMMAND_1, "CSQ9023I", true},
        {MQFMT_COMMAND_1, "CSQN205I   COUNT=       3, RETURN=00000000, REASON=00000000", false},
        {MQFMT_COMMAND_1, " CSQ9022I", false},
        {MQFMT_COMMAND_1, "", false},
        /* replies an agent joined with zero bytes complete at their completion line */
        {MQFMT_COMMAND_1, std::string("CSQN205I*COUNT=1\0QUEUE(A)\0CSQ9022I done", 39), true},
        {MQFMT_COMMAND_1, std::string("CSQN205I*COUNT=1\0CSQ9022", 24), false},
    };
    for (const auto &r : rows)
        EXPECT_EQ(ReplyCompletesSet(r.format, (const MQBYTE *)r.body.data(), r.body.size()),
                  r.completes)
            << r.format << " " << r.body;
}

TEST(MqcmdReplySet, TheLastBitCompletesAndReadingGoesOnForTheLinger) {
    REPLYSET set;
    StartReplySet(&set, 1000, 30000, 500);
    EXPECT_EQ(Next(&set, 1000), "WAIT 30000");
    Note(&set, 1100, PcfReply(MQCFC_NOT_LAST), MQFMT_ADMIN);
    EXPECT_EQ(Next(&set, 1100), "WAIT 29900"); /* still the deadline: PCF replies do not linger */
    Note(&set, 1200, PcfReply(MQCFC_LAST), MQFMT_ADMIN);
    EXPECT_TRUE(set.complete);
    EXPECT_EQ(Next(&set, 1200), "WAIT 500");
    /* a further message inside the linger is counted, the window stays */
    Note(&set, 1500, PcfReply(MQCFC_LAST), MQFMT_ADMIN);
    EXPECT_EQ(set.messages, 3);
    EXPECT_EQ(Next(&set, 1500), "WAIT 200");
    EXPECT_EQ(Next(&set, 1700), "DONE");
    EXPECT_EQ(set.bytes, 3u * 36u);
}

TEST(MqcmdReplySet, TextRepliesWithoutACompletionLineEndWhenSilentForTheLinger) {
    REPLYSET set;
    StartReplySet(&set, 0, 30000, 500);
    Note(&set, 100, "AMQ8409I: Display Queue details.", MQFMT_STRING);
    EXPECT_EQ(Next(&set, 100), "WAIT 500");
    Note(&set, 400, "   QUEUE(APP.QUEUE.0001)", MQFMT_STRING);
    EXPECT_EQ(Next(&set, 600), "WAIT 300"); /* silence is counted from the latest reply */
    EXPECT_FALSE(set.complete);
    EXPECT_EQ(Next(&set, 900), "DONE");
    EXPECT_TRUE(set.complete);
}

TEST(MqcmdReplySet, NothingCompleteByTheDeadlineExpires) {
    REPLYSET set;
    StartReplySet(&set, 5000, 2000, 500);
    EXPECT_EQ(Next(&set, 6000), "WAIT 1000");
    Note(&set, 6500, PcfReply(MQCFC_NOT_LAST), MQFMT_ADMIN);
    EXPECT_EQ(Next(&set, 7000), "EXPIRED");
    EXPECT_FALSE(set.complete);
    /* text that keeps coming up to the deadline also expires there */
    StartReplySet(&set, 0, 1000, 500);
    Note(&set, 800, "line", MQFMT_STRING);
    EXPECT_EQ(Next(&set, 800), "WAIT 200");
    Note(&set, 999, "line", MQFMT_STRING);
    EXPECT_EQ(Next(&set, 1000), "EXPIRED");
    /* a zero wait expires at once */
    StartReplySet(&set, 0, 0, 500);
    EXPECT_EQ(Next(&set, 0), "EXPIRED");
}

} /* namespace */
