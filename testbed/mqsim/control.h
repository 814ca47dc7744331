/* control.h -- the mqsim tool's control commands, served by the daemon.
 *
 * `mqsim mqsc|fault|break|stop|cmdserver|status QM ...` each open a
 * connection whose first frame is a WIRE_T_CONTROL with the command's
 * words; the daemon answers with an exit code, output lines and an error.
 *
 * Owns: nothing global. Threads: the control connection's reader.
 */
#pragma once

#include "conn.h"

/* What the control commands need of the daemon that runs them. */
struct CONTROLENV {
    int port;                     /* the port the daemon listens on (status) */
    void (*requestStop)(int how); /* stop: 1 at once, 2 quiescing */
};

/* Run the command in r and send its reply on c. No lock held. */
void HandleControl(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w, const CONTROLENV *env);
