/* certcmd_e2e_test.cpp -- the certificate-expiry check and DISPLAY CERT
 * through the stand-in queue manager, a running TORVIK, mqcmd and the
 * runmqakm stand-in found on PATH: what only the processes together show
 * (the tool really run on the queue manager's repository, events on the
 * event queue, MQSC text and PCF answers). The parsing, selection,
 * translation and rendering are tested on the modules, repository errors
 * in the fault matrix, the check's period in the main loop's timers.
 */
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

TEST_F(CertEndToEnd, TheCheckWritesOneEventPerExpiringCertificateAndDisplayAnswersEachForm) {
    const char *path = getenv("PATH");
    PLSetEnv("PATH", (BIN + ":" + (path != nullptr ? path : "/usr/bin:/bin")).c_str());
    StartQueueManager();
    const int64_t now = PLWallClockSeconds();
    ASSERT_EQ(MakeKeyRepository(
                  dir.file("key.kdb"),
                  {{"exp10", "CN=exp10,O=ACME", now - DAY, now + 10 * DAY},
                   {"old", "CN=old", now - 30 * DAY, now - 2 * DAY},
                   {"rootca", "CN=rootca", now - DAY, now + 3650 * DAY, true, false, true}}),
              "");
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
    for (const JVALUE &m : Ask({"--mqsc", "DISPLAY CERT(*) WHERE(LIFESPAN LT 30d) SSLPEER"}).msgs)
        text += Str(m, "text");
    EXPECT_EQ(CountOf(text, "CVLA700I Display Certificate details"), 2) << text;
    EXPECT_NE(text.find("CERT(old) CERTUSAGE(PERSONAL) SSLPEER(CN=old) LIFESPAN(-17"),
              std::string::npos)
        << text;

    std::vector<JVALUE> msgs = Ask({"--pcf", "9500", "2121:string=*", "20011:int=2"}).msgs;
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(Text(msgs[0], 2121), "rootca");
}
