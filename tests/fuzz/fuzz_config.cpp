/* fuzz_config.cpp -- the configuration reader over any file content: every
 * key, value, quote, escape and comment form, line ends and NUL bytes.
 * The file is rewritten in one private temporary directory per process,
 * removed at exit; the overrides report is written as at start-up. */
#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/startup.h"
#include "fuzz_support.h"
#include "platform/net.h"

namespace {

std::string Dir;

void RemoveDir(void) {
    std::error_code ec;
    std::filesystem::remove_all(Dir, ec);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static std::string path;
    if (path.empty()) {
        char dir[1024];
        if (PLMakeTempDirectory("fuzz-config-", dir, sizeof dir) != 0)
            abort();
        Dir = dir;
        atexit(RemoveDir);
        path = Dir + "/TORVIK.CFG";
    }
    if (size > 65536)
        return 0;
    FILE *f = fopen(path.c_str(), "wb");
    if (f == nullptr || fwrite(data, 1, size, f) != size)
        abort();
    fclose(f);
    QuietSettings();
    SetFlags(FLAG_CONFIG_GIVEN);
    CopyField(Settings.configFileName, sizeof Settings.configFileName, path.c_str());
    ReadConfiguration();
    ReportConfigOverrides();
    return 0;
}
