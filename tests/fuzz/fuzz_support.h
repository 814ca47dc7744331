/* fuzz_support.h -- what the fuzz targets of the agent share: settings at
 * their defaults with every message going to the null device, so that a
 * run of millions of inputs neither prints nor fills a disk. */
#pragma once

#include <cstdio>
#include <cstdlib>

#include "config/settings.h"
#include "log/output.h"

/* Put Settings back to their defaults, log to the null device, no console
 * echo. The null device is opened once per process. */
inline void QuietSettings(void) {
    static FILE *null = fopen("/dev/null", "w");
    if (null == nullptr)
        abort();
    InitSettings();
    SetFlags(FLAG_SERVICE);
    LogStream.store(null);
}

/* A property of a target: when it does not hold, name it and end the run
 * as a finding. */
#define FUZZ_CHECK(cond) ((cond) ? (void)0 : FuzzCheckFailed(#cond, __FILE__, __LINE__))
[[noreturn]] inline void FuzzCheckFailed(const char *what, const char *file, int line) {
    fprintf(stderr, "%s:%d: property does not hold: %s\n", file, line, what);
    abort();
}
