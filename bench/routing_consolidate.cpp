/* routing_consolidate.cpp -- the cost of the reply path per reply.
 *
 * Replies are realistic INQUIRE_Q replies of about 1.7 KB (names and
 * descriptions blank-padded as the command server sends them). Printed side
 * by side, as bytes per second of original reply and time per reply:
 *   Memcpy           copying the reply's bytes between two L1-hot buffers;
 *   FairCopy         the baseline the others are measured against: the
 *                    reply copied from 512 L2-resident copies into a 1 MB
 *                    buffer at advancing offsets, as the reply path reads
 *                    fresh replies and appends to a large pending message;
 *   Compress         CompressReply in place alone;
 *   CompressCoalesce CompressReply in place, then CoalesceReply into a
 *                    pending message (two walks and a copy);
 *   OneWalk          the same through CompressConsolidateReply: compressed,
 *                    checked and merged in one walk;
 *   ReplyPath/N      the whole consumer: OnReplyMessage finding its request
 *                    among N outstanding ones (1, 100, 1,000, 10,000),
 *                    counting, compressing and consolidating, with a final
 *                    send every 100 replies to an MQI stand-in whose put
 *                    does nothing.
 * The pending message is emptied between batches outside the timing. After
 * the table of Google Benchmark, every case's CPU time is printed as a ratio
 * to FairCopy, with the targets: the whole consumer at most 4x, compression
 * with coalescing at most 3x, and 10,000 outstanding within 1.2x of 1.
 */
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "config/settings.h"
#include "core/agent.h"
#include "log/status.h"
#include "log/output.h"
#include "mq/connect.h"
#include "mq/hobjcache.h"
#include "mq/mqload.h"
#include "mqconst/mqpcf.h"
#include "mq/queues.h"
#include "routing/request.h"
#include "routing/routing.h"

namespace {

constexpr int BATCH = 512; /* replies compressed between refreshes */
constexpr int REPLIES_PER_REQUEST = 100;

void AddString(std::vector<MQBYTE> &m, MQLONG parameter, const std::string &value, size_t width) {
    std::string v = value;
    v.resize(width, ' ');
    MQLONG struc = (MQLONG)((20 + width + 3) & ~(size_t)3);
    MQLONG s[5] = {MQCFT_STRING, struc, parameter, 0, (MQLONG)width};
    const MQBYTE *p = (const MQBYTE *)s;
    m.insert(m.end(), p, p + sizeof s);
    m.insert(m.end(), v.begin(), v.end());
    m.insert(m.end(), (size_t)struc - 20 - width, 0);
}

void AddInt(std::vector<MQBYTE> &m, MQLONG parameter, MQLONG value) {
    MQLONG s[4] = {MQCFT_INTEGER, 16, parameter, value};
    const MQBYTE *p = (const MQBYTE *)s;
    m.insert(m.end(), p, p + sizeof s);
}

/* One INQUIRE_Q reply for queue i, about 1.7 KB. */
std::vector<MQBYTE> QueueReply(int i, MQLONG control) {
    std::vector<MQBYTE> m(sizeof(MQCFH));
    MQCFH cfh = MQCFH_DEFAULT;
    cfh.Type = MQCFT_RESPONSE;
    cfh.Command = MQCMD_INQUIRE_Q;
    cfh.MsgSeqNumber = i + 1;
    cfh.Control = control;
    char name[64];
    snprintf(name, sizeof name, "APP.QUEUE.%04d", i % 10000);
    AddString(m, MQCA_Q_NAME, name, 48);
    AddString(m, MQCA_Q_DESC, "Application queue for the order service", 64);
    AddString(m, MQCA_PROCESS_NAME, "", 48);
    AddString(m, MQCA_BACKOUT_REQ_Q_NAME, "APP.BACKOUT", 48);
    AddString(m, MQCA_INITIATION_Q_NAME, "", 48);
    AddString(m, MQCA_TRIGGER_DATA, "", 64);
    AddString(m, MQCA_CREATION_DATE, "2024-01-01", 12);
    AddString(m, MQCA_CREATION_TIME, "10.00.00", 8);
    AddString(m, MQCA_ALTERATION_DATE, "2024-06-01", 12);
    AddString(m, MQCA_ALTERATION_TIME, "12.30.00", 8);
    AddString(m, MQCA_CLUSTER_NAME, "", 48);
    AddString(m, MQCA_CLUSTER_NAMELIST, "", 48);
    AddString(m, MQCA_STORAGE_CLASS, "", 8);
    AddString(m, MQCA_CUSTOM, "", 128);
    AddString(m, MQCA_CLUS_CHL_NAME, "", 48);
    AddString(m, MQCA_BASE_OBJECT_NAME, "", 48);
    for (MQLONG a = 1; a <= 42; a++)
        AddInt(m, a, a * 3);
    cfh.ParameterCount = 16 + 42;
    memcpy(m.data(), &cfh, sizeof cfh);
    return m;
}

/* An MQI whose puts and opens succeed and do nothing. */
void MQENTRY NullOpen(MQHCONN, PMQOD, MQLONG, PMQHOBJ hObj, PMQLONG cc, PMQLONG rc) {
    *hObj = 900;
    *cc = MQCC_OK;
    *rc = MQRC_NONE;
}
void MQENTRY NullInq(MQHCONN, MQHOBJ, MQLONG n, PMQLONG, MQLONG, PMQLONG ints, MQLONG, PMQCHAR,
                     PMQLONG cc, PMQLONG rc) {
    for (MQLONG i = 0; i < n; i++)
        ints[i] = 4194304;
    *cc = MQCC_OK;
    *rc = MQRC_NONE;
}
void MQENTRY NullPut(MQHCONN, MQHOBJ, PMQMD, PMQPMO, MQLONG, PMQVOID, PMQLONG cc, PMQLONG rc) {
    *cc = MQCC_OK;
    *rc = MQRC_NONE;
}

void SetUpAgent(void) {
    InitSettings();
    InitAgentState();
    ResetStatistics();
    SetFlags(FLAG_SERVICE);
    Settings.verbosity = VERBOSITY_QUIET;
    memset(&MQEntryPoints, 0, sizeof MQEntryPoints);
    MQEntryPoints.MQOPEN = NullOpen;
    MQEntryPoints.MQINQ = NullInq;
    MQEntryPoints.MQPUT = NullPut;
    HConnMain.store(1);
    HObjReplyQ = 2;
    RefreshCurrentTime();
}

/* A request of the benchmark with the given consolidation limit. */
REQUEST *BenchRequest(MQLONG maxMsgSize) {
    REQUEST *req = NewRequest(MQCMD_INQUIRE_Q);
    CopyField(req->replyQName, sizeof req->replyQName, "BENCH.REPLY");
    CopyField(req->replyQMgrName, sizeof req->replyQMgrName, "QM1");
    req->maxMsgSize = maxMsgSize;
    return req;
}

void AddBenchRequest(int n) {
    MQBYTE id[MQ_MSG_ID_LENGTH] = {};
    memcpy(id, &n, sizeof n);
    AddRequest(BenchRequest(Settings.maxMsgSize), id);
}

void BM_Memcpy(benchmark::State &state) {
    std::vector<MQBYTE> reply = QueueReply(1, MQCFC_NOT_LAST);
    std::vector<MQBYTE> out(reply.size());
    for (auto _ : state) {
        memcpy(out.data(), reply.data(), reply.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)reply.size());
    state.counters["reply_bytes"] = (double)reply.size();
}
BENCHMARK(BM_Memcpy);

void BM_FairCopy(benchmark::State &state) {
    std::vector<MQBYTE> reply = QueueReply(1, MQCFC_NOT_LAST);
    std::vector<std::vector<MQBYTE>> work(BATCH, reply);
    std::vector<MQBYTE> pending((size_t)1 << 20);
    size_t offset = 0;
    int next = 0;
    for (auto _ : state) {
        if (next == BATCH)
            next = 0;
        if (offset + reply.size() > pending.size())
            offset = 0;
        memcpy(pending.data() + offset, work[(size_t)next++].data(), reply.size());
        offset += reply.size();
        benchmark::DoNotOptimize(pending.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)reply.size());
}
BENCHMARK(BM_FairCopy);

void BM_Compress(benchmark::State &state) {
    SetUpAgent();
    std::vector<MQBYTE> reply = QueueReply(1, MQCFC_NOT_LAST);
    std::vector<std::vector<MQBYTE>> work(BATCH, reply);
    int next = 0;
    for (auto _ : state) {
        if (next == BATCH) {
            state.PauseTiming();
            for (auto &w : work)
                memcpy(w.data(), reply.data(), reply.size());
            next = 0;
            state.ResumeTiming();
        }
        benchmark::DoNotOptimize(CompressReply(work[(size_t)next++].data(), (MQLONG)reply.size()));
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)reply.size());
}
BENCHMARK(BM_Compress);

void BM_CompressCoalesce(benchmark::State &state) {
    SetUpAgent();
    std::vector<MQBYTE> reply = QueueReply(1, MQCFC_NOT_LAST);
    std::vector<std::vector<MQBYTE>> work(BATCH, reply);
    REQUEST *req = BenchRequest(64 << 20);
    MQMD md = MQMD_DEFAULT;
    memcpy(md.Format, MQFMT_ADMIN, 8);
    std::vector<MQBYTE> first = reply;
    first.resize((size_t)CompressReply(first.data(), (MQLONG)first.size()));
    StoreReply(req, &md, first.data(), (MQLONG)first.size());
    int next = 0;
    int64_t compressedBytes = 0;
    for (auto _ : state) {
        if (next == BATCH) {
            state.PauseTiming();
            for (auto &w : work)
                memcpy(w.data(), reply.data(), reply.size());
            req->pendingLength = (MQLONG)first.size();
            next = 0;
            state.ResumeTiming();
        }
        MQBYTE *msg = work[(size_t)next++].data();
        MQLONG len = CompressReply(msg, (MQLONG)reply.size());
        CoalesceReply(req, &md, msg, len);
        compressedBytes += len;
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)reply.size());
    state.counters["reply_bytes"] = (double)reply.size();
    state.counters["sent_bytes_per_reply"] =
        state.iterations() ? (double)(compressedBytes - 20 * (int64_t)state.iterations()) /
                                     (double)state.iterations() +
                                 20
                           : 0;
    FreeRequest(req);
}
BENCHMARK(BM_CompressCoalesce);

/* CompressReply + CoalesceReply as the reply consumer does them now: one
 * walk through CompressConsolidateReply into a pending message. */
void BM_OneWalk(benchmark::State &state) {
    SetUpAgent();
    std::vector<MQBYTE> reply = QueueReply(1, MQCFC_NOT_LAST);
    std::vector<std::vector<MQBYTE>> work(BATCH, reply);
    REQUEST *req = BenchRequest(64 << 20);
    MQMD md = MQMD_DEFAULT;
    memcpy(md.Format, MQFMT_ADMIN, 8);
    std::vector<MQBYTE> first = reply;
    first.resize((size_t)CompressReply(first.data(), (MQLONG)first.size()));
    StoreReply(req, &md, first.data(), (MQLONG)first.size());
    /* The pending buffer grown once, as after the first merges of a set. */
    std::vector<MQBYTE> second = reply;
    CompressConsolidateReply(req, &md, second.data(), (MQLONG)second.size(), 1, nullptr);
    int next = 0;
    for (auto _ : state) {
        if (next == BATCH) {
            state.PauseTiming();
            for (auto &w : work)
                memcpy(w.data(), reply.data(), reply.size());
            req->pendingLength = (MQLONG)first.size();
            next = 0;
            state.ResumeTiming();
        }
        CompressConsolidateReply(req, &md, work[(size_t)next++].data(), (MQLONG)reply.size(), 1,
                                 nullptr);
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)reply.size());
    FreeRequest(req);
}
BENCHMARK(BM_OneWalk);

void BM_ReplyPath(benchmark::State &state) {
    SetUpAgent();
    ClearRequests();
    std::vector<std::vector<MQBYTE>> replies;
    for (int i = 0; i < REPLIES_PER_REQUEST; i++)
        replies.push_back(QueueReply(i, i == REPLIES_PER_REQUEST - 1 ? MQCFC_LAST : 0));
    std::vector<std::vector<MQBYTE>> work(replies);
    const int outstanding = (int)state.range(0);
    for (int n = 0; n < outstanding; n++)
        AddBenchRequest(n);
    /* Replies go to the oldest request, at the far end of the table; once
     * it is complete a new request takes its place. */
    int nextId = outstanding;
    int target = 0;
    int k = 0;
    MQMD md = MQMD_DEFAULT;
    memcpy(md.Format, MQFMT_ADMIN, 8);
    MQGMO gmo = MQGMO_DEFAULT;
    MQCBC cbc = MQCBC_DEFAULT;
    cbc.CallType = MQCBCT_MSG_REMOVED;
    for (auto _ : state) {
        if (k == REPLIES_PER_REQUEST) {
            state.PauseTiming();
            for (int i = 0; i < REPLIES_PER_REQUEST; i++)
                memcpy(work[(size_t)i].data(), replies[(size_t)i].data(),
                       replies[(size_t)i].size());
            AddBenchRequest(nextId++);
            target++;
            k = 0;
            state.ResumeTiming();
        }
        std::vector<MQBYTE> &w = work[(size_t)k++];
        memset(md.MsgId, 0, sizeof md.MsgId);
        memcpy(md.MsgId, &target, sizeof target);
        memcpy(md.Format, MQFMT_ADMIN, 8);
        gmo.ReturnedLength = (MQLONG)w.size();
        cbc.DataLength = (MQLONG)w.size();
        cbc.BufferLength = (MQLONG)w.size();
        OnReplyMessage(1, &md, &gmo, w.data(), &cbc);
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)replies[0].size());
    state.counters["responses"] = (double)StatValue(STAT_SINCE_START, STAT_RESPONSES);
    state.counters["unmatched"] =
        (double)(state.iterations() - StatValue(STAT_SINCE_START, STAT_REPLIES));
    ClearRequests();
    ForgetCachedHandles();
}
BENCHMARK(BM_ReplyPath)->Arg(1)->Arg(100)->Arg(1000)->Arg(10000);

/* Collects each case's CPU time per iteration (the median when repeated)
 * for the ratios printed after the table. */
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> cpuNs;
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &r : runs) {
            if (r.error_occurred || r.iterations == 0)
                continue;
            bool aggregate = r.run_type == Run::RT_Aggregate;
            if (aggregate && r.aggregate_name != "median")
                continue;
            std::string name = r.run_name.function_name;
            if (!r.run_name.args.empty())
                name += "/" + r.run_name.args;
            if (aggregate || cpuNs.find(name) == cpuNs.end() || !medians_)
                cpuNs[name] = r.GetAdjustedCPUTime();
            medians_ = medians_ || aggregate;
        }
    }

private:
    bool medians_ = false;
};

void PrintRatios(const std::map<std::string, double> &cpuNs) {
    auto at = [&](const char *name) {
        auto it = cpuNs.find(name);
        return it == cpuNs.end() ? 0.0 : it->second;
    };
    double fair = at("BM_FairCopy");
    if (fair <= 0)
        return;
    printf("\nCPU time per reply as a ratio to FairCopy (%.0f ns):\n", fair);
    for (const auto &c : cpuNs)
        printf("  %-24s %9.0f ns %6.2fx\n", c.first.c_str(), c.second, c.second / fair);
    auto target = [](const char *what, double value, double limit) {
        printf("  target %-44s %6.2f (at most %.2f): %s\n", what, value, limit,
               value <= limit ? "met" : "MISSED");
    };
    printf("\n");
    if (at("BM_ReplyPath/100") > 0)
        target("ReplyPath/100 / FairCopy", at("BM_ReplyPath/100") / fair, 4.0);
    if (at("BM_OneWalk") > 0)
        target("OneWalk (compress + coalesce) / FairCopy", at("BM_OneWalk") / fair, 3.0);
    if (at("BM_ReplyPath/1") > 0 && at("BM_ReplyPath/10000") > 0)
        target("ReplyPath/10000 / ReplyPath/1", at("BM_ReplyPath/10000") / at("BM_ReplyPath/1"),
               1.2);
}

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintRatios(reporter.cpuNs);
    benchmark::Shutdown();
    return 0;
}
