/* keytool.cpp -- the key-repository tool runs: the repository name, the
 * argument vectors of the listing and details runs, the child process and
 * the cutting of its output into lines.
 *
 * Owns: nothing global. Threads: worker threads (a run blocks until the
 * tool ends); CompleteKeyRepository from any thread.
 */
#include "cert/keytool.h"

#include <cstdio>
#include <cstring>

#include "config/settings.h"
#include "log/cs.h"
#include "log/output.h"
#include "mqconst/mqi.h"
#include "platform/platform.h"

static void ListLineHandler(void *ctx, const char *line);
static void DetailsLineHandler(void *ctx, const char *line);
static const char *SkipBlanks(const char *name);

static void ListLineHandler(void *ctx, const char *line) {
    ParseListLine(static_cast<CERTCMDCTX *>(ctx), line);
}

static void DetailsLineHandler(void *ctx, const char *line) {
    ParseDetailsLine(static_cast<CERTREC *>(ctx), line);
}

static const char *SkipBlanks(const char *name) {
    while (*name == ' ')
        name++;
    return name;
}

int SpawnChild(const char *const *argv, CHILDPROC *child) {
    PLPROCRESULT r;
    int rc = PLRunProgram(argv, child->workDir, child->out, child->outSize, PL_INFINITE, &r);
    child->outLen = rc == 0 ? r.outLen : 0;
    child->overflow = r.overflow;
    child->exitCode = r.exitCode;
    child->systemError = r.systemError;
    if (rc == PL_PROC_CREATE_FAILED) {
        char text[256];
        printf("Error %d: %s\n", r.systemError, PLErrorText(r.systemError, text, sizeof text));
        fflush(stdout);
    }
    return rc;
}

int RunTool(const char *const *argv, void *ctx, TOOLLINEHANDLER handler) {
    char *out = static_cast<char *>(CSGetMem(TOOL_OUTPUT_SIZE + 1));
    if (out == nullptr) {
        OutputMessage(0, OUTF_NORMAL, "CVLA201E Can not allocate %d bytes for a message! \n",
                      static_cast<int>(TOOL_OUTPUT_SIZE + 1));
        return TOOL_RUN_WAIT_FAILED;
    }
    CHILDPROC child;
    memset(&child, 0, sizeof child);
    child.out = out;
    child.outSize = TOOL_OUTPUT_SIZE;
    int rc = SpawnChild(argv, &child);
    int failure = 0;
    if (rc == PL_PROC_READ_FAILED)
        failure = TOOL_RUN_READ_FAILED;
    else if (rc != 0)
        failure = TOOL_RUN_WAIT_FAILED;
    else if (child.overflow || child.outLen >= TOOL_OUTPUT_SIZE)
        failure = TOOL_RUN_OVERFLOW;
    if (failure != 0) {
        printf("Command result is not success (%d)\n", failure);
        fflush(stdout);
        CSFreeMem(out);
        return failure;
    }
    /* Each line without its line feed; bytes after the last line feed are
     * a last line of their own. A zero byte in the output ends its line. */
    out[child.outLen] = '\0';
    char *line = out;
    char *end = out + child.outLen;
    while (line < end) {
        char *lf = static_cast<char *>(memchr(line, '\n', static_cast<size_t>(end - line)));
        char *stop = lf != nullptr ? lf : end;
        *stop = '\0';
        handler(ctx, line);
        line = stop + 1;
    }
    CSFreeMem(out);
    return 0;
}

int CompleteKeyRepository(char *name, size_t size) {
    const char *start = SkipBlanks(name);
    if (*start == '\0')
        return 0;
    if (*start == '-')
        return MQRCCF_PARM_VALUE_ERROR;
    const char *last = start;
    for (const char *p = start; *p; p++)
        if (*p == ':' || *p == '/' || *p == '\\')
            last = p + 1;
    if (strchr(last, '.') != nullptr)
        return 0;
    size_t len = strlen(name);
    if (len + sizeof ".kdb" > size)
        return MQRCCF_CFST_STRING_LENGTH_ERR;
    memcpy(name + len, ".kdb", sizeof ".kdb");
    return 0;
}

int ReadKeyRepository(CERTCMDCTX *ctx) {
    const char *repos = SkipBlanks(CertRepositoryName(ctx));
    if (*repos == '-')
        return MQRCCF_PARM_VALUE_ERROR;
    const char *list[] = {KEY_TOOL_PROGRAM, "-cert",   "-list", "all",  "-db", repos,
                          "-stashed",       "-locale", "en",    nullptr};
    /* A listing that could not be had (no tool, output beyond the buffer)
     * is an error of the repository, not an empty one. */
    ctx->listingFailure = RunTool(list, ctx, ListLineHandler);
    if (ctx->gskitId[0] != '\0' || ctx->listingFailure != 0)
        return 0; /* nothing of this repository is reported */
    for (CERTREC *rec = ctx->certs; rec != nullptr; rec = rec->next) {
        const char *details[] = {KEY_TOOL_PROGRAM, "-cert", "-details", "-label",
                                 rec->label,       "-db",   repos,      "-stashed",
                                 "-locale",        "en",    nullptr};
        RunTool(details, rec, DetailsLineHandler);
        SetSecondsLeft(rec, PLWallClockSeconds());
        rec->qmgrCert = strcmp(rec->label, ctx->qmgrCertLabel) == 0 ? 1 : 0;
    }
    return 0;
}

int ReportKeyRepositoryError(const CERTCMDCTX *ctx) {
    const char *id = ctx->gskitId;
    const char *repos = CertRepositoryName(ctx);
    if (id[0] == '\0' && ctx->listingFailure != 0) {
        OutputMessage(0, OUTF_NORMAL, "CVLA225E Unable to open '%s'\n%s could not be run (%d)\n",
                      repos, KEY_TOOL_PROGRAM, (int)ctx->listingFailure);
        return 1;
    }
    if (id[0] == '\0')
        return 0;
    if (strcmp(id, "CTGSK2016W") == 0)
        OutputMessage(0, OUTF_NORMAL,
                      "CVLA227E An invalid key repository password was encountered for '%s'\n",
                      repos);
    else if (strcmp(id, "CTGSK2101W") == 0 || strcmp(id, "CTGSK3026W") == 0)
        OutputMessage(0, OUTF_NORMAL, "CVLA226E The key repository '%s' does not exist\n", repos);
    else
        OutputMessage(0, OUTF_NORMAL,
                      "CVLA225E Unable to open '%s'\nrunmqakm error message number %10.10s\n",
                      repos, id);
    return 1;
}
