/* fuzz_mqsc_render.cpp -- RenderReplyAsMqsc over any bytes taken as a PCF
 * reply, for an MQSC and an escape requester: the text fits its buffer, is
 * text (printable characters, blanks and line ends, or bytes that a string
 * of the reply carries), and an escape response reads back with
 * PCFNextParm exactly to its end with the text as its escape text.
 *
 * Input: byte 0 bit 0 selects the escape requester, the rest is the reply. */
#include <bitset>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "log/cs.h"
#include "mqsc/mqsc_render.h"
#include "pcf/pcf.h"

namespace {

/* Every byte value the MQCFST values of reply hold, read as the renderer
 * reads them. */
std::bitset<256> StringBytes(const MQBYTE *reply, MQLONG length) {
    std::bitset<256> seen;
    PCFCTX ctx;
    PCFStartRead(&ctx, reply, length);
    for (;;) {
        MQLONG type, id, len, count, cc, rc;
        const MQBYTE *value;
        PCFNextParm(&ctx, &type, &id, &value, &len, &count, &cc, &rc);
        if (cc != MQCC_OK)
            return seen;
        if (type == MQCFT_STRING)
            for (MQLONG i = 0; i < len; i++)
                seen.set(value[i]);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1 || size > (1u << 18))
        return 0;
    QuietSettings();
    const bool escape = (data[0] & 1) != 0;
    std::vector<MQBYTE> reply(data + 1, data + size); /* exact size: overruns are caught */
    REQUEST req;
    memset(&req, 0, sizeof req);
    req.requestType = escape ? REQTYPE_ESCAPE : REQTYPE_MQSC;
    MQBYTE *msg = reply.data();
    MQLONG length = (MQLONG)reply.size();
    MQLONG rc = RenderReplyAsMqsc(&req, &msg, &length);
    if (rc != MQRC_NONE) {
        FUZZ_CHECK(msg == reply.data() && reply.size() < MQCFH_STRUC_LENGTH);
        return 0;
    }
    FUZZ_CHECK(msg != reply.data() && length >= 0 && length <= PCF_MESSAGE_SIZE);
    const MQLONG base = escape ? PCF_ESCAPE_HEADER_SIZE : 0;
    FUZZ_CHECK(length >= base);
    const std::bitset<256> carried = StringBytes(reply.data(), (MQLONG)reply.size());
    for (MQLONG i = base; i < length; i++) {
        const MQBYTE c = msg[i];
        FUZZ_CHECK((c >= 0x20 && c < 0x7F) || c == '\n' || carried.test(c));
    }
    if (escape) {
        PCFCTX ctx;
        FUZZ_CHECK(PCFStartRead(&ctx, msg, length) == MQRC_NONE);
        MQLONG type, id, len, count, cc, prc;
        const MQBYTE *value;
        PCFNextParm(&ctx, &type, &id, &value, &len, &count, &cc, &prc);
        FUZZ_CHECK(cc == MQCC_OK && type == MQCFT_INTEGER && id == MQIACF_ESCAPE_TYPE);
        PCFNextParm(&ctx, &type, &id, &value, &len, &count, &cc, &prc);
        FUZZ_CHECK(cc == MQCC_OK && type == MQCFT_STRING && id == MQCACF_ESCAPE_TEXT);
        FUZZ_CHECK(value == msg + base && len == length - base);
        PCFNextParm(&ctx, &type, &id, &value, &len, &count, &cc, &prc);
        FUZZ_CHECK(prc == PCF_END_OF_PARMS && ctx.offset == length);
    }
    CSFreeMem(msg);
    return 0;
}
