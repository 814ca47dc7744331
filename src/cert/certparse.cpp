/* certparse.cpp -- certificate records from the key-repository tool's
 * listing and details output (English, "-locale en").
 *
 * Owns: nothing global; the records it allocates belong to the context's
 * list until FreeCertList.
 * Threads: the worker thread of a check; ParseCertDate from any thread.
 *
 * Every line is untrusted: values are copied with their destination's size,
 * numbers are bounded, and a line that is not what a heading, a certificate
 * or a "Name : value" line looks like is ignored.
 */
#include "cert/certparse.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "config/settings.h"
#include "log/cs.h"
#include "log/output.h"
#include "platform/platform.h"

static const char *const MonthNames[12] = {"January",   "February", "March",    "April",
                                           "May",       "June",     "July",     "August",
                                           "September", "October",  "November", "December"};

static size_t CopyBounded(char *dest, size_t destSize, const char *src, size_t len);
static const char *ValueAfter(const char *line, const char *name);
static int64_t DaysFromCivil(int64_t y, int m, int d);
static int ParseGmtOffset(const char *zone, int64_t *offsetSeconds);

/* Copy len characters of src into dest (destSize bytes), cut to fit, and
 * terminate. Returns the number of characters copied. */
static size_t CopyBounded(char *dest, size_t destSize, const char *src, size_t len) {
    if (destSize == 0)
        return 0;
    if (len > destSize - 1)
        len = destSize - 1;
    memcpy(dest, src, len);
    dest[len] = '\0';
    return len;
}

/* The value of a "Name : value" line whose name stands at the start of the
 * line, or null. A DN that holds "Issuer : " cannot pass for another line. */
static const char *ValueAfter(const char *line, const char *name) {
    size_t n = strlen(name);
    return strncmp(line, name, n) == 0 ? line + n : nullptr;
}

/* ---- Listing and details lines ------------------------------------------ */

void ParseListLine(CERTCMDCTX *ctx, const char *line) {
    const char *gskit = strstr(line, "CTGSK");
    if (gskit != nullptr) {
        if (ctx->gskitId[0] == '\0')
            CopyBounded(ctx->gskitId, sizeof ctx->gskitId, gskit,
                        strnlen(gskit, CERT_GSKIT_ID_LENGTH));
        return;
    }
    if (strstr(line, "Certificates found") != nullptr ||
        strstr(line, " (C) Copyright IBM Corp.") != nullptr ||
        strstr(line, "* default, - personal, ! trusted, # secret key") != nullptr)
        return;
    /* A certificate line is markers, a tab and the label; anything without
     * a tab ("No certificates were found.") is not a certificate. */
    const char *tab = strchr(line, '\t');
    if (tab == nullptr)
        return;
    const char *label = tab;
    while (*label == '\t')
        label++;
    size_t len;
    if (*label == '"') {
        /* A label with blanks stands between double quotes: take all of it. */
        label++;
        const char *close = strrchr(label, '"');
        len = close != nullptr ? static_cast<size_t>(close - label) : strcspn(label, "\r");
    } else {
        len = strcspn(label, " \r");
    }
    if (len == 0)
        return; /* no label: nothing a details run or a response could name */

    CERTREC *rec = static_cast<CERTREC *>(CSGetMem(sizeof(CERTREC)));
    if (rec == nullptr) {
        OutputMessage(0, OUTF_NORMAL, Settings.logStream,
                      "CVLA201E Can not allocate %d bytes for a message! \n",
                      static_cast<int>(sizeof(CERTREC)));
        return;
    }
    memset(rec, 0, sizeof *rec);
    InitCertRecord(rec);
    for (const char *m = line; m < tab; m++) {
        switch (*m) {
            case '!':
                rec->trusted = 1;
                break;
            case '#':
                rec->secretKey = 1;
                break;
            case '*':
                rec->isDefault = 1;
                break;
            case '-':
                rec->usage = CERT_USAGE_PERSONAL;
                break;
            default:
                break;
        }
    }
    CopyBounded(rec->label, sizeof rec->label, label, len);
    if (ctx->lastCert != nullptr)
        ctx->lastCert->next = rec;
    else
        ctx->certs = rec;
    ctx->lastCert = rec;
}

void ParseDetailsLine(CERTREC *rec, const char *line) {
    const char *v;
    if ((v = ValueAfter(line, "Key Size : ")) != nullptr) {
        while (*v == ' ')
            v++;
        int32_t size = 0;
        for (; isdigit(static_cast<unsigned char>(*v)) && size < 1000000; v++)
            size = size * 10 + (*v - '0');
        rec->keySize = size;
    } else if ((v = ValueAfter(line, "Serial : ")) != nullptr) {
        FormatSerial(rec->serial, sizeof rec->serial, v);
    } else if ((v = ValueAfter(line, "Issuer : ")) != nullptr) {
        TrimQuotedValue(rec->issuer, sizeof rec->issuer, v);
    } else if ((v = ValueAfter(line, "Subject : ")) != nullptr) {
        TrimQuotedValue(rec->subject, sizeof rec->subject, v);
    } else if ((v = ValueAfter(line, "Not Before : ")) != nullptr) {
        rec->notBefore = ParseCertDate(v);
    } else if ((v = ValueAfter(line, "Not After : ")) != nullptr) {
        rec->notAfter = ParseCertDate(v);
    } else {
        while (*line == ' ' || *line == '\t')
            line++;
        if (strncmp(line, "ca = true", 9) == 0)
            rec->usage = CERT_USAGE_CA;
    }
}

/* ---- Values ------------------------------------------------------------- */

size_t TrimQuotedValue(char *dest, size_t destSize, const char *text) {
    if (*text == '"')
        text++;
    size_t len = strlen(text);
    while (len > 0 && strchr(" \t\r\n", text[len - 1]) != nullptr)
        len--;
    if (len > 0 && text[len - 1] == '"')
        len--;
    return CopyBounded(dest, destSize, text, len);
}

void FormatSerial(char *dest, size_t destSize, const char *text) {
    size_t digits = strcspn(text, " \t\r\n");
    size_t at = 0;
    if (destSize == 0)
        return;
    for (size_t i = 0; i < digits; i += 2) {
        size_t pair = digits - i >= 2 ? 2 : 1;
        size_t need = pair + (i > 0 ? 1 : 0);
        if (at + need > destSize - 1)
            break; /* whole pairs only */
        if (i > 0)
            dest[at++] = ':';
        for (size_t k = 0; k < pair; k++)
            dest[at++] = static_cast<char>(toupper(static_cast<unsigned char>(text[i + k])));
    }
    dest[at] = '\0';
}

/* Days from 1970-01-01 to the given date of the proleptic Gregorian
 * calendar (negative before it). */
static int64_t DaysFromCivil(int64_t y, int m, int d) {
    y -= m <= 2;
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    int64_t yoe = y - era * 400;
    int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

/* "GMT", "GMT+hh:mm" or "GMT-hh:mm" into seconds east of UTC. The sign
 * applies to the minutes too: GMT-03:30 is three and a half hours west.
 * Returns 0, or 1 when the zone is not of that form. */
static int ParseGmtOffset(const char *zone, int64_t *offsetSeconds) {
    if (strcmp(zone, "GMT") == 0) {
        *offsetSeconds = 0;
        return 0;
    }
    int sign = zone[3] == '+' ? 1 : zone[3] == '-' ? -1 : 0;
    const char *p = zone + 4;
    int h = 0, m = 0, nh = 0, nm = 0;
    for (; isdigit(static_cast<unsigned char>(*p)) && nh < 2; p++, nh++)
        h = h * 10 + (*p - '0');
    if (*p == ':')
        for (p++; isdigit(static_cast<unsigned char>(*p)) && nm < 2; p++, nm++)
            m = m * 10 + (*p - '0');
    if (sign == 0 || nh == 0 || *p != '\0' || h > 14 || m > 59)
        return 1;
    *offsetSeconds = sign * (static_cast<int64_t>(h) * 60 + m) * 60;
    return 0;
}

int64_t ParseCertDate(const char *text) {
    char month[16], marker[3], zone[64];
    int day = 0, year = 0, hour = 0, minute = 0, second = 0;
    if (sscanf(text, "%15s %d, %4d %d:%d:%d %2s %63s", month, &day, &year, &hour, &minute, &second,
               marker, zone) != 8)
        return CERT_TIME_UNKNOWN;
    int mon = -1;
    for (int i = 0; i < 12; i++)
        if (strcmp(month, MonthNames[i]) == 0)
            mon = i;
    char ampm = static_cast<char>(toupper(static_cast<unsigned char>(marker[0])));
    if (mon < 0 || day < 1 || day > 31 || hour < 1 || hour > 12 || minute < 0 || minute > 59 ||
        second < 0 || second > 60 || (ampm != 'A' && ampm != 'P'))
        return CERT_TIME_UNKNOWN;
    if (hour == 12)
        hour = 0; /* 12:xx AM is just after midnight, 12:xx PM just after noon */
    if (ampm == 'P')
        hour += 12;

    if (strncmp(zone, "GMT", 3) == 0) {
        int64_t offset = 0;
        if (ParseGmtOffset(zone, &offset) != 0)
            return CERT_TIME_UNKNOWN;
        int64_t days = DaysFromCivil(year, mon + 1, day);
        return days * 86400 + hour * 3600 + minute * 60 + second - offset;
    }

    /* Any other zone must be the local one, as the C library names it now. */
    struct tm now;
    char localZone[64];
    if (PLLocalTime(PLWallClockSeconds(), &now) != 0 ||
        strftime(localZone, sizeof localZone, "%Z", &now) == 0 || strcmp(zone, localZone) != 0)
        return CERT_TIME_UNKNOWN;
    struct tm tm;
    memset(&tm, 0, sizeof tm);
    tm.tm_year = year - 1900;
    tm.tm_mon = mon;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    time_t t = mktime(&tm);
    return t == static_cast<time_t>(-1) ? CERT_TIME_UNKNOWN : static_cast<int64_t>(t);
}

void SetSecondsLeft(CERTREC *rec, int64_t now) {
    if (rec->notAfter != CERT_TIME_UNKNOWN)
        rec->secondsLeft = rec->notAfter - now;
}

/* ---- The context's list ------------------------------------------------- */

const char *CertRepositoryName(const CERTCMDCTX *ctx) {
    return ctx->keyRepository[0] != '\0' ? ctx->keyRepository : ctx->qmgrKeyRepository;
}

void FreeCertList(CERTCMDCTX *ctx) {
    CERTREC *rec = ctx->certs;
    while (rec != nullptr) {
        CERTREC *next = rec->next;
        CSFreeMem(rec);
        rec = next;
    }
    ctx->certs = nullptr;
    ctx->lastCert = nullptr;
}
