/* statedir.h -- where running mqsim queue managers are found.
 *
 * The state directory is $MQSIM_DIR, else "mqsim-<uid>" in the system's
 * temporary directory. It holds, per queue manager QM:
 *   QM.port   "PORT PID\n": the daemon's loopback port and process id; written
 *             once the daemon accepts connections, removed when it ends;
 *   QM.log    the daemon's log (its standard output and error);
 * and the file "default.qmgr" with the name of the default queue manager.
 * MQSIM_ADDR=127.0.0.1:PORT overrides all of this for the MQI library.
 *
 * Owns: nothing global. Threads: any.
 */
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t STATE_PATH_SIZE = 1024; /* every path built here fits this */
constexpr size_t QMGR_NAME_MAX = 48;     /* MQ_Q_MGR_NAME_LENGTH */
constexpr size_t STATE_ADDR_SIZE = 64;   /* a dotted IPv4 address */

/* The state directory into buf (STATE_PATH_SIZE). Returns 0, or 1 when the
 * path does not fit. */
int GetStateDirectory(char *buf, size_t size);

/* 1 when name can be a queue manager's name here: 1 to 48 characters from
 * A-Z a-z 0-9 . _ % (no '/', so it is a safe file name), else 0. */
int ValidQmgrName(const char *name);

/* Paths of a queue manager's files (buf of STATE_PATH_SIZE). Return 0, or 1
 * when the path does not fit or the name is not valid. */
int GetPortFilePath(const char *qmName, char *buf, size_t size);
int GetLogFilePath(const char *qmName, char *buf, size_t size);
int GetDefaultFilePath(char *buf, size_t size);

/* Read QM.port. Returns 0 with *port and *pid, or 1 when it is missing or
 * unreadable. */
int ReadPortFile(const char *qmName, int *port, int64_t *pid);
/* Write QM.port through a temporary file renamed into place. Returns 0 or 1. */
int WritePortFile(const char *qmName, int port, int64_t pid);
/* Remove QM.port. */
void RemovePortFile(const char *qmName);

/* The default queue manager's name (49 bytes). Returns 0, or 1 when none. */
int ReadDefaultQmgr(char *name, size_t size);
/* Record qmName as the default queue manager. Returns 0 or 1. */
int WriteDefaultQmgr(const char *qmName);

/* Where the MQI library connects for queue manager qmName (empty: the
 * default): MQSIM_ADDR if set, else the port file. ip gets the address
 * (STATE_ADDR_SIZE), *port the port. Returns 0; MQRC_Q_MGR_NAME_ERROR (2058)
 * for a name that has never run here (or no default); MQRC_Q_MGR_NOT_AVAILABLE
 * (2059) for one that is not running now. */
int ResolveQmgrAddress(const char *qmName, char *ip, size_t ipSize, int *port);
