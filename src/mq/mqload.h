/* mqload.h -- run-time loading of the IBM MQ library and the table of MQI
 * entry points through which every MQI call of the agent goes.
 *
 * Owns: MQEntryPoints (filled once by LoadMQLibrary, read-only afterwards),
 * the loaded library.
 * Threads: LoadMQLibrary runs under the global lock, before any thread of
 * the agent but the main thread uses the table; the table is then read by
 * every thread without a lock.
 */
#pragma once

#include <cstddef>

#include "mqconst/mqi.h"
#include "platform/platform.h"

/* The 25 MQI entry points in their documented order. Verbs the loaded
 * library lacks hold a stub that fails with MQCC_FAILED and
 * MQRC_FUNCTION_NOT_SUPPORTED (2298); required verbs have no stub. */
struct MQENTRYPOINTS {
    MQBACK_FN MQBACK;   /* 0, required */
    MQCLOSE_FN MQCLOSE; /* 1, required */
    MQCMIT_FN MQCMIT;   /* 2, required */
    MQCONN_FN MQCONN;   /* 3, required */
    MQCONNX_FN MQCONNX; /* 4, stub of 5 parameters */
    MQDISC_FN MQDISC;   /* 5, required */
    MQGET_FN MQGET;     /* 6, required */
    MQINQ_FN MQINQ;     /* 7, required */
    MQOPEN_FN MQOPEN;   /* 8, required */
    MQPUT_FN MQPUT;     /* 9, required */
    MQPUT1_FN MQPUT1;   /* 10, required */
    MQSET_FN MQSET;     /* 11, required */
    MQSUB_FN MQSUB;     /* 12, stub of 6 */
    MQSUBRQ_FN MQSUBRQ; /* 13, stub of 6 */
    MQCB_FN MQCB;       /* 14, stub of 8 */
    MQCTL_FN MQCTL;     /* 15, stub of 5 */
    MQCRTMH_FN MQCRTMH; /* 16, stub of 5 */
    MQDLTMH_FN MQDLTMH; /* 17, stub of 5 */
    MQINQMP_FN MQINQMP; /* 18, stub of 11 */
    MQSETMP_FN MQSETMP; /* 19, stub of 10 */
    MQDLTMP_FN MQDLTMP; /* 20, stub of 6 */
    MQBUFMH_FN MQBUFMH; /* 21, stub of 9 */
    MQMHBUF_FN MQMHBUF; /* 22, stub of 10 */
    MQSTAT_FN MQSTAT;   /* 23, stub of 5 */
    MQXCNVC_FN MQXCNVC; /* 24, stub of 11 */
};

/* Every MQI call: MQEntryPoints.MQPUT(...). All slots null until
 * LoadMQLibrary has succeeded. */
extern MQENTRYPOINTS MQEntryPoints;

/* Result of LoadMQLibrary when a required verb is missing. */
constexpr int MQLOAD_MISSING_VERB = 11;

constexpr size_t MQLOAD_PATH_SIZE = 512;      /* directory + separator + name */
constexpr size_t MQLOAD_DIR_SIZE = 300;       /* MQ_INSTALLATION_PATH + subdirectory */
constexpr size_t MQLOAD_VERB_NAME_SIZE = 100; /* a verb name is at most 99 characters */
constexpr size_t MQLOAD_ERROR_TEXT_SIZE = 501;

/* Load the MQ library (server or client build: see mqload.cpp) and fill ep.
 * Returns 0; the operating system's error code when the library cannot be
 * loaded (MQLOAD_PATH_TOO_LONG when its path does not fit);
 * MQLOAD_MISSING_VERB (11) when a required verb is missing (when only
 * MQCLOSE is, the table is still filled). Empty environment variables count
 * as unset. A second call after success returns 0 at once. */
int LoadMQLibrary(MQENTRYPOINTS *ep);

/* Result of LoadLibraryFromPath for a directory + name that do not fit in
 * MQLOAD_PATH_SIZE bytes: nothing is loaded. */
constexpr int MQLOAD_PATH_TOO_LONG = 206; /* the Windows code for a name too long */

/* Load library name from directory (null or empty: the system's search
 * order; a name that holds a path separator is used alone). The path
 * separator is the platform's; none is doubled. With MQACCESS_DEBUG set the
 * path and any failure are written to standard output. Returns 0 with
 * *module set, or the operating system's error code (MQLOAD_PATH_TOO_LONG
 * for a path that does not fit). */
int LoadLibraryFromPath(const char *name, const char *directory, PLLIBRARY *module);

/* Address of the verb in module, or null (also for a verb name longer than
 * MQLOAD_VERB_NAME_SIZE - 1 characters). */
void *GetEntryPoint(PLLIBRARY module, const char *verbName);

/* Tests: forget the loaded library and clear the table, so that the next
 * LoadMQLibrary loads again. */
void UnloadMQLibrary(void);
