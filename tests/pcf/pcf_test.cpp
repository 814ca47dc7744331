/* pcf_test.cpp -- the PCF builder and reader: structure layouts, padding,
 * version raising, groups, growth, full buffers, and hostile messages. */
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "log/cs.h"
#include "mqconst/mqconst.h"
#include "pcf/pcf.h"

namespace {

MQLONG At(const MQBYTE *m, size_t off) {
    MQLONG v;
    memcpy(&v, m + off, 4);
    return v;
}

/* A buffer of size bytes (fixed, or growable with slack beyond it) with an
 * empty version-1 command header. */
struct Builder {
    explicit Builder(MQLONG size = 1000, int growable = 0, MQLONG slack = 0) : owned(growable) {
        buf = growable ? (MQBYTE *)CSGetMem((size_t)(size + slack)) : fixed;
        MQCFH cfh = MQCFH_DEFAULT;
        cfh.Version = MQCFH_VERSION_1;
        PCFStartBuild(&ctx, &buf, size, slack, growable, &cfh);
    }
    ~Builder() {
        if (owned)
            CSFreeMem(buf);
    }
    MQBYTE *Add(MQLONG type, MQLONG id, const void *v = nullptr, MQLONG len = 0) {
        return PCFAddParm(&ctx, type, id, v, len, &cc, &rc);
    }
    MQBYTE fixed[100000];
    MQBYTE *buf;
    PCFCTX ctx;
    int owned;
    MQLONG cc = -1, rc = -1;
};

/* Each case is added after an MQCFIN: a refused one leaves the message as it
 * was (and the version of the MQCFIN, 1). */
TEST(PcfBuild, EachTypeHasItsLayoutPaddingAndVersionOrIsRefused) {
    const MQLONG v32 = 77;
    const int64_t v64 = -5;
    struct Case {
        MQLONG type;
        const void *value;
        MQLONG length;
        MQLONG struc;   /* StrucLength; the reason when refused */
        MQLONG version; /* header version afterwards, 0: refused */
        size_t valueAt; /* offset of the value in the structure */
    } cases[] = {
        {MQCFT_INTEGER, &v32, 4, 16, 1, 12},
        {MQCFT_STRING, "abcde", 5, 28, 1, 20},
        {MQCFT_STRING, "abcd", 4, 24, 1, 20},
        {MQCFT_STRING, "abcde", -1, 28, 1, 20},
        {MQCFT_STRING, "abc", -2, 24, 1, 20},
        {MQCFT_STRING, nullptr, -1, 20, 1, 20},
        {MQCFT_INTEGER_LIST, nullptr, 12, 28, 1, 16},
        {MQCFT_STRING_LIST, "xy", 2, 28, 1, 24},
        {MQCFT_BYTE_STRING, "\x01\x02\x03", 3, 20, 2, 16},
        {MQCFT_INTEGER_FILTER, &v32, 4, 20, 3, 16},
        {MQCFT_STRING_FILTER, "ab", -1, 28, 3, 24},
        {MQCFT_BYTE_STRING_FILTER, "\x09", 1, 24, 3, 20},
        {MQCFT_INTEGER64, &v64, 8, 24, 3, 16},
        {7, nullptr, 0, MQRCCF_CFH_TYPE_ERROR, 0, 0},
        {MQCFT_STRING, nullptr, -3, MQRC_BUFFER_LENGTH_ERROR, 0, 0},
        {MQCFT_INTEGER_LIST, nullptr, 6, MQRC_BUFFER_LENGTH_ERROR, 0, 0},
        {MQCFT_STRING, nullptr, 1000, MQRC_STORAGE_NOT_AVAILABLE, 0, 0}, /* a full buffer */
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " length " << c.length);
        Builder b;
        b.Add(MQCFT_INTEGER, 1);
        MQBYTE *area = b.Add(c.type, 4711, c.value, c.length);
        if (c.version == 0) {
            EXPECT_EQ(area, nullptr);
            EXPECT_EQ((std::vector<MQLONG>{b.cc, b.rc, b.ctx.offset, At(b.buf, 32), At(b.buf, 8)}),
                      (std::vector<MQLONG>{MQCC_FAILED, c.struc, 52, 1, 1}));
            continue;
        }
        ASSERT_EQ(b.rc, 0);
        EXPECT_EQ(area, b.buf + 52 + c.valueAt);
        EXPECT_EQ((std::vector<MQLONG>{At(b.buf, 52), At(b.buf, 56), At(b.buf, 60), At(b.buf, 8),
                                       At(b.buf, 32), b.ctx.offset}),
                  (std::vector<MQLONG>{c.type, c.struc, 4711, c.version, 2, 52 + c.struc}));
    }
    /* -2 counts and copies the NUL; a byte string never lowers version 3 */
    Builder b;
    b.Add(MQCFT_STRING, 1, "abc", -2);
    EXPECT_EQ(At(b.buf, 36 + 16), 4);
    EXPECT_EQ(b.buf[36 + 23], 0);
    b.Add(MQCFT_INTEGER64, 2);
    b.Add(MQCFT_BYTE_STRING, 3, "z", 1);
    EXPECT_EQ(At(b.buf, 8), 3);
}

TEST(PcfBuild, GrowableBufferAtLeastDoublesAndMovesTheOwner) {
    Builder b(4096, 1, 500);
    std::string big(3964 - 20, 'x'); /* 36 + 3964 = 4000 bytes used */
    b.Add(MQCFT_STRING, 1, big.data(), (MQLONG)big.size());
    ASSERT_EQ(b.ctx.offset, 4000);
    MQBYTE *before = b.buf;
    std::string more(180, 'y'); /* a 200-byte structure */
    MQBYTE *area = b.Add(MQCFT_STRING, 2, more.data(), (MQLONG)more.size());
    ASSERT_EQ(b.rc, 0);
    EXPECT_NE(b.buf, before);
    EXPECT_EQ(b.ctx.msg, b.buf);
    EXPECT_EQ(b.ctx.capacity, 8192);
    EXPECT_EQ(area, b.buf + 4000 + 20);
    EXPECT_EQ(At(b.buf, 32), 2);
    EXPECT_EQ(b.buf[36 + 20], 'x') << "used bytes copied";

    CSSetMemFailAfter(0);
    std::string huge(9000, 'z');
    EXPECT_EQ(b.Add(MQCFT_STRING, 3, huge.data(), (MQLONG)huge.size()), nullptr);
    CSSetMemFailAfter(-1);
    EXPECT_EQ(b.rc, MQRC_STORAGE_NOT_AVAILABLE);
    EXPECT_EQ(b.ctx.offset, 4200);
}

std::string End(MQLONG reason) {
    return "end " + std::to_string(reason);
}

/* Read every parameter of a message as "type:id:length:count" items, then
 * the reason the reading ended with. */
std::vector<std::string> ReadAll(const MQBYTE *m, MQLONG len) {
    PCFCTX ctx;
    PCFPARM p;
    PCFStartRead(&ctx, m, len);
    std::vector<std::string> out;
    for (int guard = 0; guard < 100 && PCFNext(&ctx, &p); guard++) {
        if (p.value != nullptr) {
            EXPECT_GE(p.value, m);
            EXPECT_LE(p.value + p.length, m + len);
        }
        out.push_back(std::to_string(p.type) + ":" + std::to_string(p.id) + ":" +
                      std::to_string(p.length) + ":" + std::to_string(p.count));
    }
    out.push_back(End(p.compCode == MQCC_OK ? -1 : p.reason));
    return out;
}

/* A message: a header with ParameterCount count, then words. */
std::vector<MQBYTE> msg(MQLONG count, std::vector<MQLONG> words) {
    std::vector<MQBYTE> m(36, 0);
    memcpy(m.data() + 32, &count, 4);
    for (MQLONG w : words)
        m.insert(m.end(), (MQBYTE *)&w, (MQBYTE *)&w + 4);
    return m;
}

/* Every type the builder makes, groups, the agent's own types; then hostile
 * messages, which end the reading without overrun. */
TEST(PcfRead, SoundMessagesReadWholeHostileOnesEndTheReading) {
    Builder b;
    MQLONG list[2] = {5, 6};
    b.Add(MQCFT_INTEGER, 1);
    b.Add(MQCFT_STRING, 2, "abcde", 5);
    b.Add(MQCFT_INTEGER_LIST, 3, list, 8);
    b.Add(MQCFT_STRING_LIST, 4, "xyz", 3);
    b.Add(MQCFT_BYTE_STRING, 5, "\x01", 1);
    b.Add(MQCFT_INTEGER64, 6);
    b.Add(MQCFT_GROUP, 7);
    b.Add(MQCFT_GROUP, 8);    /* empty: nothing follows */
    std::vector<MQLONG> deep; /* eleven nested groups */
    std::vector<std::string> deepRead;
    for (int i = 0; i < 11; i++) {
        deep.insert(deep.end(), {20, 16, 100 + i, 1});
        deepRead.push_back("20:" + std::to_string(100 + i) + ":16:1");
    }
    deepRead.back() = End(MQRC_FORMAT_NOT_SUPPORTED);
    std::vector<MQBYTE> shortHeader = msg(1, {});
    shortHeader.resize(20);
    const std::string truncated = End(MQRC_TRUNCATED_MSG_FAILED),
                      typeError = End(MQRCCF_CFH_TYPE_ERROR);
    /* what, the message, what is read */
    const std::tuple<const char *, std::vector<MQBYTE>, std::vector<std::string>> cases[] = {
        {"every type the builder makes",
         std::vector<MQBYTE>(b.buf, b.buf + b.ctx.offset),
         {"3:1:4:1", "4:2:5:1", "5:3:8:2", "6:4:3:1", "9:5:1:1", "23:6:8:1", "20:7:16:1",
          "20:8:16:1", "1003:8:0:0", "1003:7:0:0", End(PCF_END_OF_PARMS)}},
        {"no parameters", msg(0, {}), {End(PCF_END_OF_PARMS)}},
        {"an empty group, then a parameter",
         msg(2, {20, 16, 7, 0, 3, 16, 9, 1}),
         {"20:7:16:1", "1003:7:0:0", "3:9:4:1", End(PCF_END_OF_PARMS)}},
        {"the agent's own types",
         msg(3, {1000, 1001, 24, 5, 0, 3, 0x00636261, 1002, 28, 6, 0, 1, 3, 0x007a7978}),
         {"1000:0:4:0", "1001:5:3:1", "1002:6:3:1", End(PCF_END_OF_PARMS)}},
        {"string past the end", msg(1, {4, 24, 1, 0, 400, 0}), {truncated}},
        {"negative string length", msg(1, {4, 24, 1, 0, -8, 0}), {truncated}},
        {"structure past the end", msg(1, {3, 64, 1, 0}), {truncated}},
        {"structure shorter than its type", msg(1, {3, 8, 1, 0}), {truncated}},
        {"list count beyond its structure", msg(1, {5, 20, 1, 9, 0}), {truncated}},
        {"string list past its structure", msg(1, {6, 28, 1, 0, 3, 4, 0}), {truncated}},
        {"half a header", msg(1, {3, 16}), {truncated}},
        {"count promises more", msg(1, {}), {truncated}},
        {"unknown type", msg(1, {77, 16, 1, 0}), {typeError}},
        {"filter on reading", msg(1, {13, 20, 1, 1, 0}), {typeError}},
        {"negative group count", msg(1, {20, 16, 1, -1}), {truncated}},
        {"eleven nested groups", msg(1, deep), deepRead},
        {"shorter than a header", shortHeader, {truncated}},
    };
    for (const auto &[what, m, read] : cases)
        EXPECT_EQ(ReadAll(m.data(), (MQLONG)m.size()), read) << what;
    PCFCTX ctx;
    EXPECT_EQ(PCFStartRead(&ctx, shortHeader.data(), 20), MQRCCF_MSG_LENGTH_ERROR);
}

TEST(PcfRead, StepsOverRunsOfIntegersAndStructuresOfUnknownTypes) {
    std::vector<MQBYTE> m = msg(6, {3,  16, 1, 10, 3,  16, 2, 20, 3,  20, 3, 30, 0,
                                    77, 12, 9, 20, 16, 4,  0, 4,  24, 5,  0, 2,  0x6261});
    PCFCTX ctx;
    PCFPARM p;
    PCFStartRead(&ctx, m.data(), (MQLONG)m.size());
    EXPECT_EQ(PCFSkipIntegers(&ctx), 2);
    EXPECT_EQ(ctx.lastId, 2);
    EXPECT_EQ(At(ctx.lastValue, 0), 20);
    EXPECT_EQ(PCFSkipIntegers(&ctx), 0) << "an MQCFIN of 20 bytes is read one by one";
    EXPECT_TRUE(PCFNext(&ctx, &p) && p.id == 3);
    EXPECT_FALSE(PCFNext(&ctx, &p));
    EXPECT_EQ(p.reason, MQRCCF_CFH_TYPE_ERROR);
    EXPECT_EQ(PCFSkipParm(&ctx), MQRC_NONE);
    EXPECT_EQ(PCFSkipParm(&ctx), MQRCCF_CFH_TYPE_ERROR) << "a group is never stepped over";
    EXPECT_TRUE(PCFNext(&ctx, &p) && PCFNext(&ctx, &p) && p.type == PCF_GROUP_END);
    EXPECT_TRUE(PCFNext(&ctx, &p));
    EXPECT_EQ(std::string((const char *)p.value, (size_t)p.length), "ab");
    EXPECT_FALSE(PCFNext(&ctx, &p));
    EXPECT_EQ(p.reason, PCF_END_OF_PARMS);
    /* A StrucLength below 8 or past the end: refused, nothing stepped. */
    for (MQLONG lie : {4, 100}) {
        memcpy(m.data() + 36 + 52 + 4, &lie, 4);
        PCFStartRead(&ctx, m.data(), (MQLONG)m.size());
        PCFSkipIntegers(&ctx);
        PCFNext(&ctx, &p);
        PCFNext(&ctx, &p);
        EXPECT_EQ(PCFSkipParm(&ctx), MQRC_TRUNCATED_MSG_FAILED);
        EXPECT_EQ(ctx.offset, 36 + 52);
    }
}

TEST(PcfResponse, ErrorResponseAndEscapeHeader) {
    MQBYTE buf[1000];
    MQLONG len = PCFBuildErrorResponse(buf, sizeof buf, MQCMD_Q_MGR_EVENT, 3015, 20002, "bad");
    EXPECT_EQ(len, 36 + 16 + 24);
    const MQLONG head[13] = {MQCFT_EVENT, 36,   1, MQCMD_Q_MGR_EVENT, 1,  1,
                             2,           3015, 2, MQCFT_INTEGER,     16, MQIACF_PARAMETER_ID,
                             20002};
    EXPECT_EQ(memcmp(buf, head, sizeof head), 0);
    EXPECT_EQ(At(buf, 60), CVL_ATTR_ERROR_TEXT);
    len = PCFBuildErrorResponse(buf, sizeof buf, 9500, 2298, 20002, nullptr);
    EXPECT_EQ(len, 36) << "2298 names no parameter";
    EXPECT_EQ(At(buf, 0), MQCFT_COMMAND);
    std::string longText(2000, 'x');
    EXPECT_EQ(PCFBuildErrorResponse(buf, sizeof buf, 9500, 2298, 0, longText.c_str()), 36)
        << "a text that does not fit is left out";

    MQLONG words[18];
    EXPECT_EQ(PCFEscapeHeader((MQBYTE *)words, 5, 38, 0), 25);
    const MQLONG want[18] = {1, 36, 1, 38, 1, 1, 0, 0, 2, 3, 16, 1017, 1, 4, 25, 3014, 0, 5};
    EXPECT_EQ(memcmp(words, want, sizeof want), 0);
    PCFEscapeHeader((MQBYTE *)words, 5, 0, 3008);
    EXPECT_EQ(words[6], 2);
}

}  // namespace
