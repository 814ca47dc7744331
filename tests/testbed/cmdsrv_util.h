/* cmdsrv_util.h -- commands to the stand-in command server and its replies,
 * for the command server's tests: commands built with support/pcf_builder.h;
 * CmdClient connects through the MQI library, sends a command to a command
 * queue with a private temporary reply queue and collects the reply set.
 */
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "mqcmd_replyset.h"
#include "mqconst/mqi.h"
#include "mqconst/mqpcf.h"
#include "mqsim_util.h"
#include "support/pcf_builder.h"

/* A PCF command: header of type and version, Control MQCFC_LAST. */
inline tvtest::Pcf Cmd(MQLONG command, MQLONG type = MQCFT_COMMAND, MQLONG version = 1) {
    tvtest::Pcf p(command, type);
    p.Control(MQCFC_LAST).Version(version);
    return p;
}
inline std::string Bytes(const tvtest::Pcf &p) {
    std::vector<MQBYTE> b = p.bytes();
    return std::string(b.begin(), b.end());
}
inline std::string Padded(const std::string &s, size_t n) {
    return s + std::string(n > s.size() ? n - s.size() : 0, ' ');
}

/* A reply: its header and parameters (a reply that is not sound PCF fails
 * the test). Text and Value give "<missing>" and -999 for a parameter the
 * reply lacks. */
struct PcfMsg {
    MQCFH h = {};
    std::vector<tvtest::Parm> parms;
    const tvtest::Parm *Find(MQLONG id) const {
        for (const tvtest::Parm &p : parms)
            if (p.parameter == id)
                return &p;
        return nullptr;
    }
    std::string Text(MQLONG id) const { return Find(id) ? Find(id)->text : "<missing>"; }
    MQLONG Value(MQLONG id) const { return Find(id) ? Find(id)->value : -999; }
    std::vector<MQLONG> Ids() const {
        std::vector<MQLONG> ids;
        for (const tvtest::Parm &p : parms)
            ids.push_back(p.parameter);
        return ids;
    }
};

inline PcfMsg DecodePcf(const std::string &d) {
    PcfMsg m;
    if (d.size() >= sizeof m.h)
        memcpy(&m.h, d.data(), sizeof m.h);
    m.parms = tvtest::ReadParms(std::vector<MQBYTE>(d.begin(), d.end()));
    return m;
}

struct Reply {
    MQMD md;
    std::string data;
    std::string Format() const { return std::string(md.Format, 8); }
    PcfMsg Pcf() const { return DecodePcf(data); }
};

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

    /* Put a command to queue with format, ReplyToQ our reply queue unless
     * md says otherwise (md may be null; on return it holds the command's
     * descriptor as put). Returns the reason. */
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
    MQLONG GetReply(Reply *r, MQLONG waitMs = 20000) {
        r->md = MQMD_DEFAULT;
        return Get(h_, replyObj_, &r->data, &r->md, MQGMO_NO_SYNCPOINT, waitMs, 4 * 1048576);
    }

    /* Replies until one completes the set (mqcmd's rule: the MQCFC_LAST
     * bit, or a z/OS completion line) or none comes for 20 seconds. */
    std::vector<Reply> Collect() {
        std::vector<Reply> out;
        Reply r;
        while (GetReply(&r) == 0) {
            out.push_back(r);
            if (ReplyCompletesSet(r.md.Format, (const MQBYTE *)r.data.data(), r.data.size()))
                break;
        }
        return out;
    }

    /* Send a PCF command to SYSTEM.ADMIN.COMMAND.QUEUE (or queue) and
     * collect its replies; an empty result when the put failed. */
    std::vector<Reply> Exchange(const tvtest::Pcf &cmd,
                                const std::string &queue = "SYSTEM.ADMIN.COMMAND.QUEUE") {
        if (Send(queue, Bytes(cmd)) != 0)
            return {};
        return Collect();
    }

    MQLONG Depth(const char *queue) { return ::Depth(h_, queue); }

private:
    MQHCONN h_ = MQHC_UNUSABLE_HCONN;
    MQHOBJ replyObj_ = MQHO_NONE;
    std::string replyQ_;
};

/* The one reply of a reply set that should hold exactly one, decoded. */
inline PcfMsg OnlyReply(const std::vector<Reply> &replies) {
    EXPECT_EQ(replies.size(), 1u);
    return replies.empty() ? PcfMsg() : replies[0].Pcf();
}
