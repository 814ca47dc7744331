/* startup.cpp -- TORVIK's program entry: trigger message, options, program
 * directory, configuration, log file, banner, then the agent (StartAgent)
 * and the common end, Shutdown.
 *
 * Owns: the trigger argument vector while the program runs.
 * Threads: main thread; start-up runs before any other thread exists.
 */
#include "core/startup.h"

#include <cstddef>
#include <cstring>

#include "cert/certcmd.h"
#include "config/settings.h"
#include "core/agent.h"
#include "core/workers.h"
#include "log/status.h"
#include "log/cs.h"
#include "log/output.h"
#include "mqconst/mqi.h"
#include "mqsc/mqsc_render.h"
#include "platform/platform.h"
#include "routing/request.h"

/* The trigger's option words and the vector that points into them. At most
 * one word per two bytes of the text, plus the program name and a null. */
struct TRIGPARMS {
    char *argv[1 + TRIGPARMS_SIZE / 2 + 1];
    char text[TRIGPARMS_SIZE];
};

static_assert(sizeof(MQTMC2) == TMC2_LENGTH, "MQTMC2 is 732 bytes");
static_assert(offsetof(MQTMC2, QName) == TMC2_QNAME_OFFSET, "QName offset");
static_assert(offsetof(MQTMC2, TriggerData) == TMC2_TRIGGERDATA_OFFSET, "TriggerData offset");
static_assert(offsetof(MQTMC2, UserData) == TMC2_USERDATA_OFFSET, "UserData offset");
static_assert(offsetof(MQTMC2, QMgrName) == TMC2_QMGRNAME_OFFSET, "QMgrName offset");

static int ApplyOption(char letter, const char *value);
static int VerbosityFromText(const char *value);
static size_t TrimmedLength(const char *field, size_t len);
static void CopyName(char *dst, size_t size, const char *src, size_t len);
static void ReportConfigProblem(int problem, const char *text, int err);
static MQLONG QueueCheckRepository(REQUEST *req);
static void CheckRepositoryCall(WORKERCALL *call);

const char *BuildDate(void) {
    return __DATE__;
}

void WriteBanner(int flags) {
    OutputMessage(0, flags,
                  "CVLA001I Corvel Software TORVIK : Command Server Agent for IBM MQ\n"
                  "  Version V%s Build Date:%s\n",
                  TORVIK_VERSION, BuildDate());
}

void ShowUsage(void) {
    WriteBanner(OUTF_NORMAL | OUTF_NO_DATE);
    OutputMessage(0, OUTF_NORMAL | OUTF_NO_DATE,
                  "CVLA006E Usage: TORVIK <Optional flags as below>\n"
                  "  [-m <Queue Manager Name>]\n"
                  "  [-q <Input Queue Name>  ]\n"
                  "  [-f <Config File Name>  ]\n"
                  "  [-k                     ] Running as a service\n"
                  "  [-c <Simple command>    ]\n"
                  "  [-v {Quiet|Low|Med|High}] Verbosity level\n");
    UsageShown.store(1, std::memory_order_relaxed);
}

/* ---- Options ------------------------------------------------------------ */

/* The verbosity a -v value names: its first letter (either case) picks
 * Quiet, Low, Medium or High, and the rest must go on spelling that word
 * ("h", "Med", "LOW" and "medium" are understood, "Loud" is not). Returns
 * VERBOSITY_QUIET..VERBOSITY_HIGH, or -1. */
static int VerbosityFromText(const char *value) {
    static const char *const words[4] = {"quiet", "low", "medium", "high"};
    for (int level = 0; level < 4; level++) {
        const char *w = words[level];
        size_t i = 0;
        while (value[i] != '\0' && w[i] != '\0' &&
               (value[i] == w[i] || value[i] == w[i] - ('a' - 'A')))
            i++;
        if (i > 0 && value[i] == '\0')
            return level;
    }
    return -1;
}

/* Apply one option; OPTIONS_END when it ends start-up (usage shown). */
static int ApplyOption(char letter, const char *value) {
    switch (letter) {
        case 'c':
            CopyField(Settings.simpleCommand, sizeof Settings.simpleCommand, value);
            SetFlags(FLAG_SIMPLE_COMMAND);
            break;
        case 'f':
            CopyField(Settings.configFileName, sizeof Settings.configFileName, value);
            SetFlags(FLAG_CONFIG_GIVEN);
            break;
        case 'k':
            SetFlags(FLAG_SERVICE);
            break;
        case 'm':
            CopyField(Settings.qmgrName, sizeof Settings.qmgrName, value);
            break;
        case 'q':
            CopyField(Settings.inputQName, sizeof Settings.inputQName, value);
            break;
        case 'v': {
            int level = VerbosityFromText(value);
            if (level < 0) {
                OutputMessage(0, OUTF_NORMAL, "Sorry, don't understand verbose string '%s'\n",
                              value);
                ShowUsage();
                return OPTIONS_END;
            }
            Settings.verbosity = level;
            break;
        }
        default: /* '?' */
            ShowUsage();
            return OPTIONS_END;
    }
    return OPTIONS_OK;
}

int ParseOptions(int argc, char **argv) {
    int index = 1;  /* word being scanned */
    size_t pos = 0; /* position within it; 0: take the next word */
    const char *word = nullptr;
    for (;;) {
        if (pos == 0) {
            if (index >= argc)
                break;
            word = argv[index];
            if ((word[0] != '-' && word[0] != '/') || word[1] == '\0')
                break;
            pos = 1;
        }
        char letter = word[pos++];
        const char *found = letter == ':' ? nullptr : strchr(OPTION_STRING, letter);
        if (found == nullptr) {
            ShowUsage();
            return OPTIONS_END;
        }
        const char *value = "";
        if (found[1] == ':') {
            if (word[pos] != '\0') {
                value = word + pos;
            } else {
                index++;
                if (index >= argc) {
                    ShowUsage();
                    return OPTIONS_END;
                }
                value = argv[index];
            }
            index++;
            pos = 0;
            if (value[0] == ':')
                value++;
        } else if (word[pos] == '\0') {
            index++;
            pos = 0;
        }
        if (ApplyOption(letter, value) != OPTIONS_OK)
            return OPTIONS_END;
    }
    if (index < argc) {
        if (argv[index][0] != '?')
            OutputMessage(0, OUTF_NORMAL, "CVLA007E Unrecognised parameter '%s'\n", argv[index]);
        ShowUsage();
        return OPTIONS_END;
    }
    return OPTIONS_OK;
}

/* ---- Trigger message ---------------------------------------------------- */

/* Length of a fixed field without its trailing blanks, tabs, line ends and
 * zero bytes. */
static size_t TrimmedLength(const char *field, size_t len) {
    while (len > 0) {
        char c = field[len - 1];
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '\0')
            break;
        len--;
    }
    return len;
}

/* Copy a name field up to its first blank or zero byte, at most len
 * characters, into dst (size bytes), terminated. */
static void CopyName(char *dst, size_t size, const char *src, size_t len) {
    size_t n = 0;
    while (n < len && n + 1 < size && src[n] != ' ' && src[n] != '\0')
        n++;
    memcpy(dst, src, n);
    dst[n] = '\0';
}

int ParseTriggerMessage(const char *trigger, int *argcOut, char **argvIn, char ***argvOut) {
    /* The structure as received; a short argument reads as blanks. */
    char tmc[TMC2_LENGTH];
    CopyPadded(tmc, TMC2_LENGTH, trigger, ' ');

    TRIGPARMS *parms = static_cast<TRIGPARMS *>(CSGetMem(sizeof(TRIGPARMS)));
    if (parms == nullptr) {
        OutputMessage(0, OUTF_NORMAL, "CVLA202E Can not allocate %d bytes for a '%s' structure\n",
                      static_cast<int>(TRIGPARMS_SIZE), "TRIGPARMS");
        return 0;
    }

    CopyName(Settings.qmgrName, sizeof Settings.qmgrName, tmc + TMC2_QMGRNAME_OFFSET,
             MQ_Q_MGR_NAME_LENGTH);
    CopyName(Settings.inputQName, sizeof Settings.inputQName, tmc + TMC2_QNAME_OFFSET,
             MQ_Q_NAME_LENGTH);

    size_t triggerLen = TrimmedLength(tmc + TMC2_TRIGGERDATA_OFFSET, MQ_TRIGGER_DATA_LENGTH);
    size_t userLen = TrimmedLength(tmc + TMC2_USERDATA_OFFSET, MQ_PROCESS_USER_DATA_LENGTH);
    char *text = parms->text;
    memcpy(text, tmc + TMC2_TRIGGERDATA_OFFSET, triggerLen);
    text[triggerLen] = ' ';
    memcpy(text + triggerLen + 1, tmc + TMC2_USERDATA_OFFSET, userLen);
    size_t textLen = triggerLen + 1 + userLen;
    text[textLen] = '\0';

    int argc = 0;
    parms->argv[argc++] = argvIn[0];
    for (size_t i = 0; i < textLen;) {
        while (i < textLen && text[i] == ' ')
            text[i++] = '\0';
        if (i >= textLen)
            break;
        parms->argv[argc++] = text + i;
        while (i < textLen && text[i] != ' ')
            i++;
    }
    parms->argv[argc] = nullptr;
    *argcOut = argc;
    *argvOut = parms->argv;
    return 1;
}

void FreeTriggerArgs(char **argv) {
    /* argv is the first member of its TRIGPARMS record. */
    CSFreeMem(argv);
}

/* ---- Program directory -------------------------------------------------- */

void GetProgramDirectory(void) {
    char path[CFG_FILE_SIZE];
    int err = PLGetExecutablePath(path, sizeof path);
    if (err != 0)
        snprintf(path, sizeof path, "GetModuleName RC(%d)", err);
    const char *name = path;
    while (*name == ' ')
        name++;
    const char *separators = PL_PATH_SEPARATOR == '\\' ? ":/\\" : "/";
    const char *cut = nullptr;
    for (const char *p = name; *p; p++)
        if (strchr(separators, *p) != nullptr)
            cut = p;
    size_t len = strlen(name);
    if (cut != nullptr)
        len = static_cast<size_t>(cut - name) + (*cut == ':' ? 1 : 0);
    char dir[CFG_FILE_SIZE];
    memcpy(dir, name, len);
    dir[len] = '\0';
    CopyField(Settings.programDir, sizeof Settings.programDir, dir);
}

/* ---- Configuration ------------------------------------------------------ */

static void ReportConfigProblem(int problem, const char *text, int err) {
    if (problem == CFG_CANNOT_OPEN) {
        char errText[256];
        OutputMessage(0, OUTF_NORMAL, "CVLA203E Unable to open config file '%s' rc=%d (%s)\n", text,
                      err, PLCErrorText(err, errText, sizeof errText));
    } else {
        OutputMessage(0, OUTF_NORMAL, "CVLA007E Unrecognised parameter '%s'\n", text);
    }
}

int ReadConfiguration(void) {
    return ReadConfigFile(ReportConfigProblem);
}

void ReportConfigOverrides(void) {
    char text[OUT_TEXT_SIZE];
    BuildConfigOverrides(text, sizeof text, LogStream.load() != nullptr);
    OutputMessage(0, OUTF_NORMAL, "CVLA005I Default overrides from file '%s' in effect: %s\n",
                  Settings.configFileName, text);
}

/* ---- Start and end ------------------------------------------------------ */

void Shutdown(void) {
    ShutdownConnections();
    ReportDroppedRequests(); /* nothing answers them from here on */
    if (!FlagIsSet(FLAG_SIMPLE_COMMAND) && !UsageShown.load(std::memory_order_relaxed)) {
        StatusReport(1);
        OutputMessage(0, OUTF_NORMAL, "CVLA099I TORVIK Agent shutting down\n");
        if (LogStream.load() != nullptr)
            OutputMessage(0, OUTF_NO_ECHO, "---------------------------------------\n");
    }
    SetStopFlag();
    ShutdownWorkers();
}

/* SIGTERM, SIGINT, console close...: end as on STOP. Runs in a signal
 * handler: only the atomic store of the stop flag. */
/* The certificate module's repository runs go to the worker pool. */
static void CheckRepositoryCall(WORKERCALL *call) {
    CheckRepository(static_cast<REQUEST *>(call->argument));
}

static MQLONG QueueCheckRepository(REQUEST *req) {
    MQLONG rc = QueueCall(CheckRepositoryCall, req);
    if (rc != MQRC_NONE)
        OutputMessage(0, OUTF_NORMAL, "CVLA202E Can not allocate %d bytes for a '%s' structure\n",
                      static_cast<int>(sizeof(WORKERCALL)), "WORKERCALL");
    return rc;
}

static void StopOnRequest(void) {
    SetStopFlagFromSignal(); /* in a signal handler: the flag alone */
}

int TorvikMain(int argc, char **argv) {
    InitSettings();
    InitAgentState();    /* the log stream is standard output until the log file opens */
    HoldEarlyMessages(); /* for the log file: a service loses standard output */
    PLHandleStopRequests(StopOnRequest);

    char **trigArgv = nullptr;
    if (argc == 2 && strncmp(argv[1], "TMC ", 4) == 0) {
        SetFlags(FLAG_TRIGGERED);
        Settings.discInt = 60;
        if (!ParseTriggerMessage(argv[1], &argc, argv, &trigArgv)) {
            Shutdown();
            return 0;
        }
        argv = trigArgv;
    }

    if (ParseOptions(argc, argv) != OPTIONS_OK) {
        Shutdown();
        if (trigArgv != nullptr)
            FreeTriggerArgs(trigArgv);
        return 0;
    }

    if (FlagIsSet(FLAG_SIMPLE_COMMAND)) {
        SendSimpleCommand();
        Shutdown();
        if (trigArgv != nullptr)
            FreeTriggerArgs(trigArgv);
        return 0;
    }

    if (!PLStdoutIsTerminal())
        SetFlags(FLAG_SERVICE);
    GetProgramDirectory();
    int configSet = ReadConfiguration();
    if (LogStream.load() != nullptr)
        OpenLogFile();
    WriteBanner(OUTF_NORMAL);
    if (FlagIsSet(FLAG_TRIGGERED))
        OutputMessage(1, OUTF_NORMAL, "CVLA003I Program Triggered\n");
    int64_t now = RefreshCurrentTime();
    StartTime.store(now, std::memory_order_relaxed);
    LastReportTime.store(now, std::memory_order_relaxed);
    LastActivityTime.store(now, std::memory_order_relaxed);

    /* The agent's own commands and MQSC replies, before consumption starts. */
    RegisterMqscHandlers();
    RegisterCertCommand(QueueCheckRepository);
    StartAgent(configSet);

    Shutdown();
    if (trigArgv != nullptr)
        FreeTriggerArgs(trigArgv);
    PLRestoreConsole();
    return 0;
}
