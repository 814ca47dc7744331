/* request_table_test.cpp -- the request table, ageing and the No-response
 * reply. */
#include "core/workers.h"
#include "routing_fixture.h"
#include "support/files.h"

using namespace rtest;

namespace {

class RequestTableTest : public RoutingTest {
protected:
    /* A time well after every request's creation, so that only the test
     * decides what has expired (a refresh of the shared clock by any
     * message can only make requests younger). */
    int64_t Later() { return PLWallClockSeconds() + 100000; }

    void AgeAt(int64_t now, int giveUp) {
        CurrentTime.store(now);
        AgeRequests(giveUp);
    }
};

std::vector<MQBYTE> Bytes(const char *text) {
    return std::vector<MQBYTE>(text, text + strlen(text));
}

}  // namespace

TEST_F(RequestTableTest, NewRequestStartsWithTheLimitAndAFreshClock) {
    Settings.maxMsgSize = 4096;
    REQUEST *rn = NewRequest(MQCMD_INQUIRE_Q);
    ASSERT_NE(rn, nullptr);
    EXPECT_EQ(rn->maxMsgSize, 4096);
    EXPECT_EQ(rn->command, MQCMD_INQUIRE_Q);
    EXPECT_EQ(rn->created, rn->lastActivity);
    EXPECT_LE(PLWallClockSeconds() - rn->created, 2);
    EXPECT_EQ(rn->pending, nullptr);
    FreeRequest(rn);
}

/* Thousands of requests whose MsgIds share the queue manager's prefix:
 * each is found, removal in any order keeps the rest findable, ageing
 * takes the oldest first, and the emptied table gives its memory back. */
TEST_F(RequestTableTest, ManyRequestsAreFoundAndRemovedInAnyOrder) {
    const int kRequests = 3000;
    long blocks = CSMemBlocksInUse();
    std::vector<REQUEST *> reqs;
    auto idOf = [](int n, MQBYTE *id) {
        memcpy(id, "AMQ QM1         ", 16);
        for (int i = 0; i < 8; i++) /* ids 1 and 2 differ in the last byte only */
            id[23 - i] = (MQBYTE)(i < 4 ? n >> (8 * i) : 0);
    };
    for (int n = 0; n < kRequests; n++) {
        MQBYTE id[MQ_MSG_ID_LENGTH];
        idOf(n, id);
        reqs.push_back(Requester());
        reqs.back()->lastActivity = n < 10 ? 0 : Later();
        if (n < 10)
            reqs.back()->replyQName[0] = '\0'; /* nobody to answer: just freed */
        AddRequest(reqs.back(), id);
    }
    EXPECT_EQ(RequestCount.load(), kRequests);
    /* Every other one goes, newest first, then the ten oldest age out. */
    for (int n = kRequests - 1; n >= 10; n -= 2)
        RemoveRequest(reqs[(size_t)n]);
    MQBYTE id[MQ_MSG_ID_LENGTH];
    CSLockLock(&RequestLock);
    for (int n = 0; n < kRequests; n++) {
        idOf(n, id);
        EXPECT_EQ(FindRequest(id), (n < 10 || n % 2 == 0) ? reqs[(size_t)n] : nullptr) << n;
    }
    CSUnlockLock(&RequestLock);
    Settings.maxAge = 10;
    AgeAt(Later(), 1);
    EXPECT_EQ(RequestCount.load(), kRequests / 2 - 5);
    idOf(3, id);
    EXPECT_EQ(Lookup(id), nullptr);
    idOf(12, id);
    EXPECT_EQ(Lookup(id), reqs[12]);
    for (int n = 10; n < kRequests; n += 2)
        RemoveRequest(reqs[(size_t)n]);
    EXPECT_EQ(RequestCount.load(), 0);
    RemoveRequest(reqs[12] = Requester()); /* never in the table: only freed */
    EXPECT_EQ(CSMemBlocksInUse(), blocks);
}

TEST_F(RequestTableTest, AgesOutARequestIdleForMoreThanMaxAgeOnly) {
    Settings.maxAge = 10;
    int64_t now = Later();
    REQUEST *kept = Requester("KEPT.REPLY");
    REQUEST *aged = Requester("AGED.REPLY");
    REQUEST *busy = Requester("BUSY.REPLY");
    MQBYTE id[MQ_MSG_ID_LENGTH] = {};
    id[0] = 1;
    AddRequest(kept, id);
    id[0] = 2;
    AddRequest(aged, id);
    id[0] = 3;
    AddRequest(busy, id);
    kept->lastActivity = now - 10;
    aged->lastActivity = now - 11;
    aged->created = now - 11;
    busy->lastActivity = now - 1000;
    busy->busy = 1;

    AgeAt(now, 1);
    EXPECT_EQ(RequestCount.load(), 2);
    EXPECT_EQ(LastAgeingPass.load(), now);
    id[0] = 1;
    EXPECT_EQ(Lookup(id), kept);
    id[0] = 3;
    EXPECT_EQ(Lookup(id), busy);

    std::vector<PutRecord> puts = PutsTo("AGED.REPLY");
    ASSERT_EQ(puts.size(), 1u);
    EXPECT_EQ(puts[0].data.size(), 104u);
    EXPECT_EQ(puts[0].pmo.Options, MQPMO_NO_SYNCPOINT) << "no context passed";
    EXPECT_EQ(PutsTo("KEPT.REPLY").size(), 0u);
    EXPECT_EQ(PutsTo("BUSY.REPLY").size(), 0u);

    struct tm lt;
    ASSERT_EQ(PLLocalTime(now - 11, &lt), 0);
    char expected[200];
    /* The requester's MsgId is 24 bytes of 0xA1. */
    std::string hex;
    for (int i = 0; i < 24; i++)
        hex += "A1";
    snprintf(expected, sizeof expected,
             "CVLA303E Ageing out request for ReplyQ 'AGED.REPLY' issued at %02d:%02d:%02d MsgId: "
             "%s\n",
             lt.tm_hour, lt.tm_min, lt.tm_sec, hex.c_str());
    EXPECT_NE(Log().find(expected), std::string::npos) << Log();
    EXPECT_EQ(tvtest::CountOf(Log(), "CVLA303E"), 1);

    /* Every reply moves the last activity: a request still being answered
     * is kept however old it is. */
    kept->created = now - 5000;
    kept->lastActivity = now;
    AgeAt(now + 10, 1);
    EXPECT_EQ(RequestCount.load(), 2);
}

TEST_F(RequestTableTest, DetectingPassChangesNothingAndSendsOneCheckRepl) {
    Settings.maxAge = 10;
    int64_t now = Later();
    for (int i = 0; i < 3; i++) {
        REQUEST *r = Requester();
        MQBYTE id[MQ_MSG_ID_LENGTH] = {};
        id[0] = (MQBYTE)(i + 1);
        AddRequest(r, id);
        r->lastActivity = now - 60;
    }
    AgeAt(now, 0);
    EXPECT_EQ(RequestCount.load(), 3);
    EXPECT_EQ(LastAgeingPass.load(), now);
    ASSERT_TRUE(tvtest::WaitUntil([] { return PutsTo(Settings.inputQName).size() >= 1; }));
    std::vector<PutRecord> puts = PutsTo(Settings.inputQName);
    ASSERT_EQ(puts.size(), 1u);
    EXPECT_EQ(puts[0].data, Bytes("CHECKREPL"));
    EXPECT_EQ(PutsTo("REQ.REPLY").size(), 0u);

    /* Nothing expired: no command at all. A marker queued behind shows
     * that the workers have run whatever the pass might have queued. */
    AgeAt(now - 55, 0);
    static char marker[] = "MARKER";
    ASSERT_EQ(QueueCall(PutSimpleCommandCall, marker), 0);
    ASSERT_TRUE(tvtest::WaitUntil([] { return PutsTo(Settings.inputQName).size() >= 2; }));
    puts = PutsTo(Settings.inputQName);
    ASSERT_EQ(puts.size(), 2u);
    EXPECT_EQ(puts[1].data, Bytes("MARKER"));
}

TEST_F(RequestTableTest, NoResponseReplyIsTheHundredAndFourByteFailure) {
    REQUEST *req = Requester();
    MQMD md = MQMD_DEFAULT;
    MQBYTE *msg = nullptr;
    MQLONG length = 0;
    ASSERT_EQ(BuildNoResponseReply(req, &md, &msg, &length), 0);
    ASSERT_NE(msg, nullptr);
    ASSERT_EQ(length, 104);
    std::vector<MQBYTE> m(msg, msg + length);
    CSFreeMem(msg);
    const MQLONG header[9] = {
        MQCFT_COMMAND,           36, 1, MQCMD_INQUIRE_Q, 1, MQCFC_LAST, MQCC_FAILED,
        MQRCCF_UNEXPECTED_ERROR, 1};
    for (int i = 0; i < 9; i++)
        EXPECT_EQ(Get(m, 4 * (size_t)i), header[i]) << "MQCFH field " << i;
    const MQLONG cfst[5] = {MQCFT_STRING, 68, CVL_ATTR_ERROR_TEXT, 850, 47};
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(Get(m, 36 + 4 * (size_t)i), cfst[i]) << "MQCFST field " << i;
    EXPECT_EQ(std::string((const char *)m.data() + 56, 47),
              "CVLA501E No response from IBM MQ Command Server");
    EXPECT_EQ(md.MsgType, MQMT_REPLY);
    EXPECT_EQ(0, memcmp(md.Format, MQFMT_ADMIN, 8));
    EXPECT_EQ(md.Encoding, 546);
    EXPECT_EQ(md.CodedCharSetId, 0);
    EXPECT_EQ(md.Priority, -1);
    EXPECT_EQ(md.Persistence, 2);
    EXPECT_EQ(md.Expiry, -1);
    EXPECT_EQ(md.Report, 0);

    /* Event message types get an event-typed failure. */
    for (MQLONG command : {43, 44, 45, 46, 91, 99, 13}) {
        req->command = command;
        ASSERT_EQ(BuildNoResponseReply(req, &md, &msg, &length), 0);
        EXPECT_EQ(Get(std::vector<MQBYTE>(msg, msg + 4), 0),
                  command == 13 ? MQCFT_COMMAND : MQCFT_EVENT);
        CSFreeMem(msg);
    }
    FreeRequest(req);
}

TEST_F(RequestTableTest, AgedInternalRequestIsHandedToItsHandler) {
    static std::vector<MQBYTE> got;
    static REQUEST *handedOver;
    got.clear();
    handedOver = nullptr;
    REQUEST *req = NewRequest(MQCMD_INQUIRE_Q_MGR);
    ASSERT_NE(req, nullptr);
    req->replyHandler = [](REQUEST *r, MQBYTE *msg, MQLONG length) {
        got.assign(msg, msg + length);
        handedOver = r;
    };
    MQBYTE id[MQ_MSG_ID_LENGTH] = {9};
    AddRequest(req, id);
    req->lastActivity = Later() - 100;
    AgeAt(Later(), 1);
    EXPECT_EQ(handedOver, req);
    EXPECT_EQ(got.size(), 104u);
    EXPECT_EQ(Get(got, 12), MQCMD_INQUIRE_Q_MGR);
    EXPECT_EQ(RequestCount.load(), 0);
    EXPECT_EQ(Log().find("CVLA303E"), std::string::npos);
    EXPECT_EQ(Puts().size(), 0u);
    FreeRequest(req); /* the handler's to free; this one does not */
}

TEST_F(RequestTableTest, AllocationFailuresStopTheAgent) {
    CSSetMemFailAfter(0);
    EXPECT_EQ(NewRequest(MQCMD_INQUIRE_Q), nullptr);
    CSSetMemFailAfter(-1);
    EXPECT_NE(Log().find("CVLA202E Can not allocate " + std::to_string(sizeof(REQUEST)) +
                         " bytes for a 'REQUEST' structure\n"),
              std::string::npos);
    EXPECT_TRUE(StopRequested());

    ResetRunState();
    REQUEST *req = Requester();
    MQMD md = MQMD_DEFAULT;
    MQBYTE *msg = (MQBYTE *)1;
    MQLONG length = 5;
    CSSetMemFailAfter(0);
    EXPECT_EQ(BuildNoResponseReply(req, &md, &msg, &length), MQRC_STORAGE_NOT_AVAILABLE);
    CSSetMemFailAfter(-1);
    EXPECT_EQ(msg, nullptr);
    EXPECT_EQ(length, 0);
    EXPECT_NE(Log().find("CVLA201E Can not allocate 1000 bytes for a message! \n"),
              std::string::npos);
    EXPECT_TRUE(StopRequested());
    FreeRequest(req);
}
