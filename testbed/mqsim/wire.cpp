/* wire.cpp -- frame building, reading and transport for mqsim.
 *
 * Owns: nothing global. Threads: any; see wire.h for the frame layout.
 */
#include "wire.h"

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

static void Reserve(WBUF *w, size_t more);
static void StoreU32(uint8_t *p, uint32_t v);
static uint32_t LoadU32(const uint8_t *p);

static void StoreU32(uint8_t *p, uint32_t v) {
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    p[2] = (uint8_t)(v >> 16);
    p[3] = (uint8_t)(v >> 24);
}

static uint32_t LoadU32(const uint8_t *p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

/* Make room for more bytes; on failure mark the buffer failed. */
static void Reserve(WBUF *w, size_t more) {
    if (w->failed)
        return;
    if (w->len + more <= w->cap)
        return;
    size_t cap = w->cap ? w->cap : 256;
    while (cap < w->len + more)
        cap *= 2;
    uint8_t *p = (uint8_t *)realloc(w->data, cap);
    if (p == nullptr) {
        w->failed = 1;
        return;
    }
    w->data = p;
    w->cap = cap;
}

void WireReserve(WBUF *w, size_t more) {
    Reserve(w, more);
}

void WireBegin(WBUF *w, uint16_t type, uint32_t tag) {
    w->len = 0;
    w->failed = 0;
    Reserve(w, WIRE_HEADER_SIZE);
    if (w->failed)
        return;
    memcpy(w->data, WIRE_MAGIC, 4);
    w->data[4] = (uint8_t)WIRE_VERSION;
    w->data[5] = (uint8_t)(WIRE_VERSION >> 8);
    w->data[6] = (uint8_t)type;
    w->data[7] = (uint8_t)(type >> 8);
    StoreU32(w->data + 8, tag);
    StoreU32(w->data + 12, 0);
    w->len = WIRE_HEADER_SIZE;
}

void WirePutU32(WBUF *w, uint32_t v) {
    Reserve(w, 4);
    if (w->failed)
        return;
    StoreU32(w->data + w->len, v);
    w->len += 4;
}

void WirePutI32(WBUF *w, int32_t v) {
    WirePutU32(w, (uint32_t)v);
}

void WirePutBytes(WBUF *w, const void *p, size_t n) {
    Reserve(w, n);
    if (w->failed)
        return;
    if (n > 0)
        memcpy(w->data + w->len, p, n);
    w->len += n;
}

void WirePutBlob(WBUF *w, const void *p, uint32_t n) {
    WirePutU32(w, n);
    WirePutBytes(w, p, n);
}

void WirePutString(WBUF *w, const char *s) {
    WirePutBlob(w, s, (uint32_t)strlen(s));
}

void WireEnd(WBUF *w) {
    if (w->failed || w->len < WIRE_HEADER_SIZE)
        return;
    if (w->len - WIRE_HEADER_SIZE > WIRE_MAX_PAYLOAD) {
        w->failed = 1;
        return;
    }
    StoreU32(w->data + 12, (uint32_t)(w->len - WIRE_HEADER_SIZE));
}

void WireFree(WBUF *w) {
    free(w->data);
    w->data = nullptr;
    w->len = w->cap = 0;
    w->failed = 0;
}

void WireReadInit(RBUF *r, const uint8_t *p, size_t len) {
    r->p = p;
    r->len = len;
    r->pos = 0;
    r->bad = 0;
}

uint32_t WireGetU32(RBUF *r) {
    if (r->bad || r->len - r->pos < 4) {
        r->bad = 1;
        return 0;
    }
    uint32_t v = LoadU32(r->p + r->pos);
    r->pos += 4;
    return v;
}

int32_t WireGetI32(RBUF *r) {
    return (int32_t)WireGetU32(r);
}

void WireGetBytes(RBUF *r, void *dst, size_t n) {
    if (r->bad || r->len - r->pos < n) {
        r->bad = 1;
        memset(dst, 0, n);
        return;
    }
    memcpy(dst, r->p + r->pos, n);
    r->pos += n;
}

void WireGetBlob(RBUF *r, const uint8_t **p, uint32_t *n) {
    uint32_t len = WireGetU32(r);
    if (r->bad || r->len - r->pos < len) {
        r->bad = 1;
        *p = nullptr;
        *n = 0;
        return;
    }
    *p = r->p + r->pos;
    *n = len;
    r->pos += len;
}

void WireGetString(RBUF *r, char *dst, size_t size) {
    const uint8_t *p;
    uint32_t n;
    WireGetBlob(r, &p, &n);
    if (r->bad || n >= size || (n > 0 && memchr(p, 0, n) != nullptr)) {
        r->bad = 1;
        if (size > 0)
            dst[0] = '\0';
        return;
    }
    if (n > 0)
        memcpy(dst, p, n);
    dst[n] = '\0';
}

int WireReadComplete(const RBUF *r) {
    return !r->bad && r->pos == r->len;
}

int WireRecvFrame(PLSOCKET sock, WIREHDR *h, uint8_t **buf, size_t *cap) {
    uint8_t hdr[WIRE_HEADER_SIZE];
    size_t got = 0;
    int rc = PLRecvAll(sock, hdr, sizeof hdr, PL_INFINITE, &got);
    if (rc == PL_NET_CLOSED)
        return got == 0 ? WIRE_CLOSED : WIRE_BAD_FRAME;
    if (rc != 0)
        return WIRE_IO_ERROR;
    if (memcmp(hdr, WIRE_MAGIC, 4) != 0)
        return WIRE_BAD_FRAME;
    h->version = (uint16_t)(hdr[4] | (hdr[5] << 8));
    h->type = (uint16_t)(hdr[6] | (hdr[7] << 8));
    h->tag = LoadU32(hdr + 8);
    h->length = LoadU32(hdr + 12);
    if (h->version != WIRE_VERSION || h->length > WIRE_MAX_PAYLOAD)
        return WIRE_BAD_FRAME;
    if (*cap < h->length || *buf == nullptr) {
        size_t want = h->length < 4096 ? 4096 : h->length;
        uint8_t *p = (uint8_t *)realloc(*buf, want);
        if (p == nullptr)
            return WIRE_NO_MEMORY;
        *buf = p;
        *cap = want;
    }
    if (h->length == 0)
        return 0;
    rc = PLRecvAll(sock, *buf, h->length, PL_INFINITE, &got);
    if (rc == PL_NET_CLOSED)
        return WIRE_BAD_FRAME;
    if (rc != 0)
        return WIRE_IO_ERROR;
    return 0;
}

/* A reader buffer of this size takes many small frames per receive; one
 * grown past WIREIN_KEEP for a large frame goes back to it once that frame
 * is consumed (messages up to 1 MB, the usual largest, keep theirs). */
constexpr size_t WIREIN_SIZE = 65536;
constexpr size_t WIREIN_KEEP = 2097152;

/* Make bytes [start, start + need) of in's buffer hold received data.
 * The buffer grows as the bytes arrive, at most doubling each time, so a
 * peer that declares a large frame and sends less holds only about twice
 * what it has sent. */
static int Fill(PLSOCKET sock, WIREIN *in, size_t need) {
    if (in->end - in->start >= need)
        return 0;
    if (in->cap - in->start < need && in->start > 0) {
        /* move what is there to the front */
        size_t have = in->end - in->start;
        if (have > 0)
            memmove(in->buf, in->buf + in->start, have);
        in->start = 0;
        in->end = have;
    }
    while (in->end - in->start < need) {
        if (in->end == in->cap) {
            size_t want = in->cap < WIREIN_SIZE ? WIREIN_SIZE : in->cap * 2;
            if (want > in->start + need)
                want = in->start + need;
            uint8_t *p = (uint8_t *)realloc(in->buf, want);
            if (p == nullptr)
                return WIRE_NO_MEMORY;
            in->buf = p;
            in->cap = want;
        }
        size_t got = 0;
        int rc = PLRecvSome(sock, in->buf + in->end, in->cap - in->end, PL_INFINITE, &got);
        if (rc == PL_NET_CLOSED)
            return in->end == in->start ? WIRE_CLOSED : WIRE_BAD_FRAME;
        if (rc != 0)
            return WIRE_IO_ERROR;
        in->end += got;
    }
    return 0;
}

int WireNextFrame(PLSOCKET sock, WIREIN *in, WIREHDR *h, const uint8_t **payload) {
    if (in->start == in->end) {
        in->start = in->end = 0;
        if (in->cap > WIREIN_KEEP) {
            free(in->buf);
            in->buf = nullptr;
            in->cap = 0;
        }
    }
    if (in->buf == nullptr) {
        in->buf = (uint8_t *)malloc(WIREIN_SIZE);
        if (in->buf == nullptr)
            return WIRE_NO_MEMORY;
        in->cap = WIREIN_SIZE;
        in->start = in->end = 0;
    }
    int rc = Fill(sock, in, WIRE_HEADER_SIZE);
    if (rc != 0)
        return rc;
    const uint8_t *hdr = in->buf + in->start;
    if (memcmp(hdr, WIRE_MAGIC, 4) != 0)
        return WIRE_BAD_FRAME;
    h->version = (uint16_t)(hdr[4] | (hdr[5] << 8));
    h->type = (uint16_t)(hdr[6] | (hdr[7] << 8));
    h->tag = LoadU32(hdr + 8);
    h->length = LoadU32(hdr + 12);
    if (h->version != WIRE_VERSION || h->length > WIRE_MAX_PAYLOAD)
        return WIRE_BAD_FRAME;
    rc = Fill(sock, in, WIRE_HEADER_SIZE + (size_t)h->length);
    if (rc == WIRE_CLOSED)
        return WIRE_BAD_FRAME;
    if (rc != 0)
        return rc;
    *payload = in->buf + in->start + WIRE_HEADER_SIZE;
    in->start += WIRE_HEADER_SIZE + (size_t)h->length;
    return 0;
}

void WireInFree(WIREIN *in) {
    free(in->buf);
    in->buf = nullptr;
    in->cap = in->start = in->end = 0;
}

int WireSendFrame(PLSOCKET sock, const WBUF *w) {
    if (w->failed)
        return -1;
    return PLSendAll(sock, w->data, w->len);
}

void WireSetField(char *dst, size_t n, const char *src) {
    size_t i = 0;
    if (src != nullptr) {
        for (; i < n && src[i] != '\0'; i++)
            dst[i] = src[i];
    }
    for (; i < n; i++)
        dst[i] = ' ';
}

void WireGetField(char *dst, const char *src, size_t n) {
    size_t len = 0;
    while (len < n && src[len] != '\0')
        len++;
    while (len > 0 && src[len - 1] == ' ')
        len--;
    memcpy(dst, src, len);
    dst[len] = '\0';
}
