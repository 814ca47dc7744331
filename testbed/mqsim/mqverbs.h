/* mqverbs.h -- the MQI verbs of a connection, as the daemon serves them.
 *
 * One procedure per request frame: it reads the request from r, does the
 * verb under QMGR.lock (held by the caller, the connection's reader) and
 * builds the reply in w, setting c->replyReady; the reader sends it after
 * releasing the lock. Each returns 0, 1 when the connection ends after the
 * reply (MQDISC), or -1 for a malformed request (the connection closes).
 * The asynchronous-consumption verbs are in async.h.
 *
 * Owns: nothing global. Threads: connection readers, lock held.
 */
#pragma once

#include "conn.h"

int HandleConnect(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w);
int HandleDisc(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w);
int HandleOpen(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w);
int HandleClose(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w);
int HandlePut(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w);
int HandlePut1(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w);
int HandleGet(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w);
int HandleInq(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w);
int HandleSet(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w);
/* MQCMIT (WIRE_T_CMIT) and MQBACK (WIRE_T_BACK). */
int HandleUow(QMGR *qm, CONN *c, const WIREHDR *h, RBUF *r, WBUF *w);

/* Release everything of c: waits, pushes not acknowledged (back to their
 * queues), the unit of work (committed when commit, else backed out), the
 * handles. */
void CleanupConnection(QMGR *qm, CONN *c, int commit);
