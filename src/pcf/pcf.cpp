/* pcf.cpp -- the one builder and reader of PCF messages, the failure
 * response, the escape-response prefix and the attribute selection.
 *
 * Owns: nothing; contexts and buffers belong to the callers.
 * Threads: any; no state is kept between calls.
 *
 * Received messages are untrusted: the reader checks every length and
 * count against the structure and the message end before it hands out a
 * pointer, so no caller reads past what was received.
 */
#include "pcf/pcf.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "config/settings.h"
#include "log/cs.h"
#include "log/output.h"
#include "mqconst/mqconst.h"

/* Offsets of the MQCFH fields the builder writes. */
enum {
    CFH_VERSION = 8,
    CFH_PARAMETER_COUNT = 32,
    GROUP_PARAMETER_COUNT = 12, /* MQCFGR ParameterCount */
};

/* Operator of every filter structure added; a caller that wants another
 * writes it afterwards. */
static const MQLONG FilterOperator = MQCFOP_LESS;

static inline MQLONG GetLong(const MQBYTE *p) {
    MQLONG v;
    memcpy(&v, p, sizeof(v));
    return v;
}
static inline void PutLong(MQBYTE *p, MQLONG v) {
    memcpy(p, &v, sizeof(v));
}

static void CountInParent(PCFCTX *ctx);
static void CountRead(PCFCTX *ctx);
static MQLONG GrowBuffer(PCFCTX *ctx, int64_t size);
static int ReasonNamesParameter(MQLONG reason);

/* ---- Building ------------------------------------------------------------ */

void PCFStartBuild(PCFCTX *ctx, MQBYTE **owner, MQLONG capacity, MQLONG slack, int growable,
                   const MQCFH *cfh) {
    memset(ctx, 0, sizeof(*ctx));
    memcpy(ctx->eyeCatcher, "MQPP", 4);
    ctx->msg = *owner;
    ctx->owner = owner;
    ctx->growable = growable;
    ctx->offset = MQCFH_STRUC_LENGTH;
    ctx->capacity = capacity;
    ctx->slack = slack;
    memcpy(ctx->msg, cfh, MQCFH_STRUC_LENGTH);
}

MQBYTE *PCFAddParm(PCFCTX *ctx, MQLONG type, MQLONG parmId, const void *value, MQLONG length,
                   MQLONG *compCode, MQLONG *reason) {
    *compCode = MQCC_OK;
    *reason = MQRC_NONE;

    MQLONG fixed = 0; /* bytes before the value */
    switch (type) {
        case MQCFT_INTEGER:
        case MQCFT_GROUP:
            fixed = 16;
            break;
        case MQCFT_STRING:
        case MQCFT_INTEGER_FILTER:
        case MQCFT_BYTE_STRING_FILTER:
            fixed = 20;
            break;
        case MQCFT_INTEGER_LIST:
        case MQCFT_BYTE_STRING:
            fixed = 16;
            break;
        case MQCFT_STRING_LIST:
        case MQCFT_STRING_FILTER:
        case MQCFT_INTEGER64:
            fixed = 24;
            break;
        default:
            *compCode = MQCC_FAILED;
            *reason = MQRCCF_CFH_TYPE_ERROR;
            return nullptr;
    }

    MQLONG version = GetLong(ctx->msg + CFH_VERSION);
    if (type == MQCFT_BYTE_STRING && version < MQCFH_VERSION_2)
        PutLong(ctx->msg + CFH_VERSION, MQCFH_VERSION_2);
    else if ((type == MQCFT_INTEGER_FILTER || type == MQCFT_STRING_FILTER ||
              type == MQCFT_BYTE_STRING_FILTER || type == MQCFT_GROUP || type == MQCFT_INTEGER64) &&
             version < MQCFH_VERSION_3)
        PutLong(ctx->msg + CFH_VERSION, MQCFH_VERSION_3);

    if (type == MQCFT_STRING || type == MQCFT_STRING_FILTER) {
        if (length == -1 || length == -2) { /* up to, or up to and including, the NUL */
            const MQLONG nul = length == -2 ? 1 : 0;
            length = value == nullptr ? 0 : (MQLONG)strlen((const char *)value) + nul;
        }
    }
    int64_t size;
    switch (type) {
        case MQCFT_INTEGER:
        case MQCFT_INTEGER_FILTER:
        case MQCFT_GROUP:
        case MQCFT_INTEGER64:
            size = fixed;
            length = 0;
            break;
        default:
            if (length < 0 || (type == MQCFT_INTEGER_LIST && length % 4 != 0)) {
                *compCode = MQCC_FAILED;
                *reason = MQRC_BUFFER_LENGTH_ERROR;
                return nullptr;
            }
            size = ((int64_t)fixed + length + 3) & ~(int64_t)3;
            break;
    }

    if (size > (int64_t)ctx->capacity - ctx->offset) {
        MQLONG rc = ctx->growable ? GrowBuffer(ctx, size) : MQRC_STORAGE_NOT_AVAILABLE;
        if (rc != MQRC_NONE) {
            *compCode = MQCC_FAILED;
            *reason = rc;
            return nullptr;
        }
    }

    MQBYTE *p = ctx->msg + ctx->offset;
    if (type == MQCFT_GROUP) {
        if (ctx->depth >= PCF_MAX_GROUPS) {
            *compCode = MQCC_FAILED;
            *reason = MQRC_FORMAT_NOT_SUPPORTED;
            return nullptr;
        }
        CountInParent(ctx);
        ctx->groups[ctx->depth].offset = ctx->offset;
        ctx->groups[ctx->depth].parmId = parmId;
        ctx->groups[ctx->depth].remaining = 0;
        ctx->depth++;
        MQLONG cfgr[4] = {MQCFT_GROUP, MQCFGR_STRUC_LENGTH, parmId, 0};
        memcpy(p, cfgr, sizeof(cfgr));
        ctx->offset += MQCFGR_STRUC_LENGTH;
        return nullptr;
    }

    MQLONG head[6] = {type, (MQLONG)size, parmId, 0, 0, 0};
    switch (type) {
        case MQCFT_INTEGER:
            head[3] = value != nullptr ? GetLong((const MQBYTE *)value) : 0;
            break;
        case MQCFT_STRING:
            head[3] = MQCCSI_DEFAULT;
            head[4] = length;
            break;
        case MQCFT_INTEGER_LIST:
            head[3] = length / 4;
            break;
        case MQCFT_STRING_LIST:
            head[3] = MQCCSI_DEFAULT;
            head[4] = 1;
            head[5] = length;
            break;
        case MQCFT_BYTE_STRING:
            head[3] = length;
            break;
        case MQCFT_INTEGER_FILTER:
            head[3] = FilterOperator;
            head[4] = value != nullptr ? GetLong((const MQBYTE *)value) : 0;
            break;
        case MQCFT_STRING_FILTER:
            head[3] = FilterOperator;
            head[4] = MQCCSI_DEFAULT;
            head[5] = length;
            break;
        case MQCFT_BYTE_STRING_FILTER:
            head[3] = FilterOperator;
            head[4] = length;
            break;
        case MQCFT_INTEGER64:
            break;
    }
    if (type == MQCFT_INTEGER || type == MQCFT_INTEGER_FILTER) {
        /* the value is the last field of the structure */
        memcpy(p, head, (size_t)fixed);
        ctx->offset += (MQLONG)size;
        CountInParent(ctx);
        return p + fixed - 4;
    }
    if (type == MQCFT_INTEGER64) {
        int64_t v = 0;
        if (value != nullptr)
            memcpy(&v, value, sizeof(v));
        memcpy(p, head, 16);
        memcpy(p + 16, &v, sizeof(v));
        ctx->offset += (MQLONG)size;
        CountInParent(ctx);
        return p + 16;
    }
    memcpy(p, head, (size_t)fixed);
    MQBYTE *area = p + fixed;
    if (length > 0) {
        if (value != nullptr)
            memcpy(area, value, (size_t)length);
        else
            memset(area, 0, (size_t)length);
    }
    if (size > fixed + length)
        memset(area + length, 0, (size_t)(size - fixed - length));

    ctx->offset += (MQLONG)size;
    CountInParent(ctx);
    return area;
}

/* Raise the parameter count of the innermost open group, or of MQCFH. */
static void CountInParent(PCFCTX *ctx) {
    MQBYTE *count = ctx->depth > 0
                        ? ctx->msg + ctx->groups[ctx->depth - 1].offset + GROUP_PARAMETER_COUNT
                        : ctx->msg + CFH_PARAMETER_COUNT;
    PutLong(count, GetLong(count) + 1);
}

/* Make room for size more bytes: capacity + max(capacity, size), plus the
 * slack, in a new block; the old one is freed and *owner rewritten. */
static MQLONG GrowBuffer(PCFCTX *ctx, int64_t size) {
    int64_t capacity = (int64_t)ctx->capacity + (ctx->capacity > size ? ctx->capacity : size);
    if (capacity + ctx->slack > INT32_MAX)
        return MQRC_STORAGE_NOT_AVAILABLE;
    MQBYTE *block = (MQBYTE *)CSGetMem((size_t)(capacity + ctx->slack));
    if (block == nullptr)
        return MQRC_STORAGE_NOT_AVAILABLE;
    memcpy(block, ctx->msg, (size_t)ctx->offset);
    CSFreeMem(ctx->msg);
    ctx->msg = block;
    *ctx->owner = block;
    ctx->capacity = (MQLONG)capacity;
    return MQRC_NONE;
}

/* ---- Reading ------------------------------------------------------------- */

MQLONG PCFStartRead(PCFCTX *ctx, const MQBYTE *msg, MQLONG length) {
    memset(ctx, 0, sizeof(*ctx));
    memcpy(ctx->eyeCatcher, "MQPP", 4);
    ctx->msg = const_cast<MQBYTE *>(msg); /* never written while reading */
    ctx->offset = MQCFH_STRUC_LENGTH;
    if (msg == nullptr || length < MQCFH_STRUC_LENGTH) {
        /* Nothing to read: the first PCFNextParm finds no room. */
        ctx->msgEnd = msg;
        ctx->remaining = 1;
        ctx->offset = 0;
        return MQRCCF_MSG_LENGTH_ERROR;
    }
    ctx->command = GetLong(msg + offsetof(MQCFH, Command));
    ctx->msgEnd = msg + length;
    ctx->remaining = GetLong(msg + CFH_PARAMETER_COUNT);
    if (ctx->remaining < 0)
        ctx->remaining = 0;
    return MQRC_NONE;
}

void PCFReadParm(PCFCTX *ctx, MQLONG *type, MQLONG *parmId, const MQBYTE **value, MQLONG *length,
                 MQLONG *count, MQLONG *compCode, MQLONG *reason) {
    MQLONG cc = MQCC_OK, rc = MQRC_NONE;
    MQLONG t = 0, id = ctx->lastId, len = 0, n = ctx->lastCount;
    const MQBYTE *v = ctx->lastValue;

    if (ctx->depth > 0) {
        PCFGROUP *group = &ctx->groups[ctx->depth - 1];
        ctx->groupId = group->parmId;
        if (group->remaining <= 0) {
            id = group->parmId;
            ctx->depth--;
            if (ctx->depth > 0) {
                if (ctx->groups[ctx->depth - 1].remaining > 0)
                    ctx->groups[ctx->depth - 1].remaining--;
                ctx->groupId = ctx->groups[ctx->depth - 1].parmId;
            } else {
                if (ctx->remaining > 0)
                    ctx->remaining--;
                ctx->groupId = 0;
            }
            t = PCF_GROUP_END;
            len = 0;
            n = 0;
            v = nullptr;
            goto done;
        }
    } else if (ctx->remaining <= 0) {
        cc = MQCC_FAILED;
        rc = PCF_END_OF_PARMS;
        goto done;
    }

    {
        const MQBYTE *p = ctx->msg + ctx->offset;
        const int64_t room = ctx->msgEnd - p; /* bytes left in the message */
        if (room < 4) {
            cc = MQCC_FAILED;
            rc = MQRC_TRUNCATED_MSG_FAILED;
            goto done;
        }
        t = GetLong(p);
        if (t == PCFT_BARE) {
            /* The item is its own 4-byte value: never a pointer left over
             * from an earlier parameter (null after a group's end). */
            v = p;
            len = 4;
            ctx->current = p;
            ctx->offset += 4;
            goto counted;
        }
        int64_t fixed;
        switch (t) {
            case MQCFT_INTEGER:
            case MQCFT_INTEGER_LIST:
            case MQCFT_BYTE_STRING:
            case MQCFT_GROUP:
                fixed = 16;
                break;
            case MQCFT_STRING:
            case PCFT_STRING:
                fixed = 20;
                break;
            case MQCFT_STRING_LIST:
            case PCFT_STRING_LIST:
            case MQCFT_INTEGER64:
                fixed = 24;
                break;
            default:
                cc = MQCC_FAILED;
                rc = MQRCCF_CFH_TYPE_ERROR;
                goto done;
        }
        if (room < fixed) {
            cc = MQCC_FAILED;
            rc = MQRC_TRUNCATED_MSG_FAILED;
            goto done;
        }
        const int64_t strucLength = t == MQCFT_GROUP ? 16 : GetLong(p + 4);
        if (strucLength < fixed || strucLength > room) {
            cc = MQCC_FAILED;
            rc = MQRC_TRUNCATED_MSG_FAILED;
            goto done;
        }
        id = GetLong(p + 8);
        int64_t valueOffset = fixed, valueLength = 0;
        switch (t) {
            case MQCFT_INTEGER:
                valueOffset = 12;
                valueLength = 4;
                n = 1;
                break;
            case MQCFT_STRING:
            case PCFT_STRING:
                valueLength = GetLong(p + 16);
                n = 1;
                break;
            case MQCFT_INTEGER_LIST:
                valueLength = strucLength - 16;
                n = GetLong(p + 12);
                if (n < 0 || (int64_t)n * 4 > valueLength)
                    valueLength = -1;
                break;
            case MQCFT_STRING_LIST:
            case PCFT_STRING_LIST: {
                n = GetLong(p + 16);
                const int64_t each = GetLong(p + 20);
                valueLength = n < 0 || each < 0 ? -1 : (int64_t)n * each;
                break;
            }
            case MQCFT_BYTE_STRING:
                valueLength = GetLong(p + 12);
                n = 1;
                break;
            case MQCFT_GROUP:
                valueOffset = 0;
                valueLength = 16;
                n = 1;
                break;
            case MQCFT_INTEGER64:
                valueOffset = 16;
                valueLength = 8;
                n = 1;
                break;
        }
        /* The value must lie inside its structure, hence inside the message. */
        if (valueLength < 0 || valueOffset + valueLength > strucLength) {
            cc = MQCC_FAILED;
            rc = MQRC_TRUNCATED_MSG_FAILED;
            goto done;
        }
        if (t == MQCFT_GROUP) {
            const MQLONG members = GetLong(p + 12);
            if (ctx->depth >= PCF_MAX_GROUPS) {
                cc = MQCC_FAILED;
                rc = MQRC_FORMAT_NOT_SUPPORTED;
                goto done;
            }
            if (members < 0) {
                cc = MQCC_FAILED;
                rc = MQRC_TRUNCATED_MSG_FAILED;
                goto done;
            }
            ctx->groups[ctx->depth].offset = ctx->offset;
            ctx->groups[ctx->depth].parmId = id;
            ctx->groups[ctx->depth].remaining = members;
            ctx->depth++;
            ctx->groupId = id;
        }
        v = p + valueOffset;
        len = (MQLONG)valueLength;
        ctx->current = p;
        ctx->offset += (MQLONG)strucLength;
        if (t == MQCFT_GROUP)
            goto done;
    }
counted:
    CountRead(ctx);
done:
    if (cc != MQCC_OK) {
        t = 0;
        len = 0;
    }
    *type = t;
    *parmId = id;
    *value = v;
    *length = len;
    *count = n;
    *compCode = cc;
    *reason = rc;
    PCFKeepLast(ctx, t, id, v, len, n, rc);
}

int PCFNext(PCFCTX *ctx, PCFPARM *parm) {
    PCFNextParm(ctx, &parm->type, &parm->id, &parm->value, &parm->length, &parm->count,
                &parm->compCode, &parm->reason);
    return parm->compCode == MQCC_OK;
}

MQLONG PCFSkipParm(PCFCTX *ctx) {
    const MQBYTE *p = ctx->msg + ctx->offset;
    const int64_t room = ctx->msgEnd - p;
    if (room < 8)
        return MQRC_TRUNCATED_MSG_FAILED;
    if (GetLong(p) == MQCFT_GROUP)
        return MQRCCF_CFH_TYPE_ERROR;
    const MQLONG strucLength = GetLong(p + 4);
    if (strucLength < 8 || strucLength > room)
        return MQRC_TRUNCATED_MSG_FAILED;
    ctx->current = p;
    ctx->offset += strucLength;
    CountRead(ctx);
    return MQRC_NONE;
}

/* One parameter read: one fewer left in the innermost open group, or at
 * top level when none is open. */
static void CountRead(PCFCTX *ctx) {
    if (ctx->depth > 0) {
        if (ctx->groups[ctx->depth - 1].remaining > 0)
            ctx->groups[ctx->depth - 1].remaining--;
    } else if (ctx->remaining > 0) {
        ctx->remaining--;
    }
}

/* ---- Responses ----------------------------------------------------------- */

int PCFCommandIsEvent(MQLONG command) {
    switch (command) {
        case MQCMD_CONFIG_EVENT:
        case MQCMD_Q_MGR_EVENT:
        case MQCMD_PERFM_EVENT:
        case MQCMD_CHANNEL_EVENT:
        case MQCMD_LOGGER_EVENT:
        case MQCMD_COMMAND_EVENT:
            return 1;
        default:
            return 0;
    }
}

MQLONG PCFBuildErrorResponse(MQBYTE *buffer, MQLONG capacity, MQLONG command, MQLONG reason,
                             MQLONG parmId, const char *text) {
    MQCFH cfh = MQCFH_DEFAULT;
    cfh.Type = PCFCommandIsEvent(command) ? MQCFT_EVENT : MQCFT_COMMAND;
    cfh.StrucLength = MQCFH_STRUC_LENGTH;
    cfh.Version = MQCFH_VERSION_1;
    cfh.Command = command;
    cfh.MsgSeqNumber = 1;
    cfh.Control = MQCFC_LAST;
    cfh.CompCode = MQCC_FAILED;
    cfh.Reason = reason;
    cfh.ParameterCount = 0;

    PCFCTX ctx;
    PCFStartBuild(&ctx, &buffer, capacity, 0, 0, &cfh);
    MQLONG cc, rc;
    if (parmId != 0 && ReasonNamesParameter(reason))
        PCFAddParm(&ctx, MQCFT_INTEGER, MQIACF_PARAMETER_ID, &parmId, 4, &cc, &rc);
    if (text != nullptr && text[0] != '\0') /* left out when it does not fit */
        PCFAddParm(&ctx, MQCFT_STRING, CVL_ATTR_ERROR_TEXT, text, -1, &cc, &rc);
    return ctx.offset;
}

/* 1 for the reasons whose failure response names the parameter at fault. */
static int ReasonNamesParameter(MQLONG reason) {
    switch (reason) {
        case MQRC_PARAMETER_MISSING:
        case MQRCCF_CFST_STRING_LENGTH_ERR:
        case MQRCCF_CFIN_PARM_ID_ERROR:
        case MQRCCF_CFST_PARM_ID_ERROR:
        case MQRCCF_CFSL_PARM_ID_ERROR:
        case MQRCCF_CFIL_PARM_ID_ERROR:
        case MQRCCF_PARM_SYNTAX_ERROR:
        case MQRCCF_PARM_MISSING:
        case MQRCCF_PARM_VALUE_ERROR:
        case MQRCCF_CFBS_PARM_ID_ERROR:
            return 1;
        default:
            return 0;
    }
}

MQLONG PCFEscapeHeader(MQBYTE *buffer, MQLONG textLength, MQLONG command, MQLONG reason) {
    const MQLONG words[18] = {
        MQCFT_COMMAND,
        MQCFH_STRUC_LENGTH,
        MQCFH_VERSION_1,
        command,
        1,
        MQCFC_LAST,
        reason != 0 ? MQCC_FAILED : MQCC_OK,
        reason,
        2,
        MQCFT_INTEGER,
        MQCFIN_STRUC_LENGTH,
        MQIACF_ESCAPE_TYPE,
        MQET_MQSC,
        MQCFT_STRING,
        MQCFST_STRUC_LENGTH_FIXED + textLength,
        MQCACF_ESCAPE_TEXT,
        MQCCSI_DEFAULT,
        textLength,
    };
    memcpy(buffer, words, sizeof(words));
    return MQCFST_STRUC_LENGTH_FIXED + textLength;
}

int PCFAttrWanted(const MQLONG *ids, MQLONG count, MQLONG all, MQLONG id) {
    if (all)
        return 1;
    for (MQLONG i = count - 1; i >= 0; i--)
        if (ids[i] == id)
            return 1;
    return 0;
}

void PCFReportFailure(MQLONG reason) {
    OutputMessage(0, OUTF_NORMAL, "CVLA405E PCF Message failure %d (%s)\n", (int)reason,
                  ReasonText(reason));
}
