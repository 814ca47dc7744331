/* control.cpp -- the mqsim tool's control commands (see control.h).
 *
 * Owns: nothing global. Threads: a control connection's reader; commands
 * that touch the queue manager take QMGR.lock.
 */
#include "control.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "admin.h"
#include "cmdserver.h"
#include "platform/platform.h"

static MQLONG ParseNumber(const char *s, long long lo, long long hi, MQLONG *out);

static MQLONG ParseNumber(const char *s, long long lo, long long hi, MQLONG *out) {
    char *end = nullptr;
    long long v = strtoll(s, &end, 10);
    if (end == s || *end != '\0' || v < lo || v > hi)
        return 1;
    *out = (MQLONG)v;
    return 0;
}

void HandleControl(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w, const CONTROLENV *env) {
    MQLONG argc = WireGetI32(r);
    std::vector<std::string> args;
    for (MQLONG i = 0; i < argc && i < 64 && !r->bad; i++) {
        const uint8_t *p;
        uint32_t n;
        WireGetBlob(r, &p, &n);
        if (!r->bad)
            args.emplace_back((const char *)p, n);
    }
    if (!WireReadComplete(r) || argc < 1 || argc > 64) {
        LogLine("control connection %u: malformed command", c->id);
        return;
    }
    for (auto &a : args) {
        if (a.find('\0') != std::string::npos) {
            LogLine("control connection %u: malformed command", c->id);
            return;
        }
    }
    std::vector<std::string> out;
    std::string error;
    int rc = 0;
    const std::string &cmd = args[0];
    size_t n = args.size();
    if (cmd == "ping") {
        out.push_back(qm->a.name);
    } else if (cmd == "mqsc" || cmd == "mqscfile") {
        if (n != 2) {
            rc = 1;
            error = "mqsc needs one text";
        } else if (cmd == "mqsc") {
            if (RunMqscCommand(qm, args[1].c_str(), &out) != 0) {
                rc = 1;
                error = "the command failed";
            }
        } else {
            int failed = 0;
            RunMqscScript(qm, args[1].c_str(), &out, &failed);
            if (failed > 0) {
                rc = 1;
                error = std::to_string(failed) + " command(s) failed";
            }
        }
    } else if (cmd == "fault") {
        std::lock_guard<std::mutex> g(qm->lock);
        MQLONG reason = 0, count = 1;
        if (n == 2 && args[1] == "clear") {
            ClearFaults(qm);
            out.push_back("faults cleared");
        } else if (n >= 4 && n <= 5 && args[1] == "put" &&
                   ParseNumber(args[3].c_str(), 1, 999999999, &reason) == 0 &&
                   (n == 4 || ParseNumber(args[4].c_str(), -1, 999999999, &count) == 0) &&
                   count != 0 && args[2].size() <= MQ_Q_NAME_LENGTH) {
            FAULT *f = new FAULT();
            snprintf(f->verb, sizeof f->verb, "MQPUT");
            snprintf(f->object, sizeof f->object, "%s", args[2].c_str());
            f->anyPut = 1;
            f->reason = reason;
            f->count = count;
            FAULT **pp = &qm->faults;
            while (*pp)
                pp = &(*pp)->next;
            *pp = f;
            out.push_back("fault set: MQPUT/MQPUT1 " + args[2] + " " + args[3]);
        } else if (n >= 5 && n <= 6 && args[1] == "call" &&
                   ParseNumber(args[4].c_str(), 1, 999999999, &reason) == 0 &&
                   (n == 5 || ParseNumber(args[5].c_str(), -1, 999999999, &count) == 0) &&
                   count != 0 && args[2].size() < 16 && args[3].size() <= MQ_Q_NAME_LENGTH) {
            static const char *verbs[] = {"MQCONN",  "MQCONNX", "MQDISC", "MQOPEN",
                                          "MQCLOSE", "MQGET",   "MQPUT",  "MQPUT1",
                                          "MQINQ",   "MQSET",   "MQCB",   "MQCTL"};
            int known = 0;
            for (const char *v : verbs)
                known |= args[2] == v;
            if (!known) {
                rc = 1;
                error = "unknown verb " + args[2];
            } else {
                FAULT *f = new FAULT();
                snprintf(f->verb, sizeof f->verb, "%s", args[2].c_str());
                snprintf(f->object, sizeof f->object, "%s", args[3].c_str());
                f->reason = reason;
                f->count = count;
                FAULT **pp = &qm->faults;
                while (*pp)
                    pp = &(*pp)->next;
                *pp = f;
                out.push_back("fault set: " + args[2] + " " + args[3] + " " + args[4]);
            }
        } else if (n == 3 && args[1] == "event" &&
                   ParseNumber(args[2].c_str(), 1, 999999999, &reason) == 0) {
            int k = 0;
            for (CONN *x = qm->conns; x; x = x->next) {
                if (x->eventHandler) {
                    PushEvent(x, 0, MQCC_WARNING, reason);
                    k++;
                }
            }
            out.push_back("event " + args[2] + " sent to " + std::to_string(k) + " connection(s)");
        } else {
            rc = 1;
            error =
                "usage: fault QM put QUEUE REASON [COUNT] | call VERB OBJECT REASON [COUNT] | "
                "event REASON | clear";
        }
    } else if (cmd == "break") {
        std::lock_guard<std::mutex> g(qm->lock);
        int k = 0;
        for (CONN *x = qm->conns; x; x = x->next) {
            PLShutdownSocket(x->sock);
            k++;
        }
        LogLine("break: %d connection(s) severed", k);
        out.push_back(std::to_string(k) + " connection(s) broken");
    } else if (cmd == "stop") {
        int quiesce = n == 2 && args[1] == "quiesce";
        LogLine("stop%s requested", quiesce ? " (quiesce)" : "");
        env->requestStop(quiesce ? 2 : 1);
        out.push_back("stopping");
    } else if (cmd == "cmdserver") {
        MQLONG ms = 0;
        if (n == 2 && args[1] == "stop")
            rc = ControlCommandServer(qm, CMDSERVER_STOP, 0);
        else if (n == 2 && args[1] == "start")
            rc = ControlCommandServer(qm, CMDSERVER_START, 0);
        else if (n == 3 && args[1] == "delay" && ParseNumber(args[2].c_str(), 0, 3600000, &ms) == 0)
            rc = ControlCommandServer(qm, CMDSERVER_DELAY, ms);
        else
            rc = 1;
        if (rc != 0) {
            rc = 1;
            error = "usage: cmdserver QM stop|start|delay MS";
        } else {
            out.push_back("command server: " + args[1]);
        }
    } else if (cmd == "status") {
        std::lock_guard<std::mutex> g(qm->lock);
        const char *plat = qm->a.platform == MQPL_ZOS          ? "ZOS"
                           : qm->a.platform == MQPL_WINDOWS_NT ? "WINDOWS"
                                                               : "UNIX";
        out.push_back(std::string("QMNAME(") + qm->a.name + ")");
        out.push_back(std::string("STATUS(") + (qm->quiescing ? "QUIESCING" : "RUNNING") + ")");
        out.push_back("PORT(" + std::to_string(env->port) + ")");
        out.push_back("PID(" + std::to_string((long long)PLProcessId()) + ")");
        out.push_back(std::string("PLATFORM(") + plat + ")");
        out.push_back("CONNECTIONS(" + std::to_string(qm->connCount) + ")");
        out.push_back(std::string("CMDSERVER(") + (qm->cmdServerRunning ? "RUNNING" : "STOPPED") +
                      ") DELAY(" + std::to_string(qm->cmdServerDelayMs.load()) + ")");
        out.push_back(std::string("LASTCMDUSER(") + qm->lastCmdUser + ")");
        out.push_back(std::string("LASTCMDAPPL(") + qm->lastCmdApplName + ")");
        for (auto &e : qm->queues) {
            if (e.second->a.qType == MQQT_LOCAL)
                out.push_back("QUEUE(" + e.first + ") CURDEPTH(" +
                              std::to_string(e.second->a.curDepth) + ")");
        }
    } else {
        rc = 1;
        error = "unknown command " + cmd;
    }
    WireBegin(w, WIRE_T_CONTROL | WIRE_T_REPLY, h->tag);
    WirePutI32(w, rc);
    std::string text;
    for (auto &l : out) {
        text += l;
        text += '\n';
    }
    WirePutBlob(w, text.data(), (uint32_t)text.size());
    WirePutString(w, error.c_str());
    SendFrame(c, w, 1);
}
