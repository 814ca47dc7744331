/* consolidate.cpp -- compression and coalescing of the command server's
 * replies into few large messages for the requester.
 *
 * Owns: nothing global; each REQUEST owns its pending reply buffer.
 * Threads: the consumer thread, or the worker a reply handler has handed
 * its request to; never two threads on one request. No lock is taken.
 *
 * Replies are untrusted: their structures are read with the PCF reader,
 * which checks every length and count before it is used. Compression stops
 * at the first structure it cannot trust and keeps the rest as it came; a
 * reply whose structures do not fill it exactly is never merged with
 * another. No merged message is longer than the request's maximum message
 * size; a single reply that alone is longer goes out as it came.
 */
#include <cstdint>
#include <cstring>

#include "config/settings.h"
#include "log/runstate.h"
#include "log/output.h"
#include "mqconst/mqpcf.h"
#include "mq/queues.h"
#include "mqconst/mqconst.h"
#include "pcf/pcf.h"
#include "routing/routing.h"

/* Offsets of the MQCFH fields that consolidation reads and writes. */
enum {
    CFH_TYPE = 0,
    CFH_STRUC_LENGTH = 4,
    CFH_COMMAND = 12,
    CFH_MSG_SEQ_NUMBER = 16,
    CFH_CONTROL = 20,
    CFH_COMP_CODE = 24,
    CFH_PARAMETER_COUNT = 32,
};

/* Offsets in a parameter structure. */
enum {
    PARM_STRUC_LENGTH = 4,
    CFST_STRING_LENGTH = 16, /* MQCFST StringLength */
};

static const MQLONG PendingGrain = 65536;       /* pending buffers grow in these steps */
static const MQLONG CoalescedControl = 0x10000; /* marks a merged reply's Control */
static const MQLONG ZosJoinMark = '*';          /* ninth character of joined text */
static const MQLONG ZosJoinMarkOffset = 8;
static const MQLONG TextGrowSlack = 10; /* room asked beyond joined text */
static const MQLONG WalkSlack = 8;      /* room the walk may write beyond its output */

static inline MQLONG GetLong(const MQBYTE *p) {
    MQLONG v;
    memcpy(&v, p, sizeof(v));
    return v;
}
static inline void PutLong(MQBYTE *p, MQLONG v) {
    memcpy(p, &v, sizeof(v));
}

/* Copy n bytes from src to dst. With slack set, up to 7 bytes more may be
 * read from src and written to dst (both have room for them): whole words
 * instead of a call for the short structures of a reply. */
static inline void CopyShort(MQBYTE *dst, const MQBYTE *src, MQLONG n, int slack) {
    if (!slack || n > 128) {
        memcpy(dst, src, (size_t)n);
        return;
    }
    for (MQLONG i = 0; i < n; i += 8) {
        uint64_t w;
        memcpy(&w, src + i, sizeof w);
        memcpy(dst + i, &w, sizeof w);
    }
}

static int FormatIs(const MQMD *md, const char *format);
static int IsZosText(const MQMD *md);
static MQLONG TrimmedLength(const MQBYTE *text, MQLONG length);
static int PcfMessageIsSound(const MQBYTE *msg, MQLONG len);
static int GrowPending(REQUEST *req, int64_t need);
static MQBYTE *TakeSpare(int64_t capacity, MQLONG *got);
static void KeepOrFree(MQBYTE *buffer, MQLONG capacity);
static MQLONG PutPending(REQUEST *req, MQMD *md, int passContext);
static void SendPending(REQUEST *req, MQMD *md, int passContext, MQLONG *putRc);
static int Consolidate(REQUEST *req, MQMD *md, MQBYTE *msg, MQLONG len, int compress,
                       int passContext, MQLONG *putRc);
static int CompressCoalesce(REQUEST *req, MQMD *md, MQBYTE *msg, MQLONG *len, int *sound);
static MQLONG CompressChecked(MQBYTE *msg, MQLONG len, int *sound);
static MQLONG WalkReply(const MQBYTE *msg, MQLONG len, MQBYTE *out, int *sound);
static int Store(REQUEST *req, MQMD *md, MQBYTE *msg, MQLONG len, int sound);
static int Coalesce(REQUEST *req, MQMD *md, MQBYTE *msg, MQLONG len, int sound);
static int Sound(const MQBYTE *msg, MQLONG len, int sound);

/* ---- Compression -------------------------------------------------------- */

MQLONG CompressReply(MQBYTE *msg, MQLONG len) {
    int sound;
    return CompressChecked(msg, len, &sound);
}

/* CompressReply that also tells whether the reply is sound (as
 * PcfMessageIsSound would tell of the compressed reply: compression keeps
 * every structure's soundness), so that keeping it needs no second walk. */
static MQLONG CompressChecked(MQBYTE *msg, MQLONG len, int *sound) {
    *sound = 0;
    if (msg == nullptr || len < MQCFH_STRUC_LENGTH)
        return len;
    return MQCFH_STRUC_LENGTH + WalkReply(msg, len, msg + MQCFH_STRUC_LENGTH, sound);
}

/* The one walk of a PCF reply (msg, len bytes, at least an MQCFH), on the
 * PCF reader: it checks the reply's structures and, when out is given, cuts
 * the trailing blanks of its strings longer than 4 bytes on the way.
 * out: null to check only; msg + 36 to compress in place; or a buffer with
 * room for len - 36 + WalkSlack bytes.
 * Compression stops at the first structure of a type it does not compress
 * (CVLA301E; the check goes on past it), the walk at the first structure it
 * cannot trust: one the reader refuses, or whose StrucLength is not a
 * multiple of 4 or not the length the reader stepped over. Whatever
 * compression did not reach is written as it came.
 * *sound: 1 when the header is 36 bytes long, ParameterCount is not
 * negative and the counted structures, with the members of their groups,
 * are all trusted and end exactly at len. Returns the bytes written to out
 * (0 when out is null). */
static MQLONG WalkReply(const MQBYTE *msg, MQLONG len, MQBYTE *out, int *sound) {
    const int inPlace = out == msg + MQCFH_STRUC_LENGTH;
    PCFCTX ctx;
    PCFStartRead(&ctx, msg, len);
    MQLONG read = MQCFH_STRUC_LENGTH; /* the next structure */
    MQLONG write = 0;
    MQLONG run = MQCFH_STRUC_LENGTH;  /* first byte not yet written: structures kept as they
                                         came are written in runs */
    int compressing = out != nullptr; /* 0 from a structure compression cannot pass */
    int trusted = 1;

    for (;;) {
        /* Integers are kept as they came: stepped over in runs. */
        if (PCFSkipIntegers(&ctx) > 0)
            read = ctx.offset;
        MQLONG type, parmId, length, count, compCode, reason;
        const MQBYTE *value;
        PCFNextParm(&ctx, &type, &parmId, &value, &length, &count, &compCode, &reason);
        if (reason == MQRCCF_CFH_TYPE_ERROR) {
            /* A type the reader does not know: not compressed, stepped over. */
            type = GetLong(msg + read);
            reason = PCFSkipParm(&ctx);
        } else if (type == PCF_GROUP_END) {
            continue;
        }
        if (reason != MQRC_NONE) {
            trusted = reason == PCF_END_OF_PARMS;
            break;
        }
        const MQBYTE *p = msg + read;
        const MQLONG step = ctx.offset - read;
        /* The reader steps over StrucLength bytes, except for a group (16)
         * and the agent's bare item (4), whose StrucLength may say else. */
        if ((step & 3) != 0 || ((type == MQCFT_GROUP || type == PCFT_BARE) &&
                                (step < 8 || GetLong(p + PARM_STRUC_LENGTH) != step))) {
            trusted = 0;
            break;
        }
        read = ctx.offset;
        if (!compressing || type == MQCFT_INTEGER)
            continue;
        switch (type) {
            case MQCFT_INTEGER_LIST:
            case MQCFT_STRING_LIST:
            case MQCFT_BYTE_STRING:
                continue;
            case MQCFT_STRING:
                break;
            default:
                OutputMessage(0, OUTF_NORMAL, "CVLA301E Can not compress PCF type %d\n", (int)type);
                compressing = 0;
                continue;
        }
        if (length <= 4)
            continue;
        const MQLONG newLength = TrimmedLength(value, length);
        if (newLength == length)
            continue;
        /* The structures kept before it, then the cut string. */
        const MQLONG start = (MQLONG)(p - msg);
        const MQLONG kept = MQCFST_STRUC_LENGTH_FIXED + newLength;
        const MQLONG newStruc = (kept + 3) & ~3;
        MQBYTE *o = out + write + (start - run);
        if (inPlace) {
            memmove(out + write, msg + run, (size_t)(start - run));
            memmove(o, p, (size_t)kept);
        } else {
            memcpy(out + write, msg + run, (size_t)(start - run));
            CopyShort(o, p, kept, read + 8 <= len);
        }
        for (MQLONG pad = kept; pad < newStruc; pad++)
            o[pad] = 0;
        PutLong(o + PARM_STRUC_LENGTH, newStruc);
        PutLong(o + CFST_STRING_LENGTH, newLength);
        write += start - run + newStruc;
        run = read;
    }
    *sound = trusted && ctx.offset == len && GetLong(msg + CFH_PARAMETER_COUNT) >= 0 &&
             GetLong(msg + CFH_STRUC_LENGTH) == MQCFH_STRUC_LENGTH;
    if (out == nullptr)
        return 0;
    /* Whatever compression did not reach stays as it came. */
    if (inPlace)
        memmove(out + write, msg + run, (size_t)(len - run));
    else
        memcpy(out + write, msg + run, (size_t)(len - run));
    return write + (len - run);
}

/* The append of a PCF reply still to be compressed, in one walk into the
 * pending message. Returns 1 when it was merged; 0 when it was not, msg then
 * being compressed in place (*len its new length, *sound whether it is
 * sound) for the usual path. */
static int CompressCoalesce(REQUEST *req, MQMD *md, MQBYTE *msg, MQLONG *len, int *sound) {
    MQLONG length = *len;
    int64_t used = req->pendingLength;
    /* Replies that will not be merged whatever their size, and replies for
     * which the pending buffer must grow first (once per grain), take the
     * usual path. */
    if (length < MQCFH_STRUC_LENGTH || req->pending == nullptr || used == 0 ||
        !req->pendingMergeable || !FormatIs(md, MQFMT_ADMIN) ||
        GetLong(req->pending + CFH_COMP_CODE) != MQCC_OK ||
        GetLong(msg + CFH_COMP_CODE) != MQCC_OK || used + MQCFH_STRUC_LENGTH > req->maxMsgSize ||
        used + length - (MQCFH_STRUC_LENGTH - MQCFIN_STRUC_LENGTH) + WalkSlack >
            req->pendingCapacity) {
        *len = CompressChecked(msg, length, sound);
        return 0;
    }
    MQBYTE *out = req->pending + used + MQCFIN_STRUC_LENGTH;
    MQLONG written = WalkReply(msg, length, out, sound);
    MQLONG compressed = MQCFH_STRUC_LENGTH + written;
    if (!*sound || used + compressed > (int64_t)req->maxMsgSize) {
        /* Not merged: the compressed reply goes back where it came from. */
        memcpy(msg + MQCFH_STRUC_LENGTH, out, (size_t)written);
        *len = compressed;
        return 0;
    }
    MQLONG separator[4] = {MQCFT_INTEGER, MQCFIN_STRUC_LENGTH, CVL_ATTR_RESPONSE_DELIMITER,
                           GetLong(msg + CFH_TYPE)};
    memcpy(req->pending + used, separator, sizeof(separator));
    req->pendingLength = (MQLONG)(used + MQCFIN_STRUC_LENGTH + written);
    MQBYTE *cfh = req->pending;
    PutLong(cfh + CFH_PARAMETER_COUNT,
            GetLong(cfh + CFH_PARAMETER_COUNT) + GetLong(msg + CFH_PARAMETER_COUNT) + 1);
    PutLong(cfh + CFH_CONTROL, GetLong(msg + CFH_CONTROL) | CoalescedControl);
    PutLong(cfh + CFH_MSG_SEQ_NUMBER, GetLong(msg + CFH_MSG_SEQ_NUMBER));
    *len = compressed;
    return 1;
}

/* ---- Consolidation ------------------------------------------------------ */

int ConsolidateReply(REQUEST *req, MQMD *md, MQBYTE *msg, MQLONG len, int passContext,
                     MQLONG *putRc) {
    return Consolidate(req, md, msg, len, 0, passContext, putRc);
}

int CompressConsolidateReply(REQUEST *req, MQMD *md, MQBYTE *msg, MQLONG len, int passContext,
                             MQLONG *putRc) {
    return Consolidate(req, md, msg, len, FormatIs(md, MQFMT_ADMIN), passContext, putRc);
}

/* ConsolidateReply; with compress set, msg is a PCF reply still to be
 * compressed: merged in one walk when it is appended, compressed in place
 * before any other use. */
static int Consolidate(REQUEST *req, MQMD *md, MQBYTE *msg, MQLONG len, int compress,
                       int passContext, MQLONG *putRc) {
    int actions = 0;
    if (putRc != nullptr)
        *putRc = MQRC_NONE;
    if (len < 0)
        len = 0;

    if (FormatIs(md, MQFMT_ADMIN) && len >= MQCFH_STRUC_LENGTH) {
        if (GetLong(msg + CFH_CONTROL) & MQCFC_LAST)
            actions = CONSOLIDATE_FINAL | (req->pending != nullptr ? CONSOLIDATE_APPEND : 0);
        else
            actions = CONSOLIDATE_APPEND;
        /* The agent's parameters go once, with the queue manager's
         * attributes: not to a z/OS summary or message reply. */
        MQLONG type = GetLong(msg + CFH_TYPE);
        if (GetLong(msg + CFH_COMMAND) == MQCMD_INQUIRE_Q_MGR && type != MQCFT_XR_SUMMARY &&
            type != MQCFT_XR_MSG)
            actions |= CONSOLIDATE_AGENTINFO;
    } else if (IsZosText(md)) {
        actions = req->pending != nullptr ? CONSOLIDATE_APPEND : CONSOLIDATE_STORE;
        if (IsZosCompletionLine(msg, len))
            actions |= CONSOLIDATE_FINAL;
    } else {
        /* Any other format, and a PCF reply too short to hold its header:
         * passed on as it came, and the request is complete. */
        actions = CONSOLIDATE_FINAL;
    }

    if (!FlagIsSet(FLAG_COALESCE)) {
        actions &= ~CONSOLIDATE_APPEND;
        actions |= CONSOLIDATE_STORE;
    }

    int merged = 0;
    int sound = -1; /* not known until a walk of the reply */
    if (compress) {
        if (actions & CONSOLIDATE_APPEND)
            merged = CompressCoalesce(req, md, msg, &len, &sound);
        else
            len = CompressChecked(msg, len, &sound);
    }
    if (merged)
        ;
    else if (actions & CONSOLIDATE_APPEND)
        Coalesce(req, md, msg, len, sound);
    else if (actions & CONSOLIDATE_STORE)
        Store(req, md, msg, len, sound);

    if (actions & CONSOLIDATE_AGENTINFO) {
        if (!(actions & (CONSOLIDATE_STORE | CONSOLIDATE_APPEND)))
            Store(req, md, msg, len, sound);
        AppendAgentInfo(req, md);
    }

    if (actions & CONSOLIDATE_FINAL) {
        if ((actions & (CONSOLIDATE_STORE | CONSOLIDATE_APPEND | CONSOLIDATE_AGENTINFO)) &&
            req->pending != nullptr) {
            SendPending(req, md, passContext, putRc);
        } else {
            /* Nothing to merge into (a reply of another format, or no
             * memory to keep it): what is pending goes first, as it is,
             * then the reply itself is the last message. */
            if (req->pending != nullptr && req->pendingLength != 0) {
                PutPending(req, md, 1);
                req->pendingLength = 0;
            }
            MQLONG rc = PutReply(req, md, msg, len, passContext);
            if (putRc != nullptr)
                *putRc = rc;
        }
        req->complete = 1;
        if (Settings.verbosity == VERBOSITY_MEDIUM) {
            if (req->replyCount == 1)
                OutputMessage(2, OUTF_NORMAL,
                              "CVLA403I Received reply message of length %d bytes\n",
                              (int)req->replyBytes);
            else
                OutputMessage(2, OUTF_NORMAL,
                              "CVLA404I Received %d reply messages of total length %d bytes\n",
                              (int)req->replyCount, (int)req->replyBytes);
        }
    }
    return req->complete;
}

int StoreReply(REQUEST *req, MQMD *md, MQBYTE *msg, MQLONG len) {
    return Store(req, md, msg, len, -1);
}

/* StoreReply of a reply whose soundness is known (sound 0 or 1) or not yet
 * (-1). */
static int Store(REQUEST *req, MQMD *md, MQBYTE *msg, MQLONG len, int sound) {
    if (len < 0)
        len = 0;
    if (req->pending != nullptr) {
        if (req->pendingLength != 0)
            PutPending(req, md, 1);
        if (req->pendingCapacity < len) {
            ReleasePending(req);
            req->pendingMergeable = 0;
        } else {
            if (len > 0)
                memcpy(req->pending, msg, (size_t)len);
            req->pendingLength = len;
            req->pendingMergeable = FormatIs(md, MQFMT_ADMIN) && Sound(msg, len, sound);
            memcpy(req->pendingFormat, md->Format, MQ_FORMAT_LENGTH);
            return 0;
        }
    }
    MQBYTE *buffer = (MQBYTE *)CSGetMem((size_t)len);
    if (buffer == nullptr) {
        OutputMessage(0, OUTF_NORMAL, "CVLA201E Can not allocate %d bytes for a message! \n",
                      (int)len);
        return 1;
    }
    if (len > 0)
        memcpy(buffer, msg, (size_t)len);
    req->pending = buffer;
    req->pendingCapacity = len;
    req->pendingLength = len;
    req->pendingMergeable = FormatIs(md, MQFMT_ADMIN) && Sound(msg, len, sound);
    memcpy(req->pendingFormat, md->Format, MQ_FORMAT_LENGTH);
    return 0;
}

int CoalesceReply(REQUEST *req, MQMD *md, MQBYTE *msg, MQLONG len) {
    return Coalesce(req, md, msg, len, -1);
}

/* CoalesceReply of a reply whose soundness is known (sound 0 or 1) or not
 * yet (-1). */
static int Coalesce(REQUEST *req, MQMD *md, MQBYTE *msg, MQLONG len, int sound) {
    if (len < 0)
        len = 0;
    int64_t used = req->pendingLength;
    if (req->pending == nullptr || used == 0 || used + len > (int64_t)req->maxMsgSize)
        return Store(req, md, msg, len, sound);

    if (FormatIs(md, MQFMT_ADMIN)) {
        /* Error replies are never merged, nor replies whose structures
         * cannot be trusted. */
        if (!req->pendingMergeable || len < MQCFH_STRUC_LENGTH ||
            GetLong(req->pending + CFH_COMP_CODE) != MQCC_OK ||
            GetLong(msg + CFH_COMP_CODE) != MQCC_OK || !Sound(msg, len, sound))
            return Store(req, md, msg, len, sound);
        int64_t need = used + len - (MQCFH_STRUC_LENGTH - MQCFIN_STRUC_LENGTH);
        if (GrowPending(req, need) != 0)
            return Store(req, md, msg, len, sound);

        MQBYTE *out = req->pending + used;
        MQLONG separator[4] = {MQCFT_INTEGER, MQCFIN_STRUC_LENGTH, CVL_ATTR_RESPONSE_DELIMITER,
                               GetLong(msg + CFH_TYPE)};
        memcpy(out, separator, sizeof(separator));
        memcpy(out + MQCFIN_STRUC_LENGTH, msg + MQCFH_STRUC_LENGTH,
               (size_t)(len - MQCFH_STRUC_LENGTH));
        req->pendingLength = (MQLONG)need;

        MQBYTE *cfh = req->pending;
        PutLong(cfh + CFH_PARAMETER_COUNT,
                GetLong(cfh + CFH_PARAMETER_COUNT) + GetLong(msg + CFH_PARAMETER_COUNT) + 1);
        PutLong(cfh + CFH_CONTROL, GetLong(msg + CFH_CONTROL) | CoalescedControl);
        PutLong(cfh + CFH_MSG_SEQ_NUMBER, GetLong(msg + CFH_MSG_SEQ_NUMBER));
        return 0;
    }

    if (IsZosText(md)) {
        /* Text is joined only to text: a PCF message pending is sent as
         * it is. The joined text takes one zero byte more than its parts. */
        int64_t need = used + len + 1;
        if (need > (int64_t)req->maxMsgSize ||
            (memcmp(req->pendingFormat, MQFMT_COMMAND_1, MQ_FORMAT_LENGTH) != 0 &&
             memcmp(req->pendingFormat, MQFMT_COMMAND_2, MQ_FORMAT_LENGTH) != 0))
            return Store(req, md, msg, len, sound);
        if (GrowPending(req, used + len + TextGrowSlack) != 0)
            return Store(req, md, msg, len, sound);
        if (used > ZosJoinMarkOffset)
            req->pending[ZosJoinMarkOffset] = (MQBYTE)ZosJoinMark;
        req->pending[used] = 0;
        if (len > 0)
            memcpy(req->pending + used + 1, msg, (size_t)len);
        req->pendingLength = (MQLONG)need;
        req->pendingMergeable = 0;
        return 0;
    }
    return 0;
}

int AppendAgentInfo(REQUEST *req, MQMD *md) {
    int64_t used = req->pendingLength;
    if (req->pending == nullptr || used < MQCFH_STRUC_LENGTH || !FormatIs(md, MQFMT_ADMIN) ||
        !req->pendingMergeable || GetLong(req->pending + CFH_COMP_CODE) != MQCC_OK)
        return 0;
    int64_t need = used + 2 * MQCFIN_STRUC_LENGTH;
    /* The agent's parameters never push a message past the size limit. */
    if (need > (int64_t)req->maxMsgSize)
        return 0;
    if (GrowPending(req, need) != 0)
        return 1;
    MQLONG info[8] = {
        MQCFT_INTEGER, MQCFIN_STRUC_LENGTH, CVL_ATTR_TORVIK_CMDLEVEL, TORVIK_CMDLEVEL,
        MQCFT_INTEGER, MQCFIN_STRUC_LENGTH, CVL_ATTR_TORVIK_FEATURES, AgentFeatureBits()};
    memcpy(req->pending + used, info, sizeof(info));
    PutLong(req->pending + CFH_PARAMETER_COUNT, GetLong(req->pending + CFH_PARAMETER_COUNT) + 2);
    req->pendingLength = (MQLONG)need;
    return 0;
}

MQLONG AgentFeatureBits(void) {
    MQLONG bits = 0;
    if (FlagIsSet(FLAG_COALESCE))
        bits |= 2;
    if (FlagIsSet(FLAG_COMPRESS))
        bits |= 4;
    if (FlagIsSet(FLAG_CERTDISPLAY))
        bits |= 8;
    int32_t certEvent = Settings.certEvent.load(std::memory_order_relaxed);
    if (certEvent == CERTEVENT_YES || certEvent == CERTEVENT_ASQMGR)
        bits |= 16;
    return bits;
}

/* ---- Helpers ------------------------------------------------------------ */

static int FormatIs(const MQMD *md, const char *format) {
    return memcmp(md->Format, format, MQ_FORMAT_LENGTH) == 0;
}

static int IsZosText(const MQMD *md) {
    return FormatIs(md, MQFMT_COMMAND_1) || FormatIs(md, MQFMT_COMMAND_2);
}

/* Length of text without its trailing blanks: 32, then 8 bytes at a time. */
static MQLONG TrimmedLength(const MQBYTE *text, MQLONG length) {
    static const uint64_t blanks = 0x2020202020202020ULL;
    while (length >= 32) {
        uint64_t w0, w1, w2, w3; /* words, not an array: kept in registers */
        memcpy(&w0, text + length - 32, 8);
        memcpy(&w1, text + length - 24, 8);
        memcpy(&w2, text + length - 16, 8);
        memcpy(&w3, text + length - 8, 8);
        if (((w0 ^ blanks) | (w1 ^ blanks) | (w2 ^ blanks) | (w3 ^ blanks)) != 0)
            break;
        length -= 32;
    }
    while (length >= 8) {
        uint64_t word;
        memcpy(&word, text + length - 8, sizeof word);
        if (word != blanks)
            break;
        length -= 8;
    }
    while (length > 0 && text[length - 1] == ' ')
        length--;
    return length;
}

/* 1 when msg is a PCF message whose header is 36 bytes and whose
 * ParameterCount structures (with the members of their groups) can be
 * trusted and end exactly at len. */
static int PcfMessageIsSound(const MQBYTE *msg, MQLONG len) {
    if (len < MQCFH_STRUC_LENGTH)
        return 0;
    int sound;
    WalkReply(msg, len, nullptr, &sound);
    return sound;
}

/* Whether msg is sound: sound when a walk has told (0 or 1), else a walk. */
static int Sound(const MQBYTE *msg, MQLONG len, int sound) {
    return sound >= 0 ? sound : PcfMessageIsSound(msg, len);
}

/* Make req's pending buffer hold at least need bytes, keeping its content.
 * Capacities are multiples of PendingGrain: the next one above need, or
 * twice the old capacity while that stays within the request's limit, so
 * that a large message is not copied once per grain. Returns 0, or 1 after
 * CVLA201E (the pending buffer is unchanged). */
static int GrowPending(REQUEST *req, int64_t need) {
    if (need <= req->pendingCapacity)
        return 0;
    int64_t capacity = (need + PendingGrain) / PendingGrain * PendingGrain;
    int64_t doubled = (int64_t)req->pendingCapacity * 2 / PendingGrain * PendingGrain;
    int64_t limit =
        ((int64_t)req->maxMsgSize + TextGrowSlack + PendingGrain) / PendingGrain * PendingGrain;
    if (doubled > capacity && doubled <= limit)
        capacity = doubled;
    if (capacity > 0x7FFFFFFF) {
        OutputMessage(0, OUTF_NORMAL, "CVLA201E Can not allocate %d bytes for a message! \n",
                      0x7FFFFFFF);
        return 1;
    }
    MQLONG got = 0;
    MQBYTE *buffer = TakeSpare(capacity, &got);
    if (buffer == nullptr) {
        buffer = (MQBYTE *)CSGetMem((size_t)capacity);
        got = (MQLONG)capacity;
    }
    if (buffer == nullptr) {
        OutputMessage(0, OUTF_NORMAL, "CVLA201E Can not allocate %d bytes for a message! \n",
                      (int)capacity);
        return 1;
    }
    if (req->pendingLength > 0)
        memcpy(buffer, req->pending, (size_t)req->pendingLength);
    KeepOrFree(req->pending, req->pendingCapacity);
    req->pending = buffer;
    req->pendingCapacity = got;
    return 0;
}

/* ---- The spare pending buffer --------------------------------------------
 * A grown pending buffer given back by one request is kept for the next
 * one, so that each large reply set does not make the heap grow and shrink
 * (and the system fault its pages in again). One buffer at most: the
 * largest given back. */

static CSLOCK SpareLock;              /* guards the two below */
static MQBYTE *SpareBuffer = nullptr; /* owned here; null when none is kept */
static MQLONG SpareCapacity = 0;      /* its size */

/* The spare buffer when it holds at least capacity bytes (its size in
 * *got), else null. */
static MQBYTE *TakeSpare(int64_t capacity, MQLONG *got) {
    CSLockLock(&SpareLock);
    MQBYTE *buffer = nullptr;
    if (SpareBuffer != nullptr && SpareCapacity >= capacity) {
        buffer = SpareBuffer;
        *got = SpareCapacity;
        SpareBuffer = nullptr;
        SpareCapacity = 0;
    }
    CSUnlockLock(&SpareLock);
    return buffer;
}

/* Keep buffer (capacity bytes, owned by the caller until now) as the spare
 * when it is a grown one larger than the spare, else free it. */
static void KeepOrFree(MQBYTE *buffer, MQLONG capacity) {
    if (buffer == nullptr)
        return;
    if (capacity >= PendingGrain) {
        CSLockLock(&SpareLock);
        if (SpareCapacity < capacity) {
            MQBYTE *old = SpareBuffer;
            SpareBuffer = buffer;
            SpareCapacity = capacity;
            buffer = old;
        }
        CSUnlockLock(&SpareLock);
    }
    CSFreeMem(buffer);
}

void ReleasePending(REQUEST *req) {
    KeepOrFree(req->pending, req->pendingCapacity);
    req->pending = nullptr;
    req->pendingCapacity = 0;
    req->pendingLength = 0;
}

void FreeSparePending(void) {
    CSLockLock(&SpareLock);
    MQBYTE *buffer = SpareBuffer;
    SpareBuffer = nullptr;
    SpareCapacity = 0;
    CSUnlockLock(&SpareLock);
    CSFreeMem(buffer);
}

/* Put the pending message in the format of the reply it was made from
 * (md's other fields are those of the reply being processed, and md's
 * Format is as it was afterwards), so that a reply of one format is never
 * sent as another. Returns PutReply's reason. */
static MQLONG PutPending(REQUEST *req, MQMD *md, int passContext) {
    MQCHAR format[MQ_FORMAT_LENGTH];
    memcpy(format, md->Format, sizeof format);
    if (req->pendingFormat[0] != '\0')
        memcpy(md->Format, req->pendingFormat, sizeof format);
    MQLONG rc = PutReply(req, md, req->pending, req->pendingLength, passContext);
    memcpy(md->Format, format, sizeof format);
    return rc;
}

/* Final send of the pending message (or of nothing, when it is empty). */
static void SendPending(REQUEST *req, MQMD *md, int passContext, MQLONG *putRc) {
    MQLONG rc = PutPending(req, md, passContext);
    if (putRc != nullptr)
        *putRc = rc;
    req->pendingLength = 0;
}
