/* keydb.cpp -- reading and writing the stand-in key tool's repository
 * (PKCS#12) and its stash file.
 *
 * Owns: nothing global. Threads: the tool's one thread.
 */
#include "keydb.h"

#include <cstring>

#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include "platform/platform.h"

/* Attributes of a certificate bag (a UUID-based arc of our own). */
static const char ATTR_DEFAULT[] = "2.25.160514262391617385405934287604542207357.1";
static const char ATTR_UNTRUSTED[] = "2.25.160514262391617385405934287604542207357.2";

constexpr int PBE_ITERATIONS = 2048;
constexpr size_t STASH_SIZE = 129;         /* the stash is always this long */
constexpr unsigned char STASH_MASK = 0xF5; /* each byte of the password is xor-ed with it */
constexpr int64_t MAX_DB_SIZE = 64 << 20;

static int ReadWholeFile(const std::string &path, std::vector<unsigned char> *data);
static int WriteWholeFile(const std::string &path, const unsigned char *data, size_t len);
static int ReadBags(const STACK_OF(PKCS12_SAFEBAG) * bags, const std::string &password,
                    bool withKeys, KEYDB *db,
                    std::vector<std::pair<std::string, EVP_PKEY *>> *keys);
static bool HasAttribute(const PKCS12_SAFEBAG *bag, const char *oid);

std::string StashFileName(const std::string &dbFile) {
    size_t slash = dbFile.find_last_of("/\\:");
    size_t start = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = dbFile.find_last_of('.');
    if (dot == std::string::npos || dot < start)
        return dbFile + ".sth";
    return dbFile.substr(0, dot) + ".sth";
}

int WriteStash(const std::string &dbFile, const std::string &password) {
    if (password.size() >= STASH_SIZE)
        return KEYDB_WRITE_FAILED;
    unsigned char stash[STASH_SIZE];
    for (size_t i = 0; i < STASH_SIZE; i++) {
        unsigned char c = i < password.size() ? static_cast<unsigned char>(password[i]) : 0;
        stash[i] = c ^ STASH_MASK;
    }
    return WriteWholeFile(StashFileName(dbFile), stash, sizeof stash);
}

int ReadStash(const std::string &dbFile, std::string *password) {
    std::vector<unsigned char> stash;
    if (ReadWholeFile(StashFileName(dbFile), &stash) != 0 || stash.size() != STASH_SIZE)
        return KEYDB_BAD_PASSWORD;
    password->clear();
    for (unsigned char b : stash) {
        unsigned char c = b ^ STASH_MASK;
        if (c == 0)
            return KEYDB_OK;
        password->push_back(static_cast<char>(c));
    }
    return KEYDB_BAD_PASSWORD; /* no terminator: not a stash */
}

static int ReadWholeFile(const std::string &path, std::vector<unsigned char> *data) {
    int err = 0;
    FILE *f = PLOpenFile(path.c_str(), "rb", &err);
    if (f == nullptr)
        return 1;
    int64_t size = 0;
    if (PLStreamSize(f, &size) != 0 || size < 0 || size > MAX_DB_SIZE) {
        fclose(f);
        return 1;
    }
    data->resize(static_cast<size_t>(size));
    size_t got = size > 0 ? fread(data->data(), 1, data->size(), f) : 0;
    fclose(f);
    return got == data->size() ? 0 : 1;
}

/* Write a new file beside path, then put it in path's place. */
static int WriteWholeFile(const std::string &path, const unsigned char *data, size_t len) {
    std::string temp = path + ".new";
    PLDeleteFile(temp.c_str());
    FILE *f = PLOpenFile(temp.c_str(), "wb", nullptr);
    if (f == nullptr)
        return KEYDB_WRITE_FAILED;
    bool ok = fwrite(data, 1, len, f) == len;
    ok = (fclose(f) == 0) && ok;
    if (ok) {
        int err = PLDeleteFile(path.c_str());
        ok = (err == 0 || PLErrorIsNotFound(err)) && PLRenameFile(temp.c_str(), path.c_str()) == 0;
    }
    if (!ok)
        PLDeleteFile(temp.c_str());
    return ok ? KEYDB_OK : KEYDB_WRITE_FAILED;
}

static bool HasAttribute(const PKCS12_SAFEBAG *bag, const char *oid) {
    const STACK_OF(X509_ATTRIBUTE) *attrs = PKCS12_SAFEBAG_get0_attrs(bag);
    if (attrs == nullptr)
        return false;
    ASN1_OBJECT *obj = OBJ_txt2obj(oid, 1);
    if (obj == nullptr)
        return false;
    bool found = X509at_get_attr_by_OBJ(attrs, obj, -1) >= 0;
    ASN1_OBJECT_free(obj);
    return found;
}

static int ReadBags(const STACK_OF(PKCS12_SAFEBAG) * bags, const std::string &password,
                    bool withKeys, KEYDB *db,
                    std::vector<std::pair<std::string, EVP_PKEY *>> *keys) {
    for (int i = 0; i < sk_PKCS12_SAFEBAG_num(bags); i++) {
        PKCS12_SAFEBAG *bag = sk_PKCS12_SAFEBAG_value(bags, i);
        char *name = PKCS12_get_friendlyname(bag);
        std::string label = name != nullptr ? name : "";
        OPENSSL_free(name);
        int nid = PKCS12_SAFEBAG_get_nid(bag);
        if (nid == NID_certBag && PKCS12_SAFEBAG_get_bag_nid(bag) == NID_x509Certificate) {
            X509 *cert = PKCS12_SAFEBAG_get1_cert(bag);
            if (cert == nullptr)
                return KEYDB_NOT_FOUND;
            KEYENTRY e;
            e.label = label;
            e.cert = cert;
            e.isDefault = HasAttribute(bag, ATTR_DEFAULT);
            e.trusted = !HasAttribute(bag, ATTR_UNTRUSTED);
            db->entries.push_back(e);
        } else if ((nid == NID_pkcs8ShroudedKeyBag || nid == NID_keyBag) && !withKeys) {
            keys->emplace_back(label, nullptr);
        } else if (nid == NID_pkcs8ShroudedKeyBag || nid == NID_keyBag) {
            EVP_PKEY *key = nullptr;
            if (nid == NID_keyBag) {
                key = EVP_PKCS82PKEY(PKCS12_SAFEBAG_get0_p8inf(bag));
            } else {
                PKCS8_PRIV_KEY_INFO *p8 =
                    PKCS12_decrypt_skey(bag, password.c_str(), static_cast<int>(password.size()));
                if (p8 == nullptr)
                    return KEYDB_BAD_PASSWORD;
                key = EVP_PKCS82PKEY(p8);
                PKCS8_PRIV_KEY_INFO_free(p8);
            }
            if (key == nullptr)
                return KEYDB_NOT_FOUND;
            keys->emplace_back(label, key);
        }
    }
    return KEYDB_OK;
}

int LoadKeyDb(const std::string &dbFile, const std::string &password, bool withKeys, KEYDB *db) {
    FreeKeyDb(db);
    std::vector<unsigned char> data;
    if (ReadWholeFile(dbFile, &data) != 0 || data.empty())
        return KEYDB_NOT_FOUND;
    const unsigned char *p = data.data();
    PKCS12 *p12 = d2i_PKCS12(nullptr, &p, static_cast<long>(data.size()));
    if (p12 == nullptr)
        return KEYDB_NOT_FOUND;
    if (!PKCS12_verify_mac(p12, password.c_str(), static_cast<int>(password.size()))) {
        PKCS12_free(p12);
        return KEYDB_BAD_PASSWORD;
    }
    STACK_OF(PKCS7) *safes = PKCS12_unpack_authsafes(p12);
    PKCS12_free(p12);
    if (safes == nullptr)
        return KEYDB_NOT_FOUND;
    std::vector<std::pair<std::string, EVP_PKEY *>> keys;
    int rc = KEYDB_OK;
    for (int i = 0; i < sk_PKCS7_num(safes) && rc == KEYDB_OK; i++) {
        PKCS7 *p7 = sk_PKCS7_value(safes, i);
        STACK_OF(PKCS12_SAFEBAG) *bags = nullptr;
        if (PKCS7_type_is_data(p7))
            bags = PKCS12_unpack_p7data(p7);
        else if (PKCS7_type_is_encrypted(p7))
            bags = PKCS12_unpack_p7encdata(p7, password.c_str(), static_cast<int>(password.size()));
        if (bags == nullptr) {
            rc = KEYDB_NOT_FOUND;
            break;
        }
        rc = ReadBags(bags, password, withKeys, db, &keys);
        sk_PKCS12_SAFEBAG_pop_free(bags, PKCS12_SAFEBAG_free);
    }
    sk_PKCS7_pop_free(safes, PKCS7_free);
    for (auto &k : keys) {
        for (auto &e : db->entries) {
            if (!e.hasKey && e.label == k.first) {
                e.hasKey = true;
                e.key = k.second;
                k.second = nullptr;
                break;
            }
        }
        EVP_PKEY_free(k.second);
    }
    if (rc != KEYDB_OK)
        FreeKeyDb(db);
    return rc;
}

int SaveKeyDb(const std::string &dbFile, const std::string &password, const KEYDB *db) {
    STACK_OF(PKCS12_SAFEBAG) *bags = nullptr;
    bool ok = true;
    for (const KEYENTRY &e : db->entries) {
        PKCS12_SAFEBAG *bag = PKCS12_add_cert(&bags, e.cert);
        ok = bag != nullptr && PKCS12_add_friendlyname_utf8(bag, e.label.c_str(), -1);
        const unsigned char yes[] = "yes";
        if (ok && e.isDefault)
            ok = PKCS12_add1_attr_by_txt(bag, ATTR_DEFAULT, V_ASN1_UTF8STRING, yes, 3);
        if (ok && !e.trusted)
            ok = PKCS12_add1_attr_by_txt(bag, ATTR_UNTRUSTED, V_ASN1_UTF8STRING, yes, 3);
        unsigned char keyId[EVP_MAX_MD_SIZE];
        unsigned int keyIdLen = 0;
        if (ok && e.key != nullptr) {
            ok = X509_digest(e.cert, EVP_sha1(), keyId, &keyIdLen) &&
                 PKCS12_add_localkeyid(bag, keyId, static_cast<int>(keyIdLen));
            PKCS12_SAFEBAG *keyBag = ok ? PKCS12_add_key(&bags, e.key, 0, PBE_ITERATIONS,
                                                         NID_aes_256_cbc, password.c_str())
                                        : nullptr;
            ok = keyBag != nullptr && PKCS12_add_friendlyname_utf8(keyBag, e.label.c_str(), -1) &&
                 PKCS12_add_localkeyid(keyBag, keyId, static_cast<int>(keyIdLen));
        }
        if (!ok)
            break;
    }
    STACK_OF(PKCS7) *safes = sk_PKCS7_new_null();
    ok = ok && safes != nullptr;
    if (ok && bags != nullptr)
        ok = PKCS12_add_safe(&safes, bags, -1, PBE_ITERATIONS, password.c_str()) != 0;
    PKCS12 *p12 = ok ? PKCS12_add_safes(safes, 0) : nullptr;
    ok = p12 != nullptr && PKCS12_set_mac(p12, password.c_str(), static_cast<int>(password.size()),
                                          nullptr, 0, PBE_ITERATIONS, EVP_sha256());
    unsigned char *der = nullptr;
    int derLen = ok ? i2d_PKCS12(p12, &der) : -1;
    int rc =
        derLen > 0 ? WriteWholeFile(dbFile, der, static_cast<size_t>(derLen)) : KEYDB_WRITE_FAILED;
    OPENSSL_free(der);
    PKCS12_free(p12);
    sk_PKCS7_pop_free(safes, PKCS7_free);
    sk_PKCS12_SAFEBAG_pop_free(bags, PKCS12_SAFEBAG_free);
    return rc;
}

void FreeKeyDb(KEYDB *db) {
    for (KEYENTRY &e : db->entries) {
        X509_free(e.cert);
        EVP_PKEY_free(e.key);
    }
    db->entries.clear();
}
