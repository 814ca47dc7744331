/* statedir.cpp -- the state directory of mqsim: port files, default name.
 *
 * Owns: nothing global. Threads: any (files are replaced by rename, so a
 * reader sees an old or a new port file, never half of one).
 */
#include "statedir.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mqconst/mqi.h"
#include "platform/net.h"
#include "platform/platform.h"

static int JoinPath(char *buf, size_t size, const char *name, const char *suffix);

int GetStateDirectory(char *buf, size_t size) {
    const char *dir = PLGetEnv("MQSIM_DIR");
    int n;
    if (dir != nullptr && dir[0] != '\0') {
        n = snprintf(buf, size, "%s", dir);
    } else {
        char tmp[STATE_PATH_SIZE];
        if (PLTempDirectory(tmp, sizeof tmp) != 0)
            return 1;
        n = snprintf(buf, size, "%s%cmqsim-%u", tmp, PL_PATH_SEPARATOR, (unsigned)PLUserId());
    }
    return (n < 0 || (size_t)n >= size) ? 1 : 0;
}

int ValidQmgrName(const char *name) {
    size_t n = strlen(name);
    if (n == 0 || n > QMGR_NAME_MAX)
        return 0;
    for (size_t i = 0; i < n; i++) {
        char c = name[i];
        int ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 c == '.' || c == '_' || c == '%';
        if (!ok)
            return 0;
    }
    return 1;
}

/* <state dir>/<name><suffix> into buf. */
static int JoinPath(char *buf, size_t size, const char *name, const char *suffix) {
    char dir[STATE_PATH_SIZE];
    if (GetStateDirectory(dir, sizeof dir) != 0)
        return 1;
    int n = snprintf(buf, size, "%s%c%s%s", dir, PL_PATH_SEPARATOR, name, suffix);
    return (n < 0 || (size_t)n >= size) ? 1 : 0;
}

int GetPortFilePath(const char *qmName, char *buf, size_t size) {
    if (!ValidQmgrName(qmName))
        return 1;
    return JoinPath(buf, size, qmName, ".port");
}

int GetLogFilePath(const char *qmName, char *buf, size_t size) {
    if (!ValidQmgrName(qmName))
        return 1;
    return JoinPath(buf, size, qmName, ".log");
}

int GetDefaultFilePath(char *buf, size_t size) {
    return JoinPath(buf, size, "default", ".qmgr");
}

int ReadPortFile(const char *qmName, int *port, int64_t *pid) {
    char path[STATE_PATH_SIZE];
    if (GetPortFilePath(qmName, path, sizeof path) != 0)
        return 1;
    FILE *f = PLOpenFile(path, "r", nullptr);
    if (f == nullptr)
        return 1;
    char line[128];
    int rc = 1;
    if (fgets(line, sizeof line, f) != nullptr) {
        long long p = 0, id = 0;
        if (sscanf(line, "%lld %lld", &p, &id) == 2 && p > 0 && p <= 65535 && id > 0) {
            *port = (int)p;
            *pid = (int64_t)id;
            rc = 0;
        }
    }
    fclose(f);
    return rc;
}

int WritePortFile(const char *qmName, int port, int64_t pid) {
    char path[STATE_PATH_SIZE], tmp[STATE_PATH_SIZE];
    if (GetPortFilePath(qmName, path, sizeof path) != 0)
        return 1;
    if (snprintf(tmp, sizeof tmp, "%s.%lld.tmp", path, (long long)pid) >= (int)sizeof tmp)
        return 1;
    FILE *f = PLOpenFile(tmp, "w", nullptr);
    if (f == nullptr)
        return 1;
    int ok = fprintf(f, "%d %lld\n", port, (long long)pid) > 0;
    ok = (fclose(f) == 0) && ok;
    if (!ok) {
        PLDeleteFile(tmp);
        return 1;
    }
    PLDeleteFile(path);
    if (PLRenameFile(tmp, path) != 0) {
        PLDeleteFile(tmp);
        return 1;
    }
    return 0;
}

void RemovePortFile(const char *qmName) {
    char path[STATE_PATH_SIZE];
    if (GetPortFilePath(qmName, path, sizeof path) == 0)
        PLDeleteFile(path);
}

int ReadDefaultQmgr(char *name, size_t size) {
    char path[STATE_PATH_SIZE];
    if (GetDefaultFilePath(path, sizeof path) != 0)
        return 1;
    FILE *f = PLOpenFile(path, "r", nullptr);
    if (f == nullptr)
        return 1;
    char line[128];
    int rc = 1;
    if (fgets(line, sizeof line, f) != nullptr) {
        size_t n = strcspn(line, "\r\n");
        line[n] = '\0';
        if (ValidQmgrName(line) && n < size) {
            memcpy(name, line, n + 1);
            rc = 0;
        }
    }
    fclose(f);
    return rc;
}

int WriteDefaultQmgr(const char *qmName) {
    char path[STATE_PATH_SIZE], tmp[STATE_PATH_SIZE];
    if (!ValidQmgrName(qmName) || GetDefaultFilePath(path, sizeof path) != 0)
        return 1;
    if (snprintf(tmp, sizeof tmp, "%s.%lld.tmp", path, (long long)PLProcessId()) >= (int)sizeof tmp)
        return 1;
    FILE *f = PLOpenFile(tmp, "w", nullptr);
    if (f == nullptr)
        return 1;
    int ok = fprintf(f, "%s\n", qmName) > 0;
    ok = (fclose(f) == 0) && ok;
    if (ok) {
        PLDeleteFile(path);
        ok = PLRenameFile(tmp, path) == 0;
    }
    if (!ok)
        PLDeleteFile(tmp);
    return ok ? 0 : 1;
}

int ResolveQmgrAddress(const char *qmName, char *ip, size_t ipSize, int *port) {
    const char *addr = PLGetEnv("MQSIM_ADDR");
    if (addr != nullptr && addr[0] != '\0') {
        const char *colon = strrchr(addr, ':');
        if (colon == nullptr || (size_t)(colon - addr) >= ipSize || colon == addr)
            return MQRC_Q_MGR_NAME_ERROR;
        char *end = nullptr;
        long p = strtol(colon + 1, &end, 10);
        if (end == colon + 1 || *end != '\0' || p <= 0 || p > 65535)
            return MQRC_Q_MGR_NAME_ERROR;
        memcpy(ip, addr, (size_t)(colon - addr));
        ip[colon - addr] = '\0';
        *port = (int)p;
        return 0;
    }
    char name[QMGR_NAME_MAX + 1];
    if (qmName == nullptr || qmName[0] == '\0') {
        if (ReadDefaultQmgr(name, sizeof name) != 0)
            return MQRC_Q_MGR_NAME_ERROR;
    } else {
        if (!ValidQmgrName(qmName))
            return MQRC_Q_MGR_NAME_ERROR;
        snprintf(name, sizeof name, "%s", qmName);
    }
    int64_t pid = 0;
    if (ReadPortFile(name, port, &pid) != 0) {
        char log[STATE_PATH_SIZE];
        if (GetLogFilePath(name, log, sizeof log) == 0 && PLFileExists(log))
            return MQRC_Q_MGR_NOT_AVAILABLE;
        return MQRC_Q_MGR_NAME_ERROR;
    }
    if (ipSize < 10)
        return MQRC_Q_MGR_NAME_ERROR;
    snprintf(ip, ipSize, "127.0.0.1");
    return 0;
}
