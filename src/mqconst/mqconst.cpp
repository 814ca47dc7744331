/* mqconst.cpp -- look-ups in the catalogue of MQ constant names.
 *
 * Linear scans in table order: the first row of a value or name wins. The
 * look-ups are rare (one per message written or parameter translated), so
 * no index is kept.
 *
 * Owns: nothing; the tables are the generated mqconst_tables.cpp, read-only.
 * Threads: any; nothing is written.
 */
#include "mqconst/mqconst.h"

#include <cstring>

static const MQCONSTROW *FindRowByValue(const MQCONSTROW *table, int64_t value);
static int NamesEqual(const char *a, const char *b);

/* The first row of table with value, or null. */
static const MQCONSTROW *FindRowByValue(const MQCONSTROW *table, int64_t value) {
    for (const MQCONSTROW *row = table; row->name != nullptr; row++) {
        if (row->value == value) {
            return row;
        }
    }
    return nullptr;
}

/* Compare two names without regard to ASCII case (the locale plays no part). */
static int NamesEqual(const char *a, const char *b) {
    for (;; a++, b++) {
        char ca = *a;
        char cb = *b;
        if (ca >= 'a' && ca <= 'z') {
            ca = (char)(ca - 'a' + 'A');
        }
        if (cb >= 'a' && cb <= 'z') {
            cb = (char)(cb - 'a' + 'A');
        }
        if (ca != cb) {
            return 0;
        }
        if (ca == '\0') {
            return 1;
        }
    }
}

const char *ReasonText(MQLONG reason) {
    const MQCONSTROW *row = FindRowByValue(MQConstCatalogue[MQCONST_SLOT_REASONS], reason);
    if (row == nullptr) {
        row = FindRowByValue(MQConstCatalogue[MQCONST_SLOT_FEEDBACK], reason);
    }
    return row != nullptr ? row->desc : "";
}

const char *CommandText(MQLONG command) {
    const MQCONSTROW *row = FindRowByValue(MQConstCatalogue[MQCONST_SLOT_COMMANDS], command);
    return row != nullptr ? row->desc : "";
}

const MQCONSTROW *FindConstantByName(const char *name) {
    if (name == nullptr) {
        return nullptr;
    }
    for (int slot = 0; MQConstCatalogue[slot] != nullptr; slot++) {
        for (const MQCONSTROW *row = MQConstCatalogue[slot]; row->name != nullptr; row++) {
            if (NamesEqual(row->name, name)) {
                return row;
            }
        }
    }
    for (const MQCONSTROW *row = MQConstPublished; row->name != nullptr; row++) {
        if (NamesEqual(row->name, name)) {
            return row;
        }
    }
    return nullptr;
}

int ConstantValue(const char *name, int64_t *value) {
    const MQCONSTROW *row = FindConstantByName(name);
    if (row == nullptr) {
        return 1;
    }
    *value = row->value;
    return 0;
}

const MQCONSTROW *ParameterRow(MQLONG parameter) {
    return FindRowByValue(MQConstCatalogue[MQCONST_SLOT_PARAMETERS], parameter);
}

const char *ConstantName(int slot, int64_t value) {
    if (slot < 0 || slot >= MQCONST_SLOT_COUNT) {
        return nullptr;
    }
    const MQCONSTROW *row = FindRowByValue(MQConstCatalogue[slot], value);
    return row != nullptr ? row->name : nullptr;
}

int IsZosCompletionLine(const void *text, size_t len) {
    static const char *const ends[] = {"CSQ9022I", "CSQ9023E", "CSQ9023I"};
    if (len < 8)
        return 0;
    for (const char *end : ends)
        if (memcmp(text, end, 8) == 0)
            return 1;
    return 0;
}
