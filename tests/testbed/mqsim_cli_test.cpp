/* mqsim_cli_test.cpp -- the mqsim command: start, stop, status, mqsc, and
 * its errors, each against a daemon in the test's own state directory. */
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <string>

#include "support/files.h"
#include "support/process.h"
#include "mqsim_util.h"

namespace {

/* The harness itself: a fault of a program or daemon a test started fails
 * the test, whatever the test asserts (how sanitizer reports and crashes
 * of children are never lost). */
TEST(TestHarness, ADaemonThatDiedFailsTheTest) {
    EXPECT_NONFATAL_FAILURE(
        {
            MqsimQueueManager qm;
            ASSERT_EQ(qm.Start("QMDIES"), "");
            int port;
            int64_t pid;
            ASSERT_TRUE(qm.PortFile("QMDIES", &port, &pid));
            PLKillProcess(pid);
            ASSERT_TRUE(WaitUntil([&] { return !PLProcessAlive(pid); }));
            qm.Stop();
        },
        "queue manager QMDIES died");
}

TEST(TestHarness, ASanitizerReportOrADeathBySignalFailsTheTest) {
    EXPECT_NONFATAL_FAILURE(tvtest::RunProgram({"/bin/echo", "==1==ERROR: AddressSanitizer: x"}),
                            "reported a fault");
    EXPECT_NONFATAL_FAILURE(tvtest::RunProgram({"/bin/sh", "-c", "kill -ABRT $$"}),
                            "died by a signal");
}

TEST(MqsimCli, StartsWithTheSampleScriptAndStopRemovesThePortFile) {
    MqsimQueueManager qm;
    ASSERT_EQ(qm.Start("QM1", {"--mqsc", MqsimQueueManager::Sample("torvik.mqsc")}), "");
    int port;
    int64_t pid;
    ASSERT_TRUE(qm.PortFile("QM1", &port, &pid));
    EXPECT_TRUE(PLProcessAlive(pid));

    /* (the sample's objects are what the MQI tests use) */
    std::string out;
    ASSERT_EQ(qm.Run({"status", "QM1"}, &out), 0) << out;
    EXPECT_NE(out.find("STATUS(RUNNING)"), std::string::npos) << out;
    EXPECT_NE(out.find("PORT(" + std::to_string(port) + ")"), std::string::npos) << out;
    EXPECT_NE(out.find("PLATFORM(UNIX)"), std::string::npos) << out;
    EXPECT_NE(out.find("CONNECTIONS(0)"), std::string::npos) << out;
    EXPECT_NE(out.find("QUEUE(SYSTEM.ADMIN.COMMAND.QUEUE) CURDEPTH(0)"), std::string::npos);

    /* a second start of a running queue manager fails, the first stays */
    EXPECT_EQ(qm.Run({"start", "QM1"}, &out), 1);
    EXPECT_NE(out.find("already running"), std::string::npos) << out;

    ASSERT_EQ(qm.Run({"stop", "QM1"}, &out), 0) << out;
    EXPECT_FALSE(PLProcessAlive(pid));
    EXPECT_FALSE(qm.PortFile("QM1", &port, &pid));
    EXPECT_EQ(qm.Run({"stop", "QM1"}, &out), 1);
    EXPECT_NE(out.find("not running"), std::string::npos) << out;
    EXPECT_EQ(qm.Run({"status", "QM1"}, &out), 1);
}

TEST(MqsimCli, RejectsBadNamesOptionsAndFiles) {
    MqsimQueueManager qm;
    ASSERT_EQ(qm.Prepare(), "");
    std::string out;
    EXPECT_EQ(qm.Run({"start", "QM/1"}, &out), 1);
    EXPECT_EQ(qm.Run({"start", "QM1", "--platform", "vms"}, &out), 1);
    EXPECT_NE(out.find("unknown platform"), std::string::npos) << out;
    EXPECT_EQ(qm.Run({"start", "QM1", "--queues", "-4"}, &out), 1);
    EXPECT_EQ(qm.Run({"start", "QM1", "--mqsc", qm.Dir() + "/missing.mqsc"}, &out), 1);
    EXPECT_EQ(qm.Run({"start", "QM1", "--bogus"}, &out), 1);
    EXPECT_EQ(qm.Run({"frobnicate", "QM1"}, &out), 1);
    /* nothing was left running by the refused starts */
    int port;
    int64_t pid;
    EXPECT_FALSE(qm.PortFile("QM1", &port, &pid));
}

/* Which commands are right and what they do is the engine's unit test;
 * here the program's answers: response lines, exit codes, a file of
 * commands with comments and continuations. */
TEST(MqsimCli, MqscAnswersWithResponseLinesAndTheExitCode) {
    MqsimQueueManager qm;
    ASSERT_EQ(qm.Start("QMA"), "");
    std::string out = qm.Mqsc("QMA", {"define qlocal(app.in) maxdepth(5) descr('Mixed Case')"});
    EXPECT_NE(out.find("AMQ8006I"), std::string::npos) << out;
    out = qm.Mqsc("QMA", {"DISPLAY QLOCAL(APP.*) MAXDEPTH DESCR"});
    EXPECT_NE(out.find("QUEUE(APP.IN)"), std::string::npos) << out;
    EXPECT_NE(out.find("MAXDEPTH(5)"), std::string::npos) << out;
    EXPECT_NE(out.find("DESCR(Mixed Case)"), std::string::npos) << out;
    EXPECT_EQ(out.find("MAXMSGL"), std::string::npos) << "only what was asked: " << out;
    EXPECT_EQ(qm.Run({"mqsc", "QMA", "DEFINE QLOCAL(APP.IN)"}, &out), 1);
    EXPECT_NE(out.find("AMQ8150E"), std::string::npos) << out;

    std::string file = qm.Dir() + "/objects.mqsc";
    tvtest::WriteFile(
        file,
        "* objects\nDEFINE QLOCAL(F.ONE) +\n  MAXDEPTH(11)\n\n"
        "DEFINE QMODEL(F.MODEL) DEFTYPE(PERMDYN)\nDEFINE QLOCAL(F.BAD) MAXDEPTH(-1)\n");
    EXPECT_EQ(qm.Run({"mqsc", "QMA", "-f", file}, &out), 1) << "one line is wrong: " << out;
    EXPECT_NE(out.find("3 MQSC commands read."), std::string::npos) << out;
    EXPECT_NE(out.find("1 commands have a syntax error."), std::string::npos) << out;
    out = qm.Mqsc("QMA", {"DISPLAY QUEUE(F.*) ALL"});
    EXPECT_NE(out.find("MAXDEPTH(11)"), std::string::npos) << out;
    EXPECT_NE(out.find("DEFTYPE(PERMDYN)"), std::string::npos) << out;
    EXPECT_EQ(out.find("F.BAD"), std::string::npos) << out;
}

TEST(MqsimCli, TheFirstStartedIsTheDefaultQueueManager) {
    MqsimQueueManager qm;
    ASSERT_EQ(qm.Start("QMD1"), "");
    ASSERT_EQ(qm.Start("QMD2"), "");
    MQHCONN h;
    auto defaultName = [&] {
        MQHOBJ o;
        std::string name;
        EXPECT_EQ(Connect("", &h), 0);
        EXPECT_EQ(OpenQmgr(h, &o), 0);
        EXPECT_EQ(InqString(h, o, MQCA_Q_MGR_NAME, MQ_Q_MGR_NAME_LENGTH, &name), 0);
        Disconnect(&h);
        return name;
    };
    EXPECT_EQ(defaultName(), "QMD1");
    ASSERT_EQ(qm.Run({"stop", "QMD1"}), 0);
    ASSERT_EQ(qm.Start("QMD3", {"--default"}), "");
    EXPECT_EQ(defaultName(), "QMD3");
    ASSERT_EQ(qm.Run({"stop", "QMD3"}), 0);
    /* a queue manager that ran here but stopped is not available; one that
     * never ran has a wrong name */
    EXPECT_EQ(Connect("QMD1", &h), MQRC_Q_MGR_NOT_AVAILABLE);
    EXPECT_EQ(Connect("NEVER", &h), MQRC_Q_MGR_NAME_ERROR);
}

}  // namespace
