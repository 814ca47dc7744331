/* mqcmd_replyset.cpp -- when a set of replies is complete, and how long to wait next.
 *
 * Owns: nothing. Threads: any.
 */
#include "mqcmd_replyset.h"

#include <cstring>

#include "mqconst/mqconst.h"
#include "mqconst/mqpcf.h"
#include "mqcmd_decode.h"
#include "mqcmd_format.h"

int ReplyCompletesSet(const MQCHAR *format, const MQBYTE *body, size_t len) {
    if (IsPcfFormat(format)) {
        if (len < MQCMD_CFH_LENGTH)
            return 0;
        return (PcfLongAt(body, offsetof(MQCFH, Control)) & MQCFC_LAST) != 0;
    }
    if (IsZosCompletionLine(body, len))
        return 1;
    for (size_t i = 0; i < len; i++)
        if (body[i] == '\0' && IsZosCompletionLine(body + i + 1, len - i - 1))
            return 1;
    return 0;
}

void StartReplySet(REPLYSET *set, uint64_t nowMs, uint64_t waitMs, uint64_t lingerMs) {
    memset(set, 0, sizeof *set);
    set->deadlineMs = nowMs + waitMs;
    set->lingerMs = lingerMs;
    set->lastReplyMs = nowMs;
}

void NoteReply(REPLYSET *set, uint64_t nowMs, const MQCHAR *format, const MQBYTE *body,
               size_t len) {
    set->messages++;
    set->bytes += len;
    set->lastReplyMs = nowMs;
    if (set->complete)
        return;
    if (ReplyCompletesSet(format, body, len)) {
        set->complete = 1;
        set->textOpen = 0;
        set->lingerEndMs = nowMs + set->lingerMs;
        return;
    }
    set->textOpen = !IsPcfFormat(format);
}

int NextReplyWait(REPLYSET *set, uint64_t nowMs, uint64_t *waitMs) {
    uint64_t end;
    if (set->complete) {
        end = set->lingerEndMs;
    } else if (set->textOpen) {
        end = set->lastReplyMs + set->lingerMs;
        if (nowMs >= end) { /* the text replies have fallen silent: that completes them */
            set->complete = 1;
            set->lingerEndMs = end;
            return REPLYSET_DONE;
        }
        if (end > set->deadlineMs)
            end = set->deadlineMs;
    } else {
        end = set->deadlineMs;
    }
    if (nowMs >= end)
        return set->complete ? REPLYSET_DONE : REPLYSET_EXPIRED;
    *waitMs = end - nowMs;
    return REPLYSET_WAIT;
}
