/* mqpcf.h -- TORVIK's declarations of IBM MQ's Programmable Command Format.
 *
 * The PCF header and parameter structures with IBM's field names and layout,
 * and their default initial values (MQCFH cfh = MQCFH_DEFAULT;). The PCF
 * constants themselves (MQCFT_*, MQCMD_*, MQCA_*, MQIA_*, the *_STRUC_LENGTH
 * lengths ...) come with mqconst/mqi.h, generated from the same data.
 *
 * A parameter structure with a string or list is declared with IBM's
 * one-element trailing array; sizeof() then counts that element and the
 * padding, so wire lengths are always the *_STRUC_LENGTH(_FIXED) constants
 * (MQCFST: 20 + StringLength, rounded up to a multiple of 4 by the writer).
 * All fields are in the machine's native encoding.
 *
 * Self-contained: includes only mqconst/mqi.h (<cstdint>, <cstddef>).
 * Owns: no data, only declarations; any thread.
 */
#ifndef TV_MQ_MQPCF_H
#define TV_MQ_MQPCF_H

#include "mqconst/mqi.h"

/* MQCFH: header of every PCF message (36 bytes). */
struct MQCFH {
    MQLONG Type;           /* MQCFT_COMMAND, _RESPONSE, _EVENT ... */
    MQLONG StrucLength;    /* MQCFH_STRUC_LENGTH */
    MQLONG Version;        /* MQCFH_VERSION_1 to _3 */
    MQLONG Command;        /* MQCMD_* */
    MQLONG MsgSeqNumber;   /* from 1 */
    MQLONG Control;        /* MQCFC_LAST or MQCFC_NOT_LAST */
    MQLONG CompCode;       /* MQCC_* */
    MQLONG Reason;         /* MQRC_* or MQRCCF_* */
    MQLONG ParameterCount; /* top-level parameter structures that follow */
};
typedef MQCFH *PMQCFH;

/* MQCFIN: integer parameter (16 bytes). */
struct MQCFIN {
    MQLONG Type;        /* MQCFT_INTEGER */
    MQLONG StrucLength; /* MQCFIN_STRUC_LENGTH */
    MQLONG Parameter;   /* parameter identifier */
    MQLONG Value;
};
typedef MQCFIN *PMQCFIN;

/* MQCFIN64: 64-bit integer parameter (24 bytes). */
struct MQCFIN64 {
    MQLONG Type;        /* MQCFT_INTEGER64 */
    MQLONG StrucLength; /* MQCFIN64_STRUC_LENGTH */
    MQLONG Parameter;
    MQLONG Reserved;
    MQINT64 Value;
};
typedef MQCFIN64 *PMQCFIN64;

/* MQCFST: string parameter (20 bytes + the string, padded to 4). */
struct MQCFST {
    MQLONG Type;        /* MQCFT_STRING */
    MQLONG StrucLength; /* MQCFST_STRUC_LENGTH_FIXED + StringLength, rounded up */
    MQLONG Parameter;
    MQLONG CodedCharSetId; /* MQCCSI_DEFAULT: the message's */
    MQLONG StringLength;   /* bytes of String, no NUL */
    MQCHAR String[1];      /* StringLength bytes */
};
typedef MQCFST *PMQCFST;

/* MQCFIL: integer list parameter (16 bytes + 4 per value). */
struct MQCFIL {
    MQLONG Type;        /* MQCFT_INTEGER_LIST */
    MQLONG StrucLength; /* MQCFIL_STRUC_LENGTH_FIXED + 4 * Count */
    MQLONG Parameter;
    MQLONG Count;
    MQLONG Values[1]; /* Count values */
};
typedef MQCFIL *PMQCFIL;

/* MQCFIL64: 64-bit integer list parameter (16 bytes + 8 per value). */
struct MQCFIL64 {
    MQLONG Type;        /* MQCFT_INTEGER64_LIST */
    MQLONG StrucLength; /* MQCFIL64_STRUC_LENGTH_FIXED + 8 * Count */
    MQLONG Parameter;
    MQLONG Count;
    MQINT64 Values[1]; /* Count values */
};
typedef MQCFIL64 *PMQCFIL64;

/* MQCFSL: string list parameter (24 bytes + the strings, padded to 4). */
struct MQCFSL {
    MQLONG Type;        /* MQCFT_STRING_LIST */
    MQLONG StrucLength; /* MQCFSL_STRUC_LENGTH_FIXED + Count * StringLength, rounded up */
    MQLONG Parameter;
    MQLONG CodedCharSetId;
    MQLONG Count;        /* strings that follow */
    MQLONG StringLength; /* bytes of each string */
    MQCHAR Strings[1];   /* Count strings of StringLength bytes */
};
typedef MQCFSL *PMQCFSL;

/* MQCFBS: byte string parameter (16 bytes + the bytes, padded to 4). */
struct MQCFBS {
    MQLONG Type;        /* MQCFT_BYTE_STRING */
    MQLONG StrucLength; /* MQCFBS_STRUC_LENGTH_FIXED + StringLength, rounded up */
    MQLONG Parameter;
    MQLONG StringLength;
    MQBYTE String[1]; /* StringLength bytes */
};
typedef MQCFBS *PMQCFBS;

/* MQCFGR: group of parameters (16 bytes); its ParameterCount structures
 * follow it. */
struct MQCFGR {
    MQLONG Type;        /* MQCFT_GROUP */
    MQLONG StrucLength; /* MQCFGR_STRUC_LENGTH */
    MQLONG Parameter;
    MQLONG ParameterCount;
};
typedef MQCFGR *PMQCFGR;

/* MQCFIF: integer filter (20 bytes). */
struct MQCFIF {
    MQLONG Type;        /* MQCFT_INTEGER_FILTER */
    MQLONG StrucLength; /* MQCFIF_STRUC_LENGTH */
    MQLONG Parameter;
    MQLONG Operator; /* MQCFOP_* */
    MQLONG FilterValue;
};
typedef MQCFIF *PMQCFIF;

/* MQCFSF: string filter (24 bytes + the string, padded to 4). */
struct MQCFSF {
    MQLONG Type;        /* MQCFT_STRING_FILTER */
    MQLONG StrucLength; /* MQCFSF_STRUC_LENGTH_FIXED + FilterValueLength, rounded up */
    MQLONG Parameter;
    MQLONG Operator; /* MQCFOP_* */
    MQLONG CodedCharSetId;
    MQLONG FilterValueLength;
    MQCHAR FilterValue[1];
};
typedef MQCFSF *PMQCFSF;

/* MQCFBF: byte string filter (20 bytes + the bytes, padded to 4). */
struct MQCFBF {
    MQLONG Type;        /* MQCFT_BYTE_STRING_FILTER */
    MQLONG StrucLength; /* MQCFBF_STRUC_LENGTH_FIXED + FilterValueLength, rounded up */
    MQLONG Parameter;
    MQLONG Operator; /* MQCFOP_* */
    MQLONG FilterValueLength;
    MQBYTE FilterValue[1];
};
typedef MQCFBF *PMQCFBF;

/* Default initial values, as IBM publishes them: the structure's type code
 * and fixed length, everything else zero (MQCFH: a version 1 command, the
 * first and last message of its set; filters: MQCFOP_EQUAL). */
inline constexpr MQCFH MQCFH_DEFAULT = {MQCFT_COMMAND,
                                        MQCFH_STRUC_LENGTH,
                                        MQCFH_VERSION_1,
                                        MQCMD_NONE,
                                        1,
                                        MQCFC_LAST,
                                        MQCC_OK,
                                        MQRC_NONE,
                                        0};
inline constexpr MQCFIN MQCFIN_DEFAULT = {MQCFT_INTEGER, MQCFIN_STRUC_LENGTH, 0, 0};
inline constexpr MQCFIN64 MQCFIN64_DEFAULT = {MQCFT_INTEGER64, MQCFIN64_STRUC_LENGTH, 0, 0, 0};
inline constexpr MQCFST MQCFST_DEFAULT = {
    MQCFT_STRING, MQCFST_STRUC_LENGTH_FIXED, 0, MQCCSI_DEFAULT, 0, {0}};
inline constexpr MQCFIL MQCFIL_DEFAULT = {MQCFT_INTEGER_LIST, MQCFIL_STRUC_LENGTH_FIXED, 0, 0, {0}};
inline constexpr MQCFIL64 MQCFIL64_DEFAULT = {
    MQCFT_INTEGER64_LIST, MQCFIL64_STRUC_LENGTH_FIXED, 0, 0, {0}};
inline constexpr MQCFSL MQCFSL_DEFAULT = {
    MQCFT_STRING_LIST, MQCFSL_STRUC_LENGTH_FIXED, 0, MQCCSI_DEFAULT, 0, 0, {0}};
inline constexpr MQCFBS MQCFBS_DEFAULT = {MQCFT_BYTE_STRING, MQCFBS_STRUC_LENGTH_FIXED, 0, 0, {0}};
inline constexpr MQCFGR MQCFGR_DEFAULT = {MQCFT_GROUP, MQCFGR_STRUC_LENGTH, 0, 0};
inline constexpr MQCFIF MQCFIF_DEFAULT = {MQCFT_INTEGER_FILTER, MQCFIF_STRUC_LENGTH, 0,
                                          MQCFOP_EQUAL, 0};
inline constexpr MQCFSF MQCFSF_DEFAULT = {
    MQCFT_STRING_FILTER, MQCFSF_STRUC_LENGTH_FIXED, 0, MQCFOP_EQUAL, MQCCSI_DEFAULT, 0, {0}};
inline constexpr MQCFBF MQCFBF_DEFAULT = {
    MQCFT_BYTE_STRING_FILTER, MQCFBF_STRUC_LENGTH_FIXED, 0, MQCFOP_EQUAL, 0, {0}};

/* Wire lengths and offsets relied on by every PCF reader and writer. */
static_assert(sizeof(MQCFH) == MQCFH_STRUC_LENGTH, "MQCFH layout");
static_assert(sizeof(MQCFIN) == MQCFIN_STRUC_LENGTH, "MQCFIN layout");
static_assert(sizeof(MQCFIN64) == MQCFIN64_STRUC_LENGTH, "MQCFIN64 layout");
static_assert(sizeof(MQCFGR) == MQCFGR_STRUC_LENGTH, "MQCFGR layout");
static_assert(sizeof(MQCFIF) == MQCFIF_STRUC_LENGTH, "MQCFIF layout");
static_assert(offsetof(MQCFST, String) == MQCFST_STRUC_LENGTH_FIXED, "MQCFST layout");
static_assert(offsetof(MQCFIL, Values) == MQCFIL_STRUC_LENGTH_FIXED, "MQCFIL layout");
static_assert(offsetof(MQCFIL64, Values) == MQCFIL64_STRUC_LENGTH_FIXED, "MQCFIL64 layout");
static_assert(offsetof(MQCFSL, Strings) == MQCFSL_STRUC_LENGTH_FIXED, "MQCFSL layout");
static_assert(offsetof(MQCFBS, String) == MQCFBS_STRUC_LENGTH_FIXED, "MQCFBS layout");
static_assert(offsetof(MQCFSF, FilterValue) == MQCFSF_STRUC_LENGTH_FIXED, "MQCFSF layout");
static_assert(offsetof(MQCFBF, FilterValue) == MQCFBF_STRUC_LENGTH_FIXED, "MQCFBF layout");

#endif /* TV_MQ_MQPCF_H */
