/* fuzz_consolidate.cpp -- replies of any content delivered to one forwarded
 * request through the routing tests' MQI fakes.
 * Input: byte 0 bit 0 compress, bit 1 coalesce; bytes 1-2 maxmsgsize - 200;
 * then replies, each a 2-byte little-endian length (top bit: an MQSTR reply)
 * and its bytes. */
#include <cstdlib>
#include <vector>

#include "fuzz_routing.h"

FUZZ_TARGET(3, 1u << 18) {
    static FuzzRouting *h = new FuzzRouting;
    h->Begin();
    SetFlags(FLAG_SERVICE);
    CopyField(Settings.actualReplyQName, sizeof Settings.actualReplyQName, rtest::FakeReplyQName);
    (data[0] & 1) ? SetFlags(FLAG_COMPRESS) : ClearFlags(FLAG_COMPRESS);
    (data[0] & 2) ? SetFlags(FLAG_COALESCE) : ClearFlags(FLAG_COALESCE);
    Settings.maxMsgSize = 200 + (MQLONG)(data[1] | (data[2] << 8));
    REQUEST *req = h->Requester();
    MQBYTE id[MQ_MSG_ID_LENGTH];
    memset(id, 0x5A, sizeof id);
    AddRequest(req, id);
    size_t pos = 3;
    while (pos + 2 <= size) {
        unsigned word = data[pos] | (data[pos + 1] << 8);
        pos += 2;
        size_t len = word & 0x7FFF;
        if (len > size - pos)
            len = size - pos;
        std::vector<MQBYTE> reply(data + pos, data + pos + len);
        pos += len;
        h->DeliverReply(id, reply, (word & 0x8000) ? MQFMT_STRING : MQFMT_ADMIN);
    }
    h->End(); /* forgets a request still open */
    return 0;
}
