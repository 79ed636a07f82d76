// The flash part table, the card's ROM access switch and the flash state of
// the selected card.
#pragma once
#include <stdint.h>
#include "hw/hw.h"

enum : int32_t { PartUnknown = 0, PartOverridden = 1, PartListed = 2, PartTableEnd = 3 };

struct FlashPartEntry {
    int32_t kind;
    uint8_t makerId;
    uint8_t deviceId;
    uint16_t pageSize;       // program unit: 1, 128 or 256 bytes; 0 on placeholders
    uint32_t sectorKB;       // carried along, nothing acts on it
    uint32_t eraseFirst;     // carried along, nothing acts on it
    const char* maker;       // 0 where the row has no text
    const char* voltage;
    const char* partName;
    const char* organisation;
};

enum { FlashPartCount = 40 };
extern const FlashPartEntry FlashPartTable[FlashPartCount];

// How the part hangs on the graphics chip.
enum : uint32_t {
    InterfaceParallel = 0,
    InterfaceSpi = 1,
    InterfaceSerial2 = 2,
    InterfaceReserved = 3,
};

extern uint32_t FlashInterface;
extern uint8_t FlashMakerId;
extern uint8_t FlashDeviceId;
// The matching table entry, entry 0 when none matched, 0 before the first
// identification.
extern const FlashPartEntry* CurrentPart;

// Card registers used by the engine.
enum : uint32_t {
    RomAccessSwitch = 0x1850,   // 0: ROM window reaches the part, 1: normal
    StrapRegister = 0x101000,   // bits 29..30: flash interface
};

void OpenRomAccess();
void CloseRomAccess();

// The interface from the strap bits when the chip row says they are wired.
uint32_t DetectFlashInterface(const ChipEntry* chip);
