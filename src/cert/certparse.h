/* certparse.h -- turning the key-repository tool's output lines into
 * certificate records: the listing handler, the details handler, the dates
 * and values they read, and the seconds left until a certificate expires.
 *
 * Owns: CERTCMDCTX, the context of one certificate command or check, as far
 * as the tool runs and the parsers use it (the DISPLAY CERT command extends
 * the record with its parameters and its thresholds).
 * Threads: the handlers run on the worker thread of a check; nothing else
 * touches the context or its records during the runs.
 */
#pragma once

#include <cstddef>
#include <cstdint>

#include "mqsc/certrec.h"

constexpr size_t CERT_REPOS_SIZE = 261;     /* 256 characters as given, ".kdb", NUL */
constexpr size_t CERT_QMGR_LABEL_SIZE = 65; /* the queue manager's CERTLABL, NUL */
constexpr size_t CERT_GSKIT_ID_LENGTH = 10; /* "CTGSK3026W" */

/* One certificate command or check. Allocated zero-filled with CSGetMem;
 * the records of its list are released with FreeCertList. */
constexpr size_t CERT_PATTERN_SIZE = 65;  /* CERT label pattern, NUL */
constexpr size_t CERT_FILTER_SIZE = 1025; /* WHERE text, NUL */
constexpr int CERT_MAX_ATTRS = 25;        /* requested attribute ids kept */

struct CERTCMDCTX {
    int32_t mode;                             /* 0 DISPLAY CERT, 1 expiry check */
    char labelPattern[CERT_PATTERN_SIZE];     /* the CERT parameter; empty: every label */
    char keyRepository[CERT_REPOS_SIZE];      /* the SSLKEYR parameter; empty: the qmgr's */
    char filterText[CERT_FILTER_SIZE];        /* the WHERE parameter; kept while compiled */
    int32_t eventThreshold;                   /* days (EVTTHRES, or certthresh); 0 none */
    int32_t usageFilter;                      /* CERTUSAGE; -1 all */
    int32_t attrs[CERT_MAX_ATTRS];            /* requested attribute ids */
    int32_t attrCount;                        /* ids used in attrs */
    int32_t allAttrs;                         /* 1 when MQIACF_ALL was requested */
    char qmgrKeyRepository[CERT_REPOS_SIZE];  /* the queue manager's SSLKEYR, completed */
    char qmgrCertLabel[CERT_QMGR_LABEL_SIZE]; /* the queue manager's CERTLABL */
    int32_t sslEvent;                         /* the queue manager's SSLEV; 0 disabled */
    CERTREC *certs;                           /* first record, in listing order */
    CERTREC *lastCert;                        /* last record: where the listing appends */
    char gskitId[CERT_GSKIT_ID_LENGTH + 1];   /* first GSKit message number seen, NUL */
    int32_t listingFailure;                   /* the listing run's failure code, 0 */
};

/* ---- Listing and details lines ------------------------------------------ */

/* Handle one line of the listing run: keep the first GSKit message number,
 * skip headings and trailers, and append a record for each certificate line
 * (markers, a tab, the label; a label with blanks stands in double quotes).
 * line is NUL-terminated without its line feed. A record that cannot be
 * allocated is dropped with CVLA201E. */
void ParseListLine(CERTCMDCTX *ctx, const char *line);

/* Handle one line of a details run for rec: "Key Size : ", "Serial : ",
 * "Issuer : ", "Subject : ", "Not Before : ", "Not After : " at the start of
 * the line, and a basic-constraints line "ca = true" (usage becomes CA
 * certificate). Other lines are ignored. */
void ParseDetailsLine(CERTREC *rec, const char *line);

/* ---- Values ------------------------------------------------------------- */

/* Seconds since 1970-01-01 00:00 UTC of a tool date such as
 * "January 1, 2027 11:59:59 PM GMT+00:00", or CERT_TIME_UNKNOWN (-1) when
 * the text is not such a date or names a zone other than GMT[+-hh:mm] and
 * the local one. 12:xx AM is hour 0; 12:xx PM is hour 12. */
int64_t ParseCertDate(const char *text);

/* Copy text into dest (destSize bytes, always terminated) without a leading
 * double quote, trailing blanks, tabs, carriage returns and line feeds, and
 * then a trailing double quote. A value that does not fit is cut. Returns
 * the number of characters copied. */
size_t TrimQuotedValue(char *dest, size_t destSize, const char *text);

/* The serial number at text (up to a blank, tab, line end or the end) into
 * dest in upper case, with ':' between pairs of digits: 0a1b2c3 becomes
 * 0A:1B:2C:3. Digits that do not fit destSize are dropped by whole pairs. */
void FormatSerial(char *dest, size_t destSize, const char *text);

/* seconds left = not after - now, when not after is known; else unchanged. */
void SetSecondsLeft(CERTREC *rec, int64_t now);

/* ---- The context's list ------------------------------------------------- */

/* The repository a check works on: the key repository parameter when given,
 * else the queue manager's. */
const char *CertRepositoryName(const CERTCMDCTX *ctx);

/* Release every record of ctx's list (CSFreeMem) and empty the list. */
void FreeCertList(CERTCMDCTX *ctx);
