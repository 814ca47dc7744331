/* fuzz_compress.cpp -- CompressReply over any bytes: it stays inside the
 * message, never lengthens it, keeps its header and every value of a sound
 * message (long strings lose trailing blanks), and a second pass does nothing. */
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "routing/routing.h"
#include "support/pcf_builder.h"

namespace {

using tvtest::Get;

/* The values of a message whose counted structures (of the types
 * compression keeps) fill it exactly, strings longer than 4 bytes without
 * their trailing blanks; false for any other message. */
bool ParseSound(const std::vector<MQBYTE> &m, std::vector<std::string> *values) {
    if (m.size() < 36 || Get(m, 32) < 0)
        return false;
    size_t pos = 36;
    for (MQLONG i = 0; i < Get(m, 32); pos += (size_t)Get(m, pos + 4), i++) {
        if (m.size() - pos < 8)
            return false;
        const MQLONG type = Get(m, pos), struc = Get(m, pos + 4);
        if (struc < 16 || struc % 4 != 0 || (size_t)struc > m.size() - pos)
            return false;
        if (type == MQCFT_STRING) {
            const MQLONG sl = struc < 20 ? -1 : Get(m, pos + 16);
            if (sl < 0 || sl > struc - 20)
                return false;
            std::string v((const char *)m.data() + pos + 20, (size_t)sl);
            if (sl > 4)
                v.erase(v.find_last_not_of(' ') + 1); /* npos + 1: all of it */
            values->push_back(v);
        } else if (type == MQCFT_INTEGER || type == MQCFT_INTEGER_LIST ||
                   (type == MQCFT_STRING_LIST && struc >= 24) || type == MQCFT_BYTE_STRING) {
            values->emplace_back((const char *)m.data() + pos, (size_t)struc);
        } else {
            return false;
        }
    }
    return pos == m.size();
}

}  // namespace

FUZZ_TARGET(0, 1u << 20) {
    QuietSettings();
    std::vector<MQBYTE> msg(data, data + size); /* exact size: overruns are caught */
    std::vector<std::string> before, after;
    const bool sound = ParseSound(msg, &before);
    const MQLONG len = CompressReply(msg.data(), (MQLONG)size);
    FUZZ_CHECK(len >= 0 && (size_t)len <= size);
    FUZZ_CHECK(size < 36 || memcmp(msg.data(), data, 36) == 0);
    msg.resize((size_t)len);
    FUZZ_CHECK(!sound || (ParseSound(msg, &after) && after == before));
    FUZZ_CHECK(CompressReply(msg.data(), len) <= len);
    return 0;
}
