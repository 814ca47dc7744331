/* units_test.cpp -- parsing quantities with units and formatting counts. */
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config/units.h"

namespace {

/* Parse text in the Seconds set: the total, or the error text. */
std::string Seconds(const std::string &text, uint64_t *total = nullptr) {
    char err[100];
    uint64_t t = 12345;
    int rc = ParseUnits(err, sizeof err, text.data(), text.size(), FindUnitSet(UNITS_SECONDS), &t);
    if (total != nullptr)
        *total = t;
    return rc == 0 ? std::to_string(t) : std::string("error: ") + err;
}

/* A count formatted by fn, whose result must be the text's length. */
std::string Formatted(int (*fn)(int64_t, char *, size_t), int64_t v) {
    char buf[64];
    size_t n = static_cast<size_t>(fn(v, buf, sizeof buf));
    EXPECT_EQ(n, strlen(buf));
    return buf;
}

}  // namespace

TEST(ParseUnits, NumbersWithUnitsAddUpInTheBaseUnit) {
    EXPECT_EQ(Seconds("1.5h"), "5400");
    EXPECT_EQ(Seconds("2 d 3 h"), "183600");
    EXPECT_EQ(Seconds("  1 y 1 w  "), std::to_string(31536000 + 604800));
    EXPECT_EQ(Seconds(".5 min"), "30");
    EXPECT_EQ(Seconds(""), "0");
    EXPECT_EQ(Seconds("1 mth 1 mi"), std::to_string(2592000 + 60));
    EXPECT_EQ(Seconds("5 SECS"), Seconds("5 s"));
    EXPECT_EQ(Seconds("5 Seconds"), "5");
    /* digits past the precision are ignored; a huge total stops at the largest */
    EXPECT_EQ(Seconds("1." + std::string(400, '0') + "1 s"), "1");
    EXPECT_EQ(Seconds("2." + std::string(400, '9') + " s"), "2");
    EXPECT_EQ(Seconds("99999999999999999999999 y 5 y"), std::to_string(UINT64_MAX));
}

TEST(ParseUnits, ErrorsAreExplainedAndKeepTheTotalSoFar) {
    uint64_t total = 0;
    EXPECT_EQ(Seconds("10"), "error: Unit type missing");
    EXPECT_EQ(Seconds("5 x"), "error: Unrecognised unit 'x'.");
    EXPECT_EQ(Seconds("1.2.3 s"), "error: Unexpected dot(.) found");
    EXPECT_EQ(Seconds("0." + std::string(330, '0') + ".5 s"), "error: Unexpected dot(.) found");
    EXPECT_EQ(Seconds("abc"), "error: Number expected.");
    EXPECT_EQ(Seconds("5 m"), "error: Unit 'm' is ambiguous.");
    EXPECT_EQ(Seconds("5 Secondsx"), "error: Unrecognised unit 'Secondsx'.");
    EXPECT_EQ(Seconds("2 h 5 %", &total), "error: Unit type missing");
    EXPECT_EQ(total, 7200u);

    /* A short error buffer is cut, not overrun. */
    char err[8];
    uint64_t t;
    std::string text = "1 nosuchunitatall";
    EXPECT_EQ(ParseUnits(err, sizeof err, text.data(), text.size(), FindUnitSet(UNITS_SECONDS), &t),
              1);
    EXPECT_EQ(strlen(err), sizeof err - 1);
}

TEST(FormatCounts, BytesInOneUnitMinutesAsACompoundFromTheLargestDown) {
    const std::pair<int64_t, const char *> bytes[] = {
        {0, "0B"},        {512, "512B"},         {1023, "1023B"},
        {1024, "1KB"},    {1100, "1.07KB"},      {1536, "1.5KB"},
        {1048576, "1MB"}, {3221225472LL, "3GB"}, {5LL << 40, "5120GB"},
        {-2048, "- 2KB"},
    };
    for (const auto &c : bytes)
        EXPECT_EQ(Formatted(FormatBytes, c.first), c.second) << c.first;
    EXPECT_EQ(Formatted(FormatBytes, INT64_MIN).substr(0, 2), "- ");
    const std::pair<int64_t, const char *> minutes[] = {
        {0, "0Mins"},          {1, "1Min"},
        {5, "5Mins"},          {60, "1Hr"},
        {90, "1Hr 30Mins"},    {1505, "1Dy 1Hr 5Mins"},
        {2 * 1440, "2Dys"},    {525600 + 43200 + 2, "1Yr 1Mnth 2Mins"},
        {-90, "- 1Hr 30Mins"},
    };
    for (const auto &c : minutes)
        EXPECT_EQ(Formatted(FormatMinutes, c.first), c.second) << c.first;

    char small[5];
    int n = FormatMinutes(1505, small, sizeof small);
    EXPECT_EQ(n, 4);
    EXPECT_STREQ(small, "1Dy ");
}

TEST(UnitSets, SearchOrderAndMilliseconds) {
    EXPECT_STREQ(FindUnitSet(UNITS_MINUTES)->name, "Minutes");
    EXPECT_STREQ(FindUnitSet(UNITS_DAYS | UNITS_HOURS)->name, "Hours"); /* Hours comes first */
    EXPECT_EQ(FindUnitSet(0x1000), nullptr);
    char buf[32];
    FormatUnits(FindUnitSet(UNITS_MILLISECONDS), 1500, 1, buf, sizeof buf);
    EXPECT_STREQ(buf, "1Sec 500ms");
}
