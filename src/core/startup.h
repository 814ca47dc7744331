/* startup.h -- TORVIK's program entry: command line, trigger message,
 * program directory, banner, start-up and the common end (Shutdown).
 *
 * Owns: nothing beyond the Settings fields start-up fills.
 * Threads: main thread only, before any other thread exists (Shutdown: main
 * thread, at the end).
 */
#pragma once

#include <cstddef>

constexpr char TORVIK_VERSION[] = "9.4.0";
constexpr char OPTION_STRING[] = "c:f:km:q:v:?";

/* MQTMC2, the trigger message passed as the only argument. */
constexpr size_t TMC2_LENGTH = 732;
constexpr size_t TMC2_STRUCID_OFFSET = 0;       /* "TMC " */
constexpr size_t TMC2_QNAME_OFFSET = 8;         /* 48 */
constexpr size_t TMC2_TRIGGERDATA_OFFSET = 104; /* 64 */
constexpr size_t TMC2_USERDATA_OFFSET = 556;    /* 128 */
constexpr size_t TMC2_QMGRNAME_OFFSET = 684;    /* 48 */
constexpr size_t TRIGPARMS_SIZE = 194;          /* 64 + 1 + 128 + 1 */

/* Results of ParseOptions. */
constexpr int OPTIONS_OK = 0;
constexpr int OPTIONS_END = 1; /* usage shown (and any error written): start-up ends */

/* The program entry's body: start-up, main loop (through StartAgent) and
 * Shutdown. Returns 0 on every path. */
int TorvikMain(int argc, char **argv);

/* Read the options "c:f:km:q:v:?" of argv[1..argc-1] into Settings.
 * Returns OPTIONS_OK, or OPTIONS_END after ShowUsage. */
int ParseOptions(int argc, char **argv);

/* Build an argument vector from a trigger message (an MQTMC2 given as a C
 * string; bytes past its end count as blanks): queue manager and input
 * queue names into Settings, TriggerData and UserData split at blanks into
 * words after argvIn[0]. Returns 1 with *argcOut and *argvOut set (free
 * *argvOut with FreeTriggerArgs), 0 when memory cannot be had (CVLA202E
 * written). */
int ParseTriggerMessage(const char *trigger, int *argcOut, char **argvIn, char ***argvOut);
void FreeTriggerArgs(char **argv);

/* Write the banner and the usage text (CVLA006E) and set UsageShown. */
void ShowUsage(void);

/* Write the banner CVLA001I (level 0) with the given flags. */
void WriteBanner(int flags);

/* Read the configuration file (ReadConfigFile), writing CVLA203E for a file
 * named with -f that cannot be opened and CVLA007E for each unknown key or
 * bad value. Returns 1 when at least one key was set, else 0. */
int ReadConfiguration(void);

/* Write CVLA005I listing every key the file set (in table order, with its
 * value and unit) whose report condition holds. */
void ReportConfigOverrides(void);

/* Fill Settings.programDir with the directory of the running executable. */
void GetProgramDirectory(void);

/* The common end of the program: disconnect, final status report with the
 * real period, CVLA099I and the separator line into the log (skipped after
 * usage and in -c mode), set the stop flag, let the workers end. */
void Shutdown(void);

/* The build date as "Mon dd yyyy" (from the compiler's date). */
const char *BuildDate(void);
