/* wire.h -- the frames between the stand-in MQI library and the mqsim daemon.
 *
 * Every frame is a 16-byte header followed by `length` bytes of payload:
 *
 *   offset 0  magic    4 bytes "MQSW"
 *          4  version  16-bit, WIRE_VERSION
 *          6  type     16-bit, a WIRE_T_* value (a reply: the request's | WIRE_T_REPLY)
 *          8  tag      32-bit, chosen by the requester, echoed in the reply
 *         12  length   32-bit payload length, at most WIRE_MAX_PAYLOAD
 *
 * All integers are little-endian. Payloads are sequences of 32-bit integers,
 * fixed character fields and length-prefixed blobs (WBUF / RBUF below), and
 * MQI structures that carry no pointers (MQMD version 2) as their 364 bytes.
 * A frame that breaks any of these rules ends its connection.
 *
 * Owns: nothing global. Threads: any; a WBUF or RBUF belongs to one thread.
 */
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/net.h"

constexpr uint8_t WIRE_MAGIC[4] = {'M', 'Q', 'S', 'W'};
constexpr uint16_t WIRE_VERSION = 2; /* 2: batched acknowledgements of pushes */
constexpr uint32_t WIRE_HEADER_SIZE = 16;
/* Largest payload: the largest MQ message (100 MB) and room for descriptors. */
constexpr uint32_t WIRE_MAX_PAYLOAD = 104857600 + 65536;

/* Frame types. Requests of an MQI connection (library to daemon). */
constexpr uint16_t WIRE_T_CONNECT = 1;
constexpr uint16_t WIRE_T_DISC = 2;
constexpr uint16_t WIRE_T_OPEN = 3;
constexpr uint16_t WIRE_T_CLOSE = 4;
constexpr uint16_t WIRE_T_PUT = 5;
constexpr uint16_t WIRE_T_PUT1 = 6;
constexpr uint16_t WIRE_T_GET = 7;
constexpr uint16_t WIRE_T_INQ = 8;
constexpr uint16_t WIRE_T_SET = 9;
constexpr uint16_t WIRE_T_CB = 10;
constexpr uint16_t WIRE_T_CTL = 11;
constexpr uint16_t WIRE_T_CMIT = 12;
constexpr uint16_t WIRE_T_BACK = 13;
constexpr uint16_t WIRE_T_ACK = 14; /* pushes given to callbacks or not; no reply */
/* A control command of the mqsim tool (first frame of its connection). */
constexpr uint16_t WIRE_T_CONTROL = 0x100;
/* Frames the daemon sends unasked on an MQI connection. */
constexpr uint16_t WIRE_T_PUSH_MSG = 0x4001;   /* a message for a consumer */
constexpr uint16_t WIRE_T_PUSH_EVENT = 0x4002; /* an event for a consumer or the connection */
/* Set in the type of a reply. */
constexpr uint16_t WIRE_T_REPLY = 0x8000;

/* WIRE_T_ACK: a count, then per pushed message its number and one of: */
constexpr int32_t ACK_NOT_DELIVERED = 0; /* not given to a callback: put it back */
constexpr int32_t ACK_DELIVERED = 1;     /* given to a callback */
constexpr int32_t ACK_RETURNED = 2;      /* that callback returned (pushes marked locked) */

struct WIREHDR {
    uint16_t version;
    uint16_t type;
    uint32_t tag;
    uint32_t length;
};

/* ---- wire.cpp -- building payloads ---------------------------------------- */

/* A growing frame under construction: the header's 16 bytes first, then the
 * payload. `failed` is set when memory ran out; the frame is then not sent. */
struct WBUF {
    uint8_t *data; /* malloc'd; owned by the WBUF, freed by WireFree */
    size_t len;    /* bytes used, header included */
    size_t cap;    /* bytes allocated */
    int failed;    /* 1 after an allocation failure */
};

/* Start a frame of this type and tag (keeps the buffer of an earlier frame). */
void WireBegin(WBUF *w, uint16_t type, uint32_t tag);
/* Make room for `more` further bytes at once (a frame whose size is known). */
void WireReserve(WBUF *w, size_t more);
void WirePutI32(WBUF *w, int32_t v);
void WirePutU32(WBUF *w, uint32_t v);
/* n bytes as they are (a fixed field). */
void WirePutBytes(WBUF *w, const void *p, size_t n);
/* A 32-bit length then the bytes. */
void WirePutBlob(WBUF *w, const void *p, uint32_t n);
/* A zero-terminated string as a blob (without the zero). */
void WirePutString(WBUF *w, const char *s);
/* Write the header's length field; after this the frame is ready to send. */
void WireEnd(WBUF *w);
/* Release the buffer. */
void WireFree(WBUF *w);

/* ---- wire.cpp -- reading payloads ----------------------------------------- */

/* A payload being read. Any read past the end sets `bad` and yields zeros;
 * the caller checks `bad` once after reading all fields. */
struct RBUF {
    const uint8_t *p;
    size_t len;
    size_t pos;
    int bad;
};

void WireReadInit(RBUF *r, const uint8_t *p, size_t len);
int32_t WireGetI32(RBUF *r);
uint32_t WireGetU32(RBUF *r);
/* Copy n bytes into dst (zeros when short). */
void WireGetBytes(RBUF *r, void *dst, size_t n);
/* A blob: *p points into the payload (valid while it is), *n its length. */
void WireGetBlob(RBUF *r, const uint8_t **p, uint32_t *n);
/* A blob as a zero-terminated string into dst of size bytes; a longer or
 * NUL-holding string marks the buffer bad. */
void WireGetString(RBUF *r, char *dst, size_t size);
/* 1 when every byte was read and nothing was short. */
int WireReadComplete(const RBUF *r);

/* ---- wire.cpp -- frames on a socket --------------------------------------- */

/* Results of WireRecvFrame besides 0. */
constexpr int WIRE_CLOSED = 1;    /* the peer ended the stream between frames */
constexpr int WIRE_BAD_FRAME = 2; /* bad magic, version or length; or cut inside a frame */
constexpr int WIRE_IO_ERROR = 3;  /* the socket failed */
constexpr int WIRE_NO_MEMORY = 4; /* the payload could not be allocated */

/* Read one frame: header into *h, payload into *buf (malloc'd, grown as
 * needed; *cap its size; the caller keeps and finally frees it). Blocks
 * until a whole frame is there. Returns 0 or a WIRE_* result. */
int WireRecvFrame(PLSOCKET sock, WIREHDR *h, uint8_t **buf, size_t *cap);

/* Send a finished frame (WireEnd done). Returns 0 or the socket error. */
int WireSendFrame(PLSOCKET sock, const WBUF *w);

/* A buffered reader of frames: each receive takes whatever has arrived, so
 * a stream of small frames costs one system call per batch, not two per
 * frame. Zero-initialise; one thread at a time; WireInFree at the end. */
struct WIREIN {
    uint8_t *buf; /* malloc'd */
    size_t cap;   /* its size */
    size_t start; /* first byte not yet handed out */
    size_t end;   /* end of the bytes received */
};

/* Read the next frame: header into *h, *payload pointing at its h->length
 * bytes inside in's buffer, valid until the next call on in. Blocks until a
 * whole frame is there. Returns 0 or a WIRE_* result, as WireRecvFrame. */
int WireNextFrame(PLSOCKET sock, WIREIN *in, WIREHDR *h, const uint8_t **payload);
/* Release the reader's buffer. */
void WireInFree(WIREIN *in);

/* Fixed character fields: copy a zero-terminated or blank-padded name of at
 * most n characters from src into a blank-padded field dst[n]. */
void WireSetField(char *dst, size_t n, const char *src);
/* A name from a fixed field of n characters: up to the first NUL, trailing
 * blanks removed, into dst (n + 1 bytes, terminated). */
void WireGetField(char *dst, const char *src, size_t n);
