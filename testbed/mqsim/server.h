/* server.h -- the mqsim daemon's connections and the MQI served over them.
 *
 * `mqsim run` makes the queue manager (qmgr.h), listens on 127.0.0.1 and
 * serves each connection on a reader thread of its own; frames to a
 * connection go out in order through its writer thread, so that no thread
 * ever blocks on another connection's socket. A waiting MQGET or a started
 * consumer is a WAITER on its queue: the put that brings a message hands it
 * over directly (no polling); a timer thread ends waits at their deadline.
 *
 * Owns: CONN and HANDLE records (linked from QMGR.conns, under QMGR.lock).
 * Threads: accept (main), one reader and one writer per connection, timer.
 */
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "mq/mqi.h"
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
    int deliveryBusy;                  /* a push awaits the library's ACK */
    MSG *inflight;                     /* the message pushed, when removed from its queue */
    QUEUE *inflightQueue;              /* where it came from (for putting it back) */
    int inflightLocked;                /* it stays in its queue, locked by the unit of work */
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
