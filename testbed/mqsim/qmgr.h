/* qmgr.h -- the stand-in queue manager's objects, messages and internal API.
 *
 * One daemon holds one queue manager, the global record TheQmgr: its
 * attributes, its queues (local, model, remote) with their messages in
 * memory, its processes and services, the injected faults, and the MQI
 * connections of the MQI library (the daemon's connection modules fill
 * those in, and hear of what happens to queues through QMGRHOOKS).
 *
 * Owns: QMGR and everything hanging from it. Locking: QMGR.lock (a plain
 * std::mutex, never held across a blocking call) guards every field below
 * unless its comment says otherwise; "lock held" procedures expect it held,
 * the others take it themselves.
 *
 * For the command server (cmdserver.cpp) and the trigger monitor, the
 * procedures under "Internal API" are the ones to use: snapshots of queue
 * and queue-manager attributes (QATTRS, QMGRATTRS), changing attributes,
 * taking the next message off a queue with a wait that InterruptGets ends,
 * putting a message by queue name with a full MQMD exactly as MQPUT would,
 * and the trigger hook. The MQSC engine is in admin.h.
 */
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "mq/mqi.h"

struct CONN;   /* an MQI connection (conn.h); opaque here */
struct HANDLE; /* an object handle of a connection (conn.h); opaque here */

constexpr size_t QNAME_SIZE = MQ_Q_NAME_LENGTH + 1;      /* 48 characters and a NUL */
constexpr size_t QMNAME_SIZE = MQ_Q_MGR_NAME_LENGTH + 1; /* 48 characters and a NUL */
constexpr MQLONG MQSIM_DEFAULT_MAXDEPTH = 100000;
constexpr MQLONG MQSIM_DEFAULT_MAXMSGL = 4194304;
constexpr MQLONG MQSIM_LARGEST_MAXMSGL = 104857600; /* 100 MB, MQ's own limit */
constexpr MQLONG MQSIM_COMMAND_LEVEL = MQCMDL_LEVEL_940;

/* ---- Records ------------------------------------------------------------- */

/* Message states. An uncommitted put is invisible to gets; an uncommitted
 * get is invisible too and comes back on MQBACK. Both count in the depth. */
constexpr int MSG_VISIBLE = 0;
constexpr int MSG_UNCOMMITTED_PUT = 1;
constexpr int MSG_UNCOMMITTED_GET = 2;

struct MSG {
    MSG *next;          /* towards the tail of the queue */
    MSG *prev;          /* towards the head */
    MQMD md;            /* version 2, priority and persistence resolved */
    MQBYTE *data;       /* malloc'd, length bytes; owned by the MSG */
    MQLONG length;      /* message data length */
    uint64_t seq;       /* arrival order in the queue manager (browse cursors) */
    uint64_t expiresMs; /* monotonic ms when it expires; 0 never */
    int state;          /* MSG_* */
    CONN *lockedBy;     /* the connection of an uncommitted put or get */
};

/* Attributes of a queue: what DISPLAY and inquiries report. The live values
 * (depth, open counts) are filled in snapshots. Character fields are
 * zero-terminated, without trailing blanks. */
struct QATTRS {
    char name[QNAME_SIZE];
    MQLONG qType;                     /* MQQT_LOCAL, _MODEL, _REMOTE */
    char descr[MQ_Q_DESC_LENGTH + 1]; /* DESCR */
    MQLONG maxDepth;                  /* MAXDEPTH */
    MQLONG maxMsgLength;              /* MAXMSGL */
    MQLONG inhibitGet;                /* MQQA_GET_INHIBITED / _ALLOWED */
    MQLONG inhibitPut;                /* MQQA_PUT_INHIBITED / _ALLOWED */
    MQLONG defType;                   /* DEFTYPE of a model; a local queue's origin */
    MQLONG usage;                     /* MQUS_NORMAL / _TRANSMISSION */
    MQLONG defPersistence;            /* MQPER_* */
    MQLONG defPriority;               /* 0-9 */
    MQLONG shareability;              /* MQQA_SHAREABLE / _NOT_SHAREABLE */
    MQLONG defInputOpenOption;        /* MQOO_INPUT_SHARED / _EXCLUSIVE */
    MQLONG msgDeliverySequence;       /* MQMDS_PRIORITY / _FIFO */
    MQLONG triggerControl;            /* MQTC_ON / _OFF */
    MQLONG triggerType;               /* MQTT_* */
    MQLONG triggerDepth;              /* TRIGDPTH */
    MQLONG triggerMsgPriority;        /* TRIGMPRI */
    char initQName[QNAME_SIZE];       /* INITQ */
    char processName[QNAME_SIZE];     /* PROCESS */
    char triggerData[MQ_TRIGGER_DATA_LENGTH + 1];
    char remoteQName[QNAME_SIZE];                   /* RNAME */
    char remoteQMgrName[QMNAME_SIZE];               /* RQMNAME */
    char xmitQName[QNAME_SIZE];                     /* XMITQ */
    char creationDate[MQ_CREATION_DATE_LENGTH + 1]; /* "YYYY-MM-DD" */
    char creationTime[MQ_CREATION_TIME_LENGTH + 1]; /* "HH.MM.SS" */
    char alterationDate[MQ_CREATION_DATE_LENGTH + 1];
    char alterationTime[MQ_CREATION_TIME_LENGTH + 1];
    MQLONG curDepth;        /* live: messages on the queue */
    MQLONG openInputCount;  /* live: handles open for input */
    MQLONG openOutputCount; /* live: handles open for output */
};

struct WAITER;
struct QMGR;

struct QUEUE {
    QATTRS a;           /* attributes; live fields kept current */
    MSG *head;          /* first message (highest priority, oldest) */
    MSG *tail;          /* last message */
    int exclusiveInput; /* 1 while a handle has it open MQOO_INPUT_EXCLUSIVE */
    CONN *owner;        /* creator of a temporary dynamic queue, else null */
    WAITER *waiters;    /* gets and consumers waiting for a message, oldest first */
    int openHandles;    /* handles of any connection that refer to it */
    int deleted;        /* deleted while handles were open: out of QMGR.queues,
                         * freed when the last handle closes */
};

/* Process definition (DEFINE PROCESS). */
struct PROCESS {
    char name[QNAME_SIZE];
    char descr[MQ_PROCESS_DESC_LENGTH + 1];
    MQLONG applType;                                /* MQAT_* */
    char applId[MQ_PROCESS_APPL_ID_LENGTH + 1];     /* APPLICID */
    char envData[MQ_PROCESS_ENV_DATA_LENGTH + 1];   /* ENVRDATA */
    char userData[MQ_PROCESS_USER_DATA_LENGTH + 1]; /* USERDATA */
    char creationDate[MQ_CREATION_DATE_LENGTH + 1];
    char creationTime[MQ_CREATION_TIME_LENGTH + 1];
};

/* Service definition (DEFINE SERVICE): kept, never started. */
struct SERVICE {
    char name[MQ_SERVICE_NAME_LENGTH + 1];
    char descr[MQ_SERVICE_DESC_LENGTH + 1];
    std::vector<std::pair<std::string, std::string>> attrs; /* keyword, value as given */
};

/* An injected fault (mqsim fault). */
struct FAULT {
    FAULT *next;
    char verb[16];           /* "MQPUT" for `fault put` (also matches MQPUT1) */
    char object[QNAME_SIZE]; /* object name, or "*" */
    int anyPut;              /* 1 for `fault put`: MQPUT and MQPUT1 */
    MQLONG reason;
    MQLONG count; /* remaining; -1 until cleared */
};

/* A get waiting for a message. */
constexpr int WAIT_GET = 1;      /* an MQGET with wait of a connection */
constexpr int WAIT_CONSUMER = 2; /* a started consumer of an idle connection */
constexpr int WAIT_INTERNAL = 3; /* GetMessageWait in the daemon */

struct WAITER {
    WAITER *next;      /* in QUEUE.waiters */
    WAITER *nextTimed; /* in QMGR.timed, when it has a deadline */
    int kind;          /* WAIT_* */
    QUEUE *queue;
    CONN *conn;     /* WAIT_GET, WAIT_CONSUMER */
    HANDLE *handle; /* WAIT_GET, WAIT_CONSUMER */
    MQMD match;     /* MsgId, CorrelId, GroupId to match */
    MQLONG matchOptions;
    MQLONG gmoOptions;
    MQLONG bufferLength; /* WAIT_GET: the caller's buffer */
    uint32_t tag;        /* WAIT_GET: tag of the request to answer */
    uint64_t deadlineMs; /* monotonic ms; 0 none */
    /* WAIT_INTERNAL: the result handed over under the lock */
    int done;
    MQLONG reason;
    MSG *msg;
    std::condition_variable *cv;
};

/* Who an MQI put comes from: the default context it gets and the
 * connection whose unit of work a syncpoint put joins. */
struct PUTTER {
    CONN *conn;           /* locks the message under syncpoint; null: the daemon itself */
    const char *userId;   /* zero-terminated; used when conn is set */
    const char *applName; /* zero-terminated; used when conn is set */
    MQLONG applType;      /* 0: the platform's own type */
};

/* What the queue manager tells the daemon's connection modules. They set
 * these once before any thread starts; a null entry does nothing (the
 * command server's tests run a queue manager without connections). Every
 * hook is called with QMGR.lock held. */
struct QMGRHOOKS {
    /* Offer message m, visible in its queue, to the waiting get or consumer
     * w. Returns 1 when w took it (unlinked and owned by the connection, or
     * locked by its unit of work), 0 when it declined (the message stays). */
    int (*deliverToWaiter)(QMGR *qm, WAITER *w, MSG *m);
    /* Queue q is being deleted: connections forget what they hold of it. */
    void (*forgetDeliveries)(QMGR *qm, QUEUE *q);
    /* Queue q became GET(DISABLED) / GET(ENABLED). */
    void (*getInhibited)(QMGR *qm, QUEUE *q);
    void (*getAllowed)(QMGR *qm, QUEUE *q);
};

/* Options of `mqsim start` / `mqsim run`. */
struct QMGROPTIONS {
    char name[QMNAME_SIZE];
    MQLONG platform;                                /* MQPL_UNIX, MQPL_WINDOWS_NT, MQPL_ZOS */
    int queues;                                     /* --queues N */
    char clientChannel[MQ_CHANNEL_NAME_LENGTH + 1]; /* --client-channel */
    int refuseCnoV7;                                /* --refuse-cno-v7 */
    int makeDefault;                                /* --default */
    char mqscFile[1024];                            /* --mqsc FILE, absolute */
};

/* Attributes of the queue manager (zero-terminated, no trailing blanks). */
struct QMGRATTRS {
    char name[QMNAME_SIZE];
    char descr[MQ_Q_MGR_DESC_LENGTH + 1];
    char identifier[MQ_Q_MGR_IDENTIFIER_LENGTH + 1];
    MQLONG platform;
    MQLONG commandLevel;
    MQLONG codedCharSetId;
    MQLONG maxMsgLength;
    MQLONG maxHandles;
    MQLONG maxPriority;
    MQLONG syncpoint;
    char sslKeyRepository[MQ_SSL_KEY_REPOSITORY_LENGTH + 1]; /* SSLKEYR */
    char certLabel[MQ_CERT_LABEL_LENGTH + 1];                /* CERTLABL */
    MQLONG sslEvent;                                         /* MQEVR_ENABLED / _DISABLED */
    char deadLetterQName[QNAME_SIZE];
    char commandInputQName[QNAME_SIZE];
    char creationDate[MQ_CREATION_DATE_LENGTH + 1];
    char creationTime[MQ_CREATION_TIME_LENGTH + 1];
    char alterationDate[MQ_CREATION_DATE_LENGTH + 1];
    char alterationTime[MQ_CREATION_TIME_LENGTH + 1];
};

struct QMGR {
    std::mutex lock;
    QMGRHOOKS hooks; /* set before any thread starts; read without the lock */
    QMGRATTRS a;
    QMGROPTIONS opts;
    std::map<std::string, QUEUE *> queues; /* by name, so in name order */
    std::map<std::string, PROCESS *> processes;
    std::map<std::string, SERVICE *> services;
    FAULT *faults;                   /* in the order given */
    CONN *conns;                     /* MQI connections (conn.h) */
    int connCount;                   /* their number */
    WAITER *timed;                   /* waiters with a deadline */
    std::condition_variable timerCv; /* wakes the timer thread (delivery.cpp) */
    uint64_t msgIdBase;              /* start time in microseconds */
    uint64_t msgIdCounter;           /* messages and dynamic names made */
    uint64_t msgSeq;                 /* arrival counter */
    std::atomic<int> quiescing;      /* `stop --quiesce` under way (read without the lock) */
    std::atomic<int> stopping;       /* the daemon is ending (read without the lock) */
    /* Command server state (cmdserver.cpp): stopped/started and the reply
     * delay set by `mqsim cmdserver`; read without the lock. */
    std::atomic<int> cmdServerRunning;
    std::atomic<MQLONG> cmdServerDelayMs;
    void *cmdServerData; /* owned by cmdserver.cpp */
    /* Context of the last command the command server took (mqsim status). */
    char lastCmdUser[MQ_USER_ID_LENGTH + 1];
    char lastCmdApplName[MQ_PUT_APPL_NAME_LENGTH + 1];
};

/* The daemon's queue manager; set by `mqsim run` before any thread starts. */
extern QMGR *TheQmgr;

/* ---- qmgr.cpp -- the queue manager's life ---------------------------------- */

/* A new queue manager with its system objects (and APP.QUEUE.nnnn for
 * --queues). Returns null when memory runs out. */
QMGR *NewQmgr(const QMGROPTIONS *opts);
/* Free it and everything it holds; no other thread may use it any more. */
void FreeQmgr(QMGR *qm);

/* ---- qmgr.cpp -- names and time --------------------------------------------- */

/* MQ's generic match: pattern "*" matches all, "ABC*" any name starting
 * with ABC, otherwise an exact match. Returns 1 on a match. */
int GenericMatch(const char *pattern, const char *name);
/* 1 when name is a valid MQ object name: 1-48 characters of A-Z a-z 0-9 . / _ % */
int ValidObjectName(const char *name, size_t maxLen);
/* Today's date "YYYY-MM-DD" and time "HH.MM.SS" (local time). */
void CurrentDateTime(char *date, char *time);
/* Current monotonic milliseconds. */
uint64_t NowMs(void);
/* A new 24-byte identifier: "AMQ ", the queue manager name in 12 characters,
 * 8 bytes unique in the queue manager's life. Lock held. */
void MakeUniqueId(QMGR *qm, MQBYTE *id);

/* ---- qmgr.cpp -- objects (lock held) ----------------------------------------- */

QUEUE *FindQueue(QMGR *qm, const char *name);
PROCESS *FindProcess(QMGR *qm, const char *name);
/* A new queue with default attributes for its type (not yet linked). */
QUEUE *NewQueue(const char *name, MQLONG qType);
/* Link q into the queue manager. */
void AddQueue(QMGR *qm, QUEUE *q);
/* Delete q: internal waiters end with 2052, its messages are freed, it
 * leaves QMGR.queues; the record itself is freed now, or with the last of
 * its open handles (it is then marked deleted, and calls on those handles
 * fail with MQRC_Q_DELETED). Connections' waiters must be gone already. */
void DeleteQueue(QMGR *qm, QUEUE *q);
/* Free all messages of q that are not locked by a unit of work. Returns
 * MQRC_OBJECT_IN_USE (2042) when some are (nothing removed then). */
MQLONG ClearQueue(QMGR *qm, QUEUE *q);
/* The attributes of q with the live fields. */
void SnapshotQueue(const QUEUE *q, QATTRS *out);

/* Queue q's GET attribute was changed from wasInhibited (1: it was
 * GET(DISABLED)) to its current value: waiting gets and consumers hear of a
 * change through the hooks. */
void NoteGetInhibitChange(QMGR *qm, QUEUE *q, int wasInhibited);

/* ---- qmgr.cpp -- waiters (lock held) ------------------------------------------ */

/* Add w at the end of its queue's waiters and, with a deadline, to the
 * timed list (waking the timer). */
void AddWaiter(QMGR *qm, WAITER *w);
/* Remove a waiter from its queue and the timed list (not freed). */
void RemoveWaiter(QMGR *qm, WAITER *w);

/* ---- qmgr.cpp -- messages (lock held) ----------------------------------------- */

/* Criteria of a get: MsgId, CorrelId, GroupId to match (MQMO_* options;
 * an all-zero identifier matches any). */
int MessageMatches(const MSG *m, const MQMD *match, MQLONG matchOptions);
/* The first visible, unexpired message of q matching the criteria, with
 * seq > afterSeq (browse cursors; 0 for any). Expired messages met on the
 * way are removed. */
MSG *FindMessage(QMGR *qm, QUEUE *q, const MQMD *match, MQLONG matchOptions, uint64_t afterSeq);
/* Unlink m from q (the caller then owns it). */
void UnlinkMessage(QUEUE *q, MSG *m);
/* Link m into q in priority order (FIFO within a priority, or FIFO only
 * for MSGDLVSQ(FIFO)). atFront puts back a message taken off q earlier:
 * it goes where its arrival order puts it, ahead of every message of its
 * priority that came after it, so messages put back in any order end up
 * in the order they had. */
void LinkMessage(QUEUE *q, MSG *m, int atFront);
void FreeMessage(MSG *m);

/* Put a message to a queue already resolved, as MQPUT does after the checks
 * of the handle: inhibit, MAXMSGL, MAXDEPTH, the descriptor's values, MsgId
 * and CorrelId generation, context. md is the caller's descriptor (version
 * 2 layout); on success it holds what was stored (MsgId etc.). who is the
 * putter (its default context; its connection locks a syncpoint put, and
 * the caller then marks that connection's unit of work active). Waiting
 * gets and consumers are served at once.
 * *triggerDue is set when the queue went from empty to not empty (the
 * caller runs TriggerArrival after releasing the lock).
 * Returns 0 or the MQ reason; on failure nothing changed. */
MQLONG PutToQueue(QMGR *qm, QUEUE *q, const PUTTER *who, MQMD *md, MQLONG pmoOptions,
                  const MQBYTE *data, MQLONG length, int *triggerDue);

/* Resolve a destination like MQOPEN for output: a local queue, a remote
 * queue definition (through its transmission queue), or a queue on another
 * queue manager (through the local queue of that name). Returns 0 with *dest
 * the queue the message goes to and the resolved names (QNAME_SIZE each,
 * may be null), or 2085 / 2087 / 2057 (model or wrong type). */
MQLONG ResolveDestination(QMGR *qm, const char *qName, const char *qmgrName, QUEUE **dest,
                          char *resolvedQ, char *resolvedQMgr);

/* Hand a message that became visible on q to the first waiter that wants
 * it (lock held). Returns 1 when a waiter took it (m then no longer in q). */
int OfferMessage(QMGR *qm, QUEUE *q, MSG *m);

/* ---- qmgr.cpp -- faults (lock held) --------------------------------------------- */

/* The reason of the first fault matching verb and object (counting it
 * down), or 0. */
MQLONG CheckFault(QMGR *qm, const char *verb, const char *object);
void ClearFaults(QMGR *qm);

/* ---- Internal API (takes the lock itself) ----------------------------------------- */

/* Snapshots of the queue manager's attributes, one queue, or every queue
 * whose name matches a generic name (GenericMatch) and whose type is qType
 * (MQQT_ALL for all), in name order. Return 0 or MQRC_UNKNOWN_OBJECT_NAME
 * (2085: no such queue / none matched). */
void GetQmgrAttrs(QMGR *qm, QMGRATTRS *out);
MQLONG GetQueueAttrs(QMGR *qm, const char *name, QATTRS *out);
MQLONG ListQueues(QMGR *qm, const char *generic, MQLONG qType, std::vector<QATTRS> *out);

/* Change a queue manager attribute: MQCA_SSL_KEY_REPOSITORY, MQCA_CERT_LABEL,
 * MQCA_Q_MGR_DESC (strings) or MQIA_SSL_EVENT (MQEVR_ENABLED/_DISABLED).
 * Returns 0, MQRC_SELECTOR_ERROR (2067) for another selector, or
 * MQRC_CHAR_ATTR_LENGTH_ERROR (2006) for a string too long. */
MQLONG SetQmgrString(QMGR *qm, MQLONG selector, const char *value);
MQLONG SetQmgrInt(QMGR *qm, MQLONG selector, MQLONG value);

/* Put a message by queue name (qmgrName empty or null: the local queue
 * manager; another name goes through the transmission queue of that name)
 * exactly as MQPUT1 from a client: md (version 2 layout) in and out (MsgId
 * generated when MQMI_NONE unless given, context by pmoOptions: with
 * MQPMO_SET_ALL_CONTEXT md's context is kept, otherwise the daemon's own
 * default context with PutApplName "mqsim"). Returns 0 or the MQ reason. */
MQLONG PutMessage(QMGR *qm, const char *qName, const char *qmgrName, MQMD *md, MQLONG pmoOptions,
                  const MQBYTE *data, MQLONG length);

/* Take the next message from a local queue, waiting up to waitMs
 * (MQWI_UNLIMITED: no limit). md on input: MsgId / CorrelId to match
 * (zeros: any); on output the message's descriptor. *data (malloc'd, free
 * with FreeMessageData) and *length get the message. Returns 0;
 * MQRC_NO_MSG_AVAILABLE (2033) at the time-out or when InterruptGets ran;
 * MQRC_GET_INHIBITED (2016); MQRC_UNKNOWN_OBJECT_NAME (2085);
 * MQRC_Q_MGR_STOPPING (2162) when the daemon ends. With cancel given, a set
 * flag ends the wait with 2033 too: set it, then call InterruptGets, and no
 * wait can begin after the flag was set and last on. */
MQLONG GetMessageWait(QMGR *qm, const char *qName, MQLONG waitMs, MQMD *md, MQBYTE **data,
                      MQLONG *length, const std::atomic<int> *cancel = nullptr);
void FreeMessageData(MQBYTE *data);
/* End every GetMessageWait in progress with 2033 (used to stop a thread). */
void InterruptGets(QMGR *qm);

/* Record the context of a command the command server took (mqsim status). */
void NoteCommandContext(QMGR *qm, const MQMD *md);

/* Trigger hook: called (without the lock) with the queue's name after a
 * message arrived on a queue that was empty, when the queue has
 * TRIGGER set. The trigger monitor sets it; null: nothing happens. */
typedef void TRIGGERHOOK(QMGR *qm, const char *qName);
extern std::atomic<TRIGGERHOOK *> TriggerHook;
/* Run the hook for q if it is set and the queue is triggered. */
void TriggerArrival(QMGR *qm, const char *qName);

/* Log a line with a time stamp to the daemon's log (standard output). */
void LogLine(const char *fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
