#include "linux/run_log.h"

// fopencookie
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "core/status.h"
#include "hw/driver_requests.h"
#include "linux/backend.h"
#include "linux/fd_io.h"
#include "platform/console/console.h"
#include "qz_version.h"

namespace {

int LogFile = -1;
bool Verbose;

// stdout and stderr as they were, and the streams put in their place: each
// passes its bytes on and logs them a line at a time.
struct Tee {
    const char* kind;
    int fd;
    char line[2048];
    size_t used;
};
Tee OutTee = {"out", STDOUT_FILENO, {}, 0};
Tee ErrTee = {"err", STDERR_FILENO, {}, 0};
FILE* SavedOut;
FILE* SavedErr;
FILE* SavedBarOut;

// The driver requests of the run, and of the step being timed.
struct Requests {
    uint64_t config, reads, writes, other;
} Totals;
FlashPhaseKind StepPhase = FlashPhaseNone;
bool StepsOff;
uint64_t StepStartNs;
uint64_t StepRequests;

// Appends `value` in decimal, `width` digits at least.
char* PutNumber(char* at, uint64_t value, int width)
{
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value > 0);
    while (n < width)
        digits[n++] = '0';
    while (n > 0)
        *at++ = digits[--n];
    return at;
}

// "2025-01-31 14:25:02.123Z " in UTC, by arithmetic alone (no locale, no
// time zone file): usable inside a signal handler.
char* PutTimestamp(char* at)
{
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    int64_t seconds = now.tv_sec;
    int64_t days = seconds / 86400, rest = seconds % 86400;
    // Days since 1970-01-01 to a civil date (proleptic Gregorian).
    int64_t z = days + 719468;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t dayOfEra = z - era * 146097;
    int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    int64_t mp = (5 * dayOfYear + 2) / 153;
    int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
    int64_t month = mp < 10 ? mp + 3 : mp - 9;
    int64_t year = yearOfEra + era * 400 + (month <= 2);
    at = PutNumber(at, static_cast<uint64_t>(year), 4);
    *at++ = '-';
    at = PutNumber(at, static_cast<uint64_t>(month), 2);
    *at++ = '-';
    at = PutNumber(at, static_cast<uint64_t>(day), 2);
    *at++ = ' ';
    at = PutNumber(at, static_cast<uint64_t>(rest / 3600), 2);
    *at++ = ':';
    at = PutNumber(at, static_cast<uint64_t>(rest / 60 % 60), 2);
    *at++ = ':';
    at = PutNumber(at, static_cast<uint64_t>(rest % 60), 2);
    *at++ = '.';
    at = PutNumber(at, static_cast<uint64_t>(now.tv_nsec / 1000000), 3);
    *at++ = 'Z';
    *at++ = ' ';
    return at;
}

// One whole line in one write: lines of runs sharing a log stay whole.
void LogLine(const char* kind, const char* text, size_t length)
{
    if (LogFile < 0)
        return;
    char line[2300];
    char* at = PutTimestamp(line);
    size_t kindLength = strlen(kind);
    memcpy(at, kind, kindLength);
    at += kindLength;
    *at++ = ':';
    *at++ = ' ';
    size_t room = static_cast<size_t>(line + sizeof line - 1 - at);
    if (length > room)
        length = room;
    memcpy(at, text, length);
    at += length;
    *at++ = '\n';
    WriteAll(LogFile, line, static_cast<size_t>(at - line));
}

void SettleStep(FlashPhaseKind now);

ssize_t TeeWrite(void* cookie, const char* data, size_t size)
{
    Tee* tee = static_cast<Tee*>(cookie);
    // A step that has ended is noted before what follows it.
    SettleStep(FlashPhase);
    WriteAll(tee->fd, data, size);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\n' || tee->used == sizeof tee->line) {
            LogLine(tee->kind, tee->line, tee->used);
            tee->used = 0;
            if (data[i] == '\n')
                continue;
        }
        tee->line[tee->used++] = data[i];
    }
    return static_cast<ssize_t>(size);
}

// What is left of a line without its end.
void FlushTee(Tee* tee)
{
    if (tee->used > 0)
        LogLine(tee->kind, tee->line, tee->used);
    tee->used = 0;
}

FILE* OpenTee(Tee* tee)
{
    return OpenLineStream(tee, TeeWrite);
}

void LogAnswer(const char* line)
{
    LogLine("answer", line, strlen(line));
}

const char* PhaseName(FlashPhaseKind phase)
{
    static const char* const Names[] = {"none", "reading", "erasing", "writing", "verifying"};
    return phase < sizeof Names / sizeof Names[0] ? Names[phase] : "?";
}

// Ends the step being timed when the engine has gone on to `now`, and notes
// it; the note itself comes back here through stderr and finds it ended.
void SettleStep(FlashPhaseKind now)
{
    if (now == StepPhase || StepsOff)
        return;
    FlashPhaseKind ended = StepPhase;
    uint64_t requests = StepRequests;
    uint64_t endNs = MonotonicNs();
    uint64_t startNs = StepStartNs;
    StepPhase = now;
    StepStartNs = endNs;
    StepRequests = 0;
    if (ended != FlashPhaseNone)
        LogNote("step %s: %.3f s, %llu driver requests", PhaseName(ended), (endNs - startNs) * 1e-9,
                static_cast<unsigned long long>(requests));
}

}  // namespace

FILE* OpenLineStream(void* cookie, ssize_t (*write)(void* cookie, const char* data, size_t size))
{
    cookie_io_functions_t functions;
    memset(&functions, 0, sizeof functions);
    functions.write = write;
    FILE* stream = fopencookie(cookie, "w", functions);
    // Each line as it ends; a question's prompt is flushed before the answer.
    if (stream)
        setvbuf(stream, 0, _IOLBF, 0);
    return stream;
}

bool LogOpen(const char* path, int argc, char** argv)
{
    LogFile = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
    if (LogFile < 0) {
        fprintf(stderr, "qzflash: %s: %s; the run was not started.\n", path, strerror(errno));
        return false;
    }
    char start[2048];
    int n = snprintf(start, sizeof start, "qzflash %s, pid %ld, uid %ld:", QZ_VERSION_TEXT, static_cast<long>(getpid()),
                     static_cast<long>(geteuid()));
    for (int i = 1; i < argc && n > 0 && static_cast<size_t>(n) < sizeof start; ++i)
        n += snprintf(start + n, sizeof start - n, " %s", argv[i]);
    LogLine("start", start, strlen(start));
    fflush(stdout);
    fflush(stderr);
    SavedOut = stdout;
    SavedErr = stderr;
    SavedBarOut = ConsoleBarOut;
    FILE* out = OpenTee(&OutTee);
    FILE* err = OpenTee(&ErrTee);
    if (out && err) {
        // The bar stays on the real stderr and out of the log.
        ConsoleBarOut = stderr;
        stdout = out;
        stderr = err;
    } else {
        if (out)
            fclose(out);
        if (err)
            fclose(err);
    }
    ConsoleAnswerRead = LogAnswer;
    return true;
}

void LogClose(int status)
{
    if (LogFile < 0)
        return;
    if (SavedOut && stdout != SavedOut) {
        fclose(stdout);
        fclose(stderr);
        stdout = SavedOut;
        stderr = SavedErr;
        ConsoleBarOut = SavedBarOut;
    }
    FlushTee(&OutTee);
    FlushTee(&ErrTee);
    char text[32];
    snprintf(text, sizeof text, "%d", status);
    LogLine("exit status", text, strlen(text));
    ConsoleAnswerRead = 0;
    close(LogFile);
    LogFile = -1;
}

void LogSetVerbose(bool verbose)
{
    Verbose = verbose;
}

void LogNote(const char* format, ...)
{
    if (!Verbose && LogFile < 0)
        return;
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    if (Verbose) {
        ConsoleClearBar();
        fprintf(stderr, "qzflash: %s\n", text);
        fflush(stderr);
    } else {
        LogLine("note", text, strlen(text));
    }
}

void LogRaw(const char* kind, const char* text)
{
    size_t length = strlen(text);
    while (length > 0 && text[length - 1] == '\n')
        --length;
    LogLine(kind, text, length);
}

void LogDriverRequest(uint32_t code)
{
    if (StepsOff)
        return;
    if (code == IOCTL_PCI_CONFIG)
        ++Totals.config;
    else if (code == IOCTL_MEM_READ)
        ++Totals.reads;
    else if (code == IOCTL_MEM_WRITE)
        ++Totals.writes;
    else
        ++Totals.other;
    if (FlashPhase != StepPhase)
        SettleStep(FlashPhase);
    ++StepRequests;
}

void LogSettleStep()
{
    SettleStep(FlashPhase);
}

void LogStepsOff()
{
    StepsOff = true;
    Verbose = false;
}

void LogRequestTotals()
{
    SettleStep(FlashPhaseNone);
    // A run that reached no driver has none to tell.
    if (Totals.config + Totals.reads + Totals.writes + Totals.other == 0)
        return;
    LogNote("driver requests: %llu configuration, %llu memory reads, %llu memory writes",
            static_cast<unsigned long long>(Totals.config), static_cast<unsigned long long>(Totals.reads),
            static_cast<unsigned long long>(Totals.writes));
    Totals = Requests{};
}
