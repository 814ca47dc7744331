/* fuzz_units.cpp -- ParseUnits over any text in the unit set byte 0 picks:
 * 0 or 1, a terminated error text, no read outside the text. */
#include <cstdlib>
#include <cstring>
#include <vector>

#include "config/units.h"
#include "fuzz_support.h"

FUZZ_TARGET(1, 4096) {
    const UNITSET *set = &UnitSets[data[0] % UNIT_SET_COUNT];
    /* An exact-size heap copy without a terminator: only len counts. */
    std::vector<char> text(data + 1, data + size);
    char err[80];
    memset(err, 'x', sizeof err);
    uint64_t total = 0;
    int rc = ParseUnits(err, sizeof err, text.data(), text.size(), set, &total);
    FUZZ_CHECK(rc == 0 || rc == 1);
    FUZZ_CHECK(rc == 0 || memchr(err, '\0', sizeof err) != nullptr);
    return 0;
}
