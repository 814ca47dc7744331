/* mqcmd_replyset_test.cpp -- the completion rule on a simulated clock: the
 * MQCFC_LAST bit, z/OS completion lines, the linger interval, silent text
 * replies and the wait deadline. */
#include <gtest/gtest.h>

#include <string>

#include "support/pcf_builder.h"
#include "mqcmd_replyset.h"

namespace {

std::vector<MQBYTE> Reply(MQLONG control) {
    return tvtest::Pcf(MQCMD_INQUIRE_Q).Control(control).bytes();
}

void NotePcf(REPLYSET *set, uint64_t now, MQLONG control) {
    std::vector<MQBYTE> m = Reply(control);
    NoteReply(set, now, MQFMT_ADMIN, m.data(), m.size());
}

void NoteText(REPLYSET *set, uint64_t now, const std::string &text,
              const char *format = MQFMT_STRING) {
    NoteReply(set, now, format, (const MQBYTE *)text.data(), text.size());
}

TEST(MqcmdReplySet, TheLastBitCompletesAndReadingGoesOnForTheLinger) {
    REPLYSET set;
    StartReplySet(&set, 1000, 30000, 500);
    uint64_t wait = 0;
    ASSERT_EQ(NextReplyWait(&set, 1000, &wait), REPLYSET_WAIT);
    EXPECT_EQ(wait, 30000u);

    NotePcf(&set, 1100, MQCFC_NOT_LAST);
    ASSERT_EQ(NextReplyWait(&set, 1100, &wait), REPLYSET_WAIT);
    EXPECT_EQ(wait, 29900u); /* still the deadline: PCF replies do not linger */

    NotePcf(&set, 1200, MQCFC_LAST);
    EXPECT_TRUE(set.complete);
    ASSERT_EQ(NextReplyWait(&set, 1200, &wait), REPLYSET_WAIT);
    EXPECT_EQ(wait, 500u);

    /* a further message inside the linger is counted, the window stays */
    NotePcf(&set, 1500, MQCFC_LAST);
    EXPECT_EQ(set.messages, 3);
    ASSERT_EQ(NextReplyWait(&set, 1500, &wait), REPLYSET_WAIT);
    EXPECT_EQ(wait, 200u);
    EXPECT_EQ(NextReplyWait(&set, 1700, &wait), REPLYSET_DONE);
    EXPECT_EQ(set.bytes, 3u * 36u);
}

TEST(MqcmdReplySet, TheLastBitIsTestedAsABit) {
    std::vector<MQBYTE> consolidated = Reply(0x10001); /* an agent's merged reply: more bits set */
    EXPECT_TRUE(ReplyCompletesSet(MQFMT_ADMIN, consolidated.data(), consolidated.size()));
    std::vector<MQBYTE> notLast = Reply(0x10000);
    EXPECT_FALSE(ReplyCompletesSet(MQFMT_ADMIN, notLast.data(), notLast.size()));
    /* a PCF reply too short for its header cannot complete anything */
    EXPECT_FALSE(ReplyCompletesSet(MQFMT_ADMIN, consolidated.data(), 35));
    /* the same bytes as text are not PCF */
    EXPECT_FALSE(ReplyCompletesSet(MQFMT_STRING, consolidated.data(), consolidated.size()));
}

TEST(MqcmdReplySet, ZosCompletionLinesCompleteTextReplies) {
    auto completes = [](const std::string &s) {
        return ReplyCompletesSet(MQFMT_COMMAND_1, (const MQBYTE *)s.data(), s.size());
    };
    EXPECT_TRUE(completes("CSQ9022I QM1 CSQMDRTS ' DISPLAY QUEUE' NORMAL COMPLETION"));
    EXPECT_TRUE(completes("CSQ9023E QM1 CSQMDRTS ' DISPLAY QUEUE' ABNORMAL COMPLETION"));
    EXPECT_TRUE(completes("CSQ9023I"));
    EXPECT_FALSE(completes("CSQN205I   COUNT=       3, RETURN=00000000, REASON=00000000"));
    EXPECT_FALSE(completes("CSQ9022"));
    EXPECT_FALSE(completes(" CSQ9022I"));
    EXPECT_FALSE(completes(""));
    /* replies an agent joined with zero bytes complete at their completion line */
    EXPECT_TRUE(completes(std::string("CSQN205I*COUNT=1\0QUEUE(A)\0CSQ9022I done", 39)));
    EXPECT_FALSE(completes(std::string("CSQN205I*COUNT=1\0CSQ9022", 24)));
}

TEST(MqcmdReplySet, TextRepliesWithoutCompletionEndWhenSilentForTheLinger) {
    REPLYSET set;
    StartReplySet(&set, 0, 30000, 500);
    uint64_t wait = 0;
    NoteText(&set, 100, "AMQ8409I: Display Queue details.");
    ASSERT_EQ(NextReplyWait(&set, 100, &wait), REPLYSET_WAIT);
    EXPECT_EQ(wait, 500u);
    NoteText(&set, 400, "   QUEUE(APP.QUEUE.0001)");
    ASSERT_EQ(NextReplyWait(&set, 600, &wait), REPLYSET_WAIT);
    EXPECT_EQ(wait, 300u); /* silence is counted from the latest reply */
    EXPECT_FALSE(set.complete);
    EXPECT_EQ(NextReplyWait(&set, 900, &wait), REPLYSET_DONE);
    EXPECT_TRUE(set.complete);
}

TEST(MqcmdReplySet, ZosTextRepliesCompleteAtTheirCompletionLine) {
    REPLYSET set;
    StartReplySet(&set, 0, 30000, 500);
    NoteText(&set, 10, "CSQN205I   COUNT=       2", MQFMT_COMMAND_1);
    EXPECT_FALSE(set.complete);
    NoteText(&set, 30, "CSQ9022I CSQMDRTS ' DISPLAY QUEUE' NORMAL COMPLETION", MQFMT_COMMAND_1);
    EXPECT_TRUE(set.complete);
}

TEST(MqcmdReplySet, NothingCompleteByTheDeadlineExpires) {
    REPLYSET set;
    StartReplySet(&set, 5000, 2000, 500);
    uint64_t wait = 0;
    ASSERT_EQ(NextReplyWait(&set, 6000, &wait), REPLYSET_WAIT);
    EXPECT_EQ(wait, 1000u);
    NotePcf(&set, 6500, MQCFC_NOT_LAST);
    EXPECT_EQ(NextReplyWait(&set, 7000, &wait), REPLYSET_EXPIRED);
    EXPECT_FALSE(set.complete);

    /* text that keeps coming up to the deadline also expires there */
    StartReplySet(&set, 0, 1000, 500);
    NoteText(&set, 800, "line");
    ASSERT_EQ(NextReplyWait(&set, 800, &wait), REPLYSET_WAIT);
    EXPECT_EQ(wait, 200u);
    NoteText(&set, 999, "line");
    EXPECT_EQ(NextReplyWait(&set, 1000, &wait), REPLYSET_EXPIRED);

    /* a zero wait expires at once */
    StartReplySet(&set, 0, 0, 500);
    EXPECT_EQ(NextReplyWait(&set, 0, &wait), REPLYSET_EXPIRED);
}

} /* namespace */
