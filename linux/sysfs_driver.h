// The driver of real cards on Linux: the kernel driver's contract answered
// from sysfs. Configuration space comes from
// <root>/bus/pci/devices/0000:BB:DD.F/config; the register window of each
// supported card is its resource0, mapped once, and every memory request is
// one volatile load or store through that mapping.
//
// Slot indices: a request names a slot by an index 0..63 on a bus. Index s is
// PCI device (s & 31), function (s >> 5); functions 2 to 7 and PCI domains
// other than 0000 are not reachable.
//
// A supported card is usable when discovery can reach it and its window can be
// worked on: domain 0000, functions 0 and 1, buses 0 to 3, configuration space
// readable, power state D0, no kernel driver bound (it would run the card, the
// ROM access switch included, while we flash), BAR0 assigned and resource0 the
// full 16 MiB. The others are told with their reason, and configuration
// requests for them fail, so that discovery never numbers them.
#pragma once
#include <signal.h>
#include <stddef.h>
#include <stdint.h>

#include "linux/backend.h"

enum : uint32_t { SysfsWindowSize = 0x1000000 };   // BAR0's 16 MiB
enum { SysfsMaxCards = 8, SysfsGuardedCount = 2, SysfsPathSize = 512, SysfsReasonSize = 768 };

struct SysfsCard {
    uint8_t bus;
    uint8_t slot;                 // slot index
    uint16_t vendorId;
    uint16_t deviceId;
    uint32_t windowBase;          // BAR0 AND 0xFF000000, as discovery computes it
    char name[24];                // "0000:01:00.0"
    volatile uint8_t* window;     // resource0 mapped; 0 when not mapped
    size_t windowLength;          // bytes reachable: the 16 MiB
    int fd;
    // The registers a flash run changes (ROM access switch, serial lines) as
    // they were when the window was mapped, and whether the run wrote them.
    uint32_t original[SysfsGuardedCount];
    volatile sig_atomic_t written[SysfsGuardedCount];
    bool bootVga;  // the card the firmware started: it drives the console
    // A card no driver has started may have memory decoding off; the run turns
    // it on through `enable` and keeps runtime power management from putting
    // the card to sleep through power/control, and puts both back at the end.
    uint16_t originalCommand;  // configuration offset 4 as found
    volatile sig_atomic_t decodingTurnedOn;
    volatile sig_atomic_t keptAwake;
    char configPath[SysfsPathSize];
    char enablePath[SysfsPathSize];
    char controlPath[SysfsPathSize];
};

// A supported card that was seen and cannot be worked on.
struct SysfsUnusableCard {
    char name[24];  // "0000:03:00.0"
    uint16_t vendorId;
    uint16_t deviceId;
    bool hidden;  // configuration requests could name it: they fail for it
    uint8_t bus;
    uint8_t slot;
    char reason[SysfsReasonSize];
};
extern const char SysfsWindowNotAssigned[];

// Finds the supported NVIDIA cards below `root` (normally "/sys") and sorts
// them into usable and unusable. With `mapWindows` each usable card's memory
// decoding is turned on where it is off, the card is kept awake, and its
// resource0 is opened and mapped; when one of these fails, everything is put
// back, nothing stays mapped, and `error` says what is needed (root, or a
// kernel without lockdown).
bool SysfsDriverStart(const char* root, bool mapWindows, char* error, size_t errorSize);

// Puts back what this run changed, unmaps and closes.
void SysfsDriverStop();

// The kernel driver's requests: IOCTL_PCI_CONFIG, IOCTL_MEM_READ, IOCTL_MEM_WRITE.
bool SysfsDriverControl(uint32_t code, const void* input, uint32_t inputLength, void* output,
                        uint32_t outputLength, uint32_t* returned);

// Writes back the saved registers, turns memory decoding back off and gives
// runtime power management back where the run changed them; safe inside a
// signal handler.
void SysfsDriverPutBack();

// Ctrl-C, termination, hang-up and crashes put everything back before the
// program dies of the signal; a closed output pipe is ignored.
void SysfsDriverInstallSignalHandlers();

// The usable cards of the last start.
int SysfsDriverCardCount();
const SysfsCard* SysfsDriverCard(int index);

// The supported cards of the last start that cannot be worked on, with why;
// returns how many, *cards points at them.
int SysfsDriverUnusableCards(const SysfsUnusableCard** cards);

// Writes `text` into a device attribute (enable, power/control); 0, or the
// errno the write failed with. The kernel acts inside the write itself; tests
// on fake trees put a model of it here. Safe inside a signal handler.
extern int (*SysfsWriteAttribute)(const char* path, const char* text);
int SysfsWriteAttributeFile(const char* path, const char* text);

// Told once, before the first write of the run reaches a card, and when
// memory decoding is turned on. Default: printed on stderr.
extern void (*SysfsDriverNotice)(const char* text);
extern const char SysfsDisplayNotice[];

extern const DriverBackend SysfsBackend;
