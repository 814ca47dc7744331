/* mqi.h -- TORVIK's declarations of the IBM MQ interface (MQI).
 *
 * The elementary MQI types, every published integer, string and character
 * constant (mqconstants.inc, generated from src/mqconst/data/), the MQI
 * structures with IBM's field names and Linux x86-64 / Windows x64 layout
 * (natural alignment), their default initial values (MQMD md = MQMD_DEFAULT;),
 * the verb prototypes with IBM's C signatures, and a function-pointer type
 * per verb for callers that load the MQ library at run time.
 *
 * Self-contained: includes only <cstdint> and <cstddef>, so that the agent,
 * the stand-in MQI library (a plain C ABI) and the requester share it.
 * Owns: no data, only declarations and constants; any thread.
 */
#ifndef TV_MQ_MQI_H
#define TV_MQ_MQI_H

#include <cstddef>
#include <cstdint>

/* Calling convention of the MQI entry points: the platform default on Linux
 * x86-64 and Windows x64, so empty. */
#define MQENTRY

/* ------------------------------------------------------------------------ */
/* Elementary types                                                          */
/* ------------------------------------------------------------------------ */

typedef int32_t MQLONG;
typedef uint32_t MQULONG;
typedef int64_t MQINT64;
typedef uint64_t MQUINT64;
typedef int32_t MQINT32;
typedef uint32_t MQUINT32;
typedef int16_t MQINT16;
typedef uint16_t MQUINT16;
typedef int8_t MQINT8;
typedef uint8_t MQUINT8;
typedef float MQFLOAT32;
typedef double MQFLOAT64;
typedef char MQCHAR;
typedef unsigned char MQBYTE;
typedef MQLONG MQBOOL;
typedef MQLONG MQHCONN;
typedef MQLONG MQHOBJ;
typedef MQINT64 MQHMSG;
typedef void *MQPTR;

typedef MQCHAR MQCHAR4[4];
typedef MQCHAR MQCHAR8[8];
typedef MQCHAR MQCHAR12[12];
typedef MQCHAR MQCHAR20[20];
typedef MQCHAR MQCHAR28[28];
typedef MQCHAR MQCHAR32[32];
typedef MQCHAR MQCHAR48[48];
typedef MQCHAR MQCHAR64[64];
typedef MQCHAR MQCHAR128[128];
typedef MQCHAR MQCHAR256[256];
typedef MQCHAR MQCHAR264[264];

typedef MQBYTE MQBYTE4[4];
typedef MQBYTE MQBYTE8[8];
typedef MQBYTE MQBYTE16[16];
typedef MQBYTE MQBYTE24[24];
typedef MQBYTE MQBYTE32[32];
typedef MQBYTE MQBYTE40[40];
typedef MQBYTE MQBYTE128[128];

typedef void *PMQVOID;
typedef MQPTR *PMQPTR;
typedef MQLONG *PMQLONG;
typedef MQULONG *PMQULONG;
typedef MQINT64 *PMQINT64;
typedef MQUINT64 *PMQUINT64;
typedef MQINT32 *PMQINT32;
typedef MQINT16 *PMQINT16;
typedef MQINT8 *PMQINT8;
typedef MQCHAR *PMQCHAR;
typedef MQBYTE *PMQBYTE;
typedef MQBOOL *PMQBOOL;
typedef MQHCONN *PMQHCONN;
typedef MQHOBJ *PMQHOBJ;
typedef MQHMSG *PMQHMSG;

/* ------------------------------------------------------------------------ */
/* Constants (generated)                                                     */
/* ------------------------------------------------------------------------ */

#include "mqconst/mqconstants.inc"

/* ------------------------------------------------------------------------ */
/* Structures                                                                */
/* ------------------------------------------------------------------------ */

/* Structures known here only by address. */
struct MQAIR; /* authentication information record (MQSCO.AuthInfoRecPtr) */
struct MQSD;  /* subscription descriptor (MQSUB) */
typedef MQAIR *PMQAIR;
typedef MQSD *PMQSD;

/* MQCHARV: a variable-length string kept outside the structure. */
struct MQCHARV {
    MQPTR VSPtr;      /* address of the string, or null */
    MQLONG VSOffset;  /* offset from the start of the structure, if no address */
    MQLONG VSBufSize; /* size of the buffer for output */
    MQLONG VSLength;  /* length of the string in bytes */
    MQLONG VSCCSID;   /* its coded character set */
};
typedef MQCHARV *PMQCHARV;

/* MQMD: message descriptor, version 2 layout (364 bytes). */
struct MQMD {
    MQCHAR4 StrucId;           /* "MD  " */
    MQLONG Version;            /* MQMD_VERSION_1 or _2 */
    MQLONG Report;             /* MQRO_* options */
    MQLONG MsgType;            /* MQMT_* */
    MQLONG Expiry;             /* tenths of a second, or MQEI_UNLIMITED */
    MQLONG Feedback;           /* MQFB_* or MQRC_* */
    MQLONG Encoding;           /* numeric encoding of the message data */
    MQLONG CodedCharSetId;     /* character set of the message data */
    MQCHAR8 Format;            /* MQFMT_*, blank-padded */
    MQLONG Priority;           /* 0-9 or MQPRI_PRIORITY_AS_Q_DEF */
    MQLONG Persistence;        /* MQPER_* */
    MQBYTE24 MsgId;            /* message identifier */
    MQBYTE24 CorrelId;         /* correlation identifier */
    MQLONG BackoutCount;       /* times the message was backed out */
    MQCHAR48 ReplyToQ;         /* reply queue, blank or NUL padded */
    MQCHAR48 ReplyToQMgr;      /* its queue manager */
    MQCHAR12 UserIdentifier;   /* identity context */
    MQBYTE32 AccountingToken;  /* identity context */
    MQCHAR32 ApplIdentityData; /* identity context */
    MQLONG PutApplType;        /* origin context: MQAT_* */
    MQCHAR28 PutApplName;      /* origin context */
    MQCHAR8 PutDate;           /* origin context: YYYYMMDD */
    MQCHAR8 PutTime;           /* origin context: HHMMSSTH */
    MQCHAR4 ApplOriginData;    /* origin context */
    MQBYTE24 GroupId;          /* version 2: group identifier */
    MQLONG MsgSeqNumber;       /* version 2: sequence within the group */
    MQLONG Offset;             /* version 2: offset of a segment */
    MQLONG MsgFlags;           /* version 2: MQMF_* */
    MQLONG OriginalLength;     /* version 2: length of the original message */
};
typedef MQMD *PMQMD;

/* MQOD: object descriptor (424 bytes). */
struct MQOD {
    MQCHAR4 StrucId;              /* "OD  " */
    MQLONG Version;               /* MQOD_VERSION_1 to _4 */
    MQLONG ObjectType;            /* MQOT_* */
    MQCHAR48 ObjectName;          /* name of the object */
    MQCHAR48 ObjectQMgrName;      /* its queue manager */
    MQCHAR48 DynamicQName;        /* name pattern of a dynamic queue */
    MQCHAR12 AlternateUserId;     /* with MQOO_ALTERNATE_USER_AUTHORITY */
    MQLONG RecsPresent;           /* version 2: object records present */
    MQLONG KnownDestCount;        /* version 2: local destinations */
    MQLONG UnknownDestCount;      /* version 2: remote destinations */
    MQLONG InvalidDestCount;      /* version 2: failed destinations */
    MQLONG ObjectRecOffset;       /* version 2 */
    MQLONG ResponseRecOffset;     /* version 2 */
    MQPTR ObjectRecPtr;           /* version 2 */
    MQPTR ResponseRecPtr;         /* version 2 */
    MQBYTE40 AlternateSecurityId; /* version 3 */
    MQCHAR48 ResolvedQName;       /* version 3: output of MQOPEN */
    MQCHAR48 ResolvedQMgrName;    /* version 3: output of MQOPEN */
    MQCHARV ObjectString;         /* version 4 */
    MQCHARV SelectionString;      /* version 4 */
    MQCHARV ResObjectString;      /* version 4 */
    MQLONG ResolvedType;          /* version 4 */
};
typedef MQOD *PMQOD;

/* MQPMO: put-message options (184 bytes). */
struct MQPMO {
    MQCHAR4 StrucId;           /* "PMO " */
    MQLONG Version;            /* MQPMO_VERSION_1 to _3 */
    MQLONG Options;            /* MQPMO_* */
    MQLONG Timeout;            /* reserved */
    MQHOBJ Context;            /* handle whose context is passed */
    MQLONG KnownDestCount;     /* output */
    MQLONG UnknownDestCount;   /* output */
    MQLONG InvalidDestCount;   /* output */
    MQCHAR48 ResolvedQName;    /* output */
    MQCHAR48 ResolvedQMgrName; /* output */
    MQLONG RecsPresent;        /* version 2 */
    MQLONG PutMsgRecFields;    /* version 2 */
    MQLONG PutMsgRecOffset;    /* version 2 */
    MQLONG ResponseRecOffset;  /* version 2 */
    MQPTR PutMsgRecPtr;        /* version 2 */
    MQPTR ResponseRecPtr;      /* version 2 */
    MQHMSG OriginalMsgHandle;  /* version 3 */
    MQHMSG NewMsgHandle;       /* version 3 */
    MQLONG Action;             /* version 3: MQACTP_* */
    MQLONG PubLevel;           /* version 3 */
};
typedef MQPMO *PMQPMO;

/* MQGMO: get-message options (112 bytes). */
struct MQGMO {
    MQCHAR4 StrucId;        /* "GMO " */
    MQLONG Version;         /* MQGMO_VERSION_1 to _4 */
    MQLONG Options;         /* MQGMO_* */
    MQLONG WaitInterval;    /* milliseconds, or MQWI_UNLIMITED */
    MQLONG Signal1;         /* reserved */
    MQLONG Signal2;         /* reserved */
    MQCHAR48 ResolvedQName; /* output */
    MQLONG MatchOptions;    /* version 2: MQMO_* */
    MQCHAR GroupStatus;     /* version 2: MQGS_* */
    MQCHAR SegmentStatus;   /* version 2: MQSS_* */
    MQCHAR Segmentation;    /* version 2: MQSEG_* */
    MQCHAR Reserved1;       /* version 2 */
    MQBYTE16 MsgToken;      /* version 3 */
    MQLONG ReturnedLength;  /* version 3: output */
    MQLONG Reserved2;       /* version 4 */
    MQHMSG MsgHandle;       /* version 4 */
};
typedef MQGMO *PMQGMO;

/* MQBNO: balancing options (20 bytes). */
struct MQBNO {
    MQCHAR4 StrucId; /* "BNO " */
    MQLONG Version;  /* MQBNO_VERSION_1 */
    MQLONG ApplType; /* MQBNO_BALTYPE_* */
    MQLONG Timeout;  /* MQBNO_TIMEOUT_* or seconds */
    MQLONG Options;  /* MQBNO_OPTIONS_* */
};
typedef MQBNO *PMQBNO;

/* MQCSP: security parameters (104 bytes). */
struct MQCSP {
    MQCHAR4 StrucId;           /* "CSP " */
    MQLONG Version;            /* MQCSP_VERSION_1 to _3 */
    MQLONG AuthenticationType; /* MQCSP_AUTH_* */
    MQBYTE4 Reserved1;
    MQPTR CSPUserIdPtr;
    MQLONG CSPUserIdOffset;
    MQLONG CSPUserIdLength;
    MQBYTE8 Reserved2;
    MQPTR CSPPasswordPtr;
    MQLONG CSPPasswordOffset;
    MQLONG CSPPasswordLength;
    MQBYTE8 Reserved3; /* version 2 */
    MQPTR InitialKeyPtr;
    MQLONG InitialKeyOffset;
    MQLONG InitialKeyLength;
    MQBYTE8 Reserved4; /* version 3 */
    MQPTR TokenPtr;
    MQLONG TokenOffset;
    MQLONG TokenLength;
};
typedef MQCSP *PMQCSP;

/* MQSCO: TLS configuration options (672 bytes). */
struct MQSCO {
    MQCHAR4 StrucId; /* "SCO " */
    MQLONG Version;  /* MQSCO_VERSION_1 to _7 */
    MQCHAR256 KeyRepository;
    MQCHAR256 CryptoHardware;
    MQLONG AuthInfoRecCount;
    MQLONG AuthInfoRecOffset;
    PMQAIR AuthInfoRecPtr;
    MQLONG KeyResetCount;                           /* version 2 */
    MQLONG FipsRequired;                            /* version 2: MQSSL_FIPS_* */
    MQLONG EncryptionPolicySuiteB[MQ_SUITE_B_SIZE]; /* version 3: MQ_SUITE_B_* */
    MQLONG CertificateValPolicy;                    /* version 4: MQ_CERT_VAL_POLICY_* */
    MQCHAR64 CertificateLabel;                      /* version 5 */
    MQPTR KeyRepoPasswordPtr;                       /* version 6 */
    MQLONG KeyRepoPasswordOffset;
    MQLONG KeyRepoPasswordLength;
    MQLONG HTTPSCertValidation; /* version 7: MQ_HTTPSCERTVAL_* */
    MQLONG HTTPSCertRevocation; /* version 7: MQ_HTTPSCERTREV_* */
    MQPTR HTTPSKeyStorePtr;
    MQLONG HTTPSKeyStoreOffset;
    MQLONG HTTPSKeyStoreLength;
};
typedef MQSCO *PMQSCO;

/* MQCNO: connect options (272 bytes). */
struct MQCNO {
    MQCHAR4 StrucId;            /* "CNO " */
    MQLONG Version;             /* MQCNO_VERSION_1 to _8 */
    MQLONG Options;             /* MQCNO_* */
    MQLONG ClientConnOffset;    /* version 2 */
    MQPTR ClientConnPtr;        /* version 2: an MQCD */
    MQBYTE128 ConnTag;          /* version 3 */
    PMQSCO SSLConfigPtr;        /* version 4 */
    MQLONG SSLConfigOffset;     /* version 4 */
    MQBYTE24 ConnectionId;      /* version 5: output */
    MQLONG SecurityParmsOffset; /* version 5 */
    PMQCSP SecurityParmsPtr;    /* version 5 */
    PMQCHAR CCDTUrlPtr;         /* version 6 */
    MQLONG CCDTUrlOffset;       /* version 6 */
    MQLONG CCDTUrlLength;       /* version 6 */
    MQBYTE8 Reserved;           /* version 6 */
    MQCHAR28 ApplName;          /* version 7 */
    MQBYTE4 Reserved2;          /* version 7 */
    PMQBNO BalanceParmsPtr;     /* version 8 */
    MQLONG BalanceParmsOffset;  /* version 8 */
    MQBYTE4 Reserved3;          /* version 8 */
};
typedef MQCNO *PMQCNO;

/* MQCD: channel definition (1992 bytes in version 12). */
struct MQCD {
    MQCHAR ChannelName[MQ_CHANNEL_NAME_LENGTH]; /* 20 bytes, blank-padded */
    MQLONG Version;                             /* MQCD_VERSION_1 to _12 */
    MQLONG ChannelType;                         /* MQCHT_* */
    MQLONG TransportType;                       /* MQXPT_* */
    MQCHAR Desc[MQ_CHANNEL_DESC_LENGTH];
    MQCHAR QMgrName[MQ_Q_MGR_NAME_LENGTH];
    MQCHAR XmitQName[MQ_Q_NAME_LENGTH];
    MQCHAR ShortConnectionName[MQ_SHORT_CONN_NAME_LENGTH];
    MQCHAR MCAName[MQ_MCA_NAME_LENGTH];
    MQCHAR ModeName[MQ_MODE_NAME_LENGTH];
    MQCHAR TpName[MQ_TP_NAME_LENGTH];
    MQLONG BatchSize;
    MQLONG DiscInterval;
    MQLONG ShortRetryCount;
    MQLONG ShortRetryInterval;
    MQLONG LongRetryCount;
    MQLONG LongRetryInterval;
    MQCHAR SecurityExit[MQ_EXIT_NAME_LENGTH];
    MQCHAR MsgExit[MQ_EXIT_NAME_LENGTH];
    MQCHAR SendExit[MQ_EXIT_NAME_LENGTH];
    MQCHAR ReceiveExit[MQ_EXIT_NAME_LENGTH];
    MQLONG SeqNumberWrap;
    MQLONG MaxMsgLength;
    MQLONG PutAuthority;   /* MQPA_* */
    MQLONG DataConversion; /* MQCDC_* */
    MQCHAR SecurityUserData[MQ_EXIT_DATA_LENGTH];
    MQCHAR MsgUserData[MQ_EXIT_DATA_LENGTH];
    MQCHAR SendUserData[MQ_EXIT_DATA_LENGTH];
    MQCHAR ReceiveUserData[MQ_EXIT_DATA_LENGTH];
    MQCHAR UserIdentifier[MQ_USER_ID_LENGTH];    /* version 2 */
    MQCHAR Password[MQ_PASSWORD_LENGTH];         /* version 2 */
    MQCHAR MCAUserIdentifier[MQ_USER_ID_LENGTH]; /* version 2 */
    MQLONG MCAType;                              /* version 2: MQMCAT_* */
    MQCHAR ConnectionName[MQ_CONN_NAME_LENGTH];  /* version 2 */
    MQCHAR RemoteUserIdentifier[MQ_USER_ID_LENGTH];
    MQCHAR RemotePassword[MQ_PASSWORD_LENGTH];
    MQCHAR MsgRetryExit[MQ_EXIT_NAME_LENGTH]; /* version 3 */
    MQCHAR MsgRetryUserData[MQ_EXIT_DATA_LENGTH];
    MQLONG MsgRetryCount;
    MQLONG MsgRetryInterval;
    MQLONG HeartbeatInterval; /* version 4 */
    MQLONG BatchInterval;
    MQLONG NonPersistentMsgSpeed; /* MQNPMS_* */
    MQLONG StrucLength;
    MQLONG ExitNameLength;
    MQLONG ExitDataLength;
    MQLONG MsgExitsDefined;
    MQLONG SendExitsDefined;
    MQLONG ReceiveExitsDefined;
    MQPTR MsgExitPtr;
    MQPTR MsgUserDataPtr;
    MQPTR SendExitPtr;
    MQPTR SendUserDataPtr;
    MQPTR ReceiveExitPtr;
    MQPTR ReceiveUserDataPtr;
    MQPTR ClusterPtr; /* version 5 */
    MQLONG ClustersDefined;
    MQLONG NetworkPriority;
    MQLONG LongMCAUserIdLength; /* version 6 */
    MQLONG LongRemoteUserIdLength;
    MQPTR LongMCAUserIdPtr;
    MQPTR LongRemoteUserIdPtr;
    MQBYTE40 MCASecurityId;
    MQBYTE40 RemoteSecurityId;
    MQCHAR SSLCipherSpec[MQ_SSL_CIPHER_SPEC_LENGTH]; /* version 7 */
    MQPTR SSLPeerNamePtr;
    MQLONG SSLPeerNameLength;
    MQLONG SSLClientAuth; /* MQSCA_* */
    MQLONG KeepAliveInterval;
    MQCHAR LocalAddress[MQ_LOCAL_ADDRESS_LENGTH];
    MQLONG BatchHeartbeat;
    MQLONG HdrCompList[2];  /* version 8: MQCOMPRESS_* */
    MQLONG MsgCompList[16]; /* version 8: MQCOMPRESS_* */
    MQLONG CLWLChannelRank;
    MQLONG CLWLChannelPriority;
    MQLONG CLWLChannelWeight;
    MQLONG ChannelMonitoring;    /* MQMON_* */
    MQLONG ChannelStatistics;    /* MQMON_* */
    MQLONG SharingConversations; /* version 9 */
    MQLONG PropertyControl;
    MQLONG MaxInstances;
    MQLONG MaxInstancesPerClient;
    MQLONG ClientChannelWeight;
    MQLONG ConnectionAffinity;                     /* MQCAFTY_* */
    MQLONG BatchDataLimit;                         /* version 10 */
    MQLONG UseDLQ;                                 /* MQUSEDLQ_* */
    MQLONG DefReconnect;                           /* MQRCN_* */
    MQCHAR CertificateLabel[MQ_CERT_LABEL_LENGTH]; /* version 11 */
    MQLONG SPLProtection;                          /* version 12: MQSPL_* */
};
typedef MQCD *PMQCD;

/* MQCBD: callback descriptor of MQCB (168 bytes). */
struct MQCBD {
    MQCHAR4 StrucId;        /* "CBD " */
    MQLONG Version;         /* MQCBD_VERSION_1 */
    MQLONG CallbackType;    /* MQCBT_MESSAGE_CONSUMER or _EVENT_HANDLER */
    MQLONG Options;         /* MQCBDO_* */
    MQPTR CallbackArea;     /* passed back in MQCBC.CallbackArea */
    MQPTR CallbackFunction; /* an MQCB_FUNCTION */
    MQCHAR128 CallbackName;
    MQLONG MaxMsgLength; /* or MQCBD_FULL_MSG_LENGTH */
};
typedef MQCBD *PMQCBD;

/* MQCBC: context of a callback (64 bytes). */
struct MQCBC {
    MQCHAR4 StrucId;      /* "CBC " */
    MQLONG Version;       /* MQCBC_VERSION_1 or _2 */
    MQLONG CallType;      /* MQCBCT_* */
    MQHOBJ Hobj;          /* object of a message consumer */
    MQPTR CallbackArea;   /* MQCBD.CallbackArea */
    MQPTR ConnectionArea; /* MQCTLO.ConnectionArea */
    MQLONG CompCode;
    MQLONG Reason;         /* of an event call, or of the get */
    MQLONG State;          /* MQCS_* */
    MQLONG DataLength;     /* length of the whole message */
    MQLONG BufferLength;   /* bytes in the buffer */
    MQLONG Flags;          /* MQCBCF_* */
    MQLONG ReconnectDelay; /* version 2 */
};
typedef MQCBC *PMQCBC;

/* MQCTLO: control options of MQCTL (24 bytes). */
struct MQCTLO {
    MQCHAR4 StrucId;      /* "CTLO" */
    MQLONG Version;       /* MQCTLO_VERSION_1 */
    MQLONG Options;       /* MQCTLO_* */
    MQLONG Reserved;      /* MQWI_UNLIMITED */
    MQPTR ConnectionArea; /* passed to every callback in MQCBC */
};
typedef MQCTLO *PMQCTLO;

/* MQSTS: status reported by MQSTAT (280 bytes). */
struct MQSTS {
    MQCHAR4 StrucId; /* "STAT" */
    MQLONG Version;  /* MQSTS_VERSION_1 or _2 */
    MQLONG CompCode;
    MQLONG Reason;
    MQLONG PutSuccessCount;
    MQLONG PutWarningCount;
    MQLONG PutFailureCount;
    MQLONG ObjectType;
    MQCHAR48 ObjectName;
    MQCHAR48 ObjectQMgrName;
    MQCHAR48 ResolvedObjectName;
    MQCHAR48 ResolvedQMgrName;
    MQCHARV ObjectString; /* version 2 */
    MQCHARV SubName;      /* version 2 */
    MQLONG OpenOptions;   /* version 2 */
    MQLONG SubOptions;    /* version 2 */
};
typedef MQSTS *PMQSTS;

/* MQTM: trigger message on an initiation queue (684 bytes). */
struct MQTM {
    MQCHAR4 StrucId; /* "TM  " */
    MQLONG Version;  /* MQTM_VERSION_1 */
    MQCHAR48 QName;
    MQCHAR48 ProcessName;
    MQCHAR64 TriggerData;
    MQLONG ApplType;
    MQCHAR256 ApplId;
    MQCHAR128 EnvData;
    MQCHAR128 UserData;
};
typedef MQTM *PMQTM;

/* MQTMC2: trigger message as passed to a started program, all characters
 * (732 bytes); each field blank-padded, no NUL. */
struct MQTMC2 {
    MQCHAR4 StrucId; /* "TMC " */
    MQCHAR4 Version; /* "   2" */
    MQCHAR48 QName;
    MQCHAR48 ProcessName;
    MQCHAR64 TriggerData;
    MQCHAR4 ApplType; /* decimal, right-aligned */
    MQCHAR256 ApplId;
    MQCHAR128 EnvData;
    MQCHAR128 UserData;
    MQCHAR48 QMgrName;
};
typedef MQTMC2 *PMQTMC2;

/* ------------------------------------------------------------------------ */
/* Default initial values                                                    */
/* ------------------------------------------------------------------------ */

/* Helpers of the defaults below, for constant evaluation only. */
namespace tvmqi {

/* Copy text into a fixed field of n characters and pad it with pad. */
constexpr void FillChars(MQCHAR *field, size_t n, const char *text, char pad) {
    size_t i = 0;
    for (; i < n && text[i] != '\0'; i++) {
        field[i] = text[i];
    }
    for (; i < n; i++) {
        field[i] = pad;
    }
}

/* Copy a 4-character eye-catcher (IBM's StrucId strings) into a field. */
constexpr void SetStrucId(MQCHAR4 &field, const char *id) {
    FillChars(field, 4, id, ' ');
}

constexpr MQCHARV MakeCharv() {
    MQCHARV v{};
    v.VSCCSID = MQCCSI_APPL;
    return v;
}

constexpr MQMD MakeMd() {
    MQMD d{};
    SetStrucId(d.StrucId, MQMD_STRUC_ID);
    d.Version = MQMD_VERSION_1;
    d.Report = MQRO_NONE;
    d.MsgType = MQMT_DATAGRAM;
    d.Expiry = MQEI_UNLIMITED;
    d.Feedback = MQFB_NONE;
    d.Encoding = MQENC_NATIVE;
    d.CodedCharSetId = MQCCSI_Q_MGR;
    FillChars(d.Format, sizeof(d.Format), MQFMT_NONE, ' ');
    d.Priority = MQPRI_PRIORITY_AS_Q_DEF;
    d.Persistence = MQPER_PERSISTENCE_AS_Q_DEF;
    d.PutApplType = MQAT_NO_CONTEXT;
    d.MsgSeqNumber = 1;
    d.Offset = 0;
    d.MsgFlags = MQMF_NONE;
    d.OriginalLength = MQOL_UNDEFINED;
    return d;
}

constexpr MQOD MakeOd() {
    MQOD d{};
    SetStrucId(d.StrucId, MQOD_STRUC_ID);
    d.Version = MQOD_VERSION_1;
    d.ObjectType = MQOT_Q;
    FillChars(d.DynamicQName, sizeof(d.DynamicQName), "AMQ.*", '\0');
    d.ObjectString = MakeCharv();
    d.SelectionString = MakeCharv();
    d.ResObjectString = MakeCharv();
    d.ResolvedType = MQOT_NONE;
    return d;
}

constexpr MQPMO MakePmo() {
    MQPMO d{};
    SetStrucId(d.StrucId, MQPMO_STRUC_ID);
    d.Version = MQPMO_VERSION_1;
    d.Options = MQPMO_NONE;
    d.Timeout = -1;
    d.PutMsgRecFields = MQPMRF_NONE;
    d.OriginalMsgHandle = MQHM_NONE;
    d.NewMsgHandle = MQHM_NONE;
    d.Action = MQACTP_NEW;
    d.PubLevel = 9; /* every level */
    return d;
}

constexpr MQGMO MakeGmo() {
    MQGMO d{};
    SetStrucId(d.StrucId, MQGMO_STRUC_ID);
    d.Version = MQGMO_VERSION_1;
    d.Options = MQGMO_NO_WAIT;
    d.WaitInterval = 0;
    d.MatchOptions = MQMO_MATCH_MSG_ID | MQMO_MATCH_CORREL_ID;
    d.GroupStatus = MQGS_NOT_IN_GROUP;
    d.SegmentStatus = MQSS_NOT_A_SEGMENT;
    d.Segmentation = MQSEG_INHIBITED;
    d.Reserved1 = ' ';
    d.ReturnedLength = MQRL_UNDEFINED;
    d.MsgHandle = MQHM_NONE;
    return d;
}

constexpr MQBNO MakeBno() {
    MQBNO d{};
    SetStrucId(d.StrucId, MQBNO_STRUC_ID);
    d.Version = MQBNO_VERSION_1;
    d.ApplType = MQBNO_BALTYPE_SIMPLE;
    d.Timeout = MQBNO_TIMEOUT_AS_DEFAULT;
    d.Options = MQBNO_OPTIONS_NONE;
    return d;
}

constexpr MQCSP MakeCsp() {
    MQCSP d{};
    SetStrucId(d.StrucId, MQCSP_STRUC_ID);
    d.Version = MQCSP_VERSION_1;
    d.AuthenticationType = MQCSP_AUTH_NONE;
    return d;
}

constexpr MQSCO MakeSco() {
    MQSCO d{};
    SetStrucId(d.StrucId, MQSCO_STRUC_ID);
    d.Version = MQSCO_VERSION_1;
    d.FipsRequired = MQSSL_FIPS_NO;
    d.EncryptionPolicySuiteB[0] = MQ_SUITE_B_NONE;
    for (int i = 1; i < MQ_SUITE_B_SIZE; i++) {
        d.EncryptionPolicySuiteB[i] = MQ_SUITE_B_NOT_AVAILABLE;
    }
    d.CertificateValPolicy = MQ_CERT_VAL_POLICY_DEFAULT;
    d.HTTPSCertValidation = MQ_HTTPSCERTVAL_DEFAULT;
    d.HTTPSCertRevocation = MQ_HTTPSCERTREV_DEFAULT;
    return d;
}

constexpr MQCNO MakeCno() {
    MQCNO d{};
    SetStrucId(d.StrucId, MQCNO_STRUC_ID);
    d.Version = MQCNO_VERSION_1;
    d.Options = MQCNO_NONE;
    return d;
}

/* The common channel defaults; type and transport by the caller. */
constexpr MQCD MakeCd(MQLONG channelType, MQLONG transportType) {
    MQCD d{};
    FillChars(d.ChannelName, sizeof(d.ChannelName), "", ' ');
    d.Version = MQCD_VERSION_6;
    d.ChannelType = channelType;
    d.TransportType = transportType;
    FillChars(d.Desc, sizeof(d.Desc), "", ' ');
    FillChars(d.QMgrName, sizeof(d.QMgrName), "", ' ');
    FillChars(d.XmitQName, sizeof(d.XmitQName), "", ' ');
    FillChars(d.ShortConnectionName, sizeof(d.ShortConnectionName), "", ' ');
    FillChars(d.MCAName, sizeof(d.MCAName), "", ' ');
    FillChars(d.ModeName, sizeof(d.ModeName), "", ' ');
    FillChars(d.TpName, sizeof(d.TpName), "", ' ');
    d.BatchSize = 50;
    d.DiscInterval = 6000;
    d.ShortRetryCount = 10;
    d.ShortRetryInterval = 60;
    d.LongRetryCount = 999999999;
    d.LongRetryInterval = 1200;
    FillChars(d.SecurityExit, sizeof(d.SecurityExit), "", ' ');
    FillChars(d.MsgExit, sizeof(d.MsgExit), "", ' ');
    FillChars(d.SendExit, sizeof(d.SendExit), "", ' ');
    FillChars(d.ReceiveExit, sizeof(d.ReceiveExit), "", ' ');
    d.SeqNumberWrap = 999999999;
    d.MaxMsgLength = 4194304;
    d.PutAuthority = MQPA_DEFAULT;
    d.DataConversion = MQCDC_NO_SENDER_CONVERSION;
    FillChars(d.SecurityUserData, sizeof(d.SecurityUserData), "", ' ');
    FillChars(d.MsgUserData, sizeof(d.MsgUserData), "", ' ');
    FillChars(d.SendUserData, sizeof(d.SendUserData), "", ' ');
    FillChars(d.ReceiveUserData, sizeof(d.ReceiveUserData), "", ' ');
    FillChars(d.UserIdentifier, sizeof(d.UserIdentifier), "", ' ');
    FillChars(d.Password, sizeof(d.Password), "", ' ');
    FillChars(d.MCAUserIdentifier, sizeof(d.MCAUserIdentifier), "", ' ');
    d.MCAType = MQMCAT_PROCESS;
    FillChars(d.ConnectionName, sizeof(d.ConnectionName), "", ' ');
    FillChars(d.RemoteUserIdentifier, sizeof(d.RemoteUserIdentifier), "", ' ');
    FillChars(d.RemotePassword, sizeof(d.RemotePassword), "", ' ');
    FillChars(d.MsgRetryExit, sizeof(d.MsgRetryExit), "", ' ');
    FillChars(d.MsgRetryUserData, sizeof(d.MsgRetryUserData), "", ' ');
    d.MsgRetryCount = 10;
    d.MsgRetryInterval = 1000;
    d.HeartbeatInterval = 300;
    d.BatchInterval = 0;
    d.NonPersistentMsgSpeed = MQNPMS_FAST;
    d.StrucLength = MQCD_LENGTH_6;
    d.ExitNameLength = MQ_EXIT_NAME_LENGTH;
    d.ExitDataLength = MQ_EXIT_DATA_LENGTH;
    FillChars(d.SSLCipherSpec, sizeof(d.SSLCipherSpec), "", ' ');
    d.SSLClientAuth = MQSCA_REQUIRED;
    d.KeepAliveInterval = MQKAI_AUTO;
    FillChars(d.LocalAddress, sizeof(d.LocalAddress), "", ' ');
    d.HdrCompList[0] = MQCOMPRESS_NONE;
    d.HdrCompList[1] = MQCOMPRESS_NOT_AVAILABLE;
    d.MsgCompList[0] = MQCOMPRESS_NONE;
    for (int i = 1; i < 16; i++) {
        d.MsgCompList[i] = MQCOMPRESS_NOT_AVAILABLE;
    }
    d.CLWLChannelWeight = 50;
    d.ChannelMonitoring = MQMON_OFF;
    d.ChannelStatistics = MQMON_OFF;
    d.SharingConversations = 10;
    d.PropertyControl = MQPROP_COMPATIBILITY;
    d.MaxInstances = 999999999;
    d.MaxInstancesPerClient = 999999999;
    d.ConnectionAffinity = MQCAFTY_PREFERRED;
    d.BatchDataLimit = 5000;
    d.UseDLQ = MQUSEDLQ_YES;
    d.DefReconnect = MQRCN_NO;
    FillChars(d.CertificateLabel, sizeof(d.CertificateLabel), "", ' ');
    d.SPLProtection = MQSPL_PASSTHRU;
    return d;
}

constexpr MQCBD MakeCbd() {
    MQCBD d{};
    SetStrucId(d.StrucId, MQCBD_STRUC_ID);
    d.Version = MQCBD_VERSION_1;
    d.CallbackType = MQCBT_MESSAGE_CONSUMER;
    d.Options = MQCBDO_NONE;
    d.MaxMsgLength = MQCBD_FULL_MSG_LENGTH;
    return d;
}

constexpr MQCBC MakeCbc() {
    MQCBC d{};
    SetStrucId(d.StrucId, MQCBC_STRUC_ID);
    d.Version = MQCBC_VERSION_1;
    d.CompCode = MQCC_OK;
    d.Reason = MQRC_NONE;
    d.State = MQCS_NONE;
    d.Flags = MQCBCF_NONE;
    return d;
}

constexpr MQCTLO MakeCtlo() {
    MQCTLO d{};
    SetStrucId(d.StrucId, MQCTLO_STRUC_ID);
    d.Version = MQCTLO_VERSION_1;
    d.Options = MQCTLO_NONE;
    d.Reserved = MQWI_UNLIMITED;
    return d;
}

constexpr MQSTS MakeSts() {
    MQSTS d{};
    SetStrucId(d.StrucId, MQSTS_STRUC_ID);
    d.Version = MQSTS_VERSION_1;
    d.CompCode = MQCC_OK;
    d.Reason = MQRC_NONE;
    d.ObjectType = MQOT_Q_MGR;
    d.ObjectString = MakeCharv();
    d.SubName = MakeCharv();
    return d;
}

constexpr MQTM MakeTm() {
    MQTM d{};
    SetStrucId(d.StrucId, MQTM_STRUC_ID);
    d.Version = MQTM_VERSION_1;
    return d;
}

constexpr MQTMC2 MakeTmc2() {
    MQTMC2 d{};
    SetStrucId(d.StrucId, MQTMC_STRUC_ID);
    FillChars(d.Version, sizeof(d.Version), MQTMC_VERSION_2, ' ');
    FillChars(d.QName, sizeof(d.QName), "", ' ');
    FillChars(d.ProcessName, sizeof(d.ProcessName), "", ' ');
    FillChars(d.TriggerData, sizeof(d.TriggerData), "", ' ');
    FillChars(d.ApplType, sizeof(d.ApplType), "", ' ');
    FillChars(d.ApplId, sizeof(d.ApplId), "", ' ');
    FillChars(d.EnvData, sizeof(d.EnvData), "", ' ');
    FillChars(d.UserData, sizeof(d.UserData), "", ' ');
    FillChars(d.QMgrName, sizeof(d.QMgrName), "", ' ');
    return d;
}

} /* namespace tvmqi */

/* IBM's published initial values: eye-catcher, version 1 (MQCD: version 6),
 * names empty (NUL-filled, as IBM initialises them; MQCD and MQTMC2 fields
 * blank-padded), everything else the documented default. */
inline constexpr MQCHARV MQCHARV_DEFAULT = tvmqi::MakeCharv();
inline constexpr MQMD MQMD_DEFAULT = tvmqi::MakeMd();
inline constexpr MQOD MQOD_DEFAULT = tvmqi::MakeOd();
inline constexpr MQPMO MQPMO_DEFAULT = tvmqi::MakePmo();
inline constexpr MQGMO MQGMO_DEFAULT = tvmqi::MakeGmo();
inline constexpr MQBNO MQBNO_DEFAULT = tvmqi::MakeBno();
inline constexpr MQCSP MQCSP_DEFAULT = tvmqi::MakeCsp();
inline constexpr MQSCO MQSCO_DEFAULT = tvmqi::MakeSco();
inline constexpr MQCNO MQCNO_DEFAULT = tvmqi::MakeCno();
inline constexpr MQCD MQCD_DEFAULT = tvmqi::MakeCd(MQCHT_SENDER, MQXPT_LU62);
inline constexpr MQCD MQCD_CLIENT_CONN_DEFAULT = tvmqi::MakeCd(MQCHT_CLNTCONN, MQXPT_TCP);
inline constexpr MQCBD MQCBD_DEFAULT = tvmqi::MakeCbd();
inline constexpr MQCBC MQCBC_DEFAULT = tvmqi::MakeCbc();
inline constexpr MQCTLO MQCTLO_DEFAULT = tvmqi::MakeCtlo();
inline constexpr MQSTS MQSTS_DEFAULT = tvmqi::MakeSts();
inline constexpr MQTM MQTM_DEFAULT = tvmqi::MakeTm();
inline constexpr MQTMC2 MQTMC2_DEFAULT = tvmqi::MakeTmc2();

/* ------------------------------------------------------------------------ */
/* Verbs                                                                     */
/* ------------------------------------------------------------------------ */

extern "C" {

/* The consumer and event-handler callback registered with MQCB. */
typedef void MQENTRY MQCB_FUNCTION(MQHCONN Hconn, PMQMD pMsgDesc, PMQGMO pGetMsgOpts,
                                   PMQVOID pBuffer, PMQCBC pContext);
typedef MQCB_FUNCTION *PMQCB_FUNCTION;

void MQENTRY MQCONN(PMQCHAR pQMgrName, PMQHCONN pHconn, PMQLONG pCompCode, PMQLONG pReason);
void MQENTRY MQCONNX(PMQCHAR pQMgrName, PMQCNO pConnectOpts, PMQHCONN pHconn, PMQLONG pCompCode,
                     PMQLONG pReason);
void MQENTRY MQDISC(PMQHCONN pHconn, PMQLONG pCompCode, PMQLONG pReason);
void MQENTRY MQOPEN(MQHCONN Hconn, PMQOD pObjDesc, MQLONG Options, PMQHOBJ pHobj, PMQLONG pCompCode,
                    PMQLONG pReason);
void MQENTRY MQCLOSE(MQHCONN Hconn, PMQHOBJ pHobj, MQLONG Options, PMQLONG pCompCode,
                     PMQLONG pReason);
void MQENTRY MQPUT(MQHCONN Hconn, MQHOBJ Hobj, PMQMD pMsgDesc, PMQPMO pPutMsgOpts,
                   MQLONG BufferLength, PMQVOID pBuffer, PMQLONG pCompCode, PMQLONG pReason);
void MQENTRY MQPUT1(MQHCONN Hconn, PMQOD pObjDesc, PMQMD pMsgDesc, PMQPMO pPutMsgOpts,
                    MQLONG BufferLength, PMQVOID pBuffer, PMQLONG pCompCode, PMQLONG pReason);
void MQENTRY MQGET(MQHCONN Hconn, MQHOBJ Hobj, PMQMD pMsgDesc, PMQGMO pGetMsgOpts,
                   MQLONG BufferLength, PMQVOID pBuffer, PMQLONG pDataLength, PMQLONG pCompCode,
                   PMQLONG pReason);
void MQENTRY MQINQ(MQHCONN Hconn, MQHOBJ Hobj, MQLONG SelectorCount, PMQLONG pSelectors,
                   MQLONG IntAttrCount, PMQLONG pIntAttrs, MQLONG CharAttrLength,
                   PMQCHAR pCharAttrs, PMQLONG pCompCode, PMQLONG pReason);
void MQENTRY MQSET(MQHCONN Hconn, MQHOBJ Hobj, MQLONG SelectorCount, PMQLONG pSelectors,
                   MQLONG IntAttrCount, PMQLONG pIntAttrs, MQLONG CharAttrLength,
                   PMQCHAR pCharAttrs, PMQLONG pCompCode, PMQLONG pReason);
void MQENTRY MQCMIT(MQHCONN Hconn, PMQLONG pCompCode, PMQLONG pReason);
void MQENTRY MQBACK(MQHCONN Hconn, PMQLONG pCompCode, PMQLONG pReason);
void MQENTRY MQBEGIN(MQHCONN Hconn, PMQVOID pBeginOptions, PMQLONG pCompCode, PMQLONG pReason);
void MQENTRY MQCB(MQHCONN Hconn, MQLONG Operation, PMQCBD pCallbackDesc, MQHOBJ Hobj,
                  PMQMD pMsgDesc, PMQGMO pGetMsgOpts, PMQLONG pCompCode, PMQLONG pReason);
void MQENTRY MQCTL(MQHCONN Hconn, MQLONG Operation, PMQCTLO pControlOpts, PMQLONG pCompCode,
                   PMQLONG pReason);
void MQENTRY MQSUB(MQHCONN Hconn, PMQSD pSubDesc, PMQHOBJ pHobj, PMQHOBJ pHsub, PMQLONG pCompCode,
                   PMQLONG pReason);
void MQENTRY MQSUBRQ(MQHCONN Hconn, MQHOBJ Hsub, MQLONG Action, PMQVOID pSubRqOpts,
                     PMQLONG pCompCode, PMQLONG pReason);
void MQENTRY MQCRTMH(MQHCONN Hconn, PMQVOID pCrtMsgHOpts, PMQHMSG pHmsg, PMQLONG pCompCode,
                     PMQLONG pReason);
void MQENTRY MQDLTMH(MQHCONN Hconn, PMQHMSG pHmsg, PMQVOID pDltMsgHOpts, PMQLONG pCompCode,
                     PMQLONG pReason);
void MQENTRY MQINQMP(MQHCONN Hconn, MQHMSG Hmsg, PMQVOID pInqPropOpts, PMQVOID pName,
                     PMQVOID pPropDesc, PMQLONG pType, MQLONG ValueLength, PMQVOID pValue,
                     PMQLONG pDataLength, PMQLONG pCompCode, PMQLONG pReason);
void MQENTRY MQSETMP(MQHCONN Hconn, MQHMSG Hmsg, PMQVOID pSetPropOpts, PMQVOID pName,
                     PMQVOID pPropDesc, MQLONG Type, MQLONG ValueLength, PMQVOID pValue,
                     PMQLONG pCompCode, PMQLONG pReason);
void MQENTRY MQDLTMP(MQHCONN Hconn, MQHMSG Hmsg, PMQVOID pDltPropOpts, PMQVOID pName,
                     PMQLONG pCompCode, PMQLONG pReason);
void MQENTRY MQBUFMH(MQHCONN Hconn, MQHMSG Hmsg, PMQVOID pBufMsgHOpts, PMQMD pMsgDesc,
                     MQLONG BufferLength, PMQVOID pBuffer, PMQLONG pDataLength, PMQLONG pCompCode,
                     PMQLONG pReason);
void MQENTRY MQMHBUF(MQHCONN Hconn, MQHMSG Hmsg, PMQVOID pMsgHBufOpts, PMQVOID pName,
                     PMQMD pMsgDesc, MQLONG BufferLength, PMQVOID pBuffer, PMQLONG pDataLength,
                     PMQLONG pCompCode, PMQLONG pReason);
void MQENTRY MQSTAT(MQHCONN Hconn, MQLONG Type, PMQSTS pStatus, PMQLONG pCompCode, PMQLONG pReason);
void MQENTRY MQXCNVC(MQHCONN Hconn, MQLONG Options, MQLONG SourceCCSID, MQLONG SourceLength,
                     PMQCHAR pSourceBuffer, MQLONG TargetCCSID, MQLONG TargetLength,
                     PMQCHAR pTargetBuffer, PMQLONG pDataLength, PMQLONG pCompCode,
                     PMQLONG pReason);

/* Entry-point types, for addresses found in a library loaded at run time. */
typedef void(MQENTRY *MQCONN_FN)(PMQCHAR, PMQHCONN, PMQLONG, PMQLONG);
typedef void(MQENTRY *MQCONNX_FN)(PMQCHAR, PMQCNO, PMQHCONN, PMQLONG, PMQLONG);
typedef void(MQENTRY *MQDISC_FN)(PMQHCONN, PMQLONG, PMQLONG);
typedef void(MQENTRY *MQOPEN_FN)(MQHCONN, PMQOD, MQLONG, PMQHOBJ, PMQLONG, PMQLONG);
typedef void(MQENTRY *MQCLOSE_FN)(MQHCONN, PMQHOBJ, MQLONG, PMQLONG, PMQLONG);
typedef void(MQENTRY *MQPUT_FN)(MQHCONN, MQHOBJ, PMQMD, PMQPMO, MQLONG, PMQVOID, PMQLONG, PMQLONG);
typedef void(MQENTRY *MQPUT1_FN)(MQHCONN, PMQOD, PMQMD, PMQPMO, MQLONG, PMQVOID, PMQLONG, PMQLONG);
typedef void(MQENTRY *MQGET_FN)(MQHCONN, MQHOBJ, PMQMD, PMQGMO, MQLONG, PMQVOID, PMQLONG, PMQLONG,
                                PMQLONG);
typedef void(MQENTRY *MQINQ_FN)(MQHCONN, MQHOBJ, MQLONG, PMQLONG, MQLONG, PMQLONG, MQLONG, PMQCHAR,
                                PMQLONG, PMQLONG);
typedef void(MQENTRY *MQSET_FN)(MQHCONN, MQHOBJ, MQLONG, PMQLONG, MQLONG, PMQLONG, MQLONG, PMQCHAR,
                                PMQLONG, PMQLONG);
typedef void(MQENTRY *MQCMIT_FN)(MQHCONN, PMQLONG, PMQLONG);
typedef void(MQENTRY *MQBACK_FN)(MQHCONN, PMQLONG, PMQLONG);
typedef void(MQENTRY *MQBEGIN_FN)(MQHCONN, PMQVOID, PMQLONG, PMQLONG);
typedef void(MQENTRY *MQCB_FN)(MQHCONN, MQLONG, PMQCBD, MQHOBJ, PMQMD, PMQGMO, PMQLONG, PMQLONG);
typedef void(MQENTRY *MQCTL_FN)(MQHCONN, MQLONG, PMQCTLO, PMQLONG, PMQLONG);
typedef void(MQENTRY *MQSUB_FN)(MQHCONN, PMQSD, PMQHOBJ, PMQHOBJ, PMQLONG, PMQLONG);
typedef void(MQENTRY *MQSUBRQ_FN)(MQHCONN, MQHOBJ, MQLONG, PMQVOID, PMQLONG, PMQLONG);
typedef void(MQENTRY *MQCRTMH_FN)(MQHCONN, PMQVOID, PMQHMSG, PMQLONG, PMQLONG);
typedef void(MQENTRY *MQDLTMH_FN)(MQHCONN, PMQHMSG, PMQVOID, PMQLONG, PMQLONG);
typedef void(MQENTRY *MQINQMP_FN)(MQHCONN, MQHMSG, PMQVOID, PMQVOID, PMQVOID, PMQLONG, MQLONG,
                                  PMQVOID, PMQLONG, PMQLONG, PMQLONG);
typedef void(MQENTRY *MQSETMP_FN)(MQHCONN, MQHMSG, PMQVOID, PMQVOID, PMQVOID, MQLONG, MQLONG,
                                  PMQVOID, PMQLONG, PMQLONG);
typedef void(MQENTRY *MQDLTMP_FN)(MQHCONN, MQHMSG, PMQVOID, PMQVOID, PMQLONG, PMQLONG);
typedef void(MQENTRY *MQBUFMH_FN)(MQHCONN, MQHMSG, PMQVOID, PMQMD, MQLONG, PMQVOID, PMQLONG,
                                  PMQLONG, PMQLONG);
typedef void(MQENTRY *MQMHBUF_FN)(MQHCONN, MQHMSG, PMQVOID, PMQVOID, PMQMD, MQLONG, PMQVOID,
                                  PMQLONG, PMQLONG, PMQLONG);
typedef void(MQENTRY *MQSTAT_FN)(MQHCONN, MQLONG, PMQSTS, PMQLONG, PMQLONG);
typedef void(MQENTRY *MQXCNVC_FN)(MQHCONN, MQLONG, MQLONG, MQLONG, PMQCHAR, MQLONG, MQLONG, PMQCHAR,
                                  PMQLONG, PMQLONG, PMQLONG);

} /* extern "C" */

/* ------------------------------------------------------------------------ */
/* Layout checks (Linux x86-64 and Windows x64)                              */
/* ------------------------------------------------------------------------ */

static_assert(sizeof(MQCHARV) == 24, "MQCHARV layout");
static_assert(sizeof(MQMD) == MQMD_LENGTH_2, "MQMD layout");
static_assert(offsetof(MQMD, MsgId) == 48 && offsetof(MQMD, ReplyToQ) == 100, "MQMD layout");
static_assert(offsetof(MQMD, GroupId) == MQMD_LENGTH_1, "MQMD layout");
static_assert(sizeof(MQOD) == MQOD_LENGTH_4, "MQOD layout");
static_assert(offsetof(MQOD, ResolvedQName) == 248 && offsetof(MQOD, ObjectRecPtr) == 192,
              "MQOD layout");
static_assert(sizeof(MQPMO) == MQPMO_LENGTH_3, "MQPMO layout");
static_assert(offsetof(MQPMO, Context) == 16 && offsetof(MQPMO, OriginalMsgHandle) == 160,
              "MQPMO layout");
static_assert(sizeof(MQGMO) == MQGMO_LENGTH_4, "MQGMO layout");
static_assert(offsetof(MQGMO, MatchOptions) == 72 && offsetof(MQGMO, MsgHandle) == 104,
              "MQGMO layout");
static_assert(sizeof(MQCNO) == MQCNO_LENGTH_8, "MQCNO layout");
static_assert(offsetof(MQCNO, ClientConnPtr) == 16 && offsetof(MQCNO, ApplName) == 224,
              "MQCNO layout");
static_assert(sizeof(MQCSP) == MQCSP_LENGTH_3, "MQCSP layout");
static_assert(sizeof(MQSCO) == MQSCO_LENGTH_7, "MQSCO layout");
static_assert(sizeof(MQBNO) == MQBNO_LENGTH_1, "MQBNO layout");
static_assert(sizeof(MQCD) == MQCD_LENGTH_12, "MQCD layout");
static_assert(offsetof(MQCD, MsgExitPtr) == 1520 && offsetof(MQCD, SPLProtection) == 1984,
              "MQCD layout");
static_assert(sizeof(MQCBD) == MQCBD_LENGTH_1, "MQCBD layout");
static_assert(sizeof(MQCBC) == MQCBC_LENGTH_2, "MQCBC layout");
static_assert(offsetof(MQCBC, Reason) == 36, "MQCBC layout");
static_assert(sizeof(MQCTLO) == MQCTLO_LENGTH_1, "MQCTLO layout");
static_assert(sizeof(MQSTS) == MQSTS_LENGTH_2, "MQSTS layout");
static_assert(sizeof(MQTM) == MQTM_LENGTH_1, "MQTM layout");
static_assert(sizeof(MQTMC2) == MQTMC2_LENGTH_2 && offsetof(MQTMC2, QMgrName) == 684,
              "MQTMC2 layout");

#endif /* TV_MQ_MQI_H */
