/* mqcmd_decode.cpp -- walking a received PCF message into a flat list of parameters.
 *
 * A reply may come from anywhere: every length in it is checked against the
 * bytes actually received before anything is read, and a fault ends the walk
 * with its offset rather than a guess.
 * Owns: nothing. Threads: any.
 */
#include "mqcmd_decode.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

static void SetMalformed(PCFDUMP *dump, size_t offset, const char *fmt, ...) PL_PRINTF_FORMAT(3, 4);
static int CheckItem(PCFDUMP *dump, const MQBYTE *msg, PCFITEM *item);

MQLONG PcfLongAt(const MQBYTE *msg, size_t off) {
    MQLONG v;
    memcpy(&v, msg + off, sizeof v);
    return v;
}

int64_t PcfInt64At(const MQBYTE *msg, size_t off) {
    int64_t v;
    memcpy(&v, msg + off, sizeof v);
    return v;
}

/* Record the first fault only; later calls keep it. */
static void SetMalformed(PCFDUMP *dump, size_t offset, const char *fmt, ...) {
    if (dump->malformed)
        return;
    dump->malformed = 1;
    dump->malformedOffset = offset;
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(dump->malformedText, sizeof dump->malformedText, fmt, ap);
    va_end(ap);
}

/* Fill the type-specific fields of item, whose Type, StrucLength and
 * Parameter are set and whose StrucLength bytes lie within the message.
 * Returns 0, or 1 after SetMalformed when the inner lengths disagree with
 * StrucLength. */
static int CheckItem(PCFDUMP *dump, const MQBYTE *msg, PCFITEM *item) {
    const size_t off = item->offset;
    const int64_t sl = item->strucLength;
    int64_t minimum = 12;
    switch (item->type) {
        case MQCFT_INTEGER:
        case MQCFT_GROUP:
            minimum = 16;
            break;
        case MQCFT_INTEGER64:
            minimum = 24;
            break;
        case MQCFT_STRING:
            minimum = 20;
            break;
        case MQCFT_INTEGER_LIST:
        case MQCFT_INTEGER64_LIST:
        case MQCFT_BYTE_STRING:
            minimum = 16;
            break;
        case MQCFT_STRING_LIST:
        case MQCFT_STRING_FILTER:
            minimum = 24;
            break;
        case MQCFT_INTEGER_FILTER:
        case MQCFT_BYTE_STRING_FILTER:
            minimum = 20;
            break;
        default:
            break;
    }
    if (sl < minimum) {
        SetMalformed(dump, off,
                     "StrucLength %d of a type %d structure is below its %d-byte minimum",
                     item->strucLength, item->type, (int)minimum);
        return 1;
    }

    item->count = 1;
    int64_t fixed = 0; /* bytes before the value */
    int64_t need = 0;  /* bytes of value the inner fields declare */
    MQLONG inner = 0;  /* the declared length or count, for the message */
    switch (item->type) {
        case MQCFT_INTEGER:
            fixed = 12;
            need = 4;
            break;
        case MQCFT_INTEGER64:
            fixed = 16;
            need = 8;
            break;
        case MQCFT_STRING:
            item->ccsid = PcfLongAt(msg, off + 12);
            inner = PcfLongAt(msg, off + 16);
            item->itemLength = inner;
            fixed = 20;
            need = inner;
            break;
        case MQCFT_INTEGER_LIST:
            inner = PcfLongAt(msg, off + 12);
            item->count = inner;
            item->itemLength = 4;
            fixed = 16;
            need = (int64_t)inner * 4;
            break;
        case MQCFT_INTEGER64_LIST:
            inner = PcfLongAt(msg, off + 12);
            item->count = inner;
            item->itemLength = 8;
            fixed = 16;
            need = (int64_t)inner * 8;
            break;
        case MQCFT_STRING_LIST: {
            item->ccsid = PcfLongAt(msg, off + 12);
            inner = PcfLongAt(msg, off + 16);
            MQLONG each = PcfLongAt(msg, off + 20);
            if (each < 0) {
                SetMalformed(dump, off, "StringLength %d of a string list is negative", each);
                return 1;
            }
            /* Empty strings take no bytes: without this bound a few bytes
             * could declare billions of them for the display to list. */
            if (each == 0 && inner > item->strucLength) {
                SetMalformed(dump, off,
                             "Count %d of a string list of empty strings exceeds its "
                             "StrucLength %d",
                             inner, item->strucLength);
                return 1;
            }
            item->count = inner;
            item->itemLength = each;
            fixed = 24;
            need = (int64_t)inner * each;
            break;
        }
        case MQCFT_BYTE_STRING:
            inner = PcfLongAt(msg, off + 12);
            item->itemLength = inner;
            fixed = 16;
            need = inner;
            break;
        case MQCFT_INTEGER_FILTER:
            item->op = PcfLongAt(msg, off + 12);
            fixed = 16;
            need = 4;
            break;
        case MQCFT_STRING_FILTER:
            item->op = PcfLongAt(msg, off + 12);
            item->ccsid = PcfLongAt(msg, off + 16);
            inner = PcfLongAt(msg, off + 20);
            item->itemLength = inner;
            fixed = 24;
            need = inner;
            break;
        case MQCFT_BYTE_STRING_FILTER:
            item->op = PcfLongAt(msg, off + 12);
            inner = PcfLongAt(msg, off + 16);
            item->itemLength = inner;
            fixed = 20;
            need = inner;
            break;
        case MQCFT_GROUP:
            inner = PcfLongAt(msg, off + 12);
            item->count = inner;
            fixed = 16;
            need = 0;
            break;
        default: /* unknown: its bytes after Parameter */
            fixed = 12;
            need = sl - 12;
            break;
    }
    if (inner < 0 || need < 0) {
        SetMalformed(dump, off, "type %d structure declares a negative length or count %d",
                     item->type, inner);
        return 1;
    }
    if (fixed + need > sl) {
        SetMalformed(dump, off, "type %d structure needs %lld bytes but its StrucLength is %d",
                     item->type, (long long)(fixed + need), item->strucLength);
        return 1;
    }
    item->valueOffset = off + (size_t)fixed;
    item->valueLength = (size_t)need;
    return 0;
}

void DecodePcf(const MQBYTE *msg, size_t len, PCFDUMP *dump) {
    dump->hasHeader = 0;
    dump->type = dump->strucLength = dump->version = dump->command = 0;
    dump->msgSeqNumber = dump->control = dump->compCode = dump->reason = 0;
    dump->parameterCount = 0;
    dump->items.clear();
    dump->malformed = 0;
    dump->malformedOffset = 0;
    dump->malformedText[0] = '\0';

    if (msg == nullptr || len < MQCMD_CFH_LENGTH) {
        SetMalformed(dump, 0, "message of %llu bytes is shorter than the 36-byte MQCFH",
                     (unsigned long long)len);
        return;
    }
    dump->hasHeader = 1;
    dump->type = PcfLongAt(msg, 0);
    dump->strucLength = PcfLongAt(msg, 4);
    dump->version = PcfLongAt(msg, 8);
    dump->command = PcfLongAt(msg, 12);
    dump->msgSeqNumber = PcfLongAt(msg, 16);
    dump->control = PcfLongAt(msg, 20);
    dump->compCode = PcfLongAt(msg, 24);
    dump->reason = PcfLongAt(msg, 28);
    dump->parameterCount = PcfLongAt(msg, 32);
    if (dump->strucLength != (MQLONG)MQCMD_CFH_LENGTH) {
        SetMalformed(dump, 4, "MQCFH StrucLength %d is not 36", dump->strucLength);
        return;
    }
    if (dump->parameterCount < 0) {
        SetMalformed(dump, 32, "MQCFH ParameterCount %d is negative", dump->parameterCount);
        return;
    }

    /* remaining[d]: parameters still to read at nesting level d */
    MQLONG remaining[MQCMD_MAX_GROUP_DEPTH + 1];
    int depth = 0;
    remaining[0] = dump->parameterCount;
    size_t off = MQCMD_CFH_LENGTH;
    for (;;) {
        while (depth > 0 && remaining[depth] == 0)
            depth--;
        if (depth == 0 && remaining[0] == 0)
            break;
        if (len - off < 12) {
            SetMalformed(dump, off, "%d more parameter(s) expected but only %llu bytes are left",
                         remaining[depth], (unsigned long long)(len - off));
            return;
        }
        PCFITEM item;
        memset(&item, 0, sizeof item);
        item.depth = depth;
        item.offset = off;
        item.type = PcfLongAt(msg, off);
        item.strucLength = PcfLongAt(msg, off + 4);
        item.parameter = PcfLongAt(msg, off + 8);
        if (item.strucLength < 12) {
            SetMalformed(dump, off, "StrucLength %d is below 12", item.strucLength);
            return;
        }
        if ((size_t)item.strucLength > len - off) {
            SetMalformed(dump, off,
                         "StrucLength %d runs past the end of the message (%llu bytes left)",
                         item.strucLength, (unsigned long long)(len - off));
            return;
        }
        if (CheckItem(dump, msg, &item) != 0)
            return;
        if (item.type == MQCFT_GROUP && depth >= MQCMD_MAX_GROUP_DEPTH) {
            SetMalformed(dump, off, "groups nested deeper than %d", MQCMD_MAX_GROUP_DEPTH);
            return;
        }
        dump->items.push_back(item);
        remaining[depth]--;
        off += (size_t)item.strucLength;
        if (item.type == MQCFT_GROUP) {
            depth++;
            remaining[depth] = item.count;
        }
    }
    if (off < len)
        SetMalformed(dump, off, "%llu bytes follow the last parameter",
                     (unsigned long long)(len - off));
}
