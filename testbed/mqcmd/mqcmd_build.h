/* mqcmd_build.h -- building the requester's PCF commands from command-line words.
 *
 * Owns: nothing global. Messages are built into a caller's byte vector.
 * Threads: any.
 *
 * A parameter word is NAME=VALUE or NAME:TYPE=VALUE. NAME is an MQ constant
 * name (any case) or a number; TYPE is int, int64, string, intlist, int64list,
 * bytes (hexadecimal VALUE). Without TYPE the name decides: a name ending in
 * _ATTRS is an integer list, MQCA* a string, MQBACF* a byte string, MQIAMO64*
 * a 64-bit integer, a VALUE with a comma an integer list, MQIA* an integer;
 * any other name is an integer when VALUE is a number or a constant name and
 * a string otherwise. A NAME given as a number needs TYPE. Integer values are
 * numbers (decimal or 0x hexadecimal) or constant names.
 */
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "mqconst/mqi.h"

/* Parameter value types a word may force with NAME:TYPE=VALUE. */
enum {
    MQCMD_PTYPE_NONE = 0, /* decided by the name and the value */
    MQCMD_PTYPE_INT,
    MQCMD_PTYPE_INT64,
    MQCMD_PTYPE_STRING,
    MQCMD_PTYPE_INTLIST,
    MQCMD_PTYPE_INT64LIST,
    MQCMD_PTYPE_BYTES
};

/* Every procedure below that can fail returns 0, MQRCCF_PARM_SYNTAX_ERROR
 * (3097) for a word that cannot be read or MQRCCF_PARM_VALUE_ERROR (3229) for
 * an unknown name or a value out of range, with err (errSize bytes, always
 * terminated) saying which; on failure its outputs are left as found. */

/* A command given as "INQUIRE_Q", "MQCMD_INQUIRE_Q" or "13". */
int ParseCommandCode(const char *text, MQLONG *command, char *err, size_t errSize);

/* An integer given as a number (decimal, or hexadecimal after 0x, optionally
 * negative) or as a constant name. 32-bit values may be written unsigned
 * (up to 0xFFFFFFFF) and wrap as an MQLONG does. */
int ParseIntegerValue(const char *text, size_t len, MQLONG *value, char *err, size_t errSize);
int ParseInteger64Value(const char *text, size_t len, int64_t *value, char *err, size_t errSize);

/* Replace *msg with an MQCFH: Type MQCFT_COMMAND, Version 1, the command,
 * MsgSeqNumber 1, Control MQCFC_LAST, no parameters. */
void StartPcfCommand(std::vector<MQBYTE> *msg, MQLONG command);

/* Append the parameter of one NAME[:TYPE]=VALUE word to a message begun by
 * StartPcfCommand; ParameterCount grows by one and Version rises to 2 for a
 * byte string, to 3 for 64-bit integers. */
int AddParameterWord(std::vector<MQBYTE> *msg, const char *word, char *err, size_t errSize);

/* Append an MQCFST (CodedCharSetId MQCCSI_DEFAULT, StrucLength rounded up to
 * a multiple of 4, padding zero) or an MQCFIN; ParameterCount grows by one. */
void AddStringParameter(std::vector<MQBYTE> *msg, MQLONG parameter, const char *s, size_t len);
void AddIntegerParameter(std::vector<MQBYTE> *msg, MQLONG parameter, MQLONG value);

/* Replace *msg with MQCMD_ESCAPE carrying MQIACF_ESCAPE_TYPE MQET_MQSC and
 * MQCACF_ESCAPE_TEXT text. */
void BuildEscapeCommand(std::vector<MQBYTE> *msg, const char *text, size_t len);

/* A message or correlation identifier given as up to 48 hexadecimal digits
 * (an even number); id (24 bytes) is zero-filled after them. */
int ParseHexId(const char *hex, MQBYTE *id, char *err, size_t errSize);

/* A Format: "NONE" (MQFMT_NONE, eight blanks) or up to 8 characters,
 * blank-padded into format (8 bytes, no NUL). */
int ParseFormatName(const char *text, MQCHAR *format, char *err, size_t errSize);

/* Report options as a comma list of MQRO_ names with or without their
 * prefix (PASS_MSG_ID,PASS_CORREL_ID) or numbers, ORed into *report. */
int ParseReportOptions(const char *text, MQLONG *report, char *err, size_t errSize);
