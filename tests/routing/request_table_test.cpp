/* request_table_test.cpp -- ageing and the No-response reply (the detecting
 * pass and its CHECKREPL, and a thousand requests in the table at once, run
 * in the fault matrix). */
#include "routing_fixture.h"
#include "support/files.h"

using namespace rtest;
using tvtest::CountOf;

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

}  // namespace

/* An internal request (of the agent's own) that ages out is handed its
 * No-response reply instead. */
TEST_F(RequestTableTest, AgesOutARequestIdleForMoreThanMaxAgeOnly) {
    Settings.maxAge = 10;
    int64_t now = Later();
    REQUEST *kept = Forwarded(1, "KEPT.REPLY"), *aged = Forwarded(2, "AGED.REPLY"),
            *busy = Forwarded(3, "BUSY.REPLY"), *internal = NewRequest(MQCMD_INQUIRE_Q_MGR);
    kept->lastActivity = now - 10;
    aged->lastActivity = aged->created = now - 11;
    busy->lastActivity = now - 1000;
    busy->busy = 1;
    static std::vector<MQBYTE> handed;
    static REQUEST *handedOver;
    handed.clear();
    internal->replyHandler = [](REQUEST *r, MQBYTE *msg, MQLONG length) {
        handed.assign(msg, msg + length);
        handedOver = r;
    };
    AddRequest(internal, Id(4).data());
    internal->lastActivity = now - 11;

    AgeAt(now, 1);
    EXPECT_EQ(RequestCount.load(), 2);
    EXPECT_EQ(LastAgeingPass.load(), now);
    EXPECT_EQ(Lookup(Id(1).data()), kept);
    EXPECT_EQ(Lookup(Id(3).data()), busy);
    std::vector<PutRecord> puts = Puts();
    ASSERT_EQ(puts.size(), 1u);
    EXPECT_EQ(puts[0].name, "AGED.REPLY");
    EXPECT_EQ(puts[0].data.size(), 104u);
    EXPECT_EQ(puts[0].pmo.Options, MQPMO_NO_SYNCPOINT) << "no context passed";
    EXPECT_EQ(handedOver, internal);
    EXPECT_EQ(handed.size(), 104u);
    EXPECT_EQ(Get(handed, 12), MQCMD_INQUIRE_Q_MGR);
    FreeRequest(internal); /* the handler's to free; this one does not */

    struct tm lt;
    ASSERT_EQ(PLLocalTime(now - 11, &lt), 0);
    std::string hex; /* the requester's MsgId is 24 bytes of 0xA1 */
    while (hex.size() < 48)
        hex += "A1";
    char expected[200];
    snprintf(expected, sizeof expected,
             "CVLA303E Ageing out request for ReplyQ 'AGED.REPLY' issued at %02d:%02d:%02d MsgId: "
             "%s\n",
             lt.tm_hour, lt.tm_min, lt.tm_sec, hex.c_str());
    EXPECT_EQ(CountOf(Log(), expected), 1) << Log();
    EXPECT_EQ(CountOf(Log(), "CVLA303E"), 1);

    /* Every reply moves the last activity: a request still being answered
     * is kept however old it is. */
    kept->created = now - 5000;
    kept->lastActivity = now;
    AgeAt(now + 10, 1);
    EXPECT_EQ(RequestCount.load(), 2);
}

TEST_F(RequestTableTest, NoResponseReplyIsTheHundredAndFourByteFailure) {
    REQUEST *req = Requester();
    MQMD md = MQMD_DEFAULT;
    MQBYTE *msg = nullptr;
    MQLONG length = 0;
    for (MQLONG command : {MQCMD_INQUIRE_Q, 43, 44, 45, 46, 91, 99}) {
        req->command = command;
        ASSERT_EQ(BuildNoResponseReply(req, &md, &msg, &length), 0);
        EXPECT_EQ(
            std::vector<MQBYTE>(msg, msg + length),
            Pcf(command, command == MQCMD_INQUIRE_Q ? MQCFT_COMMAND : MQCFT_EVENT)
                .Control(MQCFC_LAST)
                .CompCode(MQCC_FAILED)
                .Reason(MQRCCF_UNEXPECTED_ERROR)
                .Str(CVL_ATTR_ERROR_TEXT, "CVLA501E No response from IBM MQ Command Server", 850)
                .bytes());
        CSFreeMem(msg);
    }
    EXPECT_EQ(length, 104);
    EXPECT_EQ(std::string(md.Format, 8), MQFMT_ADMIN);
    EXPECT_EQ((std::vector<MQLONG>{md.MsgType, md.Encoding, md.CodedCharSetId, md.Priority,
                                   md.Persistence, md.Expiry, md.Report}),
              (std::vector<MQLONG>{MQMT_REPLY, 546, 0, -1, 2, -1, 0}));
    FreeRequest(req);
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
