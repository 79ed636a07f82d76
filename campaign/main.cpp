// qz_campaign: the fault-injection campaign on the virtual card.
//
//   qz_campaign [--runs N] [--seed S] [--timeout SECONDS] [--run K] [--verbose]
//
// Runs N randomised flows (default 300, seed 1); --run K replays run K of the
// seed alone and shows what it did. Each run is a child process on a machine
// in shared memory; a run that outlives the timeout (default 120 s of real
// time) counts as a hang, one that dies otherwise than planned as a crash or
// sanitizer report. Prints a table of runs, faults and violations; exits 1
// when any invariant was broken or no run was executed, 2 on a wrong
// argument (numbers are whole and in range: --runs from 1).
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "campaign/campaign.h"
#include "vcard/host/vcard_host.h"

bool CampaignVerbose;

namespace {

struct Shared {
    VcMachine machine;
    RunVerdict verdict;
    RunVerdict second;          // the run started during the write of another
};

// What became of the files in place (files.cpp).
struct FileTally {
    uint32_t savesOverOldFile, oldSaveKept, oldSaveReplaced;
    uint32_t partFileRuns, partFilesKept, partFilesReplaced;
    uint32_t killsInSave, killsInPartFiles;
};

struct Tally {
    uint32_t runs;
    uint32_t byFlow[FlowKindCount + 1][ResultCount];   // the extra row: runs after a kill
    uint32_t faults[FaultKindCount];
    uint32_t fired[FaultKindCount];
    uint32_t violations[InvariantCount];
    uint32_t profileErrors;
    // Runs after a kill whose program could not start on the part left behind.
    std::string recoveryStartFailures;
    // The same where the killed run's part hung in an erase or program: it
    // stays busy until the machine is switched off, as a real one would.
    std::string recoveryPartHung;
    uint64_t maxRequests;
    uint32_t maxRequestsRun;
    VcTime maxVirtualNs;
    // Second runs started during a write: refused by the machine's lock, or run.
    uint32_t secondRuns;
    uint32_t secondRefused;
    uint32_t secondRan;
    FileTally files;
};

enum Outcome { OutcomeVerdict, OutcomeKilled, OutcomeFileKilled, OutcomeHang, OutcomeCrash };

// The second run of a scenario, started while its first run stood still in
// the middle of its write.
struct SecondRun {
    bool started;
    Outcome outcome;
    uint64_t requests;          // driver requests it sent
    // The card's parts before the first run began.
    int cardCount;
    std::vector<std::vector<uint8_t>> partsBefore;
} Second;

double Now()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

void RunSecond(const Scenario& first, Shared* shared, const char* folder, unsigned timeout);

// Runs the scenario in a child process; the verdict lands in shared memory.
Outcome RunChild(const Scenario& s, Shared* shared, const char* folder, unsigned timeout, int* status)
{
    RunVerdict* verdict = s.isSecondRun ? &shared->second : &shared->verdict;
    memset(verdict, 0, sizeof *verdict);
    fflush(stdout);
    fflush(stderr);
    pid_t pid = fork();
    if (pid == 0) {
        alarm(timeout);
        ExecuteRun(s, &shared->machine, folder, verdict);
        fflush(stdout);
        fflush(stderr);
        _exit(0);
    }
    if (pid < 0) {
        perror("qz_campaign: fork");
        exit(2);
    }
    *status = 0;
    for (;;) {
        if (waitpid(pid, status, WUNTRACED) < 0)
            continue;
        if (!WIFSTOPPED(*status))
            break;
        // The run stopped itself for a second run on its machine.
        RunSecond(s, shared, folder, timeout);
        kill(pid, SIGCONT);
    }
    if (WIFEXITED(*status) && WEXITSTATUS(*status) == 0)
        return OutcomeVerdict;
    if (WIFSIGNALED(*status) && WTERMSIG(*status) == SIGKILL && verdict->faultFired[FaultKilled])
        return OutcomeKilled;
    if (WIFSIGNALED(*status) && WTERMSIG(*status) == SIGXFSZ && (s.faults & (1u << FaultKilledInFile)))
        return OutcomeFileKilled;
    if (WIFSIGNALED(*status) && WTERMSIG(*status) == SIGALRM)
        return OutcomeHang;
    return OutcomeCrash;
}

// After a kill the machine keeps its state; the faults of the killed run go.
void ClearFaults(VcMachine* machine)
{
    memset(machine->faults, 0, sizeof machine->faults);
    for (int c = 0; c < machine->cardCount; ++c) {
        VcCard& card = machine->cards[c];
        memset(&card.faults, 0, sizeof card.faults);
        card.dualPinsFrozen = false;
        for (int i = 0; i < VcMaxPartsPerCard; ++i)
            memset(&card.parts[i].faults, 0, sizeof card.parts[i].faults);
    }
}

void CountViolations(Tally& t, const Scenario& s, const RunVerdict& v, bool show)
{
    for (int i = 0; i < InvariantCount; ++i) {
        if (!(v.violations & (1u << i)))
            continue;
        t.violations[i]++;
        if (show)
            printf("  VIOLATION %s: %s\n    %s\n", InvariantName(static_cast<Invariant>(i)), v.why[i],
                   DescribeScenario(s).c_str());
    }
}

void Count(Tally& t, const Scenario& s, int row, Outcome outcome, const RunVerdict& v, bool show)
{
    if (outcome == OutcomeHang) {
        t.violations[InvHang]++;
        if (show)
            printf("  VIOLATION %s: no end within the timeout\n    %s\n", InvariantName(InvHang), DescribeScenario(s).c_str());
        return;
    }
    if (outcome == OutcomeCrash) {
        t.violations[InvCrash]++;
        if (show)
            printf("  VIOLATION %s\n    %s\n", InvariantName(InvCrash), DescribeScenario(s).c_str());
        return;
    }
    t.byFlow[row][v.result]++;
    if (v.requests > t.maxRequests) {
        t.maxRequests = v.requests;
        t.maxRequestsRun = s.run;
    }
    if (v.virtualNs > t.maxVirtualNs)
        t.maxVirtualNs = v.virtualNs;
    CountViolations(t, s, v, show);
}

// Before a run that starts a second one: the parts as they are.
void NoteBeforeFirst(const VcMachine& machine)
{
    Second = SecondRun{};
    Second.cardCount = machine.cardCount;
    for (int c = 0; c < machine.cardCount; ++c) {
        for (int i = 0; i < VcMaxPartsPerCard; ++i) {
            const VcFlashPart& part = machine.cards[c].parts[i];
            Second.partsBefore.push_back(std::vector<uint8_t>(part.data, part.data + part.size));
        }
    }
}

// Runs the second run of `first` to its end while the first stands still.
void RunSecond(const Scenario& first, Shared* shared, const char* folder, unsigned timeout)
{
    Scenario second = SecondRunScenario(first);
    uint64_t before = shared->machine.requestCount;
    int status = 0;
    Second.outcome = RunChild(second, shared, folder, timeout, &status);
    Second.requests = shared->machine.requestCount - before;
    Second.started = true;
}

// The second run's own invariants, then the one over both runs and the
// machine they left.
void CountTwoRuns(Tally& t, const Scenario& s, Outcome firstOutcome, const Shared& shared, bool show)
{
    if (!Second.started)
        return;
    const RunVerdict& a = shared.verdict;
    const RunVerdict& b = shared.second;
    const Scenario second = SecondRunScenario(s);
    bool told = Second.outcome == OutcomeVerdict;
    t.secondRuns++;
    (told && b.lockRefused ? t.secondRefused : t.secondRan)++;
    if (!told) {
        Invariant broken = Second.outcome == OutcomeHang ? InvHang : InvCrash;
        t.violations[broken]++;
        if (show)
            printf("  VIOLATION %s (second run)\n    %s\n", InvariantName(broken), DescribeScenario(second).c_str());
    }
    if (told)
        CountViolations(t, second, b, show);
    if (firstOutcome != OutcomeVerdict)
        return;
    TwoRunFacts f;
    memset(&f, 0, sizeof f);
    f.firstSucceeded = a.result == ResultSucceeded;
    f.secondSucceeded = told && b.result == ResultSucceeded;
    f.secondRefused = told && b.lockRefused;
    f.secondRequests = Second.requests;
    f.firstPart = f.secondPart = -1;
    int card = a.wroteCard >= 0 ? a.wroteCard : b.wroteCard;
    std::vector<uint8_t> before[VcMaxPartsPerCard], after[VcMaxPartsPerCard];
    if (card >= 0 && card < shared.machine.cardCount && card < Second.cardCount) {
        const VcCard& c = shared.machine.cards[card];
        f.partCount = static_cast<uint32_t>(c.partCount);
        for (int p = 0; p < c.partCount && p < VcMaxPartsPerCard; ++p) {
            before[p] = EffectivePart(&c.parts[p], Second.partsBefore[card * VcMaxPartsPerCard + p].data());
            after[p] = EffectivePart(&c.parts[p], c.parts[p].data);
            f.before[p] = before[p].data();
            f.after[p] = after[p].data();
            f.partSize[p] = c.parts[p].size;
        }
        if (a.wroteCard == card) {
            f.firstPart = a.wrotePart;
            f.firstImage = a.wrote;
            f.firstLength = a.wroteLength;
        }
        if (told && b.wroteCard == card) {
            f.secondPart = b.wrotePart;
            f.secondImage = b.wrote;
            f.secondLength = b.wroteLength;
        }
    }
    char why[InvariantCount][FactTextSize];
    if (CheckTwoRuns(f, why)) {
        t.violations[InvTwoRuns]++;
        if (show)
            printf("  VIOLATION %s: %s\n    %s\n    %s\n", InvariantName(InvTwoRuns), why[InvTwoRuns],
                   DescribeScenario(s).c_str(), DescribeScenario(second).c_str());
    }
}

void PrintFileTable(const FileTally& f)
{
    printf("  %-30s %9s %9s %9s %9s\n", "files in place", "runs", "kept", "replaced", "ended in");
    printf("  %-30s %9u %9u %9u %9u\n", "old file at the save path", f.savesOverOldFile, f.oldSaveKept,
           f.oldSaveReplaced, f.killsInSave);
    printf("  %-30s %9u %9u %9u %9u\n", "part files written back", f.partFileRuns, f.partFilesKept, f.partFilesReplaced,
           f.killsInPartFiles);
}

// Part files are made from the profile's generated images before the run,
// as a first run of qzflash leaves them; an old save file the run places
// itself.
std::vector<CampaignBytes> PlacePartFiles(const Scenario& s, VcMachine* machine)
{
    if (!s.partFiles)
        return {};
    char error[512];
    if (!VcSaveFlashFiles(machine, error, sizeof error)) {
        fprintf(stderr, "qz_campaign: %s\n", error);
        exit(2);
    }
    return ReadPartFiles(machine);
}

void RemovePartFiles(const char* folder)
{
    for (int rom = 0; rom < 2; ++rom)
        remove((std::string(folder) + "/" + PartFileName(rom)).c_str());
}

// After the run (and a run after a kill): no file in place was lost or left
// partial. The run checks an old save file itself, unless it was ended in
// the middle of writing it.
void CheckFilesInPlace(Tally& t, const Scenario& s, const char* folder, const VcMachine* machine,
                       const std::vector<CampaignBytes>& oldParts, Outcome outcome, const RunVerdict& v)
{
    FileTally& f = t.files;
    char why[FactTextSize] = "";
    bool lost = false;
    if (s.partFiles) {
        uint32_t kept = 0, replaced = 0;
        f.partFileRuns++;
        lost = !PartFilesKeptOrWhole(machine, oldParts, &kept, &replaced, why, sizeof why);
        (replaced > 0 ? f.partFilesReplaced : f.partFilesKept)++;
    }
    bool endedInSave = outcome == OutcomeFileKilled && !v.complete;
    if (outcome == OutcomeFileKilled)
        (endedInSave ? f.killsInSave : f.killsInPartFiles)++;
    if (s.flow == FlowSave && v.oldFile != OldFileNone) {
        f.savesOverOldFile++;
        (v.oldFile == OldFileKept ? f.oldSaveKept : f.oldSaveReplaced)++;
    } else if (endedInSave && s.oldSaveFile) {
        f.savesOverOldFile++;
        bool exists = false;
        CampaignBytes old = OldSaveFile(s), now = CampaignReadFile(SavePath(s, folder), &exists);
        if (exists && now == old) {
            f.oldSaveKept++;
        } else {
            lost = true;
            snprintf(why, sizeof why, "save ended mid-write: the old file of %zu bytes is %s", old.size(),
                     exists ? "changed" : "gone");
        }
    } else if (endedInSave) {
        bool exists = false;
        CampaignReadFile(SavePath(s, folder), &exists);
        if (exists) {
            t.violations[InvSaveFile]++;
            printf("  VIOLATION %s: a save ended mid-write left a file\n    %s\n", InvariantName(InvSaveFile),
                   DescribeScenario(s).c_str());
        }
    }
    if (lost) {
        t.violations[InvExistingFile]++;
        printf("  VIOLATION %s: %s\n    %s\n", InvariantName(InvExistingFile), why, DescribeScenario(s).c_str());
    }
}

void PrintTable(const Tally& t, uint64_t seed, double seconds)
{
    static const char* const Rows[FlowKindCount + 1] = {"update", "save", "restore", "update after a kill"};
    printf("\nfault-injection campaign: seed %llu, %u runs, %.1f s\n", static_cast<unsigned long long>(seed), t.runs,
           seconds);
    printf("  %-22s %7s %10s %8s %9s %9s %8s\n", "flow", "runs", "succeeded", "failed", "declined", "start-up",
           "no flow");
    for (int r = 0; r <= FlowKindCount; ++r) {
        uint32_t total = 0;
        for (int k = 0; k < ResultCount; ++k)
            total += t.byFlow[r][k];
        printf("  %-22s %7u %10u %8u %9u %9u %8u\n", Rows[r], total, t.byFlow[r][ResultSucceeded],
               t.byFlow[r][ResultFailed], t.byFlow[r][ResultDeclined], t.byFlow[r][ResultStartFailed],
               t.byFlow[r][ResultNoFlow]);
    }
    printf("  %-30s %9s %9s\n", "fault injected", "runs", "reached");
    for (int k = 0; k < FaultKindCount; ++k)
        printf("  %-30s %9u %9u\n", FaultKindName(static_cast<FaultKind>(k)), t.faults[k], t.fired[k]);
    printf("  %-38s %10s\n", "invariant", "violations");
    uint32_t total = 0;
    for (int i = 0; i < InvariantCount; ++i) {
        printf("  %-38s %10u\n", InvariantName(static_cast<Invariant>(i)), t.violations[i]);
        total += t.violations[i];
    }
    PrintFileTable(t.files);
    printf("  most driver requests in one run: %llu (run %u); longest run: %.1f s of virtual time\n",
           static_cast<unsigned long long>(t.maxRequests), t.maxRequestsRun, t.maxVirtualNs * 1e-9);
    if (t.secondRuns)
        printf("  second runs started during a write: %u (%u refused at once by the machine's lock, %u ran)\n",
               t.secondRuns, t.secondRefused, t.secondRan);
    if (!t.recoveryStartFailures.empty())
        printf("  after a kill the program could not start (runs%s)\n", t.recoveryStartFailures.c_str());
    if (!t.recoveryPartHung.empty())
        printf("  after a kill the part was still hung in its erase or program (runs%s)\n", t.recoveryPartHung.c_str());
    if (t.profileErrors)
        printf("  %u scenario(s) could not be loaded\n", t.profileErrors);
    printf("qz_campaign: %u violation(s)\n", total);
}

void Usage(const char* problem, const char* argument)
{
    if (problem)
        fprintf(stderr, "qz_campaign: %s%s%s%s\n", problem, argument ? " \"" : "", argument ? argument : "",
                argument ? "\"" : "");
    fprintf(stderr, "usage: qz_campaign [--runs N] [--seed S] [--timeout SECONDS] [--run K] [--verbose]\n");
    exit(2);
}

// A whole decimal number from `min` to `max`: anything else ends the
// program with status 2, so that a mistyped argument never passes as a run.
uint64_t Number(const char* option, const char* text, uint64_t min, uint64_t max)
{
    uint64_t value = 0;
    bool digits = text[0] != 0;
    for (const char* c = text; *c && digits; ++c) {
        digits = *c >= '0' && *c <= '9' && value <= (max - static_cast<uint64_t>(*c - '0')) / 10;
        value = value * 10 + static_cast<uint64_t>(*c - '0');
    }
    if (!digits || value < min || value > max) {
        char problem[160];
        snprintf(problem, sizeof problem, "%s takes a number from %llu to %llu, not", option,
                 static_cast<unsigned long long>(min), static_cast<unsigned long long>(max));
        Usage(problem, text);
    }
    return value;
}

} // namespace

int main(int argc, char** argv)
{
    uint32_t runs = 300;
    uint64_t seed = 1;
    unsigned timeout = 120;
    long only = -1;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool valued = a == "--runs" || a == "--seed" || a == "--timeout" || a == "--run";
        if (valued && i + 1 >= argc)
            Usage("a number must follow", argv[i]);
        if (a == "--runs")
            runs = static_cast<uint32_t>(Number("--runs", argv[++i], 1, 100000000));
        else if (a == "--seed")
            seed = Number("--seed", argv[++i], 0, UINT64_MAX);
        else if (a == "--timeout")
            timeout = static_cast<unsigned>(Number("--timeout", argv[++i], 1, 86400));
        else if (a == "--run")
            only = static_cast<long>(Number("--run", argv[++i], 0, UINT32_MAX - 1));
        else if (a == "--verbose")
            CampaignVerbose = true;
        else
            Usage("unknown argument", argv[i]);
    }
    if (only >= 0)
        CampaignVerbose = true;

    char folder[] = "/tmp/qzcampaign.XXXXXX";
    if (!mkdtemp(folder)) {
        perror("qz_campaign: temporary folder");
        return 2;
    }
    std::string driver = std::string(folder) + "/QZF.sys";
    FILE* f = fopen(driver.c_str(), "wb");
    if (!f || fputs("driver", f) < 0 || fclose(f) != 0) {
        perror("qz_campaign: driver file");
        return 2;
    }
    void* memory = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) {
        perror("qz_campaign: shared memory");
        return 2;
    }
    Shared* shared = static_cast<Shared*>(memory);

    Tally tally = {};
    double start = Now();
    uint32_t first = only >= 0 ? static_cast<uint32_t>(only) : 0;
    uint32_t end = only >= 0 ? first + 1 : runs;
    for (uint32_t run = first; run < end; ++run) {
        Scenario s = DrawScenario(seed, run);
        if (CampaignVerbose)
            printf("%s\n%s", DescribeScenario(s).c_str(), s.profile.c_str());
        char error[256];
        VcReset(&shared->machine);
        RemovePartFiles(folder);
        if (!VcLoadProfileText(s.profile.c_str(), "campaign", folder, &shared->machine, error, sizeof error)) {
            tally.profileErrors++;
            printf("  scenario %u cannot be loaded: %s\n%s", run, error, s.profile.c_str());
            continue;
        }
        std::vector<CampaignBytes> oldParts = PlacePartFiles(s, &shared->machine);
        tally.runs++;
        for (int k = 0; k < FaultKindCount; ++k) {
            if (s.faults & (1u << k))
                tally.faults[k]++;
        }
        int status = 0;
        Second.started = false;
        if (s.secondRunAtDraw != 0)
            NoteBeforeFirst(shared->machine);
        Outcome outcome = RunChild(s, shared, folder, timeout, &status);
        for (int k = 0; k < FaultKindCount; ++k) {
            if (shared->verdict.faultFired[k])
                tally.fired[k]++;
        }
        CountTwoRuns(tally, s, outcome, *shared, true);
        if (outcome == OutcomeFileKilled)
            tally.fired[FaultKilledInFile]++;
        if (outcome != OutcomeKilled) {
            // A run ended while it wrote its part files had its verdict by then.
            bool verdict = outcome == OutcomeVerdict || (outcome == OutcomeFileKilled && shared->verdict.complete);
            int row = verdict ? shared->verdict.flow : s.flow;
            if (outcome != OutcomeFileKilled || verdict)
                Count(tally, s, row, verdict ? OutcomeVerdict : outcome, shared->verdict, true);
            CheckFilesInPlace(tally, s, folder, &shared->machine, oldParts, outcome, shared->verdict);
            continue;
        }
        // A new program on the part the killed one left.
        // A person starts the program again some seconds later: long enough
        // for any erase that can end to have ended.
        ClearFaults(&shared->machine);
        VcAdvance(&shared->machine, 10000000000ull);
        Scenario again = RecoveryScenario(s);
        outcome = RunChild(again, shared, folder, timeout, &status);
        Count(tally, again, FlowKindCount, outcome, shared->verdict, true);
        if (outcome == OutcomeVerdict && shared->verdict.result == ResultStartFailed) {
            bool hung = s.faults & (1u << FaultEraseNeverEnds | 1u << FaultProgramNeverEnds);
            (hung ? tally.recoveryPartHung : tally.recoveryStartFailures) += " " + std::to_string(run);
        }
        CheckFilesInPlace(tally, again, folder, &shared->machine, oldParts, outcome, shared->verdict);
    }
    PrintTable(tally, seed, Now() - start);

    std::string cleanup = std::string("rm -rf '") + folder + "'";
    if (system(cleanup.c_str()) != 0)
        fprintf(stderr, "qz_campaign: could not remove %s\n", folder);
    uint32_t broken = tally.profileErrors;
    for (int i = 0; i < InvariantCount; ++i)
        broken += tally.violations[i];
    if (tally.runs == 0) {
        printf("qz_campaign: no run was executed\n");
        return 1;
    }
    return broken == 0 ? 0 : 1;
}
