/* mqcmd_format.cpp -- printing received messages as text or as JSON Lines.
 *
 * Parameter names come from the constant tables (ParameterRow); unknown ids
 * are printed as numbers (text) or with "name":null (JSON). Values are read
 * only through the offsets DecodePcf checked.
 * Owns: nothing. Threads: any.
 */
#include "mqcmd_format.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "mqcmd_decode.h"
#include "mqcmd_names.h"
#include "mqconst/mqconst.h"
#include "platform/platform.h"

static void AppendF(std::string *out, const char *fmt, ...) PL_PRINTF_FORMAT(2, 3);
static const char *ParameterName(MQLONG id);
static void AppendTrimmed(std::string *out, const MQBYTE *s, size_t len);
static void AppendTextValue(std::string *out, const MQBYTE *msg, const PCFITEM *item);
static void AppendJsonValue(std::string *out, const MQBYTE *msg, const PCFITEM *item);
static void AppendIdsText(std::string *out, const MQMD *md);
static int IsKnownType(MQLONG type);

static void AppendF(std::string *out, const char *fmt, ...) {
    char buf[256];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n < 0)
        return;
    out->append(buf, (size_t)n < sizeof buf ? (size_t)n : sizeof buf - 1);
}

static const char *ParameterName(MQLONG id) {
    return MqcmdParameterName(id);
}

int IsPcfFormat(const MQCHAR *format) {
    return memcmp(format, MQFMT_ADMIN, MQ_FORMAT_LENGTH) == 0 ||
           memcmp(format, MQFMT_EVENT, MQ_FORMAT_LENGTH) == 0 ||
           memcmp(format, MQFMT_PCF, MQ_FORMAT_LENGTH) == 0;
}

void AppendHex(std::string *out, const MQBYTE *bytes, size_t len) {
    static const char digits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < len; i++) {
        out->push_back(digits[bytes[i] >> 4]);
        out->push_back(digits[bytes[i] & 15]);
    }
}

/* Length of the valid UTF-8 sequence of two or more bytes at s (n bytes
 * left), or 0 when s does not start one. */
static size_t Utf8SequenceLength(const unsigned char *s, size_t n) {
    size_t want;
    unsigned lowest;
    if (s[0] >= 0xC2 && s[0] <= 0xDF) {
        want = 2;
        lowest = 0x80;
    } else if (s[0] >= 0xE0 && s[0] <= 0xEF) {
        want = 3;
        lowest = 0x800;
    } else if (s[0] >= 0xF0 && s[0] <= 0xF4) {
        want = 4;
        lowest = 0x10000;
    } else {
        return 0;
    }
    if (n < want)
        return 0;
    unsigned cp = s[0] & (0x7F >> want);
    for (size_t i = 1; i < want; i++) {
        if ((s[i] & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (s[i] & 0x3F);
    }
    if (cp < lowest || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return want;
}

void AppendJsonString(std::string *out, const char *s, size_t len) {
    const unsigned char *u = (const unsigned char *)s;
    out->push_back('"');
    for (size_t i = 0; i < len;) {
        unsigned char c = u[i];
        if (c >= 0x80) {
            size_t seq = Utf8SequenceLength(u + i, len - i);
            if (seq > 0) {
                out->append(s + i, seq);
                i += seq;
                continue;
            }
            AppendF(out, "\\u%04X", c);
        } else if (c == '"') {
            out->append("\\\"");
        } else if (c == '\\') {
            out->append("\\\\");
        } else if (c == '\n') {
            out->append("\\n");
        } else if (c == '\r') {
            out->append("\\r");
        } else if (c == '\t') {
            out->append("\\t");
        } else if (c < 0x20 || c == 0x7F) {
            AppendF(out, "\\u%04X", c);
        } else {
            out->push_back((char)c);
        }
        i++;
    }
    out->push_back('"');
}

/* A string value for the text form: trailing blanks and zero bytes cut,
 * other control characters shown as '.'. */
static void AppendTrimmed(std::string *out, const MQBYTE *s, size_t len) {
    while (len > 0 && (s[len - 1] == ' ' || s[len - 1] == '\0'))
        len--;
    for (size_t i = 0; i < len; i++)
        out->push_back(s[i] < 0x20 || s[i] == 0x7F ? '.' : (char)s[i]);
}

static void AppendTextValue(std::string *out, const MQBYTE *msg, const PCFITEM *item) {
    const MQBYTE *v = msg + item->valueOffset;
    switch (item->type) {
        case MQCFT_INTEGER:
        case MQCFT_INTEGER_FILTER:
            AppendF(out, "%d", PcfLongAt(v, 0));
            break;
        case MQCFT_INTEGER64:
            AppendF(out, "%lld", (long long)PcfInt64At(v, 0));
            break;
        case MQCFT_STRING:
        case MQCFT_STRING_FILTER:
            AppendTrimmed(out, v, item->valueLength);
            break;
        case MQCFT_INTEGER_LIST:
            for (MQLONG i = 0; i < item->count; i++)
                AppendF(out, i == 0 ? "%d" : ",%d", PcfLongAt(v, (size_t)i * 4));
            break;
        case MQCFT_INTEGER64_LIST:
            for (MQLONG i = 0; i < item->count; i++)
                AppendF(out, i == 0 ? "%lld" : ",%lld", (long long)PcfInt64At(v, (size_t)i * 8));
            break;
        case MQCFT_STRING_LIST:
            for (MQLONG i = 0; i < item->count; i++) {
                if (i > 0)
                    out->push_back(',');
                AppendTrimmed(out, v + (size_t)i * (size_t)item->itemLength,
                              (size_t)item->itemLength);
            }
            break;
        case MQCFT_BYTE_STRING:
        case MQCFT_BYTE_STRING_FILTER:
        default:
            AppendHex(out, v, item->valueLength);
            break;
    }
}

static void AppendJsonValue(std::string *out, const MQBYTE *msg, const PCFITEM *item) {
    const MQBYTE *v = msg + item->valueOffset;
    switch (item->type) {
        case MQCFT_INTEGER:
        case MQCFT_INTEGER_FILTER:
            AppendF(out, "%d", PcfLongAt(v, 0));
            break;
        case MQCFT_INTEGER64:
            AppendF(out, "%lld", (long long)PcfInt64At(v, 0));
            break;
        case MQCFT_STRING:
        case MQCFT_STRING_FILTER:
            AppendJsonString(out, (const char *)v, item->valueLength);
            break;
        case MQCFT_INTEGER_LIST:
            out->push_back('[');
            for (MQLONG i = 0; i < item->count; i++)
                AppendF(out, i == 0 ? "%d" : ",%d", PcfLongAt(v, (size_t)i * 4));
            out->push_back(']');
            break;
        case MQCFT_INTEGER64_LIST:
            out->push_back('[');
            for (MQLONG i = 0; i < item->count; i++)
                AppendF(out, i == 0 ? "%lld" : ",%lld", (long long)PcfInt64At(v, (size_t)i * 8));
            out->push_back(']');
            break;
        case MQCFT_STRING_LIST:
            out->push_back('[');
            for (MQLONG i = 0; i < item->count; i++) {
                if (i > 0)
                    out->push_back(',');
                AppendJsonString(out, (const char *)v + (size_t)i * (size_t)item->itemLength,
                                 (size_t)item->itemLength);
            }
            out->push_back(']');
            break;
        case MQCFT_BYTE_STRING:
        case MQCFT_BYTE_STRING_FILTER:
        default:
            out->push_back('"');
            AppendHex(out, v, item->valueLength);
            out->push_back('"');
            break;
    }
}

static int IsKnownType(MQLONG type) {
    switch (type) {
        case MQCFT_INTEGER:
        case MQCFT_STRING:
        case MQCFT_INTEGER_LIST:
        case MQCFT_STRING_LIST:
        case MQCFT_BYTE_STRING:
        case MQCFT_INTEGER_FILTER:
        case MQCFT_STRING_FILTER:
        case MQCFT_BYTE_STRING_FILTER:
        case MQCFT_GROUP:
        case MQCFT_INTEGER64:
        case MQCFT_INTEGER64_LIST:
            return 1;
        default:
            return 0;
    }
}

static void AppendIdsText(std::string *out, const MQMD *md) {
    out->append(", MsgId ");
    AppendHex(out, md->MsgId, sizeof md->MsgId);
    out->append(", CorrelId ");
    AppendHex(out, md->CorrelId, sizeof md->CorrelId);
    out->push_back('\n');
}

void FormatMessageText(std::string *out, long n, const MQMD *md, const MQBYTE *body, size_t len) {
    size_t formatLength = MQ_FORMAT_LENGTH;
    while (formatLength > 0 && md->Format[formatLength - 1] == ' ')
        formatLength--;
    AppendF(out, "Message %ld: length %llu, format ", n, (unsigned long long)len);
    if (formatLength == 0)
        out->append("NONE");
    else
        AppendTrimmed(out, (const MQBYTE *)md->Format, formatLength);

    if (!IsPcfFormat(md->Format)) {
        out->append(", CompCode -, Reason -, Control -");
        AppendIdsText(out, md);
        /* the text; zero bytes (which separate joined z/OS replies) end lines */
        std::string text;
        for (size_t i = 0; i < len; i++) {
            MQBYTE c = body[i];
            if (c == '\0')
                text.push_back('\n');
            else if ((c < 0x20 && c != '\n' && c != '\t' && c != '\r') || c == 0x7F)
                text.push_back('.');
            else
                text.push_back((char)c);
        }
        out->append(text);
        if (text.empty() || text.back() != '\n')
            out->push_back('\n');
        return;
    }

    PCFDUMP dump;
    DecodePcf(body, len, &dump);
    if (dump.hasHeader) {
        AppendF(out, ", CompCode %d, Reason %d", dump.compCode, dump.reason);
        if (dump.reason != 0) {
            const char *name = ConstantName(MQCONST_SLOT_REASONS, dump.reason);
            if (name != nullptr)
                AppendF(out, " (%s)", name);
        }
        AppendF(out, ", Control %d", dump.control);
    } else {
        out->append(", CompCode -, Reason -, Control -");
    }
    AppendIdsText(out, md);
    for (const PCFITEM &item : dump.items) {
        out->append((size_t)(2 + 2 * item.depth), ' ');
        const char *name = ParameterName(item.parameter);
        if (name != nullptr)
            out->append(name);
        else
            AppendF(out, "%d", item.parameter);
        if (item.type == MQCFT_GROUP) {
            AppendF(out, " (group of %d)\n", item.count);
            continue;
        }
        out->push_back('(');
        AppendTextValue(out, body, &item);
        out->push_back(')');
        if (item.op != 0)
            AppendF(out, " operator %d", item.op);
        if (!IsKnownType(item.type))
            AppendF(out, " type %d", item.type);
        out->push_back('\n');
    }
    if (dump.malformed)
        AppendF(out, "  malformed at offset %llu: %s\n", (unsigned long long)dump.malformedOffset,
                dump.malformedText);
}

void FormatMessageJson(std::string *out, long n, const MQMD *md, const MQBYTE *body, size_t len) {
    AppendF(out, "{\"n\":%ld,\"length\":%llu,\"format\":", n, (unsigned long long)len);
    AppendJsonString(out, md->Format, MQ_FORMAT_LENGTH);
    AppendF(out, ",\"msgType\":%d,\"msgId\":\"", md->MsgType);
    AppendHex(out, md->MsgId, sizeof md->MsgId);
    out->append("\",\"correlId\":\"");
    AppendHex(out, md->CorrelId, sizeof md->CorrelId);
    out->append("\",\"putApplName\":");
    AppendJsonString(out, md->PutApplName, sizeof md->PutApplName);
    out->append(",\"userIdentifier\":");
    AppendJsonString(out, md->UserIdentifier, sizeof md->UserIdentifier);

    PCFDUMP dump;
    int pcf = IsPcfFormat(md->Format);
    if (pcf)
        DecodePcf(body, len, &dump);
    if (!pcf || !dump.hasHeader) {
        out->append(",\"pcf\":null,\"text\":");
        AppendJsonString(out, (const char *)body, len);
        if (pcf) { /* too short for an MQCFH */
            AppendF(out, ",\"malformed\":{\"offset\":%llu,\"error\":",
                    (unsigned long long)dump.malformedOffset);
            AppendJsonString(out, dump.malformedText, strlen(dump.malformedText));
            out->push_back('}');
        }
        out->append("}\n");
        return;
    }

    AppendF(out,
            ",\"pcf\":{\"type\":%d,\"command\":%d,\"msgSeqNumber\":%d,\"control\":%d,"
            "\"compCode\":%d,\"reason\":%d,\"parameterCount\":%d,\"params\":[",
            dump.type, dump.command, dump.msgSeqNumber, dump.control, dump.compCode, dump.reason,
            dump.parameterCount);
    int open = 0;  /* groups whose "params" array is open */
    int first = 1; /* no element yet in the innermost open array */
    for (const PCFITEM &item : dump.items) {
        while (open > item.depth) {
            out->append("]}");
            open--;
            first = 0;
        }
        if (!first)
            out->push_back(',');
        AppendF(out, "{\"id\":%d,\"name\":", item.parameter);
        const char *name = ParameterName(item.parameter);
        if (name != nullptr)
            AppendJsonString(out, name, strlen(name));
        else
            out->append("null");
        AppendF(out, ",\"type\":%d,\"strucLength\":%d", item.type, item.strucLength);
        if (item.type == MQCFT_GROUP) {
            out->append(",\"params\":[");
            open++;
            first = 1;
            continue;
        }
        if (item.type == MQCFT_INTEGER_FILTER || item.type == MQCFT_STRING_FILTER ||
            item.type == MQCFT_BYTE_STRING_FILTER)
            AppendF(out, ",\"operator\":%d", item.op);
        out->append(",\"value\":");
        AppendJsonValue(out, body, &item);
        out->push_back('}');
        first = 0;
    }
    while (open > 0) {
        out->append("]}");
        open--;
    }
    out->push_back(']');
    if (dump.malformed) {
        AppendF(out, ",\"malformed\":{\"offset\":%llu,\"error\":",
                (unsigned long long)dump.malformedOffset);
        AppendJsonString(out, dump.malformedText, strlen(dump.malformedText));
        out->push_back('}');
    }
    out->append("},\"text\":null}\n");
}

void FormatSummaryText(std::string *out, long messages, uint64_t bytes, uint64_t ms) {
    AppendF(out, "%ld messages, %llu bytes, %llu ms\n", messages, (unsigned long long)bytes,
            (unsigned long long)ms);
}

void FormatSummaryJson(std::string *out, long messages, uint64_t bytes, uint64_t ms, int complete) {
    AppendF(out, "{\"summary\":{\"messages\":%ld,\"bytes\":%llu,\"ms\":%llu,\"complete\":%s}}\n",
            messages, (unsigned long long)bytes, (unsigned long long)ms,
            complete ? "true" : "false");
}
