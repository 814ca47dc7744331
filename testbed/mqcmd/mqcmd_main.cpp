/* mqcmd_main.cpp -- the requester: send one command, print every reply.
 *
 * Connects to the queue manager through the MQI library it is linked with,
 * opens a reply queue (a temporary dynamic queue unless --reply-q names one),
 * puts the request with MQPUT1 and reads the replies whose CorrelId the
 * report options imply, until the reply set is complete (mqcmd_replyset) and
 * the linger interval is over, or the wait expires. Also the get and put tools.
 * Owns: nothing global. Threads: the main thread only.
 */
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "mqconst/mqi.h"
#include "mqcmd_build.h"
#include "mqcmd_format.h"
#include "mqcmd_options.h"
#include "mqcmd_replyset.h"
#include "mqconst/mqconst.h"
#include "platform/platform.h"

constexpr int MQCMD_EXIT_COMPLETE = 0; /* the reply set completed (or nothing was awaited) */
constexpr int MQCMD_EXIT_FAILED = 1;   /* anything else that went wrong */
constexpr int MQCMD_EXIT_EXPIRED = 2;  /* the wait expired first */

constexpr size_t FIRST_BUFFER_SIZE = 65536;
constexpr size_t MAX_MESSAGE_SIZE = 104857600; /* 100 MB: larger replies are refused */
constexpr int64_t MAX_RAW_FILE_SIZE = 104857600;

static void ReportMqFailure(const char *verb, const char *object, MQLONG reason);
static void SetName(MQCHAR *field, size_t size, const char *name, char pad);
static void TrimName(const MQCHAR *field, size_t size, char *out);
static void Emit(const std::string &text);
static int ReadRawFile(const char *path, std::vector<MQBYTE> *body);
static int BuildRequest(const MQCMDOPTS *opts, std::vector<MQBYTE> *body, MQCHAR *format);
static int GetMessage(MQHCONN hconn, MQHOBJ hobj, MQMD *md, const MQBYTE *correlId, uint64_t waitMs,
                      std::vector<MQBYTE> *buffer, size_t *dataLength, MQLONG *reason);
static void PrintMessage(const MQCMDOPTS *opts, long n, const MQMD *md, const MQBYTE *body,
                         size_t len);
static void PrintSummary(const MQCMDOPTS *opts, const REPLYSET *set, uint64_t ms, int complete);
static int RunRequest(const MQCMDOPTS *opts, MQHCONN hconn);
static int RunGet(const MQCMDOPTS *opts, MQHCONN hconn);
static int PutText(const MQCMDOPTS *opts, MQHCONN hconn);

static void ReportMqFailure(const char *verb, const char *object, MQLONG reason) {
    const char *name = ConstantName(MQCONST_SLOT_REASONS, reason);
    fprintf(stderr, "mqcmd: %s of '%s' failed with reason %d (%s)\n", verb, object, reason,
            name != nullptr ? name : ReasonText(reason));
}

/* name into a fixed MQ field of size characters, the rest filled with pad. */
static void SetName(MQCHAR *field, size_t size, const char *name, char pad) {
    size_t len = strlen(name);
    if (len > size)
        len = size;
    memcpy(field, name, len);
    memset(field + len, pad, size - len);
}

/* A fixed field up to its first blank or NUL into out (size + 1 bytes). */
static void TrimName(const MQCHAR *field, size_t size, char *out) {
    size_t len = 0;
    while (len < size && field[len] != ' ' && field[len] != '\0')
        len++;
    memcpy(out, field, len);
    out[len] = '\0';
}

static void Emit(const std::string &text) {
    fwrite(text.data(), 1, text.size(), stdout);
    fflush(stdout);
}

/* The whole file into body. Returns 0, or 1 after a message on stderr. */
static int ReadRawFile(const char *path, std::vector<MQBYTE> *body) {
    int err = 0;
    FILE *f = PLOpenFile(path, "rb", &err);
    if (f == nullptr) {
        char text[200];
        fprintf(stderr, "mqcmd: cannot open '%s': %s\n", path, PLErrorText(err, text, sizeof text));
        return 1;
    }
    int64_t size = 0;
    if (PLStreamSize(f, &size) != 0 || size < 0 || size > MAX_RAW_FILE_SIZE) {
        fprintf(stderr, "mqcmd: '%s' is not a readable file of at most %lld bytes\n", path,
                (long long)MAX_RAW_FILE_SIZE);
        fclose(f);
        return 1;
    }
    body->resize((size_t)size);
    size_t got = size > 0 ? fread(body->data(), 1, (size_t)size, f) : 0;
    fclose(f);
    if (got != (size_t)size) {
        fprintf(stderr, "mqcmd: reading '%s' failed\n", path);
        return 1;
    }
    return 0;
}

/* The request's body and Format from the command form. Returns 0, or 1
 * after a message on stderr. */
static int BuildRequest(const MQCMDOPTS *opts, std::vector<MQBYTE> *body, MQCHAR *format) {
    char err[200];
    memcpy(format, MQFMT_ADMIN, MQ_FORMAT_LENGTH);
    switch (opts->mode) {
        case MQCMD_MODE_MQSC:
        case MQCMD_MODE_SIMPLE:
        case MQCMD_MODE_PUT:
            memcpy(format, MQFMT_STRING, MQ_FORMAT_LENGTH);
            body->assign((const MQBYTE *)opts->text,
                         (const MQBYTE *)opts->text + strlen(opts->text));
            break;
        case MQCMD_MODE_ESCAPE:
            BuildEscapeCommand(body, opts->text, strlen(opts->text));
            break;
        case MQCMD_MODE_RAW:
            if (ReadRawFile(opts->rawFile, body) != 0)
                return 1;
            break;
        case MQCMD_MODE_PCF: {
            MQLONG command;
            if (ParseCommandCode(opts->pcfCommand, &command, err, sizeof err) != 0) {
                fprintf(stderr, "mqcmd: --pcf: %s\n", err);
                return 1;
            }
            StartPcfCommand(body, command);
            for (const char *word : opts->params) {
                if (AddParameterWord(body, word, err, sizeof err) != 0) {
                    fprintf(stderr, "mqcmd: --pcf: %s\n", err);
                    return 1;
                }
            }
            break;
        }
        default:
            fprintf(stderr, "mqcmd: nothing to send\n");
            return 1;
    }
    if (opts->formatGiven)
        memcpy(format, opts->format, MQ_FORMAT_LENGTH);
    if (body->size() > MAX_MESSAGE_SIZE) {
        fprintf(stderr, "mqcmd: the request of %llu bytes is too long\n",
                (unsigned long long)body->size());
        return 1;
    }
    return 0;
}

/* One MQGET from hobj, waiting up to waitMs (0: no wait), matching correlId
 * unless it is null, into buffer, which grows to the message's length (up
 * to MAX_MESSAGE_SIZE). Returns the completion code; *reason the reason;
 * *dataLength the message's length on success. */
static int GetMessage(MQHCONN hconn, MQHOBJ hobj, MQMD *md, const MQBYTE *correlId, uint64_t waitMs,
                      std::vector<MQBYTE> *buffer, size_t *dataLength, MQLONG *reason) {
    for (;;) {
        *md = MQMD_DEFAULT;
        md->Version = MQMD_VERSION_2;
        MQGMO gmo = MQGMO_DEFAULT;
        gmo.Version = MQGMO_VERSION_3;
        gmo.Options = MQGMO_NO_SYNCPOINT | MQGMO_FAIL_IF_QUIESCING;
        if (waitMs > 0) {
            gmo.Options |= MQGMO_WAIT;
            gmo.WaitInterval = waitMs > 0x7FFFFFFF ? 0x7FFFFFFF : (MQLONG)waitMs;
        }
        gmo.MatchOptions = MQMO_NONE;
        if (correlId != nullptr) {
            gmo.MatchOptions = MQMO_MATCH_CORREL_ID;
            memcpy(md->CorrelId, correlId, sizeof md->CorrelId);
        }
        MQLONG length = 0, cc = 0;
        MQGET(hconn, hobj, md, &gmo, (MQLONG)buffer->size(), buffer->data(), &length, &cc, reason);
        if (*reason == MQRC_TRUNCATED_MSG_FAILED && length > 0 && (size_t)length > buffer->size() &&
            (size_t)length <= MAX_MESSAGE_SIZE) {
            buffer->resize((size_t)length);
            continue; /* the message stayed on the queue; take it whole */
        }
        if (cc != MQCC_FAILED)
            *dataLength = length < 0
                              ? 0
                              : ((size_t)length > buffer->size() ? buffer->size() : (size_t)length);
        return cc;
    }
}

static void PrintMessage(const MQCMDOPTS *opts, long n, const MQMD *md, const MQBYTE *body,
                         size_t len) {
    std::string out;
    if (opts->json)
        FormatMessageJson(&out, n, md, body, len);
    else
        FormatMessageText(&out, n, md, body, len);
    Emit(out);
}

static void PrintSummary(const MQCMDOPTS *opts, const REPLYSET *set, uint64_t ms, int complete) {
    std::string out;
    if (opts->json)
        FormatSummaryJson(&out, set->messages, set->bytes, ms, complete);
    else
        FormatSummaryText(&out, set->messages, set->bytes, ms);
    Emit(out);
}

static int RunRequest(const MQCMDOPTS *opts, MQHCONN hconn) {
    std::vector<MQBYTE> body;
    MQCHAR format[MQ_FORMAT_LENGTH];
    if (BuildRequest(opts, &body, format) != 0)
        return MQCMD_EXIT_FAILED;

    MQLONG cc, rc;
    MQHOBJ hReply = MQHO_UNUSABLE_HOBJ;
    char replyQ[MQ_Q_NAME_LENGTH + 1] = "";
    const int simple = opts->mode == MQCMD_MODE_SIMPLE;
    if (!simple) {
        MQOD od = MQOD_DEFAULT;
        MQLONG options = MQOO_FAIL_IF_QUIESCING;
        if (opts->replyQName[0] != '\0') {
            SetName(od.ObjectName, sizeof od.ObjectName, opts->replyQName, '\0');
            options |= MQOO_INPUT_AS_Q_DEF;
        } else {
            SetName(od.ObjectName, sizeof od.ObjectName, MQCMD_MODEL_QUEUE, '\0');
            SetName(od.DynamicQName, sizeof od.DynamicQName, "MQCMD.*", '\0');
            options |= MQOO_INPUT_EXCLUSIVE;
        }
        MQOPEN(hconn, &od, options, &hReply, &cc, &rc);
        if (cc == MQCC_FAILED) {
            ReportMqFailure("MQOPEN", opts->replyQName[0] ? opts->replyQName : MQCMD_MODEL_QUEUE,
                            rc);
            return MQCMD_EXIT_FAILED;
        }
        TrimName(od.ObjectName, sizeof od.ObjectName, replyQ);
    }

    MQOD od = MQOD_DEFAULT;
    SetName(od.ObjectName, sizeof od.ObjectName, opts->queueName, '\0');
    MQMD md = MQMD_DEFAULT;
    memcpy(md.Format, format, MQ_FORMAT_LENGTH);
    md.MsgType = simple ? MQMT_DATAGRAM : MQMT_REQUEST;
    md.Report = opts->report;
    memcpy(md.MsgId, opts->msgId, sizeof md.MsgId);
    memcpy(md.CorrelId, opts->correlId, sizeof md.CorrelId);
    SetName(md.ReplyToQ, sizeof md.ReplyToQ, replyQ, ' ');
    SetName(md.ReplyToQMgr, sizeof md.ReplyToQMgr, simple ? "" : opts->replyQMgr, ' ');
    MQPMO pmo = MQPMO_DEFAULT;
    pmo.Options = MQPMO_NO_SYNCPOINT | MQPMO_FAIL_IF_QUIESCING;
    if (opts->user[0] != '\0') {
        SetName(md.UserIdentifier, sizeof md.UserIdentifier, opts->user, ' ');
        pmo.Options |= MQPMO_SET_IDENTITY_CONTEXT;
    }

    const uint64_t startMs = PLMonotonicMs();
    MQPUT1(hconn, &od, &md, &pmo, (MQLONG)body.size(), body.data(), &cc, &rc);
    if (cc == MQCC_FAILED) {
        ReportMqFailure("MQPUT1", opts->queueName, rc);
        if (hReply != MQHO_UNUSABLE_HOBJ)
            MQCLOSE(hconn, &hReply, MQCO_NONE, &cc, &rc);
        return MQCMD_EXIT_FAILED;
    }
    if (simple) {
        std::string out;
        if (opts->json) {
            out.append("{\"put\":{\"queue\":");
            AppendJsonString(&out, opts->queueName, strlen(opts->queueName));
            out.append(",\"length\":" + std::to_string(body.size()) + ",\"msgId\":\"");
            AppendHex(&out, md.MsgId, sizeof md.MsgId);
            out.append("\"}}\n");
        } else {
            out.append("Put " + std::to_string(body.size()) + " bytes to " + opts->queueName +
                       ", MsgId ");
            AppendHex(&out, md.MsgId, sizeof md.MsgId);
            out.push_back('\n');
        }
        Emit(out);
        return MQCMD_EXIT_COMPLETE;
    }

    /* replies carry CorrelId = the request's CorrelId with PASS_CORREL_ID,
     * else the request's MsgId; an all-zero CorrelId cannot be matched on */
    MQBYTE expected[24];
    if (opts->report & MQRO_PASS_CORREL_ID)
        memcpy(expected, md.CorrelId, sizeof expected);
    else
        memcpy(expected, md.MsgId, sizeof expected);
    static const MQBYTE none[24] = {0};
    const MQBYTE *match = memcmp(expected, none, sizeof none) != 0 ? expected : nullptr;

    REPLYSET set;
    StartReplySet(&set, startMs, opts->waitMs, opts->lingerMs);
    std::vector<MQBYTE> buffer(FIRST_BUFFER_SIZE);
    int result = MQCMD_EXIT_FAILED;
    for (;;) {
        uint64_t waitMs = 0;
        int state = NextReplyWait(&set, PLMonotonicMs(), &waitMs);
        if (state == REPLYSET_DONE) {
            result = MQCMD_EXIT_COMPLETE;
            break;
        }
        if (state == REPLYSET_EXPIRED) {
            result = MQCMD_EXIT_EXPIRED;
            break;
        }
        MQMD rmd;
        size_t length = 0;
        if (GetMessage(hconn, hReply, &rmd, match, waitMs, &buffer, &length, &rc) == MQCC_FAILED) {
            if (rc == MQRC_NO_MSG_AVAILABLE)
                continue;
            ReportMqFailure("MQGET", replyQ, rc);
            result = MQCMD_EXIT_FAILED;
            break;
        }
        NoteReply(&set, PLMonotonicMs(), rmd.Format, buffer.data(), length);
        PrintMessage(opts, set.messages, &rmd, buffer.data(), length);
    }
    uint64_t endMs = set.messages > 0 ? set.lastReplyMs : PLMonotonicMs();
    PrintSummary(opts, &set, endMs - startMs, result == MQCMD_EXIT_COMPLETE);
    if (result == MQCMD_EXIT_EXPIRED)
        fprintf(stderr, "mqcmd: the replies were not complete within %.3f seconds\n",
                (double)opts->waitMs / 1000.0);
    MQCLOSE(hconn, &hReply, MQCO_NONE, &cc, &rc);
    return result;
}

/* get: every message on the queue; with --wait, wait that long for the first. */
static int RunGet(const MQCMDOPTS *opts, MQHCONN hconn) {
    MQOD od = MQOD_DEFAULT;
    SetName(od.ObjectName, sizeof od.ObjectName, opts->queueName, '\0');
    MQHOBJ hobj = MQHO_UNUSABLE_HOBJ;
    MQLONG cc, rc;
    MQOPEN(hconn, &od, MQOO_INPUT_AS_Q_DEF | MQOO_FAIL_IF_QUIESCING, &hobj, &cc, &rc);
    if (cc == MQCC_FAILED) {
        ReportMqFailure("MQOPEN", opts->queueName, rc);
        return MQCMD_EXIT_FAILED;
    }
    const uint64_t startMs = PLMonotonicMs();
    REPLYSET set;
    StartReplySet(&set, startMs, opts->waitMs, 0);
    std::vector<MQBYTE> buffer(FIRST_BUFFER_SIZE);
    int result = MQCMD_EXIT_COMPLETE;
    for (;;) {
        MQMD md;
        size_t length = 0;
        uint64_t waitMs = 0;
        if (set.messages == 0) {
            uint64_t now = PLMonotonicMs();
            waitMs = set.deadlineMs > now ? set.deadlineMs - now : 0;
        }
        if (GetMessage(hconn, hobj, &md, nullptr, waitMs, &buffer, &length, &rc) == MQCC_FAILED) {
            if (rc == MQRC_NO_MSG_AVAILABLE) {
                if (set.messages == 0 && opts->waitMs > 0) {
                    if (PLMonotonicMs() < set.deadlineMs)
                        continue;
                    result = MQCMD_EXIT_EXPIRED;
                }
                break;
            }
            ReportMqFailure("MQGET", opts->queueName, rc);
            result = MQCMD_EXIT_FAILED;
            break;
        }
        NoteReply(&set, PLMonotonicMs(), md.Format, buffer.data(), length);
        PrintMessage(opts, set.messages, &md, buffer.data(), length);
    }
    PrintSummary(opts, &set, PLMonotonicMs() - startMs, result == MQCMD_EXIT_COMPLETE);
    MQCLOSE(hconn, &hobj, MQCO_NONE, &cc, &rc);
    return result;
}

/* put: one text message, no reply-to queue. */
static int PutText(const MQCMDOPTS *opts, MQHCONN hconn) {
    std::vector<MQBYTE> body;
    MQCHAR format[MQ_FORMAT_LENGTH];
    if (BuildRequest(opts, &body, format) != 0)
        return MQCMD_EXIT_FAILED;
    MQOD od = MQOD_DEFAULT;
    SetName(od.ObjectName, sizeof od.ObjectName, opts->queueName, '\0');
    MQMD md = MQMD_DEFAULT;
    memcpy(md.Format, format, MQ_FORMAT_LENGTH);
    md.MsgType = MQMT_DATAGRAM;
    md.Report = opts->report;
    memcpy(md.MsgId, opts->msgId, sizeof md.MsgId);
    memcpy(md.CorrelId, opts->correlId, sizeof md.CorrelId);
    SetName(md.ReplyToQ, sizeof md.ReplyToQ, "", ' ');
    SetName(md.ReplyToQMgr, sizeof md.ReplyToQMgr, "", ' ');
    MQPMO pmo = MQPMO_DEFAULT;
    pmo.Options = MQPMO_NO_SYNCPOINT | MQPMO_FAIL_IF_QUIESCING;
    if (opts->user[0] != '\0') {
        SetName(md.UserIdentifier, sizeof md.UserIdentifier, opts->user, ' ');
        pmo.Options |= MQPMO_SET_IDENTITY_CONTEXT;
    }
    MQLONG cc, rc;
    MQPUT1(hconn, &od, &md, &pmo, (MQLONG)body.size(), body.data(), &cc, &rc);
    if (cc == MQCC_FAILED) {
        ReportMqFailure("MQPUT1", opts->queueName, rc);
        return MQCMD_EXIT_FAILED;
    }
    std::string out =
        "Put " + std::to_string(body.size()) + " bytes to " + opts->queueName + ", MsgId ";
    AppendHex(&out, md.MsgId, sizeof md.MsgId);
    out.push_back('\n');
    Emit(out);
    return MQCMD_EXIT_COMPLETE;
}

int main(int argc, char **argv) {
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "--help") == 0 ||
            strcmp(argv[i], "-?") == 0) {
            fputs(MqcmdUsage, stdout);
            return MQCMD_EXIT_COMPLETE;
        }
    }
    MQCMDOPTS opts;
    char err[300];
    if (ParseMqcmdOptions(argc, argv, &opts, err, sizeof err) != 0) {
        fprintf(stderr, "mqcmd: %s\n%s", err, MqcmdUsage);
        return MQCMD_EXIT_FAILED;
    }

    MQCHAR qmgr[MQ_Q_MGR_NAME_LENGTH];
    SetName(qmgr, sizeof qmgr, opts.qmgrName, ' ');
    MQHCONN hconn = MQHC_UNUSABLE_HCONN;
    MQLONG cc, rc;
    MQCONN(qmgr, &hconn, &cc, &rc);
    if (cc == MQCC_FAILED) {
        ReportMqFailure("MQCONN", opts.qmgrName[0] ? opts.qmgrName : "(default)", rc);
        return MQCMD_EXIT_FAILED;
    }

    int result;
    if (opts.mode == MQCMD_MODE_GET)
        result = RunGet(&opts, hconn);
    else if (opts.mode == MQCMD_MODE_PUT)
        result = PutText(&opts, hconn);
    else
        result = RunRequest(&opts, hconn);
    MQDISC(&hconn, &cc, &rc);
    return result;
}
