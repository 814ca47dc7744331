/* mqcmd_options.h -- the requester's command line.
 *
 * mqcmd [-m QM] [-q QUEUE] [--wait SECONDS] [--reply-q NAME] [--reply-qmgr NAME]
 *       [--report PASS_MSG_ID,PASS_CORREL_ID] [--msgid HEX] [--correlid HEX] [--json]
 *       [--linger MS] [--user NAME] [--format FORMAT]
 *       ( --mqsc 'TEXT' | --escape 'TEXT' | --pcf COMMAND [PARAM=VALUE ...]
 *         | --raw-file FILE | --simple TEXT )
 * mqcmd get -q QUEUE [-m QM] [--wait SECONDS] [--json]
 * mqcmd put -q QUEUE [-m QM] [--format FORMAT] TEXT
 *
 * Owns: nothing global. An MQCMDOPTS borrows the argv strings it points to.
 * Threads: any.
 */
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "mqconst/mqi.h"

constexpr size_t MQCMD_NAME_SIZE = 49; /* a 48-character MQ name and its NUL */
constexpr size_t MQCMD_USER_SIZE = 13; /* a 12-character user identifier and its NUL */
constexpr char MQCMD_DEFAULT_QUEUE[] = "CORVEL.TORVIK.COMMAND.QUEUE";
constexpr char MQCMD_MODEL_QUEUE[] = "SYSTEM.DEFAULT.MODEL.QUEUE";
constexpr uint64_t MQCMD_DEFAULT_WAIT_MS = 30000;
constexpr uint64_t MQCMD_DEFAULT_LINGER_MS = 500;

enum {
    MQCMD_MODE_NONE = 0,
    MQCMD_MODE_MQSC,   /* --mqsc: text in format MQSTR (or --format) */
    MQCMD_MODE_ESCAPE, /* --escape: MQCMD_ESCAPE around the text */
    MQCMD_MODE_PCF,    /* --pcf COMMAND PARAM=VALUE ... */
    MQCMD_MODE_RAW,    /* --raw-file: the file's bytes, format MQADMIN (or --format) */
    MQCMD_MODE_SIMPLE, /* --simple: text, blank reply-to queue, no wait */
    MQCMD_MODE_GET,    /* get: read and print every message on a queue */
    MQCMD_MODE_PUT     /* put: one text message without reply-to queue */
};

struct MQCMDOPTS {
    int mode;                         /* MQCMD_MODE_* */
    char qmgrName[MQCMD_NAME_SIZE];   /* -m, empty: the default queue manager */
    char queueName[MQCMD_NAME_SIZE];  /* -q */
    char replyQName[MQCMD_NAME_SIZE]; /* --reply-q, empty: a temporary dynamic queue */
    char replyQMgr[MQCMD_NAME_SIZE];  /* --reply-qmgr, may be empty */
    char user[MQCMD_USER_SIZE];       /* --user, empty: default context */
    uint64_t waitMs;                  /* --wait in milliseconds */
    int waitGiven;                    /* 1 when --wait was on the line */
    uint64_t lingerMs;                /* --linger */
    int json;                         /* --json */
    MQLONG report;                    /* --report, ORed MQRO_ options */
    MQBYTE msgId[24];                 /* --msgid, zeros when not given */
    MQBYTE correlId[24];              /* --correlid, zeros when not given */
    MQCHAR format[8];                 /* --format, blank-padded */
    int formatGiven;                  /* 1 when --format was on the line */
    const char *text;                 /* the text of --mqsc, --escape, --simple, put */
    const char *rawFile;              /* --raw-file */
    const char *pcfCommand;           /* --pcf COMMAND */
    std::vector<const char *> params; /* the PARAM=VALUE words of --pcf, in order */
};

/* Read argv[1..argc) into *opts (reset first). Returns 0, or 1 with err
 * (errSize bytes, terminated) saying what is wrong; opts is then partly set.
 * Checks: one command form, names fit their fields, numbers are numbers,
 * get/put have -q and put its TEXT, --pcf words are NAME=VALUE. */
int ParseMqcmdOptions(int argc, const char *const *argv, MQCMDOPTS *opts, char *err,
                      size_t errSize);

/* The usage text, lines ending in newlines. */
extern const char MqcmdUsage[];
