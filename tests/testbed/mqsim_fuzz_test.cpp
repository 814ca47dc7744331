/* mqsim_fuzz_test.cpp -- whatever arrives on the daemon's port, it keeps
 * serving: random bytes, frames with lying lengths, frames cut off in the
 * middle, well-formed frames of every verb with random fields after a real
 * MQCONN, unanswered pushes and control commands with random arguments and
 * random MQSC text, from several sockets at once. Afterwards the daemon
 * still answers a new client on the wire and through the MQI library,
 * `mqsim status` works, and under the sanitizers its log holds no report.
 *
 * The random generator is seeded from TORVIK_FUZZ_SEED when that is set,
 * else from the clock; the seed is printed with every failure so that a
 * failing run can be repeated. Every loop is bounded by a count and a time.
 */
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "mqconst/mqpcf.h"
#include "support/process.h"
#include "mqsim_util.h"
#include "wire.h"

namespace {

const char QM[] = "QMFUZZ";

/* Objects the random frames aim at (besides random names). */
const char *const QueueNames[] = {
    "CORVEL.TORVIK.COMMAND.QUEUE",
    "SYSTEM.DEFAULT.MODEL.QUEUE",
    "SYSTEM.ADMIN.COMMAND.QUEUE",
    "FUZZ.LOCAL",
    "FUZZ.REMOTE",
    "FUZZ.XMITQ",
    "FUZZ.TRIGGERED",
    "SYSTEM.DEAD.LETTER.QUEUE",
    "NO.SUCH.QUEUE",
};

/* One fuzzing thread's generator and the frames it builds. */
class Fuzzer {
public:
    explicit Fuzzer(uint64_t seed) : rng_(seed) {}

    uint32_t Below(uint32_t n) { return n == 0 ? 0 : (uint32_t)(rng_() % n); }
    bool OneIn(uint32_t n) { return Below(n) == 0; }

    /* An integer worth trying: boundaries, small values, handles, noise. */
    int32_t Int() {
        static const int32_t edges[] = {0,       1,      -1,  2,       3,     INT_MIN,
                                        INT_MAX, 101,    102, 0x7FFF,  65536, -2,
                                        4096,    100000, 36,  4194304, 8,     0x40000000};
        switch (Below(4)) {
            case 0:
                return edges[Below(sizeof edges / sizeof edges[0])];
            case 1:
                return (int32_t)Below(64);
            case 2:
                return (int32_t)(101 + Below(6)); /* a live object handle, perhaps */
            default:
                return (int32_t)rng_();
        }
    }

    std::string Bytes(size_t n) {
        std::string s(n, '\0');
        for (auto &ch : s)
            ch = (char)Below(256);
        return s;
    }

    static std::string Field(const char *name) {
        std::string s(name);
        s.resize(48, ' ');
        return s;
    }

    /* A 48-byte name field: mostly a known queue, else blanks, garbage or
     * no padding. */
    std::string NameField(size_t n = 48) {
        std::string s;
        switch (Below(16)) {
            case 0:
                s = Bytes(n);
                break;
            case 1:
                s = std::string(n, 'A' + (char)Below(26)); /* no blank, no NUL */
                break;
            case 2:
                s = "";
                break;
            default:
                s = QueueNames[Below(sizeof QueueNames / sizeof QueueNames[0])];
                if (OneIn(8))
                    s += "*";
                break;
        }
        s.resize(n, OneIn(2) ? ' ' : '\0');
        return s;
    }

    /* A descriptor: the default one with some fields set at random, or
     * bytes. */
    std::string Md() {
        if (OneIn(12))
            return Bytes(sizeof(MQMD));
        MQMD md = MQMD_DEFAULT;
        static const char *const formats[] = {MQFMT_ADMIN, MQFMT_STRING, MQFMT_NONE, "MQCMD1  ",
                                              "\x01\x02zz\xff  x"};
        memcpy(md.Format, formats[Below(5)], 8);
        if (OneIn(8))
            md.Version = Int();
        if (OneIn(6))
            md.Priority = Int();
        if (OneIn(6))
            md.Persistence = Int();
        if (OneIn(6))
            md.Expiry = OneIn(2) ? (int32_t)Below(20) : Int();
        if (OneIn(4))
            md.Report = Int();
        if (OneIn(6))
            md.MsgType = Int();
        if (OneIn(3))
            memcpy(md.MsgId, Bytes(24).data(), 24);
        if (OneIn(3))
            memcpy(md.CorrelId, Bytes(24).data(), 24);
        if (OneIn(2)) {
            std::string r = NameField(48);
            memcpy(md.ReplyToQ, r.data(), 48);
            r = OneIn(3) ? NameField(48) : std::string(48, ' ');
            memcpy(md.ReplyToQMgr, r.data(), 48);
        }
        if (OneIn(3))
            memcpy(md.UserIdentifier, Bytes(12).data(), 12);
        return std::string((const char *)&md, sizeof md);
    }

    /* A message body: empty, text, a PCF header that may lie, or bytes. */
    std::string Body() {
        size_t n = OneIn(8) ? Below(70000) : Below(600);
        if (OneIn(3) && n >= sizeof(MQCFH)) {
            MQCFH cfh = MQCFH_DEFAULT;
            cfh.Command = OneIn(2) ? (MQLONG)Below(220) : Int();
            cfh.ParameterCount = Int();
            if (OneIn(3))
                cfh.StrucLength = Int();
            std::string s((const char *)&cfh, sizeof cfh);
            return s + Bytes(n - sizeof cfh);
        }
        if (OneIn(2))
            return std::string(n, "ABC "[Below(4)]);
        return Bytes(n);
    }

    /* A length-prefixed blob whose length sometimes lies. */
    void Blob(WBUF *w, const std::string &s) {
        WirePutU32(w, OneIn(25) ? (uint32_t)Int() : (uint32_t)s.size());
        WirePutBytes(w, s.data(), s.size());
    }

    /* Mostly the sane value, now and then anything. */
    int32_t Or(int32_t sane) { return OneIn(5) ? Int() : sane; }
    template <size_t N>
    int32_t OneOf(const int32_t (&values)[N]) {
        return Or(values[Below(N)]);
    }

    /* The payload of a request frame of this type, laid out as the daemon
     * reads it, its fields mostly sensible so that it reaches the verb, now
     * and then anything; sometimes cut, lengthened or with a byte flipped. */
    std::string Payload(uint16_t type) {
        static const int32_t openOptions[] = {
            MQOO_OUTPUT,
            MQOO_INPUT_SHARED | MQOO_SAVE_ALL_CONTEXT,
            MQOO_INPUT_AS_Q_DEF | MQOO_BROWSE,
            MQOO_INQUIRE,
            MQOO_OUTPUT | MQOO_INPUT_SHARED | MQOO_INQUIRE | MQOO_SET | MQOO_BROWSE,
            MQOO_OUTPUT | MQOO_PASS_ALL_CONTEXT,
            MQOO_OUTPUT | MQOO_SET_ALL_CONTEXT | MQOO_FAIL_IF_QUIESCING,
            MQOO_INPUT_EXCLUSIVE,
            MQOO_INQUIRE | MQOO_SET};
        static const int32_t putOptions[] = {MQPMO_NO_SYNCPOINT, MQPMO_SYNCPOINT,
                                             MQPMO_NO_SYNCPOINT | MQPMO_SET_ALL_CONTEXT,
                                             MQPMO_NO_SYNCPOINT | MQPMO_PASS_ALL_CONTEXT, 0};
        static const int32_t getOptions[] = {
            MQGMO_NO_SYNCPOINT,
            MQGMO_SYNCPOINT,
            MQGMO_WAIT | MQGMO_NO_SYNCPOINT,
            MQGMO_BROWSE_FIRST,
            MQGMO_BROWSE_NEXT,
            MQGMO_ACCEPT_TRUNCATED_MSG,
            MQGMO_WAIT | MQGMO_SYNCPOINT | MQGMO_FAIL_IF_QUIESCING};
        static const int32_t selectors[] = {MQCA_Q_MGR_NAME,      MQIA_PLATFORM,
                                            MQIA_COMMAND_LEVEL,   MQCA_SSL_KEY_REPOSITORY,
                                            MQCA_Q_NAME,          MQCA_Q_DESC,
                                            MQIA_MAX_MSG_LENGTH,  MQIA_CURRENT_Q_DEPTH,
                                            MQIA_DEFINITION_TYPE, MQIA_Q_TYPE,
                                            MQIA_INHIBIT_GET,     MQIA_INHIBIT_PUT,
                                            MQCA_TRIGGER_DATA,    MQIA_TRIGGER_CONTROL,
                                            MQCA_REMOTE_Q_NAME,   MQIA_TRIGGER_DEPTH};
        static const int32_t cbOps[] = {MQOP_REGISTER, MQOP_REGISTER, MQOP_DEREGISTER, MQOP_SUSPEND,
                                        MQOP_RESUME};
        static const int32_t ctlOps[] = {MQOP_START,   MQOP_START,  MQOP_STOP,
                                         MQOP_SUSPEND, MQOP_RESUME, MQOP_START_WAIT};
        const int32_t hobj = Or(101 + (int32_t)(OneIn(3) ? Below(6) : 0));
        WBUF w = {};
        WireBegin(&w, type, 0);
        std::string s;
        switch (type) {
            case WIRE_T_CONNECT:
                WirePutI32(&w, Int());
                WirePutI32(&w, Int());
                s = NameField(48);
                WirePutBytes(&w, s.data(), 48);
                WirePutI32(&w, Int());
                WirePutI32(&w, Int());
                s = NameField(28);
                WirePutBytes(&w, s.data(), 28);
                s = NameField(12);
                WirePutBytes(&w, s.data(), 12);
                WirePutI32(&w, Int());
                break;
            case WIRE_T_OPEN:
                WirePutI32(&w, OneOf(openOptions));
                WirePutI32(&w, Or(OneIn(8) ? MQOT_Q_MGR : MQOT_Q));
                s = NameField(48);
                WirePutBytes(&w, s.data(), 48);
                s = OneIn(6) ? NameField(48) : std::string(48, ' ');
                WirePutBytes(&w, s.data(), 48);
                s = OneIn(2) ? NameField(48) : Field("FUZZ.DYN.*");
                WirePutBytes(&w, s.data(), 48);
                break;
            case WIRE_T_CLOSE:
                WirePutI32(&w, hobj);
                WirePutI32(&w, Or(OneIn(4) ? MQCO_DELETE_PURGE : MQCO_NONE));
                break;
            case WIRE_T_CTL:
                WirePutI32(&w, OneOf(ctlOps));
                WirePutI32(&w, Or(0));
                break;
            case WIRE_T_ACK: { /* a count, then numbers of pushes and their fate */
                uint32_t n = OneIn(20) ? (uint32_t)Int() : Below(4);
                WirePutU32(&w, n);
                for (uint32_t i = 0; i < n && i < 8; i++) {
                    WirePutU32(&w, OneIn(4) ? (uint32_t)Int() : Below(8));
                    WirePutI32(&w, Or((int32_t)Below(3)));
                }
                break;
            }
            case WIRE_T_PUT:
                WirePutI32(&w, hobj);
                WirePutI32(&w, OneOf(putOptions));
                s = Md();
                WirePutBytes(&w, s.data(), s.size());
                Blob(&w, Body());
                break;
            case WIRE_T_PUT1:
                WirePutI32(&w, Or(MQOT_Q));
                s = NameField(48);
                WirePutBytes(&w, s.data(), 48);
                s = OneIn(6) ? NameField(48) : std::string(48, ' ');
                WirePutBytes(&w, s.data(), 48);
                WirePutI32(&w, OneOf(putOptions));
                s = Md();
                WirePutBytes(&w, s.data(), s.size());
                Blob(&w, Body());
                break;
            case WIRE_T_GET: {
                WirePutI32(&w, hobj);
                WirePutI32(&w, OneOf(getOptions));
                WirePutI32(&w, Or((int32_t)Below(300))); /* wait */
                WirePutI32(&w, Or(OneIn(3) ? MQMO_MATCH_MSG_ID | MQMO_MATCH_CORREL_ID : 0));
                WirePutI32(&w, Or((int32_t)Below(OneIn(4) ? 100 : 80000))); /* buffer */
                MQMD md = MQMD_DEFAULT;
                s = OneIn(6) ? Md() : std::string((const char *)&md, sizeof md);
                WirePutBytes(&w, s.data(), s.size());
                break;
            }
            case WIRE_T_INQ:
            case WIRE_T_SET: {
                WirePutI32(&w, hobj);
                int32_t n = OneIn(10) ? Int() : (int32_t)Below(6);
                WirePutI32(&w, n);
                for (int32_t i = 0; i < n && i < 300; i++)
                    WirePutI32(&w, OneOf(selectors));
                int32_t k = OneIn(10) ? Int() : (int32_t)Below(6);
                WirePutI32(&w, k);
                if (type == WIRE_T_INQ) {
                    WirePutI32(&w, Or((int32_t)Below(600))); /* character length */
                } else {
                    for (int32_t i = 0; i < k && i < 300; i++)
                        WirePutI32(&w, Or((int32_t)Below(2)));
                    Blob(&w, OneIn(2) ? std::string(64 * Below(3), 'T') : Bytes(Below(200)));
                }
                break;
            }
            case WIRE_T_CB: {
                WirePutI32(&w, OneOf(cbOps));
                WirePutI32(&w, Or(OneIn(4) ? MQCBT_EVENT_HANDLER : MQCBT_MESSAGE_CONSUMER));
                WirePutI32(&w, Or(MQCBDO_NONE));
                WirePutI32(&w, hobj);
                WirePutI32(&w, Or(OneIn(2) ? MQCBD_FULL_MSG_LENGTH : (int32_t)Below(200)));
                WirePutI32(&w, OneOf(getOptions));
                WirePutI32(&w, Or(0));
                MQMD md = MQMD_DEFAULT;
                s = OneIn(6) ? Md() : std::string((const char *)&md, sizeof md);
                WirePutBytes(&w, s.data(), s.size());
                break;
            }
            default: /* DISC, CMIT, BACK, and types nobody knows */
                if (OneIn(6)) {
                    s = Bytes(Below(64));
                    WirePutBytes(&w, s.data(), s.size());
                }
                break;
        }
        std::string payload((const char *)w.data + WIRE_HEADER_SIZE, w.len - WIRE_HEADER_SIZE);
        WireFree(&w);
        if (OneIn(40) && !payload.empty())
            payload.resize(Below((uint32_t)payload.size())); /* cut short */
        else if (OneIn(40))
            payload += Bytes(1 + Below(16)); /* bytes left over */
        else if (OneIn(20) && !payload.empty())
            payload[Below((uint32_t)payload.size())] ^= (char)(1 + Below(255)); /* one flipped */
        return payload;
    }

    /* The 16-byte header of a frame; sometimes its magic or version lie. */
    std::string Header(uint16_t type, uint32_t length) {
        uint8_t h[WIRE_HEADER_SIZE];
        memcpy(h, WIRE_MAGIC, 4);
        uint16_t version = OneIn(30) ? (uint16_t)Below(5) : WIRE_VERSION;
        h[4] = (uint8_t)version;
        h[5] = (uint8_t)(version >> 8);
        h[6] = (uint8_t)type;
        h[7] = (uint8_t)(type >> 8);
        uint32_t tag = (uint32_t)rng_();
        memcpy(h + 8, &tag, 4); /* little-endian on every platform we build */
        memcpy(h + 12, &length, 4);
        if (OneIn(40))
            h[Below(4)] ^= 0x20;
        return std::string((const char *)h, sizeof h);
    }

    std::string Frame(uint16_t type, const std::string &payload) {
        return Header(type, (uint32_t)payload.size()) + payload;
    }

    /* A plausible MQSC command made of the subset's words and noise. */
    std::string Mqsc() {
        static const char *const verbs[] = {"DEFINE QLOCAL",  "DEFINE QMODEL", "DEFINE QREMOTE",
                                            "ALTER QLOCAL",   "DELETE QLOCAL", "CLEAR QLOCAL",
                                            "DISPLAY QLOCAL", "DISPLAY QMGR",  "ALTER QMGR",
                                            "DEFINE SERVICE", "DISPLAY QUEUE", "",
                                            "DEFINE"};
        static const char *const attrs[] = {
            "MAXDEPTH", "MAXMSGL", "DESCR",    "GET",      "PUT",      "DEFTYPE", "RNAME",
            "RQMNAME",  "XMITQ",   "REPLACE",  "SSLKEYR",  "CERTLABL", "SSLEV",   "CURDEPTH",
            "ALL",      "INITQ",   "TRIGDATA", "TRIGTYPE", "",         "(",       ")"};
        static const char *const values[] = {
            "0",  "-1",      "999999999999", "ENABLED", "DISABLED", "TEMPDYN",    "PERMDYN",
            "''", "'it''s'", "'unended",     "*",       "FUZZ.*",   "FUZZ.LOCAL", "FUZZ.NEW",
            ")",  "(("};
        std::string s = verbs[Below(sizeof verbs / sizeof verbs[0])];
        if (OneIn(2))
            s += "(" +
                 std::string(OneIn(3) ? "FUZZ.M" + std::to_string(Below(5))
                                      : values[Below(sizeof values / sizeof values[0])]) +
                 ")";
        int n = (int)Below(6);
        for (int i = 0; i < n; i++) {
            s += " ";
            s += attrs[Below(sizeof attrs / sizeof attrs[0])];
            if (OneIn(2))
                s += "(" + std::string(values[Below(sizeof values / sizeof values[0])]) + ")";
        }
        if (OneIn(5)) {
            std::string noise = Bytes(Below(40));
            for (char &ch : noise)
                if (ch == '\0')
                    ch = ' ';
            s += noise;
        }
        if (OneIn(10))
            s += std::string(Below(5000), OneIn(2) ? '(' : 'X');
        return s;
    }

    /* A control command's arguments; never stop or break, which end or
     * sever everyone by design. */
    std::vector<std::string> ControlArgs() {
        std::vector<std::string> a;
        switch (Below(7)) {
            case 0:
                a = {"mqsc", Mqsc()};
                break;
            case 1:
                a = {"mqscfile", Mqsc() + "\n" + Mqsc() + "\n* comment\n" + Mqsc()};
                break;
            case 2:
                a = {"fault", OneIn(2) ? "put" : "call", OneIn(2) ? "MQPUT" : "FUZZ.LOCAL",
                     std::to_string(Int()), std::to_string(Int())};
                if (OneIn(2))
                    a.resize(Below(6));
                break;
            case 3:
                a = {"cmdserver", OneIn(2) ? "delay" : "start", std::to_string(Int())};
                a.resize(1 + Below(3));
                break;
            case 4:
                a = {"status"};
                break;
            case 5:
                a = {"fault", "event", std::to_string(Int())};
                break;
            default:
                for (uint32_t i = Below(6); i > 0; i--)
                    a.push_back(Bytes(Below(30)));
                break;
        }
        return a;
    }

    std::string ControlPayload() {
        std::vector<std::string> args = ControlArgs();
        WBUF w = {};
        WireBegin(&w, WIRE_T_CONTROL, 0);
        WirePutI32(&w, OneIn(15) ? Int() : (int32_t)args.size());
        for (auto &a : args)
            WirePutBlob(&w, a.data(), (uint32_t)a.size());
        std::string payload((const char *)w.data + WIRE_HEADER_SIZE, w.len - WIRE_HEADER_SIZE);
        WireFree(&w);
        if (OneIn(10) && !payload.empty())
            payload.resize(Below((uint32_t)payload.size()));
        return payload;
    }

    /* A well-formed MQOPEN: of FUZZ.LOCAL for everything, or of another
     * queue for what it allows. */
    std::string GoodOpen(bool local) {
        static const struct {
            const char *name;
            int32_t options;
        } good[] = {
            {"CORVEL.TORVIK.COMMAND.QUEUE",
             MQOO_OUTPUT | MQOO_INPUT_SHARED | MQOO_SAVE_ALL_CONTEXT | MQOO_INQUIRE},
            {"SYSTEM.DEFAULT.MODEL.QUEUE", MQOO_INPUT_EXCLUSIVE | MQOO_OUTPUT | MQOO_BROWSE},
            {"SYSTEM.ADMIN.COMMAND.QUEUE", MQOO_OUTPUT | MQOO_PASS_ALL_CONTEXT},
            {"FUZZ.REMOTE", MQOO_OUTPUT},
            {"FUZZ.TRIGGERED", MQOO_OUTPUT | MQOO_INPUT_SHARED | MQOO_SET | MQOO_INQUIRE}};
        const char *name = "FUZZ.LOCAL";
        int32_t options = MQOO_OUTPUT | MQOO_INPUT_SHARED | MQOO_INQUIRE | MQOO_SET | MQOO_BROWSE |
                          MQOO_SAVE_ALL_CONTEXT | MQOO_SET_ALL_CONTEXT;
        if (!local) {
            uint32_t i = Below(sizeof good / sizeof good[0]);
            name = good[i].name;
            options = good[i].options;
        }
        WBUF w = {};
        WireBegin(&w, WIRE_T_OPEN, 0);
        WirePutI32(&w, options);
        WirePutI32(&w, MQOT_Q);
        std::string f = Field(name);
        WirePutBytes(&w, f.data(), 48);
        f = Field("");
        WirePutBytes(&w, f.data(), 48);
        f = Field("FUZZ.DYN.*");
        WirePutBytes(&w, f.data(), 48);
        std::string payload((const char *)w.data + WIRE_HEADER_SIZE, w.len - WIRE_HEADER_SIZE);
        WireFree(&w);
        return payload;
    }

    /* A well-formed MQCONN for this queue manager. */
    std::string GoodConnect() {
        WBUF w = {};
        WireBegin(&w, WIRE_T_CONNECT, 0);
        WirePutI32(&w, 0);
        WirePutI32(&w, 1);
        char field[48];
        WireSetField(field, 48, QM);
        WirePutBytes(&w, field, 48);
        WirePutI32(&w, MQCNO_VERSION_1);
        WirePutI32(&w, MQCNO_HANDLE_SHARE_BLOCK);
        WireSetField(field, 28, "mqsim_fuzz");
        WirePutBytes(&w, field, 28);
        WireSetField(field, 12, "fuzz");
        WirePutBytes(&w, field, 12);
        WirePutI32(&w, 0);
        WireEnd(&w);
        std::string frame((const char *)w.data, w.len);
        WireFree(&w);
        return frame;
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
    for (;;) {
        size_t got = 0;
        int rc = PLRecvSome(s, buf, sizeof buf, waitMs, &got);
        if (rc == PL_NET_TIMEOUT)
            return true;
        if (rc != 0)
            return false;
        waitMs = 0;
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
            if ((type & WIRE_T_REPLY) && (type & 0xF) == (type & 0x7FFF) && compCode == MQCC_OK)
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
    if (waitForClose) {
        PLShutdownSend(s);
        Drain(s, 5000);
    } else if (f->OneIn(2)) {
        Drain(s, 5);
    }
    PLCloseSocket(s);
}

/* One fuzzing session on a connection that first makes a real MQCONN:
 * frames of every verb with random fields, replies read now and then, and
 * an end that is sometimes an MQDISC, sometimes a cut. */
void MqiSession(Fuzzer *f, int port) {
    PLSOCKET s;
    if (PLConnectTcp("127.0.0.1", port, 5000, &s) != 0)
        return;
    std::string in;
    std::string connect = f->GoodConnect();
    if (PLSendAll(s, connect.data(), connect.size()) != 0 || !Drain(s, 200, &in)) {
        PLCloseSocket(s);
        return;
    }
    /* First a queue or two to work on (handles 101, 102). */
    for (int i = 0; i < 2; i++) {
        std::string frame = f->Frame(WIRE_T_OPEN, f->GoodOpen(i == 0));
        if (PLSendAll(s, frame.data(), frame.size()) != 0 || !Drain(s, 20, &in)) {
            PLCloseSocket(s);
            return;
        }
    }
    static const uint16_t types[] = {
        WIRE_T_OPEN,  WIRE_T_OPEN,    WIRE_T_OPEN, WIRE_T_PUT,  WIRE_T_PUT,  WIRE_T_PUT1,
        WIRE_T_PUT1,  WIRE_T_GET,     WIRE_T_GET,  WIRE_T_INQ,  WIRE_T_SET,  WIRE_T_CB,
        WIRE_T_CB,    WIRE_T_CTL,     WIRE_T_CTL,  WIRE_T_CMIT, WIRE_T_BACK, WIRE_T_ACK,
        WIRE_T_CLOSE, WIRE_T_CONNECT, WIRE_T_DISC};
    int frames = 1 + (int)f->Below(60);
    for (int i = 0; i < frames; i++) {
        static const uint16_t strangers[] = {WIRE_T_CONTROL, WIRE_T_PUSH_MSG, WIRE_T_PUSH_EVENT,
                                             0x7777, WIRE_T_GET | WIRE_T_REPLY};
        uint16_t type =
            f->OneIn(60) ? strangers[f->Below(5)] : types[f->Below(sizeof types / sizeof types[0])];
        if (type == WIRE_T_DISC && !f->OneIn(3))
            type = WIRE_T_OPEN;
        std::string frame = f->Frame(type, f->Payload(type));
        if (f->OneIn(60))
            frame.resize(f->Below((uint32_t)frame.size())); /* cut mid-frame and leave */
        if (PLSendAll(s, frame.data(), frame.size()) != 0)
            break;
        if (!Drain(s, f->OneIn(3) ? 20 : 0, &in))
            break;
    }
    if (f->OneIn(2))
        Drain(s, 50, &in);
    PLCloseSocket(s);
}

/* A real client over the wire with time limits: MQCONN answered with
 * CompCode 0. So a daemon that hangs fails the test instead of hanging it. */
::testing::AssertionResult WireConnectAnswers(Fuzzer *f, int port) {
    PLSOCKET s;
    int rc = PLConnectTcp("127.0.0.1", port, 20000, &s);
    if (rc != 0)
        return ::testing::AssertionFailure() << "connect failed: " << rc;
    std::string connect = f->GoodConnect();
    PLSendAll(s, connect.data(), connect.size());
    uint8_t hdr[WIRE_HEADER_SIZE + 8];
    size_t got = 0;
    rc = PLRecvAll(s, hdr, sizeof hdr, 20000, &got);
    PLCloseSocket(s);
    if (rc != 0)
        return ::testing::AssertionFailure() << "no MQCONN reply: " << rc << " after " << got;
    int32_t compCode;
    memcpy(&compCode, hdr + WIRE_HEADER_SIZE, 4);
    if (memcmp(hdr, WIRE_MAGIC, 4) != 0 || compCode != MQCC_OK)
        return ::testing::AssertionFailure() << "bad MQCONN reply, CompCode " << compCode;
    return ::testing::AssertionSuccess();
}

}  // namespace

TEST(MqsimFuzz, NoBytesOnThePortHarmTheDaemon) {
    const uint64_t seed = tvtest::FuzzSeed();
    SCOPED_TRACE("TORVIK_FUZZ_SEED=" + std::to_string(seed));
    MqsimQueueManager qm;
    ASSERT_EQ(qm.Start(QM, {"--mqsc", MqsimQueueManager::Sample("torvik.mqsc")}), "");
    for (const char *cmd :
         {"DEFINE QLOCAL(FUZZ.LOCAL) MAXDEPTH(50) MAXMSGL(65536)", "DEFINE QLOCAL(FUZZ.XMITQ)",
          "DEFINE QREMOTE(FUZZ.REMOTE) RNAME(X) RQMNAME(FAR) XMITQ(FUZZ.XMITQ)",
          /* a trigger whose program does not exist: the monitor must cope */
          "DEFINE PROCESS(FUZZ.PROC) APPLICID('/nonexistent/fuzz/prog') USERDATA('u')",
          "DEFINE QLOCAL(FUZZ.INITQ)",
          "DEFINE QLOCAL(FUZZ.TRIGGERED) TRIGGER TRIGTYPE(FIRST) INITQ(FUZZ.INITQ) "
          "PROCESS(FUZZ.PROC)"}) {
        std::string out;
        ASSERT_EQ(qm.Run({"mqsc", QM, cmd}, &out), 0) << cmd << "\n" << out;
    }
    int port = 0;
    int64_t pid = 0;
    ASSERT_TRUE(qm.PortFile(QM, &port, &pid));

    /* Several sockets at once, each thread a mix of everything. */
    const int threads = 4;
    const int roundsPerThread = 120;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(12);
    std::atomic<int> rounds{0};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; t++) {
        pool.emplace_back([&, t] {
            Fuzzer f(seed * 31 + (uint64_t)t);
            for (int i = 0; i < roundsPerThread && std::chrono::steady_clock::now() < deadline;
                 i++) {
                rounds++;
                switch (f.Below(8)) {
                    case 0: /* noise */
                        SendAndLeave(&f, port, f.Bytes(1 + f.Below(4096)), true);
                        break;
                    case 1: { /* a huge declared length, then a few bytes and gone */
                        uint32_t len = f.OneIn(2) ? 0xFFFFFFFFu - f.Below(16)
                                                  : WIRE_MAX_PAYLOAD - f.Below(1000);
                        SendAndLeave(&f, port,
                                     f.Header((uint16_t)f.Below(20), len) + f.Bytes(f.Below(100)),
                                     len > WIRE_MAX_PAYLOAD);
                        break;
                    }
                    case 2: { /* a frame cut in the middle */
                        std::string frame = f.Frame(WIRE_T_CONNECT, f.Payload(WIRE_T_CONNECT));
                        frame.resize(f.Below((uint32_t)frame.size()));
                        SendAndLeave(&f, port, frame, false);
                        break;
                    }
                    case 3: /* a request before MQCONN */
                        SendAndLeave(&f, port,
                                     f.Frame(WIRE_T_PUT, f.Payload(WIRE_T_PUT)) + f.Bytes(8), true);
                        break;
                    case 4: /* a control command with random arguments */
                        SendAndLeave(&f, port, f.Frame(WIRE_T_CONTROL, f.ControlPayload()), true);
                        break;
                    default:
                        MqiSession(&f, port);
                        break;
                }
            }
        });
    }
    for (auto &th : pool)
        th.join();
    EXPECT_GT(rounds.load(), threads * 10) << "the fuzzing did not get going";
    EXPECT_GT(SucceededReplies[WIRE_T_CONNECT].load(), 0);
    EXPECT_GT(SucceededReplies[WIRE_T_OPEN].load(), 0);
    EXPECT_GT(SucceededReplies[WIRE_T_PUT].load() + SucceededReplies[WIRE_T_PUT1].load(), 0);
    EXPECT_GT(SucceededReplies[WIRE_T_GET].load() + SucceededReplies[WIRE_T_INQ].load() +
                  SucceededReplies[WIRE_T_SET].load(),
              0);

    /* The same daemon, still serving: on the wire, through the library,
     * and its control commands. */
    ASSERT_TRUE(PLProcessAlive(pid)) << qm.Log(QM).substr(0, 20000);
    Fuzzer check(seed);
    ASSERT_TRUE(WireConnectAnswers(&check, port)) << qm.Log(QM).substr(0, 20000);
    std::string out;
    ASSERT_EQ(qm.Run({"fault", QM, "clear"}, &out), 0) << out;
    ASSERT_EQ(qm.Run({"cmdserver", QM, "start"}, &out), 0) << out;
    ASSERT_EQ(qm.Run({"cmdserver", QM, "delay", "0"}, &out), 0) << out;
    ASSERT_EQ(qm.Run({"mqsc", QM, "DEFINE QLOCAL(FUZZ.CHECK) REPLACE"}, &out), 0) << out;
    ASSERT_EQ(qm.Run({"status", QM}, &out), 0) << out;
    EXPECT_NE(out.find("RUNNING"), std::string::npos) << out;

    MQHCONN h = MQHC_UNUSABLE_HCONN;
    ASSERT_EQ(Connect(QM, &h), 0);
    MQHOBJ o = MQHO_UNUSABLE_HOBJ;
    ASSERT_EQ(Open(h, "FUZZ.CHECK", MQOO_OUTPUT | MQOO_INPUT_SHARED, &o), 0);
    ASSERT_EQ(Put(h, o, "still served"), 0);
    std::string text;
    ASSERT_EQ(Get(h, o, &text, nullptr, MQGMO_NO_SYNCPOINT, 20000), 0);
    EXPECT_EQ(text, "still served");
    Close(h, &o);
    Disconnect(&h);

    std::string log = qm.Log(QM);
    EXPECT_NE(log.find("malformed"), std::string::npos) << "garbage was never refused";

    /* An orderly end, its log free of sanitizer reports, is checked by
     * the fixture's stop. */
}
