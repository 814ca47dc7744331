/* mqsim_fuzz_test.cpp -- whatever arrives on the daemon's port, it keeps
 * serving: random bytes, frames with lying lengths, frames cut off in the
 * middle, well-formed frames of every verb with random fields after a real
 * MQCONN, unanswered pushes and control commands with random arguments and
 * random MQSC text, from several sockets at once. Afterwards the daemon
 * still answers a new client on the wire and through the MQI library,
 * `mqsim status` works, and under the sanitizers its log holds no report.
 * (The frame reader alone is fuzzed by tests/fuzz/fuzz_mqsim_frame.)
 *
 * The random generator is seeded from TORVIK_FUZZ_SEED when that is set,
 * else from the clock; the seed is printed with every failure so that a
 * failing run can be repeated. Every loop is bounded by a count and a time.
 */
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <iterator>
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

const char *const QueueNames[] = {"CORVEL.TORVIK.COMMAND.QUEUE",
                                  "SYSTEM.DEFAULT.MODEL.QUEUE",
                                  "SYSTEM.ADMIN.COMMAND.QUEUE",
                                  "FUZZ.LOCAL",
                                  "FUZZ.REMOTE",
                                  "FUZZ.XMITQ",
                                  "FUZZ.TRIGGERED",
                                  "NO.SUCH.QUEUE",
                                  "FUZZ.DYN.*"};
/* The integer fields of requests and the values worth sending in them
 * (besides any integer now and then): i any, h an object handle, o/p/g the
 * open, put and get options, k/x the MQCB and MQCTL operations, c the close
 * options, t an object type, w a wait, l a buffer length, z a zero. */
const struct {
    char code;
    std::vector<int32_t> values;
} IntFields[] = {
    {'i', {}},
    {'h', {101, 101, 101, 102, 103, 104, 105, 106}},
    {'o',
     {MQOO_OUTPUT, MQOO_INPUT_SHARED | MQOO_SAVE_ALL_CONTEXT, MQOO_INPUT_AS_Q_DEF | MQOO_BROWSE,
      MQOO_INQUIRE, MQOO_OUTPUT | MQOO_INPUT_SHARED | MQOO_INQUIRE | MQOO_SET | MQOO_BROWSE,
      MQOO_OUTPUT | MQOO_PASS_ALL_CONTEXT, MQOO_OUTPUT | MQOO_SET_ALL_CONTEXT,
      MQOO_INPUT_EXCLUSIVE}},
    {'p',
     {MQPMO_NO_SYNCPOINT, MQPMO_SYNCPOINT, MQPMO_NO_SYNCPOINT | MQPMO_SET_ALL_CONTEXT,
      MQPMO_NO_SYNCPOINT | MQPMO_PASS_ALL_CONTEXT}},
    {'g',
     {MQGMO_NO_SYNCPOINT, MQGMO_SYNCPOINT, MQGMO_WAIT, MQGMO_BROWSE_FIRST, MQGMO_BROWSE_NEXT,
      MQGMO_ACCEPT_TRUNCATED_MSG, MQGMO_WAIT | MQGMO_SYNCPOINT | MQGMO_FAIL_IF_QUIESCING}},
    {'k', {MQOP_REGISTER, MQOP_REGISTER, MQOP_DEREGISTER, MQOP_SUSPEND, MQOP_RESUME}},
    {'x', {MQOP_START, MQOP_START, MQOP_STOP, MQOP_SUSPEND, MQOP_RESUME, MQOP_START_WAIT}},
    {'c', {MQCO_NONE, MQCO_NONE, MQCO_NONE, MQCO_DELETE_PURGE}},
    {'t', {MQOT_Q, MQOT_Q, MQOT_Q, MQOT_Q, MQOT_Q_MGR}},
    {'w', {0, 0, 10, 299}},
    {'l', {0, 5, 99, 1000, 65536, 79999}},
    {'z', {0}},
    {'s',
     {MQCA_Q_MGR_NAME, MQIA_PLATFORM, MQCA_SSL_KEY_REPOSITORY, MQCA_Q_NAME, MQIA_MAX_MSG_LENGTH,
      MQIA_CURRENT_Q_DEPTH, MQIA_DEFINITION_TYPE, MQIA_INHIBIT_GET, MQIA_INHIBIT_PUT,
      MQCA_TRIGGER_DATA, MQIA_TRIGGER_CONTROL, MQCA_REMOTE_Q_NAME}},
};

/* Each request's payload, field by field as the daemon reads it: the
 * integers above, N/n/u a name of 48/28/12, R a queue manager name, M/m a
 * descriptor (m mostly the default), B a message body, S selectors (and
 * values for MQSET), A acknowledgements. */
const char *const Layouts[] = {/* by request type, from WIRE_T_CONNECT */
                               "",         "iiNiinui", "",       "otNRN", "hc",
                               "hpMB",     "tNRpMB",   "hgwzlm", "hS",    "hS",
                               "kizhlgzm", "xz",       "",       "",      "A"};
const uint16_t LastType = WIRE_T_ACK;
static_assert(WIRE_T_CONNECT == 1 && WIRE_T_CB == 10 && WIRE_T_ACK == 14, "Layouts' order");

/* One fuzzing thread's generator and the frames it builds. */
class Fuzzer {
public:
    explicit Fuzzer(uint64_t seed) : rng_(seed) {}

    uint32_t Below(uint32_t n) { return n == 0 ? 0 : (uint32_t)(rng_() % n); }
    bool OneIn(uint32_t n) { return Below(n) == 0; }

    /* An integer worth trying: boundaries, small values, handles, noise. */
    int32_t Int() {
        static const int32_t edges[] = {0,     1,  -1,     2,  INT_MIN, INT_MAX,   0x7FFF,
                                        65536, -2, 100000, 36, 4194304, 0x40000000};
        uint32_t kind = Below(4); /* 2: a live object handle, perhaps */
        return kind == 0   ? edges[Below(std::size(edges))]
               : kind == 1 ? (int32_t)Below(64)
               : kind == 2 ? (int32_t)(101 + Below(6))
                           : (int32_t)rng_();
    }
    /* Mostly the sane value, now and then anything. */
    int32_t Or(int32_t sane) { return OneIn(5) ? Int() : sane; }
    std::string Bytes(size_t n) {
        std::string s(n, '\0');
        for (auto &ch : s)
            ch = (char)Below(256);
        return s;
    }
    /* A name field: mostly a known queue, else garbage, no padding, none. */
    std::string Name(size_t n) {
        std::string s = OneIn(8)   ? Bytes(n)
                        : OneIn(8) ? ""
                                   : QueueNames[Below(std::size(QueueNames))];
        s.resize(n, OneIn(2) ? ' ' : '\0');
        return s;
    }
    /* A descriptor with some fields set at random, or bytes. */
    std::string Md() {
        if (OneIn(12))
            return Bytes(sizeof(MQMD));
        MQMD md = MQMD_DEFAULT;
        static const char *const formats[] = {MQFMT_ADMIN, MQFMT_STRING, MQFMT_NONE, "MQCMD1  ",
                                              "\x01\x02zz\xff  x"};
        memcpy(md.Format, formats[Below(std::size(formats))], 8);
        /* any of the words from Version to BackoutCount (the identifiers
         * included) */
        for (uint32_t k = Below(5); k > 0; k--) {
            int32_t v = Int();
            memcpy((char *)&md + 4 * (1 + Below(24)), &v, 4);
        }
        if (OneIn(2)) {
            memcpy(md.ReplyToQ, Name(48).data(), 48);
            memcpy(md.ReplyToQMgr, (OneIn(3) ? Name(48) : std::string(48, ' ')).data(), 48);
        }
        return std::string((const char *)&md, sizeof md);
    }
    /* A message body: text, a PCF header that may lie, or bytes. */
    std::string Body() {
        size_t n = OneIn(8) ? Below(70000) : Below(600);
        if (OneIn(3) && n >= sizeof(MQCFH)) {
            MQCFH cfh = MQCFH_DEFAULT;
            cfh.Command = OneIn(2) ? (MQLONG)Below(220) : Int();
            cfh.ParameterCount = Int();
            if (OneIn(3))
                cfh.StrucLength = Int();
            return std::string((const char *)&cfh, sizeof cfh) + Bytes(n - sizeof cfh);
        }
        return OneIn(2) ? std::string(n, "ABC "[Below(4)]) : Bytes(n);
    }

    /* A request payload laid out by its fields; sometimes cut short,
     * lengthened or with a byte flipped. */
    std::string Payload(uint16_t type) {
        const char *fields = type <= LastType ? Layouts[type] : "";
        WBUF w = {};
        WireBegin(&w, type, 0);
        auto bytes = [&](const std::string &s) { WirePutBytes(&w, s.data(), s.size()); };
        auto integer = [&](char code) {
            for (const auto &f : IntFields)
                if (f.code == code)
                    WirePutI32(&w, f.values.empty() || OneIn(5) ? Int()
                                                                : f.values[Below(f.values.size())]);
        };
        for (const char *f = fields; *f != '\0'; f++) {
            const char c = *f;
            if (c == 'N' || c == 'n' || c == 'u') {
                bytes(Name(c == 'N' ? 48 : c == 'n' ? 28 : 12));
            } else if (c == 'R') {
                bytes(OneIn(6) ? Name(48) : Field(""));
            } else if (c == 'M' || c == 'm') {
                bytes(c == 'M' || OneIn(6) ? Md() : Default());
            } else if (c == 'B') { /* a blob whose length sometimes lies */
                std::string b = Body();
                WirePutU32(&w, OneIn(25) ? (uint32_t)Int() : (uint32_t)b.size());
                bytes(b);
            } else if (c == 'S' || c == 'A') { /* selectors and values; pushes and fates */
                int32_t n = OneIn(10) ? Int() : (int32_t)Below(6);
                WirePutI32(&w, n);
                for (int32_t i = 0; i < n && i < 300; i++) {
                    integer(c == 'S' ? 's' : 'i');
                    if (c == 'A')
                        WirePutI32(&w, Or((int32_t)Below(3)));
                }
                if (c == 'A')
                    continue;
                int32_t k = OneIn(10) ? Int() : (int32_t)Below(6);
                WirePutI32(&w, k);
                if (type == WIRE_T_INQ) {
                    WirePutI32(&w, Or((int32_t)Below(600))); /* character length */
                    continue;
                }
                for (int32_t i = 0; i < k && i < 300; i++)
                    WirePutI32(&w, Or((int32_t)Below(2)));
                std::string b = OneIn(2) ? std::string(64 * Below(3), 'T') : Bytes(Below(200));
                WirePutBlob(&w, b.data(), (uint32_t)b.size());
            } else {
                integer(c);
            }
        }
        if (*fields == '\0' && OneIn(6))
            bytes(Bytes(Below(64)));
        std::string payload((const char *)w.data + WIRE_HEADER_SIZE, w.len - WIRE_HEADER_SIZE);
        WireFree(&w);
        if (OneIn(40))
            payload.resize(Below((uint32_t)payload.size())); /* cut short */
        else if (OneIn(40))
            payload += Bytes(1 + Below(16)); /* bytes left over */
        else if (OneIn(20) && !payload.empty())
            payload[Below((uint32_t)payload.size())] ^= (char)(1 + Below(255)); /* one flipped */
        return payload;
    }

    /* A frame; unless honest its header's magic or version sometimes lie. */
    std::string Frame(uint16_t type, const std::string &payload, uint32_t length,
                      bool honest = false) {
        uint8_t h[WIRE_HEADER_SIZE];
        uint16_t version = !honest && OneIn(30) ? (uint16_t)Below(5) : WIRE_VERSION;
        uint32_t tag = (uint32_t)rng_();
        memcpy(h, WIRE_MAGIC, 4);
        memcpy(h + 4, &version, 2); /* little-endian on every platform we build */
        memcpy(h + 6, &type, 2);
        memcpy(h + 8, &tag, 4);
        memcpy(h + 12, &length, 4);
        if (!honest && OneIn(40))
            h[Below(4)] ^= 0x20;
        return std::string((const char *)h, sizeof h) + payload;
    }
    std::string Frame(uint16_t type, const std::string &payload) {
        return Frame(type, payload, (uint32_t)payload.size());
    }

    /* A plausible MQSC command made of the subset's words and noise. */
    std::string Mqsc() {
        static const char *const verbs[] = {"DEFINE QLOCAL",
                                            "DEFINE QMODEL",
                                            "DEFINE QREMOTE",
                                            "ALTER QLOCAL",
                                            "DELETE QLOCAL",
                                            "CLEAR QLOCAL",
                                            "DISPLAY QUEUE",
                                            "ALTER QMGR",
                                            "DEFINE SERVICE",
                                            "DEFINE",
                                            ""};
        static const char *const attrs[] = {"MAXDEPTH", "MAXMSGL", "DESCR",   "GET",   "PUT",
                                            "DEFTYPE",  "RNAME",   "RQMNAME", "XMITQ", "REPLACE",
                                            "SSLKEYR",  "SSLEV",   "INITQ",   "",      "("};
        static const char *const values[] = {
            "0",        "-1", "999999999999", "ENABLED",    "TEMPDYN", "''", "'it''s'",
            "'unended", "*",  "FUZZ.*",       "FUZZ.LOCAL", ")",       "(("};
        std::string s = verbs[Below(std::size(verbs))];
        if (OneIn(2))
            s += "(" +
                 (OneIn(3) ? "FUZZ.M" + std::to_string(Below(5))
                           : values[Below(std::size(values))]) +
                 ")";
        for (int i = (int)Below(6); i > 0; i--) {
            s += " ";
            s += attrs[Below(std::size(attrs))];
            if (OneIn(2))
                s += "(" + std::string(values[Below(std::size(values))]) + ")";
        }
        if (OneIn(5))
            for (char ch : Bytes(Below(40)))
                s += ch == '\0' ? ' ' : ch;
        if (OneIn(10))
            s += std::string(Below(5000), OneIn(2) ? '(' : 'X');
        return s;
    }

    /* A control command with random arguments; never stop or break, which
     * end or sever everyone by design. */
    std::string ControlPayload() {
        const std::string n1 = std::to_string(Int()), n2 = std::to_string(Int());
        std::vector<std::vector<std::string>> commands = {
            {"mqsc", Mqsc()},
            {"mqscfile", Mqsc() + "\n" + Mqsc() + "\n* comment\n" + Mqsc()},
            {"fault", OneIn(2) ? "put" : "call", OneIn(2) ? "MQPUT" : "FUZZ.LOCAL", n1, n2},
            {"cmdserver", OneIn(2) ? "delay" : "start", n1},
            {"status"},
            {"fault", "event", n1},
            {}};
        std::vector<std::string> a = commands[Below((uint32_t)commands.size())];
        if (OneIn(2))
            a.resize(Below((uint32_t)a.size() + 1));
        for (uint32_t i = a.empty() ? Below(6) : 0; i > 0; i--)
            a.push_back(Bytes(Below(30)));
        WBUF w = {};
        WireBegin(&w, WIRE_T_CONTROL, 0);
        WirePutI32(&w, OneIn(15) ? Int() : (int32_t)a.size());
        for (auto &s : a)
            WirePutBlob(&w, s.data(), (uint32_t)s.size());
        std::string payload((const char *)w.data + WIRE_HEADER_SIZE, w.len - WIRE_HEADER_SIZE);
        WireFree(&w);
        if (OneIn(10))
            payload.resize(Below((uint32_t)payload.size()));
        return payload;
    }

    static std::string Default() {
        MQMD md = MQMD_DEFAULT;
        return std::string((const char *)&md, sizeof md);
    }
    /* A name blank-padded to a field of n bytes. */
    static std::string Field(const char *name, size_t n = 48) {
        std::string s(name);
        s.resize(n, ' ');
        return s;
    }

    /* A well-formed MQOPEN of FUZZ.LOCAL for everything, or of another
     * queue for what it allows; a well-formed MQCONN of this queue manager. */
    std::string GoodOpen(bool local) {
        static const struct {
            const char *name;
            int32_t options;
        } good[] = {
            {"FUZZ.LOCAL", MQOO_OUTPUT | MQOO_INPUT_SHARED | MQOO_INQUIRE | MQOO_SET | MQOO_BROWSE |
                               MQOO_SAVE_ALL_CONTEXT | MQOO_SET_ALL_CONTEXT},
            {"CORVEL.TORVIK.COMMAND.QUEUE", MQOO_OUTPUT | MQOO_INPUT_SHARED | MQOO_INQUIRE},
            {"SYSTEM.DEFAULT.MODEL.QUEUE", MQOO_INPUT_EXCLUSIVE | MQOO_OUTPUT | MQOO_BROWSE},
            {"SYSTEM.ADMIN.COMMAND.QUEUE", MQOO_OUTPUT | MQOO_PASS_ALL_CONTEXT},
            {"FUZZ.REMOTE", MQOO_OUTPUT},
            {"FUZZ.TRIGGERED", MQOO_OUTPUT | MQOO_INPUT_SHARED | MQOO_SET | MQOO_INQUIRE}};
        const auto &g = good[local ? 0 : 1 + Below(std::size(good) - 1)];
        std::string p((const char *)&g.options, 4);
        int32_t type = MQOT_Q;
        p.append((const char *)&type, 4);
        p += Field(g.name) + Field("") + Field("FUZZ.DYN.*");
        return Frame(WIRE_T_OPEN, p, (uint32_t)p.size(), true);
    }
    std::string GoodConnect() {
        const int32_t head[] = {0, 1}, cno[] = {MQCNO_VERSION_1, MQCNO_HANDLE_SHARE_BLOCK},
                      tail = 0;
        std::string p = std::string((const char *)head, 8) + Field(QM) +
                        std::string((const char *)cno, 8) + Field("mqsim_fuzz", 28) +
                        Field("fuzz", 12) + std::string((const char *)&tail, 4);
        return Frame(WIRE_T_CONNECT, p, (uint32_t)p.size(), true);
    }

private:
    std::mt19937_64 rng_;
};

/* Replies with CompCode MQCC_OK, per request type: proof that the random
 * frames got past the checks into the verbs. */
std::atomic<int> SucceededReplies[16];

/* Read whatever the daemon sent, waiting at most waitMs for the first
 * bytes; whole frames are taken from *in (kept between calls) and the
 * successful replies counted. Returns false once the daemon has closed the
 * connection. */
bool Drain(PLSOCKET s, uint32_t waitMs, std::string *in = nullptr) {
    char buf[65536];
    for (size_t got = 0;; waitMs = 0) {
        int rc = PLRecvSome(s, buf, sizeof buf, waitMs, &got);
        if (rc != 0)
            return rc == PL_NET_TIMEOUT;
        if (in == nullptr)
            continue;
        in->append(buf, got);
        while (in->size() >= WIRE_HEADER_SIZE) {
            uint16_t type;
            uint32_t length;
            memcpy(&type, in->data() + 6, 2);
            memcpy(&length, in->data() + 12, 4);
            if (in->size() - WIRE_HEADER_SIZE < length)
                break;
            int32_t compCode = -1;
            if (length >= 4)
                memcpy(&compCode, in->data() + WIRE_HEADER_SIZE, 4);
            if ((type & WIRE_T_REPLY) && (type & 0x7FFF) < 16 && compCode == MQCC_OK)
                SucceededReplies[type & 0xF]++;
            in->erase(0, WIRE_HEADER_SIZE + length);
        }
    }
}

/* Send bytes, then go away: mid-frame, or after waiting for the daemon to
 * close (it must, for anything that is not a frame). */
void SendAndLeave(Fuzzer *f, int port, const std::string &bytes, bool waitForClose) {
    PLSOCKET s;
    if (PLConnectTcp("127.0.0.1", port, 5000, &s) != 0)
        return;
    PLSendAll(s, bytes.data(), bytes.size());
    if (waitForClose)
        PLShutdownSend(s);
    if (waitForClose || f->OneIn(2))
        Drain(s, waitForClose ? 5000 : 5);
    PLCloseSocket(s);
}

/* One session on a connection that first makes a real MQCONN and opens a
 * queue or two (handles 101, 102): frames of every verb with random
 * fields, replies read now and then, and an end that is sometimes an
 * MQDISC, sometimes a cut. */
void MqiSession(Fuzzer *f, int port) {
    PLSOCKET s;
    if (PLConnectTcp("127.0.0.1", port, 5000, &s) != 0)
        return;
    std::string in;
    std::vector<std::string> frames = {f->GoodConnect(), f->GoodOpen(true), f->GoodOpen(false)};
    static const uint16_t strangers[] = {WIRE_T_CONTROL, WIRE_T_PUSH_MSG, WIRE_T_PUSH_EVENT, 0x7777,
                                         WIRE_T_GET | WIRE_T_REPLY};
    for (int i = (int)f->Below(60); i >= 0; i--) {
        uint16_t type = f->OneIn(60) ? strangers[f->Below(std::size(strangers))]
                                     : (uint16_t)(1 + f->Below(LastType));
        if (type == WIRE_T_DISC && !f->OneIn(3))
            type = WIRE_T_PUT;
        frames.push_back(f->Frame(type, f->Payload(type)));
        if (f->OneIn(60))
            frames.back().resize(f->Below((uint32_t)frames.back().size())); /* cut and leave */
    }
    for (size_t i = 0; i < frames.size(); i++) {
        uint32_t wait = i < 3 ? 200 : f->OneIn(3) ? 20 : 0;
        if (PLSendAll(s, frames[i].data(), frames[i].size()) != 0 || !Drain(s, wait, &in))
            break;
    }
    PLCloseSocket(s);
}

}  // namespace

TEST(MqsimFuzz, NoBytesOnThePortHarmTheDaemon) {
    const uint64_t seed = tvtest::FuzzSeed();
    SCOPED_TRACE("TORVIK_FUZZ_SEED=" + std::to_string(seed));
    MqsimQueueManager qm;
    ASSERT_EQ(qm.Start(QM, {"--mqsc", MqsimQueueManager::Sample("torvik.mqsc")}), "");
    qm.Mqsc(QM, {"DEFINE QLOCAL(FUZZ.LOCAL) MAXDEPTH(50) MAXMSGL(65536)",
                 "DEFINE QLOCAL(FUZZ.XMITQ)", "DEFINE QLOCAL(FUZZ.CHECK)",
                 "DEFINE QREMOTE(FUZZ.REMOTE) RNAME(X) RQMNAME(FAR) XMITQ(FUZZ.XMITQ)",
                 /* a trigger whose program does not exist: the monitor must cope */
                 "DEFINE PROCESS(FUZZ.PROC) APPLICID('/nonexistent/fuzz/prog') USERDATA('u')",
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

    /* Several sockets at once, each thread a mix of everything. */
    const int threads = 4;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(12);
    std::atomic<int> rounds{0};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; t++) {
        pool.emplace_back([&, t] {
            Fuzzer f(seed * 31 + (uint64_t)t);
            for (int i = 0; i < 120 && std::chrono::steady_clock::now() < deadline; i++) {
                rounds++;
                uint32_t len =
                    f.OneIn(2) ? 0xFFFFFFFFu - f.Below(16) : WIRE_MAX_PAYLOAD - f.Below(1000);
                std::string cut = f.Frame(WIRE_T_CONNECT, f.Payload(WIRE_T_CONNECT));
                switch (f.Below(8)) {
                    case 0: /* noise */
                        SendAndLeave(&f, port, f.Bytes(1 + f.Below(4096)), true);
                        break;
                    case 1: /* a huge declared length, then a few bytes and gone */
                        SendAndLeave(&f, port,
                                     f.Frame((uint16_t)f.Below(20), f.Bytes(f.Below(100)), len),
                                     len > WIRE_MAX_PAYLOAD);
                        break;
                    case 2: /* a frame cut in the middle */
                        SendAndLeave(&f, port, cut.substr(0, f.Below((uint32_t)cut.size())), false);
                        break;
                    case 3: /* a request before MQCONN */
                        SendAndLeave(&f, port, f.Frame(WIRE_T_PUT, f.Payload(WIRE_T_PUT)), true);
                        break;
                    case 4: /* a control command with random arguments */
                        SendAndLeave(&f, port, f.Frame(WIRE_T_CONTROL, f.ControlPayload()), true);
                        break;
                    default:
                        MqiSession(&f, port);
                }
            }
        });
    }
    for (auto &th : pool)
        th.join();
    EXPECT_GT(rounds.load(), threads * 10) << "the fuzzing did not get going";
    for (uint16_t type : {WIRE_T_CONNECT, WIRE_T_OPEN, WIRE_T_PUT, WIRE_T_GET})
        EXPECT_GT(SucceededReplies[type].load() + SucceededReplies[type + 1].load(), 0)
            << "no request of type " << type << " got into the verb";

    /* The same daemon, still serving: on the wire, through the library,
     * and its control commands. */
    ASSERT_TRUE(PLProcessAlive(pid)) << qm.Log(QM).substr(0, 20000);
    std::string out;
    for (std::vector<std::string> cmd : {std::vector<std::string>{"fault", QM, "clear"},
                                         {"cmdserver", QM, "start"},
                                         {"cmdserver", QM, "delay", "0"},
                                         {"mqsc", QM, "DEFINE QLOCAL(FUZZ.CHECK) REPLACE"},
                                         {"status", QM}})
        ASSERT_EQ(qm.Run(cmd, &out), 0) << out;
    EXPECT_NE(out.find("RUNNING"), std::string::npos) << out;

    for (int again = 0; again < 2; again++) {
        std::string text;
        ASSERT_EQ(Put(h, o, "still served"), 0);
        ASSERT_EQ(Get(h, o, &text, nullptr, MQGMO_NO_SYNCPOINT, 20000), 0);
        EXPECT_EQ(text, "still served");
        Close(h, &o);
        Disconnect(&h);
        ASSERT_EQ(Connect(QM, &h), 0);
        ASSERT_EQ(Open(h, "FUZZ.CHECK", MQOO_OUTPUT | MQOO_INPUT_SHARED, &o), 0);
    }
    Disconnect(&h);
    std::string log = qm.Log(QM);
    for (const char *refused : {"malformed frame", "before MQCONN"})
        EXPECT_NE(log.find(refused), std::string::npos) << refused << " never logged";
    /* An orderly end, its log free of sanitizer reports, is checked by the
     * queue manager's stop. */
}
