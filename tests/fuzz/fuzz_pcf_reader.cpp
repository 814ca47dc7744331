/* fuzz_pcf_reader.cpp -- PCFNextParm over any bytes: values lie inside the
 * message and agree with their counts, each step moves on, groups are left
 * no more often than entered, the walk is bounded; PCFAttrWanted agrees. */
#include <vector>

#include "fuzz_support.h"

volatile unsigned ReadSink; /* the value reads are not optimised away */

FUZZ_TARGET(0, 1u << 20) {
    std::vector<MQBYTE> msg(data, data + size); /* exact size: overruns are caught */
    const MQBYTE *begin = msg.data(), *end = msg.data() + size;
    PCFCTX ctx;
    if (PCFStartRead(&ctx, begin, (MQLONG)size) != MQRC_NONE)
        FUZZ_CHECK(size < MQCFH_STRUC_LENGTH);
    int opened = 0, left = 0;
    unsigned sum = 0;
    PCFPARM p;
    /* Each structure is at least 4 bytes; each is left at most once. */
    for (size_t step = 0, before = 0; before = (size_t)ctx.offset, PCFNext(&ctx, &p); step++) {
        FUZZ_CHECK(step <= 2 * (size / 4) + 2);
        FUZZ_CHECK(ctx.depth >= 0 && ctx.depth <= PCF_MAX_GROUPS);
        if (p.type == PCF_GROUP_END) {
            FUZZ_CHECK((size_t)ctx.offset == before && ++left <= opened);
            continue;
        }
        FUZZ_CHECK((size_t)ctx.offset > before && (size_t)ctx.offset <= size);
        FUZZ_CHECK(p.length >= 0 && p.value >= begin && p.value + p.length <= end);
        for (MQLONG i = 0; i < p.length; i++) /* every byte reported is readable */
            sum += p.value[i];
        opened += p.type == MQCFT_GROUP;
        if (p.type == MQCFT_STRING_LIST || p.type == PCFT_STRING_LIST)
            FUZZ_CHECK(p.count >= 0);
        if (p.type != MQCFT_INTEGER_LIST)
            continue;
        FUZZ_CHECK(p.count >= 0 && (int64_t)p.count * 4 <= p.length);
        std::vector<MQLONG> ids((size_t)p.count + 1); /* never empty */
        memcpy(ids.data(), p.value, (size_t)p.count * 4);
        for (MQLONG i = 0; i < p.count; i++)
            FUZZ_CHECK(PCFAttrWanted(ids.data(), p.count, 0, ids[(size_t)i]) == 1);
        FUZZ_CHECK(PCFAttrWanted(ids.data(), p.count, 1, p.id) == 1);
        FUZZ_CHECK(PCFAttrWanted(ids.data(), 0, 0, p.id) == 0);
    }
    FUZZ_CHECK(p.type == 0 && p.length == 0);
    FUZZ_CHECK(p.reason == PCF_END_OF_PARMS || p.reason == MQRC_TRUNCATED_MSG_FAILED ||
               p.reason == MQRCCF_CFH_TYPE_ERROR || p.reason == MQRC_FORMAT_NOT_SUPPORTED);
    ReadSink = sum;
    return 0;
}
