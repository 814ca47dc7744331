/* certcmd_e2e_test.cpp -- DISPLAY CERT and the certificate-expiry check
 * through the stand-in queue manager, a running TORVIK, mqcmd and the
 * runmqakm stand-in: the command in MQSC, escape and PCF form, the
 * periodic check with its events (the certevent asqmgr switch is tested
 * on the module, repository errors in the fault matrix).
 *
 * Each test has its own temporary directory holding mqsim's state, the key
 * repositories, the configuration file and the log; the agent and the queue
 * manager are ended by the test even when an assertion fails.
 */
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/harness.h"
#include "support/keyrepo.h"

namespace {

using namespace tvtest;

const char EVENTQ[] = "SYSTEM.ADMIN.CHANNEL.EVENT";
constexpr int64_t DAY = 86400;
constexpr long MQCACF_ESCAPE_TEXT_ID = 3014;

std::string Text(const JVALUE &msg, long id) {
    const JVALUE *p = Param(msg, id);
    return p == nullptr ? "<none>" : Str(*p, "value");
}
long Value(const JVALUE &msg, long id) {
    const JVALUE *p = Param(msg, id);
    return p == nullptr ? -999999 : Num(*p, "value");
}

class CertEndToEnd : public AgentTest {
protected:
    void SetUp() override {
        AgentTest::SetUp();
        /* The agent finds the key tool on PATH, as on a real installation. */
        const char *path = getenv("PATH");
        std::string newPath = BIN + ":" + (path != nullptr ? path : "/usr/bin:/bin");
        PLSetEnv("PATH", newPath.c_str());
        StartQueueManager();
    }

    /* The repository of the tests: key.kdb with its stash. */
    void MakeRepository() {
        int64_t now = PLWallClockSeconds();
        auto cert = [&](const char *label, const char *dn, int64_t left) {
            TESTCERT c;
            c.label = label;
            c.dn = dn;
            c.notAfter = now + left;
            c.notBefore = now - 30 * DAY;
            return c;
        };
        std::vector<TESTCERT> certs = {
            cert("exp10", "CN=exp10,O=ACME", 10 * DAY),
            cert("soon", "CN=soon", 29 * DAY + 23 * 3600),
            cert("old", "CN=old", -2 * DAY),
            cert("century", "CN=century", 36500 * DAY),
            cert("rootca", "CN=rootca", 3650 * DAY),
            cert("app client", "CN=app", 365 * DAY),
        };
        certs[4].ca = certs[4].signer = true;
        certs[5].isDefault = true;
        ASSERT_EQ(MakeKeyRepository(dir.file("key.kdb"), certs), "");
    }
    void Mqsc(const std::string &text) { Mqsim({"mqsc", QM, text}); }
    /* The texts of an MQSC answer (plain, or escape responses), joined. */
    std::string AskText(const std::vector<std::string> &args) {
        std::string all;
        for (const JVALUE &m : Ask(args).msgs)
            all += Param(m, MQCACF_ESCAPE_TEXT_ID) != nullptr ? Text(m, MQCACF_ESCAPE_TEXT_ID)
                                                              : Str(m, "text");
        return all;
    }
    /* Every message on the event queue (removed). */
    std::vector<JVALUE> Events() {
        return RunMqcmd({"get", "-q", EVENTQ, "-m", QM, "--json", "--wait", "1"}).msgs;
    }
};

/* Labels named by CERT(...) in an MQSC text, in order. */
std::vector<std::string> Labels(const std::string &text) {
    const std::string item = "details\nCERT(";
    std::vector<std::string> labels;
    for (size_t at = text.find(item); at != std::string::npos; at = text.find(item, at)) {
        at += item.size();
        labels.push_back(text.substr(at, text.find(')', at) - at));
    }
    return labels;
}

}  // namespace

TEST_F(CertEndToEnd, DisplaysCertificatesAndWritesOneEventPerExpiringCertificatePerCheck) {
    MakeRepository();
    Mqsc("ALTER QMGR SSLKEYR('" + dir.file("key") + "') CERTLABL('exp10')");
    StartAgent("certevent = yes\ncertthresh = 30\ncertfreqasmins = yes\ncertfreq = 1\n",
               {"-v", "High"});

    /* The first check runs at start: one event per certificate inside 30
     * days, with what the key tool told of it. */
    ASSERT_TRUE(LogHas("CVLA228I", 3)) << Log();
    EXPECT_NE(
        Log().find("CVLA224I Checking Certificates in '" + dir.file("key.kdb") + "' for Expiry"),
        std::string::npos);
    EXPECT_NE(Log().find("CVLA228I Certificate event written for DN 'CN=soon' with 29 days left"),
              std::string::npos);
    EXPECT_NE(Log().find("CVLA228I Certificate event written for DN 'CN=old' with -2 days left"),
              std::string::npos);
    std::vector<JVALUE> events = Events();
    ASSERT_EQ(events.size(), 3u);
    std::vector<std::string> evLabels;
    for (const JVALUE &e : events) { /* (the layout of an event is tested on the module) */
        EXPECT_EQ(Num(Pcf(e), "reason"), 11000);
        EXPECT_EQ(Text(e, 2015).substr(0, strlen(QM)), QM);
        EXPECT_EQ(Text(e, 2049), dir.file("key.kdb"));
        EXPECT_LT(Value(e, 20008), 30 * DAY);
        EXPECT_EQ(Value(e, 20009), 1024);
        evLabels.push_back(Text(e, 2121));
    }
    EXPECT_EQ(evLabels, (std::vector<std::string>{"exp10", "soon", "old"}));
    EXPECT_EQ(Text(events[0], 3545), "CN=exp10,O=ACME");
    EXPECT_EQ(Value(events[0], 20014), 1); /* the queue manager's CERTLABL */
    EXPECT_EQ(Value(events[1], 20014), 0);
    EXPECT_GT(Value(events[1], 20008), 29 * DAY);
    EXPECT_LT(Value(events[2], 20008), -DAY);

    /* MQSC: exactly the certificates with less than 30 days left. */
    std::string text = AskText({"--mqsc", "DISPLAY CERT(*) WHERE(LIFESPAN LT 30d) ALL"});
    EXPECT_EQ(CountOf(text, "CVLA700I Display Certificate details"), 3) << text;
    EXPECT_EQ(Labels(text), (std::vector<std::string>{"exp10", "soon", "old"})) << text;
    EXPECT_NE(text.find("SSLPEER(CN=exp10,O=ACME)"), std::string::npos) << text;

    /* Escape: a label with a blank, a single attribute. */
    text = AskText({"--escape", "DISPLAY CERT('app client') DEFAULT"});
    EXPECT_EQ(Labels(text), (std::vector<std::string>{"app client"})) << text;
    EXPECT_NE(text.find("DEFAULT(YES)"), std::string::npos) << text;
    EXPECT_EQ(text.find("SSLPEER("), std::string::npos) << text;
    /* An escape command that is not the agent's own reaches the command server. */
    ANSWER qmgr = Ask({"--escape", "DISPLAY QMGR"});
    EXPECT_NE(qmgr.out.find("QMNAME"), std::string::npos) << qmgr.out;

    /* PCF: a pattern and CERTUSAGE CA certificate. */
    std::vector<JVALUE> msgs = Ask({"--pcf", "9500", "2121:string=*", "20011:int=2"}).msgs;
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(Text(msgs[0], 2121), "rootca");
    EXPECT_EQ(Value(msgs[0], 20011), 2);

    /* The next check, a minute later, writes its three events again (an
     * EVTTHRES on a display is tested on the module). */
    ASSERT_TRUE(LogHas("CVLA224I", 2, 150)) << Log();
    ASSERT_TRUE(LogHas("CVLA228I", 6)) << Log();
    EXPECT_EQ(Events().size(), 3u);
}
