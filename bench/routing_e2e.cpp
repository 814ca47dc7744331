/* routing_e2e.cpp -- INQUIRE_Q of 5000 queues, answered directly by the
 * command server and through TORVIK, side by side.
 *
 * Starts a stand-in queue manager with 5000 extra local queues (in a state
 * directory of its own) and a TORVIK agent on it, then sends INQUIRE_Q for
 * every queue with every attribute, once to SYSTEM.ADMIN.COMMAND.QUEUE and
 * once to the agent's input queue, and drains every reply from a temporary
 * dynamic queue. Prints for each path the wall time per inquiry, the
 * messages and bytes the requester received per inquiry and the
 * requester's CPU time per inquiry. The agent and the queue manager are
 * stopped at the end.
 */
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "platform/net.h"
#include "platform/platform.h"

namespace {

constexpr int QUEUE_COUNT = 5000;
constexpr uint32_t CONTROL_TIMEOUT_MS = 60000;
constexpr MQLONG REPLY_WAIT_MS = 60000;
constexpr char AGENT_INPUT_Q[] = "CORVEL.TORVIK.COMMAND.QUEUE";

char QmgrName[MQ_Q_MGR_NAME_LENGTH + 1];
std::string StateDir;

int RunProgram(const std::vector<std::string> &args, std::string *out = nullptr,
               uint32_t timeoutMs = CONTROL_TIMEOUT_MS) {
    std::vector<const char *> argv;
    for (const std::string &a : args)
        argv.push_back(a.c_str());
    argv.push_back(nullptr);
    std::vector<char> buf(65536);
    PLPROCRESULT result;
    memset(&result, 0, sizeof result);
    if (PLRunProcess(argv.data(), nullptr, buf.data(), buf.size(), timeoutMs, &result) != 0)
        return -1;
    if (out != nullptr)
        out->assign(buf.data(), result.outLen);
    return result.exitCode;
}

void Inquire(benchmark::State &state, const char *target) {
    INQUIRER in;
    if (!OpenInquirer(state, QmgrName, &in))
        return;
    std::vector<MQBYTE> buffer(65536);
    int64_t messages = 0, bytes = 0;
    std::clock_t cpuStart = std::clock();
    for (auto _ : state) {
        MQLONG reason = InquireAllQueues(in, target, REPLY_WAIT_MS, &buffer, &messages, &bytes);
        if (reason != 0) {
            state.SkipWithError(("inquiry failed with reason " + std::to_string(reason)).c_str());
            break;
        }
    }
    double cpuSeconds = (double)(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    CloseInquirer(&in);

    state.counters["messages"] =
        benchmark::Counter((double)messages, benchmark::Counter::kAvgIterations);
    state.counters["bytes"] = benchmark::Counter((double)bytes, benchmark::Counter::kAvgIterations);
    state.counters["requester_cpu_ms"] =
        benchmark::Counter(cpuSeconds * 1000.0, benchmark::Counter::kAvgIterations);
}

void BM_InquireDirect(benchmark::State &state) {
    Inquire(state, "SYSTEM.ADMIN.COMMAND.QUEUE");
}
void BM_InquireThroughTorvik(benchmark::State &state) {
    Inquire(state, AGENT_INPUT_Q);
}

BENCHMARK(BM_InquireDirect)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_InquireThroughTorvik)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

/* The agent, running on a thread of this program until STOP ends it. */
std::thread AgentThread;
std::atomic<int> AgentDone{0};

bool StartAgent(void) {
    std::string cfg = StateDir + "/torvik.cfg";
    FILE *f = fopen(cfg.c_str(), "w");
    if (f == nullptr)
        return false;
    fprintf(f, "logpath = \"%s\"\ncertevent = no\n", StateDir.c_str());
    fclose(f);
    std::vector<std::string> args = {
        std::string(TV_BIN_DIR) + "/torvik", "-m", QmgrName, "-k", "-f", cfg};
    AgentThread = std::thread([args] {
        RunProgram(args, nullptr, 3600 * 1000);
        AgentDone = 1;
    });
    /* Up once its parameters are in the log. */
    std::string log = StateDir + "/TORVIK_Log01.txt";
    for (int i = 0; i < 3000 && !AgentDone; i++) {
        FILE *l = fopen(log.c_str(), "r");
        if (l != nullptr) {
            char line[512];
            bool up = false;
            while (fgets(line, sizeof line, l))
                up = up || strstr(line, "CVLA004I") != nullptr;
            fclose(l);
            if (up)
                return true;
        }
        PLSleep(10);
    }
    return false;
}

/* STOP the agent; an agent that does not end ends with its queue
 * manager, which main stops next. Returns once the agent has ended or 30 s
 * have passed. */
void StopAgent(void) {
    if (!AgentThread.joinable())
        return;
    RunProgram({std::string(TV_BIN_DIR) + "/mqcmd", "-m", QmgrName, "--simple", "STOP"});
    for (int i = 0; i < 3000 && !AgentDone; i++)
        PLSleep(10);
}

} /* namespace */

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    char dir[1024];
    if (PLMakeTempDirectory("routing-bench-", dir, sizeof dir) != 0) {
        fprintf(stderr, "routing_e2e: cannot make a state directory\n");
        return 1;
    }
    StateDir = dir;
    PLSetEnv("MQSIM_DIR", dir);
    PLSetEnv("MQSIM_ADDR", nullptr);
    PLSetEnv("MQM_DLL_PATH", TV_LIB_DIR);
    snprintf(QmgrName, sizeof QmgrName, "RBENCH%lld", (long long)PLProcessId());
    std::string mqsim = std::string(TV_BIN_DIR) + "/mqsim";
    std::string out;
    if (RunProgram({mqsim, "start", QmgrName, "--queues", std::to_string(QUEUE_COUNT), "--mqsc",
                    std::string(TV_SOURCE_DIR) + "/samples/torvik.mqsc"},
                   &out) != 0) {
        fprintf(stderr, "routing_e2e: the queue manager did not start: %s\n", out.c_str());
        return 1;
    }
    int rc = 0;
    if (StartAgent()) {
        benchmark::RunSpecifiedBenchmarks();
    } else {
        fprintf(stderr, "routing_e2e: the agent did not come up (log in %s)\n", dir);
        rc = 1;
    }
    StopAgent();
    RunProgram({mqsim, "stop", QmgrName});
    if (AgentThread.joinable())
        AgentThread.join();
    benchmark::Shutdown();
    if (rc == 0) {
        std::error_code ec;
        std::filesystem::remove_all(StateDir, ec);
    }
    return rc;
}
