#include "linux/sysfs_driver.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "hw/driver_requests.h"
#include "hw/hw.h"

void (*SysfsDriverNotice)(const char* text);
int (*SysfsWriteAttribute)(const char* path, const char* text) = SysfsWriteAttributeFile;

const char SysfsDisplayNotice[] =
    "while the card's ROM access switch is open its display output may stop; "
    "it comes back when the switch is closed again.";
const char SysfsWindowNotAssigned[] = "window not assigned; boot with pci=realloc or move the card";

namespace {

enum { PathSize = SysfsPathSize, RootSize = 384 };
// The command register's decoding and bus-master bits, put back as found.
enum : uint16_t { CommandMemory = 0x2, CommandBits = 0x7 };
enum { CommandOffset = 4, HighestBus = 3 };

// Registers a flash run writes and puts back afterwards: the ROM access
// switch (open, the display may stop) and the serial line register (a
// half-sent serial command leaves the part selected).
struct GuardedRegister {
    uint32_t offset;
    uint32_t size;
};
const GuardedRegister Guarded[SysfsGuardedCount] = {
    {0x1850, 1},
    {0x1204, 4},
};

char Root[RootSize];
SysfsCard Cards[SysfsMaxCards];
SysfsUnusableCard Unusable[SysfsMaxCards];
int UnusableCount;
volatile sig_atomic_t MappedCount;
bool WriteNoticeGiven;

void PrintNotice(const char* text)
{
    fprintf(stderr, "qzflash: %s\n", text);
}

void Notice(const char* text)
{
    (SysfsDriverNotice ? SysfsDriverNotice : PrintNotice)(text);
}

uint32_t Le32(const uint8_t* bytes)
{
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

bool DevicePath(const char* device, const char* file, char* out)
{
    int n = snprintf(out, PathSize, "%s/bus/pci/devices/%s/%s", Root, device, file);
    return n > 0 && n < PathSize;
}

// Bytes of the configuration space from offset 0; -1 when the device is absent.
int ReadConfig(const char* device, uint8_t* buffer, size_t size)
{
    char path[PathSize];
    if (!DevicePath(device, "config", path))
        return -1;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    size_t total = 0;
    while (total < size) {
        ssize_t n = pread(fd, buffer + total, size - total, static_cast<off_t>(total));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        total += static_cast<size_t>(n);
    }
    close(fd);
    return static_cast<int>(total);
}

// A small attribute file's text without its line end; false when absent.
bool ReadTextFile(const char* path, char* text, size_t size)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    ssize_t n = read(fd, text, size - 1);
    close(fd);
    if (n < 0)
        return false;
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == ' '))
        --n;
    text[n] = 0;
    return true;
}

bool ReadAttribute(const char* device, const char* file, char* text, size_t size)
{
    char path[PathSize];
    return DevicePath(device, file, path) && ReadTextFile(path, text, size);
}

// The kernel's copy of an id ("0x10de"), read when the card itself does not answer.
bool ReadIdAttribute(const char* device, const char* file, uint16_t* id)
{
    char text[16];
    if (!ReadAttribute(device, file, text, sizeof text))
        return false;
    char* end = 0;
    unsigned long value = strtoul(text, &end, 16);
    if (end == text || *end != 0 || value > 0xFFFF)
        return false;
    *id = static_cast<uint16_t>(value);
    return true;
}

struct PciAddress {
    unsigned domain, bus, device, function;
};

// "DDDD:BB:DD.F"; a slot index can name it only in domain 0 with function 0 or 1.
bool ParseAddress(const char* name, PciAddress* at)
{
    size_t length = strlen(name);
    char end;
    if (length < 12 || length >= sizeof(SysfsUnusableCard().name) ||
        sscanf(name, "%x:%2x:%2x.%1x%c", &at->domain, &at->bus, &at->device, &at->function, &end) != 4)
        return false;
    return at->device <= 31 && at->function <= 7;
}

// The kernel driver bound to the device, by name; false when none is.
bool BoundDriver(const char* device, char* driver, size_t size)
{
    char link[PathSize], target[PathSize];
    ssize_t n = DevicePath(device, "driver", link) ? readlink(link, target, sizeof target - 1) : -1;
    if (n <= 0)
        return false;
    target[n] = 0;
    const char* base = strrchr(target, '/');
    base = base ? base + 1 : target;
    size_t length = strlen(base);
    if (length >= size)
        length = size - 1;
    memcpy(driver, base, length);
    driver[length] = 0;
    return true;
}

// BAR0 assigned, and resource0 the whole 16 MiB register window.
bool WindowAssigned(const char* device, const uint8_t* config)
{
    char path[PathSize];
    struct stat info;
    return (Le32(config + 0x10) & 0xFF000000u) != 0 && DevicePath(device, "resource0", path) &&
        stat(path, &info) == 0 && S_ISREG(info.st_mode) && info.st_size >= static_cast<off_t>(SysfsWindowSize);
}

// Why a supported card cannot be worked on, into `reason`; "" when it can.
void JudgeCard(const char* name, const PciAddress& at, const uint8_t* config, bool answers, char* reason, size_t size)
{
    reason[0] = 0;
    char text[64];
    if (at.domain != 0)
        snprintf(reason, size, "in PCI domain %04x; only domain 0000 can be reached", at.domain);
    else if (at.function > 1)
        snprintf(reason, size, "function %u; only functions 0 and 1 can be reached", at.function);
    else if (at.bus > HighestBus)
        snprintf(reason, size, "on bus %02x; cards are looked for on buses 00 to 03 only", at.bus);
    else if (ReadAttribute(name, "power_state", text, sizeof text) && text[0] == 'D' && strcmp(text, "D0") != 0)
        snprintf(reason, size, "power state %s, not D0", text);
    else if (!answers)
        snprintf(reason, size, "configuration space reads all ones: the card does not answer");
    else if (BoundDriver(name, text, sizeof text))
        snprintf(reason, size, "held by the kernel driver %s; unbind it first: echo %s > %s/bus/pci/drivers/%s/unbind",
                 text, name, Root, text);
    else if (!WindowAssigned(name, config))
        snprintf(reason, size, "%s", SysfsWindowNotAssigned);
}

// The mode in brackets of the lockdown file ("none [integrity] confidentiality"),
// or "" when the file is absent.
void LockdownMode(char* mode, size_t size)
{
    mode[0] = 0;
    char path[PathSize], text[128];
    snprintf(path, sizeof path, "%s/kernel/security/lockdown", Root);
    if (!ReadTextFile(path, text, sizeof text))
        return;
    const char* open = strchr(text, '[');
    const char* close = open ? strchr(open, ']') : 0;
    if (!open || !close || static_cast<size_t>(close - open - 1) >= size)
        return;
    memcpy(mode, open + 1, close - open - 1);
    mode[close - open - 1] = 0;
}

// Says what is needed to reach `path`, refused with `error`.
void RefusalText(const char* what, const char* path, int error, char* out, size_t size)
{
    char mode[32];
    LockdownMode(mode, sizeof mode);
    bool lockedDown = mode[0] && strcmp(mode, "none") != 0;
    bool refused = error == EPERM || error == EACCES;
    int n = snprintf(out, size, "cannot %s %s: %s.", what, path, strerror(error));
    if (n < 0 || static_cast<size_t>(n) >= size || !refused)
        return;
    if (geteuid() != 0)
        snprintf(out + n, size - n,
                 " Reaching a card's registers needs root: run qzflash as root (for example with sudo).%s",
                 lockedDown ? " The kernel is also locked down, which forbids it even to root." : "");
    else if (lockedDown)
        snprintf(out + n, size - n,
                 " The kernel is locked down (%s), which forbids reaching a card's registers from a program; "
                 "flashing needs a kernel without lockdown (Secure Boot off, or lockdown=none).",
                 mode);
    else
        snprintf(out + n, size - n,
                 " Even root is refused: this needs the CAP_SYS_ADMIN capability, which a container withholds; "
                 "run qzflash as root on the machine itself.");
}

// Notes the guarded registers a write changes, to be put back at the end.
void MarkGuarded(SysfsCard* card, uint32_t offset, uint32_t size)
{
    for (int g = 0; g < SysfsGuardedCount; ++g) {
        const GuardedRegister& reg = Guarded[g];
        if (offset < reg.offset + reg.size && reg.offset < offset + size)
            card->written[g] = 1;
    }
}

// Reads the guarded registers as they are before the run changes anything,
// so that no request later costs a second access.
void ReadOriginals(SysfsCard* card)
{
    for (int g = 0; g < SysfsGuardedCount; ++g) {
        const GuardedRegister& reg = Guarded[g];
        if (reg.offset + reg.size > card->windowLength)
            continue;
        volatile uint8_t* at = card->window + reg.offset;
        card->original[g] = reg.size == 1 ? *at : *reinterpret_cast<volatile uint32_t*>(at);
    }
}

bool MapWindow(SysfsCard* card, char* error, size_t errorSize)
{
    char path[PathSize];
    if (!DevicePath(card->name, "resource0", path)) {
        snprintf(error, errorSize, "the path of %s's resource0 is too long.", card->name);
        return false;
    }
    int fd = open(path, O_RDWR | O_SYNC | O_CLOEXEC);
    if (fd < 0) {
        RefusalText("open", path, errno, error, errorSize);
        return false;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || info.st_size < static_cast<off_t>(SysfsWindowSize)) {
        snprintf(error, errorSize, "%s is not the card's 16 MiB window.", path);
        close(fd);
        return false;
    }
    void* window = mmap(0, SysfsWindowSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (window == MAP_FAILED) {
        RefusalText("map", path, errno, error, errorSize);
        close(fd);
        return false;
    }
    card->fd = fd;
    card->window = static_cast<volatile uint8_t*>(window);
    card->windowLength = SysfsWindowSize;
    ReadOriginals(card);
    return true;
}

// The command register; open, pread and close only, as a signal handler may call it.
bool ReadCommand(const SysfsCard& card, uint16_t* command)
{
    int fd = open(card.configPath, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    uint8_t bytes[2] = {0, 0};
    bool ok = pread(fd, bytes, sizeof bytes, CommandOffset) == sizeof bytes;
    close(fd);
    *command = static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
    return ok;
}

bool WriteCommand(const SysfsCard& card, uint16_t command)
{
    int fd = open(card.configPath, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    uint8_t bytes[2] = {static_cast<uint8_t>(command), static_cast<uint8_t>(command >> 8)};
    bool ok = pwrite(fd, bytes, sizeof bytes, CommandOffset) == sizeof bytes;
    close(fd);
    return ok;
}

// A card that no driver has started may not decode its memory: every read
// then returns all ones and the flash part cannot be identified.
bool TurnDecodingOn(SysfsCard* card, char* error, size_t errorSize)
{
    // Marked first: a signal right after the write must turn it off again.
    card->decodingTurnedOn = 1;
    __atomic_signal_fence(__ATOMIC_SEQ_CST);
    int failed = SysfsWriteAttribute(card->enablePath, "1");
    if (failed) {
        card->decodingTurnedOn = 0;
        int n = snprintf(error, errorSize,
                         "memory decoding of %s is off (no driver has started the card) and "
                         "must be turned on: ",
                         card->name);
        if (n > 0 && static_cast<size_t>(n) < errorSize)
            RefusalText("write", card->enablePath, failed, error + n, errorSize - n);
        return false;
    }
    uint16_t command = 0;
    if (!ReadCommand(*card, &command) || !(command & CommandMemory)) {
        snprintf(error, errorSize, "memory decoding of %s stays off after writing 1 to %s.", card->name,
                 card->enablePath);
        return false;
    }
    char text[160];
    snprintf(text, sizeof text,
             "memory decoding of %s was off (no driver has started the card); it is on for this run only.", card->name);
    Notice(text);
    return true;
}

// Runtime power management must not put the card to sleep halfway through.
bool KeepAwake(SysfsCard* card, char* error, size_t errorSize)
{
    char mode[16];
    if (!ReadTextFile(card->controlPath, mode, sizeof mode) || strcmp(mode, "auto") != 0)
        return true;  // no runtime power management here, or already held on
    card->keptAwake = 1;
    __atomic_signal_fence(__ATOMIC_SEQ_CST);
    int failed = SysfsWriteAttribute(card->controlPath, "on");
    if (failed) {
        card->keptAwake = 0;
        int n = snprintf(error, errorSize, "%s must be kept awake for the run: ", card->name);
        if (n > 0 && static_cast<size_t>(n) < errorSize)
            RefusalText("write", card->controlPath, failed, error + n, errorSize - n);
        return false;
    }
    return true;
}

bool PrepareCard(SysfsCard* card, char* error, size_t errorSize)
{
    if (!(card->originalCommand & CommandMemory) && !TurnDecodingOn(card, error, errorSize))
        return false;
    return KeepAwake(card, error, errorSize) && MapWindow(card, error, errorSize);
}

void UnmapAll()
{
    for (int i = 0; i < MappedCount; ++i) {
        SysfsCard& card = Cards[i];
        if (card.window)
            munmap(const_cast<uint8_t*>(card.window), card.windowLength);
        if (card.fd >= 0)
            close(card.fd);
        card.window = 0;
        card.fd = -1;
    }
}

// The card whose window holds [address, address + size) on `bus`, with the
// offset inside it; 0 for anything outside every mapped window.
SysfsCard* FindWindow(uint32_t bus, uint32_t address, uint32_t size, uint32_t* offset)
{
    for (int i = 0; i < MappedCount; ++i) {
        SysfsCard& card = Cards[i];
        if (!card.window || card.bus != bus || card.windowBase == 0 || address < card.windowBase)
            continue;
        uint32_t at = address - card.windowBase;
        if (at < card.windowLength && size <= card.windowLength - at) {
            *offset = at;
            return &card;
        }
    }
    return 0;
}

bool PciConfig(const void* input, uint32_t inputLength, void* output, uint32_t outputLength, uint32_t* returned)
{
    PciConfigRequest request;
    if (inputLength < sizeof request || !output || outputLength == 0)
        return false;
    memcpy(&request, input, sizeof request);
    if (request.Bus > 0xFF || request.Slot > 63)
        return false;
    // An unusable card is not there for discovery.
    for (int i = 0; i < UnusableCount; ++i) {
        if (Unusable[i].hidden && Unusable[i].bus == request.Bus && Unusable[i].slot == request.Slot)
            return false;
    }
    char name[32];
    snprintf(name, sizeof name, "0000:%02x:%02x.%x", request.Bus, request.Slot & 31, request.Slot >> 5);
    uint8_t* out = static_cast<uint8_t*>(output);
    memset(out, 0, outputLength);
    // Without root the kernel shows only the first 64 bytes; the rest reads 0.
    int got = ReadConfig(name, out, outputLength);
    if (got < 4)
        return false;
    if (returned)
        *returned = outputLength;
    return true;
}

bool MemAccess(bool write, const void* input, uint32_t inputLength, void* output, uint32_t outputLength,
               uint32_t* returned)
{
    MemAccessRequest request;
    if (inputLength != sizeof request)
        return false;
    memcpy(&request, input, sizeof request);
    if (request.AddressHigh != 0 || (request.Size != 1 && request.Size != 4))
        return false;
    if (!write && (!output || outputLength < request.Size))
        return false;
    uint32_t offset = 0;
    SysfsCard* card = FindWindow(request.Bus, request.AddressLow, request.Size, &offset);
    // A word that straddles two registers is not a register access.
    if (!card || (request.Size == 4 && offset % 4 != 0))
        return false;
    volatile uint8_t* at = card->window + offset;
    if (write) {
        if (!WriteNoticeGiven) {
            WriteNoticeGiven = true;
            Notice(SysfsDisplayNotice);
        }
        MarkGuarded(card, offset, request.Size);
        // The mark first: a signal right after the store must put it back.
        __atomic_signal_fence(__ATOMIC_SEQ_CST);
        if (request.Size == 1)
            *at = static_cast<uint8_t>(request.Value);
        else
            *reinterpret_cast<volatile uint32_t*>(at) = request.Value;
    } else {
        uint32_t value = request.Size == 1 ? *at : *reinterpret_cast<volatile uint32_t*>(at);
        uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
        memcpy(output, bytes, request.Size);
    }
    if (returned)
        *returned = request.Size;
    return true;
}

void OnFatalSignal(int signalNumber)
{
    SysfsDriverPutBack();
    static const char text[] = "\nqzflash: stopped by a signal; the card's ROM access switch was put back.\n";
    ssize_t ignored = write(STDERR_FILENO, text, sizeof text - 1);
    (void)ignored;
    // The handler was reset: the signal, pending until we return, now ends
    // the program as it would have.
    raise(signalNumber);
}

}  // namespace

const DriverBackend SysfsBackend = {"sysfs", 0, SysfsDriverControl, 0, 0};

bool SysfsDriverStart(const char* root, bool mapWindows, char* error, size_t errorSize)
{
    SysfsDriverStop();
    UnusableCount = 0;
    error[0] = 0;
    if (snprintf(Root, sizeof Root, "%s", root) >= static_cast<int>(sizeof Root)) {
        snprintf(error, errorSize, "the sysfs path %s is too long.", root);
        return false;
    }
    char path[PathSize];
    snprintf(path, sizeof path, "%s/bus/pci/devices", Root);
    DIR* dir = opendir(path);
    if (!dir)
        return true;   // no PCI devices to be seen: no cards
    int count = 0;
    while (dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        PciAddress at;
        uint8_t config[64];
        if (!ParseAddress(name, &at) || ReadConfig(name, config, sizeof config) < 0x14)
            continue;
        uint16_t vendorId = static_cast<uint16_t>(config[0] | config[1] << 8);
        uint16_t deviceId = static_cast<uint16_t>(config[2] | config[3] << 8);
        // A card that does not answer reads all ones; the kernel kept its ids.
        bool answers = vendorId != 0xFFFF;
        if (!answers && !(ReadIdAttribute(name, "vendor", &vendorId) && ReadIdAttribute(name, "device", &deviceId)))
            continue;
        if (!IsSupportedId(vendorId, deviceId))
            continue;
        char reason[SysfsReasonSize];
        JudgeCard(name, at, config, answers, reason, sizeof reason);
        if (reason[0]) {
            if (UnusableCount >= SysfsMaxCards)
                continue;
            SysfsUnusableCard& card = Unusable[UnusableCount++];
            memcpy(card.name, name, strlen(name) + 1);  // ParseAddress took only names that fit
            card.vendorId = vendorId;
            card.deviceId = deviceId;
            card.hidden = at.domain == 0 && at.function <= 1;
            card.bus = static_cast<uint8_t>(at.bus);
            card.slot = static_cast<uint8_t>(at.device | at.function << 5);
            memcpy(card.reason, reason, sizeof card.reason);
            continue;
        }
        if (count >= SysfsMaxCards)
            continue;
        SysfsCard& card = Cards[count];
        memset(&card, 0, sizeof card);
        card.fd = -1;
        card.bus = static_cast<uint8_t>(at.bus);
        card.slot = static_cast<uint8_t>(at.device | at.function << 5);
        card.vendorId = vendorId;
        card.deviceId = deviceId;
        card.windowBase = Le32(config + 0x10) & 0xFF000000u;
        card.originalCommand = static_cast<uint16_t>(config[CommandOffset] | config[CommandOffset + 1] << 8);
        memcpy(card.name, name, strlen(name) + 1);
        char bootVga[8];
        card.bootVga = ReadAttribute(name, "boot_vga", bootVga, sizeof bootVga) && strcmp(bootVga, "1") == 0;
        if (DevicePath(name, "config", card.configPath) && DevicePath(name, "enable", card.enablePath) &&
            DevicePath(name, "power/control", card.controlPath))
            ++count;
    }
    closedir(dir);
    MappedCount = count;
    if (!mapWindows)
        return true;
    for (int i = 0; i < count; ++i) {
        if (!PrepareCard(&Cards[i], error, errorSize)) {
            SysfsDriverStop();
            return false;
        }
    }
    return true;
}

void SysfsDriverStop()
{
    SysfsDriverPutBack();
    UnmapAll();
    MappedCount = 0;
    WriteNoticeGiven = false;
}

void SysfsDriverPutBack()
{
    for (int i = 0; i < MappedCount; ++i) {
        SysfsCard& card = Cards[i];
        for (int g = 0; card.window && g < SysfsGuardedCount; ++g) {
            if (!card.written[g] || Guarded[g].offset + Guarded[g].size > card.windowLength)
                continue;
            volatile uint8_t* at = card.window + Guarded[g].offset;
            if (Guarded[g].size == 1)
                *at = static_cast<uint8_t>(card.original[g]);
            else
                *reinterpret_cast<volatile uint32_t*>(at) = card.original[g];
            card.written[g] = 0;
        }
        if (card.decodingTurnedOn) {
            // Writing 0 gives the kernel its count back and stops bus
            // mastering; the decoding bits stay on until written back.
            SysfsWriteAttribute(card.enablePath, "0");
            uint16_t command = 0;
            uint16_t original = card.originalCommand & CommandBits;
            if (ReadCommand(card, &command) && (command & CommandBits) != original)
                WriteCommand(card, static_cast<uint16_t>((command & ~CommandBits) | original));
            card.decodingTurnedOn = 0;
        }
        if (card.keptAwake) {
            SysfsWriteAttribute(card.controlPath, "auto");
            card.keptAwake = 0;
        }
    }
}

int SysfsWriteAttributeFile(const char* path, const char* text)
{
    int fd = open(path, O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        return errno;
    size_t length = strlen(text);
    ssize_t n = write(fd, text, length);
    int failed = n < 0 ? errno : static_cast<size_t>(n) == length ? 0 : EIO;
    close(fd);
    return failed;
}

void SysfsDriverInstallSignalHandlers()
{
    static const int Signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGSEGV, SIGBUS, SIGABRT};
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = OnFatalSignal;
    action.sa_flags = SA_RESETHAND;
    sigfillset(&action.sa_mask);
    for (int signalNumber : Signals)
        sigaction(signalNumber, &action, 0);
    // A reader that goes away (qzflash ... | head) must not stop a flash
    // halfway: output to it just fails.
    signal(SIGPIPE, SIG_IGN);
}

bool SysfsDriverControl(uint32_t code, const void* input, uint32_t inputLength, void* output,
                        uint32_t outputLength, uint32_t* returned)
{
    if (returned)
        *returned = 0;
    if (!input)
        return false;
    switch (code) {
    case IOCTL_PCI_CONFIG:
        return PciConfig(input, inputLength, output, outputLength, returned);
    case IOCTL_MEM_READ:
        return MemAccess(false, input, inputLength, output, outputLength, returned);
    case IOCTL_MEM_WRITE:
        return MemAccess(true, input, inputLength, output, outputLength, returned);
    default:
        return false;
    }
}

int SysfsDriverCardCount()
{
    return MappedCount;
}

const SysfsCard* SysfsDriverCard(int index)
{
    return index >= 0 && index < MappedCount ? &Cards[index] : 0;
}

int SysfsDriverUnusableCards(const SysfsUnusableCard** cards)
{
    *cards = Unusable;
    return UnusableCount;
}
