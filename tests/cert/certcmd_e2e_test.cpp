/* certcmd_e2e_test.cpp -- the expiry check and DISPLAY CERT through mqsim,
 * TORVIK, mqcmd and the runmqakm stand-in on PATH: the tool really run on a
 * repository, events on the event queue, MQSC and PCF answers. Repository
 * errors are in the fault matrix, the check's period in the timer tests. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/harness.h"
#include "support/keyrepo.h"

namespace {

using namespace tvtest;

constexpr int64_t DAY = 86400;

std::string Text(const JVALUE &msg, long id) {
    const JVALUE *p = Param(msg, id);
    return p == nullptr ? "<none>" : Str(*p, "value");
}

class CertEndToEnd : public AgentTest {};

}  // namespace

TEST_F(CertEndToEnd, TheCheckWritesOneEventPerExpiringCertificateAndDisplayAnswersInMqscAndPcf) {
    const char *path = getenv("PATH");
    PLSetEnv("PATH", (BIN + ":" + (path != nullptr ? path : "/usr/bin:/bin")).c_str());
    StartQueueManager();
    const int64_t now = PLWallClockSeconds();
    ASSERT_EQ(
        MakeKeyRepository(dir.file("key.kdb"),
                          {{"exp10", "CN=exp10,O=ACME", now - DAY, now + 10 * DAY},
                           {"old", "CN=old", now - 30 * DAY, now - 2 * DAY},
                           {"rootca", "CN=rootca", now - DAY, now + 36500 * DAY, true, false, true},
                           {"app client", "CN=app", now - DAY, now + 400 * DAY, false, true}}),
        "");
    ASSERT_EQ(MakeKeyRepository(dir.file("other.kdb"), {{"o1", "CN=o1"}}), "");
    Mqsim({"mqsc", QM, "ALTER QMGR SSLKEYR('" + dir.file("key") + "') CERTLABL('exp10')"});
    StartAgent("certevent = yes\ncertthresh = 30\n");

    ASSERT_TRUE(LogHas("CVLA228I", 2)) << Log();
    std::vector<JVALUE> events =
        RunMqcmd({"get", "-q", "SYSTEM.ADMIN.CHANNEL.EVENT", "-m", QM, "--json", "--wait", "1"})
            .msgs;
    ASSERT_EQ(events.size(), 2u);
    for (const JVALUE &e : events) {
        EXPECT_EQ(Num(Pcf(e), "reason"), 11000);
        EXPECT_EQ(Text(e, 2049), dir.file("key.kdb"));
    }
    EXPECT_EQ(Text(events[0], 3545), "CN=exp10,O=ACME");
    EXPECT_EQ(Text(events[1], 2121), "old");

    std::string text;
    for (const JVALUE &m : Ask({"--mqsc", "DISPLAY CERT(*) ALL"}).msgs)
        text += Str(m, "text");
    const std::string item = "CVLA700I Display Certificate details\nCERT(";
    for (const auto &want : std::vector<std::pair<std::string, int>>{
             {item, 4},
             {"SSLKEYR(" + dir.file("key.kdb") + ")", 4},
             {"CERT(exp10) CERTUSAGE(PERSONAL) SSLPEER(CN=exp10,O=ACME)", 1},
             {"QMGRCERT(YES) " + item + "old) CERTUSAGE(PERSONAL)", 1},
             {"LIFESPAN(-17", 1},
             {item + "rootca) CERTUSAGE(CACERT)", 1},
             {"LIFESPAN(3153", 1}, /* beyond 31 bits */
             {"TRUSTED(YES) QMGRCERT(NO) " + item + "app client)", 1},
             {"DEFAULT(YES) TRUSTED(NO) QMGRCERT(NO) ", 1}})
        EXPECT_EQ(CountOf(text, want.first), want.second) << want.first << "\n" << text;

    /* The request's repository comes before the queue manager's. */
    std::vector<JVALUE> msgs =
        Ask({"--pcf", "9500", "2121:string=*", "2049:string=" + dir.file("other")}).msgs;
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(Text(msgs[0], 2121), "o1");
}
