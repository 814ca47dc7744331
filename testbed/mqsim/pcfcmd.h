/* pcfcmd.h -- PCF commands taken apart and PCF replies put together, for the
 * stand-in command server.
 *
 * ParseCommand checks a command message as a queue manager's command server
 * does before it acts on it: the MQCFH, then the type and lengths of every
 * parameter structure (groups and their members included), all within the
 * message's length, and no bytes left over. It yields the parameters with
 * their values, which point into the message, or the PCF reason of the first
 * fault and the parameter it concerns. CheckParms then holds the parameters
 * against what one command accepts. PCFREPLY builds one reply message.
 *
 * All integers are in the machine's encoding. Nothing here assumes that the
 * message is aligned: values are copied out, never read in place.
 *
 * Owns: nothing global. Threads: any; a CMDMSG or PCFREPLY belongs to the
 * caller, and a CMDMSG borrows the message it was parsed from.
 */
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "mqconst/mqi.h"
#include "mqconst/mqpcf.h"

/* Deepest group nesting a command may carry. */
constexpr int PCF_MAX_GROUP_DEPTH = 10;

/* One parameter structure of a command. */
struct CMDPARM {
    MQLONG type;         /* MQCFT_INTEGER, MQCFT_STRING, ... */
    MQLONG id;           /* Parameter */
    MQLONG value;        /* MQCFIN Value; MQCFIF FilterValue */
    MQINT64 value64;     /* MQCFIN64 Value */
    MQLONG op;           /* filters: Operator */
    MQLONG count;        /* MQCFIL, MQCFIL64, MQCFSL: values; MQCFGR: member parameters */
    MQLONG stringLength; /* MQCFST, MQCFBS, MQCFSF, MQCFBF: bytes; MQCFSL: bytes of each string */
    const MQBYTE *data;  /* the string, bytes or list values, inside the message */
    int depth;           /* 0 for a top-level parameter, n inside n groups */
};

struct CMDMSG {
    MQCFH cfh;                  /* the header as received */
    std::vector<CMDPARM> parms; /* in message order; a group precedes its members */
};

/* Take apart a command of length bytes. Returns 0 with *cmd filled, or the
 * PCF reason of the first fault: MQRCCF_MSG_LENGTH_ERROR (shorter than its
 * structures claim, or bytes left over), MQRCCF_CFH_TYPE_ERROR (not
 * MQCFT_COMMAND or MQCFT_COMMAND_XR), MQRCCF_CFH_LENGTH_ERROR,
 * MQRCCF_CFH_VERSION_ERROR (also MQCFT_COMMAND_XR below version 3),
 * MQRCCF_CFH_MSG_SEQ_NUMBER_ERR, MQRCCF_CFH_CONTROL_ERROR,
 * MQRCCF_CFH_PARM_COUNT_ERROR, MQRCCF_STRUCTURE_TYPE_ERROR, or the length
 * error of the parameter's structure type (MQRCCF_CFIN_LENGTH_ERROR,
 * MQRCCF_CFST_LENGTH_ERROR, MQRCCF_CFST_STRING_LENGTH_ERR, MQRCCF_CFIL_*,
 * MQRCCF_CFSL_*, MQRCCF_CFBS_*, MQRCCF_CFGR_*, MQRCCF_CFIF_*, MQRCCF_CFSF_*,
 * MQRCCF_CFBF_*). *cfhRead tells whether cmd->cfh holds the header (1) or
 * the message was too short for it (0); *badParm gets the Parameter of the
 * faulty structure, or 0 when the fault is not in one. */
MQLONG ParseCommand(const MQBYTE *msg, size_t length, CMDMSG *cmd, int *cfhRead, MQLONG *badParm);

/* What a command accepts of one parameter. */
struct PARMRULE {
    MQLONG id;    /* Parameter */
    MQLONG type;  /* the structure type it must come in */
    int required; /* 1: the command fails without it */
};

/* Hold the top-level parameters of cmd against rules (count rows). A filter
 * structure (MQCFIF, MQCFSF) is accepted when filterOk says so for its
 * parameter id; at most one filter. Returns 0, or the reason with *badParm:
 * the parameter-id error of the structure's type (MQRCCF_CFIN_PARM_ID_ERROR,
 * MQRCCF_CFST_PARM_ID_ERROR, MQRCCF_CFIL_PARM_ID_ERROR, ...) for a parameter
 * the command does not take in that form, a duplicate error
 * (MQRCCF_CFIN_DUPLICATE_PARM, MQRCCF_CFST_DUPLICATE_PARM, ...),
 * MQRCCF_TOO_MANY_FILTERS, MQRCCF_PARM_COUNT_TOO_SMALL when the header
 * counts fewer parameters than the command needs, MQRCCF_PARM_MISSING for a
 * required parameter not given. */
MQLONG CheckParms(const CMDMSG *cmd, const PARMRULE *rules, size_t count,
                  int (*filterOk)(MQLONG id, MQLONG type), MQLONG *badParm);

/* The first top-level parameter with this id, or null. */
const CMDPARM *FindParm(const CMDMSG *cmd, MQLONG id);
/* Value i (0 .. count-1) of an MQCFIL. */
MQLONG ParmListValue(const CMDPARM *p, MQLONG i);
/* The text of an MQCFST or MQCFSF: up to its first NUL, trailing blanks
 * removed. */
std::string ParmString(const CMDPARM *p);

/* ---- Replies ---------------------------------------------------------------- */

/* One PCF reply being built: the MQCFH and the parameters after it. The
 * header's ParameterCount follows every Add. */
struct PCFREPLY {
    std::vector<MQBYTE> data;
};

/* Start a reply (any previous content is dropped): MQCFH of the given type
 * and version, Command, MsgSeqNumber 1, Control MQCFC_LAST, CompCode and
 * Reason, no parameters. */
void ReplyBegin(PCFREPLY *r, MQLONG type, MQLONG version, MQLONG command, MQLONG compCode,
                MQLONG reason);
/* Set MsgSeqNumber and Control before the reply goes out. */
void ReplySetSequence(PCFREPLY *r, MQLONG msgSeqNumber, MQLONG control);
/* The header as it stands. */
MQCFH ReplyHeader(const PCFREPLY *r);
/* Add an MQCFIN. */
void ReplyAddInt(PCFREPLY *r, MQLONG id, MQLONG value);
/* Add an MQCFST holding text (len bytes) blank-padded to fieldLength bytes,
 * or exactly len bytes when fieldLength is 0; text longer than fieldLength
 * is cut. StrucLength is rounded up to a multiple of 4 (zero padding). */
void ReplyAddString(PCFREPLY *r, MQLONG id, const char *text, size_t len, MQLONG fieldLength);
/* Add an MQCFIL with count values. */
void ReplyAddIntList(PCFREPLY *r, MQLONG id, const MQLONG *values, MQLONG count);
/* Add an MQCFSL of count strings, each blank-padded (or cut) to
 * stringLength bytes. */
void ReplyAddStringList(PCFREPLY *r, MQLONG id, const char *const *strings, MQLONG count,
                        MQLONG stringLength);
/* Add an MQCFBS of len bytes. */
void ReplyAddBytes(PCFREPLY *r, MQLONG id, const MQBYTE *bytes, MQLONG len);
