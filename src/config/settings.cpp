/* settings.cpp -- the global Settings record, the key table and the reader
 * of the configuration file TORVIK.CFG.
 *
 * Owns: Settings, the key table (KeyTable) with its was-set flags.
 * Threads: ReadConfigFile and ReportConfigOverrides run on the main thread
 * during start-up, before any other thread exists.
 */
#include "config/settings.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <climits>
#include <cstring>
#include <new>
#include <type_traits>

#include "platform/platform.h"

SETTINGS Settings;

enum { KEY_INTEGER, KEY_YESNO, KEY_STRING, KEY_ENUM };
enum { REPORT_ALWAYS, REPORT_TRIGGERED, REPORT_LOG_STREAM };

struct ENUMVALUE {
    const char *name;    /* shown in the overrides report */
    const char *keyword; /* what the file must say, any case */
    int32_t value;
    int inFile; /* 1: accepted in the file */
};

static const ENUMVALUE CertEventValues[] = {
    {"Yes", "YES", CERTEVENT_YES, 1}, {"AsQMgr", "ASQMGR", CERTEVENT_ASQMGR, 1},
    {"No", "NO", CERTEVENT_NO, 1},    {"Disabled", "DISABLED", CERTEVENT_DISABLED, 0},
    {nullptr, nullptr, 0, 0},
};

struct CFGKEY {
    const char *name;
    int type;                        /* KEY_* */
    const char *unit;                /* singular unit word for the report, or null */
    int32_t *intField;               /* KEY_INTEGER */
    uint32_t bit;                    /* KEY_YESNO: bit of Settings.flags */
    char *strField;                  /* KEY_STRING */
    size_t size;                     /* KEY_STRING: field size, terminator included */
    std::atomic<int32_t> *enumField; /* KEY_ENUM */
    const ENUMVALUE *values;         /* KEY_ENUM */
    int report;                      /* REPORT_* */
    int wasSet;                      /* set by ReadConfigFile */
};

#define INT_KEY(n, f, u, r) \
    { n, KEY_INTEGER, u, &Settings.f, 0, nullptr, 0, nullptr, nullptr, r, 0 }
#define YESNO_KEY(n, b, r) \
    { n, KEY_YESNO, nullptr, nullptr, b, nullptr, 0, nullptr, nullptr, r, 0 }
#define STRING_KEY(n, f, size, r) \
    { n, KEY_STRING, nullptr, nullptr, 0, Settings.f, size, nullptr, nullptr, r, 0 }

static CFGKEY KeyTable[] = {
    INT_KEY("maxage", maxAge, "second", REPORT_ALWAYS),
    INT_KEY("maxmsgsize", maxMsgSize, "byte", REPORT_ALWAYS),
    YESNO_KEY("compress", FLAG_COMPRESS, REPORT_ALWAYS),
    YESNO_KEY("coalesce", FLAG_COALESCE, REPORT_ALWAYS),
    STRING_KEY("tempqpfx", tempQPrefix, CFG_KEY_NAME_SIZE, REPORT_ALWAYS),
    STRING_KEY("commandq", commandQName, CFG_KEY_NAME_SIZE, REPORT_ALWAYS),
    STRING_KEY("replyq", modelQName, CFG_KEY_NAME_SIZE, REPORT_ALWAYS),
    STRING_KEY("logpath", logPath, sizeof Settings.logPath, REPORT_LOG_STREAM),
    INT_KEY("discint", discInt, "minute", REPORT_TRIGGERED),
    INT_KEY("reportint", reportInt, "minute", REPORT_ALWAYS),
    INT_KEY("retrycount", retryCount, nullptr, REPORT_ALWAYS),
    INT_KEY("retryint", retryInt, "second", REPORT_ALWAYS),
    INT_KEY("hobjttl", hobjTtl, "second", REPORT_ALWAYS),
    INT_KEY("numlogfiles", numLogFiles, nullptr, REPORT_LOG_STREAM),
    INT_KEY("maxlogsize", maxLogSize, "byte", REPORT_LOG_STREAM),
    YESNO_KEY("logfailfatal", FLAG_LOGFAILFATAL, REPORT_LOG_STREAM),
    YESNO_KEY("replyqinq", FLAG_REPLYQINQ, REPORT_ALWAYS),
    YESNO_KEY("certdisplay", FLAG_CERTDISPLAY, REPORT_ALWAYS),
    {"certevent", KEY_ENUM, nullptr, nullptr, 0, nullptr, 0, &Settings.certEvent, CertEventValues,
     REPORT_ALWAYS, 0},
    INT_KEY("certfreq", certFreq, "hour", REPORT_ALWAYS),
    INT_KEY("certthresh", certThresh, "day", REPORT_ALWAYS),
    INT_KEY("sleeptime", sleepTime, "second", REPORT_ALWAYS),
    INT_KEY("reqchkdelay", reqChkDelay, "second", REPORT_ALWAYS),
    INT_KEY("hobjchkdelay", hobjChkDelay, "second", REPORT_ALWAYS),
    YESNO_KEY("certfreqasmins", FLAG_CERTFREQ_MINUTES, REPORT_ALWAYS),
    INT_KEY("hobjmax", hobjMax, nullptr, REPORT_ALWAYS),
};
constexpr int KEY_COUNT = static_cast<int>(sizeof KeyTable / sizeof KeyTable[0]);

static CFGKEY *FindKey(const char *name);
static int SetKeyValue(CFGKEY *key, const char *value, int len);
static int32_t ParseInteger(const char *text);
static int EqualNoCase(const char *a, const char *b, size_t len);

/* A quoted token cut at CFG_TOKEN_MAX characters goes on in the next call. */
static FILE *QuotedContinues = nullptr;

void InitSettings(void) {
    /* The defaults are the initialisers of SETTINGS (settings.h): build the
     * record anew in place (its destructor is trivial; no other thread runs
     * at start-up, and tests call this between cases). */
    static_assert(std::is_trivially_destructible<SETTINGS>::value, "SETTINGS is rebuilt in place");
    new (&Settings) SETTINGS();
    for (int i = 0; i < KEY_COUNT; i++)
        KeyTable[i].wasSet = 0;
    QuotedContinues = nullptr;
}

/* ---- Tokens ------------------------------------------------------------- */

static int IsSingleCharToken(int c) {
    return c != '\0' && strchr("=()[]{},", c) != nullptr;
}

int ReadToken(FILE *stream, int *quoted, char *buffer) {
    int len = 0;
    int c;
    *quoted = 0;
    buffer[0] = '\0';

    if (QuotedContinues != stream) {
        QuotedContinues = nullptr;
        /* Skip white space and comments. */
        for (;;) {
            c = fgetc(stream);
            if (c == EOF)
                return 0;
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
                continue;
            if (c == ';' || c == '#') {
                while ((c = fgetc(stream)) != EOF && c != '\n') {
                }
                if (c == EOF)
                    return 0;
                continue;
            }
            break;
        }
        if (IsSingleCharToken(c)) {
            buffer[0] = static_cast<char>(c);
            buffer[1] = '\0';
            return 1;
        }
    } else {
        c = '"'; /* the rest of a quoted string that was too long */
        QuotedContinues = nullptr;
    }

    if (c == '"') {
        *quoted = 1;
        for (;;) {
            if (static_cast<size_t>(len) >= CFG_TOKEN_MAX) {
                /* Full: the string goes on in the next token unless its
                 * closing quote (or the end of the file) comes next. */
                c = fgetc(stream);
                if (c != EOF && c != '"') {
                    ungetc(c, stream);
                    QuotedContinues = stream;
                }
                break;
            }
            c = fgetc(stream);
            if (c == EOF || c == '"')
                break;
            if (c == '~') {
                c = fgetc(stream);
                if (c == EOF)
                    break;
            }
            buffer[len++] = static_cast<char>(c);
        }
        buffer[len] = '\0';
        return len;
    }

    buffer[len++] = static_cast<char>(c);
    if (c == ':') {
        buffer[len] = '\0';
        return len;
    }
    while (static_cast<size_t>(len) < CFG_TOKEN_MAX) {
        c = fgetc(stream);
        if (c == EOF)
            break;
        if (c == ':') {
            buffer[len++] = ':';
            break;
        }
        if (c == ' ' || c == '\t' || c == '\r')
            break; /* dropped */
        if (c == '\n' || c == ';' || c == '#' || c == '"' || IsSingleCharToken(c)) {
            ungetc(c, stream);
            break;
        }
        buffer[len++] = static_cast<char>(c);
    }
    buffer[len] = '\0';
    return len;
}

/* ---- The file ----------------------------------------------------------- */

static CFGKEY *FindKey(const char *name) {
    for (int i = 0; i < KEY_COUNT; i++)
        if (strcmp(KeyTable[i].name, name) == 0)
            return &KeyTable[i];
    return nullptr;
}

static int EqualNoCase(const char *a, const char *b, size_t len) {
    for (size_t i = 0; i < len; i++) {
        int ca = static_cast<unsigned char>(a[i]);
        int cb = static_cast<unsigned char>(b[i]);
        if (ca >= 'a' && ca <= 'z')
            ca -= 'a' - 'A';
        if (cb >= 'a' && cb <= 'z')
            cb -= 'a' - 'A';
        if (ca != cb)
            return 0;
    }
    return 1;
}

/* Decimal like atoi: leading blanks, a sign, digits up to the first other
 * character; no digits gives 0. Values beyond 32 bits are held at the
 * nearest limit. */
static int32_t ParseInteger(const char *text) {
    const char *p = text;
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n' || *p == '\f' || *p == '\v')
        p++;
    int negative = 0;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    int64_t v = 0;
    while (*p >= '0' && *p <= '9') {
        v = v * 10 + (*p++ - '0');
        if (v > static_cast<int64_t>(INT32_MAX) + 1)
            v = static_cast<int64_t>(INT32_MAX) + 1;
    }
    if (negative)
        v = -v;
    if (v > INT32_MAX)
        v = INT32_MAX;
    return static_cast<int32_t>(v);
}

/* Apply one value; 1 when it is valid, 0 when it is not (nothing changed). */
static int SetKeyValue(CFGKEY *key, const char *value, int len) {
    switch (key->type) {
        case KEY_INTEGER:
            if (len > 0)
                *key->intField = ParseInteger(value);
            return 1;
        case KEY_YESNO:
            if (len == 3 && EqualNoCase(value, "yes", 3)) {
                SetFlags(key->bit);
                return 1;
            }
            if (len == 2 && EqualNoCase(value, "no", 2)) {
                ClearFlags(key->bit);
                return 1;
            }
            return 0;
        case KEY_STRING:
            CopyField(key->strField, key->size, value);
            return 1;
        case KEY_ENUM:
            for (const ENUMVALUE *v = key->values; v->name != nullptr; v++) {
                if (v->inFile && strlen(v->keyword) == static_cast<size_t>(len) &&
                    EqualNoCase(value, v->keyword, static_cast<size_t>(len))) {
                    key->enumField->store(v->value, std::memory_order_relaxed);
                    return 1;
                }
            }
            return 0;
    }
    return 0;
}

int ReadConfigFile(CFGPROBLEMFN reportProblem) {
    for (int i = 0; i < KEY_COUNT; i++)
        KeyTable[i].wasSet = 0;
    if (Settings.configFileName[0] == '\0') {
        char name[CFG_FILE_SIZE + 16];
        snprintf(name, sizeof name, "%s%cTORVIK.CFG", Settings.programDir, PL_PATH_SEPARATOR);
        CopyField(Settings.configFileName, sizeof Settings.configFileName, name);
    }
    errno = 0;
    FILE *f = fopen(Settings.configFileName, "r");
    if (f == nullptr) {
        int err = errno;
        if (FlagIsSet(FLAG_CONFIG_GIVEN))
            reportProblem(CFG_CANNOT_OPEN, Settings.configFileName, err);
        return 0;
    }

    static char token[CFG_TOKEN_MAX + 1];
    static char value[CFG_TOKEN_MAX + 1];
    int result = 0;
    int quoted = 0;
    QuotedContinues = nullptr;
    int len = ReadToken(f, &quoted, token);
    while (len > 0 || quoted) {
        CFGKEY *key = FindKey(token);
        if (key == nullptr) {
            reportProblem(CFG_UNRECOGNISED, token, 0);
            len = ReadToken(f, &quoted, token);
            continue;
        }
        int vquoted = 0;
        int vlen = ReadToken(f, &vquoted, value);
        if (vlen == 1 && !vquoted && value[0] == '=')
            vlen = ReadToken(f, &vquoted, value);
        if (SetKeyValue(key, value, vlen)) {
            key->wasSet = 1;
            result = 1;
        } else {
            char text[CFG_ERROR_TEXT_SIZE];
            AppendText(text, sizeof text, 0, "%s = %s", key->name, value); /* cut to fit */
            reportProblem(CFG_UNRECOGNISED, text, 0);
        }
        len = ReadToken(f, &quoted, token);
    }
    QuotedContinues = nullptr;
    fclose(f);
    return result;
}

int ConfigKeyWasSet(const char *name) {
    CFGKEY *key = FindKey(name);
    return key != nullptr && key->wasSet;
}

/* ---- The overrides report ----------------------------------------------- */

void BuildConfigOverrides(char *text, size_t size, int logStreamOpen) {
    size_t at = 0;
    if (size == 0)
        return;
    text[0] = '\0';
    int first = 1;
    for (int i = 0; i < KEY_COUNT; i++) {
        const CFGKEY *key = &KeyTable[i];
        if (!key->wasSet)
            continue;
        if (key->report == REPORT_TRIGGERED && !FlagIsSet(FLAG_TRIGGERED))
            continue;
        if (key->report == REPORT_LOG_STREAM && !logStreamOpen)
            continue;
        if (!first)
            at = AppendText(text, size, at, "; ");
        first = 0;
        at = AppendText(text, size, at, "%s", key->name);
        int32_t number = 0;
        switch (key->type) {
            case KEY_INTEGER:
                number = *key->intField;
                at = AppendText(text, size, at, " = %d", number);
                break;
            case KEY_YESNO:
                at = AppendText(text, size, at, " = %s", FlagIsSet(key->bit) ? "yes" : "no");
                break;
            case KEY_STRING:
                at = AppendText(text, size, at, " = %s", key->strField);
                break;
            case KEY_ENUM: {
                int32_t v = key->enumField->load(std::memory_order_relaxed);
                const char *name = "";
                for (const ENUMVALUE *e = key->values; e->name != nullptr; e++)
                    if (e->value == v) {
                        name = e->name;
                        break;
                    }
                at = AppendText(text, size, at, " = %s", name);
                break;
            }
        }
        if (key->unit != nullptr)
            at = AppendText(text, size, at, " %s%s", key->unit, number > 0 ? "s" : "");
    }
}

/* ---- Fixed text fields -------------------------------------------------- */

int CopyField(char *dst, size_t size, const char *src) {
    if (size == 0)
        return 1;
    size_t n = strlen(src);
    int cut = 0;
    if (n >= size) {
        n = size - 1;
        cut = 1;
    }
    memmove(dst, src, n);
    dst[n] = '\0';
    return cut;
}

size_t FieldLength(const char *field, size_t size) {
    size_t len = strnlen(field, size);
    while (len > 0 && field[len - 1] == ' ')
        len--;
    return len;
}

void CopyPadded(char *field, size_t size, const char *text, char pad) {
    size_t len = strnlen(text, size);
    memcpy(field, text, len);
    memset(field + len, pad, size - len);
}

size_t AppendText(char *buf, size_t size, size_t at, const char *fmt, ...) {
    if (size == 0 || at + 1 >= size)
        return at;
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(buf + at, size - at, fmt, ap);
    va_end(ap);
    if (n < 0)
        return at;
    at += static_cast<size_t>(n);
    return at < size ? at : size - 1;
}
