/* delivery.h -- messages to waiting gets and to consumers.
 *
 * A waiting MQGET or a started consumer is a WAITER on its queue: the put
 * that brings a message hands it over directly (no polling); a timer thread
 * ends waits at their deadline. A started connection's consumers are read
 * ahead for: up to READ_AHEAD_MESSAGES / READ_AHEAD_BYTES are pushed before
 * the library acknowledges them (DELIVERY), and what is not given to a
 * callback goes back where it was in its queue. A browsing consumer is
 * pushed copies; its handle's browse cursor moves on with each push.
 *
 * Owns: nothing global; the queue manager's hooks point here.
 * Threads: every procedure runs with QMGR.lock held, except WaitTimerMain.
 */
#pragma once

#include <vector>

#include "conn.h"

/* Point qm's hooks at this module (before any thread starts). */
void InstallDeliveryHooks(QMGR *qm);

/* The timer thread: ends waiting gets at their deadline with 2033, until
 * qm->stopping. Takes the lock itself. */
void WaitTimerMain(QMGR *qm);

/* Offer m, visible in its queue, to waiter w (the deliverToWaiter hook). */
int DeliverToWaiter(QMGR *qm, WAITER *w, MSG *m);
/* Queue q is being deleted and its messages freed: pushed messages of q
 * that are still in it (locked by a unit of work) are forgotten by their
 * connections. */
void ForgetDeliveries(QMGR *qm, QUEUE *q);
/* Queue q became GET(DISABLED): waiting gets fail with 2016, started
 * consumers get an event call with 2016. */
void NotifyGetInhibited(QMGR *qm, QUEUE *q);
/* Queue q became GET(ENABLED): consumers may take messages again. */
void NotifyGetAllowed(QMGR *qm, QUEUE *q);

/* Reply to an MQGET in w: status, descriptor, full length, the data that
 * fits bufferLength, the resolved queue name. m may be null. */
void BuildGetReply(WBUF *w, uint32_t tag, MQLONG cc, MQLONG rc, const MSG *m, MQLONG bufferLength,
                   const char *resolvedQ);
/* Answer c's waiting MQGET and end the wait. m: the message to return (not
 * freed here), or null. */
void EndGetWaiter(QMGR *qm, CONN *c, MQLONG compCode, MQLONG reason, MSG *m);

/* Fill c's read-ahead window from its consumers, then let every consumer
 * that may take more wait on its queue. */
void StartDelivery(QMGR *qm, CONN *c);
/* Drop the consumer waiters of c. */
void ClearIdleWaiters(QMGR *qm, CONN *c);
/* Take back every push of c to consumer h (null: any) not given to a
 * callback; c's waiters must be cleared first. */
void ReturnDeliveries(QMGR *qm, CONN *c, HANDLE *h);
/* Stop tracking c's pushes to h (null: any) that are in their callbacks:
 * their messages stay locked in the unit of work. */
void DropGiven(CONN *c, HANDLE *h);
/* 1 when m is one of c's pushes not (yet) given to a callback. */
int InFlight(const CONN *c, const MSG *m);
/* Pushes taken out of their connection's in-flight list go back where they
 * were in their queues and are offered again; back is emptied. */
void GiveBack(QMGR *qm, std::vector<DELIVERY> *back);
