/* certcmd.cpp -- DISPLAY CERT: the parameter checks, the inquiry of the
 * queue manager's key repository, the repository run on a worker thread,
 * and the selection and responses back on the consumer thread.
 *
 * Owns: nothing global; one CERTCMDCTX per request (its handler context),
 * released with the request by ReleaseCertCommand.
 * Threads: DisplayCertCommand, CertInquiryReply and ProcessRepository on
 * the queue manager's consumer thread; CheckRepository on a worker thread,
 * while the request stays busy so that nothing else touches it.
 */
#include "cert/certcmd.h"

#include <atomic>
#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "cert/keytool.h"
#include "config/settings.h"
#include "log/runstate.h"
#include "expr/expr.h"
#include "log/cs.h"
#include "log/output.h"
#include "mqconst/mqpcf.h"
#include "mq/queues.h"
#include "mqconst/mqconst.h"
#include "mqsc/mqsc_render.h"
#include "mqsc/mqsc_tables.h"
#include "pcf/pcf.h"
#include "routing/routing.h"

/* Texts of the parameter errors. */
static const char TextNotInteger[] = "CVLA604E Parameter '%s' should be an integer";
static const char TextNotRecognised[] = "CVLA605E Parameter '%s' is not a recognised value";
static const char TextNotString[] = "CVLA606E Parameter '%s' should be a string";
static const char TextTooLong[] = "CVLA602E Parameter '%s' is too long";
static const char TextNotPrintable[] = "Parameter '%s' contains non-printable characters.";

/* The header of a message shorter than this is not read. */
static const MQLONG MinPcfLength = MQCFH_STRUC_LENGTH;

/* A string parameter: its id, its longest value and the field of
 * CERTCMDCTX that takes it. */
struct STRINGPARM {
    MQLONG parmId;
    int maxLength;
    size_t field;
    size_t size;
};
#define CTX_FIELD(f) offsetof(CERTCMDCTX, f), sizeof(CERTCMDCTX::f)

/* The strings of DISPLAY CERT, and those of the queue manager's reply. */
static const STRINGPARM CommandStrings[] = {
    {MQCA_SSL_KEY_REPOSITORY, CERTCMD_KEYREPOS_MAX, CTX_FIELD(keyRepository)},
    {MQCA_CERT_LABEL, CERTCMD_LABEL_MAX, CTX_FIELD(labelPattern)},
    {CVL_ATTR_TORVIK_WHERE, CERTCMD_FILTER_MAX, CTX_FIELD(filterText)},
    {0, 0, 0, 0},
};
static const STRINGPARM QmgrStrings[] = {
    {MQCA_SSL_KEY_REPOSITORY, CERTCMD_KEYREPOS_MAX, CTX_FIELD(qmgrKeyRepository)},
    {MQCA_CERT_LABEL, CERTCMD_LABEL_MAX, CTX_FIELD(qmgrCertLabel)},
    {0, 0, 0, 0},
};

static MQLONG ReadDisplayParms(REQUEST *req, CERTCMDCTX *ctx, MQBYTE *msg, MQLONG length);
static const STRINGPARM *FindStringParm(const STRINGPARM *table, MQLONG parmId);
static MQLONG CheckStringParm(REQUEST *req, PCFCTX *pcf, const PCFPARM *parm, const STRINGPARM *row,
                              CERTCMDCTX *ctx);
static MQLONG UnknownParmReason(MQLONG type);
static void ParmError(REQUEST *req, const PCFCTX *pcf, MQLONG reason, const char *format);
static void ReadQmgrAttrs(REQUEST *req, CERTCMDCTX *ctx, MQBYTE *msg, MQLONG length, int *stop);
static void ReportInquiryFailure(REQUEST *req, const MQCFH *cfh, MQBYTE *msg, MQLONG length);
static void ReportGskitError(REQUEST *req, const CERTCMDCTX *ctx);
static int SendCertResponses(REQUEST *req, CERTCMDCTX *ctx);
static void FinishRequest(REQUEST *req);
static void ReleaseRequest(REQUEST *req);
static void FreeFilter(REQUEST *req);
static int HasRequester(const REQUEST *req);
static int Wanted(const CERTCMDCTX *ctx, MQLONG id);

/* ---- DisplayCertCommand --------------------------------------------------- */

static std::atomic<CERTWORKQUEUER *> QueueWork{nullptr};

void RegisterCertCommand(CERTWORKQUEUER *queueWork) {
    QueueWork.store(queueWork, std::memory_order_relaxed);
    SetRequestHandler(HANDLER_DISPLAY_CERT, DisplayCertCommand);
    SetCertCheckStarter(StartCertCheckRequest);
}

MQLONG DisplayCertCommand(REQUEST *req, MQMD *md, MQBYTE *msg, MQLONG length) {
    if (length < MinPcfLength) {
        PCFErrorResponse(req, req->command, MQRCCF_MSG_LENGTH_ERROR, 0, nullptr);
        return MQRC_NONE;
    }
    MQCFH cfh;
    memcpy(&cfh, msg, sizeof(cfh));
    if (!FlagIsSet(FLAG_CERTDISPLAY)) {
        PCFErrorResponse(req, cfh.Command, MQRC_FUNCTION_NOT_SUPPORTED, 0, nullptr);
        return MQRC_NONE;
    }

    CERTCMDCTX *ctx = (CERTCMDCTX *)CSGetMem(sizeof(CERTCMDCTX));
    if (ctx == nullptr) {
        OutputMessage(0, OUTF_NORMAL, "CVLA202E Can not allocate %d bytes for a '%s' structure\n",
                      (int)sizeof(CERTCMDCTX), "CERTCMDCTX");
        SetStopFlag();
        return MQRC_NONE;
    }
    memset(ctx, 0, sizeof(CERTCMDCTX));
    ctx->mode = CERTMODE_DISPLAY;
    ctx->usageFilter = -1;
    req->handlerContext = ctx;
    req->releaseHandler = ReleaseCertCommand;

    if (ReadDisplayParms(req, ctx, msg, length) != MQRC_NONE)
        return MQRC_NONE; /* answered; the context goes with the request */

    for (int i = 0; i < ctx->attrCount; i++) {
        if (ctx->attrs[i] == MQIACF_ALL)
            ctx->allAttrs = 1;
    }

    if (ctx->filterText[0] != '\0') {
        char *error = nullptr;
        ExprCallerData caller = {req, CertParamTable, nullptr};
        ExprContext *filter = CompileExpression(ctx->filterText, &caller, &error);
        if (filter == nullptr) {
            PCFErrorResponse(req, cfh.Command, MQRCCF_PARM_VALUE_ERROR, CVL_ATTR_TORVIK_WHERE,
                             error != nullptr ? error : "");
            CSFreeMem(error);
            return MQRC_NONE;
        }
        req->cmdData[0] = filter;
    }

    req->replyHandler = CertInquiryReply;
    MQBYTE inquiry[QMGR_INQUIRY_SIZE];
    MQLONG inquiryLength = 0;
    MQLONG rc = BuildQmgrInquiry(inquiry, sizeof(inquiry), &inquiryLength, md);
    if (rc != MQRC_NONE)
        return rc;
    rc = ForwardCommand(md, inquiry, inquiryLength);
    if (rc == MQRC_NONE)
        OutputMessage(2, OUTF_NORMAL, "CVLA406I Issued PCF '%s' command\n",
                      CommandText(MQCMD_INQUIRE_Q_MGR));
    /* On 0 the caller enters the request under md->MsgId, which the
     * command server's replies carry. */
    return rc;
}

/* Read and check every parameter of a DISPLAY CERT into ctx. Returns 0, or
 * the reason of the error response sent. */
static MQLONG ReadDisplayParms(REQUEST *req, CERTCMDCTX *ctx, MQBYTE *msg, MQLONG length) {
    PCFCTX pcf;
    PCFPARM parm;
    PCFStartRead(&pcf, msg, length);
    /* The end, or a malformed message: the list ends. */
    while (PCFNext(&pcf, &parm)) {
        if (parm.type == PCF_GROUP_END)
            continue;
        const STRINGPARM *string = FindStringParm(CommandStrings, parm.id);
        if (string != nullptr) {
            MQLONG rc = CheckStringParm(req, &pcf, &parm, string, ctx);
            if (rc != MQRC_NONE)
                return rc;
            if (parm.id != MQCA_SSL_KEY_REPOSITORY)
                continue;
            /* The name becomes one argument of the tool: one that begins
             * with '-' would be read as an option. */
            rc = CompleteKeyRepository(ctx->keyRepository, sizeof(ctx->keyRepository));
            if (rc != MQRC_NONE) {
                PCFParmError(req, &pcf, rc,
                             rc == MQRCCF_PARM_VALUE_ERROR ? TextNotRecognised : TextTooLong);
                return rc;
            }
            continue;
        }

        MQLONG intValue = 0;
        switch (parm.id) {
            case CVL_ATTR_TORVIK_LIFESPAN_THRESHOLD:
                if (parm.type != MQCFT_INTEGER) {
                    PCFParmError(req, &pcf, MQRCCF_CFIN_PARM_ID_ERROR, TextNotInteger);
                    return MQRCCF_CFIN_PARM_ID_ERROR;
                }
                memcpy(&intValue, parm.value, sizeof(intValue));
                ctx->eventThreshold = intValue;
                break;
            case CVL_ATTR_TORVIK_CERT_USAGE: {
                if (parm.type != MQCFT_INTEGER) {
                    PCFParmError(req, &pcf, MQRCCF_PARM_VALUE_ERROR, TextNotInteger);
                    return MQRCCF_PARM_VALUE_ERROR;
                }
                memcpy(&intValue, parm.value, sizeof(intValue));
                char digits[16];
                const int n = snprintf(digits, sizeof(digits), "%d", (int)intValue);
                if (LookupValueName(CertUsageNames, digits, n) == nullptr) {
                    PCFParmError(req, &pcf, MQRCCF_PARM_VALUE_ERROR, TextNotRecognised);
                    return MQRCCF_PARM_VALUE_ERROR;
                }
                ctx->usageFilter = intValue;
                break;
            }
            case CVL_ATTR_TORVIK_CERT_ATTRS: {
                if (parm.type != MQCFT_INTEGER_LIST) {
                    PCFErrorResponse(req, pcf.command, MQRCCF_PARM_VALUE_ERROR, parm.id, nullptr);
                    return MQRCCF_PARM_VALUE_ERROR;
                }
                MQLONG n = parm.count < CERT_MAX_ATTRS ? parm.count : CERT_MAX_ATTRS;
                if (n > parm.length / (MQLONG)sizeof(MQLONG))
                    n = parm.length / (MQLONG)sizeof(MQLONG);
                memcpy(ctx->attrs, parm.value, (size_t)n * sizeof(MQLONG));
                ctx->attrCount = n < 0 ? 0 : n;
                break;
            }
            default: {
                MQLONG rc = UnknownParmReason(parm.type);
                PCFErrorResponse(req, pcf.command, rc, parm.id, nullptr);
                return rc;
            }
        }
    }
    return MQRC_NONE;
}

/* The row of table for parmId, or null. */
static const STRINGPARM *FindStringParm(const STRINGPARM *table, MQLONG parmId) {
    for (const STRINGPARM *row = table; row->parmId != 0; row++) {
        if (row->parmId == parmId)
            return row;
    }
    return nullptr;
}

/* A string parameter: of type MQCFST, trimmed of blanks at both ends, at
 * most row->maxLength characters, all printable; copied into row's field
 * of ctx. Returns 0 or the reason of the error response sent. */
static MQLONG CheckStringParm(REQUEST *req, PCFCTX *pcf, const PCFPARM *parm, const STRINGPARM *row,
                              CERTCMDCTX *ctx) {
    if (parm->type != MQCFT_STRING) {
        ParmError(req, pcf, MQRCCF_PARM_VALUE_ERROR, TextNotString);
        return MQRCCF_PARM_VALUE_ERROR;
    }
    const MQBYTE *value = parm->value;
    MQLONG start = 0, end = parm->length;
    while (start < end && value[start] == ' ')
        start++;
    while (end > start && value[end - 1] == ' ')
        end--;
    MQLONG n = end - start;
    if (n > row->maxLength || (size_t)n >= row->size) {
        ParmError(req, pcf, MQRCCF_CFST_STRING_LENGTH_ERR, TextTooLong);
        return MQRCCF_CFST_STRING_LENGTH_ERR;
    }
    for (MQLONG i = start; i < end; i++) {
        if (!isprint(value[i])) {
            ParmError(req, pcf, MQRCCF_PARM_VALUE_ERROR, TextNotPrintable);
            return MQRCCF_PARM_VALUE_ERROR;
        }
    }
    char *out = (char *)ctx + row->field;
    memcpy(out, value + start, (size_t)n);
    out[n] = '\0';
    return MQRC_NONE;
}

/* PCFParmError for a request with a requester; the expiry check has none
 * and reports its failure itself. */
static void ParmError(REQUEST *req, const PCFCTX *pcf, MQLONG reason, const char *format) {
    if (HasRequester(req))
        PCFParmError(req, pcf, reason, format);
}

/* Reason for a parameter the command does not know, by its structure. */
static MQLONG UnknownParmReason(MQLONG type) {
    switch (type) {
        case MQCFT_STRING:
            return MQRCCF_CFST_PARM_ID_ERROR;
        case MQCFT_INTEGER_LIST:
            return MQRCCF_CFIL_PARM_ID_ERROR;
        case MQCFT_STRING_LIST:
            return MQRCCF_CFSL_PARM_ID_ERROR;
        case MQCFT_BYTE_STRING:
            return MQRCCF_CFBS_PARM_ID_ERROR;
        default:
            return MQRCCF_CFIN_PARM_ID_ERROR;
    }
}

/* ---- BuildQmgrInquiry ----------------------------------------------------- */

MQLONG BuildQmgrInquiry(MQBYTE *buffer, MQLONG capacity, MQLONG *length, MQMD *md) {
    static const MQLONG attrs[] = {MQCA_SSL_KEY_REPOSITORY, MQCA_CERT_LABEL, MQIA_SSL_EVENT};
    *length = 0;
    MQCFH cfh = MQCFH_DEFAULT;
    cfh.Type = FlagIsSet(FLAG_ZOS) ? MQCFT_COMMAND_XR : MQCFT_COMMAND;
    cfh.Version = FlagIsSet(FLAG_ZOS) ? MQCFH_VERSION_3 : MQCFH_VERSION_1;
    cfh.Command = MQCMD_INQUIRE_Q_MGR;
    cfh.MsgSeqNumber = 1;
    cfh.Control = MQCFC_LAST;
    MQLONG compCode = 0, reason = MQRC_STORAGE_NOT_AVAILABLE;
    if (capacity >= MQCFH_STRUC_LENGTH) {
        PCFCTX pcf;
        PCFStartBuild(&pcf, &buffer, capacity, 0, 0, &cfh);
        PCFAddParm(&pcf, MQCFT_INTEGER_LIST, MQIACF_Q_MGR_ATTRS, attrs, sizeof(attrs), &compCode,
                   &reason);
        *length = pcf.offset;
    }
    if (reason != MQRC_NONE) {
        OutputMessage(0, OUTF_NORMAL, "CVLA405E PCF Message failure %d (%s)\n",
                      (int)MQRC_STORAGE_NOT_AVAILABLE, ReasonText(MQRC_STORAGE_NOT_AVAILABLE));
        *length = 0;
        return MQRC_STORAGE_NOT_AVAILABLE;
    }
    memcpy(md->Format, MQFMT_ADMIN, MQ_FORMAT_LENGTH);
    memset(md->MsgId, 0, sizeof(md->MsgId));
    CopyPadded(md->ReplyToQ, sizeof(md->ReplyToQ), Settings.actualReplyQName, ' ');
    memset(md->ReplyToQMgr, ' ', sizeof(md->ReplyToQMgr));
    return MQRC_NONE;
}

/* ---- CertInquiryReply ------------------------------------------------------ */

void CertInquiryReply(REQUEST *req, MQBYTE *msg, MQLONG length) {
    CERTCMDCTX *ctx = (CERTCMDCTX *)req->handlerContext;
    if (length < MinPcfLength) {
        if (HasRequester(req))
            PCFErrorResponse(req, req->command, MQRCCF_MSG_LENGTH_ERROR, 0, nullptr);
        else
            OutputMessage(0, OUTF_NORMAL, "CVLA229E Checking Certificates failed\n");
        FinishRequest(req);
        return;
    }
    MQCFH cfh;
    memcpy(&cfh, msg, sizeof(cfh));
    if (cfh.CompCode != MQCC_OK) {
        ReportInquiryFailure(req, &cfh, msg, length);
        FinishRequest(req);
        return;
    }
    if (cfh.Type != MQCFT_XR_SUMMARY) {
        int stop = 0;
        ReadQmgrAttrs(req, ctx, msg, length, &stop);
        if (stop) {
            if (!HasRequester(req))
                OutputMessage(0, OUTF_NORMAL, "CVLA229E Checking Certificates failed\n");
            FinishRequest(req);
            return;
        }
    }
    CompleteKeyRepository(ctx->qmgrKeyRepository, sizeof(ctx->qmgrKeyRepository));
    if ((cfh.Control & MQCFC_LAST) == 0) {
        ReleaseRequest(req); /* wait for the next reply */
        return;
    }
    if (ctx->mode == CERTMODE_CHECK) {
        if (Settings.certEvent.load(std::memory_order_relaxed) == CERTEVENT_ASQMGR &&
            !ApplyEventSwitch(req, ctx))
            return; /* the request is gone */
        OutputMessage(3, OUTF_NORMAL, "CVLA224I Checking Certificates in '%s' for Expiry\n",
                      ctx->qmgrKeyRepository);
    }
    /* The request stays busy while the worker has it. */
    CERTWORKQUEUER *queue = QueueWork.load(std::memory_order_relaxed);
    if (queue == nullptr || queue(req) != MQRC_NONE) {
        if (HasRequester(req))
            PCFErrorResponse(req, req->command, MQRC_STORAGE_NOT_AVAILABLE, 0, nullptr);
        FinishRequest(req);
    }
}

/* Read SSLEV, SSLKEYR and CERTLABL from one inquiry reply into ctx. *stop
 * is set when the reply is unusable (an error response has been sent to a
 * requester). */
static void ReadQmgrAttrs(REQUEST *req, CERTCMDCTX *ctx, MQBYTE *msg, MQLONG length, int *stop) {
    PCFCTX pcf;
    PCFPARM parm;
    PCFStartRead(&pcf, msg, length);
    while (PCFNext(&pcf, &parm)) {
        const STRINGPARM *string = FindStringParm(QmgrStrings, parm.id);
        if (parm.id == MQIA_SSL_EVENT && parm.type == MQCFT_INTEGER) {
            memcpy(&ctx->sslEvent, parm.value, sizeof(ctx->sslEvent));
        } else if (string != nullptr &&
                   CheckStringParm(req, &pcf, &parm, string, ctx) != MQRC_NONE) {
            *stop = 1;
            return;
        }
    }
    if (parm.reason != PCF_END_OF_PARMS)
        *stop = 1;
}

/* The inquiry failed: the requester gets the command server's reason; a
 * check writes the reply's error texts and CVLA229E. */
static void ReportInquiryFailure(REQUEST *req, const MQCFH *cfh, MQBYTE *msg, MQLONG length) {
    if (HasRequester(req)) {
        PCFErrorResponse(req, cfh->Command, cfh->Reason, 0, nullptr);
        return;
    }
    PCFCTX pcf;
    PCFPARM parm;
    PCFStartRead(&pcf, msg, length);
    while (PCFNext(&pcf, &parm)) {
        if (parm.id == CVL_ATTR_ERROR_TEXT && parm.type == MQCFT_STRING)
            OutputMessage(0, OUTF_NORMAL, "%.*s\n", (int)parm.length, (const char *)parm.value);
    }
    OutputMessage(0, OUTF_NORMAL, "CVLA229E Checking Certificates failed\n");
}

/* ---- CheckRepository (worker thread) -------------------------------------- */

void CheckRepository(REQUEST *req) {
    CERTCMDCTX *ctx = (CERTCMDCTX *)req->handlerContext;
    /* A queue manager without SSLKEYR (and no SSLKEYR given) has no
     * repository: reported as the tool reports a missing one. */
    if (CertRepositoryName(ctx)[0] == '\0')
        memcpy(ctx->gskitId, "CTGSK3026W", sizeof(ctx->gskitId));
    else
        ReadKeyRepository(ctx);

    req->replyHandler = ProcessRepository;
    if (PutWakeUp(req->forwardedMsgId) != MQRC_NONE) {
        /* No wake-up: let the request age out (a requester gets the
         * No-response reply, a check is processed by the ageing pass). */
        CSLockLock(&RequestLock);
        req->busy = 0;
        CSUnlockLock(&RequestLock);
    }
}

/* ---- ProcessRepository ------------------------------------------------------ */

void ProcessRepository(REQUEST *req, MQBYTE *msg, MQLONG length) {
    (void)msg;
    (void)length;
    CERTCMDCTX *ctx = (CERTCMDCTX *)req->handlerContext;
    if (ctx->gskitId[0] != '\0' || ctx->listingFailure != 0) {
        ReportGskitError(req, ctx);
    } else {
        if (HasRequester(req))
            SendCertResponses(req, ctx);
        for (CERTREC *rec = ctx->certs; rec != nullptr; rec = rec->next) {
            if (CertNearingExpiry(rec->secondsLeft, ctx->eventThreshold))
                WriteCertEvent(rec, CertRepositoryName(ctx), ctx->eventThreshold);
        }
    }
    FreeFilter(req);
    FinishRequest(req);
}

/* The repository could not be listed: 2381 to a requester, then the
 * operator's message. */
static void ReportGskitError(REQUEST *req, const CERTCMDCTX *ctx) {
    if (HasRequester(req))
        PCFErrorResponse(req, CVL_CMD_DISPLAY_CERTIFICATE, MQRC_KEY_REPOSITORY_ERROR, 0, nullptr);
    ReportKeyRepositoryError(ctx);
}

/* Select the certificates and send one response per selected certificate,
 * the last with Control MQCFC_LAST; none selected: the 3312 response.
 * Returns the number of responses sent. */
static int SendCertResponses(REQUEST *req, CERTCMDCTX *ctx) {
    MQBYTE *buffer = (MQBYTE *)CSGetMem((size_t)CERT_RESPONSE_SIZE);
    if (buffer == nullptr) {
        OutputMessage(0, OUTF_NORMAL, "CVLA201E Can not allocate %d bytes for a message! \n",
                      (int)CERT_RESPONSE_SIZE);
        return 0;
    }
    CERTREC *lastSelected = nullptr;
    for (CERTREC *rec = ctx->certs; rec != nullptr; rec = rec->next) {
        rec->selection = CertSelected(req, ctx, rec) ? CERT_SELECTED : 0;
        if (rec->selection)
            lastSelected = rec;
    }
    if (lastSelected != nullptr)
        lastSelected->selection |= CERT_LAST_SELECTED;

    int sent = 0;
    for (CERTREC *rec = ctx->certs; rec != nullptr; rec = rec->next) {
        if ((rec->selection & CERT_SELECTED) == 0)
            continue;
        MQLONG msgLength = 0;
        MQLONG rc = BuildCertResponse(ctx, rec, (rec->selection & CERT_LAST_SELECTED) != 0, buffer,
                                      CERT_RESPONSE_SIZE, &msgLength);
        if (rc != MQRC_NONE) {
            OutputMessage(0, OUTF_NORMAL, "CVLA405E PCF Message failure %d (%s)\n", (int)rc,
                          ReasonText(rc));
            /* The responses sent so far still need their last one. */
            if (sent > 0)
                PCFErrorResponse(req, CVL_CMD_DISPLAY_CERTIFICATE, rc, 0, nullptr);
            break;
        }
        SendLocalReply(req, buffer, msgLength);
        sent++;
    }
    if (sent == 0 && !req->complete) {
        MQCFH cfh = MQCFH_DEFAULT;
        cfh.Command = CVL_CMD_DISPLAY_CERTIFICATE;
        cfh.MsgSeqNumber = 1;
        cfh.Control = MQCFC_LAST;
        cfh.CompCode = MQCC_FAILED;
        cfh.Reason = MQRCCF_UNKNOWN_OBJECT_NAME;
        memcpy(buffer, &cfh, sizeof(cfh));
        SendLocalReply(req, buffer, MQCFH_STRUC_LENGTH);
    }
    CSFreeMem(buffer);
    return sent;
}

int CertSelected(REQUEST *req, const CERTCMDCTX *ctx, CERTREC *rec) {
    if (ctx->labelPattern[0] != '\0' &&
        !WildcardMatch(rec->label, (int)strlen(rec->label), ctx->labelPattern,
                       (int)strlen(ctx->labelPattern)))
        return 0;
    if (ctx->usageFilter != -1 && ctx->usageFilter != rec->usage)
        return 0;
    ExprContext *filter = (ExprContext *)req->cmdData[0];
    if (filter == nullptr)
        return 1;
    /* A failed evaluation counts as no match; its message is not shown. */
    return ExprMatches(filter, rec);
}

MQLONG BuildCertResponse(const CERTCMDCTX *ctx, const CERTREC *rec, int last, MQBYTE *buffer,
                         MQLONG capacity, MQLONG *length) {
    *length = 0;
    if (capacity < MQCFH_STRUC_LENGTH)
        return MQRC_STORAGE_NOT_AVAILABLE;
    MQCFH cfh = MQCFH_DEFAULT;
    cfh.Command = CVL_CMD_DISPLAY_CERTIFICATE;
    cfh.MsgSeqNumber = 1;
    cfh.Control = last ? MQCFC_LAST : MQCFC_NOT_LAST;
    PCFCTX pcf;
    PCFStartBuild(&pcf, &buffer, capacity, 0, 0, &cfh);

    MQLONG compCode = 0, reason = 0, worst = 0;
#define ADD(type, id, value, len)                                           \
    do {                                                                    \
        PCFAddParm(&pcf, (type), (id), (value), (len), &compCode, &reason); \
        if (reason != MQRC_NONE && worst == MQRC_NONE)                      \
            worst = reason;                                                 \
    } while (0)
    ADD(MQCFT_STRING, MQCA_CERT_LABEL, rec->label, -1);
    ADD(MQCFT_INTEGER, CVL_ATTR_TORVIK_CERT_USAGE, &rec->usage, 4);
    if (Wanted(ctx, MQCACH_SSL_PEER_NAME))
        ADD(MQCFT_STRING, MQCACH_SSL_PEER_NAME, rec->subject, -1);
    if (Wanted(ctx, CVL_ATTR_TORVIK_CERT_SERIAL))
        ADD(MQCFT_STRING, CVL_ATTR_TORVIK_CERT_SERIAL, rec->serial, -1);
    if (Wanted(ctx, MQCACH_SSL_CERT_ISSUER_NAME))
        ADD(MQCFT_STRING, MQCACH_SSL_CERT_ISSUER_NAME, rec->issuer, -1);
    if (Wanted(ctx, MQCA_SSL_KEY_REPOSITORY))
        ADD(MQCFT_STRING, MQCA_SSL_KEY_REPOSITORY, CertRepositoryName(ctx), -1);
    if (Wanted(ctx, CVL_ATTR_TORVIK_CERT_ISSUE_TIME) && rec->notBefore != 0)
        ADD(MQCFT_INTEGER64, CVL_ATTR_TORVIK_CERT_ISSUE_TIME, &rec->notBefore, 8);
    if (Wanted(ctx, CVL_ATTR_TORVIK_CERT_EXPIRY_TIME) && rec->notAfter != 0)
        ADD(MQCFT_INTEGER64, CVL_ATTR_TORVIK_CERT_EXPIRY_TIME, &rec->notAfter, 8);
    ADD(MQCFT_INTEGER64, CVL_ATTR_TORVIK_CERT_LIFESPAN, &rec->secondsLeft, 8);
    if (Wanted(ctx, CVL_ATTR_TORVIK_CERT_KEYSIZE))
        ADD(MQCFT_INTEGER, CVL_ATTR_TORVIK_CERT_KEYSIZE, &rec->keySize, 4);
    if (Wanted(ctx, CVL_ATTR_TORVIK_CERT_DEFAULT))
        ADD(MQCFT_INTEGER, CVL_ATTR_TORVIK_CERT_DEFAULT, &rec->isDefault, 4);
    if (Wanted(ctx, CVL_ATTR_TORVIK_CERT_TRUSTED))
        ADD(MQCFT_INTEGER, CVL_ATTR_TORVIK_CERT_TRUSTED, &rec->trusted, 4);
    if (Wanted(ctx, CVL_ATTR_TORVIK_CERT_QMGR))
        ADD(MQCFT_INTEGER, CVL_ATTR_TORVIK_CERT_QMGR, &rec->qmgrCert, 4);
#undef ADD
    if (worst != MQRC_NONE)
        return worst;
    *length = pcf.offset;
    return MQRC_NONE;
}

/* ---- The context's end ------------------------------------------------------ */

void ReleaseCertCommand(REQUEST *req) {
    FreeFilter(req);
    CERTCMDCTX *ctx = (CERTCMDCTX *)req->handlerContext;
    if (ctx != nullptr) {
        FreeCertList(ctx);
        CSFreeMem(ctx);
    }
    req->handlerContext = nullptr;
    req->releaseHandler = nullptr;
}

static void FreeFilter(REQUEST *req) {
    if (req->cmdData[0] != nullptr)
        FreeExpression((ExprContext *)req->cmdData[0]);
    req->cmdData[0] = nullptr;
}

/* The command is over: take the request out of the table (it may not be
 * there yet, or any more) and free it with its context. */
static void FinishRequest(REQUEST *req) {
    RemoveRequest(req);
}

/* The request waits for more: let the ageing pass see it again. */
static void ReleaseRequest(REQUEST *req) {
    CSLockLock(&RequestLock);
    req->busy = 0;
    CSUnlockLock(&RequestLock);
}

static int HasRequester(const REQUEST *req) {
    return req->replyQName[0] != '\0';
}

/* 1 when the response carries attribute id: ALL, or id among those asked. */
static int Wanted(const CERTCMDCTX *ctx, MQLONG id) {
    return PCFAttrWanted(ctx->attrs, ctx->attrCount, ctx->allAttrs, id);
}
