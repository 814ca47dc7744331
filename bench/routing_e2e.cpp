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

#include "mq/mqi.h"
#include "mq/mqpcf.h"
#include "mqcmd_build.h"
#include "mqcmd_replyset.h"
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

void SetName(MQCHAR *field, size_t size, const char *name) {
    size_t len = strlen(name);
    memset(field, 0, size);
    memcpy(field, name, len < size ? len : size);
}

/* One INQUIRE_Q sent to queue target and drained to the end of its reply
 * set. Adds the messages and bytes; returns 0 or the failing reason. */
MQLONG InquireAllQueues(MQHCONN hconn, MQHOBJ hReply, const char *replyQ, const char *target,
                        const std::vector<MQBYTE> &command, std::vector<MQBYTE> *buffer,
                        int64_t *messages, int64_t *bytes) {
    MQOD od = MQOD_DEFAULT;
    SetName(od.ObjectName, sizeof od.ObjectName, target);
    MQMD md = MQMD_DEFAULT;
    memcpy(md.Format, MQFMT_ADMIN, MQ_FORMAT_LENGTH);
    md.MsgType = MQMT_REQUEST;
    SetName(md.ReplyToQ, sizeof md.ReplyToQ, replyQ);
    MQPMO pmo = MQPMO_DEFAULT;
    pmo.Options = MQPMO_NO_SYNCPOINT;
    MQLONG cc, rc;
    MQPUT1(hconn, &od, &md, &pmo, (MQLONG)command.size(), (PMQVOID)command.data(), &cc, &rc);
    if (cc == MQCC_FAILED)
        return rc;
    MQBYTE correlId[MQ_MSG_ID_LENGTH];
    memcpy(correlId, md.MsgId, sizeof correlId);
    for (;;) {
        MQMD rmd = MQMD_DEFAULT;
        memcpy(rmd.CorrelId, correlId, sizeof correlId);
        MQGMO gmo = MQGMO_DEFAULT;
        gmo.Version = MQGMO_VERSION_2;
        gmo.Options = MQGMO_WAIT | MQGMO_NO_SYNCPOINT;
        gmo.WaitInterval = REPLY_WAIT_MS;
        gmo.MatchOptions = MQMO_MATCH_CORREL_ID;
        MQLONG length = 0;
        MQGET(hconn, hReply, &rmd, &gmo, (MQLONG)buffer->size(), buffer->data(), &length, &cc, &rc);
        if (rc == MQRC_TRUNCATED_MSG_FAILED && length > (MQLONG)buffer->size()) {
            buffer->resize((size_t)length);
            continue;
        }
        if (cc == MQCC_FAILED)
            return rc;
        (*messages)++;
        *bytes += length;
        if (ReplyCompletesSet(rmd.Format, buffer->data(), (size_t)length))
            return 0;
    }
}

void Inquire(benchmark::State &state, const char *target) {
    MQCHAR qm[MQ_Q_MGR_NAME_LENGTH];
    SetName(qm, sizeof qm, QmgrName);
    MQHCONN hconn = MQHC_UNUSABLE_HCONN;
    MQLONG cc, rc;
    MQCONN(qm, &hconn, &cc, &rc);
    if (cc == MQCC_FAILED) {
        state.SkipWithError(("MQCONN failed with reason " + std::to_string(rc)).c_str());
        return;
    }
    MQOD od = MQOD_DEFAULT;
    SetName(od.ObjectName, sizeof od.ObjectName, "SYSTEM.DEFAULT.MODEL.QUEUE");
    SetName(od.DynamicQName, sizeof od.DynamicQName, "BENCH.*");
    MQHOBJ hReply = MQHO_UNUSABLE_HOBJ;
    MQOPEN(hconn, &od, MQOO_INPUT_EXCLUSIVE, &hReply, &cc, &rc);
    if (cc == MQCC_FAILED) {
        MQDISC(&hconn, &cc, &rc);
        state.SkipWithError(
            ("MQOPEN of the model queue failed with reason " + std::to_string(rc)).c_str());
        return;
    }
    char replyQ[MQ_Q_NAME_LENGTH + 1];
    memcpy(replyQ, od.ObjectName, MQ_Q_NAME_LENGTH);
    replyQ[MQ_Q_NAME_LENGTH] = '\0';

    std::vector<MQBYTE> command;
    char err[200];
    StartPcfCommand(&command, MQCMD_INQUIRE_Q);
    AddParameterWord(&command, "MQCA_Q_NAME=*", err, sizeof err);
    AddParameterWord(&command, "MQIACF_Q_ATTRS=MQIACF_ALL", err, sizeof err);

    std::vector<MQBYTE> buffer(65536);
    int64_t messages = 0, bytes = 0;
    std::clock_t cpuStart = std::clock();
    for (auto _ : state) {
        MQLONG reason =
            InquireAllQueues(hconn, hReply, replyQ, target, command, &buffer, &messages, &bytes);
        if (reason != 0) {
            state.SkipWithError(("inquiry failed with reason " + std::to_string(reason)).c_str());
            break;
        }
    }
    double cpuSeconds = (double)(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    MQCLOSE(hconn, &hReply, MQCO_NONE, &cc, &rc);
    MQDISC(&hconn, &cc, &rc);

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
