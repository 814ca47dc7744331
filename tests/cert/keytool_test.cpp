/* keytool_test.cpp -- the key-repository tool runs: repository names, the
 * cutting of output into lines and its limit, failures of a run, reading a
 * whole repository through the runmqakm stand-in, the GSKit messages, and
 * names that must never reach a shell or pass for an option.
 */
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cert/keytool.h"
#include "config/settings.h"
#include "core/test_support.h"
#include "log/cs.h"
#include "mq/mqi.h"
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
        {"C:\\MQ\\ssl\\key.kdb", "C:\\MQ\\ssl\\key.kdb", 64, 0},
        {"C:\\ssl.d\\key", "C:\\ssl.d\\key.kdb", 64, 0},
        {"/var/mqm/qmgrs/QM1/ssl/key.p12", "/var/mqm/qmgrs/QM1/ssl/key.p12", 64, 0},
        {"C:key", "C:key.kdb", 64, 0},
        {"", "", 64, 0},
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

TEST(KeyRepositoryError, TheGskitNumberChoosesTheMessage) {
    struct {
        const char *id, *message;
    } cases[] = {
        {"CTGSK2016W",
         "CVLA227E An invalid key repository password was encountered for '/r/k.kdb'\n"},
        {"CTGSK2101W", "CVLA226E The key repository '/r/k.kdb' does not exist\n"},
        {"CTGSK3026W", "CVLA226E The key repository '/r/k.kdb' does not exist\n"},
        {"CTGSK3001W",
         "CVLA225E Unable to open '/r/k.kdb'\nrunmqakm error message number CTGSK3001W\n"},
    };
    InitSettings();
    for (auto &c : cases) {
        SCOPED_TRACE(c.id);
        CERTCMDCTX ctx{};
        snprintf(ctx.qmgrKeyRepository, sizeof ctx.qmgrKeyRepository, "/r/k.kdb");
        snprintf(ctx.gskitId, sizeof ctx.gskitId, "%s", c.id);
        CaptureStdout();
        EXPECT_EQ(ReportKeyRepositoryError(&ctx), 1);
        std::string out = GetCapturedStdout();
        EXPECT_NE(out.find(c.message), std::string::npos) << out;
    }
    CERTCMDCTX none{};
    CaptureStdout();
    EXPECT_EQ(ReportKeyRepositoryError(&none), 0);
    EXPECT_EQ(GetCapturedStdout(), "");
}

/* Lines handed to a handler, for the runs of a chatty child. */
void CollectLine(void *ctx, const char *line) {
    static_cast<std::vector<std::string> *>(ctx)->push_back(line);
}

class ToolRun : public ::testing::Test {
protected:
    tvtest::TempDir dir;
    std::vector<std::string> lines;

    /* Run the child that prints exactly text; returns RunTool's result and
     * leaves what it printed on standard output in *printed. */
    int RunPrinting(const std::string &text, std::string *printed) {
        std::string file = dir.file("output.txt");
        tvtest::WriteFile(file, text);
        const char *argv[] = {TOOL_OUTPUT_CHILD, file.c_str(), nullptr};
        CaptureStdout();
        int rc = RunTool(argv, &lines, CollectLine);
        *printed = GetCapturedStdout();
        return rc;
    }
};

TEST_F(ToolRun, LinesArriveInOrderWithCarriageReturnsAndALastLineWithoutLineFeed) {
    std::string printed;
    EXPECT_EQ(RunPrinting("first\r\n\nthird\nlast", &printed), 0);
    EXPECT_EQ(lines, (std::vector<std::string>{"first\r", "", "third", "last"}));
    EXPECT_EQ(printed, "");
}

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
        if (c.rc == 0) {
            EXPECT_EQ(lines.size(), (c.size + 99) / 100);
            EXPECT_EQ(printed, "");
        } else {
            EXPECT_TRUE(lines.empty());
            EXPECT_EQ(printed, "Command result is not success (1)\n");
        }
    }
}

TEST_F(ToolRun, AProgramThatCannotStartIsReported) {
    std::string missing = dir.file("no-such-tool");
    const char *argv[] = {missing.c_str(), nullptr};
    CaptureStdout();
    EXPECT_EQ(RunTool(argv, &lines, CollectLine), TOOL_RUN_WAIT_FAILED);
    std::string printed = GetCapturedStdout();
    EXPECT_EQ(printed.rfind("Error ", 0), 0u) << printed;
    EXPECT_NE(printed.find("\nCommand result is not success (-6)\n"), std::string::npos);
    EXPECT_TRUE(lines.empty());
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
    const CERTREC *Find(const char *label) const {
        for (const CERTREC *r = ctx.certs; r != nullptr; r = r->next)
            if (strcmp(r->label, label) == 0)
                return r;
        return nullptr;
    }
};

TEST_F(KeyRepository, EveryCertificateIsListedWithItsDetails) {
    int64_t now = PLWallClockSeconds();
    std::vector<TESTCERT> certs(6);
    certs[0] = {"qm1cert", "CN=QM1,O=ACME,C=GB", 0, 0, false, true};
    certs[1] = {"soon", "CN=soon", 0, now + 10 * DAY_SECONDS};
    certs[2] = {"expired", "CN=expired", 0, now - 2 * DAY_SECONDS};
    certs[3] = {"century", "CN=century", 0, now + 36525 * DAY_SECONDS};
    certs[4] = {"Root CA", "CN=Root CA,O=ACME", 0, 0, true, false, true};
    certs[5] = {"app client", "CN=app client", 0, 0};
    std::string db = dir.file("key.kdb");
    ASSERT_EQ(tvtest::MakeKeyRepository(db, certs), "");

    /* The queue manager's SSLKEYR is a stem: the runner completes it. */
    std::string stem = dir.file("key");
    UseRepository(stem);
    ASSERT_EQ(CompleteKeyRepository(ctx.qmgrKeyRepository, sizeof ctx.qmgrKeyRepository), 0);
    snprintf(ctx.qmgrCertLabel, sizeof ctx.qmgrCertLabel, "qm1cert");
    ASSERT_EQ(ReadKeyRepository(&ctx), 0);
    int64_t after = PLWallClockSeconds();

    EXPECT_EQ(ctx.gskitId[0], '\0');
    std::vector<std::string> labels;
    for (const CERTREC *r = ctx.certs; r != nullptr; r = r->next)
        labels.push_back(r->label);
    EXPECT_EQ(labels, (std::vector<std::string>{"qm1cert", "soon", "expired", "century", "Root CA",
                                                "app client"}));

    const CERTREC *qm = Find("qm1cert");
    EXPECT_EQ(qm->usage, CERT_USAGE_PERSONAL);
    EXPECT_EQ(qm->isDefault, 1);
    EXPECT_EQ(qm->qmgrCert, 1);
    EXPECT_EQ(qm->keySize, 1024);
    EXPECT_STREQ(qm->subject, "CN=QM1,O=ACME,C=GB");
    EXPECT_STREQ(qm->issuer, "CN=QM1,O=ACME,C=GB");
    EXPECT_EQ(strlen(qm->serial) % 3, 2u) << qm->serial;
    EXPECT_GT(qm->secondsLeft, 364 * DAY_SECONDS);

    /* Seconds left against the end of each details run. */
    const CERTREC *soon = Find("soon");
    EXPECT_EQ(soon->notAfter, now + 10 * DAY_SECONDS);
    EXPECT_LE(soon->secondsLeft, 10 * DAY_SECONDS);
    EXPECT_GE(soon->secondsLeft, 10 * DAY_SECONDS - (after - now) - 1);
    EXPECT_EQ(soon->qmgrCert, 0);
    EXPECT_EQ(soon->isDefault, 0);
    const CERTREC *expired = Find("expired");
    EXPECT_LE(expired->secondsLeft, -2 * DAY_SECONDS);
    EXPECT_GT(expired->secondsLeft, -2 * DAY_SECONDS - (after - now) - 1);
    EXPECT_EQ(expired->notBefore, now - 402 * DAY_SECONDS);
    EXPECT_GT(Find("century")->secondsLeft, 36500 * DAY_SECONDS);

    const CERTREC *ca = Find("Root CA");
    EXPECT_EQ(ca->usage, CERT_USAGE_CA);
    EXPECT_EQ(ca->trusted, 1);
    EXPECT_STREQ(ca->subject, "CN=Root CA,O=ACME");

    /* The label with a blank got its own details. */
    const CERTREC *app = Find("app client");
    EXPECT_STREQ(app->subject, "CN=app client");
    EXPECT_GT(app->secondsLeft, 0);
}

TEST_F(KeyRepository, AMissingRepositoryOrAWrongStashIsAGskitError) {
    std::string db = dir.file("key.kdb");
    ASSERT_EQ(tvtest::MakeKeyRepository(db, {{"one", "CN=one"}}), "");
    std::string other = dir.file("other.kdb");
    ASSERT_EQ(tvtest::MakeKeyRepository(other, {}, "another"), "");
    /* key.kdb with the stash of a different password */
    tvtest::WriteFile(dir.file("key.sth"), tvtest::ReadFile(dir.file("other.sth")));
    struct {
        std::string repos;
        const char *id;
    } cases[] = {{dir.file("missing.kdb"), "CTGSK3026W"}, {db, "CTGSK2016W"}};
    for (auto &c : cases) {
        SCOPED_TRACE(c.repos);
        FreeCertList(&ctx);
        ctx.gskitId[0] = '\0';
        UseRepository(c.repos);
        ASSERT_EQ(ReadKeyRepository(&ctx), 0);
        EXPECT_STREQ(ctx.gskitId, c.id);
        EXPECT_EQ(ctx.certs, nullptr);
    }
}

TEST_F(KeyRepository, NamesNeverReachAShellNorPassForAnOption) {
    std::string pwned = dir.file("pwned");
    UseRepository("x; touch " + pwned + " #");
    ASSERT_EQ(ReadKeyRepository(&ctx), 0);
    EXPECT_STREQ(ctx.gskitId, "CTGSK3026W"); /* the tool looked for that file name */
    EXPECT_FALSE(tvtest::FileExists(pwned));

    ctx.gskitId[0] = '\0';
    UseRepository(" -stashed");
    EXPECT_EQ(ReadKeyRepository(&ctx), MQRCCF_PARM_VALUE_ERROR);
    EXPECT_EQ(ctx.gskitId[0], '\0'); /* nothing ran */
}

TEST_F(KeyRepository, TheRequestsRepositoryComesBeforeTheQueueManagers) {
    std::string db = dir.file("req.kdb");
    ASSERT_EQ(tvtest::MakeKeyRepository(db, {{"mine", "CN=mine"}}), "");
    UseRepository(dir.file("missing.kdb"));
    snprintf(ctx.keyRepository, sizeof ctx.keyRepository, "%s", db.c_str());
    ASSERT_EQ(ReadKeyRepository(&ctx), 0);
    ASSERT_NE(ctx.certs, nullptr);
    EXPECT_STREQ(ctx.certs->label, "mine");
    EXPECT_EQ(ctx.gskitId[0], '\0');
}

}  // namespace
