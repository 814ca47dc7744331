/* trigger.cpp -- the stand-in queue manager's trigger monitor.
 *
 * The hook runs on the thread that made the message visible, right after
 * the queue manager's lock was released: it checks the trigger conditions
 * under the lock, builds the trigger message, logs the decision and hands
 * the start to the monitor's thread, so that no connection waits for a
 * program to start. The monitor thread starts programs in the order decided
 * and reaps those that have ended.
 *
 * Owns: Monitor (the one TRIGMON of the daemon) and its lock, which guards
 * its job list, children and ending flag.
 * Threads: see trigger.h.
 */
#include "trigger.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/net.h"
#include "platform/platform.h"
#include "statedir.h"
#include "wire.h"

/* How often the monitor looks whether started programs have ended. */
constexpr int REAP_INTERVAL_MS = 1000;

/* One program to start. */
struct TRIGJOB {
    MQTMC2 tmc;                                  /* its argument */
    char program[MQ_PROCESS_APPL_ID_LENGTH + 1]; /* APPLICID, trimmed */
    char qName[QNAME_SIZE];                      /* the triggered queue, for the log */
};

struct TRIGMON {
    QMGR *qm;
    std::thread thread;
    std::mutex lock;
    std::condition_variable cv;    /* a job came, or ending */
    std::deque<TRIGJOB> jobs;      /* under lock: decided, not yet started */
    std::vector<int64_t> children; /* under lock: started, not yet reaped */
    int ending;                    /* under lock */
};

/* Set once before the hook is installed (before the daemon writes its port
 * file, so before any connection exists); read by hook calls. */
static std::atomic<TRIGMON *> Monitor{nullptr};

static void OnTriggerArrival(QMGR *qm, const char *qName);
static void MonitorMain(TRIGMON *m);
static void StartProgram(TRIGMON *m, const TRIGJOB *job);
static int FindProgram(const char *name, char *path, size_t size);

void BuildTriggerMessage(const QATTRS *q, const PROCESS *p, const char *qmgrName, MQTMC2 *tmc) {
    *tmc = MQTMC2_DEFAULT;
    WireSetField(tmc->QName, sizeof tmc->QName, q->name);
    WireSetField(tmc->ProcessName, sizeof tmc->ProcessName, p->name);
    WireSetField(tmc->TriggerData, sizeof tmc->TriggerData, q->triggerData);
    char type[16];
    snprintf(type, sizeof type, "%4ld", (long)p->applType);
    memcpy(tmc->ApplType, type, sizeof tmc->ApplType);
    WireSetField(tmc->ApplId, sizeof tmc->ApplId, p->applId);
    WireSetField(tmc->EnvData, sizeof tmc->EnvData, p->envData);
    WireSetField(tmc->UserData, sizeof tmc->UserData, p->userData);
    WireSetField(tmc->QMgrName, sizeof tmc->QMgrName, qmgrName);
}

void StartTriggerMonitor(QMGR *qm) {
    if (Monitor.load(std::memory_order_relaxed) != nullptr)
        return;
    TRIGMON *m = new (std::nothrow) TRIGMON();
    if (m == nullptr) {
        LogLine("trigger: no memory; the trigger monitor does not run");
        return;
    }
    m->qm = qm;
    m->ending = 0;
    Monitor.store(m, std::memory_order_relaxed);
    m->thread = std::thread(MonitorMain, m);
    TriggerHook.store(OnTriggerArrival, std::memory_order_relaxed);
}

void StopTriggerMonitor(QMGR *qm) {
    (void)qm;
    TRIGMON *m = Monitor.load(std::memory_order_relaxed);
    if (m == nullptr)
        return;
    TriggerHook.store(nullptr, std::memory_order_relaxed);
    {
        std::lock_guard<std::mutex> g(m->lock);
        m->ending = 1;
        m->cv.notify_all();
    }
    m->thread.join();
    /* A hook call that loaded the hook before it was cleared may still be
     * running on another thread; the record stays (one per daemon). */
}

/* The trigger hook: a message arrived on qName while it was empty. */
static void OnTriggerArrival(QMGR *qm, const char *qName) {
    TRIGMON *m = Monitor.load(std::memory_order_relaxed);
    if (m == nullptr)
        return;
    TRIGJOB job;
    memset(&job, 0, sizeof job);
    char why[160] = "";
    char process[QNAME_SIZE] = "";
    {
        std::lock_guard<std::mutex> g(qm->lock);
        QUEUE *q = FindQueue(qm, qName);
        /* No trigger for a queue an application serves already, or cannot. */
        if (q == nullptr || q->a.qType != MQQT_LOCAL || q->a.triggerControl != MQTC_ON ||
            q->a.openInputCount > 0 || q->a.inhibitGet == MQQA_GET_INHIBITED ||
            q->a.triggerType == MQTT_NONE)
            return;
        snprintf(process, sizeof process, "%s", q->a.processName);
        PROCESS *p = q->a.processName[0] ? FindProcess(qm, q->a.processName) : nullptr;
        if (q->a.triggerType != MQTT_FIRST)
            snprintf(why, sizeof why, "only TRIGTYPE(FIRST) is supported");
        else if (q->a.initQName[0] == '\0')
            snprintf(why, sizeof why, "it has no INITQ");
        else if (q->a.processName[0] == '\0')
            snprintf(why, sizeof why, "it has no PROCESS");
        else if (p == nullptr)
            snprintf(why, sizeof why, "process %s is not defined", q->a.processName);
        else if (p->applId[0] == '\0')
            snprintf(why, sizeof why, "process %s has no APPLICID", p->name);
        else {
            BuildTriggerMessage(&q->a, p, qm->a.name, &job.tmc);
            WireGetField(job.program, p->applId, strlen(p->applId));
            snprintf(job.qName, sizeof job.qName, "%s", q->a.name);
        }
    }
    if (why[0] != '\0') {
        LogLine("trigger: queue %s not triggered: %s", qName, why);
        return;
    }
    LogLine("trigger: queue %s triggered: starting %s (process %s)", job.qName, job.program,
            process);
    std::lock_guard<std::mutex> g(m->lock);
    m->jobs.push_back(job);
    m->cv.notify_all();
}

static void MonitorMain(TRIGMON *m) {
    std::unique_lock<std::mutex> g(m->lock);
    for (;;) {
        auto ready = [m] { return m->ending || !m->jobs.empty(); };
        if (m->children.empty())
            m->cv.wait(g, ready);
        else
            m->cv.wait_for(g, std::chrono::milliseconds(REAP_INTERVAL_MS), ready);
        while (!m->jobs.empty()) {
            TRIGJOB job = m->jobs.front();
            m->jobs.pop_front();
            g.unlock();
            StartProgram(m, &job);
            g.lock();
        }
        for (size_t i = 0; i < m->children.size();) {
            if (!PLProcessAlive(m->children[i])) {
                LogLine("trigger: program (pid %lld) ended", (long long)m->children[i]);
                m->children.erase(m->children.begin() + (long)i);
            } else {
                i++;
            }
        }
        if (m->ending && m->jobs.empty())
            break;
    }
}

/* The full file name of program into path: name itself when it has a
 * directory part, else the first executable file of that name in a PATH
 * directory. Returns 0, or 1 when there is none. */
static int FindProgram(const char *name, char *path, size_t size) {
    if (strchr(name, '/') != nullptr || strchr(name, PL_PATH_SEPARATOR) != nullptr) {
        snprintf(path, size, "%s", name);
        return strlen(name) < size ? 0 : 1;
    }
    const char *env = PLGetEnv("PATH");
    if (env == nullptr)
        return 1;
    const char listSeparator = PL_PATH_SEPARATOR == '\\' ? ';' : ':';
    std::string dirs = env;
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(listSeparator, start);
        if (end == std::string::npos)
            end = dirs.size();
        std::string dir = dirs.substr(start, end - start);
        if (!dir.empty()) {
            std::string full = dir + PL_PATH_SEPARATOR + name;
            if (full.size() < size && PLFileExists(full.c_str())) {
                snprintf(path, size, "%s", full.c_str());
                return 0;
            }
        }
        start = end + 1;
    }
    return 1;
}

/* Start one program with its trigger message (monitor thread). */
static void StartProgram(TRIGMON *m, const TRIGJOB *job) {
    char path[STATE_PATH_SIZE], log[STATE_PATH_SIZE];
    if (FindProgram(job->program, path, sizeof path) != 0) {
        LogLine("trigger: cannot start %s for queue %s: program not found", job->program,
                job->qName);
        return;
    }
    if (GetLogFilePath(m->qm->opts.name, log, sizeof log) != 0) {
        LogLine("trigger: cannot start %s for queue %s: no log file name", job->program,
                job->qName);
        return;
    }
    /* The trigger message as one argument of 732 characters, no NUL in it. */
    std::string arg((const char *)&job->tmc, sizeof job->tmc);
    for (char &c : arg) {
        if (c == '\0')
            c = ' ';
    }
    const char *argv[] = {path, arg.c_str(), nullptr};
    int64_t pid = 0;
    int err = PLStartDetached(argv, log, &pid);
    if (err != 0) {
        char text[256];
        LogLine("trigger: cannot start %s for queue %s: %s", path, job->qName,
                PLErrorText(err, text, sizeof text));
        return;
    }
    LogLine("trigger: started %s (pid %lld) for queue %s", path, (long long)pid, job->qName);
    std::lock_guard<std::mutex> g(m->lock);
    m->children.push_back(pid);
}
