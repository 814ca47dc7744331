/* harness.h -- end-to-end tests of the agent: mqcmd --json with its lines
 * parsed, and AgentTest, a fixture that runs TORVIK on a private stand-in
 * queue manager.
 *
 * Each AgentTest has its own temporary directory holding mqsim's state
 * ($MQSIM_DIR), the configuration file and the log, so tests run side by
 * side. The agent and the queue manager are ended by the fixture even when
 * an assertion fails; a crash or a sanitizer report of either fails the
 * test (support/process.h).
 *
 *   class RoutingEndToEnd : public tvtest::AgentTest {};
 *   TEST_F(RoutingEndToEnd, ...) {
 *       StartQueueManager({"--queues", "3"});
 *       StartAgent("certevent = no\n");
 *       tvtest::ANSWER a = Ask({"--pcf", "INQUIRE_Q_MGR"});
 *   }
 *
 * Threads: test thread only.
 */
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/process.h"
#include "testbed/mqcmd_json.h"

namespace tvtest {

/* One mqcmd run: its output, every JSON line, and the messages and the
 * summary among them. */
struct ANSWER {
    int exitCode = -1;
    std::string out;
    std::vector<JVALUE> lines;        /* every line that parsed as JSON */
    std::vector<JVALUE> msgs;         /* the lines that are messages */
    JVALUE summary;                   /* the summary line */
    std::vector<std::string> notJson; /* lines that start with '{' but do not parse */
};

/* mqcmd's output: each line that begins with '{' is read as JSON. */
inline ANSWER ParseAnswer(const std::string &out) {
    ANSWER a;
    a.out = out;
    for (const std::string &line : SplitLines(out)) {
        if (line.empty() || line[0] != '{')
            continue;
        JVALUE v;
        if (!JsonReader::Parse(line, &v, nullptr)) {
            a.notJson.push_back(line);
            continue;
        }
        a.lines.push_back(v);
        if (v.Get("summary") != nullptr)
            a.summary = *v.Get("summary");
        else
            a.msgs.push_back(v);
    }
    return a;
}

/* Run build/bin/mqcmd with args and read its output. */
inline ANSWER RunMqcmd(const std::vector<std::string> &args, uint32_t timeoutMs = 180000) {
    std::vector<std::string> argv{std::string(TV_BIN_DIR) + "/mqcmd"};
    argv.insert(argv.end(), args.begin(), args.end());
    PROGRAMRESULT r = RunProgram(argv, timeoutMs);
    ANSWER a = ParseAnswer(r.out);
    a.exitCode = r.rc == 0 ? r.proc.exitCode : -1;
    return a;
}

/* Fields of mqcmd's JSON: a number or text of an object, a message's PCF
 * header and parameters, one parameter by its id. */
inline long Num(const JVALUE &v, const char *key) {
    const JVALUE *f = v.Get(key);
    return f == nullptr ? -999999 : (long)f->number;
}
inline std::string Str(const JVALUE &v, const char *key) {
    const JVALUE *f = v.Get(key);
    return f == nullptr ? "<none>" : f->text;
}
inline const JVALUE &Pcf(const JVALUE &msg) {
    static const JVALUE none;
    const JVALUE *p = msg.Get("pcf");
    return p == nullptr ? none : *p;
}
inline const std::vector<JVALUE> &Params(const JVALUE &msg) {
    static const std::vector<JVALUE> none;
    const JVALUE *p = Pcf(msg).Get("params");
    return p == nullptr ? none : p->items;
}
inline const JVALUE *Param(const JVALUE &msg, long id) {
    for (const JVALUE &p : Params(msg))
        if (Num(p, "id") == id)
            return &p;
    return nullptr;
}
inline int CountParam(const JVALUE &msg, long id) {
    int n = 0;
    for (const JVALUE &p : Params(msg))
        n += Num(p, "id") == id;
    return n;
}

/* A reply set is whole when it ends in exactly one message with the
 * MQCFC_LAST bit (Control & 1; a merged reply carries more bits) and
 * nothing comes after it. controls: the Control of each message of one
 * request in arrival order (-1 for a message that is not PCF). */
inline ::testing::AssertionResult EndsWithOneLast(const std::vector<long> &controls) {
    std::string shown;
    int lasts = 0;
    for (long c : controls) {
        shown += " " + std::to_string(c);
        lasts += c >= 0 && (c & 1) != 0;
    }
    if (lasts == 1 && controls.back() >= 0 && (controls.back() & 1) != 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "reply set of Controls" << shown;
}
inline ::testing::AssertionResult EndsWithOneLast(const ANSWER &a) {
    std::vector<long> controls;
    for (const JVALUE &m : a.msgs)
        controls.push_back(Pcf(m).Get("control") != nullptr ? Num(Pcf(m), "control") : -1);
    return EndsWithOneLast(controls);
}

/* TORVIK on a private stand-in queue manager named QM. */
class AgentTest : public ::testing::Test {
protected:
    const std::string BIN = TV_BIN_DIR;
    const char *const QM = "QMTEST";
    const char *const INPUT_Q = "CORVEL.TORVIK.COMMAND.QUEUE";

    void SetUp() override {
        ASSERT_FALSE(dir.path().empty());
        ASSERT_EQ(qm.Prepare(), "");
        PLSetEnv("MQM_DLL_PATH", TV_LIB_DIR);
        PLSetEnv("MQ_INSTALLATION_PATH", nullptr);
        std::filesystem::create_directories(dir.file("log"));
        WriteConfig("certevent = no\n");
    }
    void TearDown() override {
        if (agent && !agent->Done()) {
            Mqcmd({"--simple", "STOP"});
            WaitUntil([&] { return agent->Done(); }, 60000);
        }
        qm.Stop(); /* an agent still running ends with its connection */
        agent.reset();
    }

    /* The queue manager with the agent's objects, then MQSC commands. */
    void StartQueueManager(std::vector<std::string> options = {},
                           const std::vector<std::string> &mqsc = {}) {
        options.insert(options.begin(), {"--mqsc", MqsimQueueManager::Sample("torvik.mqsc")});
        ASSERT_EQ(qm.Start(QM, options), "");
        for (const std::string &command : mqsc)
            Mqsim({"mqsc", QM, command});
    }
    void Mqsim(const std::vector<std::string> &args) {
        std::string out;
        ASSERT_EQ(qm.Run(args, &out), 0) << out;
    }
    void WriteConfig(const std::string &lines) {
        WriteFile(dir.file("torvik.cfg"), "logpath = \"" + dir.file("log") + "\"\n" + lines);
    }
    /* torvik -m QM -k -f torvik.cfg extra..., with a fresh log, not
     * waiting for anything. */
    void LaunchAgent(const std::vector<std::string> &extra = {}) {
        std::filesystem::remove(dir.file("log/TORVIK_Log01.txt"));
        std::vector<std::string> args = {BIN + "/torvik",       "-m", QM, "-k", "-f",
                                         dir.file("torvik.cfg")};
        args.insert(args.end(), extra.begin(), extra.end());
        agent = std::make_unique<BackgroundProgram>(args);
    }
    /* The agent with these configuration lines, up and consuming. */
    void StartAgent(const std::string &config, const std::vector<std::string> &extra = {}) {
        WriteConfig(config);
        LaunchAgent(extra);
        WaitUntilUp();
    }
    void WaitUntilUp() { ASSERT_TRUE(LogHas("CVLA004I Parameters in effect:")) << Log(); }

    /* The agent ended by itself, in order: exit code 0, one shutdown line,
     * a final report, and the separator line that closes the run. */
    void ExpectOrderlyEnd() {
        ASSERT_TRUE(agent != nullptr);
        ASSERT_TRUE(WaitUntil([&] { return agent->Done(); }, 60000)) << Log();
        const PROGRAMRESULT &r = agent->Join();
        EXPECT_EQ(r.rc, 0);
        EXPECT_EQ(r.proc.timedOut, 0);
        EXPECT_EQ(r.proc.exitCode, 0) << r.out.substr(0, 4000);
        std::string log = Log();
        EXPECT_EQ(CountOf(log, "CVLA099I TORVIK Agent shutting down"), 1) << log;
        EXPECT_NE(log.find("CVLA080I TORVIK Status Report"), std::string::npos);
        size_t end = log.find("CVLA099I TORVIK Agent shutting down\n");
        ASSERT_NE(end, std::string::npos);
        std::string next = log.substr(log.find('\n', end) + 1);
        EXPECT_EQ(next.substr(next.find(' ') + 1), std::string(39, '-') + "\n") << log;
    }
    /* STOP from mqcmd and the orderly end. */
    void StopAgent() {
        PROGRAMRESULT stop = Mqcmd({"--simple", "STOP"});
        ASSERT_EQ(stop.proc.exitCode, 0) << stop.out;
        ExpectOrderlyEnd();
        EXPECT_NE(Log().find("CVLA021I STOP command received"), std::string::npos);
    }

    /* The log file; once the agent has ended without one, its standard
     * output (where the log goes when its file cannot be had). */
    std::string Log() {
        std::string log = ReadFile(dir.file("log/TORVIK_Log01.txt"));
        return log.empty() && agent && agent->Done() ? agent->Join().out : log;
    }
    /* At least count occurrences of what in the log, waiting for them. */
    bool LogHas(const std::string &what, int count = 1, int seconds = 60) {
        return WaitUntil([&] { return CountOf(Log(), what) >= count; }, seconds * 1000);
    }
    /* The agent's dynamic reply queue, from its parameters. */
    std::string ActualReplyQueue() {
        std::string log = Log();
        const std::string label = "  Actual Reply Queue   : ";
        size_t at = log.find(label);
        if (at == std::string::npos)
            return "";
        at += label.size();
        return log.substr(at, log.find('\n', at) - at);
    }

    /* mqcmd -m QM args. */
    PROGRAMRESULT Mqcmd(std::vector<std::string> args, uint32_t timeoutMs = 120000) {
        args.insert(args.begin(), {BIN + "/mqcmd", "-m", QM});
        return RunProgram(args, timeoutMs);
    }
    /* mqcmd --json against the agent (or the queue named by -q in args),
     * waiting up to waitSeconds for replies; every line must be JSON. */
    ANSWER Ask(std::vector<std::string> args, int waitSeconds = 60) {
        args.insert(args.begin(), {"-m", QM, "--json", "--wait", std::to_string(waitSeconds)});
        ANSWER a = RunMqcmd(args, (uint32_t)(waitSeconds + 60) * 1000);
        for (const std::string &line : a.notJson)
            ADD_FAILURE() << "not JSON: " << line.substr(0, 300);
        return a;
    }

    TempDir dir;
    MqsimQueueManager qm;
    std::unique_ptr<BackgroundProgram> agent;
};

}  // namespace tvtest
