/* certrec.h -- CERTREC, one certificate of a key repository as the listing
 * and details runs of the key-repository tool describe it.
 *
 * Owns: the record layout only. Records are allocated zero-filled with
 * CSGetMem, given their initial values by InitCertRecord, chained on the
 * certificate command's list and freed with it.
 * Threads: a record is filled on the worker thread that runs the tool and
 * read on the consumer thread afterwards; never both at once.
 */
#pragma once

#include <cstdint>

constexpr int CERT_LABEL_SIZE = 340; /* label, NUL-terminated */
constexpr int CERT_DN_SIZE = 1025;   /* subject or issuer DN, NUL-terminated */
constexpr int CERT_SERIAL_SIZE = 64; /* serial number: 21 octets as 42 digits, 20 colons, NUL */
constexpr int64_t CERT_TIME_UNKNOWN = -1;

/* Selection flags, set while the responses of a DISPLAY CERT are chosen. */
enum { CERT_SELECTED = 0x1, CERT_LAST_SELECTED = 0x2 };

/* Usage values: those of the CERTUSAGE keyword (ALL is -1). */
enum { CERT_USAGE_PERSONAL = 1, CERT_USAGE_CA = 2, CERT_USAGE_VALIDATION = 3 };

struct CERTREC {
    CERTREC *next;                 /* listing order; null ends the list */
    int32_t selection;             /* CERT_SELECTED | CERT_LAST_SELECTED */
    char label[CERT_LABEL_SIZE];   /* from the listing line */
    char subject[CERT_DN_SIZE];    /* details "Subject : " */
    char issuer[CERT_DN_SIZE];     /* details "Issuer : " */
    char serial[CERT_SERIAL_SIZE]; /* details "Serial : " */
    int32_t keySize;               /* details "Key Size : "; 0 unknown */
    int32_t qmgrCert;              /* 1: the queue manager's own certificate label */
    int32_t usage;                 /* CERT_USAGE_*; 3 until listing or details say more */
    int32_t isDefault;             /* listing marker '*' */
    int32_t trusted;               /* listing marker '!' */
    int32_t secretKey;             /* listing marker '#' */
    int64_t notBefore;             /* seconds since 1970 UTC; CERT_TIME_UNKNOWN */
    int64_t notAfter;              /* seconds since 1970 UTC; CERT_TIME_UNKNOWN */
    int64_t secondsLeft;           /* notAfter - now once notAfter is known, else 0 */
};

/* Give a zero-filled record its initial values (usage 3, times unknown). */
inline void InitCertRecord(CERTREC *rec) {
    rec->usage = CERT_USAGE_VALIDATION;
    rec->notBefore = CERT_TIME_UNKNOWN;
    rec->notAfter = CERT_TIME_UNKNOWN;
}
