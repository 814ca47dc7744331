/* server.h -- the mqsim daemon (`mqsim run`).
 *
 * It makes the queue manager (qmgr.h), listens on 127.0.0.1 and serves
 * each connection on a reader thread of its own: MQI requests (mqverbs.h,
 * async.h) or one control command (control.h).
 *
 * Owns: the daemon's threads and its listening socket (server.cpp).
 */
#pragma once

#include "qmgr.h"

/* Run the daemon for opts (`mqsim run`): returns the process exit code. */
int RunDaemon(const QMGROPTIONS *opts);
