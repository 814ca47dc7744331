/* settings_test.cpp -- configuration tokens, keys, values, errors and the
 * overrides report CVLA005I.
 */
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
    /* Report the overrides; the text of the CVLA005I line, without its
     * time stamp. */
    std::string OverridesLine() {
        ReportConfigOverrides();
        std::string last;
        for (const std::string &line : tvtest::SplitLines(Messages()))
            if (line.find("CVLA005I") != std::string::npos)
                last = line.substr(11);
        return last;
    }
};

std::vector<std::pair<std::string, int>> Tokens(const std::string &path) {
    std::vector<std::pair<std::string, int>> out;
    FILE *f = fopen(path.c_str(), "r");
    static char buf[CFG_TOKEN_MAX + 1];
    int quoted = 0;
    for (;;) {
        int len = ReadToken(f, &quoted, buf);
        if (len == 0 && !quoted)
            break;
        EXPECT_EQ(static_cast<size_t>(len), strlen(buf));
        out.emplace_back(buf, quoted);
    }
    fclose(f);
    return out;
}

}  // namespace

TEST_F(Config, TokensDelimitersCommentsAndQuotes) {
    std::string name = dir.file("tokens.cfg");
    WriteFile(name,
              "  key1 = value1 ; a comment = x\n"
              "# whole line comment\n"
              "\"quoted ~\"text~\" ~~ x\" (a)[b]{c},d\n"
              "path:rest\ttab\r\n"
              "abc;gone\n"
              "x\"y\"#gone too\n"
              "\"\" \"unterminated");
    std::vector<std::pair<std::string, int>> expect = {
        {"key1", 0}, {"=", 0},   {"value1", 0},      {"quoted \"text\" ~ x", 1},
        {"(", 0},    {"a", 0},   {")", 0},           {"[", 0},
        {"b", 0},    {"]", 0},   {"{", 0},           {"c", 0},
        {"}", 0},    {",", 0},   {"d", 0},           {"path:", 0},
        {"rest", 0}, {"tab", 0}, {"abc", 0},         {"x", 0},
        {"y", 1},    {"", 1},    {"unterminated", 1}};
    EXPECT_EQ(Tokens(name), expect);
}

TEST_F(Config, TokensLongerThanTheLimitContinueAsTheNextToken) {
    std::string name = dir.file("long.cfg");
    WriteFile(name, std::string(CFG_TOKEN_MAX + 50, 'k') + " \"" +
                        std::string(CFG_TOKEN_MAX + 7, 'q') + "\" end");
    auto tokens = Tokens(name);
    ASSERT_EQ(tokens.size(), 5u);
    EXPECT_EQ(tokens[0].first, std::string(CFG_TOKEN_MAX, 'k'));
    EXPECT_EQ(tokens[1].first, std::string(50, 'k'));
    EXPECT_EQ(tokens[2], std::make_pair(std::string(CFG_TOKEN_MAX, 'q'), 1));
    EXPECT_EQ(tokens[3], std::make_pair(std::string(7, 'q'), 1));
    EXPECT_EQ(tokens[4], std::make_pair(std::string("end"), 0));
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

TEST_F(Config, AFileWithNothingButCommentsSetsNothing) {
    EXPECT_EQ(Read(""), 0);
    EXPECT_EQ(Read("; nothing here\n# nor here\n\n"), 0);
    EXPECT_EQ(Messages(), "");
    EXPECT_EQ(Settings.maxAge, 10);
}

TEST_F(Config, AnUnknownKeyWithEqualsAndValueGivesThreeMessages) {
    EXPECT_EQ(Read("nosuchkey = value\n"), 0);
    for (const char *word : {"nosuchkey", "=", "value"})
        EXPECT_EQ(
            CountOf(Messages(), "CVLA007E Unrecognised parameter '" + std::string(word) + "'\n"),
            1);
}

TEST_F(Config, KeysAreCaseSensitiveYesNoValuesAreNot) {
    ASSERT_EQ(Read("MaxAge 5\ncompress = NO\ncoalesce YES\n"), 1);
    std::string m = Messages();
    EXPECT_EQ(CountOf(m, "CVLA007E Unrecognised parameter 'MaxAge'\n"), 1);
    EXPECT_EQ(CountOf(m, "CVLA007E Unrecognised parameter '5'\n"), 1);
    EXPECT_EQ(Settings.maxAge, 10);
    EXPECT_FALSE(FlagIsSet(FLAG_COMPRESS));
    EXPECT_TRUE(FlagIsSet(FLAG_COALESCE));
    EXPECT_TRUE(ConfigKeyWasSet("coalesce"));
    EXPECT_FALSE(ConfigKeyWasSet("maxage"));
}

TEST_F(Config, IntegerValuesReadLikeADecimalConversion) {
    ASSERT_EQ(Read("maxage 5m\nmaxmsgsize abc\nretrycount -7\nhobjttl \"  +12x\"\n"
                   "certthresh 99999999999\nreportint \"\"\n"),
              1);
    EXPECT_EQ(Settings.maxAge, 5);
    EXPECT_EQ(Settings.maxMsgSize, 0);
    EXPECT_EQ(Settings.retryCount, -7);
    EXPECT_EQ(Settings.hobjTtl, 12);
    EXPECT_EQ(Settings.certThresh, INT_MAX);
    EXPECT_EQ(Settings.reportInt, 60); /* an empty value leaves it as it was */
    EXPECT_EQ(Messages(), "");
}

TEST_F(Config, BadValuesAreReportedWithKeyAndValueAndCountAsNotSet) {
    ASSERT_EQ(Read("certevent disabled\ncompress maybe\nlogfailfatal nope\ncertevent yes\n"), 1);
    std::string m = Messages();
    EXPECT_EQ(CountOf(m, "CVLA007E Unrecognised parameter 'certevent = disabled'\n"), 1);
    EXPECT_EQ(CountOf(m, "CVLA007E Unrecognised parameter 'compress = maybe'\n"), 1);
    EXPECT_EQ(CountOf(m, "CVLA007E Unrecognised parameter 'logfailfatal = nope'\n"), 1);
    EXPECT_TRUE(FlagIsSet(FLAG_COMPRESS));
    EXPECT_TRUE(FlagIsSet(FLAG_LOGFAILFATAL));
    EXPECT_EQ(Settings.certEvent.load(), CERTEVENT_YES);
    EXPECT_FALSE(ConfigKeyWasSet("compress"));
    EXPECT_NE(OverridesLine().find("in effect: certevent = Yes"), std::string::npos);
}

TEST_F(Config, TheQuotedTextOfABadValueIsCutTo111Characters) {
    std::string value(500, 'v');
    ASSERT_EQ(Read("compress \"" + value + "\"\n"), 0);
    EXPECT_EQ(
        CountOf(Messages(), "CVLA007E Unrecognised parameter '" +
                                ("compress = " + value).substr(0, CFG_ERROR_TEXT_SIZE - 1) + "'\n"),
        1);
}

TEST_F(Config, StringValuesAreCutToTheirFieldsAndMayBeQuoted) {
    std::string longName(60, 'Q');
    ASSERT_EQ(Read("commandq " + longName + "\nlogpath \"/my logs (x)=;#,[1]\"\n" +
                   "tempqpfx = MY.PREFIX.*\n"),
              1);
    EXPECT_EQ(std::string(Settings.commandQName), longName.substr(0, 47));
    EXPECT_EQ(std::string(Settings.logPath), "/my logs (x)=;#,[1]");
    EXPECT_EQ(std::string(Settings.tempQPrefix), "MY.PREFIX.*");
    std::string logValue(400, 'p');
    ASSERT_EQ(Read("logpath " + logValue + "\n"), 1);
    EXPECT_EQ(std::string(Settings.logPath), logValue.substr(0, 299));
}

TEST_F(Config, TheReportListsKeysInTableOrderWithUnitsAndConditions) {
    ASSERT_EQ(Read("certthresh 0\ndiscint 5\nhobjttl 5\nreplyq MODEL.Q\nnumlogfiles 4\n"
                   "coalesce no\nreportint 0\nmaxmsgsize 1000\n"),
              1);
    /* discint appears only for a triggered agent. */
    EXPECT_EQ(OverridesLine(), "CVLA005I Default overrides from file '" + dir.file("test.cfg") +
                                   "' in effect: maxmsgsize = 1000 bytes; coalesce = no; replyq = "
                                   "MODEL.Q; reportint = 0 minute; "
                                   "hobjttl = 5 seconds; numlogfiles = 4; certthresh = 0 day");
    SetFlags(FLAG_TRIGGERED);
    EXPECT_NE(OverridesLine().find("; replyq = MODEL.Q; discint = 5 minutes; reportint"),
              std::string::npos);
}

TEST_F(Config, AMissingFileIsReportedOnlyWhenNamedWithF) {
    CopyField(Settings.configFileName, sizeof Settings.configFileName,
              dir.file("absent.cfg").c_str());
    SetFlags(FLAG_CONFIG_GIVEN);
    EXPECT_EQ(ReadConfiguration(), 0);
    EXPECT_NE(
        Messages().find("CVLA203E Unable to open config file '" + dir.file("absent.cfg") + "' rc="),
        std::string::npos);

    /* Not named: the program directory's TORVIK.CFG, silently absent. */
    InitSettings();
    SetFlags(FLAG_SERVICE);
    CopyField(Settings.programDir, sizeof Settings.programDir, dir.path().c_str());
    size_t before = Messages().size();
    EXPECT_EQ(ReadConfiguration(), 0);
    EXPECT_EQ(Messages().size(), before);
    EXPECT_EQ(std::string(Settings.configFileName), dir.path() + PL_PATH_SEPARATOR + "TORVIK.CFG");

    /* ... and read when it is there. */
    WriteFile(dir.file("TORVIK.CFG"), "sleeptime 3\n");
    EXPECT_EQ(ReadConfiguration(), 1);
    EXPECT_EQ(Settings.sleepTime, 3);
}
