/* units.h -- units of time and size: the unit catalogue, the unit sets,
 * parsing of quantities with units and formatting of counts.
 *
 * Owns: the unit definitions (UnitDefs) and unit sets (UnitSets), constant.
 * Threads: every procedure is pure and may be called from any thread.
 */
#pragma once

#include <cstddef>
#include <cstdint>

/* Indices of the six names of a unit. */
enum {
    UNIT_FULL = 0,
    UNIT_FULL_PLURAL,
    UNIT_SHORT,
    UNIT_SHORT_PLURAL,
    UNIT_SYMBOL,
    UNIT_SYMBOL_PLURAL,
    UNIT_NAME_COUNT
};

struct UNITDEF {
    const char *names[UNIT_NAME_COUNT]; /* null when absent */
    int nameLen[UNIT_NAME_COUNT];       /* length of each name, 0 when absent */
    double displayLimit;
    uint64_t step;   /* divisibility step, 0 = none */
    int approximate; /* 1 for Year and Month */
};

/* The catalogue, in this order. */
enum {
    UNIT_YEAR = 0,
    UNIT_MONTH,
    UNIT_WEEK,
    UNIT_DAY,
    UNIT_HOUR,
    UNIT_MINUTE,
    UNIT_SECOND,
    UNIT_TENTH,
    UNIT_MILLISECOND,
    UNIT_MICROSECOND,
    UNIT_TERABYTE,
    UNIT_GIGABYTE,
    UNIT_MEGABYTE,
    UNIT_KILOBYTE,
    UNIT_BYTE,
    UNIT_PERCENT,
    UNIT_4KBLOCKS,
    UNIT_DEF_COUNT
};
extern const UNITDEF UnitDefs[UNIT_DEF_COUNT];

struct UNITMULT {
    const UNITDEF *unit;
    uint64_t multiplier; /* base units per unit */
};

constexpr int UNIT_SET_MAX_UNITS = 8;

struct UNITSET {
    uint32_t mask;   /* the unit kind an attribute declares (UNITS_*) */
    uint32_t second; /* 1000 for the three byte sets, else 0 */
    const char *name;
    const char *shortName; /* may be null */
    const char *symbol;
    int count;                          /* units in the list */
    UNITMULT units[UNIT_SET_MAX_UNITS]; /* largest first; the last is the base unit */
    uint64_t maximum;
};

/* Masks of the unit sets. */
constexpr uint32_t UNITS_BYTES = 0x1;
constexpr uint32_t UNITS_HOURS = 0x2;
constexpr uint32_t UNITS_MINUTES = 0x4;
constexpr uint32_t UNITS_SECONDS = 0x8;
constexpr uint32_t UNITS_MILLISECONDS = 0x10;
constexpr uint32_t UNITS_MICROSECONDS = 0x20;
constexpr uint32_t UNITS_TENTHS = 0x40;
constexpr uint32_t UNITS_PERCENT = 0x80;
constexpr uint32_t UNITS_KILOBYTES = 0x100;
constexpr uint32_t UNITS_MEGABYTES = 0x200;
constexpr uint32_t UNITS_DAYS = 0x400;
constexpr uint32_t UNITS_4KBLOCKS = 0x800;

/* The sets in search order: Bytes, Seconds, Milliseconds, Hours, Days,
 * Minutes, Microseconds, Tenths, Percent, Megabytes, Kilobytes, 4K Blocks. */
constexpr int UNIT_SET_COUNT = 12;
extern const UNITSET UnitSets[UNIT_SET_COUNT];

/* The first set whose mask shares a bit with mask, or null. */
const UNITSET *FindUnitSet(uint32_t mask);

/* 1 when word (len characters) names unit: it is a case-insensitive prefix
 * of one of the unit's names. An empty word matches nothing. */
int MatchUnit(const UNITDEF *unit, const char *word, size_t len);

/* Parse text (len characters) of numbers with units, "2 d 3 h", into a
 * count of the set's base unit. Returns 0 with *total set, or 1 with an
 * error text in errText (errSize bytes, always terminated) and *total the
 * sum so far. Errors: "Unexpected dot(.) found", "Number expected.",
 * "Unit type missing", "Unrecognised unit '%.*s'.", "Unit '%.*s' is
 * ambiguous.". An empty text gives 0. */
int ParseUnits(char *errText, size_t errSize, const char *text, size_t len, const UNITSET *set,
               uint64_t *total);

/* Write a byte count with one unit of the Bytes set ("1.5KB", "0B",
 * "- 2MB") into buf (size bytes, always terminated). Returns the length
 * written. */
int FormatBytes(int64_t value, char *buf, size_t size);

/* Write a count of minutes as a compound ("1Dy 1Hr 5Mins", "0Mins") into
 * buf. Returns the length written. */
int FormatMinutes(int64_t value, char *buf, size_t size);

/* The formatters' common form: value in set's base unit, written with one
 * unit (compound 0) or as a compound of units from the largest down
 * (compound 1). Returns the length written. */
int FormatUnits(const UNITSET *set, int64_t value, int compound, char *buf, size_t size);
