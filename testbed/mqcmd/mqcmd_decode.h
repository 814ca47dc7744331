/* mqcmd_decode.h -- walking a received PCF message into a flat list of parameters.
 *
 * Owns: nothing global. A PCFDUMP describes one message; its items point into
 * that message by offset, so the message must outlive the dump's use.
 * Threads: any; the procedures keep no state.
 */
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "mqconst/mqi.h"
#include "mqconst/mqpcf.h"

constexpr size_t MQCMD_CFH_LENGTH = 36;         /* the MQCFH on the wire */
constexpr int MQCMD_MAX_GROUP_DEPTH = 32;       /* deeper nesting is reported as malformed */
constexpr size_t MQCMD_ERROR_TEXT_LENGTH = 160; /* malformedText, NUL-terminated */

/* One parameter structure of a message, in message order. A group is one item
 * (its children follow with depth + 1). */
struct PCFITEM {
    int depth;          /* 0 at top level, n inside n groups */
    MQLONG type;        /* the structure's Type (MQCFT_*) */
    MQLONG strucLength; /* its StrucLength */
    MQLONG parameter;   /* its Parameter */
    size_t offset;      /* of the structure from the start of the message */
    MQLONG ccsid;       /* CodedCharSetId of string structures, else 0 */
    MQLONG op;          /* Operator of filter structures, else 0 */
    MQLONG count;       /* values in a list, ParameterCount of a group, else 1 */
    MQLONG itemLength; /* bytes of each string of a string list, or of the one string/byte string */
    size_t valueOffset; /* first byte of the value(s) from the start of the message */
    size_t valueLength; /* bytes of the value(s); always within the message */
};

/* A decoded message: the MQCFH fields and the parameters that could be read. */
struct PCFDUMP {
    int hasHeader; /* 1: the message held a whole MQCFH and the fields below are it */
    MQLONG type;
    MQLONG strucLength;
    MQLONG version;
    MQLONG command;
    MQLONG msgSeqNumber;
    MQLONG control;
    MQLONG compCode;
    MQLONG reason;
    MQLONG parameterCount;
    std::vector<PCFITEM> items;
    int malformed;                               /* 1: the walk stopped at a fault */
    size_t malformedOffset;                      /* where, from the start of the message */
    char malformedText[MQCMD_ERROR_TEXT_LENGTH]; /* what, NUL-terminated */
};

/* ---- mqcmd_decode.cpp -- the walk ---- */

/* Walk msg (len bytes, native encoding) as a PCF message into *dump (its
 * previous contents are replaced). Every field is range-checked before it is
 * read: a structure that does not lie within the message, inside lengths that
 * disagree with StrucLength, nesting deeper than MQCMD_MAX_GROUP_DEPTH, a
 * ParameterCount the message cannot satisfy or bytes left after the last
 * parameter set dump->malformed with the offset and a text; the items read
 * before the fault stay. Structures of unknown Type are kept as items whose
 * value is their bytes after Parameter. Never reads outside msg[0..len). */
void DecodePcf(const MQBYTE *msg, size_t len, PCFDUMP *dump);

/* The 32-bit and 64-bit integers at off within msg (native encoding); the
 * caller has checked that off + 4 (or 8) <= the message length. */
MQLONG PcfLongAt(const MQBYTE *msg, size_t off);
int64_t PcfInt64At(const MQBYTE *msg, size_t off);
