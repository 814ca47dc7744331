/* mqsc_tables_test.cpp -- the command and parameter tables, the tokenizer,
 * the closing-parenthesis search and the value-name look-up. */
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "mqsc/certrec.h"
#include "mqconst/mqconst.h"
#include "mqsc/mqsc_tables.h"

namespace {

std::vector<std::string> Tokens(const std::string &text) {
    std::vector<std::string> out;
    const char *cursor = text.data(), *end = text.data() + text.size(), *start;
    int length;
    while (NextToken(&cursor, end, MQSC_DELIMITERS, MQSC_SEPARATORS, &start, &length))
        out.emplace_back(start, (size_t)length);
    return out;
}

TEST(MqscTables, NextTokenSplitsWordsQuotesDelimitersAndOperators) {
    struct Case {
        std::string text;
        std::vector<std::string> tokens;
    } cases[] = {
        {"  DIS\tCERT(ABC)\r\n", {"DIS", "CERT", "(", "ABC", ")"}},
        {"'it''s'", {"'it'", "'s'"}},
        {"'a b(c)' \"x'y\"", {"'a b(c)'", "\"x'y\""}},
        {"'open to the end", {"'open to the end"}},
        {"A<>B!=C>=D<=E==F", {"A", "<>", "B", "!=", "C", ">=", "D", "<=", "E", "==", "F"}},
        {"A<B>C=D-5*2", {"A", "<", "B", ">", "C", "=", "D", "-", "5", "*", "2"}},
        {"X;Y,Z", {"X", ";", "Y", ",", "Z"}},
        {std::string("AB\0CD", 5), {"AB"}},
        {"   ", {}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Tokens(c.text), c.tokens) << c.text;
}

TEST(MqscTables, FindClosingParenSkipsQuotesAndNesting) {
    struct Case {
        const char *text; /* after the opening '(' */
        int at;           /* offset of the closing ')', -1 none */
    } cases[] = {
        {"A)", 1},
        {"A (B) C) D", 7},
        {"'x)' )", 5},
        {"\"it's)\" )", -1},
        /* the apostrophe opens a run of its own */ {"'a\"b)\"c)' )", 10},
        {"(unclosed", -1},
        {"'quote)", -1},
    };
    for (const Case &c : cases) {
        const char *end = c.text + strlen(c.text);
        const char *got = FindClosingParen(c.text, end);
        EXPECT_EQ(got == nullptr ? -1 : (int)(got - c.text), c.at) << c.text;
    }
    /* quoted runs nested a million deep cost no machine stack */
    std::string opens, closes;
    for (int i = 0; i < 500000; i++) {
        opens += "'\"";
        closes += "\"'";
    }
    const std::string deep = opens + closes + ")";
    EXPECT_EQ(FindClosingParen(deep.data(), deep.data() + deep.size()), &deep.back());
}

TEST(MqscTables, LookupValueNameByNumberOrKeyword) {
    struct Case {
        const ValueNameDef *names;
        const char *text;
        const char *keyword; /* null: none */
    } cases[] = {
        {TrustNames, "HIGH", "HIGH"},   {TrustNames, "high", "HIGH"},
        {TrustNames, "2", "HIGH"},      {TrustNames, "'2'", "HIGH"},
        {TrustNames, "+0", "NO"},       {TrustNames, "HIG", nullptr},
        {TrustNames, "MAYBE", nullptr}, {TrustNames, "7", nullptr},
        {CertUsageNames, "-1", "ALL"},  {CertUsageNames, "cacert", "CACERT"},
        {YesNoNames, "-", nullptr},     {YesNoNames, "99999999999999999999", nullptr},
    };
    for (const Case &c : cases) {
        const ValueNameDef *row = LookupValueName(c.names, c.text, (int)strlen(c.text));
        EXPECT_STREQ(row == nullptr ? nullptr : row->keyword, c.keyword) << c.text;
    }
}

}  // namespace
