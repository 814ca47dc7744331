/* expr_parse.cpp -- compiling a WHERE filter: tokens into postfix order by
 * operator precedence (shunting-yard), then one trial evaluation against an
 * all-zero certificate so that unknown variables and wrong operand types
 * are reported when the command arrives.
 *
 * Owns: nothing beyond the contexts it hands out.
 * Threads: the consumer thread compiles; contexts are not shared.
 */
#include <cstring>

#include "expr/expr.h"
#include "log/cs.h"

static int ParseTokens(ExprContext *ctx);
static void PushPostfix(ExprContext *ctx, Lexeme *lex);
static void FreeList(Lexeme *head);

/* Hand the context's message to the caller and release the context. */
static ExprContext *FailCompile(ExprContext *ctx, char **message) {
    *message = ctx->message;
    ctx->message = nullptr;
    FreeExpression(ctx);
    return nullptr;
}

ExprContext *CompileExpression(const char *text, const ExprCallerData *caller, char **message) {
    *message = nullptr;
    InitExpressionTables();

    ExprContext *ctx = static_cast<ExprContext *>(CSGetMem(sizeof(ExprContext)));
    if (ctx == nullptr)
        return nullptr;
    memset(ctx, 0, sizeof *ctx);
    ctx->operators = ExprOperators;
    ctx->options = EXPR_OPT_CASE_SENSITIVE;
    ctx->resolve = ResolveVariable;
    if (caller != nullptr)
        ctx->caller = *caller;

    const size_t length = text == nullptr ? 0 : strlen(text);
    if (length > static_cast<size_t>(EXPR_MAX_TEXT)) {
        SetExprError(ctx, "Expression longer than %d characters", EXPR_MAX_TEXT);
        return FailCompile(ctx, message);
    }
    if (length > 0 && !CutExpression(ctx, text, text + length))
        return FailCompile(ctx, message);
    if (ctx->tokenHead == nullptr) {
        SetExprError(ctx, "No expression given");
        return FailCompile(ctx, message);
    }
    if (!ParseTokens(ctx))
        return FailCompile(ctx, message);

    /* The evaluation stack: at most one entry per operator. */
    int operators = 0;
    for (Lexeme *lex = ctx->postfixHead; lex != nullptr; lex = lex->next)
        if (lex->type == LEX_OPERATOR)
            operators++;
    if (operators > 0) {
        ctx->frames =
            static_cast<EXPRFRAME *>(CSGetMem(static_cast<size_t>(operators) * sizeof(EXPRFRAME)));
        if (ctx->frames == nullptr) {
            SetExprError(ctx, "Can not allocate %d bytes",
                         static_cast<int>(static_cast<size_t>(operators) * sizeof(EXPRFRAME)));
            return FailCompile(ctx, message);
        }
        ctx->frameCount = operators;
    }

    /* Trial evaluation against a record of zeros. */
    const CERTREC *record = ctx->caller.record;
    ctx->caller.record = nullptr;
    ctx->trial = 1;
    Lexeme *cursor = ctx->postfixHead;
    Lexeme result;
    memset(&result, 0, sizeof result);
    const int ok = EvaluateExpression(ctx, &cursor, &result);
    ctx->trial = 0;
    ctx->caller.record = record;
    if (!ok)
        return FailCompile(ctx, message);
    return ctx;
}

void FreeExpression(ExprContext *ctx) {
    if (ctx == nullptr)
        return;
    FreeList(ctx->tokenHead);
    FreeList(ctx->postfixHead);
    CSFreeMem(ctx->frames);
    CSFreeMem(ctx->message);
    CSFreeMem(ctx);
}

/* Release a list linked by next. */
static void FreeList(Lexeme *head) {
    while (head != nullptr) {
        Lexeme *next = head->next;
        FreeLexeme(head);
        head = next;
    }
}

/* Take the first lexeme off the token list. */
static Lexeme *TakeToken(ExprContext *ctx) {
    Lexeme *lex = ctx->tokenHead;
    if (lex == nullptr)
        return nullptr;
    ctx->tokenHead = lex->next;
    if (ctx->tokenHead != nullptr)
        ctx->tokenHead->previous = nullptr;
    else
        ctx->tokenTail = nullptr;
    lex->next = lex->previous = nullptr;
    return lex;
}

/* Add at the head of the postfix list: the head is the latest item. */
static void PushPostfix(ExprContext *ctx, Lexeme *lex) {
    lex->previous = nullptr;
    lex->next = ctx->postfixHead;
    if (ctx->postfixHead != nullptr)
        ctx->postfixHead->previous = lex;
    else
        ctx->postfixTail = lex;
    ctx->postfixHead = lex;
}

/* Shunting-yard over the token list. Every operator is binary and
 * left-associative: an operator waiting on the stack leaves it for the
 * postfix list when it binds at least as tightly as the new one. */
static int ParseTokens(ExprContext *ctx) {
    Lexeme *stack = nullptr; /* operators awaiting their right operand; linked by next */
    const Lexeme *lastOperand = nullptr;
    const Lexeme *lastOperator = nullptr;
    int expectOperand = 1;
    Lexeme *lex;
    while ((lex = TakeToken(ctx)) != nullptr) {
        if (lex->type != LEX_OPERATOR) {
            if (!expectOperand) {
                SetExprError(ctx, "An operator was expected after operand at position %d",
                             lastOperand->position + ctx->positionOffset);
                FreeLexeme(lex);
                FreeList(stack);
                return 0;
            }
            PushPostfix(ctx, lex);
            lastOperand = lex;
            expectOperand = 0;
            continue;
        }
        const OperatorDef *op = lex->value.op;
        if (expectOperand) {
            /* No operator of this language is unary. */
            SetExprError(ctx, "Unexpected operator '%s' found at position %d", op->name,
                         lex->position + ctx->positionOffset);
            FreeLexeme(lex);
            FreeList(stack);
            return 0;
        }
        while (stack != nullptr && stack->value.op->stackPrecedence >= op->inputPrecedence) {
            Lexeme *top = stack;
            stack = top->next;
            PushPostfix(ctx, top);
        }
        lex->next = stack;
        stack = lex;
        lastOperator = lex;
        expectOperand = 1;
    }
    if (expectOperand) {
        /* Only reached with an operator last: the token list was not empty. */
        SetExprError(ctx, "An operand was expected after '%s' at position %d",
                     lastOperator->value.op->name, lastOperator->position + ctx->positionOffset);
        FreeList(stack);
        return 0;
    }
    while (stack != nullptr) {
        Lexeme *top = stack;
        stack = top->next;
        PushPostfix(ctx, top);
    }
    return 1;
}
