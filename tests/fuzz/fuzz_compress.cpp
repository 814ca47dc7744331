/* fuzz_compress.cpp -- CompressReply over any bytes taken as a PCF reply:
 * never reads or writes outside the message, never makes it longer, and
 * compressing the result again changes nothing more. */
#include <cstdlib>
#include <cstring>
#include <vector>

#include "routing/routing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > (1u << 20))
        return 0;
    /* An exact-size heap copy, so any overrun is caught. */
    std::vector<MQBYTE> msg(data, data + size);
    MQLONG len = CompressReply(msg.data(), (MQLONG)size);
    if (len < 0 || (size_t)len > size)
        abort();
    msg.resize((size_t)len);
    MQLONG again = CompressReply(msg.data(), len);
    if (again > len)
        abort();
    return 0;
}
