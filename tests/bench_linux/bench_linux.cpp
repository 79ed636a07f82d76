// A full update of a 64 KiB image through qzflash, with real waits, on the
// built-in virtual machine's cards and on one-card machines for the program
// modes it lacks. For each the update command's wall time is split into the
// waits the flash procedure mandates (Sleep calls and busy loops, measured
// where they happen) and the rest: the program, the driver dispatch and the
// virtual card.
//
// In the serial modes the protocol's bit timing rests on register-access
// latency: every bit is ten register accesses, about 600 a byte. On a real
// card each is a bus cycle of a good part of a microsecond; on the virtual
// card it is the model answering the request. So the rest is split by
// sampling the process's processor time (a profiling timer) and noting
// whether the virtual card was answering a request at each sample; the
// program's share (the rest less the card's) must stay under 10% of the
// total. The whole rest is printed beside it.
//
// With --rehearsal it compares instead, for each mode, what a rehearsal on
// the card's virtual twin foretells (update --rehearse-only) with the update
// itself on the virtual card it stands for, both in virtual time (--no-wait):
// the card's clock, which the model advances by its mandated waits, the
// part's modelled times and a cost per register access.
//
// With --floor it measures what the program itself costs, the card aside:
// each mode's update (--no-wait) with the virtual card answering, and again
// with a card that costs nothing: the answers the card gave, replayed from
// memory in order. The two alternate over --runs rounds (default 9); the
// medians of the update command's processor time are compared. A first
// replay must send the very requests the card answered (a running hash of
// code, address and value) and every replay must use up the record and end
// as the recorded run did, or the mode fails.
//
//   bench_linux [--rehearsal | --floor [--runs N]] [MODE-NAME-PART]   (default: every mode)
#include <algorithm>

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "hw/driver_requests.h"
#include "linux/backend.h"
#include "linux/front_end.h"
#include "linux/rehearsal.h"
#include "linux/virtual_backend.h"
#include "vcard/host/vcard_host.h"

namespace {

struct Mode {
    bool builtin;            // one of the built-in machine's cards
    const char* name;
    const char* profile;     // 0: the built-in machine
    int card;
    uint16_t deviceId;
    const char* answers;     // the flash confirmed (the dual-BIOS offer is declined: no terminal)
};

const Mode Modes[] = {
    {true, "parallel page 128 (card 0, 29EE010)", 0, 0, 0x0281, "ok\n"},
    {true, "parallel byte (card 1, 39VF010)", 0, 1, 0x0253, "ok\n"},
    {true, "SPI page 128 (card 2, M25P10)", 0, 2, 0x0322, "ok\n"},
    {false, "SPI byte (25VF010)",
     "card 1:0 0x10DE:0x0322 bar0=0xE8000008 interface=spi\npart 25VF010 image=04.34.20.19.00\n", 0, 0x0322, "ok\n"},
    {false, "SPI page 256 (25LV010)",
     "card 1:0 0x10DE:0x0322 bar0=0xE8000008 interface=spi\npart 25LV010 image=04.34.20.19.00\n", 0, 0x0322, "ok\n"},
    {false, "serial-2 byte (39VF010)",
     "card 1:0 0x10DE:0x0322 bar0=0xE8000008 interface=serial2\npart 39VF010 image=04.34.20.19.00\n", 0, 0x0322,
     "ok\n"},
    {false, "serial-2 page 128 (29C010A)",
     "card 1:0 0x10DE:0x0322 bar0=0xE8000008 interface=serial2\npart 29C010A image=04.34.20.19.00\n", 0, 0x0322,
     "ok\n"},
};

struct Sample {
    int status;
    double wall;       // seconds of the update command
    double sleeps;     // of which in Sleep calls
    double busy;       // of which in busy loops
    uint64_t requests;
    double runWall;    // the whole run, start-up included
    uint64_t samples;      // processor-time samples during the update command
    uint64_t cardSamples;  // of which while the virtual card answered a request
    double runWaits;
    uint64_t virtualNs;  // the update command in the virtual card's time
    RehearsalResult rehearsal;
    double cpu;          // processor seconds of the update command
    uint64_t hash;       // of the requests the command sent
    bool replayFailed;   // the command asked what the record does not hold
};

// How a mode is run.
// Sampled: the card answers and the profiling timer notes where time goes;
// the others run unobserved but for the command's processor time.
// A checked replay hashes its requests as the record did; the timed ones
// (the same program given the same answers) do not.
enum Answers { SampledAnswers, CardAnswers, RecordAnswers, CheckedReplay, ReplayAnswers };
struct Run {
    bool rehearseOnly;
    bool noWait;
    Answers answers;
};

Sample Current;
uint64_t CommandStart;
uint64_t VirtualStart;
WaitTotals WaitsAtStart;
uint64_t RequestsAtStart;

uint64_t Requests()
{
    VcMachine* machine = VirtualMachineNow();
    return machine ? machine->requestCount : 0;
}

// Where the process is when the profiling timer strikes.
enum Place { InProgram, InCard };
volatile sig_atomic_t Where = InProgram;
volatile sig_atomic_t Sampling;
const DriverBackend* CardBackend;
DriverBackend Observed;

void OnSample(int)
{
    if (!Sampling)
        return;
    Current.samples++;
    if (Where == InCard)
        Current.cardSamples++;
}

bool ObservedControl(uint32_t code, const void* input, uint32_t inputLength, void* output, uint32_t outputLength,
                     uint32_t* returned)
{
    Where = InCard;
    bool ok = CardBackend->control(code, input, inputLength, output, outputLength, returned);
    Where = InProgram;
    return ok;
}

// The card's answers as recorded: each distinct answer once, and one index
// a request, so that a replay reads two bytes where the card did its work.
struct Answer {
    uint32_t value;      // the output's first four bytes
    uint32_t returned;
    uint32_t ok;
};
struct Record {
    uint64_t requests;
    uint32_t distinct;
    uint64_t hash;
    int status;
};
const uint32_t MaxAnswers = 65536;
const uint64_t MaxRecorded = 100000000;  // requests of the slowest mode, with room
Answer* Table;
uint16_t* Indices;
Record Recorded;
Answers Answering = SampledAnswers;
uint64_t Next;

// Requests in order: a replay that strays from the recorded run would be
// answered wrongly, so both hash what they send.
inline void HashRequest(uint32_t code, const void* input, uint32_t inputLength)
{
    uint32_t address = 0, value = 0;
    if (input && inputLength == sizeof(MemAccessRequest)) {
        const MemAccessRequest* r = static_cast<const MemAccessRequest*>(input);
        address = r->AddressLow;
        value = r->Value;
    }
    Current.hash = (Current.hash * 0x100000001B3ull) ^ code ^ (static_cast<uint64_t>(address) << 32 | value);
}

bool RecordingControl(uint32_t code, const void* input, uint32_t inputLength, void* output, uint32_t outputLength,
                      uint32_t* returned)
{
    HashRequest(code, input, inputLength);
    bool ok = CardBackend->control(code, input, inputLength, output, outputLength, returned);
    if (outputLength > 4)
        return ok;
    Answer a = {0, returned ? *returned : 0, ok ? 1u : 0u};
    if (output)
        memcpy(&a.value, output, outputLength);
    uint32_t i = 0;
    while (i < Recorded.distinct && memcmp(&Table[i], &a, sizeof a) != 0)
        ++i;
    if (i == MaxAnswers || Recorded.requests == MaxRecorded) {
        Current.replayFailed = true;
        return ok;
    }
    if (i == Recorded.distinct)
        Table[Recorded.distinct++] = a;
    Indices[Recorded.requests++] = static_cast<uint16_t>(i);
    return ok;
}

// The card that costs nothing. Configuration space (400 bytes out) is
// neither recorded nor replayed: the card, which a replay never changes,
// answers it.
bool ReplayingControl(uint32_t code, const void* input, uint32_t inputLength, void* output, uint32_t outputLength,
                      uint32_t* returned)
{
    if (Answering == CheckedReplay)
        HashRequest(code, input, inputLength);
    if (outputLength > 4)
        return CardBackend->control(code, input, inputLength, output, outputLength, returned);
    if (Next == Recorded.requests) {
        Current.replayFailed = true;
        return false;
    }
    const Answer& a = Table[Indices[Next++]];
    // Fixed-size copies: a copy of variable length is a library call.
    if (outputLength == 4)
        memcpy(output, &a.value, 4);
    else if (outputLength == 1)
        memcpy(output, &a.value, 1);
    else if (output && outputLength)
        memcpy(output, &a.value, outputLength);
    if (returned)
        *returned = a.returned;
    return a.ok != 0;
}

double CpuSeconds()
{
    timespec now;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec * 1e-9;
}

void OnCommand(bool after)
{
    if (Answering != SampledAnswers) {
        if (!after) {
            CardBackend = ActiveBackend;
            if (Answering != CardAnswers) {
                Observed = *CardBackend;
                Observed.control = Answering == RecordAnswers ? RecordingControl : ReplayingControl;
                ActiveBackend = &Observed;
            }
            RequestsAtStart = Requests();
            Current.cpu = CpuSeconds();
        } else {
            Current.cpu = CpuSeconds() - Current.cpu;
            ActiveBackend = CardBackend;
            Current.requests = Requests() - RequestsAtStart;
            if (Answering >= CheckedReplay && Next != Recorded.requests)
                Current.replayFailed = true;
        }
        return;
    }
    if (!after) {
        // The card's requests are marked from here on; the timer runs on
        // processor time, so sleeps take no samples.
        CardBackend = ActiveBackend;
        Observed = *CardBackend;
        Observed.control = ObservedControl;
        ActiveBackend = &Observed;
        signal(SIGPROF, OnSample);
        itimerval every = {{0, 250}, {0, 250}};
        setitimer(ITIMER_PROF, &every, 0);
        Sampling = 1;
        CommandStart = MonotonicNs();
        VirtualStart = VirtualMachineNow() ? VirtualMachineNow()->now : 0;
        WaitsAtStart = Waits;
        RequestsAtStart = Requests();
        return;
    }
    Sampling = 0;
    itimerval off = {{0, 0}, {0, 0}};
    setitimer(ITIMER_PROF, &off, 0);
    ActiveBackend = CardBackend;
    Current.wall = (MonotonicNs() - CommandStart) * 1e-9;
    Current.sleeps = (Waits.sleepNs - WaitsAtStart.sleepNs) * 1e-9;
    Current.busy = (Waits.busyNs - WaitsAtStart.busyNs) * 1e-9;
    Current.requests = Requests() - RequestsAtStart;
    Current.virtualNs = (VirtualMachineNow() ? VirtualMachineNow()->now : 0) - VirtualStart;
}

bool WriteFile(const char* path, const void* data, size_t size)
{
    FILE* file = fopen(path, "wb");
    if (!file)
        return false;
    bool ok = fwrite(data, 1, size, file) == size;
    return fclose(file) == 0 && ok;
}

bool WriteRecord(const char* path)
{
    FILE* file = fopen(path, "wb");
    if (!file)
        return false;
    bool ok = fwrite(&Recorded, sizeof Recorded, 1, file) == 1 &&
              fwrite(Table, sizeof *Table, Recorded.distinct, file) == Recorded.distinct &&
              fwrite(Indices, sizeof *Indices, Recorded.requests, file) == Recorded.requests;
    return fclose(file) == 0 && ok;
}

// Read before the command starts, so the replay's clock counts none of it;
// every page is touched here too.
bool ReadRecord(const char* path)
{
    FILE* file = fopen(path, "rb");
    if (!file)
        return false;
    bool ok = fread(&Recorded, sizeof Recorded, 1, file) == 1 && Recorded.distinct <= MaxAnswers &&
              Recorded.requests <= MaxRecorded &&
              fread(Table, sizeof *Table, Recorded.distinct, file) == Recorded.distinct &&
              fread(Indices, sizeof *Indices, Recorded.requests, file) == Recorded.requests;
    fclose(file);
    return ok;
}

// One update in a process of its own: the program's state starts fresh.
bool Measure(const Mode& mode, const Run& how, const char* folder, Sample* sample)
{
    char image[512], profile[512], answers[512];
    snprintf(image, sizeof image, "%s/image.rom", folder);
    snprintf(profile, sizeof profile, "%s/machine.profile", folder);
    snprintf(answers, sizeof answers, "%s/answers.txt", folder);

    VcBiosImageSpec spec;
    memset(&spec, 0, sizeof spec);
    VcParseBiosVersion("04.40.00.00", &spec);
    spec.vendorId = 0x10DE;
    spec.deviceId = mode.deviceId;
    spec.length = 65536;
    static uint8_t bytes[65536];
    if (!VcMakeBiosImage(spec, bytes, sizeof bytes) || !WriteFile(image, bytes, sizeof bytes) ||
        !WriteFile(answers, mode.answers, strlen(mode.answers)))
        return false;
    if (mode.profile && !WriteFile(profile, mode.profile, strlen(mode.profile)))
        return false;

    int results[2];
    if (pipe(results) != 0)
        return false;
    pid_t child = fork();
    if (child == 0) {
        close(results[0]);
        int in = open(answers, O_RDONLY);
        int out = open("/dev/null", O_WRONLY);
        if (in < 0 || out < 0)
            _exit(100);
        dup2(in, 0);
        dup2(out, 1);
        dup2(out, 2);
        char card[8];
        snprintf(card, sizeof card, "%d", mode.card);
        // The update alone is timed: the backup before it is left out.
        const char* args[12];
        int argc = 0;
        args[argc++] = "qzflash";
        args[argc++] = "--no-backup";
        args[argc++] = "--virtual";
        if (mode.profile)
            args[argc++] = profile;
        args[argc++] = "--card";
        args[argc++] = card;
        if (how.noWait)
            args[argc++] = "--no-wait";
        if (how.rehearseOnly)
            args[argc++] = "--rehearse-only";
        args[argc++] = "update";
        args[argc++] = image;
        args[argc] = 0;
        char recordPath[512];
        snprintf(recordPath, sizeof recordPath, "%s/answers.bin", folder);
        Answering = how.answers;
        if (Answering >= RecordAnswers) {
            Table = static_cast<Answer*>(malloc(MaxAnswers * sizeof *Table));
            Indices = static_cast<uint16_t*>(malloc(MaxRecorded * sizeof *Indices));
            if (!Table || !Indices)
                _exit(102);
        }
        if (Answering >= CheckedReplay && !ReadRecord(recordPath))
            _exit(103);
        QzflashCommandHook = OnCommand;
        uint64_t start = MonotonicNs();
        Current.status = QzflashRun(argc, const_cast<char**>(args));
        if (Answering == RecordAnswers) {
            Recorded.hash = Current.hash;
            Recorded.status = Current.status;
            if (!WriteRecord(recordPath))
                _exit(104);
        }
        Current.runWall = (MonotonicNs() - start) * 1e-9;
        Current.runWaits = (Waits.sleepNs + Waits.busyNs) * 1e-9;
        Current.rehearsal = LastRehearsal;
        ssize_t written = write(results[1], &Current, sizeof Current);
        _exit(written == sizeof Current ? 0 : 101);
    }
    close(results[1]);
    ssize_t got = read(results[0], sample, sizeof *sample);
    close(results[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return got == sizeof *sample && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The rehearsal's prediction against the update it foretells.
bool CompareRehearsal(const Mode& mode, const char* folder)
{
    Sample rehearsed, updated;
    memset(&rehearsed, 0, sizeof rehearsed);
    memset(&updated, 0, sizeof updated);
    if (!Measure(mode, Run{true, true, SampledAnswers}, folder, &rehearsed) || rehearsed.status != 0 ||
        !rehearsed.rehearsal.flashOk || !Measure(mode, Run{false, true, SampledAnswers}, folder, &updated) ||
        updated.status != 0) {
        printf("%-38s failed (exit status %d, %d)\n", mode.name, rehearsed.status, updated.status);
        return false;
    }
    const RehearsalResult& r = rehearsed.rehearsal;
    double predicted = r.totalNs * 1e-9, real = updated.virtualNs * 1e-9;
    double differs = real > 0 ? 100.0 * (predicted - real) / real : 0;
    printf("%-38s %9.3f %9.3f %+7.2f%% %8.3f %8.3f %9.3f %10llu %8.3f\n", mode.name, predicted, real, differs,
           r.sleepNs * 1e-9, r.loopNs * 1e-9, r.requests * r.requestCostNs * 1e-9,
           static_cast<unsigned long long>(r.requests), r.partBusyNs * 1e-9);
    // The twin is the card as the program sees it: a prediction a tenth off
    // says the twin or the prediction is wrong.
    return differs > -10.0 && differs < 10.0;
}

double Median(double* values, int count)
{
    std::sort(values, values + count);
    return count % 2 ? values[count / 2] : (values[count / 2 - 1] + values[count / 2]) / 2;
}

// The program's own processor time against the whole, for one mode.
bool MeasureFloor(const Mode& mode, const char* folder, int runs)
{
    Sample recorded;
    memset(&recorded, 0, sizeof recorded);
    if (!Measure(mode, Run{false, true, RecordAnswers}, folder, &recorded) || recorded.status != 0 ||
        recorded.replayFailed) {
        printf("%-38s failed to record (exit status %d)\n", mode.name, recorded.status);
        return false;
    }
    Sample checked;
    memset(&checked, 0, sizeof checked);
    if (!Measure(mode, Run{false, true, CheckedReplay}, folder, &checked) || checked.replayFailed ||
        checked.status != recorded.status || checked.hash != recorded.hash) {
        printf("%-38s the replay strayed from the record (exit status %d)\n", mode.name, checked.status);
        return false;
    }
    const int MaxRuns = 99;
    double modelled[MaxRuns], replayed[MaxRuns];
    for (int run = 0; run < runs; ++run) {
        Sample card, free;
        memset(&card, 0, sizeof card);
        memset(&free, 0, sizeof free);
        if (!Measure(mode, Run{false, true, ReplayAnswers}, folder, &free) || free.replayFailed ||
            free.status != recorded.status) {
            printf("%-38s the replay failed (exit status %d)\n", mode.name, free.status);
            return false;
        }
        if (!Measure(mode, Run{false, true, CardAnswers}, folder, &card) || card.status != 0 ||
            card.requests != recorded.requests) {
            printf("%-38s failed (exit status %d)\n", mode.name, card.status);
            return false;
        }
        modelled[run] = card.cpu;
        replayed[run] = free.cpu;
    }
    double whole = Median(modelled, runs), program = Median(replayed, runs);
    uint64_t requests = recorded.requests;
    printf("%-38s %9.2f %9.2f %6.1f%% %10llu %8.2f %8.2f\n", mode.name, whole * 1e3, program * 1e3,
           whole > 0 ? 100.0 * program / whole : 0.0, static_cast<unsigned long long>(requests),
           requests ? whole * 1e9 / requests : 0.0, requests ? program * 1e9 / requests : 0.0);
    return requests > 0;
}

}  // namespace

int main(int argc, char** argv)
{
    bool rehearsal = argc > 1 && strcmp(argv[1], "--rehearsal") == 0;
    bool floor = argc > 1 && strcmp(argv[1], "--floor") == 0;
    int first = rehearsal || floor ? 2 : 1;
    int runs = 9;
    if (floor && argc > 2 && strcmp(argv[2], "--runs") == 0) {
        char* end = 0;
        long n = argc > 3 ? strtol(argv[3], &end, 10) : 0;
        if (argc <= 3 || *end != 0 || end == argv[3] || n < 1 || n > 99) {
            fprintf(stderr, "usage: %s --floor --runs N: N is a whole number from 1 to 99\n", argv[0]);
            return 2;
        }
        runs = static_cast<int>(n);
        first = 4;
    }
    const char* only = argc > first ? argv[first] : 0;
    bool matched = !only;
    for (const Mode& mode : Modes)
        matched = matched || strstr(mode.name, only) != 0;
    if (argc > first + 1 || !matched) {
        fprintf(stderr, "usage: %s [--rehearsal | --floor [--runs N]] [PART-OF-A-MODE-NAME]%s%s\n", argv[0],
                matched ? "" : "; no mode matches ", matched ? "" : only);
        return 2;
    }
    char folder[] = "/tmp/qz-bench-XXXXXX";
    if (!mkdtemp(folder)) {
        perror("mkdtemp");
        return 2;
    }
    if (floor) {
        printf("Processor time of the update command (--no-wait), medians of %d alternating runs\n", runs);
        printf("card: the virtual card answers; free: its recorded answers replayed, a card that costs nothing\n");
        printf("%-38s %9s %9s %7s %10s %8s %8s\n", "mode", "card ms", "free ms", "free%", "requests", "ns/req",
               "free/req");
    } else if (rehearsal) {
        printf("Rehearsal on the twin against the update on the virtual card it stands for (virtual seconds)\n");
        printf("%-38s %9s %9s %8s %8s %8s %9s %10s %8s\n", "mode", "predicted", "update", "differs", "sleeps", "loops",
               "bus", "requests", "part");
    } else {
        printf("Update of a 64 KiB image with real waits (wall seconds of the update command)\n");
        printf("rest = program and driver dispatch + virtual card answering requests (sampled)\n");
        printf("%-38s %7s %7s %7s %7s %6s %7s %7s %6s %9s %7s %7s\n", "mode", "total", "sleeps", "busy", "rest",
               "rest%", "card", "program", "prog%", "requests", "ns/req", "samples");
    }
    bool allOk = true;
    bool builtinShown = false, othersShown = false;
    for (const Mode& mode : Modes) {
        if (only && !strstr(mode.name, only))
            continue;
        if (mode.builtin && !builtinShown) {
            printf("-- the built-in machine\n");
            builtinShown = true;
        } else if (!mode.builtin && !othersShown) {
            printf("-- one-card machines for the program modes the built-in one lacks\n");
            othersShown = true;
        }
        if (floor) {
            allOk = MeasureFloor(mode, folder, runs) && allOk;
            continue;
        }
        if (rehearsal) {
            allOk = CompareRehearsal(mode, folder) && allOk;
            continue;
        }
        Sample s;
        memset(&s, 0, sizeof s);
        if (!Measure(mode, Run{false, false, SampledAnswers}, folder, &s) || s.status != 0) {
            printf("%-38s failed (exit status %d)\n", mode.name, s.status);
            allOk = false;
            continue;
        }
        double rest = s.wall - s.sleeps - s.busy;
        // Processor time is the rest and the busy loops; the card's share of
        // the samples is its share of that time.
        double card = s.samples ? (rest + s.busy) * s.cardSamples / s.samples : 0;
        if (card > rest)
            card = rest;
        double program = rest - card;
        double share = s.wall > 0 ? 100.0 * rest / s.wall : 0;
        double programShare = s.wall > 0 ? 100.0 * program / s.wall : 0;
        // A rest under the bound needs no split; otherwise the split must
        // rest on enough samples to mean something.
        bool within = share < 10.0 || (s.samples >= 200 && programShare < 10.0);
        printf("%-38s %7.3f %7.3f %7.3f %7.3f %5.2f%% %7.3f %7.3f %5.2f%% %9llu %7.1f %7llu%s\n", mode.name,
               s.wall, s.sleeps, s.busy, rest, share, card, program, programShare,
               static_cast<unsigned long long>(s.requests), s.requests ? rest * 1e9 / s.requests : 0.0,
               static_cast<unsigned long long>(s.samples),
               within ? "" : s.samples < 200 ? "  OVER 10%, TOO FEW SAMPLES TO SPLIT" : "  OVER 10%");
        printf("%-38s %7.3f %7s %7s %7.3f %5.2f%%   (whole run, start-up included)\n", "", s.runWall, "", "",
               s.runWall - s.runWaits, 100.0 * (s.runWall - s.runWaits) / s.runWall);
        if (!within)
            allOk = false;
    }
    char command[64];
    snprintf(command, sizeof command, "rm -rf '%s'", folder);
    if (system(command) != 0)
        return 2;
    return allOk ? 0 : 1;
}
