// --log FILE and -v: a timestamped transcript of the run appended to a file,
// and the run's steps (FlashPhase) with their durations and driver requests.
#pragma once
#include <stdint.h>
#include <stdio.h>
#include <sys/types.h>

// Opens FILE for appending (creating it) and from now on copies every line
// of stdout and stderr into it; the progress bar stays out. Logs the start
// with the version, pid and arguments. False, said on stderr, when it cannot
// be opened.
bool LogOpen(const char* path, int argc, char** argv);

// Logs the exit status and puts stdout and stderr back.
void LogClose(int status);

// -v: notes go to stderr too.
void LogSetVerbose(bool verbose);

// A note of the program's own (a card's part ids, a step's time): with -v on
// stderr (and so in the log), otherwise in the log only.
void LogNote(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A line-buffered stream whose bytes go to `write` with `cookie`.
FILE* OpenLineStream(void* cookie, ssize_t (*write)(void* cookie, const char* data, size_t size));

// One line `kind: text` straight into the log, safe inside a signal
// handler; nothing when no log is open.
void LogRaw(const char* kind, const char* text);

// Told every driver request: counts it by kind and times the steps.
void LogDriverRequest(uint32_t code);

// Ends the step being timed, if any, and notes it (at a command's end).
void LogSettleStep();

// Notes the driver requests of the whole run by kind.
void LogRequestTotals();

// In a rehearsal's process the requests and steps are the twin's: none of
// them is counted, timed or noted from here on.
void LogStepsOff();
