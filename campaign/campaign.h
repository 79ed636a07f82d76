// The fault-injection campaign: randomised update, save and restore flows on
// randomised virtual machines, with faults injected into the card, the flash
// part, the driver requests, the file system and the process itself, and the
// invariants every run must keep.
//
// A run is drawn from (seed, run number) alone, so any run can be replayed.
// It executes in a child process on a machine held in shared memory: the
// child is a fresh QZFlash process, may be killed on purpose in the middle of
// a write, and a hang or a sanitizer report shows as the child's end.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "vcard/model/vcard.h"

enum FlowKind : uint8_t { FlowUpdate, FlowSave, FlowRestore, FlowKindCount };

// What the update reads. The first two are loadable; every other one must be
// refused before anything reaches the part.
enum ImageKind : uint8_t {
    ImageGood,
    ImageLongFile,      // a good header in a file of 65,537 bytes or 10 MB
    ImageWrongIds,
    ImagePageMisfit,    // length (by the header's extension) not a multiple of the page
    ImageTruncated,     // the file ends before the header's length
    ImageOversized,     // the header declares more than 64 KiB
    ImageHeaderless,
    ImageSizeByteZero,
    ImageEmptyFile,
    ImageOneByte,
    Image65535,         // a 64 KiB header in a file one byte short
    ImageMissing,
    ImageKindCount,
};
bool ImageMustBeRefused(ImageKind kind);
const char* ImageKindName(ImageKind kind);

enum FaultKind : uint8_t {
    FaultRequest,           // driver requests fail (a rule: kind, skip, count)
    FaultStuckBit,
    FaultFlippedBit,        // a programmed bit flips while the write goes on
    FaultDeadByte,
    FaultEraseNeverEnds,
    FaultProgramNeverEnds,
    FaultPageLoadTimeout,
    FaultDataInStuck,
    FaultSwitchStuck,       // the ROM access switch does not respond
    FaultDualBiosStops,     // the dual-BIOS register stops following
    FaultDiskFull,          // the save's write stops short
    FaultWriteRefused,
    FaultCloseFails,
    FaultCreateFails,
    FaultReadFails,         // the image file cannot be read
    FaultKilled,            // the process dies in the middle of the write
    FaultSecondRun,         // a second run starts on the machine in the middle of the write
    FaultKilledInFile,      // the process is ended in the middle of a file write (save or part files)
    FaultKindCount,
};
const char* FaultKindName(FaultKind kind);

enum Invariant : uint8_t {
    InvSuccessButDiffers,   // "Flash OK!! " / "Flash completely" with other contents in the part
    InvRefusedTouched,      // a refused image, a declined flash, a save or no flow at all changed the part
    InvSaveFile,            // a save left anything but a verified file, no file, or a complete one with the failure told
    InvCrash,               // the process crashed or a sanitizer reported
    InvHang,                // the flow did not end in time
    InvUntold,              // a failure without the step that failed
    InvSwitchOpen,          // ROM access left open by a flow that ended normally
    InvResources,           // device contexts or the driver not given back at exit
    InvTwoRuns,             // two runs on one machine both report success while a part differs from what the
                            // last success wrote (or a run the machine's lock refused touched it)
    InvExistingFile,        // a file at a save or part-file path was lost or left partial
    InvariantCount,
};
const char* InvariantName(Invariant invariant);

enum FlowResult : uint8_t { ResultNoFlow, ResultSucceeded, ResultDeclined, ResultFailed, ResultStartFailed, ResultCount };
const char* FlowResultName(FlowResult result);

// 64-bit generator (splitmix64): cheap, and the same on every platform.
struct Rng {
    uint64_t state;
    uint64_t Next();
    uint32_t Below(uint32_t n);             // 0 .. n-1
    uint32_t Between(uint32_t lo, uint32_t hi);   // lo .. hi
    bool Percent(uint32_t p);
};
Rng RunRng(uint64_t seed, uint32_t run);

struct Scenario {
    uint32_t run;
    std::string profile;        // the machine, its part and card faults, fail rules
    uint32_t cardCount;
    uint32_t selection;         // line chosen in the card selection dialog
    bool dualBoard;
    bool bootedFromRom2;
    bool dualDialogOk;          // booted from ROM 2: accept the start-up offer to restore
    bool reserved;              // the card's straps name the reserved interface
    uint16_t ntMinor;           // 0: Windows 2000, 1: XP (quick serial pulses)
    const char* partName;
    uint16_t pageSize;
    uint8_t bus;                // VcPartBus the part answers
    FlowKind flow;
    ImageKind image;
    uint32_t imageLength;
    uint32_t longFileBytes;     // ImageLongFile: the file's size
    bool confirm;               // OK in the flash confirmation
    bool longPath;              // the image or backup path is 259 characters
    uint32_t faults;            // bit per FaultKind
    uint32_t flipAtDraw;        // FaultFlippedBit: the progress draw at which a bit flips
    uint32_t killAtDraw;        // FaultKilled: the progress draw at which the process dies
    int32_t writeLimit;         // FaultDiskFull: bytes the save's write stores
    // FaultSecondRun: the progress draw at which a second run starts on the
    // machine, and that run's flow.
    uint32_t secondRunAtDraw;
    FlowKind secondFlow;
    bool isSecondRun;           // this is that second run: its own file names and image
    // Files in place (see DrawFilesInPlace): an old file at the save path,
    // part files the machine is written back to at the end, and where a
    // file write is cut off by the end of the process.
    bool oldSaveFile;
    uint32_t oldSaveSize;
    bool partFiles;
    bool fileKillInSave;  // FaultKilledInFile: in the save's write, else the part files'
    int32_t fileKillAt;   // FaultKilledInFile: the byte of the file at which the process ends
};

// The update's image file for a card with these ids: a good image of the
// scenario's length, or the kind of bad one it names.
std::vector<uint8_t> CampaignImageFile(const Scenario& s, uint16_t vendorId, uint16_t deviceId);

// The second run started during the write of `first`: a faultless flow on
// the same machine and card, with an image of its own.
Scenario SecondRunScenario(const Scenario& first);

// Draws run `run` of the campaign with `seed`.
Scenario DrawScenario(uint64_t seed, uint32_t run);
// One line naming the machine and plan, for reports.
std::string DescribeScenario(const Scenario& s);

// What a run did, as the invariants see it. Filled in the child.
enum : uint32_t { FactTextSize = 160, FactLineCount = 24 };
struct RunFacts {
    FlowKind flow;
    ImageKind imageKind;
    bool started;
    bool flowRan;               // the command ran (the start-up offer to restore may not come)
    bool declined;              // the confirmation was answered with Cancel
    bool successShown;          // "Flash OK!! " or "Flash completely" (update, restore)
    bool saveSuccessShown;      // "Back up completed  !! " and "Save file to  " (save)
    bool saveFailureShown;      // "File open faile ,can't backup from BOIS" or "File not open ! "
    bool failureBoxShown;       // "Flash faile!!" or any box with caption "Error"
    bool anyBox;
    // Visible status lines of the command (from line 5), and the last box text.
    uint32_t lineCount;
    char lines[FactLineCount][FactTextSize];
    char lastBox[FactTextSize];
    // The part the ROM window reached (the one written or read), before and
    // after, as it reads (effective cells); on a board the program took for
    // dual-BIOS, whether that was ROM 1.
    bool dualBios;
    bool romOneSelected;
    const uint8_t* partBefore;
    const uint8_t* partAfter;
    uint32_t partSize;
    uint64_t erasesBefore, erasesAfter, programsBefore, programsAfter;
    // The image the flow meant to write: file content or ROM 2's.
    const uint8_t* image;
    uint32_t imageLength;
    // Save: the ROM's view when the flow began, its header length (0 when
    // invalid or over 64 KiB), and the file left behind.
    const uint8_t* rom;
    uint32_t romLength;
    bool fileExists;
    const uint8_t* file;
    uint32_t fileSize;
    // End of the run.
    bool requestFaults;         // request failures or a stuck switch were injected
    bool switchOpenAtEnd;
    int32_t openDcsAfterExit;
    uint32_t foreignDcReleases;
    bool driverClosed;
    // Save over an old file: what stood at the path before.
    bool oldFileExisted;
    const uint8_t* oldFile;
    uint32_t oldFileSize;
};

// Bit per Invariant broken by the run; `why` (FactTextSize per invariant)
// says what was seen.
uint32_t CheckRun(const RunFacts& facts, char why[][FactTextSize]);

// Runs one scenario in this process on `machine` (already loaded with the
// scenario's profile) inside `folder` (which holds the driver file), checks
// it, and fills the verdict.
enum OldFileOutcome : uint8_t { OldFileNone, OldFileKept, OldFileReplaced };
struct RunVerdict {
    bool complete;              // filled in before the part files were written back
    OldFileOutcome oldFile;     // what became of an old file at the save path
    FlowKind flow;              // the flow that ran (an accepted restore offer makes it a restore)
    uint32_t violations;
    char why[InvariantCount][FactTextSize];
    FlowResult result;
    uint64_t requests;
    VcTime virtualNs;
    bool faultFired[FaultKindCount];
    // One run per machine: refused because another run (lockHolder, 0 when
    // unknown) held the machine's lock; nothing was started.
    bool lockRefused;
    long lockHolder;
    // A write that reported success: the card and part it wrote (machine
    // indices, -1 for none) and the image.
    int32_t wroteCard;
    int32_t wrotePart;
    uint32_t wroteLength;
    uint8_t wrote[65536];
};
void ExecuteRun(const Scenario& s, VcMachine* machine, const char* folder, RunVerdict* verdict);
// The run after a process killed in the middle of a write: a new program on
// the same part, updating it with a good image and no faults.
Scenario RecoveryScenario(const Scenario& killed);

// The part's contents as they read (stuck bits applied) from `raw`.
std::vector<uint8_t> EffectivePart(const VcFlashPart* part, const uint8_t* raw);

// Two runs on one card, the second started during the first's write and
// ended before it: the parts of the card before both and after both, and
// what each run did.
struct TwoRunFacts {
    bool firstSucceeded;
    bool secondSucceeded;
    bool secondRefused;         // by the machine's lock
    uint64_t secondRequests;    // driver requests the second run sent
    uint32_t partCount;
    const uint8_t* before[VcMaxPartsPerCard];
    const uint8_t* after[VcMaxPartsPerCard];
    uint32_t partSize[VcMaxPartsPerCard];
    // The part each success wrote (-1: none) and its image.
    int32_t firstPart, secondPart;
    const uint8_t* firstImage;
    const uint8_t* secondImage;
    uint32_t firstLength, secondLength;
};
// Bit InvTwoRuns when broken, with the reason in why[InvTwoRuns].
uint32_t CheckTwoRuns(const TwoRunFacts& facts, char why[][FactTextSize]);
// ---- files in place (files.cpp) ----

typedef std::vector<uint8_t> CampaignBytes;
// The whole of a file; *exists says whether it could be opened.
CampaignBytes CampaignReadFile(const std::string& path, bool* exists);
// Draws the scenario's files in place from a generator of their own, so
// that the rest of a run is drawn as before.
void DrawFilesInPlace(uint64_t seed, Scenario* s);
// The file names of the target card's parts, beside the profile.
const char* PartFileName(int rom);
// Where the save writes, in `folder` (run.cpp), and what stands there before.
std::string SavePath(const Scenario& s, const std::string& folder);
CampaignBytes OldSaveFile(const Scenario& s);
// From here on, the process ends (SIGXFSZ) when a file it writes reaches
// `bytes`; -1 lifts the limit.
void LimitFileWrites(int32_t bytes);
// The part files as they stand, one per part that has a file.
std::vector<CampaignBytes> ReadPartFiles(const VcMachine* machine);
// Each part file is the old one byte for byte or the part's whole contents;
// false with `why` otherwise. Counts the files kept and replaced.
bool PartFilesKeptOrWhole(const VcMachine* machine, const std::vector<CampaignBytes>& old, uint32_t* kept,
                          uint32_t* replaced, char* why, size_t whySize);
