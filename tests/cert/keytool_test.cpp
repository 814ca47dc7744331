/* keytool_test.cpp -- the key-repository tool runs: repository names, output
 * cut into lines within a limit, and names that never reach a shell. A whole
 * repository is read end to end, GSKit errors are in the fault matrix. */
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cert/keytool.h"
#include "config/settings.h"
#include "support/files.h"
#include "log/cs.h"
#include "mqconst/mqi.h"
#include "platform/net.h"
#include "platform/platform.h"
#include "support/keyrepo.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;
using tvtest::DAY_SECONDS;
using tvtest::TESTCERT;

namespace {

TEST(KeyRepositoryName, OnlyALastComponentWithoutADotGetsTheSuffix) {
    struct {
        const char *name, *completed;
        size_t size;
        int rc;
    } cases[] = {
        {"C:\\MQ\\ssl\\key", "C:\\MQ\\ssl\\key.kdb", 64, 0},
        {"/var/mqm/qmgrs/QM1/ssl/key.p12", "/var/mqm/qmgrs/QM1/ssl/key.p12", 64, 0},
        {"C:key", "C:key.kdb", 64, 0},
        {"  -stashed", "  -stashed", 64, MQRCCF_PARM_VALUE_ERROR},
        {"/tmp/key", "/tmp/key", 12, MQRCCF_CFST_STRING_LENGTH_ERR},
        {"/tmp/key", "/tmp/key.kdb", 13, 0},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        char name[64];
        snprintf(name, sizeof name, "%s", c.name);
        EXPECT_EQ(CompleteKeyRepository(name, c.size), c.rc);
        EXPECT_STREQ(name, c.completed);
    }
}

/* Lines handed to a handler. */
void CollectLine(void *ctx, const char *line) {
    static_cast<std::vector<std::string> *>(ctx)->push_back(line);
}

class ToolRun : public ::testing::Test {
protected:
    tvtest::TempDir dir;
    std::vector<std::string> lines;

    /* Run a child that prints exactly text; returns RunTool's result and
     * leaves what it printed on standard output in *printed. */
    int RunPrinting(const std::string &text, std::string *printed) {
        std::string file = dir.file("output.txt");
        tvtest::WriteFile(file, text);
        const char *argv[] = {"/bin/cat", file.c_str(), nullptr};
        CaptureStdout();
        int rc = RunTool(argv, &lines, CollectLine);
        *printed = GetCapturedStdout();
        return rc;
    }
};

TEST_F(ToolRun, OutputThatFillsTheLimitHandsOverNoLine) {
    struct {
        size_t size;
        int rc;
    } cases[] = {{TOOL_OUTPUT_SIZE - 1, 0}, {TOOL_OUTPUT_SIZE, 1}, {TOOL_OUTPUT_SIZE * 20, 1}};
    for (auto &c : cases) {
        SCOPED_TRACE(c.size);
        std::string text;
        while (text.size() < c.size)
            text += std::string(99, 'x') + "\n";
        text.resize(c.size);
        lines.clear();
        std::string printed;
        EXPECT_EQ(RunPrinting(text, &printed), c.rc);
        EXPECT_EQ(lines.size(), c.rc == 0 ? (c.size + 99) / 100 : 0);
        EXPECT_EQ(printed, c.rc == 0 ? "" : "Command result is not success (1)\n");
    }
}

/* Repositories made by the stand-in; the tool is found on PATH. */
class KeyRepository : public ::testing::Test {
protected:
    tvtest::TempDir dir;
    CERTCMDCTX ctx{};
    std::string oldPath;

    void SetUp() override {
        InitSettings();
        const char *path = PLGetEnv("PATH");
        oldPath = path != nullptr ? path : "";
        PLSetEnv("PATH", (std::string(TV_BIN_DIR) + ":" + oldPath).c_str());
    }
    void TearDown() override {
        FreeCertList(&ctx);
        PLSetEnv("PATH", oldPath.c_str());
    }
    void UseRepository(const std::string &name) {
        snprintf(ctx.qmgrKeyRepository, sizeof ctx.qmgrKeyRepository, "%s", name.c_str());
    }
};

/* A missing repository and a wrong stash are in the fault matrix. */
TEST_F(KeyRepository, NoNameReachesAShellOrPassesForAnOption) {
    const std::string pwned = dir.file("pwned");
    UseRepository("x; touch " + pwned + " #");
    ASSERT_EQ(ReadKeyRepository(&ctx), 0);
    EXPECT_STREQ(ctx.gskitId, "CTGSK3026W");
    EXPECT_EQ(ctx.certs, nullptr);
    EXPECT_FALSE(tvtest::FileExists(pwned));
    ctx.gskitId[0] = '\0';
    UseRepository(" -stashed"); /* nothing runs */
    EXPECT_EQ(ReadKeyRepository(&ctx), MQRCCF_PARM_VALUE_ERROR);
    EXPECT_EQ(ctx.gskitId[0], '\0');
}

}  // namespace
