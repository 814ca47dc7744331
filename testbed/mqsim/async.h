/* async.h -- asynchronous consumption as the daemon serves it: MQCB,
 * MQCTL and the library's acknowledgements of pushed messages.
 *
 * A connection is STOPPED (new), STARTED or SUSPENDED. Consumers are
 * registered per handle; a started connection has messages pushed to them
 * (delivery.h). Same calling contract as mqverbs.h.
 *
 * Owns: nothing global. Threads: connection readers, QMGR.lock held.
 */
#pragma once

#include "conn.h"

int HandleCb(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w);
int HandleCtl(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w);
/* WIRE_T_ACK: no reply. */
int HandleAck(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w);
