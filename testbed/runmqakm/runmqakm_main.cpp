/* runmqakm_main.cpp -- the stand-in key-repository tool: the commands of
 * IBM's runmqakm that TORVIK and its tests use, over real X.509
 * certificates and RSA keys made with OpenSSL.
 *
 *   -keydb -create -db FILE -pw PW [-stash]
 *   -cert -create  -db FILE (-stashed|-pw PW) -label L -dn DN [-size BITS]
 *                  [-expire DAYS | -notbefore T -notafter T] [-ca true|false]
 *                  [-default_cert yes|no]
 *   -cert -add     -db FILE (-stashed|-pw PW) -label L -file PEM [-trust enable|disable]
 *   -cert -extract -db FILE (-stashed|-pw PW) -label L -target PEM
 *   -cert -delete  -db FILE (-stashed|-pw PW) -label L
 *   -cert -list [all|personal|ca] -db FILE (-stashed|-pw PW) [-locale en]
 *   -cert -details -label L -db FILE (-stashed|-pw PW) [-locale en]
 *
 * Output is English whatever the locale. An error prints one line with its
 * GSKit message number and the tool ends with exit code 1.
 * Owns: nothing global. Threads: the main thread only.
 */
#include <cstdarg>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "keydb.h"
#include "platform/net.h"
#include "platform/platform.h"

constexpr int EXIT_OK = 0;
constexpr int EXIT_ERROR = 1;
constexpr int DEFAULT_KEY_SIZE = 2048;
constexpr long DEFAULT_EXPIRE_DAYS = 365;
constexpr long MAX_EXPIRE_DAYS = 36525 * 2; /* two centuries */

/* The parsed command line: the object and action, the options with a value,
 * and the flags without one. */
struct TOOLARGS {
    std::string object; /* "-keydb" or "-cert" */
    std::string action; /* "-create", "-list", ... */
    std::string listKind = "all";
    std::map<std::string, std::string> opts;
    bool stashed = false;
    bool stash = false;
};

static int Fail(const char *fmt, ...) PL_PRINTF_FORMAT(1, 2);
static int ParseArgs(int argc, char **argv, TOOLARGS *args);
static std::string Opt(const TOOLARGS &args, const char *name);
static int OpenDb(const TOOLARGS &args, bool withKeys, KEYDB *db, std::string *password);
static int SaveDb(const TOOLARGS &args, const KEYDB &db, const std::string &password);
static KEYENTRY *FindEntry(KEYDB *db, const std::string &label);
static int CheckLabel(const std::string &label);
static int BuildName(const std::string &dn, X509_NAME **name);
static std::string NameText(const X509_NAME *name);
static std::string QuotedIfComma(const std::string &text);
static std::string DateText(const ASN1_TIME *t);
static std::string LabelText(const std::string &label);
static std::string SerialText(const X509 *cert);
static int CreateKeyDb(const TOOLARGS &args);
static int CreateCert(const TOOLARGS &args);
static int AddCert(const TOOLARGS &args);
static int ExtractCert(const TOOLARGS &args);
static int DeleteCert(const TOOLARGS &args);
static int ListCerts(const TOOLARGS &args);
static int ShowDetails(const TOOLARGS &args);

static int Fail(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vprintf(fmt, ap);
    va_end(ap);
    printf("\n");
    return EXIT_ERROR;
}

/* Options that take a value; every other option is a flag or an error. */
static const char *const VALUE_OPTIONS[] = {
    "-db",        "-pw",       "-label", "-dn",           "-size", "-expire",
    "-notbefore", "-notafter", "-ca",    "-default_cert", "-file", "-trust",
    "-target",    "-locale",   "-type",  "-format",       nullptr};

static int ParseArgs(int argc, char **argv, TOOLARGS *args) {
    if (argc < 3)
        return Fail("CTGSK3001W The command is not complete: an object and an action are needed.");
    args->object = argv[1];
    args->action = argv[2];
    int i = 3;
    if (args->action == "-list" && i < argc && argv[i][0] != '-')
        args->listKind = argv[i++];
    for (; i < argc; i++) {
        std::string a = argv[i];
        if (a == "-stashed") {
            args->stashed = true;
            continue;
        }
        if (a == "-stash") {
            args->stash = true;
            continue;
        }
        bool known = false;
        for (int k = 0; VALUE_OPTIONS[k] != nullptr; k++)
            known = known || a == VALUE_OPTIONS[k];
        if (!known)
            return Fail("CTGSK3001W The parameter \"%s\" is not valid.", a.c_str());
        if (i + 1 >= argc)
            return Fail("CTGSK3001W The parameter \"%s\" needs a value.", a.c_str());
        args->opts[a] = argv[++i];
    }
    return EXIT_OK;
}

static std::string Opt(const TOOLARGS &args, const char *name) {
    auto it = args.opts.find(name);
    return it == args.opts.end() ? std::string() : it->second;
}

/* Load the repository named by -db with the password of -pw or the stash. */
static int OpenDb(const TOOLARGS &args, bool withKeys, KEYDB *db, std::string *password) {
    std::string file = Opt(args, "-db");
    if (file.empty())
        return Fail("CTGSK3001W The parameter \"-db\" is missing.");
    if (!PLFileExists(file.c_str()))
        return Fail("CTGSK3026W The key file \"%s\" does not exist or cannot be read.",
                    file.c_str());
    if (args.opts.count("-pw") != 0)
        *password = Opt(args, "-pw");
    else if (!args.stashed || ReadStash(file, password) != KEYDB_OK)
        return Fail("CTGSK2016W The database password is invalid.");
    int rc = LoadKeyDb(file, *password, withKeys, db);
    if (rc == KEYDB_BAD_PASSWORD)
        return Fail("CTGSK2016W The database password is invalid.");
    if (rc != KEYDB_OK)
        return Fail("CTGSK3026W The key file \"%s\" does not exist or cannot be read.",
                    file.c_str());
    return EXIT_OK;
}

static int SaveDb(const TOOLARGS &args, const KEYDB &db, const std::string &password) {
    std::string file = Opt(args, "-db");
    if (SaveKeyDb(file, password, &db) != KEYDB_OK)
        return Fail("CTGSK3027W The key file \"%s\" could not be written.", file.c_str());
    return EXIT_OK;
}

static KEYENTRY *FindEntry(KEYDB *db, const std::string &label) {
    for (KEYENTRY &e : db->entries)
        if (e.label == label)
            return &e;
    return nullptr;
}

/* A label is printable text of 1 to 339 characters without double quotes. */
static int CheckLabel(const std::string &label) {
    bool ok = !label.empty() && label.size() <= 339;
    for (unsigned char c : label)
        ok = ok && c >= 0x20 && c != 0x7F && c != '"';
    if (!ok)
        return Fail("CTGSK3001W The label \"%s\" is not valid.", label.c_str());
    return EXIT_OK;
}

/* DN text "CN=QM1,O=ACME,C=GB" (most specific first) as an X509_NAME, whose
 * entries run from the least specific. */
static int BuildName(const std::string &dn, X509_NAME **name) {
    std::vector<std::string> parts;
    std::string cur;
    for (size_t i = 0; i < dn.size(); i++) {
        if (dn[i] == '\\' && i + 1 < dn.size()) {
            cur.push_back(dn[++i]);
        } else if (dn[i] == ',') {
            parts.push_back(cur);
            cur.clear();
        } else {
            cur.push_back(dn[i]);
        }
    }
    parts.push_back(cur);
    X509_NAME *n = X509_NAME_new();
    bool ok = n != nullptr;
    for (size_t i = parts.size(); ok && i-- > 0;) {
        size_t eq = parts[i].find('=');
        ok = eq != std::string::npos && eq > 0 && eq + 1 < parts[i].size();
        if (ok) {
            std::string key = parts[i].substr(0, eq);
            std::string value = parts[i].substr(eq + 1);
            ok = X509_NAME_add_entry_by_txt(n, key.c_str(), MBSTRING_UTF8,
                                            reinterpret_cast<const unsigned char *>(value.c_str()),
                                            -1, -1, 0) == 1;
        }
    }
    if (!ok) {
        X509_NAME_free(n);
        return Fail("CTGSK3009W The distinguished name \"%s\" is not valid.", dn.c_str());
    }
    *name = n;
    return EXIT_OK;
}

/* A name in RFC 2253 order (CN first), comma-separated without blanks. */
static std::string NameText(const X509_NAME *name) {
    BIO *bio = BIO_new(BIO_s_mem());
    if (bio == nullptr)
        return std::string();
    X509_NAME_print_ex(bio, name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char *data = nullptr;
    long len = BIO_get_mem_data(bio, &data);
    std::string text(data, static_cast<size_t>(len > 0 ? len : 0));
    BIO_free(bio);
    return text;
}

static std::string QuotedIfComma(const std::string &text) {
    return text.find(',') == std::string::npos ? text : "\"" + text + "\"";
}

static const char *const MONTHS[] = {"January",   "February", "March",    "April",
                                     "May",       "June",     "July",     "August",
                                     "September", "October",  "November", "December"};

/* "January 1, 2027 11:59:59 PM GMT+00:00" */
static std::string DateText(const ASN1_TIME *t) {
    struct tm tm;
    if (ASN1_TIME_to_tm(t, &tm) != 1 || tm.tm_mon < 0 || tm.tm_mon > 11)
        return std::string("unknown");
    int hour12 = tm.tm_hour % 12 == 0 ? 12 : tm.tm_hour % 12;
    char buf[80];
    snprintf(buf, sizeof buf, "%s %d, %d %d:%02d:%02d %s GMT+00:00", MONTHS[tm.tm_mon], tm.tm_mday,
             tm.tm_year + 1900, hour12, tm.tm_min, tm.tm_sec, tm.tm_hour < 12 ? "AM" : "PM");
    return buf;
}

static std::string LabelText(const std::string &label) {
    return label.find(' ') == std::string::npos ? label : "\"" + label + "\"";
}

/* The serial's content octets in lower-case hex: a leading 00 stays. */
static std::string SerialText(const X509 *cert) {
    const ASN1_INTEGER *serial = X509_get0_serialNumber(cert);
    BIGNUM *bn = ASN1_INTEGER_to_BN(serial, nullptr);
    std::string text;
    if (bn == nullptr)
        return text;
    std::vector<unsigned char> bytes(static_cast<size_t>(BN_num_bytes(bn)));
    BN_bn2bin(bn, bytes.data());
    BN_free(bn);
    if (bytes.empty() || (bytes[0] & 0x80) != 0)
        bytes.insert(bytes.begin(), 0);
    char hex[3];
    for (unsigned char b : bytes) {
        snprintf(hex, sizeof hex, "%02x", b);
        text += hex;
    }
    return text;
}

static int CreateKeyDb(const TOOLARGS &args) {
    std::string file = Opt(args, "-db");
    std::string password = Opt(args, "-pw");
    if (file.empty() || password.empty())
        return Fail("CTGSK3001W The parameters \"-db\" and \"-pw\" are needed.");
    if (PLFileExists(file.c_str()))
        return Fail("CTGSK3040W The key file \"%s\" already exists.", file.c_str());
    KEYDB db;
    if (SaveDb(args, db, password) != EXIT_OK)
        return EXIT_ERROR;
    if (args.stash && WriteStash(file, password) != KEYDB_OK)
        return Fail("CTGSK3027W The stash file \"%s\" could not be written.",
                    StashFileName(file).c_str());
    return EXIT_OK;
}

/* Validity of a new certificate from -expire or -notbefore/-notafter. */
static int SetValidity(const TOOLARGS &args, X509 *x) {
    std::string before = Opt(args, "-notbefore");
    std::string after = Opt(args, "-notafter");
    if (!before.empty() || !after.empty()) {
        if (ASN1_TIME_set_string_X509(X509_getm_notBefore(x), before.c_str()) != 1 ||
            ASN1_TIME_set_string_X509(X509_getm_notAfter(x), after.c_str()) != 1)
            return Fail("CTGSK3001W The validity \"%s\" to \"%s\" is not valid.", before.c_str(),
                        after.c_str());
        return EXIT_OK;
    }
    long days = DEFAULT_EXPIRE_DAYS;
    std::string expire = Opt(args, "-expire");
    if (!expire.empty()) {
        char *end = nullptr;
        days = strtol(expire.c_str(), &end, 10);
        if (*end != '\0' || days < 1 || days > MAX_EXPIRE_DAYS)
            return Fail("CTGSK3001W The value \"%s\" of -expire is not valid.", expire.c_str());
    }
    if (X509_gmtime_adj(X509_getm_notBefore(x), 0) == nullptr ||
        X509_time_adj_ex(X509_getm_notAfter(x), static_cast<int>(days), 0, nullptr) == nullptr)
        return Fail("CTGSK3001W The value \"%s\" of -expire is not valid.", expire.c_str());
    return EXIT_OK;
}

static int AddExtension(X509 *x, int nid, const char *value) {
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, x, x, nullptr, nullptr, 0);
    X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    int ok = ext != nullptr && X509_add_ext(x, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok ? EXIT_OK : EXIT_ERROR;
}

static int CreateCert(const TOOLARGS &args) {
    std::string label = Opt(args, "-label");
    std::string dn = Opt(args, "-dn");
    if (CheckLabel(label) != EXIT_OK)
        return EXIT_ERROR;
    if (dn.empty())
        return Fail("CTGSK3001W The parameter \"-dn\" is missing.");
    int bits = DEFAULT_KEY_SIZE;
    std::string size = Opt(args, "-size");
    if (!size.empty()) {
        char *end = nullptr;
        long v = strtol(size.c_str(), &end, 10);
        if (*end != '\0' || v < 512 || v > 8192)
            return Fail("CTGSK3001W The value \"%s\" of -size is not valid.", size.c_str());
        bits = static_cast<int>(v);
    }
    std::string ca = Opt(args, "-ca");
    std::string def = Opt(args, "-default_cert");
    KEYDB db;
    std::string password;
    if (OpenDb(args, true, &db, &password) != EXIT_OK)
        return EXIT_ERROR;
    if (FindEntry(&db, label) != nullptr) {
        FreeKeyDb(&db);
        return Fail("CTGSK2021W A certificate with the label \"%s\" already exists.",
                    label.c_str());
    }
    X509_NAME *name = nullptr;
    if (BuildName(dn, &name) != EXIT_OK) {
        FreeKeyDb(&db);
        return EXIT_ERROR;
    }
    EVP_PKEY *key = EVP_RSA_gen(static_cast<unsigned int>(bits));
    X509 *x = X509_new();
    unsigned char serial[8];
    BIGNUM *bn = nullptr;
    int rc = key != nullptr && x != nullptr && RAND_bytes(serial, sizeof serial) == 1 &&
                     (bn = BN_bin2bn(serial, sizeof serial, nullptr)) != nullptr &&
                     BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(x)) != nullptr &&
                     X509_set_version(x, 2) == 1 && X509_set_subject_name(x, name) == 1 &&
                     X509_set_issuer_name(x, name) == 1 && X509_set_pubkey(x, key) == 1
                 ? EXIT_OK
                 : Fail("CTGSK3001W The certificate \"%s\" could not be made.", label.c_str());
    BN_free(bn);
    X509_NAME_free(name);
    if (rc == EXIT_OK)
        rc = SetValidity(args, x);
    if (rc == EXIT_OK)
        rc = AddExtension(x, NID_basic_constraints, ca == "true" ? "critical,CA:TRUE" : "CA:FALSE");
    if (rc == EXIT_OK)
        rc = AddExtension(x, NID_subject_key_identifier, "hash");
    if (rc == EXIT_OK && X509_sign(x, key, EVP_sha256()) <= 0)
        rc = Fail("CTGSK3001W The certificate \"%s\" could not be signed.", label.c_str());
    if (rc != EXIT_OK) {
        X509_free(x);
        EVP_PKEY_free(key);
        FreeKeyDb(&db);
        return rc;
    }
    KEYENTRY e;
    e.label = label;
    e.cert = x;
    e.key = key;
    e.hasKey = true;
    e.isDefault = def == "yes";
    if (e.isDefault)
        for (KEYENTRY &other : db.entries)
            other.isDefault = false;
    db.entries.push_back(e);
    rc = SaveDb(args, db, password);
    FreeKeyDb(&db);
    return rc;
}

static int AddCert(const TOOLARGS &args) {
    std::string label = Opt(args, "-label");
    std::string file = Opt(args, "-file");
    std::string trust = Opt(args, "-trust");
    if (CheckLabel(label) != EXIT_OK)
        return EXIT_ERROR;
    FILE *f = PLOpenFile(file.c_str(), "rb", nullptr);
    X509 *x = f != nullptr ? PEM_read_X509(f, nullptr, nullptr, nullptr) : nullptr;
    if (f != nullptr)
        fclose(f);
    if (x == nullptr)
        return Fail("CTGSK3020W The file \"%s\" does not hold a certificate.", file.c_str());
    KEYDB db;
    std::string password;
    if (OpenDb(args, true, &db, &password) != EXIT_OK) {
        X509_free(x);
        return EXIT_ERROR;
    }
    if (FindEntry(&db, label) != nullptr) {
        X509_free(x);
        FreeKeyDb(&db);
        return Fail("CTGSK2021W A certificate with the label \"%s\" already exists.",
                    label.c_str());
    }
    KEYENTRY e;
    e.label = label;
    e.cert = x;
    e.trusted = trust != "disable";
    db.entries.push_back(e);
    int rc = SaveDb(args, db, password);
    FreeKeyDb(&db);
    return rc;
}

static int ExtractCert(const TOOLARGS &args) {
    KEYDB db;
    std::string password;
    if (OpenDb(args, false, &db, &password) != EXIT_OK)
        return EXIT_ERROR;
    std::string label = Opt(args, "-label");
    std::string target = Opt(args, "-target");
    KEYENTRY *e = FindEntry(&db, label);
    int rc = EXIT_OK;
    if (e == nullptr) {
        rc = Fail("CTGSK3029W The database doesn't contain an entry with label \"%s\".",
                  label.c_str());
    } else {
        FILE *f = PLOpenFile(target.c_str(), "wb", nullptr);
        bool ok = f != nullptr && PEM_write_X509(f, e->cert) == 1;
        if (f != nullptr)
            ok = fclose(f) == 0 && ok;
        if (!ok)
            rc = Fail("CTGSK3027W The file \"%s\" could not be written.", target.c_str());
    }
    FreeKeyDb(&db);
    return rc;
}

static int DeleteCert(const TOOLARGS &args) {
    KEYDB db;
    std::string password;
    if (OpenDb(args, true, &db, &password) != EXIT_OK)
        return EXIT_ERROR;
    std::string label = Opt(args, "-label");
    int rc = EXIT_OK;
    KEYENTRY *e = FindEntry(&db, label);
    if (e == nullptr) {
        rc = Fail("CTGSK3029W The database doesn't contain an entry with label \"%s\".",
                  label.c_str());
    } else {
        X509_free(e->cert);
        EVP_PKEY_free(e->key);
        db.entries.erase(db.entries.begin() + (e - db.entries.data()));
        rc = SaveDb(args, db, password);
    }
    FreeKeyDb(&db);
    return rc;
}

static int ListCerts(const TOOLARGS &args) {
    const std::string &kind = args.listKind;
    if (kind != "all" && kind != "personal" && kind != "ca")
        return Fail("CTGSK3001W The value \"%s\" of -list is not valid.", kind.c_str());
    KEYDB db;
    std::string password;
    if (OpenDb(args, false, &db, &password) != EXIT_OK)
        return EXIT_ERROR;
    printf("Certificates found\n");
    printf("* default, - personal, ! trusted, # secret key\n");
    int shown = 0;
    for (const KEYENTRY &e : db.entries) {
        bool personal = e.hasKey;
        if ((kind == "personal" && !personal) || (kind == "ca" && personal))
            continue;
        std::string markers;
        if (e.isDefault)
            markers += '*';
        if (personal)
            markers += '-';
        else if (e.trusted)
            markers += '!';
        printf("%s\t%s\n", markers.c_str(), LabelText(e.label).c_str());
        shown++;
    }
    if (shown == 0)
        printf("No certificates were found.\n");
    FreeKeyDb(&db);
    return EXIT_OK;
}

static void PrintHexLines(const unsigned char *data, size_t len, const char *sep) {
    for (size_t i = 0; i < len; i += 16) {
        printf("   ");
        for (size_t j = i; j < len && j < i + 16; j++)
            printf("%s%02X", j == i ? " " : sep, data[j]);
        printf("\n");
    }
}

static int ShowDetails(const TOOLARGS &args) {
    KEYDB db;
    std::string password;
    if (OpenDb(args, false, &db, &password) != EXIT_OK)
        return EXIT_ERROR;
    std::string label = Opt(args, "-label");
    KEYENTRY *e = FindEntry(&db, label);
    if (e == nullptr) {
        FreeKeyDb(&db);
        return Fail("CTGSK3029W The database doesn't contain an entry with label \"%s\".",
                    label.c_str());
    }
    X509 *x = e->cert;
    EVP_PKEY *pub = X509_get0_pubkey(x);
    printf("Label : %s\n", e->label.c_str());
    printf("Key Size : %d\n", pub != nullptr ? EVP_PKEY_get_bits(pub) : 0);
    printf("Version : X509 V%ld\n", X509_get_version(x) + 1);
    printf("Serial : %s\n", SerialText(x).c_str());
    printf("Issuer : %s\n", QuotedIfComma(NameText(X509_get_issuer_name(x))).c_str());
    printf("Subject : %s\n", QuotedIfComma(NameText(X509_get_subject_name(x))).c_str());
    printf("Not Before : %s\n\n", DateText(X509_get0_notBefore(x)).c_str());
    printf("Not After : %s\n\n", DateText(X509_get0_notAfter(x)).c_str());
    printf("Public Key\n");
    unsigned char *der = nullptr;
    int derLen = pub != nullptr ? i2d_PUBKEY(pub, &der) : 0;
    if (derLen > 0)
        PrintHexLines(der, static_cast<size_t>(derLen), " ");
    OPENSSL_free(der);
    printf("Public Key Type : RSA (1.2.840.113549.1.1.1)\n");
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int mdLen = 0;
    printf("Fingerprint : SHA1 :\n");
    if (X509_digest(x, EVP_sha1(), md, &mdLen) == 1)
        PrintHexLines(md, mdLen, ":");
    printf("Extensions\n");
    int critical = 0;
    BASIC_CONSTRAINTS *bc = static_cast<BASIC_CONSTRAINTS *>(
        X509_get_ext_d2i(x, NID_basic_constraints, &critical, nullptr));
    if (bc != nullptr) {
        printf("    basicConstraints\n");
        printf("        ca = %s\n", bc->ca ? "true" : "false");
        if (bc->pathlen != nullptr)
            printf("        pathLen = %ld\n", ASN1_INTEGER_get(bc->pathlen));
        if (critical)
            printf("        critical\n");
        BASIC_CONSTRAINTS_free(bc);
    }
    printf("Signature Algorithm : SHA256WithRSASignature (1.2.840.113549.1.1.11)\n");
    printf("Trust Status : %s\n", e->hasKey || e->trusted ? "Enabled" : "Disabled");
    FreeKeyDb(&db);
    return EXIT_OK;
}

int main(int argc, char **argv) {
    TOOLARGS args;
    int rc = ParseArgs(argc, argv, &args);
    if (rc == EXIT_OK) {
        const std::string &o = args.object;
        const std::string &a = args.action;
        if (o == "-keydb" && a == "-create")
            rc = CreateKeyDb(args);
        else if (o == "-cert" && a == "-create")
            rc = CreateCert(args);
        else if (o == "-cert" && a == "-add")
            rc = AddCert(args);
        else if (o == "-cert" && a == "-extract")
            rc = ExtractCert(args);
        else if (o == "-cert" && a == "-delete")
            rc = DeleteCert(args);
        else if (o == "-cert" && a == "-list")
            rc = ListCerts(args);
        else if (o == "-cert" && a == "-details")
            rc = ShowDetails(args);
        else
            rc = Fail("CTGSK3001W The command \"%s %s\" is not valid.", o.c_str(), a.c_str());
    }
    fflush(stdout);
    return rc;
}
