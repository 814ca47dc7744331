/* pcf.h -- building and reading PCF messages: a header MQCFH followed by
 * parameter structures (MQCFIN, MQCFST, MQCFIL, MQCFSL, MQCFBS, MQCFIF,
 * MQCFSF, MQCFBF, MQCFGR, MQCFIN64), all fields in native encoding.
 *
 * Owns: nothing. A PCFCTX lives on its caller's stack for one message; the
 * buffer belongs to the caller (a growable one is reallocated with CSGetMem
 * and its new address written to the caller's owner slot).
 * Threads: any; a context belongs to one thread for the life of a message.
 */
#pragma once

#include <cstring>

#include "mqconst/mqi.h"
#include "mqconst/mqpcf.h"

constexpr int PCF_MAX_GROUPS = 10;            /* groups nest at most this deep */
constexpr MQLONG PCF_MESSAGE_SIZE = 102400;   /* fixed buffers of responses and commands */
constexpr MQLONG PCF_ESCAPE_HEADER_SIZE = 72; /* MQCFH + MQCFIN + MQCFST header */

/* Structure types of the agent's own, known to the reader only. */
constexpr MQLONG PCFT_BARE = 1000;        /* a bare 4-byte item */
constexpr MQLONG PCFT_STRING = 1001;      /* laid out as MQCFST */
constexpr MQLONG PCFT_STRING_LIST = 1002; /* laid out as MQCFSL */

/* Results of reading only: the type reported when a group is left, and the
 * reason of the normal end of the parameters. */
constexpr MQLONG PCF_GROUP_END = 1003;
constexpr MQLONG PCF_END_OF_PARMS = 10000;

/* One open group: where its MQCFGR lies, its id and, when reading, how
 * many of its parameters are still to be read. */
struct PCFGROUP {
    MQLONG offset;
    MQLONG parmId;
    MQLONG remaining;
};

/* The state of one message being built or read. */
struct PCFCTX {
    char eyeCatcher[4];    /* "MQPP", not checked */
    MQBYTE *msg;           /* the MQCFH; reading never writes through it */
    MQBYTE **owner;        /* building: caller's variable holding the buffer address */
    MQLONG growable;       /* building: 1 when the buffer may be reallocated */
    MQLONG offset;         /* building: bytes used; reading: next parameter */
    MQLONG capacity;       /* building: usable bytes of the buffer */
    MQLONG slack;          /* building: extra bytes allocated beyond capacity */
    const MQBYTE *current; /* reading: structure most recently read */
    MQLONG command;        /* reading: MQCFH.Command */
    MQLONG lastType, lastId, lastLength, lastCount, lastReason; /* reading: last results */
    const MQBYTE *lastValue;                                    /* reading: last value pointer */
    const MQBYTE *msgEnd; /* reading: one past the last byte of the message */
    MQLONG remaining;     /* reading: top-level parameters not yet read */
    MQLONG depth;         /* open groups, 0..PCF_MAX_GROUPS */
    MQLONG groupId;       /* reading: id of the innermost open group, 0 at top level */
    PCFGROUP groups[PCF_MAX_GROUPS];
};

/* Start building: write cfh (36 bytes) at the start of *owner's buffer and
 * set ctx up. The buffer holds capacity + slack bytes; capacity must be at
 * least 36. growable 1: PCFAddParm may move the buffer (CSGetMem blocks
 * only) and then rewrites *owner. */
void PCFStartBuild(PCFCTX *ctx, MQBYTE **owner, MQLONG capacity, MQLONG slack, int growable,
                   const MQCFH *cfh);

/* Start reading msg of length bytes. Returns 0, or MQRCCF_MSG_LENGTH_ERROR
 * (3016) when length is below 36 (ctx then reads nothing: the first
 * PCFNextParm reports 2080). */
MQLONG PCFStartRead(PCFCTX *ctx, const MQBYTE *msg, MQLONG length);

/* Add one parameter structure of type (MQCFT_INTEGER, _STRING, _INTEGER_LIST,
 * _STRING_LIST, _BYTE_STRING, _INTEGER_FILTER, _STRING_FILTER,
 * _BYTE_STRING_FILTER, _GROUP, _INTEGER64) with id parmId; value may be null
 * (0, the empty string, or values left unwritten for lists). length is in
 * bytes; for the string types 4 and 14, -1 means strlen(value) and -2 that
 * plus the NUL. Byte strings, filters and groups raise MQCFH.Version (to 2
 * for MQCFBS, to 3 for the rest), even when the add then fails. Padding up
 * to StrucLength is zeroed. The parameter counts in the innermost open
 * group (a group is never closed), else in MQCFH.ParameterCount.
 * Returns the value area inside the buffer (null for a group or a failure);
 * it is valid until the next add. *compCode and *reason: 0, or 2 and 3001
 * (unknown type), 2005 (bad length), 2071 (no room or no memory: the message
 * built so far stays intact), 2317 (an eleventh group). */
MQBYTE *PCFAddParm(PCFCTX *ctx, MQLONG type, MQLONG parmId, const void *value, MQLONG length,
                   MQLONG *compCode, MQLONG *reason);

/* Read the next parameter: its type, id, a pointer to its value inside the
 * message, the value length in bytes and the count of values. Leaving a
 * group yields type PCF_GROUP_END (with the group's id) and reads nothing.
 * A bare item (PCFT_BARE) is its own 4-byte value; its id and count are
 * those of the parameter read before it.
 * *compCode and *reason: 0; 2 and PCF_END_OF_PARMS at the normal end; 2 and
 * 2080 for a structure that does not lie wholly inside the message (or
 * whose lengths and counts contradict each other), 3001 for an unknown
 * type, 2317 for an eleventh group. Never reads past ctx->msgEnd. The
 * results are also kept in ctx's last fields.
 * PCFReadParm is the whole reader; PCFNextParm reads the commonest
 * structures of replies, a sound MQCFIN or MQCFST outside any group, in
 * line (a walk of a large reply pays no call per structure) and hands
 * everything else to PCFReadParm. Both give the same results. */
void PCFReadParm(PCFCTX *ctx, MQLONG *type, MQLONG *parmId, const MQBYTE **value, MQLONG *length,
                 MQLONG *count, MQLONG *compCode, MQLONG *reason);

/* One parameter as PCFNextParm reads it. */
struct PCFPARM {
    MQLONG type, id, length, count, compCode, reason;
    const MQBYTE *value;
};

/* PCFNextParm into *parm: 1 when a parameter (or the end of a group) was
 * read, 0 when the reading ended (parm->reason: PCF_END_OF_PARMS at the
 * normal end, else the reason of the malformed structure). */
int PCFNext(PCFCTX *ctx, PCFPARM *parm);

/* The results of a read, kept in ctx's last fields. */
inline void PCFKeepLast(PCFCTX *ctx, MQLONG type, MQLONG parmId, const MQBYTE *value, MQLONG length,
                        MQLONG count, MQLONG reason) {
    ctx->lastType = type;
    ctx->lastId = parmId;
    ctx->lastValue = value;
    ctx->lastLength = length;
    ctx->lastCount = count;
    ctx->lastReason = reason;
}

/* PCFNextParm's in-line read of one sound structure at p. */
inline void PCFTakeParm(PCFCTX *ctx, const MQBYTE *p, MQLONG t, MQLONG strucLength,
                        MQLONG valueOffset, MQLONG valueLength, MQLONG *type, MQLONG *parmId,
                        const MQBYTE **value, MQLONG *length, MQLONG *count, MQLONG *compCode,
                        MQLONG *reason) {
    MQLONG id;
    memcpy(&id, p + 8, 4);
    ctx->current = p;
    ctx->offset += strucLength;
    ctx->remaining--;
    PCFKeepLast(ctx, t, id, p + valueOffset, valueLength, 1, MQRC_NONE);
    *type = t;
    *parmId = id;
    *value = p + valueOffset;
    *length = valueLength;
    *count = 1;
    *compCode = MQCC_OK;
    *reason = MQRC_NONE;
}

inline void PCFNextParm(PCFCTX *ctx, MQLONG *type, MQLONG *parmId, const MQBYTE **value,
                        MQLONG *length, MQLONG *count, MQLONG *compCode, MQLONG *reason) {
    const MQBYTE *p = ctx->msg + ctx->offset;
    if (ctx->depth == 0 && ctx->remaining > 0 && ctx->msgEnd - p >= 20) {
        MQLONG t, strucLength, stringLength; /* word by word: no copy through memory */
        memcpy(&t, p, 4);
        memcpy(&strucLength, p + 4, 4);
        if (t == MQCFT_INTEGER && strucLength == MQCFIN_STRUC_LENGTH) {
            /* A constant step: the next read need not wait for this load. */
            PCFTakeParm(ctx, p, MQCFT_INTEGER, MQCFIN_STRUC_LENGTH, 12, 4, type, parmId, value,
                        length, count, compCode, reason);
            return;
        }
        memcpy(&stringLength, p + 16, 4);
        if (t == MQCFT_STRING && strucLength >= 20 && strucLength <= ctx->msgEnd - p &&
            stringLength >= 0 && stringLength <= strucLength - 20) {
            PCFTakeParm(ctx, p, MQCFT_STRING, strucLength, 20, stringLength, type, parmId, value,
                        length, count, compCode, reason);
            return;
        }
    }
    /* Through locals, so that the caller's variables stay in registers. */
    MQLONG t, id, len, n, cc, rc;
    const MQBYTE *v;
    PCFReadParm(ctx, &t, &id, &v, &len, &n, &cc, &rc);
    *type = t;
    *parmId = id;
    *value = v;
    *length = len;
    *count = n;
    *compCode = cc;
    *reason = rc;
}

/* Step over the run of MQCFIN structures of exactly 16 bytes at the read
 * position, outside any group, as that many calls of PCFNextParm would read
 * them (the last one's results are kept in ctx's last fields); stops before
 * any other structure and at the end of the parameters. Returns how many it
 * stepped over. For a walk that looks only at the other structures. */
inline MQLONG PCFSkipIntegers(PCFCTX *ctx) {
    if (ctx->depth != 0)
        return 0;
    const MQBYTE *msg = ctx->msg;
    const long long end = ctx->msgEnd - msg;
    MQLONG offset = ctx->offset, remaining = ctx->remaining;
    while (remaining > 0 && end - offset >= MQCFIN_STRUC_LENGTH) {
        MQLONG head[2]; /* Type, StrucLength */
        memcpy(&head[0], msg + offset, 4);
        memcpy(&head[1], msg + offset + 4, 4);
        if (head[0] != MQCFT_INTEGER || head[1] != MQCFIN_STRUC_LENGTH)
            break;
        offset += MQCFIN_STRUC_LENGTH;
        remaining--;
    }
    const MQLONG stepped = ctx->remaining - remaining;
    if (stepped > 0) {
        const MQBYTE *p = msg + offset - MQCFIN_STRUC_LENGTH;
        MQLONG id;
        memcpy(&id, p + 8, 4);
        ctx->current = p;
        ctx->offset = offset;
        ctx->remaining = remaining;
        PCFKeepLast(ctx, MQCFT_INTEGER, id, p + 12, 4, 1, MQRC_NONE);
    }
    return stepped;
}

/* Step over the structure at the read position by its StrucLength, without
 * looking inside: for a structure of a type the reader does not know, after
 * PCFNextParm refused it with 3001. It counts as one parameter read, as
 * PCFNextParm would count it; ctx->current points to it. Returns 0, or
 * 2080 when it does not lie inside the message or its StrucLength is below
 * 8 (ctx is then unchanged), or 3001 for a group, whose members only
 * PCFNextParm can track. */
MQLONG PCFSkipParm(PCFCTX *ctx);

/* 1 for the commands whose messages are events (the event message types):
 * their replies, failure replies included, are typed MQCFT_EVENT. */
int PCFCommandIsEvent(MQLONG command);

/* Build a failure response into buffer (capacity bytes, at least 36):
 * MQCFH Type MQCFT_EVENT for the event commands, else MQCFT_COMMAND,
 * Command command, Control MQCFC_LAST, CompCode 2, Reason reason; MQCFIN
 * MQIACF_PARAMETER_ID = parmId when parmId is not 0 and the reason is one
 * that names a parameter; MQCFST CVL_ATTR_ERROR_TEXT with text when text is
 * not null or empty and fits (else it is left out). Returns the length. */
MQLONG PCFBuildErrorResponse(MQBYTE *buffer, MQLONG capacity, MQLONG command, MQLONG reason,
                             MQLONG parmId, const char *text);

/* Lay out the 72-byte prefix of an escape response at buffer: MQCFH
 * (Command command, CompCode 2 when reason is not 0, Reason reason,
 * ParameterCount 2), MQCFIN MQIACF_ESCAPE_TYPE = MQET_MQSC, and the MQCFST
 * header of MQCACF_ESCAPE_TEXT for textLength bytes (StrucLength 20 +
 * textLength, not rounded). The caller copies the text to buffer + 72.
 * Returns 20 + textLength. */
MQLONG PCFEscapeHeader(MQBYTE *buffer, MQLONG textLength, MQLONG command, MQLONG reason);

/* 1 when a response should carry attribute id: all is set, or id is among
 * the first count entries of ids; 0 otherwise. */
int PCFAttrWanted(const MQLONG *ids, MQLONG count, MQLONG all, MQLONG id);

/* Write "CVLA405E PCF Message failure %d (%s)" for a builder failure. */
void PCFReportFailure(MQLONG reason);
