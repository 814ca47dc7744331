/* mqconst.h -- names, descriptions and MQSC keywords of IBM MQ constants.
 *
 * One catalogue of static tables turns MQ numbers into words for operator
 * messages and MQSC output, and words into numbers for filter expressions.
 * Each row pairs a constant's value with its published name, a short English
 * description and, for PCF parameters, its MQSC keyword. The tables are
 * generated at build time from src/mqconst/data/ (mqconst_tables.cpp).
 * Also TORVIK's own PCF vocabulary: command 9500, parameters 20000-20015,
 * 39999 and 40000, reasons 10000-10004 and 11000.
 *
 * Owns: the tables, read-only; every procedure is safe on any thread.
 */
#ifndef TV_MQCONST_MQCONST_H
#define TV_MQCONST_MQCONST_H

#include <cstdint>

#include "mqconst/mqi.h"

/* ------------------------------------------------------------------------ */
/* TORVIK's own PCF vocabulary                                               */
/* ------------------------------------------------------------------------ */

constexpr MQLONG CVL_CMD_DISPLAY_CERTIFICATE = 9500;

constexpr MQLONG CVL_ATTR_TORVIK_CMDLEVEL = 20000;
constexpr MQLONG CVL_ATTR_TORVIK_FEATURES = 20001;
constexpr MQLONG CVL_ATTR_TORVIK_WHERE = 20002;
constexpr MQLONG CVL_ATTR_TORVIK_CERT_ATTRS = 20003;
constexpr MQLONG CVL_ATTR_TORVIK_KEYRING_USER = 20004;
constexpr MQLONG CVL_ATTR_TORVIK_CERT_USER = 20005;
constexpr MQLONG CVL_ATTR_TORVIK_CERT_ISSUE_TIME = 20006;
constexpr MQLONG CVL_ATTR_TORVIK_CERT_EXPIRY_TIME = 20007;
constexpr MQLONG CVL_ATTR_TORVIK_CERT_LIFESPAN = 20008;
constexpr MQLONG CVL_ATTR_TORVIK_CERT_KEYSIZE = 20009;
constexpr MQLONG CVL_ATTR_TORVIK_CERT_DEFAULT = 20010;
constexpr MQLONG CVL_ATTR_TORVIK_CERT_USAGE = 20011;
constexpr MQLONG CVL_ATTR_TORVIK_CERT_TRUSTED = 20012;
constexpr MQLONG CVL_ATTR_TORVIK_CERT_SERIAL = 20013;
constexpr MQLONG CVL_ATTR_TORVIK_CERT_QMGR = 20014;
constexpr MQLONG CVL_ATTR_TORVIK_LIFESPAN_THRESHOLD = 20015;
constexpr MQLONG CVL_ATTR_ERROR_TEXT = 39999;
constexpr MQLONG CVL_ATTR_RESPONSE_DELIMITER = 40000;

constexpr MQLONG CVLRCCF_COMMAND_OK_WITH_TEXT = 10000;
constexpr MQLONG CVLRCCF_DATA_INCOMPLETE = 10001;
constexpr MQLONG CVLRCCF_MAX_SOURCE_REACHED = 10002;
constexpr MQLONG CVLRCCF_COLLATE_NOT_SUITABLE = 10003;
constexpr MQLONG CVLRCCF_PROGRESS_MESSAGE = 10004;
constexpr MQLONG CVLRC_CERTIFICATE_NEARING_EXPIRY = 11000;

constexpr MQLONG CVL_OT_SUB = 10000;
constexpr MQLONG CVL_OT_TOPICSTR = 10002;
constexpr MQLONG CVL_OT_BUFFER_POOL = 10003;
constexpr MQLONG CVL_OT_PAGE_SET = 10004;

/* ------------------------------------------------------------------------ */
/* Rows and the catalogue                                                    */
/* ------------------------------------------------------------------------ */

/* One constant. A table is an array of rows ended by {0, nullptr, nullptr,
 * nullptr}; rows keep their order and a value may occur twice, the first row
 * winning. In every other row name and desc are non-null (desc is "" in the
 * tables without descriptions); mqsc is null when there is no keyword. */
struct MQCONSTROW {
    int64_t value;    /* the constant's value as published */
    const char *name; /* published name, e.g. "MQRC_Q_FULL" */
    const char *desc; /* short description, e.g. "Queue full"; may be "" */
    const char *mqsc; /* MQSC keyword of a PCF parameter, e.g. "MAXMSGL", or null */
};

/* Slots of the catalogue, with the families (name prefixes) each holds.
 * Slot 0: application, queue and trigger attribute values, the families
 * MQAT_ MQMDS_ MQQA_ MQQDT_ MQQT_ MQTC_ MQTT_ MQUS_. */
constexpr int MQCONST_SLOT_ATTRIBUTE_VALUES = 0;
constexpr int MQCONST_SLOT_PARAMETERS = 1;            /* PCF parameters, with keywords; own rows */
constexpr int MQCONST_SLOT_COMMANDS = 2;              /* MQCMD_; own rows */
constexpr int MQCONST_SLOT_REASONS = 3;               /* MQRC_ MQRCCF_ MQFB_; own rows */
constexpr int MQCONST_SLOT_FEEDBACK = 4;              /* MQFB_, first row 0 with no description */
constexpr int MQCONST_SLOT_APPL_TYPES = 5;            /* MQAT_ */
constexpr int MQCONST_SLOT_OBJECT_TYPES = 6;          /* MQOT_; own rows */
constexpr int MQCONST_SLOT_REASON_QUALIFIERS = 7;     /* MQRQ_ */
constexpr int MQCONST_SLOT_Q_TYPES = 8;               /* MQQT_ */
constexpr int MQCONST_SLOT_ENTITY_TYPES = 9;          /* MQZAET_ */
constexpr int MQCONST_SLOT_AUTHORITIES = 10;          /* MQAUTH_ */
constexpr int MQCONST_SLOT_EVENT_ORIGINS = 11;        /* MQEVO_ */
constexpr int MQCONST_SLOT_EVENT_REPORTING = 12;      /* MQEVR_ */
constexpr int MQCONST_SLOT_MONITORING = 13;           /* MQMON_ */
constexpr int MQCONST_SLOT_RECORDING = 14;            /* MQRECORDING_ */
constexpr int MQCONST_SLOT_ADOPT_CHECK = 15;          /* MQADOPT_CHECK_ */
constexpr int MQCONST_SLOT_ADOPT_TYPE = 16;           /* MQADOPT_TYPE_ */
constexpr int MQCONST_SLOT_TRACE_AUTO_START = 17;     /* MQTRAXSTR_ */
constexpr int MQCONST_SLOT_CLWL_USEQ = 18;            /* MQCLWL_USEQ_ */
constexpr int MQCONST_SLOT_GROUP_UR = 19;             /* MQGUR_ */
constexpr int MQCONST_SLOT_IP_ADDRESS_VERSION = 20;   /* MQIPADDR_ */
constexpr int MQCONST_SLOT_SHARED_Q_Q_MGR = 21;       /* MQSQQM_ */
constexpr int MQCONST_SLOT_RECEIVE_TIMEOUT_TYPE = 22; /* MQRCVTIME_ */
constexpr int MQCONST_SLOT_TCP_KEEP_ALIVE = 23;       /* MQTCPKEEP_ */
constexpr int MQCONST_SLOT_TCP_STACK = 24;            /* MQTCPSTACK_ */
constexpr int MQCONST_SLOT_CERT_VAL_POLICY = 25;      /* MQ_CERT_VAL_POLICY_ */
constexpr int MQCONST_SLOT_CHANNEL_AUTO_DEF = 26;     /* MQCHAD_ */
constexpr int MQCONST_SLOT_CHLAUTH_RECORDS = 27;      /* MQCHLA_ */
constexpr int MQCONST_SLOT_CF_CONLOS = 28;            /* MQCFCONLOS_ */
constexpr int MQCONST_SLOT_SERVICE_CONTROL = 29;      /* MQSVC_CONTROL_ */
constexpr int MQCONST_SLOT_CLUSTER_XMITQ = 30;        /* MQCLXQ_ */
constexpr int MQCONST_SLOT_IGQ_PUT_AUTHORITY = 31;    /* MQIGQPA_ */
constexpr int MQCONST_SLOT_IGQ = 32;                  /* MQIGQ_ */
constexpr int MQCONST_SLOT_PUBSUB_CLUSTER = 33;       /* MQPSCLUS_ */
constexpr int MQCONST_SLOT_PUBSUB_MODE = 34;          /* MQPSM_ */
constexpr int MQCONST_SLOT_SUITE_B = 35;              /* MQ_SUITE_B_ */
constexpr int MQCONST_SLOT_UNDELIVERED = 36;          /* MQUNDELIVERED_ */
constexpr int MQCONST_SLOT_SYNCPOINT = 37;            /* MQSYNCPOINT_ */
constexpr int MQCONST_SLOT_REVERSE_DNS = 38;          /* MQRDNS_ */
constexpr int MQCONST_SLOT_SECURITY_CASE = 39;        /* MQSCYC_ */
constexpr int MQCONST_SLOT_SSL_FIPS = 40;             /* MQSSL_FIPS_ */
constexpr int MQCONST_SLOT_PLATFORMS = 41;            /* MQPL_ */
constexpr int MQCONST_SLOT_CHANNEL_TYPES = 42;        /* MQCHT_ */
constexpr int MQCONST_SLOT_ATTRIBUTE_VALUES_AGAIN = 43; /* the table of slot 0 again */
constexpr int MQCONST_SLOT_COUNT = 44;

/* The catalogue: MQCONST_SLOT_COUNT tables in slot order, then nullptr. */
extern const MQCONSTROW *const MQConstCatalogue[];

/* Every published integer constant (IBM MQ's MQI and PCF headers), in header
 * order, without descriptions: searched by name after the catalogue, so
 * that any published name has a value. */
extern const MQCONSTROW MQConstPublished[];

/* ------------------------------------------------------------------------ */
/* mqconst.cpp -- look-ups (linear scans in table order)                     */
/* ------------------------------------------------------------------------ */

/* The description of a reason: first row with that value in the reasons
 * table, else in the feedback table, else "". Never null. */
const char *ReasonText(MQLONG reason);

/* The description of a PCF command: first row in the commands table, else "".
 * Never null. */
const char *CommandText(MQLONG command);

/* The value of a constant named without regard to case: the first row of
 * that name, slot by slot, row by row, then in MQConstPublished. Returns 0
 * and sets *value when found; returns 1 and leaves *value unchanged when not
 * (or name is null). */
int ConstantValue(const char *name, int64_t *value);

/* The first row of the parameters table with that value, or null. */
const MQCONSTROW *ParameterRow(MQLONG parameter);

/* The name of the first row with that value in a slot's table, or null when
 * no row has it or slot is not 0..MQCONST_SLOT_COUNT-1. */
const char *ConstantName(int slot, int64_t value);

/* The first row whose name matches without regard to case (same search as
 * ConstantValue), or null. */
const MQCONSTROW *FindConstantByName(const char *name);

/* 1 when a z/OS command server's text reply of len bytes starts with the
 * message that ends a command's replies (CSQ9022I, CSQ9023E, CSQ9023I). */
int IsZosCompletionLine(const void *text, size_t len);

#endif /* TV_MQCONST_MQCONST_H */
