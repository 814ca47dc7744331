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

std::string Field(const char *p, size_t n) {
    return std::string(p, n);
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

TEST(MqiDefaults, InitialValuesCarryEyeCatchersVersionsAndDocumentedDefaults) {
    static_assert(MQMD_DEFAULT.Version == MQMD_VERSION_1, "usable in constant expressions");

    MQMD md = MQMD_DEFAULT;
    EXPECT_EQ(Field(md.StrucId, 4), MQMD_STRUC_ID);
    EXPECT_EQ(md.Report, MQRO_NONE);
    EXPECT_EQ(md.MsgType, MQMT_DATAGRAM);
    EXPECT_EQ(md.Expiry, MQEI_UNLIMITED);
    EXPECT_EQ(md.Encoding, MQENC_NATIVE);
    EXPECT_EQ(md.CodedCharSetId, MQCCSI_Q_MGR);
    EXPECT_EQ(Field(md.Format, 8), MQFMT_NONE);
    EXPECT_EQ(md.Priority, MQPRI_PRIORITY_AS_Q_DEF);
    EXPECT_EQ(md.Persistence, MQPER_PERSISTENCE_AS_Q_DEF);
    EXPECT_EQ(memcmp(md.MsgId, MQMI_NONE, sizeof(md.MsgId)), 0);
    EXPECT_EQ(memcmp(md.CorrelId, MQCI_NONE, sizeof(md.CorrelId)), 0);
    EXPECT_EQ(md.ReplyToQ[0], '\0');
    EXPECT_EQ(md.PutApplType, MQAT_NO_CONTEXT);
    EXPECT_EQ(md.MsgSeqNumber, 1);
    EXPECT_EQ(md.OriginalLength, MQOL_UNDEFINED);

    MQOD od = MQOD_DEFAULT;
    EXPECT_EQ(Field(od.StrucId, 4), MQOD_STRUC_ID);
    EXPECT_EQ(od.Version, MQOD_VERSION_1);
    EXPECT_EQ(od.ObjectType, MQOT_Q);
    EXPECT_STREQ(od.DynamicQName, "AMQ.*");
    EXPECT_EQ(od.ObjectString.VSPtr, nullptr);
    EXPECT_EQ(od.ObjectString.VSCCSID, MQCCSI_APPL);
    EXPECT_EQ(od.ResObjectString.VSCCSID, MQCCSI_APPL);

    MQPMO pmo = MQPMO_DEFAULT;
    EXPECT_EQ(Field(pmo.StrucId, 4), MQPMO_STRUC_ID);
    EXPECT_EQ(pmo.Version, MQPMO_VERSION_1);
    EXPECT_EQ(pmo.Options, MQPMO_NONE);
    EXPECT_EQ(pmo.Context, 0);
    EXPECT_EQ(pmo.Action, MQACTP_NEW);

    MQGMO gmo = MQGMO_DEFAULT;
    EXPECT_EQ(Field(gmo.StrucId, 4), MQGMO_STRUC_ID);
    EXPECT_EQ(gmo.Options, MQGMO_NO_WAIT);
    EXPECT_EQ(gmo.MatchOptions, MQMO_MATCH_MSG_ID | MQMO_MATCH_CORREL_ID);
    EXPECT_EQ(gmo.GroupStatus, MQGS_NOT_IN_GROUP);
    EXPECT_EQ(gmo.ReturnedLength, MQRL_UNDEFINED);

    MQCNO cno = MQCNO_DEFAULT;
    EXPECT_EQ(Field(cno.StrucId, 4), MQCNO_STRUC_ID);
    EXPECT_EQ(cno.Version, MQCNO_VERSION_1);
    EXPECT_EQ(cno.ClientConnPtr, nullptr);
    EXPECT_EQ(cno.SecurityParmsPtr, nullptr);

    MQCBD cbd = MQCBD_DEFAULT;
    EXPECT_EQ(Field(cbd.StrucId, 4), MQCBD_STRUC_ID);
    EXPECT_EQ(cbd.CallbackType, MQCBT_MESSAGE_CONSUMER);
    EXPECT_EQ(cbd.CallbackFunction, nullptr);
    EXPECT_EQ(cbd.MaxMsgLength, MQCBD_FULL_MSG_LENGTH);

    MQCBC cbc = MQCBC_DEFAULT;
    EXPECT_EQ(Field(cbc.StrucId, 4), MQCBC_STRUC_ID);
    EXPECT_EQ(cbc.Reason, MQRC_NONE);

    MQCTLO ctlo = MQCTLO_DEFAULT;
    EXPECT_EQ(Field(ctlo.StrucId, 4), MQCTLO_STRUC_ID);
    EXPECT_EQ(ctlo.Reserved, MQWI_UNLIMITED);

    MQSTS sts = MQSTS_DEFAULT;
    EXPECT_EQ(Field(sts.StrucId, 4), MQSTS_STRUC_ID);
    EXPECT_EQ(sts.ObjectType, MQOT_Q_MGR);

    MQCSP csp = MQCSP_DEFAULT;
    EXPECT_EQ(Field(csp.StrucId, 4), MQCSP_STRUC_ID);
    EXPECT_EQ(csp.AuthenticationType, MQCSP_AUTH_NONE);
    MQSCO sco = MQSCO_DEFAULT;
    EXPECT_EQ(Field(sco.StrucId, 4), MQSCO_STRUC_ID);
    EXPECT_EQ(sco.EncryptionPolicySuiteB[0], MQ_SUITE_B_NONE);
    EXPECT_EQ(sco.EncryptionPolicySuiteB[3], MQ_SUITE_B_NOT_AVAILABLE);
    MQBNO bno = MQBNO_DEFAULT;
    EXPECT_EQ(Field(bno.StrucId, 4), MQBNO_STRUC_ID);

    MQTM tm = MQTM_DEFAULT;
    EXPECT_EQ(Field(tm.StrucId, 4), MQTM_STRUC_ID);
    EXPECT_EQ(tm.Version, MQTM_VERSION_1);
}

TEST(MqiDefaults, CharacterStructuresAreBlankPaddedWithoutTerminators) {
    MQTMC2 tmc = MQTMC2_DEFAULT;
    EXPECT_EQ(Field(tmc.StrucId, 4), MQTMC_STRUC_ID);
    EXPECT_EQ(Field(tmc.Version, 4), MQTMC_VERSION_2);
    const char *p = (const char *)&tmc;
    for (size_t i = offsetof(MQTMC2, QName); i < sizeof(tmc); i++) {
        ASSERT_EQ(p[i], ' ') << "byte " << i;
    }

    for (const MQCD &cd : {MQCD_DEFAULT, MQCD_CLIENT_CONN_DEFAULT}) {
        EXPECT_EQ(Field(cd.ChannelName, sizeof(cd.ChannelName)), std::string(20, ' '));
        EXPECT_EQ(Field(cd.ConnectionName, sizeof(cd.ConnectionName)), std::string(264, ' '));
        EXPECT_EQ(Field(cd.CertificateLabel, sizeof(cd.CertificateLabel)), std::string(64, ' '));
        EXPECT_EQ(cd.Version, MQCD_VERSION_6);
        EXPECT_EQ(cd.StrucLength, MQCD_LENGTH_6);
        EXPECT_EQ(cd.MaxMsgLength, 4194304);
        EXPECT_EQ(cd.ExitNameLength, MQ_EXIT_NAME_LENGTH);
        EXPECT_EQ(cd.MsgExitPtr, nullptr);
    }
    EXPECT_EQ(MQCD_DEFAULT.ChannelType, MQCHT_SENDER);
    EXPECT_EQ(MQCD_CLIENT_CONN_DEFAULT.ChannelType, MQCHT_CLNTCONN);
    EXPECT_EQ(MQCD_CLIENT_CONN_DEFAULT.TransportType, MQXPT_TCP);
}

TEST(PcfDefaults, HeaderAndParametersCarryTheirTypesAndWireLengths) {
    MQCFH cfh = MQCFH_DEFAULT;
    EXPECT_EQ(cfh.Type, MQCFT_COMMAND);
    EXPECT_EQ(cfh.StrucLength, 36);
    EXPECT_EQ(cfh.Version, MQCFH_VERSION_1);
    EXPECT_EQ(cfh.MsgSeqNumber, 1);
    EXPECT_EQ(cfh.Control, MQCFC_LAST);
    EXPECT_EQ(cfh.ParameterCount, 0);

    EXPECT_EQ(MQCFIN_DEFAULT.Type, MQCFT_INTEGER);
    EXPECT_EQ(MQCFIN_DEFAULT.StrucLength, 16);
    EXPECT_EQ(MQCFIN64_DEFAULT.Type, MQCFT_INTEGER64);
    EXPECT_EQ(MQCFIN64_DEFAULT.StrucLength, 24);
    EXPECT_EQ(MQCFST_DEFAULT.Type, MQCFT_STRING);
    EXPECT_EQ(MQCFST_DEFAULT.StrucLength, 20);
    EXPECT_EQ(MQCFST_DEFAULT.CodedCharSetId, MQCCSI_DEFAULT);
    EXPECT_EQ(MQCFIL_DEFAULT.Type, MQCFT_INTEGER_LIST);
    EXPECT_EQ(MQCFIL_DEFAULT.StrucLength, 16);
    EXPECT_EQ(MQCFIL64_DEFAULT.Type, MQCFT_INTEGER64_LIST);
    EXPECT_EQ(MQCFSL_DEFAULT.Type, MQCFT_STRING_LIST);
    EXPECT_EQ(MQCFSL_DEFAULT.StrucLength, 24);
    EXPECT_EQ(MQCFBS_DEFAULT.Type, MQCFT_BYTE_STRING);
    EXPECT_EQ(MQCFBS_DEFAULT.StrucLength, 16);
    EXPECT_EQ(MQCFGR_DEFAULT.Type, MQCFT_GROUP);
    EXPECT_EQ(MQCFGR_DEFAULT.StrucLength, 16);
    EXPECT_EQ(MQCFIF_DEFAULT.Type, MQCFT_INTEGER_FILTER);
    EXPECT_EQ(MQCFIF_DEFAULT.StrucLength, 20);
    EXPECT_EQ(MQCFSF_DEFAULT.Type, MQCFT_STRING_FILTER);
    EXPECT_EQ(MQCFSF_DEFAULT.StrucLength, 24);
    EXPECT_EQ(MQCFBF_DEFAULT.Type, MQCFT_BYTE_STRING_FILTER);
    EXPECT_EQ(MQCFBF_DEFAULT.StrucLength, 20);
    EXPECT_EQ(MQCFIF_DEFAULT.Operator, MQCFOP_EQUAL);
}
