/* units.cpp -- the unit catalogue, the unit sets, ParseUnits and the
 * formatters FormatBytes and FormatMinutes.
 *
 * Owns: UnitDefs and UnitSets (constant).
 * Threads: pure functions; any thread.
 */
#include "config/units.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "config/settings.h"
#include "platform/platform.h"

static constexpr int NameLen(const char *s) {
    return s == nullptr || *s == '\0' ? 0 : 1 + NameLen(s + 1);
}

#define UNIT(f, fp, s, sp, y, yp, limit, step, approx)                                          \
    {                                                                                           \
        {f, fp, s, sp, y, yp},                                                                  \
            {NameLen(f), NameLen(fp), NameLen(s), NameLen(sp), NameLen(y), NameLen(yp)}, limit, \
            step, approx                                                                        \
    }

const UNITDEF UnitDefs[UNIT_DEF_COUNT] = {
    UNIT("Year", "Years", "Yr", "Yrs", "y", nullptr, 0, 0, 1),
    UNIT("Month", "Months", "Mnth", "Mnths", "Mth", nullptr, 18, 0, 1),
    UNIT("Week", "Weeks", "Wk", "Wks", "w", nullptr, 10, 0, 0),
    UNIT("Day", "Days", "Dy", "Dys", "d", nullptr, 14, 0, 0),
    UNIT("Hour", "Hours", "Hr", "Hrs", "h", nullptr, 40, 0, 0),
    UNIT("Minute", "Minutes", "Min", "Mins", "m", nullptr, 90, 0, 0),
    UNIT("Second", "Seconds", "Sec", "Secs", "s", nullptr, 90, 0, 0),
    UNIT("Tenth", "Tenths", nullptr, nullptr, "Tenth", "Tenths", 9, 0, 0),
    UNIT("Millisecond", "Milliseconds", nullptr, nullptr, "ms", nullptr, 999, 0, 0),
    UNIT("Microsecond", "Microseconds", nullptr, nullptr, "us", nullptr, 999, 0, 0),
    UNIT("Terabyte", "Terabytes", "TB", nullptr, "TB", nullptr, 1023, 256, 0),
    UNIT("Gigabyte", "Gigabytes", "GB", nullptr, "GB", nullptr, 1023, 256, 0),
    UNIT("Megabyte", "Megabytes", "MB", nullptr, "MB", nullptr, 1023, 256, 0),
    UNIT("Kilobyte", "Kilobytes", "KB", nullptr, "KB", nullptr, 1023, 256, 0),
    UNIT("Byte", "Bytes", "B", nullptr, "B", nullptr, 1023, 0, 0),
    UNIT("%", nullptr, nullptr, nullptr, "%", nullptr, 0, 0, 0),
    UNIT("4K Blocks", nullptr, nullptr, nullptr, "", nullptr, 0, 0, 0),
};

#define U(name, mult) \
    { &UnitDefs[UNIT_##name], mult##ull }

const UNITSET UnitSets[UNIT_SET_COUNT] = {
    {UNITS_BYTES,
     1000,
     "Bytes",
     nullptr,
     "B",
     4,
     {U(GIGABYTE, 1073741824), U(MEGABYTE, 1048576), U(KILOBYTE, 1024), U(BYTE, 1)},
     0},
    {UNITS_SECONDS,
     0,
     "Seconds",
     "Secs",
     "s",
     7,
     {U(YEAR, 31536000), U(MONTH, 2592000), U(WEEK, 604800), U(DAY, 86400), U(HOUR, 3600),
      U(MINUTE, 60), U(SECOND, 1)},
     999999999},
    {UNITS_MILLISECONDS,
     0,
     "Milliseconds",
     nullptr,
     "ms",
     8,
     {U(YEAR, 31536000000), U(MONTH, 2592000000), U(WEEK, 604800000), U(DAY, 86400000),
      U(HOUR, 3600000), U(MINUTE, 60000), U(SECOND, 1000), U(MILLISECOND, 1)},
     999999999},
    {UNITS_HOURS,
     0,
     "Hours",
     "Hrs",
     "h",
     5,
     {U(YEAR, 8760), U(MONTH, 720), U(WEEK, 168), U(DAY, 24), U(HOUR, 1)},
     999999999},
    {UNITS_DAYS,
     0,
     "Days",
     nullptr,
     "d",
     4,
     {U(YEAR, 365), U(MONTH, 30), U(WEEK, 7), U(DAY, 1)},
     999999999},
    {UNITS_MINUTES,
     0,
     "Minutes",
     "Mins",
     "m",
     6,
     {U(YEAR, 525600), U(MONTH, 43200), U(WEEK, 10080), U(DAY, 1440), U(HOUR, 60), U(MINUTE, 1)},
     999999999},
    {UNITS_MICROSECONDS,
     0,
     "Microseconds",
     nullptr,
     "us",
     7,
     {U(WEEK, 604800000000), U(DAY, 86400000000), U(HOUR, 3600000000), U(MINUTE, 60000000),
      U(SECOND, 1000000), U(MILLISECOND, 1000), U(MICROSECOND, 1)},
     999999999},
    {UNITS_TENTHS,
     0,
     "Tenths",
     nullptr,
     "1/10s",
     8,
     {U(YEAR, 315360000), U(MONTH, 25920000), U(WEEK, 6048000), U(DAY, 864000), U(HOUR, 36000),
      U(MINUTE, 600), U(SECOND, 10), U(TENTH, 1)},
     4294967295},
    {UNITS_PERCENT, 0, "Percent", nullptr, "%", 1, {U(PERCENT, 1)}, 0},
    {UNITS_MEGABYTES,
     1000,
     "Megabytes",
     nullptr,
     "MB",
     3,
     {U(TERABYTE, 1048576), U(GIGABYTE, 1024), U(MEGABYTE, 1)},
     0},
    {UNITS_KILOBYTES,
     1000,
     "Kilobytes",
     nullptr,
     "KB",
     3,
     {U(GIGABYTE, 1048576), U(MEGABYTE, 1024), U(KILOBYTE, 1)},
     0},
    {UNITS_4KBLOCKS, 0, "4K Blocks", nullptr, "4K Blk", 1, {U(4KBLOCKS, 1)}, 0},
};

/* Fraction digits that still change a double; later ones are ignored. */
static const int MAX_FRACTION_DIGITS = 20;

static int ToUpper(int c) {
    return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c;
}
static int IsLetter(int c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

const UNITSET *FindUnitSet(uint32_t mask) {
    for (int i = 0; i < UNIT_SET_COUNT; i++)
        if (UnitSets[i].mask & mask)
            return &UnitSets[i];
    return nullptr;
}

int MatchUnit(const UNITDEF *unit, const char *word, size_t len) {
    static const int order[UNIT_NAME_COUNT] = {UNIT_SYMBOL, UNIT_SYMBOL_PLURAL,
                                               UNIT_SHORT,  UNIT_SHORT_PLURAL,
                                               UNIT_FULL,   UNIT_FULL_PLURAL};
    if (len == 0)
        return 0;
    for (int k = 0; k < UNIT_NAME_COUNT; k++) {
        const char *name = unit->names[order[k]];
        size_t nameLen = static_cast<size_t>(unit->nameLen[order[k]]);
        if (name == nullptr || nameLen < len)
            continue;
        size_t i = 0;
        while (i < len && ToUpper(static_cast<unsigned char>(name[i])) ==
                              ToUpper(static_cast<unsigned char>(word[i])))
            i++;
        if (i == len)
            return 1;
    }
    return 0;
}

/* Add a to *total, held at the largest value instead of wrapping. */
static void AddSaturated(uint64_t *total, double amount) {
    const double limit = 18446744073709551615.0;
    uint64_t add = amount >= limit ? UINT64_MAX : amount <= 0 ? 0 : static_cast<uint64_t>(amount);
    *total = (UINT64_MAX - *total < add) ? UINT64_MAX : *total + add;
}

int ParseUnits(char *errText, size_t errSize, const char *text, size_t len, const UNITSET *set,
               uint64_t *total) {
    size_t i = 0;
    *total = 0;
    if (errText != nullptr && errSize > 0)
        errText[0] = '\0';
    auto fail = [&](const char *msg) {
        if (errText != nullptr && errSize > 0)
            snprintf(errText, errSize, "%s", msg);
        return 1;
    };
    for (;;) {
        while (i < len && text[i] == ' ')
            i++;
        if (i >= len)
            return 0;

        /* The number: digits with at most one dot. */
        double number = 0;
        double scale = 0.1; /* weight of the next fraction digit */
        int dot = 0;
        int fractionDigits = 0;
        int digits = 0;
        while (i < len) {
            char c = text[i];
            if (c >= '0' && c <= '9') {
                if (!dot) {
                    number = number * 10 + (c - '0');
                } else if (fractionDigits < MAX_FRACTION_DIGITS) {
                    /* Digits past what a double can tell apart are read
                     * and ignored. */
                    number += (c - '0') * scale;
                    scale /= 10;
                    fractionDigits++;
                }
                digits++;
            } else if (c == '.') {
                if (dot)
                    return fail("Unexpected dot(.) found");
                dot = 1;
            } else {
                break;
            }
            i++;
        }
        if (digits == 0)
            return fail("Number expected.");

        while (i < len && text[i] == ' ')
            i++;
        if (i >= len || !IsLetter(static_cast<unsigned char>(text[i])))
            return fail("Unit type missing");
        size_t start = i;
        while (i < len && IsLetter(static_cast<unsigned char>(text[i])))
            i++;
        const char *word = text + start;
        size_t wordLen = i - start;
        int wl = wordLen > 1000 ? 1000 : static_cast<int>(wordLen);

        const UNITMULT *found = nullptr;
        int matches = 0;
        for (int u = 0; u < set->count; u++) {
            if (MatchUnit(set->units[u].unit, word, wordLen)) {
                if (matches == 0)
                    found = &set->units[u];
                matches++;
            }
        }
        if (matches != 1) {
            if (errText != nullptr && errSize > 0)
                snprintf(errText, errSize,
                         matches == 0 ? "Unrecognised unit '%.*s'." : "Unit '%.*s' is ambiguous.",
                         wl, word);
            return 1;
        }
        AddSaturated(total, number * static_cast<double>(found->multiplier));
    }
}

/* ---- Formatting --------------------------------------------------------- */

/* The name to write after a number: short plural unless the number is
 * exactly 1, short singular, else the symbol (plural when not 1). */
static const char *UnitName(const UNITDEF *unit, int exactlyOne) {
    const char *name;
    if (unit->names[UNIT_SHORT] != nullptr) {
        name = (!exactlyOne && unit->names[UNIT_SHORT_PLURAL] != nullptr)
                   ? unit->names[UNIT_SHORT_PLURAL]
                   : unit->names[UNIT_SHORT];
    } else {
        name = (!exactlyOne && unit->names[UNIT_SYMBOL_PLURAL] != nullptr)
                   ? unit->names[UNIT_SYMBOL_PLURAL]
                   : unit->names[UNIT_SYMBOL];
    }
    if (name == nullptr)
        name = "";
    while (*name == ' ')
        name++;
    return name;
}

/* value / multiplier with up to two decimals, trailing zeros and dot cut. */
static size_t AppendFraction(char *buf, size_t size, size_t at, uint64_t value, const UNITDEF *unit,
                             uint64_t multiplier) {
    char number[64];
    snprintf(number, sizeof number, "%.2f",
             static_cast<double>(value) / static_cast<double>(multiplier));
    size_t n = strlen(number);
    if (strchr(number, '.') != nullptr) {
        while (n > 0 && number[n - 1] == '0')
            n--;
        if (n > 0 && number[n - 1] == '.')
            n--;
    }
    number[n] = '\0';
    int one = strcmp(number, "1") == 0;
    return AppendText(buf, size, at, "%s%s", number, UnitName(unit, one));
}

int FormatUnits(const UNITSET *set, int64_t value, int compound, char *buf, size_t size) {
    if (buf == nullptr || size == 0)
        return 0;
    buf[0] = '\0';
    size_t at = 0;
    uint64_t remaining;
    if (value < 0) {
        at = AppendText(buf, size, at, "- ");
        remaining = static_cast<uint64_t>(-(value + 1)) + 1;
    } else {
        remaining = static_cast<uint64_t>(value);
    }
    const UNITDEF *base = set->units[set->count - 1].unit;
    if (remaining == 0) {
        at = AppendText(buf, size, at, "%d%s", 0, UnitName(base, 0));
        return static_cast<int>(at);
    }
    int parts = 0;
    for (int u = 0; u < set->count && remaining > 0; u++) {
        const UNITMULT *m = &set->units[u];
        if (m->multiplier > remaining)
            continue;
        if (parts > 0)
            at = AppendText(buf, size, at, " ");
        parts++;
        if (!compound || m->unit->step != 0) {
            at = AppendFraction(buf, size, at, remaining, m->unit, m->multiplier);
            break;
        }
        uint64_t count = remaining / m->multiplier;
        at = AppendText(buf, size, at, "%" PRIu64 "%s", count, UnitName(m->unit, count == 1));
        remaining -= count * m->multiplier;
    }
    return static_cast<int>(at);
}

int FormatBytes(int64_t value, char *buf, size_t size) {
    return FormatUnits(&UnitSets[0], value, 0, buf, size);
}

int FormatMinutes(int64_t value, char *buf, size_t size) {
    return FormatUnits(FindUnitSet(UNITS_MINUTES), value, 1, buf, size);
}
