/* pcfcmd.cpp -- checking PCF commands and building PCF replies for the
 * stand-in command server.
 *
 * Every field of a received message is copied out with memcpy after its
 * bounds are checked against the message's length; lengths are worked out in
 * 64 bits so that no count or StringLength can overflow them.
 *
 * Owns: nothing global. Threads: any.
 */
#include "pcfcmd.h"

#include <cstring>

static MQLONG ReadLong(const MQBYTE *p);
static void WriteLong(MQBYTE *p, MQLONG v);
static MQLONG ParseParm(const MQBYTE *p, size_t avail, int depth, CMDPARM *out, MQLONG *badParm);
static MQLONG IdError(MQLONG type);
static MQLONG DuplicateError(MQLONG type);
static size_t RoundUp4(size_t n);
static void AppendLongs(PCFREPLY *r, const MQLONG *v, size_t n);
static void CountParm(PCFREPLY *r);

static MQLONG ReadLong(const MQBYTE *p) {
    MQLONG v;
    memcpy(&v, p, sizeof v);
    return v;
}

static void WriteLong(MQBYTE *p, MQLONG v) {
    memcpy(p, &v, sizeof v);
}

static size_t RoundUp4(size_t n) {
    return (n + 3) & ~(size_t)3;
}

/* ---- Taking a command apart ----------------------------------------------------- */

/* One parameter structure at p, with avail bytes left in the message. The
 * structure's own fields are checked first, then that it lies within the
 * message. Returns 0 with *out filled, or the reason (and *badParm). */
static MQLONG ParseParm(const MQBYTE *p, size_t avail, int depth, CMDPARM *out, MQLONG *badParm) {
    if (avail < 8)
        return MQRCCF_MSG_LENGTH_ERROR;
    memset(out, 0, sizeof *out);
    out->type = ReadLong(p);
    MQLONG strucLength = ReadLong(p + 4);
    out->depth = depth;
    if (avail >= 12)
        out->id = ReadLong(p + 8);
    int64_t sl = strucLength;
    /* the reason when the structure's length is below its fixed part */
    MQLONG lengthError;
    int64_t fixed;
    switch (out->type) {
        case MQCFT_INTEGER:
            lengthError = MQRCCF_CFIN_LENGTH_ERROR;
            fixed = MQCFIN_STRUC_LENGTH;
            break;
        case MQCFT_INTEGER64:
            lengthError = MQRCCF_CFIN_LENGTH_ERROR;
            fixed = MQCFIN64_STRUC_LENGTH;
            break;
        case MQCFT_STRING:
            lengthError = MQRCCF_CFST_LENGTH_ERROR;
            fixed = MQCFST_STRUC_LENGTH_FIXED;
            break;
        case MQCFT_INTEGER_LIST:
        case MQCFT_INTEGER64_LIST:
            lengthError = MQRCCF_CFIL_LENGTH_ERROR;
            fixed = MQCFIL_STRUC_LENGTH_FIXED;
            break;
        case MQCFT_STRING_LIST:
            lengthError = MQRCCF_CFSL_LENGTH_ERROR;
            fixed = MQCFSL_STRUC_LENGTH_FIXED;
            break;
        case MQCFT_BYTE_STRING:
            lengthError = MQRCCF_CFBS_LENGTH_ERROR;
            fixed = MQCFBS_STRUC_LENGTH_FIXED;
            break;
        case MQCFT_GROUP:
            lengthError = MQRCCF_CFGR_LENGTH_ERROR;
            fixed = MQCFGR_STRUC_LENGTH;
            break;
        case MQCFT_INTEGER_FILTER:
            lengthError = MQRCCF_CFIF_LENGTH_ERROR;
            fixed = MQCFIF_STRUC_LENGTH;
            break;
        case MQCFT_STRING_FILTER:
            lengthError = MQRCCF_CFSF_LENGTH_ERROR;
            fixed = MQCFSF_STRUC_LENGTH_FIXED;
            break;
        case MQCFT_BYTE_STRING_FILTER:
            lengthError = MQRCCF_CFBF_LENGTH_ERROR;
            fixed = MQCFBF_STRUC_LENGTH_FIXED;
            break;
        default:
            return MQRCCF_STRUCTURE_TYPE_ERROR;
    }
    /* Structures of one fixed size must have exactly it. */
    int exact = out->type == MQCFT_INTEGER || out->type == MQCFT_INTEGER64 ||
                out->type == MQCFT_GROUP || out->type == MQCFT_INTEGER_FILTER;
    if (sl < fixed || (exact && sl != fixed)) {
        *badParm = out->id;
        return lengthError;
    }
    if ((uint64_t)sl > avail)
        return MQRCCF_MSG_LENGTH_ERROR;
    *badParm = out->id;
    switch (out->type) {
        case MQCFT_INTEGER:
            out->value = ReadLong(p + 12);
            break;
        case MQCFT_INTEGER64:
            memcpy(&out->value64, p + 16, sizeof out->value64);
            break;
        case MQCFT_STRING:
            out->stringLength = ReadLong(p + 16);
            if (out->stringLength < 0 || fixed + out->stringLength > sl)
                return MQRCCF_CFST_STRING_LENGTH_ERR;
            out->data = p + fixed;
            break;
        case MQCFT_INTEGER_LIST:
        case MQCFT_INTEGER64_LIST: {
            out->count = ReadLong(p + 12);
            if (out->count < 0)
                return MQRCCF_CFIL_COUNT_ERROR;
            int64_t each = out->type == MQCFT_INTEGER_LIST ? 4 : 8;
            if (sl != fixed + each * out->count)
                return MQRCCF_CFIL_LENGTH_ERROR;
            out->data = p + fixed;
            break;
        }
        case MQCFT_STRING_LIST:
            out->count = ReadLong(p + 16);
            out->stringLength = ReadLong(p + 20);
            if (out->count < 0)
                return MQRCCF_CFSL_COUNT_ERROR;
            if (out->stringLength < 0)
                return MQRCCF_CFSL_STRING_LENGTH_ERR;
            if (fixed + (int64_t)out->count * out->stringLength > sl)
                return MQRCCF_CFSL_TOTAL_LENGTH_ERROR;
            out->data = p + fixed;
            break;
        case MQCFT_BYTE_STRING:
            out->stringLength = ReadLong(p + 12);
            if (out->stringLength < 0 || fixed + out->stringLength > sl)
                return MQRCCF_CFBS_STRING_LENGTH_ERR;
            out->data = p + fixed;
            break;
        case MQCFT_GROUP:
            out->count = ReadLong(p + 12);
            if (out->count < 0 || depth + 1 > PCF_MAX_GROUP_DEPTH)
                return MQRCCF_CFGR_PARM_COUNT_ERROR;
            break;
        case MQCFT_INTEGER_FILTER:
            out->op = ReadLong(p + 12);
            out->value = ReadLong(p + 16);
            break;
        case MQCFT_STRING_FILTER:
            out->op = ReadLong(p + 12);
            out->stringLength = ReadLong(p + 20);
            if (out->stringLength < 0 || fixed + out->stringLength > sl)
                return MQRCCF_CFSF_FILTER_VAL_LEN_ERR;
            out->data = p + fixed;
            break;
        case MQCFT_BYTE_STRING_FILTER:
            out->op = ReadLong(p + 12);
            out->stringLength = ReadLong(p + 16);
            if (out->stringLength < 0 || fixed + out->stringLength > sl)
                return MQRCCF_CFBF_FILTER_VAL_LEN_ERR;
            out->data = p + fixed;
            break;
    }
    *badParm = 0;
    return 0;
}

MQLONG ParseCommand(const MQBYTE *msg, size_t length, CMDMSG *cmd, int *cfhRead, MQLONG *badParm) {
    cmd->parms.clear();
    *badParm = 0;
    *cfhRead = 0;
    if (msg == nullptr || length < MQCFH_STRUC_LENGTH)
        return MQRCCF_MSG_LENGTH_ERROR;
    memcpy(&cmd->cfh, msg, sizeof cmd->cfh);
    *cfhRead = 1;
    const MQCFH *h = &cmd->cfh;
    if (h->Type != MQCFT_COMMAND && h->Type != MQCFT_COMMAND_XR)
        return MQRCCF_CFH_TYPE_ERROR;
    if (h->StrucLength != MQCFH_STRUC_LENGTH)
        return MQRCCF_CFH_LENGTH_ERROR;
    if (h->Version < MQCFH_VERSION_1 || h->Version > MQCFH_VERSION_3 ||
        (h->Type == MQCFT_COMMAND_XR && h->Version < MQCFH_VERSION_3))
        return MQRCCF_CFH_VERSION_ERROR;
    if (h->MsgSeqNumber < 1)
        return MQRCCF_CFH_MSG_SEQ_NUMBER_ERR;
    if (h->Control != MQCFC_LAST && h->Control != MQCFC_NOT_LAST)
        return MQRCCF_CFH_CONTROL_ERROR;
    if (h->ParameterCount < 0)
        return MQRCCF_CFH_PARM_COUNT_ERROR;

    /* remaining[d]: parameters still to come at nesting level d */
    MQLONG remaining[PCF_MAX_GROUP_DEPTH + 1];
    int depth = 0;
    remaining[0] = h->ParameterCount;
    size_t offset = MQCFH_STRUC_LENGTH;
    for (;;) {
        while (depth > 0 && remaining[depth] == 0)
            depth--;
        if (remaining[depth] == 0)
            break;
        remaining[depth]--;
        CMDPARM p;
        MQLONG rc = ParseParm(msg + offset, length - offset, depth, &p, badParm);
        if (rc != 0)
            return rc;
        cmd->parms.push_back(p);
        offset += (size_t)ReadLong(msg + offset + 4);
        if (p.type == MQCFT_GROUP && p.count > 0) {
            depth++;
            remaining[depth] = p.count;
        }
    }
    if (offset != length)
        return MQRCCF_MSG_LENGTH_ERROR;
    return 0;
}

/* ---- Parameters a command accepts --------------------------------------------------- */

static MQLONG IdError(MQLONG type) {
    switch (type) {
        case MQCFT_STRING:
            return MQRCCF_CFST_PARM_ID_ERROR;
        case MQCFT_INTEGER_LIST:
        case MQCFT_INTEGER64_LIST:
            return MQRCCF_CFIL_PARM_ID_ERROR;
        case MQCFT_STRING_LIST:
            return MQRCCF_CFSL_PARM_ID_ERROR;
        case MQCFT_BYTE_STRING:
            return MQRCCF_CFBS_PARM_ID_ERROR;
        case MQCFT_GROUP:
            return MQRCCF_CFGR_PARM_ID_ERROR;
        case MQCFT_INTEGER_FILTER:
            return MQRCCF_CFIF_PARM_ID_ERROR;
        case MQCFT_STRING_FILTER:
            return MQRCCF_CFSF_PARM_ID_ERROR;
        case MQCFT_BYTE_STRING_FILTER:
            return MQRCCF_CFBF_PARM_ID_ERROR;
        default:
            return MQRCCF_CFIN_PARM_ID_ERROR;
    }
}

static MQLONG DuplicateError(MQLONG type) {
    switch (type) {
        case MQCFT_STRING:
            return MQRCCF_CFST_DUPLICATE_PARM;
        case MQCFT_STRING_LIST:
            return MQRCCF_CFSL_DUPLICATE_PARM;
        case MQCFT_BYTE_STRING:
            return MQRCCF_CFBS_DUPLICATE_PARM;
        default:
            return MQRCCF_CFIN_DUPLICATE_PARM;
    }
}

MQLONG CheckParms(const CMDMSG *cmd, const PARMRULE *rules, size_t count,
                  int (*filterOk)(MQLONG id, MQLONG type), MQLONG *badParm) {
    *badParm = 0;
    MQLONG required = 0;
    for (size_t i = 0; i < count; i++)
        required += rules[i].required ? 1 : 0;
    if (cmd->cfh.ParameterCount < required)
        return MQRCCF_PARM_COUNT_TOO_SMALL;
    int filters = 0;
    for (size_t i = 0; i < cmd->parms.size(); i++) {
        const CMDPARM *p = &cmd->parms[i];
        if (p->depth != 0)
            continue;
        if (p->type == MQCFT_INTEGER_FILTER || p->type == MQCFT_STRING_FILTER ||
            p->type == MQCFT_BYTE_STRING_FILTER) {
            if (filterOk == nullptr || !filterOk(p->id, p->type)) {
                *badParm = p->id;
                return IdError(p->type);
            }
            if (++filters > 1)
                return MQRCCF_TOO_MANY_FILTERS;
            continue;
        }
        const PARMRULE *rule = nullptr;
        for (size_t r = 0; r < count && rule == nullptr; r++) {
            if (rules[r].id == p->id)
                rule = &rules[r];
        }
        if (rule == nullptr || rule->type != p->type) {
            *badParm = p->id;
            return IdError(p->type);
        }
        for (size_t j = 0; j < i; j++) {
            if (cmd->parms[j].depth == 0 && cmd->parms[j].id == p->id) {
                *badParm = p->id;
                return DuplicateError(p->type);
            }
        }
    }
    for (size_t r = 0; r < count; r++) {
        if (rules[r].required && FindParm(cmd, rules[r].id) == nullptr) {
            *badParm = rules[r].id;
            return MQRCCF_PARM_MISSING;
        }
    }
    return 0;
}

const CMDPARM *FindParm(const CMDMSG *cmd, MQLONG id) {
    for (const CMDPARM &p : cmd->parms) {
        if (p.depth == 0 && p.id == id)
            return &p;
    }
    return nullptr;
}

MQLONG ParmListValue(const CMDPARM *p, MQLONG i) {
    if (p->type != MQCFT_INTEGER_LIST || i < 0 || i >= p->count)
        return 0;
    return ReadLong(p->data + (size_t)i * 4);
}

std::string ParmString(const CMDPARM *p) {
    if ((p->type != MQCFT_STRING && p->type != MQCFT_STRING_FILTER) || p->data == nullptr)
        return std::string();
    size_t n = 0;
    size_t max = (size_t)p->stringLength;
    while (n < max && p->data[n] != 0)
        n++;
    while (n > 0 && p->data[n - 1] == ' ')
        n--;
    return std::string((const char *)p->data, n);
}

/* ---- Replies ------------------------------------------------------------------------ */

static void AppendLongs(PCFREPLY *r, const MQLONG *v, size_t n) {
    size_t at = r->data.size();
    r->data.resize(at + n * 4);
    memcpy(r->data.data() + at, v, n * 4);
}

/* One more parameter in the header's ParameterCount. */
static void CountParm(PCFREPLY *r) {
    MQBYTE *count = r->data.data() + offsetof(MQCFH, ParameterCount);
    WriteLong(count, ReadLong(count) + 1);
}

void ReplyBegin(PCFREPLY *r, MQLONG type, MQLONG version, MQLONG command, MQLONG compCode,
                MQLONG reason) {
    MQCFH h = MQCFH_DEFAULT;
    h.Type = type;
    h.Version = version;
    h.Command = command;
    h.CompCode = compCode;
    h.Reason = reason;
    r->data.resize(sizeof h);
    memcpy(r->data.data(), &h, sizeof h);
}

void ReplySetSequence(PCFREPLY *r, MQLONG msgSeqNumber, MQLONG control) {
    WriteLong(r->data.data() + offsetof(MQCFH, MsgSeqNumber), msgSeqNumber);
    WriteLong(r->data.data() + offsetof(MQCFH, Control), control);
}

MQCFH ReplyHeader(const PCFREPLY *r) {
    MQCFH h;
    memcpy(&h, r->data.data(), sizeof h);
    return h;
}

void ReplyAddInt(PCFREPLY *r, MQLONG id, MQLONG value) {
    MQLONG s[4] = {MQCFT_INTEGER, MQCFIN_STRUC_LENGTH, id, value};
    AppendLongs(r, s, 4);
    CountParm(r);
}

void ReplyAddString(PCFREPLY *r, MQLONG id, const char *text, size_t len, MQLONG fieldLength) {
    size_t n = fieldLength > 0 ? (size_t)fieldLength : len;
    size_t copy = len < n ? len : n;
    size_t struc = RoundUp4(MQCFST_STRUC_LENGTH_FIXED + n);
    MQLONG s[5] = {MQCFT_STRING, (MQLONG)struc, id, MQCCSI_DEFAULT, (MQLONG)n};
    size_t at = r->data.size();
    AppendLongs(r, s, 5);
    r->data.resize(at + struc, 0);
    MQBYTE *dst = r->data.data() + at + MQCFST_STRUC_LENGTH_FIXED;
    if (copy > 0)
        memcpy(dst, text, copy);
    memset(dst + copy, ' ', n - copy);
    CountParm(r);
}

void ReplyAddIntList(PCFREPLY *r, MQLONG id, const MQLONG *values, MQLONG count) {
    MQLONG s[4] = {MQCFT_INTEGER_LIST, MQCFIL_STRUC_LENGTH_FIXED + 4 * count, id, count};
    AppendLongs(r, s, 4);
    AppendLongs(r, values, (size_t)count);
    CountParm(r);
}

void ReplyAddStringList(PCFREPLY *r, MQLONG id, const char *const *strings, MQLONG count,
                        MQLONG stringLength) {
    size_t n = (size_t)stringLength;
    size_t struc = RoundUp4(MQCFSL_STRUC_LENGTH_FIXED + n * (size_t)count);
    MQLONG s[6] = {MQCFT_STRING_LIST, (MQLONG)struc, id, MQCCSI_DEFAULT, count, stringLength};
    size_t at = r->data.size();
    AppendLongs(r, s, 6);
    r->data.resize(at + struc, 0);
    MQBYTE *dst = r->data.data() + at + MQCFSL_STRUC_LENGTH_FIXED;
    for (MQLONG i = 0; i < count; i++, dst += n) {
        size_t len = strnlen(strings[i], n);
        memcpy(dst, strings[i], len);
        memset(dst + len, ' ', n - len);
    }
    CountParm(r);
}

void ReplyAddBytes(PCFREPLY *r, MQLONG id, const MQBYTE *bytes, MQLONG len) {
    size_t struc = RoundUp4(MQCFBS_STRUC_LENGTH_FIXED + (size_t)len);
    MQLONG s[4] = {MQCFT_BYTE_STRING, (MQLONG)struc, id, len};
    size_t at = r->data.size();
    AppendLongs(r, s, 4);
    r->data.resize(at + struc, 0);
    if (len > 0)
        memcpy(r->data.data() + at + MQCFBS_STRUC_LENGTH_FIXED, bytes, (size_t)len);
    CountParm(r);
}
