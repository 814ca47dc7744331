/* mqsc_tables.cpp -- the command and DISPLAY CERT parameter tables, the
 * MQSC tokenizer and value-name look-up.
 *
 * Owns: MqscCommandTable, CertParamTable, the value-name tables.
 * Threads: any. CertParamTable's keyword lengths are written once, by the
 * filter compiler, before any reader uses them.
 */
#include "mqsc/mqsc_tables.h"

#include <cctype>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "mqsc/certrec.h"
#include "mqconst/mqconst.h"

const ValueNameDef YesNoNames[] = {
    {1, "Yes", "YES"},
    {0, "No", "NO"},
    {0, "", ""},
};

const ValueNameDef CertUsageNames[] = {
    {1, "Personal", "PERSONAL"},
    {2, "CA Certificate", "CACERT"},
    {3, "Validation", "VALIDATION"},
    {-1, "All", "ALL"},
    {0, "", ""},
};

const ValueNameDef TrustNames[] = {
    {1, "Yes", "YES"},
    {2, "High", "HIGH"},
    {0, "No", "NO"},
    {0, "", ""},
};

#define CERT_FIELD(f) static_cast<MQLONG>(offsetof(CERTREC, f))

MqscParamDef CertParamTable[] = {
    {"d+", 's', "CERT", nullptr, MQCA_CERT_LABEL, 0, CERT_FIELD(label), FIELD_TEXT, 0, 0},
    {"d*", 's', "SSLKEYR", nullptr, MQCA_SSL_KEY_REPOSITORY, 0, 0, FIELD_NONE, 0, 0},
    {"d ", 's', "SSLPEER", nullptr, MQCACH_SSL_PEER_NAME, 0, CERT_FIELD(subject), FIELD_TEXT, 0, 0},
    {"d ", 's', "SERIAL", nullptr, CVL_ATTR_TORVIK_CERT_SERIAL, 0, CERT_FIELD(serial), FIELD_TEXT,
     0, 0},
    {"d ", 's', "SSLCERTI", nullptr, MQCACH_SSL_CERT_ISSUER_NAME, 0, CERT_FIELD(issuer), FIELD_TEXT,
     0, 0},
    {"d ", 'i', "KEYSIZE", nullptr, CVL_ATTR_TORVIK_CERT_KEYSIZE, 0, CERT_FIELD(keySize),
     FIELD_INT32, 0, 0},
    {"d ", 'i', "DEFAULT", YesNoNames, CVL_ATTR_TORVIK_CERT_DEFAULT, 0, CERT_FIELD(isDefault),
     FIELD_INT32, 0, 0},
    {"d*", 'i', "CERTUSAGE", CertUsageNames, CVL_ATTR_TORVIK_CERT_USAGE, 0, CERT_FIELD(usage),
     FIELD_INT32, 0, 0},
    {"d ", 'i', "TRUSTED", TrustNames, CVL_ATTR_TORVIK_CERT_TRUSTED, 0, CERT_FIELD(trusted),
     FIELD_INT32, 0, 0},
    {"d ", 'i', "QMGRCERT", YesNoNames, CVL_ATTR_TORVIK_CERT_QMGR, 0, CERT_FIELD(qmgrCert),
     FIELD_INT32, 0, 0},
    {"d ", 't', "ISSUETI", nullptr, CVL_ATTR_TORVIK_CERT_ISSUE_TIME, 0, CERT_FIELD(notBefore),
     FIELD_TIME64, 0, 0},
    {"d ", 't', "EXPIRYTI", nullptr, CVL_ATTR_TORVIK_CERT_EXPIRY_TIME, 0, CERT_FIELD(notAfter),
     FIELD_TIME64, 0, 0},
    {"d ", 'i', "LIFESPAN", nullptr, CVL_ATTR_TORVIK_CERT_LIFESPAN,
     static_cast<MQLONG>(UNITS_SECONDS), CERT_FIELD(secondsLeft), FIELD_TIME64, 0, 0},
    /* A threshold of the command, not of a certificate: no record field. */
    {"d*", 'i', "EVTTHRES", nullptr, CVL_ATTR_TORVIK_LIFESPAN_THRESHOLD,
     static_cast<MQLONG>(UNITS_DAYS), 0, FIELD_NONE, 0, 0},
    {"d ", 'a', "ALL", nullptr, MQIACF_ALL, 0, 0, FIELD_NONE, 0, 0},
    {"d*", 'w', "WHERE", nullptr, CVL_ATTR_TORVIK_WHERE, 0, 0, FIELD_NONE, 0, 0},
    {nullptr, 0, nullptr, nullptr, 0, 0, 0, FIELD_NONE, 0, 0},
};

const char CertHelpText[] =
    "CVLA620E Valid syntax for the TORVIK command:\n\n   DISPLAY CERT( certificate_label ) \n"
    "     [ KEYREPOS( key_repository_location ) ]\n     [ WHERE( filter_expression ) ]\n"
    "     [ EVTTHRES( days ) ]\n\n     [ ALL     ]\n\n"
    "     [ CERTUSGE ] [ DEFAULT  ] [ EXPIRYTI ] [ ISSUETI  ]\n"
    "     [ KEYSIZE  ] [ LIFESPAN ] [ QMGRCERT ] [ SERIAL   ]\n"
    "     [ SSLCERTI ] [ SSLPEER  ] [ TRUSTED  ]\n";

MqscCommandDef MqscCommandTable[] = {
    {'d', "DISPLAY", "DIS", "CERT", CertParamTable, CertHelpText, CVL_CMD_DISPLAY_CERTIFICATE,
     CVL_ATTR_TORVIK_CERT_ATTRS},
    {0, nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0},
};

const char MQSC_DELIMITERS[] = "()[]!|&<>-+*/=,;";
const char MQSC_SEPARATORS[] = " ()[]!|&<>-+*/=\n\t,;";

static int IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

static int IsOperatorPair(char a, char b) {
    return (a == '<' && (b == '>' || b == '=')) || (a == '!' && b == '=') ||
           (a == '>' && b == '=') || (a == '=' && b == '=');
}

int NextToken(const char **cursor, const char *end, const char *delimiters, const char *separators,
              const char **start, int *length) {
    const char *p = *cursor;
    while (p < end && IsBlank(*p))
        p++;
    if (p >= end || *p == '\0') {
        *cursor = p;
        *start = p;
        *length = 0;
        return 0;
    }
    const char *q = p;
    if (*p == '\'' || *p == '"') {
        const char quote = *p;
        q = p + 1;
        while (q < end && *q != quote)
            q++;
        if (q < end)
            q++; /* the closing quote belongs to the token */
    } else if (strchr(delimiters, *p) != nullptr) {
        q = p + 1;
        if (q < end && IsOperatorPair(p[0], p[1]))
            q++;
    } else {
        while (q < end && *q != '\0' && strchr(separators, *q) == nullptr)
            q++;
    }
    *start = p;
    *length = static_cast<int>(q - p);
    *cursor = q;
    return 1;
}

/* Skip a quoted run starting at p (a quote); returns the position after its
 * closing quote, or null when it runs past the end. Inside a run the other
 * kind of quote opens a nested run, so open runs alternate between the two
 * kinds: a count of them is all the state needed, however deep the text
 * nests them. */
static const char *SkipQuoted(const char *p, const char *end) {
    const char outer = *p++;
    const char inner = outer == '\'' ? '"' : '\'';
    size_t open = 1;
    for (; p < end; p++) {
        if (*p == (open % 2 == 1 ? outer : inner)) {
            if (--open == 0)
                return p + 1;
        } else if (*p == '\'' || *p == '"') {
            open++;
        }
    }
    return nullptr;
}

const char *FindClosingParen(const char *p, const char *end) {
    int depth = 1;
    while (p < end) {
        if (*p == '\'' || *p == '"') {
            p = SkipQuoted(p, end);
            if (p == nullptr)
                return nullptr;
            continue;
        }
        if (*p == '(') {
            depth++;
        } else if (*p == ')' && --depth == 0) {
            return p;
        }
        p++;
    }
    return nullptr;
}

/* 1 when text[0..length) is a decimal number as value names accept it. */
static int IsValueNumber(const char *text, int length, long *value) {
    char digits[16];
    if (length >= 3 && text[0] == '\'' && text[length - 1] == '\'') {
        text++;
        length -= 2;
    }
    int i = 0;
    if (i < length && (text[i] == '+' || text[i] == '-'))
        i++;
    if (i >= length)
        return 0;
    for (int j = i; j < length; j++)
        if (!isdigit(static_cast<unsigned char>(text[j])))
            return 0;
    /* a number wider than any value name matches none of them */
    if (length >= static_cast<int>(sizeof digits)) {
        *value = LONG_MIN;
        return 1;
    }
    memcpy(digits, text, static_cast<size_t>(length));
    digits[length] = '\0';
    *value = atol(digits);
    return 1;
}

const ValueNameDef *LookupValueName(const ValueNameDef *names, const char *text, int length) {
    if (names == nullptr || text == nullptr || length <= 0)
        return nullptr;
    long value = 0;
    const int byValue = IsValueNumber(text, length, &value);
    for (const ValueNameDef *row = names; row->keyword[0] != '\0'; row++) {
        if (byValue) {
            if (row->value == value)
                return row;
        } else if (static_cast<int>(strlen(row->keyword)) == length) {
            int i = 0;
            while (i < length && toupper(static_cast<unsigned char>(text[i])) ==
                                     static_cast<unsigned char>(row->keyword[i]))
                i++;
            if (i == length)
                return row;
        }
    }
    return nullptr;
}
