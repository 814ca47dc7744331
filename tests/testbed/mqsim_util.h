/* mqsim_util.h -- short forms of MQI calls for the stand-in's tests.
 *
 * Each helper makes one MQI call with the usual structures and returns the
 * reason code (0 on success), so tests read as the behaviour they check.
 */
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "mqconst/mqi.h"

/* Copy a name into a fixed MQ field (NUL-padded, as C programs do). */
inline void SetName(MQCHAR *field, size_t n, const char *name) {
    memset(field, 0, n);
    memcpy(field, name, strnlen(name, n));
}

/* A name from a fixed field: up to the first NUL or blank. */
inline std::string GetName(const MQCHAR *field, size_t n) {
    size_t len = 0;
    while (len < n && field[len] != '\0' && field[len] != ' ')
        len++;
    return std::string(field, len);
}

inline MQLONG Connect(const char *qm, MQHCONN *h, MQLONG options = MQCNO_HANDLE_SHARE_BLOCK,
                      MQLONG version = MQCNO_VERSION_1) {
    MQCNO cno = MQCNO_DEFAULT;
    cno.Version = version;
    cno.Options = options;
    MQCHAR48 name;
    SetName(name, sizeof name, qm);
    MQLONG cc, rc;
    MQCONNX(name, &cno, h, &cc, &rc);
    return rc;
}

inline MQLONG Disconnect(MQHCONN *h) {
    MQLONG cc, rc;
    MQDISC(h, &cc, &rc);
    return rc;
}

inline MQLONG Open(MQHCONN h, const char *q, MQLONG options, MQHOBJ *o, MQOD *odOut = nullptr,
                   const char *qmgr = "", const char *dynamic = "AMQ.*") {
    MQOD od = MQOD_DEFAULT;
    od.Version = MQOD_VERSION_4;
    SetName(od.ObjectName, sizeof od.ObjectName, q);
    SetName(od.ObjectQMgrName, sizeof od.ObjectQMgrName, qmgr);
    SetName(od.DynamicQName, sizeof od.DynamicQName, dynamic);
    MQLONG cc, rc;
    MQOPEN(h, &od, options, o, &cc, &rc);
    if (odOut)
        *odOut = od;
    return rc;
}

inline MQLONG OpenQmgr(MQHCONN h, MQHOBJ *o) {
    MQOD od = MQOD_DEFAULT;
    od.ObjectType = MQOT_Q_MGR;
    MQLONG cc, rc;
    MQOPEN(h, &od, MQOO_INQUIRE, o, &cc, &rc);
    return rc;
}

inline MQLONG Close(MQHCONN h, MQHOBJ *o, MQLONG options = MQCO_NONE) {
    MQLONG cc, rc;
    MQCLOSE(h, o, options, &cc, &rc);
    return rc;
}

inline MQLONG Put(MQHCONN h, MQHOBJ o, const std::string &text, MQMD *mdInOut = nullptr,
                  MQLONG pmoOptions = MQPMO_NO_SYNCPOINT, MQHOBJ context = MQHO_NONE) {
    MQMD md = MQMD_DEFAULT;
    if (mdInOut)
        md = *mdInOut;
    else
        memcpy(md.Format, MQFMT_STRING, 8);
    MQPMO pmo = MQPMO_DEFAULT;
    pmo.Options = pmoOptions;
    pmo.Context = context;
    MQLONG cc, rc;
    MQPUT(h, o, &md, &pmo, (MQLONG)text.size(), (PMQVOID)text.data(), &cc, &rc);
    if (mdInOut)
        *mdInOut = md;
    return rc;
}

inline MQLONG Put1(MQHCONN h, const char *q, const std::string &text, MQMD *mdInOut = nullptr,
                   MQLONG pmoOptions = MQPMO_NO_SYNCPOINT, const char *qmgr = "") {
    MQOD od = MQOD_DEFAULT;
    SetName(od.ObjectName, sizeof od.ObjectName, q);
    SetName(od.ObjectQMgrName, sizeof od.ObjectQMgrName, qmgr);
    MQMD md = MQMD_DEFAULT;
    if (mdInOut)
        md = *mdInOut;
    MQPMO pmo = MQPMO_DEFAULT;
    pmo.Options = pmoOptions;
    MQLONG cc, rc;
    MQPUT1(h, &od, &md, &pmo, (MQLONG)text.size(), (PMQVOID)text.data(), &cc, &rc);
    if (mdInOut)
        *mdInOut = md;
    return rc;
}

/* MQGET into a buffer of bufferLength bytes; *text gets what was returned.
 * mdInOut carries the MsgId / CorrelId to match in and the descriptor out. */
inline MQLONG Get(MQHCONN h, MQHOBJ o, std::string *text, MQMD *mdInOut = nullptr,
                  MQLONG gmoOptions = MQGMO_NO_SYNCPOINT, MQLONG waitMs = 0,
                  MQLONG bufferLength = 65536, MQLONG *dataLength = nullptr) {
    MQMD md = MQMD_DEFAULT;
    if (mdInOut)
        md = *mdInOut;
    MQGMO gmo = MQGMO_DEFAULT;
    gmo.Version = MQGMO_VERSION_3;
    gmo.Options = gmoOptions | (waitMs != 0 ? MQGMO_WAIT : 0);
    gmo.WaitInterval = waitMs;
    std::vector<char> buf((size_t)bufferLength + 1);
    MQLONG len = 0, cc, rc;
    MQGET(h, o, &md, &gmo, bufferLength, buf.data(), &len, &cc, &rc);
    if (text)
        text->assign(buf.data(), (size_t)(len < bufferLength ? len : bufferLength));
    if (mdInOut)
        *mdInOut = md;
    if (dataLength)
        *dataLength = len;
    return rc;
}

inline MQLONG InqInts(MQHCONN h, MQHOBJ o, std::vector<MQLONG> sels, std::vector<MQLONG> *ints) {
    ints->assign(sels.size(), 0);
    MQLONG cc, rc;
    MQINQ(h, o, (MQLONG)sels.size(), sels.data(), (MQLONG)sels.size(), ints->data(), 0, nullptr,
          &cc, &rc);
    return rc;
}

/* CURDEPTH of a queue, or -1. */
inline MQLONG Depth(MQHCONN h, const char *q) {
    MQHOBJ o;
    if (Open(h, q, MQOO_INQUIRE, &o) != 0)
        return -1;
    std::vector<MQLONG> v;
    MQLONG rc = InqInts(h, o, {MQIA_CURRENT_Q_DEPTH}, &v);
    Close(h, &o);
    return rc == 0 ? v[0] : -1;
}
