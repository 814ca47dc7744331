/* fuzz_config.cpp -- the configuration reader over any file content (in a
 * private temporary directory, removed at exit), then the overrides report. */
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

FUZZ_TARGET(0, 65536) {
    static const std::string path = [] {
        char dir[1024];
        FUZZ_CHECK(PLMakeTempDirectory("fuzz-config-", dir, sizeof dir) == 0);
        Dir = dir;
        atexit(RemoveDir);
        return Dir + "/TORVIK.CFG";
    }();
    FILE *f = fopen(path.c_str(), "wb");
    FUZZ_CHECK(f != nullptr && fwrite(data, 1, size, f) == size);
    fclose(f);
    QuietSettings();
    SetFlags(FLAG_CONFIG_GIVEN);
    CopyField(Settings.configFileName, sizeof Settings.configFileName, path.c_str());
    ReadConfiguration();
    ReportConfigOverrides();
    return 0;
}
