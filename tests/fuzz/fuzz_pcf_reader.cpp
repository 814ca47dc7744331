/* fuzz_pcf_reader.cpp -- PCFNextParm over any bytes taken as a PCF message,
 * to its end or its first failure: every value it reports lies inside the
 * message and agrees with its count, every step moves forward, groups are
 * left no more often than entered, and the read ends in a bounded number of
 * steps. PCFAttrWanted answers for the integer lists read. */
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "pcf/pcf.h"

volatile unsigned ReadSink; /* the value reads are not optimised away */

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > (1u << 20))
        return 0;
    /* An exact-size heap copy, so any overrun is caught. */
    std::vector<MQBYTE> msg(data, data + size);
    const MQBYTE *begin = msg.data(), *end = msg.data() + size;
    PCFCTX ctx;
    if (PCFStartRead(&ctx, begin, (MQLONG)size) != MQRC_NONE)
        FUZZ_CHECK(size < MQCFH_STRUC_LENGTH);
    int opened = 0, left = 0;
    unsigned sum = 0;
    /* Each structure is at least 4 bytes; each is left at most once. */
    const size_t bound = 2 * (size / 4) + 2;
    for (size_t step = 0;; step++) {
        FUZZ_CHECK(step <= bound);
        const MQLONG before = ctx.offset;
        MQLONG type, id, len, count, cc, rc;
        const MQBYTE *value;
        PCFNextParm(&ctx, &type, &id, &value, &len, &count, &cc, &rc);
        if (cc != MQCC_OK) {
            FUZZ_CHECK(type == 0 && len == 0);
            FUZZ_CHECK(rc == PCF_END_OF_PARMS || rc == MQRC_TRUNCATED_MSG_FAILED ||
                       rc == MQRCCF_CFH_TYPE_ERROR || rc == MQRC_FORMAT_NOT_SUPPORTED);
            break;
        }
        FUZZ_CHECK(ctx.depth >= 0 && ctx.depth <= PCF_MAX_GROUPS);
        if (type == PCF_GROUP_END) {
            FUZZ_CHECK(ctx.offset == before && ++left <= opened);
            continue;
        }
        FUZZ_CHECK(ctx.offset > before && ctx.offset <= (MQLONG)size);
        FUZZ_CHECK(len >= 0 && value >= begin && value + len <= end);
        for (MQLONG i = 0; i < len; i++) /* every byte reported is readable */
            sum += value[i];
        switch (type) {
            case MQCFT_GROUP:
                opened++;
                break;
            case MQCFT_INTEGER_LIST: {
                FUZZ_CHECK(count >= 0 && (int64_t)count * 4 <= len);
                std::vector<MQLONG> ids((size_t)count + 1); /* never empty */
                memcpy(ids.data(), value, (size_t)count * 4);
                for (MQLONG i = 0; i < count; i++)
                    FUZZ_CHECK(PCFAttrWanted(ids.data(), count, 0, ids[(size_t)i]) == 1);
                FUZZ_CHECK(PCFAttrWanted(ids.data(), count, 1, id) == 1);
                FUZZ_CHECK(PCFAttrWanted(ids.data(), 0, 0, id) == 0);
                break;
            }
            case MQCFT_STRING_LIST:
            case PCFT_STRING_LIST:
                FUZZ_CHECK(count >= 0 && len >= 0);
                break;
            default:
                break;
        }
    }
    ReadSink = sum;
    return 0;
}
