/* agent_load.cpp -- TORVIK under load and faults: nothing lost, nothing
 * twice, memory flat.
 *
 *   agent_load [SECONDS] [--requesters N] [--seed N]
 *
 * A stand-in queue manager (20 extra local queues) and a TORVIK agent with
 * its default settings. For SECONDS (default 600) 20 requesters, each on a
 * connection and a reply queue of its own, send one request after another
 * to the agent's input queue, drawn at random from a mix of PCF commands,
 * MQSC text and escape commands (answered by the command server, or by the
 * agent itself for its DISPLAY CERT). Half the requests ask for their own
 * MsgId and CorrelId back (MQRO_PASS_MSG_ID, MQRO_PASS_CORREL_ID), half for
 * the default (CorrelId = the request's MsgId). Each requester reads every
 * message on its reply queue and matches it to its requests by CorrelId: a
 * reply set is complete at its PCF reply with MQCFC_LAST, or, for an MQSC
 * request, at the last of the text replies the agent answers it with (it
 * marks no end in text). After the run each requester reads on for a few
 * seconds more, so that anything late is seen.
 *
 * Meanwhile faults are injected at random, each one after which every
 * request must still be answered: puts to a requester's reply queue or to
 * the command server's queue failing a few times with a transient reason
 * (queue full, put inhibited; the agent retries them), a slow command
 * server, and a command server stopped for a few seconds (shorter than the
 * agent's maxage). The agent's resident memory is sampled from /proc.
 *
 * Printed: requests, replies (reply sets completed), lost (requests without
 * a complete reply set within two minutes: must be 0), duplicated (messages
 * that came after the end of their set, a second LAST included: must be 0),
 * unmatched (messages whose CorrelId no request of the requester had: must
 * be 0), No-response replies (aged requests; complete sets all the same),
 * p50/p99 latency overall and per kind, the faults injected, and the agent's
 * memory: peak in the warm-up (first 20% of the run) against peak in the
 * last half; growth above 10% or 2 MB, whichever is larger, fails. The exit
 * code is 1 when anything must-be-0 is not, memory grows, the agent ended
 * during the run or did not end in order at the STOP.
 */
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "platform/net.h"
#include "platform/platform.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr char AGENT_INPUT_Q[] = "CORVEL.TORVIK.COMMAND.QUEUE";
constexpr char COMMAND_Q[] = "SYSTEM.ADMIN.COMMAND.QUEUE";
constexpr int DEFAULT_SECONDS = 600;
constexpr int DEFAULT_REQUESTERS = 20;
constexpr int64_t GIVE_UP_MS = 120000; /* unanswered this long: lost */
constexpr int64_t DRAIN_MS = 3000;     /* read on after the run */
constexpr int SAMPLE_MS = 250;         /* memory samples */

enum { FORM_PCF, FORM_ESCAPE, FORM_MQSC };

/* One kind of request. textReplies: for MQSC, the text replies the agent
 * answers with when it answers itself (the command server's answer to
 * MQSC is one PCF reply). */
struct KIND {
    const char *name;
    int form;
    const char *text; /* PCF: command and NAME=VALUE words; else MQSC text */
    int textReplies;
    int weight;
};

const KIND Kinds[] = {
    {"PCF INQUIRE_Q_MGR", FORM_PCF, "INQUIRE_Q_MGR", 0, 4},
    {"PCF INQUIRE_Q APP.QUEUE.000*", FORM_PCF,
     "INQUIRE_Q MQCA_Q_NAME=APP.QUEUE.000* MQIACF_Q_ATTRS=MQIACF_ALL", 0, 4},
    {"PCF INQUIRE_Q_NAMES *", FORM_PCF, "INQUIRE_Q_NAMES MQCA_Q_NAME=*", 0, 2},
    {"PCF INQUIRE_Q NO.SUCH.* (2085)", FORM_PCF, "INQUIRE_Q MQCA_Q_NAME=NO.SUCH.*", 0, 1},
    {"PCF PING_Q_MGR", FORM_PCF, "PING_Q_MGR", 0, 1},
    {"PCF 9500 DISPLAY CERT (agent)", FORM_PCF, "9500 MQCA_CERT_LABEL=*", 0, 1},
    {"escape DISPLAY QLOCAL(APP.QUEUE.001*)", FORM_ESCAPE, "DISPLAY QLOCAL(APP.QUEUE.001*)", 0, 2},
    {"escape DISPLAY QMGR", FORM_ESCAPE, "DISPLAY QMGR", 0, 1},
    {"escape DISPLAY CERT(*) (agent)", FORM_ESCAPE, "DISPLAY CERT(*)", 0, 1},
    {"escape DIS CERT (agent, syntax error)", FORM_ESCAPE, "DIS CERT", 0, 1},
    {"MQSC DISPLAY QMGR (3023)", FORM_MQSC, "DISPLAY QMGR", 1, 2},
    {"MQSC DISPLAY CERT(*) (agent)", FORM_MQSC, "DISPLAY CERT(*)", 1, 1},
    {"MQSC DIS CERT (agent, syntax error)", FORM_MQSC, "DIS CERT", 2, 1},
};
constexpr int KIND_COUNT = (int)(sizeof Kinds / sizeof Kinds[0]);

char QmgrName[MQ_Q_MGR_NAME_LENGTH + 1];
std::string StateDir;
std::string Mqsim;
BENCHAGENT Agent;
std::atomic<int> Stop{0};

double MsBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

/* Sleep up to ms, or less when the run stops. */
void Nap(int64_t ms) {
    Clock::time_point end = Clock::now() + std::chrono::milliseconds(ms);
    while (!Stop && Clock::now() < end)
        PLSleep(20);
}

int Mq(const std::vector<std::string> &args) {
    std::vector<std::string> all = {Mqsim};
    all.insert(all.end(), args.begin(), args.end());
    std::string out;
    int rc = RunBenchProgram(all, &out);
    if (rc != 0)
        fprintf(stderr, "agent_load: mqsim failed (%d): %s", rc, out.c_str());
    return rc;
}

/* ---- Requesters ---------------------------------------------------------- */

struct TALLY {
    int64_t requests = 0, completed = 0, lost = 0, duplicated = 0, unmatched = 0, late = 0;
    int64_t noResponse = 0, messages = 0, bytes = 0, putFailures = 0;
    std::vector<double> latencyMs;
    std::vector<std::vector<double>> kindMs = std::vector<std::vector<double>>(KIND_COUNT);
};

struct SENT {
    int kind;
    int texts;     /* text replies seen */
    int complete;  /* 1 once the set ended */
    int abandoned; /* 1 once counted lost */
};

std::mutex ReplyQueuesLock;
std::vector<std::string> ReplyQueues; /* every requester's, for the faults */

/* The message of a kind, for one requester. */
bool BuildRequest(const KIND &k, std::vector<MQBYTE> *msg) {
    char err[200];
    if (k.form == FORM_ESCAPE) {
        BuildEscapeCommand(msg, k.text, strlen(k.text));
        return true;
    }
    if (k.form == FORM_MQSC) {
        msg->assign((const MQBYTE *)k.text, (const MQBYTE *)k.text + strlen(k.text));
        return true;
    }
    std::vector<std::string> words;
    std::string text = k.text;
    for (size_t at = 0; at < text.size();) {
        size_t sp = text.find(' ', at);
        if (sp == std::string::npos)
            sp = text.size();
        words.push_back(text.substr(at, sp - at));
        at = sp + 1;
    }
    MQLONG command = 0;
    if (ParseCommandCode(words[0].c_str(), &command, err, sizeof err) != 0) {
        fprintf(stderr, "agent_load: %s\n", err);
        return false;
    }
    StartPcfCommand(msg, command);
    for (size_t i = 1; i < words.size(); i++)
        if (AddParameterWord(msg, words[i].c_str(), err, sizeof err) != 0) {
            fprintf(stderr, "agent_load: %s\n", err);
            return false;
        }
    return true;
}

void Requester(int index, uint64_t seed, Clock::time_point end, std::atomic<int> *ready, TALLY *t) {
    INQUIRER in;
    if (!OpenInquirerQuiet(QmgrName, &in)) {
        t->putFailures++;
        (*ready)++;
        return;
    }
    MQLONG cc, rc;
    MQOD od = MQOD_DEFAULT;
    SetName(od.ObjectName, sizeof od.ObjectName, AGENT_INPUT_Q);
    MQHOBJ hInput = MQHO_UNUSABLE_HOBJ;
    MQOPEN(in.hconn, &od, MQOO_OUTPUT, &hInput, &cc, &rc);
    {
        std::lock_guard<std::mutex> lock(ReplyQueuesLock);
        ReplyQueues.push_back(in.replyQ);
    }
    (*ready)++;
    if (cc == MQCC_FAILED) {
        fprintf(stderr, "agent_load: MQOPEN of %s failed with reason %d\n", AGENT_INPUT_Q, (int)rc);
        t->putFailures++;
        CloseInquirer(&in);
        return;
    }
    std::vector<std::vector<MQBYTE>> bodies(KIND_COUNT);
    int total = 0;
    for (int k = 0; k < KIND_COUNT; k++) {
        if (!BuildRequest(Kinds[k], &bodies[(size_t)k])) {
            t->putFailures++;
            MQCLOSE(in.hconn, &hInput, MQCO_NONE, &cc, &rc);
            CloseInquirer(&in);
            return;
        }
        total += Kinds[k].weight;
    }
    std::mt19937_64 rng(seed);
    std::map<std::string, SENT> sent; /* by the CorrelId its replies carry */
    std::vector<MQBYTE> buffer(65536);
    uint32_t sequence = 0;

    /* Read one message (waiting up to waitMs) and account for it; returns
     * the key of the request it completed, "" otherwise, or "\x01" when
     * nothing came. */
    auto readOne = [&](int64_t waitMs) -> std::string {
        MQMD md = MQMD_DEFAULT;
        MQGMO gmo = MQGMO_DEFAULT;
        gmo.Options = MQGMO_WAIT | MQGMO_NO_SYNCPOINT;
        gmo.WaitInterval = (MQLONG)std::max<int64_t>(waitMs, 1);
        MQLONG length = 0;
        MQGET(in.hconn, in.hReply, &md, &gmo, (MQLONG)buffer.size(), buffer.data(), &length, &cc,
              &rc);
        if (rc == MQRC_TRUNCATED_MSG_FAILED && length > (MQLONG)buffer.size()) {
            buffer.resize((size_t)length);
            return "";
        }
        if (cc == MQCC_FAILED) {
            if (rc != MQRC_NO_MSG_AVAILABLE)
                fprintf(stderr, "agent_load: MQGET failed with reason %d\n", (int)rc);
            return std::string("\x01");
        }
        t->messages++;
        t->bytes += length;
        std::string key((const char *)md.CorrelId, MQ_CORREL_ID_LENGTH);
        auto it = sent.find(key);
        if (it == sent.end()) {
            t->unmatched++;
            return "";
        }
        SENT &s = it->second;
        if (s.complete) {
            t->duplicated++;
            return "";
        }
        if (s.abandoned) {
            t->late++;
            return "";
        }
        const MQBYTE *body = buffer.data();
        const size_t len = (size_t)length;
        static const char noResponse[] = "CVLA501E";
        for (size_t i = 0; i + 8 <= len; i++)
            if (memcmp(body + i, noResponse, 8) == 0) {
                t->noResponse++;
                break;
            }
        bool done = false;
        if (memcmp(md.Format, MQFMT_ADMIN, MQ_FORMAT_LENGTH) == 0)
            done = ReplyCompletesSet(md.Format, body, len) != 0;
        else
            done = ++s.texts >= std::max(Kinds[s.kind].textReplies, 1);
        if (!done)
            return "";
        s.complete = 1;
        return key;
    };

    while (Clock::now() < end) {
        int pick = (int)(rng() % (uint64_t)total), k = 0;
        while (pick >= Kinds[k].weight)
            pick -= Kinds[k++].weight;
        const std::vector<MQBYTE> &body = bodies[(size_t)k];
        MQMD md = MQMD_DEFAULT;
        memcpy(md.Format, Kinds[k].form == FORM_MQSC ? MQFMT_STRING : MQFMT_ADMIN,
               MQ_FORMAT_LENGTH);
        md.MsgType = MQMT_REQUEST;
        SetName(md.ReplyToQ, sizeof md.ReplyToQ, in.replyQ);
        bool pass = (rng() & 1) != 0;
        if (pass) { /* our own identifiers, passed back */
            md.Report = MQRO_PASS_MSG_ID | MQRO_PASS_CORREL_ID;
            snprintf((char *)md.MsgId, sizeof md.MsgId, "LOADM%02d%010u", index, sequence);
            snprintf((char *)md.CorrelId, sizeof md.CorrelId, "LOADC%02d%010u", index, sequence);
        }
        sequence++;
        MQPMO pmo = MQPMO_DEFAULT;
        pmo.Options = MQPMO_NO_SYNCPOINT;
        Clock::time_point start = Clock::now();
        MQPUT(in.hconn, hInput, &md, &pmo, (MQLONG)body.size(), (PMQVOID)body.data(), &cc, &rc);
        if (cc == MQCC_FAILED) {
            fprintf(stderr, "agent_load: MQPUT to %s failed with reason %d\n", AGENT_INPUT_Q,
                    (int)rc);
            t->putFailures++;
            Nap(100);
            continue;
        }
        t->requests++;
        std::string key((const char *)(pass ? md.CorrelId : md.MsgId), MQ_CORREL_ID_LENGTH);
        sent[key] = SENT{k, 0, 0, 0};
        Clock::time_point giveUp = start + std::chrono::milliseconds(GIVE_UP_MS);
        for (;;) {
            Clock::time_point now = Clock::now();
            if (now >= giveUp) {
                sent[key].abandoned = 1;
                t->lost++;
                fprintf(stderr, "agent_load: requester %d: no complete reply set for %s\n", index,
                        Kinds[k].name);
                break;
            }
            std::string got = readOne((int64_t)MsBetween(now, giveUp) + 1);
            if (got == key) {
                double ms = MsBetween(start, Clock::now());
                t->completed++;
                t->latencyMs.push_back(ms);
                t->kindMs[(size_t)k].push_back(ms);
                break;
            }
        }
    }
    /* Anything late or extra shows now. */
    while (readOne(DRAIN_MS) != std::string("\x01")) {
    }
    MQCLOSE(in.hconn, &hInput, MQCO_NONE, &cc, &rc);
    CloseInquirer(&in);
}

/* ---- Faults -------------------------------------------------------------- */

enum { F_REPLY_PUT, F_FORWARD_PUT, F_SLOW, F_STOPPED, F_KINDS };
const char *const FaultNames[F_KINDS] = {
    "reply put fails (2053/2051, 1-3 times)", "forward put fails (2053, 1-2 times)",
    "command server slow (10-40 ms a reply, 2-5 s)", "command server stopped (1-3 s)"};
std::atomic<int64_t> FaultCount[F_KINDS];

void Faults(uint64_t seed) {
    std::mt19937_64 rng(seed);
    while (!Stop) {
        Nap(1500 + (int64_t)(rng() % 2500));
        if (Stop)
            break;
        int f = (int)(rng() % F_KINDS);
        switch (f) {
            case F_REPLY_PUT: {
                std::string q;
                {
                    std::lock_guard<std::mutex> lock(ReplyQueuesLock);
                    if (ReplyQueues.empty())
                        continue;
                    q = ReplyQueues[rng() % ReplyQueues.size()];
                }
                q.erase(q.find_last_not_of(' ') + 1);
                const char *reason = (rng() & 1) ? "2053" : "2051";
                Mq({"fault", QmgrName, "put", q, reason, std::to_string(1 + rng() % 3)});
                break;
            }
            case F_FORWARD_PUT:
                Mq({"fault", QmgrName, "put", COMMAND_Q, "2053", std::to_string(1 + rng() % 2)});
                break;
            case F_SLOW:
                Mq({"cmdserver", QmgrName, "delay", std::to_string(10 + rng() % 31)});
                Nap(2000 + (int64_t)(rng() % 3000));
                Mq({"cmdserver", QmgrName, "delay", "0"});
                break;
            case F_STOPPED:
                Mq({"cmdserver", QmgrName, "stop"});
                Nap(1000 + (int64_t)(rng() % 2000));
                Mq({"cmdserver", QmgrName, "start"});
                break;
        }
        FaultCount[f]++;
    }
    /* Whatever is still set ends with the run. */
    Mq({"cmdserver", QmgrName, "delay", "0"});
    Mq({"cmdserver", QmgrName, "start"});
    Mq({"fault", QmgrName, "clear"});
}

/* ---- Memory -------------------------------------------------------------- */

struct SAMPLE {
    double atS;
    long rssKb;
};

void SampleMemory(Clock::time_point start, std::vector<SAMPLE> *samples) {
    while (!Stop) {
        long kb = ProcStatusKb(Agent.pid, "VmRSS");
        if (kb > 0)
            samples->push_back({MsBetween(start, Clock::now()) / 1000.0, kb});
        PLSleep(SAMPLE_MS);
    }
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    size_t at = (size_t)(p * (double)(v.size() - 1) + 0.5);
    return v[std::min(at, v.size() - 1)];
}

int Run(int seconds, int requesters, uint64_t seed) {
    Mqsim = std::string(TV_BIN_DIR) + "/mqsim";
    snprintf(QmgrName, sizeof QmgrName, "LOAD%lld", (long long)PLProcessId());
    if (Mq({"start", QmgrName, "--queues", "20", "--mqsc",
            std::string(TV_SOURCE_DIR) + "/samples/torvik.mqsc"}) != 0)
        return 1;
    if (!StartBenchAgent(&Agent, std::string(TV_BIN_DIR) + "/torvik", QmgrName, StateDir + "/log",
                         StateDir + "/torvik.cfg")) {
        fprintf(stderr, "agent_load: the agent did not come up (log in %s/log)\n",
                StateDir.c_str());
        Mq({"stop", QmgrName});
        return 1;
    }
    printf("agent_load: %d requesters, %d s, seed %llu, queue manager %s, agent pid %ld\n",
           requesters, seconds, (unsigned long long)seed, QmgrName, Agent.pid);
    fflush(stdout);

    Clock::time_point start = Clock::now();
    Clock::time_point end = start + std::chrono::seconds(seconds);
    std::vector<SAMPLE> samples;
    std::thread sampler(SampleMemory, start, &samples);
    std::vector<TALLY> tallies((size_t)requesters);
    std::vector<std::thread> threads;
    std::atomic<int> ready{0};
    for (int i = 0; i < requesters; i++)
        threads.emplace_back(Requester, i, seed + 1 + (uint64_t)i, end, &ready,
                             &tallies[(size_t)i]);
    while (ready < requesters)
        PLSleep(5);
    std::thread faults(Faults, seed);
    while (Clock::now() < end && !Agent.done)
        PLSleep(100);
    Stop = 1; /* faults end and are cleared; requesters finish and drain */
    faults.join();
    for (std::thread &th : threads)
        th.join();
    sampler.join();
    double wallS = MsBetween(start, Clock::now()) / 1000.0;
    bool agentRan = !Agent.done;
    long hwmKb = ProcStatusKb(Agent.pid, "VmHWM");
    bool agentStopped = StopBenchAgent(&Agent);
    int agentExit = Agent.exitCode;
    Mq({"stop", QmgrName});
    if (!agentStopped && Agent.thread.joinable())
        Agent.thread.join();

    TALLY all;
    for (const TALLY &t : tallies) {
        all.requests += t.requests;
        all.completed += t.completed;
        all.lost += t.lost;
        all.duplicated += t.duplicated;
        all.unmatched += t.unmatched;
        all.late += t.late;
        all.noResponse += t.noResponse;
        all.messages += t.messages;
        all.bytes += t.bytes;
        all.putFailures += t.putFailures;
        all.latencyMs.insert(all.latencyMs.end(), t.latencyMs.begin(), t.latencyMs.end());
        for (int k = 0; k < KIND_COUNT; k++)
            all.kindMs[(size_t)k].insert(all.kindMs[(size_t)k].end(), t.kindMs[(size_t)k].begin(),
                                         t.kindMs[(size_t)k].end());
    }
    printf("requests            %lld (%.0f a second)\n", (long long)all.requests,
           (double)all.requests / wallS);
    printf("replies             %lld reply sets completed (%lld messages, %lld bytes)\n",
           (long long)all.completed, (long long)all.messages, (long long)all.bytes);
    printf("lost                %lld\n", (long long)all.lost);
    printf("duplicated          %lld\n", (long long)all.duplicated);
    printf(
        "unmatched           %lld (CorrelId of no request; %lld more came after their request "
        "was counted lost)\n",
        (long long)all.unmatched, (long long)all.late);
    printf("No-response replies %lld (CVLA501E: aged requests, complete sets)\n",
           (long long)all.noResponse);
    if (all.putFailures != 0)
        printf("requester failures  %lld (puts or opens that failed on the requester's side)\n",
               (long long)all.putFailures);
    printf("latency             p50 %.2f ms  p99 %.2f ms  max %.0f ms\n",
           Percentile(all.latencyMs, 0.50), Percentile(all.latencyMs, 0.99),
           Percentile(all.latencyMs, 1.0));
    for (int k = 0; k < KIND_COUNT; k++)
        printf("  %-40s %7zu  p50 %7.2f ms  p99 %8.2f ms\n", Kinds[k].name,
               all.kindMs[(size_t)k].size(), Percentile(all.kindMs[(size_t)k], 0.50),
               Percentile(all.kindMs[(size_t)k], 0.99));
    int64_t faultTotal = 0;
    for (int f = 0; f < F_KINDS; f++)
        faultTotal += FaultCount[f];
    printf("faults injected     %lld\n", (long long)faultTotal);
    for (int f = 0; f < F_KINDS; f++)
        printf("  %-46s %lld\n", FaultNames[f], (long long)FaultCount[f].load());

    /* Memory: the peak of the warm-up (first 20%) against the peak of the
     * last half. */
    long warmPeak = 0, lastPeak = 0, peak = 0, first = 0;
    for (const SAMPLE &s : samples) {
        if (first == 0)
            first = s.rssKb;
        peak = std::max(peak, s.rssKb);
        if (s.atS <= 0.2 * seconds)
            warmPeak = std::max(warmPeak, s.rssKb);
        if (s.atS >= 0.5 * seconds)
            lastPeak = std::max(lastPeak, s.rssKb);
    }
    long limitKb = std::max(warmPeak / 10, 2048L);
    long growthKb = lastPeak - warmPeak;
    bool measured = warmPeak > 0 && lastPeak > 0;
    bool flat = measured && growthKb <= limitKb;
    printf("agent memory (RSS)  %.1f MB at start, peak %.1f MB (VmHWM %.1f MB), %zu samples\n",
           first / 1024.0, peak / 1024.0, hwmKb / 1024.0, samples.size());
    if (measured)
        printf(
            "  peak in warm-up %.1f MB, peak in last half %.1f MB: growth %+.1f MB, allowed %.1f "
            "MB: %s\n",
            warmPeak / 1024.0, lastPeak / 1024.0, growthKb / 1024.0, limitKb / 1024.0,
            flat ? "memory is flat" : "MEMORY GROWS");
    else
        printf("  not measured (no /proc samples of the agent)\n");
    printf("agent               %s; STOP: %s, exit code %d\n",
           agentRan ? "ran to the end of the run" : "ENDED DURING THE RUN",
           agentStopped ? "ended" : "DID NOT END", agentExit);

    std::vector<std::string> failures;
    if (all.lost != 0)
        failures.push_back("requests lost");
    if (all.duplicated != 0)
        failures.push_back("replies duplicated");
    if (all.unmatched != 0 || all.late != 0)
        failures.push_back("replies unmatched");
    if (all.putFailures != 0)
        failures.push_back("requester failures");
    if (all.requests == 0)
        failures.push_back("no requests");
    if (!flat)
        failures.push_back(measured ? "memory grows" : "memory not measured");
    if (!agentRan || !agentStopped || agentExit != 0)
        failures.push_back("the agent did not run and end in order");
    std::string verdict;
    for (const std::string &f : failures)
        verdict += (verdict.empty() ? "" : ", ") + f;
    printf("result              %s\n", failures.empty() ? "PASS" : ("FAIL: " + verdict).c_str());
    fflush(stdout);
    return failures.empty() ? 0 : 1;
}

} /* namespace */

int main(int argc, char **argv) {
    int seconds = DEFAULT_SECONDS, requesters = DEFAULT_REQUESTERS;
    uint64_t seed = (uint64_t)Clock::now().time_since_epoch().count() % 1000000007ULL;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--requesters") == 0 && i + 1 < argc)
            requesters = atoi(argv[++i]);
        else if (strcmp(argv[i], "--seed") == 0 && i + 1 < argc)
            seed = strtoull(argv[++i], nullptr, 0);
        else if (argv[i][0] != '-')
            seconds = atoi(argv[i]);
        else {
            fprintf(stderr, "usage: agent_load [SECONDS] [--requesters N] [--seed N]\n");
            return 2;
        }
    }
    if (seconds < 5 || requesters < 1 || requesters > 99) {
        fprintf(stderr, "agent_load: SECONDS must be 5 or more, --requesters 1 to 99\n");
        return 2;
    }
    char dir[1024];
    if (PLMakeTempDirectory("agent-load-", dir, sizeof dir) != 0) {
        fprintf(stderr, "agent_load: cannot make a state directory\n");
        return 1;
    }
    StateDir = dir;
    PLSetEnv("MQSIM_DIR", dir);
    PLSetEnv("MQSIM_ADDR", nullptr);
    PLSetEnv("MQM_DLL_PATH", TV_LIB_DIR);
    int rc = Run(seconds, requesters, seed);
    if (rc == 0) {
        std::error_code ec;
        std::filesystem::remove_all(StateDir, ec);
    } else {
        fprintf(stderr, "agent_load: state and the agent's log kept in %s\n", StateDir.c_str());
    }
    return rc;
}
