/* fake_mqi.h -- an in-process stand-in for the MQI entry points and a
 * captured log, for the unit tests of the modules that call MQ.
 *
 * Install() puts the fake verbs into MQEntryPoints with both connections
 * "open" and nothing recorded. The verbs record every call (opens, closes,
 * puts with their descriptor, options and bytes) and answer with the
 * reasons a test has queued; MQOPEN hands out handles and remembers the
 * name of each, MQINQ answers MAXMSGL and DEFTYPE per queue name.
 * Threads: workers call the verbs while the test thread looks, so the
 * state is kept under its own mutex.
 */
#pragma once

#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "config/settings.h"
#include "support/files.h"
#include "log/output.h"
#include "mq/connect.h"
#include "mq/mqload.h"
#include "mqconst/mqpcf.h"

namespace fakemq {

constexpr MQHCONN MAIN_HCONN = 11;
constexpr MQHCONN SECONDARY_HCONN = 22;

struct OPENCALL {
    std::string name;
    std::string qmgrName;
    MQLONG options;
    MQHOBJ hObj;
};

struct PUTCALL {
    MQHCONN hConn = 0;
    MQHOBJ hObj = 0;  /* MQPUT: the handle; MQPUT1: 0 */
    std::string name; /* MQPUT1: the object; MQPUT: the name the handle was opened for */
    MQMD md{};        /* the descriptor as the put left it */
    MQPMO pmo{};
    std::vector<MQBYTE> data;
    MQLONG reason = 0; /* what the put answered */
    std::string text() const { return std::string(data.begin(), data.end()); }
};

struct STATE {
    std::mutex lock;
    std::vector<OPENCALL> opens;
    std::deque<MQLONG> openFailures; /* reasons of the next opens; 0: succeed */
    std::map<MQHOBJ, std::string> handleNames;
    std::vector<MQHOBJ> closes;
    MQLONG closeReason = 0;
    int inquiries = 0;
    MQLONG inqReason = 0;
    MQLONG inqMaxMsgLen = 65536; /* unless maxMsgLength names the queue */
    MQLONG inqDefType = MQQDT_PREDEFINED;
    std::map<std::string, MQLONG> maxMsgLength;
    std::map<std::string, MQLONG> defType;
    std::vector<PUTCALL> puts;      /* MQPUT and MQPUT1, failed ones too */
    std::deque<MQLONG> putFailures; /* reasons of the next puts; 0: succeed */
    bool assignMsgIds = false;      /* give a put without MsgId one, as MQ does */
    uint32_t nextMsgId = 1;
    int disconnects = 0;
    MQHOBJ nextHObj = 100;
};

inline STATE &State() {
    static STATE state;
    return state;
}

/* A blank- or NUL-padded name field without its padding. */
inline std::string Field(const MQCHAR *field, size_t size) {
    size_t len = strnlen(field, size);
    while (len > 0 && field[len - 1] == ' ')
        len--;
    return std::string(field, len);
}

inline void Result(MQLONG reason, PMQLONG compCode, PMQLONG pReason) {
    *compCode = reason == 0 ? MQCC_OK : MQCC_FAILED;
    *pReason = reason;
}

inline MQLONG NextFailure(std::deque<MQLONG> &queue) {
    if (queue.empty())
        return 0;
    MQLONG reason = queue.front();
    queue.pop_front();
    return reason;
}

inline void MQENTRY Open(MQHCONN, PMQOD od, MQLONG options, PMQHOBJ hObj, PMQLONG compCode,
                         PMQLONG reason) {
    STATE &s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    MQLONG failure = NextFailure(s.openFailures);
    OPENCALL call{Field(od->ObjectName, sizeof od->ObjectName),
                  Field(od->ObjectQMgrName, sizeof od->ObjectQMgrName), options,
                  failure == 0 ? s.nextHObj++ : MQHO_UNUSABLE_HOBJ};
    s.opens.push_back(call);
    if (failure == 0)
        s.handleNames[call.hObj] = call.name;
    *hObj = call.hObj;
    Result(failure, compCode, reason);
}

inline void MQENTRY Close(MQHCONN, PMQHOBJ hObj, MQLONG, PMQLONG compCode, PMQLONG reason) {
    STATE &s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.closes.push_back(*hObj);
    if (s.closeReason == 0)
        *hObj = MQHO_UNUSABLE_HOBJ;
    Result(s.closeReason, compCode, reason);
}

inline void MQENTRY Inq(MQHCONN, MQHOBJ hObj, MQLONG count, PMQLONG selectors, MQLONG intCount,
                        PMQLONG ints, MQLONG, PMQCHAR, PMQLONG compCode, PMQLONG reason) {
    STATE &s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.inquiries++;
    const std::string &name = s.handleNames[hObj];
    for (MQLONG i = 0; s.inqReason == 0 && i < count && i < intCount; i++) {
        if (selectors[i] == MQIA_MAX_MSG_LENGTH)
            ints[i] = s.maxMsgLength.count(name) ? s.maxMsgLength[name] : s.inqMaxMsgLen;
        else if (selectors[i] == MQIA_DEFINITION_TYPE)
            ints[i] = s.defType.count(name) ? s.defType[name] : s.inqDefType;
        else
            ints[i] = 0;
    }
    Result(s.inqReason, compCode, reason);
}

inline void Record(MQHCONN hConn, MQHOBJ hObj, std::string name, PMQMD md, PMQPMO pmo,
                   MQLONG length, PMQVOID buffer, PMQLONG compCode, PMQLONG reason) {
    STATE &s = State();
    PUTCALL call;
    call.reason = NextFailure(s.putFailures);
    if (call.reason == 0 && s.assignMsgIds && memcmp(md->MsgId, MQMI_NONE, MQ_MSG_ID_LENGTH) == 0) {
        uint32_t n = s.nextMsgId++;
        memcpy(md->MsgId, "FAKEMSGID", 9);
        memcpy(md->MsgId + 20, &n, sizeof n);
    }
    call.hConn = hConn;
    call.hObj = hObj;
    call.name = std::move(name);
    call.md = *md;
    call.pmo = *pmo;
    const MQBYTE *p = static_cast<const MQBYTE *>(buffer);
    call.data.assign(p, p + length);
    s.puts.push_back(call);
    Result(call.reason, compCode, reason);
}

inline void MQENTRY Put(MQHCONN hConn, MQHOBJ hObj, PMQMD md, PMQPMO pmo, MQLONG length,
                        PMQVOID buffer, PMQLONG compCode, PMQLONG reason) {
    std::lock_guard<std::mutex> guard(State().lock);
    auto it = State().handleNames.find(hObj);
    Record(hConn, hObj, it == State().handleNames.end() ? "" : it->second, md, pmo, length, buffer,
           compCode, reason);
}

inline void MQENTRY Put1(MQHCONN hConn, PMQOD od, PMQMD md, PMQPMO pmo, MQLONG length,
                         PMQVOID buffer, PMQLONG compCode, PMQLONG reason) {
    std::lock_guard<std::mutex> guard(State().lock);
    Record(hConn, 0, Field(od->ObjectName, sizeof od->ObjectName), md, pmo, length, buffer,
           compCode, reason);
}

inline void MQENTRY Disc(PMQHCONN hConn, PMQLONG compCode, PMQLONG reason) {
    STATE &s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.disconnects++;
    *hConn = MQHC_UNUSABLE_HCONN;
    Result(0, compCode, reason);
}

/* Put the fake into the table, with both connections "open" and nothing
 * recorded or scripted yet (each test starts afresh). */
inline void Install() {
    {
        STATE &s = State();
        std::lock_guard<std::mutex> guard(s.lock);
        s.opens.clear();
        s.openFailures.clear();
        s.handleNames.clear();
        s.closes.clear();
        s.closeReason = 0;
        s.inquiries = 0;
        s.inqReason = 0;
        s.inqMaxMsgLen = 65536;
        s.inqDefType = MQQDT_PREDEFINED;
        s.maxMsgLength.clear();
        s.defType.clear();
        s.puts.clear();
        s.putFailures.clear();
        s.assignMsgIds = false;
        s.disconnects = 0;
        s.nextHObj = 100;
    }
    memset(&MQEntryPoints, 0, sizeof MQEntryPoints);
    MQEntryPoints.MQOPEN = Open;
    MQEntryPoints.MQCLOSE = Close;
    MQEntryPoints.MQINQ = Inq;
    MQEntryPoints.MQPUT = Put;
    MQEntryPoints.MQPUT1 = Put1;
    MQEntryPoints.MQDISC = Disc;
    HConnMain.store(MAIN_HCONN);
    HConnSecondary.store(SECONDARY_HCONN);
}

/* Copies of what was recorded so far. */
inline std::vector<PUTCALL> Puts() {
    std::lock_guard<std::mutex> guard(State().lock);
    return State().puts;
}
inline std::vector<OPENCALL> Opens() {
    std::lock_guard<std::mutex> guard(State().lock);
    return State().opens;
}
inline std::vector<MQHOBJ> Closes() {
    std::lock_guard<std::mutex> guard(State().lock);
    return State().closes;
}

/* The puts made to the queue of that name. */
inline std::vector<PUTCALL> PutsTo(const std::string &name) {
    std::vector<PUTCALL> out;
    for (const PUTCALL &p : Puts())
        if (p.name == name)
            out.push_back(p);
    return out;
}

using tvtest::CountOf;
using tvtest::WaitUntil;

/* Messages written from Start() on, while it lives, go to a temporary
 * log stream; Text() gives what was written. Start it after InitSettings,
 * which makes standard output the log stream again. */
class CapturedLog {
public:
    void Start() {
        if (file_ == nullptr)
            file_ = std::tmpfile();
        previous_ = LogStream.load();
        LogStream.store(file_);
    }
    ~CapturedLog() {
        if (file_ != nullptr && LogStream.load() == file_)
            LogStream.store(previous_);
        if (file_ != nullptr)
            fclose(file_);
    }
    std::string Text() {
        std::string text;
        if (file_ == nullptr)
            return text;
        fflush(file_);
        long end = ftell(file_);
        rewind(file_);
        text.resize(end > 0 ? static_cast<size_t>(end) : 0);
        size_t got = fread(&text[0], 1, text.size(), file_);
        text.resize(got);
        fseek(file_, 0, SEEK_END);
        return text;
    }

private:
    FILE *file_ = nullptr;
    FILE *previous_ = nullptr;
};

} /* namespace fakemq */
