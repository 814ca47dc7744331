/* certcmd.h -- TORVIK's own DISPLAY CERT command and the periodic
 * certificate-expiry check: the command context, the inquiry of the queue
 * manager's key repository, the repository run on a worker, the selection
 * and responses, and the certificate-expiry events.
 *
 * Owns: no global record; each command or check owns one CERTCMDCTX, which
 * lives as long as its REQUEST (released by ReleaseCertCommand, which the
 * request table calls when it frees the request).
 * Threads: DisplayCertCommand, CertInquiryReply, ProcessRepository,
 * StartCertCheckRequest and the events on the queue manager's consumer
 * thread; CheckRepository on a worker thread. A context is never used by
 * two threads at once: the consumer thread hands it (with its request, kept
 * busy) to the worker and gets it back with the wake-up message.
 */
#pragma once

#include <cstdint>

#include "cert/certparse.h"
#include "mqsc/certrec.h"
#include "mqconst/mqi.h"
#include "routing/request.h"

/* Longest values accepted. */
constexpr int CERTCMD_KEYREPOS_MAX = 256; /* a repository name (a ".kdb" may follow) */
constexpr int CERTCMD_LABEL_MAX = 64;     /* CERT, and the queue manager's CERTLABL */
constexpr int CERTCMD_FILTER_MAX = 1024;  /* WHERE */

/* Sizes of the messages built here. */
constexpr MQLONG CERT_RESPONSE_SIZE = 102400; /* one DISPLAY CERT response */
constexpr MQLONG QMGR_INQUIRY_SIZE = 500;     /* buffer of BuildQmgrInquiry */
constexpr MQLONG CERT_EVENT_CAPACITY = 4096;  /* growable event message ... */
constexpr MQLONG CERT_EVENT_SLACK = 500;      /* ... and its slack */
constexpr MQLONG CERTEVENT_SECONDS_PER_DAY = 86400;

/* Modes of a context. */
enum { CERTMODE_DISPLAY = 0, CERTMODE_CHECK = 1 };

/* The event queue of certificate-expiry events. */
extern const char CertEventQueueName[]; /* "SYSTEM.ADMIN.CHANNEL.EVENT" */

/* ---- certcmd.cpp -- DISPLAY CERT ---------------------------------------- */

/* Queues CheckRepository(req) for a worker thread; returns 0, or 2071 when
 * it could not (the queuer has reported it). */
typedef MQLONG CERTWORKQUEUER(REQUEST *req);

/* Make DisplayCertCommand routing's handler of command 9500 (in PCF, and
 * as the MQSC translation makes it) and StartCertCheckRequest its starter
 * of the expiry check; queueWork is how repository runs reach a worker.
 * Start-up, after the MQSC handlers. */
void RegisterCertCommand(CERTWORKQUEUER *queueWork);

/* Handle PCF command 9500 (msg, length bytes) for req, whose md has been
 * prepared for forwarding: check the parameters (an error response ends the
 * command), compile the WHERE filter, and forward the Inquire Queue Manager
 * command whose replies go to CertInquiryReply. Returns 0 when the request
 * was dealt with (answered, or the inquiry forwarded: md->MsgId then holds
 * the identifier the caller records), else the reason of the failed
 * forward (the context is released with the request). Consumer thread. */
MQLONG DisplayCertCommand(REQUEST *req, MQMD *md, MQBYTE *msg, MQLONG length);

/* Build the Inquire Queue Manager command for SSLKEYR, CERTLABL and SSLEV
 * into buffer (at least 64 bytes of capacity bytes) and set md's Format,
 * MsgId (none), ReplyToQ (the agent's reply queue) and ReplyToQMgr (blank).
 * *length gets the message length. Returns 0, or 2071 when it does not fit
 * (CVLA405E written). */
MQLONG BuildQmgrInquiry(MQBYTE *buffer, MQLONG capacity, MQLONG *length, MQMD *md);

/* Reply handler of the inquiry (and of the No-response reply of an aged
 * check): reads the queue manager's attributes, and after the last reply
 * queues CheckRepository. Owns req from the call on: it removes it when the
 * command ends here, clears busy when it waits for more replies. */
void CertInquiryReply(REQUEST *req, MQBYTE *msg, MQLONG length);

/* Worker thread: lists the repository and fetches the
 * details of each certificate, then hands the request back to the consumer
 * thread by a wake-up message carrying its forwarded MsgId, its reply
 * handler set to ProcessRepository. */
void CheckRepository(REQUEST *req);

/* Reply handler of the wake-up: selects the certificates, sends the
 * responses (or the GSKit error, or the 3312 response), makes the expiry
 * test of each certificate, and removes the request. */
void ProcessRepository(REQUEST *req, MQBYTE *msg, MQLONG length);

/* 1 when rec passes the label pattern, the usage filter and the compiled
 * filter of req (whose handler context is ctx). Consumer thread. */
int CertSelected(REQUEST *req, const CERTCMDCTX *ctx, CERTREC *rec);

/* Build the DISPLAY CERT response for rec into buffer (capacity bytes);
 * last 0 makes its Control MQCFC_NOT_LAST. *length gets its length.
 * Returns 0 or the builder's reason. */
MQLONG BuildCertResponse(const CERTCMDCTX *ctx, const CERTREC *rec, int last, MQBYTE *buffer,
                         MQLONG capacity, MQLONG *length);

/* Release req's certificate context: its certificate records, the
 * compiled filter and the context itself. Installed as the request's
 * release hook; called by the request table whenever the request is freed,
 * however it ended. */
void ReleaseCertCommand(REQUEST *req);

/* ---- certevent.cpp -- the expiry check and its events ------------------- */

/* Handler of the simple command STARTCERT: a request of the agent's own
 * (mode 1, threshold certthresh) forwards the Inquire Queue Manager
 * command and enters the request table. Returns 0, or the reason of the
 * step that failed (nothing is left behind). Consumer thread. */
MQLONG StartCertCheckRequest(void);

/* The certevent asqmgr switch, after the last inquiry reply of a check:
 * CVLA223I when the queue manager's SSLEV differs from what was last
 * reported. Returns 1 when the check goes on; 0 when SSLEV is disabled:
 * the request has then been removed (and its context released). */
int ApplyEventSwitch(REQUEST *req, CERTCMDCTX *ctx);

/* 1 when a certificate with secondsLeft is inside a threshold of
 * thresholdDays (not 0): secondsLeft < thresholdDays x 86400, in 64 bits. */
int CertNearingExpiry(int64_t secondsLeft, int32_t thresholdDays);

/* Build the certificate-expiry event of rec into *buffer (a CSGetMem block
 * of *capacity bytes plus slack that may be replaced by a larger one;
 * *buffer and *capacity follow it). *length gets the message length.
 * Parameters that do not fit are left out. Returns 0 or 2071. */
MQLONG BuildCertEvent(const CERTREC *rec, const char *repository, int32_t thresholdDays,
                      MQBYTE **buffer, MQLONG *length);

/* Fill md and pmo as a certificate-expiry event is put. */
void SetCertEventDescriptor(MQMD *md, MQPMO *pmo);

/* Build and put one certificate-expiry event of rec to
 * SYSTEM.ADMIN.CHANNEL.EVENT, then CVLA228I. Returns the put's reason, 2071
 * when no memory, or the open's reason (nothing put, no CVLA228I).
 * Consumer thread. */
MQLONG WriteCertEvent(const CERTREC *rec, const char *repository, int32_t thresholdDays);
