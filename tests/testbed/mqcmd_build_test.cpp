/* mqcmd_build_test.cpp -- the requester's command line and the commands it
 * builds from words: parameter typing, constant names as values, forced
 * types, failures that leave the message as it was, identifiers, formats and
 * report options, and the options it must refuse (the options themselves
 * are used by the end-to-end suites). */
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "mqcmd_build.h"
#include "mqcmd_options.h"
#include "support/pcf_builder.h"

namespace {

/* Start a command and add each word; every word must be accepted. */
std::vector<MQBYTE> Command(MQLONG command, const std::vector<const char *> &words) {
    std::vector<MQBYTE> msg;
    StartPcfCommand(&msg, command);
    char err[200];
    for (const char *w : words)
        EXPECT_EQ(AddParameterWord(&msg, w, err, sizeof err), 0) << w << ": " << err;
    return msg;
}

/* Each case: words and the message they must make, byte for byte. */
TEST(MqcmdBuild, EachWordBecomesItsStructure) {
    using tvtest::Pcf;
    const Pcf cmd = Pcf(MQCMD_CHANGE_Q_MGR, MQCFT_COMMAND).Control(MQCFC_LAST);
    const struct {
        std::vector<const char *> words;
        std::vector<MQBYTE> msg;
    } cases[] = {
        /* names in any case, constants as values, a list, forced types, a
         * hexadecimal and an unsigned number, an empty list (the plain forms
         * are every agent suite's) */
        {{"MQIA_MAX_Q_DEPTH=5000", "mqca_ssl_key_repository=/var/mqm/key,with,commas",
          "MQIACF_Q_MGR_ATTRS=MQCA_SSL_KEY_REPOSITORY,MQIA_SSL_EVENT",
          "MQIA_SSL_EVENT=MQEVR_ENABLED", "4000:string=forced", "4001:int=0x10",
          "4002:intlist=1,-2,3", "4003:int=0xFFFFFFFF", "4004:intlist="},
         Pcf(cmd)
             .Int(MQIA_MAX_Q_DEPTH, 5000)
             .Str(MQCA_SSL_KEY_REPOSITORY, "/var/mqm/key,with,commas")
             .IntList(MQIACF_Q_MGR_ATTRS, {MQCA_SSL_KEY_REPOSITORY, MQIA_SSL_EVENT})
             .Int(MQIA_SSL_EVENT, MQEVR_ENABLED)
             .Str(4000, "forced")
             .Int(4001, 16)
             .IntList(4002, {1, -2, 3})
             .Int(4003, -1)
             .IntList(4004, {})
             .bytes()},
        /* a byte string raises the header to version 2, 64-bit integers to 3 */
        {{"MQBACF_CONNECTION_ID=0aFF10"},
         Pcf(cmd).Version(2).Bytes(MQBACF_CONNECTION_ID, {0x0A, 0xFF, 0x10}).bytes()},
        {{"MQBACF_CONNECTION_ID=00", "MQIAMO64_BROWSE_BYTES=-9000000000",
          "5000:int64list=1,MQIA_MAX_Q_DEPTH", "MQIA_MAX_Q_DEPTH:int64=7"},
         Pcf(cmd)
             .Version(3)
             .Bytes(MQBACF_CONNECTION_ID, {0})
             .Int64(MQIAMO64_BROWSE_BYTES, -9000000000LL)
             .Int64List(5000, {1, MQIA_MAX_Q_DEPTH})
             .Int64(MQIA_MAX_Q_DEPTH, 7)
             .bytes()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.words[0]);
        EXPECT_EQ(Command(MQCMD_CHANGE_Q_MGR, c.words), c.msg);
    }
}

TEST(MqcmdBuild, BadWordsFailWithAReasonAndLeaveTheMessageAsItWas) {
    const struct {
        const char *word;
        int reason;
    } bad[] = {
        {"MQIA_MAX_Q_DEPTH", MQRCCF_PARM_SYNTAX_ERROR},           /* no = */
        {"=5", MQRCCF_PARM_SYNTAX_ERROR},                         /* no name */
        {"2016=APP", MQRCCF_PARM_SYNTAX_ERROR},                   /* number needs a type */
        {"MQIA_NO_SUCH_THING=1", MQRCCF_PARM_VALUE_ERROR},        /* unknown name */
        {"MQIA_MAX_Q_DEPTH=lots", MQRCCF_PARM_VALUE_ERROR},       /* not a number or constant */
        {"MQIA_MAX_Q_DEPTH=4294967296", MQRCCF_PARM_VALUE_ERROR}, /* beyond 32 bits */
        {"MQIA_MAX_Q_DEPTH=12abc", MQRCCF_PARM_VALUE_ERROR},
        {"MQIACF_Q_ATTRS=1,,2", MQRCCF_PARM_VALUE_ERROR},       /* empty list item */
        {"MQIA_MAX_Q_DEPTH:float=1", MQRCCF_PARM_SYNTAX_ERROR}, /* unknown type */
        {"MQBACF_CONNECTION_ID=ABC", MQRCCF_PARM_SYNTAX_ERROR}, /* odd hex digits */
        {"99999999999:int=1", MQRCCF_PARM_VALUE_ERROR},         /* id beyond 32 bits */
    };
    for (const auto &b : bad) {
        SCOPED_TRACE(b.word);
        std::vector<MQBYTE> msg = Command(MQCMD_INQUIRE_Q, {"MQCA_Q_NAME=A"});
        const std::vector<MQBYTE> before = msg;
        char err[200] = "";
        EXPECT_EQ(AddParameterWord(&msg, b.word, err, sizeof err), b.reason);
        EXPECT_NE(err[0], '\0');
        EXPECT_EQ(msg, before);
    }
}

/* What each small parser takes, and that a refusal leaves the result as it
 * was; the plain forms reach the request in the end-to-end suite. */
TEST(MqcmdBuild, CommandCodesIdentifiersFormatsAndReportOptions) {
    char err[200];
    const struct {
        const char *text;
        MQLONG want; /* -1: refused */
    } commands[] = {{"mqcmd_inquire_q_mgr", MQCMD_INQUIRE_Q_MGR},
                    {"9500", 9500},
                    {"NO_SUCH_COMMAND", -1},
                    {"-4", -1},
                    {"", -1}};
    for (const auto &t : commands) {
        MQLONG c = 77;
        EXPECT_EQ(ParseCommandCode(t.text, &c, err, sizeof err) == 0, t.want != -1) << t.text;
        EXPECT_EQ(c, t.want == -1 ? 77 : t.want) << t.text;
    }

    MQBYTE id[24];
    EXPECT_EQ(ParseHexId(std::string(48, 'A').c_str(), id, err, sizeof err), 0);
    EXPECT_EQ(id[23], 0xAA);
    for (const std::string &bad : {std::string(50, 'A'), std::string("123"), std::string("GG")})
        EXPECT_NE(ParseHexId(bad.c_str(), id, err, sizeof err), 0) << bad;
    EXPECT_EQ(id[0], 0xAA);

    MQCHAR f[8];
    EXPECT_EQ(ParseFormatName("NONE", f, err, sizeof err), 0);
    EXPECT_EQ(memcmp(f, MQFMT_NONE, 8), 0);
    EXPECT_NE(ParseFormatName("TOOLONGFMT", f, err, sizeof err), 0);
    EXPECT_NE(ParseFormatName("", f, err, sizeof err), 0);

    MQLONG report = 0;
    EXPECT_EQ(ParseReportOptions("mqro_pass_correl_id,16384", &report, err, sizeof err), 0);
    EXPECT_EQ(report, MQRO_PASS_CORREL_ID | MQRO_PASS_DISCARD_AND_EXPIRY);
    report = 0;
    EXPECT_NE(ParseReportOptions("PASS_NOTHING", &report, err, sizeof err), 0);
    EXPECT_NE(ParseReportOptions("PASS_MSG_ID,", &report, err, sizeof err), 0);
    EXPECT_EQ(report, 0);
}

/* ---- the command line ---- */

struct Parsed {
    int rc;
    MQCMDOPTS opts;
    std::string err;
};

Parsed Parse(std::vector<const char *> words) {
    words.insert(words.begin(), "mqcmd");
    Parsed p;
    char err[300];
    p.rc = ParseMqcmdOptions((int)words.size(), words.data(), &p.opts, err, sizeof err);
    p.err = err;
    return p;
}

TEST(MqcmdOptions, GetReadsWhatIsThereUnlessToldToWait) {
    EXPECT_EQ(Parse({"get", "-q", "APP.Q"}).opts.waitMs, 0u);
    EXPECT_EQ(Parse({"get", "-q", "APP.Q", "--wait", "3"}).opts.waitMs, 3000u);
}

TEST(MqcmdOptions, MistakesAreRefusedWithAReason) {
    const std::vector<std::vector<const char *>> bad = {
        {},                               /* no command form */
        {"--mqsc", "A", "--escape", "B"}, /* two forms */
        {"--mqsc"},                       /* value missing */
        {"--bogus", "1", "--mqsc", "A"},  /* unknown option */
        {"--mqsc", "A", "stray"},         /* stray word */
        {"--wait", "-1", "--mqsc", "A"},
        {"-q", "A123456789B123456789C123456789D123456789E1234567X", "--mqsc", "A"}, /* 49 */
        {"-m", "A123456789B123456789C123456789D123456789E1234567X", "--mqsc", "A"},
        {"--user", "name_of_13_ch", "--mqsc", "A"},
        {"get"},                                 /* get needs -q */
        {"put", "-q", "Q"},                      /* put needs TEXT */
        {"put", "TEXT"},                         /* and -q */
        {"get", "-q", "Q", "--mqsc", "A"},       /* no command forms with get */
        {"MQCA_Q_NAME=X", "--pcf", "INQUIRE_Q"}, /* parameter before --pcf */
    };
    for (const auto &words : bad) {
        std::string line;
        for (const char *w : words)
            line += std::string(w) + " ";
        SCOPED_TRACE(line);
        Parsed p = Parse(words);
        EXPECT_EQ(p.rc, 1);
        EXPECT_FALSE(p.err.empty());
    }
    /* the longest names that fit are accepted */
    Parsed p = Parse({"-q", "A123456789B123456789C123456789D123456789E1234567", "--user",
                      "name_of_12ch", "--mqsc", "A"});
    EXPECT_EQ(p.rc, 0) << p.err;
}

} /* namespace */
