/* mqsc_render.cpp -- where TORVIK's own PCF replies are turned into MQSC
 * text for requesters that asked in MQSC.
 *
 * Owns: nothing.
 * Threads: the consumer thread, or the worker of a reply handler.
 *
 * The MQSC renderer of PCF replies plugs in here: BuildNoResponseReply and
 * the agent's own replies call RenderReplyAsMqsc, which is to rewrite the
 * reply of a request of type REQTYPE_MQSC or REQTYPE_ESCAPE as MQSC text.
 * Until that renderer exists every reply goes out as PCF, whatever the
 * request type.
 */
#include "routing/request.h"

MQLONG RenderReplyAsMqsc(REQUEST *req, MQMD *md, MQBYTE **msg, MQLONG *length) {
    (void)req;
    (void)md;
    (void)msg;
    (void)length;
    return 0;
}
