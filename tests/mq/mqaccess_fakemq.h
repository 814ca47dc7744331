/* mqaccess_fakemq.h -- a scripted stand-in for the MQI entry points, put
 * into MQEntryPoints by unit tests of the MQ access modules: it records
 * each call and answers with the reasons a test has queued.
 *
 * Threads: the fake's state is guarded by its own mutex, since workers
 * call MQPUT1 while the test thread looks.
 */
#pragma once

#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config/settings.h"
#include "log/output.h"
#include "mq/connect.h"
#include "mq/mqload.h"
#include "mq/mqpcf.h"

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
    MQHCONN hConn;
    MQHOBJ hObj;      /* MQPUT */
    std::string name; /* MQPUT1 */
    MQMD md;
    MQPMO pmo;
    std::string data;
};

struct STATE {
    std::mutex lock;
    std::vector<OPENCALL> opens;
    std::deque<MQLONG> openFailures; /* reasons of the next opens; 0: succeed */
    std::vector<MQHOBJ> closes;
    MQLONG closeReason = 0;
    int inquiries = 0;
    MQLONG inqReason = 0;
    MQLONG inqMaxMsgLen = 65536;
    MQLONG inqDefType = MQQDT_PREDEFINED;
    std::vector<PUTCALL> puts;      /* MQPUT and MQPUT1 */
    std::deque<MQLONG> putFailures; /* reasons of the next puts; 0: succeed */
    int disconnects = 0;
    MQHOBJ nextHObj = 100;
};

inline STATE &State() {
    static STATE state;
    return state;
}

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

inline void MQENTRY Inq(MQHCONN, MQHOBJ, MQLONG count, PMQLONG selectors, MQLONG intCount,
                        PMQLONG ints, MQLONG, PMQCHAR, PMQLONG compCode, PMQLONG reason) {
    STATE &s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.inquiries++;
    if (s.inqReason == 0) {
        for (MQLONG i = 0; i < count && i < intCount; i++)
            ints[i] = selectors[i] == MQIA_MAX_MSG_LENGTH ? s.inqMaxMsgLen : s.inqDefType;
    }
    Result(s.inqReason, compCode, reason);
}

inline void MQENTRY Put(MQHCONN hConn, MQHOBJ hObj, PMQMD md, PMQPMO pmo, MQLONG length,
                        PMQVOID buffer, PMQLONG compCode, PMQLONG reason) {
    STATE &s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.puts.push_back(
        PUTCALL{hConn, hObj, "", *md, *pmo, std::string(static_cast<char *>(buffer), length)});
    Result(NextFailure(s.putFailures), compCode, reason);
}

inline void MQENTRY Put1(MQHCONN hConn, PMQOD od, PMQMD md, PMQPMO pmo, MQLONG length,
                         PMQVOID buffer, PMQLONG compCode, PMQLONG reason) {
    STATE &s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.puts.push_back(PUTCALL{hConn, 0, Field(od->ObjectName, sizeof od->ObjectName), *md, *pmo,
                             std::string(static_cast<char *>(buffer), length)});
    Result(NextFailure(s.putFailures), compCode, reason);
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
        s.closes.clear();
        s.closeReason = 0;
        s.inquiries = 0;
        s.inqReason = 0;
        s.inqMaxMsgLen = 65536;
        s.inqDefType = MQQDT_PREDEFINED;
        s.puts.clear();
        s.putFailures.clear();
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

/* Poll until cond holds or seconds pass. */
inline bool WaitFor(const std::function<bool()> &cond, int seconds = 20) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

/* Messages written from Start() on, while it lives, go to a temporary
 * log stream; Text() gives what was written. Start it after InitSettings,
 * which makes standard output the log stream again. */
class CapturedLog {
public:
    void Start() {
        if (file_ == nullptr)
            file_ = std::tmpfile();
        previous_ = Settings.logStream.load();
        Settings.logStream.store(file_);
    }
    ~CapturedLog() {
        if (file_ != nullptr && Settings.logStream.load() == file_)
            Settings.logStream.store(previous_);
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

inline int CountOf(const std::string &text, const std::string &what) {
    int n = 0;
    for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1))
        n++;
    return n;
}

} /* namespace fakemq */
