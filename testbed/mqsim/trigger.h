/* trigger.h -- the stand-in queue manager's trigger monitor.
 *
 * A local queue defined with TRIGGER TRIGTYPE(FIRST) INITQ(q) PROCESS(p)
 * makes the daemon start, when a message arrives on the queue while it is
 * empty and no application has it open for input, the program named by the
 * APPLICID of process p, with one argument: the 732-byte MQTMC2 trigger
 * message (every field blank-padded), as IBM's trigger monitor does. The
 * program is started directly (never through a shell), with the daemon's
 * log file as its standard output and error; APPLICID names the program
 * only (a name without a directory is looked up on PATH).
 *
 * Owns: the monitor record and TriggerHook while it runs. Threads: the
 * daemon's main thread (start, stop), whichever thread puts the message
 * (the hook, which decides), the monitor's own thread (starts programs and
 * reaps them).
 */
#pragma once

#include "mqconst/mqi.h"
#include "qmgr.h"

/* Set the trigger hook and start the monitor's thread. */
void StartTriggerMonitor(QMGR *qm);
/* Clear the hook; programs already decided on are still started, then the
 * thread ends. Started programs run on. */
void StopTriggerMonitor(QMGR *qm);

/* The trigger message of a start of process p for queue q of queue manager
 * qmgrName: StrucId "TMC ", Version "   2", each field blank-padded (cut
 * to its length), ApplType in decimal, right-aligned. */
void BuildTriggerMessage(const QATTRS *q, const PROCESS *p, const char *qmgrName, MQTMC2 *tmc);
