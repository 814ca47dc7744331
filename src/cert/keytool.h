/* keytool.h -- running the key-repository tool (runmqakm) as a child
 * process and handing its output to the certificate parsers.
 *
 * Owns: nothing global. A run lives for one call: its pipes and its process
 * exist only during it; the records the line handlers fill belong to the
 * caller's CERTCMDCTX.
 * Threads: RunTool and ReadKeyRepository block until the tool ends and run
 * only on a worker thread, never on the queue manager's consumer thread.
 *
 * The tool is started directly with an argument vector, never through a
 * command interpreter: a repository name or label reaches it as one
 * argument whatever characters it holds.
 */
#pragma once

#include <cstddef>
#include <cstdint>

#include "cert/certparse.h"

constexpr char KEY_TOOL_PROGRAM[] = "runmqakm"; /* found on PATH */
constexpr size_t TOOL_OUTPUT_SIZE = 10240;      /* output kept of one run */

/* Failure codes of a run, printed as "Command result is not success (%d)". */
constexpr int TOOL_RUN_OVERFLOW = 1;     /* the output filled the buffer: no line handed over */
constexpr int TOOL_RUN_READ_FAILED = -4; /* reading the output failed */
constexpr int TOOL_RUN_WAIT_FAILED = -6; /* the child could not be started or waited for */

/* One child process run: what to start it in, where its output goes, and
 * how it ended. Standard output and standard error share one pipe, read
 * while the child runs; standard input is empty. */
struct CHILDPROC {
    const char *workDir; /* null: the current directory */
    char *out;           /* caller's buffer for the output (not terminated) */
    size_t outSize;      /* its size in bytes */
    size_t outLen;       /* out: bytes stored */
    int overflow;        /* out: 1 when more output came than outSize */
    int exitCode;        /* out: the child's exit code, -1 when unknown */
    int systemError;     /* out: the system error behind a failure, else 0 */
};

/* Called with the caller's context and each output line, NUL-terminated,
 * without its line feed (a carriage return before it stays). */
typedef void (*TOOLLINEHANDLER)(void *ctx, const char *line);

/* Start argv[0] (looked up on PATH) with argv[1..] (null-terminated) as its
 * arguments and collect its output as child describes, until it ends. On
 * Windows runmqakm.exe runs directly; should only a batch file of that name
 * be installed, it runs through cmd and an argument holding one of cmd's
 * characters (&|<>^%!"()) is refused (-9) before anything runs.
 * Returns 0, or PL_PROC_PIPE_FAILED (-1), PL_PROC_CLOSE_FAILED (-2),
 * PL_PROC_CREATE_FAILED (-3, after "Error %d: %s" on standard output),
 * PL_PROC_READ_FAILED (-4), PL_PROC_WAIT_FAILED (-6), PL_PROC_ARGS_FAILED (-9). */
int SpawnChild(const char *const *argv, CHILDPROC *child);

/* Run argv and call handler(ctx, line) for each line of its output, in
 * order; output after the last line feed counts as a last line. The exit
 * code is not examined: the tool reports its own errors in its output.
 * Returns 0, or the failure code (TOOL_RUN_*) it printed on standard output
 * as "Command result is not success (%d)"; a failed run hands over no line. */
int RunTool(const char *const *argv, void *ctx, TOOLLINEHANDLER handler);

/* Complete a key repository name in place (name has size bytes): when the
 * last component (after the last ':', '/' or '\\') holds no '.', ".kdb" is
 * appended. An empty name stays empty. Returns 0; MQRCCF_PARM_VALUE_ERROR
 * (3229) when the name, after leading blanks, begins with '-' (the tool
 * would read it as an option); MQRCCF_CFST_STRING_LENGTH_ERR (3011) when
 * the suffix does not fit. The name is unchanged on failure. */
int CompleteKeyRepository(char *name, size_t size);

/* List the repository of ctx (CertRepositoryName) with the tool and read
 * the details of each listed certificate: the records are appended to
 * ctx's list with their seconds left (against the time each details run
 * ended) and the queue manager certificate flag (label equal to
 * ctx->qmgrCertLabel). When the listing reports a GSKit message number the
 * details runs are skipped (ctx->gskitId says why). Returns 0, or
 * MQRCCF_PARM_VALUE_ERROR (3229) with nothing run when the repository name
 * begins with '-'. Worker thread only. */
int ReadKeyRepository(CERTCMDCTX *ctx);

/* When the listing kept a GSKit message number, write the operator message
 * for it (level 0) with the repository name: CVLA227E for a wrong password,
 * CVLA226E for a missing repository, CVLA225E with the number otherwise;
 * when the listing run itself failed, CVLA225E with the failure code;
 * return 1. Return 0 (nothing written) when neither happened. */
int ReportKeyRepositoryError(const CERTCMDCTX *ctx);
