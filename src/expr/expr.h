/* expr.h -- the WHERE filter language of DISPLAY CERT: lexer, operator-
 * precedence parser and evaluator.
 *
 * A filter is operands compared by twelve binary word operators (EQ NE GE LE
 * GT LT LK NL CT EX CTG EXG); operands are numbers (with units after an
 * attribute that declares them), strings, CONST. names and variables naming
 * certificate attributes. CompileExpression turns the text into a postfix
 * list once per command; EvaluateExpression runs it once per certificate.
 *
 * Owns: ExprOperators (the operator table; its name lengths and word flags,
 * and the keyword lengths of every command's parameter table, are filled in
 * once per process by the first compile, under std::call_once).
 * Threads: a compiled ExprContext belongs to the thread that compiled it
 * (the consumer thread); nothing else here keeps state.
 */
#pragma once

#include <cstdint>

#include "mqsc/certrec.h"
#include "mqsc/mqsc_tables.h"
#include "platform/platform.h"

/* ---- values --------------------------------------------------------------- */

/* Lexeme types; a lexeme is a string when (type & 0xFF) == LEX_STRING. */
enum {
    LEX_NULL = 0x0,          /* no value: an attribute that is not set */
    LEX_INTEGER = 0x1,       /* value.integer */
    LEX_REAL = 0x2,          /* value.real */
    LEX_VARIABLE = 0x4,      /* text: owned, NUL-terminated name */
    LEX_STRING = 0x8,        /* value.length bytes at text, owned by someone else */
    LEX_OPERATOR = 0x10,     /* value.op */
    LEX_STRING_OWNED = 0x208 /* value.length bytes at text, owned (NUL after them) */
};

/* Indicator of a variable name: its .short/.long suffix. */
enum { IND_NONE = 0, IND_SHORT = 1, IND_LONG = 2 };

struct OperatorDef;
struct ExprContext;

union LEXVALUE {
    int64_t integer;
    double real;
    int64_t length; /* of a string */
    const OperatorDef *op;
};

/* One token of a filter, and one value during evaluation. */
struct Lexeme {
    Lexeme *next;              /* next in its list (postfix: the item added before) */
    Lexeme *previous;          /* previous in its list */
    uint16_t type;             /* LEX_* */
    uint16_t position;         /* offset of the token in the filter text, 0-based */
    LEXVALUE value;            /* by type */
    char *text;                /* string bytes or variable name, see LEX_* */
    const MqscParamDef *param; /* a variable's attribute row, once resolved */
    uint16_t nameLength;       /* length of a variable's name */
    uint16_t indicator;        /* IND_* */
};

/* ---- operators ------------------------------------------------------------ */

enum { OP_BINARY = 0x1, OP_WORD = 0x10 };

/* An operator's handler: result from left and right. Returns 1, or 0 with
 * the context's message set. Handlers never take ownership of operands. */
typedef int (*EXPROPHANDLER)(ExprContext *ctx, const OperatorDef *op, const Lexeme *left,
                             const Lexeme *right, Lexeme *result);

struct OperatorDef {
    const char *name; /* "EQ" ...; null ends the table */
    uint16_t inputPrecedence;
    uint16_t stackPrecedence;
    uint32_t flags; /* OP_BINARY; OP_WORD filled in at first use */
    EXPROPHANDLER handler;
    int nameLength; /* filled in at first use */
};

/* EQ NE GE LE (12), GT LT (13), LK NL CT EX CTG EXG (15), in search order. */
extern OperatorDef ExprOperators[];

/* ---- the compiled filter -------------------------------------------------- */

enum {
    EXPR_OPT_COPY_STRINGS = 0x1,  /* never set: string literals refer into the filter text */
    EXPR_OPT_CASE_SENSITIVE = 0x2 /* always set: strings compare byte by byte */
};

/* What the caller hands the compiler (copied into the context; 24 bytes). */
struct ExprCallerData {
    void *user;                 /* the caller's own (the command's request); not read here */
    const MqscParamDef *params; /* where variable names are looked up: CertParamTable */
    const CERTREC *record;      /* the certificate variables read; null reads as all zeros.
                                   The caller sets it before every evaluation. */
};

/* The variable callback: value of variable, given the other operand of its
 * operator (the left variable when both operands are variables) or null. */
typedef int (*EXPRVARCALLBACK)(ExprContext *ctx, const Lexeme *other, Lexeme *variable,
                               Lexeme *result);

/* One operator of the evaluation stack awaiting its operands. */
struct EXPRFRAME {
    const Lexeme *op;
    Lexeme right; /* the right operand's value once haveRight */
    int haveRight;
};

struct ExprContext {
    OperatorDef *operators;
    char *message;     /* current error, owned (CSGetMem); null when none */
    uint32_t options;  /* EXPR_OPT_*: exactly EXPR_OPT_CASE_SENSITIVE */
    Lexeme *tokenHead; /* tokens not yet parsed */
    Lexeme *tokenTail;
    Lexeme *postfixHead;     /* the root operator; next links lead back to the first operand */
    Lexeme *postfixTail;     /* the first operand */
    int trial;               /* 1 while the compile trial-evaluates */
    EXPRVARCALLBACK resolve; /* ResolveVariable */
    ExprCallerData caller;
    int positionOffset;           /* added to every reported position */
    const MqscParamDef *unitsRow; /* row of the latest variable: units of the next numbers */
    EXPRFRAME *frames;            /* evaluation stack, one entry per operator; owned */
    int frameCount;
};

/* Longest filter text accepted: positions are 16-bit. */
constexpr int EXPR_MAX_TEXT = 65535;

/* ---- expr_lex.cpp -- cutting and classifying tokens ------------------------ */

/* Classify the token [start, end) of the filter text beginning at text and
 * append it to the context's token list. op is the operator row the token
 * was recognised as, or null. Returns the new lexeme, or null with the
 * context's message set. */
Lexeme *MakeLexeme(ExprContext *ctx, const OperatorDef *op, const char *text, const char *start,
                   const char *end);

/* Cut the whole filter text into the context's token list. Returns 1, or 0
 * with the message set. */
int CutExpression(ExprContext *ctx, const char *text, const char *end);

/* Convert length hex characters (pairs, high digit first, either case) into
 * bytes at out. The whole output, length / 2 bytes, is zeroed first, so a
 * character that is not a hex digit leaves the rest zero. Returns 1 at such a
 * character, else 0. */
int HexToBytes(const char *hex, int length, unsigned char *out);

/* Replace the context's message with the formatted text. When no storage is
 * left for it the message becomes null. */
void SetExprError(ExprContext *ctx, const char *format, ...) PL_PRINTF_FORMAT(2, 3);

/* Release one lexeme and its owned text. Null is accepted. */
void FreeLexeme(Lexeme *lex);

/* Fill in the keyword lengths of every command's parameter table and the
 * name lengths and word flags of ExprOperators. Does the work once per
 * process; safe from any thread. */
void InitExpressionTables(void);

/* ---- expr_parse.cpp -- compiling ------------------------------------------- */

/* Compile the NUL-terminated filter text. caller is copied into the context.
 * Returns the compiled filter, or null with *message set to the reason (the
 * caller owns it and frees it with CSFreeMem; it is null only when memory
 * ran out while it was written). String literals refer into text, which the
 * caller keeps unchanged until FreeExpression. */
ExprContext *CompileExpression(const char *text, const ExprCallerData *caller, char **message);

/* Release a compiled filter: both lists, their owned text, the stack and the
 * message. Null is accepted. */
void FreeExpression(ExprContext *ctx);

/* ---- expr_eval.cpp -- evaluating ------------------------------------------- */

/* Evaluate the sub-expression at *cursor (the postfix head for the whole
 * filter) against ctx->caller.record; *cursor moves past it. The result is
 * LEX_INTEGER 1/0, LEX_NULL, or an operand's value (strings then refer into
 * the record or the compiled filter). Iterative: the depth of the filter
 * costs no machine stack. Returns 1, or 0 with the message set. */
int EvaluateExpression(ExprContext *ctx, Lexeme **cursor, Lexeme *result);

/* Evaluate the whole filter for record; 1 when it succeeds and its result is
 * true. The failure's message stays in the context. */
int ExprMatches(ExprContext *ctx, const CERTREC *record);

/* The truth of a result: an integer by its low 32 bits, a real truncated,
 * a string when not empty; LEX_NULL is false. */
int ExprIsTrue(const Lexeme *value);

/* The variable callback: a value name of the other operand's attribute, else
 * the attribute found by FindParamByName in the caller's table, read from
 * the current record. Errors: CVLA610E unknown, CVLA611E ambiguous. */
int ResolveVariable(ExprContext *ctx, const Lexeme *other, Lexeme *variable, Lexeme *result);

enum {
    FIND_EXACT = 0x0,   /* the keyword's full length only */
    FIND_ABBREV = 0x1,  /* a unique prefix of a keyword will do */
    FIND_SKIP_AQW = 0x2 /* rows of type letter 'a', 'q' and 'w' are no candidates */
};

/* The row of table whose keyword name[0..length) names (case-insensitive),
 * or null; *ambiguous is 1 when several keywords start with an abbreviation. */
const MqscParamDef *FindParamByName(const MqscParamDef *table, const char *name, int length,
                                    int mode, int *ambiguous);

/* 1 when the whole value matches pattern: '*' any run (empty included), '?'
 * exactly one byte, any other byte itself. Iterative, O(value * pattern). */
int WildcardMatch(const char *value, int valueLength, const char *pattern, int patternLength);

/* The handlers of ExprOperators. */
int CompareHandler(ExprContext *ctx, const OperatorDef *op, const Lexeme *left, const Lexeme *right,
                   Lexeme *result);
int WildcardHandler(ExprContext *ctx, const OperatorDef *op, const Lexeme *left,
                    const Lexeme *right, Lexeme *result);
int ContainsHandler(ExprContext *ctx, const OperatorDef *op, const Lexeme *left,
                    const Lexeme *right, Lexeme *result);

/* ---- expr_units.cpp -- numbers with units ---------------------------------- */

/* Parse text[0..length) with the first unit set sharing a bit with
 * unitsMask. Returns -1 when no set does; 0 with *total (in the set's base
 * unit, held at INT64_MAX); 1 with the parser's reason in err (errSize
 * bytes, terminated). */
int ParseExprUnits(uint32_t unitsMask, const char *text, int length, int64_t *total, char *err,
                   int errSize);
