/* mqcmd_replyset.h -- when a set of replies is complete, and how long to wait next.
 *
 * The rule: a set is complete at the first PCF reply whose Control has the
 * MQCFC_LAST bit (Control & 1; a consolidated reply carries more bits), or at
 * a text reply with a z/OS completion line ("CSQ9022I", "CSQ9023E",
 * "CSQ9023I"); after that the requester goes on reading for the linger
 * interval. Text replies without a completion line complete the set when no
 * further reply arrives for the linger interval. Nothing complete by the wait
 * deadline: the wait has expired.
 *
 * Owns: nothing global; a REPLYSET belongs to its caller. Times are the
 * caller's monotonic milliseconds, so the rule is tested without a clock.
 * Threads: any.
 */
#pragma once

#include <cstddef>
#include <cstdint>

#include "mqconst/mqi.h"

struct REPLYSET {
    uint64_t deadlineMs;  /* the end of --wait */
    uint64_t lingerMs;    /* --linger */
    int complete;         /* 1 once the set is complete */
    uint64_t lingerEndMs; /* complete: reading ends here */
    int textOpen;         /* a text reply without a completion line came last */
    uint64_t lastReplyMs; /* arrival of the latest reply */
    long messages;        /* replies noted */
    uint64_t bytes;       /* their lengths added up */
};

/* Results of NextReplyWait. */
enum { REPLYSET_WAIT = 0, REPLYSET_DONE = 1, REPLYSET_EXPIRED = 2 };

/* A set whose request was sent at nowMs, waited for until nowMs + waitMs. */
void StartReplySet(REPLYSET *set, uint64_t nowMs, uint64_t waitMs, uint64_t lingerMs);

/* 1 when a reply of this Format (8 characters) and body completes a set:
 * a PCF reply (IsPcfFormat) of at least 36 bytes whose Control has bit 1,
 * or a text reply that begins with a completion line, or holds one right
 * after a zero byte (replies that an agent joined into one message). */
int ReplyCompletesSet(const MQCHAR *format, const MQBYTE *body, size_t len);

/* Count a reply that arrived at nowMs and apply the rule. */
void NoteReply(REPLYSET *set, uint64_t nowMs, const MQCHAR *format, const MQBYTE *body, size_t len);

/* At nowMs: REPLYSET_WAIT with *waitMs (>= 1) to wait for the next reply,
 * REPLYSET_DONE when the set is complete and its linger is over (or text
 * replies fell silent for the linger interval, which completes the set), or
 * REPLYSET_EXPIRED when the wait deadline passed first. */
int NextReplyWait(REPLYSET *set, uint64_t nowMs, uint64_t *waitMs);
