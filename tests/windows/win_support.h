/* win_support.h -- where tests run as Windows programs (under wine on the
 * build machine) find the build's programs: from the test's own executable
 * in <build>/tests, since the compile-time TV_BIN_DIR and TV_LIB_DIR are
 * the build machine's names. Also used by the platform tests on Linux.
 */
#pragma once

#include <string>

#include "platform/platform.h"

namespace wintest {

inline std::string Join(const std::string &dir, const std::string &name) {
    return dir + PL_PATH_SEPARATOR + name;
}

inline std::string ParentOf(const std::string &path) {
    size_t at = path.find_last_of("\\/");
    return at == std::string::npos ? std::string() : path.substr(0, at);
}

/* This test program's directory, <build>/tests; empty if unknown. */
inline std::string TestDirectory() {
    char path[1024];
    return PLGetExecutablePath(path, sizeof path) == 0 ? ParentOf(path) : "";
}

/* <build>/bin or <build>/lib. */
inline std::string BuildDirectory(const char *name) {
    return Join(ParentOf(TestDirectory()), name);
}

/* Text a Windows program wrote in text mode ("\r\n" line ends), made "\n". */
inline std::string Unix(std::string text) {
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at))
        text.erase(at, 1);
    return text;
}

} /* namespace wintest */
