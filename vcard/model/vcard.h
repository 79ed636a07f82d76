// The virtual card: a PCI machine with supported graphics cards and their
// flash parts, answering the driver contract exactly as a kernel driver on
// real hardware would. Freestanding C++ (fixed storage, no exceptions, no
// RTTI, no standard containers, no heap after set-up) so that the same model
// can run inside a 32-bit Windows kernel driver. Profile parsing and file I/O
// live in vcard/host.
//
// Slot indices: the driver contract names a slot by an index 0..63 on a bus.
// Index s is PCI device (s & 31), function (s >> 5); the PCI BIOS answers the
// device/function byte ((s & 31) << 3) | (s >> 5) for it.
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "vcard/model/flash_part.h"

enum {
    VcMaxDevices = 24,
    VcMaxCards = 10,
    VcMaxPartsPerCard = 2,
    VcLogCapacity = 4096,
    VcMaxFaultRules = 8,
};

// Cost of one driver request in virtual time: about one DeviceIoControl round
// trip plus one PCI/AGP bus access on a machine of the cards' era. A machine
// may be given another (VcMachine::requestCostNs).
enum : uint32_t { VcRequestCostNs = 1000 };
// One iteration of an empty busy loop on such a machine.
enum : uint32_t { VcBusyIterationNs = 1 };

// Log codes of the requests that are not kernel driver requests.
//   VcLogVxdMap:      address = physical base asked for, value = linear address answered
//   VcLogPciBiosFind: address = vendor << 16 | device, value = bus << 8 | devFn found,
//                     size = instance index
//   VcLogPciBiosRead: address = bus << 16 | devFn << 8 | register, value read, size 1, 2 or 4
enum : uint32_t {
    VcLogVxdMap = 0x56580003,
    VcLogPciBiosFind = 0xB102,
    VcLogPciBiosRead = 0xB10A,
};

// Card register offsets inside the 16 MiB register window.
enum : uint32_t {
    VcRegSettle = 0x200,
    VcRegSerialLine = 0x1204,
    VcRegRomSwitch = 0x1850,
    VcRegStraps = 0x101000,
    VcRegDualBios = 0x60081C,
    VcRomAperture = 0x300000,
    VcRomApertureSize = 0x20000,
    VcWindowSize = 0x1000000,
};

struct VcPciDevice {
    bool present;
    uint8_t bus;        // 0..3
    uint8_t slot;       // index 0..63
    int8_t card;        // index into cards, -1 for a device that is not a card
    uint8_t config[256];
};

// Faults of one card's registers.
struct VcCardFaults {
    bool romSwitchStuck;          // the switch ignores writes and reads romSwitchStuckValue
    uint8_t romSwitchStuckValue;
    bool dualBiosStopsFollowing;  // the dual-BIOS read-back bits stop following writes
    uint32_t dualBiosFollowProbes;// ...after this many writes of bits 8..15 (0 = at once)
};

// Power-up value of the dual-BIOS register of a board that booted from ROM 2:
// its video BIOS drives the four select outputs to match the boot switch.
enum : uint32_t { VcDualBiosRom2PowerUp = 0xF000 };

struct VcCard {
    int device;                   // index into devices
    uint32_t windowBase;          // physical base: BAR0 & 0xFF000000
    uint8_t romSwitch;            // 0x1850: 0 open, 1 closed
    uint32_t straps;              // 0x101000: bits 29..30 the flash interface
    uint32_t serialLine;          // 0x1204: bits 0..3 as last written
    uint32_t dualBiosReg;         // 0x60081C as last written
    uint32_t dualBiosWrites;
    bool dualBiosBoard;
    bool bootedFromRom2;
    int partCount;                // 1, or 2 on a dual-BIOS board
    VcFlashPart parts[VcMaxPartsPerCard];
    VcCardFaults faults;
    bool dualPinsFrozen;          // fault: read-back bits 8..15 held at dualFrozenPins
    uint32_t dualFrozenPins;
    uintptr_t directWindow;       // direct mode: host memory standing for the window (0 = none)
};

// A request that fails on purpose: matching code (0 = any), matching address
// or bus/slot word (0xFFFFFFFF = any), after `skip` matches, for `count`
// matches (0 = for ever).
struct VcFaultRule {
    bool active;
    uint32_t code;
    uint32_t address;
    uint32_t skip;
    uint32_t count;
    uint32_t seen;
};

struct VcLogEntry {
    uint32_t code;      // IOCTL_* code, or VcLogVxdMap / VcLogPciBios*
    uint32_t address;   // physical address, or bus << 16 | slot for PCI config
    uint32_t value;     // written value, or value read
    uint8_t size;
    uint8_t ok;
};

struct VcMachine {
    VcPciDevice devices[VcMaxDevices];
    int deviceCount;
    VcCard cards[VcMaxCards];
    int cardCount;
    VcTime now;
    // What a request costs in virtual time; 0 is VcRequestCostNs. A twin of
    // a real card runs at the cost measured on that card.
    uint32_t requestCostNs;
    uint64_t requestCount;
    uint64_t failedCount;
    bool logEnabled;
    uint32_t logCount;            // entries written (wraps over VcLogCapacity)
    VcLogEntry log[VcLogCapacity];
    VcFaultRule faults[VcMaxFaultRules];
    int faultRulesInUse;          // active rules; 0 lets requests skip the rule check
    // The last VcDeviceControl as sent: its first input bytes (up to 20) and
    // the lengths, so tests can check requests byte for byte.
    uint8_t lastInput[20];
    uint32_t lastInputLength;
    uint32_t lastOutputLength;
    bool vxdOpenFails;
    bool deviceOpenFails;         // "\\.\Norvik" cannot be opened (driver not running)
    // Kept by the virtual platform: opens and closes of the two devices.
    uint32_t deviceOpens;
    uint32_t deviceCloses;
    uint32_t vxdOpens;
    uint32_t vxdCloses;
};

// Clears the machine: no devices, time 0, no faults. The flash contents
// arrays and the log entries are left as they are (a machine is megabytes,
// most of it contents that a small machine never uses): fitting a part
// writes its contents, and entries past logCount are never read.
void VcReset(VcMachine* machine);
// Copies a machine: all of it but the contents beyond each fitted part's
// size and the log entries not written.
void VcCopyMachine(VcMachine* to, const VcMachine* from);

// Set-up (used by the host layer and by tests). Return -1 when full.
int VcAddDevice(VcMachine* machine, uint8_t bus, uint8_t slot, uint16_t vendorId, uint16_t deviceId,
                uint16_t subsystemVendorId, uint16_t subsystemId, uint32_t bar0);
int VcAddCard(VcMachine* machine, int device, uint32_t strapInterface, bool dualBiosBoard, bool bootedFromRom2);
// Fits part `index` (0 = ROM 1, 1 = ROM 2) of a card; contents start erased.
// On a card strapped for the second serial set the part answers that set.
bool VcFitPart(VcMachine* machine, int card, int index, const VcPartType* type);
// Adds a fault rule (see VcFaultRule); false when all rules are taken.
bool VcAddFaultRule(VcMachine* machine, uint32_t code, uint32_t address, uint32_t skip, uint32_t count);

// The card whose 16 MiB window holds the physical address, if its device is present.
VcCard* VcFindCard(VcMachine* machine, uint32_t physicalAddress);

// The driver contract: one DeviceIoControl on "\\.\Norvik". Advances time by
// the machine's request cost, counts and logs the request.
bool VcDeviceControl(VcMachine* machine, uint32_t code, const void* input, uint32_t inputLength,
                     void* output, uint32_t outputLength, uint32_t* returned);

// PCI BIOS answers for the direct path.
bool VcPciBiosFind(VcMachine* machine, uint16_t deviceId, uint16_t vendorId, uint16_t index,
                   uint8_t* bus, uint8_t* devFn);
uint32_t VcPciBiosRead(VcMachine* machine, uint8_t bus, uint8_t devFn, uint8_t offset, uint8_t size);

// The map request of "\\.\QZF.VXD": a 4-byte physical base in, the 4-byte
// linear address of the card's directWindow out. Counted and logged like a
// driver request. The platform provides directWindow before asking.
bool VcVxdMap(VcMachine* machine, const void* input, uint32_t inputLength, void* output, uint32_t outputLength,
              uint32_t* returned);

// Fills host memory standing for a card's window with what direct-mode code
// reads there first: the ROM switch (closed), the straps, and the selected
// part's contents in the ROM aperture. Plain memory from then on: the direct
// path serves discovery and the accessors, never flash part cycles.
void VcFillDirectWindow(const VcCard* card, uint8_t* window, uint32_t size);

// Virtual time passing outside requests (Sleep, busy loops).
void VcAdvance(VcMachine* machine, VcTime nanoseconds);

// The flash part the card's ROM aperture reaches now (dual-BIOS selection).
VcFlashPart* VcSelectedPart(VcCard* card);
