/* mqcmd_build.cpp -- building the requester's PCF commands from command-line words.
 *
 * Names and constant values are resolved through the project's constant
 * tables (ConstantValue), so any published MQ name can be used.
 * Owns: nothing. Threads: any.
 */
#include "mqcmd_build.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "mqconst/mqpcf.h"
#include "mqcmd_names.h"
#include "mqconst/mqconst.h"
#include "platform/platform.h"

constexpr size_t NAME_SIZE = 80; /* longest constant name accepted, with its NUL */

static int Fail(int reason, char *err, size_t errSize, const char *fmt, ...) PL_PRINTF_FORMAT(4, 5);
static int CopyName(const char *text, size_t len, char *name);
static int ParseNumber(const char *text, size_t len, int64_t *value, int *isNumber);
static int LookUpConstant(const char *text, size_t len, int64_t *value);
static void AppendLong(std::vector<MQBYTE> *msg, MQLONG v);
static void SetLong(std::vector<MQBYTE> *msg, size_t off, MQLONG v);
static MQLONG GetLong(const std::vector<MQBYTE> *msg, size_t off);
static void CountParameter(std::vector<MQBYTE> *msg, MQLONG minVersion);
static int HasPrefix(const char *name, const char *prefix);
static int HasSuffix(const char *name, const char *suffix);

static int Fail(int reason, char *err, size_t errSize, const char *fmt, ...) {
    if (err != nullptr && errSize > 0) {
        va_list ap;
        va_start(ap, fmt);
        vsnprintf(err, errSize, fmt, ap);
        va_end(ap);
    }
    return reason;
}

/* Copy len bytes of text into name (NAME_SIZE bytes) upper-cased and
 * terminated. Returns 0, or 1 when it does not fit or is empty. */
static int CopyName(const char *text, size_t len, char *name) {
    if (len == 0 || len >= NAME_SIZE)
        return 1;
    for (size_t i = 0; i < len; i++)
        name[i] = (char)toupper((unsigned char)text[i]);
    name[len] = '\0';
    return 0;
}

/* A decimal or 0x-hexadecimal number with an optional minus sign, all of
 * text[0..len). *isNumber is 0 when text does not look like a number at all;
 * returns 1 when it does but overflows 64 bits or has stray characters. */
static int ParseNumber(const char *text, size_t len, int64_t *value, int *isNumber) {
    size_t i = 0;
    int negative = 0;
    *isNumber = 0;
    if (i < len && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        i++;
    }
    if (i >= len || !isdigit((unsigned char)text[i]))
        return 1;
    *isNumber = 1;
    unsigned base = 10;
    if (len - i > 2 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    uint64_t v = 0;
    const uint64_t limit = negative ? (uint64_t)INT64_MAX + 1 : (uint64_t)UINT64_MAX;
    for (; i < len; i++) {
        int c = (unsigned char)text[i];
        unsigned d;
        if (isdigit(c))
            d = (unsigned)(c - '0');
        else if (base == 16 && isxdigit(c))
            d = (unsigned)(tolower(c) - 'a' + 10);
        else
            return 1;
        if (v > (limit - d) / base)
            return 1;
        v = v * base + d;
    }
    if (negative) {
        *value = v == (uint64_t)INT64_MAX + 1 ? INT64_MIN : -(int64_t)v;
    } else {
        *value = (int64_t)v; /* values above INT64_MAX wrap; callers check ranges */
        if (v > (uint64_t)INT64_MAX)
            return 1;
    }
    return 0;
}

/* Value of the constant named by text[0..len), any case. Returns 0 or 1. */
static int LookUpConstant(const char *text, size_t len, int64_t *value) {
    char name[NAME_SIZE];
    if (CopyName(text, len, name) != 0)
        return 1;
    return MqcmdConstantValue(name, value) == 0 ? 0 : 1;
}

int ParseInteger64Value(const char *text, size_t len, int64_t *value, char *err, size_t errSize) {
    int64_t v;
    int isNumber;
    if (ParseNumber(text, len, &v, &isNumber) == 0) {
        *value = v;
        return 0;
    }
    if (isNumber)
        return Fail(MQRCCF_PARM_VALUE_ERROR, err, errSize, "number '%.*s' is not valid", (int)len,
                    text);
    if (LookUpConstant(text, len, &v) != 0)
        return Fail(MQRCCF_PARM_VALUE_ERROR, err, errSize,
                    "'%.*s' is neither a number nor a known constant name", (int)len, text);
    *value = v;
    return 0;
}

int ParseIntegerValue(const char *text, size_t len, MQLONG *value, char *err, size_t errSize) {
    int64_t v;
    int rc = ParseInteger64Value(text, len, &v, err, errSize);
    if (rc != 0)
        return rc;
    if (v < INT32_MIN || v > (int64_t)UINT32_MAX)
        return Fail(MQRCCF_PARM_VALUE_ERROR, err, errSize,
                    "value '%.*s' does not fit a 32-bit integer", (int)len, text);
    *value = (MQLONG)(uint32_t)v;
    return 0;
}

int ParseCommandCode(const char *text, MQLONG *command, char *err, size_t errSize) {
    size_t len = strlen(text);
    int64_t v;
    int isNumber;
    if (ParseNumber(text, len, &v, &isNumber) == 0) {
        if (v < 0 || v > INT32_MAX)
            return Fail(MQRCCF_PARM_VALUE_ERROR, err, errSize, "command %s is out of range", text);
        *command = (MQLONG)v;
        return 0;
    }
    if (isNumber)
        return Fail(MQRCCF_PARM_SYNTAX_ERROR, err, errSize, "command '%s' is not a number", text);
    char name[NAME_SIZE];
    if (CopyName(text, len, name) != 0)
        return Fail(MQRCCF_PARM_SYNTAX_ERROR, err, errSize, "command name '%s' is not valid", text);
    char prefixed[NAME_SIZE + 8];
    snprintf(prefixed, sizeof prefixed, "MQCMD_%s", name);
    const MQCONSTROW *row = nullptr;
    if (HasPrefix(name, "MQCMD_") || HasPrefix(name, "CVL_CMD_")) {
        row = FindConstantByName(name);
    } else {
        row = FindConstantByName(prefixed);
        if (row == nullptr) {
            snprintf(prefixed, sizeof prefixed, "CVL_CMD_%s", name);
            row = FindConstantByName(prefixed);
        }
    }
    if (row == nullptr)
        return Fail(MQRCCF_PARM_VALUE_ERROR, err, errSize, "unknown command '%s'", text);
    *command = (MQLONG)row->value;
    return 0;
}

static void AppendLong(std::vector<MQBYTE> *msg, MQLONG v) {
    MQBYTE b[4];
    memcpy(b, &v, 4);
    msg->insert(msg->end(), b, b + 4);
}

static void SetLong(std::vector<MQBYTE> *msg, size_t off, MQLONG v) {
    memcpy(msg->data() + off, &v, 4);
}

static MQLONG GetLong(const std::vector<MQBYTE> *msg, size_t off) {
    MQLONG v;
    memcpy(&v, msg->data() + off, 4);
    return v;
}

/* One more parameter in the MQCFH; Version raised to at least minVersion. */
static void CountParameter(std::vector<MQBYTE> *msg, MQLONG minVersion) {
    SetLong(msg, offsetof(MQCFH, ParameterCount),
            GetLong(msg, offsetof(MQCFH, ParameterCount)) + 1);
    if (GetLong(msg, offsetof(MQCFH, Version)) < minVersion)
        SetLong(msg, offsetof(MQCFH, Version), minVersion);
}

static int HasPrefix(const char *name, const char *prefix) {
    return strncmp(name, prefix, strlen(prefix)) == 0;
}

static int HasSuffix(const char *name, const char *suffix) {
    size_t n = strlen(name), s = strlen(suffix);
    return n >= s && strcmp(name + n - s, suffix) == 0;
}

void StartPcfCommand(std::vector<MQBYTE> *msg, MQLONG command) {
    msg->clear();
    AppendLong(msg, MQCFT_COMMAND);
    AppendLong(msg, MQCFH_STRUC_LENGTH);
    AppendLong(msg, MQCFH_VERSION_1);
    AppendLong(msg, command);
    AppendLong(msg, 1); /* MsgSeqNumber */
    AppendLong(msg, MQCFC_LAST);
    AppendLong(msg, MQCC_OK);
    AppendLong(msg, MQRC_NONE);
    AppendLong(msg, 0); /* ParameterCount */
}

void AddIntegerParameter(std::vector<MQBYTE> *msg, MQLONG parameter, MQLONG value) {
    AppendLong(msg, MQCFT_INTEGER);
    AppendLong(msg, MQCFIN_STRUC_LENGTH);
    AppendLong(msg, parameter);
    AppendLong(msg, value);
    CountParameter(msg, MQCFH_VERSION_1);
}

void AddStringParameter(std::vector<MQBYTE> *msg, MQLONG parameter, const char *s, size_t len) {
    size_t strucLength = (MQCFST_STRUC_LENGTH_FIXED + len + 3) & ~(size_t)3;
    AppendLong(msg, MQCFT_STRING);
    AppendLong(msg, (MQLONG)strucLength);
    AppendLong(msg, parameter);
    AppendLong(msg, MQCCSI_DEFAULT);
    AppendLong(msg, (MQLONG)len);
    msg->insert(msg->end(), (const MQBYTE *)s, (const MQBYTE *)s + len);
    msg->insert(msg->end(), strucLength - MQCFST_STRUC_LENGTH_FIXED - len, 0);
    CountParameter(msg, MQCFH_VERSION_1);
}

void BuildEscapeCommand(std::vector<MQBYTE> *msg, const char *text, size_t len) {
    StartPcfCommand(msg, MQCMD_ESCAPE);
    AddIntegerParameter(msg, MQIACF_ESCAPE_TYPE, MQET_MQSC);
    AddStringParameter(msg, MQCACF_ESCAPE_TEXT, text, len);
}

/* The type a word asks for, from its ":TYPE" suffix (text[0..len)). */
static int ParseTypeName(const char *text, size_t len) {
    static const struct {
        const char *name;
        int type;
    } types[] = {{"int", MQCMD_PTYPE_INT},
                 {"int64", MQCMD_PTYPE_INT64},
                 {"string", MQCMD_PTYPE_STRING},
                 {"intlist", MQCMD_PTYPE_INTLIST},
                 {"int64list", MQCMD_PTYPE_INT64LIST},
                 {"bytes", MQCMD_PTYPE_BYTES}};
    for (const auto &t : types)
        if (strlen(t.name) == len && strncmp(t.name, text, len) == 0)
            return t.type;
    return -1;
}

/* Decide the type of an unforced parameter from its upper-cased name and
 * its value. */
static int InferType(const char *name, const char *value, size_t valueLen) {
    if (HasSuffix(name, "_ATTRS"))
        return MQCMD_PTYPE_INTLIST;
    if (HasPrefix(name, "MQCA"))
        return MQCMD_PTYPE_STRING;
    if (HasPrefix(name, "MQBACF"))
        return MQCMD_PTYPE_BYTES;
    if (memchr(value, ',', valueLen) != nullptr)
        return MQCMD_PTYPE_INTLIST;
    if (HasPrefix(name, "MQIAMO64"))
        return MQCMD_PTYPE_INT64;
    if (HasPrefix(name, "MQIA"))
        return MQCMD_PTYPE_INT;
    int64_t v;
    int isNumber;
    if (ParseNumber(value, valueLen, &v, &isNumber) == 0 ||
        LookUpConstant(value, valueLen, &v) == 0)
        return MQCMD_PTYPE_INT;
    return MQCMD_PTYPE_STRING;
}

/* The comma-separated values of value[0..len) into out (4 or 8 bytes each). */
static int ParseList(const char *value, size_t len, int wide, std::vector<MQBYTE> *out,
                     MQLONG *count, char *err, size_t errSize) {
    *count = 0;
    if (len == 0)
        return 0;
    size_t start = 0;
    for (;;) {
        const char *comma = (const char *)memchr(value + start, ',', len - start);
        size_t end = comma != nullptr ? (size_t)(comma - value) : len;
        int rc;
        if (wide) {
            int64_t v;
            rc = ParseInteger64Value(value + start, end - start, &v, err, errSize);
            if (rc == 0)
                out->insert(out->end(), (const MQBYTE *)&v, (const MQBYTE *)&v + 8);
        } else {
            MQLONG v;
            rc = ParseIntegerValue(value + start, end - start, &v, err, errSize);
            if (rc == 0)
                out->insert(out->end(), (const MQBYTE *)&v, (const MQBYTE *)&v + 4);
        }
        if (rc != 0)
            return rc;
        if (*count == INT32_MAX / 8)
            return Fail(MQRCCF_PARM_VALUE_ERROR, err, errSize, "too many values in a list");
        (*count)++;
        if (comma == nullptr)
            return 0;
        start = end + 1;
    }
}

/* Hexadecimal digits text[0..len) into out. */
static int ParseHexBytes(const char *text, size_t len, std::vector<MQBYTE> *out, char *err,
                         size_t errSize) {
    if (len % 2 != 0)
        return Fail(MQRCCF_PARM_SYNTAX_ERROR, err, errSize,
                    "hexadecimal value '%.*s' has an odd number of digits", (int)len, text);
    for (size_t i = 0; i < len; i += 2) {
        int hi = text[i], lo = text[i + 1];
        if (!isxdigit((unsigned char)hi) || !isxdigit((unsigned char)lo))
            return Fail(MQRCCF_PARM_SYNTAX_ERROR, err, errSize, "'%.*s' is not hexadecimal",
                        (int)len, text);
        hi = isdigit(hi) ? hi - '0' : tolower(hi) - 'a' + 10;
        lo = isdigit(lo) ? lo - '0' : tolower(lo) - 'a' + 10;
        out->push_back((MQBYTE)(hi * 16 + lo));
    }
    return 0;
}

int AddParameterWord(std::vector<MQBYTE> *msg, const char *word, char *err, size_t errSize) {
    const char *eq = strchr(word, '=');
    if (eq == nullptr || eq == word)
        return Fail(MQRCCF_PARM_SYNTAX_ERROR, err, errSize, "parameter '%s' is not NAME=VALUE",
                    word);
    const char *value = eq + 1;
    size_t valueLen = strlen(value);
    const char *colon = (const char *)memchr(word, ':', (size_t)(eq - word));
    size_t nameLen = (size_t)((colon != nullptr ? colon : eq) - word);

    int type = MQCMD_PTYPE_NONE;
    if (colon != nullptr) {
        type = ParseTypeName(colon + 1, (size_t)(eq - colon - 1));
        if (type < 0)
            return Fail(MQRCCF_PARM_SYNTAX_ERROR, err, errSize,
                        "unknown type '%.*s' in '%s' (int, int64, string, intlist, int64list, "
                        "bytes)",
                        (int)(eq - colon - 1), colon + 1, word);
    }

    /* the parameter id */
    MQLONG parameter;
    char name[NAME_SIZE];
    int64_t v;
    int isNumber;
    if (ParseNumber(word, nameLen, &v, &isNumber) == 0) {
        if (type == MQCMD_PTYPE_NONE)
            return Fail(MQRCCF_PARM_SYNTAX_ERROR, err, errSize,
                        "numeric parameter '%.*s' needs a type (%.*s:int=, :string=, ...)",
                        (int)nameLen, word, (int)nameLen, word);
        if (v < INT32_MIN || v > INT32_MAX)
            return Fail(MQRCCF_PARM_VALUE_ERROR, err, errSize, "parameter id '%.*s' out of range",
                        (int)nameLen, word);
        parameter = (MQLONG)v;
        name[0] = '\0';
    } else {
        if (isNumber || CopyName(word, nameLen, name) != 0 || MqcmdConstantValue(name, &v) != 0)
            return Fail(MQRCCF_PARM_VALUE_ERROR, err, errSize, "unknown parameter name '%.*s'",
                        (int)nameLen, word);
        if (v < INT32_MIN || v > INT32_MAX)
            return Fail(MQRCCF_PARM_VALUE_ERROR, err, errSize, "'%s' is not a parameter id", name);
        parameter = (MQLONG)v;
        if (type == MQCMD_PTYPE_NONE)
            type = InferType(name, value, valueLen);
    }

    /* the value, built apart so that a failure leaves msg as it was */
    std::vector<MQBYTE> values;
    MQLONG count = 0;
    int rc = 0;
    switch (type) {
        case MQCMD_PTYPE_INT: {
            MQLONG n;
            rc = ParseIntegerValue(value, valueLen, &n, err, errSize);
            if (rc == 0)
                AddIntegerParameter(msg, parameter, n);
            return rc;
        }
        case MQCMD_PTYPE_INT64: {
            int64_t n;
            rc = ParseInteger64Value(value, valueLen, &n, err, errSize);
            if (rc != 0)
                return rc;
            AppendLong(msg, MQCFT_INTEGER64);
            AppendLong(msg, MQCFIN64_STRUC_LENGTH);
            AppendLong(msg, parameter);
            AppendLong(msg, 0); /* Reserved */
            msg->insert(msg->end(), (const MQBYTE *)&n, (const MQBYTE *)&n + 8);
            CountParameter(msg, MQCFH_VERSION_3);
            return 0;
        }
        case MQCMD_PTYPE_STRING:
            if (valueLen > 0x7FFFFFF0)
                return Fail(MQRCCF_PARM_VALUE_ERROR, err, errSize, "string too long");
            AddStringParameter(msg, parameter, value, valueLen);
            return 0;
        case MQCMD_PTYPE_INTLIST:
        case MQCMD_PTYPE_INT64LIST: {
            int wide = type == MQCMD_PTYPE_INT64LIST;
            rc = ParseList(value, valueLen, wide, &values, &count, err, errSize);
            if (rc != 0)
                return rc;
            AppendLong(msg, wide ? MQCFT_INTEGER64_LIST : MQCFT_INTEGER_LIST);
            AppendLong(msg, (MQLONG)(16 + values.size()));
            AppendLong(msg, parameter);
            AppendLong(msg, count);
            msg->insert(msg->end(), values.begin(), values.end());
            CountParameter(msg, wide ? MQCFH_VERSION_3 : MQCFH_VERSION_1);
            return 0;
        }
        case MQCMD_PTYPE_BYTES: {
            rc = ParseHexBytes(value, valueLen, &values, err, errSize);
            if (rc != 0)
                return rc;
            size_t strucLength = (MQCFBS_STRUC_LENGTH_FIXED + values.size() + 3) & ~(size_t)3;
            AppendLong(msg, MQCFT_BYTE_STRING);
            AppendLong(msg, (MQLONG)strucLength);
            AppendLong(msg, parameter);
            AppendLong(msg, (MQLONG)values.size());
            msg->insert(msg->end(), values.begin(), values.end());
            msg->insert(msg->end(), strucLength - MQCFBS_STRUC_LENGTH_FIXED - values.size(), 0);
            CountParameter(msg, MQCFH_VERSION_2);
            return 0;
        }
        default:
            return Fail(MQRCCF_PARM_SYNTAX_ERROR, err, errSize, "no type for '%s'", word);
    }
}

int ParseHexId(const char *hex, MQBYTE *id, char *err, size_t errSize) {
    size_t len = strlen(hex);
    if (len > 2 * 24)
        return Fail(MQRCCF_PARM_VALUE_ERROR, err, errSize,
                    "identifier '%s' is longer than 48 hexadecimal digits", hex);
    std::vector<MQBYTE> bytes;
    int rc = ParseHexBytes(hex, len, &bytes, err, errSize);
    if (rc != 0)
        return rc;
    memset(id, 0, 24);
    if (!bytes.empty())
        memcpy(id, bytes.data(), bytes.size());
    return 0;
}

int ParseFormatName(const char *text, MQCHAR *format, char *err, size_t errSize) {
    size_t len = strlen(text);
    if (strcmp(text, "NONE") == 0) {
        memcpy(format, MQFMT_NONE, MQ_FORMAT_LENGTH);
        return 0;
    }
    if (len == 0 || len > MQ_FORMAT_LENGTH)
        return Fail(MQRCCF_PARM_VALUE_ERROR, err, errSize,
                    "format '%s' must have 1 to 8 characters (NONE for none)", text);
    memset(format, ' ', MQ_FORMAT_LENGTH);
    memcpy(format, text, len);
    return 0;
}

int ParseReportOptions(const char *text, MQLONG *report, char *err, size_t errSize) {
    MQLONG result = *report;
    size_t len = strlen(text), start = 0;
    while (start <= len) {
        const char *comma = (const char *)memchr(text + start, ',', len - start);
        size_t end = comma != nullptr ? (size_t)(comma - text) : len;
        const char *item = text + start;
        size_t itemLen = end - start;
        int64_t v;
        int isNumber;
        if (ParseNumber(item, itemLen, &v, &isNumber) != 0) {
            char upper[NAME_SIZE];
            char prefixed[NAME_SIZE + 5];
            int found = 0;
            if (!isNumber && CopyName(item, itemLen, upper) == 0) {
                snprintf(prefixed, sizeof prefixed, "MQRO_%s", upper);
                found = MqcmdConstantValue(HasPrefix(upper, "MQRO_") ? upper : prefixed, &v) == 0;
            }
            if (!found)
                return Fail(MQRCCF_PARM_VALUE_ERROR, err, errSize, "unknown report option '%.*s'",
                            (int)itemLen, item);
        }
        if (v < INT32_MIN || v > (int64_t)UINT32_MAX)
            return Fail(MQRCCF_PARM_VALUE_ERROR, err, errSize, "report option '%.*s' out of range",
                        (int)itemLen, item);
        result |= (MQLONG)(uint32_t)v;
        if (comma == nullptr)
            break;
        start = end + 1;
    }
    *report = result;
    return 0;
}
