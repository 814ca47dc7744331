/* process.h -- the processes of end-to-end tests: a program of the build run
 * to its end (RunProgram) or on a thread of the test (BackgroundProgram),
 * and a private stand-in queue manager (MqsimQueueManager). Arguments go to
 * programs as they are, never through a shell; output (standard output and
 * error together) is kept up to outCap bytes.
 *
 * A program that dies by a signal (other than at its time-out) or whose
 * output holds a sanitizer report fails the running test, whatever the test
 * asserts (CheckProgramEnd); so does a queue manager that died before its
 * stop, did not end when told to, left its log without its end line, or
 * wrote a sanitizer report into a log of its directory. In the sanitizer
 * builds a fault in a child is never lost. TV_FIXTURE_FAIL(text) reports
 * it; a program without GoogleTest (a benchmark) defines it before
 * including this header.
 *
 *   MqsimQueueManager qm;
 *   ASSERT_EQ(qm.Start("QM1", {"--mqsc", qm.Sample("torvik.mqsc")}), "");
 *   ASSERT_EQ(qm.Run({"fault", "QM1", "put", "Q", "2053", "3"}, &out), 0) << out;
 *   ... MQCONNX("QM1", ...) ...   (MQSIM_DIR is set in this process too)
 *   qm.Stop();                   (or its destructor)
 *
 * WaitUntil polls a condition until it holds or a generous deadline passes
 * (no fixed sleeps in tests). Needs TV_BIN_DIR and TV_SOURCE_DIR
 * (tv_add_test). Threads: RunProgram from any thread; the rest belongs to
 * the test thread.
 */
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/net.h"
#include "platform/platform.h"
#include "support/files.h"

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

/* The seed of a randomised test: TORVIK_FUZZ_SEED when set (to replay a
 * failure), else the clock. Tests show it in every failure. */
inline uint64_t FuzzSeed() {
    const char *env = getenv("TORVIK_FUZZ_SEED");
    if (env != nullptr && *env != '\0')
        return strtoull(env, nullptr, 0);
    return (uint64_t)std::chrono::steady_clock::now().time_since_epoch().count();
}

}  // namespace tvtest

using tvtest::WaitUntil;

class MqsimQueueManager {
public:
    MqsimQueueManager() = default;
    MqsimQueueManager(const MqsimQueueManager &) = delete;
    MqsimQueueManager &operator=(const MqsimQueueManager &) = delete;
    ~MqsimQueueManager() { Stop(); }

    /* The mqsim program and a file of the source tree's samples/. */
    static std::string Program() { return std::string(TV_BIN_DIR) + "/mqsim"; }
    static std::string Sample(const char *name) {
        return std::string(TV_SOURCE_DIR) + "/samples/" + name;
    }

    /* Make the state directory (once) and point MQSIM_DIR at it. Returns ""
     * or an error text. */
    std::string Prepare() {
        if (!dir_.empty())
            return "";
        char buf[1024];
        if (PLMakeTempDirectory("mqsim-test-", buf, sizeof buf) != 0)
            return "cannot make a temporary directory";
        dir_ = buf;
        PLSetEnv("MQSIM_DIR", dir_.c_str());
        PLSetEnv("MQSIM_ADDR", nullptr);
        return "";
    }

    /* `mqsim start name options...` in this fixture's directory. Returns ""
     * on success, else the command's output and exit code. */
    std::string Start(const std::string &name, const std::vector<std::string> &options = {}) {
        std::string err = Prepare();
        if (!err.empty())
            return err;
        std::vector<std::string> args{"start", name};
        args.insert(args.end(), options.begin(), options.end());
        std::string out;
        int rc = Run(args, &out);
        if (rc != 0)
            return "mqsim start exited " + std::to_string(rc) + ": " + out + Log(name);
        names_.push_back(name);
        return "";
    }

    /* Run `mqsim args...`; output (standard output and error) into *out.
     * Returns the exit code, or -1 when it could not run. */
    int Run(const std::vector<std::string> &args, std::string *out = nullptr) {
        std::vector<std::string> argv{Program()};
        argv.insert(argv.end(), args.begin(), args.end());
        tvtest::PROGRAMRESULT r = tvtest::RunProgram(argv, 60000, "", 1 << 20);
        if (out)
            *out = r.out;
        return r.rc == 0 ? r.proc.exitCode : -1;
    }

    /* `mqsim mqsc name command` for each command, each of which must
     * succeed (else the test fails); the output of the last. */
    std::string Mqsc(const std::string &name, const std::vector<std::string> &commands) {
        std::string out;
        for (const std::string &c : commands)
            if (Run({"mqsc", name, c}, &out) != 0)
                TV_FIXTURE_FAIL("mqsc " + c + " failed:\n" + out);
        return out;
    }

    /* The daemon's log of queue manager name (for failure messages). */
    std::string Log(const std::string &name) const {
        std::string text = tvtest::ReadFile(dir_ + "/" + name + ".log");
        return text.empty() ? "" : "\n--- log of " + name + " ---\n" + text;
    }

    /* Port and pid of a running queue manager from its port file; false
     * when there is none. */
    bool PortFile(const std::string &name, int *port, int64_t *pid) const {
        FILE *f = PLOpenFile((dir_ + "/" + name + ".port").c_str(), "r", nullptr);
        if (f == nullptr)
            return false;
        long long p = 0, id = 0;
        bool ok = fscanf(f, "%lld %lld", &p, &id) == 2;
        fclose(f);
        if (ok) {
            *port = (int)p;
            *pid = (int64_t)id;
        }
        return ok;
    }

    const std::string &Dir() const { return dir_; }

    /* Stop every queue manager of this directory, however it was started
     * (killing any that outlive the stop), and remove the directory. Safe
     * to call twice. */
    void Stop() {
        if (!dir_.empty()) {
            std::error_code ec;
            for (auto &e : std::filesystem::directory_iterator(dir_, ec)) {
                std::string f = e.path().filename().string();
                if (f.size() > 5 && f.compare(f.size() - 5, 5, ".port") == 0) {
                    std::string name = f.substr(0, f.size() - 5);
                    if (std::find(names_.begin(), names_.end(), name) == names_.end())
                        names_.push_back(name);
                }
            }
        }
        for (auto &name : names_) {
            int port;
            int64_t pid;
            if (!PortFile(name, &port, &pid))
                continue;
            if (!PLProcessAlive(pid)) {
                TV_FIXTURE_FAIL("queue manager " + name + " died" + Log(name));
                dead_.push_back(name); /* reported once */
                continue;
            }
            Run({"stop", name});
            if (!WaitUntil([&] { return !PLProcessAlive(pid); }, 10000)) {
                TV_FIXTURE_FAIL("queue manager " + name + " did not end when stopped" + Log(name));
                PLKillProcess(pid);
            }
        }
        names_.clear();
        if (!dir_.empty()) {
            CheckLogs();
            std::error_code ec;
            std::filesystem::remove_all(dir_, ec);
            dir_.clear();
        }
        dead_.clear();
    }

private:
    /* Every log of the directory: no sanitizer report, and each daemon that
     * said it was running also said it ended. */
    void CheckLogs() {
        std::error_code ec;
        for (auto &e : std::filesystem::directory_iterator(dir_, ec)) {
            std::string f = e.path().filename().string();
            if (f.size() <= 4 || f.compare(f.size() - 4, 4, ".log") != 0)
                continue;
            std::string name = f.substr(0, f.size() - 4);
            std::string text = Log(name);
            tvtest::CheckSanitizerOutput("the log " + f, text);
            if (std::find(dead_.begin(), dead_.end(), name) != dead_.end())
                continue;
            size_t runs = Count(text, "queue manager " + name + " running on ");
            size_t ends = Count(text, "queue manager " + name + " ended");
            if (runs != ends)
                TV_FIXTURE_FAIL("queue manager " + name + " ended without its end line (" +
                                std::to_string(runs) + " starts, " + std::to_string(ends) +
                                " ends)" + text.substr(0, 8000));
        }
    }

    static size_t Count(const std::string &text, const std::string &what) {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            n++;
        return n;
    }

    std::string dir_;
    std::vector<std::string> names_;
    std::vector<std::string> dead_; /* found dead by Stop */
};
