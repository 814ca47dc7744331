/* agent_hooks.cpp -- the agent's steps between start-up and shutdown that
 * belong to MQ access: connect, open the queues with their consumers,
 * report the parameters, start consumption and run the main loop; and the
 * MQ and worker parts of the shutdown.
 *
 * Owns: nothing (the handles are connect.cpp's and queues.cpp's).
 * Threads: main thread (start-up and Shutdown).
 */
#include <cstring>

#include "config/settings.h"
#include "core/agent.h"
#include "core/mainloop.h"
#include "core/startup.h"
#include "core/workers.h"
#include "log/output.h"
#include "mq/connect.h"
#include "mq/hobjcache.h"
#include "mq/mqload.h"
#include "mq/queues.h"
#include "mqconst/mqconst.h"
#include "routing/routing.h"

/* The shutdown gives the workers this many slices of 100 ms (20 s); it
 * goes on as soon as they have ended. */
static const int WORKER_WAIT_CYCLES = 200;

static MQLONG QueueCommandForWorker(const char *text);
static void DropSecondaryCall(WORKERCALL *call);

void PutSimpleCommandCall(WORKERCALL *call) {
    PutSimpleCommand(static_cast<const char *>(call->argument));
}

/* The command queuer of the MQ access layer: a worker makes the put. */
static MQLONG QueueCommandForWorker(const char *text) {
    return QueueCall(PutSimpleCommandCall, const_cast<char *>(text));
}

static void DropSecondaryCall(WORKERCALL *call) {
    (void)call;
    DropSecondaryConnection();
}

int StartAgent(int configSet) {
    MQHCONN hConn = ConnectQueueManager();
    if (hConn == MQHC_UNUSABLE_HCONN)
        return -1;
    HConnMain.store(hConn);

    SetCommandQueuer(QueueCommandForWorker);
    if (OpenAgentQueues(&CommandConsumer, &ReplyConsumer) != 0)
        return -1;

    int verbosity = Settings.verbosity;
    const char *verbosityName = verbosity >= VERBOSITY_QUIET && verbosity <= VERBOSITY_HIGH
                                    ? VerbosityNames[verbosity]
                                    : "";
    OutputMessage(1, OUTF_NORMAL,
                  "CVLA004I Parameters in effect:\n"
                  "  Queue Manager        : %s\n"
                  "  Input Queue          : %s\n"
                  "  Reply Queue          : %s\n"
                  "  Actual Reply Queue   : %s\n"
                  "  Verbose Level        : %s\n",
                  Settings.qmgrName, Settings.inputQName, Settings.modelQName,
                  Settings.actualReplyQName, verbosityName);
    if (configSet)
        ReportConfigOverrides();

    int32_t certEvent = Settings.certEvent.load(std::memory_order_relaxed);
    if (certEvent == CERTEVENT_YES)
        OutputMessage(1, OUTF_NORMAL,
                      "CVLA223I Certificate Expiry Events are enabled\n"
                      "certevent config set to 'yes'\n");
    else if (certEvent == CERTEVENT_NO)
        OutputMessage(1, OUTF_NORMAL,
                      "CVLA223I Certificate Expiry Events are disabled\n"
                      "certevent config set to 'no'\n");

    MQCTLO ctlo = MQCTLO_DEFAULT;
    ctlo.Options = MQCTLO_FAIL_IF_QUIESCING;
    ctlo.Reserved = -1;
    MQLONG compCode = MQCC_OK, reason = MQRC_NONE;
    MQEntryPoints.MQCTL(hConn, MQOP_START, &ctlo, &compCode, &reason);
    if (compCode == MQCC_FAILED) {
        OutputMessage(0, OUTF_NORMAL,
                      "CVLA106E MQCTL on queue manager '%s' failed with reason %d (%s)\n",
                      Settings.qmgrName, reason, ReasonText(reason));
        return -1;
    }

    MainLoop();
    return 0;
}

int SendSimpleCommand(void) {
    return PutSimpleCommand(Settings.simpleCommand);
}

void ShutdownConnections(void) {
    MQHCONN hConn = HConnMain.load();
    if (hConn != MQHC_UNUSABLE_HCONN) {
        /* Consumption stops after a consumer call in progress returns;
         * failures of a connection already lost are not reported again. */
        MQLONG compCode = MQCC_OK, reason = MQRC_NONE;
        MQCTLO ctlo = MQCTLO_DEFAULT;
        MQEntryPoints.MQCTL(hConn, MQOP_STOP, &ctlo, &compCode, &reason);
        MQEntryPoints.MQDISC(&hConn, &compCode, &reason);
        HConnMain.store(MQHC_UNUSABLE_HCONN);
        HObjCommandQ = HObjInputQ = HObjReplyQ = MQHO_UNUSABLE_HOBJ;
        /* The cached handles died with the connection. */
        ForgetCachedHandles();
    }
    if (FlagIsSet(FLAG_SIMPLE_COMMAND)) {
        /* The program is ending: an event that the disconnect itself may
         * raise on the connection's handler is not news (the handler is
         * quiet once the stop flag is set). */
        SetStopFlag();
        DropSecondaryConnection();
    }
}

void ShutdownWorkers(void) {
    /* With no worker thread the main thread drops the connection itself
     * rather than start a thread for it (-c mode, an agent that never
     * queued a call). */
    if (!WorkersBusy())
        DropSecondaryConnection();
    else
        QueueCall(DropSecondaryCall, nullptr);
    /* Returns at once when no worker is left, having joined those that
     * ended. */
    WaitForWorkers(WORKER_WAIT_CYCLES);
}
