/* keyrepo.h -- key repositories for tests, made with the build's runmqakm
 * stand-in: personal certificates (self-signed, any validity, CA or not,
 * default or not) and signer certificates, with the repository stashed.
 *
 * Threads: the test thread. Each test makes its repositories in a
 * directory of its own (tvtest::TempDir).
 */
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "support/process.h"
#include "platform/net.h"

namespace tvtest {

constexpr int64_t DAY_SECONDS = 86400;

/* One certificate of a test repository. Times are seconds since 1970 UTC;
 * notAfter 0 keeps the tool's default validity (a year from now). */
struct TESTCERT {
    std::string label;
    std::string dn;
    int64_t notBefore = 0;
    int64_t notAfter = 0;
    bool ca = false;        /* basic constraints CA:TRUE */
    bool isDefault = false; /* the repository's default personal certificate */
    bool signer = false;    /* added as a signer certificate (no private key) */
    bool trusted = true;    /* a signer's trust */
};

inline std::string RunmqakmPath() {
    return std::string(TV_BIN_DIR) + "/runmqakm";
}

/* t as the tool's "YYYYMMDDHHMMSSZ" (UTC). */
inline std::string ToolTime(int64_t t) {
    int64_t days = t >= 0 ? t / DAY_SECONDS : (t - DAY_SECONDS + 1) / DAY_SECONDS;
    int64_t secs = t - days * DAY_SECONDS;
    /* Civil date from days since 1970-01-01 (proleptic Gregorian). */
    int64_t z = days + 719468;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    int64_t d = doy - (153 * mp + 2) / 5 + 1;
    int64_t m = mp < 10 ? mp + 3 : mp - 9;
    int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
    char buf[32];
    snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02dZ", static_cast<int>(y), static_cast<int>(m),
             static_cast<int>(d), static_cast<int>(secs / 3600), static_cast<int>(secs / 60 % 60),
             static_cast<int>(secs % 60));
    return buf;
}

/* Run the stand-in tool; its output into *out (may be null). Returns the
 * exit code, or -100 when it could not run. */
inline int RunKeyTool(const std::vector<std::string> &args, std::string *out = nullptr) {
    std::vector<std::string> full{RunmqakmPath()};
    full.insert(full.end(), args.begin(), args.end());
    PROGRAMRESULT r = RunProgram(full, 120000);
    if (out != nullptr)
        *out = r.out;
    return r.rc == 0 ? r.proc.exitCode : -100;
}

/* Make the stashed repository db (password pw) holding certs in order. A
 * signer is made as a self-signed certificate in a scratch repository
 * beside db, extracted and added. Returns "" or what went wrong. */
inline std::string MakeKeyRepository(const std::string &db, const std::vector<TESTCERT> &certs,
                                     const std::string &pw = "passw0rd") {
    std::string out;
    if (RunKeyTool({"-keydb", "-create", "-db", db, "-pw", pw, "-stash"}, &out) != 0)
        return "keydb -create: " + out;
    std::string scratch = db + ".scratch.p12";
    for (const TESTCERT &c : certs) {
        std::string target = c.signer ? scratch : db;
        if (c.signer && !PLFileExists(scratch.c_str()) &&
            RunKeyTool({"-keydb", "-create", "-db", scratch, "-pw", pw, "-stash"}, &out) != 0)
            return "scratch -create: " + out;
        std::vector<std::string> args{"-cert", "-create", "-db", target,  "-stashed", "-label",
                                      c.label, "-dn",     c.dn,  "-size", "1024"};
        if (c.notAfter != 0) {
            int64_t before = c.notBefore != 0 ? c.notBefore : c.notAfter - 400 * DAY_SECONDS;
            args.insert(args.end(),
                        {"-notbefore", ToolTime(before), "-notafter", ToolTime(c.notAfter)});
        }
        if (c.ca)
            args.insert(args.end(), {"-ca", "true"});
        if (c.isDefault)
            args.insert(args.end(), {"-default_cert", "yes"});
        if (RunKeyTool(args, &out) != 0)
            return "cert -create " + c.label + ": " + out;
        if (!c.signer)
            continue;
        std::string pem = db + ".signer.pem";
        if (RunKeyTool({"-cert", "-extract", "-db", scratch, "-stashed", "-label", c.label,
                        "-target", pem},
                       &out) != 0)
            return "cert -extract " + c.label + ": " + out;
        if (RunKeyTool({"-cert", "-add", "-db", db, "-stashed", "-label", c.label, "-file", pem,
                        "-trust", c.trusted ? "enable" : "disable"},
                       &out) != 0)
            return "cert -add " + c.label + ": " + out;
    }
    return "";
}

}  // namespace tvtest
