/* cmdserver_direct.cpp -- the command server answered directly, without an agent.
 *
 * Starts a stand-in queue manager with 5000 extra local queues, sends
 * INQUIRE_Q for every queue with every attribute to SYSTEM.ADMIN.COMMAND.QUEUE
 * and drains every reply from a temporary dynamic queue, as a requester
 * talking to the command server itself would. Prints replies per second,
 * bytes per inquiry and the requester's CPU time per reply: the baseline that
 * the agent's consolidated replies are compared with.
 *
 * The queue manager runs in the state directory the environment names
 * ($MQSIM_DIR, else mqsim's default), under a name of its own made from this
 * process's id, and is stopped at the end.
 */
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "bench_support.h"
#include "platform/net.h"
#include "platform/platform.h"

namespace {

constexpr int QUEUE_COUNT = 5000;
constexpr uint32_t CONTROL_TIMEOUT_MS = 60000;
constexpr MQLONG REPLY_WAIT_MS = 30000;

char QmgrName[MQ_Q_MGR_NAME_LENGTH + 1];

/* Run "mqsim ARGS..." and wait for it. Returns its exit code, or -1. */
int RunMqsim(const std::vector<const char *> &args) {
    std::string mqsim = std::string(TV_BIN_DIR) + "/mqsim";
    std::vector<const char *> argv;
    argv.push_back(mqsim.c_str());
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(nullptr);
    char out[4096];
    PLPROCRESULT result;
    if (PLRunProcess(argv.data(), nullptr, out, sizeof out, CONTROL_TIMEOUT_MS, &result) != 0)
        return -1;
    if (result.exitCode != 0)
        fprintf(stderr, "mqsim %s: %.*s\n", args[0], (int)result.outLen, out);
    return result.exitCode;
}

void BM_InquireQueueDirect(benchmark::State &state) {
    INQUIRER in;
    if (!OpenInquirer(state, QmgrName, &in))
        return;
    std::vector<MQBYTE> buffer(65536);
    int64_t replies = 0, bytes = 0;
    std::clock_t cpuStart = std::clock();
    for (auto _ : state) {
        MQLONG reason = InquireAllQueues(in, "SYSTEM.ADMIN.COMMAND.QUEUE", REPLY_WAIT_MS, &buffer,
                                         &replies, &bytes);
        if (reason != 0) {
            state.SkipWithError(("inquiry failed with reason " + std::to_string(reason)).c_str());
            break;
        }
    }
    double cpuSeconds = (double)(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    CloseInquirer(&in);

    state.counters["replies_per_s"] =
        benchmark::Counter((double)replies, benchmark::Counter::kIsRate);
    state.counters["replies_per_inquiry"] =
        benchmark::Counter((double)replies, benchmark::Counter::kAvgIterations);
    state.counters["bytes_per_inquiry"] =
        benchmark::Counter((double)bytes, benchmark::Counter::kAvgIterations);
    state.counters["cpu_us_per_reply"] = replies > 0 ? cpuSeconds * 1e6 / (double)replies : 0.0;
}

BENCHMARK(BM_InquireQueueDirect)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

} /* namespace */

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    snprintf(QmgrName, sizeof QmgrName, "BENCH%lld", (long long)PLProcessId());
    std::string queues = std::to_string(QUEUE_COUNT);
    if (RunMqsim({"start", QmgrName, "--queues", queues.c_str()}) != 0) {
        fprintf(stderr, "cmdserver_direct: the queue manager %s did not start\n", QmgrName);
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    RunMqsim({"stop", QmgrName});
    return 0;
}
