/* consolidate_test.cpp -- reply compression, the reply consumer and
 * consolidation: merging, size limits, error replies, the compress and
 * coalesce switches, agent parameters, z/OS text, allocation failures and
 * untrusted replies (the fuzz targets hold randomly corrupted ones). */
#include <algorithm>
#include <random>

#include "routing_fixture.h"
#include "support/files.h"

using namespace rtest;

namespace {

class ConsolidateTest : public RoutingTest {};

/* An INQUIRE_Q reply of about 1 KB (compressing to a little less). */
std::vector<MQBYTE> KiloReply(int i, bool last = false) {
    Pcf p(MQCMD_INQUIRE_Q);
    p.Seq(i + 1).Control(last ? MQCFC_LAST : MQCFC_NOT_LAST);
    p.Padded(MQCA_Q_NAME, "APP.QUEUE." + std::to_string(1000 + i), 48);
    for (int k = 0; k < 12; k++)
        p.Padded(MQCA_Q_DESC, std::string(58, 'd') + std::to_string(k), 64);
    return p.Int(MQIA_CURRENT_Q_DEPTH, i).bytes();
}

std::vector<MQBYTE> Compressed(std::vector<MQBYTE> m) {
    MQLONG n = CompressReply(m.data(), (MQLONG)m.size());
    EXPECT_TRUE(n >= 0 && (size_t)n <= m.size()) << n;
    m.resize((size_t)n);
    return m;
}

}  // namespace

/* Trailing blanks of strings longer than four bytes go; every other type,
 * the CodedCharSetId, the header and ParameterCount stay as they were. */
TEST_F(ConsolidateTest, TrimsTrailingBlanksOfStringsLongerThanFourBytesOnly) {
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
    m = Compressed(m);
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
    EXPECT_EQ(Compressed(m), m);
    EXPECT_EQ(CompressReply(m.data(), 20), 20);
    EXPECT_EQ(CompressReply(nullptr, 0), 0);
}

TEST_F(ConsolidateTest, UnknownTypeStopsTheWalkAndKeepsTheRestUnchanged) {
    std::vector<MQBYTE> m = Pcf(MQCMD_INQUIRE_Q)
                                .Padded(MQCA_Q_NAME, "Q1", 48)
                                .Int64(MQIACF_Q_TIME_INDICATOR, 42)
                                .Padded(MQCA_Q_DESC, "D", 64)
                                .bytes();
    m = Compressed(m);
    EXPECT_NE(Log().find("CVLA301E Can not compress PCF type 23\n"), std::string::npos);
    std::vector<Parm> p = ReadParms(m);
    ASSERT_EQ(p.size(), 3u);
    EXPECT_EQ(p[0].stringLength, 2);
    EXPECT_EQ(p[2].stringLength, 64); /* after the unknown type: as it came */
}

/* Structures the PCF reader refuses end the walk in the same way (its own
 * tests hold those); a StrucLength that is not a multiple of 4 is the
 * walk's own rule. So are the bytes after the counted parameters, kept. */
TEST_F(ConsolidateTest, KeepsFromTheFirstUntrustedStructureOnAndTheBytesAfterTheCount) {
    std::vector<MQBYTE> m = Pcf(MQCMD_INQUIRE_Q)
                                .Padded(MQCA_Q_NAME, "Q1", 48)
                                .Padded(MQCA_Q_DESC, "D", 48)
                                .Padded(MQCA_Q_NAME, "Q3", 48)
                                .bytes();
    std::vector<MQBYTE> counted = m;
    Set(m, 36 + 68 + 4, 70);
    std::vector<MQBYTE> tail(m.begin() + 36 + 68, m.end());
    m = Compressed(m);
    ASSERT_EQ(m.size(), 36u + 24u + tail.size());
    EXPECT_EQ(0, memcmp(m.data() + 60, tail.data(), tail.size()));

    Set(counted, 32, 1);
    counted = Compressed(counted);
    EXPECT_EQ(counted.size(), 36u + 24u + 2 * 68u);
    Set(counted, 32, -5);
    std::vector<MQBYTE> before = counted;
    counted = Compressed(counted);
    EXPECT_EQ(counted, before);
}

TEST_F(ConsolidateTest, HundredRepliesBecomeFewMessagesWithinTheLimit) {
    Settings.maxMsgSize = 65536;
    Forwarded(0x31);
    std::vector<std::vector<MQBYTE>> sent; /* each reply as compressed */
    for (int i = 0; i < 100; i++) {
        sent.push_back(Compressed(KiloReply(i, i == 99)));
        DeliverReply(Id(0x31).data(), KiloReply(i, i == 99));
        EXPECT_EQ(RequestCount.load(), i == 99 ? 0 : 1);
    }
    std::vector<PutRecord> puts = PutsTo("REQ.REPLY");
    ASSERT_GE(puts.size(), 2u);
    EXPECT_LE(puts.size(), 4u);

    /* Rebuild where each message must end: a message is sent whenever its
     * pending length plus the next reply's full length passes 65536. */
    size_t next = 0;
    for (size_t m = 0; m < puts.size(); m++) {
        const std::vector<MQBYTE> &msg = puts[m].data;
        EXPECT_EQ(0, memcmp(msg.data(), sent[next].data(), 16)) << "header of the first reply";
        size_t used = sent[next].size(), first = next;
        MQLONG count = Get(sent[next++], 32);
        for (; next < sent.size() && used + sent[next].size() <= 65536; next++) {
            used += sent[next].size() - 20;
            count += Get(sent[next], 32) + 1;
        }
        EXPECT_EQ(msg.size(), used) << "message " << m;
        EXPECT_EQ(Get(msg, 32), count);
        int separators = 0;
        for (const Parm &p : ReadParms(msg))
            if (p.parameter == CVL_ATTR_RESPONSE_DELIMITER) {
                separators++;
                EXPECT_EQ(p.type, MQCFT_INTEGER);
                EXPECT_EQ(p.value, MQCFT_RESPONSE);
            }
        EXPECT_EQ(separators, (int)(next - first - 1));
        /* Control and sequence number of the last reply merged in. */
        EXPECT_EQ(Get(msg, 20),
                  (next == sent.size() ? MQCFC_LAST : 0) | (next - first > 1 ? 0x10000 : 0));
        EXPECT_EQ(Get(msg, 16), (MQLONG)next);
        /* Replies passed on carry the command server's context. */
        EXPECT_EQ(puts[m].pmo.Options, MQPMO_NO_SYNCPOINT | MQPMO_PASS_ALL_CONTEXT);
        EXPECT_EQ(puts[m].pmo.Context, FakeReplyQ);
    }
    EXPECT_EQ(next, sent.size());
    EXPECT_EQ(StatValue(STAT_SINCE_START, STAT_REPLIES), 100);
    EXPECT_EQ(StatValue(STAT_SINCE_START, STAT_RESPONSES), (int32_t)puts.size());
}

/* With coalesce off each reply goes (compressed) when the next arrives;
 * with compress off the replies are merged with their blanks. */
TEST_F(ConsolidateTest, TheCompressAndCoalesceSwitches) {
    const std::vector<MQBYTE> r[] = {KiloReply(0), KiloReply(1), KiloReply(2, true)};
    const size_t putsAfter[2][3] = {{0, 1, 3}, {0, 0, 1}}; /* coalesce off; compress off */
    MQBYTE b = 0x33;
    for (int flag : {FLAG_COALESCE, FLAG_COMPRESS}) {
        SCOPED_TRACE(flag);
        ClearPuts();
        SetFlags(FLAG_COALESCE | FLAG_COMPRESS);
        ClearFlags(flag);
        Forwarded(b);
        for (int i = 0; i < 3; i++) {
            DeliverReply(Id(b).data(), r[i]);
            EXPECT_EQ(PutsTo("REQ.REPLY").size(), putsAfter[flag != FLAG_COALESCE][i]);
        }
        std::vector<PutRecord> puts = PutsTo("REQ.REPLY");
        if (flag == FLAG_COALESCE)
            for (size_t i = 0; i < puts.size(); i++)
                EXPECT_EQ(puts[i].data, Compressed(r[i]));
        else
            EXPECT_EQ(puts.back().data.size(), r[0].size() + r[1].size() + r[2].size() - 2 * 20);
        EXPECT_EQ(RequestCount.load(), 0);
        b++;
    }
}

/* The agent's parameters follow the queue manager's attributes once (on
 * z/OS not in the summary), coalescing or not; a failed inquiry gets none;
 * the features follow the keys. */
TEST_F(ConsolidateTest, InquireQueueManagerRepliesCarryTheAgentParameters) {
    const std::vector<MQBYTE> plain = Pcf(MQCMD_INQUIRE_Q_MGR)
                                          .Control(MQCFC_LAST)
                                          .Padded(MQCA_Q_MGR_NAME, "QM1", 48)
                                          .Int(MQIA_PLATFORM, MQPL_UNIX)
                                          .bytes();
    const std::vector<MQBYTE>
        zosItem =
            Pcf(MQCMD_INQUIRE_Q_MGR, MQCFT_XR_ITEM).Padded(MQCA_Q_MGR_NAME, "QM1", 48).bytes(),
        zosSummary = Pcf(MQCMD_INQUIRE_Q_MGR, MQCFT_XR_SUMMARY).Control(MQCFC_LAST).bytes(),
        failed = Pcf(MQCMD_INQUIRE_Q_MGR).Control(MQCFC_LAST).CompCode(MQCC_FAILED).bytes();
    MQBYTE b = 0x35;
    for (bool coalesce : {true, false}) {
        for (const std::vector<std::vector<MQBYTE>> &series :
             {std::vector<std::vector<MQBYTE>>{plain}, {zosItem, zosSummary}, {failed}}) {
            ClearPuts();
            coalesce ? SetFlags(FLAG_COALESCE) : ClearFlags(FLAG_COALESCE);
            Forwarded(b, "REQ.REPLY", MQCMD_INQUIRE_Q_MGR);
            for (const std::vector<MQBYTE> &r : series)
                DeliverReply(Id(b).data(), r);
            b++;
            std::vector<std::pair<MQLONG, MQLONG>> got, want; /* the separators left out */
            for (const PutRecord &put : PutsTo("REQ.REPLY"))
                for (const Parm &p : ReadParms(put.data))
                    if (p.parameter != CVL_ATTR_RESPONSE_DELIMITER)
                        got.emplace_back(p.parameter, p.value);
            if (series[0] != failed)
                want = {{MQCA_Q_MGR_NAME, 0},
                        {CVL_ATTR_TORVIK_CMDLEVEL, 940},
                        {CVL_ATTR_TORVIK_FEATURES, coalesce ? 30 : 28}};
            if (series[0] == plain)
                want.insert(want.begin() + 1, {MQIA_PLATFORM, MQPL_UNIX});
            EXPECT_EQ(got, want) << "coalesce " << coalesce;
        }
    }
    ClearFlags(FLAG_COALESCE | FLAG_CERTDISPLAY);
    Settings.certEvent.store(CERTEVENT_NO);
    EXPECT_EQ(AgentFeatureBits(), 4);
}

TEST_F(ConsolidateTest, AllocationFailuresLoseNoReplyAndLeakNothing) {
    /* A first request opens (and caches) the reply queue. */
    Forwarded(0x40);
    DeliverReply(Id(0x40).data(), KiloReply(0, true));
    ClearPuts();
    long baseline = CSMemBlocksInUse();
    Forwarded(0x3F);
    DeliverReply(Id(0x3F).data(), KiloReply(0));
    /* No memory to grow the pending message: it is sent, and the reply
     * that did not fit takes its place. */
    CSSetMemFailAfter(0);
    DeliverReply(Id(0x3F).data(), KiloReply(1));
    DeliverReply(Id(0x3F).data(), KiloReply(2, true));
    CSSetMemFailAfter(-1);
    EXPECT_NE(Log().find("CVLA201E Can not allocate 65536 bytes for a message! \n"),
              std::string::npos);
    std::vector<PutRecord> puts = PutsTo("REQ.REPLY");
    MQLONG parms = 0;
    for (const PutRecord &p : puts)
        for (const Parm &q : ReadParms(p.data))
            parms += q.parameter == CVL_ATTR_RESPONSE_DELIMITER ? 0 : 1;
    EXPECT_EQ(parms, 3 * 14);
    EXPECT_EQ(Get(puts.back().data, 20) & MQCFC_LAST, MQCFC_LAST);
    EXPECT_EQ(RequestCount.load(), 0);
    EXPECT_EQ(CSMemBlocksInUse(), baseline);
}

/* Random series of replies, some of them lying, against random limits:
 * no message sent is longer than the limit unless it is a single reply as
 * it came, and every parameter of every sound reply arrives exactly once,
 * in order. */
TEST_F(ConsolidateTest, RandomSeriesKeepTheLimitAndLoseNothing) {
    std::mt19937 rng(7);
    /* Parameters of a sound reply, in order (separators left out). */
    auto idsIfSound = [](const std::vector<MQBYTE> &m, std::vector<MQLONG> *ids) {
        size_t pos = 36;
        std::vector<MQLONG> found;
        for (MQLONG i = 0; i < Get(m, 32); i++) {
            MQLONG sl = Get(m, pos + 4);
            if (sl < 16 || pos + (size_t)sl > m.size())
                return;
            if (Get(m, pos + 8) != CVL_ATTR_RESPONSE_DELIMITER)
                found.push_back(Get(m, pos + 8));
            pos += (size_t)sl;
        }
        if (pos == m.size())
            ids->insert(ids->end(), found.begin(), found.end());
    };
    for (int round = 0; round < 300; round++) {
        SCOPED_TRACE(round);
        ClearPuts();
        Settings.maxMsgSize = 200 + (MQLONG)(rng() % 6000);
        MQBYTE b = (MQBYTE)(round % 250 + 1);
        Forwarded(b);
        int n = 1 + (int)(rng() % 30);
        std::vector<std::vector<MQBYTE>> delivered;
        for (int i = 0; i < n; i++) {
            Pcf p(MQCMD_INQUIRE_Q);
            p.Control(i == n - 1 ? MQCFC_LAST : MQCFC_NOT_LAST);
            int k = (int)(rng() % 20);
            for (int j = 0; j < k; j++) {
                if (rng() % 2)
                    p.Padded(1000 + j, std::string(rng() % 40, 'v'), 48);
                else
                    p.Int(2000 + j, (MQLONG)rng());
            }
            if (rng() % 10 == 0)
                p.CompCode(MQCC_FAILED);
            std::vector<MQBYTE> m = p.bytes();
            if (rng() % 8 == 0 &&
                m.size() > 40) /* the first StrucLength or the ParameterCount lies */
                Set(m, rng() % 2 ? 36 + 4 : 32, rng() % 2 ? 3 : 500);
            delivered.push_back(Compressed(m));
            DeliverReply(Id(b).data(), m);
        }
        EXPECT_EQ(RequestCount.load(), 0);
        std::vector<MQLONG> want, got;
        for (const std::vector<MQBYTE> &c : delivered)
            idsIfSound(c, &want);
        for (const PutRecord &p : PutsTo("REQ.REPLY")) {
            bool single = std::find(delivered.begin(), delivered.end(), p.data) != delivered.end();
            EXPECT_TRUE(p.data.size() <= (size_t)Settings.maxMsgSize || single)
                << "length " << p.data.size() << " limit " << Settings.maxMsgSize;
            idsIfSound(p.data, &got);
        }
        EXPECT_EQ(got, want);
    }
}

/* Replies that are not merged: an error reply (what is pending goes first),
 * and replies of one request in different formats (as a broken command
 * server may send them): z/OS text is joined, text is never joined to a
 * PCF message nor a PCF reply merged into text, each message goes out in
 * the format it came in, and a last reply of no known format (or a PCF
 * reply too short for its header) sends what is pending first. */
TEST_F(ConsolidateTest, ErrorRepliesAndRepliesOfMixedFormatsAreNotMerged) {
    auto text = [](const std::string &s) { return std::vector<MQBYTE>(s.begin(), s.end()); };
    auto pcf = [](MQLONG depth, bool last) { /* sound, no blanks to trim */
                                             return Pcf(MQCMD_INQUIRE_Q)
                                                 .Control(last ? MQCFC_LAST : MQCFC_NOT_LAST)
                                                 .Str(MQCA_Q_NAME, "APP.QUEUE.0001")
                                                 .Int(MQIA_CURRENT_Q_DEPTH, depth)
                                                 .bytes();
    };
    const std::string count = "CSQN205I   COUNT=       1, RETURN=00000000";
    const std::string done = "CSQ9022I !QM1 CSQMDRTS ' DISPLAY QUEUE' NORMAL COMPLETION";
    std::string joined = count + std::string(1, '\0') + done;
    joined[8] = '*';
    struct MSG {
        std::vector<MQBYTE> data; /* empty: two pcf() replies merged */
        const char *format;
    };
    const std::vector<MQBYTE> shortPcf(20, 0x01),
        error = Pcf(MQCMD_INQUIRE_Q).CompCode(MQCC_FAILED).Reason(MQRC_UNKNOWN_OBJECT_NAME).bytes();
    const struct CASE {
        std::vector<MSG> in, out;
    } cases[] = {
        {{{pcf(1, false), MQFMT_ADMIN},
          {pcf(2, false), MQFMT_ADMIN},
          {error, MQFMT_ADMIN},
          {pcf(3, false), MQFMT_ADMIN},
          {pcf(4, true), MQFMT_ADMIN}},
         {{{}, MQFMT_ADMIN}, {error, MQFMT_ADMIN}, {{}, MQFMT_ADMIN}}},
        {{{pcf(7, false), MQFMT_ADMIN},
          {text(count), MQFMT_COMMAND_1},
          {text(done), MQFMT_COMMAND_1}},
         {{pcf(7, false), MQFMT_ADMIN}, {text(joined), MQFMT_COMMAND_1}}},
        {{{text(count), MQFMT_COMMAND_2},
          {pcf(1, false), MQFMT_ADMIN},
          {pcf(2, true), MQFMT_ADMIN}},
         {{text(count), MQFMT_COMMAND_2}, {{}, MQFMT_ADMIN}}},
        {{{pcf(3, false), MQFMT_ADMIN}, {text("plain text"), MQFMT_STRING}},
         {{pcf(3, false), MQFMT_ADMIN}, {text("plain text"), MQFMT_STRING}}},
        {{{shortPcf, MQFMT_ADMIN}}, {{shortPcf, MQFMT_ADMIN}}},
    };
    MQBYTE b = 0x51;
    for (const CASE &c : cases) {
        SCOPED_TRACE(b);
        ClearPuts();
        Forwarded(b);
        for (const MSG &m : c.in)
            DeliverReply(Id(b).data(), m.data, m.format);
        b++;
        std::vector<PutRecord> puts = PutsTo("REQ.REPLY");
        ASSERT_EQ(puts.size(), c.out.size());
        for (size_t i = 0; i < puts.size(); i++) {
            EXPECT_EQ(std::string(puts[i].md.Format, 8), c.out[i].format) << i;
            if (!c.out[i].data.empty()) {
                EXPECT_EQ(puts[i].data, c.out[i].data) << i;
                continue;
            }
            std::vector<Parm> parms = ReadParms(puts[i].data);
            ASSERT_EQ(parms.size(), 5u) << "two replies merged, with their separator";
            EXPECT_EQ(parms[2].parameter, CVL_ATTR_RESPONSE_DELIMITER);
        }
        EXPECT_EQ(RequestCount.load(), 0);
    }
}
