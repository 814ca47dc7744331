/* fuzz_mqsc_translate.cpp -- MQSC text (TranslateMqscCommand) or an escape
 * command (UnwrapEscapeCommand) of any content, through the in-process MQI
 * fakes of the routing unit tests. A command that translates hands the
 * DISPLAY CERT handler a PCF command that reads back with PCFNextParm
 * exactly to its end; every error reply put is whole: MQSC text, or an
 * escape response whose structures fill it exactly.
 *
 * Input: byte 0 selects the form (bit 0: an escape command, else MQSC text;
 * bit 1: the request is an escape request), the rest is the message. */
#include <cstdlib>
#include <vector>

#include "fuzz_support.h"
#include "mqsc/mqsc_translate.h"
#include "pcf/pcf.h"
#include "routing/routing_fixture.h"

namespace {

/* Read msg to its end: 1 when every structure lies inside it, the last one
 * ends exactly at its end and no parameter is left unread. */
bool ReadsBackWhole(const MQBYTE *msg, MQLONG length) {
    PCFCTX ctx;
    if (PCFStartRead(&ctx, msg, length) != MQRC_NONE)
        return false;
    for (;;) {
        MQLONG type, id, len, count, cc, rc;
        const MQBYTE *value;
        PCFNextParm(&ctx, &type, &id, &value, &len, &count, &cc, &rc);
        if (rc == PCF_END_OF_PARMS)
            return ctx.depth == 0 && ctx.offset == length;
        if (cc != MQCC_OK)
            return false;
    }
}

int Handed = 0;

MQLONG CheckDisplayCert(REQUEST *, MQMD *, MQBYTE *msg, MQLONG length) {
    Handed++;
    FUZZ_CHECK(length >= MQCFH_STRUC_LENGTH && length <= PCF_MESSAGE_SIZE);
    const MQCFH *cfh = reinterpret_cast<const MQCFH *>(msg);
    FUZZ_CHECK(cfh->Type == MQCFT_COMMAND && cfh->Command == CVL_CMD_DISPLAY_CERTIFICATE &&
               cfh->Control == MQCFC_LAST);
    FUZZ_CHECK(ReadsBackWhole(msg, length));
    return MQRC_NONE;
}

class Harness : public rtest::RoutingTest {
public:
    void TestBody() override {}
    void Begin() {
        SetUp();
        QuietSettings();
        CopyField(Settings.qmgrName, sizeof Settings.qmgrName, "QM1");
        Settings.retryInt = 0;
        SetRequestHandler(HANDLER_DISPLAY_CERT, CheckDisplayCert);
    }
    void End() { TearDown(); }
    using RoutingTest::Requester;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1 || size > (1u << 18))
        return 0;
    static Harness *h = new Harness;
    h->Begin();
    Handed = 0;
    REQUEST *req = h->Requester();
    req->requestType = (data[0] & 2) ? REQTYPE_ESCAPE : REQTYPE_MQSC;
    /* An exact-size heap copy without a NUL after it. */
    std::vector<MQBYTE> msg(data + 1, data + size);
    MQMD md = MQMD_DEFAULT;
    MQLONG rc;
    if (data[0] & 1)
        rc = UnwrapEscapeCommand(req, &md, msg.data(), (MQLONG)msg.size());
    else
        rc = TranslateMqscCommand(req, &md, (const char *)msg.data(), (MQLONG)msg.size());
    FUZZ_CHECK(Handed <= 1 && (Handed == 0 || rc == MQRC_NONE));
    for (const rtest::PutRecord &put : fakemq::Puts()) {
        FUZZ_CHECK(put.data.size() <= (size_t)PCF_MESSAGE_SIZE);
        if (req->requestType == REQTYPE_ESCAPE)
            FUZZ_CHECK(ReadsBackWhole(put.data.data(), (MQLONG)put.data.size()));
    }
    FreeRequest(req);
    h->End();
    return 0;
}
