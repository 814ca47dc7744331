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
    MqsimQueueManager qm;
    CmdClient client;
};

TEST_F(CmdsrvZos, TextCommandsGetOneLinePerItemBetweenACountAndACompletionLine) {
    auto text = [&](const std::string &command) {
        EXPECT_EQ(client.Send(ZosQueue, command, nullptr, MQFMT_STRING), 0);
        std::vector<std::string> lines;
        for (const Reply &r : client.Collect()) {
            EXPECT_EQ(r.Format(), MQFMT_COMMAND_1);
            EXPECT_EQ(r.md.MsgType, MQMT_REPLY);
            EXPECT_EQ(r.data.find('\n'), std::string::npos) << r.data;
            lines.push_back(r.data);
        }
        return lines;
    };
    std::vector<std::string> r = text("DISPLAY QLOCAL(APP.*) CURDEPTH");
    ASSERT_EQ(r.size(), 5u);
    EXPECT_EQ(r[0], "CSQN205I   COUNT=       5, RETURN=00000000, REASON=00000000");
    for (int i = 1; i <= 3; i++)
        EXPECT_EQ(
            r[i].substr(0, 13) + "|" + r[i].substr(r[i].find("QUEUE(")),
            "CSQM401I !QMZ|QUEUE(APP.QUEUE.000" + std::to_string(i) + ") TYPE(QLOCAL) CURDEPTH(0)");
    EXPECT_EQ(r[4], "CSQ9022I !QMZ CSQMDRTS ' DISPLAY QLOCAL' NORMAL COMPLETION");
    /* a command that fails ends with CSQ9023E */
    r = text("delete qlocal(NO.SUCH.Q)");
    ASSERT_GE(r.size(), 2u);
    EXPECT_EQ(r[0].substr(0, 26), "CSQN205I   COUNT=       3,");
    EXPECT_EQ(r.back(), "CSQ9023E !QMZ CSQMMSGP ' DELETE QLOCAL' ABNORMAL COMPLETION");
    /* a definition through the text interface takes effect */
    EXPECT_EQ(text("DEFINE QLOCAL(ZOS.NEW)\n").back().substr(0, 8), "CSQ9022I");
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
        EXPECT_EQ(std::vector<MQLONG>({item.h.Type, item.h.Control, item.h.MsgSeqNumber}),
                  std::vector<MQLONG>({MQCFT_XR_ITEM, MQCFC_NOT_LAST, 1}));
        EXPECT_EQ(item.Find(MQIA_PLATFORM), nullptr); /* only what was asked for */
        EXPECT_NE(item.Find(MQIA_SSL_EVENT), nullptr);
        EXPECT_EQ(std::vector<MQLONG>({summary.h.Type, summary.h.Control, summary.h.MsgSeqNumber,
                                       summary.h.CompCode}),
                  std::vector<MQLONG>({MQCFT_XR_SUMMARY, MQCFC_LAST, 2, MQCC_OK}));
        /* both carry the same reply-set identifier */
        EXPECT_EQ(item.Text(MQBACF_RESPONSE_ID).size(), 24u);
        EXPECT_EQ(item.Text(MQBACF_RESPONSE_ID), summary.Text(MQBACF_RESPONSE_ID));
        EXPECT_EQ(summary.Text(MQCACF_RESPONSE_Q_MGR_NAME), Padded("QMZ", 48));
    }
    /* one item per queue, then the summary */
    std::vector<Reply> r = client.Exchange(
        Cmd(MQCMD_INQUIRE_Q, MQCFT_COMMAND_XR, 3).Str(MQCA_Q_NAME, "APP.*"), ZosQueue);
    std::vector<MQLONG> types;
    for (const Reply &x : r)
        types.push_back(x.Pcf().h.Type);
    EXPECT_EQ(types,
              (std::vector<MQLONG>{MQCFT_XR_ITEM, MQCFT_XR_ITEM, MQCFT_XR_ITEM, MQCFT_XR_SUMMARY}));
    /* errors: the summary alone carries them */
    PcfMsg s = OnlyReply(client.Exchange(
        Cmd(MQCMD_INQUIRE_Q, MQCFT_COMMAND_XR, 3).Str(MQCA_Q_NAME, "NONE.*"), ZosQueue));
    EXPECT_EQ(s.h.Type, MQCFT_XR_SUMMARY);
    EXPECT_EQ(s.h.Reason, MQRC_UNKNOWN_OBJECT_NAME);
    s = OnlyReply(client.Exchange(Cmd(MQCMD_PING_Q_MGR, MQCFT_COMMAND_XR, 1), ZosQueue));
    EXPECT_EQ(s.h.Type, MQCFT_XR_SUMMARY);
    EXPECT_EQ(s.h.Reason, MQRCCF_CFH_VERSION_ERROR);
    /* a z/OS command may carry a command scope */
    s = OnlyReply(client.Exchange(
        Cmd(MQCMD_PING_Q_MGR, MQCFT_COMMAND_XR, 3).Str(MQCACF_COMMAND_SCOPE, ""), ZosQueue));
    EXPECT_EQ(s.h.CompCode, MQCC_OK);
    /* the distributed command queue is not served */
    ASSERT_EQ(client.Send("SYSTEM.ADMIN.COMMAND.QUEUE", Bytes(Cmd(MQCMD_PING_Q_MGR))), 0);
    EXPECT_EQ(OnlyReply(client.Exchange(Cmd(MQCMD_PING_Q_MGR), ZosQueue)).h.Type, MQCFT_XR_SUMMARY);
    EXPECT_EQ(client.Depth("SYSTEM.ADMIN.COMMAND.QUEUE"), 1);
}

} /* namespace */
