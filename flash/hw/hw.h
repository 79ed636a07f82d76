// Hardware access: the six accessors, the card table filled by discovery,
// the supported-id list and the chip description table.
#pragma once
#include <stdint.h>
#include "platform/driver_io.h"

// ---- access mode and accessors ----

enum : uint16_t { AccessDirect = 1, AccessDriver = 4 };
extern uint16_t AccessMode;
extern DriverHandle DeviceHandle;   // the open "\\.\Norvik" device; 0 = none

enum : uint32_t { RomApertureOffset = 0x300000 };

// All act on CardTable[CurrentCard]; a failed access yields 0.
uint32_t ReadReg8(uint32_t offset);
uint32_t ReadReg32(uint32_t offset);
uint32_t WriteReg8(uint32_t offset, uint32_t value);
uint32_t WriteReg32(uint32_t offset, uint32_t value);
uint32_t ReadRom8(uint32_t offset);
uint32_t WriteRom8(uint32_t offset, uint32_t value);

// ---- card table ----

struct CardRecord {
    uint16_t VendorId;
    uint16_t DeviceId;
    uint16_t SubsystemVendorId;
    uint16_t SubsystemId;
    uint8_t BusNumber;
    uint8_t SlotNumber;     // driver mode: slot index; direct mode: device/function byte
    uint32_t WindowBase;    // driver mode: physical base; direct mode: linear address; 0 = none
};

enum { CardTableSize = 8 };
extern CardRecord CardTable[CardTableSize];
extern int16_t CardCount;
extern int16_t CurrentCard;

// ---- supported ids ----

struct SupportedId {
    uint16_t VendorId;
    uint16_t DeviceId;
};
enum { SupportedIdCount = 55 };
extern const SupportedId SupportedIdList[SupportedIdCount];
// Whether the pair is in SupportedIdList: the one test every path that finds
// cards applies (discovery, the kernel driver's window scan, the sysfs driver).
bool IsSupportedId(uint16_t vendorId, uint16_t deviceId);

// ---- chip description table ----

struct ChipEntry {
    uint32_t EndMarker;     // 1 on the closing row
    uint16_t VendorId;
    uint16_t DeviceId;
    uint8_t FlagA;
    uint8_t FlagB;
    uint8_t FlagC;
    uint8_t StrapFlag;      // most significant byte of the little-endian flag word
    uint32_t FlagE;
    const char* Name;
};
enum { ChipRowCount = 147 };    // rows before the closing row
extern const ChipEntry ChipTable[ChipRowCount + 1];

// The 32-bit flag word formed by A, B, C and StrapFlag (little-endian).
uint32_t ChipFlagWord(const ChipEntry& entry);

// Found: *entry is the first matching row. Not found: *entry is the first row.
bool FindChipEntry(uint16_t vendorId, uint16_t deviceId, const ChipEntry** entry);

// ---- discovery ----

bool DiscoverCards();
void ScanBus(uint16_t bus);
bool ScanPciBios();
