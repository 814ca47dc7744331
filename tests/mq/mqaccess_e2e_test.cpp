/* mqaccess_e2e_test.cpp -- the agent brought up on the stand-in queue
 * manager and ended every way it can end: STOP from mqcmd and from
 * torvik -c, REPORT, a broken or quiescing queue manager, connection
 * events, a GET(DISABLED) input queue, failed MQI calls at start-up, older
 * and client connections, z/OS, and Q then Y on a terminal.
 *
 * Each test has its own temporary directory: mqsim's state ($MQSIM_DIR),
 * the configuration file and the log. The processes run through the
 * platform layer (PLRunProcess on a thread of the test) and are ended by
 * the test even when an assertion fails.
 */
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/test_process.h"
#include "core/test_support.h"
#include "platform/net.h"
#include "platform/platform.h"
#include "testbed/mqsim_fixture.h"

namespace {

const std::string BIN = TV_BIN_DIR;
const std::string LIB = TV_LIB_DIR;
const char QM[] = "QME2E";
const char INPUT_Q[] = "CORVEL.TORVIK.COMMAND.QUEUE";

using RESULT = tvtest::PROGRAMRESULT;
using Background = tvtest::BackgroundProgram;
using tvtest::RunProgram;

/* The since-start figure of "Commands Received" in the report at from. */
int CommandsSinceStart(const std::string &log, size_t from) {
    const std::string label = "  Commands Received         :";
    size_t at = from == std::string::npos ? from : log.find(label, from);
    return at == std::string::npos ? -1 : atoi(log.c_str() + at + label.size());
}

/* Lines of output other than the date line that precedes the first
 * message of a day. */
int MessageLines(const std::string &out) {
    int n = 0;
    for (auto &line : tvtest::SplitLines(out))
        n += line.find("CVLA002I Current Date: ") == std::string::npos;
    return n;
}

class AgentOnQueueManager : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir.path().empty());
        ASSERT_EQ(qm.Prepare(), "");
        PLSetEnv("MQM_DLL_PATH", LIB.c_str());
        PLSetEnv("MQ_INSTALLATION_PATH", nullptr);
        std::filesystem::create_directories(dir.file("log"));
        WriteConfig("certevent = no\n");
    }
    void TearDown() override {
        qm.Stop();
        agent.reset(); /* ends with the queue manager, or at its time-out */
    }

    void WriteConfig(const std::string &extra) {
        tvtest::WriteFile(dir.file("torvik.cfg"),
                          "logpath = \"" + dir.file("log") + "\"\n" + extra);
    }
    void StartQueueManager(std::vector<std::string> options = {}) {
        options.insert(options.begin(), {"--mqsc", MqsimQueueManager::Sample("torvik.mqsc")});
        ASSERT_EQ(qm.Start(QM, options), "");
    }
    void Mqsim(const std::vector<std::string> &args) {
        std::string out;
        ASSERT_EQ(qm.Run(args, &out), 0) << out;
    }
    void StartAgent(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {BIN + "/torvik",       "-m", QM, "-k", "-f",
                                         dir.file("torvik.cfg")};
        args.insert(args.end(), extra.begin(), extra.end());
        agent = std::make_unique<Background>(args);
    }
    std::string Log() { return tvtest::ReadFile(dir.file("log/TORVIK_Log01.txt")); }
    bool LogHas(const std::string &what) {
        return tvtest::WaitFor([&] { return Log().find(what) != std::string::npos; },
                               std::chrono::seconds(30));
    }
    /* The agent is up: consumption started and the loop running. */
    void WaitUntilUp() { ASSERT_TRUE(LogHas("CVLA004I Parameters in effect:")) << Log(); }
    /* The agent ended by itself, in order, with exit code 0. */
    void ExpectOrderlyEnd() {
        ASSERT_TRUE(tvtest::WaitFor([&] { return agent->Done(); }, std::chrono::seconds(60)))
            << Log();
        const RESULT &r = agent->Join();
        EXPECT_EQ(r.rc, 0);
        EXPECT_EQ(r.proc.timedOut, 0);
        EXPECT_EQ(r.proc.exitCode, 0);
        std::string log = Log();
        EXPECT_EQ(tvtest::CountOf(log, "CVLA099I TORVIK Agent shutting down"), 1) << log;
        EXPECT_NE(log.find("CVLA080I TORVIK Status Report"), std::string::npos);
        /* The separator line closes the run in the log. */
        size_t end = log.find("CVLA099I TORVIK Agent shutting down\n");
        ASSERT_NE(end, std::string::npos);
        std::string next = log.substr(log.find('\n', end) + 1);
        EXPECT_EQ(next.substr(next.find(' ') + 1), std::string(39, '-') + "\n") << log;
    }
    RESULT Mqcmd(std::vector<std::string> args) {
        args.insert(args.begin(), {BIN + "/mqcmd", "-m", QM});
        return RunProgram(args);
    }

    tvtest::TempDir dir;
    MqsimQueueManager qm;
    std::unique_ptr<Background> agent;
};

TEST_F(AgentOnQueueManager, ComesUpReportsAndStopsOnTheStopCommand) {
    StartQueueManager();
    StartAgent();
    WaitUntilUp();
    std::string log = Log();
    EXPECT_NE(log.find("CVLA001I Corvel Software TORVIK : Command Server Agent for IBM MQ"),
              std::string::npos);
    EXPECT_NE(log.find("  Queue Manager        : " + std::string(QM) + "\n"), std::string::npos);
    EXPECT_NE(log.find("  Input Queue          : " + std::string(INPUT_Q) + "\n"),
              std::string::npos);
    EXPECT_NE(log.find("  Reply Queue          : SYSTEM.DEFAULT.MODEL.QUEUE\n"), std::string::npos);
    EXPECT_NE(log.find("  Actual Reply Queue   : CORVEL.TORVIK."), std::string::npos) << log;
    EXPECT_NE(log.find("  Verbose Level        : "), std::string::npos);
    EXPECT_NE(log.find("CVLA005I"), std::string::npos); /* the file set keys */

    /* REPORT: a status report now, the agent runs on. */
    RESULT report = Mqcmd({"--simple", "REPORT"});
    ASSERT_EQ(report.proc.exitCode, 0) << report.out;
    ASSERT_TRUE(LogHas("CVLA080I TORVIK Status Report")) << Log();
    EXPECT_FALSE(agent->Done());

    RESULT stop = Mqcmd({"--simple", "STOP"});
    ASSERT_EQ(stop.proc.exitCode, 0) << stop.out;
    ExpectOrderlyEnd();
    log = Log();
    EXPECT_NE(log.find("CVLA021I STOP command received"), std::string::npos);
    /* REPORT is counted after its report: the final one shows REPORT and
     * STOP in both columns. */
    size_t last = log.rfind("CVLA080I");
    ASSERT_NE(last, std::string::npos);
    std::string final = log.substr(last);
    EXPECT_NE(final.find("  Commands Received         :           2 :           2\n"),
              std::string::npos)
        << final;
    EXPECT_NE(final.find("  Command Bytes Received    :         10B :         10B\n"),
              std::string::npos)
        << final;
    EXPECT_NE(log.find("CVLA223I Certificate Expiry Events are disabled\n"), std::string::npos);
    /* The dynamic reply queue went with the connection. */
    std::string status;
    EXPECT_EQ(qm.Run({"status", QM}, &status), 0);
    EXPECT_EQ(tvtest::CountOf(status, "QUEUE(CORVEL.TORVIK."), 1) << status; /* input queue */
}

TEST_F(AgentOnQueueManager, TorvikMinusCStopsARunningAgentAndWritesNothing) {
    StartQueueManager();
    StartAgent();
    WaitUntilUp();

    /* A copy of the program in a directory of its own shows that -c makes
     * no log file beside the executable. */
    std::string copyDir = dir.file("cbin");
    std::filesystem::create_directories(copyDir);
    std::filesystem::copy_file(BIN + "/torvik" + PL_EXE_SUFFIX,
                               copyDir + "/torvik" + PL_EXE_SUFFIX);
    RESULT c = RunProgram({copyDir + "/torvik", "-c", "STOP", "-m", QM}, 60000, copyDir);
    ASSERT_EQ(c.rc, 0);
    EXPECT_EQ(c.proc.exitCode, 0);
    EXPECT_EQ(c.out, "");
    ExpectOrderlyEnd();
    std::string log = Log();
    EXPECT_NE(log.find("CVLA021I STOP command received"), std::string::npos);
    size_t last = log.rfind("CVLA080I");
    ASSERT_NE(last, std::string::npos);
    EXPECT_NE(log.find("  Commands Received         :           1 :           1\n", last),
              std::string::npos);
    EXPECT_NE(log.find("  Command Bytes Received    :          4B :          4B\n", last),
              std::string::npos);
    for (auto &entry : std::filesystem::directory_iterator(copyDir))
        EXPECT_EQ(entry.path().filename().string().rfind("TORVIK_Log", 0), std::string::npos)
            << entry.path();
}

TEST_F(AgentOnQueueManager, TorvikMinusCReportsOnlyAFailedConnect) {
    StartQueueManager();
    RESULT c = RunProgram({BIN + "/torvik", "-c", "STOP", "-m", "NOSUCHQM"}, 60000, dir.path());
    ASSERT_EQ(c.rc, 0);
    EXPECT_EQ(c.proc.exitCode, 0);
    EXPECT_NE(c.out.find("CVLA101E MQCONN to queue manager 'NOSUCHQM' failed with reason "),
              std::string::npos)
        << c.out;
    EXPECT_EQ(c.out.find("CVLA001I"), std::string::npos);
    EXPECT_EQ(c.out.find("CVLA099I"), std::string::npos);
    EXPECT_EQ(MessageLines(c.out), 1) << c.out;

    /* A put that fails: CVLA107E and nothing else. */
    Mqsim({"mqsc", QM, "ALTER QLOCAL(" + std::string(INPUT_Q) + ") PUT(DISABLED)"});
    c = RunProgram({BIN + "/torvik", "-c", "STOP", "-m", QM}, 60000, dir.path());
    EXPECT_EQ(c.proc.exitCode, 0);
    EXPECT_NE(c.out.find("CVLA107E MQPUT to queue '" + std::string(INPUT_Q) +
                         "' failed with reason 2051"),
              std::string::npos)
        << c.out;
    EXPECT_EQ(MessageLines(c.out), 1) << c.out;
}

TEST_F(AgentOnQueueManager, ABrokenConnectionGivesOneMessageAndAnOrderlyEnd) {
    StartQueueManager();
    StartAgent();
    WaitUntilUp();
    Mqsim({"break", QM});
    ExpectOrderlyEnd();
    std::string log = Log();
    EXPECT_EQ(tvtest::CountOf(log, "CVLA199E"), 1) << log;
    EXPECT_NE(log.find("CVLA199E TORVIK received reason code 2009 ("), std::string::npos) << log;
}

TEST_F(AgentOnQueueManager, AQuiescingQueueManagerGivesOneMessageAndAnOrderlyEnd) {
    StartQueueManager();
    StartAgent();
    WaitUntilUp();
    Mqsim({"stop", QM, "--quiesce"});
    ExpectOrderlyEnd();
    std::string log = Log();
    EXPECT_EQ(tvtest::CountOf(log, "CVLA199E"), 1) << log;
    EXPECT_NE(log.find("CVLA199E TORVIK received reason code 2161 ("), std::string::npos) << log;
}

TEST_F(AgentOnQueueManager, AConnectionEventStopsTheAgentOnce) {
    StartQueueManager();
    StartAgent();
    WaitUntilUp();
    Mqsim({"fault", QM, "event", "2202"});
    ExpectOrderlyEnd();
    std::string log = Log();
    EXPECT_EQ(tvtest::CountOf(log, "CVLA199E"), 1) << log;
    EXPECT_NE(log.find("CVLA199E TORVIK received reason code 2202 ("), std::string::npos) << log;
}

TEST_F(AgentOnQueueManager, AGetDisabledInputQueueStopsTheAgent) {
    StartQueueManager();
    StartAgent();
    WaitUntilUp();
    Mqsim({"mqsc", QM, "ALTER QLOCAL(" + std::string(INPUT_Q) + ") GET(DISABLED)"});
    ExpectOrderlyEnd();
    std::string log = Log();
    EXPECT_NE(log.find("CVLA120E Queue '" + std::string(INPUT_Q) + "' has been GET(INHIBITED)"),
              std::string::npos)
        << log;
    EXPECT_EQ(tvtest::CountOf(log, "CVLA199E"), 0) << log;
}

TEST_F(AgentOnQueueManager, ConnectsAtTheSecondAttemptWhenVersion7IsRefused) {
    StartQueueManager({"--refuse-cno-v7"});
    StartAgent();
    WaitUntilUp();
    EXPECT_EQ(Log().find("CVLA101E"), std::string::npos);
    RESULT stop = Mqcmd({"--simple", "STOP"});
    ASSERT_EQ(stop.proc.exitCode, 0) << stop.out;
    ExpectOrderlyEnd();
}

TEST_F(AgentOnQueueManager, AClientConnectionDisablesCertificateEvents) {
    WriteConfig(""); /* certevent asqmgr: only the client connection disables it */
    StartQueueManager({"--client-channel", "TORVIK.SVRCONN"});
    StartAgent();
    WaitUntilUp();
    std::string log = Log();
    EXPECT_NE(log.find("CVLA112I A client-connection was made using channel 'TORVIK.SVRCONN'. "
                       "Certificate Event checking disabled"),
              std::string::npos)
        << log;
    RESULT stop = Mqcmd({"--simple", "STOP"});
    ASSERT_EQ(stop.proc.exitCode, 0) << stop.out;
    ExpectOrderlyEnd();
    /* certevent is Disabled: the timer never sent STARTCERT, so STOP was
     * the only command. */
    log = Log();
    size_t last = log.rfind("CVLA080I");
    ASSERT_NE(last, std::string::npos);
    EXPECT_NE(log.find("  Commands Received         :           1 :           1\n", last),
              std::string::npos)
        << log.substr(last);
    EXPECT_EQ(tvtest::CountOf(log, "CVLA112I"), 1) << log;
}

TEST_F(AgentOnQueueManager, TheCertificateTimerSendsStartCertOnce) {
    WriteConfig(""); /* certevent asqmgr */
    StartQueueManager();
    StartAgent();
    WaitUntilUp();
    /* REPORT until a report shows more commands than the REPORTs before
     * it: the timer's STARTCERT has been taken. */
    int reports = 0;
    bool seen = false;
    while (!seen && reports < 30) {
        RESULT report = Mqcmd({"--simple", "REPORT"});
        ASSERT_EQ(report.proc.exitCode, 0) << report.out;
        reports++;
        ASSERT_TRUE(tvtest::WaitFor([&] { return tvtest::CountOf(Log(), "CVLA080I") == reports; },
                                    std::chrono::seconds(30)))
            << Log();
        std::string log = Log();
        seen = CommandsSinceStart(log, log.rfind("CVLA080I")) > reports - 1;
    }
    ASSERT_TRUE(seen) << Log();
    RESULT stop = Mqcmd({"--simple", "STOP"});
    ASSERT_EQ(stop.proc.exitCode, 0) << stop.out;
    ExpectOrderlyEnd();
    std::string log = Log();
    EXPECT_EQ(log.find("CVLA212E"), std::string::npos) << log;
    /* Besides the REPORTs (6 bytes) and STOP (4) the agent got k STARTCERT
     * (9 bytes each) from its timer: at least one, and since the check
     * records its start, not one per cycle (the unit tests pin the
     * interval). */
    size_t last = log.rfind("CVLA080I");
    int k = CommandsSinceStart(log, last) - reports - 1;
    EXPECT_GE(k, 1) << log.substr(last);
    EXPECT_LE(k, 3) << log.substr(last);
    std::string bytes = std::to_string(9 * k + 6 * reports + 4) + "B :";
    EXPECT_NE(log.find(bytes, last), std::string::npos) << log.substr(last);
}

TEST_F(AgentOnQueueManager, AZosQueueManagerSwitchesTheCommandQueue) {
    /* commandq names a queue that does not exist: only the switch to
     * SYSTEM.COMMAND.INPUT lets the agent come up. */
    WriteConfig("commandq = NO.SUCH.COMMAND.QUEUE\n");
    StartQueueManager({"--platform", "zos"});
    StartAgent();
    WaitUntilUp();
    EXPECT_EQ(Log().find("CVLA104E"), std::string::npos) << Log();
    RESULT stop = Mqcmd({"--simple", "STOP"});
    ASSERT_EQ(stop.proc.exitCode, 0) << stop.out;
    ExpectOrderlyEnd();
}

TEST_F(AgentOnQueueManager, WithoutZosAMissingCommandQueueEndsTheStart) {
    WriteConfig("commandq = NO.SUCH.COMMAND.QUEUE\n");
    StartQueueManager();
    StartAgent();
    ExpectOrderlyEnd();
    std::string log = Log();
    EXPECT_NE(log.find("CVLA104E MQOPEN of queue 'NO.SUCH.COMMAND.QUEUE' failed with reason 2085"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("CVLA004I"), std::string::npos);
}

TEST_F(AgentOnQueueManager, FailedQueueManagerObjectCallsAreReportedAndTheAgentCarriesOn) {
    StartQueueManager();
    Mqsim({"fault", QM, "call", "MQOPEN", "QMGR", "2035", "1"});
    StartAgent();
    WaitUntilUp();
    EXPECT_NE(Log().find("CVLA102E MQOPEN of queue manager object failed with reason 2035 ("),
              std::string::npos)
        << Log();
    RESULT stop = Mqcmd({"--simple", "STOP"});
    ASSERT_EQ(stop.proc.exitCode, 0) << stop.out;
    ExpectOrderlyEnd();
}

TEST_F(AgentOnQueueManager, AFailedInquiryIsReportedAndTheAgentCarriesOn) {
    StartQueueManager();
    Mqsim({"fault", QM, "call", "MQINQ", "QMGR", "2035", "1"});
    StartAgent();
    WaitUntilUp();
    EXPECT_NE(Log().find("CVLA103E MQINQ of queue manager object failed with reason 2035 ("),
              std::string::npos)
        << Log();
    RESULT stop = Mqcmd({"--simple", "STOP"});
    ASSERT_EQ(stop.proc.exitCode, 0) << stop.out;
    ExpectOrderlyEnd();
}

TEST_F(AgentOnQueueManager, AFailedMqctlEndsTheStartInOrder) {
    StartQueueManager();
    Mqsim({"fault", QM, "call", "MQCTL", "*", "2012", "1"});
    StartAgent();
    ExpectOrderlyEnd();
    std::string log = Log();
    EXPECT_NE(log.find("CVLA106E MQCTL on queue manager '" + std::string(QM) +
                       "' failed with reason 2012 ("),
              std::string::npos)
        << log;
}

TEST_F(AgentOnQueueManager, QThenYOnTheConsoleEndsTheAgent) {
    if (PL_PATH_SEPARATOR != '/' || !std::filesystem::exists("/usr/bin/script"))
        GTEST_SKIP() << "needs util-linux script for a pseudo-terminal";
    StartQueueManager();
    /* script runs the agent on a pseudo-terminal and types what the shell
     * prints, each key once the agent's output shows it is due. */
    std::string typescript = dir.file("typescript");
    std::string log = dir.file("log/TORVIK_Log01.txt");
    std::string waitFor =
        "w() { i=0; until grep -q \"$2\" \"$1\" 2>/dev/null; do sleep 0.1; i=$((i+1)); "
        "[ $i -gt 300 ] && exit 1; done; }; ";
    std::string keys = "( " + waitFor + "w '" + log + "' CVLA004I; printf q; w '" + typescript +
                       "' 'Unrecognised command'; printf Q; w '" + typescript +
                       "' 'Are you sure'; printf Y; w '" + log + "' CVLA099I )";
    std::string agentCmd = BIN + "/torvik -m " + QM + " -f " + dir.file("torvik.cfg");
    std::string shell = keys + " | script -qfec '" + agentCmd + "' '" + typescript + "'";
    agent = std::make_unique<Background>(std::vector<std::string>{"/bin/sh", "-c", shell});
    ExpectOrderlyEnd();
    std::string screen = tvtest::ReadFile(typescript);
    EXPECT_NE(screen.find("Unrecognised command 'q'."), std::string::npos) << screen;
    EXPECT_NE(screen.find("Are you sure you want to quit?  "), std::string::npos) << screen;
    /* On a terminal the status line is shown. */
    EXPECT_NE(screen.find(" Cmd["), std::string::npos) << screen;
    EXPECT_NE(screen.find("] Rep["), std::string::npos) << screen;
}

TEST_F(AgentOnQueueManager, StartedInTheBackgroundOfATerminalItKeepsServing) {
    if (PL_PATH_SEPARATOR != '/' || !std::filesystem::exists("/usr/bin/script") ||
        !std::filesystem::exists("/bin/bash"))
        GTEST_SKIP() << "needs util-linux script and bash for a pseudo-terminal";
    StartQueueManager();
    /* A shell with job control on a pseudo-terminal starts the agent as a
     * background job, as "torvik ... &" at a prompt does. */
    std::string job = dir.file("job.sh");
    tvtest::WriteFile(job, "set -m\n" + BIN + "/torvik -m " + QM + " -f " + dir.file("torvik.cfg") +
                               " &\nwait $!\n");
    std::string log = dir.file("log/TORVIK_Log01.txt");
    std::string keepInputOpen = "( i=0; until grep -q CVLA099I '" + log +
                                "' 2>/dev/null; do sleep 0.1; i=$((i+1)); "
                                "[ $i -gt 600 ] && exit 1; done )";
    std::string shell =
        keepInputOpen + " | script -qfec 'bash " + job + "' '" + dir.file("typescript") + "'";
    agent = std::make_unique<Background>(std::vector<std::string>{"/bin/sh", "-c", shell});
    WaitUntilUp();
    /* A request is served and STOP is taken. */
    RESULT report = Mqcmd({"--simple", "REPORT"});
    ASSERT_EQ(report.proc.exitCode, 0) << report.out;
    ASSERT_TRUE(LogHas("CVLA080I TORVIK Status Report")) << Log();
    RESULT stop = Mqcmd({"--simple", "STOP"});
    ASSERT_EQ(stop.proc.exitCode, 0) << stop.out;
    ExpectOrderlyEnd();
}

TEST_F(AgentOnQueueManager, TerminationSignalsEndTheAgentAsStopDoes) {
    StartQueueManager();
    for (const char *signal : {"-TERM", "-INT"}) {
        std::filesystem::remove(dir.file("log/TORVIK_Log01.txt"));
        /* The shell tells its process id, which the agent takes over. */
        std::string pidFile = dir.file("agent.pid");
        std::filesystem::remove(pidFile);
        std::string script = "echo $$ > " + pidFile + "; exec " + BIN + "/torvik -m " + QM +
                             " -k -f " + dir.file("torvik.cfg");
        agent = std::make_unique<Background>(std::vector<std::string>{"/bin/sh", "-c", script});
        WaitUntilUp();
        std::string pid = tvtest::ReadFile(pidFile);
        while (!pid.empty() && (pid.back() == '\n' || pid.back() == ' '))
            pid.pop_back();
        ASSERT_FALSE(pid.empty());
        RESULT kill = RunProgram({"kill", signal, pid});
        ASSERT_EQ(kill.proc.exitCode, 0) << kill.out;
        ExpectOrderlyEnd();
        agent.reset();
    }
}

TEST_F(AgentOnQueueManager, ConfigurationErrorsOfAServiceReachTheLogFile) {
    StartQueueManager();
    WriteConfig("certevent = no\nmaxmsgsize 64 KB\n");
    StartAgent();
    WaitUntilUp();
    std::string log = Log();
    EXPECT_NE(log.find("CVLA007E Unrecognised parameter 'KB'"), std::string::npos) << log;
    /* Before the banner, as they happened. */
    EXPECT_LT(log.find("CVLA007E"), log.find("CVLA001I"));
    RESULT stop = Mqcmd({"--simple", "STOP"});
    ASSERT_EQ(stop.proc.exitCode, 0) << stop.out;
    ExpectOrderlyEnd();
}

} /* namespace */
