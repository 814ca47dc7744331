/* mqsc_translate.h -- the MQSC text of TORVIK's own command turned into its
 * PCF command, the unwrapping of escape commands, and the syntax-error
 * replies to MQSC requesters.
 *
 * Owns: nothing; working storage is allocated per call.
 * Threads: the consumer thread that delivers command messages.
 */
#pragma once

#include "mq/mqi.h"
#include "routing/request.h"

/* Bytes of the working list of attribute identifiers: at most 999 ids. */
constexpr MQLONG MQSC_ID_LIST_SIZE = 4000;
constexpr MQLONG MQSC_MAX_IDS = 999;

/* Translate text (length bytes, not NUL-terminated) when it is one of the
 * agent's commands, and hand the PCF message to the DISPLAY CERT handler
 * registered with routing. Returns 2298 when the text is not the agent's
 * command (it is forwarded as it came); 0 when it was handled (handler
 * result 0, or a CVLA601E/CVLA603E reply sent); 3238 when working storage
 * cannot be had (CVLA201E); otherwise the handler's result. */
MQLONG TranslateMqscCommand(REQUEST *req, MQMD *md, const char *text, MQLONG length);

/* Take the MQSC text out of an escape command (msg, length bytes) and
 * translate it. Returns 3238 for a message that is too short, not
 * MQCMD_ESCAPE, without parameters, with another parameter than the escape
 * type and text, malformed, or without text; else TranslateMqscCommand's
 * result on the last MQCACF_ESCAPE_TEXT. */
MQLONG UnwrapEscapeCommand(REQUEST *req, MQMD *md, MQBYTE *msg, MQLONG length);

/* Reply to a syntax error: "CVLA601E ..." with the command from its start
 * up to and including the first character of the offending token (the
 * whole command when token is null; a segment too long for the reply keeps
 * its end), then helpText, as two messages in the request's form. Marks
 * req complete. Returns 0. */
MQLONG ReplySyntaxError(REQUEST *req, const char *text, MQLONG length, const char *token,
                        const char *helpText);

/* Reply with text (NUL-terminated, no newline added; cut to fit one reply)
 * in the request's form. Marks req complete. Returns 0. */
MQLONG ReplyErrorText(REQUEST *req, const char *text);
