/* settings.h -- the global Settings record, its defaults and the
 * configuration file TORVIK.CFG.
 *
 * Owns: Settings (defined in settings.cpp), the key table and its was-set
 * flags.
 * Threads: start-up fills Settings on the main thread before any other
 * thread exists; afterwards the integer and string fields are only read.
 * The flags word and certEvent change while threads run and are atomics (read them without a lock;
 * change flags with SetFlags/ClearFlags).
 */
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "mqconst/mqi.h"
#include "platform/platform.h"

/* Bits of Settings.flags. */
constexpr uint32_t FLAG_ZOS = 0x1;              /* queue manager runs on z/OS */
constexpr uint32_t FLAG_COMPRESS = 0x2;         /* key compress */
constexpr uint32_t FLAG_SERVICE = 0x4;          /* no console: -k or stdout not a terminal */
constexpr uint32_t FLAG_CONFIG_GIVEN = 0x8;     /* option -f given */
constexpr uint32_t FLAG_COALESCE = 0x10;        /* key coalesce */
constexpr uint32_t FLAG_LOGFAILFATAL = 0x40;    /* key logfailfatal */
constexpr uint32_t FLAG_SIMPLE_COMMAND = 0x100; /* option -c */
constexpr uint32_t FLAG_TRIGGERED = 0x200;      /* started by a trigger message */
constexpr uint32_t FLAG_REPLYQINQ = 0x400;      /* key replyqinq */
constexpr uint32_t FLAG_CERTEV_DISABLED_NOTED = 0x800;
constexpr uint32_t FLAG_CERTEV_ENABLED_NOTED = 0x1000;
constexpr uint32_t FLAG_CERTFREQ_MINUTES = 0x2000; /* key certfreqasmins */
constexpr uint32_t FLAG_CERTDISPLAY = 0x4000;      /* key certdisplay */
constexpr uint32_t FLAG_DEFAULTS =
    0x4452; /* compress, coalesce, logfailfatal, replyqinq, certdisplay */

/* Values of key certevent. */
constexpr int32_t CERTEVENT_NO = 1;
constexpr int32_t CERTEVENT_ASQMGR = 2;
constexpr int32_t CERTEVENT_YES = 4;
constexpr int32_t CERTEVENT_DISABLED = 8; /* set only by TORVIK (client connection) */

/* Field sizes, terminating zero included. */
constexpr size_t CFG_NAME_SIZE = MQ_Q_MGR_NAME_LENGTH + 1; /* queue and queue manager names */
constexpr size_t CFG_KEY_NAME_SIZE = MQ_Q_NAME_LENGTH; /* names set by the file: 47 characters */
constexpr size_t CFG_FILE_SIZE = 300;       /* logpath (299 characters), program directory */
constexpr size_t CFG_ARG_SIZE = 300 + 1;    /* -f file name and -c command: 300 characters */
constexpr size_t CFG_TOKEN_MAX = 10000;     /* longest token of the configuration file */
constexpr size_t CFG_ERROR_TEXT_SIZE = 112; /* "key = value" quoted by CVLA007E */

struct SETTINGS {
    std::atomic<uint32_t> flags{FLAG_DEFAULTS};

    /* Integer keys, in the unit each key names. */
    int32_t maxAge = 10;          /* seconds */
    int32_t maxMsgSize = 1048576; /* bytes */
    int32_t sleepTime = 1;        /* seconds */
    int32_t reqChkDelay = 10;     /* seconds */
    int32_t hobjChkDelay = 150;   /* seconds */
    int32_t reportInt = 60;       /* minutes */
    int32_t retryCount = 10;
    int32_t retryInt = 1;  /* seconds */
    int32_t hobjTtl = 300; /* seconds */
    int32_t hobjMax = 200; /* reply-queue handles kept open at most */
    int32_t numLogFiles = 3;
    int32_t maxLogSize = 1048576; /* bytes */
    int32_t discInt = 0;          /* minutes; 60 when triggered */
    std::atomic<int32_t> certEvent{CERTEVENT_ASQMGR};
    int32_t certFreq = 24;   /* hours (minutes with certfreqasmins) */
    int32_t certThresh = 30; /* days */
    int32_t verbosity = 1;   /* 0..3, VERBOSITY_* of log/output.h */

    /* Names, zero-terminated, cut to fit. */
    char qmgrName[CFG_NAME_SIZE] = "";
    char inputQName[CFG_NAME_SIZE] = "CORVEL.TORVIK.COMMAND.QUEUE";
    char commandQName[CFG_NAME_SIZE] = "SYSTEM.ADMIN.COMMAND.QUEUE";
    char modelQName[CFG_NAME_SIZE] = "SYSTEM.DEFAULT.MODEL.QUEUE";
    char tempQPrefix[CFG_NAME_SIZE] = "CORVEL.TORVIK.*";
    char actualReplyQName[CFG_NAME_SIZE] = ""; /* filled when the reply queue opens */
    char logPath[CFG_FILE_SIZE] = "";
    char configFileName[CFG_ARG_SIZE] = ""; /* empty: programDir + TORVIK.CFG */
    char simpleCommand[CFG_ARG_SIZE] = "";
    char programDir[CFG_FILE_SIZE] = ""; /* no trailing separator */
};

extern SETTINGS Settings;

/* Put every field of Settings back to its built-in default and forget
 * which keys the file set. Start-up and tests. */
void InitSettings(void);

/* Flags word helpers (relaxed atomics). */
inline int FlagIsSet(uint32_t bits) {
    return (Settings.flags.load(std::memory_order_relaxed) & bits) != 0;
}
inline void SetFlags(uint32_t bits) {
    Settings.flags.fetch_or(bits, std::memory_order_relaxed);
}
inline void ClearFlags(uint32_t bits) {
    Settings.flags.fetch_and(~bits, std::memory_order_relaxed);
}

/* What ReadConfigFile found wrong, handed to the caller's reporter in file
 * order; the caller writes the messages. */
enum {
    CFG_CANNOT_OPEN = 1,  /* text: the file name (-f given); err: system error code */
    CFG_UNRECOGNISED = 2, /* text: the unknown key, or "key = value" of a bad value,
                             cut to CFG_ERROR_TEXT_SIZE - 1 characters */
};
typedef void (*CFGPROBLEMFN)(int problem, const char *text, int err);

/* Read the configuration file: Settings.configFileName when -f gave one,
 * else programDir + separator + "TORVIK.CFG". Unknown keys and bad values
 * are skipped and handed to reportProblem; so is a file named with -f that
 * cannot be opened (an absent default file is not a problem). Returns 1
 * when at least one key was set, else 0. */
int ReadConfigFile(CFGPROBLEMFN reportProblem);

/* The list of every key the file set (in table order, with its value and
 * unit) whose report condition holds, "key = value unit; ...", into text
 * (size bytes, always terminated, cut to fit). logStreamOpen 0 leaves out
 * the keys of the log files. */
void BuildConfigOverrides(char *text, size_t size, int logStreamOpen);

/* Read the next token of a configuration stream into buffer, which holds at
 * least CFG_TOKEN_MAX + 1 bytes; the token is zero-terminated. *quoted is set
 * to 1 for a quoted string, else 0. Returns the token's length; 0 with
 * *quoted 0 means end of file (an empty quoted string gives 0 with *quoted 1). */
int ReadToken(FILE *stream, int *quoted, char *buffer);

/* 1 when the key of that name was set by the last ReadConfigFile (tests). */
int ConfigKeyWasSet(const char *name);

/* ---- Fixed text fields -------------------------------------------------- */

/* Copy src into the field dst of size bytes, cut to size - 1 characters and
 * terminated. Returns 1 when src was cut, else 0. */
int CopyField(char *dst, size_t size, const char *src);

/* Characters of a name field of size bytes (an MQ name, blank-padded or
 * ended by a zero byte) without its trailing blanks. */
size_t FieldLength(const char *field, size_t size);

/* Copy text into a field of size bytes without a terminator (an MQ name
 * field), cut to the field and filled up with pad. */
void CopyPadded(char *field, size_t size, const char *text, char pad);

/* Append a formatted text at buf[at] of a buffer of size bytes, cut at
 * size - 1 and terminated. Returns the new end. */
size_t AppendText(char *buf, size_t size, size_t at, const char *fmt, ...) PL_PRINTF_FORMAT(4, 5);
