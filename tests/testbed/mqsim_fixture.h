/* mqsim_fixture.h -- a private stand-in queue manager for end-to-end tests.
 *
 * MqsimQueueManager makes a fresh state directory (its own $MQSIM_DIR,
 * also set in this process so that the MQI library linked into the test
 * finds the daemon), starts `mqsim start QM ...` there, runs control
 * commands, and on Stop() or destruction stops the daemon (killing it if it
 * does not end) and removes the directory, so a failed assertion leaves
 * nothing behind. Tests in different processes run side by side.
 *
 *   MqsimQueueManager qm;
 *   ASSERT_EQ(qm.Start("QM1", {"--mqsc", qm.Sample("torvik.mqsc")}), "");
 *   std::string out;
 *   ASSERT_EQ(qm.Run({"fault", "QM1", "put", "Q", "2053", "3"}, &out), 0) << out;
 *   ... MQCONNX("QM1", ...) ...
 *   qm.Stop();
 *
 * A daemon that died before Stop(), did not end when told to, left its log
 * without its end line (a crash), or wrote a sanitizer report into any log
 * of the directory fails the running test (TV_FIXTURE_FAIL, see
 * core/test_process.h); so does an `mqsim` command that crashed or reported.
 *
 * WaitUntil polls a condition until it holds or a deadline passes (no
 * fixed sleeps in tests). Needs TV_BIN_DIR and TV_SOURCE_DIR (tv_add_test).
 */
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/test_process.h"
#include "platform/net.h"
#include "platform/platform.h"

/* Poll cond every few milliseconds until it is true or timeoutMs passed.
 * Returns the last value of cond. */
inline bool WaitUntil(const std::function<bool()> &cond, int timeoutMs = 20000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (cond())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return cond();
        PLSleep(5);
    }
}

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
        std::string prog = Program();
        std::vector<const char *> argv{prog.c_str()};
        for (auto &a : args)
            argv.push_back(a.c_str());
        argv.push_back(nullptr);
        std::vector<char> buf(1 << 20);
        PLPROCRESULT r;
        memset(&r, 0, sizeof r);
        int rc = PLRunProcess(argv.data(), nullptr, buf.data(), buf.size(), 60000, &r);
        std::string text(buf.data(), rc == 0 ? r.outLen : 0);
        tvtest::CheckProgramEnd("mqsim " + (args.empty() ? std::string() : args[0]), rc, r, text);
        if (out)
            *out = text;
        return rc == 0 ? r.exitCode : -1;
    }

    /* The daemon's log of queue manager name (for failure messages). */
    std::string Log(const std::string &name) const {
        std::string text;
        FILE *f = PLOpenFile((dir_ + "/" + name + ".log").c_str(), "r", nullptr);
        if (f == nullptr)
            return "";
        char line[512];
        while (fgets(line, sizeof line, f))
            text += line;
        fclose(f);
        return "\n--- log of " + name + " ---\n" + text;
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
