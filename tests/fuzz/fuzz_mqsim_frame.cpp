/* fuzz_mqsim_frame.cpp -- the stand-in's frame reader over any byte stream on
 * a loopback connection; each payload is read field by field (byte 0 picks
 * the order) with the RBUF readers, whose reads past the end only mark it bad. */
#include <cstdlib>
#include <cstring>

#include "fuzz_support.h"
#include "platform/net.h"
#include "platform/platform.h"
#include "wire.h"

namespace {

PLSOCKET Listener = PL_NO_SOCKET;
int Port = 0;

void ReadPayload(const uint8_t *p, size_t len) {
    RBUF r;
    WireReadInit(&r, p, len);
    unsigned plan = len > 0 ? p[0] : 0;
    for (int i = 0; i < 16 && !r.bad; i++) {
        switch ((plan >> (i % 4) * 2) & 3) {
            case 0:
                WireGetI32(&r);
                break;
            case 1: {
                const uint8_t *b;
                uint32_t n;
                WireGetBlob(&r, &b, &n);
                FUZZ_CHECK(r.bad || n == 0 || (b >= p && b + n <= p + len));
                break;
            }
            case 2: {
                char s[49];
                WireGetString(&r, s, sizeof s);
                FUZZ_CHECK(memchr(s, '\0', sizeof s) != nullptr);
                break;
            }
            default: {
                char field[48], name[49];
                WireGetBytes(&r, field, sizeof field);
                WireGetField(name, field, sizeof field);
                break;
            }
        }
    }
    WireReadComplete(&r);
}

}  // namespace

/* (at most what fits the socket buffers: written before reading) */
FUZZ_TARGET(0, 65536) {
    FUZZ_CHECK(Listener != PL_NO_SOCKET ||
               (PLNetStart() == 0 && PLListenLoopback(0, &Listener, &Port) == 0));
    PLSOCKET out, in;
    FUZZ_CHECK(PLConnectTcp("127.0.0.1", Port, 5000, &out) == 0 &&
               PLAcceptSocket(Listener, &in) == 0);
    FUZZ_CHECK(size == 0 || PLSendAll(out, data, size) == 0);
    PLShutdownSend(out);
    WIREIN reader;
    memset(&reader, 0, sizeof reader);
    for (;;) {
        WIREHDR h;
        const uint8_t *payload;
        if (WireNextFrame(in, &reader, &h, &payload) != 0)
            break;
        ReadPayload(payload, h.length);
    }
    WireInFree(&reader);
    PLCloseSocket(in);
    PLCloseSocket(out);
    return 0;
}
