/* mqgen_test.cpp -- the generator of the MQ declarations and constant
 * tables, run as a child process on the project's data and on small data
 * sets of its own. */
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/files.h"
#include "support/process.h"

namespace {

using tvtest::FileExists;
using tvtest::ReadFile;
using tvtest::TempDir;
using tvtest::WriteFile;

std::string Data(const char *name) {
    return std::string(TV_SOURCE_DIR) + "/src/mqconst/data/" + name;
}

struct RUN {
    int exitCode;
    std::string output;
};

/* Run mqgen with args; a failure to run at all fails the test. */
RUN RunMqgen(const std::vector<std::string> &args) {
    std::vector<std::string> argv{TV_MQGEN_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    tvtest::PROGRAMRESULT r = tvtest::RunProgram(argv, 120000, "", 1 << 16);
    EXPECT_EQ(r.rc, 0) << "mqgen could not be run";
    EXPECT_EQ(r.proc.timedOut, 0);
    return RUN{r.rc == 0 ? r.proc.exitCode : -1, r.out};
}

RUN Tables(const std::string &constants, const std::string &descs, const std::string &kw,
           const std::string &own, const std::string &out) {
    return RunMqgen({"tables", constants, descs, kw, own, out});
}

}  // namespace

TEST(Mqgen, TheKeptDeclarationsAreWhatTheDataGives) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    RUN r = RunMqgen({"mqi", Data("constants.tsv"), Data("strings.tsv"), dir.file("a.inc")});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(ReadFile(dir.file("a.inc")),
              ReadFile(std::string(TV_SOURCE_DIR) + "/src/mqconst/mqconstants.inc"))
        << "src/mqconst/mqconstants.inc is out of date: build the target mqconst_regenerate";
}

TEST(Mqgen, WritesLiteralsAndMasksAsCppDeclarations) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    WriteFile(dir.file("c.tsv"),
              "# comment\nMQX_ONE\t1\r\nMQX_NEG\t-2147483648\nMQX_MASK\t4294901760\n"
              "MQX_BIG\t8589934592\n");
    WriteFile(dir.file("s.tsv"),
              "MQX_TEXT\t\"a\\x01\\\"b\\\\\"\nMQX_ZERO\t\"\\0\\0\\0\"\nMQX_CHAR\t'\\x19'\n"
              "MQX_BLANK\t' '\nMQX_DIGIT\t\"\\0001\"\n");
    RUN r = RunMqgen({"mqi", dir.file("c.tsv"), dir.file("s.tsv"), dir.file("out.inc")});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    std::string inc = ReadFile(dir.file("out.inc"));
    for (const char *line : {
             "constexpr MQLONG MQX_ONE = 1;\n",
             "constexpr MQLONG MQX_NEG = (-2147483647 - 1);\n",
             "constexpr MQLONG MQX_MASK = -65536; /* 4294901760 as unsigned */\n",
             "constexpr MQINT64 MQX_BIG = 8589934592;\n",
             "constexpr char MQX_TEXT[] = \"a\\001\\\"b\\\\\";\n",
             "constexpr char MQX_ZERO[4] = {}; /* 3 NUL bytes */\n",
             "constexpr MQCHAR MQX_CHAR = '\\031';\n",
             "constexpr MQCHAR MQX_BLANK = ' ';\n",
             /* a NUL then '1': octal escapes take three digits, so the '1' stays apart */
             "constexpr char MQX_DIGIT[] = \"\\0001\";\n",
         })
        EXPECT_NE(inc.find(line), std::string::npos) << line << inc;
}

TEST(Mqgen, BuildsTablesFamilyByFamilyWithBoundsLastAndOwnRowsAppended) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    WriteFile(dir.file("c.tsv"),
              "MQIA_FIRST\t1\nMQIA_APPL_TYPE\t1\nMQIA_LAST_USED\t279\nMQCA_Q_MGR_NAME\t2015\n"
              "MQRC_NONE\t0\nMQRC_Q_FULL\t2053\nMQRC_SSL_INITIALIZATION_ERROR\t2393\n"
              "MQFB_NONE\t0\nMQFB_QUIT\t256\nMQCMD_NONE\t0\nMQQT_LOCAL\t1\nMQAT_CICS\t1\n"
              "MQRC_MD_ERROR\t2026\nMQRCCF_CFIN_LENGTH_ERROR\t3015\nMQFB_COA\t259\n"
              "MQCACF_Q_MGR_START_DATE\t3175\n");
    WriteFile(dir.file("d.tsv"), "MQRC_Q_FULL\tQueue full\n");
    WriteFile(dir.file("k.tsv"), "MQIA_APPL_TYPE\tAPPLTYPE\n");
    WriteFile(dir.file("o.tsv"),
              "parameters\t20000\tCVL_X\tAgent \"X\"\tAX\nreasons\t10000\tCVL_R\tOwn\t\n");
    RUN r = Tables(dir.file("c.tsv"), dir.file("d.tsv"), dir.file("k.tsv"), dir.file("o.tsv"),
                   dir.file("t.cpp"));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    std::string t = ReadFile(dir.file("t.cpp"));
    /* In this order: MQCA_ before MQIA_, own rows after the published
     * ones, range bounds last. */
    size_t at = 0;
    for (const char *row : {"{2015, \"MQCA_Q_MGR_NAME\", \"QMgr name\", nullptr},",
                            "{1, \"MQIA_APPL_TYPE\", \"Appl type\", \"APPLTYPE\"},",
                            "{20000, \"CVL_X\", \"Agent \\\"X\\\"\", \"AX\"},",
                            "{1, \"MQIA_FIRST\", \"First\", nullptr},",
                            "{279, \"MQIA_LAST_USED\", \"Last used\", nullptr},"}) {
        at = t.find(row, at);
        ASSERT_NE(at, std::string::npos) << row << "\n" << t;
    }
    for (const char *row : {
             "{0, \"MQRC_NONE\", \"\", nullptr},",
             "{2053, \"MQRC_Q_FULL\", \"Queue full\", nullptr},",
             "{10000, \"CVL_R\", \"Own\", nullptr},",
             /* derived descriptions: the name without its prefix, in sentence case */
             "{2393, \"MQRC_SSL_INITIALIZATION_ERROR\", \"SSL initialization error\", nullptr},",
             "{259, \"MQFB_COA\", \"Coa\", nullptr},",
             "{2026, \"MQRC_MD_ERROR\", \"MD error\", nullptr},",
             "{3015, \"MQRCCF_CFIN_LENGTH_ERROR\", \"CFIN length error\", nullptr},",
             "{3175, \"MQCACF_Q_MGR_START_DATE\", \"QMgr start date\", nullptr},",
             "{1, \"MQQT_LOCAL\", \"\", nullptr},", /* attribute values: no descriptions */
         })
        EXPECT_NE(t.find(row), std::string::npos) << row;
}

TEST(Mqgen, RefusesMalformedDataWithoutWritingOutput) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    std::string good = "MQRC_Q_FULL\t2053\n";
    WriteFile(dir.file("good.tsv"), good);
    WriteFile(dir.file("empty.tsv"), "");
    const struct {
        const char *what;
        const char *constants;
        const char *strings;
        const char *descs;
        const char *own;
    } cases[] = {
        {"value not a number", "MQRC_Q_FULL\t20x3\n", nullptr, nullptr, nullptr},
        {"value beyond 64 bits", "MQRC_Q_FULL\t99999999999999999999\n", nullptr, nullptr, nullptr},
        {"missing value", "MQRC_Q_FULL\n", nullptr, nullptr, nullptr},
        {"name with a blank", "MQRC Q_FULL\t1\n", nullptr, nullptr, nullptr},
        {"unterminated string", nullptr, "MQX_S\t\"abc\n", nullptr, nullptr},
        {"two-character MQCHAR", nullptr, "MQX_S\t'ab'\n", nullptr, nullptr},
        {"octal escape beyond a byte", nullptr, "MQX_S\t\"\\777\"\n", nullptr, nullptr},
        {"description of an unknown constant", nullptr, nullptr, "MQRC_NO_SUCH\tNo such\n",
         nullptr},
        {"own row of an unknown table", nullptr, nullptr, nullptr, "widgets\t1\tCVL_W\tW\t\n"},
        {"own row without keyword column", nullptr, nullptr, nullptr, "reasons\t1\tCVL_W\tW\n"},
    };
    std::string e = dir.file("empty.tsv"), out = dir.file("out");
    /* what each case spoils is accepted as it is */
    ASSERT_EQ(RunMqgen({"mqi", dir.file("good.tsv"), e, dir.file("ok")}).exitCode, 0);
    ASSERT_EQ(Tables(dir.file("good.tsv"), e, e, e, dir.file("ok")).exitCode, 0);
    for (const auto &c : cases) {
        WriteFile(dir.file("c.tsv"), c.constants != nullptr ? c.constants : good);
        WriteFile(dir.file("s.tsv"), c.strings != nullptr ? c.strings : "");
        WriteFile(dir.file("d.tsv"), c.descs != nullptr ? c.descs : "");
        WriteFile(dir.file("o.tsv"), c.own != nullptr ? c.own : "");
        RUN r = c.descs != nullptr || c.own != nullptr
                    ? Tables(dir.file("c.tsv"), dir.file("d.tsv"), e, dir.file("o.tsv"), out)
                    : RunMqgen({"mqi", dir.file("c.tsv"), dir.file("s.tsv"), out});
        EXPECT_EQ(r.exitCode, 1) << c.what;
        EXPECT_NE(r.output.find("mqgen: "), std::string::npos) << c.what << ": " << r.output;
        EXPECT_FALSE(FileExists(out)) << c.what;
    }
    /* a missing file, a wrong mode, a wrong argument count */
    EXPECT_EQ(RunMqgen({"mqi", dir.file("none.tsv"), e, out}).exitCode, 1);
    EXPECT_EQ(RunMqgen({"everything"}).exitCode, 1);
    EXPECT_EQ(RunMqgen({"tables", dir.file("good.tsv")}).exitCode, 1);
    EXPECT_FALSE(FileExists(out));
}
