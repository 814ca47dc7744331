/* trigger_e2e_test.cpp -- a triggered start end to end: the objects of
 * samples/torvik.mqsc with triggering switched on, the stand-in queue
 * manager's trigger monitor starting torvik with the trigger message, the
 * message that triggered it served, and the agent ending by itself when its
 * disconnect interval (discint 1) runs out.
 */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/files.h"
#include "support/process.h"

using tvtest::CountOf;
using tvtest::ReadFile;

namespace {

TEST(TriggeredStart, EndsByItsDisconnectInterval) {
    tvtest::TempDir dir;
    const std::string cfg = dir.file("t.cfg"), bin = TV_BIN_DIR;
    tvtest::WriteFile(cfg, "logpath \"" + dir.path() + "\"\ndiscint 1\n");
    ASSERT_LT(cfg.size() + 3, 128u) << "USERDATA holds 128 characters";

    /* The daemon, and so the program it starts, finds the MQI library here. */
    PLSetEnv("MQM_DLL_PATH", TV_LIB_DIR);
    MqsimQueueManager qm;
    ASSERT_EQ(qm.Start("TRIGQM", {"--mqsc", MqsimQueueManager::Sample("torvik.mqsc")}), "");
    qm.Mqsc("TRIGQM", {"ALTER PROCESS(CORVEL.TORVIK.PROCESS) APPLICID('" + bin +
                           "/torvik') USERDATA('-f " + cfg + "')",
                       "ALTER QLOCAL(CORVEL.TORVIK.COMMAND.QUEUE) TRIGGER TRIGDATA('-v High')"});

    /* The first message on the empty input queue starts the agent; it is a
     * REPORT, which the agent serves once it runs. */
    tvtest::PROGRAMRESULT put = tvtest::RunProgram(
        {bin + "/mqcmd", "put", "-q", "CORVEL.TORVIK.COMMAND.QUEUE", "-m", "TRIGQM", "REPORT"});
    ASSERT_EQ(put.proc.exitCode, 0) << put.out;

    const std::string log = dir.file("TORVIK_Log01.txt");
    ASSERT_TRUE(WaitUntil([&] { return CountOf(ReadFile(log), "CVLA080I") >= 1; }, 60000))
        << ReadFile(log) << qm.Log("TRIGQM");
    /* One minute without work, then the orderly end. */
    ASSERT_TRUE(WaitUntil([&] { return CountOf(ReadFile(log), "CVLA099I") == 1; }, 180000))
        << ReadFile(log);
    std::string text = ReadFile(log);
    EXPECT_EQ(CountOf(text, "CVLA003I Program Triggered\n"), 1) << text;
    EXPECT_EQ(CountOf(text, "CVLA020I Disconnect Interval, 1 minutes, expired\n"), 1) << text;
    EXPECT_EQ(CountOf(text, "CVLA021I"), 0) << text;
    EXPECT_LT(text.find("CVLA020I"), text.find("CVLA099I"));
    /* The trigger monitor saw its program end. */
    EXPECT_TRUE(WaitUntil([&] { return CountOf(qm.Log("TRIGQM"), ") ended") == 1; }, 30000))
        << qm.Log("TRIGQM");
}

}  // namespace
