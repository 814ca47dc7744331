/* mqsc_tables.h -- the vocabulary of TORVIK's own MQSC command: the command
 * table, the DISPLAY CERT parameter table with its value names, and the
 * tokenizer shared by the MQSC parser and the filter language.
 *
 * Owns: MqscCommandTable, CertParamTable and the value-name tables (constant
 * data; the keyword lengths of CertParamTable are filled in once by the
 * filter compiler before the first filter is compiled).
 * Threads: any; nothing here keeps state between calls.
 */
#pragma once

#include <cstdint>

#include "config/units.h"
#include "mq/mqi.h"

/* One value name of an integer attribute, as keyword and display text. */
struct ValueNameDef {
    MQLONG value;
    const char *display; /* "Yes", "CA Certificate" ... */
    const char *keyword; /* "YES", "CACERT" ...; "" ends a table */
};

/* Record field types of MqscParamDef.fieldType. */
enum {
    FIELD_NONE = 0,   /* not a record field */
    FIELD_INT32 = 2,  /* INT32_MIN means not set */
    FIELD_TEXT = 14,  /* NUL-terminated, or fixedLength wide */
    FIELD_TIME64 = 25 /* seconds since 1970 UTC; INT64_MIN means not set */
};

/* One keyword of a command. The table ends with a row whose keyword is
 * null and whose parmId is 0. */
struct MqscParamDef {
    const char *verbModes;     /* verb letter + mode: '+' value, '*' optional, ' ' alone */
    char type;                 /* 's' text, 'i' integer, 't' time, 'a' attribute, 'w' filter */
    const char *keyword;       /* matched in full, case-insensitively */
    const ValueNameDef *names; /* value names of an integer, or null */
    MQLONG parmId;             /* PCF parameter built for the keyword */
    MQLONG unitsMask;          /* UNITS_* families (units.h) a compared operand may use */
    MQLONG fieldOffset;        /* offset in CERTREC when fieldType is not FIELD_NONE */
    MQLONG fieldType;          /* FIELD_* */
    MQLONG keywordLength;      /* strlen(keyword); 0 until set by the filter compiler */
    MQLONG fixedLength;        /* 0: NUL-terminated text; else fixed width, blank-padded */
};

/* One command TORVIK answers itself. The table ends with a row whose object
 * keyword is null. */
struct MqscCommandDef {
    char verbLetter;       /* 'd' */
    const char *verb;      /* "DISPLAY" */
    const char *verbShort; /* "DIS" */
    const char *object;    /* "CERT" */
    MqscParamDef *params;  /* CertParamTable */
    const char *helpText;  /* CVLA620E text sent after a syntax error */
    MQLONG command;        /* 9500 */
    MQLONG attrListId;     /* 20003 */
};

/* ---- tables ----------------------------------------------------------------- */

extern MqscCommandDef MqscCommandTable[];
extern MqscParamDef CertParamTable[];
extern const ValueNameDef YesNoNames[];
extern const ValueNameDef CertUsageNames[];
extern const ValueNameDef TrustNames[];
extern const char CertHelpText[];

/* Standard delimiter and separator sets of NextToken. */
extern const char MQSC_DELIMITERS[];
extern const char MQSC_SEPARATORS[];

/* ---- tokenizer and look-ups ------------------------------------------------ */

/* Read the next token of [*cursor, end): blanks (tab, LF, CR, space) are
 * skipped; a quoted token runs to the same quote (both included; unclosed:
 * to the end); a delimiter is a token of one character, two for the pairs
 * "<>", "!=", ">=", "<=", "=="; anything else runs to the first separator,
 * NUL or the end. On return *cursor is past the token. Returns 1 with
 * the token in start and length, or 0 when only blanks (or a NUL) remain. */
int NextToken(const char **cursor, const char *end, const char *delimiters, const char *separators,
              const char **start, int *length);

/* Position of the ')' closing the '(' just before p, quotes skipped (a
 * quote of the other kind inside a quoted run nests), or null. */
const char *FindClosingParen(const char *p, const char *end);

/* The value-name row for text[0..length): by value when the text is a
 * decimal number (optionally in single quotes, with a sign), else by keyword
 * (exact length, case-insensitive). Null when none matches. */
const ValueNameDef *LookupValueName(const ValueNameDef *names, const char *text, int length);
