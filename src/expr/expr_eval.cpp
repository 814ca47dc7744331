/* expr_eval.cpp -- evaluating a compiled WHERE filter against one
 * certificate record: variables, the operator handlers, wildcard matching
 * and the truth of a result.
 *
 * Owns: nothing; the evaluation stack belongs to the compiled filter.
 * Threads: the thread that owns the compiled filter (the consumer thread).
 */
#include <cctype>
#include <cstring>

#include "expr/expr.h"
#include "log/cs.h"

static void CopyOperand(const Lexeme *lex, Lexeme *value);
static int ReadField(ExprContext *ctx, const Lexeme *variable, const MqscParamDef *row,
                     Lexeme *result);
static int IsString(const Lexeme *lex);

/* ---- the walk ------------------------------------------------------------------ */

/* The postfix list is walked from the head: an operator, then its right
 * operand's sub-expression, then its left operand's. Operators wait on the
 * context's stack until both operands are known, so deep filters cost no
 * machine stack. */
int EvaluateExpression(ExprContext *ctx, Lexeme **cursor, Lexeme *result) {
    int depth = 0;
    Lexeme value;
    for (;;) {
        Lexeme *lex = *cursor;
        if (lex == nullptr) {
            /* Only a list that was not built by the compiler ends early. */
            if (depth > 0)
                SetExprError(ctx, "An operand was expected after '%s' at position %d",
                             ctx->frames[depth - 1].op->value.op->name,
                             ctx->frames[depth - 1].op->position + ctx->positionOffset);
            else
                SetExprError(ctx, "No expression given");
            return 0;
        }
        *cursor = lex->next;
        if (lex->type == LEX_OPERATOR) {
            const OperatorDef *op = lex->value.op;
            Lexeme *right = lex->next;
            if (right != nullptr && right->type == LEX_VARIABLE && right->next != nullptr &&
                right->next->type == LEX_VARIABLE) {
                /* Two variables: the left first, so that the right may be
                 * one of the left attribute's value names. */
                Lexeme *left = right->next;
                Lexeme leftValue, rightValue;
                *cursor = left->next;
                if (!ctx->resolve(ctx, nullptr, left, &leftValue) ||
                    !ctx->resolve(ctx, left, right, &rightValue) ||
                    !op->handler(ctx, op, &leftValue, &rightValue, &value))
                    return 0;
            } else {
                if (depth >= ctx->frameCount) {
                    SetExprError(ctx, "Can not allocate %d bytes",
                                 static_cast<int>(sizeof(EXPRFRAME)));
                    return 0;
                }
                ctx->frames[depth].op = lex;
                ctx->frames[depth].haveRight = 0;
                depth++;
                continue;
            }
        } else if (lex->type == LEX_VARIABLE) {
            if (!ctx->resolve(ctx, nullptr, lex, &value))
                return 0;
        } else {
            CopyOperand(lex, &value);
        }
        /* A value is complete: it is the right operand of the operator on
         * top, or its left one, which lets that operator run. */
        while (depth > 0) {
            EXPRFRAME *frame = &ctx->frames[depth - 1];
            if (!frame->haveRight) {
                frame->right = value;
                frame->haveRight = 1;
                break;
            }
            const OperatorDef *op = frame->op->value.op;
            Lexeme out;
            if (!op->handler(ctx, op, &value, &frame->right, &out))
                return 0;
            value = out;
            depth--;
        }
        if (depth == 0) {
            *result = value;
            return 1;
        }
    }
}

int ExprMatches(ExprContext *ctx, const CERTREC *record) {
    ctx->caller.record = record;
    Lexeme *cursor = ctx->postfixHead;
    Lexeme result;
    memset(&result, 0, sizeof result);
    return EvaluateExpression(ctx, &cursor, &result) && ExprIsTrue(&result);
}

int ExprIsTrue(const Lexeme *value) {
    if (value->type == LEX_INTEGER)
        return static_cast<uint32_t>(value->value.integer) != 0;
    if (value->type == LEX_REAL)
        return value->value.real >= 1.0 || value->value.real <= -1.0;
    if (IsString(value))
        return value->value.length != 0;
    return 0;
}

/* A literal operand as a value; strings stay where they are. */
static void CopyOperand(const Lexeme *lex, Lexeme *value) {
    *value = *lex;
    value->next = value->previous = nullptr;
    if (lex->type == LEX_STRING_OWNED)
        value->type = LEX_STRING; /* the compiled filter keeps the bytes */
}

static int IsString(const Lexeme *lex) {
    return (lex->type & 0xFF) == LEX_STRING;
}

static void SetInteger(Lexeme *result, int64_t value) {
    memset(result, 0, sizeof *result);
    result->type = LEX_INTEGER;
    result->value.integer = value;
}

/* ---- variables ----------------------------------------------------------------- */

const MqscParamDef *FindParamByName(const MqscParamDef *table, const char *name, int length,
                                    int mode, int *ambiguous) {
    const MqscParamDef *found = nullptr;
    int count = 0;
    *ambiguous = 0;
    for (const MqscParamDef *row = table; row->keyword != nullptr; row++) {
        const int keywordLength = row->keywordLength > 0 ? static_cast<int>(row->keywordLength)
                                                         : static_cast<int>(strlen(row->keyword));
        if (keywordLength < length || (!(mode & FIND_ABBREV) && keywordLength != length))
            continue;
        if ((mode & FIND_SKIP_AQW) && (row->type == 'a' || row->type == 'q' || row->type == 'w'))
            continue;
        int i = 0;
        while (i < length && toupper(static_cast<unsigned char>(row->keyword[i])) ==
                                 toupper(static_cast<unsigned char>(name[i])))
            i++;
        if (i < length)
            continue;
        if (keywordLength == length)
            return row;
        count++;
        found = row;
    }
    if (count == 1)
        return found;
    if (count > 1)
        *ambiguous = 1;
    return nullptr;
}

int ResolveVariable(ExprContext *ctx, const Lexeme *other, Lexeme *variable, Lexeme *result) {
    /* A value name of the left attribute: TRUSTED EQ HIGH compares with 2. */
    if (other != nullptr && other->param != nullptr && other->param->names != nullptr) {
        const ValueNameDef *name =
            LookupValueName(other->param->names, variable->text, variable->nameLength);
        if (name != nullptr) {
            SetInteger(result, name->value);
            return 1;
        }
    }
    const MqscParamDef *row = variable->param;
    if (row == nullptr) {
        int ambiguous = 0;
        if (ctx->caller.params != nullptr)
            row = FindParamByName(ctx->caller.params, variable->text, variable->nameLength,
                                  FIND_ABBREV | FIND_SKIP_AQW, &ambiguous);
        if (row == nullptr) {
            if (ambiguous)
                SetExprError(ctx, "CVLA611E Variable '%.*s' is ambiguous", variable->nameLength,
                             variable->text);
            else
                SetExprError(ctx, "CVLA610E Unknown variable '%.*s'", variable->nameLength,
                             variable->text);
            return 0;
        }
    }
    if (!ReadField(ctx, variable, row, result))
        return 0;
    variable->param = row;
    return 1;
}

/* The attribute's value in the current record (all zeros when none). */
static int ReadField(ExprContext *ctx, const Lexeme *variable, const MqscParamDef *row,
                     Lexeme *result) {
    static const CERTREC zero = {};
    const CERTREC *record = ctx->caller.record != nullptr ? ctx->caller.record : &zero;
    const char *base = reinterpret_cast<const char *>(record);
    const long offset = row->fieldOffset;
    const long room = static_cast<long>(sizeof(CERTREC)) - offset;
    memset(result, 0, sizeof *result); /* LEX_NULL */
    switch (row->fieldType) {
        case FIELD_NONE:
            /* A keyword of the command with no certificate field behind it
             * (SSLKEYR, EVTTHRES): never set for a certificate. */
            return 1;
        case FIELD_INT32:
            if (offset >= 0 && room >= static_cast<long>(sizeof(int32_t))) {
                int32_t value;
                memcpy(&value, base + offset, sizeof value);
                if (value != INT32_MIN) {
                    result->type = LEX_INTEGER;
                    result->value.integer = value;
                }
                return 1;
            }
            break;
        case FIELD_TIME64:
            if (offset >= 0 && room >= static_cast<long>(sizeof(int64_t))) {
                int64_t value;
                memcpy(&value, base + offset, sizeof value);
                if (value != INT64_MIN) {
                    result->type = LEX_INTEGER;
                    result->value.integer = value;
                }
                return 1;
            }
            break;
        case FIELD_TEXT:
            if (offset >= 0 && room > 0) {
                const char *text = base + offset;
                long length;
                if (row->fixedLength == 0) {
                    length = static_cast<long>(strnlen(text, static_cast<size_t>(room)));
                } else {
                    length = row->fixedLength < room ? row->fixedLength : room;
                    while (length > 0 && (text[length - 1] == '\0' || text[length - 1] == '\t' ||
                                          text[length - 1] == '\n' || text[length - 1] == '\r' ||
                                          text[length - 1] == ' '))
                        length--;
                }
                result->type = LEX_STRING;
                result->text = const_cast<char *>(text);
                result->value.length = length;
                return 1;
            }
            break;
        default:
            break;
    }
    SetExprError(ctx, "CVLA610E Unknown variable '%.*s'", variable->nameLength, variable->text);
    return 0;
}

/* ---- handlers ---------------------------------------------------------------- */

/* Make a and b the same kind: an integer beside a real becomes a real; a
 * string beside a number becomes its length. */
static void Harmonise(Lexeme *a, const Lexeme *b) {
    if (IsString(a) && !IsString(b)) {
        const int64_t length = a->value.length;
        if (b->type == LEX_REAL) {
            a->type = LEX_REAL;
            a->value.real = static_cast<double>(length);
        } else {
            a->type = LEX_INTEGER;
            a->value.integer = length;
        }
    } else if (a->type == LEX_INTEGER && b->type == LEX_REAL) {
        a->type = LEX_REAL;
        a->value.real = static_cast<double>(a->value.integer);
    }
}

int CompareHandler(ExprContext *ctx, const OperatorDef *op, const Lexeme *left, const Lexeme *right,
                   Lexeme *result) {
    (void)ctx;
    memset(result, 0, sizeof *result);
    if (left->type == LEX_NULL || right->type == LEX_NULL)
        return 1; /* an attribute that is not set compares false, NE included */
    Lexeme a = *left, b = *right;
    Harmonise(&a, &b);
    Harmonise(&b, &a);
    int order = 0; /* -1, 0, 1 */
    int unordered = 0;
    if (IsString(&a) && IsString(&b)) {
        const int64_t shorter = a.value.length < b.value.length ? a.value.length : b.value.length;
        const int c = shorter > 0 ? memcmp(a.text, b.text, static_cast<size_t>(shorter)) : 0;
        order = c < 0                             ? -1
                : c > 0                           ? 1
                : a.value.length < b.value.length ? -1
                : a.value.length > b.value.length ? 1
                                                  : 0;
    } else if (a.type == LEX_REAL && b.type == LEX_REAL) {
        if (a.value.real != a.value.real || b.value.real != b.value.real)
            unordered = 1;
        else
            order = a.value.real < b.value.real ? -1 : a.value.real > b.value.real ? 1 : 0;
    } else if (a.type == LEX_INTEGER && b.type == LEX_INTEGER) {
        order = a.value.integer < b.value.integer ? -1 : a.value.integer > b.value.integer ? 1 : 0;
    } else {
        return 1; /* no value of this language is anything else */
    }
    int holds;
    const char *name = op->name;
    if (name[0] == 'E')
        holds = !unordered && order == 0;
    else if (name[0] == 'N')
        holds = unordered || order != 0;
    else if (name[1] == 'E')
        holds = !unordered && (name[0] == 'G' ? order >= 0 : order <= 0);
    else
        holds = !unordered && (name[0] == 'G' ? order > 0 : order < 0);
    SetInteger(result, holds);
    return 1;
}

int WildcardHandler(ExprContext *ctx, const OperatorDef *op, const Lexeme *left,
                    const Lexeme *right, Lexeme *result) {
    if (left->type == LEX_NULL || right->type == LEX_NULL) {
        SetInteger(result, 0);
        return 1;
    }
    if (!IsString(left) || !IsString(right)) {
        SetExprError(ctx, "Operator '%s' is only applicable to strings", op->name);
        return 0;
    }
    const int match = WildcardMatch(left->text, static_cast<int>(left->value.length), right->text,
                                    static_cast<int>(right->value.length));
    SetInteger(result, op->name[0] == 'L' ? match : !match);
    return 1;
}

int ContainsHandler(ExprContext *ctx, const OperatorDef *op, const Lexeme *left,
                    const Lexeme *right, Lexeme *result) {
    if (!IsString(right)) {
        if (ctx->trial) {
            SetInteger(result, 1);
            return 1;
        }
        SetExprError(ctx, "Second operand to operator '%s' should be a string", op->name);
        return 0;
    }
    if (!IsString(left)) {
        if (ctx->trial) {
            SetInteger(result, 1);
            return 1;
        }
        SetExprError(ctx, "First operand to operator '%s' should be a list or string", op->name);
        return 0;
    }
    const int same =
        left->value.length == right->value.length &&
        (left->value.length == 0 ||
         memcmp(left->text, right->text, static_cast<size_t>(left->value.length)) == 0);
    SetInteger(result, op->name[0] == 'C' ? same : !same);
    return 1;
}

int WildcardMatch(const char *value, int valueLength, const char *pattern, int patternLength) {
    int v = 0, p = 0;
    int star = -1;  /* pattern position of the latest '*' */
    int resume = 0; /* value position that '*' is tried from next */
    while (v < valueLength) {
        if (p < patternLength && pattern[p] == '*') {
            star = p++;
            resume = v;
        } else if (p < patternLength && (pattern[p] == '?' || pattern[p] == value[v])) {
            p++;
            v++;
        } else if (star >= 0) {
            p = star + 1; /* the '*' takes one more character */
            v = ++resume;
        } else {
            return 0;
        }
    }
    while (p < patternLength && pattern[p] == '*')
        p++;
    return p == patternLength;
}
