/* mqsc_render.cpp -- TORVIK's own PCF replies as MQSC text or escape
 * responses, local replies through consolidation, failure responses, and
 * the registration of the MQSC handlers with routing.
 *
 * Owns: nothing.
 * Threads: the consumer thread, or the worker of a reply handler.
 *
 * Replies rendered here are built by the agent, but are still read with
 * the checking PCF reader: rendering stops at the first structure that
 * runs past the reply's end.
 */
#include "mqsc/mqsc_render.h"

#include <cinttypes>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "config/settings.h"
#include "log/cs.h"
#include "log/output.h"
#include "mqconst/mqconst.h"
#include "mqsc/mqsc_tables.h"
#include "mqsc/mqsc_translate.h"
#include "routing/routing.h"

/* Latest time shown as a date: 3000-12-31 23:59:59 UTC, the range of the
 * C library's 64-bit gmtime on the agent's platform. */
static const int64_t LatestShownTime = 32535215999LL;

/* Text being rendered: cap bytes at p, used so far, full once an item did
 * not fit (later items are left out, so the text ends at a whole item). */
struct TEXTOUT {
    char *p;
    MQLONG used;
    MQLONG cap;
    int full;
};

static void AppendItem(TEXTOUT *out, const char *a, MQLONG aLen, const char *b, MQLONG bLen,
                       const char *c, MQLONG cLen);
static void AppendFormatted(TEXTOUT *out, const char *fmt, ...) PL_PRINTF_FORMAT(2, 3);
static void RenderAttributes(TEXTOUT *out, const MQBYTE *msg, MQLONG length,
                             const MqscCommandDef *row);
static void RenderError(TEXTOUT *out, const MQBYTE *msg, MQLONG length, MQLONG reason,
                        const MqscCommandDef *row);
static int BreakDownTime(int64_t t, int *year, int *month, int *day, int *hour, int *minute,
                         int *second);
static const char *KeywordOf(MQLONG parmId);
static MQLONG SubstituteKeyword(char *out, MQLONG size, const char *text, const char *keyword);

static inline MQLONG GetLong(const MQBYTE *p) {
    MQLONG v;
    memcpy(&v, p, sizeof(v));
    return v;
}

/* ---- Rendering ----------------------------------------------------------- */

MQLONG RenderReplyAsMqsc(REQUEST *req, MQBYTE **msg, MQLONG *length) {
    if (req->requestType != REQTYPE_MQSC && req->requestType != REQTYPE_ESCAPE)
        return MQRC_NONE;
    if (*msg == nullptr || *length < MQCFH_STRUC_LENGTH) {
        PCFReportFailure(MQRCCF_MSG_LENGTH_ERROR);
        return MQRCCF_COMMAND_FAILED;
    }
    MQBYTE *buffer = (MQBYTE *)CSGetMem((size_t)PCF_MESSAGE_SIZE);
    if (buffer == nullptr) {
        OutputMessage(0, OUTF_NORMAL, "CVLA201E Can not allocate %d bytes for a message! \n",
                      (int)PCF_MESSAGE_SIZE);
        return MQRCCF_COMMAND_FAILED;
    }
    const MQBYTE *reply = *msg;
    const MQLONG command = GetLong(reply + offsetof(MQCFH, Command));
    const MQLONG compCode = GetLong(reply + offsetof(MQCFH, CompCode));
    const MQLONG reason = GetLong(reply + offsetof(MQCFH, Reason));
    const MqscCommandDef *row = FindCommandRow(command);

    const MQLONG base = req->requestType == REQTYPE_ESCAPE ? PCF_ESCAPE_HEADER_SIZE : 0;
    TEXTOUT out = {(char *)buffer + base, 0, PCF_MESSAGE_SIZE - base, 0};
    if (compCode == MQCC_OK || reason == MQRC_NONE) {
        if (command == CVL_CMD_DISPLAY_CERTIFICATE)
            AppendFormatted(&out, "CVLA700I Display Certificate details\n");
        RenderAttributes(&out, reply, *length, row);
    } else {
        RenderError(&out, reply, *length, reason, row);
    }
    if (base != 0)
        PCFEscapeHeader(buffer, out.used, command, reason);
    *msg = buffer;
    *length = base + out.used;
    return MQRC_NONE;
}

/* One item per parameter, in message order, group members included. */
static void RenderAttributes(TEXTOUT *out, const MQBYTE *msg, MQLONG length,
                             const MqscCommandDef *row) {
    PCFCTX ctx;
    PCFPARM parm;
    PCFStartRead(&ctx, msg, length);
    while (PCFNext(&ctx, &parm) && !out->full) {
        const MqscParamDef *param = FindParamRow(row != nullptr ? row->params : nullptr, parm.id);
        char name[24];
        const char *keyword = param != nullptr ? param->keyword : name;
        if (param == nullptr)
            snprintf(name, sizeof(name), "ATTR%d", (int)parm.id);
        switch (parm.type) {
            case MQCFT_INTEGER: {
                const MQLONG v = GetLong(parm.value);
                const ValueNameDef *vn = param != nullptr ? param->names : nullptr;
                while (vn != nullptr && vn->keyword[0] != '\0' && vn->value != v)
                    vn++;
                if (vn != nullptr && vn->keyword[0] != '\0')
                    AppendFormatted(out, "%s(%s) ", keyword, vn->keyword);
                else
                    AppendFormatted(out, "%s(%d) ", keyword, (int)v);
                break;
            }
            case MQCFT_STRING:
                if (parm.length == 0)
                    AppendItem(out, keyword, (MQLONG)strlen(keyword), "( ", 2, ") ", 2);
                else {
                    char open[64];
                    int n = snprintf(open, sizeof(open), "%s(", keyword);
                    AppendItem(out, open, n, (const char *)parm.value, parm.length, ") ", 2);
                }
                break;
            case MQCFT_INTEGER64: {
                int64_t v;
                memcpy(&v, parm.value, sizeof(v));
                int y, mo, d, h, mi, s;
                if (param == nullptr || param->type != 't')
                    AppendFormatted(out, "%s(%" PRId64 ") ", keyword, v);
                else if (BreakDownTime(v, &y, &mo, &d, &h, &mi, &s))
                    AppendFormatted(out, "%s(%4.4d-%2.2d-%2.2d %2.2d:%2.2d:%2.2d (UTC)) ", keyword,
                                    y, mo, d, h, mi, s);
                else
                    AppendFormatted(out, "%s(Unknown) ", keyword);
                break;
            }
            default:
                break; /* groups and other types show nothing */
        }
    }
}

/* Exactly one text for a failed reply: its own error text, an invalid
 * parameter, no matching objects, or the reason. */
static void RenderError(TEXTOUT *out, const MQBYTE *msg, MQLONG length, MQLONG reason,
                        const MqscCommandDef *row) {
    MQLONG parmId = 0;
    const MQBYTE *errorText = nullptr;
    MQLONG errorLength = 0;
    PCFCTX ctx;
    PCFPARM parm;
    PCFStartRead(&ctx, msg, length);
    while (PCFNext(&ctx, &parm)) {
        if (parm.type == MQCFT_INTEGER && parm.id == MQIACF_PARAMETER_ID)
            parmId = GetLong(parm.value);
        else if (parm.type == MQCFT_STRING && parm.id == CVL_ATTR_ERROR_TEXT) {
            errorText = parm.value;
            errorLength = parm.length;
        }
    }
    if (errorText != nullptr) {
        /* one text, cut to fit when it must be */
        MQLONG n = errorLength < out->cap ? errorLength : out->cap;
        memcpy(out->p, errorText, (size_t)n);
        out->used = n;
        return;
    }
    switch (reason) {
        case MQRCCF_CFIN_PARM_ID_ERROR:
        case MQRCCF_CFST_PARM_ID_ERROR:
        case MQRCCF_CFSL_PARM_ID_ERROR:
        case MQRCCF_CFIL_PARM_ID_ERROR:
        case MQRCCF_CFBS_PARM_ID_ERROR: {
            const MqscParamDef *param =
                FindParamRow(row != nullptr ? row->params : nullptr, parmId);
            const MQCONSTROW *known = param == nullptr ? ParameterRow(parmId) : nullptr;
            const char *name = param != nullptr   ? param->keyword
                               : known != nullptr ? known->desc
                                                  : "";
            AppendFormatted(out, "CVLA619E Invalid Parameter (%d) %s\n", (int)parmId, name);
            break;
        }
        case MQRC_UNKNOWN_OBJECT_NAME:
        case MQRCCF_UNKNOWN_OBJECT_NAME:
            AppendFormatted(out, "CVLA502I No Matching objects found");
            break;
        default:
            AppendFormatted(out, "CVLA199E TORVIK received reason code %d (%s)\n", (int)reason,
                            ReasonText(reason));
            break;
    }
}

/* Append a, b and c as one item, or nothing (and mark the text full). */
static void AppendItem(TEXTOUT *out, const char *a, MQLONG aLen, const char *b, MQLONG bLen,
                       const char *c, MQLONG cLen) {
    if (out->full || (int64_t)aLen + bLen + cLen > out->cap - out->used) {
        out->full = 1;
        return;
    }
    memcpy(out->p + out->used, a, (size_t)aLen);
    memcpy(out->p + out->used + aLen, b, (size_t)bLen);
    memcpy(out->p + out->used + aLen + bLen, c, (size_t)cLen);
    out->used += aLen + bLen + cLen;
}

static void AppendFormatted(TEXTOUT *out, const char *fmt, ...) {
    char item[512]; /* keywords, numbers and fixed texts only */
    va_list args;
    va_start(args, fmt);
    int n = vsnprintf(item, sizeof(item), fmt, args);
    va_end(args);
    if (n < 0)
        return;
    if (n >= (int)sizeof(item))
        n = (int)sizeof(item) - 1;
    AppendItem(out, item, n, "", 0, "", 0);
}

/* Seconds since 1970 as a UTC calendar time; 0 for times before 1970 or
 * after LatestShownTime, which are shown as unknown. */
static int BreakDownTime(int64_t t, int *year, int *month, int *day, int *hour, int *minute,
                         int *second) {
    if (t < 0 || t > LatestShownTime)
        return 0;
    int64_t days = t / 86400, rest = t % 86400;
    *hour = (int)(rest / 3600);
    *minute = (int)(rest % 3600 / 60);
    *second = (int)(rest % 60);
    /* Civil date from a day count, in 400-year eras starting 0000-03-01. */
    days += 719468;
    const int64_t era = days / 146097;
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    *day = (int)(doy - (153 * mp + 2) / 5 + 1);
    *month = (int)(mp < 10 ? mp + 3 : mp - 9);
    *year = (int)(yoe + era * 400 + (*month <= 2 ? 1 : 0));
    return 1;
}

/* ---- Local replies ------------------------------------------------------- */

void InitLocalReplyMd(MQMD *md, MQLONG requestType) {
    *md = MQMD_DEFAULT;
    md->Version = MQMD_VERSION_1;
    md->MsgType = MQMT_REPLY;
    md->Expiry = MQEI_UNLIMITED;
    md->Feedback = MQFB_NONE;
    md->Encoding = MQENC_NATIVE;
    md->CodedCharSetId = MQCCSI_DEFAULT;
    md->Priority = MQPRI_PRIORITY_AS_Q_DEF;
    md->Persistence = MQPER_PERSISTENCE_AS_Q_DEF;
    md->MsgSeqNumber = 1;
    md->MsgFlags = MQMF_NONE;
    md->OriginalLength = MQOL_UNDEFINED;
    memcpy(md->Format, requestType == REQTYPE_MQSC ? MQFMT_STRING : MQFMT_ADMIN, MQ_FORMAT_LENGTH);
}

MQLONG SendLocalReply(REQUEST *req, MQBYTE *msg, MQLONG length) {
    if (length == -1 || length == -2)
        length = (MQLONG)strlen((const char *)msg);
    MQBYTE *out = msg;
    MQLONG outLength = length;
    if (req->requestType == REQTYPE_MQSC || req->requestType == REQTYPE_ESCAPE) {
        MQLONG rc = RenderReplyAsMqsc(req, &out, &outLength);
        if (rc != MQRC_NONE)
            return rc;
    }
    MQMD md;
    InitLocalReplyMd(&md, req->requestType);
    ConsolidateReply(req, &md, out, outLength, 0, nullptr);
    if (out != msg)
        CSFreeMem(out);
    return MQRC_NONE;
}

/* ---- Failure responses --------------------------------------------------- */

MQLONG PCFErrorResponse(REQUEST *req, MQLONG command, MQLONG reason, MQLONG parmId,
                        const char *text) {
    MQBYTE *buffer = (MQBYTE *)CSGetMem((size_t)PCF_MESSAGE_SIZE);
    if (buffer == nullptr) {
        OutputMessage(0, OUTF_NORMAL, "CVLA201E Can not allocate %d bytes for a message! \n",
                      (int)PCF_MESSAGE_SIZE);
        return MQRC_STORAGE_NOT_AVAILABLE;
    }
    /* The text with its keyword goes to the end of the buffer, where the
     * response being built cannot reach while the text still fits. */
    const char *keyword = nullptr;
    if (text != nullptr && parmId != 0 && strstr(text, "%s") != nullptr)
        keyword = KeywordOf(parmId);
    char *formatted = nullptr;
    if (keyword != nullptr) {
        const MQLONG size = PCF_MESSAGE_SIZE / 2;
        formatted = (char *)buffer + PCF_MESSAGE_SIZE - size;
        SubstituteKeyword(formatted, size, text, keyword);
    }
    MQLONG length = PCFBuildErrorResponse(
        buffer, formatted != nullptr ? PCF_MESSAGE_SIZE / 2 : PCF_MESSAGE_SIZE, command, reason,
        parmId, formatted != nullptr ? formatted : text);
    MQLONG rc = SendLocalReply(req, buffer, length);
    CSFreeMem(buffer);
    return rc;
}

MQLONG PCFParmError(REQUEST *req, const PCFCTX *ctx, MQLONG reason, const char *format) {
    char text[200] = "";
    const MqscCommandDef *row = FindCommandRow(ctx->command);
    const MqscParamDef *param = FindParamRow(row != nullptr ? row->params : nullptr, ctx->lastId);
    if (param != nullptr && format != nullptr)
        SubstituteKeyword(text, (MQLONG)sizeof(text), format, param->keyword);
    return PCFErrorResponse(req, ctx->command, reason, ctx->lastId, text);
}

/* text into out (size bytes, NUL-terminated, cut to fit) with its first
 * "%s" replaced by keyword; nothing else in text is interpreted. Returns
 * the length written. */
static MQLONG SubstituteKeyword(char *out, MQLONG size, const char *text, const char *keyword) {
    MQLONG used = 0;
    const char *at = strstr(text, "%s");
    const char *pieces[3] = {text, keyword, at != nullptr ? at + 2 : ""};
    size_t lengths[3] = {at != nullptr ? (size_t)(at - text) : strlen(text),
                         at != nullptr ? strlen(keyword) : 0, strlen(pieces[2])};
    for (int i = 0; i < 3; i++) {
        size_t n = lengths[i];
        if (n > (size_t)(size - 1 - used))
            n = (size_t)(size - 1 - used);
        memcpy(out + used, pieces[i], n);
        used += (MQLONG)n;
    }
    out[used] = '\0';
    return used;
}

/* The keyword of parmId in the parameter tables of the agent's commands. */
static const char *KeywordOf(MQLONG parmId) {
    for (const MqscCommandDef *row = MqscCommandTable; row->object != nullptr; row++) {
        const MqscParamDef *param = FindParamRow(row->params, parmId);
        if (param != nullptr)
            return param->keyword;
    }
    return nullptr;
}

const MqscCommandDef *FindCommandRow(MQLONG command) {
    for (const MqscCommandDef *row = MqscCommandTable; row->object != nullptr; row++)
        if (row->command == command)
            return row;
    return nullptr;
}

const MqscParamDef *FindParamRow(const MqscParamDef *params, MQLONG parmId) {
    if (params == nullptr)
        return nullptr;
    for (const MqscParamDef *p = params; p->keyword != nullptr || p->parmId != 0; p++)
        if (p->keyword != nullptr && p->parmId == parmId)
            return p;
    return nullptr;
}

/* ---- Registration -------------------------------------------------------- */

MQLONG RefuseDisplayCert(REQUEST *req, MQMD *md, MQBYTE *msg, MQLONG length) {
    (void)md;
    (void)msg;
    (void)length;
    PCFErrorResponse(req, CVL_CMD_DISPLAY_CERTIFICATE, MQRC_FUNCTION_NOT_SUPPORTED, 0, nullptr);
    return MQRC_NONE;
}

static MQLONG HandleMqscText(REQUEST *req, MQMD *md, MQBYTE *msg, MQLONG length) {
    return TranslateMqscCommand(req, md, (const char *)msg, length);
}

void RegisterMqscHandlers(void) {
    SetRequestHandler(HANDLER_MQSC, HandleMqscText);
    SetRequestHandler(HANDLER_ESCAPE, UnwrapEscapeCommand);
    SetRequestHandler(HANDLER_DISPLAY_CERT, RefuseDisplayCert);
    SetReplyRenderer(RenderReplyAsMqsc);
}
