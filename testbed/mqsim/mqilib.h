/* mqilib.h -- the stand-in MQI library (libmqm_r.so / mqm.dll): its records.
 *
 * Exports the MQI verbs with IBM's published C signatures and nothing else.
 * Each MQCONN/MQCONNX opens one TCP connection to the mqsim daemon on
 * 127.0.0.1 (port from the state directory, or MQSIM_ADDR) and checks every
 * argument as the MQI documents before anything is sent.
 *
 * The library is three files: mqilib.cpp (connections, the socket reader,
 * MQCONN/MQDISC), mqiverbs.cpp (the synchronous verbs) and mqiasync.cpp
 * (MQCB, MQCTL and the threads that call back). Per connection there is
 * an LCONN record with three threads of its own:
 *   - the reader takes every frame off the socket: replies go to the one
 *     call in progress, pushed messages and consumer events to the dispatch
 *     queue, connection events to the event queue;
 *   - the dispatch thread (from the first MQCTL START) calls the message
 *     consumers one at a time;
 *   - the event thread calls the event handler.
 * The daemon reads ahead for started consumers: it pushes messages without
 * waiting, and the library acknowledges them in batches. A push is
 * acknowledged as delivered when the dispatch thread decides to give it to
 * a callback, as not delivered when it will not (the daemon puts it back
 * where it was in its queue). Every request goes out after the
 * acknowledgements decided before it, so when the daemon takes an MQCTL
 * STOP, MQCB SUSPEND / DEREGISTER, MQCLOSE or MQDISC, whatever it still has
 * in flight was not given to a callback: it puts that back itself, and the
 * library drops its copies on the reply.
 * Locks: callMutex serialises the calls on one connection (try-locked for
 * MQCNO_HANDLE_SHARE_NO_BLOCK); sendMutex guards writes to the socket and
 * the taking of pending acknowledgements; mu guards the rest of the record.
 * Order: callMutex, sendMutex, mu. Callbacks run with no lock held, so they
 * may call the MQI themselves.
 */
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mqconst/mqi.h"
#include "platform/net.h"
#include "platform/platform.h"
#include "wire.h"

/* What the library knows of an object handle. */
struct LHANDLE {
    MQLONG options;      /* MQOO_* of the open */
    int isQmgr;          /* opened as MQOT_Q_MGR */
    int hasSaved;        /* a message was taken through it (MQOO_SAVE_ALL_CONTEXT) */
    MQMD saved;          /* that message's descriptor */
    int consumer;        /* MQCB consumer registered */
    int suspended;       /* MQOP_SUSPEND on the consumer */
    MQCB_FUNCTION *cbFn; /* the consumer */
    MQPTR cbArea;        /* MQCBD.CallbackArea */
    MQLONG cbMaxMsgLength;
    MQGMO cbGmo; /* registered get-message options */
    MQMD cbMd;   /* registered descriptor */
    char resolvedQName[MQ_Q_NAME_LENGTH];
};

/* Acknowledgements held back before they are sent: the dispatch thread
 * sends them when it runs out of work or has this many; any request sends
 * them first. */
constexpr size_t ACK_BATCH = 16;

/* One acknowledgement: the push's number, 1 given to a callback or 0 not. */
struct ACK {
    uint32_t seq;
    int32_t delivered;
};

/* An item for the dispatch or event thread. */
struct ITEM {
    int isMsg = 0;    /* 1 a pushed message, 0 an event */
    MQHOBJ hobj = 0;  /* 0 for a connection event */
    uint32_t seq = 0; /* delivery number to acknowledge */
    MQLONG callType = 0;
    MQLONG compCode = 0;
    MQLONG reason = 0;
    MQMD md = MQMD_DEFAULT;
    MQLONG dataLength = 0; /* the whole message */
    int locked = 0;        /* under syncpoint: acknowledge the callback's return too */
    std::string data;      /* the bytes delivered */
    char resolvedQName[MQ_Q_NAME_LENGTH] = {};
};

struct LCONN {
    MQHCONN hconn;
    PLSOCKET sock;
    MQLONG cnoOptions;
    std::thread::id owner; /* the connecting thread */
    std::mutex callMutex;
    std::mutex sendMutex;
    std::mutex mu;
    std::condition_variable cv; /* replies, callback ends, state changes */
    uint32_t nextTag;
    uint32_t waitTag; /* tag of the call in progress, 0 none */
    int replyReady;
    uint8_t *replyBuf; /* malloc'd; handed to the caller */
    WIREHDR replyHdr;
    uint8_t *spare;  /* a buffer returned by the last caller */
    size_t spareCap; /* its size */
    WIREIN in;  /* the socket's reader: each call's own until readerEnabled, then the reader's */
    int broken; /* the socket is gone */
    MQLONG brokenReason;
    int closing;       /* MQDISC under way */
    int readerEnabled; /* the reader thread reads (else each call) */
    std::thread reader;
    std::map<MQHOBJ, LHANDLE> handles;
    /* consumers */
    int started;
    int suspended;
    int callbackRunning;
    MQPTR connectionArea;
    std::deque<ITEM> dispatchQ;
    std::condition_variable dispatchCv; /* pushes, consumer state changes, the end */
    std::vector<ACK> acks;              /* decided, not yet sent (taken under sendMutex) */
    std::thread dispatch;
    std::thread::id dispatchId;
    int dispatchStop;
    /* event handler */
    MQCB_FUNCTION *evFn;
    MQPTR evArea;
    std::deque<ITEM> eventQ;
    std::thread events;
    std::thread::id eventsId;
    int eventsStop;
    char qmName[MQ_Q_MGR_NAME_LENGTH];
    /* The socket is released with the last reference, so that a thread
     * that outlives MQDISC (a callback that disconnected its own
     * connection) never writes to a descriptor reused by then. */
    ~LCONN() {
        PLCloseSocket(sock);
        free(spare);
        free(replyBuf);
        WireInFree(&in);
    }
};

typedef std::shared_ptr<LCONN> CONNREF;

#define MQSIM_VERB extern "C" PL_EXPORT void MQENTRY

/* ---- mqilib.cpp -- arguments and results -------------------------------------------- */

void SetResult(PMQLONG cc, PMQLONG rc, MQLONG c, MQLONG r);
/* MQRC_MD_ERROR unless md is an MQMD of version 1 or 2. */
MQLONG CheckMd(const MQMD *md);

/* Whether p, a structure of the MQI, is missing or not what it claims: its
 * StrucId not strucId or its Version not from 1 to maxVersion. */
template <typename T>
bool BadStruc(const T *p, const char *strucId, MQLONG maxVersion) {
    return p == nullptr || memcmp(p->StrucId, strucId, 4) != 0 || p->Version < 1 ||
           p->Version > maxVersion;
}

/* A message buffer's checks: MQRC_BUFFER_LENGTH_ERROR, MQRC_BUFFER_ERROR
 * or 0. */
inline MQLONG CheckBuffer(MQLONG length, const void *buffer) {
    return length < 0                        ? MQRC_BUFFER_LENGTH_ERROR
           : length > 0 && buffer == nullptr ? MQRC_BUFFER_ERROR
                                             : 0;
}
/* A caller's descriptor (version 1 or 2) as a full version-2 record. */
void LoadMd(MQMD *full, const MQMD *given);
/* Back into the caller's descriptor, as much as its version holds; StrucId
 * and Version stay the caller's. */
void StoreMd(MQMD *given, const MQMD *full);

/* ---- mqilib.cpp -- requests on a connection ------------------------------------------- */

/* Look up a connection and take its call lock (as the connect options
 * say). While the connection is STARTED only its callbacks' threads may
 * call (anyThread: skip that check, for MQCTL, which checks itself).
 * Returns 0, MQRC_HCONN_ERROR, MQRC_HCONN_ASYNC_ACTIVE or
 * MQRC_CALL_IN_PROGRESS. */
MQLONG FindConn(MQHCONN h, CONNREF *out, std::unique_lock<std::mutex> *call, int anyThread = 0);
/* Send the request in w and wait for its reply (call lock held). Returns 0
 * with *reply (free with ReturnBuffer) and *len, or the reason the
 * connection failed with. */
MQLONG Transact(LCONN *c, WBUF *w, uint8_t **reply, size_t *len);
/* Give a reply buffer back for reuse. */
void ReturnBuffer(LCONN *c, uint8_t *buf);
/* Send the request in w (freed here) and set r to read its reply, from its
 * completion code on. Returns 0 with *reply (free with ReturnBuffer), or the
 * reason the connection failed with. */
MQLONG TransactRead(LCONN *c, WBUF *w, uint8_t **reply, RBUF *r, MQLONG *cc);
/* The same for a verb whose reply carries only its completion code and
 * reason: *cc and *rc get them, or MQCC_FAILED and the connection's reason. */
void TransactStatus(LCONN *c, WBUF *w, MQLONG *cc, MQLONG *rc);
/* Read the common status of a reply (a reply cut short: MQRC_UNEXPECTED_ERROR). */
void ReadStatus(RBUF *r, MQLONG *cc, MQLONG *rc);

/* ---- mqilib.cpp -- pushed messages ------------------------------------------------------ */

/* Send the acknowledgements decided so far (no lock held). */
void FlushAcks(LCONN *c);
/* Forget pushed messages of hobj (MQHO_NONE: of every consumer) that were
 * not given to a callback: the daemon took them back (mu held). */
void DropPushedMessages(LCONN *c, MQHOBJ hobj);
/* From now on the reader thread takes every frame off the socket. */
void EnableReader(LCONN *c);

/* ---- mqiasync.cpp -- the threads that call back ----------------------------------------- */

/* Calls the consumers, one message or event at a time, in order. */
void DispatchMain(CONNREF ref);
/* Calls the event handler. */
void EventsMain(CONNREF ref);
