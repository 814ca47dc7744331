/* bench_support.h -- what the benchmarks that drive real processes share.
 *
 * The requester side: a connection with a temporary dynamic reply queue and
 * an INQUIRE_Q of every queue with every attribute, sent to a command queue
 * and drained to the end of its reply set.
 * The agent side: programs of the build run to their end (RunBenchProgram),
 * a TORVIK agent started as a service on a thread and waited for until it is
 * up (StartBenchAgent), stopped with `torvik -c STOP` (StopBenchAgent), and
 * its process found and its memory read through /proc (FindAgentPid,
 * ProcStatusKb; 0 or -1 where there is no /proc).
 */
#ifndef TV_BENCH_SUPPORT_H
#define TV_BENCH_SUPPORT_H

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "mqconst/mqi.h"
#include "mqconst/mqpcf.h"
#include "mqcmd_build.h"
#include "mqcmd_replyset.h"
#include "platform/platform.h"

inline void SetName(MQCHAR *field, size_t size, const char *name) {
    size_t len = strlen(name);
    memset(field, 0, size);
    memcpy(field, name, len < size ? len : size);
}

/* The requester: its connection, its reply queue and the command it sends. */
struct INQUIRER {
    MQHCONN hconn;
    MQHOBJ hReply;
    char replyQ[MQ_Q_NAME_LENGTH + 1];
    std::vector<MQBYTE> command;
};

/* Connect to qmgr, open a reply queue from SYSTEM.DEFAULT.MODEL.QUEUE and
 * build the INQUIRE_Q. Returns false with *error set on a failure. */
inline bool OpenInquirerOr(const char *qmgr, INQUIRER *in, std::string *error) {
    MQCHAR qm[MQ_Q_MGR_NAME_LENGTH];
    SetName(qm, sizeof qm, qmgr);
    in->hconn = MQHC_UNUSABLE_HCONN;
    in->hReply = MQHO_UNUSABLE_HOBJ;
    MQLONG cc, rc;
    MQCONN(qm, &in->hconn, &cc, &rc);
    if (cc == MQCC_FAILED) {
        *error = "MQCONN failed with reason " + std::to_string(rc);
        return false;
    }
    MQOD od = MQOD_DEFAULT;
    SetName(od.ObjectName, sizeof od.ObjectName, "SYSTEM.DEFAULT.MODEL.QUEUE");
    SetName(od.DynamicQName, sizeof od.DynamicQName, "BENCH.*");
    MQOPEN(in->hconn, &od, MQOO_INPUT_EXCLUSIVE, &in->hReply, &cc, &rc);
    if (cc == MQCC_FAILED) {
        MQDISC(&in->hconn, &cc, &rc);
        *error = "MQOPEN of the model queue failed with reason " + std::to_string(rc);
        return false;
    }
    memcpy(in->replyQ, od.ObjectName, MQ_Q_NAME_LENGTH);
    in->replyQ[MQ_Q_NAME_LENGTH] = '\0';

    char err[200];
    in->command.clear();
    StartPcfCommand(&in->command, MQCMD_INQUIRE_Q);
    AddParameterWord(&in->command, "MQCA_Q_NAME=*", err, sizeof err);
    AddParameterWord(&in->command, "MQIACF_Q_ATTRS=MQIACF_ALL", err, sizeof err);
    return true;
}

/* As OpenInquirerOr; a failure skips the benchmark with its reason. */
inline bool OpenInquirer(benchmark::State &state, const char *qmgr, INQUIRER *in) {
    std::string error;
    if (OpenInquirerOr(qmgr, in, &error))
        return true;
    state.SkipWithError(error.c_str());
    return false;
}

/* As OpenInquirerOr; a failure is written to standard error. */
inline bool OpenInquirerQuiet(const char *qmgr, INQUIRER *in) {
    std::string error;
    if (OpenInquirerOr(qmgr, in, &error))
        return true;
    fprintf(stderr, "%s\n", error.c_str());
    return false;
}

inline void CloseInquirer(INQUIRER *in) {
    MQLONG cc, rc;
    MQCLOSE(in->hconn, &in->hReply, MQCO_NONE, &cc, &rc);
    MQDISC(&in->hconn, &cc, &rc);
}

/* One INQUIRE_Q sent to queue target and drained to the end of its reply
 * set, each reply waited for up to waitMs. Adds the messages and bytes;
 * returns 0 or the failing reason. */
inline MQLONG InquireAllQueues(const INQUIRER &in, const char *target, MQLONG waitMs,
                               std::vector<MQBYTE> *buffer, int64_t *messages, int64_t *bytes) {
    MQOD od = MQOD_DEFAULT;
    SetName(od.ObjectName, sizeof od.ObjectName, target);
    MQMD md = MQMD_DEFAULT;
    memcpy(md.Format, MQFMT_ADMIN, MQ_FORMAT_LENGTH);
    md.MsgType = MQMT_REQUEST;
    SetName(md.ReplyToQ, sizeof md.ReplyToQ, in.replyQ);
    MQPMO pmo = MQPMO_DEFAULT;
    pmo.Options = MQPMO_NO_SYNCPOINT;
    MQLONG cc, rc;
    MQPUT1(in.hconn, &od, &md, &pmo, (MQLONG)in.command.size(), (PMQVOID)in.command.data(), &cc,
           &rc);
    if (cc == MQCC_FAILED)
        return rc;
    MQBYTE correlId[MQ_MSG_ID_LENGTH];
    memcpy(correlId, md.MsgId, sizeof correlId);

    for (;;) {
        MQMD rmd = MQMD_DEFAULT;
        memcpy(rmd.CorrelId, correlId, sizeof correlId);
        MQGMO gmo = MQGMO_DEFAULT;
        gmo.Version = MQGMO_VERSION_2;
        gmo.Options = MQGMO_WAIT | MQGMO_NO_SYNCPOINT;
        gmo.WaitInterval = waitMs;
        gmo.MatchOptions = MQMO_MATCH_CORREL_ID;
        MQLONG length = 0;
        MQGET(in.hconn, in.hReply, &rmd, &gmo, (MQLONG)buffer->size(), buffer->data(), &length, &cc,
              &rc);
        if (rc == MQRC_TRUNCATED_MSG_FAILED && length > (MQLONG)buffer->size()) {
            buffer->resize((size_t)length);
            continue;
        }
        if (cc == MQCC_FAILED)
            return rc;
        (*messages)++;
        *bytes += length;
        if (ReplyCompletesSet(rmd.Format, buffer->data(), (size_t)length))
            return 0;
    }
}

/* ---- Programs and the agent ---------------------------------------------- */

/* Run a program (no shell) to its end or until timeoutMs; its output
 * (standard output and error) into *out. Returns its exit code, or -1 when
 * it could not be run. */
inline int RunBenchProgram(const std::vector<std::string> &args, std::string *out = nullptr,
                           uint32_t timeoutMs = 120000) {
    std::vector<const char *> argv;
    for (const std::string &a : args)
        argv.push_back(a.c_str());
    argv.push_back(nullptr);
    std::vector<char> buf(1 << 20);
    PLPROCRESULT result;
    memset(&result, 0, sizeof result);
    if (PLRunProcess(argv.data(), nullptr, buf.data(), buf.size(), timeoutMs, &result) != 0)
        return -1;
    if (out != nullptr)
        out->assign(buf.data(), result.outLen);
    return result.exitCode;
}

/* A TORVIK agent run as a service (-k) on a thread of the benchmark. */
struct BENCHAGENT {
    std::string program; /* the torvik program */
    std::string qmgr;
    std::string logDir; /* its logpath */
    std::thread thread; /* runs the agent to its end */
    std::atomic<int> done{0};
    std::atomic<int> exitCode{-1};
    std::atomic<int64_t> endNs{0}; /* steady clock at its end */
    long pid = 0;                  /* 0 where it cannot be found */
};

/* The pid of the process whose command line holds program's file name, the
 * queue manager name qmgr and "-k", or 0. Reads /proc. */
inline long FindAgentPid(const std::string &program, const std::string &qmgr) {
    std::string name = std::filesystem::path(program).filename().string();
    std::error_code ec;
    for (std::filesystem::directory_iterator it("/proc", ec), end; !ec && it != end;
         it.increment(ec)) {
        std::string entry = it->path().filename().string();
        char *stop = nullptr;
        long pid = strtol(entry.c_str(), &stop, 10);
        if (pid <= 0 || *stop != '\0')
            continue;
        FILE *f = fopen((it->path() / "cmdline").string().c_str(), "r");
        if (f == nullptr)
            continue;
        char cmd[4096];
        size_t n = fread(cmd, 1, sizeof cmd, f);
        fclose(f);
        /* NUL-separated arguments */
        std::vector<std::string> args;
        for (size_t at = 0; at < n;) {
            size_t len = strnlen(cmd + at, n - at);
            args.emplace_back(cmd + at, len);
            at += len + 1;
        }
        bool isAgent = !args.empty() && args[0].size() >= name.size() &&
                       args[0].compare(args[0].size() - name.size(), name.size(), name) == 0;
        bool hasQmgr = false, service = false;
        for (const std::string &a : args) {
            hasQmgr = hasQmgr || a == qmgr;
            service = service || a == "-k";
        }
        if (isAgent && hasQmgr && service)
            return pid;
    }
    return 0;
}

/* A field of /proc/PID/status in kilobytes ("VmRSS", "VmHWM"), or -1. */
inline long ProcStatusKb(long pid, const char *field) {
    FILE *f = fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
    if (f == nullptr)
        return -1;
    char line[256];
    long kb = -1;
    size_t len = strlen(field);
    while (fgets(line, sizeof line, f) != nullptr)
        if (strncmp(line, field, len) == 0 && line[len] == ':') {
            kb = strtol(line + len + 1, nullptr, 10);
            break;
        }
    fclose(f);
    return kb;
}

/* Write a configuration file at cfgPath (logpath = logDir, certevent = no,
 * then the lines of extraConfig), start program -m
 * qmgr -k -f cfgPath on a thread and wait (up to a minute) until its log
 * shows the parameters report (CVLA004I). Returns false when it did not
 * come up; the thread is left for StopBenchAgent to join. */
inline bool StartBenchAgent(BENCHAGENT *a, const std::string &program, const std::string &qmgr,
                            const std::string &logDir, const std::string &cfgPath,
                            const std::string &extraConfig = "") {
    a->program = program;
    a->qmgr = qmgr;
    a->logDir = logDir;
    a->done = 0;
    a->exitCode = -1;
    a->pid = 0;
    std::error_code ec;
    std::filesystem::create_directories(logDir, ec);
    FILE *f = fopen(cfgPath.c_str(), "w");
    if (f == nullptr)
        return false;
    fprintf(f, "logpath = \"%s\"\ncertevent = no\n%s", logDir.c_str(), extraConfig.c_str());
    fclose(f);
    std::string log = logDir + "/TORVIK_Log01.txt";
    remove(log.c_str());
    std::vector<std::string> args = {program, "-m", qmgr, "-k", "-f", cfgPath};
    a->thread = std::thread([a, args] {
        a->exitCode = RunBenchProgram(args, nullptr, 24 * 3600 * 1000);
        a->endNs = std::chrono::steady_clock::now().time_since_epoch().count();
        a->done = 1;
    });
    for (int i = 0; i < 6000 && !a->done; i++) {
        FILE *l = fopen(log.c_str(), "r");
        if (l != nullptr) {
            char line[512];
            bool up = false;
            while (fgets(line, sizeof line, l) != nullptr)
                up = up || strstr(line, "CVLA004I") != nullptr;
            fclose(l);
            if (up) {
                a->pid = FindAgentPid(program, qmgr);
                return true;
            }
        }
        PLSleep(10);
    }
    return false;
}

/* STOP the agent with `torvik -m QM -c STOP` and wait (up to 30 s) for it
 * to end; then join its thread. An agent that does not end is left to end
 * with its queue manager: stop that before calling this again. Returns
 * whether it ended. */
inline bool StopBenchAgent(BENCHAGENT *a) {
    if (!a->thread.joinable())
        return false;
    RunBenchProgram({a->program, "-m", a->qmgr, "-c", "STOP"});
    for (int i = 0; i < 30000 && !a->done; i++)
        PLSleep(1);
    bool ended = a->done != 0;
    if (ended)
        a->thread.join();
    return ended;
}

#endif
