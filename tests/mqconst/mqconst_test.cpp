/* mqconst_test.cpp -- the catalogue of MQ constant names and its look-ups.
 *
 * The catalogue is checked against the published data it is built from
 * (src/mqconst/data/constants.tsv, read here at run time): every slot holds
 * exactly the constants of its families plus TORVIK's own rows.
 */
#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mqconst/mqconst.h"

namespace {

struct DATAROW {
    std::string name;
    int64_t value;
};

std::vector<DATAROW> ReadConstants() {
    std::vector<DATAROW> rows;
    std::ifstream in(std::string(TV_SOURCE_DIR) + "/src/mqconst/data/constants.tsv");
    EXPECT_TRUE(in.good());
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        size_t tab = line.find('\t');
        rows.push_back({line.substr(0, tab), std::stoll(line.substr(tab + 1))});
    }
    return rows;
}

/* The rows of one table, terminator excluded. */
std::vector<const MQCONSTROW *> Rows(int slot) {
    std::vector<const MQCONSTROW *> rows;
    for (const MQCONSTROW *r = MQConstCatalogue[slot]; r->name != nullptr; r++) {
        rows.push_back(r);
    }
    return rows;
}

const MQCONSTROW *RowNamed(int slot, const char *name) {
    for (const MQCONSTROW *r : Rows(slot)) {
        if (strcmp(r->name, name) == 0) {
            return r;
        }
    }
    return nullptr;
}

bool StartsWith(const std::string &s, const std::string &p) {
    return s.compare(0, p.size(), p) == 0;
}

bool EndsWith(const std::string &s, const std::string &p) {
    return s.size() >= p.size() && s.compare(s.size() - p.size(), p.size(), p) == 0;
}

/* Families of each slot, as the catalogue is documented. */
const std::vector<std::vector<std::string>> Families = {
    {"MQAT_", "MQMDS_", "MQQA_", "MQQDT_", "MQQT_", "MQTC_", "MQTT_", "MQUS_"},
    {"MQBACF_", "MQCA_", "MQCACF_", "MQCACH_", "MQCAMO_", "MQIA_", "MQIACF_", "MQIACH_", "MQIAMO_",
     "MQIAMO64_"},
    {"MQCMD_"},
    {"MQRC_", "MQRCCF_", "MQFB_"},
    {"MQFB_"},
    {"MQAT_"},
    {"MQOT_"},
    {"MQRQ_"},
    {"MQQT_"},
    {"MQZAET_"},
    {"MQAUTH_"},
    {"MQEVO_"},
    {"MQEVR_"},
    {"MQMON_"},
    {"MQRECORDING_"},
    {"MQADOPT_CHECK_"},
    {"MQADOPT_TYPE_"},
    {"MQTRAXSTR_"},
    {"MQCLWL_USEQ_"},
    {"MQGUR_"},
    {"MQIPADDR_"},
    {"MQSQQM_"},
    {"MQRCVTIME_"},
    {"MQTCPKEEP_"},
    {"MQTCPSTACK_"},
    {"MQ_CERT_VAL_POLICY_"},
    {"MQCHAD_"},
    {"MQCHLA_"},
    {"MQCFCONLOS_"},
    {"MQSVC_CONTROL_"},
    {"MQCLXQ_"},
    {"MQIGQPA_"},
    {"MQIGQ_"},
    {"MQPSCLUS_"},
    {"MQPSM_"},
    {"MQ_SUITE_B_"},
    {"MQUNDELIVERED_"},
    {"MQSYNCPOINT_"},
    {"MQRDNS_"},
    {"MQSCYC_"},
    {"MQSSL_FIPS_"},
    {"MQPL_"},
    {"MQCHT_"},
};

/* Whether a name begins with one of the prefixes. */
bool InFamilies(const std::string &name, const std::vector<std::string> &fams) {
    for (const std::string &f : fams) {
        if (StartsWith(name, f)) {
            return true;
        }
    }
    return false;
}

}  // namespace

TEST(MqConstCatalogue, HasFortyFourSlotsAndSlotFortyThreeRepeatsSlotZero) {
    for (int slot = 0; slot < MQCONST_SLOT_COUNT; slot++) {
        ASSERT_NE(MQConstCatalogue[slot], nullptr) << slot;
    }
    EXPECT_EQ(MQConstCatalogue[MQCONST_SLOT_COUNT], nullptr);
    EXPECT_EQ(MQConstCatalogue[MQCONST_SLOT_ATTRIBUTE_VALUES_AGAIN],
              MQConstCatalogue[MQCONST_SLOT_ATTRIBUTE_VALUES]);
    EXPECT_EQ(MQCONST_SLOT_PARAMETERS, 1);
    EXPECT_EQ(MQCONST_SLOT_COMMANDS, 2);
    EXPECT_EQ(MQCONST_SLOT_REASONS, 3);
    EXPECT_EQ(MQCONST_SLOT_CHANNEL_TYPES, 42);
    /* every table ends with the all-absent row */
    for (int slot = 0; slot < MQCONST_SLOT_COUNT; slot++) {
        const MQCONSTROW *end = MQConstCatalogue[slot] + Rows(slot).size();
        EXPECT_EQ(end->value, 0);
        EXPECT_EQ(end->desc, nullptr);
        EXPECT_EQ(end->mqsc, nullptr);
    }
}

TEST(MqConstCatalogue, EachSlotHoldsExactlyThePublishedConstantsOfItsFamiliesPlusOwnRows) {
    std::vector<DATAROW> data = ReadConstants();
    ASSERT_EQ(data.size(), 4994u);
    size_t total = 0;
    std::map<std::string, int64_t> published;
    for (const DATAROW &d : data) {
        published[d.name] = d.value;
    }
    for (int slot = 0; slot < 43; slot++) {
        std::multiset<std::string> expected;
        for (const DATAROW &d : data) {
            if (InFamilies(d.name, Families[slot])) {
                expected.insert(d.name);
            }
        }
        std::multiset<std::string> own;
        std::multiset<std::string> actual;
        for (const MQCONSTROW *r : Rows(slot)) {
            auto it = published.find(r->name);
            if (it == published.end()) {
                own.insert(r->name);
            } else {
                actual.insert(r->name);
                EXPECT_EQ(r->value, it->second) << r->name;
            }
        }
        EXPECT_EQ(actual, expected) << "slot " << slot;
        total += Rows(slot).size();
        switch (slot) {
            case MQCONST_SLOT_PARAMETERS:
                EXPECT_EQ(own.size(), 18u);
                break;
            case MQCONST_SLOT_COMMANDS:
                EXPECT_EQ(own, (std::multiset<std::string>{"CVL_CMD_DISPLAY_CERTIFICATE",
                                                           "MQCMD_CLUS_INSERT_CLQ"}));
                break;
            case MQCONST_SLOT_REASONS:
                EXPECT_EQ(own.size(), 6u);
                break;
            case MQCONST_SLOT_OBJECT_TYPES:
                EXPECT_EQ(own,
                          (std::multiset<std::string>{"CVL_OT_SUB", "CVL_OT_TOPICSTR",
                                                      "CVL_OT_BUFFER_POOL", "CVL_OT_PAGE_SET"}));
                break;
            default:
                EXPECT_TRUE(own.empty()) << "slot " << slot;
        }
    }
    EXPECT_GT(total, 3000u);
}

TEST(MqConstCatalogue, FamiliesFollowInSlotOrderEachInTheDataOrder) {
    std::vector<DATAROW> data = ReadConstants();
    std::map<std::string, size_t> position;
    for (size_t i = 0; i < data.size(); i++) {
        position[data[i].name] = i;
    }
    std::vector<const MQCONSTROW *> rows = Rows(MQCONST_SLOT_ATTRIBUTE_VALUES);
    ASSERT_FALSE(rows.empty());
    for (const DATAROW &d : data) {
        if (StartsWith(d.name, "MQAT_")) {
            EXPECT_EQ(rows.front()->name, d.name);
            break;
        }
    }
    for (size_t i = 1; i < rows.size(); i++) {
        std::string a = rows[i - 1]->name;
        std::string b = rows[i]->name;
        if (a.substr(0, a.find('_')) == b.substr(0, b.find('_'))) {
            EXPECT_LT(position[a], position[b]) << a << " before " << b;
        }
    }
    EXPECT_TRUE(StartsWith(rows.back()->name, "MQUS_"));
    /* the reasons: MQRC_ first, then MQRCCF_, then MQFB_ */
    std::vector<const MQCONSTROW *> reasons = Rows(MQCONST_SLOT_REASONS);
    EXPECT_STREQ(reasons.front()->name, "MQRC_NONE");
    size_t firstRccf = 0;
    size_t firstFb = 0;
    for (size_t i = 0; i < reasons.size(); i++) {
        if (firstRccf == 0 && StartsWith(reasons[i]->name, "MQRCCF_")) {
            firstRccf = i;
        }
        if (firstFb == 0 && StartsWith(reasons[i]->name, "MQFB_")) {
            firstFb = i;
        }
    }
    EXPECT_GT(firstRccf, 500u);
    EXPECT_GT(firstFb, firstRccf);
}

TEST(ReasonText, GivesTheDescriptionOfTheFirstRowWithTheValue) {
    EXPECT_STREQ(ReasonText(2053), "Queue full");
    EXPECT_STREQ(ReasonText(0), "");
    EXPECT_STREQ(ReasonText(99999), "");
    EXPECT_STREQ(ReasonText(-7), "");
    /* 2120 is both MQRC_CONVERTED_MSG_TOO_BIG and MQRC_TRUNCATED */
    EXPECT_STREQ(RowNamed(MQCONST_SLOT_REASONS, "MQRC_CONVERTED_MSG_TOO_BIG")->desc,
                 ReasonText(2120));
    EXPECT_STRNE(RowNamed(MQCONST_SLOT_REASONS, "MQRC_TRUNCATED")->desc, ReasonText(2120));
    /* a feedback code */
    EXPECT_STREQ(ReasonText(MQFB_EXPIRATION), "Expiration");
    /* every value of the table answers with its first row */
    std::set<int64_t> seen;
    for (const MQCONSTROW *r : Rows(MQCONST_SLOT_REASONS)) {
        if (seen.insert(r->value).second && r->value >= INT32_MIN && r->value <= INT32_MAX) {
            ASSERT_STREQ(ReasonText((MQLONG)r->value), r->desc) << r->name;
        }
    }
}

TEST(ReasonText, AnswersEveryReasonThatTorvikProducesOrReports) {
    const struct {
        MQLONG reason;
        const char *text;
    } cases[] = {
        {2009, "Connection broken"},
        {2016, "Get inhibited"},
        {2018, "Hconn error"},
        {2035, "Not authorized"},
        {2045, "Option not valid for type"},
        {2053, "Queue full"},
        {2059, "QMgr not available"},
        {2071, "Storage not available"},
        {2080, "Truncated message failed"},
        {2085, "Unknown object name"},
        {2139, "MQCNO Error"},
        {2161, "QMgr quiescing"},
        {2162, "QMgr stopping"},
        {2202, "Connection quiescing"},
        {2203, "Connection stopping"},
        {2298, "Function not supported"},
        {2317, "Format not supported"},
        {2321, "Parameter missing"},
        {2381, "SSL Key Repository error"},
        {3001, "MQCFH type error"},
        {3008, "Command failed"},
        {3011, "MQCFST string length error"},
        {3014, "MQCFIN parm ID error"},
        {3015, "MQCFST parm ID error"},
        {3016, "Message length error"},
        {3033, "MQCFSL parm ID error"},
        {3047, "MQCFIL parm ID error"},
        {3065, "No Channels active"},
        {3097, "Parm syntax error"},
        {3228, "Parm missing"},
        {3229, "Parm value error"},
        {3238, "Unexpected error"},
        {3256, "CFBS Parm Id error"},
        {3312, "Unknown object name"},
        {10000, "OK with text"},
        {10001, "Data Incomplete"},
        {10002, "Max Source Reached"},
        {10003, "Collate not suitable"},
        {10004, "Progress message"},
        {11000, "Certificate Nearing Expiry"},
    };
    for (const auto &c : cases) {
        EXPECT_STREQ(ReasonText(c.reason), c.text) << c.reason;
    }
}

TEST(CommandText, NamesTheCommandsTorvikReceivesOrIssues) {
    EXPECT_STREQ(CommandText(2), "Inquire QMgr");
    EXPECT_STREQ(CommandText(38), "Escape Command");
    EXPECT_STREQ(CommandText(43), "Config Event");
    EXPECT_STREQ(CommandText(44), "QMgr Event");
    EXPECT_STREQ(CommandText(45), "Performance Event");
    EXPECT_STREQ(CommandText(46), "Channel Event");
    EXPECT_STREQ(CommandText(91), "Logger Event");
    EXPECT_STREQ(CommandText(99), "Command event");
    EXPECT_STREQ(CommandText(1000), "(Internal) Cluster: insert clq");
    EXPECT_STREQ(CommandText(CVL_CMD_DISPLAY_CERTIFICATE), "Display MQ Certificate");
    EXPECT_STREQ(CommandText(MQCMD_INQUIRE_Q), "Inquire Q");
    EXPECT_STREQ(CommandText(0), "");
    EXPECT_STREQ(CommandText(123456), "");
}

TEST(Descriptions, DerivedOnesAreTheNameWithoutPrefixInSentenceCase) {
    const struct {
        int slot;
        const char *name;
        const char *desc;
    } cases[] = {
        {MQCONST_SLOT_REASONS, "MQRC_Q_MGR_NAME_ERROR", "QMgr name error"},
        {MQCONST_SLOT_REASONS, "MQRC_Q_DELETED", "Q deleted"},
        {MQCONST_SLOT_REASONS, "MQRC_SSL_INITIALIZATION_ERROR", "SSL initialization error"},
        {MQCONST_SLOT_REASONS, "MQRCCF_CFIN_LENGTH_ERROR", "CFIN length error"},
        {MQCONST_SLOT_REASONS, "MQRC_MD_ERROR", "MD error"},
        {MQCONST_SLOT_COMMANDS, "MQCMD_CHANGE_Q_MGR", "Change QMgr"},
        {MQCONST_SLOT_PARAMETERS, "MQIA_MAX_Q_DEPTH", "Max Q depth"},
        {MQCONST_SLOT_PARAMETERS, "MQCACF_Q_MGR_START_DATE", "QMgr start date"},
        {MQCONST_SLOT_FEEDBACK, "MQFB_COA", "Coa"},
    };
    for (const auto &c : cases) {
        const MQCONSTROW *r = RowNamed(c.slot, c.name);
        ASSERT_NE(r, nullptr) << c.name;
        EXPECT_STREQ(r->desc, c.desc) << c.name;
    }
    /* Description tables: every row has a text; only "none" rows are empty */
    for (int slot : {MQCONST_SLOT_PARAMETERS, MQCONST_SLOT_COMMANDS, MQCONST_SLOT_REASONS,
                     MQCONST_SLOT_FEEDBACK}) {
        for (const MQCONSTROW *r : Rows(slot)) {
            ASSERT_NE(r->desc, nullptr) << r->name;
            if (r->desc[0] == '\0') {
                EXPECT_EQ(r->value, 0) << r->name;
            }
        }
    }
    /* the feedback table starts with value 0 and empty texts */
    const MQCONSTROW *first = MQConstCatalogue[MQCONST_SLOT_FEEDBACK];
    EXPECT_EQ(first->value, 0);
    EXPECT_STREQ(first->desc, "");
    EXPECT_EQ(first->mqsc, nullptr);
    /* tables without descriptions hold empty ones, and no keywords */
    for (const MQCONSTROW *r : Rows(MQCONST_SLOT_Q_TYPES)) {
        EXPECT_STREQ(r->desc, "");
        EXPECT_EQ(r->mqsc, nullptr);
    }
}

TEST(ConstantValue, FindsANameWithoutRegardToCaseAcrossTheCatalogue) {
    int64_t v = -1;
    EXPECT_EQ(ConstantValue("mqqt_local", &v), 0);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(ConstantValue("MqRc_Q_FuLL", &v), 0);
    EXPECT_EQ(v, 2053);
    EXPECT_EQ(ConstantValue("MQCHT_CLNTCONN", &v), 0);
    EXPECT_EQ(v, 6);
    EXPECT_EQ(ConstantValue("cvl_attr_torvik_cert_usage", &v), 0);
    EXPECT_EQ(v, 20011);
    EXPECT_EQ(ConstantValue("MQEVR_ENABLED", &v), 0);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(ConstantValue("MQIA_FIRST", &v), 0); /* range bounds are kept, last */
    EXPECT_EQ(v, 1);
    /* names outside the catalogue's families: every published constant */
    EXPECT_EQ(ConstantValue("mqoo_input_shared", &v), 0);
    EXPECT_EQ(v, MQOO_INPUT_SHARED);
    EXPECT_EQ(ConstantValue("MQRO_ACCEPT_UNSUP_MASK", &v), 0);
    EXPECT_EQ(v, 4024434943LL);
    std::vector<DATAROW> data = ReadConstants();
    for (const DATAROW &d : data) {
        ASSERT_EQ(ConstantValue(d.name.c_str(), &v), 0) << d.name;
        /* the first row of that name wins; names are unique in the data */
        ASSERT_EQ(v, d.value) << d.name;
    }

    v = 4242;
    EXPECT_EQ(ConstantValue("MQQT_LOCALX", &v), 1);
    EXPECT_EQ(ConstantValue("MQQT_LOCA", &v), 1);
    EXPECT_EQ(ConstantValue("", &v), 1);
    EXPECT_EQ(ConstantValue(nullptr, &v), 1);
    EXPECT_EQ(ConstantValue("MQFMT_ADMIN", &v), 1); /* not an integer constant */
    EXPECT_EQ(v, 4242);

    const MQCONSTROW *row = FindConstantByName("mqca_q_name");
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->value, 2016);
    EXPECT_STREQ(row->mqsc, "QUEUE");
    EXPECT_EQ(FindConstantByName("NOT_A_CONSTANT"), nullptr);
    EXPECT_EQ(FindConstantByName(nullptr), nullptr);
}

TEST(ParameterRow, GivesNameDescriptionAndMqscKeyword) {
    const struct {
        MQLONG id;
        const char *name;
        const char *desc;
        const char *mqsc;
    } cases[] = {
        {2016, "MQCA_Q_NAME", "Queue Name", "QUEUE"},
        {2015, "MQCA_Q_MGR_NAME", "Queue Manager Name", "QMNAME"},
        {3, "MQIA_CURRENT_Q_DEPTH", "Current Queue Depth", "CURDEPTH"},
        {1001, "MQIACF_Q_MGR_ATTRS", "Queue Manager Attributes", "QMGRATTRS"},
        {13, "MQIA_MAX_MSG_LENGTH", "Max msg length", "MAXMSGL"},
        {15, "MQIA_MAX_Q_DEPTH", "Max Q depth", "MAXDEPTH"},
        {2013, "MQCA_Q_DESC", "Q desc", "DESCR"},
        {2049, "MQCA_SSL_KEY_REPOSITORY", "SSL key repository", "SSLKEYR"},
        {2121, "MQCA_CERT_LABEL", "Cert label", "CERTLABL"},
        {75, "MQIA_SSL_EVENT", "SSL event", "SSLEV"},
        {279, "MQIA_OTEL_PROPAGATION_CONTROL", "Otel propagation control", nullptr},
        {20000, "CVL_ATTR_TORVIK_CMDLEVEL", "Agent Command Level", "ACMDLEVEL"},
        {20002, "CVL_ATTR_TORVIK_WHERE", "Where", "WHERE"},
        {20011, "CVL_ATTR_TORVIK_CERT_USAGE", "Certificate Usage", "CERTUSAGE"},
        {20014, "CVL_ATTR_TORVIK_CERT_QMGR", "QMgr's Certificate", "QMGRCERT"},
        {20015, "CVL_ATTR_TORVIK_LIFESPAN_THRESHOLD", "Lifespan Threshold", "EVTTHRES"},
        {39999, "CVL_ATTR_ERROR_TEXT", "Error Text", "ERRORTXT"},
        {40000, "CVL_ATTR_RESPONSE_DELIMITER", "Response Delimiter", nullptr},
    };
    for (const auto &c : cases) {
        const MQCONSTROW *r = ParameterRow(c.id);
        ASSERT_NE(r, nullptr) << c.id;
        EXPECT_STREQ(r->name, c.name) << c.id;
        EXPECT_STREQ(r->desc, c.desc) << c.id;
        if (c.mqsc == nullptr) {
            EXPECT_EQ(r->mqsc, nullptr) << c.id;
        } else {
            EXPECT_STREQ(r->mqsc, c.mqsc) << c.id;
        }
    }
    EXPECT_EQ(ParameterRow(-5), nullptr);
    EXPECT_EQ(ParameterRow(99999), nullptr);
    /* a range bound never shadows the parameter of the same value */
    auto isBound = [](const std::string &n) {
        return EndsWith(n, "_FIRST") || EndsWith(n, "_LAST") || EndsWith(n, "_LAST_USED");
    };
    for (const MQCONSTROW *r : Rows(MQCONST_SLOT_PARAMETERS)) {
        if (isBound(r->name)) {
            continue;
        }
        const MQCONSTROW *first = ParameterRow((MQLONG)r->value);
        ASSERT_NE(first, nullptr);
        std::string n = first->name;
        EXPECT_FALSE(isBound(n)) << n << " shadows " << r->name;
    }
    size_t keywords = 0;
    for (const MQCONSTROW *r : Rows(MQCONST_SLOT_PARAMETERS)) {
        keywords += r->mqsc != nullptr;
    }
    EXPECT_GT(keywords, 380u);
}

TEST(ConstantName, GivesTheFirstNameOfAValueInASlot) {
    EXPECT_STREQ(ConstantName(MQCONST_SLOT_Q_TYPES, 1), "MQQT_LOCAL");
    EXPECT_STREQ(ConstantName(MQCONST_SLOT_CHANNEL_TYPES, MQCHT_CLNTCONN), "MQCHT_CLNTCONN");
    EXPECT_STREQ(ConstantName(MQCONST_SLOT_PLATFORMS, 1), "MQPL_MVS");
    EXPECT_STREQ(ConstantName(MQCONST_SLOT_OBJECT_TYPES, 10003), "CVL_OT_BUFFER_POOL");
    EXPECT_STREQ(ConstantName(MQCONST_SLOT_EVENT_REPORTING, 3), "MQEVR_NO_DISPLAY");
    EXPECT_STREQ(ConstantName(MQCONST_SLOT_ATTRIBUTE_VALUES_AGAIN, 0), "MQAT_NO_CONTEXT");
    EXPECT_EQ(ConstantName(MQCONST_SLOT_Q_TYPES, 4), nullptr);
    EXPECT_EQ(ConstantName(-1, 1), nullptr);
    EXPECT_EQ(ConstantName(MQCONST_SLOT_COUNT, 1), nullptr);
}
