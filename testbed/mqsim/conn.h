/* conn.h -- the daemon's MQI connections, their handles and their frames.
 *
 * A CONN is one client of the MQI library: served by a reader thread of
 * its own (server.cpp), with a writer thread that sends the frames queued
 * for it in order, so that no thread ever blocks on another connection's
 * socket. Its HANDLEs are the objects it opened; its DELIVERYs the messages
 * pushed to its consumers and not yet acknowledged (delivery.h).
 *
 * Owns: nothing global; CONN and HANDLE records are linked from
 * QMGR.conns and guarded by QMGR.lock, except the output fields (outMutex).
 * Threads: frames are queued from any thread; SendFrame's direct path only
 * from the connection's reader.
 */
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
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
    int browser;           /* the consumer browses (MQGMO_BROWSE_*): copies, nothing removed */
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
    int browse;     /* msg is a copy for a browsing consumer; the queue keeps its own */
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
    size_t handleCount;                /* open handles (MAXHANDS bounds it) */
    int started;                       /* MQCTL START in force (STARTED or SUSPENDED) */
    int suspended;                     /* MQCTL SUSPEND in force (SUSPENDED) */
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

/* ---- conn.cpp -- frames ----------------------------------------------------------- */

/* Move a finished frame into c's out queue and wake its writer. Takes the
 * buffer: w is empty afterwards. Any thread; outMutex only. */
void QueueFrame(CONN *c, WBUF *w);
/* Send a frame to c. From c's own reader thread (fromReader) it goes
 * straight to the socket when nothing is queued before it (w is kept for
 * reuse); otherwise it is queued. */
void SendFrame(CONN *c, WBUF *w, int fromReader);
/* The writer thread of c: sends queued frames, gathering small ones, until
 * writerStop is set and the queue is empty. */
void WriterMain(CONN *c);
/* Queue an event frame for c (a consumer's hobj, or 0 for the connection). */
void PushEvent(CONN *c, MQHOBJ hobj, MQLONG compCode, MQLONG reason);
/* Build a status-only reply in w; the reader sends it after the lock. */
void ReplyStatus(CONN *c, WBUF *w, uint16_t type, uint32_t tag, MQLONG rc);

/* ---- conn.cpp -- handles and triggers ------------------------------------------------ */

/* c's handle hobj, or null (lock held). */
HANDLE *FindHandle(CONN *c, MQHOBJ hobj);
/* Remember that queue qName's trigger is due once the lock is released
 * (the calling reader's list), and run the due triggers (no lock held). */
void AddPendingTrigger(const char *qName);
void RunPendingTriggers(QMGR *qm);
