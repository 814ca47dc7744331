/* queues.h -- the agent's queues, their consumers, and every put: with
 * retry on the main connection, one-off MQPUT1 on the secondary connection.
 *
 * Owns: HObjCommandQ, HObjInputQ, HObjReplyQ (-1 when not open), the lock
 * that serialises use of the secondary connection.
 * Threads: queues are opened at start-up on the main thread; PutWithRetry
 * and PutReply run on the consumer thread (and the main thread), on the
 * main connection; PutSimpleCommand and PutWakeUp on the main thread (-c)
 * or workers, on the secondary connection.
 */
#pragma once

#include "core/workers.h"
#include "mq/mqi.h"

struct REQUEST; /* routing/request.h */

extern MQHOBJ HObjCommandQ, HObjInputQ, HObjReplyQ;

/* MQOPEN qName (up to 48 characters) on the main connection with options;
 * the dynamic name is tempqpfx. actualName (49 bytes, or null) receives
 * the name MQOPEN returned (a model queue's dynamic queue), terminated at
 * the first blank. With a callback, registers it as the queue's message
 * consumer (CVLA105E on failure; the handle is still returned). Returns
 * the handle, or -1 after CVLA104E. Main thread, before MQCTL. */
MQHOBJ OpenQueue(const char *qName, char *actualName, MQLONG options, MQCB_FUNCTION *callback);

/* MQPUT on the main connection, retried retrycount times at retryint
 * seconds (CVLA108E at level 3 before each retry) while the reason is one
 * that can clear by waiting (queue full, put inhibited, storage or space
 * short, object in use); any other reason is final at once, and a lost
 * connection (2018, 2009) is not counted;
 * Failed Puts and Puts Successfully Retried are counted. *compCode and
 * *reason hold the last attempt's result; the caller reports a final
 * failure. */
void PutWithRetry(MQHOBJ hObj, const char *qName, MQMD *md, MQPMO *pmo, MQLONG length,
                  const void *buffer, MQLONG *compCode, MQLONG *reason);

/* Put one reply to the requester of req: MsgId and CorrelId by the
 * requester's report options, the handle from the cache, retry as
 * PutWithRetry, Responses Sent counted, CVLA107E on a final failure.
 * passContext 1: pass the context of the reply last read from the reply
 * queue. md is changed (identifiers, and MQPUT's output). Returns 0 when
 * the reply was sent, else the reason of the failed open (reported by the
 * cache, counted as a failed put) or of the last put. Consumer thread (or
 * main thread). */
MQLONG PutReply(REQUEST *req, MQMD *md, const void *buffer, MQLONG length, int passContext);

/* Put text (without its zero) in format MQSTR with no reply-to queue to
 * the agent's input queue on the secondary connection (connected on first
 * use). Returns 0 or the reason (CVLA107E written; a failed connect has
 * written its own message and gives MQRC_HCONN_ERROR). Any thread; uses of
 * the secondary connection are serialised. */
MQLONG PutSimpleCommand(const char *text);

/* Put an empty 36-byte PCF command (MQFMT_ADMIN) with MsgId msgId to the
 * agent's actual reply queue on the secondary connection. Returns 0 or the
 * reason (CVLA107E written). Any thread. */
MQLONG PutWakeUp(const MQBYTE *msgId);

/* Worker call: PutSimpleCommand(call->argument as text). */
void PutSimpleCommandCall(WORKERCALL *call);

/* Worker call (also callable directly, with null): MQDISC the secondary
 * connection if it is open and mark it -1. Nothing is reported. */
void DropSecondaryConnection(WORKERCALL *call);

/* Open the three queues of start-up steps 12 to 14 with their consumers.
 * Returns 0, or -1 when one could not be opened (reported). */
int OpenAgentQueues(void);
