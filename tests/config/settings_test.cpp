/* settings_test.cpp -- configuration tokens, keys, values, errors and the
 * overrides report CVLA005I. */
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "config/settings.h"
#include "core/agent.h"
#include "core/startup.h"
#include "log/output.h"
#include "support/fake_mqi.h"

using tvtest::CountOf;
using tvtest::TempDir;
using tvtest::WriteFile;

namespace {

/* Settings back to defaults, messages into a file of the test's own. */
class Config : public ::testing::Test {
protected:
    TempDir dir;
    fakemq::CapturedLog log;

    void SetUp() override {
        InitSettings();
        InitAgentState();
        SetFlags(FLAG_SERVICE);
        CopyField(Settings.logPath, sizeof Settings.logPath, dir.path().c_str());
        CopyField(Settings.programDir, sizeof Settings.programDir, dir.path().c_str());
        log.Start();
    }
    /* Write a configuration file and read it as if named with -f. */
    int Read(const std::string &text) {
        std::string name = dir.file("test.cfg");
        WriteFile(name, text);
        CopyField(Settings.configFileName, sizeof Settings.configFileName, name.c_str());
        SetFlags(FLAG_CONFIG_GIVEN);
        return ReadConfiguration();
    }
    std::string Messages() { return log.Text(); }
    /* The keys the file set, with the values now in effect. */
    std::string InEffect() {
        char text[4096];
        BuildConfigOverrides(text, sizeof text, 1);
        return text;
    }
};

using TOKENS = std::vector<std::pair<std::string, int>>; /* text, quoted */

}  // namespace

TEST_F(Config, TokensDelimitersCommentsQuotesAndTheLengthLimit) {
    auto tokens = [&](const std::string &text) {
        WriteFile(dir.file("tokens.cfg"), text);
        FILE *f = fopen(dir.file("tokens.cfg").c_str(), "r");
        static char buf[CFG_TOKEN_MAX + 1];
        TOKENS out;
        int quoted = 0;
        for (int len; (len = ReadToken(f, &quoted, buf)) != 0 || quoted;) {
            EXPECT_EQ(static_cast<size_t>(len), strlen(buf));
            out.emplace_back(buf, quoted);
        }
        fclose(f);
        return out;
    };
    EXPECT_EQ(tokens("  key1 = value1 ; a comment = x\n"
                     "# whole line comment\n"
                     "\"quoted ~\"text~\" ~~ x\" (a)[b]{c},d\n"
                     "path:rest\ttab\r\n"
                     "abc;gone\n"
                     "x\"y\"#gone too\n"
                     "\"\" \"unterminated"),
              (TOKENS{{"key1", 0}, {"=", 0},   {"value1", 0},      {"quoted \"text\" ~ x", 1},
                      {"(", 0},    {"a", 0},   {")", 0},           {"[", 0},
                      {"b", 0},    {"]", 0},   {"{", 0},           {"c", 0},
                      {"}", 0},    {",", 0},   {"d", 0},           {"path:", 0},
                      {"rest", 0}, {"tab", 0}, {"abc", 0},         {"x", 0},
                      {"y", 1},    {"", 1},    {"unterminated", 1}}));
    /* Longer than the limit: the rest is the next token. */
    EXPECT_EQ(tokens(std::string(CFG_TOKEN_MAX + 50, 'k') + " \"" +
                     std::string(CFG_TOKEN_MAX + 7, 'q') + "\" end"),
              (TOKENS{{std::string(CFG_TOKEN_MAX, 'k'), 0},
                      {std::string(50, 'k'), 0},
                      {std::string(CFG_TOKEN_MAX, 'q'), 1},
                      {std::string(7, 'q'), 1},
                      {"end", 0}}));
}

TEST_F(Config, AQuotedValueEndsAtItsQuoteAroundTheLimit) {
    /* Up to the limit the value is whole; one more character is the next
     * token (an unknown key here), never an empty one. */
    const std::string unknownRest = "CVLA007E Unrecognised parameter 'p'\n";
    for (size_t n : {CFG_TOKEN_MAX - 1, CFG_TOKEN_MAX, CFG_TOKEN_MAX + 1}) {
        Settings.maxAge = 10;
        ASSERT_EQ(Read("logpath \"" + std::string(n, 'p') + "\"\nmaxage 7\n"), 1) << n;
        EXPECT_EQ(Settings.maxAge, 7) << n;
        EXPECT_EQ(CountOf(Messages(), "CVLA007E"), n > CFG_TOKEN_MAX ? 1 : 0) << n;
    }
    EXPECT_EQ(CountOf(Messages(), unknownRest), 1);
}

/* A file's text: the CVLA007E lines it gives (texts without "CVLA007E
 * Unrecognised parameter ", one line each) and the keys then in effect. */
TEST_F(Config, ValuesAreReadAndWhatIsNotUnderstoodIsReported) {
    const std::string badQuoted(500, 'v');
    const struct {
        std::string text;
        std::string unrecognised;
        std::string inEffect;
    } cases[] = {
        {"", "", ""},
        {"; nothing here\n# nor here\n\n", "", ""},
        {"nosuchkey = value\n", "'nosuchkey'\n'='\n'value'\n", ""},
        /* keys are case sensitive, yes and no are not */
        {"MaxAge 5\ncompress = NO\ncoalesce YES\n", "'MaxAge'\n'5'\n",
         "compress = no; coalesce = yes"},
        /* integers read like a decimal conversion; an empty value leaves one as it was */
        {"maxage 5m\nmaxmsgsize abc\nretrycount -7\nhobjttl \"  +12x\"\ncertthresh 99999999999\n"
         "reportint \"\"\n",
         "",
         "maxage = 5 seconds; maxmsgsize = 0 byte; reportint = 60 minutes; retrycount = -7; "
         "hobjttl = 12 seconds; certthresh = 2147483647 days"},
        /* strings are cut to their fields and may be quoted */
        {"commandq " + std::string(60, 'Q') + "\nlogpath \"/my logs (x)=;#,[1]\"\n" +
             "tempqpfx = MY.PREFIX.*\n",
         "",
         "tempqpfx = MY.PREFIX.*; commandq = " + std::string(47, 'Q') +
             "; logpath = /my logs (x)=;#,[1]"},
        {"logpath " + std::string(400, 'p') + "\n", "", "logpath = " + std::string(299, 'p')},
        /* the quoted text of a bad value is cut to 111 characters */
        {"compress \"" + badQuoted + "\"\n",
         "'" + ("compress = " + badQuoted).substr(0, CFG_ERROR_TEXT_SIZE - 1) + "'\n", ""},
    };
    for (const auto &c : cases) {
        InitSettings();
        size_t before = Messages().size();
        EXPECT_EQ(Read(c.text), c.inEffect.empty() ? 0 : 1) << c.text;
        std::string unrecognised;
        for (const std::string &line : tvtest::SplitLines(Messages().substr(before)))
            if (line.find("CVLA007E Unrecognised parameter ") == 11)
                unrecognised += line.substr(11 + 32) + "\n";
        EXPECT_EQ(unrecognised, c.unrecognised) << c.text;
        EXPECT_EQ(InEffect(), c.inEffect) << c.text;
    }
}

TEST_F(Config, BadValuesAreReportedWithKeyAndValueAndCountAsNotSet) {
    ASSERT_EQ(Read("certevent disabled\ncompress maybe\nlogfailfatal nope\ncertevent yes\n"), 1);
    for (const std::string bad :
         {"certevent = disabled", "compress = maybe", "logfailfatal = nope"})
        EXPECT_EQ(CountOf(Messages(), "CVLA007E Unrecognised parameter '" + bad + "'\n"), 1);
    EXPECT_TRUE(FlagIsSet(FLAG_COMPRESS));
    EXPECT_TRUE(FlagIsSet(FLAG_LOGFAILFATAL));
    EXPECT_EQ(InEffect(), "certevent = Yes");
}

TEST_F(Config, TheReportListsKeysInTableOrderWithUnitsAndConditions) {
    ASSERT_EQ(Read("certthresh 0\ndiscint 5\nhobjttl 5\nreplyq MODEL.Q\nnumlogfiles 4\n"
                   "coalesce no\nreportint 0\nmaxmsgsize 1000\n"),
              1);
    ReportConfigOverrides();
    EXPECT_NE(Messages().find("CVLA005I Default overrides from file '" + dir.file("test.cfg") +
                              "' in effect: maxmsgsize = 1000 bytes; coalesce = no; replyq = "
                              "MODEL.Q; reportint = 0 minute; hobjttl = 5 seconds; numlogfiles = "
                              "4; certthresh = 0 day\n"),
              std::string::npos)
        << Messages();
    SetFlags(FLAG_TRIGGERED); /* discint appears only for a triggered agent */
    EXPECT_NE(InEffect().find("; replyq = MODEL.Q; discint = 5 minutes; reportint"),
              std::string::npos);
}
