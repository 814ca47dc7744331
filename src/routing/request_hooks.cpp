/* request_hooks.cpp -- the handlers that modules above routing register:
 * MQSC translation, escape unwrapping, DISPLAY CERT, and the rendering of
 * TORVIK's own PCF replies as MQSC text.
 *
 * Owns: the handler table and the renderer (set at start-up, read on the
 * consumer thread and on workers: relaxed atomics).
 * Threads: any.
 */
#include <atomic>
#include <cstring>

#include "log/cs.h"
#include "mqconst/mqi.h"
#include "routing/routing.h"

static std::atomic<REQUESTHANDLER *> Handlers[HANDLER_COUNT];
static std::atomic<REPLYRENDERER *> Renderer{nullptr};

void ClearRequestHooks(void) {
    for (int i = 0; i < HANDLER_COUNT; i++)
        Handlers[i].store(nullptr, std::memory_order_relaxed);
    Renderer.store(nullptr, std::memory_order_relaxed);
}

void SetRequestHandler(int which, REQUESTHANDLER *handler) {
    if (which >= 0 && which < HANDLER_COUNT)
        Handlers[which].store(handler, std::memory_order_relaxed);
}

MQLONG CallRequestHandler(int which, REQUEST *req, MQMD *md, MQBYTE *msg, MQLONG length) {
    REQUESTHANDLER *handler = which >= 0 && which < HANDLER_COUNT
                                  ? Handlers[which].load(std::memory_order_relaxed)
                                  : nullptr;
    if (handler == nullptr)
        return MQRC_FUNCTION_NOT_SUPPORTED;
    return handler(req, md, msg, length);
}

void SetReplyRenderer(REPLYRENDERER *renderer) {
    Renderer.store(renderer, std::memory_order_relaxed);
}

MQLONG RenderReplyForRequester(REQUEST *req, MQMD *md, MQBYTE **msg, MQLONG *length) {
    if (req->requestType != REQTYPE_MQSC && req->requestType != REQTYPE_ESCAPE)
        return MQRC_NONE;
    REPLYRENDERER *render = Renderer.load(std::memory_order_relaxed);
    if (render == nullptr)
        return MQRC_NONE;
    MQBYTE *text = *msg;
    MQLONG textLength = *length;
    if (render(req, &text, &textLength) != MQRC_NONE)
        return MQRC_NONE; /* reported by the renderer; the PCF reply goes out */
    CSFreeMem(*msg);
    *msg = text;
    *length = textLength;
    if (req->requestType == REQTYPE_MQSC)
        memcpy(md->Format, MQFMT_STRING, MQ_FORMAT_LENGTH);
    return MQRC_NONE;
}
