/* routing_e2e.cpp -- requests answered directly by the command server and
 * through TORVIK, side by side, and how fast the agent stops.
 *
 * For each size (100, 1,000, 5,000 and 20,000 queues) a stand-in queue
 * manager is started with that many extra local queues (in a state
 * directory of its own) and a TORVIK agent on it. Printed per size:
 *   INQUIRE_Q of every queue with every attribute, once to
 *   SYSTEM.ADMIN.COMMAND.QUEUE and once to the agent's input queue: wall
 *   time per inquiry, messages and bytes the requester received, the
 *   requester's CPU time and (through TORVIK) the agent's CPU time, read
 *   from /proc, per inquiry;
 *   on the smallest queue manager, 8 requesters at once, each sending 500
 *   INQUIRE_Q_MGR one after the other: requests per second, p50 and p99
 *   latency, and the agent's CPU time per request;
 *   the stop: time from launching `torvik -c STOP` to its return and to the
 *   agent's exit (target under 20 ms and under 50 ms).
 * Options: --quick (100 and 1,000 queues only). BENCH_TORVIK names another
 * torvik program to measure (an older build, for a before/after table).
 */
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bench_support.h"
#include "platform/net.h"
#include "platform/platform.h"

namespace {

constexpr MQLONG REPLY_WAIT_MS = 120000;
constexpr char AGENT_INPUT_Q[] = "CORVEL.TORVIK.COMMAND.QUEUE";
constexpr char COMMAND_Q[] = "SYSTEM.ADMIN.COMMAND.QUEUE";
constexpr int REQUESTERS = 8;
constexpr int REQUESTS_EACH = 500;

char QmgrName[MQ_Q_MGR_NAME_LENGTH + 1];
std::string StateDir;
std::string TorvikProgram;

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

/* ---- The agent's CPU time, from /proc ------------------------------------ */

/* User plus system CPU time of pid in milliseconds, or -1. */
double CpuMs(long pid) {
    std::string path = "/proc/" + std::to_string(pid) + "/stat";
    FILE *f = fopen(path.c_str(), "r");
    if (f == nullptr)
        return -1;
    char line[2048];
    size_t n = fread(line, 1, sizeof line - 1, f);
    fclose(f);
    line[n] = '\0';
    const char *p = strrchr(line, ')'); /* the name may hold blanks */
    if (p == nullptr)
        return -1;
    unsigned long long utime = 0, stime = 0;
    /* Fields after the name: state(3) ... utime(14) stime(15). */
    if (sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime, &stime) != 2)
        return -1;
    return (double)(utime + stime) * 1000.0 / (double)sysconf(_SC_CLK_TCK);
}

/* ---- The agent ----------------------------------------------------------- */

BENCHAGENT Agent;
long AgentPid = 0;

bool StartAgent(void) {
    bool up = StartBenchAgent(&Agent, TorvikProgram, QmgrName, StateDir, StateDir + "/torvik.cfg");
    AgentPid = Agent.pid;
    return up;
}

/* STOP the agent with `torvik -c STOP`, timing its return and the agent's
 * exit. An agent that does not end ends with its queue manager. */
void StopAgent(double *stopReturnMs, double *agentExitMs) {
    *stopReturnMs = *agentExitMs = -1;
    if (!Agent.thread.joinable())
        return;
    Clock::time_point start = Clock::now();
    RunBenchProgram({TorvikProgram, "-m", QmgrName, "-c", "STOP"});
    *stopReturnMs = MsSince(start);
    for (int i = 0; i < 30000 && !Agent.done; i++)
        PLSleep(1);
    if (Agent.done)
        *agentExitMs = std::chrono::duration<double, std::milli>(
                           Clock::duration(Agent.endNs.load()) - start.time_since_epoch())
                           .count();
}

/* ---- INQUIRE_Q of every queue -------------------------------------------- */

struct INQUIRY {
    double wallMs = 0, requesterCpuMs = 0, agentCpuMs = -1, messages = 0, bytes = 0;
    bool ok = false;
};

INQUIRY InquireQueues(const char *target, int iterations) {
    INQUIRY r;
    INQUIRER in;
    if (!OpenInquirerQuiet(QmgrName, &in))
        return r;
    std::vector<MQBYTE> buffer(65536);
    int64_t messages = 0, bytes = 0;
    double agentBefore = AgentPid ? CpuMs(AgentPid) : -1;
    std::clock_t cpuStart = std::clock();
    Clock::time_point start = Clock::now();
    for (int i = 0; i < iterations; i++) {
        MQLONG reason = InquireAllQueues(in, target, REPLY_WAIT_MS, &buffer, &messages, &bytes);
        if (reason != 0) {
            fprintf(stderr, "inquiry to %s failed with reason %d\n", target, (int)reason);
            CloseInquirer(&in);
            return r;
        }
    }
    r.wallMs = MsSince(start) / iterations;
    r.requesterCpuMs = (double)(std::clock() - cpuStart) * 1000.0 / CLOCKS_PER_SEC / iterations;
    double agentAfter = AgentPid ? CpuMs(AgentPid) : -1;
    if (agentBefore >= 0 && agentAfter >= 0)
        r.agentCpuMs = (agentAfter - agentBefore) / iterations;
    r.messages = (double)messages / iterations;
    r.bytes = (double)bytes / iterations;
    r.ok = true;
    CloseInquirer(&in);
    return r;
}

/* ---- Many requesters ----------------------------------------------------- */

struct LOAD {
    double perSecond = 0, p50Ms = 0, p99Ms = 0, agentCpuUsPerRequest = -1;
    int failures = 0;
};

LOAD ManyRequesters(const char *target) {
    LOAD r;
    std::vector<std::vector<double>> latencies(REQUESTERS);
    std::atomic<int> failures{0};
    std::atomic<int> ready{0};
    std::atomic<int> go{0};
    double agentBefore = AgentPid ? CpuMs(AgentPid) : -1;
    std::vector<std::thread> threads;
    for (int t = 0; t < REQUESTERS; t++) {
        threads.emplace_back([&, t] {
            INQUIRER in;
            if (!OpenInquirerQuiet(QmgrName, &in)) {
                failures += REQUESTS_EACH;
                ready++;
                return;
            }
            in.command.clear();
            StartPcfCommand(&in.command, MQCMD_INQUIRE_Q_MGR);
            std::vector<MQBYTE> buffer(65536);
            int64_t messages = 0, bytes = 0;
            ready++;
            while (!go)
                std::this_thread::yield();
            for (int i = 0; i < REQUESTS_EACH; i++) {
                Clock::time_point start = Clock::now();
                if (InquireAllQueues(in, target, REPLY_WAIT_MS, &buffer, &messages, &bytes) != 0)
                    failures++;
                else
                    latencies[(size_t)t].push_back(MsSince(start));
            }
            CloseInquirer(&in);
        });
    }
    while (ready < REQUESTERS)
        PLSleep(1);
    Clock::time_point start = Clock::now();
    go = 1;
    for (std::thread &th : threads)
        th.join();
    double wallMs = MsSince(start);
    double agentAfter = AgentPid ? CpuMs(AgentPid) : -1;
    std::vector<double> all;
    for (const auto &l : latencies)
        all.insert(all.end(), l.begin(), l.end());
    std::sort(all.begin(), all.end());
    r.failures = failures;
    if (!all.empty()) {
        r.perSecond = (double)all.size() * 1000.0 / wallMs;
        r.p50Ms = all[all.size() / 2];
        r.p99Ms = all[std::min(all.size() - 1, all.size() * 99 / 100)];
    }
    if (agentBefore >= 0 && agentAfter >= 0 && !all.empty())
        r.agentCpuUsPerRequest = (agentAfter - agentBefore) * 1000.0 / (double)all.size();
    return r;
}

/* ---- One queue manager size ---------------------------------------------- */

bool RunSize(int queues, bool withLoad) {
    std::string mqsim = std::string(TV_BIN_DIR) + "/mqsim";
    std::string out;
    snprintf(QmgrName, sizeof QmgrName, "RB%lldQ%d", (long long)PLProcessId(), queues);
    if (RunBenchProgram({mqsim, "start", QmgrName, "--queues", std::to_string(queues), "--mqsc",
                         std::string(TV_SOURCE_DIR) + "/samples/torvik.mqsc"},
                        &out) != 0) {
        fprintf(stderr, "routing_e2e: the queue manager did not start: %s\n", out.c_str());
        return false;
    }
    bool ok = StartAgent();
    if (!ok) {
        fprintf(stderr, "routing_e2e: the agent did not come up (log in %s)\n", StateDir.c_str());
    } else {
        int iterations = queues >= 20000 ? 1 : queues >= 5000 ? 2 : 3;
        INQUIRY direct = InquireQueues(COMMAND_Q, iterations);
        INQUIRY relay = InquireQueues(AGENT_INPUT_Q, iterations);
        printf(
            "INQUIRE_Q %6d queues  direct  %9.1f ms  %6.0f msgs %10.0f bytes  requester "
            "CPU %7.1f ms\n",
            queues, direct.wallMs, direct.messages, direct.bytes, direct.requesterCpuMs);
        printf(
            "INQUIRE_Q %6d queues  TORVIK  %9.1f ms  %6.0f msgs %10.0f bytes  requester "
            "CPU %7.1f ms  agent CPU %7.1f ms (%.1f us per reply)\n",
            queues, relay.wallMs, relay.messages, relay.bytes, relay.requesterCpuMs,
            relay.agentCpuMs, relay.agentCpuMs * 1000.0 / (queues > 0 ? queues : 1));
        if (withLoad) {
            LOAD d = ManyRequesters(COMMAND_Q);
            LOAD t = ManyRequesters(AGENT_INPUT_Q);
            printf(
                "%d requesters x %d INQUIRE_Q_MGR  direct  %8.0f req/s  p50 %6.2f ms  p99 "
                "%6.2f ms  failures %d\n",
                REQUESTERS, REQUESTS_EACH, d.perSecond, d.p50Ms, d.p99Ms, d.failures);
            printf(
                "%d requesters x %d INQUIRE_Q_MGR  TORVIK  %8.0f req/s  p50 %6.2f ms  p99 "
                "%6.2f ms  failures %d  agent CPU %.1f us per request\n",
                REQUESTERS, REQUESTS_EACH, t.perSecond, t.p50Ms, t.p99Ms, t.failures,
                t.agentCpuUsPerRequest);
        }
    }
    double stopReturn = -1, agentExit = -1;
    StopAgent(&stopReturn, &agentExit);
    if (ok)
        printf(
            "stop (%6d queues): torvik -c STOP returned after %.1f ms (target < 20), the "
            "agent ended after %.1f ms (target < 50)\n",
            queues, stopReturn, agentExit);
    fflush(stdout);
    RunBenchProgram({mqsim, "stop", QmgrName});
    if (Agent.thread.joinable())
        Agent.thread.join();
    return ok;
}

} /* namespace */

int main(int argc, char **argv) {
    bool quick = false;
    for (int i = 1; i < argc; i++)
        quick = quick || strcmp(argv[i], "--quick") == 0;
    char dir[1024];
    if (PLMakeTempDirectory("routing-bench-", dir, sizeof dir) != 0) {
        fprintf(stderr, "routing_e2e: cannot make a state directory\n");
        return 1;
    }
    StateDir = dir;
    const char *other = getenv("BENCH_TORVIK");
    TorvikProgram = other != nullptr && *other ? other : std::string(TV_BIN_DIR) + "/torvik";
    PLSetEnv("MQSIM_DIR", dir);
    PLSetEnv("MQSIM_ADDR", nullptr);
    PLSetEnv("MQM_DLL_PATH", TV_LIB_DIR);
    printf("agent program: %s\n", TorvikProgram.c_str());
    int rc = 0;
    std::vector<int> sizes = {100, 1000, 5000, 20000};
    if (quick)
        sizes = {100, 1000};
    for (int queues : sizes)
        if (!RunSize(queues, queues == sizes.front()))
            rc = 1;
    if (rc == 0) {
        std::error_code ec;
        std::filesystem::remove_all(StateDir, ec);
    }
    return rc;
}
