/* mqsc_translate.cpp -- the MQSC text of TORVIK's own command into its PCF
 * command; escape commands unwrapped; CVLA601E and CVLA603E replies.
 *
 * Owns: nothing; the PCF message (PCF_MESSAGE_SIZE bytes) and the
 * identifier list (MQSC_ID_LIST_SIZE bytes) are allocated per command.
 * Threads: the consumer thread that delivers command messages.
 *
 * The text is untrusted: it need not end with a NUL, every token is read
 * within [text, text + length), and a reply never holds more than fits
 * its buffer.
 */
#include "mqsc/mqsc_translate.h"

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/settings.h"
#include "log/cs.h"
#include "log/output.h"
#include "mq/queues.h"
#include "mqconst/mqconst.h"
#include "mqsc/mqsc_render.h"
#include "mqsc/mqsc_tables.h"
#include "pcf/pcf.h"
#include "routing/routing.h"

/* Value tokens: '*', '+' and '-' do not end them (ABC*, -5). */
static const char ValueDelimiters[] = "()[]!|&<>/=,;";
static const char ValueSeparators[] = " ()[]!|&<>/=\n\t,;";
/* The object's value: '*' does not end it (generic labels). */
static const char ObjectDelimiters[] = "()[]!|&<>-+/=,;";
static const char ObjectSeparators[] = " ()[]!|&<>-+/=\n\t,;";

static const char SyntaxErrorText[] =
    "CVLA601E Syntax error detected at or near end of command segment below:-\n";

/* Outcome of parsing a command. */
enum { PARSE_OK = 0, PARSE_SYNTAX = 1, PARSE_BAD_INTEGER = 2 };

/* One command being parsed. */
struct PARSE {
    const char *text;           /* the command text */
    const char *end;            /* one past its last byte */
    const char *cursor;         /* next byte to read */
    const MqscCommandDef *cmd;  /* the command row */
    PCFCTX ctx;                 /* the PCF message being built */
    MQLONG *ids;                /* attribute identifiers, MQSC_MAX_IDS at most */
    MQLONG idCount;             /* identifiers used */
    const char *errorAt;        /* PARSE_SYNTAX: offending token, null for the whole text */
    const MqscParamDef *badRow; /* PARSE_BAD_INTEGER: the keyword */
};

static int ParseCommand(PARSE *p, const MqscParamDef *objRow, char objMode);
static int ReadObjectValue(PARSE *p, const MqscParamDef *objRow);
static int ReadKeywordValue(PARSE *p, const MqscParamDef *row);
static int AddText(PARSE *p, const MqscParamDef *row, const char *value, int length,
                   const char *token);
static int AddInteger(PARSE *p, const MqscParamDef *row, MQLONG value, const char *token);
static int AddIdentifier(PARSE *p, MQLONG id, const char *token);
static int Syntax(PARSE *p, const char *token);
static int ParseInteger(const char *text, int length, MQLONG *value);
static const MqscCommandDef *FindCommand(const char *verb, int verbLength, const char *object,
                                         int objectLength);
static const MqscParamDef *FindKeyword(const MqscCommandDef *cmd, const char *word, int length,
                                       char *mode);
static int SameWord(const char *word, int length, const char *keyword);
static int IsToken(const char *token, int length, char c);
static int EqualNoCase(const char *a, const char *b, int length);
static void SendReplyText(REQUEST *req, MQBYTE *buffer, MQLONG textLength, MQLONG seq, int last);
static MQLONG ReplyHeaderSize(const REQUEST *req);

static inline MQLONG GetLong(const MQBYTE *p) {
    MQLONG v;
    memcpy(&v, p, sizeof(v));
    return v;
}

/* ---- Translation --------------------------------------------------------- */

MQLONG TranslateMqscCommand(REQUEST *req, MQMD *md, const char *text, MQLONG length) {
    if (text == nullptr || length <= 0)
        return MQRC_FUNCTION_NOT_SUPPORTED;
    const char *end = text + length;
    const char *cursor = text;
    const char *verb, *object;
    int verbLength, objectLength;
    if (!NextToken(&cursor, end, MQSC_DELIMITERS, MQSC_SEPARATORS, &verb, &verbLength) ||
        !NextToken(&cursor, end, MQSC_DELIMITERS, MQSC_SEPARATORS, &object, &objectLength))
        return MQRC_FUNCTION_NOT_SUPPORTED;
    const MqscCommandDef *cmd = FindCommand(verb, verbLength, object, objectLength);
    if (cmd == nullptr)
        return MQRC_FUNCTION_NOT_SUPPORTED;
    char objMode = ' ';
    const MqscParamDef *objRow = FindKeyword(cmd, object, objectLength, &objMode);
    if (objRow == nullptr)
        return MQRC_FUNCTION_NOT_SUPPORTED;

    MQBYTE *buffer = (MQBYTE *)CSGetMem((size_t)PCF_MESSAGE_SIZE);
    MQLONG *ids = (MQLONG *)CSGetMem((size_t)MQSC_ID_LIST_SIZE);
    if (buffer == nullptr || ids == nullptr) {
        OutputMessage(0, OUTF_NORMAL, "CVLA201E Can not allocate %d bytes for a message! \n",
                      (int)(buffer == nullptr ? PCF_MESSAGE_SIZE : MQSC_ID_LIST_SIZE));
        CSFreeMem(buffer);
        CSFreeMem(ids);
        return MQRCCF_UNEXPECTED_ERROR;
    }

    MQCFH cfh = MQCFH_DEFAULT;
    cfh.Type = MQCFT_COMMAND;
    cfh.StrucLength = MQCFH_STRUC_LENGTH;
    cfh.Version = MQCFH_VERSION_1;
    cfh.Command = cmd->command;
    cfh.MsgSeqNumber = 1;
    cfh.Control = MQCFC_LAST;
    cfh.CompCode = MQCC_OK;
    cfh.Reason = MQRC_NONE;
    cfh.ParameterCount = 0;

    PARSE p;
    memset(&p, 0, sizeof(p));
    p.text = text;
    p.end = end;
    p.cursor = cursor;
    p.cmd = cmd;
    p.ids = ids;
    PCFStartBuild(&p.ctx, &buffer, PCF_MESSAGE_SIZE, 0, 0, &cfh);

    MQLONG rc = MQRC_NONE;
    switch (ParseCommand(&p, objRow, objMode)) {
        case PARSE_SYNTAX:
            rc = ReplySyntaxError(req, text, length, p.errorAt, cmd->helpText);
            break;
        case PARSE_BAD_INTEGER: {
            char message[128];
            snprintf(message, sizeof(message), "CVLA603E Parameter '%s' is not a valid integer",
                     p.badRow->keyword);
            rc = ReplyErrorText(req, message);
            break;
        }
        default:
            if (cmd->command != CVL_CMD_DISPLAY_CERTIFICATE)
                rc = MQRC_FUNCTION_NOT_SUPPORTED;
            else
                rc = CallRequestHandler(HANDLER_DISPLAY_CERT, req, md, buffer, p.ctx.offset);
            break;
    }
    CSFreeMem(buffer);
    CSFreeMem(ids);
    return rc;
}

/* The object value, then the keywords, then the attribute list. */
static int ParseCommand(PARSE *p, const MqscParamDef *objRow, char objMode) {
    const char *token;
    int length;
    if (objMode != ' ') {
        const char *peek = p->cursor;
        int wanted = objMode == '+' ||
                     (NextToken(&peek, p->end, MQSC_DELIMITERS, MQSC_SEPARATORS, &token, &length) &&
                      IsToken(token, length, '('));
        if (wanted) {
            int r = ReadObjectValue(p, objRow);
            if (r != PARSE_OK)
                return r;
        }
    }

    while (NextToken(&p->cursor, p->end, MQSC_DELIMITERS, MQSC_SEPARATORS, &token, &length)) {
        char mode = ' ';
        const MqscParamDef *row = FindKeyword(p->cmd, token, length, &mode);
        if (row == nullptr)
            return Syntax(p, token);
        const char *keyword = token;
        if (mode != ' ') {
            const char *peek = p->cursor;
            if (NextToken(&peek, p->end, MQSC_DELIMITERS, MQSC_SEPARATORS, &token, &length) &&
                IsToken(token, length, '(')) {
                p->cursor = peek;
                int r = ReadKeywordValue(p, row);
                if (r != PARSE_OK)
                    return r;
                continue;
            }
        }
        /* The keyword alone asks for the attribute. */
        if (!AddIdentifier(p, row->parmId, keyword))
            return PARSE_SYNTAX;
    }

    if (p->idCount > 0) {
        MQLONG cc, rc;
        PCFAddParm(&p->ctx, MQCFT_INTEGER_LIST, p->cmd->attrListId, p->ids, p->idCount * 4, &cc,
                   &rc);
        if (cc != MQCC_OK)
            return Syntax(p, nullptr);
    }
    return PARSE_OK;
}

/* "(value)" after the object keyword; a missing ')' at the end is
 * accepted. */
static int ReadObjectValue(PARSE *p, const MqscParamDef *objRow) {
    const char *token;
    int length;
    if (!NextToken(&p->cursor, p->end, MQSC_DELIMITERS, MQSC_SEPARATORS, &token, &length))
        return Syntax(p, nullptr);
    if (!IsToken(token, length, '('))
        return Syntax(p, token);
    if (!NextToken(&p->cursor, p->end, ObjectDelimiters, ObjectSeparators, &token, &length))
        return Syntax(p, nullptr);
    const int closed = IsToken(token, length, ')'); /* CERT(): an empty value */
    if (!AddText(p, objRow, token, closed ? 0 : length, token))
        return PARSE_SYNTAX;
    if (!closed &&
        NextToken(&p->cursor, p->end, MQSC_DELIMITERS, MQSC_SEPARATORS, &token, &length) &&
        !IsToken(token, length, ')'))
        return Syntax(p, token);
    return PARSE_OK;
}

/* The value of a keyword; p->cursor is just after its '('. */
static int ReadKeywordValue(PARSE *p, const MqscParamDef *row) {
    const char *token;
    int length;
    if (row->type == 'w') {
        /* A filter keeps its parentheses, quotes and case as written. */
        const char *close = FindClosingParen(p->cursor, p->end);
        if (close == nullptr)
            return Syntax(p, p->cursor);
        const char *value = p->cursor;
        p->cursor = close + 1;
        return AddText(p, row, value, (int)(close - value), value) ? PARSE_OK : PARSE_SYNTAX;
    }
    if (!NextToken(&p->cursor, p->end, ValueDelimiters, ValueSeparators, &token, &length))
        return Syntax(p, nullptr);
    const int closed = IsToken(token, length, ')');
    const int valueLength = closed ? 0 : length;
    if (row->type == 's') {
        if (!AddText(p, row, token, valueLength, token))
            return PARSE_SYNTAX;
    } else if (row->type == 'i' && row->names != nullptr) {
        const ValueNameDef *name = LookupValueName(row->names, token, valueLength);
        if (name == nullptr)
            return Syntax(p, token);
        if (!AddInteger(p, row, name->value, token))
            return PARSE_SYNTAX;
    } else if (row->type == 'i') {
        MQLONG value;
        if (!ParseInteger(token, valueLength, &value)) {
            p->badRow = row;
            return PARSE_BAD_INTEGER;
        }
        if (!AddInteger(p, row, value, token))
            return PARSE_SYNTAX;
    } else {
        return Syntax(p, token); /* times and ALL take no value */
    }
    if (!closed &&
        NextToken(&p->cursor, p->end, MQSC_DELIMITERS, MQSC_SEPARATORS, &token, &length) &&
        !IsToken(token, length, ')'))
        return Syntax(p, token);
    return PARSE_OK;
}

/* An MQCFST for row: a leading single quote is dropped with a closing one,
 * and such a value keeps its case; other text values are upper-cased,
 * filters never. Returns 1, or 0 after a syntax error at token. */
static int AddText(PARSE *p, const MqscParamDef *row, const char *value, int length,
                   const char *token) {
    const int quoted = length > 0 && value[0] == '\'';
    if (quoted) {
        value++;
        length--;
        if (length > 0 && value[length - 1] == '\'')
            length--;
    }
    MQLONG cc, rc;
    MQBYTE *area = PCFAddParm(&p->ctx, MQCFT_STRING, row->parmId, value, length, &cc, &rc);
    if (cc != MQCC_OK) {
        Syntax(p, token);
        return 0;
    }
    if (!quoted && row->type == 's')
        for (int i = 0; i < length; i++)
            area[i] = (MQBYTE)toupper(area[i]);
    return 1;
}

static int AddInteger(PARSE *p, const MqscParamDef *row, MQLONG value, const char *token) {
    MQLONG cc, rc;
    PCFAddParm(&p->ctx, MQCFT_INTEGER, row->parmId, &value, 4, &cc, &rc);
    if (cc != MQCC_OK) {
        Syntax(p, token);
        return 0;
    }
    return 1;
}

/* Append an attribute identifier; the list holds MQSC_MAX_IDS, and the
 * keyword that would overflow it is a syntax error. */
static int AddIdentifier(PARSE *p, MQLONG id, const char *token) {
    if (p->idCount >= MQSC_MAX_IDS) {
        Syntax(p, token);
        return 0;
    }
    p->ids[p->idCount++] = id;
    return 1;
}

static int Syntax(PARSE *p, const char *token) {
    p->errorAt = token;
    return PARSE_SYNTAX;
}

/* A decimal integer, optionally in single quotes, with an optional sign,
 * that fits 32 bits. Returns 1 and the value, or 0. */
static int ParseInteger(const char *text, int length, MQLONG *value) {
    if (length >= 2 && text[0] == '\'' && text[length - 1] == '\'') {
        text++;
        length -= 2;
    }
    int i = 0;
    if (i < length && (text[i] == '+' || text[i] == '-'))
        i++;
    if (i >= length || length - i > 10)
        return 0;
    for (int j = i; j < length; j++)
        if (!isdigit((unsigned char)text[j]))
            return 0;
    char digits[16];
    memcpy(digits, text, (size_t)length);
    digits[length] = '\0';
    const long long v = strtoll(digits, nullptr, 10);
    if (v < INT32_MIN || v > INT32_MAX)
        return 0;
    *value = (MQLONG)v;
    return 1;
}

/* The row whose full or short verb starts with the verb word and whose
 * object keyword is the object word (both case-insensitive). */
static const MqscCommandDef *FindCommand(const char *verb, int verbLength, const char *object,
                                         int objectLength) {
    for (const MqscCommandDef *row = MqscCommandTable; row->object != nullptr; row++) {
        const char *spellings[2] = {row->verb, row->verbShort};
        int verbMatches = 0;
        for (const char *spelling : spellings)
            if (spelling != nullptr && (int)strlen(spelling) >= verbLength &&
                EqualNoCase(verb, spelling, verbLength))
                verbMatches = 1;
        if (verbMatches && SameWord(object, objectLength, row->object))
            return row;
    }
    return nullptr;
}

/* The first parameter row of cmd that the verb accepts and whose keyword is
 * the word; *mode gets the verb's mode character. */
static const MqscParamDef *FindKeyword(const MqscCommandDef *cmd, const char *word, int length,
                                       char *mode) {
    for (const MqscParamDef *row = cmd->params; row->keyword != nullptr || row->parmId != 0;
         row++) {
        if (row->keyword == nullptr || row->verbModes == nullptr ||
            !SameWord(word, length, row->keyword))
            continue;
        for (const char *m = row->verbModes; m[0] != '\0' && m[1] != '\0'; m += 2)
            if (m[0] == cmd->verbLetter) {
                *mode = m[1];
                return row;
            }
    }
    return nullptr;
}

static int SameWord(const char *word, int length, const char *keyword) {
    return (int)strlen(keyword) == length && EqualNoCase(word, keyword, length);
}

/* 1 when the first length bytes of a and b are equal but for case. */
static int EqualNoCase(const char *a, const char *b, int length) {
    for (int i = 0; i < length; i++)
        if (toupper((unsigned char)a[i]) != toupper((unsigned char)b[i]))
            return 0;
    return 1;
}

static int IsToken(const char *token, int length, char c) {
    return length == 1 && token[0] == c;
}

/* ---- Escape commands ----------------------------------------------------- */

MQLONG UnwrapEscapeCommand(REQUEST *req, MQMD *md, MQBYTE *msg, MQLONG length) {
    if (msg == nullptr || length < MQCFH_STRUC_LENGTH ||
        GetLong(msg + offsetof(MQCFH, Command)) != MQCMD_ESCAPE ||
        GetLong(msg + offsetof(MQCFH, ParameterCount)) <= 0)
        return MQRCCF_UNEXPECTED_ERROR;
    const MQBYTE *text = nullptr;
    MQLONG textLength = 0;
    PCFCTX ctx;
    PCFPARM parm;
    PCFStartRead(&ctx, msg, length);
    while (PCFNext(&ctx, &parm)) {
        if (parm.type == PCF_GROUP_END)
            continue;
        if (parm.type >= PCFT_BARE && parm.type <= PCFT_STRING_LIST)
            return MQRCCF_UNEXPECTED_ERROR;
        if (parm.id == MQCACF_ESCAPE_TEXT) {
            if (parm.type != MQCFT_STRING)
                return MQRCCF_UNEXPECTED_ERROR;
            text = parm.value;
            textLength = parm.length;
        } else if (parm.id != MQIACF_ESCAPE_TYPE) {
            return MQRCCF_UNEXPECTED_ERROR;
        }
    }
    if (parm.reason != PCF_END_OF_PARMS || text == nullptr)
        return MQRCCF_UNEXPECTED_ERROR;
    return TranslateMqscCommand(req, md, (const char *)text, textLength);
}

/* ---- Error replies ------------------------------------------------------- */

MQLONG ReplySyntaxError(REQUEST *req, const char *text, MQLONG length, const char *token,
                        const char *helpText) {
    MQBYTE *buffer = (MQBYTE *)CSGetMem((size_t)PCF_MESSAGE_SIZE);
    if (buffer == nullptr) {
        OutputMessage(0, OUTF_NORMAL, "CVLA201E Can not allocate %d bytes for a message! \n",
                      (int)PCF_MESSAGE_SIZE);
        return MQRC_NONE;
    }
    const MQLONG base = ReplyHeaderSize(req);
    char *out = (char *)buffer + base;
    const MQLONG prefix = (MQLONG)(sizeof(SyntaxErrorText) - 1);
    const MQLONG room = PCF_MESSAGE_SIZE - base - prefix - 1; /* 1: the closing newline */

    MQLONG segment = length;
    if (token != nullptr && token - text + 1 < length)
        segment = (MQLONG)(token - text + 1);
    const char *start = text;
    if (segment > room) { /* keep the end, where the error is */
        start += segment - room;
        segment = room;
    }
    memcpy(out, SyntaxErrorText, (size_t)prefix);
    memcpy(out + prefix, start, (size_t)segment);
    out[prefix + segment] = '\n';
    SendReplyText(req, buffer, prefix + segment + 1, 1, 0);

    MQLONG helpLength = (MQLONG)strlen(helpText);
    if (helpLength > PCF_MESSAGE_SIZE - base)
        helpLength = PCF_MESSAGE_SIZE - base;
    memcpy(out, helpText, (size_t)helpLength);
    SendReplyText(req, buffer, helpLength, 2, 1);

    CSFreeMem(buffer);
    req->complete = 1;
    return MQRC_NONE;
}

MQLONG ReplyErrorText(REQUEST *req, const char *text) {
    MQBYTE *buffer = (MQBYTE *)CSGetMem((size_t)PCF_MESSAGE_SIZE);
    if (buffer == nullptr) {
        OutputMessage(0, OUTF_NORMAL, "CVLA201E Can not allocate %d bytes for a message! \n",
                      (int)PCF_MESSAGE_SIZE);
        return MQRC_NONE;
    }
    const MQLONG base = ReplyHeaderSize(req);
    MQLONG textLength = (MQLONG)strlen(text);
    if (textLength > PCF_MESSAGE_SIZE - base)
        textLength = PCF_MESSAGE_SIZE - base;
    memcpy(buffer + base, text, (size_t)textLength);
    SendReplyText(req, buffer, textLength, 1, 1);
    CSFreeMem(buffer);
    req->complete = 1;
    return MQRC_NONE;
}

/* Bytes in front of the text: the escape-response header for escape
 * requests, nothing for text. */
static MQLONG ReplyHeaderSize(const REQUEST *req) {
    return req->requestType == REQTYPE_ESCAPE ? PCF_ESCAPE_HEADER_SIZE : 0;
}

/* Put one error reply whose text lies at buffer + ReplyHeaderSize(req):
 * for an escape request behind a failed escape-response header (Command 0,
 * Reason MQRCCF_COMMAND_FAILED) with MsgSeqNumber seq, else as MQSC text.
 * Only the last reply of the set (last 1) carries MQCFC_LAST, so that a
 * requester reads on to it. PutReply reports its own failures. */
static void SendReplyText(REQUEST *req, MQBYTE *buffer, MQLONG textLength, MQLONG seq, int last) {
    const int escape = req->requestType == REQTYPE_ESCAPE;
    if (escape) {
        PCFEscapeHeader(buffer, textLength, 0, MQRCCF_COMMAND_FAILED);
        MQLONG control = last ? MQCFC_LAST : MQCFC_NOT_LAST;
        memcpy(buffer + offsetof(MQCFH, MsgSeqNumber), &seq, sizeof seq);
        memcpy(buffer + offsetof(MQCFH, Control), &control, sizeof control);
    }
    MQMD md;
    InitLocalReplyMd(&md, escape ? REQTYPE_ESCAPE : REQTYPE_MQSC);
    PutReply(req, &md, buffer, ReplyHeaderSize(req) + textLength, 0);
}
