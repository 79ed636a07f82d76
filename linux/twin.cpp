#include "linux/twin.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include "app/dual_bios.h"
#include "core/state.h"
#include "engine/flash.h"
#include "engine/identify.h"
#include "engine/parts.h"
#include "hw/driver_requests.h"
#include "hw/hw.h"
#include "linux/cards.h"
#include "linux/front_end.h"
#include "platform/console/console.h"
#include "platform/driver_io.h"
#include "platform/replace/replace.h"
#include "qz_version.h"
#include "vcard/host/vcard_host.h"

namespace {

// The profile keyword of each strap interface, by FlashInterface.
const char* const InterfaceWords[] = {"parallel", "spi", "serial2", "reserved"};

enum { ProfileTextSize = 4096, FileNameSize = 256, TargetCount = 1 + VcMaxPartsPerCard };

void Say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Say(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    fputs("qzflash: ", stderr);
    vfprintf(stderr, format, arguments);
    fputc('\n', stderr);
    va_end(arguments);
}

uint32_t Le32(const uint8_t* bytes)
{
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
        static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

const VcPartType* CatalogueRow(uint8_t makerId, uint8_t deviceId)
{
    for (int i = 0; i < VcPartTypeCount(); ++i) {
        const VcPartType* type = VcPartTypeAt(i);
        if (type->makerId == makerId && type->deviceId == deviceId)
            return type;
    }
    return 0;
}

// The part the ROM window reaches now, identified as the start-up does,
// without a message; the start-up's own result is left as it was.
void IdentifySelected(uint8_t* makerId, uint8_t* deviceId, bool* listed)
{
    uint8_t maker = FlashMakerId, device = FlashDeviceId;
    const FlashPartEntry* part = CurrentPart;
    bool quiet = AutoMode;
    AutoMode = true;
    *listed = IdentifyFlashPart() && FindFlashPart();
    AutoMode = quiet;
    *makerId = FlashMakerId;
    *deviceId = FlashDeviceId;
    FlashMakerId = maker;
    FlashDeviceId = device;
    CurrentPart = part;
}

// The part and contents of ROM `index` (0 or 1), as the window shows them now.
bool CapturePart(TwinCard* twin, int index, bool listed, char* why, size_t whySize)
{
    TwinPart& part = twin->parts[index];
    const char* which = !twin->dualBios ? "the card's" : index == 0 ? "ROM 1's" : "ROM 2's";
    part.type = listed ? CatalogueRow(part.makerId, part.deviceId) : 0;
    if (!part.type) {
        snprintf(why, whySize,
                 "%s flash part (codes %X,%X) is not in the catalogue of modelled flash parts, so no twin can "
                 "stand for it",
                 which, part.makerId, part.deviceId);
        return false;
    }
    ReadRomBytes(part.data, VcPartTypeSize(part.type));
    return true;
}

// "name.profile" -> "name"; the folder part and the name part of `path`.
void SplitProfilePath(const char* path, char* folder, size_t folderSize, char* base, size_t baseSize)
{
    const char* slash = strrchr(path, '/');
    const char* name = slash ? slash + 1 : path;
    if (!slash)
        snprintf(folder, folderSize, ".");
    else if (slash == path)
        snprintf(folder, folderSize, "/");
    else
        snprintf(folder, folderSize, "%.*s", static_cast<int>(slash - path), path);
    size_t length = strlen(name);
    const char suffix[] = ".profile";
    if (length > sizeof suffix - 1 && strcmp(name + length - (sizeof suffix - 1), suffix) == 0)
        length -= sizeof suffix - 1;
    snprintf(base, baseSize, "%.*s", static_cast<int>(length), name);
}

// The twin in `machine` is the card: ids, window, interface, dual-BIOS
// state, each part's catalogue row and contents.
bool SameAsCard(const TwinCard& twin, const VcMachine* machine, char* why, size_t whySize)
{
    if (machine->cardCount != 1) {
        snprintf(why, whySize, "it holds %d cards", machine->cardCount);
        return false;
    }
    const VcCard& card = machine->cards[0];
    const uint8_t* config = machine->devices[card.device].config;
    bool same = machine->devices[card.device].bus == twin.bus && machine->devices[card.device].slot == twin.slot &&
        (config[0] | config[1] << 8) == twin.vendorId && (config[2] | config[3] << 8) == twin.deviceId &&
        (config[0x2C] | config[0x2D] << 8) == twin.subsystemVendorId &&
        (config[0x2E] | config[0x2F] << 8) == twin.subsystemId && Le32(config + 0x10) == twin.bar0 &&
        Le32(config + 0x08) >> 8 == twin.classCode && (card.straps >> 29) == twin.flashInterface &&
        card.dualBiosBoard == twin.dualBios && card.bootedFromRom2 == twin.dualBios && card.partCount == twin.partCount;
    if (!same) {
        snprintf(why, whySize, "its card is not the card's");
        return false;
    }
    for (int i = 0; i < twin.partCount; ++i) {
        const VcFlashPart& part = card.parts[i];
        if (part.type != twin.parts[i].type || memcmp(part.data, twin.parts[i].data, part.size) != 0) {
            snprintf(why, whySize, "part %d is not the card's (%s)", i + 1,
                     part.type != twin.parts[i].type ? "another part" : "other contents");
            return false;
        }
    }
    return true;
}

// The files of an export: the profile, then each part's.
struct Targets {
    int count;
    char path[TargetCount][PathBufferSize];
    char name[VcMaxPartsPerCard][FileNameSize];  // the part files as the profile names them
};

bool NameTargets(const TwinCard& twin, const char* profile, Targets* targets)
{
    char folder[PathBufferSize], base[FileNameSize];
    SplitProfilePath(profile, folder, sizeof folder, base, sizeof base);
    // The profile's words are separated by blanks, and '#' begins a comment.
    if (!base[0] || strpbrk(base, " \t#")) {
        Say("%s: a twin's profile needs a name without blanks or '#': its part files are named after it.", profile);
        return false;
    }
    targets->count = 1 + twin.partCount;
    if (snprintf(targets->path[0], PathBufferSize, "%s", profile) >= static_cast<int>(PathBufferSize))
        return false;
    for (int i = 0; i < twin.partCount; ++i) {
        char* name = targets->name[i];
        int n = twin.dualBios ? snprintf(name, FileNameSize, "%s-rom%d.rom", base, i + 1)
                              : snprintf(name, FileNameSize, "%s.rom", base);
        int m = strchr(profile, '/') ? snprintf(targets->path[1 + i], PathBufferSize, "%s/%s", folder, name)
                                     : snprintf(targets->path[1 + i], PathBufferSize, "%s", name);
        if (n >= static_cast<int>(FileNameSize) || m >= static_cast<int>(PathBufferSize)) {
            Say("%s: the path is too long.", profile);
            return false;
        }
    }
    return true;
}

// Files that are there are replaced only when the user says so; what is no
// regular file is never replaced. ExitOk to go on.
int MayReplace(const Targets& targets)
{
    char existing[TargetCount * (PathBufferSize + 2)] = "";
    int count = 0;
    for (int i = 0; i < targets.count; ++i) {
        struct stat info;
        if (stat(targets.path[i], &info) != 0)
            continue;
        if (!S_ISREG(info.st_mode)) {
            Say("%s is not a regular file; it was left as it is, and no twin was written.", targets.path[i]);
            return ExitFailed;
        }
        size_t used = strlen(existing);
        snprintf(existing + used, sizeof existing - used, "%s%s", count++ > 0 ? ", " : "", targets.path[i]);
    }
    if (count == 0)
        return ExitOk;
    char line[sizeof existing + 64];
    snprintf(line, sizeof line, "Twin: %s already exist%s.", existing, count > 1 ? "" : "s");
    ConsolePrintLine(line);
    ConsolePrintLine(count > 1 ? "      Replace them?" : "      Replace it?");
    return ConsoleAsk("Yes", "No") ? ExitOk : ExitDeclined;
}

// Every file written to a temporary beside it first; only then are they put
// in place, the profile last, so that no profile names a part file that is
// not there yet.
bool WriteTargets(const Targets& targets, const char* text, const TwinCard& twin)
{
    static FileReplacement replacements[TargetCount];
    char why[2 * ReplacePathSize];
    int begun = 0;
    bool ok = true;
    for (int i = 0; ok && i < targets.count; ++i) {
        const void* data = i == 0 ? static_cast<const void*>(text) : twin.parts[i - 1].data;
        uint32_t length = i == 0 ? static_cast<uint32_t>(strlen(text)) : VcPartTypeSize(twin.parts[i - 1].type);
        uint32_t done = 0;
        ok = ReplaceBegin(&replacements[i], targets.path[i]);
        if (ok)
            ++begun;
        ok = ok && ReplaceWrite(&replacements[i], data, length, &done) && done == length;
        if (!ok)
            ReplaceDescribe(&replacements[i], targets.path[i], why, sizeof why);
    }
    if (!ok) {
        for (int i = 0; i < begun; ++i)
            ReplaceAbort(&replacements[i]);
        Say("%s; no twin was written.", why);
        return false;
    }
    // The parts first, the profile last.
    int order[TargetCount];
    for (int i = 1; i < targets.count; ++i)
        order[i - 1] = i;
    order[targets.count - 1] = 0;
    for (int k = 0; k < targets.count; ++k) {
        if (!ReplaceCommit(&replacements[order[k]])) {
            ReplaceDescribe(&replacements[order[k]], targets.path[order[k]], why, sizeof why);
            for (int j = k + 1; j < targets.count; ++j)
                ReplaceAbort(&replacements[order[j]]);
            Say("%s; the twin was not written whole.", why);
            return false;
        }
    }
    return true;
}

}  // namespace

bool CaptureTwin(TwinCard* twin, char* why, size_t whySize)
{
    memset(twin, 0, sizeof *twin);
    const CardRecord& card = CardTable[CurrentCard];
    CardAddressText(CurrentCard, twin->address, sizeof twin->address);
    twin->bus = card.BusNumber;
    twin->slot = card.SlotNumber;
    twin->vendorId = card.VendorId;
    twin->deviceId = card.DeviceId;
    twin->subsystemVendorId = card.SubsystemVendorId;
    twin->subsystemId = card.SubsystemId;
    // BAR0 whole and the class code: the card table keeps neither.
    PciConfigRequest request = {card.BusNumber, card.SlotNumber};
    static uint8_t config[PciConfigOutputSize];
    uint32_t returned = 0;
    if (!DeviceControl(DeviceHandle, IOCTL_PCI_CONFIG, &request, sizeof request, config, sizeof config, &returned)) {
        snprintf(why, whySize, "the configuration space of the card at %s cannot be read", twin->address);
        return false;
    }
    twin->bar0 = Le32(config + 0x10);
    twin->classCode = Le32(config + 0x08) >> 8;
    twin->flashInterface = FlashInterface;
    twin->dualBios = DualBios;
    twin->partCount = DualBios ? 2 : 1;
    if (!DualBios) {
        // The start-up's own identification.
        twin->parts[0].makerId = FlashMakerId;
        twin->parts[0].deviceId = FlashDeviceId;
        return CapturePart(twin, 0, CurrentPart && CurrentPart->kind == PartListed, why, whySize);
    }
    // Each ROM of a dual-BIOS board on its own; the start-up identified the
    // part the board powered up with, ROM 2's.
    uint32_t selection = ReadReg32(DualBiosRegister);
    bool ok = true;
    for (int i = 0; ok && i < 2; ++i) {
        if (!(i == 0 ? SelectRom1() : SelectRom2())) {
            snprintf(why, whySize, "ROM %d of the dual-BIOS board cannot be selected", i + 1);
            ok = false;
            break;
        }
        bool listed = false;
        IdentifySelected(&twin->parts[i].makerId, &twin->parts[i].deviceId, &listed);
        ok = CapturePart(twin, i, listed, why, whySize);
    }
    WriteReg32(DualBiosRegister, selection);
    return ok;
}

bool TwinProfileText(const TwinCard& twin, const char* const* files, char* text, size_t size)
{
    const ChipEntry* chip = 0;
    FindChipEntry(twin.vendorId, twin.deviceId, &chip);
    size_t used = 0;
    int n = snprintf(text, size,
                     "# The virtual twin of the card at %s, chip %s, made by\n"
                     "# qzflash %s: its ids, window, strap interface and dual-BIOS state, its\n"
                     "# flash part%s as identified (with the times its catalogue row models) and\n"
                     "# the ROM contents read through its window. \"qzflash --virtual THIS-FILE\n"
                     "# info\" starts up on it as on the card.\n"
                     "card %u:%u 0x%04X:0x%04X subsystem=0x%04X:0x%04X bar0=0x%08X class=0x%06X interface=%s dual=%s\n",
                     twin.address, chip ? chip->Name : "?", QZ_VERSION_TEXT, twin.partCount > 1 ? "s" : "", twin.bus,
                     twin.slot, twin.vendorId, twin.deviceId, twin.subsystemVendorId, twin.subsystemId, twin.bar0,
                     twin.classCode, InterfaceWords[twin.flashInterface & 3], twin.dualBios ? "rom2" : "no");
    if (n < 0 || static_cast<size_t>(n) >= size)
        return false;
    used = static_cast<size_t>(n);
    for (int i = 0; i < twin.partCount; ++i) {
        const TwinPart& part = twin.parts[i];
        n = snprintf(text + used, size - used, "part %s code=0x%02X%s%s\n", VcPartTypeName(part.type), part.deviceId,
                     files ? " file=" : "", files ? files[i] : "");
        if (n < 0 || static_cast<size_t>(n) >= size - used)
            return false;
        used += static_cast<size_t>(n);
    }
    return true;
}

bool TwinMachine(const TwinCard& twin, VcMachine* machine, char* error, size_t errorSize)
{
    char text[ProfileTextSize];
    if (!TwinProfileText(twin, 0, text, sizeof text)) {
        snprintf(error, errorSize, "the twin's profile does not fit its buffer");
        return false;
    }
    if (!VcLoadProfileText(text, "twin", 0, machine, error, errorSize))
        return false;
    for (int i = 0; i < twin.partCount && i < machine->cards[0].partCount; ++i) {
        VcFlashPart& part = machine->cards[0].parts[i];
        memcpy(part.data, twin.parts[i].data, part.size);
    }
    char why[256];
    if (!SameAsCard(twin, machine, why, sizeof why)) {
        snprintf(error, errorSize, "the twin's profile does not make the card: %s", why);
        return false;
    }
    return true;
}

int ExportTwin(const char* profile)
{
    static TwinCard twin;
    char why[1024];
    if (!CaptureTwin(&twin, why, sizeof why)) {
        Say("%s; no twin was written.", why);
        return ExitFailed;
    }
    static Targets targets;
    if (!NameTargets(twin, profile, &targets))
        return ExitFailed;
    // The twin loads in memory before anything is written.
    static VcMachine* machine = VcNewMachine();
    if (!machine) {
        Say("%s: no memory for the virtual machine; no twin was written.", profile);
        return ExitFailed;
    }
    if (!TwinMachine(twin, machine, why, sizeof why)) {
        Say("%s; no twin was written.", why);
        return ExitFailed;
    }
    int may = MayReplace(targets);
    if (may != ExitOk)
        return may;
    const char* names[VcMaxPartsPerCard] = {targets.name[0], targets.name[1]};
    char text[ProfileTextSize];
    if (!TwinProfileText(twin, names, text, sizeof text) || !WriteTargets(targets, text, twin))
        return ExitFailed;
    // What a user will load: the files as written, through the parser.
    if (!VcLoadProfile(profile, machine, why, sizeof why)) {
        Say("the twin written does not load: %s", why);
        return ExitFailed;
    }
    if (!SameAsCard(twin, machine, why, sizeof why)) {
        Say("%s: the twin read back is not the card: %s.", profile, why);
        return ExitFailed;
    }
    char line[TargetCount * PathBufferSize + 128];
    int n = snprintf(line, sizeof line, "== Twin of the card at %s written: %s, with", twin.address, profile);
    for (int i = 1; i < targets.count && n > 0 && static_cast<size_t>(n) < sizeof line; ++i)
        n += snprintf(line + n, sizeof line - n, "%s %s (%u KiB)", i > 1 ? " and" : "", targets.path[i],
                      VcPartTypeSize(twin.parts[i - 1].type) / 1024);
    ConsolePrintLine(line);
    snprintf(line, sizeof line, "== It runs with: qzflash --virtual %s info", profile);
    ConsolePrintLine(line);
    return ExitOk;
}

void TellNoTwin()
{
    // The start-up's identification found the part in no row.
    if (CurrentPart == &FlashPartTable[0]) {
        fprintf(stderr,
                "qzflash: no twin was written: the card's flash part (codes %X,%X) is not in the catalogue of "
                "modelled flash parts, so no twin can stand for it.\n",
                FlashMakerId, FlashDeviceId);
        return;
    }
    fputs("qzflash: no twin was written: the card did not start up.\n", stderr);
}
