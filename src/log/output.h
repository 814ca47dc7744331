/* output.h -- the one message-output function, log files and their rotation.
 *
 * Owns: LogLock, the console status length, the last date-line day; the log
 * stream field Settings.logStream is written only here (and by start-up,
 * which makes it standard output).
 * Threads: OutputMessage is called from every thread; OpenLogFile and
 * RotateLogFiles run inside OutputMessage's rotation check or at start-up.
 *
 * Every operator line is "[hh:mm:ss] " (11 characters) and a text that
 * begins with its identifier CVLAnnnI or CVLAnnnE and ends with a newline.
 * Log files are "TORVIK_Log%2.2d.txt" in logpath (with +QMNAME+ replaced by
 * the queue manager name) or in the program directory; file 01 is current.
 */
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <ctime>

#include "log/cs.h"
#include "platform/platform.h"

/* Flags of OutputMessage. */
constexpr int OUTF_NORMAL = 1;       /* no effect; passed by most callers */
constexpr int OUTF_CONSOLE_ONLY = 2; /* not written to the stream, no rotation check; echoed */
constexpr int OUTF_NO_ECHO = 4;      /* not echoed to standard output */
constexpr int OUTF_NO_DATE = 8;      /* no date line before this line */

/* Verbosity levels (Settings.verbosity) and their names shown in CVLA004I. */
constexpr int VERBOSITY_QUIET = 0;
constexpr int VERBOSITY_LOW = 1;
constexpr int VERBOSITY_MEDIUM = 2;
constexpr int VERBOSITY_HIGH = 3;
extern const char *const VerbosityNames[4]; /* "Quiet", "Low detail", ... */

constexpr size_t OUT_TEXT_SIZE = 2000; /* message text buffer; longer texts are cut */
constexpr size_t LOG_PATH_SIZE = 512;  /* room for a full log file name */
constexpr char LOG_QMNAME_TOKEN[] = "+QMNAME+";

/* Guards the log stream: writing one line (date line, text, echo) and
 * replacing the stream. Recursive; taken without a time limit. */
extern CSLOCK LogLock;

/* Characters of the transient status text the main loop last put on the
 * console (0: none). Written by the main loop under LogLock. */
extern std::atomic<int> ConsoleStatusLength;

/* Write one message. level 0 always appears, 1..3 only when not above
 * Settings.verbosity. flags: OUTF_*. stream: the log stream (callers pass
 * Settings.logStream); when the log stream has been replaced meanwhile, the
 * current one is written. Refreshes the shared current time. A text longer
 * than OUT_TEXT_SIZE - 1 characters is cut. */
void OutputMessage(int level, int flags, FILE *stream, const char *fmt, ...) PL_PRINTF_FORMAT(4, 5);

/* Full path of log file number n ("...TORVIK_Log%2.2d.txt") into buf (size
 * bytes, always terminated; a path that does not fit is cut). Returns the
 * length of the full path (>= size when it was cut). */
int BuildLogFileName(char *buf, size_t size, int n);

/* Shift the log files: delete file numlogfiles, rename k to k+1 down to 1,
 * closing the current stream (file 1) first under LogLock, which stays held
 * until OpenLogFile installs the new stream. Returns 1 when every step
 * succeeded, 0 otherwise (reported; the stop flag set when logfailfatal). */
int RotateLogFiles(FILE *stream);

/* Open log file 1 for appending, creating its directory when it is
 * missing, and make it the log stream; write the messages kept for it (see
 * HoldEarlyMessages, and those of a rotation written while file 1 was
 * closed) and then CVLA210I to the console. On failure CVLA204E; the stop
 * flag is set when logfailfatal is yes; a closed log stream is replaced by
 * standard output so that no message is written to it. Releases LogLock once if a rotation left
 * it held. Returns 0 or the system error code. */
int OpenLogFile(void);

/* Write "           CVLA002I Current Date: Www Mmm dd yyyy" to stream and
 * remember lt's day of the month. Caller holds LogLock if there is a log
 * stream. */
void WriteDateLine(FILE *stream, const struct tm *lt);

/* From now until the log file first opens, keep a copy of every message
 * written to standard output (up to 64 KB) for the log file: a service
 * discards its standard output. Main thread, at the start. */
void HoldEarlyMessages(void);

/* Tests: forget the day of the last date line, so the next message writes
 * one again; and close a log file stream left open. */
void ResetOutputState(void);
