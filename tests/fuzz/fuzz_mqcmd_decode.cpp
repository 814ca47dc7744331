/* fuzz_mqcmd_decode.cpp -- mqcmd's PCF decoder and its text and JSON forms
 * over any message: no read outside it, a fault reported inside it. */
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "mqcmd_decode.h"
#include "mqcmd_format.h"

FUZZ_TARGET(0, 1u << 20) {
    std::vector<MQBYTE> msg(data, data + size); /* exact size: overruns are caught */
    PCFDUMP dump;
    DecodePcf(msg.data(), msg.size(), &dump);
    FUZZ_CHECK(!dump.malformed || dump.malformedOffset <= size);
    MQMD md = MQMD_DEFAULT;
    memcpy(md.Format, MQFMT_ADMIN, sizeof md.Format);
    std::string text;
    FormatMessageText(&text, 1, &md, msg.data(), msg.size());
    FormatMessageJson(&text, 1, &md, msg.data(), msg.size());
    return 0;
}
