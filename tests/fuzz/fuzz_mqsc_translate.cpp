/* fuzz_mqsc_translate.cpp -- MQSC text or an escape command of any content
 * through the routing tests' MQI fakes: a translated command reads back
 * whole; every reply put fits, and an escape response reads back whole.
 * Input: byte 0 bit 0 an escape command, bit 1 an escape request. */
#include <vector>

#include "fuzz_routing.h"
#include "mqsc/mqsc_translate.h"

namespace {

int Handed = 0;

MQLONG CheckDisplayCert(REQUEST *, MQMD *, MQBYTE *msg, MQLONG length) {
    Handed++;
    FUZZ_CHECK(length >= MQCFH_STRUC_LENGTH && length <= PCF_MESSAGE_SIZE);
    const MQCFH *cfh = reinterpret_cast<const MQCFH *>(msg);
    FUZZ_CHECK(cfh->Type == MQCFT_COMMAND && cfh->Command == CVL_CMD_DISPLAY_CERTIFICATE &&
               cfh->Control == MQCFC_LAST);
    FUZZ_CHECK(FuzzReadsBackWhole(msg, length));
    return MQRC_NONE;
}

}  // namespace

FUZZ_TARGET(1, 1u << 18) {
    static FuzzRouting *h = new FuzzRouting;
    h->Begin();
    SetRequestHandler(HANDLER_DISPLAY_CERT, CheckDisplayCert);
    Handed = 0;
    REQUEST *req = h->Requester();
    req->requestType = (data[0] & 2) ? REQTYPE_ESCAPE : REQTYPE_MQSC;
    std::vector<MQBYTE> msg(data + 1, data + size); /* exact size, no NUL after it */
    MQMD md = MQMD_DEFAULT;
    const MQLONG rc = (data[0] & 1) ? UnwrapEscapeCommand(req, &md, msg.data(), (MQLONG)msg.size())
                                    : TranslateMqscCommand(req, &md, (const char *)msg.data(),
                                                           (MQLONG)msg.size());
    FUZZ_CHECK(Handed <= 1 && (Handed == 0 || rc == MQRC_NONE));
    for (const rtest::PutRecord &put : fakemq::Puts()) {
        FUZZ_CHECK(put.data.size() <= (size_t)PCF_MESSAGE_SIZE);
        if (req->requestType == REQTYPE_ESCAPE)
            FUZZ_CHECK(FuzzReadsBackWhole(put.data.data(), (MQLONG)put.data.size()));
    }
    FreeRequest(req);
    h->End();
    return 0;
}
