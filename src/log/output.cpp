/* output.cpp -- OutputMessage, the date line, log file names, opening and
 * rotating the log files.
 *
 * Owns: LogStream, LogLock, ConsoleStatusLength, the last date-line day,
 * Rotating.
 * Threads: OutputMessage from any thread. One line (date line, text, echo)
 * is written under LogLock. The rotation check runs before the lock and is
 * kept to one thread at a time by Rotating; a rotation holds LogLock
 * from closing file 1 until the new file 1 is the log stream.
 */
#include "log/output.h"

#include <cstdarg>
#include <cstring>

#include "config/settings.h"
#include "log/runstate.h"

const char *const VerbosityNames[4] = {"Quiet", "Low detail", "Medium detail", "High detail"};

std::atomic<FILE *> LogStream{stdout};
CSLOCK LogLock;
std::atomic<int> ConsoleStatusLength{0};

static std::atomic<int> LastDay{0};  /* day of the month of the last date line; 0: none */
static int RotationLocks = 0;        /* LogLock holds left by a rotation; under LogLock */
static std::atomic<int> Rotating{0}; /* 1: a thread runs the rotation check */
static int LogClosed = 0;            /* 1: a rotation closed the log stream; under LogLock */

/* Messages written to standard output that belong in the log file: those
 * before it first opens (while HoldingEarly) and those of a rotation while
 * file 1 is closed. Written to the next file OpenLogFile installs. Under
 * LogLock; what does not fit is dropped. */
static const size_t HELD_TEXT_SIZE = 65536;
static char HeldText[HELD_TEXT_SIZE];
static size_t HeldLength = 0;
static int HoldingEarly = 0;

static void CheckRotation(void);
static void ReleaseRotationLocks(void);
static void EraseConsoleStatus(void);
static void FormatDateLine(char *buf, size_t size, const struct tm *lt);
static void HoldText(const char *prefix, const char *text);
static int CreateLogDirectory(const char *fileName);

void OutputMessage(int level, int flags, const char *fmt, ...) {
    if (level > Settings.verbosity)
        return;
    FILE *stream = LogStream.load();

    /* Rotation check: only for a log file, one thread at a time. The flag
     * is a lock: taken with acquire and given back with release, so one
     * check's use of the stream happens before the next check closes it. */
    if (!(flags & OUTF_CONSOLE_ONLY) && stream != nullptr && stream != stdout) {
        if (Rotating.exchange(1, std::memory_order_acquire) == 0) {
            CheckRotation();
            Rotating.store(0, std::memory_order_release);
        }
    }

    int64_t now = RefreshCurrentTime();
    struct tm lt;
    char prefix[32];
    int haveTime = PLLocalTime(now, &lt) == 0;
    if (haveTime)
        snprintf(prefix, sizeof prefix, "[%2.2d:%2.2d:%2.2d] ", lt.tm_hour, lt.tm_min, lt.tm_sec);
    else
        snprintf(prefix, sizeof prefix, "%11s", "");

    int locked = 0;
    if (LogStream.load() != nullptr) {
        CSLockLock(&LogLock);
        locked = 1;
    }

    /* The log stream may have been replaced by a rotation since it was
     * read: write to the current one. While a rotation has file 1
     * closed (only the rotating thread gets here then), write to standard
     * output. */
    FILE *target = stream;
    if (stream != nullptr && stream != stdout) {
        FILE *current = LogStream.load();
        if (current != nullptr)
            target = current;
        if (LogClosed)
            target = stdout;
    }
    int echo = !FlagIsSet(FLAG_SERVICE) && !(flags & OUTF_NO_ECHO) && target != stdout;

    if (!FlagIsSet(FLAG_SERVICE))
        EraseConsoleStatus();

    int hold = !(flags & OUTF_CONSOLE_ONLY) && target == stdout && (LogClosed || HoldingEarly);
    if (haveTime && !(flags & OUTF_NO_DATE) && target != nullptr) {
        int last = LastDay.load(std::memory_order_relaxed);
        if (last == 0 || last != lt.tm_mday) {
            WriteDateLine(target, &lt);
            if (hold) {
                char dateLine[128];
                FormatDateLine(dateLine, sizeof dateLine, &lt);
                HoldText("", dateLine);
            }
        }
    }

    char text[OUT_TEXT_SIZE];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    if (n < 0) {
        text[0] = '\0';
    } else if (static_cast<size_t>(n) >= sizeof text) {
        text[sizeof text - 2] = '\n'; /* cut: keep the line ending */
    }

    if (!(flags & OUTF_CONSOLE_ONLY) && target != nullptr) {
        fprintf(target, "%11.11s%s", prefix, text);
        fflush(target);
        if (hold)
            HoldText(prefix, text);
    }
    if (echo) {
        fprintf(stdout, "%11.11s%s", prefix, text);
        fflush(stdout);
    }

    if (locked)
        CSUnlockLock(&LogLock);
}

/* Erase the main loop's status text from the console line. Caller holds
 * LogLock when there is a log stream. */
static void EraseConsoleStatus(void) {
    int n = ConsoleStatusLength.load(std::memory_order_relaxed);
    if (n <= 0)
        return;
    char buf[3 * 256];
    if (n > 256)
        n = 256;
    memset(buf, '\b', static_cast<size_t>(n));
    memset(buf + n, ' ', static_cast<size_t>(n));
    memset(buf + 2 * n, '\b', static_cast<size_t>(n));
    fwrite(buf, 1, static_cast<size_t>(3 * n), stdout);
}

/* The date line for lt into buf (size bytes, terminated). */
static void FormatDateLine(char *buf, size_t size, const struct tm *lt) {
    static const char *const days[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char *const months[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const char *day = lt->tm_wday >= 0 && lt->tm_wday < 7 ? days[lt->tm_wday] : "???";
    const char *month = lt->tm_mon >= 0 && lt->tm_mon < 12 ? months[lt->tm_mon] : "???";
    char date[64];
    snprintf(date, sizeof date, "%.3s %.3s%3d %d", day, month, lt->tm_mday, lt->tm_year + 1900);
    snprintf(buf, size, "           CVLA002I Current Date: %15s\n", date);
}

void WriteDateLine(FILE *stream, const struct tm *lt) {
    char line[128];
    FormatDateLine(line, sizeof line, lt);
    if (stream != nullptr)
        fputs(line, stream);
    LastDay.store(lt->tm_mday, std::memory_order_relaxed);
}

/* Keep one line for the log file; the caller holds LogLock. */
static void HoldText(const char *prefix, const char *text) {
    size_t prefixLen = strnlen(prefix, 11);
    size_t textLen = strlen(text);
    if (HeldLength + prefixLen + textLen > sizeof HeldText)
        return;
    memcpy(HeldText + HeldLength, prefix, prefixLen);
    memcpy(HeldText + HeldLength + prefixLen, text, textLen);
    HeldLength += prefixLen + textLen;
}

void HoldEarlyMessages(void) {
    CSLockLock(&LogLock);
    HoldingEarly = 1;
    HeldLength = 0;
    CSUnlockLock(&LogLock);
}

/* Create the directory of a log file name ("dir" + separator + file).
 * Returns 0 or the system error code. */
static int CreateLogDirectory(const char *fileName) {
    const char *cut = strrchr(fileName, PL_PATH_SEPARATOR);
    if (cut == nullptr || cut == fileName)
        return 0;
    char dir[LOG_PATH_SIZE];
    size_t len = static_cast<size_t>(cut - fileName);
    if (len >= sizeof dir)
        len = sizeof dir - 1;
    memcpy(dir, fileName, len);
    dir[len] = '\0';
    return PLCreateDirectories(dir);
}

int BuildLogFileName(char *buf, size_t size, int n) {
    const char *dir = Settings.logPath;
    size_t dirLen = strnlen(Settings.logPath, sizeof Settings.logPath);
    const char *qmgr = "";
    const char *after = "";
    if (dirLen == 0) {
        dir = Settings.programDir;
        dirLen = strnlen(Settings.programDir, sizeof Settings.programDir);
    } else {
        const char *token = strstr(Settings.logPath, LOG_QMNAME_TOKEN);
        if (token != nullptr) {
            after = token + strlen(LOG_QMNAME_TOKEN);
            qmgr = Settings.qmgrName;
            dirLen = static_cast<size_t>(token - Settings.logPath);
        }
    }
    int len = snprintf(buf, size, "%.*s%s%s%cTORVIK_Log%2.2d.txt", static_cast<int>(dirLen), dir,
                       qmgr, after, PL_PATH_SEPARATOR, n);
    return len < 0 ? 0 : len;
}

/* Close the current log file for a rotation: LogLock is taken and stays
 * held (counted in RotationLocks) until OpenLogFile installs the new file
 * or the rotation check gives up; meanwhile messages go to standard output
 * only, never to the closed stream. */
static void CloseLogForRotation(void) {
    CSLockLock(&LogLock);
    RotationLocks++;
    FILE *old = LogStream.load();
    if (old != nullptr && old != stdout && !LogClosed) {
        /* LogStream keeps the old value until a new file is
         * installed: threads that read it without the lock still pass "the
         * log stream" and wait for LogLock; it is never written while
         * LogClosed is set. */
        LogClosed = 1;
        fclose(old);
    }
}

/* After a rotation that closed file 1 without installing a new one: from
 * now on the log stream is standard output. Caller holds LogLock. */
static void FallBackToStandardOutput(void) {
    if (LogClosed) {
        LogStream.store(stdout);
        LogClosed = 0;
        HeldLength = 0; /* no file to give the rotation's messages to */
    }
}

static void ReleaseRotationLocks(void) {
    if (!CSLockHeld(&LogLock))
        return;
    while (RotationLocks > 0) {
        RotationLocks--;
        CSUnlockLock(&LogLock);
    }
}

int RotateLogFiles(FILE *stream) {
    (void)stream; /* the current log stream is closed under LogLock */
    char from[LOG_PATH_SIZE];
    char to[LOG_PATH_SIZE];
    char text[256];
    int fatal = FlagIsSet(FLAG_LOGFAILFATAL);
    /* Fewer than one file would rotate file 1 into itself: keep one. */
    int count = Settings.numLogFiles < 1 ? 1 : Settings.numLogFiles;

    if (count == 1)
        CloseLogForRotation(); /* file 1 is the one to delete */
    BuildLogFileName(from, sizeof from, count);
    OutputMessage(3, OUTF_NORMAL, "CVLA205I Deleting old error log file '%s'\n", from);
    int err = PLDeleteFile(from);
    if (err != 0 && !PLErrorIsNotFound(err)) {
        OutputMessage(0, OUTF_NORMAL,
                      "CVLA206E Unable to delete old error log file '%s' rc=%d (%s)\n", from, err,
                      PLErrorText(err, text, sizeof text));
        if (fatal)
            SetStopFlag();
        return 0;
    }
    for (int k = count - 1; k >= 1; k--) {
        BuildLogFileName(from, sizeof from, k);
        BuildLogFileName(to, sizeof to, k + 1);
        OutputMessage(3, OUTF_NORMAL, "CVLA207I Renaming old error log file '%s' to '%s'\n", from,
                      to);
        if (k == 1)
            CloseLogForRotation();
        err = PLRenameFile(from, to);
        if (err != 0 && !PLErrorIsNotFound(err)) {
            OutputMessage(0, OUTF_NORMAL,
                          "CVLA208E Unable to rename old error log file '%s' to '%s' rc=%d (%s)\n",
                          from, to, err, PLErrorText(err, text, sizeof text));
            if (fatal)
                SetStopFlag();
            return 0;
        }
    }
    return 1;
}

int OpenLogFile(void) {
    char name[LOG_PATH_SIZE];
    BuildLogFileName(name, sizeof name, 1);
    int err = 0;
    FILE *f = PLOpenFile(name, "a", &err);
    if (f == nullptr && PLErrorIsNotFound(err)) {
        /* A logpath not made yet, or a +QMNAME+ directory first used now. */
        int dirErr = CreateLogDirectory(name);
        if (dirErr != 0)
            err = dirErr;
        else
            f = PLOpenFile(name, "a", &err);
    }
    if (f == nullptr) {
        char text[256];
        OutputMessage(0, OUTF_NORMAL, "CVLA204E Unable to open error log file '%s' rc=%d (%s)\n",
                      name, err, PLErrorText(err, text, sizeof text));
        if (FlagIsSet(FLAG_LOGFAILFATAL))
            SetStopFlag();
        CSLockLock(&LogLock);
        FallBackToStandardOutput();
        HoldingEarly = 0; /* what was kept stays on standard output only */
        HeldLength = 0;
        CSUnlockLock(&LogLock);
        ReleaseRotationLocks();
        return err != 0 ? err : -1;
    }
    CSLockLock(&LogLock);
    FILE *old = LogStream.load();
    if (old != nullptr && old != stdout && old != f && !LogClosed)
        fclose(old); /* a failed rotation left the previous file open */
    LogClosed = 0;
    LogStream.store(f);
    if (HeldLength > 0) {
        fwrite(HeldText, 1, HeldLength, f);
        fflush(f);
    }
    HeldLength = 0;
    HoldingEarly = 0;
    CSUnlockLock(&LogLock);
    ReleaseRotationLocks();
    OutputMessage(0, OUTF_CONSOLE_ONLY, "CVLA210I Logging to '%s'\n", name);
    return 0;
}

/* The rotation check of OutputMessage; the caller has set Rotating. */
static void CheckRotation(void) {
    FILE *log = LogStream.load();
    if (log == nullptr || log == stdout)
        return;
    int64_t size = 0;
    int err = PLStreamSize(log, &size);
    int rotate;
    if (err != 0) {
        char text[256];
        OutputMessage(0, OUTF_NORMAL, "CVLA209E Error log File access with %s failed. rc=%d (%s)\n",
                      "fstat()", err, PLErrorText(err, text, sizeof text));
        if (FlagIsSet(FLAG_LOGFAILFATAL))
            SetStopFlag();
        rotate = 1;
    } else {
        rotate = size > Settings.maxLogSize;
    }
    if (rotate && !StopRequested()) {
        RotateLogFiles(log);
        if (!StopRequested())
            OpenLogFile();
    }
    if (CSLockHeld(&LogLock))
        FallBackToStandardOutput(); /* the stop flag kept OpenLogFile from installing a file */
    ReleaseRotationLocks();
}

void ResetOutputState(void) {
    CSLockLock(&LogLock);
    LastDay.store(0, std::memory_order_relaxed);
    FILE *old = LogStream.load();
    if (old != nullptr && old != stdout && !LogClosed)
        fclose(old);
    LogClosed = 0;
    HoldingEarly = 0;
    HeldLength = 0;
    LogStream.store(stdout);
    ConsoleStatusLength.store(0, std::memory_order_relaxed);
    CSUnlockLock(&LogLock);
}
