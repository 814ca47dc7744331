/* mqi_test.cpp -- the MQI and PCF declarations against IBM MQ's published data.
 *
 * Field offsets and sizes, structure sizes and length constants are compared
 * with tests/mq/data/layouts.tsv (read here at run time, independently of the
 * generator), verb signatures with tests/mq/data/verbs.tsv by the
 * static_asserts of the generated mqchecks.inc, which also names every
 * constant of src/mqconst/data (their values are the generator's, whose
 * rules mqgen_test checks).
 */
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "mqconst/mqi.h"
#include "mqconst/mqpcf.h"

namespace {

struct CONSTCHECK {
    const char *name;
    int64_t value; /* as the declaration holds it */
    size_t size;   /* sizeof the declared constant */
};

struct STRCHECK {
    const char *name;
    const void *bytes;
    size_t length; /* without the terminating NUL */
    int isChar;
};

struct FIELDCHECK {
    const char *structName;
    const char *field; /* "#SIZEOF": offset is sizeof the structure */
    size_t offset;
    size_t size;
};

#include "mqchecks.inc"

typedef std::vector<std::vector<std::string>> TSV;

/* Rows of a tab-separated data file, comment lines left out. */
TSV ReadTsv(const std::string &relPath) {
    TSV rows;
    std::ifstream in(std::string(TV_SOURCE_DIR) + "/" + relPath, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot read " << relPath;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::vector<std::string> fields;
        std::stringstream s(line);
        std::string f;
        while (std::getline(s, f, '\t')) {
            fields.push_back(f);
        }
        rows.push_back(fields);
    }
    return rows;
}

const CONSTCHECK *FindConst(const std::string &name) {
    for (const CONSTCHECK &c : ConstChecks) {
        if (name == c.name) {
            return &c;
        }
    }
    return nullptr;
}

}  // namespace

TEST(MqiLayout, EveryStructureFieldLiesAtItsPublishedOffsetWithItsPublishedSize) {
    TSV rows = ReadTsv("tests/mq/data/layouts.tsv");
    ASSERT_FALSE(rows.empty());
    for (const auto &r : rows) {
        ASSERT_GE(r.size(), 3u);
        if (r[1][0] == '#') {
            continue;
        }
        ASSERT_EQ(r.size(), 5u);
        const FIELDCHECK *found = nullptr;
        for (const FIELDCHECK &f : FieldChecks) {
            if (r[0] == f.structName && r[1] == f.field) {
                found = &f;
            }
        }
        ASSERT_NE(found, nullptr) << r[0] << "." << r[1];
        EXPECT_EQ(found->offset, std::stoul(r[2])) << r[0] << "." << r[1] << " offset";
        EXPECT_EQ(found->size, std::stoul(r[3])) << r[0] << "." << r[1] << " size";
    }
}

TEST(MqiLayout, EveryStructureHasItsPublishedSizeAndLengthConstants) {
    TSV rows = ReadTsv("tests/mq/data/layouts.tsv");
    for (const auto &r : rows) {
        if (r[1] == "#SIZEOF") {
            const FIELDCHECK *found = nullptr;
            for (const FIELDCHECK &f : FieldChecks) {
                if (r[0] == f.structName && strcmp(f.field, "#SIZEOF") == 0) {
                    found = &f;
                }
            }
            ASSERT_NE(found, nullptr) << r[0];
            EXPECT_EQ(found->offset, std::stoul(r[2])) << "sizeof " << r[0];
        } else if (r[1][0] == '#') {
            /* #LENGTH_n, #STRUC_LENGTH, #STRUC_LENGTH_FIXED name constants */
            std::string name = r[0] + "_" + r[1].substr(1);
            const CONSTCHECK *c = FindConst(name);
            ASSERT_NE(c, nullptr) << name;
            EXPECT_EQ(c->value, std::stoll(r[2])) << name;
        }
    }
}

TEST(MqiVerbs, EveryVerbOfTheDataIsDeclaredWithItsPublishedSignature) {
    /* The signatures are compared by the static_asserts of mqchecks.inc;
     * here: that none of the data's verbs was left out. */
    TSV rows = ReadTsv("tests/mq/data/verbs.tsv");
    ASSERT_EQ(sizeof(VerbChecks) / sizeof(VerbChecks[0]), rows.size());
    for (size_t i = 0; i < rows.size(); i++) {
        EXPECT_EQ(rows[i][0], VerbChecks[i]);
    }
    static_assert(std::is_same<PMQCB_FUNCTION, MQCB_FUNCTION *>::value, "callback pointer");
}
