/* routing_consolidate.cpp -- the cost of the reply path per reply.
 *
 * Replies are realistic INQUIRE_Q replies of about 1.7 KB (names and
 * descriptions blank-padded as the command server sends them). Printed side
 * by side, as bytes per second of original reply and time per reply:
 *   Memcpy          copying the reply's bytes once (the physical limit);
 *   Compress        CompressReply in place alone;
 *   CompressCoalesce CompressReply in place, then CoalesceReply into a
 *                   pending message;
 *   ReplyPath       the whole consumer: OnReplyMessage finding its request
 *                   among 100 outstanding ones, counting, compressing and
 *                   consolidating, with a final send every 100 replies to an
 *                   MQI stand-in whose put does nothing.
 * The pending message is emptied between batches outside the timing.
 */
#include <benchmark/benchmark.h>

#include <cstring>
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
constexpr int OUTSTANDING = 100; /* requests in the table during ReplyPath */

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

void BM_ReplyPath(benchmark::State &state) {
    SetUpAgent();
    ClearRequests();
    std::vector<std::vector<MQBYTE>> replies;
    for (int i = 0; i < REPLIES_PER_REQUEST; i++)
        replies.push_back(QueueReply(i, i == REPLIES_PER_REQUEST - 1 ? MQCFC_LAST : 0));
    std::vector<std::vector<MQBYTE>> work(replies);
    for (int n = 0; n < OUTSTANDING; n++)
        AddBenchRequest(n);
    /* Replies go to the oldest request, at the far end of the table; once
     * it is complete a new request takes its place. */
    int nextId = OUTSTANDING;
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
BENCHMARK(BM_ReplyPath);

}  // namespace

BENCHMARK_MAIN();
