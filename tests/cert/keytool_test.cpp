/* keytool_test.cpp -- the key-repository tool runs: repository names, output
 * cut into lines within a limit, and names that never reach a shell. A whole
 * repository is read end to end, GSKit errors are in the fault matrix. */
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "cert/keytool.h"
#include "config/settings.h"
#include "support/files.h"
#include "mqconst/mqi.h"
#include "platform/net.h"
#include "platform/platform.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

TEST(KeyRepositoryName, OnlyALastComponentWithoutADotGetsTheSuffix) {
    /* the name, as completed, the size of its field, the result */
    const std::tuple<const char *, const char *, size_t, int> cases[] = {
        {"C:\\MQ\\ssl\\key", "C:\\MQ\\ssl\\key.kdb", 64, 0},
        {"/var/mqm/qmgrs/QM1/ssl/key.p12", "/var/mqm/qmgrs/QM1/ssl/key.p12", 64, 0},
        {"C:key", "C:key.kdb", 64, 0},
        {"  -stashed", "  -stashed", 64, MQRCCF_PARM_VALUE_ERROR},
        {"/tmp/key", "/tmp/key", 12, MQRCCF_CFST_STRING_LENGTH_ERR},
        {"/tmp/key", "/tmp/key.kdb", 13, 0},
    };
    for (const auto &[given, completed, size, rc] : cases) {
        char name[64];
        snprintf(name, sizeof name, "%s", given);
        EXPECT_EQ(CompleteKeyRepository(name, size), rc) << given;
        EXPECT_STREQ(name, completed);
    }
}

/* Lines handed to a handler. */
void CollectLine(void *ctx, const char *line) {
    static_cast<std::vector<std::string> *>(ctx)->push_back(line);
}

/* A child that prints exactly the text: up to the limit the lines are handed
 * over (the last one without its line feed), at it none is. */
TEST(ToolRun, OutputThatFillsTheLimitHandsOverNoLine) {
    tvtest::TempDir dir;
    const std::string file = dir.file("output.txt");
    const char *argv[] = {"/bin/cat", file.c_str(), nullptr};
    for (size_t size : {TOOL_OUTPUT_SIZE - 1, TOOL_OUTPUT_SIZE, TOOL_OUTPUT_SIZE * 20}) {
        std::string text;
        while (text.size() < size)
            text += std::string(99, 'x') + "\n";
        text.resize(size);
        tvtest::WriteFile(file, text);
        std::vector<std::string> lines;
        CaptureStdout();
        const int rc = RunTool(argv, &lines, CollectLine);
        const bool fits = size < TOOL_OUTPUT_SIZE;
        EXPECT_EQ(rc, fits ? 0 : 1) << size;
        EXPECT_EQ(lines.size(), fits ? (size + 99) / 100 : 0) << size;
        EXPECT_EQ(GetCapturedStdout(), fits ? "" : "Command result is not success (1)\n");
    }
}

/* The tool is found on PATH. A missing repository and a wrong stash are in
 * the fault matrix. */
TEST(KeyRepository, NoNameReachesAShellOrPassesForAnOption) {
    tvtest::TempDir dir;
    const std::string pwned = dir.file("pwned");
    const char *path = PLGetEnv("PATH");
    const std::string oldPath = path != nullptr ? path : "";
    PLSetEnv("PATH", (std::string(TV_BIN_DIR) + ":" + oldPath).c_str());
    InitSettings();
    CERTCMDCTX ctx{}, option{};
    snprintf(ctx.qmgrKeyRepository, sizeof ctx.qmgrKeyRepository, "x; touch %s #", pwned.c_str());
    EXPECT_EQ(ReadKeyRepository(&ctx), 0);
    EXPECT_STREQ(ctx.gskitId, "CTGSK3026W");
    EXPECT_EQ(ctx.certs, nullptr);
    EXPECT_FALSE(tvtest::FileExists(pwned));
    snprintf(option.qmgrKeyRepository, sizeof option.qmgrKeyRepository, " -stashed");
    EXPECT_EQ(ReadKeyRepository(&option), MQRCCF_PARM_VALUE_ERROR); /* nothing runs */
    EXPECT_EQ(option.gskitId[0], '\0');
    FreeCertList(&ctx);
    PLSetEnv("PATH", oldPath.c_str());
}

}  // namespace
