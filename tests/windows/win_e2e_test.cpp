/* win_e2e_test.cpp -- the Windows programs end to end: torvik.exe shows its
 * usage; reports a stand-in library it cannot load with the Windows error
 * code; and runs against the Linux mqsim daemon through mqm.dll (found
 * through MQM_DLL_PATH, the daemon through MQSIM_ADDR), routing a PCF
 * INQUIRE_Q whose consolidated replies the Linux mqcmd and mqcmd.exe check,
 * until a STOP sent by torvik.exe -c ends it with exit code 0. Its log and
 * configuration lie beside the executable, named with "\".
 *
 * The daemon and the Linux mqcmd are programs of a Linux build of this tree
 * (TV_LINUX_BUILD_DIR). Wine starts a Linux program when asked to start one
 * but cannot wait for it, so each runs under /bin/sh, which writes its
 * output and exit status into files of the test's directory; the test
 * polls for the status file. Wine's kernel32 names the test's Windows
 * directory in Linux terms (wine_get_unix_file_name). Without a Linux
 * build, or outside wine, these tests skip and say why.
 *
 * Each test has its own directory: the copy of torvik.exe with its
 * configuration and log, and the daemon's state ($MQSIM_DIR). The agent and
 * the daemon are stopped by the test even when an assertion fails.
 */
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/test_support.h"
#include "platform/net.h"
#include "platform/platform.h"
#include "testbed/mqcmd_json.h"
#include "windows/win_support.h"

using tvtest::CountOf;
using tvtest::ReadFile;
using tvtest::WaitFor;
using wintest::Join;
using wintest::RunProgram;
using wintest::Unix;

namespace {

const std::string LinuxBuild = TV_LINUX_BUILD_DIR;
const char QM[] = "QMWIN";
constexpr long MQCA_Q_NAME_ID = 2016;
constexpr long DELIMITER_ID = 40000; /* CVL_ATTR_RESPONSE_DELIMITER */

std::string BinDir() {
    return Join(wintest::BuildDirectory(), "bin");
}
std::string LibDir() {
    return Join(wintest::BuildDirectory(), "lib");
}

/* The Linux name of a Windows path, from wine's kernel32, or "" when not
 * under wine. The name is allocated by wine for the process's life. */
std::string LinuxPath(const std::string &windowsPath) {
    typedef char *(*UNIXNAMEFN)(const wchar_t *);
    static UNIXNAMEFN toUnix = [] {
        PLLIBRARY k = nullptr;
        char err[200];
        if (PLLoadLibrary("kernel32.dll", &k, err, sizeof err) != 0)
            return static_cast<UNIXNAMEFN>(nullptr);
        return reinterpret_cast<UNIXNAMEFN>(PLGetSymbol(k, "wine_get_unix_file_name"));
    }();
    if (toUnix == nullptr)
        return "";
    std::wstring w(windowsPath.begin(), windowsPath.end()); /* the paths here are ASCII */
    const char *name = toUnix(w.c_str());
    return name != nullptr ? name : "";
}

/* A program running on a thread of the test until it ends or times out. */
class Background {
public:
    Background(std::vector<std::string> args, uint32_t timeoutMs) {
        thread_ = std::thread([this, args, timeoutMs] {
            result_ = RunProgram(args, timeoutMs);
            done_ = 1;
        });
    }
    ~Background() { Join(); }
    bool Done() const { return done_.load() != 0; }
    const wintest::RUN &Join() {
        if (thread_.joinable())
            thread_.join();
        return result_;
    }

private:
    std::thread thread_;
    std::atomic<int> done_{0};
    wintest::RUN result_;
};

struct LINUXRUN {
    int status = -1; /* the exit code; -1 when it did not end in time */
    std::string out; /* standard output and error */
};

/* mqcmd --json output: its messages and summary. */
struct ANSWER {
    LINUXRUN run;
    std::vector<JVALUE> msgs;
    JVALUE summary;
};

long Num(const JVALUE &v, const char *key) {
    const JVALUE *f = v.Get(key);
    return f == nullptr ? -999999 : static_cast<long>(f->number);
}
std::string Str(const JVALUE &v, const char *key) {
    const JVALUE *f = v.Get(key);
    return f == nullptr ? "<none>" : f->text;
}
const std::vector<JVALUE> &Params(const JVALUE &msg) {
    static std::vector<JVALUE> none;
    const JVALUE *pcf = msg.Get("pcf");
    const JVALUE *p = pcf == nullptr ? nullptr : pcf->Get("params");
    return p == nullptr ? none : p->items;
}

ANSWER ParseAnswer(const LINUXRUN &run) {
    ANSWER a;
    a.run = run;
    for (const std::string &line : tvtest::SplitLines(Unix(run.out))) {
        if (line.empty() || line[0] != '{')
            continue;
        JVALUE v;
        std::string err;
        if (!JsonReader::Parse(line, &v, &err)) {
            ADD_FAILURE() << err << "\n" << line.substr(0, 300);
            continue;
        }
        if (v.Get("summary") != nullptr)
            a.summary = *v.Get("summary");
        else
            a.msgs.push_back(v);
    }
    return a;
}

/* The queue names of a set of replies, blanks cut, mqcmd's own temporary
 * reply queues left out; *separators counts the response delimiters. */
std::multiset<std::string> QueueNames(const ANSWER &a, int *separators) {
    std::multiset<std::string> names;
    *separators = 0;
    for (const JVALUE &m : a.msgs) {
        for (const JVALUE &p : Params(m)) {
            if (Num(p, "id") == DELIMITER_ID)
                (*separators)++;
            if (Num(p, "id") != MQCA_Q_NAME_ID)
                continue;
            std::string n = Str(p, "value");
            while (!n.empty() && n.back() == ' ')
                n.pop_back();
            if (n.rfind("MQCMD.", 0) != 0)
                names.insert(n);
        }
    }
    return names;
}

class WindowsAgent : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir.path().empty());
        torvik = dir.file("torvik.exe");
        std::filesystem::copy_file(Join(BinDir(), "torvik.exe"), torvik);
        PLSetEnv("MQ_INSTALLATION_PATH", nullptr);
        PLSetEnv("MQACCESS_DEBUG", nullptr);
        PLSetEnv("MQSIM_ADDR", nullptr);
        /* A trailing "\" gets no second one. */
        PLSetEnv("MQM_DLL_PATH", (LibDir() + "\\").c_str());
    }
    void TearDown() override {
        if (agent && !agent->Done()) {
            RunProgram({torvik, "-c", "STOP", "-m", QM}, 60000);
            EXPECT_TRUE(WaitFor([&] { return agent->Done(); }, std::chrono::seconds(60)));
        }
        if (!mqsimDir.empty()) {
            LINUXRUN r = Linux(
                {"/usr/bin/env", "MQSIM_DIR=" + mqsimDir, LinuxBuild + "/bin/mqsim", "stop", QM});
            EXPECT_EQ(r.status, 0) << r.out;
        }
        agent.reset(); /* an agent still running ends with its connection */
    }

    /* Skip (with the reason) unless the Linux programs can be driven. */
    bool LinuxSideMissing() {
        if (LinuxBuild.empty()) {
            why =
                "TORVIK_LINUX_BUILD_DIR was not given: these tests drive the mqsim daemon and "
                "mqcmd of a Linux build of this tree (scripts/test --windows passes it)";
            return true;
        }
        if (LinuxPath(dir.path()).empty()) {
            why = "not running under wine: the Linux mqsim daemon cannot be started from here";
            return true;
        }
        return false;
    }

    /* Run a Linux program (args[0] a full path) to its end, at most
     * seconds long, through /bin/sh writing its output and status files. */
    LINUXRUN Linux(const std::vector<std::string> &args, int seconds = 120) {
        int n = ++runs;
        std::string base = "linux-" + std::to_string(n);
        std::string unixDir = LinuxPath(dir.path());
        std::vector<std::string> argv = {
            "/bin/sh",
            "-c",
            "out=$1; st=$2; shift 2; \"$@\" >\"$out\" 2>&1; echo $? >\"$st.tmp\"; "
            "mv \"$st.tmp\" \"$st\"",
            "sh",
            unixDir + "/" + base + ".out",
            unixDir + "/" + base + ".status"};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<const char *> av;
        for (const std::string &a : argv)
            av.push_back(a.c_str());
        av.push_back(nullptr);
        LINUXRUN r;
        int64_t pid = 0;
        int rc = PLStartDetached(av.data(), dir.file(base + ".sh.log").c_str(), &pid);
        if (rc != 0) {
            r.out = "cannot start /bin/sh: " + std::to_string(rc);
            return r;
        }
        std::string status = dir.file(base + ".status");
        if (WaitFor([&] { return tvtest::FileExists(status); }, std::chrono::seconds(seconds)))
            r.status = atoi(ReadFile(status).c_str());
        r.out = ReadFile(dir.file(base + ".out")) + ReadFile(dir.file(base + ".sh.log"));
        return r;
    }

    /* Start the daemon with TORVIK's objects and extra queues; point the
     * stand-in library at it. */
    void StartQueueManager(int queues) {
        mqsimDir = LinuxPath(dir.path()) + "/mqsim";
        LINUXRUN r =
            Linux({"/usr/bin/env", "MQSIM_DIR=" + mqsimDir, LinuxBuild + "/bin/mqsim", "start", QM,
                   "--mqsc", std::string(TV_SOURCE_DIR) + "/samples/torvik.mqsc", "--queues",
                   std::to_string(queues)});
        ASSERT_EQ(r.status, 0) << r.out;
        std::string portFile = ReadFile(dir.file(std::string("mqsim\\") + QM + ".port"));
        int port = atoi(portFile.c_str());
        ASSERT_GT(port, 0) << portFile;
        std::string addr = "127.0.0.1:" + std::to_string(port);
        PLSetEnv("MQSIM_ADDR", addr.c_str());
    }

    void StartAgent(const std::string &config) {
        tvtest::WriteFile(dir.file("TORVIK.CFG"), config);
        agent = std::make_unique<Background>(std::vector<std::string>{torvik, "-m", QM}, 240000);
        ASSERT_TRUE(LogHas("CVLA004I Parameters in effect:")) << Log();
    }

    std::string Log() { return ReadFile(dir.file("TORVIK_Log01.txt")); }
    bool LogHas(const std::string &what) {
        return WaitFor([&] { return Log().find(what) != std::string::npos; },
                       std::chrono::seconds(60));
    }

    /* The Linux mqcmd --json against the agent (or -q in args). */
    ANSWER AskLinux(std::vector<std::string> args) {
        args.insert(args.begin(), {"/usr/bin/env", "MQSIM_DIR=" + mqsimDir,
                                   LinuxBuild + "/bin/mqcmd", "-m", QM, "--json", "--wait", "60"});
        return ParseAnswer(Linux(args, 180));
    }

    tvtest::TempDir dir;
    std::string torvik;
    std::string mqsimDir; /* Linux name; empty until the daemon is started */
    std::unique_ptr<Background> agent;
    std::string why;
    int runs = 0;
};

const std::vector<std::string> InquireAllQueues = {"--pcf", "INQUIRE_Q", "MQCA_Q_NAME=*",
                                                   "MQIACF_Q_ATTRS=MQIACF_ALL"};

}  // namespace

TEST_F(WindowsAgent, QuestionMarkShowsTheUsageAndEndsWithExitCodeZero) {
    wintest::RUN run = RunProgram({torvik, "-?"});
    ASSERT_EQ(run.rc, 0);
    EXPECT_EQ(run.r.exitCode, 0);
    std::string out = Unix(run.out);
    EXPECT_EQ(CountOf(out,
                      "CVLA001I Corvel Software TORVIK : Command Server Agent for IBM MQ\n"
                      "  Version V9.4.0 Build Date:"),
              1)
        << out;
    EXPECT_EQ(CountOf(out,
                      "CVLA006E Usage: TORVIK <Optional flags as below>\n"
                      "  [-m <Queue Manager Name>]\n"),
              1)
        << out;
    EXPECT_EQ(CountOf(out, "CVLA099I"), 0);
    EXPECT_FALSE(tvtest::FileExists(dir.file("TORVIK_Log01.txt")));

    run = RunProgram({torvik, "/?"});
    ASSERT_EQ(run.rc, 0);
    EXPECT_EQ(run.r.exitCode, 0);
    EXPECT_EQ(CountOf(Unix(run.out), "CVLA006E Usage:"), 1);
}

TEST_F(WindowsAgent, ALibraryThatCannotBeLoadedIsReportedWithTheWindowsCode) {
    tvtest::TempDir empty;
    PLSetEnv("MQM_DLL_PATH", empty.path().c_str());
    PLSetEnv("MQACCESS_DEBUG", "1");
    tvtest::WriteFile(dir.file("TORVIK.CFG"), "certevent = no\n");
    wintest::RUN run = RunProgram({torvik, "-m", QM}, 120000);
    ASSERT_EQ(run.rc, 0);
    EXPECT_EQ(run.r.exitCode, 0);
    std::string out = Unix(run.out);
    EXPECT_NE(out.find("Loading '" + empty.path() + "\\mqm.dll'\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Load failed RC(126) "), std::string::npos) << out;
    std::string log = Log();
    EXPECT_EQ(CountOf(log, "CVLA100E Error loading MQAPI mqm.lib rc=126\n"), 1) << log;
    EXPECT_EQ(CountOf(log, "CVLA099I TORVIK Agent shutting down\n"), 1) << log;

    /* Without MQM_DLL_PATH the installation's bin64 directory. */
    PLSetEnv("MQM_DLL_PATH", nullptr);
    PLSetEnv("MQ_INSTALLATION_PATH", empty.path().c_str());
    run = RunProgram({torvik, "-m", QM}, 120000);
    ASSERT_EQ(run.rc, 0);
    EXPECT_EQ(run.r.exitCode, 0);
    out = Unix(run.out);
    EXPECT_NE(out.find("Loading '" + empty.path() + "\\bin64\\mqm.dll'\n"), std::string::npos)
        << out;
}

TEST_F(WindowsAgent, RoutesAnInquiryThroughMqmDllAndStopsOnTheStopCommand) {
    if (LinuxSideMissing())
        GTEST_SKIP() << why;
    ASSERT_NO_FATAL_FAILURE(StartQueueManager(60));
    ASSERT_NO_FATAL_FAILURE(StartAgent("certevent = no\nmaxmsgsize = 32768\n"));

    /* The command server's own answer, then the agent's. */
    std::vector<std::string> direct = {"-q", "SYSTEM.ADMIN.COMMAND.QUEUE"};
    direct.insert(direct.end(), InquireAllQueues.begin(), InquireAllQueues.end());
    ANSWER plain = AskLinux(direct);
    ASSERT_EQ(plain.run.status, 0) << plain.run.out;
    ANSWER routed = AskLinux(InquireAllQueues);
    ASSERT_EQ(routed.run.status, 0) << routed.run.out << Log();
    ASSERT_NE(routed.summary.Get("complete"), nullptr) << routed.run.out;
    EXPECT_TRUE(routed.summary.Get("complete")->boolean);

    /* Consolidated: fewer, larger messages under maxmsgsize, one delimiter
     * between the replies merged, the same queues with their blanks cut. */
    ASSERT_GE(plain.msgs.size(), 60u);
    EXPECT_GE(routed.msgs.size(), 2u) << "60 replies of about 1 KB do not fit 32 KB";
    EXPECT_LT(routed.msgs.size(), plain.msgs.size() / 4);
    int plainSeparators = 0, routedSeparators = 0;
    std::multiset<std::string> want = QueueNames(plain, &plainSeparators);
    std::multiset<std::string> got = QueueNames(routed, &routedSeparators);
    EXPECT_EQ(got, want);
    EXPECT_EQ(plainSeparators, 0);
    EXPECT_EQ(routedSeparators, static_cast<int>(plain.msgs.size() - routed.msgs.size()));
    for (const JVALUE &m : routed.msgs) {
        EXPECT_LE(Num(m, "length"), 32768);
        for (const JVALUE &p : Params(m)) {
            if (Num(p, "id") == MQCA_Q_NAME_ID) {
                EXPECT_NE(Str(p, "value").back(), ' ') << "compressed";
            }
        }
    }

    /* mqcmd.exe through the same mqm.dll (found on PATH, as Windows finds a
     * program's libraries) gets the same answer. */
    std::string path = PLGetEnv("PATH") != nullptr ? PLGetEnv("PATH") : "";
    PLSetEnv("PATH", (LibDir() + ";" + path).c_str());
    std::vector<std::string> args = {
        Join(BinDir(), "mqcmd.exe"), "-m", QM, "--json", "--wait", "60"};
    args.insert(args.end(), InquireAllQueues.begin(), InquireAllQueues.end());
    wintest::RUN run = RunProgram(args, 180000, 16 << 20);
    PLSetEnv("PATH", path.c_str());
    ASSERT_EQ(run.rc, 0);
    EXPECT_EQ(run.r.exitCode, 0) << run.out;
    LINUXRUN asRun;
    asRun.status = run.r.exitCode;
    asRun.out = run.out;
    ANSWER windows = ParseAnswer(asRun);
    int windowsSeparators = 0;
    EXPECT_EQ(QueueNames(windows, &windowsSeparators), want);
    EXPECT_EQ(windows.msgs.size(), routed.msgs.size());

    /* STOP from torvik.exe -c, through mqm.dll on a connection of its own. */
    run = RunProgram({torvik, "-c", "STOP", "-m", QM}, 60000);
    ASSERT_EQ(run.rc, 0);
    EXPECT_EQ(run.r.exitCode, 0) << run.out;
    ASSERT_TRUE(WaitFor([&] { return agent->Done(); }, std::chrono::seconds(60))) << Log();
    const wintest::RUN &end = agent->Join();
    EXPECT_EQ(end.rc, 0);
    EXPECT_EQ(end.r.exitCode, 0);
    EXPECT_EQ(end.r.timedOut, 0);

    /* The log beside the executable tells the whole story. */
    std::string log = Log();
    EXPECT_NE(log.find("CVLA005I Default overrides from file '" + dir.file("TORVIK.CFG") + "'"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("  Queue Manager        : QMWIN\n"), std::string::npos) << log;
    EXPECT_NE(log.find("  Input Queue          : CORVEL.TORVIK.COMMAND.QUEUE\n"), std::string::npos)
        << log;
    EXPECT_EQ(CountOf(log, "CVLA099I TORVIK Agent shutting down\n"), 1) << log;
    EXPECT_EQ(log.find("\r\n"), std::string::npos) << "the log is written in binary";
    EXPECT_FALSE(std::regex_search(log, std::regex("CVLA[0-9]{3}E"))) << log;
}
