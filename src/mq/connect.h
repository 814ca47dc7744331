/* connect.h -- the connections to the queue manager and their event
 * handler.
 *
 * Owns: HConnMain, HConnSecondary (MQHC_UNUSABLE_HCONN, -1, when none).
 * Threads: the main connection is made at start-up on the main thread and
 * dropped by the shutdown (ShutdownConnections); the secondary one is made
 * by whichever thread first puts a one-off message (PutSimpleCommand,
 * PutWakeUp) and dropped when found lost or by DropSecondaryConnection, all
 * under SecondaryLock of queues.cpp. The event handler runs on a thread of
 * the MQ library.
 */
#pragma once

#include <atomic>

#include "mqconst/mqi.h"

extern std::atomic<MQHCONN> HConnMain;      /* consumers, routed puts, cached handles */
extern std::atomic<MQHCONN> HConnSecondary; /* one-off MQPUT1 of workers and -c */

/* Load the MQ library if needed (CVLA100E on failure) and connect to
 * Settings.qmgrName (MQCNO version 7, a second attempt with version 1 on
 * 2139; CVLA101E on failure). Then: CVLA112I and certevent Disabled for a
 * client connection; the queue manager's real name and platform into
 * Settings (FLAG_ZOS and SYSTEM.COMMAND.INPUT on z/OS; CVLA102E/103E on
 * failure); the event handler (CVLA199E on failure). Returns the connection
 * handle, or MQHC_UNUSABLE_HCONN (-1) when the library could not be loaded
 * or the connect failed. Main thread or a worker. */
MQHCONN ConnectQueueManager(void);

/* The event handler registered on every connection: for an event call with
 * reason 2009, 2161, 2162, 2202 or 2203 while the stop flag is clear it
 * writes CVLA199E and sets the stop flag. Exposed for tests. */
void MQENTRY OnConnectionEvent(MQHCONN hConn, PMQMD md, PMQGMO gmo, PMQVOID buffer, PMQCBC context);

/* 1 for the reasons that mean the connection is lost or ending (2009, 2018,
 * 2059, 2161, 2162, 2202, 2203): retrying a call on it is pointless. The
 * event handler stops the agent for those of them that arrive as events. */
int ConnectionLost(MQLONG reason);
