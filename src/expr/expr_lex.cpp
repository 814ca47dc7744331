/* expr_lex.cpp -- cutting a WHERE filter into tokens and classifying each
 * one as an operator, a number, a string or a variable.
 *
 * Owns: ExprOperators and the vocabularies (system variables, indicators).
 * The once-per-process set-up of table lengths lives here.
 * Threads: compiles run on the consumer thread; InitExpressionTables is safe
 * from any thread.
 */
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "expr/expr.h"
#include "log/cs.h"
#include "mqconst/mqconst.h"

OperatorDef ExprOperators[] = {
    {"EQ", 12, 12, OP_BINARY, CompareHandler, 0},
    {"NE", 12, 12, OP_BINARY, CompareHandler, 0},
    {"GE", 12, 12, OP_BINARY, CompareHandler, 0},
    {"LE", 12, 12, OP_BINARY, CompareHandler, 0},
    {"GT", 13, 13, OP_BINARY, CompareHandler, 0},
    {"LT", 13, 13, OP_BINARY, CompareHandler, 0},
    {"LK", 15, 15, OP_BINARY, WildcardHandler, 0},
    {"NL", 15, 15, OP_BINARY, WildcardHandler, 0},
    {"CT", 15, 15, OP_BINARY, ContainsHandler, 0},
    {"EX", 15, 15, OP_BINARY, ContainsHandler, 0},
    {"CTG", 15, 15, OP_BINARY, ContainsHandler, 0},
    {"EXG", 15, 15, OP_BINARY, ContainsHandler, 0},
    {nullptr, 0, 0, 0, nullptr, 0},
};

/* Names accepted as system variables; none has a value in certificate
 * filters, so evaluating one reports an unknown variable. */
static const char *const SystemVariables[] = {
    "_nl",        "_os",         "_sep",         "_time",     "_qmgr",     "_item",
    "_ccdt",      "_errno",      "_cmdok",       "_width",    "_stream",   "_lastrc",
    "_height",    "_client",     "_matches",     "_idxEach",  "_numEach",  "_idxItem",
    "_numItem",   "_ccdtmode",   "_cmdlevel",    "_idxWhile", "_numWhile", "_platform",
    "_connqmgr",  "_errnostr",   "_lastcmdresp", "_lastresp", "_respwait", "_responses",
    "_lastrcstr", "_error_func", nullptr,
};

/* Names that take the .short and .long suffixes. */
static const char *const IndicatorNames[] = {
    "COMPRATE", "COMPTIME", "EXITTIME", "NETTIME",  "XBATCHSZ",
    "XMSGSA",   "XQTIME",   "QTIME",    "MCASTREL", nullptr,
};

constexpr int CONST_NAME_MAX = 99;  /* longest name after CONST. */
constexpr int REAL_TOKEN_MAX = 19;  /* longest real-number token */
constexpr int UNITS_BITS = 0xFFFFF; /* unit kinds in a row's units mask */

static int IsWordStart(char c);
static int IsWordChar(char c);
static int EqualsNoCase(const char *a, const char *b, int length);
static int InList(const char *const *list, const char *name, int length);
static const OperatorDef *MatchOperator(const ExprContext *ctx, const char *start, int length,
                                        const char *end);
static Lexeme *NewLexeme(ExprContext *ctx, int type, int position);
static Lexeme *MakeName(ExprContext *ctx, const char *start, int length, int position);
static Lexeme *MakeHex(ExprContext *ctx, const char *start, int length, int position);
static int HexDigit(char c);

/* ---- set-up and errors ------------------------------------------------------ */

static std::once_flag TablesOnce;

static void FillTableLengths() {
    for (MqscCommandDef *cmd = MqscCommandTable; cmd->object != nullptr; cmd++)
        for (MqscParamDef *row = cmd->params; row != nullptr && row->keyword != nullptr; row++)
            row->keywordLength = static_cast<MQLONG>(strlen(row->keyword));
    for (MqscParamDef *row = CertParamTable; row->keyword != nullptr; row++)
        row->keywordLength = static_cast<MQLONG>(strlen(row->keyword));
    for (OperatorDef *op = ExprOperators; op->name != nullptr; op++) {
        op->nameLength = static_cast<int>(strlen(op->name));
        int word = IsWordStart(op->name[0]);
        for (int i = 1; word && i < op->nameLength; i++)
            word = IsWordChar(op->name[i]);
        if (word)
            op->flags |= OP_WORD;
    }
}

void InitExpressionTables(void) {
    std::call_once(TablesOnce, FillTableLengths);
}

void SetExprError(ExprContext *ctx, const char *format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int length = vsnprintf(nullptr, 0, format, args);
    va_end(args);
    CSFreeMem(ctx->message);
    ctx->message = nullptr;
    if (length >= 0) {
        ctx->message = static_cast<char *>(CSGetMem(static_cast<size_t>(length) + 1));
        if (ctx->message != nullptr)
            vsnprintf(ctx->message, static_cast<size_t>(length) + 1, format, again);
    }
    va_end(again);
}

/* ---- lexemes ------------------------------------------------------------------ */

void FreeLexeme(Lexeme *lex) {
    if (lex == nullptr)
        return;
    if (lex->type == LEX_VARIABLE || lex->type == LEX_STRING_OWNED)
        CSFreeMem(lex->text);
    CSFreeMem(lex);
}

/* A zeroed lexeme, not yet in any list, or null with the message set. */
static Lexeme *NewLexeme(ExprContext *ctx, int type, int position) {
    Lexeme *lex = static_cast<Lexeme *>(CSGetMem(sizeof(Lexeme)));
    if (lex == nullptr) {
        SetExprError(ctx, "Can not allocate %d bytes", static_cast<int>(sizeof(Lexeme)));
        return nullptr;
    }
    memset(lex, 0, sizeof *lex);
    lex->type = static_cast<uint16_t>(type);
    lex->position = static_cast<uint16_t>(position);
    return lex;
}

static Lexeme *AppendToken(ExprContext *ctx, Lexeme *lex) {
    lex->next = nullptr;
    lex->previous = ctx->tokenTail;
    if (ctx->tokenTail != nullptr)
        ctx->tokenTail->next = lex;
    else
        ctx->tokenHead = lex;
    ctx->tokenTail = lex;
    return lex;
}

int HexToBytes(const char *hex, int length, unsigned char *out) {
    if (length > 1)
        memset(out, 0, static_cast<size_t>(length / 2));
    for (int i = 0; i + 1 < length && hex[i] != '\0'; i += 2) {
        int high = HexDigit(hex[i]);
        int low = HexDigit(hex[i + 1]);
        if (high < 0 || low < 0)
            return 1;
        out[i / 2] = static_cast<unsigned char>(high << 4 | low);
    }
    return 0;
}

Lexeme *MakeLexeme(ExprContext *ctx, const OperatorDef *op, const char *text, const char *start,
                   const char *end) {
    const int position = static_cast<int>(start - text);
    const int length = static_cast<int>(end - start);
    const int shown = position + ctx->positionOffset;
    Lexeme *lex = nullptr;

    /* 1. An operator recognised by the cutter. */
    if (op != nullptr) {
        lex = NewLexeme(ctx, LEX_OPERATOR, position);
        if (lex == nullptr)
            return nullptr;
        lex->value.op = op;
        return AppendToken(ctx, lex);
    }

    /* 2. CONST.name: the value of a published constant. */
    if (length >= 6 && EqualsNoCase(start, "CONST.", 6)) {
        const int nameLength = length - 6;
        if (nameLength == 0) {
            SetExprError(ctx, "No constant name provided");
            return nullptr;
        }
        if (nameLength > CONST_NAME_MAX) {
            SetExprError(ctx, "Unrecognised token '%.*s' at position %d", length, start, shown);
            return nullptr;
        }
        char name[CONST_NAME_MAX + 1];
        memcpy(name, start + 6, static_cast<size_t>(nameLength));
        name[nameLength] = '\0';
        int64_t value = 0;
        if (ConstantValue(name, &value) != 0) {
            SetExprError(ctx, "Unrecognised constant '%s'.", name);
            return nullptr;
        }
        lex = NewLexeme(ctx, LEX_INTEGER, position);
        if (lex == nullptr)
            return nullptr;
        lex->value.integer = static_cast<int32_t>(value); /* constants are 32-bit */
        return AppendToken(ctx, lex);
    }

    /* 3. A name: a variable. */
    if (length > 0 && IsWordStart(start[0])) {
        int i = 1;
        while (i < length && IsWordChar(start[i]))
            i++;
        if (i == length)
            return MakeName(ctx, start, length, position);
    }

    /* 4. A quoted string refers into the filter text. */
    if (start[0] == '\'' || start[0] == '"') {
        lex = NewLexeme(ctx, LEX_STRING, position);
        if (lex == nullptr)
            return nullptr;
        lex->text = const_cast<char *>(start + 1);
        lex->value.length = length < 3 ? 0 : length - 2;
        return AppendToken(ctx, lex);
    }

    int digits = 0, dots = 0;
    for (int i = 0; i < length; i++) {
        if (isdigit(static_cast<unsigned char>(start[i])))
            digits++;
        else if (start[i] == '.')
            dots++;
    }

    /* 5. A decimal integer of at most 18 digits. */
    if (digits == length && length <= 18) {
        int64_t value = 0;
        for (int i = 0; i < length; i++)
            value = value * 10 + (start[i] - '0');
        lex = NewLexeme(ctx, LEX_INTEGER, position);
        if (lex == nullptr)
            return nullptr;
        lex->value.integer = value;
        return AppendToken(ctx, lex);
    }

    /* 6. 0x... a hex integer, 0x'...' a byte string. */
    if (length >= 3 && start[0] == '0' && start[1] == 'x')
        return MakeHex(ctx, start, length, position);

    /* 7. A real: digits and one dot. */
    if (dots == 1 && digits + dots == length) {
        if (length > REAL_TOKEN_MAX) {
            SetExprError(ctx, "Unrecognised token '%.*s' at position %d", length, start, shown);
            return nullptr;
        }
        char number[REAL_TOKEN_MAX + 1];
        memcpy(number, start, static_cast<size_t>(length));
        number[length] = '\0';
        lex = NewLexeme(ctx, LEX_REAL, position);
        if (lex == nullptr)
            return nullptr;
        lex->value.real = atof(number);
        return AppendToken(ctx, lex);
    }

    /* 8. A number with units, in the units of the latest attribute named. */
    if (ctx->unitsRow != nullptr && (ctx->unitsRow->unitsMask & UNITS_BITS) != 0) {
        char reason[128];
        int64_t total = 0;
        int rc = ParseExprUnits(static_cast<uint32_t>(ctx->unitsRow->unitsMask & UNITS_BITS), start,
                                length, &total, reason, static_cast<int>(sizeof reason));
        if (rc == 0) {
            lex = NewLexeme(ctx, LEX_INTEGER, position);
            if (lex == nullptr)
                return nullptr;
            lex->value.integer = total;
            return AppendToken(ctx, lex);
        }
        if (rc == 1) {
            SetExprError(ctx, "%s", reason);
            return nullptr;
        }
    }
    SetExprError(ctx, "Unrecognised token '%.*s' at position %d", length, start, shown);
    return nullptr;
}

/* A name token: a system variable, or an attribute name with an optional
 * indicator suffix. */
static Lexeme *MakeName(ExprContext *ctx, const char *start, int length, int position) {
    const int shown = position + ctx->positionOffset;
    int nameLength = length;
    int indicator = IND_NONE;
    if (start[0] == '_') {
        if (!InList(SystemVariables, start, length)) {
            SetExprError(ctx, "Unrecognised system variable '%.*s' at position %d", length, start,
                         shown);
            return nullptr;
        }
    } else {
        if (length >= 5 && EqualsNoCase(start + length - 5, ".long", 5)) {
            nameLength = length - 5;
            indicator = IND_LONG;
        } else if (length >= 6 && EqualsNoCase(start + length - 6, ".short", 6)) {
            nameLength = length - 6;
            indicator = IND_SHORT;
        }
        if (InList(IndicatorNames, start, nameLength)) {
            if (indicator == IND_NONE)
                indicator = IND_SHORT;
        } else if (indicator != IND_NONE) {
            /* "%s at position %d" around "'%.*s' is not an indicator" */
            SetExprError(ctx, "'%.*s' is not an indicator at position %d", nameLength, start,
                         shown);
            return nullptr;
        }
    }
    Lexeme *lex = NewLexeme(ctx, LEX_VARIABLE, position);
    if (lex == nullptr)
        return nullptr;
    lex->text = static_cast<char *>(CSGetMem(static_cast<size_t>(nameLength) + 1));
    if (lex->text == nullptr) {
        SetExprError(ctx, "Can not allocate %d bytes", nameLength + 1);
        FreeLexeme(lex);
        return nullptr;
    }
    memcpy(lex->text, start, static_cast<size_t>(nameLength));
    lex->text[nameLength] = '\0';
    lex->nameLength = static_cast<uint16_t>(nameLength);
    lex->indicator = static_cast<uint16_t>(indicator);
    int ambiguous = 0;
    ctx->unitsRow =
        ctx->caller.params == nullptr
            ? nullptr
            : FindParamByName(ctx->caller.params, start, nameLength, FIND_ABBREV, &ambiguous);
    if (ambiguous)
        ctx->unitsRow = nullptr;
    return AppendToken(ctx, lex);
}

/* 0x followed by hex digits, or 0x'hex pairs' for a byte string. */
static Lexeme *MakeHex(ExprContext *ctx, const char *start, int length, int position) {
    if (start[2] == '\'') {
        /* The closing quote and an odd last digit are not examined. */
        const int bytes = length >= 4 ? (length - 4) / 2 : 0;
        Lexeme *lex = NewLexeme(ctx, LEX_STRING_OWNED, position);
        if (lex == nullptr)
            return nullptr;
        lex->text = static_cast<char *>(CSGetMem(static_cast<size_t>(bytes) + 1));
        if (lex->text == nullptr) {
            SetExprError(ctx, "Can not allocate %d bytes", bytes + 1);
            FreeLexeme(lex);
            return nullptr;
        }
        HexToBytes(start + 3, bytes * 2, reinterpret_cast<unsigned char *>(lex->text));
        lex->text[bytes] = '\0';
        lex->value.length = bytes;
        return AppendToken(ctx, lex);
    }
    uint64_t value = 0;
    for (int i = 2; i < length; i++) {
        int digit = HexDigit(start[i]);
        if (digit < 0) {
            SetExprError(ctx, "Invalid hex number '%.*s' at position %d", length - 2, start + 2,
                         position + ctx->positionOffset);
            return nullptr;
        }
        value = value << 4 | static_cast<uint64_t>(digit);
    }
    Lexeme *lex = NewLexeme(ctx, LEX_INTEGER, position);
    if (lex == nullptr)
        return nullptr;
    lex->value.integer = static_cast<int64_t>(value);
    return AppendToken(ctx, lex);
}

/* ---- cutting ------------------------------------------------------------------ */

int CutExpression(ExprContext *ctx, const char *text, const char *end) {
    const char *cursor = text;
    const char *start = nullptr;
    int length = 0;
    while (NextToken(&cursor, end, MQSC_DELIMITERS, MQSC_SEPARATORS, &start, &length)) {
        const OperatorDef *op = MatchOperator(ctx, start, length, end);
        if (op == nullptr && (start[0] == '\'' || start[0] == '"') &&
            (length < 2 || start[length - 1] != start[0])) {
            SetExprError(ctx, "Quote missing from string");
            return 0;
        }
        if (MakeLexeme(ctx, op, text, start, start + length) == nullptr)
            return 0;
    }
    return 1;
}

/* The first operator whose name begins the token, a word name only when a
 * blank, '(', '+', '-', '!' or the end of the text follows it. */
static const OperatorDef *MatchOperator(const ExprContext *ctx, const char *start, int length,
                                        const char *end) {
    for (const OperatorDef *op = ctx->operators; op->name != nullptr; op++) {
        const int n = op->nameLength;
        if (n > length || !EqualsNoCase(start, op->name, n))
            continue;
        if (op->flags & OP_WORD) {
            const char *after = start + n;
            if (after < end && *after != ' ' && *after != '(' && *after != '+' && *after != '-' &&
                *after != '!')
                continue;
        }
        return op;
    }
    return nullptr;
}

/* ---- characters ------------------------------------------------------------------ */

static int IsWordStart(char c) {
    return isalpha(static_cast<unsigned char>(c)) || c == '_';
}

static int IsWordChar(char c) {
    return isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_';
}

static int EqualsNoCase(const char *a, const char *b, int length) {
    for (int i = 0; i < length; i++)
        if (toupper(static_cast<unsigned char>(a[i])) != toupper(static_cast<unsigned char>(b[i])))
            return 0;
    return 1;
}

static int InList(const char *const *list, const char *name, int length) {
    for (; *list != nullptr; list++)
        if (static_cast<int>(strlen(*list)) == length && EqualsNoCase(*list, name, length))
            return 1;
    return 0;
}

static int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
