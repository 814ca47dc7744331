/* mqsim_main.cpp -- the mqsim command: start, stop and control a stand-in
 * queue manager, or run one in the foreground.
 *
 * Every command but `run` talks to a running daemon over its loopback port
 * with one control frame (wire.h), so tests can script faults while
 * applications run. Exit code 0 on success, 1 with a one-line error on
 * standard error otherwise.
 *
 * Owns: nothing global. Threads: the main thread only (`run` starts the
 * daemon's own threads).
 */
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "mqconst/mqi.h"
#include "platform/net.h"
#include "platform/platform.h"
#include "qmgr.h"
#include "server.h"
#include "statedir.h"
#include "wire.h"

static int Fail(const char *fmt, const char *a = "", const char *b = "");
static int ParseStartOptions(int argc, char **argv, int first, QMGROPTIONS *o);
static int SendControl(const char *qm, const std::vector<std::string> &args, std::string *text,
                       std::string *error, uint32_t timeoutMs);
static int IsRunning(const char *qm, int *port, int64_t *pid);
static int CmdStart(int argc, char **argv);
static int CmdStop(int argc, char **argv);
static int CmdControl(const char *qm, const std::vector<std::string> &args);
static void Usage(void);

static int Fail(const char *fmt, const char *a, const char *b) {
    fprintf(stderr, "mqsim: ");
    fprintf(stderr, fmt, a, b);
    fprintf(stderr, "\n");
    return 1;
}

static void Usage(void) {
    fprintf(stderr,
            "usage: mqsim start QM [--default] [--platform unix|windows|zos] [--queues N]\n"
            "                      [--client-channel NAME] [--refuse-cno-v7] [--mqsc FILE]\n"
            "       mqsim stop QM [--quiesce]\n"
            "       mqsim mqsc QM 'TEXT' | mqsim mqsc QM -f FILE\n"
            "       mqsim fault QM put QUEUE REASON [COUNT]\n"
            "       mqsim fault QM call VERB OBJECT REASON [COUNT]\n"
            "       mqsim fault QM event REASON | mqsim fault QM clear\n"
            "       mqsim break QM | mqsim status QM\n"
            "       mqsim cmdserver QM stop|start | mqsim cmdserver QM delay MS\n"
            "       mqsim run QM [options of start]\n");
}

/* Options of start/run from argv[first..]. Returns 0 or 1 (reported). */
static int ParseStartOptions(int argc, char **argv, int first, QMGROPTIONS *o) {
    for (int i = first; i < argc; i++) {
        const char *a = argv[i];
        const char *v = i + 1 < argc ? argv[i + 1] : nullptr;
        if (strcmp(a, "--default") == 0) {
            o->makeDefault = 1;
        } else if (strcmp(a, "--refuse-cno-v7") == 0) {
            o->refuseCnoV7 = 1;
        } else if (strcmp(a, "--platform") == 0 && v) {
            if (strcmp(v, "unix") == 0)
                o->platform = MQPL_UNIX;
            else if (strcmp(v, "windows") == 0)
                o->platform = MQPL_WINDOWS_NT;
            else if (strcmp(v, "zos") == 0)
                o->platform = MQPL_ZOS;
            else
                return Fail("unknown platform '%s' (unix, windows or zos)", v);
            i++;
        } else if (strcmp(a, "--queues") == 0 && v) {
            char *end = nullptr;
            long n = strtol(v, &end, 10);
            if (end == v || *end != '\0' || n < 0 || n > 1000000)
                return Fail("--queues needs a number from 0 to 1000000, not '%s'", v);
            o->queues = (int)n;
            i++;
        } else if (strcmp(a, "--client-channel") == 0 && v) {
            if (strlen(v) == 0 || strlen(v) > MQ_CHANNEL_NAME_LENGTH)
                return Fail("--client-channel needs a name of 1 to 20 characters");
            snprintf(o->clientChannel, sizeof o->clientChannel, "%s", v);
            i++;
        } else if (strcmp(a, "--mqsc") == 0 && v) {
            std::error_code ec;
            std::filesystem::path p = std::filesystem::absolute(v, ec);
            if (ec || p.string().size() >= sizeof o->mqscFile)
                return Fail("cannot use the file name '%s'", v);
            if (!PLFileExists(p.string().c_str()))
                return Fail("cannot read %s", v);
            snprintf(o->mqscFile, sizeof o->mqscFile, "%s", p.string().c_str());
            i++;
        } else {
            return Fail("unknown option '%s'", a);
        }
    }
    return 0;
}

/* 1 when QM's daemon runs (port file, live process). */
static int IsRunning(const char *qm, int *port, int64_t *pid) {
    if (ReadPortFile(qm, port, pid) != 0)
        return 0;
    return PLProcessAlive(*pid);
}

/* Send one control command and read its answer. Returns the daemon's
 * result (0 / 1), or 1 with *error when it cannot be reached. */
static int SendControl(const char *qm, const std::vector<std::string> &args, std::string *text,
                       std::string *error, uint32_t timeoutMs) {
    int port;
    int64_t pid;
    if (!IsRunning(qm, &port, &pid)) {
        *error = std::string("queue manager ") + qm + " is not running";
        return 1;
    }
    PLNetStart();
    PLSOCKET s;
    if (PLConnectTcp("127.0.0.1", port, 5000, &s) != 0) {
        *error = std::string("cannot reach queue manager ") + qm;
        return 1;
    }
    WBUF w = {};
    WireBegin(&w, WIRE_T_CONTROL, 1);
    WirePutI32(&w, (int32_t)args.size());
    for (auto &a : args)
        WirePutBlob(&w, a.data(), (uint32_t)a.size());
    WireEnd(&w);
    int rc = WireSendFrame(s, &w);
    WireFree(&w);
    if (rc != 0) {
        PLCloseSocket(s);
        *error = std::string("cannot reach queue manager ") + qm;
        return 1;
    }
    if (PLWaitReadable(s, timeoutMs) != 1) {
        PLCloseSocket(s);
        *error = std::string("no answer from queue manager ") + qm;
        return 1;
    }
    WIREHDR h;
    uint8_t *buf = nullptr;
    size_t cap = 0;
    rc = WireRecvFrame(s, &h, &buf, &cap);
    PLCloseSocket(s);
    if (rc != 0 || h.type != (WIRE_T_CONTROL | WIRE_T_REPLY)) {
        free(buf);
        *error = std::string("no answer from queue manager ") + qm;
        return 1;
    }
    RBUF r;
    WireReadInit(&r, buf, h.length);
    int32_t result = WireGetI32(&r);
    const uint8_t *p;
    uint32_t n;
    WireGetBlob(&r, &p, &n);
    if (!r.bad)
        text->assign((const char *)p, n);
    WireGetBlob(&r, &p, &n);
    if (!r.bad)
        error->assign((const char *)p, n);
    free(buf);
    if (r.bad) {
        *error = "malformed answer";
        return 1;
    }
    return result != 0 ? 1 : 0;
}

static int CmdStart(int argc, char **argv) {
    const char *qm = argv[2];
    QMGROPTIONS o;
    memset(&o, 0, sizeof o);
    o.platform = MQPL_UNIX;
    snprintf(o.name, sizeof o.name, "%s", qm);
    if (ParseStartOptions(argc, argv, 3, &o) != 0)
        return 1;
    char dir[STATE_PATH_SIZE], log[STATE_PATH_SIZE], exe[STATE_PATH_SIZE];
    if (GetStateDirectory(dir, sizeof dir) != 0 || PLMakeDirectory(dir) != 0)
        return Fail("cannot make the state directory %s", dir);
    int port;
    int64_t pid;
    if (IsRunning(qm, &port, &pid))
        return Fail("queue manager %s is already running", qm);
    RemovePortFile(qm); /* a stale one */
    if (GetLogFilePath(qm, log, sizeof log) != 0 || PLGetExecutablePath(exe, sizeof exe) != 0)
        return Fail("cannot build the daemon's file names");
    std::vector<std::string> args{exe, "run"};
    for (int i = 2; i < argc; i++) {
        if (strcmp(argv[i], "--mqsc") == 0 && i + 1 < argc) {
            args.push_back("--mqsc");
            args.push_back(o.mqscFile);
            i++;
        } else {
            args.push_back(argv[i]);
        }
    }
    std::vector<const char *> av;
    for (auto &a : args)
        av.push_back(a.c_str());
    av.push_back(nullptr);
    int64_t child = 0;
    int err = PLStartDetached(av.data(), log, &child);
    if (err != 0) {
        char text[256];
        return Fail("cannot start the daemon: %s", PLErrorText(err, text, sizeof text));
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        std::string text, error;
        if (ReadPortFile(qm, &port, &pid) == 0 && pid == child &&
            SendControl(qm, {"ping"}, &text, &error, 5000) == 0) {
            printf("mqsim: queue manager %s started on 127.0.0.1:%d\n", qm, port);
            return 0;
        }
        if (!PLProcessAlive(child))
            return Fail("queue manager %s did not start; see %s", qm, log);
        PLSleep(5);
    }
    PLKillProcess(child);
    return Fail("queue manager %s did not start in time; see %s", qm, log);
}

static int CmdStop(int argc, char **argv) {
    const char *qm = argv[2];
    int quiesce = 0;
    for (int i = 3; i < argc; i++) {
        if (strcmp(argv[i], "--quiesce") == 0)
            quiesce = 1;
        else
            return Fail("unknown option '%s'", argv[i]);
    }
    int port;
    int64_t pid;
    if (!IsRunning(qm, &port, &pid))
        return Fail("queue manager %s is not running", qm);
    std::string text, error;
    std::vector<std::string> args{"stop"};
    if (quiesce)
        args.push_back("quiesce");
    if (SendControl(qm, args, &text, &error, 10000) != 0)
        return Fail("%s", error.c_str());
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    char path[STATE_PATH_SIZE];
    GetPortFilePath(qm, path, sizeof path);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!PLProcessAlive(pid)) {
            RemovePortFile(qm);
            printf("mqsim: queue manager %s ended\n", qm);
            return 0;
        }
        PLSleep(10);
    }
    return Fail("queue manager %s did not end in time", qm);
}

static int CmdControl(const char *qm, const std::vector<std::string> &args) {
    std::string text, error;
    int rc = SendControl(qm, args, &text, &error, 120000);
    fputs(text.c_str(), stdout);
    if (rc != 0)
        return Fail("%s", error.empty() ? "the command failed" : error.c_str());
    return 0;
}

int main(int argc, char **argv) {
    if (argc < 3) {
        Usage();
        return 1;
    }
    const char *cmd = argv[1];
    const char *qm = argv[2];
    if (!ValidQmgrName(qm))
        return Fail("'%s' is not a valid queue manager name", qm);
    if (strcmp(cmd, "start") == 0)
        return CmdStart(argc, argv);
    if (strcmp(cmd, "stop") == 0)
        return CmdStop(argc, argv);
    if (strcmp(cmd, "run") == 0) {
        QMGROPTIONS o;
        memset(&o, 0, sizeof o);
        o.platform = MQPL_UNIX;
        snprintf(o.name, sizeof o.name, "%s", qm);
        if (ParseStartOptions(argc, argv, 3, &o) != 0)
            return 1;
        char dir[STATE_PATH_SIZE];
        if (GetStateDirectory(dir, sizeof dir) != 0 || PLMakeDirectory(dir) != 0)
            return Fail("cannot make the state directory %s", dir);
        int port;
        int64_t pid;
        if (IsRunning(qm, &port, &pid) && pid != PLProcessId())
            return Fail("queue manager %s is already running", qm);
        return RunDaemon(&o);
    }
    if (strcmp(cmd, "mqsc") == 0) {
        if (argc == 4)
            return CmdControl(qm, {"mqsc", argv[3]});
        if (argc == 5 && strcmp(argv[3], "-f") == 0) {
            FILE *f = PLOpenFile(argv[4], "rb", nullptr);
            if (f == nullptr)
                return Fail("cannot read %s", argv[4]);
            std::string text;
            char chunk[4096];
            size_t got;
            while ((got = fread(chunk, 1, sizeof chunk, f)) > 0) {
                text.append(chunk, got);
                if (text.size() > 16 * 1048576) {
                    fclose(f);
                    return Fail("%s is too large", argv[4]);
                }
            }
            fclose(f);
            if (text.find('\0') != std::string::npos)
                return Fail("%s is not a text file", argv[4]);
            return CmdControl(qm, {"mqscfile", text});
        }
        Usage();
        return 1;
    }
    if (strcmp(cmd, "fault") == 0 || strcmp(cmd, "cmdserver") == 0) {
        if (argc < 4) {
            Usage();
            return 1;
        }
        std::vector<std::string> args{cmd};
        for (int i = 3; i < argc; i++)
            args.push_back(argv[i]);
        return CmdControl(qm, args);
    }
    if ((strcmp(cmd, "break") == 0 || strcmp(cmd, "status") == 0) && argc == 3)
        return CmdControl(qm, {cmd});
    Usage();
    return 1;
}
