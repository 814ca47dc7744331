/* cmdsrv_util.h -- commands to the stand-in command server and its replies,
 * for the command server's tests.
 *
 * CmdBytes lays a PCF command out byte by byte from the published layouts
 * (not through the code under test), so that malformed commands can be
 * made as easily as good ones. DecodePcf walks a reply the same way.
 * CmdClient connects through the MQI library, sends a command to a command
 * queue with a private temporary reply queue and collects the reply set.
 */
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "mqconst/mqi.h"
#include "mqconst/mqpcf.h"
#include "mqsim_util.h"

/* ---- Building commands -------------------------------------------------------- */

struct CmdBytes {
    std::vector<MQBYTE> b;

    /* An MQCFH for command with no parameters yet; every Add raises its
     * ParameterCount. */
    explicit CmdBytes(MQLONG command, MQLONG type = MQCFT_COMMAND, MQLONG version = 1) {
        MQLONG h[9] = {type, 36, version, command, 1, MQCFC_LAST, 0, 0, 0};
        Raw(h, sizeof h);
    }
    void Raw(const void *p, size_t n) {
        const MQBYTE *q = (const MQBYTE *)p;
        b.insert(b.end(), q, q + n);
    }
    void Long(MQLONG v) { Raw(&v, 4); }
    void SetLong(size_t off, MQLONG v) { memcpy(b.data() + off, &v, 4); }
    MQLONG GetLong(size_t off) const {
        MQLONG v;
        memcpy(&v, b.data() + off, 4);
        return v;
    }
    void Counted() { SetLong(32, GetLong(32) + 1); }
    CmdBytes &Int(MQLONG id, MQLONG v) {
        Long(MQCFT_INTEGER);
        Long(16);
        Long(id);
        Long(v);
        Counted();
        return *this;
    }
    /* An MQCFST of text blank-padded to pad bytes (0: as it is). */
    CmdBytes &Str(MQLONG id, const std::string &text, size_t pad = 0) {
        std::string s = text;
        if (s.size() < pad)
            s.resize(pad, ' ');
        size_t struc = (20 + s.size() + 3) & ~(size_t)3;
        Long(MQCFT_STRING);
        Long((MQLONG)struc);
        Long(id);
        Long(0);
        Long((MQLONG)s.size());
        Raw(s.data(), s.size());
        b.insert(b.end(), struc - 20 - s.size(), 0);
        Counted();
        return *this;
    }
    CmdBytes &IntList(MQLONG id, const std::vector<MQLONG> &v) {
        Long(MQCFT_INTEGER_LIST);
        Long((MQLONG)(16 + 4 * v.size()));
        Long(id);
        Long((MQLONG)v.size());
        for (MQLONG x : v)
            Long(x);
        Counted();
        return *this;
    }
    /* MQCFIF / MQCFSF filters. */
    CmdBytes &IntFilter(MQLONG id, MQLONG op, MQLONG v) {
        Long(MQCFT_INTEGER_FILTER);
        Long(20);
        Long(id);
        Long(op);
        Long(v);
        Counted();
        return *this;
    }
    CmdBytes &StrFilter(MQLONG id, MQLONG op, const std::string &s) {
        size_t struc = (24 + s.size() + 3) & ~(size_t)3;
        Long(MQCFT_STRING_FILTER);
        Long((MQLONG)struc);
        Long(id);
        Long(op);
        Long(0);
        Long((MQLONG)s.size());
        Raw(s.data(), s.size());
        b.insert(b.end(), struc - 24 - s.size(), 0);
        Counted();
        return *this;
    }
    std::string Data() const { return std::string((const char *)b.data(), b.size()); }
};

/* ---- Reading replies ---------------------------------------------------------------- */

struct PcfParm {
    MQLONG type = 0;
    MQLONG id = 0;
    MQLONG strucLength = 0;
    MQLONG value = 0;              /* MQCFIN */
    std::string str;               /* MQCFST (as sent, padding included), MQCFBS bytes */
    std::vector<MQLONG> ints;      /* MQCFIL */
    std::vector<std::string> strs; /* MQCFSL */
};

struct PcfMsg {
    bool ok = false; /* every structure lay within the message and it ended exactly */
    MQCFH h = {};
    std::vector<PcfParm> parms;

    const PcfParm *Find(MQLONG id) const {
        for (const PcfParm &p : parms) {
            if (p.id == id)
                return &p;
        }
        return nullptr;
    }
};

inline MQLONG LongAt(const std::string &d, size_t off) {
    MQLONG v;
    memcpy(&v, d.data() + off, 4);
    return v;
}

/* Walk a PCF message (top-level parameters; groups are not expected). */
inline PcfMsg DecodePcf(const std::string &d) {
    PcfMsg m;
    if (d.size() < 36)
        return m;
    memcpy(&m.h, d.data(), 36);
    size_t off = 36;
    for (MQLONG i = 0; i < m.h.ParameterCount; i++) {
        if (off + 16 > d.size())
            return m;
        PcfParm p;
        p.type = LongAt(d, off);
        p.strucLength = LongAt(d, off + 4);
        p.id = LongAt(d, off + 8);
        if (p.strucLength < 16 || off + (size_t)p.strucLength > d.size())
            return m;
        switch (p.type) {
            case MQCFT_INTEGER:
                p.value = LongAt(d, off + 12);
                break;
            case MQCFT_STRING: {
                MQLONG n = LongAt(d, off + 16);
                if (n < 0 || 20 + n > p.strucLength)
                    return m;
                p.str.assign(d, off + 20, (size_t)n);
                break;
            }
            case MQCFT_BYTE_STRING: {
                MQLONG n = LongAt(d, off + 12);
                if (n < 0 || 16 + n > p.strucLength)
                    return m;
                p.str.assign(d, off + 16, (size_t)n);
                break;
            }
            case MQCFT_INTEGER_LIST: {
                MQLONG n = LongAt(d, off + 12);
                if (n < 0 || 16 + 4 * (int64_t)n != p.strucLength)
                    return m;
                for (MQLONG k = 0; k < n; k++)
                    p.ints.push_back(LongAt(d, off + 16 + 4 * (size_t)k));
                break;
            }
            case MQCFT_STRING_LIST: {
                MQLONG n = LongAt(d, off + 16), len = LongAt(d, off + 20);
                if (n < 0 || len < 0 || 24 + (int64_t)n * len > p.strucLength)
                    return m;
                for (MQLONG k = 0; k < n; k++)
                    p.strs.push_back(d.substr(off + 24 + (size_t)k * (size_t)len, (size_t)len));
                break;
            }
            default:
                return m;
        }
        m.parms.push_back(p);
        off += (size_t)p.strucLength;
    }
    m.ok = off == d.size();
    return m;
}

/* ---- Talking to the command server ------------------------------------------------- */

struct Reply {
    MQMD md;
    std::string data;
    std::string Format() const { return std::string(md.Format, 8); }
    PcfMsg Pcf() const { return DecodePcf(data); }
};

inline std::string Padded(const std::string &s, size_t n) {
    return s + std::string(n > s.size() ? n - s.size() : 0, ' ');
}

/* A connection with a temporary dynamic reply queue of its own. */
class CmdClient {
public:
    ~CmdClient() { Disconnect(&h_); }

    /* Connect to qm and make the reply queue. Returns "" or an error. */
    std::string Open(const char *qm) {
        MQLONG rc = Connect(qm, &h_);
        if (rc != 0)
            return "MQCONNX " + std::to_string(rc);
        MQOD od;
        rc = ::Open(h_, "SYSTEM.DEFAULT.MODEL.QUEUE", MQOO_INPUT_EXCLUSIVE | MQOO_INQUIRE,
                    &replyObj_, &od, "", "CMDSRV.TEST.*");
        if (rc != 0)
            return "MQOPEN model " + std::to_string(rc);
        replyQ_ = GetName(od.ObjectName, sizeof od.ObjectName);
        return "";
    }

    MQHCONN Hconn() const { return h_; }
    const std::string &ReplyQ() const { return replyQ_; }

    /* Put a command to queue with format and report options, ReplyToQ our
     * reply queue unless md says otherwise (md may be null; on return it
     * holds the command's descriptor as put). Returns the reason. */
    MQLONG Send(const std::string &queue, const std::string &data, MQMD *mdInOut = nullptr,
                const char *format = MQFMT_ADMIN, MQLONG pmoOptions = MQPMO_NO_SYNCPOINT) {
        MQMD md = MQMD_DEFAULT;
        if (mdInOut != nullptr)
            md = *mdInOut;
        else
            SetName(md.ReplyToQ, sizeof md.ReplyToQ, replyQ_.c_str());
        memcpy(md.Format, format, 8);
        /* a request needs a reply-to queue; without one it is a datagram */
        md.MsgType = md.ReplyToQ[0] != '\0' && md.ReplyToQ[0] != ' ' ? MQMT_REQUEST : MQMT_DATAGRAM;
        MQLONG rc = Put1(h_, queue.c_str(), data, &md, pmoOptions);
        if (mdInOut != nullptr)
            *mdInOut = md;
        return rc;
    }

    /* The next reply, waiting up to waitMs. Returns the reason. */
    MQLONG GetReply(Reply *r, MQLONG waitMs = 20000, MQLONG buffer = 4 * 1048576) {
        r->md = MQMD_DEFAULT;
        return Get(h_, replyObj_, &r->data, &r->md, MQGMO_NO_SYNCPOINT, waitMs, buffer);
    }

    /* Replies until one completes the set (PCF: Control has MQCFC_LAST;
     * text: a CSQ9022I or CSQ9023E line) or none comes for waitMs. */
    std::vector<Reply> Collect(MQLONG waitMs = 20000) {
        std::vector<Reply> out;
        for (;;) {
            Reply r;
            if (GetReply(&r, waitMs) != 0)
                return out;
            out.push_back(r);
            if (r.Format() == MQFMT_ADMIN) {
                if (r.data.size() >= 36 && (LongAt(r.data, 20) & MQCFC_LAST))
                    return out;
            } else if (r.data.compare(0, 8, "CSQ9022I") == 0 ||
                       r.data.compare(0, 8, "CSQ9023E") == 0) {
                return out;
            }
        }
    }

    /* Send a PCF command to SYSTEM.ADMIN.COMMAND.QUEUE (or queue) and
     * collect its replies; an empty result when the put failed. */
    std::vector<Reply> Exchange(const CmdBytes &cmd,
                                const std::string &queue = "SYSTEM.ADMIN.COMMAND.QUEUE") {
        if (Send(queue, cmd.Data()) != 0)
            return {};
        return Collect();
    }

    /* Depth of a queue, or -1. */
    MQLONG Depth(const char *queue) {
        MQHOBJ o;
        if (::Open(h_, queue, MQOO_INQUIRE, &o) != 0)
            return -1;
        std::vector<MQLONG> v;
        MQLONG rc = InqInts(h_, o, {MQIA_CURRENT_Q_DEPTH}, &v);
        Close(h_, &o);
        return rc == 0 ? v[0] : -1;
    }

private:
    MQHCONN h_ = MQHC_UNUSABLE_HCONN;
    MQHOBJ replyObj_ = MQHO_NONE;
    std::string replyQ_;
};

/* The one reply of a reply set that should hold exactly one, decoded. */
inline PcfMsg OnlyReply(const std::vector<Reply> &replies) {
    EXPECT_EQ(replies.size(), 1u);
    if (replies.empty())
        return PcfMsg();
    PcfMsg m = replies[0].Pcf();
    EXPECT_TRUE(m.ok);
    return m;
}
