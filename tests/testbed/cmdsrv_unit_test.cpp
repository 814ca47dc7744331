/* cmdsrv_unit_test.cpp -- the command server's pure parts: checking PCF
 * commands, building replies and the trigger message, without a daemon.
 * Well-formed commands and their replies are the end-to-end suite's. */
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "pcfcmd.h"
#include "support/pcf_builder.h"
#include "trigger.h"

namespace {

/* A command: header of type and version, Control MQCFC_LAST. */
tvtest::Pcf Cmd(MQLONG command, MQLONG type = MQCFT_COMMAND, MQLONG version = 1) {
    return tvtest::Pcf(command, type).Control(MQCFC_LAST).Version(version);
}
std::string Padded(const std::string &s, size_t n) {
    return s + std::string(n - s.size(), ' ');
}

/* ParseCommand on a command's bytes; the reason, with *bad the parameter.
 * *out points into c, which must outlive it. */
MQLONG Parse(const std::vector<MQBYTE> &c, MQLONG *bad = nullptr, CMDMSG *out = nullptr) {
    CMDMSG m;
    int cfhRead = 0;
    MQLONG b = 0;
    MQLONG rc = ParseCommand(c.data(), c.size(), out ? out : &m, &cfhRead, &b);
    if (bad)
        *bad = b;
    return rc;
}

/* Each row: a command with one field (at offset, from 0) set to a lie, or
 * cut to a length, and the reason with the parameter named. */
TEST(CmdsrvParse, RefusesFaultyMessagesWithTheirReasonsAndParameter) {
    const tvtest::Pcf ping = Cmd(MQCMD_PING_Q_MGR);
    const tvtest::Pcf str = Cmd(MQCMD_INQUIRE_Q).Str(MQCA_Q_NAME, "ABCD");
    const tvtest::Pcf in = Cmd(MQCMD_INQUIRE_Q).Int(MQIA_Q_TYPE, 1);
    const tvtest::Pcf list = Cmd(MQCMD_INQUIRE_Q).IntList(MQIACF_Q_ATTRS, {1, 2});
    const struct {
        const char *what;
        const tvtest::Pcf &cmd;
        size_t at;
        MQLONG value;
        MQLONG reason, parm;
    } rows[] = {
        {"not a command", ping, 0, MQCFT_RESPONSE, MQRCCF_CFH_TYPE_ERROR, 0},
        {"header length", ping, 4, 40, MQRCCF_CFH_LENGTH_ERROR, 0},
        {"header version", ping, 8, 4, MQRCCF_CFH_VERSION_ERROR, 0},
        {"sequence number", ping, 16, 0, MQRCCF_CFH_MSG_SEQ_NUMBER_ERR, 0},
        {"control", ping, 20, 7, MQRCCF_CFH_CONTROL_ERROR, 0},
        {"negative count", ping, 32, -1, MQRCCF_CFH_PARM_COUNT_ERROR, 0},
        {"more counted than there", str, 32, 2, MQRCCF_MSG_LENGTH_ERROR, 0},
        {"structure type", in, 36, 99, MQRCCF_STRUCTURE_TYPE_ERROR, 0},
        {"MQCFIN length", in, 40, 12, MQRCCF_CFIN_LENGTH_ERROR, MQIA_Q_TYPE},
        {"MQCFST below its fixed part", str, 40, 16, MQRCCF_CFST_LENGTH_ERROR, 0},
        {"StringLength past the structure", str, 52, 5, MQRCCF_CFST_STRING_LENGTH_ERR, MQCA_Q_NAME},
        {"negative StringLength", str, 52, -1, MQRCCF_CFST_STRING_LENGTH_ERR, 0},
        {"StrucLength past the message", str, 40, 1 << 30, MQRCCF_MSG_LENGTH_ERROR, 0},
        {"MQCFIL Count against its length", list, 48, 3, MQRCCF_CFIL_LENGTH_ERROR, 0},
        {"negative MQCFIL Count", list, 48, -1, MQRCCF_CFIL_COUNT_ERROR, 0},
        {"MQCFIL Count * 4 overflowing", list, 48, 0x40000004, MQRCCF_CFIL_LENGTH_ERROR, 0},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.what);
        std::vector<MQBYTE> b = r.cmd.bytes();
        tvtest::Set(b, r.at, r.value);
        MQLONG bad = 0;
        EXPECT_EQ(Parse(b, &bad), r.reason);
        if (r.parm != 0) {
            EXPECT_EQ(bad, r.parm);
        }
    }
    /* shorter than a header; bytes after the last parameter; version 2 XR */
    std::vector<MQBYTE> b(20, 0);
    EXPECT_EQ(Parse(b), MQRCCF_MSG_LENGTH_ERROR);
    b = str.bytes();
    b.insert(b.end(), 4, 0);
    EXPECT_EQ(Parse(b), MQRCCF_MSG_LENGTH_ERROR);
    EXPECT_EQ(Parse(Cmd(MQCMD_PING_Q_MGR, MQCFT_COMMAND_XR, 2).bytes()), MQRCCF_CFH_VERSION_ERROR);
}

TEST(CmdsrvParse, WalksGroupsAndBoundsTheirDepthAndLists) {
    /* a group of two integers, then a top-level string and a list */
    tvtest::Pcf c = Cmd(MQCMD_INQUIRE_Q);
    c.Group(8000, 2).Int(1, 1).Int(2, 2).Padded(MQCA_Q_NAME, "X", 48).IntList(9, {5}).Count(3);
    CMDMSG m;
    const std::vector<MQBYTE> bytes = c.bytes(); /* m points into it */
    ASSERT_EQ(Parse(bytes, nullptr, &m), 0);
    ASSERT_EQ(m.parms.size(), 5u);
    EXPECT_EQ(m.parms[1].depth, 1);
    EXPECT_EQ(m.parms[3].depth, 0);
    EXPECT_EQ(ParmString(FindParm(&m, MQCA_Q_NAME)), "X"); /* padding removed */
    EXPECT_EQ(ParmListValue(FindParm(&m, 9), 0), 5);
    EXPECT_EQ(ParmListValue(FindParm(&m, 9), 1), 0); /* past the end: nothing read */

    /* eleven nested groups are more than a command may carry */
    tvtest::Pcf deep = Cmd(MQCMD_INQUIRE_Q);
    for (int i = 0; i < PCF_MAX_GROUP_DEPTH + 1; i++)
        deep.Group(8000 + i, 1);
    EXPECT_EQ(Parse(deep.Count(1).bytes()), MQRCCF_CFGR_PARM_COUNT_ERROR);
}

/* The replies' padding and lists are the end-to-end suite's; here a text
 * longer than its field. */
TEST(CmdsrvReply, ATextLongerThanItsFieldIsCutToIt) {
    PCFREPLY r;
    ReplyBegin(&r, MQCFT_RESPONSE, MQCFH_VERSION_1, MQCMD_INQUIRE_Q, MQCC_OK, 0);
    ReplyAddString(&r, MQCA_Q_NAME, std::string(60, 'X').c_str(), 60, MQ_Q_NAME_LENGTH);
    EXPECT_EQ(r.data, tvtest::Pcf(MQCMD_INQUIRE_Q)
                          .Control(MQCFC_LAST)
                          .Str(MQCA_Q_NAME, std::string(48, 'X'))
                          .bytes());
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
    EXPECT_EQ(std::string((const char *)&tmc, sizeof tmc),
              "TMC    2" + Padded("APP.TRIG", 48) + Padded("TORVIK.PROC", 48) +
                  Padded("-v High", 64) + "   6" + Padded("/opt/torvik/bin/torvik", 256) +
                  Padded("ENV=1", 128) + Padded("-m QM1", 128) + Padded("QM1", 48));
}

} /* namespace */
