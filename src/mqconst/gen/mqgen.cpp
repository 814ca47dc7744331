/* mqgen.cpp -- build-time generator of the MQ constant declarations and tables.
 *
 * Reads the tab-separated data of src/mqconst/data/ (IBM MQ's published
 * constants) and tests/mq/data/ (structure layouts, verb signatures) and
 * writes C++ source from it:
 *
 *   mqgen mqi    CONSTANTS STRINGS OUT
 *       the constexpr constants that src/mqconst/mqi.h includes (mqconstants.inc);
 *   mqgen tables CONSTANTS DESCRIPTIONS KEYWORDS OWN OUT
 *       the constant-name catalogue of src/mqconst (mqconst_tables.cpp);
 *   mqgen checks CONSTANTS STRINGS LAYOUTS VERBS OUT
 *       the lists the unit tests compare with the data at run time.
 *
 * The output depends only on the input bytes, so generating twice gives the
 * same file. OUT is rewritten only when its content changes, so that an
 * unchanged table does not rebuild its users. Exit code 0 on success, 1 with
 * a message on standard error for unreadable or malformed input.
 *
 * Owns: nothing global; single-threaded host tool.
 */
#include <cctype>
#include <cinttypes>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

/* One row of a tab-separated file, with its line number for messages. */
struct TSVROW {
    int line;
    std::vector<std::string> fields;
};

/* One integer constant of constants.tsv. */
struct CONSTROW {
    std::string name;
    int64_t value; /* as published; may exceed the 32-bit range */
};

/* One string or character constant of strings.tsv. */
struct STRROW {
    std::string name;
    std::string bytes; /* the value with its escapes resolved, no NUL added */
    int isChar;        /* 1 for a single-MQCHAR constant ('c') */
};

static int ReadTsv(const char *path, std::vector<TSVROW> *rows);
static int ParseInt64(const std::string &text, int64_t *value);
static int ReadConstants(const char *path, std::vector<CONSTROW> *rows);
static int ParseQuoted(const std::string &text, char quote, std::string *bytes);
static int ReadStrings(const char *path, std::vector<STRROW> *rows);
static int WriteIfChanged(const char *path, const std::string &text);
static std::string CLiteral(const std::string &bytes, char quote);
static int GenerateMqi(int argc, char **argv);
static int GenerateTables(int argc, char **argv);
static int GenerateChecks(int argc, char **argv);

/* ------------------------------------------------------------------------ */
/* Input                                                                     */
/* ------------------------------------------------------------------------ */

/* Read a tab-separated file: one row per non-empty line that does not begin
 * with '#'; a trailing CR is dropped. Returns 0, or 1 after a message when
 * the file cannot be read. */
static int ReadTsv(const char *path, std::vector<TSVROW> *rows) {
    FILE *f = fopen(path, "rb");
    if (f == nullptr) {
        fprintf(stderr, "mqgen: cannot open %s\n", path);
        return 1;
    }
    std::string text;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) {
        text.append(buf, n);
    }
    int failed = ferror(f);
    fclose(f);
    if (failed) {
        fprintf(stderr, "mqgen: cannot read %s\n", path);
        return 1;
    }
    int line = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string l = text.substr(pos, end - pos);
        pos = end + 1;
        line++;
        if (!l.empty() && l.back() == '\r') {
            l.pop_back();
        }
        if (l.empty() || l[0] == '#') {
            continue;
        }
        TSVROW row;
        row.line = line;
        size_t start = 0;
        for (;;) {
            size_t tab = l.find('\t', start);
            if (tab == std::string::npos) {
                row.fields.push_back(l.substr(start));
                break;
            }
            row.fields.push_back(l.substr(start, tab - start));
            start = tab + 1;
        }
        rows->push_back(row);
    }
    return 0;
}

/* Parse an optionally signed decimal number into *value. Returns 0, or 1 when
 * the text is not a number or does not fit 64 bits. */
static int ParseInt64(const std::string &text, int64_t *value) {
    size_t i = 0;
    int negative = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        i++;
    }
    if (i >= text.size()) {
        return 1;
    }
    uint64_t v = 0;
    for (; i < text.size(); i++) {
        if (text[i] < '0' || text[i] > '9') {
            return 1;
        }
        unsigned digit = (unsigned)(text[i] - '0');
        if (v > (UINT64_MAX - digit) / 10) {
            return 1;
        }
        v = v * 10 + digit;
    }
    if (negative) {
        if (v > (uint64_t)INT64_MAX + 1) {
            return 1;
        }
        *value = v == (uint64_t)INT64_MAX + 1 ? INT64_MIN : -(int64_t)v;
    } else {
        if (v > (uint64_t)INT64_MAX) {
            return 1;
        }
        *value = (int64_t)v;
    }
    return 0;
}

/* A constant name: MQ or CVL followed by letters, digits and underscores,
 * at most 64 characters. */
static int ValidName(const std::string &name) {
    if (name.size() < 3 || name.size() > 64) {
        return 0;
    }
    if (!isupper((unsigned char)name[0])) {
        return 0;
    }
    for (char c : name) {
        if (!isalnum((unsigned char)c) && c != '_') {
            return 0;
        }
    }
    return 1;
}

/* Read constants.tsv (name TAB decimal value). Returns 0 or 1 after a
 * message naming the bad line. */
static int ReadConstants(const char *path, std::vector<CONSTROW> *rows) {
    std::vector<TSVROW> tsv;
    if (ReadTsv(path, &tsv) != 0) {
        return 1;
    }
    for (const TSVROW &r : tsv) {
        CONSTROW c;
        if (r.fields.size() != 2 || !ValidName(r.fields[0]) ||
            ParseInt64(r.fields[1], &c.value) != 0) {
            fprintf(stderr, "mqgen: %s:%d: expected NAME<TAB>number\n", path, r.line);
            return 1;
        }
        c.name = r.fields[0];
        rows->push_back(c);
    }
    return 0;
}

/* Resolve the C escapes of a quoted literal ("..." or '.') into bytes.
 * Understands \0 to \377 in octal, \xHH, \n \t \r \\ \" \'. Returns 0, or 1
 * when the text is not one well-formed literal. */
static int ParseQuoted(const std::string &text, char quote, std::string *bytes) {
    if (text.size() < 2 || text.front() != quote || text.back() != quote) {
        return 1;
    }
    bytes->clear();
    size_t i = 1;
    size_t end = text.size() - 1;
    while (i < end) {
        char c = text[i++];
        if (c == quote) {
            return 1;
        }
        if (c != '\\') {
            bytes->push_back(c);
            continue;
        }
        if (i >= end) {
            return 1;
        }
        c = text[i++];
        if (c >= '0' && c <= '7') {
            unsigned v = (unsigned)(c - '0');
            for (int k = 0; k < 2 && i < end && text[i] >= '0' && text[i] <= '7'; k++) {
                v = v * 8 + (unsigned)(text[i++] - '0');
            }
            if (v > 255) {
                return 1;
            }
            bytes->push_back((char)v);
        } else if (c == 'x') {
            unsigned v = 0;
            int digits = 0;
            while (i < end && digits < 2 && isxdigit((unsigned char)text[i])) {
                char h = text[i++];
                v = v * 16 +
                    (unsigned)(isdigit((unsigned char)h) ? h - '0' : (tolower(h) - 'a' + 10));
                digits++;
            }
            if (digits == 0) {
                return 1;
            }
            bytes->push_back((char)v);
        } else if (c == 'n') {
            bytes->push_back('\n');
        } else if (c == 't') {
            bytes->push_back('\t');
        } else if (c == 'r') {
            bytes->push_back('\r');
        } else if (c == '\\' || c == '"' || c == '\'') {
            bytes->push_back(c);
        } else {
            return 1;
        }
    }
    return 0;
}

/* Read strings.tsv (name TAB "string" or name TAB 'c'). Returns 0 or 1. */
static int ReadStrings(const char *path, std::vector<STRROW> *rows) {
    std::vector<TSVROW> tsv;
    if (ReadTsv(path, &tsv) != 0) {
        return 1;
    }
    for (const TSVROW &r : tsv) {
        STRROW s;
        int bad = r.fields.size() != 2 || !ValidName(r.fields[0]) || r.fields[1].empty();
        if (!bad) {
            s.isChar = r.fields[1][0] == '\'';
            bad = ParseQuoted(r.fields[1], s.isChar ? '\'' : '"', &s.bytes) != 0 ||
                  (s.isChar && s.bytes.size() != 1);
        }
        if (bad) {
            fprintf(stderr, "mqgen: %s:%d: expected NAME<TAB>\"string\" or 'c'\n", path, r.line);
            return 1;
        }
        s.name = r.fields[0];
        rows->push_back(s);
    }
    return 0;
}

/* ------------------------------------------------------------------------ */
/* Output                                                                    */
/* ------------------------------------------------------------------------ */

/* Write text to path unless the file already holds exactly that text.
 * Returns 0 or 1 after a message. */
static int WriteIfChanged(const char *path, const std::string &text) {
    FILE *f = fopen(path, "rb");
    if (f != nullptr) {
        std::string old;
        char buf[65536];
        size_t n;
        while ((n = fread(buf, 1, sizeof(buf), f)) > 0) {
            old.append(buf, n);
        }
        fclose(f);
        if (old == text) {
            return 0;
        }
    }
    std::string tmp = std::string(path) + ".tmp";
    f = fopen(tmp.c_str(), "wb");
    if (f == nullptr) {
        fprintf(stderr, "mqgen: cannot create %s\n", tmp.c_str());
        return 1;
    }
    size_t written = fwrite(text.data(), 1, text.size(), f);
    int failed = written != text.size();
    if (fclose(f) != 0) {
        failed = 1;
    }
    if (failed || rename(tmp.c_str(), path) != 0) {
        fprintf(stderr, "mqgen: cannot write %s\n", path);
        remove(tmp.c_str());
        return 1;
    }
    return 0;
}

/* Render bytes as a C literal between the given quotes; every byte outside
 * printable ASCII, and the quote and backslash, is escaped, octal escapes
 * always take three digits so that a following digit cannot join them. */
static std::string CLiteral(const std::string &bytes, char quote) {
    std::string out(1, quote);
    for (char ch : bytes) {
        unsigned char c = (unsigned char)ch;
        if (c == '\\' || c == (unsigned char)quote) {
            out.push_back('\\');
            out.push_back((char)c);
        } else if (c < 0x20 || c > 0x7e) {
            char esc[8];
            snprintf(esc, sizeof(esc), "\\%03o", c);
            out += esc;
        } else {
            out.push_back((char)c);
        }
    }
    out.push_back(quote);
    return out;
}

static std::string Format(const char *fmt, ...);

/* printf into a std::string; every line written here is short. */
static std::string Format(const char *fmt, ...) {
    char buf[1024];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(buf, sizeof(buf), fmt, ap);
    va_end(ap);
    if (n < 0) {
        return std::string();
    }
    if ((size_t)n < sizeof(buf)) {
        return std::string(buf, (size_t)n);
    }
    std::string big((size_t)n + 1, '\0');
    va_start(ap, fmt);
    vsnprintf(&big[0], big.size(), fmt, ap);
    va_end(ap);
    big.resize((size_t)n);
    return big;
}

/* The C++ expression of a published value stored in an MQLONG: values above
 * INT32_MAX are unsigned masks and wrap (value - 2^32), as in a C MQLONG.
 * *wrapped is set when that happened. Returns 1 when the value cannot be
 * represented in 32 bits at all. */
static int MqlongExpression(int64_t value, std::string *expr, int *wrapped) {
    *wrapped = 0;
    if (value > INT32_MAX && value <= (int64_t)UINT32_MAX) {
        value -= (int64_t)UINT32_MAX + 1;
        *wrapped = 1;
    }
    if (value < INT32_MIN || value > INT32_MAX) {
        return 1;
    }
    if (value == INT32_MIN) {
        *expr = "(-2147483647 - 1)";
    } else {
        *expr = Format("%" PRId64, value);
    }
    return 0;
}

/* ------------------------------------------------------------------------ */
/* mqgen mqi                                                                 */
/* ------------------------------------------------------------------------ */

static int GenerateMqi(int argc, char **argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: mqgen mqi CONSTANTS STRINGS OUT\n");
        return 1;
    }
    std::vector<CONSTROW> consts;
    std::vector<STRROW> strs;
    if (ReadConstants(argv[2], &consts) != 0 || ReadStrings(argv[3], &strs) != 0) {
        return 1;
    }
    std::string out;
    out += "/* mqconstants.inc -- IBM MQ's published integer, string and character constants.\n";
    out += " *\n";
    out += " * Generated by mqgen (src/mqconst/gen) from src/mqconst/data/constants.tsv and\n";
    out += " * strings.tsv; do not edit: change the data and rebuild the target\n";
    out += " * mqconst_regenerate. Included by mqconst/mqi.h after its types.\n";
    out += " * Values above INT32_MAX are unsigned masks; in an MQLONG they wrap.\n";
    out += " */\n";
    out += "/* clang-format off */\n\n";
    out += Format("/* %zu integer constants */\n", consts.size());
    for (const CONSTROW &c : consts) {
        std::string expr;
        int wrapped;
        if (MqlongExpression(c.value, &expr, &wrapped) != 0) {
            out += Format("constexpr MQINT64 %s = %" PRId64 ";\n", c.name.c_str(), c.value);
        } else if (wrapped) {
            out += Format("constexpr MQLONG %s = %s; /* %" PRId64 " as unsigned */\n",
                          c.name.c_str(), expr.c_str(), c.value);
        } else {
            out += Format("constexpr MQLONG %s = %s;\n", c.name.c_str(), expr.c_str());
        }
    }
    out += Format("\n/* %zu string and character constants */\n", strs.size());
    for (const STRROW &s : strs) {
        if (s.isChar) {
            out += Format("constexpr MQCHAR %s = %s;\n", s.name.c_str(),
                          CLiteral(s.bytes, '\'').c_str());
        } else if (s.bytes.find_first_not_of('\0') == std::string::npos) {
            out += Format("constexpr char %s[%zu] = {}; /* %zu NUL bytes */\n", s.name.c_str(),
                          s.bytes.size() + 1, s.bytes.size());
        } else {
            out += Format("constexpr char %s[] = %s;\n", s.name.c_str(),
                          CLiteral(s.bytes, '"').c_str());
        }
    }
    out += "\n/* clang-format on */\n";
    return WriteIfChanged(argv[4], out);
}

/* ------------------------------------------------------------------------ */
/* mqgen tables                                                              */
/* ------------------------------------------------------------------------ */

/* One slot of the catalogue: the families (name prefixes) whose constants it
 * holds in this order, each family in the data's order, then TORVIK's own
 * rows of the named kind. */
struct SLOTDEF {
    const char *slotName;     /* MQCONST_SLOT_* constant of mqconst.h */
    const char *table;        /* C++ name of the table */
    const char *families[11]; /* name prefixes, null-terminated */
    int descriptions;         /* 1: every row gets a description */
    int keywords;             /* 1: rows carry MQSC keywords */
    int boundsLast;           /* 1: range bounds (_FIRST, _LAST, _LAST_USED) go last */
    const char *ownKind;      /* kind of own.tsv rows appended, or null */
};

static const SLOTDEF SlotDefs[] = {
    {"MQCONST_SLOT_ATTRIBUTE_VALUES",
     "AttributeValueTable",
     {"MQAT_", "MQMDS_", "MQQA_", "MQQDT_", "MQQT_", "MQTC_", "MQTT_", "MQUS_"},
     0,
     0,
     0,
     nullptr},
    {"MQCONST_SLOT_PARAMETERS",
     "ParameterTable",
     {"MQBACF_", "MQCA_", "MQCACF_", "MQCACH_", "MQCAMO_", "MQIA_", "MQIACF_", "MQIACH_", "MQIAMO_",
      "MQIAMO64_"},
     1,
     1,
     1,
     "parameters"},
    {"MQCONST_SLOT_COMMANDS", "CommandTable", {"MQCMD_"}, 1, 0, 1, "commands"},
    {"MQCONST_SLOT_REASONS", "ReasonTable", {"MQRC_", "MQRCCF_", "MQFB_"}, 1, 0, 1, "reasons"},
    {"MQCONST_SLOT_FEEDBACK", "FeedbackTable", {"MQFB_"}, 1, 0, 1, nullptr},
    {"MQCONST_SLOT_APPL_TYPES", "ApplTypeTable", {"MQAT_"}, 0, 0, 0, nullptr},
    {"MQCONST_SLOT_OBJECT_TYPES", "ObjectTypeTable", {"MQOT_"}, 0, 0, 0, "objecttypes"},
    {"MQCONST_SLOT_REASON_QUALIFIERS", "ReasonQualifierTable", {"MQRQ_"}, 0, 0, 0, nullptr},
    {"MQCONST_SLOT_Q_TYPES", "QTypeTable", {"MQQT_"}, 0, 0, 0, nullptr},
    {"MQCONST_SLOT_ENTITY_TYPES", "EntityTypeTable", {"MQZAET_"}, 0, 0, 0, nullptr},
    {"MQCONST_SLOT_AUTHORITIES", "AuthorityTable", {"MQAUTH_"}, 0, 0, 0, nullptr},
    {"MQCONST_SLOT_EVENT_ORIGINS", "EventOriginTable", {"MQEVO_"}, 0, 0, 0, nullptr},
    {"MQCONST_SLOT_EVENT_REPORTING", "EventReportingTable", {"MQEVR_"}, 0, 0, 0, nullptr},
    {"MQCONST_SLOT_MONITORING", "MonitoringTable", {"MQMON_"}, 0, 0, 0, nullptr},
    {"MQCONST_SLOT_RECORDING", "RecordingTable", {"MQRECORDING_"}, 0, 0, 0, nullptr},
    {"MQCONST_SLOT_ADOPT_CHECK", "AdoptCheckTable", {"MQADOPT_CHECK_"}, 0, 0, 0, nullptr},
    {"MQCONST_SLOT_ADOPT_TYPE", "AdoptTypeTable", {"MQADOPT_TYPE_"}, 0, 0, 0, nullptr},
    {"MQCONST_SLOT_TRACE_AUTO_START", "TraceAutoStartTable", {"MQTRAXSTR_"}, 0, 0, 0, nullptr},
    {"MQCONST_SLOT_CLWL_USEQ", "ClwlUseqTable", {"MQCLWL_USEQ_"}, 0, 0, 0, nullptr},
    {"MQCONST_SLOT_GROUP_UR", "GroupUrTable", {"MQGUR_"}, 0, 0, 0, nullptr},
    {"MQCONST_SLOT_IP_ADDRESS_VERSION", "IpAddressVersionTable", {"MQIPADDR_"}, 0, 0, 0, nullptr},
    {"MQCONST_SLOT_SHARED_Q_Q_MGR", "SharedQQMgrTable", {"MQSQQM_"}, 0, 0, 0, nullptr},
    {"MQCONST_SLOT_RECEIVE_TIMEOUT_TYPE",
     "ReceiveTimeoutTypeTable",
     {"MQRCVTIME_"},
     0,
     0,
     0,
     nullptr},
    {"MQCONST_SLOT_TCP_KEEP_ALIVE", "TcpKeepAliveTable", {"MQTCPKEEP_"}, 0, 0, 0, nullptr},
    {"MQCONST_SLOT_TCP_STACK", "TcpStackTable", {"MQTCPSTACK_"}, 0, 0, 0, nullptr},
    {"MQCONST_SLOT_CERT_VAL_POLICY",
     "CertValPolicyTable",
     {"MQ_CERT_VAL_POLICY_"},
     0,
     0,
     0,
     nullptr},
    {"MQCONST_SLOT_CHANNEL_AUTO_DEF", "ChannelAutoDefTable", {"MQCHAD_"}, 0, 0, 0, nullptr},
    {"MQCONST_SLOT_CHLAUTH_RECORDS", "ChlauthRecordsTable", {"MQCHLA_"}, 0, 0, 0, nullptr},
    {"MQCONST_SLOT_CF_CONLOS", "CfConlosTable", {"MQCFCONLOS_"}, 0, 0, 0, nullptr},
    {"MQCONST_SLOT_SERVICE_CONTROL", "ServiceControlTable", {"MQSVC_CONTROL_"}, 0, 0, 0, nullptr},
    {"MQCONST_SLOT_CLUSTER_XMITQ", "ClusterXmitqTable", {"MQCLXQ_"}, 0, 0, 0, nullptr},
    {"MQCONST_SLOT_IGQ_PUT_AUTHORITY", "IgqPutAuthorityTable", {"MQIGQPA_"}, 0, 0, 0, nullptr},
    {"MQCONST_SLOT_IGQ", "IgqTable", {"MQIGQ_"}, 0, 0, 0, nullptr},
    {"MQCONST_SLOT_PUBSUB_CLUSTER", "PubSubClusterTable", {"MQPSCLUS_"}, 0, 0, 0, nullptr},
    {"MQCONST_SLOT_PUBSUB_MODE", "PubSubModeTable", {"MQPSM_"}, 0, 0, 0, nullptr},
    {"MQCONST_SLOT_SUITE_B", "SuiteBTable", {"MQ_SUITE_B_"}, 0, 0, 0, nullptr},
    {"MQCONST_SLOT_UNDELIVERED", "UndeliveredTable", {"MQUNDELIVERED_"}, 0, 0, 0, nullptr},
    {"MQCONST_SLOT_SYNCPOINT", "SyncpointTable", {"MQSYNCPOINT_"}, 0, 0, 0, nullptr},
    {"MQCONST_SLOT_REVERSE_DNS", "ReverseDnsTable", {"MQRDNS_"}, 0, 0, 0, nullptr},
    {"MQCONST_SLOT_SECURITY_CASE", "SecurityCaseTable", {"MQSCYC_"}, 0, 0, 0, nullptr},
    {"MQCONST_SLOT_SSL_FIPS", "SslFipsTable", {"MQSSL_FIPS_"}, 0, 0, 0, nullptr},
    {"MQCONST_SLOT_PLATFORMS", "PlatformTable", {"MQPL_"}, 0, 0, 0, nullptr},
    {"MQCONST_SLOT_CHANNEL_TYPES", "ChannelTypeTable", {"MQCHT_"}, 0, 0, 0, nullptr},
};
static const int SlotDefCount = (int)(sizeof(SlotDefs) / sizeof(SlotDefs[0]));

/* The last slot refers again to the table of slot 0. */
static const char *const RepeatSlotName = "MQCONST_SLOT_ATTRIBUTE_VALUES_AGAIN";

/* Words kept in capitals when a name becomes a description. */
static const char *const Acronyms[] = {
    "ACL",  "AIR",  "AIX",   "AMQP", "AMS",   "API",  "BNO",  "CBC",    "CBD",   "CCSID",  "CD",
    "CF",   "CFBF", "CFBS",  "CFGR", "CFH",   "CFIF", "CFIL", "CFIL64", "CFIN",  "CFIN64", "CFSF",
    "CFSL", "CFST", "CICS",  "CNO",  "CPU",   "CRL",  "CSP",  "CTLO",   "DB2",   "DLH",    "DLQ",
    "DNS",  "GMO",  "GSKIT", "HTTP", "HTTPS", "ID",   "IGQ",  "IMS",    "IP",    "IPV4",   "IPV6",
    "JMS",  "JSON", "LDAP",  "LU",   "LU62",  "MD",   "MQ",   "MQCD",   "MQCNO", "MQI",    "MQMD",
    "MQOD", "MQSC", "MQTT",  "MVS",  "NT",    "OCSP", "OD",   "OS2",    "OS390", "OS400",  "PCF",
    "PMO",  "QSG",  "RFH",   "RFH2", "SCO",   "SD",   "SMF",  "SNA",    "SPX",   "SRO",    "SSL",
    "STS",  "TCP",  "TLS",   "TMC",  "UDP",   "UNIX", "UOW",  "URL",    "WLM",   "XA",     "XCF",
    "XML",  "XQH",  "ZOS"};

static int IsAcronym(const std::string &word) {
    for (const char *a : Acronyms) {
        if (word == a) {
            return 1;
        }
    }
    return 0;
}

/* The derived description of a constant: its name without the family prefix,
 * words in sentence case, Q_MGR and QMGR as "QMgr", Q as "Q", acronyms kept. */
static std::string DeriveDescription(const std::string &name, size_t prefixLength) {
    std::vector<std::string> words;
    size_t start = prefixLength;
    while (start <= name.size()) {
        size_t end = name.find('_', start);
        if (end == std::string::npos) {
            end = name.size();
        }
        if (end > start) {
            words.push_back(name.substr(start, end - start));
        }
        start = end + 1;
    }
    std::string out;
    int first = 1;
    for (size_t i = 0; i < words.size(); i++) {
        std::string w = words[i];
        if (w == "Q" && i + 1 < words.size() && (words[i + 1] == "MGR" || words[i + 1] == "MGRS")) {
            w = words[i + 1] == "MGR" ? "QMgr" : "QMgrs";
            i++;
        } else if (w == "QMGR") {
            w = "QMgr";
        } else if (w == "QMGRS") {
            w = "QMgrs";
        } else if (w == "Q") {
            w = "Q";
        } else if (!IsAcronym(w)) {
            for (char &c : w) {
                c = (char)tolower((unsigned char)c);
            }
            if (first) {
                w[0] = (char)toupper((unsigned char)w[0]);
            }
        }
        if (!out.empty()) {
            out.push_back(' ');
        }
        out += w;
        first = 0;
    }
    return out;
}

/* A range bound rather than a value: MQIA_FIRST, MQCA_LAST_USED, MQFB_APPL_LAST. */
static int IsRangeBound(const std::string &name) {
    static const char *const suffixes[] = {"_FIRST", "_LAST", "_LAST_USED"};
    for (const char *s : suffixes) {
        size_t n = strlen(s);
        if (name.size() > n && name.compare(name.size() - n, n, s) == 0) {
            return 1;
        }
    }
    return 0;
}

/* One row of a generated table. */
struct OUTROW {
    int64_t value;
    std::string name;
    std::string desc;
    std::string mqsc;
    int hasMqsc;
};

/* Read a name<TAB>text file as pairs. Returns 0 or 1 after a message. */
static int ReadPairs(const char *path, std::vector<std::pair<std::string, std::string>> *pairs) {
    std::vector<TSVROW> tsv;
    if (ReadTsv(path, &tsv) != 0) {
        return 1;
    }
    for (const TSVROW &r : tsv) {
        if (r.fields.size() != 2 || !ValidName(r.fields[0]) || r.fields[1].empty()) {
            fprintf(stderr, "mqgen: %s:%d: expected NAME<TAB>text\n", path, r.line);
            return 1;
        }
        pairs->push_back(std::make_pair(r.fields[0], r.fields[1]));
    }
    return 0;
}

static const std::string *FindPair(const std::vector<std::pair<std::string, std::string>> &pairs,
                                   const std::string &name) {
    for (const auto &p : pairs) {
        if (p.first == name) {
            return &p.second;
        }
    }
    return nullptr;
}

static int HasPrefix(const std::string &name, const char *prefix) {
    return name.compare(0, strlen(prefix), prefix) == 0;
}

/* The family prefix that a name belongs to in a slot; the longest match
 * wins so that MQIAMO64_ is not taken for MQIAMO_. */
static const char *FamilyOf(const SLOTDEF &def, const std::string &name) {
    const char *best = nullptr;
    for (int f = 0; f < 11 && def.families[f] != nullptr; f++) {
        if (HasPrefix(name, def.families[f]) &&
            (best == nullptr || strlen(def.families[f]) > strlen(best))) {
            best = def.families[f];
        }
    }
    return best;
}

static int GenerateTables(int argc, char **argv) {
    if (argc != 7) {
        fprintf(stderr, "usage: mqgen tables CONSTANTS DESCRIPTIONS KEYWORDS OWN OUT\n");
        return 1;
    }
    std::vector<CONSTROW> consts;
    std::vector<std::pair<std::string, std::string>> descs;
    std::vector<std::pair<std::string, std::string>> keywords;
    std::vector<TSVROW> own;
    if (ReadConstants(argv[2], &consts) != 0 || ReadPairs(argv[3], &descs) != 0 ||
        ReadPairs(argv[4], &keywords) != 0 || ReadTsv(argv[5], &own) != 0) {
        return 1;
    }

    /* Every description and keyword must name a constant of the data or an
     * own row, so that a misspelt name cannot silently drop a text. */
    for (const TSVROW &r : own) {
        int64_t v;
        if (r.fields.size() != 5 || !ValidName(r.fields[2]) || ParseInt64(r.fields[1], &v) != 0 ||
            (r.fields[0] != "parameters" && r.fields[0] != "commands" && r.fields[0] != "reasons" &&
             r.fields[0] != "objecttypes")) {
            fprintf(stderr, "mqgen: %s:%d: expected KIND<TAB>value<TAB>NAME<TAB>desc<TAB>keyword\n",
                    argv[5], r.line);
            return 1;
        }
    }
    for (int pass = 0; pass < 2; pass++) {
        const auto &list = pass == 0 ? descs : keywords;
        for (const auto &p : list) {
            int known = 0;
            for (const CONSTROW &c : consts) {
                if (c.name == p.first) {
                    known = 1;
                    break;
                }
            }
            if (!known) {
                fprintf(stderr, "mqgen: %s: %s is not a published constant\n",
                        pass == 0 ? argv[3] : argv[4], p.first.c_str());
                return 1;
            }
        }
    }

    std::string out;
    out += "/* mqconst_tables.cpp -- the catalogue of IBM MQ constant names and TORVIK's own.\n";
    out += " *\n";
    out += " * Generated by mqgen (src/mqconst/gen) from src/mqconst/data/constants.tsv,\n";
    out += " * descriptions.tsv, mqsc.tsv and own.tsv; do not edit.\n";
    out += " * Each table holds the families of its slot in order, each family in the\n";
    out += " * data's order, then TORVIK's own rows; in the parameter, command, reason and\n";
    out += " * feedback tables the range bounds (_FIRST, _LAST, _LAST_USED) come last, so\n";
    out += " * that the first row of a value is the constant itself.\n";
    out += " * MQConstPublished holds every published constant for look-ups by name.\n";
    out += " * Owns: the tables (read-only); any thread.\n";
    out += " */\n";
    out += "#include \"mqconst/mqconst.h\"\n\n";
    out += "/* clang-format off */\n";

    size_t total = 0;
    for (int s = 0; s < SlotDefCount; s++) {
        const SLOTDEF &def = SlotDefs[s];
        std::vector<OUTROW> rows;
        std::vector<OUTROW> bounds;
        for (int f = 0; f < 11 && def.families[f] != nullptr; f++) {
            for (const CONSTROW &c : consts) {
                if (FamilyOf(def, c.name) != def.families[f]) {
                    continue;
                }
                OUTROW row;
                row.value = c.value;
                row.name = c.name;
                row.hasMqsc = 0;
                if (def.descriptions) {
                    const std::string *d = FindPair(descs, c.name);
                    if (d != nullptr) {
                        row.desc = *d;
                    } else if (c.value == 0 && c.name.size() > 5 &&
                               c.name.compare(c.name.size() - 5, 5, "_NONE") == 0) {
                        row.desc = ""; /* "no reason", "no command": nothing to say */
                    } else {
                        row.desc = DeriveDescription(c.name, strlen(def.families[f]));
                    }
                }
                if (def.keywords) {
                    const std::string *k = FindPair(keywords, c.name);
                    if (k != nullptr) {
                        row.mqsc = *k;
                        row.hasMqsc = 1;
                    }
                }
                if (def.boundsLast && IsRangeBound(c.name)) {
                    bounds.push_back(row);
                } else {
                    rows.push_back(row);
                }
            }
        }
        if (def.ownKind != nullptr) {
            for (const TSVROW &r : own) {
                if (r.fields[0] != def.ownKind) {
                    continue;
                }
                OUTROW row;
                ParseInt64(r.fields[1], &row.value);
                row.name = r.fields[2];
                row.desc = def.descriptions ? r.fields[3] : "";
                row.mqsc = r.fields[4];
                row.hasMqsc = def.keywords && !r.fields[4].empty();
                rows.push_back(row);
            }
        }
        rows.insert(rows.end(), bounds.begin(), bounds.end());
        total += rows.size();

        out += Format("\n/* slot %d: %zu rows */\n", s, rows.size());
        out += Format("static const MQCONSTROW %s[] = {\n", def.table);
        for (const OUTROW &r : rows) {
            out += Format("    {%" PRId64 ", \"%s\", %s, %s},\n", r.value, r.name.c_str(),
                          CLiteral(r.desc, '"').c_str(),
                          r.hasMqsc ? CLiteral(r.mqsc, '"').c_str() : "nullptr");
        }
        out += "    {0, nullptr, nullptr, nullptr}};\n";
    }

    out += Format("\n/* every published integer constant, in the data's order: %zu rows */\n",
                  consts.size());
    out += "const MQCONSTROW MQConstPublished[] = {\n";
    for (const CONSTROW &c : consts) {
        out += Format("    {%" PRId64 ", \"%s\", \"\", nullptr},\n", c.value, c.name.c_str());
    }
    out += "    {0, nullptr, nullptr, nullptr}};\n";

    out +=
        Format("\n/* %d slots and the repeat of slot 0; %zu rows in all */\n", SlotDefCount, total);
    out += "const MQCONSTROW *const MQConstCatalogue[MQCONST_SLOT_COUNT + 1] = {\n";
    for (int s = 0; s < SlotDefCount; s++) {
        out += Format("    %s,\n", SlotDefs[s].table);
    }
    out += Format("    %s,\n", SlotDefs[0].table);
    out += "    nullptr};\n\n";
    for (int s = 0; s < SlotDefCount; s++) {
        out +=
            Format("static_assert(%s == %d, \"catalogue slot order\");\n", SlotDefs[s].slotName, s);
    }
    out += Format("static_assert(%s == %d, \"catalogue slot order\");\n", RepeatSlotName,
                  SlotDefCount);
    out +=
        Format("static_assert(MQCONST_SLOT_COUNT == %d, \"catalogue size\");\n", SlotDefCount + 1);
    out += "\n/* clang-format on */\n";
    return WriteIfChanged(argv[6], out);
}

/* ------------------------------------------------------------------------ */
/* mqgen checks                                                              */
/* ------------------------------------------------------------------------ */

/* The pointer type that the MQI uses for a structure parameter that the
 * published header types as PMQVOID, by parameter name. */
static const char *StructPointerFor(const std::string &param) {
    static const char *const map[][2] = {{"pObjDesc", "PMQOD"},       {"pMsgDesc", "PMQMD"},
                                         {"pPutMsgOpts", "PMQPMO"},   {"pGetMsgOpts", "PMQGMO"},
                                         {"pCallbackDesc", "PMQCBD"}, {"pControlOpts", "PMQCTLO"},
                                         {"pSubDesc", "PMQSD"},       {"pStatus", "PMQSTS"}};
    for (const auto &m : map) {
        if (param == m[0]) {
            return m[1];
        }
    }
    return nullptr;
}

static int GenerateChecks(int argc, char **argv) {
    if (argc != 7) {
        fprintf(stderr, "usage: mqgen checks CONSTANTS STRINGS LAYOUTS VERBS OUT\n");
        return 1;
    }
    std::vector<CONSTROW> consts;
    std::vector<STRROW> strs;
    std::vector<TSVROW> layouts;
    std::vector<TSVROW> verbs;
    if (ReadConstants(argv[2], &consts) != 0 || ReadStrings(argv[3], &strs) != 0 ||
        ReadTsv(argv[4], &layouts) != 0 || ReadTsv(argv[5], &verbs) != 0) {
        return 1;
    }
    std::string out;
    out += "/* mqchecks.inc -- what the MQ declaration tests compare with the data.\n";
    out += " *\n";
    out += " * Generated by mqgen (src/mqconst/gen) from constants.tsv, strings.tsv,\n";
    out += " * layouts.tsv and verbs.tsv; do not edit. The names come from the data,\n";
    out += " * the values, offsets and sizes from the declarations of mqconst/mqi.h and\n";
    out += " * mqconst/mqpcf.h as the compiler sees them; the tests read the data again at\n";
    out += " * run time and compare.\n";
    out += " */\n";
    out += "/* clang-format off */\n\n";

    out += "static const CONSTCHECK ConstChecks[] = {\n";
    for (const CONSTROW &c : consts) {
        out += Format("    {\"%s\", (int64_t)%s, sizeof(%s)},\n", c.name.c_str(), c.name.c_str(),
                      c.name.c_str());
    }
    out += "};\n\n";

    out += "static const STRCHECK StrChecks[] = {\n";
    for (const STRROW &s : strs) {
        if (s.isChar) {
            out += Format("    {\"%s\", &%s, 1, 1},\n", s.name.c_str(), s.name.c_str());
        } else {
            out += Format("    {\"%s\", %s, sizeof(%s) - 1, 0},\n", s.name.c_str(), s.name.c_str(),
                          s.name.c_str());
        }
    }
    out += "};\n\n";

    out += "static const FIELDCHECK FieldChecks[] = {\n";
    for (const TSVROW &r : layouts) {
        if (r.fields.size() < 2 || !ValidName(r.fields[0])) {
            fprintf(stderr, "mqgen: %s:%d: expected STRUCT<TAB>field...\n", argv[4], r.line);
            return 1;
        }
        const std::string &st = r.fields[0];
        const std::string &field = r.fields[1];
        if (field == "#SIZEOF") {
            out += Format("    {\"%s\", \"%s\", sizeof(%s), 0},\n", st.c_str(), field.c_str(),
                          st.c_str());
            continue;
        }
        if (field[0] == '#') {
            continue; /* lengths: checked as constants */
        }
        for (char c : field) {
            if (!isalnum((unsigned char)c)) {
                fprintf(stderr, "mqgen: %s:%d: bad field name\n", argv[4], r.line);
                return 1;
            }
        }
        out += Format("    {\"%s\", \"%s\", offsetof(%s, %s), sizeof(%s::%s)},\n", st.c_str(),
                      field.c_str(), st.c_str(), field.c_str(), st.c_str(), field.c_str());
    }
    out += "};\n\n";

    out += "static const char *const VerbChecks[] = {\n";
    std::string asserts;
    for (const TSVROW &r : verbs) {
        if (r.fields.size() != 2 || !ValidName(r.fields[0])) {
            fprintf(stderr, "mqgen: %s:%d: expected VERB<TAB>params\n", argv[5], r.line);
            return 1;
        }
        std::string types;
        size_t start = 0;
        const std::string &params = r.fields[1];
        while (start < params.size()) {
            size_t end = params.find(',', start);
            if (end == std::string::npos) {
                end = params.size();
            }
            std::string p = params.substr(start, end - start);
            start = end + 1;
            size_t a = p.find_first_not_of(' ');
            size_t sp = p.find(' ', a);
            if (a == std::string::npos || sp == std::string::npos) {
                fprintf(stderr, "mqgen: %s:%d: expected TYPE NAME\n", argv[5], r.line);
                return 1;
            }
            std::string type = p.substr(a, sp - a);
            std::string pname = p.substr(sp + 1);
            const char *mapped = StructPointerFor(pname);
            if (type == "PMQVOID" && mapped != nullptr) {
                type = mapped;
            }
            if (!types.empty()) {
                types += ", ";
            }
            types += type;
        }
        const std::string &verb = r.fields[0];
        out += Format("    \"%s\",\n", verb.c_str());
        if (verb == "MQCB_FUNCTION") {
            asserts += Format(
                "static_assert(std::is_same<MQCB_FUNCTION, void(%s)>::value, "
                "\"MQCB_FUNCTION signature\");\n",
                types.c_str());
        } else {
            asserts += Format(
                "static_assert(std::is_same<decltype(&%s), void (*)(%s)>::value, "
                "\"%s signature\");\n",
                verb.c_str(), types.c_str(), verb.c_str());
            asserts += Format(
                "static_assert(std::is_same<%s_FN, void (*)(%s)>::value, "
                "\"%s_FN type\");\n",
                verb.c_str(), types.c_str(), verb.c_str());
        }
    }
    out += "};\n\n";
    out += asserts;
    out += "\n/* clang-format on */\n";
    return WriteIfChanged(argv[6], out);
}

/* ------------------------------------------------------------------------ */
/* main                                                                      */
/* ------------------------------------------------------------------------ */

int main(int argc, char **argv) {
    if (argc >= 2 && strcmp(argv[1], "mqi") == 0) {
        return GenerateMqi(argc, argv);
    }
    if (argc >= 2 && strcmp(argv[1], "tables") == 0) {
        return GenerateTables(argc, argv);
    }
    if (argc >= 2 && strcmp(argv[1], "checks") == 0) {
        return GenerateChecks(argc, argv);
    }
    fprintf(stderr, "usage: mqgen mqi|tables|checks ...\n");
    return 1;
}
