/* fuzz_support.h -- what the agent's fuzz targets share: default settings
 * logging to the null device, and property checks that end the run. */
#pragma once

#include <bitset>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <cstdint>

#include "config/settings.h"
#include "log/output.h"
#include "pcf/pcf.h"

/* The entry point of a target that takes inputs of minSize to maxSize bytes
 * (others are passed over); the body follows the macro. */
#define FUZZ_TARGET(minSize, maxSize)                                         \
    static int FuzzOne(const uint8_t *data, size_t size);                     \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) { \
        return FuzzSizeIn(size, minSize, maxSize) ? FuzzOne(data, size) : 0;  \
    }                                                                         \
    static int FuzzOne(const uint8_t *data, size_t size)
inline bool FuzzSizeIn(size_t size, size_t minSize, size_t maxSize) {
    return size >= minSize && size <= maxSize;
}

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

/* A field ends with a NUL inside its own size. */
#define FUZZ_TERMINATED(field) FUZZ_CHECK(memchr(field, '\0', sizeof(field)) != nullptr)

/* Every byte of [s, s + n) is printable, a line end, or one of extra (bytes
 * the input itself carried). */
inline bool FuzzIsText(const char *s, size_t n, const std::bitset<256> &extra = {}) {
    for (size_t i = 0; i < n; i++) {
        const unsigned char c = (unsigned char)s[i];
        if (!((c >= 0x20 && c < 0x7F) || c == '\n' || extra.test(c)))
            return false;
    }
    return true;
}

/* msg reads with PCFNextParm exactly to its end, every group left. */
inline bool FuzzReadsBackWhole(const MQBYTE *msg, MQLONG length) {
    PCFCTX ctx;
    PCFPARM parm;
    if (PCFStartRead(&ctx, msg, length) != MQRC_NONE)
        return false;
    while (PCFNext(&ctx, &parm) == 1) {
    }
    return parm.reason == PCF_END_OF_PARMS && ctx.depth == 0 && ctx.offset == length;
}
