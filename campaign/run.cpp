// One run inside a fresh process: start QZFlash on the scenario's machine,
// run the flow with its image or backup file and its faults, end the
// program, and gather the facts the invariants are checked on.
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "app/commands.h"
#include "app/main_window.h"
#include "core/state.h"
#include "core/status.h"
#include "campaign/campaign.h"
#include "engine/image.h"
#include "engine/parts.h"
#include "hw/hw.h"
#include "platform/recording/flow_recording.h"
#include "platform/run_lock.h"
#include "platform/recording/recording_ui.h"
#include "platform/virtual/virtual_platform.h"
#include "vcard/host/vcard_host.h"

extern bool CampaignVerbose;

namespace {

typedef std::vector<uint8_t> Bytes;

// What the progress hook needs: it flips a bit or ends the process at a
// chosen draw of the write.
struct HookState {
    const Scenario* scenario;
    VcMachine* machine;
    uint32_t draws;
    RunVerdict* verdict;
} Hook;

VcCard* TargetCard(VcMachine* machine)
{
    if (CardCount <= 0 || CurrentCard < 0 || CurrentCard >= CardTableSize)
        return nullptr;
    return VcFindCard(machine, CardTable[CurrentCard].WindowBase);
}

void ProgressHook(int32_t done, int32_t)
{
    ++Hook.draws;
    const Scenario& s = *Hook.scenario;
    VcCard* card = TargetCard(Hook.machine);
    if (s.flipAtDraw != 0 && Hook.draws == s.flipAtDraw && card != nullptr) {
        // A bit of what is already written turns over.
        VcFlashPart* part = VcSelectedPart(card);
        uint32_t offset = done > 0 ? static_cast<uint32_t>(done) * 2048u - 1 : 0;
        part->data[offset % part->size] ^= static_cast<uint8_t>(1u << (Hook.draws % 8));
        Hook.verdict->faultFired[FaultFlippedBit] = true;
    }
    if (s.killAtDraw != 0 && Hook.draws == s.killAtDraw) {
        Hook.verdict->faultFired[FaultKilled] = true;
        raise(SIGKILL);
    }
    if (s.secondRunAtDraw != 0 && Hook.draws == s.secondRunAtDraw) {
        // The campaign sees this run stop, runs the second one to its end on
        // the same machine, then lets this one go on.
        Hook.verdict->faultFired[FaultSecondRun] = true;
        raise(SIGSTOP);
    }
}

} // namespace

std::vector<uint8_t> EffectivePart(const VcFlashPart* part, const uint8_t* raw)
{
    Bytes out(part->size);
    for (uint32_t i = 0; i < part->size; ++i) {
        uint8_t value = raw[i];
        const VcPartFaults& f = part->faults;
        if (f.stuckBitEnabled && f.stuckBitOffset % part->size == i)
            value = static_cast<uint8_t>((value & ~f.stuckBitMask) | (f.stuckBitValue & f.stuckBitMask));
        out[i] = value;
    }
    return out;
}

namespace {

// The header's length of an image held in `bytes` (padded to 64 KiB with
// 0xFF), or 0 when the header is invalid or the image longer than 64 KiB.
uint32_t HeaderLength(const uint8_t* bytes, size_t size)
{
    static uint8_t padded[ImageBufferSize];
    memset(padded, 0xFF, sizeof padded);
    if (size > 0)
        memcpy(padded, bytes, size < sizeof padded ? size : sizeof padded);
    uint32_t length = 0;
    if (!ImageLengthFromHeader(padded, &length) || length > ImageBufferSize)
        return 0;
    return length;
}

bool WriteWhole(const std::string& path, const uint8_t* data, size_t size)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = size == 0 || fwrite(data, 1, size, f) == size;
    return fclose(f) == 0 && ok;
}

// A path in `folder` whose full length is exactly `length` characters.
std::string PathOfLength(const std::string& folder, const char* name, size_t length)
{
    std::string path = folder + "/" + name;
    if (path.size() >= length)
        return path;
    std::string dir = folder + "/";
    // Folders of at most 100 characters, then the name padded to fit.
    while (dir.size() + strlen(name) + 110 < length) {
        dir += std::string(100, 'd') + "/";
        mkdir(dir.c_str(), 0755);
    }
    std::string pad(length - dir.size() - strlen(name), 'n');
    return dir + pad + name;
}

} // namespace

std::string SavePath(const Scenario& s, const std::string& folder)
{
    const char* name = s.isSecondRun ? "BACKUP2.ROM" : "BACKUP.ROM";
    if (s.faults & (1u << FaultCreateFails))
        return folder + "/no such folder/" + name;
    return s.longPath ? PathOfLength(folder, name, 259) : folder + "/" + name;
}

// The update's image file, as the scenario wants it, for the card with these ids.
std::vector<uint8_t> CampaignImageFile(const Scenario& s, uint16_t vendorId, uint16_t deviceId)
{
    // The second run writes an image of its own.
    Rng rng = RunRng(s.isSecondRun ? 0x2B5F : 0x1A4E, s.run);
    VcBiosImageSpec spec;
    memset(&spec, 0, sizeof spec);
    spec.vendorId = vendorId;
    spec.deviceId = deviceId;
    spec.length = s.imageLength;
    for (int i = 0; i < 5; ++i)
        spec.version[i] = static_cast<uint8_t>(rng.Below(256));
    spec.version[0] = 4;
    spec.fifthVersionByte = rng.Percent(50);
    if (s.image == ImageWrongIds) {
        if (rng.Percent(50))
            spec.deviceId = static_cast<uint16_t>(deviceId ^ (1u << rng.Below(16)));
        else
            spec.vendorId = static_cast<uint16_t>(vendorId ^ (1u << rng.Below(16)));
    }
    Bytes image(ImageBufferSize, 0);
    VcMakeBiosImage(spec, image.data(), ImageBufferSize);
    image.resize(s.imageLength);
    switch (s.image) {
    case ImageLongFile: {
        // A good 64 KiB image followed by data the program must not read.
        Rng fill = RunRng(0x70E6, s.run);
        while (image.size() < s.longFileBytes)
            image.push_back(static_cast<uint8_t>(fill.Next()));
        break;
    }
    case ImagePageMisfit: {
        // The extension makes the length w + 128 with w odd: no page size
        // divides it, while a byte-programmed part takes it as it is.
        uint32_t w = 513 + 2 * rng.Below((s.imageLength - 129 - 513) / 2);
        image[2] = 1;
        image[0x34] |= 0x80;
        image[0x36] = static_cast<uint8_t>(w);
        image[0x37] = static_cast<uint8_t>(w >> 8);
        image[w + 1] = 1;
        image.resize(w + 128);
        break;
    }
    case ImageTruncated:
        image.resize(rng.Between(1, s.imageLength - 1));
        break;
    case ImageOversized: {
        // 49,152 bytes by the size byte, more than 64 KiB by the extension.
        image.resize(ImageBufferSize, 0x00);
        VcMakeBiosImage(spec, image.data(), ImageBufferSize);
        image[2] = 0x60;
        image[0x34] |= 0x80;
        image[0x36] = 0x00;
        image[0x37] = 0xF0;
        image[0xF001] = static_cast<uint8_t>(rng.Between(0x21, 0xFF));
        break;
    }
    case ImageHeaderless:
        image[rng.Below(2)] ^= 0xFF;
        break;
    case ImageSizeByteZero:
        image[2] = 0;
        break;
    case ImageEmptyFile:
        image.clear();
        break;
    case ImageOneByte:
        image.resize(1);
        break;
    case Image65535:
        image.resize(65535);
        break;
    default:
        break;
    }
    return image;
}

namespace {

// The machine written back to its part files as the program ends, as
// qzflash does; the scenario may end the process in the middle.
void WritePartFiles(const Scenario& s, VcMachine* machine, RunVerdict* v)
{
    char error[512];
    if (s.fileKillAt >= 0 && !s.fileKillInSave)
        LimitFileWrites(s.fileKillAt);
    bool written = VcSaveFlashFiles(machine, error, sizeof error);
    LimitFileWrites(-1);
    if (!written) {
        v->violations |= 1u << InvExistingFile;
        snprintf(v->why[InvExistingFile], FactTextSize, "%.150s", error);
    }
}

bool LineStartsWith(const char* line, const char* prefix)
{
    return strncmp(line, prefix, strlen(prefix)) == 0;
}

void CopyText(char* out, const char* text)
{
    size_t n = strlen(text);
    if (n >= FactTextSize)
        n = FactTextSize - 1;
    memcpy(out, text, n);
    out[n] = 0;
    // Status lines are blank-padded when cleared; drop the blanks.
    while (n > 0 && out[n - 1] == ' ')
        out[--n] = 0;
}

// One run per machine, as the Linux program keeps one run per card: the lock
// is taken before the first request. False when the run must not go on; the
// verdict then says why.
bool LockMachine(const std::string& folder, const Scenario& s, RunLock* lock, RunVerdict* v)
{
    long holder = 0;
    int error = 0;
    RunLockResult result = RunLockTake((folder + "/machine.lock").c_str(), true, lock, &holder, &error);
    if (result == RunLockTaken)
        return true;
    v->flow = s.flow;
    if (result == RunLockBusy) {
        v->lockRefused = true;
        v->lockHolder = holder;
        v->result = ResultNoFlow;
        return false;
    }
    // A campaign that cannot lock proves nothing about two runs: a failure.
    v->result = ResultStartFailed;
    v->violations = 1u << InvCrash;
    snprintf(v->why[InvCrash], FactTextSize, "the machine's lock cannot be taken: %s", strerror(error));
    return false;
}

} // namespace

void ExecuteRun(const Scenario& s, VcMachine* machine, const char* folderText, RunVerdict* v)
{
    memset(v, 0, sizeof *v);
    v->wroteCard = -1;
    v->wrotePart = -1;
    const std::string folder = folderText;
    RunLock lock;
    if (!LockMachine(folder, s, &lock, v))
        return;
    FlowRecordingReset();
    ScriptedSys.version.Minor = s.ntMinor;
    snprintf(ScriptedSys.modulePath, sizeof ScriptedSys.modulePath, "%s/QZFlash.exe", folderText);
    machine->deviceOpenFails = false;
    VirtualPlatformAttach(machine);
    VirtualRealTime = false;
    if (s.cardCount > 1)
        ScriptDialogCommand(DialogIdOk, static_cast<int>(s.selection));
    if (s.bootedFromRom2)
        ScriptDialogCommand(s.dualDialogOk ? DialogIdOk : DialogIdCancel);
    RecordingQueueAnswer(s.confirm ? UiIdOk : UiIdCancel);
    Hook = HookState{&s, machine, 0, v};
    RecordingProgressHook = ProgressHook;
    FileFaults.readFails = (s.faults & (1u << FaultReadFails)) != 0;

    // Every part as it was, for the comparisons afterwards.
    std::vector<Bytes> rawBefore;
    std::vector<uint64_t> erasesBefore, programsBefore;
    for (int c = 0; c < machine->cardCount; ++c) {
        for (int i = 0; i < VcMaxPartsPerCard; ++i) {
            const VcFlashPart& part = machine->cards[c].parts[i];
            rawBefore.push_back(Bytes(part.data, part.data + VcMaxFlashSize));
            erasesBefore.push_back(part.eraseCount);
            programsBefore.push_back(part.programCount);
        }
    }
    const uint64_t requestsBefore = machine->requestCount;
    // A killed process before this one never closed what it opened.
    const uint32_t opensBefore = machine->deviceOpens;
    const uint32_t closesBefore = machine->deviceCloses;
    const VcTime timeBefore = machine->now;

    bool started = HeadlessStartUp(RecordedMainWindow, "");
    VcCard* card = TargetCard(machine);
    if (card == nullptr && MainWindowAlive)
        started = false;
    // The start-up offer to restore ran the restore when it was accepted. All
    // dialogs share one script: when a failed request hides a card, the
    // selection dialog does not come and its OK reaches the offer instead.
    const RecordedDialog* offer = FindRecordedDialog(DialogDualBios);
    const bool restoredAtStart = started && offer != nullptr && offer->result == DialogIdOk;
    const FlowKind flow = restoredAtStart ? FlowRestore : s.flow;

    std::string path;
    Bytes fileBytes;
    Bytes oldFile;
    bool oldFileExisted = false;
    if (started && !restoredAtStart && !s.dualDialogOk) {
        if (s.flow == FlowUpdate) {
            const char* name = s.isSecondRun ? "NEW2.ROM" : "NEW.ROM";
            path = s.longPath ? PathOfLength(folder, name, 259) : folder + "/" + name;
            remove(path.c_str());   // an earlier run's file must not stand in for a missing one
            if (s.image != ImageMissing) {
                fileBytes = CampaignImageFile(s, CardTable[CurrentCard].VendorId, CardTable[CurrentCard].DeviceId);
                WriteWhole(path, fileBytes.data(), fileBytes.size());
            }
            ScriptFileChoice(path.c_str());
            DispatchCommand(CmdUpdateBios);
        } else if (s.flow == FlowSave) {
            path = SavePath(s, folder);
            remove(path.c_str());
            if (s.oldSaveFile && !(s.faults & (1u << FaultCreateFails))) {
                oldFile = OldSaveFile(s);
                oldFileExisted = WriteWhole(path, oldFile.data(), oldFile.size());
            }
            FileFaults.writeLimit = s.writeLimit;
            FileFaults.writeFails = (s.faults & (1u << FaultWriteRefused)) != 0;
            FileFaults.closeFails = (s.faults & (1u << FaultCloseFails)) != 0;
            ScriptFileChoice(path.c_str());
            if (s.fileKillAt >= 0 && s.fileKillInSave)
                LimitFileWrites(s.fileKillAt);
            DispatchCommand(CmdSaveBios);
            LimitFileWrites(-1);
        } else {
            DispatchCommand(CmdRestoreBios);
        }
    }
    FileFaults.writeLimit = -1;
    FileFaults.writeFails = false;
    FileFaults.closeFails = false;
    FileFaults.readFails = false;

    // What the user was shown.
    RunFacts facts;
    memset(&facts, 0, sizeof facts);
    facts.flow = flow;
    facts.imageKind = s.image;
    // An odd length is only a misfit for a part programmed by pages.
    if (s.image == ImagePageMisfit && (CurrentPart == nullptr || CurrentPart->pageSize <= 1))
        facts.imageKind = ImageGood;
    facts.started = started;
    facts.flowRan = restoredAtStart || (started && !s.dualDialogOk);
    facts.dualBios = DualBios;
    const uint32_t capacity = RecordedBoxCapacity;
    uint32_t kept = Recording.boxCount < capacity ? Recording.boxCount : capacity;
    facts.anyBox = Recording.boxCount > 0;
    for (uint32_t i = 0; i < kept; ++i) {
        const RecordedBox& box = Recording.boxes[i];
        if (strcmp(box.caption, "Confirm") == 0 && box.answer != UiIdOk)
            facts.declined = true;
        if (strcmp(box.text, "Flash completely") == 0)
            facts.successShown = true;
        if (strcmp(box.text, "Back up completed  !! ") == 0)
            facts.saveSuccessShown = true;
        if (strcmp(box.text, "File open faile ,can't backup from BOIS") == 0 || strcmp(box.text, "File not open ! ") == 0)
            facts.saveFailureShown = true;
        if (strcmp(box.text, "Flash faile!!") == 0 || strcmp(box.caption, "Error") == 0)
            facts.failureBoxShown = true;
    }
    if (kept > 0)
        CopyText(facts.lastBox, Recording.boxes[kept - 1].text);
    int32_t last = LastStatusLine < StatusLineCount ? LastStatusLine : StatusLineCount - 1;
    for (int32_t i = 5; i <= last && facts.lineCount < FactLineCount; ++i) {
        CopyText(facts.lines[facts.lineCount++], StatusLines[i]);
        if (LineStartsWith(StatusLines[i], "Flash OK!! "))
            facts.successShown = true;
    }
    bool saveLine = false;
    for (int32_t i = 5; i <= last; ++i)
        saveLine = saveLine || LineStartsWith(StatusLines[i], "Save file to  ");
    facts.saveSuccessShown = facts.saveSuccessShown && saveLine;

    // The part the flow writes (ROM 1 of a dual-BIOS board), or reads (save).
    Bytes before, after, image, rom, saved;
    if (card != nullptr) {
        int cardIndex = static_cast<int>(card - machine->cards);
        // Nothing writes the dual-BIOS register during a flash or a save, so
        // the ROM selected now is the one the flow reached.
        int partIndex = static_cast<int>(VcSelectedPart(card) - card->parts);
        facts.romOneSelected = partIndex == 0;
        VcFlashPart* part = &card->parts[partIndex];
        size_t slot = static_cast<size_t>(cardIndex) * VcMaxPartsPerCard + partIndex;
        before = EffectivePart(part, rawBefore[slot].data());
        after = EffectivePart(part, part->data);
        facts.partBefore = before.data();
        facts.partAfter = after.data();
        facts.partSize = part->size;
        facts.erasesBefore = erasesBefore[slot];
        facts.programsBefore = programsBefore[slot];
        facts.erasesAfter = part->eraseCount;
        facts.programsAfter = part->programCount;

        if (facts.flow == FlowUpdate) {
            image = fileBytes;
            facts.imageLength = HeaderLength(image.data(), image.size());
            if (image.size() < facts.imageLength)
                facts.imageLength = 0;
        } else if (facts.flow == FlowRestore && card->partCount == 2) {
            size_t romTwo = static_cast<size_t>(cardIndex) * VcMaxPartsPerCard + 1;
            image = EffectivePart(&card->parts[1], rawBefore[romTwo].data());
            facts.imageLength = HeaderLength(image.data(), image.size());
        } else if (facts.flow == FlowSave) {
            rom = after;
            facts.rom = rom.data();
            facts.romLength = HeaderLength(rom.data(), rom.size());
            image.assign(ImageBuffer, ImageBuffer + ImageBufferSize);
            facts.imageLength = ImageLength <= ImageBufferSize ? ImageLength : 0;
            saved = CampaignReadFile(path, &facts.fileExists);
            facts.file = saved.data();
            facts.fileSize = static_cast<uint32_t>(saved.size());
            facts.oldFileExisted = oldFileExisted;
            facts.oldFile = oldFile.data();
            facts.oldFileSize = static_cast<uint32_t>(oldFile.size());
            if (oldFileExisted)
                v->oldFile = facts.fileExists && saved == oldFile ? OldFileKept : OldFileReplaced;
        }
        facts.image = image.data();
        facts.switchOpenAtEnd = card->romSwitch != 1;
        // What a write that reported success claims the part now holds.
        if (facts.successShown && flow != FlowSave && facts.imageLength > 0 && facts.imageLength <= sizeof v->wrote &&
            facts.imageLength <= image.size()) {
            v->wroteCard = cardIndex;
            v->wrotePart = partIndex;
            v->wroteLength = facts.imageLength;
            memcpy(v->wrote, image.data(), facts.imageLength);
        }
    }
    facts.requestFaults = (s.faults & ((1u << FaultRequest) | (1u << FaultSwitchStuck))) != 0;

    // End the program, then look at what it gave back.
    if (MainWindowAlive)
        DispatchCommand(CmdExit);
    facts.openDcsAfterExit = RecordingOpenDcs();
    facts.foreignDcReleases = Recording.dcForeignReleases;
    facts.driverClosed = machine->deviceCloses - closesBefore >= machine->deviceOpens - opensBefore;

    v->flow = flow;
    v->violations = CheckRun(facts, v->why);
    if (CampaignVerbose) {
        for (uint32_t i = 0; i < kept; ++i)
            printf("  box [%s] %s\n", Recording.boxes[i].caption, Recording.boxes[i].text);
        for (int32_t i = 0; i <= last; ++i)
            printf("  line %2d %s\n", i, StatusLines[i]);
        printf("  %llu requests, %.3f s virtual\n", static_cast<unsigned long long>(machine->requestCount - requestsBefore),
               (machine->now - timeBefore) * 1e-9);
    }
    if (!facts.started)
        v->result = ResultStartFailed;
    else if (!facts.flowRan)
        v->result = ResultNoFlow;
    else if (facts.successShown || facts.saveSuccessShown)
        v->result = ResultSucceeded;
    else if (facts.declined)
        v->result = ResultDeclined;
    else
        v->result = ResultFailed;
    v->requests = machine->requestCount - requestsBefore;
    v->virtualNs = machine->now - timeBefore;
    for (int k = 0; k < FaultKindCount; ++k) {
        if ((s.faults & (1u << k)) && k != FaultFlippedBit && k != FaultKilled && k != FaultSecondRun &&
            k != FaultKilledInFile)
            v->faultFired[k] = true;
    }
    RecordingProgressHook = nullptr;
    v->complete = true;
    // As qzflash does on its way out, still holding the machine's lock.
    if (s.partFiles)
        WritePartFiles(s, machine, v);
    RunLockRelease(&lock);
}
