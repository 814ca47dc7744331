/* test_process.h -- running a program of the build from a test: to its end
 * (RunProgram) or on a thread of the test while the test goes on
 * (BackgroundProgram). Arguments go to the program as they are, never through
 * a shell; output (standard output and error together) is kept up to outCap
 * bytes.
 *
 * A program that dies by a signal (other than at its time-out) or whose
 * output holds a sanitizer report fails the running test, whatever the test
 * asserts (CheckProgramEnd): in the sanitizer builds a fault in a child is
 * never lost. TV_FIXTURE_FAIL(text) reports it; a program without
 * GoogleTest (a benchmark) defines it before including this header.
 *
 * Threads: RunProgram from any thread; a BackgroundProgram belongs to the
 * test thread that made it.
 */
#pragma once

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"

#ifndef TV_FIXTURE_FAIL
#include <gtest/gtest.h>
#define TV_FIXTURE_FAIL(text) ADD_FAILURE() << (text)
#endif

namespace tvtest {

/* The offset of the first sanitizer report in text (AddressSanitizer,
 * LeakSanitizer, UndefinedBehaviorSanitizer, ThreadSanitizer), or npos. */
inline size_t FindSanitizerReport(const std::string &text) {
    static const char *const marks[] = {
        "ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "WARNING: ThreadSanitizer",
        "ERROR: ThreadSanitizer",  "runtime error: ",      "ERROR: UndefinedBehaviorSanitizer"};
    size_t first = std::string::npos;
    for (const char *m : marks)
        first = std::min(first, text.find(m));
    return first;
}

/* Fail the running test when output (of the program named what) holds a
 * sanitizer report; the report goes into the failure message. */
inline void CheckSanitizerOutput(const std::string &what, const std::string &output) {
    size_t at = FindSanitizerReport(output);
    if (at != std::string::npos)
        TV_FIXTURE_FAIL(what + " reported a fault:\n" +
                        output.substr(at > 200 ? at - 200 : 0, 8000));
}

/* Fail the running test when a program ended by a signal without being
 * killed at its time-out (a crash, an abort), or reported a sanitizer
 * fault. rc is PLRunProcess's result. */
inline void CheckProgramEnd(const std::string &what, int rc, const PLPROCRESULT &proc,
                            const std::string &output) {
    if (rc == 0 && proc.exitCode == -1 && !proc.timedOut)
        TV_FIXTURE_FAIL(what + " died by a signal:\n" + output.substr(0, 8000));
    CheckSanitizerOutput(what, output);
}

struct PROGRAMRESULT {
    int rc = -100; /* PLRunProcess's result; proc and out are valid when 0 */
    PLPROCRESULT proc{};
    std::string out;
};

inline PROGRAMRESULT RunProgram(const std::vector<std::string> &args, uint32_t timeoutMs = 120000,
                                const std::string &workDir = "", size_t outCap = 64 << 20) {
    std::vector<const char *> argv;
    for (auto &a : args)
        argv.push_back(a.c_str());
    argv.push_back(nullptr);
    PROGRAMRESULT r;
    std::vector<char> out(outCap);
    r.rc = PLRunProcess(argv.data(), workDir.empty() ? nullptr : workDir.c_str(), out.data(),
                        out.size(), timeoutMs, &r.proc);
    r.out.assign(out.data(), r.rc == 0 ? r.proc.outLen : 0);
    CheckProgramEnd(args.empty() ? std::string("a program") : args[0], r.rc, r.proc, r.out);
    return r;
}

/* A program running on a thread of the test until it ends by itself or is
 * killed at its time-out; the destructor waits for it. */
class BackgroundProgram {
public:
    explicit BackgroundProgram(std::vector<std::string> args, uint32_t timeoutMs = 300000) {
        thread_ = std::thread([this, args, timeoutMs] {
            result_ = RunProgram(args, timeoutMs);
            done_ = 1;
        });
    }
    ~BackgroundProgram() { Join(); }
    bool Done() const { return done_.load() != 0; }
    const PROGRAMRESULT &Join() {
        if (thread_.joinable())
            thread_.join();
        return result_;
    }

private:
    std::thread thread_;
    std::atomic<int> done_{0};
    PROGRAMRESULT result_;
};

}  // namespace tvtest
