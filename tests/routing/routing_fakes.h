/* routing_fakes.h -- an in-process stand-in for the MQI entry points, a PCF
 * message builder and reader, and a captured log, for the unit tests of
 * the routing module.
 *
 * The fake verbs record every put (queue handle, descriptor, put options,
 * bytes) and can be told to fail; MQOPEN hands out handles per queue name
 * and MQINQ answers a MAXMSGL and DEFTYPE set per queue name.
 * Threads: the test thread; MQPUT1 may also be called from worker threads,
 * so the records are kept under a mutex.
 */
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "config/settings.h"
#include "core/agent.h"
#include "log/status.h"
#include "log/cs.h"
#include "log/output.h"
#include "mq/connect.h"
#include "mq/hobjcache.h"
#include "mq/mqload.h"
#include "mqconst/mqpcf.h"
#include "mq/queues.h"
#include "mqconst/mqconst.h"
#include "routing/request.h"
#include "routing/routing.h"

namespace rtest {

constexpr MQHCONN FakeHConnMain = 11;
constexpr MQHCONN FakeHConnSecondary = 12;
constexpr MQHOBJ FakeCommandQ = 101;
constexpr MQHOBJ FakeInputQ = 102;
constexpr MQHOBJ FakeReplyQ = 103;
constexpr const char *FakeReplyQName = "CORVEL.TORVIK.4F2A000000000001";

struct PutRecord {
    MQHOBJ hObj = 0;   /* MQPUT: the handle; MQPUT1: 0 */
    std::string qName; /* MQPUT1: the object name; MQPUT: the opened name */
    MQMD md{};         /* the descriptor as the put left it */
    MQLONG pmoOptions = 0;
    MQHOBJ pmoContext = 0;
    std::vector<MQBYTE> data;
};

struct OpenRecord {
    std::string qName;
    std::string qmgrName;
    MQLONG options = 0;
    MQHOBJ hObj = 0;
};

struct FakeState {
    std::mutex lock;
    std::vector<PutRecord> puts; /* MQPUT and MQPUT1, in order */
    std::vector<OpenRecord> opens;
    std::map<MQHOBJ, std::string> handleNames;
    std::map<std::string, MQLONG> maxMsgLength; /* MQINQ answers per queue */
    std::map<std::string, MQLONG> defType;
    int putFailures = 0; /* the next puts that fail */
    MQLONG putFailReason = MQRC_Q_FULL;
    int putAttempts = 0;
    MQHOBJ nextHandle = 500;
    uint32_t nextMsgId = 1;
};

inline FakeState &Fake() {
    static FakeState state;
    return state;
}

inline std::string TrimName(const MQCHAR *field, size_t size) {
    size_t n = 0;
    while (n < size && field[n] != '\0')
        n++;
    while (n > 0 && field[n - 1] == ' ')
        n--;
    return std::string(field, n);
}

inline void NewMsgIdIfNone(MQMD *md) {
    static const MQBYTE none[MQ_MSG_ID_LENGTH] = {};
    if (memcmp(md->MsgId, none, MQ_MSG_ID_LENGTH) == 0) {
        uint32_t n = Fake().nextMsgId++;
        memcpy(md->MsgId, "FAKEMSGID", 9);
        memcpy(md->MsgId + 20, &n, sizeof n);
    }
}

inline void MQENTRY FakeOpen(MQHCONN, PMQOD od, MQLONG options, PMQHOBJ hObj, PMQLONG cc,
                             PMQLONG rc) {
    std::lock_guard<std::mutex> g(Fake().lock);
    OpenRecord r;
    r.qName = TrimName(od->ObjectName, sizeof od->ObjectName);
    r.qmgrName = TrimName(od->ObjectQMgrName, sizeof od->ObjectQMgrName);
    r.options = options;
    r.hObj = Fake().nextHandle++;
    Fake().opens.push_back(r);
    Fake().handleNames[r.hObj] = r.qName;
    *hObj = r.hObj;
    *cc = MQCC_OK;
    *rc = MQRC_NONE;
}

inline void MQENTRY FakeInq(MQHCONN, MQHOBJ hObj, MQLONG count, PMQLONG selectors, MQLONG intCount,
                            PMQLONG ints, MQLONG, PMQCHAR, PMQLONG cc, PMQLONG rc) {
    std::lock_guard<std::mutex> g(Fake().lock);
    std::string name = Fake().handleNames[hObj];
    for (MQLONG i = 0; i < count && i < intCount; i++) {
        if (selectors[i] == MQIA_MAX_MSG_LENGTH)
            ints[i] = Fake().maxMsgLength.count(name) ? Fake().maxMsgLength[name] : 4194304;
        else if (selectors[i] == MQIA_DEFINITION_TYPE)
            ints[i] = Fake().defType.count(name) ? Fake().defType[name] : MQQDT_PREDEFINED;
        else
            ints[i] = 0;
    }
    *cc = MQCC_OK;
    *rc = MQRC_NONE;
}

inline void MQENTRY FakePut(MQHCONN, MQHOBJ hObj, PMQMD md, PMQPMO pmo, MQLONG length,
                            PMQVOID buffer, PMQLONG cc, PMQLONG rc) {
    std::lock_guard<std::mutex> g(Fake().lock);
    Fake().putAttempts++;
    if (Fake().putFailures > 0) {
        Fake().putFailures--;
        *cc = MQCC_FAILED;
        *rc = Fake().putFailReason;
        return;
    }
    NewMsgIdIfNone(md);
    PutRecord r;
    r.hObj = hObj;
    r.qName = Fake().handleNames.count(hObj) ? Fake().handleNames[hObj] : "";
    r.md = *md;
    r.pmoOptions = pmo->Options;
    r.pmoContext = pmo->Context;
    const MQBYTE *p = static_cast<const MQBYTE *>(buffer);
    r.data.assign(p, p + length);
    Fake().puts.push_back(r);
    *cc = MQCC_OK;
    *rc = MQRC_NONE;
}

inline void MQENTRY FakePut1(MQHCONN, PMQOD od, PMQMD md, PMQPMO pmo, MQLONG length, PMQVOID buffer,
                             PMQLONG cc, PMQLONG rc) {
    std::lock_guard<std::mutex> g(Fake().lock);
    NewMsgIdIfNone(md);
    PutRecord r;
    r.qName = TrimName(od->ObjectName, sizeof od->ObjectName);
    r.md = *md;
    r.pmoOptions = pmo->Options;
    const MQBYTE *p = static_cast<const MQBYTE *>(buffer);
    r.data.assign(p, p + length);
    Fake().puts.push_back(r);
    *cc = MQCC_OK;
    *rc = MQRC_NONE;
}

inline void MQENTRY FakeClose(MQHCONN, PMQHOBJ hObj, MQLONG, PMQLONG cc, PMQLONG rc) {
    *hObj = MQHO_UNUSABLE_HOBJ;
    *cc = MQCC_OK;
    *rc = MQRC_NONE;
}

inline void MQENTRY FakeDisc(PMQHCONN hConn, PMQLONG cc, PMQLONG rc) {
    *hConn = MQHC_UNUSABLE_HCONN;
    *cc = MQCC_OK;
    *rc = MQRC_NONE;
}

/* Puts so far (a copy, safe against worker threads). */
inline std::vector<PutRecord> Puts() {
    std::lock_guard<std::mutex> g(Fake().lock);
    return Fake().puts;
}

/* Puts made to a reply queue of that name. */
inline std::vector<PutRecord> PutsTo(const std::string &qName) {
    std::vector<PutRecord> out;
    for (const PutRecord &r : Puts())
        if (r.qName == qName)
            out.push_back(r);
    return out;
}

/* ---- PCF messages ------------------------------------------------------- */

inline MQLONG Get(const std::vector<MQBYTE> &m, size_t at) {
    MQLONG v = 0;
    if (at + 4 <= m.size())
        memcpy(&v, m.data() + at, 4);
    return v;
}
inline void Set(std::vector<MQBYTE> &m, size_t at, MQLONG v) {
    memcpy(m.data() + at, &v, 4);
}

/* Builds one PCF message: header first, then parameters in order. */
class Pcf {
public:
    explicit Pcf(MQLONG command, MQLONG type = MQCFT_RESPONSE) {
        MQCFH cfh = MQCFH_DEFAULT;
        cfh.Type = type;
        cfh.Command = command;
        cfh.Control = MQCFC_NOT_LAST;
        Append(&cfh, sizeof cfh);
    }
    Pcf &Control(MQLONG v) { return Field(20, v); }
    Pcf &Seq(MQLONG v) { return Field(16, v); }
    Pcf &CompCode(MQLONG v) { return Field(24, v); }
    Pcf &Reason(MQLONG v) { return Field(28, v); }
    Pcf &Count(MQLONG v) { return Field(32, v); }
    Pcf &Int(MQLONG parameter, MQLONG value) {
        MQLONG s[4] = {MQCFT_INTEGER, 16, parameter, value};
        Append(s, sizeof s);
        return Bump();
    }
    /* A string of exactly value's bytes, padded to a multiple of 4 with zeros. */
    Pcf &Str(MQLONG parameter, const std::string &value) {
        MQLONG len = (MQLONG)value.size();
        MQLONG struc = (20 + len + 3) & ~3;
        MQLONG s[5] = {MQCFT_STRING, struc, parameter, 0, len};
        Append(s, sizeof s);
        Append(value.data(), value.size());
        Pad(struc - 20 - len);
        return Bump();
    }
    /* A string blank-padded to width bytes, as the command server sends. */
    Pcf &Padded(MQLONG parameter, const std::string &value, size_t width) {
        std::string v = value;
        v.resize(width, ' ');
        return Str(parameter, v);
    }
    Pcf &IntList(MQLONG parameter, const std::vector<MQLONG> &values) {
        MQLONG s[4] = {MQCFT_INTEGER_LIST, (MQLONG)(16 + 4 * values.size()), parameter,
                       (MQLONG)values.size()};
        Append(s, sizeof s);
        Append(values.data(), 4 * values.size());
        return Bump();
    }
    Pcf &StrList(MQLONG parameter, const std::vector<std::string> &values, MQLONG width) {
        MQLONG struc = (24 + width * (MQLONG)values.size() + 3) & ~3;
        MQLONG s[6] = {MQCFT_STRING_LIST, struc, parameter, 0, (MQLONG)values.size(), width};
        Append(s, sizeof s);
        for (const std::string &v : values) {
            std::string p = v;
            p.resize((size_t)width, ' ');
            Append(p.data(), p.size());
        }
        Pad(struc - 24 - width * (MQLONG)values.size());
        return Bump();
    }
    Pcf &Bytes(MQLONG parameter, const std::vector<MQBYTE> &value) {
        MQLONG len = (MQLONG)value.size();
        MQLONG struc = (16 + len + 3) & ~3;
        MQLONG s[4] = {MQCFT_BYTE_STRING, struc, parameter, len};
        Append(s, sizeof s);
        Append(value.data(), value.size());
        Pad(struc - 16 - len);
        return Bump();
    }
    Pcf &Int64(MQLONG parameter, int64_t value) {
        MQLONG s[4] = {MQCFT_INTEGER64, 24, parameter, 0};
        Append(s, sizeof s);
        Append(&value, sizeof value);
        return Bump();
    }
    /* Raw bytes, counted as no parameter (for lying messages). */
    Pcf &Raw(const std::vector<MQBYTE> &bytes) {
        Append(bytes.data(), bytes.size());
        return *this;
    }
    std::vector<MQBYTE> bytes() const { return m_; }

private:
    Pcf &Field(size_t at, MQLONG v) {
        Set(m_, at, v);
        return *this;
    }
    Pcf &Bump() { return Field(32, Get(m_, 32) + 1); }
    void Append(const void *p, size_t n) {
        const MQBYTE *b = static_cast<const MQBYTE *>(p);
        m_.insert(m_.end(), b, b + n);
    }
    void Pad(MQLONG n) { m_.insert(m_.end(), (size_t)n, 0); }
    std::vector<MQBYTE> m_;
};

/* One parameter read back from a message. */
struct Parm {
    MQLONG type = 0;
    MQLONG strucLength = 0;
    MQLONG parameter = 0;
    MQLONG value = 0; /* MQCFIN */
    std::string text; /* MQCFST */
    MQLONG stringLength = 0;
};

/* The parameters of a sound PCF message (fails the test when it is not). */
inline std::vector<Parm> ReadParms(const std::vector<MQBYTE> &m) {
    std::vector<Parm> out;
    EXPECT_GE(m.size(), 36u);
    if (m.size() < 36)
        return out;
    size_t pos = 36;
    MQLONG count = Get(m, 32);
    for (MQLONG i = 0; i < count; i++) {
        EXPECT_LE(pos + 8, m.size()) << "parameter " << i << " of " << count;
        if (pos + 8 > m.size())
            return out;
        Parm p;
        p.type = Get(m, pos);
        p.strucLength = Get(m, pos + 4);
        p.parameter = Get(m, pos + 8);
        EXPECT_GE(p.strucLength, 12);
        EXPECT_EQ(p.strucLength % 4, 0);
        EXPECT_LE(pos + (size_t)p.strucLength, m.size());
        if (p.strucLength < 12 || pos + (size_t)p.strucLength > m.size())
            return out;
        if (p.type == MQCFT_INTEGER)
            p.value = Get(m, pos + 12);
        if (p.type == MQCFT_STRING) {
            p.stringLength = Get(m, pos + 16);
            p.text.assign((const char *)m.data() + pos + 20, (size_t)p.stringLength);
        }
        out.push_back(p);
        pos += (size_t)p.strucLength;
    }
    EXPECT_EQ(pos, m.size()) << "bytes after the last counted parameter";
    return out;
}

/* ---- Test fixture ------------------------------------------------------- */

/* Every routing unit test starts from defaults, the fake MQI, empty tables
 * and a captured log. */
class RoutingTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitSettings();
        InitAgentState();
        {
            std::lock_guard<std::mutex> g(Fake().lock);
            Fake().puts.clear();
            Fake().opens.clear();
            Fake().handleNames.clear();
            Fake().maxMsgLength.clear();
            Fake().defType.clear();
            Fake().putFailures = 0;
            Fake().putAttempts = 0;
        }
        memset(&MQEntryPoints, 0, sizeof MQEntryPoints);
        MQEntryPoints.MQOPEN = FakeOpen;
        MQEntryPoints.MQINQ = FakeInq;
        MQEntryPoints.MQPUT = FakePut;
        MQEntryPoints.MQPUT1 = FakePut1;
        MQEntryPoints.MQCLOSE = FakeClose;
        MQEntryPoints.MQDISC = FakeDisc;
        HConnMain.store(FakeHConnMain);
        HConnSecondary.store(FakeHConnSecondary);
        HObjCommandQ = FakeCommandQ;
        HObjInputQ = FakeInputQ;
        HObjReplyQ = FakeReplyQ;
        Fake().handleNames[FakeCommandQ] = "SYSTEM.ADMIN.COMMAND.QUEUE";
        CopyField(Settings.qmgrName, sizeof Settings.qmgrName, "QM1");
        CopyField(Settings.actualReplyQName, sizeof Settings.actualReplyQName, FakeReplyQName);
        Settings.retryInt = 0;
        SetFlags(FLAG_SERVICE); /* no echo of the log to the console */
        log_ = tmpfile();
        ASSERT_NE(log_, nullptr);
        LogStream.store(log_);
        RefreshCurrentTime();
    }

    void TearDown() override {
        ClearRequests();
        ForgetCachedHandles();
        LogStream.store(stdout);
        if (log_ != nullptr)
            fclose(log_);
        CSSetMemFailAfter(-1);
    }

    /* Everything written to the log so far. */
    std::string Log() {
        fflush(log_);
        long end = ftell(log_);
        std::string text((size_t)(end > 0 ? end : 0), '\0');
        rewind(log_);
        size_t n = fread(&text[0], 1, text.size(), log_);
        text.resize(n);
        fseek(log_, 0, SEEK_END);
        return text;
    }

    /* A request of a requester on reply queue replyQ, not yet in the table. */
    REQUEST *Requester(const char *replyQ = "REQ.REPLY", MQLONG report = MQRO_NONE) {
        REQUEST *req = NewRequest(MQCMD_INQUIRE_Q);
        EXPECT_NE(req, nullptr);
        CopyField(req->replyQName, sizeof req->replyQName, replyQ);
        CopyField(req->replyQMgrName, sizeof req->replyQMgrName, "QM1");
        memset(req->msgId, 0xA1, sizeof req->msgId);
        memset(req->correlId, 0xC1, sizeof req->correlId);
        req->report = report;
        req->requestType = REQTYPE_PCF;
        return req;
    }

    /* A consumer call for a message of len bytes. */
    static MQCBC MessageCall(MQLONG len) {
        MQCBC cbc = MQCBC_DEFAULT;
        cbc.CallType = MQCBCT_MSG_REMOVED;
        cbc.DataLength = len;
        cbc.BufferLength = len;
        return cbc;
    }

    /* Hand one reply with MsgId msgId to OnReplyMessage, in a buffer of
     * exactly its size. */
    static void DeliverReply(const MQBYTE *msgId, const std::vector<MQBYTE> &msg,
                             const char *format = MQFMT_ADMIN) {
        MQMD md = MQMD_DEFAULT;
        memcpy(md.Format, format, 8);
        md.MsgType = MQMT_REPLY;
        memcpy(md.MsgId, msgId, MQ_MSG_ID_LENGTH);
        MQGMO gmo = MQGMO_DEFAULT;
        gmo.ReturnedLength = (MQLONG)msg.size();
        MQCBC cbc = MessageCall((MQLONG)msg.size());
        std::vector<MQBYTE> buffer(msg);
        OnReplyMessage(FakeHConnMain, &md, &gmo, buffer.empty() ? nullptr : buffer.data(), &cbc);
    }

    static MQMD AdminMd() {
        MQMD md = MQMD_DEFAULT;
        memcpy(md.Format, MQFMT_ADMIN, 8);
        md.MsgType = MQMT_REPLY;
        return md;
    }

    FILE *log_ = nullptr;
};

}  // namespace rtest
