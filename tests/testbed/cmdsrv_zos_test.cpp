/* cmdsrv_zos_test.cpp -- the command server of a queue manager started
 * with --platform zos: MQSC text on SYSTEM.COMMAND.INPUT answered with
 * "MQCMD1  " lines (CSQN205I first, CSQ9022I or CSQ9023E last), PCF
 * commands answered with MQCFT_XR_ITEM replies and an MQCFT_XR_SUMMARY. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cmdsrv_util.h"
#include "support/process.h"

namespace {

const char *const ZosQueue = "SYSTEM.COMMAND.INPUT";

class CmdsrvZos : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(qm.Start("QMZ", {"--platform", "zos", "--queues", "3"}), "");
        ASSERT_EQ(client.Open("QMZ"), "");
    }
    std::vector<Reply> Text(const std::string &command) {
        EXPECT_EQ(client.Send(ZosQueue, command, nullptr, MQFMT_STRING), 0);
        return client.Collect();
    }
    MqsimQueueManager qm;
    CmdClient client;
};

TEST_F(CmdsrvZos, TextCommandsGetOneLinePerItemBetweenACountAndACompletionLine) {
    std::vector<Reply> r = Text("DISPLAY QLOCAL(APP.*) CURDEPTH");
    /* count line, three queues, completion */
    ASSERT_EQ(r.size(), 5u);
    for (const Reply &x : r) {
        EXPECT_EQ(x.Format(), MQFMT_COMMAND_1);
        EXPECT_EQ(x.md.MsgType, MQMT_REPLY);
        EXPECT_EQ(x.data.find('\n'), std::string::npos) << x.data;
    }
    EXPECT_EQ(r[0].data, "CSQN205I   COUNT=       5, RETURN=00000000, REASON=00000000");
    for (int i = 1; i <= 3; i++) {
        char want[64];
        snprintf(want, sizeof want, "QUEUE(APP.QUEUE.%04d)", i);
        EXPECT_EQ(r[i].data.compare(0, 13, "CSQM401I !QMZ"), 0) << r[i].data;
        EXPECT_NE(r[i].data.find(want), std::string::npos) << r[i].data;
        EXPECT_NE(r[i].data.find("CURDEPTH(0)"), std::string::npos) << r[i].data;
    }
    EXPECT_EQ(r[4].data, "CSQ9022I !QMZ CSQMDRTS ' DISPLAY QLOCAL' NORMAL COMPLETION");

    /* a command that fails ends with CSQ9023E */
    r = Text("delete qlocal(NO.SUCH.Q)");
    ASSERT_GE(r.size(), 2u);
    EXPECT_EQ(r[0].data.compare(0, 32, "CSQN205I   COUNT=       3, RETUR"), 0) << r[0].data;
    EXPECT_EQ(r.back().data, "CSQ9023E !QMZ CSQMMSGP ' DELETE QLOCAL' ABNORMAL COMPLETION");

    /* a definition through the text interface takes effect */
    r = Text("DEFINE QLOCAL(ZOS.NEW)\n");
    ASSERT_GE(r.size(), 2u);
    EXPECT_EQ(r.back().data.compare(0, 8, "CSQ9022I"), 0) << r.back().data;
    EXPECT_EQ(client.Depth("ZOS.NEW"), 0);
}

TEST_F(CmdsrvZos, PcfCommandsGetItemsAndASummaryEitherHeaderType) {
    for (MQLONG type : {MQCFT_COMMAND, MQCFT_COMMAND_XR}) {
        SCOPED_TRACE(type);
        tvtest::Pcf c = Cmd(MQCMD_INQUIRE_Q_MGR, type, type == MQCFT_COMMAND_XR ? 3 : 1);
        c.IntList(MQIACF_Q_MGR_ATTRS, {MQCA_SSL_KEY_REPOSITORY, MQCA_CERT_LABEL, MQIA_SSL_EVENT});
        std::vector<Reply> r = client.Exchange(c, ZosQueue);
        ASSERT_EQ(r.size(), 2u);
        PcfMsg item = r[0].Pcf(), summary = r[1].Pcf();
        EXPECT_EQ(item.h.Type, MQCFT_XR_ITEM);
        EXPECT_EQ(item.h.Control, MQCFC_NOT_LAST);
        EXPECT_EQ(item.h.MsgSeqNumber, 1);
        EXPECT_EQ(item.Find(MQIA_PLATFORM), nullptr); /* only what was asked for */
        EXPECT_NE(item.Find(MQIA_SSL_EVENT), nullptr);
        EXPECT_EQ(summary.h.Type, MQCFT_XR_SUMMARY);
        EXPECT_EQ(summary.h.Control, MQCFC_LAST);
        EXPECT_EQ(summary.h.MsgSeqNumber, 2);
        EXPECT_EQ(summary.h.CompCode, MQCC_OK);
        /* both carry the same reply-set identifier */
        ASSERT_NE(item.Find(MQBACF_RESPONSE_ID), nullptr);
        EXPECT_EQ(item.Find(MQBACF_RESPONSE_ID)->text.size(), 24u);
        EXPECT_EQ(item.Find(MQBACF_RESPONSE_ID)->text, summary.Find(MQBACF_RESPONSE_ID)->text);
        EXPECT_EQ(summary.Find(MQCACF_RESPONSE_Q_MGR_NAME)->text, Padded("QMZ", 48));
    }

    /* one item per queue, then the summary */
    tvtest::Pcf q = Cmd(MQCMD_INQUIRE_Q, MQCFT_COMMAND_XR, 3);
    q.Str(MQCA_Q_NAME, "APP.*");
    std::vector<Reply> r = client.Exchange(q, ZosQueue);
    ASSERT_EQ(r.size(), 4u);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(r[i].Pcf().h.Type, MQCFT_XR_ITEM);
        EXPECT_EQ(r[i].Pcf().h.Control, MQCFC_NOT_LAST);
    }
    EXPECT_EQ(r[3].Pcf().h.Type, MQCFT_XR_SUMMARY);

    /* errors: the summary alone carries them */
    tvtest::Pcf none = Cmd(MQCMD_INQUIRE_Q, MQCFT_COMMAND_XR, 3);
    none.Str(MQCA_Q_NAME, "NONE.*");
    PcfMsg s = OnlyReply(client.Exchange(none, ZosQueue));
    EXPECT_EQ(s.h.Type, MQCFT_XR_SUMMARY);
    EXPECT_EQ(s.h.CompCode, MQCC_FAILED);
    EXPECT_EQ(s.h.Reason, MQRC_UNKNOWN_OBJECT_NAME);
    s = OnlyReply(client.Exchange(Cmd(MQCMD_PING_Q_MGR, MQCFT_COMMAND_XR, 1), ZosQueue));
    EXPECT_EQ(s.h.Type, MQCFT_XR_SUMMARY);
    EXPECT_EQ(s.h.Reason, MQRCCF_CFH_VERSION_ERROR);
    /* a z/OS command may carry a command scope */
    tvtest::Pcf scoped = Cmd(MQCMD_PING_Q_MGR, MQCFT_COMMAND_XR, 3);
    scoped.Str(MQCACF_COMMAND_SCOPE, "");
    s = OnlyReply(client.Exchange(scoped, ZosQueue));
    EXPECT_EQ(s.h.CompCode, MQCC_OK);
}

TEST_F(CmdsrvZos, TheDistributedCommandQueueIsNotServed) {
    ASSERT_EQ(client.Send("SYSTEM.ADMIN.COMMAND.QUEUE", Bytes(Cmd(MQCMD_PING_Q_MGR))), 0);
    /* the z/OS queue is, and a command put after ours there is answered */
    EXPECT_EQ(OnlyReply(client.Exchange(Cmd(MQCMD_PING_Q_MGR), ZosQueue)).h.Type, MQCFT_XR_SUMMARY);
    EXPECT_EQ(client.Depth("SYSTEM.ADMIN.COMMAND.QUEUE"), 1);
}

} /* namespace */
