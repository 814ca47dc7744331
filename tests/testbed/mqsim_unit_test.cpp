/* mqsim_unit_test.cpp -- the daemon's parts without a daemon: frames and
 * their bounds, the MQSC engine, the internal API the command server uses,
 * faults. */
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "admin.h"
#include "support/process.h"
#include "qmgr.h"
#include "wire.h"

namespace {

QMGROPTIONS Options(const char *name) {
    QMGROPTIONS o;
    memset(&o, 0, sizeof o);
    snprintf(o.name, sizeof o.name, "%s", name);
    o.platform = MQPL_UNIX;
    return o;
}

TEST(MqsimWire, ReadingPastTheEndMarksThePayloadBad) {
    WBUF w = {};
    WireBegin(&w, WIRE_T_PUT, 7);
    WirePutI32(&w, -5);
    WirePutBlob(&w, "abc", 3);
    WirePutString(&w, "name");
    WireEnd(&w);
    ASSERT_FALSE(w.failed);
    RBUF r;
    WireReadInit(&r, w.data + WIRE_HEADER_SIZE, w.len - WIRE_HEADER_SIZE);
    EXPECT_EQ(WireGetI32(&r), -5);
    const uint8_t *p;
    uint32_t n;
    WireGetBlob(&r, &p, &n);
    EXPECT_EQ(std::string((const char *)p, n), "abc");
    char s[8];
    WireGetString(&r, s, sizeof s);
    EXPECT_STREQ(s, "name");
    EXPECT_TRUE(WireReadComplete(&r));
    EXPECT_EQ(WireGetU32(&r), 0u);
    EXPECT_TRUE(r.bad);

    /* a blob longer than what is left, a string too long or with a NUL */
    uint8_t lie[8] = {0xff, 0xff, 0xff, 0x7f, 'a', 'b', 'c', 'd'};
    WireReadInit(&r, lie, sizeof lie);
    WireGetBlob(&r, &p, &n);
    EXPECT_TRUE(r.bad);
    EXPECT_EQ(p, nullptr);
    uint8_t longer[9] = {5, 0, 0, 0, 'a', 'b', 'c', 'd', 'e'};
    WireReadInit(&r, longer, sizeof longer);
    char small[4];
    WireGetString(&r, small, sizeof small);
    EXPECT_TRUE(r.bad);
    EXPECT_STREQ(small, "");
    uint8_t nul[7] = {3, 0, 0, 0, 'a', 0, 'c'};
    WireReadInit(&r, nul, sizeof nul);
    WireGetString(&r, s, sizeof s);
    EXPECT_TRUE(r.bad);
    /* trailing bytes are not a complete read */
    uint8_t extra[5] = {1, 0, 0, 0, 9};
    WireReadInit(&r, extra, sizeof extra);
    WireGetI32(&r);
    EXPECT_FALSE(WireReadComplete(&r));
    char field[10];
    WireSetField(field, sizeof field, "QM1");
    EXPECT_EQ(std::string(field, 10), "QM1       ");
    char out[11];
    WireGetField(out, field, sizeof field);
    EXPECT_STREQ(out, "QM1");
    WireFree(&w);
}

/* Send bytes on a fresh loopback connection, end it, and read one frame on
 * the other side with read (WireRecvFrame unless given). */
int RecvAfterSending(const std::string &bytes, WIREHDR *h,
                     std::function<int(PLSOCKET, WIREHDR *)> read = nullptr) {
    PLSOCKET l, a, b;
    int port;
    if (PLListenLoopback(0, &l, &port) != 0 || PLConnectTcp("127.0.0.1", port, 5000, &a) != 0 ||
        PLAcceptSocket(l, &b) != 0)
        return -1;
    PLSendAll(a, bytes.data(), bytes.size());
    PLShutdownSend(a);
    uint8_t *buf = nullptr;
    size_t cap = 0;
    int rc = read ? read(b, h) : WireRecvFrame(b, h, &buf, &cap);
    free(buf);
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
    EXPECT_EQ(h.type, WIRE_T_OPEN);
    EXPECT_EQ(h.tag, 42u);
    EXPECT_EQ(h.length, 4u);
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
    WIREIN in = {};
    EXPECT_EQ(RecvAfterSending(sent, &h,
                               [&](PLSOCKET b, WIREHDR *hdr) {
                                   const uint8_t *payload;
                                   return WireNextFrame(b, &in, hdr, &payload);
                               }),
              WIRE_BAD_FRAME);
    EXPECT_LE(in.cap, 2 * sent.size());
    WireInFree(&in);
}

class MqsimEngine : public ::testing::Test {
protected:
    void SetUp() override {
        QMGROPTIONS o = Options("QME");
        qm = NewQmgr(&o);
        ASSERT_NE(qm, nullptr);
    }
    void TearDown() override { FreeQmgr(qm); }
    MQLONG Mqsc(const std::string &text) {
        out.clear();
        return RunMqscCommand(qm, text.c_str(), &out);
    }
    std::string Output() const {
        std::string s;
        for (auto &l : out)
            s += l + "\n";
        return s;
    }
    QMGR *qm = nullptr;
    std::vector<std::string> out;
};

TEST_F(MqsimEngine, QuotesKeepCaseAndUnquotedWordsAreFolded) {
    ASSERT_EQ(Mqsc("def ql(lower.case) descr('It''s (mixed) Case')"), 0) << Output();
    QATTRS a;
    ASSERT_EQ(GetQueueAttrs(qm, "LOWER.CASE", &a), 0);
    EXPECT_STREQ(a.descr, "It's (mixed) Case");
    ASSERT_EQ(Mqsc("DEFINE QLOCAL('Quoted.Name')"), 0) << Output();
    EXPECT_EQ(GetQueueAttrs(qm, "Quoted.Name", &a), 0);
    EXPECT_NE(Mqsc("DEFINE QLOCAL(BAD NAME WITH BLANKS)"), 0);
    EXPECT_NE(Mqsc("DEFINE QLOCAL(A) DESCR(x"), 0);
    EXPECT_NE(Mqsc("DEFINE"), 0);
    EXPECT_NE(Mqsc("DEFINE TOPIC(T)"), 0);
    EXPECT_NE(Mqsc("START QMGR"), 0);
    EXPECT_EQ(Mqsc(""), 0) << "an empty command is nothing";
    std::string tooLong(65, 'x');
    EXPECT_NE(Mqsc("DEFINE QLOCAL(D) DESCR('" + tooLong + "')"), 0);
}

TEST_F(MqsimEngine, AFailingCommandChangesNothing) {
    EXPECT_EQ(Mqsc("DEFINE QLOCAL(X) MAXDEPTH(5) NOSUCHATTR(1)"), MQRCCF_COMMAND_FAILED);
    QATTRS a;
    EXPECT_EQ(GetQueueAttrs(qm, "X", &a), MQRC_UNKNOWN_OBJECT_NAME);
    ASSERT_EQ(Mqsc("DEFINE QLOCAL(X) MAXDEPTH(5)"), 0);
    EXPECT_NE(Mqsc("ALTER QLOCAL(X) MAXDEPTH(9) MAXMSGL(-3)"), 0);
    ASSERT_EQ(GetQueueAttrs(qm, "X", &a), 0);
    EXPECT_EQ(a.maxDepth, 5);
    EXPECT_NE(Mqsc("ALTER QMGR SSLKEYR('/a') SSLEV(MAYBE)"), 0);
    QMGRATTRS m;
    GetQmgrAttrs(qm, &m);
    EXPECT_STREQ(m.sslKeyRepository, "");
}

TEST_F(MqsimEngine, ReplaceKeepsTheMessagesAndDeleteNeedsAnEmptyQueue) {
    ASSERT_EQ(Mqsc("DEFINE QLOCAL(R.Q)"), 0);
    MQMD md = MQMD_DEFAULT;
    ASSERT_EQ(PutMessage(qm, "R.Q", "", &md, 0, (const MQBYTE *)"hello", 5), 0);
    EXPECT_EQ(memcmp(md.MsgId, "AMQ QME", 7), 0);
    ASSERT_EQ(Mqsc("DEFINE QLOCAL(R.Q) MAXDEPTH(10) REPLACE"), 0) << Output();
    QATTRS a;
    ASSERT_EQ(GetQueueAttrs(qm, "R.Q", &a), 0);
    EXPECT_EQ(a.curDepth, 1);
    EXPECT_EQ(a.maxDepth, 10);
    EXPECT_EQ(Mqsc("DELETE QLOCAL(R.Q)"), MQRC_Q_NOT_EMPTY);
    ASSERT_EQ(Mqsc("CLEAR QLOCAL(R.Q)"), 0) << Output();
    ASSERT_EQ(GetQueueAttrs(qm, "R.Q", &a), 0);
    EXPECT_EQ(a.curDepth, 0);
    ASSERT_EQ(PutMessage(qm, "R.Q", "", &md, 0, (const MQBYTE *)"again", 5), 0);
    EXPECT_EQ(Mqsc("DELETE QLOCAL(R.Q) PURGE"), 0) << Output();
    EXPECT_EQ(GetQueueAttrs(qm, "R.Q", &a), MQRC_UNKNOWN_OBJECT_NAME);
    EXPECT_EQ(Mqsc("DELETE QMODEL(SYSTEM.DEFAULT.LOCAL.QUEUE)"), MQRC_UNKNOWN_OBJECT_NAME)
        << "the type must match";
}

TEST_F(MqsimEngine, ScriptsCountCommandsAndFailures) {
    std::vector<std::string> lines;
    int failed = -1;
    const char *script =
        "* comment\n"
        "  * indented comment\n"
        "DEFINE QLOCAL(S.ONE) -\n"
        "   DESCR('continued')\r\n"
        "DEFINE QLOCAL(S.TWO) +\n"
        "   MAXDEPTH(4)\n"
        "DEFINE QLOCAL(S.ONE)\n"
        "DISPLAY QLOCAL(S.*) MAXDEPTH\n";
    EXPECT_EQ(RunMqscScript(qm, script, &lines, &failed), MQRCCF_COMMAND_FAILED);
    EXPECT_EQ(failed, 1) << "S.ONE exists already";
    std::string all;
    for (auto &l : lines)
        all += l + "\n";
    EXPECT_NE(all.find("4 MQSC commands read."), std::string::npos) << all;
    EXPECT_NE(all.find("No commands have a syntax error."), std::string::npos) << all;
    EXPECT_NE(all.find("MAXDEPTH(4)"), std::string::npos) << all;
    QATTRS a;
    ASSERT_EQ(GetQueueAttrs(qm, "S.ONE", &a), 0);
    EXPECT_STREQ(a.descr, "continued");
    /* a script ending inside a continued command fails */
    EXPECT_NE(RunMqscScript(qm, "DEFINE QLOCAL(S.THREE) +\n", &lines, &failed), 0);
    EXPECT_EQ(GetQueueAttrs(qm, "S.THREE", &a), MQRC_UNKNOWN_OBJECT_NAME);
}

TEST_F(MqsimEngine, InternalGetsWaitAndCanBeInterrupted) {
    ASSERT_EQ(Mqsc("DEFINE QLOCAL(W.Q)"), 0);
    MQMD md = MQMD_DEFAULT;
    MQBYTE *data = nullptr;
    MQLONG len = 0;
    EXPECT_EQ(GetMessageWait(qm, "W.Q", 50, &md, &data, &len), MQRC_NO_MSG_AVAILABLE);
    EXPECT_EQ(GetMessageWait(qm, "NO.Q", 0, &md, &data, &len), MQRC_UNKNOWN_OBJECT_NAME);
    /* (a put ending the wait is every command the command server takes;)
     * a cancel flag set before InterruptGets ends the wait, and no wait
     * begins once it is set */
    std::atomic<int> cancel{0};
    std::atomic<MQLONG> rc{-1};
    std::thread getter([&] {
        MQMD m = MQMD_DEFAULT;
        MQBYTE *d = nullptr;
        MQLONG l = 0;
        rc = GetMessageWait(qm, "W.Q", MQWI_UNLIMITED, &m, &d, &l, &cancel);
    });
    cancel = 1;
    InterruptGets(qm);
    getter.join();
    EXPECT_EQ(rc.load(), MQRC_NO_MSG_AVAILABLE);
    /* GET(DISABLED) is reported */
    ASSERT_EQ(Mqsc("ALTER QLOCAL(W.Q) GET(DISABLED)"), 0);
    EXPECT_EQ(GetMessageWait(qm, "W.Q", 0, &md, &data, &len), MQRC_GET_INHIBITED);
}

}  // namespace
