/* queues.h -- the agent's queues, their consumers, and every put: with
 * retry on the main connection, one-off MQPUT1 on the secondary connection.
 *
 * Owns: HObjCommandQ, HObjInputQ, HObjReplyQ (-1 when not open), the lock
 * that serialises use of the secondary connection, the registered command
 * queuer.
 * Threads: queues are opened at start-up on the main thread; PutWithRetry
 * runs on the consumer thread (and the main thread), on the main
 * connection; PutSimpleCommand and PutWakeUp on the main thread (-c) or
 * workers, on the secondary connection.
 */
#pragma once

#include "mqconst/mqi.h"

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

/* MQDISC the secondary connection if it is open and mark it -1. Nothing is
 * reported. Any thread (the shutdown has a worker call it). */
void DropSecondaryConnection(void);

/* Open the command queue, then the input queue with commandConsumer and
 * the model reply queue with replyConsumer as their message consumers.
 * Returns 0, or -1 when one could not be opened (reported). */
int OpenAgentQueues(MQCB_FUNCTION *commandConsumer, MQCB_FUNCTION *replyConsumer);

/* Forget the MQ access run state without calling MQ: both connections and
 * the three queue handles -1, cached handles freed (not closed), the last
 * handle check 0, no command queuer. Start-up and tests. */
void ResetMQAccess(void);

/* ---- Simple commands put from another thread -----------------------------
 * The consumer and the main thread must not wait on the secondary
 * connection: the agent registers a queuer that has one of its worker
 * threads call PutSimpleCommand. */
typedef MQLONG (*COMMANDQUEUER)(const char *text);

/* Register queuer (null: none). Start-up, before the queues open. */
void SetCommandQueuer(COMMANDQUEUER queuer);

/* Have text (which must stay valid until it is put) put as a simple command
 * by the registered queuer; returns its result (0, or 2071 when nothing
 * could be queued). Without a queuer the put is made at once on the calling
 * thread and PutSimpleCommand's reason is returned. Any thread. */
MQLONG QueueSimpleCommand(const char *text);
