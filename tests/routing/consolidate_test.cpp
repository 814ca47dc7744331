/* consolidate_test.cpp -- the reply consumer and consolidation: merging,
 * size limits, error replies, agent information, z/OS text, unknown
 * replies, allocation failures and untrusted replies. */
#include <random>

#include "routing_fixture.h"
#include "support/files.h"

using namespace rtest;

namespace {

class ConsolidateTest : public RoutingTest {};

/* An INQUIRE_Q reply of about 1 KB (compressing to a little less). */
std::vector<MQBYTE> KiloReply(int i, bool last = false) {
    char name[64];
    snprintf(name, sizeof name, "APP.QUEUE.%04d", i);
    Pcf p(MQCMD_INQUIRE_Q);
    p.Seq(i + 1).Control(last ? MQCFC_LAST : MQCFC_NOT_LAST);
    p.Padded(MQCA_Q_NAME, name, 48);
    for (int k = 0; k < 12; k++)
        p.Padded(MQCA_Q_DESC, std::string(58, 'd') + std::to_string(k), 64);
    p.Int(MQIA_CURRENT_Q_DEPTH, i);
    return p.bytes();
}

}  // namespace

TEST_F(ConsolidateTest, HundredRepliesBecomeFewMessagesWithinTheLimit) {
    Settings.maxMsgSize = 65536;
    Forwarded(0x31);
    std::vector<std::vector<MQBYTE>> sent; /* each reply as compressed */
    for (int i = 0; i < 100; i++) {
        std::vector<MQBYTE> r = KiloReply(i, i == 99);
        std::vector<MQBYTE> c = r;
        c.resize((size_t)CompressReply(c.data(), (MQLONG)c.size()));
        sent.push_back(c);
        DeliverReply(Id(0x31).data(), r);
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
        EXPECT_LE(msg.size(), 65536u);
        EXPECT_EQ(0, memcmp(msg.data(), sent[next].data(), 16)) << "header of the first reply";
        size_t used = sent[next].size();
        MQLONG expectedCount = Get(sent[next], 32);
        size_t first = next++;
        while (next < sent.size() && used + sent[next].size() <= 65536) {
            used += sent[next].size() - 20;
            expectedCount += Get(sent[next], 32) + 1;
            next++;
        }
        EXPECT_EQ(msg.size(), used) << "message " << m;
        EXPECT_EQ(Get(msg, 32), expectedCount);
        std::vector<Parm> parms = ReadParms(msg);
        int separators = 0;
        for (const Parm &p : parms)
            if (p.parameter == CVL_ATTR_RESPONSE_DELIMITER) {
                separators++;
                EXPECT_EQ(p.type, MQCFT_INTEGER);
                EXPECT_EQ(p.value, MQCFT_RESPONSE);
            }
        EXPECT_EQ(separators, (int)(next - first - 1));
        /* Control and sequence number of the last reply merged in. */
        MQLONG control = Get(msg, 20);
        EXPECT_EQ(control & MQCFC_LAST, next == sent.size() ? 1 : 0);
        if (next - first > 1) {
            EXPECT_EQ(control & 0x10000, 0x10000);
        }
        EXPECT_EQ(Get(msg, 16), (MQLONG)next);
        /* Replies passed on carry the command server's context. */
        EXPECT_EQ(puts[m].pmo.Options, MQPMO_NO_SYNCPOINT | MQPMO_PASS_ALL_CONTEXT);
        EXPECT_EQ(puts[m].pmo.Context, FakeReplyQ);
    }
    EXPECT_EQ(next, sent.size());

    EXPECT_EQ(StatValue(STAT_SINCE_START, STAT_REPLIES), 100);
    EXPECT_EQ(StatValue(STAT_SINCE_START, STAT_RESPONSES), (int32_t)puts.size());
}

TEST_F(ConsolidateTest, ErrorReplyInTheMiddleIsNeverMerged) {
    Forwarded(0x32);
    DeliverReply(Id(0x32).data(), KiloReply(0));
    DeliverReply(Id(0x32).data(), KiloReply(1));
    std::vector<MQBYTE> error =
        Pcf(MQCMD_INQUIRE_Q).CompCode(MQCC_FAILED).Reason(MQRC_UNKNOWN_OBJECT_NAME).bytes();
    DeliverReply(Id(0x32).data(), error);
    EXPECT_EQ(PutsTo("REQ.REPLY").size(), 1u) << "the pending message goes first";
    DeliverReply(Id(0x32).data(), KiloReply(3));
    DeliverReply(Id(0x32).data(), KiloReply(4, true));

    std::vector<PutRecord> puts = PutsTo("REQ.REPLY");
    ASSERT_EQ(puts.size(), 3u);
    EXPECT_EQ(Get(puts[0].data, 32), 14 + 1 + 14);
    EXPECT_EQ(puts[1].data, error);
    EXPECT_EQ(Get(puts[2].data, 32), 14 + 1 + 14);
    EXPECT_EQ(Get(puts[2].data, 20), MQCFC_LAST | 0x10000);
}

TEST_F(ConsolidateTest, WithCoalesceOffEachReplyIsSentWhenTheNextArrives) {
    ClearFlags(FLAG_COALESCE);
    Forwarded(0x33);
    std::vector<std::vector<MQBYTE>> replies = {KiloReply(0), KiloReply(1), KiloReply(2, true)};
    DeliverReply(Id(0x33).data(), replies[0]);
    EXPECT_EQ(PutsTo("REQ.REPLY").size(), 0u);
    DeliverReply(Id(0x33).data(), replies[1]);
    EXPECT_EQ(PutsTo("REQ.REPLY").size(), 1u);
    DeliverReply(Id(0x33).data(), replies[2]);
    std::vector<PutRecord> puts = PutsTo("REQ.REPLY");
    ASSERT_EQ(puts.size(), 3u);
    for (size_t i = 0; i < 3; i++) {
        std::vector<MQBYTE> c = replies[i];
        c.resize((size_t)CompressReply(c.data(), (MQLONG)c.size()));
        EXPECT_EQ(puts[i].data, c);
    }
    EXPECT_EQ(RequestCount.load(), 0);
}

TEST_F(ConsolidateTest, WithCompressOffRepliesKeepTheirBlanks) {
    ClearFlags(FLAG_COMPRESS);
    Forwarded(0x34);
    std::vector<MQBYTE> r = KiloReply(0, true);
    DeliverReply(Id(0x34).data(), r);
    std::vector<PutRecord> puts = PutsTo("REQ.REPLY");
    ASSERT_EQ(puts.size(), 1u);
    EXPECT_EQ(puts[0].data, r);
}

TEST_F(ConsolidateTest, InquireQueueManagerRepliesCarryTheAgentParameters) {
    Forwarded(0x35, "REQ.REPLY", MQCMD_INQUIRE_Q_MGR);
    std::vector<MQBYTE> r = Pcf(MQCMD_INQUIRE_Q_MGR)
                                .Control(MQCFC_LAST)
                                .Padded(MQCA_Q_MGR_NAME, "QM1", 48)
                                .Int(MQIA_PLATFORM, MQPL_UNIX)
                                .bytes();
    DeliverReply(Id(0x35).data(), r);
    std::vector<PutRecord> puts = PutsTo("REQ.REPLY");
    ASSERT_EQ(puts.size(), 1u);
    std::vector<Parm> p = ReadParms(puts[0].data);
    ASSERT_EQ(p.size(), 4u);
    EXPECT_EQ(p[0].text, "QM1");
    EXPECT_EQ(p[2].parameter, CVL_ATTR_TORVIK_CMDLEVEL);
    EXPECT_EQ(p[2].value, 940);
    EXPECT_EQ(p[3].parameter, CVL_ATTR_TORVIK_FEATURES);
    EXPECT_EQ(p[3].value, 30);

    /* Features follow the keys; a failed inquiry gets no agent parameters. */
    ClearFlags(FLAG_COALESCE | FLAG_CERTDISPLAY);
    Settings.certEvent.store(CERTEVENT_NO);
    EXPECT_EQ(AgentFeatureBits(), 4);
    Forwarded(0x36, "REQ.REPLY", MQCMD_INQUIRE_Q_MGR);
    DeliverReply(Id(0x36).data(), Pcf(MQCMD_INQUIRE_Q_MGR).Control(MQCFC_LAST).bytes());
    Forwarded(0x37, "REQ.REPLY", MQCMD_INQUIRE_Q_MGR);
    std::vector<MQBYTE> failed =
        Pcf(MQCMD_INQUIRE_Q_MGR).Control(MQCFC_LAST).CompCode(MQCC_FAILED).Reason(2035).bytes();
    DeliverReply(Id(0x37).data(), failed);
    puts = PutsTo("REQ.REPLY");
    ASSERT_EQ(puts.size(), 3u);
    p = ReadParms(puts[1].data);
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[1].value, 4);
    EXPECT_EQ(puts[2].data, failed);
}

TEST_F(ConsolidateTest, ZosInquireQueueManagerGetsTheAgentParametersOnce) {
    /* z/OS answers with an item reply holding the attributes and a summary. */
    for (bool coalesce : {true, false}) {
        if (coalesce)
            SetFlags(FLAG_COALESCE);
        else
            ClearFlags(FLAG_COALESCE);
        MQBYTE b = coalesce ? 0x3A : 0x3B;
        const char *replyQ = coalesce ? "REQ.REPLY.C" : "REQ.REPLY.S";
        Forwarded(b, replyQ, MQCMD_INQUIRE_Q_MGR);
        DeliverReply(Id(b).data(), Pcf(MQCMD_INQUIRE_Q_MGR, MQCFT_XR_ITEM)
                                       .Control(MQCFC_NOT_LAST)
                                       .Padded(MQCA_Q_MGR_NAME, "QM1", 48)
                                       .bytes());
        DeliverReply(Id(b).data(),
                     Pcf(MQCMD_INQUIRE_Q_MGR, MQCFT_XR_SUMMARY).Control(MQCFC_LAST).bytes());
        int cmdLevels = 0;
        for (const PutRecord &put : PutsTo(replyQ)) {
            std::vector<Parm> parms = ReadParms(put.data);
            for (size_t i = 0; i < parms.size(); i++) {
                if (parms[i].parameter != CVL_ATTR_TORVIK_CMDLEVEL)
                    continue;
                cmdLevels++;
                /* Right after the queue manager's attributes. */
                ASSERT_GE(i, 1u);
                EXPECT_EQ(parms[i - 1].parameter, MQCA_Q_MGR_NAME);
            }
        }
        EXPECT_EQ(cmdLevels, 1) << "coalesce " << coalesce;
    }
}

TEST_F(ConsolidateTest, MediumDetailSummarisesEachCompletedRequest) {
    Settings.verbosity = VERBOSITY_MEDIUM;
    Forwarded(0x41);
    std::vector<MQBYTE> r0 = KiloReply(0), r1 = KiloReply(1), r2 = KiloReply(2, true);
    DeliverReply(Id(0x41).data(), r0);
    DeliverReply(Id(0x41).data(), r1);
    EXPECT_EQ(Log().find("CVLA404I"), std::string::npos) << "only once complete";
    DeliverReply(Id(0x41).data(), r2);
    EXPECT_NE(Log().find("CVLA404I Received 3 reply messages of total length " +
                         std::to_string(r0.size() + r1.size() + r2.size()) + " bytes\n"),
              std::string::npos)
        << Log();
    Forwarded(0x42);
    DeliverReply(Id(0x42).data(), r2);
    EXPECT_NE(Log().find("CVLA403I Received reply message of length " + std::to_string(r2.size()) +
                         " bytes\n"),
              std::string::npos);

    /* Only at exactly Medium: neither at High (which shows every reply as
     * it comes) nor at Low. */
    for (int v : {VERBOSITY_LOW, VERBOSITY_HIGH}) {
        Settings.verbosity = v;
        size_t before = tvtest::CountOf(Log(), "CVLA404I");
        Forwarded(0x43);
        DeliverReply(Id(0x43).data(), r0);
        DeliverReply(Id(0x43).data(), r2);
        EXPECT_EQ((size_t)tvtest::CountOf(Log(), "CVLA404I"), before);
    }
}

TEST_F(ConsolidateTest, UnknownReplyIsReportedAndCountsNothing) {
    Forwarded(0x39);
    std::vector<MQBYTE> id(MQ_MSG_ID_LENGTH);
    for (size_t i = 0; i < id.size(); i++)
        id[i] = (MQBYTE)(0xA0 + i);
    DeliverReply(id.data(), KiloReply(0, true));
    EXPECT_NE(Log().find("CVLA302E Unrecognised reply received MsgId: "
                         "A0A1A2A3A4A5A6A7A8A9AAABACADAEAFB0B1B2B3B4B5B6B7\n"),
              std::string::npos);
    for (int c = 0; c < STAT_COUNT; c++)
        EXPECT_EQ(StatValue(STAT_SINCE_START, c), 0);
    EXPECT_EQ(Puts().size(), 0u);
    EXPECT_EQ(RequestCount.load(), 1);
}

TEST_F(ConsolidateTest, ShortPcfReplyIsPassedOnAndCompletes) {
    Forwarded(0x3B);
    std::vector<MQBYTE> shortPcf(20, 0x01);
    DeliverReply(Id(0x3B).data(), shortPcf);
    std::vector<PutRecord> puts = PutsTo("REQ.REPLY");
    ASSERT_EQ(puts.size(), 1u);
    EXPECT_EQ(puts[0].data, shortPcf);
    EXPECT_EQ(RequestCount.load(), 0);
}

TEST_F(ConsolidateTest, RepliesOfInternalRequestsGoToTheirHandler) {
    static std::vector<std::vector<MQBYTE>> handled;
    handled.clear();
    REQUEST *req = NewRequest(MQCMD_INQUIRE_Q_MGR);
    ASSERT_NE(req, nullptr);
    req->replyHandler = [](REQUEST *r, MQBYTE *msg, MQLONG length) {
        handled.emplace_back(msg, msg + length);
        EXPECT_EQ(r->busy, 1);
    };
    MQBYTE id[MQ_MSG_ID_LENGTH];
    memset(id, 0x3E, sizeof id);
    AddRequest(req, id);
    std::vector<MQBYTE> r = KiloReply(0, true);
    DeliverReply(id, r);
    ASSERT_EQ(handled.size(), 1u);
    EXPECT_EQ(handled[0], r) << "uncompressed, as it came";
    EXPECT_EQ(Puts().size(), 0u);
    EXPECT_EQ(RequestCount.load(), 1) << "the handler owns the request";
    EXPECT_EQ(req->replyCount, 1);
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
            bool error = rng() % 10 == 0;
            if (error)
                p.CompCode(MQCC_FAILED);
            std::vector<MQBYTE> m = p.bytes();
            bool lie = rng() % 8 == 0 && m.size() > 40;
            if (lie) /* the first StrucLength or the ParameterCount lies */
                Set(m, rng() % 2 ? 36 + 4 : 32, rng() % 2 ? 3 : 500);
            std::vector<MQBYTE> c = m;
            c.resize((size_t)CompressReply(c.data(), (MQLONG)c.size()));
            delivered.push_back(c);
            DeliverReply(std::vector<MQBYTE>(MQ_MSG_ID_LENGTH, b).data(), m);
        }
        EXPECT_EQ(RequestCount.load(), 0);
        std::vector<PutRecord> puts = PutsTo("REQ.REPLY");
        /* Parameters of the sound replies, in order (separators left out). */
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
        std::vector<MQLONG> want, got;
        for (const std::vector<MQBYTE> &c : delivered)
            idsIfSound(c, &want);
        for (const PutRecord &p : puts) {
            bool single = false;
            for (const std::vector<MQBYTE> &c : delivered)
                single = single || p.data == c;
            EXPECT_TRUE(p.data.size() <= (size_t)Settings.maxMsgSize || single)
                << "length " << p.data.size() << " limit " << Settings.maxMsgSize;
            idsIfSound(p.data, &got);
        }
        EXPECT_EQ(got, want);
    }
}

/* Replies of one request in different formats (as a broken command server
 * may send them): text is never joined to a PCF message nor a PCF reply
 * merged into text, each message goes out in the format it came in, and a
 * last reply of no known format sends what is pending first. */
TEST_F(ConsolidateTest, RepliesOfMixedFormatsGoOutInTheFormatTheyCameIn) {
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
        std::vector<MQBYTE> data; /* empty: pcf(1) and pcf(2) merged */
        const char *format;
    };
    const struct CASE {
        std::vector<MSG> in, out;
    } cases[] = {
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

/* The reply consumer's one walk (compress, check, merge) sends exactly what
 * CompressReply followed by ConsolidateReply (which checks and merges on
 * its own) sends, for sound replies and for each kind of reply compression
 * or merging must stop at. */
TEST_F(ConsolidateTest, OneWalkSendsWhatCompressThenConsolidateSends) {
    auto good = [](int i) {
        return Pcf(MQCMD_INQUIRE_Q).Padded(MQCA_Q_NAME, "Q" + std::to_string(i), 48).Int(1, i);
    };
    std::vector<MQBYTE> longHeader = good(1).bytes();
    Set(longHeader, 4, 40); /* header length not 36 */
    const std::vector<MQBYTE> thirds[] = {
        good(1).Padded(3, "", 64).StrList(4, {"a", "b"}, 48).bytes(),
        good(1) /* a group: not compressed past it */
            .Raw({20, 0, 0, 0, 16, 0, 0, 0, 5, 0, 0, 0, 1, 0, 0, 0})
            .Padded(2, "member", 40)
            .Count(3)
            .bytes(),
        good(1).Int64(5, 7).Padded(2, "after", 40).bytes(),
        good(1).Raw({0, 0, 0, 0}).bytes(), /* bytes after the last structure */
        longHeader,
        good(1).CompCode(MQCC_FAILED).bytes(),
    };
    Settings.maxMsgSize = 4096;
    MQBYTE b = 0x50;
    for (const std::vector<MQBYTE> &third : thirds) {
        const std::vector<MQBYTE> series[] = {good(0).bytes(), good(1).bytes(), third,
                                              good(3).Control(MQCFC_LAST).bytes()};
        std::vector<PutRecord> sent[2]; /* through the consumer; in two steps */
        int notCompressed[2];
        for (int way = 0; way < 2; way++, b++) {
            SCOPED_TRACE(b);
            ClearPuts();
            REQUEST *req = Forwarded(b);
            const int before = tvtest::CountOf(Log(), "CVLA301E");
            for (std::vector<MQBYTE> r : series) {
                MQMD md = AdminMd();
                if (way == 0)
                    DeliverReply(Id(b).data(), r);
                else if (ConsolidateReply(req, &md, r.data(),
                                          CompressReply(r.data(), (MQLONG)r.size()), 1, nullptr))
                    RemoveRequest(req);
            }
            sent[way] = PutsTo("REQ.REPLY");
            notCompressed[way] = tvtest::CountOf(Log(), "CVLA301E") - before;
        }
        ASSERT_EQ(sent[0].size(), sent[1].size());
        for (size_t i = 0; i < sent[0].size(); i++)
            EXPECT_EQ(sent[0][i].data, sent[1][i].data) << "message " << i;
        EXPECT_EQ(notCompressed[0], notCompressed[1]);
    }
    EXPECT_EQ(RequestCount.load(), 0);
}
