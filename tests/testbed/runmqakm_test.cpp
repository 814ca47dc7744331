/* runmqakm_test.cpp -- the stand-in key-repository tool: each command's
 * output format and GSKit message numbers, the stash file, default and
 * trust markers. How TORVIK reads them is tests/cert/keytool_test's.
 */
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/keyrepo.h"

using tvtest::RunKeyTool;
using tvtest::TESTCERT;

namespace {

class Runmqakm : public ::testing::Test {
protected:
    tvtest::TempDir dir;
    std::string db;
    void SetUp() override { db = dir.file("key.kdb"); }
    /* Output of a command on db with the stash; exit code into *rc. */
    std::string Run(std::vector<std::string> args, int *rc = nullptr) {
        args.insert(args.end(), {"-db", db, "-stashed", "-locale", "en"});
        std::string out;
        int code = RunKeyTool(args, &out);
        if (rc != nullptr)
            *rc = code;
        return out;
    }
};

TEST_F(Runmqakm, TheListingMarksDefaultPersonalTrustedAndQuotesBlanksUntilEmpty) {
    std::vector<TESTCERT> certs(5);
    certs[0] = {"Root CA", "CN=Root CA", 0, 0, true, false, true};
    certs[1] = {"old", "CN=old", 0, 0, false, true};
    certs[2] = {"qm1cert", "CN=QM1,O=ACME,C=GB", 0, 0, false, true};
    certs[3] = {"app client", "CN=app"};
    certs[4] = {"distrusted", "CN=distrusted", 0, 0, false, false, true, false};
    ASSERT_EQ(tvtest::MakeKeyRepository(db, certs), "");
    EXPECT_EQ(tvtest::ReadFile(dir.file("key.sth")).size(), 129u);
    const char *head = "Certificates found\n* default, - personal, ! trusted, # secret key\n";
    int rc = -1;
    EXPECT_EQ(Run({"-cert", "-list", "all"}, &rc),
              std::string(head) +
                  "!\t\"Root CA\"\n-\told\n*-\tqm1cert\n-\t\"app client\"\n\tdistrusted\n");
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(Run({"-cert", "-list", "personal"}),
              std::string(head) + "-\told\n*-\tqm1cert\n-\t\"app client\"\n");
    EXPECT_EQ(Run({"-cert", "-list", "ca"}), std::string(head) + "!\t\"Root CA\"\n\tdistrusted\n");

    for (const char *label : {"Root CA", "old", "qm1cert", "app client", "distrusted"}) {
        EXPECT_EQ(Run({"-cert", "-delete", "-label", label}, &rc), "");
        EXPECT_EQ(rc, 0);
    }
    EXPECT_EQ(Run({"-cert", "-list"}), std::string(head) + "No certificates were found.\n");
}

TEST_F(Runmqakm, DetailsShowEveryFieldInItsFormat) {
    ASSERT_EQ(tvtest::MakeKeyRepository(db, {{"ca cert", "CN=Root CA,O=ACME,C=GB",
                                              1798761600 + 1800, 1798761600 + 86399, true}}),
              "");
    std::string out = Run({"-cert", "-details", "-label", "ca cert"});
    const std::regex format(
        "Label : ca cert\n"
        "Key Size : 1024\n"
        "Version : X509 V3\n"
        "Serial : (00)?[0-9a-f]{16}\n"
        "Issuer : \"CN=Root CA,O=ACME,C=GB\"\n"
        "Subject : \"CN=Root CA,O=ACME,C=GB\"\n"
        "Not Before : January 1, 2027 12:30:00 AM GMT\\+00:00\n\n"
        "Not After : January 1, 2027 11:59:59 PM GMT\\+00:00\n\n"
        "Public Key\n(    [0-9A-F]{2}( [0-9A-F]{2})*\n)+"
        "Public Key Type : RSA \\(1.2.840.113549.1.1.1\\)\n"
        "Fingerprint : SHA1 :\n(    [0-9A-F]{2}(:[0-9A-F]{2})*\n)+"
        "Extensions\n    basicConstraints\n        ca = true\n        critical\n"
        "Signature Algorithm : SHA256WithRSASignature \\(1.2.840.113549.1.1.11\\)\n"
        "Trust Status : Enabled\n");
    EXPECT_TRUE(std::regex_match(out, format)) << out;
}

TEST_F(Runmqakm, ErrorsPrintTheirGskitNumberAndFail) {
    ASSERT_EQ(tvtest::MakeKeyRepository(db, {{"one", "CN=one"}}), "");
    std::string missing = dir.file("missing.kdb");
    struct {
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {{"-cert", "-list", "all", "-db", missing, "-stashed"},
         "CTGSK3026W The key file \"" + missing + "\" does not exist or cannot be read.\n"},
        {{"-cert", "-list", "all", "-db", db, "-pw", "wrong"},
         "CTGSK2016W The database password is invalid.\n"},
        {{"-cert", "-list", "all", "-db", db}, "CTGSK2016W The database password is invalid.\n"},
        {{"-cert", "-details", "-label", "two", "-db", db, "-stashed"},
         "CTGSK3029W The database doesn't contain an entry with label \"two\".\n"},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.out);
        std::string out;
        EXPECT_EQ(RunKeyTool(c.args, &out), 1);
        EXPECT_EQ(out, c.out);
    }
}

}  // namespace
