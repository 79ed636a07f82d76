// A virtual flash part: one of the listed parallel (JEDEC), SPI or second
// serial command set parts, as a state machine with busy time.
// Freestanding: fixed storage, no allocation, no exceptions, no library calls
// beyond memset/memcpy.
#pragma once
#include <stddef.h>
#include <stdint.h>

typedef uint64_t VcTime;   // virtual nanoseconds since the machine was made

enum { VcMaxFlashSize = 128 * 1024 };

enum VcPartBus : uint8_t { VcBusParallel = 0, VcBusSpi = 1, VcBusSerial2 = 2 };

struct VcPartType;   // catalogue row (flash_catalog.cpp): ids, size, bus, timings

// Faults a test may inject into one part.
struct VcPartFaults {
    bool eraseNeverFinishes;      // stays busy after a chip erase
    bool programNeverFinishes;    // stays busy after a program / page write
    bool stuckBitEnabled;         // one cell bit that never changes
    uint32_t stuckBitOffset;
    uint8_t stuckBitMask;
    uint8_t stuckBitValue;        // the value (0 or mask) that bit keeps
    bool dataInStuckEnabled;      // serial data-in line stuck
    bool dataInStuckHigh;
};

struct VcFlashPart {
    const VcPartType* type;       // 0 = no part fitted
    uint32_t size;                // 64 or 128 KiB
    VcPartFaults faults;
    // State machine and serial shifter: owned by flash_part.cpp.
    uint32_t state;
    uint32_t cycle;
    VcTime busyUntil;
    uint32_t pageBase;
    uint16_t pageLoaded;
    uint8_t pageData[256];
    uint8_t pageMask[256];
    uint32_t serialLines;         // last lines seen: bit1 deselect, bit2 clock, bit3 data out
    uint32_t shiftIn;
    uint32_t bitCount;
    uint32_t byteCount;
    uint8_t command;
    uint32_t address;
    uint8_t outByte;
    uint32_t outBit;
    bool dataOut;                 // level the part drives on the data-in line
    bool writeEnabled;
    uint32_t idToggle;
    uint64_t programCount;        // programs and erases seen, for tests
    uint64_t eraseCount;
    char file[260];               // host layer: where the contents live
    uint8_t data[VcMaxFlashSize];
};

// Catalogue lookup by part-table name (e.g. "29EE512", "AT25F1024"); an
// optional device code picks between rows of the same name (0 = first).
const VcPartType* VcFindPartType(const char* partName, uint8_t deviceId);
const VcPartType* VcPartTypeAt(int index);   // 0 .. count-1, then 0
int VcPartTypeCount();
const char* VcPartTypeName(const VcPartType* type);
uint8_t VcPartTypeMakerId(const VcPartType* type);
uint8_t VcPartTypeDeviceId(const VcPartType* type);
uint32_t VcPartTypeSize(const VcPartType* type);
VcPartBus VcPartTypeBus(const VcPartType* type);

// Fit a part of the given type; contents start erased (0xFF).
void VcPartInit(VcFlashPart* part, const VcPartType* type);

// ROM aperture cycles (offset within the aperture, below 128 KiB).
uint8_t VcPartRead(VcFlashPart* part, uint32_t offset, VcTime now);
void VcPartWrite(VcFlashPart* part, uint32_t offset, uint8_t value, VcTime now);

// Serial lines, as written to the line register: bit 0 enable, bit 1 deselect
// (active-low chip select), bit 2 clock, bit 3 data out (to the part).
void VcPartSerialLines(VcFlashPart* part, uint32_t lines, VcTime now);
// Level of the data-in line (from the part) at this moment.
bool VcPartSerialDataIn(VcFlashPart* part, VcTime now);
