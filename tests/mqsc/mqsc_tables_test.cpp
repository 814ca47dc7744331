/* mqsc_tables_test.cpp -- the command and parameter tables, the tokenizer,
 * the closing-parenthesis search and the value-name look-up. */
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "cert/certrec.h"
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

TEST(MqscTables, CertParamTableRowsPointIntoTheCertificateRecord) {
    struct Row {
        const char *keyword;
        const char *modes;
        char type;
        MQLONG id;
        const ValueNameDef *names;
        MQLONG units;
        MQLONG offset;
        MQLONG fieldType;
    } rows[] = {
        {"CERT", "d+", 's', 2121, nullptr, 0, offsetof(CERTREC, label), FIELD_TEXT},
        {"SSLKEYR", "d*", 's', 2049, nullptr, 0, 0, FIELD_NONE},
        {"SSLPEER", "d ", 's', 3545, nullptr, 0, offsetof(CERTREC, subject), FIELD_TEXT},
        {"SERIAL", "d ", 's', 20013, nullptr, 0, offsetof(CERTREC, serial), FIELD_TEXT},
        {"SSLCERTI", "d ", 's', 3550, nullptr, 0, offsetof(CERTREC, issuer), FIELD_TEXT},
        {"KEYSIZE", "d ", 'i', 20009, nullptr, 0, offsetof(CERTREC, keySize), FIELD_INT32},
        {"DEFAULT", "d ", 'i', 20010, YesNoNames, 0, offsetof(CERTREC, isDefault), FIELD_INT32},
        {"CERTUSAGE", "d*", 'i', 20011, CertUsageNames, 0, offsetof(CERTREC, usage), FIELD_INT32},
        {"TRUSTED", "d ", 'i', 20012, TrustNames, 0, offsetof(CERTREC, trusted), FIELD_INT32},
        {"QMGRCERT", "d ", 'i', 20014, YesNoNames, 0, offsetof(CERTREC, qmgrCert), FIELD_INT32},
        {"ISSUETI", "d ", 't', 20006, nullptr, 0, offsetof(CERTREC, notBefore), FIELD_TIME64},
        {"EXPIRYTI", "d ", 't', 20007, nullptr, 0, offsetof(CERTREC, notAfter), FIELD_TIME64},
        {"LIFESPAN", "d ", 'i', 20008, nullptr, UNITS_SECONDS, offsetof(CERTREC, secondsLeft),
         FIELD_TIME64},
        {"EVTTHRES", "d*", 'i', 20015, nullptr, UNITS_DAYS, 0, FIELD_NONE},
        {"ALL", "d ", 'a', 1009, nullptr, 0, 0, FIELD_NONE},
        {"WHERE", "d*", 'w', 20002, nullptr, 0, 0, FIELD_NONE},
    };
    size_t i = 0;
    for (; CertParamTable[i].keyword != nullptr; i++) {
        ASSERT_LT(i, sizeof rows / sizeof rows[0]);
        const MqscParamDef &p = CertParamTable[i];
        const Row &r = rows[i];
        SCOPED_TRACE(r.keyword);
        EXPECT_STREQ(p.keyword, r.keyword);
        EXPECT_STREQ(p.verbModes, r.modes);
        EXPECT_EQ(p.type, r.type);
        EXPECT_EQ(p.parmId, r.id);
        EXPECT_EQ(p.names, r.names);
        EXPECT_EQ(p.unitsMask, r.units);
        EXPECT_EQ(p.fieldType, r.fieldType);
        if (p.fieldType != FIELD_NONE) {
            EXPECT_EQ(p.fieldOffset, r.offset);
        }
        EXPECT_EQ(p.fixedLength, 0);
    }
    EXPECT_EQ(i, sizeof rows / sizeof rows[0]);
    EXPECT_EQ(CertParamTable[i].parmId, 0);

    const MqscCommandDef &cmd = MqscCommandTable[0];
    EXPECT_EQ(cmd.verbLetter, 'd');
    EXPECT_STREQ(cmd.verb, "DISPLAY");
    EXPECT_STREQ(cmd.verbShort, "DIS");
    EXPECT_STREQ(cmd.object, "CERT");
    EXPECT_EQ(cmd.params, CertParamTable);
    EXPECT_EQ(cmd.command, 9500);
    EXPECT_EQ(cmd.attrListId, 20003);
    EXPECT_EQ(MqscCommandTable[1].object, nullptr);
    EXPECT_STREQ(cmd.helpText,
                 "CVLA620E Valid syntax for the TORVIK command:\n\n   DISPLAY CERT( "
                 "certificate_label ) \n     [ KEYREPOS( key_repository_location ) ]\n     [ "
                 "WHERE( filter_expression ) ]\n     [ EVTTHRES( days ) ]\n\n     [ ALL     "
                 "]\n\n     [ CERTUSGE ] [ DEFAULT  ] [ EXPIRYTI ] [ ISSUETI  ]\n     [ KEYSIZE  "
                 "] [ LIFESPAN ] [ QMGRCERT ] [ SERIAL   ]\n     [ SSLCERTI ] [ SSLPEER  ] [ "
                 "TRUSTED  ]\n");
}

}  // namespace
