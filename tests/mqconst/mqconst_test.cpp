/* mqconst_test.cpp -- the rules of the look-ups in the catalogue of MQ
 * constant names (what it holds is the generator's output: mqgen_test; the
 * look-ups by name and by slot serve mqcmd: tests/testbed). */
#include <cstdint>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "mqconst/mqconst.h"

namespace {

const MQCONSTROW *RowNamed(int slot, const char *name) {
    for (const MQCONSTROW *r = MQConstCatalogue[slot]; r->name != nullptr; r++) {
        if (strcmp(r->name, name) == 0) {
            return r;
        }
    }
    return nullptr;
}

bool IsBound(const std::string &n) {
    auto ends = [&n](const std::string &p) {
        return n.size() >= p.size() && n.compare(n.size() - p.size(), p.size(), p) == 0;
    };
    return ends("_FIRST") || ends("_LAST") || ends("_LAST_USED");
}

}  // namespace

TEST(TextLookups, GiveTheDescriptionOfTheFirstRowWithTheValueOrNothing) {
    const struct {
        const char *(*lookup)(MQLONG);
        MQLONG value;
        const char *text;
    } cases[] = {
        {ReasonText, 2053, "Queue full"},            /* published description */
        {ReasonText, MQFB_EXPIRATION, "Expiration"}, /* a feedback code */
        {ReasonText, 10001, "Data Incomplete"},      /* the agent's own */
        {ReasonText, 0, ""},
        {ReasonText, 99999, ""},
        {ReasonText, -7, ""},
        {CommandText, MQCMD_INQUIRE_Q, "Inquire Q"},
        {CommandText, 1000, "(Internal) Cluster: insert clq"},
        {CommandText, CVL_CMD_DISPLAY_CERTIFICATE, "Display MQ Certificate"},
        {CommandText, 0, ""},
        {CommandText, 123456, ""},
    };
    for (const auto &c : cases)
        EXPECT_STREQ(c.lookup(c.value), c.text) << c.value;
    /* 2120 is both MQRC_CONVERTED_MSG_TOO_BIG and MQRC_TRUNCATED: the first wins */
    EXPECT_STREQ(RowNamed(MQCONST_SLOT_REASONS, "MQRC_CONVERTED_MSG_TOO_BIG")->desc,
                 ReasonText(2120));
    EXPECT_STRNE(RowNamed(MQCONST_SLOT_REASONS, "MQRC_TRUNCATED")->desc, ReasonText(2120));
}

TEST(ConstantValue, FindsANameWithoutRegardToCaseAcrossAllPublishedConstants) {
    const struct {
        const char *name;
        int64_t value;
    } found[] = {
        {"MqRc_Q_FuLL", 2053},
        {"cvl_attr_torvik_cert_usage", 20011},
        {"MQIA_FIRST", 1},                        /* range bounds are kept, last */
        {"mqoo_input_shared", MQOO_INPUT_SHARED}, /* outside the catalogue's families */
        {"MQRO_ACCEPT_UNSUP_MASK", 4024434943LL},
    };
    int64_t v = -1;
    for (const auto &c : found) {
        EXPECT_EQ(ConstantValue(c.name, &v), 0) << c.name;
        EXPECT_EQ(v, c.value) << c.name;
    }
    v = 4242;
    for (const char *name : {"MQQT_LOCALX", "MQQT_LOCA", "", "MQFMT_ADMIN", (const char *)nullptr})
        EXPECT_EQ(ConstantValue(name, &v), 1) << (name == nullptr ? "(null)" : name);
    EXPECT_EQ(v, 4242);
}

TEST(ParameterRow, GivesTheParameterNeverARangeBoundOfTheSameValue) {
    ASSERT_NE(ParameterRow(40000), nullptr); /* the agent's own */
    EXPECT_STREQ(ParameterRow(40000)->name, "CVL_ATTR_RESPONSE_DELIMITER");
    EXPECT_EQ(ParameterRow(-5), nullptr);
    EXPECT_EQ(ParameterRow(99999), nullptr);
    for (const MQCONSTROW *r = MQConstCatalogue[MQCONST_SLOT_PARAMETERS]; r->name != nullptr; r++) {
        if (!IsBound(r->name)) {
            const MQCONSTROW *first = ParameterRow((MQLONG)r->value);
            ASSERT_NE(first, nullptr);
            EXPECT_FALSE(IsBound(first->name)) << first->name << " shadows " << r->name;
        }
    }
}
