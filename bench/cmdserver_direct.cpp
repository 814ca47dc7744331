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

#include "mq/mqi.h"
#include "mq/mqpcf.h"
#include "mqcmd_build.h"
#include "mqcmd_replyset.h"
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

void SetName(MQCHAR *field, size_t size, const char *name) {
    size_t len = strlen(name);
    memset(field, 0, size);
    memcpy(field, name, len < size ? len : size);
}

/* One INQUIRE_Q of every queue with every attribute, drained to its last
 * reply. Adds the replies and bytes; returns 0 or the failing reason. */
MQLONG InquireAllQueues(MQHCONN hconn, MQHOBJ hReply, const char *replyQ,
                        const std::vector<MQBYTE> &command, std::vector<MQBYTE> *buffer,
                        int64_t *replies, int64_t *bytes) {
    MQOD od = MQOD_DEFAULT;
    SetName(od.ObjectName, sizeof od.ObjectName, "SYSTEM.ADMIN.COMMAND.QUEUE");
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
        (*replies)++;
        *bytes += length;
        if (ReplyCompletesSet(rmd.Format, buffer->data(), (size_t)length))
            return 0;
    }
}

void BM_InquireQueueDirect(benchmark::State &state) {
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
    int64_t replies = 0, bytes = 0;
    std::clock_t cpuStart = std::clock();
    for (auto _ : state) {
        MQLONG reason = InquireAllQueues(hconn, hReply, replyQ, command, &buffer, &replies, &bytes);
        if (reason != 0) {
            state.SkipWithError(("inquiry failed with reason " + std::to_string(reason)).c_str());
            break;
        }
    }
    double cpuSeconds = (double)(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    MQCLOSE(hconn, &hReply, MQCO_NONE, &cc, &rc);
    MQDISC(&hconn, &cc, &rc);

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
