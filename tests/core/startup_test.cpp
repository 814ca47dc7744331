/* startup_test.cpp -- option reading, the trigger message, the banner and
 * usage text (the shutdown path is checked on every end-to-end agent). */
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "config/settings.h"
#include "core/agent.h"
#include "core/startup.h"
#include "log/cs.h"
#include "support/fake_mqi.h"

using tvtest::CountOf;

namespace {

const char UsageText[] =
    "CVLA006E Usage: TORVIK <Optional flags as below>\n"
    "  [-m <Queue Manager Name>]\n"
    "  [-q <Input Queue Name>  ]\n"
    "  [-f <Config File Name>  ]\n"
    "  [-k                     ] Running as a service\n"
    "  [-c <Simple command>    ]\n"
    "  [-v {Quiet|Low|Med|High}] Verbosity level\n";

class Startup : public ::testing::Test {
protected:
    fakemq::CapturedLog log;
    size_t mark = 0; /* where this case's messages begin */

    void SetUp() override {
        InitSettings();
        InitAgentState();
        SetFlags(FLAG_SERVICE);
        log.Start();
    }
    void TearDown() override { CSSetMemFailAfter(-1); }
    /* Defaults again, and only the messages written from here on. */
    void Fresh() {
        InitSettings();
        SetFlags(FLAG_SERVICE);
        UsageShown.store(0);
        mark = log.Text().size();
    }
    std::string Messages() { return log.Text().substr(mark); }
    /* ParseOptions over the given words (argv[0] is added). */
    int Parse(std::vector<std::string> words) {
        words.insert(words.begin(), "torvik");
        std::vector<char *> argv;
        for (std::string &w : words)
            argv.push_back(&w[0]);
        argv.push_back(nullptr);
        return ParseOptions(static_cast<int>(words.size()), argv.data());
    }
};

/* A trigger message: 732 blanks with the given fields in place. */
std::string Trigger(const std::string &qname, const std::string &triggerData,
                    const std::string &userData, const std::string &qmgr) {
    std::string tm(TMC2_LENGTH, ' ');
    tm.replace(0, 8, "TMC    2");
    tm.replace(TMC2_QNAME_OFFSET, qname.size(), qname);
    tm.replace(TMC2_TRIGGERDATA_OFFSET, triggerData.size(), triggerData);
    tm.replace(TMC2_USERDATA_OFFSET, userData.size(), userData);
    tm.replace(TMC2_QMGRNAME_OFFSET, qmgr.size(), qmgr);
    return tm;
}

/* The arguments ParseTriggerMessage makes of tm for "torvik tm"; empty
 * when it failed. */
std::vector<std::string> TriggerWords(std::string tm) {
    char prog[] = "torvik";
    char *argvIn[] = {prog, &tm[0], nullptr};
    int argc = 0;
    char **argv = nullptr;
    if (ParseTriggerMessage(tm.c_str(), &argc, argvIn, &argv) != 1)
        return {};
    std::vector<std::string> words(argv, argv + argc);
    EXPECT_EQ(argv[0], prog);
    EXPECT_EQ(argv[argc], nullptr);
    FreeTriggerArgs(argv);
    return words;
}

}  // namespace

/* What the options changed: the names, the configuration file and simple
 * command when given, and the verbosity. */
std::string Changed() {
    std::string s = std::string("m=") + Settings.qmgrName;
    if (strcmp(Settings.inputQName, "CORVEL.TORVIK.COMMAND.QUEUE") != 0)
        s += std::string(" q=") + Settings.inputQName;
    if (FlagIsSet(FLAG_CONFIG_GIVEN))
        s += std::string(" f=") + Settings.configFileName;
    if (FlagIsSet(FLAG_SIMPLE_COMMAND))
        s += std::string(" c=") + Settings.simpleCommand;
    return s + " v=" + std::to_string(Settings.verbosity);
}

/* Values separate, attached, grouped or after '/', cut to their fields. */
TEST_F(Startup, OptionsAndTheirValues) {
    const std::string qm(60, 'M'), cmd(400, 'C'), file(400, 'F');
    const struct {
        std::vector<std::string> words;
        std::string changed;
    } cases[] = {
        {{"-m", "QM1", "-q", "IN.Q", "-v", "Medium"}, "m=QM1 q=IN.Q v=2"},
        {{"-kmQM2", "/q:Q2", "-vh", "-fcfg.txt", "-c", "STOP"}, "m=QM2 q=Q2 f=cfg.txt c=STOP v=3"},
        {{"-m", qm, "-q", qm, "-c", cmd, "-f", file},
         "m=" + qm.substr(0, 48) + " q=" + qm.substr(0, 48) + " f=" + file.substr(0, 300) +
             " c=" + cmd.substr(0, 300) + " v=1"},
        {{"-v", "q"}, "m= v=0"},
        {{"-v", "QUIET"}, "m= v=0"},
        {{"-v", "l"}, "m= v=1"},
        {{"-v", "M"}, "m= v=2"},
        {{"-v", "high"}, "m= v=3"},
        {{}, "m= v=1"},
    };
    for (const auto &c : cases) {
        Fresh();
        EXPECT_EQ(Parse(c.words), OPTIONS_OK) << c.changed;
        EXPECT_EQ(Changed(), c.changed);
        EXPECT_TRUE(FlagIsSet(FLAG_SERVICE));
        EXPECT_EQ(UsageShown.load(), 0);
        EXPECT_EQ(Messages(), "");
    }
}

/* A question mark, and words that are not understood, end the program
 * after the banner and usage text, some named first. */
TEST_F(Startup, QuestionMarksAndWordsThatAreNotUnderstoodShowUsage) {
    const struct {
        std::vector<std::string> words;
        std::string message; /* before the usage; "" for none */
    } cases[] = {
        {{"/?"}, ""},
        {{"-?"}, ""},
        {{"-x"}, ""},
        {{"-m"}, ""},
        {{"-:"}, ""},
        {{"-kz"}, ""},
        {{"--m", "QM"}, ""},
        {{"?"}, ""},
        {{"-"}, "CVLA007E Unrecognised parameter '-'\n"},
        {{"-m", "QM1", "extra"}, "CVLA007E Unrecognised parameter 'extra'\n"},
        {{"-v", "Loud"}, "Sorry, don't understand verbose string 'Loud'\n"},
        {{"-v", ""}, "Sorry, don't understand verbose string ''\n"},
        {{"-v", "Highest"}, "Sorry, don't understand verbose string 'Highest'\n"},
        {{"-v", "mediun"}, "Sorry, don't understand verbose string 'mediun'\n"},
    };
    const std::string banner =
        "CVLA001I Corvel Software TORVIK : Command Server Agent for IBM MQ\n"
        "  Version V9.4.0 Build Date:" +
        std::string(BuildDate()) + "\n";
    for (const auto &c : cases) {
        Fresh();
        SCOPED_TRACE(c.words.back());
        EXPECT_EQ(Parse(c.words), OPTIONS_END);
        std::string m = Messages();
        EXPECT_EQ(UsageShown.load(), 1);
        EXPECT_EQ(CountOf(m, banner), 1) << m;
        EXPECT_EQ(CountOf(m, UsageText), 1) << m;
        EXPECT_EQ(CountOf(m, "CVLA007E") + CountOf(m, "Sorry"), c.message.empty() ? 0 : 1);
        EXPECT_TRUE(c.message.empty() || m.find(c.message) < m.find("CVLA001I")) << m;
        EXPECT_EQ(Settings.verbosity, VERBOSITY_LOW);
    }
}

/* TriggerData and UserData words become arguments, trimmed and split at
 * runs of blanks (a zero byte ends them early); the names come from the
 * message; a short message reads as blanks past its end; full fields fit. */
TEST_F(Startup, TriggerMessageWordsAndNames) {
    std::string user;
    for (int i = 0; i < 64; i++)
        user += "u ";
    std::vector<std::string> full = {"torvik", std::string(64, 'T')};
    full.resize(2 + 64, "u");
    const struct {
        std::string message;
        std::vector<std::string> words;
        std::string qmgr, inputQ;
    } cases[] = {
        {Trigger("APP.TRIGGER.Q", "-v High", "", "QMT"),
         {"torvik", "-v", "High"},
         "QMT",
         "APP.TRIGGER.Q"},
        {Trigger("Q", "-m   X\t\r\n", std::string("-q  Y    -v l") + '\0' + "Z", ""),
         {"torvik", "-m", "X", "-q", "Y", "-v", "l"},
         "",
         "Q"},
        {"TMC    2APP.Q", {"torvik"}, "", "APP.Q"},
        {Trigger(std::string(48, 'N'), std::string(64, 'T'), user, std::string(48, 'Q')), full,
         std::string(48, 'Q'), std::string(48, 'N')},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(TriggerWords(c.message), c.words);
        EXPECT_EQ(Settings.qmgrName, c.qmgr);
        EXPECT_EQ(Settings.inputQName, c.inputQ);
    }
}

TEST_F(Startup, ATriggerBufferThatCannotBeHadIsReported) {
    long before = CSMemBlocksInUse();
    CSSetMemFailAfter(0);
    EXPECT_TRUE(TriggerWords(Trigger("Q", "-v h", "", "QM")).empty());
    CSSetMemFailAfter(-1);
    EXPECT_EQ(
        CountOf(Messages(), "CVLA202E Can not allocate 194 bytes for a 'TRIGPARMS' structure\n"),
        1);
    EXPECT_EQ(CSMemBlocksInUse(), before);
}
