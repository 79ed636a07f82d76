// The invariants every run must keep, checked on the facts a run gathered.
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "campaign/campaign.h"

namespace {

// Lines that name the step of a flash that failed.
const char* const FlashStepLines[] = {
    "Device ID ( ",
    "ROM file size is 0",
    "Page size is not mach witch ROM !",
    "Erase BIOS",                       // not blank after two erases: the step has no line of its own
    "Erase faile!!",
    "Write to ROM error at ",
    "Write to ROM ERRROR",
    "ROM file size isn't the same!!",
    "Data isn't the same at ",
};

// Lines a command shows when it stops before the flash.
const char* const CommandFailureLines[] = {
    "File open faile  ",
    "Can't setup as ROM 1 ..",
    "Can't setup as ROM 2  ..",
    "Can't read from ROM 2",
};

bool StartsWith(const char* text, const char* prefix)
{
    return strncmp(text, prefix, strlen(prefix)) == 0;
}

template <size_t N>
bool StartsWithAny(const char* text, const char* const (&prefixes)[N])
{
    for (const char* prefix : prefixes) {
        if (StartsWith(text, prefix))
            return true;
    }
    return false;
}

int32_t FirstDifference(const uint8_t* a, const uint8_t* b, uint32_t length)
{
    for (uint32_t i = 0; i < length; ++i) {
        if (a[i] != b[i])
            return static_cast<int32_t>(i);
    }
    return -1;
}

void Note(uint32_t* broken, char why[][FactTextSize], Invariant invariant, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
void Note(uint32_t* broken, char why[][FactTextSize], Invariant invariant, const char* format, ...)
{
    if (*broken & (1u << invariant))
        return;
    *broken |= 1u << invariant;
    va_list args;
    va_start(args, format);
    vsnprintf(why[invariant], FactTextSize, format, args);
    va_end(args);
}

// The old file at the save path is there byte for byte.
bool OldFileStands(const RunFacts& f)
{
    return f.oldFileExisted && f.fileExists && f.fileSize == f.oldFileSize &&
        (f.fileSize == 0 || memcmp(f.file, f.oldFile, f.fileSize) == 0);
}

// An old file at the save path is never lost or left partial: it is the old
// one byte for byte, or the whole new image.
void CheckOldFile(const RunFacts& f, uint32_t* broken, char why[][FactTextSize])
{
    if (f.flow != FlowSave || !f.flowRan || !f.oldFileExisted || OldFileStands(f))
        return;
    bool whole = f.fileExists && f.imageLength > 0 && f.fileSize == f.imageLength && f.image != nullptr &&
        FirstDifference(f.file, f.image, f.imageLength) < 0;
    if (!whole)
        Note(broken, why, InvExistingFile, "old file of %u bytes: %s", f.oldFileSize,
             f.fileExists ? "now neither it nor the whole image" : "gone");
}

const char* LastLine(const RunFacts& f)
{
    return f.lineCount > 0 ? f.lines[f.lineCount - 1] : "";
}

} // namespace

uint32_t CheckRun(const RunFacts& f, char why[][FactTextSize])
{
    uint32_t broken = 0;
    for (int i = 0; i < InvariantCount; ++i)
        why[i][0] = 0;
    const bool writes = f.flow == FlowUpdate || f.flow == FlowRestore;

    // A success is only shown over the image itself.
    if (writes && f.successShown) {
        if (f.partAfter == nullptr || f.image == nullptr || f.imageLength == 0 || f.imageLength > f.partSize) {
            Note(&broken, why, InvSuccessButDiffers, "success shown without a whole image to compare");
        } else {
            int32_t at = FirstDifference(f.partAfter, f.image, f.imageLength);
            if (at >= 0)
                Note(&broken, why, InvSuccessButDiffers, "success shown; part differs at %d (0x%02X, image 0x%02X)", at,
                     f.partAfter[at], f.image[at]);
            else if (f.dualBios && !f.romOneSelected)
                Note(&broken, why, InvSuccessButDiffers, "success shown; the image went to ROM 2, not ROM 1");
        }
    }

    // A refused image, or a flash the user declined, never reaches the part.
    bool mustNotWrite = (f.flow == FlowUpdate && ImageMustBeRefused(f.imageKind)) || (writes && f.declined) ||
                        !f.flowRan || f.flow == FlowSave;
    if (mustNotWrite && f.partBefore != nullptr) {
        int32_t at = FirstDifference(f.partBefore, f.partAfter, f.partSize);
        if (f.erasesAfter != f.erasesBefore || f.programsAfter != f.programsBefore || at >= 0)
            Note(&broken, why, InvRefusedTouched, "%s: %llu erase(s), %llu program(s), first change at %d",
                 !f.flowRan ? "no flow" : f.flow == FlowSave ? "save" : f.declined ? "declined" : ImageKindName(f.imageKind),
                 static_cast<unsigned long long>(f.erasesAfter - f.erasesBefore),
                 static_cast<unsigned long long>(f.programsAfter - f.programsBefore), at);
        if (f.successShown)
            Note(&broken, why, InvRefusedTouched, "success shown for a %s image", ImageKindName(f.imageKind));
    }

    // A save leaves a verified file of the header's length, no file, or a
    // complete file with the failure told.
    if (f.flow == FlowSave && f.flowRan) {
        if (f.saveSuccessShown && f.saveFailureShown)
            Note(&broken, why, InvSaveFile, "both success and failure shown");
        if (f.saveSuccessShown) {
            if (!f.fileExists)
                Note(&broken, why, InvSaveFile, "success shown, no file");
            else if (f.romLength == 0 || f.fileSize != f.romLength)
                Note(&broken, why, InvSaveFile, "success shown, file of %u bytes, ROM header says %u", f.fileSize,
                     f.romLength);
            else if (FirstDifference(f.file, f.rom, f.romLength) >= 0)
                Note(&broken, why, InvSaveFile, "success shown, file differs from the ROM at %d",
                     FirstDifference(f.file, f.rom, f.romLength));
        } else if (f.fileExists && !OldFileStands(f)) {
            bool complete = f.imageLength > 0 && f.fileSize == f.imageLength && f.image != nullptr &&
                            FirstDifference(f.file, f.image, f.imageLength) < 0;
            if (!complete)
                Note(&broken, why, InvSaveFile, "failed save left a file of %u bytes (image %u)", f.fileSize,
                     f.imageLength);
            else if (!f.saveFailureShown)
                Note(&broken, why, InvSaveFile, "file left without success or failure shown");
        }
    }

    CheckOldFile(f, &broken, why);

    // After any failure the user is told which step failed.
    if (!f.started) {
        if (!f.anyBox)
            Note(&broken, why, InvUntold, "start-up ended without a message");
    } else if (!f.flowRan) {
        // Nothing ran, nothing to tell.
    } else if (writes && !f.successShown && !f.declined) {
        const char* last = LastLine(f);
        bool flashFailed = strcmp(f.lastBox, "Flash faile!!") == 0;
        if (flashFailed && !StartsWithAny(last, FlashStepLines))
            Note(&broken, why, InvUntold, "\"Flash faile!!\" after the line \"%.60s\"", last);
        else if (!flashFailed && !StartsWithAny(last, CommandFailureLines))
            Note(&broken, why, InvUntold, "no success; last line \"%.60s\", last box \"%.40s\"", last, f.lastBox);
    } else if (f.flow == FlowSave && !f.saveSuccessShown && !f.saveFailureShown) {
        Note(&broken, why, InvUntold, "save ended without success or failure shown");
    }

    // Every path out of a flow closes ROM access.
    if (f.started && !f.requestFaults && f.switchOpenAtEnd)
        Note(&broken, why, InvSwitchOpen, "ROM access switch open after the %s",
             f.flow == FlowSave ? "save" : f.flow == FlowRestore ? "restore" : "update");

    if (f.openDcsAfterExit != 0 || f.foreignDcReleases != 0 || !f.driverClosed)
        Note(&broken, why, InvResources, "%d device context(s) kept, %u foreign release(s), driver %s",
             f.openDcsAfterExit, f.foreignDcReleases, f.driverClosed ? "closed" : "open");
    return broken;
}

uint32_t CheckTwoRuns(const TwoRunFacts& f, char why[][FactTextSize])
{
    uint32_t broken = 0;
    why[InvTwoRuns][0] = 0;
    if (f.secondRefused && f.secondRequests != 0)
        Note(&broken, why, InvTwoRuns, "the run the lock refused sent %llu driver request(s)",
             static_cast<unsigned long long>(f.secondRequests));
    // With both successes told, every part holds what the last success that
    // wrote it wrote (the first run ended last), or what it held before.
    if (!f.firstSucceeded || !f.secondSucceeded)
        return broken;
    for (uint32_t p = 0; p < f.partCount && p < VcMaxPartsPerCard; ++p) {
        const uint8_t* expected = f.before[p];
        uint32_t length = f.partSize[p];
        const char* whose = "it held before both runs";
        if (static_cast<int32_t>(p) == f.firstPart) {
            expected = f.firstImage;
            length = f.firstLength;
            whose = "the last success wrote";
        } else if (static_cast<int32_t>(p) == f.secondPart) {
            expected = f.secondImage;
            length = f.secondLength;
            whose = "the earlier success wrote";
        }
        int32_t at = expected && f.after[p] ? FirstDifference(f.after[p], expected, length) : 0;
        if (at >= 0) {
            Note(&broken, why, InvTwoRuns, "both runs reported success; part %u differs at %d from what %s", p, at,
                 whose);
            break;
        }
    }
    return broken;
}
