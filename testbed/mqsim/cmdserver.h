/* cmdserver.h -- the command server of the stand-in queue manager, and the
 * daemon's other built-in service, the trigger monitor.
 *
 * The command server takes each message from the queue manager's command
 * queue (SYSTEM.ADMIN.COMMAND.QUEUE; SYSTEM.COMMAND.INPUT for --platform zos)
 * on a thread of its own, checks it and answers on its ReplyToQ and
 * ReplyToQMgr as IBM MQ's command server does:
 *   - PCF (format "MQADMIN "): INQUIRE_Q_MGR, INQUIRE_Q, INQUIRE_Q_NAMES,
 *     CHANGE_Q_MGR, PING_Q_MGR and ESCAPE; any other command gets
 *     MQRCCF_CFH_COMMAND_ERROR, a malformed one the reason of its fault.
 *     Distributed platforms reply with MQCFT_RESPONSE messages, the last one
 *     marked MQCFC_LAST; z/OS with MQCFT_XR_ITEM messages and a final
 *     MQCFT_XR_SUMMARY.
 *   - Any other format: on unix and windows one reply with
 *     MQRCCF_MD_FORMAT_ERROR; on z/OS the text is an MQSC command, answered
 *     with "MQCMD1  " messages, one per line (CSQN205I first, CSQ9022I or
 *     CSQ9023E last).
 * MsgId and CorrelId follow the command's report options; a reply that
 * cannot be put is logged and dropped.
 *
 * The daemon calls StartCommandServer once its queues exist (it also starts
 * the trigger monitor, trigger.h) and StopCommandServer as it ends; `mqsim
 * cmdserver QM stop|start|delay MS` reaches ControlCommandServer.
 *
 * Owns: QMGR.cmdServerRunning, QMGR.cmdServerDelayMs, QMGR.cmdServerData.
 * Threads: the daemon's main thread (start, stop), a control connection's
 * reader (control), the command server's own thread.
 */
#pragma once

#include "mqconst/mqi.h"
#include "qmgr.h"

/* Operations of `mqsim cmdserver`. */
constexpr int CMDSERVER_STOP = 1;  /* commands wait on the queue unanswered */
constexpr int CMDSERVER_START = 2; /* commands are answered again */
constexpr int CMDSERVER_DELAY = 3; /* wait delayMs before each reply */

/* Start serving the command queue (and the trigger monitor). A command
 * server stopped by `mqsim cmdserver` before stays stopped. */
void StartCommandServer(QMGR *qm);
/* End the command server's thread (and the trigger monitor's): a command
 * being answered stops between two replies. Returns when both have ended. */
void StopCommandServer(QMGR *qm);
/* Carry out an operation of `mqsim cmdserver`. CMDSERVER_STOP returns once
 * the server takes no further message: a command put after it returned stays
 * on the queue until CMDSERVER_START. Returns 0, or 1 for an unknown
 * operation or a negative delay. */
int ControlCommandServer(QMGR *qm, int op, MQLONG delayMs);
