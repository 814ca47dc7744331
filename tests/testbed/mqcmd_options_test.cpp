/* mqcmd_options_test.cpp -- the requester's command line: defaults, every option,
 * the get and put tools, and the mistakes it must refuse. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mqcmd_options.h"

namespace {

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

TEST(MqcmdOptions, GetAndPutToolsAndEscape) {
    Parsed p = Parse({"--escape", "DISPLAY QLOCAL(*)"});
    EXPECT_EQ(p.opts.mode, MQCMD_MODE_ESCAPE) << p.err;
    p = Parse({"get", "-q", "APP.Q", "--json"});
    ASSERT_EQ(p.rc, 0) << p.err;
    EXPECT_EQ(p.opts.mode, MQCMD_MODE_GET);
    EXPECT_EQ(p.opts.waitMs, 0u); /* get reads what is there unless told to wait */
    p = Parse({"get", "-q", "APP.Q", "--wait", "3"});
    ASSERT_EQ(p.rc, 0) << p.err;
    EXPECT_EQ(p.opts.waitMs, 3000u);

    p = Parse({"put", "-q", "APP.Q", "-m", "QM1", "hello world"});
    ASSERT_EQ(p.rc, 0) << p.err;
    EXPECT_EQ(p.opts.mode, MQCMD_MODE_PUT);
    EXPECT_STREQ(p.opts.text, "hello world");
    EXPECT_STREQ(p.opts.qmgrName, "QM1");
}

TEST(MqcmdOptions, MistakesAreRefusedWithAReason) {
    const std::vector<std::vector<const char *>> bad = {
        {},                               /* no command form */
        {"-q", "X"},                      /* still none */
        {"--mqsc", "A", "--escape", "B"}, /* two forms */
        {"--mqsc"},                       /* value missing */
        {"--bogus", "1", "--mqsc", "A"},  /* unknown option */
        {"--mqsc", "A", "stray"},         /* stray word */
        {"--wait", "soon", "--mqsc", "A"},
        {"--wait", "-1", "--mqsc", "A"},
        {"--linger", "1.5", "--mqsc", "A"},
        {"--msgid", "XYZ", "--mqsc", "A"},
        {"--report", "PASS_EVERYTHING", "--mqsc", "A"},
        {"--format", "FORMAT_TOO_LONG", "--mqsc", "A"},
        {"-q", "A123456789B123456789C123456789D123456789E1234567X", "--mqsc", "A"}, /* 49 */
        {"-m", "A123456789B123456789C123456789D123456789E1234567X", "--mqsc", "A"},
        {"--user", "name_of_13_ch", "--mqsc", "A"},
        {"--json=yes", "--mqsc", "A"},
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
