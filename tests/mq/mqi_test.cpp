/* mqi_test.cpp -- the MQI and PCF declarations against IBM MQ's published
 * layouts (tests/mq/data/layouts.tsv, read here at run time) and verb
 * signatures (verbs.tsv, by the static_asserts of the generated mqchecks.inc,
 * which also names every constant of src/mqconst/data). */
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "mqconst/mqi.h"
#include "mqconst/mqpcf.h"
#include "support/files.h"

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

/* The rows of a tab-separated data file, comment lines left out. */
std::vector<std::vector<std::string>> Rows(const char *relPath) {
    std::vector<std::vector<std::string>> rows;
    std::string text = tvtest::ReadFile(std::string(TV_SOURCE_DIR) + "/" + relPath);
    for (std::string line : tvtest::SplitLines(text)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        rows.emplace_back();
        std::istringstream s(line);
        for (std::string f; std::getline(s, f, '\t');)
            rows.back().push_back(f);
    }
    EXPECT_FALSE(rows.empty()) << relPath;
    return rows;
}

}  // namespace

/* Rows "struct field offset size": the field; "struct #SIZEOF size": the
 * structure; "struct #LENGTH_n value" and the like: the constant
 * struct_LENGTH_n. */
TEST(MqiLayout, EveryFieldStructureSizeAndLengthConstantHasItsPublishedValue) {
    for (const auto &r : Rows("tests/mq/data/layouts.tsv")) {
        ASSERT_GE(r.size(), 3u);
        std::string what = r[0] + "." + r[1];
        if (r[1][0] == '#' && r[1] != "#SIZEOF") {
            std::string name = r[0] + "_" + r[1].substr(1);
            const CONSTCHECK *c = nullptr;
            for (const CONSTCHECK &k : ConstChecks)
                c = name == k.name ? &k : c;
            ASSERT_NE(c, nullptr) << name;
            EXPECT_EQ(c->value, std::stoll(r[2])) << name;
            continue;
        }
        const FIELDCHECK *found = nullptr;
        for (const FIELDCHECK &f : FieldChecks)
            found = r[0] == f.structName && r[1] == f.field ? &f : found;
        ASSERT_NE(found, nullptr) << what;
        EXPECT_EQ(found->offset, std::stoul(r[2])) << what;
        if (r[1] != "#SIZEOF") {
            ASSERT_EQ(r.size(), 5u) << what;
            EXPECT_EQ(found->size, std::stoul(r[3])) << what;
        }
    }
}

TEST(MqiVerbs, EveryVerbOfTheDataIsDeclaredWithItsPublishedSignature) {
    /* The signatures are compared by the static_asserts of mqchecks.inc;
     * here: that none of the data's verbs was left out. */
    auto rows = Rows("tests/mq/data/verbs.tsv");
    ASSERT_EQ(sizeof(VerbChecks) / sizeof(VerbChecks[0]), rows.size());
    for (size_t i = 0; i < rows.size(); i++)
        EXPECT_EQ(rows[i][0], VerbChecks[i]);
    static_assert(std::is_same<PMQCB_FUNCTION, MQCB_FUNCTION *>::value, "callback pointer");
}
