/* conn.cpp -- frames to a connection, its handles, triggers due after a request.
 *
 * Owns: the per-reader list of queues whose trigger is due (thread-local).
 * Threads: frames are queued from any thread under the connection's
 * outMutex; its writer thread sends them; the reader thread sends its own
 * replies directly when nothing else is queued.
 */
#include "conn.h"

#include <cstdlib>
#include <cstring>
#include <new>

/* Queue names whose trigger hook is due once the lock is released; per
 * reader thread. */
static thread_local std::vector<std::string> PendingTriggers;

/* ---- sending ------------------------------------------------------------------------ */

void QueueFrame(CONN *c, WBUF *w) {
    WireEnd(w);
    if (w->failed) {
        LogLine("connection %u: a frame could not be built (out of memory)", c->id);
        return;
    }
    OUTFRAME *f = new (std::nothrow) OUTFRAME();
    if (f == nullptr)
        return;
    f->data = w->data;
    f->len = w->len;
    w->data = nullptr;
    w->len = w->cap = 0;
    std::lock_guard<std::mutex> g(c->outMutex);
    if (c->writerStop) {
        free(f->data);
        delete f;
        return;
    }
    if (c->outTail)
        c->outTail->next = f;
    else
        c->outHead = f;
    c->outTail = f;
    if (!c->writerBusy)
        c->outCv.notify_one();
}

void SendFrame(CONN *c, WBUF *w, int fromReader) {
    if (!fromReader) {
        QueueFrame(c, w);
        return;
    }
    WireEnd(w);
    if (w->failed) {
        LogLine("connection %u: a reply could not be built (out of memory)", c->id);
        return;
    }
    {
        std::unique_lock<std::mutex> g(c->outMutex);
        if (c->outHead != nullptr || c->writerBusy) {
            g.unlock();
            QueueFrame(c, w);
            return;
        }
        c->writerBusy = 1;
    }
    if (WireSendFrame(c->sock, w) != 0)
        PLShutdownSocket(c->sock);
    std::lock_guard<std::mutex> g(c->outMutex);
    c->writerBusy = 0;
    if (c->outHead != nullptr)
        c->outCv.notify_one();
}

/* Frames up to this size are gathered into one send with the frames
 * around them; a burst of pushes then costs one system call, not one each. */
constexpr size_t GATHER_LIMIT = 65536;

void WriterMain(CONN *c) {
    std::vector<uint8_t> gather;
    gather.reserve(GATHER_LIMIT);
    std::unique_lock<std::mutex> g(c->outMutex);
    for (;;) {
        c->outCv.wait(g,
                      [c] { return c->writerStop || (c->outHead != nullptr && !c->writerBusy); });
        if (c->outHead == nullptr && c->writerStop)
            break;
        if (c->writerBusy)
            continue;
        OUTFRAME *list = c->outHead;
        c->outHead = c->outTail = nullptr;
        c->writerBusy = 1;
        g.unlock();
        int failed = 0;
        while (list) {
            OUTFRAME *f = list;
            list = f->next;
            if (!failed && f->len < GATHER_LIMIT)
                gather.insert(gather.end(), f->data, f->data + f->len);
            /* send what is gathered when it is full, before a large frame,
             * and at the end of the list */
            int last = list == nullptr;
            int big = !failed && f->len >= GATHER_LIMIT;
            if (!failed && !gather.empty() &&
                (big || last || gather.size() + list->len > GATHER_LIMIT)) {
                if (PLSendAll(c->sock, gather.data(), gather.size()) != 0)
                    failed = 1;
                gather.clear();
            }
            if (big && !failed && PLSendAll(c->sock, f->data, f->len) != 0)
                failed = 1;
            if (failed)
                PLShutdownSocket(c->sock);
            free(f->data);
            delete f;
        }
        gather.clear();
        g.lock();
        c->writerBusy = 0;
        if (c->writerStop && c->outHead == nullptr)
            break;
    }
    /* drop whatever is left */
    while (c->outHead) {
        OUTFRAME *f = c->outHead;
        c->outHead = f->next;
        free(f->data);
        delete f;
    }
    c->outTail = nullptr;
}

void PushEvent(CONN *c, MQHOBJ hobj, MQLONG compCode, MQLONG reason) {
    WBUF w = {};
    WireBegin(&w, WIRE_T_PUSH_EVENT, 0);
    WirePutI32(&w, hobj);
    WirePutI32(&w, compCode);
    WirePutI32(&w, reason);
    QueueFrame(c, &w);
    WireFree(&w);
}

void ReplyStatus(CONN *c, WBUF *w, uint16_t type, uint32_t tag, MQLONG rc) {
    WireBegin(w, type | WIRE_T_REPLY, tag);
    WirePutI32(w, rc == 0 ? MQCC_OK : MQCC_FAILED);
    WirePutI32(w, rc);
    c->replyReady = 1;
}

/* ---- handles and triggers ------------------------------------------------------------ */

HANDLE *FindHandle(CONN *c, MQHOBJ hobj) {
    if (hobj < HOBJ_BASE)
        return nullptr;
    size_t i = (size_t)(hobj - HOBJ_BASE);
    return i < c->handles.size() ? c->handles[i] : nullptr;
}

void AddPendingTrigger(const char *qName) {
    PendingTriggers.push_back(qName);
}

void RunPendingTriggers(QMGR *qm) {
    if (PendingTriggers.empty())
        return;
    std::vector<std::string> names;
    names.swap(PendingTriggers);
    for (auto &n : names)
        TriggerArrival(qm, n.c_str());
}
