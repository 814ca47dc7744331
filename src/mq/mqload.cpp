/* mqload.cpp -- run-time loading of the IBM MQ library and the table of
 * MQI entry points.
 *
 * The library's file name and installation subdirectory are the
 * platform's (platform.h); a client build (TV_MQ_CLIENT, CMake option
 * TORVIK_MQ_CLIENT) loads the client library and takes its directory from
 * MQIC_DLL_PATH instead of MQM_DLL_PATH.
 *
 * Owns: MQEntryPoints, the loaded library.
 * Threads: LoadMQLibrary runs under the global lock; the table is filled
 * before it is used from more than one thread and only read afterwards.
 */
#include "mq/mqload.h"

#include <cstdio>
#include <cstring>

#include "log/cs.h"
#include "platform/platform.h"

#ifdef TV_MQ_CLIENT
static const char *const MQ_LIBRARY_NAME = PL_MQ_CLIENT_LIBRARY;
static const char MQ_DLL_PATH_VARIABLE[] = "MQIC_DLL_PATH";
#else
static const char *const MQ_LIBRARY_NAME = PL_MQ_SERVER_LIBRARY;
static const char MQ_DLL_PATH_VARIABLE[] = "MQM_DLL_PATH";
#endif

MQENTRYPOINTS MQEntryPoints;

static PLLIBRARY LoadedLibrary = nullptr; /* under the global lock */
static MQENTRYPOINTS LoadedTable;         /* the table filled from it */

/* ---- Stubs of the optional verbs ----------------------------------------
 * A stub takes the verb's parameters, ignores all but the last two (the
 * completion code and the reason) and fails with 2298. One template per
 * verb type gives each slot a function of exactly its verb's signature. */

static void StubFail(PMQLONG compCode, PMQLONG reason) {
    if (compCode != nullptr)
        *compCode = MQCC_FAILED;
    if (reason != nullptr)
        *reason = MQRC_FUNCTION_NOT_SUPPORTED;
}

template <typename First, typename... Rest>
static void StubFail(First, Rest... rest) {
    StubFail(rest...);
}

template <typename Fn>
struct MQSTUB;

template <typename... Args>
struct MQSTUB<void (*)(Args...)> {
    static void MQENTRY Call(Args... args) { StubFail(args...); }
};

/* ---- Loading ------------------------------------------------------------ */

/* A variable's value, or null when it is not set or empty (Windows cannot
 * hold an empty value: there, setting one to nothing removes it). */
static const char *EnvironmentValue(const char *name) {
    const char *value = PLGetEnv(name);
    return value != nullptr && value[0] != '\0' ? value : nullptr;
}

int LoadLibraryFromPath(const char *name, const char *directory, PLLIBRARY *module) {
    const int debug = EnvironmentValue("MQACCESS_DEBUG") != nullptr;
    char path[MQLOAD_PATH_SIZE];
    size_t nameLen = strlen(name);
    if (strchr(name, PL_PATH_SEPARATOR) != nullptr || directory == nullptr ||
        directory[0] == '\0') {
        if (nameLen >= sizeof path)
            return MQLOAD_PATH_TOO_LONG;
        memcpy(path, name, nameLen + 1);
    } else {
        size_t dirLen = strlen(directory);
        size_t sepLen = directory[dirLen - 1] == PL_PATH_SEPARATOR ? 0 : 1;
        if (dirLen + sepLen + nameLen >= sizeof path) {
            if (debug) {
                printf("Load failed RC(%d) %s\n", MQLOAD_PATH_TOO_LONG,
                       "the library's path is too long");
                fflush(stdout);
            }
            return MQLOAD_PATH_TOO_LONG;
        }
        memcpy(path, directory, dirLen);
        if (sepLen != 0)
            path[dirLen] = PL_PATH_SEPARATOR;
        memcpy(path + dirLen + sepLen, name, nameLen + 1);
    }

    if (debug) {
        printf("Loading '%s'\n", path);
        fflush(stdout);
    }
    char errText[MQLOAD_ERROR_TEXT_SIZE];
    errText[0] = '\0';
    PLLIBRARY lib = nullptr;
    int rc = PLLoadLibrary(path, &lib, errText, sizeof errText);
    if (rc != 0) {
        if (debug) {
            printf("Load failed RC(%d) %s\n", rc, errText);
            fflush(stdout);
        }
        return rc;
    }
    *module = lib;
    return 0;
}

void *GetEntryPoint(PLLIBRARY module, const char *verbName) {
    char name[MQLOAD_VERB_NAME_SIZE];
    size_t len = strlen(verbName);
    if (len >= sizeof name)
        return nullptr;
    memcpy(name, verbName, len + 1);
    return PLGetSymbol(module, name);
}

/* Fill *slot with the verb's address; 1 when the library has it. */
template <typename Fn>
static int Required(PLLIBRARY lib, const char *verb, Fn *slot) {
    void *address = GetEntryPoint(lib, verb);
    *slot = reinterpret_cast<Fn>(address);
    return address != nullptr;
}

/* Fill *slot with the verb's address or, when missing, its stub. */
template <typename Fn>
static void Optional(PLLIBRARY lib, const char *verb, Fn *slot) {
    void *address = GetEntryPoint(lib, verb);
    *slot = address != nullptr ? reinterpret_cast<Fn>(address) : &MQSTUB<Fn>::Call;
}

/* The directory of the library: the DLL_PATH variable, else the
 * installation path and its library subdirectory, else none (empty).
 * Returns 0, or MQLOAD_PATH_TOO_LONG when it does not fit in size bytes. */
static int LibraryDirectory(char *dir, size_t size) {
    dir[0] = '\0';
    const char *given = EnvironmentValue(MQ_DLL_PATH_VARIABLE);
    if (given != nullptr) {
        size_t len = strlen(given);
        if (len >= size)
            return MQLOAD_PATH_TOO_LONG;
        memcpy(dir, given, len + 1);
        return 0;
    }
    const char *install = EnvironmentValue("MQ_INSTALLATION_PATH");
    if (install == nullptr)
        return 0;
    int n = snprintf(dir, size, "%s%c%s", install, PL_PATH_SEPARATOR, PL_MQ_INSTALL_LIBDIR);
    if (n < 0 || static_cast<size_t>(n) >= size) {
        dir[0] = '\0';
        return MQLOAD_PATH_TOO_LONG;
    }
    return 0;
}

int LoadMQLibrary(MQENTRYPOINTS *ep) {
    CSLockGlobal();
    if (LoadedLibrary != nullptr) {
        /* Other threads call through the table: write it only if it
         * differs (a table other than MQEntryPoints). */
        if (memcmp(ep, &LoadedTable, sizeof LoadedTable) != 0)
            *ep = LoadedTable;
        CSUnlockIt();
        return 0;
    }
    char dir[MQLOAD_DIR_SIZE];
    int rc = LibraryDirectory(dir, sizeof dir);
    PLLIBRARY lib = nullptr;
    if (rc == 0)
        rc = LoadLibraryFromPath(MQ_LIBRARY_NAME, dir, &lib);
    if (rc != 0) {
        CSUnlockIt();
        return rc;
    }

    MQENTRYPOINTS table;
    memset(&table, 0, sizeof table);
    int ok = Required(lib, "MQCONN", &table.MQCONN) && Required(lib, "MQDISC", &table.MQDISC) &&
             Required(lib, "MQCMIT", &table.MQCMIT) && Required(lib, "MQBACK", &table.MQBACK) &&
             Required(lib, "MQPUT", &table.MQPUT) && Required(lib, "MQGET", &table.MQGET) &&
             Required(lib, "MQPUT1", &table.MQPUT1) && Required(lib, "MQINQ", &table.MQINQ) &&
             Required(lib, "MQSET", &table.MQSET) && Required(lib, "MQOPEN", &table.MQOPEN);
    if (!ok) {
        PLCloseLibrary(lib);
        CSUnlockIt();
        return MQLOAD_MISSING_VERB;
    }
    rc = Required(lib, "MQCLOSE", &table.MQCLOSE) ? 0 : MQLOAD_MISSING_VERB;
    Optional(lib, "MQCONNX", &table.MQCONNX);
    Optional(lib, "MQSUB", &table.MQSUB);
    Optional(lib, "MQSUBRQ", &table.MQSUBRQ);
    Optional(lib, "MQCB", &table.MQCB);
    Optional(lib, "MQCTL", &table.MQCTL);
    Optional(lib, "MQCRTMH", &table.MQCRTMH);
    Optional(lib, "MQDLTMH", &table.MQDLTMH);
    Optional(lib, "MQINQMP", &table.MQINQMP);
    Optional(lib, "MQSETMP", &table.MQSETMP);
    Optional(lib, "MQDLTMP", &table.MQDLTMP);
    Optional(lib, "MQBUFMH", &table.MQBUFMH);
    Optional(lib, "MQMHBUF", &table.MQMHBUF);
    Optional(lib, "MQSTAT", &table.MQSTAT);
    Optional(lib, "MQXCNVC", &table.MQXCNVC);
    /* Without MQCLOSE the table is still filled (and the library stays
     * loaded, so that its addresses remain valid), but the load counts as
     * failed and the next call tries again. */
    *ep = table;
    if (rc == 0) {
        LoadedLibrary = lib;
        LoadedTable = table;
    }
    CSUnlockIt();
    return rc;
}

void UnloadMQLibrary(void) {
    CSLockGlobal();
    memset(&MQEntryPoints, 0, sizeof MQEntryPoints);
    memset(&LoadedTable, 0, sizeof LoadedTable);
    if (LoadedLibrary != nullptr)
        PLCloseLibrary(LoadedLibrary);
    LoadedLibrary = nullptr;
    CSUnlockIt();
}
