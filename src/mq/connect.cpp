/* connect.cpp -- connecting to the queue manager: library load, MQCONNX,
 * the queue manager's name and platform, and the connection's event
 * handler.
 *
 * Owns: HConnMain, HConnSecondary.
 * Threads: ConnectQueueManager on the main thread (main connection, -c) or
 * a worker (secondary connection); OnConnectionEvent on a thread of the MQ
 * library.
 */
#include "mq/connect.h"

#include <cstring>

#include "config/settings.h"
#include "log/runstate.h"
#include "log/output.h"
#include "mq/mqload.h"
#include "mqconst/mqconst.h"

std::atomic<MQHCONN> HConnMain{MQHC_UNUSABLE_HCONN};
std::atomic<MQHCONN> HConnSecondary{MQHC_UNUSABLE_HCONN};

static const char APPL_NAME[] = "Corvel Software TORVIK";
static const char ZOS_COMMAND_QUEUE[] = "SYSTEM.COMMAND.INPUT";

static void StoreQueueManagerFacts(const MQCHAR *name, MQLONG platform);
static int ReportInfo(void);

int ConnectionLost(MQLONG reason) {
    switch (reason) {
        case MQRC_CONNECTION_BROKEN:
        case MQRC_HCONN_ERROR:
        case MQRC_Q_MGR_QUIESCING:
        case MQRC_Q_MGR_STOPPING:
        case MQRC_CONNECTION_QUIESCING:
        case MQRC_CONNECTION_STOPPING:
        case MQRC_Q_MGR_NOT_AVAILABLE:
            return 1;
        default:
            return 0;
    }
}

MQHCONN ConnectQueueManager(void) {
    int rc = LoadMQLibrary(&MQEntryPoints);
    if (rc != 0) {
        OutputMessage(0, OUTF_NORMAL, "CVLA100E Error loading MQAPI mqm.lib rc=%d\n", rc);
        return MQHC_UNUSABLE_HCONN;
    }

    /* The channel definition comes back filled (a non-empty channel name)
     * when the library makes a client connection. */
    MQCD cd = MQCD_CLIENT_CONN_DEFAULT;
    MQCNO cno = MQCNO_DEFAULT;
    if (cno.Version < MQCNO_VERSION_7)
        cno.Version = MQCNO_VERSION_7;
    cno.Options = MQCNO_HANDLE_SHARE_BLOCK | MQCNO_CD_FOR_OUTPUT_ONLY;
    cno.ClientConnPtr = &cd;
    CopyPadded(cno.ApplName, sizeof cno.ApplName, APPL_NAME, ' ');

    MQCHAR qmName[MQ_Q_MGR_NAME_LENGTH];
    memset(qmName, 0, sizeof qmName);
    memcpy(qmName, Settings.qmgrName, strnlen(Settings.qmgrName, sizeof qmName));

    MQHCONN hConn = MQHC_UNUSABLE_HCONN;
    MQLONG compCode = MQCC_OK, reason = MQRC_NONE;
    MQEntryPoints.MQCONNX(qmName, &cno, &hConn, &compCode, &reason);
    if (compCode == MQCC_FAILED && reason == MQRC_CNO_ERROR) {
        /* An older queue manager that refuses version 7 connect options. */
        cno.Version = MQCNO_VERSION_1;
        hConn = MQHC_UNUSABLE_HCONN;
        MQEntryPoints.MQCONNX(qmName, &cno, &hConn, &compCode, &reason);
    }
    if (compCode == MQCC_FAILED) {
        OutputMessage(0, OUTF_NORMAL,
                      "CVLA101E MQCONN to queue manager '%s' failed with reason %d (%s)\n",
                      Settings.qmgrName, reason, ReasonText(reason));
        return MQHC_UNUSABLE_HCONN;
    }

    size_t channelLen = 0;
    while (channelLen < sizeof cd.ChannelName && cd.ChannelName[channelLen] != '\0')
        channelLen++;
    while (channelLen > 0 && strchr(" \t\r\n", cd.ChannelName[channelLen - 1]) != nullptr)
        channelLen--;
    if (channelLen > 0) {
        Settings.certEvent.store(CERTEVENT_DISABLED, std::memory_order_relaxed);
        if (ReportInfo())
            OutputMessage(0, OUTF_NORMAL,
                          "CVLA112I A client-connection was made using channel '%.*s'. "
                          "Certificate Event checking disabled\n",
                          static_cast<int>(channelLen), cd.ChannelName);
    }

    MQOD od = MQOD_DEFAULT;
    od.ObjectType = MQOT_Q_MGR;
    MQHOBJ hObj = MQHO_UNUSABLE_HOBJ;
    MQEntryPoints.MQOPEN(hConn, &od, MQOO_INQUIRE, &hObj, &compCode, &reason);
    if (compCode == MQCC_FAILED) {
        OutputMessage(0, OUTF_NORMAL,
                      "CVLA102E MQOPEN of queue manager object failed with reason %d (%s)\n",
                      reason, ReasonText(reason));
        return hConn;
    }

    MQLONG selectors[2] = {MQCA_Q_MGR_NAME, MQIA_PLATFORM};
    MQLONG intAttrs[2] = {0, 0};
    MQCHAR charAttrs[MQ_Q_MGR_NAME_LENGTH];
    memset(charAttrs, ' ', sizeof charAttrs);
    MQEntryPoints.MQINQ(hConn, hObj, 2, selectors, 2, intAttrs, sizeof charAttrs, charAttrs,
                        &compCode, &reason);
    if (compCode == MQCC_FAILED) {
        OutputMessage(0, OUTF_NORMAL,
                      "CVLA103E MQINQ of queue manager object failed with reason %d (%s)\n", reason,
                      ReasonText(reason));
    } else {
        StoreQueueManagerFacts(charAttrs, intAttrs[0]);

        MQCBD cbd = MQCBD_DEFAULT;
        cbd.CallbackType = MQCBT_EVENT_HANDLER;
        cbd.Options = MQCBDO_FAIL_IF_QUIESCING;
        cbd.CallbackFunction = reinterpret_cast<MQPTR>(&OnConnectionEvent);
        MQEntryPoints.MQCB(hConn, MQOP_REGISTER, &cbd, MQHO_NONE, nullptr, nullptr, &compCode,
                           &reason);
        if (compCode == MQCC_FAILED)
            OutputMessage(0, OUTF_NORMAL, "CVLA199E TORVIK received reason code %d (%s)\n", reason,
                          ReasonText(reason));
    }

    MQEntryPoints.MQCLOSE(hConn, &hObj, MQCO_NONE, &compCode, &reason);
    return hConn;
}

void MQENTRY OnConnectionEvent(MQHCONN hConn, PMQMD md, PMQGMO gmo, PMQVOID buffer,
                               PMQCBC context) {
    (void)hConn;
    (void)md;
    (void)gmo;
    (void)buffer;
    if (context == nullptr || context->CallType != MQCBCT_EVENT_CALL)
        return;
    switch (context->Reason) {
        case MQRC_CONNECTION_BROKEN:
        case MQRC_Q_MGR_QUIESCING:
        case MQRC_Q_MGR_STOPPING:
        case MQRC_CONNECTION_QUIESCING:
        case MQRC_CONNECTION_STOPPING:
            break;
        default:
            return;
    }
    /* Both connections have this handler and both see a broken queue
     * manager: only the call that sets the stop flag reports it. */
    if (!SetStopFlagFirst())
        return;
    OutputMessage(0, OUTF_NORMAL, "CVLA199E TORVIK received reason code %d (%s)\n", context->Reason,
                  ReasonText(context->Reason));
}

/* ---- Helpers ------------------------------------------------------------ */

/* -c mode writes nothing but the messages of a failed connect or put. */
static int ReportInfo(void) {
    return !FlagIsSet(FLAG_SIMPLE_COMMAND);
}

/* The queue manager's real name and, for z/OS, the command queue. Settings
 * are written only when they change, since a worker's secondary connect
 * learns the same facts while other threads read them. */
static void StoreQueueManagerFacts(const MQCHAR *name, MQLONG platform) {
    char real[CFG_NAME_SIZE];
    size_t len = FieldLength(name, MQ_Q_MGR_NAME_LENGTH);
    memcpy(real, name, len);
    real[len] = '\0';
    if (len > 0 && strcmp(real, Settings.qmgrName) != 0)
        CopyField(Settings.qmgrName, sizeof Settings.qmgrName, real);
    if (platform == MQPL_ZOS) {
        SetFlags(FLAG_ZOS);
        if (strcmp(Settings.commandQName, ZOS_COMMAND_QUEUE) != 0)
            CopyField(Settings.commandQName, sizeof Settings.commandQName, ZOS_COMMAND_QUEUE);
    }
}
