/* win_e2e_test.cpp -- torvik.exe, through mqm.dll against the mqsim daemon
 * of a Linux build (TV_LINUX_BUILD_DIR), consolidates the replies that
 * mqcmd.exe reads until torvik.exe -c STOP ends it. Wine cannot wait for a
 * Linux program: mqsim runs under /bin/sh, which leaves its output and
 * exit status in files that the test polls for. */
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "support/harness.h"
#include "windows/win_support.h"

using tvtest::ANSWER;
using tvtest::CountOf;
using tvtest::PROGRAMRESULT;
using tvtest::ReadFile;
using tvtest::RunProgram;
using wintest::Unix;

namespace {

const std::string LinuxBuild = TV_LINUX_BUILD_DIR;
const char QM[] = "QMWIN";

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

class WindowsAgent : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir.path().empty());
        if (LinuxBuild.empty())
            GTEST_SKIP() << "TORVIK_LINUX_BUILD_DIR was not given: this test drives the mqsim "
                            "daemon of a Linux build (scripts/test --windows passes it)";
        if (LinuxPath(dir.path()).empty())
            GTEST_SKIP() << "not under wine: the Linux mqsim daemon cannot be started from here";
        torvik = dir.file("torvik.exe");
        std::filesystem::copy_file(wintest::Join(wintest::BuildDirectory("bin"), "torvik.exe"),
                                   torvik);
        PLSetEnv("MQ_INSTALLATION_PATH", nullptr);
        PLSetEnv("MQACCESS_DEBUG", nullptr);
        PLSetEnv("MQSIM_ADDR", nullptr);
        /* A trailing "\" gets no second one. */
        PLSetEnv("MQM_DLL_PATH", (wintest::BuildDirectory("lib") + "\\").c_str());
    }
    void TearDown() override {
        if (agent && !agent->Done()) {
            RunProgram({torvik, "-c", "STOP", "-m", QM}, 60000);
            EXPECT_TRUE(WaitUntil([&] { return agent->Done(); }, 60000));
        }
        if (!mqsimDir.empty()) {
            std::string out;
            EXPECT_EQ(Mqsim({"stop", QM}, &out), 0) << out;
        }
        agent.reset(); /* an agent still running ends with its connection */
    }

    /* The Linux mqsim's exit code (-1: not ended within two minutes). */
    int Mqsim(const std::vector<std::string> &args, std::string *out) {
        std::string base = "linux-" + std::to_string(++runs);
        std::string at = LinuxPath(dir.path()) + "/" + base;
        std::string sh =
            "out=$1; st=$2; shift 2; \"$@\" >\"$out\" 2>&1; echo $? >\"$st.t\"; "
            "mv \"$st.t\" \"$st\"";
        std::vector<std::string> argv = {"/bin/sh", "-c", sh, "sh", at + ".out", at + ".status"};
        argv.insert(argv.end(),
                    {"/usr/bin/env", "MQSIM_DIR=" + mqsimDir, LinuxBuild + "/bin/mqsim"});
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<const char *> av;
        for (const std::string &a : argv)
            av.push_back(a.c_str());
        av.push_back(nullptr);
        int64_t pid = 0;
        int rc = PLStartDetached(av.data(), dir.file(base + ".sh.log").c_str(), &pid);
        if (rc != 0) {
            *out = "cannot start /bin/sh: " + std::to_string(rc);
            return -1;
        }
        std::string status = dir.file(base + ".status");
        int code = -1;
        if (WaitUntil([&] { return tvtest::FileExists(status); }, 120000))
            code = atoi(ReadFile(status).c_str());
        *out = ReadFile(dir.file(base + ".out")) + ReadFile(dir.file(base + ".sh.log"));
        return code;
    }

    /* The daemon with TORVIK's objects and extra queues; mqm.dll is sent there. */
    void StartQueueManager(int queues) {
        mqsimDir = LinuxPath(dir.path()) + "/mqsim";
        std::string out;
        ASSERT_EQ(Mqsim({"start", QM, "--mqsc", MqsimQueueManager::Sample("torvik.mqsc"),
                         "--queues", std::to_string(queues)},
                        &out),
                  0)
            << out;
        std::string portFile = ReadFile(dir.file(std::string("mqsim\\") + QM + ".port"));
        int port = atoi(portFile.c_str());
        ASSERT_GT(port, 0) << portFile;
        PLSetEnv("MQSIM_ADDR", ("127.0.0.1:" + std::to_string(port)).c_str());
    }

    void StartAgent(const std::string &config) {
        tvtest::WriteFile(dir.file("TORVIK.CFG"), config);
        agent = std::make_unique<tvtest::BackgroundProgram>(
            std::vector<std::string>{torvik, "-m", QM}, 240000);
        ASSERT_TRUE(
            WaitUntil([&] { return CountOf(Log(), "CVLA004I Parameters in effect:"); }, 60000))
            << Log();
    }

    std::string Log() { return ReadFile(dir.file("TORVIK_Log01.txt")); }

    /* mqcmd.exe --json against the agent, through the same mqm.dll (found
     * on PATH, as Windows finds a program's libraries). */
    ANSWER Ask(const std::vector<std::string> &args) {
        std::string path = PLGetEnv("PATH") != nullptr ? PLGetEnv("PATH") : "";
        PLSetEnv("PATH", (wintest::BuildDirectory("lib") + ";" + path).c_str());
        std::string mqcmd = wintest::Join(wintest::BuildDirectory("bin"), "mqcmd.exe");
        std::vector<std::string> argv = {mqcmd, "-m", QM, "--json", "--wait", "60"};
        argv.insert(argv.end(), args.begin(), args.end());
        PROGRAMRESULT run = RunProgram(argv, 180000, "", 16 << 20);
        PLSetEnv("PATH", path.c_str());
        ANSWER a = tvtest::ParseAnswer(Unix(run.out));
        a.exitCode = run.rc == 0 ? run.proc.exitCode : -1;
        return a;
    }

    tvtest::TempDir dir;
    std::string torvik;
    std::string mqsimDir; /* Linux name; empty until the daemon is started */
    std::unique_ptr<tvtest::BackgroundProgram> agent;
    int runs = 0;
};

}  // namespace

TEST_F(WindowsAgent, RoutesAnInquiryThroughMqmDllAndStopsOnTheStopCommand) {
    ASSERT_NO_FATAL_FAILURE(StartQueueManager(60));
    ASSERT_NO_FATAL_FAILURE(StartAgent("certevent = no\nmaxmsgsize = 32768\n"));

    /* Consolidated: far fewer messages than queues, none over maxmsgsize. */
    ANSWER routed = Ask({"--pcf", "INQUIRE_Q", "MQCA_Q_NAME=*", "MQIACF_Q_ATTRS=MQIACF_ALL"});
    ASSERT_EQ(routed.exitCode, 0) << routed.out << Log();
    ASSERT_NE(routed.summary.Get("complete"), nullptr) << routed.out;
    EXPECT_TRUE(routed.summary.Get("complete")->boolean);
    EXPECT_TRUE(routed.notJson.empty());
    size_t queues = CountOf(routed.out, "\"name\":\"MQCA_Q_NAME\"");
    EXPECT_GE(queues, 60u);
    EXPECT_GE(routed.msgs.size(), 2u) << "60 replies of about 1 KB do not fit 32 KB";
    EXPECT_LT(routed.msgs.size(), queues / 4);
    for (const JVALUE &m : routed.msgs)
        EXPECT_LE(tvtest::Num(m, "length"), 32768);

    /* STOP from torvik.exe -c, through mqm.dll on a connection of its own. */
    PROGRAMRESULT run = RunProgram({torvik, "-c", "STOP", "-m", QM}, 60000);
    ASSERT_EQ(run.rc, 0);
    EXPECT_EQ(run.proc.exitCode, 0) << run.out;
    ASSERT_TRUE(WaitUntil([&] { return agent->Done(); }, 60000)) << Log();
    const PROGRAMRESULT &end = agent->Join();
    EXPECT_EQ(end.rc, 0);
    EXPECT_EQ(end.proc.exitCode, 0);
    EXPECT_EQ(end.proc.timedOut, 0);

    /* The log beside the executable, written in binary, with no error. */
    std::string log = Log();
    EXPECT_NE(log.find("CVLA005I Default overrides from file '" + dir.file("TORVIK.CFG") + "'"),
              std::string::npos)
        << log;
    EXPECT_EQ(CountOf(log, "CVLA099I TORVIK Agent shutting down\n"), 1) << log;
    EXPECT_EQ(log.find("\r\n"), std::string::npos);
    EXPECT_FALSE(std::regex_search(log, std::regex("CVLA[0-9]{3}E"))) << log;
}
