/* admin.cpp -- the MQSC subset of the stand-in queue manager.
 *
 * A command is tokenised into KEYWORD or KEYWORD(value) items (values in
 * quotes keep their case, '' is a quote; unquoted values and names are
 * folded to upper case, as runmqsc does), checked completely, and only then
 * applied under QMGR.lock, so that a failing command changes nothing.
 *
 * Owns: nothing. Threads: any.
 */
#include "admin.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

struct ARG {
    std::string key;   /* upper case */
    std::string value; /* as given (quoted) or upper case */
    int hasValue;
    int quoted;
};

/* One word a keyword takes, and the value it stands for. */
struct WORDVAL {
    const char *word;
    MQLONG value;
};

/* A queue's attribute changes, collected before they are applied. */
struct QCHANGES {
    QATTRS a; /* the resulting attributes */
    int replace;
    int purge;
};

const char *const MsgSyntax =
    "AMQ8405I: Syntax error detected at or near end of command segment "
    "below:-";

}  // namespace

static int Tokenize(const char *text, std::vector<ARG> *args);
static int ParseInt(const std::string &s, MQLONG lo, MQLONG hi, MQLONG *out);
static MQLONG Syntax(const char *text, const std::string &why, std::vector<std::string> *out);
static MQLONG NotFound(const std::string &name, std::vector<std::string> *out);
static int CopyValue(const ARG &a, char *dst, size_t size);
static MQLONG QueueTypeOf(const std::string &word, int forDisplay);
static const char *QueueTypeName(MQLONG t);
static int ApplyQueueArg(QMGR *qm, const ARG &a, MQLONG qType, QCHANGES *ch, std::string *why);
static MQLONG DefineQueue(QMGR *qm, const char *text, MQLONG qType, const std::string &name,
                          const std::vector<ARG> &args, std::vector<std::string> *out);
static MQLONG AlterQueue(QMGR *qm, const char *text, MQLONG qType, const std::string &name,
                         const std::vector<ARG> &args, std::vector<std::string> *out);
static MQLONG DeleteQueueCmd(QMGR *qm, const char *text, MQLONG qType, const std::string &name,
                             const std::vector<ARG> &args, std::vector<std::string> *out);
static MQLONG ClearQueueCmd(QMGR *qm, const std::string &name, std::vector<std::string> *out);
static MQLONG AlterQmgr(QMGR *qm, const char *text, const std::vector<ARG> &args,
                        std::vector<std::string> *out);
static MQLONG DisplayQmgr(QMGR *qm, const std::vector<ARG> &args, std::vector<std::string> *out);
static MQLONG DisplayQueues(QMGR *qm, const char *text, MQLONG qType, const std::string &generic,
                            const std::vector<ARG> &args, std::vector<std::string> *out);
static MQLONG ProcessCmd(QMGR *qm, const char *text, const std::string &verb,
                         const std::string &name, const std::vector<ARG> &args,
                         std::vector<std::string> *out);
static MQLONG ServiceCmd(QMGR *qm, const char *text, const std::string &verb,
                         const std::string &name, const std::vector<ARG> &args,
                         std::vector<std::string> *out);
static void AddAttrLines(const std::vector<std::string> &items, std::vector<std::string> *out);

/* Split text into items. Returns 0, or 1 on an unbalanced parenthesis or
 * quote. */
static int Tokenize(const char *text, std::vector<ARG> *args) {
    const char *p = text;
    for (;;) {
        while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n' || *p == ',')
            p++;
        if (*p == '\0')
            return 0;
        ARG a;
        a.hasValue = 0;
        a.quoted = 0;
        while (*p && *p != ' ' && *p != '\t' && *p != '\r' && *p != '\n' && *p != '(' &&
               *p != ',') {
            if (*p == ')' || *p == '\'')
                return 1;
            a.key += (char)toupper((unsigned char)*p);
            p++;
        }
        while (*p == ' ' || *p == '\t')
            p++;
        if (*p == '(') {
            p++;
            a.hasValue = 1;
            while (*p == ' ' || *p == '\t')
                p++;
            if (*p == '\'') {
                a.quoted = 1;
                p++;
                for (;;) {
                    if (*p == '\0')
                        return 1;
                    if (*p == '\'') {
                        if (p[1] == '\'') {
                            a.value += '\'';
                            p += 2;
                            continue;
                        }
                        p++;
                        break;
                    }
                    a.value += *p++;
                }
                while (*p == ' ' || *p == '\t')
                    p++;
                if (*p != ')')
                    return 1;
                p++;
            } else {
                while (*p && *p != ')') {
                    if (*p == '(' || *p == '\'')
                        return 1;
                    a.value += (char)toupper((unsigned char)*p);
                    p++;
                }
                if (*p != ')')
                    return 1;
                p++;
                while (!a.value.empty() && (a.value.back() == ' ' || a.value.back() == '\t'))
                    a.value.pop_back();
            }
        }
        if (a.key.empty())
            return 1;
        args->push_back(a);
    }
}

static int ParseInt(const std::string &s, MQLONG lo, MQLONG hi, MQLONG *out) {
    if (s.empty() || s.size() > 11)
        return 1;
    char *end = nullptr;
    long long v = strtoll(s.c_str(), &end, 10);
    if (*end != '\0' || v < lo || v > hi)
        return 1;
    *out = (MQLONG)v;
    return 0;
}

/* "object not found" for name. */
static MQLONG NotFound(const std::string &name, std::vector<std::string> *out) {
    out->push_back("AMQ8147E: IBM MQ object " + name + " not found.");
    return MQRC_UNKNOWN_OBJECT_NAME;
}

/* The value of a into the string field dst: 1 when it is missing or too
 * long for it. */
static int CopyValue(const ARG &a, char *dst, size_t size) {
    if (!a.hasValue || a.value.size() >= size)
        return 1;
    snprintf(dst, size, "%s", a.value.c_str());
    return 0;
}

static MQLONG Syntax(const char *text, const std::string &why, std::vector<std::string> *out) {
    out->push_back(MsgSyntax);
    out->push_back(text);
    if (!why.empty())
        out->push_back("AMQ8427E: " + why);
    return MQRCCF_COMMAND_FAILED;
}

/* MQQT_ of an object keyword, 0 when not a queue keyword. QUEUE (any type)
 * is MQQT_ALL, valid for DISPLAY and DELETE only. */
static MQLONG QueueTypeOf(const std::string &w, int forDisplay) {
    if (w == "QLOCAL" || w == "QL")
        return MQQT_LOCAL;
    if (w == "QMODEL" || w == "QM")
        return MQQT_MODEL;
    if (w == "QREMOTE" || w == "QR")
        return MQQT_REMOTE;
    if (forDisplay && (w == "QUEUE" || w == "Q"))
        return MQQT_ALL;
    return 0;
}

static const char *QueueTypeName(MQLONG t) {
    switch (t) {
        case MQQT_LOCAL:
            return "QLOCAL";
        case MQQT_MODEL:
            return "QMODEL";
        case MQQT_REMOTE:
            return "QREMOTE";
        default:
            return "QUEUE";
    }
}

/* Apply one attribute item to ch for a queue of qType. Returns 0, or 1 with
 * *why when it is not valid. Lock held (INITQ etc. are not checked). */
static int ApplyQueueArg(QMGR *qm, const ARG &a, MQLONG qType, QCHANGES *ch, std::string *why) {
    (void)qm;
    QATTRS *q = &ch->a;
    const std::string &k = a.key;
    const std::string &v = a.value;
    int local = qType == MQQT_LOCAL, model = qType == MQQT_MODEL, remote = qType == MQQT_REMOTE;
    auto str = [&](char *dst, size_t size) {
        if (!a.hasValue || v.size() >= size) {
            *why = k + " needs a value of at most " + std::to_string(size - 1) + " characters";
            return 1;
        }
        snprintf(dst, size, "%s", v.c_str());
        return 0;
    };
    /* a keyword value from a fixed set of words */
    auto pick = [&](std::initializer_list<WORDVAL> words, const char *choices, MQLONG *dst) {
        for (const WORDVAL &w : words) {
            if (v == w.word) {
                *dst = w.value;
                return 0;
            }
        }
        *why = k + " takes " + choices;
        return 1;
    };
    auto num = [&](MQLONG lo, MQLONG hi, MQLONG *dst) {
        if (!a.hasValue || ParseInt(v, lo, hi, dst) != 0) {
            *why = k + " needs a number from " + std::to_string(lo) + " to " + std::to_string(hi);
            return 1;
        }
        return 0;
    };
    if (k == "REPLACE" && !a.hasValue) {
        ch->replace = 1;
        return 0;
    }
    if (k == "NOREPLACE" && !a.hasValue)
        return 0;
    if (k == "DESCR")
        return str(q->descr, sizeof q->descr);
    if (k == "PUT")
        return pick({{"ENABLED", MQQA_PUT_ALLOWED}, {"DISABLED", MQQA_PUT_INHIBITED}},
                    "ENABLED or DISABLED", &q->inhibitPut);
    if (k == "DEFPRTY")
        return num(0, 9, &q->defPriority);
    if (k == "DEFPSIST")
        return pick({{"YES", MQPER_PERSISTENT}, {"NO", MQPER_NOT_PERSISTENT}}, "YES or NO",
                    &q->defPersistence);
    if (remote) {
        if (k == "RNAME")
            return str(q->remoteQName, sizeof q->remoteQName);
        if (k == "RQMNAME")
            return str(q->remoteQMgrName, sizeof q->remoteQMgrName);
        if (k == "XMITQ")
            return str(q->xmitQName, sizeof q->xmitQName);
        *why = k + " is not an attribute of a remote queue";
        return 1;
    }
    if (k == "MAXDEPTH")
        return num(0, 999999999, &q->maxDepth);
    if (k == "MAXMSGL")
        return num(0, MQSIM_LARGEST_MAXMSGL, &q->maxMsgLength);
    if (k == "GET")
        return pick({{"ENABLED", MQQA_GET_ALLOWED}, {"DISABLED", MQQA_GET_INHIBITED}},
                    "ENABLED or DISABLED", &q->inhibitGet);
    if (k == "DEFTYPE") {
        if (!model) {
            *why = "DEFTYPE is an attribute of a model queue";
            return 1;
        }
        return pick({{"PERMDYN", MQQDT_PERMANENT_DYNAMIC},
                     {"TEMPDYN", MQQDT_TEMPORARY_DYNAMIC},
                     {"PREDEFINED", MQQDT_PREDEFINED}},
                    "PREDEFINED, PERMDYN or TEMPDYN", &q->defType);
    }
    if (k == "USAGE")
        return pick({{"NORMAL", MQUS_NORMAL}, {"XMITQ", MQUS_TRANSMISSION}}, "NORMAL or XMITQ",
                    &q->usage);
    if ((k == "SHARE" || k == "NOSHARE") && !a.hasValue) {
        q->shareability = k == "SHARE" ? MQQA_SHAREABLE : MQQA_NOT_SHAREABLE;
        return 0;
    }
    if (k == "DEFSOPT")
        return pick({{"SHARED", MQOO_INPUT_SHARED}, {"EXCL", MQOO_INPUT_EXCLUSIVE}},
                    "SHARED or EXCL", &q->defInputOpenOption);
    if (k == "MSGDLVSQ")
        return pick({{"PRIORITY", MQMDS_PRIORITY}, {"FIFO", MQMDS_FIFO}}, "PRIORITY or FIFO",
                    &q->msgDeliverySequence);
    if ((k == "TRIGGER" || k == "NOTRIGGER") && !a.hasValue) {
        q->triggerControl = k == "TRIGGER" ? MQTC_ON : MQTC_OFF;
        return 0;
    }
    if (k == "TRIGTYPE")
        return pick({{"FIRST", MQTT_FIRST},
                     {"EVERY", MQTT_EVERY},
                     {"DEPTH", MQTT_DEPTH},
                     {"NONE", MQTT_NONE}},
                    "FIRST, EVERY, DEPTH or NONE", &q->triggerType);
    if (k == "TRIGDPTH")
        return num(1, 999999999, &q->triggerDepth);
    if (k == "TRIGMPRI")
        return num(0, 9, &q->triggerMsgPriority);
    if (k == "INITQ")
        return str(q->initQName, sizeof q->initQName);
    if (k == "PROCESS")
        return str(q->processName, sizeof q->processName);
    if (k == "TRIGDATA")
        return str(q->triggerData, sizeof q->triggerData);
    if (k == "PURGE" && !a.hasValue) {
        ch->purge = 1;
        return 0;
    }
    *why = k + " is not an attribute of a " + (local ? "local" : "model") + " queue";
    return 1;
}

static MQLONG DefineQueue(QMGR *qm, const char *text, MQLONG qType, const std::string &name,
                          const std::vector<ARG> &args, std::vector<std::string> *out) {
    if (!ValidObjectName(name.c_str(), MQ_Q_NAME_LENGTH))
        return Syntax(text, "not a valid queue name", out);
    std::lock_guard<std::mutex> g(qm->lock);
    QUEUE *old = FindQueue(qm, name.c_str());
    QUEUE *fresh = NewQueue(name.c_str(), qType);
    if (fresh == nullptr)
        return MQRC_STORAGE_NOT_AVAILABLE;
    QCHANGES ch;
    ch.a = fresh->a;
    ch.replace = 0;
    ch.purge = 0;
    std::string why;
    for (size_t i = 2; i < args.size(); i++) {
        if (args[i].key == "PURGE" || ApplyQueueArg(qm, args[i], qType, &ch, &why) != 0) {
            delete fresh;
            return Syntax(text, why.empty() ? args[i].key + " is not valid here" : why, out);
        }
    }
    if (old != nullptr) {
        if (!ch.replace || old->a.qType != qType) {
            delete fresh;
            out->push_back("AMQ8150E: IBM MQ object already exists.");
            return MQRC_OBJECT_ALREADY_EXISTS;
        }
        /* REPLACE keeps the messages and the live state */
        delete fresh;
        int wasInhibited = old->a.inhibitGet == MQQA_GET_INHIBITED;
        QATTRS keep = old->a;
        old->a = ch.a;
        memcpy(old->a.creationDate, keep.creationDate, sizeof keep.creationDate);
        memcpy(old->a.creationTime, keep.creationTime, sizeof keep.creationTime);
        CurrentDateTime(old->a.alterationDate, old->a.alterationTime);
        old->a.curDepth = keep.curDepth;
        old->a.openInputCount = keep.openInputCount;
        old->a.openOutputCount = keep.openOutputCount;
        old->a.defType = qType == MQQT_MODEL ? ch.a.defType : keep.defType;
        NoteGetInhibitChange(qm, old, wasInhibited);
        out->push_back("AMQ8006I: IBM MQ queue created.");
        return 0;
    }
    fresh->a = ch.a;
    AddQueue(qm, fresh);
    out->push_back("AMQ8006I: IBM MQ queue created.");
    return 0;
}

static MQLONG AlterQueue(QMGR *qm, const char *text, MQLONG qType, const std::string &name,
                         const std::vector<ARG> &args, std::vector<std::string> *out) {
    std::lock_guard<std::mutex> g(qm->lock);
    QUEUE *q = FindQueue(qm, name.c_str());
    if (q == nullptr || q->a.qType != qType) {
        return NotFound(name, out);
    }
    QCHANGES ch;
    ch.a = q->a;
    ch.replace = 0;
    ch.purge = 0;
    std::string why;
    for (size_t i = 2; i < args.size(); i++) {
        const ARG &a = args[i];
        if (a.key == "REPLACE" || a.key == "NOREPLACE" || a.key == "PURGE" ||
            ApplyQueueArg(qm, a, qType, &ch, &why) != 0)
            return Syntax(text, why.empty() ? a.key + " is not valid here" : why, out);
    }
    int wasInhibited = q->a.inhibitGet == MQQA_GET_INHIBITED;
    q->a = ch.a;
    CurrentDateTime(q->a.alterationDate, q->a.alterationTime);
    NoteGetInhibitChange(qm, q, wasInhibited);
    out->push_back("AMQ8008I: IBM MQ queue changed.");
    return 0;
}

static MQLONG DeleteQueueCmd(QMGR *qm, const char *text, MQLONG qType, const std::string &name,
                             const std::vector<ARG> &args, std::vector<std::string> *out) {
    int purge = 0;
    for (size_t i = 2; i < args.size(); i++) {
        if (args[i].key == "PURGE" && !args[i].hasValue)
            purge = 1;
        else if (args[i].key == "NOPURGE" && !args[i].hasValue)
            purge = 0;
        else
            return Syntax(text, args[i].key + " is not valid here", out);
    }
    std::lock_guard<std::mutex> g(qm->lock);
    QUEUE *q = FindQueue(qm, name.c_str());
    if (q == nullptr || (qType != MQQT_ALL && q->a.qType != qType)) {
        return NotFound(name, out);
    }
    if (q->openHandles > 0 || q->waiters != nullptr) {
        out->push_back("AMQ8148E: IBM MQ object in use.");
        return MQRC_OBJECT_IN_USE;
    }
    if (q->a.curDepth > 0 && !purge) {
        out->push_back("AMQ8143E: IBM MQ queue " + name + " not empty.");
        return MQRC_Q_NOT_EMPTY;
    }
    DeleteQueue(qm, q);
    out->push_back("AMQ8007I: IBM MQ queue deleted.");
    return 0;
}

static MQLONG ClearQueueCmd(QMGR *qm, const std::string &name, std::vector<std::string> *out) {
    std::lock_guard<std::mutex> g(qm->lock);
    QUEUE *q = FindQueue(qm, name.c_str());
    if (q == nullptr || q->a.qType != MQQT_LOCAL) {
        return NotFound(name, out);
    }
    if (ClearQueue(qm, q) != 0) {
        out->push_back("AMQ8148E: IBM MQ object in use.");
        return MQRC_OBJECT_IN_USE;
    }
    out->push_back("AMQ8022I: IBM MQ queue cleared.");
    return 0;
}

static MQLONG AlterQmgr(QMGR *qm, const char *text, const std::vector<ARG> &args,
                        std::vector<std::string> *out) {
    QMGRATTRS next;
    {
        std::lock_guard<std::mutex> g(qm->lock);
        next = qm->a;
    }
    for (size_t i = 2; i < args.size(); i++) {
        const ARG &a = args[i];
        int bad = 0;
        if (a.key == "SSLKEYR")
            bad = CopyValue(a, next.sslKeyRepository, sizeof next.sslKeyRepository);
        else if (a.key == "CERTLABL")
            bad = CopyValue(a, next.certLabel, sizeof next.certLabel);
        else if (a.key == "DESCR")
            bad = CopyValue(a, next.descr, sizeof next.descr);
        else if (a.key == "DEADQ")
            bad = CopyValue(a, next.deadLetterQName, sizeof next.deadLetterQName);
        else if (a.key == "SSLEV" && a.value == "ENABLED")
            next.sslEvent = MQEVR_ENABLED;
        else if (a.key == "SSLEV" && a.value == "DISABLED")
            next.sslEvent = MQEVR_DISABLED;
        else if (a.key == "MAXMSGL")
            bad =
                !a.hasValue || ParseInt(a.value, 32768, MQSIM_LARGEST_MAXMSGL, &next.maxMsgLength);
        else if (a.key == "MAXHANDS")
            bad = !a.hasValue || ParseInt(a.value, 0, 999999999, &next.maxHandles);
        else
            bad = 1;
        if (bad)
            return Syntax(text, a.key + " is not valid here", out);
    }
    std::lock_guard<std::mutex> g(qm->lock);
    CurrentDateTime(next.alterationDate, next.alterationTime);
    qm->a = next;
    out->push_back("AMQ8005I: IBM MQ queue manager changed.");
    return 0;
}

/* Lay out attribute items two to a line, as runmqsc does. */
static void AddAttrLines(const std::vector<std::string> &items, std::vector<std::string> *out) {
    for (size_t i = 0; i < items.size(); i += 2) {
        std::string line = "   " + items[i];
        if (i + 1 < items.size()) {
            if (line.size() < 43)
                line.resize(43, ' ');
            else
                line += "  ";
            line += items[i + 1];
        }
        out->push_back(line);
    }
}

/* 1 when DISPLAY should show attribute key: ALL, or it was asked for. */
static int Wanted(const std::vector<ARG> &args, const char *key, int all) {
    if (all)
        return 1;
    for (size_t i = 2; i < args.size(); i++) {
        if (args[i].key == key)
            return 1;
    }
    return 0;
}

static MQLONG DisplayQmgr(QMGR *qm, const std::vector<ARG> &args, std::vector<std::string> *out) {
    QMGRATTRS a;
    GetQmgrAttrs(qm, &a);
    int all = args.size() <= 2 || Wanted(args, "ALL", 0);
    const char *plat = a.platform == MQPL_ZOS          ? "ZOS"
                       : a.platform == MQPL_WINDOWS_NT ? "WINDOWSNT"
                                                       : "UNIX";
    std::vector<std::string> items;
    items.push_back(std::string("QMNAME(") + a.name + ")");
    struct {
        const char *key;
        std::string value;
    } attrs[] = {
        {"DESCR", a.descr},
        {"PLATFORM", plat},
        {"CMDLEVEL", std::to_string(a.commandLevel)},
        {"CCSID", std::to_string(a.codedCharSetId)},
        {"MAXMSGL", std::to_string(a.maxMsgLength)},
        {"MAXHANDS", std::to_string(a.maxHandles)},
        {"MAXPRTY", std::to_string(a.maxPriority)},
        {"DEADQ", a.deadLetterQName},
        {"COMMANDQ", a.commandInputQName},
        {"SSLKEYR", a.sslKeyRepository},
        {"CERTLABL", a.certLabel},
        {"SSLEV", a.sslEvent == MQEVR_ENABLED ? "ENABLED" : "DISABLED"},
        {"QMID", a.identifier},
        {"CRDATE", a.creationDate},
        {"CRTIME", a.creationTime},
        {"ALTDATE", a.alterationDate},
        {"ALTTIME", a.alterationTime},
    };
    for (auto &x : attrs) {
        if (Wanted(args, x.key, all))
            items.push_back(std::string(x.key) + "(" + x.value + ")");
    }
    out->push_back("AMQ8408I: Display Queue Manager details.");
    AddAttrLines(items, out);
    return 0;
}

static MQLONG DisplayQueues(QMGR *qm, const char *text, MQLONG qType, const std::string &generic,
                            const std::vector<ARG> &args, std::vector<std::string> *out) {
    static const char *known[] = {
        "ALL",     "CURDEPTH", "DESCR",    "MAXDEPTH", "MAXMSGL", "GET",     "PUT",
        "DEFTYPE", "USAGE",    "DEFPSIST", "DEFPRTY",  "SHARE",   "DEFSOPT", "MSGDLVSQ",
        "TRIGGER", "TRIGTYPE", "TRIGDPTH", "TRIGMPRI", "INITQ",   "PROCESS", "TRIGDATA",
        "IPPROCS", "OPPROCS",  "RNAME",    "RQMNAME",  "XMITQ",   "CRDATE",  "CRTIME",
        "ALTDATE", "ALTTIME",  "TYPE"};
    for (size_t i = 2; i < args.size(); i++) {
        int ok = 0;
        for (const char *k : known)
            ok |= args[i].key == k && !args[i].hasValue;
        if (!ok)
            return Syntax(text, args[i].key + " is not valid here", out);
    }
    std::vector<QATTRS> list;
    if (ListQueues(qm, generic.c_str(), qType, &list) != 0) {
        return NotFound(generic, out);
    }
    int all = Wanted(args, "ALL", 0);
    for (const QATTRS &a : list) {
        int local = a.qType == MQQT_LOCAL, model = a.qType == MQQT_MODEL;
        int remote = a.qType == MQQT_REMOTE;
        std::vector<std::string> items;
        items.push_back(std::string("QUEUE(") + a.name + ")");
        items.push_back(std::string("TYPE(") + QueueTypeName(a.qType) + ")");
        auto add = [&](const char *key, const std::string &value, int applies) {
            if (applies && Wanted(args, key, all))
                items.push_back(std::string(key) + "(" + value + ")");
        };
        const char *defType = a.defType == MQQDT_PERMANENT_DYNAMIC   ? "PERMDYN"
                              : a.defType == MQQDT_TEMPORARY_DYNAMIC ? "TEMPDYN"
                              : a.defType == MQQDT_SHARED_DYNAMIC    ? "SHAREDYN"
                                                                     : "PREDEFINED";
        const char *trigType = a.triggerType == MQTT_FIRST   ? "FIRST"
                               : a.triggerType == MQTT_EVERY ? "EVERY"
                               : a.triggerType == MQTT_DEPTH ? "DEPTH"
                                                             : "NONE";
        add("DESCR", a.descr, 1);
        add("CURDEPTH", std::to_string(a.curDepth), local);
        add("MAXDEPTH", std::to_string(a.maxDepth), local || model);
        add("MAXMSGL", std::to_string(a.maxMsgLength), local || model);
        add("GET", a.inhibitGet == MQQA_GET_INHIBITED ? "DISABLED" : "ENABLED", local || model);
        add("PUT", a.inhibitPut == MQQA_PUT_INHIBITED ? "DISABLED" : "ENABLED", 1);
        add("DEFTYPE", defType, local || model);
        add("USAGE", a.usage == MQUS_TRANSMISSION ? "XMITQ" : "NORMAL", local || model);
        add("DEFPSIST", a.defPersistence == MQPER_PERSISTENT ? "YES" : "NO", 1);
        add("DEFPRTY", std::to_string(a.defPriority), 1);
        if ((local || model) && Wanted(args, "SHARE", all))
            items.push_back(a.shareability == MQQA_SHAREABLE ? "SHARE" : "NOSHARE");
        add("DEFSOPT", a.defInputOpenOption == MQOO_INPUT_EXCLUSIVE ? "EXCL" : "SHARED",
            local || model);
        add("MSGDLVSQ", a.msgDeliverySequence == MQMDS_FIFO ? "FIFO" : "PRIORITY", local || model);
        if ((local || model) && Wanted(args, "TRIGGER", all))
            items.push_back(a.triggerControl == MQTC_ON ? "TRIGGER" : "NOTRIGGER");
        add("TRIGTYPE", trigType, local || model);
        add("TRIGDPTH", std::to_string(a.triggerDepth), local || model);
        add("TRIGMPRI", std::to_string(a.triggerMsgPriority), local || model);
        add("INITQ", a.initQName, local || model);
        add("PROCESS", a.processName, local || model);
        add("TRIGDATA", a.triggerData, local || model);
        add("IPPROCS", std::to_string(a.openInputCount), local);
        add("OPPROCS", std::to_string(a.openOutputCount), local);
        add("RNAME", a.remoteQName, remote);
        add("RQMNAME", a.remoteQMgrName, remote);
        add("XMITQ", a.xmitQName, remote);
        add("CRDATE", a.creationDate, 1);
        add("CRTIME", a.creationTime, 1);
        add("ALTDATE", a.alterationDate, 1);
        add("ALTTIME", a.alterationTime, 1);
        out->push_back("AMQ8409I: Display Queue details.");
        AddAttrLines(items, out);
    }
    return 0;
}

static MQLONG ProcessCmd(QMGR *qm, const char *text, const std::string &verb,
                         const std::string &name, const std::vector<ARG> &args,
                         std::vector<std::string> *out) {
    std::lock_guard<std::mutex> g(qm->lock);
    if (verb == "DISPLAY") {
        int n = 0;
        for (auto &e : qm->processes) {
            PROCESS *p = e.second;
            if (!GenericMatch(name.c_str(), p->name))
                continue;
            n++;
            out->push_back("AMQ8407I: Display Process details.");
            AddAttrLines(
                {std::string("PROCESS(") + p->name + ")", std::string("DESCR(") + p->descr + ")",
                 "APPLTYPE(" + std::to_string(p->applType) + ")",
                 std::string("APPLICID(") + p->applId + ")",
                 std::string("ENVRDATA(") + p->envData + ")",
                 std::string("USERDATA(") + p->userData + ")"},
                out);
        }
        if (n == 0) {
            return NotFound(name, out);
        }
        return 0;
    }
    PROCESS *old = FindProcess(qm, name.c_str());
    if (verb == "DELETE") {
        if (old == nullptr) {
            return NotFound(name, out);
        }
        qm->processes.erase(name);
        delete old;
        out->push_back("AMQ8016I: IBM MQ process deleted.");
        return 0;
    }
    if (!ValidObjectName(name.c_str(), MQ_PROCESS_NAME_LENGTH))
        return Syntax(text, "not a valid process name", out);
    PROCESS p;
    memset(&p, 0, sizeof p);
    if (verb == "ALTER") {
        if (old == nullptr) {
            return NotFound(name, out);
        }
        p = *old;
    } else {
        snprintf(p.name, sizeof p.name, "%s", name.c_str());
        p.applType = MQAT_UNIX;
        CurrentDateTime(p.creationDate, p.creationTime);
    }
    int replace = 0;
    for (size_t i = 2; i < args.size(); i++) {
        const ARG &a = args[i];
        int bad = 0;
        if (a.key == "APPLICID")
            bad = CopyValue(a, p.applId, sizeof p.applId);
        else if (a.key == "USERDATA")
            bad = CopyValue(a, p.userData, sizeof p.userData);
        else if (a.key == "ENVRDATA")
            bad = CopyValue(a, p.envData, sizeof p.envData);
        else if (a.key == "DESCR")
            bad = CopyValue(a, p.descr, sizeof p.descr);
        else if (a.key == "APPLTYPE") {
            if (a.value == "UNIX")
                p.applType = MQAT_UNIX;
            else if (a.value == "WINDOWSNT")
                p.applType = MQAT_WINDOWS_NT;
            else if (a.value == "WINDOWS")
                p.applType = MQAT_WINDOWS;
            else
                bad = ParseInt(a.value, 0, 65535, &p.applType);
        } else if (a.key == "REPLACE" && !a.hasValue && verb == "DEFINE")
            replace = 1;
        else if (a.key == "NOREPLACE" && !a.hasValue && verb == "DEFINE")
            replace = 0;
        else
            bad = 1;
        if (bad)
            return Syntax(text, a.key + " is not valid here", out);
    }
    if (verb == "DEFINE" && old != nullptr && !replace) {
        out->push_back("AMQ8150E: IBM MQ object already exists.");
        return MQRC_OBJECT_ALREADY_EXISTS;
    }
    if (old == nullptr) {
        old = new (std::nothrow) PROCESS();
        if (old == nullptr)
            return MQRC_STORAGE_NOT_AVAILABLE;
        qm->processes[name] = old;
    }
    *old = p;
    out->push_back(verb == "ALTER" ? "AMQ8012I: IBM MQ process changed."
                                   : "AMQ8010I: IBM MQ process created.");
    return 0;
}

static MQLONG ServiceCmd(QMGR *qm, const char *text, const std::string &verb,
                         const std::string &name, const std::vector<ARG> &args,
                         std::vector<std::string> *out) {
    std::lock_guard<std::mutex> g(qm->lock);
    auto it = qm->services.find(name);
    SERVICE *old = it == qm->services.end() ? nullptr : it->second;
    if (verb == "DELETE") {
        if (old == nullptr) {
            return NotFound(name, out);
        }
        qm->services.erase(it);
        delete old;
        out->push_back("AMQ8221I: IBM MQ service deleted.");
        return 0;
    }
    if (verb == "DISPLAY") {
        int n = 0;
        for (auto &e : qm->services) {
            if (!GenericMatch(name.c_str(), e.first.c_str()))
                continue;
            n++;
            out->push_back("AMQ8629I: Display service information details.");
            std::vector<std::string> items{"SERVICE(" + e.first + ")",
                                           std::string("DESCR(") + e.second->descr + ")"};
            for (auto &kv : e.second->attrs)
                items.push_back(kv.first + "(" + kv.second + ")");
            AddAttrLines(items, out);
        }
        if (n == 0) {
            return NotFound(name, out);
        }
        return 0;
    }
    if (!ValidObjectName(name.c_str(), MQ_SERVICE_NAME_LENGTH))
        return Syntax(text, "not a valid service name", out);
    static const char *known[] = {"SERVTYPE", "CONTROL", "STARTCMD", "STARTARG",
                                  "STOPCMD",  "STOPARG", "STDOUT",   "STDERR"};
    SERVICE s;
    if (old != nullptr)
        s = *old;
    else {
        memset(s.name, 0, sizeof s.name);
        memset(s.descr, 0, sizeof s.descr);
        snprintf(s.name, sizeof s.name, "%s", name.c_str());
    }
    int replace = 0;
    for (size_t i = 2; i < args.size(); i++) {
        const ARG &a = args[i];
        if (a.key == "REPLACE" && !a.hasValue) {
            replace = 1;
            continue;
        }
        if (a.key == "DESCR" && a.hasValue && a.value.size() < sizeof s.descr) {
            snprintf(s.descr, sizeof s.descr, "%s", a.value.c_str());
            continue;
        }
        int ok = 0;
        for (const char *k : known)
            ok |= a.key == k && a.hasValue && a.value.size() <= MQ_SERVICE_COMMAND_LENGTH;
        if (!ok)
            return Syntax(text, a.key + " is not valid here", out);
        int found = 0;
        for (auto &kv : s.attrs) {
            if (kv.first == a.key) {
                kv.second = a.value;
                found = 1;
            }
        }
        if (!found)
            s.attrs.push_back({a.key, a.value});
    }
    if (verb == "DEFINE" && old != nullptr && !replace) {
        out->push_back("AMQ8150E: IBM MQ object already exists.");
        return MQRC_OBJECT_ALREADY_EXISTS;
    }
    if (verb == "ALTER" && old == nullptr) {
        return NotFound(name, out);
    }
    if (old == nullptr) {
        old = new (std::nothrow) SERVICE();
        if (old == nullptr)
            return MQRC_STORAGE_NOT_AVAILABLE;
        qm->services[name] = old;
    }
    *old = s;
    out->push_back(verb == "ALTER" ? "AMQ8222I: IBM MQ service changed."
                                   : "AMQ8219I: IBM MQ service created.");
    return 0;
}

MQLONG RunMqscCommand(QMGR *qm, const char *text, std::vector<std::string> *out) {
    std::vector<ARG> args;
    if (Tokenize(text, &args) != 0)
        return Syntax(text, "unbalanced quote or parenthesis", out);
    if (args.empty())
        return 0;
    std::string verb = args[0].key;
    if (verb == "DEF")
        verb = "DEFINE";
    else if (verb == "ALT")
        verb = "ALTER";
    else if (verb == "DEL")
        verb = "DELETE";
    else if (verb == "DIS")
        verb = "DISPLAY";
    if (args[0].hasValue || (verb != "DEFINE" && verb != "ALTER" && verb != "DELETE" &&
                             verb != "CLEAR" && verb != "DISPLAY"))
        return Syntax(text, "unknown command " + args[0].key, out);
    if (args.size() < 2)
        return Syntax(text, "an object type is missing", out);
    const ARG &obj = args[1];
    if (obj.key == "QMGR") {
        if (obj.hasValue)
            return Syntax(text, "QMGR takes no name", out);
        if (verb == "ALTER")
            return AlterQmgr(qm, text, args, out);
        if (verb == "DISPLAY")
            return DisplayQmgr(qm, args, out);
        return Syntax(text, verb + " QMGR is not supported", out);
    }
    if (!obj.hasValue || obj.value.empty())
        return Syntax(text, obj.key + " needs a name", out);
    const std::string &name = obj.value;
    if (obj.key == "PROCESS" || obj.key == "PRO") {
        if (verb == "CLEAR")
            return Syntax(text, "CLEAR PROCESS is not valid", out);
        return ProcessCmd(qm, text, verb, name, args, out);
    }
    if (obj.key == "SERVICE") {
        if (verb == "CLEAR")
            return Syntax(text, "CLEAR SERVICE is not valid", out);
        return ServiceCmd(qm, text, verb, name, args, out);
    }
    MQLONG qType = QueueTypeOf(obj.key, verb == "DISPLAY" || verb == "DELETE");
    if (qType == 0)
        return Syntax(text, "unknown object type " + obj.key, out);
    if (verb == "DISPLAY")
        return DisplayQueues(qm, text, qType, name, args, out);
    if (verb == "DEFINE")
        return DefineQueue(qm, text, qType, name, args, out);
    if (verb == "ALTER")
        return AlterQueue(qm, text, qType, name, args, out);
    if (verb == "DELETE")
        return DeleteQueueCmd(qm, text, qType, name, args, out);
    if (qType != MQQT_LOCAL || args.size() > 2)
        return Syntax(text, "CLEAR takes a local queue only", out);
    return ClearQueueCmd(qm, name, out);
}

MQLONG RunMqscScript(QMGR *qm, const char *text, std::vector<std::string> *out, int *failed) {
    *failed = 0;
    int count = 0, syntaxErrors = 0;
    std::string command;
    const char *p = text;
    while (*p) {
        const char *e = strchr(p, '\n');
        std::string line = e ? std::string(p, (size_t)(e - p)) : std::string(p);
        p = e ? e + 1 : p + line.size();
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        size_t first = line.find_first_not_of(" \t");
        if (command.empty() && (first == std::string::npos || line[first] == '*'))
            continue;
        int more = 0;
        if (!line.empty() && (line.back() == '-' || line.back() == '+')) {
            more = 1;
            char c = line.back();
            line.pop_back();
            if (c == '+') {
                /* '+': leading blanks of the next line are dropped */
                command += line;
                while (*p == ' ' || *p == '\t')
                    p++;
                continue;
            }
        }
        command += line;
        if (more)
            continue;
        count++;
        char num[32];
        snprintf(num, sizeof num, "%6d : ", count);
        size_t start = command.find_first_not_of(" \t");
        std::string cmd = start == std::string::npos ? "" : command.substr(start);
        out->push_back(num + cmd);
        MQLONG rc = RunMqscCommand(qm, cmd.c_str(), out);
        if (rc != 0) {
            (*failed)++;
            if (rc == MQRCCF_COMMAND_FAILED)
                syntaxErrors++;
        }
        command.clear();
    }
    if (!command.empty()) {
        count++;
        out->push_back("AMQ8405I: Syntax error: the script ends inside a continued command.");
        (*failed)++;
        syntaxErrors++;
    }
    out->push_back(std::to_string(count) + " MQSC commands read.");
    out->push_back(syntaxErrors == 0
                       ? "No commands have a syntax error."
                       : std::to_string(syntaxErrors) + " commands have a syntax error.");
    out->push_back(*failed == 0 ? "All valid MQSC commands were processed."
                                : "One or more commands failed.");
    return *failed == 0 ? 0 : MQRCCF_COMMAND_FAILED;
}
