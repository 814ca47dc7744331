/* expr_units.cpp -- numbers with units in filters ("30d", "2w"), read with
 * the unit sets of the configuration module.
 *
 * Kept apart from the rest of the filter code because config/units.h and
 * mqsc/mqsc_tables.h both name the unit masks and cannot meet in one unit.
 * Owns: nothing. Threads: any.
 */
#include <cstdint>

#include "config/units.h"

int ParseExprUnits(uint32_t unitsMask, const char *text, int length, int64_t *total, char *err,
                   int errSize);

int ParseExprUnits(uint32_t unitsMask, const char *text, int length, int64_t *total, char *err,
                   int errSize) {
    const UNITSET *set = FindUnitSet(unitsMask);
    if (set == nullptr)
        return -1;
    uint64_t sum = 0;
    int rc =
        ParseUnits(err, static_cast<size_t>(errSize), text, static_cast<size_t>(length), set, &sum);
    *total = sum > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(sum);
    return rc == 0 ? 0 : 1;
}
