/* certcmd_e2e_test.cpp -- DISPLAY CERT and the certificate-expiry check
 * through the stand-in queue manager, a running TORVIK, mqcmd and the
 * runmqakm stand-in: the command in MQSC, escape and PCF form, its
 * parameter errors, repository errors, the periodic check with its events
 * and the certevent asqmgr switch.
 *
 * Each test has its own temporary directory holding mqsim's state, the key
 * repositories, the configuration file and the log; the agent and the queue
 * manager are ended by the test even when an assertion fails.
 */
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/test_process.h"
#include "core/test_support.h"
#include "support/keyrepo.h"
#include "platform/platform.h"
#include "testbed/mqcmd_json.h"
#include "testbed/mqsim_fixture.h"

namespace {

const std::string BIN = TV_BIN_DIR;
const std::string LIB = TV_LIB_DIR;
const char QM[] = "QMCERT";
const char EVENTQ[] = "SYSTEM.ADMIN.CHANNEL.EVENT";

using RESULT = tvtest::PROGRAMRESULT;
using tvtest::RunProgram;

long Num(const JVALUE &v, const char *key) {
    const JVALUE *f = v.Get(key);
    return f == nullptr ? -999999 : (long)f->number;
}
std::string Str(const JVALUE &v, const char *key) {
    const JVALUE *f = v.Get(key);
    return f == nullptr ? "<none>" : f->text;
}
const JVALUE &Pcf(const JVALUE &msg) {
    static JVALUE none;
    const JVALUE *p = msg.Get("pcf");
    return p == nullptr ? none : *p;
}
/* The value object of parameter id in a PCF message, or null. */
const JVALUE *Param(const JVALUE &msg, long id) {
    const JVALUE *params = Pcf(msg).Get("params");
    if (params == nullptr)
        return nullptr;
    for (const JVALUE &p : params->items)
        if (Num(p, "id") == id)
            return &p;
    return nullptr;
}
std::string Text(const JVALUE &msg, long id) {
    const JVALUE *p = Param(msg, id);
    return p == nullptr ? "<none>" : Str(*p, "value");
}
long Value(const JVALUE &msg, long id) {
    const JVALUE *p = Param(msg, id);
    return p == nullptr ? -999999 : Num(*p, "value");
}

constexpr int64_t DAY = 86400;

class CertEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir.path().empty());
        ASSERT_EQ(qm.Prepare(), "");
        PLSetEnv("MQM_DLL_PATH", LIB.c_str());
        PLSetEnv("MQ_INSTALLATION_PATH", nullptr);
        /* The agent finds the key tool on PATH, as on a real installation. */
        const char *path = getenv("PATH");
        std::string newPath = BIN + ":" + (path != nullptr ? path : "/usr/bin:/bin");
        PLSetEnv("PATH", newPath.c_str());
        std::filesystem::create_directories(dir.file("log"));
        ASSERT_EQ(qm.Start(QM, {"--mqsc", MqsimQueueManager::Sample("torvik.mqsc")}), "");
    }
    void TearDown() override {
        if (agent)
            StopAgent();
        qm.Stop();
    }

    /* The repository of the tests: key.kdb with its stash. */
    void MakeRepository() {
        int64_t now = PLWallClockSeconds();
        auto cert = [&](const char *label, const char *dn, int64_t left) {
            tvtest::TESTCERT c;
            c.label = label;
            c.dn = dn;
            c.notAfter = now + left;
            c.notBefore = now - 30 * DAY;
            return c;
        };
        std::vector<tvtest::TESTCERT> certs = {
            cert("exp10", "CN=exp10,O=ACME", 10 * DAY),
            cert("soon", "CN=soon", 29 * DAY + 23 * 3600),
            cert("old", "CN=old", -2 * DAY),
            cert("century", "CN=century", 36500 * DAY),
            cert("rootca", "CN=rootca", 3650 * DAY),
            cert("app client", "CN=app", 365 * DAY),
        };
        certs[4].ca = certs[4].signer = true;
        certs[5].isDefault = true;
        ASSERT_EQ(tvtest::MakeKeyRepository(dir.file("key.kdb"), certs), "");
    }
    void Mqsc(const std::string &text) {
        std::string out;
        ASSERT_EQ(qm.Run({"mqsc", QM, text}, &out), 0) << out;
    }
    void StartAgent(const std::string &config) {
        tvtest::WriteFile(dir.file("torvik.cfg"),
                          "logpath = \"" + dir.file("log") + "\"\n" + config);
        agent = std::make_unique<tvtest::BackgroundProgram>(std::vector<std::string>{
            BIN + "/torvik", "-m", QM, "-k", "-v", "High", "-f", dir.file("torvik.cfg")});
        ASSERT_TRUE(LogHas("CVLA004I Parameters in effect:")) << Log();
    }
    void StopAgent() {
        RunProgram({BIN + "/mqcmd", "-m", QM, "--simple", "STOP"}, 30000);
        EXPECT_TRUE(tvtest::WaitFor([&] { return agent->Done(); }, std::chrono::seconds(60)));
        if (agent->Done()) {
            EXPECT_EQ(agent->Join().proc.exitCode, 0);
        }
        agent.reset();
    }
    std::string Log() { return tvtest::ReadFile(dir.file("log/TORVIK_Log01.txt")); }
    bool LogHas(const std::string &what, int count = 1, int seconds = 60) {
        return tvtest::WaitFor([&] { return tvtest::CountOf(Log(), what) >= count; },
                               std::chrono::seconds(seconds));
    }

    /* mqcmd --json with args; the messages it printed. */
    std::vector<JVALUE> Ask(std::vector<std::string> args) {
        args.insert(args.begin(), {BIN + "/mqcmd", "-m", QM, "--json", "--wait", "60"});
        return Printed(args);
    }
    std::vector<JVALUE> Printed(const std::vector<std::string> &args) {
        RESULT r = RunProgram(args, 120000);
        std::vector<JVALUE> msgs;
        for (const std::string &line : tvtest::SplitLines(r.out)) {
            JVALUE v;
            std::string err;
            if (line.empty() || line[0] != '{' || !JsonReader::Parse(line, &v, &err))
                continue;
            if (v.Get("summary") == nullptr)
                msgs.push_back(v);
        }
        return msgs;
    }
    /* The texts of an MQSC answer (plain, or escape responses), joined. */
    std::string AskText(std::vector<std::string> args) {
        std::string all;
        for (const JVALUE &m : Ask(args))
            all += Param(m, MQCACF_ESCAPE_TEXT_ID) != nullptr ? Text(m, MQCACF_ESCAPE_TEXT_ID)
                                                              : Str(m, "text");
        return all;
    }
    static constexpr long MQCACF_ESCAPE_TEXT_ID = 3014;
    /* Every message on the event queue (removed). */
    std::vector<JVALUE> Events() {
        return Printed({BIN + "/mqcmd", "get", "-q", EVENTQ, "-m", QM, "--json", "--wait", "1"});
    }

    tvtest::TempDir dir;
    MqsimQueueManager qm;
    std::unique_ptr<tvtest::BackgroundProgram> agent;
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
    StartAgent("certevent = yes\ncertthresh = 30\ncertfreqasmins = yes\ncertfreq = 1\n");

    /* The first check runs at start: one event per certificate inside 30
     * days, each a PCF channel event with reason 11000. */
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
    for (const JVALUE &e : events) {
        EXPECT_EQ(Str(e, "format"), "MQEVENT ");
        EXPECT_EQ(Num(e, "msgType"), 8);
        EXPECT_EQ(Num(Pcf(e), "type"), 7);
        EXPECT_EQ(Num(Pcf(e), "command"), 46);
        EXPECT_EQ(Num(Pcf(e), "control"), 1);
        EXPECT_EQ(Num(Pcf(e), "compCode"), 1);
        EXPECT_EQ(Num(Pcf(e), "reason"), 11000);
        EXPECT_EQ(Num(Pcf(e), "parameterCount"), 15);
        EXPECT_EQ(Text(e, 2015).substr(0, strlen(QM)), QM);
        EXPECT_EQ(Text(e, 2049), dir.file("key.kdb"));
        EXPECT_EQ(Value(e, 20015), 30);
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
    EXPECT_EQ(tvtest::CountOf(text, "CVLA700I Display Certificate details"), 3) << text;
    EXPECT_EQ(Labels(text), (std::vector<std::string>{"exp10", "soon", "old"})) << text;
    EXPECT_NE(text.find("SSLPEER(CN=exp10,O=ACME)"), std::string::npos) << text;

    /* Escape: a label with a blank, a single attribute. */
    text = AskText({"--escape", "DISPLAY CERT('app client') DEFAULT"});
    EXPECT_EQ(Labels(text), (std::vector<std::string>{"app client"})) << text;
    EXPECT_NE(text.find("DEFAULT(YES)"), std::string::npos) << text;
    EXPECT_EQ(text.find("SSLPEER("), std::string::npos) << text;

    /* PCF: a pattern and CERTUSAGE CA certificate. */
    std::vector<JVALUE> msgs = Ask({"--pcf", "9500", "2121:string=*", "20011:int=2"});
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(Text(msgs[0], 2121), "rootca");
    EXPECT_EQ(Value(msgs[0], 20011), 2);
    msgs = Ask({"--pcf", "9500", "2121:string=nothing*"});
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(Num(Pcf(msgs[0]), "reason"), 3312);

    /* Parameter errors and a filter error. */
    msgs = Ask({"--pcf", "9500", "2121:string=" + std::string(65, 'c')});
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(Num(Pcf(msgs[0]), "reason"), 3011);
    EXPECT_EQ(Text(msgs[0], 39999), "CVLA602E Parameter 'CERT' is too long");
    msgs = Ask({"--pcf", "9500", "2121:string=*", "20011:int=4"});
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(Num(Pcf(msgs[0]), "reason"), 3229);
    text = AskText({"--mqsc", "DISPLAY CERT(*) WHERE(NOSUCH EQ 1)"});
    EXPECT_NE(text.find("CVLA610E"), std::string::npos) << text;
    std::string ids = "20003:intlist=1";
    for (int i = 2; i <= 25; i++)
        ids += "," + std::to_string(i);
    ids += ",3545,3545,3545,3545,3545"; /* ids 26 to 30 are not kept */
    msgs = Ask({"--pcf", "9500", "2121:string=century", ids});
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(Param(msgs[0], 3545), nullptr);
    EXPECT_EQ(Text(msgs[0], 2121), "century");

    /* EVTTHRES on a display: events for every certificate inside it,
     * selected or not; 40000 days pass a 32-bit product. */
    ASSERT_TRUE(LogHas("CVLA228I", 3)); /* settle: nothing else pending */
    int before = tvtest::CountOf(Log(), "CVLA228I");
    msgs = Ask({"--pcf", "9500", "2121:string=century", "20015:int=40000"});
    ASSERT_EQ(msgs.size(), 1u);
    ASSERT_TRUE(LogHas("CVLA228I", before + 6)) << Log();

    /* The next check, a minute later, writes its three events again. */
    ASSERT_TRUE(LogHas("CVLA224I", 2, 150)) << Log();
    ASSERT_TRUE(LogHas("CVLA228I", before + 9)) << Log();
    events = Events();
    int display = 0, check = 0;
    for (const JVALUE &e : events) {
        EXPECT_EQ(Num(Pcf(e), "reason"), 11000);
        (Value(e, 20015) == 40000 ? display : check)++;
    }
    EXPECT_EQ(display, 6);
    EXPECT_EQ(check, 3);
}

TEST_F(CertEndToEnd, ReportsRepositoryErrorsAndFollowsSslevWithCertthreshZero) {
    MakeRepository();
    tvtest::WriteFile(dir.file("bad.sth"), "not the password\n");
    std::filesystem::copy_file(dir.file("key.kdb"), dir.file("bad.kdb"));
    Mqsc("ALTER QMGR SSLKEYR('" + dir.file("key") + "') SSLEV(DISABLED)");
    StartAgent("certevent = asqmgr\ncertthresh = 0\ncertfreqasmins = yes\ncertfreq = 1\n");

    const std::string disabled =
        "CVLA223I Certificate Expiry Events are disabled\n"
        "certevent config set to 'asqmgr' and SSLEV(DISABLED)\n";
    const std::string enabled =
        "CVLA223I Certificate Expiry Events are enabled\n"
        "certevent config set to 'asqmgr' and SSLEV(ENABLED)\n";
    ASSERT_TRUE(LogHas(disabled)) << Log();

    /* Missing repository: 2381 to the requester, CVLA226E to the operator;
     * a wrong stash: CVLA227E; a name with shell syntax runs nothing. */
    std::vector<JVALUE> msgs =
        Ask({"--pcf", "9500", "2121:string=*", "2049:string=" + dir.file("missing")});
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(Num(Pcf(msgs[0]), "reason"), 2381);
    EXPECT_TRUE(
        LogHas("CVLA226E The key repository '" + dir.file("missing.kdb") + "' does not exist"))
        << Log();
    msgs = Ask({"--pcf", "9500", "2121:string=*", "2049:string=" + dir.file("bad.kdb")});
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(Num(Pcf(msgs[0]), "reason"), 2381);
    EXPECT_TRUE(LogHas("CVLA227E An invalid key repository password was encountered for '" +
                       dir.file("bad.kdb") + "'"))
        << Log();
    const std::string pwned = dir.file("pwned");
    msgs = Ask({"--pcf", "9500", "2121:string=*", "2049:string=x.kdb; touch " + pwned});
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(Num(Pcf(msgs[0]), "reason"), 2381);
    EXPECT_FALSE(tvtest::FileExists(pwned));

    /* SSLEV enabled: the next check says so once and runs, writing no
     * event with certthresh 0. */
    Mqsc("ALTER QMGR SSLEV(ENABLED)");
    ASSERT_TRUE(LogHas(enabled, 1, 150)) << Log();
    ASSERT_TRUE(LogHas("CVLA224I", 1)) << Log();
    EXPECT_EQ(tvtest::CountOf(Log(), disabled), 1);
    EXPECT_EQ(tvtest::CountOf(Log(), "CVLA228I"), 0);
    EXPECT_TRUE(Events().empty());

    /* certdisplay no: the command is refused with 2298. */
    StopAgent();
    std::filesystem::remove(dir.file("log/TORVIK_Log01.txt"));
    StartAgent("certevent = no\ncertdisplay = no\n");
    msgs = Ask({"--pcf", "9500", "2121:string=*"});
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(Num(Pcf(msgs[0]), "reason"), 2298);
}
