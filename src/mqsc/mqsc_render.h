/* mqsc_render.h -- TORVIK's own PCF replies in the form the requester used:
 * MQSC text (request type 1), escape responses (type 2) or PCF (type 3);
 * the failure responses of the agent's command handlers.
 *
 * Owns: nothing; the handlers it registers live in routing's table.
 * Threads: the consumer thread, or the worker a reply handler has handed
 * its request to; no state between calls.
 */
#pragma once

#include "mq/mqi.h"
#include "pcf/pcf.h"
#include "routing/request.h"

struct MqscCommandDef;
struct MqscParamDef;

/* Render one PCF reply (msg, length bytes) as MQSC text for req's request
 * type: CVLA700I and one "NAME(value) " item per parameter for a
 * successful reply, one error text for a failed one; for REQTYPE_ESCAPE
 * behind the 72-byte escape-response prefix. On 0 *msg / *length are a new
 * PCF_MESSAGE_SIZE CSGetMem block, owned by the caller, and its used
 * length; the reply itself is left alone. A type-3 request: 0 and nothing
 * changed. 3008 when the reply is shorter than an MQCFH (CVLA405E with
 * 3016) or no buffer can be had (CVLA201E). A rendering that would not fit
 * the buffer ends before the first item that does not fit whole; a single
 * error text is cut to fit. */
MQLONG RenderReplyAsMqsc(REQUEST *req, MQBYTE **msg, MQLONG *length);

/* Send a PCF reply built by the agent to req's requester in the form the
 * request came in, through ConsolidateReply (no pass context). length -1
 * or -2: msg is NUL-terminated text. msg is borrowed. Returns 0, or the
 * rendering's failure (nothing is sent then). */
MQLONG SendLocalReply(REQUEST *req, MQBYTE *msg, MQLONG length);

/* The descriptor of every reply the agent builds itself: MQMT_REPLY, no
 * expiry, native encoding, CCSID 0, priority and persistence as the queue
 * defines, Format MQFMT_STRING for REQTYPE_MQSC, else MQFMT_ADMIN. */
void InitLocalReplyMd(MQMD *md, MQLONG requestType);

/* Send a failure response for command with reason to req's requester
 * (SendLocalReply): MQIACF_PARAMETER_ID parmId for the reasons that name a
 * parameter, and text (may be null) as CVL_ATTR_ERROR_TEXT, its first "%s"
 * replaced by the keyword of parmId in the agent's command tables (no other
 * character of text is interpreted). Returns the send's result, or 2071
 * when no buffer can be had (CVLA201E, nothing sent). */
MQLONG PCFErrorResponse(REQUEST *req, MQLONG command, MQLONG reason, MQLONG parmId,
                        const char *text);

/* PCFErrorResponse for the parameter last read by ctx: format's first "%s"
 * becomes the parameter's keyword (the text is empty when the command or
 * parameter has no row); command and parameter id come from ctx. */
MQLONG PCFParmError(REQUEST *req, const PCFCTX *ctx, MQLONG reason, const char *format);

/* The command row whose PCF command number is command, or null. */
const MqscCommandDef *FindCommandRow(MQLONG command);

/* The row of params (may be null) with PCF id parmId, or null. */
const MqscParamDef *FindParamRow(const MqscParamDef *params, MQLONG parmId);

/* The handler of command 9500 until the certificate command is there:
 * answers PCFErrorResponse with MQRC_FUNCTION_NOT_SUPPORTED; returns 0. */
MQLONG RefuseDisplayCert(REQUEST *req, MQMD *md, MQBYTE *msg, MQLONG length);

/* Register with routing: the MQSC translation, the escape unwrapping, the
 * 9500 handler (RefuseDisplayCert; the certificate command replaces it),
 * and the renderer. Start-up, before consumption starts. */
void RegisterMqscHandlers(void);
