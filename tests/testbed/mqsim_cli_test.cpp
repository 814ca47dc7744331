/* mqsim_cli_test.cpp -- the mqsim command (start, status, mqsc, stop and
 * their errors) in the test's own state directory, the default queue
 * manager, and the harness's own checks of the processes it starts. */
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/files.h"
#include "support/process.h"
#include "mqsim_util.h"

namespace {

/* A fault of a program or daemon a test started fails the test, whatever
 * the test asserts (how sanitizer reports and crashes of children are never
 * lost). */
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

/* Each row, in order: mqsim's arguments, its exit code and texts its output
 * holds. */
TEST(MqsimCli, CommandsAnswerWithTheirExitCodeAndOutput) {
    MqsimQueueManager qm;
    ASSERT_EQ(qm.Prepare(), "");
    std::string file = qm.Dir() + "/objects.mqsc";
    tvtest::WriteFile(file,
                      "* objects\nDEFINE QLOCAL(F.ONE) +\n  MAXDEPTH(11)\n\n  * indented\n"
                      "DEFINE QLOCAL(F.BAD) MAXDEPTH(-1)\n"
                      "DEFINE QLOCAL(F.TWO) -\n  DESCR('continued')\r\n");
    const struct {
        std::vector<std::string> args;
        int rc;
        std::vector<std::string> says;
    } rows[] = {
        {{"start", "QM/1"}, 1, {}},
        {{"start", "QM1", "--platform", "vms"}, 1, {"unknown platform"}},
        {{"start", "QM1", "--queues", "-4"}, 1, {}},
        {{"start", "QM1", "--mqsc", qm.Dir() + "/missing.mqsc"}, 1, {}},
        {{"start", "QM1", "--bogus"}, 1, {}},
        {{"frobnicate", "QM1"}, 1, {}},
        {{"status", "QM1"}, 1, {}}, /* nothing was left running by the refused starts */
        {{"start", "QM1", "--mqsc", MqsimQueueManager::Sample("torvik.mqsc")}, 0, {}},
        {{"status", "QM1"},
         0,
         {"STATUS(RUNNING)", "PLATFORM(UNIX)", "CONNECTIONS(0)",
          "QUEUE(SYSTEM.ADMIN.COMMAND.QUEUE) CURDEPTH(0)"}},
        {{"start", "QM1"}, 1, {"already running"}},
        {{"mqsc", "QM1", "define qlocal(app.in) descr('Mixed Case')"}, 0, {"AMQ8006I"}},
        {{"mqsc", "QM1", "DEFINE QLOCAL(APP.IN)"}, 1, {"AMQ8150E"}},
        {{"mqsc", "QM1", "-f", file}, 1, {"3 MQSC commands read.", "1 commands have a syntax"}},
        {{"mqsc", "QM1", "DISPLAY QLOCAL(*) DESCR MAXDEPTH"},
         0,
         {"DESCR(Mixed Case)", "DESCR(continued)", "MAXDEPTH(11)"}},
        {{"stop", "QM1"}, 0, {}},
        {{"stop", "QM1"}, 1, {"not running"}},
    };
    for (const auto &row : rows) {
        std::string out;
        EXPECT_EQ(qm.Run(row.args, &out), row.rc) << row.args[0] << " " << row.args.back() << out;
        for (const std::string &says : row.says)
            EXPECT_NE(out.find(says), std::string::npos) << says << " in:\n" << out;
    }
    int port;
    int64_t pid;
    EXPECT_FALSE(qm.PortFile("QM1", &port, &pid)) << "the port file goes with the daemon";
}

TEST(MqsimCli, TheFirstStartedIsTheDefaultQueueManager) {
    MqsimQueueManager qm;
    ASSERT_EQ(qm.Start("QMD1"), "");
    ASSERT_EQ(qm.Start("QMD2"), "");
    MQHCONN h;
    auto defaultName = [&] {
        MQHOBJ o;
        MQLONG sel = MQCA_Q_MGR_NAME, cc, rc = -1;
        char name[48] = {};
        EXPECT_EQ(Connect("", &h), 0);
        EXPECT_EQ(OpenQmgr(h, &o), 0);
        MQINQ(h, o, 1, &sel, 0, nullptr, sizeof name, name, &cc, &rc);
        Disconnect(&h);
        return GetName(name, sizeof name) + " " + std::to_string(rc);
    };
    EXPECT_EQ(defaultName(), "QMD1 0");
    ASSERT_EQ(qm.Run({"stop", "QMD1"}), 0);
    ASSERT_EQ(qm.Start("QMD3", {"--default"}), "");
    EXPECT_EQ(defaultName(), "QMD3 0");
    /* a queue manager that ran here but stopped is not available; one that
     * never ran has a wrong name */
    EXPECT_EQ(Connect("QMD1", &h), MQRC_Q_MGR_NOT_AVAILABLE);
    EXPECT_EQ(Connect("NEVER", &h), MQRC_Q_MGR_NAME_ERROR);
}

}  // namespace
