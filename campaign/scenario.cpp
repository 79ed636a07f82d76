// Drawing a run: the machine (cards, the flash part and its program mode,
// dual-BIOS boards, other devices), the flow with its image or backup, and
// the faults. Everything comes from the run's own generator, so a run is
// replayed from (seed, run number).
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "app/select_card.h"
#include "campaign/campaign.h"
#include "hw/hw.h"
#include "vcard/model/flash_part.h"

namespace {

const char* const FaultNames[FaultKindCount] = {
    "driver request fails",   "stuck bit",          "flipped bit",          "dead byte",
    "erase never finishes",   "program never ends", "page load times out",  "serial data-in stuck",
    "ROM switch stuck",       "dual-BIOS stops",    "disk full on save",    "save write refused",
    "save close fails",       "save create fails",  "image read fails",     "killed mid-write",
    "second run mid-write",
    "killed mid-file-write",
};

const char* const InvariantNames[InvariantCount] = {
    "success shown, part differs",
    "part changed without a flash",
    "save left a bad file",
    "crash or sanitizer report",
    "flow hung",
    "failure without its step",
    "ROM access left open",
    "resources not given back",
    "two runs: a success undone",
    "existing file lost or partial",
};

const char* const ImageNames[ImageKindCount] = {
    "good",          "long file",    "wrong ids",   "page misfit", "truncated",  "oversized",
    "no signature",  "size byte 0",  "empty file",  "one byte",    "65,535 bytes", "missing",
};

const char* const ResultNames[ResultCount] = {"no flow", "succeeded", "declined", "failed", "start-up failed"};

// A supported card id of a generation the program takes; with `strapped`,
// one whose chip row says the flash interface straps are wired.
uint16_t DrawDeviceId(Rng& rng, bool strapped)
{
    uint16_t fallback = 0x0281;
    for (int tries = 0; tries < 200; ++tries) {
        const SupportedId& id = SupportedIdList[rng.Below(SupportedIdCount)];
        if (!IsSupportedGeneration(id.DeviceId))
            continue;
        const ChipEntry* chip = nullptr;
        bool found = FindChipEntry(id.VendorId, id.DeviceId, &chip);
        if (strapped && (!found || chip == nullptr || chip->StrapFlag == 0))
            continue;
        return id.DeviceId;
    }
    return fallback;
}

bool Strapped(uint16_t deviceId)
{
    const ChipEntry* chip = nullptr;
    return FindChipEntry(0x10DE, deviceId, &chip) && chip != nullptr && chip->StrapFlag != 0;
}

// Image lengths that keep a run short under the sanitizers: serial byte
// programming costs about a thousand driver requests per byte.
uint32_t MaxFlashBytes(uint8_t bus, uint16_t pageSize, uint32_t partBytes)
{
    uint32_t max = partBytes < 65536 ? partBytes : 65536;
    if (bus != VcBusParallel)
        max = pageSize <= 1 ? 2048 : 8192;
    return max;
}

uint32_t DrawLength(Rng& rng, uint32_t max)
{
    // Mostly small, now and then the largest the mode allows.
    static const uint32_t Lengths[] = {1024, 1536, 2048, 4096, 8192, 16384, 32768, 65536};
    if (rng.Percent(15))
        return max;
    for (int tries = 0; tries < 16; ++tries) {
        uint32_t n = Lengths[rng.Below(sizeof Lengths / sizeof Lengths[0])];
        if (n <= max)
            return n;
    }
    return 1024;
}

// Progress draws of a whole write: five while the part erases, then about
// one per 2 KiB programmed (the first after the first unit).
uint32_t DrawsOfAWrite(uint32_t imageLength)
{
    return 5 + 1 + imageLength / 2048;
}

std::string Version(Rng& rng, bool fifth)
{
    char text[32];
    snprintf(text, sizeof text, fifth ? "%02X.%02X.%02X.%02X.%02X" : "%02X.%02X.%02X.%02X", 4 + rng.Below(2),
             rng.Below(256), rng.Below(256), rng.Below(256), rng.Below(256));
    return text;
}

// When in the write a second run starts, and what it does: mostly an update
// of its own image, now and then a save (on a dual-BIOS board it selects
// ROM 2) or a restore.
void DrawSecondRun(Rng& rng, Scenario* s, bool writes)
{
    if (!writes)
        return;
    s->secondRunAtDraw = rng.Between(1, DrawsOfAWrite(s->imageLength));
    uint32_t pick = rng.Below(100);
    s->secondFlow = pick < 60 ? FlowUpdate : pick < 85 ? FlowSave : FlowRestore;
}

void Line(std::string& profile, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Line(std::string& profile, const char* format, ...)
{
    char text[256];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    profile += text;
    profile += '\n';
}

} // namespace

const char* FaultKindName(FaultKind kind)
{
    return kind < FaultKindCount ? FaultNames[kind] : "?";
}

const char* InvariantName(Invariant invariant)
{
    return invariant < InvariantCount ? InvariantNames[invariant] : "?";
}

const char* ImageKindName(ImageKind kind)
{
    return kind < ImageKindCount ? ImageNames[kind] : "?";
}

const char* FlowResultName(FlowResult result)
{
    return result < ResultCount ? ResultNames[result] : "?";
}

bool ImageMustBeRefused(ImageKind kind)
{
    return kind != ImageGood && kind != ImageLongFile;
}

uint64_t Rng::Next()
{
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

uint32_t Rng::Below(uint32_t n)
{
    return n == 0 ? 0 : static_cast<uint32_t>(Next() % n);
}

uint32_t Rng::Between(uint32_t lo, uint32_t hi)
{
    return lo + Below(hi - lo + 1);
}

bool Rng::Percent(uint32_t p)
{
    return Below(100) < p;
}

Rng RunRng(uint64_t seed, uint32_t run)
{
    Rng rng = {seed * 0x2545F4914F6CDD1Dull ^ (static_cast<uint64_t>(run) << 32 | run)};
    rng.Next();
    return rng;
}

Scenario DrawScenario(uint64_t seed, uint32_t run)
{
    Rng rng = RunRng(seed, run);
    Scenario s = {};
    s.run = run;
    s.writeLimit = -1;

    // The part: every listed one, each on its own bus or on the second serial set.
    const VcPartType* type = VcPartTypeAt(static_cast<int>(rng.Below(static_cast<uint32_t>(VcPartTypeCount()))));
    s.partName = VcPartTypeName(type);
    s.pageSize = type->pageSize;
    VcPartBus ownBus = VcPartTypeBus(type);
    const char* iface = ownBus == VcBusParallel ? "parallel" : "spi";
    s.bus = static_cast<uint8_t>(ownBus);
    if (rng.Percent(20)) {
        iface = "serial2";
        s.bus = VcBusSerial2;
    } else if (rng.Percent(2)) {
        iface = "reserved";
        s.reserved = true;
    }
    bool serial = s.bus != VcBusParallel || s.reserved;
    uint32_t partBytes = VcPartTypeSize(type);

    s.dualBoard = rng.Percent(25);
    uint16_t deviceId = s.dualBoard ? (rng.Percent(50) ? 0x0253 : 0x0281) : DrawDeviceId(rng, serial);
    if (serial && !Strapped(deviceId)) {
        // A dual-BIOS id without wired straps only drives parallel parts.
        iface = "parallel";
        s.bus = VcBusParallel;
        s.reserved = false;
        if (ownBus != VcBusParallel) {
            type = VcFindPartType("39VF010", 0);
            s.partName = VcPartTypeName(type);
            s.pageSize = type->pageSize;
            partBytes = VcPartTypeSize(type);
        }
    }
    s.bootedFromRom2 = s.dualBoard && rng.Percent(60);
    s.ntMinor = static_cast<uint16_t>(rng.Percent(30) ? 0 : 1);
    uint32_t maxFlash = MaxFlashBytes(s.bus, s.pageSize, partBytes);

    // The flow.
    uint32_t f = rng.Below(100);
    s.flow = f < 60 ? FlowUpdate : f < 85 ? FlowSave : FlowRestore;
    if (s.flow == FlowRestore && !(s.dualBoard && s.bootedFromRom2))
        s.flow = FlowUpdate;
    s.dualDialogOk = s.bootedFromRom2 && rng.Percent(30);
    if (s.dualDialogOk)
        s.flow = FlowRestore;   // the start-up offer runs the restore itself
    s.confirm = !rng.Percent(8);
    s.longPath = rng.Percent(5);

    if (s.flow == FlowUpdate) {
        static const uint8_t Weights[ImageKindCount] = {44, 6, 8, 6, 6, 6, 4, 4, 4, 4, 4, 4};
        uint32_t pick = rng.Below(100);
        uint32_t at = 0;
        for (uint8_t k = 0; k < ImageKindCount; ++k) {
            at += Weights[k];
            if (pick < at) {
                s.image = static_cast<ImageKind>(k);
                break;
            }
        }
        s.imageLength = DrawLength(rng, maxFlash);
        if (s.image == ImageLongFile)
            s.longFileBytes = rng.Percent(70) ? 65537 : 10 * 1024 * 1024;
        if (s.image == ImageLongFile || s.image == Image65535)
            s.imageLength = 65536;   // the header's length; the file decides the rest
        if (s.image == ImageLongFile && maxFlash < 65536)
            s.image = ImageGood;
    }

    uint32_t romImage = DrawLength(rng, maxFlash);
    if (s.flow == FlowRestore)
        s.imageLength = romImage;
    DrawFilesInPlace(seed, &s);
    if (s.fileKillInSave)
        s.fileKillAt = static_cast<int32_t>(static_cast<uint64_t>(s.fileKillAt) * romImage / 1000);
    else
        s.fileKillAt = static_cast<int32_t>(static_cast<uint64_t>(s.fileKillAt) * partBytes / 1000);

    // Faults: none in a third of the runs, one or two that suit the flow
    // and the machine in the others.
    std::string failLines;
    if (rng.Percent(67)) {
        int wanted = rng.Percent(20) ? 2 : 1;
        for (int i = 0, tries = 0; i < wanted && tries < 16; ++tries) {
            FaultKind kind = static_cast<FaultKind>(rng.Below(FaultKindCount));
            bool writes = s.flow != FlowSave;
            bool fits = true;
            switch (kind) {
            case FaultRequest: {
                static const char* const Kinds[] = {"mem-read", "mem-write", "mem-read", "mem-write", "any", "pci-config"};
                uint32_t skip = rng.Below(1u << rng.Below(23));
                uint32_t n = rng.Percent(50) ? 1 : rng.Percent(60) ? rng.Between(2, 64) : 0;
                failLines += std::string("fail ") + Kinds[rng.Below(6)] + " skip=" + std::to_string(skip) +
                             " count=" + std::to_string(n) + "\n";
                break;
            }
            case FaultFlippedBit:
                fits = writes;
                s.flipAtDraw = rng.Between(1, DrawsOfAWrite(s.imageLength));
                break;
            case FaultEraseNeverEnds:
            case FaultProgramNeverEnds:
                fits = writes;
                break;
            case FaultPageLoadTimeout:
                fits = writes && type->family == VcFamilyJedecPage && s.bus == VcBusParallel;
                break;
            case FaultDataInStuck:
                fits = s.bus != VcBusParallel && !s.reserved;
                break;
            case FaultDualBiosStops:
                fits = s.dualBoard;
                break;
            case FaultDiskFull:
                fits = s.flow == FlowSave;
                s.writeLimit = static_cast<int32_t>(rng.Below(romImage));
                break;
            case FaultWriteRefused:
            case FaultCloseFails:
            case FaultCreateFails:
                fits = s.flow == FlowSave;
                break;
            case FaultReadFails:
                fits = s.flow == FlowUpdate;
                break;
            case FaultKilled:
                fits = writes;
                s.killAtDraw = rng.Between(1, DrawsOfAWrite(s.imageLength));
                break;
            case FaultSecondRun:
                DrawSecondRun(rng, &s, writes);
                fits = writes;
                break;
            case FaultKilledInFile:
                fits = s.fileKillInSave ? s.flow == FlowSave : s.partFiles;
                break;
            default:
                break;
            }
            if (fits && !(s.faults & (1u << kind))) {
                s.faults |= 1u << kind;
                ++i;
            }
        }
    }
    if (!(s.faults & (1u << FaultFlippedBit)))
        s.flipAtDraw = 0;
    if (!(s.faults & (1u << FaultKilled)))
        s.killAtDraw = 0;
    if (!(s.faults & (1u << FaultSecondRun)))
        s.secondRunAtDraw = 0;
    if (!(s.faults & (1u << FaultDiskFull)))
        s.writeLimit = -1;
    if (!(s.faults & (1u << FaultKilledInFile)))
        s.fileKillAt = -1;

    // Part faults sit on the part the flow writes (ROM 1 of a dual-BIOS
    // board), now and then on ROM 2, which a restore reads.
    uint32_t span = s.flow == FlowUpdate ? s.imageLength : romImage;
    std::string partFaults;
    if (s.faults & (1u << FaultStuckBit)) {
        uint32_t mask = 1u << rng.Below(8);
        partFaults += " stuck-bit=" + std::to_string(rng.Percent(80) ? rng.Below(span) : rng.Below(partBytes)) + ":" +
                      std::to_string(mask) + ":" + std::to_string(rng.Percent(50) ? mask : 0);
    }
    if (s.faults & (1u << FaultDeadByte))
        partFaults += " dead-byte=" + std::to_string(rng.Percent(80) ? rng.Below(span) : rng.Below(partBytes));
    if (s.faults & (1u << FaultEraseNeverEnds))
        partFaults += " erase-never-finishes";
    if (s.faults & (1u << FaultProgramNeverEnds))
        partFaults += " program-never-finishes";
    if (s.faults & (1u << FaultPageLoadTimeout))
        partFaults += " page-load-times-out";
    if (s.faults & (1u << FaultDataInStuck))
        partFaults += rng.Percent(50) ? " data-in-stuck=high" : " data-in-stuck=low";
    int faultyRom = s.dualBoard && rng.Percent(30) ? 1 : 0;
    std::string cardFaults;
    if (s.faults & (1u << FaultSwitchStuck))
        cardFaults += " rom-switch-stuck=" + std::to_string(rng.Percent(70) ? rng.Below(2) : rng.Below(256));
    if (s.faults & (1u << FaultDualBiosStops))
        cardFaults += " dual-bios-stops-after=" + std::to_string(rng.Below(48));

    // The machine: other devices, the cards, the target card's part(s).
    std::string& p = s.profile;
    if (rng.Percent(40)) {
        Line(p, "device 0:0 0x8086:0x2570 class=0x060000");
        Line(p, "device 0:30 0x8086:0x244E class=0x060400");
    }
    if (rng.Percent(20))
        Line(p, "device 2:5 0x1002:0x5960 bar0=0xD8000008 class=0x030000");
    s.cardCount = 1 + (rng.Percent(20) ? rng.Between(1, 2) : 0);
    uint32_t target = rng.Below(s.cardCount);
    for (uint32_t c = 0; c < s.cardCount; ++c) {
        uint32_t bar0 = 0xE0000000u + c * 0x02000000u;
        if (c != target) {
            Line(p, "card %u:%u 0x10DE:0x%04X bar0=0x%08X", 3 - c, 8 + c, DrawDeviceId(rng, false), bar0);
            Line(p, "part 39VF512 image=%s image-size=1024", Version(rng, false).c_str());
            continue;
        }
        Line(p, "card 1:0 0x10DE:0x%04X bar0=0x%08X interface=%s%s", deviceId, bar0, iface,
             !s.dualBoard ? "" : s.bootedFromRom2 ? " dual=rom2" : " dual=rom1");
        for (int rom = 0; rom < (s.dualBoard ? 2 : 1); ++rom) {
            // Parts that power up protected refuse every write until the
            // program clears the protection; now and then they come clear.
            bool clear = (type->flags & VcFlagProtectAtPowerUp) && rng.Percent(30);
            Line(p, "part %s code=0x%02X image=%s image-size=%u%s%s%s", s.partName, VcPartTypeDeviceId(type),
                 Version(rng, rng.Percent(50)).c_str(), romImage, clear ? " status=0" : "", s.partFiles ? " file=" : "",
                 s.partFiles ? PartFileName(rom) : "");
            if (rom == faultyRom && !partFaults.empty())
                p += "part-fault" + partFaults + "\n";
        }
        if (!cardFaults.empty())
            p += "card-fault" + cardFaults + "\n";
    }
    p += failLines;
    // Discovery walks bus 1 first, so the target card (1:0) is the first
    // line of the selection dialog; now and then another card is chosen,
    // which has no second BIOS to restore from.
    s.selection = s.cardCount > 1 && rng.Percent(15) ? rng.Between(1, s.cardCount - 1) : 0;
    if (s.selection != 0 && s.flow == FlowRestore) {
        s.flow = FlowUpdate;
        s.image = ImageGood;
        s.dualDialogOk = false;
    }
    return s;
}

std::string DescribeScenario(const Scenario& s)
{
    static const char* const Flows[FlowKindCount] = {"update", "save", "restore"};
    static const char* const Buses[] = {"parallel", "spi", "serial2"};
    char text[512];
    snprintf(text, sizeof text,
             "run %u: %s of %s%s, part %s (page %u, %s%s), NT 5.%u, %u card(s)%s%s, image %s %u bytes%s, "
             "confirm %s, faults 0x%X, flip@%u kill@%u limit %d",
             s.run, Flows[s.flow], s.dualBoard ? "dual-BIOS board" : "card",
             s.bootedFromRom2 ? " booted from ROM 2" : "", s.partName, s.pageSize, Buses[s.bus % 3],
             s.reserved ? ", reserved straps" : "", s.ntMinor, s.cardCount, s.dualDialogOk ? ", restore offered and taken" : "",
             s.longPath ? ", 259-character path" : "", ImageKindName(s.image), s.imageLength,
             s.longFileBytes ? " (long file)" : "", s.confirm ? "OK" : "Cancel", s.faults, s.flipAtDraw, s.killAtDraw,
             s.writeLimit);
    std::string described = text;
    if (s.secondRunAtDraw != 0) {
        static const char* const Flows[FlowKindCount] = {"update", "save", "restore"};
        described += std::string(", second run (") + Flows[s.secondFlow] + ") @" + std::to_string(s.secondRunAtDraw);
    }
    if (s.isSecondRun)
        described += " (the second run)";
    if (s.oldSaveFile)
        described += ", an old file of " + std::to_string(s.oldSaveSize) + " bytes at the save path";
    if (s.partFiles)
        described += ", part files";
    if (s.fileKillAt >= 0)
        described += std::string(", ended at byte ") + std::to_string(s.fileKillAt) + " of the " +
                     (s.fileKillInSave ? "save" : "part file");
    return described;
}

Scenario RecoveryScenario(const Scenario& killed)
{
    Scenario s = killed;
    s.flow = FlowUpdate;
    s.image = ImageGood;
    s.longFileBytes = 0;
    s.faults = 0;
    s.flipAtDraw = 0;
    s.killAtDraw = 0;
    s.writeLimit = -1;
    s.confirm = true;
    s.longPath = false;
    s.dualDialogOk = false;
    s.secondRunAtDraw = 0;
    s.oldSaveFile = false;
    s.fileKillAt = -1;
    return s;
}

Scenario SecondRunScenario(const Scenario& first)
{
    Scenario s = RecoveryScenario(first);
    s.flow = first.secondFlow;
    // Only a board booted from ROM 2 has a second BIOS to restore from.
    if (s.flow == FlowRestore && !(first.dualBoard && first.bootedFromRom2))
        s.flow = FlowUpdate;
    s.isSecondRun = true;
    return s;
}
