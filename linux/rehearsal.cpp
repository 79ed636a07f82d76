// The rehearsal runs in a child process: the twin's start-up and update
// then change no state of the run (card table, part, status lines, the
// console's record), no request reaches the card, and no file is written;
// the child's lines go out marked, through the run's own stdout (and so
// into its log), and only its result comes back through a pipe.
#include "linux/rehearsal.h"

#include <errno.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/main_window.h"
#include "core/state.h"
#include "engine/parts.h"
#include "hw/hw.h"
#include "linux/backend.h"
#include "linux/fd_io.h"
#include "linux/front_end.h"
#include "linux/run_log.h"
#include "linux/twin.h"
#include "platform/console/console.h"
#include "vcard/host/vcard_host.h"

RehearsalResult LastRehearsal;

namespace {

// Reads of the strap register that time one register access: harmless (the
// start-up reads it), and enough to even out the odd slow one.
const int CostReads = 300;
const char Mark[] = "rehearsal: ";
const char Passed[] = "Flash OK!! ";

// ---- the twin as the child's backend ----

VcMachine* Twin;

bool TwinOpen()
{
    return Twin != 0;
}

bool TwinControl(uint32_t code, const void* input, uint32_t inputLength, void* output, uint32_t outputLength,
                 uint32_t* returned)
{
    return Twin && VcDeviceControl(Twin, code, input, inputLength, output, outputLength, returned);
}

void TwinAdvance(uint64_t nanoseconds)
{
    if (Twin)
        VcAdvance(Twin, nanoseconds);
}

uint64_t TwinClock()
{
    return Twin ? Twin->now : 0;
}

const DriverBackend TwinBackend = {"twin", TwinOpen, TwinControl, TwinAdvance, TwinClock};

// ---- marked lines ----

struct Marked {
    FILE* to;
    bool lineStart;
};

ssize_t MarkedWrite(void* cookie, const char* data, size_t size)
{
    Marked* marked = static_cast<Marked*>(cookie);
    for (size_t i = 0; i < size; ++i) {
        if (marked->lineStart)
            fputs(Mark, marked->to);
        marked->lineStart = data[i] == '\n';
        fputc(data[i], marked->to);
    }
    fflush(marked->to);
    return static_cast<ssize_t>(size);
}

ssize_t Discard(void*, const char*, size_t size)
{
    return static_cast<ssize_t>(size);
}

// ---- the parent's side ----

void MeasureRequestCost(RehearsalResult* result)
{
    uint64_t start = CardClockNs();
    for (int i = 0; i < CostReads; ++i)
        ReadReg32(StrapRegister);
    uint64_t spent = CardClockNs() - start;
    uint64_t each = (spent + CostReads / 2) / CostReads;
    result->requestCostNs = each > 0 ? static_cast<uint32_t>(each) : 1;
    result->costVirtual = RunBackend == BackendVirtual;
}

uint64_t PartBusyNs(const VcMachine* machine)
{
    uint64_t total = 0;
    for (int i = 0; i < machine->cards[0].partCount; ++i)
        total += machine->cards[0].parts[i].busyTime;
    return total;
}

// ---- the child's side ----

// What the start-up reads as a fresh program has it.
void FreshStart()
{
    SelectedCard = 0;
    DualBios = false;
    MainWindowAlive = false;
    WindowDC = 0;
    ImageLoaded = false;
    ImageLength = 0;
    ImageFromFile = false;
    FlashBusy = false;
    FlashPartTouched = 0;
    CurrentPart = 0;
    ConsoleReset();
    ConsoleCardChoice = -1;
    ConsoleHoldStatus = false;
    ConsoleProgress = ConsoleProgressNever;
    ConsoleAssumeYes = true;
    ConsoleAssumeYesWhy = "rehearsal";
    ConsoleTakeRestoreOffer = false;
    ConsoleRefuseRestoreOffer = "rehearsal";
}

void Rehearse(const TwinCard& card, const char* path, RehearsalResult* result)
{
    // A stop ends the child at once; the run's own handlers put the card back.
    static const int Signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
    for (int signalNumber : Signals)
        signal(signalNumber, SIG_DFL);
    LogStepsOff();
    Twin = VcNewMachine();
    if (!Twin) {
        snprintf(result->why, sizeof result->why, "no memory for the twin");
        return;
    }
    if (!TwinMachine(card, Twin, result->why, sizeof result->why))
        return;
    Twin->requestCostNs = result->requestCostNs;
    ActiveBackend = &TwinBackend;
    RealWaits = false;

    // The twin starts up unseen; its chip and part lines must be the card's.
    char header[2][StatusLineSize];
    memcpy(header, &StatusLines[1], sizeof header);
    FILE* quiet = OpenLineStream(0, Discard);
    static Marked marked = {stdout, true};
    FILE* out = OpenLineStream(&marked, MarkedWrite);
    if (!quiet || !out) {
        snprintf(result->why, sizeof result->why, "no stream for the rehearsal's lines");
        return;
    }
    ConsoleOut = quiet;
    FreshStart();
    bool started = HeadlessStartUp(ConsoleMainWindow, 0);
    ConsoleFlushStatus();
    if (!started) {
        snprintf(result->why, sizeof result->why, "the twin did not start up (\"%.400s\")", ConsoleSeen.lastBoxText);
        return;
    }
    for (int i = 0; i < 2; ++i) {
        if (strcmp(header[i], StatusLines[1 + i]) != 0) {
            snprintf(result->why, sizeof result->why, "the twin started up as \"%.127s\", not as the card's \"%.127s\"",
                     StatusLines[1 + i], header[i]);
            return;
        }
    }

    ConsoleOut = out;
    uint64_t start = Twin->now, requests = Twin->requestCount, busy = PartBusyNs(Twin);
    WaitTotals waits = Waits;
    ConsoleFileChoice = path;
    DispatchCommand(CmdUpdateBios);
    ConsoleFlushStatus();
    fflush(ConsoleOut);
    result->ran = true;
    result->totalNs = Twin->now - start;
    result->sleepNs = Waits.sleepAskedNs - waits.sleepAskedNs;
    result->loopNs = Waits.busyAskedNs - waits.busyAskedNs;
    result->requests = Twin->requestCount - requests;
    result->partBusyNs = PartBusyNs(Twin) - busy;
    int last = LastStatusLine < StatusLineCount ? LastStatusLine : StatusLineCount - 1;
    if (last >= 0)
        memcpy(result->lastLine, StatusLines[last], sizeof result->lastLine);
    result->flashOk = strcmp(result->lastLine, Passed) == 0;
}

// Forks the child and takes its result; false when none came.
bool RunChild(const TwinCard& card, const char* path, RehearsalResult* result)
{
    int fds[2];
    if (pipe(fds) != 0) {
        snprintf(result->why, sizeof result->why, "no pipe for the rehearsal: %s", strerror(errno));
        return false;
    }
    // Nothing buffered may be printed twice.
    fflush(0);
    pid_t child = fork();
    if (child < 0) {
        snprintf(result->why, sizeof result->why, "no process for the rehearsal: %s", strerror(errno));
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    if (child == 0) {
        close(fds[0]);
        Rehearse(card, path, result);
        fflush(0);
        _exit(WriteAll(fds[1], result, sizeof *result) ? 0 : 1);
    }
    close(fds[1]);
    RehearsalResult got;
    ssize_t have = ReadUpTo(fds[0], &got, sizeof got);
    close(fds[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) { }
    if (have != static_cast<ssize_t>(sizeof got)) {
        snprintf(result->why, sizeof result->why, "the rehearsal's process ended without a result");
        return false;
    }
    *result = got;
    return true;
}

double Seconds(uint64_t ns)
{
    return ns * 1e-9;
}

void Print(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Print(const char* format, ...)
{
    char line[1024];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    ConsolePrintLine(line);
}

}  // namespace

int RehearseUpdate(const char* path)
{
    RehearsalResult& result = LastRehearsal;
    memset(&result, 0, sizeof result);
    Print("== Rehearsal: the update on the card's virtual twin, in virtual time; nothing reaches the card");
    static TwinCard card;
    if (CaptureTwin(&card, result.why, sizeof result.why)) {
        MeasureRequestCost(&result);
        RunChild(card, path, &result);
    }
    if (!result.ran) {
        Print("== Rehearsal not run: %s. The card was not touched.", result.why);
        return ExitFailed;
    }
    if (!result.flashOk) {
        Print("== Rehearsal failed: the twin did not end \"%s\" (its last line: \"%s\"). The card was not touched.",
              Passed, result.lastLine);
        return ExitFailed;
    }
    Print("== Rehearsal passed: the twin ended \"%s\". The real update should take about %.1f s:", Passed,
          Seconds(result.totalNs));
    Print("==   %.2f s of Sleep calls the flash procedure mandates, %.2f s in its delay and polling loops,",
          Seconds(result.sleepNs), Seconds(result.loopNs));
    Print("==   %.2f s on the bus: %llu register accesses at %u ns each (%s);",
          Seconds(result.requests * result.requestCostNs), static_cast<unsigned long long>(result.requests),
          result.requestCostNs, result.costVirtual ? "the virtual card's own time for one" : "measured on this card");
    Print("==   within these, %.2f s of the part's own erase and program times, as its catalogue row models them.",
          Seconds(result.partBusyNs));
    return ExitOk;
}
