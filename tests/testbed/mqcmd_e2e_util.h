/* mqcmd_e2e_util.h -- running the requester and talking to the stand-in queue
 * manager from end-to-end tests: mqcmd as a child process with its output
 * parsed as JSON Lines, and a connection of the test's own for responders and
 * checks. */
#pragma once

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "mqconst/mqi.h"
#include "support/harness.h"

constexpr MQLONG RESPONDER_WAIT_MS = 20000;

using MqcmdResult = tvtest::ANSWER;
using tvtest::RunMqcmd;

inline std::string Hex(const MQBYTE *b, size_t n) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < n; i++) {
        s.push_back(digits[b[i] >> 4]);
        s.push_back(digits[b[i] & 15]);
    }
    return s;
}

inline std::string Field(const MQCHAR *f, size_t n) {
    size_t len = 0;
    while (len < n && f[len] != ' ' && f[len] != '\0')
        len++;
    return std::string(f, len);
}

inline void SetName(MQCHAR *field, size_t size, const std::string &name) {
    memset(field, ' ', size);
    memcpy(field, name.data(), name.size() < size ? name.size() : size);
}

/* The test's own MQI connection, for the responder and for checks. */
struct Connection {
    MQHCONN hconn = MQHC_UNUSABLE_HCONN;
    MQLONG reason = 0;
    explicit Connection(const char *qm) {
        MQCHAR name[MQ_Q_MGR_NAME_LENGTH];
        SetName(name, sizeof name, qm);
        MQLONG cc;
        MQCONN(name, &hconn, &cc, &reason);
    }
    ~Connection() {
        MQLONG cc, rc;
        if (hconn != MQHC_UNUSABLE_HCONN)
            MQDISC(&hconn, &cc, &rc);
    }
};

/* Take one message from queue, waiting up to waitMs. Returns the reason. */
inline MQLONG TakeMessage(MQHCONN hconn, const char *queue, MQLONG waitMs, MQMD *md,
                          std::vector<MQBYTE> *body) {
    MQOD od = MQOD_DEFAULT;
    SetName(od.ObjectName, sizeof od.ObjectName, queue);
    MQHOBJ hobj;
    MQLONG cc, rc;
    MQOPEN(hconn, &od, MQOO_INPUT_SHARED, &hobj, &cc, &rc);
    if (cc == MQCC_FAILED)
        return rc;
    *md = MQMD_DEFAULT;
    MQGMO gmo = MQGMO_DEFAULT;
    gmo.Version = MQGMO_VERSION_2;
    gmo.Options = MQGMO_WAIT | MQGMO_NO_SYNCPOINT;
    gmo.WaitInterval = waitMs;
    gmo.MatchOptions = MQMO_NONE;
    body->resize(1 << 20);
    MQLONG length = 0;
    MQGET(hconn, hobj, md, &gmo, (MQLONG)body->size(), body->data(), &length, &cc, &rc);
    body->resize(cc == MQCC_FAILED ? 0 : (size_t)length);
    MQLONG getReason = cc == MQCC_FAILED ? rc : 0;
    MQCLOSE(hconn, &hobj, MQCO_NONE, &cc, &rc);
    return getReason;
}

/* Current depth of a queue, or -1. */
inline MQLONG QueueDepth(MQHCONN hconn, const std::string &queue) {
    MQOD od = MQOD_DEFAULT;
    SetName(od.ObjectName, sizeof od.ObjectName, queue);
    MQHOBJ hobj;
    MQLONG cc, rc;
    MQOPEN(hconn, &od, MQOO_INQUIRE, &hobj, &cc, &rc);
    if (cc == MQCC_FAILED)
        return -1;
    MQLONG selector = MQIA_CURRENT_Q_DEPTH, depth = -1;
    MQINQ(hconn, hobj, 1, &selector, 1, &depth, 0, nullptr, &cc, &rc);
    MQCLOSE(hconn, &hobj, MQCO_NONE, &cc, &rc);
    return cc == MQCC_FAILED ? -1 : depth;
}

/* Send one reply to the request's reply-to queue with the identifiers the
 * request's report options ask for (unless given). */
inline MQLONG SendReply(MQHCONN hconn, const MQMD &request, const MQCHAR *format,
                        const std::vector<MQBYTE> &body, const MQBYTE *correlOverride = nullptr) {
    MQOD od = MQOD_DEFAULT;
    memcpy(od.ObjectName, request.ReplyToQ, sizeof od.ObjectName);
    memcpy(od.ObjectQMgrName, request.ReplyToQMgr, sizeof od.ObjectQMgrName);
    MQMD md = MQMD_DEFAULT;
    md.MsgType = MQMT_REPLY;
    memcpy(md.Format, format, MQ_FORMAT_LENGTH);
    if (request.Report & MQRO_PASS_MSG_ID)
        memcpy(md.MsgId, request.MsgId, sizeof md.MsgId);
    if (request.Report & MQRO_PASS_CORREL_ID)
        memcpy(md.CorrelId, request.CorrelId, sizeof md.CorrelId);
    else
        memcpy(md.CorrelId, request.MsgId, sizeof md.CorrelId);
    if (correlOverride != nullptr)
        memcpy(md.CorrelId, correlOverride, sizeof md.CorrelId);
    MQPMO pmo = MQPMO_DEFAULT;
    pmo.Options = MQPMO_NO_SYNCPOINT;
    MQLONG cc, rc;
    MQPUT1(hconn, &od, &md, &pmo, (MQLONG)body.size(), (PMQVOID)body.data(), &cc, &rc);
    return cc == MQCC_FAILED ? rc : 0;
}
