/* expr_eval.cpp -- the cost of one WHERE filter for one certificate.
 *
 * Each filter is compiled once and evaluated against a ring of 64
 * certificates (subjects of about 60 bytes, half of them O=ACME, lifespans
 * spread over 90 days), the way DISPLAY CERT walks a key repository. Time
 * per certificate and filter; the target is under 200 ns. Compile is shown
 * for comparison.
 */
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "expr/expr.h"
#include "log/cs.h"

namespace {

const char *const Filters[] = {
    "LIFESPAN LT 30d",
    "SSLPEER LK '*O=ACME*'",
    "TRUSTED EQ HIGH",
    "KEYSIZE GE 2048 EQ SSLPEER LK '*O=ACME*'",
};

std::vector<CERTREC> Certificates() {
    std::vector<CERTREC> certs(64);
    for (size_t i = 0; i < certs.size(); i++) {
        CERTREC *rec = &certs[i];
        memset(rec, 0, sizeof *rec);
        InitCertRecord(rec);
        snprintf(rec->label, sizeof rec->label, "cert%zu", i);
        snprintf(rec->subject, sizeof rec->subject,
                 "CN=server%zu.example.com,OU=Messaging,O=%s,L=Leeds,C=GB", i,
                 i % 2 ? "ACME" : "Other");
        rec->keySize = i % 3 ? 2048 : 1024;
        rec->trusted = static_cast<int32_t>(i % 3);
        rec->secondsLeft = static_cast<int64_t>(i) * 90 * 86400 / 64;
    }
    return certs;
}

void BM_Evaluate(benchmark::State &state) {
    const char *filter = Filters[state.range(0)];
    const ExprCallerData caller = {nullptr, CertParamTable, nullptr};
    char *message = nullptr;
    ExprContext *ctx = CompileExpression(filter, &caller, &message);
    if (ctx == nullptr) {
        state.SkipWithError(message != nullptr ? message : "compile failed");
        CSFreeMem(message);
        return;
    }
    const std::vector<CERTREC> certs = Certificates();
    size_t i = 0;
    int64_t matches = 0;
    for (auto _ : state) {
        matches += ExprMatches(ctx, &certs[i]);
        i = (i + 1) & 63;
    }
    benchmark::DoNotOptimize(matches);
    state.SetLabel(filter);
    state.SetItemsProcessed(state.iterations());
    FreeExpression(ctx);
}
BENCHMARK(BM_Evaluate)->DenseRange(0, 3);

void BM_Compile(benchmark::State &state) {
    const char *filter = Filters[state.range(0)];
    const ExprCallerData caller = {nullptr, CertParamTable, nullptr};
    for (auto _ : state) {
        char *message = nullptr;
        ExprContext *ctx = CompileExpression(filter, &caller, &message);
        benchmark::DoNotOptimize(ctx);
        FreeExpression(ctx);
        CSFreeMem(message);
    }
    state.SetLabel(filter);
}
BENCHMARK(BM_Compile)->DenseRange(0, 3);

}  // namespace

BENCHMARK_MAIN();
