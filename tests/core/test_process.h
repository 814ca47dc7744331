/* test_process.h -- running a program of the build from a test: to its end
 * (RunProgram) or on a thread of the test while the test goes on
 * (BackgroundProgram). Arguments go to the program as they are, never through
 * a shell; output (standard output and error together) is kept up to outCap
 * bytes.
 *
 * Threads: RunProgram from any thread; a BackgroundProgram belongs to the
 * test thread that made it.
 */
#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace tvtest {

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
