/* certcmd_display.cpp -- DISPLAY CERT of a repository of 200 certificates
 * through TORVIK, split into the key tool's runs and the agent's own work.
 *
 * Makes a key repository of 200 certificates with the runmqakm stand-in,
 * starts a stand-in queue manager whose SSLKEYR names it and a TORVIK agent
 * on it, then measures:
 *   BM_DisplayCertThroughAgent  request to last response of DISPLAY CERT(*)
 *                               ALL, as a requester sees it;
 *   BM_ToolRuns                 the tool runs the agent makes for it (one
 *                               listing, 200 details), run here one by one;
 *   BM_AgentOwnWork             the agent's own work on the same output in
 *                               process: parsing, WHERE filtering and
 *                               building the 200 responses.
 * and prints the agent's share of the request's time both ways: its own
 * work over the total, and (total - tool runs) over the total. The agent
 * and the queue manager are stopped at the end.
 */
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "cert/certcmd.h"
#include "cert/keytool.h"
#include "expr/expr.h"
#include "log/cs.h"
#include "mqconst/mqconst.h"
#include "platform/net.h"
#include "platform/platform.h"

namespace {

constexpr int CERT_COUNT = 200;
constexpr char QMGR[] = "QMBENCHCERT";
constexpr char AGENT_INPUT_Q[] = "CORVEL.TORVIK.COMMAND.QUEUE";
const std::string BIN = TV_BIN_DIR;

std::string StateDir;
std::string Repository;
std::vector<std::string> ListOutput;                 /* lines of the listing */
std::vector<std::vector<std::string>> DetailsOutput; /* lines of each details run */
double TotalMs = 0, ToolMs = 0, OwnMs = 0;
BENCHAGENT Agent; /* runs the agent until STOP */

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    size_t at = 0;
    for (size_t nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1)
        lines.push_back(text.substr(at, nl - at));
    return lines;
}

/* The tool runs of one DISPLAY CERT: the listing, then the details of each
 * certificate. Keeps their output when keep is set. */
void RunTools(bool keep) {
    std::string out;
    RunBenchProgram({BIN + "/runmqakm", "-cert", "-list", "all", "-db", Repository, "-stashed",
                     "-locale", "en"},
                    &out);
    if (keep)
        ListOutput = Lines(out);
    for (int i = 0; i < CERT_COUNT; i++) {
        RunBenchProgram(
            {BIN + "/runmqakm", "-cert", "-details", "-label", "cert" + std::to_string(i), "-db",
             Repository, "-stashed", "-locale", "en"},
            &out);
        if (keep)
            DetailsOutput.push_back(Lines(out));
    }
}

void BM_DisplayCertThroughAgent(benchmark::State &state) {
    INQUIRER in;
    if (!OpenInquirer(state, QMGR, &in))
        return;
    /* DISPLAY CERT(*) ALL in PCF: CERT "*", attributes [MQIACF_ALL]. */
    MQCFH cfh = MQCFH_DEFAULT;
    cfh.Command = CVL_CMD_DISPLAY_CERTIFICATE;
    cfh.ParameterCount = 2;
    const MQLONG cert[6] = {MQCFT_STRING, 24, MQCA_CERT_LABEL, 0, 1, '*'};
    const MQLONG attrs[5] = {MQCFT_INTEGER_LIST, 20, CVL_ATTR_TORVIK_CERT_ATTRS, 1, MQIACF_ALL};
    in.command.assign((const MQBYTE *)&cfh, (const MQBYTE *)&cfh + sizeof cfh);
    in.command.insert(in.command.end(), (const MQBYTE *)cert, (const MQBYTE *)cert + 24);
    in.command.insert(in.command.end(), (const MQBYTE *)attrs, (const MQBYTE *)attrs + 20);
    std::vector<MQBYTE> buffer(65536);
    int64_t messages = 0, bytes = 0;
    for (auto _ : state) {
        MQLONG reason = InquireAllQueues(in, AGENT_INPUT_Q, 900000, &buffer, &messages, &bytes);
        if (reason != 0) {
            state.SkipWithError(
                ("DISPLAY CERT failed with reason " + std::to_string(reason)).c_str());
            break;
        }
    }
    CloseInquirer(&in);
    state.counters["bytes"] = benchmark::Counter((double)bytes, benchmark::Counter::kAvgIterations);
}

void BM_ToolRuns(benchmark::State &state) {
    for (auto _ : state)
        RunTools(false);
}

/* The agent's share of one DISPLAY CERT: every listing and details line
 * through the parsers, the WHERE filter over every record, and one response
 * built per certificate. */
void BM_AgentOwnWork(benchmark::State &state) {
    std::vector<MQBYTE> response(CERT_RESPONSE_SIZE);
    for (auto _ : state) {
        CERTCMDCTX *ctx = (CERTCMDCTX *)CSGetMem(sizeof(CERTCMDCTX));
        memset(ctx, 0, sizeof *ctx);
        ctx->usageFilter = -1;
        ctx->allAttrs = 1;
        snprintf(ctx->qmgrKeyRepository, sizeof ctx->qmgrKeyRepository, "%s", Repository.c_str());
        for (const std::string &line : ListOutput)
            ParseListLine(ctx, line.c_str());
        int64_t now = PLWallClockSeconds();
        size_t i = 0;
        for (CERTREC *rec = ctx->certs; rec != nullptr; rec = rec->next, i++) {
            if (i < DetailsOutput.size())
                for (const std::string &line : DetailsOutput[i])
                    ParseDetailsLine(rec, line.c_str());
            SetSecondsLeft(rec, now);
        }
        ExprCallerData caller = {nullptr, CertParamTable, nullptr};
        char *message = nullptr;
        ExprContext *filter = CompileExpression("LIFESPAN LT 30d", &caller, &message);
        int selected = 0;
        for (CERTREC *rec = ctx->certs; rec != nullptr; rec = rec->next) {
            if (filter == nullptr || ExprMatches(filter, rec))
                selected++;
            MQLONG length = 0;
            BuildCertResponse(ctx, rec, rec->next == nullptr, response.data(), CERT_RESPONSE_SIZE,
                              &length);
            benchmark::DoNotOptimize(length);
        }
        benchmark::DoNotOptimize(selected);
        FreeExpression(filter);
        CSFreeMem(message);
        FreeCertList(ctx);
        CSFreeMem(ctx);
    }
}

/* Console output plus the three times (ms) it collects. */
class ShareReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &r : runs) {
            if (r.iterations <= 0 || r.error_occurred)
                continue;
            double ms = r.real_accumulated_time * 1000.0 / (double)r.iterations;
            std::string name = r.benchmark_name();
            if (name.find("ThroughAgent") != std::string::npos)
                TotalMs = ms;
            else if (name.find("ToolRuns") != std::string::npos)
                ToolMs = ms;
            else if (name.find("OwnWork") != std::string::npos)
                OwnMs = ms;
        }
    }
};

bool Setup() {
    char buf[1024];
    if (PLMakeTempDirectory("certcmd-bench-", buf, sizeof buf) != 0)
        return false;
    StateDir = buf;
    PLSetEnv("MQSIM_DIR", StateDir.c_str());
    PLSetEnv("MQM_DLL_PATH", TV_LIB_DIR);
    std::string path = BIN + ":" + (getenv("PATH") != nullptr ? getenv("PATH") : "/usr/bin:/bin");
    PLSetEnv("PATH", path.c_str());
    Repository = StateDir + "/key.kdb";
    if (RunBenchProgram({BIN + "/runmqakm", "-keydb", "-create", "-db", Repository, "-pw", "pw",
                         "-stash"}) != 0)
        return false;
    fprintf(stderr, "making %d certificates...\n", CERT_COUNT);
    for (int i = 0; i < CERT_COUNT; i++) {
        std::string label = "cert" + std::to_string(i);
        if (RunBenchProgram({BIN + "/runmqakm", "-cert", "-create", "-db", Repository, "-stashed",
                             "-label", label, "-dn", "CN=" + label + ",O=Bench", "-size", "1024",
                             "-expire", std::to_string(1 + i)}) != 0)
            return false;
    }
    if (RunBenchProgram({BIN + "/mqsim", "start", QMGR, "--mqsc",
                         std::string(TV_SOURCE_DIR) + "/samples/torvik.mqsc"}) != 0)
        return false;
    RunBenchProgram({BIN + "/mqsim", "mqsc", QMGR, "ALTER QMGR SSLKEYR('" + Repository + "')"});
    if (!StartBenchAgent(&Agent, BIN + "/torvik", QMGR, StateDir + "/log",
                         StateDir + "/torvik.cfg"))
        return false;
    RunTools(true);
    return true;
}

void Teardown() {
    StopBenchAgent(&Agent);
    RunBenchProgram({BIN + "/mqsim", "stop", QMGR});
    if (Agent.thread.joinable()) /* it ends with its queue manager */
        Agent.thread.join();
    std::error_code ec;
    std::filesystem::remove_all(StateDir, ec);
}

}  // namespace

BENCHMARK(BM_DisplayCertThroughAgent)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_ToolRuns)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_AgentOwnWork)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (!Setup()) {
        fprintf(stderr, "set-up failed (state in %s)\n", StateDir.c_str());
        Teardown();
        return 1;
    }
    ShareReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    if (TotalMs > 0) {
        printf("\nDISPLAY CERT of %d certificates: %.1f ms request to last response\n", CERT_COUNT,
               TotalMs);
        printf("  tool runs (listing + %d details): %.1f ms (%.1f%%)\n", CERT_COUNT, ToolMs,
               100.0 * ToolMs / TotalMs);
        printf("  agent's own work (parse, filter, responses): %.2f ms (%.2f%%)\n", OwnMs,
               100.0 * OwnMs / TotalMs);
        /* The two wall times are taken apart; on a loaded machine their
         * difference is mostly noise. */
        if (TotalMs > ToolMs)
            printf("  everything but the tool runs (incl. MQ transport): %.1f ms (%.1f%%)\n",
                   TotalMs - ToolMs, 100.0 * (TotalMs - ToolMs) / TotalMs);
        else
            printf("  everything but the tool runs: within the tool runs' own variation\n");
    }
    Teardown();
    return 0;
}
