/* cmdsrv_trigger_test.cpp -- the trigger monitor: a message arriving on an
 * empty TRIGGER TRIGTYPE(FIRST) queue starts the process's program with the
 * 732-byte trigger message as its one argument; no start while the queue
 * holds messages or an application has it open for input; the program's
 * output goes to the daemon's log, and so does why a queue cannot be
 * triggered. */
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cmdsrv_util.h"
#include "support/files.h"
#include "support/process.h"

namespace {

using tvtest::CountOf;
using tvtest::ReadFile;

TEST(CmdsrvTrigger, AFirstMessageStartsTheProcessWithTheTriggerMessage) {
    MqsimQueueManager qm;
    ASSERT_EQ(qm.Start("QM1"), "");
    /* the program: a line per start, its arguments' count and the first
     * argument, written whole (renamed into place) for the test to poll */
    const std::string out = qm.Dir() + "/started.txt", child = qm.Dir() + "/child.sh";
    tvtest::WriteFile(
        child, "#!/bin/sh\n{ cat '" + out + "' 2>/dev/null; printf '%s\\n' \"$#:$1\"; } >'" + out +
                   ".tmp'\nmv '" + out + ".tmp' '" + out + "' && echo trigger child started\n");
    std::filesystem::permissions(child, std::filesystem::perms::owner_all);
    qm.Mqsc("QM1",
            {"DEFINE PROCESS(TEST.PROC) APPLICID('" + child +
                 "') USERDATA('user data') ENVRDATA('ENV=1')",
             "DEFINE QLOCAL(TRIG.Q) TRIGGER TRIGTYPE(FIRST) PROCESS(TEST.PROC) "
             "INITQ(SYSTEM.DEFAULT.INITIATION.QUEUE) TRIGDATA('-v High')",
             "DEFINE QLOCAL(TRIG.BAD) TRIGGER TRIGTYPE(FIRST) INITQ(INIT.Q) PROCESS(NO.PROC)",
             "DEFINE PROCESS(NOWHERE) APPLICID('no-such-program-x1')",
             "DEFINE QLOCAL(TRIG.MISSING) TRIGGER TRIGTYPE(FIRST) INITQ(INIT.Q) PROCESS(NOWHERE)"});
    MQHCONN h;
    ASSERT_EQ(Connect("QM1", &h), 0);
    /* queues that cannot be triggered say why */
    ASSERT_EQ(Put1(h, "TRIG.BAD", "x"), 0);
    ASSERT_EQ(Put1(h, "TRIG.MISSING", "x"), 0);
    const char *const why[] = {
        "queue TRIG.BAD not triggered: process NO.PROC is not defined",
        "cannot start no-such-program-x1 for queue TRIG.MISSING: program not found"};
    for (const char *line : why)
        EXPECT_TRUE(WaitUntil([&] { return CountOf(qm.Log("QM1"), line) == 1; })) << line;

    /* the first message starts it */
    ASSERT_EQ(Put1(h, "TRIG.Q", "first"), 0);
    ASSERT_TRUE(WaitUntil([&] { return CountOf(ReadFile(out), "\n") == 1; })) << qm.Log("QM1");
    const std::string line = ReadFile(out);
    ASSERT_EQ(line.size(), 2u + 732u + 1u) << line;
    EXPECT_EQ(line.substr(0, 2), "1:");
    /* the layout is the unit test's; here the values of these definitions */
    EXPECT_EQ(line.substr(2 + 8, 48), Padded("TRIG.Q", 48));
    EXPECT_EQ(line.substr(2 + 104, 64), Padded("-v High", 64));
    EXPECT_EQ(line.substr(2 + 428, 128), Padded("ENV=1", 128));
    EXPECT_EQ(line.substr(2 + 556, 128), Padded("user data", 128));
    /* its output went to the daemon's log, and it was seen to end */
    EXPECT_TRUE(WaitUntil([&] {
        std::string log = qm.Log("QM1");
        return CountOf(log, "trigger child started") == 1 &&
               CountOf(log, "trigger: program (pid ") >= 1;
    })) << qm.Log("QM1");

    /* a second message on the non-empty queue starts nothing; once the
     * queue was emptied, the next one does; while an application has the
     * queue open for input, none does. Trigger decisions are logged in the
     * order of the puts, so when a start is seen, a start for an earlier
     * message would have been logged before it. */
    ASSERT_EQ(Put1(h, "TRIG.Q", "second"), 0);
    MQHOBJ in;
    std::string text;
    for (int starts = 2; starts <= 3; starts++) {
        ASSERT_EQ(Open(h, "TRIG.Q", MQOO_INPUT_SHARED, &in), 0);
        while (Get(h, in, &text) == 0) {
        }
        if (starts == 3) {
            ASSERT_EQ(Put1(h, "TRIG.Q", "served"), 0);
            ASSERT_EQ(Get(h, in, &text), 0);
        }
        ASSERT_EQ(Close(h, &in), 0);
        ASSERT_EQ(Put1(h, "TRIG.Q", "next"), 0);
        ASSERT_TRUE(WaitUntil([&] { return CountOf(ReadFile(out), "\n") == starts; }))
            << qm.Log("QM1");
        EXPECT_EQ(CountOf(qm.Log("QM1"), "trigger: queue TRIG.Q triggered"), starts)
            << qm.Log("QM1");
    }
    Disconnect(&h);
}

} /* namespace */
