/* command_consumer.cpp -- the consumer of TORVIK's input queue: the agent's
 * own simple commands, queue events, and administrative requests, which are
 * recorded as REQUESTs and handed on to the command server.
 *
 * Owns: LastCertCheckStart, StartCertOutstanding; requests live in the request table.
 * Threads: the queue manager's consumer thread, one call at a time, never
 * at the same time as OnReplyMessage. RequestLock is taken only inside
 * AddRequest and AgeRequests, CacheLock inside the handle cache.
 */
#include <cstddef>
#include <cstring>

#include "config/settings.h"
#include "log/runstate.h"
#include "log/status.h"
#include "log/output.h"
#include "mq/hobjcache.h"
#include "mqconst/mqpcf.h"
#include "mqconst/mqconst.h"
#include "platform/platform.h"
#include "routing/routing.h"

std::atomic<int64_t> LastCertCheckStart{0};
std::atomic<int32_t> StartCertOutstanding{0};
static std::atomic<CERTCHECKSTARTER *> CertCheckStarter{nullptr};

void SetCertCheckStarter(CERTCHECKSTARTER *starter) {
    CertCheckStarter.store(starter, std::memory_order_relaxed);
}

/* Bytes of an unrecognised simple command shown by CVLA212E. */
static const MQLONG SimpleCommandShown = 12;

static void RunSimpleCommand(const MQMD *md, const MQBYTE *msg, MQLONG length);
static void CheckReplyQueueSize(REQUEST *req);
static MQLONG DispatchRequest(REQUEST *req, MQMD *md, MQBYTE *msg, MQLONG length);
static const char *DefinitionTypeName(MQLONG defType);

void ResetRouting(void) {
    ClearRequests();
    LastAgeingPass.store(0, std::memory_order_relaxed);
    LastCertCheckStart.store(0, std::memory_order_relaxed);
    StartCertOutstanding.store(0, std::memory_order_relaxed);
    ClearRequestHooks();
}

void StartCertCheck(void) {
    CERTCHECKSTARTER *start = CertCheckStarter.load(std::memory_order_relaxed);
    if (start != nullptr)
        start();
    LastCertCheckStart.store(PLWallClockSeconds(), std::memory_order_relaxed);
    StartCertOutstanding.store(0, std::memory_order_relaxed);
}

void OnCommandMessage(MQHCONN hConn, MQMD *md, MQGMO *gmo, MQBYTE *buffer, MQCBC *cbc) {
    (void)hConn;
    if (cbc == nullptr)
        return;
    if (!AcceptConsumerCall(cbc, Settings.inputQName))
        return;
    if (md == nullptr)
        return;

    LastActivityTime.store(CurrentTime.load(std::memory_order_relaxed), std::memory_order_relaxed);
    MQLONG length = ConsumerMessageLength(gmo, cbc, buffer);

    /* A message with nowhere to reply to is one of our own commands (an
     * empty name counts as blank). */
    if (md->ReplyToQ[0] == ' ' || md->ReplyToQ[0] == '\0' || md->ReplyToQMgr[0] == ' ' ||
        md->ReplyToQMgr[0] == '\0') {
        RunSimpleCommand(md, buffer, length);
        CountCommand(length);
        return;
    }

    /* The Command field of an MQCFH, whatever the format; MQCMD_NONE for a
     * message too short to hold one. */
    MQLONG command = MQCMD_NONE;
    if (length >= (MQLONG)(offsetof(MQCFH, Command) + sizeof(MQLONG)))
        memcpy(&command, buffer + offsetof(MQCFH, Command), sizeof(command));
    REQUEST *req = NewRequest(command);
    if (req == nullptr)
        return; /* reported, and the agent is stopping */

    req->requestType = ClassifyRequest(md->Format, buffer, length);
    if (req->requestType == REQTYPE_MQSC)
        OutputMessage(2, OUTF_NORMAL, "CVLA402I Received MQSC command message of length %d bytes\n",
                      (int)length);
    else if (req->requestType != REQTYPE_NONE)
        OutputMessage(2, OUTF_NORMAL,
                      "CVLA401I Received PCF '%s' command message of length %d bytes\n",
                      CommandText(command), (int)length);

    PrepareForward(req, md);
    req->replyCount = 0;
    req->replyBytes = 0;
    /* A request of no known format is dropped below without a word, so
     * its reply queue is not even opened. */
    if (FlagIsSet(FLAG_REPLYQINQ) && req->requestType != REQTYPE_NONE)
        CheckReplyQueueSize(req);

    req->busy = 1;
    MQLONG rc = DispatchRequest(req, md, buffer, length);
    if (rc == MQRC_FUNCTION_NOT_SUPPORTED) {
        req->busy = 0;
        rc = ForwardCommand(md, buffer, length);
    }
    if (rc != MQRC_NONE) {
        /* Dropped without a reply; whoever failed has said why. */
        FreeRequest(req);
        return;
    }
    CountCommand(length);
    if (req->complete) {
        FreeRequest(req);
        return;
    }
    AddRequest(req, md->MsgId);
}

void MQENTRY CommandConsumer(MQHCONN hConn, PMQMD md, PMQGMO gmo, PMQVOID buffer, PMQCBC cbc) {
    OnCommandMessage(hConn, md, gmo, (MQBYTE *)buffer, cbc);
}

MQLONG ClassifyRequest(const MQCHAR *format, const MQBYTE *msg, MQLONG length) {
    if (memcmp(format, MQFMT_STRING, MQ_FORMAT_LENGTH) == 0 ||
        memcmp(format, MQFMT_COMMAND_1, MQ_FORMAT_LENGTH) == 0 ||
        memcmp(format, MQFMT_COMMAND_2, MQ_FORMAT_LENGTH) == 0)
        return REQTYPE_MQSC;
    if (memcmp(format, MQFMT_ADMIN, MQ_FORMAT_LENGTH) == 0) {
        MQLONG command = MQCMD_NONE;
        if (msg != nullptr && length >= (MQLONG)(offsetof(MQCFH, Command) + sizeof(MQLONG)))
            memcpy(&command, msg + offsetof(MQCFH, Command), sizeof(command));
        return command == MQCMD_ESCAPE ? REQTYPE_ESCAPE : REQTYPE_PCF;
    }
    return REQTYPE_NONE;
}

/* ---- Simple commands ---------------------------------------------------- */

static int TextIs(const MQBYTE *msg, MQLONG length, const char *text) {
    size_t n = strlen(text);
    return (size_t)length == n && memcmp(msg, text, n) == 0;
}

/* Carry out a simple command, or report it with CVLA212E. The text shown
 * has control characters replaced by '.', so that no byte of an untrusted
 * message can disturb the console or the log. */
static void RunSimpleCommand(const MQMD *md, const MQBYTE *msg, MQLONG length) {
    if (memcmp(md->Format, MQFMT_STRING, MQ_FORMAT_LENGTH) == 0) {
        if (TextIs(msg, length, "STOP")) {
            OutputMessage(0, OUTF_NORMAL, "CVLA021I STOP command received\n");
            SetStopFlag();
            return;
        }
        if (TextIs(msg, length, "REPORT")) {
            StatusReport(1);
            return;
        }
        if (TextIs(msg, length, "CHECKHOBJ")) {
            CheckHandleCache(1);
            return;
        }
        if (TextIs(msg, length, "CHECKREPL")) {
            AgeRequests(1);
            return;
        }
        if (TextIs(msg, length, "STARTCERT")) {
            StartCertCheck();
            return;
        }
    }
    char shown[SimpleCommandShown + 1];
    MQLONG n = length < SimpleCommandShown ? length : SimpleCommandShown;
    for (MQLONG i = 0; i < n; i++)
        shown[i] = (msg[i] < 0x20 || msg[i] == 0x7F) ? '.' : (char)msg[i];
    shown[n] = '\0';
    OutputMessage(0, OUTF_NORMAL, "CVLA212E TORVIK does not recognise the simple command '%.*s'\n",
                  (int)n, shown);
}

/* ---- Requests ----------------------------------------------------------- */

/* replyqinq: consolidate to no more than the requester's reply queue takes,
 * telling the operator once per cached handle. */
static void CheckReplyQueueSize(REQUEST *req) {
    /* A queue that cannot be opened now is reported when a reply to it is
     * put, once per dropped reply. */
    MQLONG reason = MQRC_NONE;
    HOBJCACHE *entry = ProbeReplyQueueHandle(req->replyQName, req->replyQMgrName,
                                             MQOO_OUTPUT | MQOO_PASS_ALL_CONTEXT, &reason);
    if (entry == nullptr)
        return;
    if (entry->maxMsgLen >= req->maxMsgSize || entry->reported) {
        if (entry->maxMsgLen < req->maxMsgSize)
            req->maxMsgSize = entry->maxMsgLen;
        ReleaseReplyQueueHandle(entry);
        return;
    }
    req->maxMsgSize = entry->maxMsgLen;
    char name[MQ_DISPLAY_NAME_SIZE];
    OutputMessage(0, OUTF_NORMAL,
                  "CVLA304I ReplyQ %s (%s) has smaller MaxMsgLen (%d)\nthan configured maxmsgsize "
                  "(%d). Consolidation size reduced accordingly\n",
                  QueueDisplayName(name, req->replyQName, req->replyQMgrName),
                  DefinitionTypeName(entry->defType), (int)entry->maxMsgLen,
                  (int)Settings.maxMsgSize);
    entry->reported = 1;
    ReleaseReplyQueueHandle(entry);
}

/* Hand a request to its handler. Returns 0 when the handler has dealt with
 * it, MQRC_FUNCTION_NOT_SUPPORTED (2298) to forward it unchanged, another
 * reason to drop it. MQSC text and escape commands go to the registered
 * translation, command 9500 to the registered DISPLAY CERT handler; a kind
 * with no handler registered goes to the command server as it came. */
static MQLONG DispatchRequest(REQUEST *req, MQMD *md, MQBYTE *msg, MQLONG length) {
    switch (req->requestType) {
        case REQTYPE_MQSC:
            return CallRequestHandler(HANDLER_MQSC, req, md, msg, length);
        case REQTYPE_ESCAPE:
            return CallRequestHandler(HANDLER_ESCAPE, req, md, msg, length);
        case REQTYPE_PCF:
            /* CVL_CMD_DISPLAY_CERTIFICATE is the agent's own; every other
             * command belongs to the command server. */
            if (req->command == CVL_CMD_DISPLAY_CERTIFICATE)
                return CallRequestHandler(HANDLER_DISPLAY_CERT, req, md, msg, length);
            return MQRC_FUNCTION_NOT_SUPPORTED;
        default:
            return MQRCCF_UNEXPECTED_ERROR;
    }
}

static const char *DefinitionTypeName(MQLONG defType) {
    switch (defType) {
        case MQQDT_PREDEFINED:
            return "PREDEFINED";
        case MQQDT_PERMANENT_DYNAMIC:
            return "PERMDYN";
        case MQQDT_TEMPORARY_DYNAMIC:
            return "TEMPDYN";
        case MQQDT_SHARED_DYNAMIC:
            return "SHAREDYN";
        default:
            return "";
    }
}
