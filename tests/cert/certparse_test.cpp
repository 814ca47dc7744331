/* certparse_test.cpp -- certificate records from recorded key-tool output:
 * listing lines, details lines, dates, serials, seconds left. */
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "cert/certparse.h"
#include "log/cs.h"
#include "platform/platform.h"

namespace {

constexpr int64_t JAN1_2027 = 1798761600; /* 2027-01-01 00:00:00 UTC */

class CertContext : public ::testing::Test {
protected:
    CERTCMDCTX ctx{};
    void TearDown() override { FreeCertList(&ctx); }
    /* The records of the listing as "label|usage|default|trusted|secret key". */
    std::vector<std::string> Records() const {
        std::vector<std::string> out;
        for (const CERTREC *r = ctx.certs; r != nullptr; r = r->next) {
            EXPECT_EQ(r->notAfter, CERT_TIME_UNKNOWN);
            out.push_back(std::string(r->label) + "|" + std::to_string(r->usage) + "|" +
                          std::to_string(r->isDefault) + "|" + std::to_string(r->trusted) + "|" +
                          std::to_string(r->secretKey));
        }
        return out;
    }
};

/* Headings, notices, blank and label-less lines make no record. */
TEST_F(CertContext, AListingMakesRecordsInOrderForCertificatesAndKeepsTheFirstGskitNumber) {
    for (const char *line :
         {"No certificates were found.", "Certificates found",
          "* default, - personal, ! trusted, # secret key",
          "5724-H72 (C) Copyright IBM Corp. 1994, 2024.", "", "-\t", "-\t \r", "*-\tqm1cert",
          "!\tca root", "CTGSK2101W The key file cannot be opened.", "-\t\"app client\"",
          "-\t\"app client\"\r", "CTGSK3026W The key file \"x\" does not exist", "#\tkey1\r",
          "\tsigner", "-\tab"})
        ParseListLine(&ctx, line);
    EXPECT_EQ(Records(),
              (std::vector<std::string>{"qm1cert|1|1|0|0", "ca|3|0|1|0", "app client|1|0|0|0",
                                        "app client|1|0|0|0", "key1|3|0|0|1", "signer|3|0|0|0",
                                        "ab|1|0|0|0"}));
    EXPECT_STREQ(ctx.lastCert->label, "ab");
    EXPECT_STREQ(ctx.gskitId, "CTGSK2101W");
    CSSetMemFailAfter(0); /* no storage: the certificate is dropped */
    ParseListLine(&ctx, "-\tlost");
    CSSetMemFailAfter(-1);
    ParseListLine(&ctx, "-\tkept");
    EXPECT_EQ(Records().size(), 8u);
    EXPECT_STREQ(ctx.lastCert->label, "kept");
}

/* Details of a CA certificate as the tool prints them. */
const char DETAILS[] =
    "Label : Root CA\n"
    "Key Size : 2048\n"
    "Version : X509 V3\n"
    "Serial : 00c3a1b2d4e5f60718\n"
    "Issuer : \"CN=Root CA,O=ACME,C=GB\"\n"
    "Subject : \"CN=Subject : x,O=Issuer : y\"\n"
    "Not Before : January 1, 2027 12:30:00 AM GMT+00:00\n"
    "\n"
    "Not After : January 1, 2027 11:59:59 PM GMT+01:00\n"
    "\n"
    "Public Key\n"
    "Public Key Type : RSA (1.2.840.113549.1.1.1)\n"
    "Fingerprint : SHA1 :\n"
    "Extensions\n"
    "    basicConstraints\n"
    "        ca = true\n"
    "Signature Algorithm : SHA256WithRSASignature (1.2.840.113549.1.1.11)\n"
    "Trust Status : Enabled\n";

/* Then seconds left, none while the expiry is unknown, and an unclosed
 * quoted value too long for its field. */
TEST(CertDetails, RecordedDetailsFillTheRecordWithAndWithoutCarriageReturns) {
    for (const char *eol : {"\n", "\r\n"}) {
        SCOPED_TRACE(eol[0] == '\r' ? "CRLF" : "LF");
        CERTREC rec{};
        InitCertRecord(&rec);
        rec.usage = CERT_USAGE_PERSONAL;
        SetSecondsLeft(&rec, 0);
        EXPECT_EQ(rec.secondsLeft, 0);
        std::string text = DETAILS;
        size_t start = 0, lf;
        while ((lf = text.find('\n', start)) != std::string::npos) {
            std::string line = text.substr(start, lf - start) + (eol[0] == '\r' ? "\r" : "");
            ParseDetailsLine(&rec, line.c_str());
            start = lf + 1;
        }
        EXPECT_EQ(rec.keySize, 2048);
        EXPECT_STREQ(rec.serial, "00:C3:A1:B2:D4:E5:F6:07:18");
        EXPECT_STREQ(rec.issuer, "CN=Root CA,O=ACME,C=GB");
        EXPECT_STREQ(rec.subject, "CN=Subject : x,O=Issuer : y");
        EXPECT_EQ(rec.notBefore, JAN1_2027 + 30 * 60);
        EXPECT_EQ(rec.notAfter, JAN1_2027 + 22 * 3600 + 59 * 60 + 59);
        EXPECT_EQ(rec.usage, CERT_USAGE_CA);
        SetSecondsLeft(&rec, JAN1_2027 + 86400);
        EXPECT_EQ(rec.secondsLeft, -3601);
        ParseDetailsLine(&rec, ("Subject : \"" + std::string(2000, 's') + eol).c_str());
        EXPECT_EQ(rec.subject, std::string(sizeof rec.subject - 1, 's'));
    }
}

TEST(CertDetails, SerialsGetSeparatorsBetweenPairsOnly) {
    const std::pair<const char *, const char *> cases[] = {
        {"0a1b2c\r", "0A:1B:2C"},
        {"0a1b2c3", "0A:1B:2C:3"},
        {"00ff 12", "00:FF"},
        {"", ""},
        /* 21 octets, a CA's longest serial with its leading 00, just fit */
        {"00112233445566778899aabbccddeeff0011223344",
         "00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF:00:11:22:33:44"},
        /* longer ones lose whole pairs */
        {"00112233445566778899aabbccddeeff001122334455",
         "00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF:00:11:22:33:44"},
    };
    for (const auto &[text, want] : cases) {
        char serial[CERT_SERIAL_SIZE];
        FormatSerial(serial, sizeof serial, text);
        EXPECT_STREQ(serial, want) << text;
    }
}

TEST(CertDates, TwelveHourClockAndGmtOffsets) {
    const std::pair<const char *, int64_t> cases[] = {
        {"January 1, 2027 11:59:59 PM GMT+00:00", JAN1_2027 + 86399},
        {"January 1, 2027 11:59:59 AM GMT+00:00", JAN1_2027 + 43199},
        {"January 1, 2027 12:30:00 PM GMT+00:00", JAN1_2027 + 45000},
        {"January 1, 2027 12:30:00 AM GMT+00:00", JAN1_2027 + 1800},
        {"January 1, 2027 1:00:00 AM GMT", JAN1_2027 + 3600},
        {"January 1, 2027 1:00:00 AM GMT+01:00", JAN1_2027},
        {"January 1, 2027 1:00:00 AM GMT-03:30", JAN1_2027 + 3600 + 12600},
        {"February 29, 2028 6:00:00 PM GMT+00:00", 1835460000},
        {"December 31, 1969 11:59:59 PM GMT+00:00", -1 - 0 /* one second before 1970 */},
        {"January 1, 2127 12:00:00 AM GMT+00:00", 4954435200},
        {"January 1, 2027 1:00:00 AM XYZT", CERT_TIME_UNKNOWN},
        {"January 1, 2027 1:00:00 AM GMT+1x", CERT_TIME_UNKNOWN},
        {"Jan 1, 2027 1:00:00 AM GMT", CERT_TIME_UNKNOWN},
        {"January 1, 2027 13:00:00 PM GMT", CERT_TIME_UNKNOWN},
        {"January 1, 2027 1:00:00 XM GMT", CERT_TIME_UNKNOWN},
        {"January 1, 2027", CERT_TIME_UNKNOWN},
        {"", CERT_TIME_UNKNOWN},
    };
    for (const auto &[text, t] : cases)
        EXPECT_EQ(ParseCertDate(text), t) << text;
}

}  // namespace
