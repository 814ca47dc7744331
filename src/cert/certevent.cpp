/* certevent.cpp -- the periodic certificate-expiry check: its request of
 * the agent's own, the certevent asqmgr switch, the expiry test and the
 * certificate-expiry event messages on SYSTEM.ADMIN.CHANNEL.EVENT.
 *
 * Owns: nothing global; the two noted-flags of Settings.flags
 * (FLAG_CERTEV_DISABLED_NOTED, FLAG_CERTEV_ENABLED_NOTED) are changed here
 * only.
 * Threads: the queue manager's consumer thread.
 */
#include <cstring>

#include "cert/certcmd.h"
#include "config/settings.h"
#include "log/cs.h"
#include "log/output.h"
#include "mq/hobjcache.h"
#include "mqconst/mqpcf.h"
#include "mq/queues.h"
#include "mqconst/mqconst.h"
#include "mqsc/mqsc_render.h"
#include "pcf/pcf.h"
#include "routing/routing.h"

const char CertEventQueueName[] = "SYSTEM.ADMIN.CHANNEL.EVENT";

/* ---- StartCertCheckRequest -------------------------------------------------- */

MQLONG StartCertCheckRequest(void) {
    REQUEST *req = NewRequest(CVL_CMD_DISPLAY_CERTIFICATE);
    if (req == nullptr)
        return MQRC_STORAGE_NOT_AVAILABLE; /* reported, the agent is stopping */
    CERTCMDCTX *ctx = (CERTCMDCTX *)CSGetMem(sizeof(CERTCMDCTX));
    if (ctx == nullptr) {
        OutputMessage(0, OUTF_NORMAL, "CVLA202E Can not allocate %d bytes for a '%s' structure\n",
                      (int)sizeof(CERTCMDCTX), "CERTCMDCTX");
        FreeRequest(req);
        return MQRC_STORAGE_NOT_AVAILABLE;
    }
    memset(ctx, 0, sizeof(CERTCMDCTX));
    ctx->mode = CERTMODE_CHECK;
    ctx->usageFilter = -1;
    ctx->eventThreshold = Settings.certThresh;
    req->handlerContext = ctx;
    req->releaseHandler = ReleaseCertCommand;
    req->requestType = REQTYPE_PCF;
    req->replyHandler = CertInquiryReply;

    MQMD md = MQMD_DEFAULT;
    md.MsgType = MQMT_REQUEST;
    md.Report = MQRO_PASS_MSG_ID;
    md.Expiry = MQEI_UNLIMITED;
    md.Encoding = MQENC_NATIVE;
    md.CodedCharSetId = MQCCSI_Q_MGR;
    md.Priority = MQPRI_PRIORITY_AS_Q_DEF;
    md.Persistence = MQPER_PERSISTENCE_AS_Q_DEF;

    MQBYTE inquiry[QMGR_INQUIRY_SIZE];
    MQLONG length = 0;
    MQLONG rc = BuildQmgrInquiry(inquiry, sizeof(inquiry), &length, &md);
    if (rc == MQRC_NONE)
        rc = ForwardCommand(&md, inquiry, length);
    if (rc != MQRC_NONE) {
        FreeRequest(req); /* reported by the step that failed */
        return rc;
    }
    OutputMessage(2, OUTF_NORMAL, "CVLA406I Issued PCF '%s' command\n",
                  CommandText(MQCMD_INQUIRE_Q_MGR));
    AddRequest(req, md.MsgId);
    return MQRC_NONE;
}

/* ---- ApplyEventSwitch -------------------------------------------------------- */

int ApplyEventSwitch(REQUEST *req, CERTCMDCTX *ctx) {
    if (ctx->sslEvent != 0) {
        if (!FlagIsSet(FLAG_CERTEV_ENABLED_NOTED))
            OutputMessage(1, OUTF_NORMAL,
                          "CVLA223I Certificate Expiry Events are enabled\n"
                          "certevent config set to 'asqmgr' and SSLEV(ENABLED)\n");
        SetFlags(FLAG_CERTEV_ENABLED_NOTED);
        ClearFlags(FLAG_CERTEV_DISABLED_NOTED);
        return 1;
    }
    RemoveRequest(req); /* and its context */
    if (!FlagIsSet(FLAG_CERTEV_DISABLED_NOTED))
        OutputMessage(1, OUTF_NORMAL,
                      "CVLA223I Certificate Expiry Events are disabled\n"
                      "certevent config set to 'asqmgr' and SSLEV(DISABLED)\n");
    SetFlags(FLAG_CERTEV_DISABLED_NOTED);
    ClearFlags(FLAG_CERTEV_ENABLED_NOTED);
    return 0;
}

/* ---- The expiry test and the event ------------------------------------------ */

int CertNearingExpiry(int64_t secondsLeft, int32_t thresholdDays) {
    if (thresholdDays == 0)
        return 0;
    return secondsLeft < (int64_t)thresholdDays * CERTEVENT_SECONDS_PER_DAY;
}

void SetCertEventDescriptor(MQMD *md, MQPMO *pmo) {
    *md = MQMD_DEFAULT;
    md->Version = MQMD_VERSION_1;
    md->Report = MQRO_NONE;
    md->MsgType = MQMT_DATAGRAM;
    md->Expiry = MQEI_UNLIMITED;
    md->Feedback = MQFB_NONE;
    md->Encoding = MQENC_NATIVE;
    md->CodedCharSetId = MQCCSI_Q_MGR;
    memcpy(md->Format, MQFMT_EVENT, MQ_FORMAT_LENGTH);
    md->Priority = MQPRI_PRIORITY_AS_Q_DEF;
    md->Persistence = MQPER_PERSISTENCE_AS_Q_DEF;
    memset(md->MsgId, 0, sizeof(md->MsgId));
    memset(md->CorrelId, 0, sizeof(md->CorrelId));
    md->PutApplType = 0;
    *pmo = MQPMO_DEFAULT;
    pmo->Version = MQPMO_VERSION_1;
    pmo->Options = MQPMO_NO_SYNCPOINT;
    pmo->Timeout = -1;
}

MQLONG BuildCertEvent(const CERTREC *rec, const char *repository, int32_t thresholdDays,
                      MQBYTE **buffer, MQLONG *length) {
    *length = 0;
    MQCFH cfh = MQCFH_DEFAULT;
    cfh.Type = MQCFT_EVENT;
    cfh.Command = MQCMD_CHANNEL_EVENT;
    cfh.MsgSeqNumber = 1;
    cfh.Control = MQCFC_LAST;
    cfh.CompCode = MQCC_WARNING;
    cfh.Reason = CVLRC_CERTIFICATE_NEARING_EXPIRY;
    PCFCTX pcf;
    PCFStartBuild(&pcf, buffer, CERT_EVENT_CAPACITY, CERT_EVENT_SLACK, 1, &cfh);
    MQLONG compCode = 0, reason = 0, worst = 0;
    MQLONG threshold = thresholdDays;
    /* A parameter that cannot be added is left out; the rest still goes. */
#define ADD(type, id, value, len)                                           \
    do {                                                                    \
        PCFAddParm(&pcf, (type), (id), (value), (len), &compCode, &reason); \
        if (reason != MQRC_NONE && worst == MQRC_NONE)                      \
            worst = reason;                                                 \
    } while (0)
    ADD(MQCFT_STRING, MQCA_Q_MGR_NAME, Settings.qmgrName, -1);
    ADD(MQCFT_STRING, MQCA_CERT_LABEL, rec->label, -1);
    ADD(MQCFT_STRING, MQCA_SSL_KEY_REPOSITORY, repository, -1);
    ADD(MQCFT_STRING, MQCACH_SSL_PEER_NAME, rec->subject, -1);
    ADD(MQCFT_STRING, CVL_ATTR_TORVIK_CERT_SERIAL, rec->serial, -1);
    ADD(MQCFT_STRING, MQCACH_SSL_CERT_ISSUER_NAME, rec->issuer, -1);
    if (rec->notBefore != 0)
        ADD(MQCFT_INTEGER64, CVL_ATTR_TORVIK_CERT_ISSUE_TIME, &rec->notBefore, 8);
    if (rec->notAfter != 0)
        ADD(MQCFT_INTEGER64, CVL_ATTR_TORVIK_CERT_EXPIRY_TIME, &rec->notAfter, 8);
    ADD(MQCFT_INTEGER, CVL_ATTR_TORVIK_LIFESPAN_THRESHOLD, &threshold, 4);
    ADD(MQCFT_INTEGER64, CVL_ATTR_TORVIK_CERT_LIFESPAN, &rec->secondsLeft, 8);
    ADD(MQCFT_INTEGER, CVL_ATTR_TORVIK_CERT_KEYSIZE, &rec->keySize, 4);
    ADD(MQCFT_INTEGER, CVL_ATTR_TORVIK_CERT_DEFAULT, &rec->isDefault, 4);
    ADD(MQCFT_INTEGER, CVL_ATTR_TORVIK_CERT_USAGE, &rec->usage, 4);
    ADD(MQCFT_INTEGER, CVL_ATTR_TORVIK_CERT_TRUSTED, &rec->trusted, 4);
    ADD(MQCFT_INTEGER, CVL_ATTR_TORVIK_CERT_QMGR, &rec->qmgrCert, 4);
#undef ADD
    *length = pcf.offset;
    return worst;
}

MQLONG WriteCertEvent(const CERTREC *rec, const char *repository, int32_t thresholdDays) {
    MQBYTE *buffer = (MQBYTE *)CSGetMem((size_t)(CERT_EVENT_CAPACITY + CERT_EVENT_SLACK));
    if (buffer == nullptr) {
        OutputMessage(0, OUTF_NORMAL, "CVLA405E PCF Message failure %d (%s)\n",
                      (int)MQRC_STORAGE_NOT_AVAILABLE, ReasonText(MQRC_STORAGE_NOT_AVAILABLE));
        return MQRC_STORAGE_NOT_AVAILABLE;
    }
    MQLONG length = 0;
    BuildCertEvent(rec, repository, thresholdDays, &buffer, &length);

    MQLONG reason = MQRC_NONE;
    HOBJCACHE *entry = FindReplyQueueHandle(CertEventQueueName, "", MQOO_OUTPUT, &reason);
    if (entry == nullptr) {
        CSFreeMem(buffer); /* the cache has reported the failed open */
        return reason != MQRC_NONE ? reason : MQRC_UNKNOWN_OBJECT_NAME;
    }
    MQMD md;
    MQPMO pmo;
    SetCertEventDescriptor(&md, &pmo);
    MQLONG compCode = MQCC_OK;
    PutWithRetry(entry->hObj, CertEventQueueName, &md, &pmo, length, buffer, &compCode, &reason);
    CSFreeMem(buffer);
    if (reason != MQRC_NONE)
        OutputMessage(0, OUTF_NORMAL, "CVLA107E MQPUT to queue '%s' failed with reason %d (%s)\n",
                      CertEventQueueName, (int)reason, ReasonText(reason));
    OutputMessage(1, OUTF_NORMAL,
                  "CVLA228I Certificate event written for DN '%s' with %d days left\n",
                  rec->subject, (int)(rec->secondsLeft / CERTEVENT_SECONDS_PER_DAY));
    return reason;
}
