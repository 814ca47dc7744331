/* win_support.h -- helpers of the Windows tests: where the build's programs
 * are, and running a program to its end through PLRunProcess.
 *
 * The tests run as Windows programs (under wine on the build machine), so
 * the build's directories are found from the test's own executable, which
 * lies in <build>\tests: the compile-time TV_BIN_DIR and TV_LIB_DIR are the
 * build machine's names for them.
 *
 * Threads: test thread only, except RunProgram (any thread).
 */
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace wintest {

/* The directory part of path, without the last separator. */
inline std::string DirectoryOf(const std::string &path) {
    size_t at = path.find_last_of("\\/");
    return at == std::string::npos ? std::string() : path.substr(0, at);
}

/* This test program's directory, <build>\tests; empty if unknown. */
inline std::string TestDirectory() {
    char path[1024];
    if (PLGetExecutablePath(path, sizeof path) != 0)
        return "";
    return DirectoryOf(path);
}

/* The build directory, <build>, in the system's own form. */
inline std::string BuildDirectory() {
    return DirectoryOf(TestDirectory());
}

inline std::string Join(const std::string &dir, const std::string &name) {
    return dir + PL_PATH_SEPARATOR + name;
}

/* Line ends as the C runtime of a Windows program writes them to a file or
 * pipe in text mode ("\r\n"), made "\n". */
inline std::string Unix(const std::string &text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        out += text[i];
    }
    return out;
}

struct RUN {
    int rc = -100;    /* PLRunProcess's result */
    PLPROCRESULT r{}; /* exit code, time-out, overflow */
    std::string out;  /* standard output and error as received */
};

/* Run args[0] with the other elements as its arguments, at most outSize
 * bytes of output kept. */
inline RUN RunProgram(const std::vector<std::string> &args, uint32_t timeoutMs = 60000,
                      size_t outSize = 1 << 20, const char *workDir = nullptr) {
    std::vector<const char *> argv;
    for (const std::string &a : args)
        argv.push_back(a.c_str());
    argv.push_back(nullptr);
    RUN run;
    std::string out(outSize, '\0');
    run.rc = PLRunProcess(argv.data(), workDir, outSize > 0 ? &out[0] : nullptr, outSize, timeoutMs,
                          &run.r);
    out.resize(run.r.outLen);
    run.out = out;
    return run;
}

} /* namespace wintest */
