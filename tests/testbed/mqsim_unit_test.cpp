/* mqsim_unit_test.cpp -- the daemon's parts without a daemon: the frame
 * reader's refusals and its memory bound, the MQSC engine's commands.
 * (Scripts: mqsim_cli_test.) */
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "admin.h"
#include "support/process.h"
#include "qmgr.h"
#include "wire.h"

namespace {

/* Send bytes on a fresh loopback connection, end it, and read one frame on
 * the other side; *cap gets the size the reader's buffer grew to. */
int RecvAfterSending(const std::string &bytes, WIREHDR *h, size_t *cap = nullptr) {
    PLSOCKET l, a, b;
    int port;
    if (PLListenLoopback(0, &l, &port) != 0 || PLConnectTcp("127.0.0.1", port, 5000, &a) != 0 ||
        PLAcceptSocket(l, &b) != 0)
        return -1;
    PLSendAll(a, bytes.data(), bytes.size());
    PLShutdownSend(a);
    WIREIN in = {};
    const uint8_t *payload;
    int rc = WireNextFrame(b, &in, h, &payload);
    if (cap)
        *cap = in.cap;
    WireInFree(&in);
    PLCloseSocket(a);
    PLCloseSocket(b);
    PLCloseSocket(l);
    return rc;
}

TEST(MqsimWire, FramesWithBadHeadersOrCutShortAreRefused) {
    WBUF w = {};
    WireBegin(&w, WIRE_T_OPEN, 42);
    WirePutI32(&w, 1);
    WireEnd(&w);
    std::string good((const char *)w.data, w.len);
    WireFree(&w);
    WIREHDR h;
    ASSERT_EQ(RecvAfterSending(good, &h), 0);
    EXPECT_EQ(std::vector<uint32_t>({h.type, h.tag, h.length}),
              std::vector<uint32_t>({WIRE_T_OPEN, 42, 4}));
    EXPECT_EQ(RecvAfterSending("", &h), WIRE_CLOSED);
    /* a wrong magic, a later version, a length past the limit, cut short */
    auto spoilt = [&](size_t at, const std::string &bytes) {
        return std::string(good).replace(at, bytes.size(), bytes);
    };
    for (const std::string &bad :
         {spoilt(0, "X"), spoilt(4, std::string(1, (char)(WIRE_VERSION + 1))),
          spoilt(12, "\xff\xff\xff\x7f"), good.substr(0, good.size() - 1), good.substr(0, 9)})
        EXPECT_EQ(RecvAfterSending(bad, &h), WIRE_BAD_FRAME);
    /* a 50 MB frame that never comes: the buffer grows with the bytes that
     * arrive, not with the declared length */
    std::string sent = good.substr(0, WIRE_HEADER_SIZE);
    uint32_t declared = 50u * 1048576u;
    sent.replace(12, 4, (const char *)&declared, 4);
    sent.append(200000, 'x');
    size_t cap = 0;
    EXPECT_EQ(RecvAfterSending(sent, &h, &cap), WIRE_BAD_FRAME);
    EXPECT_LE(cap, 2 * sent.size());
}

class MqsimEngine : public ::testing::Test {
protected:
    void SetUp() override {
        QMGROPTIONS o;
        memset(&o, 0, sizeof o);
        snprintf(o.name, sizeof o.name, "QME");
        o.platform = MQPL_UNIX;
        qm = NewQmgr(&o);
        ASSERT_NE(qm, nullptr);
    }
    void TearDown() override { FreeQmgr(qm); }
    QMGR *qm = nullptr;
};

/* Each row: a command, its result (FAILED: any failure) and a text its
 * response holds. A failing command changes nothing. */
TEST_F(MqsimEngine, CommandsAnswerAndAFailingOneChangesNothing) {
    const MQLONG FAILED = -1;
    std::vector<std::string> out;
    ASSERT_EQ(RunMqscCommand(qm, "DEFINE QLOCAL(R.Q)", &out), 0);
    MQMD md = MQMD_DEFAULT;
    ASSERT_EQ(PutMessage(qm, "R.Q", "", &md, 0, (const MQBYTE *)"hello", 5), 0);
    const struct {
        const char *command;
        MQLONG rc;
        const char *says;
    } rows[] = {
        {"def ql(lower.case) descr('It''s (mixed) Case')", 0, "AMQ8006I"},
        {"DISPLAY QLOCAL(LOWER.CASE) DESCR", 0, "DESCR(It's (mixed) Case)"},
        {"DEFINE QLOCAL('Quoted.Name')", 0, ""},
        {"DISPLAY QLOCAL('Quoted.Name')", 0, "QUEUE(Quoted.Name)"},
        {"DEFINE QLOCAL(BAD NAME WITH BLANKS)", FAILED, ""},
        {"DEFINE QLOCAL(A) DESCR(x", FAILED, ""},
        {"DEFINE TOPIC(T)", FAILED, ""},
        {"DEFINE QLOCAL(D) "
         "DESCR('12345678901234567890123456789012345678901234567890123456789012345')",
         FAILED, ""},
        {"DEFINE QLOCAL(X) MAXDEPTH(5) NOSUCHATTR(1)", MQRCCF_COMMAND_FAILED, ""},
        {"DISPLAY QLOCAL(X)", FAILED, "not found"},
        {"DEFINE QLOCAL(X) MAXDEPTH(5)", 0, ""},
        {"ALTER QLOCAL(X) MAXDEPTH(9) MAXMSGL(-3)", FAILED, ""},
        {"DISPLAY QLOCAL(X) MAXDEPTH", 0, "MAXDEPTH(5)"},
        {"ALTER QMGR SSLKEYR('/a') SSLEV(MAYBE)", FAILED, ""},
        {"DISPLAY QMGR SSLKEYR", 0, "SSLKEYR()"},
        {"DEFINE QLOCAL(R.Q) MAXDEPTH(10) REPLACE", 0, ""},
        {"DISPLAY QLOCAL(R.Q) CURDEPTH MAXDEPTH", 0, "CURDEPTH(1)"},
        {"DISPLAY QLOCAL(R.Q) MAXDEPTH", 0, "MAXDEPTH(10)"},
        {"DELETE QLOCAL(R.Q)", MQRC_Q_NOT_EMPTY, ""},
        {"CLEAR QLOCAL(R.Q)", 0, ""},
        {"DELETE QLOCAL(R.Q)", 0, ""},
        {"DISPLAY QLOCAL(R.Q)", FAILED, "not found"},
    };
    for (const auto &row : rows) {
        out.clear();
        MQLONG rc = RunMqscCommand(qm, row.command, &out);
        std::string text;
        for (auto &l : out)
            text += l + "\n";
        EXPECT_TRUE(row.rc == FAILED ? rc != 0 : rc == row.rc) << row.command << ": " << rc;
        EXPECT_NE(text.find(row.says), std::string::npos) << row.command << "\n" << text;
    }
}

}  // namespace
