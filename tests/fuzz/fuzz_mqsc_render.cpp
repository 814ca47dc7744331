/* fuzz_mqsc_render.cpp -- RenderReplyAsMqsc over any reply (byte 0 bit 0: an
 * escape requester): the result fits, is text (or bytes of the reply's
 * strings), and an escape response reads back whole around that text. */
#include <vector>

#include "fuzz_support.h"
#include "log/cs.h"
#include "mqsc/mqsc_render.h"

/* Every byte value the MQCFST values of reply hold, read as the renderer
 * reads them. */
static std::bitset<256> StringBytes(const MQBYTE *reply, MQLONG length) {
    std::bitset<256> seen;
    PCFCTX ctx;
    PCFPARM p;
    PCFStartRead(&ctx, reply, length);
    while (PCFNext(&ctx, &p))
        for (MQLONG i = 0; p.type == MQCFT_STRING && i < p.length; i++)
            seen.set(p.value[i]);
    return seen;
}

FUZZ_TARGET(1, 1u << 18) {
    QuietSettings();
    const bool escape = (data[0] & 1) != 0;
    std::vector<MQBYTE> reply(data + 1, data + size); /* exact size: overruns are caught */
    REQUEST req = {};
    req.requestType = escape ? REQTYPE_ESCAPE : REQTYPE_MQSC;
    MQBYTE *msg = reply.data();
    MQLONG length = (MQLONG)reply.size();
    MQLONG rc = RenderReplyAsMqsc(&req, &msg, &length);
    if (rc != MQRC_NONE) {
        FUZZ_CHECK(msg == reply.data() && reply.size() < MQCFH_STRUC_LENGTH);
        return 0;
    }
    const MQLONG base = escape ? PCF_ESCAPE_HEADER_SIZE : 0;
    FUZZ_CHECK(msg != reply.data() && length >= base && length <= PCF_MESSAGE_SIZE);
    FUZZ_CHECK(FuzzIsText((const char *)msg + base, (size_t)(length - base),
                          StringBytes(reply.data(), (MQLONG)reply.size())));
    if (escape) {
        PCFCTX ctx;
        PCFPARM p;
        FUZZ_CHECK(PCFStartRead(&ctx, msg, length) == MQRC_NONE);
        FUZZ_CHECK(PCFNext(&ctx, &p) && p.type == MQCFT_INTEGER && p.id == MQIACF_ESCAPE_TYPE);
        FUZZ_CHECK(PCFNext(&ctx, &p) && p.type == MQCFT_STRING && p.id == MQCACF_ESCAPE_TEXT);
        FUZZ_CHECK(p.value == msg + base && p.length == length - base);
        FUZZ_CHECK(!PCFNext(&ctx, &p) && p.reason == PCF_END_OF_PARMS && ctx.offset == length);
    }
    CSFreeMem(msg);
    return 0;
}
