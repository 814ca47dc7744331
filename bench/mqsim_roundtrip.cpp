/* mqsim_roundtrip.cpp -- put/get round trips through the stand-in MQI
 * library and the mqsim daemon.
 *
 * Each benchmark thread has its own connection and queue and repeats: MQPUT
 * of a 1 KB non-persistent message, MQGET of it. Printed per run: round
 * trips per second (trips/s), the client's CPU per round trip (cpu_us) and
 * the daemon's (daemon_cpu_us, where the system shows it), so that TORVIK's
 * own benchmarks can tell how much of their time the stand-in takes.
 * The daemon is started in a private state directory and stopped at the end.
 */
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <string>

#include "mqconst/mqi.h"
/* A fault of the daemon is printed (no test to fail here). */
#define TV_FIXTURE_FAIL(text) fprintf(stderr, "%s\n", std::string(text).c_str())
#include "support/process.h"
#include "testbed/mqsim_util.h"

namespace {

MqsimQueueManager *Qm;
int64_t DaemonPid = 0;

/* The daemon's CPU seconds so far (utime + stime from /proc), or -1. */
double DaemonCpuSeconds() {
    char path[64];
    snprintf(path, sizeof path, "/proc/%lld/stat", (long long)DaemonPid);
    FILE *f = fopen(path, "r");
    if (f == nullptr)
        return -1;
    char buf[1024];
    size_t n = fread(buf, 1, sizeof buf - 1, f);
    fclose(f);
    buf[n] = '\0';
    const char *p = strrchr(buf, ')');
    if (p == nullptr)
        return -1;
    unsigned long long utime = 0, stime = 0;
    /* fields after the name: state ppid pgrp session tty tpgid flags minflt
     * cminflt majflt cmajflt utime stime */
    if (sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime, &stime) != 2)
        return -1;
    return (double)(utime + stime) / 100.0; /* USER_HZ */
}

void BM_PutGetRoundTrip(benchmark::State &state) {
    MQHCONN h;
    if (Connect("BENCHQM", &h) != 0) {
        state.SkipWithError("MQCONNX failed");
        return;
    }
    std::string q = "RT.Q." + std::to_string(state.thread_index());
    MQHOBJ o;
    if (Open(h, q.c_str(), MQOO_OUTPUT | MQOO_INPUT_EXCLUSIVE, &o) != 0) {
        state.SkipWithError("MQOPEN failed");
        return;
    }
    std::string body(1024, 'x');
    std::vector<char> buf(2048);
    MQMD md = MQMD_DEFAULT;
    md.Persistence = MQPER_NOT_PERSISTENT;
    MQPMO pmo = MQPMO_DEFAULT;
    pmo.Options = MQPMO_NO_SYNCPOINT;
    MQGMO gmo = MQGMO_DEFAULT;
    gmo.Options = MQGMO_NO_SYNCPOINT;
    double daemon0 = state.thread_index() == 0 ? DaemonCpuSeconds() : -1;
    std::clock_t cpu0 = std::clock();
    int64_t trips = 0;
    for (auto _ : state) {
        MQLONG cc, rc, len;
        MQMD put = md;
        MQPUT(h, o, &put, &pmo, (MQLONG)body.size(), (PMQVOID)body.data(), &cc, &rc);
        MQMD got = MQMD_DEFAULT;
        MQGET(h, o, &got, &gmo, (MQLONG)buf.size(), buf.data(), &len, &cc, &rc);
        if (rc != 0 || len != 1024) {
            state.SkipWithError("MQGET failed");
            break;
        }
        trips++;
    }
    std::clock_t cpu1 = std::clock();
    state.counters["trips/s"] = benchmark::Counter((double)trips, benchmark::Counter::kIsRate);
    /* std::clock is the whole process's CPU: per trip of all threads */
    state.counters["cpu_us"] = benchmark::Counter(
        1e6 * (double)(cpu1 - cpu0) / CLOCKS_PER_SEC / (double)trips / state.threads(),
        benchmark::Counter::kAvgThreads);
    if (daemon0 >= 0) {
        double daemon1 = DaemonCpuSeconds();
        /* measured by thread 0 for all; the average over threads undone */
        state.counters["daemon_cpu_us"] = benchmark::Counter(
            1e6 * (daemon1 - daemon0) / (double)trips, benchmark::Counter::kAvgThreads);
    }
    Close(h, &o);
    Disconnect(&h);
}
BENCHMARK(BM_PutGetRoundTrip)->Threads(1)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_PutGetRoundTrip)->Threads(4)->UseRealTime()->MinTime(2.0);

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    MqsimQueueManager qm;
    std::string err = qm.Start("BENCHQM");
    if (!err.empty()) {
        fprintf(stderr, "mqsim_roundtrip: %s\n", err.c_str());
        return 1;
    }
    int port;
    qm.PortFile("BENCHQM", &port, &DaemonPid);
    for (int i = 0; i < 4; i++) {
        std::string out;
        qm.Run({"mqsc", "BENCHQM", "DEFINE QLOCAL(RT.Q." + std::to_string(i) + ")"}, &out);
    }
    Qm = &qm;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    qm.Stop();
    return 0;
}
