/* admin.h -- the administration (MQSC) engine of the stand-in queue manager.
 *
 * The subset of MQSC that mqsim offers: DEFINE QLOCAL / QMODEL / QREMOTE /
 * PROCESS / SERVICE, ALTER QLOCAL / QMODEL / QREMOTE / QMGR / PROCESS,
 * DELETE QLOCAL / QMODEL / QREMOTE / PROCESS / SERVICE, CLEAR QLOCAL,
 * DISPLAY QMGR / QUEUE / QLOCAL / QMODEL / QREMOTE / PROCESS, with the
 * attributes listed in admin.cpp. Responses read like a queue manager's
 * ("AMQ8006I: IBM MQ queue created.", DISPLAY as "   QUEUE(name)  CURDEPTH(n)"
 * attribute lines). `mqsim mqsc`, `mqsim start --mqsc` and the command
 * server's escape commands all use it.
 *
 * Owns: nothing. Threads: any; takes QMGR.lock for each command.
 */
#pragma once

#include <string>
#include <vector>

#include "mqconst/mqi.h"
#include "qmgr.h"

/* Run one command (its text without a trailing continuation) and append its
 * response lines to *out. Returns 0 when the command succeeded, else a
 * reason: MQRC_UNKNOWN_OBJECT_NAME, MQRC_OBJECT_ALREADY_EXISTS,
 * MQRC_OBJECT_IN_USE, MQRC_Q_NOT_EMPTY, or MQRCCF_COMMAND_FAILED for a syntax
 * error (the response lines say which). */
MQLONG RunMqscCommand(QMGR *qm, const char *text, std::vector<std::string> *out);

/* Run a script as runmqsc does: one command per line, a trailing '-' or '+'
 * continues it on the next line, lines beginning with '*' are comments.
 * Each command is echoed with its number before its responses; a summary
 * line ends the output. *failed gets the number of commands that failed.
 * Returns 0 when none failed, else MQRCCF_COMMAND_FAILED. */
MQLONG RunMqscScript(QMGR *qm, const char *text, std::vector<std::string> *out, int *failed);
