/* mqi_test.cpp -- the MQI and PCF declarations against IBM MQ's published data.
 *
 * Field offsets and sizes, structure sizes and lengths are compared with
 * tests/mq/data/layouts.tsv, constants with src/mqconst/data/constants.tsv and
 * strings.tsv, verb signatures with tests/mq/data/verbs.tsv (at compile time,
 * by the static_asserts of the generated mqchecks.inc). The data files are
 * read here at run time, independently of the generator.
 */
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
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

/* The bytes of a C literal as strings.tsv writes it ("..." or 'c'). */
std::string Unescape(const std::string &lit) {
    std::string out;
    for (size_t i = 1; i + 1 < lit.size(); i++) {
        if (lit[i] != '\\') {
            out.push_back(lit[i]);
            continue;
        }
        char c = lit[++i];
        if (c == 'x') {
            int v = 0;
            int n = 0;
            while (n < 2 && isxdigit((unsigned char)lit[i + 1])) {
                v = v * 16 + std::stoi(std::string(1, lit[++i]), nullptr, 16);
                n++;
            }
            out.push_back((char)v);
        } else if (c >= '0' && c <= '7') {
            int v = c - '0';
            for (int n = 0; n < 2 && lit[i + 1] >= '0' && lit[i + 1] <= '7'; n++) {
                v = v * 8 + (lit[++i] - '0');
            }
            out.push_back((char)v);
        } else {
            out.push_back(c);
        }
    }
    return out;
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
    std::map<std::string, int> structs;
    size_t compared = 0;
    for (const auto &r : rows) {
        ASSERT_GE(r.size(), 3u);
        if (r[1][0] == '#') {
            continue;
        }
        ASSERT_EQ(r.size(), 5u);
        structs[r[0]]++;
        const FIELDCHECK *found = nullptr;
        for (const FIELDCHECK &f : FieldChecks) {
            if (r[0] == f.structName && r[1] == f.field) {
                found = &f;
            }
        }
        ASSERT_NE(found, nullptr) << r[0] << "." << r[1];
        EXPECT_EQ(found->offset, std::stoul(r[2])) << r[0] << "." << r[1] << " offset";
        EXPECT_EQ(found->size, std::stoul(r[3])) << r[0] << "." << r[1] << " size";
        compared++;
    }
    EXPECT_EQ(compared, 369u);
    EXPECT_EQ(structs.size(), 27u);
}

TEST(MqiLayout, EveryStructureHasItsPublishedSizeAndLengthConstants) {
    TSV rows = ReadTsv("tests/mq/data/layouts.tsv");
    size_t sizes = 0;
    size_t lengths = 0;
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
            sizes++;
        } else if (r[1][0] == '#') {
            /* #LENGTH_n, #STRUC_LENGTH, #STRUC_LENGTH_FIXED name constants */
            std::string name = r[0] + "_" + r[1].substr(1);
            const CONSTCHECK *c = FindConst(name);
            ASSERT_NE(c, nullptr) << name;
            EXPECT_EQ(c->value, std::stoll(r[2])) << name;
            lengths++;
        }
    }
    EXPECT_EQ(sizes, 27u);
    EXPECT_GE(lengths, 27u);
}

TEST(MqiConstants, EveryIntegerConstantHasItsPublishedValueInAnMqlong) {
    TSV rows = ReadTsv("src/mqconst/data/constants.tsv");
    ASSERT_EQ(rows.size(), 4994u);
    ASSERT_EQ(sizeof(ConstChecks) / sizeof(ConstChecks[0]), rows.size());
    int wrapped = 0;
    for (size_t i = 0; i < rows.size(); i++) {
        const CONSTCHECK &c = ConstChecks[i];
        ASSERT_EQ(rows[i].size(), 2u);
        ASSERT_EQ(rows[i][0], c.name);
        int64_t published = std::stoll(rows[i][1]);
        int64_t expected = published;
        if (published > INT32_MAX) {
            /* an unsigned mask: an MQLONG holds it as value - 2^32 */
            expected = published - 4294967296LL;
            wrapped++;
        }
        EXPECT_EQ(c.value, expected) << c.name;
        EXPECT_EQ(c.size, sizeof(MQLONG)) << c.name;
    }
    EXPECT_EQ(wrapped, 7);
    /* the masks keep their meaning as bit patterns */
    EXPECT_EQ(MQENC_NATIVE & MQENC_RESERVED_MASK, 0);
    EXPECT_EQ((uint32_t)MQRO_ACCEPT_UNSUP_MASK, 4024434943u);
}

TEST(MqiConstants, EveryStringAndCharacterConstantHasItsPublishedBytes) {
    TSV rows = ReadTsv("src/mqconst/data/strings.tsv");
    ASSERT_EQ(rows.size(), 133u);
    ASSERT_EQ(sizeof(StrChecks) / sizeof(StrChecks[0]), rows.size());
    for (size_t i = 0; i < rows.size(); i++) {
        const STRCHECK &s = StrChecks[i];
        ASSERT_EQ(rows[i][0], s.name);
        std::string expected = Unescape(rows[i][1]);
        EXPECT_EQ(s.isChar, rows[i][1][0] == '\'') << s.name;
        EXPECT_EQ(std::string((const char *)s.bytes, s.length), expected) << s.name;
        if (!s.isChar) {
            EXPECT_EQ(((const char *)s.bytes)[s.length], '\0') << s.name << " is terminated";
        }
    }
    EXPECT_EQ(sizeof(MQMI_NONE), (size_t)MQ_MSG_ID_LENGTH + 1);
    EXPECT_EQ(std::string(MQFMT_ADMIN), "MQADMIN ");
    EXPECT_EQ(MQACTT_UNIX_NUMERIC_ID, '\x06');
}

TEST(MqiVerbs, EveryVerbOfTheDataIsDeclaredWithItsPublishedSignature) {
    /* The signatures are compared by the static_asserts of mqchecks.inc;
     * here: that none of the data's verbs was left out. */
    TSV rows = ReadTsv("tests/mq/data/verbs.tsv");
    ASSERT_EQ(rows.size(), 27u);
    ASSERT_EQ(sizeof(VerbChecks) / sizeof(VerbChecks[0]), rows.size());
    for (size_t i = 0; i < rows.size(); i++) {
        EXPECT_EQ(rows[i][0], VerbChecks[i]);
    }
    static_assert(std::is_same<PMQCB_FUNCTION, MQCB_FUNCTION *>::value, "callback pointer");
}
