/* keydb.h -- the key repository of the stand-in key tool: a PKCS#12 file
 * (whatever its extension) of labelled certificates with their private keys,
 * and the stash file that holds its password.
 *
 * Owns: nothing global. A KEYDB and its entries belong to the caller, who
 * releases them with FreeKeyDb. Threads: the tool's one thread.
 *
 * Each entry is one certificate bag, with a friendly name (the label) and,
 * for a personal certificate, a shrouded key bag of the same name and local
 * key id. The default and trust markers are attributes of the certificate
 * bag under private object identifiers.
 */
#pragma once

#include <string>
#include <vector>

#include <openssl/evp.h>
#include <openssl/x509.h>

struct KEYENTRY {
    std::string label;
    X509 *cert = nullptr;    /* owned */
    EVP_PKEY *key = nullptr; /* owned; null for a signer, or when keys were not loaded */
    bool hasKey = false;     /* a personal certificate: its key is in the file */
    bool isDefault = false;  /* the default personal certificate */
    bool trusted = true;     /* a signer that is trusted for validation */
};

struct KEYDB {
    std::vector<KEYENTRY> entries; /* in the order of the file */
};

/* Results of the procedures below, each a GSKit condition the tool prints. */
enum {
    KEYDB_OK = 0,
    KEYDB_NOT_FOUND = 1,    /* the file is missing or cannot be read as a repository */
    KEYDB_BAD_PASSWORD = 2, /* the password (or the stash) does not open it */
    KEYDB_WRITE_FAILED = 3, /* the file could not be written */
};

/* Stash file name of a repository: the same name with the extension ".sth"
 * in place of the last component's extension (or appended). */
std::string StashFileName(const std::string &dbFile);

/* Write password into the stash file of dbFile. Returns KEYDB_OK or
 * KEYDB_WRITE_FAILED. */
int WriteStash(const std::string &dbFile, const std::string &password);
/* Read the password from the stash file of dbFile. Returns KEYDB_OK, or
 * KEYDB_BAD_PASSWORD when there is no readable stash. */
int ReadStash(const std::string &dbFile, std::string *password);

/* Load every entry of dbFile into *db (emptied first); the private keys
 * are decrypted only withKeys (a listing needs to know only that they are
 * there, and decrypting each costs a key derivation). Returns KEYDB_OK,
 * KEYDB_NOT_FOUND or KEYDB_BAD_PASSWORD (*db then empty). */
int LoadKeyDb(const std::string &dbFile, const std::string &password, bool withKeys, KEYDB *db);
/* Write *db to dbFile with password (a new file replaces the old one only
 * once complete). Returns KEYDB_OK or KEYDB_WRITE_FAILED. */
int SaveKeyDb(const std::string &dbFile, const std::string &password, const KEYDB *db);
/* Release the certificates and keys of *db and empty it. */
void FreeKeyDb(KEYDB *db);
