// Machine profiles: a line-oriented text that describes the PCI devices, the
// cards with their flash parts and contents files, and the faults to inject
// (format in vcard/profiles/README.md). A profile is parsed into a machine of
// its own; the caller's machine is replaced only when the whole profile was
// sound, so nothing ever runs on half a machine.
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#if !defined(_WIN32)
#include <limits.h>
#include <strings.h>
#endif

#include "hw/driver_requests.h"
#include "platform/replace/replace.h"
#include "vcard/host/vcard_host.h"

namespace {

enum {
    MaxLineLength = 512,
    MaxTokens = 16,
    MaxProfileBytes = 1 << 20,
    PathSize = sizeof(VcFlashPart::file),
    // Part times a profile may set: far past any datasheet maximum, short of
    // what would overflow the part's clock.
    MaxEraseMs = 3600000,
    MaxProgramUs = 10000000,
};

// Which file a path names: device and inode of one that exists, and the
// full path (its folder's links resolved) of one that does not exist yet.
struct FileIdentity {
    bool exists;
    unsigned long long device;
    unsigned long long inode;
    char resolved[2 * PathSize];
    int line;
};

struct Parser {
    const char* name;
    const char* folder;
    int line;
    char* error;
    size_t errorSize;
    VcMachine* machine;           // the staging machine
    int lastCard;                 // card that part and card-fault lines refer to
    int lastPart;                 // part that part-fault lines refer to
    int cardLine[VcMaxCards];
    const FileIdentity* profile;  // the profile's own file, when read from one
    int partFileCount;
    FileIdentity partFiles[VcMaxCards * VcMaxPartsPerCard];
};

bool Fail(Parser& p, const char* format, ...)
{
    if (!p.error || p.errorSize == 0)
        return false;
    int used = p.line > 0 ? snprintf(p.error, p.errorSize, "%s:%d: ", p.name, p.line)
                          : snprintf(p.error, p.errorSize, "%s: ", p.name);
    if (used < 0 || static_cast<size_t>(used) >= p.errorSize)
        return false;
    va_list args;
    va_start(args, format);
    vsnprintf(p.error + used, p.errorSize - used, format, args);
    va_end(args);
    return false;
}

bool ParseNumber(const char* text, uint32_t max, uint32_t* value)
{
    if (!text || !*text || *text == '-' || *text == '+' || *text == ' ')
        return false;
    char* end = 0;
    unsigned long long n;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        if (!text[2])
            return false;
        n = strtoull(text + 2, &end, 16);
        if (text[2] == '-' || text[2] == '+' || text[2] == ' ')
            return false;
    } else {
        n = strtoull(text, &end, 10);
    }
    if (*end != 0 || n > max)
        return false;
    *value = static_cast<uint32_t>(n);
    return true;
}

bool Number(Parser& p, const char* what, const char* text, uint32_t max, uint32_t* value)
{
    if (ParseNumber(text, max, value))
        return true;
    return Fail(p, "bad %s \"%s\" (a number up to 0x%X)", what, text, max);
}

// "A:B" with two numbers.
bool Pair(Parser& p, const char* what, const char* text, uint32_t maxA, uint32_t maxB, uint32_t* a, uint32_t* b)
{
    char copy[64];
    const char* colon = strchr(text, ':');
    size_t length = strlen(text);
    if (colon && length < sizeof copy) {
        memcpy(copy, text, length + 1);
        copy[colon - text] = 0;
        if (ParseNumber(copy, maxA, a) && ParseNumber(copy + (colon - text) + 1, maxB, b))
            return true;
    }
    return Fail(p, "bad %s \"%s\"", what, text);
}

// Splits "key=value" options from positional words.
struct Tokens {
    int count;
    char* word[MaxTokens];
};

bool Tokenise(Parser& p, char* text, Tokens* tokens)
{
    tokens->count = 0;
    char* s = text;
    for (;;) {
        while (*s == ' ' || *s == '\t' || *s == '\r')
            ++s;
        if (*s == 0 || *s == '#')
            return true;
        if (tokens->count == MaxTokens)
            return Fail(p, "too many words on the line (at most %d)", MaxTokens);
        tokens->word[tokens->count++] = s;
        while (*s && *s != ' ' && *s != '\t' && *s != '\r' && *s != '#')
            ++s;
        if (*s == '#') {
            *s = 0;
            return true;
        }
        if (*s)
            *s++ = 0;
    }
}

// The value of "key=value", or 0 when the word is not that key.
const char* Option(const char* word, const char* key)
{
    size_t n = strlen(key);
    if (strncmp(word, key, n) == 0 && word[n] == '=')
        return word + n + 1;
    return 0;
}

bool IsOption(const char* word)
{
    return strchr(word, '=') != 0;
}

// ---- device and card lines ----

bool SlotTaken(VcMachine* m, uint32_t bus, uint32_t slot)
{
    for (int i = 0; i < m->deviceCount; ++i) {
        if (m->devices[i].bus == bus && m->devices[i].slot == slot)
            return true;
    }
    return false;
}

bool DeviceLine(Parser& p, const Tokens& t, bool isCard)
{
    const char* keyword = isCard ? "card" : "device";
    if (t.count < 3 || IsOption(t.word[1]) || IsOption(t.word[2]))
        return Fail(p, "%s needs BUS:SLOT and VENDOR:DEVICE", keyword);
    uint32_t bus, slot, vendor, device;
    if (!Pair(p, "BUS:SLOT", t.word[1], 3, 63, &bus, &slot) ||
        !Pair(p, "VENDOR:DEVICE", t.word[2], 0xFFFF, 0xFFFF, &vendor, &device))
        return false;
    uint32_t subVendor = 0, subId = 0, bar0 = 0, classCode = isCard ? 0x030000 : 0, iface = 0;
    bool haveBar0 = false, haveClass = false, dual = false, rom2 = false;
    for (int i = 3; i < t.count; ++i) {
        const char* w = t.word[i];
        const char* v;
        if ((v = Option(w, "subsystem"))) {
            if (!Pair(p, "subsystem", v, 0xFFFF, 0xFFFF, &subVendor, &subId))
                return false;
        } else if ((v = Option(w, "bar0"))) {
            if (!Number(p, "bar0", v, 0xFFFFFFFFu, &bar0))
                return false;
            haveBar0 = true;
        } else if ((v = Option(w, "class"))) {
            if (!Number(p, "class", v, 0xFFFFFF, &classCode))
                return false;
            haveClass = true;
        } else if (isCard && (v = Option(w, "interface"))) {
            if (strcmp(v, "parallel") == 0)
                iface = 0;
            else if (strcmp(v, "spi") == 0)
                iface = 1;
            else if (strcmp(v, "serial2") == 0)
                iface = 2;
            else if (strcmp(v, "reserved") == 0)
                iface = 3;
            else
                return Fail(p, "bad interface \"%s\" (parallel, spi, serial2 or reserved)", v);
        } else if (isCard && (v = Option(w, "dual"))) {
            if (strcmp(v, "rom1") == 0) {
                dual = true;
                rom2 = false;
            } else if (strcmp(v, "rom2") == 0) {
                dual = true;
                rom2 = true;
            } else if (strcmp(v, "no") == 0) {
                dual = false;
            } else {
                return Fail(p, "bad dual \"%s\" (no, rom1 or rom2: the ROM the board booted from)", v);
            }
        } else {
            return Fail(p, "unknown %s option \"%s\"", keyword, w);
        }
    }
    VcMachine* m = p.machine;
    if (SlotTaken(m, bus, slot))
        return Fail(p, "bus %u slot %u is already taken", bus, slot);
    if (m->deviceCount >= VcMaxDevices)
        return Fail(p, "too many devices (at most %d)", VcMaxDevices);
    if (isCard) {
        if (!haveBar0 || (bar0 & 0xFF000000u) == 0)
            return Fail(p, "card needs bar0 with a window base in its top byte (e.g. bar0=0xE0000000)");
        if (VcFindCard(m, bar0))
            return Fail(p, "window 0x%08X is already another card's", bar0 & 0xFF000000u);
        if (m->cardCount >= VcMaxCards)
            return Fail(p, "too many cards (at most %d)", VcMaxCards);
    }
    int index = VcAddDevice(m, static_cast<uint8_t>(bus), static_cast<uint8_t>(slot), static_cast<uint16_t>(vendor),
                            static_cast<uint16_t>(device), static_cast<uint16_t>(subVendor),
                            static_cast<uint16_t>(subId), bar0);
    VcPciDevice& d = m->devices[index];
    if (!isCard || haveClass) {
        d.config[0x09] = static_cast<uint8_t>(classCode);
        d.config[0x0A] = static_cast<uint8_t>(classCode >> 8);
        d.config[0x0B] = static_cast<uint8_t>(classCode >> 16);
    }
    if (!isCard)
        return true;
    int card = VcAddCard(m, index, iface, dual, rom2);
    p.cardLine[card] = p.line;
    p.lastCard = card;
    p.lastPart = -1;
    return true;
}

// ---- part lines ----

bool JoinPath(Parser& p, const char* file, char* out)
{
    bool absolute = file[0] == '/' || file[0] == '\\' || (file[0] && file[1] == ':');
    int n;
    if (absolute || !p.folder || !*p.folder)
        n = snprintf(out, PathSize, "%s", file);
    else
        n = snprintf(out, PathSize, "%s/%s", p.folder, file);
    if (n < 0 || n >= static_cast<int>(PathSize))
        return Fail(p, "path of \"%s\" is too long", file);
    return true;
}

// The folder of a path ("." for a bare name) and the name in it.
void SplitPath(const char* path, char* folder, size_t size, const char** name)
{
    const char* slash = 0;
    for (const char* c = path; *c; ++c) {
        if (*c == '/' || *c == '\\')
            slash = c;
    }
    *name = slash ? slash + 1 : path;
    size_t length = slash ? static_cast<size_t>(slash - path) : 0;
    if (slash && length == 0)
        length = 1;  // the root folder
    if (!slash || length >= size)
        snprintf(folder, size, ".");
    else
        snprintf(folder, size, "%.*s", static_cast<int>(length), path);
}

// What `path` names, or a failure (with the profile's file and line) for a
// path that exists and is not a regular file or cannot be looked at.
bool Identify(Parser& p, const char* path, FileIdentity* id)
{
    memset(id, 0, sizeof *id);
    id->line = p.line;
    char folder[PathSize];
    const char* name = 0;
    SplitPath(path, folder, sizeof folder, &name);
#if defined(_WIN32)
    struct _stat info;
    if (_stat(path, &info) == 0) {
        if (!(info.st_mode & _S_IFREG))
            return Fail(p, "\"%s\" is not a regular file", path);
        id->exists = true;
    } else if (errno != ENOENT) {
        return Fail(p, "cannot look at \"%s\": %s", path, strerror(errno));
    }
    // No inode numbers here: the full path stands for the file.
    if (!_fullpath(id->resolved, path, sizeof id->resolved))
        snprintf(id->resolved, sizeof id->resolved, "%s", path);
#else
    struct stat info;
    if (stat(path, &info) == 0) {
        if (!S_ISREG(info.st_mode))
            return Fail(p, "\"%s\" is not a regular file", path);
        id->exists = true;
        id->device = info.st_dev;
        id->inode = info.st_ino;
    } else if (errno != ENOENT) {
        return Fail(p, "cannot look at \"%s\": %s", path, strerror(errno));
    } else if (lstat(path, &info) == 0) {
        return Fail(p, "\"%s\" is a symbolic link that leads to no file", path);
    }
    char real[PATH_MAX];
    int n = realpath(folder, real) ? snprintf(id->resolved, sizeof id->resolved, "%s/%s", real, name) : -1;
    if (n < 0 || n >= static_cast<int>(sizeof id->resolved))
        snprintf(id->resolved, sizeof id->resolved, "%s", path);
#endif
    return true;
}

bool SameFile(const FileIdentity& a, const FileIdentity& b)
{
#if defined(_WIN32)
    return _stricmp(a.resolved, b.resolved) == 0;
#else
    if (a.exists && b.exists)
        return a.device == b.device && a.inode == b.inode;
    return strcmp(a.resolved, b.resolved) == 0;
#endif
}

// A part file must be a file of its own: not the profile, not another
// part's file, not a device or folder. Its contents are written back whole.
bool CheckPartFile(Parser& p, const char* path)
{
    FileIdentity id;
    if (!Identify(p, path, &id))
        return false;
    if (p.profile && SameFile(id, *p.profile))
        return Fail(p, "file \"%s\" is the profile itself", path);
    for (int i = 0; i < p.partFileCount; ++i) {
        if (SameFile(id, p.partFiles[i]))
            return Fail(p, "file \"%s\" is already the file of the part on line %d", path, p.partFiles[i].line);
    }
    if (p.partFileCount < static_cast<int>(sizeof p.partFiles / sizeof p.partFiles[0]))
        p.partFiles[p.partFileCount++] = id;
    return true;
}

// Contents from the file; false for a file that does not fit the part or
// that exists and cannot be read (only a missing file reads as erased).
bool LoadContents(Parser& p, VcFlashPart* part, bool* found)
{
    *found = false;
    FILE* f = fopen(part->file, "rb");
    if (!f) {
        if (errno == ENOENT)
            return true;
        return Fail(p, "cannot open \"%s\": %s", part->file, strerror(errno));
    }
    size_t n = fread(part->data, 1, part->size, f);
    int extra = fgetc(f);
    bool readError = ferror(f) != 0;
    fclose(f);
    if (readError)
        return Fail(p, "cannot read \"%s\"", part->file);
    if (extra != EOF)
        return Fail(p, "\"%s\" holds more than the part's %u bytes", part->file, part->size);
    memset(part->data + n, 0xFF, part->size - n);
    *found = true;
    return true;
}

bool PartLine(Parser& p, const Tokens& t)
{
    VcMachine* m = p.machine;
    if (p.lastCard < 0)
        return Fail(p, "part before any card");
    if (t.count < 2 || IsOption(t.word[1]))
        return Fail(p, "part needs a part name");
    VcCard& card = m->cards[p.lastCard];
    int slots = card.dualBiosBoard ? 2 : 1;
    if (card.partCount >= slots)
        return Fail(p, "too many parts for this card (%d)", slots);
    uint32_t code = 0, status = 0, imageSize = 0, eraseMs = 0, programUs = 0;
    bool haveStatus = false, haveEraseMs = false, haveProgramUs = false;
    const char* file = 0;
    const char* version = 0;
    for (int i = 2; i < t.count; ++i) {
        const char* w = t.word[i];
        const char* v;
        if ((v = Option(w, "code"))) {
            if (!Number(p, "code", v, 0xFF, &code))
                return false;
        } else if ((v = Option(w, "file"))) {
            if (!*v)
                return Fail(p, "empty file name");
            file = v;
        } else if ((v = Option(w, "image"))) {
            version = v;
        } else if ((v = Option(w, "image-size"))) {
            if (!Number(p, "image-size", v, 0x10000, &imageSize))
                return false;
        } else if ((v = Option(w, "status"))) {
            if (!Number(p, "status", v, 0xFF, &status))
                return false;
            haveStatus = true;
        } else if ((v = Option(w, "erase-ms"))) {
            if (!Number(p, "erase-ms", v, MaxEraseMs, &eraseMs))
                return false;
            haveEraseMs = true;
        } else if ((v = Option(w, "program-us"))) {
            if (!Number(p, "program-us", v, MaxProgramUs, &programUs))
                return false;
            haveProgramUs = true;
        } else {
            return Fail(p, "unknown part option \"%s\"", w);
        }
    }
    const VcPartType* type = VcFindPartType(t.word[1], static_cast<uint8_t>(code));
    if (!type)
        return code ? Fail(p, "unknown flash part \"%s\" with code 0x%02X", t.word[1], code)
                    : Fail(p, "unknown flash part \"%s\"", t.word[1]);
    uint32_t iface = card.straps >> 29;
    VcPartBus bus = VcPartTypeBus(type);
    if ((iface == 0 && bus != VcBusParallel) || (iface == 1 && bus != VcBusSpi))
        return Fail(p, "%s is %s part, the card's interface is %s", t.word[1],
                    bus == VcBusParallel ? "a parallel" : "a serial", iface == 0 ? "parallel" : "spi");
    int index = card.partCount;
    VcFitPart(m, p.lastCard, index, type);
    VcFlashPart* part = &card.parts[index];
    if (haveStatus)
        VcPartSetStatusBits(part, static_cast<uint8_t>(status));
    if (haveEraseMs)
        part->eraseMs = eraseMs;
    if (haveProgramUs)
        part->programUs = programUs;
    if (file && (!JoinPath(p, file, part->file) || !CheckPartFile(p, part->file)))
        return false;
    bool found = false;
    if (file && !LoadContents(p, part, &found))
        return false;
    if (!found && version) {
        VcBiosImageSpec spec;
        memset(&spec, 0, sizeof spec);
        if (!VcParseBiosVersion(version, &spec))
            return Fail(p, "bad image version \"%s\" (like 04.28.20.05 or 04.28.20.05.01)", version);
        const uint8_t* config = m->devices[card.device].config;
        spec.vendorId = static_cast<uint16_t>(config[0] | config[1] << 8);
        spec.deviceId = static_cast<uint16_t>(config[2] | config[3] << 8);
        spec.length = imageSize ? imageSize : (part->size < 0x10000 ? part->size : 0x10000);
        if (!VcMakeBiosImage(spec, part->data, part->size))
            return Fail(p, "image-size %u does not suit the part (multiple of 512, 1024 to %u)", spec.length,
                        part->size < 0x10000 ? part->size : 0x10000);
    }
    p.lastPart = index;
    return true;
}

bool PartFaultLine(Parser& p, const Tokens& t)
{
    if (p.lastCard < 0 || p.lastPart < 0)
        return Fail(p, "part-fault before any part");
    if (t.count < 2)
        return Fail(p, "part-fault needs a fault");
    VcPartFaults& f = p.machine->cards[p.lastCard].parts[p.lastPart].faults;
    for (int i = 1; i < t.count; ++i) {
        const char* w = t.word[i];
        const char* v;
        if (strcmp(w, "erase-never-finishes") == 0) {
            f.eraseNeverFinishes = true;
        } else if (strcmp(w, "program-never-finishes") == 0) {
            f.programNeverFinishes = true;
        } else if (strcmp(w, "page-load-times-out") == 0) {
            f.pageLoadTimesOut = true;
        } else if ((v = Option(w, "dead-byte"))) {
            if (!Number(p, "dead-byte", v, VcMaxFlashSize - 1, &f.deadByteOffset))
                return false;
            f.deadByteEnabled = true;
        } else if ((v = Option(w, "stuck-bit"))) {
            // OFFSET:MASK:VALUE
            char copy[64];
            size_t length = strlen(v);
            char* second = 0;
            char* third = 0;
            if (length < sizeof copy) {
                memcpy(copy, v, length + 1);
                second = strchr(copy, ':');
                third = second ? strchr(second + 1, ':') : 0;
            }
            uint32_t offset, mask, value;
            if (!third)
                return Fail(p, "bad stuck-bit \"%s\" (OFFSET:MASK:VALUE)", v);
            *second++ = 0;
            *third++ = 0;
            if (!ParseNumber(copy, VcMaxFlashSize - 1, &offset) || !ParseNumber(second, 0xFF, &mask) ||
                !ParseNumber(third, 0xFF, &value) || mask == 0 || (value != 0 && value != mask))
                return Fail(p, "bad stuck-bit \"%s\" (OFFSET:MASK:VALUE, VALUE 0 or MASK)", v);
            f.stuckBitEnabled = true;
            f.stuckBitOffset = offset;
            f.stuckBitMask = static_cast<uint8_t>(mask);
            f.stuckBitValue = static_cast<uint8_t>(value);
        } else if ((v = Option(w, "data-in-stuck"))) {
            if (strcmp(v, "high") != 0 && strcmp(v, "low") != 0)
                return Fail(p, "bad data-in-stuck \"%s\" (high or low)", v);
            f.dataInStuckEnabled = true;
            f.dataInStuckHigh = strcmp(v, "high") == 0;
        } else {
            return Fail(p, "unknown part fault \"%s\"", w);
        }
    }
    return true;
}

bool CardFaultLine(Parser& p, const Tokens& t)
{
    if (p.lastCard < 0)
        return Fail(p, "card-fault before any card");
    if (t.count < 2)
        return Fail(p, "card-fault needs a fault");
    VcCardFaults& f = p.machine->cards[p.lastCard].faults;
    for (int i = 1; i < t.count; ++i) {
        const char* w = t.word[i];
        const char* v;
        uint32_t n;
        if ((v = Option(w, "rom-switch-stuck"))) {
            if (!Number(p, "rom-switch-stuck", v, 0xFF, &n))
                return false;
            f.romSwitchStuck = true;
            f.romSwitchStuckValue = static_cast<uint8_t>(n);
        } else if ((v = Option(w, "dual-bios-stops-after"))) {
            if (!Number(p, "dual-bios-stops-after", v, 0xFFFFFFFFu, &n))
                return false;
            f.dualBiosStopsFollowing = true;
            f.dualBiosFollowProbes = n;
        } else {
            return Fail(p, "unknown card fault \"%s\"", w);
        }
    }
    return true;
}

bool FailLine(Parser& p, const Tokens& t)
{
    if (t.count < 2 || IsOption(t.word[1]))
        return Fail(p, "fail needs a request kind");
    static const struct {
        const char* name;
        uint32_t code;
    } kinds[] = {
        {"any", 0},
        {"pci-config", IOCTL_PCI_CONFIG},
        {"mem-read", IOCTL_MEM_READ},
        {"mem-write", IOCTL_MEM_WRITE},
        {"vxd-map", VcLogVxdMap},
        {"pci-bios-find", VcLogPciBiosFind},
        {"pci-bios-read", VcLogPciBiosRead},
    };
    uint32_t code = 0;
    bool known = false;
    for (const auto& kind : kinds) {
        if (strcmp(t.word[1], kind.name) == 0) {
            code = kind.code;
            known = true;
        }
    }
    if (!known)
        return Fail(p, "unknown request kind \"%s\" (any, pci-config, mem-read, mem-write, vxd-map, "
                       "pci-bios-find, pci-bios-read)", t.word[1]);
    uint32_t address = 0xFFFFFFFFu, skip = 0, count = 0;
    for (int i = 2; i < t.count; ++i) {
        const char* w = t.word[i];
        const char* v;
        if ((v = Option(w, "address"))) {
            if (!Number(p, "address", v, 0xFFFFFFFFu, &address))
                return false;
        } else if ((v = Option(w, "slot"))) {
            uint32_t bus, slot;
            if (!Pair(p, "slot", v, 3, 63, &bus, &slot))
                return false;
            address = bus << 16 | slot;
        } else if ((v = Option(w, "skip"))) {
            if (!Number(p, "skip", v, 0xFFFFFFFFu, &skip))
                return false;
        } else if ((v = Option(w, "count"))) {
            if (!Number(p, "count", v, 0xFFFFFFFFu, &count))
                return false;
        } else {
            return Fail(p, "unknown fail option \"%s\"", w);
        }
    }
    if (!VcAddFaultRule(p.machine, code, address, skip, count))
        return Fail(p, "too many fail rules (at most %d)", VcMaxFaultRules);
    return true;
}

bool MachineLine(Parser& p, const Tokens& t)
{
    if (t.count < 2)
        return Fail(p, "machine needs a setting");
    for (int i = 1; i < t.count; ++i) {
        if (strcmp(t.word[i], "vxd-open-fails") == 0)
            p.machine->vxdOpenFails = true;
        else if (strcmp(t.word[i], "driver-open-fails") == 0)
            p.machine->deviceOpenFails = true;
        else
            return Fail(p, "unknown machine setting \"%s\"", t.word[i]);
    }
    return true;
}

bool ParseLine(Parser& p, char* text)
{
    Tokens t;
    if (!Tokenise(p, text, &t))
        return false;
    if (t.count == 0)
        return true;
    const char* k = t.word[0];
    if (strcmp(k, "device") == 0)
        return DeviceLine(p, t, false);
    if (strcmp(k, "card") == 0)
        return DeviceLine(p, t, true);
    if (strcmp(k, "part") == 0)
        return PartLine(p, t);
    if (strcmp(k, "part-fault") == 0)
        return PartFaultLine(p, t);
    if (strcmp(k, "card-fault") == 0)
        return CardFaultLine(p, t);
    if (strcmp(k, "fail") == 0)
        return FailLine(p, t);
    if (strcmp(k, "machine") == 0)
        return MachineLine(p, t);
    return Fail(p, "unknown keyword \"%s\"", k);
}

bool ParseAll(Parser& p, const char* text)
{
    char line[MaxLineLength + 1];
    const char* s = text;
    p.line = 0;
    while (*s) {
        ++p.line;
        const char* end = strchr(s, '\n');
        size_t length = end ? static_cast<size_t>(end - s) : strlen(s);
        if (length > MaxLineLength)
            return Fail(p, "line longer than %d characters", MaxLineLength);
        memcpy(line, s, length);
        line[length] = 0;
        if (!ParseLine(p, line))
            return false;
        s += length;
        if (*s == '\n')
            ++s;
    }
    VcMachine* m = p.machine;
    for (int c = 0; c < m->cardCount; ++c) {
        const VcCard& card = m->cards[c];
        if (card.dualBiosBoard && card.partCount != 2) {
            p.line = p.cardLine[c];
            return Fail(p, "a dual-BIOS card needs two part lines (ROM 1, then ROM 2)");
        }
    }
    return true;
}

}  // namespace

VcMachine* VcNewMachine()
{
    // calloc gives the all-zero machine VcReset makes, without touching the
    // megabytes of flash contents a small machine never uses.
    return static_cast<VcMachine*>(calloc(1, sizeof(VcMachine)));
}

void VcFreeMachine(VcMachine* machine)
{
    free(machine);
}

namespace {

bool LoadText(const char* text, const char* name, const char* folder, const FileIdentity* profile, VcMachine* machine,
              char* error, size_t errorSize)
{
    Parser p;
    memset(&p, 0, sizeof p);
    p.profile = profile;
    p.name = name ? name : "(profile)";
    p.folder = folder;
    p.error = error;
    p.errorSize = errorSize;
    p.lastCard = -1;
    p.lastPart = -1;
    if (error && errorSize)
        error[0] = 0;
    // One staging machine for the life of the program: a fresh one each time
    // would map and fault in its megabytes on every parse. Cleared but for
    // flash contents, which fitting a part writes as far as the part reaches,
    // so nothing of an earlier parse shows through; copied the same way.
    static VcMachine* staging = VcNewMachine();
    if (!staging)
        return Fail(p, "out of memory");
    VcReset(staging);
    p.machine = staging;
    bool ok = ParseAll(p, text);
    if (ok)
        VcCopyMachine(machine, p.machine);
    return ok;
}

}  // namespace

bool VcLoadProfileText(const char* text, const char* name, const char* folder, VcMachine* machine, char* error,
                       size_t errorSize)
{
    return LoadText(text, name, folder, 0, machine, error, errorSize);
}

bool VcLoadProfile(const char* path, VcMachine* machine, char* error, size_t errorSize)
{
    Parser p;
    memset(&p, 0, sizeof p);
    p.name = path;
    p.error = error;
    p.errorSize = errorSize;
    FILE* f = fopen(path, "rb");
    if (!f)
        return Fail(p, "cannot open the profile");
    // A buffer of the file's size (one byte more shows a file that grew),
    // not of the largest profile allowed.
    long size = fseek(f, 0, SEEK_END) == 0 ? ftell(f) : -1;
    if (size < 0 || fseek(f, 0, SEEK_SET) != 0) {
        fclose(f);
        return Fail(p, "cannot read the profile");
    }
    size_t room = static_cast<size_t>(size) < MaxProfileBytes ? static_cast<size_t>(size) + 1 : MaxProfileBytes + 1;
    char* text = static_cast<char*>(malloc(room + 1));
    if (!text) {
        fclose(f);
        return Fail(p, "out of memory");
    }
    size_t n = fread(text, 1, room, f);
    fclose(f);
    if (n > MaxProfileBytes) {
        free(text);
        return Fail(p, "profile larger than %d bytes", MaxProfileBytes);
    }
    text[n] = 0;
    if (strlen(text) != n) {
        free(text);
        return Fail(p, "profile holds a NUL byte");
    }

    char folder[PathSize];
    const char* slash = strrchr(path, '/');
    const char* backslash = strrchr(path, '\\');
    if (!slash || (backslash && backslash > slash))
        slash = backslash;
    size_t folderLength = slash ? static_cast<size_t>(slash - path) : 0;
    if (slash && folderLength == 0)
        folderLength = 1;   // the root folder
    if (folderLength >= sizeof folder) {
        free(text);
        return Fail(p, "path too long");
    }
    memcpy(folder, path, folderLength);
    folder[folderLength] = 0;
    // The profile's own file, so that no part writes over it. A profile that
    // cannot be told apart (a pipe) simply matches no part file.
    FileIdentity self;
    Parser quiet;
    memset(&quiet, 0, sizeof quiet);
    Identify(quiet, path, &self);
    bool ok = LoadText(text, path, folderLength ? folder : ".", &self, machine, error, errorSize);
    free(text);
    return ok;
}

bool VcSaveFlashFiles(VcMachine* machine, char* error, size_t errorSize)
{
    if (error && errorSize)
        error[0] = 0;
    // Each file is written whole or not at all: a failure, or the end of the
    // process in the middle, leaves the file as the last run left it.
    static FileReplacement replacement;
    for (int c = 0; c < machine->cardCount; ++c) {
        VcCard& card = machine->cards[c];
        for (int i = 0; i < card.partCount; ++i) {
            VcFlashPart& part = card.parts[i];
            if (!part.type || !part.file[0])
                continue;
            if (!ReplaceWholeFile(&replacement, part.file, part.data, part.size)) {
                if (error && errorSize) {
                    char why[2 * ReplacePathSize];
                    ReplaceDescribe(&replacement, part.file, why, sizeof why);
                    snprintf(error, errorSize, "cannot write the flash contents: %s", why);
                }
                return false;
            }
        }
    }
    return true;
}
