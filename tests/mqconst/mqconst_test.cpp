/* mqconst_test.cpp -- the look-ups of the catalogue of MQ constant names.
 *
 * What the tables hold is the generator's output from the published data
 * (checked by mqgen_test and mqi_test); here: the rules of the look-ups.
 */
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

    const MQCONSTROW *row = FindConstantByName("mqca_q_name");
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->value, 2016);
    EXPECT_STREQ(row->mqsc, "QUEUE");
    EXPECT_EQ(FindConstantByName("NOT_A_CONSTANT"), nullptr);
    EXPECT_EQ(FindConstantByName(nullptr), nullptr);
}

TEST(ParameterRow, GivesTheParameterNeverARangeBoundOfTheSameValue) {
    const MQCONSTROW *r = ParameterRow(40000);
    ASSERT_NE(r, nullptr);
    EXPECT_STREQ(r->name, "CVL_ATTR_RESPONSE_DELIMITER"); /* the agent's own */
    EXPECT_STREQ(r->desc, "Response Delimiter");
    EXPECT_EQ(r->mqsc, nullptr);
    EXPECT_EQ(ParameterRow(-5), nullptr);
    EXPECT_EQ(ParameterRow(99999), nullptr);
    for (r = MQConstCatalogue[MQCONST_SLOT_PARAMETERS]; r->name != nullptr; r++) {
        if (!IsBound(r->name)) {
            const MQCONSTROW *first = ParameterRow((MQLONG)r->value);
            ASSERT_NE(first, nullptr);
            EXPECT_FALSE(IsBound(first->name)) << first->name << " shadows " << r->name;
        }
    }
}

TEST(ConstantName, GivesTheFirstNameOfAValueInASlot) {
    EXPECT_STREQ(ConstantName(MQCONST_SLOT_Q_TYPES, 1), "MQQT_LOCAL");
    EXPECT_STREQ(ConstantName(MQCONST_SLOT_OBJECT_TYPES, 10003), "CVL_OT_BUFFER_POOL");
    EXPECT_STREQ(ConstantName(MQCONST_SLOT_ATTRIBUTE_VALUES_AGAIN, 0), "MQAT_NO_CONTEXT");
    EXPECT_EQ(ConstantName(MQCONST_SLOT_Q_TYPES, 4), nullptr);
    EXPECT_EQ(ConstantName(-1, 1), nullptr);
    EXPECT_EQ(ConstantName(MQCONST_SLOT_COUNT, 1), nullptr);
}
