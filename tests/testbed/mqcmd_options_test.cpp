/* mqcmd_options_test.cpp -- the requester's command line: the mistakes it
 * must refuse (the options themselves are used by the end-to-end suites). */
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
        {"--wait", "soon", "--mqsc", "A"},
        {"--wait", "-1", "--mqsc", "A"},
        {"--linger", "1.5", "--mqsc", "A"},
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
