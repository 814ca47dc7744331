/* mqcmd_format.h -- printing received messages as text or as JSON Lines.
 *
 * Owns: nothing global. Output is appended to a caller's std::string so that
 * main decides where it goes (and tests can compare it).
 * Threads: any.
 */
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "mqconst/mqi.h"

/* 1 when a message of this 8-character Format carries PCF ("MQADMIN ",
 * "MQEVENT ", "MQPCF   "), else 0. */
int IsPcfFormat(const MQCHAR *format);

/* One received message: number n (from 1), its descriptor, body and length.
 * Text form: a header line "Message n: length L, format F, CompCode C,
 * Reason R, Control X, MsgId H, CorrelId H", then a line NAME(value) per
 * parameter (groups indented below their own line), or the text itself, and
 * a "malformed at offset N: ..." line when the PCF walk stopped at a fault. */
void FormatMessageText(std::string *out, long n, const MQMD *md, const MQBYTE *body, size_t len);

/* JSON form: one object on one line, ending in a newline:
 * {"n","length","format","msgType","msgId","correlId","putApplName",
 *  "userIdentifier","pcf":{...}|null,"text":null|"..."} and, when the PCF
 * walk stopped at a fault, "malformed":{"offset":N,"error":"..."} inside
 * "pcf" (or at top level when the message is too short for an MQCFH). */
void FormatMessageJson(std::string *out, long n, const MQMD *md, const MQBYTE *body, size_t len);

/* "N messages, B bytes, T ms" and its JSON form
 * {"summary":{"messages":N,"bytes":B,"ms":T,"complete":true|false}}; each
 * ends in a newline. */
void FormatSummaryText(std::string *out, long messages, uint64_t bytes, uint64_t ms);
void FormatSummaryJson(std::string *out, long messages, uint64_t bytes, uint64_t ms, int complete);

/* s (len bytes, any content) as a JSON string with its quotes: valid UTF-8
 * sequences pass, quote and backslash are escaped, other bytes below 0x20
 * and bytes that are not valid UTF-8 become \u00XX (a zero byte \u0000). */
void AppendJsonString(std::string *out, const char *s, size_t len);

/* bytes as upper-case hexadecimal, two digits per byte. */
void AppendHex(std::string *out, const MQBYTE *bytes, size_t len);
