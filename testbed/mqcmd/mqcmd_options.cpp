/* mqcmd_options.cpp -- the requester's command line.
 *
 * Owns: the usage text. Threads: any.
 */
#include "mqcmd_options.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "mqcmd_build.h"
#include "platform/platform.h"

const char MqcmdUsage[] =
    "usage: mqcmd [-m QM] [-q QUEUE] [--wait SECONDS] [--reply-q NAME] [--reply-qmgr NAME]\n"
    "             [--report PASS_MSG_ID,PASS_CORREL_ID] [--msgid HEX] [--correlid HEX] [--json]\n"
    "             [--linger MS] [--user NAME] [--format FORMAT]\n"
    "             ( --mqsc 'TEXT' | --escape 'TEXT' | --pcf COMMAND [PARAM=VALUE ...]\n"
    "               | --raw-file FILE | --simple TEXT )\n"
    "       mqcmd get -q QUEUE [-m QM] [--wait SECONDS] [--json]\n"
    "       mqcmd put -q QUEUE [-m QM] [--format FORMAT] TEXT\n"
    "Sends one command and prints every reply. -q defaults to CORVEL.TORVIK.COMMAND.QUEUE,\n"
    "--wait to 30 seconds (get: 0, read what is there; with --wait, wait that long for the\n"
    "first message), --linger to 500 ms, the reply queue to a temporary dynamic queue.\n"
    "PARAM is an MQ constant name or a number, NAME:TYPE=VALUE forces a type (int, int64,\n"
    "string, intlist, int64list, bytes). Exit code 0 complete, 2 wait expired, 1 failure.\n";

static int Usage(char *err, size_t errSize, const char *fmt, ...) PL_PRINTF_FORMAT(3, 4);
static int CopyField(char *dst, size_t size, const char *src);
static int ParseSeconds(const char *text, uint64_t *ms);
static int ParseMs(const char *text, uint64_t *ms);

static int Usage(char *err, size_t errSize, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(err, errSize, fmt, ap);
    va_end(ap);
    return 1;
}

/* Copy src into dst (size bytes with the NUL). Returns 0, or 1 when too long. */
static int CopyField(char *dst, size_t size, const char *src) {
    size_t len = strlen(src);
    if (len >= size)
        return 1;
    memcpy(dst, src, len + 1);
    return 0;
}

/* Seconds with an optional fraction ("30", "0.5") into milliseconds, at most
 * 10^7 seconds. Returns 0 or 1. */
static int ParseSeconds(const char *text, uint64_t *ms) {
    uint64_t whole = 0, frac = 0, scale = 1000;
    const char *p = text;
    if (!isdigit((unsigned char)*p) && *p != '.')
        return 1;
    for (; isdigit((unsigned char)*p); p++) {
        whole = whole * 10 + (uint64_t)(*p - '0');
        if (whole > 10000000)
            return 1;
    }
    if (*p == '.') {
        p++;
        for (; isdigit((unsigned char)*p); p++) {
            scale /= 10;
            frac += (uint64_t)(*p - '0') * scale;
        }
    }
    if (*p != '\0' || p == text)
        return 1;
    *ms = whole * 1000 + frac;
    return 0;
}

/* Whole milliseconds, at most 10^9. Returns 0 or 1. */
static int ParseMs(const char *text, uint64_t *ms) {
    uint64_t v = 0;
    const char *p = text;
    if (!isdigit((unsigned char)*p))
        return 1;
    for (; isdigit((unsigned char)*p); p++) {
        v = v * 10 + (uint64_t)(*p - '0');
        if (v > 1000000000)
            return 1;
    }
    if (*p != '\0')
        return 1;
    *ms = v;
    return 0;
}

int ParseMqcmdOptions(int argc, const char *const *argv, MQCMDOPTS *opts, char *err,
                      size_t errSize) {
    opts->mode = MQCMD_MODE_NONE;
    opts->qmgrName[0] = '\0';
    CopyField(opts->queueName, sizeof opts->queueName, MQCMD_DEFAULT_QUEUE);
    opts->replyQName[0] = '\0';
    opts->replyQMgr[0] = '\0';
    opts->user[0] = '\0';
    opts->waitMs = MQCMD_DEFAULT_WAIT_MS;
    opts->waitGiven = 0;
    opts->lingerMs = MQCMD_DEFAULT_LINGER_MS;
    opts->json = 0;
    opts->report = MQRO_NONE;
    memset(opts->msgId, 0, sizeof opts->msgId);
    memset(opts->correlId, 0, sizeof opts->correlId);
    memset(opts->format, ' ', sizeof opts->format);
    opts->formatGiven = 0;
    opts->text = nullptr;
    opts->rawFile = nullptr;
    opts->pcfCommand = nullptr;
    opts->params.clear();
    err[0] = '\0';

    int i = 1;
    int queueGiven = 0;
    if (argc > 1 && strcmp(argv[1], "get") == 0) {
        opts->mode = MQCMD_MODE_GET;
        i = 2;
    } else if (argc > 1 && strcmp(argv[1], "put") == 0) {
        opts->mode = MQCMD_MODE_PUT;
        i = 2;
    }
    const int tool = opts->mode; /* get, put or none */

    for (; i < argc; i++) {
        const char *arg = argv[i];
        /* --name=value is accepted as well as --name value */
        char name[32];
        const char *value = nullptr;
        const char *eq = strchr(arg, '=');
        if (arg[0] == '-' && arg[1] == '-' && eq != nullptr && (size_t)(eq - arg) < sizeof name) {
            memcpy(name, arg, (size_t)(eq - arg));
            name[eq - arg] = '\0';
            value = eq + 1;
        } else if (CopyField(name, sizeof name, arg) != 0) {
            name[0] = '\0';
        }

        if (arg[0] != '-') {
            if (tool == MQCMD_MODE_PUT && opts->text == nullptr) {
                opts->text = arg;
                continue;
            }
            if (opts->mode == MQCMD_MODE_PCF && strchr(arg, '=') != nullptr) {
                opts->params.push_back(arg);
                continue;
            }
            return Usage(err, errSize, "unexpected word '%s'", arg);
        }
        if (strcmp(name, "--json") == 0) {
            if (value != nullptr)
                return Usage(err, errSize, "--json takes no value");
            opts->json = 1;
            continue;
        }

        /* every other option takes a value */
        static const char *const known[] = {"-m",           "-q",       "--wait",     "--reply-q",
                                            "--reply-qmgr", "--report", "--msgid",    "--correlid",
                                            "--linger",     "--user",   "--format",   "--mqsc",
                                            "--escape",     "--pcf",    "--raw-file", "--simple"};
        int isKnown = 0;
        for (const char *k : known)
            if (strcmp(name, k) == 0)
                isKnown = 1;
        if (!isKnown)
            return Usage(err, errSize, "unknown option '%s'", arg);
        if (value == nullptr) {
            if (i + 1 >= argc)
                return Usage(err, errSize, "option %s needs a value", name);
            value = argv[++i];
        }

        int isForm = strcmp(name, "--mqsc") == 0 || strcmp(name, "--escape") == 0 ||
                     strcmp(name, "--pcf") == 0 || strcmp(name, "--raw-file") == 0 ||
                     strcmp(name, "--simple") == 0;
        if (isForm) {
            if (tool != MQCMD_MODE_NONE)
                return Usage(err, errSize, "%s cannot be used with %s", name,
                             tool == MQCMD_MODE_GET ? "get" : "put");
            if (opts->mode != MQCMD_MODE_NONE)
                return Usage(err, errSize,
                             "only one of --mqsc, --escape, --pcf, --raw-file, "
                             "--simple may be given");
        }
        char field[80];
        if (strcmp(name, "-m") == 0) {
            if (CopyField(opts->qmgrName, sizeof opts->qmgrName, value) != 0)
                return Usage(err, errSize, "queue manager name '%s' is longer than 48", value);
        } else if (strcmp(name, "-q") == 0) {
            if (value[0] == '\0' || CopyField(opts->queueName, sizeof opts->queueName, value) != 0)
                return Usage(err, errSize, "queue name '%s' must have 1 to 48 characters", value);
            queueGiven = 1;
        } else if (strcmp(name, "--reply-q") == 0) {
            if (value[0] == '\0' ||
                CopyField(opts->replyQName, sizeof opts->replyQName, value) != 0)
                return Usage(err, errSize, "reply queue name '%s' must have 1 to 48 characters",
                             value);
        } else if (strcmp(name, "--reply-qmgr") == 0) {
            if (CopyField(opts->replyQMgr, sizeof opts->replyQMgr, value) != 0)
                return Usage(err, errSize, "reply queue manager name '%s' is longer than 48",
                             value);
        } else if (strcmp(name, "--user") == 0) {
            if (value[0] == '\0' || CopyField(opts->user, sizeof opts->user, value) != 0)
                return Usage(err, errSize, "user '%s' must have 1 to 12 characters", value);
        } else if (strcmp(name, "--wait") == 0) {
            if (ParseSeconds(value, &opts->waitMs) != 0)
                return Usage(err, errSize, "--wait '%s' is not a number of seconds", value);
            opts->waitGiven = 1;
        } else if (strcmp(name, "--linger") == 0) {
            if (ParseMs(value, &opts->lingerMs) != 0)
                return Usage(err, errSize, "--linger '%s' is not a number of milliseconds", value);
        } else if (strcmp(name, "--report") == 0) {
            if (ParseReportOptions(value, &opts->report, field, sizeof field) != 0)
                return Usage(err, errSize, "--report: %s", field);
        } else if (strcmp(name, "--msgid") == 0) {
            if (ParseHexId(value, opts->msgId, field, sizeof field) != 0)
                return Usage(err, errSize, "--msgid: %s", field);
        } else if (strcmp(name, "--correlid") == 0) {
            if (ParseHexId(value, opts->correlId, field, sizeof field) != 0)
                return Usage(err, errSize, "--correlid: %s", field);
        } else if (strcmp(name, "--format") == 0) {
            if (ParseFormatName(value, opts->format, field, sizeof field) != 0)
                return Usage(err, errSize, "--format: %s", field);
            opts->formatGiven = 1;
        } else if (strcmp(name, "--mqsc") == 0) {
            opts->mode = MQCMD_MODE_MQSC;
            opts->text = value;
        } else if (strcmp(name, "--escape") == 0) {
            opts->mode = MQCMD_MODE_ESCAPE;
            opts->text = value;
        } else if (strcmp(name, "--simple") == 0) {
            opts->mode = MQCMD_MODE_SIMPLE;
            opts->text = value;
        } else if (strcmp(name, "--raw-file") == 0) {
            opts->mode = MQCMD_MODE_RAW;
            opts->rawFile = value;
        } else if (strcmp(name, "--pcf") == 0) {
            opts->mode = MQCMD_MODE_PCF;
            opts->pcfCommand = value;
        }
    }

    if (tool == MQCMD_MODE_GET || tool == MQCMD_MODE_PUT) {
        if (!queueGiven)
            return Usage(err, errSize, "%s needs -q QUEUE", tool == MQCMD_MODE_GET ? "get" : "put");
        if (tool == MQCMD_MODE_PUT && opts->text == nullptr)
            return Usage(err, errSize, "put needs the TEXT of the message");
        if (tool == MQCMD_MODE_GET && !opts->waitGiven)
            opts->waitMs = 0;
        return 0;
    }
    if (opts->mode == MQCMD_MODE_NONE)
        return Usage(err, errSize,
                     "one of --mqsc, --escape, --pcf, --raw-file or --simple is needed");
    return 0;
}
