/* queue_attrs.h -- the attributes of queues and of the queue manager as the
 * command server reports them.
 *
 * One table per object kind lists every attribute an inquiry returns, in
 * reply order, with its PCF selector, its MQ length (strings are sent
 * blank-padded to it) and, for queues, the queue types that have it. Values
 * come from the QATTRS / QMGRATTRS snapshots; attributes the stand-in does
 * not model report what a new object on a real queue manager has.
 *
 * Owns: the two tables (read-only). Threads: any.
 */
#pragma once

#include <cstddef>

#include "mqconst/mqi.h"
#include "qmgr.h"

/* Queue types an attribute belongs to (ATTRDEF.qtypes). */
constexpr unsigned ATTR_LOCAL = 1;
constexpr unsigned ATTR_MODEL = 2;
constexpr unsigned ATTR_REMOTE = 4;

struct ATTRDEF {
    MQLONG selector; /* MQCA_* or MQIA_* */
    MQLONG length;   /* MQ length of a string attribute (48 for a queue name); 0: an integer */
    unsigned qtypes; /* queue table: ATTR_* bits of the types that have it; qmgr table: 0 */
};

/* Every attribute of a queue, the name and type first; QueueAttrCount rows. */
extern const ATTRDEF QueueAttrDefs[];
extern const size_t QueueAttrCount;
/* Every attribute of the queue manager, the name first; QmgrAttrCount rows. */
extern const ATTRDEF QmgrAttrDefs[];
extern const size_t QmgrAttrCount;

/* The ATTR_* bit of an MQQT_* queue type, 0 for a type the stand-in lacks. */
unsigned QueueTypeBit(MQLONG qType);

/* The row of a queue (or queue manager) attribute selector, or null. */
const ATTRDEF *FindQueueAttr(MQLONG selector);
const ATTRDEF *FindQmgrAttr(MQLONG selector);

/* An integer attribute of queue a: returns 1 with *value, or 0 when selector
 * is not an integer attribute of a's queue type. */
int QueueAttrInt(const QATTRS *a, MQLONG selector, MQLONG *value);
/* A string attribute of queue a: its text (zero-terminated, unpadded, owned
 * by a or static), or null when selector is not a string attribute of a's
 * queue type. */
const char *QueueAttrString(const QATTRS *a, MQLONG selector);

/* The value of table row d (of QueueAttrDefs) for queue a, without a
 * search: returns 1 with *text set (a string attribute, as above) or
 * *value set (an integer), or 0 when a's queue type lacks the attribute. */
int QueueAttrValue(const QATTRS *a, const ATTRDEF *d, MQLONG *value, const char **text);

/* The same for the queue manager's attributes. */
int QmgrAttrInt(const QMGRATTRS *a, MQLONG selector, MQLONG *value);
const char *QmgrAttrString(const QMGRATTRS *a, MQLONG selector);
