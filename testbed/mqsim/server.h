/* server.h -- the mqsim daemon's connections and the MQI served over them.
 *
 * `mqsim run` makes the queue manager (qmgr.h), listens on 127.0.0.1 and
 * serves each connection on a reader thread of its own; frames to a
 * connection go out in order through its writer thread, so that no thread
 * ever blocks on another connection's socket. A waiting MQGET or a started
 * consumer is a WAITER on its queue: the put that brings a message hands it
 * over directly (no polling); a timer thread ends waits at their deadline.
 * A started connection's consumers are read ahead for: up to
 * READ_AHEAD_MESSAGES / READ_AHEAD_BYTES are pushed before the library
 * acknowledges them (DELIVERY), and what is not given to a callback goes
 * back where it was in its queue.
 *
 * Owns: CONN and HANDLE records (linked from QMGR.conns, under QMGR.lock).
 * Threads: accept (main), one reader and one writer per connection, timer.
 */
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "mqconst/mqi.h"
#include "platform/net.h"
#include "qmgr.h"
#include "wire.h"

constexpr int HANDLE_QUEUE = 1;
constexpr int HANDLE_QMGR = 2;

struct HANDLE {
    MQHOBJ hobj;
    int kind;                    /* HANDLE_QUEUE, HANDLE_QMGR */
    QUEUE *queue;                /* the queue messages go to / come from */
    QUEUE *defQueue;             /* the object opened (a remote definition), for MQINQ */
    MQLONG options;              /* MQOO_* of the open */
    char objectName[QNAME_SIZE]; /* as opened (a model's dynamic queue name) */
    char resolvedQName[QNAME_SIZE];
    char resolvedQMgrName[QMNAME_SIZE];
    int remote;         /* opened through a transmission queue */
    int createdDynamic; /* this open created the (dynamic) queue */
    uint64_t browseSeq; /* browse cursor: seq of the message last browsed */
    /* message consumer (MQCB) */
    int consumer;          /* registered */
    int consumerSuspended; /* MQOP_SUSPEND on it, or stopped by 2080 */
    MQLONG cbGmoOptions;
    MQLONG cbMatchOptions;
    MQLONG cbMaxMsgLength;
    MQMD cbMatch;
    int inhibitNotified; /* 2016 event sent while GET(DISABLED) */
};

/* A message pushed to a consumer of the connection whose acknowledgement
 * has not come yet. The library acknowledges a push once it has decided
 * whether the message goes to a callback (delivered) or not (it comes back
 * to its queue, where it was). Until then a message that is not locked by
 * a unit of work belongs to the DELIVERY, out of its queue. A message under
 * syncpoint stays in its queue, locked; once given to its callback it is
 * part of the unit of work, and its DELIVERY stays (given) until the
 * callback has returned, so that nothing more is pushed meanwhile. */
struct DELIVERY {
    uint32_t seq;   /* the push's number, echoed in the ACK */
    MSG *msg;       /* the message */
    QUEUE *queue;   /* where it came from */
    HANDLE *handle; /* the consumer; deliveries go back before a handle closes */
    int locked;     /* it stays in its queue, locked by the unit of work */
    int given;      /* locked, and in its callback now: never put back; msg is null
                     * then (the unit of work has the message) */
    size_t bytes;   /* the message's length, counted in CONN.inflightBytes */
};

/* Read-ahead: a started connection gets messages pushed without waiting for
 * each acknowledgement, up to this many messages or bytes in flight (at
 * least one message, whatever its size). A consumer that gets under
 * syncpoint is given one message at a time. */
constexpr size_t READ_AHEAD_MESSAGES = 64;
constexpr size_t READ_AHEAD_BYTES = 1048576;

/* A frame waiting for the writer thread. */
struct OUTFRAME {
    OUTFRAME *next;
    uint8_t *data;
    size_t len;
};

struct CONN {
    CONN *next;  /* in QMGR.conns (MQI connections only) */
    uint32_t id; /* for the log */
    PLSOCKET sock;
    int connected; /* CONNECT done */
    char userId[MQ_USER_ID_LENGTH + 1];
    char applName[MQ_PUT_APPL_NAME_LENGTH + 1];
    MQLONG applType;
    std::vector<HANDLE *> handles;     /* index hobj - HOBJ_BASE; null when closed */
    int started;                       /* MQCTL START in force */
    int suspended;                     /* MQCTL SUSPEND in force */
    int eventHandler;                  /* MQCB event handler registered */
    size_t nextConsumer;               /* round-robin start among consumers */
    std::deque<DELIVERY> inflight;     /* pushed, not yet acknowledged; in push order */
    size_t inflightBytes;              /* their message bytes */
    int inflightLocked;                /* how many of them are locked by the unit of work */
    uint32_t deliverySeq;              /* numbers pushes, echoed in ACK */
    WAITER *getWaiter;                 /* the MQGET with wait in progress */
    std::vector<WAITER *> idleWaiters; /* consumer waiters while idle */
    int uowActive;                     /* messages locked by this connection's unit of work */
    int broken;                        /* being torn down */
    int replyReady;                    /* reader: the request's reply is built, to send */
    /* output (outMutex) */
    std::mutex outMutex;
    std::condition_variable outCv;
    OUTFRAME *outHead;
    OUTFRAME *outTail;
    int writerBusy; /* a thread is sending on the socket */
    int writerStop;
    std::thread writer;
};

constexpr MQHOBJ HOBJ_BASE = 101; /* first object handle of a connection */

/* Run the daemon for opts (`mqsim run`): returns the process exit code. */
int RunDaemon(const QMGROPTIONS *opts);

/* Queue q became GET(DISABLED): waiting gets fail with 2016, started
 * consumers get an event call with 2016. Lock held. */
void NotifyGetInhibited(QMGR *qm, QUEUE *q);
/* Queue q became GET(ENABLED): consumers may take messages again. Lock held. */
void NotifyGetAllowed(QMGR *qm, QUEUE *q);

/* Offer message m, visible in its queue, to the waiting get or consumer w
 * (called by OfferMessage; lock held). Returns 1 when w took it (unlinked
 * and owned by the connection now, or locked by its unit of work), 0 when
 * it declined (a message too long for a get's buffer: that get then ends
 * with 2080 and the message stays for others). */
int DeliverToWaiter(QMGR *qm, WAITER *w, MSG *m);
/* Remove a waiter from its queue and the timed list (lock held; not freed). */
void RemoveWaiter(QMGR *qm, WAITER *w);
/* Queue q is being deleted and its messages freed: pushed messages of q
 * that are still in it (locked by a unit of work) are forgotten by their
 * connections (lock held). */
void ForgetDeliveries(QMGR *qm, QUEUE *q);
