/* routing.h -- command routing: the consumer of the input queue, forwarding
 * to the command server, and the consumer of the command server's replies
 * with their compression and coalescing.
 *
 * Owns: no global record of its own; requests live in the request table
 * (routing/request.h).
 * Threads: both consumers run on the queue manager's consumer thread of the
 * main connection, one call at a time; ConsolidateReply also runs on a
 * worker thread that a reply handler has handed its request to.
 */
#pragma once

#include <atomic>
#include <cstdint>

#include "mqconst/mqi.h"
#include "routing/request.h"

/* Actions of ConsolidateReply, computed per reply. */
enum {
    CONSOLIDATE_STORE = 1,     /* send what is pending, keep this reply as pending */
    CONSOLIDATE_APPEND = 2,    /* merge this reply into the pending message */
    CONSOLIDATE_FINAL = 4,     /* last reply: send and complete */
    CONSOLIDATE_AGENTINFO = 8, /* add parameters 20000 and 20001 */
};

/* TORVIK's command level (version 9.4.0), reported as parameter 20000. */
constexpr MQLONG TORVIK_CMDLEVEL = 940;

/* ---- command_consumer.cpp -- the input queue ------------------------------- */

/* Consumer of TORVIK's input queue (MQCB message consumer). Events stop the
 * agent (CVLA120E, CVLA199E once); messages with a blank ReplyToQ or
 * ReplyToQMgr are simple commands (STOP, REPORT, CHECKHOBJ, CHECKREPL,
 * STARTCERT); others are requests, recorded and forwarded. buffer holds
 * the message (gmo->ReturnedLength bytes, or cbc->DataLength); md is
 * rewritten in place for forwarding. */
void OnCommandMessage(MQHCONN hConn, MQMD *md, MQGMO *gmo, MQBYTE *buffer, MQCBC *cbc);

/* OnCommandMessage with the exact MQCB_FUNCTION signature, for MQCB. */
void MQENTRY CommandConsumer(MQHCONN hConn, PMQMD md, PMQGMO gmo, PMQVOID buffer, PMQCBC cbc);

/* Request type from an MQMD Format and the message (REQTYPE_*): MQSTR,
 * MQCMD1 and MQCMD2 are MQSC; MQADMIN is escape for Command MQCMD_ESCAPE and
 * PCF otherwise (a message too short to hold the Command field is PCF);
 * anything else is none. */
MQLONG ClassifyRequest(const MQCHAR *format, const MQBYTE *msg, MQLONG length);

/* Forget the routing run state: the request table cleared (requests freed),
 * the last ageing pass and certificate check start 0, no STARTCERT
 * outstanding, no handler or renderer registered. Start-up (before the
 * handlers are registered) and tests. */
void ResetRouting(void);

/* Time (seconds) the last certificate check started; 0 until the first. */
extern std::atomic<int64_t> LastCertCheckStart;

/* 1 from the queueing of a STARTCERT until the consumer has taken it (or
 * its put failed): at most one is ever waiting on the input queue. */
extern std::atomic<int32_t> StartCertOutstanding;

/* Start a certificate check (simple command STARTCERT, consumer thread):
 * the registered starter forwards the check's inquiry; the start time is
 * recorded even when it could not start (the step that failed has said
 * why), so that the main loop's timer sends STARTCERT once per certfreq. */
void StartCertCheck(void);

/* The certificate check's starter: returns 0 or the reason of the step
 * that failed. Registered at start-up by the certificate module. */
typedef MQLONG CERTCHECKSTARTER(void);
void SetCertCheckStarter(CERTCHECKSTARTER *starter);

/* ---- request_hooks.cpp -- handlers registered from above ------------------
 * The MQSC translation, the escape unwrapping, TORVIK's own DISPLAY CERT
 * and the MQSC rendering of replies live in modules above routing; the
 * agent registers them at start-up, before consumption starts. */

/* A request handler: gets the REQUEST, the rewritten descriptor, the
 * message and its length. Returns 0 when it has dealt with the request,
 * MQRC_FUNCTION_NOT_SUPPORTED (2298) to forward the message unchanged,
 * another reason to drop the request. */
typedef MQLONG REQUESTHANDLER(REQUEST *req, MQMD *md, MQBYTE *msg, MQLONG length);

/* Turns a PCF reply into the MQSC form of req's request type: on 0 *msg and
 * *length describe a new CSGetMem block owned by the caller (the reply
 * itself is not freed); anything else leaves them unchanged. */
typedef MQLONG REPLYRENDERER(REQUEST *req, MQBYTE **msg, MQLONG *length);

/* Which handler: MQSC text, escape commands, command 9500. */
enum { HANDLER_MQSC = 0, HANDLER_ESCAPE = 1, HANDLER_DISPLAY_CERT = 2, HANDLER_COUNT = 3 };

/* Register (or, with null, remove) the handler of kind which. */
void SetRequestHandler(int which, REQUESTHANDLER *handler);

/* Call the handler of kind which; MQRC_FUNCTION_NOT_SUPPORTED when none
 * is registered (the request goes to the command server as it came). */
MQLONG CallRequestHandler(int which, REQUEST *req, MQMD *md, MQBYTE *msg, MQLONG length);

/* Register (or remove) the renderer RenderReplyForRequester uses. */
void SetReplyRenderer(REPLYRENDERER *renderer);

/* Remove every handler and the renderer (ResetRouting). */
void ClearRequestHooks(void);

/* ---- forward.cpp -- to the command server ---------------------------------- */

/* Save the requester's ReplyToQ, ReplyToQMgr (each cut at the first blank or
 * zero byte), MsgId, CorrelId and Report in req, and rewrite md: ReplyToQ =
 * the actual reply queue, ReplyToQMgr empty, MsgId MQMI_NONE, Report |=
 * MQRO_PASS_MSG_ID | MQRO_DISCARD_MSG. */
void PrepareForward(REQUEST *req, MQMD *md);

/* Put msg (len bytes, unchanged) to the command queue with the context of
 * the input queue's last message, retrying as configured. Returns the
 * reason of the last attempt (0: md->MsgId holds the new identifier);
 * CVLA107E is written on failure. */
MQLONG ForwardCommand(MQMD *md, MQBYTE *msg, MQLONG len);

/* Put one reply to the requester of req: MsgId and CorrelId by the
 * requester's report options, the handle from the cache, retry as
 * PutWithRetry, Responses Sent counted, CVLA107E on a final failure.
 * passContext 1: pass the context of the reply last read from the reply
 * queue. md is changed (identifiers, and MQPUT's output). Returns 0 when
 * the reply was sent, else the reason of the failed open (reported by the
 * cache, counted as a failed put) or of the last put. Consumer thread (or
 * main thread). */
MQLONG PutReply(REQUEST *req, MQMD *md, const void *buffer, MQLONG length, int passContext);

/* ---- reply_consumer.cpp -- the reply queue --------------------------------- */

/* Consumer of TORVIK's reply queue (MQCB message consumer): finds each
 * reply's request by MsgId, compresses and consolidates it, removes the
 * request after its last reply. Unknown replies: CVLA302E. */
void OnReplyMessage(MQHCONN hConn, MQMD *md, MQGMO *gmo, MQBYTE *buffer, MQCBC *cbc);

/* OnReplyMessage with the exact MQCB_FUNCTION signature, for MQCB. */
void MQENTRY ReplyConsumer(MQHCONN hConn, PMQMD md, PMQGMO gmo, PMQVOID buffer, PMQCBC cbc);

/* Length of the message a consumer was given: the get-message options'
 * ReturnedLength, or MQCBC DataLength when that is MQRL_UNDEFINED, never
 * more than the MQCBC BufferLength delivered, 0 without a buffer. */
MQLONG ConsumerMessageLength(const MQGMO *gmo, const MQCBC *cbc, const MQBYTE *buffer);

/* The call types both consumers share: returns 1 when cbc delivers a message
 * to work on; otherwise handles the call and returns 0. An event call stops
 * the agent: GET(INHIBITED) with CVLA120E naming qName, any other reason
 * with one CVLA199E (the call that sets the stop flag reports it, so events
 * on both queues and the connection's handler together write it once). */
int AcceptConsumerCall(const MQCBC *cbc, const char *qName);

/* ---- consolidate.cpp -- compression and coalescing ------------------------- */

/* Merge one reply (msg, len bytes, described by md) into req's pending
 * message and send what is due with PutReply: the pending message when the
 * reply does not fit or is an error, and everything after the last reply
 * (passContext is given to that final send; StoreReply always passes
 * context). msg is borrowed for the call; the pending buffer belongs to req.
 * *putRc (may be null) gets the reason of the final put, 0 when none was
 * made. Sets req->complete and returns 1 once the last reply is sent. */
int ConsolidateReply(REQUEST *req, MQMD *md, MQBYTE *msg, MQLONG len, int passContext,
                     MQLONG *putRc);

/* ConsolidateReply of a PCF reply that is to be compressed, in one walk:
 * when the reply is merged, each of its structures is checked, trimmed and
 * written once, straight into its place in the pending message. The result
 * is that of CompressReply followed by ConsolidateReply; msg (writable) may
 * be compressed in place. Consumer thread, as ConsolidateReply. */
int CompressConsolidateReply(REQUEST *req, MQMD *md, MQBYTE *msg, MQLONG len, int passContext,
                             MQLONG *putRc);

/* Cut the trailing blanks of the string parameters (longer than 4 bytes) of
 * the PCF message msg in place, moving later structures down. Stops at the
 * first structure of a type it does not compress (CVLA301E) or that it
 * cannot trust (one the PCF reader refuses, or whose StrucLength is not a
 * multiple of 4) and keeps from there on unchanged. Returns the new length
 * (len itself when msg is shorter than an MQCFH). */
MQLONG CompressReply(MQBYTE *msg, MQLONG len);

/* Send the pending message (if it has bytes) and keep msg as the new pending
 * message, reusing the buffer when it is large enough. Returns 0, or 1 when
 * no buffer could be had (CVLA201E; nothing is pending then). */
int StoreReply(REQUEST *req, MQMD *md, MQBYTE *msg, MQLONG len);

/* Append msg to the pending message: for PCF a separator parameter 40000
 * and the reply's parameters, for z/OS text a zero byte and the text. Falls
 * back to StoreReply when nothing is pending, the result would exceed the
 * request's maximum message size, or either PCF message reports an error.
 * Returns 0, or 1 on an allocation failure (CVLA201E; the reply is left
 * out, the pending message is kept). */
int CoalesceReply(REQUEST *req, MQMD *md, MQBYTE *msg, MQLONG len);

/* Give req's pending buffer up (pending becomes null): a grown one is kept
 * as the spare that the next growth of any request's pending buffer takes,
 * instead of allocating. Any thread. */
void ReleasePending(REQUEST *req);

/* Free the kept spare pending buffer (ClearRequests: shutdown, tests). */
void FreeSparePending(void);

/* Add parameters 20000 (TORVIK_CMDLEVEL) and 20001 (feature bits) to a
 * successful pending PCF message. Returns 0, or 1 on an allocation failure
 * (CVLA201E). */
int AppendAgentInfo(REQUEST *req, MQMD *md);

/* Value of parameter 20001: 2 coalesce, 4 compress, 8 certdisplay, 16
 * certevent yes or asqmgr. */
MQLONG AgentFeatureBits(void);
