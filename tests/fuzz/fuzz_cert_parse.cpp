/* fuzz_cert_parse.cpp -- key-tool output lines of any content through the
 * listing parser, then (after a line holding "Details:") the details parser
 * for each record, and each line through ParseCertDate: record texts stay
 * terminated, a record has a label, a date read reads back from its GMT form. */
#include <ctime>
#include <string>
#include <vector>

#include "cert/certparse.h"
#include "fuzz_support.h"
#include "log/cs.h"

namespace {

/* t written as the tool writes a date in GMT reads back as t. */
void CheckDateRoundTrip(int64_t t) {
    static const char *const months[12] = {"January",   "February", "March",    "April",
                                           "May",       "June",     "July",     "August",
                                           "September", "October",  "November", "December"};
    const time_t when = (time_t)t;
    struct tm tm; /* years 1 to 9998 only: the tool's four-digit form */
    if (gmtime_r(&when, &tm) == nullptr || tm.tm_year + 1900 < 1 || tm.tm_year + 1900 > 9998)
        return;
    char text[80];
    const int hour12 = tm.tm_hour % 12 == 0 ? 12 : tm.tm_hour % 12;
    snprintf(text, sizeof text, "%s %d, %d %d:%02d:%02d %s GMT", months[tm.tm_mon], tm.tm_mday,
             tm.tm_year + 1900, hour12, tm.tm_min, tm.tm_sec, tm.tm_hour < 12 ? "AM" : "PM");
    FUZZ_CHECK(ParseCertDate(text) == t);
}

}  // namespace

FUZZ_TARGET(0, 65536) {
    QuietSettings();
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < size; i++) {
        if (data[i] == '\n')
            lines.emplace_back();
        else if (data[i] != '\0') /* the tool's lines are C strings */
            lines.back() += (char)data[i];
    }
    CERTCMDCTX *ctx = static_cast<CERTCMDCTX *>(calloc(1, sizeof(CERTCMDCTX)));
    bool details = false;
    for (const std::string &line : lines) {
        /* Each line in a block of its own size, so any overrun is caught. */
        std::vector<char> copy(line.c_str(), line.c_str() + line.size() + 1);
        if (line.find("Details:") != std::string::npos)
            details = true;
        else if (!details)
            ParseListLine(ctx, copy.data());
        for (CERTREC *rec = ctx->certs; details && rec != nullptr; rec = rec->next)
            ParseDetailsLine(rec, copy.data());
        const int64_t t = ParseCertDate(copy.data());
        if (t != CERT_TIME_UNKNOWN)
            CheckDateRoundTrip(t);
    }
    FUZZ_TERMINATED(ctx->gskitId);
    for (CERTREC *rec = ctx->certs; rec != nullptr; rec = rec->next) {
        FUZZ_TERMINATED(rec->label);
        FUZZ_TERMINATED(rec->subject);
        FUZZ_TERMINATED(rec->issuer);
        FUZZ_TERMINATED(rec->serial);
        FUZZ_CHECK(rec->label[0] != '\0' && rec->keySize >= 0);
        FUZZ_CHECK(rec->usage >= CERT_USAGE_PERSONAL && rec->usage <= CERT_USAGE_VALIDATION);
        SetSecondsLeft(rec, 1800000000);
    }
    FreeCertList(ctx);
    free(ctx);
    return 0;
}
