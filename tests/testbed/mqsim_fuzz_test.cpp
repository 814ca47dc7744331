/* mqsim_fuzz_test.cpp -- whatever arrives on the daemon's port, it keeps
 * serving: random bytes, lying lengths, cut frames, requests before MQCONN,
 * and after a real MQCONN frames of every verb with random fields, from
 * several sockets at once; its log stays free of sanitizer reports (checked
 * at its stop). Seeded from TORVIK_FUZZ_SEED when set, else the clock; the
 * seed is in every failure. (The frame reader alone: tests/fuzz.) */
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "mqconst/mqpcf.h"
#include "mqsim_util.h"
#include "support/process.h"
#include "wire.h"

namespace {

const char QM[] = "QMFUZZ";

const char *const Names[] = {"FUZZ.LOCAL",     "SYSTEM.DEFAULT.MODEL.QUEUE", "FUZZ.REMOTE",
                             "FUZZ.TRIGGERED", "SYSTEM.ADMIN.COMMAND.QUEUE", "NO.SUCH.QUEUE"};
/* Values worth sending in the integer fields of requests, by field code: h
 * an object handle, o/p/g open, put and get options, k/x MQCB and MQCTL
 * operations, l a length, s a selector, z zero; any other code (and any
 * field now and then) anything. */
const std::map<char, std::vector<int32_t>> Values = {
    {'h', {101, 101, 102, 103}},
    {'o', {MQOO_OUTPUT, MQOO_INPUT_SHARED | MQOO_SAVE_ALL_CONTEXT, MQOO_INQUIRE | MQOO_BROWSE}},
    {'p', {MQPMO_NO_SYNCPOINT, MQPMO_SYNCPOINT, MQPMO_NO_SYNCPOINT | MQPMO_PASS_ALL_CONTEXT}},
    {'g', {MQGMO_NO_SYNCPOINT, MQGMO_SYNCPOINT, MQGMO_BROWSE_FIRST, MQGMO_ACCEPT_TRUNCATED_MSG}},
    {'k', {MQOP_REGISTER, MQOP_DEREGISTER, MQOP_SUSPEND, MQOP_RESUME}},
    {'x', {MQOP_START, MQOP_STOP, MQOP_SUSPEND, MQOP_RESUME, MQOP_START_WAIT}},
    {'l', {0, 5, 1000, 65536}},
    {'s', {MQCA_Q_MGR_NAME, MQIA_PLATFORM, MQIA_CURRENT_Q_DEPTH, MQIA_INHIBIT_PUT}},
    {'z', {0}}};

/* Each request's payload by type from WIRE_T_CONNECT, field by field as the
 * daemon reads it: integers as above; N/n/u a name of 48/28/12, R a queue
 * manager name; M/m a descriptor (m mostly the default); B a blob that may
 * lie; # a count and that many of the next field; a a push's number, fate. */
const char *const Layouts[] = {"",         "iiNiinui", "",       "otNRN", "hc",
                               "hpMB",     "tNRpMB",   "hgwzlm", "h#sil", "h#s#zB",
                               "kizhlgzm", "xz",       "",       "",      "#a"};
static_assert(WIRE_T_CONNECT == 1 && WIRE_T_ACK == 14, "Layouts' order");

struct FUZZER {
    std::mt19937_64 rng;
    uint32_t Below(size_t n) { return n == 0 ? 0 : (uint32_t)(rng() % n); }
    bool OneIn(uint32_t n) { return Below(n) == 0; }
    /* Boundaries, small values, object handles, noise. */
    int32_t Int() {
        static const int32_t edges[] = {0, 1, -1, INT_MIN, INT_MAX, 65536, 4194304, 101, 102};
        return OneIn(2) ? edges[Below(std::size(edges))] : OneIn(2) ? Below(64) : (int32_t)rng();
    }
    std::string Bytes(size_t n) {
        std::string s(n, '\0');
        for (auto &ch : s)
            ch = (char)Below(256);
        return s;
    }
    /* A name field: mostly a known queue, else garbage or nothing. */
    std::string Name(size_t n) {
        std::string s = OneIn(8) ? Bytes(n) : OneIn(8) ? "" : Names[Below(std::size(Names))];
        s.resize(n, OneIn(2) ? ' ' : '\0');
        return s;
    }
    /* A descriptor with a few words (from Version to BackoutCount) set. */
    std::string Md(bool mostlyDefault) {
        MQMD md = MQMD_DEFAULT;
        for (uint32_t k = mostlyDefault && !OneIn(6) ? 0 : Below(5); k > 0; k--) {
            int32_t v = Int();
            memcpy((char *)&md + 4 * (1 + Below(24)), &v, 4);
        }
        memcpy(md.Format, OneIn(2) ? MQFMT_ADMIN : MQFMT_STRING, 8);
        memcpy(md.ReplyToQ, Name(48).data(), 48);
        return OneIn(12) ? Bytes(sizeof md) : std::string((const char *)&md, sizeof md);
    }
    /* A message body: bytes, perhaps after a PCF header that may lie. */
    std::string Body() {
        MQCFH cfh = MQCFH_DEFAULT;
        cfh.Command = OneIn(2) ? (MQLONG)Below(220) : Int();
        cfh.ParameterCount = Int();
        std::string head = OneIn(3) ? std::string((const char *)&cfh, sizeof cfh) : "";
        return head + Bytes(OneIn(8) ? Below(70000) : Below(600));
    }
    /* One field of a payload; returns the next field code to write. */
    const char *Field(WBUF *w, const char *f) {
        auto bytes = [&](const std::string &s) { WirePutBytes(w, s.data(), s.size()); };
        auto v = Values.find(*f);
        size_t length = *f == 'n' ? 28 : *f == 'u' ? 12 : 48;
        if (*f == 'N' || *f == 'n' || *f == 'u' || *f == 'R') {
            bytes(*f == 'R' && !OneIn(6) ? Blank("", length) : Name(length));
        } else if (*f == 'M' || *f == 'm') {
            bytes(Md(*f == 'm'));
        } else if (*f == 'B') {
            std::string b = Body();
            WirePutU32(w, OneIn(25) ? (uint32_t)Int() : (uint32_t)b.size());
            bytes(b);
        } else if (*f == '#') {
            int32_t n = OneIn(10) ? Int() : (int32_t)Below(6);
            WirePutI32(w, n);
            for (int32_t i = 0; i < n && i < 300; i++)
                Field(w, f + 1);
            return f + 2;
        } else if (*f == 'a') {
            WirePutI32(w, Int());
            WirePutI32(w, (int32_t)Below(4));
        } else {
            WirePutI32(w,
                       v == Values.end() || OneIn(5) ? Int() : v->second[Below(v->second.size())]);
        }
        return f + 1;
    }
    /* A frame of a request laid out by its fields, its payload sometimes cut
     * short, lengthened or with a byte flipped, its header sometimes with a
     * wrong magic or version. */
    std::string Frame(uint16_t type) {
        WBUF w = {};
        WireBegin(&w, type, 0);
        for (const char *f = type < std::size(Layouts) ? Layouts[type] : ""; *f != '\0';)
            f = Field(&w, f);
        std::string payload((const char *)w.data + WIRE_HEADER_SIZE, w.len - WIRE_HEADER_SIZE);
        WireFree(&w);
        if (OneIn(40))
            payload.resize(Below(payload.size()));
        else if (OneIn(40))
            payload += Bytes(1 + Below(16));
        else if (OneIn(20) && !payload.empty())
            payload[Below(payload.size())] ^= (char)(1 + Below(255));
        std::string frame = Header(type, payload.size()) + payload;
        if (OneIn(30))
            frame[Below(6)] ^= (char)(1 + Below(255));
        return frame;
    }
    std::string Header(uint16_t type, size_t length) { /* little-endian where we build */
        const uint16_t versionType[] = {WIRE_VERSION, type};
        return std::string((const char *)WIRE_MAGIC, 4) +
               std::string((const char *)versionType, 4) + Ints({(int32_t)rng(), (int32_t)length});
    }
    /* Well-formed: MQCONN of this queue manager; MQOPEN of a queue. */
    std::string GoodConnect() {
        std::string p = Ints({0, 1}) + Blank(QM, 48) +
                        Ints({MQCNO_VERSION_1, MQCNO_HANDLE_SHARE_BLOCK}) +
                        Blank("mqsim_fuzz", 28) + Blank("fuzz", 12) + Ints({0});
        return Header(WIRE_T_CONNECT, p.size()) + p;
    }
    std::string GoodOpen(const char *name, int32_t options) {
        std::string p =
            Ints({options, MQOT_Q}) + Blank(name, 48) + Blank("", 48) + Blank("FUZZ.DYN.*", 48);
        return Header(WIRE_T_OPEN, p.size()) + p;
    }
    static std::string Ints(std::initializer_list<int32_t> v) {
        return std::string((const char *)v.begin(), 4 * v.size());
    }
    static std::string Blank(const char *s, size_t n) {
        return (s + std::string(n, ' ')).substr(0, n);
    }
};

/* Replies with CompCode MQCC_OK, by request type: proof that the random
 * frames got past the checks into the verbs. */
std::atomic<int> Succeeded[16];

/* Read what the daemon sent, waiting at most waitMs for the first bytes,
 * counting the successful replies among the whole frames in *in. False once
 * the daemon has closed the connection. */
bool Drain(PLSOCKET s, uint32_t waitMs, std::string *in) {
    char buf[65536];
    for (size_t got = 0;; waitMs = 0) {
        int rc = PLRecvSome(s, buf, sizeof buf, waitMs, &got);
        if (rc != 0)
            return rc == PL_NET_TIMEOUT;
        in->append(buf, got);
        while (in->size() >= WIRE_HEADER_SIZE) {
            uint16_t type;
            uint32_t length;
            int32_t compCode = -1;
            memcpy(&type, in->data() + 6, 2);
            memcpy(&length, in->data() + 12, 4);
            if (in->size() - WIRE_HEADER_SIZE < length)
                break;
            if (length >= 4)
                memcpy(&compCode, in->data() + WIRE_HEADER_SIZE, 4);
            if ((type & WIRE_T_REPLY) && (type & 0x7FFF) < 16 && compCode == MQCC_OK)
                Succeeded[type & 0xF]++;
            in->erase(0, WIRE_HEADER_SIZE + length);
        }
    }
}

/* One connection: the frames in order, a reply read now and then. A lone
 * frame is followed by the end of sending and a wait for the daemon to
 * close the connection, as it must for what it cannot read. */
void Session(FUZZER *f, int port, const std::vector<std::string> &frames) {
    PLSOCKET s;
    if (PLConnectTcp("127.0.0.1", port, 5000, &s) != 0)
        return;
    std::string in;
    for (size_t i = 0; i < frames.size(); i++) {
        uint32_t wait = frames.size() == 1 ? 0 : i < 3 ? 200 : f->OneIn(3) ? 20 : 0;
        if (PLSendAll(s, frames[i].data(), frames[i].size()) != 0 || !Drain(s, wait, &in))
            break;
    }
    if (frames.size() == 1) {
        PLShutdownSend(s);
        Drain(s, 5000, &in);
    }
    PLCloseSocket(s);
}

}  // namespace

TEST(MqsimFuzz, NoBytesOnThePortHarmTheDaemon) {
    const uint64_t seed = tvtest::FuzzSeed();
    SCOPED_TRACE("TORVIK_FUZZ_SEED=" + std::to_string(seed));
    for (auto &n : Succeeded)
        n = 0;
    MqsimQueueManager qm;
    ASSERT_EQ(qm.Start(QM, {"--mqsc", MqsimQueueManager::Sample("torvik.mqsc")}), "");
    qm.Mqsc(QM, {"DEFINE QLOCAL(FUZZ.LOCAL) MAXDEPTH(50) MAXMSGL(65536)",
                 "DEFINE QLOCAL(FUZZ.XMITQ)", "DEFINE QLOCAL(FUZZ.CHECK)",
                 "DEFINE QREMOTE(FUZZ.REMOTE) RNAME(X) RQMNAME(FAR) XMITQ(FUZZ.XMITQ)",
                 /* a trigger whose program does not exist: the monitor must cope */
                 "DEFINE PROCESS(FUZZ.PROC) APPLICID('/nonexistent/fuzz/prog')",
                 "DEFINE QLOCAL(FUZZ.INITQ)",
                 "DEFINE QLOCAL(FUZZ.TRIGGERED) TRIGGER TRIGTYPE(FIRST) INITQ(FUZZ.INITQ) "
                 "PROCESS(FUZZ.PROC)"});
    int port = 0;
    int64_t pid = 0;
    ASSERT_TRUE(qm.PortFile(QM, &port, &pid));
    /* a connection made before: what breaks others' connections is no
     * reason to close it */
    MQHCONN h = MQHC_UNUSABLE_HCONN;
    MQHOBJ o = MQHO_UNUSABLE_HOBJ;
    ASSERT_EQ(Connect(QM, &h), 0);
    ASSERT_EQ(Open(h, "FUZZ.CHECK", MQOO_OUTPUT | MQOO_INPUT_SHARED, &o), 0);

    const int threads = 4;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(12);
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; t++) {
        pool.emplace_back([&, t] {
            FUZZER f{std::mt19937_64(seed * 31 + (uint64_t)t)};
            const int32_t all = MQOO_OUTPUT | MQOO_INPUT_SHARED | MQOO_INQUIRE | MQOO_SET |
                                MQOO_BROWSE | MQOO_SAVE_ALL_CONTEXT | MQOO_SET_ALL_CONTEXT;
            for (int i = 0; i < 100 && std::chrono::steady_clock::now() < deadline; i++) {
                std::string put = f.Frame(WIRE_T_PUT),
                            huge = f.Header((uint16_t)f.Below(20), f.OneIn(2)
                                                                       ? UINT32_MAX - f.Below(16)
                                                                       : WIRE_MAX_PAYLOAD - 1);
                switch (f.Below(5)) {
                    case 0: /* noise */
                        Session(&f, port, {f.Bytes(1 + f.Below(4096))});
                        break;
                    case 1: /* a huge declared length, then a few bytes */
                        Session(&f, port, {huge + f.Bytes(f.Below(100))});
                        break;
                    case 2: /* a request before MQCONN, perhaps cut */
                        Session(&f, port, {put.substr(0, f.OneIn(2) ? put.size() : f.Below(40))});
                        break;
                    default: { /* after MQCONN, any verb with random fields */
                        std::vector<std::string> frames = {
                            f.GoodConnect(), f.GoodOpen("FUZZ.LOCAL", all),
                            f.OneIn(2) ? f.GoodOpen("SYSTEM.DEFAULT.MODEL.QUEUE",
                                                    MQOO_INPUT_EXCLUSIVE | MQOO_BROWSE)
                                       : f.GoodOpen("FUZZ.TRIGGERED", MQOO_OUTPUT | MQOO_SET)};
                        for (int k = (int)f.Below(60); k >= 0; k--) {
                            uint16_t type =
                                f.OneIn(60) ? WIRE_T_PUSH_MSG : (uint16_t)(1 + f.Below(WIRE_T_ACK));
                            frames.push_back(f.Frame(type));
                        }
                        Session(&f, port, frames);
                    }
                }
            }
        });
    }
    for (auto &th : pool)
        th.join();
    for (uint16_t type : {WIRE_T_CONNECT, WIRE_T_OPEN, WIRE_T_PUT, WIRE_T_GET})
        EXPECT_GT(Succeeded[type].load() + Succeeded[type + 1].load(), 0)
            << "no request of type " << type << " got into the verb";

    /* The same daemon, still serving: its control commands, and the MQI
     * library on the old connection and a new one. */
    ASSERT_TRUE(PLProcessAlive(pid)) << qm.Log(QM).substr(0, 20000);
    std::string out;
    ASSERT_EQ(qm.Run({"status", QM}, &out), 0) << out;
    qm.Mqsc(QM, {"DEFINE QLOCAL(FUZZ.CHECK) REPLACE"});
    for (int again = 0; again < 2; again++) {
        std::string text;
        ASSERT_EQ(Put(h, o, "still served"), 0);
        ASSERT_EQ(Get(h, o, &text, nullptr, MQGMO_NO_SYNCPOINT, 20000), 0);
        EXPECT_EQ(text, "still served");
        Disconnect(&h);
        ASSERT_EQ(Connect(QM, &h), 0);
        ASSERT_EQ(Open(h, "FUZZ.CHECK", MQOO_OUTPUT | MQOO_INPUT_SHARED, &o), 0);
    }
    Disconnect(&h);
    std::string log = qm.Log(QM);
    for (const char *refused : {"malformed frame", "before MQCONN"})
        EXPECT_NE(log.find(refused), std::string::npos) << refused << " never logged";
}
