/* expr_test.cpp -- WHERE filters: tokens, postfix order, evaluation against
 * certificate records, and their messages. */
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "expr/expr.h"
#include "log/cs.h"

namespace {

const ExprCallerData Caller = {nullptr, CertParamTable, nullptr};

/* One lexeme as text: "VAR KEYSIZE", "OP GE", "INT 2048", "BYTES x'41'" ... */
std::string Describe(const Lexeme *lex) {
    switch (lex->type) {
        case LEX_VARIABLE:
            return "VAR " + std::string(lex->text, lex->nameLength);
        case LEX_OPERATOR:
            return std::string("OP ") + lex->value.op->name;
        case LEX_INTEGER:
            return "INT " + std::to_string(lex->value.integer);
        case LEX_REAL:
            return "REAL " + std::to_string(lex->value.real);
        case LEX_STRING:
            return "STR '" + std::string(lex->text, static_cast<size_t>(lex->value.length)) + "'";
        case LEX_STRING_OWNED: {
            std::string s = "BYTES x'";
            char hex[3];
            for (int64_t i = 0; i < lex->value.length; i++) {
                snprintf(hex, sizeof hex, "%02X", static_cast<unsigned char>(lex->text[i]));
                s += hex;
            }
            return s + "'";
        }
        default:
            return "NULL";
    }
}

/* Compile text; then its postfix order (first operand first) when rec is
 * null, else its value against *rec: "1", "0", "NULL", "STR ...". Or the
 * message of the compile, the lexer's included ("compile: ..."), or of the
 * evaluation ("error: "). */
std::string Filter(const std::string &text, const CERTREC *rec = nullptr) {
    char *message = nullptr;
    ExprContext *ctx = CompileExpression(text.c_str(), &Caller, &message);
    if (ctx == nullptr) {
        std::string out = std::string("compile: ") + (message ? message : "(null)");
        CSFreeMem(message);
        return out;
    }
    EXPECT_EQ(ctx->tokenHead, nullptr);
    std::string out;
    for (const Lexeme *lex = ctx->postfixTail; rec == nullptr && lex != nullptr;
         lex = lex->previous) {
        std::string d = Describe(lex);
        out += (out.empty() ? "" : " ") + d.substr(d.find(' ') + 1);
    }
    Lexeme *cursor = ctx->postfixHead;
    Lexeme result{};
    ctx->caller.record = rec;
    if (rec == nullptr)
        cursor = nullptr;
    else if (!EvaluateExpression(ctx, &cursor, &result))
        out = std::string("error: ") + ctx->message;
    else if (result.type == LEX_INTEGER)
        out = std::to_string(result.value.integer);
    else if (result.type == LEX_NULL)
        out = "NULL";
    else
        out = Describe(&result);
    EXPECT_EQ(cursor, nullptr) << text;
    FreeExpression(ctx);
    return out;
}

/* A certificate as the details parser leaves it. */
CERTREC Cert() {
    CERTREC rec;
    memset(&rec, 0, sizeof rec);
    InitCertRecord(&rec);
    snprintf(rec.label, sizeof rec.label, "ibmwebspheremqqm1");
    snprintf(rec.subject, sizeof rec.subject, "CN=qm1,O=ACME,C=GB");
    snprintf(rec.issuer, sizeof rec.issuer, "CN=ACME CA,O=ACME,C=GB");
    snprintf(rec.serial, sizeof rec.serial, "0a1b2");
    rec.keySize = 2048;
    rec.usage = CERT_USAGE_PERSONAL;
    rec.trusted = 2;
    rec.isDefault = 1;
    rec.notBefore = 1600000000;
    rec.notAfter = 1700000000;
    rec.secondsLeft = 29 * 86400;
    return rec;
}

using Case = std::pair<const char *, const char *>; /* text, expected */

}  // namespace

/* Tokens show in the postfix order: names of variables (an operator word
 * only where a blank, not a tab, ends it), case-blind operators, numbers with
 * units, constants, hex numbers and strings. */
TEST(ExprCompile, TokensAndPrecedenceMakeThePostfixOrder) {
    const std::string longName = "CONST." + std::string(100, 'A');
    const std::string longError = "compile: Unrecognised token '" + longName + "' at position 0";
    const std::vector<Case> cases = {
        {"SSLPEER EQ \"a b\" EQ ''", "SSLPEER 'a b' EQ '' EQ"},
        {"SERIAL ctg 'a' Eq SERIAL exg 'b'", "SERIAL 'a' CTG SERIAL 'b' EXG EQ"},
        {"EQUALS EQ 1", "compile: CVLA610E Unknown variable 'EQUALS'"},
        {"KEYSIZE EQ\t1", "compile: An operator was expected after operand at position 0"},
        {"CONST.MQRC_NONE EQ CONST.mqca_cert_label", "0 2121 EQ"},
        {"0x1F EQ 0x'4142' EQ 0xffffffffffffffff1", "31 x'4142' EQ -15 EQ"},
        {"0x'41ZZ43' EQ 0x' EQ 0x'414", "x'410000' x'' EQ x'41' EQ"},
        {"123456789012345678 EQ 1.5 EQ . EQ 0.25",
         "123456789012345678 1.500000 EQ 0.000000 EQ 0.250000 EQ"},
        {"1234567890123456.78", "1234567890123456.750000"},
        {"LIFESPAN LT 30d", "LIFESPAN 2592000 LT"},
        {"LIFE LT 1 d 2h", "compile: Unrecognised token '2h' at position 12"}, /* d is DEFAULT */
        {"LIFESPAN LT 1.5h", "LIFESPAN 5400 LT"},
        {"EVTTHRES EQ 2w", "EVTTHRES 14 EQ"},
        {"LIFESPAN LT 999999999999y", "LIFESPAN 9223372036854775807 LT"},
        {"KEYSIZE EQ 2w", "compile: Unrecognised token '2w' at position 11"},
        {"LIFESPAN LT 5m", "compile: Unit 'm' is ambiguous."},
        {"LIFESPAN LT 1.2.3s", "compile: Unexpected dot(.) found"},
        {"LIFESPAN LT (", "compile: Number expected."},
        {"KEYSIZE GT -1", "compile: Unrecognised token '-' at position 11"},
        {"1234567890123456789", "compile: Unrecognised token '1234567890123456789' at position 0"},
        {"12345678901234567.89",
         "compile: Unrecognised token '12345678901234567.89' at position 0"},
        {"CONST.NOSUCH", "compile: Unrecognised constant 'NOSUCH'."},
        {"CONST.", "compile: No constant name provided"},
        {longName.c_str(), longError.c_str()},
        {"0xZZ", "compile: Invalid hex number 'ZZ' at position 0"},
        {"_foo", "compile: Unrecognised system variable '_foo' at position 0"},
        {"KEYSIZE.long", "compile: 'KEYSIZE' is not an indicator at position 0"},
        {"X EQ 'abc", "compile: Quote missing from string"},
        {"X EQ \"abc'", "compile: Quote missing from string"},
        {"KEYSIZE GE 2048", "KEYSIZE 2048 GE"},
        {"KEYSIZE EQ DEFAULT GT TRUSTED", "KEYSIZE DEFAULT TRUSTED GT EQ"},
        {"KEYSIZE EQ DEFAULT NE TRUSTED", "KEYSIZE DEFAULT EQ TRUSTED NE"},
        {"KEYSIZE GE 2048 EQ SSLPEER LK '*O=ACME*'", "KEYSIZE 2048 GE SSLPEER '*O=ACME*' LK EQ"},
        {"1 LT 2 LT 3 EQ 4", "1 2 LT 3 LT 4 EQ"},
        {"1 EQ 2 GT SSLPEER LK 'a'", "1 2 SSLPEER 'a' LK GT EQ"},
        {"2048", "2048"},
        {"", "compile: No expression given"},
        {" \t\n ", "compile: No expression given"},
        {"KEYSIZE 2048", "compile: An operator was expected after operand at position 0"},
        {"KEYSIZE GE 2048 5", "compile: An operator was expected after operand at position 11"},
        {"EQ 5", "compile: Unexpected operator 'EQ' found at position 0"},
        {"KEYSIZE ge gt 1", "compile: Unexpected operator 'GT' found at position 11"},
        {"KEYSIZE GT", "compile: An operand was expected after 'GT' at position 8"},
        {"NOSUCH EQ 1", "compile: CVLA610E Unknown variable 'NOSUCH'"},
        {"SSLPEER LK 5", "compile: Operator 'LK' is only applicable to strings"},
        {"KEYSIZE CT 'x'", "KEYSIZE 'x' CT"},
        {"SSLPEER CT 5", "SSLPEER 5 CT"},
    };
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(Filter(text), expected) << text;
}

/* Value names only on the right (ALL is -1 there, not the attribute);
 * mixed operands converted; CT and EX on whole strings, their operand types
 * checked on evaluation. */
TEST(ExprEval, AttributesOperatorsAndConversions) {
    const CERTREC rec = Cert();
    std::string chain = "KEYSIZE", ones = "1"; /* long chains cost no deep recursion */
    while (chain.size() < EXPR_MAX_TEXT - 16)
        chain += " EQ KEYSIZE"; /* (2048 EQ 2048) EQ 2048 ... */
    while (ones.size() < 1000)
        ones += " EQ 1";
    const std::string tooLong(EXPR_MAX_TEXT + 1, ' ');
    const std::vector<Case> cases = {
        {"KEYSIZE GE 2048", "1"},
        {"SSLPEER LK '*O=ACME*'", "1"},
        {"SSLPEER LK '*o=acme*'", "0"},
        {"SSLPEER NL '*O=ACME*'", "0"},
        {"SSLCERTI LK 'CN=ACME CA*'", "1"},
        {"CERT EQ 'ibmwebspheremqqm1'", "1"},
        {"EXPIRYTI LT 1700000001", "1"},
        {"ISSUETI EQ 1600000000", "1"},
        {"LIFESPAN LT 30d", "1"},
        {"TRUSTED EQ HIGH", "1"},
        {"TRUSTED EQ 'HIGH'", "0"},
        {"TRUSTED EQ 2", "1"},
        {"DEFAULT EQ yes", "1"},
        {"QMGRCERT EQ NO", "1"},
        {"CERTUSAGE EQ PERSONAL", "1"},
        {"CERTUSAGE GT ALL", "1"},
        {"CACERT EQ CERTUSAGE", "compile: CVLA610E Unknown variable 'CACERT'"},
        {"EXP LT 0", "0"},
        {"SSLC LK '*'", "1"},
        {"keysize eq 2048", "1"},
        {"KEYSIZES EQ 1", "compile: CVLA610E Unknown variable 'KEYSIZES'"},
        {"SSL EQ 'x'", "compile: CVLA611E Variable 'SSL' is ambiguous"},
        {"ALL EQ 1", "compile: CVLA610E Unknown variable 'ALL'"},
        {"_time EQ 1", "compile: CVLA610E Unknown variable '_time'"},
        {"COMPRATE.long EQ 1", "compile: CVLA610E Unknown variable 'COMPRATE'"},
        {"EVTTHRES EQ 14", "NULL"},
        {"EVTTHRES LK '*'", "0"},
        {"SSLKEYR", "NULL"},
        {"SSLPEER", "STR 'CN=qm1,O=ACME,C=GB'"},
        {"0x'4142'", "STR 'AB'"},
        {"1 EQ 1.0", "1"},
        {"'abc' EQ 3", "1"},
        {"2.5 LT 'abc'", "1"},
        {"'ab' LT 'abc'", "1"},
        {"0x'FF' GT 'a'", "1"},
        {"'a' NE 'A'", "1"},
        {"SERIAL CT '0a1b2'", "1"},
        {"SERIAL CTG '0a1b'", "0"},
        {"SERIAL EX '0a1b2'", "0"},
        {"SERIAL EXG 'x'", "1"},
        {"KEYSIZE CT 'x'", "error: First operand to operator 'CT' should be a list or string"},
        {"EVTTHRES EX 'x'", "error: First operand to operator 'EX' should be a list or string"},
        {"SSLPEER CT 5", "error: Second operand to operator 'CT' should be a string"},
        {"SSLPEER LK KEYSIZE", "compile: Operator 'LK' is only applicable to strings"},
        {chain.c_str(), "0"},
        {ones.c_str(), "1"},
        {tooLong.c_str(), "compile: Expression longer than 65535 characters"},
    };
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(Filter(text, &rec), expected) << std::string(text).substr(0, 60);
}

/* Against a record whose key size and expiry are not set: they compare
 * neither equal nor unequal. */
TEST(ExprEval, MatchesTakeLow32BitsTruncatedRealsStringLengthsAndNotSetAsFalse) {
    CERTREC rec = Cert();
    rec.keySize = INT32_MIN;
    rec.notAfter = INT64_MIN;
    const std::pair<const char *, int> cases[] = {
        {"0x100000000", 0},  {"0xffffffff", 1},   {"0.9", 0},           {"1.5", 1},
        {"''", 0},           {"'a'", 1},          {"SSLKEYR", 0},       {"0x'00'", 1},
        {"KEYSIZE NE 5", 0}, {"5 LT KEYSIZE", 0}, {"EXPIRYTI NE 0", 0}, {"KEYSIZE EQ KEYSIZE", 0}};
    for (const auto &c : cases) {
        char *message = nullptr;
        ExprContext *ctx = CompileExpression(c.first, &Caller, &message);
        ASSERT_NE(ctx, nullptr) << c.first;
        EXPECT_EQ(ExprMatches(ctx, &rec), c.second) << c.first;
        FreeExpression(ctx);
    }
}

TEST(ExprEval, WildcardCornerCases) {
    const std::tuple<const char *, const char *, int> cases[] = {
        /* value, pattern, match */
        {"", "*", 1},        {"", "", 1},         {"a", "", 0},          {"", "?", 0},
        {"ABC", "A?C", 1},   {"AC", "A?C", 0},    {"x", "**", 1},        {"", "**", 1},
        {"abcbc", "*bc", 1}, {"abcbd", "*bc", 0}, {"aXbXc", "a*b*c", 1}, {"abc", "abc*", 1},
        {"abc", "ab", 0},    {"ab", "abc", 0},    {"a*c", "a*c", 1},     {"abc", "*?", 1},
    };
    for (const auto &[value, pattern, match] : cases)
        EXPECT_EQ(WildcardMatch(value, static_cast<int>(strlen(value)), pattern,
                                static_cast<int>(strlen(pattern))),
                  match)
            << value << " LK " << pattern;
    /* Many stars against a long value neither recurse nor take long. */
    const std::string value(20000, 'a');
    std::string pattern;
    for (int i = 0; i < 2000; i++)
        pattern += "*a";
    EXPECT_EQ(WildcardMatch(value.data(), 20000, (pattern + "b").data(),
                            static_cast<int>(pattern.size()) + 1),
              0);
    EXPECT_EQ(WildcardMatch(value.data(), 20000, pattern.data(), static_cast<int>(pattern.size())),
              1);
}

TEST(ExprCompile, ReleasesEverythingAndSurvivesExhaustedMemory) {
    const long before = CSMemBlocksInUse();
    const char *text = "KEYSIZE GE 2048 EQ SSLPEER LK '*O=ACME*' NE 0x'41' EQ TRUSTED GT HIGH";
    int failures = 0, compiled = 0; /* the last runs have storage enough */
    for (long n = 0; n < 40; n++) {
        CSSetMemFailAfter(n);
        char *message = nullptr;
        ExprContext *ctx = CompileExpression(text, &Caller, &message);
        CSSetMemFailAfter(-1);
        failures += ctx == nullptr;
        compiled += ctx != nullptr && message == nullptr;
        EXPECT_TRUE(message == nullptr || std::string(message).rfind("Can not allocate ", 0) == 0)
            << message;
        CSFreeMem(message);
        FreeExpression(ctx);
        EXPECT_EQ(CSMemBlocksInUse(), before) << n;
    }
    EXPECT_GT(failures, 5);
    EXPECT_GT(compiled, 0);
}
