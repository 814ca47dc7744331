/* cmdsrv_unit_test.cpp -- the command server's pure parts: checking PCF
 * commands, building replies, the attribute tables and the trigger message,
 * without a daemon. */
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cmdsrv_util.h"
#include "pcfcmd.h"
#include "queue_attrs.h"
#include "trigger.h"

namespace {

/* ParseCommand on cmd's bytes; the reason, with *bad the parameter. */
MQLONG Parse(const CmdBytes &cmd, MQLONG *bad = nullptr, CMDMSG *out = nullptr) {
    CMDMSG m;
    int cfhRead = 0;
    MQLONG b = 0;
    MQLONG rc = ParseCommand(cmd.b.data(), cmd.b.size(), out ? out : &m, &cfhRead, &b);
    if (bad)
        *bad = b;
    return rc;
}

TEST(CmdsrvParse, TakesAWellFormedCommandApartWithItsValues) {
    CmdBytes c(MQCMD_INQUIRE_Q);
    c.Str(MQCA_Q_NAME, "APP.*", 48).Int(MQIA_Q_TYPE, MQQT_LOCAL);
    c.IntList(MQIACF_Q_ATTRS, {MQCA_Q_DESC, MQIA_CURRENT_Q_DEPTH});
    CMDMSG m;
    ASSERT_EQ(Parse(c, nullptr, &m), 0);
    EXPECT_EQ(m.cfh.Command, MQCMD_INQUIRE_Q);
    ASSERT_EQ(m.parms.size(), 3u);
    EXPECT_EQ(ParmString(FindParm(&m, MQCA_Q_NAME)), "APP.*"); /* padding removed */
    EXPECT_EQ(FindParm(&m, MQIA_Q_TYPE)->value, MQQT_LOCAL);
    const CMDPARM *attrs = FindParm(&m, MQIACF_Q_ATTRS);
    ASSERT_EQ(attrs->count, 2);
    EXPECT_EQ(ParmListValue(attrs, 0), MQCA_Q_DESC);
    EXPECT_EQ(ParmListValue(attrs, 1), MQIA_CURRENT_Q_DEPTH);
    EXPECT_EQ(ParmListValue(attrs, 2), 0); /* past the end: nothing read */
}

TEST(CmdsrvParse, RefusesFaultyHeadersWithTheirReasons) {
    MQLONG bad;
    std::vector<MQBYTE> shortMsg(20, 0);
    CMDMSG m;
    int cfhRead = 1;
    EXPECT_EQ(ParseCommand(shortMsg.data(), shortMsg.size(), &m, &cfhRead, &bad),
              MQRCCF_MSG_LENGTH_ERROR);
    EXPECT_EQ(cfhRead, 0);

    CmdBytes c(MQCMD_PING_Q_MGR);
    c.SetLong(0, MQCFT_RESPONSE);
    EXPECT_EQ(Parse(c), MQRCCF_CFH_TYPE_ERROR);
    c = CmdBytes(MQCMD_PING_Q_MGR);
    c.SetLong(4, 40);
    EXPECT_EQ(Parse(c), MQRCCF_CFH_LENGTH_ERROR);
    c = CmdBytes(MQCMD_PING_Q_MGR);
    c.SetLong(8, 4);
    EXPECT_EQ(Parse(c), MQRCCF_CFH_VERSION_ERROR);
    /* an extended-response command needs version 3 */
    EXPECT_EQ(Parse(CmdBytes(MQCMD_PING_Q_MGR, MQCFT_COMMAND_XR, 2)), MQRCCF_CFH_VERSION_ERROR);
    EXPECT_EQ(Parse(CmdBytes(MQCMD_PING_Q_MGR, MQCFT_COMMAND_XR, 3)), 0);
    c = CmdBytes(MQCMD_PING_Q_MGR);
    c.SetLong(16, 0);
    EXPECT_EQ(Parse(c), MQRCCF_CFH_MSG_SEQ_NUMBER_ERR);
    c = CmdBytes(MQCMD_PING_Q_MGR);
    c.SetLong(20, 7);
    EXPECT_EQ(Parse(c), MQRCCF_CFH_CONTROL_ERROR);
    c = CmdBytes(MQCMD_PING_Q_MGR);
    c.SetLong(32, -1);
    EXPECT_EQ(Parse(c), MQRCCF_CFH_PARM_COUNT_ERROR);
}

TEST(CmdsrvParse, RefusesFaultyStructuresWithTheirReasonsAndParameter) {
    MQLONG bad = 0;
    /* more parameters counted than the message holds */
    CmdBytes c(MQCMD_INQUIRE_Q);
    c.Str(MQCA_Q_NAME, "*");
    c.SetLong(32, 2);
    EXPECT_EQ(Parse(c, &bad), MQRCCF_MSG_LENGTH_ERROR);
    /* bytes left over after the counted parameters */
    c = CmdBytes(MQCMD_INQUIRE_Q);
    c.Str(MQCA_Q_NAME, "*");
    c.Long(0);
    EXPECT_EQ(Parse(c), MQRCCF_MSG_LENGTH_ERROR);
    /* an unknown structure type */
    c = CmdBytes(MQCMD_INQUIRE_Q);
    c.Int(MQIA_Q_TYPE, 1);
    c.SetLong(36, 99);
    EXPECT_EQ(Parse(c), MQRCCF_STRUCTURE_TYPE_ERROR);
    /* MQCFIN of the wrong length */
    c = CmdBytes(MQCMD_INQUIRE_Q);
    c.Int(MQIA_Q_TYPE, 1);
    c.Long(0);
    c.SetLong(40, 20);
    EXPECT_EQ(Parse(c, &bad), MQRCCF_CFIN_LENGTH_ERROR);
    EXPECT_EQ(bad, MQIA_Q_TYPE);
    /* MQCFST shorter than its fixed part, and a string longer than it */
    c = CmdBytes(MQCMD_INQUIRE_Q);
    c.Str(MQCA_Q_NAME, "ABCD");
    c.SetLong(40, 16);
    EXPECT_EQ(Parse(c), MQRCCF_CFST_LENGTH_ERROR);
    c = CmdBytes(MQCMD_INQUIRE_Q);
    c.Str(MQCA_Q_NAME, "ABCD");
    c.SetLong(52, 5);
    EXPECT_EQ(Parse(c, &bad), MQRCCF_CFST_STRING_LENGTH_ERR);
    EXPECT_EQ(bad, MQCA_Q_NAME);
    c = CmdBytes(MQCMD_INQUIRE_Q);
    c.Str(MQCA_Q_NAME, "ABCD");
    c.SetLong(52, -1);
    EXPECT_EQ(Parse(c), MQRCCF_CFST_STRING_LENGTH_ERR);
    /* a structure that claims more bytes than are left */
    c = CmdBytes(MQCMD_INQUIRE_Q);
    c.Str(MQCA_Q_NAME, "ABCD");
    c.SetLong(40, 1 << 30);
    EXPECT_EQ(Parse(c), MQRCCF_MSG_LENGTH_ERROR);
    /* MQCFIL whose count does not match its length, or is negative */
    c = CmdBytes(MQCMD_INQUIRE_Q);
    c.IntList(MQIACF_Q_ATTRS, {1, 2});
    c.SetLong(48, 3);
    EXPECT_EQ(Parse(c), MQRCCF_CFIL_LENGTH_ERROR);
    c.SetLong(48, -1);
    EXPECT_EQ(Parse(c), MQRCCF_CFIL_COUNT_ERROR);
    /* a count so large that count * 4 overflows 32 bits */
    c.SetLong(48, 0x40000004);
    EXPECT_EQ(Parse(c), MQRCCF_CFIL_LENGTH_ERROR);
}

TEST(CmdsrvParse, WalksGroupsAndBoundsTheirDepth) {
    /* a group of two integers, then a top-level string */
    CmdBytes c(MQCMD_INQUIRE_Q);
    c.Long(MQCFT_GROUP);
    c.Long(16);
    c.Long(8000);
    c.Long(2);
    c.Counted();
    c.Int(1, 1).Int(2, 2);
    c.SetLong(32, 1);
    c.Str(MQCA_Q_NAME, "X");
    CMDMSG m;
    ASSERT_EQ(Parse(c, nullptr, &m), 0);
    ASSERT_EQ(m.parms.size(), 4u);
    EXPECT_EQ(m.parms[1].depth, 1);
    EXPECT_EQ(m.parms[3].depth, 0);
    EXPECT_EQ(ParmString(FindParm(&m, MQCA_Q_NAME)), "X");

    /* eleven nested groups are more than a command may carry */
    CmdBytes deep(MQCMD_INQUIRE_Q);
    for (int i = 0; i < PCF_MAX_GROUP_DEPTH + 1; i++) {
        deep.Long(MQCFT_GROUP);
        deep.Long(16);
        deep.Long(8000 + i);
        deep.Long(1);
    }
    deep.SetLong(32, 1);
    EXPECT_EQ(Parse(deep), MQRCCF_CFGR_PARM_COUNT_ERROR);
}

TEST(CmdsrvParse, CheckParmsRefusesWrongTypesUnknownIdsDuplicatesAndMissingOnes) {
    static const PARMRULE rules[] = {{MQCA_Q_NAME, MQCFT_STRING, 1},
                                     {MQIA_Q_TYPE, MQCFT_INTEGER, 0},
                                     {MQIACF_Q_ATTRS, MQCFT_INTEGER_LIST, 0}};
    auto check = [](const CmdBytes &c, MQLONG *bad) {
        CMDMSG m;
        int cfhRead;
        MQLONG b;
        EXPECT_EQ(ParseCommand(c.b.data(), c.b.size(), &m, &cfhRead, &b), 0);
        return CheckParms(&m, rules, 3, nullptr, bad);
    };
    MQLONG bad = 0;
    CmdBytes ok(MQCMD_INQUIRE_Q);
    ok.Str(MQCA_Q_NAME, "*").IntList(MQIACF_Q_ATTRS, {MQIACF_ALL});
    EXPECT_EQ(check(ok, &bad), 0);

    CmdBytes asInt(MQCMD_INQUIRE_Q);
    asInt.Int(MQCA_Q_NAME, 5);
    EXPECT_EQ(check(asInt, &bad), MQRCCF_CFIN_PARM_ID_ERROR);
    EXPECT_EQ(bad, MQCA_Q_NAME);

    CmdBytes unknown(MQCMD_INQUIRE_Q);
    unknown.Str(MQCA_Q_NAME, "*").Str(MQCA_Q_DESC, "x");
    EXPECT_EQ(check(unknown, &bad), MQRCCF_CFST_PARM_ID_ERROR);
    EXPECT_EQ(bad, MQCA_Q_DESC);

    CmdBytes dup(MQCMD_INQUIRE_Q);
    dup.Str(MQCA_Q_NAME, "*").Str(MQCA_Q_NAME, "A*");
    EXPECT_EQ(check(dup, &bad), MQRCCF_CFST_DUPLICATE_PARM);

    CmdBytes none(MQCMD_INQUIRE_Q);
    EXPECT_EQ(check(none, &bad), MQRCCF_PARM_COUNT_TOO_SMALL);

    CmdBytes missing(MQCMD_INQUIRE_Q);
    missing.Int(MQIA_Q_TYPE, MQQT_LOCAL);
    EXPECT_EQ(check(missing, &bad), MQRCCF_PARM_MISSING);
    EXPECT_EQ(bad, MQCA_Q_NAME);

    /* a filter only where the command allows one, and only one */
    CmdBytes filtered(MQCMD_INQUIRE_Q);
    filtered.Str(MQCA_Q_NAME, "*").IntFilter(MQIA_CURRENT_Q_DEPTH, MQCFOP_GREATER, 0);
    EXPECT_EQ(check(filtered, &bad), MQRCCF_CFIF_PARM_ID_ERROR);
    CMDMSG m;
    int cfhRead;
    MQLONG b;
    auto any = [](MQLONG, MQLONG) { return 1; };
    filtered.IntFilter(MQIA_MAX_Q_DEPTH, MQCFOP_LESS, 9);
    ASSERT_EQ(ParseCommand(filtered.b.data(), filtered.b.size(), &m, &cfhRead, &b), 0);
    EXPECT_EQ(CheckParms(&m, rules, 3, any, &bad), MQRCCF_TOO_MANY_FILTERS);
}

TEST(CmdsrvReply, BuildsPaddedStringsListsAndCountsParameters) {
    PCFREPLY r;
    ReplyBegin(&r, MQCFT_RESPONSE, MQCFH_VERSION_1, MQCMD_INQUIRE_Q, MQCC_OK, 0);
    ReplyAddString(&r, MQCA_Q_NAME, "APP.Q", 5, MQ_Q_NAME_LENGTH);
    ReplyAddString(&r, MQCACF_ESCAPE_TEXT, "abcde", 5, 0);
    ReplyAddInt(&r, MQIA_Q_TYPE, MQQT_LOCAL);
    const char *names[] = {"A", "BB"};
    ReplyAddStringList(&r, MQCACF_Q_NAMES, names, 2, MQ_Q_NAME_LENGTH);
    MQLONG v[] = {7, 8, 9};
    ReplyAddIntList(&r, MQIACF_Q_ATTRS, v, 3);
    MQBYTE bytes[] = {1, 2, 3};
    ReplyAddBytes(&r, MQBACF_RESPONSE_ID, bytes, 3);
    ReplySetSequence(&r, 4, MQCFC_NOT_LAST);

    std::string d((const char *)r.data.data(), r.data.size());
    PcfMsg m = DecodePcf(d);
    ASSERT_TRUE(m.ok);
    EXPECT_EQ(m.h.ParameterCount, 6);
    EXPECT_EQ(m.h.MsgSeqNumber, 4);
    EXPECT_EQ(m.h.Control, MQCFC_NOT_LAST);
    EXPECT_EQ(m.Find(MQCA_Q_NAME)->str, Padded("APP.Q", 48));
    EXPECT_EQ(m.Find(MQCA_Q_NAME)->strucLength, 68);
    /* an unpadded string of 5 bytes takes 28 (20 + 5, rounded up to 4) */
    EXPECT_EQ(m.Find(MQCACF_ESCAPE_TEXT)->str, "abcde");
    EXPECT_EQ(m.Find(MQCACF_ESCAPE_TEXT)->strucLength, 28);
    EXPECT_EQ(m.Find(MQIA_Q_TYPE)->value, MQQT_LOCAL);
    ASSERT_EQ(m.Find(MQCACF_Q_NAMES)->strs.size(), 2u);
    EXPECT_EQ(m.Find(MQCACF_Q_NAMES)->strs[1], Padded("BB", 48));
    EXPECT_EQ(m.Find(MQIACF_Q_ATTRS)->ints, (std::vector<MQLONG>{7, 8, 9}));
    EXPECT_EQ(m.Find(MQBACF_RESPONSE_ID)->str, std::string("\1\2\3", 3));
    EXPECT_EQ(m.Find(MQBACF_RESPONSE_ID)->strucLength, 20);
    /* a text longer than its field is cut to it */
    ReplyBegin(&r, MQCFT_RESPONSE, MQCFH_VERSION_1, MQCMD_INQUIRE_Q, MQCC_OK, 0);
    ReplyAddString(&r, MQCA_Q_NAME, std::string(60, 'X').c_str(), 60, MQ_Q_NAME_LENGTH);
    m = DecodePcf(std::string((const char *)r.data.data(), r.data.size()));
    ASSERT_TRUE(m.ok);
    EXPECT_EQ(m.parms.size(), 1u);
    EXPECT_EQ(m.Find(MQCA_Q_NAME)->str, std::string(48, 'X'));
}

TEST(CmdsrvAttrs, ALocalQueueHasFifteenStringsAndFortySixIntegers) {
    int strings = 0, ints = 0;
    size_t bytes = MQCFH_STRUC_LENGTH;
    QATTRS a;
    memset(&a, 0, sizeof a);
    a.qType = MQQT_LOCAL;
    for (size_t i = 0; i < QueueAttrCount; i++) {
        const ATTRDEF *d = &QueueAttrDefs[i];
        MQLONG v;
        const char *s = nullptr;
        if (!QueueAttrValue(&a, d, &v, &s))
            continue;
        if (d->length > 0) {
            strings++;
            bytes += MQCFST_STRUC_LENGTH_FIXED + ((d->length + 3) & ~3);
            ASSERT_NE(s, nullptr);
        } else {
            ints++;
            bytes += MQCFIN_STRUC_LENGTH;
        }
    }
    EXPECT_EQ(strings, 15);
    EXPECT_EQ(ints, 46);
    EXPECT_EQ(bytes, 1752u);
    /* the live and defining fields come from the record */
    a.curDepth = 12;
    a.maxDepth = 77;
    snprintf(a.descr, sizeof a.descr, "d");
    MQLONG v = 0;
    EXPECT_TRUE(QueueAttrInt(&a, MQIA_CURRENT_Q_DEPTH, &v));
    EXPECT_EQ(v, 12);
    EXPECT_TRUE(QueueAttrInt(&a, MQIA_MAX_Q_DEPTH, &v));
    EXPECT_EQ(v, 77);
    EXPECT_STREQ(QueueAttrString(&a, MQCA_Q_DESC), "d");
    /* a string selector is not an integer, and the reverse */
    EXPECT_FALSE(QueueAttrInt(&a, MQCA_Q_DESC, &v));
    EXPECT_EQ(QueueAttrString(&a, MQIA_MAX_Q_DEPTH), nullptr);
    /* remote and model queues lack what only a local queue has */
    a.qType = MQQT_REMOTE;
    EXPECT_FALSE(QueueAttrInt(&a, MQIA_CURRENT_Q_DEPTH, &v));
    EXPECT_NE(QueueAttrString(&a, MQCA_REMOTE_Q_NAME), nullptr);
    a.qType = MQQT_MODEL;
    EXPECT_FALSE(QueueAttrInt(&a, MQIA_OPEN_INPUT_COUNT, &v));
    EXPECT_EQ(QueueAttrString(&a, MQCA_REMOTE_Q_NAME), nullptr);
    EXPECT_TRUE(QueueAttrInt(&a, MQIA_DEFINITION_TYPE, &v));
}

TEST(CmdsrvTrigger, TheTriggerMessageHasThePublishedLayoutBlankPadded) {
    QATTRS q;
    memset(&q, 0, sizeof q);
    snprintf(q.name, sizeof q.name, "APP.TRIG");
    snprintf(q.triggerData, sizeof q.triggerData, "-v High");
    PROCESS p;
    memset(&p, 0, sizeof p);
    snprintf(p.name, sizeof p.name, "TORVIK.PROC");
    p.applType = MQAT_UNIX;
    snprintf(p.applId, sizeof p.applId, "/opt/torvik/bin/torvik");
    snprintf(p.envData, sizeof p.envData, "ENV=1");
    snprintf(p.userData, sizeof p.userData, "-m QM1");
    MQTMC2 tmc;
    BuildTriggerMessage(&q, &p, "QM1", &tmc);
    std::string s((const char *)&tmc, sizeof tmc);
    ASSERT_EQ(s.size(), 732u);
    EXPECT_EQ(s.find('\0'), std::string::npos);
    EXPECT_EQ(s.substr(0, 4), "TMC ");
    EXPECT_EQ(s.substr(4, 4), "   2");
    EXPECT_EQ(s.substr(8, 48), Padded("APP.TRIG", 48));
    EXPECT_EQ(s.substr(56, 48), Padded("TORVIK.PROC", 48));
    EXPECT_EQ(s.substr(104, 64), Padded("-v High", 64));
    EXPECT_EQ(s.substr(168, 4), "   6");
    EXPECT_EQ(s.substr(172, 256), Padded("/opt/torvik/bin/torvik", 256));
    EXPECT_EQ(s.substr(428, 128), Padded("ENV=1", 128));
    EXPECT_EQ(s.substr(556, 128), Padded("-m QM1", 128));
    EXPECT_EQ(s.substr(684, 48), Padded("QM1", 48));
}

} /* namespace */
