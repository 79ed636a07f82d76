#include "linux/sysfs_driver.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "hw/driver_requests.h"
#include "hw/hw.h"

void (*SysfsDriverNotice)(const char* text);

const char SysfsDisplayNotice[] =
    "while the card's ROM access switch is open its display output may stop; "
    "it comes back when the switch is closed again.";

namespace {

enum { PathSize = 512, RootSize = 384 };

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
volatile sig_atomic_t MappedCount;
bool WriteNoticeGiven;

void PrintNotice(const char* text)
{
    fprintf(stderr, "qzflash: %s\n", text);
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

// "0000:BB:DD.F" of domain 0 with a function a slot index can name.
bool ParseName(const char* name, uint8_t* bus, uint8_t* slot)
{
    unsigned domain, b, d, f;
    char end;
    if (strlen(name) != 12 || sscanf(name, "%4x:%2x:%2x.%1x%c", &domain, &b, &d, &f, &end) != 4)
        return false;
    if (domain != 0 || d > 31 || f > 1)
        return false;
    *bus = static_cast<uint8_t>(b);
    *slot = static_cast<uint8_t>(d | f << 5);
    return true;
}

// The mode in brackets of the lockdown file ("none [integrity] confidentiality"),
// or "" when the file is absent.
void LockdownMode(char* mode, size_t size)
{
    mode[0] = 0;
    char path[PathSize];
    snprintf(path, sizeof path, "%s/kernel/security/lockdown", Root);
    FILE* file = fopen(path, "r");
    if (!file)
        return;
    char text[128];
    size_t n = fread(text, 1, sizeof text - 1, file);
    fclose(file);
    text[n] = 0;
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
    if (fstat(fd, &info) != 0 || info.st_size <= 0) {
        snprintf(error, errorSize, "%s has no size; it is not a memory window.", path);
        close(fd);
        return false;
    }
    const uint64_t windowSize = SysfsWindowSize;
    size_t length = static_cast<size_t>(static_cast<uint64_t>(info.st_size) < windowSize ? info.st_size : windowSize);
    void* window = mmap(0, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (window == MAP_FAILED) {
        int refused = errno;
        RefusalText("map", path, refused, error, errorSize);
        // With iomem=strict the kernel keeps a window its driver claimed.
        char link[PathSize], target[PathSize];
        ssize_t n = DevicePath(card->name, "driver", link) ? readlink(link, target, sizeof target - 1) : -1;
        size_t used = strlen(error);
        if (refused != EPERM && refused != EACCES && n > 0 && used < errorSize) {
            target[n] = 0;
            const char* driver = strrchr(target, '/');
            snprintf(error + used, errorSize - used,
                     " The card is bound to the kernel driver \"%s\"; unbind it, or boot without iomem=strict.",
                     driver ? driver + 1 : target);
        }
        close(fd);
        return false;
    }
    card->fd = fd;
    card->window = static_cast<volatile uint8_t*>(window);
    card->windowLength = length;
    ReadOriginals(card);
    return true;
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
            (SysfsDriverNotice ? SysfsDriverNotice : PrintNotice)(SysfsDisplayNotice);
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
    SysfsDriverRestoreRegisters();
    static const char text[] = "\nqzflash: stopped by a signal; the card's ROM access switch was put back.\n";
    ssize_t ignored = write(STDERR_FILENO, text, sizeof text - 1);
    (void)ignored;
    // The handler was reset: the signal, pending until we return, now ends
    // the program as it would have.
    raise(signalNumber);
}

}  // namespace

const DriverBackend SysfsBackend = {"sysfs", 0, SysfsDriverControl, 0};

bool SysfsDriverStart(const char* root, bool mapWindows, char* error, size_t errorSize)
{
    SysfsDriverStop();
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
        uint8_t bus = 0, slot = 0;
        if (count >= SysfsMaxCards || !ParseName(entry->d_name, &bus, &slot))
            continue;
        uint8_t config[64];
        if (ReadConfig(entry->d_name, config, sizeof config) < 0x14)
            continue;
        uint16_t vendorId = static_cast<uint16_t>(config[0] | config[1] << 8);
        uint16_t deviceId = static_cast<uint16_t>(config[2] | config[3] << 8);
        if (!IsSupportedId(vendorId, deviceId))
            continue;
        SysfsCard& card = Cards[count++];
        memset(&card, 0, sizeof card);
        card.fd = -1;
        card.bus = bus;
        card.slot = slot;
        card.vendorId = vendorId;
        card.deviceId = deviceId;
        card.windowBase = Le32(config + 0x10) & 0xFF000000u;
        memcpy(card.name, entry->d_name, 12);   // ParseName took only 12-character names
        card.name[12] = 0;
    }
    closedir(dir);
    MappedCount = count;
    if (!mapWindows)
        return true;
    for (int i = 0; i < count; ++i) {
        // A card without an assigned window is never reached (its WindowBase is 0).
        if (Cards[i].windowBase == 0)
            continue;
        if (!MapWindow(&Cards[i], error, errorSize)) {
            UnmapAll();
            MappedCount = 0;
            return false;
        }
    }
    return true;
}

void SysfsDriverStop()
{
    SysfsDriverRestoreRegisters();
    UnmapAll();
    MappedCount = 0;
    WriteNoticeGiven = false;
}

void SysfsDriverRestoreRegisters()
{
    for (int i = 0; i < MappedCount; ++i) {
        SysfsCard& card = Cards[i];
        if (!card.window)
            continue;
        for (int g = 0; g < SysfsGuardedCount; ++g) {
            if (!card.written[g] || Guarded[g].offset + Guarded[g].size > card.windowLength)
                continue;
            volatile uint8_t* at = card.window + Guarded[g].offset;
            if (Guarded[g].size == 1)
                *at = static_cast<uint8_t>(card.original[g]);
            else
                *reinterpret_cast<volatile uint32_t*>(at) = card.original[g];
            card.written[g] = 0;
        }
    }
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
