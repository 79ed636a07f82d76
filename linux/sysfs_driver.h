// The driver of real cards on Linux: the kernel driver's contract answered
// from sysfs. Configuration space comes from
// <root>/bus/pci/devices/0000:BB:DD.F/config; the register window of each
// supported card is its resource0, mapped once, and every memory request is
// one volatile load or store through that mapping.
//
// Slot indices: a request names a slot by an index 0..63 on a bus. Index s is
// PCI device (s & 31), function (s >> 5); functions 2 to 7 and PCI domains
// other than 0000 are not reachable.
#pragma once
#include <signal.h>
#include <stddef.h>
#include <stdint.h>

#include "linux/backend.h"

enum : uint32_t { SysfsWindowSize = 0x1000000 };   // BAR0's 16 MiB
enum { SysfsMaxCards = 8, SysfsGuardedCount = 2 };

struct SysfsCard {
    uint8_t bus;
    uint8_t slot;                 // slot index
    uint16_t vendorId;
    uint16_t deviceId;
    uint32_t windowBase;          // BAR0 AND 0xFF000000, as discovery computes it
    char name[16];                // "0000:01:00.0"
    volatile uint8_t* window;     // resource0 mapped; 0 when not mapped
    size_t windowLength;          // bytes reachable: resource0's size, at most 16 MiB
    int fd;
    // The registers a flash run changes (ROM access switch, serial lines) as
    // they were when the window was mapped, and whether the run wrote them.
    uint32_t original[SysfsGuardedCount];
    volatile sig_atomic_t written[SysfsGuardedCount];
};

// Finds the supported NVIDIA cards below `root` (normally "/sys"). With
// `mapWindows` each one's resource0 is opened and mapped; when one cannot be,
// nothing stays mapped, nothing has been written, and `error` says what is
// needed (root, or a kernel without lockdown).
bool SysfsDriverStart(const char* root, bool mapWindows, char* error, size_t errorSize);

// Puts back the registers this run changed, unmaps and closes.
void SysfsDriverStop();

// The kernel driver's requests: IOCTL_PCI_CONFIG, IOCTL_MEM_READ, IOCTL_MEM_WRITE.
bool SysfsDriverControl(uint32_t code, const void* input, uint32_t inputLength, void* output,
                        uint32_t outputLength, uint32_t* returned);

// Writes back the saved registers; safe inside a signal handler.
void SysfsDriverRestoreRegisters();

// Ctrl-C, termination, hang-up and crashes restore the registers before the
// program dies of the signal; a closed output pipe is ignored.
void SysfsDriverInstallSignalHandlers();

int SysfsDriverCardCount();
const SysfsCard* SysfsDriverCard(int index);

// Told once, before the first write of the run reaches a card. Default:
// printed on stderr.
extern void (*SysfsDriverNotice)(const char* text);
extern const char SysfsDisplayNotice[];

extern const DriverBackend SysfsBackend;
