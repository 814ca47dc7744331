/* mqaccess_e2e_test.cpp -- what only a process on the stand-in queue
 * manager shows: the agent on a client connection, torvik -c, keys typed
 * on a terminal, a background job and termination signals. What the queue
 * manager does to it is in the fault matrix (tests/routing); REPORT and the
 * counts are tested on the command consumer and the status report.
 */
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/harness.h"

namespace {

using namespace tvtest;

class AgentOnQueueManager : public AgentTest {};

}  // namespace

/* torvik -c on a client connection: only a failed put is reported (a
 * failed connect is tested on the program alone); a client connection
 * disables certificate events, so the timer never sends STARTCERT. */
TEST_F(AgentOnQueueManager, TorvikMinusCStopsAClientConnectedAgent) {
    StartQueueManager({"--client-channel", "TORVIK.SVRCONN"});
    const std::string inputQ = INPUT_Q;
    Mqsim({"mqsc", QM, "ALTER QLOCAL(" + inputQ + ") PUT(DISABLED)"});
    PROGRAMRESULT c = RunProgram({BIN + "/torvik", "-c", "STOP", "-m", QM}, 60000, dir.path());
    EXPECT_EQ(c.proc.exitCode, 0);
    EXPECT_NE(c.out.find("CVLA107E MQPUT to queue '" + inputQ + "' failed with reason 2051"),
              std::string::npos)
        << c.out;
    /* one line besides the date line that precedes the first message of a day */
    EXPECT_EQ(SplitLines(c.out).size() - CountOf(c.out, "CVLA002I Current Date: "), 1u) << c.out;

    Mqsim({"mqsc", QM, "ALTER QLOCAL(" + inputQ + ") PUT(ENABLED)"});
    StartAgent(""); /* certevent asqmgr: only the client connection disables it */
    std::string log = Log();
    EXPECT_EQ(CountOf(log,
                      "CVLA112I A client-connection was made using channel "
                      "'TORVIK.SVRCONN'. Certificate Event checking disabled"),
              1)
        << log;
    EXPECT_NE(log.find("  Queue Manager        : QMTEST\n  Input Queue          : " + inputQ +
                       "\n  Reply Queue          : SYSTEM.DEFAULT.MODEL.QUEUE\n"
                       "  Actual Reply Queue   : CORVEL.TORVIK."),
              std::string::npos)
        << log;
    c = RunProgram({BIN + "/torvik", "-c", "STOP", "-m", QM}, 60000, dir.path());
    ASSERT_EQ(c.rc, 0);
    EXPECT_EQ(c.proc.exitCode, 0);
    EXPECT_EQ(c.out, "");
    ExpectOrderlyEnd();
    log = Log();
    EXPECT_NE(log.find("CVLA021I STOP command received"), std::string::npos);
    EXPECT_NE(log.find("  Commands Received         :           1 :           1\n",
                       log.rfind("CVLA080I")),
              std::string::npos)
        << log;
    /* the dynamic reply queue went: the input and initiation queues are left */
    std::string status;
    EXPECT_EQ(qm.Run({"status", QM}, &status), 0);
    EXPECT_EQ(CountOf(status, "QUEUE(CORVEL.TORVIK."), 2) << status;
}

/* Shell text that waits (up to a minute) until file holds text. */
std::string WaitInShell(const std::string &file, const std::string &text) {
    return "i=0; until grep -q '" + text + "' '" + file +
           "' 2>/dev/null; do sleep 0.1; i=$((i+1)); [ $i -gt 600 ] && exit 1; done; ";
}

TEST_F(AgentOnQueueManager, QThenYOnTheConsoleEndsTheAgent) {
    if (PL_PATH_SEPARATOR != '/' || !std::filesystem::exists("/usr/bin/script"))
        GTEST_SKIP() << "needs util-linux script for a pseudo-terminal";
    StartQueueManager();
    /* script runs the agent on a pseudo-terminal and types what the shell
     * prints, each key once the agent's output shows it is due. */
    std::string typescript = dir.file("typescript");
    std::string log = dir.file("log/TORVIK_Log01.txt");
    std::string keys = "( " + WaitInShell(log, "CVLA004I") + "printf q; " +
                       WaitInShell(typescript, "Unrecognised command") + "printf Q; " +
                       WaitInShell(typescript, "Are you sure") + "printf Y; " +
                       WaitInShell(log, "CVLA099I") + ")";
    std::string agentCmd = BIN + "/torvik -m " + QM + " -f " + dir.file("torvik.cfg");
    std::string shell = keys + " | script -qfec '" + agentCmd + "' '" + typescript + "'";
    agent = std::make_unique<BackgroundProgram>(std::vector<std::string>{"/bin/sh", "-c", shell});
    ExpectOrderlyEnd();
    std::string screen = ReadFile(typescript);
    /* on a terminal the status line is shown */
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
    WriteFile(job, "set -m\n" + BIN + "/torvik -m " + QM + " -f " + dir.file("torvik.cfg") +
                       " &\nwait $!\n");
    std::string log = dir.file("log/TORVIK_Log01.txt");
    std::string keepInputOpen = "( " + WaitInShell(log, "CVLA099I") + ")";
    std::string shell =
        keepInputOpen + " | script -qfec 'bash " + job + "' '" + dir.file("typescript") + "'";
    agent = std::make_unique<BackgroundProgram>(std::vector<std::string>{"/bin/sh", "-c", shell});
    WaitUntilUp();
    /* A request is served and STOP is taken. */
    PROGRAMRESULT report = Mqcmd({"--simple", "REPORT"});
    ASSERT_EQ(report.proc.exitCode, 0) << report.out;
    ASSERT_TRUE(LogHas("CVLA080I TORVIK Status Report")) << Log();
    StopAgent();
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
        agent =
            std::make_unique<BackgroundProgram>(std::vector<std::string>{"/bin/sh", "-c", script});
        WaitUntilUp();
        std::string pid = std::to_string(atol(ReadFile(pidFile).c_str()));
        ASSERT_NE(pid, "0");
        PROGRAMRESULT kill = RunProgram({"kill", signal, pid});
        ASSERT_EQ(kill.proc.exitCode, 0) << kill.out;
        ExpectOrderlyEnd();
        agent.reset();
    }
}
